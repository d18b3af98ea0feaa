#pragma once
// The XMODEM protocol characters, the transfer result codes and their texts.
#include <QString>
#include <cstdint>

namespace xmodem {
inline constexpr uint8_t SOH = 0x01;
inline constexpr uint8_t STX = 0x02;
inline constexpr uint8_t EOT = 0x04;
inline constexpr uint8_t ACK = 0x06;
inline constexpr uint8_t NAK = 0x15;
inline constexpr uint8_t CAN = 0x18;
inline constexpr uint8_t StartCrc = 'C';
inline constexpr uint8_t StartStreaming = 'G';
} // namespace xmodem

// Result codes of a transfer: 0 is success, failures are negative. TransferErrorText gives the
// text of a code by its absolute value.
enum TVaTransferResult : int {
    trSuccess = 0,
    trTimeout = -1,
    trComWriteError = -2,
    trCancelledLocally = -3,
    trCancelledByPeer = -4,
    trOutOfSync = -5,
    trChecksumError = -6,
    trFileReadError = -7,
    trFileWriteError = -8,
    trMaxErrors = -9,
    trInvalidStartup = -10,
    trFileCreateError = -11,
    trFileOpenError = -12,
    trUnknownError = -13,
    trBufferOverrun = -14,
    trBadPacket = -15,
    trBadCharacter = -16,
    trFileSeekError = -17,
    trIncompleteFile = -18,
    trUnknownHeader = -19,
    trHeaderResent = -20,
    trPeerFileSystemError = -21,
    trForcedExit = -22,
    trPacketTooLarge = -23,
    trPeerEndedEarly = -24,
    trCommandSequenceError = -25,
};

// The text of a result code; codes outside -25..25 give "Unknown error code", and a code and its
// negation give the same text.
QString TransferErrorText(int code);
