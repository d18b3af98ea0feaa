// linesim: virtual serial lines on pseudo-terminals, for tests and demonstrations.
//   linesim cable [options] [END_A END_B]
//   linesim modems [options] [--modem PATH=NUMBER[,setting...]]... [PATH[=NUMBER[,setting...]]]...
//   linesim --help
#include "cable.h"
#include "event_log.h"
#include "exchange.h"
#include "options.h"
#include "signals.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

void PrintHelp(std::FILE* out) {
    std::fprintf(out,
                 "Usage:\n"
                 "  linesim cable [options] [END_A END_B]\n"
                 "  linesim modems [options] [--modem PATH=NUMBER[,setting...]]... [PATH...]\n"
                 "  linesim --help\n"
                 "\n"
                 "cable: a null-modem cable between two pseudo-terminals. END_A and END_B are\n"
                 "paths where the two ends are published as symbolic links to /dev/pts/N (for\n"
                 "example HOME_A/ports/COM1 and HOME_B/ports/COM2); missing folders are created.\n"
                 "Once both ends exist the tool prints one line on standard output:\n"
                 "  ready a=/dev/pts/N b=/dev/pts/M\n"
                 "It runs until SIGINT, SIGTERM or SIGHUP, then logs a summary, removes its links\n"
                 "and exits with 0. SIGUSR1 cuts the cable; SIGUSR2 joins it again (quiet mode).\n"
                 "\n"
                 "%s"
                 "\n"
                 "Cable options:\n"
                 "  --cut-mode MODE       what a cut does: quiet (default: no byte passes either\n"
                 "                        way, the ends stay open) or hangup (the tool closes\n"
                 "                        both ends so open ports see a hang-up, and removes the\n"
                 "                        links)\n"
                 "  --seed N              seed of the random corruption and drops (default 1)\n"
                 "  --log FILE            append the log to FILE instead of standard error\n"
                 "\n"
                 "modems: simulated Hayes modems joined by one telephone exchange, each on its\n"
                 "own pseudo-terminal published at PATH, with telephone number NUMBER. A bare\n"
                 "PATH is a modem whose number is its position (1, 2, ...). Settings after the\n"
                 "number, separated by commas: maker=TEXT and model=TEXT (ATI3/AT+GMI and\n"
                 "ATI4/AT+GMM), s0=N (auto-answer at start), silent (never answers anything),\n"
                 "no-dialtone (dialling gives NO DIALTONE). An empty PATH is not published. The\n"
                 "tool prints \"ready NUMBER=/dev/pts/N ...\" once all are published. Line\n"
                 "options apply to each call, \"ab\" being the caller's bytes; SIGUSR1 cuts\n"
                 "every call (both sides get NO CARRIER).\n"
                 "\n"
                 "Modem options:\n"
                 "  --modem SPEC          a modem (repeatable), as above\n"
                 "  --speed BPS           the speed CONNECT reports (default 33600; --baud paces)\n"
                 "  --ring-interval-ms N  between two RINGs (default 6000)\n"
                 "  --connect-ms N        from the answer to CONNECT (default 0)\n"
                 "  --no-answer REPLY     the caller's reply when S7 seconds pass without an\n"
                 "                        answer: no-carrier (default), no-answer or none\n"
                 "  --trace BYTES         log each piece of data a modem sends in a call, up to\n"
                 "                        BYTES bytes of it (default 0: not logged)\n"
                 "  --seed N, --log FILE  as for the cable\n"
                 "\n"
                 "Options take their value as the next argument or after '='.\n",
                 linesim::LineOptionsHelp());
}

int Usage(const std::string& message) {
    std::fprintf(stderr, "linesim: %s\nTry 'linesim --help'.\n", message.c_str());
    return 2;
}

// Opens the log, runs a mode with the signal pipe, and turns an error into exit code 1.
template <typename Mode> int RunLogged(const std::string& logPath, Mode&& mode) {
    linesim::EventLog log;
    if (!logPath.empty() && !log.OpenFile(logPath)) {
        std::fprintf(stderr, "linesim: cannot open log %s: %s\n", logPath.c_str(),
                     std::strerror(errno));
        return 1;
    }
    try {
        linesim::SignalPipe signals;
        return mode(log, signals);
    } catch (const std::exception& e) {
        log.Write("error: %s", e.what());
        if (!log.ToStderr()) std::fprintf(stderr, "linesim: %s\n", e.what());
        return 1;
    }
}

