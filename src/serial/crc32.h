#pragma once
// CRC-32 (the one of zip, PNG and Ethernet): polynomial 0x04C11DB7 reflected (0xEDB88320),
// initial value and final XOR 0xFFFFFFFF. The CRC of the nine bytes "123456789" is 0xCBF43926.
// Computed with a 256-entry table built at compile time; a CRC is continued piece by piece with
// Crc32Update, starting from Crc32Start and ending with Crc32Final.
#include <array>
#include <cstddef>
#include <cstdint>

namespace crc32_detail {
constexpr std::array<uint32_t, 256> BuildTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? ((crc >> 1) ^ 0xEDB88320u) : (crc >> 1);
        table[i] = crc;
    }
    return table;
}
} // namespace crc32_detail

inline constexpr std::array<uint32_t, 256> Crc32Table = crc32_detail::BuildTable();

inline constexpr uint32_t Crc32Start = 0xFFFFFFFFu;

constexpr uint32_t Crc32Update(uint32_t crc, const uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i)
        crc = (crc >> 8) ^ Crc32Table[(crc ^ data[i]) & 0xFF];
    return crc;
}

constexpr uint32_t Crc32Final(uint32_t crc) {
    return crc ^ 0xFFFFFFFFu;
}

constexpr uint32_t Crc32(const uint8_t* data, std::size_t size) {
    return Crc32Final(Crc32Update(Crc32Start, data, size));
}
