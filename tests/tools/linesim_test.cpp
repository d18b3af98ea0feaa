// The line simulator as its users see it: a process that publishes two ports; bytes written at
// one end are read at the other, with the impairments asked for.
#include "linesim_support.h"

#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

using linesim_test::Linesim;
using linesim_test::Port;
using linesim_test::RandomBytes;

// A linesim cable with its two ends published in a temporary folder.
class Cable : public Linesim {
public:
    Cable() : pathA(path("A/ports/COM1")), pathB(path("B/ports/COM2")) {}
    bool start(const QStringList& options) {
        return Linesim::start("cable", options + QStringList{pathA, pathB});
    }

    QString pathA, pathB;
};

QList<qsizetype> Differences(const QByteArray& a, const QByteArray& b) {
    QList<qsizetype> diff;
    for (qsizetype i = 0; i < qMin(a.size(), b.size()); ++i)
        if (a[i] != b[i]) diff.append(i);
    return diff;
}

bool IsLink(const QString& path) {
    return QFileInfo(path).isSymLink();
}

} // namespace

class LinesimTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void passesEveryByteBothWays();
    void pacesLikeALine_data();
    void pacesLikeALine();
    void addsLatencyPerDirection();
    void corruptsExactlyTheGivenOffsets();
    void dropsTheGivenOffsets();
    void randomImpairmentsFollowTheSeed_data();
    void randomImpairmentsFollowTheSeed();
    void stallsBeforeTheGivenOffset();
    void cutsAfterBytes_data();
    void cutsAfterBytes();
    void cutsOnSignalAndRejoins();
    void removesLinksAtExit_data();
    void removesLinksAtExit();
    void refusesToReplaceAFile();
    void endsCanBeOpenedAnyTime();
    void rejectsBadCommandLines_data();
    void rejectsBadCommandLines();
};

void LinesimTest::initTestCase() {
    const QString bin = qEnvironmentVariable("LINESIM_BIN");
    QVERIFY2(QFileInfo(bin).isExecutable(), "set LINESIM_BIN to the built linesim (ctest does)");
}

void LinesimTest::passesEveryByteBothWays() {
    Cable cable;
    QVERIFY(cable.start({}));
    QVERIFY(cable.readyLine.contains("a=/dev/pts/"));
    QVERIFY(IsLink(cable.pathA) && IsLink(cable.pathB));
    Port a(cable.pathA), b(cable.pathB);
    QVERIFY(a.isOpen() && b.isOpen());
    // Every byte value, control characters included, in both directions at once.
    QByteArray toB = RandomBytes(96 * 1024, 1), toA = RandomBytes(96 * 1024, 2);
    for (int i = 0; i < 256; ++i)
        toB[i] = toA[i] = char(i);
    QByteArray gotA, gotB;
    qsizetype sentA = 0, sentB = 0;
    QElapsedTimer timer;
    timer.start();
    while ((gotA.size() < toA.size() || gotB.size() < toB.size()) && timer.elapsed() < 20000) {
        pollfd p[2] = {{a.fd(), POLLIN, 0}, {b.fd(), POLLIN, 0}};
        if (sentB < toB.size()) p[0].events |= POLLOUT;
        if (sentA < toA.size()) p[1].events |= POLLOUT;
        poll(p, 2, 100);
        char buf[4096];
        ssize_t n;
        if ((p[0].revents & POLLOUT) &&
            (n = ::write(a.fd(), toB.constData() + sentB,
                         size_t(qMin<qsizetype>(4096, toB.size() - sentB)))) > 0)
            sentB += n;
        if ((p[1].revents & POLLOUT) &&
            (n = ::write(b.fd(), toA.constData() + sentA,
                         size_t(qMin<qsizetype>(4096, toA.size() - sentA)))) > 0)
            sentA += n;
        if ((n = ::read(a.fd(), buf, sizeof buf)) > 0) gotA.append(buf, n);
        if ((n = ::read(b.fd(), buf, sizeof buf)) > 0) gotB.append(buf, n);
    }
    QCOMPARE(gotB.size(), toB.size());
    QCOMPARE(gotA.size(), toA.size());
    QVERIFY(gotB == toB);
    QVERIFY(gotA == toA);
}

void LinesimTest::pacesLikeALine_data() {
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("bytes");
    // About two seconds each.
    QTest::newRow("115200") << 115200 << 23040;
    QTest::newRow("9600") << 9600 << 1920;
}

