// Each fault happens as asked, on the requests it targets and no others.
#include "simclient.h"

#include <QTemporaryDir>

using namespace simtest;
namespace cmd = qvsim::command;
using qvsim::Fault;

Q_DECLARE_METATYPE(qvsim::Fault)

namespace {

constexpr int kQuietMs = 150;

} // namespace

class TestFaults : public QObject {
    Q_OBJECT

    qvsim::Simulator *sim = nullptr;
    RawClient client;

    QByteArray reading() const {
        QByteArray b;
        for (std::uint16_t w : {2000, 1000, 3000, 166, 333, 2000, 0, 1000, 2000, 3000})
            b += char(w >> 8), b += char(w & 0xff);
        return b + QByteArray(12, '\0');
    }

  private slots:
    void initTestCase() {
        auto o = quietOptions();
        o.pty = true;
        // SIMDEBUG=1 shows what the simulator did, when a case fails.
        if (qEnvironmentVariableIsSet("SIMDEBUG"))
            o.onEvent = [](const std::string &l) { fprintf(stderr, "EV %s\n", l.c_str()); };
        sim = new qvsim::Simulator(o);
        QVERIFY(sim->start());
    }
    void cleanupTestCase() { delete sim; }
    void init() {
        sim->clearFaults();
        sim->resetToFactory();
        sim->setReadingSource([](std::uint64_t) { return qvsim::Rgb{1000, 2000, 3000}; });
        sim->setFactors({2048, 512, 1024});
        client = RawClient::tcp(sim->tcpPort());
        // Known to the simulator before the test begins.
        QCOMPARE(client.transact(frame(cmd::GetVersion), 48).size(), 48);
    }
    void cleanup() {
        sim->clearFaults();
        sim->setFactors({1024, 1024, 1024});
        client.close();
    }

    // '+' answered, '-' not, for consecutive GETCF requests after the fault is added.
    void targeting_data() {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<QByteArray>("pattern");
        QTest::newRow("every") << Fault::noReply() << QByteArray("---");
        QTest::newRow("other command")
            << Fault::noReply().forCommand(cmd::GetVersion) << QByteArray("+++");
        QTest::newRow("this command")
            << Fault::noReply().forCommand(cmd::GetCf) << QByteArray("---");
        QTest::newRow("nth") << Fault::noReply().onlyNth(2) << QByteArray("+-++");
        QTest::newRow("nth, twice") << Fault::noReply().onlyNth(2).repeat(2) << QByteArray("+--+");
        QTest::newRow("first two") << Fault::noReply().repeat(2) << QByteArray("--+");
    }
    void targeting() {
        QFETCH(Fault, fault);
        QFETCH(QByteArray, pattern);
        // Requests before the fault exists do not count towards nth.
        QCOMPARE(client.transact(frame(cmd::GetCf), 6), QByteArray::fromHex("080002000400"));
        const int id = sim->addFault(fault);
        int hits = 0;
        for (char expected : pattern) {
            QVERIFY(client.send(frame(cmd::GetCf)));
            if (expected == '+') {
                QCOMPARE(client.read(6), QByteArray::fromHex("080002000400"));
            } else {
                QVERIFY(client.readUntilQuiet(kQuietMs).isEmpty());
                ++hits;
            }
        }
        QCOMPARE(sim->faultHits(id), std::uint64_t(hits));
        if (fault.command == cmd::GetCf)
            QCOMPARE(client.transact(frame(cmd::GetVersion), 48).size(), 48);
    }

    // A lost request is not executed; one that only lost its reply is.
    void ignoreAndNoReply() {
        sim->addFault(Fault::ignore().forCommand(cmd::SetCf).onlyNth(1));
        sim->addFault(Fault::noReply().forCommand(cmd::SetCf));
        const auto frames = sim->counters().framesReceived;
        QVERIFY(client.send(frame(cmd::SetCf, {1, 1, 1})));
        QVERIFY(client.send(frame(cmd::SetCf, {2, 2, 2})));
        QVERIFY(sim->waitForFrames(frames + 2, 3s));
        QCOMPARE(sim->factors(), (qvsim::Factors{2, 2, 2}));
        QVERIFY(client.readUntilQuiet(kQuietMs).isEmpty());
    }

    void lateReply() {
        sim->addFault(Fault::late(300).forCommand(cmd::GetData));
        const auto sent = Clock::now();
        QVERIFY(client.send(frame(cmd::GetData)));
        QCOMPARE(client.read(32, 5000), reading());
        QVERIFY(Clock::now() - sent >= 300ms);
    }

