#pragma once
// The library's configuration file is a plain INI text: [Section] lines,
// key = value lines, comment lines starting with ';' or '#', blank lines.
// Names of sections and keys are compared without regard to case; values are
// taken as they stand (trimmed), so a password may hold ';' or '#'.  Anything
// else on a line is an error that names the line, so a garbled file is
// refused with a reason instead of being half understood.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantorq9 {

struct IniEntry {
    std::string key;
    std::string value;
    int line = 0;
};

struct IniSection {
    std::string name; // as written, trimmed
    int line = 0;
    std::vector<IniEntry> entries;
};

// Parses the whole text; nullopt with `error` ("line 7: ...") when a line is
// neither a section, an entry, a comment nor blank.  Entries before the first
// section are an error too.
std::optional<std::vector<IniSection>> ParseIni(std::string_view text, std::string& error);

bool SameName(std::string_view a, std::string_view b);
std::string_view Trim(std::string_view text);

} // namespace vantorq9