void LinesimTest::pacesLikeALine() {
    QFETCH(int, baud);
    QFETCH(int, bytes);
    Cable cable;
    QVERIFY(cable.start({"--baud", QString::number(baud)}));
    Port a(cable.pathA), b(cable.pathB);
    const QByteArray data = RandomBytes(bytes, 3);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(a.write(data));
    QList<double> arrivals;
    const QByteArray got = b.read(bytes, 10000, &clock, &arrivals);
    QCOMPARE(got.size(), data.size());
    QVERIFY(got == data);
    // Never early: the line starts when the first byte is written and carries 10 bits per byte.
    const double byteMs = 10.0 * 1000.0 / baud;
    const double expectedMs = bytes * byteMs;
    QVERIFY2(arrivals.last() > expectedMs * 0.995, qPrintable(QString::number(arrivals.last())));
    // The rate: the median over many spans of half the transfer, so that one moment when a loaded
    // machine did not run the reader or the tool does not count, while a wrong rate does.
    const qsizetype half = bytes / 2;
    QList<double> spans;
    for (qsizetype i = 0; i < half; ++i)
        spans.append(arrivals[i + half] - arrivals[i]);
    std::sort(spans.begin(), spans.end());
    const double rateError = spans[half / 2] / (half * byteMs) - 1;
    qInfo("%d bit/s: %d bytes, last after %.1f ms (expected %.1f ms), rate error %+.2f%%", baud,
          bytes, arrivals.last(), expectedMs, 100 * rateError);
    QVERIFY2(rateError > -0.01 && rateError < 0.03, qPrintable(QString::number(rateError)));
}

void LinesimTest::addsLatencyPerDirection() {
    Cable cable;
    QVERIFY(cable.start({"--latency", "ab:200", "--latency=ba:60"}));
    Port a(cable.pathA), b(cable.pathB);
    for (auto [from, to, ms] : {std::tuple{&a, &b, 200}, std::tuple{&b, &a, 60}}) {
        QElapsedTimer clock;
        clock.start();
        QVERIFY(from->write("x"));
        QList<double> arrivals;
        QCOMPARE(to->read(1, 2000, &clock, &arrivals), QByteArray("x"));
        // Never early; the upper bound leaves room for a loaded machine.
        QVERIFY2(arrivals.first() >= ms && arrivals.first() < ms + 1000,
                 qPrintable(QString::number(arrivals.first())));
    }
}

void LinesimTest::corruptsExactlyTheGivenOffsets() {
    Cable cable;
    QVERIFY(cable.start({"--corrupt-at", "ab:0,10,999", "--corrupt-at", "ba:5"}));
    Port a(cable.pathA), b(cable.pathB);
    const QByteArray data = RandomBytes(1000, 4);
    QVERIFY(a.write(data));
    const QByteArray atB = b.read(1000, 5000);
    QVERIFY(b.write(data));
    const QByteArray atA = a.read(1000, 5000);
    QCOMPARE(atB.size(), 1000);
    QCOMPARE(atA.size(), 1000);
    QCOMPARE(Differences(data, atB), (QList<qsizetype>{0, 10, 999}));
    QCOMPARE(Differences(data, atA), (QList<qsizetype>{5}));
    const QString log = cable.log();
    QVERIFY(log.contains(
        QString("ab corrupt offset=10 0x%1->").arg(quint8(data[10]), 2, 16, QChar('0'))));
    QVERIFY(log.contains("ba corrupt offset=5 "));
}

void LinesimTest::dropsTheGivenOffsets() {
    Cable cable;
    QVERIFY(cable.start({"--drop-at", "0,1,500"}));
    Port a(cable.pathA), b(cable.pathB);
    const QByteArray data = RandomBytes(1000, 5);
    QByteArray expected = data;
    expected.remove(500, 1).remove(0, 2);
    QVERIFY(a.write(data));
    QVERIFY(b.write(data));
    QCOMPARE(b.readUntilQuiet(500), expected);
    QCOMPARE(a.readUntilQuiet(500), expected);
    QCOMPARE(cable.stop(), 0);
    QVERIFY(cable.log().contains("summary ab in=1000 delivered=997 corrupted=0 dropped=3"));
}

void LinesimTest::randomImpairmentsFollowTheSeed_data() {
    QTest::addColumn<QString>("option");
    QTest::newRow("corrupt") << "--corrupt-rate";
    QTest::newRow("drop") << "--drop-rate";
}

