// The serial port over real pseudo-terminals: the test holds the master side of each terminal,
// the port opens the slave side, exactly as it would open a serial device.
#include "common/test_home.h"
#include "core/helpers.h"
#include "platform/serial_device.h"
#include "serial/comm.h"
#include "serial/wait_message.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

// One pseudo-terminal: the test talks on `master`, the port opens `slavePath`.
struct Pty {
    int master = -1;
    int slave = -1; // kept open so that the line does not hang up between port opens
    QString slavePath;

    Pty() {
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) qFatal("openpty failed");
        slavePath = QString::fromLocal8Bit(name);
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        termios t;
        ::tcgetattr(slave, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(slave, TCSANOW, &t);
    }
    ~Pty() {
        closeMaster();
        if (slave >= 0) ::close(slave);
    }
    void closeMaster() {
        if (master >= 0) ::close(master);
        master = -1;
    }
    void send(const QByteArray& bytes) const {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n =
                ::write(master, bytes.constData() + done, size_t(bytes.size() - done));
            if (n > 0) {
                done += n;
            } else {
                pollfd p = {master, POLLOUT, 0};
                ::poll(&p, 1, 100);
            }
        }
    }
    // Reads what arrives within `ms`, stopping early once `want` bytes are in.
    QByteArray receive(int want, int ms) const {
        QByteArray out;
        QElapsedTimer clock;
        clock.start();
        while (out.size() < want && clock.elapsed() < ms) {
            char buf[4096];
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n > 0) {
                out.append(buf, n);
                continue;
            }
            pollfd p = {master, POLLIN, 0};
            ::poll(&p, 1, 10);
        }
        return out;
    }
};

// A null-modem cable between two pseudo-terminals: two relay threads copy every byte from one
// master to the other.
class Cable {
public:
    Cable() {
        if (::pipe(mStop) != 0) qFatal("pipe failed");
        mThreads[0] = std::thread([this] { relay(a.master, b.master); });
        mThreads[1] = std::thread([this] { relay(b.master, a.master); });
    }
    ~Cable() {
        [[maybe_unused]] ssize_t n = ::write(mStop[1], "x", 1);
        for (auto& t : mThreads)
            t.join();
        ::close(mStop[0]);
        ::close(mStop[1]);
    }
    Pty a, b;

private:
    void relay(int from, int to) {
        char buf[4096];
        for (;;) {
            pollfd p[2] = {{mStop[0], POLLIN, 0}, {from, POLLIN, 0}};
            ::poll(p, 2, -1);
            if (p[0].revents) return;
            const ssize_t n = ::read(from, buf, sizeof buf);
            for (ssize_t done = 0; n > 0 && done < n;) {
                const ssize_t w = ::write(to, buf + done, size_t(n - done));
                if (w > 0) {
                    done += w;
                    continue;
                }
                pollfd q[2] = {{mStop[0], POLLIN, 0}, {to, POLLOUT, 0}};
                ::poll(q, 2, -1);
                if (q[0].revents) return;
            }
        }
    }
    int mStop[2];
    std::thread mThreads[2];
};

int threadCount() {
    return int(QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}
int fdCount() {
    return int(QDir("/proc/self/fd").entryList(QDir::Files | QDir::System).size());
}

double cpuSeconds() {
    rusage u;
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

QByteArray pattern(int size, quint32 seed) {
    QByteArray out(size, '\0');
    QRandomGenerator gen(seed);
    for (char& c : out)
        c = char(gen.bounded(256));
    return out;
}

// Opens a port on the slave side of a terminal with short time-outs.
std::unique_ptr<TVaComm> openPort(const Pty& pty, bool open = true) {
    auto port = std::make_unique<TVaComm>();
    port->SetDeviceName(pty.slavePath);
    port->Buffers().SetReadTimeout(200);
    port->Buffers().SetWriteTimeout(200);
    if (open) port->Open();
    return port;
}

QString raisedBy(const std::function<void()>& call) {
    try {
        call();
    } catch (const EVaCommError& e) {
        return e.Message();
    }
    return QString();
}

// A listening component that records what it is fed.
class Listener : public TVaCommComponent {
public:
    QByteArray data;
    std::vector<uint32_t> events;
    std::function<void()> onData;

protected:
    void HandleCommData(const char* Data, int Count) override {
        data.append(Data, Count);
        if (onData) onData();
    }
    void HandleCommEvent(uint32_t Mask) override { events.push_back(Mask); }
};

} // namespace

class TestComm : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { mHome = std::make_unique<TestHome>(1); }
    void cleanup() { mHome.reset(); }

    void openCloseReopenThroughPortMap();
    void closeNeverOpenedRaisesNothing();
    void openErrors_data();
    void openErrors();
    void closedOnlyProperties_data();
    void closedOnlyProperties();
    void baudrateRules();
    void lineSettingsReachTheDevice_data();
    void lineSettingsReachTheDevice();
    void receiveDeliveryByClients_data();
    void receiveDeliveryByClients();
    void restOfBlockGoesToClientSwitchedOn_data();
    void restOfBlockGoesToClientSwitchedOn();
    void unreadBytesAreReportedOnce();
    void inputGatheredWhileItKeepsComing();
    void txEmptyWhenBufferDrains();
    void directWrite();
    void devicePaths_data();
    void devicePaths();
    void outputBufferFull_data();
    void outputBufferFull();
    void purgeReadWrite();
    void noMonitorEventsNoEventThread();
    void megabyteEachWayAtOnce();
    void pingPongHasNoStalls();
    void readAfterTheHandlerHasNoStalls();
    void thousandOpenCloseCycles();
    void closeOrDestroyInsideHandler_data();
    void closeOrDestroyInsideHandler();
    void closeOrDestroyWhileWorkerWaits_data();
    void closeOrDestroyWhileWorkerWaits();
    void delayInsideHandlerDoesNotNest();
    void hangUpIsLineLost();
    void exceptionInHandlerIsReported();

private:
    std::unique_ptr<TestHome> mHome;
};

