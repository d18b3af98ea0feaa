#pragma once
// One direction of a virtual line: the bytes one end writes, on their way to the other end.
//
// Each byte that enters gets an offset (0 for the first byte written in this direction since the
// tool started) and goes through, in this order: the cut-after limit, drop, stall, pacing,
// latency, corruption. Pacing serialises bytes like a UART: each byte occupies `bitsPerByte` bit
// times at `baud`, and the schedule is kept in absolute time from the moment the line last went
// busy, so rounding never accumulates over a long transfer. A byte is due at the far end when its
// last bit has arrived plus the latency. Dropped bytes still take their line time (the sender
// spent it); they are only not delivered.
//
// The owner feeds bytes with Accept, moves due bytes to the ready buffer with TakeDue, writes the
// ready bytes to the far end and reports what was written with ConsumeReady.
#include "event_log.h"

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>

namespace linesim {

struct LineConfig {
    std::uint32_t baud = 0;         // 0: bytes are not paced
    std::uint32_t bitsPerByte = 10; // start + 8 data + stop
    int latencyMs = 0;
    double corruptRate = 0; // chance per byte
    double dropRate = 0;
    std::set<std::uint64_t> corruptAt; // offsets
    std::set<std::uint64_t> dropAt;
    std::map<std::uint64_t, int> stallAt;  // offset -> milliseconds the line pauses before it
    std::optional<std::uint64_t> cutAfter; // the cable is cut once this many bytes have passed
    std::uint64_t seed = 1;
    std::size_t bufferLimit = 65536; // bytes held before the source is no longer read
};

struct LineStats {
    std::uint64_t in = 0;        // bytes read from the source end
    std::uint64_t delivered = 0; // bytes written to the far end
    std::uint64_t corrupted = 0;
    std::uint64_t dropped = 0;
    std::uint64_t stalls = 0;
    std::uint64_t lostToCut = 0; // in flight when the cable was cut, or written while it was
};

class Line {
public:
    // `name` ("ab", "ba") prefixes log lines.
    Line(std::string name, const LineConfig& config, EventLog& log);

    const std::string& Name() const { return mName; }
    const LineConfig& Config() const { return mConfig; }
    const LineStats& Stats() const { return mStats; }

    // Takes bytes the source end wrote; `now` is when they were read.
    void Accept(const unsigned char* data, std::size_t size, Nanos now);
    // False while the line holds as many bytes as its buffer limit: stop reading the source.
    bool WantsInput() const;
    // When the next byte (or cut) is due, if anything is in flight.
    std::optional<Nanos> NextDue() const;
    // Moves every byte due at `now` into the ready buffer. Returns true when a cut-after limit has
    // been reached: the owner cuts the whole cable then. The limit counts as reached only once
    // the ready buffer has been written out, so every byte before it is delivered.
    bool TakeDue(Nanos now);
    const std::string& Ready() const { return mReady; }
    void ConsumeReady(std::size_t count);

    // Stops the flow: bytes in flight are lost, bytes that enter later are read and discarded.
    void Cut();
    // Lets bytes flow again after a cut; the cut-after limit does not fire a second time.
    void Restore();
    bool IsCut() const { return mCut; }
    // Bytes accepted but not yet delivered.
    std::size_t Pending() const;

private:
    struct Slot {
        Nanos due;
        unsigned char byte;
        bool cutMarker; // not a byte: the cable is cut when this is due
    };
    enum class CutAfterState { Armed, Queued, Done };

    Nanos Schedule(std::uint64_t offset, Nanos now);
    bool Chance(std::mt19937_64& rng, double rate);

    std::string mName;
    LineConfig mConfig;
    EventLog& mLog;
    LineStats mStats;
    std::deque<Slot> mQueue;
    std::size_t mQueuedBytes = 0;
    std::string mReady;
    std::uint64_t mOffset = 0;
    bool mCut = false;
    CutAfterState mCutAfter = CutAfterState::Armed;
    // Pacing: the line is busy until mLineFree; within a busy run, byte k of the run ends at
    // mRunStart + (k + 1) byte times.
    Nanos mLineFree = 0;
    Nanos mRunStart = 0;
    std::uint64_t mRunBytes = 0;
    // One generator per decision, each drawn once per byte, so a seed gives the same bytes the
    // same fate whatever the timing and whatever happens in the other direction.
    std::mt19937_64 mDropRng;
    std::mt19937_64 mCorruptRng;
    std::mt19937_64 mMaskRng;
};

} // namespace linesim
