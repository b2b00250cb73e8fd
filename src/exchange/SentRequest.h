#pragma once
// What the gateway remembers about one request it has sent to the exchange,
// so that the reply, which carries only the sequence number, can be handled
// by the request's kind and (for relayed requests) returned to its client.
#include <cstdint>
#include <vector>

#include "exchange/RequestKind.h"

namespace vantor {

struct SentRequest {
    RequestKind kind = RequestKind::Client;
    std::uint8_t firstByte = 0;        // first payload byte (the command)
    std::int32_t value = 0;            // client socket handle for Client, else 0
    std::vector<std::uint8_t> payload; // at most SentRequestMaxPayload bytes
};

// A longer payload is cut when it is recorded.
inline constexpr std::size_t SentRequestMaxPayload = 512;

} // namespace vantor
