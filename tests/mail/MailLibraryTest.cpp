// The bridge against real shared libraries: one that lacks "ZastavAkci"
// (<build>/tests/mail-nine/libvantorq9.so, vantorq9.dll on Windows) and one
// with all ten names (<build>/tests/mail-ten/), both built from
// tests/mail/libs/partial_mail_library.cpp.
#include "mail/MailBridge.h"
#include "toolkit/LogSettings.h"
#include "platform/DynamicLibrary.h"
#include "platform/Paths.h"
#include "toolkit/LogWriter.h"
#include "toolkit/TextSource.h"

#include <gtest/gtest.h>

#include "Recorders.h"

#include <filesystem>
#include <string>

namespace vantor {
namespace {

using namespace vantor::test;

struct NoCounters : MessageCounterTable {
    int clears = 0;
    void ClearCounters() override { ++clears; }
    std::uint8_t SetCounters(std::string_view, std::uint8_t, std::uint8_t, std::uint8_t,
                             std::uint8_t) override {
        return 255;
    }
    std::uint8_t AddCounters(std::string_view, std::uint8_t, std::uint8_t, std::uint8_t,
                             std::uint8_t) override {
        return 255;
    }
};

std::string LibraryFolder(const char* name) {
    return std::string(VANTOR_BUILD_DIR) + "/tests/" + name;
}

// Keeps the library loaded for the whole test, so what it recorded survives
// the bridge unloading it.
struct Probe {
    explicit Probe(const std::string& folder) { library.Open("vantorq9.dll", folder); }
    std::string Recorded() {
        auto calls = library.Function<const char* (*)()>("RecordedMailCalls");
        return calls ? calls() : "?";
    }
    DynamicLibrary library;
};

TEST(MailSharedLibrary, NineOfTenNamesLeaveTheBridgeUnbound) {
    const std::string folder = LibraryFolder("mail-nine");
    if (!std::filesystem::exists(folder + "/" + LibraryFileName("vantorq9.dll")))
        GTEST_SKIP() << "test library not built in " << folder;
    Probe probe(folder);
    RecordingLog log;
    NumberTexts texts;
    NoCounters counters;
    LogSettings settings;
    TMailBridge bridge(log, texts, counters, settings, SystemLibraryOpener(folder), TempPath());
    bridge.Create();
    EXPECT_TRUE(bridge.Loaded());
    EXPECT_FALSE(bridge.Bound());
    EXPECT_FALSE(bridge.Initialise());
    EXPECT_FALSE(bridge.PollMailboxes());
    bridge.StopAction();
    bridge.Close();
    EXPECT_EQ(probe.Recorded(), "");
}

TEST(MailSharedLibrary, AllTenNamesBindAndAreCalled) {
    const std::string folder = LibraryFolder("mail-ten");
    if (!std::filesystem::exists(folder + "/" + LibraryFileName("vantorq9.dll")))
        GTEST_SKIP() << "test library not built in " << folder;
    Probe probe(folder);
    RecordingLog log;
    NumberTexts texts;
    NoCounters counters;
    LogSettings settings;
    {
        TMailBridge bridge(log, texts, counters, settings, SystemLibraryOpener(folder), TempPath());
        bridge.Create();
        ASSERT_TRUE(bridge.Bound());
        bridge.Block().User = "u";
        bridge.Block().DebugLevel = 31;
        ASSERT_TRUE(bridge.Initialise());
        EXPECT_TRUE(bridge.PollMailboxes());
        bridge.SendStatusMessage("x", 'Q', "", "z", '1');
        bridge.StopAction();
        bridge.Close();
    }
    EXPECT_EQ(probe.Recorded(),
              "SetDebugLevel(31);InicializaceQ9Komunikace(u);NactiZmenyVeSchrankach(1);"
              "PotvrdPreneseniZmenVeSchrankach;PosliStavovouZpravu(x,Q,z);ZastavAkci;"
              "DeInicializaceQ9Komunikace;");
    EXPECT_EQ(counters.clears, 1);
}

} // namespace
} // namespace vantor
