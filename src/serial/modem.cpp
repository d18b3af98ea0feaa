#include "serial/modem.h"

#include "serial/caret.h"

#include <chrono>
#include <thread>

namespace {
// Waits without handling any events: CharDelay paces the bytes of one command, and nothing else
// may run on the main thread in between.
void DelayMs(int ms) {
    using Clock = std::chrono::steady_clock;
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    for (auto now = Clock::now(); now < until; now = Clock::now())
        std::this_thread::sleep_for(until - now);
}

bool IsBlank(QChar c) {
    return c.unicode() <= ' ';
}

QString TrimBlanksAndControls(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && IsBlank(text.at(begin)))
        ++begin;
    while (end > begin && IsBlank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

const QString Origin = QStringLiteral("TVaModem");
} // namespace

EVaModemException::EVaModemException(const QString& message)
    : mMessage(message), mUtf8(message.toUtf8()) {}

QStringList TVaCustomModem::DefaultConfig() {
    return {
        QStringLiteral("RESETCMD=ATZ^M"),
        QStringLiteral("DIALCMD=ATDT"),
        QStringLiteral("DIALTERM=^M"),
        QStringLiteral("HANGUPCMD=+++~~~ATH0^M"),
        QStringLiteral("INITCMD=ATZE1M1^M"),
        QStringLiteral("ANSWERCMD=ATA^M"),
        QStringLiteral("ROK=OK"),
        QStringLiteral("RCONNECT=CONNECT"),
        QStringLiteral("RBUSY=BUSY"),
        QStringLiteral("RVOICE=VOICE"),
        QStringLiteral("RNOCARRIER=NO CARRIER"),
        QStringLiteral("RNODIALTONE=NO DIALTONE"),
        QStringLiteral("RERROR=ERROR"),
        QStringLiteral("RRING=RING"),
        QStringLiteral("RTERM=^M"),
    };
}

TVaCustomModem::TVaCustomModem(QObject* owner) : TVaCommComponent(owner) {
    for (TVaTimer* timer : {&mRingWaitTimer, &mCommandTimer}) {
        timer->SetEnabled(false);
        timer->SetInterval(5000);
    }
    mRingWaitTimer.SetInterval(mRingWaitTimeout);
    mRingWaitTimer.SetOnTimer([this](TVaTimer*) { RingWaitTimerExpired(); });
    mCommandTimer.SetOnTimer([this](TVaTimer*) { CommandTimerExpired(); });
    SetConfig(DefaultConfig());
}

TVaCustomModem::~TVaCustomModem() {
    *mAlive = false;
}

template <typename Handler, typename... Args>
bool TVaCustomModem::Raise(const Handler& handler, Args&&... args) {
    if (!handler) return true;
    const std::shared_ptr<bool> alive = mAlive;
    Handler copy = handler;
    copy(this, std::forward<Args>(args)...);
    return *alive;
}

// ---------------------------------------------------------------------------------------------
// Configuration

void TVaCustomModem::SetConfig(const QStringList& config) {
    mConfig = config;
    ReadConfig();
}

QString TVaCustomModem::ConfigValue(const QString& name) const {
    for (const QString& line : mConfig) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0) continue;
        if (QStringView(line).left(equals).compare(name, Qt::CaseInsensitive) == 0)
            return TrimBlanksAndControls(line.mid(equals + 1));
    }
    return {};
}

void TVaCustomModem::ReadConfig() {
    auto reply = [this](const char* name) { return ConfigValue(QLatin1String(name)).toUtf8(); };
    mReplies.OK = reply("ROK");
    mReplies.Ring = reply("RRING");
    mReplies.Busy = reply("RBUSY");
    mReplies.Voice = reply("RVOICE");
    mReplies.NoCarrier = reply("RNOCARRIER");
    mReplies.NoDialTone = reply("RNODIALTONE");
    mReplies.Error = reply("RERROR");
    mReplies.Connect = reply("RCONNECT");
    const QByteArray terminator = DecodeCaretText(reply("RTERM"));
    mLine.SetTerminator(terminator.isEmpty() ? '\0' : terminator.at(0));
}

void TVaCustomModem::SetRingWaitTimeout(int ms) {
    mRingWaitTimeout = ms;
    mRingWaitTimer.SetInterval(ms);
}

void TVaCustomModem::SetActive(bool value) {
    mLine.Clear();
    TVaCommComponent::SetActive(value);
}

// ---------------------------------------------------------------------------------------------
// Commands

void TVaCustomModem::CheckIdle() const {
    if (mCommandTimer.Enabled())
        throw EVaModemException(QStringLiteral("Waiting for previous operation to complete."));
}

