// quorvat-bench: the program's own procedures, run in this process on the real panels, against
// the sensor simulator running as a separate process. Prints one line per figure,
// "name: value unit", reference figures included; lines starting with '#' are notes. Exits
// non-zero when a measurement could not be made; a missed goal is only reported.
//
// `quorvat-bench --help` lists the options.

#include "app/callbacks.h"
#include "app/handlers.h"
#include "app/startup.h"
#include "calibration/calibration.h"
#include "link/connectpanel.h"
#include "link/link.h"
#include "platform/canvas.h"
#include "platform/rs232.h"
#include "platform/tcp.h"
#include "platform/userint.h"
#include "protocol/commands.h"
#include "shell/controls.h"
#include "shell/state.h"
#include "trend/trend.h"

#include <QAbstractScrollArea>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

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

bool g_failed = false;

void fail(const std::string &why) {
    std::fprintf(stderr, "quorvat-bench: %s\n", why.c_str());
    g_failed = true;
}

// ---- A child process whose output lines we read ourselves, outside Qt's event loop, so that
// nothing it prints wakes the loop being measured. ----

class LineReader {
  public:
    explicit LineReader(int fd) : fd_(fd) {}
    // The next line (without its newline), or nothing at end of input or at the deadline.
    std::optional<std::string> next(Clock::time_point deadline) {
        for (;;) {
            const auto nl = buf_.find('\n');
            if (nl != std::string::npos) {
                std::string line = buf_.substr(0, nl);
                buf_.erase(0, nl + 1);
                return line;
            }
            if (eof_)
                return std::nullopt;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return std::nullopt;
            pollfd p{fd_, POLLIN, 0};
            const int r = ::poll(&p, 1, static_cast<int>(left.count()));
            if (r == 0 || (r < 0 && errno == EINTR))
                continue;
            if (r < 0) {
                eof_ = true;
                continue;
            }
            char chunk[4096];
            const ssize_t n = ::read(fd_, chunk, sizeof chunk);
            if (n > 0)
                buf_.append(chunk, static_cast<std::size_t>(n));
            else if (n == 0 || (errno != EINTR && errno != EAGAIN))
                eof_ = true;
        }
    }

  private:
    int fd_;
    std::string buf_;
    bool eof_ = false;
};

class Simulator {
  public:
    Simulator() = default;
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;
    ~Simulator() { stop(); }

    // Starts the simulator with `args`; with `readStderr` its stderr (the -v request log) comes
    // to us, otherwise it goes where ours goes. Waits for its first status line.
    bool start(const std::vector<std::string> &args, bool readStderr, std::string *why) {
        statusLines_.clear();
        const std::string exe =
            (QCoreApplication::applicationDirPath() + "/quorvat-sensorsim").toStdString();
        int out[2], err[2] = {-1, -1};
        if (::pipe2(out, O_CLOEXEC) != 0 || (readStderr && ::pipe2(err, O_CLOEXEC) != 0)) {
            *why = std::string("pipe: ") + std::strerror(errno);
            return false;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        if (readStderr)
            posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        std::vector<std::string> all{exe};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char *> argv;
        for (auto &a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const int rc = ::posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        if (readStderr)
            ::close(err[1]);
        outFd_ = out[0];
        errFd_ = err[0];
        out_.emplace(outFd_);
        if (readStderr)
            err_.emplace(errFd_);
        if (rc != 0) {
            pid_ = -1;
            *why = exe + ": " + std::strerror(rc);
            return false;
        }
        for (;;) {
            const auto line = out_->next(Clock::now() + std::chrono::seconds(10));
            if (!line) {
                *why = "the simulator did not come up (" + exe + ")";
                stop();
                return false;
            }
            statusLines_.push_back(*line);
            if (line->rfind("tcp: ", 0) == 0 || line->rfind("pty: ", 0) == 0)
                break;
        }
        // A second link line follows at once when both are asked for.
        const bool both = std::find(args.begin(), args.end(), "--pty") != args.end() &&
                          std::find(args.begin(), args.end(), "--no-tcp") == args.end();
        if (both) {
            const auto line = out_->next(Clock::now() + std::chrono::seconds(10));
            if (!line) {
                *why = "the simulator opened only one link";
                stop();
                return false;
            }
            statusLines_.push_back(*line);
        }
        return true;
    }

    int tcpPort() const {
        for (const auto &l : statusLines_)
            if (l.rfind("tcp: ", 0) == 0)
                return std::atoi(l.substr(l.rfind(':') + 1).c_str());
        return 0;
    }
    std::string ptyPath() const {
        for (const auto &l : statusLines_)
            if (l.rfind("pty: ", 0) == 0)
                return l.substr(5);
        return {};
    }
    // Lines the simulator writes on stderr, when it was started with readStderr.
    LineReader *log() { return err_ ? &*err_ : nullptr; }

    void stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            const auto until = Clock::now() + std::chrono::seconds(3);
            int status = 0;
            while (::waitpid(pid_, &status, WNOHANG) == 0) {
                if (Clock::now() > until) {
                    ::kill(pid_, SIGKILL);
                    ::waitpid(pid_, &status, 0);
                    break;
                }
                ::usleep(5000);
            }
            pid_ = -1;
        }
        for (int *fd : {&outFd_, &errFd_})
            if (*fd >= 0) {
                ::close(*fd);
                *fd = -1;
            }
        out_.reset();
        err_.reset();
    }

