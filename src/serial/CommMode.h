#pragma once
// The mode part of a port settings text ("19200,N,8,1" after "COM2:"): baud
// rate, parity letter, data bits and stop bits separated by commas, in the
// syntax the classic mode command accepts.  Also accepted: the two-digit baud
// abbreviations of that syntax ("96" for 9600, "19" for 19200), trailing
// fields left out, and the keyword form "baud=19200 parity=N data=8 stop=1".
// A field that is absent is empty here and leaves its setting unchanged.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantor {

struct CommMode {
    std::optional<std::uint32_t> baudRate; // any number; the port keeps only the rates it knows
    std::optional<char> parity;            // 'N', 'O', 'E', 'M' or 'S'
    std::optional<std::uint8_t> dataBits;  // 4..8
    std::optional<std::uint8_t> stopBits;  // 0 one, 1 one and a half, 2 two
};

// nullopt when the text does not follow the syntax.
std::optional<CommMode> ParseCommMode(std::string_view text);

// Edit of a whole settings text ("COM2:19200,N,8,1") by the baud menu: the
// text with `baud` in place of its baud rate: the device part up to ':'
// and everything from the first ',' on are kept.
std::string WithBaudRate(std::string_view text, std::string_view baud);

} // namespace vantor
