// Line settings through termios2, which carries any speed (BOTHER) rather than the fixed table of
// <termios.h>. That header clashes with <asm/termbits.h>, so this file includes only the latter.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

#include "platform/serial_device.h"

int ApplySerialLineSettings(int fd, const SerialLineSettings& s) {
    if (s.Baud <= 0) return -EINVAL;
    tcflag_t size = 0;
    switch (s.DataBits) {
    case 5:
        size = CS5;
        break;
    case 6:
        size = CS6;
        break;
    case 7:
        size = CS7;
        break;
    case 8:
        size = CS8;
        break;
    default:
        return -EINVAL; // no UART of this platform sends 4-bit bytes
    }

    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return -errno;

    // Raw mode: no line editing, echo, signals or byte translation.
    t.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                           IXOFF | IXANY | INPCK | IGNPAR | IUCLC | IMAXBEL);
    t.c_oflag &= ~tcflag_t(OPOST);
    t.c_lflag &= ~tcflag_t(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CLOCAL | CBAUD |
                           (CBAUD << IBSHIFT));
    t.c_cflag |= CREAD | HUPCL | size;

    switch (s.Parity) {
    case 1:
        t.c_cflag |= PARENB | PARODD;
        break;
    case 2:
        t.c_cflag |= PARENB;
        break;
    case 3:
        t.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case 4:
        t.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        break;
    }
    if (s.ParityCheck && s.Parity != 0) t.c_iflag |= INPCK;
    if (s.StopBits >= 2) t.c_cflag |= CSTOPB;
    if (s.RtsCtsFlow) t.c_cflag |= CRTSCTS;
    if (s.IgnoreCarrier) t.c_cflag |= CLOCAL;
    if (s.XonXoffOut) t.c_iflag |= IXON;
    if (s.XonXoffIn) t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = cc_t(s.XonChar);
    t.c_cc[VSTOP] = cc_t(s.XoffChar);
    // Reads return at once with whatever is queued.
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;

    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = speed_t(s.Baud);
    t.c_ospeed = speed_t(s.Baud);

    if (ioctl(fd, TCSETS2, &t) != 0) return -errno;
    return 0;
}
