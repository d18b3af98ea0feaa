#include "hayes.h"

#include <cctype>
#include <cstdio>

namespace linesim {

namespace {

// Longest command line kept; the rest of a longer line is ignored and the line gives ERROR.
constexpr std::size_t kMaxLine = 255;
// Output waiting for a program that does not read: beyond this the port is not read any more,
// so echo and replies cannot grow without bound.
constexpr std::size_t kMaxOutput = 65536;
// Data for the program is taken from the line only while less than this waits to be written,
// so that the line's own buffer limit holds the sender back.
constexpr std::size_t kDataQueue = 4096;

const char* VerbalText(ModemResult result) {
    switch (result) {
    case ModemResult::Ok:
        return "OK";
    case ModemResult::Connect:
        return "CONNECT";
    case ModemResult::Ring:
        return "RING";
    case ModemResult::NoCarrier:
        return "NO CARRIER";
    case ModemResult::Error:
        return "ERROR";
    case ModemResult::NoDialtone:
        return "NO DIALTONE";
    case ModemResult::Busy:
        return "BUSY";
    case ModemResult::NoAnswer:
        return "NO ANSWER";
    case ModemResult::None:
        break;
    }
    return "";
}

// Printable form of bytes for the log.
std::string Printable(const std::string& bytes) {
    std::string text;
    for (unsigned char c : bytes) {
        if (c >= 32 && c < 127 && c != '\\') {
            text.push_back(char(c));
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            text += hex;
        }
    }
    return text;
}

} // namespace

HayesModem::HayesModem(const ModemSetup& setup, std::uint32_t speed, EventLog& log,
                       Switchboard& board)
    : mSetup(setup), mSpeed(speed), mLog(log), mBoard(board), mEnd(setup.number) {
    FactoryReset();
}

void HayesModem::FactoryReset() {
    mEcho = true;
    mVerbose = true;
    mQuiet = false;
    mX = 4;
    mDtrMode = 2;
    mRegs.fill(0);
    mRegs[0] = mSetup.s0;
    mRegs[2] = '+';  // escape character
    mRegs[3] = '\r'; // command line terminator
    mRegs[4] = '\n'; // reply formatting
    mRegs[5] = 8;    // backspace
    mRegs[6] = 2;    // seconds before blind dialling
    mRegs[7] = 50;   // seconds to wait for the carrier
    mRegs[8] = 2;    // comma pause
    mRegs[10] = 14;  // carrier loss delay
    mRegs[12] = 50;  // escape guard time, 1/50 s
}

Nanos HayesModem::GuardNanos() const {
    return Nanos(mRegs[12]) * 20 * kNanosPerMs;
}

void HayesModem::LogBytes(const char* what, const std::string& bytes) {
    mLog.Write("modem %s %s \"%s\"", mSetup.number.c_str(), what, Printable(bytes).c_str());
}

void HayesModem::Say(const std::string& bytes) {
    if (mSetup.silent) return;
    mOut += bytes;
}

void HayesModem::Reply(ModemResult result) {
    if (result == ModemResult::None) return;
    // Reduced result sets (X0..X3) report what they cannot tell apart as NO CARRIER.
    if ((result == ModemResult::Busy && mX < 3) ||
        (result == ModemResult::NoDialtone && (mX < 2 || mX == 3)))
        result = ModemResult::NoCarrier;
    std::string text = VerbalText(result);
    // Appended piece by piece: '" " + std::to_string(...)' inserts at the front of a temporary,
    // which g++ 12 at -O3 takes for an overlapping copy (-Wrestrict).
    if (result == ModemResult::Connect && mX > 0) {
        text += ' ';
        text += std::to_string(mSpeed);
    }
    mLog.Write("modem %s says %s%s", mSetup.number.c_str(), text.c_str(), mQuiet ? " (quiet)" : "");
    if (mQuiet) return;
    const char cr = char(mRegs[3]), lf = char(mRegs[4]);
    if (mVerbose) {
        Say(std::string{cr, lf} + text + std::string{cr, lf});
    } else {
        Say(std::to_string(int(result)) + cr);
    }
}

void HayesModem::Info(const std::string& text) {
    const char cr = char(mRegs[3]), lf = char(mRegs[4]);
    Say(mVerbose ? std::string{cr, lf} + text + std::string{cr, lf} : text + std::string{cr, lf});
}

void HayesModem::EnterCommand(State state) {
    mState = state;
    mScan = 0;
    mLine.clear();
    mLineTooLong = false;
    mPluses = 0;
    mEscapePending = false;
    mAnswerGiveUpAt.reset();
}

bool HayesModem::WantsInput() const {
    if (mOut.size() >= kMaxOutput) return false;
    if (mState == State::Online) return mBoard.LineWantsInput(*this);
    return true;
}

bool HayesModem::AcceptsData() const {
    return mState == State::Online && mOut.size() < kDataQueue;
}

void HayesModem::DeliverData(const std::string& bytes) {
    mOut += bytes;
}

void HayesModem::FlushTransmit(Nanos now) {
    if (mTransmit.empty()) return;
    mBoard.Transmit(*this, reinterpret_cast<const unsigned char*>(mTransmit.data()),
                    mTransmit.size(), now);
    mTransmit.clear();
}

void HayesModem::FromDte(const unsigned char* data, std::size_t size, Nanos now) {
    if (mSetup.silent) return;
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned char byte = data[i];
        switch (mState) {
        case State::Command:
        case State::OnlineCommand:
            if (mSwallowTildes && byte == '~') continue;
            mSwallowTildes = false;
            CommandByte(byte, now);
            break;
        case State::Dialing:
        case State::Answering:
            // Any character aborts a call being set up, as on a real modem.
            mLog.Write("modem %s: call set-up aborted by a character from the port",
                       mSetup.number.c_str());
            mBoard.HangUp(*this, "aborted", now);
            EnterCommand(State::Command);
            Reply(ModemResult::NoCarrier);
            break;
        case State::Online: {
            if (mEscapePending) {
                if (byte == '~') {
                    FlushTransmit(now);
                    mSwallowTildes = true;
                    Escape(now);
                    continue;
                }
                mEscapePending = false; // not followed by silence: it was data
                mPluses = 0;
            }
            const bool escapeEnabled = mRegs[2] < 128;
            if (escapeEnabled && byte == mRegs[2] &&
                (mPluses > 0 ? now - mLastPlusAt < GuardNanos()
                             : now - mLastDataAt >= GuardNanos())) {
                ++mPluses;
                mLastPlusAt = now;
                if (mPluses == 3) mEscapePending = true;
            } else {
                mPluses = 0;
            }
            mLastDataAt = now;
            mTransmit.push_back(char(byte));
            break;
        }
        }
    }
    FlushTransmit(now);
}

