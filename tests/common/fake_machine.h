#pragma once
// A fake machine for the serial-device lister: a sysfs tree (tty class entries with their
// attributes, device folders, driver links, USB devices) and a /dev tree with device nodes (plain
// files) and stable names, all under one folder.
#include "common/test_home.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <unistd.h>

// A symbolic link at `link` to `target` (relative targets are kept as given), folders made.
inline bool makeLink(const QString& target, const QString& link) {
    QDir().mkpath(QFileInfo(link).path());
    return ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()) ==
           0;
}

// A fake sysfs and /dev under `root`: `sys/class/tty/NAME` with its attributes, a `device` link
// into `sys/devices`, and the driver links a kernel makes.
struct FakeMachine {
    QString root;
    QString sys() const { return root + "/sys"; }
    QString dev() const { return root + "/dev"; }

    void file(const QString& path, const QByteArray& text) {
        QVERIFY(WriteFile(path, text + "\n"));
    }
    void driver(const QString& deviceDir, const QString& bus, const QString& name) {
        QVERIFY(QDir().mkpath(sys() + "/bus/" + bus + "/drivers/" + name));
        QVERIFY(makeLink(sys() + "/bus/" + bus + "/drivers/" + name, deviceDir + "/driver"));
    }
    // A tty whose device is `deviceDir` (relative to sys/devices).
    void tty(const QString& name, const QString& deviceDir, const QByteArray& type = "4",
             bool node = true) {
        const QString entry = sys() + "/class/tty/" + name;
        QVERIFY(QDir().mkpath(sys() + "/devices/" + deviceDir));
        QVERIFY(makeLink(sys() + "/devices/" + deviceDir, entry + "/device"));
        file(entry + "/type", type);
        if (node) QVERIFY(WriteFile(dev() + "/" + name, ""));
    }
    void usbDevice(const QString& dir, const QByteArray& maker, const QByteArray& product,
                   const QByteArray& serial, const QByteArray& vendor, const QByteArray& id) {
        const QString d = sys() + "/devices/" + dir;
        file(d + "/idVendor", vendor);
        file(d + "/idProduct", id);
        file(d + "/manufacturer", maker);
        file(d + "/product", product);
        if (!serial.isEmpty()) file(d + "/serial", serial);
    }
};

// A machine: a UART on ttyS0 behind the serial core's port device (the system console), slots
// without a UART on ttyS1..3, a real UART on ttyS12; an FTDI adapter on ttyUSB0 with a stable
// name, a second adapter whose node is missing, an ACM modem without a stable name; a virtual
// terminal, a stable name whose device is gone, and (unless `ptyPath` is empty) a stable name
// that leads to `ptyPath` (a test line behind a USB name).
inline void MakeSmallMachine(FakeMachine& m, const QString& ptyPath) {
    m.tty("ttyS0", "pnp0/00:01/00:01:0/00:01:0.0");
    m.driver(m.sys() + "/devices/pnp0/00:01/00:01:0/00:01:0.0", "serial-base", "port");
    m.driver(m.sys() + "/devices/pnp0/00:01", "pnp", "serial");
    m.file(m.sys() + "/class/tty/console/active", "tty0 ttyS0");
    for (const char* n : {"1", "2", "3"})
        m.tty(QString("ttyS") + n, QString("platform/serial8250/serial8250:0/serial8250:0.") + n,
              "0");
    m.driver(m.sys() + "/devices/platform/serial8250", "platform", "serial8250");
    m.tty("ttyS12", "pci0000:00/0000:00:16.3");
    m.driver(m.sys() + "/devices/pci0000:00/0000:00:16.3", "pci", "serial");
    const QString usb = "pci0000:00/0000:00:14.0/usb1/";
    m.tty("ttyUSB0", usb + "1-2/1-2:1.0/ttyUSB0");
    m.driver(m.sys() + "/devices/" + usb + "1-2/1-2:1.0/ttyUSB0", "usb-serial", "ftdi_sio");
    m.usbDevice(usb + "1-2", "FTDI", "FT232R USB UART", "A1B2C3", "0403", "6001");
    m.tty("ttyUSB1", usb + "1-4/1-4:1.0/ttyUSB1", "4", false);
    m.tty("ttyACM0", usb + "1-3/1-3:1.0");
    m.driver(m.sys() + "/devices/" + usb + "1-3/1-3:1.0", "usb", "cdc_acm");
    m.usbDevice(usb + "1-3", "Acme", "Acme LL-9600 Modem", "", "1234", "5678");
    m.tty("tty0", "virtual/tty0");
    QVERIFY(WriteFile(m.dev() + "/ptmx", ""));
    QVERIFY(makeLink("../../ttyUSB0",
                     m.dev() + "/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0"));
    QVERIFY(makeLink("../../ttyUSB7", m.dev() + "/serial/by-id/usb-Gone_Adapter-if00-port0"));
    if (!ptyPath.isEmpty())
        QVERIFY(makeLink(ptyPath, m.dev() + "/serial/by-id/usb-Virtual_Line_42-if00"));
}
