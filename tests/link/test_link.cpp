// The reconnect sequence and the link check against the simulator, over a real TCP socket on
// 127.0.0.1 and a real pseudo-terminal.
#include "calibration/calibration.h"
#include "link/connectpanel.h"
#include "link/link.h"
#include "platform/rs232.h"
#include "platform/tcp.h"
#include "platform/utility.h"
#include "protocol/codec.h"
#include "protocol/commands.h"
#include "shell/controls.h"
#include "shell/state.h"
#include "sim/simulator.h"
#include "tests/support/rig.h"
#include "tests/support/support.h"

#include <QTest>
#include <QTimer>

#include <chrono>
#include <cstring>
#include <thread>

using namespace qv;
using namespace qv::rt;

namespace {

constexpr char kVersion[] = "LINK TEST SENSOR FW 2.31 / 48 BYTES OF TEXT HERE"; // exactly 48

QByteArray statusText(int panelHandle, int control) {
    char text[256] = "";
    rt::GetCtrlVal(panelHandle, control, text);
    return text;
}

int acceptDimmed() {
    int d = -1;
    rt::GetCtrlAttribute(interfacepanel, INTERFACEP_BUTTONACCEPT, rt::ATTR_DIMMED, &d);
    return d;
}

} // namespace

class LinkTest : public QObject {
    Q_OBJECT
    std::unique_ptr<qvsim::Simulator> sim_;

    void useTcp(const char *port, const char *host = "127.0.0.1") {
        rt::SetCtrlVal(interfacepanel, INTERFACEP_EDITCOMMUNICATIONPROTOCOL, 1);
        rt::SetCtrlVal(interfacepanel, INTERFACEP_STRINGPORTNUMBER, port);
        rt::SetCtrlVal(interfacepanel, INTERFACEP_STRINGIPADRESS, host);
    }
    void useTcp() { useTcp(QByteArray::number(sim_->tcpPort()).constData()); }

    void useSerial(const std::string &device) {
        qputenv("QUORVAT_COM3", QByteArray::fromStdString(device));
        rt::SetCtrlVal(interfacepanel, INTERFACEP_EDITCOMMUNICATIONPROTOCOL, 0);
        rt::SetCtrlVal(interfacepanel, INTERFACEP_EDITSELECTCOMPORT, 3);
    }

    // Runs the reconnect sequence and returns how long it took, in seconds.
    double tryToConnect() {
        const double t0 = rt::Timer();
        TryToConnect();
        return rt::Timer() - t0;
    }

    void expectVersionShown() {
        QCOMPARE(statusText(panel, P_DISPSTATUS), QByteArray(kVersion));
        QCOMPARE(statusText(interfacepanel, INTERFACEP_STATUS), QByteArray(kVersion));
        QCOMPARE(QByteArray(version), QByteArray(kVersion));
        QCOMPARE(acceptDimmed(), 0);
    }

    void expectFailureShown() {
        QCOMPARE(statusText(panel, P_DISPSTATUS), QByteArray("TIMEOUT"));
        QCOMPARE(statusText(interfacepanel, INTERFACEP_STATUS), QByteArray("CONNECTION FAILURE"));
    }

  private slots:
    void initTestCase() {
        qvtest::loadPanels();
        qvtest::setStartupSizes();
        sim_ = std::make_unique<qvsim::Simulator>(qvtest::quietSensor(kVersion));
        std::string error;
        QVERIFY2(sim_->start(&error), error.c_str());
    }

    void init() {
        sim_->clearFaults();
        rt::SetCtrlAttribute(interfacepanel, INTERFACEP_BUTTONACCEPT, rt::ATTR_DIMMED, 1);
        std::memset(version, 0, sizeof version);
    }

    void cleanupTestCase() {
        CloseCom(comport);
        if (tcpcon)
            DisconnectFromTCPServer(g_hconversation);
        sim_.reset();
    }

    void tcpCheckShowsTheVersion() {
        qvtest::PopupRecorder popups;
        useTcp();
        tryToConnect();
        QCOMPARE(tcpcon, u16(1));
        expectVersionShown();
        QCOMPARE(popups.count(), std::size_t(0));
        // The main panel shows the TCP address, not the COM port.
        int visible = -1;
        rt::GetCtrlAttribute(panel, P_IPADRESS, rt::ATTR_VISIBLE, &visible);
        QCOMPARE(visible, 1);
        rt::GetCtrlAttribute(panel, P_COMPORT, rt::ATTR_VISIBLE, &visible);
        QCOMPARE(visible, 0);
        QCOMPARE(statusText(panel, P_IPADRESS), QByteArray("127.0.0.1"));
    }

