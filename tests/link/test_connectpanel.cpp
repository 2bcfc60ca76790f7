// The connection panel as the operator uses it: the program started against a history file in
// a scratch program folder, the simulator as the sensor, and keys and clicks on the real
// widgets. The history file is checked byte for byte.
// Ahead of app/state.h, whose `panel` a parameter of a template in it would shadow.
#include "combobox/combobox.h"

#include "app/startup.h"
#include "link/comportline.h"
#include "link/connectpanel.h"
#include "link/history.h"
#include "link/link.h"
#include "platform/rs232.h"
#include "platform/serialports.h"
#include "platform/tcp.h"
#include "platform/testing.h"
#include "platform/utility.h"
#include "protocol/codec.h"
#include "shell/controls.h"
#include "shell/state.h"
#include "tests/support/rig.h"
#include "tests/support/support.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QTest>

#include <cstdio>
#include <unistd.h>

using namespace qv;
using qvtest::Link;

namespace {

constexpr char kVersion[] = "CONNECTION PANEL TEST SENSOR";

QByteArray record(const QByteArray &text) {
    return text.leftJustified(kHistoryTextBytes, '\0', true).append('\n');
}

QByteArray records(const QList<QByteArray> &texts) {
    QByteArray all;
    for (const QByteArray &t : texts)
        all += record(t);
    return all;
}

QByteArray readFile(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
}

int attr(int panelHandle, int control, int attribute) {
    int v = -1;
    rt::GetCtrlAttribute(panelHandle, control, attribute, &v);
    return v;
}

int acceptDimmed() {
    return attr(interfacepanel, INTERFACEP_BUTTONACCEPT, rt::ATTR_DIMMED);
}

QByteArray text(int panelHandle, int control) {
    char buffer[256] = "";
    rt::GetCtrlVal(panelHandle, control, buffer);
    return buffer;
}

const ComboRec *combo() {
    void *data = nullptr;
    rt::GetCtrlAttribute(interfacepanel, INTERFACEP_STRINGIPADRESS, rt::ATTR_CALLBACK_DATA, &data);
    return static_cast<const ComboRec *>(data);
}

// The address list as the operator sees it when it drops down.
QList<QByteArray> listed() {
    QList<QByteArray> items;
    int count = 0;
    rt::GetNumListItems(interfacepanel, combo()->ringCtrl, &count);
    for (int i = 0; i < count; ++i) {
        char value[256] = "";
        rt::GetValueFromIndex(interfacepanel, combo()->ringCtrl, i, value);
        items << value;
    }
    return items;
}

QWidget *widgetOf(int control) {
    return qvtest::widget(interfacepanel, control);
}

// Replaces a text field's contents by typing, then Enter.
void typeAndEnter(int control, const QByteArray &typed) {
    QWidget *w = widgetOf(control);
    QTest::keyClick(w, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(w, Qt::Key_Delete);
    QTest::keyClicks(w, QString::fromLatin1(typed));
    QTest::keyClick(w, Qt::Key_Return);
}

} // namespace

class ConnectPanelTest : public QObject {
    Q_OBJECT
    std::unique_ptr<qvtest::SensorRig> rig_;
    std::unique_ptr<qvtest::ScratchProject> project_;
    // Answers every box, so none can block a test; the program shows none on this panel.
    std::unique_ptr<qvtest::PopupRecorder> popups_;

    QString historyPath() const { return project_->file("IPComboBoxQuorvatv60.ipa"); }

    // The program's start-up, with `history` as the history file (none when null) and the
    // panel pointing at the simulator over `link`.
    void startUp(const QByteArray *history, Link link = Link::Tcp) {
        qvtest::loadPanels();
        QFile::remove(historyPath());
        if (history) {
            QFile f(historyPath());
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(*history);
        }
        rig_->select(link);
        InitVars();
        QCOMPARE(text(interfacepanel, INTERFACEP_STATUS), QByteArray(kVersion));
    }

    // CONNECT on the main panel, as the operator opens the panel.
    void openPanel() {
        qvtest::click(panel, P_BUTTONCONNECT);
        QWidget *window = rt::testing::PanelWidget(interfacepanel);
        QVERIFY(qvtest::waitFor([&] { return window->isVisible(); }));
        QVERIFY(QTest::qWaitForWindowActive(window));
    }

