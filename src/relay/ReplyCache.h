#pragma once
// The reply cache of the TCP relay: recent exchange replies to queries (requests
// whose first byte is 0), so that many network clients asking the same thing
// cost the exchange one request per lifetime instead of one per client.
//
// A ring of MaxCache entries; each remembers the request, the reply, when it
// was stored and how long it stays valid (by the query's sub-command byte).
// A lookup returns the newest entry whose request begins with the bytes asked
// for, so a short request also finds a longer stored one ([0,24] finds
// [0,24,5]).  MaxCache 0 switches the cache off.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "toolkit/DateTime.h"

namespace vantor {

class ReplyCache {
public:
    static constexpr std::size_t RequestCapacity = 512;
    static constexpr std::size_t ReplyCapacity = 512;
    static constexpr std::size_t LifetimeTableSize = 50;
    static constexpr std::uint32_t LifetimeBeyondTable = 10; // ms

    struct Entry {
        std::array<std::uint8_t, RequestCapacity> request;
        // Bytes of `request` that were really sent; a lookup never matches
        // bytes beyond them (they would be left over from an earlier use).
        std::size_t requestLength;
        std::array<std::uint8_t, ReplyCapacity> reply;
        std::uint32_t replyLength;
        TDateTime stored;
        std::uint32_t lifetime; // ms

        std::span<const std::uint8_t> Reply() const { return {reply.data(), replyLength}; }
    };

    using Clock = std::function<TDateTime()>;

    // Allocates maxCache entries; a negative size, or one the memory cannot
    // hold, leaves the cache off (MaxCache() then returns 0 so the caller can
    // store that back into its setting).
    ReplyCache(std::int32_t maxCache, Clock now);
    // Forgets every entry and allocates maxCache new ones (as the constructor).
    void Allocate(std::int32_t maxCache);

    std::int32_t MaxCache() const { return maxCache_; }
    std::uint32_t Count() const { return count_; }

    // Lifetime in ms of a cached query by its second byte.
    static std::uint32_t LifetimeFor(std::uint8_t subCommand);

    // The newest entry whose request begins with `request`; with `withAge`,
    // only entries whose age is still below their lifetime.  The entry stays
    // valid until the next Store or Flush.
    const Entry* Lookup(std::span<const std::uint8_t> request, bool withAge) const;

    // Keeps the reply to a query.  Anything but a query (first byte not 0) is
    // ignored, and so is a reply that would not fit an entry: serving it cut
    // short would hand clients a corrupted reply.  An entry for the same
    // request is overwritten instead of taking a new slot.
    void Store(std::span<const std::uint8_t> request, std::span<const std::uint8_t> reply);

    // Forgets every entry (the exchange's configuration changed, or a client
    // has just changed something through request 1).
    void Flush() { count_ = 0; }

private:
    // Index of the newest matching entry, or -1.
    std::ptrdiff_t find(std::span<const std::uint8_t> request, bool withAge) const;

    std::int32_t maxCache_ = 0;
    std::unique_ptr<Entry[]> entries_;
    std::uint32_t next_ = 0;
    std::uint32_t count_ = 0;
    Clock now_;
};

// Age of a date-time stamp in milliseconds, rounded to the microsecond so that
// "no more than 300 ms ago" does not fail on the last bit of a double.
double AgeMs(TDateTime now, TDateTime then);

} // namespace vantor
