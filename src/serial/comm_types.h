#pragma once
// The port's vocabulary: line settings, events and their mask bits, line error and purge flags,
// thread priorities, and sets of enumeration members.
#include <cstdint>
#include <initializer_list>

enum TVaBaudrate {
    brUser,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
enum TVaParity { paNone, paOdd, paEven, paMark, paSpace };
enum TVaDatabits { db4, db5, db6, db7, db8 };
enum TVaStopbits { sb1, sb15, sb2 };
enum TVaCommOption { coErrorChar, coNullStrip, coParityCheck };
enum TVaCommEvent {
    ceBreak,
    ceCts,
    ceDsr,
    ceError,
    ceRing,
    ceRlsd,
    ceRxChar,
    ceTxEmpty,
    ceRxFlag,
    cePErr,
    ceRx80Full,
    ceEvent1,
    ceEvent2
};
enum TVaControlDtr { dtrDisabled, dtrEnabled, dtrHandshake };
enum TVaControlRts { rtsDisabled, rtsEnabled, rtsHandshake, rtsToggle };
// The seven-step priority scale of the worker threads.
enum TVaThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// Bits per second of a TVaBaudrate member (brUser gives 0: the port uses UserBaudrate).
int BaudrateValue(TVaBaudrate rate);

// Event-mask bits, as delivered to OnXxx handlers and to clients' HandleCommEvent.
constexpr uint32_t VaEvRxChar = 0x0001;
constexpr uint32_t VaEvRxFlag = 0x0002;
constexpr uint32_t VaEvTxEmpty = 0x0004;
constexpr uint32_t VaEvCts = 0x0008;
constexpr uint32_t VaEvDsr = 0x0010;
constexpr uint32_t VaEvRlsd = 0x0020;
constexpr uint32_t VaEvBreak = 0x0040;
constexpr uint32_t VaEvErr = 0x0080;
constexpr uint32_t VaEvRing = 0x0100;
constexpr uint32_t VaEvPErr = 0x0200;
constexpr uint32_t VaEvRx80Full = 0x0400;
constexpr uint32_t VaEvEvent1 = 0x0800;
constexpr uint32_t VaEvEvent2 = 0x1000;
// The mask bit of one TVaCommEvent member.
uint32_t CommEventBit(TVaCommEvent event);

// Line error flags (TVaCommStatus::Errors, the OnError argument).
constexpr uint32_t VaCeRxOver = 0x0001;  // input queue overflowed
constexpr uint32_t VaCeOverrun = 0x0002; // character lost by the hardware
constexpr uint32_t VaCeRxParity = 0x0004;
constexpr uint32_t VaCeFrame = 0x0008;
constexpr uint32_t VaCeBreak = 0x0010;
constexpr uint32_t VaCeIoe = 0x0400; // the device refused a background write

// Purge flags.
constexpr uint32_t VaPurgeTxAbort = 0x1;
constexpr uint32_t VaPurgeRxAbort = 0x2;
constexpr uint32_t VaPurgeTxClear = 0x4;
constexpr uint32_t VaPurgeRxClear = 0x8;

// A set of enumeration members (members must be below 32).
template <typename E> class TVaSet {
public:
    constexpr TVaSet() = default;
    constexpr TVaSet(std::initializer_list<E> members) {
        for (E m : members)
            mBits |= Bit(m);
    }
    constexpr bool Contains(E m) const { return (mBits & Bit(m)) != 0; }
    constexpr TVaSet& Include(E m) {
        mBits |= Bit(m);
        return *this;
    }
    constexpr TVaSet& Exclude(E m) {
        mBits &= ~Bit(m);
        return *this;
    }
    constexpr bool Empty() const { return mBits == 0; }
    constexpr uint32_t Bits() const { return mBits; }
    static constexpr TVaSet FromBits(uint32_t bits) {
        TVaSet s;
        s.mBits = bits;
        return s;
    }
    friend constexpr TVaSet operator+(TVaSet a, TVaSet b) { return FromBits(a.mBits | b.mBits); }
    friend constexpr TVaSet operator-(TVaSet a, TVaSet b) { return FromBits(a.mBits & ~b.mBits); }
    friend constexpr TVaSet operator*(TVaSet a, TVaSet b) { return FromBits(a.mBits & b.mBits); }
    friend constexpr bool operator==(TVaSet a, TVaSet b) { return a.mBits == b.mBits; }

private:
    static constexpr uint32_t Bit(E m) { return uint32_t(1) << unsigned(m); }
    uint32_t mBits = 0;
};
using TVaCommOptions = TVaSet<TVaCommOption>;
using TVaCommEvents = TVaSet<TVaCommEvent>;
