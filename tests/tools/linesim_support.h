#pragma once
// What the line simulator's tests share: a port opened as a program opens it, and the linesim
// process with its log in a temporary folder.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace linesim_test {

// One end as a program opens it: raw, non-blocking.
class Port {
public:
    explicit Port(const QString& path) {
        mFd = open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (mFd < 0) return;
        termios tio{};
        tcgetattr(mFd, &tio);
        cfmakeraw(&tio);
        tcsetattr(mFd, TCSANOW, &tio);
    }
    ~Port() { Close(); }
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;
    void Close() {
        if (mFd >= 0) close(mFd);
        mFd = -1;
    }
    bool isOpen() const { return mFd >= 0; }
    int fd() const { return mFd; }

    bool write(const QByteArray& data) {
        qsizetype done = 0;
        QElapsedTimer timer;
        timer.start();
        while (done < data.size() && timer.elapsed() < 10000) {
            const ssize_t n = ::write(mFd, data.constData() + done, size_t(data.size() - done));
            if (n > 0) {
                done += n;
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return false;
            } else {
                pollfd p{mFd, POLLOUT, 0};
                poll(&p, 1, 50);
            }
        }
        return done == data.size();
    }
    // Reads until `count` bytes arrived or `timeoutMs` passed; `arrivals` (optional) gets the
    // time of each read, in milliseconds of `clock`, per byte.
    QByteArray read(qsizetype count, int timeoutMs, const QElapsedTimer* clock = nullptr,
                    QList<double>* arrivals = nullptr) {
        QByteArray got;
        QElapsedTimer timer;
        timer.start();
        while (got.size() < count && timer.elapsed() < timeoutMs) {
            pollfd p{mFd, POLLIN, 0};
            poll(&p, 1, 20);
            char buf[4096];
            const ssize_t n = ::read(mFd, buf, size_t(qMin<qsizetype>(4096, count - got.size())));
            if (n > 0) {
                got.append(buf, n);
                if (arrivals) {
                    const double at = double(clock->nsecsElapsed()) / 1e6;
                    for (ssize_t i = 0; i < n; ++i)
                        arrivals->append(at);
                }
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                mLastError = errno;
                break;
            }
        }
        return got;
    }
    // Reads until the bytes read end with `tail`, or `timeoutMs` passed.
    QByteArray readUntil(const QByteArray& tail, int timeoutMs) {
        QByteArray got;
        QElapsedTimer timer;
        timer.start();
        while (!got.endsWith(tail) && timer.elapsed() < timeoutMs)
            got += read(1, 20);
        return got;
    }
    // Everything that arrives until the line has been quiet for `quietMs`.
    QByteArray readUntilQuiet(int quietMs) {
        QByteArray got;
        for (;;) {
            QByteArray more = read(1 << 20, quietMs);
            if (more.isEmpty()) return got;
            got += more;
        }
    }
    // Writes `data` while reading what comes back, so that neither side's buffers fill; then
    // reads until `quietMs` pass without a byte. Returns what was read.
    QByteArray converse(const QByteArray& data, int quietMs) {
        QByteArray got;
        qsizetype done = 0;
        QElapsedTimer timer;
        timer.start();
        while (done < data.size() && timer.elapsed() < 20000) {
            pollfd p{mFd, POLLIN | POLLOUT, 0};
            poll(&p, 1, 50);
            char buf[4096];
            ssize_t n = ::read(mFd, buf, sizeof buf);
            if (n > 0) got.append(buf, n);
            n = ::write(mFd, data.constData() + done,
                        size_t(qMin<qsizetype>(4096, data.size() - done)));
            if (n > 0) done += n;
        }
        return got + readUntilQuiet(quietMs);
    }
    int lastError() const { return mLastError; }

private:
    int mFd = -1;
    int mLastError = 0;
};

// A linesim process; its log goes to a file in a temporary folder, where ports are published.
class Linesim {
public:
    Linesim() { logPath = mDir.filePath("linesim.log"); }
    ~Linesim() {
        if (mProcess.state() != QProcess::NotRunning) {
            mProcess.terminate();
            mProcess.waitForFinished(5000);
        }
    }
    Linesim(const Linesim&) = delete;
    Linesim& operator=(const Linesim&) = delete;

    // Runs `linesim MODE --log FILE ARGS...` and waits for its "ready" line.
    bool start(const QString& mode, const QStringList& args) {
        const QString bin = qEnvironmentVariable("LINESIM_BIN");
        if (bin.isEmpty()) return false;
        mProcess.setProgram(bin);
        mProcess.setArguments(QStringList{mode, "--log", logPath} + args);
        mProcess.setProcessChannelMode(QProcess::SeparateChannels);
        mProcess.start();
        if (!mProcess.waitForStarted(5000)) return false;
        QElapsedTimer timer;
        timer.start();
        while (!mProcess.canReadLine() && timer.elapsed() < 10000) {
            if (!mProcess.waitForReadyRead(100) && mProcess.state() == QProcess::NotRunning)
                return false;
        }
        readyLine = QString::fromUtf8(mProcess.readLine()).trimmed();
        return readyLine.startsWith("ready ");
    }
    void signal(int signo) { ::kill(pid_t(mProcess.processId()), signo); }
    // Sends `signo` and waits for the exit; returns the exit code, or -1.
    int stop(int signo = SIGTERM) {
        signal(signo);
        if (!mProcess.waitForFinished(10000)) return -1;
        return mProcess.exitStatus() == QProcess::NormalExit ? mProcess.exitCode() : -1;
    }
    QString log() const {
        QFile f(logPath);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    QProcess& process() { return mProcess; }
    QString path(const QString& name) const { return mDir.filePath(name); }

    QString logPath, readyLine;

private:
    QTemporaryDir mDir;
    QProcess mProcess;
};

inline QByteArray RandomBytes(qsizetype size, quint32 seed) {
    QRandomGenerator rng(seed);
    QByteArray data(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        data[i] = char(rng.bounded(256));
    return data;
}

} // namespace linesim_test
