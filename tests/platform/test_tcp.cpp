// The run-time's TCP client against real servers on 127.0.0.1: plain sockets in a thread of the
// test, scripted to play the sensor.
#include "platform/tcp.h"
#include "platform/userint.h"
#include "platform/utility.h"

#include <QTest>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace qv::rt;

namespace {

using Clock = std::chrono::steady_clock;

// A socket on 127.0.0.1 and an ephemeral port; listening unless backlog < 0.
int bindLoopback(unsigned *port, int backlog) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        (backlog >= 0 && ::listen(fd, backlog) != 0) ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0)
        return -1;
    *port = ntohs(a.sin_port);
    return fd;
}

void sendAll(int fd, const QByteArray &bytes) {
    ::send(fd, bytes.constData(), bytes.size(), MSG_NOSIGNAL); // small: the kernel takes it all
}

// `count` bytes, or fewer when the client closes or 5 s pass.
QByteArray receive(int fd, qsizetype count) {
    QByteArray got;
    char chunk[256];
    for (const auto end = Clock::now() + std::chrono::seconds(5);
         got.size() < count && Clock::now() < end;) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 20) <= 0)
            continue;
        const ssize_t n = ::recv(fd, chunk, std::min<qsizetype>(256, count - got.size()), 0);
        if (n <= 0)
            break;
        got.append(chunk, n);
    }
    return got;
}

void awaitClose(int fd) {
    while (receive(fd, 1).size() == 1) {
    }
}

// Serves one connection with `script` in a thread, then closes it.
struct Server {
    unsigned port = 0;
    int listener = bindLoopback(&port, 4);
    std::thread thread;

    explicit Server(std::function<void(int fd)> script)
        : thread([this, script = std::move(script)] {
              pollfd pfd{listener, POLLIN, 0};
              const int fd = ::poll(&pfd, 1, 10000) > 0 ? ::accept(listener, nullptr, nullptr) : -1;
              if (fd < 0)
                  return;
              // Like the sensor: a reply in parts is not held back for the client's ACK.
              const int one = 1;
              ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
              script(fd);
              ::close(fd);
          }) {}
    ~Server() {
        thread.join();
        ::close(listener);
    }
};

QByteArray pattern(int size, int seed) {
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 13 + seed) & 0xFF);
    return bytes;
}

// What a program's callback saw, and what it does.
struct Recorder {
    std::vector<std::pair<int, int>> events; // event, errCode
    int readPerCall = 256;                   // 0: leave the bytes unread
    QByteArray got;
    int depth = 0, maxDepth = 0, callsInsideApi = 0;
    std::function<void(unsigned handle)> inside;

    int count(int event) const {
        return int(
            std::count_if(events.begin(), events.end(), [&](auto e) { return e.first == event; }));
    }
};

bool g_insideApi = false; // the test body is inside ClientTCPRead/ClientTCPWrite

int onEvent(unsigned handle, int xType, int errCode, void *callbackData) {
    auto &r = *static_cast<Recorder *>(callbackData);
    r.events.emplace_back(xType, errCode);
    r.callsInsideApi += g_insideApi;
    r.maxDepth = std::max(r.maxDepth, ++r.depth);
    char buf[256];
    const int n = xType == TCP_DATAREADY && r.readPerCall > 0
                      ? ClientTCPRead(handle, buf, r.readPerCall, 0)
                      : 0;
    r.got.append(buf, std::max(n, 0));
    if (r.inside)
        r.inside(handle);
    --r.depth;
    return 0;
}

unsigned connectTo(const Server &server, Recorder *r) {
    unsigned h = 0;
    const int status =
        ConnectToTCPServer(&h, server.port, "127.0.0.1", r ? onEvent : nullptr, r, 2000);
    return status == 0 ? h : 0;
}

bool pumpUntil(const std::function<bool()> &done, double seconds = 5.0) {
    for (const double end = Timer() + seconds; !done(); ProcessSystemEvents())
        if (Timer() > end)
            return false;
    return true;
}
void pumpFor(double seconds) {
    pumpUntil([] { return false; }, seconds);
}

} // namespace

class TcpTest : public QObject {
    Q_OBJECT

