#pragma once
// Test doubles for the reply dispatcher and the link cycle: they record what
// the code under test did to its collaborators.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "exchange/DataStore.h"
#include "exchange/PluginFeed.h"
#include "exchange/ReplyDispatcher.h"
#include "toolkit/FileAppender.h"
#include "toolkit/LogWriter.h"
#include "toolkit/TextSource.h"

namespace vantor::testing_fakes {

using Bytes = std::vector<std::uint8_t>;

struct LogLine {
    std::string label, text;
    bool operator==(const LogLine&) const = default;
};

class RecordingLog : public LogWriter {
public:
    void WriteLog(std::string_view label, std::string_view text) override {
        lines.push_back({std::string(label), std::string(text)});
        status = std::string(label) + "     " + std::string(text);
    }
    void WriteStatus(std::string_view label, std::string_view text) override {
        status = std::string(label) + "     " + std::string(text);
    }
    void SetStatusText(std::string_view text) override { status = std::string(text); }

    int Count(const std::string& label, const std::string& text) const {
        int n = 0;
        for (const auto& l : lines) n += (l.label == label && l.text == text);
        return n;
    }
    int CountLabel(const std::string& label) const {
        int n = 0;
        for (const auto& l : lines) n += l.label == label;
        return n;
    }

    std::vector<LogLine> lines;
    std::string status;
};

// Language text n reads "[n]", so expectations name the text numbers.
class NumberTexts : public TextSource {
public:
    std::string Msg(int number) const override { return "[" + std::to_string(number) + "]"; }
    std::string Text(int number) override { return "{" + std::to_string(number) + "}"; }
};

class FakeMail : public MailPort {
public:
    struct Message {
        std::string address;
        char type;
        std::string subject, text;
        char flag;
    };
    bool Bound() const override { return bound; }
    bool PollMailboxes() override {
        ++polls;
        if (onPoll) onPoll();
        return pollResult;
    }
    void SendTrap(int kind) override { traps.push_back(kind); }
    void SendStatusMessage(std::string_view address, char addressType, std::string_view subject,
                           std::string_view text, char flag) override {
        messages.push_back(
            {std::string(address), addressType, std::string(subject), std::string(text), flag});
    }

    bool bound = false;
    bool pollResult = false;
    int polls = 0;
    std::function<void()> onPoll;
    std::vector<int> traps;
    std::vector<Message> messages;
};

class FakeConsumers : public ReplyConsumers {
public:
    struct ClientReply {
        std::int32_t handle;
        Bytes reply;
        std::uint8_t firstByte;
    };
    void ReplyToClient(std::int32_t socketHandle, std::span<const std::uint8_t> reply,
                       std::uint8_t requestFirstByte) override {
        replies.push_back({socketHandle, Bytes(reply.begin(), reply.end()), requestFirstByte});
    }
    void CacheStore(std::span<const std::uint8_t> request,
                    std::span<const std::uint8_t> reply) override {
        cached.emplace_back(Bytes(request.begin(), request.end()),
                            Bytes(reply.begin(), reply.end()));
    }
    void KeepAccountingRecord(std::string_view text) override {
        records.emplace_back(text);
        if (onRecord) onRecord(text);
    }

    std::vector<ClientReply> replies;
    std::vector<std::pair<Bytes, Bytes>> cached;
    std::vector<std::string> records;
    std::function<void(std::string_view)> onRecord;
};

class FakeStoreHooks : public DataStoreHooks {
public:
    void FlushReplyCache() override { ++flushes; }
    void RestartShortsTimer() override {
        ++restarts;
        if (onRestart) onRestart();
    }
    void ReportFault(std::string_view text) override { faults.emplace_back(text); }

    int flushes = 0;
    int restarts = 0;
    std::function<void()> onRestart;
    std::vector<std::string> faults;
};

// Shared state of a FakeAppender, which the data store owns.
struct AppendLog {
    bool fail = false;
    std::vector<std::pair<std::string, std::string>> appends; // path, bytes
};

class FakeAppender : public FileAppender {
public:
    explicit FakeAppender(AppendLog& log) : log_(log) {}
    bool Append(const std::string& path, std::string_view bytes) override {
        if (log_.fail) return false;
        log_.appends.emplace_back(path, std::string(bytes));
        return true;
    }
    std::string errorText() const override { return log_.fail ? "locked" : ""; }

private:
    AppendLog& log_;
};

class FakePlugin : public PluginFeed {
public:
    bool Active() const override { return active; }
    void PutInfo(std::span<const std::uint8_t, 7>) override {}
    void PutLines(int, std::span<const std::uint8_t, 224>) override {}
    void PutPorts(std::span<const std::uint8_t, 144>) override {}
    void PutStates(int lineCount, std::span<const std::uint8_t> states) override {
        stateCalls.emplace_back(lineCount, Bytes(states.begin(), states.end()));
    }
    void PutCLIP(int, std::span<const std::uint8_t>) override {}
    void PutFront(int, std::span<const std::uint8_t>) override {}
    void PutAccLine(std::string_view record) override { accLines.emplace_back(record); }
    void PutShorts(std::span<const std::uint8_t, 15576>,
                   std::span<const std::uint16_t, 960>) override {
        ++shorts;
    }

    bool active = true;
    std::vector<std::pair<int, Bytes>> stateCalls;
    std::vector<std::string> accLines;
    int shorts = 0;
};

// A reply frame as the packet component hands it over: sequence byte first.
inline Bytes Frame(std::uint8_t sequence, Bytes payload) {
    payload.insert(payload.begin(), sequence);
    return payload;
}

} // namespace vantor::testing_fakes
