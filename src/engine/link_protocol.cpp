#include "engine/link_protocol.h"

#include "core/helpers.h"
#include "core/settings.h"

#include <QStringDecoder>
#include <algorithm>
#include <iterator>

namespace {
const QChar Quote('"');

bool isBlankOrControl(QChar c) { return c.unicode() <= ' '; }
} // namespace

QByteArray FrameLine(const QString& text) {
    return FrameBytes(text.toUtf8());
}

QByteArray FrameBytes(const QByteArray& body) {
    QByteArray frame;
    frame.reserve(body.size() + 4);
    frame += '\r';
    frame += body;
    frame += Checksum(body).toLatin1();
    frame += '\r';
    return frame;
}

QString TrimControl(const QString& text) {
    qsizetype first = 0, last = text.size();
    while (first < last && isBlankOrControl(text[first])) ++first;
    while (last > first && isBlankOrControl(text[last - 1])) --last;
    return text.mid(first, last - first);
}

namespace {
// Windows-1252 at 0x80..0x9F; the five bytes it leaves unassigned keep their own code.
constexpr char16_t Windows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

} // namespace

QString DecodeLineText(const QByteArray& bytes, bool* legacy) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    const bool windows = utf8.hasError();
    if (legacy) *legacy = windows;
    if (!windows) return text;
    text.clear();
    text.reserve(bytes.size());
    for (char c : bytes) {
        const uchar b = uchar(c);
        text += QChar(b >= 0x80 && b < 0xA0 ? Windows1252High[b - 0x80] : char16_t(b));
    }
    return text;
}

bool EncodeWindows1252(const QString& text, QByteArray* bytes) {
    bytes->clear();
    bytes->reserve(text.size());
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
            *bytes += char(u);
            continue;
        }
        const char16_t* end = std::end(Windows1252High);
        const char16_t* at = std::find(std::begin(Windows1252High), end, u);
        if (at == end) return false;
        *bytes += char(0x80 + (at - std::begin(Windows1252High)));
    }
    return true;
}

bool ChecksumOkBytes(const QByteArray& line) {
    if (line.size() < 2) return false;
    return line.right(2) == Checksum(line.left(line.size() - 2)).toLatin1();
}

void TLineAssembler::Discard() {
    mHead.clear();
    mLength = mPending = 0;
    mSum = mPendingSum = 0;
    mLast[0] = mLast[1] = 0;
}

QList<TReceivedLine> TLineAssembler::Feed(const QByteArray& bytes) {
    QList<TReceivedLine> lines;
    for (char c : bytes) {
        const uchar b = uchar(c);
        if (c == '\n') continue;
        if (c == '\r') {
            TReceivedLine line;
            if (mLength <= MaxLineLength) {
                line.bytes = mHead.left(mLength);
                line.checksumOk = ChecksumOkBytes(line.bytes);
            } else {
                line.bytes = mHead.left(MaxLineLength - 2) + char(mLast[0]) + char(mLast[1]);
                const quint8 body = quint8(mSum - mLast[0] - mLast[1]);
                line.checksumOk =
                    QByteArray(reinterpret_cast<const char*>(mLast), 2) ==
                    QByteArray::number(body, 16).toUpper().rightJustified(2, '0');
            }
            lines << line;
            Discard();
            continue;
        }
        if (b <= ' ') {
            // Trimmed at the start; at the end only once it is clear nothing else follows.
            if (mLength == 0) continue;
            ++mPending;
            mPendingSum = quint8(mPendingSum + b);
            mPendingLast = b;
            if (mHead.size() < MaxLineLength) mHead += c;
            continue;
        }
        mLast[0] = mPending > 0 ? mPendingLast : mLast[1];
        mLast[1] = b;
        mLength += mPending + 1;
        mSum = quint8(mSum + mPendingSum + b);
        mPending = 0;
        mPendingSum = 0;
        if (mHead.size() < MaxLineLength) mHead += c;
    }
    return lines;
}

TLogonRequest ParseLogon(const QString& line) {
    TLogonRequest out;
    QString text = line.trimmed();
    text.chop(2);
    const qsizetype blank = text.indexOf(' ');
    text = (blank >= 0 ? text.mid(blank + 1) : QString()).trimmed();
    const qsizetype next = text.indexOf(' ');
    if (next < 0) {
        out.user = text.trimmed();
    } else {
        out.user = text.left(next).trimmed();
        out.password = text.mid(next).trimmed();
    }
    out.user = Cut255(out.user);
    out.password = Cut255(out.password);
    return out;
}

