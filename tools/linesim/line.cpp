#include "line.h"

namespace linesim {

namespace {
// Distinct, fixed seeds per direction and per decision, derived from the one seed given.
std::uint64_t Mix(std::uint64_t seed, const std::string& name, std::uint64_t salt) {
    std::uint64_t h = seed ^ 0x9e3779b97f4a7c15ULL ^ (salt * 0xbf58476d1ce4e5b9ULL);
    for (unsigned char c : name)
        h = (h ^ c) * 0x100000001b3ULL;
    h ^= h >> 31;
    return h;
}
} // namespace

Line::Line(std::string name, const LineConfig& config, EventLog& log)
    : mName(std::move(name)), mConfig(config), mLog(log), mDropRng(Mix(config.seed, mName, 1)),
      mCorruptRng(Mix(config.seed, mName, 2)), mMaskRng(Mix(config.seed, mName, 3)) {}

bool Line::Chance(std::mt19937_64& rng, double rate) {
    if (rate <= 0) return false;
    const double draw = std::uniform_real_distribution<double>(0.0, 1.0)(rng);
    return draw < rate;
}

Nanos Line::Schedule(std::uint64_t offset, Nanos now) {
    auto stall = mConfig.stallAt.find(offset);
    if (stall != mConfig.stallAt.end()) {
        ++mStats.stalls;
        mLog.Write("%s stall offset=%llu ms=%d", mName.c_str(),
                   static_cast<unsigned long long>(offset), stall->second);
        mLineFree = std::max(mLineFree, now) + Nanos(stall->second) * kNanosPerMs;
        mRunBytes = 0;
        mRunStart = mLineFree;
    }
    Nanos end;
    if (mConfig.baud == 0) {
        end = std::max(mLineFree, now);
    } else {
        if (now > mLineFree) {
            // The line was idle: a new busy run starts with this byte.
            mRunStart = now;
            mRunBytes = 0;
        } else if (mRunBytes == 0) {
            mRunStart = mLineFree;
        }
        ++mRunBytes;
        const __int128 bits = static_cast<__int128>(mRunBytes) * mConfig.bitsPerByte;
        end = mRunStart + Nanos(bits * kNanosPerSecond / mConfig.baud);
    }
    mLineFree = end;
    return end + Nanos(mConfig.latencyMs) * kNanosPerMs;
}

void Line::Accept(const unsigned char* data, std::size_t size, Nanos now) {
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint64_t offset = mOffset++;
        ++mStats.in;
        // Every generator draws once for every byte, whatever else happens to it.
        const bool dropByRate = Chance(mDropRng, mConfig.dropRate);
        const bool corruptByRate = Chance(mCorruptRng, mConfig.corruptRate);
        const unsigned char mask = static_cast<unsigned char>(1 + mMaskRng() % 255);
        if (mCut) {
            ++mStats.lostToCut;
            continue;
        }
        if (mCutAfter != CutAfterState::Done && mConfig.cutAfter && offset >= *mConfig.cutAfter) {
            if (mCutAfter == CutAfterState::Armed) {
                // Limit 0: the first byte cuts the cable as it arrives.
                mQueue.push_back({std::max(now, mLineFree), 0, true});
                mCutAfter = CutAfterState::Queued;
            }
            ++mStats.lostToCut;
            continue;
        }
        unsigned char byte = data[i];
        const bool drop = dropByRate || mConfig.dropAt.count(offset);
        const Nanos due = Schedule(offset, now);
        if (drop) {
            ++mStats.dropped;
            mLog.Write("%s drop offset=%llu byte=0x%02x", mName.c_str(),
                       static_cast<unsigned long long>(offset), byte);
        } else {
            if (corruptByRate || mConfig.corruptAt.count(offset)) {
                const unsigned char was = byte;
                byte ^= mask;
                ++mStats.corrupted;
                mLog.Write("%s corrupt offset=%llu 0x%02x->0x%02x", mName.c_str(),
                           static_cast<unsigned long long>(offset), was, byte);
            }
            mQueue.push_back({due, byte, false});
            ++mQueuedBytes;
        }
        if (mConfig.cutAfter && offset + 1 == *mConfig.cutAfter &&
            mCutAfter == CutAfterState::Armed) {
            mQueue.push_back({due, 0, true});
            mCutAfter = CutAfterState::Queued;
        }
    }
}

bool Line::WantsInput() const {
    return Pending() < mConfig.bufferLimit;
}

std::size_t Line::Pending() const {
    return mQueuedBytes + mReady.size();
}

std::optional<Nanos> Line::NextDue() const {
    if (mQueue.empty()) return std::nullopt;
    return mQueue.front().due;
}

bool Line::TakeDue(Nanos now) {
    while (!mQueue.empty() && mQueue.front().due <= now) {
        const Slot slot = mQueue.front();
        // The bytes before the limit reach the far end before the cable is cut.
        if (slot.cutMarker && !mReady.empty()) return false;
        mQueue.pop_front();
        if (slot.cutMarker) {
            mLog.Write("%s cut-after reached offset=%llu", mName.c_str(),
                       static_cast<unsigned long long>(*mConfig.cutAfter));
            return true;
        }
        --mQueuedBytes;
        mReady.push_back(static_cast<char>(slot.byte));
    }
    return false;
}

void Line::ConsumeReady(std::size_t count) {
    mReady.erase(0, count);
    mStats.delivered += count;
}

void Line::Cut() {
    mStats.lostToCut += Pending();
    mQueue.clear();
    mQueuedBytes = 0;
    mReady.clear();
    mCut = true;
    mCutAfter = CutAfterState::Done;
}

void Line::Restore() {
    mCut = false;
    mLineFree = 0;
    mRunBytes = 0;
}

} // namespace linesim