void TestComm::openCloseReopenThroughPortMap() {
    Pty pty;
    QDir().mkpath(mHome->file("ports"));
    QVERIFY(QFile::link(pty.slavePath, mHome->file("ports/COM3")));
    TVaComm port;
    port.SetPortMapFolder(mHome->path());
    port.SetPortNum(3);
    QCOMPARE(port.DevicePath(), pty.slavePath);
    int opened = 0, closed = 0;
    QByteArray got;
    port.OnOpen = [&](TVaComm* sender) {
        QCOMPARE(sender, &port);
        ++opened;
    };
    port.OnClose = [&](TVaComm*) { ++closed; };
    port.OnRxChar = [&](TVaComm* sender, int count) {
        QByteArray buf(count, '\0');
        buf.truncate(sender->ReadData(buf.data(), count));
        got += buf;
    };
    const int baseThreads = threadCount();
    for (int round = 1; round <= 3; ++round) {
        port.Open();
        QVERIFY(port.IsOpen());
        QCOMPARE(opened, round);
        QCOMPARE(threadCount(), baseThreads + 2); // event and write thread
        const QByteArray ping = "ping " + QByteArray::number(round);
        pty.send(ping);
        QVERIFY(WaitFor([&] { return got.endsWith(ping); }, 2000));
        QVERIFY(port.WriteText(QByteArray("pong")));
        QCOMPARE(pty.receive(4, 2000), QByteArray("pong"));
        port.Close();
        QVERIFY(!port.IsOpen());
        QCOMPARE(closed, round);
        QCOMPARE(threadCount(), baseThreads);
        port.Close(); // no effect when closed
        QCOMPARE(closed, round);
    }
    QCOMPARE(port.WriteData("x", 1), 0);
    char buf[4];
    QCOMPARE(port.ReadData(buf, 4), 0);
    QCOMPARE(port.BytesWaiting(), 0);
    QCOMPARE(port.GetStatus().InQueue, 0u);
}

void TestComm::closeNeverOpenedRaisesNothing() {
    TVaComm port;
    bool closed = false;
    port.OnClose = [&](TVaComm*) { closed = true; };
    port.Close();
    QVERIFY(!closed);
    QVERIFY(port.OutputDrained());
}

void TestComm::openErrors_data() {
    QTest::addColumn<QString>("deviceName");
    QTest::addColumn<int>("portNum");
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("expected");
    // What follows the message: where the name leads and what mends it ("~" is the home).
    QTest::addColumn<QString>("advice");
    QTest::newRow("COM port without link or device")
        << "COM%d" << 77 << ""
        << "Specified device not found (COM77)."
        << "COM77 opens /dev/ttyS76 (there is no link ~ports/COM77), which does not exist.";
    QTest::newRow("Windows prefix kept in the message")
        << "\\\\.\\COM%d" << 78 << ""
        << "Specified device not found (\\\\.\\COM78)."
        << "\\\\.\\COM78 opens /dev/ttyS77";
    QTest::newRow("dangling link") << "COM%d" << 4 << "dangling"
                                   << "Specified device not found (COM4)."
                                   << "~ports/COM4 leads to ~missing, which does not exist.";
    QTest::newRow("absolute path") << "/nonexistent/tty%d" << 1 << ""
                                   << "Specified device not found (/nonexistent/tty1)."
                                   << "/nonexistent/tty1 does not exist.";
    QTest::newRow("not a terminal") << "COM%d" << 5 << "file"
                                    << "Can't open specified device COM5 (Error 25, "
                                       "Inappropriate ioctl for device)"
                                    << "";
    QTest::newRow("held by another port") << "COM%d" << 6 << "busy"
                                          << "Can't open specified device COM6 (Error 16, "
                                             "Device or resource busy)"
                                          << "is in use by test_serial_comm (pid ";
}

void TestComm::openErrors() {
    QFETCH(QString, deviceName);
    QFETCH(int, portNum);
    QFETCH(QString, setup);
    QFETCH(QString, expected);
    QFETCH(QString, advice);
    advice.replace("~", mHome->path());
    Pty pty;
    QDir().mkpath(mHome->file("ports"));
    const QString link = mHome->file("ports/COM") + QString::number(portNum);
    std::unique_ptr<TVaComm> holder;
    if (setup == "dangling") QVERIFY(QFile::link(mHome->file("missing"), link));
    if (setup == "file") QVERIFY(WriteFile(link, "plain file"));
    if (setup == "busy") {
        QVERIFY(QFile::link(pty.slavePath, link));
        holder = openPort(pty);
    }
    TVaComm port;
    bool opened = false;
    port.OnOpen = [&](TVaComm*) { opened = true; };
    port.SetPortMapFolder(mHome->path());
    port.SetDeviceName(deviceName);
    port.SetPortNum(portNum);
    const int baseThreads = threadCount();
    const QString raised = raisedBy([&] { port.Open(); });
    if (advice.isEmpty()) {
        QCOMPARE(raised, expected);
    } else {
        QVERIFY2(raised.startsWith(expected + " ") || raised.startsWith(expected + ". "),
                 qPrintable(raised));
        QVERIFY2(raised.contains(advice), qPrintable(raised + "\n" + advice));
    }
    QVERIFY(!port.IsOpen());
    QVERIFY(!opened);
    QCOMPARE(threadCount(), baseThreads);
}

void TestComm::closedOnlyProperties_data() {
    QTest::addColumn<int>("which");
    QTest::addColumn<bool>("refused");
    const char* names[] = {"PortNum",      "DeviceName", "MonitorEvents", "DirectWrite",
                           "UpdateDCB",    "ReadSize",   "WriteSize",     "XonLimit",
                           "XoffLimit",    "Buffers",    "Open",          "ReadTimeout",
                           "WriteTimeout", "Parity",     "FlowControl"};
    for (int i = 0; i < int(std::size(names)); ++i)
        QTest::newRow(names[i]) << i << (i <= 10);
}

