// Whole XMODEM transfers over linesim cables (real pseudo-terminals): our sender to our receiver
// in the three variants, both directions against lrzsz, a corrupting line, cancelling from
// either side, a silent line, a second Start and destruction in the middle of a transfer.
#include "common/test_home.h"
#include "xmodem_line_helpers.h"

#include "serial/xmodem_block.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace xmodem_test;

namespace {
constexpr int TransferLimitMs = 60000;

int BlockSizeOf(TVaXProtocol protocol) {
    return protocol == XModem ? 128 : 1024;
}

// What our receiver must produce: the data, padded with 0x00 to whole blocks (one block at least).
QByteArray Padded(const QByteArray& data, int blockSize) {
    const qsizetype blocks = std::max<qsizetype>(1, (data.size() + blockSize - 1) / blockSize);
    QByteArray padded = data;
    padded.append(blocks * blockSize - data.size(), '\0');
    return padded;
}
// The test itself as the peer: raw bytes on one end of the cable.
class TRawEnd {
public:
    TRawEnd() = default;
    explicit TRawEnd(const QString& device) { Open(device); }
    bool Open(const QString& device) {
        mFd = ::open(device.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
        termios t{};
        if (mFd >= 0 && tcgetattr(mFd, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(mFd, TCSANOW, &t);
        }
        return mFd >= 0;
    }
    ~TRawEnd() {
        if (mFd >= 0) ::close(mFd);
    }
    bool IsOpen() const { return mFd >= 0; }
    bool Write(const QByteArray& bytes) {
        return ::write(mFd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }
    // Reads exactly `count` bytes, processing events meanwhile; fewer when `ms` pass first.
    QByteArray Read(int count, int ms = 10000) {
        QByteArray bytes;
        RunUntil(
            [&] {
                pollfd p{mFd, POLLIN, 0};
                while (bytes.size() < count && ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) {
                    char buffer[2048];
                    const ssize_t n =
                        ::read(mFd, buffer,
                               size_t(std::min<qsizetype>(sizeof buffer, count - bytes.size())));
                    if (n <= 0) break;
                    bytes.append(buffer, n);
                }
                return bytes.size() >= count;
            },
            ms);
        return bytes;
    }

private:
    int mFd = -1;
};
} // namespace

class XModemTransferTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<TestHome> mHome;
    std::unique_ptr<TCable> mCable;

    // A fresh cable with the given line options; skips the test when linesim is missing.
    bool MakeCable(const QStringList& options = {}) {
        mCable = std::make_unique<TCable>();
        QString error;
        if (!mCable->Start(options, &error)) {
            qWarning("%s", qPrintable(error));
            return false;
        }
        return true;
    }

    // Our XMODEM-1K receiver on a new cable's end A, the test as the sender on end B: true once
    // the receiver has asked for the first block ('C').
    bool ReceiverAsksRawPeer(TTransferEnd& receiver, TRawEnd& peer) {
        if (!MakeCable()) return false;
        receiver.Open(mCable->A());
        if (!peer.Open(mCable->B())) return false;
        receiver.Start(tmDownload, XModem1K, mHome->file("in.bin"));
        return peer.Read(1) == QByteArray(1, 'C');
    }
    static bool HaveLrzsz() {
        return !QStandardPaths::findExecutable("sx").isEmpty() &&
               !QStandardPaths::findExecutable("rx").isEmpty();
    }

private Q_SLOTS:
    void init() {
        mHome = std::make_unique<TestHome>(1);
        mCable.reset();
    }
    void cleanup() {
        mCable.reset();
        mHome.reset();
    }

    void ownToOwn_data() {
        QTest::addColumn<int>("protocol");
        QTest::addColumn<int>("size");
        for (int protocol : {XModem, XModem1K, XModemG}) {
            const char* name = protocol == XModem ? "x" : protocol == XModem1K ? "1k" : "g";
            for (int size : {0, 1, 127, 128, 129, 1023, 1024, 1025, 300000})
                QTest::addRow("%s %d", name, size) << protocol << size;
        }
    }
    void ownToOwn() {
        QFETCH(int, protocol);
        QFETCH(int, size);
        QVERIFY(MakeCable());
        const QByteArray data = RandomBytes(size, quint32(size + 1));
        const QString source = mHome->file("out/data.bin");
        const QString target = mHome->file("in/data.bin");
        QVERIFY(WriteFile(source, data));
        QVERIFY(QDir().mkpath(mHome->file("in")));

        TTransferEnd sender, receiver;
        sender.Open(mCable->A());
        receiver.Open(mCable->B());
        // XModemG does not wait per block, and the receiver hands each block to the main thread
        // (OnPacketEvent) while one port delivery may carry several blocks: on an unpaced line the
        // queue must hold what the sender runs ahead.
        if (protocol == XModemG) receiver.Engine->SetBufferSize(1 << 20);
        sender.Start(tmUpload, XModem, source); // the sender follows the receiver's start
        receiver.Start(tmDownload, TVaXProtocol(protocol), target);
        QVERIFY(sender.Started && receiver.Started);
        QVERIFY(sender.Engine->InProgress());
        QVERIFY(RunUntil([&] { return sender.Ended && receiver.Ended; }, TransferLimitMs));
        QCOMPARE(receiver.Result, 0);
        QCOMPARE(sender.Result, 0);
        QVERIFY(!sender.Engine->InProgress());
        QVERIFY(!sender.Engine->Active());

        const int blockSize = BlockSizeOf(TVaXProtocol(protocol));
        QCOMPARE(ReadFile(target), Padded(data, blockSize));
        QCOMPARE(sender.InfoCount, 1);
        QCOMPARE(sender.InfoName, source);
        QCOMPARE(sender.InfoSize, qint64(size));
        QCOMPARE(receiver.InfoName, target);
        QCOMPARE(receiver.InfoSize, qint64(0));
        const int blocks = std::max(1, (size + blockSize - 1) / blockSize);
        QCOMPARE(sender.LastPacket, blocks);
        QCOMPARE(sender.LastByteCount, qint64(size));
        QCOMPARE(receiver.LastPacket, blocks);
        QCOMPARE(receiver.LastByteCount, qint64(blocks) * blockSize);
        QVERIFY(sender.Errors.isEmpty());
        QVERIFY(receiver.Errors.isEmpty());
    }

    // The port leaves bytes in the device while the transfer's queue is full, so the line's own
    // buffers hold the sender back: a queue smaller than a block, or a streaming sender on an
    // unpaced line, loses nothing.
    void fullQueueHoldsTheLineBack_data() {
        QTest::addColumn<int>("protocol");
        QTest::addColumn<int>("bufferSize");
        QTest::addColumn<int>("size");
        QTest::newRow("1k, 16-byte queue") << int(XModem1K) << 16 << 20000;
        QTest::newRow("g, default queue") << int(XModemG) << 4096 << 600000;
    }
    void fullQueueHoldsTheLineBack() {
        QFETCH(int, protocol);
        QFETCH(int, bufferSize);
        QFETCH(int, size);
        QVERIFY(MakeCable());
        const QByteArray data = RandomBytes(size, 6);
        const QString source = mHome->file("data.bin");
        QVERIFY(WriteFile(source, data));
        TTransferEnd sender, receiver;
        sender.Open(mCable->A());
        receiver.Open(mCable->B());
        receiver.Engine->SetBufferSize(bufferSize);
        // The receiver's main thread is slow to hand blocks on: the stream must wait for it.
        receiver.AfterPacket = [](int packet) {
            if (packet % 50 == 0) QThread::msleep(30);
        };
        sender.Start(tmUpload, XModem, source);
        receiver.Start(tmDownload, TVaXProtocol(protocol), mHome->file("in.bin"));
        QVERIFY(RunUntil([&] { return sender.Ended && receiver.Ended; }, TransferLimitMs));
        QCOMPARE(receiver.Result, 0);
        QCOMPARE(sender.Result, 0);
        QCOMPARE(ReadFile(mHome->file("in.bin")), Padded(data, 1024));
        QVERIFY(receiver.Errors.isEmpty());
    }

    void senderBytesOnTheLine() {
        QVERIFY(MakeCable());
        const QByteArray data = RandomBytes(1500, 21);
        const QString source = mHome->file("data.bin");
        QVERIFY(WriteFile(source, data));
        TTransferEnd sender;
        sender.Open(mCable->A());
        TRawEnd peer(mCable->B());
        QVERIFY(peer.IsOpen());
        sender.Start(tmUpload, XModem, source);
        QVERIFY(peer.Write("C"));
        const QByteArray first = xmodem::EncodeBlock(data.left(1024), 1, true, true);
        QCOMPARE(peer.Read(first.size()), first);
        // A NAK is a counted error and brings the same block again.
        QVERIFY(peer.Write(QByteArray(1, char(xmodem::NAK))));
        QCOMPARE(peer.Read(first.size()), first);
        QVERIFY(peer.Write(QByteArray(1, char(xmodem::ACK))));
        const QByteArray second = xmodem::EncodeBlock(data.mid(1024), 2, true, true);
        QCOMPARE(peer.Read(second.size()), second);
        QVERIFY(peer.Write(QByteArray(1, char(xmodem::ACK))));
        QCOMPARE(peer.Read(1), QByteArray(1, char(xmodem::EOT)));
        QVERIFY(peer.Write(QByteArray(1, char(xmodem::ACK))));
        QVERIFY(RunUntil([&] { return sender.Ended; }, TransferLimitMs));
        QCOMPARE(sender.Result, 0);
        const QList<QPair<int, int>> errors{{-15, 1}};
        QCOMPARE(sender.Errors, errors);
    }

    void receiverRefusesBadSequence_data() {
        QTest::addColumn<int>("protocol");
        QTest::newRow("1k block skipped") << int(XModem1K);
        QTest::newRow("g block with bad crc") << int(XModemG);
    }
    void receiverRefusesBadSequence() {
        QFETCH(int, protocol);
        const bool streaming = protocol == XModemG;
        QVERIFY(MakeCable());
        TTransferEnd receiver;
        receiver.Open(mCable->A());
        TRawEnd peer(mCable->B());
        QVERIFY(peer.IsOpen());
        receiver.Start(tmDownload, TVaXProtocol(protocol), mHome->file("in.bin"));
        QCOMPARE(peer.Read(1), QByteArray(1, streaming ? 'G' : 'C'));
        const QByteArray block1 = xmodem::EncodeBlock("one", 1, true, true);
        QByteArray damaged = block1;
        damaged[10] = char(damaged[10] ^ 1);
        // XMODEM-1K: block 1, then block 3; XModemG: a damaged block 1 that the receiver answers
        // with NAK while the sender goes on with block 2. Either way a block is missing.
        QVERIFY(peer.Write(streaming ? damaged : block1));
        QCOMPARE(peer.Read(1), QByteArray(1, char(streaming ? xmodem::NAK : xmodem::ACK)));
        QVERIFY(peer.Write(xmodem::EncodeBlock("three", streaming ? 2 : 3, true, true)));
        QVERIFY(RunUntil([&] { return receiver.Ended; }, TransferLimitMs));
        QCOMPARE(receiver.Result, -5);
        QCOMPARE(peer.Read(2), QByteArray(2, char(xmodem::CAN)));
    }

    // What a noisy line does to a block, and the receiver's answer: it waits for the line to be
    // quiet and asks for the block again (NAK), or acknowledges a copy it already has.
    void receiverRecovers_data() {
        QTest::addColumn<QByteArray>("arriving");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("error"); // the code reported, 0 for none
        const QByteArray block1 = xmodem::EncodeBlock("one", 1, true, true);
        QByteArray damaged = block1;
        damaged[700] = char(damaged[700] ^ 0x40);
        QByteArray badComplement = block1;
        badComplement[2] = char(badComplement[2] ^ 1);
        QTest::newRow("damaged data") << damaged << int(xmodem::NAK) << -15;
        QTest::newRow("damaged header")
            << (QByteArray(1, '\x7f') + block1.mid(1)) << int(xmodem::NAK) << -16;
        QTest::newRow("damaged block number") << badComplement << int(xmodem::NAK) << -15;
        QTest::newRow("bytes lost") << block1.left(600) << int(xmodem::NAK) << -1;
        QTest::newRow("a single CAN")
            << QByteArray(1, char(xmodem::CAN)) << int(xmodem::NAK) << -16;
        QTest::newRow("a NUL") << QByteArray(1, '\0') << int(xmodem::NAK) << -16;
    }
    void receiverRecovers() {
        QFETCH(QByteArray, arriving);
        QFETCH(int, answer);
        QFETCH(int, error);
        TTransferEnd receiver;
        TRawEnd peer;
        QVERIFY(ReceiverAsksRawPeer(receiver, peer));
        const QByteArray block1 = xmodem::EncodeBlock("one", 1, true, true);
        const QByteArray block2 = xmodem::EncodeBlock("two", 2, true, true);
        QVERIFY(peer.Write(block1));
        QCOMPARE(peer.Read(1), QByteArray(1, char(xmodem::ACK)));
        QVERIFY(peer.Write(arriving));
        QCOMPARE(peer.Read(1, 5000), QByteArray(1, char(answer)));
        // The same block again after its ACK was lost: acknowledged, and not written twice.
        QVERIFY(peer.Write(block1));
        QCOMPARE(peer.Read(1), QByteArray(1, char(xmodem::ACK)));
        QVERIFY(peer.Write(block2));
        QCOMPARE(peer.Read(1), QByteArray(1, char(xmodem::ACK)));
        QVERIFY(peer.Write(QByteArray(1, char(xmodem::EOT))));
        QCOMPARE(peer.Read(1), QByteArray(1, char(xmodem::ACK)));
        QVERIFY(RunUntil([&] { return receiver.Ended; }, TransferLimitMs));
        QCOMPARE(receiver.Result, 0);
        QCOMPARE(ReadFile(mHome->file("in.bin")), Padded("one", 1024) + Padded("two", 1024));
        QCOMPARE(receiver.Errors, (QList<QPair<int, int>>{{error, 1}}));
    }

    // What a noisy line does to the answers, and the sender's reaction: it sends the block
    // again once the line is quiet; answers queued before a block are not taken for its answer.
    void senderRecovers_data() {
        QTest::addColumn<QByteArray>("answer"); // to block 1, before the ACK that passes it
        QTest::addColumn<int>("error");
        QTest::newRow("damaged answer") << QByteArray("\x55") << -16;
        QTest::newRow("no answer") << QByteArray() << -1;
        QTest::newRow("a single CAN") << QByteArray(1, char(xmodem::CAN)) << -16;
        QTest::newRow("NAK") << QByteArray(1, char(xmodem::NAK)) << -15;
    }
    void senderRecovers() {
        QFETCH(QByteArray, answer);
        QFETCH(int, error);
        QVERIFY(MakeCable());
        const QByteArray data = RandomBytes(1500, 22);
        const QString source = mHome->file("data.bin");
        QVERIFY(WriteFile(source, data));
        TTransferEnd sender;
        sender.Open(mCable->A());
        sender.Engine->SetTimeout(1500);
        TRawEnd peer(mCable->B());
        QVERIFY(peer.IsOpen());
        sender.Start(tmUpload, XModem, source);
        // A receiver that repeated its start character: the extra ones are stale by the time
        // block 1 has gone out.
        QVERIFY(peer.Write("CCC"));
        const QByteArray first = xmodem::EncodeBlock(data.left(1024), 1, true, true);
        const QByteArray second = xmodem::EncodeBlock(data.mid(1024), 2, true, true);
        QCOMPARE(peer.Read(first.size()), first);
        if (!answer.isEmpty()) QVERIFY(peer.Write(answer));
        QCOMPARE(peer.Read(first.size(), 5000), first);
        QVERIFY(peer.Write(QByteArray(1, char(xmodem::ACK))));
        QCOMPARE(peer.Read(second.size()), second);
        QVERIFY(peer.Write(QByteArray(1, char(xmodem::ACK))));
        // The answer to EOT is lost: EOT comes again.
        QCOMPARE(peer.Read(1), QByteArray(1, char(xmodem::EOT)));
        QCOMPARE(peer.Read(1, 5000), QByteArray(1, char(xmodem::EOT)));
        QVERIFY(peer.Write(QByteArray(1, char(xmodem::ACK))));
        QVERIFY(RunUntil([&] { return sender.Ended; }, TransferLimitMs));
        QCOMPARE(sender.Result, 0);
        QCOMPARE(sender.Errors, (QList<QPair<int, int>>{{error, 1}, {-1, 2}}));
    }

    // MaxErrors bounds the errors in a row; a long transfer on a noisy line may have more in all.
    void errorLimitCountsErrorsInARow() {
        QVERIFY(MakeCable());
        const QByteArray data = RandomBytes(3000, 23);
        const QString source = mHome->file("data.bin");
        QVERIFY(WriteFile(source, data));
        TTransferEnd sender;
        sender.Open(mCable->A());
        sender.Engine->SetMaxErrors(3);
        TRawEnd peer(mCable->B());
        QVERIFY(peer.IsOpen());
        sender.Start(tmUpload, XModem, source);
        QVERIFY(peer.Write("C"));
        for (int block = 1; block <= 2; ++block) {
            const QByteArray bytes =
                xmodem::EncodeBlock(data.mid((block - 1) * 1024, 1024), block, true, true);
            for (int nak = 0; nak < 2; ++nak) {
                QCOMPARE(peer.Read(bytes.size()), bytes);
                QVERIFY(peer.Write(QByteArray(1, char(xmodem::NAK))));
            }
            QCOMPARE(peer.Read(bytes.size()), bytes);
            QVERIFY(peer.Write(QByteArray(1, char(xmodem::ACK))));
        }
        // Block 3 refused three times in a row: the limit.
        const QByteArray third = xmodem::EncodeBlock(data.mid(2048), 3, true, true);
        for (int nak = 0; nak < 3; ++nak) {
            QCOMPARE(peer.Read(third.size()), third);
            QVERIFY(peer.Write(QByteArray(1, char(xmodem::NAK))));
        }
        QVERIFY(RunUntil([&] { return sender.Ended; }, TransferLimitMs));
        QCOMPARE(sender.Result, -9);
        QCOMPARE(peer.Read(2), QByteArray(2, char(xmodem::CAN)));
        QCOMPARE(sender.Errors.size(), 6); // reported below the limit: 2 + 2 + 2
        QCOMPARE(sender.Errors.last(), qMakePair(-15, 6));
    }

    void noErrorLimitAndCancelWhileWaiting() {
        QVERIFY(MakeCable());
        TTransferEnd end;
        end.Open(mCable->A());
        end.Engine->SetTimeout(20);
        end.Engine->SetMaxErrors(0);
        end.Start(tmDownload, XModem1K, mHome->file("in.bin"));
        QVERIFY(RunUntil([&] { return end.Errors.size() >= 12; }, 10000));
        QVERIFY(!end.Ended);
        end.Engine->Cancel();
        QVERIFY(RunUntil([&] { return end.Ended; }, 10000));
        QCOMPARE(end.Result, -3);
    }

    void existingFileGetsFreeName() {
        QVERIFY(MakeCable());
        const QString source = mHome->file("report.txt");
        QVERIFY(WriteFile(source, "new"));
        QVERIFY(WriteFile(mHome->file("in/report.txt"), "old"));
        TTransferEnd sender, receiver;
        sender.Open(mCable->A());
        receiver.Open(mCable->B());
        sender.Start(tmUpload, XModem, source);
        receiver.Start(tmDownload, XModem1K, mHome->file("in/report.txt"));
        QVERIFY(RunUntil([&] { return sender.Ended && receiver.Ended; }, TransferLimitMs));
        QCOMPARE(receiver.Result, 0);
        QCOMPARE(receiver.InfoName, mHome->file("in/report-1.txt"));
        QCOMPARE(ReadFile(mHome->file("in/report.txt")), QByteArray("old"));
        QCOMPARE(ReadFile(mHome->file("in/report-1.txt")), Padded("new", 1024));
    }

    void readOnlySourceIsSent() {
        QVERIFY(MakeCable());
        const QString source = mHome->file("ro.bin");
        const QByteArray data = RandomBytes(3000, 5);
        QVERIFY(WriteFile(source, data));
        QVERIFY(QFile::setPermissions(source, QFile::ReadOwner));
        TTransferEnd sender, receiver;
        sender.Open(mCable->A());
        receiver.Open(mCable->B());
        sender.Start(tmUpload, XModem, source);
        receiver.Start(tmDownload, XModem1K, mHome->file("ro-in.bin"));
        QVERIFY(RunUntil([&] { return sender.Ended && receiver.Ended; }, TransferLimitMs));
        QCOMPARE(sender.Result, 0);
        QCOMPARE(ReadFile(mHome->file("ro-in.bin")), Padded(data, 1024));
    }

    void fileErrors() {
        QVERIFY(MakeCable());
        TTransferEnd sender, receiver;
        sender.Open(mCable->A());
        receiver.Open(mCable->B());
        sender.Engine->SetTimeout(1000);
        receiver.Engine->SetTimeout(1000);
        // A missing source: CAN CAN to the peer and -12; the waiting receiver sees the CAN.
        receiver.Start(tmDownload, XModem1K, mHome->file("in.bin"));
        sender.Start(tmUpload, XModem, mHome->file("missing.bin"));
        QVERIFY(RunUntil([&] { return sender.Ended && receiver.Ended; }, TransferLimitMs));
        QCOMPARE(sender.Result, -12);
        QCOMPARE(receiver.Result, -4);
        QCOMPARE(sender.InfoCount, 0);
        // A target that cannot be created: -11.
        receiver.Start(tmDownload, XModem1K, mHome->file("no/such/folder/in.bin"));
        QVERIFY(RunUntil([&] { return receiver.Ended; }, TransferLimitMs));
        QCOMPARE(receiver.Result, -11);
    }

    void lrzszInterop_data() {
        QTest::addColumn<QString>("direction");
        QTest::addColumn<int>("protocol");
        QTest::addColumn<int>("size");
        for (int size : {0, 1, 127, 128, 129, 1023, 1024, 1025, 200000}) {
            QTest::addRow("ours 1k to rx -c, %d", size) << "send" << int(XModem1K) << size;
            QTest::addRow("sx -k to ours 1k, %d", size) << "receive" << int(XModem1K) << size;
        }
        for (int size : {1, 129, 1025, 40000}) {
            QTest::addRow("sx to ours x, %d", size) << "receive" << int(XModem) << size;
            QTest::addRow("ours x to rx, %d", size) << "send" << int(XModem) << size;
        }
    }
    void lrzszInterop() {
        QFETCH(QString, direction);
        QFETCH(int, protocol);
        QFETCH(int, size);
        if (!HaveLrzsz()) QSKIP("lrzsz (sx, rx) is not installed");
        QVERIFY(MakeCable());
        const QByteArray data = RandomBytes(size, quint32(size + 11));
        QVERIFY(QDir().mkpath(mHome->file("peer")));
        const QString peerFolder = mHome->file("peer/");
        TTransferEnd ours;
        ours.Open(mCable->A());
        QProcess peer;
        const auto peerDone = [&] { return peer.state() == QProcess::NotRunning; };
        if (direction == "send") {
            const QString source = mHome->file("data.bin");
            QVERIFY(WriteFile(source, data));
            // rx drains and then flushes its terminal's queues as it exits; on a pseudo-terminal
            // the drain does not wait for the other side, so its ACK of our EOT can be thrown
            // away. Our sender then resends EOT to nobody and gives up by its error limit. The
            // limit still leaves room for ACKs that come late on a loaded machine.
            ours.Engine->SetTimeout(3000);
            ours.Engine->SetMaxErrors(3);
            ours.Start(tmUpload, XModem, source);
            StartLrzsz(peer, "rx",
                       protocol == XModem1K ? QStringList{"-c", "data.bin"}
                                            : QStringList{"data.bin"},
                       mCable->B(), peerFolder);
            QVERIFY(RunUntil([&] { return ours.Ended && peerDone(); }, TransferLimitMs));
            QCOMPARE(peer.exitCode(), 0);
            const int blockSize = BlockSizeOf(TVaXProtocol(protocol));
            QCOMPARE(ReadFile(peerFolder + "data.bin"), Padded(data, blockSize));
            QCOMPARE(ours.LastPacket, std::max(1, (size + blockSize - 1) / blockSize));
            if (ours.Result != 0) {
                QCOMPARE(ours.Result, -9);
                for (const auto& error : ours.Errors)
                    QCOMPARE(error.first, -1);
            }
        } else {
            QVERIFY(WriteFile(peerFolder + "data.bin", data));
            StartLrzsz(peer, "sx",
                       protocol == XModem1K ? QStringList{"-k", "data.bin"}
                                            : QStringList{"data.bin"},
                       mCable->B(), peerFolder);
            QVERIFY(peer.waitForStarted());
            QTest::qWait(100); // sx is waiting for the start character
            const QString target = mHome->file("in.bin");
            ours.Start(tmDownload, TVaXProtocol(protocol), target);
            QVERIFY(RunUntil([&] { return ours.Ended && peerDone(); }, TransferLimitMs));
            QCOMPARE(ours.Result, 0);
            QCOMPARE(peer.exitCode(), 0);
            QVERIFY(SameUpToPadding(data, ReadFile(target), BlockSizeOf(TVaXProtocol(protocol))));
        }
    }

    // Debian's python3-xmodem at the other end: its sender's blocks, on a line that loses bytes
    // of them, are asked for again at once; its receiver takes ours.
    void pythonPeer_data() {
        QTest::addColumn<QString>("direction");
        QTest::addColumn<QString>("dropAt");
        QTest::newRow("python sends 1k, bytes lost") << "receive"
                                                     << "ab:2000,7000";
        QTest::newRow("python receives") << "send"
                                         << "";
    }
    void pythonPeer() {
        QFETCH(QString, direction);
        QFETCH(QString, dropAt);
        const QString python = QStringLiteral("/usr/bin/python3");
        if (QProcess::execute(python, {"-c", "import xmodem"}) != 0)
            QSKIP("python3-xmodem is not installed");
        QVERIFY(MakeCable(dropAt.isEmpty() ? QStringList{} : QStringList{"--drop-at", dropAt}));
        const QByteArray data = RandomBytes(10000, 31);
        const bool peerSends = direction == "receive";
        const QString peerFile = mHome->file("peer.bin");
        if (peerSends) QVERIFY(WriteFile(peerFile, data));
        // The peer on end A, raw, with the library's own getc/putc over the terminal.
        const QString script = QStringLiteral(R"(
import os, select, sys, time, tty, xmodem
fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY)
tty.setraw(fd)
def getc(size, timeout=1):
    data, end = b'', time.time() + timeout
    while len(data) < size:
        ready = select.select([fd], [], [], max(0, end - time.time()))[0]
        if not ready:
            return data or None
        data += os.read(fd, size - len(data))
    return data
def putc(data, timeout=1):
    return os.write(fd, data)
if sys.argv[2] == 'send':
    with open(sys.argv[3], 'rb') as f:
        ok = xmodem.XMODEM(getc, putc, mode='xmodem1k').send(f, quiet=True)
else:
    with open(sys.argv[3], 'wb') as f:
        ok = xmodem.XMODEM(getc, putc).recv(f, crc_mode=1, quiet=True)
time.sleep(0.2)
sys.exit(0 if ok else 1)
)");
        QProcess peer;
        peer.setProcessChannelMode(QProcess::ForwardedChannels);
        peer.start(python, {"-c", script, mCable->A(), peerSends ? "send" : "recv", peerFile});
        QVERIFY(peer.waitForStarted());
        TTransferEnd ours;
        ours.Open(mCable->B());
        const QString ourFile = mHome->file("ours.bin");
        if (peerSends) {
            ours.Start(tmDownload, XModem1K, ourFile);
        } else {
            QVERIFY(WriteFile(ourFile, data));
            ours.Start(tmUpload, XModem, ourFile);
        }
        QVERIFY(RunUntil([&] { return ours.Ended && peer.state() == QProcess::NotRunning; },
                         TransferLimitMs));
        QCOMPARE(ours.Result, 0);
        QCOMPARE(peer.exitCode(), 0);
        QVERIFY(SameUpToPadding(data, ReadFile(peerSends ? ourFile : peerFile), 1024));
        // Each loss was mended by its block sent again.
        QCOMPARE(ours.Errors.size(), dropAt.isEmpty() ? 0 : 2);
    }

