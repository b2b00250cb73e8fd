#include "core/Configuration.h"

#include "nls/TextIds.h"
#include "toolkit/IniFile.h"
#include "toolkit/LogWriter.h"
#include "toolkit/Strings.h"
#include "toolkit/TextSource.h"

#include <limits>

namespace vantor {

namespace {
constexpr std::int32_t AnyInt = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t OneDayMs = 86400000;
} // namespace

std::string ConfigReader::ReadText(const char* section, const char* key, const std::string& def,
                                   std::size_t capacity) const {
    return CutToField(file_.ReadString(section, key, def), capacity);
}

std::uint8_t ConfigReader::ReadSwitch(const char* section, const char* key,
                                      std::uint8_t def) const {
    return file_.ReadBool(section, key, def != 0) ? 1 : 0;
}

std::int32_t ConfigReader::ReadRanged(const char* section, const char* key, std::int32_t def,
                                      std::int32_t min, std::int32_t max,
                                      std::vector<std::string>& warnings) const {
    const std::optional<std::string> text = file_.Value(section, key);
    if (!text) return def;
    const std::optional<std::int32_t> value = ParseInt32(*text);
    const std::string where = "[" + std::string(section) + "] " + key + "=";
    // A value that is not a number reads as the default, but a technician
    // who typed it wants to know it was not taken.
    if (!value) {
        warnings.push_back(
            FormatText(texts_.Msg(msg::SettingNotANumber), {where + *text, std::to_string(def)}));
        return def;
    }
    if (*value >= min && *value <= max) return *value;
    warnings.push_back(FormatText(texts_.Msg(msg::SettingOutOfRange),
                                  {where + std::to_string(*value), std::to_string(min),
                                   std::to_string(max), std::to_string(def)}));
    return def;
}

std::string ConfigReader::ReadLanguage() const { return ReadText("Set", "Lang", "Eng"); }

void ConfigReader::ReadSettings(Settings& s, PrefixTable& prefixes,
                                std::vector<std::string>& w) const {
    const Settings d; // the defaults
    s.Port = ReadText("Set", "Port", d.Port);
    s.IPPort = ReadRanged("Set", "IPPort", d.IPPort, 0, 65535, w);
    s.Com_In = ReadSwitch("Log", "Com_In", d.Com_In);
    s.Com_PureIn = ReadSwitch("Log", "Com_PureIn", d.Com_PureIn);
    s.Com_Out = ReadSwitch("Log", "Com_Out", d.Com_Out);
    s.Com_LocOut = ReadSwitch("Log", "Com_LocOut", d.Com_LocOut);
    s.TCPIP_In = ReadSwitch("Log", "TCP/IP_In", d.TCPIP_In);
    s.TCPIP_Out = ReadSwitch("Log", "TCP/IP_Out", d.TCPIP_Out);
    s.Extent = ReadSwitch("Log", "Extent", d.Extent);
    // A period of 0 would stop a timer for good and a negative one would wrap
    // into weeks; both are refused rather than silently stalling the link.
    s.Interval = ReadRanged("Timer", "Interval", d.Interval, 1, OneDayMs, w);
    s.ANInterval = ReadRanged("Timer", "ANInterval", d.ANInterval, 1, OneDayMs, w);
    s.ANTimeOut = ReadRanged("Timer", "ANTimeOut", d.ANTimeOut, 0, 86400, w);
    s.TrapInterval = ReadRanged("Timer", "TrapInterval", d.TrapInterval, 1, OneDayMs, w);
    s.MSGInterval = ReadRanged("Timer", "MSGInterval", d.MSGInterval, 1, OneDayMs, w);
    s.URInterval = ReadRanged("Timer", "URInterval", d.URInterval, 1, OneDayMs, w);
    s.URIntervalBezDat =
        ReadRanged("Timer", "URIntervalBezDat", d.URIntervalBezDat, 1, OneDayMs, w);
    s.SWInterval = ReadRanged("Timer", "SWInterval", d.SWInterval, 1, OneDayMs, w);
    s.SWTimeOut = ReadRanged("Timer", "SWTimeOut", d.SWTimeOut, 0, 86400, w);
    s.Shorts = ReadRanged("Timer", "Shorts", d.Shorts, 1, OneDayMs, w);
    s.MaxTick = ReadRanged("Timer", "MaxTick", d.MaxTick, 1, AnyInt, w);
    s.MaxError = ReadRanged("Timer", "MaxError", d.MaxError, 1, AnyInt, w);
    s.MaxErrorTick = ReadRanged("Timer", "MaxErrorTick", d.MaxErrorTick, 1, AnyInt, w);
    s.PortRetry = ReadRanged("Timer", "PortRetry", d.PortRetry, 100, OneDayMs, w);
    s.SendOnReply = ReadRanged("Timer", "SendOnReply", d.SendOnReply, 0, 1, w);
    // Each cache entry takes about a kilobyte; a million entries is far past
    // any real use and still allocatable.
    s.MaxCache = ReadRanged("Set", "MaxCache", d.MaxCache, 0, 1000000, w);
    s.MaxClients = ReadRanged("Set", "MaxClients", d.MaxClients, 1, 1000000, w);
    s.ReadUct = ReadSwitch("Set", "ReadUct", d.ReadUct);
    s.SendUct = ReadSwitch("Set", "SendUct", d.SendUct);
    s.UctFile = ReadText("Set", "UctFile", d.UctFile);
    s.XAPI = ReadSwitch("Set", "XAPI", d.XAPI);
    s.IPBind = ReadText("Set", "IPBind", d.IPBind);
    // A list of addresses may be long; it is the gateway's own key.
    s.IPAllow = ReadText("Set", "IPAllow", d.IPAllow, 2000);
    std::vector<PrefixTable::Entry> entries;
    for (auto& [name, value] : file_.ReadSectionValues("Prefix")) entries.emplace_back(name, value);
    prefixes = PrefixTable(std::move(entries));
}

bool ConfigWriter::Write(std::string_view section, std::string_view key, std::string_view value) {
    try {
        file_.WriteString(std::string(section), std::string(key), std::string(value));
        return true;
    } catch (const std::exception& e) {
        log_.WriteLog("!Err", e.what());
        return false;
    }
}

} // namespace vantor