  private slots:
    void connectFailuresReadRight() {
        unsigned h = 0;
        QCOMPARE(ConnectToTCPServer(nullptr, 80, "127.0.0.1", nullptr, nullptr, 100),
                 kTCP_InvalidParameter);
        for (unsigned port : {0u, 65536u})
            QCOMPARE(ConnectToTCPServer(&h, port, "127.0.0.1", nullptr, nullptr, 100),
                     kTCP_InvalidParameter);
        for (const char *host : {static_cast<const char *>(nullptr), ""})
            QCOMPARE(ConnectToTCPServer(&h, 80, host, nullptr, nullptr, 100),
                     kTCP_InvalidParameter);

        unsigned port = 0;
        const int bound = bindLoopback(&port, -1); // bound, not listening: refuses
        QCOMPARE(ConnectToTCPServer(&h, port, "127.0.0.1", nullptr, nullptr, 2000),
                 kTCP_UnableToEstablishConnection);
        ::close(bound);
        QCOMPARE(ConnectToTCPServer(&h, 80, "no-such-host.invalid", nullptr, nullptr, 2000),
                 kTCP_UnableToEstablishConnection);

        // A server whose backlog is full drops further handshakes: the attempt times out.
        const int full = bindLoopback(&port, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(port));
        std::vector<int> fillers;
        for (int i = 0; i < 3; ++i) {
            fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
            ::connect(fillers.back(), reinterpret_cast<sockaddr *>(&a), sizeof a);
        }
        ::usleep(50000);
        const double t0 = Timer();
        QCOMPARE(ConnectToTCPServer(&h, port, "127.0.0.1", nullptr, nullptr, 500),
                 kTCP_TimeOutError);
        const double took = Timer() - t0;
        QVERIFY2(took >= 0.5 && took < 2.0, qPrintable(QString::number(took)));
        for (int fd : fillers)
            ::close(fd);
        ::close(full);

        char buf[4];
        QCOMPARE(DisconnectFromTCPServer(12345), kTCP_NoConnectionEstablished);
        QCOMPARE(ClientTCPRead(12345, buf, 4, 10), kTCP_NoConnectionEstablished);
        QCOMPARE(ClientTCPWrite(12345, buf, 4, 10), kTCP_NoConnectionEstablished);
    }

    void requestAndReplyStayInBounds() {
        const QByteArray request = pattern(36, 1), reply = pattern(48, 2);
        QByteArray seen;
        Server server([&](int fd) {
            seen = receive(fd, 36);
            sendAll(fd, reply);
            awaitClose(fd);
        });
        const unsigned h = connectTo(server, nullptr);
        QVERIFY(h > 0);
        QCOMPARE(ClientTCPWrite(h, request.constData(), 36, 2000), 36);
        char buf[64];
        std::memset(buf, '#', sizeof buf);
        int n = ClientTCPRead(h, buf, 10, 2000);
        QVERIFY(n >= 1 && n <= 10);
        QCOMPARE(QByteArray(buf + n, 64 - n), QByteArray(64 - n, '#'));
        for (int more = 1; n < 48 && more > 0; n += more)
            more = ClientTCPRead(h, buf + n, 64 - n, 2000);
        QVERIFY(QByteArray(buf, n) == reply);
        QVERIFY(seen == request);

        const double t0 = Timer();
        QCOMPARE(ClientTCPRead(h, buf, 64, 500), kTCP_TimeOutError);
        const double took = Timer() - t0;
        QVERIFY2(took >= 0.5 && took < 1.5, qPrintable(QString::number(took)));
        QCOMPARE(ClientTCPRead(h, buf, 64, 0), kTCP_TimeOutError);
        QCOMPARE(ClientTCPRead(h, nullptr, 4, 10), kTCP_InvalidParameter);
        QCOMPARE(ClientTCPRead(h, buf, 0, 10), kTCP_InvalidParameter);
        QCOMPARE(ClientTCPWrite(h, nullptr, 4, 10), kTCP_InvalidParameter);
        QCOMPARE(ClientTCPWrite(h, buf, -1, 10), kTCP_InvalidParameter);
        QCOMPARE(ClientTCPWrite(h, buf, 0, 10), 0);

        Server second([](int fd) { awaitClose(fd); });
        const unsigned other = connectTo(second, nullptr);
        QVERIFY(other > 0 && other != h);
        QCOMPARE(DisconnectFromTCPServer(h), 0);
        QCOMPARE(DisconnectFromTCPServer(h), kTCP_NoConnectionEstablished);
        QCOMPARE(DisconnectFromTCPServer(other), 0);
    }

