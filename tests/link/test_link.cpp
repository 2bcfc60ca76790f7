// The history file on its own (random files: fuzz/fuzz_history), the connection panel as the
// operator uses it, and the link where the fault matrix does not take it.
// Ahead of shell/state.h, whose `panel` a parameter of a template in it would shadow.
#include "combobox/combobox.h"

#include "app/startup.h"
#include "link/commands.h"
#include "link/comportline.h"
#include "link/history.h"
#include "link/link.h"
#include "platform/rs232.h"
#include "platform/serialports.h"
#include "platform/tcp.h"
#include "platform/testing.h"
#include "platform/utility.h"
#include "shell/controls.h"
#include "shell/state.h"
#include "tests/support/rig.h"
#include "tests/support/support.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTest>

#include <climits>
#include <cstring>

using namespace qv;
using namespace qvtest;

namespace {

constexpr char kVersion[] = "CONNECTION PANEL TEST SENSOR";

bool panelHidden() {
    return waitFor([] { return !rt::testing::PanelWidget(interfacepanel)->isVisible(); });
}

IpHistory historyOf(std::initializer_list<const char *> texts) {
    IpHistory h;
    for (const char *t : texts)
        qstrncpy(h.entries[h.count++], t, kHistoryTextBytes);
    return h;
}

} // namespace

class LinkTest : public QObject {
    Q_OBJECT
    std::unique_ptr<SensorRig> rig_;
    std::unique_ptr<ScratchProject> project_;
    // Answers every box, so none can block a test; the program shows none on this panel.
    std::unique_ptr<PopupRecorder> popups_;

    QString historyPath() const { return project_->file(kHistoryFileName); }
    QByteArray history() const { return fileBytes(historyPath()); }
    QString unitPath() const { return project_->file("unit/IPComboBoxQuorvatv60.ipa"); }
    QByteArray unitName() const { return QFile::encodeName(unitPath()); }

    // Start-up with `addresses` in the history file, pointed at the simulator over `link`: no link
    // an earlier test accepted replaces it.
    void startUp(const QByteArrayList &addresses, Link link = Link::Tcp) {
        loadPanels();
        QVERIFY(writeFile(historyPath(), historyRecords(addresses)));
        QFile::remove(project_->file(kSettingsFileName));
        rig_->select(link);
        InitVars();
        QCOMPARE(ctrlText(interfacepanel, INTERFACEP_STATUS), QByteArray(kVersion));
    }

    // Types `address` into the address field and commits it; returns when the handler ran.
    bool commitAddress(const QByteArray &address) {
        const QByteArrayList before = addressList();
        typeInto(interfacepanel, INTERFACEP_STRINGIPADRESS, address);
        return waitFor(
            [&] { return addressList().value(0) == address && addressList() != before; });
    }

    // True when the attempt found the sensor.
    bool tryToConnect() {
        rt::SetCtrlVal(interfacepanel, INTERFACEP_STATUS, "");
        click(interfacepanel, INTERFACEP_BUTTONTRYTOCONNECT);
        const bool ended = waitFor(
            [] {
                const QByteArray s = ctrlText(interfacepanel, INTERFACEP_STATUS);
                return !s.isEmpty() && s != "TRY" &&
                       attr(interfacepanel, INTERFACEP_BUTTONTRYTOCONNECT, rt::ATTR_DIMMED) == 0;
            },
            20000);
        return ended && ctrlText(interfacepanel, INTERFACEP_STATUS) == kVersion;
    }

  private slots:
    void initTestCase() {
        initRunTime();
        rig_ = std::make_unique<SensorRig>(quietSensor(kVersion));
        project_ = std::make_unique<ScratchProject>();
        QVERIFY(QDir(project_->path()).mkdir("unit"));
    }

