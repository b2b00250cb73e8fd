// The service side with the real service control manager (Wine's runs
// services too): the services dialog's operations on a service program built
// for the tests (service/TestService.cpp), and in that program the
// dispatcher, the control handler and the status reports.
#include "platform/Paths.h"
#include "platform/win32/Win32Service.h"
#include "service/ServiceControl.h"
#include "service/ServiceFakes.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace vantor {
namespace {

std::string ServiceProgram() {
    return (std::filesystem::path(ExecutablePath()).parent_path() / "test_service.exe").string();
}

// The record's lines once one begins with `last` (the bound only keeps a
// broken test from hanging).
std::vector<std::string> RecordUpTo(const std::string& path, const std::string& last) {
    std::vector<std::string> lines;
    for (int i = 0; i < 300; ++i) {
        lines.clear();
        std::ifstream in(path);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        if (!lines.empty() && lines.back().rfind(last, 0) == 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return lines;
}

TEST(Win32Service, TheDialogInstallsStartsStopsAndRemovesARealService) {
    test::TempFolder dir;
    const std::string record = dir.Path() + "\\record.txt";
    Win32ServiceControlManager scm;
    test::FakeTexts texts;
    std::vector<std::string> boxes;
    std::vector<int> waits;
    ServiceControl control(ServiceControlParts{
        .texts = texts,
        .messageBox = [&](std::string_view text, std::string_view caption, unsigned) {
            boxes.push_back(std::string(caption) + ": " + std::string(text));
            return IDOK;
        },
        .wait = [&](int ms) {
            waits.push_back(ms);
            ::Sleep(static_cast<DWORD>(ms));
        },
        .serviceCommandLine = ServiceProgram() + " " + record,
        .scm = &scm});
    int startType = 7;
    bool running = true;
    EXPECT_FALSE(control.QueryService(startType, running));
    EXPECT_FALSE(running);

    control.InstallService(true);
    ASSERT_TRUE(control.QueryService(startType, running));
    EXPECT_EQ(startType, 1); // manual
    EXPECT_FALSE(running);
    control.InstallService(false); // already there: the system's words
    std::string exists = SystemErrorMessage(ERROR_SERVICE_EXISTS);
    exists.resize(exists.size() - 2);
    EXPECT_EQ(boxes, std::vector<std::string>{"Error: " + exists});

    ASSERT_TRUE(control.StartServiceNow());
    RecordUpTo(record, "report 4");
    EXPECT_TRUE(control.IsServiceRunning());
    EXPECT_TRUE(control.QueryService(startType, running));
    EXPECT_TRUE(running);

    EXPECT_TRUE(control.StopService(false));
    EXPECT_FALSE(waits.empty());
    EXPECT_EQ(waits.back(), 1000);
    // The manager refuses to stop a stopped service: stopped all the same.
    EXPECT_TRUE(control.StopService(true));
    EXPECT_FALSE(control.QueryService(startType, running)); // removed
    // state, check point, wait hint, controls accepted
    EXPECT_EQ(RecordUpTo(record, "ran"),
              (std::vector<std::string>{"report 2 1 3000 0", "report 2 2 3000 0",
                                        "report 4 0 3000 1", "report 3 3 0 1", "report 1 0 0 1",
                                        "ran 1"}));
    EXPECT_EQ(boxes.size(), 1u);
}

TEST(Win32Service, StartedByHandTheDispatcherFailsWithAnErrorEvent) {
    test::TempFolder dir;
    const std::string record = dir.Path() + "\\record.txt";
    std::wstring line = L"\"" + std::filesystem::path(ServiceProgram()).wstring() + L"\" " +
                        std::filesystem::path(record).wstring();
    STARTUPINFOW start{};
    start.cb = sizeof start;
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 nullptr, &start, &info));
    ASSERT_EQ(::WaitForSingleObject(info.hProcess, 30000), WAIT_OBJECT_0);
    DWORD code = 0;
    ::GetExitCodeProcess(info.hProcess, &code);
    ::CloseHandle(info.hProcess);
    ::CloseHandle(info.hThread);
    EXPECT_EQ(code, 1u);
    EXPECT_EQ(RecordUpTo(record, "ran"),
              (std::vector<std::string>{"event 1 1 TarvoVantor error: " +
                                            std::to_string(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) +
                                            " | StartServiceCtrlDispatcher failed.",
                                        "ran 0"}));
}

} // namespace
} // namespace vantor
