#include "SimOptions.h"

#include <charconv>
#include <cstdint>
#include <functional>
#include <map>

namespace vantor::sim {

namespace {

// Decimal, or hexadecimal with 0x, within [min, max].
std::optional<std::uint64_t> ParseNumber(std::string_view text, std::uint64_t min,
                                         std::uint64_t max) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    std::uint64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    if (value < min || value > max) return std::nullopt;
    return value;
}

} // namespace

std::string Usage(std::string_view program) {
    std::string p(program);
    return "usage: " + p + R"( [options]
Plays a telephone exchange on a pseudo-terminal.  Prints "READY <device>" when
the line is ready; the gateway opens that device.  Reads commands on stdin, one
per line: silent on|off, nak once, crc once, nak every N, crc every N,
delay MS, split on|off, baud N, think MS, records N (N more records from now
on), twin (the next record repeats the last one's text), message, status,
help, quit.

Exchange:
  --ports N            extensions in the port list (0..63, default 8)
  --records N          accounting records to hand out (default: no end);
                       records are numbered "REC 000001 ..." without gaps
  --record-every MS    a new record every MS milliseconds (default: always one waiting)
  --records-handed N   N records were handed out before (the same exchange on a
                       line that came back): 05 repeats record N, 04 gives N+1
  --config-byte4 V     configuration byte 4 (default 2)
  --config-byte5 V     configuration byte 5 (default 0)
  --info-blocks N      info byte 3, personal-data blocks (0..30, default 3)
  --line-offset N      info byte 2 (default 0)
  --message-every N    every Nth message-slot poll finds a message (default 8, 0 never)
  --line-step-ms MS    line states move on every MS milliseconds (default 1000)
  --seed N             seed for line states and generated data (default 1)
Line:
  --baud N             pace every byte both ways as a real 8N1 line at N baud
                       would (ten bit times a byte); default 0: no pacing
  --think MS           the exchange's own time per request, before it answers
                       (default 0)
Faults:
  --silent             never answer
  --crc-error-every N  every Nth reply with a wrong CRC
  --nak-every N        every Nth reply replaced by the single byte 0xE0
  --delay-ms MS        answer MS milliseconds after the request
  --split              write replies one byte at a time
  --split-gap-ms MS    pause between split bytes (default 1)
Output:
  --link PATH          also make PATH a symlink to the device (removed at exit)
  --log FILE           log every request and reply (hex and kind); "-" is stderr
  --help               this text
)";
}

ParsedOptions ParseCommandLine(std::span<const std::string_view> args) {
    SimOptions o;
    using Setter = std::function<bool(std::string_view)>;
    auto number = [](auto& field, std::uint64_t min, std::uint64_t max) {
        return Setter([&field, min, max](std::string_view v) {
            auto n = ParseNumber(v, min, max);
            if (!n) return false;
            field = static_cast<std::remove_reference_t<decltype(field)>>(*n);
            return true;
        });
    };
    const std::map<std::string_view, Setter> withValue = {
        {"--ports", number(o.model.ports, 0, MaxPorts)},
        {"--records", Setter([&o](std::string_view v) {
             auto n = ParseNumber(v, 0, UINT64_MAX);
             if (n) o.model.records = *n;
             return n.has_value();
         })},
        {"--record-every", number(o.model.recordEveryMs, 0, 86400000)},
        {"--records-handed", number(o.model.recordsHanded, 0, 999999)},
        {"--config-byte4", number(o.model.configByte4, 0, 255)},
        {"--config-byte5", number(o.model.configByte5, 0, 255)},
        {"--info-blocks", number(o.model.infoBlocks, 0, MaxPersonalBlocks)},
        {"--line-offset", number(o.model.lineOffset, 0, 255)},
        {"--message-every", number(o.model.messageEvery, 0, 1000000)},
        {"--line-step-ms", number(o.model.lineStepMs, 1, 86400000)},
        {"--seed", number(o.model.seed, 0, UINT32_MAX)},
        {"--crc-error-every", number(o.faults.crcErrorEvery, 0, 1000000)},
        {"--nak-every", number(o.faults.nakEvery, 0, 1000000)},
        {"--delay-ms", number(o.faults.delayMs, 0, 600000)},
        {"--baud", number(o.line.baud, 0, MaxBaud)},
        {"--think", number(o.line.thinkMs, 0, MaxThinkMs)},
        {"--split-gap-ms", number(o.faults.splitGapMs, 0, 1000)},
        {"--link", Setter([&o](std::string_view v) {
             o.link = std::string(v);
             return !v.empty();
         })},
        {"--log", Setter([&o](std::string_view v) {
             o.logPath = std::string(v);
             return !v.empty();
         })},
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        if (arg == "--help" || arg == "-h") {
            o.help = true;
            continue;
        }
        if (arg == "--silent") {
            o.faults.silent = true;
            continue;
        }
        if (arg == "--split") {
            o.faults.split = true;
            continue;
        }
        std::string_view name = arg, value;
        bool inlineValue = false;
        if (auto eq = arg.find('='); eq != std::string_view::npos && arg.starts_with("--")) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            inlineValue = true;
        }
        auto it = withValue.find(name);
        if (it == withValue.end()) return {std::nullopt, "unknown option " + std::string(arg)};
        if (!inlineValue) {
            if (i + 1 >= args.size()) return {std::nullopt, std::string(name) + " needs a value"};
            value = args[++i];
        }
        if (!it->second(value))
            return {std::nullopt, "bad value for " + std::string(name) + ": " + std::string(value)};
    }
    return {o, ""};
}

} // namespace vantor::sim
