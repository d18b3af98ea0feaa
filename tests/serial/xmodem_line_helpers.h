#pragma once
// Shared by the XMODEM transfer tests and the benchmark: a linesim cable between two
// pseudo-terminals, one end of a transfer (port + engine + what its events reported), and lrzsz
// peers with their standard input and output on a pseudo-terminal.
#include "serial/comm.h"
#include "serial/xmodem.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>

namespace xmodem_test {

// Processes events until `done` is true or `ms` have passed; returns `done()`.
inline bool RunUntil(const std::function<bool()>& done, int ms) {
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return done();
}

inline QByteArray RandomBytes(qsizetype size, quint32 seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator random(seed);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(random.bounded(256));
    return bytes;
}

inline QString LinesimPath() {
    const QByteArray path = qgetenv("LINESIM_BIN");
    return path.isEmpty() ? QStringLiteral("linesim") : QString::fromLocal8Bit(path);
}

// A virtual null-modem cable: `linesim cable` with the given line options.
class TCable {
public:
    ~TCable() { Stop(); }
    bool Start(const QStringList& options, QString* error = nullptr) {
        mProcess.setProgram(LinesimPath());
        mProcess.setArguments(QStringList{"cable"} + options);
        mProcess.setStandardErrorFile(QProcess::nullDevice());
        mProcess.start();
        static const QRegularExpression ready(QStringLiteral("ready a=(\\S+) b=(\\S+)"));
        QByteArray output;
        const bool ok = RunUntil(
            [&] {
                output += mProcess.readAllStandardOutput();
                return output.contains('\n') || mProcess.state() == QProcess::NotRunning;
            },
            10000);
        const auto match = ready.match(QString::fromLocal8Bit(output));
        if (!ok || !match.hasMatch()) {
            if (error)
                *error = QStringLiteral("linesim did not start: ") + mProcess.errorString() + " " +
                         output;
            return false;
        }
        mA = match.captured(1);
        mB = match.captured(2);
        return true;
    }
    void Stop() {
        if (mProcess.state() == QProcess::NotRunning) return;
        mProcess.terminate();
        if (!mProcess.waitForFinished(5000)) mProcess.kill();
        mProcess.waitForFinished(2000);
    }
    QString A() const { return mA; }
    QString B() const { return mB; }

private:
    QProcess mProcess;
    QString mA, mB;
};

// One end of a transfer and everything its events reported.
struct TTransferEnd {
    std::unique_ptr<TVaComm> Port = std::make_unique<TVaComm>();
    std::unique_ptr<TVaXModem> Engine = std::make_unique<TVaXModem>();
    bool Started = false;
    bool Ended = false;
    int Result = 1;
    QString InfoName;
    qint64 InfoSize = -1;
    int InfoCount = 0;
    int LastPacket = 0;
    qint64 LastByteCount = 0;
    QList<QPair<int, int>> Errors; // code, count
    std::function<void(int packet)> AfterPacket;

    TTransferEnd() {
        Engine->SetComm(Port.get());
        Engine->OnTransferStart = [this](TVaProtocol*) { Started = true; };
        Engine->OnTransferEnd = [this](TVaProtocol*, int code) {
            Ended = true;
            Result = code;
        };
        Engine->OnError = [this](TVaProtocol*, int code, int count) {
            Errors.append({code, count});
        };
        Engine->OnFileInfo = [this](TVaXYModem*, const QString& name, qint64 size) {
            InfoName = name;
            InfoSize = size;
            ++InfoCount;
        };
        Engine->OnPacketEvent = [this](TVaXYModem*, int packet, qint64 bytes) {
            LastPacket = packet;
            LastByteCount = bytes;
            if (AfterPacket) AfterPacket(packet);
        };
    }
    // Opens the port on a device path at 115200 bit/s (pseudo-terminals ignore the speed).
    void Open(const QString& device) {
        Port->SetDeviceName(device);
        Port->SetBaudrate(br115200);
        Port->Open();
    }
    void Start(TVaTransferMode mode, TVaXProtocol protocol, const QString& file) {
        Engine->SetMode(mode);
        Engine->SetProtocol(protocol);
        Engine->SetFileName(file);
        Ended = false;
        Result = 1;
        Engine->Start();
    }
};

// An lrzsz program (sx, rx) with its standard input and output on a pseudo-terminal.
inline void StartLrzsz(QProcess& process, const QString& program, const QStringList& args,
                       const QString& device, const QString& folder) {
    process.setProgram(program);
    process.setArguments(args);
    process.setWorkingDirectory(folder);
    process.setStandardInputFile(device);
    process.setStandardOutputFile(device, QIODevice::Append);
    process.setStandardErrorFile(folder + "/" + program + ".log", QIODevice::Append);
    process.start();
}

// True when `received` is `sent` followed by fewer than `blockSize` padding bytes, each 0x00 or
// (lrzsz) 0x1A, and its length is a multiple of 128.
inline bool SameUpToPadding(const QByteArray& sent, const QByteArray& received, int blockSize) {
    if (!received.startsWith(sent)) return false;
    const QByteArray padding = received.mid(sent.size());
    if (padding.size() >= blockSize && !(sent.isEmpty() && padding.size() == blockSize))
        return false;
    for (char c : padding)
        if (c != '\0' && c != '\x1a') return false;
    return received.size() % 128 == 0;
}

} // namespace xmodem_test
