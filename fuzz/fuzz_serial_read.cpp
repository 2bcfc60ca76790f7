// A sensor's reply, cut into chunks, written to the master side of a pseudo-terminal whose slave
// the program opens as its serial port (QUORVAT_COM<n>). The program runs one of its commands
// over RS-232 and polls its input queue in its own loop; the decoders then read szReadBuf.
// AddressSanitizer watches szReadBuf's bounds; the checks watch bytesToRead and dataSize. Now and
// then the line hangs up after the reply (the sensor's end closes) and the program reopens it.
#include "fuzz/reply.h"
#include "fuzz/support.h"
#include "link/commands.h"
#include "link/link.h"
#include "platform/rs232.h"
#include "platform/userint.h"
#include "protocol/codec.h"
#include "shell/state.h"

#include <QByteArray>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <thread>

using namespace qv;
using namespace qv::rt;
using namespace fuzzsupport;

namespace {

constexpr int kPort = 7;
int master = -1;
int slaveHold = -1; // kept open so that the line never hangs up between the program's opens

void openLine() {
    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        fail("no pseudo-terminal");
    const char *name = ::ptsname(master);
    slaveHold = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    if (slaveHold < 0 || ::tcgetattr(slaveHold, &t) != 0)
        fail("cannot open the pseudo-terminal's slave");
    ::cfmakeraw(&t);
    ::tcsetattr(slaveHold, TCSANOW, &t);
    qputenv(("QUORVAT_COM" + std::to_string(kPort)).c_str(), name);
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
    if (plan.flags & kCloseAfter) {
        ::close(master);
        master = -1;
    }
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

// A new line after a hang-up, opened the way the program reconnects.
void reopenLine() {
    ::close(slaveHold);
    openLine();
    InitRS232();
    if (ret < 0)
        fail("the program could not open a new pseudo-terminal after a hang-up");
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    // A short reply and a hang-up may each cost the program its full wait.
    const bool slow = size > 3 && (data[3] & (kShortReply | kCloseAfter));
    const bool allowSlow = slow && shortAllowed(30.0);
    ReplyPlan plan = parsePlan(data, size, allowSlow);
    if (!allowSlow)
        plan.flags &= static_cast<std::uint8_t>(~kCloseAfter);
    const int expected = expectedBytes(plan.command, plan.words);

    std::thread sensor(serve, std::cref(plan));
    runCommand(plan);
    sensor.join();
    checkReply(expected, plan.stream, true, plan.command == Command::CheckComLine);
    if (plan.flags & kCloseAfter)
        reopenLine();
    return 0;
}
