// The run-time's TCP client against real servers on 127.0.0.1: the simulator as the sensor, and
// plain sockets that refuse, never accept or never read.
#include "platform/tcp.h"
#include "platform/utility.h"
#include "tests/support/rig.h"
#include "tests/support/support.h"

#include <QTest>

#include <arpa/inet.h>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

using namespace qv::rt;

namespace {

const QByteArray kVersion = QByteArray("QUORVAT SENSOR SIMULATOR V1.0").leftJustified(48, '\0');
const qvsim::Frame kGetVersion = qvsim::makeFrame(qvsim::command::GetVersion);

// A socket listening on 127.0.0.1 and an ephemeral port; it never accepts.
int bindLoopback(unsigned *port, int backlog) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    ::listen(fd, backlog);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    *port = ntohs(a.sin_port);
    return fd;
}

// What a program's callback saw, and what it does.
struct Recorder {
    int ready = 0, disconnects = 0, lastError = -1, callsInsideApi = 0;
    int readPerCall = 256; // 0: leave the bytes unread
    QByteArray got;
};
bool g_insideApi = false; // the test is inside ClientTCPRead or ClientTCPWrite

int onEvent(unsigned handle, int xType, int errCode, void *callbackData) {
    auto &r = *static_cast<Recorder *>(callbackData);
    (xType == TCP_DATAREADY ? r.ready : r.disconnects) += 1;
    r.lastError = errCode;
    r.callsInsideApi += g_insideApi;
    char buf[256];
    const int n = xType == TCP_DATAREADY && r.readPerCall > 0
                      ? ClientTCPRead(handle, buf, r.readPerCall, 0)
                      : 0;
    r.got.append(buf, std::max(n, 0));
    return 0;
}

// How long a call took to time out, -1 when it did not: a time-out waits its limit.
double timedOut(const std::function<int()> &call) {
    const double t0 = Timer();
    return call() == kTCP_TimeOutError ? Timer() - t0 : -1;
}

} // namespace

class TcpTest : public QObject {
    Q_OBJECT
    std::unique_ptr<qvtest::SensorRig> rig_;

    // A conversation with the simulator, which answers the next request under `fault`.
    unsigned connect(Recorder *r = nullptr, const char *fault = nullptr) {
        rig_->sim().clearFaults();
        if (fault)
            rig_->sim().addFault(*qvsim::Fault::parse(fault));
        unsigned h = 0; // stays 0 when the connection fails
        ConnectToTCPServer(&h, rig_->sim().tcpPort(), "127.0.0.1", r ? onEvent : nullptr, r, 2000);
        return h;
    }
    static int ask(unsigned h) { return ClientTCPWrite(h, kGetVersion.data(), 36, 2000); }

  private slots:
    void initTestCase() {
        rig_ = std::make_unique<qvtest::SensorRig>(qvtest::quietSensor(nullptr, false));
    }

