// A sensor's reply, cut into chunks, over a real loopback connection to the program's TCP
// client. The program connects as it always does (InitTCP_IP, with ClientTCPCB as the client
// callback), runs one of its commands and waits for the reply in its own loop; the decoders
// then read szReadBuf. The sensor side is a plain socket in this process, served by a thread.
// Before each input every byte the sensor sent has reached the program's socket, so that what
// is on the line when the request goes is known.
#include "fuzz/reply.h"
#include "fuzz/support.h"
#include "link/commands.h"
#include "link/link.h"
#include "platform/utility.h"
#include "protocol/codec.h"
#include "shell/state.h"

#include <QCoreApplication>
#include <QTcpSocket>

#include <arpa/inet.h>
#include <cstddef>
#include <cstdio>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

using namespace qv;
using namespace fuzzsupport;

namespace {

int listener = -1;
int peer = -1;         // the sensor's end of the program's current connection
int programFd = -1;    // the program's end
long long written = 0; // bytes the sensor has sent over this connection

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

// Bytes the kernel has taken in on the program's socket, read or not.
long long receivedByProgram() {
    tcp_info info{};
    socklen_t len = sizeof info;
    if (::getsockopt(programFd, IPPROTO_TCP, TCP_INFO, &info, &len) != 0 ||
        len < offsetof(tcp_info, tcpi_bytes_received) + sizeof info.tcpi_bytes_received)
        fail("cannot count the bytes the program's socket received");
    return static_cast<long long>(info.tcpi_bytes_received);
}

// Waits until everything the sensor sent is on the program's side of the connection.
void awaitDelivery() {
    const double until = now() + 3.0;
    while (receivedByProgram() < written) {
        if (now() > until)
            fail("the sensor's bytes never reached the program's socket");
        ::usleep(20);
    }
}

void send(const std::uint8_t *data, std::size_t n) {
    writeAll(peer, data, n);
    written += static_cast<long long>(n);
}

// The program's own connect; the pending connection is then taken as the sensor's end.
void connectProgram() {
    if (peer >= 0)
        ::close(peer);
    peer = -1;
    InitTCP_IP();
    if (ret < 0 || LinkLost()) {
        std::fprintf(stderr, "connect status %d: %s\n", ret, TcpErrorText(ret));
        fail("the program could not connect to the loopback sensor");
    }
    pollfd p{listener, POLLIN, 0};
    if (::poll(&p, 1, 3000) <= 0 ||
        (peer = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC)) < 0)
        fail("the program's connection did not arrive");
    const int one = 1;
    ::setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    written = 0;
    programFd = -1;
    for (QTcpSocket *s : QCoreApplication::instance()->findChildren<QTcpSocket *>())
        if (s->state() == QAbstractSocket::ConnectedState && s->peerPort() == portNum)
            programFd = static_cast<int>(s->socketDescriptor());
    if (programFd < 0)
        fail("the program's socket is not to be found");
}

// The sensor: reads the request frame, then sends the reply in its chunks.
void serve(const ReplyPlan &plan) {
    if (!readExactly(peer, static_cast<std::size_t>(FrameBytes())))
        return;
    std::size_t at = 0;
    for (std::size_t s : plan.chunkSizes) {
        send(plan.stream.data() + at, s);
        at += s;
        if (plan.flags & kPauseBetween)
            ::usleep(200);
    }
    // An orderly close, after the request is read: unread bytes would make it a reset.
    if (plan.closes())
        ::shutdown(peer, SHUT_WR);
}

// Loopback hands the program's socket a write of up to 64 KB whole.
bool wholeWrite(std::size_t) {
    return true;
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

    send(plan.leftover.data(), plan.leftover.size());
    awaitDelivery();
    std::thread sensor(serve, std::cref(plan));
    const bool taken = runCommand(plan);
    sensor.join();
    checkReply(plan, taken, wholeWrite, true);

    // The program drops what came after the reply from its event loop; the sensor's close is
    // reported there too, and takes the socket with it.
    if (!plan.closes())
        awaitDelivery();
    const double until = now() + 2.0;
    for (int i = 0; i < 2 || (plan.closes() && !LinkLost()); ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        if (now() > until)
            fail("the sensor's close was never reported");
    }
    if (LinkLost() != plan.closes())
        fail(plan.closes() ? "the sensor's close was never reported" : "a line lost by itself");
    if (plan.closes())
        connectProgram();
    return 0;
}
