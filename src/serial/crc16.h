#pragma once
// CRC-16/XMODEM: polynomial 0x1021, initial value 0, no reflection, no final XOR; the high byte
// goes on the line first. The CRC of the nine bytes "123456789" is 0x31C3. Computed with a
// 256-entry table (one lookup per byte), built at compile time.
#include <array>
#include <cstddef>
#include <cstdint>

namespace crc16_detail {
constexpr std::array<uint16_t, 256> BuildTable() {
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned crc = i << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? ((crc << 1) ^ 0x1021) : (crc << 1);
        table[i] = static_cast<uint16_t>(crc & 0xFFFF);
    }
    return table;
}
} // namespace crc16_detail

// Entry i is the CRC register after shifting the byte i through an empty register.
inline constexpr std::array<uint16_t, 256> Crc16Table = crc16_detail::BuildTable();

// Continues a CRC over `size` bytes starting from `crc` (0 for a fresh computation).
constexpr uint16_t Crc16Update(uint16_t crc, const uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i)
        crc = static_cast<uint16_t>((crc << 8) ^ Crc16Table[((crc >> 8) ^ data[i]) & 0xFF]);
    return crc;
}

constexpr uint16_t Crc16(const uint8_t* data, std::size_t size) {
    return Crc16Update(0, data, size);
}