int CableMain(const std::vector<std::string>& args) {
    linesim::CableOptions options;
    std::vector<std::string> ends;
    std::string logPath;
    std::uint64_t seed = 1;
    std::vector<std::pair<std::string, std::string>> lineOptions;
    try {
        for (std::size_t i = 0; i < args.size(); ++i) {
            const std::string& arg = args[i];
            if (arg == "--help" || arg == "-h") {
                PrintHelp(stdout);
                return 0;
            }
            if (arg.rfind("--", 0) != 0 || arg == "--") {
                ends.push_back(arg);
                continue;
            }
            std::string name = arg.substr(2);
            std::string value;
            const std::size_t eq = name.find('=');
            if (eq != std::string::npos) {
                value = name.substr(eq + 1);
                name.resize(eq);
            } else {
                if (i + 1 >= args.size()) return Usage("option --" + name + " needs a value");
                value = args[++i];
            }
            if (name == "cut-mode") {
                if (value == "quiet") {
                    options.cutMode = linesim::CutMode::Quiet;
                } else if (value == "hangup") {
                    options.cutMode = linesim::CutMode::Hangup;
                } else {
                    return Usage("--cut-mode: expected quiet or hangup, got \"" + value + "\"");
                }
            } else if (name == "seed") {
                seed = linesim::ParseUnsigned(value, "--seed");
            } else if (name == "log") {
                logPath = value;
            } else {
                // Line options are applied after the loop, so --seed may come anywhere.
                lineOptions.emplace_back(name, value);
                linesim::LineConfig probeAb, probeBa;
                if (!linesim::ApplyLineOption(name, value, probeAb, probeBa))
                    return Usage("unknown option --" + name);
            }
        }
        for (const auto& [name, value] : lineOptions)
            linesim::ApplyLineOption(name, value, options.ab, options.ba);
    } catch (const std::invalid_argument& e) {
        return Usage(e.what());
    }
    if (ends.size() == 2) {
        if (ends[0] == ends[1]) return Usage("cable: the two ends need different paths");
        options.linkA = ends[0];
        options.linkB = ends[1];
    } else if (!ends.empty()) {
        return Usage("cable: give both ends (END_A END_B) or neither");
    }
    options.ab.seed = options.ba.seed = seed;

    return RunLogged(logPath, [&](linesim::EventLog& log, linesim::SignalPipe& signals) {
        return linesim::RunCable(options, log, signals);
    });
}

// "--name=value" or "--name value": splits args[i] and takes the value. False when no value.
bool TakeOption(const std::vector<std::string>& args, std::size_t& i, std::string& name,
                std::string& value) {
    name = args[i].substr(2);
    const std::size_t eq = name.find('=');
    if (eq != std::string::npos) {
        value = name.substr(eq + 1);
        name.resize(eq);
        return true;
    }
    if (i + 1 >= args.size()) return false;
    value = args[++i];
    return true;
}