    void init() {
        rig_->sim().clearFaults();
        popups_ = std::make_unique<PopupRecorder>();
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

    // Read: whole records of 101 bytes, the first ten: a damaged record costs itself, no file is
    // too big; no file is no history, a folder an error. Written: 99 characters whole, an entry
    // that would be cut left out; a rewrite that cannot finish leaves the old file, no temporary.
    void historyFile() {
        const QByteArray three = historyRecords({"10.0.0.1", "10.0.0.2", "10.0.0.3"});
        QByteArray damaged = historyRecords({"10.0.0.1", "", "", "10.0.0.2", "10.0.0.3", "h6"});
        damaged.replace(101, 101, QByteArray(100, 'A') + '\n'); // no NUL in its text
        damaged[4 * 101 - 1] = 'X';                             // no line feed
        damaged[4 * 101 + 8] = '\n';                            // a line feed inside the text
        damaged[4 * 101 + 9] = 'z';
        QByteArrayList hosts;
        for (int i = 0; i < 15; ++i)
            hosts << "host" + QByteArray::number(i);
        const QByteArrayList first3 = {"10.0.0.1", "10.0.0.2", "10.0.0.3"};
        const std::tuple<QByteArray, int, QByteArrayList> rows[] = {
            {three + QByteArray(47, '7'), 1, first3}, // a part record after them
            {damaged, 1, first3 + QByteArrayList{"h6"}},
            {historyRecords(hosts), 1, hosts.mid(0, kHistoryMaxEntries)},
            {QByteArray(4 << 20, 'x'), 1, {}}, // one endless line
            {QByteArray(), 0, {}},             // no file
            {"folder", -1, {}},                // a folder of that name
        };
        for (const auto &[bytes, status, entries] : rows) {
            QFile::remove(unitPath());
            QVERIFY(bytes.isNull() || bytes == "folder" || writeFile(unitPath(), bytes));
            QVERIFY(bytes != "folder" || QDir().mkdir(unitPath()));
            IpHistory h = historyOf({"stale"});
            QCOMPARE(std::clamp(ReadIpHistory(unitName().constData(), &h), -1, 1), status);
            QByteArrayList read;
            for (int i = 0; i < h.count; ++i)
                read << h.entries[i];
            QCOMPARE(read, entries);
        }
        QVERIFY(QDir(unitPath()).removeRecursively());

        const QByteArray longest(kHistoryMaxLength, 'h');
        IpHistory h = historyOf({"a", longest.constData(), "b"});
        std::memset(h.entries[0], 'x', kHistoryTextBytes); // no NUL
        QCOMPARE(WriteIpHistory(unitName().constData(), h), 0);
        const QByteArray old = historyRecords({longest, "b"});
        QCOMPARE(fileBytes(unitPath()), old);

        const IpHistory next = historyOf({"10.9.9.9", "10.0.0.1"});
        {
            const qvtest::FileSizeLimit full(150); // the disk fills up halfway through
            QVERIFY(WriteIpHistory(unitName().constData(), next) < 0);
        }
        QCOMPARE(fileBytes(unitPath()), old);
        // No path, no file: not even a temporary one in the working folder.
        const QString cwd = QDir::currentPath();
        QVERIFY(QDir::setCurrent(project_->file("unit")));
        QVERIFY(WriteIpHistory("", next) < 0);
        QDir::setCurrent(cwd);
        QCOMPARE(QDir(project_->file("unit")).entryList(QDir::Files),
                 QStringList{"IPComboBoxQuorvatv60.ipa"});
    }

    // Every commit, typed or left (a pick commits as typing does: test_combobox), moves the address
    // to the top once; the file follows the list, at most ten records.
    void commitsKeepListAndFileInStep() {
        startUp({"10.0.0.1", "10.0.0.2", "10.0.0.3"});
        QVERIFY(openConnectionPanel());
        QVERIFY(commitAddress("10.0.0.3")); // to the top once: the file after the next commit

        // Typed without Enter, a look at the list, then TRY TO CONNECT: the address is
        // committed once, when the focus leaves field and list, not before.
        QWidget *field = widget(interfacepanel, INTERFACEP_STRINGIPADRESS);
        rt::SetActiveCtrl(interfacepanel, INTERFACEP_STRINGIPADRESS);
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_Delete);
        QTest::keyClicks(field, "localhost");
        QTest::keyClick(field, Qt::Key_Down);
        QVERIFY(QTest::qWaitFor([] { return QApplication::activePopupWidget() != nullptr; }));
        QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
        pump(50);
        QCOMPARE(addressList().value(0), QByteArray("10.0.0.3"));
        QVERIFY(tryToConnect());
        QCOMPARE(history(), historyRecords({"localhost", "10.0.0.3", "10.0.0.1", "10.0.0.2"}));

        // Eleven new addresses: the oldest go, ten records stay.
        QByteArrayList newest;
        for (int i = 101; i <= 111; ++i) {
            newest.prepend("192.168.1." + QByteArray::number(i));
            QVERIFY2(commitAddress(newest.first()), newest.first().constData());
            QCOMPARE(history(), historyRecords(addressList())); // the file mirrors the list
        }

        // An empty address is an entry too: a record of zeros on top. The longest address the
        // field takes fits its record whole.
        QVERIFY(commitAddress(""));
        QCOMPARE(history(), historyRecords(QByteArrayList{""} + newest.mid(0, 9)));
        const QByteArray longest(kHistoryMaxLength, 'n');
        QVERIFY(commitAddress(longest));
        QCOMPARE(history().left(101), longest + QByteArray("\0\n", 2));
        // A longer one (the field's maximum raised) would be cut: it stays out of list and file.
        Combo_SetComboAttribute(interfacepanel, INTERFACEP_STRINGIPADRESS,
                                COMBO_ATTR_MAX_ENTRY_LENGTH, 150);
        const QByteArray before = history();
        const QByteArrayList listBefore = addressList();
        typeInto(interfacepanel, INTERFACEP_STRINGIPADRESS, QByteArray(120, 'w'));
        QVERIFY(waitFor([] { return QByteArray(ipBuf) == QByteArray(120, 'w'); }));
        QCOMPARE(addressList(), listBefore);
        QCOMPARE(history(), before);

        // A file that cannot be replaced (its folder is a file): the list up to date, standard
        // error says why (the old file kept whole: historyFile).
        const QByteArray saved = ipComboBoxFileName;
        QVERIFY(writeFile(project_->file("plain"), ""));
        rt::CopyText(ipComboBoxFileName,
                     QFile::encodeName(project_->file("plain/history.ipa")).constData());
        {
            StderrCapture err;
            QVERIFY(commitAddress("10.0.0.8"));
            QVERIFY(err.text().contains("quorvat: cannot save the address history"));
        }
        rt::CopyText(ipComboBoxFileName, saved.constData());
        QCOMPARE(addressList().value(0), QByteArray("10.0.0.8"));
    }

