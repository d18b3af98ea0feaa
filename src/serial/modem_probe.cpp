#include "serial/modem_probe.h"

#include "platform/serial_device.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <poll.h>

QStringList TModemReplyLines::Feed(const char* data, int count) {
    QStringList lines;
    for (int i = 0; i < count; ++i) {
        const char c = data[i];
        if (c == '\r' || c == '\n') {
            if (!mOverflow) {
                QByteArray clean;
                clean.reserve(mLine.size());
                for (const char b : std::as_const(mLine))
                    if (b >= 0x20 && b <= 0x7E) clean.append(b);
                const QString line = QString::fromLatin1(clean).trimmed();
                if (!line.isEmpty()) lines.append(line);
            }
            mLine.clear();
            mOverflow = false;
        } else if (mLine.size() < MaxLine) {
            mLine.append(c);
        } else {
            mOverflow = true;
        }
    }
    return lines;
}

void TModemReplyLines::Reset() {
    mLine.clear();
    mOverflow = false;
}

namespace {
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A command's reply may not run longer than this; a device that keeps sending is not a modem
// that has finished answering.
constexpr int MaxReplyBytes = 8192;
constexpr int MaxInfoLines = 8;

// The questions, in order. After "AT" the maker is asked with AT+GMI, or ATI3 when the modem
// does not know that; then the model with AT+GMM, or ATI4.
enum TStage { stAt, stGmi, stAti3, stGmm, stAti4, stDone };
const char* const StageCommands[] = {"AT", "AT+GMI", "ATI3", "AT+GMM", "ATI4"};

// The first information line of a reply, without the "+GMI:" style echo of the command name
// and without enclosing quotes.
QString InfoValue(const QStringList& info) {
    if (info.isEmpty()) return QString();
    QString value = info.first();
    if (value.startsWith('+')) {
        const qsizetype colon = value.indexOf(':');
        if (colon > 0) value = value.mid(colon + 1).trimmed();
    }
    if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
        value = value.mid(1, value.size() - 2).trimmed();
    return value;
}

class TDialogue {
public:
    explicit TDialogue(TModemProbe& probe) : mProbe(probe) {}

    bool Done() const { return mStage == stDone; }
    int Fd() const { return mDevice.Fd(); }

    void Start(const TModemProbeTimes& times, Clock::time_point now) {
        mTimes = times;
        const int rc = mDevice.Open(mProbe.Path);
        if (rc == -EBUSY) {
            Finish(TModemProbe::InUse);
            return;
        }
        if (rc < 0) {
            mProbe.Error = SystemErrorText(-rc);
            Finish(TModemProbe::NotOpened);
            return;
        }
        SerialLineSettings line;
        line.Baud = 9600; // every Hayes modem takes commands at this speed
        const int applied = mDevice.Apply(line);
        if (applied < 0) {
            mProbe.Error = SystemErrorText(-applied);
            Finish(TModemProbe::NotOpened);
            return;
        }
        mDevice.SetControlLines(true, true);
        mDevice.Flush(true, false); // whatever waited in the input is no answer of ours
        mAnswerDeadline = now + milliseconds(std::max(mTimes.AnswerMs, 1));
        mResendAt = now + milliseconds(std::max(mTimes.AnswerMs, 1) / 2);
        Send(stAt, now);
    }

    // The earliest moment something must happen without input.
    Clock::time_point Wake() const {
        Clock::time_point wake = mStageDeadline;
        if (mStage == stAt && !mResent && mBytes == 0) wake = std::min(wake, mResendAt);
        if (mStage != stAt) wake = std::min(wake, mInfoDeadline);
        return wake;
    }

    // Reads what the device has; `events` are the poll results.
    void Input(short events, Clock::time_point now) {
        char buffer[1024];
        for (;;) {
            const int n = mDevice.Read(buffer, int(sizeof buffer));
            if (n < 0) { // the device went away
                Finish(mAnswered ? TModemProbe::Answered : TModemProbe::NoAnswer);
                return;
            }
            if (n == 0) break;
            mBytes += n;
            for (const QString& line : mLines.Feed(buffer, n)) {
                Line(line, now);
                if (Done()) return;
            }
            if (mBytes > MaxReplyBytes) {
                StageFailed(now, /*endless=*/true);
                return;
            }
        }
        if (events & (POLLHUP | POLLERR | POLLNVAL))
            Finish(mAnswered ? TModemProbe::Answered : TModemProbe::NoAnswer);
    }

    void Tick(Clock::time_point now) {
        if (Done()) return;
        if (mStage == stAt && !mResent && mBytes == 0 && now >= mResendAt) {
            // A modem may miss the first command while it wakes or finds the speed.
            mResent = true;
            if (!Write(StageCommands[stAt])) Finish(TModemProbe::NoAnswer);
            return;
        }
        if (mStage != stAt && now >= mInfoDeadline) {
            Finish(TModemProbe::Answered);
            return;
        }
        if (now >= mStageDeadline) StageFailed(now, false);
    }

private:
    bool Write(const char* command) {
        const QByteArray bytes = QByteArray(command) + '\r';
        return mDevice.Write(bytes.constData(), int(bytes.size())) == bytes.size();
    }

