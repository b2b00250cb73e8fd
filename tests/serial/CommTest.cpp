// The port class against an in-memory device: open and close, the line
// settings it computes, its error texts, and the event thread's hand-over.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "serial/Comm.h"
#include "toolkit/VirtualLoop.h"
#include "FakeSerialDevice.h"

namespace vantor {
namespace {

using test::FakeFactory;
using test::FakeLine;

// Runs `call` and returns the ECommError it raises (fails if none).
template <class F>
ECommError Raised(F&& call) {
    try {
        call();
    } catch (const ECommError& e) {
        return e;
    }
    ADD_FAILURE() << "no ECommError";
    return ECommError("", 0);
}

// Waits (bounded, for a helper thread) until pred holds.
template <class P>
bool Eventually(P pred) {
    for (int i = 0; i < 5000 && !pred(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return pred();
}

class Port : public ::testing::Test {
protected:
    VirtualLoop loop;
    std::shared_ptr<FakeLine> line = std::make_shared<FakeLine>();
    std::string openedName;
    TComm comm{nullptr, loop, FakeFactory(line, 0, true, &openedName)};
};

TEST_F(Port, DefaultsOfANewPort) {
    EXPECT_EQ(comm.ClassName(), "TComm");
    EXPECT_EQ(comm.DeviceName(), "Com2");
    EXPECT_EQ(comm.ReadTimeout(), 1000);
    EXPECT_EQ(comm.WriteTimeout(), 1000);
    EXPECT_EQ(comm.ReadBufSize(), 4096);
    EXPECT_EQ(comm.WriteBufSize(), 2048);
    EXPECT_EQ(comm.MonitorEvents(), AllCommEvents);
    EXPECT_EQ(EventMaskOf(AllCommEvents), 0x1FFu);
    EXPECT_EQ(comm.BaudRate(), br9600);
    EXPECT_EQ(comm.Parity(), paNone);
    EXPECT_EQ(comm.Stopbits(), sb10);
    EXPECT_EQ(comm.Databits(), da8);
    EXPECT_EQ(comm.FlowControl(), fcDefault);
    EXPECT_TRUE(comm.Options().Empty());
    const TCommEventChars& c = comm.EventChars();
    EXPECT_EQ(c.XonChar(), 17);
    EXPECT_EQ(c.XoffChar(), 19);
    EXPECT_EQ(c.ErrorChar() | c.EOFChar() | c.EvtChar(), 0);
    EXPECT_FALSE(comm.IsOpen());
}

TEST_F(Port, OpenFailuresCarryTheirTextsAndCodes) {
    TComm missing(nullptr, loop, FakeFactory(line, ENOENT));
    ECommError e = Raised([&] { missing.Open(); });
    EXPECT_STREQ(e.what(), "Error accessing specified device (Error: 2) ");
    EXPECT_EQ(e.ErrorCode(), ENOENT);
    EXPECT_EQ(e.Text(), "Error accessing specified device");
    EXPECT_FALSE(missing.IsOpen());

    TComm plainFile(nullptr, loop, FakeFactory(line, 0, false));
    e = Raised([&] { plainFile.Open(); });
    EXPECT_STREQ(e.what(), "Invalid device handle, access denied (Error: -1) ");
    EXPECT_TRUE(line->closed);
    EXPECT_FALSE(plainFile.IsOpen());
    line->closed = false;

    comm.Open();
    EXPECT_EQ(openedName, "Com2");
    e = Raised([&] { comm.Open(); });
    EXPECT_STREQ(e.what(), "Port already assigned (open) (Error: -1) ");
    EXPECT_TRUE(comm.IsOpen());
}

TEST_F(Port, FailedSettingStepsLeaveThePortOpen) {
    struct Case {
        int FakeLine::*error;
        const char* text;
    } cases[] = {
        {&FakeLine::timeoutsError, "Error updating CommTimeouts"},
        {&FakeLine::setStateError, "Error updating DataControlBlock"},
        {&FakeLine::getStateError, "Error updating DataControlBlock"},
        {&FakeLine::queueError, "Error initializing Read/Write Buffers"},
    };
    for (const Case& c : cases) {
        auto failing = std::make_shared<FakeLine>();
        (*failing).*(c.error) = EIO;
        TComm port(nullptr, loop, FakeFactory(failing));
        ECommError e = Raised([&] { port.Open(); });
        EXPECT_EQ(e.Text(), c.text);
        EXPECT_EQ(e.ErrorCode(), EIO);
        EXPECT_TRUE(port.IsOpen()) << c.text;
        port.Close();
        EXPECT_FALSE(port.IsOpen());
        EXPECT_TRUE(failing->closed);
    }
}

TEST_F(Port, LineSettingsReachTheDriver) {
    line->state.flags =
        DcbFlag::Binary | DcbFlag::DtrControlEnable | DcbFlag::OutX | DcbFlag::Parity;
    comm.SetReadBufSize(8000);
    comm.Open();
    // Default flow control keeps the driver's flags; options are set or cleared.
    EXPECT_EQ(line->state.flags, DcbFlag::Binary | DcbFlag::DtrControlEnable | DcbFlag::OutX);
    EXPECT_EQ(line->state.baudRate, 9600u);
    EXPECT_EQ(line->state.byteSize, 8);
    EXPECT_EQ(line->state.xonLim, 2000);
    EXPECT_EQ(line->state.xoffLim, 2000);
    EXPECT_EQ(line->eventMask, 0x1FFu);

    const std::pair<TFlowControl, std::uint32_t> flows[] = {{fcNone, 0x0001},
                                                            {fcCTS, 0x0001 | 0x0004 | 0x2000},
                                                            {fcDTR, 0x0001 | 0x0008 | 0x0020},
                                                            {fcSoftware, 0x0001 | 0x0100 | 0x0200}};
    for (auto [flow, flags] : flows) {
        comm.SetFlowControl(flow);
        EXPECT_EQ(line->state.flags, flags) << int(flow);
    }
    comm.SetFlowControl(fcNone);
    const std::pair<TCommOption, std::uint32_t> options[] = {{coParityCheck, 0x0002},
                                                             {coDsrSensitivity, 0x0040},
                                                             {coIgnoreXOff, 0x0080},
                                                             {coErrorChar, 0x0400},
                                                             {coNullStrip, 0x0800}};
    for (auto [option, flag] : options) {
        comm.SetOptions({option});
        EXPECT_EQ(line->state.flags, 0x0001 | flag) << int(option);
    }

    comm.SetParity(paSpace);
    comm.SetStopbits(sb15);
    comm.SetDatabits(da5);
    comm.SetBaudRate(br128000);
    EXPECT_EQ(line->state.parity, 4);
    EXPECT_EQ(line->state.stopBits, 1);
    EXPECT_EQ(line->state.byteSize, 5);
    EXPECT_EQ(line->state.baudRate, 128000u);

    // Each event character applies at once; assigning copies all five.
    const int before = line->setStateCalls;
    comm.EventChars().SetEvtChar(0x7E);
    EXPECT_EQ(line->state.evtChar, 0x7E);
    TCommEventChars other;
    other.SetXonChar(1);
    other.SetXoffChar(2);
    other.SetErrorChar(3);
    other.SetEOFChar(4);
    other.SetEvtChar(5);
    comm.SetEventChars(other);
    EXPECT_EQ(comm.EventChars(), other);
    EXPECT_EQ(line->setStateCalls, before + 2);
    EXPECT_EQ(line->state.xonChar, 1);
    EXPECT_EQ(line->state.xoffChar, 2);
    EXPECT_EQ(line->state.errorChar, 3);
    EXPECT_EQ(line->state.eofChar, 4);
    EXPECT_EQ(line->state.evtChar, 5);
    // A copy carries the characters, not the port: changing it leaves the line alone.
    TCommEventChars copy(comm.EventChars());
    copy.SetXonChar(9);
    EXPECT_EQ(line->state.xonChar, 1);
    EXPECT_EQ(line->setStateCalls, before + 2);
}

TEST_F(Port, SomePropertiesAreFixedWhileOpen) {
    comm.Open();
    for (auto change : std::initializer_list<std::function<void()>>{
             [&] { comm.SetDeviceName("COM3"); }, [&] { comm.SetReadBufSize(100); },
             [&] { comm.SetWriteBufSize(100); }, [&] { comm.SetMonitorEvents({evRxChar}); }})
        EXPECT_EQ(Raised(change).Text(), "Port already assigned (open)");
    // The same value is no change.
    comm.SetDeviceName("Com2");
    comm.SetMonitorEvents(AllCommEvents);
    comm.Close();
    comm.SetDeviceName("COM3");
    comm.SetReadBufSize(100);
    EXPECT_EQ(comm.DeviceName(), "COM3");
    EXPECT_EQ(comm.ReadBufSize(), 100);
}

TEST_F(Port, ReadWriteAndLineControl) {
    EXPECT_EQ(Raised([&] { comm.SetDTR(true); }).what(),
              std::string("Port not open, unable to complete operation (Error: -1) "));
    EXPECT_FALSE(comm.LineActive(4));
    std::uint8_t buffer[16];
    EXPECT_EQ(Raised([&] { comm.Read(buffer, 16); }).Text(), "Read error");

    comm.Open();
    EXPECT_EQ(comm.Read(buffer, 16), 0);
    line->receive(std::string("abc"));
    EXPECT_EQ(comm.Read(buffer, 16), 3);
    EXPECT_EQ(comm.Write("xyz", 3), 3);
    EXPECT_EQ(line->takeOutput(), (std::vector<std::uint8_t>{'x', 'y', 'z'}));
    line->writeTimesOut = true;
    EXPECT_EQ(comm.Write("x", 1), -1);
    line->writeTimesOut = false;
    line->writeError = EIO;
    ECommError e = Raised([&] { comm.Write("x", 1); });
    EXPECT_EQ(e.Text(), "Write error");
    EXPECT_EQ(e.ErrorCode(), EIO);
    line->readError = EIO;
    EXPECT_EQ(Raised([&] { comm.Read(buffer, 1); }).ErrorCode(), EIO);

    comm.SetDTR(false);
    EXPECT_FALSE(line->dtr);
    line->dtrError = EINVAL;
    EXPECT_EQ(Raised([&] { comm.SetDTR(true); }).Text(), "EscapeCommFunction failure");

    line->modemLines = ModemLine::CtsOn | ModemLine::RlsdOn;
    EXPECT_TRUE(comm.LineActive(1));
    EXPECT_FALSE(comm.LineActive(2));
    EXPECT_FALSE(comm.LineActive(3));
    EXPECT_TRUE(comm.LineActive(4));
    EXPECT_FALSE(comm.LineActive(0));
    EXPECT_FALSE(comm.LineActive(5));
    line->modemError = ENOTTY; // no modem lines at all
    EXPECT_FALSE(comm.LineActive(1));

    comm.PurgeOutput();
    EXPECT_EQ(line->lastPurge, 5u);
    comm.Close();
    EXPECT_EQ(line->drains, 1) << "what was written leaves the line first";
    EXPECT_EQ(line->lastPurge, 10u); // only what came in goes with the port
    EXPECT_TRUE(line->closed);
}

TEST_F(Port, EventsAreDispatchedInTheirFixedOrder) {
    std::vector<std::string> calls;
    comm.OnBreak = [&](TObject*) { calls.push_back("break"); };
    comm.OnCts = [&](TObject*) { calls.push_back("cts"); };
    comm.OnDsr = [&](TObject*) { calls.push_back("dsr"); };
    comm.OnError = [&](TObject*, int errors) {
        calls.push_back("error " + std::to_string(errors));
    };
    comm.OnRing = [&](TObject*) { calls.push_back("ring"); };
    comm.OnRlsd = [&](TObject*) { calls.push_back("rlsd"); };
    comm.OnRxChar = [&](TObject* sender, int count) {
        EXPECT_EQ(sender, &comm);
        calls.push_back("rx " + std::to_string(count));
    };
    comm.OnRxFlag = [&](TObject*) { calls.push_back("flag"); };
    comm.OnTxEmpty = [&](TObject*) { calls.push_back("txempty"); };
    comm.SetMonitorEvents({});
    comm.Open();

    line->receive(std::string("hello"));
    line->lineErrors = CommErrorFlag::Frame | CommErrorFlag::Overrun;
    comm.DispatchEvents(0x1FF);
    EXPECT_EQ(calls, (std::vector<std::string>{"break", "cts", "dsr", "error 10", "ring", "rlsd",
                                               "rx 5", "flag", "txempty"}));
    // A characters-received event finds the queue already read: no OnRxChar.
    calls.clear();
    std::uint8_t sink[8];
    comm.Read(sink, 8);
    comm.DispatchEvents(CommEvent::RxChar | CommEvent::Cts);
    EXPECT_EQ(calls, std::vector<std::string>{"cts"});
    // Unassigned slots are skipped.
    comm.OnCts = nullptr;
    calls.clear();
    comm.DispatchEvents(CommEvent::Cts | CommEvent::Dsr);
    EXPECT_EQ(calls, std::vector<std::string>{"dsr"});
}

TEST_F(Port, TheEventThreadHandsEventsOverOneAtATime) {
    std::string received;
    std::vector<int> counts;
    int depth = 0, deepest = 0;
    std::function<void()> inside;
    comm.OnRxChar = [&](TObject*, int count) {
        deepest = std::max(deepest, ++depth);
        counts.push_back(count);
        std::vector<char> buffer(static_cast<std::size_t>(count));
        received.append(buffer.data(), static_cast<std::size_t>(comm.Read(buffer.data(), count)));
        if (inside) std::exchange(inside, nullptr)();
        --depth;
    };
    auto waits = [&] {
        std::lock_guard lock(line->mutex);
        return line->waitCalls;
    };
    comm.Open();
    line->receive(std::string("first"));
    ASSERT_TRUE(loop.waitForTask());
    // The thread goes back to the line at once; what comes while a hand-over
    // is queued joins it, and nothing runs on the thread.
    ASSERT_TRUE(Eventually([&] { return waits() == 2; }));
    line->receive(std::string(" second"));
    ASSERT_TRUE(Eventually([&] { return waits() == 3; }));
    EXPECT_EQ(loop.queuedTasks(), 1u);
    EXPECT_TRUE(received.empty());
    loop.runPending();
    EXPECT_EQ(received, "first second");
    EXPECT_EQ(counts, std::vector<int>{12});

    // Events during a handler wait until it has returned, even when the
    // handler runs the loop itself.
    inside = [&] {
        const int before = waits();
        line->receive(std::string(" fourth"));
        ASSERT_TRUE(Eventually([&] { return waits() > before; }));
        EXPECT_EQ(loop.queuedTasks(), 0u);
        loop.runPending();
    };
    line->receive(std::string(" third"));
    ASSERT_TRUE(loop.waitForTask());
    loop.runPending();
    EXPECT_EQ(received, "first second third fourth");
    EXPECT_EQ(deepest, 1);
}

TEST_F(Port, ClosingFromInsideANotificationDoesNotDeadlock) {
    int notifications = 0;
    comm.OnRxChar = [&](TObject*, int) {
        ++notifications;
        comm.Close();
    };
    comm.Open();
    line->receive(std::string("x"));
    ASSERT_TRUE(loop.waitForTask());
    loop.runPending();
    EXPECT_EQ(notifications, 1);
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_TRUE(line->closed);
    // The port opens again at once, with a fresh thread.
    line->closed = false;
    comm.Open();
    line->receive(std::string("y"));
    ASSERT_TRUE(loop.waitForTask());
    loop.runPending();
    EXPECT_EQ(notifications, 2);
}

TEST_F(Port, AHandOverQueuedBeforeCloseIsDropped) {
    int notifications = 0;
    comm.OnRxChar = [&](TObject*, int) { ++notifications; };
    comm.Open();
    line->receive(std::string("late"));
    ASSERT_TRUE(loop.waitForTask());
    comm.Close(); // the hand-over is queued, the thread already back at the line
    loop.runPending();
    EXPECT_EQ(notifications, 0);

    // Same with the port destroyed before the loop gets to the hand-over.
    {
        auto other = std::make_shared<FakeLine>();
        TComm shortLived(nullptr, loop, FakeFactory(other));
        shortLived.OnRxChar = [&](TObject*, int) { ++notifications; };
        shortLived.Open();
        other->receive(std::string("gone"));
        ASSERT_TRUE(loop.waitForTask());
    }
    loop.runPending();
    EXPECT_EQ(notifications, 0);
}

TEST_F(Port, AVanishedDeviceIsReportedOnceAndReleased) {
    std::vector<std::string> calls;
    comm.OnRxChar = [&](TObject*, int count) {
        calls.push_back("rx " + std::to_string(count));
        std::vector<char> sink(static_cast<std::size_t>(count));
        comm.Read(sink.data(), count);
    };
    comm.OnDeviceLost = [&](TObject* sender, int error) {
        EXPECT_EQ(sender, &comm);
        EXPECT_FALSE(comm.IsOpen());
        calls.push_back("lost " + std::to_string(error));
    };
    comm.Open();
    {
        // The last bytes and the hang-up come together.
        std::lock_guard lock(line->mutex);
        line->input.assign({'b', 'y', 'e'});
        line->events |= CommEvent::RxChar;
        line->lostError = EIO;
    }
    line->wake.notify_all();
    while (calls.size() < 2) {
        ASSERT_TRUE(loop.waitForTask());
        loop.runPending();
    }
    EXPECT_EQ(calls, (std::vector<std::string>{"rx 3", "lost " + std::to_string(EIO)}));
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_TRUE(line->closed);
    // The thread is gone: no further waits, nothing more queued.
    std::lock_guard lock(line->mutex);
    EXPECT_EQ(line->waitCalls, 1);
    EXPECT_EQ(loop.queuedTasks(), 0u);
}

TEST(CommEventThread, StopsWhenTheLoopIsGone) {
    auto line = std::make_shared<FakeLine>();
    auto device = std::make_shared<test::FakeSerialDevice>(line);
    std::unique_ptr<TCommEventThread> thread;
    {
        VirtualLoop loop;
        thread = std::make_unique<TCommEventThread>(
            device, CommEvent::RxChar, loop, [](std::uint32_t) {}, [](int) {});
        line->receive(std::string("x"));
        ASSERT_TRUE(loop.waitForTask());
    } // the loop ends with the hand-over still queued
    EXPECT_TRUE(Eventually([&] { return !thread->Running(); }));
}

} // namespace
} // namespace vantor
