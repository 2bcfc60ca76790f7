// What the measurements of quorvat-bench share: figures output, the simulator as a child
// process, and the program's side (its panels, connections, pop-ups answered). One file per
// measurement: startup.cpp, goloop.cpp (with and without the trend window), wait.cpp,
// calibration.cpp; main.cpp picks them.
#pragma once

#include "platform/userint.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace qvbench {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t0);
double median(std::vector<double> v);

// ---- Output: "name: value unit" per figure, "# text" per note (shared.cpp). ----

void figure(const char *name, double value, const char *unit, int decimals);
void note(const std::string &text);
// A measurement that could not be made: said on stderr, and the run exits non-zero.
void fail(const std::string &why);
bool anyFailed();

// ---- A child process whose output lines we read ourselves, outside Qt's event loop, so that
// nothing it prints wakes the loop being measured (process.cpp). ----

class LineReader {
  public:
    explicit LineReader(int fd) : fd_(fd) {}
    // The next line (without its newline), or nothing at end of input or at the deadline.
    std::optional<std::string> next(Clock::time_point deadline);

  private:
    int fd_;
    std::string buf_;
    bool eof_ = false;
};

// quorvat-sensorsim, started from this program's folder.
class Simulator {
  public:
    Simulator() = default;
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;
    ~Simulator() { stop(); }

    // Starts the simulator with `args`; with `readStderr` its stderr (the -v request log) comes
    // to us, otherwise it goes where ours goes. Waits for its first status line.
    bool start(const std::vector<std::string> &args, bool readStderr, std::string *why);
    int tcpPort() const;
    std::string ptyPath() const;
    // Lines the simulator writes on stderr, when it was started with readStderr.
    LineReader *log() { return err_ ? &*err_ : nullptr; }
    void stop();

  private:
    pid_t pid_ = -1;
    int outFd_ = -1, errFd_ = -1;
    std::optional<LineReader> out_, err_;
    std::vector<std::string> statusLines_;
};

// ---- The program's side (shared.cpp). ----

// Every pop-up answered yes, each one's moment kept.
struct PopupSeen {
    qv::rt::PopupKind kind;
    std::string title;
    Clock::time_point at;
};
extern std::vector<PopupSeen> g_popups;

// The panels from the resource file and the program's own start-up steps, its first connection
// attempt going to a simulator of ours.
bool loadProgram(int argc, char **argv);
bool connectTcp(int port);
// The program's serial link on the simulator's pseudo-terminal, with its link check.
bool connectSerial(const std::string &ptyPath);
void disconnectAll();

long rssKiB(const std::string &statusFile = "/proc/self/status");

struct Cpu {
    double user = 0, system = 0;
    long sleeps = 0, preemptions = 0; // voluntary and involuntary context switches
    double total() const { return user + system; }
};
Cpu cpuNow();

// The data request and its reply, as every reading asks it.
constexpr int kRequestBytes = 36;
constexpr int kReplyBytes = 32;

// ---- The measurements. ----

void benchStartup(int runs);
// With `alone`, one GO run and nothing else, for a profiler to look at. With `trend`, the trend
// window is open and drawing throughout, as TREND opens it.
void benchGoLoop(double seconds, double slice, bool alone, bool trend);
void benchWait(int runs);
void benchCalibration(int runs);

} // namespace qvbench
