#pragma once
// CRC-32 of the exchange frames: the IEEE 802.3 / zlib CRC (reflected
// polynomial 0xEDB88320, initial value 0xFFFFFFFF, final XOR 0xFFFFFFFF).
#include <array>
#include <cstdint>
#include <span>

namespace vantor {

namespace detail {
constexpr std::array<std::uint32_t, 256> MakeCrc32Table() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}
} // namespace detail

// The standard 256-entry table, computed at compile time.
inline constexpr std::array<std::uint32_t, 256> Crc32Table = detail::MakeCrc32Table();

// One step: folds one byte into a running CRC.
constexpr std::uint32_t Update_CRC32(std::uint32_t crc, std::uint8_t chr) {
    return (crc >> 8) ^ Crc32Table[(crc ^ chr) & 0xFF];
}

// CRC-32 of a whole buffer (initial value and final XOR included).
constexpr std::uint32_t Crc32(std::span<const std::uint8_t> bytes,
                              std::uint32_t crc = 0xFFFFFFFFu) {
    for (std::uint8_t b : bytes) crc = Update_CRC32(crc, b);
    return crc ^ 0xFFFFFFFFu;
}

} // namespace vantor
