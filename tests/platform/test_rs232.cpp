// The run-time's serial ports against real pseudo-terminals: the test holds the master side and
// plays the instrument.
#include "platform/rs232.h"
#include "platform/serialports.h"
#include "platform/utility.h"
#include "tests/support/support.h"

#include <QTest>

#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

using namespace qv::rt;

namespace {

// The port opens the slave; the test reads and writes the master. The test keeps the slave open
// too (raw), so that the line does not hang up between opens.
struct Pty {
    int master = ::posix_openpt(O_RDWR | O_NOCTTY), slave = -1;
    std::string name;
    Pty() {
        termios t{};
        if (::grantpt(master) == 0 && ::unlockpt(master) == 0)
            name = ::ptsname(master);
        slave = ::open(name.c_str(), O_RDWR | O_NOCTTY);
        ::tcgetattr(slave, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(slave, TCSANOW, &t);
    }
    ~Pty() {
        ::close(master);
        ::close(slave);
    }
    bool send(const QByteArray &b) const { return ::write(master, b.data(), b.size()) == b.size(); }
    // Bytes the driver holds that no reader has taken yet.
    int inDriver() const {
        int n = -1;
        ::ioctl(slave, FIONREAD, &n);
        return n;
    }
};

constexpr int kPort = 1;

int openOn(const Pty &pty, int port = kPort, long baud = 19200, int parity = kParityNone,
           int bits = 8, int stop = 1, int inQueue = 512) {
    return OpenComConfig(port, pty.name.c_str(), baud, parity, bits, stop, inQueue, 512);
}

// Polls without pumping events until the queue holds `n`; with `taken`, until the port has also
// moved them out of the driver (the kernel hands pty bytes over asynchronously).
bool queueReaches(int n, const Pty *taken = nullptr) {
    for (const double end = Timer() + 5; Timer() < end;)
        if (GetInQLen(kPort) == n && (!taken || taken->inDriver() == 0))
            return true;
    return false;
}

} // namespace

class Rs232Test : public QObject {
    Q_OBJECT

  private slots:
    void cleanup() { CloseCom(kPort); }

    void statusCodes() {
        Pty pty;
        char buf[4];
        ComPortInfo info;
        for (int status : {openOn(pty, 0), openOn(pty, 256), GetInQLen(-1),
                           GetComPortInfo(0, &info), GetComPortInfo(kMaxComPort + 1, &info)})
            QCOMPARE(status, kRS232InvalidPort);
        for (int status :
             {CloseCom(kPort), ComRd(kPort, buf, 4), ComWrt(kPort, "x", 1), GetInQLen(kPort),
              SetComTime(kPort, 1), SetCTSMode(kPort, 0), FlushInQ(kPort), FlushOutQ(kPort)})
            QCOMPARE(status, kRS232PortNotOpen);
        for (int status : {OpenComConfig(kPort, "/dev/quorvat-none", 19200, 0, 8, 1, 64, 64),
                           OpenComConfig(255, nullptr, 19200, 0, 8, 1, 64, 64)}) // no such port
            QCOMPARE(status, kRS232NoSerialPortFound);
        QCOMPARE(openOn(pty), 0);
        // Settings out of range, and bad arguments, are refused before the open port is touched.
        for (int status :
             {openOn(pty, kPort, 0), openOn(pty, kPort, 9600, 5), openOn(pty, kPort, 9600, 0, 4),
              openOn(pty, kPort, 9600, 0, 9), openOn(pty, kPort, 9600, 0, 8, 3),
              SetComTime(kPort, -1.0), SetComTime(kPort, std::nan("")), SetCTSMode(kPort, 2),
              ComWrt(kPort, nullptr, 3), ComWrt(kPort, "x", -1), ComRd(kPort, nullptr, 3)})
            QCOMPARE(status, kRS232InternalError);
        QCOMPARE(ComWrt(kPort, "x", 0) + ComRd(kPort, buf, 0), 0);
        QCOMPARE(SetCTSMode(kPort, 0), 0);              // no modem lines on a pty, and still open
        QCOMPARE(openOn(pty), 0);                       // reopening an open port
        QCOMPARE(openOn(pty, 2), kRS232CannotOpenPort); // the line is in use

        // A pty refuses some framings (Linux keeps it at 8 data bits): that reads "unsupported
        // setting" and leaves the port closed.
        for (int parity = kParityNone; parity <= kParitySpace; ++parity)
            for (int dataBits = 5; dataBits <= 8; ++dataBits) {
                const int status = openOn(pty, kPort, 9600, parity, dataBits, 2);
                QVERIFY(status == 0 || status == kRS232InternalError);
                QCOMPARE(GetInQLen(kPort), status == 0 ? 0 : kRS232PortNotOpen);
            }
    }

    // (Flushing, which each open does: the fault matrix over the pty, whose surplus bytes would
    // otherwise reach the next case.)
    void theQueuesAndTheirTimeOuts() {
        Pty pty;
        QCOMPARE(openOn(pty, kPort, 19200, kParityNone, 8, 1, 64), 0);
        QByteArray data(130, '\0');
        for (int i = 0; i < data.size(); ++i)
            data[i] = static_cast<char>(i * 7);
        char buf[200];
        // More than the queue holds: the count stops at its size, nothing is lost.
        QVERIFY(pty.send(data));
        QVERIFY(queueReaches(64));
        QCOMPARE(ComRd(kPort, buf, 10), 10); // a read leaves the rest queued, in order
        QCOMPARE(ComRd(kPort, buf + 10, 120), 120);
        QVERIFY(QByteArray(buf, 130) == data);
        QCOMPARE(GetInQLen(kPort), 0);

        // Fewer bytes than asked for: wait the time-out, return what came, store no more.
        QCOMPARE(SetComTime(kPort, 0.5), 0);
        std::memset(buf, '#', sizeof buf);
        QVERIFY(pty.send("abcde"));
        const double t0 = Timer();
        QCOMPARE(ComRd(kPort, buf, 10), 5);
        QVERIFY(Timer() - t0 >= 0.5);
        QCOMPARE(QByteArray(buf, 12), QByteArray("abcde#######"));

        // More than the line buffers, with nobody reading: the write times out, not before its
        // time. (Frames going out whole: the fault matrix over the pty.)
        const QByteArray huge(4 << 20, 'w');
        const double t1 = Timer();
        QCOMPARE(ComWrt(kPort, huge.constData(), int(huge.size())), kRS232TimeOut);
        QVERIFY(Timer() - t1 >= 0.5);
    }

    // The bytes the port took before the hang-up are handed out, then every call reports the
    // failed line. The time-out is long: a port that waited for bytes that cannot come would
    // return 0 after it instead of the failure. (The kernel drops what it still holds at a
    // hang-up, so the bytes must be in the port's queue first.)
    void aHungUpLineFailsInsteadOfWaiting() {
        Pty pty;
        QCOMPARE(openOn(pty), 0);
        QCOMPARE(SetComTime(kPort, 30.0), 0);
        QVERIFY(pty.send("last"));
        QVERIFY(queueReaches(4, &pty));
        ::close(pty.master);
        pty.master = -1;
        char buf[16];
        QCOMPARE(ComRd(kPort, buf, 16), 4);
        QCOMPARE(ComRd(kPort, buf, 16), kRS232UnknownIOError);
        QCOMPARE(GetInQLen(kPort), kRS232UnknownIOError);
        QCOMPARE(ComWrt(kPort, "x", 1), kRS232UnknownIOError);
    }
};

QTEST_MAIN(Rs232Test)
#include "test_rs232.moc"