    void wrongLength_data() {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("intact"); // leading bytes that must be the real reply
        QTest::newRow("short") << Fault::shortReply(2) << 4 << 4;
        QTest::newRow("short, all") << Fault::shortReply(10) << 0 << 0;
        QTest::newRow("long") << Fault::longReply(3) << 9 << 6;
        QTest::newRow("garbage") << Fault::garbage() << 6 << 0;
        QTest::newRow("garbage, longer") << Fault::garbage(40) << 40 << 0;
    }
    void wrongLength() {
        QFETCH(Fault, fault);
        QFETCH(int, length);
        QFETCH(int, intact);
        sim->addFault(fault.forCommand(cmd::GetCf).onlyNth(1));
        QVERIFY(client.send(frame(cmd::GetCf)));
        const auto got = client.readUntilQuiet(kQuietMs);
        QCOMPARE(got.size(), length);
        QCOMPARE(got.left(intact), QByteArray::fromHex("080002000400").left(intact));
        QCOMPARE(client.transact(frame(cmd::GetCf), 6), QByteArray::fromHex("080002000400"));
    }

    // Pieces are held back: piece j does not arrive before j gaps have passed.
    void pieces_data() {
        QTest::addColumn<QByteArray>("transport");
        QTest::newRow("tcp") << QByteArray("tcp");
        QTest::newRow("pty") << QByteArray("pty");
    }
    void pieces() {
        QFETCH(QByteArray, transport);
        auto c = connectTo(*sim, transport);
        sim->addFault(Fault::pieces(8, 60).forCommand(cmd::GetData));
        std::vector<Arrival> arrivals;
        const auto sent = Clock::now();
        QVERIFY(c.send(frame(cmd::GetData)));
        QCOMPARE(c.read(32, 5000, &arrivals), reading());
        for (const auto &a : arrivals) {
            const int piecesSeen = (a.count + 7) / 8;
            QVERIFY(a.at - sent >= 60ms * (piecesSeen - 1));
        }
        QVERIFY(arrivals.size() > 1);
    }

    void disconnectMidReplyTcp() {
        sim->addFault(Fault::disconnect(5).forCommand(cmd::GetCf));
        QVERIFY(client.send(frame(cmd::GetCf)));
        QByteArray got;
        QVERIFY(client.waitClosed(3000, &got));
        QCOMPARE(got, QByteArray::fromHex("0800020004"));
        QTRY_COMPARE(sim->tcpConnectionCount(), std::size_t(0));
        auto again = RawClient::tcp(sim->tcpPort());
        QCOMPARE(again.transact(frame(cmd::GetVersion), 48).size(), 48);
    }

    // On the pty a disconnect is a hang-up: the line drops and a new device comes up.
    void disconnectMidReplyPty() {
        const auto before = sim->ptyPath();
        auto c = RawClient::device(before);
        sim->addFault(Fault::disconnect(3).forCommand(cmd::GetData).onlyNth(2));
        QCOMPARE(c.transact(frame(cmd::GetData), 32), reading());
        QVERIFY(c.send(frame(cmd::GetData)));
        QByteArray got;
        QVERIFY(c.waitClosed(3000, &got));
        QCOMPARE(got, reading().left(3));
        QTRY_VERIFY(!sim->ptyPath().empty() && sim->ptyPath() != before);
        auto d = RawClient::device(sim->ptyPath());
        QCOMPARE(d.transact(frame(cmd::GetData), 32), reading());
    }

    void unasked() {
        sim->sendUnasked({0xde, 0xad, 0xbe, 0xef});
        QCOMPARE(client.read(4), QByteArray::fromHex("deadbeef"));
        sim->sendUnasked(std::size_t(7));
        QCOMPARE(client.readUntilQuiet(kQuietMs).size(), 7);

        sim->addFault(Fault::unasked(5, 200).forCommand(cmd::GetCf));
        const auto sent = Clock::now();
        QVERIFY(client.send(frame(cmd::GetCf)));
        QCOMPARE(client.read(6), QByteArray::fromHex("080002000400"));
        QCOMPARE(client.read(5, 5000).size(), 5);
        QVERIFY(Clock::now() - sent >= 200ms);
        QVERIFY(client.readUntilQuiet(kQuietMs).isEmpty());
    }