    void corruptedLineRecovers_data() {
        QTest::addColumn<int>("protocol");
        QTest::addColumn<QString>("corruptAt");
        // Offsets count the bytes the sender wrote: block n of 1029 bytes starts at (n-1)*1029.
        QTest::newRow("1k data and crc") << int(XModem1K) << "ab:500,1034,3000,3086";
        QTest::newRow("x checksum") << int(XModem) << "ab:10,131,400";
    }
    void corruptedLineRecovers() {
        QFETCH(int, protocol);
        QFETCH(QString, corruptAt);
        QVERIFY(MakeCable({"--corrupt-at", corruptAt}));
        const QByteArray data = RandomBytes(5000, 99);
        const QString source = mHome->file("data.bin");
        QVERIFY(WriteFile(source, data));
        TTransferEnd sender, receiver;
        sender.Open(mCable->A());
        receiver.Open(mCable->B());
        sender.Start(tmUpload, XModem, source);
        receiver.Start(tmDownload, TVaXProtocol(protocol), mHome->file("in.bin"));
        QVERIFY(RunUntil([&] { return sender.Ended && receiver.Ended; }, TransferLimitMs));
        QCOMPARE(sender.Result, 0);
        QCOMPARE(receiver.Result, 0);
        QCOMPARE(ReadFile(mHome->file("in.bin")),
                 Padded(data, BlockSizeOf(TVaXProtocol(protocol))));
        // Every corrupted block was refused (receiver -15) and resent after a NAK (sender -15).
        QVERIFY(!receiver.Errors.isEmpty());
        QCOMPARE(receiver.Errors.size(), sender.Errors.size());
        for (const auto& error : receiver.Errors)
            QCOMPARE(error.first, -15);
        QCOMPARE(receiver.Errors.last().second, receiver.Errors.size());
    }

