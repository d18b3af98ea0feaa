#pragma once
// End-to-end harness: whole marrowline processes (MARROWLINE_BIN), each in a program folder of
// its own, talking over virtual lines made by linesim (LINESIM_BIN). Everything a test starts is
// stopped by the destructors (SIGTERM, then SIGKILL), so nothing is left running.
//
// Standard output of every process goes to a file in its home ("stdout.txt"), so a process never
// blocks on a full pipe while the test waits for another one, and a failing test can show it.
#include "jobs/queue.h"
#include "jobs/results_log.h"

#include <QByteArray>
#include <QDebug>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <vector>

// QVERIFY that, on failure, first prints `dump` (the programs' transcripts) in full; Qt Test cuts
// long failure messages.
#define E2E_VERIFY(condition, dump)                                                                \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            qWarning().noquote() << (dump);                                                        \
            QFAIL(#condition);                                                                     \
        }                                                                                          \
    } while (false)

namespace e2e {

// Processes events until `done` is true or `ms` have passed; the last value of `done`.
bool WaitUntil(const std::function<bool()>& done, int ms);
// Deterministic pseudo-random bytes.
QByteArray RandomBytes(qsizetype size, quint32 seed);
QByteArray ReadAll(const QString& path);
bool WriteAll(const QString& path, const QByteArray& bytes);
// Time scale for slow machines: MARROWLINE_E2E_SLOW multiplies the test's waits (default 1).
int Scaled(int ms);

// One program folder with its settings file, user files, folders and port links.
class Home {
public:
    // `root/name/`; created.
    Home(const QString& root, const QString& name);

    QString path() const { return mPath; } // trailing '/'
    QString file(const QString& relative) const { return mPath + relative; }
    QString inbox() const { return mPath + "INBOX/"; }
    QString outbox() const { return mPath + "OUTBOX/"; }
    QString portLink(int port) const { return mPath + QString("ports/COM%1").arg(port); }
    QString iniPath() const { return mPath + "marrowline.ini"; }

    // Writes one value into marrowline.ini.
    void set(const QString& section, const QString& key, const QString& value);
    QString get(const QString& section, const QString& key) const;

    // A client whose default connection is a direct cable on COMport. The batch runs every
    // second and starts on its own.
    void makeClient(int port, int delayMs = 100, int retries = 3);
    // A server answering on a direct cable on each port, started on its own.
    void makeServer(const QList<int>& ports, int delayMs = 100);
    // A server account file; empty folders follow the global inbox and outbox.
    void addUser(const QString& name, const QString& password, const QString& inbox = {},
                 const QString& outbox = {});

    // Writes a file relative to the home (folders created).
    bool put(const QString& relative, const QByteArray& bytes) const;

    // Writes a job file "QUEUE/<no>.<ext>" with the given fields (others empty; qkNo and qkDate
    // filled) and raises MRL_QueueCounter to the number.
    void writeJob(int no, const QString& ext, const QMap<TQueueKey, QString>& fields);
    // Job files ("QUEUE/*.xfr" or "*.xfh"), read back.
    QList<TQueueItem> jobs() const;
    // Results log records of "client.log" or "server.log".
    QList<TLogRecord> log(const QString& name) const;
    // Waits until the log holds at least `count` records.
    bool waitLog(const QString& name, int count, int ms) const;
    // Files under a folder, relative to it, recursively (hidden ones too), sorted.
    static QStringList tree(const QString& folder);

private:
    QString mPath;
};

// One marrowline process in a home.
class Program {
public:
    Program(const Home& home, const QStringList& args = {}, const QMap<QString, QString>& env = {});
    ~Program();

