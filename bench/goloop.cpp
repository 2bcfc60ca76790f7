// The GO loop's rate against a bare blocking client on the same simulator, slice by slice in one
// run (go_loop_ratio); with the trend window open and drawing too (go_loop_ratio_trend).
#include "bench/bench.h"

#include "app/handlers.h"
#include "platform/canvas.h"
#include "shell/controls.h"
#include "shell/state.h"
#include "trend/trend.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cstdio>

#include <arpa/inet.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qvbench {

namespace {

// Reply bytes the kernel has taken in on a TCP socket so far.
long long bytesReceived(int fd) {
    tcp_info info{};
    socklen_t len = sizeof info;
    if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &len) != 0 ||
        len < offsetof(tcp_info, tcpi_bytes_received) + sizeof info.tcpi_bytes_received)
        return -1;
    return static_cast<long long>(info.tcpi_bytes_received);
}

// The socket the program's TCP link talks over.
int programSocket(int port) {
    for (QTcpSocket *s : QCoreApplication::instance()->findChildren<QTcpSocket *>())
        if (s->state() == QAbstractSocket::ConnectedState && s->peerPort() == port)
            return static_cast<int>(s->socketDescriptor());
    return -1;
}

// One stretch of readings: how many, over what time, at what CPU cost.
struct Slice {
    double seconds = 0;
    long long readings = 0;
    double cpu = 0;
    long sleeps = 0, preemptions = 0;
    double perReading(long n) const {
        return readings > 0 ? static_cast<double>(n) / static_cast<double>(readings) : 0;
    }
    double rate() const { return seconds > 0 ? static_cast<double>(readings) / seconds : 0; }
    double cpuMicros() const {
        return readings > 0 ? cpu / static_cast<double>(readings) * 1e6 : 0;
    }
};

struct BareClient {
    int fd = -1;
    bool open(int port) {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return false;
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    }
    ~BareClient() {
        if (fd >= 0)
            ::close(fd);
    }
    // Request after request for `seconds`; no readings when a transaction failed.
    Slice run(double seconds) const {
        unsigned char request[kRequestBytes] = {0x00, 0x55, 0x00, 0x05};
        unsigned char reply[kReplyBytes];
        long long readings = 0;
        const Cpu cpu0 = cpuNow();
        const auto t0 = Clock::now();
        double elapsed = 0;
        while (elapsed < seconds) {
            if (::write(fd, request, sizeof request) != static_cast<ssize_t>(sizeof request))
                return {};
            std::size_t got = 0;
            while (got < sizeof reply) {
                const ssize_t n = ::read(fd, reply + got, sizeof reply - got);
                if (n <= 0)
                    return {};
                got += static_cast<std::size_t>(n);
            }
            ++readings;
            elapsed = secondsSince(t0);
        }
        const Cpu cpu1 = cpuNow();
        return {elapsed, readings, cpu1.total() - cpu0.total(), cpu1.sleeps - cpu0.sleeps,
                cpu1.preemptions - cpu0.preemptions};
    }
};

// One GO run, as the GO button starts it and stopped by clearing the run flag from a timer. With
// a bare client, the run is cut into slices: from a timer that fires inside the GO loop's own
// event processing, the bare client takes the simulator for a slice, then GO goes on. Both thus
// meet the machine in the same state, slice by slice, however its load drifts.
struct GoRun {
    std::vector<Slice> go, bare;
    long maxRssKiB = -1;
    bool failed = false;
};

