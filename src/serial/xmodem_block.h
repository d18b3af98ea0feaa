#pragma once
// XMODEM block framing: header byte (SOH for 128 data bytes, STX for 1024), the block number's low
// 8 bits, 255 minus that number, the data (a short last block padded with 0x00), then either one
// byte of arithmetic checksum or the CRC-16 high byte and low byte.
#include <QByteArray>
#include <cstdint>

namespace xmodem {
inline constexpr int SmallBlock = 128;
inline constexpr int LargeBlock = 1024;
inline constexpr int HeaderSize = 3;

// 128 for SOH, 1024 for STX, 0 for any other byte.
int BlockSizeOfHeader(uint8_t header);

struct TBlockHeader {
    uint8_t bytes[HeaderSize];
};
// The header of block `counter` (counted from 1, taken modulo 256) of 128 or 1024 data bytes.
TBlockHeader BlockHeader(int blockSize, int counter);

struct TBlockCheck {
    uint8_t bytes[2];
    int count; // 1 (checksum) or 2 (CRC-16)
};
// The check bytes of a block's data.
TBlockCheck BlockCheck(const uint8_t* data, int size, bool crc);
// True when `received` (1 or 2 bytes) holds the check bytes of the data.
bool BlockCheckMatches(const uint8_t* data, int size, bool crc, const uint8_t* received);

// How long a receiver waits for the next byte inside a block before it takes the block as broken
// (a byte was lost) and asks for it again; the sender that is still waiting for an answer then
// loses a block time, not seconds. `bitsPerSecond` and `bitsPerCharacter` describe the port
// (start, data, parity and stop bits); a line's bytes follow each other a character time apart,
// but a UART hands them over a FIFO's worth at a time, so the gap allowed is QuietCharacters
// character times, plus `latencyMs` for what the port and the line may hold bytes back beyond
// that (a USB adapter's latency timer, a peer that writes a block in a few pieces, a modem's
// error correction). An unknown speed (0 or less) falls back to InBlockFallbackMs. Never more
// than `limitMs` when that is positive, never less than 1.
inline constexpr int QuietCharacters = 32;
inline constexpr int InBlockFallbackMs = 1000;
int InBlockQuietMs(int bitsPerSecond, int bitsPerCharacter, int latencyMs, int limitMs);

// A whole block as it goes on the line: `data` (at most 1024 bytes) is padded with 0x00 to 128
// bytes when it fits and `large` is false, else to 1024.
QByteArray EncodeBlock(const QByteArray& data, int counter, bool crc, bool large);
} // namespace xmodem
