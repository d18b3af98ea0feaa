#include "engine/link_protocol.h"

#include "app/helpers.h"
#include "app/settings.h"

namespace {
const QChar Quote('"');

bool isBlankOrControl(QChar c) { return c.unicode() <= ' '; }
} // namespace

QByteArray FrameLine(const QString& text) {
    const QByteArray body = text.toUtf8();
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

QStringList TLineAssembler::Feed(const QByteArray& bytes) {
    QStringList lines;
    for (char c : bytes) {
        if (c == '\n') continue;
        if (c == '\r') {
            lines << TrimControl(QString::fromUtf8(mPartial));
            mPartial.clear();
            continue;
        }
        if (mPartial.size() < MaxLineLength) mPartial += c;
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
    out.name = Cut255(rest.left(close).trimmed());
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
    out.name = Cut255((open >= 0 ? text.mid(open + 1) : QString()).trimmed());
    return out;
}

bool DirWantsBuffer(const QString& line) { return line.contains("/B"); }

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
    QString all = QString::fromUtf8(nul >= 0 ? text.left(nul) : text);
    all.replace("\r\n", "\n").replace('\r', '\n');
    QStringList lines = all.split('\n');
    if (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();
    if (lines.isEmpty() || lines.back() != "<EOF>") return false;
    lines.removeLast();
    for (const QString& line : lines) {
        const QStringList f = SplitCommaText(line);
        if (f.value(0).isEmpty()) continue; // a blank line names no file
        entries->append({f.value(0), f.value(1), f.value(2)});
    }
    return true;
}
