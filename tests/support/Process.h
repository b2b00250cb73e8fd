#pragma once
// A child program for end-to-end tests: started with arguments, environment and
// working directory, with pipes on its stdin, stdout and stderr.  A reader
// thread drains both output pipes all the time, so a chatty child never blocks
// on a full pipe while the test is busy elsewhere; the test waits for lines
// with a time-out.  The destructor stops the child (SIGTERM, then SIGKILL) and
// reaps it, so no zombie and no descriptor outlives the object.  The child
// also gets SIGTERM when the thread that created the object dies (Linux
// parent-death signal), so a crashed test leaves nothing running.
#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <regex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vantor::test {

struct ProcessOptions {
    std::vector<std::string> args = {};          // argv[1..]
    std::string workingDirectory = {};           // empty: the test's own
    bool inheritEnvironment = true;              // start from the test's environment
    std::map<std::string, std::string> env = {}; // set (or override) these
    std::vector<std::string> unsetEnv = {};      // and remove these
    // Copy every output line to the test's stderr with a prefix, for debugging
    // (also switched on by the environment variable VANTOR_TEST_ECHO=1).
    bool echo = false;
    std::string echoPrefix = {}; // default: program's file name
};

class ProcessError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Process {
public:
    enum class Stream { Stdout, Stderr };
    using Clock = std::chrono::steady_clock;
    using Millis = std::chrono::milliseconds;

    // Starts the program at once; throws ProcessError when it cannot be
    // started (no such file, not executable, bad working directory).
    Process(std::string program, ProcessOptions options = {});
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const { return pid_; }
    const std::string& program() const { return program_; }

    // Writes to the child's stdin; false when the pipe is closed or the child gone.
    bool Write(std::string_view bytes);
    bool WriteLine(std::string_view line) { return Write(std::string(line) + "\n"); }
    void CloseStdin();

    // Waits for the next line (after the stream's read cursor) that contains
    // the substring / matches the regex (std::regex_search), moves the cursor
    // past it and returns it; nullopt on time-out or when the stream ended
    // without such a line.  Lines skipped on the way stay in Lines().
    std::optional<std::string> WaitForLine(std::string_view substring, Millis timeout,
                                           Stream stream = Stream::Stdout);
    std::optional<std::string> WaitForLine(const std::regex& pattern, Millis timeout,
                                           Stream stream = Stream::Stdout);
    // The next line after the cursor, whatever it holds.
    std::optional<std::string> ReadLine(Millis timeout, Stream stream = Stream::Stdout);
    // The same waits with a cursor of the caller's own (an index into Lines(),
    // advanced past the match), for helpers that follow several kinds of
    // lines independently of each other and of the stream's cursor.
    std::optional<std::string> WaitForLineAfter(std::size_t& cursor, std::string_view substring,
                                                Millis timeout, Stream stream = Stream::Stdout);
    std::optional<std::string> WaitForLineAfter(std::size_t& cursor, const std::regex& pattern,
                                                Millis timeout, Stream stream = Stream::Stdout);

    // Every complete line seen so far (without the line end; a trailing CR is
    // kept), and the unfinished rest; independent of the cursor.
    std::vector<std::string> Lines(Stream stream = Stream::Stdout) const;
    std::string Output(Stream stream = Stream::Stdout) const; // all bytes so far
    // Whether any line seen so far contains the substring (cursor ignored).
    bool HasLine(std::string_view substring, Stream stream = Stream::Stdout) const;
    // Moves the cursor to the end: later waits only see lines that come after now.
    void SkipSeenLines(Stream stream = Stream::Stdout);

    bool Signal(int sig); // false when the child is already reaped
    bool Running();       // not yet exited (reaps when it has)
    // Waits for the child to end; returns its wait status (see ExitCode /
    // TermSignal), or nullopt on time-out (the child keeps running).
    std::optional<int> WaitExit(Millis timeout);
    // SIGKILL and reap; returns the wait status.
    int Kill();

    // Helpers to read a wait status: exit code, or -1 when killed by a signal;
    // the signal number, or 0 when it exited normally.
    static int ExitCode(int status);
    static int TermSignal(int status);

private:
    struct StreamBuffer {
        std::string bytes;              // everything received
        std::vector<std::string> lines; // complete lines
        std::size_t partialStart = 0;   // offset of the unfinished line in bytes
        std::size_t cursor = 0;         // next line index for the waits
        bool ended = false;
    };

    template <class Match>
    std::optional<std::string> waitFor(Match match, Millis timeout, Stream stream,
                                       std::size_t* cursor = nullptr);
    void readerLoop();
    void append(StreamBuffer& buffer, const char* data, std::size_t size, const char* tag);
    StreamBuffer& buffer(Stream s) { return s == Stream::Stdout ? out_ : err_; }
    const StreamBuffer& buffer(Stream s) const { return s == Stream::Stdout ? out_ : err_; }
    bool reap(bool block);
    void stopReader();

    std::string program_;
    std::string echoPrefix_;
    bool echo_ = false;
    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = 0;
    int stdinFd_ = -1;
    int stdoutFd_ = -1;
    int stderrFd_ = -1;
    int wakeRead_ = -1; // self-pipe that stops the reader thread
    int wakeWrite_ = -1;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    StreamBuffer out_;
    StreamBuffer err_;
    std::thread reader_;
};

} // namespace vantor::test
