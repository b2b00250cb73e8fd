#pragma once
// Carries out the commands the call-centre plug-in announces: fetches the
// command record, writes the "XAPI" log line, and puts the exchange request
// into the data store's command ring, queued with its slot number.
// A dial number is rewritten by the prefix table and split into chunks of 8
// characters, one ring slot each.
#include "plugin/XapiAbi.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace vantor {

class LogWriter;
class TXAPI;

class XapiCommandHandler {
public:
    struct Hooks {
        // Stores an 88-byte command record in the ring; returns its slot.
        std::function<int(std::span<const std::uint8_t, 88> record)> StoreCommand;
        // Queues the command stored in this ring slot for the exchange.
        std::function<void(int slot)> QueueCommand;
        // The dial number with its prefix rewritten (identity when unset).
        std::function<std::string(std::string_view number)> SubstitutePrefix;
    };

    static constexpr std::size_t MaxDialLength = 48;
    static constexpr std::size_t DialChunk = 8;

    XapiCommandHandler(TXAPI& xapi, LogWriter& log, Hooks hooks);

    // The plug-in posted its command message with lParam: fetch and execute.
    // Ignored while the plug-in is inactive.
    void HandleMessage(long lParam);
    // Executes a fetched command record.
    void Execute(const TStates& command);

private:
    void Store(const TStates& command);
    void Dial(const TStates& command);

    TXAPI& xapi_;
    LogWriter& log_;
    Hooks hooks_;
};

} // namespace vantor
