#pragma once
// The text side of the modem controller: splitting the modem's output into reply lines and
// recognising the known replies.
#include <QByteArray>

// Splits received bytes into lines at a terminator byte. A NUL byte inside a line is kept as a
// blank. A line that grows past MaxLineLength keeps its first MaxLineLength bytes and drops the
// rest up to the next terminator, so that a line without terminator (noise, binary data after a
// connect) cannot grow without bound; modem replies are far shorter.
class TModemLineSplitter {
public:
    static constexpr qsizetype MaxLineLength = 1024;

    char Terminator() const { return mTerminator; }
    void SetTerminator(char value) { mTerminator = value; }
    // Takes one byte; true when it ended a non-empty line, which TakeLine then hands out.
    bool Feed(char byte);
    // The completed line (and an empty line being assembled afterwards).
    QByteArray TakeLine();
    // Forgets the line being assembled.
    void Clear() { mLine.clear(); }
    const QByteArray& Pending() const { return mLine; }

private:
    char mTerminator = '\r';
    QByteArray mLine;
};

// The line without leading and trailing blanks and control characters.
QByteArray TrimReplyLine(const QByteArray& line);

enum class TModemReply { None, OK, Ring, Busy, Voice, NoCarrier, NoDialTone, Error, Connect };

// The reply strings a modem controller recognises, read from its configuration.
struct TModemReplies {
    QByteArray OK, Ring, Busy, Voice, NoCarrier, NoDialTone, Error, Connect;
};

// Compares a trimmed line exactly with OK, RING, BUSY, VOICE, NO CARRIER, NO DIALTONE and ERROR,
// in that order, then checks whether it begins with the CONNECT string. An empty line and an empty
// reply string never match (an unconfigured reply would otherwise match every blank line, and an
// empty CONNECT every line).
TModemReply RecogniseReply(const QByteArray& trimmedLine, const TModemReplies& replies);
