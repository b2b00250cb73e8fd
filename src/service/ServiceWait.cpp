#include "service/ServiceWait.h"

#include <chrono>
#include <thread>

namespace vantor {

void WaitWhileServing(EventLoop& loop, int ms) {
    // Real time, not the loop's clock: a loop whose clock does not move on
    // its own (a test's virtual loop) must not keep the wait going for ever.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) {
        loop.processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace vantor
