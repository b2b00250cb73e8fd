// The binding against a real shared library built from the shipped header
// (tests/plugin/libs/recording_plugin.cpp, built as
// <build>/tests/plugin-lib/libZelkor.so, Zelkor.dll on Windows).
#include "platform/DynamicLibrary.h"
#include "plugin/XAPI.h"
#include "toolkit/LogWriter.h"
#include "toolkit/VirtualLoop.h"

#include <gtest/gtest.h>

#include "Recorders.h"

#include <filesystem>
#include <string>

namespace vantor {
namespace {

using namespace vantor::test;

TEST(XapiSharedLibrary, BindsByTheCompilersNamesAndFeedsThePlugin) {
    const std::string folder = std::string(VANTOR_BUILD_DIR) + "/tests/plugin-lib";
    if (!std::filesystem::exists(folder + "/" + LibraryFileName("Zelkor.dll")))
        GTEST_SKIP() << "test plug-in not built in " << folder;

    RecordingLog log;
    VirtualLoop loop;
    TXAPI xapi(log, loop, SystemLibraryOpener(folder));
    ASSERT_TRUE(xapi.Start());
    std::vector<std::string> texts;
    for (const LogLine& line : log.lines) texts.push_back(line.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"Start", "Init"}));

    std::array<std::uint8_t, 7> info{0, 0, 0, 3, 0, 0, 0};
    xapi.PutInfo(info);
    const std::vector<std::uint8_t> states{8, 0, 0, 1};
    xapi.PutStates(1, states);
    const std::vector<std::uint8_t> clip{'7', '7'};
    xapi.PutCLIP(5, clip);
    xapi.PutAccLine("rec");
    xapi.Users(1, 2, 640, 480, {"1=a", "2=b"});

    std::vector<long> posted;
    xapi.OnCommandMessage = [&](long lParam) { posted.push_back(lParam); };
    DynamicLibrary probe;
    ASSERT_TRUE(probe.Open("Zelkor.dll", folder));
    auto post = probe.Function<void (*)(long)>("RecordingPluginPost");
    ASSERT_NE(post, nullptr);
    post(12);
    loop.runPending();
    EXPECT_EQ(posted, (std::vector<long>{12}));
    TStates command{};
    ASSERT_TRUE(xapi.GetCommand(12, command));
    EXPECT_EQ(command.Kind, 7);
    EXPECT_EQ(command.Port, 12u);

    xapi.Stop();
    auto calls = probe.Function<const char* (*)()>("RecordingPluginCalls");
    ASSERT_NE(calls, nullptr);
    EXPECT_EQ(std::string(calls()),
              "Init(33169);PutInfo(3);PutStates(1,8);PutCLIP(5,77);PutAccLine(rec);Users(640,2);"
              "GetCommand(12);DeInit;");
}

} // namespace
} // namespace vantor
