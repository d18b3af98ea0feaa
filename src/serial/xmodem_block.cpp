#include "serial/xmodem_block.h"

#include "serial/crc16.h"
#include "serial/xmodem_codes.h"

#include <algorithm>
#include <cstdint>

namespace xmodem {

int BlockSizeOfHeader(uint8_t header) {
    if (header == SOH) return SmallBlock;
    if (header == STX) return LargeBlock;
    return 0;
}

TBlockHeader BlockHeader(int blockSize, int counter) {
    const auto number = static_cast<uint8_t>(counter & 0xFF);
    return {{blockSize == SmallBlock ? SOH : STX, number, static_cast<uint8_t>(255 - number)}};
}

TBlockCheck BlockCheck(const uint8_t* data, int size, bool crc) {
    if (crc) {
        const uint16_t value = Crc16(data, static_cast<std::size_t>(size));
        return {{static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value & 0xFF)}, 2};
    }
    unsigned sum = 0;
    for (int i = 0; i < size; ++i)
        sum += data[i];
    return {{static_cast<uint8_t>(sum & 0xFF), 0}, 1};
}

bool BlockCheckMatches(const uint8_t* data, int size, bool crc, const uint8_t* received) {
    const TBlockCheck check = BlockCheck(data, size, crc);
    for (int i = 0; i < check.count; ++i)
        if (check.bytes[i] != received[i]) return false;
    return true;
}

int InBlockQuietMs(int bitsPerSecond, int bitsPerCharacter, int latencyMs, int limitMs) {
    long long ms = InBlockFallbackMs;
    if (bitsPerSecond > 0) {
        const long long bits = 1000LL * QuietCharacters * std::max(1, bitsPerCharacter);
        ms = (bits + bitsPerSecond - 1) / bitsPerSecond + std::max(0, latencyMs);
    }
    if (limitMs > 0) ms = std::min<long long>(ms, limitMs);
    return int(std::clamp<long long>(ms, 1, INT32_MAX));
}

QByteArray EncodeBlock(const QByteArray& data, int counter, bool crc, bool large) {
    const int size = (!large && data.size() <= SmallBlock) ? SmallBlock : LargeBlock;
    QByteArray padded = data.left(size);
    padded.append(size - padded.size(), '\0');
    const TBlockHeader header = BlockHeader(size, counter);
    const auto* bytes = reinterpret_cast<const uint8_t*>(padded.constData());
    const TBlockCheck check = BlockCheck(bytes, size, crc);
    QByteArray block(reinterpret_cast<const char*>(header.bytes), HeaderSize);
    block += padded;
    block.append(reinterpret_cast<const char*>(check.bytes), check.count);
    return block;
}

} // namespace xmodem
