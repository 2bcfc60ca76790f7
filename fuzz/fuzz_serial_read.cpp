// A sensor's reply, cut into chunks, written to the master side of a pseudo-terminal whose slave
// the program opens as its serial port (QUORVAT_COM<n>). The program runs one of its commands
// over RS-232 and waits for the reply in its own loop; the decoders then read szReadBuf.
// AddressSanitizer watches szReadBuf's bounds; the checks watch what the program took. Now and
// then the line hangs up after the reply (the sensor's end closes) and the program reopens it.
// Between inputs the target empties the line itself, so that what is on it when the request goes
// is known.
#include "fuzz/reply.h"
#include "fuzz/support.h"
#include "link/commands.h"
#include "link/link.h"
#include "link/transaction.h"
#include "protocol/codec.h"
#include "shell/state.h"

#include <QByteArray>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <thread>

using namespace qv;
using namespace fuzzsupport;

namespace {

constexpr int kPort = 7;
// A pseudo-terminal hands its reader a write in pieces of at most 1792 bytes (the kernel's tty
// buffer); a write of up to this many arrives whole.
constexpr std::size_t kWholeWriteBytes = 1024;

int master = -1;
int slaveHold = -1; // kept open so that the line never hangs up between the program's opens

void openLine() {
    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        fail("no pseudo-terminal");
    const char *name = ::ptsname(master);
    slaveHold = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    termios t{};
    if (slaveHold < 0 || ::tcgetattr(slaveHold, &t) != 0)
        fail("cannot open the pseudo-terminal's slave");
    ::cfmakeraw(&t);
    ::tcsetattr(slaveHold, TCSANOW, &t);
    qputenv(("QUORVAT_COM" + std::to_string(kPort)).c_str(), name);
}

// Reads and drops what the line holds. A read that finds nothing first waits for what the kernel
// is still passing on, so the line is empty after it.
void emptyLine() {
    unsigned char scratch[4096];
    while (::read(slaveHold, scratch, sizeof scratch) > 0) {
    }
}

// Waits until the program could read `n` bytes that were written to an empty line.
void awaitOnLine(std::size_t n) {
    const double until = now() + 3.0;
    for (;;) {
        int queued = 0;
        if (::ioctl(slaveHold, FIONREAD, &queued) == 0 && static_cast<std::size_t>(queued) >= n)
            return;
        if (now() > until)
            fail("the leftover never reached the line");
        ::usleep(20);
    }
}

// The sensor: reads the request frame, then sends the reply in its chunks.
void serve(const ReplyPlan &plan) {
    if (!readExactly(master, static_cast<std::size_t>(FrameBytes())))
        return;
    std::size_t at = 0;
    for (std::size_t s : plan.chunkSizes) {
        writeAll(master, plan.stream.data() + at, s);
        at += s;
        if (plan.flags & kPauseBetween)
            ::usleep(200);
    }
    // The sensor's end goes away: the program's line hangs up.
    if (plan.closes()) {
        ::close(master);
        master = -1;
    }
}

bool wholeWrite(std::size_t bytes) {
    return bytes <= kWholeWriteBytes;
}

// A new line after a hang-up, opened the way the program reconnects.
void reopenLine() {
    ::close(slaveHold);
    openLine();
    InitRS232();
    if (ret < 0)
        fail("the program could not open a new pseudo-terminal after a hang-up");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    startProgram();
    openLine();
    comprotocol = 0;
    comport = kPort;
    InitRS232();
    if (ret < 0)
        fail("the program could not open the pseudo-terminal");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const bool wantsShort = size > 3 && (data[3] & kShortReply);
    const ReplyPlan plan = parsePlan(data, size, wantsShort && shortAllowed(30.0));

    writeAll(master, plan.leftover.data(), plan.leftover.size());
    awaitOnLine(plan.leftover.size());
    std::thread sensor(serve, std::cref(plan));
    const bool taken = runCommand(plan);
    sensor.join();
    // A hang-up discards what the line held, the reply's last bytes among them.
    checkReply(plan, taken, wholeWrite, false);

    if (plan.closes()) {
        // As the program's watch over an idle line looks at it.
        const double until = now() + 2.0;
        while (!LinkLost() && now() < until)
            Collect();
        if (!LinkLost())
            fail("the hang-up was never reported");
        reopenLine();
        return 0;
    }
    emptyLine();
    if (LinkLost())
        fail("a line lost by itself");
    return 0;
}
