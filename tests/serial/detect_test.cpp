// Modem detection over real pseudo-terminals: simulated modems and cables from linesim, port
// links in the program folder, description files, a stand-in for the system's tty class, and
// misbehaving "modems" played by the test on a pty master.
#include "common/test_home.h"
#include "common/linesim_process.h"
#include "platform/serial_device.h"
#include "serial/com_info.h"
#include "serial/modem_probe.h"
#include "serial/modems.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {
template <size_t N> QByteArray rawBytes(const char (&text)[N]) {
    return QByteArray(text, qsizetype(N - 1));
}

// A "modem" that misbehaves, played on the master side of a pseudo-terminal by a thread of its
// own (detection blocks the main thread while it asks).
class TBadModem {
public:
    enum Mode {
        Trickle,     // after the first byte: printable text, slowly, never a line end
        Flood,       // after the first byte: binary noise with NULs and line ends, without pause
        NulBytes,    // answers, with NULs and control characters inside every reply
        OkThenFlood, // "OK" to AT, then a flood
        LongLines,   // answers, but with maker and model lines too long to be replies
    };

    explicit TBadModem(Mode mode) : mMode(mode) {
        char name[128] = {};
        if (openpty(&mMaster, &mSlave, name, nullptr, nullptr) != 0) return;
        mSlavePath = QString::fromLocal8Bit(name);
        termios tio{};
        tcgetattr(mSlave, &tio);
        cfmakeraw(&tio);
        tcsetattr(mSlave, TCSANOW, &tio);
        fcntl(mMaster, F_SETFL, fcntl(mMaster, F_GETFL) | O_NONBLOCK);
        mThread = std::thread([this] { Run(); });
    }
    ~TBadModem() {
        mStop = true;
        if (mThread.joinable()) mThread.join();
        if (mSlave >= 0) ::close(mSlave);
        if (mMaster >= 0) ::close(mMaster);
    }
    QString SlavePath() const { return mSlavePath; }

private:
    void Write(const QByteArray& bytes) {
        qsizetype done = 0;
        while (done < bytes.size() && !mStop) {
            const ssize_t n =
                ::write(mMaster, bytes.constData() + done, size_t(bytes.size() - done));
            if (n > 0) {
                done += n;
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    }
    QByteArray Reply(const QByteArray& command) const {
        if (mMode == NulBytes) {
            if (command == "AT") return rawBytes("\0A\0T\r\0\r\n\0O\0K\0\r\n");
            if (command == "AT+GMI") return rawBytes("\r\n\0Ac\x01me\x7f\r\n\0OK\r\n");
            if (command == "AT+GMM") return rawBytes("\r\nRoad\0Runner\r\nOK\r\n");
            return "\r\nERROR\r\n";
        }
        // LongLines
        if (command == "AT") return "\r\nOK\r\n";
        if (command == "AT+GMI") return "\r\n" + QByteArray(1000, 'x') + "\r\nOK\r\n";
        if (command == "ATI3") return "\r\nOK\r\n";
        if (command == "AT+GMM") return "\r\n" + QByteArray(300, 'M') + "\r\nOK\r\n";
        if (command == "ATI4") return "\r\nModel4\r\nOK\r\n";
        return "\r\nERROR\r\n";
    }
    void Run() {
        QByteArray line;
        bool flooding = false, trickling = false;
        unsigned noise = 7;
        while (!mStop) {
            pollfd p{mMaster, POLLIN, 0};
            ::poll(&p, 1, flooding ? 0 : 5);
            char buffer[512];
            const ssize_t n = ::read(mMaster, buffer, sizeof buffer);
            for (ssize_t i = 0; i < n; ++i) {
                if (mMode == Trickle) trickling = true;
                if (mMode == Flood) flooding = true;
                if (buffer[i] != '\r') {
                    line.append(buffer[i]);
                    continue;
                }
                if (mMode == OkThenFlood) {
                    Write("\r\nOK\r\n");
                    flooding = true;
                } else if (mMode == NulBytes || mMode == LongLines) {
                    Write(Reply(line));
                }
                line.clear();
            }
            if (trickling) {
                Write("z");
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            if (flooding) {
                QByteArray chunk(512, '\0');
                for (char& c : chunk) {
                    noise = noise * 1103515245u + 12345u;
                    const unsigned v = (noise >> 16) & 0xFF;
                    // Never a printable letter, so no "OK" can come out of it by chance.
                    c = char(v < 0x20 || v >= 0x80 ? v
                                                   : (v % 3 == 0   ? '\r'
                                                      : v % 3 == 1 ? '\n'
                                                                   : 0));
                }
                Write(chunk);
            }
        }
    }

    Mode mMode;
    int mMaster = -1, mSlave = -1;
    QString mSlavePath;
    std::atomic<bool> mStop{false};
    std::thread mThread;
};

bool link(const QString& target, const QString& at) {
    QDir().mkpath(QFileInfo(at).absolutePath());
    QFile::remove(at);
    return QFile::link(target, at);
}

// A source that sees no system devices: only the port links and description files of the home.
struct TIsolatedSource {
    QTemporaryDir empty;
    TComInfo info;
    TIsolatedSource() {
        info.TtyClassDir = empty.path();
        info.DevDir = empty.path();
    }
};

int indexAttachedTo(TModemsList& list, const QString& port) {
    for (int i = 0; i < list.Count(); ++i)
        if (list.GetSetting(i, mdkAttachedTo) == port) return i;
    return -1;
}
} // namespace

class TestDetect : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(QFileInfo(qEnvironmentVariable("LINESIM_BIN")).isExecutable(),
                 "set LINESIM_BIN to the built linesim (ctest does)");
    }

