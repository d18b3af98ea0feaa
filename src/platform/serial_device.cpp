#include "platform/serial_device.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

namespace {
// Errors by which a device says it has no such facility (pseudo-terminals have no modem lines
// and no error counters).
bool notSupported(int error) {
    return error == ENOTTY || error == EINVAL;
}

// A pseudo-terminal slave (Unix98 ptys have majors 136 to 143).
bool isPseudoTerminal(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    const unsigned m = major(st.st_rdev);
    return m >= 136 && m <= 143;
}
} // namespace

QString FormatDeviceName(const QString& pattern, int number) {
    QString out;
    out.reserve(pattern.size() + 8);
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size()) {
            if (pattern[i + 1] == 'd') {
                out += QString::number(number);
                ++i;
                continue;
            }
            if (pattern[i + 1] == '%') {
                out += '%';
                ++i;
                continue;
            }
        }
        out += pattern[i];
    }
    return out;
}

QString SerialDevicePath(const QString& formattedName, const QString& appDir) {
    QString name = formattedName;
    if (name.startsWith(QLatin1String("\\\\.\\"))) name = name.mid(4);
    if (name.startsWith('/')) return name;
    const QString link = QDir(appDir).filePath(QStringLiteral("ports/") + name);
    static const QRegularExpression com(QStringLiteral("^COM([0-9]+)$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const auto match = com.match(name);
    if (match.hasMatch()) {
        const QString linkName = QDir(appDir).filePath(QStringLiteral("ports/COM") +
                                                       QString::number(match.captured(1).toInt()));
        QFileInfo info(linkName);
        if (info.isSymLink()) return info.symLinkTarget();
        if (info.exists()) return linkName;
        return QStringLiteral("/dev/ttyS") + QString::number(match.captured(1).toInt() - 1);
    }
    QFileInfo info(link);
    if (info.isSymLink()) return info.symLinkTarget();
    if (info.exists()) return link;
    return QStringLiteral("/dev/") + name;
}

bool SerialDeviceMissing(int error) {
    return error == ENOENT || error == ENODEV || error == ENXIO;
}

int SerialDevice::Open(const QString& path) {
    Close();
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -errno;
    if (!::isatty(fd)) {
        ::close(fd);
        return -ENOTTY;
    }
    // Another program (or another port of ours) holding the device keeps it: flock works for
    // every user, TIOCEXCL also stops programs that do not lock.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        ::close(fd);
        return e == EWOULDBLOCK ? -EBUSY : -e;
    }
    ::ioctl(fd, TIOCEXCL);
    mFd = fd;
    return 0;
}

void SerialDevice::Close() {
    if (mFd < 0) return;
    ::ioctl(mFd, TIOCNXCL);
    ::close(mFd);
    mFd = -1;
}

int SerialDevice::SetControlLines(bool dtr, bool rts) const {
    int bits = 0;
    if (::ioctl(mFd, TIOCMGET, &bits) != 0) return notSupported(errno) ? 0 : -errno;
    bits &= ~(TIOCM_DTR | TIOCM_RTS);
    if (dtr) bits |= TIOCM_DTR;
    if (rts) bits |= TIOCM_RTS;
    if (::ioctl(mFd, TIOCMSET, &bits) != 0) return notSupported(errno) ? 0 : -errno;
    return 0;
}

int SerialDevice::ModemLines() const {
    int bits = 0;
    if (::ioctl(mFd, TIOCMGET, &bits) != 0) return -errno;
    int lines = 0;
    if (bits & TIOCM_CTS) lines |= SerialLineCts;
    if (bits & TIOCM_DSR) lines |= SerialLineDsr;
    if (bits & TIOCM_RNG) lines |= SerialLineRing;
    if (bits & TIOCM_CAR) lines |= SerialLineCarrier;
    return lines;
}

bool SerialDevice::ErrorCounts(SerialErrorCounts& counts) const {
    serial_icounter_struct ic{};
    if (::ioctl(mFd, TIOCGICOUNT, &ic) != 0) return false;
    counts.Frame = ic.frame;
    counts.Overrun = ic.overrun;
    counts.Parity = ic.parity;
    counts.Break = ic.brk;
    counts.BufferOverrun = ic.buf_overrun;
    return true;
}

int SerialDevice::InputQueued() const {
    int n = 0;
    if (::ioctl(mFd, FIONREAD, &n) != 0) return -errno;
    return n;
}

int SerialDevice::OutputQueued() const {
    int n = 0;
    if (::ioctl(mFd, TIOCOUTQ, &n) != 0) return notSupported(errno) ? 0 : -errno;
    return n;
}

int SerialDevice::Flush(bool input, bool output) const {
    // A pseudo-terminal has no transmitter: what it holds for output has already gone onto the
    // line and waits only for the far end to read it, so clearing it would lose bytes that were
    // sent (a reply written just before a transfer purges the port, for instance).
    if (output && isPseudoTerminal(mFd)) output = false;
    if (!input && !output) return 0;
    const int which = input && output ? TCIOFLUSH : (input ? TCIFLUSH : TCOFLUSH);
    if (::tcflush(mFd, which) != 0) return -errno;
    return 0;
}

int SerialDevice::Read(char* data, int count) const {
    if (count <= 0) return 0;
    for (;;) {
        const ssize_t n = ::read(mFd, data, size_t(count));
        if (n >= 0) return int(n);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        return -errno;
    }
}

int SerialDevice::Write(const char* data, int count) const {
    if (count <= 0) return 0;
    for (;;) {
        const ssize_t n = ::write(mFd, data, size_t(count));
        if (n >= 0) return int(n);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        return -errno;
    }
}

void SetCurrentThreadPriorityStep(int step) {
    static const int nice[] = {19, 10, 5, 0, -5, -10, -20};
    if (step < 0 || step > 6) return;
    const pid_t tid = pid_t(::syscall(SYS_gettid));
    ::setpriority(PRIO_PROCESS, id_t(tid), nice[step]);
}

QString SystemErrorText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}