  private:
    pid_t pid_ = -1;
    int outFd_ = -1, errFd_ = -1;
    std::optional<LineReader> out_, err_;
    std::vector<std::string> statusLines_;
};

// ---- Pop-ups: every confirmation answered yes, each one's moment kept. ----

struct PopupSeen {
    qv::rt::PopupKind kind;
    std::string title;
    Clock::time_point at;
};
std::vector<PopupSeen> g_popups;

void answerPopups() {
    qv::rt::SetPopupHandler(
        [](qv::rt::PopupKind kind, const std::string &title, const std::string &) {
            g_popups.push_back({kind, title, Clock::now()});
            return 1;
        });
}

// ---- The program's side. ----

bool linkChecked() {
    char text[64] = "";
    qv::rt::GetCtrlVal(qv::panel, qv::P_DISPSTATUS, text);
    return qv::bytesToRead == 0 && std::strcmp(text, "TIMEOUT") != 0;
}

bool connectTcp(int port) {
    qv::rt::SetCtrlVal(qv::interfacepanel, qv::INTERFACEP_EDITCOMMUNICATIONPROTOCOL, 1);
    qv::rt::SetCtrlVal(qv::interfacepanel, qv::INTERFACEP_STRINGIPADRESS, "127.0.0.1");
    qv::rt::SetCtrlVal(qv::interfacepanel, qv::INTERFACEP_STRINGPORTNUMBER,
                       std::to_string(port).c_str());
    qv::InitConnectPanel();
    qv::TryToConnect();
    return qv::tcpcon == 1 && linkChecked();
}

// Serial port 9 answers to the simulator's pseudo-terminal.
constexpr int kBenchComPort = 9;

bool connectSerial(const std::string &ptyPath) {
    ::setenv(("QUORVAT_COM" + std::to_string(kBenchComPort)).c_str(), ptyPath.c_str(), 1);
    qv::rt::SetCtrlVal(qv::interfacepanel, qv::INTERFACEP_EDITCOMMUNICATIONPROTOCOL, 0);
    qv::rt::SetCtrlVal(qv::interfacepanel, qv::INTERFACEP_EDITSELECTCOMPORT, kBenchComPort);
    qv::InitConnectPanel();
    qv::TryToConnect();
    return qv::ret >= 0 && linkChecked();
}

void disconnectAll() {
    if (qv::tcpcon != 0)
        qv::rt::DisconnectFromTCPServer(qv::g_hconversation);
    qv::tcpcon = 0;
    qv::rt::CloseCom(qv::comport);
    // Whatever the closing links posted is handled now, not inside the next measurement.
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

long rssKiB(const std::string &statusFile = "/proc/self/status") {
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

// The panels from the resource file and the program's own start-up steps, its first connection
// attempt going to a simulator of ours.
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
    const bool connected = qv::tcpcon == 1 && linkChecked();
    disconnectAll();
    if (!connected)
        fail("start-up: the program's first connection attempt failed");
    return connected;
}

// ---- GO loop against a bare blocking client. ----

struct Cpu {
    double user = 0, system = 0;
    long sleeps = 0, preemptions = 0; // voluntary and involuntary context switches
    double total() const { return user + system; }
};

Cpu cpuNow() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return {static_cast<double>(u.ru_utime.tv_sec) + static_cast<double>(u.ru_utime.tv_usec) / 1e6,
            static_cast<double>(u.ru_stime.tv_sec) + static_cast<double>(u.ru_stime.tv_usec) / 1e6,
            u.ru_nvcsw, u.ru_nivcsw};
}

constexpr int kRequestBytes = 36;
constexpr int kReplyBytes = 32;

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