    void replyLines_data() {
        QTest::addColumn<QList<QByteArray>>("pieces");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("echo and OK split across reads")
            << QList<QByteArray>{"A", "T\r\r", "\nO", "K\r\n"} << QStringList{"AT", "OK"};
        QTest::newRow("NULs and control bytes removed")
            << QList<QByteArray>{rawBytes("\0O\x01K\x7f\xff\r")} << QStringList{"OK"};
        QTest::newRow("blank and blank-only lines dropped")
            << QList<QByteArray>{"\r\n\r\n  \t \r\n x \n"} << QStringList{"x"};
        QTest::newRow("line too long dropped up to its end")
            << QList<QByteArray>{QByteArray(200, 'a'), QByteArray(100, 'b'), "\r\nOK\r"}
            << QStringList{"OK"};
        QTest::newRow("longest line kept")
            << QList<QByteArray>{QByteArray(TModemReplyLines::MaxLine, 'c') + "\n"}
            << QStringList{QString(TModemReplyLines::MaxLine, 'c')};
        QTest::newRow("unfinished line held back")
            << QList<QByteArray>{"OK\r\nCONN"} << QStringList{"OK"};
    }
    void replyLines() {
        QFETCH(QList<QByteArray>, pieces);
        QFETCH(QStringList, lines);
        TModemReplyLines splitter;
        QStringList got;
        for (const QByteArray& piece : pieces)
            got += splitter.Feed(piece.constData(), int(piece.size()));
        QCOMPARE(got, lines);
    }