    // Bytes lost inside blocks on a line paced at 115200 bit/s: each block is asked for again
    // once the line has been quiet for the line's own gap (53 ms here), so eight losses cost
    // block times, not the eight seconds a fixed one-second wait cost.
    void droppedBytesCostBlockTimes() {
        const QByteArray data = RandomBytes(20 * 1024, 77);
        const QString source = mHome->file("data.bin");
        QVERIFY(WriteFile(source, data));
        // The same transfer on a clean cable and on one that loses eight bytes, each in the
        // middle of a block (offsets of the sender's bytes, 1029 per block and per copy): the
        // clean run measures what this machine makes of the line now.
        qint64 ms[2] = {0, 0};
        for (int lossy = 0; lossy < 2; ++lossy) {
            QStringList options{"--baud", "115200"};
            if (lossy)
                options << "--drop-at"
                        << "ab:500,3000,6000,9000,12000,15000,18000,21000";
            QVERIFY(MakeCable(options));
            TTransferEnd sender, receiver;
            sender.Open(mCable->A());
            receiver.Open(mCable->B());
            QElapsedTimer clock;
            clock.start();
            sender.Start(tmUpload, XModem, source);
            receiver.Start(tmDownload, XModem1K, mHome->file("in.bin"));
            QVERIFY(RunUntil([&] { return sender.Ended && receiver.Ended; }, TransferLimitMs));
            ms[lossy] = clock.elapsed();
            QCOMPARE(receiver.Result, 0);
            QCOMPARE(sender.Result, 0);
            QCOMPARE(ReadFile(mHome->file("in.bin")), Padded(data, 1024));
            QVERIFY(QFile::remove(mHome->file("in.bin")));
            if (!lossy) continue;
            // One time-out or stray byte and one NAK per lost byte at least, each answered by
            // the block sent again. (A loaded machine can hold linesim's pacing back past the
            // quiet gap: a block asked for too early is sent once more, which costs time, not
            // data.)
            QVERIFY(receiver.Errors.size() >= 8);
            for (const auto& error : receiver.Errors)
                QVERIFY(error.first == -1 || error.first == -16);
            QCOMPARE(sender.Errors.size(), receiver.Errors.size());
        }
        // Each loss adds its quiet gap, a NAK's turnaround and the block again (about 150 ms),
        // where a one-second wait added over 1.1 s.
        QVERIFY2(ms[1] - ms[0] < 8 * 600,
                 qPrintable(QString("%1 ms clean, %2 ms with losses").arg(ms[0]).arg(ms[1])));
    }

