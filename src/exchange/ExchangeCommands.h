#pragma once
// The exchange's command bytes (first byte of a request payload) and the
// sub-command bytes of queries and writes that the gateway itself builds or
// looks at.  One list, so the store, the relay and the dispatch agree.
#include <cstdint>

namespace vantor::exchange {

inline constexpr std::uint8_t CmdQuery = 0x00;
inline constexpr std::uint8_t CmdWrite = 0x01;
inline constexpr std::uint8_t CmdInfo = 0x02;
inline constexpr std::uint8_t CmdAccountingNext = 0x04;
inline constexpr std::uint8_t CmdAccountingAgain = 0x05;
inline constexpr std::uint8_t CmdConfiguration = 0x0D;
inline constexpr std::uint8_t CmdSW = 0x0E;
inline constexpr std::uint8_t CmdKey = 0x12;
inline constexpr std::uint8_t CmdQueue = 0x21;
inline constexpr std::uint8_t CmdQueueAction = 0x22;
inline constexpr std::uint8_t CmdShortEntry = 0x24;
inline constexpr std::uint8_t CmdHold = 0x26;

inline constexpr std::uint8_t SubMessageSlot = 0x01;
inline constexpr std::uint8_t SubPortList = 0x0E;
inline constexpr std::uint8_t SubCounters = 0x11;
inline constexpr std::uint8_t SubLineStates = 0x16;
inline constexpr std::uint8_t SubShortBlock = 0x18;
inline constexpr std::uint8_t SubPersonalBlock = 0x19;
inline constexpr std::uint8_t SubPortStructure = 0x28;
inline constexpr std::uint8_t SubCallerData = 0x2F;

} // namespace vantor::exchange