    void Send(TStage stage, Clock::time_point now) {
        mStage = stage;
        mInfo.clear();
        mBytes = 0;
        mLines.Reset();
        if (stage == stAt) {
            mStageDeadline = mAnswerDeadline;
        } else {
            mStageDeadline = now + milliseconds(std::max(mTimes.CommandMs, 1));
        }
        if (!Write(StageCommands[stage])) StageFailed(now, true);
    }

    void Line(const QString& line, Clock::time_point now) {
        if (line.compare(QLatin1String(StageCommands[mStage]), Qt::CaseInsensitive) == 0)
            return; // the modem's echo of our command
        if (line == QLatin1String("OK")) {
            StageEnded(true, now);
        } else if (line == QLatin1String("ERROR")) {
            StageEnded(false, now);
        } else if (mStage != stAt && mInfo.size() < MaxInfoLines) {
            mInfo.append(line);
        }
    }

    void StageEnded(bool ok, Clock::time_point now) {
        switch (mStage) {
        case stAt:
            if (!ok) { // something that says ERROR to a plain "AT" is not taken for a modem
                Finish(TModemProbe::NoAnswer);
                return;
            }
            mAnswered = true;
            mInfoDeadline = now + milliseconds(2 * std::max(mTimes.CommandMs, 1));
            Send(stGmi, now);
            return;
        case stGmi:
        case stAti3:
            if (ok && !InfoValue(mInfo).isEmpty()) {
                mProbe.Manufacturer = InfoValue(mInfo);
                Send(stGmm, now);
            } else {
                Send(mStage == stGmi ? stAti3 : stGmm, now);
            }
            return;
        case stGmm:
        case stAti4:
            if (ok && !InfoValue(mInfo).isEmpty()) {
                mProbe.Model = InfoValue(mInfo);
                Finish(TModemProbe::Answered);
            } else if (mStage == stGmm) {
                Send(stAti4, now);
            } else {
                Finish(TModemProbe::Answered);
            }
            return;
        case stDone:
            return;
        }
    }

    // No usable reply in time, or a reply that does not end.
    void StageFailed(Clock::time_point now, bool endless) {
        if (mStage == stAt) {
            Finish(TModemProbe::NoAnswer);
        } else if (endless) {
            Finish(TModemProbe::Answered); // keep what was learnt; more questions would not help
        } else {
            StageEnded(false, now);
        }
    }

    void Finish(TModemProbe::TOutcome outcome) {
        mProbe.Outcome = outcome;
        mStage = stDone;
        if (mDevice.IsOpen()) {
            // Unsent output must not hold up the close (a stopped line can keep it for seconds).
            mDevice.Flush(true, true);
            mDevice.Close();
        }
    }

    TModemProbe& mProbe;
    TModemProbeTimes mTimes;
    SerialDevice mDevice;
    TModemReplyLines mLines;
    TStage mStage = stAt;
    QStringList mInfo;
    int mBytes = 0; // received since the current command was sent
    bool mResent = false;
    bool mAnswered = false;
    Clock::time_point mAnswerDeadline, mResendAt, mStageDeadline, mInfoDeadline;
};
} // namespace

void ProbeModems(std::vector<TModemProbe>& probes, const TModemProbeTimes& times) {
    std::vector<std::unique_ptr<TDialogue>> dialogues;
    dialogues.reserve(probes.size());
    for (TModemProbe& probe : probes) {
        probe.Outcome = TModemProbe::NotAsked;
        probe.Error.clear();
        probe.Manufacturer.clear();
        probe.Model.clear();
        dialogues.push_back(std::make_unique<TDialogue>(probe));
        dialogues.back()->Start(times, Clock::now());
    }
    std::vector<pollfd> fds;
    std::vector<TDialogue*> polled;
    for (;;) {
        fds.clear();
        polled.clear();
        Clock::time_point wake = Clock::time_point::max();
        for (const auto& d : dialogues) {
            if (d->Done()) continue;
            fds.push_back(pollfd{d->Fd(), POLLIN, 0});
            polled.push_back(d.get());
            wake = std::min(wake, d->Wake());
        }
        if (polled.empty()) return;
        const auto left = std::chrono::ceil<milliseconds>(wake - Clock::now()).count();
        const int timeout = int(std::clamp<long long>(left, 0, 60000));
        const int ready = ::poll(fds.data(), nfds_t(fds.size()), timeout);
        if (ready < 0 && errno != EINTR) {
            // Cannot wait for input at all: nobody gets an answer.
            for (TDialogue* d : polled)
                d->Tick(Clock::time_point::max());
            continue;
        }
        const Clock::time_point now = Clock::now();
        for (size_t i = 0; ready > 0 && i < fds.size(); ++i)
            if (fds[i].revents != 0) polled[i]->Input(fds[i].revents, now);
        for (TDialogue* d : polled)
            d->Tick(now);
    }
}