    // A peer that writes each block in pieces 20 ms apart (a slow program, a loaded machine)
    // is not taken for one that lost bytes: every block is acknowledged at the first try.
    void slowPeerIsNotRejected() {
        TTransferEnd receiver;
        TRawEnd peer;
        QVERIFY(ReceiverAsksRawPeer(receiver, peer));
        QByteArray sent;
        QElapsedTimer gap;
        qint64 longestGap = 0;
        for (int counter = 1; counter <= 3; ++counter) {
            const QByteArray data = RandomBytes(1024, quint32(counter));
            const QByteArray block = xmodem::EncodeBlock(data, counter, true, true);
            for (qsizetype at = 0; at < block.size(); at += 129) {
                if (gap.isValid()) longestGap = std::max(longestGap, gap.elapsed());
                QVERIFY(peer.Write(block.mid(at, 129)));
                gap.start();
                QTest::qWait(20);
            }
            gap.invalidate();
            const QByteArray answer = peer.Read(1, 5000);
            // A machine too busy to keep its own pieces within the allowance proves nothing.
            if (answer != QByteArray(1, char(xmodem::ACK)) && longestGap >= 45)
                QSKIP("the pieces could not be kept 20 ms apart on this machine");
            QCOMPARE(answer, QByteArray(1, char(xmodem::ACK)));
            sent += data;
        }
        QVERIFY(peer.Write(QByteArray(1, char(xmodem::EOT))));
        QCOMPARE(peer.Read(1), QByteArray(1, char(xmodem::ACK)));
        QVERIFY(RunUntil([&] { return receiver.Ended; }, TransferLimitMs));
        QCOMPARE(receiver.Result, 0);
        QCOMPARE(ReadFile(mHome->file("in.bin")), sent);
        QVERIFY(receiver.Errors.isEmpty());
    }

