#pragma once
// Reading and writing the gateway's configuration file (vantor.INI beside the
// program).  Values are read once at start, in the order of the key table;
// commands that change a setting write that one key back at once.
#include "core/PrefixTable.h"
#include "core/Settings.h"

#include <string>
#include <string_view>
#include <vector>

namespace vantor {

class IniReader;
class TIniFile;
class LogWriter;
class TextSource;

// Reads from a profile parsed once (TIniFile::Snapshot), so each key costs
// one lookup however long the file is.  The warnings are worded by the
// language's numbered texts.
class ConfigReader {
public:
    ConfigReader(const IniReader& file, const TextSource& texts) : file_(file), texts_(texts) {}

    // [Set] Lang, read before the language file is loaded.
    std::string ReadLanguage() const;
    // Every other key, in table order; the [Prefix] section into `prefixes`.
    // Values out of their sensible range fall back to the default and leave a
    // warning text in `warnings` (the caller logs them).
    void ReadSettings(Settings& settings, PrefixTable& prefixes,
                      std::vector<std::string>& warnings) const;

private:
    std::string ReadText(const char* section, const char* key, const std::string& def,
                         std::size_t capacity = SettingsTextCapacity) const;
    std::int32_t ReadRanged(const char* section, const char* key, std::int32_t def,
                            std::int32_t min, std::int32_t max,
                            std::vector<std::string>& warnings) const;
    std::uint8_t ReadSwitch(const char* section, const char* key, std::uint8_t def) const;

    const IniReader& file_;
    const TextSource& texts_;
};

// Writes one value and reports a failure on the log instead of stopping the
// command that asked for it: a configuration that cannot be saved must not
// take the gateway down.
class ConfigWriter {
public:
    ConfigWriter(TIniFile& file, LogWriter& log) : file_(file), log_(log) {}
    bool Write(std::string_view section, std::string_view key, std::string_view value);
    bool WriteSwitch(std::string_view section, std::string_view key, std::uint8_t value) {
        return Write(section, key, value ? "1" : "0");
    }

private:
    TIniFile& file_;
    LogWriter& log_;
};

} // namespace vantor
