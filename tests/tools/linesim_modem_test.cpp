// The line simulator's modem mode as a program sees it: Hayes modems on pseudo-terminals, driven
// with raw bytes, that dial, ring, answer, carry data and hang up through one exchange.
#include "linesim_support.h"

#include <QRegularExpression>
#include <QTest>

namespace {

using linesim_test::Linesim;
using linesim_test::Port;
using linesim_test::RandomBytes;

const QByteArray kOk = "\r\nOK\r\n";
const QByteArray kConnect = "\r\nCONNECT 33600\r\n";
const QByteArray kNoCarrier = "\r\nNO CARRIER\r\n";

// A linesim exchange; modems are published in its temporary folder.
class Exchange : public Linesim {
public:
    bool start(const QStringList& args) { return Linesim::start("modems", args); }
    // "--modem DIR/NAME=NUMBER,settings"
    QStringList modem(const QString& name, const QString& numberAndSettings) const {
        return {"--modem", path(name) + "=" + numberAndSettings};
    }
};

// Sends a command line and reads until the reply ends with `tail`.
QByteArray Command(Port& port, const QByteArray& line, const QByteArray& tail = kOk) {
    if (!port.write(line + "\r")) return {};
    return port.readUntil(tail, 3000);
}

// Two modems A (100) and B (200), echo off and a guard time of 100 ms; A calls B, B answers.
struct Call {
    Exchange exchange;
    std::unique_ptr<Port> a, b;

    bool start(const QStringList& options = {}) {
        if (!exchange.start(options + exchange.modem("A", "100") + exchange.modem("B", "200") +
                            QStringList{"--ring-interval-ms", "100"}))
            return false;
        a = std::make_unique<Port>(exchange.path("A"));
        b = std::make_unique<Port>(exchange.path("B"));
        return a->isOpen() && b->isOpen();
    }
    bool connect() {
        if (!Command(*a, "ATE0S12=5").endsWith(kOk) || !Command(*b, "ATE0S12=5").endsWith(kOk))
            return false;
        if (!a->write("ATDT200\r") || !b->readUntil("RING\r\n", 3000).endsWith("RING\r\n"))
            return false;
        if (!b->write("ATA\r")) return false;
        return b->readUntil(kConnect, 3000).endsWith(kConnect) &&
               a->readUntil(kConnect, 3000) == kConnect;
    }
};

} // namespace

class LinesimModemTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void answersCommands_data();
    void answersCommands();
    void callConnectsAndCarriesData();
    void pacesTheCall();
    void escapeNeedsTheGuardTime_data();
    void escapeNeedsTheGuardTime();
    void heldDataWaitsForOnline();
    void callsThatFail_data();
    void callsThatFail();
    void busyWhileInACall();
    void autoAnswer_data();
    void autoAnswer();
    void silentModem();
    void cutsTheCall_data();
    void cutsTheCall();
    void closingThePortHangsUp();
    void survivesMalformedInput();
    void publishesAndRemovesPorts();
    void rejectsBadCommandLines_data();
    void rejectsBadCommandLines();
};

void LinesimModemTest::initTestCase() {
    const QString bin = qEnvironmentVariable("LINESIM_BIN");
    QVERIFY2(QFileInfo(bin).isExecutable(), "set LINESIM_BIN to the built linesim (ctest does)");
}

