#pragma once
// Modem mode: any number of simulated Hayes modems, each on its own pseudo-terminal and with its
// own telephone number, joined by one telephone exchange.
//
// A modem that dials a known number makes the called modem ring ("RING" at once, then every ring
// interval) until it answers (ATA, or S0 rings with its port open), the caller gives up (S7
// seconds, then the no-answer reply), or the caller hangs up. On answer both modems say
// "CONNECT <speed>" and bytes pass between them through two lines with the usual impairments:
// "ab" carries the caller's bytes to the called modem, "ba" the way back; offsets count from the
// start of each call. A number in a call, or a modem dialling, gives "BUSY"; a modem set up
// without a dial tone gives "NO DIALTONE". When one side hangs up (ATH, ATZ, its port closed),
// or the call is cut (a cut-after limit, SIGUSR1), the other side gets "NO CARRIER": a
// pseudo-terminal has no carrier-detect line to drop.
#include "event_log.h"
#include "hayes.h"
#include "line.h"
#include "signals.h"

#include <string>
#include <vector>

namespace linesim {

struct ModemsOptions {
    std::vector<ModemSetup> modems;
    LineConfig ab; // caller to called modem
    LineConfig ba;
    std::uint32_t speed = 33600;                   // what CONNECT reports
    int ringIntervalMs = 6000;                     // between two RINGs
    int connectMs = 0;                             // from the answer to CONNECT (carrier training)
    ModemResult noAnswer = ModemResult::NoCarrier; // the caller's reply after S7 seconds
    std::size_t traceBytes = 0; // log up to this many bytes of what each side sends in a call
};

// Runs the modems until SIGINT, SIGTERM or SIGHUP. Prints "ready NUMBER=<device> ..." on
// standard output once every modem is published. Returns the process exit code.
int RunModems(const ModemsOptions& options, EventLog& log, SignalPipe& signals);

} // namespace linesim
