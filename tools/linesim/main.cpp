// linesim: virtual serial lines on pseudo-terminals, for tests and demonstrations.
//   linesim cable [options] [END_A END_B]
//   linesim --help
#include "cable.h"
#include "event_log.h"
#include "options.h"
#include "signals.h"

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
                 "Options take their value as the next argument or after '='.\n",
                 linesim::LineOptionsHelp());
}

int Usage(const std::string& message) {
    std::fprintf(stderr, "linesim: %s\nTry 'linesim --help'.\n", message.c_str());
    return 2;
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

    linesim::EventLog log;
    if (!logPath.empty() && !log.OpenFile(logPath)) {
        std::fprintf(stderr, "linesim: cannot open log %s: %s\n", logPath.c_str(),
                     std::strerror(errno));
        return 1;
    }
    try {
        linesim::SignalPipe signals;
        return linesim::RunCable(options, log, signals);
    } catch (const std::exception& e) {
        log.Write("error: %s", e.what());
        if (!log.ToStderr()) std::fprintf(stderr, "linesim: %s\n", e.what());
        return 1;
    }
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
    return Usage("unknown mode \"" + mode + "\"");
}