void LinesimModemTest::answersCommands_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("AT") << QByteArray("AT\r") << QByteArray("AT\r\r\nOK\r\n");
    QTest::newRow("lower case") << QByteArray("at\r") << QByteArray("at\r\r\nOK\r\n");
    QTest::newRow("echo off") << QByteArray("ATE0\rAT\r")
                              << QByteArray("ATE0\r\r\nOK\r\n\r\nOK\r\n");
    QTest::newRow("reset restores echo")
        << QByteArray("ATE0\rATZ\rAT\r") << QByteArray("ATE0\r\r\nOK\r\n\r\nOK\r\nAT\r\r\nOK\r\n");
    QTest::newRow("init string") << QByteArray("ATZE1M1\r") << QByteArray("ATZE1M1\r\r\nOK\r\n");
    QTest::newRow("factory") << QByteArray("AT&F\r") << QByteArray("AT&F\r\r\nOK\r\n");
    QTest::newRow("chained with a query")
        << QByteArray("ATE0V1Q0X4L2M1S7=30S0=1S7?S0?\r")
        << QByteArray("ATE0V1Q0X4L2M1S7=30S0=1S7?S0?\r\r\n030\r\n\r\n001\r\n\r\nOK\r\n");
    QTest::newRow("identification")
        << QByteArray("ATE0I3I4\rAT+GMI\rAT+GMM\r")
        << QByteArray("ATE0I3I4\r\r\nAcme\r\n\r\nModel 9\r\n\r\nOK\r\n\r\nAcme\r\n\r\nOK\r\n"
                      "\r\nModel 9\r\n\r\nOK\r\n");
    QTest::newRow("unknown command") << QByteArray("ATJ\r") << QByteArray("ATJ\r\r\nERROR\r\n");
    QTest::newRow("error stops the line")
        << QByteArray("ATE0E7E1\rAT\r") << QByteArray("ATE0E7E1\r\r\nERROR\r\n\r\nOK\r\n");
    QTest::newRow("register out of range")
        << QByteArray("ATS256=1\r") << QByteArray("ATS256=1\r\r\nERROR\r\n");
    QTest::newRow("numeric") << QByteArray("ATV0\rATJ\r") << QByteArray("ATV0\r0\rATJ\r4\r");
    QTest::newRow("quiet") << QByteArray("ATQ1\rATJ\r") << QByteArray("ATQ1\rATJ\r");
    QTest::newRow("text before AT") << QByteArray("xyzAT\r") << QByteArray("xyzAT\r\r\nOK\r\n");
    QTest::newRow("backspace") << QByteArray("ATJ\bE0\r") << QByteArray("ATJ\bE0\r\r\nOK\r\n");
    QTest::newRow("repeat") << QByteArray("ATE0I3\rA/")
                            << QByteArray("ATE0I3\r\r\nAcme\r\n\r\nOK\r\n"
                                          "\r\nAcme\r\n\r\nOK\r\n");
    // The hang-up string of the modem controller, sent while no call is up.
    QTest::newRow("hang-up string idle")
        << QByteArray("+++~~~ATH0\r") << QByteArray("+++~~~ATH0\r\r\nOK\r\n");
    QTest::newRow("dial without a number")
        << QByteArray("ATDT\r") << QByteArray("ATDT\r\r\nERROR\r\n");
    QTest::newRow("online without a call")
        << QByteArray("ATO\r") << QByteArray("ATO\r\r\nERROR\r\n");
    QTest::newRow("line too long") << QByteArray("ATE0\rAT" + QByteArray(300, 'E') + "\rAT\r")
                                   << QByteArray("ATE0\r\r\nOK\r\n\r\nERROR\r\n\r\nOK\r\n");
}

void LinesimModemTest::answersCommands() {
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, reply);
    Exchange exchange;
    QVERIFY(exchange.start(exchange.modem("M", "1,maker=Acme,model=Model 9")));
    Port port(exchange.path("M"));
    QVERIFY(port.write(input));
    const QByteArray got = port.read(reply.size(), 3000);
    QCOMPARE(got, reply);
    QCOMPARE(port.readUntilQuiet(100), QByteArray());
}

