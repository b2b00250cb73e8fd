// The port class on the Win32 serial device: COM names, the system's reasons,
// and a COM port that Wine maps onto the simulator's pseudo-terminal.
// ./run test-windows links the port (VANTOR_TEST_COM_PORT names it) and feeds
// the simulator's command input from VANTOR_TEST_SIM_CONTROL; a simulator
// that quits is started again on the same link, as a device that comes back.
#include "platform/Paths.h"
#include "platform/win32/Win32SerialDevice.h"
#include "serial/CommMode.h"
#include "serial/CommPax.h"
#include "serial/FrameCodec.h"
#include "toolkit/VirtualLoop.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace vantor {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string WithoutLineEnd(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

TEST(Win32SerialNames, ComNamesOpenTheirDevicesAnyOtherNameAsItStands) {
    EXPECT_EQ(Win32SerialDevicePath("COM1"), "\\\\.\\COM1");
    EXPECT_EQ(Win32SerialDevicePath("com12"), "\\\\.\\COM12");
    EXPECT_EQ(Win32SerialDevicePath("COM0"), "COM0");
    EXPECT_EQ(Win32SerialDevicePath("COM1x"), "COM1x");
    EXPECT_EQ(Win32SerialDevicePath("\\\\.\\CNCA0"), "\\\\.\\CNCA0");
}

TEST(Win32SerialNames, ThePortsPresentAreListedCom2BeforeCom10EachOnce) {
    // Ports drivers registered: one under two names, one not named COMn.
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                                REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::vector<std::pair<std::wstring, std::wstring>> ports = {
        {L"\\Device\\VantorTest10", L"COM10"},
        {L"\\Device\\VantorTestAgain", L"com10"},
        {L"\\Device\\VantorTest2", L"COM2"},
        {L"\\Device\\VantorTestCnc", L"CNCA0"}};
    for (const auto& [name, port] : ports)
        ::RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(port.c_str()),
                         static_cast<DWORD>((port.size() + 1) * sizeof(wchar_t)));
    const std::vector<std::string> listed = ListWin32SerialDevices();
    for (const auto& [name, port] : ports) ::RegDeleteValueW(key, name.c_str());
    ::RegCloseKey(key);
    const auto at = [&](const std::string& name) {
        return static_cast<long>(std::find(listed.begin(), listed.end(), name) - listed.begin());
    };
    ASSERT_LT(at("COM10"), static_cast<long>(listed.size()));
    EXPECT_LT(at("COM2"), at("COM10"));
    EXPECT_EQ(std::count(listed.begin(), listed.end(), "COM10"), 1);
    EXPECT_EQ(at("\\\\.\\CNCA0"), static_cast<long>(listed.size()) - 1);
}