    // Two modems (and a third of the same model) linked as ports of the home; a silent one
    // is passed over.
    void findsSimulatedModems() {
        TestHome home(1);
        TLinesim sim;
        QVERIFY(sim.Start({"modems", "--modem",
                           home.file("ports/COM3") + "=101,maker=Acme,model=Fast 56K", "--modem",
                           home.file("ports/COM4") + "=102", "--modem",
                           home.file("ports/COM5") + "=103,maker=Acme,model=Fast 56K", "--modem",
                           home.file("ports/COM6") + "=104,silent"}));
        TIsolatedSource source;
        TModemsList list(home.settings(), home.sink());
        list.AddModem(); // replaced
        QElapsedTimer timer;
        timer.start();
        list.Detect(source.info);
        qInfo("detection of 3 modems and a silent one took %lld ms", timer.elapsed());

        QCOMPARE(list.Count(), 3);
        QCOMPARE(list.GetSetting(0, mdkAttachedTo), QString("COM3"));
        QCOMPARE(list.GetSetting(1, mdkAttachedTo), QString("COM4"));
        QCOMPARE(list.GetSetting(2, mdkAttachedTo), QString("COM5"));
        QCOMPARE(list.GetSetting(0, mdkManufacturer), QString("Acme"));
        QCOMPARE(list.GetSetting(0, mdkModel), QString("Fast 56K"));
        QCOMPARE(list.GetSetting(0, mdkFriendlyName), QString("Acme Fast 56K"));
        QCOMPARE(list.GetSetting(1, mdkManufacturer), QString("linesim"));
        QCOMPARE(list.GetSetting(1, mdkModel), QString("Virtual Hayes modem"));
        QCOMPARE(list.GetSetting(1, mdkFriendlyName), QString("linesim Virtual Hayes modem"));
        QCOMPARE(list.GetSetting(2, mdkFriendlyName), QString("Acme Fast 56K #2"));
        QCOMPARE(list.GetSetting(0, mdkGUID), QString("COM3"));
        QCOMPARE(list.GetSetting(2, mdkGUID), QString("COM5"));

        // The generic Hayes strings, cut at the terminator and composed.
        const QList<std::pair<TModemKey, QString>> expected = {
            {mdkCommandPrefix, "AT"},        {mdkCommandTerminator, "<cr>"},
            {mdkCommandReset, "ATZ"},        {mdkAnswerString, "ATA"},
            {mdkHangupString, "ATH"},        {mdkDefaultInitialization, "AT&F E0 V1 &D2 &C1 S0=0"},
            {mdkMonitorOff, "ATS0=0"},       {mdkMonitorOn, "ATS0=1"},
            {mdkDialString, "ATDT"},         {mdkDialPrefixNo, ""},
            {mdkCommandSpeakerOn, "ATM2"},   {mdkCommandSpeakerOff, "ATM0"},
            {mdkOnDuringDialing, "M1"},      {mdkErrorControlOn, "\\N3"},
            {mdkSetCallFailTimer, "S7=<#>"}, {mdkUseBlindDialing, "NO"},
            {mdkUseCompression, "NO"},       {mdkUseECC, "NO"},
            {mdkSpkEnabled, "NO"},           {mdkAAMode, "0"},
        };
        for (const auto& [key, value] : expected)
            QVERIFY2(list.GetSetting(1, key) == value,
                     qPrintable(QString(ModemKeyNames[key]) + "=" + list.GetSetting(1, key)));
        for (TModemKey key :
             {mdkSupportsBlindDialing, mdkSupportsDataCompression, mdkSupportsSpeakerControl,
              mdkSupportsVolumeControl, mdkSupportsErrorControl, mdkSupportsFlowControl,
              mdkSupportsSpeedNegotiation, mdkSupportsCallFailTimer, mdkSupportsInactivityTimeout})
            QCOMPARE(list.GetSetting(1, key), QString("YES"));

        const QStringList status = home.status();
        // Each modem with its port and the device behind the port (the pseudo-terminal here).
        for (const char* name : {"COM3", "COM4"}) {
            const QString port = QString::fromLatin1(name);
            const QString device = QFileInfo(home.file("ports/" + port)).symLinkTarget();
            QVERIFY(device.startsWith("/dev/pts/"));
            QVERIFY2(status.filter(QRegularExpression(
                                       "^TModemsList.Detect: \\(\\d\\) Detected .* on " + port +
                                       " \\(" + QRegularExpression::escape(device) + "\\)$"))
                             .size() == 1,
                     qPrintable(status.join('\n')));
        }
        for (const char* line :
             {"TModemsList.Detect: nummodems=2",
              "GetModemNameAndPort(0).Location=COM3", "GetModemNameAndPort(0).Model=Fast 56K",
              "GetModemNameAndPort(1).AttachedTo=COM4", "GetModemInfo(COM5)=Acme Fast 56K #2"})
            QVERIFY2(status.contains(line), qPrintable(line + ("\n" + status.join('\n'))));
        QVERIFY2(status.filter("COM6").filter("no modem answered").size() == 1,
                 qPrintable(status.join('\n')));

        // The detected strings drive a modem: its extra commands are accepted by it.
        QStringList config;
        QString extra;
        list.PutSetting(0, mdkUseECC, "YES");
        SetModemInitStrings(config, *list.GetModem(0), extra, home.settings().Role());
        QVERIFY2(config.contains("RESETCMD=ATZ^M") && config.contains("DIALCMD=ATDT"),
                 qPrintable(config.join('|')));
        QCOMPARE(extra, QString("AT\\N3^M|||ATM0^M|||"));
    }

