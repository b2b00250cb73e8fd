// Fuzz target for everything that decodes exchange payloads: the data store's
// reply decoders (with the plug-in feed active) and the command text
// formatter.  First input byte: the transaction kind; second: the block
// counter; the rest: the payload.
#include "exchange/CommandFormatter.h"
#include "exchange/DataStore.h"
#include "exchange/PluginFeed.h"
#include "toolkit/LogWriter.h"
#include "toolkit/TextSource.h"

#include <string>
#include <vector>

namespace {

using namespace vantor;

struct NullLog : LogWriter {
    void WriteLog(std::string_view, std::string_view) override {}
    void WriteStatus(std::string_view, std::string_view) override {}
    void SetStatusText(std::string_view) override {}
};

// Touches every byte it is given, so a feed beyond the data shows up.
struct TouchingFeed : PluginFeed {
    unsigned sum = 0;
    void Touch(std::span<const std::uint8_t> bytes) {
        for (std::uint8_t b : bytes) sum += b;
    }
    bool Active() const override { return true; }
    void PutInfo(std::span<const std::uint8_t, 7> b) override { Touch(b); }
    void PutLines(int, std::span<const std::uint8_t, 224> b) override { Touch(b); }
    void PutPorts(std::span<const std::uint8_t, 144> b) override { Touch(b); }
    void PutStates(int, std::span<const std::uint8_t> b) override { Touch(b); }
    void PutCLIP(int, std::span<const std::uint8_t> b) override { Touch(b); }
    void PutFront(int, std::span<const std::uint8_t> b) override { Touch(b); }
    void PutAccLine(std::string_view) override {}
    void PutShorts(std::span<const std::uint8_t, 15576> s,
                   std::span<const std::uint16_t, 960>) override {
        Touch(s);
    }
};

struct NumberTexts : TextSource {
    std::string Msg(int n) const override { return n % 3 ? std::to_string(n) : std::string(); }
    std::string Text(int n) override { return Msg(n); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    static const char kinds[] = "AXCIVxFYps#USMT";
    NullLog log;
    TouchingFeed feed;
    TDataStore store(log, [] { return 0.0; });
    store.SetPluginFeed(&feed);
    const RequestKind kind = *KindOfLetter(kinds[data[0] % (sizeof kinds - 1)]);
    std::vector<std::uint8_t> payload(data + 2, data + size);

    // Twice, so the second pass sees a store filled by the first.
    for (int pass = 0; pass < 2; ++pass) {
        store.SetBlockCounter(static_cast<int>(data[1]) - 8);
        if (kind == RequestKind::LineStates) store.LineStateFeed(payload, [](int) {});
        store.DecodeReply(kind, payload);
        store.DecodeReply(RequestKind::PortList, payload);
        store.DecodeReply(RequestKind::Identification, payload);
        store.SkipBlock(kind);
        store.BuildRequest(kind, data[1]);
    }

    NumberTexts texts;
    CommandFormatter formatter(texts);
    formatter.format(Direction::Request, payload, 0, true);
    formatter.format(Direction::Reply, payload, data[1], true);
    return 0;
}
