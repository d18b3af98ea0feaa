#include "exchange.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <poll.h>
#include <stdexcept>

namespace linesim {

namespace {

// As in the cable: deliveries due within this much of each other are handled in one wake-up.
constexpr Nanos kWakeGranularity = kNanosPerMs / 10;
// After a port reports an error on read, it is not polled for input again for this long.
constexpr Nanos kInputRetry = 100 * kNanosPerMs;

struct Call {
    enum class Phase { Ringing, Connecting, Connected };
    int id = 0;
    HayesModem* caller = nullptr;
    HayesModem* callee = nullptr; // none: nobody has the number dialled
    Phase phase = Phase::Ringing;
    Nanos nextRing = 0;
    Nanos giveUpAt = 0;
    Nanos connectAt = 0;
    std::unique_ptr<Line> ab, ba; // while connected
    bool ended = false;

    bool Has(const HayesModem& modem) const { return caller == &modem || callee == &modem; }
    HayesModem* Other(const HayesModem& modem) const { return caller == &modem ? callee : caller; }
};

class Exchange final : public Switchboard {
public:
    Exchange(const ModemsOptions& options, EventLog& log, SignalPipe& signals)
        : mOptions(options), mLog(log), mSignals(signals) {
        for (const ModemSetup& setup : options.modems)
            mModems.push_back(std::make_unique<HayesModem>(setup, options.speed, log, *this));
        mInputPausedUntil.assign(mModems.size(), 0);
    }

    int Run();

    void Dial(HayesModem& modem, const std::string& number, const std::string& local,
              Nanos now) override;
    bool Answer(HayesModem& modem, Nanos now) override;
    void HangUp(HayesModem& modem, const char* reason, Nanos now) override;
    void Transmit(HayesModem& modem, const unsigned char* data, std::size_t size,
                  Nanos now) override;
    bool LineWantsInput(const HayesModem& modem) const override;

private:
    void Start();
    Call* CallOf(const HayesModem& modem) const;
    HayesModem* Find(const std::string& number) const;
    void EndCall(Call& call, const char* reason);
    void CutCall(Call& call, const char* reason);
    void Tick(Nanos now);
    void Deliver(Nanos now);
    void ReadFrom(std::size_t index, Nanos now);
    void WriteTo(HayesModem& modem);
    std::optional<Nanos> NextWake(Nanos now) const;

