// The port class on a real device: a pseudo-terminal whose master side plays
// the exchange.  Covers what only the kernel can show: raw bytes, every baud
// rate through termios2, the event thread on poll(), a vanished device and
// descriptors given back.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/PosixSerialDevice.h"
#include "support/TempFolder.h"
#include "serial/Comm.h"
#include "toolkit/VirtualLoop.h"

namespace vantor {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Open descriptors of this process whose target's name starts with `prefix`
// (a device path, "anon_inode:[eventfd]"); every descriptor for an empty prefix.
int OpenDescriptors(const std::string& prefix = "") {
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] == '.') continue;
            char target[256] = {};
            const std::string link = std::string("/proc/self/fd/") + e->d_name;
            const ssize_t len = readlink(link.c_str(), target, sizeof target - 1);
            if (len > 0 && std::string(target, static_cast<std::size_t>(len)).rfind(prefix, 0) == 0)
                ++n;
        }
        closedir(d);
    }
    return n;
}

template <class P>
bool Eventually(P pred) {
    for (int i = 0; i < 5000 && !pred(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return pred();
}

class PseudoTerminal {
public:
    PseudoTerminal() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        char name[128];
        if (ptsname_r(master_, name, sizeof name) == 0) slave_ = name;
    }
    ~PseudoTerminal() { CloseMaster(); }
    bool ok() const { return master_ >= 0 && !slave_.empty(); }
    const std::string& slave() const { return slave_; }
    void Send(const Bytes& bytes) {
        ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    void Send(const std::string& text) { Send(Bytes(text.begin(), text.end())); }
    // Everything the port sent, waiting for `count` bytes at most a few seconds.
    Bytes Take(std::size_t count) {
        Bytes out;
        while (out.size() < count) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 5000) <= 0) break;
            std::uint8_t buffer[512];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0) break;
            out.insert(out.end(), buffer, buffer + n);
        }
        return out;
    }
    void CloseMaster() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

private:
    int master_ = -1;
    std::string slave_;
};

class OnPseudoTerminal : public ::testing::Test {
protected:
    void SetUp() override {
        if (!pty.ok()) GTEST_SKIP() << "no pseudo-terminals here";
        comm.SetDeviceName(pty.slave());
    }
    // Runs hand-overs of the event thread until `pred` holds.
    template <class P>
    void RunUntil(P pred) {
        while (!pred()) {
            ASSERT_TRUE(loop.waitForTask()) << "no notification came";
            loop.runPending();
        }
    }

    PseudoTerminal pty;
    VirtualLoop loop;
    TComm comm{nullptr, loop, OpenPosixSerialDevice};
};