GoRun runGo(int fd, double seconds, double slice, BareClient *bare) {
    GoRun r;
    const std::size_t popupsBefore = g_popups.size();
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    long long bytes0 = bytesReceived(fd);
    Cpu cpu0 = cpuNow();
    auto t0 = Clock::now();
    auto closeGoSlice = [&] {
        const long long bytes1 = bytesReceived(fd);
        Slice s;
        s.seconds = secondsSince(t0);
        s.readings = (bytes1 - bytes0) / kReplyBytes;
        const Cpu cpu1 = cpuNow();
        s.cpu = cpu1.total() - cpu0.total();
        s.sleeps = cpu1.sleeps - cpu0.sleeps;
        s.preemptions = cpu1.preemptions - cpu0.preemptions;
        r.go.push_back(s);
    };
    auto openGoSlice = [&] {
        bytes0 = bytesReceived(fd);
        cpu0 = cpuNow();
        t0 = Clock::now();
    };
    QTimer tick;
    tick.setSingleShot(true);
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        r.maxRssKiB = std::max(r.maxRssKiB, rssKiB());
        closeGoSlice();
        if (Clock::now() >= end) {
            qv::poll = 0;
            return;
        }
        if (bare) {
            const Slice b = bare->run(slice);
            if (b.readings <= 0) {
                r.failed = true;
                qv::poll = 0;
                return;
            }
            r.bare.push_back(b);
        }
        openGoSlice();
        tick.start(static_cast<int>(slice * 1000));
    });
    tick.start(static_cast<int>(slice * 1000));
    qv::CBF_ButtonGo(qv::panel, qv::P_BUTTONGO, qv::rt::EVENT_COMMIT, nullptr, 0, 0);
    tick.stop();
    if (g_popups.size() != popupsBefore || bytes0 < 0)
        r.failed = true; // the loop ran into a time-out, or the count cannot be read
    for (const Slice &s : r.go)
        if (s.readings <= 0)
            r.failed = true;
    return r;
}

// Counts the pictures the trend window paints.
struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject *, QEvent *event) override {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

// SAVE CSV as an operator who thinks better of it: the real dialog, shown with its folder listed
// for a second, then Cancel. Returns false when no dialog came.
bool openAndCancelSaveDialog() {
    bool seen = false;
    QElapsedTimer shown;
    QTimer watch;
    watch.setInterval(20);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        if (!seen) {
            seen = true;
            shown.start();
        } else if (shown.elapsed() >= 1000) {
            dialog->reject();
        }
    });
    watch.start();
    qv::CBF_ButtonSaveCsv(qv::trendpanel, qv::TRENDP_BUTTONSAVECSV, qv::rt::EVENT_COMMIT, nullptr,
                          0, 0);
    return seen;
}

} // namespace

