// PollLoop keeps the rules every event loop shares.
#include "platform/PollLoop.h"
#include "support/LoopContract.h"

#include <chrono>
#include <thread>

namespace vantor::test {
namespace {

struct PollLoopTraits {
    using Loop = PollLoop;
    static std::unique_ptr<Loop> Make() { return std::make_unique<PollLoop>(); }
    static void Pass(Loop& loop, int ms) {
        const auto end = loop.monotonicMs() + ms;
        do {
            loop.processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        } while (loop.monotonicMs() < end);
    }
    static void ServeFds(Loop& loop, std::initializer_list<int>) { loop.processEvents(); }
    static std::size_t Queued(Loop& loop) { return loop.pendingTasks(); }
};

INSTANTIATE_TYPED_TEST_SUITE_P(PollLoop, LoopContract, PollLoopTraits);

} // namespace
} // namespace vantor::test
