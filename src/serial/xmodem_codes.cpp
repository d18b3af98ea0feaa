#include "serial/xmodem_codes.h"

#include <array>

namespace {
const std::array<const char*, 26> texts = {
    "Success",
    "Timeout error",
    "Error writing to com port",
    "Transfer cancelled locally",
    "Client system cancelled the transfer",
    "Out of sync, unexpected data received",
    "Checksum or CRC error",
    "Error reading data from file stream",
    "Error writing data to file stream",
    "Maximum errors reached",
    "An invalid startup code was received",
    "Error creating file for writing",
    "Error opening file for reading",
    "Unknown error",
    "Critical buffer overrun",
    "Invalid or unexpected packet received",
    "Invalid or unknown character received",
    "File seek error",
    "Incomplete file received",
    "Unknown header received",
    "Client resent header request",
    "Client filesystem error occured",
    "Application terminated (forced exit)",
    "Data packet too large (up to 1024 bytes)",
    "Client terminated too early",
    "Error in receiving command sequence",
};
} // namespace

QString TransferErrorText(int code) {
    // Compare before negating: the negation of the smallest int does not exist.
    if (code < -25 || code > 25) return QStringLiteral("Unknown error code");
    return QString::fromLatin1(texts[static_cast<std::size_t>(code < 0 ? -code : code)]);
}