TPutRequest ParsePut(const QString& line) {
    TPutRequest out;
    QString text = line.trimmed();
    text.chop(2);
    out.shown = text;
    const qsizetype open = text.indexOf(Quote);
    if (open < 0) return out;
    QString rest = text.mid(open + 1).trimmed();
    const qsizetype close = rest.indexOf(Quote);
    if (close <= 0) return out; // no closing quote, or an empty name
    const QString name = rest.left(close).trimmed();
    out.name = Cut255(name);
    out.cut = out.name != name;
    out.size = Cut255(rest.mid(close + 1).trimmed());
    out.valid = !out.name.isEmpty() && !out.size.isEmpty();
    return out;
}

TGetRequest ParseGet(const QString& line) {
    TGetRequest out;
    QString text = line.trimmed();
    text.chop(3); // the closing quote and the checksum
    out.shown = text + Quote;
    out.global = text.contains("/G");
    const qsizetype open = text.indexOf(Quote);
    const QString name = (open >= 0 ? text.mid(open + 1) : QString()).trimmed();
    out.name = Cut255(name);
    out.cut = out.name != name;
    return out;
}

bool DirWantsBuffer(const QString& line) { return line.contains("/B"); }

// ---------------------------------------------------------------------------------------------
// The command table

QString ReplyText(TLinkReply reply) {
    static const char* const Texts[LinkReplyCount] = {"YES", "NO", "OK", "FAIL"};
    return QString::fromLatin1(Texts[int(reply)]);
}

QStringList ReplyTexts() {
    QStringList texts;
    for (int i = 0; i < LinkReplyCount; ++i)
        texts << ReplyText(TLinkReply(i));
    return texts;
}

