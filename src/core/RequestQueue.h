#pragma once
// The one queue through which every wish to talk to the exchange passes: the
// poll timers, start-up, TCP/IP clients and the call-centre plug-in all add
// entries here, and the tick sends the head when the link is idle.
//
// Entries are keyed by their kind letter; a relayed client request is keyed
// "T<socket handle>" and owns a copy of the client's bytes.  Periodic kinds
// wait at most once (keys compared without regard to case), each client has
// at most one waiting request (the newest).
//
// Clients must not starve the gateway's own polls: a full queue drops its
// oldest client request (its oldest entry only when no client request
// waits), and when own requests and client requests both wait they take
// turns, so the accounting poll keeps at least half of the line.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "exchange/RequestKind.h"

namespace vantor {

// A request of a TCP/IP client waiting for its turn.
struct RelayedRequest {
    std::uint8_t firstByte = 0;
    std::int32_t socketHandle = 0;
    std::vector<std::uint8_t> bytes; // at most RelayedRequestMaxBytes
};

inline constexpr std::size_t RelayedRequestMaxBytes = 512;

class RequestQueue {
public:
    static constexpr std::size_t Capacity = 100;

    struct Entry {
        RequestKind kind = RequestKind::Client;
        std::string key;
        std::int32_t argument = 0;               // socket handle for Client
        std::unique_ptr<RelayedRequest> relayed; // only for Client
        RequestKind Kind() const { return kind; }
    };

    // Adds a request.  For Client the argument is the client's socket handle
    // and `bytes` the client's request (cut to RelayedRequestMaxBytes); other
    // kinds ignore `bytes`.  Returns false when the request was dropped as a
    // duplicate of a waiting one.
    bool Enqueue(RequestKind kind, std::int32_t argument, std::span<const std::uint8_t> bytes = {});
    // Empties the queue, releasing the relayed requests.
    void Clear();
    // Clear, then the requests that (re)start the exchange link, in the
    // order Configuration, Identification, PortStructure, PortList.
    void FillInitialSet();

    bool Empty() const { return entries_.empty(); }
    std::size_t Count() const { return entries_.size(); }
    std::size_t Size() const { return entries_.size(); }
    // Takes the entry to serve next off the queue: the oldest, except that
    // after a client request an own request waiting goes first.  The queue
    // must not be empty.
    Entry TakeNext();
    const Entry& At(std::size_t i) const { return entries_.at(i); }
    // Whether an entry with this exact key waits.
    bool Contains(const std::string& key) const;

private:
    std::deque<Entry> entries_;
    bool lastServedClient_ = false;
};

} // namespace vantor
