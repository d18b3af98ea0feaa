#pragma once
// The text exchange on the line between a client and a server: framed command and reply lines,
// the server's line assembly, the command parsers, and the "DIR.LST" list of waiting files.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// CR, the text, its two-digit checksum, CR — all in one block of bytes. The text goes as UTF-8,
// or as the given bytes.
QByteArray FrameLine(const QString& text);
QByteArray FrameBytes(const QByteArray& body);

// A received text: UTF-8 when the bytes are valid UTF-8, else Windows-1252 (what a Windows peer
// sends). *legacy tells which.
QString DecodeLineText(const QByteArray& bytes, bool* legacy = nullptr);
// The text as Windows-1252 bytes; false when a character has no place there.
bool EncodeWindows1252(const QString& text, QByteArray* bytes);
// A received line (checksum attached) whose last two bytes are the checksum of the bytes before.
bool ChecksumOkBytes(const QByteArray& line);

// Collects received bytes into lines: LF is dropped, CR ends the line, everything else is added.
// Completed lines are trimmed of blanks and control bytes; they stay bytes, since the checksum
// covers the bytes received. A line that never ends is capped so a hostile or noisy peer cannot
// grow it without bound.
class TLineAssembler {
public:
    static constexpr int MaxLineLength = 4096;
    // Takes in one receive block; returns the lines it completed, in order.
    QList<QByteArray> Feed(const QByteArray& bytes);
    // Forgets the partly assembled text.
    void Discard() { mPartial.clear(); }
    const QByteArray& Partial() const { return mPartial; }

private:
    QByteArray mPartial;
};

// Trims blanks and control characters from both ends.
QString TrimControl(const QString& text);

// The parts of a "LOGON " line (checksum still attached).
struct TLogonRequest {
    QString user;
    QString password;
};
TLogonRequest ParseLogon(const QString& line);

// The parts of a "PUT " line (checksum still attached). `shown` is the text the server shows.
struct TPutRequest {
    QString shown; // the line without its checksum
    QString name;
    QString size;
    bool valid = false;
};
TPutRequest ParsePut(const QString& line);

// The parts of a "GET " or "CHKCRC " line (checksum still attached).
struct TGetRequest {
    QString shown; // the text the server shows after "?"
    QString name;
    bool global = false; // "/G" before the closing quote
};
TGetRequest ParseGet(const QString& line);

// True when a "DIR" line asks for the buffered list ("/B").
bool DirWantsBuffer(const QString& line);

// The client's command lines.
QString LogonCommand(const QString& user, const QString& password);
QString PutCommand(const QString& destPath, const QString& fileName, const QString& size);
QString GetCommand(const QString& fileName);

// Splits a line by comma-text rules: fields are separated by commas; a field in double quotes may
// hold commas and blanks and represents a double quote by two; outside quotes a blank or control
// character also ends a field; two commas in a row give an empty field, a comma at the end a final
// empty field.
QStringList SplitCommaText(const QString& line);
// Quotes a field for such a line (doubling any double quote inside).
QString QuoteField(const QString& field);

// One line of "DIR.LST".
struct TDirEntry {
    QString name;        // server-side name (qkSrcFile)
    QString size;        // qkSize
    QString destPath;    // qkDestPath, ending with '\' when not empty
    bool legacy = false; // the line was Windows-1252, not UTF-8
};
// The whole list file: one line per entry, then "<EOF>", each line ended by CR LF.
QByteArray DirListText(const QList<TDirEntry>& entries);
// Reads a received list. False (and no entries) unless its last line is exactly "<EOF>".
bool ParseDirList(const QByteArray& text, QList<TDirEntry>* entries);
