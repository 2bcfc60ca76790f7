// The link where the fault matrix does not take it: the operator's words for failed opens and
// connects, the port text, stray TCP bytes while a serial transaction waits, and the sensor
// closing the TCP connection again and again.
#include "link/link.h"
#include "platform/rs232.h"
#include "platform/tcp.h"
#include "protocol/commands.h"
#include "shell/controls.h"
#include "shell/state.h"
#include "tests/support/rig.h"
#include "tests/support/support.h"

#include <QTest>

#include <climits>
#include <cstring>

using namespace qv;
using qvtest::Link;

namespace {
constexpr char kVersion[] = "LINK TEST SENSOR";
} // namespace

class LinkTest : public QObject {
    Q_OBJECT
    std::unique_ptr<qvtest::SensorRig> rig_;

  private slots:
    void initTestCase() {
        qvtest::loadPanels();
        qvtest::setStartupSizes();
        rig_ = std::make_unique<qvtest::SensorRig>(qvtest::quietSensor(kVersion));
    }

    void cleanupTestCase() {
        rt::CloseCom(comport);
        if (tcpcon)
            rt::DisconnectFromTCPServer(g_hconversation);
        rig_.reset();
    }

    // The words are the operator's documentation: each must stay as it is.
    void errorTexts() {
        // clang-format off
        const std::pair<int, const char *> serial[] = {
            {-1, "Unknown system error"}, {-3, "Port is not open"}, {-4, "Unknown I/0 error"},
            {-5, "RS-232 error!"}, {-7, "Cannot open port"}, {-8, "RS-232 error!"}, {-99, "Timeout"}};
        const std::pair<int, const char *> tcp[] = {
            {-2, "UnableToEstablishConnection"}, {-6, "TooManyConversations"},
            {-9, "InvalidParameter"}, {-11, "TimeOutError "}, {-12, "NoConnectionEstablished "},
            {-14, "ConnectionClosed"}, {-17, "NetworkSubsystemNotReady "},
            {-20, "InfoNotAvailable"}, {-21, "Connection to server failed"},
            {-25, "Connection to server failed"}};
        // clang-format on
        for (const auto &[code, text] : serial)
            QCOMPARE(QByteArray(SerialErrorText(code)), QByteArray(text));
        for (const auto &[code, text] : tcp)
            QCOMPARE(QByteArray(TcpErrorText(code)), QByteArray(text));

        // A port that cannot be opened shows its reason in the status line (-6 and -2).
        qputenv("QUORVAT_COM3", "/nonexistent/quorvat-serial");
        for (const auto &[port, text] :
             {std::pair{3, "No serial port found"}, std::pair{300, "Invalid port number"}}) {
            comport = u16(port);
            InitRS232();
            QCOMPARE(QByteArray(szStatus), QByteArray(text));
            QCOMPARE(qvtest::ctrlText(panel, P_DISPSTATUS), QByteArray(text));
        }
    }

    // The TCP port is read up to its first non-digit, a long number held rather than overflowed
    // (then refused), and a failed connect shows its box.
    void portTextAndConnectFailures() {
        const struct {
            const char *port, *host;
            int number;
            const char *box; // empty: no connect tried
        } rows[] = {
            {"5000x", "h", 5000, ""}, // digits, then more
            {"x5000", "127.0.0.1", 0, "InvalidParameter"},
            {"99999999999999999999", "127.0.0.1", INT_MAX, "InvalidParameter"},
            {"1", "127.0.0.1", 1, "UnableToEstablishConnection"}, // nobody listens
            {"10001", "", 10001, "InvalidParameter"},             // no address
        };
        for (const auto &r : rows) {
            // Over the pty the reconnect reads both texts without waiting out a failed TCP
            // check.
            rig_->select(Link::Serial);
            rt::SetCtrlVal(interfacepanel, INTERFACEP_STRINGPORTNUMBER, r.port);
            rt::SetCtrlVal(interfacepanel, INTERFACEP_STRINGIPADRESS, r.host);
            TryToConnect();
            QCOMPARE(portNum, r.number);
            QCOMPARE(qvtest::ctrlText(panel, P_IPADRESS), QByteArray(r.host));
            if (!*r.box)
                continue;
            qvtest::PopupRecorder popups;
            InitTCP_IP();
            QCOMPARE(popups.count(), std::size_t(1));
            QVERIFY(popups.last().title == "TCP Client" && popups.last().text == r.box);
            QCOMPARE(tcpcon, u16(0));
        }
    }

    // Bytes that no TCP transaction awaits are read and dropped, also while a serial
    // transaction left its count of missing bytes above 0: they never become the start of a
    // later TCP reply.
    void strayTcpBytesNeverReachALaterReply() {
        rig_->connect(Link::Tcp);
        rig_->connect(Link::Serial); // the TCP conversation stays open, and its callback live
        rig_->sim().addFault(qvsim::Fault::noReply().forCommand(qvsim::command::GetCf).onlyNth(1));
        qvtest::PopupRecorder popups;
        GetCF(); // fails: all 6 still missing, none in the serial queue
        QCOMPARE(bytesToRead, 6);
        rig_->sim().sendUnasked(std::vector<std::uint8_t>(16, 0xEE));
        qvtest::pump(100);
        comprotocol = 1; // the selector changed, no reconnect
        rig_->sim().setFactors({1001, 1002, 1003});
        GetCF();
        QCOMPARE(popups.count(), std::size_t(1));
        QCOMPARE(cfrot, u16(1001));
        QCOMPARE(cfblau, u16(1003));
    }

    // More closes than the TCP client holds conversations at once (256): each is reported once
    // and releases its conversation, or the reconnects after that would fail with
    // "TooManyConversations". The program reconnects every time.
    void everyServerCloseReleasesItsConversation() {
        rig_->select(Link::Tcp);
        qvtest::PopupRecorder popups;
        constexpr int kCloses = 300;
        for (int i = 0; i <= kCloses; ++i) {
            std::memset(version, 0, sizeof version);
            TryToConnect();
            QVERIFY(ret == 0 && tcpcon == 1);
            QCOMPARE(QByteArray(version), QByteArray(kVersion));
            if (i == kCloses)
                break;
            const unsigned closed = g_hconversation;
            rig_->sim().dropTcpConnections();
            QVERIFY(qvtest::waitFor([] { return tcpcon == 0; }));
            QCOMPARE(g_hconversation, 0u);
            // Released by the program already: the handle is unknown.
            QCOMPARE(rt::DisconnectFromTCPServer(closed), rt::kTCP_NoConnectionEstablished);
        }
        QCOMPARE(popups.count(), std::size_t(kCloses));
        for (const qvtest::Popup &p : popups.popups)
            QVERIFY(p.title == "TCP Client" && p.text == "Server has closed connection!");
    }
};

QTEST_MAIN(LinkTest)
#include "test_link.moc"