    void callbacksComeFromEventProcessingOnly() {
        std::atomic<bool> sentMore{false};
        Server server([&](int fd) {
            receive(fd, 2);
            sendAll(fd, "abcdef");
            receive(fd, 2);
            sendAll(fd, "x");
            receive(fd, 4);
            sendAll(fd, "yz");
            sentMore = true;
            awaitClose(fd);
        });
        Recorder r;
        r.readPerCall = 1;
        const unsigned h = connectTo(server, &r);
        QVERIFY(h > 0);

        // The bytes arrive while ClientTCPRead waits; that wait calls no callback.
        g_insideApi = true;
        QCOMPARE(ClientTCPWrite(h, "go", 2, 2000), 2);
        char c = 0;
        QCOMPARE(ClientTCPRead(h, &c, 1, 2000), 1);
        g_insideApi = false;
        QCOMPARE(c, 'a');
        QVERIFY(r.events.empty());

        // One byte per call: called again while bytes remain, then no more.
        QVERIFY(pumpUntil([&] { return r.got.size() == 5; }));
        pumpFor(0.1);
        QCOMPARE(r.got, QByteArray("bcdef"));
        QCOMPARE(r.count(TCP_DATAREADY), 5);
        QCOMPARE(int(r.events.size()), 5);

        // A callback that pumps events while more bytes come is not called again inside it.
        r.readPerCall = 256;
        r.inside = [&](unsigned handle) {
            if (r.events.size() != 6)
                return;
            QCOMPARE(ClientTCPWrite(handle, "more", 4, 2000), 4);
            pumpUntil([&] { return sentMore.load(); });
            pumpFor(0.05);
        };
        QCOMPARE(ClientTCPWrite(h, "go", 2, 2000), 2);
        QVERIFY(pumpUntil([&] { return r.got.size() == 8; }));
        QCOMPARE(r.got, QByteArray("bcdefxyz"));
        QCOMPARE(r.count(TCP_DATAREADY), 7);
        QCOMPARE(r.callsInsideApi, 0);
        QCOMPARE(r.maxDepth, 1);
        QCOMPARE(DisconnectFromTCPServer(h), 0);
    }

    void theServerClosingWithDataUnread() {
        // The callback takes some bytes each time: data-ready events, then the disconnect.
        Server server([](int fd) { sendAll(fd, "0123456789"); });
        Recorder r;
        r.readPerCall = 4;
        const unsigned h = connectTo(server, &r);
        QVERIFY(pumpUntil([&] { return r.count(TCP_DISCONNECT) == 1; }));
        pumpFor(0.1);
        QCOMPARE(r.got, QByteArray("0123456789"));
        const std::vector<std::pair<int, int>> expected = {
            {TCP_DATAREADY, 0}, {TCP_DATAREADY, 0}, {TCP_DATAREADY, 0}, {TCP_DISCONNECT, 0}};
        QVERIFY(r.events == expected);
        char buf[16];
        const double t0 = Timer();
        QCOMPARE(ClientTCPRead(h, buf, 8, 3000), kTCP_ConnectionClosed);
        QCOMPARE(ClientTCPWrite(h, "x", 1, 3000), kTCP_ConnectionClosed);
        QVERIFY(Timer() - t0 < 2.0);
        QCOMPARE(DisconnectFromTCPServer(h), 0);

        // The callback leaves the bytes: the disconnect still comes, and they can be read after.
        Server second([](int fd) { sendAll(fd, "hello"); });
        Recorder ignoring;
        ignoring.readPerCall = 0;
        const unsigned h2 = connectTo(second, &ignoring);
        QVERIFY(pumpUntil([&] { return ignoring.count(TCP_DISCONNECT) == 1; }));
        pumpFor(0.1);
        QVERIFY(ignoring.count(TCP_DATAREADY) >= 1);
        QCOMPARE(ignoring.events.back().first, TCP_DISCONNECT);
        QCOMPARE(ignoring.count(TCP_DISCONNECT), 1);
        QCOMPARE(ClientTCPRead(h2, buf, 16, 2000), 5);
        QCOMPARE(QByteArray(buf, 5), QByteArray("hello"));
        QCOMPARE(ClientTCPRead(h2, buf, 16, 2000), kTCP_ConnectionClosed);
        QCOMPARE(DisconnectFromTCPServer(h2), 0);
    }

