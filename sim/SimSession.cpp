#include "SimSession.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace vantor::sim {

namespace {

// Splits a command line into words separated by blanks.
std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
        if (i > start) words.push_back(line.substr(start, i - start));
    }
    return words;
}

std::optional<std::uint64_t> Number(std::string_view text) {
    std::uint64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<bool> OnOff(std::string_view text) {
    if (text == "on") return true;
    if (text == "off") return false;
    return std::nullopt;
}

// A frame whose CRC no longer matches: the last CRC byte is changed.  When
// that byte is 0xEE it travels doubled; the pair becomes one plain byte.
void SpoilCrc(std::vector<std::uint8_t>& frame) {
    if (frame.size() >= 2 && frame.back() == 0xEE && frame[frame.size() - 2] == 0xEE) {
        frame.pop_back();
        frame.back() = 0x11;
        return;
    }
    std::uint8_t b = frame.back() ^ 0x01;
    if (b == 0xEE) b = frame.back() ^ 0x02; // never create a lone escape byte
    frame.back() = b;
}

} // namespace

std::string Hex(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.reserve(bytes.size() * 3);
    static constexpr char Digits[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i) out += ' ';
        out += Digits[bytes[i] >> 4];
        out += Digits[bytes[i] & 15];
    }
    return out;
}

constexpr std::uint64_t UsPerMs = 1000;

SimSession::SimSession(ModelConfig model, FaultConfig faults, LogFn log, LogFn event,
                       LineConfig line)
    : model_(model), faults_(faults), log_(std::move(log)), event_(std::move(event)),
      lastHanded_(model_.recordsHanded()) {
    SetLine(line);
    ResetReceiver();
}

void SimSession::SetLine(LineConfig line) {
    line_ = line;
    in_.SetBaud(line.baud);
    out_.SetBaud(line.baud);
}

void SimSession::Receive(std::span<const std::uint8_t> bytes, std::uint64_t nowUs) {
    if (!in_.Paced()) {
        receiveNowUs_ = nowUs;
        decoder_.feed(bytes);
        return;
    }
    // Each byte is there when the line has carried it: a frame is complete
    // when its last byte would have come in, however fast it was written.
    for (std::uint8_t b : bytes) {
        receiveNowUs_ = in_.Pass(nowUs);
        decoder_.feed(b);
    }
}

void SimSession::ResetReceiver() {
    // A fresh decoder: the old one may sit in the middle of a frame.
    decoder_ = FrameDecoder(512);
    in_.Reset();
    decoder_.onPacket = [this](int count, const std::uint8_t* data) {
        onFrame(count, data, receiveNowUs_);
    };
    decoder_.onStray = [this](std::uint8_t chr) {
        ++strays_;
        char text[40];
        std::snprintf(text, sizeof text, "RX stray byte %02X", chr);
        log(text);
    };
}