    const ModemsOptions& mOptions;
    EventLog& mLog;
    SignalPipe& mSignals;
    std::vector<std::unique_ptr<HayesModem>> mModems;
    std::vector<Nanos> mInputPausedUntil;
    std::vector<std::unique_ptr<Call>> mCalls;
    int mNextCallId = 1;
};

void Exchange::Start() {
    for (auto& modem : mModems) {
        PtyEnd& end = modem->End();
        end.Open();
        if (!modem->Setup().link.empty()) end.Publish(modem->Setup().link);
        const ModemSetup& s = modem->Setup();
        mLog.Write("modem %s port=%s%s%s maker=\"%s\" model=\"%s\"%s%s%s", s.number.c_str(),
                   end.SlavePath().c_str(),
                   end.LinkPath().empty() ? "" : " link=", end.LinkPath().c_str(), s.maker.c_str(),
                   s.model.c_str(), s.silent ? " silent" : "", s.noDialtone ? " no-dialtone" : "",
                   s.s0 ? (" s0=" + std::to_string(s.s0)).c_str() : "");
    }
    for (const LineConfig* c : {&mOptions.ab, &mOptions.ba}) {
        mLog.Write("%s baud=%u bits=%u latency-ms=%d corrupt-rate=%g drop-rate=%g seed=%llu",
                   c == &mOptions.ab ? "ab" : "ba", c->baud, c->bitsPerByte, c->latencyMs,
                   c->corruptRate, c->dropRate, static_cast<unsigned long long>(c->seed));
    }
    mLog.Write("exchange speed=%u ring-interval-ms=%d connect-ms=%d", mOptions.speed,
               mOptions.ringIntervalMs, mOptions.connectMs);
    std::string ready = "ready";
    for (const auto& modem : mModems)
        ready += " " + modem->Number() + "=" + modem->End().SlavePath();
    std::printf("%s\n", ready.c_str());
    std::fflush(stdout);
}

Call* Exchange::CallOf(const HayesModem& modem) const {
    for (const auto& call : mCalls)
        if (!call->ended && call->Has(modem)) return call.get();
    return nullptr;
}

HayesModem* Exchange::Find(const std::string& number) const {
    for (const auto& modem : mModems)
        if (modem->Number() == number) return modem.get();
    return nullptr;
}

void Exchange::Dial(HayesModem& modem, const std::string& number, const std::string& local,
                    Nanos now) {
    mLog.Write("modem %s dials %s", modem.Number().c_str(), number.c_str());
    if (modem.Setup().noDialtone) {
        mLog.Write("modem %s: no dial tone", modem.Number().c_str());
        modem.CallFailed(ModemResult::NoDialtone);
        return;
    }
    HayesModem* callee = Find(number);
    if (!callee && !local.empty() && local != number) callee = Find(local);
    if (callee && (callee == &modem || !callee->Idle() || CallOf(*callee))) {
        mLog.Write("modem %s: %s is busy", modem.Number().c_str(), callee->Number().c_str());
        modem.CallFailed(ModemResult::Busy);
        return;
    }
    auto call = std::make_unique<Call>();
    call->id = mNextCallId++;
    call->caller = &modem;
    call->callee = callee;
    call->nextRing = now;
    call->giveUpAt = now + Nanos(modem.Register(7)) * kNanosPerSecond;
    if (callee) {
        mLog.Write("call %d: %s -> %s, ringing", call->id, modem.Number().c_str(),
                   callee->Number().c_str());
    } else {
        mLog.Write("call %d: %s -> %s, no such number", call->id, modem.Number().c_str(),
                   number.c_str());
    }
    mCalls.push_back(std::move(call));
}

bool Exchange::Answer(HayesModem& modem, Nanos now) {
    for (auto& call : mCalls) {
        if (call->ended || call->callee != &modem || call->phase != Call::Phase::Ringing) continue;
        call->phase = Call::Phase::Connecting;
        call->connectAt = now + Nanos(mOptions.connectMs) * kNanosPerMs;
        mLog.Write("call %d: answered by %s", call->id, modem.Number().c_str());
        return true;
    }
    mLog.Write("modem %s answers, but no call rings it", modem.Number().c_str());
    return false;
}

void Exchange::EndCall(Call& call, const char* reason) {
    call.ended = true;
    if (call.callee) call.callee->ResetRings();
    mLog.Write("call %d ended (%s)", call.id, reason);
    for (const Line* line : {call.ab.get(), call.ba.get()}) {
        if (!line) continue;
        const LineStats& s = line->Stats();
        mLog.Write("summary %s in=%llu delivered=%llu corrupted=%llu dropped=%llu stalls=%llu "
                   "lost-to-cut=%llu pending=%zu",
                   line->Name().c_str(), static_cast<unsigned long long>(s.in),
                   static_cast<unsigned long long>(s.delivered),
                   static_cast<unsigned long long>(s.corrupted),
                   static_cast<unsigned long long>(s.dropped),
                   static_cast<unsigned long long>(s.stalls),
                   static_cast<unsigned long long>(s.lostToCut), line->Pending());
    }
}

void Exchange::HangUp(HayesModem& modem, const char* reason, Nanos now) {
    Call* call = CallOf(modem);
    if (!call) return;
    if (call->phase == Call::Phase::Ringing) {
        // Only the caller can end a call that has not been answered.
        if (call->caller != &modem) return;
        EndCall(*call, reason);
        return;
    }
    mLog.Write("modem %s hangs up (%s)", modem.Number().c_str(), reason);
    if (call->phase == Call::Phase::Connected) {
        // What has reached the far modem by now is delivered before its NO CARRIER (the "+++"
        // of a hang-up string among it); what is still on its way is lost.
        for (auto [line, to] :
             {std::pair{call->ab.get(), call->callee}, std::pair{call->ba.get(), call->caller}}) {
            if (to->GetState() != HayesModem::State::Online) continue;
            if (!line->TakeDue(now) && !line->Ready().empty()) {
                to->DeliverData(line->Ready());
                line->ConsumeReady(line->Ready().size());
            }
        }
    }
    HayesModem* other = call->Other(modem);
    EndCall(*call, reason);
    if (other) other->CarrierLost();
}

void Exchange::CutCall(Call& call, const char* reason) {
    mLog.Write("call %d cut (%s)", call.id, reason);
    const bool ringing = call.phase == Call::Phase::Ringing;
    EndCall(call, reason);
    call.caller->CarrierLost();
    if (call.callee && !ringing) call.callee->CarrierLost();
}

void Exchange::Transmit(HayesModem& modem, const unsigned char* data, std::size_t size, Nanos now) {
    Call* call = CallOf(modem);
    if (!call || call->phase != Call::Phase::Connected) return;
    Line& line = *(call->caller == &modem ? call->ab : call->ba);
    if (mOptions.traceBytes > 0) {
        std::string text;
        for (std::size_t k = 0; k < size && k < mOptions.traceBytes; ++k) {
            const unsigned char c = data[k];
            char hex[8];
            std::snprintf(hex, sizeof hex, c >= 32 && c < 127 && c != '\\' ? "%c" : "\\x%02x", c);
            text += hex;
        }
        mLog.Write("%s data %zu \"%s\"%s", line.Name().c_str(), size, text.c_str(),
                   size > mOptions.traceBytes ? "..." : "");
    }
    line.Accept(data, size, now);
}

bool Exchange::LineWantsInput(const HayesModem& modem) const {
    const Call* call = CallOf(modem);
    if (!call || call->phase != Call::Phase::Connected) return true;
    return (call->caller == &modem ? call->ab : call->ba)->WantsInput();
}

void Exchange::Tick(Nanos now) {
    for (auto& modem : mModems) {
        if (auto at = modem->NextDeadline(); at && *at <= now) modem->OnTime(now);
    }
    // Answers and hang-ups during the loop change phases, never the list itself.
    for (std::size_t i = 0; i < mCalls.size(); ++i) {
        Call& call = *mCalls[i];
        if (call.ended) continue;
        if (call.phase == Call::Phase::Ringing) {
            if (now >= call.giveUpAt) {
                mLog.Write("call %d: no answer", call.id);
                EndCall(call, "no answer");
                call.caller->CallFailed(mOptions.noAnswer);
            } else if (call.callee && now >= call.nextRing) {
                const Nanos interval = Nanos(mOptions.ringIntervalMs) * kNanosPerMs;
                call.nextRing = std::max(call.nextRing + interval, now + interval / 2);
                call.callee->Ring(now);
            }
        }
        if (call.phase == Call::Phase::Connecting && !call.ended && now >= call.connectAt) {
            call.phase = Call::Phase::Connected;
            const std::string prefix = "call" + std::to_string(call.id) + " ";
            call.ab = std::make_unique<Line>(prefix + "ab", mOptions.ab, mLog);
            call.ba = std::make_unique<Line>(prefix + "ba", mOptions.ba, mLog);
            mLog.Write("call %d: connected", call.id);
            call.caller->Connected(now);
            call.callee->Connected(now);
        }
    }
    std::erase_if(mCalls, [](const std::unique_ptr<Call>& call) { return call->ended; });
}

void Exchange::Deliver(Nanos now) {
    for (std::size_t i = 0; i < mCalls.size(); ++i) {
        Call& call = *mCalls[i];
        if (call.ended || call.phase != Call::Phase::Connected) continue;
        for (auto [line, to] :
             {std::pair{call.ab.get(), call.callee}, std::pair{call.ba.get(), call.caller}}) {
            // A modem in command state during the call holds the far side's data back.
            if (!to->AcceptsData()) continue;
            if (line->TakeDue(now)) {
                CutCall(call, "cut-after");
                break;
            }
            if (!line->Ready().empty()) {
                to->DeliverData(line->Ready());
                line->ConsumeReady(line->Ready().size());
            }
        }
    }
    std::erase_if(mCalls, [](const std::unique_ptr<Call>& call) { return call->ended; });
}

void Exchange::ReadFrom(std::size_t index, Nanos now) {
    HayesModem& modem = *mModems[index];
    unsigned char buf[4096];
    for (int i = 0; i < 16 && modem.WantsInput(); ++i) {
        const ssize_t n = modem.End().Read(buf, sizeof buf);
        if (n > 0) {
            modem.FromDte(buf, std::size_t(n), now);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 || errno != EAGAIN) {
            mLog.Write("modem %s: read failed (%s)", modem.Number().c_str(),
                       n == 0 ? "end of file" : std::strerror(errno));
            mInputPausedUntil[index] = now + kInputRetry;
        }
        return;
    }
}

void Exchange::WriteTo(HayesModem& modem) {
    std::string& out = modem.Output();
    if (out.empty()) return;
    // Nobody has the port open: nobody hears the modem.
    if (!modem.DtePresent()) {
        modem.DropOutput();
        return;
    }
    while (!out.empty()) {
        const ssize_t n = modem.End().Write(out.data(), out.size());
        if (n > 0) {
            out.erase(0, std::size_t(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN)
            mLog.Write("modem %s: write failed (%s)", modem.Number().c_str(), std::strerror(errno));
        return;
    }
}

std::optional<Nanos> Exchange::NextWake(Nanos now) const {
    std::optional<Nanos> wake;
    auto noLaterThan = [&](Nanos t) { wake = wake ? std::min(*wake, t) : t; };
    for (std::size_t i = 0; i < mModems.size(); ++i) {
        if (auto at = mModems[i]->NextDeadline()) noLaterThan(*at);
        if (mInputPausedUntil[i] > now) noLaterThan(mInputPausedUntil[i]);
    }
    for (const auto& call : mCalls) {
        switch (call->phase) {
        case Call::Phase::Ringing:
            noLaterThan(call->giveUpAt);
            if (call->callee) noLaterThan(call->nextRing);
            break;
        case Call::Phase::Connecting:
            noLaterThan(call->connectAt);
            break;
        case Call::Phase::Connected:
            for (auto [line, to] : {std::pair{call->ab.get(), call->callee},
                                    std::pair{call->ba.get(), call->caller}}) {
                if (!to->AcceptsData()) continue;
                if (auto due = line->NextDue()) noLaterThan(std::max(*due, now + kWakeGranularity));
            }
            break;
        }
    }
    return wake;
}

int Exchange::Run() {
    try {
        Start();
    } catch (const std::exception& e) {
        mLog.Write("error: %s", e.what());
        if (!mLog.ToStderr()) std::fprintf(stderr, "linesim: %s\n", e.what());
        return 1;
    }
    bool running = true;
    while (running) {
        Nanos now = NowNanos();
        Tick(now);
        Deliver(now);
        for (auto& modem : mModems)
            WriteTo(*modem);

        std::vector<pollfd> fds;
        fds.push_back({mSignals.Fd(), POLLIN, 0});
        for (std::size_t i = 0; i < mModems.size(); ++i) {
            HayesModem& modem = *mModems[i];
            fds.push_back({modem.End().WatchFd(), POLLIN, 0});
            short events = 0;
            if (modem.WantsInput() && now >= mInputPausedUntil[i]) events |= POLLIN;
            if (!modem.Output().empty()) events |= POLLOUT;
            // Polled even without events, so that the fd index below stays simple.
            fds.push_back({modem.End().MasterFd(), events, 0});
        }
        const std::optional<Nanos> wakeAt = NextWake(now);
        timespec timeout{};
        if (wakeAt) {
            const Nanos wait = std::max<Nanos>(0, *wakeAt - now);
            timeout.tv_sec = wait / kNanosPerSecond;
            timeout.tv_nsec = wait % kNanosPerSecond;
        }
        if (ppoll(fds.data(), fds.size(), wakeAt ? &timeout : nullptr, nullptr) < 0 &&
            errno != EINTR) {
            mLog.Write("error: poll failed (%s)", std::strerror(errno));
            break;
        }
        now = NowNanos();

        for (int signo : mSignals.Take()) {
            if (signo == SIGUSR1) {
                if (mCalls.empty()) mLog.Write("SIGUSR1: no call to cut");
                for (auto& call : mCalls)
                    if (!call->ended) CutCall(*call, "SIGUSR1");
                std::erase_if(mCalls,
                              [](const std::unique_ptr<Call>& call) { return call->ended; });
            } else if (signo == SIGUSR2) {
                mLog.Write("SIGUSR2 ignored: a cut call stays cut; dial again");
            } else {
                mLog.Write("stopping (%s)", strsignal(signo));
                running = false;
            }
        }
        // Opens and closes first: bytes a program writes right after opening its port find it
        // counted, and the last bytes of a program that closes its port are still read.
        for (std::size_t i = 0; i < mModems.size(); ++i) {
            if (!fds[1 + 2 * i].revents) continue;
            HayesModem& modem = *mModems[i];
            const int before = modem.End().Users();
            modem.End().HandleWatchEvents(mLog);
            if (before > 0 && modem.End().Users() == 0) {
                ReadFrom(i, now);
                Deliver(now);
                for (auto& other : mModems)
                    if (other.get() != &modem) WriteTo(*other);
                modem.UsersChanged(before, now);
            }
        }
        for (std::size_t i = 0; i < mModems.size(); ++i) {
            const pollfd& p = fds[2 + 2 * i];
            if (p.revents & POLLIN) {
                ReadFrom(i, now);
            } else if ((p.events & POLLIN) && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
                mLog.Write("modem %s: hang-up or error on the port", mModems[i]->Number().c_str());
                mInputPausedUntil[i] = now + kInputRetry;
            }
        }
    }
    for (auto& call : mCalls)
        if (!call->ended) EndCall(*call, "stopping");
    for (auto& modem : mModems)
        modem->End().Unpublish();
    return 0;
}

} // namespace

int RunModems(const ModemsOptions& options, EventLog& log, SignalPipe& signals) {
    Exchange exchange(options, log, signals);
    return exchange.Run();
}

} // namespace linesim
