// What the program exposes to the machine and to the data it is given: no listening socket,
// no file written but the address history and the calibration record, no outside text used as
// a format, no copy that can run past its buffer.
#include "app/startup.h"
#include "link/connectpanel.h"
#include "link/link.h"
#include "platform/testing.h"
#include "platform/utility.h"
#include "protocol/codec.h"
#include "protocol/commands.h"
#include "record/record.h"
#include "shell/controls.h"
#include "shell/state.h"
#include "tests/support/rig.h"
#include "tests/support/support.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <cstring>
#include <set>

#include <unistd.h>

using namespace qv;

namespace {

constexpr char kChildEnv[] = "QUORVAT_SURFACE_CHILD";
// Format directives in a sensor's version text and in a history entry: shown as they are.
constexpr char kFormatVersion[] = "%s%s%n%x%p %d%% V1";
constexpr char kFormatAddress[] = "%n%s%s.example.org";

QByteArray textOf(int panelHandle, int control) {
    char text[256] = "";
    rt::GetCtrlVal(panelHandle, control, text);
    return text;
}

// The child: the whole program, driven as an operator would: connect, type and commit an
// address, run GO, finish a calibration (which reads the factors), then close. It tells the
// parent when it is connected.
int runChild() {
    qvtest::initRunTime();
    static qvtest::PopupRecorder popups; // FINISH CALIBRATION's notice
    rt::SetProjectDirForTesting(qgetenv("QUORVAT_SURFACE_DIR").constData());
    qvtest::whenever(
        [] {
            return textOf(panel, P_DISPSTATUS) == kFormatVersion && qvtest::live(panel, P_BUTTONGO);
        },
        [] {
            QWidget *address = qvtest::widget(interfacepanel, INTERFACEP_STRINGIPADRESS);
            rt::DisplayPanel(interfacepanel); // as CONNECT shows it
            rt::SetActiveCtrl(interfacepanel, INTERFACEP_STRINGIPADRESS);
            rt::SetCtrlVal(interfacepanel, INTERFACEP_STRINGIPADRESS, "");
            QTest::keyClicks(address, kFormatAddress);
            QTest::keyClick(address, Qt::Key_Return);
            qvtest::click(panel, P_BUTTONGO);
            std::fputs("READY\n", stdout);
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

// Inodes of the sockets a process has open.
std::set<QString> socketInodes(qint64 pid) {
    std::set<QString> inodes;
    const QString dir = QString("/proc/%1/fd").arg(pid);
    for (const QString &fd : QDir(dir).entryList(QDir::System | QDir::NoDotAndDotDot)) {
        char target[256] = "";
        const ssize_t n =
            ::readlink(QDir(dir).filePath(fd).toLocal8Bit().constData(), target, sizeof target - 1);
        const QByteArray t(target, n > 0 ? int(n) : 0);
        if (t.startsWith("socket:["))
            inodes.insert(QString(t.mid(8, t.size() - 9)));
    }
    return inodes;
}

// The inodes of listening TCP sockets, bound UDP sockets and listening local sockets.
std::set<QString> listeningInodes() {
    std::set<QString> inodes;
    for (const char *table :
         {"/proc/net/tcp", "/proc/net/tcp6", "/proc/net/udp", "/proc/net/udp6"}) {
        QFile f(table);
        if (!f.open(QIODevice::ReadOnly))
            continue;
        f.readLine();
        const bool udp = QByteArray(table).contains("udp");
        while (!f.atEnd()) {
            const QList<QByteArray> cols = f.readLine().simplified().split(' ');
            if (cols.size() > 9 && (udp || cols[3] == "0A"))
                inodes.insert(QString(cols[9]));
        }
    }
    QFile unixTable("/proc/net/unix");
    if (unixTable.open(QIODevice::ReadOnly)) {
        unixTable.readLine();
        while (!unixTable.atEnd()) {
            const QList<QByteArray> cols = unixTable.readLine().simplified().split(' ');
            if (cols.size() > 6 && (cols[3].toUInt(nullptr, 16) & 0x10000)) // accepting
                inodes.insert(QString(cols[6]));
        }
    }
    return inodes;
}

} // namespace

class SurfaceTest : public QObject {
    Q_OBJECT
  private slots:
    void programListensNowhereAndWritesOnlyItsHistoryAndRecord() {
        qvtest::SensorRig rig(qvtest::quietSensor(kFormatVersion, false));
        QTemporaryDir project, home;
        for (const QString &f : QDir(QCoreApplication::applicationDirPath())
                                    .entryList({"*.uir", "*.png"}, QDir::Files))
            QFile::copy(QDir(QCoreApplication::applicationDirPath()).filePath(f),
                        project.filePath(f));
        qvtest::pointConnectionPanelAt(project.filePath(kResourceFile), true, rig.sim().tcpPort());
        const QString log = home.filePath("writes.log");

        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(kChildEnv, "1");
        env.insert("QUORVAT_SURFACE_DIR", project.path());
        env.insert("QUORVAT_WRITELOG", log);
        env.insert("LD_PRELOAD", QUORVAT_WRITELOG_LIB);
        env.insert("ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=0");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("HOME", home.path());
        env.insert("XDG_RUNTIME_DIR", home.path());
        env.insert("XDG_CACHE_HOME", home.filePath("cache"));
        env.insert("XDG_CONFIG_HOME", home.filePath("config"));
        env.insert("XDG_DATA_HOME", home.filePath("data"));
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(child.waitForStarted());
        QVERIFY2(child.waitForReadyRead(20000), child.readAllStandardError().constData());
        QVERIFY(child.readLine().startsWith("READY"));

        // Connected and running: every socket it holds is a client's.
        const std::set<QString> mine = socketInodes(child.processId()),
                                listening = listeningInodes();
        QVERIFY(!mine.empty());
        for (const QString &inode : mine)
            QVERIFY2(!listening.count(inode), qPrintable("listening socket " + inode));

        QVERIFY(child.waitForFinished(20000));
        QCOMPARE(child.exitCode(), 0);

        QFile f(log);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString history = QDir(project.path()).filePath("IPComboBoxQuorvatv60.ipa");
        const QString record = QDir(project.path()).filePath(kRecordFileName);
        QStringList others;
        int historyReplaced = 0, recordWrites = 0;
        for (const QByteArray &line : f.readAll().split('\n')) {
            if (line.isEmpty())
                continue;
            const QByteArray what = line.left(line.indexOf(' '));
            const QString path = QString::fromLocal8Bit(line.mid(line.indexOf(' ') + 1));
            // The history, its temporaries beside it (named after it, or unnamed in its folder
            // until linked under such a name), and the folder's writability probe.
            if ((what == "rename" || what == "link") && path == history)
                ++historyReplaced;
            else if (path == record)
                ++recordWrites;
            else if (path != history && !path.startsWith(history + ".") &&
                     !(what == "tmpfile" && path == project.path()))
                others << QString::fromLocal8Bit(line);
        }
        QVERIFY2(others.isEmpty(), qPrintable(others.join("\n")));
        QVERIFY(historyReplaced >= 1); // a whole new file put in its place
        QCOMPARE(recordWrites, 1);
        QFile recorded(record);
        QVERIFY(recorded.open(QIODevice::ReadOnly));
        const QByteArray recordLine = recorded.readAll().split('\n').value(1);
        QVERIFY2(recordLine.contains(QByteArray(",finish,") + kFormatVersion + ","),
                 recordLine.constData());
        QFile written(history);
        QVERIFY(written.open(QIODevice::ReadOnly));
        const QByteArray bytes = written.readAll();
        QVERIFY2(bytes.startsWith(kFormatAddress), bytes.left(100).constData());
    }

    void outsideTextIsNeverAFormat() {
        qvtest::loadPanels();
        qvtest::setStartupSizes();
        qvtest::SensorRig rig(qvtest::quietSensor(kFormatVersion, false));
        qvtest::PopupRecorder popups;
        rig.connect(qvtest::Link::Tcp);
        QCOMPARE(textOf(panel, P_DISPSTATUS), QByteArray(kFormatVersion));
        QCOMPARE(textOf(interfacepanel, INTERFACEP_STATUS), QByteArray(kFormatVersion));
        rig.sim().addFault(qvsim::Fault::noReply());
        GetCF();
        QCOMPARE(QByteArray(popups.last().title.c_str()), QByteArray(kFormatVersion));
    }

    // Texts longer than every buffer they pass through arrive cut, never overrunning: the
    // sanitizer build turns an overrun into a failure.
    void overlongTextsStayInTheirBuffers() {
        qvtest::loadPanels();
        const QByteArray longText(5000, 'a');
        for (int control : {INTERFACEP_STRINGIPADRESS, INTERFACEP_STRINGPORTNUMBER})
            rt::SetCtrlAttribute(interfacepanel, control, rt::ATTR_MAX_ENTRY_LENGTH, -1);
        rt::SetCtrlVal(interfacepanel, INTERFACEP_STRINGIPADRESS, longText.constData());
        rt::SetCtrlVal(interfacepanel, INTERFACEP_STRINGPORTNUMBER, longText.constData());
        rt::SetCtrlVal(interfacepanel, INTERFACEP_EDITCOMMUNICATIONPROTOCOL, 7); // no link
        qvtest::PopupRecorder popups;
        TryToConnect();
        QCOMPARE(std::strlen(ipBuf), sizeof ipBuf - 1);
        QCOMPARE(std::strlen(portNumStr), sizeof portNumStr - 1);
        rt::SetCtrlVal(panel, P_DISPSTATUS, longText.constData());
        char status[48];
        rt::GetCtrlVal(panel, P_DISPSTATUS, status);
        QCOMPARE(std::strlen(status), sizeof status - 1);
    }

    // The program's own sources copy text only through bounded calls.
    void noUnboundedCopyInTheSources() {
        const QDir root(QStringLiteral(QUORVAT_SOURCE_DIR));
        const QRegularExpression unbounded(
            "\\b(strcpy|strcat|sprintf|vsprintf|gets|wcscpy|wcscat|stpcpy)\\s*\\(");
        QStringList hits;
        for (const char *folder :
             {"app", "logo", "protocol", "calibration", "link", "combobox", "platform"}) {
            QDirIterator it(root.filePath(folder), {"*.cpp", "*.h"}, QDir::Files);
            while (it.hasNext()) {
                QFile f(it.next());
                QVERIFY(f.open(QIODevice::ReadOnly));
                int n = 0;
                for (const QByteArray &line : f.readAll().split('\n')) {
                    ++n;
                    if (unbounded.match(QString::fromUtf8(line)).hasMatch())
                        hits << QString("%1:%2").arg(it.filePath()).arg(n);
                }
            }
        }
        QVERIFY2(hits.isEmpty(), qPrintable(hits.join(", ")));
    }
};

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsSet(kChildEnv)) {
        QApplication app(argc, argv);
        return runChild();
    }
    QApplication app(argc, argv);
    SurfaceTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_surface.moc"