void SimSession::onFrame(int count, const std::uint8_t* data, std::uint64_t nowUs) {
    if (count < 1) {
        log("RX frame without a header byte, ignored");
        return;
    }
    ++requests_;
    const std::uint8_t seq = data[0];
    std::span<const std::uint8_t> request(data + 1, static_cast<std::size_t>(count - 1));
    const char kind = ExchangeModel::Classify(request);
    char head[64];
    std::snprintf(head, sizeof head, "#%02X %c %s", seq, kind, KindName(kind));
    log(std::string("RX ") + head + ": " + Hex(request));

    Reply reply = model_.Handle(seq, request, nowUs / UsPerMs);
    if (reply.repeated) log(std::string("   ") + head + ": resend, answered as before");
    if (model_.recordsHanded() != lastHanded_) {
        lastHanded_ = model_.recordsHanded();
        char text[48];
        std::snprintf(text, sizeof text, "EVENT record %06llu",
                      static_cast<unsigned long long>(lastHanded_));
        event(text);
    }
    if (model_.messagesAcked() != lastAcked_) {
        lastAcked_ = model_.messagesAcked();
        event("EVENT message acknowledged " + std::to_string(lastAcked_));
    }

    // The exchange takes its time, and the fault delay comes on top.
    const std::uint64_t readyUs =
        nowUs + (std::uint64_t{line_.thinkMs} + faults_.delayMs) * UsPerMs;
    if (faults_.silent) {
        ++silenced_;
        log(std::string("-- ") + head + ": silent, no reply");
        return;
    }
    ++replies_;
    const bool nak = nakOnce_ || (faults_.nakEvery != 0 && replies_ % faults_.nakEvery == 0);
    const bool spoil =
        !nak && (crcOnce_ || (faults_.crcErrorEvery != 0 && replies_ % faults_.crcErrorEvery == 0));
    if (nak) {
        nakOnce_ = false;
        ++naks_;
        log(std::string("TX ") + head + ": E0 instead of the reply");
        queueOutput({NakByte}, readyUs);
        return;
    }
    std::vector<std::uint8_t> frame = EncodeFrame(seq, reply.payload);
    if (spoil) {
        crcOnce_ = false;
        ++crcErrors_;
        SpoilCrc(frame);
    }
    log(std::string("TX ") + head + (spoil ? " (CRC spoiled)" : "") + ": " + Hex(reply.payload));
    queueOutput(std::move(frame), readyUs);
}

void SimSession::queueOutput(std::vector<std::uint8_t> bytes, std::uint64_t readyUs) {
    // Replies keep their order even when the delay is shortened meanwhile.
    std::uint64_t due = std::max(readyUs, lastDueUs_);
    const std::uint64_t gapUs = std::uint64_t{faults_.splitGapMs} * UsPerMs;
    if (out_.Paced()) {
        // Each byte is written when the line would have carried it whole, so
        // the gateway sees the reply come in at the line's pace.
        const bool split = faults_.split && bytes.size() > 1;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            const std::uint64_t done = out_.Pass(split ? due + i * gapUs : due);
            output_.push_back({done, {bytes[i]}, !split});
            lastDueUs_ = done;
        }
        return;
    }
    if (faults_.split && bytes.size() > 1) {
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            output_.push_back({due, {bytes[i]}});
            if (i + 1 < bytes.size()) due += gapUs;
        }
    } else {
        output_.push_back({due, std::move(bytes)});
    }
    lastDueUs_ = due;
}

std::optional<std::uint64_t> SimSession::NextDueUs() const {
    if (output_.empty()) return std::nullopt;
    return output_.front().dueUs;
}

std::optional<std::vector<std::uint8_t>> SimSession::PopDue(std::uint64_t nowUs) {
    if (output_.empty() || output_.front().dueUs > nowUs) return std::nullopt;
    Chunk chunk = std::move(output_.front());
    output_.pop_front();
    // Paced bytes that are all due go out in one write: what a driver would
    // hand over after that much time on the line.
    while (chunk.mergeable && !output_.empty() && output_.front().mergeable &&
           output_.front().dueUs <= nowUs) {
        chunk.bytes.insert(chunk.bytes.end(), output_.front().bytes.begin(),
                           output_.front().bytes.end());
        output_.pop_front();
    }
    return std::move(chunk.bytes);
}

void SimSession::DropOutput() {
    if (!output_.empty())
        log("-- line closed, " + std::to_string(output_.size()) + " pending writes dropped");
    output_.clear();
    out_.Reset();
    lastDueUs_ = 0;
}