    // Types `address` into the address field and commits it; returns when the handler ran.
    bool commitAddress(const QByteArray &address) {
        const QList<QByteArray> before = listed();
        typeAndEnter(INTERFACEP_STRINGIPADRESS, address);
        return qvtest::waitFor([&] { return listed().value(0) == address && listed() != before; });
    }

    // A click on the list button, then on entry `item` of the list.
    bool pickWithMouse(int item) {
        const QList<QByteArray> before = listed();
        qvtest::click(interfacepanel, combo()->ringCtrl);
        if (!QTest::qWaitFor([] { return QApplication::activePopupWidget() != nullptr; }))
            return false;
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu)
            return false;
        QTest::mouseClick(menu, Qt::LeftButton, {},
                          menu->actionGeometry(menu->actions().at(item)).center());
        return qvtest::waitFor([&] { return listed() != before; });
    }

    // TRY TO CONNECT, clicked; true when the attempt found the sensor.
    bool tryToConnect() {
        rt::SetCtrlVal(interfacepanel, INTERFACEP_STATUS, "");
        qvtest::click(interfacepanel, INTERFACEP_BUTTONTRYTOCONNECT);
        const bool ended = qvtest::waitFor(
            [] {
                const QByteArray s = text(interfacepanel, INTERFACEP_STATUS);
                return !s.isEmpty() && s != "TRY" &&
                       attr(interfacepanel, INTERFACEP_BUTTONTRYTOCONNECT, rt::ATTR_DIMMED) == 0;
            },
            20000);
        return ended && text(interfacepanel, INTERFACEP_STATUS) == kVersion;
    }

    bool shown(int control) { return widgetOf(control)->isVisible(); }

  private slots:
    void initTestCase() {
        qvtest::initRunTime();
        rig_ = std::make_unique<qvtest::SensorRig>(qvtest::quietSensor(kVersion));
        project_ = std::make_unique<qvtest::ScratchProject>();
        qputenv("QUORVAT_COM1", QByteArray::fromStdString(rig_->sim().ptyPath()));
    }

    void init() {
        rig_->sim().clearFaults();
        popups_ = std::make_unique<qvtest::PopupRecorder>();
    }

    // The link of one test must not hold the simulator's line in the next.
    void cleanup() {
        QCOMPARE(popups_->count(), std::size_t(0));
        popups_.reset();
        rt::CloseCom(comport);
        if (tcpcon)
            rt::DisconnectFromTCPServer(g_hconversation);
        tcpcon = 0;
    }

    void cleanupTestCase() {
        qvtest::discardPanels();
        project_.reset();
        rig_.reset();
    }

    // What start-up makes of the file: whole records only, empty ones skipped, the file's order
    // kept, and a damaged record costs only itself.
    void startUpLoadsTheHistory() {
        const QByteArray three = records({"10.0.0.1", "10.0.0.2", "10.0.0.3"});
        QByteArray damaged = records({"10.0.0.1", "", "x", "10.0.0.4", "10.0.0.5"});
        damaged.replace(2 * 101, 101, QByteArray(101, 'N')); // no NUL, no line feed
        damaged[4 * 101 - 1] = 'L';                          // 10.0.0.4 lacks its line feed
        const struct {
            const char *name;
            QByteArray bytes;
            QList<QByteArray> expected;
        } cases[] = {
            {"303 bytes", three, {"10.0.0.1", "10.0.0.2", "10.0.0.3"}},
            {"350 bytes", three + QByteArray(47, '7'), {"10.0.0.1", "10.0.0.2", "10.0.0.3"}},
            {"100 bytes", three.left(100), {}},
            {"damaged", damaged, {"10.0.0.1", "10.0.0.4", "10.0.0.5"}},
        };
        for (const auto &c : cases) {
            startUp(&c.bytes);
            QVERIFY2(listed() == c.expected, c.name);
            QVERIFY2(readFile(historyPath()) == c.bytes, c.name); // loading changes nothing
        }
        int frame = 0;
        Combo_GetComboAttribute(interfacepanel, INTERFACEP_STRINGIPADRESS, COMBO_ATTR_FRAME_COLOR,
                                &frame);
        QCOMPARE(frame, 0xE0E0E0);
        // The field keeps its starting value; only the list is filled.
        QCOMPARE(text(interfacepanel, INTERFACEP_STRINGIPADRESS), QByteArray("127.0.0.1"));
    }

