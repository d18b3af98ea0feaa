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

// A machine with one FTDI adapter (ttyUSB0, with a stable name), a UART on ttyS0, slots without a
// UART on ttyS1..3, and (unless `ptyPath` is empty) a stable name that leads to `ptyPath` (a
// test line behind a USB name).
inline void MakeSmallMachine(FakeMachine& m, const QString& ptyPath) {
    m.tty("ttyS0", "pnp0/00:01");
    m.driver(m.sys() + "/devices/pnp0/00:01", "pnp", "serial");
    for (const char* n : {"1", "2", "3"})
        m.tty(QString("ttyS") + n, QString("platform/serial8250/serial8250:0.") + n, "0");
    const QString usb = "pci0000:00/0000:00:14.0/usb1/";
    m.tty("ttyUSB0", usb + "1-2/1-2:1.0/ttyUSB0");
    m.driver(m.sys() + "/devices/" + usb + "1-2/1-2:1.0/ttyUSB0", "usb-serial", "ftdi_sio");
    m.usbDevice(usb + "1-2", "FTDI", "FT232R USB UART", "A1B2C3", "0403", "6001");
    QVERIFY(makeLink("../../ttyUSB0",
                     m.dev() + "/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0"));
    if (!ptyPath.isEmpty())
        QVERIFY(makeLink(ptyPath, m.dev() + "/serial/by-id/usb-Virtual_Line_42-if00"));
}
