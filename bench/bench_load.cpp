// Load benchmark: one server with LINKS linesim cables and LINKS clients at once, each client
// sending FILES files and fetching FILES files in one batch, against the same kind of run with a
// single link and the same file set, run just before it. Prints per link the files that arrived
// whole, their bytes, the transfer span, the goodput and its ratio to the single link, and the
// server's event-loop stall figures of both runs. Exits 1 when any file or record is wrong.
//
// Settings from the environment: LINKS (8), FILES (50), LARGEST (307200 bytes), BAUD (115200; 0
// runs the cables unpaced), SEED (1), TIMEOUT_MIN (30, per run), KEEP (keep the folders).
// MARROWLINE_BIN and LINESIM_BIN default to the programs of this build.
#include "e2e/load_run.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

using namespace e2e;

namespace {
int setting(const char* name, int fallback) {
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok ? value : fallback;
}

QString loadAverage() {
    QFile file("/proc/loadavg");
    if (!file.open(QIODevice::ReadOnly)) return "?";
    return QString::fromLatin1(file.readAll()).section(' ', 0, 2);
}

void print(const QString& text) {
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
}

QString stallLine(const QString& name, const LoadResult& r) {
    if (!r.stallRead) return name + ": no figures";
    QString line = QString("%1 longest %2 ms, p99 <= %3 ms, p99.9 <= %4 ms, %5 of %6 samples >= 50 ms")
                       .arg(name, -14)
                       .arg(r.stall.maxMs, 0, 'f', 1)
                       .arg(r.stall.p99Ms)
                       .arg(r.stall.p999Ms)
                       .arg(r.stall.over50Ms)
                       .arg(r.stall.samples);
    // What the main thread did from arming to the longest stall's expiry, and the longest it
    // was blocked in a call while its timer was due: a machine short of CPU shows as waiting, a
    // program that blocks as asleep.
    if (r.stall.scheduler)
        line += QString("\n%1 longest (at %6): running %2 ms, waiting for a CPU %3 ms, asleep %4 "
                        "ms; asleep past due at most %5 ms")
                    .arg("", -14)
                    .arg(r.stall.longestCpuMs, 0, 'f', 1)
                    .arg(r.stall.longestRunqueueMs, 0, 'f', 1)
                    .arg(r.stall.longestAsleepMs, 0, 'f', 1)
                    .arg(r.stall.asleepLateMaxMs, 0, 'f', 1)
                    .arg(r.stall.longestAt.mid(11));
    return line;
}

QString row(const QString& name, const LoadLink& link, int files, double baseline) {
    const double ratio = baseline > 0 ? link.goodput() / baseline : 0;
    return QString("%1 %2 %3 %4 %5 %6 %7")
        .arg(name, -7)
        .arg(QString("%1/%2").arg(link.filesUp).arg(files), 6)
        .arg(QString("%1/%2").arg(link.filesDown).arg(files), 6)
        .arg(link.bytesUp + link.bytesDown, 10)
        .arg(link.seconds(), 9, 'f', 1)
        .arg(link.goodput() / 1024.0, 7, 'f', 2)
        .arg(ratio, 6, 'f', 3);
}

LoadResult run(const QString& root, const LoadOptions& options, const QString& name) {
    QDir().mkpath(root);
    print(QString("== %1: running (load average %2)").arg(name, loadAverage()));
    LoadResult result = RunLoad(root, options);
    print(QString("   %1 s in all; load average %2").arg(result.wallMs / 1000.0, 0, 'f', 1)
              .arg(loadAverage()));
    if (!result.ok()) print(result.faultText());
    return result;
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (!qEnvironmentVariableIsSet("MARROWLINE_BIN")) qputenv("MARROWLINE_BIN", MARROWLINE_DEFAULT);
    if (!qEnvironmentVariableIsSet("LINESIM_BIN")) qputenv("LINESIM_BIN", LINESIM_DEFAULT);

    LoadOptions options;
    options.links = std::max(1, setting("LINKS", 8));
    options.files = std::max(1, setting("FILES", 50));
    options.largest = std::max(1, setting("LARGEST", 300 * 1024));
    options.seed = quint32(setting("SEED", 1));
    options.timeoutMs = std::max(1, setting("TIMEOUT_MIN", 30)) * 60 * 1000;
    const int baud = setting("BAUD", 115200);
    if (baud > 0) options.lineOptions = {"--baud", QString::number(baud)};

    QTemporaryDir work(QDir::tempPath() + "/marrowline-load.XXXXXX");
    if (qEnvironmentVariableIsSet("KEEP")) work.setAutoRemove(false);
    print(QString("load: %1 links x %2 files each way (1 B to %3 B, log-uniform, seed %4), %5; "
                  "folders %6")
              .arg(options.links)
              .arg(options.files)
              .arg(options.largest)
              .arg(options.seed)
              .arg(baud > 0 ? QString("linesim cable --baud %1").arg(baud) : "unpaced cables")
              .arg(work.path()));

    LoadOptions single = options;
    single.links = 1;
    const LoadResult alone = run(work.path() + "/single", single, "single link");
    const LoadResult many =
        run(work.path() + "/links", options, QString("%1 links at once").arg(options.links));

    const double baseline = alone.links.isEmpty() ? 0 : alone.links[0].goodput();
    print("");
    print("goodput: file bytes both ways / span from the client's first \"Transferring...\" to "
          "its last \"File done.\"");
    print(QString("%1 %2 %3 %4 %5 %6 %7")
              .arg("link", -7)
              .arg("up", 6)
              .arg("down", 6)
              .arg("bytes", 10)
              .arg("seconds", 9)
              .arg("KiB/s", 7)
              .arg("ratio", 6));
    if (!alone.links.isEmpty()) print(row("single", alone.links[0], options.files, baseline));
    double lowest = -1;
    int lowestLink = 0;
    for (int i = 0; i < many.links.size(); ++i) {
        print(row(QString::number(i + 1), many.links[i], options.files, baseline));
        const double ratio = baseline > 0 ? many.links[i].goodput() / baseline : 0;
        if (lowest < 0 || ratio < lowest) {
            lowest = ratio;
            lowestLink = i + 1;
        }
    }
    if (lowest >= 0)
        print(QString("lowest ratio %1 (link %2); aim >= 0.95: %3")
                  .arg(lowest, 0, 'f', 3)
                  .arg(lowestLink)
                  .arg(lowest >= 0.95 ? "met" : "NOT met"));
    print("");
    print("server event loop (stall probe, 10 ms timer):");
    print(stallLine("single link", alone));
    print(stallLine(QString("%1 links").arg(options.links), many));
    const auto cpuLine = [](const QString& name, const LoadResult& r) {
        return QString("%1 server processor time %2 s over %3 s of batches (%4 % of one core)")
            .arg(name, -14)
            .arg(r.serverCpuSeconds, 0, 'f', 1)
            .arg(r.wallMs / 1000.0, 0, 'f', 1)
            .arg(r.wallMs > 0 ? 100.0 * r.serverCpuSeconds / (r.wallMs / 1000.0) : 0, 0, 'f', 0);
    };
    print(cpuLine("single link", alone));
    print(cpuLine(QString("%1 links").arg(options.links), many));
    if (many.stallRead)
        print(QString("longest stall under load %1 ms; aim < 50 ms: %2")
                  .arg(many.stall.maxMs, 0, 'f', 1)
                  .arg(many.stall.maxMs < 50 ? "met" : "NOT met"));

    const bool ok = alone.ok() && many.ok();
    if (!ok) {
        print("");
        print("FAILED: files or records are wrong (see above)");
        if (!alone.ok()) print(alone.transcripts.right(4000));
        if (!many.ok()) print(many.transcripts.right(4000));
    }
    return ok ? 0 : 1;
}
