#pragma once
// Durable writes for the accounting file: an exchange record that the gateway
// has taken over must be on disk before the next one is asked for.  Beside
// the appends, a small state file is replaced whole, with the same care.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vantor {

class FileAppender {
public:
    virtual ~FileAppender() = default;
    // Appends bytes at the end of the file, creating it when missing.  While the
    // file is open other programs may read it but not write it.  Returns true
    // only when every byte was written and flushed to the device; on false,
    // errorText() says why.
    virtual bool Append(const std::string& path, std::string_view bytes) = 0;
    virtual std::string errorText() const = 0;
    // The file's last line without its line end (a final line end does not
    // start a line of its own); none when the file is missing, unreadable or
    // empty.
    virtual std::optional<std::string> LastLine(const std::string& path) = 0;
    // Replaces the file's whole content by `bytes`.  True only when the new
    // content is on the device; whatever happens, a reader (or the next start
    // after a crash) finds either the old content or the new, never a mix.
    // On false, errorText() says why.
    virtual bool Replace(const std::string& path, std::string_view bytes) = 0;
    // The content of a small file; none when it is missing, unreadable or
    // longer than `limit` bytes.
    virtual std::optional<std::string> ReadSmall(const std::string& path, std::size_t limit) = 0;

protected:
    // A record is a short line: this much of the file's end holds the last one.
    static constexpr std::size_t LastLineTail = 64 * 1024;
    // The last line of `tail`, the file's end, as LastLine gives it.
    static std::optional<std::string> LastLineOf(std::string tail) {
        while (!tail.empty() && (tail.back() == '\n' || tail.back() == '\r')) tail.pop_back();
        if (tail.empty()) return std::nullopt;
        const std::size_t start = tail.find_last_of("\r\n");
        return start == std::string::npos ? tail : tail.substr(start + 1);
    }
};

} // namespace vantor
