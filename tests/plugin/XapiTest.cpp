// The plug-in binding against an in-process stand-in for the plug-in library.
#include "plugin/XAPI.h"
#include "plugin/XapiCommands.h"
#include "toolkit/LogWriter.h"
#include "toolkit/VirtualLoop.h"

#include "FakeMailLibrary.h"
#include "FakePluginLibrary.h"
#include "Recorders.h"

#include <gtest/gtest.h>

#include "platform/DynamicLibrary.h"

#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

#include <unistd.h>

namespace vantor {
namespace {

using namespace vantor::test;

// The name a C++ compiler gives a global function: _Z, the name's length and
// the name, then the parameter types as typeid spells them (between the
// function type's "F" + return type and its closing "E").
template <class Fn>
std::string ItaniumName(const char* name) {
    std::string type = typeid(Fn).name(); // e.g. "FvPvjE"
    std::string params = type.substr(2, type.size() - 3);
    return "_Z" + std::to_string(std::strlen(name)) + name + params;
}

TEST(XapiAbi, EntryNamesAreThoseOfTheHeaderDeclarations) {
    EXPECT_EQ(ItaniumName<decltype(XAPI_Init)>("XAPI_Init"), XapiEntryNames[0]);
    EXPECT_EQ(ItaniumName<decltype(XAPI_DeInit)>("XAPI_DeInit"), XapiEntryNames[1]);
    EXPECT_EQ(ItaniumName<decltype(XAPI_PutLines)>("XAPI_PutLines"), XapiEntryNames[2]);
    EXPECT_EQ(ItaniumName<decltype(XAPI_PutInfo)>("XAPI_PutInfo"), XapiEntryNames[3]);
    EXPECT_EQ(ItaniumName<decltype(XAPI_PutPorts)>("XAPI_PutPorts"), XapiEntryNames[4]);
    EXPECT_EQ(ItaniumName<decltype(XAPI_PutStates)>("XAPI_PutStates"), XapiEntryNames[5]);
    EXPECT_EQ(ItaniumName<decltype(XAPI_PutCLIP)>("XAPI_PutCLIP"), XapiEntryNames[6]);
    EXPECT_EQ(ItaniumName<decltype(XAPI_PutFront)>("XAPI_PutFront"), XapiEntryNames[7]);
    EXPECT_EQ(ItaniumName<decltype(XAPI_GetCommand)>("XAPI_GetCommand"), XapiEntryNames[8]);
    EXPECT_EQ(ItaniumName<decltype(XAPI_PutAccLine)>("XAPI_PutAccLine"), XapiEntryNames[9]);
    EXPECT_EQ(ItaniumName<decltype(XAPI_PutShorts)>("XAPI_PutShorts"), XapiEntryNames[10]);
    EXPECT_EQ(ItaniumName<decltype(XAPI_Users)>("XAPI_Users"), XapiEntryNames[11]);
}

class XapiTest : public ::testing::Test {
protected:
    XapiTest() { pluginLib = PluginLibraryState{}; }

    PluginLibraryOpener Opener(std::map<std::string, void*> symbols) {
        return [this, symbols](const std::string& name) -> std::unique_ptr<PluginLibrary> {
            requested.push_back(name);
            auto lib = std::make_unique<FakeSymbols>();
            lib->symbols = symbols;
            return lib;
        };
    }

    std::vector<std::string> Labels(const char* label) {
        std::vector<std::string> texts;
        for (auto& [l, t] : log.lines)
            if (l == label) texts.push_back(t);
        return texts;
    }

