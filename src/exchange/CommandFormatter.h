#pragma once
// Turns an exchange request or reply payload into one short readable line for
// the traffic log and the status bar: command name, sub-command name and
// index, an error note, and on demand the remaining bytes in decimal.  Names
// are numbered language texts (1000 + command, 2000 + sub-command), so the
// log reads in the user's language; codes without a name show as numbers.
#include <cstdint>
#include <span>
#include <string>

namespace vantor {

class TextSource;

enum class Direction { Request, Reply };

class CommandFormatter {
public:
    explicit CommandFormatter(const TextSource& texts) : texts_(texts) {}

    // Request: payload[0] is the command code.  Reply: payload is without its
    // sequence byte, payload[0] the result code, and `command` the command
    // code of the request it answers.  dump appends the bytes the name part
    // did not consume, each as " %d".
    std::string format(Direction direction, std::span<const std::uint8_t> payload,
                       std::uint8_t command = 0, bool dump = false) const;

    std::string CommandName(int command) const; // language text 1000 + command
    std::string SubCommandName(int sub) const;  // language text 2000 + sub

private:
    std::string FormatRequest(std::span<const std::uint8_t> payload, std::size_t& consumed) const;
    std::string FormatReply(std::span<const std::uint8_t> payload, std::uint8_t command,
                            std::size_t& consumed) const;

    const TextSource& texts_;
};

} // namespace vantor
