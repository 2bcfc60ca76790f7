// The program quorvat-sensorsim as scripts and people use it.
#include "simclient.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>

using namespace simtest;
namespace cmd = qvsim::command;

namespace {

const QString kProgram = QStringLiteral(QVSIM_PROGRAM);

// Reads stdout lines until one starts with `prefix`; returns the rest of that line.
QString waitForLine(QProcess &p, const QString &prefix, int timeoutMs = 10000) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs) {
        while (p.canReadLine()) {
            const auto line = QString::fromUtf8(p.readLine()).trimmed();
            if (line.startsWith(prefix))
                return line.mid(prefix.size());
        }
        if (!p.waitForReadyRead(100) && p.state() == QProcess::NotRunning)
            break;
    }
    return {};
}

// Ends the process with a signal; true if it then exited normally with status 0.
bool endsCleanly(QProcess &p, int sig) {
    ::kill(static_cast<pid_t>(p.processId()), sig);
    return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace

class TestProgram : public QObject {
    Q_OBJECT

  private slots:
    void help() {
        QProcess p;
        p.start(kProgram, {"--help"});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 0);
        const auto out = p.readAllStandardOutput();
        for (const char *option :
             {"--tcp",          "--port", "--no-tcp", "--pty",      "--serial", "--pace",  "--baud",
              "--version-text", "--base", "--noise",  "--factors",  "--seed",   "--fault", "--log",
              "--verbose",      "--help", "noreply",  "disconnect", "flood",    "Examples"})
            QVERIFY2(out.contains(option), option);
    }

    void badOptions_data() {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("unknown") << QStringList{"--bogus"};
        QTest::newRow("missing value") << QStringList{"--port"};
        QTest::newRow("port range") << QStringList{"--port", "70000"};
        QTest::newRow("tcp form") << QStringList{"--tcp", ":80"};
        QTest::newRow("fault") << QStringList{"--fault", "late:ms=soon"};
        QTest::newRow("nothing to serve") << QStringList{"--no-tcp"};
        QTest::newRow("base") << QStringList{"--base", "1,2"};
        QTest::newRow("baud") << QStringList{"--baud", "1234"};
        QTest::newRow("version text") << QStringList{"--version-text", QString(49, 'x')};
        QTest::newRow("flag with value") << QStringList{"--pace=yes"};
    }
    void badOptions() {
        QFETCH(QStringList, args);
        QProcess p;
        p.start(kProgram, args);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(p.readAllStandardOutput().isEmpty());
        const auto err = p.readAllStandardError();
        QCOMPARE(err.count('\n'), 1);
        QVERIFY(err.startsWith("quorvat-sensorsim: "));
    }

    void portInUse() {
        qvsim::Simulator other(quietOptions());
        QVERIFY(other.start());
        QProcess p;
        p.start(kProgram, {"--port", QString::number(other.tcpPort())});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 1);
        const auto err = p.readAllStandardError();
        QCOMPARE(err.count('\n'), 1);
        QVERIFY2(err.contains("in use"), err.constData());
    }

    // The link is there while it runs, answers, and is gone after SIGTERM.
    void ptyLinkAndSigterm() {
        QTemporaryDir dir;
        const auto link = dir.filePath("sensor");
        QProcess p;
        p.start(kProgram, {"--no-tcp", "--pty", link, "--version-text", "TRAINING UNIT 7"});
        const auto line = waitForLine(p, "pty link: ");
        QVERIFY2(!line.isEmpty(), p.readAllStandardError().constData());
        const auto target = line.section(" -> ", 1);
        QCOMPARE(line.section(" -> ", 0, 0), link);
        QCOMPARE(QFileInfo(link).symLinkTarget(), target);

        auto c = RawClient::device(link.toStdString());
        QCOMPARE(c.transact(frame(cmd::GetVersion), 48),
                 QByteArray("TRAINING UNIT 7").leftJustified(48, '\0'));
        c.close();
        QVERIFY(endsCleanly(p, SIGTERM));
        QVERIFY(!QFileInfo(link).isSymLink());
    }

    // TCP on a free port, faults and the frame log from the command line; Ctrl+C ends it.
    void tcpFaultsLogAndSigint() {
        QTemporaryDir dir;
        const auto log = dir.filePath("frames.log");
        QProcess p;
        p.start(kProgram, {"--tcp", "127.0.0.1:0", "--fault", "noreply:cmd=GETCF,nth=1", "--log",
                           log, "--factors", "1,2,3"});
        const auto where = waitForLine(p, "tcp: ");
        QVERIFY2(!where.isEmpty(), p.readAllStandardError().constData());
        const auto port = where.section(':', -1).toUShort();
        QVERIFY(port != 0);

        auto c = RawClient::tcp(port);
        QVERIFY(c.send(frame(cmd::GetCf)));
        QVERIFY(c.readUntilQuiet(150).isEmpty());
        QCOMPARE(c.transact(frame(cmd::GetCf), 6), QByteArray::fromHex("000100020003"));
        QVERIFY(endsCleanly(p, SIGINT));

        QFile f(log);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const auto lines = f.readAll().split('\n');
        QCOMPARE(lines.size(), 3); // two frames and the final newline
        QVERIFY(lines[0].startsWith("00 55 00 09 00 00"));
    }
};

QTEST_GUILESS_MAIN(TestProgram)
#include "test_program.moc"
