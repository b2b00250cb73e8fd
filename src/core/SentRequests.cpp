#include "core/SentRequests.h"

#include <algorithm>

namespace vantor {

void SentRequests::Record(std::uint8_t sequence, RequestKind kind,
                          std::span<const std::uint8_t> payload, std::int32_t value) {
    auto record = std::make_unique<SentRequest>();
    record->kind = kind;
    record->firstByte = payload.empty() ? 0 : payload[0];
    record->value = value;
    const std::size_t kept = std::min(payload.size(), SentRequestMaxPayload);
    record->payload.assign(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(kept));
    if (!slots_[sequence]) ++count_;
    slots_[sequence] = std::move(record);
}

std::unique_ptr<SentRequest> SentRequests::Take(std::uint8_t sequence) {
    if (slots_[sequence]) --count_;
    return std::move(slots_[sequence]);
}

void SentRequests::Clear() {
    for (auto& slot : slots_) slot.reset();
    count_ = 0;
}

} // namespace vantor