void LinesimTest::randomImpairmentsFollowTheSeed() {
    QFETCH(QString, option);
    const QByteArray data = RandomBytes(20000, 6);
    auto run = [&](const QString& seed, QString* log) {
        Cable cable;
        if (!cable.start({option, "0.01", "--seed", seed})) return QByteArray();
        Port a(cable.pathA), b(cable.pathB);
        // Traffic the other way must not change what happens to this direction.
        b.write(RandomBytes(500, seed.toUInt()));
        a.write(data);
        const QByteArray got = b.readUntilQuiet(500);
        *log = cable.log();
        return got;
    };
    QString log1, log2, log3;
    const QByteArray first = run("7", &log1), again = run("7", &log2), other = run("8", &log3);
    QVERIFY(!first.isEmpty());
    QVERIFY(first == again);
    QVERIFY(first != other);
    const bool corrupt = option == "--corrupt-rate";
    const qsizetype hits = corrupt ? Differences(data, first).size() : data.size() - first.size();
    QVERIFY2(hits > 100 && hits < 320, qPrintable(QString::number(hits))); // about 200
    QCOMPARE(log1.count(corrupt ? "ab corrupt offset=" : "ab drop offset="), hits);
    if (corrupt) QCOMPARE(first.size(), data.size());
}

void LinesimTest::stallsBeforeTheGivenOffset() {
    Cable cable;
    QVERIFY(cable.start({"--stall", "ab:50:300"}));
    Port a(cable.pathA), b(cable.pathB);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(a.write(RandomBytes(100, 7)));
    QList<double> arrivals;
    QCOMPARE(b.read(100, 3000, &clock, &arrivals).size(), 100);
    // The bytes before the offset are not held back; the pause comes before byte 50. (The gap
    // seen by the reader is shorter than the pause when a loaded machine runs it late for the
    // first bytes; byte 50 itself can never come early.)
    QVERIFY2(arrivals[50] - arrivals[49] >= 100,
             qPrintable(QString("%1 %2").arg(arrivals[49]).arg(arrivals[50])));
    QVERIFY2(arrivals[50] >= 300 && arrivals[50] < 1300, qPrintable(QString::number(arrivals[50])));
    QCOMPARE(arrivals[99] - arrivals[50] < 250, true);
    QVERIFY(cable.log().contains("ab stall offset=50 ms=300"));
}

void LinesimTest::cutsAfterBytes_data() {
    QTest::addColumn<QString>("mode");
    QTest::newRow("quiet") << "quiet";
    QTest::newRow("hangup") << "hangup";
}

void LinesimTest::cutsAfterBytes() {
    QFETCH(QString, mode);
    Cable cable;
    QVERIFY(cable.start({"--cut-after", "ab:100", "--cut-mode", mode, "--baud", "115200"}));
    Port a(cable.pathA), b(cable.pathB);
    const QByteArray data = RandomBytes(300, 8);
    QVERIFY(a.write(data));
    QCOMPARE(b.readUntilQuiet(500), data.left(100));
    QTRY_VERIFY(cable.log().contains("cut (cut-after) mode=" + mode));
    if (mode == "quiet") {
        // Nothing passes the other way either, and the ends stay published.
        QVERIFY(b.write("reply"));
        QCOMPARE(a.readUntilQuiet(300), QByteArray());
        QVERIFY(IsLink(cable.pathA) && IsLink(cable.pathB));
    } else {
        // The ports see a hang-up, and the links are gone.
        pollfd p{b.fd(), POLLIN, 0};
        QCOMPARE(poll(&p, 1, 1000), 1);
        QVERIFY(p.revents & POLLHUP);
        char c = 'x';
        QCOMPARE(::read(b.fd(), &c, 1), ssize_t(0));
        QCOMPARE(::write(a.fd(), &c, 1), ssize_t(-1));
        QCOMPARE(errno, EIO);
        QVERIFY(!IsLink(cable.pathA) && !IsLink(cable.pathB));
    }
    QCOMPARE(cable.stop(), 0);
    QVERIFY(cable.log().contains("summary ab in=300 delivered=100 corrupted=0 dropped=0 stalls=0 "
                                 "lost-to-cut=200"));
}

void LinesimTest::cutsOnSignalAndRejoins() {
    Cable cable;
    QVERIFY(cable.start({}));
    Port a(cable.pathA), b(cable.pathB);
    QVERIFY(a.write("before"));
    QCOMPARE(b.read(6, 2000), QByteArray("before"));
    cable.signal(SIGUSR1);
    QTRY_VERIFY(cable.log().contains("cut (SIGUSR1) mode=quiet"));
    QVERIFY(a.write("during"));
    QVERIFY(b.write("during"));
    QCOMPARE(b.readUntilQuiet(300), QByteArray());
    QCOMPARE(a.readUntilQuiet(100), QByteArray());
    cable.signal(SIGUSR2);
    QTRY_VERIFY(cable.log().contains("restored (SIGUSR2)"));
    QVERIFY(b.write("after"));
    QCOMPARE(a.read(5, 2000), QByteArray("after"));
}

