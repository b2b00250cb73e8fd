#pragma once
// ZastavAkci may come from any thread while a transfer or a mailbox scan runs
// on the gateway's loop thread.  It only advances a counter; each operation
// remembers the counter when it starts and gives up when it has moved, so a
// stop cancels what is in progress and nothing that starts afterwards.
#include <atomic>

namespace vantorq9 {

class StopSignal {
public:
    void Stop() { generation_.fetch_add(1, std::memory_order_relaxed); }
    unsigned Generation() const { return generation_.load(std::memory_order_relaxed); }

private:
    std::atomic<unsigned> generation_{0};
};

class CancelToken {
public:
    explicit CancelToken(const StopSignal& signal)
        : signal_(&signal), start_(signal.Generation()) {}
    bool Requested() const { return signal_->Generation() != start_; }

private:
    const StopSignal* signal_;
    unsigned start_;
};

} // namespace vantorq9
