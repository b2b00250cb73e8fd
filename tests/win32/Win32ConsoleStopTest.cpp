// Ctrl+C, Ctrl+Break and the console's close reach the loop as stop requests.
#include "platform/win32/ConsoleStop.h"
#include "platform/win32/Win32Loop.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <vector>

namespace vantor {
namespace {

TEST(Win32ConsoleStop, StopRequestsRunOnTheLoopThreadAndALogoffStopsNoService) {
    Win32Loop loop;
    std::vector<unsigned> seen;
    const auto loopThread = std::this_thread::get_id();
    bool offThread = false;
    ConsoleStopWatcher watcher(loop, [&](unsigned event) {
        offThread = offThread || std::this_thread::get_id() != loopThread;
        seen.push_back(event);
        loop.quit();
    }, false);
    EXPECT_THROW(ConsoleStopWatcher(loop, {}), std::runtime_error); // one at a time

    EXPECT_FALSE(watcher.Deliver(ConsoleStopWatcher::Logoff)); // a service goes on
    // As the system's handler thread hands it over (Wine, without a console
    // of its own here, cannot raise the event itself).
    std::thread system([&] { EXPECT_TRUE(watcher.Deliver(ConsoleStopWatcher::CtrlBreak)); });
    system.join();
    EXPECT_EQ(loop.run(), 0);
    EXPECT_EQ(seen, std::vector<unsigned>{ConsoleStopWatcher::CtrlBreak});
    EXPECT_FALSE(offThread);
}

} // namespace
} // namespace vantor
