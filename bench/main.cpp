// quorvat-bench: the program's own procedures, run in this process on the real panels, against
// the sensor simulator running as a separate process. Prints one line per figure,
// "name: value unit", reference figures included; lines starting with '#' are notes. Exits
// non-zero when a measurement could not be made; a missed goal is only reported.
//
// `quorvat-bench --help` lists the options.

#include "bench/bench.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

using namespace qvbench;

constexpr const char kUsage[] =
    "usage: quorvat-bench [--only startup,go,trend,wait,calibration] [--go-seconds S]\n"
    "                     [--slice S] [--go-alone]\n"
    "  --only LIST      run only these measurements (default: all)\n"
    "  --go-seconds S   length of the GO run (default 20)\n"
    "  --slice S        GO and bare-client slices within it (default 0.25)\n"
    "  --go-alone       one GO run without the bare client, for a profiler\n"
    "  go and trend are the same GO run; trend has the trend window open and drawing\n";

int main(int argc, char **argv) {
    std::set<std::string> only;
    double goSeconds = 20.0;
    double slice = 0.25;
    bool goAlone = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--only" && i + 1 < argc) {
            std::string list = argv[++i];
            for (std::size_t p = 0; p <= list.size();) {
                const std::size_t comma = std::min(list.find(',', p), list.size());
                const std::string name = list.substr(p, comma - p);
                if (name != "startup" && name != "go" && name != "trend" && name != "wait" &&
                    name != "calibration") {
                    std::fprintf(stderr, "quorvat-bench: no measurement called '%s'\n%s",
                                 name.c_str(), kUsage);
                    return 2;
                }
                only.insert(name);
                p = comma + 1;
            }
        } else if (a == "--go-seconds" && i + 1 < argc) {
            goSeconds = std::clamp(std::atof(argv[++i]), 0.5, 600.0);
        } else if (a == "--go-alone") {
            goAlone = true;
        } else if (a == "--slice" && i + 1 < argc) {
            slice = std::clamp(std::atof(argv[++i]), 0.05, 1.5);
        } else if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    const auto want = [&](const char *name) { return only.empty() || only.count(name) > 0; };
    std::signal(SIGPIPE, SIG_IGN);
    if (!loadProgram(argc, argv))
        return 1;

    if (want("startup"))
        benchStartup(5);
    if (want("go"))
        benchGoLoop(goSeconds, slice, goAlone, false);
    if (want("trend"))
        benchGoLoop(goSeconds, slice, goAlone, true);
    if (want("wait"))
        benchWait(3);
    if (want("calibration"))
        benchCalibration(5);
    return anyFailed() ? 1 : 0;
}
