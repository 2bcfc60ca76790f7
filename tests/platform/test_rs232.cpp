// The run-time's serial ports against real pseudo-terminals: the test holds the master side and
// plays the instrument.
#include "platform/rs232.h"
#include "platform/utility.h"

#include <QTest>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace qv::rt;

namespace {

using Clock = std::chrono::steady_clock;

// A pseudo-terminal pair. The port opens the slave; the test reads and writes the master.
struct Pty {
    int master = -1;
    int slave = -1; // kept open so that the line does not hang up between opens
    std::string name;

    Pty() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
            return;
        const char *n = ::ptsname(master);
        if (!n)
            return;
        name = n;
        slave = ::open(n, O_RDWR | O_NOCTTY);
        termios t{};
        if (slave >= 0 && ::tcgetattr(slave, &t) == 0) {
            ::cfmakeraw(&t);
            ::tcsetattr(slave, TCSANOW, &t);
        }
    }
    ~Pty() {
        closeMaster();
        if (slave >= 0)
            ::close(slave);
    }
    bool ok() const { return master >= 0 && slave >= 0; }
    void closeMaster() {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    bool send(const QByteArray &bytes) const {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master, bytes.constData() + done, bytes.size() - done);
            if (n < 0 && errno != EINTR)
                return false;
            done += std::max<ssize_t>(n, 0);
        }
        return true;
    }
    // Whatever the port sent, until `count` bytes came or `seconds` passed.
    QByteArray receive(qsizetype count, double seconds = 5.0) const {
        QByteArray got;
        const auto end = Clock::now() + std::chrono::duration<double>(seconds);
        char chunk[4096];
        while (got.size() < count && Clock::now() < end) {
            pollfd pfd{master, POLLIN, 0};
            if (::poll(&pfd, 1, 20) <= 0)
                continue;
            const ssize_t n = ::read(master, chunk, sizeof chunk);
            if (n > 0)
                got.append(chunk, n);
        }
        return got;
    }
};

constexpr int kPort = 1;

int openOn(const Pty &pty, int port = kPort, int inQueue = 512) {
    return OpenComConfig(port, pty.name.c_str(), 19200, kParityNone, 8, 1, inQueue, 512);
}

// Polls the queue length until it reads `n`; the kernel hands pty bytes over asynchronously.
bool queueReaches(int port, int n, double seconds = 5.0) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end)
        if (GetInQLen(port) == n)
            return true;
    return false;
}

QByteArray pattern(int size, int seed = 0) {
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + seed) & 0xFF);
    return bytes;
}

double cpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_THREAD, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace

class Rs232Test : public QObject {
    Q_OBJECT

  private slots:
    void cleanup() {
        for (int port : {1, 2, 7, 8})
            CloseCom(port);
    }

    void portNumbersAndClosedPorts() {
        Pty pty;
        QVERIFY(pty.ok());
        for (int bad : {0, -1, 256, 1000})
            QCOMPARE(OpenComConfig(bad, pty.name.c_str(), 19200, 0, 8, 1, 512, 512),
                     kRS232InvalidPort);
        QCOMPARE(CloseCom(0), kRS232InvalidPort);
        QCOMPARE(GetInQLen(256), kRS232InvalidPort);

        char buf[4];
        QCOMPARE(CloseCom(kPort), kRS232PortNotOpen);
        QCOMPARE(ComRd(kPort, buf, 4), kRS232PortNotOpen);
        QCOMPARE(ComWrt(kPort, "x", 1), kRS232PortNotOpen);
        QCOMPARE(GetInQLen(kPort), kRS232PortNotOpen);
        QCOMPARE(SetComTime(kPort, 1.0), kRS232PortNotOpen);
        QCOMPARE(SetCTSMode(kPort, 0), kRS232PortNotOpen);
        QCOMPARE(FlushInQ(kPort), kRS232PortNotOpen);
        QCOMPARE(FlushOutQ(kPort), kRS232PortNotOpen);

        QCOMPARE(openOn(pty), 0);
        QCOMPARE(CloseCom(kPort), 0);
        QCOMPARE(CloseCom(kPort), kRS232PortNotOpen);
        QCOMPARE(GetInQLen(kPort), kRS232PortNotOpen);
    }

