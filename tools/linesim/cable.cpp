#include "cable.h"

#include "pty.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <stdexcept>
#include <vector>

namespace linesim {

namespace {

// Deliveries due within this much of each other are written together, so that 115200 bit/s
// costs a wake-up per two bytes rather than per byte. It is also the most a lone byte (an ACK)
// arrives late, so it stays well below a byte time at the speeds that matter: at half a
// millisecond every block of a stop-and-wait transfer lost 1 % of the line to the simulator.
constexpr Nanos kWakeGranularity = kNanosPerMs / 10;
// After an end reports an error on read, it is not polled for input again for this long.
constexpr Nanos kInputRetry = 100 * kNanosPerMs;

struct Direction {
    PtyEnd& from;
    PtyEnd& to;
    Line& line;
    Nanos inputPausedUntil = 0;
};

class Cable {
public:
    Cable(const CableOptions& options, EventLog& log, SignalPipe& signals)
        : mOptions(options), mLog(log), mSignals(signals), mA("a"), mB("b"),
          mAb("ab", options.ab, log),
          mBa("ba", options.ba, log), mDirs{Direction{mA, mB, mAb}, Direction{mB, mA, mBa}} {}

    int Run();

private:
    void Start();
    void CutCable(const char* reason);
    void RestoreCable();
    void ReadFrom(Direction& dir, Nanos now);
    void WriteTo(Direction& dir);
    void Summary();

