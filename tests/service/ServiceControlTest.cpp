// The service operations over a fake manager: what installed, running and the
// start type mean, install and removal, the 1-second stop wait, the error box
// and its access-denied text, the quiet check at an ordinary start, and the
// start entries of a system without a manager.
#include "service/ServiceControl.h"
#include "service/ServiceFakes.h"
#include "toolkit/Desktop.h"

#include <gtest/gtest.h>

namespace vantor::test {
namespace {

constexpr char Unit[] = "tarvovantor.service";

struct Box {
    std::string text, caption;
    unsigned flags;
};

class ServiceControlTest : public ::testing::Test {
protected:
    ServiceControl Control(ServiceManager* m) {
        return ServiceControl(ServiceControlParts{
            m, texts,
            [this](std::string_view text, std::string_view caption, unsigned flags) {
                boxes.push_back({std::string(text), std::string(caption), flags});
                return IDOK;
            },
            [this](int ms) { waits.push_back(ms); }, "/usr/bin/vantor /service --home /srv/gw",
            &entries, "/usr/bin/vantor /hide"});
    }
    ServiceControl Control() { return Control(&manager); }

    FakeServiceManager manager;
    FakeTexts texts;
    FakeStartEntries entries;
    std::vector<Box> boxes;
    std::vector<int> waits;
};

TEST_F(ServiceControlTest, QueryReadsInstalledRunningAndStartType) {
    manager.stopSteps = 100; // "deactivating" stays so
    struct Case {
        UnitStatus status;
        bool installed, running;
        int startType; // 7: left as it was
    } cases[] = {
        {{"not-found", "inactive", "", ""}, false, false, 7},
        {{"loaded", "active", "enabled", "/x"}, true, true, 0},
        {{"loaded", "inactive", "disabled", "/x"}, true, false, 1},
        {{"loaded", "failed", "static", "/x"}, true, false, -1},
        {{"loaded", "deactivating", "enabled-runtime", "/x"}, true, true, 0},
        {{"loaded", "activating", "disabled", "/x"}, true, true, 1},
        // Masked by the dialog's removal: not installed, whatever still runs.
        {{"masked", "active", "masked", "/x"}, false, true, 7},
    };
    for (const Case& c : cases) {
        manager.units[Unit] = c.status;
        int startType = 7;
        bool running = !c.running;
        EXPECT_EQ(Control().QueryService(startType, running), c.installed) << c.status.loadState;
        EXPECT_EQ(running, c.running) << c.status.activeState;
        EXPECT_EQ(startType, c.startType) << c.status.unitFileState;
    }
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ServiceControlTest, InstallWritesTheUnitAndEnablesItOnlyForAutomaticStart) {
    Control().InstallService(false);
    ASSERT_EQ(manager.files.count(Unit), 1u);
    EXPECT_NE(manager.files[Unit].find("ExecStart=/usr/bin/vantor /service --home /srv/gw\n"),
              std::string::npos);
    EXPECT_NE(manager.files[Unit].find("Type=notify\n"), std::string::npos);
    EXPECT_EQ(manager.Unit(Unit).unitFileState, "enabled");
    EXPECT_EQ(manager.Unit(Unit).activeState, "inactive"); // installed, not started

    manager = FakeServiceManager();
    Control().InstallService(true);
    EXPECT_EQ(manager.files.count(Unit), 1u);
    EXPECT_EQ(manager.Unit(Unit).unitFileState, "disabled");
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ServiceControlTest, InstallOverAMaskedPackageUnitTakesTheMaskAway) {
    manager.AddVendorUnit(Unit);
    manager.Unit(Unit).loadState = "masked";
    Control().InstallService(false);
    EXPECT_TRUE(manager.files.empty());
    EXPECT_EQ(manager.Unit(Unit).loadState, "loaded");
    EXPECT_EQ(manager.Unit(Unit).unitFileState, "enabled");
}

TEST_F(ServiceControlTest, StopWaitsInOneSecondStepsAndRemoves) {
    // The dialog's own unit file is deleted.
    Control().InstallService(false);
    manager.Unit(Unit).activeState = "active";
    manager.stopSteps = 2;
    EXPECT_TRUE(Control().StopService(true));
    EXPECT_EQ(waits, (std::vector<int>{1000, 1000, 1000}));
    EXPECT_TRUE(manager.files.empty());
    EXPECT_EQ(manager.Unit(Unit).loadState, "not-found");

    // A package's unit file stays with the package: it is masked instead.
    manager = FakeServiceManager();
    manager.AddVendorUnit(Unit, "active");
    EXPECT_TRUE(Control().StopService(true));
    EXPECT_EQ(manager.Changes(),
              (std::vector<std::string>{"Stop tarvovantor.service", "Disable tarvovantor.service",
                                        "Mask tarvovantor.service", "Reload"}));
    int startType = 0;
    bool running = true;
    EXPECT_FALSE(Control().QueryService(startType, running));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ServiceControlTest, StopGivesUpOnAServiceThatDoesNotStop) {
    manager.AddVendorUnit(Unit, "active");
    manager.stopSteps = 1000;
    EXPECT_FALSE(Control().StopService(false));
    EXPECT_EQ(waits.size(), static_cast<std::size_t>(ServiceControl::MaxStopWaits));
}

TEST_F(ServiceControlTest, ErrorsShowTheManagersTextOrTheAccessDeniedText) {
    // A unit file that cannot be written for want of rights.
    manager.Refuse("WriteUnitFile", FakeServiceManager::AccessDenied());
    Control().InstallService(false);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Needs root.");
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_EQ(boxes[0].flags, MB_OK | MB_ICONINFORMATION);

    // No manager: its own words.
    boxes.clear();
    manager.Refuse("Connect", FakeServiceManager::NoManager());
    int startType = 0;
    bool running = false;
    EXPECT_FALSE(Control().QueryService(startType, running));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "No bus");