    void serialCheckShowsTheVersion() {
        useSerial(sim_->ptyPath());
        tryToConnect();
        expectVersionShown();
        unsigned short shown = 0;
        rt::GetCtrlVal(panel, P_COMPORT, &shown);
        QCOMPARE(shown, static_cast<unsigned short>(3));
    }

    // The serial check counts exactly 48 bytes: fewer fail after the wait and are read out of
    // the queue all the same; more fail although a whole reply came.
    void serialCheckNeedsExactlyFortyEightBytes() {
        useSerial(sim_->ptyPath());
        sim_->addFault(qvsim::Fault::shortReply(1).forCommand(qvsim::command::GetVersion));
        const double took = tryToConnect();
        expectFailureShown();
        QVERIFY2(took > 2.0 && took < 3.0, qPrintable(QString::number(took)));
        QCOMPARE(GetInQLen(comport), 0);
        QCOMPARE(QByteArray(reinterpret_cast<char *>(szReadBuf), 47), QByteArray(kVersion, 47));
        QCOMPARE(acceptDimmed(), 1);

        sim_->clearFaults();
        sim_->addFault(qvsim::Fault::longReply(1).forCommand(qvsim::command::GetVersion));
        tryToConnect();
        expectFailureShown();
        QCOMPARE(QByteArray(version), QByteArray()); // kept from before: empty
    }