    // ACCEPT only after a good try since the panel opened or a setting changed; a failed try
    // changes nothing. Each link shows its own controls. DISCARD puts the old link back.
    void acceptDiscardAndLayout() {
        startUp({}, Link::Serial);
        const auto expectLayout = [](bool tcp) {
            int address = -1; // field, list button and frame alike: test_combobox
            Combo_GetComboAttribute(interfacepanel, INTERFACEP_STRINGIPADRESS, COMBO_ATTR_VISIBLE,
                                    &address);
            QCOMPARE(address, int(tcp));
            QCOMPARE(attr(interfacepanel, INTERFACEP_STRINGPORTNUMBER, rt::ATTR_VISIBLE), int(tcp));
            for (int c : {INTERFACEP_EDITSELECTCOMPORT, INTERFACEP_COMPORTDEVICE})
                QCOMPARE(attr(interfacepanel, c, rt::ATTR_VISIBLE), int(!tcp));
            QCOMPARE(attr(panel, P_IPADRESS, rt::ATTR_VISIBLE), int(tcp));
            QCOMPARE(attr(panel, P_COMPORT, rt::ATTR_VISIBLE), int(!tcp));
        };
        expectLayout(false); // laid out after the field became a combo box
        QVERIFY(openConnectionPanel());
        const QByteArray port = QByteArray::number(rig_->sim().tcpPort());
        enum Step { Accept, Try, TryFails, ComUp, ComDown, Tcp, Serial, Port, Address };
        const auto run = [&](Step step) {
            if (step == Accept)
                click(interfacepanel, INTERFACEP_BUTTONACCEPT);
            rig_->sim().clearFaults();
            if (step == TryFails) // also a port no device answers to
                rig_->sim().addFault(
                    qvsim::Fault::noReply().forCommand(qvsim::command::GetVersion));
            if (step == Try || step == TryFails)
                return tryToConnect() == (step == Try);
            if (step == ComUp || step == ComDown || step == Tcp || step == Serial)
                QTest::keyClick(widget(interfacepanel, step <= ComDown
                                                           ? INTERFACEP_EDITSELECTCOMPORT
                                                           : INTERFACEP_EDITCOMMUNICATIONPROTOCOL),
                                step == ComUp || step == Serial ? Qt::Key_Up : Qt::Key_Down);
            if (step == Port || step == Address)
                typeInto(interfacepanel,
                         step == Port ? INTERFACEP_STRINGPORTNUMBER : INTERFACEP_STRINGIPADRESS,
                         step == Port ? port : QByteArray("127.0.0.1"));
            return true;
        };
        // Each step, then whether ACCEPT is dimmed.
        const std::pair<Step, int> steps[] = {
            {Accept, 1}, {Try, 0},      {ComUp, 1},   {ComDown, 1},  {Try, 0},     {Tcp, 1},
            {Port, 1},   {Try, 0},      {Address, 1}, {Try, 0},      {Port, 1},    {Serial, 1},
            {Try, 0},    {TryFails, 0}, {ComUp, 1},   {TryFails, 1}, {ComDown, 1}, {Try, 0}};
        for (const auto &[step, dimmed] : steps) {
            QVERIFY(run(step));
            QVERIFY(waitFor([&] {
                return attr(interfacepanel, INTERFACEP_BUTTONACCEPT, rt::ATTR_DIMMED) == dimmed;
            }));
            QVERIFY(rt::testing::PanelWidget(interfacepanel)->isVisible());
        }
        // ACCEPT keeps the link that was tried, not an address typed without Enter.
        rt::SetCtrlVal(interfacepanel, INTERFACEP_STRINGIPADRESS, "typed.only");
        click(interfacepanel, INTERFACEP_BUTTONACCEPT);
        QVERIFY(panelHidden());
        rt::SetCtrlVal(interfacepanel, INTERFACEP_STRINGIPADRESS, "127.0.0.1");
        QCOMPARE(ctrlText(panel, P_DISPSTATUS), QByteArray(kVersion));
        const QByteArray accepted =
            "[link]\naddress=127.0.0.1\ncom_port=" + QByteArray::number(kRigComPort) +
            "\nprotocol=0\ntcp_port=" + port + "\n";
        QCOMPARE(fileBytes(project_->file(kSettingsFileName)), accepted);

        // TCP/IP tried, then discarded: back to the serial line, checked again.
        QVERIFY(openConnectionPanel());
        QVERIFY(run(Tcp) && run(Try));
        expectLayout(true);
        rt::SetCtrlVal(panel, P_DISPSTATUS, "");
        click(interfacepanel, INTERFACEP_BUTTONDISCARD);
        QVERIFY(panelHidden());
        QVERIFY(comprotocol == 0 && comport == kRigComPort); // both read from the selectors
        QCOMPARE(ctrlText(panel, P_DISPSTATUS), QByteArray(kVersion));
        expectLayout(false);
        QCOMPARE(fileBytes(project_->file(kSettingsFileName)), accepted); // the try is not kept
    }

