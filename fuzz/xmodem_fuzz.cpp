// The XMODEM engine, sending or receiving, against a peer that sends a scripted byte stream over
// a real pseudo-terminal. Whatever the peer sends, the transfer ends in bounded time with one of
// the engine's result codes, and a file received "successfully" holds whole blocks.
#include "serial/comm.h"
#include "serial/xmodem.h"
#include "serial/xmodem_codes.h"
#include "fuzz_support.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace {
// Short time-outs keep a run to milliseconds: the peer's stream is all there is.
constexpr int TimeoutMs = 25;
constexpr int MaxErrors = 3;
// Far longer than the engine may take once the stream has ended: MaxErrors time-outs, drains,
// and the repeated start characters in between.
constexpr int EndWithinMs = 20000;

struct Line {
    int master = -1;
    QString slave;
    Line() {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        FUZZ_CHECK(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0,
                   "no pseudo-terminal");
        slave = QString::fromLocal8Bit(ptsname(master));
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    }
    void drain() {
        char buffer[4096];
        while (::read(master, buffer, sizeof buffer) > 0) {
        }
    }
};

struct End {
    TVaComm port;
    TVaXModem engine;
    bool ended = false;
    int result = 1;
    explicit End(const QString& device) {
        engine.SetComm(&port);
        engine.OnTransferEnd = [this](TVaProtocol*, int code) {
            ended = true;
            result = code;
        };
        port.SetDeviceName(device);
        port.SetBaudrate(br115200);
        port.Open();
        engine.SetTimeout(TimeoutMs);
        engine.SetMaxErrors(MaxErrors);
    }
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    fuzz::App();
    static const QString home = fuzz::Home();
    static Line line;
    static End end(line.slave);

    const bool receive = data[0] & 1;
    const TVaXProtocol protocol = TVaXProtocol((data[0] >> 1) % 3);
    const QByteArray stream = fuzz::Bytes(data + 2, size - 2);

    const QString source = home + "source.bin";
    const QString target = home + "received.bin";
    QFile::remove(target);
    if (!receive) {
        // 0 to 3 KB: empty files, short last blocks and several blocks.
        QByteArray content((data[1] % 4) * 1000 + data[1] % 7, Qt::Uninitialized);
        for (qsizetype i = 0; i < content.size(); ++i)
            content[i] = char(i * 31 + data[1]);
        QFile file(source);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "source not written");
        file.write(content);
    }

    line.drain();
    end.ended = false;
    end.engine.SetMode(receive ? tmDownload : tmUpload);
    end.engine.SetProtocol(protocol);
    end.engine.SetFileName(receive ? target : source);
    end.engine.Start();

    // The peer's stream goes out as the line takes it; the engine's answers are read and dropped.
    qsizetype sent = 0;
    const bool ended = fuzz::RunUntil(
        [&] {
            line.drain();
            while (sent < stream.size()) {
                const ssize_t n = ::write(line.master, stream.constData() + sent,
                                          size_t(stream.size() - sent));
                if (n <= 0) break;
                sent += n;
            }
            return end.ended;
        },
        EndWithinMs + int(stream.size()));
    FUZZ_CHECK(ended, QString("the transfer did not end (receive %1, protocol %2, %3 bytes)")
                          .arg(receive)
                          .arg(int(protocol))
                          .arg(stream.size()));
    FUZZ_CHECK(end.result <= 0 && end.result >= trCommandSequenceError,
               "unknown result " + QString::number(end.result));
    if (receive && end.result == trSuccess)
        FUZZ_CHECK(QFileInfo(target).size() % 128 == 0, "a received file of part blocks");
    return 0;
}
