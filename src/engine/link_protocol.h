#pragma once
// The text exchange on the line between a client and a server: framed command and reply lines,
// the server's line assembly, the command parsers, and the "DIR.LST" list of waiting files.
#include "serial/comm_types.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>

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

// One line as the server assembled it.
struct TReceivedLine {
    // Trimmed of blanks and control bytes at both ends; a line longer than MaxLineLength keeps
    // its start and its last two bytes (the checksum), so its fields come out cut.
    QByteArray bytes;
    // The checksum test over every byte received, whatever was kept.
    bool checksumOk = false;
};

// Collects received bytes into lines: LF is dropped, CR ends the line, everything else is added.
// Lines stay bytes, since the checksum covers the bytes received. However long a line gets, it
// is answered: its start is kept and its checksum is summed as it comes, so a hostile or noisy
// peer cannot grow it without bound and an over-long command still gets its reply.
class TLineAssembler {
public:
    static constexpr int MaxLineLength = 65536;
    // Takes in one receive block; returns the lines it completed, in order.
    QList<TReceivedLine> Feed(const QByteArray& bytes);
    // Forgets the partly assembled text.
    void Discard();
    // The kept start of the line so far.
    const QByteArray& Partial() const { return mHead; }

private:
    QByteArray mHead;        // from the first non-blank byte, at most MaxLineLength bytes
    qint64 mLength = 0;      // bytes up to the last non-blank one
    qint64 mPending = 0;     // blanks and control bytes after it (trimmed unless more follows)
    quint8 mSum = 0;         // of the bytes up to the last non-blank one
    quint8 mPendingSum = 0;  // of the pending ones
    quint8 mPendingLast = 0; // the last pending one
    quint8 mLast[2] = {0, 0}; // the last two of the bytes up to the last non-blank one
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
    bool cut = false; // the name was longer than 255 bytes and has been cut
};
TPutRequest ParsePut(const QString& line);

// The parts of a "GET " or "CHKCRC " line (checksum still attached).
struct TGetRequest {
    QString shown; // the text the server shows after "?"
    QString name;
    bool global = false; // "/G" before the closing quote
    bool cut = false;    // the name was longer than 255 bytes and has been cut
};
TGetRequest ParseGet(const QString& line);

// True when a "DIR" line asks for the buffered list ("/B").
bool DirWantsBuffer(const QString& line);

// ---------------------------------------------------------------------------------------------
// The link's vocabulary: every command and every reply, in one table that both engines read.
// The server finds a command by the start of its line, in the table's order, and hands it to the
// step the row names; the client sends a command under a trial and reads the reply it gets by the
// row of that command. A new command is a new row (and its verb); a new feature between two
// Marrowline peers goes in the feature table further down.

// The replies of the designed exchange, in the order the client's reply watcher looks for them.
// The watcher finds them anywhere in the received bytes, in any case: no other text that the
// server sends as a reply may contain these letters.
enum class TLinkReply : uint8_t { Yes, No, Ok, Fail };
inline constexpr int LinkReplyCount = 4;
QString ReplyText(TLinkReply reply);
// The replies' texts by index: what the client's watcher looks for.
QStringList ReplyTexts();

// The commands, in the order the server tries their keywords: the designed ones, then the
// extensions that two Marrowline peers use once they have agreed on them.
enum class TLinkVerb : uint8_t {
    Logon,
    Get,
    ChkCrc,
    Put,
    Dir,
    Result,
    Logoff,
    // Extensions, each answered by a line of its own (TLinkCommand::reply):
    Features, // which features the server offers
    Use,      // the features the client will use: the server answers with those agreed
};

