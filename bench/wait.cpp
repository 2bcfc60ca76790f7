// CPU while the program waits for a reply that never comes (wait_cpu_percent).
#include "bench/bench.h"

#include "link/commands.h"
#include "link/link.h"
#include "platform/serialports.h"
#include "shell/state.h"

#include <algorithm>
#include <cstdio>

namespace qvbench {

namespace {

// Percent of one core used by this process during `wait`, which must run into its 2 s limit
// and report it; negative when it did not.
double waitCpu(const char *what, void (*wait)(), bool reported) {
    const std::size_t popupsBefore = g_popups.size();
    const Cpu cpu0 = cpuNow();
    const auto t0 = Clock::now();
    wait();
    const double wall = secondsSince(t0);
    const Cpu cpu1 = cpuNow();
    if (g_popups.size() != popupsBefore + (reported ? 1 : 0) || wall < 1.9)
        return -1;
    const double user = cpu1.user - cpu0.user, system = cpu1.system - cpu0.system;
    char line[160];
    std::snprintf(line, sizeof line, "%s: %.3f s, user %.1f ms, system %.1f ms", what, wall,
                  user * 1e3, system * 1e3);
    note(line);
    return 100.0 * (user + system) / wall;
}

double getCfWaitCpu(const char *link) {
    const std::string what = std::string("GET CF wait over ") + link;
    return waitCpu(
        what.c_str(), [] { qv::GetCF(); }, true);
}

// The link check on a serial port that did not open (no device has its number): it polls
// without pumping events.
double deadPortCpu() {
    qv::comport = qv::rt::kMaxComPort;
    qv::InitRS232();
    return waitCpu(
        "link check on a closed serial port", [] { qv::CheckComLine(); }, false);
}

} // namespace

void benchWait(int runs) {
    Simulator sim;
    std::string why;
    if (!sim.start(
            {"--tcp", "127.0.0.1:0", "--pty", "--noise", "0", "--fault", "noreply:cmd=GETCF"},
            false, &why))
        return fail("wait: " + why);
    std::vector<double> tcp, serial;
    if (!connectTcp(sim.tcpPort()))
        return fail("wait: the program could not connect over TCP");
    for (int i = 0; i < runs; ++i)
        tcp.push_back(getCfWaitCpu("TCP"));
    disconnectAll();
    if (!connectSerial(sim.ptyPath()))
        return fail("wait: the program could not connect over the pseudo-terminal");
    for (int i = 0; i < runs; ++i)
        serial.push_back(getCfWaitCpu("RS-232"));
    std::vector<double> dead;
    for (int i = 0; i < runs; ++i)
        dead.push_back(deadPortCpu());
    disconnectAll();
    for (const auto *v : {&tcp, &serial, &dead})
        if (std::any_of(v->begin(), v->end(), [](double x) { return x < 0; }))
            return fail("wait: a wait did not run into its full limit");
    figure("wait_cpu_percent_tcp", median(tcp), "%", 2);
    figure("wait_cpu_percent_rs232", median(serial), "%", 2);
    figure("wait_cpu_percent_closed_port", median(dead), "%", 2);
    figure("wait_cpu_percent", std::max({median(tcp), median(serial), median(dead)}), "%", 2);
}

} // namespace qvbench