void LinesimModemTest::callConnectsAndCarriesData() {
    Call call;
    QVERIFY(call.start());
    QVERIFY(call.a->write("ATDT200\r"));
    // B rings every 100 ms until it answers; A hears nothing but its own echo meanwhile.
    QByteArray rings = call.b->read(4 * 8, 2000);
    QCOMPARE(rings, QByteArray("\r\nRING\r\n").repeated(4));
    QVERIFY(call.b->write("ATA\r"));
    QVERIFY(call.b->readUntil(kConnect, 3000).endsWith("ATA\r" + kConnect));
    QVERIFY(call.a->readUntil(kConnect, 3000).endsWith("ATDT200\r" + kConnect));

    // Every byte value both ways, the escape character included.
    QByteArray toB = RandomBytes(40000, 1), toA = RandomBytes(40000, 2);
    for (int i = 0; i < 256; ++i)
        toB[i] = toA[i] = char(i);
    QVERIFY(call.a->write(toB));
    QCOMPARE(call.b->read(toB.size(), 10000), toB);
    QVERIFY(call.b->write(toA));
    QCOMPARE(call.a->read(toA.size(), 10000), toA);

    // The default guard time is a second of silence on both sides of "+++".
    QTest::qWait(1100);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(call.a->write("+++"));
    QCOMPARE(call.a->read(kOk.size(), 3000), kOk);
    QVERIFY2(clock.elapsed() >= 1000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(Command(*call.a, "ATH"), "ATH\r" + kOk);
    QCOMPARE(call.b->readUntil(kNoCarrier, 3000), "+++" + kNoCarrier);
    // Both are back in command state.
    QCOMPARE(Command(*call.b, "AT"), "AT\r" + kOk);
    QVERIFY(call.exchange.log().contains(
        QRegularExpression("summary call1 ab in=40003 delivered=40003 ")));
}

void LinesimModemTest::pacesTheCall() {
    Call call;
    QVERIFY(call.start({"--baud", "9600"}));
    QVERIFY(call.connect());
    const QByteArray data = RandomBytes(1200, 3);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(call.a->write(data));
    QCOMPARE(call.b->read(data.size(), 5000), data);
    // 1200 bytes of 10 bits at 9600 bit/s: 1.25 s; the upper bound allows for a loaded machine.
    const qint64 ms = clock.elapsed();
    qInfo("1200 bytes at 9600 bit/s in %lld ms (1250 expected)", ms);
    QVERIFY2(ms >= 1240 && ms < 2500, qPrintable(QString::number(ms)));
}

void LinesimModemTest::escapeNeedsTheGuardTime_data() {
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("guardBefore");
    QTest::addColumn<QByteArray>("atA");
    QTest::addColumn<QByteArray>("atB");
    // The hang-up string as the modem controller sends it: "~" stands for the pause after "+++".
    QTest::newRow("hang-up string") << QByteArray("+++~~~ATH0\r") << true << QByteArray(kOk + kOk)
                                    << QByteArray("+++" + kNoCarrier);
    QTest::newRow("pluses inside data")
        << QByteArray("ab+++cd") << true << QByteArray() << QByteArray("ab+++cd");
    QTest::newRow("no silence before")
        << QByteArray("+++~~~ATH0\r") << false << QByteArray() << QByteArray("x+++~~~ATH0\r");
    QTest::newRow("four pluses") << QByteArray("++++") << true << QByteArray()
                                 << QByteArray("++++");
}

void LinesimModemTest::escapeNeedsTheGuardTime() {
    QFETCH(QByteArray, data);
    QFETCH(bool, guardBefore);
    QFETCH(QByteArray, atA);
    QFETCH(QByteArray, atB);
    Call call;
    QVERIFY(call.start());
    QVERIFY(call.connect());
    if (guardBefore) {
        QTest::qWait(150);
    } else {
        data.prepend('x');
    }
    QVERIFY(call.a->write(data));
    QCOMPARE(call.a->readUntilQuiet(400), atA);
    QCOMPARE(call.b->readUntilQuiet(100), atB);
}

void LinesimModemTest::heldDataWaitsForOnline() {
    Call call;
    QVERIFY(call.start({"--trace", "4"}));
    QVERIFY(call.connect());
    QTest::qWait(150);
    QVERIFY(call.a->write("+++"));
    QCOMPARE(call.a->read(kOk.size(), 2000), kOk);
    // While A takes commands, what B sends waits; ATO resumes the call and delivers it.
    QVERIFY(call.b->write("held back"));
    QCOMPARE(Command(*call.a, "ATI3"), "\r\nlinesim\r\n" + kOk);
    QCOMPARE(call.a->readUntilQuiet(200), QByteArray());
    QVERIFY(call.a->write("ATO\r"));
    QCOMPARE(call.a->read(kConnect.size() + 9, 2000), kConnect + "held back");
    // And the call goes on both ways.
    QVERIFY(call.a->write("more"));
    // (the escape characters were sent on: the modem could not know what would follow)
    QCOMPARE(call.b->read(7, 2000), QByteArray("+++more"));
    // The trace shows what each side sent, cut to its first bytes.
    const QString log = call.exchange.log();
    QVERIFY2(log.contains("call1 ba data 9 \"held\"...") &&
                 log.contains("call1 ab data 4 \"more\"\n"),
             qPrintable(log));
}

void LinesimModemTest::callsThatFail_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("commands");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("minMs");
    QTest::newRow("no dial tone") << QStringList{"--modem", "{A}=100,no-dialtone"}
                                  << QByteArray("ATE0DT200") << QByteArray("\r\nNO DIALTONE\r\n")
                                  << 0;
    QTest::newRow("no dial tone, blind dialling")
        << QStringList{"--modem", "{A}=100,no-dialtone"} << QByteArray("ATE0X3DT200")
        << QByteArray("\r\nNO CARRIER\r\n") << 0;
    QTest::newRow("own number is busy")
        << QStringList{"--modem", "{A}=100"} << QByteArray("ATE0DT100")
        << QByteArray("\r\nBUSY\r\n") << 0;
    QTest::newRow("unknown number")
        << QStringList{"--modem", "{A}=100"} << QByteArray("ATE0S7=1DT999")
        << QByteArray("\r\nNO CARRIER\r\n") << 950;
    QTest::newRow("no answer") << QStringList{"--modem", "{A}=100", "--no-answer", "no-answer"}
                               << QByteArray("ATE0S7=1DT200") << QByteArray("\r\nNO ANSWER\r\n")
                               << 950;
    QTest::newRow("no answer, no word") << QStringList{"--modem", "{A}=100", "--no-answer", "none"}
                                        << QByteArray("ATE0S7=1DT200") << QByteArray() << 0;
    QTest::newRow("outside line prefix")
        << QStringList{"--modem", "{A}=100", "--no-answer", "no-answer"}
        << QByteArray("ATE0S7=1DT9W200") << QByteArray("\r\nNO ANSWER\r\n") << 950;
    QTest::newRow("answer without a call")
        << QStringList{"--modem", "{A}=100"} << QByteArray("ATE0S7=1A")
        << QByteArray("\r\nNO CARRIER\r\n") << 950;
}