    // A block that stalls past the quiet gap is asked for again, once, however long its rest
    // stalls; the rest, coming after all, makes the gap grow once for that NAK, however many
    // false headers it holds. Had each false header doubled it, the gap would be the whole
    // second, and the next lost byte would wait that long for its NAK.
    void stalledBlockRaisesTheGapOnce() {
        TTransferEnd receiver;
        TRawEnd peer;
        QVERIFY(ReceiverAsksRawPeer(receiver, peer));
        const auto answerSkippingNaks = [&] {
            QByteArray answer = peer.Read(1, 5000);
            while (answer == QByteArray(1, char(xmodem::NAK)))
                answer = peer.Read(1, 5000);
            return answer;
        };
        const QByteArray first = RandomBytes(1024, 5);
        const QByteArray block1 = xmodem::EncodeBlock(first, 1, true, true);
        // Its rest holds six headers whose numbers do not match their complements.
        QByteArray rest = block1.mid(600);
        for (int at = 0; at < 6; ++at)
            rest.replace(40 + 60 * at, 3, QByteArray("\x02\x05\x05", 3));
        QVERIFY(peer.Write(block1.left(600)));
        QCOMPARE(peer.Read(1, 5000), QByteArray(1, char(xmodem::NAK)));
        // The rest stalls once more, for longer than the grown gap, before the copy: one NAK
        // asked for one copy, and a second would have the sender send two.
        QVERIFY(peer.Write(rest.left(200)));
        QTest::qWait(250);
        QVERIFY(peer.Write(rest.mid(200) + block1));
        QCOMPARE(peer.Read(1, 5000), QByteArray(1, char(xmodem::ACK)));
        // The next block loses its last byte: the NAK comes after the grown gap (106 ms at
        // this port's 115200 bit/s), far from the second.
        const QByteArray second = RandomBytes(1024, 6);
        const QByteArray block2 = xmodem::EncodeBlock(second, 2, true, true);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(peer.Write(block2.left(block2.size() - 1)));
        QCOMPARE(peer.Read(1, 5000), QByteArray(1, char(xmodem::NAK)));
        QVERIFY2(clock.elapsed() < 600, qPrintable(QString::number(clock.elapsed()) + " ms"));
        QVERIFY(peer.Write(block2));
        QCOMPARE(answerSkippingNaks(), QByteArray(1, char(xmodem::ACK)));
        QVERIFY(peer.Write(QByteArray(1, char(xmodem::EOT))));
        QCOMPARE(peer.Read(1), QByteArray(1, char(xmodem::ACK)));
        QVERIFY(RunUntil([&] { return receiver.Ended; }, TransferLimitMs));
        QCOMPARE(receiver.Result, 0);
        QCOMPARE(ReadFile(mHome->file("in.bin")), first + second);
    }

