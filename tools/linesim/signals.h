#pragma once
// Turns the signals the tool reacts to into bytes on a pipe, so the main loop sees them in the
// same poll as its descriptors (no work in the handler, no missed wake-up).
#include <csignal>
#include <vector>

namespace linesim {

class SignalPipe {
public:
    // Installs handlers for SIGINT, SIGTERM, SIGHUP, SIGUSR1 and SIGUSR2 and ignores SIGPIPE.
    // One instance per process.
    SignalPipe();
    ~SignalPipe();
    SignalPipe(const SignalPipe&) = delete;
    SignalPipe& operator=(const SignalPipe&) = delete;

    int Fd() const { return mRead; }
    // The signals that arrived since the last call, in order.
    std::vector<int> Take();

private:
    int mRead = -1;
};

} // namespace linesim
