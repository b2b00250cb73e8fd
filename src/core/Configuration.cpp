#include "core/Configuration.h"

#include "core/SettingKeys.h"
#include "nls/TextIds.h"
#include "toolkit/IniFile.h"
#include "toolkit/LogWriter.h"
#include "toolkit/Strings.h"
#include "toolkit/TextSource.h"

#include <stdexcept>

namespace vantor {

namespace {

template <class Member>
const SettingKey& KeyOf(Member SettingKey::*column, Member member) {
    for (const SettingKey& key : SettingKeys)
        if (key.*column == member) return key;
    throw std::logic_error("a setting without its row in the settings table");
}

} // namespace

std::int32_t ConfigReader::ReadRanged(const SettingKey& key,
                                      std::vector<std::string>& warnings) const {
    const std::int32_t def = key.defaultValue;
    const std::optional<std::string> text = file_.Value(key.section, key.key);
    if (!text) return def;
    const std::optional<std::int32_t> value = ParseInt32(*text);
    const std::string where = "[" + std::string(key.section) + "] " + std::string(key.key) + "=";
    // A value that is not a number reads as the default, but a technician
    // who typed it wants to know it was not taken.
    if (!value) {
        warnings.push_back(
            FormatText(texts_.Msg(msg::SettingNotANumber), {where + *text, std::to_string(def)}));
        return def;
    }
    if (*value >= key.min && *value <= key.max) return *value;
    warnings.push_back(FormatText(texts_.Msg(msg::SettingOutOfRange),
                                  {where + std::to_string(*value), std::to_string(key.min),
                                   std::to_string(key.max), std::to_string(def)}));
    return def;
}

void ConfigReader::Read(const SettingKey& key, Settings& settings,
                        std::vector<std::string>& warnings) const {
    if (key.text)
        settings.*key.text =
            CutToField(file_.ReadString(key.section, key.key, key.defaultText), key.capacity);
    else if (key.flag)
        settings.*key.flag = file_.ReadBool(key.section, key.key, key.defaultValue != 0) ? 1 : 0;
    else
        settings.*key.number = ReadRanged(key, warnings);
}

std::string ConfigReader::ReadLanguage() const {
    Settings settings;
    std::vector<std::string> none;
    Read(SettingKeys[0], settings, none);
    return settings.Lang;
}

void ConfigReader::ReadSettings(Settings& settings, PrefixTable& prefixes,
                                std::vector<std::string>& warnings) const {
    // The language was read first, and the gateway keeps it as its file
    // spells it.
    for (std::size_t i = 1; i < SettingKeys.size(); ++i) Read(SettingKeys[i], settings, warnings);
    std::vector<PrefixTable::Entry> entries;
    for (auto& [name, value] : file_.ReadSectionValues("Prefix")) entries.emplace_back(name, value);
    prefixes = PrefixTable(std::move(entries));
}

bool ConfigWriter::Save(const Settings& settings, std::string Settings::*member) {
    const SettingKey& key = KeyOf(&SettingKey::text, member);
    return Write(key.section, key.key, settings.*member);
}

bool ConfigWriter::Save(const Settings& settings, std::uint8_t Settings::*member) {
    const SettingKey& key = KeyOf(&SettingKey::flag, member);
    return Write(key.section, key.key, settings.*member ? "1" : "0");
}

bool ConfigWriter::Save(const Settings& settings, std::int32_t Settings::*member) {
    const SettingKey& key = KeyOf(&SettingKey::number, member);
    return Write(key.section, key.key, std::to_string(settings.*member));
}

bool ConfigWriter::Write(std::string_view section, std::string_view key, std::string_view value) {
    try {
        file_.WriteString(std::string(section), std::string(key), std::string(value));
        return true;
    } catch (const std::exception& e) {
        log_.WriteLog(labels::Error, e.what());
        return false;
    }
}

} // namespace vantor
