// Which device a port number means: the numbering fed with port lists as a system could report
// them. (QUORVAT_COM<n> and the device line: tests/link/test_connectpanel; numbers out of range:
// test_rs232.)
#include "platform/serialports.h"

#include <QTest>

using namespace qv::rt;

class SerialPortsTest : public QObject {
    Q_OBJECT

  private slots:
    void numbering_data() {
        QTest::addColumn<QString>("reported"); // names, each with its UART type when reported
        QTest::addColumn<QString>("expected"); // number:name
        // clang-format off
        QTest::addRow("only the kernel's placeholders") << "ttyS0:0 ttyS1:0 ttyS2:0 ttyS3:0" << "";
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
        std::vector<SerialPortEntry> ports;
        for (const QString &item : reported.split(' ', Qt::SkipEmptyParts)) {
            const QStringList parts = item.split(':');
            ports.push_back({});
            ports.back().name = parts[0].toStdString();
            ports.back().device = "/dev/" + ports.back().name;
            ports.back().uartType = parts.size() > 1 ? parts[1].toInt() : ports.back().uartType;
        }
        QStringList numbered;
        for (const NumberedSerialPort &p : NumberSerialPorts(ports))
            numbered << QStringLiteral("%1:%2").arg(p.number).arg(p.port.name.c_str());
        QCOMPARE(numbered.join(' '), expected);
    }
};

QTEST_MAIN(SerialPortsTest)
#include "test_serialports.moc"
