// Every command answered as the sensor answers it, over TCP and over the pseudo-terminal.
#include "simclient.h"

#include <QTemporaryDir>

#include <fstream>
#include <random>
#include <set>

using namespace simtest;
namespace cmd = qvsim::command;

class TestCommands : public QObject {
    Q_OBJECT

    qvsim::Simulator *sim = nullptr;

    static void transports() {
        QTest::addColumn<QByteArray>("transport");
        QTest::newRow("tcp") << QByteArray("tcp");
        QTest::newRow("pty") << QByteArray("pty");
    }

  private slots:
    void initTestCase() {
        auto o = quietOptions();
        o.pty = true;
        sim = new qvsim::Simulator(o);
        std::string error;
        QVERIFY2(sim->start(&error), error.c_str());
    }
    void cleanupTestCase() { delete sim; }
    void init() {
        sim->resetToFactory();
        sim->clearFaults();
        sim->setReadingSource(nullptr);
        sim->setNoise(2);
        sim->setBase({4000, 4100, 3900});
    }

    void version_data() { transports(); }
    void version() {
        QFETCH(QByteArray, transport);
        auto c = connectTo(*sim, transport);
        QVERIFY(c.isOpen());
        const auto v = c.transact(frame(cmd::GetVersion), 48);
        QCOMPARE(v, QByteArray("QUORVAT SENSOR SIMULATOR V1.0").leftJustified(48, '\0'));

        QVERIFY(sim->setVersion(std::string(48, 'V')));
        QCOMPARE(c.transact(frame(cmd::GetVersion), 48), QByteArray(48, 'V'));
        QVERIFY(!sim->setVersion(std::string(49, 'W')));
        QCOMPARE(c.transact(frame(cmd::GetVersion), 48), QByteArray(48, 'V'));
        QVERIFY(c.readUntilQuiet(100).isEmpty()); // exactly 48, no terminator
    }

    void calibrationFactors_data() { transports(); }
    void calibrationFactors() {
        QFETCH(QByteArray, transport);
        auto c = connectTo(*sim, transport);
        QCOMPARE(c.transact(frame(cmd::GetCf), 6), QByteArray::fromHex("040004000400"));
        const auto before = sim->counters().framesReceived;
        QVERIFY(c.send(frame(cmd::SetCf, {2048, 512, 1000, 7, 7})));
        QVERIFY(sim->waitForFrames(before + 1, 3s));
        QCOMPARE(sim->factors(), (qvsim::Factors{2048, 512, 1000}));
        QCOMPARE(c.transact(frame(cmd::GetCf), 6), QByteArray::fromHex("0800020003e8"));
    }

    void reading_data() { transports(); }
    void reading() {
        QFETCH(QByteArray, transport);
        auto c = connectTo(*sim, transport);
        std::vector<std::uint64_t> indices;
        std::mutex indicesM;
        sim->setReadingSource([&](std::uint64_t i) {
            std::lock_guard lock(indicesM);
            indices.push_back(i);
            return qvsim::Rgb{1000, 2000, 3000};
        });
        sim->setFactors({2048, 512, 1024});
        const auto w = words(c.transact(frame(cmd::GetData), 32));
        const std::vector<std::uint16_t> expected{2000, 1000, 3000, 166, 333, 2000, 0, 1000,
                                                  2000, 3000, 0,    0,   0,   0,    0, 0};
        QCOMPARE(w, expected);
        QCOMPARE(c.transact(frame(cmd::GetData), 32).size(), 32);
        sim->setReadingSource(nullptr);
        std::lock_guard lock(indicesM);
        QCOMPARE(indices.size(), std::size_t(2));
        QCOMPARE(indices[1], indices[0] + 1);
    }

    // raw = base * POWER / 1000 + noise, calibrated = raw * factor / 1024, both clamped.
    void readingFormula() {
        auto c = RawClient::tcp(sim->tcpPort());
        sim->setNoise(0);
        auto w = words(c.transact(frame(cmd::GetData), 32));
        QCOMPARE(std::vector<std::uint16_t>(w.begin() + 7, w.begin() + 10),
                 (std::vector<std::uint16_t>{1000, 1025, 975}));

        const auto ram = sim->ram();
        auto params = std::vector<std::uint16_t>(ram.begin(), ram.begin() + 16);
        params[0] = 2000;
        QVERIFY(c.send(frame(cmd::SetPara, params)));
        sim->setBase({65535, 1000, 0});
        sim->setFactors({1024, 2048, 1024});
        w = words(c.transact(frame(cmd::GetData), 32));
        QCOMPARE(std::vector<std::uint16_t>(w.begin(), w.begin() + 3),
                 (std::vector<std::uint16_t>{65535, 4000, 0}));
        QCOMPARE(std::vector<std::uint16_t>(w.begin() + 7, w.begin() + 10),
                 (std::vector<std::uint16_t>{65535, 2000, 0}));

        params[0] = 250;
        QVERIFY(c.send(frame(cmd::SetPara, params)));
        sim->setBase({4000, 4100, 3900});
        sim->setFactors({1024, 1024, 1024});
        sim->setNoise(2);
        std::set<int> seen;
        for (int i = 0; i < 40; ++i) {
            const int red = words(c.transact(frame(cmd::GetData), 32)).at(7);
            QVERIFY2(red >= 998 && red <= 1002, QByteArray::number(red));
            seen.insert(red);
        }
        QVERIFY(seen.size() > 1);
    }