void LinesimModemTest::callsThatFail() {
    QFETCH(QStringList, options);
    QFETCH(QByteArray, commands);
    QFETCH(QByteArray, reply);
    QFETCH(int, minMs);
    Exchange exchange;
    options.replaceInStrings("{A}", exchange.path("A"));
    // B (200) is there but nobody has its port open, so it rings without answering.
    QVERIFY(exchange.start(options + exchange.modem("B", "200,s0=1")));
    Port a(exchange.path("A"));
    QElapsedTimer clock;
    clock.start();
    // "E0" takes effect after the echo of its own line; a dial or answer is not confirmed
    // with OK, only with the outcome of the call.
    QVERIFY(a.write(commands + "\r"));
    QByteArray got = a.read(commands.size() + 1 + reply.size(), 4000);
    QCOMPARE(got, commands + "\r" + reply);
    QVERIFY2(clock.elapsed() >= minMs, qPrintable(QString::number(clock.elapsed())));
    // Back in command state, and nothing more to say.
    QCOMPARE(a.readUntilQuiet(minMs ? 300 : 1600), QByteArray());
    QCOMPARE(Command(a, "AT"), kOk);
}

void LinesimModemTest::busyWhileInACall() {
    Call call;
    QVERIFY(call.start(call.exchange.modem("C", "300")));
    Port c(call.exchange.path("C"));
    // A modem that is dialling is busy for others, and so is the one it rings.
    QVERIFY(call.a->write("ATE0S12=5DT200\r"));
    QVERIFY(call.b->readUntil("RING\r\n", 2000).endsWith("RING\r\n"));
    QCOMPARE(Command(c, "ATE0DT100", "BUSY\r\n"), "ATE0DT100\r\r\nBUSY\r\n");
    QCOMPARE(Command(c, "ATDT200", "BUSY\r\n"), "\r\nBUSY\r\n");
    QVERIFY(call.b->write("ATE0A\r"));
    QVERIFY(call.a->readUntil(kConnect, 2000).endsWith(kConnect));
    QVERIFY(call.b->readUntil(kConnect, 2000).endsWith(kConnect));
    // In the call: busy too; with the reduced result set X0 that is NO CARRIER.
    QCOMPARE(Command(c, "ATDT100", "BUSY\r\n"), "\r\nBUSY\r\n");
    QCOMPARE(Command(c, "ATX0DT200", kNoCarrier), kNoCarrier);
    // The call was not disturbed.
    QVERIFY(call.a->write("still here"));
    QCOMPARE(call.b->read(10, 2000), QByteArray("still here"));
}

