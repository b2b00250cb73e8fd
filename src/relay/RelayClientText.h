#pragma once
// Text helpers of the relay's command-line client: the target "[host:]port",
// request bytes typed as hexadecimal, and the dump of a reply.  Kept apart
// from the program so that they are tested like the rest of the relay.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vantor {

struct RelayTarget {
    std::string host = "127.0.0.1";
    std::uint16_t port = 0;
};

// "1234", "host:1234", "10.0.0.5:1234".  None (and `error` set) when the port
// is missing, not a number or outside 1..65535.
std::optional<RelayTarget> ParseRelayTarget(std::string_view text, std::string& error);

// Request bytes from arguments such as "00 16 00", "001600", "0x00,0x16,0",
// "0E": each argument is split at commas; a piece of one or two hex digits
// is one byte, a longer one is read two digits per byte (even length only).
std::optional<std::vector<std::uint8_t>> ParseHexBytes(const std::vector<std::string>& args,
                                                       std::string& error);

// "00 16 00 08" (upper-case hex, blank-separated).
std::string HexDump(std::span<const std::uint8_t> bytes);

// The record text in an answer to request 4 or 5: the gateway's (0x00 then
// the text) or the exchange's (result 0, the text, a 0 byte); none when there
// is no record.
std::optional<std::string> AccountingRecordOf(std::span<const std::uint8_t> reply);

} // namespace vantor