// PATH[=NUMBER[,setting...]]; `position` gives the number when there is none.
linesim::ModemSetup ParseModem(const std::string& spec, std::size_t position) {
    linesim::ModemSetup setup;
    const std::size_t eq = spec.find('=');
    setup.link = spec.substr(0, eq);
    setup.number = std::to_string(position);
    if (eq == std::string::npos) return setup;
    std::vector<std::string> parts;
    for (std::size_t start = eq + 1;;) {
        const std::size_t comma = spec.find(',', start);
        parts.push_back(spec.substr(start, comma == std::string::npos ? comma : comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    const std::string& number = parts.front();
    if (number.empty() || number.find_first_not_of("0123456789*#") != std::string::npos)
        throw std::invalid_argument("modem " + spec + ": the number takes digits, '*' and '#'");
    setup.number = number;
    for (std::size_t k = 1; k < parts.size(); ++k) {
        const std::string& part = parts[k];
        const std::size_t at = part.find('=');
        const std::string key = part.substr(0, at);
        const std::string value = at == std::string::npos ? "" : part.substr(at + 1);
        if (key == "silent" && at == std::string::npos) {
            setup.silent = true;
        } else if (key == "no-dialtone" && at == std::string::npos) {
            setup.noDialtone = true;
        } else if (key == "maker" && at != std::string::npos) {
            setup.maker = value;
        } else if (key == "model" && at != std::string::npos) {
            setup.model = value;
        } else if (key == "s0" && at != std::string::npos) {
            const std::uint64_t rings = linesim::ParseUnsigned(value, "modem " + spec + ": s0");
            if (rings > 255) throw std::invalid_argument("modem " + spec + ": s0 above 255");
            setup.s0 = int(rings);
        } else {
            throw std::invalid_argument("modem " + spec + ": unknown setting \"" + part + "\"");
        }
    }
    return setup;
}

int ModemsMain(const std::vector<std::string>& args) {
    linesim::ModemsOptions options;
    std::vector<std::string> specs;
    std::string logPath;
    std::uint64_t seed = 1;
    std::vector<std::pair<std::string, std::string>> lineOptions;
    auto milliseconds = [](const std::string& value, const std::string& what) {
        const std::uint64_t ms = linesim::ParseUnsigned(value, what);
        if (ms > 24ULL * 3600 * 1000)
            throw std::invalid_argument(what + ": more than a day of milliseconds");
        return int(ms);
    };
    try {
        for (std::size_t i = 0; i < args.size(); ++i) {
            const std::string& arg = args[i];
            if (arg == "--help" || arg == "-h") {
                PrintHelp(stdout);
                return 0;
            }
            if (arg.rfind("--", 0) != 0 || arg == "--") {
                specs.push_back(arg);
                continue;
            }
            std::string name, value;
            if (!TakeOption(args, i, name, value))
                return Usage("option --" + name + " needs a value");
            if (name == "modem") {
                specs.push_back(value);
            } else if (name == "speed") {
                const std::uint64_t speed = linesim::ParseUnsigned(value, "--speed");
                if (speed < 1 || speed > 100'000'000)
                    throw std::invalid_argument("--speed: expected 1 to 100000000");
                options.speed = std::uint32_t(speed);
            } else if (name == "ring-interval-ms") {
                options.ringIntervalMs = milliseconds(value, "--ring-interval-ms");
                if (options.ringIntervalMs < 1)
                    throw std::invalid_argument("--ring-interval-ms: at least 1");
            } else if (name == "connect-ms") {
                options.connectMs = milliseconds(value, "--connect-ms");
            } else if (name == "no-answer") {
                if (value == "no-carrier") {
                    options.noAnswer = linesim::ModemResult::NoCarrier;
                } else if (value == "no-answer") {
                    options.noAnswer = linesim::ModemResult::NoAnswer;
                } else if (value == "none") {
                    options.noAnswer = linesim::ModemResult::None;
                } else {
                    return Usage("--no-answer: expected no-carrier, no-answer or none, got \"" +
                                 value + "\"");
                }
            } else if (name == "trace") {
                const std::uint64_t bytes = linesim::ParseUnsigned(value, "--trace");
                options.traceBytes = std::size_t(std::min<std::uint64_t>(bytes, 4096));
            } else if (name == "seed") {
                seed = linesim::ParseUnsigned(value, "--seed");
            } else if (name == "log") {
                logPath = value;
            } else {
                lineOptions.emplace_back(name, value);
                linesim::LineConfig probeAb, probeBa;
                if (!linesim::ApplyLineOption(name, value, probeAb, probeBa))
                    return Usage("unknown option --" + name);
            }
        }
        for (const auto& [name, value] : lineOptions)
            linesim::ApplyLineOption(name, value, options.ab, options.ba);
        for (std::size_t k = 0; k < specs.size(); ++k)
            options.modems.push_back(ParseModem(specs[k], k + 1));
    } catch (const std::invalid_argument& e) {
        return Usage(e.what());
    }
    if (options.modems.empty()) return Usage("modems: give at least one modem");
    for (std::size_t k = 0; k < options.modems.size(); ++k) {
        for (std::size_t j = 0; j < k; ++j) {
            const linesim::ModemSetup &a = options.modems[j], &b = options.modems[k];
            if (a.number == b.number) return Usage("modems: two modems have number " + a.number);
            if (!a.link.empty() && a.link == b.link)
                return Usage("modems: two modems are published at " + a.link);
        }
    }
    options.ab.seed = options.ba.seed = seed;

    return RunLogged(logPath, [&](linesim::EventLog& log, linesim::SignalPipe& signals) {
        return linesim::RunModems(options, log, signals);
    });
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return Usage("no mode given");
    const std::string mode = args.front();
    args.erase(args.begin());
    if (mode == "--help" || mode == "-h" || mode == "help") {
        PrintHelp(stdout);
        return 0;
    }
    if (mode == "cable") return CableMain(args);
    if (mode == "modems") return ModemsMain(args);
    return Usage("unknown mode \"" + mode + "\"");
}
