// The simulator as a library: the fault syntax and what the fault matrix does not drive (fault
// targets, unasked data, floods), the pacing of a 19200-baud line, the pty a client reopens, TCP
// clients side by side and their limit. (The commands' effects on the sensor are checked against
// the program by tests/integration/test_operator, the raw line and a vanishing one by the fault
// matrix over the pty, a serial device and why a start fails by test_program.)
#include "simclient.h"

#include <random>

using namespace simtest;
using qvsim::Fault;

namespace {

constexpr int kQuietMs = 200;
constexpr auto kByte = std::chrono::nanoseconds(520833); // 10 bits at 19200 baud

// A client that opens the pty the moment another closed it may meet what that one left, or
// lose its first request with it: clients wait until the line is free, as simulator.h says.
RawClient nextPtyClient(const qvsim::Simulator &sim) {
    (void)QTest::qWaitFor([&] { return sim.ptyClients() == 0; });
    return RawClient::device(sim.ptyPath());
}

} // namespace

class TestSimulator : public QObject {
    Q_OBJECT
    std::unique_ptr<qvsim::Simulator> sim, paced;

  private slots:
    void initTestCase() {
        auto o = quietOptions();
        o.pty = true;
        sim = std::make_unique<qvsim::Simulator>(o);
        o.pace = true;
        paced = std::make_unique<qvsim::Simulator>(o);
        QVERIFY(sim->start() && paced->start());
    }
    void cleanup() { sim->clearFaults(); }

