// The run-time's serial ports against real pseudo-terminals: the test holds the master side and
// plays the instrument.
#include "platform/rs232.h"
#include "platform/utility.h"

#include <QTest>

#include <algorithm>
#include <array>
#include <atomic>
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

// The port opens the slave; the test reads and writes the master. The test keeps the slave open
// too, so that the line does not hang up between opens.
struct Pty {
    int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    int slave = -1;
    std::string name;

    Pty() {
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
            return;
        name = ::ptsname(master);
        slave = ::open(name.c_str(), O_RDWR | O_NOCTTY);
        termios t{};
        if (slave >= 0 && ::tcgetattr(slave, &t) == 0) {
            ::cfmakeraw(&t);
            ::tcsetattr(slave, TCSANOW, &t);
        }
    }
    ~Pty() {
        ::close(master);
        ::close(slave);
    }
    bool send(const QByteArray &bytes) const {
        return ::write(master, bytes.constData(), bytes.size()) == bytes.size();
    }
    // What the port sent, until `count` bytes came or 5 s passed.
    QByteArray receive(qsizetype count) const {
        QByteArray got;
        char chunk[4096];
        for (const auto end = Clock::now() + std::chrono::seconds(5);
             got.size() < count && Clock::now() < end;) {
            pollfd pfd{master, POLLIN, 0};
            const ssize_t n = ::poll(&pfd, 1, 20) > 0 ? ::read(master, chunk, sizeof chunk) : 0;
            got.append(chunk, std::max<ssize_t>(n, 0));
        }
        return got;
    }
};

constexpr int kPort = 1;

int openOn(const Pty &pty, int port = kPort, int inQueue = 512) {
    return OpenComConfig(port, pty.name.c_str(), 19200, kParityNone, 8, 1, inQueue, 512);
}