    // A port that another program holds is not asked, and the others still are.
    void skipsPortsInUse() {
        TestHome home(2);
        TLinesim sim;
        QVERIFY(
            sim.Start({"modems", home.file("ports/COM3") + "=1", home.file("ports/COM4") + "=2"}));
        SerialDevice holder;
        QCOMPARE(holder.Open(home.file("ports/COM4")), 0);
        TIsolatedSource source;
        TModemsList list(home.settings(), home.sink());
        list.Detect(source.info);
        QCOMPARE(list.Count(), 1);
        QCOMPARE(list.GetSetting(0, mdkAttachedTo), QString("COM3"));
        QVERIFY2(home.status().filter("COM4").filter("in use").size() == 1,
                 qPrintable(home.status().join('\n')));
        // Detection left no lock behind: the port opens again.
        SerialDevice again;
        QCOMPARE(again.Open(home.file("ports/COM3")), 0);
        again.Close();

        // A description of the held port lists it all the same, from the file alone.
        QVERIFY(WriteFile(home.file("modems/held.ini"),
                          "[Modem]\nAttachedTo=com4\nManufacturer=Held\nModel=Busy 1\n"));
        QElapsedTimer timer;
        timer.start();
        list.Detect(source.info);
        qInfo("asking one answering modem took %lld ms", timer.elapsed());
        QCOMPARE(list.Count(), 2);
        QCOMPARE(list.GetSetting(1, mdkAttachedTo), QString("COM4"));
        QCOMPARE(list.GetSetting(1, mdkFriendlyName), QString("Held Busy 1"));
        QCOMPARE(list.GetSetting(1, mdkCommandReset), QString("ATZ"));
    }

    // Both ends of a cable answer nothing: neither is listed, and asking costs about the answer
    // time once, not once per port.
    void skipsCableEnds() {
        TestHome home(1);
        TLinesim sim;
        QVERIFY(sim.Start({"cable", home.file("ports/COM1"), home.file("ports/COM2")}));
        TIsolatedSource source;
        TModemsList list(home.settings(), home.sink());
        QElapsedTimer timer;
        timer.start();
        list.Detect(source.info);
        const qint64 elapsed = timer.elapsed();
        qInfo("two silent cable ends cost %lld ms (answer time 1000 ms)", elapsed);
        QCOMPARE(list.Count(), 0);
        QVERIFY2(elapsed >= 900 && elapsed < 2500, qPrintable(QString::number(elapsed)));
        QVERIFY(home.status().contains("TModemsList.Detect: nummodems=-1"));
        QCOMPARE(home.status().filter("no modem answered").size(), 2);
    }