    // The device line for each state a port can be in. Root may use every device, so the
    // permission rows are fed, as are the texts a system reports; a port in use: below.
    void deviceLineText() {
        const QByteArray usb = "/dev/ttyUSB0: USB serial cable (Maker Ltd)";
        // clang-format off
        const rt::ComPortInfo cable{true, "/dev/ttyUSB0", "", "USB serial cable", "Maker Ltd", 2,
                                    true, "", ""};
        rt::ComPortInfo dialout = cable, noGroup = cable, odd = cable, byId = cable, longId = cable;
        dialout.mayOpen = noGroup.mayOpen = false;
        dialout.accessGroup = "dialout";
        odd.description = "two\nlines\tand\x7f";
        dialout.stableName = byId.stableName = "/dev/serial/by-id/usb-Maker_Ltd_A5XK3RJT-if00-port0";
        longId.stableName = "/dev/serial/by-id/usb-Maker_Ltd_USB_serial_cable_A5XK3RJT-if00-port0";
        const std::tuple<int, rt::ComPortInfo, int, QByteArray> rows[] = {
            {1, {true, "/dev/ttyS0", "", "", "", 2, true, "", ""}, 0, "/dev/ttyS0"},
            {2, {true, "/dev/ttyACM0", "", "", "Maker Ltd", 2, true, "", ""}, 0,
             "/dev/ttyACM0: (Maker Ltd)"},
            {4, {false, "/dev/none", "QUORVAT_COM4", "", "", 2, true, "", ""}, 0,
             "QUORVAT_COM4=/dev/none: no such device"},
            {5, {false, "", "", "", "", 2, true, "", ""}, 0, "no port 5: 2 found"},
            {1, dialout, 0, usb + "\nNo permission: join group dialout, then log in again"},
            {1, noGroup, rt::kRS232CannotOpenPort,
             usb + "\nNo permission: ask for read and write access to it"},
            {1, odd, 0, "/dev/ttyUSB0: two lines and  (Maker Ltd)"},
            {1, byId, 0, usb + "\nby-id usb-Maker_Ltd_A5XK3RJT-if00-port0"},
            {1, longId, 0, usb + "\nby-id usb-Maker_Ltd_USB_se...e_A5XK3RJT-if00-port0"},
        };
        // clang-format on
        for (const auto &[number, info, openStatus, expected] : rows) {
            char line[320], small[12];
            ComPortLine(line, number, info, openStatus);
            QCOMPARE(QByteArray(line), expected);
            ComPortLine(small, number, info, openStatus); // cut, never overrun
            QCOMPARE(QByteArray(small), expected.left(sizeof small - 1));
        }
    }

