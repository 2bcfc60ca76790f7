// What the program exposes to the machine and to the data it is given: no listening socket,
// no file written but the address history, the calibration record (and an earlier version's,
// renamed) and the settings file, no outside text used as a format or run past its buffer. (The
// sources' bounded copies: security_bounded_copies.)
#include "app/startup.h"
#include "link/commands.h"
#include "link/link.h"
#include "platform/testing.h"
#include "platform/utility.h"
#include "record/record.h"
#include "shell/controls.h"
#include "shell/state.h"
#include "tests/support/rig.h"
#include "tests/support/support.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <cstring>

#include <sys/socket.h>

using namespace qv;

namespace {

constexpr char kChildEnv[] = "QUORVAT_SURFACE_DIR"; // the child's program folder
// Format directives in a sensor's version text and in a history entry: shown as they are.
constexpr char kFormatVersion[] = "%s%s%n%x%p %d%% V1";
constexpr char kFormatAddress[] = "%n%s%s.example.org";

// The sockets this process holds, and how many listen (accept, or take network datagrams).
std::pair<int, int> sockets() {
    int all = 0, listening = 0;
    for (const QString &fd : QDir("/proc/self/fd").entryList(QDir::System | QDir::NoDotAndDotDot)) {
        int accepting = 0, type = 0, family = 0;
        socklen_t len = sizeof(int);
        if (getsockopt(fd.toInt(), SOL_SOCKET, SO_ACCEPTCONN, &accepting, &len) != 0)
            continue; // not a socket
        getsockopt(fd.toInt(), SOL_SOCKET, SO_TYPE, &type, &len);
        getsockopt(fd.toInt(), SOL_SOCKET, SO_DOMAIN, &family, &len);
        ++all;
        listening += accepting || (type == SOCK_DGRAM && (family == AF_INET || family == AF_INET6));
    }
    return {all, listening};
}

// The child: the whole program driven as an operator would: connect, commit an address, open the
// trend window, run GO, finish a calibration (answering yes to writing factors no CALCULATE
// made), close. Once running it tells the parent its
// sockets and listening ones.
int runChild() {
    qvtest::initRunTime();
    static qvtest::PopupRecorder popups; // FINISH CALIBRATION's question and notice
    rt::SetProjectDirForTesting(qgetenv(kChildEnv).constData());
    qvtest::whenever(
        [] {
            return qvtest::ctrlText(panel, P_DISPSTATUS) == kFormatVersion &&
                   qvtest::live(panel, P_BUTTONGO);
        },
        [] {
            rt::DisplayPanel(interfacepanel); // as CONNECT shows it
            rt::SetActiveCtrl(interfacepanel, INTERFACEP_STRINGIPADRESS);
            qvtest::typeInto(interfacepanel, INTERFACEP_STRINGIPADRESS, kFormatAddress);
            qvtest::click(panel, P_BUTTONTREND); // its place is kept at the end
            qvtest::click(panel, P_BUTTONGO);
            const auto [all, listening] = sockets();
            std::printf("READY %d %d\n", all, listening);
            std::fflush(stdout);
        });
    qvtest::whenever(
        [] { return dataRawR != 0; },
        [] {
            QTimer::singleShot(1500, [] {
                qvtest::click(panel, P_BUTTONSTOP);
                qvtest::whenever([] { return qvtest::live(panel, P_BUTTONFINISHCALIB); },
                                 [] { qvtest::click(panel, P_BUTTONFINISHCALIB); });
            });
            qvtest::whenever([] { return popups.count() > 0 && qvtest::live(panel, P_BUTTONGO); },
                             [] { rt::testing::PanelWidget(panel)->close(); });
        });
    static char name[] = "quorvat";
    char *argv[] = {name, nullptr};
    return WinMain(1, argv);
}

} // namespace

class SurfaceTest : public QObject {
    Q_OBJECT
  private slots:
    void programListensNowhereAndWritesOnlyItsHistoryRecordAndSettings() {
        qvtest::SensorRig rig(qvtest::quietSensor(kFormatVersion, false));
        qvtest::ScratchProject project;
        QTemporaryDir home;
        qvtest::pointConnectionPanelAt(project.file(kResourceFile), true, rig.sim().tcpPort());
        const QString record = project.file(kRecordFileName),
                      oldRecord = project.file("calibrations-since-2025-01-31.csv");
        const QByteArray oldLines = "time,event,sensor,link,set_value,max_delta,mean_r,mean_g,"
                                    "mean_b,mean_delta,cf_r,cf_g,cf_b,readback_r,readback_g,"
                                    "readback_b,result\r\n2025-01-31T10:00:00+01:00,finish,S,COM1,"
                                    ",,,,,,1024,1024,1024,1024,1024,1024,stored\r\n";
        QVERIFY(qvtest::writeFile(record, oldLines));
        const QString log = home.filePath("writes.log");

        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *xdg : {"XDG_CACHE_HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME"})
            env.remove(xdg); // so they lie under HOME
        env.insert(kChildEnv, project.path());
        env.insert("QUORVAT_WRITELOG", log);
        env.insert("LD_PRELOAD", QUORVAT_WRITELOG_LIB);
        env.insert("ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=0");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("HOME", home.path());
        env.insert("XDG_RUNTIME_DIR", home.path());
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY2(child.waitForReadyRead(20000), child.readAllStandardError().constData());
        // Connected and running: it holds sockets, none of them listening.
        const QString ready = QString::fromLocal8Bit(child.readLine()).trimmed();
        QVERIFY2(QRegularExpression("^READY [1-9]\\d* 0$").match(ready).hasMatch(),
                 qPrintable(ready));
        QVERIFY(child.waitForFinished(20000) && child.exitCode() == 0);

