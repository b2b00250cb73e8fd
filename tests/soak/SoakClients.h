#pragma once
// The clients of the soak, one thread each, all against the gateway's relay
// on 127.0.0.1.  Every reply a well-behaved client receives is checked
// against what vantor-sim answers to that very request (the simulator's
// replies are computable from the request), so a reply handed to the wrong
// client, a reply to the wrong question, a doubled or a corrupted reply is a
// violation; a reply that never comes is only counted (the line may be down).
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vantor::soak {

// Faults the clients saw; the first few are kept in words.
class Violations {
public:
    void Add(std::string what);
    std::uint64_t Count() const { return count_; }
    std::vector<std::string> First() const;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> first_;
    std::atomic<std::uint64_t> count_{0};
};

// Per kind of client.
struct ClientCounts {
    std::atomic<std::uint64_t> sent{0};       // requests (or garbage pieces, connections) sent
    std::atomic<std::uint64_t> answered{0};   // right reply in time
    std::atomic<std::uint64_t> late{0};       // right reply after its time-out
    std::atomic<std::uint64_t> unanswered{0}; // no reply within the time-out
    std::atomic<std::uint64_t> closed{0};     // connections the gateway closed
};

enum class ClientKind {
    Relayed,    // tagged queries the gateway must forward every time
    Cached,     // queries answered from the reply cache for a minute
    LineStates, // the line-state request (snapshot or forwarded)
    SwState,    // the SW request (snapshot or forwarded)
    Accounting, // reads the gateway's record list with 04 and 05
    Garbage,    // random bytes of random length
    Vanishing,  // connects, maybe asks, and leaves at once
    NeverReads, // asks and asks and never reads a reply
};
const char* KindName(ClientKind kind);

struct ClientPlan {
    ClientKind kind;
    int count;
};

// Starts the clients of the plan; Stop() (or the destructor) ends and joins them.
class ClientMix {
public:
    ClientMix(int port, int ports, std::uint32_t seed, const std::vector<ClientPlan>& plan);
    ~ClientMix() { Stop(); }
    ClientMix(const ClientMix&) = delete;
    ClientMix& operator=(const ClientMix&) = delete;

    void Stop();
    const ClientCounts& Counts(ClientKind kind) const {
        return counts_[static_cast<std::size_t>(kind)];
    }
    Violations& violations() { return violations_; }

private:
    void run(ClientKind kind, int id, std::uint32_t seed);

    int port_;
    int ports_; // the simulator's extension count: the length of a line-state reply
    std::atomic<bool> stop_{false};
    ClientCounts counts_[8];
    Violations violations_;
    std::vector<std::thread> threads_;
};

} // namespace vantor::soak