    void tcpReplyInTwoPiecesIsCollected() {
        useTcp();
        sim_->addFault(qvsim::Fault::shortReply(28).forCommand(qvsim::command::GetVersion));
        // The missing 28 bytes come a little later, as a second piece of the same reply. The
        // receive callback is blocked reading them meanwhile, so they must come from elsewhere.
        std::thread later([this] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            sim_->sendUnasked(std::vector<std::uint8_t>(kVersion + 20, kVersion + 48));
        });
        TryToConnect();
        later.join();
        expectVersionShown();
    }

    // Of a 60-byte answer the check takes 48; the other 12 are dropped when they turn up with
    // no transaction waiting, so the next reply is clean.
    void tcpSurplusIsDiscarded() {
        useTcp();
        sim_->addFault(qvsim::Fault::longReply(12).forCommand(qvsim::command::GetVersion));
        TryToConnect();
        expectVersionShown();
        qvtest::pump(100);
        sim_->setFactors({1001, 1002, 1003});
        qvtest::PopupRecorder popups;
        GetCF();
        QCOMPARE(popups.count(), std::size_t(0));
        QCOMPARE(cfrot, u16(1001));
        QCOMPARE(cfblau, u16(1003));
    }

    void unaskedDataIsDropped() {
        useTcp();
        TryToConnect();
        sim_->sendUnasked(3000);
        qvtest::pump(200);
        QCOMPARE(bytesToRead, 0);
        CheckComLine();
        expectVersionShown();
    }

    // Bytes that no TCP transaction awaits are read and dropped, also while a serial
    // transaction left its count of missing bytes above 0: they never become the start of a
    // later TCP reply.
    void strayTcpBytesNeverReachALaterReply() {
        useTcp();
        TryToConnect();
        useSerial(sim_->ptyPath());
        TryToConnect(); // the TCP conversation stays open, and its callback live
        sim_->addFault(qvsim::Fault::noReply().forCommand(qvsim::command::GetCf).onlyNth(1));
        qvtest::PopupRecorder popups;
        GetCF(); // fails: all 6 still missing, none in the serial queue
        QCOMPARE(bytesToRead, 6);
        sim_->sendUnasked(std::vector<std::uint8_t>(16, 0xEE));
        qvtest::pump(100);
        comprotocol = 1; // the selector changed, no reconnect
        sim_->setFactors({1001, 1002, 1003});
        GetCF();
        QCOMPARE(popups.count(), std::size_t(1));
        QCOMPARE(cfrot, u16(1001));
        QCOMPARE(cfblau, u16(1003));
    }

    void serverDisconnectIsReported() {
        useTcp();
        TryToConnect();
        QCOMPARE(tcpcon, u16(1));
        qvtest::PopupRecorder popups;
        sim_->dropTcpConnections();
        QVERIFY(qvtest::waitFor([&] { return popups.count() > 0; }));
        QCOMPARE(QByteArray(popups.last().title.c_str()), QByteArray("TCP Client"));
        QCOMPARE(QByteArray(popups.last().text.c_str()),
                 QByteArray("Server has closed connection!"));
        QCOMPARE(tcpcon, u16(0));
        QCOMPARE(g_hconversation, 0u);
        // With tcpcon 0 the next reconnect goes straight to connecting.
        TryToConnect();
        QCOMPARE(tcpcon, u16(1));
        expectVersionShown();
        QCOMPARE(popups.count(), std::size_t(1));
    }

    void serialOpenFailuresShowTheirText() {
        useSerial("/nonexistent/quorvat-serial");
        const double took = tryToConnect();
        QCOMPARE(QByteArray(szStatus), QByteArray("No serial port found"));
        QCOMPARE(ret, std::int16_t(-6));
        // The check still runs, waits its 2 s, and overwrites the status line.
        QVERIFY(took > 2.0);
        expectFailureShown();

        rt::SetCtrlVal(interfacepanel, INTERFACEP_EDITCOMMUNICATIONPROTOCOL, 0);
        qunsetenv("QUORVAT_COM300");
        comport = 300; // beyond any port number
        InitRS232();
        QCOMPARE(QByteArray(szStatus), QByteArray("Invalid port number"));
        QCOMPARE(statusText(panel, P_DISPSTATUS), QByteArray("Invalid port number"));
    }

    void errorTextsAreVerbatim() {
        QCOMPARE(QByteArray(SerialErrorText(-99)), QByteArray("Timeout"));
        QCOMPARE(QByteArray(SerialErrorText(-4)), QByteArray("Unknown I/0 error"));
        QCOMPARE(QByteArray(SerialErrorText(-5)), QByteArray("RS-232 error!"));
        QCOMPARE(QByteArray(SerialErrorText(-8)), QByteArray("RS-232 error!"));
        QCOMPARE(QByteArray(TcpErrorText(-11)), QByteArray("TimeOutError "));
        QCOMPARE(QByteArray(TcpErrorText(-12)), QByteArray("NoConnectionEstablished "));
        QCOMPARE(QByteArray(TcpErrorText(-17)), QByteArray("NetworkSubsystemNotReady "));
        QCOMPARE(QByteArray(TcpErrorText(-20)), QByteArray("InfoNotAvailable"));
        QCOMPARE(QByteArray(TcpErrorText(-21)), QByteArray("Connection to server failed"));
        QCOMPARE(QByteArray(TcpErrorText(-25)), QByteArray("Connection to server failed"));
    }

    void connectFailuresShowTheirBox() {
        const struct {
            const char *port;
            const char *host;
            const char *text;
        } cases[] = {
            {"1", "127.0.0.1", "UnableToEstablishConnection"}, // nobody listens on port 1
            {"0", "127.0.0.1", "InvalidParameter"},
            {"10001", "", "InvalidParameter"},
        };
        for (const auto &c : cases) {
            qvtest::PopupRecorder popups;
            useTcp(c.port, c.host);
            const double took = tryToConnect();
            QVERIFY(!popups.popups.empty());
            QCOMPARE(QByteArray(popups.popups[0].title.c_str()), QByteArray("TCP Client"));
            QCOMPARE(QByteArray(popups.popups[0].text.c_str()), QByteArray(c.text));
            QCOMPARE(tcpcon, u16(0));
            // The check follows and fails after its 5 s; the status line shows it.
            QVERIFY(took > 5.0);
            expectFailureShown();
        }
    }

    void portTextIsReadUpToItsFirstNonDigit() {
        qvtest::PopupRecorder popups;
        useTcp("5000x");
        rt::SetCtrlVal(interfacepanel, INTERFACEP_EDITCOMMUNICATIONPROTOCOL, 7); // no link at all
        TryToConnect();
        QCOMPARE(portNum, 5000);
        rt::SetCtrlVal(interfacepanel, INTERFACEP_STRINGPORTNUMBER, "x5000");
        TryToConnect();
        QCOMPARE(portNum, 0);
        rt::SetCtrlVal(interfacepanel, INTERFACEP_STRINGPORTNUMBER, "99999999999999999999");
        TryToConnect();
        QVERIFY(portNum > 65535); // held, not overflowed; the connect then refuses it
    }
};

QTEST_MAIN(LinkTest)
#include "test_link.moc"