void TestComm::closedOnlyProperties() {
    QFETCH(int, which);
    QFETCH(bool, refused);
    Pty pty;
    auto port = openPort(pty);
    const std::function<void(TVaComm&)> changes[] = {
        [](TVaComm& p) { p.SetPortNum(2); },
        [](TVaComm& p) { p.SetDeviceName("COM%d"); },
        [](TVaComm& p) { p.SetMonitorEvents({ceRxChar}); },
        [](TVaComm& p) { p.SetDirectWrite(true); },
        [](TVaComm& p) { p.SetUpdateDCB(false); },
        [](TVaComm& p) { p.Buffers().SetReadSize(100); },
        [](TVaComm& p) { p.Buffers().SetWriteSize(100); },
        [](TVaComm& p) { p.Buffers().SetXonLimit(10); },
        [](TVaComm& p) { p.Buffers().SetXoffLimit(10); },
        [](TVaComm& p) { p.SetBuffers(TVaBuffers()); },
        [](TVaComm& p) { p.Open(); },
        [](TVaComm& p) { p.Buffers().SetReadTimeout(50); },
        [](TVaComm& p) { p.Buffers().SetWriteTimeout(50); },
        [](TVaComm& p) { p.SetParity(paEven); },
        [](TVaComm& p) {
            TVaFlowControl f;
            f.SetXonXoffIn(true);
            p.SetFlowControl(f);
        },
    };
    const TVaBuffers before = port->Buffers();
    const QString error = raisedBy([&] { changes[which](*port); });
    QVERIFY(port->IsOpen());
    if (refused) {
        QCOMPARE(error, QString("Can't perform this operation while port is open"));
        QCOMPARE(port->PortNum(), 0);
        QCOMPARE(port->DeviceName(), pty.slavePath);
        QVERIFY(port->MonitorEvents() == (TVaCommEvents{ceError, ceRxChar, ceTxEmpty}));
        QCOMPARE(port->Buffers().ReadSize(), before.ReadSize());
        QCOMPARE(port->Buffers().WriteSize(), before.WriteSize());
        QCOMPARE(port->Buffers().XonLimit(), before.XonLimit());
        // Closed, the same change is accepted.
        port->Close();
        if (which != 10) QCOMPARE(raisedBy([&] { changes[which](*port); }), QString());
        port = openPort(pty);
    } else {
        QCOMPARE(error, QString());
    }
    // The port still works after an accepted change.
    QVERIFY(port->WriteText(QByteArray("ok")));
    QCOMPARE(pty.receive(2, 2000), QByteArray("ok"));
}

void TestComm::baudrateRules() {
    TVaComm port;
    QCOMPARE(port.Baudrate(), br1200);
    port.SetUserBaudrate(57600);
    QCOMPARE(port.Baudrate(), brUser);
    QCOMPARE(port.UserBaudrate(), 57600);
    port.SetBaudrate(br9600);
    QCOMPARE(port.UserBaudrate(), 0);
    QCOMPARE(port.Baudrate(), br9600);
    port.SetUserBaudrate(250000);
    port.SetBaudrate(brUser); // unchanged member: UserBaudrate stays
    QCOMPARE(port.UserBaudrate(), 250000);
    QCOMPARE(BaudrateValue(br56000), 56000);
    QCOMPARE(BaudrateValue(br256000), 256000);

    // While open, a speed of 0 bits per second cannot be sent and is refused.
    Pty pty;
    auto open = openPort(pty);
    open->SetUserBaudrate(300);
    QCOMPARE(raisedBy([&] { open->SetUserBaudrate(0); }),
             QString("Error writing dcb (22), Invalid argument"));
    QVERIFY(open->IsOpen());
}

void TestComm::lineSettingsReachTheDevice_data() {
    QTest::addColumn<int>("databits");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("stopbits");
    QTest::addColumn<bool>("xonxoff");
    QTest::addColumn<uint>("cflagBits");
    // A pseudo-terminal forces 8 bits without parity enable; the other bits stay as sent.
    QTest::newRow("8N1") << int(db8) << int(paNone) << int(sb1) << false << 0u;
    QTest::newRow("7E1") << int(db7) << int(paEven) << int(sb1) << false << 0u;
    QTest::newRow("7O2") << int(db7) << int(paOdd) << int(sb2) << false << uint(PARODD | CSTOPB);
    QTest::newRow("5 mark 1.5") << int(db5) << int(paMark) << int(sb15) << true
                                << uint(PARODD | CMSPAR | CSTOPB);
    QTest::newRow("6 space 1") << int(db6) << int(paSpace) << int(sb1) << false << uint(CMSPAR);
}

void TestComm::lineSettingsReachTheDevice() {
    QFETCH(int, databits);
    QFETCH(int, parity);
    QFETCH(int, stopbits);
    QFETCH(bool, xonxoff);
    QFETCH(uint, cflagBits);
    Pty pty;
    auto port = openPort(pty);
    // Changing a line property of an open port sends the settings at once.
    port->SetDatabits(TVaDatabits(databits));
    port->SetParity(TVaParity(parity));
    port->SetStopbits(TVaStopbits(stopbits));
    port->FlowControl().SetXonXoffOut(xonxoff);
    port->EventChars().SetXonChar(0x11);
    termios t;
    QCOMPARE(::tcgetattr(pty.slave, &t), 0);
    QCOMPARE(uint(t.c_cflag & (PARODD | CMSPAR | CSTOPB)), cflagBits);
    QCOMPARE(bool(t.c_iflag & IXON), xonxoff);
    QCOMPARE(t.c_lflag & (ICANON | ECHO | ISIG), tcflag_t(0)); // raw
    QCOMPARE(t.c_oflag & OPOST, tcflag_t(0));
    // With UpdateDCB false the device keeps what it has.
    port->Close();
    port->SetUpdateDCB(false);
    port->SetDatabits(db8);
    port->SetParity(paNone);
    port->Open();
    QCOMPARE(::tcgetattr(pty.slave, &t), 0);
    QCOMPARE(uint(t.c_cflag & (PARODD | CMSPAR | CSTOPB)), cflagBits);
    // Four data bits do not exist here.
    port->Close();
    port->SetUpdateDCB(true);
    port->SetDatabits(db4);
    QCOMPARE(raisedBy([&] { port->Open(); }), QString("Error writing dcb (22), Invalid argument"));
    QVERIFY(!port->IsOpen());
}

void TestComm::receiveDeliveryByClients_data() {
    QTest::addColumn<int>("clients");
    QTest::addColumn<bool>("active");
    QTest::newRow("no client: OnRxChar") << 0 << true;
    QTest::newRow("inactive client: OnRxBuf only") << 1 << false;
    QTest::newRow("active client: CommData then OnRxBuf") << 1 << true;
    QTest::newRow("two active clients") << 2 << true;
}

