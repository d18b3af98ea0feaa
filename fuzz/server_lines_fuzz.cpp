// The server's side of the line: bytes from a caller are assembled into lines and the command
// lines are taken apart. However the bytes are cut into receive blocks, the same lines must come
// out; a line is never longer than the kept maximum; the checksum flag agrees with the checksum
// of the kept bytes; a requested name either cannot be stored or stays inside the folder it is
// stored in.
#include "engine/link_protocol.h"
#include "platform/paths.h"
#include "platform/received_file.h"
#include "fuzz_support.h"

#include <QDir>

namespace {
// The lines as the server reads them, byte by byte from the whole stream: CR ends a line, LF is
// dropped, blanks and control bytes are trimmed at both ends, the checksum covers every byte
// kept after trimming, and an over-long line keeps its start and its last two bytes.
QList<TReceivedLine> referenceLines(const QByteArray& stream) {
    QList<TReceivedLine> out;
    QByteArray raw;
    for (char c : stream) {
        if (c == '\n') continue;
        if (c != '\r') {
            raw += c;
            continue;
        }
        qsizetype first = 0, last = raw.size();
        while (first < last && uchar(raw[first]) <= ' ') ++first;
        while (last > first && uchar(raw[last - 1]) <= ' ') --last;
        const QByteArray kept = raw.mid(first, last - first);
        TReceivedLine line;
        line.checksumOk = ChecksumOkBytes(kept);
        line.bytes = kept.size() <= TLineAssembler::MaxLineLength
                         ? kept
                         : kept.left(TLineAssembler::MaxLineLength - 2) + kept.right(2);
        out << line;
        raw.clear();
    }
    return out;
}

void checkName(const QString& name, const char* what) {
    FUZZ_CHECK(name.toUtf8().size() <= 255, QString(what) + " name longer than 255 bytes");
    if (name.isEmpty() || !received_file::IsStorableName(name)) return;
    const QString inbox = QStringLiteral("/srv/inbox");
    bool ok = false;
    const QString path = LocalPath(inbox, name, &ok);
    if (!ok) return;
    FUZZ_CHECK(QDir::cleanPath(path).startsWith(inbox + '/'), QString(what) + " leaves: " + path);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const QByteArray stream = fuzz::Bytes(data + 1, size - 1);

    TLineAssembler whole;
    const QList<TReceivedLine> lines = whole.Feed(stream);

    TLineAssembler pieces;
    QList<TReceivedLine> again;
    fuzz::Pieces cut(data[0], 1 + data[0] % 64);
    for (qsizetype at = 0; at < stream.size();) {
        const int n = cut.Next();
        again += pieces.Feed(stream.mid(at, n));
        at += n;
    }
    FUZZ_CHECK(again.size() == lines.size(), "line count depends on the receive blocks");
    FUZZ_CHECK(pieces.Partial() == whole.Partial(), "partial line depends on the receive blocks");
    const QList<TReceivedLine> expected = referenceLines(stream);
    FUZZ_CHECK(lines.size() == expected.size(), "one line per CR");

    for (qsizetype i = 0; i < lines.size(); ++i) {
        const TReceivedLine& line = lines[i];
        FUZZ_CHECK(line.bytes == again[i].bytes && line.checksumOk == again[i].checksumOk,
                   "line differs with the receive blocks");
        FUZZ_CHECK(line.bytes == expected[i].bytes, "line bytes differ from the reference");
        FUZZ_CHECK(line.checksumOk == expected[i].checksumOk, "checksum differs from the reference");
        FUZZ_CHECK(line.bytes.size() <= TLineAssembler::MaxLineLength, "line too long");
        FUZZ_CHECK(!line.bytes.contains('\r') && !line.bytes.contains('\n'), "CR or LF kept");
        if (line.bytes.size() < TLineAssembler::MaxLineLength)
            FUZZ_CHECK(line.checksumOk == ChecksumOkBytes(line.bytes), "checksum flag wrong");

        bool legacy = false;
        const QString text = DecodeLineText(line.bytes, &legacy);
        if (!legacy) FUZZ_CHECK(text.toUtf8() == line.bytes, "UTF-8 line changed");
        if (legacy) {
            QByteArray back;
            if (EncodeWindows1252(text, &back))
                FUZZ_CHECK(back == line.bytes, "Windows-1252 round trip");
        }
        // As the server reads it: by the row of the command table its start finds.
        const TLinkCommand* command = FindLinkCommand(text);
        const TLinkRequest request = command ? command->parse(text) : TLinkRequest{};
        if (!command) {
        } else if (command->verb == TLinkVerb::Logon) {
            FUZZ_CHECK(request.user.toUtf8().size() <= 255 &&
                           request.password.toUtf8().size() <= 255,
                       "log-on fields longer than 255 bytes");
            FUZZ_CHECK(!request.user.contains(' '), "user name holds a blank");
            FUZZ_CHECK(request.shown == "LOGON " + request.user + " **********",
                       "the status line shows more than the user");
        } else if (command->verb == TLinkVerb::Put) {
            if (request.valid) {
                FUZZ_CHECK(!request.name.contains('"'), "name holds a quote");
                checkName(request.name, "PUT");
            }
        } else if (command->verb == TLinkVerb::Get || command->verb == TLinkVerb::ChkCrc) {
            checkName(request.name, "GET");
        }
        const QString trimmed = TrimControl(text);
        FUZZ_CHECK(trimmed.isEmpty() || (trimmed.front() > ' ' && trimmed.back() > ' '),
                   "trimmed text keeps a blank end");
    }
    return 0;
}
