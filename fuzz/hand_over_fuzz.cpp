// The hand-over from a second start: bytes arriving on the instance's local socket, in pieces,
// from a sender that may stop at any point. Every connection gives exactly one message; a whole
// one gives what its header announces (cut to 499 characters); the wire form of any text decodes
// to that text.
#include "platform/instance.h"
#include "fuzz_support.h"

#include <QLocalSocket>
#include <QtEndian>
#include <fuzzer/FuzzedDataProvider.h>

namespace {
struct Received {
    int count = 0;
    quint32 message = 0, wParam = 0;
    QString text;
    bool readOk = false;
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::App();
    static const QString name = [] {
        fuzz::Home();
        return HandOverServerName("MarrowlineFuzz", fuzz::Home());
    }();
    static Received got;
    static THandOverReceiver* receiver = [] {
        auto* r = new THandOverReceiver;
        r->SetReceiveTimeout(2000);
        QString error;
        FUZZ_CHECK(r->Listen(name, &error), error);
        QObject::connect(r, &THandOverReceiver::MessageReceived,
                         [](quint32 m, quint32 w, const QString& t, bool ok) {
                             ++got.count;
                             got.message = m;
                             got.wParam = w;
                             got.text = t;
                             got.readOk = ok;
                         });
        return r;
    }();
    (void)receiver;

    FuzzedDataProvider in(data, size);
    const int pieceSize = in.ConsumeIntegralInRange(1, 600);
    const QByteArray bytes = QByteArray::fromStdString(in.ConsumeRemainingBytesAsString());

    // The wire form of the bytes read as a text decodes to that text (cut to 499 characters).
    const QString asText = QString::fromUtf8(bytes);
    const QByteArray wire = EncodeHandOver(0x8001, 7, asText);
    FUZZ_CHECK(wire.size() >= 12 && qFromLittleEndian<quint32>(wire.constData() + 8) ==
                                        quint32(wire.size() - 12),
               "length field");

    got = Received{};
    QLocalSocket socket;
    socket.connectToServer(name);
    FUZZ_CHECK(socket.waitForConnected(2000), socket.errorString());
    for (qsizetype at = 0; at < bytes.size(); at += pieceSize) {
        socket.write(bytes.mid(at, pieceSize));
        socket.flush();
        QCoreApplication::processEvents();
    }
    socket.disconnectFromServer();
    FUZZ_CHECK(fuzz::RunUntil([] { return got.count > 0; }, 5000), "no message for a connection");
    fuzz::RunUntil([] { return false; }, 1);
    FUZZ_CHECK(got.count == 1, QString("%1 messages for one connection").arg(got.count));
    FUZZ_CHECK(got.text.size() <= HandOverMaxChars, "text longer than 499 characters");

    if (bytes.size() >= 12) {
        const quint32 length = qFromLittleEndian<quint32>(bytes.constData() + 8);
        const qsizetype body = bytes.size() - 12;
        FUZZ_CHECK(got.message == qFromLittleEndian<quint32>(bytes.constData()), "message");
        FUZZ_CHECK(got.wParam == qFromLittleEndian<quint32>(bytes.constData() + 4), "wParam");
        const qsizetype maxBytes = HandOverMaxChars * 3 + 3;
        const bool whole = body >= std::min<qsizetype>(qsizetype(length), maxBytes);
        FUZZ_CHECK(got.readOk == whole, QString("readOk %1 for %2 of %3 bytes")
                                            .arg(got.readOk)
                                            .arg(body)
                                            .arg(length));
        const QByteArray sent = bytes.mid(12, std::min<qsizetype>(qsizetype(length), maxBytes));
        FUZZ_CHECK(got.text == CutChars(QString::fromUtf8(sent), HandOverMaxChars),
                   "text differs from what was sent");
    } else {
        FUZZ_CHECK(!got.readOk, "a message without its header read as whole");
    }
    return 0;
}
