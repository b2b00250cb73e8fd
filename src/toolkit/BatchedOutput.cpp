#include "toolkit/BatchedOutput.h"

#include "toolkit/EventLoop.h"

#include <cstring>

namespace vantor {

BatchedOutput::BatchedOutput(std::ostream& target, std::chrono::milliseconds maxDelay)
    : target_(target), maxDelayMs_(maxDelay.count()) {}

BatchedOutput::~BatchedOutput() { Write(); }

bool BatchedOutput::Attach(EventLoop& loop) {
    batching_ = loop.setBeforeWait([this, &loop] { return BeforeWait(loop.monotonicMs()); });
    return batching_;
}

int BatchedOutput::BeforeWait(std::int64_t nowMs) {
    if (held_.empty()) return -1;
    const std::int64_t since = nowMs - lastWriteMs_;
    if (!written_ || since >= maxDelayMs_ || since < 0) {
        Write();
        written_ = true;
        lastWriteMs_ = nowMs;
        return -1;
    }
    return static_cast<int>(maxDelayMs_ - since);
}

BatchedOutput::int_type BatchedOutput::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char ch = traits_type::to_char_type(c);
    held_ += ch;
    Added(ch == '\n');
    return c;
}

std::streamsize BatchedOutput::xsputn(const char* text, std::streamsize count) {
    if (count <= 0) return 0;
    const auto size = static_cast<std::size_t>(count);
    held_.append(text, size);
    Added(std::memchr(text, '\n', size) != nullptr);
    return count;
}

int BatchedOutput::sync() {
    Write();
    return target_ ? 0 : -1;
}

void BatchedOutput::Added(bool lineBreak) {
    if (batching_ ? held_.size() > MaxHeld : lineBreak) Write();
}

void BatchedOutput::Write() {
    if (held_.empty()) return;
    target_.write(held_.data(), static_cast<std::streamsize>(held_.size()));
    target_.flush();
    // A target that failed (standard output closed) loses the text, as a
    // direct write would have; holding it would only grow.
    held_.clear();
}

} // namespace vantor
