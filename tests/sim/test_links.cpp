// The links: many and overlapping TCP clients, a pty that outlives its clients or vanishes, an
// existing serial device, and clean start and stop.
#include "simclient.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>

using namespace simtest;
namespace cmd = qvsim::command;

namespace {

const QByteArray kFactoryCf = QByteArray::fromHex("040004000400");

std::string linkTarget(const std::string &link) {
    return QFileInfo(QString::fromStdString(link)).symLinkTarget().toStdString();
}

bool isSymlink(const std::string &path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

} // namespace

class TestLinks : public QObject {
    Q_OBJECT

  private slots:
    // All connections share one sensor; each is answered on its own.
    void overlappingConnections() {
        qvsim::Simulator sim(quietOptions());
        QVERIFY(sim.start());
        auto a = RawClient::tcp(sim.tcpPort());
        auto b = RawClient::tcp(sim.tcpPort());
        QVERIFY(a.send(frame(cmd::SetCf, {1, 2, 3})));
        QCOMPARE(b.transact(frame(cmd::GetCf), 6), QByteArray::fromHex("000100020003"));
        QCOMPARE(a.transact(frame(cmd::GetCf), 6), QByteArray::fromHex("000100020003"));
        QCOMPARE(sim.tcpConnectionCount(), std::size_t(2));
        QVERIFY(a.readUntilQuiet(50).isEmpty()); // b's reply did not go to a
    }

    void connectionsOneAfterAnother() {
        qvsim::Simulator sim(quietOptions());
        QVERIFY(sim.start());
        for (int i = 0; i < 40; ++i) {
            auto c = RawClient::tcp(sim.tcpPort());
            QCOMPARE(c.transact(frame(cmd::GetCf), 6), kFactoryCf);
        }
        QCOMPARE(sim.counters().connectionsAccepted, std::uint64_t(40));
    }

    // A client that stops sending still gets its answers, then the connection ends.
    void halfClosedClientIsAnswered() {
        qvsim::Simulator sim(quietOptions());
        QVERIFY(sim.start());
        auto c = RawClient::tcp(sim.tcpPort());
        QVERIFY(c.send(frame(cmd::GetCf)));
        ::shutdown(c.fd(), SHUT_WR);
        QByteArray got;
        QVERIFY(c.waitClosed(3000, &got));
        QCOMPARE(got, kFactoryCf);
    }

    void dropAndRefuse() {
        qvsim::Simulator sim(quietOptions());
        QVERIFY(sim.start());
        auto c = RawClient::tcp(sim.tcpPort());
        QCOMPARE(c.transact(frame(cmd::GetCf), 6), kFactoryCf);
        sim.dropTcpConnections();
        QCOMPARE(sim.tcpConnectionCount(), std::size_t(0));
        QVERIFY(c.waitClosed(3000));

        // Past the limit a client is closed at once instead of piling up.
        std::vector<RawClient> many;
        for (int i = 0; i < 64; ++i)
            many.push_back(RawClient::tcp(sim.tcpPort()));
        QCOMPARE(many.back().transact(frame(cmd::GetCf), 6), kFactoryCf);
        auto extra = RawClient::tcp(sim.tcpPort());
        QVERIFY(extra.waitClosed(3000));
        many.clear();
        QTRY_COMPARE_WITH_TIMEOUT(sim.tcpConnectionCount(), std::size_t(0), 5000);
        auto again = RawClient::tcp(sim.tcpPort());
        QCOMPARE(again.transact(frame(cmd::GetCf), 6), kFactoryCf);
    }

    // The slave stays usable, and raw, while clients close and reopen it.
    void ptyOutlivesItsClients() {
        auto o = quietOptions();
        o.tcp = false;
        o.pty = true;
        qvsim::Simulator sim(o);
        QVERIFY(sim.start());
        for (int i = 0; i < 3; ++i) {
            auto c = RawClient::device(sim.ptyPath());
            QVERIFY(c.isOpen());
            termios t{};
            QVERIFY(::tcgetattr(c.fd(), &t) == 0);
            QVERIFY(!(t.c_lflag & (ECHO | ICANON)));
            QCOMPARE(c.transact(frame(cmd::GetCf), 6), kFactoryCf);
        }
    }

    // Without a client the line loses what is sent, so nothing stale greets the next one.
    void ptyForgetsWhatNobodyRead() {
        auto o = quietOptions();
        o.tcp = false;
        o.pty = true;
        qvsim::Simulator sim(o);
        QVERIFY(sim.start());
        sim.sendUnasked({1, 2, 3});
        QTRY_VERIFY(sim.counters().bytesDiscarded >= 3);
        auto c = RawClient::device(sim.ptyPath());
        QVERIFY(c.readUntilQuiet(100).isEmpty());

        // This client leaves with a reply unread and half a frame sent; its last complete
        // request still counts.
        QVERIFY(c.send(frame(cmd::GetCf)));
        QVERIFY(c.send(frame(cmd::SetCf, {7, 8, 9}) + frame(cmd::GetVersion).left(10)));
        QVERIFY(sim.waitForFrames(2, 3s));
        QCOMPARE(sim.ptyClients(), 1);
        c.close();
        QTRY_COMPARE(sim.ptyClients(), 0);
        auto d = RawClient::device(sim.ptyPath());
        QCOMPARE(d.transact(frame(cmd::GetCf), 6), QByteArray::fromHex("000700080009"));
        QVERIFY(d.readUntilQuiet(100).isEmpty());

        // A late reply was for the client that asked, not for the one after it.
        sim.addFault(qvsim::Fault::late(200).forCommand(cmd::GetCf));
        QVERIFY(d.send(frame(cmd::GetCf)));
        QVERIFY(sim.waitForFrames(4, 3s));
        d.close();
        QTRY_COMPARE(sim.ptyClients(), 0);
        auto e = RawClient::device(sim.ptyPath());
        QVERIFY(e.readUntilQuiet(400).isEmpty());
    }

