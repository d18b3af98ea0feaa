#include "signals.h"

#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace linesim {

namespace {
int gWriteFd = -1;

void OnSignal(int signo) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signo);
    // A full pipe means the loop has plenty to read already; dropping this byte loses nothing
    // that matters more than the ones queued before it.
    [[maybe_unused]] ssize_t n = write(gWriteFd, &byte, 1);
    errno = saved;
}
} // namespace

SignalPipe::SignalPipe() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("cannot create pipe");
    mRead = fds[0];
    gWriteFd = fds[1];
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    for (int signo : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2})
        sigaction(signo, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

SignalPipe::~SignalPipe() {
    for (int signo : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2})
        signal(signo, SIG_DFL);
    close(mRead);
    close(gWriteFd);
    gWriteFd = -1;
}

std::vector<int> SignalPipe::Take() {
    std::vector<int> result;
    unsigned char buf[64];
    for (;;) {
        const ssize_t n = read(mRead, buf, sizeof buf);
        if (n <= 0) break;
        result.insert(result.end(), buf, buf + n);
    }
    return result;
}

} // namespace linesim