// The features two Marrowline peers may agree on after a log-on, one row each in the feature
// table (LinkFeatureName). A plain peer never sees them: the client asks once, and a server that
// does not answer is taken for a plain one.
enum class TLinkFeature : uint8_t {
    Resume, // a cut transfer goes on from the last whole block the receiver holds
};
using TLinkFeatures = TVaSet<TLinkFeature>;
// The feature's name on the line ("resume"); null past the last one.
const char* LinkFeatureName(TLinkFeature feature);
// The names of a set, blank-separated in the table's order; "none" for an empty set when asked.
QString LinkFeatureList(TLinkFeatures features, bool noneWhenEmpty = false);
// The known features among blank-separated names (unknown ones are left out).
TLinkFeatures ParseLinkFeatures(const QStringList& names);

// The step of a session a command belongs to (the same on both sides).
enum class TLinkStep : uint8_t {
    Login, // the server checks the caller; the client waits for the answer
    File,  // one file sent or fetched, and its result
    Dir,   // the list of the files that wait for the caller
    End,   // the session ends
};

// What a reply means to the client, for the command it answers.
enum class TReplyMeaning : uint8_t {
    Ignored,
    Accepted,  // go on: log-on accepted, transfer may start, list follows
    Refused,   // log-on refused, transfer denied, nothing to fetch
    Confirmed, // the server has the file
    Failed,    // the server does not have it
    AskAgain,  // (no answer only) the command starts over
};

// A command line taken apart (the checksum still attached to the line it was read from).
struct TLinkRequest {
    QString shown;       // what the server's status line shows after "?"
    QString user;        // LOGON
    QString password;    // LOGON
    QString name;        // PUT, GET, CHKCRC
    QString size;        // PUT
    bool valid = true;   // PUT: a name and a size
    bool cut = false;    // the name was longer than 255 bytes and has been cut
    bool global = false; // GET, CHKCRC: "/G"
    bool buffer = false; // DIR: "/B"
    QStringList words;   // an extension: its blank-separated words after the name (or keyword)
};

// One row of the command table.
struct TLinkCommand {
    TLinkVerb verb;
    const char* keyword; // the line starts with it, exact case
    TLinkStep step;
    // Acted on only once the caller has logged on (in the File or Dir step); shown and parsed
    // before that all the same.
    bool afterLogon;
    TLinkRequest (*parse)(const QString& line);
    // The client's side: the status text of each try (null: the command line itself), what
    // each reply means (by TLinkReply), the meaning from which the command counts as answered,
    // and what the client does when its tries went unanswered (Ignored: nothing).
    const char* status;
    TReplyMeaning replies[LinkReplyCount];
    TReplyMeaning answeredBy;
    TReplyMeaning unanswered;
    // An extension answered by a line of its own: the word that line starts with (its fields
    // follow, blank-separated). Null: the designed replies, or none.
    const char* reply = nullptr;
};

// The row of a verb.
const TLinkCommand& LinkCommand(TLinkVerb verb);
// The row whose keyword starts the line (the table's order), or null.
const TLinkCommand* FindLinkCommand(const QString& line);
// Every row, in the table's order.
QList<TLinkVerb> LinkVerbs();

// An extension's command line: its keyword and the fields, blank-separated.
QString ExtensionCommand(TLinkVerb verb, const QStringList& fields = {});
// An extension's own reply, as the server sends it: the row's reply word and the fields.
QString ExtensionReply(TLinkVerb verb, const QStringList& fields);
// True when a received line (checksum removed) is the verb's own reply; *fields gets its fields.
bool ReadExtensionReply(TLinkVerb verb, const QString& text, QStringList* fields);
// How long the client waits for the answer to an extension: the time of the question and a long
// answer at the line's speed, the line's delivery latency, and a margin for a busy peer. About a
// second at 1,200 bit/s, half of one at 115,200; an unknown speed (0) counts as a slow line.
int ExtensionWaitMs(int bitsPerSecond, int bitsPerCharacter, int latencyMs);

// The client's command lines.
QString LogonCommand(const QString& user, const QString& password);
QString PutCommand(const QString& destPath, const QString& fileName, const QString& size);
QString GetCommand(const QString& fileName);
// A command without fields: its keyword ("DIR", "RESULT").
QString BareCommand(TLinkVerb verb);

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
