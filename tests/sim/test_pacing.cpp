// Paced like a 19200-baud line: no byte arrives before a real line could have carried it.
#include "simclient.h"

using namespace simtest;
namespace cmd = qvsim::command;

namespace {

// 10 bits a byte at 19200 baud.
constexpr auto kByte = std::chrono::nanoseconds(520833);

// Byte k of a reply to a 36-byte request sent at `sent` is not seen before (36 + k + 1) bytes.
bool neverEarly(const std::vector<Arrival> &arrivals, Clock::time_point sent, int ahead = 36) {
    for (const auto &a : arrivals)
        if (a.at - sent < kByte * (ahead + a.count))
            return false;
    return true;
}

} // namespace

class TestPacing : public QObject {
    Q_OBJECT

    qvsim::Simulator *sim = nullptr;

  private slots:
    void initTestCase() {
        auto o = quietOptions();
        o.pty = true;
        o.pace = true;
        sim = new qvsim::Simulator(o);
        QVERIFY(sim->start());
    }
    void cleanupTestCase() { delete sim; }
    void init() { sim->clearFaults(); }

    void replyTakesTheWireTime_data() {
        QTest::addColumn<QByteArray>("transport");
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("size");
        QTest::newRow("tcp GETDATA") << QByteArray("tcp") << cmd::GetData << 32;
        QTest::newRow("pty GETDATA") << QByteArray("pty") << cmd::GetData << 32;
        QTest::newRow("tcp GETCF") << QByteArray("tcp") << cmd::GetCf << 6;
        QTest::newRow("pty GETVERSION") << QByteArray("pty") << cmd::GetVersion << 48;
    }
    void replyTakesTheWireTime() {
        QFETCH(QByteArray, transport);
        QFETCH(int, code);
        QFETCH(int, size);
        auto c = connectTo(*sim, transport);
        // A series, so that the upper bound can be generous per transaction and still mean
        // something: 20 x 68 bytes is 708 ms of wire time for GETDATA.
        constexpr int kCount = 20;
        const auto start = Clock::now();
        for (int i = 0; i < kCount; ++i) {
            std::vector<Arrival> arrivals;
            const auto sent = Clock::now();
            QVERIFY(c.send(frame(code)));
            QCOMPARE(c.read(size, 5000, &arrivals).size(), size);
            QVERIFY(neverEarly(arrivals, sent));
        }
        const auto wire = kByte * (36 + size) * kCount;
        QVERIFY(Clock::now() - start < 2 * wire + 1s);
    }

    // Requests sent together queue on the line like everything else.
    void backToBackRequests() {
        auto c = RawClient::tcp(sim->tcpPort());
        std::vector<Arrival> arrivals;
        const auto sent = Clock::now();
        QVERIFY(c.send(frame(cmd::GetData) + frame(cmd::GetData)));
        QCOMPARE(c.read(64, 5000, &arrivals).size(), 64);
        // The second reply follows the second request, 72 bytes in.
        QVERIFY(Clock::now() - sent >= kByte * (72 + 32));
        QVERIFY(neverEarly(arrivals, sent));
    }

    void lateAndPaced() {
        sim->addFault(qvsim::Fault::late(100).forCommand(cmd::GetCf));
        auto c = RawClient::tcp(sim->tcpPort());
        const auto sent = Clock::now();
        QCOMPARE(c.transact(frame(cmd::GetCf), 6).size(), 6);
        QVERIFY(Clock::now() - sent >= 100ms + kByte * 42);
    }

    void unaskedIsPacedToo() {
        auto c = RawClient::tcp(sim->tcpPort());
        QCOMPARE(c.transact(frame(cmd::GetCf), 6).size(), 6); // known to the simulator
        std::vector<Arrival> arrivals;
        const auto sent = Clock::now();
        sim->sendUnasked(std::size_t(40));
        QCOMPARE(c.read(40, 5000, &arrivals).size(), 40);
        QVERIFY(neverEarly(arrivals, sent, 0));
    }
};

QTEST_GUILESS_MAIN(TestPacing)
#include "test_pacing.moc"
