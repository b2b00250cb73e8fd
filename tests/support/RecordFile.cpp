#include "RecordFile.h"

#include "ExchangeModel.h"

#include <charconv>
#include <vector>

namespace vantor::test {

namespace {

std::vector<std::string> Lines(const std::string& bytes, std::string& rest) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    for (std::size_t end; (end = bytes.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(bytes.substr(at, end - at));
    rest = bytes.substr(at);
    return lines;
}

std::uint64_t NumberOf(const std::string& line) {
    std::uint64_t n = 0;
    if (line.size() < 10 || line.compare(0, 4, "REC ") != 0) return 0;
    const char* digits = line.data() + 4;
    if (std::from_chars(digits, digits + 6, n).ptr != digits + 6) return 0;
    return n;
}

} // namespace

std::string RecordFileProblem(const std::string& fileBytes, std::uint64_t handed) {
    std::string rest;
    const std::vector<std::string> lines = Lines(fileBytes, rest);
    if (!rest.empty()) return "the file ends in half a line: " + rest;
    for (std::size_t i = 0; i < lines.size() && i < handed; ++i) {
        if (lines[i] == sim::ExchangeModel::RecordText(i + 1)) continue;
        const std::uint64_t n = NumberOf(lines[i]);
        std::string what = "line " + std::to_string(i + 1) + " is \"" + lines[i] + "\"";
        if (n != 0 && n <= i) return what + ": record " + std::to_string(n) + " doubled";
        if (n > i + 1) return what + ": record " + std::to_string(i + 1) + " missing";
        return what + ": not record " + std::to_string(i + 1);
    }
    if (lines.size() < handed)
        return std::to_string(lines.size()) + " records in the file, " + std::to_string(handed) +
               " handed out: records from " + std::to_string(lines.size() + 1) + " on missing";
    if (lines.size() > handed)
        return std::to_string(lines.size()) + " records in the file, only " +
               std::to_string(handed) + " handed out; line " + std::to_string(handed + 1) +
               " is \"" + lines[handed] + "\"";
    return "";
}

std::uint64_t LastRecordNumber(const std::string& fileBytes) {
    std::string rest;
    const std::vector<std::string> lines = Lines(fileBytes, rest);
    return lines.empty() ? 0 : NumberOf(lines.back());
}

} // namespace vantor::test
