// VirtualLoop keeps the rules every event loop shares, so tests that run
// the gateway on it see what the real loops would do.
#include "support/LoopContract.h"
#include "toolkit/VirtualLoop.h"

namespace vantor::test {
namespace {

struct VirtualLoopTraits {
    using Loop = VirtualLoop;
    static std::unique_ptr<Loop> Make() { return std::make_unique<VirtualLoop>(); }
    static void Pass(Loop& loop, int ms) { loop.advance(ms); }
    // The virtual loop polls nothing: it is told what poll(2) sees now.
    static void ServeFds(Loop& loop, std::initializer_list<int> fds) {
        for (int fd : fds)
            if (unsigned events = ReadinessNow(fd)) loop.fireFd(fd, events);
        loop.processEvents();
    }
    static std::size_t Queued(Loop& loop) { return loop.queuedTasks(); }
};

INSTANTIATE_TYPED_TEST_SUITE_P(VirtualLoop, LoopContract, VirtualLoopTraits);

} // namespace
} // namespace vantor::test