void LinesimModemTest::autoAnswer_data() {
    QTest::addColumn<QByteArray>("setup");
    QTest::addColumn<int>("rings");
    QTest::newRow("S0=1") << QByteArray("ATS0=1") << 1;
    QTest::newRow("S0=3") << QByteArray("ATS0=3") << 3;
}

void LinesimModemTest::autoAnswer() {
    QFETCH(QByteArray, setup);
    QFETCH(int, rings);
    Call call;
    QVERIFY(call.start());
    QCOMPARE(Command(*call.b, "ATE0"), "ATE0\r" + kOk);
    QCOMPARE(Command(*call.b, setup), kOk);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(call.a->write("ATDT200\r"));
    const QByteArray atB = call.b->readUntil(kConnect, 3000);
    QCOMPARE(atB, QByteArray("\r\nRING\r\n").repeated(rings) + kConnect);
    QVERIFY(call.a->readUntil(kConnect, 3000).endsWith(kConnect));
    QVERIFY(clock.elapsed() >= (rings - 1) * 100);
    QVERIFY(call.a->write("ping"));
    QCOMPARE(call.b->read(4, 2000), QByteArray("ping"));
}

void LinesimModemTest::silentModem() {
    Exchange exchange;
    QVERIFY(exchange.start(exchange.modem("A", "100") + exchange.modem("S", "300,silent,s0=1") +
                           QStringList{"--ring-interval-ms", "100"}));
    Port silent(exchange.path("S")), a(exchange.path("A"));
    // Not a word, not even an echo.
    QVERIFY(silent.write("AT\rATI3\rATDT100\r"));
    QCOMPARE(silent.readUntilQuiet(300), QByteArray());
    QCOMPARE(Command(a, "AT"), "AT\r" + kOk); // and it did not dial A
    // Calls to it ring unanswered until the caller gives up.
    QCOMPARE(Command(a, "ATE0S7=1DT300", kNoCarrier), "ATE0S7=1DT300\r" + kNoCarrier);
    QCOMPARE(silent.readUntilQuiet(100), QByteArray());
}

void LinesimModemTest::cutsTheCall_data() {
    QTest::addColumn<bool>("bySignal");
    QTest::newRow("cut-after") << false;
    QTest::newRow("SIGUSR1") << true;
}

void LinesimModemTest::cutsTheCall() {
    QFETCH(bool, bySignal);
    Call call;
    QVERIFY(call.start(bySignal ? QStringList{} : QStringList{"--cut-after", "ab:100"}));
    QVERIFY(call.connect());
    const QByteArray data = RandomBytes(300, 4);
    if (bySignal) {
        QVERIFY(call.a->write(data.left(100)));
        QCOMPARE(call.b->read(100, 2000), data.left(100));
        call.exchange.signal(SIGUSR1);
    } else {
        QVERIFY(call.a->write(data));
    }
    // The bytes before the cut arrive, then the carrier is gone on both sides.
    QCOMPARE(call.b->readUntil(kNoCarrier, 3000),
             (bySignal ? QByteArray() : data.left(100)) + kNoCarrier);
    QCOMPARE(call.a->readUntil(kNoCarrier, 3000), kNoCarrier);
    QCOMPARE(Command(*call.a, "AT"), kOk);
    QCOMPARE(Command(*call.b, "AT"), kOk);
    // A new call starts with a fresh count.
    QVERIFY(call.connect());
    QVERIFY(call.b->write("again"));
    QCOMPARE(call.a->read(5, 2000), QByteArray("again"));
}

void LinesimModemTest::closingThePortHangsUp() {
    Call call;
    QVERIFY(call.start());
    QVERIFY(call.connect());
    // Sent to A and never read there.
    QVERIFY(call.b->write("unread"));
    QTest::qWait(200);
    // A program that ends its session closes the port: the other side loses the carrier, and
    // the last bytes sent before closing still arrive.
    QVERIFY(call.a->write("bye"));
    call.a->Close();
    QCOMPARE(call.b->readUntil(kNoCarrier, 3000), "bye" + kNoCarrier);
    // Reopened, the modem takes commands again and has nothing stale to say.
    Port again(call.exchange.path("A"));
    QCOMPARE(again.readUntilQuiet(200), QByteArray());
    // (its settings, echo off among them, are kept as with &D2 on a real modem)
    QCOMPARE(Command(again, "AT"), kOk);
    // B can call A back.
    QVERIFY(call.b->write("ATDT100\r"));
    QVERIFY(again.readUntil("RING\r\n", 2000).endsWith("RING\r\n"));
}