    // A flood starts on the n-th request, reaches every link, and stops when told.
    void flood() {
        auto pty = RawClient::device(sim->ptyPath());
        sim->addFault(Fault::flood(20000).forCommand(cmd::GetCf).onlyNth(2));
        QCOMPARE(client.transact(frame(cmd::GetCf), 6), QByteArray::fromHex("080002000400"));
        QVERIFY(client.readUntilQuiet(kQuietMs).isEmpty());
        QVERIFY(client.send(frame(cmd::GetCf)));
        QVERIFY(client.read(3000, 5000).size() == 3000);
        QVERIFY(pty.read(1000, 5000).size() == 1000);
        sim->clearFaults();
        // What was already on its way drains; then nothing more comes.
        client.readUntilQuiet(kQuietMs, 3000);
        pty.readUntilQuiet(kQuietMs, 3000);
        QVERIFY(client.readUntilQuiet(kQuietMs).isEmpty());
        QCOMPARE(client.transact(frame(cmd::GetCf), 6), QByteArray::fromHex("080002000400"));
    }

    // A client that does not read never stalls the simulator for the others.
    void floodIntoAClientThatDoesNotRead() {
        auto deaf = RawClient::device(sim->ptyPath());
        sim->startFlood(2'000'000);
        QTest::qWait(300);
        sim->stopFlood();
        client.readUntilQuiet(kQuietMs, 5000);
        QVERIFY(sim->counters().bytesDiscarded > 0); // the pty had no room left
        // Its reply waits for room; the TCP client is served meanwhile.
        QVERIFY(deaf.send(frame(cmd::GetCf)));
        QCOMPARE(client.transact(frame(cmd::GetCf), 6), QByteArray::fromHex("080002000400"));
        QCOMPARE(deaf.readUntilQuiet(kQuietMs, 5000).right(6), QByteArray::fromHex("080002000400"));
    }

    // Faults add up in the order given.
    void combined() {
        sim->addFault(Fault::late(100).forCommand(cmd::GetCf));
        sim->addFault(Fault::longReply(2).forCommand(cmd::GetCf));
        const auto sent = Clock::now();
        QVERIFY(client.send(frame(cmd::GetCf)));
        QCOMPARE(client.read(8, 5000).left(6), QByteArray::fromHex("080002000400"));
        QVERIFY(Clock::now() - sent >= 100ms);
    }

    void parse_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("described"); // empty: must be rejected
        QTest::newRow("kind only") << "noreply"
                                   << "noreply";
        QTest::newRow("late default") << "late"
                                      << "late:ms=1000";
        QTest::newRow("by name") << "late:cmd=getdata,ms=1500,nth=3"
                                 << "late:cmd=GETDATA,nth=3,ms=1500";
        QTest::newRow("by code") << "noreply:cmd=9,nth=2,times=3"
                                 << "noreply:cmd=GETCF,nth=2,times=3";
        QTest::newRow("pieces") << "pieces:size=4,gap=20"
                                << "pieces:size=4,gap=20";
        QTest::newRow("unasked") << "unasked:bytes=3,ms=50"
                                 << "unasked:bytes=3,ms=50";
        QTest::newRow("flood") << "flood:rate=500,cmd=any"
                               << "flood:rate=500";
        QTest::newRow("unknown kind") << "explode"
                                      << "";
        QTest::newRow("key of another kind") << "late:bytes=3"
                                             << "";
        QTest::newRow("not a number") << "late:ms=soon"
                                      << "";
        QTest::newRow("nth zero") << "noreply:nth=0"
                                  << "";
        QTest::newRow("bad command") << "noreply:cmd=FETCH"
                                     << "";
        QTest::newRow("empty after colon") << "late:"
                                           << "";
        QTest::newRow("too big") << "garbage:len=99999999"
                                 << "";
    }
    void parse() {
        QFETCH(QString, text);
        QFETCH(QString, described);
        std::string error;
        const auto f = Fault::parse(text.toStdString(), &error);
        if (described.isEmpty()) {
            QVERIFY(!f);
            QVERIFY(!error.empty());
            return;
        }
        QVERIFY2(f, error.c_str());
        QCOMPARE(QString::fromStdString(f->describe()), described);
        QCOMPARE(Fault::parse(f->describe())->describe(), f->describe());
    }
};

QTEST_GUILESS_MAIN(TestFaults)
#include "test_faults.moc"
