// The mail bridge against an in-process stand-in for the mail library.
#include "mail/MailBridge.h"
#include "mail/PasswordCode.h"
#include "toolkit/LogSettings.h"
#include "platform/Paths.h"
#include "toolkit/IniFile.h"
#include "toolkit/LogWriter.h"
#include "toolkit/TextSource.h"

#include "FakeMailLibrary.h"
#include "Recorders.h"

#include <gtest/gtest.h>

#include "platform/DynamicLibrary.h"

#include <array>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

#include <unistd.h>

namespace vantor {
namespace {

using namespace mailabi;
using namespace vantor::test;

// ---- the gateway side ----

// Port table with the arrangement of the data store: a, c, b, d.
struct FakeCounters : MessageCounterTable {
    std::map<std::string, std::array<int, 4>> ports;
    int clears = 0;
    void ClearCounters() override {
        ++clears;
        for (auto& [n, c] : ports) c = {0, 0, 0, 0};
    }
    std::uint8_t SetCounters(std::string_view n, std::uint8_t a, std::uint8_t b, std::uint8_t c,
                             std::uint8_t d) override {
        auto it = ports.find(std::string(n));
        if (it == ports.end()) return 255;
        it->second = {a, c, b, d};
        return d;
    }
    std::uint8_t AddCounters(std::string_view n, std::uint8_t a, std::uint8_t b, std::uint8_t c,
                             std::uint8_t d) override {
        auto it = ports.find(std::string(n));
        if (it == ports.end()) return 255;
        auto& v = it->second;
        v = {(v[0] + a) % 256, (v[1] + c) % 256, (v[2] + b) % 256, (v[3] + d) % 256};
        return d;
    }
};

class MailBridgeTest : public ::testing::Test {
protected:
    MailBridgeTest() {
        mailLib = MailLibraryState{};
        counters.ports = {{"201", {9, 9, 9, 9}}, {"202", {0, 0, 0, 0}}};
    }

    MailLibraryOpener Opener(std::map<std::string, void*> symbols) {
        return [this, symbols](const std::string& name) -> std::unique_ptr<MailLibrary> {
            requested.push_back(name);
            auto l = std::make_unique<FakeSymbols>();
            l->symbols = symbols;
            return l;
        };
    }
    std::unique_ptr<TMailBridge> Bridge(MailLibraryOpener opener) {
        auto b = std::make_unique<TMailBridge>(log, texts, counters, settings, std::move(opener),
                                               TempPath());
        b->Create();
        return b;
    }
    std::unique_ptr<TMailBridge> BoundBridge() {
        auto b = Bridge(Opener(MailLibraryExports()));
        EXPECT_TRUE(b->Bound());
        return b;
    }

