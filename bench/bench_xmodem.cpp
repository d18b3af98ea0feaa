// XMODEM throughput over linesim cables: our XModem1K against lrzsz (sx -k to rx -c) on the same
// cable settings, and our XModemG against the line's capacity.
//
//   bench_xmodem [--bauds 0,115200,9600] [--sizes 1024,102400,4194304] [--runs N]
//                [--skip-at-9600 BYTES]
//
// Each line gives the median of N runs. "share" is the file bytes per second divided by the
// line's capacity (baud / 10 bytes per second for 8N1); "vs lrzsz" is our time's inverse ratio
// to lrzsz's on the same cable in the same run. Process start-up is inside lrzsz's time, which
// matters only for the smallest file.
#include "xmodem_line_helpers.h"

#include <QCommandLineParser>
#include <QDir>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <optional>

using namespace xmodem_test;

namespace {

struct TOutcome {
    bool ok = false;
    double seconds = 0;
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

QStringList CableOptions(int baud) {
    return baud > 0 ? QStringList{"--baud", QString::number(baud)} : QStringList{};
}

// Our engine at both ends of one cable.
TOutcome RunOurs(const QString& folder, const QString& source, qint64 size, int baud,
                 TVaXProtocol protocol) {
    TCable cable;
    if (!cable.Start(CableOptions(baud))) return {};
    TTransferEnd sender, receiver;
    sender.Open(cable.A());
    receiver.Open(cable.B());
    // XModemG does not wait per block while the receiver hands every block to the main thread:
    // on an unpaced line the sender runs ahead, and the queue must hold what it runs ahead by
    // (the default 4096 bytes overrun at once there).
    if (protocol == XModemG)
        receiver.Engine->SetBufferSize(int(std::min<qint64>(size + (1 << 20), 1 << 30)));
    const QString target = folder + "/ours.bin";
    QFile::remove(target);
    QElapsedTimer clock;
    sender.Start(tmUpload, XModem, source);
    clock.start();
    receiver.Start(tmDownload, protocol, target);
    const bool done = RunUntil([&] { return sender.Ended && receiver.Ended; }, 3600 * 1000);
    const double seconds = clock.nsecsElapsed() / 1e9;
    const bool ok =
        done && sender.Result == 0 && receiver.Result == 0 && QFileInfo(target).size() >= size;
    if (!ok)
        std::fprintf(stderr, "ours failed: sender %d receiver %d\n", sender.Result,
                     receiver.Result);
    return {ok, seconds};
}

// sx -k at one end, rx -c at the other.
TOutcome RunLrzsz(const QString& folder, const QString& sourceName, qint64 size, int baud) {
    TCable cable;
    if (!cable.Start(CableOptions(baud))) return {};
    const QString inFolder = folder + "/rx";
    QDir().mkpath(inFolder);
    QFile::remove(inFolder + "/" + sourceName);
    QProcess sx, rx;
    QElapsedTimer clock;
    clock.start();
    StartLrzsz(sx, "sx", {"-k", sourceName}, cable.A(), folder);
    StartLrzsz(rx, "rx", {"-c", sourceName}, cable.B(), inFolder);
    // The transfer is complete when rx has closed the file and exited. rx flushes its terminal's
    // queues as it exits, which on a pseudo-terminal can swallow its ACK of the EOT; sx then
    // waits for it in vain, so it is not waited for beyond a grace period.
    const bool done = rx.waitForFinished(3600 * 1000);
    const double seconds = clock.nsecsElapsed() / 1e9;
    if (!sx.waitForFinished(1000)) {
        sx.kill();
        sx.waitForFinished(1000);
    }
    const bool ok = done && rx.exitStatus() == QProcess::NormalExit && rx.exitCode() == 0 &&
                    QFileInfo(inFolder + "/" + sourceName).size() >= size;
    if (!ok) std::fprintf(stderr, "lrzsz failed: rx %d\n", rx.exitCode());
    return {ok, seconds};
}

QString Rate(double bytesPerSecond) {
    if (bytesPerSecond >= 1e6) return QString::asprintf("%8.2f MB/s", bytesPerSecond / 1e6);
    return QString::asprintf("%8.2f KB/s", bytesPerSecond / 1e3);
}

QList<qint64> ParseList(const QString& text) {
    QList<qint64> values;
    for (const QString& part : text.split(',', Qt::SkipEmptyParts))
        values.append(part.toLongLong());
    return values;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsEmpty("LINESIM_BIN")) qputenv("LINESIM_BIN", LINESIM_DEFAULT);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({"bauds", "Line speeds, 0 = unpaced.", "list", "0,115200,9600"});
    parser.addOption({"sizes", "File sizes in bytes.", "list", "1024,102400,4194304"});
    parser.addOption({"runs", "Runs per case (median reported).", "n", "3"});
    parser.addOption({"skip-at-9600", "Skip files above this size at 9600 bit/s or slower.",
                      "bytes", "1000000"});
    parser.process(app);
    const QList<qint64> bauds = ParseList(parser.value("bauds"));
    const QList<qint64> sizes = ParseList(parser.value("sizes"));
    const int runs = std::max(1, parser.value("runs").toInt());
    const qint64 slowLimit = parser.value("skip-at-9600").toLongLong();

