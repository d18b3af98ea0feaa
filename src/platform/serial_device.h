#pragma once
// The Linux serial device behind a port: opening by name with exclusive access, raw line
// settings, modem-control lines, line-error counters, queue counts and flushing. Every call
// returns 0 (or a count) on success and a negative errno value on failure; nothing here raises.
// Calls that a pseudo-terminal refuses (modem lines, error counters) report "not supported"
// instead of failing.
#include <QString>
#include <cstdint>

// The line settings in the device's terms.
struct SerialLineSettings {
    int Baud = 1200;  // bits per second, any value (the kernel's arbitrary-rate interface)
    int DataBits = 8; // 5..8
    int Parity = 0;   // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int StopBits = 1; // 1 or 2 (one and a half maps to two)
    bool ParityCheck = false;
    bool RtsCtsFlow = false; // hardware handshake in both directions
    bool XonXoffOut = false; // honour XON/XOFF from the peer
    bool XonXoffIn = false;  // send XON/XOFF when the input fills
    uint8_t XonChar = 17;
    uint8_t XoffChar = 19;
    bool IgnoreCarrier = true; // CLOCAL: false when DSR/DCD sensitivity is asked for
};

// Applies raw-mode settings through termios2 (serial_speed.cpp). Returns 0 or -errno.
int ApplySerialLineSettings(int fd, const SerialLineSettings& settings);

// Modem-line bits reported by SerialModemLines.
constexpr int SerialLineCts = 0x1;
constexpr int SerialLineDsr = 0x2;
constexpr int SerialLineRing = 0x4;
constexpr int SerialLineCarrier = 0x8;

// Cumulative line-error counters of the device.
struct SerialErrorCounts {
    int Frame = 0;
    int Overrun = 0;
    int Parity = 0;
    int Break = 0;
    int BufferOverrun = 0;
};

// The path opened for a device name that has been formatted with the port number: an absolute
// path as it is; "COMn" the target of appDir/ports/COMn when that link exists, else
// /dev/ttyS(n-1); any other name appDir/ports/<name> when it exists, else /dev/<name>. A leading
// "\\.\" is ignored.
QString SerialDevicePath(const QString& formattedName, const QString& appDir);

// Formats a device-name pattern with one integer: "%d" takes the number, "%%" gives '%'.
QString FormatDeviceName(const QString& pattern, int number);

// True for the errno values that mean "there is no such device".
bool SerialDeviceMissing(int error);

class SerialDevice {
public:
    SerialDevice() = default;
    ~SerialDevice() { Close(); }
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    // Opens read/write, no controlling terminal, non-blocking, and takes it exclusively
    // (TIOCEXCL and flock). A file that is not a terminal is refused (-ENOTTY).
    int Open(const QString& path);
    void Close();
    bool IsOpen() const { return mFd >= 0; }
    int Fd() const { return mFd; }

    int Apply(const SerialLineSettings& settings) const {
        return ApplySerialLineSettings(mFd, settings);
    }
    // Sets DTR and RTS; 0 also when the device has no modem-control lines.
    int SetControlLines(bool dtr, bool rts) const;
    // The modem-line bits, or -errno; -ENOTTY/-EINVAL when the device has no such lines.
    int ModemLines() const;
    // The cumulative error counters; false when the device keeps none.
    bool ErrorCounts(SerialErrorCounts& counts) const;
    // Bytes waiting in the input queue / not yet sent from the output queue, or -errno (the
    // output count is 0 on a device that keeps none).
    int InputQueued() const;
    int OutputQueued() const;
    // Discards the input and/or output queue. 0 or -errno.
    int Flush(bool input, bool output) const;
    // Non-blocking read and write: a count, 0 when nothing could be moved now, or -errno.
    int Read(char* data, int count) const;
    int Write(const char* data, int count) const;

private:
    int mFd = -1;
};

// Applies a nice level that matches the priority step (0 idle .. 6 time-critical) to the calling
// thread; refused changes (no privilege) are ignored.
void SetCurrentThreadPriorityStep(int step);

// The text of an errno value.
QString SystemErrorText(int error);
