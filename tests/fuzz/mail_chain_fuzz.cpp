// Fuzz target for the mailbox poll's walk over what the mail library hands
// back: any chain of mailbox records, message groups and items the input
// describes, with loops, shared tails and null pointers anywhere, served
// through a stand-in library over a few polls (full reads, change reads,
// re-read mailboxes, failed reads).  Checked: every poll ends (a loop must
// not hang it, the fuzzer's time-out watches) and each poll takes each item
// at most once into the known-message list.
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "mail/MailBridge.h"
#include "toolkit/LogSettings.h"
#include "toolkit/LogWriter.h"
#include "toolkit/TextSource.h"

using namespace vantor;
using namespace vantor::mailabi;
using fuzz::Check;

namespace {

// The library's answer for the current input: the nodes and what each entry
// point returns.  The entry points are plain C functions, so they reach it
// through this one pointer.
struct Answer {
    std::deque<MailboxRecord> records;
    std::deque<MessageGroup> groups;
    std::deque<MessageItem> items;
    MailboxRecord* first = nullptr;
    std::map<MailboxRecord*, MailboxRecord*> rereads;
    std::int32_t quickTest = 1, readStatus = 0, rereadStatus = 0;
};
Answer* gAnswer = nullptr;

std::int32_t Reread(MailboxRecord** record, ReadParameters*, MailboxRecord* original) {
    auto it = gAnswer->rereads.find(original);
    *record = it == gAnswer->rereads.end() ? nullptr : it->second;
    return gAnswer->rereadStatus;
}
std::int32_t ConfirmOne(MailboxRecord**) { return 0; }
std::int32_t QuickTest() { return gAnswer->quickTest; }
std::int32_t ReadAll(MailboxRecord** first, ReadParameters*) {
    *first = gAnswer->first;
    return gAnswer->readStatus;
}
std::int32_t ConfirmAll(MailboxRecord**) { return 0; }
std::int32_t Send(const char*, std::int32_t, const char*, const char*, std::int32_t) { return 0; }
std::int32_t Init(const char*, const char*, const char*, const char*) { return 0; }
std::int32_t Nothing() { return 0; }
std::int32_t SetDebug(std::uint32_t) { return 0; }

class StandInLibrary final : public MailLibrary {
public:
    void* Symbol(const char* name) override {
        static const std::map<std::string, void*> exports = {
            {"NactiZmenyVeSchrance", reinterpret_cast<void*>(&Reread)},
            {"PotvrdPreneseniZmenVeSchrance", reinterpret_cast<void*>(&ConfirmOne)},
            {"RychlyTestZmenVeSchrankach", reinterpret_cast<void*>(&QuickTest)},
            {"NactiZmenyVeSchrankach", reinterpret_cast<void*>(&ReadAll)},
            {"PotvrdPreneseniZmenVeSchrankach", reinterpret_cast<void*>(&ConfirmAll)},
            {"PosliStavovouZpravu", reinterpret_cast<void*>(&Send)},
            {"InicializaceQ9Komunikace", reinterpret_cast<void*>(&Init)},
            {"DeInicializaceQ9Komunikace", reinterpret_cast<void*>(&Nothing)},
            {"SetDebugLevel", reinterpret_cast<void*>(&SetDebug)},
            {"ZastavAkci", reinterpret_cast<void*>(&Nothing)},
        };
        auto it = exports.find(name);
        return it == exports.end() ? nullptr : it->second;
    }
};

struct QuietLog : LogWriter {
    void WriteLog(std::string_view, std::string_view) override {}
    void WriteStatus(std::string_view, std::string_view) override {}
    void SetStatusText(std::string_view) override {}
};

struct NumberTexts : TextSource {
    std::string Msg(int n) const override { return std::to_string(n); }
    std::string Text(int n) override { return std::to_string(n); }
};

struct Counters : MessageCounterTable {
    void ClearCounters() override {}
    std::uint8_t SetCounters(std::string_view, std::uint8_t, std::uint8_t, std::uint8_t,
                             std::uint8_t d) override {
        return d;
    }
    std::uint8_t AddCounters(std::string_view, std::uint8_t, std::uint8_t, std::uint8_t,
                             std::uint8_t d) override {
        return d;
    }
};

// Builds the nodes the input describes; an index past the end is a null pointer.
void Build(fuzz::FuzzInput& in, Answer& a) {
    const int records = in.Byte() % 9, groups = in.Byte() % 9, items = in.Byte() % 17;
    for (int i = 0; i < records; ++i)
        std::memset(&a.records.emplace_back(), 0, sizeof(MailboxRecord));
    for (int i = 0; i < groups; ++i) std::memset(&a.groups.emplace_back(), 0, sizeof(MessageGroup));
    for (int i = 0; i < items; ++i) std::memset(&a.items.emplace_back(), 0, sizeof(MessageItem));
    auto record = [&](int i) { return i < records ? &a.records[i] : nullptr; };
    auto group = [&](int i) { return i < groups ? &a.groups[i] : nullptr; };
    auto item = [&](int i) { return i < items ? &a.items[i] : nullptr; };
    for (MailboxRecord& r : a.records) {
        const auto name = in.Bytes(in.Byte() % (sizeof r.name + 1));
        std::memcpy(r.name, name.data(), name.size()); // maybe without its NUL
        std::strcpy(r.telephone, in.Flag() ? "201" : "202");
        r.status = in.Flag() ? StatusRereadMailbox : 0;
        r.firstGroup = group(in.Byte() % (groups + 1));
        r.next = record(in.Byte() % (records + 1));
        if (r.status == StatusRereadMailbox) a.rereads[&r] = record(in.Byte() % (records + 1));
    }
    for (MessageGroup& g : a.groups) {
        g.kind = static_cast<char>(in.Byte());
        g.count = static_cast<std::uint16_t>(in.Number(0, 65535));
        g.firstItem = item(in.Byte() % (items + 1));
        g.next = group(in.Byte() % (groups + 1));
    }
    for (MessageItem& it : a.items) {
        it.flags = in.Byte();
        it.id = in.Byte() % 8;
        it.next = item(in.Byte() % (items + 1));
    }
    a.first = record(in.Byte() % (records + 1));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput in(data, size);
    Answer answer;
    Build(in, answer);
    gAnswer = &answer;

    QuietLog log;
    NumberTexts texts;
    Counters counters;
    LogSettings settings;
    settings.Extent = in.Flag();
    TMailBridge bridge(
        log, texts, counters, settings,
        [](const std::string&) { return std::make_unique<StandInLibrary>(); }, "/tmp/");
    bridge.Create();
    Check(bridge.Bound(), "the stand-in library did not bind");
    for (int poll = 0, polls = 1 + in.Byte() % 4; poll < polls; ++poll) {
        answer.quickTest = in.Byte() % 2;
        answer.readStatus = in.Byte() % 5 == 0 ? 7 : 0;
        answer.rereadStatus = in.Byte() % 5 == 0 ? 3 : 0;
        if (in.Flag()) bridge.SetFullRead(true);
        const std::size_t before = bridge.KnownMessages().size();
        bridge.PollMailboxes();
        // A walk takes each node of a chain once: at most every item of every
        // group of every mailbox, whatever loops the chains hold.
        Check(bridge.KnownMessages().size() <=
                  before + answer.records.size() * answer.groups.size() * answer.items.size(),
              "an entry was counted more often than the chains reach it");
    }
    gAnswer = nullptr;
    return 0;
}
