#include "relay/ReplyCache.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace vantor {

namespace {

// Lifetimes in ms by the query's sub-command byte.  Line states (22) and the
// caller data / queue sub-commands (47-49) change fast; the exchange's static
// description (0) hardly ever.
constexpr std::array<std::uint32_t, ReplyCache::LifetimeTableSize> MakeLifetimes() {
    std::array<std::uint32_t, ReplyCache::LifetimeTableSize> t{};
    for (auto& v : t) v = 60000;
    t[0] = 3600000;
    t[1] = 2000;
    for (int i = 4; i <= 10; ++i) t[i] = 120000;
    t[11] = 5000;
    t[16] = 2000;
    t[22] = 300;
    t[47] = t[48] = t[49] = 300;
    return t;
}

constexpr auto Lifetimes = MakeLifetimes();

// A stamp from the future (the wall clock was set back) counts as expired, so
// that an old reply is not served until the clock catches up again.
bool Fresh(double ageMs, std::uint32_t lifetimeMs) {
    return ageMs >= 0.0 && ageMs < static_cast<double>(lifetimeMs);
}

} // namespace

double AgeMs(TDateTime now, TDateTime then) {
    return std::round((now - then) * MSecsPerDay * 1000.0) / 1000.0;
}

ReplyCache::ReplyCache(std::int32_t maxCache, Clock now) : now_(std::move(now)) {
    Allocate(maxCache);
}

void ReplyCache::Allocate(std::int32_t maxCache) {
    entries_.reset();
    maxCache_ = 0;
    next_ = 0;
    count_ = 0;
    if (maxCache <= 0) return;
    try {
        // Not value-initialised: a large cache costs address space, not pages,
        // until entries are used.
        entries_ = std::make_unique_for_overwrite<Entry[]>(static_cast<std::size_t>(maxCache));
        maxCache_ = maxCache;
    } catch (const std::bad_alloc&) {
        entries_.reset();
        maxCache_ = 0;
    }
}

std::uint32_t ReplyCache::LifetimeFor(std::uint8_t subCommand) {
    return subCommand < LifetimeTableSize ? Lifetimes[subCommand] : LifetimeBeyondTable;
}

std::ptrdiff_t ReplyCache::find(std::span<const std::uint8_t> request, bool withAge) const {
    if (count_ == 0 || maxCache_ == 0) return -1;
    const std::size_t n = request.size();
    if (n == 0 || n > RequestCapacity) return -1;
    const TDateTime now = withAge ? now_() : 0.0;
    std::uint32_t index = next_;
    const auto size = static_cast<std::uint32_t>(maxCache_);
    for (std::uint32_t i = 0; i < count_; ++i) {
        index = (index + size - 1) % size;
        const Entry& e = entries_[index];
        if (withAge && !Fresh(AgeMs(now, e.stored), e.lifetime)) continue;
        if (n > e.requestLength) continue;
        if (std::memcmp(e.request.data(), request.data(), n) == 0) return index;
    }
    return -1;
}

const ReplyCache::Entry* ReplyCache::Lookup(std::span<const std::uint8_t> request,
                                            bool withAge) const {
    const std::ptrdiff_t index = find(request, withAge);
    return index < 0 ? nullptr : &entries_[static_cast<std::size_t>(index)];
}

void ReplyCache::Store(std::span<const std::uint8_t> request, std::span<const std::uint8_t> reply) {
    if (maxCache_ == 0 || request.empty() || request[0] != 0) return;
    if (request.size() > RequestCapacity || reply.size() > ReplyCapacity) return;

    const std::ptrdiff_t found = find(request, false);
    const bool fresh = found < 0;
    Entry& e = entries_[fresh ? next_ : static_cast<std::size_t>(found)];
    std::copy(request.begin(), request.end(), e.request.begin());
    // An overwritten entry now answers only the request stored last, even
    // when it was found as a longer one by the prefix rule.
    e.requestLength = request.size();
    std::copy(reply.begin(), reply.end(), e.reply.begin());
    e.replyLength = static_cast<std::uint32_t>(reply.size());
    // A query without a sub-command byte is of no known kind: shortest life.
    e.lifetime = request.size() > 1 ? LifetimeFor(request[1]) : LifetimeBeyondTable;
    e.stored = now_();

    if (fresh) {
        next_ = (next_ + 1) % static_cast<std::uint32_t>(maxCache_);
        if (count_ < static_cast<std::uint32_t>(maxCache_)) ++count_;
    }
}

} // namespace vantor
