#pragma once
// Profile (INI) files with the private-profile rules the gateway relies on:
// section and key names match without regard to ASCII case and without their
// surrounding blanks, the first occurrence of a section or key wins, comment
// (';') and garbage lines are ignored, a missing file, section or key gives
// the default.  The files are 8-bit and kept byte for byte: a write changes
// one value in place (or appends the key to its section, or the section to
// the file) and leaves every other byte as it was.
//
// A file is parsed once into an IniDocument, which indexes its sections and
// keys, so a lookup costs the same however long the file is.  TIniFile keeps
// no copy: every read of a single key reads the file again (and a write reads
// it, changes it and replaces it through a temporary file in the same
// directory, so the value is on disk when the call returns and a crash never
// leaves a half-written file).  A reader that asks for many keys, such as the
// configuration at start, takes a Snapshot() once and reads from it.
//
// Files larger than MaxProfileFileSize are not profiles anyone wrote by hand:
// they are refused (read as empty, never rewritten) rather than parsed, so a
// runaway file cannot hold up the start or eat the memory.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vantor {

class EIniFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr std::size_t MaxProfileFileSize = 1024 * 1024;

// A profile file read whole, or the reason it was not.
struct ProfileFileText {
    std::optional<std::string> text; // nullopt: missing, unreadable or refused
    // Empty when the file was read or does not exist; otherwise one line that
    // names the file and says why it was not used ("... is larger than ...").
    std::string refusal;
};
// Reads the file at `path` whole when it is a regular file no larger than
// `limit` bytes.
ProfileFileText ReadProfileFile(const std::string& path, std::size_t limit = MaxProfileFileSize);

// The read side of a profile: what the readers of settings need, whether the
// values come from a file read at each call or from a text parsed once.
class IniReader {
public:
    virtual ~IniReader() = default;

    virtual std::optional<std::string> Value(std::string_view section,
                                             std::string_view key) const = 0;
    // name/value pairs of a section in file order (each name once, first value).
    virtual std::vector<std::pair<std::string, std::string>>
    Values(std::string_view section) const = 0;
    virtual bool HasSection(std::string_view section) const = 0;

    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view def) const;
    // Decimal with optional sign, or hexadecimal after "0x", "0X" or "$";
    // anything else, or a value outside 32 bits, gives def.
    std::int32_t ReadInteger(std::string_view section, std::string_view key,
                             std::int32_t def) const;
    // An integer that is not 0 reads as true.
    bool ReadBool(std::string_view section, std::string_view key, bool def) const;
    // Key names of a section in file order (each name once, first spelling).
    std::vector<std::string> ReadSection(std::string_view section) const;
    std::vector<std::pair<std::string, std::string>>
    ReadSectionValues(std::string_view section) const {
        return Values(section);
    }
    bool SectionExists(std::string_view section) const { return HasSection(section); }
};

// One profile text, parsed and indexed.  Lines are kept exactly as they came
// (line ends included), so Serialize() gives back the input until something
// is Set.
class IniDocument final : public IniReader {
public:
    static IniDocument Parse(std::string_view text);

    std::optional<std::string> Value(std::string_view section, std::string_view key) const override;
    bool HasSection(std::string_view section) const override;
    std::vector<std::pair<std::string, std::string>>
    Values(std::string_view section) const override;
    // Key names of a section in file order (each name once, first spelling).
    std::vector<std::string> Keys(std::string_view section) const;

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
    // Where the first section of a name lies, and its keys' first lines.
    struct SectionIndex {
        std::size_t header = 0;                            // line of "[name]"
        std::size_t end = 0;                               // first line after the section
        std::vector<std::size_t> keyLines;                 // first line of each key, in file order
        std::unordered_map<std::string, std::size_t> keys; // upper-cased name -> line
    };
    static Line Classify(std::string text, std::string end);
    // Builds the index from the lines (after a parse and after each Set).
    void Reindex();
    const SectionIndex* FindSection(std::string_view section) const;
    std::optional<std::size_t> FindKey(const SectionIndex& s, std::string_view key) const;
    std::string ValueOf(std::size_t line) const;
    std::string NewLineEnd() const;

    std::vector<Line> lines_;
    std::unordered_map<std::string, SectionIndex> sections_; // upper-cased name -> index
};

// A profile file read once, and why it could not be (for the caller's log).
struct IniSnapshot {
    IniDocument document; // empty when the file is missing or refused
    std::string refusal;  // see ProfileFileText
};

class TIniFile final : public IniReader {
public:
    explicit TIniFile(std::string path);
    const std::string& FileName() const { return path_; }
    bool Exists() const;

    // Each call reads the file again (missing, unreadable or refused reads
    // as empty).
    std::optional<std::string> Value(std::string_view section, std::string_view key) const override;
    std::vector<std::pair<std::string, std::string>>
    Values(std::string_view section) const override;
    bool HasSection(std::string_view section) const override;

    // The whole file, read and parsed once.
    IniSnapshot Snapshot() const;

    // A failed write throws EIniFileError naming the file and the reason; the
    // file is then as it was before the call.  A value that a read would
    // change (blanks or control characters at an end, matching quotes around
    // it) is written in double quotes, so every value reads back as written.  A file above the size limit is
    // never rewritten.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);
    void WriteBool(std::string_view section, std::string_view key, bool value); // "1" / "0"

private:
    IniDocument Load() const;
    std::string path_;
};

} // namespace vantor
