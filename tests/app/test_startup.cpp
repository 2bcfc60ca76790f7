// Start-up and the panels it loads, up to the first connection attempt, and the exit code when
// the resource file is missing or damaged.

#include "app/handlers.h"
#include "app/startup.h"
#include "app/station.h"
#include "calibration/calibration.h"
#include "link/connectpanel.h"
#include "logo/logo.h"
#include "platform/settings.h"
#include "platform/testing.h"
#include "platform/utility.h"
#include "shell/buttons.h"
#include "shell/controls.h"
#include "shell/refresh.h"
#include "shell/result.h"
#include "shell/state.h"
#include "tests/support/rig.h"
#include "tests/support/support.h"
#include "trend/trend.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

using namespace qv;
using qvtest::addressList;
using qvtest::fileBytes;

namespace {

// The help text each handler shows, by the handler's name without its CBF_.
// clang-format off
const QHash<QString, const char *> kHelp = {
    {"ButtonSendPower", InfoButtonSendPower}, {"ButtonSendCF", InfoButtonSendCF},
    {"ButtonGetCF", InfoButtonGetCF}, {"ButtonGo", InfoButtonGo}, {"ButtonStop", InfoButtonStop},
    {"ButtonCalcCF", InfoButtonCalcCF}, {"ButtonFinishCalib", InfoButtonFinishCalib},
    {"EditPower", InfoEditPower}, {"EditCFR", InfoEditCF}, {"EditCFG", InfoEditCF},
    {"EditCFB", InfoEditCF}, {"EditSetValue", InfoEditSetValue}, {"EditMaxDelta", InfoEditMaxDelta},
    {"DispBarsRAW", InfoDispBarsRAW}, {"DispBars", InfoDispBars}, {"DispStatus", InfoStatus},
    {"ButtonConnect", InfoButtonConnect}, {"ButtonTrend", InfoButtonTrend},
    {"ButtonPause", InfoButtonPause}, {"ButtonSaveCsv", InfoButtonSaveCsv},
    {"ButtonFit", InfoButtonFit},
    {"EditCommunicationProtocol", InfoEditCommunicationProtocol},
    {"EditSelectComPort", InfoEditConnect}, {"ComPortDevice", InfoComPortDevice},
    {"StringIpAdress", InfoStringIpAdress}, {"StringPortNumber", InfoStringPortNumber},
    {"ButtonTryToConnect", InfoButtonTryToConnect}, {"ButtonAccept", InfoButtonAccept},
    {"ButtonDiscard", InfoButtonDiscard}, {"ButtonAutoPower", InfoButtonAutoPower},
    {"ButtonCalibrate", InfoButtonCalibrate}, {"StringOperator", InfoStringOperator},
    {"StringSerial", InfoStringSerial}, {"StringReference", InfoStringReference},
    {"DispResult", InfoDispResult}};
// clang-format on

QJsonArray controlsOf(int resource) {
    const QByteArray file =
        qvtest::fileBytes(QDir(QCoreApplication::applicationDirPath()).filePath(kResourceFile));
    for (const QJsonValue v : QJsonDocument::fromJson(file).object()["panels"].toArray())
        if (v.toObject()["resource"].toInt() == resource)
            return v.toObject()["controls"].toArray();
    return {};
}

// Runs the real program from a folder of its own holding `uir` as its resource file (none
// when null); returns its exit code and standard error.
std::pair<int, QByteArray> runWithResource(const QByteArray &uir) {
    QTemporaryDir dir;
    const QString exe = dir.filePath("quorvat");
    QFile::copy(QDir(QCoreApplication::applicationDirPath()).filePath("quorvat"), exe);
    if (!uir.isNull())
        qvtest::writeFile(dir.filePath(kResourceFile), uir);
    QProcess p;
    p.start(exe, {});
    p.waitForFinished(-1); // no limit of its own: ctest ends a hang
    return {p.exitCode(), p.readAllStandardError()};
}

} // namespace

class AppTest : public QObject {
    Q_OBJECT
    std::unique_ptr<qvtest::SensorRig> rig_;
    QTemporaryDir home_;

