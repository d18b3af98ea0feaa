// The results-log bench's measuring program (bench/reslog.sh runs it, built from this tree and
// from the tree before the log was read on demand, and prints the two side by side). It uses only
// what both trees have: the application context, the server console, its view.
//
//   bench_reslog make HOME RECORDS   a server's program folder whose server.log holds RECORDS
//                                    copies of one record the server console logged itself
//   bench_reslog startup BIN HOME RUNS
//                                    BIN started headless RUNS times on HOME: milliseconds to
//                                    "Listening for command..." and resident memory then
//   bench_reslog view HOME           in one process, as the desktop does: the console's log
//                                    read, records appended, the log view opened, scrolled to
//                                    its end, sorted by "File name", exported
//
// Every figure is one "name value" line on standard output.
#include "app/context.h"
#include "consoles/server_console.h"
#include "core/helpers.h"
#include "gui/list_view.h"
#include "gui/server_view.h"
#include "jobs/queue.h"
#include "jobs/results_log.h"
#include "platform/prompt.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTabWidget>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <csignal>

namespace {
void put(const char* name, double value) {
    std::printf("%s %.3f\n", name, value);
    std::fflush(stdout);
}

double msSince(const QElapsedTimer& timer) {
    return double(timer.nsecsElapsed()) / 1e6;
}

double median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values[values.size() / 2];
}

