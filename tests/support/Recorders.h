#pragma once
// Recording stand-ins for the log writer and the language texts, shared by
// every unit test.  NumberTexts answers text n as "[n]" (Msg) and "{n}"
// (Text), so an expectation names the text number it wants.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/LogWriter.h"
#include "toolkit/TextSource.h"

namespace vantor::test {

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

    int Count(std::string_view label, std::string_view text) const {
        int n = 0;
        for (const auto& l : lines) n += (l.label == label && l.text == text);
        return n;
    }
    int CountLabel(std::string_view label) const {
        int n = 0;
        for (const auto& l : lines) n += l.label == label;
        return n;
    }
    bool Has(std::string_view label, std::string_view text) const { return Count(label, text) > 0; }
    bool HasLabel(std::string_view label) const { return CountLabel(label) > 0; }

    std::vector<LogLine> lines;
    std::string status;
};

class NumberTexts : public TextSource {
public:
    std::string Msg(int number) const override { return "[" + std::to_string(number) + "]"; }
    std::string Text(int number) override {
        fetched.push_back(number);
        return "{" + std::to_string(number) + "}";
    }
    std::vector<int> fetched; // Text() numbers in the order asked
};

// "[n]", as NumberTexts and the numbered language file answer Msg(n).
inline std::string T(int number) { return "[" + std::to_string(number) + "]"; }

} // namespace vantor::test