void HayesModem::Escape(Nanos) {
    mLog.Write("modem %s: escape, command state during the call", mSetup.number.c_str());
    EnterCommand(State::OnlineCommand);
    Reply(ModemResult::Ok);
}

void HayesModem::CommandByte(unsigned char byte, Nanos now) {
    if (mEcho) Say(std::string(1, char(byte)));
    const unsigned char upper = static_cast<unsigned char>(std::toupper(byte));
    switch (mScan) {
    case 0:
        if (upper == 'A') mScan = 1;
        return;
    case 1:
        if (upper == 'T') {
            mScan = 2;
            mLine.clear();
            mLineTooLong = false;
        } else if (byte == '/') {
            mScan = 0;
            LogBytes("repeats", "AT" + mLastLine);
            Execute(mLastLine, now);
        } else {
            mScan = upper == 'A' ? 1 : 0;
        }
        return;
    default:
        break;
    }
    if (byte == mRegs[3]) {
        mScan = 0;
        if (mLineTooLong) {
            mLog.Write("modem %s: command line longer than %zu characters", mSetup.number.c_str(),
                       kMaxLine);
            Reply(ModemResult::Error);
            return;
        }
        std::string body;
        for (char c : mLine)
            body.push_back(char(std::toupper(static_cast<unsigned char>(c))));
        LogBytes("got", "AT" + mLine);
        mLastLine = body;
        Execute(body, now);
    } else if (byte == mRegs[5]) {
        if (!mLine.empty()) mLine.pop_back();
    } else if (byte == mRegs[4]) {
        // A line feed inside a command line is ignored.
    } else if (mLine.size() < kMaxLine) {
        mLine.push_back(char(byte));
    } else {
        mLineTooLong = true;
    }
}

