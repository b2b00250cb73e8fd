#pragma once
// The library's own log: one line per event, to the file vantorq9.log in the
// work directory the gateway passes and to standard error, so a technician
// finds the reason for a failed start or a refused message in either place.
// The debug level (SetDebugLevel) decides how much is written: 0 errors,
// warnings and the start and stop lines, 1 also every message sent and every
// mailbox change, 2 also scans and reads, 3 also the SMTP dialogue.  The file
// is started afresh (the old one kept as vantorq9.log.1) when it passes 1 MiB.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace vantorq9 {

enum class LogLevel : std::uint32_t { Error = 0, Info = 1, Detail = 2, Trace = 3 };

class Logger {
public:
    static constexpr const char* FileName = "vantorq9.log";
    static constexpr long RotateBytes = 1L << 20;

    Logger() = default;
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    void SetLevel(std::uint32_t level) { level_ = level; }
    std::uint32_t Level() const { return level_; }
    bool Enabled(LogLevel level) const { return static_cast<std::uint32_t>(level) <= level_; }

    // Writes from now on to FileName in `folder` as well as to standard error.
    // Returns an empty text, or why the file could not be opened (then only
    // standard error gets the lines).
    std::string OpenIn(const std::string& folder);
    void Close();
    // Tests read the lines back from here; empty when no file is open.
    std::string Path() const;
    // Standard error can be silenced (the library tests check the file).
    void SetEchoToStderr(bool on) { echo_ = on; }

    void Error(std::string_view text) { Write(LogLevel::Error, "ERROR ", text); }
    void Warning(std::string_view text) { Write(LogLevel::Error, "WARN  ", text); }
    void Notice(std::string_view text) { Write(LogLevel::Error, "NOTE  ", text); }
    void Info(std::string_view text) { Write(LogLevel::Info, "INFO  ", text); }
    void Detail(std::string_view text) { Write(LogLevel::Detail, "DETAIL", text); }
    void Trace(std::string_view text) { Write(LogLevel::Trace, "TRACE ", text); }

private:
    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    void Write(LogLevel level, std::string_view tag, std::string_view text);
    void RotateIfLarge();

    std::atomic<std::uint32_t> level_{0};
    std::atomic<bool> echo_{true};
    mutable std::mutex mutex_;
    std::unique_ptr<std::FILE, FileCloser> file_;
    std::string path_;
};

// A text made safe for one log line: control characters shown as \xNN,
// invalid UTF-8 as U+FFFD, cut after about `limit` bytes.
std::string Printable(std::string_view text, std::size_t limit = 200);

} // namespace vantorq9