    void noCallbackAfterTheProgramDisconnects() {
        Server server([](int fd) { sendAll(fd, "unread"); });
        Recorder r;
        const unsigned h = connectTo(server, &r);
        char c;
        QCOMPARE(ClientTCPRead(h, &c, 1, 2000), 1); // bytes are waiting now
        QCOMPARE(DisconnectFromTCPServer(h), 0);
        pumpFor(0.2);
        QVERIFY(r.events.empty());

        // The callback disconnects while more bytes and the close are pending.
        Server second([](int fd) { sendAll(fd, "some data"); });
        Recorder quitting;
        quitting.readPerCall = 1;
        quitting.inside = [](unsigned handle) { DisconnectFromTCPServer(handle); };
        const unsigned h2 = connectTo(second, &quitting);
        QVERIFY(pumpUntil([&] { return !quitting.events.empty(); }));
        pumpFor(0.2);
        QCOMPARE(int(quitting.events.size()), 1);
        QCOMPARE(DisconnectFromTCPServer(h2), kTCP_NoConnectionEstablished);

        // The same for bytes that come while the program pumps: the callback runs while the
        // socket is still reporting them, and its socket must outlive that report.
        Server third([](int fd) {
            receive(fd, 2);
            sendAll(fd, "late data");
            awaitClose(fd);
        });
        Recorder closing;
        closing.readPerCall = 1;
        closing.inside = [](unsigned handle) { DisconnectFromTCPServer(handle); };
        const unsigned h3 = connectTo(third, &closing);
        QCOMPARE(ClientTCPWrite(h3, "go", 2, 2000), 2);
        QVERIFY(pumpUntil([&] { return !closing.events.empty(); }));
        pumpFor(0.2);
        QCOMPARE(int(closing.events.size()), 1);
        QCOMPARE(DisconnectFromTCPServer(h3), kTCP_NoConnectionEstablished);
    }

    void aWriteTheServerDoesNotTakeTimesOut() {
        std::atomic<bool> done{false};
        Server server([&](int) {
            while (!done)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        });
        const unsigned h = connectTo(server, nullptr);
        const QByteArray big(64 << 20, 'w');
        const double t0 = Timer();
        QCOMPARE(ClientTCPWrite(h, big.constData(), int(big.size()), 300), kTCP_TimeOutError);
        const double took = Timer() - t0;
        QVERIFY2(took >= 0.3 && took < 3.0, qPrintable(QString::number(took)));
        QCOMPARE(DisconnectFromTCPServer(h), 0);
        done = true;
    }

    // The program's wait: send a request, then pump until the callback has taken the reply.
    void theReplysLastByteIsTakenUpAtOnce() {
        constexpr int rounds = 50;
        std::atomic<Clock::rep> lastSentAt{0};
        const QByteArray reply = pattern(48, 9);
        Server server([&](int fd) {
            for (int i = 0; i < rounds && receive(fd, 36).size() == 36; ++i) {
                sendAll(fd, reply.left(40));
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                lastSentAt = Clock::now().time_since_epoch().count();
                sendAll(fd, reply.mid(40));
            }
            awaitClose(fd);
        });
        Recorder r;
        const unsigned h = connectTo(server, &r);
        const QByteArray request = pattern(36, 4);
        std::vector<double> delays;
        for (int i = 0; i < rounds; ++i) {
            r.got.clear();
            QCOMPARE(ClientTCPWrite(h, request.constData(), 36, 2000), 36);
            for (const double t0 = Timer(); r.got.size() < 48 && Timer() - t0 < 2.0;)
                ProcessSystemEvents();
            const Clock::rep doneAt = Clock::now().time_since_epoch().count();
            QVERIFY(r.got == reply);
            delays.push_back(
                std::chrono::duration<double>(Clock::duration(doneAt - lastSentAt)).count());
        }
        std::sort(delays.begin(), delays.end());
        qInfo("the reply's last byte is taken up after: median %.0f us, worst %.0f us",
              delays[rounds / 2] * 1e6, delays.back() * 1e6);
        QVERIFY(delays[rounds / 2] < 0.010);
        QCOMPARE(DisconnectFromTCPServer(h), 0);
    }
};

QTEST_MAIN(TcpTest)
#include "test_tcp.moc"