TEST(SerialDeviceNames, ClassicNamesMapToLinuxDevices) {
    EXPECT_EQ(SerialDevicePath("COM1"), "/dev/ttyS0");
    EXPECT_EQ(SerialDevicePath("Com2"), "/dev/ttyS1");
    EXPECT_EQ(SerialDevicePath("com12"), "/dev/ttyS11");
    EXPECT_EQ(SerialDevicePath("/dev/ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(SerialDevicePath("ttyACM0"), "/dev/ttyACM0");
    EXPECT_EQ(SerialDevicePath("COM0"), "/dev/COM0");
    EXPECT_EQ(SerialDevicePath("COM1x"), "/dev/COM1x");
}

TEST(SerialDeviceNames, TheDevicesPresentAreListedWithoutOpeningThem) {
    test::TempFolder root;
    root.Sub("dev/serial/by-id");
    for (const char* name : {"ttyUSB10", "ttyUSB2", "ttyACM0", "ttyS0", "ttyS1", "ttyS2", "tty1",
                             "serial/by-id/usb-FTDI-if00"})
        root.Write(std::string("dev/") + name, "");
    // ttyS0 is a UART the kernel found, ttyS1 a node without hardware, ttyS2 unknown.
    root.Write((root.Sub("sys/ttyS0"), "sys/ttyS0/type"), "4\n");
    root.Write((root.Sub("sys/ttyS1"), "sys/ttyS1/type"), "0\n");
    const std::string dev = root.Path() + "/dev";
    EXPECT_EQ(ListSerialDevices(dev, root.Path() + "/sys"),
              (std::vector<std::string>{dev + "/serial/by-id/usb-FTDI-if00", dev + "/ttyUSB2",
                                        dev + "/ttyUSB10", dev + "/ttyACM0", dev + "/ttyS0"}));
    EXPECT_TRUE(ListSerialDevices(root.Path() + "/none", root.Path()).empty());
}

TEST(SerialDeviceOpen, MissingDevicesAndPlainFilesAreRefused) {
    VirtualLoop loop;
    TComm comm(nullptr, loop, OpenPosixSerialDevice);
    comm.SetDeviceName("/dev/no-such-serial-device");
    try {
        comm.Open();
        FAIL();
    } catch (const ECommError& e) {
        EXPECT_EQ(e.ErrorCode(), ENOENT);
        EXPECT_EQ(std::string(e.what()),
                  "Error accessing specified device (Error: " + std::to_string(ENOENT) + ") ");
    }
    char path[] = "/tmp/vantor-serial-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    const int before = OpenDescriptors(path);
    comm.SetDeviceName(path);
    try {
        comm.Open();
        FAIL();
    } catch (const ECommError& e) {
        EXPECT_STREQ(e.what(), "Invalid device handle, access denied (Error: -1) ");
    }
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_EQ(OpenDescriptors(path), before); // the refused file was closed again
    ::unlink(path);
}

TEST(SerialDeviceOpen, FailureReasonsNameTheFileAndWhatToDo) {
    // The classic name shows the Linux device it stands for.
    const SerialOpenResult missing = OpenPosixSerialDevice("COM99");
    EXPECT_EQ(missing.error, ENOENT);
    EXPECT_EQ(missing.reason, "/dev/ttyS98: No such file or directory");
    // The port class hands the words on beside its fixed text.
    VirtualLoop loop;
    TComm comm(nullptr, loop, OpenPosixSerialDevice);
    comm.SetDeviceName("/dev/no-such-serial-device");
    try {
        comm.Open();
        FAIL();
    } catch (const ECommError& e) {
        EXPECT_EQ(e.Detail(), "/dev/no-such-serial-device: No such file or directory");
    }
    // A permission failure says which group the gateway's user must join
    // (built from the code: the test may well run with every right).
    const std::string denied = SerialOpenFailureReason("/dev/ttyS0", EACCES);
    EXPECT_EQ(denied.rfind("/dev/ttyS0: Permission denied; the user ", 0), 0u) << denied;
    EXPECT_NE(denied.find(" must be in the group "), std::string::npos) << denied;
    EXPECT_NE(denied.find("sudo usermod -aG "), std::string::npos) << denied;
}

TEST_F(OnPseudoTerminal, RawBytesBothWaysAndNothingWaitingReadsZero) {
    comm.SetMonitorEvents({});
    comm.Open();
    std::uint8_t buffer[300];
    EXPECT_EQ(comm.Read(buffer, sizeof buffer), 0);

    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
    EXPECT_EQ(comm.Write(all.data(), 256), 256);
    EXPECT_EQ(pty.Take(256), all);

    pty.Send(all);
    Bytes got;
    ASSERT_TRUE(Eventually([&] {
        const int n = comm.Read(buffer, sizeof buffer);
        got.insert(got.end(), buffer, buffer + n);
        return got.size() >= 256;
    }));
    EXPECT_EQ(got, all); // no CR/LF translation, no echo, no signals
    EXPECT_EQ(pty.Take(0), Bytes{});
}

TEST_F(OnPseudoTerminal, NoModemLinesOnAPseudoTerminal) {
    comm.Open();
    for (int line = 1; line <= 4; ++line) EXPECT_FALSE(comm.LineActive(line));
    comm.Close();
    try {
        comm.SetDTR(true);
        FAIL();
    } catch (const ECommError& e) {
        EXPECT_EQ(e.Text(), "Port not open, unable to complete operation");
    }
}

TEST_F(OnPseudoTerminal, EveryBaudRateAndFramingReachesTheDriver) {
    SerialOpenResult opened = OpenPosixSerialDevice(pty.slave());
    ASSERT_TRUE(opened.device) << opened.error;
    SerialDevice& device = *opened.device;
    EXPECT_TRUE(device.isCharacterDevice());
    SerialLineSettings s;
    ASSERT_EQ(device.getState(s), 0);
    // A fresh line has no software flow control, which would eat 0x11/0x13.
    EXPECT_EQ(s.flags & (DcbFlag::OutX | DcbFlag::InX), 0u);
    for (unsigned r = br110; r <= br256000; ++r) {
        s.baudRate = BaudRateValue(static_cast<TBaudrate>(r));
        ASSERT_EQ(device.setState(s), 0) << s.baudRate;
        SerialLineSettings back;
        ASSERT_EQ(device.getState(back), 0);
        EXPECT_EQ(back.baudRate, s.baudRate);
    }
    // A pseudo-terminal forces 8 data bits without parity; stop bits it keeps.
    s.baudRate = 19200;
    for (std::uint8_t stop : {0, 1, 2}) {
        s.stopBits = stop;
        ASSERT_EQ(device.setState(s), 0);
        SerialLineSettings back;
        ASSERT_EQ(device.getState(back), 0);
        EXPECT_EQ(back.stopBits, stop);
    }
    // Flags termios can hold come back from the driver, the rest as they were set.
    s.flags = DcbFlag::Binary | DcbFlag::OutX | DcbFlag::InX | DcbFlag::DsrSensitivity |
              DcbFlag::DtrControlHandshake;
    s.xonChar = 0x11;
    s.xoffChar = 0x13;
    ASSERT_EQ(device.setState(s), 0);
    SerialLineSettings back;
    ASSERT_EQ(device.getState(back), 0);
    EXPECT_EQ(back.flags, s.flags);
    s.byteSize = 4;
    EXPECT_EQ(device.setState(s), EINVAL);

    // The same through the port class: four data bits are refused with the driver's error.
    comm.Open();
    comm.SetBaudRate(br56000);
    try {
        comm.SetDatabits(da4);
        FAIL();
    } catch (const ECommError& e) {
        EXPECT_EQ(e.Text(), "Error updating DataControlBlock");
        EXPECT_EQ(e.ErrorCode(), EINVAL);
    }
}

TEST_F(OnPseudoTerminal, ReceivedBytesAreHandedToTheLoop) {
    std::string received;
    comm.OnRxChar = [&](TObject*, int count) {
        std::vector<char> buffer(static_cast<std::size_t>(count));
        received.append(buffer.data(), static_cast<std::size_t>(comm.Read(buffer.data(), count)));
    };
    comm.Open();
    pty.Send(std::string("EE#"));
    RunUntil([&] { return received.size() >= 3; });
    EXPECT_EQ(received, "EE#");
    pty.Send(std::string("more"));
    RunUntil([&] { return received.size() >= 7; });
    EXPECT_EQ(received, "EE#more");
}

TEST_F(OnPseudoTerminal, UnreadInputIsNotAnnouncedOverAndOver) {
    std::vector<int> counts;
    comm.OnRxChar = [&](TObject*, int count) { counts.push_back(count); }; // never reads
    comm.Open();
    pty.Send(std::string("abc"));
    RunUntil([&] { return !counts.empty(); });
    // Level-triggered readiness would bring the same bytes back at once.
    EXPECT_FALSE(loop.waitForTask(std::chrono::milliseconds(300)));
    pty.Send(std::string("de"));
    RunUntil([&] { return counts.size() >= 2 && counts.back() == 5; });
    EXPECT_EQ(counts.back(), 5);
}

TEST_F(OnPseudoTerminal, AFullInputQueueLeavesTheRestWaitingUntilRead) {
    std::string received;
    int largest = 0;
    comm.OnRxChar = [&](TObject*, int count) {
        largest = std::max(largest, count);
        std::vector<char> buffer(static_cast<std::size_t>(count));
        received.append(buffer.data(), static_cast<std::size_t>(comm.Read(buffer.data(), count)));
    };
    comm.SetReadBufSize(8);
    comm.Open();
    pty.Send(std::string("abcdefghijklmnopqrstuvwxyz"));
    RunUntil([&] { return received.size() >= 26; });
    EXPECT_EQ(received, "abcdefghijklmnopqrstuvwxyz");
    EXPECT_LE(largest, 8);
}

TEST_F(OnPseudoTerminal, EmptiedOutputIsReportedThoughNothingComesBack) {
    int empties = 0;
    comm.OnTxEmpty = [&](TObject*) { ++empties; };
    comm.Open();
    ASSERT_EQ(comm.Write("ping", 4), 4);
    RunUntil([&] { return empties > 0; });
    EXPECT_EQ(pty.Take(4), (Bytes{'p', 'i', 'n', 'g'}));
}

TEST_F(OnPseudoTerminal, ClosedPortCanBeOpenedAgainAtOnce) {
    comm.Open();
    comm.Close();
    comm.Open();
    EXPECT_TRUE(comm.IsOpen());
    if (geteuid() != 0) {
        // Exclusive while open (root is exempt from the kernel's exclusive mode).
        TComm second(nullptr, loop, OpenPosixSerialDevice);
        second.SetDeviceName(pty.slave());
        try {
            second.Open();
            FAIL();
        } catch (const ECommError& e) {
            EXPECT_EQ(e.ErrorCode(), EBUSY);
        }
    }
}

TEST_F(OnPseudoTerminal, VanishedDeviceStopsTheThreadAndGivesBackItsDescriptors) {
    // Threads of earlier tests may still be giving back their wake-up
    // descriptors, so those can only be bounded, not counted exactly.
    const int wakeUpsBefore = OpenDescriptors("anon_inode:[eventfd]");
    std::vector<int> lost;
    comm.OnRxChar = [&](TObject*, int count) {
        std::vector<char> buffer(static_cast<std::size_t>(count));
        comm.Read(buffer.data(), count);
    };
    comm.OnDeviceLost = [&](TObject*, int error) { lost.push_back(error); };
    comm.Open();
    EXPECT_EQ(OpenDescriptors(pty.slave()), 1);
    pty.CloseMaster();
    RunUntil([&] { return !lost.empty(); });
    EXPECT_EQ(lost, std::vector<int>{EIO});
    EXPECT_FALSE(comm.IsOpen());
    // The device descriptor went with the port, the wake-up one with its thread.
    EXPECT_EQ(OpenDescriptors(pty.slave()), 0);
    EXPECT_TRUE(
        Eventually([&] { return OpenDescriptors("anon_inode:[eventfd]") <= wakeUpsBefore; }));
    // Nothing more comes from a stopped thread.
    EXPECT_FALSE(loop.waitForTask(std::chrono::milliseconds(300)));
}

} // namespace
} // namespace vantor