void TVaCustomModem::StartCommand(int operation, const QString& command, int timeout) {
    CheckIdle();
    mOperation = operation;
    PurgeReadWrite();
    // What was received before the command is stale, in memory as in the device.
    mLine.Clear();
    SendCommand(command);
    mCommandTimer.SetInterval(timeout);
    mCommandTimer.SetEnabled(true);
}

void TVaCustomModem::Init() {
    StartCommand(moInit, ConfigValue(QStringLiteral("INITCMD")), mCommandTimeout);
}

void TVaCustomModem::Reset() {
    StartCommand(moReset, ConfigValue(QStringLiteral("RESETCMD")), mCommandTimeout);
}

void TVaCustomModem::Dial(const QString& number) {
    const QString command =
        ConfigValue(QStringLiteral("DIALCMD")) + number + ConfigValue(QStringLiteral("DIALTERM"));
    StartCommand(moDial, command, mDialTimeout);
}

void TVaCustomModem::Answer() {
    StartCommand(moAnswer, ConfigValue(QStringLiteral("ANSWERCMD")), mAnswerTimeout);
}

void TVaCustomModem::CancelCommand() {
    mCommandTimer.SetEnabled(false);
    mOperation = moNone;
}

void TVaCustomModem::SendCommand(const QString& text) {
    const QByteArray bytes = DecodeCaretText(text.toUtf8());
    for (char byte : bytes) {
        if (!WriteChar(byte))
            throw EVaModemException(QStringLiteral("TVaModem: error writing to comm."));
        if (mCharDelay > 0) DelayMs(mCharDelay);
    }
}

// ---------------------------------------------------------------------------------------------
// Replies and rings

void TVaCustomModem::HandleCommData(const char* Data, int Count) {
    const std::shared_ptr<bool> alive = mAlive;
    for (int i = 0; i < Count; ++i) {
        // A handler may have switched the controller off: the rest of the block is not for it.
        if (!Active()) {
            mLine.Clear();
            return;
        }
        if (!mLine.Feed(Data[i])) continue;
        const QByteArray line = mLine.TakeLine();
        // An error in one line's handling is reported and the rest of the block still handled,
        // so that no reply after it is lost.
        try {
            ProcessLine(line);
        } catch (...) {
            HandleException(Origin + QStringLiteral(".HandleCommData"));
        }
        if (!*alive) return;
    }
}

void TVaCustomModem::HandleCommEvent(uint32_t Mask) {
    if (!Active() || (Mask & VaEvRing) == 0 || mRingDetect != rdLine) return;
    try {
        RingDetected();
    } catch (...) {
        HandleException(Origin + QStringLiteral(".HandleCommEvent"));
    }
}

void TVaCustomModem::ProcessLine(const QByteArray& line) {
    const QByteArray trimmed = TrimReplyLine(line);
    const TModemReply reply = RecogniseReply(trimmed, mReplies);
    if (reply == TModemReply::None) return; // the command's echo, banners, anything else
    mCommandTimer.SetEnabled(false);
    switch (reply) {
    case TModemReply::OK:
        Raise(OnOK);
        break;
    case TModemReply::Ring:
        if (mRingDetect == rdMsg) RingDetected();
        break;
    case TModemReply::Busy:
        Raise(OnBusy);
        break;
    case TModemReply::Voice:
        Raise(OnVoice);
        break;
    case TModemReply::NoCarrier:
        Raise(OnNoCarrier);
        break;
    case TModemReply::NoDialTone:
        Raise(OnNoDialTone);
        break;
    case TModemReply::Error:
        Raise(OnError);
        break;
    case TModemReply::Connect:
        Raise(OnConnect, QString::fromUtf8(trimmed));
        break;
    case TModemReply::None:
        break;
    }
}

void TVaCustomModem::RingDetected() {
    mRingWaitTimer.SetEnabled(false);
    ++mRingCount;
    bool accept = false;
    if (!Raise(OnRingDetect, mRingCount, accept)) return;
    if (accept)
        Answer();
    else
        mRingWaitTimer.SetEnabled(true);
}

void TVaCustomModem::RingWaitTimerExpired() {
    mRingWaitTimer.SetEnabled(false);
    mRingCount = 0;
    try {
        Raise(OnRingWaitTimeout);
    } catch (...) {
        HandleException(Origin + QStringLiteral(".RingWaitTimer"));
    }
}

void TVaCustomModem::CommandTimerExpired() {
    mCommandTimer.SetEnabled(false);
    try {
        switch (mOperation) {
        case moDial:
            Raise(OnDialTimeout);
            break;
        case moAnswer:
            mRingCount = 0;
            Raise(OnAnswerTimeout);
            break;
        default:
            Raise(OnCommandTimeout);
            break;
        }
    } catch (...) {
        HandleException(Origin + QStringLiteral(".CommandTimer"));
    }
}
