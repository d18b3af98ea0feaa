#pragma once
// Asks serial devices whether a Hayes modem answers on them, and for its maker and model. All
// devices are asked at once, each with short time-outs of its own, so a device that stays silent
// costs at most the answer time, however many devices there are.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

// Splits the bytes a modem sends into reply lines. A line ends at CR or LF; blank lines are
// dropped; anything but printable ASCII is removed (NUL bytes, binary noise) and the rest trimmed.
// A line longer than MaxLine bytes is not a reply: it is dropped up to its end.
class TModemReplyLines {
public:
    static constexpr int MaxLine = 256;
    // The complete lines among the bytes (a line may span several calls).
    QStringList Feed(const char* data, int count);
    void Reset();

private:
    QByteArray mLine;
    bool mOverflow = false;
};

// One device to ask, and what it answered.
struct TModemProbe {
    enum TOutcome {
        NotAsked,  // not (yet) asked
        NotOpened, // the device could not be opened (Error says why)
        InUse,     // another program holds the device
        NoAnswer,  // no "OK" to "AT" within the answer time
        Answered,  // a modem answered "OK"
    };
    QString Path; // the device to open
    TOutcome Outcome = NotAsked;
    QString Error;
    QString Manufacturer; // from AT+GMI or ATI3; empty when the modem did not tell
    QString Model;        // from AT+GMM or ATI4
};

struct TModemProbeTimes {
    int AnswerMs = 1000;  // for the "OK" to "AT" (the command is repeated once half-way)
    int CommandMs = 1000; // for each information command
};

// Asks every device of the list; returns when all have answered or timed out. A device that
// answered is asked for at most 2 * CommandMs more. Blocks the calling thread.
void ProbeModems(std::vector<TModemProbe>& probes, const TModemProbeTimes& times);