void LinesimTest::removesLinksAtExit_data() {
    QTest::addColumn<int>("signo");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void LinesimTest::removesLinksAtExit() {
    QFETCH(int, signo);
    Cable cable;
    // A link left behind by an earlier run is replaced.
    QVERIFY(QDir().mkpath(QFileInfo(cable.pathA).path()));
    QVERIFY(QFile::link("/dev/null", cable.pathA));
    QVERIFY(cable.start({}));
    QVERIFY(QFileInfo(cable.pathA).symLinkTarget().startsWith("/dev/pts/"));
    {
        Port a(cable.pathA), b(cable.pathB);
        QVERIFY(a.write("12345"));
        QCOMPARE(b.read(5, 2000), QByteArray("12345"));
    }
    QCOMPARE(cable.stop(signo), 0);
    QVERIFY(!IsLink(cable.pathA));
    QVERIFY(!IsLink(cable.pathB));
    QVERIFY(QFileInfo(QFileInfo(cable.pathA).path()).isDir());
    QVERIFY(cable.log().contains("summary ab in=5 delivered=5 "));
    QVERIFY(cable.log().contains("summary ba in=0 delivered=0 "));
}

void LinesimTest::refusesToReplaceAFile() {
    Cable cable;
    QVERIFY(QDir().mkpath(QFileInfo(cable.pathB).path()));
    {
        QFile f(cable.pathB);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    QVERIFY(!cable.start({}));
    cable.process().waitForFinished(5000);
    QCOMPARE(cable.process().state(), QProcess::NotRunning);
    QCOMPARE(cable.process().exitCode(), 1);
    QVERIFY(cable.log().contains("exists and is not a symbolic link"));
    QVERIFY(QFileInfo(cable.pathB).isFile());
    QVERIFY(!IsLink(cable.pathA)); // the end already published is taken back
}

void LinesimTest::endsCanBeOpenedAnyTime() {
    Cable cable;
    QVERIFY(cable.start({}));
    {
        // B is not open yet: A can write and sees no hang-up.
        Port a(cable.pathA);
        QVERIFY(a.write("early"));
        QCOMPARE(a.read(1, 200), QByteArray());
        QCOMPARE(a.lastError(), 0);
    }
    {
        Port b(cable.pathB);
        QCOMPARE(b.read(5, 2000), QByteArray("early"));
        // A program that wants the port to itself sets exclusive use...
        QCOMPARE(ioctl(b.fd(), TIOCEXCL), 0);
    }
    // ...and once it has closed the port, another program can open it again.
    QTRY_VERIFY2(cable.log().contains(QRegularExpression("end b: [a-z ]*closed \\(users 0\\)")),
                 qPrintable(cable.log()));
    Port b(cable.pathB);
    QVERIFY(b.isOpen());
    int exclusive = -1;
    QCOMPARE(ioctl(b.fd(), TIOCGEXCL, &exclusive), 0);
    QCOMPARE(exclusive, 0);
    Port a(cable.pathA);
    QVERIFY(a.write("late"));
    QCOMPARE(b.read(4, 2000), QByteArray("late"));
}

void LinesimTest::rejectsBadCommandLines_data() {
    QTest::addColumn<QStringList>("options");
    QTest::newRow("speed not a number") << QStringList{"--baud", "fast"};
    QTest::newRow("rate above 1") << QStringList{"--drop-rate=1.5"};
    QTest::newRow("negative offset") << QStringList{"--corrupt-at", "ab:3,-1"};
    QTest::newRow("stall without time") << QStringList{"--stall", "ba:100"};
    QTest::newRow("unknown cut mode") << QStringList{"--cut-mode", "snip"};
    QTest::newRow("unknown option") << QStringList{"--noise", "0.1"};
    QTest::newRow("value missing") << QStringList{"--latency"};
}

void LinesimTest::rejectsBadCommandLines() {
    QFETCH(QStringList, options);
    Cable cable;
    QVERIFY(!cable.start(options));
    cable.process().waitForFinished(5000);
    QCOMPARE(cable.process().exitCode(), 2);
    QVERIFY(cable.process().readAllStandardError().contains("Try 'linesim --help'"));
    QVERIFY(!IsLink(cable.pathA) && !IsLink(cable.pathB));
}

QTEST_GUILESS_MAIN(LinesimTest)
#include "linesim_test.moc"