// Resident memory of a process in kB (VmRSS), 0 when unknown.
double residentKb(qint64 pid) {
    QFile status(pid ? QString("/proc/%1/status").arg(pid) : QString("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toDouble();
    return 0;
}

QString uploadName(qint64 n) {
    return QString("upload-%1.bin").arg(n, 7, 10, QChar('0'));
}

// The record the server console writes for a received upload, as a record of the log; the
// copies differ in their file name and time, as a day's uploads do.
TLogRecord copyOf(const TLogRecord& seed, qint64 n) {
    TLogRecord r = seed;
    r.FileName = uploadName(n);
    r.Processed = seed.Processed + double(n) / 86400.0;
    return r;
}

const char* const Ini = "[GENERAL]\nMRL_Function=2\nMRL_CommDevices=1\n[SERVER]\nSVR_AutoDelivery=1\n"
                        "[DEVICE1]\ndvkDevType=Direct\ndvkDevName=COM2\ndvkDevGUID=COM2\n"
                        "dvkDevDelay=0\ndvkDevParam=COM2,115200,8,N,1\ndvkDevHostActive=YES\n"
                        "dvkDevRetries=3\n";

struct Program {
    TScriptedPrompt prompt; // boxes get their default answer, file prompts what the bench gives
    std::unique_ptr<TAppContext> ctx;
    std::unique_ptr<TfraServer> server;
    explicit Program(const QString& home) {
        qputenv("MARROWLINE_HOME", QFile::encodeName(home));
        ctx = std::make_unique<TAppContext>(home + "/", home + "/marrowline", prompt);
        ctx->StartupLoad();
        server = std::make_unique<TfraServer>(ctx->ConsoleServices(nullptr));
    }
    // A finished job as the console reports it: logged and shown.
    void log(const TLogRecord& r) {
        ctx->log->LogEntry(r);
        server->ShowLogEntry(r);
    }
};

int make(const QString& home, qint64 records) {
    QDir().mkpath(home);
    QFile ini(home + "/marrowline.ini");
    if (!ini.open(QIODevice::WriteOnly | QIODevice::Truncate) || ini.write(Ini) < 0) return 1;
    ini.close();
    QFile::remove(home + "/server.log");
    TLogRecord seed;
    {
        // The server console logs one received upload, as its engine reports it.
        Program p(home);
        TQueueItem job;
        p.ctx->queue->EmptyItem(job);
        Put(job, qkDate, DateTimeToStr(QDateTime::currentDateTime()));
        Put(job, qkMethod, "RECV");
        Put(job, qkSrcFile, uploadName(0));
        Put(job, qkUser, "BENCH");
        p.server->LogFileEvent(job, false, "Transfer successful.", true);
        if (!p.ctx->log->GetEntry(0, seed)) return 1;
    }
    QFile log(home + "/server.log");
    if (!log.open(QIODevice::WriteOnly | QIODevice::Truncate)) return 1;
    QByteArray chunk;
    for (qint64 i = 0; i < records; ++i) {
        chunk += EncodeLogRecord(copyOf(seed, i));
        if (chunk.size() >= 4096 * LogLayout::RecordSize || i + 1 == records) {
            if (log.write(chunk) != chunk.size()) return 1;
            chunk.clear();
        }
    }
    return 0;
}

int startup(const QString& binary, const QString& home, int runs) {
    QList<double> times, memory;
    for (int run = 0; run < runs; ++run) {
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.insert("MARROWLINE_HOME", home);
        env.insert("MARROWLINE_HEADLESS", "1");
        env.insert("XDG_CONFIG_HOME", home + "/.xdg");
        env.insert("XDG_DATA_HOME", home + "/.xdg");
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::MergedChannels);
        QElapsedTimer timer;
        timer.start();
        program.start(binary, {});
        QByteArray output;
        bool listening = false;
        while (!listening && timer.elapsed() < 600000 && program.state() != QProcess::NotRunning) {
            program.waitForReadyRead(20);
            output += program.readAll();
            listening = output.contains("Listening for command...");
        }
        const double ms = msSince(timer);
        if (!listening) {
            std::fprintf(stderr, "no \"Listening for command...\" from %s:\n%s\n",
                         qPrintable(binary), output.right(2000).constData());
            program.kill();
            program.waitForFinished();
            return 1;
        }
        QThread::msleep(200); // what it holds once it settled
        times << ms;
        memory << residentKb(program.processId());
        ::kill(pid_t(program.processId()), SIGTERM);
        if (!program.waitForFinished(60000)) program.kill();
    }
    put("startup_ms", median(times));
    put("startup_rss_kb", median(memory));
    return 0;
}

// Waits until the view is painted with what it shows now.
void paint(QTreeView* view) {
    QCoreApplication::processEvents();
    view->viewport()->repaint();
}

int view(const QString& home) {
    Program p(home);
    const qint64 before = p.ctx->log->Count();
    TLogRecord seed;
    p.ctx->log->GetEntry(0, seed); // a log of none: a record of nothing much
    qint64 next = before;

    QElapsedTimer timer;
    timer.start();
    p.server->UpdateLogList();
    put("load_ms", msSince(timer));
    put("load_rss_kb", residentKb(0));

    QList<double> appends;
    for (int i = 0; i < 9; ++i) {
        const TLogRecord r = copyOf(seed, next++);
        timer.restart();
        p.log(r);
        appends << msSince(timer);
    }
    put("append_headless_ms", median(appends));

    timer.restart();
    TfraServerView view(*p.server);
    view.resize(900, 700);
    view.show();
    view.pages()->setCurrentIndex(view.pages()->count() - 1);
    TListView* list = view.logList();
    paint(list);
    put("open_view_ms", msSince(timer));

    timer.restart();
    list->scrollToBottom();
    paint(list);
    put("scroll_end_ms", msSince(timer));
    const int rows = list->model()->rowCount();
    if (rows > 0 && list->visualRect(list->model()->index(rows - 1, 0)).bottom() >
                        list->viewport()->height())
        std::fprintf(stderr, "the end of the log is not shown\n");

    timer.restart();
    p.log(copyOf(seed, next++));
    paint(list);
    put("append_view_ms", msSince(timer));

    // "File name", largest first: the last upload comes to the top once the rows are sorted.
    const QString largest = uploadName(next - 1);
    timer.restart();
    list->sortByColumn(3, Qt::DescendingOrder);
    while (list->model()->index(0, 3).data().toString() != largest && timer.elapsed() < 900000) {
        // Asleep until an event comes (the sorted rows, posted from the sort's thread) or 5 ms
        // pass: a loop that spins would take the processor from that thread.
        QEventLoop wait;
        QTimer::singleShot(5, &wait, &QEventLoop::quit);
        wait.exec();
    }
    paint(list);
    put("sort_ms", msSince(timer));
    if (list->model()->index(0, 3).data().toString() != largest)
        std::fprintf(stderr, "the log was not sorted\n");

    timer.restart();
    p.log(copyOf(seed, next++));
    paint(list);
    put("append_sorted_ms", msSince(timer));
    put("view_rss_kb", residentKb(0));

    // "Export...": the whole log as text.
    const QString exported = home + "/export.txt";
    p.prompt.fileAnswers << exported;
    timer.restart();
    p.server->btLogExpClick();
    put("export_ms", msSince(timer));
    if (QFileInfo(exported).size() == 0) std::fprintf(stderr, "nothing exported\n");
    QFile::remove(exported);
    put("rows", double(list->model()->rowCount()));
    return 0;
}
} // namespace

int main(int argc, char** argv) {
    const QStringList args = [&] {
        QStringList out;
        for (int i = 1; i < argc; ++i)
            out << QString::fromLocal8Bit(argv[i]);
        return out;
    }();
    const QString mode = args.value(0);
    if (mode == "make" && args.size() == 3) {
        QCoreApplication app(argc, argv);
        return make(args[1], args[2].toLongLong());
    }
    if (mode == "startup" && args.size() == 4) {
        QCoreApplication app(argc, argv);
        return startup(args[1], args[2], args[3].toInt());
    }
    if (mode == "view" && args.size() == 2) {
        QApplication app(argc, argv);
        return view(args[1]);
    }
    std::fprintf(stderr, "usage: bench_reslog make HOME RECORDS | startup BIN HOME RUNS | view HOME\n");
    return 2;
}