    const CableOptions& mOptions;
    EventLog& mLog;
    SignalPipe& mSignals;
    PtyEnd mA, mB;
    Line mAb, mBa;
    Direction mDirs[2];
    bool mHungUp = false;
};

void Cable::Start() {
    mA.Open();
    mB.Open();
    if (!mOptions.linkA.empty()) mA.Publish(mOptions.linkA);
    if (!mOptions.linkB.empty()) mB.Publish(mOptions.linkB);
    mLog.Write("cable a=%s%s%s b=%s%s%s cut-mode=%s", mA.SlavePath().c_str(),
               mA.LinkPath().empty() ? "" : " link=", mA.LinkPath().c_str(), mB.SlavePath().c_str(),
               mB.LinkPath().empty() ? "" : " link=", mB.LinkPath().c_str(),
               mOptions.cutMode == CutMode::Hangup ? "hangup" : "quiet");
    for (const Line* line : {&mAb, &mBa}) {
        const LineConfig& c = line->Config();
        mLog.Write("%s baud=%u bits=%u latency-ms=%d corrupt-rate=%g drop-rate=%g seed=%llu",
                   line->Name().c_str(), c.baud, c.bitsPerByte, c.latencyMs, c.corruptRate,
                   c.dropRate, static_cast<unsigned long long>(c.seed));
    }
    std::printf("ready a=%s b=%s\n", mA.SlavePath().c_str(), mB.SlavePath().c_str());
    std::fflush(stdout);
}

void Cable::CutCable(const char* reason) {
    if (mAb.IsCut() && mBa.IsCut()) return;
    mAb.Cut();
    mBa.Cut();
    if (mOptions.cutMode == CutMode::Hangup) {
        mLog.Write("cut (%s) mode=hangup: ends closed, links removed", reason);
        for (PtyEnd* end : {&mA, &mB}) {
            end->Unpublish();
            end->Close();
        }
        mHungUp = true;
    } else {
        mLog.Write("cut (%s) mode=quiet", reason);
    }
}

void Cable::RestoreCable() {
    if (mHungUp) {
        mLog.Write("restore refused: the ends were hung up");
        return;
    }
    if (!mAb.IsCut()) return;
    mAb.Restore();
    mBa.Restore();
    mLog.Write("restored (SIGUSR2)");
}

void Cable::ReadFrom(Direction& dir, Nanos now) {
    unsigned char buf[4096];
    // A few reads per wake-up: enough to drain a full pseudo-terminal buffer, few enough that a
    // fast writer cannot hold up deliveries in the other direction.
    for (int i = 0; i < 16 && dir.line.WantsInput(); ++i) {
        const ssize_t n = dir.from.Read(buf, sizeof buf);
        if (n > 0) {
            dir.line.Accept(buf, size_t(n), now);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 || errno != EAGAIN) {
            // Should not happen while the slave is held open; never spin on it.
            mLog.Write("end %s: read failed (%s)", dir.from.Name().c_str(),
                       n == 0 ? "end of file" : std::strerror(errno));
            dir.inputPausedUntil = now + kInputRetry;
        }
        return;
    }
}

void Cable::WriteTo(Direction& dir) {
    while (!dir.line.Ready().empty()) {
        const std::string& ready = dir.line.Ready();
        const ssize_t n = dir.to.Write(ready.data(), ready.size());
        if (n > 0) {
            dir.line.ConsumeReady(size_t(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) {
            mLog.Write("end %s: write failed (%s)", dir.to.Name().c_str(), std::strerror(errno));
        }
        return; // the reader's buffer is full: wait until the end is writable
    }
}

void Cable::Summary() {
    for (const Line* line : {&mAb, &mBa}) {
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

int Cable::Run() {
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
        for (Direction& dir : mDirs) {
            if (dir.line.TakeDue(now)) CutCable("cut-after");
        }
        for (Direction& dir : mDirs) {
            if (dir.to.IsOpen()) WriteTo(dir);
        }

        // What to wait for: signals, open/close of the devices, input where the line has room,
        // output where delivered bytes wait, and the next due byte of the other lines.
        std::vector<pollfd> fds;
        fds.push_back({mSignals.Fd(), POLLIN, 0});
        Nanos wakeAt = -1;
        auto wakeNoLaterThan = [&](Nanos t) { wakeAt = wakeAt < 0 ? t : std::min(wakeAt, t); };
        for (Direction& dir : mDirs) {
            if (!dir.from.IsOpen()) continue;
            if (dir.line.WantsInput()) {
                if (now >= dir.inputPausedUntil) {
                    fds.push_back({dir.from.MasterFd(), POLLIN, 0});
                } else {
                    wakeNoLaterThan(dir.inputPausedUntil);
                }
            }
            fds.push_back({dir.from.WatchFd(), POLLIN, 0});
        }
        for (Direction& dir : mDirs) {
            if (!dir.line.Ready().empty() && dir.to.IsOpen()) {
                fds.push_back({dir.to.MasterFd(), POLLOUT, 0});
            } else if (auto due = dir.line.NextDue()) {
                wakeNoLaterThan(std::max(*due, now + kWakeGranularity));
            }
        }
        timespec timeout{};
        timespec* timeoutPtr = nullptr;
        if (wakeAt >= 0) {
            const Nanos wait = std::max<Nanos>(0, wakeAt - now);
            timeout.tv_sec = wait / kNanosPerSecond;
            timeout.tv_nsec = wait % kNanosPerSecond;
            timeoutPtr = &timeout;
        }
        if (ppoll(fds.data(), fds.size(), timeoutPtr, nullptr) < 0 && errno != EINTR) {
            mLog.Write("error: poll failed (%s)", std::strerror(errno));
            break;
        }
        now = NowNanos();

        for (int signo : mSignals.Take()) {
            if (signo == SIGUSR1) {
                CutCable("SIGUSR1");
            } else if (signo == SIGUSR2) {
                RestoreCable();
            } else {
                mLog.Write("stopping (%s)", strsignal(signo));
                running = false;
            }
        }
        for (const pollfd& p : fds) {
            if (!p.revents) continue;
            for (Direction& dir : mDirs) {
                if (!dir.from.IsOpen()) continue;
                if (p.fd == dir.from.WatchFd()) dir.from.HandleWatchEvents(mLog);
                if (p.fd != dir.from.MasterFd() || !(p.events & POLLIN)) continue;
                if (p.revents & POLLIN) {
                    ReadFrom(dir, now);
                } else if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
                    mLog.Write("end %s: hang-up or error on the line", dir.from.Name().c_str());
                    dir.inputPausedUntil = now + kInputRetry;
                }
            }
        }
    }
    Summary();
    mA.Unpublish();
    mB.Unpublish();
    return 0;
}

} // namespace

int RunCable(const CableOptions& options, EventLog& log, SignalPipe& signals) {
    Cable cable(options, log, signals);
    return cable.Run();
}

} // namespace linesim
