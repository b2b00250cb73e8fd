#pragma once
// A stream buffer that hands its text on to another stream in batches.  The
// headless gateway copies every log line to standard output; written and
// flushed one by one, those lines were two of the eleven system calls of a
// relayed request.  Text written here is held, and goes on in one write:
//
// - when the loop is about to wait and the last write is at least maxDelay
//   old; before that the loop waits no longer than until it is (so a line is
//   out within maxDelay, and a lone line after a quiet spell at once);
// - when the stream is flushed (std::flush, std::endl: the headless message
//   boxes and the exception box flush, so they and the lines before them are
//   out before anything else happens);
// - when more than MaxHeld bytes are held, and when this buffer goes.
//
// Until a loop takes the hook (Attach), or with a loop that has no such
// moment, every line goes on when its line break is written.  Loop thread
// only, as the log is.
#include <chrono>
#include <cstdint>
#include <ostream>
#include <streambuf>
#include <string>

namespace vantor {

class EventLoop;

class BatchedOutput final : public std::streambuf {
public:
    static constexpr std::size_t MaxHeld = 64 * 1024;

    BatchedOutput(std::ostream& target, std::chrono::milliseconds maxDelay);
    ~BatchedOutput() override;
    BatchedOutput(const BatchedOutput&) = delete;
    BatchedOutput& operator=(const BatchedOutput&) = delete;

    // Holds the text from now on and gives the loop the hook; false (and
    // line by line as before) when the loop has no moment before it waits.
    // The loop must not outlive this buffer.
    bool Attach(EventLoop& loop);
    // The loop's hook at the monotonic time nowMs: writes what is held when
    // it is due, and returns how long the loop may wait (-1: no limit).
    int BeforeWait(std::int64_t nowMs);

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    int sync() override;

private:
    // After text was added: per line, or when too much is held.
    void Added(bool lineBreak);
    void Write();

    std::ostream& target_;
    const std::int64_t maxDelayMs_;
    std::string held_;
    bool batching_ = false;
    bool written_ = false; // a write has been made at lastWriteMs_
    std::int64_t lastWriteMs_ = 0;
};

} // namespace vantor
