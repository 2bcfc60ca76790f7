// A sensor's reply, cut into chunks, over a real loopback connection to the program's TCP
// client. The program connects as it always does (InitTCP_IP, with ClientTCPCB as the client
// callback), runs one of its commands and waits for the reply in its own loop; the decoders
// then read szReadBuf. The sensor side is a plain socket in this process, served by a thread.
#include "fuzz/reply.h"
#include "fuzz/support.h"
#include "link/commands.h"
#include "link/link.h"
#include "platform/tcp.h"
#include "platform/userint.h"
#include "platform/utility.h"
#include "protocol/codec.h"
#include "shell/state.h"

#include <QCoreApplication>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

using namespace qv;
using namespace qv::rt;
using namespace fuzzsupport;

namespace {

int listener = -1;
int peer = -1; // the sensor's end of the program's current connection

void listenOnLoopback() {
    listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        ::listen(listener, 4) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr *>(&a), &len) != 0)
        fail("cannot listen on the loopback interface");
    rt::CopyText(ipBuf, "127.0.0.1");
    portNum = ntohs(a.sin_port);
}

// The program's own connect; the pending connection is then taken as the sensor's end.
void connectProgram() {
    if (peer >= 0)
        ::close(peer);
    peer = -1;
    InitTCP_IP();
    if (ret < 0 || tcpcon != 1) {
        std::fprintf(stderr, "connect status %d: %s\n", ret, TcpErrorText(ret));
        fail("the program could not connect to the loopback sensor");
    }
    pollfd p{listener, POLLIN, 0};
    if (::poll(&p, 1, 3000) <= 0 ||
        (peer = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC)) < 0)
        fail("the program's connection did not arrive");
    const int one = 1;
    ::setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

void serve(const ReplyPlan &plan) {
    const std::size_t frame = static_cast<std::size_t>(FrameBytes());
    const bool before = plan.flags & kSendBeforeRequest;
    if (!before && !readExactly(peer, frame))
        return;
    std::size_t at = 0;
    for (std::size_t s : plan.chunkSizes) {
        writeAll(peer, plan.stream.data() + at, s);
        at += s;
        if (plan.flags & kPauseBetween)
            ::usleep(200);
    }
    if (before)
        readExactly(peer, frame);
    // An orderly close, after the request is read: unread bytes would make it a reset.
    if (plan.shortReply() || (plan.flags & kCloseAfter))
        ::shutdown(peer, SHUT_WR);
}

// Bytes the program has not taken yet are dropped by its callback from the event loop; they
// are in this host's socket buffers already, so a pass or two sees them.
void settle(bool closed) {
    const double until = now() + 2.0;
    for (int i = 0; i < 2 || (closed && tcpcon != 0); ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        if (now() > until)
            fail("the server's close never reached the program");
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    startProgram();
    comprotocol = 1;
    listenOnLoopback();
    connectProgram();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const bool wantsShort = size > 3 && (data[3] & kShortReply);
    const ReplyPlan plan = parsePlan(data, size, wantsShort && shortAllowed(30.0));
    const int expected = expectedBytes(plan.command, plan.words);

    std::thread sensor(serve, std::cref(plan));
    runCommand(plan);
    sensor.join();
    checkReply(expected, plan.stream, false, plan.command == Command::CheckComLine);

    const bool closed = plan.shortReply() || (plan.flags & kCloseAfter);
    settle(closed);
    if (closed)
        connectProgram();
    return 0;
}