    void faultSyntax_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("described"); // empty: refused, with a reason
        // clang-format off
        const char *rows[][2] = {
            {"ignore:cmd=setcf", "ignore:cmd=SETCF"},  {"late", "late:ms=1000"},
            {"noreply:cmd=300", "noreply:cmd=300"},    {"short", "short:bytes=1"},
            {"late:cmd=getdata,ms=1500,nth=3", "late:cmd=GETDATA,nth=3,ms=1500"},
            {"noreply:cmd=9,nth=2,times=3", "noreply:cmd=GETCF,nth=2,times=3"},
            {"pieces", "pieces:size=1,gap=10"},        {"disconnect", "disconnect:bytes=0"},
            {"unasked", "unasked:bytes=8,ms=0"},       {"flood:rate=500,cmd=any", "flood:rate=500"}};
        for (const auto &row : rows)
            QTest::newRow(row[0]) << row[0] << row[1];
        for (const char *refused : {"explode", "late:bytes=3", "late:ms", "late:=5",
                                    "noreply:nth=0", "noreply:cmd=FETCH", "noreply:cmd=70000",
                                    "late:", "garbage:len=99999999"})
            QTest::newRow(refused) << refused << "";
        // clang-format on
    }
    void faultSyntax() {
        QFETCH(QString, text);
        QFETCH(QString, described);
        std::string error;
        const auto f = Fault::parse(text.toStdString(), &error);
        QCOMPARE(f.has_value(), !described.isEmpty());
        QCOMPARE(error.empty(), f.has_value());
        if (f)
            QCOMPARE(QString::fromStdString(Fault::parse(f->describe())->describe()), described);
    }

    // What each GETCF gets under a fault: '+' its reply, '-' nothing, 'u' its reply and five
    // unasked bytes, 'f' a flood on top. Requests before the fault do not count towards nth.
    // (A fault aimed at one command: the fault matrix.)
    void faultTargets_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QByteArray>("replies");
        QTest::newRow("nth, twice") << "noreply:nth=2,times=2" << QByteArray("+--+");
        QTest::newRow("unasked") << "unasked:bytes=5,ms=20,nth=2" << QByteArray("+u+");
        QTest::newRow("flood until cleared") << "flood:rate=100000,nth=2" << QByteArray("+f");
    }
    void faultTargets() {
        QFETCH(QString, fault);
        QFETCH(QByteArray, replies);
        auto c = RawClient::tcp(sim->tcpPort());
        QCOMPARE(c.transact(frame(cmd::GetCf), 6), kFactoryCf);
        const int id = sim->addFault(*Fault::parse(fault.toStdString()));
        std::uint64_t hits = 0;
        for (char r : replies) {
            QVERIFY(c.send(frame(cmd::GetCf)));
            const int n = r == '+' ? 6 : r == 'u' ? 11 : r == 'f' ? 1000 : 0;
            const QByteArray got = c.read(n ? n : 1, n ? 3000 : kQuietMs);
            QCOMPARE(got.size(), n);
            QVERIFY(r == 'f' || got.left(6) == (n ? kFactoryCf : QByteArray()));
            hits += r != '+';
        }
        QCOMPARE(sim->faultHits(id), hits);
        sim->clearFaults(); // also ends a flood: what was on its way drains, then nothing comes
        c.read(1 << 20, kQuietMs);
        QCOMPARE(c.transact(frame(cmd::GetCf), 6), kFactoryCf);
    }

    // Paced: byte k of what answers the requests does not arrive before the requests and k bytes
    // could have crossed the line, nor the last one before the whole exchange.
    void pacing_data() {
        QTest::addColumn<bool>("pty");
        QTest::addColumn<int>("count"); // data requests sent together
        QTest::newRow("pty") << true << 1;
        QTest::newRow("back to back") << false << 2;
    }
    void pacing() {
        QFETCH(bool, pty);
        QFETCH(int, count);
        auto c = pty ? nextPtyClient(*paced) : RawClient::tcp(paced->tcpPort());
        std::vector<std::pair<Clock::time_point, int>> arrivals;
        const auto sent = Clock::now();
        QVERIFY(c.send(frame(cmd::GetData).repeated(count)));
        QCOMPARE(c.read(32 * count, 5000, &arrivals).size(), 32 * count);
        for (const auto &[at, bytes] : arrivals)
            QVERIFY(at - sent >= kByte * (36 + bytes));
        QVERIFY(arrivals.back().first - sent >= kByte * (36 * count + 32));
    }

    // Random input never breaks the simulator: it finds the next frame again, even one that
    // comes in two writes, and a new connection starts clean.
    void survivesRandomInput() {
        std::mt19937 rng(7);
        QByteArray junk(256 * 1024, '\0');
        for (auto &b : junk)
            b = static_cast<char>(rng() % 5 == 0 ? 0x55 : rng() % 3 == 0 ? 0 : rng());
        auto c = RawClient::tcp(sim->tcpPort());
        QVERIFY(c.send(junk + QByteArray(36, '\xff') + frame(cmd::GetCf).left(10)));
        c.read(1 << 20, kQuietMs); // the replies to whatever frames the junk held
        sim->resetToFactory();
        QVERIFY(c.send(frame(cmd::GetCf).mid(10)));
        QCOMPARE(c.read(6), kFactoryCf);
        // A new connection starts clean; a code the sensor does not know gets no reply, which
        // would lead the next one.
        auto d = RawClient::tcp(sim->tcpPort());
        QVERIFY(d.send(frame(0) + frame(255, {1, 2}) + frame(0x0105) + frame(cmd::GetCf)));
        QCOMPARE(d.read(1 << 20, kQuietMs), kFactoryCf);
        QVERIFY(!sim->setVersion(std::string(49, 'W'))); // the sensor has room for 48
    }

    // Without a client what is sent is lost, so nothing stale greets the next one; a client's
    // unread reply, half a frame and a late reply it asked for leave with it, its complete
    // requests count.
    void ptyOutlivesItsClients() {
        sim->resetToFactory();
        const auto frames = sim->counters().framesReceived;
        auto c = nextPtyClient(*sim);
        QVERIFY(c.send(frame(cmd::GetCf) + frame(cmd::SetCf, {7, 8, 9}) +
                       frame(cmd::GetVersion).left(10)));
        QVERIFY(sim->waitForFrames(frames + 2, 3s));
        c.close();
        auto d = nextPtyClient(*sim);
        QCOMPARE(d.transact(frame(cmd::GetCf), 6), QByteArray::fromHex("000700080009"));
        QVERIFY(d.read(1, 100).isEmpty());
        sim->addFault(Fault::late(200).forCommand(cmd::GetCf));
        QVERIFY(d.send(frame(cmd::GetCf)));
        QVERIFY(sim->waitForFrames(frames + 4, 3s));
        d.close();
        QVERIFY(nextPtyClient(*sim).read(1, 400).isEmpty());
    }

    // Connections share one sensor, each answered on its own; past 64 a client is closed at
    // once instead of piling up. A client that stops sending still gets its reply before the
    // close. A stop closes the clients and frees the port; a start again keeps the sensor.
    void tcpClientsAndRestarts() {
        qvsim::Simulator own(quietOptions());
        QVERIFY(own.start());
        std::vector<RawClient> many;
        for (int i = 0; i < 64; ++i)
            many.push_back(RawClient::tcp(own.tcpPort()));
        auto extra = RawClient::tcp(own.tcpPort());
        extra.read(1, 3000);
        QVERIFY(extra.closed);
        QVERIFY(many[0].send(frame(cmd::SetCf, {5, 6, 7})) && many[1].send(frame(cmd::GetCf)));
        ::shutdown(many[1].fd(), SHUT_WR);
        QCOMPARE(many[1].read(), QByteArray::fromHex("000500060007"));
        QVERIFY(many[1].closed && many[0].read(1, 100).isEmpty()); // 1's reply did not go to 0
        many.resize(1);
        QVERIFY(QTest::qWaitFor([&] { return own.tcpConnectionCount() == 1; }));
        own.stop();
        QVERIFY(many[0].read(1).isEmpty() && many[0].closed && own.tcpPort() == 0);
        own.stop();
        QVERIFY(own.start());
        QCOMPARE(RawClient::tcp(own.tcpPort()).transact(frame(cmd::GetCf), 6),
                 QByteArray::fromHex("000500060007"));
    }
};

QTEST_GUILESS_MAIN(TestSimulator)
#include "test_simulator.moc"