    bool running() const;
    // All standard output so far.
    QString output() const;
    QStringList lines() const;
    // Number of output lines that contain the text.
    int count(const QString& text) const;
    // Waits until at least `times` output lines contain the text.
    bool waitFor(const QString& text, int ms, int times = 1);
    // SIGTERM, then SIGKILL after `ms`; true when it ended by itself within `ms`.
    bool stop(int ms = 15000);
    int pid() const;
    QString stdoutPath() const { return mStdout; }

private:
    std::unique_ptr<QProcess> mProcess;
    QString mStdout;
};

// The environment every marrowline process of a home gets (headless, its own XDG folders).
QProcessEnvironment ProgramEnvironment(const Home& home, const QMap<QString, QString>& env = {});

// A second start: runs the program with the arguments, waits for it to end. Returns its output
// (stdout and stderr); *ok false when it did not end in time or crashed.
QString RunOnce(const Home& home, const QStringList& args, bool* ok = nullptr, int ms = 20000);

// linesim: a cable (or modems) between two published ends.
class LineSim {
public:
    // `mode` "cable" or "modems"; options before the two ends. Waits for the "ready" line.
    LineSim(const QString& mode, const QStringList& options, const QString& endA,
            const QString& endB, const QString& logPath = {});
    ~LineSim();
    bool ready() const { return mReady; }
    QString readyLine() const { return mReadyLine; }
    void signal(int sig);
    QString log() const;
    bool stop(int ms = 5000);

private:
    std::unique_ptr<QProcess> mProcess;
    QString mLog;
    QString mReadyLine;
    bool mReady = false;
};

// The independent peer of the designed exchange (tests/e2e/plain_peer.py, over python3-xmodem) on
// one end of a line, as a server or as a client. Its log has one line per event: "RX text" for a
// framed line it received, "TX text" for one it sent, "IGNORED text" for a command the server did
// not understand, "STRAY bytes" for what a client received that is no designed reply, "XFER ..."
// for each transfer, "END ..." when a client's session is over.
class PlainPeer {
public:
    // False when python3-xmodem is missing (the test is skipped).
    static bool available();
    // `role` "server" or "client"; the rest are the script's options.
    PlainPeer(const QString& role, const QString& device, const QString& folder,
              const QStringList& options);
    ~PlainPeer();
    bool running() const;
    // A client's exit code once it has ended (-1 before).
    int exitCode() const;
    bool waitEnd(int ms);
    // The log's events of one kind ("RX", "TX", "IGNORED", ...), their texts in order.
    QStringList events(const QString& kind) const;
    // Seconds since the peer started at each event of that kind.
    QList<double> times(const QString& kind) const;
    QString log() const;

private:
    std::unique_ptr<QProcess> mProcess;
    QString mLog;
};

// A scripted peer on one end of a line (a hostile or silent client): raw bytes and framed lines.
class LineEnd {
public:
    explicit LineEnd(const QString& path);
    ~LineEnd();
    bool isOpen() const { return mFd >= 0; }
    bool write(const QByteArray& bytes);
    // Sends a framed command line.
    bool send(const QString& text);
    // The text of the next framed reply with a valid checksum, or a null string after `ms`.
    QString reply(int ms);
    // Everything read so far and not taken by reply().
    QByteArray pending();

private:
    void readAvailable();
    int mFd = -1;
    QByteArray mIn;
};

// A results file line cut into its fields (widths 4, 3, 60, 255, 16, 16, 20, 40, 1).
struct ResultsLine {
    bool ok = false; // exactly 415 characters
    QString jobNo, doneText, result, fileName, submitted, processed, user, param, doneFlag;
};
ResultsLine ParseResultsLine(const QByteArray& bytes);

// A standard pair for one cable: a client home (COM1) and a server home (COM2) under one
// temporary root, a linesim cable between them, a server user, and both programs.
class Pair {
public:
    explicit Pair(const QStringList& lineOptions = {}, const QMap<QString, QString>& env = {});
    ~Pair();

    QTemporaryDir root;
    std::unique_ptr<Home> client, server;
    std::unique_ptr<LineSim> cable;
    std::unique_ptr<Program> clientProgram, serverProgram;
    QMap<QString, QString> env;
    bool ok = false; // the last start() brought everything up

    // Starts linesim and the two programs (server first); true when all are up.
    bool start(const QStringList& lineOptions);
    // Queues a client job through a second start: file relative to the client's OUTBOX.
    QString queue(const QString& relative, const QString& user, const QString& password,
                  const QStringList& extra = {});
    // Queues a host job for a user through a second start on the server.
    QString queueHost(const QString& relative, const QString& user, const QStringList& extra = {});
    // Stops both programs and the cable.
    void stopAll();
    // Both transcripts, for a failing test's message.
    QString transcripts() const;
};

} // namespace e2e
