#include "plugin/XapiCommands.h"

#include "plugin/XAPI.h"
#include "toolkit/LogWriter.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace vantor {

namespace {

// Log texts of the commands that only name their port.
const char* PortCommandText(unsigned kind) {
    switch (kind) {
    case 0: return "Message SPEAKER (ON/OFF) Port:";
    case 1: return "Message MIC (ON/OFF) Port:";
    case 2: return "Message VOLUME UP Port:";
    case 3: return "Message VOLUME DOWN Port:";
    case 5: return "Message z FRONTy Port:";
    case 7: return "Message TRF Port:";
    case 8: return "Message z HOLDu Port:";
    case 9: return "Message PARK (ON/OFF) Port:";
    default: return nullptr;
    }
}

} // namespace

XapiCommandHandler::XapiCommandHandler(TXAPI& xapi, LogWriter& log, Hooks hooks)
    : xapi_(xapi), log_(log), hooks_(std::move(hooks)) {}

void XapiCommandHandler::HandleMessage(long lParam) {
    TStates command{};
    if (!xapi_.Active() || !xapi_.GetCommand(static_cast<int>(lParam), command)) return;
    Execute(command);
}

void XapiCommandHandler::Store(const TStates& command) {
    if (!hooks_.StoreCommand) return;
    std::array<std::uint8_t, sizeof(TStates)> bytes{};
    std::memcpy(bytes.data(), &command, bytes.size());
    const int slot = hooks_.StoreCommand(bytes);
    if (hooks_.QueueCommand) hooks_.QueueCommand(slot);
}

void XapiCommandHandler::Execute(const TStates& command) {
    const unsigned kind = command.Kind;
    if (const char* text = PortCommandText(kind)) {
        log_.WriteLog(labels::Plugin, text + std::to_string(command.Port));
        Store(command);
    } else if (kind == 6) {
        log_.WriteLog(labels::Plugin, "Message SHORT");
        Store(command);
    } else if (kind == 4) {
        Dial(command);
    }
    // Any other kind is not a command of ours: ignored.
}

void XapiCommandHandler::Dial(const TStates& command) {
    const auto* data = reinterpret_cast<const char*>(command.Data);
    const std::string_view given(data, strnlen(data, MaxDialLength));
    if (given.empty()) return;
    const std::string number =
        hooks_.SubstitutePrefix ? hooks_.SubstitutePrefix(given) : std::string(given);
    log_.WriteLog(labels::Plugin,
                  "Message VOL " + number + " Port:" + std::to_string(command.Port));
    for (std::size_t at = 0; at < number.size(); at += DialChunk) {
        const std::size_t length = std::min(DialChunk, number.size() - at);
        TStates chunk = command;
        std::memset(chunk.Data, 0, sizeof chunk.Data);
        std::memcpy(chunk.Data, number.data() + at, length);
        Store(chunk);
    }
}

} // namespace vantor