    void openFailuresAndSettings() {
        Pty pty;
        QVERIFY(pty.ok());
        QCOMPARE(OpenComConfig(kPort, "/dev/quorvat-no-such-device", 19200, 0, 8, 1, 512, 512),
                 kRS232NoSerialPortFound);
        QCOMPARE(GetInQLen(kPort), kRS232PortNotOpen);

        // A pseudo-terminal refuses some framings (Linux keeps 8 data bits); whatever the line
        // refuses reads "unsupported setting" and leaves the port closed.
        for (int parity = kParityNone; parity <= kParitySpace; ++parity)
            for (int dataBits = 5; dataBits <= 8; ++dataBits)
                for (int stopBits : {1, 2}) {
                    const int status = OpenComConfig(kPort, pty.name.c_str(), 9600, parity,
                                                     dataBits, stopBits, 512, 512);
                    QVERIFY(status == 0 || status == kRS232InternalError);
                    QCOMPARE(GetInQLen(kPort), status == 0 ? 0 : kRS232PortNotOpen);
                }
        QCOMPARE(OpenComConfig(kPort, pty.name.c_str(), 19200, kParityNone, 8, 2, 512, 512), 0);
        QCOMPARE(openOn(pty), 0);

        // Unsupported settings are refused and leave the open port working.
        const char *dev = pty.name.c_str();
        QCOMPARE(OpenComConfig(kPort, dev, 0, 0, 8, 1, 512, 512), kRS232InternalError);
        QCOMPARE(OpenComConfig(kPort, dev, -9600, 0, 8, 1, 512, 512), kRS232InternalError);
        QCOMPARE(OpenComConfig(kPort, dev, 19200, 5, 8, 1, 512, 512), kRS232InternalError);
        QCOMPARE(OpenComConfig(kPort, dev, 19200, -1, 8, 1, 512, 512), kRS232InternalError);
        QCOMPARE(OpenComConfig(kPort, dev, 19200, 0, 4, 1, 512, 512), kRS232InternalError);
        QCOMPARE(OpenComConfig(kPort, dev, 19200, 0, 9, 1, 512, 512), kRS232InternalError);
        QCOMPARE(OpenComConfig(kPort, dev, 19200, 0, 8, 0, 512, 512), kRS232InternalError);
        QCOMPARE(OpenComConfig(kPort, dev, 19200, 0, 8, 3, 512, 512), kRS232InternalError);
        QCOMPARE(ComWrt(kPort, "ok", 2), 2);
        QCOMPARE(pty.receive(2), QByteArray("ok"));

        // Opening the open port again starts afresh on the same line.
        QCOMPARE(openOn(pty), 0);
        QCOMPARE(ComWrt(kPort, "again", 5), 5);
        QCOMPARE(pty.receive(5), QByteArray("again"));

        // A second port on a line that is in use.
        QCOMPARE(openOn(pty, 2), kRS232CannotOpenPort);
        QCOMPARE(GetInQLen(2), kRS232PortNotOpen);

        QCOMPARE(SetComTime(kPort, -1.0), kRS232InternalError);
        QCOMPARE(SetComTime(kPort, std::nan("")), kRS232InternalError);
        QCOMPARE(SetComTime(kPort, 0.0), 0);
        // A pseudo-terminal has no modem lines; switching the handshake off still works.
        QCOMPARE(SetCTSMode(kPort, 0), 0);
        QCOMPARE(SetCTSMode(kPort, 2), kRS232InternalError);
        QCOMPARE(SetCTSMode(kPort, -1), kRS232InternalError);
    }

    void standardDeviceNames() {
        Pty pty;
        QVERIFY(pty.ok());
        QVERIFY(::setenv("QUORVAT_COM7", pty.name.c_str(), 1) == 0);
        QVERIFY(::setenv("QUORVAT_COM8", "/dev/quorvat-no-such-device", 1) == 0);
        QCOMPARE(OpenComConfig(7, nullptr, 19200, 0, 8, 1, 512, 512), 0);
        QCOMPARE(ComWrt(7, "seven", 5), 5);
        QCOMPARE(pty.receive(5), QByteArray("seven"));
        QCOMPARE(CloseCom(7), 0);
        QCOMPARE(OpenComConfig(7, "", 19200, 0, 8, 1, 512, 512), 0);
        QCOMPARE(ComWrt(7, "empty", 5), 5);
        QCOMPARE(pty.receive(5), QByteArray("empty"));
        QCOMPARE(OpenComConfig(8, nullptr, 19200, 0, 8, 1, 512, 512), kRS232NoSerialPortFound);
        ::unsetenv("QUORVAT_COM7");
        ::unsetenv("QUORVAT_COM8");

        // Without the variable the number names /dev/ttyS<n-1>.
        ::unsetenv("QUORVAT_COM200");
        if (::access("/dev/ttyS199", F_OK) != 0)
            QCOMPARE(OpenComConfig(200, nullptr, 19200, 0, 8, 1, 512, 512),
                     kRS232NoSerialPortFound);
    }