    // (Port 0, an empty host and a refused connection as the operator meets them: test_link.)
    void statusCodes() {
        unsigned h = 0, full = 0, quiet = 0;
        const int fds[] = {bindLoopback(&full, 0), bindLoopback(&quiet, 1)};
        // A server whose backlog is full drops further handshakes: the attempt times out.
        for (int i = 0; i < 3; ++i)
            ConnectToTCPServer(&h, full, "127.0.0.1", nullptr, nullptr, 100);
        // A server that never reads: a big write times out, its rest still queued.
        unsigned deaf = 0;
        QCOMPARE(ConnectToTCPServer(&deaf, quiet, "127.0.0.1", nullptr, nullptr, 2000), 0);
        const std::vector<char> big(1 << 26, 'w');
        char buf[64];
        std::memset(buf, '#', sizeof buf);
        const auto connect = [&](unsigned port, const char *host, unsigned ms = 100) {
            return ConnectToTCPServer(&h, port, host, nullptr, nullptr, ms);
        };
        const unsigned h2 = this->connect();
        QVERIFY(h2 > 0 && ask(h2) == 36);
        constexpr int kInvalid = kTCP_InvalidParameter, kUnknown = kTCP_NoConnectionEstablished,
                      kUnable = kTCP_UnableToEstablishConnection, kTimeOut = kTCP_TimeOutError;
        qvtest::checkStatuses(
            {{ConnectToTCPServer(nullptr, 80, "h", nullptr, nullptr, 1), kInvalid},
             {connect(65536, "127.0.0.1"), kInvalid},
             {connect(80, nullptr), kInvalid},
             {connect(80, "no-such.invalid", 2000), kUnable},
             {DisconnectFromTCPServer(12345), kUnknown},
             {ClientTCPRead(12345, buf, 4, 10), kUnknown},
             {ClientTCPWrite(12345, buf, 4, 10), kUnknown},
             {ClientTCPRead(h2, nullptr, 4, 10), kInvalid},
             {ClientTCPRead(h2, buf, 0, 10), kInvalid},
             {ClientTCPWrite(h2, nullptr, 4, 10), kInvalid},
             {ClientTCPWrite(h2, buf, -1, 10), kInvalid},
             {ClientTCPWrite(h2, buf, 0, 10), 0},
             {ClientTCPRead(h2, buf, 10, 2000), 10},
             {ClientTCPRead(h2, buf + 10, 54, 2000), 38},
             {ClientTCPRead(h2, buf, 64, 0), kTimeOut}});
        QVERIFY(timedOut([&] { return connect(full, "127.0.0.1", 500); }) >= 0.5);
        QVERIFY(timedOut([&] { return ClientTCPRead(h2, buf, 64, 500); }) >= 0.5);
        QVERIFY(timedOut([&] { return ClientTCPWrite(deaf, big.data(), 1 << 26, 300); }) >= 0.3);
        qvtest::checkStatuses({{DisconnectFromTCPServer(h2), 0},
                               {DisconnectFromTCPServer(h2), kUnknown},
                               {DisconnectFromTCPServer(deaf), 0}});
        QCOMPARE(QByteArray(buf, 64), kVersion + QByteArray(16, '#')); // nothing stored beyond
        for (int fd : fds)
            ::close(fd);
    }

    // The sensor sends and closes while ClientTCPRead waits for the first byte: no callback
    // inside that wait; then data-ready events while the callback takes some bytes each time
    // (or none), again while bytes remain, then one disconnect. What is left can still be read,
    // then reads and writes say the conversation is closed instead of waiting out their limit.
    // (A callback that disconnects or pumps inside, and none after a disconnect: the link's own
    // callback under the fault matrix, and test_link's stray bytes.)
    void theServerClosingWithDataUnread() {
        for (const int perCall : {4, 0}) {
            Recorder r;
            r.readPerCall = perCall;
            const unsigned h = connect(&r, "disconnect:bytes=10");
            char buf[16];
            g_insideApi = true;
            QVERIFY(ask(h) == 36 && ClientTCPRead(h, buf, 1, 2000) == 1);
            g_insideApi = false;
            QVERIFY(qvtest::waitFor([&] { return r.disconnects == 1; }));
            qvtest::pump(100);
            QCOMPARE(std::make_tuple(r.disconnects, r.lastError, r.callsInsideApi),
                     std::make_tuple(1, 0, 0));
            QCOMPARE(perCall ? r.ready : ClientTCPRead(h, buf + 1, 15, 2000), perCall ? 3 : 9);
            QCOMPARE(perCall ? buf[0] + r.got : QByteArray(buf, 10), kVersion.left(10));
            QCOMPARE(ClientTCPRead(h, buf, 8, 30000), kTCP_ConnectionClosed);
            QCOMPARE(ClientTCPWrite(h, "x", 1, 30000), kTCP_ConnectionClosed);
            QCOMPARE(DisconnectFromTCPServer(h), 0);
        }
    }
};

QTEST_MAIN(TcpTest)
#include "test_tcp.moc"
