#include "options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <vector>

namespace linesim {

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t pos = text.find(separator, start);
        parts.push_back(text.substr(start, pos - start));
        if (pos == std::string::npos) break;
        start = pos + 1;
    }
    return parts;
}

double ParseRate(const std::string& text, const std::string& what) {
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end || errno || !std::isfinite(value) || value < 0 || value > 1)
        throw std::invalid_argument(what + ": expected a rate from 0 to 1, got \"" + text + "\"");
    return value;
}

int ParseMilliseconds(const std::string& text, const std::string& what) {
    const std::uint64_t value = ParseUnsigned(text, what);
    if (value > 24ULL * 3600 * 1000)
        throw std::invalid_argument(what + ": more than a day of milliseconds");
    return int(value);
}

} // namespace

std::uint64_t ParseUnsigned(const std::string& text, const std::string& what) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (text.empty() || text[0] == '-' || text[0] == '+' || *end || errno)
        throw std::invalid_argument(what + ": expected a whole number, got \"" + text + "\"");
    return value;
}

bool ApplyLineOption(const std::string& name, const std::string& value, LineConfig& ab,
                     LineConfig& ba) {
    std::vector<LineConfig*> targets{&ab, &ba};
    std::string v = value;
    if (v.rfind("ab:", 0) == 0) {
        targets = {&ab};
        v = v.substr(3);
    } else if (v.rfind("ba:", 0) == 0) {
        targets = {&ba};
        v = v.substr(3);
    }
    const std::string what = "--" + name;
    auto forEach = [&](auto apply) {
        for (LineConfig* config : targets)
            apply(*config);
    };

    if (name == "baud") {
        const std::uint64_t baud = ParseUnsigned(v, what);
        if (baud > 100'000'000) throw std::invalid_argument(what + ": too fast");
        forEach([&](LineConfig& c) { c.baud = std::uint32_t(baud); });
    } else if (name == "bits") {
        const std::uint64_t bits = ParseUnsigned(v, what);
        if (bits < 1 || bits > 64) throw std::invalid_argument(what + ": expected 1 to 64");
        forEach([&](LineConfig& c) { c.bitsPerByte = std::uint32_t(bits); });
    } else if (name == "latency") {
        const int ms = ParseMilliseconds(v, what);
        forEach([&](LineConfig& c) { c.latencyMs = ms; });
    } else if (name == "corrupt-rate") {
        const double rate = ParseRate(v, what);
        forEach([&](LineConfig& c) { c.corruptRate = rate; });
    } else if (name == "drop-rate") {
        const double rate = ParseRate(v, what);
        forEach([&](LineConfig& c) { c.dropRate = rate; });
    } else if (name == "corrupt-at" || name == "drop-at") {
        for (const std::string& part : Split(v, ',')) {
            const std::uint64_t offset = ParseUnsigned(part, what);
            forEach([&](LineConfig& c) {
                (name == "corrupt-at" ? c.corruptAt : c.dropAt).insert(offset);
            });
        }
    } else if (name == "stall") {
        const std::vector<std::string> parts = Split(v, ':');
        if (parts.size() != 2)
            throw std::invalid_argument(what + ": expected OFFSET:MS, got \"" + value + "\"");
        const std::uint64_t offset = ParseUnsigned(parts[0], what);
        const int ms = ParseMilliseconds(parts[1], what);
        forEach([&](LineConfig& c) { c.stallAt[offset] += ms; });
    } else if (name == "cut-after") {
        const std::uint64_t count = ParseUnsigned(v, what);
        forEach([&](LineConfig& c) { c.cutAfter = count; });
    } else if (name == "buffer") {
        const std::uint64_t bytes = ParseUnsigned(v, what);
        if (bytes < 1 || bytes > (1ULL << 30))
            throw std::invalid_argument(what + ": expected 1 to 1073741824 bytes");
        forEach([&](LineConfig& c) { c.bufferLimit = std::size_t(bytes); });
    } else {
        return false;
    }
    return true;
}

const char* LineOptionsHelp() {
    return "Line options (VALUE may start with \"ab:\" or \"ba:\" to apply to one direction only;\n"
           "ab = bytes written at end A and read at end B; offsets count the bytes written in\n"
           "that direction, from 0):\n"
           "  --baud BPS            pace bytes as a line of BPS bit/s (default 0: no pacing)\n"
           "  --bits N              bit times per byte (default 10: 8N1)\n"
           "  --latency MS          delay every byte by MS milliseconds\n"
           "  --corrupt-rate R      corrupt each byte with chance R (0..1)\n"
           "  --corrupt-at OFF,...  corrupt the bytes at these offsets\n"
           "  --drop-rate R         drop each byte with chance R (0..1)\n"
           "  --drop-at OFF,...     drop the bytes at these offsets\n"
           "  --stall OFF:MS        pause the line for MS milliseconds before byte OFF\n"
           "  --cut-after N         cut the cable once N bytes have passed in a direction\n"
           "  --buffer BYTES        bytes held in flight before the writer is held back\n"
           "                        (default 65536)\n";
}

} // namespace linesim
