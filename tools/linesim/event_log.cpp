#include "event_log.h"

#include <cstdarg>
#include <ctime>

namespace linesim {

Nanos NowNanos() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return Nanos(ts.tv_sec) * kNanosPerSecond + ts.tv_nsec;
}

EventLog::EventLog() : mFile(stderr), mStart(NowNanos()) {}

EventLog::~EventLog() {
    if (mOwnsFile) std::fclose(mFile);
}

bool EventLog::OpenFile(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "ae");
    if (!f) return false;
    if (mOwnsFile) std::fclose(mFile);
    mFile = f;
    mOwnsFile = true;
    return true;
}

void EventLog::Write(const char* format, ...) {
    const Nanos elapsed = NowNanos() - mStart;
    std::fprintf(mFile, "[%4lld.%06lld] ", static_cast<long long>(elapsed / kNanosPerSecond),
                 static_cast<long long>(elapsed % kNanosPerSecond / 1000));
    va_list args;
    va_start(args, format);
    std::vfprintf(mFile, format, args);
    va_end(args);
    std::fputc('\n', mFile);
    // A test or an operator reads the log while the tool runs.
    std::fflush(mFile);
}

} // namespace linesim
