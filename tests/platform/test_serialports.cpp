// Which device a port number means, and which port a device's identity finds: fed with port
// lists as a system could report them. (QUORVAT_COM<n> and the device line: tests/link;
// numbers out of range: test_rs232.)
#include "platform/serialports.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace qv::rt;

namespace {

// "name[:uart type][+vendor:product:serial[+by-id name]]" per port, blank-separated.
std::vector<SerialPortEntry> portsOf(const QString &reported) {
    std::vector<SerialPortEntry> ports;
    for (const QString &item : reported.split(' ', Qt::SkipEmptyParts)) {
        const QStringList fields = item.split('+'), name = fields[0].split(':'),
                          usb = fields.value(1).split(':');
        SerialPortEntry &p = ports.emplace_back();
        p.name = name[0].toStdString();
        p.device = "/dev/" + p.name;
        p.uartType = name.size() > 1 ? name[1].toInt() : p.uartType;
        std::tie(p.vendorId, p.productId, p.serialNumber) = std::tuple(
            usb.value(0).toStdString(), usb.value(1).toStdString(), usb.value(2).toStdString());
        if (fields.size() > 2)
            p.stablePath = "/dev/serial/by-id/" + fields[2].toStdString();
    }
    return ports;
}

} // namespace

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
        QStringList numbered;
        for (const NumberedSerialPort &p : NumberSerialPorts(portsOf(reported)))
            numbered << QStringLiteral("%1:%2").arg(p.number).arg(p.port.name.c_str());
        QCOMPARE(numbered.join(' '), expected);
    }

    // The identity of a number taken from one port list, and the port it finds in a later one.
    void identity_data() {
        QTest::addColumn<QString>("before");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("after");
        QTest::addColumn<QString>("expected"); // "identity -> the name of the port found"
        const QString usb0 = "ttyUSB0+0403:6001:A5X", usb1 = "ttyUSB1+0403:6001:A5X";
        // clang-format off
        QTest::addRow("replugged: by-id first") << usb0 + "+usb-A5X" << 1 << usb1 + "+usb-A5X"
            << "by-id:/dev/serial/by-id/usb-A5X -> ttyUSB1";
        QTest::addRow("replugged: the USB triple (a by-id link come since)") << usb0 << 1
            << usb1 + "+usb-A5X" << "usb:0403:6001:A5X -> ttyUSB1";
        QTest::addRow("an ACM adapter plugged in takes COM 2") << "ttyS0:4 " + usb0 << 2
            << "ttyS0:4 ttyACM0+2341:0043:B7 " + usb0 << "usb:0403:6001:A5X -> ttyUSB0";
        QTest::addRow("identical adapters without serial numbers: the node")
            << "ttyUSB0+1a86:7523: ttyUSB1+1a86:7523:" << 2 << "ttyUSB0+1a86:7523:"
            << "node:/dev/ttyUSB1 -> ";
        QTest::addRow("a serial number two adapters share: the node") << usb0 + " " + usb1 << 2
            << usb0 + " " + usb1 << "node:/dev/ttyUSB1 -> ttyUSB1";
        QTest::addRow("a second adapter with the same serial number: neither") << usb0 << 1
            << usb0 + " " + usb1 << "usb:0403:6001:A5X -> ";
        QTest::addRow("a UART become a placeholder") << "ttyS0:4 ttyS1:4" << 2
            << "ttyS0:4 ttyS1:0" << "node:/dev/ttyS1 -> ";
        // clang-format on
    }
    void identity() {
        QFETCH(QString, before);
        QFETCH(int, number);
        QFETCH(QString, after);
        const std::string identity = NumberedPortIdentity(portsOf(before), number);
        const std::vector<SerialPortEntry> ports = portsOf(after);
        const SerialPortEntry *p = FindSerialPort(ports, identity);
        QTEST(QString::fromStdString(identity + " -> " + (p ? p->name : "")), "expected");
    }

    // by-id links are relative and go when their device goes; QUORVAT_COM<n> names a device the
    // listing does not show, kept as given so that a link there may be re-pointed.
    void theSystem() {
        QTemporaryDir dir;
        const std::string root = dir.path().toStdString();
        QVERIFY(QDir(dir.path()).mkpath("by-id") &&
                QFile(dir.filePath("x")).open(QFile::WriteOnly) &&
                QFile::link("../x", dir.filePath("by-id/a")) &&
                QFile::link("../gone", dir.filePath("by-id/b")) &&
                QFile::link(dir.filePath("x"), dir.filePath("com")));
        std::vector<SerialPortEntry> ports(2);
        ports[0].device = root + "/x";
        ports[1].device = root + "/gone";
        FillStablePaths(ports, root + "/by-id");
        QCOMPARE(ports[0].stablePath + "|" + ports[1].stablePath, root + "/by-id/a|");

        qputenv("QUORVAT_COM255", QFile::encodeName(dir.filePath("com")));
        const std::string identity = ComPortIdentity(255);
        QCOMPARE(identity, "node:" + root + "/com");
        QCOMPARE(SerialPortDevice(identity), root + "/com");
        QVERIFY(QFile::remove(dir.filePath("x")));
        QCOMPARE(SerialPortDevice(identity), "");
        qunsetenv("QUORVAT_COM255");
    }
};

QTEST_MAIN(SerialPortsTest)
#include "test_serialports.moc"
