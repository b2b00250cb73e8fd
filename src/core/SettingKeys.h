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

// The ranges the rows use.  A period of 0 would stop a timer for good and a
// negative one would wrap into weeks: timer periods run from 1 ms to a day.
inline constexpr std::int32_t SettingAnyInt = std::numeric_limits<std::int32_t>::max();
inline constexpr std::int32_t SettingOneDayMs = 86400000;
inline constexpr std::int32_t SettingOneDayS = 86400;

inline constexpr auto SettingKeys = std::to_array<SettingKey>({
    // Read first of all: the language of the warnings about the others.
    {.section = "Set", .key = "Lang", .text = &Settings::Lang, .defaultText = "Eng"},
    {.section = "Set", .key = "Port", .text = &Settings::Port, .defaultText = "COM2:19200,N,8,1"},
    // 0 binds any free port.
    {.section = "Set",
     .key = "IPPort",
     .number = &Settings::IPPort,
     .defaultValue = 1234,
     .min = 0,
     .max = 65535},
    {.section = "Log", .key = "Com_In", .flag = &Settings::Com_In, .defaultValue = 1},
    {.section = "Log", .key = "Com_PureIn", .flag = &Settings::Com_PureIn, .defaultValue = 1},
    {.section = "Log", .key = "Com_Out", .flag = &Settings::Com_Out},
    {.section = "Log", .key = "Com_LocOut", .flag = &Settings::Com_LocOut},
    {.section = "Log", .key = "TCP/IP_In", .flag = &Settings::TCPIP_In, .defaultValue = 1},
    {.section = "Log", .key = "TCP/IP_Out", .flag = &Settings::TCPIP_Out},
    {.section = "Log", .key = "Extent", .flag = &Settings::Extent},
    {.section = "Timer",
     .key = "Interval",
     .number = &Settings::Interval,
     .defaultValue = 100,
     .min = 1,
     .max = SettingOneDayMs},
    {.section = "Timer",
     .key = "ANInterval",
     .number = &Settings::ANInterval,
     .defaultValue = 600,
     .min = 1,
     .max = SettingOneDayMs},
    {.section = "Timer",
     .key = "ANTimeOut",
     .number = &Settings::ANTimeOut,
     .defaultValue = 10,
     .min = 0,
     .max = SettingOneDayS},
    {.section = "Timer",
     .key = "TrapInterval",
     .number = &Settings::TrapInterval,
     .defaultValue = 5000,
     .min = 1,
     .max = SettingOneDayMs},
    {.section = "Timer",
     .key = "MSGInterval",
     .number = &Settings::MSGInterval,
     .defaultValue = 11000,
     .min = 1,
     .max = SettingOneDayMs},
    {.section = "Timer",
     .key = "URInterval",
     .number = &Settings::URInterval,
     .defaultValue = 1000,
     .min = 1,
     .max = SettingOneDayMs},
    {.section = "Timer",
     .key = "URIntervalBezDat",
     .number = &Settings::URIntervalBezDat,
     .defaultValue = 3000,
     .min = 1,
     .max = SettingOneDayMs},
    {.section = "Timer",
     .key = "SWInterval",
     .number = &Settings::SWInterval,
     .defaultValue = 600,
     .min = 1,
     .max = SettingOneDayMs},
    {.section = "Timer",
     .key = "SWTimeOut",
     .number = &Settings::SWTimeOut,
     .defaultValue = 10,
     .min = 0,
     .max = SettingOneDayS},
    {.section = "Timer",
     .key = "Shorts",
     .number = &Settings::Shorts,
     .defaultValue = 40000,
     .min = 1,
     .max = SettingOneDayMs},
    {.section = "Timer",
     .key = "MaxTick",
     .number = &Settings::MaxTick,
     .defaultValue = 9,
     .min = 1,
     .max = SettingAnyInt},
    {.section = "Timer",
     .key = "MaxError",
     .number = &Settings::MaxError,
     .defaultValue = 6,
     .min = 1,
     .max = SettingAnyInt},
    {.section = "Timer",
     .key = "MaxErrorTick",
     .number = &Settings::MaxErrorTick,
     .defaultValue = 600,
     .min = 1,
     .max = SettingAnyInt},
    {.section = "Timer",
     .key = "PortRetry",
     .number = &Settings::PortRetry,
     .defaultValue = 5000,
     .min = 100,
     .max = SettingOneDayMs},
    {.section = "Timer",
     .key = "SendOnReply",
     .number = &Settings::SendOnReply,
     .defaultValue = 0,
     .min = 0,
     .max = 1},
    // Each cache entry takes about a kilobyte; a million entries is far
    // past any real use and still allocatable.
    {.section = "Set",
     .key = "MaxCache",
     .number = &Settings::MaxCache,
     .defaultValue = 110,
     .min = 0,
     .max = 1000000},
    {.section = "Set",
     .key = "MaxClients",
     .number = &Settings::MaxClients,
     .defaultValue = 1000,
     .min = 1,
     .max = 1000000},
    {.section = "Set", .key = "ReadUct", .flag = &Settings::ReadUct, .defaultValue = 1},
    {.section = "Set", .key = "SendUct", .flag = &Settings::SendUct},
    {.section = "Set", .key = "UctFile", .text = &Settings::UctFile, .defaultText = "DATA.NEW"},
    {.section = "Set", .key = "XAPI", .flag = &Settings::XAPI},
    {.section = "Set", .key = "IPBind", .text = &Settings::IPBind},
    // A list of addresses may be long; it is the gateway's own key.
    {.section = "Set", .key = "IPAllow", .text = &Settings::IPAllow, .capacity = 2000},
});

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