namespace {
TLinkRequest parseLogonLine(const QString& line) {
    const TLogonRequest logon = ParseLogon(line);
    TLinkRequest out;
    out.user = logon.user;
    out.password = logon.password;
    out.shown = QStringLiteral("LOGON ") + logon.user + " **********";
    return out;
}

TLinkRequest parseGetLine(const QString& line) {
    const TGetRequest get = ParseGet(line);
    TLinkRequest out;
    out.shown = get.shown;
    out.name = get.name;
    out.cut = get.cut;
    out.global = get.global;
    return out;
}

TLinkRequest parsePutLine(const QString& line) {
    const TPutRequest put = ParsePut(line);
    TLinkRequest out;
    out.shown = put.shown;
    out.name = put.name;
    out.size = put.size;
    out.valid = put.valid;
    out.cut = put.cut;
    return out;
}

TLinkRequest parseDirLine(const QString& line) {
    TLinkRequest out;
    out.shown = line;
    out.shown.chop(2);
    out.buffer = DirWantsBuffer(out.shown);
    return out;
}

// An extension: the name in quotes (when there is one) and the blank-separated words after it,
// or after the keyword.
TLinkRequest parseExtension(const QString& line, const char* keyword) {
    TLinkRequest out;
    QString text = line.trimmed();
    text.chop(2);
    out.shown = text;
    QString rest = text.mid(qsizetype(qstrlen(keyword)));
    const qsizetype open = rest.indexOf(Quote);
    if (open >= 0) {
        const qsizetype close = rest.indexOf(Quote, open + 1);
        if (close < 0) {
            out.valid = false;
            return out;
        }
        const QString name = rest.mid(open + 1, close - open - 1).trimmed();
        out.name = Cut255(name);
        out.cut = out.name != name;
        out.valid = !out.name.isEmpty();
        rest = rest.mid(close + 1);
    }
    out.words = rest.split(' ', Qt::SkipEmptyParts);
    return out;
}

template <TLinkVerb verb> TLinkRequest extension(const QString& line) {
    return parseExtension(line, LinkCommand(verb).keyword);
}

// A command without fields shows its keyword.
template <TLinkVerb verb> TLinkRequest keywordOnly(const QString&) {
    TLinkRequest out;
    out.shown = BareCommand(verb);
    return out;
}

using M = TReplyMeaning;
// clang-format off
const TLinkCommand Commands[] = {
    // verb               keyword    step              logged on  parser
    //   status                     YES          NO          OK            FAIL
    //   answered by   unanswered
    {TLinkVerb::Logon,  "LOGON ",  TLinkStep::Login, false,     parseLogonLine,
        "Logging on to server...", {M::Accepted, M::Refused, M::Refused,   M::Refused},
        M::Accepted,   M::Refused},
    {TLinkVerb::Get,    "GET ",    TLinkStep::File,  true,      parseGetLine,
        nullptr,                   {M::Accepted, M::Refused, M::Ignored,   M::Ignored},
        M::Accepted,   M::Ignored},
    // A server feature: the first line of a global file, or "NO". No client sends it.
    {TLinkVerb::ChkCrc, "CHKCRC ", TLinkStep::File,  true,      parseGetLine,
        nullptr,                   {M::Ignored,  M::Ignored, M::Ignored,   M::Ignored},
        M::Accepted,   M::Ignored},
    {TLinkVerb::Put,    "PUT ",    TLinkStep::File,  true,      parsePutLine,
        nullptr,                   {M::Accepted, M::Refused, M::Ignored,   M::Ignored},
        M::Accepted,   M::Ignored},
    {TLinkVerb::Dir,    "DIR",     TLinkStep::Dir,   true,      parseDirLine,
        "Requesting DIR...",       {M::Accepted, M::Refused, M::Refused,   M::Refused},
        M::Accepted,   M::AskAgain},
    // Answered only while the server is in its File step; a "YES" or "NO" to it still means what
    // it means to a PUT.
    {TLinkVerb::Result, "RESULT",  TLinkStep::File,  false,     keywordOnly<TLinkVerb::Result>,
        "Verifying...",            {M::Accepted, M::Refused, M::Confirmed, M::Failed},
        M::Confirmed,  M::Failed},
    // A server feature: the session ends, without a reply. No client sends it.
    {TLinkVerb::Logoff, "LOGOFF",  TLinkStep::End,   false,     keywordOnly<TLinkVerb::Logoff>,
        nullptr,                   {M::Ignored,  M::Ignored, M::Ignored,   M::Ignored},
        M::Accepted,   M::Ignored},
    // The extensions. None begins with a designed keyword, and no reply of theirs holds a
    // designed reply's letters: a plain server ignores them, a plain client finds nothing in
    // their answers (a late one included).
    {TLinkVerb::Features, "XFEATURES", TLinkStep::Login, true,  extension<TLinkVerb::Features>,
        nullptr,                   {M::Ignored,  M::Ignored, M::Ignored,   M::Ignored},
        M::Accepted,   M::Ignored, "XFEATURES"},
    {TLinkVerb::Use,    "XUSE",    TLinkStep::Login, true,      extension<TLinkVerb::Use>,
        nullptr,                   {M::Ignored,  M::Ignored, M::Ignored,   M::Ignored},
        M::Accepted,   M::Ignored, "XUSE"},
};

struct TFeatureRow {
    TLinkFeature feature;
    const char* name;
};
const TFeatureRow Features[] = {
    {TLinkFeature::Resume, "resume"},
};
// clang-format on
} // namespace

const TLinkCommand& LinkCommand(TLinkVerb verb) {
    for (const TLinkCommand& row : Commands)
        if (row.verb == verb) return row;
    return Commands[0];
}

const TLinkCommand* FindLinkCommand(const QString& line) {
    for (const TLinkCommand& row : Commands)
        if (line.startsWith(QLatin1String(row.keyword))) return &row;
    return nullptr;
}

QList<TLinkVerb> LinkVerbs() {
    QList<TLinkVerb> verbs;
    for (const TLinkCommand& row : Commands)
        verbs << row.verb;
    return verbs;
}

const char* LinkFeatureName(TLinkFeature feature) {
    for (const TFeatureRow& row : Features)
        if (row.feature == feature) return row.name;
    return nullptr;
}

QString LinkFeatureList(TLinkFeatures features, bool noneWhenEmpty) {
    QStringList names;
    for (const TFeatureRow& row : Features)
        if (features.Contains(row.feature)) names << QString::fromLatin1(row.name);
    if (names.isEmpty() && noneWhenEmpty) return QStringLiteral("none");
    return names.join(' ');
}

TLinkFeatures ParseLinkFeatures(const QStringList& names) {
    TLinkFeatures features;
    for (const TFeatureRow& row : Features)
        if (names.contains(QLatin1String(row.name))) features.Include(row.feature);
    return features;
}