    // Description files: over an answering modem they win over its answers and the generic
    // strings; for a port nobody answers on they add a modem; an empty value takes a command away.
    void descriptionFiles() {
        TestHome home(1);
        TLinesim sim;
        QVERIFY(sim.Start({"modems", home.file("ports/COM3") + "=1,maker=Acme,model=Fast 56K"}));
        QVERIFY(WriteFile(home.file("modems/acme.ini"),
                          "[Modem]\nAttachedTo=COM3\nModel=Fast 56K Pro\nReset=AT&F1<cr>\n"
                          "[Init]\n2=AT&F1 E0 S0=0 S7=90<cr>\n"
                          "[Settings]\nBlind_On=\nSpeakerMode_Off=M0\n"));
        QVERIFY(WriteFile(home.file("modems/leased.INI"),
                          "[Modem]\nManufacturer=Tele, Inc.\nModel=LL-9600\nAttachedTo=COM9\n"
                          "[Answer]\n1=ATA!\n[Monitor]\n1=AT!\n"
                          "[Settings]\nTerminator=!\nCallSetupFailTimer=\n"));
        QVERIFY(WriteFile(home.file("modems/broken.ini"), "[Modem]\nModel=Half\n[Hangup]\n1=\n"));
        QVERIFY(WriteFile(home.file("modems/notes.txt"), "[Modem]\nModel=Not a description\n"));
        TIsolatedSource source;
        TModemsList list(home.settings(), home.sink());
        list.Detect(source.info);
        QCOMPARE(list.Count(), 3);

        // acme.ini over the modem on COM3.
        QCOMPARE(list.GetSetting(0, mdkAttachedTo), QString("COM3"));
        QCOMPARE(list.GetSetting(0, mdkManufacturer), QString("Acme"));
        QCOMPARE(list.GetSetting(0, mdkModel), QString("Fast 56K Pro"));
        QCOMPARE(list.GetSetting(0, mdkFriendlyName), QString("Acme Fast 56K Pro"));
        QCOMPARE(list.GetSetting(0, mdkCommandReset), QString("AT&F1"));
        QCOMPARE(list.GetSetting(0, mdkDefaultInitialization), QString("AT&F1 E0 S0=0 S7=90"));
        QCOMPARE(list.GetSetting(0, mdkHangupString), QString("ATH"));
        QCOMPARE(list.GetSetting(0, mdkSupportsBlindDialing), QString("NO"));
        QCOMPARE(list.GetSetting(0, mdkBlindDialingOff), QString("X4"));
        QCOMPARE(list.GetSetting(0, mdkBlindDialingOn), QString());
        QCOMPARE(list.GetSetting(0, mdkSupportsSpeakerControl), QString("YES"));
        QCOMPARE(list.GetSetting(0, mdkSupportsDataCompression), QString("YES"));
        QCOMPARE(list.GetSetting(0, mdkDialString), QString("ATDT"));

        // broken.ini: without a hang-up command the reading ends there, before the terminator
        // and the other settings.
        QCOMPARE(list.GetSetting(1, mdkModel), QString("Half"));
        QCOMPARE(list.GetSetting(1, mdkFriendlyName), QString("Generic Half"));
        QCOMPARE(list.GetSetting(1, mdkAttachedTo), QString());
        QCOMPARE(list.GetSetting(1, mdkGUID), QString("modems/broken.ini"));
        QCOMPARE(list.GetSetting(1, mdkAnswerString), QString("ATA<cr>"));
        QCOMPARE(list.GetSetting(1, mdkHangupString), QString());
        QCOMPARE(list.GetSetting(1, mdkDefaultInitialization), QString());
        QCOMPARE(list.GetSetting(1, mdkCommandPrefix), QString());
        QCOMPARE(list.GetSetting(1, mdkSupportsBlindDialing), QString());

        // leased.INI: a modem of its own, on a port that has no link here, with its own
        // terminator.
        QCOMPARE(list.GetSetting(2, mdkAttachedTo), QString("COM9"));
        QCOMPARE(list.GetSetting(2, mdkGUID), QString("COM9"));
        QCOMPARE(list.GetSetting(2, mdkManufacturer), QString("Tele, Inc."));
        QCOMPARE(list.GetSetting(2, mdkFriendlyName), QString("Tele Inc. LL-9600"));
        QCOMPARE(list.GetSetting(2, mdkAnswerString), QString("ATA"));
        QCOMPARE(list.GetSetting(2, mdkMonitorOn), QString("AT"));
        QCOMPARE(list.GetSetting(2, mdkMonitorOff), QString());
        QCOMPARE(list.GetSetting(2, mdkCommandReset), QString("ATZ<cr>"));
        QCOMPARE(list.GetSetting(2, mdkSupportsCallFailTimer), QString("NO"));
        QCOMPARE(list.GetSetting(2, mdkSupportsInactivityTimeout), QString("YES"));

        const QString driver = QFileInfo(home.file("modems/leased.INI")).absoluteFilePath();
        QVERIFY2(home.status().contains("GetModemNameAndPort(2).Driver=" + driver),
                 qPrintable(home.status().join('\n')));
    }