void HayesModem::Execute(const std::string& body, Nanos now) {
    std::vector<std::string> info;
    std::size_t i = 0;
    bool bad = false;
    // A number after a command letter; `fallback` when there is none, -1 when it is too long.
    auto number = [&](int fallback) {
        if (i >= body.size() || !std::isdigit(static_cast<unsigned char>(body[i]))) return fallback;
        long value = 0;
        while (i < body.size() && std::isdigit(static_cast<unsigned char>(body[i]))) {
            value = value * 10 + (body[i++] - '0');
            if (value > 9999) value = 9999;
        }
        return int(value);
    };
    auto flag = [&](bool& target) {
        const int v = number(0);
        if (v > 1) return false;
        target = v == 1;
        return true;
    };
    const bool inCall = mState == State::OnlineCommand;

    while (i < body.size() && !bad) {
        const char c = body[i++];
        switch (c) {
        case ' ':
            break;
        case 'A':
            if (inCall) {
                bad = true;
                break;
            }
            for (const std::string& text : info)
                Info(text);
            mState = State::Answering;
            mLog.Write("modem %s: answer", mSetup.number.c_str());
            if (!mBoard.Answer(*this, now)) {
                // Off-hook in answer mode, listening for a carrier that never comes.
                mAnswerGiveUpAt = now + Nanos(mRegs[7]) * kNanosPerSecond;
            }
            return;
        case 'D': {
            if (inCall) {
                bad = true;
                break;
            }
            std::string digits, local;
            for (; i < body.size() && body[i] != ';'; ++i) {
                const char d = body[i];
                if (std::isdigit(static_cast<unsigned char>(d)) || d == '*' || d == '#') {
                    digits.push_back(d);
                    local.push_back(d);
                } else if (d == 'W' || d == ',') {
                    local.clear();
                }
                // T, P, blanks, dashes, brackets, '!' and '@' carry no digits.
            }
            if (digits.empty()) {
                bad = true;
                break;
            }
            for (const std::string& text : info)
                Info(text);
            mState = State::Dialing;
            mBoard.Dial(*this, digits, local, now);
            return;
        }
        case 'E':
            bad = !flag(mEcho);
            break;
        case 'H': {
            const int v = number(0);
            if (v > 1) {
                bad = true;
            } else if (v == 0 && inCall) {
                mBoard.HangUp(*this, "ATH", now);
                mState = State::Command;
            }
            break;
        }
        case 'I': {
            const int v = number(0);
            if (v == 0) {
                info.push_back(std::to_string(mSpeed));
            } else if (v == 3) {
                info.push_back(mSetup.maker);
            } else if (v == 4) {
                info.push_back(mSetup.model);
            } else if (v > 9) {
                bad = true;
            }
            break;
        }
        case 'L':
        case 'M':
        case 'N':
        case 'W':
        case 'Y':
        case 'B':
        case 'C':
        case 'F':
            // Speaker, negotiation and reporting settings: nothing to simulate.
            if (number(0) > 9) bad = true;
            break;
        case 'P':
        case 'T':
            break;
        case 'O':
            number(0);
            if (!inCall) {
                bad = true;
                break;
            }
            for (const std::string& text : info)
                Info(text);
            mState = State::Online;
            mPluses = 0;
            mEscapePending = false;
            mLastDataAt = now;
            Reply(ModemResult::Connect);
            return;
        case 'Q':
            bad = !flag(mQuiet);
            break;
        case 'V':
            bad = !flag(mVerbose);
            break;
        case 'X': {
            const int v = number(0);
            if (v > 4) {
                bad = true;
            } else {
                mX = v;
            }
            break;
        }
        case 'Z':
            number(0);
            if (inCall) {
                mBoard.HangUp(*this, "ATZ", now);
                mState = State::Command;
            }
            FactoryReset();
            break;
        case 'S': {
            const int reg = number(-1);
            if (reg < 0 || reg > 255) {
                bad = true;
            } else if (i < body.size() && body[i] == '=') {
                ++i;
                const int value = number(0);
                if (value > 255) {
                    bad = true;
                } else {
                    mRegs[std::size_t(reg)] = value;
                }
            } else if (i < body.size() && body[i] == '?') {
                ++i;
                char text[8];
                std::snprintf(text, sizeof text, "%03d", mRegs[std::size_t(reg)]);
                info.push_back(text);
            } else {
                bad = true;
            }
            break;
        }
        case '&': {
            const char what = i < body.size() ? body[i++] : '\0';
            const int v = number(0);
            if (what == 'F') {
                if (inCall) {
                    mBoard.HangUp(*this, "AT&F", now);
                    mState = State::Command;
                }
                FactoryReset();
            } else if (what == 'D') {
                if (v > 3) {
                    bad = true;
                } else {
                    mDtrMode = v;
                }
            } else if (what == 'V') {
                char text[96];
                std::snprintf(text, sizeof text, "E%d Q%d V%d X%d &D%d S00=%03d S07=%03d S12=%03d",
                              mEcho, mQuiet, mVerbose, mX, mDtrMode, mRegs[0], mRegs[7], mRegs[12]);
                info.push_back(text);
            } else if (std::string("ACGKLMQRSTWYZ").find(what) == std::string::npos ||
                       what == '\0') {
                bad = true;
            }
            break;
        }
        case '\\':
        case '%':
            // Error control and compression ("\N3", "%C1"): accepted, nothing to simulate.
            if (i >= body.size() || !std::isalpha(static_cast<unsigned char>(body[i]))) {
                bad = true;
            } else {
                ++i;
                number(0);
            }
            break;
        case '+': {
            // Extended commands run to the next ';'.
            const std::size_t end = body.find(';', i);
            const std::string name = body.substr(i, end == std::string::npos ? end : end - i);
            i = end == std::string::npos ? body.size() : end + 1;
            if (name == "GMI") {
                info.push_back(mSetup.maker);
            } else if (name == "GMM") {
                info.push_back(mSetup.model);
            } else if (name == "GMR") {
                info.push_back("1.0");
            } else {
                bad = true;
            }
            break;
        }
        default:
            bad = true;
            break;
        }
    }
    if (bad) {
        Reply(ModemResult::Error);
        return;
    }
    for (const std::string& text : info)
        Info(text);
    Reply(ModemResult::Ok);
}

