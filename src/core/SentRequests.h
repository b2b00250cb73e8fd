#pragma once
// The requests that are on their way to the exchange, keyed by the sequence
// number they were sent under.  A reply takes its record out; recording under
// a number that is still present replaces the old record (the number has
// wrapped around and the old request will never be answered).
#include <array>
#include <cstdint>
#include <memory>
#include <span>

#include "exchange/SentRequest.h"

namespace vantor {

class SentRequests {
public:
    // Records a request under `sequence`; the payload is cut to
    // SentRequestMaxPayload bytes.
    void Record(std::uint8_t sequence, RequestKind kind, std::span<const std::uint8_t> payload,
                std::int32_t value);
    // Removes and returns the record of `sequence`, or null when there is none.
    std::unique_ptr<SentRequest> Take(std::uint8_t sequence);
    bool Contains(std::uint8_t sequence) const { return slots_[sequence] != nullptr; }
    const SentRequest* Find(std::uint8_t sequence) const { return slots_[sequence].get(); }
    std::size_t Count() const { return count_; }
    void Clear();

private:
    std::array<std::unique_ptr<SentRequest>, 256> slots_;
    std::size_t count_ = 0;
};

} // namespace vantor
