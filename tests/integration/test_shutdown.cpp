// The whole program run in this process, start to exit, against the simulator: the close box
// ends a running GO loop after its turn, the link is closed and the exit code is 0.
#include "app/startup.h"
#include "link/link.h"
#include "platform/testing.h"
#include "protocol/codec.h"
#include "shell/controls.h"
#include "shell/state.h"
#include "tests/support/rig.h"
#include "tests/support/support.h"

#include <QTest>

using namespace qv;

namespace {

QByteArray status() {
    char text[64] = "";
    rt::GetCtrlVal(panel, P_DISPSTATUS, text);
    return text;
}

} // namespace

class ShutdownTest : public QObject {
    Q_OBJECT
    std::unique_ptr<qvtest::SensorRig> rig_;

    int runProgram() {
        static char name[] = "quorvat";
        char *argv[] = {name, nullptr};
        return WinMain(1, argv);
    }

  private slots:
    void initTestCase() {
        qvtest::initRunTime();
        rig_ = std::make_unique<qvtest::SensorRig>();
    }

    void closingDuringGoEndsTheLoopAndExits_data() {
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<bool>("running");
        QTest::newRow("tcp, GO running") << true << true;
        QTest::newRow("tcp, idle") << true << false;
        QTest::newRow("serial, GO running") << false << true;
    }
    void closingDuringGoEndsTheLoopAndExits() {
        QFETCH(bool, tcp);
        QFETCH(bool, running);
        qvtest::ScratchProject project;
        qvtest::pointConnectionPanelAt(project.file(kResourceFile), tcp, rig_->sim().tcpPort());
        qputenv("QUORVAT_COM1", QByteArray::fromStdString(rig_->sim().ptyPath()));
        qvtest::PopupRecorder popups;
        rig_->sim().clearFrames();
        const std::uint64_t readingsBefore = rig_->sim().readingsTaken();
        // The operator clicks GO once the check has ended and GO is live again.
        QByteArray checked;
        qvtest::whenever(
            [] {
                return qvtest::live(panel, P_BUTTONGO) &&
                       (status() == "QUORVAT SENSOR SIMULATOR V1.0" || status() == "TIMEOUT");
            },
            [running, &checked] {
                checked = status();
                if (checked == "TIMEOUT") // the check failed: no GO, and no reason to wait
                    rt::testing::PanelWidget(panel)->close();
                else if (running)
                    qvtest::click(panel, P_BUTTONGO);
            });
        qvtest::whenever(
            [&] { return !running || rig_->sim().readingsTaken() >= readingsBefore + 5; },
            [] { rt::testing::PanelWidget(panel)->close(); });
        QCOMPARE(runProgram(), 0);
        if (running)
            QCOMPARE(checked, QByteArray("QUORVAT SENSOR SIMULATOR V1.0"));
        QCOMPARE(comprotocol, u16(tcp ? 1 : 0));
        QCOMPARE(popups.count(), std::size_t(0));
        // The loop stopped after the turn in progress: no request was left unanswered.
        const std::uint64_t requests = rig_->framesOf(qvsim::command::GetData);
        QCOMPARE(rig_->sim().readingsTaken() - readingsBefore, requests);
        QVERIFY(running ? requests >= 5 : requests == 0);
        // The link is closed: the simulator sees its client go.
        if (tcp)
            QVERIFY(qvtest::waitFor([&] { return rig_->sim().tcpConnectionCount() == 0; }));
        else
            QVERIFY(qvtest::waitFor([&] { return rig_->sim().ptyClients() == 0; }));
        interfacepanel = 0;
    }
};

QTEST_MAIN(ShutdownTest)
#include "test_shutdown.moc"
