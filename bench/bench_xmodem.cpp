// XMODEM throughput over linesim cables: our XModem1K against lrzsz (sx -k to rx -c) on the same
// cable settings, and our XModemG against the line's capacity.
//
//   bench_xmodem [--bauds 0,115200,9600] [--sizes 1024,102400,4194304] [--runs N]
//                [--skip-at-9600 BYTES]
//   bench_xmodem --line-table BYTES [--runs N] [--rows NAME,...]
//
// The second form prints one table at 115200 bit/s: our XModem1K and lrzsz on a clean line,
// with bytes changed at 1e-5 and 1e-4 both ways, bytes lost at 1e-5 and 1e-4 both ways, both at
// 1e-4, and 16 ms late each way, with the blocks each had to send again and the answers beyond
// the clean run's (counted by linesim). --rows keeps the rows whose names start with one of the
// given texts (the clean row always runs: the others are measured against it).
//
// Each line gives the median of N runs. "share" is the file bytes per second divided by the
// line's capacity (baud / 10 bytes per second for 8N1); "vs lrzsz" is our time's inverse ratio
// to lrzsz's on the same cable in the same run. Process start-up is inside lrzsz's time, which
// matters only for the smallest file.
#include "xmodem_line_helpers.h"

#include <QCommandLineParser>
#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <optional>

using namespace xmodem_test;