std::string SimSession::StatusLine() const {
    std::string kinds;
    for (auto& [k, n] : model_.requestCounts()) {
        if (!kinds.empty()) kinds += ',';
        kinds += k;
        kinds += ':' + std::to_string(n);
    }
    char text[400];
    std::snprintf(
        text, sizeof text,
        "STATUS requests=%llu replies=%llu naks=%llu crc_errors=%llu silenced=%llu resends=%llu "
        "strays=%llu records_handed=%llu records_generated=%llu messages_offered=%llu "
        "messages_acked=%llu silent=%s delay=%u split=%s baud=%u think=%u",
        (unsigned long long)requests_, (unsigned long long)replies_, (unsigned long long)naks_,
        (unsigned long long)crcErrors_, (unsigned long long)silenced_,
        (unsigned long long)model_.resends(), (unsigned long long)strays_,
        (unsigned long long)model_.recordsHanded(), (unsigned long long)model_.recordsGenerated(),
        (unsigned long long)model_.messagesOffered(), (unsigned long long)model_.messagesAcked(),
        faults_.silent ? "on" : "off", faults_.delayMs, faults_.split ? "on" : "off", line_.baud,
        line_.thinkMs);
    return std::string(text) + " kinds=" + kinds + " counters=" + Hex(model_.messageCounters());
}

SimSession::CommandResult SimSession::Command(std::string_view line, std::uint64_t nowUs) {
    const std::uint64_t nowMs = nowUs / UsPerMs;
    auto w = Words(line);
    if (w.empty()) return {"", false};
    auto ok = [&] {
        std::string text = "OK";
        for (auto word : w) (text += ' ') += word;
        log("-- command: " + text.substr(3));
        return CommandResult{text, false};
    };
    const std::string_view cmd = w[0];
    if (cmd == "quit" && w.size() == 1) return {"OK quit", true};
    if (cmd == "status" && w.size() == 1) {
        model_.AdvanceTo(nowMs);
        return {StatusLine(), false};
    }
    if (cmd == "silent" && w.size() == 2) {
        if (auto v = OnOff(w[1])) {
            faults_.silent = *v;
            return ok();
        }
    }
    if (cmd == "split" && w.size() == 2) {
        if (auto v = OnOff(w[1])) {
            faults_.split = *v;
            return ok();
        }
    }
    if ((cmd == "nak" || cmd == "crc") && w.size() == 2 && w[1] == "once") {
        (cmd == "nak" ? nakOnce_ : crcOnce_) = true;
        return ok();
    }
    if ((cmd == "nak" || cmd == "crc") && w.size() == 3 && w[1] == "every") {
        if (auto n = Number(w[2]); n && *n <= 0xFFFFFFFFu) {
            (cmd == "nak" ? faults_.nakEvery : faults_.crcErrorEvery) =
                static_cast<std::uint32_t>(*n);
            return ok();
        }
    }
    if (cmd == "delay" && w.size() == 2) {
        if (auto n = Number(w[1]); n && *n <= 600000) {
            faults_.delayMs = static_cast<std::uint32_t>(*n);
            return ok();
        }
    }
    if (cmd == "baud" && w.size() == 2) {
        if (auto n = Number(w[1]); n && *n <= MaxBaud) {
            SetLine({static_cast<std::uint32_t>(*n), line_.thinkMs});
            return ok();
        }
    }
    if (cmd == "think" && w.size() == 2) {
        if (auto n = Number(w[1]); n && *n <= MaxThinkMs) {
            line_.thinkMs = static_cast<std::uint32_t>(*n);
            return ok();
        }
    }
    if (cmd == "records" && w.size() == 2) {
        if (auto n = Number(w[1])) {
            model_.AdvanceTo(nowMs);
            model_.SetRecordBudget(*n);
            return ok();
        }
    }
    if (cmd == "twin" && w.size() == 1) {
        model_.TwinNextRecord();
        return ok();
    }
    if (cmd == "message" && w.size() == 1) {
        model_.QueueMessageNow();
        return ok();
    }
    if (cmd == "help" && w.size() == 1)
        return {
            "OK commands: silent on|off, nak once, crc once, nak every N, crc every N, delay MS, "
            "split on|off, baud N, think MS, records N, twin, message, status, quit",
            false};
    return {"ERR unknown command: " + std::string(line), false};
}

} // namespace vantor::sim