    // The device vanishes (master closed, link removed) and comes back under a new path.
    void ptyVanishesAndReturns() {
        QTemporaryDir dir;
        auto o = quietOptions();
        o.tcp = false;
        o.pty = true;
        o.ptyLink = dir.filePath("sensor").toStdString();
        std::vector<std::string> status;
        std::mutex statusM;
        o.onStatus = [&](const std::string &line) {
            std::lock_guard lock(statusM);
            status.push_back(line);
        };
        qvsim::Simulator sim(o);
        QVERIFY(sim.start());
        const auto first = sim.ptyPath();
        QCOMPARE(linkTarget(o.ptyLink), first);
        {
            std::lock_guard lock(statusM);
            QCOMPARE(status, (std::vector<std::string>{"pty: " + first,
                                                       "pty link: " + o.ptyLink + " -> " + first}));
        }

        auto c = RawClient::device(o.ptyLink);
        QCOMPARE(c.transact(frame(cmd::GetCf), 6), kFactoryCf);
        sim.closePty();
        QVERIFY(c.waitClosed(3000));
        QVERIFY(sim.ptyPath().empty());
        QVERIFY(!isSymlink(o.ptyLink));

        std::string error;
        QVERIFY2(sim.reopenPty(&error), error.c_str());
        QVERIFY(!sim.ptyPath().empty());
        QCOMPARE(linkTarget(o.ptyLink), sim.ptyPath());
        auto d = RawClient::device(o.ptyLink);
        QCOMPARE(d.transact(frame(cmd::GetCf), 6), kFactoryCf);

        sim.stop();
        QVERIFY(!isSymlink(o.ptyLink));
        QVERIFY(sim.ptyPath().empty());
    }

    void ptyLinkNeverReplacesAFile() {
        QTemporaryDir dir;
        const auto path = dir.filePath("precious");
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("keep me");
        }
        auto o = quietOptions();
        o.pty = true;
        o.ptyLink = path.toStdString();
        qvsim::Simulator sim(o);
        std::string error;
        QVERIFY(!sim.start(&error));
        QVERIFY2(error.find("not a symlink") != std::string::npos, error.c_str());
        QVERIFY(!sim.isRunning());
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("keep me"));
    }

    // An existing serial device; a pty's slave stands in for it, the test holds the master.
    void serialDevice() {
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        QVERIFY(master >= 0);
        QVERIFY(::grantpt(master) == 0 && ::unlockpt(master) == 0);
        auto o = quietOptions();
        o.tcp = false;
        o.serialDevice = ::ptsname(master);
        qvsim::Simulator sim(o);
        std::string error;
        QVERIFY2(sim.start(&error), error.c_str());
        RawClient line(master);
        QCOMPARE(line.transact(frame(cmd::GetCf), 6), kFactoryCf);
        QCOMPARE(line.transact(frame(cmd::GetVersion), 48).left(7), QByteArray("QUORVAT"));
    }

    void startErrors() {
        qvsim::Simulator first(quietOptions());
        QVERIFY(first.start());
        auto o = quietOptions();
        o.port = first.tcpPort();
        qvsim::Simulator second(o);
        std::string error;
        QVERIFY(!second.start(&error));
        QVERIFY2(error.find("in use") != std::string::npos, error.c_str());

        o = quietOptions();
        o.tcp = false;
        o.serialDevice = "/dev/null";
        qvsim::Simulator notSerial(o);
        QVERIFY(!notSerial.start(&error));
        QVERIFY2(error.find("not a serial device") != std::string::npos, error.c_str());

        o = quietOptions();
        o.version = std::string(49, 'x');
        qvsim::Simulator longVersion(o);
        QVERIFY(!longVersion.start(&error));
    }

    // State survives a restart; links and threads do not leak across it.
    void stopAndStartAgain() {
        qvsim::Simulator sim(quietOptions());
        QVERIFY(sim.start());
        auto c = RawClient::tcp(sim.tcpPort());
        QVERIFY(c.send(frame(cmd::SetCf, {5, 6, 7})));
        QVERIFY(sim.waitForFrames(1, 3s));
        sim.stop();
        QVERIFY(c.waitClosed(3000));
        QCOMPARE(sim.tcpPort(), std::uint16_t(0));
        sim.stop();
        QVERIFY(sim.start());
        auto d = RawClient::tcp(sim.tcpPort());
        QCOMPARE(d.transact(frame(cmd::GetCf), 6), QByteArray::fromHex("000500060007"));
        QVERIFY(!sim.waitForFrames(10, 10ms));
    }
};

QTEST_GUILESS_MAIN(TestLinks)
#include "test_links.moc"