    RecordingLog log;
    VirtualLoop loop;
    std::vector<std::string> requested;
};

TEST_F(XapiTest, MissingLibraryLeavesPluginInactive) {
    TXAPI xapi(log, loop, [](const std::string&) { return std::unique_ptr<PluginLibrary>(); });
    EXPECT_FALSE(xapi.Start());
    EXPECT_FALSE(xapi.Active());
    EXPECT_FALSE(xapi.Loaded());
    xapi.PutAccLine("x");
    std::array<std::uint8_t, 7> info{};
    xapi.PutInfo(info);
    xapi.Stop();
    EXPECT_EQ(Labels("XAPI"), (std::vector<std::string>{"Error", "Stop"}));
    EXPECT_TRUE(pluginLib.calls.empty());

    TXAPI noLoader(log, loop, {});
    EXPECT_FALSE(noLoader.Start());
}

TEST_F(XapiTest, LibraryWithoutUsersIsNotUsedAtAll) {
    auto symbols = PluginLibraryExports();
    symbols.erase(XapiEntryNames[11]);
    TXAPI xapi(log, loop, Opener(symbols));
    EXPECT_FALSE(xapi.Start());
    EXPECT_FALSE(xapi.Active());
    EXPECT_TRUE(xapi.Loaded()); // loaded until stopped
    xapi.PutAccLine("rec");
    xapi.Users(0, 0, 1, 1, {});
    EXPECT_TRUE(pluginLib.calls.empty());
    EXPECT_EQ(requested, (std::vector<std::string>{"Zelkor.dll"}));
    xapi.Stop();
    EXPECT_FALSE(xapi.Loaded());
    EXPECT_EQ(Labels("XAPI"), (std::vector<std::string>{"Error", "Stop"}));
}

TEST_F(XapiTest, StartInitialisesAndStopEndsAllCalls) {
    TXAPI xapi(log, loop, Opener(PluginLibraryExports()));
    ASSERT_TRUE(xapi.Start());
    EXPECT_EQ(Labels("XAPI"), (std::vector<std::string>{"Start", "Init"}));
    EXPECT_EQ(pluginLib.calls, (std::vector<std::string>{"Init"}));
    EXPECT_EQ(pluginLib.message, 33169u);
    ASSERT_NE(pluginLib.window, nullptr);

    xapi.Stop();
    EXPECT_EQ(pluginLib.calls, (std::vector<std::string>{"Init", "DeInit"}));
    EXPECT_FALSE(xapi.Active());
    EXPECT_EQ(Labels("XAPI").back(), "Stop");
    xapi.PutAccLine("late");
    TStates command{};
    EXPECT_FALSE(xapi.GetCommand(1, command));
    EXPECT_EQ(pluginLib.calls.size(), 2u);
}

TEST_F(XapiTest, FeedsHandOverPrivateBoundedCopies) {
    TXAPI xapi(log, loop, Opener(PluginLibraryExports()));
    ASSERT_TRUE(xapi.Start());

    std::array<std::uint8_t, 224> numbers{};
    numbers[0] = '2';
    xapi.PutLines(3, numbers);
    EXPECT_EQ(pluginLib.lastCount, 3);
    EXPECT_EQ(pluginLib.lastBytes[0], '2');
    EXPECT_EQ(numbers[0], '2'); // the plug-in wrote into its copy only

    const std::vector<std::uint8_t> states{8, 1, 2, 1, 2, 0, 0, 0, 9};
    xapi.PutStates(5, states); // claims more lines than there are bytes
    EXPECT_EQ(pluginLib.lastCount, 2);
    EXPECT_EQ(pluginLib.lastBytes, (std::vector<unsigned char>{8, 1, 2, 1, 2, 0, 0, 0}));

    const std::vector<std::uint8_t> clip{'6', '0', '1'}; // no terminating 0
    xapi.PutCLIP(22, clip);
    EXPECT_EQ(pluginLib.lastCount, 22);
    EXPECT_EQ(pluginLib.lastText, "601");

    const std::vector<std::uint8_t> front{4, 5};
    xapi.PutFront(10, front);
    EXPECT_EQ(pluginLib.lastCount, 10);
    EXPECT_EQ(pluginLib.lastBytes[1], 5);
    EXPECT_EQ(pluginLib.lastBytes[2], 0); // zero-padded

    xapi.PutAccLine(std::string_view("12;34;5xyz", 7));
    EXPECT_EQ(pluginLib.lastText, "12;34;5");

    std::array<std::uint8_t, 15576> shorts{};
    shorts[15575] = 9;
    std::array<std::uint16_t, 960> personal{};
    personal[959] = 1234;
    xapi.PutShorts(shorts, personal);
    EXPECT_EQ(pluginLib.lastBytes[15575], 9);
    EXPECT_EQ(pluginLib.lastCount, 1234);

    xapi.Users(10, 20, 300, 400, {"100=Ano", "101=Ne"});
    EXPECT_EQ(pluginLib.rect.Left, 10);
    EXPECT_EQ(pluginLib.rect.Top, 20);
    EXPECT_EQ(pluginLib.rect.Right, 300);
    EXPECT_EQ(pluginLib.rect.Bottom, 400);
    EXPECT_EQ(pluginLib.texts, (std::vector<std::string>{"100=Ano", "101=Ne"}));
}

TEST_F(XapiTest, PostedCommandMessageArrivesOnTheLoopThread) {
    TXAPI xapi(log, loop, Opener(PluginLibraryExports()));
    ASSERT_TRUE(xapi.Start());
    std::vector<long> received;
    xapi.OnCommandMessage = [&](long lParam) { received.push_back(lParam); };

    std::thread poster([] {
        XapiPostMessage(pluginLib.window, XapiCommandMessage, 42);
        XapiPostMessage(pluginLib.window, 1234, 7); // not ours
    });
    poster.join();
    EXPECT_TRUE(received.empty()); // nothing runs outside the loop
    loop.runPending();
    EXPECT_EQ(received, (std::vector<long>{42}));

    XapiPostMessage(pluginLib.window, XapiCommandMessage, 43);
    xapi.Stop();
    loop.runPending();
    EXPECT_EQ(received, (std::vector<long>{42})); // inactive: ignored
}

TEST_F(XapiTest, PostAfterBindingIsGoneIsHarmless) {
    void* window = nullptr;
    {
        TXAPI xapi(log, loop, Opener(PluginLibraryExports()));
        ASSERT_TRUE(xapi.Start());
        window = pluginLib.window;
        XapiPostMessage(window, XapiCommandMessage, 1);
    }
    EXPECT_EQ(pluginLib.calls.back(), "DeInit"); // destroying an active binding ends the plug-in
    loop.runPending();
}

class XapiCommandTest : public XapiTest {
protected:
    XapiCommandTest() {
        hooks.StoreCommand = [this](std::span<const std::uint8_t, 88> record) {
            TStates s;
            std::memcpy(&s, record.data(), sizeof s);
            ring.push_back(s);
            return static_cast<int>(ring.size() - 1) % 32;
        };
        hooks.QueueCommand = [this](int slot) { queued.emplace_back('#', slot); };
        xapi.Start();
        log.lines.clear();
    }