TEST(Win32SerialOpen, AMissingPortGivesTheSystemsTextAndAFileIsNoPort) {
    const SerialOpenResult missing = OpenWin32SerialDevice("COM99");
    EXPECT_EQ(missing.error, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(missing.reason,
              "\\\\.\\COM99: " + WithoutLineEnd(SystemErrorMessage(ERROR_FILE_NOT_FOUND)));

    test::TempFolder folder;
    const std::string file = folder.Path() + "\\not-a-port";
    std::ofstream(file) << "x";
    VirtualLoop loop;
    TComm comm(nullptr, loop, OpenWin32SerialDevice);
    comm.SetDeviceName(file);
    try {
        comm.Open();
        FAIL();
    } catch (const ECommError& e) {
        EXPECT_STREQ(e.what(), "Invalid device handle, access denied (Error: -1) ");
    }
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_TRUE(std::filesystem::remove(file)); // the refused handle was closed again
}

TEST(Win32SerialMode, ThePortableParserReadsModeTextsAsBuildCommDCBDoes) {
    for (const char* text : {"19200,N,8,1", "9600,e,7,2", "110,O,5,1.5", "57600,m,8,1",
                             "256000,N,8,1", "19200,Q,8,1", "19200,N,9,1", "fast"}) {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        const bool built = ::BuildCommDCBA(text, &dcb);
        const auto parsed = ParseCommMode(text);
        ASSERT_EQ(parsed.has_value(), built) << text;
        if (!built) continue;
        EXPECT_EQ(parsed->baudRate, dcb.BaudRate) << text;
        EXPECT_EQ(parsed->dataBits, dcb.ByteSize) << text;
        EXPECT_EQ(parsed->stopBits, dcb.StopBits) << text;
        EXPECT_EQ(std::string("NOEMS").find(*parsed->parity), dcb.Parity) << text;
    }
}

class OnTheSimulator : public ::testing::Test {
protected:
    void SetUp() override {
        port_ = Environment("VANTOR_TEST_COM_PORT");
        if (port_.empty()) GTEST_SKIP() << "no simulator's port given (./run test-windows)";
        ASSERT_TRUE(OpenSoon(pax)) << "cannot open " << port_;
    }

    // The port opens as soon as the simulator is there (it may be starting
    // again after an earlier test made it quit).  It watches every line event,
    // as the gateway's does: Wine's port has no modem lines to watch.
    bool OpenSoon(TCommPax& p) {
        p.Set(port_ + ":19200,N,8,1");
        for (int i = 0; i < 200; ++i) {
            try {
                p.Open();
                return true;
            } catch (const ECommError&) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        }
        return false;
    }

    template <class P>
    void RunUntil(P pred) {
        while (!pred()) {
            ASSERT_TRUE(loop.waitForTask(std::chrono::seconds(5))) << "no notification came";
            loop.runPending();
        }
    }

    // Sends the identification request; the simulator answers 00 03 05 ...
    void AskIdentification(std::uint8_t sequence) {
        const std::uint8_t request = 0x02;
        pax.WritePacket(sequence, &request, 1);
    }

    static void SimulatorCommand(const std::string& line) {
        std::ofstream(Environment("VANTOR_TEST_SIM_CONTROL")) << line << "\n";
    }

    std::string port_;
    VirtualLoop loop;
    TCommPax pax{nullptr, loop, OpenWin32SerialDevice};
    std::vector<Bytes> packets;
};

TEST_F(OnTheSimulator, AFrameEachWay) {
    pax.OnRxPacket = [&](TObject*, int count, const std::uint8_t* data) {
        packets.emplace_back(data, data + count);
    };
    AskIdentification(7);
    RunUntil([&] { return !packets.empty(); });
    ASSERT_GE(packets[0].size(), 4u);
    EXPECT_EQ(packets[0][0], 7);
    EXPECT_EQ(Bytes(packets[0].begin() + 1, packets[0].begin() + 4), (Bytes{0x00, 0x03, 0x05}));
}

TEST_F(OnTheSimulator, UnreadInputIsNotAnnouncedOverAndOver) {
    std::vector<int> counts;
    pax.OnRxChar = [&](TObject*, int count) { // reads one byte the first time, then nothing
        std::uint8_t byte;
        if (counts.empty()) {
            EXPECT_EQ(pax.Read(&byte, 1), 1);
        }
        counts.push_back(count);
    };
    AskIdentification(1);
    RunUntil([&] { return !counts.empty(); });
    EXPECT_FALSE(loop.waitForTask(std::chrono::milliseconds(300)));
}

TEST_F(OnTheSimulator, ALostDeviceIsReportedAndTheLineComesBackUnderItsName) {
    std::vector<int> lost;
    pax.OnDeviceLost = [&](TObject*, int error) { lost.push_back(error); };
    SimulatorCommand("quit");
    RunUntil([&] { return !lost.empty(); });
    EXPECT_NE(lost[0], 0);
    EXPECT_FALSE(pax.IsOpen());

    ASSERT_TRUE(OpenSoon(pax)) << "the simulator did not come back";
    pax.OnRxPacket = [&](TObject*, int count, const std::uint8_t* data) {
        packets.emplace_back(data, data + count);
    };
    AskIdentification(2);
    RunUntil([&] { return !packets.empty(); });
    EXPECT_EQ(packets[0][0], 2);
}

} // namespace
} // namespace vantor