    QTemporaryDir dir;
    std::printf("%-9s %-9s %-9s %14s %14s %9s %8s\n", "line", "file", "protocol", "throughput",
                "lrzsz", "vs lrzsz", "share");
    for (qint64 baud : bauds) {
        for (qint64 size : sizes) {
            if (baud > 0 && baud <= 9600 && size > slowLimit) {
                std::printf("%-9lld %-9lld skipped: too long at this speed\n", baud, size);
                continue;
            }
            const QString name = QStringLiteral("f%1.bin").arg(size);
            const QString source = dir.path() + "/" + name;
            QFile file(source);
            if (!file.open(QIODevice::WriteOnly) ||
                file.write(RandomBytes(size, quint32(size))) != size)
                return 1;
            file.close();
            std::vector<double> ours, lrzsz, streaming;
            for (int run = 0; run < runs; ++run) {
                const TOutcome a = RunOurs(dir.path(), source, size, int(baud), XModem1K);
                const TOutcome b = RunLrzsz(dir.path(), name, size, int(baud));
                const TOutcome g = RunOurs(dir.path(), source, size, int(baud), XModemG);
                if (a.ok) ours.push_back(a.seconds);
                if (b.ok) lrzsz.push_back(b.seconds);
                if (g.ok) streaming.push_back(g.seconds);
            }
            const double capacity = baud > 0 ? baud / 10.0 : 0;
            const double oursRate = ours.empty() ? 0 : size / Median(ours);
            const double lrzszRate = lrzsz.empty() ? 0 : size / Median(lrzsz);
            const double gRate = streaming.empty() ? 0 : size / Median(streaming);
            const QString line = baud > 0 ? QString::number(baud) : QStringLiteral("unpaced");
            const auto share = [&](double rate) {
                return capacity > 0 ? QString::asprintf("%7.1f%%", 100.0 * rate / capacity)
                                    : QStringLiteral("      -");
            };
            std::printf("%-9s %-9lld %-9s %14s %14s %8.2fx %8s\n", qPrintable(line), size, "1K",
                        qPrintable(Rate(oursRate)), qPrintable(Rate(lrzszRate)),
                        lrzszRate > 0 ? oursRate / lrzszRate : 0.0, qPrintable(share(oursRate)));
            std::printf("%-9s %-9lld %-9s %14s %14s %9s %8s\n", qPrintable(line), size, "G",
                        qPrintable(Rate(gRate)), "", "", qPrintable(share(gRate)));
            std::fflush(stdout);
        }
    }
    return 0;
}