// With `alone`, one GO run and nothing else, for a profiler to look at. With `trend`, the trend
// window is open and drawing throughout, as TREND opens it.
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
        std::snprintf(line, sizeof line,
                      "trend window: %d pictures painted in %.1f s of GO slices (%.1f a second), "
                      "%zu readings kept",
                      paints.paints, ran / 2, paints.paints / (ran / 2), qv::trendreadings.size());
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
        // sensor.
        const std::uint16_t value[qv::kTrendChannels] = {1000, 1000, 1000, 1000, 1000, 1000};
        double t = qv::trendreadings.newest();
        while (qv::trendreadings.size() < qv::trendreadings.capacity())
            qv::trendreadings.add(t += 1e-4, value);
        figure("rss_megabytes_trend_full", static_cast<double>(rssKiB()) / 1024.0, "MB", 1);
        qv::CBF_TRENDP(qv::trendpanel, qv::rt::EVENT_CLOSE, nullptr, 0, 0);
    }
}

// ---- CPU while waiting for a reply that never comes. ----

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
    return waitCpu(what.c_str(), qv::GetCF, true);
}

// The link check on a serial port that is not open: it polls without pumping events.
double deadPortCpu() {
    qv::rt::CloseCom(qv::comport);
    qv::comprotocol = 0;
    return waitCpu("link check on a closed serial port", qv::CheckComLine, false);
}

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

// ---- The calibration series over a paced pseudo-terminal. ----

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

// ---- Start-up of the real program. ----

constexpr int kProgramPort = 10001;

// A copy of the program and its resource file whose connection panel starts at `port`.
bool scratchProgram(const QTemporaryDir &dir, int port, std::string *why) {
    const QDir bin(QCoreApplication::applicationDirPath());
    QStringList names = bin.entryList({"*.uir", "*.png"}, QDir::Files);
    names << "quorvat";
    for (const QString &name : names)
        if (!QFile::copy(bin.filePath(name), dir.filePath(name))) {
            *why = "cannot copy " + name.toStdString();
            return false;
        }
    QFile::setPermissions(dir.filePath("quorvat"), QFile::permissions(bin.filePath("quorvat")));
    QFile file(dir.filePath(qv::kResourceFile));
    if (!file.open(QIODevice::ReadOnly)) {
        *why = "cannot read the resource file copy";
        return false;
    }
    QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    file.close();
    QJsonArray panels = root.value("panels").toArray();
    bool edited = false;
    for (int i = 0; i < panels.size(); ++i) {
        QJsonObject p = panels[i].toObject();
        if (p.value("resource").toInt() != 1)
            continue;
        QJsonArray controls = p.value("controls").toArray();
        for (int j = 0; j < controls.size(); ++j) {
            QJsonObject c = controls[j].toObject();
            if (c.value("id").toInt() != qv::INTERFACEP_STRINGPORTNUMBER)
                continue;
            c["value"] = QString::number(port);
            controls[j] = c;
            edited = true;
        }
        p["controls"] = controls;
        panels[i] = p;
    }
    root["panels"] = panels;
    if (!edited || !file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(QJsonDocument(root).toJson()) < 0) {
        *why = "cannot set the TCP port in the resource file copy";
        return false;
    }
    return true;
}

// Seconds from starting the program to the simulator's log line of its version request.
double startOnce(const QString &program, Simulator &sim) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.setProgram(program);
    const auto t0 = Clock::now();
    process.start();
    double seconds = -1;
    const auto deadline = t0 + std::chrono::seconds(10);
    while (auto line = sim.log()->next(deadline))
        if (line->find("GETVERSION") != std::string::npos) {
            seconds = secondsSince(t0);
            break;
        }
    process.kill();
    process.waitForFinished(5000);
    return seconds;
}

void benchStartup(int runs) {
    Simulator sim;
    std::string why;
    QString program = QCoreApplication::applicationDirPath() + "/quorvat";
    QTemporaryDir scratch;
    if (!sim.start({"--tcp", "127.0.0.1:" + std::to_string(kProgramPort), "-v"}, true, &why)) {
        // Someone else has the program's starting port: a copy of the program starts at the
        // port a simulator of ours could get.
        if (!sim.start({"--tcp", "127.0.0.1:0", "-v"}, true, &why))
            return fail("start-up: " + why);
        if (!scratch.isValid() || !scratchProgram(scratch, sim.tcpPort(), &why))
            return fail("start-up: " + why);
        program = scratch.filePath("quorvat");
        note("start-up: port " + std::to_string(kProgramPort) + " is taken; a copy of the " +
             "program in " + scratch.path().toStdString() + " starts at port " +
             std::to_string(sim.tcpPort()));
    }
    startOnce(program, sim); // warm-up: the first start reads the libraries and fonts from disk
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const double t = startOnce(program, sim);
        if (t < 0)
            return fail("start-up: the program's version request did not reach the simulator");
        times.push_back(t);
    }
    figure("startup_seconds", median(times), "s", 3);
}

} // namespace

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
    return g_failed ? 1 : 0;
}