QString ExtensionCommand(TLinkVerb verb, const QStringList& fields) {
    QStringList words{QString::fromLatin1(LinkCommand(verb).keyword).trimmed()};
    return (words + fields).join(' ');
}

QString ExtensionReply(TLinkVerb verb, const QStringList& fields) {
    QStringList words{QString::fromLatin1(LinkCommand(verb).reply)};
    return (words + fields).join(' ');
}

bool ReadExtensionReply(TLinkVerb verb, const QString& text, QStringList* fields) {
    const char* reply = LinkCommand(verb).reply;
    if (!reply) return false;
    const QStringList words = text.split(' ', Qt::SkipEmptyParts);
    if (words.value(0) != QLatin1String(reply)) return false;
    *fields = words.mid(1);
    return true;
}

int ExtensionWaitMs(int bitsPerSecond, int bitsPerCharacter, int latencyMs) {
    // A framed question of up to 32 bytes and an answer of up to 64.
    constexpr qint64 Bytes = 96;
    constexpr int MarginMs = 500;
    const qint64 lineMs = bitsPerSecond > 0
                              ? (Bytes * qMax(1, bitsPerCharacter) * 1000 + bitsPerSecond - 1) /
                                    bitsPerSecond
                              : 1000;
    return int(qMin<qint64>(lineMs + qMax(0, latencyMs) + MarginMs, 60000));
}

QString LogonCommand(const QString& user, const QString& password) {
    return "LOGON " + user + " " + password;
}

QString PutCommand(const QString& destPath, const QString& fileName, const QString& size) {
    QString path = destPath;
    if (!path.isEmpty() && !path.endsWith('\\')) path += '\\';
    return "PUT " + QString(Quote) + path + fileName + Quote + " " + size;
}

QString GetCommand(const QString& fileName) {
    return "GET " + QString(Quote) + fileName + Quote;
}

QString BareCommand(TLinkVerb verb) {
    return QString::fromLatin1(LinkCommand(verb).keyword);
}

QStringList SplitCommaText(const QString& line) {
    QStringList fields;
    const qsizetype n = line.size();
    qsizetype p = 0;
    auto skipBlanks = [&]() {
        while (p < n && isBlankOrControl(line[p])) ++p;
    };
    skipBlanks();
    while (p < n) {
        QString field;
        if (line[p] == Quote) {
            ++p;
            while (p < n) {
                if (line[p] == Quote) {
                    if (p + 1 < n && line[p + 1] == Quote) {
                        field += Quote;
                        p += 2;
                        continue;
                    }
                    ++p;
                    break;
                }
                field += line[p++];
            }
        } else {
            const qsizetype start = p;
            while (p < n && !isBlankOrControl(line[p]) && line[p] != ',') ++p;
            field = line.mid(start, p - start);
        }
        fields << field;
        skipBlanks();
        if (p < n && line[p] == ',') {
            if (p + 1 == n) fields << QString();
            ++p;
            skipBlanks();
        }
    }
    return fields;
}

QString QuoteField(const QString& field) {
    QString doubled = field;
    doubled.replace(Quote, QStringLiteral("\"\""));
    return Quote + doubled + Quote;
}

QByteArray DirListText(const QList<TDirEntry>& entries) {
    QByteArray out;
    for (const TDirEntry& e : entries)
        out += (QuoteField(e.name) + "," + e.size + "," + QuoteField(e.destPath) + "\r\n").toUtf8();
    out += "<EOF>\r\n";
    return out;
}

bool ParseDirList(const QByteArray& text, QList<TDirEntry>* entries) {
    entries->clear();
    // A list received by XMODEM ends with NUL padding; the text ends at the first NUL.
    const qsizetype nul = text.indexOf('\0');
    QByteArray all = nul >= 0 ? text.left(nul) : text;
    all.replace("\r\n", "\n").replace('\r', '\n');
    QList<QByteArray> lines = all.split('\n');
    if (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();
    if (lines.isEmpty() || lines.back() != "<EOF>") return false;
    lines.removeLast();
    for (const QByteArray& bytes : lines) {
        // Each line on its own: a list may mix names from different sources.
        bool legacy = false;
        const QStringList f = SplitCommaText(DecodeLineText(bytes, &legacy));
        if (f.value(0).isEmpty()) continue; // a blank line names no file
        entries->append({f.value(0), f.value(1), f.value(2), legacy});
    }
    return true;
}
