#include "core/inifile.h"

#include <QFile>
#include <QSaveFile>

#include <sys/stat.h>

namespace {
bool sameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool isQuote(QChar c) {
    return c == '"' || c == '\'';
}

// The form in which a value is stored so that reading it (trimmed, matching quotes removed) gives
// it back unchanged.
QString storedValue(const QString& value) {
    const bool blanksAtEnds =
        !value.isEmpty() && (value.front().isSpace() || value.back().isSpace());
    const bool quoted =
        value.size() >= 2 && isQuote(value.front()) && value.back() == value.front();
    return blanksAtEnds || quoted ? '"' + value + '"' : value;
}

QString unquote(const QString& value) {
    if (value.size() >= 2) {
        const QChar first = value.front();
        if ((first == '"' || first == '\'') && value.back() == first)
            return value.mid(1, value.size() - 2);
    }
    return value;
}
} // namespace

bool ParseInteger(const QString& text, int* value) {
    bool ok = false;
    const QString t = text.trimmed();
    if (t.isEmpty()) return false;
    for (qsizetype i = 0; i < t.size(); ++i) {
        const QChar c = t[i];
        if (!(c.isDigit() && c.unicode() < 128) && !(i == 0 && (c == '-' || c == '+')))
            return false;
    }
    const int v = t.toInt(&ok, 10);
    if (ok && value) *value = v;
    return ok;
}

TIniFile::TIniFile(QString path) : mPath(std::move(path)) {
    QFile file(mPath);
    if (!file.exists()) return;
    if (!file.open(QIODevice::ReadOnly)) {
        mError = file.errorString();
        mReadFailed = true;
        return;
    }
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        mError = file.errorString();
        mReadFailed = true;
        return;
    }
    QList<QByteArray> rows = data.split('\n');
    if (!rows.isEmpty() && rows.back().isEmpty()) rows.removeLast();
    for (QByteArray& bytes : rows) {
        if (bytes.endsWith('\r')) bytes.chop(1);
        Line line;
        line.raw = bytes;
        line.fromFile = true;
        line.text = QString::fromUtf8(bytes);
        const QString t = line.text.trimmed();
        if (t.startsWith('[')) {
            const qsizetype close = t.indexOf(']');
            if (close > 0) {
                line.kind = Line::Section;
                line.section = t.mid(1, close - 1).trimmed();
            }
        } else if (!t.startsWith(';')) {
            const qsizetype eq = t.indexOf('=');
            if (eq > 0) {
                line.kind = Line::Key;
                line.key = t.left(eq).trimmed();
                line.value = t.mid(eq + 1).trimmed();
            }
        }
        mLines.push_back(std::move(line));
    }
}

int TIniFile::findSection(const QString& section) const {
    for (size_t i = 0; i < mLines.size(); ++i)
        if (mLines[i].kind == Line::Section && sameName(mLines[i].section, section.trimmed()))
            return int(i);
    return -1;
}

int TIniFile::findKey(int sectionLine, const QString& key) const {
    if (sectionLine < 0) return -1;
    for (size_t i = size_t(sectionLine) + 1; i < mLines.size(); ++i) {
        if (mLines[i].kind == Line::Section) break;
        if (mLines[i].kind == Line::Key && sameName(mLines[i].key, key.trimmed())) return int(i);
    }
    return -1;
}

bool TIniFile::ValueExists(const QString& section, const QString& key) const {
    return findKey(findSection(section), key) >= 0;
}

bool TIniFile::SectionExists(const QString& section) const {
    return findSection(section) >= 0;
}

QString TIniFile::ReadString(const QString& section, const QString& key, const QString& def) const {
    const int line = findKey(findSection(section), key);
    return line < 0 ? def : unquote(mLines[size_t(line)].value);
}

int TIniFile::ReadInteger(const QString& section, const QString& key, int def) const {
    int value = def;
    if (!ParseInteger(ReadString(section, key, QString()), &value)) return def;
    return value;
}

bool TIniFile::ReadBool(const QString& section, const QString& key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

QStringList TIniFile::ReadSections() const {
    QStringList out;
    for (const Line& line : mLines)
        if (line.kind == Line::Section) out << line.section;
    return out;
}

void TIniFile::WriteString(const QString& section, const QString& key, const QString& value) {
    const QString name = key.trimmed();
    // A line break inside a value would split it into lines of its own.
    QString plain = value;
    plain.replace('\r', ' ').replace('\n', ' ');
    const QString v = storedValue(plain);
    Line keyLine;
    keyLine.kind = Line::Key;
    keyLine.key = name;
    keyLine.value = v;
    keyLine.text = name + "=" + v;
    int sec = findSection(section);
    if (sec < 0) {
        Line header;
        header.kind = Line::Section;
        header.section = section.trimmed();
        header.text = "[" + header.section + "]";
        mLines.push_back(header);
        mLines.push_back(keyLine);
        mDirty = true;
        return;
    }
    const int existing = findKey(sec, name);
    if (existing >= 0) {
        Line& line = mLines[size_t(existing)];
        if (line.value != v || line.text != keyLine.text) {
            keyLine.key = line.key; // keep the name as the file spells it
            keyLine.text = line.key + "=" + v;
            line = keyLine;
            mDirty = true;
        }
        return;
    }
    // After the last key line of the section (blank lines and comments at its end stay after).
    size_t insertAt = size_t(sec) + 1;
    for (size_t i = size_t(sec) + 1; i < mLines.size(); ++i) {
        if (mLines[i].kind == Line::Section) break;
        if (mLines[i].kind == Line::Key) insertAt = i + 1;
    }
    mLines.insert(mLines.begin() + qsizetype(insertAt), keyLine);
    mDirty = true;
}

void TIniFile::WriteInteger(const QString& section, const QString& key, int value) {
    WriteString(section, key, QString::number(value));
}

void TIniFile::WriteBool(const QString& section, const QString& key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

void TIniFile::EraseSection(const QString& section) {
    int sec;
    while ((sec = findSection(section)) >= 0) {
        size_t end = size_t(sec) + 1;
        while (end < mLines.size() && mLines[end].kind != Line::Section)
            ++end;
        mLines.erase(mLines.begin() + sec, mLines.begin() + qsizetype(end));
        mDirty = true;
    }
}

bool TIniFile::UpdateFile() {
    if (mReadFailed) return false; // mError still tells why the file could not be read
    if (!mDirty && QFile::exists(mPath)) return true;
    QByteArray out;
    for (const Line& line : mLines) {
        out += line.fromFile ? line.raw : line.text.toUtf8();
        out += '\n';
    }
    QSaveFile file(mPath);
    // Settings, jobs and accounts hold passwords: readable by their owner only, from the moment
    // the new file exists, whatever the umask.
    const bool opened = file.open(QIODevice::WriteOnly);
    if (opened) ::fchmod(file.handle(), 0600);
    if (!opened || file.write(out) != out.size() || !file.commit()) {
        mError = file.errorString();
        return false;
    }
    mDirty = false;
    mError.clear();
    return true;
}
