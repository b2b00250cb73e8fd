#pragma once
// An accounting file appender that keeps the appends and the replaced files
// in memory and fails on demand.  AppendLog is shared with the test, the appender is owned by the
// code under test.
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "toolkit/FileAppender.h"

namespace vantor::test {

struct AppendLog {
    bool fail = false;
    // The file's last line from before the test (none: a new file).
    std::optional<std::string> existing;
    std::vector<std::pair<std::string, std::string>> appends; // path, bytes
    bool failReplace = false;
    std::map<std::string, std::string> files; // replaced whole: path -> content
};

class FakeAppender : public FileAppender {
public:
    explicit FakeAppender(AppendLog& log) : log_(log) {}
    bool Append(const std::string& path, std::string_view bytes) override {
        if (log_.fail) return false;
        log_.appends.emplace_back(path, std::string(bytes));
        return true;
    }
    std::string errorText() const override {
        return log_.fail ? "locked" : log_.failReplace ? "read-only" : "";
    }
    std::optional<std::string> LastLine(const std::string& path) override {
        for (auto it = log_.appends.rbegin(); it != log_.appends.rend(); ++it) {
            if (it->first != path) continue;
            std::string line = it->second;
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
            return line;
        }
        return log_.existing;
    }
    bool Replace(const std::string& path, std::string_view bytes) override {
        if (log_.failReplace) return false;
        log_.files[path] = std::string(bytes);
        return true;
    }
    std::optional<std::string> ReadSmall(const std::string& path, std::size_t limit) override {
        const auto it = log_.files.find(path);
        if (it == log_.files.end() || it->second.size() > limit) return std::nullopt;
        return it->second;
    }

private:
    AppendLog& log_;
};

} // namespace vantor::test
