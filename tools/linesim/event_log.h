#pragma once
// The tool's log: one line per event, stamped with the seconds since start. Goes to a file when
// one is named, else to standard error. Also the monotonic clock every timing decision uses.
#include <cstdint>
#include <cstdio>
#include <string>

namespace linesim {

using Nanos = std::int64_t;
constexpr Nanos kNanosPerMs = 1'000'000;
constexpr Nanos kNanosPerSecond = 1'000'000'000;

// CLOCK_MONOTONIC in nanoseconds.
Nanos NowNanos();

class EventLog {
public:
    EventLog();
    ~EventLog();
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    // Sends the log to `path` (appended). Returns false with errno set on failure.
    bool OpenFile(const std::string& path);
    // Writes one stamped line; printf-style.
    void Write(const char* format, ...) __attribute__((format(printf, 2, 3)));
    bool ToStderr() const { return !mOwnsFile; }

private:
    std::FILE* mFile;
    bool mOwnsFile = false;
    Nanos mStart;
};

} // namespace linesim
