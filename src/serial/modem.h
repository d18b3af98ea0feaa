#pragma once
// The modem controller: drives a Hayes-style modem over a port with the configured AT command
// strings, times each command out, splits the modem's replies into lines and turns the known
// replies into events, and counts incoming rings to let its owner decide whether to answer.
#include "core/settings.h"
#include "serial/comm.h"
#include "serial/modem_lines.h"
#include "serial/va_timer.h"

#include <QString>
#include <QStringList>
#include <exception>
#include <functional>
#include <memory>

// Raised by the modem controller; carries the message text for the caller's status line.
class EVaModemException : public std::exception {
public:
    explicit EVaModemException(const QString& message);
    const QString& Message() const { return mMessage; }
    const char* what() const noexcept override { return mUtf8.constData(); }

private:
    QString mMessage;
    QByteArray mUtf8;
};

// Where rings come from: the port's ring-indicator event, the modem's RING reply line, or
// nowhere (rings ignored).
enum TVaRingDetect { rdLine, rdMsg, rdNone };

// The kinds of command in Operation.
enum TVaModemOperation { moNone = 0, moInit = 1, moReset = 2, moDial = 3, moAnswer = 4 };

class TVaCustomModem : public TVaCommComponent {
    Q_OBJECT
public:
    using TNotify = std::function<void(TVaCustomModem* Sender)>;
    using TRingDetect = std::function<void(TVaCustomModem* Sender, int Rings, bool& AcceptCall)>;
    using TConnect = std::function<void(TVaCustomModem* Sender, const QString& ConnectString)>;

    explicit TVaCustomModem(QObject* owner = nullptr);
    ~TVaCustomModem() override;

    // --- commands. Each raises EVaModemException "Waiting for previous operation to complete."
    // while a previous command awaits its reply (nothing is sent then), and "TVaModem: error
    // writing to comm." when the port refuses a byte (the command timer is not started then).
    void Init();
    void Reset();
    void Dial(const QString& number);
    void Answer();
    // Stops waiting for a reply; Operation becomes 0.
    void CancelCommand();
    // Sends any text as a command (caret notation decoded, CharDelay after each byte) without
    // touching the command timer or Operation.
    void SendCommand(const QString& text);

    // The kind of the last command sent (TVaModemOperation); kept until the next command or
    // CancelCommand, so that an OnOK handler can tell which command was confirmed.
    int Operation() const { return mOperation; }
    int RingCount() const { return mRingCount; }
    // True while a command awaits its reply.
    bool CommandPending() const { return mCommandTimer.Enabled(); }

    // Replies are handled only while Active. Switching Active forgets any partly received line,
    // so that bytes from before the switch never join the next line.
    void SetActive(bool value);

    // --- configuration: NAME=VALUE lines (see DefaultConfig). Setting it re-reads the reply
    // strings and the line terminator.
    const QStringList& Config() const { return mConfig; }
    void SetConfig(const QStringList& config);
    // The lines joined by CR LF, for messages.
    QString ConfigText() const { return mConfig.join(QStringLiteral("\r\n")); }
    // The value of the first line with that name (compared case-insensitively), without leading
    // and trailing blanks and control characters; empty when there is none.
    QString ConfigValue(const QString& name) const;
    static QStringList DefaultConfig();

    int DialTimeout() const { return mDialTimeout; }
    void SetDialTimeout(int ms) { mDialTimeout = ms; }
    int AnswerTimeout() const { return mAnswerTimeout; }
    void SetAnswerTimeout(int ms) { mAnswerTimeout = ms; }
    int RingWaitTimeout() const { return mRingWaitTimeout; }
    void SetRingWaitTimeout(int ms);
    int CommandTimeout() const { return mCommandTimeout; }
    void SetCommandTimeout(int ms) { mCommandTimeout = ms; }
    int CharDelay() const { return mCharDelay; }
    void SetCharDelay(int ms) { mCharDelay = ms; }
    TVaRingDetect RingDetect() const { return mRingDetect; }
    void SetRingDetect(TVaRingDetect value) { mRingDetect = value; }
    int DtrDropDelay() const { return mDtrDropDelay; }
    void SetDtrDropDelay(int ms) { mDtrDropDelay = ms; }

    // --- events (main thread)
    TRingDetect OnRingDetect;
    TNotify OnRingWaitTimeout;
    TNotify OnOK;
    TNotify OnBusy;
    TNotify OnVoice;
    TNotify OnNoCarrier;
    TNotify OnNoDialTone;
    TNotify OnError;
    TConnect OnConnect;
    TNotify OnAnswerTimeout;
    TNotify OnDialTimeout;
    TNotify OnCommandTimeout;

protected:
    void HandleCommData(const char* Data, int Count) override;
    void HandleCommEvent(uint32_t Mask) override;

private:
    void CheckIdle() const;
    void StartCommand(int operation, const QString& command, int timeout);
    void ProcessLine(const QByteArray& line);
    void RingDetected();
    void RingWaitTimerExpired();
    void CommandTimerExpired();
    void ReadConfig();
    // Calls an event handler through a copy, so that a handler may replace itself; false when
    // the handler destroyed this controller.
    template <typename Handler, typename... Args>
    bool Raise(const Handler& handler, Args&&... args);

    QStringList mConfig;
    int mDialTimeout = 30000;
    int mAnswerTimeout = 30000;
    int mRingWaitTimeout = 5000;
    int mCommandTimeout = 5000;
    int mCharDelay = 0;
    TVaRingDetect mRingDetect = rdLine;
    int mDtrDropDelay = 1000;

    int mOperation = moNone;
    int mRingCount = 0;
    TModemReplies mReplies;
    TModemLineSplitter mLine;
    TVaTimer mRingWaitTimer;
    TVaTimer mCommandTimer;
    std::shared_ptr<bool> mAlive = std::make_shared<bool>(true);
};

// The published modem controller.
class TVaModem : public TVaCustomModem {
    Q_OBJECT
public:
    explicit TVaModem(QObject* owner = nullptr) : TVaCustomModem(owner) {}
};

struct TModemSettings;
// Writes the catalogue entry's command strings into the modem's Config (which re-reads its reply
// strings and terminator) and sets `extra` to the additional commands, as the catalogue's
// SetModemInitStrings on a plain list does.
void SetModemInitStrings(TVaModem& modem, const TModemSettings& entry, QString& extra, TRole role);
