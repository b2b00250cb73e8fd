#pragma once
// An accounting file appender that keeps the appends in memory and fails on
// demand.  AppendLog is shared with the test, the appender is owned by the
// code under test.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "toolkit/FileAppender.h"

namespace vantor::test {

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

} // namespace vantor::test