    // Every commit, typed or picked, moves the address to the top once; the file follows the
    // list, at most ten records.
    void commitsKeepListAndFileInStep() {
        const QByteArray start = records({"10.0.0.1", "10.0.0.2", "10.0.0.3"});
        startUp(&start);
        openPanel();
        QVERIFY(commitAddress("10.0.0.3"));
        QCOMPARE(listed(), (QList<QByteArray>{"10.0.0.3", "10.0.0.1", "10.0.0.2"}));
        QCOMPARE(readFile(historyPath()), records({"10.0.0.3", "10.0.0.1", "10.0.0.2"}));
        QCOMPARE(QByteArray(ipBuf), QByteArray("10.0.0.3"));

        // Picked from the list.
        QVERIFY(pickWithMouse(2));
        QCOMPARE(text(interfacepanel, INTERFACEP_STRINGIPADRESS), QByteArray("10.0.0.2"));
        QCOMPARE(readFile(historyPath()), records({"10.0.0.2", "10.0.0.3", "10.0.0.1"}));

        // Typed without Enter, a look at the list, then TRY TO CONNECT: the address is
        // committed when the focus leaves field and list, not before.
        QWidget *field = widgetOf(INTERFACEP_STRINGIPADRESS);
        field->window()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(field->window()));
        rt::SetActiveCtrl(interfacepanel, INTERFACEP_STRINGIPADRESS);
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_Delete);
        QTest::keyClicks(field, "localhost");
        QTest::keyClick(field, Qt::Key_Down);
        QVERIFY(QTest::qWaitFor([] { return QApplication::activePopupWidget() != nullptr; }));
        QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
        qvtest::pump(50);
        QCOMPARE(listed().value(0), QByteArray("10.0.0.2"));
        QVERIFY(tryToConnect());
        QCOMPARE(readFile(historyPath()),
                 records({"localhost", "10.0.0.2", "10.0.0.3", "10.0.0.1"}));

        // Eleven new addresses: the oldest go, ten records stay.
        QList<QByteArray> newest;
        for (int i = 101; i <= 111; ++i) {
            const QByteArray address = "192.168.1." + QByteArray::number(i);
            QVERIFY2(commitAddress(address), address.constData());
            newest.prepend(address);
            QVERIFY(listed().size() <= kHistoryMaxEntries);
            QCOMPARE(readFile(historyPath()), records(listed())); // the file mirrors the list
        }
        newest.removeLast();
        QCOMPARE(listed(), newest);
        const QByteArray ten = readFile(historyPath());
        QCOMPARE(ten.size(), 1010);
        QCOMPARE(ten, records(newest));

        // An empty address is an entry too: a record of zeros on top.
        QVERIFY(commitAddress(""));
        const QByteArray withEmpty = readFile(historyPath());
        QCOMPARE(withEmpty.size(), 1010);
        QCOMPARE(withEmpty.left(101), QByteArray(100, '\0') + '\n');
        QCOMPARE(withEmpty.mid(101), records(newest.mid(0, 9)));

        // The longest address the field takes fits its record whole. A longer one (the field's
        // maximum raised) would have to be cut to fit: it stays out of list and file.
        const QByteArray longest(kHistoryMaxLength, 'n');
        QVERIFY(commitAddress(longest));
        QCOMPARE(readFile(historyPath()).left(101), longest + QByteArray("\0\n", 2));
        Combo_SetComboAttribute(interfacepanel, INTERFACEP_STRINGIPADRESS,
                                COMBO_ATTR_MAX_ENTRY_LENGTH, 150);
        const QByteArray before = readFile(historyPath());
        const QList<QByteArray> listBefore = listed();
        typeAndEnter(INTERFACEP_STRINGIPADRESS, QByteArray(120, 'w'));
        QVERIFY(qvtest::waitFor([] { return QByteArray(ipBuf) == QByteArray(120, 'w'); }));
        QCOMPARE(listed(), listBefore);
        QCOMPARE(readFile(historyPath()), before);
    }

    // When the file cannot be replaced the old one stays whole, the list is up to date, the
    // operator is not interrupted and standard error says what happened.
    void unwritableHistoryKeepsTheOldFile() {
        const QByteArray start = records({"10.0.0.1", "10.0.0.2"});
        startUp(&start);
        openPanel();

        // Root writes anywhere, but not beyond a full disk.
        {
            qvtest::StderrCapture err;
            const qvtest::FileSizeLimit full(150);
            QVERIFY(commitAddress("10.0.0.9"));
            QVERIFY(err.text().contains("quorvat: cannot save the address history"));
        }
        QCOMPARE(listed(), (QList<QByteArray>{"10.0.0.9", "10.0.0.1", "10.0.0.2"}));
        QCOMPARE(readFile(historyPath()), start);

        // A history path whose folder is a file: nothing is created anywhere.
        char saved[sizeof ipComboBoxFileName];
        std::memcpy(saved, ipComboBoxFileName, sizeof saved);
        QFile plain(project_->file("plain"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        rt::CopyText(ipComboBoxFileName,
                     QFile::encodeName(project_->file("plain/history.ipa")).constData());
        {
            qvtest::StderrCapture err;
            QVERIFY(commitAddress("10.0.0.8"));
            QVERIFY(err.text().contains("quorvat: cannot save the address history"));
        }
        std::memcpy(ipComboBoxFileName, saved, sizeof saved);
        QCOMPARE(listed().value(0), QByteArray("10.0.0.8"));
        QCOMPARE(readFile(project_->file("plain")), QByteArray());

        // Writable again: the next commit writes the whole list.
        QVERIFY(commitAddress("10.0.0.7"));
        QCOMPARE(readFile(historyPath()),
                 records({"10.0.0.7", "10.0.0.8", "10.0.0.9", "10.0.0.1", "10.0.0.2"}));
    }

    // Accept is usable only after a successful try since the panel was opened or a setting
    // was last committed; a failed try changes nothing.
    void acceptFollowsTriesAndCommits() {
        startUp(nullptr, Link::Serial);
        // Laid out after the field became a combo box: its list button went with it.
        QCOMPARE(attr(interfacepanel, combo()->ringCtrl, rt::ATTR_VISIBLE), 0);
        openPanel();
        QCOMPARE(acceptDimmed(), 1);
        qvtest::click(interfacepanel, INTERFACEP_BUTTONACCEPT); // dimmed: nothing happens
        qvtest::pump(30);
        QVERIFY(rt::testing::PanelWidget(interfacepanel)->isVisible());

        QVERIFY(tryToConnect());
        QCOMPARE(acceptDimmed(), 0);
        QCOMPARE(attr(panel, P_BUTTONGO, rt::ATTR_DIMMED), 0); // the command buttons are back

        const auto dimmedByCommit = [] {
            return qvtest::waitFor([] { return acceptDimmed() == 1; });
        };
        QTest::keyClick(widgetOf(INTERFACEP_EDITSELECTCOMPORT), Qt::Key_Up);
        QVERIFY(dimmedByCommit());
        QTest::keyClick(widgetOf(INTERFACEP_EDITSELECTCOMPORT), Qt::Key_Down);
        QVERIFY(tryToConnect());
        QTest::keyClick(widgetOf(INTERFACEP_EDITCOMMUNICATIONPROTOCOL), Qt::Key_Down); // TCP/IP
        QVERIFY(dimmedByCommit());
        // The address and the port take input only while TCP/IP shows them.
        const QByteArray port = QByteArray::number(rig_->sim().tcpPort());
        typeAndEnter(INTERFACEP_STRINGPORTNUMBER, port);
        QVERIFY(tryToConnect());
        typeAndEnter(INTERFACEP_STRINGIPADRESS, "127.0.0.1");
        QVERIFY(dimmedByCommit());
        QVERIFY(tryToConnect());
        typeAndEnter(INTERFACEP_STRINGPORTNUMBER, port);
        QVERIFY(dimmedByCommit());
        QTest::keyClick(widgetOf(INTERFACEP_EDITCOMMUNICATIONPROTOCOL), Qt::Key_Up); // RS-232
        QVERIFY(qvtest::waitFor([] { return comprotocol == 0; }));

        // Failed tries: usable stays usable, dimmed stays dimmed.
        QVERIFY(tryToConnect());
        rig_->sim().addFault(
            qvsim::Fault::noReply().forCommand(qvsim::command::GetVersion).repeat(2));
        QVERIFY(!tryToConnect());
        QCOMPARE(acceptDimmed(), 0);
        QTest::keyClick(widgetOf(INTERFACEP_EDITSELECTCOMPORT), Qt::Key_Up);
        QVERIFY(dimmedByCommit());
        QVERIFY(!tryToConnect());
        QCOMPARE(acceptDimmed(), 1);
        QTest::keyClick(widgetOf(INTERFACEP_EDITSELECTCOMPORT), Qt::Key_Down);
        rig_->sim().clearFaults();
        QVERIFY(tryToConnect());

        qvtest::click(interfacepanel, INTERFACEP_BUTTONACCEPT);
        QVERIFY(
            qvtest::waitFor([] { return !rt::testing::PanelWidget(interfacepanel)->isVisible(); }));
        QCOMPARE(comprotocol, u16(0));
        QCOMPARE(text(panel, P_DISPSTATUS), QByteArray(kVersion));
    }

    // The panel shows the controls of the selected link, the combo box's list button and frame
    // with its field; the main panel shows the address or the port after a try. Pictures of both
    // layouts land beside the test program.
    void layoutFollowsTheLink() {
        const QByteArray start = records({"192.168.0.10", "10.0.0.7"});
        startUp(&start);
        openPanel();
        const auto expectLayout = [this](bool tcp) {
            QCOMPARE(shown(INTERFACEP_EDITSELECTCOMPORT), !tcp);
            QCOMPARE(shown(INTERFACEP_COMPORTDEVICE), !tcp);
            QCOMPARE(shown(INTERFACEP_STRINGIPADRESS), tcp);
            QCOMPARE(shown(combo()->ringCtrl), tcp);
            QCOMPARE(shown(combo()->frameCtrl), tcp);
            QCOMPARE(shown(INTERFACEP_STRINGPORTNUMBER), tcp);
            QCOMPARE(attr(panel, P_IPADRESS, rt::ATTR_VISIBLE), int(tcp));
            QCOMPARE(attr(panel, P_COMPORT, rt::ATTR_VISIBLE), int(!tcp));
        };
        const QDir shots(QCoreApplication::applicationDirPath());
        expectLayout(true);
        QVERIFY(qvtest::grabPanel(interfacepanel, shots.filePath("connectpanel_tcp.png")));

        QTest::keyClick(widgetOf(INTERFACEP_EDITCOMMUNICATIONPROTOCOL), Qt::Key_Up);
        QVERIFY(qvtest::waitFor([] { return comprotocol == 0; }));
        QVERIFY(tryToConnect());
        expectLayout(false);
        QVERIFY(qvtest::grabPanel(interfacepanel, shots.filePath("connectpanel_rs232.png")));

        // Back to TCP/IP and away through the close box: nothing is restored or reconnected,
        // but the selector's value is the program's link from now on.
        QTest::keyClick(widgetOf(INTERFACEP_EDITCOMMUNICATIONPROTOCOL), Qt::Key_Down);
        QVERIFY(qvtest::waitFor([] { return comprotocol == 1; }));
        QVERIFY(!shown(INTERFACEP_EDITSELECTCOMPORT));
        QVERIFY(shown(combo()->ringCtrl));
        rt::testing::PanelWidget(interfacepanel)->close();
        QVERIFY(
            qvtest::waitFor([] { return !rt::testing::PanelWidget(interfacepanel)->isVisible(); }));
        QCOMPARE(comprotocol, u16(1));
        QCOMPARE(attr(panel, P_COMPORT, rt::ATTR_VISIBLE), 1); // as the last try left it
    }

    // Discard after a good try with new settings puts the old ones back and reconnects.
    void discardReconnectsWithTheOldSettings() {
        startUp(nullptr, Link::Tcp);
        QCOMPARE(tcpcon, u16(1));
        const QByteArray port = text(interfacepanel, INTERFACEP_STRINGPORTNUMBER);
        openPanel();
        QTest::keyClick(widgetOf(INTERFACEP_EDITCOMMUNICATIONPROTOCOL), Qt::Key_Up); // RS-232
        QVERIFY(qvtest::waitFor([] { return comprotocol == 0; }));
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(widgetOf(INTERFACEP_EDITSELECTCOMPORT), Qt::Key_Up);
        typeAndEnter(INTERFACEP_STRINGPORTNUMBER, "1");
        QVERIFY(tryToConnect()); // over the pty, as COM4
        QCOMPARE(comport, u16(qvtest::kRigComPort));
        QCOMPARE(acceptDimmed(), 0);

        const auto connections = rig_->sim().counters().connectionsAccepted;
        const int checks = rig_->framesOf(qvsim::command::GetVersion);
        rt::SetCtrlVal(panel, P_DISPSTATUS, "");
        qvtest::click(interfacepanel, INTERFACEP_BUTTONDISCARD);
        QVERIFY(
            qvtest::waitFor([] { return !rt::testing::PanelWidget(interfacepanel)->isVisible(); }));
        unsigned short selector = 9, port6 = 9;
        rt::GetCtrlVal(interfacepanel, INTERFACEP_EDITCOMMUNICATIONPROTOCOL, &selector);
        rt::GetCtrlVal(interfacepanel, INTERFACEP_EDITSELECTCOMPORT, &port6);
        QCOMPARE(selector, static_cast<unsigned short>(1));
        QCOMPARE(port6, static_cast<unsigned short>(1));
        QCOMPARE(text(interfacepanel, INTERFACEP_STRINGPORTNUMBER), port);
        QCOMPARE(comprotocol, u16(1));
        QCOMPARE(tcpcon, u16(1));
        QCOMPARE(rig_->sim().counters().connectionsAccepted, connections + 1);
        QCOMPARE(rig_->framesOf(qvsim::command::GetVersion), checks + 1);
        QCOMPARE(text(panel, P_DISPSTATUS), QByteArray(kVersion));
        // Hidden now, but laid out for TCP/IP again.
        QCOMPARE(attr(interfacepanel, INTERFACEP_STRINGIPADRESS, rt::ATTR_VISIBLE), 1);
        QCOMPARE(attr(interfacepanel, INTERFACEP_EDITSELECTCOMPORT, rt::ATTR_VISIBLE), 0);
    }

    // The device line for each state a port can be in. Root may use every device, so the
    // permission rows are fed, as are the texts a system reports.
    void deviceLineText_data() {
        QTest::addColumn<int>("number");
        QTest::addColumn<QByteArray>("port"); // "[VARIABLE=]device|description|maker"
        QTest::addColumn<QByteArray>("state");
        QTest::addColumn<int>("openStatus");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray present = "present", missing = "missing";
        const QByteArray forbidden = "forbidden:dialout", noGroup = "forbidden:";
        const QByteArray usb = "/dev/ttyUSB0|USB serial cable|Maker Ltd";
        const QByteArray named = "/dev/ttyUSB0: USB serial cable (Maker Ltd)";
        const QByteArray join = named + "\nNo permission: join group dialout, then log in again";
        const int cannotOpen = rt::kRS232CannotOpenPort, notFound = rt::kRS232NoSerialPortFound;
        // clang-format off
        QTest::addRow("as the system names it") << 1 << usb << present << 0 << named;
        QTest::addRow("nothing said of it") << 1 << QByteArray("/dev/ttyS0||") << present << 0
            << QByteArray("/dev/ttyS0");
        QTest::addRow("a maker only") << 2 << QByteArray("/dev/ttyACM0||Maker Ltd") << present
            << 0 << QByteArray("/dev/ttyACM0: (Maker Ltd)");
        QTest::addRow("named by the environment") << 4 << QByteArray("QUORVAT_COM4=/dev/pts/3||")
            << present << 0 << QByteArray("QUORVAT_COM4=/dev/pts/3");
        QTest::addRow("the environment names no device")
            << 4 << QByteArray("QUORVAT_COM4=/dev/none||") << missing << notFound
            << QByteArray("QUORVAT_COM4=/dev/none: no such device");
        QTest::addRow("no port has the number") << 5 << QByteArray("||") << missing << notFound
            << QByteArray("no port 5: 2 found");
        QTest::addRow("no permission, before a try") << 1 << usb << forbidden << 0 << join;
        QTest::addRow("no permission, the open failed") << 1 << usb << forbidden << cannotOpen
            << join;
        QTest::addRow("no permission, no group to join") << 1 << usb << noGroup << cannotOpen
            << named + "\nNo permission: ask for read and write access to it";
        QTest::addRow("in use by another program") << 1 << usb << present << cannotOpen
            << named + "\nIn use by another program";
        QTest::addRow("other failures add nothing") << 1 << usb << present
            << rt::kRS232UnknownIOError << named;
        QTest::addRow("control characters from the system")
            << 1 << QByteArray("/dev/ttyUSB0|two\nlines\tand\x7f|Maker Ltd") << present << 0
            << QByteArray("/dev/ttyUSB0: two lines and  (Maker Ltd)");
        // clang-format on
    }

    void deviceLineText() {
        QFETCH(int, number);
        QFETCH(QByteArray, port);
        QFETCH(QByteArray, state);
        QFETCH(int, openStatus);
        QFETCH(QByteArray, expected);
        const QList<QByteArray> said = port.split('|');
        const QList<QByteArray> named = said[0].split('=');
        rt::ComPortInfo info;
        info.variable = named.size() > 1 ? named[0].toStdString() : std::string();
        info.device = named.last().toStdString();
        info.description = said[1].toStdString();
        info.manufacturer = said[2].toStdString();
        info.portsFound = 2;
        info.present = state != "missing";
        info.mayOpen = !state.startsWith("forbidden:");
        info.accessGroup = info.mayOpen ? std::string() : state.mid(10).toStdString();
        char line[320];
        ComPortLine(line, number, info, openStatus);
        QCOMPARE(QByteArray(line), expected);
        char small[12];
        ComPortLine(small, number, info, openStatus); // cut, never overrun
        QCOMPARE(QByteArray(small), expected.left(sizeof small - 1));
    }

    // The line on the panel follows the number, is read again when the panel opens, and after
    // a try that found the line taken says so; the status texts stay the documented ones.
    void theDeviceLineOnThePanel() {
        startUp(nullptr, Link::Serial);
        const QByteArray pty = QByteArray::fromStdString(rig_->sim().ptyPath());
        const QByteArray rigLine = "QUORVAT_COM4=" + pty;
        const auto line = [] { return text(interfacepanel, INTERFACEP_COMPORTDEVICE); };
        QCOMPARE(line(), rigLine); // written at start-up, before the panel was ever open
        openPanel();
        QVERIFY(shown(INTERFACEP_COMPORTDEVICE));

        // A number no port has; then one whose device appears while the panel is open.
        ::unsetenv("QUORVAT_COM97");
        typeAndEnter(INTERFACEP_EDITSELECTCOMPORT, "98");
        QVERIFY(qvtest::waitFor([&] { return line().startsWith("no port 98: "); }));
        QVERIFY(line().endsWith(" found"));
        qputenv("QUORVAT_COM97", pty);
        QTest::keyClick(widgetOf(INTERFACEP_EDITSELECTCOMPORT), Qt::Key_Down);
        QVERIFY(qvtest::waitFor([&] { return line() == "QUORVAT_COM97=" + pty; }));

        // Gone while the panel was closed: opening it reads the ports again.
        rt::testing::PanelWidget(interfacepanel)->close();
        QVERIFY(
            qvtest::waitFor([] { return !rt::testing::PanelWidget(interfacepanel)->isVisible(); }));
        ::unsetenv("QUORVAT_COM97");
        openPanel();
        QVERIFY(line().startsWith("no port 97: "));

        // Another holder of the line: "Cannot open port" as ever, and the line says why.
        typeAndEnter(INTERFACEP_EDITSELECTCOMPORT, "4");
        QVERIFY(qvtest::waitFor([&] { return line() == rigLine; }));
        rt::CloseCom(comport);
        QCOMPARE(rt::OpenComConfig(9, pty.constData(), 19200, 0, 8, 1, 512, 512), 0);
        QVERIFY(!tryToConnect());
        QCOMPARE(QByteArray(szStatus), QByteArray("Cannot open port"));
        QCOMPARE(line(), rigLine + "\nIn use by another program");
        QVERIFY(qvtest::grabPanel(interfacepanel, QCoreApplication::applicationDirPath() +
                                                      "/connectpanel_device.png"));
        rt::CloseCom(9);
        QVERIFY(tryToConnect());
        QCOMPARE(line(), rigLine);
    }
};

QTEST_MAIN(ConnectPanelTest)
#include "test_connectpanel.moc"
