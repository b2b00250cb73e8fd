#include "exchange/CommandFormatter.h"

#include "nls/TextIds.h"
#include "toolkit/TextSource.h"

namespace vantor {

namespace {

constexpr int NamedCommands = 44;    // commands below this have a language text
constexpr int NamedSubCommands = 50; // sub-commands below this have a language text

enum class RequestForm { Query, Name, NameOrError };
enum class ReplyForm { SubCommand, Name, NameAndByte, NameAndSpace };

RequestForm RequestFormOf(std::uint8_t c) {
    if (c <= 1 || c >= 32) return RequestForm::Query;
    switch (c) {
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
    case 13:
    case 14:
    case 16:
    case 17:
    case 23: return RequestForm::NameOrError;
    default: return RequestForm::Name;
    }
}

ReplyForm ReplyFormOf(std::uint8_t c) {
    switch (c) {
    case 12: return ReplyForm::NameAndByte;
    case 4:
    case 5: return ReplyForm::NameAndSpace;
    case 2:
    case 3:
    case 6:
    case 7:
    case 8:
    case 9:
    case 10:
    case 11:
    case 13:
    case 14:
    case 16:
    case 20:
    case 21:
    case 23: return ReplyForm::Name;
    default: return ReplyForm::SubCommand; // 0, 1, 15, 17, 18, 19, 22, 24..255
    }
}

std::string Indexed(const std::string& base, int index) {
    return base + "[" + std::to_string(index) + "]";
}

} // namespace

std::string CommandFormatter::CommandName(int command) const { return texts_.Msg(msg::CommandNameBase + command); }

std::string CommandFormatter::SubCommandName(int sub) const { return texts_.Msg(msg::SubCommandNameBase + sub); }

std::string CommandFormatter::FormatRequest(std::span<const std::uint8_t> p,
                                            std::size_t& consumed) const {
    const std::size_t length = p.size();
    const std::uint8_t c = p[0];
    consumed = 1;
    switch (RequestFormOf(c)) {
    case RequestForm::Name: return CommandName(c);
    case RequestForm::NameOrError: return length >= 2 ? std::string("Cmd: ERROR") : CommandName(c);
    case RequestForm::Query: break;
    }

    std::string text = c < NamedCommands ? CommandName(c) + " " : "Cmd: " + std::to_string(c) + " ";
    if (length < 2) return text;
    const std::uint8_t s = p[1];
    const int i = length >= 3 ? p[2] : 0;
    consumed = length == 2 ? 2 : 3;
    if (s < NamedSubCommands) {
        const std::string name = SubCommandName(s);
        text += (length == 2 || i == 0) ? name : Indexed(name, i);
    } else {
        const std::string name = "Str:" + std::to_string(s);
        text += length == 2 ? name : Indexed(name, i);
    }
    return text;
}

std::string CommandFormatter::FormatReply(std::span<const std::uint8_t> p, std::uint8_t c,
                                          std::size_t& consumed) const {
    const std::size_t length = p.size();
    consumed = 1;
    switch (ReplyFormOf(c)) {
    case ReplyForm::Name: return CommandName(c);
    case ReplyForm::NameAndSpace: return CommandName(c) + " ";
    case ReplyForm::NameAndByte:
        return length >= 2 ? CommandName(c) + " " + std::to_string(p[1]) : CommandName(c);
    case ReplyForm::SubCommand: break;
    }
    if (length < 2) return {};
    const std::uint8_t s = p[1];
    const std::string base = s < NamedSubCommands ? SubCommandName(s) : "Str:" + std::to_string(s);
    if (length == 2) {
        consumed = 2;
        return base;
    }
    consumed = 3;
    return p[2] == 0 ? base : Indexed(base, p[2]);
}

std::string CommandFormatter::format(Direction direction, std::span<const std::uint8_t> payload,
                                     std::uint8_t command, bool dump) const {
    if (payload.empty()) return {};
    std::size_t consumed = 1;
    std::string text;
    if (direction == Direction::Request) {
        text = FormatRequest(payload, consumed);
    } else {
        text = FormatReply(payload, command, consumed);
        if (payload[0] != 0) text += "Error " + std::to_string(payload[0]) + ": ";
    }
    // The dump follows "Cmd: ERROR" as well: whoever reads the log then sees
    // what the refused request carried.
    if (dump)
        for (std::size_t k = consumed; k < payload.size(); ++k)
            text += " " + std::to_string(payload[k]);
    return text;
}

} // namespace vantor
