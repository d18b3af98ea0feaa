// This machine's serial devices and what to say when one cannot be opened: the lister on a fake
// sysfs and /dev tree (stable names first, USB strings and drivers, ttyS slots without a UART
// last, the system console marked, stale names and missing nodes left out) and on this machine;
// the advice for a device that another process holds (found in /proc) and for one the user may
// not open (tried as "nobody" in a child process, since root opens anything). A missing device's
// advice is tested with the port's messages (serial_comm).
#include "common/fake_machine.h"
#include "common/test_home.h"
#include "platform/serial_device.h"
#include "platform/serial_ports.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
// A pseudo-terminal whose slave is not held open by this process.
struct Pty {
    int master = -1;
    QString slavePath;
    Pty() {
        int slave = -1;
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) qFatal("openpty failed");
        ::close(slave);
        slavePath = QString::fromLocal8Bit(name);
    }
    ~Pty() { ::close(master); }
};

// Runs `body` in a child process as the user nobody (no supplementary groups) and returns what it
// wrote to its pipe.
QByteArray asNobody(const std::function<QByteArray()>& body) {
    int fds[2];
    if (::pipe(fds) != 0) return "pipe failed";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        QByteArray out;
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            out = "cannot become nobody";
        else
            out = body();
        (void)!::write(fds[1], out.constData(), size_t(out.size()));
        ::_exit(0);
    }
    ::close(fds[1]);
    QByteArray out;
    char buf[4096];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;)
        out.append(buf, n);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return out;
}
} // namespace

class TestSerialPorts : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void listsAFakeMachine() {
        TestHome home;
        FakeMachine m{home.path() + "machine"};
        const Pty pty;
        MakeSmallMachine(m, pty.slavePath);

        QStringList shown;
        for (const TSerialPortInfo& p : ListSerialPorts(m.dev(), m.sys()))
            shown << QString(p.Path).replace(m.root, "~") + " = " + p.Label() + " [" + p.UsbId +
                         "]";
        const QString pts = pty.slavePath.mid(5);
        QCOMPARE(shown,
                 (QStringList{
                     "~/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0 = ttyUSB0: "
                     "FTDI FT232R USB UART, serial A1B2C3 (ftdi_sio) [0403:6001]",
                     "~/dev/serial/by-id/usb-Virtual_Line_42-if00 = " + pts + " []",
                     "~/dev/ttyS0 = ttyS0 (serial), system console []",
                     "~/dev/ttyS12 = ttyS12 (serial) []",
                     "~/dev/ttyACM0 = ttyACM0: Acme LL-9600 Modem (cdc_acm) [1234:5678]",
                     "~/dev/ttyS1 = ttyS1: no UART found []",
                     "~/dev/ttyS2 = ttyS2: no UART found []",
                     "~/dev/ttyS3 = ttyS3: no UART found []",
                 }));
        const auto ports = ListSerialPorts(m.dev(), m.sys());
        QCOMPARE(ports[1].Device, pty.slavePath);
        QCOMPARE(ports[0].Device, QFileInfo(m.dev() + "/ttyUSB0").canonicalFilePath());
        QVERIFY(ports[5].NoUart && !ports[4].NoUart && ports[2].Console);
        // No tree at all: nothing, and no error.
        QVERIFY(ListSerialPorts(home.file("none/dev"), home.file("none/sys")).empty());
    }

    // The real machine: whatever it has, every entry leads to a device node, no device is listed
    // twice, and the list is printed for whoever looks at the test's output.
    void thisMachine() {
        const auto ports = ListSerialPorts();
        QStringList devices;
        for (const TSerialPortInfo& p : ports) {
            qInfo().noquote() << p.Path << "=" << p.Label();
            QVERIFY2(QFileInfo::exists(p.Path), qPrintable(p.Path));
            QVERIFY2(!devices.contains(p.Device), qPrintable(p.Device));
            devices << p.Device;
        }
    }

    // A terminal program in another process holds the line (flock, as ours does, and TIOCEXCL).
    void busyDeviceNamesItsHolder() {
        const Pty pty;
        QProcess holder;
        holder.start("python3", {"-c",
                                 "import fcntl,os,sys,time,termios\n"
                                 "fd=os.open(sys.argv[1],os.O_RDWR|os.O_NOCTTY)\n"
                                 "fcntl.flock(fd,fcntl.LOCK_EX)\n"
                                 "fcntl.ioctl(fd,termios.TIOCEXCL)\n"
                                 "print('held',flush=True)\n"
                                 "time.sleep(60)\n",
                                 pty.slavePath});
        QByteArray said;
        while (!said.contains('\n') && holder.waitForReadyRead(10000))
            said += holder.readAll();
        QCOMPARE(said, QByteArray("held\n"));
        SerialDevice device;
        const int r = device.Open(pty.slavePath);
        QCOMPARE(r, -EBUSY);
        const QString advice = SerialOpenAdvice(-r, pty.slavePath, pty.slavePath, QString());
        QVERIFY2(advice.startsWith(pty.slavePath + " is in use by python"), qPrintable(advice));
        QVERIFY2(advice.contains("(pid " + QString::number(holder.processId()) + ")"),
                 qPrintable(advice));
        QVERIFY2(advice.endsWith("End that program, or choose another port."), qPrintable(advice));
        holder.kill();
        holder.waitForFinished();
        QCOMPARE(device.Open(pty.slavePath), 0);
        // Held by this process itself (another port of ours).
        SerialDevice second;
        QCOMPARE(second.Open(pty.slavePath), -EBUSY);
        QVERIFY2(SerialOpenAdvice(EBUSY, "COM2", pty.slavePath, QString())
                     .endsWith(", this program): another port of this program has it open."),
                 qPrintable(SerialOpenAdvice(EBUSY, "COM2", pty.slavePath, QString())));
    }

    // Root opens any device, so the open is tried as nobody, who is in no group.
    void permissionDeniedNamesGroupAndFix_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("expected");
        QTest::newRow("group dialout may")
            << 0660
            << "(owner root, group dialout, crw-rw----) may be opened by the group dialout. "
               "Add the user to it: sudo usermod -aG dialout nobody, then log out and in "
               "again.";
        QTest::newRow("owner only") << 0600
                                    << "(owner root, group dialout, crw-------) may be "
                                       "opened by its owner only.";
    }

    void permissionDeniedNamesGroupAndFix() {
        QFETCH(int, mode);
        QFETCH(QString, expected);
        const Pty pty;
        const QByteArray path = QFile::encodeName(pty.slavePath);
        QVERIFY(::chown(path.constData(), 0, 20) == 0); // dialout
        QVERIFY(::chmod(path.constData(), mode_t(mode)) == 0);
        const QByteArray out = asNobody([&] {
            SerialDevice device;
            const int r = device.Open(pty.slavePath);
            return (QString::number(r) + "|" + SerialOpenAdvice(-r, "COM1", pty.slavePath, {}))
                .toUtf8();
        });
        const QString text = QString::fromUtf8(out);
        QVERIFY2(text.startsWith(QString::number(-EACCES) + "|" + pty.slavePath + " (owner root"),
                 qPrintable(text));
        QVERIFY2(text.contains(expected), qPrintable(text));
    }
};

QTEST_GUILESS_MAIN(TestSerialPorts)
#include "serial_ports_test.moc"