    void cancelBothWays_data() {
        QTest::addColumn<bool>("cancelSender");
        QTest::newRow("sender cancels") << true;
        QTest::newRow("receiver cancels") << false;
    }
    void cancelBothWays() {
        QFETCH(bool, cancelSender);
        // Paced so that the transfer is still running when it is cancelled.
        QVERIFY(MakeCable({"--baud", "115200"}));
        const QString source = mHome->file("data.bin");
        QVERIFY(WriteFile(source, RandomBytes(200000, 3)));
        TTransferEnd sender, receiver;
        sender.Open(mCable->A());
        receiver.Open(mCable->B());
        TTransferEnd& canceller = cancelSender ? sender : receiver;
        canceller.AfterPacket = [&](int packet) {
            if (packet == 3) canceller.Engine->Cancel();
        };
        sender.Start(tmUpload, XModem, source);
        receiver.Start(tmDownload, XModem1K, mHome->file("in.bin"));
        QVERIFY(RunUntil([&] { return sender.Ended && receiver.Ended; }, TransferLimitMs));
        TTransferEnd& peer = cancelSender ? receiver : sender;
        QCOMPARE(canceller.Result, -3);
        QCOMPARE(peer.Result, -4);
        QVERIFY(canceller.LastPacket <= 4);
    }