    RecordingLog log;
    NumberTexts texts;
    FakeCounters counters;
    LogSettings settings;
    std::vector<std::string> requested;
};

TEST_F(MailBridgeTest, WithoutLibraryEverythingIsQuietlyDropped) {
    auto bridge = Bridge([](const std::string&) { return std::unique_ptr<MailLibrary>(); });
    EXPECT_FALSE(bridge->Bound());
    EXPECT_FALSE(bridge->Loaded());
    EXPECT_FALSE(bridge->Initialise());
    EXPECT_EQ(bridge->FailureReason(), "the library vantorq9.dll cannot be loaded");
    EXPECT_FALSE(bridge->PollMailboxes());
    EXPECT_FALSE(bridge->SendTrap(1));
    bridge->SendStatusMessage("a", 'Q', "s", "t", '1');
    bridge->StopAction();
    bridge->Close();
    EXPECT_TRUE(texts.fetched.empty());
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(MailBridgeTest, NineOfTenNamesLeaveTheBridgeUnbound) {
    for (const char* missing : ExportNames) {
        mailLib = MailLibraryState{};
        auto symbols = MailLibraryExports();
        symbols.erase(missing);
        auto bridge = Bridge(Opener(symbols));
        EXPECT_FALSE(bridge->Bound()) << missing;
        EXPECT_TRUE(bridge->Loaded());
        EXPECT_FALSE(bridge->FullRead());
        EXPECT_FALSE(bridge->Initialise());
        EXPECT_EQ(bridge->FailureReason(),
                  std::string("the library vantorq9.dll has no entry point ") + missing);
        EXPECT_FALSE(bridge->PollMailboxes());
        bridge->StopAction();
        bridge.reset();
        EXPECT_TRUE(mailLib.calls.empty()) << missing;
    }
    EXPECT_EQ(requested.front(), "vantorq9.dll");
}

TEST_F(MailBridgeTest, InitialiseSetsDebugLevelThenOpensTheConnection) {
    auto bridge = BoundBridge();
    EXPECT_TRUE(bridge->FullRead());
    bridge->Block().ConfigPath = "/etc/q9";
    bridge->Block().User = "ustredna";
    bridge->Block().WorkDir = "/tmp";
    bridge->Block().Password = "heslo";
    bridge->Block().DebugLevel = 31;
    EXPECT_TRUE(bridge->Initialise());
    EXPECT_EQ(mailLib.calls,
              (std::vector<std::string>{"SetDebugLevel", "InicializaceQ9Komunikace"}));
    EXPECT_EQ(mailLib.debugLevel, 31u);
    EXPECT_EQ(mailLib.initArgs, (std::vector<std::string>{"/etc/q9", "ustredna", "/tmp", "heslo"}));

    bridge->StopAction();
    bridge->Close();
    bridge->Close(); // once only
    EXPECT_EQ(std::count(mailLib.calls.begin(), mailLib.calls.end(), "DeInicializaceQ9Komunikace"),
              1);
    EXPECT_EQ(std::count(mailLib.calls.begin(), mailLib.calls.end(), "ZastavAkci"), 1);
}

TEST_F(MailBridgeTest, FailedOpeningUnbindsForTheRestOfTheRun) {
    mailLib.initStatus = 5;
    auto bridge = BoundBridge();
    EXPECT_FALSE(bridge->Initialise());
    EXPECT_FALSE(bridge->Bound());
    // The reason names what the gateway knows: no configuration file named.
    EXPECT_EQ(bridge->FailureReason(),
              "InicializaceQ9Komunikace answered status 5, and no configuration file is named "
              "([M602] CestaKeKonfiguraciMail602); the library's own log tells more");
    mailLib.calls.clear();
    EXPECT_FALSE(bridge->PollMailboxes());
    EXPECT_FALSE(bridge->SendTrap(1));
    bridge->Close();
    EXPECT_TRUE(mailLib.calls.empty());
}

TEST_F(MailBridgeTest, DestroyingAnOpenBridgeClosesTheConnectionFirst) {
    auto bridge = BoundBridge();
    bridge->Initialise();
    bridge.reset();
    EXPECT_EQ(mailLib.calls.back(), "DeInicializaceQ9Komunikace");
}

TEST(MailDebugLevel, ReadsLikeHexScanf) {
    EXPECT_EQ(ParseHexLevel("1F"), 31u);
    EXPECT_EQ(ParseHexLevel("  0x1f"), 31u);
    EXPECT_EQ(ParseHexLevel("0X10z"), 16u);
    EXPECT_EQ(ParseHexLevel("0"), 0u);
    EXPECT_EQ(ParseHexLevel(""), 0u);
    EXPECT_EQ(ParseHexLevel("zz"), 0u);
    EXPECT_EQ(ParseHexLevel("0x"), 0u);
    EXPECT_EQ(ParseHexLevel("ffffffff"), 0xFFFFFFFFu);
    EXPECT_EQ(ParseHexLevel("-1"), 0xFFFFFFFFu);
}

class MailSettingsTest : public MailBridgeTest {
protected:
    MailSettingsTest() {
        dir = std::filesystem::temp_directory_path() /
              ("vantor-mail-" + std::to_string(::getpid()) + "-" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::create_directories(dir);
        path = (dir / "vantor.INI").string();
    }
    ~MailSettingsTest() override { std::filesystem::remove_all(dir); }
    void Write(const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    std::string Read() {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::filesystem::path dir;
    std::string path;
};

TEST_F(MailSettingsTest, DefaultsWhenNothingIsConfigured) {
    auto bridge = Bridge({});
    TIniFile config(path);
    bridge->LoadSettings(config, texts);
    const MailSettings& s = bridge->Block();
    EXPECT_EQ(s.ConfigPath, "");
    EXPECT_EQ(s.User, "");
    EXPECT_EQ(s.Password, "");
    const std::string temp = TempPath();
    EXPECT_EQ(s.WorkDir, temp.substr(0, temp.size() - 1));
    EXPECT_EQ(s.TrapAddressType, '\0');
    EXPECT_EQ(s.ComOnMessage, "{200}");
    EXPECT_EQ(s.ComOffMessage, "{299}");
    EXPECT_EQ(s.DebugLevel, 0u);
    EXPECT_EQ(texts.fetched, (std::vector<int>{200, 299}));
}

TEST_F(MailSettingsTest, ValuesAreCutToTheirFields) {
    Write("[M602]\r\nUzivatel=" + std::string(150, 'u') + "\r\nHeslo=" + std::string(30, 'p') +
          "\r\nDebug=1F\r\nCestaKPracovnimuAdresari=/var/q9\r\n[Trapy]\r\nTypAdresyPrijemce=QX\r\n"
          "ZpravaComOn=up\r\nZpravaComOff=down\r\nSubject=" +
          std::string(60, 's') + "\r\n");
    auto bridge = Bridge({});
    TIniFile config(path);
    bridge->LoadSettings(config, texts);
    const MailSettings& s = bridge->Block();
    EXPECT_EQ(s.User, std::string(100, 'u'));
    EXPECT_EQ(s.Password, DecodePassword(std::string(20, 'p')));
    EXPECT_EQ(s.DebugLevel, 31u);
    EXPECT_EQ(s.WorkDir, "/var/q9");
    EXPECT_EQ(s.TrapAddressType, 'Q');
    EXPECT_EQ(s.TrapSubject, std::string(60, 's'));
    EXPECT_EQ(s.ComOnMessage, "up");
    EXPECT_EQ(s.ComOffMessage, "down");
    EXPECT_EQ(texts.fetched, (std::vector<int>{200, 299})); // fetched all the same
}

TEST_F(MailSettingsTest, SavingWritesSectionsAndTheTypeAsOneCharacter) {
    auto bridge = Bridge({});
    bridge->SetPasswordCodec(
        {[](std::string_view t) { return "<" + std::string(t) + ">"; },
         [](std::string_view t) { return std::string(t.substr(1, t.size() - 2)); }});
    MailSettings& s = bridge->Block();
    s.TrapAddress = "dispecink";
    s.TrapAddressType = 'Q';
    s.TrapSubject = "Alarm";
    s.ComOnMessage = "up";
    s.ComOffMessage = "down";
    s.ConfigPath = "/etc/q9";
    s.WorkDir = "/var/q9";
    s.User = "u";
    s.Password = "secret";
    TIniFile config(path);
    ASSERT_TRUE(bridge->SaveTrapSettings(config));
    ASSERT_TRUE(bridge->SaveMailSettings(config));
    EXPECT_EQ(Read(),
              "[Trapy]\r\nAdresaPrijemce=dispecink\r\nTypAdresyPrijemce=Q\r\nSubject=Alarm\r\n"
              "ZpravaComOn=up\r\nZpravaComOff=down\r\n"
              "[M602]\r\nCestaKeKonfiguraciMail602=/etc/q9\r\nCestaKPracovnimuAdresari=/var/q9\r\n"
              "Uzivatel=u\r\nHeslo=<secret>\r\n");
    EXPECT_EQ(s.Password, "secret"); // held plain

    s.TrapAddressType = '\0';
    bridge->SaveTrapSettings(config);
    EXPECT_EQ(config.ReadString("Trapy", "TypAdresyPrijemce", "?"), "");
    bridge->LoadSettings(config, texts);
    EXPECT_EQ(s.Password, "secret");
    EXPECT_EQ(s.TrapAddressType, '\0');
}

TEST_F(MailSettingsTest, HesloIsDecodedOnLoadAndEachSaveWritesTheSameEncodedCopy) {
    // The plain password, as the stored value of another run would give it.
    const std::pair<std::string, std::string> stored[] = {
        {EncodePassword("Tajn\xE9 heslo 1"), "Tajn\xE9 heslo 1"},
        {EncodePassword("a") + "\x01\x02" + EncodePassword("b"), std::string("a\x01\x02") + 'b'},
        {EncodePassword("x") + "\xE4\xDF", "x\xE4\xDF"},              // other code pages
        {EncodePassword(std::string(30, 'k')), std::string(20, 'k')}, // cut to its field
        {"\"" + EncodePassword(" pad ") + "\"", " pad "},             // kept by the quotes
    };
    for (const auto& [value, plain] : stored) {
        Write("[M602]\r\nHeslo=" + value + "\r\n");
        auto bridge = Bridge({});
        TIniFile config(path);
        bridge->LoadSettings(config, texts);
        EXPECT_EQ(bridge->Block().Password, plain);

        ASSERT_TRUE(bridge->SaveMailSettings(config));
        const std::string first = Read();
        ASSERT_TRUE(bridge->SaveMailSettings(config));
        EXPECT_EQ(Read(), first) << "a second save writes the same value";
        EXPECT_EQ(config.ReadString("M602", "Heslo", "?"), EncodePassword(plain));
        EXPECT_EQ(bridge->Block().Password, plain) << "held plain in memory";
    }
}

TEST_F(MailSettingsTest, FailedSaveIsLogged) {
    auto bridge = Bridge({});
    TIniFile config((dir / "no-such-dir" / "x.INI").string());
    EXPECT_FALSE(bridge->SaveTrapSettings(config));
    EXPECT_FALSE(bridge->SaveMailSettings(config));
    ASSERT_EQ(log.lines.size(), 2u) << "one line per save, not per key";
    for (const auto& [label, text] : log.lines) {
        EXPECT_EQ(label, "!Err");
        EXPECT_NE(text.find("x.INI"), std::string::npos) << text;
    }
}

TEST_F(MailBridgeTest, TrapsUseTheirMessageAndLogOnlySuccess) {
    auto bridge = BoundBridge();
    MailSettings& s = bridge->Block();
    s.TrapAddress = "A";
    s.TrapAddressType = 'I';
    s.TrapSubject = "S";
    s.ComOffMessage = "M";
    s.ComOnMessage = "";

    EXPECT_TRUE(bridge->SendTrap(1));
    ASSERT_EQ(mailLib.sent.size(), 1u);
    EXPECT_EQ(mailLib.sent[0].address, "A");
    EXPECT_EQ(mailLib.sent[0].type, 'I');
    EXPECT_EQ(mailLib.sent[0].subject, "S");
    EXPECT_EQ(mailLib.sent[0].text, "M");
    EXPECT_EQ(mailLib.sent[0].flag, 1);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0], (LogLine{"Mail", "A > M"}));

    EXPECT_FALSE(bridge->SendTrap(2)); // empty message: that trap is off
    EXPECT_FALSE(bridge->SendTrap(3));
    EXPECT_EQ(mailLib.sent.size(), 1u);

    mailLib.sendStatus = 7;
    EXPECT_FALSE(bridge->SendTrap(1));
    EXPECT_EQ(mailLib.sent.size(), 2u);
    EXPECT_EQ(log.lines.size(), 1u);
}

TEST_F(MailBridgeTest, StatusMessagePassesCharactersInTheLowByte) {
    auto bridge = BoundBridge();
    bridge->SendStatusMessage("x", 'Q', "y", "z", '1');
    ASSERT_EQ(mailLib.sent.size(), 1u);
    EXPECT_EQ(mailLib.sent[0].address, "x");
    EXPECT_EQ(mailLib.sent[0].type, 'Q');
    EXPECT_EQ(mailLib.sent[0].subject, "y");
    EXPECT_EQ(mailLib.sent[0].text, "z");
    EXPECT_EQ(mailLib.sent[0].flag, '1');
    bridge->SendStatusMessage("x", static_cast<char>(0xE9), "y", "z", '1');
    EXPECT_EQ(mailLib.sent[1].type, 0xE9); // not sign-extended
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(MailBridgeTest, FirstPollIsAFullReadThatClearsTheTable) {
    settings.Extent = 1;
    Mailboxes m;
    MailboxRecord* office = m.Box("Office", "201");
    m.Group(office, 'Q', 2, {{1, 0}, {2, 0}});
    m.Group(office, 'H', 1, {{3, 0}});
    m.Group(office, 'F', 0);
    MailboxRecord* stranger = m.Box("Nobody", "999");
    m.Group(stranger, 'Q', 5);
    Mailboxes::Chain({office, stranger});
    mailLib.chain = office;

    auto bridge = BoundBridge();
    counters.ports["202"] = {1, 1, 1, 1};
    EXPECT_TRUE(bridge->PollMailboxes());
    EXPECT_EQ(mailLib.calls, (std::vector<std::string>{"NactiZmenyVeSchrankach",
                                                       "PotvrdPreneseniZmenVeSchrankach"}));
    EXPECT_EQ(mailLib.readModes, (std::vector<std::uint32_t>{1}));
    EXPECT_EQ(counters.clears, 1);
    EXPECT_EQ(counters.ports["201"], (std::array<int, 4>{2, 1, 0, 0}));
    EXPECT_EQ(counters.ports["202"], (std::array<int, 4>{0, 0, 0, 0}));
    EXPECT_EQ(bridge->KnownMessages().size(), 3u);
    EXPECT_FALSE(bridge->FullRead());
    EXPECT_EQ(texts.fetched, (std::vector<int>{300, 301, 399}));

    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(log.lines[0], (LogLine{"Name:Office", "Tel:201 sms:2,fax:0,hlas:1"}));
    EXPECT_EQ(log.lines[1].label, "Name:Nobody"); // logged though no extension matches
}

TEST_F(MailBridgeTest, ChangePollWithoutChangesCallsNothingElse) {
    auto bridge = BoundBridge();
    bridge->SetFullRead(false);
    mailLib.quickTest = 0;
    EXPECT_FALSE(bridge->PollMailboxes());
    EXPECT_EQ(mailLib.calls, (std::vector<std::string>{"RychlyTestZmenVeSchrankach"}));
}

TEST_F(MailBridgeTest, ChangeReadAddsNewAndSubtractsKnownRemovedMessages) {
    auto bridge = BoundBridge();
    { // full read: SMS 10 and fax 20 become known
        Mailboxes m;
        MailboxRecord* box = m.Box("Office", "201");
        m.Group(box, 'Q', 1, {{10, 0}});
        m.Group(box, 'F', 1, {{20, 0}});
        mailLib.chain = box;
        bridge->PollMailboxes();
    }
    EXPECT_EQ(counters.ports["201"], (std::array<int, 4>{1, 0, 1, 0}));
    counters.ports["201"][3] = 7; // the fourth counter is left alone by a change read

    Mailboxes m;
    MailboxRecord* box = m.Box("Office", "201");
    // Two new SMS, SMS 10 removed, an unknown removal that changes nothing.
    m.Group(box, 'Q', 0, {{11, 0}, {10, 2}, {12, 0}, {99, 4}});
    mailLib.chain = box;
    mailLib.calls.clear();
    EXPECT_TRUE(bridge->PollMailboxes());
    EXPECT_EQ(mailLib.calls.front(), "RychlyTestZmenVeSchrankach");
    EXPECT_EQ(mailLib.readModes.back(), 3u);
    EXPECT_EQ(counters.ports["201"], (std::array<int, 4>{2, 0, 1, 7}));

    // Fax 20 removed inside a group lettered 'Q': counted off the fax counter.
    Mailboxes m2;
    MailboxRecord* box2 = m2.Box("Office", "201");
    m2.Group(box2, 'Q', 0, {{20, 6}});
    mailLib.chain = box2;
    bridge->PollMailboxes();
    EXPECT_EQ(counters.ports["201"], (std::array<int, 4>{2, 0, 0, 7}));
    EXPECT_EQ(bridge->KnownMessages().size(), 2u); // 11 and 12
}

TEST_F(MailBridgeTest, MailboxToBeRereadIsSetNotAdded) {
    auto bridge = BoundBridge();
    mailLib.chain = nullptr;
    bridge->PollMailboxes(); // the full read at start
    counters.ports["201"] = {5, 5, 5, 5};

    Mailboxes m;
    MailboxRecord* box = m.Box("Office", "201", StatusRereadMailbox);
    MailboxRecord* whole = m.Box("Office", "201");
    m.Group(whole, 'H', 3, {{1, 0}, {2, 0}, {3, 0}});
    mailLib.rereads[box] = whole;
    mailLib.chain = box;
    mailLib.calls.clear();
    mailLib.readModes.clear();
    EXPECT_TRUE(bridge->PollMailboxes());
    EXPECT_EQ(mailLib.calls,
              (std::vector<std::string>{"RychlyTestZmenVeSchrankach", "NactiZmenyVeSchrankach",
                                        "NactiZmenyVeSchrance", "PotvrdPreneseniZmenVeSchrance",
                                        "PotvrdPreneseniZmenVeSchrankach"}));
    EXPECT_EQ(mailLib.readModes, (std::vector<std::uint32_t>{3, 1}));
    // Mode 3 rules for the items, but the counters are set: 3 voice, rest 0.
    EXPECT_EQ(counters.ports["201"], (std::array<int, 4>{0, 3, 0, 0}));
}

TEST_F(MailBridgeTest, FailedReadsAreLoggedAndForceAFullRead) {
    auto bridge = BoundBridge();
    mailLib.readStatus = 17;
    EXPECT_TRUE(bridge->PollMailboxes());
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0], (LogLine{"!Err", "{399}17"}));
    EXPECT_TRUE(bridge->FullRead());
    EXPECT_EQ(counters.clears, 0);
    EXPECT_EQ(counters.ports["201"], (std::array<int, 4>{9, 9, 9, 9}));

    mailLib.readStatus = 0;
    Mailboxes m;
    MailboxRecord* box = m.Box("Office", "201", StatusRereadMailbox);
    mailLib.chain = box;
    mailLib.rereadStatus = 4; // re-read fails
    log.lines.clear();
    EXPECT_TRUE(bridge->PollMailboxes());
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0], (LogLine{"!Err", "{301}4"}));
    EXPECT_FALSE(bridge->FullRead());
}

TEST_F(MailBridgeTest, CountsAreStoredModulo256) {
    Mailboxes m;
    MailboxRecord* box = m.Box("Office", "201");
    m.Group(box, 'Q', 300);
    mailLib.chain = box;
    auto bridge = BoundBridge();
    bridge->PollMailboxes();
    EXPECT_EQ(counters.ports["201"][0], 44);
}

TEST_F(MailBridgeTest, CircularChainDoesNotHang) {
    Mailboxes m;
    MailboxRecord* box = m.Box("Office", "201");
    MessageGroup* g = m.Group(box, 'Q', 1);
    g->next = g; // broken library answer
    mailLib.chain = box;
    auto bridge = BoundBridge();
    EXPECT_TRUE(bridge->PollMailboxes());
}

// A chain that comes round again, at any of its three levels, is followed
// once round: every entry counts once, and one line says the answer was broken.
TEST_F(MailBridgeTest, LoopsAtEveryLevelCountEachEntryOnce) {
    for (int level = 0; level < 3; ++level) {
        SCOPED_TRACE(level);
        mailLib = MailLibraryState{};
        log.lines.clear();
        counters.ports = {{"201", {0, 0, 0, 0}}, {"202", {0, 0, 0, 0}}};
        Mailboxes m;
        MailboxRecord* first = m.Box("Office", "201");
        MailboxRecord* second = m.Box("Desk", "202");
        Mailboxes::Chain({first, second});
        m.Group(first, 'Q', 1, {{1, 0}});
        MessageGroup* g = m.Group(second, 'F', 0, {{2, 0}, {3, 0}});
        if (level == 0) second->next = first;
        if (level == 1) g->next = second->firstGroup;
        if (level == 2) g->firstItem->next->next = g->firstItem;
        mailLib.chain = first;
        auto bridge = BoundBridge();
        bridge->PollMailboxes(); // the full read
        mailLib.chain = first;
        bridge->PollMailboxes(); // a change read walks the items
        EXPECT_EQ(counters.ports["201"][0], 2) << "one SMS in each poll";
        EXPECT_EQ(counters.ports["202"][2], 2) << "two faxes, once";
        int broken = 0;
        for (const auto& [label, text] : log.lines)
            broken += text.find("loops back") != std::string::npos;
        EXPECT_EQ(broken, 2) << "one line per poll";
    }
}

} // namespace
} // namespace vantor

namespace vantor {
namespace {

TEST_F(MailBridgeTest, SystemLoaderWithoutTheLibraryLeavesTheBridgeUnbound) {
    const auto folder = std::filesystem::temp_directory_path() /
                        ("vantor-no-mail-library-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    auto bridge = Bridge(SystemLibraryOpener(folder.string()));
    EXPECT_FALSE(bridge->Loaded());
    EXPECT_FALSE(bridge->Bound());
    EXPECT_FALSE(bridge->Initialise());
    EXPECT_FALSE(bridge->PollMailboxes());
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace vantor