void HayesModem::UsersChanged(int before, Nanos now) {
    const int users = mEnd.Users();
    if (before == 0 || users > 0) return;
    // The last program closed the port: DTR is off.
    mOut.clear();
    mEnd.FlushInput();
    mSwallowTildes = false;
    if (mDtrMode == 0) return;
    const bool inCall = mState != State::Command;
    if (mDtrMode == 1 && mState == State::Online) {
        mLog.Write("modem %s: DTR off, command state", mSetup.number.c_str());
        EnterCommand(State::OnlineCommand);
        return;
    }
    if (inCall) {
        mLog.Write("modem %s: DTR off, hanging up", mSetup.number.c_str());
        mBoard.HangUp(*this, "DTR off", now);
    }
    EnterCommand(State::Command);
    if (mDtrMode == 3) FactoryReset();
}

void HayesModem::Ring(Nanos now) {
    if (mSetup.silent) return;
    ++mRegs[1];
    mLog.Write("modem %s rings (%d)%s", mSetup.number.c_str(), mRegs[1],
               DtePresent() ? "" : ", port not open");
    if (!DtePresent()) return;
    Reply(ModemResult::Ring);
    if (mRegs[0] > 0 && mRegs[1] >= mRegs[0] && mState == State::Command) {
        mLog.Write("modem %s: auto-answer after %d rings", mSetup.number.c_str(), mRegs[1]);
        mState = State::Answering;
        mBoard.Answer(*this, now);
    }
}

void HayesModem::Connected(Nanos now) {
    mState = State::Online;
    mAnswerGiveUpAt.reset();
    mPluses = 0;
    mEscapePending = false;
    mLastDataAt = now;
    mRegs[1] = 0;
    Reply(ModemResult::Connect);
}

void HayesModem::CallFailed(ModemResult result) {
    EnterCommand(State::Command);
    Reply(result);
}

void HayesModem::CarrierLost() {
    EnterCommand(State::Command);
    Reply(ModemResult::NoCarrier);
}

std::optional<Nanos> HayesModem::NextDeadline() const {
    std::optional<Nanos> at = mAnswerGiveUpAt;
    if (mState == State::Online && mEscapePending) {
        const Nanos escapeAt = mLastPlusAt + GuardNanos();
        if (!at || escapeAt < *at) at = escapeAt;
    }
    return at;
}

void HayesModem::OnTime(Nanos now) {
    if (mAnswerGiveUpAt && now >= *mAnswerGiveUpAt) {
        mLog.Write("modem %s: no carrier after answering", mSetup.number.c_str());
        mBoard.HangUp(*this, "no carrier", now);
        EnterCommand(State::Command);
        Reply(ModemResult::NoCarrier);
    }
    if (mState == State::Online && mEscapePending && now >= mLastPlusAt + GuardNanos()) Escape(now);
}

} // namespace linesim