    // SETPARA and SETTEACH change RAM only; SETPARA_END commits RAM to EEPROM.
    void parameterImages_data() { transports(); }
    void parameterImages() {
        QFETCH(QByteArray, transport);
        auto c = connectTo(*sim, transport);
        const auto factory = qvsim::factoryImage();
        const std::vector<std::uint16_t> factoryWords(factory.begin(), factory.end());
        QCOMPARE(words(c.transact(frame(cmd::GetParaRam), 404)), factoryWords);
        QCOMPARE(words(c.transact(frame(cmd::GetParaEeprom), 404)), factoryWords);

        std::vector<std::uint16_t> params(16);
        for (std::uint16_t i = 0; i < 16; ++i)
            params[i] = static_cast<std::uint16_t>(1000 + i);
        QVERIFY(c.send(frame(cmd::SetPara, params)));
        // Row 30 with stale words behind it, and row 31, which does not exist.
        QVERIFY(c.send(frame(cmd::SetTeach, {30, 11, 12, 13, 14, 15, 16, 99, 99, 99})));
        QVERIFY(c.send(frame(cmd::SetTeach, {31, 21, 22, 23, 24, 25, 26})));
        auto expected = factoryWords;
        std::copy(params.begin(), params.end(), expected.begin());
        std::copy_n(std::vector<std::uint16_t>{11, 12, 13, 14, 15, 16}.begin(), 6,
                    expected.begin() + 196);
        QCOMPARE(words(c.transact(frame(cmd::GetParaRam), 404)), expected);
        QCOMPARE(words(c.transact(frame(cmd::GetParaEeprom), 404)), factoryWords);

        QVERIFY(c.send(frame(cmd::SetParaEnd)));
        QCOMPARE(words(c.transact(frame(cmd::GetParaEeprom), 404)), expected);
        const auto eeprom = sim->eeprom();
        QCOMPARE(std::vector<std::uint16_t>(eeprom.begin(), eeprom.end()), expected);
    }

    void unknownCodesGetNoReply_data() { transports(); }
    void unknownCodesGetNoReply() {
        QFETCH(QByteArray, transport);
        auto c = connectTo(*sim, transport);
        sim->clearFrames();
        for (int code : {0, 10, 255, 0x0105})
            QVERIFY(c.send(frame(code, {1, 2, 3})));
        QVERIFY(c.readUntilQuiet(150).isEmpty());
        QCOMPARE(c.transact(frame(cmd::GetCf), 6).size(), 6);
        const auto logged = sim->frames();
        QCOMPARE(logged.size(), std::size_t(5));
        QCOMPARE(bytesOf(logged[3]), frame(0x0105, {1, 2, 3}));
    }

    // Bytes are dropped one at a time until a sync word lines up; a partial frame waits.
    void resynchronises_data() { transports(); }
    void resynchronises() {
        QFETCH(QByteArray, transport);
        auto c = connectTo(*sim, transport);
        const auto dropped = sim->counters().bytesDropped;
        QVERIFY(c.send(QByteArray::fromHex("ff000100") + QByteArray(1, '\0') + frame(cmd::GetCf)));
        QCOMPARE(c.read(6), QByteArray::fromHex("040004000400"));
        QCOMPARE(sim->counters().bytesDropped - dropped, std::uint64_t(5));

        const auto request = frame(cmd::GetVersion);
        QVERIFY(c.send(request.left(10)));
        QVERIFY(c.readUntilQuiet(100).isEmpty());
        QVERIFY(c.send(request.mid(10) + frame(cmd::GetCf)));
        QCOMPARE(c.read(54).size(), 54); // both, in order
    }

    void frameLog() {
        QTemporaryDir dir;
        auto o = quietOptions();
        o.logFile = dir.filePath("frames.log").toStdString();
        qvsim::Simulator logging(o);
        QVERIFY(logging.start());
        auto c = RawClient::tcp(logging.tcpPort());
        QVERIFY(c.send(frame(cmd::SetCf, {0x1234, 0xabcd, 1})));
        QCOMPARE(c.transact(frame(cmd::GetCf), 6), QByteArray::fromHex("1234abcd0001"));
        logging.stop();

        std::ifstream in(o.logFile);
        std::string first, second, third;
        std::getline(in, first);
        std::getline(in, second);
        std::string expected = "00 55 00 08 12 34 ab cd 00 01";
        for (int i = 0; i < 26; ++i)
            expected += " 00";
        QCOMPARE(first, expected);
        QVERIFY(second.rfind("00 55 00 09 00 00", 0) == 0);
        QVERIFY(!std::getline(in, third));
        QCOMPARE(logging.frames().size(), std::size_t(2));
        logging.clearFrames();
        QVERIFY(logging.frames().empty());
    }

    // Random input never breaks the simulator; a new connection starts clean.
    void survivesRandomInput() {
        std::mt19937 rng(7);
        QByteArray junk(256 * 1024, '\0');
        for (auto &b : junk)
            b = static_cast<char>(rng() % 5 == 0 ? 0x55 : rng() % 3 == 0 ? 0 : rng());
        {
            auto c = RawClient::tcp(sim->tcpPort());
            QVERIFY(c.send(junk));
            c.readUntilQuiet(100);
        }
        // The pty keeps its parser across clients: 36 bytes that cannot start a frame finish
        // any partial one.
        auto p = RawClient::device(sim->ptyPath());
        QVERIFY(p.send(junk.left(4000) + QByteArray(36, '\xff')));
        p.readUntilQuiet(100);
        sim->resetToFactory();
        QCOMPARE(p.transact(frame(cmd::GetCf), 6), QByteArray::fromHex("040004000400"));
        auto c = RawClient::tcp(sim->tcpPort());
        QCOMPARE(c.transact(frame(cmd::GetCf), 6), QByteArray::fromHex("040004000400"));
    }
};

QTEST_GUILESS_MAIN(TestCommands)
#include "test_commands.moc"
