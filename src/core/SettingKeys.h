#pragma once
// Every key of the configuration file the gateway reads into its Settings,
// in one table: section, key, the member it fills, its default and the range
// a number must keep.  The reader goes through the rows in order (so its
// warnings come in this order too), the writer finds a member's row, and a
// test holds the README's settings table against it; a new key is one row
// here (and its member in Settings).  The mail sections (M602, Trapy) belong
// to the mail bridge, which reads and writes them itself; [Prefix] is a list
// of its own.
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "core/Settings.h"

namespace vantor {

struct SettingKey {
    std::string_view section{};
    std::string_view key{};
    // The member the value goes to: exactly one of the three, by its type.
    std::string Settings::*text = nullptr;    // cut to `capacity` characters
    std::uint8_t Settings::*flag = nullptr;   // any integer but 0 is on; written "1"/"0"
    std::int32_t Settings::*number = nullptr; // decimal, or hexadecimal after 0x or $
    // The default: a text's, or a switch's or number's value.
    std::string_view defaultText{};
    std::int32_t defaultValue = 0;
    // A number outside min..max reads as the default, with an "!Err" naming
    // the key.
    std::int32_t min = 0;
    std::int32_t max = 0;
    std::size_t capacity = SettingsTextCapacity;
};

// The three kinds of row, and the rows.
namespace setting_rows {

constexpr SettingKey Text(std::string_view section, std::string_view key,
                          std::string Settings::*member, std::string_view defaultText = {},
                          std::size_t capacity = SettingsTextCapacity) {
    return {.section = section,
            .key = key,
            .text = member,
            .defaultText = defaultText,
            .capacity = capacity};
}
constexpr SettingKey Switch(std::string_view section, std::string_view key,
                            std::uint8_t Settings::*member, std::int32_t defaultValue) {
    return {.section = section, .key = key, .flag = member, .defaultValue = defaultValue};
}
constexpr SettingKey Number(std::string_view section, std::string_view key,
                            std::int32_t Settings::*member, std::int32_t defaultValue,
                            std::int32_t min, std::int32_t max) {
    return {.section = section,
            .key = key,
            .number = member,
            .defaultValue = defaultValue,
            .min = min,
            .max = max};
}

// A period of 0 would stop a timer for good and a negative one would wrap
// into weeks: timer periods run from 1 ms to a day.
inline constexpr std::int32_t OneDayMs = 86400000;
inline constexpr std::int32_t AnyCount = std::numeric_limits<std::int32_t>::max();

// clang-format off
inline constexpr auto SettingKeys = std::to_array<SettingKey>({
    // Read first of all: the language of the warnings about the others.
    Text("Set",     "Lang",             &Settings::Lang, "Eng"),
    Text("Set",     "Port",             &Settings::Port, "COM2:19200,N,8,1"),
    Number("Set",   "IPPort",           &Settings::IPPort, 1234, 0, 65535), // 0: any free port
    Switch("Log",   "Com_In",           &Settings::Com_In, 1),
    Switch("Log",   "Com_PureIn",       &Settings::Com_PureIn, 1),
    Switch("Log",   "Com_Out",          &Settings::Com_Out, 0),
    Switch("Log",   "Com_LocOut",       &Settings::Com_LocOut, 0),
    Switch("Log",   "TCP/IP_In",        &Settings::TCPIP_In, 1),
    Switch("Log",   "TCP/IP_Out",       &Settings::TCPIP_Out, 0),
    Switch("Log",   "Extent",           &Settings::Extent, 0),
    Number("Timer", "Interval",         &Settings::Interval, 100, 1, OneDayMs),
    Number("Timer", "ANInterval",       &Settings::ANInterval, 600, 1, OneDayMs),
    Number("Timer", "ANTimeOut",        &Settings::ANTimeOut, 10, 0, 86400),
    Number("Timer", "TrapInterval",     &Settings::TrapInterval, 5000, 1, OneDayMs),
    Number("Timer", "MSGInterval",      &Settings::MSGInterval, 11000, 1, OneDayMs),
    Number("Timer", "URInterval",       &Settings::URInterval, 1000, 1, OneDayMs),
    Number("Timer", "URIntervalBezDat", &Settings::URIntervalBezDat, 3000, 1, OneDayMs),
    Number("Timer", "SWInterval",       &Settings::SWInterval, 600, 1, OneDayMs),
    Number("Timer", "SWTimeOut",        &Settings::SWTimeOut, 10, 0, 86400),
    Number("Timer", "Shorts",           &Settings::Shorts, 40000, 1, OneDayMs),
    Number("Timer", "MaxTick",          &Settings::MaxTick, 9, 1, AnyCount),
    Number("Timer", "MaxError",         &Settings::MaxError, 6, 1, AnyCount),
    Number("Timer", "MaxErrorTick",     &Settings::MaxErrorTick, 600, 1, AnyCount),
    Number("Timer", "PortRetry",        &Settings::PortRetry, 5000, 100, OneDayMs),
    Number("Timer", "SendOnReply",      &Settings::SendOnReply, 0, 0, 1),
    // A cache entry takes about a kilobyte; a million is far past any real
    // use and still allocatable.
    Number("Set",   "MaxCache",         &Settings::MaxCache, 110, 0, 1000000),
    Number("Set",   "MaxClients",       &Settings::MaxClients, 1000, 1, 1000000),
    Switch("Set",   "ReadUct",          &Settings::ReadUct, 1),
    Switch("Set",   "SendUct",          &Settings::SendUct, 0),
    Text("Set",     "UctFile",          &Settings::UctFile, "DATA.NEW"),
    Switch("Set",   "XAPI",             &Settings::XAPI, 0),
    Text("Set",     "IPBind",           &Settings::IPBind),
    // A list of addresses may be long; it is the gateway's own key.
    Text("Set",     "IPAllow",          &Settings::IPAllow, "", 2000),
});
// clang-format on

} // namespace setting_rows

using setting_rows::SettingKeys;

// Each row fills one member, and no member twice.
constexpr bool EveryKeyHasOneMember() {
    for (std::size_t i = 0; i < SettingKeys.size(); ++i) {
        const SettingKey& row = SettingKeys[i];
        if ((row.text != nullptr) + (row.flag != nullptr) + (row.number != nullptr) != 1)
            return false;
        for (std::size_t j = 0; j < i; ++j) {
            const SettingKey& other = SettingKeys[j];
            if ((row.text && row.text == other.text) || (row.flag && row.flag == other.flag) ||
                (row.number && row.number == other.number) ||
                (row.section == other.section && row.key == other.key))
                return false;
        }
    }
    return true;
}
static_assert(EveryKeyHasOneMember(), "a settings row without exactly one member of its own");
static_assert(SettingKeys[0].text == &Settings::Lang, "the language is read first");

} // namespace vantor