void TestComm::receiveDeliveryByClients() {
    QFETCH(int, clients);
    QFETCH(bool, active);
    Pty pty;
    auto port = openPort(pty);
    std::vector<std::unique_ptr<Listener>> listeners;
    QStringList order;
    for (int i = 0; i < clients; ++i) {
        listeners.push_back(std::make_unique<Listener>());
        listeners.back()->SetComm(port.get());
        listeners.back()->SetActive(active);
        listeners.back()->onData = [&order, i] { order << QString("client%1").arg(i); };
    }
    QCOMPARE(port->ClientCount(), clients);
    QByteArray viaRxBuf;
    int rxCharCount = 0;
    port->OnRxBuf = [&](TVaComm*, const char* data, int count) {
        viaRxBuf.append(data, count);
        order << "OnRxBuf";
    };
    port->OnRxChar = [&](TVaComm*, int count) { rxCharCount += count; };
    const QByteArray message = pattern(3000, 7);
    pty.send(message);
    if (clients == 0) {
        QVERIFY(WaitFor([&] { return rxCharCount >= message.size(); }, 3000));
        QVERIFY(viaRxBuf.isEmpty());
        // The bytes stay in the device until someone reads them.
        QCOMPARE(port->BytesWaiting(), int(message.size()));
        QByteArray all(message.size(), '\0');
        QCOMPARE(port->ReadData(all.data(), int(all.size())), int(message.size()));
        QCOMPARE(all, message);
        return;
    }
    QVERIFY(WaitFor([&] { return viaRxBuf.size() >= message.size(); }, 3000));
    QCOMPARE(viaRxBuf, message);
    QCOMPARE(rxCharCount, 0);
    QCOMPARE(port->BytesWaiting(), 0);
    for (auto& l : listeners)
        QCOMPARE(l->data, active ? message : QByteArray());
    if (active) QCOMPARE(order.mid(0, clients + 1).last(), QString("OnRxBuf"));
    if (clients == 2) QCOMPARE(order.mid(0, 2), QStringList({"client0", "client1"}));
    // Destroying a client removes its registration; destroying the port detaches the rest.
    listeners.front().reset();
    QCOMPARE(port->ClientCount(), clients - 1);
    port.reset();
    for (auto& l : listeners)
        if (l) QCOMPARE(l->Comm(), nullptr);
}

// A reply watcher that acts on its match by starting a "transfer" (purge, switch another client
// on): what followed the reply in the same receive block belongs to the transfer, and the
// transfer never sees the reply itself.
void TestComm::restOfBlockGoesToClientSwitchedOn_data() {
    QTest::addColumn<bool>("transferFirst"); // the transfer client registered before the watcher
    QTest::addColumn<QByteArray>("after");   // bytes sent right behind the reply
    QTest::newRow("transfer registered first") << true << QByteArray("C");
    QTest::newRow("transfer registered last") << false << QByteArray("C");
    QTest::newRow("several bytes") << true << QByteArray::fromHex("15430643");
    QTest::newRow("nothing behind the reply") << false << QByteArray();
}
void TestComm::restOfBlockGoesToClientSwitchedOn() {
    QFETCH(bool, transferFirst);
    QFETCH(QByteArray, after);
    Pty pty;
    auto port = openPort(pty);
    auto transfer = std::make_unique<Listener>();
    auto watcher = std::make_unique<TVaWaitMessage>();
    if (transferFirst) transfer->SetComm(port.get());
    watcher->SetComm(port.get());
    if (!transferFirst) transfer->SetComm(port.get());
    transfer->SetActive(false);
    watcher->SetStrings({"YES^M"});
    int matches = 0;
    watcher->OnMessage = [&](TVaWaitMessage* w, int) {
        ++matches;
        w->SetActive(false);
        port->PurgeReadWrite();
        transfer->SetActive(true);
    };
    pty.send("\rYES\r" + after);
    QVERIFY(WaitFor([&] { return matches == 1 && transfer->data.size() >= after.size(); }, 3000));
    // A byte sent after the transfer started reaches it too, and nothing reaches it twice.
    pty.send("D");
    QVERIFY(WaitFor([&] { return transfer->data.endsWith('D'); }, 3000));
    QCOMPARE(transfer->data, after + "D");
    QCOMPARE(matches, 1);
}

void TestComm::unreadBytesAreReportedOnce() {
    // An OnRxChar handler that leaves the bytes in the device is told again only when more
    // arrive, and the event thread does not spin meanwhile.
    Pty pty;
    auto port = openPort(pty);
    std::vector<int> counts;
    port->OnRxChar = [&](TVaComm*, int count) { counts.push_back(count); };
    pty.send("abc");
    QVERIFY(WaitFor([&] { return !counts.empty(); }, 2000));
    const double cpuBefore = cpuSeconds();
    Delay(300);
    QCOMPARE(counts, std::vector<int>({3}));
    QVERIFY2(cpuSeconds() - cpuBefore < 0.15, "event thread busy while bytes wait unread");
    pty.send("de");
    QVERIFY(WaitFor([&] { return counts.size() == 2; }, 2000));
    QCOMPARE(counts.back(), 5);
    char buf[8];
    QCOMPARE(port->ReadData(buf, 8), 5);
    pty.send("f");
    QVERIFY(WaitFor([&] { return counts.size() == 3; }, 2000));
    QCOMPARE(counts.back(), 1);
}