namespace {

struct TOutcome {
    bool ok = false;
    double seconds = 0;
    qint64 sentBytes = 0;   // bytes the sender put on the line (linesim's count)
    qint64 answerBytes = 0; // bytes the receiver put on the line
};

// linesim's byte counts per direction, from the summary it logs as it stops.
void ReadCableSummary(const QString& logPath, TOutcome* outcome) {
    QFile file(logPath);
    if (!file.open(QIODevice::ReadOnly)) return;
    const QString log = QString::fromLocal8Bit(file.readAll());
    static const QRegularExpression summary(QStringLiteral("summary (ab|ba) in=(\\d+)"));
    for (auto it = summary.globalMatch(log); it.hasNext();) {
        const auto m = it.next();
        (m.captured(1) == "ab" ? outcome->sentBytes : outcome->answerBytes) =
            m.captured(2).toLongLong();
    }
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

QStringList CableOptions(int baud) {
    return baud > 0 ? QStringList{"--baud", QString::number(baud)} : QStringList{};
}

// The log file of a cable: linesim's summary tells what crossed the line.
QStringList WithLog(QStringList options, const QString& logPath) {
    QFile::remove(logPath);
    return options << "--log" << logPath;
}

// Our engine at both ends of one cable.
TOutcome RunOurs(const QString& folder, const QString& source, qint64 size,
                 const QStringList& lineOptions, TVaXProtocol protocol) {
    TCable cable;
    const QString logPath = folder + "/cable-ours.log";
    if (!cable.Start(WithLog(lineOptions, logPath))) return {};
    TTransferEnd sender, receiver;
    sender.Open(cable.A());
    receiver.Open(cable.B());
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
    if (!ok) {
        std::fprintf(stderr, "ours failed: sender %d receiver %d; errors:", sender.Result,
                     receiver.Result);
        for (const auto& error : receiver.Errors)
            std::fprintf(stderr, " r%d", error.first);
        for (const auto& error : sender.Errors)
            std::fprintf(stderr, " s%d", error.first);
        std::fprintf(stderr, "\n");
    }
    cable.Stop();
    TOutcome outcome{ok, seconds};
    ReadCableSummary(logPath, &outcome);
    return outcome;
}

// sx -k at one end, rx -c at the other.
TOutcome RunLrzsz(const QString& folder, const QString& sourceName, qint64 size,
                  const QStringList& lineOptions) {
    TCable cable;
    const QString logPath = folder + "/cable-lrzsz.log";
    if (!cable.Start(WithLog(lineOptions, logPath))) return {};
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
    cable.Stop();
    TOutcome outcome{ok, seconds};
    ReadCableSummary(logPath, &outcome);
    return outcome;
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

// One row of the line table: our XMODEM-1K and lrzsz on the same kind of cable, several runs
// (each run with its own seed, the same for both).
struct TRow {
    QString name;
    QStringList options;
    double latencyMs = 0;
};

struct TSide {
    std::vector<double> seconds;
    std::vector<double> sent, answers;
    int failed = 0;
    double Rate(qint64 size) const { return seconds.empty() ? 0 : size / Median(seconds); }
};

int RunLineTable(const QString& folder, qint64 size, int runs, const QStringList& only) {
    constexpr int baud = 115200;
    const QString name = QStringLiteral("line.bin");
    const QString source = folder + "/" + name;
    QFile file(source);
    if (!file.open(QIODevice::WriteOnly) || file.write(RandomBytes(size, 7)) != size) return 1;
    file.close();
    QList<TRow> rows{
        {"clean", {}},
        {"corrupt 1e-5", {"--corrupt-rate", "1e-5"}},
        {"corrupt 1e-4", {"--corrupt-rate", "1e-4"}},
        {"drop 1e-5", {"--drop-rate", "1e-5"}},
        {"drop 1e-4", {"--drop-rate", "1e-4"}},
        {"drop+corr 1e-4", {"--drop-rate", "1e-4", "--corrupt-rate", "1e-4"}},
        {"latency 16 ms", {"--latency", "16"}, 16},
    };
    if (!only.isEmpty())
        rows.removeIf([&](const TRow& row) {
            return row.name != "clean" &&
                   std::none_of(only.begin(), only.end(),
                                [&](const QString& start) { return row.name.startsWith(start); });
        });
    std::printf("XMODEM-1K at %d bit/s, %lld-byte file, median of %d runs; lrzsz is sx -k to "
                "rx -c on the same cable.\n",
                baud, size, runs);
    std::printf("\"of line\": goodput against the line's capacity (11.52 KB/s); \"of clean\": "
                "against the same program on the clean\nline; \"time\": median seconds; "
                "\"resent\": blocks sent beyond the clean run (attempts); \"NAKs\": receiver "
                "bytes\nbeyond the clean run (NAKs, repeated answers). Bytes changed or lost both "
                "ways at the given rate.\n\n");
    std::printf("%-14s | %10s %7s %8s %6s %6s %5s | %10s %7s %8s %6s %6s %5s | %9s\n", "line",
                "ours", "of line", "of clean", "time", "resent", "NAKs", "lrzsz", "of line",
                "of clean", "time", "resent", "NAKs", "ours/lrzsz");
    TSide cleanOurs, cleanLrzsz;
    for (const TRow& row : rows) {
        TSide ours, lrzsz;
        for (int run = 0; run < runs; ++run) {
            QStringList options = CableOptions(baud) + row.options;
            options << "--seed" << QString::number(run + 1);
            const TOutcome a = RunOurs(folder, source, size, options, XModem1K);
            const TOutcome b = RunLrzsz(folder, name, size, options);
            for (auto [outcome, side] : {std::pair{a, &ours}, std::pair{b, &lrzsz}}) {
                if (!outcome.ok) {
                    ++side->failed;
                    continue;
                }
                side->seconds.push_back(outcome.seconds);
                side->sent.push_back(double(outcome.sentBytes));
                side->answers.push_back(double(outcome.answerBytes));
            }
        }
        if (row.name == "clean") {
            cleanOurs = ours;
            cleanLrzsz = lrzsz;
        }
        const auto cells = [&](const TSide& side, const TSide& clean) {
            const double rate = side.Rate(size), cleanRate = clean.Rate(size);
            const double resent = side.sent.empty() || clean.sent.empty()
                                      ? 0
                                      : (Median(side.sent) - Median(clean.sent)) / 1029.0;
            const double answers = side.answers.empty() || clean.answers.empty()
                                       ? 0
                                       : Median(side.answers) - Median(clean.answers);
            QString text = QString::asprintf("%10s %6.1f%% %7.1f%% %6.1f %6.0f %5.0f",
                                             qPrintable(Rate(rate)), 100 * rate / (baud / 10.0),
                                             cleanRate > 0 ? 100 * rate / cleanRate : 0.0,
                                             side.seconds.empty() ? 0.0 : Median(side.seconds),
                                             std::max(0.0, resent), std::max(0.0, answers));
            if (side.failed) text += QString::asprintf(" (%d failed)", side.failed);
            return text;
        };
        const double oursRate = ours.Rate(size), lrzszRate = lrzsz.Rate(size);
        std::printf("%-14s | %s | %s | %8.2fx\n", qPrintable(row.name),
                    qPrintable(cells(ours, cleanOurs)), qPrintable(cells(lrzsz, cleanLrzsz)),
                    lrzszRate > 0 ? oursRate / lrzszRate : 0.0);
        if (row.latencyMs > 0) {
            // Stop and wait: a block's 1029 bytes, then the answer's round trip.
            const double blockSeconds = 1030 * 10.0 / baud + 2 * row.latencyMs / 1000;
            const double limit = 1024 / blockSeconds;
            std::printf("%-14s | %10s %7.1f%% of the stop-and-wait limit (%s) | lrzsz %7.1f%%\n",
                        "", "", 100 * oursRate / limit, qPrintable(Rate(limit).trimmed()),
                        100 * lrzszRate / limit);
        }
        std::fflush(stdout);
    }
    return 0;
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
    parser.addOption({"line-table",
                      "Instead: ours against lrzsz at 115200 bit/s on a clean, noisy and late "
                      "line, with a file of this size.",
                      "bytes"});
    parser.addOption({"rows", "With --line-table: only the rows whose names start so.", "list"});
    parser.process(app);
    if (parser.isSet("line-table")) {
        QTemporaryDir dir;
        return RunLineTable(dir.path(), parser.value("line-table").toLongLong(),
                            std::max(1, parser.value("runs").toInt()),
                            parser.value("rows").split(',', Qt::SkipEmptyParts));
    }
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
                const QStringList line = CableOptions(int(baud));
                const TOutcome a = RunOurs(dir.path(), source, size, line, XModem1K);
                const TOutcome b = RunLrzsz(dir.path(), name, size, line);
                const TOutcome g = RunOurs(dir.path(), source, size, line, XModemG);
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