    void silentLine_data() {
        QTest::addColumn<int>("mode");
        QTest::newRow("receiver") << int(tmDownload);
        QTest::newRow("sender") << int(tmUpload);
    }
    void silentLine() {
        QFETCH(int, mode);
        QVERIFY(MakeCable());
        const QString file = mHome->file("data.bin");
        QVERIFY(WriteFile(file, "abc"));
        TTransferEnd end;
        end.Open(mCable->A());
        end.Engine->SetTimeout(50);
        end.Engine->SetMaxErrors(4);
        QElapsedTimer clock;
        clock.start();
        end.Start(TVaTransferMode(mode), XModem1K,
                  mode == tmDownload ? mHome->file("in.bin") : file);
        QVERIFY(RunUntil([&] { return end.Ended; }, 10000));
        QCOMPARE(end.Result, -9);
        QVERIFY(clock.elapsed() >= 4 * 50 - 10);
        // Three reported time-outs below the limit; the fourth ends the transfer.
        const QList<QPair<int, int>> expected{{-1, 1}, {-1, 2}, {-1, 3}};
        QCOMPARE(end.Errors, expected);
    }

    void receiverRepeatsStartUntilSenderComes() {
        QVERIFY(MakeCable());
        const QString source = mHome->file("data.bin");
        QVERIFY(WriteFile(source, RandomBytes(2000, 8)));
        TTransferEnd sender, receiver;
        sender.Open(mCable->A());
        receiver.Open(mCable->B());
        receiver.Engine->SetTimeout(300);
        receiver.Start(tmDownload, XModem1K, mHome->file("in.bin"));
        // The sender starts late and purges its line: the first 'C' is lost.
        QTest::qWait(50);
        sender.Start(tmUpload, XModem, source);
        QVERIFY(RunUntil([&] { return sender.Ended && receiver.Ended; }, TransferLimitMs));
        QCOMPARE(receiver.Result, 0);
        QCOMPARE(sender.Result, 0);
        QVERIFY(!receiver.Errors.isEmpty());
        QCOMPARE(receiver.Errors.first().first, -1);
    }