    // Stopping a service that is not there.
    boxes.clear();
    manager.refused.clear();
    EXPECT_FALSE(Control().StopService(true));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("not installed"), std::string::npos);

    // Without the language text the manager's words stand in.
    boxes.clear();
    texts.texts.erase(200);
    manager.Refuse("WriteUnitFile", FakeServiceManager::AccessDenied());
    Control().InstallService(true);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Access denied");
}

TEST_F(ServiceControlTest, RefusedStopShowsOneBoxOtherStopFailuresNone) {
    manager.AddVendorUnit(Unit, "active");
    manager.Refuse("Stop", FakeServiceManager::AccessDenied());
    manager.Refuse("Disable", FakeServiceManager::AccessDenied());
    EXPECT_FALSE(Control().StopService(true));
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(waits.empty());

    boxes.clear();
    manager.refused.clear();
    manager.Refuse("Stop", ServiceError{EIO, "Job failed", false, false});
    manager.Refuse("Start", ServiceError{EIO, "Job failed", false, false});
    EXPECT_FALSE(Control().StopService(false));
    EXPECT_FALSE(Control().StartServiceNow());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ServiceControlTest, RunningCheckAtStartIsQuiet) {
    EXPECT_FALSE(Control(nullptr).IsServiceRunning());
    manager.AddVendorUnit(Unit, "active");
    EXPECT_TRUE(Control().IsServiceRunning());
    manager.Unit(Unit).activeState = "failed";
    EXPECT_FALSE(Control().IsServiceRunning());

    // No manager on this system: nothing to say.  A manager that fails: why.
    std::string why;
    manager.Refuse("Connect", FakeServiceManager::NoManager());
    EXPECT_FALSE(Control().IsServiceRunning(&why));
    EXPECT_EQ(why, "");
    manager.Refuse("Connect", ServiceError{ETIMEDOUT, "No answer in time", false, false});
    EXPECT_FALSE(Control().IsServiceRunning(&why));
    EXPECT_EQ(why, "No answer in time");
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ServiceControlTest, StartEntryIsTheProgramWithHideAndEmptyMeansNone) {
    ServiceControl control = Control();
    EXPECT_FALSE(control.IsRunServicesEntry());
    control.SetRunServicesEntry(true);
    EXPECT_EQ(entries.values["TarvoVantor"], "/usr/bin/vantor /hide");
    EXPECT_TRUE(control.IsRunServicesEntry());
    entries.values["TarvoVantor"] = "";
    EXPECT_FALSE(control.IsRunServicesEntry());
    control.SetRunServicesEntry(false);
    EXPECT_EQ(entries.values.count("TarvoVantor"), 0u);
}

TEST(ServiceUnitText, QuotesWhatTheManagerWouldSplit) {
    EXPECT_EQ(SystemdQuote("/usr/bin/vantor"), "/usr/bin/vantor");
    EXPECT_EQ(SystemdQuote("/srv/my gw"), "\"/srv/my gw\"");
    EXPECT_EQ(SystemdQuote("/srv/a\"b$c%d\\"), "\"/srv/a\\\"b$$c%%d\\\\\"");
    EXPECT_EQ(SystemdQuote(""), "\"\"");
    EXPECT_EQ(WindowsServiceCommandLine("C:\\TV\\vantor.exe"), "C:\\TV\\vantor.exe /service");
    EXPECT_EQ(WindowsServiceCommandLine("C:\\Program Files\\TV\\vantor.exe", "D:\\a b\\"),
              "\"C:\\Program Files\\TV\\vantor.exe\" /service --home \"D:\\a b\\\\\"");
    const std::string user = ServiceUnitText("x", true);
    EXPECT_EQ(user.find("ProtectSystem"), std::string::npos);
    EXPECT_NE(user.find("WantedBy=default.target"), std::string::npos);
}

} // namespace
} // namespace vantor::test
