#pragma once
// Cable mode: a null-modem cable between two pseudo-terminals. What end A writes, end B reads
// (line "ab"), and the other way round (line "ba"), each direction with its own impairments.
//
// Cutting the cable (a cut-after limit reached, or SIGUSR1) stops both directions at once: bytes
// in flight are lost. In the quiet mode the ends stay open and published, bytes written later are
// read and thrown away, and SIGUSR2 joins the cable again. In the hang-up mode the tool closes
// both pseudo-terminals, so programs that have a port open see a hang-up (poll reports POLLHUP,
// read returns 0, write fails with EIO), and removes the links, since the device names may be
// reused.
#include "event_log.h"
#include "line.h"
#include "signals.h"

#include <string>

namespace linesim {

enum class CutMode { Quiet, Hangup };

struct CableOptions {
    std::string linkA; // where end A is published (empty: not published)
    std::string linkB;
    LineConfig ab; // bytes written at A, read at B
    LineConfig ba;
    CutMode cutMode = CutMode::Quiet;
};

// Runs the cable until SIGINT, SIGTERM or SIGHUP. Prints "ready a=<device> b=<device>" on
// standard output once both ends are published. Returns the process exit code.
int RunCable(const CableOptions& options, EventLog& log, SignalPipe& signals);

} // namespace linesim
