// The 100-reading calibration series over a paced pseudo-terminal (calibration_wire_ratio).
#include "bench/bench.h"

#include "calibration/calibration.h"
#include "shell/state.h"

namespace qvbench {

namespace {

constexpr double kWireSeconds = 100.0 * (kRequestBytes + kReplyBytes) * 10.0 / 19200.0;

// Seconds from the confirmation to the result box, or negative when the series failed.
double calibrationSeries() {
    const std::size_t first = g_popups.size();
    qv::CalcCF();
    if (g_popups.size() != first + 2 || g_popups[first].kind != qv::rt::PopupKind::Confirm)
        return -1;
    if (g_popups[first + 1].title == "ATTENTION!" && qv::bytesToRead != 0)
        return -1; // "CALIBRATION FAILED!": a reading timed out
    return std::chrono::duration<double>(g_popups[first + 1].at - g_popups[first].at).count();
}

} // namespace

void benchCalibration(int runs) {
    Simulator sim;
    std::string why;
    if (!sim.start({"--no-tcp", "--pty", "--pace", "--noise", "2"}, false, &why))
        return fail("calibration: " + why);
    if (!connectSerial(sim.ptyPath()))
        return fail("calibration: the program could not connect over the pseudo-terminal");
    calibrationSeries(); // warm-up
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const double t = calibrationSeries();
        if (t < 0) {
            disconnectAll();
            return fail("calibration: the series failed");
        }
        times.push_back(t);
    }
    disconnectAll();
    note("calibration result box: " + g_popups.back().title);
    figure("calibration_wire_seconds", kWireSeconds, "s", 4);
    figure("calibration_series_seconds", median(times), "s", 4);
    figure("calibration_wire_ratio", median(times) / kWireSeconds, "ratio", 3);
}

} // namespace qvbench