        const QString history = project.file(kHistoryFileName),
                      settings = project.file(kSettingsFileName);
        QStringList others;
        int historyReplaced = 0, recordWrites = 0, recordRenamed = 0, settingsReplaced = 0;
        for (const QByteArray &line : qvtest::fileBytes(log).trimmed().split('\n')) {
            const QByteArray what = line.left(line.indexOf(' '));
            const QString path = QString::fromLocal8Bit(line.mid(line.indexOf(' ') + 1));
            const bool replaced = what == "rename" || what == "link";
            // The history and the settings file, their temporaries beside them (named after
            // them, or unnamed in their folder until linked under such a name), the settings
            // file's lock ("<file>.lock"), and the folder's writability probe.
            if (replaced && path == history)
                ++historyReplaced;
            else if (replaced && path == settings)
                ++settingsReplaced;
            else if (path == record && !replaced)
                ++recordWrites;
            else if (what == "rename" && path == oldRecord)
                ++recordRenamed;
            else if (path != history && !path.startsWith(history + ".") && path != settings &&
                     !path.startsWith(settings + ".") &&
                     !(what == "tmpfile" && path == project.path()) &&
                     !path.endsWith(".gcda")) // a coverage build's counters
                others << QString::fromLocal8Bit(line);
        }
        QVERIFY2(others.isEmpty(), qPrintable(others.join("\n")));
        QVERIFY(historyReplaced >= 1); // a whole new file put in its place
        // The old record, as it was, put aside once; its line appended to a new one.
        QCOMPARE(recordWrites, 2);
        QCOMPARE(recordRenamed, 1);
        QCOMPARE(qvtest::fileBytes(oldRecord), oldLines);
        QVERIFY(settingsReplaced >= 1);
        QVERIFY(qvtest::fileBytes(settings).startsWith("[trend]\n"));
        // The record names the link in use, not an address typed but never tried.
        const QByteArray finish = QByteArray(",finish,,,,") + kFormatVersion +
                                  ",127.0.0.1:" + QByteArray::number(rig.sim().tcpPort()) + ",";
        QVERIFY(qvtest::fileBytes(record).startsWith(QByteArray(kRecordHeader) + "\r\n"));
        QVERIFY(qvtest::fileBytes(record).contains(finish));
        QVERIFY(qvtest::fileBytes(history).startsWith(kFormatAddress));
    }

    // A sensor's text goes to the connection panel's status (the main one's: the child waits for
    // it) and a time-out box's title as it is. Texts longer than every buffer they pass through
    // arrive cut, never overrunning: the sanitizer build turns an overrun into a failure.
    void outsideTextsAsTheyAreAndCut() {
        qvtest::FlowRig rig(qvtest::quietSensor(kFormatVersion, false));
        qvtest::PopupRecorder popups;
        rig.connect(qvtest::Link::Tcp);
        QCOMPARE(qvtest::ctrlText(interfacepanel, INTERFACEP_STATUS), QByteArray(kFormatVersion));
        rig.sim().addFault(qvsim::Fault::noReply());
        GetCF();
        QCOMPARE(QByteArray(popups.last().title.c_str()), QByteArray(kFormatVersion));

        const QByteArray longText(5000, 'a');
        for (int control : {INTERFACEP_STRINGIPADRESS, INTERFACEP_STRINGPORTNUMBER}) {
            rt::SetCtrlAttribute(interfacepanel, control, rt::ATTR_MAX_ENTRY_LENGTH, -1);
            rt::SetCtrlVal(interfacepanel, control, longText.constData());
        }
        rt::SetCtrlVal(interfacepanel, INTERFACEP_EDITCOMMUNICATIONPROTOCOL, 7); // no link
        TryToConnect();
        QCOMPARE(std::strlen(ipBuf), sizeof ipBuf - 1);
        QCOMPARE(std::strlen(portNumStr), sizeof portNumStr - 1);
        rt::SetCtrlVal(panel, P_DISPSTATUS, longText.constData());
        char status[48];
        rt::GetCtrlVal(panel, P_DISPSTATUS, status);
        QCOMPARE(std::strlen(status), sizeof status - 1);
    }
};

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsSet(kChildEnv))
        return runChild();
    SurfaceTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_surface.moc"