// The kernel hands pty bytes over asynchronously: poll until the count is reached.
bool queueReaches(int n) {
    for (const auto end = Clock::now() + std::chrono::seconds(5); Clock::now() < end;)
        if (GetInQLen(kPort) == n)
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
        for (int port : {1, 2, 7})
            CloseCom(port);
    }

    void openingClosingAndStatusCodes() {
        Pty pty;
        const char *dev = pty.name.c_str();
        for (int bad : {0, 256})
            QCOMPARE(OpenComConfig(bad, dev, 19200, 0, 8, 1, 512, 512), kRS232InvalidPort);
        QCOMPARE(GetInQLen(-1), kRS232InvalidPort);
        char buf[4];
        for (int status :
             {CloseCom(kPort), ComRd(kPort, buf, 4), ComWrt(kPort, "x", 1), GetInQLen(kPort),
              SetComTime(kPort, 1), SetCTSMode(kPort, 0), FlushInQ(kPort), FlushOutQ(kPort)})
            QCOMPARE(status, kRS232PortNotOpen);
        QCOMPARE(OpenComConfig(kPort, "/dev/quorvat-none", 19200, 0, 8, 1, 512, 512),
                 kRS232NoSerialPortFound);

        // The standard name: QUORVAT_COM<n> (the rest of the rule: test_serialports).
        QVERIFY(::setenv("QUORVAT_COM7", dev, 1) == 0);
        QCOMPARE(OpenComConfig(7, nullptr, 19200, 0, 8, 1, 512, 512), 0);
        QCOMPARE(ComWrt(7, "seven", 5), 5);
        QCOMPARE(pty.receive(5), QByteArray("seven"));
        QCOMPARE(CloseCom(7), 0);
        QCOMPARE(CloseCom(7), kRS232PortNotOpen);
        QVERIFY(::setenv("QUORVAT_COM7", "/dev/quorvat-none", 1) == 0);
        QCOMPARE(OpenComConfig(7, "", 19200, 0, 8, 1, 512, 512), kRS232NoSerialPortFound);
        ::unsetenv("QUORVAT_COM7");

        // A pty refuses some framings (Linux keeps it at 8 data bits): that reads "unsupported
        // setting" and leaves the port closed.
        for (int parity = kParityNone; parity <= kParitySpace; ++parity)
            for (int dataBits = 5; dataBits <= 8; ++dataBits) {
                const int status = OpenComConfig(kPort, dev, 9600, parity, dataBits, 2, 64, 64);
                QVERIFY(status == 0 || status == kRS232InternalError);
                QCOMPARE(GetInQLen(kPort), status == 0 ? 0 : kRS232PortNotOpen);
            }
        // Out-of-range settings are refused before the open port is touched.
        QCOMPARE(openOn(pty), 0);
        for (auto [baud, parity, dataBits, stopBits] : std::vector<std::array<int, 4>>{
                 {0, 0, 8, 1}, {9600, 5, 8, 1}, {9600, 0, 4, 1}, {9600, 0, 9, 1}, {9600, 0, 8, 3}})
            QCOMPARE(OpenComConfig(kPort, dev, baud, parity, dataBits, stopBits, 512, 512),
                     kRS232InternalError);
        QCOMPARE(ComWrt(kPort, "still", 5), 5);
        QCOMPARE(pty.receive(5), QByteArray("still"));
        QCOMPARE(openOn(pty), 0);                       // reopening an open port
        QCOMPARE(openOn(pty, 2), kRS232CannotOpenPort); // the line is in use

        QCOMPARE(SetComTime(kPort, -1.0), kRS232InternalError);
        QCOMPARE(SetComTime(kPort, std::nan("")), kRS232InternalError);
        QCOMPARE(SetCTSMode(kPort, 0), 0); // no modem lines on a pty, and still fine
        QCOMPARE(SetCTSMode(kPort, 2), kRS232InternalError);
        QCOMPARE(ComWrt(kPort, nullptr, 3), kRS232InternalError);
        QCOMPARE(ComWrt(kPort, "x", -1), kRS232InternalError);
        QCOMPARE(ComRd(kPort, nullptr, 3), kRS232InternalError);
        QCOMPARE(ComWrt(kPort, "x", 0), 0);
        QCOMPARE(ComRd(kPort, buf, 0), 0);
    }

    void writesLeaveWholeOrTimeOut() {
        Pty pty;
        QCOMPARE(openOn(pty), 0);
        QCOMPARE(SetComTime(kPort, 5.0), 0);
        QByteArray all(256, '\0');
        for (int i = 0; i < 256; ++i)
            all[i] = static_cast<char>(i);
        QCOMPARE(ComWrt(kPort, all.constData(), 256), 256);
        QCOMPARE(pty.receive(256), all);

        // More than the line buffers: the write waits for the reader.
        const QByteArray big = pattern(200000, 3);
        QByteArray got;
        std::thread reader([&] { got = pty.receive(big.size()); });
        QCOMPARE(ComWrt(kPort, big.constData(), int(big.size())), int(big.size()));
        reader.join();
        QVERIFY(got == big);
        QCOMPARE(FlushOutQ(kPort), 0);

        // Nobody reads: the time-out strikes.
        QCOMPARE(SetComTime(kPort, 1.0), 0);
        const QByteArray huge = pattern(4 << 20);
        const double t0 = Timer();
        QCOMPARE(ComWrt(kPort, huge.constData(), int(huge.size())), kRS232TimeOut);
        const double took = Timer() - t0;
        QVERIFY2(took >= 1.0 && took < 2.0, qPrintable(QString::number(took)));
    }

    void theInputQueueAndReads() {
        Pty pty;
        QCOMPARE(openOn(pty, kPort, 64), 0);
        QCOMPARE(SetComTime(kPort, 2.0), 0);
        const QByteArray data = pattern(130, 11);
        QVERIFY(pty.send(data.left(40)));
        QVERIFY(queueReaches(40));
        char buf[200];
        QCOMPARE(ComRd(kPort, buf, 10), 10);
        QCOMPARE(GetInQLen(kPort), 30);
        // More than the queue holds: the count stops at its size, nothing is lost.
        QVERIFY(pty.send(data.mid(40)));
        QVERIFY(queueReaches(64));
        QCOMPARE(ComRd(kPort, buf + 10, 120), 120);
        QVERIFY(QByteArray(buf, 130) == data);
        QCOMPARE(GetInQLen(kPort), 0);

        // Fewer bytes than asked for: wait the time-out, return what came, store no more.
        std::memset(buf, '#', sizeof buf);
        QVERIFY(pty.send("abcde"));
        const double t0 = Timer();
        QCOMPARE(ComRd(kPort, buf, 10), 5);
        const double took = Timer() - t0;
        QVERIFY2(took >= 2.0 && took < 3.0, qPrintable(QString::number(took)));
        QCOMPARE(QByteArray(buf, 12), QByteArray("abcde#######"));

        // Bytes that come later, inside the time-out, complete the read.
        std::thread late([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            pty.send("ABCD");
        });
        QVERIFY(pty.send("0123456789"));
        QCOMPARE(ComRd(kPort, buf, 4), 4);
        QCOMPARE(ComRd(kPort, buf, 10), 10);
        late.join();
        QCOMPARE(QByteArray(buf, 10), QByteArray("456789ABCD"));

        // Flushing empties both our queue and the driver's.
        QVERIFY(pty.send(pattern(50)));
        QVERIFY(queueReaches(50));
        QVERIFY(pty.send(pattern(20)));
        int inDriver = 0;
        for (const auto end = Clock::now() + std::chrono::seconds(5);
             inDriver != 20 && Clock::now() < end;)
            ::ioctl(pty.slave, FIONREAD, &inDriver);
        QCOMPARE(inDriver, 20);
        QCOMPARE(FlushInQ(kPort), 0);
        QCOMPARE(SetComTime(kPort, 0.0), 0); // do not wait
        QCOMPARE(ComRd(kPort, buf, 8), 0);
        QVERIFY(pty.send("new"));
        QVERIFY(queueReaches(3));
        QCOMPARE(ComRd(kPort, buf, 8), 3);
        QCOMPARE(QByteArray(buf, 3), QByteArray("new"));
    }

    void aHungUpLineFailsInsteadOfWaiting() {
        Pty pty;
        QCOMPARE(openOn(pty), 0);
        QCOMPARE(SetComTime(kPort, 5.0), 0);
        QVERIFY(pty.send("last"));
        QVERIFY(queueReaches(4));
        ::close(pty.master);
        pty.master = -1;
        char buf[16];
        const double t0 = Timer();
        QCOMPARE(ComRd(kPort, buf, 16), 4); // what came before the hang-up
        QCOMPARE(ComRd(kPort, buf, 16), kRS232UnknownIOError);
        QCOMPARE(GetInQLen(kPort), kRS232UnknownIOError);
        QCOMPARE(ComWrt(kPort, "x", 1), kRS232UnknownIOError);
        QVERIFY(Timer() - t0 < 4.0);
    }

    // The program polls GetInQLen without pumping events while it waits for a reply.
    void aPollingLoopSleepsAndStillSeesBytesAtOnce() {
        Pty pty;
        QCOMPARE(openOn(pty), 0);
        QVERIFY(pty.send(pattern(47)));
        QVERIFY(queueReaches(47));
        const double cpu0 = cpuSeconds(), t0 = Timer();
        while (Timer() - t0 < 2.0)
            QVERIFY(GetInQLen(kPort) == 47);
        const double share = (cpuSeconds() - cpu0) / (Timer() - t0);
        qInfo("CPU of a 2 s GetInQLen loop: %.1f %%", share * 100);
        QVERIFY2(share < 0.25, qPrintable(QString::number(share)));

        std::vector<double> delays;
        for (int i = 0; i < 30; ++i) {
            std::atomic<Clock::rep> sentAt{0};
            std::thread sender([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(3 + i % 5));
                sentAt = Clock::now().time_since_epoch().count();
                pty.send("b");
            });
            for (const auto end = Clock::now() + std::chrono::seconds(5);
                 GetInQLen(kPort) == 47 + i && Clock::now() < end;) {
            }
            const Clock::rep seenAt = Clock::now().time_since_epoch().count();
            sender.join();
            QCOMPARE(GetInQLen(kPort), 48 + i);
            delays.push_back(
                std::chrono::duration<double>(Clock::duration(seenAt - sentAt)).count());
        }
        std::sort(delays.begin(), delays.end());
        qInfo("a byte is seen after: median %.0f us, worst %.0f us", delays[15] * 1e6,
              delays.back() * 1e6);
        QVERIFY(delays[15] < 0.010);
    }
};

QTEST_MAIN(Rs232Test)
#include "test_rs232.moc"
