// Which device a port number means: the numbering fed with port lists as a system could report
// them, and the environment override against a real pseudo-terminal.
#include "platform/rs232.h"
#include "platform/serialports.h"

#include <QTest>

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

using namespace qv::rt;

namespace {

// "ttyS0:4 ttyS1:0 ttyUSB0": names, each with its UART type after a colon when reported.
std::vector<SerialPortEntry> reportedPorts(const QString &list) {
    std::vector<SerialPortEntry> ports;
    for (const QString &item : list.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        SerialPortEntry e;
        const QStringList parts = item.split(QLatin1Char(':'));
        e.name = parts[0].toStdString();
        e.device = "/dev/" + e.name;
        if (parts.size() > 1)
            e.uartType = parts[1].toInt();
        ports.push_back(e);
    }
    return ports;
}

// "1:ttyS0 2:ttyUSB0"
QString numbersOf(const std::vector<NumberedSerialPort> &ports) {
    QStringList items;
    for (const NumberedSerialPort &p : ports)
        items << QStringLiteral("%1:%2").arg(p.number).arg(QString::fromStdString(p.port.name));
    return items.join(QLatin1Char(' '));
}

} // namespace

class SerialPortsTest : public QObject {
    Q_OBJECT

  private slots:
    void numbering_data() {
        QTest::addColumn<QString>("reported");
        QTest::addColumn<QString>("expected");
        // clang-format off
        QTest::addRow("none at all") << "" << "";
        QTest::addRow("only the kernel's placeholders") << "ttyS0:0 ttyS1:0 ttyS2:0 ttyS3:0" << "";
        QTest::addRow("one on-board UART: COM 1 stays ttyS0")
            << "ttyS3:0 ttyS2:0 ttyS1:0 ttyS0:4" << "1:ttyS0";
        QTest::addRow("an adapter on a PC without a UART")
            << "ttyS0:0 ttyS1:0 ttyUSB0" << "1:ttyUSB0";
        QTest::addRow("on-board, then ACM, then USB")
            << "ttyUSB0 ttyACM0 ttyS1:0 ttyS0:4" << "1:ttyS0 2:ttyACM0 3:ttyUSB0";
        QTest::addRow("numeric order, gaps closed")
            << "ttyUSB10 ttyUSB2 ttyACM3 ttyACM1" << "1:ttyACM1 2:ttyACM3 3:ttyUSB2 4:ttyUSB10";
        QTest::addRow("a UART behind a placeholder keeps its number")
            << "ttyS0:0 ttyS1:4 ttyUSB0" << "1:ttyUSB0 2:ttyS1";
        QTest::addRow("card ports above the legacy four keep theirs")
            << "ttyS0:4 ttyS1:0 ttyS2:0 ttyS3:0 ttyS4:4 ttyS5:4 ttyUSB1 ttyUSB0"
            << "1:ttyS0 2:ttyUSB0 3:ttyUSB1 5:ttyS4 6:ttyS5";
        QTest::addRow("other on-board names, type unknown, before adapters")
            << "ttyUSB0 ttyAMA1 ttyAMA0:0 ttyS0:-1" << "1:ttyS0 2:ttyAMA1 3:ttyUSB0";
        QTest::addRow("names without a usable number come last in their group")
            << "ttyUSB ttyUSB99999999999 ttyUSB0 ttyS99999999999:4"
            << "1:ttyS99999999999 2:ttyUSB0 3:ttyUSB 4:ttyUSB99999999999";
        QTest::addRow("a ttyS beyond the highest number lines up with the rest")
            << "ttyS300:4 ttyS0:4" << "1:ttyS0 2:ttyS300";
        // clang-format on
    }

    void numbering() {
        QFETCH(QString, reported);
        QFETCH(QString, expected);
        QCOMPARE(numbersOf(NumberSerialPorts(reportedPorts(reported))), expected);
    }

    // QUORVAT_COM<n> wins over the listing, and names the device the port opens: a pty here.
    void theEnvironmentNamesTheDevice() {
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
        const std::string pty = ::ptsname(master);
        const int slave = ::open(pty.c_str(), O_RDWR | O_NOCTTY); // no hang-up between opens
        const std::vector<NumberedSerialPort> numbered = NumberSerialPorts(ReadSerialPorts());
        const int present = static_cast<int>(numbered.size());

        ComPortInfo info;
        QVERIFY(::setenv("QUORVAT_COM9", pty.c_str(), 1) == 0);
        QCOMPARE(GetComPortInfo(9, &info), 0);
        QVERIFY(info.present && info.mayOpen);
        QCOMPARE(info.device, pty);
        QCOMPARE(info.variable, std::string("QUORVAT_COM9"));
        QCOMPARE(info.portsFound, present);
        QCOMPARE(OpenComConfig(9, "", 19200, kParityNone, 8, 1, 512, 512), 0);
        QCOMPARE(ComWrt(9, "nine", 4), 4);
        char got[4] = {};
        QCOMPARE(::read(master, got, 4), ssize_t(4));
        QCOMPARE(QByteArray(got, 4), QByteArray("nine"));
        QCOMPARE(CloseCom(9), 0);

        QVERIFY(::setenv("QUORVAT_COM9", "/dev/quorvat-none", 1) == 0);
        QCOMPARE(GetComPortInfo(9, &info), 0);
        QVERIFY(!info.present);
        QCOMPARE(info.device, std::string("/dev/quorvat-none"));
        ::unsetenv("QUORVAT_COM9");

        // A number no port has: nothing is opened at all.
        int beyond = 1;
        for (const NumberedSerialPort &p : numbered)
            beyond += p.number == beyond;
        QCOMPARE(GetComPortInfo(beyond, &info), 0);
        QVERIFY(!info.present && info.device.empty() && info.variable.empty());
        QCOMPARE(ComPortDevice(beyond), std::string());
        QCOMPARE(OpenComConfig(beyond, nullptr, 19200, kParityNone, 8, 1, 512, 512),
                 kRS232NoSerialPortFound);
        for (int bad : {0, kMaxComPort + 1})
            QCOMPARE(GetComPortInfo(bad, &info), kRS232InvalidPort);
        ::close(slave);
        ::close(master);
    }
};

QTEST_MAIN(SerialPortsTest)
#include "test_serialports.moc"