    static TStates Command(unsigned char kind, std::uint32_t port, std::string_view data = {}) {
        TStates s{};
        s.Kind = kind;
        s.Port = port;
        std::memcpy(s.Data, data.data(), std::min(data.size(), sizeof s.Data));
        return s;
    }
    static std::string DataText(const TStates& s) {
        return std::string(reinterpret_cast<const char*>(s.Data),
                           strnlen(reinterpret_cast<const char*>(s.Data), 80));
    }

    TXAPI xapi{log, loop, Opener(PluginLibraryExports())};
    XapiCommandHandler::Hooks hooks;
    std::vector<TStates> ring;
    std::vector<std::pair<char, int>> queued;
};

TEST_F(XapiCommandTest, PortCommandsAreLoggedAndQueued) {
    XapiCommandHandler handler(xapi, log, hooks);
    handler.Execute(Command(0, 12));
    handler.Execute(Command(9, 300));
    handler.Execute(Command(5, 7, "\x03"));
    handler.Execute(Command(6, 7,
                            "\x02"
                            "a"));
    handler.Execute(Command(10, 7));
    handler.Execute(Command(255, 7));
    EXPECT_EQ(Labels("XAPI"),
              (std::vector<std::string>{"Message SPEAKER (ON/OFF) Port:12",
                                        "Message PARK (ON/OFF) Port:300", "Message z FRONTy Port:7",
                                        "Message SHORT"}));
    EXPECT_EQ(queued, (std::vector<std::pair<char, int>>{{'#', 0}, {'#', 1}, {'#', 2}, {'#', 3}}));
    EXPECT_EQ(ring[2].Data[0], 3);
}

TEST_F(XapiCommandTest, DialSplitsTheSubstitutedNumberIntoChunks) {
    hooks.SubstitutePrefix = [](std::string_view n) {
        return n.starts_with("0") ? "420" + std::string(n.substr(1)) : std::string(n);
    };
    XapiCommandHandler handler(xapi, log, hooks);
    handler.Execute(Command(4, 5, "01234567890123456")); // 17 digits, 19 after the prefix
    EXPECT_EQ(Labels("XAPI"), (std::vector<std::string>{"Message VOL 4201234567890123456 Port:5"}));
    ASSERT_EQ(ring.size(), 3u);
    EXPECT_EQ(DataText(ring[0]), "42012345");
    EXPECT_EQ(DataText(ring[1]), "67890123");
    EXPECT_EQ(DataText(ring[2]), "456");
    EXPECT_EQ(ring[2].Data[3], 0);
    EXPECT_EQ(ring[2].Kind, 4);
    EXPECT_EQ(ring[2].Port, 5u);
    EXPECT_EQ(queued.size(), 3u);
}

TEST_F(XapiCommandTest, TwentyDigitsGiveThreeChunksAndEmptyNumberNothing) {
    XapiCommandHandler handler(xapi, log, hooks);
    handler.Execute(Command(4, 1, "12345678901234567890"));
    ASSERT_EQ(ring.size(), 3u);
    EXPECT_EQ(DataText(ring[0]).size(), 8u);
    EXPECT_EQ(DataText(ring[1]).size(), 8u);
    EXPECT_EQ(DataText(ring[2]), "7890");

    ring.clear();
    handler.Execute(Command(4, 1, ""));
    EXPECT_TRUE(ring.empty());
    EXPECT_EQ(log.lines.size(), 1u);

    // The number is at most 48 characters of the data.
    handler.Execute(Command(4, 1, std::string(80, '9')));
    EXPECT_EQ(ring.size(), 6u);
}

TEST_F(XapiCommandTest, MessageFetchesTheCommandOnlyWhileActive) {
    XapiCommandHandler handler(xapi, log, hooks);
    pluginLib.nextCommand = Command(7, 33);
    handler.HandleMessage(99);
    EXPECT_EQ(pluginLib.lastCommandMessage, 99);
    EXPECT_EQ(Labels("XAPI"), (std::vector<std::string>{"Message TRF Port:33"}));

    // A plug-in that fills nothing causes nothing.
    pluginLib.fillCommand = false;
    handler.HandleMessage(100);
    EXPECT_EQ(ring.size(), 1u);

    xapi.Stop();
    pluginLib.calls.clear();
    handler.HandleMessage(101);
    EXPECT_TRUE(pluginLib.calls.empty());
}

} // namespace
} // namespace vantor

namespace vantor {
namespace {

TEST_F(XapiTest, SystemLoaderWithoutTheLibraryReportsError) {
    const auto folder = std::filesystem::temp_directory_path() /
                        ("vantor-no-plugin-library-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    TXAPI xapi(log, loop, SystemLibraryOpener(folder.string()));
    EXPECT_FALSE(xapi.Start());
    EXPECT_FALSE(xapi.Loaded());
    EXPECT_EQ(Labels("XAPI"), (std::vector<std::string>{"Error"}));
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace vantor
