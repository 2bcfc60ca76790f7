// The program quorvat-sensorsim as scripts and people use it.
#include "simclient.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>

using namespace simtest;

namespace {

// Reads stdout lines until one starts with `prefix`; returns the rest of that line.
QString waitForLine(QProcess &p, const QString &prefix) {
    while (p.canReadLine() || p.waitForReadyRead(10000))
        while (p.canReadLine()) {
            const auto line = QString::fromUtf8(p.readLine()).trimmed();
            if (line.startsWith(prefix))
                return line.mid(prefix.size());
        }
    return {};
}

} // namespace

class TestProgram : public QObject {
    Q_OBJECT

  private slots:
    // The help on standard output with status 0; else one line on standard error saying why,
    // and status 2 for a bad option (nothing on standard output), 1 for a failed start. A failed
    // start leaves a file in the link's place alone.
    void commandLine_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says");
        const QString bad = "see --help";
        QTest::newRow("help") << QStringList{"--help"} << 0 << "Examples";
        QTest::newRow("unknown") << QStringList{"--bogus"} << 2 << bad;
        QTest::newRow("missing value") << QStringList{"--port"} << 2 << bad;
        QTest::newRow("tcp form") << QStringList{"--tcp", ":80"} << 2 << bad;
        QTest::newRow("fault") << QStringList{"--fault", "late:ms=soon"} << 2 << bad;
        QTest::newRow("nothing to serve") << QStringList{"--no-tcp"} << 2 << bad;
        QTest::newRow("base") << QStringList{"--base", "1,2,70000"} << 2 << bad;
        QTest::newRow("gamma, a decimal comma") << QStringList{"--gamma", "0,5"} << 2 << bad;
        QTest::newRow("baud") << QStringList{"--baud", "1234"} << 2 << bad;
        QTest::newRow("flag with value") << QStringList{"--pace=yes"} << 2 << bad;
        QTest::newRow("port in use") << QStringList{"--port", "IN USE"} << 1 << "cannot listen on";
        QTest::newRow("not a serial device")
            << QStringList{"--no-tcp", "--serial", "/dev/null"} << 1 << "not a serial device";
        QTest::newRow("a file as the link")
            << QStringList{"--no-tcp", "--pty", "DIR/precious"} << 1 << "not a symlink";
        QTest::newRow("log") << QStringList{"--no-tcp", "--pty", "--log", "DIR/no/log"} << 1
                             << "log: cannot write";
    }
    void commandLine() {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, says);
        QTemporaryDir dir;
        QFile precious(dir.filePath("precious"));
        QVERIFY(precious.open(QIODevice::WriteOnly) && precious.write("keep me") == 7);
        precious.close();
        qvsim::Simulator other(quietOptions());
        QVERIFY(other.start());
        args.replaceInStrings("IN USE", QString::number(other.tcpPort()));
        args.replaceInStrings("DIR", dir.path());
        QProcess p;
        p.start(QVSIM_PROGRAM, args);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), status);
        const auto out = p.readAllStandardOutput(), err = p.readAllStandardError();
        QVERIFY2((status ? err : out).contains(says.toUtf8()), err.constData());
        QVERIFY(status == 0 || (err.count('\n') == 1 && err.startsWith("quorvat-sensorsim: ")));
        QVERIFY(status != 2 || out.isEmpty());
        QVERIFY(precious.open(QIODevice::ReadOnly));
        QCOMPARE(precious.readAll(), QByteArray("keep me"));
    }

    // The sensor's response as the command line sets it: twenty raw readings at a POWER, taken
    // as the program takes them. A clipped channel reads flat, noise or not.
    void response_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("power");
        QTest::addColumn<QString>("raw");
        // clang-format off
        QTest::newRow("proportion") << QStringList{} << 250 << "1000/1025/975";
        QTest::newRow("one channel saturated") << QStringList{"--saturate", "1000"} << 250 << "1000/1000/975";
        QTest::newRow("all saturated, noisy") << QStringList{"--saturate", "1000", "--noise", "50"} << 1000 << "1000/1000/1000";
        QTest::newRow("gamma 0.5") << QStringList{"--gamma", "0.5"} << 250 << "2000/2050/1950";
        QTest::newRow("gamma 2") << QStringList{"--gamma", "2"} << 300 << "360/369/351";
        QTest::newRow("ambient") << QStringList{"--ambient", "1200,0,30"} << 1 << "1204/4/33";
        // clang-format on
    }
    void response() {
        QFETCH(QStringList, options);
        QFETCH(int, power);
        QFETCH(QString, raw);
        QProcess p;
        p.start(QVSIM_PROGRAM, QStringList{"--port", "0", "--noise", "0"} + options);
        auto c = RawClient::tcp(waitForLine(p, "tcp: ").section(':', -1).toUShort());
        const QByteArray got = c.transact(
            frame(cmd::SetPara, {std::uint16_t(power)}) + frame(cmd::GetData).repeated(20), 640);
        p.kill();
        QCOMPARE(got.size(), 640);
        for (int at = 14; at < 640; at += 32) {
            auto w = [&](int i) { return qFromBigEndian<quint16>(got.constData() + at + 2 * i); };
            QCOMPARE(QString("%1/%2/%3").arg(w(0)).arg(w(1)).arg(w(2)), raw);
        }
        p.waitForFinished();
    }

    // TCP on a free port, a pty link and an existing serial device (a pty's slave; the test
    // holds the master), faults and the frame log from the command line; the link is gone after
    // SIGTERM or Ctrl+C, and the log complete.
    void linksFaultsLogAndSignals_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
    }
    void linksFaultsLogAndSignals() {
        QFETCH(int, signal);
        QTemporaryDir dir;
        const auto link = dir.filePath("sensor"), log = dir.filePath("frames.log");
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
        RawClient serial(master);
        QProcess p;
        p.start(QVSIM_PROGRAM, {"--tcp", "127.0.0.1:0", "--pty", link, "--serial",
                                ::ptsname(master), "--version-text", "UNIT 7", "--fault",
                                "noreply:cmd=GETCF,nth=1", "--log", log, "--factors", "1,2,3"});
        const auto port = waitForLine(p, "tcp: ").section(':', -1).toUShort();
        const auto line = waitForLine(p, "pty link: ");
        QVERIFY2(port != 0 && !line.isEmpty(), p.readAllStandardError().constData());
        QCOMPARE(line.section(" -> ", 0, 0), link);
        QCOMPARE(QFileInfo(link).symLinkTarget(), line.section(" -> ", 1));
        QCOMPARE(RawClient::device(link.toStdString()).transact(frame(cmd::GetVersion), 48),
                 QByteArray("UNIT 7").leftJustified(48, '\0'));
        auto c = RawClient::tcp(port);
        QVERIFY(c.send(frame(cmd::GetCf)));
        QVERIFY(c.read(6, 150).isEmpty());
        QCOMPARE(c.transact(frame(cmd::GetCf), 6), QByteArray::fromHex("000100020003"));
        QCOMPARE(c.transact(frame(cmd::SetCf, {0x1234, 0xabcd, 1}) + frame(cmd::GetCf), 6),
                 QByteArray::fromHex("1234abcd0001"));
        QCOMPARE(serial.transact(frame(cmd::GetCf), 6), QByteArray::fromHex("1234abcd0001"));
        ::kill(static_cast<pid_t>(p.processId()), signal);
        QVERIFY(p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(!QFileInfo(link).isSymLink());
        QFile f(log);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const auto lines = f.readAll().split('\n');
        QCOMPARE(lines.size(), 7); // six frames and the final newline
        QCOMPARE(lines[3], "00 55 00 08 12 34 ab cd 00 01" + QByteArray(" 00").repeated(26));
    }
};

QTEST_GUILESS_MAIN(TestProgram)
#include "test_program.moc"
