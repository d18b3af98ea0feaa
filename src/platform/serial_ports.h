#pragma once
// This machine's serial devices, under the names Linux users know: udev's stable names in
// /dev/serial/by-id first (a USB adapter keeps its name from plug to plug, while its ttyUSBn
// follows the order of plugging), then the kernel's ttyS*, ttyUSB* and ttyACM* devices that have
// no stable name. Each comes with what sysfs knows of it: its driver and, for a USB device, its
// maker, product and serial number.
//
// The roots are parameters so that tests can point the lister at a tree of their own: `devRoot`
// stands for /dev and `sysRoot` for /sys.
//
// Also here: what to tell the operator when a device cannot be opened (who holds it, which group
// may open it, where a port's link leads).
#include <QString>
#include <QStringList>
#include <vector>

struct TSerialPortInfo {
    QString Path;         // the name to open and to link to: the stable name, else /dev/<kernel>
    QString Device;       // where Path leads: /dev/ttyUSB0 (a by-id link may lead elsewhere)
    QString KernelName;   // "ttyUSB0"; empty when Path leads to no tty the kernel lists
    QString Driver;       // "ftdi_sio", "cdc_acm", "serial" (the UART's bus driver)
    QString Manufacturer; // the USB device's own strings, when one is behind the tty
    QString Product;
    QString SerialNumber;
    QString UsbId; // "0403:6001"
    // A ttyS slot the kernel keeps although it found no UART there (sysfs type 0). Every PC
    // has a few of them; opening one works, but nothing is ever sent or received.
    bool NoUart = false;
    // The system console (a kernel log or a log-in prompt may be on it).
    bool Console = false;

    // One line for a list: "ttyUSB0: FTDI FT232R USB UART, serial A1B2C3 (ftdi_sio)".
    QString Label() const;
};

// Points the program folder's link ports/<port> at `device` (replacing the link in one step, so
// that a port never leads nowhere meanwhile). False with `error` set when it cannot.
bool BindSerialPort(const QString& appDir, const QString& port, const QString& device,
                    QString& error);

// Stable names first (by name), then ttyS*, ttyUSB*, ttyACM* without one (in number order),
// then the ttyS slots without a UART. Devices whose node is missing from `devRoot` are left out.
std::vector<TSerialPortInfo> ListSerialPorts(const QString& devRoot = QStringLiteral("/dev"),
                                             const QString& sysRoot = QStringLiteral("/sys"));

// The programs that have the device open, from /proc/*/fd: "minicom (pid 1234)". Processes of
// other users are seen only with the privilege to look at them. This process is included,
// marked "this program".
QStringList SerialDeviceHolders(const QString& device,
                                const QString& procRoot = QStringLiteral("/proc"));

// What went wrong and what mends it, for an open of `path` that failed with `error` (an errno
// value); empty when there is nothing to add to the error's own text. `name` is the port's name
// as formatted ("COM3" or a path) and `appDir` the program folder whose ports/ links map names to
// devices. Covers a missing device (where the port's link leads), no permission (the device's
// group and how to join it) and a device in use (who holds it).
QString SerialOpenAdvice(int error, const QString& name, const QString& path,
                         const QString& appDir);
