#pragma once
// Profile (INI) files with the private-profile rules the gateway relies on:
// section and key names match without regard to ASCII case and without their
// surrounding blanks, the first occurrence of a section or key wins, comment
// (';') and garbage lines are ignored, a missing file, section or key gives
// the default.  The files are 8-bit and kept byte for byte: a write changes
// one value in place (or appends the key to its section, or the section to
// the file) and leaves every other byte as it was.
//
// TIniFile keeps no copy: every read opens, reads and closes the file, every
// write reads it, changes it and replaces it through a temporary file in the
// same directory, so the value is on disk when the call returns and a crash
// never leaves a half-written file.
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantor {

class EIniFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One profile text, parsed.  Lines are kept exactly as they came (line ends
// included), so Serialize() gives back the input until something is Set.
class IniDocument {
public:
    static IniDocument Parse(std::string_view text);

    std::optional<std::string> Value(std::string_view section, std::string_view key) const;
    bool HasSection(std::string_view section) const;
    // Key names of a section in file order (each name once, first spelling).
    std::vector<std::string> Keys(std::string_view section) const;
    // name/value pairs of a section in file order (each name once, first value).
    std::vector<std::pair<std::string, std::string>> Values(std::string_view section) const;

    // Replaces the value of the key's first occurrence in place, or appends
    // "key=value" after the section's last key line, or appends the section
    // and the key at the end.  New lines end as the text's first line does
    // (CR LF for an empty text).
    void Set(std::string_view section, std::string_view key, std::string_view value);

    std::string Serialize() const;

private:
    struct Line {
        std::string text; // the line's bytes without its line end
        std::string end;  // "\r\n", "\n", "\r" or "" (last line without one)
        enum Kind { Other, Section, Key } kind = Other;
        std::string name;                         // section or key name, trimmed
        std::size_t valueBegin = 0, valueEnd = 0; // trimmed value within text
    };
    static Line Classify(std::string text, std::string end);
    // Index of the section's header line, or npos.
    std::size_t FindSection(std::string_view section) const;
    std::size_t SectionEnd(std::size_t header) const; // first line after it
    std::string NewLineEnd() const;

    std::vector<Line> lines_;
};

class TIniFile {
public:
    explicit TIniFile(std::string path);
    const std::string& FileName() const { return path_; }
    bool Exists() const;

    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view def) const;
    // Decimal with optional sign, or hexadecimal after "0x", "0X" or "$";
    // anything else, or a value outside 32 bits, gives def.
    std::int32_t ReadInteger(std::string_view section, std::string_view key,
                             std::int32_t def) const;
    // An integer that is not 0 reads as true.
    bool ReadBool(std::string_view section, std::string_view key, bool def) const;
    std::vector<std::string> ReadSection(std::string_view section) const;
    std::vector<std::pair<std::string, std::string>>
    ReadSectionValues(std::string_view section) const;
    bool SectionExists(std::string_view section) const;

    // A failed write throws EIniFileError naming the file and the reason; the
    // file is then as it was before the call.  A value that a read would
    // change (blanks or control characters at an end, matching quotes around
    // it) is written in double quotes, so every value reads back as written.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);
    void WriteBool(std::string_view section, std::string_view key, bool value); // "1" / "0"

private:
    IniDocument Load() const; // an unreadable or missing file reads as empty
    std::string path_;
};

} // namespace vantor