void LinesimModemTest::survivesMalformedInput() {
    Exchange exchange;
    QVERIFY(exchange.start(exchange.modem("M", "1")));
    Port port(exchange.path("M"));
    // An endless line (echoed back while it is written), NUL bytes and binary noise.
    const QByteArray endless = "AT" + QByteArray(512 * 1024, 'E');
    QCOMPARE(port.converse(endless, 200).size(), endless.size());
    QByteArray noise = RandomBytes(64 * 1024, 5);
    noise += QByteArray(1000, '\0');
    noise.replace('\r', 'x'); // one more endless line, of anything
    QCOMPARE(port.converse(noise, 200).size(), noise.size());
    // The long line ends with ERROR; the modem then works as before.
    QCOMPARE(Command(port, "", "ERROR\r\n"), "\r\r\nERROR\r\n");
    // A NUL byte is an unknown command; what came before it has taken effect.
    QCOMPARE(Command(port, QByteArray("ATE0\0I3", 7), "ERROR\r\n"),
             QByteArray("ATE0\0I3\r\r\nERROR\r\n", 17));
    QCOMPARE(Command(port, "ATI3"), "\r\nlinesim\r\n" + kOk);
    QCOMPARE(exchange.process().state(), QProcess::Running);
    QCOMPARE(exchange.stop(), 0);
}

void LinesimModemTest::publishesAndRemovesPorts() {
    Exchange exchange;
    // Bare paths take their position as the number; missing folders are created.
    const QString one = exchange.path("home1/ports/COM1"), two = exchange.path("home2/ports/COM3");
    QVERIFY(exchange.start({one, two}));
    QVERIFY2(
        exchange.readyLine.contains(QRegularExpression("^ready 1=/dev/pts/\\d+ 2=/dev/pts/\\d+$")),
        qPrintable(exchange.readyLine));
    QVERIFY(QFileInfo(one).symLinkTarget().startsWith("/dev/pts/"));
    {
        Port a(one), b(two);
        QVERIFY(a.isOpen() && b.isOpen());
        QVERIFY(a.write("ATDT2\r"));
        QVERIFY(b.readUntil("RING\r\n", 2000).endsWith("RING\r\n"));
    }
    QCOMPARE(exchange.stop(SIGINT), 0);
    QVERIFY(!QFileInfo(one).isSymLink() && !QFileInfo(two).isSymLink());
    QVERIFY(exchange.log().contains("stopping (Interrupt)"));
}

void LinesimModemTest::rejectsBadCommandLines_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("no modem") << QStringList{"--speed", "9600"};
    QTest::newRow("same number") << QStringList{"--modem", "{D}/a=5", "--modem", "{D}/b=5"};
    QTest::newRow("same path") << QStringList{"--modem", "{D}/a=5", "--modem", "{D}/a=6"};
    QTest::newRow("letters in number") << QStringList{"--modem", "{D}/a=5x"};
    QTest::newRow("unknown setting") << QStringList{"--modem", "{D}/a=5,loud"};
    QTest::newRow("s0 too big") << QStringList{"--modem", "{D}/a=5,s0=300"};
    QTest::newRow("cut mode") << QStringList{"{D}/a", "--cut-mode", "hangup"};
    QTest::newRow("no-answer reply") << QStringList{"{D}/a", "--no-answer", "maybe"};
    QTest::newRow("ring interval") << QStringList{"{D}/a", "--ring-interval-ms", "0"};
}

void LinesimModemTest::rejectsBadCommandLines() {
    QFETCH(QStringList, args);
    Exchange exchange;
    args.replaceInStrings("{D}", exchange.path("ports"));
    QVERIFY(!exchange.start(args));
    exchange.process().waitForFinished(5000);
    QCOMPARE(exchange.process().exitCode(), 2);
    QVERIFY(exchange.process().readAllStandardError().contains("Try 'linesim --help'"));
    QVERIFY(!QFileInfo(exchange.path("ports/a")).isSymLink());
}

QTEST_GUILESS_MAIN(LinesimModemTest)
#include "linesim_modem_test.moc"