    void writesLeaveByteExact() {
        Pty pty;
        QVERIFY(pty.ok());
        QCOMPARE(openOn(pty), 0);
        QCOMPARE(SetComTime(kPort, 5.0), 0);

        QByteArray all(256, '\0');
        for (int i = 0; i < 256; ++i)
            all[i] = static_cast<char>(i);
        QCOMPARE(ComWrt(kPort, all.constData(), 256), 256);
        QCOMPARE(pty.receive(256), all);

        // More than the line buffers at once: the write waits for the reader.
        const QByteArray big = pattern(200000, 3);
        QByteArray got;
        std::thread reader([&] { got = pty.receive(big.size()); });
        const int written = ComWrt(kPort, big.constData(), static_cast<int>(big.size()));
        reader.join();
        QCOMPARE(written, static_cast<int>(big.size()));
        QVERIFY(got == big);

        QCOMPARE(ComWrt(kPort, "x", 0), 0);
        QCOMPARE(ComWrt(kPort, nullptr, 3), kRS232InternalError);
        QCOMPARE(ComWrt(kPort, "x", -1), kRS232InternalError);
        QCOMPARE(FlushOutQ(kPort), 0);
        QCOMPARE(ComWrt(kPort, "after", 5), 5);
        QCOMPARE(pty.receive(5), QByteArray("after"));
    }

    void writeTimesOutWhenNobodyReads() {
        Pty pty;
        QVERIFY(pty.ok());
        QCOMPARE(openOn(pty), 0);
        QCOMPARE(SetComTime(kPort, 1.0), 0);
        const QByteArray big = pattern(4 << 20);
        const double t0 = Timer();
        QCOMPARE(ComWrt(kPort, big.constData(), static_cast<int>(big.size())), kRS232TimeOut);
        const double took = Timer() - t0;
        QVERIFY2(took >= 1.0 && took < 2.0, qPrintable(QString::number(took)));
    }

    void queueLengthCountsEverythingUpToTheQueueSize() {
        Pty pty;
        QVERIFY(pty.ok());
        QCOMPARE(openOn(pty, kPort, 64), 0);
        QCOMPARE(SetComTime(kPort, 0.0), 0);
        QCOMPARE(GetInQLen(kPort), 0);

        const QByteArray data = pattern(130, 11);
        QVERIFY(pty.send(data.left(40)));
        QVERIFY(queueReaches(kPort, 40));
        char buf[200];
        QCOMPARE(ComRd(kPort, buf, 10), 10);
        QCOMPARE(GetInQLen(kPort), 30);

        // More than the queue holds: the count stops at its size and nothing is lost.
        QVERIFY(pty.send(data.mid(40)));
        QVERIFY(queueReaches(kPort, 64));
        QCOMPARE(GetInQLen(kPort), 64);
        QCOMPARE(SetComTime(kPort, 2.0), 0);
        QCOMPARE(ComRd(kPort, buf + 10, 120), 120);
        QVERIFY(QByteArray(buf, 130) == data);
        QCOMPARE(GetInQLen(kPort), 0);

        // A queue size below 30 means the default of 512.
        QCOMPARE(openOn(pty, kPort, 0), 0);
        const QByteArray many = pattern(600, 5);
        QVERIFY(pty.send(many));
        QVERIFY(queueReaches(kPort, kRS232DefaultQueueSize));
        std::vector<char> rest(600);
        QCOMPARE(SetComTime(kPort, 2.0), 0);
        QCOMPARE(ComRd(kPort, rest.data(), 600), 600);
        QVERIFY(QByteArray(rest.data(), 600) == many);
    }

    void readsWaitForTheTimeOutAndStayInBounds() {
        Pty pty;
        QVERIFY(pty.ok());
        QCOMPARE(openOn(pty), 0);
        QCOMPARE(SetComTime(kPort, 2.0), 0);

        // Fewer bytes than asked for: wait the time-out, return what came, store no more.
        char buf[16];
        std::memset(buf, '#', sizeof buf);
        QVERIFY(pty.send("abcde"));
        double t0 = Timer();
        QCOMPARE(ComRd(kPort, buf, 10), 5);
        double took = Timer() - t0;
        QVERIFY2(took >= 2.0 && took < 3.0, qPrintable(QString::number(took)));
        QCOMPARE(QByteArray(buf, 5), QByteArray("abcde"));
        QCOMPARE(QByteArray(buf + 5, 11), QByteArray(11, '#'));

        // More than asked for: exactly count bytes, the rest stays queued.
        QVERIFY(pty.send("0123456789"));
        std::memset(buf, '#', sizeof buf);
        QCOMPARE(ComRd(kPort, buf, 4), 4);
        QCOMPARE(QByteArray(buf, 16), QByteArray("0123############"));
        QVERIFY(queueReaches(kPort, 6));

        // Bytes that come later, inside the time-out, complete the read.
        std::thread late([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            pty.send("ABCD");
        });
        QCOMPARE(ComRd(kPort, buf, 10), 10);
        late.join();
        QCOMPARE(QByteArray(buf, 10), QByteArray("456789ABCD"));

        // A zero time-out returns what is there at once.
        QCOMPARE(SetComTime(kPort, 0.0), 0);
        QVERIFY(pty.send("xy"));
        QVERIFY(queueReaches(kPort, 2));
        QCOMPARE(ComRd(kPort, buf, 10), 2);
        QCOMPARE(ComRd(kPort, buf, 10), 0);

        QCOMPARE(ComRd(kPort, buf, 0), 0);
        QCOMPARE(ComRd(kPort, buf, -5), 0);
        QCOMPARE(ComRd(kPort, nullptr, 5), kRS232InternalError);
    }