    void secondStartIsRefused() {
        QVERIFY(MakeCable());
        TTransferEnd end;
        end.Open(mCable->A());
        end.Engine->SetTimeout(100);
        end.Engine->SetMaxErrors(3);
        end.Start(tmDownload, XModem1K, mHome->file("in.bin"));
        bool raised = false;
        try {
            end.Engine->SetFileName(mHome->file("other.bin"));
            end.Engine->Start();
        } catch (const std::runtime_error& error) {
            raised = QString::fromLatin1(error.what()) == "Transfer already in progress...";
        }
        QVERIFY(raised);
        QVERIFY(end.Engine->InProgress());
        QVERIFY(RunUntil([&] { return end.Ended; }, 10000));
        QCOMPARE(end.Result, -9);
        QVERIFY(QFile::exists(mHome->file("in.bin")));
        QVERIFY(!QFile::exists(mHome->file("other.bin")));
        // And the component runs the next transfer afterwards.
        end.Start(tmDownload, XModem1K, mHome->file("other.bin"));
        QVERIFY(RunUntil([&] { return end.Ended; }, 10000));
        QCOMPARE(end.Result, -9);
    }

    void destroyMidTransfer_data() {
        QTest::addColumn<bool>("fromHandler");
        QTest::newRow("from the main loop") << false;
        QTest::newRow("from OnPacketEvent") << true;
    }
    void destroyMidTransfer() {
        QFETCH(bool, fromHandler);
        QVERIFY(MakeCable({"--baud", "230400"}));
        const QString source = mHome->file("data.bin");
        QVERIFY(WriteFile(source, RandomBytes(100000, 4)));
        TTransferEnd sender, receiver;
        sender.Open(mCable->A());
        receiver.Open(mCable->B());
        bool destroyed = false;
        receiver.AfterPacket = [&](int packet) {
            if (fromHandler && packet == 2) {
                // Destroys the component while its worker waits for this very handler (nothing
                // of the component is touched after the handler returns).
                receiver.Engine.reset();
                destroyed = true;
            }
        };
        sender.Engine->SetTimeout(2000);
        sender.Engine->SetMaxErrors(2);
        sender.Start(tmUpload, XModem, source);
        receiver.Start(tmDownload, XModem1K, mHome->file("in.bin"));
        if (!fromHandler) {
            QVERIFY(RunUntil([&] { return receiver.LastPacket >= 2; }, TransferLimitMs));
            receiver.Engine.reset();
            destroyed = true;
        }
        QVERIFY(RunUntil([&] { return destroyed; }, TransferLimitMs));
        QVERIFY(!receiver.Ended); // no OnTransferEnd from a destroyed component
        // The sender, left without replies, gives up by its error limit.
        QVERIFY(RunUntil([&] { return sender.Ended; }, TransferLimitMs));
        QCOMPARE(sender.Result, -9);
    }

    void destroyPortFirst() {
        QVERIFY(MakeCable());
        TTransferEnd end;
        end.Open(mCable->A());
        end.Engine->SetTimeout(100);
        end.Start(tmDownload, XModem1K, mHome->file("in.bin"));
        end.Port.reset(); // the engine loses its port mid-transfer
        QVERIFY(RunUntil([&] { return end.Ended; }, 10000));
        // Repeating its start character after the first time-out finds no port.
        QCOMPARE(end.Result, -2);
    }
};

QTEST_GUILESS_MAIN(XModemTransferTest)
#include "xmodem_transfer_test.moc"