    // The line on the panel follows the number, and after a try that found the line taken says
    // so, also when the panel is opened again, until the number changes or the port opens; the
    // status texts stay the documented ones.
    void theDeviceLineOnThePanel() {
        startUp({}, Link::Serial);
        const QByteArray pty = QByteArray::fromStdString(rig_->sim().ptyLink());
        const QByteArray rigLine = "QUORVAT_COM4=" + pty;
        const auto line = [] { return ctrlText(interfacepanel, INTERFACEP_COMPORTDEVICE); };
        QCOMPARE(line(), rigLine); // written at start-up, before the panel was ever open
        QVERIFY(openConnectionPanel());

        typeInto(interfacepanel, INTERFACEP_EDITSELECTCOMPORT, "97");
        QVERIFY(waitFor([&] { return line().startsWith("no port 97: "); }));

        // Another holder of the line: "Cannot open port" as ever, and the line says why.
        typeInto(interfacepanel, INTERFACEP_EDITSELECTCOMPORT, "4");
        QVERIFY(waitFor([&] { return line() == rigLine; }));
        rt::CloseCom(comport);
        QCOMPARE(rt::OpenComConfig(9, pty.constData(), 19200, 0, 8, 1, 512, 512), 0);
        QVERIFY(!tryToConnect());
        QCOMPARE(QByteArray(szStatus), QByteArray("Cannot open port"));
        QCOMPARE(line(), rigLine + "\nIn use by another program");
        rt::HidePanel(interfacepanel);
        QVERIFY(openConnectionPanel());
        QCOMPARE(line(), rigLine + "\nIn use by another program");
        // A device named in UTF-8 is shown as named.
        const QString named = QString::fromUtf8("/tmp/Ger\u00E4t");
        qputenv("QUORVAT_COM5", QFile::encodeName(named));
        typeInto(interfacepanel, INTERFACEP_EDITSELECTCOMPORT, "5");
        QVERIFY(waitFor([&] {
            return shownText(interfacepanel, INTERFACEP_COMPORTDEVICE) ==
                   "QUORVAT_COM5=" + named + ": no such device";
        }));
        typeInto(interfacepanel, INTERFACEP_EDITSELECTCOMPORT, "4");
        QVERIFY(waitFor([&] { return line() == rigLine; }));
        QVERIFY(!tryToConnect());
        QCOMPARE(line(), rigLine + "\nIn use by another program");
        rt::CloseCom(9);
        QVERIFY(tryToConnect());
        QCOMPARE(line(), rigLine);
    }

