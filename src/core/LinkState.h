#pragma once
// The states of the request-reply cycle towards the exchange.
#include <cstdint>

namespace vantor {

// The value is kept as the exchange gateway always kept it (a 32-bit number);
// values outside the list are possible and do nothing.
enum class LinkState : std::uint32_t {
    Idle = 0,
    AwaitingReply = 1,
    LinkDown = 2,
    Resend = 5,
    AwaitingClientReply = 20,
};

} // namespace vantor
