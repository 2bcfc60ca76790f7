// Figures output and the program's side of every measurement: its panels, its connections to
// the simulator, its pop-ups answered, and what it costs (CPU, resident memory).
#include "bench/bench.h"

#include "app/callbacks.h"
#include "app/startup.h"
#include "link/connectpanel.h"
#include "link/link.h"
#include "platform/settings.h"
#include "shell/controls.h"
#include "shell/state.h"
#include "trend/trend.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include <sys/resource.h>

namespace qvbench {

double secondsSince(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

double median(std::vector<double> v) {
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void figure(const char *name, double value, const char *unit, int decimals) {
    std::printf("%s: %.*f %s\n", name, decimals, value, unit);
    std::fflush(stdout);
}

void note(const std::string &text) {
    std::printf("# %s\n", text.c_str());
    std::fflush(stdout);
}

namespace {

bool g_failed = false;

// Pop-ups: every confirmation answered yes, each one's moment kept.
void answerPopups() {
    qv::rt::SetPopupHandler(
        [](qv::rt::PopupKind kind, const std::string &title, const std::string &) {
            g_popups.push_back({kind, title, Clock::now()});
            return 1;
        });
}

// The link check found the sensor: the status line shows its version text, not "TIMEOUT".
bool linkChecked() {
    char text[sizeof qv::version] = "";
    qv::rt::GetCtrlVal(qv::panel, qv::P_DISPSTATUS, text);
    return qv::version[0] != '\0' && std::strcmp(text, qv::version) == 0;
}

// Serial port 9 answers to the simulator's pseudo-terminal.
constexpr int kBenchComPort = 9;

} // namespace

void fail(const std::string &why) {
    std::fprintf(stderr, "quorvat-bench: %s\n", why.c_str());
    g_failed = true;
}

bool anyFailed() {
    return g_failed;
}

std::vector<PopupSeen> g_popups;

bool connectTcp(int port) {
    qv::rt::SetCtrlVal(qv::interfacepanel, qv::INTERFACEP_EDITCOMMUNICATIONPROTOCOL, 1);
    qv::rt::SetCtrlVal(qv::interfacepanel, qv::INTERFACEP_STRINGIPADRESS, "127.0.0.1");
    qv::rt::SetCtrlVal(qv::interfacepanel, qv::INTERFACEP_STRINGPORTNUMBER,
                       std::to_string(port).c_str());
    qv::InitConnectPanel();
    qv::TryToConnect();
    return linkChecked();
}

bool connectSerial(const std::string &ptyPath) {
    ::setenv(("QUORVAT_COM" + std::to_string(kBenchComPort)).c_str(), ptyPath.c_str(), 1);
    qv::rt::SetCtrlVal(qv::interfacepanel, qv::INTERFACEP_EDITCOMMUNICATIONPROTOCOL, 0);
    qv::rt::SetCtrlVal(qv::interfacepanel, qv::INTERFACEP_EDITSELECTCOMPORT, kBenchComPort);
    qv::InitConnectPanel();
    qv::TryToConnect();
    return linkChecked();
}

void disconnectAll() {
    qv::CloseLink();
    // Whatever the closing links posted is handled now, not inside the next measurement.
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

long rssKiB(const std::string &statusFile) {
    std::ifstream in(statusFile);
    std::string key;
    while (in >> key) {
        if (key == "VmRSS:") {
            long kib = 0;
            in >> kib;
            return kib;
        }
        in.ignore(1 << 16, '\n');
    }
    return -1;
}

Cpu cpuNow() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return {static_cast<double>(u.ru_utime.tv_sec) + static_cast<double>(u.ru_utime.tv_usec) / 1e6,
            static_cast<double>(u.ru_stime.tv_sec) + static_cast<double>(u.ru_stime.tv_usec) / 1e6,
            u.ru_nvcsw, u.ru_nivcsw};
}

bool loadProgram(int argc, char **argv) {
    static int args = argc;
    if (!qv::rt::InitRunTimeEngine(args, argv))
        return false;
    answerPopups();
    qv::InstallCallbackTable();
    qv::panel = qv::rt::LoadPanel(0, qv::kResourceFile, 2);
    qv::interfacepanel = qv::rt::LoadPanel(0, qv::kResourceFile, 1);
    qv::trendpanel = qv::rt::LoadPanel(0, qv::kResourceFile, qv::kTrendPanel);
    if (qv::panel < 0 || qv::interfacepanel < 0 || qv::trendpanel < 0) {
        fail(std::string("cannot load the panels: ") + qv::rt::LastResourceError());
        return false;
    }
    qv::rt::DisplayPanel(qv::panel);
    Simulator sim;
    std::string why;
    if (!sim.start({"--tcp", "127.0.0.1:0"}, false, &why)) {
        fail("start-up: " + why);
        return false;
    }
    qv::rt::SetCtrlVal(qv::interfacepanel, qv::INTERFACEP_EDITCOMMUNICATIONPROTOCOL, 1);
    qv::rt::SetCtrlVal(qv::interfacepanel, qv::INTERFACEP_STRINGIPADRESS, "127.0.0.1");
    qv::rt::SetCtrlVal(qv::interfacepanel, qv::INTERFACEP_STRINGPORTNUMBER,
                       std::to_string(sim.tcpPort()).c_str());
    qv::InitVars();
    // An operator's settings beside the program must not move the bench's trend window, nor the
    // bench write them: it opens by the rule, on the screen it has.
    qv::rt::SettingsOpen(nullptr);
    const bool connected = linkChecked();
    disconnectAll();
    if (!connected)
        fail("start-up: the program's first connection attempt failed");
    return connected;
}

} // namespace qvbench
