#pragma once
// One simulated Hayes modem: the pseudo-terminal a program opens as its port, and the modem's
// command interpreter behind it.
//
// In command state the modem echoes what it receives (E1), collects a line that starts with "AT"
// (anything before it is ignored, as on a real modem) and executes it at the carriage return (S3),
// one command after the other ("ATZE1M1"). Replies are verbal with CR LF framing ("\r\nOK\r\n"),
// or numeric with V0, or absent with Q1. In data state the bytes go to the exchange, which
// carries them to the modem at the other end of the call; "+++" (S2) between two guard times
// (S12, in 1/50 s) brings the modem back to command state without ending the call. A "~" right
// after the three escape characters stands for the trailing guard time, so that a configured
// hang-up string such as "+++~~~ATH0^M", sent in one piece, works as its author meant.
//
// The program closing its port is taken as DTR dropping: with &D2 (the default) the call is hung
// up. Nobody reads the port then, so replies and rings are not sent and S0 does not answer.
#include "event_log.h"
#include "pty.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace linesim {

class HayesModem;

// Result codes, by their numeric (V0) values.
enum class ModemResult {
    Ok = 0,
    Connect = 1,
    Ring = 2,
    NoCarrier = 3,
    Error = 4,
    NoDialtone = 6,
    Busy = 7,
    NoAnswer = 8,
    None = -1 // nothing is said (a call that times out without a word)
};

// What a modem asks of the telephone exchange.
class Switchboard {
public:
    // Dials `number` (digits, '*', '#'); `local` is the part after the last pause ('W' or ','),
    // tried when the whole number is not known (digits before it select an outside line).
    virtual void Dial(HayesModem& modem, const std::string& number, const std::string& local,
                      Nanos now) = 0;
    // Answers a call that rings this modem. Returns false when none does.
    virtual bool Answer(HayesModem& modem, Nanos now) = 0;
    // Ends the call the modem takes part in, if any.
    virtual void HangUp(HayesModem& modem, const char* reason, Nanos now) = 0;
    // Bytes the modem's program sent in data state.
    virtual void Transmit(HayesModem& modem, const unsigned char* data, std::size_t size,
                          Nanos now) = 0;
    // False while the line of the modem's call holds all it can: stop reading the program.
    virtual bool LineWantsInput(const HayesModem& modem) const = 0;

protected:
    ~Switchboard() = default;
};

// How one modem is set up on the command line.
struct ModemSetup {
    std::string link;   // where its port is published (empty: not published)
    std::string number; // its telephone number
    std::string maker = "linesim";
    std::string model = "Virtual Hayes modem";
    bool silent = false;     // never says or does anything: for time-outs
    bool noDialtone = false; // its line is dead: dialling gives NO DIALTONE
    int s0 = 0;              // auto-answer after this many rings (0: off) at start and after ATZ
};

class HayesModem {
public:
    enum class State {
        Command,       // offline, taking commands
        Dialing,       // waiting for the called modem to answer
        Answering,     // answered (ATA or S0), waiting for the carrier
        Online,        // data state
        OnlineCommand, // in a call, taking commands after "+++"
    };

    HayesModem(const ModemSetup& setup, std::uint32_t speed, EventLog& log, Switchboard& board);
    HayesModem(const HayesModem&) = delete;
    HayesModem& operator=(const HayesModem&) = delete;

    const ModemSetup& Setup() const { return mSetup; }
    const std::string& Number() const { return mSetup.number; }
    PtyEnd& End() { return mEnd; }
    State GetState() const { return mState; }
    int Register(int index) const { return mRegs[std::size_t(index)]; }
    // A program has the port open (DTR is on).
    bool DtePresent() const { return mEnd.Users() > 0; }
    // Busy for an incoming call: off-hook or waiting on its own command.
    bool Idle() const { return mState == State::Command; }

    // Bytes the program wrote to its port.
    void FromDte(const unsigned char* data, std::size_t size, Nanos now);
    // Whether the port should be read now (output waiting to be written holds it back).
    bool WantsInput() const;
    // Call after the pseudo-terminal's open/close events have been handled: reacts to the last
    // user leaving (DTR dropped).
    void UsersChanged(int before, Nanos now);

    // From the exchange.
    void Ring(Nanos now);
    void Connected(Nanos now);
    void CallFailed(ModemResult result); // while dialling: BUSY, NO DIALTONE, NO ANSWER...
    void CarrierLost();                  // the call ended from the other side, or was cut
    void ResetRings() { mRegs[1] = 0; }
    // Whether data for the program may be queued now (online, and little output waiting).
    bool AcceptsData() const;
    void DeliverData(const std::string& bytes);

    // Bytes waiting for the program; written by the owner of the loop.
    std::string& Output() { return mOut; }
    void DropOutput() { mOut.clear(); }

    std::optional<Nanos> NextDeadline() const;
    void OnTime(Nanos now);

private:
    void FactoryReset();
    void CommandByte(unsigned char byte, Nanos now);
    void Execute(const std::string& body, Nanos now);
    void Reply(ModemResult result);
    void Info(const std::string& text);
    void Say(const std::string& bytes);
    void EnterCommand(State state);
    void Escape(Nanos now);
    void FlushTransmit(Nanos now);
    Nanos GuardNanos() const;
    void LogBytes(const char* what, const std::string& bytes);

    ModemSetup mSetup;
    std::uint32_t mSpeed;
    EventLog& mLog;
    Switchboard& mBoard;
    PtyEnd mEnd;
    State mState = State::Command;
    std::string mOut;

    // The profile.
    bool mEcho = true, mVerbose = true, mQuiet = false;
    int mX = 4, mDtrMode = 2;
    std::array<int, 256> mRegs{};

    // Command line assembly: 0 waiting for 'A', 1 after 'A', 2 inside a line after "AT".
    int mScan = 0;
    std::string mLine;
    bool mLineTooLong = false;
    std::string mLastLine; // for "A/"

    // Escape detection in data state.
    Nanos mLastDataAt = 0;
    Nanos mLastPlusAt = 0;
    int mPluses = 0;
    bool mEscapePending = false;
    bool mSwallowTildes = false;
    std::string mTransmit; // data bytes of the chunk being read, not yet handed to the exchange

    // ATA with no call ringing: no carrier comes; give up after S7 seconds.
    std::optional<Nanos> mAnswerGiveUpAt;
};

} // namespace linesim