void benchGoLoop(double seconds, double slice, bool alone, bool trend) {
    Simulator sim;
    std::string why;
    // Noise on, so that the readings change and the displays have something to redraw.
    if (!sim.start({"--tcp", "127.0.0.1:0", "--noise", "2"}, false, &why))
        return fail("GO loop: " + why);
    const int port = sim.tcpPort();
    if (!connectTcp(port))
        return fail("GO loop: the program could not connect to the simulator");
    const int fd = programSocket(port);
    BareClient bare;
    if (fd < 0 || !bare.open(port))
        return fail("GO loop: no socket to count replies on, or the bare client cannot connect");

    PaintCounter paints;
    if (trend) {
        qv::CBF_ButtonTrend(qv::panel, qv::P_BUTTONTREND, qv::rt::EVENT_COMMIT, nullptr, 0, 0);
        QWidget *area = qv::rt::CanvasWidget(qv::trendpanel, qv::TRENDP_CHART);
        auto *chart = area ? area->findChild<QAbstractScrollArea *>() : nullptr;
        if (!chart)
            return fail("GO loop with the trend: the trend window has no chart");
        chart->viewport()->installEventFilter(&paints);
    }
    const char *suffix = trend ? "_trend" : "";
    auto name = [suffix](const char *base) { return std::string(base) + suffix; };

    // Warm-up: caches, the simulator's threads, the first paints.
    if (bare.run(0.5).readings <= 0)
        return fail("GO loop: the bare client's transactions failed");
    runGo(fd, 0.5, 0.5, nullptr);
    if (alone) {
        const GoRun g = runGo(fd, seconds, seconds, nullptr);
        disconnectAll();
        if (g.failed || g.go.empty())
            return fail("GO loop: a transaction failed during the measurement");
        figure(name("go_loop_readings_per_second").c_str(), g.go.front().rate(), "readings/s", 0);
        figure(name("go_loop_cpu_per_reading").c_str(), g.go.front().cpuMicros(), "us", 1);
        return;
    }

    paints.paints = 0;
    const auto t0 = Clock::now();
    const GoRun g = runGo(fd, seconds, slice, &bare);
    const double ran = secondsSince(t0);
    disconnectAll();
    if (g.failed || g.go.size() < 3 || g.bare.size() + 1 != g.go.size())
        return fail("GO loop: a transaction failed during the measurement");
    // Each bare slice against the mean of the GO slices on either side of it; the first pair is
    // warm-up.
    std::vector<double> ratios, bareRates, goRates;
    std::vector<double> cpu[2], sleeps[2], preemptions[2]; // [0] bare, [1] GO
    for (std::size_t i = 1; i < g.bare.size(); ++i) {
        const double goRate = (g.go[i].rate() + g.go[i + 1].rate()) / 2;
        ratios.push_back(goRate / g.bare[i].rate());
        bareRates.push_back(g.bare[i].rate());
        goRates.push_back(g.go[i].rate());
        for (int k = 0; k < 2; ++k) {
            const Slice &s = k == 0 ? g.bare[i] : g.go[i];
            cpu[k].push_back(s.cpuMicros());
            sleeps[k].push_back(s.perReading(s.sleeps));
            preemptions[k].push_back(s.perReading(s.preemptions));
        }
    }
    char line[300];
    std::snprintf(line, sizeof line,
                  "GO loop%s: %zu slice pairs of %.2f s; ratio per pair from %.3f to %.3f; per "
                  "reading (medians): CPU bare %.1f us, GO %.1f us; sleeps bare %.2f, GO %.2f; "
                  "preemptions bare %.2f, GO %.2f",
                  trend ? " with the trend window" : "", ratios.size(), slice,
                  *std::min_element(ratios.begin(), ratios.end()),
                  *std::max_element(ratios.begin(), ratios.end()), median(cpu[0]), median(cpu[1]),
                  median(sleeps[0]), median(sleeps[1]), median(preemptions[0]),
                  median(preemptions[1]));
    note(line);
    if (trend) {
        // The GO slices are half the run; the window draws in those only.
        int width = 0, height = 0;
        qv::rt::GetPanelAttribute(qv::trendpanel, qv::rt::ATTR_WIDTH, &width);
        qv::rt::GetPanelAttribute(qv::trendpanel, qv::rt::ATTR_HEIGHT, &height);
        std::snprintf(line, sizeof line,
                      "trend window (%dx%d): %d pictures painted in %.1f s of GO slices (%.1f a "
                      "second), %zu readings kept",
                      width, height, paints.paints, ran / 2, paints.paints / (ran / 2),
                      qv::trendreadings.size());
        note(line);
        if (paints.paints == 0)
            return fail("GO loop with the trend: the trend window painted nothing");
    }
    figure(name("bare_client_readings_per_second").c_str(), median(bareRates), "readings/s", 0);
    figure(name("go_loop_readings_per_second").c_str(), median(goRates), "readings/s", 0);
    figure(name("go_loop_ratio").c_str(), median(ratios), "ratio", 3);
    figure(name("rss_megabytes").c_str(), static_cast<double>(g.maxRssKiB) / 1024.0, "MB", 1);
    if (trend) {
        // The most the readings can take: the ring full, as after a long run against a fast
        // sensor; then the save dialog, opened and cancelled.
        const std::uint16_t value[qv::kTrendChannels] = {1000, 1000, 1000, 1000, 1000, 1000};
        double t = qv::trendreadings.newest();
        while (qv::trendreadings.size() < qv::trendreadings.capacity())
            qv::trendreadings.add(t += 1e-4, value);
        if (!openAndCancelSaveDialog())
            return fail("GO loop with the trend: SAVE CSV showed no save dialog");
        figure("rss_megabytes_trend_full", static_cast<double>(rssKiB()) / 1024.0, "MB", 1);
        qv::CBF_TRENDP(qv::trendpanel, qv::rt::EVENT_CLOSE, nullptr, 0, 0);
    }
}

} // namespace qvbench
