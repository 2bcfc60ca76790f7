// The simulator as the sensor, and the program's link pointed at it over TCP or a pty.
#pragma once

#include "sim/simulator.h"
#include "tests/support/support.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <atomic>
#include <functional>
#include <memory>

namespace qvtest {

enum class Link { Tcp, Serial };

inline const char *linkName(Link link) {
    return link == Link::Tcp ? "tcp" : "serial";
}

// The serial port number the rig's pty answers to (through QUORVAT_COM<n>).
constexpr int kRigComPort = 4;

// A simulator on an ephemeral TCP port, with a pty unless `pty` is false, without noise, and
// with the given version text (the simulator's own when null).
qvsim::Options quietSensor(const char *version = nullptr, bool pty = true);

class SensorRig {
  public:
    // Starts the simulator at once.
    explicit SensorRig(qvsim::Options options = quietSensor());
    ~SensorRig();

    qvsim::Simulator &sim() { return *sim_; }
    // Sets the connection panel to reach the simulator over `link`, without connecting.
    void select(Link link);
    // Selects `link` and runs the reconnect sequence (the link check included).
    void connect(Link link);
    // Frames of one code received since the last clearFrames().
    int framesOf(int code) const;
    // How many times the simulator's pseudo-terminal has come up: a dropped serial line comes
    // back as a new one, possibly under the same path.
    int ptyGeneration() const { return *ptyUps_; }

  private:
    QTemporaryDir ptyDir_;
    std::shared_ptr<std::atomic<int>> ptyUps_ = std::make_shared<std::atomic<int>>(0);
    std::unique_ptr<qvsim::Simulator> sim_;
};

// What the whole-flow tests (the two matrices, the operator test) share: the real panels with
// start-up's sizes, a program folder of their own, which holds the address history and so the
// calibration record, and the sensor.
class FlowRig : public SensorRig {
  public:
    explicit FlowRig(qvsim::Options options = quietSensor());
    QString file(const QString &name) const { return project_.file(name); }
    // The sensor afresh: no faults, its factory images and factors, this version text (the
    // simulator's own when null), and readings from `source` (its formula when empty).
    void reset(const char *version = nullptr,
               std::function<qvsim::Rgb(std::uint64_t)> source = nullptr);

  private:
    ScratchProject project_;
};

// What the operator has typed into the main panel's boxes; the raw bars' target follows SET VALUE.
struct Entries {
    unsigned power, setValue, maxDelta, red, green, blue;
};
void enter(const Entries &e);
void enterFactors(unsigned red, unsigned green, unsigned blue);

// The main panel as the operator reads it.
QByteArray statusLine();
unsigned short boxValue(int control);
// Whether the command buttons (AUTO POWER and CALIBRATE SENSOR too) and TRY and DISCARD are
// live, with no action under way.
bool commandsLive();

// QUORVAT_..._ROWS for a matrix: a comma list of row tags or their beginnings up to a '/'
// ("GetCF", "CheckComLine/tcp"); a leading '-' leaves such rows out. Unset: every row.
bool rowSelected(const char *variable, const QByteArray &tag);

// Runs `action` once, from the event loop, as soon as `when` holds: a click "during" whatever
// the program is waiting for. Checks every few milliseconds until it has run.
void whenever(std::function<bool()> when, std::function<void()> action);

} // namespace qvtest
