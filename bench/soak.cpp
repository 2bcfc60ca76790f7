// quorvat-soak: the GO loop for 200,000 readings over TCP against the simulator, then 1,000
// reconnects, watching resident memory and the number of live Qt objects. Built and run under
// AddressSanitizer and LeakSanitizer by scripts/soak.sh, which makes any leak fail the run.
#include "app/callbacks.h"
#include "link/commands.h"
#include "link/connectpanel.h"
#include "link/link.h"
#include "platform/userint.h"
#include "platform/utility.h"
#include "protocol/codec.h"
#include "shell/controls.h"
#include "shell/state.h"
#include "sim/simulator.h"
#include "trend/trend.h"

#include <QApplication>
#include <QByteArray>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

// Qt's hook table: the slots for the functions it calls on every QObject made and destroyed.
extern quintptr qtHookData[];

namespace {

constexpr int kHookAddQObject = 3;
constexpr int kHookRemoveQObject = 4;

std::atomic<long> g_liveObjects{0};
void objectAdded(QObject *) {
    ++g_liveObjects;
}
void objectRemoved(QObject *) {
    --g_liveObjects;
}

long residentKiB() {
    QFile f("/proc/self/status");
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

struct Sample {
    long rssKiB;
    long objects;
};

std::uint64_t envNumber(const char *name, std::uint64_t fallback) {
    const QByteArray v = qgetenv(name);
    return v.isEmpty() ? fallback : v.toULongLong();
}

// Flat means every sample after warm-up lies within `percent` of the first one.
bool flat(const std::vector<Sample> &s, double percent, double *growth) {
    const double base = double(s.front().rssKiB);
    double worst = 0;
    for (const Sample &x : s)
        worst = std::max(worst, (double(x.rssKiB) - base) / base * 100.0);
    *growth = worst;
    return worst <= percent;
}

} // namespace

int main(int argc, char **argv) {
    using namespace qv;
    qtHookData[kHookAddQObject] = reinterpret_cast<quintptr>(&objectAdded);
    qtHookData[kHookRemoveQObject] = reinterpret_cast<quintptr>(&objectRemoved);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (rt::InitRunTimeEngine(argc, argv) == 0)
        return 2;
    InstallCallbackTable();
    rt::SetPopupHandler([](rt::PopupKind, const std::string &title, const std::string &text) {
        std::fprintf(stderr, "soak: unexpected box \"%s\": %s\n", title.c_str(), text.c_str());
        return 1;
    });
    panel = rt::LoadPanel(0, kResourceFile, 2);
    interfacepanel = rt::LoadPanel(0, kResourceFile, 1);
    if (panel < 0 || interfacepanel < 0) {
        std::fprintf(stderr, "soak: cannot load the panels: %s\n", rt::LastResourceError());
        return 2;
    }
    rt::DisplayPanel(panel);
    anzpara = 202;
    anzframe = anzdata = 16;
    qv::sync = 85;

    qvsim::Options o;
    o.port = 0;
    o.pty = true;
    o.frameLogCapacity = 0; // the simulator shares this process: its log would look like growth
    qvsim::Simulator sim(o);
    std::string error;
    if (!sim.start(&error)) {
        std::fprintf(stderr, "soak: simulator: %s\n", error.c_str());
        return 2;
    }
    const QByteArray port = QByteArray::number(sim.tcpPort());
    qputenv("QUORVAT_COM1", QByteArray::fromStdString(sim.ptyPath()));
    auto select = [&](bool tcp) {
        rt::SetCtrlVal(interfacepanel, INTERFACEP_EDITCOMMUNICATIONPROTOCOL, tcp ? 1 : 0);
        rt::SetCtrlVal(interfacepanel, INTERFACEP_EDITSELECTCOMPORT, 1);
        rt::SetCtrlVal(interfacepanel, INTERFACEP_STRINGIPADRESS, "127.0.0.1");
        rt::SetCtrlVal(interfacepanel, INTERFACEP_STRINGPORTNUMBER, port.constData());
    };
    select(true);
    TryToConnect();

    // The readings kept for the trend grow up to their cap by design; kept full from the start,
    // they leave only a leak to show as growth.
    const std::uint16_t kept[kTrendChannels] = {};
    while (trendreadings.size() < trendreadings.capacity())
        trendreadings.add(0.0, kept);

    const std::uint64_t readings = envNumber("QUORVAT_SOAK_READINGS", 200000);
    const std::uint64_t reconnects = envNumber("QUORVAT_SOAK_RECONNECTS", 1000);
    const std::uint64_t warmUp = readings / 10;
    std::vector<Sample> goSamples;
    const double t0 = rt::Timer();
    // Samples every tenth of the run from inside the loop's own event pumping; stops the loop
    // when the readings are done.
    std::uint64_t nextSample = warmUp;
    QTimer watch;
    watch.setInterval(20);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const std::uint64_t n = sim.readingsTaken();
        if (n >= nextSample) {
            goSamples.push_back({residentKiB(), g_liveObjects.load()});
            nextSample += readings / 20;
        }
        if (n >= readings)
            poll = 0;
    });
    // Both phases run from the event loop, as the operator's clicks would start them: the loop
    // gets control back between reconnects, as it does between two presses of TRY.
    double goSeconds = 0;
    std::uint64_t taken = 0;
    std::vector<Sample> reconnectSamples;
    std::uint64_t cycle = 0;
    std::function<void()> reconnect = [&] {
        if (cycle == reconnects) {
            rt::QuitUserInterface(0);
            return;
        }
        select(cycle % 2 == 0);
        TryToConnect();
        if (cycle % std::max<std::uint64_t>(reconnects / 10, 1) == 0)
            reconnectSamples.push_back({residentKiB(), g_liveObjects.load()});
        ++cycle;
        QTimer::singleShot(0, reconnect);
    };
    QTimer::singleShot(0, [&] {
        watch.start();
        GetData();
        watch.stop();
        goSeconds = rt::Timer() - t0;
        taken = sim.readingsTaken();
        QTimer::singleShot(0, reconnect);
    });
    rt::RunUserInterface();
    // Every reconnect ends in a link check; the last one must have found the sensor.
    char shown[64] = "";
    rt::GetCtrlVal(panel, P_DISPSTATUS, shown);
    const bool lastCheckGood = version[0] != 0 && std::string(shown) == version;

    double goGrowth = 0, reconnectGrowth = 0;
    const bool goFlat = goSamples.size() >= 2 && flat(goSamples, 5.0, &goGrowth);
    const bool reconnectFlat =
        reconnectSamples.size() >= 2 && flat(reconnectSamples, 5.0, &reconnectGrowth);
    const long objectsGrowth =
        std::max(goSamples.back().objects - goSamples.front().objects,
                 reconnectSamples.back().objects - reconnectSamples.front().objects);

    std::printf("soak_readings: %llu readings\n", static_cast<unsigned long long>(taken));
    std::printf("soak_go_rate: %.0f readings/s\n", double(taken) / goSeconds);
    std::printf("soak_go_rss_start: %.1f MB\n", goSamples.front().rssKiB / 1024.0);
    std::printf("soak_go_rss_end: %.1f MB\n", goSamples.back().rssKiB / 1024.0);
    std::printf("soak_go_rss_growth: %.2f %%\n", goGrowth);
    std::printf("soak_reconnects: %llu cycles\n", static_cast<unsigned long long>(reconnects));
    std::printf("soak_reconnect_rss_growth: %.2f %%\n", reconnectGrowth);
    std::printf("soak_qt_objects: %ld start, %ld after GO, %ld after the reconnects\n",
                goSamples.front().objects, goSamples.back().objects,
                reconnectSamples.back().objects);

    rt::DiscardPanel(panel);
    rt::DiscardPanel(interfacepanel);
    CloseLink();
    sim.stop();
    const bool ok =
        taken >= readings && goFlat && reconnectFlat && objectsGrowth <= 0 && lastCheckGood;
    std::printf("soak_result: %s\n", ok ? "pass" : "FAIL");
    return ok ? 0 : 1;
}
