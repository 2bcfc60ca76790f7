// The 100-reading calibration series over a paced pseudo-terminal, set against a bare blocking
// client on the same line in the same run (calibration_ratio). The paced simulator drifts from
// run to run; both sides meet the same drift, so their ratio shows what the program adds.
#include "bench/bench.h"

#include "calibration/calibration.h"
#include "shell/state.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace qvbench {

namespace {

constexpr int kReadings = 100;
// The series' bytes alone on a 19200-baud line at 10 bits a byte: a reference, not the measure.
constexpr double kWireSeconds = kReadings * (kRequestBytes + kReplyBytes) * 10.0 / 19200.0;
// A reply that takes longer is lost, as it is for the program.
constexpr int kReplyLimitMs = 2000;
// A client that opens the line right after another closed it may still see that one's leftovers
// for a moment (sim/simulator.h, ptyClients).
constexpr useconds_t kSettleMicros = 20000;

// Seconds from the confirmation to the result box, or negative when the series failed.
double calibrationSeries() {
    const std::size_t first = g_popups.size();
    qv::CalcCF();
    if (g_popups.size() != first + 2 || g_popups[first].kind != qv::rt::PopupKind::Confirm)
        return -1;
    if (qv::calcOutcome == qv::CalcOutcome::Timeout)
        return -1; // "CALIBRATION FAILED!": a reading timed out
    return std::chrono::duration<double>(g_popups[first + 1].at - g_popups[first].at).count();
}

bool readReply(int fd, unsigned char *reply) {
    int got = 0;
    while (got < kReplyBytes) {
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, kReplyLimitMs);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        const ssize_t n = ::read(fd, reply + got, static_cast<std::size_t>(kReplyBytes - got));
        if (n <= 0)
            return false;
        got += static_cast<int>(n);
    }
    return true;
}

// The series' 100 data requests from a bare blocking POSIX client on the pseudo-terminal, each
// reply read whole before the next request: seconds from the first request to the last reply,
// or negative when a transaction failed. The program's port must be closed meanwhile.
double bareSeries(const std::string &ptyPath) {
    const int fd = ::open(ptyPath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    termios t{};
    if (::tcgetattr(fd, &t) != 0) {
        ::close(fd);
        return -1;
    }
    ::cfmakeraw(&t);
    ::cfsetspeed(&t, B19200);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &t);
    ::usleep(kSettleMicros);
    ::tcflush(fd, TCIOFLUSH);
    const unsigned char request[kRequestBytes] = {0x00, 0x55, 0x00, 0x05};
    unsigned char reply[kReplyBytes];
    const auto t0 = Clock::now();
    int done = 0;
    while (done < kReadings &&
           ::write(fd, request, sizeof request) == static_cast<ssize_t>(sizeof request) &&
           readReply(fd, reply))
        ++done;
    const double seconds = secondsSince(t0);
    ::close(fd);
    return done == kReadings ? seconds : -1;
}

// The program lets go of the line, the bare client runs its series, the program takes the line
// back with its own link check.
double bareTurn(const std::string &ptyPath) {
    disconnectAll();
    const double seconds = bareSeries(ptyPath);
    return connectSerial(ptyPath) ? seconds : -1;
}

} // namespace

void benchCalibration(int runs) {
    Simulator sim;
    std::string why;
    if (!sim.start({"--no-tcp", "--pty", "--pace", "--noise", "2"}, false, &why))
        return fail("calibration: " + why);
    const std::string path = sim.ptyPath();
    if (!connectSerial(path))
        return fail("calibration: the program could not connect over the pseudo-terminal");
    // Warm-up of both sides, then program and bare client by turns, the program first and last:
    // each bare series is set against the program's series on either side of it.
    calibrationSeries();
    bareTurn(path);
    std::vector<double> program{calibrationSeries()}, bare, ratios;
    for (int i = 0; i < runs && program.back() >= 0; ++i) {
        bare.push_back(bareTurn(path));
        if (bare.back() < 0) {
            disconnectAll();
            return fail("calibration: the bare client's series failed");
        }
        program.push_back(calibrationSeries());
        ratios.push_back((program[program.size() - 2] + program.back()) / 2 / bare.back());
    }
    const std::string resultBox = g_popups.empty() ? "" : g_popups.back().title;
    disconnectAll();
    if (program.back() < 0 || ratios.empty())
        return fail("calibration: the series failed");
    note("calibration result box: " + resultBox);
    char line[300];
    std::snprintf(line, sizeof line,
                  "calibration: %zu bare series, each against the program's on either side; "
                  "ratio from %.3f to %.3f; against the wire time: program %.3f, bare client %.3f",
                  ratios.size(), *std::min_element(ratios.begin(), ratios.end()),
                  *std::max_element(ratios.begin(), ratios.end()), median(program) / kWireSeconds,
                  median(bare) / kWireSeconds);
    note(line);
    figure("calibration_wire_seconds", kWireSeconds, "s", 4);
    figure("calibration_bare_seconds", median(bare), "s", 4);
    figure("calibration_series_seconds", median(program), "s", 4);
    figure("calibration_ratio", median(ratios), "ratio", 3);
}

} // namespace qvbench