    void flushingTheInputDiscardsEverything() {
        Pty pty;
        QVERIFY(pty.ok());
        QCOMPARE(openOn(pty, kPort, 32), 0);
        QVERIFY(pty.send(pattern(100)));
        QVERIFY(queueReaches(kPort, 32)); // some in the queue, the rest in the driver
        QCOMPARE(FlushInQ(kPort), 0);
        QCOMPARE(GetInQLen(kPort), 0);
        QCOMPARE(SetComTime(kPort, 0.2), 0);
        char buf[8];
        QCOMPARE(ComRd(kPort, buf, 8), 0);
        QVERIFY(pty.send("new"));
        QCOMPARE(SetComTime(kPort, 2.0), 0);
        QCOMPARE(ComRd(kPort, buf, 3), 3);
        QCOMPARE(QByteArray(buf, 3), QByteArray("new"));
    }

    void aHungUpLineFailsInsteadOfWaiting() {
        Pty pty;
        QVERIFY(pty.ok());
        QCOMPARE(openOn(pty), 0);
        QCOMPARE(SetComTime(kPort, 5.0), 0);
        QVERIFY(pty.send("last"));
        QVERIFY(queueReaches(kPort, 4));
        pty.closeMaster();

        char buf[16];
        const double t0 = Timer();
        QCOMPARE(ComRd(kPort, buf, 16), 4); // what came before the hang-up
        QCOMPARE(QByteArray(buf, 4), QByteArray("last"));
        QCOMPARE(ComRd(kPort, buf, 16), kRS232UnknownIOError);
        QCOMPARE(GetInQLen(kPort), kRS232UnknownIOError);
        QCOMPARE(ComWrt(kPort, "x", 1), kRS232UnknownIOError);
        QVERIFY(Timer() - t0 < 4.0);
        QCOMPARE(CloseCom(kPort), 0);
    }

    // The program polls GetInQLen without pumping events while it waits for a reply.
    void aPollingLoopSleepsAndStillSeesBytesAtOnce() {
        Pty pty;
        QVERIFY(pty.ok());
        QCOMPARE(openOn(pty), 0);
        QVERIFY(pty.send(pattern(47)));
        QVERIFY(queueReaches(kPort, 47));

        const double cpu0 = cpuSeconds(), t0 = Timer();
        while (Timer() - t0 < 2.0)
            QVERIFY(GetInQLen(kPort) == 47);
        const double share = (cpuSeconds() - cpu0) / (Timer() - t0);
        qInfo("CPU of a 2 s GetInQLen loop: %.1f %%", share * 100);
        QVERIFY2(share < 0.25, qPrintable(QString::number(share)));

        // Time from a byte leaving the instrument to the loop seeing it.
        std::vector<double> delays;
        for (int i = 0; i < 30; ++i) {
            const int before = GetInQLen(kPort);
            std::atomic<long long> sentAt{0};
            std::thread sender([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(3 + i % 5));
                sentAt = Clock::now().time_since_epoch().count();
                pty.send("b");
            });
            const auto end = Clock::now() + std::chrono::seconds(5);
            while (GetInQLen(kPort) == before && Clock::now() < end) {
            }
            const auto seenAt = Clock::now().time_since_epoch().count();
            sender.join();
            QCOMPARE(GetInQLen(kPort), before + 1);
            delays.push_back(
                std::chrono::duration<double>(Clock::duration(seenAt - sentAt)).count());
        }
        std::sort(delays.begin(), delays.end());
        qInfo("byte seen after: median %.0f us, worst %.0f us", delays[delays.size() / 2] * 1e6,
              delays.back() * 1e6);
        QVERIFY(delays[delays.size() / 2] < 0.010);
    }
};

QTEST_MAIN(Rs232Test)
#include "test_rs232.moc"