    // The error texts are the operator's documentation, quirks and all ("I/0", trailing blanks).
    // The TCP port is read up to its first non-digit, a long number held, not overflowed (then
    // refused), and a failed connect shows its box (nobody listening: test_startup).
    void failedConnectsAndTheirTexts() {
        loadPanels(); // without the combo box start-up makes of the address field
        setStartupSizes();
        QCOMPARE(QByteArray(SerialErrorText(-4)), QByteArray("Unknown I/0 error"));
        const std::pair<int, const char *> tcp[] = {{-11, "TimeOutError "},
                                                    {-12, "NoConnectionEstablished "},
                                                    {-17, "NetworkSubsystemNotReady "}};
        for (const auto &[code, text] : tcp)
            QCOMPARE(QByteArray(TcpErrorText(code)), QByteArray(text));

        // A port number out of range: its reason in the status line (no such device: test_startup).
        comport = 300;
        InitRS232();
        QCOMPARE(ctrlText(panel, P_DISPSTATUS), QByteArray("Invalid port number"));

        const struct {
            const char *port, *host, *box; // box empty: no connect tried
            int number;
        } rows[] = {
            {"5000x", "h", "", 5000}, // digits, then more
            {"x5000", "127.0.0.1", "InvalidParameter", 0},
            {"99999999999999999999", "127.0.0.1", "InvalidParameter", INT_MAX},
            {"10001", "", "InvalidParameter", 10001}, // no address
        };
        for (const auto &r : rows) {
            // Over the pty: no failed TCP check to wait out.
            rig_->select(Link::Serial);
            rt::SetCtrlVal(interfacepanel, INTERFACEP_STRINGPORTNUMBER, r.port);
            rt::SetCtrlVal(interfacepanel, INTERFACEP_STRINGIPADRESS, r.host);
            TryToConnect();
            QCOMPARE(portNum, r.number);
            QCOMPARE(ctrlText(panel, P_IPADRESS), QByteArray(r.host));
            if (!*r.box)
                continue;
            PopupRecorder popups;
            InitTCP_IP();
            QCOMPARE(popups.count(), std::size_t(1));
            QVERIFY(popups.last().title == "TCP Client" && popups.last().text == r.box);
            QCOMPARE(tcpcon, u16(0));
        }
    }

    // Bytes left on the line before a request, over either link, never start its reply.
    void bytesLeftOnTheLineAreDropped() {
        for (Link link : {Link::Tcp, Link::Serial}) {
            rig_->connect(link);
            rig_->sim().setFactors({1001, 1002, 1003});
            rig_->sim().sendUnasked(std::vector<std::uint8_t>(16, 0xEE));
            pump(100);
            QVERIFY(GetCF());
            QCOMPARE(std::make_tuple(cfrot, cfgruen, cfblau),
                     std::make_tuple(u16(1001), u16(1002), u16(1003)));
        }
    }

    // More server closes than the client holds conversations (256): each releases its
    // conversation, else the reconnects fail with "TooManyConversations". No box says so.
    void everyServerCloseReleasesItsConversation() {
        rig_->select(Link::Tcp);
        constexpr int kCloses = 300;
        for (int i = 0; i <= kCloses; ++i) {
            std::memset(version, 0, sizeof version);
            TryToConnect();
            QVERIFY(ret == 0 && tcpcon == 1);
            QCOMPARE(QByteArray(version), QByteArray(kVersion));
            if (i == kCloses)
                break;
            rig_->sim().dropTcpConnections();
            QVERIFY(waitFor([] { return LinkLost(); }));
        }
    }

