#pragma once
// Reading and writing the gateway's configuration file (vantor.INI beside the
// program).  Values are read once at start, in the order of the settings
// table (core/SettingKeys.h); commands that change a setting write that one
// key back at once.
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
struct SettingKey;

// Reads from a profile parsed once (TIniFile::Snapshot), so each key costs
// one lookup however long the file is.  The warnings are worded by the
// language's numbered texts.
class ConfigReader {
public:
    ConfigReader(const IniReader& file, const TextSource& texts) : file_(file), texts_(texts) {}

    // [Set] Lang, read before the language file is loaded.
    std::string ReadLanguage() const;
    // Every other key, in table order; the [Prefix] section into `prefixes`.
    // Values out of their range fall back to the default and leave a warning
    // text in `warnings` (the caller logs them).
    void ReadSettings(Settings& settings, PrefixTable& prefixes,
                      std::vector<std::string>& warnings) const;

private:
    void Read(const SettingKey& key, Settings& settings, std::vector<std::string>& warnings) const;
    std::int32_t ReadRanged(const SettingKey& key, std::vector<std::string>& warnings) const;

    const IniReader& file_;
    const TextSource& texts_;
};

// Writes one value and reports a failure on the log instead of stopping the
// command that asked for it: a configuration that cannot be saved must not
// take the gateway down.
class ConfigWriter {
public:
    ConfigWriter(TIniFile& file, LogWriter& log) : file_(file), log_(log) {}
    // One setting under its section and key, as the table says: texts as
    // they are, switches as "1" or "0", numbers in decimal.
    bool Save(const Settings& settings, std::string Settings::*member);
    bool Save(const Settings& settings, std::uint8_t Settings::*member);
    bool Save(const Settings& settings, std::int32_t Settings::*member);

private:
    bool Write(std::string_view section, std::string_view key, std::string_view value);

    TIniFile& file_;
    LogWriter& log_;
};

} // namespace vantor
