// Start-up and shut-down of the program: its start values, the history path, the button group,
// the close box, and the exit code when the resource file is missing or damaged.

// Ahead of app/state.h, whose `panel` a parameter of a template in it would shadow.
#include "combobox/combobox.h"

#include "app/startup.h"
#include "link/connectpanel.h"
#include "link/link.h"
#include "platform/testing.h"
#include "protocol/codec.h"
#include "shell/buttons.h"
#include "shell/controls.h"
#include "shell/state.h"
#include "tests/support/support.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <vector>

using namespace qv;

namespace {
int dimmed(int control) {
    int d = -1;
    rt::GetCtrlAttribute(panel, control, rt::ATTR_DIMMED, &d);
    return d;
}

// Runs the real program from a folder of its own holding `uir` as its resource file (none
// when empty); returns its exit code and standard error.
std::pair<int, QByteArray> runWithResource(const QByteArray &uir, bool writeUir = true) {
    QTemporaryDir dir;
    const QString exe = dir.filePath("quorvat");
    QFile::copy(QDir(QCoreApplication::applicationDirPath()).filePath("quorvat"), exe);
    if (writeUir) {
        QFile f(dir.filePath("QuorvatV60.uir"));
        f.open(QIODevice::WriteOnly);
        f.write(uir);
    }
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p.setProcessEnvironment(env);
    p.start(exe, {});
    if (!p.waitForFinished(10000)) {
        p.kill();
        return {-1000, "hung"};
    }
    return {p.exitCode(), p.readAllStandardError()};
}

QByteArray realResource() {
    QFile f(QDir(QCoreApplication::applicationDirPath()).filePath("QuorvatV60.uir"));
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}
} // namespace

class StartupTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() { qvtest::loadPanels(); }

    // The start values and the earlier start-up steps are in place when the first connection
    // attempt runs: a refused connect shows its box in the middle of that attempt.
    void startUpOrderAndValues() {
        qvtest::ScratchProject project;
        {
            QFile history(project.file("IPComboBoxQuorvatv60.ipa"));
            QVERIFY(history.open(QIODevice::WriteOnly));
            for (const char *address : {"10.1.1.1", "", "sensor.local"})
                history.write(QByteArray(address).leftJustified(100, '\0').append('\n'));
        }
        anzpara = anzframe = anzdata = qv::sync = order = target = comport = 7;
        poll = tcpcon = 1;
        rt::SetCtrlVal(interfacepanel, INTERFACEP_EDITCOMMUNICATIONPROTOCOL, 1);
        rt::SetCtrlVal(interfacepanel, INTERFACEP_STRINGPORTNUMBER, "1"); // nobody listens there
        int controlsBefore = 0;
        rt::GetPanelAttribute(panel, rt::ATTR_NUM_CTRLS, &controlsBefore);
        qvtest::PopupRecorder popups;
        std::vector<u16> atAttempt;
        int controlsAtAttempt = 0, comPortShown = -1, frameColour = -1, listShown = -1;
        QList<QByteArray> listAtAttempt;
        popups.onPopup = [&](const qvtest::Popup &) {
            // The address field is a combo box, grey-framed, its list loaded from the file.
            Combo_GetComboAttribute(interfacepanel, INTERFACEP_STRINGIPADRESS,
                                    COMBO_ATTR_FRAME_COLOR, &frameColour);
            void *record = nullptr;
            rt::GetCtrlAttribute(interfacepanel, INTERFACEP_STRINGIPADRESS, rt::ATTR_CALLBACK_DATA,
                                 &record);
            const int ring = record ? static_cast<ComboRec *>(record)->ringCtrl : 0;
            rt::GetCtrlAttribute(interfacepanel, ring, rt::ATTR_VISIBLE, &listShown);
            int count = 0;
            rt::GetNumListItems(interfacepanel, ring, &count);
            for (int i = 0; i < count; ++i) {
                char value[128] = "";
                rt::GetValueFromIndex(interfacepanel, ring, i, value);
                listAtAttempt << value;
            }
            atAttempt = {anzpara, anzframe, anzdata, qv::sync, order, target, comport, poll};
            rt::GetPanelAttribute(panel, rt::ATTR_NUM_CTRLS, &controlsAtAttempt);
            rt::GetCtrlAttribute(interfacepanel, INTERFACEP_EDITSELECTCOMPORT, rt::ATTR_VISIBLE,
                                 &comPortShown);
        };
        const QString before = QDir::currentPath();
        QDir::setCurrent(QDir::tempPath()); // the history path must not depend on it
        InitVars();
        QDir::setCurrent(before);
        QCOMPARE(popups.count(), std::size_t(1));
        QCOMPARE(QByteArray(popups.last().title.c_str()), QByteArray("TCP Client"));
        QCOMPARE(atAttempt, (std::vector<u16>{202, 16, 16, 85, 1, 1, 1, 0}));
        QCOMPARE(controlsAtAttempt, controlsBefore + 4); // the banner's four text lines
        QCOMPARE(comPortShown, 0);                       // laid out for TCP/IP
        QCOMPARE(listShown, 1);
        QCOMPARE(frameColour, 0xE0E0E0);
        QCOMPARE(listAtAttempt, (QList<QByteArray>{"10.1.1.1", "sensor.local"}));
        QCOMPARE(tcpcon, u16(0));
        QCOMPARE(QString::fromLocal8Bit(ipComboBoxFileName),
                 QDir::toNativeSeparators(project.file("IPComboBoxQuorvatv60.ipa")));
        QCOMPARE(QString::fromLocal8Bit(proj_dir), QDir::toNativeSeparators(project.path()));
        qvtest::loadPanels();
    }

    void buttonGroupDimsExactlyTheSixCommands() {
        const int group[] = {P_BUTTONSENDPOWER, P_BUTTONSENDCF, P_BUTTONGETCF,
                             P_BUTTONGO,        P_BUTTONCALCCF, P_BUTTONFINISHCALIB};
        SetButtonsDimmed(1);
        for (int c : group)
            QCOMPARE(dimmed(c), 1);
        QCOMPARE(dimmed(P_BUTTONSTOP), 0);
        QCOMPARE(dimmed(P_BUTTONCONNECT), 0);
        // Dimmed buttons take no clicks: no second command can start.
        int commits = 0;
        rt::InstallCtrlCallback(
            panel, P_BUTTONGO,
            [](int, int, int event, void *data, int, int) {
                if (event == rt::EVENT_COMMIT)
                    ++*static_cast<int *>(data);
                return 0;
            },
            &commits);
        qvtest::click(panel, P_BUTTONGO);
        qvtest::pump(30);
        QCOMPARE(commits, 0);
        SetButtonsDimmed(0);
        for (int c : group)
            QCOMPARE(dimmed(c), 0);
        qvtest::click(panel, P_BUTTONGO);
        QVERIFY(qvtest::waitFor([&] { return commits == 1; }));
        qvtest::loadPanels();
    }

    // The close box ends the event loop and stops a running GO loop; the window stays until
    // the program discards it.
    void closeBoxEndsTheEventLoop() {
        poll = 1;
        QTimer::singleShot(20, [] { rt::testing::PanelWidget(panel)->close(); });
        QCOMPARE(rt::RunUserInterface(), 0);
        QCOMPARE(poll, u16(0));
        QVERIFY(rt::testing::PanelWidget(panel)->isVisible());
    }

    // The serial link check pumps no events for its 2 s. What start-up has shown by then is on
    // the screen all that time: the panel with its banner, the command buttons dimmed, and why
    // the port did not open, which the check's "TIMEOUT" replaces only when it ends.
    void startUpIsOnScreenWhileTheSerialCheckWaits() {
        qvtest::ScratchProject project;
        qvtest::loadPanels();
        qputenv("QUORVAT_COM7", "/dev/quorvat-no-such-port");
        rt::SetCtrlVal(interfacepanel, INTERFACEP_EDITCOMMUNICATIONPROTOCOL, 0);
        rt::SetCtrlVal(interfacepanel, INTERFACEP_EDITSELECTCOMPORT, 7);
        QWidget *window = rt::testing::PanelWidget(panel);
        QImage screen;
        rt::testing::SetDrawHook([&] {
            if (screen.isNull()) // what the window system shows as the wait begins
                screen = window->screen()->grabWindow(window->winId()).toImage();
        });
        InitVars();
        rt::testing::SetDrawHook({});
        QVERIFY(!screen.isNull());
        QCOMPARE(QByteArray(szStatus), QByteArray("No serial port found"));
        const auto statusOn = [&](const QImage &image) {
            const QRect r = qvtest::widget(panel, P_DISPSTATUS)->geometry();
            return image.copy(r).convertToFormat(QImage::Format_RGB32);
        };
        // Against the panel drawn now, after the check: "TIMEOUT"; and showing the reason.
        const auto drawnWith = [&](const char *text) {
            rt::SetCtrlVal(panel, P_DISPSTATUS, text);
            rt::testing::FlushDisplays();
            return window->grab().toImage();
        };
        QVERIFY(statusOn(screen) != statusOn(drawnWith("TIMEOUT")));
        SetButtonsDimmed(1); // as during the check
        const QImage during = drawnWith("No serial port found");
        SetButtonsDimmed(0);
        QCOMPARE(statusOn(screen), statusOn(during));
        const QRect commands = qvtest::widget(panel, P_BUTTONSENDPOWER)
                                   ->geometry()
                                   .united(qvtest::widget(panel, P_BUTTONFINISHCALIB)->geometry());
        QCOMPARE(screen.copy(commands).convertToFormat(QImage::Format_RGB32),
                 during.copy(commands).convertToFormat(QImage::Format_RGB32));
        QCOMPARE(screen.pixelColor(4, 4), QColor(0x00, 0x80, 0xFF)); // the banner
        qunsetenv("QUORVAT_COM7");
        qvtest::loadPanels();
    }

    void damagedResourceEndsStartUpWithMinusOne() {
        QByteArray noConnectionPanel = realResource();
        noConnectionPanel.replace("\"resource\": 1", "\"resource\": 7");
        QByteArray unknownCallback = realResource();
        unknownCallback.replace("CBF_ButtonGo", "CBF_ButtonGone");
        const struct {
            const char *name;
            QByteArray uir;
            bool write;
            const char *says;
        } cases[] = {
            {"missing", {}, false, "QuorvatV60.uir"},
            {"not JSON", "{ panels: [", true, "not a resource file"},
            {"panel missing", noConnectionPanel, true, "no panel 1"},
            {"callback unknown", unknownCallback, true, "CBF_ButtonGone"},
        };
        for (const auto &c : cases) {
            const auto [code, err] = runWithResource(c.uir, c.write);
            QVERIFY2(code == 255, c.name); // -1 as the process's exit status
            QVERIFY2(err.contains("quorvat: cannot load panel"), c.name);
            QVERIFY2(err.contains(c.says), qPrintable(QString(c.name) + ": " + err));
        }
    }
};

QTEST_MAIN(StartupTest)
#include "test_startup.moc"