    // A line that goes is opened again by itself, without a box: idle, or under a GO loop, which
    // waits and goes on. Back, it shows the version, this sensor's factors and no old reading.
    // The server closing over and over never uses up the client's conversations.
    void aLostLineComesBackByItself_data() {
        QTest::addColumn<Link>("link");
        QTest::addColumn<bool>("go");
        for (Link link : {Link::Tcp, Link::Serial})
            for (bool go : {false, true})
                QTest::addRow("%s%s", linkName(link), go ? " during GO" : "") << link << go;
    }
    void aLostLineComesBackByItself() {
        QFETCH(Link, link);
        QFETCH(bool, go);
        SensorRig rig(quietSensor(kVersion));
        loadPanels();
        setStartupSizes();
        rig.connect(link);
        StartLinkWatch();
        const auto lose = [&](u16 red) {
            rig.sim().setFactors({red, 950, 1200});
            enterFactors(1, 2, 3);
            if (link == Link::Tcp)
                rig.sim().dropTcpConnections();
            else
                rig.sim().closePty();
        };
        const auto back = [&](u16 red) {
            return boxValue(P_EDITCFR) == red && statusLine() == kVersion;
        };
        if (!go) {
            for (u16 red : {1100, 1101, 1102}) {
                lose(red);
                QVERIFY(waitFor([&] {
                    return statusLine() == (link == Link::Tcp ? "Server has closed connection!"
                                                              : "Serial device has gone!");
                }));
                if (link == Link::Serial)
                    QVERIFY(rig.sim().reopenPty());
                QVERIFY(waitFor([&] { return back(red); }, 10000));
                QCOMPARE(dataRawR, u16(0));
            }
        } else { // driven from inside the GO loop, which pumps events
            bool waited = false, went = false;
            whenever([] { return dataRawR != 0; }, [&] { lose(1100); });
            whenever([] { return statusLine() == "LINK LOST - RECONNECTING"; },
                     [&] { waited = link == Link::Tcp || rig.sim().reopenPty(); });
            whenever([&] { return waited && back(1100) && dataRawR != 0; },
                     [&] { went = true, poll = 0; });
            click(panel, P_BUTTONGO);
            QVERIFY(waitFor([&] { return went && commandsLive(); }, 15000));
        }
        QCOMPARE(popups_->count(), std::size_t(0));
    }

    // Once open on a device, a serial link keeps to it while the number stays: a reconnect finds
    // it where it is now (another device took its number); FINISH's does not open another when
    // it is gone. A new number means what it means now.
    void aReconnectOpensTheSameDevice() {
        SensorRig other(quietSensor("ANOTHER SENSOR"));
        rig_->connect(Link::Serial);
        qputenv("QUORVAT_COM6", qgetenv("QUORVAT_COM4"));
        qputenv("QUORVAT_COM4", QByteArray::fromStdString(other.sim().ptyLink()));
        TryToConnect();
        QCOMPARE(QByteArray(version), QByteArray(kVersion));
        QCOMPARE(comport, u16(6));
        u16 shown = 0;
        rt::GetCtrlVal(interfacepanel, INTERFACEP_EDITSELECTCOMPORT, &shown);
        QCOMPARE(shown, u16(6));
        rig_->sim().closePty();
        TryToConnect(true);
        QCOMPARE(statusLine(), QByteArray("TIMEOUT")); // after "No serial port found"
        QCOMPARE(QByteArray(version), QByteArray(kVersion));
        rt::SetCtrlVal(interfacepanel, INTERFACEP_EDITSELECTCOMPORT, 4);
        TryToConnect();
        QCOMPARE(QByteArray(version), QByteArray("ANOTHER SENSOR"));
        QVERIFY(rig_->sim().reopenPty());
        qunsetenv("QUORVAT_COM6");
    }
};

QTEST_MAIN(LinkTest)
#include "test_link.moc"
