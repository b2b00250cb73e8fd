#include "IniText.h"

namespace vantorq9 {

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

bool HasControl(std::string_view text) {
    for (const char c : text)
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F) return true;
    return false;
}

} // namespace

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

std::string_view Trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::optional<std::vector<IniSection>> ParseIni(std::string_view text, std::string& error) {
    std::vector<IniSection> sections;
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3); // a UTF-8 byte-order mark
    int number = 0;
    while (!text.empty()) {
        ++number;
        const std::size_t end = text.find('\n');
        std::string_view raw = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (raw.ends_with('\r')) raw.remove_suffix(1);
        const std::string_view line = Trim(raw);
        auto fail = [&](const std::string& what) {
            error = "line " + std::to_string(number) + ": " + what;
            return std::nullopt;
        };
        if (HasControl(line)) return fail("control characters (is this a text file?)");
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
            if (line.back() != ']') return fail("a section name must end with ']'");
            const std::string_view name = Trim(line.substr(1, line.size() - 2));
            if (name.empty()) return fail("empty section name");
            sections.push_back({std::string(name), number, {}});
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) return fail("expected 'key = value' or '[section]'");
        const std::string_view key = Trim(line.substr(0, eq));
        if (key.empty()) return fail("a key is missing before '='");
        if (sections.empty()) return fail("'" + std::string(key) + "' stands before any [section]");
        sections.back().entries.push_back(
            {std::string(key), std::string(Trim(line.substr(eq + 1))), number});
    }
    return sections;
}

} // namespace vantorq9