    // Start-up with the program's folder taken to be `programDir` and the data folders under
    // `dataHome`, the panel pointing at the simulator; returns what it wrote to standard error.
    QByteArray startUpIn(const QString &programDir, const QString &dataHome) {
        qvtest::loadPanels();
        rt::DisplayPanel(panel);
        qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome));
        rt::SetProjectDirForTesting(QFile::encodeName(programDir).constData());
        rig_->select(qvtest::Link::Tcp);
        qvtest::PopupRecorder popups;
        qvtest::StderrCapture err;
        const QString before = QDir::currentPath();
        QDir::setCurrent(QDir::tempPath()); // the history's place must not depend on it
        InitVars();
        QDir::setCurrent(before);
        rt::SetProjectDirForTesting(nullptr);
        return err.text();
    }

  private slots:
    void initTestCase() { rig_ = std::make_unique<qvtest::SensorRig>(); }
    void init() { qvtest::loadPanels(); }

    // A right click on a control with a handler shows its help in an "INFO!" box and does nothing
    // else; other controls, and a left click on an edit box, show nothing. The address field, a
    // combo box as after start-up, reaches its handler once.
    void rightClickShowsTheHelp() {
        InitIpAdressComboBox();
        rt::DisplayPanel(interfacepanel);
        rt::DisplayPanel(trendpanel);
        // Dimmed and hidden controls take no clicks: ACCEPT starts dimmed, the device line hidden.
        rt::SetCtrlAttribute(interfacepanel, INTERFACEP_BUTTONACCEPT, rt::ATTR_DIMMED, 0);
        rt::SetCtrlAttribute(interfacepanel, INTERFACEP_COMPORTDEVICE, rt::ATTR_VISIBLE, 1);
        for (auto [resource, handle] :
             {std::pair{2, panel}, {1, interfacepanel}, {kTrendPanel, trendpanel}})
            for (const QJsonValue v : controlsOf(resource)) {
                const QJsonObject c = v.toObject();
                const bool handled = !c["callback"].toString().isEmpty();
                qvtest::PopupRecorder popups;
                qvtest::rightClick(handle, c["id"].toInt());
                qvtest::waitFor([&] { return popups.count() > 0; }, handled ? 2000 : 20);
                qvtest::pump(20);
                QVERIFY2(popups.count() == std::size_t(handled), qPrintable(c["name"].toString()));
                if (!handled)
                    continue;
                QCOMPARE(popups.last().kind, rt::PopupKind::Message);
                QCOMPARE(QByteArray(popups.last().title.c_str()), QByteArray("INFO!"));
                QCOMPARE(popups.last().text.c_str(),
                         kHelp.value(c["callback"].toString().mid(4), "(no help text)"));
            }
        qvtest::PopupRecorder popups;
        qvtest::click(panel, P_EDITPOWER);
        qvtest::pump(50);
        QCOMPARE(popups.count(), std::size_t(0));
    }

    // Every control inside its panel, and no two input controls or captions on top of each
    // other: a layout slip shows up here before anyone looks at a picture.
    void layoutIsClean() {
        ShowLogo(5);
        for (int handle : {panel, interfacepanel, trendpanel}) {
            QWidget *window = rt::testing::PanelWidget(handle);
            QList<QWidget *> solid;
            for (QWidget *w : window->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
                if (!w->isVisibleTo(window))
                    continue;
                QVERIFY2(window->rect().contains(w->geometry()), w->metaObject()->className());
                const int style =
                    qvtest::attr(handle, w->property("qv_ctrl").toInt(), rt::ATTR_CTRL_STYLE);
                if (style == rt::CTRL_DECORATION || style == rt::CTRL_TEXT_MSG ||
                    style == rt::CTRL_PICTURE)
                    continue;
                for (const QWidget *other : solid)
                    QVERIFY2(!other->geometry().intersects(w->geometry()),
                             qPrintable(QString("overlap at %1,%2").arg(w->x()).arg(w->y())));
                solid << w;
            }
        }
        QVERIFY(qvtest::grabPanel(panel, qvtest::picture("main-panel.png")));
    }

    // A decoded reading reaches the fourteen indicators, values beyond the bars' scale shown
    // unscaled; each spread is the largest minus the smallest channel.
    void readingsReachTheIndicators() {
        u16 *const values[6] = {&dataR, &dataG, &dataB, &dataRawR, &dataRawG, &dataRawB};
        const int shows[6][2] = {{P_DATAR_A, P_DATAR_B},       {P_DATAG_A, P_DATAG_B},
                                 {P_DATAB_A, P_DATAB_B},       {P_DATARAWR_A, P_DATARAWR_B},
                                 {P_DATARAWG_A, P_DATARAWG_B}, {P_DATARAWB_A, P_DATARAWB_B}};
        const struct {
            u16 v[6], spreadCal, spreadRaw; // v: calibrated, then raw
        } rows[] = {
            {{1001, 1002, 1003, 2001, 2002, 2503}, 2, 502},
            {{100, 200, 150, 1000, 1000, 1000}, 100, 0}, // middle value last; all equal
            {{65535, 0, 0, 0, 0, 65535}, 65535, 65535},  // full range, red the largest
        };
        for (const auto &r : rows) {
            for (int i = 0; i < 6; ++i)
                *values[i] = r.v[i];
            SetPanelData();
            for (int i = 0; i < 6; ++i)
                for (int control : shows[i])
                    QCOMPARE(qvtest::boxValue(control), r.v[i]);
            QCOMPARE(qvtest::boxValue(P_DELTACALIB), r.spreadCal);
            QCOMPARE(qvtest::boxValue(P_DELTARAW), r.spreadRaw);
        }
    }

    // The raw window for SET VALUE, edge by edge: each end is the last mean that the
    // calibration's own range test passes, and one beyond it fails.
    void targetWindowIsWhereTheCalibrationPasses() {
        const struct {
            u16 setValue;
            long low, high;
        } rows[] = {{1000, 788, 1365}, {1300, 1024, 1774}, {750, 591, 1024},
                    {1, 1, 1},         {0, 1, 0},          {65535, 51582, 89477}};
        rt::SetCtrlVal(panel, P_EDITMAXDELTA, 65535);
        qvtest::PopupRecorder popups;
        for (const auto &r : rows) {
            const RawWindow w = TargetWindow(r.setValue);
            QCOMPARE(QList<long>({w.low, w.high}), QList<long>({r.low, r.high}));
            rt::SetCtrlVal(panel, P_EDITSETVALUE, r.setValue);
            for (long mean : {r.low - 1, r.low, r.high, r.high + 1}) {
                if (mean < 1 || mean > 65535)
                    continue;
                meanR = meanG = meanB = static_cast<u16>(mean);
                meanD = 0;
                SetCF();
                QVERIFY2((calcOutcome == CalcOutcome::Passed) == (mean >= r.low && mean <= r.high),
                         qPrintable(QString("SET VALUE %1, mean %2").arg(r.setValue).arg(mean)));
            }
        }
    }

    // The window on the raw bars and the colour of each raw number follow SET VALUE as the
    // operator enters it, at the window's edges too; without a reading the numbers are black.
    void rawNumbersShowTheirPlaceInTheWindow() {
        ShowTargetWindow();
        const auto colours = [] {
            QList<int> c;
            for (int control : {P_DATARAWR_A, P_DATARAWG_A, P_DATARAWB_A})
                c << qvtest::attr(panel, control, rt::ATTR_TEXT_COLOR);
            return c;
        };
        const auto marks = [] {
            QList<int> m;
            for (int bar : {P_DATARAWR_B, P_DATARAWG_B, P_DATARAWB_B})
                m << qvtest::attr(panel, bar, rt::ATTR_BAR_MARK_LOW)
                  << qvtest::attr(panel, bar, rt::ATTR_BAR_MARK_HIGH);
            return m;
        };
        const int none = 0x000000, good = kColorGood, bad = kColorBad;
        QCOMPARE(colours(), QList<int>({none, none, none}));
        QCOMPARE(marks(), QList<int>({788, 1365, 788, 1365, 788, 1365}));
        dataRawR = 787, dataRawG = 788, dataRawB = 1365;
        SetPanelData();
        QCOMPARE(colours(), QList<int>({bad, good, good}));
        dataRawB = 1366;
        SetPanelData();
        QCOMPARE(colours(), QList<int>({bad, good, bad}));
        qvtest::typeInto(panel, P_EDITSETVALUE, "1300");
        QVERIFY(qvtest::waitFor([&] { return marks().first() == 1024; }));
        QCOMPARE(marks(), QList<int>({1024, 1774, 1024, 1774, 1024, 1774}));
        QCOMPARE(colours(), QList<int>({bad, bad, good}));
        ClearPanelData();
        QCOMPARE(colours(), QList<int>({none, none, none}));
        QVERIFY(qvtest::grabPanel(panel, qvtest::picture("main-panel-window.png")));
    }

    // PASS large and green; FAIL and its reason in red, a long reason wrapped within the display.
    void resultShowsPassOrFail() {
        const auto *result = qobject_cast<QLabel *>(qvtest::widget(panel, P_DISPRESULT));
        const auto fits = [&] { // the text as the display draws it, within its frame and margin
            rt::testing::FlushDisplays();
            const int m = result->margin();
            const QRect room = result->contentsRect().adjusted(m, m, -m, -m);
            const QRect need = result->fontMetrics().boundingRect(
                room, result->wordWrap() ? Qt::TextWordWrap : 0, result->text());
            return need.width() <= room.width() && need.height() <= room.height();
        };
        ShowResult(true, nullptr);
        QCOMPARE(qvtest::shownText(panel, P_DISPRESULT), QString("PASS"));
        QCOMPARE(qvtest::attr(panel, P_DISPRESULT, rt::ATTR_TEXT_COLOR), kColorGood);
        QVERIFY(fits() && qvtest::grabPanel(panel, qvtest::picture("result-pass.png")));
        const QByteArray reason = "POWER SPREAD 150 > MAX DELTA 100";
        ShowResult(false, reason + ", CALCULATE RANGE: CF BLUE 1412 > 1300");
        QVERIFY(fits() && qvtest::grabPanel(panel, qvtest::picture("result-fail-long.png")));
        ShowResult(false, reason);
        QCOMPARE(qvtest::shownText(panel, P_DISPRESULT), QString("FAIL: " + reason));
        QCOMPARE(qvtest::attr(panel, P_DISPRESULT, rt::ATTR_TEXT_COLOR), kColorBad);
        QVERIFY(fits() && qvtest::grabPanel(panel, qvtest::picture("result-fail.png")));
        ClearResult();
        QCOMPARE(qvtest::shownText(panel, P_DISPRESULT), QString());
    }

    // OPERATOR and WHITE REFERENCE come back at the next start, as typed, from the settings
    // file's [station] group. SENSOR SERIAL is not kept, and has the focus after the first
    // connection attempt: a scan lands there, and its Enter runs CALIBRATE SENSOR with the serial
    // read first. Leaving the field, or Enter while the buttons are dimmed, runs nothing.
    void stationFieldsKeptAndTheFirstScanStartsTheRun() {
        static QByteArrayList ran;
        const auto pressButton = calibrateFromSerial;
        calibrateFromSerial = [] { ran << sensorSerial; };
        QTemporaryDir program;
        const QString data = home_.filePath("data");
        startUpIn(program.path(), data);
        const QByteArray who = "Jo \"JK\" Ko, =1", tile = "WT-0042";
        qvtest::typeInto(panel, P_STRINGOPERATOR, who);
        qvtest::typeInto(panel, P_STRINGREFERENCE, tile);
        QVERIFY(qvtest::waitFor([&] { return whiteReference == tile; }));
        QVERIFY(qvtest::fileBytes(program.filePath(kSettingsFileName)).contains("[station]\n"));
        operatorName[0] = whiteReference[0] = '\0';
        startUpIn(program.path(), data);
        QCOMPARE(QByteArrayList({operatorName, whiteReference}), QByteArrayList({who, tile}));
        QCOMPARE(qvtest::ctrlText(panel, P_STRINGOPERATOR), who);
        QCOMPARE(rt::GetActiveCtrl(panel), P_STRINGSERIAL);
        QVERIFY(QTest::qWaitForWindowActive(rt::testing::PanelWidget(panel)));
        const auto scan = [](const char *keys, Qt::Key end) {
            QTest::keyClicks(QApplication::focusWidget(), keys);
            QTest::keyClick(QApplication::focusWidget(), end);
            qvtest::pump(50);
        };
        scan("SN-0001", Qt::Key_Return);
        QCOMPARE(ran, QByteArrayList({"SN-0001"}));
        scan("2", Qt::Key_Tab);
        QCOMPARE(QByteArray(sensorSerial), QByteArray("SN-00012"));
        SetButtonsDimmed(1);
        rt::SetActiveCtrl(panel, P_STRINGSERIAL);
        scan("3", Qt::Key_Return);
        SetButtonsDimmed(0);
        QCOMPARE(ran, QByteArrayList({"SN-0001"}));
        QCOMPARE(QByteArray(sensorSerial), QByteArray("SN-000123"));
        calibrateFromSerial = pressButton;
        rt::SettingsClose();
        qunsetenv("XDG_DATA_HOME");
    }

    // The start values and the earlier start-up steps are in place when the first connection
    // attempt runs: a refused connect shows its box in the middle of that attempt.
    void startUpOrderAndValues() {
        qvtest::ScratchProject project;
        const QByteArray history = qvtest::historyRecords({"10.1.1.1", "", "sensor.local"});
        QVERIFY(qvtest::writeFile(project.file(kHistoryFileName), history));
        anzpara = anzframe = anzdata = qv::sync = order = target = comport = 7;
        poll = tcpcon = 1;
        rt::SetCtrlVal(interfacepanel, INTERFACEP_EDITCOMMUNICATIONPROTOCOL, 1);
        rt::SetCtrlVal(interfacepanel, INTERFACEP_STRINGPORTNUMBER, "1"); // nobody listens there
        int controlsBefore = 0;
        rt::GetPanelAttribute(panel, rt::ATTR_NUM_CTRLS, &controlsBefore);
        qvtest::PopupRecorder popups;
        std::vector<u16> atAttempt;
        int controlsAtAttempt = 0, comPortShown = -1;
        QByteArrayList listAtAttempt;
        popups.onPopup = [&](const qvtest::Popup &) {
            listAtAttempt = addressList(); // the combo box's, loaded from the file
            atAttempt = {anzpara, anzframe, anzdata, qv::sync, order, target, comport, poll};
            rt::GetPanelAttribute(panel, rt::ATTR_NUM_CTRLS, &controlsAtAttempt);
            comPortShown =
                qvtest::attr(interfacepanel, INTERFACEP_EDITSELECTCOMPORT, rt::ATTR_VISIBLE);
        };
        InitVars();
        QCOMPARE(popups.count(), std::size_t(1));
        QCOMPARE(QByteArray(popups.last().title.c_str()), QByteArray("TCP Client"));
        QCOMPARE(atAttempt, (std::vector<u16>{202, 16, 16, 85, 1, 1, 1, 0}));
        QCOMPARE(controlsAtAttempt, controlsBefore + 4); // the banner's four text lines
        QCOMPARE(comPortShown, 0);                       // laid out for TCP/IP
        QCOMPARE(listAtAttempt, (QByteArrayList{"10.1.1.1", "sensor.local"}));
        // Only the list is filled: the field keeps its starting value, the file its bytes.
        QCOMPARE(qvtest::ctrlText(interfacepanel, INTERFACEP_STRINGIPADRESS), "127.0.0.1");
        QCOMPARE(fileBytes(project.file(kHistoryFileName)), history);
    }

    // A serial station opens on its port: what the settings file keeps replaces the resource
    // file's values before the first attempt, which goes there, with no "TCP Client" box. A value
    // its control does not take (too long, out of range, not a number) is left out, one line
    // each. A committed POWER is kept at once.
    void theStationOpensOnWhatItKept() {
        qvtest::ScratchProject project;
        rig_->select(qvtest::Link::Serial); // the pty answers to its COM port number
        qvtest::loadPanels();               // as the resource file has them
        const QString ini = project.file(kSettingsFileName);
        const QByteArray com = QByteArray::number(qvtest::kRigComPort);
        QVERIFY(qvtest::writeFile(ini,
                                  "[link]\nprotocol=0\ncom_port=" + com +
                                      "\naddress=sensor.local\ntcp_port=" + QByteArray(32, '1') +
                                      "\n[calibration]\npower=600\nset_value=-1\nmax_delta=ten\n"));
        const int checks = rig_->framesOf(qvsim::command::GetVersion);
        qvtest::PopupRecorder popups;
        qvtest::StderrCapture err;
        InitVars();
        QCOMPARE(err.text().count("quorvat: the settings file " + QFile::encodeName(ini) +
                                  " holds no valid "),
                 3);
        QVERIFY(popups.count() == 0 && rig_->framesOf(qvsim::command::GetVersion) == checks + 1);
        QCOMPARE(qvtest::statusLine(), QByteArray(qvsim::Options().version.c_str()));
        QVERIFY(qvtest::attr(panel, P_COMPORT, rt::ATTR_VISIBLE) == 1 &&
                qvtest::boxValue(P_COMPORT) == qvtest::kRigComPort);
        QStringList shown; // as the operator reads them
        for (int c : {INTERFACEP_EDITCOMMUNICATIONPROTOCOL, INTERFACEP_EDITSELECTCOMPORT,
                      INTERFACEP_STRINGIPADRESS, INTERFACEP_STRINGPORTNUMBER, P_EDITPOWER,
                      P_EDITSETVALUE, P_EDITMAXDELTA}) {
            const QWidget *w = qvtest::widget(shown.size() < 4 ? interfacepanel : panel, c);
            shown << w->property(w->inherits("QComboBox") ? "currentText" : "text").toString();
        }
        QCOMPARE(shown.join(' '), "RS-232 " + com + " sensor.local 10001 600 1000 100");
        qvtest::typeInto(panel, P_EDITPOWER, "700");
        QVERIFY(qvtest::waitFor([&] { return qvtest::fileBytes(ini).contains("power=700\n"); }));
        rt::SettingsClose();
    }

    // The history stays beside the program while a write there works, the try leaving no trace,
    // not even on an old temporary. Where writes fail for everyone, root included (/proc), it goes
    // to the data folder, made for it. When no folder can hold it, start-up says so and goes on.
    // The settings file goes with it, or is not kept; a damaged one is named and left alone.
    void whereTheHistoryGoes() {
        const QString dataHome = home_.filePath("data");
        const QString data = QDir(dataHome).filePath(QCoreApplication::applicationName());
        const QDir::Filters all = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden;
        const QString name = kHistoryFileName;
        QTemporaryDir program;
        const QString left = program.filePath(name + ".tmp");
        QVERIFY(qvtest::writeFile(left, "before"));
        QCOMPARE(startUpIn(program.path(), dataHome), QByteArray());
        QCOMPARE(QString::fromLocal8Bit(ipComboBoxFileName), program.filePath(name));
        QCOMPARE(QString::fromLocal8Bit(rt::SettingsFile()), program.filePath(kSettingsFileName));
        QCOMPARE(QDir(program.path()).entryList(all), QStringList{name + ".tmp"});
        QCOMPARE(fileBytes(left), QByteArray("before"));
        QVERIFY(!QFileInfo::exists(dataHome));
        QCOMPARE(startUpIn("/proc", dataHome), QByteArray());
        QCOMPARE(QString::fromLocal8Bit(ipComboBoxFileName), QDir(data).filePath(name));
        QVERIFY(QFileInfo(data).isDir());
        QCOMPARE(QDir(data).entryList(all), QStringList());
        const QString unmakeable = "/proc/quorvat-no-such-folder";
        const QByteArray err = startUpIn("/proc", unmakeable);
        QCOMPARE(err.count('\n'), 1);
        QVERIFY2(err.startsWith("quorvat: cannot create the folder " + unmakeable.toUtf8()),
                 err.constData());
        QCOMPARE(ipComboBoxFileName[0], '\0');
        QCOMPARE(rt::SettingsFile(), "");
        QCOMPARE(addressList(), QByteArrayList());
        const QString damaged = program.filePath(kSettingsFileName);
        QVERIFY(qvtest::writeFile(damaged, "\x01\x02\xFF\n[trend\n"));
        QCOMPARE(startUpIn(program.path(), dataHome),
                 "quorvat: the settings file " + QFile::encodeName(damaged) +
                     " is damaged and is ignored; delete it to go back to the defaults\n");
        QCOMPARE(fileBytes(damaged), QByteArray("\x01\x02\xFF\n[trend\n"));
        rt::SettingsClose();
        qunsetenv("XDG_DATA_HOME");
    }

    // The serial link check pumps no events for its 2 s. What start-up has shown by then is on
    // the screen all that time: the panel with its banner, the command buttons dimmed, and why
    // the port did not open, which the check's "TIMEOUT" replaces only when it ends.
    void startUpIsOnScreenWhileTheSerialCheckWaits() {
        qvtest::ScratchProject project;
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
        const auto part = [](const QImage &image, const QRect &r) {
            return image.copy(r).convertToFormat(QImage::Format_RGB32);
        };
        // Against the panel drawn now, after the check: "TIMEOUT"; and showing the reason.
        const auto drawnWith = [&](const char *text) {
            rt::SetCtrlVal(panel, P_DISPSTATUS, text);
            rt::testing::FlushDisplays();
            return window->grab().toImage();
        };
        const QRect status = qvtest::widget(panel, P_DISPSTATUS)->geometry();
        const QRect commands = qvtest::widget(panel, P_BUTTONSENDPOWER)
                                   ->geometry()
                                   .united(qvtest::widget(panel, P_BUTTONFINISHCALIB)->geometry());
        // After the check, buttons live: the status differs, and dimmed buttons look dimmed.
        const QImage after = drawnWith("TIMEOUT");
        QVERIFY(part(screen, status) != part(after, status));
        QVERIFY(part(screen, commands) != part(after, commands));
        SetButtonsDimmed(1); // as during the check
        const QImage during = drawnWith("No serial port found");
        SetButtonsDimmed(0);
        QCOMPARE(part(screen, status), part(during, status));
        QCOMPARE(part(screen, commands), part(during, commands));
        QCOMPARE(screen.pixelColor(4, 4), QColor(0x00, 0x80, 0xFF)); // the banner
        qunsetenv("QUORVAT_COM7");
    }

    void damagedResourceEndsStartUpWithMinusOne() {
        const QByteArray real =
            fileBytes(QDir(QCoreApplication::applicationDirPath()).filePath(kResourceFile));
        const std::pair<QByteArray, const char *> cases[] = {
            {QByteArray(), kResourceFile}, // missing
            {"{ panels: [", "not a resource file"},
            {QByteArray(real).replace("\"resource\": 1", "\"resource\": 7"), "no panel 1"},
            {QByteArray(real).replace("CBF_ButtonGo", "CBF_ButtonGone"), "CBF_ButtonGone"},
        };
        for (const auto &[uir, says] : cases) {
            const auto [code, err] = runWithResource(uir);
            QCOMPARE(code, 255); // -1 as the process's exit status
            QVERIFY2(err.contains("quorvat: cannot load panel"), err.constData());
            QVERIFY2(err.contains(says), err.constData());
        }
    }
};

QTEST_MAIN(AppTest)
#include "test_startup.moc"