    // The tty class: devices with hardware behind them are asked; empty UART slots, entries
    // without a device, devices a port link already leads to and the console are not.
    void systemDevices() {
        TestHome home(1);
        // A short root: an attached device path is kept to 40 characters.
        QTemporaryDir sys(QDir::tempPath() + "/sys-XXXXXX");
        const QString m = sys.path() + "/modems/";
        TLinesim sim;
        QVERIFY(
            sim.Start({"modems", home.file("ports/COM3") + "=1", m + "a=2,model=USB One", m + "b=3",
                       m + "c=4", m + "d=5", m + "e=6", home.file("ports/COM8") + "=7"}));
        const QString cls = sys.path() + "/class", dev = sys.path() + "/dev";
        for (const char* name : {"ttyFAKE0", "ttyFAKE1", "ttyFAKE2"})
            QVERIFY(QDir().mkpath(cls + "/" + name + "/device"));
        QVERIFY(QDir().mkpath(cls + "/tty5"));
        QVERIFY(QDir().mkpath(sys.path() + "/drivers/fakeserial"));
        QVERIFY(link(sys.path() + "/drivers/fakeserial", cls + "/ttyFAKE0/device/driver"));
        QVERIFY(WriteFile(cls + "/ttyFAKE1/type", "0\n"));
        QVERIFY(link(m + "a", dev + "/ttyFAKE0"));
        QVERIFY(link(m + "b", dev + "/ttyFAKE1"));
        QVERIFY(link(home.file("ports/COM3"), dev + "/ttyFAKE2"));
        QVERIFY(link(m + "c", dev + "/tty5"));
        // Consoles: one in the tty class, one reached through a port link.
        QVERIFY(QDir().mkpath(cls + "/ttyFAKE4/device"));
        QVERIFY(WriteFile(cls + "/console/active", "tty0 ttyFAKE3 ttyFAKE4\n"));
        QVERIFY(link(m + "d", dev + "/ttyFAKE3"));
        QVERIFY(link(m + "e", dev + "/ttyFAKE4"));
        QVERIFY(QFile::remove(home.file("ports/COM8")));
        QVERIFY(link(m + "d", home.file("ports/COM8")));
        QVERIFY(link("../../ttyFAKE0", dev + "/serial/by-id/usb-Fake_Modem-if00"));

        TComInfo info;
        info.TtyClassDir = cls;
        info.DevDir = dev;
        TModemsList list(home.settings(), home.sink());
        list.Detect(info);
        QCOMPARE(list.Count(), 2);
        QCOMPARE(list.GetSetting(0, mdkAttachedTo), QString("COM3"));
        QCOMPARE(list.GetSetting(1, mdkAttachedTo), dev + "/ttyFAKE0");
        QCOMPARE(list.GetSetting(1, mdkModel), QString("USB One"));
        QCOMPARE(list.GetSetting(1, mdkGUID), dev + "/serial/by-id/usb-Fake_Modem-if00");
        QVERIFY2(home.status().contains("GetModemNameAndPort(1).Driver=fakeserial"),
                 qPrintable(home.status().join('\n')));
        QCOMPARE(home.status().filter("the system console, not asked").size(), 2);
    }

    // Misbehaving devices neither hang nor crash detection, and cost a bounded time.
    void badModems_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("listed");
        QTest::addColumn<QString>("manufacturer");
        QTest::addColumn<QString>("model");
        QTest::newRow("endless line") << int(TBadModem::Trickle) << false << ""
                                      << "";
        QTest::newRow("binary flood") << int(TBadModem::Flood) << false << ""
                                      << "";
        QTest::newRow("NUL bytes") << int(TBadModem::NulBytes) << true << "Acme"
                                   << "RoadRunner";
        QTest::newRow("OK, then a flood") << int(TBadModem::OkThenFlood) << true << "Generic"
                                          << "Hayes Compatible Modem";
        QTest::newRow("overlong lines") << int(TBadModem::LongLines) << true << "Generic"
                                        << "Model4";
    }
    void badModems() {
        QFETCH(int, mode);
        QFETCH(bool, listed);
        QFETCH(QString, manufacturer);
        QFETCH(QString, model);
        TestHome home(1);
        TBadModem modem{TBadModem::Mode(mode)};
        QVERIFY(!modem.SlavePath().isEmpty());
        QVERIFY(link(modem.SlavePath(), home.file("ports/COM7")));
        TIsolatedSource source;
        source.info.AnswerTimeoutMs = 600;
        source.info.CommandTimeoutMs = 400;
        TModemsList list(home.settings(), home.sink());
        QElapsedTimer timer;
        timer.start();
        list.Detect(source.info);
        const qint64 elapsed = timer.elapsed();
        qInfo("took %lld ms", elapsed);
        QVERIFY2(elapsed < 600 + 2 * 400 + 1500, qPrintable(QString::number(elapsed)));
        QCOMPARE(indexAttachedTo(list, "COM7") >= 0, listed);
        if (listed) {
            QCOMPARE(list.GetSetting(0, mdkManufacturer), manufacturer);
            QCOMPARE(list.GetSetting(0, mdkModel), model);
        }
    }
};

QTEST_GUILESS_MAIN(TestDetect)
#include "detect_test.moc"
