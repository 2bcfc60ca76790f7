// The sensor closing the TCP connection, again and again: each close is reported once, the
// conversation it ended is released, and the program reconnects every time the operator asks,
// however many closes came before.
#include "link/link.h"
#include "platform/tcp.h"
#include "shell/state.h"
#include "tests/support/rig.h"
#include "tests/support/support.h"

#include <QTest>

#include <cstring>

using namespace qv;

namespace {
constexpr char kVersion[] = "SERVER CLOSE TEST SENSOR";
} // namespace

class ServerCloseTest : public QObject {
    Q_OBJECT
    std::unique_ptr<qvtest::SensorRig> rig_;

  private slots:
    void initTestCase() {
        qvtest::loadPanels();
        qvtest::setStartupSizes();
        rig_ = std::make_unique<qvtest::SensorRig>(qvtest::quietSensor(kVersion, false));
        rig_->select(qvtest::Link::Tcp);
    }

    void cleanupTestCase() {
        if (tcpcon)
            rt::DisconnectFromTCPServer(g_hconversation);
        rig_.reset();
    }

    // More closes than the TCP client holds conversations at once (256): were a closed one
    // kept, the reconnects after that would fail with "TooManyConversations".
    void everyCloseReleasesItsConversation() {
        qvtest::PopupRecorder popups;
        constexpr int kCloses = 300;
        for (int i = 0; i < kCloses; ++i) {
            std::memset(version, 0, sizeof version);
            TryToConnect();
            QCOMPARE(ret, std::int16_t(0));
            QCOMPARE(tcpcon, std::uint16_t(1));
            QCOMPARE(QByteArray(version), QByteArray(kVersion));
            const unsigned closed = g_hconversation;
            rig_->sim().dropTcpConnections();
            QVERIFY(qvtest::waitFor([] { return tcpcon == 0; }));
            QCOMPARE(g_hconversation, 0u);
            // Released by the program already: the handle is unknown.
            QCOMPARE(rt::DisconnectFromTCPServer(closed), rt::kTCP_NoConnectionEstablished);
        }
        QCOMPARE(popups.count(), std::size_t(kCloses));
        for (const qvtest::Popup &p : popups.popups) {
            QCOMPARE(QByteArray(p.title.c_str()), QByteArray("TCP Client"));
            QCOMPARE(QByteArray(p.text.c_str()), QByteArray("Server has closed connection!"));
        }
        TryToConnect();
        QCOMPARE(tcpcon, std::uint16_t(1));
        QCOMPARE(QByteArray(version), QByteArray(kVersion));
    }
};

QTEST_MAIN(ServerCloseTest)
#include "test_serverclose.moc"