void TestComm::inputGatheredWhileItKeepsComing() {
    // With input gathering, a stream of small pieces, each well within the quiet spell of the
    // one before, reaches the handler in a few deliveries, every byte in order; a lone byte
    // after a pause (an acknowledgement) is reported at once, not held for a quiet spell.
    Pty pty;
    auto port = openPort(pty, false);
    port->SetRxGatherUs(100000); // looks every 100 ms, gathers 1.6 s at most
    port->Open();
    QByteArray got;
    int deliveries = 0;
    port->OnRxChar = [&](TVaComm* sender, int count) {
        ++deliveries;
        QByteArray buf(count, '\0');
        const int n = sender->ReadData(buf.data(), count);
        got.append(buf.constData(), std::max(0, n));
    };
    const QByteArray stream = pattern(200, 5);
    std::thread sender([&] {
        for (int i = 0; i < stream.size(); i += 2) {
            pty.send(stream.mid(i, 2));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    const bool whole = WaitFor([&] { return got.size() >= stream.size(); }, 10000);
    sender.join();
    QVERIFY(whole);
    QCOMPARE(got, stream);
    // 100 pieces over 100 ms or more: the first at once, then gathered while more comes.
    QVERIFY2(deliveries <= 10, qPrintable(QString("%1 deliveries").arg(deliveries)));

    deliveries = 0;
    got.clear();
    Delay(300); // a pause: what comes next starts afresh
    QElapsedTimer clock;
    clock.start();
    pty.send("x");
    QVERIFY(WaitFor([&] { return !got.isEmpty(); }, 2000));
    const qint64 ms = clock.elapsed();
    QCOMPARE(got, QByteArray("x"));
    QCOMPARE(deliveries, 1);
    QVERIFY2(ms < 80, qPrintable(QString("a lone byte took %1 ms").arg(ms)));
}

void TestComm::txEmptyWhenBufferDrains() {
    Pty pty;
    auto port = openPort(pty, false);
    port->SetMonitorEvents({ceRxChar}); // transmit-empty comes from the write thread anyway
    Listener listener;
    listener.SetComm(port.get());
    port->Open();
    int txEmpty = 0;
    port->OnTxEmpty = [&](TVaComm*) { ++txEmpty; };
    const QByteArray block = pattern(1500, 3);
    QVERIFY(port->WriteText(block));
    QVERIFY(WaitFor([&] { return txEmpty >= 1; }, 2000));
    QVERIFY(port->OutputDrained());
    QCOMPARE(pty.receive(1500, 2000), block);
    QVERIFY(std::find(listener.events.begin(), listener.events.end(), VaEvTxEmpty) !=
            listener.events.end());
    const int first = txEmpty;
    QVERIFY(port->WriteChar('z'));
    QVERIFY(WaitFor([&] { return txEmpty > first; }, 2000));
    QCOMPARE(pty.receive(1, 1000), QByteArray("z"));
}

void TestComm::directWrite() {
    Pty pty;
    auto port = openPort(pty, false);
    port->SetDirectWrite(true);
    port->Buffers().SetReadTimeout(150);
    port->Buffers().SetWriteTimeout(5000); // not used by direct writes
    int txEmpty = 0;
    port->OnTxEmpty = [&](TVaComm*) { ++txEmpty; };
    port->Open();
    QCOMPARE(port->WriteData("direct", 6), 6);
    QCOMPARE(pty.receive(6, 2000), QByteArray("direct"));
    // The device was asked for transmit-empty: it comes once the bytes have left.
    QVERIFY(WaitFor([&] { return txEmpty == 1; }, 2000));
    // On a line that stops taking bytes a direct write gives up after ReadTimeout and reports
    // how many bytes did go out.
    const QByteArray block = pattern(4096, 9);
    int last = 0;
    qint64 longest = 0, total = 0;
    for (int i = 0; i < 2000; ++i) {
        QElapsedTimer clock;
        clock.start();
        last = port->WriteData(block.constData(), int(block.size()));
        total += last;
        longest = std::max(longest, clock.elapsed());
        if (last < block.size()) break;
    }
    QVERIFY(last < block.size());
    QVERIFY(longest >= 140 && longest < 1500);
    // Every byte counted as written arrives; none more.
    const QByteArray arrived = pty.receive(int(total), 3000);
    QCOMPARE(arrived.size(), total);
    QVERIFY(pty.receive(1, 100).isEmpty());
    QCOMPARE(arrived.right(last), block.left(last));
}

void TestComm::devicePaths_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("formatted");
    QTest::addColumn<QString>("path"); // "@" stands for the program folder
    QTest::newRow("COM1 without link") << "COM%d" << 1 << "COM1"
                                       << "/dev/ttyS0";
    QTest::newRow("lower case com") << "com%d" << 2 << "com2"
                                    << "/dev/ttyS1";
    QTest::newRow("linked COM7") << "COM%d" << 7 << "COM7"
                                 << "/dev/ttyUSB9";
    QTest::newRow("Windows prefix") << "\\\\.\\COM%d" << 3 << "\\\\.\\COM3"
                                    << "/dev/ttyS2";
    QTest::newRow("absolute pattern") << "/dev/ttyACM%d" << 0 << "/dev/ttyACM0"
                                      << "/dev/ttyACM0";
    QTest::newRow("plain device name") << "ttyUSB%d" << 1 << "ttyUSB1"
                                       << "/dev/ttyUSB1";
    QTest::newRow("percent sign") << "/tmp/100%%/p%d" << 5 << "/tmp/100%/p5"
                                  << "/tmp/100%/p5";
    QTest::newRow("no placeholder") << "/dev/modem" << 9 << "/dev/modem"
                                    << "/dev/modem";
}

void TestComm::devicePaths() {
    QFETCH(QString, pattern);
    QFETCH(int, number);
    QFETCH(QString, formatted);
    QFETCH(QString, path);
    QDir().mkpath(mHome->file("ports"));
    QVERIFY(QFile::link("/dev/ttyUSB9", mHome->file("ports/COM7")));
    QCOMPARE(FormatDeviceName(pattern, number), formatted);
    QCOMPARE(SerialDevicePath(formatted, mHome->path()), path);
}

void TestComm::outputBufferFull_data() {
    QTest::addColumn<bool>("oversized");
    QTest::newRow("one write larger than WriteSize, idle line") << true;
    QTest::newRow("line stalled, buffer stays full") << false;
}

void TestComm::outputBufferFull() {
    QFETCH(bool, oversized);
    Pty pty;
    auto port = openPort(pty, false);
    port->Buffers().SetWriteSize(64);
    port->Buffers().SetWriteTimeout(150);
    port->Open();
    const QString full = "Output buffer is full. Please check comm status.";
    if (oversized) {
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(raisedBy([&] { port->WriteData(pattern(65, 1).constData(), 65); }), full);
        QVERIFY(clock.elapsed() >= 140);
        QVERIFY(port->WriteText(pattern(64, 1))); // exactly WriteSize fits
        QCOMPARE(pty.receive(64, 2000), pattern(64, 1));
        return;
    }
    // The master never reads: sooner or later the terminal stops taking bytes and the pending
    // buffer stays full.
    QString error;
    qint64 accepted = 0;
    for (int i = 0; i < 20000 && error.isEmpty(); ++i) {
        error = raisedBy([&] { accepted += port->WriteData(pattern(64, 2).constData(), 64); });
        if (i % 64 == 0) QCoreApplication::processEvents();
    }
    QCOMPARE(error, full);
    QVERIFY(accepted > 0);
    QVERIFY(!port->OutputDrained());
    // Once the other side reads, the line moves again.
    const QByteArray drained = pty.receive(int(accepted), 5000);
    QCOMPARE(drained.size(), accepted);
    QVERIFY(WaitFor([&] { return port->OutputDrained(); }, 2000));
    QVERIFY(port->WriteText(QByteArray("after")));
    QCOMPARE(pty.receive(5, 2000), QByteArray("after"));
}

void TestComm::purgeReadWrite() {
    Pty pty;
    auto port = openPort(pty, false);
    port->SetMonitorEvents({}); // leave received bytes in the device
    port->Buffers().SetWriteSize(512);
    port->Open();
    // Input waiting in the device.
    pty.send("stale input");
    QVERIFY(WaitFor([&] { return port->BytesWaiting() == 11; }, 2000));
    // Output stuck in the pending buffer: fill the line until writes no longer drain.
    for (int i = 0; i < 4000 && port->OutputDrained(); ++i) {
        try {
            port->WriteData(pattern(256, 5).constData(), 256);
        } catch (const EVaCommError&) {
            break;
        }
    }
    QVERIFY(WaitFor([&] { return !port->OutputDrained(); }, 1000));
    QElapsedTimer clock;
    clock.start();
    port->PurgeReadWrite();
    QVERIFY(clock.elapsed() < 1000); // the write thread answers at once
    QCOMPARE(port->BytesWaiting(), 0);
    QVERIFY(port->OutputDrained());
    // Purging only the input keeps pending output.
    ::tcflush(pty.master, TCIOFLUSH);
    QVERIFY(port->WriteText(QByteArray("keep")));
    port->Purge(VaPurgeRxAbort | VaPurgeRxClear);
    QCOMPARE(pty.receive(4, 2000), QByteArray("keep"));
}

void TestComm::noMonitorEventsNoEventThread() {
    Pty pty;
    const int baseThreads = threadCount();
    for (bool direct : {false, true}) {
        auto port = openPort(pty, false);
        port->SetMonitorEvents({});
        port->SetDirectWrite(direct);
        bool rx = false;
        port->OnRxChar = [&](TVaComm*, int) { rx = true; };
        port->OnRxBuf = [&](TVaComm*, const char*, int) { rx = true; };
        port->Open();
        QCOMPARE(threadCount(), baseThreads + (direct ? 0 : 1));
        pty.send("quiet");
        Delay(150);
        QVERIFY(!rx);
        char buf[16];
        QCOMPARE(port->ReadData(buf, 16), 5);
        QCOMPARE(QByteArray(buf, 5), QByteArray("quiet"));
        QCOMPARE(port->WriteData("12345", 5), 5);
        QCOMPARE(pty.receive(5, 2000), QByteArray("12345"));
        port.reset();
        QCOMPARE(threadCount(), baseThreads);
    }
}

void TestComm::megabyteEachWayAtOnce() {
    // Two ports on a null-modem cable. A worker thread on each side writes 1 MB (as the transfer
    // engine does), the main thread receives both directions through OnRxBuf.
    Cable cable;
    auto a = openPort(cable.a, false);
    auto b = openPort(cable.b, false);
    for (TVaComm* p : {a.get(), b.get()}) {
        p->Buffers().SetWriteTimeout(10000);
        p->OnRxBuf = [](TVaComm*, const char*, int) {};
    }
    Listener listenA, listenB; // clients make the port read every byte it is told about
    listenA.SetComm(a.get());
    listenB.SetComm(b.get());
    a->Open();
    b->Open();
    constexpr int size = 1 << 20;
    const QByteArray fromA = pattern(size, 11), fromB = pattern(size, 12);
    std::atomic<int> failures{0};
    auto writer = [&failures](TVaComm* port, const QByteArray* data, quint32 seed) {
        QRandomGenerator gen(seed);
        for (int done = 0; done < size;) {
            const int n = std::min(size - done, 1 + int(gen.bounded(2048)));
            try {
                if (port->WriteData(data->constData() + done, n) != n) ++failures;
            } catch (const EVaCommError&) {
                ++failures;
                return;
            }
            done += n;
        }
    };
    QElapsedTimer clock;
    clock.start();
    std::thread wa(writer, a.get(), &fromA, 1u), wb(writer, b.get(), &fromB, 2u);
    const bool done =
        WaitFor([&] { return listenB.data.size() >= size && listenA.data.size() >= size; }, 60000);
    wa.join();
    wb.join();
    const double seconds = double(clock.elapsed()) / 1000.0;
    QVERIFY(done);
    QCOMPARE(failures.load(), 0);
    QVERIFY(listenB.data == fromA);
    QVERIFY(listenA.data == fromB);
    qInfo("2 x 1 MB over a pseudo-terminal cable in %.2f s (%.1f MB/s each way)", seconds,
          1.0 / seconds);
}

void TestComm::pingPongHasNoStalls() {
    // Two ports answer each other byte for byte from their handlers, purging before each answer
    // as the modem controller does: every round trip passes both workers and the main thread, so
    // a hand-off that waits for a time-out shows up at once.
    Cable cable;
    auto a = openPort(cable.a);
    auto b = openPort(cable.b);
    constexpr int rounds = 300;
    int count = 0;
    a->OnRxChar = [&](TVaComm* sender, int n) {
        char buf[16];
        sender->ReadData(buf, std::min(n, 16));
        if (++count < rounds) {
            sender->PurgeReadWrite();
            sender->WriteChar('a');
        }
    };
    b->OnRxChar = [&](TVaComm* sender, int n) {
        char buf[16];
        sender->ReadData(buf, std::min(n, 16));
        sender->PurgeReadWrite();
        sender->WriteChar('b');
    };
    QElapsedTimer clock;
    clock.start();
    QVERIFY(a->WriteChar('a'));
    QVERIFY(WaitFor([&] { return count >= rounds; }, 20000));
    const double ms = double(clock.elapsed()) / rounds;
    qInfo("round trip through both ports: %.3f ms", ms);
    QVERIFY2(ms < 200, "hand-offs wait for time-outs"); // a stalled flush costs 2000 ms
}

void TestComm::readAfterTheHandlerHasNoStalls() {
    // As above, but each side reads its byte after its handler has returned (from a zero
    // timer): the bytes were reported and left unread, and the read itself must make the event
    // thread watch the device again at once, not after a poll time-out.
    Cable cable;
    auto a = openPort(cable.a);
    auto b = openPort(cable.b);
    constexpr int rounds = 200;
    int count = 0;
    const auto answerLater = [&](TVaComm* sender, char answer, bool counting) {
        QTimer::singleShot(0, [&, sender, answer, counting] {
            char buf[16];
            sender->ReadData(buf, sizeof buf);
            if (counting && ++count >= rounds) return;
            sender->WriteChar(answer);
        });
    };
    a->OnRxChar = [&](TVaComm* sender, int) { answerLater(sender, 'a', true); };
    b->OnRxChar = [&](TVaComm* sender, int) { answerLater(sender, 'b', false); };
    QElapsedTimer clock;
    clock.start();
    QVERIFY(a->WriteChar('a'));
    QVERIFY(WaitFor([&] { return count >= rounds; }, 30000));
    const double ms = double(clock.elapsed()) / rounds;
    qInfo("round trip with reads after the handlers: %.3f ms", ms);
    // A poll time-out of 10 ms on each side made this about 10 ms.
    QVERIFY2(ms < 5, qPrintable(QString::number(ms)));
}

void TestComm::thousandOpenCloseCycles() {
    // Traffic flows in both directions while the port opens and closes 1000 times; nothing may
    // hang, leak a thread or a descriptor.
    Pty pty;
    auto port = openPort(pty, false);
    Listener listener;
    listener.SetComm(port.get());
    int txEmpty = 0;
    port->OnTxEmpty = [&](TVaComm*) { ++txEmpty; };
    std::atomic<bool> stop{false};
    std::thread talker([&] {
        char sink[4096];
        while (!stop) {
            [[maybe_unused]] ssize_t w = ::write(pty.master, "0123456789abcdef", 16);
            while (::read(pty.master, sink, sizeof sink) > 0) {
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    // A worker writes through the client registration meanwhile, as the transfer engine does.
    std::atomic<int> workerAccepted{0};
    std::thread worker([&] {
        while (!stop) {
            try {
                workerAccepted += listener.Dispatcher().WriteData("w", 1);
            } catch (const EVaCommError&) {
            }
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    });
    const int baseThreads = threadCount();
    const int baseFds = fdCount();
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 1000; ++i) {
        port->Open();
        port->WriteText(QByteArray("cycle"));
        if (i % 3 == 0) QCoreApplication::processEvents();
        port->Close();
        if (i % 5 == 0) QCoreApplication::processEvents();
    }
    const qint64 elapsed = clock.elapsed();
    // Afterwards the port still receives and reports transmit-empty.
    port->Open();
    const qsizetype before = listener.data.size();
    const int txBefore = txEmpty;
    QVERIFY(WaitFor([&] { return listener.data.size() > before + 32; }, 3000));
    QVERIFY(port->WriteText(QByteArray("final")));
    QVERIFY(WaitFor([&] { return txEmpty > txBefore; }, 3000));
    port->Close();
    stop = true;
    talker.join();
    worker.join();
    QCoreApplication::processEvents();
    QVERIFY(workerAccepted > 0);
    QCOMPARE(threadCount(), baseThreads - 2); // the talker and the worker have ended
    QCOMPARE(fdCount(), baseFds);
    qInfo("1000 open/close cycles with traffic in %lld ms", elapsed);
}

void TestComm::closeOrDestroyInsideHandler_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("where");
    for (const char* where : {"OnRxBuf", "CommData", "OnRxChar"})
        for (const char* action : {"close", "destroy", "close and reopen", "destroy during Delay"})
            QTest::newRow(QByteArray(action) + " in " + where) << QString(action) << QString(where);
}

void TestComm::closeOrDestroyInsideHandler() {
    QFETCH(QString, action);
    QFETCH(QString, where);
    Pty pty;
    const int baseThreads = threadCount();
    auto port = openPort(pty, false);
    std::unique_ptr<Listener> listener;
    if (where != "OnRxChar") {
        listener = std::make_unique<Listener>();
        listener->SetComm(port.get());
    }
    int calls = 0, closes = 0, laterHandlers = 0;
    auto act = [&] {
        ++calls;
        if (action == "destroy") {
            port.reset();
        } else if (action == "destroy during Delay") {
            QTimer::singleShot(10, [&] { port.reset(); });
            Delay(60);
        } else {
            port->Close();
            if (action == "close and reopen") port->Open();
        }
    };
    port->OnClose = [&](TVaComm*) { ++closes; };
    if (where == "CommData") {
        listener->onData = act;
        port->OnRxBuf = [&](TVaComm*, const char*, int) { ++laterHandlers; };
    } else if (where == "OnRxBuf") {
        port->OnRxBuf = [&](TVaComm*, const char*, int) { act(); };
    } else {
        port->OnRxChar = [&](TVaComm* sender, int count) {
            QByteArray buf(count, '\0');
            sender->ReadData(buf.data(), count);
            act();
        };
    }
    port->Open();
    pty.send("trigger");
    QVERIFY(WaitFor([&] { return calls > 0; }, 2000));
    Delay(100);
    QCOMPARE(calls, 1);
    if (action.startsWith("destroy")) {
        QVERIFY(!port);
        QCOMPARE(laterHandlers, 0); // nothing ran on the destroyed port
        if (listener) QCOMPARE(listener->Comm(), nullptr);
    } else {
        QCOMPARE(closes, 1);
        QCOMPARE(port->IsOpen(), action == "close and reopen");
    }
    if (port && port->IsOpen()) {
        // The reopened port works normally.
        if (listener) listener->onData = nullptr;
        port->OnRxChar = nullptr;
        port->OnRxBuf = nullptr;
        QVERIFY(port->WriteText(QByteArray("alive")));
        QCOMPARE(pty.receive(5, 2000), QByteArray("alive"));
    }
    port.reset();
    QCOMPARE(threadCount(), baseThreads);
}

void TestComm::closeOrDestroyWhileWorkerWaits_data() {
    QTest::addColumn<QString>("action");
    QTest::newRow("close") << "close";
    QTest::newRow("destroy") << "destroy";
    QTest::newRow("close and reopen") << "close and reopen";
}

void TestComm::closeOrDestroyWhileWorkerWaits() {
    QFETCH(QString, action);
    Pty pty;
    const int baseThreads = threadCount();
    auto port = openPort(pty);
    QByteArray got;
    int deliveries = 0;
    port->OnRxChar = [&](TVaComm* sender, int count) {
        ++deliveries;
        QByteArray buf(count, '\0');
        got += buf.left(sender->ReadData(buf.data(), count));
    };
    // Another port's delivery waits at the same time: each port's deliveries run on an object
    // of its own, so what goes with the first port leaves it alone.
    Pty otherPty;
    auto other = openPort(otherPty);
    QByteArray otherGot;
    other->OnRxChar = [&](TVaComm* sender, int count) {
        QByteArray buf(count, '\0');
        otherGot += buf.left(sender->ReadData(buf.data(), count));
    };
    // The event thread hands the delivery over and waits; the main thread is busy elsewhere.
    pty.send("pending");
    otherPty.send("other");
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    QElapsedTimer clock;
    clock.start();
    if (action == "destroy")
        port.reset();
    else
        port->Close();
    QVERIFY2(clock.elapsed() < 500, "closing waited for the main thread");
    if (action == "close and reopen") port->Open();
    // The stale delivery is dropped; a reopened port reports the waiting bytes anew.
    Delay(200);
    if (action == "close and reopen") {
        QVERIFY(WaitFor([&] { return got == "pending"; }, 2000));
        QCOMPARE(deliveries, 1);
    } else {
        QCOMPARE(deliveries, 0);
    }
    QVERIFY(WaitFor([&] { return otherGot == "other"; }, 2000));
    port.reset();
    other.reset();
    QCOMPARE(threadCount(), baseThreads);
}

void TestComm::delayInsideHandlerDoesNotNest() {
    Pty pty;
    auto port = openPort(pty);
    Listener listener;
    listener.SetComm(port.get());
    int depth = 0, maxDepth = 0, txEmptyInside = 0;
    QByteArray got;
    port->OnTxEmpty = [&](TVaComm*) {
        if (depth > 0) ++txEmptyInside;
    };
    port->OnRxBuf = [&](TVaComm* sender, const char* data, int count) {
        ++depth;
        maxDepth = std::max(maxDepth, depth);
        got.append(data, count);
        sender->WriteText(QByteArray("ack"));
        Delay(30); // events keep flowing meanwhile
        --depth;
    };
    QByteArray sent;
    for (int i = 0; i < 20; ++i) {
        const QByteArray piece = "piece" + QByteArray::number(i) + ";";
        sent += piece;
        pty.send(piece);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    QVERIFY(WaitFor([&] { return got.size() >= sent.size(); }, 5000));
    QCOMPARE(got, sent);
    QCOMPARE(maxDepth, 1);      // the event thread waits for its delivery: never nested
    QVERIFY(txEmptyInside > 0); // the write thread's deliveries are handled during the Delay
    QVERIFY(listener.data == sent);
}

// The far end goes away (a USB adapter pulled, linesim killed): the bytes that came before are
// delivered, then the loss is told once, by OnLineLost with the errno, and never as a line error
// or a failing purge; nothing spins, writes take nothing, and the port closes as usual.
void TestComm::hangUpIsLineLost() {
    Pty pty;
    auto port = openPort(pty);
    std::vector<uint32_t> errors;
    std::vector<int> lost;
    QByteArray got;
    bool lostAfterData = false;
    port->OnError = [&](TVaComm*, uint32_t e) { errors.push_back(e); };
    port->OnLineLost = [&](TVaComm*, int error) {
        lost.push_back(error);
        lostAfterData = got == "last words";
    };
    port->OnRxChar = [&](TVaComm* sender, int count) {
        char buf[64];
        const int n = sender->ReadData(buf, std::min(count, 64));
        got.append(buf, n);
    };
    pty.send("last words");
    QVERIFY(WaitFor([&] { return got.size() >= 10; }, 2000));
    ::close(pty.slave);
    pty.slave = -1;
    pty.closeMaster(); // the other end goes away
    QVERIFY(WaitFor([&] { return !lost.empty(); }, 2000));
    QVERIFY(lostAfterData);
    QCOMPARE(lost, std::vector<int>{EIO});
    QCOMPARE(port->OpenedPath(), pty.slavePath);
    const double cpuBefore = cpuSeconds();
    // A write and a purge after the loss: nothing taken, nothing raised, nothing reported.
    QVERIFY(!port->WriteText(QByteArray("into the void")));
    QCOMPARE(raisedBy([&] { port->PurgeReadWrite(); }), QString());
    QCOMPARE(port->GetStatus().Errors, 0u);
    Delay(400);
    QVERIFY2(cpuSeconds() - cpuBefore < 0.2, "a lost line keeps the workers busy");
    QCOMPARE(lost.size(), size_t(1));
    QVERIFY(errors.empty());
    QVERIFY(port->OutputDrained());
    port->Close();
    QVERIFY(!port->IsOpen());
}

void TestComm::exceptionInHandlerIsReported() {
    Pty pty;
    auto port = openPort(pty, false);
    port->SetExceptionHandler([this](const QString& origin, const QString& text) {
        mHome->sink().Add("!" + origin + ": " + text);
    });
    port->OnOpen = [](TVaComm*) { throw EVaCommError("open handler failed"); };
    port->OnRxChar = [](TVaComm*, int) { throw std::runtime_error("rx handler failed"); };
    port->Open();
    QVERIFY(port->IsOpen()); // an exception in OnOpen does not fail the open
    pty.send("x");
    QVERIFY(WaitFor(
        [&] { return mHome->status().contains("!TVaComm.HandleEvent: rx handler failed"); }, 2000));
    QVERIFY(mHome->status().contains("!TVaComm.Open: open handler failed"));
    QVERIFY(port->IsOpen());
}

QTEST_GUILESS_MAIN(TestComm)
#include "comm_test.moc"
