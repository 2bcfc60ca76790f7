// Whole operator flows: the main panel's buttons clicked as an operator clicks them, with the
// simulator as the sensor, over TCP and over a pseudo-terminal. Clicks that come "during" a
// running command are timers that fire inside the program's own waits.
#include "calibration/calibration.h"
#include "link/link.h"
#include "logo/logo.h"
#include "platform/testing.h"
#include "platform/utility.h"
#include "protocol/codec.h"
#include "protocol/commands.h"
#include "record/record.h"
#include "shell/controls.h"
#include "shell/state.h"
#include "tests/support/rig.h"
#include "tests/support/support.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>

using namespace qv;
using qvtest::Link;

namespace {

QByteArray hex(const char *spaced) {
    return QByteArray::fromHex(QByteArray(spaced).replace(' ', ""));
}

QByteArray bytes(const qvsim::Frame &f) {
    return QByteArray(reinterpret_cast<const char *>(f.data()), int(f.size()));
}

QByteArray word(unsigned w) {
    return QByteArray().append(char(w >> 8)).append(char(w & 0xFF));
}

int attr(int control, int attribute) {
    int v = -1;
    rt::GetCtrlAttribute(panel, control, attribute, &v);
    return v;
}

bool groupLive() {
    for (int c : {P_BUTTONSENDPOWER, P_BUTTONSENDCF, P_BUTTONGETCF, P_BUTTONGO, P_BUTTONCALCCF,
                  P_BUTTONFINISHCALIB})
        if (attr(c, rt::ATTR_DIMMED) != 0)
            return false;
    return true;
}

unsigned short boxValue(int control) {
    unsigned short v = 0;
    rt::GetCtrlVal(panel, control, &v);
    return v;
}

QByteArray status() {
    char text[64] = "";
    rt::GetCtrlVal(panel, P_DISPSTATUS, text);
    return text;
}

constexpr char kVersion[] = "OPERATOR TEST SENSOR V4.07";

} // namespace

class OperatorTest : public QObject {
    Q_OBJECT
    std::unique_ptr<qvtest::SensorRig> rig_;
    QTemporaryDir records_;
    qvsim::Simulator &sim() { return rig_->sim(); }

    // The last line of the calibration record, without its time and line end.
    QByteArray lastRecord() const {
        QFile f(records_.filePath(kRecordFileName));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        const QList<QByteArray> lines = f.readAll().trimmed().split('\n');
        return lines.last().trimmed().mid(lines.last().indexOf(',') + 1);
    }
    QByteArray recordOf(const char *event, Link link, const char *rest) const {
        const QByteArray where = link == Link::Tcp
                                     ? "127.0.0.1:" + QByteArray::number(rig_->sim().tcpPort())
                                     : "COM" + QByteArray::number(qvtest::kRigComPort);
        return QByteArray(event) + "," + kVersion + "," + where + "," + rest;
    }

    // Clicks a command button. Its handler runs to its end inside the next pump, with every
    // wait of the program pumping the events that come meanwhile.
    void press(int control) {
        qvtest::click(panel, control);
        qvtest::pump(30);
        QVERIFY(groupLive());
    }

    // Presses STOP as soon as `readings` data requests have reached the sensor.
    void stopAfter(int readings) {
        const int wanted = rig_->framesOf(qvsim::command::GetData) + readings;
        qvtest::whenever(
            [this, wanted] { return rig_->framesOf(qvsim::command::GetData) >= wanted; },
            [] { qvtest::click(panel, P_BUTTONSTOP); });
    }

    void setBoxes(unsigned r, unsigned g, unsigned b) {
        rt::SetCtrlVal(panel, P_EDITCFR, r);
        rt::SetCtrlVal(panel, P_EDITCFG, g);
        rt::SetCtrlVal(panel, P_EDITCFB, b);
    }

    void linkData() {
        QTest::addColumn<Link>("link");
        QTest::newRow("tcp") << Link::Tcp;
        QTest::newRow("serial") << Link::Serial;
    }

  private slots:
    void initTestCase() {
        qvtest::loadPanels();
        rig_ = std::make_unique<qvtest::SensorRig>(qvtest::quietSensor(kVersion));
        qvtest::setStartupSizes();
        target = 1;
        // The calibration record goes beside the address history: here, a scratch folder.
        rt::CopyText(ipComboBoxFileName,
                     records_.filePath(kHistoryFileName).toLocal8Bit().constData());
    }

    void init() {
        sim().clearFaults();
        sim().resetToFactory();
        sim().setVersion(kVersion);
        sim().setReadingSource(nullptr);
        rt::SetCtrlVal(panel, P_EDITSETVALUE, 1000);
        rt::SetCtrlVal(panel, P_EDITMAXDELTA, 100);
        rt::SetCtrlVal(panel, P_EDITPOWER, 250);
        setBoxes(1024, 1024, 1024);
    }

    void finishCalibrationSendsEveryByte_data() { linkData(); }
    void finishCalibrationSendsEveryByte() {
        QFETCH(Link, link);
        std::memset(szReadBuf, 0, sizeof szReadBuf);
        std::memset(szWriteBuf, 0, sizeof szWriteBuf);
        std::memset(pp, 0, sizeof pp);
        rig_->connect(link);
        QCOMPARE(status(), QByteArray(kVersion));
        setBoxes(1000, 1001, 1002);
        sim().clearFrames();
        qvtest::PopupRecorder popups;
        int colourDuringNotice = 0;
        bool dimmedDuringNotice = false;
        popups.onPopup = [&](const qvtest::Popup &) {
            colourDuringNotice = attr(P_BUTTONFINISHCALIB, rt::ATTR_CMD_BUTTON_COLOR);
            dimmedDuringNotice = attr(P_BUTTONGO, rt::ATTR_DIMMED) == 1;
        };
        press(P_BUTTONFINISHCALIB);
        QCOMPARE(popups.count(), std::size_t(1)); // the notice only: every command answered
        QCOMPARE(QByteArray(popups.last().title.c_str()), QByteArray("INFO!"));
        QCOMPARE(colourDuringNotice, 0xFF0000);
        QVERIFY(dimmedDuringNotice);
        QCOMPARE(attr(P_BUTTONFINISHCALIB, rt::ATTR_CMD_BUTTON_COLOR), 0xE0E0E0);

        const std::vector<qvsim::Frame> frames = sim().frames();
        QCOMPARE(frames.size(), std::size_t(1 + 31 + 1 + 1 + 1 + 1));
        const QByteArray defaults = hex("00 FA 00 00 00 80 00 00 00 0A 00 32 00 01 00 00 00 00 "
                                        "00 00 00 00 0B B8 0D AC 00 00 00 00 00 00");
        QCOMPARE(bytes(frames[0]), hex("00 55 00 01") + defaults);
        for (int r = 0; r < 31; ++r) // each row frame keeps pp[7..15] of the frame before
            QCOMPARE(bytes(frames[1 + r]), hex("00 55 00 02") + word(r) +
                                               hex("00 01 00 01 00 01 00 01 00 01 00 00") +
                                               defaults.mid(14));
        QCOMPARE(bytes(frames[32]), hex("00 55 00 06") + defaults);
        QCOMPARE(bytes(frames[33]), hex("00 55 00 08 03 E8 03 E9 03 EA") + defaults.mid(6));
        QCOMPARE(bytes(frames[34]), hex("00 55 00 09") + defaults);
        // The factor reply fills pp[0..2]; pp[3..15] come from what the receive buffer still
        // held: bytes 6 to 31 of the version reply.
        QByteArray versionReply(kVersion);
        versionReply.resize(48, '\0');
        QCOMPARE(bytes(frames[35]), hex("00 55 00 07 03 E8 03 E9 03 EA") + versionReply.mid(6, 26));
        QCOMPARE(sim().factors(), (qvsim::Factors{1000, 1001, 1002}));
        QCOMPARE(sim().eeprom(), qvsim::factoryImage());
        QCOMPARE(status(), QByteArray(kVersion));
        QCOMPARE(lastRecord(),
                 recordOf("finish", link, ",,,,,,1000,1001,1002,1000,1001,1002,stored"));
    }

    void finishCalibrationWithASilentSensor_data() { linkData(); }
    void finishCalibrationWithASilentSensor() {
        QFETCH(Link, link);
        rig_->connect(link);
        sim().addFault(qvsim::Fault::noReply());
        sim().clearFrames();
        qvtest::PopupRecorder popups;
        press(P_BUTTONFINISHCALIB);
        // The notice, then the factor read's time-out; the link check fails without a box.
        QCOMPARE(popups.count(), std::size_t(2));
        QCOMPARE(QByteArray(popups.popups[1].title.c_str()), QByteArray(kVersion));
        QCOMPARE(QByteArray(popups.popups[1].text.c_str()), QByteArray(InfoTimeoutVer));
        QCOMPARE(sim().frames().size(), std::size_t(36)); // every step ran
        QCOMPARE(status(), QByteArray("TIMEOUT"));
        QCOMPARE(attr(P_BUTTONFINISHCALIB, rt::ATTR_CMD_BUTTON_COLOR), 0xE0E0E0);
        QVERIFY(groupLive());
        QCOMPARE(lastRecord(), recordOf("finish", link, ",,,,,,1024,1024,1024,,,,timeout"));
    }

    // A sensor that did not store the factors, or answers with others: the finish says so and
    // records it.
    void finishCalibrationReadBackDiffers_data() {
        QTest::addColumn<Link>("link");
        QTest::addColumn<bool>("garbled"); // else the factors are not stored
        for (Link link : {Link::Tcp, Link::Serial})
            for (bool garbled : {false, true})
                QTest::addRow("%s, %s", qvtest::linkName(link),
                              garbled ? "other factors in the reply" : "not stored")
                    << link << garbled;
    }
    void finishCalibrationReadBackDiffers() {
        QFETCH(Link, link);
        QFETCH(bool, garbled);
        rig_->connect(link);
        sim().addFault(garbled ? qvsim::Fault::garbage().forCommand(qvsim::command::GetCf)
                               : qvsim::Fault::ignore().forCommand(qvsim::command::SetCf));
        setBoxes(1000, 1001, 1002);
        qvtest::PopupRecorder popups;
        press(P_BUTTONFINISHCALIB);
        QCOMPARE(popups.count(), std::size_t(2));
        QCOMPARE(QByteArray(popups.last().title.c_str()), QByteArray("ATTENTION!"));
        const QByteArray text(popups.last().text.c_str());
        const QByteArray back = QByteArray::number(boxValue(P_EDITCFR)) + ",";
        QVERIFY2(text.contains("Sent: RED 1000, GREEN 1001, BLUE 1002 \n Read back: RED " + back),
                 text.constData());
        QVERIFY(lastRecord().startsWith(recordOf("finish", link, ",,,,,,1000,1001,1002,") + back));
        QVERIFY(lastRecord().endsWith(",readback differs"));
        if (!garbled) // the boxes show what the sensor holds
            QCOMPARE(
                lastRecord(),
                recordOf("finish", link, ",,,,,,1000,1001,1002,1024,1024,1024,readback differs"));
    }

    void sendPowerAnsweredYesOrNo_data() {
        QTest::addColumn<int>("answer");
        QTest::newRow("yes") << 1;
        QTest::newRow("no") << 0;
    }
    void sendPowerAnsweredYesOrNo() {
        QFETCH(int, answer);
        rig_->connect(Link::Tcp);
        rt::SetCtrlVal(panel, P_EDITPOWER, 700);
        sim().clearFrames();
        qvtest::PopupRecorder popups;
        popups.answers = {answer};
        stopAfter(3);
        press(P_BUTTONSENDPOWER);
        QCOMPARE(QByteArray(popups.popups[0].title.c_str()), QByteArray("SEND POWER"));
        const std::vector<qvsim::Frame> frames = sim().frames();
        std::size_t i = 0;
        if (answer) {
            QCOMPARE(bytes(frames[i++]).mid(0, 32),
                     hex("00 55 00 01 02 BC 00 00 80 00 00 00 00 0A 00 00 00 01 00 00 00 00 00 00 "
                         "00 00 0B B8 0D AC 00 00"));
            QCOMPARE(sim().ram()[0], std::uint16_t(700));
        }
        QCOMPARE(int(frames[i++][3]), qvsim::command::GetCf);
        QVERIFY(frames.size() - i >= 3);
        for (; i < frames.size(); ++i)
            QCOMPARE(int(frames[i][3]), qvsim::command::GetData);
        QCOMPARE(popups.count(), std::size_t(1));
    }

    void sendAndGetFactors_data() { linkData(); }
    void sendAndGetFactors() {
        QFETCH(Link, link);
        rig_->connect(link);
        setBoxes(900, 1100, 1250);
        press(P_BUTTONSENDCF);
        QCOMPARE(sim().factors(), (qvsim::Factors{900, 1100, 1250}));
        sim().setFactors({1111, 1112, 1113});
        press(P_BUTTONGETCF);
        QCOMPARE(boxValue(P_EDITCFR), 1111);
        QCOMPARE(boxValue(P_EDITCFG), 1112);
        QCOMPARE(boxValue(P_EDITCFB), 1113);
    }

    void getFactorsFromASilentSensor_data() { linkData(); }
    void getFactorsFromASilentSensor() {
        QFETCH(Link, link);
        rig_->connect(link);
        sim().addFault(qvsim::Fault::noReply().forCommand(qvsim::command::GetCf));
        setBoxes(1001, 1002, 1003);
        qvtest::PopupRecorder popups;
        const double t0 = rt::Timer();
        press(P_BUTTONGETCF);
        const double took = rt::Timer() - t0;
        QVERIFY2(took > 2.0 && took < 3.0, qPrintable(QString::number(took)));
        QCOMPARE(popups.count(), std::size_t(1));
        QCOMPARE(QByteArray(popups.last().title.c_str()), QByteArray(kVersion));
        QCOMPARE(status(), QByteArray("TIMEOUT"));
        QCOMPARE(boxValue(P_EDITCFR), 1001);
        QCOMPARE(boxValue(P_EDITCFB), 1003);
    }

    // STOP while a reading is on its way: that transaction still finishes and is shown.
    void stopLetsTheWaitingTransactionFinish_data() { linkData(); }
    void stopLetsTheWaitingTransactionFinish() {
        QFETCH(Link, link);
        rig_->connect(link);
        const std::uint64_t first = sim().readingsTaken();
        sim().setReadingSource([first](std::uint64_t i) {
            return qvsim::Rgb{std::uint16_t(100 + i - first), 200, 300};
        });
        sim().clearFrames();
        sim().addFault(qvsim::Fault::late(300).forCommand(qvsim::command::GetData).onlyNth(3));
        stopAfter(3);
        qvtest::PopupRecorder popups;
        press(P_BUTTONGO);
        QCOMPARE(rig_->framesOf(qvsim::command::GetData), 3);
        QCOMPARE(popups.count(), std::size_t(0));
        QCOMPARE(dataRawR, u16(102)); // the third reading arrived late and was still taken
    }

    void replyLengthRules_data() {
        QTest::addColumn<Link>("link");
        QTest::addColumn<int>("extra");
        QTest::addColumn<bool>("good");
        QTest::newRow("serial, 33 bytes fail") << Link::Serial << 1 << false;
        QTest::newRow("tcp, 40 bytes pass") << Link::Tcp << 8 << true;
    }
    void replyLengthRules() {
        QFETCH(Link, link);
        QFETCH(int, extra);
        QFETCH(bool, good);
        rig_->connect(link);
        const std::uint64_t first = sim().readingsTaken();
        sim().setReadingSource([first](std::uint64_t i) {
            return qvsim::Rgb{std::uint16_t(500 + i - first), 600, 700};
        });
        sim().addFault(
            qvsim::Fault::longReply(unsigned(extra)).forCommand(qvsim::command::GetData));
        sim().clearFrames();
        qvtest::PopupRecorder popups;
        if (good)
            stopAfter(5);
        press(P_BUTTONGO);
        if (good) {
            QCOMPARE(popups.count(), std::size_t(0));
            // Every turn read its own reply: the surplus never shifted a later one.
            QCOMPARE(int(dataRawG), 600);
            QCOMPARE(int(dataRawR), 500 + rig_->framesOf(qvsim::command::GetData) - 1);
        } else {
            QCOMPARE(popups.count(), std::size_t(1));
            QCOMPARE(status(), QByteArray("TIMEOUT"));
            QCOMPARE(rig_->framesOf(qvsim::command::GetData), 1);
        }
    }

    void calculation_data() {
        QTest::addColumn<int>("red");
        QTest::addColumn<int>("spread");
        QTest::addColumn<int>("maxDelta");
        QTest::addColumn<QByteArray>("outcome");
        QTest::addColumn<int>("cfRed");
        QTest::addColumn<QByteArray>("record"); // from set_value on
        QTest::newRow("passes") << 1000 << 20 << 20 << QByteArray("CALIBRATION PASSED!") << 1024
                                << QByteArray("1000,20,1000,1000,1020,20,1024,1024,1003,,,,passed");
        QTest::newRow("spread one above") << 1000 << 21 << 20 << QByteArray("spread") << 1024
                                          << QByteArray("1000,20,1000,1000,1021,21,,,,,,,spread");
        QTest::newRow("factor 749")
            << 1367 << 0 << 400 << QByteArray("range") << 1024
            << QByteArray("1000,400,1367,1000,1000,367,749,1024,1024,,,,range");
        QTest::newRow("factor 1301")
            << 787 << 0 << 400 << QByteArray("range") << 1024
            << QByteArray("1000,400,787,1000,1000,213,1301,1024,1024,,,,range");
        QTest::newRow("factor 1299")
            << 788 << 0 << 400 << QByteArray("CALIBRATION PASSED!") << 1299
            << QByteArray("1000,400,788,1000,1000,212,1299,1024,1024,,,,passed");
        QTest::newRow("dark sensor") << 0 << 0 << 400 << QByteArray("range") << 1024
                                     << QByteArray("1000,400,1,1,1,0,40960,40960,40960,,,,range");
    }
    // Known means from the simulator through the whole CALCULATE sequence: confirmation, 100
    // readings, the checks, the factors sent and GO started.
    void calculation() {
        QFETCH(int, red);
        QFETCH(int, spread);
        QFETCH(int, maxDelta);
        QFETCH(QByteArray, outcome);
        QFETCH(int, cfRed);
        QFETCH(QByteArray, record);
        rig_->connect(Link::Tcp);
        const bool dark = red == 0;
        sim().setReadingSource([=](std::uint64_t) {
            return dark ? qvsim::Rgb{0, 0, 0}
                        : qvsim::Rgb{std::uint16_t(red), 1000, std::uint16_t(1000 + spread)};
        });
        rt::SetCtrlVal(panel, P_EDITMAXDELTA, maxDelta);
        setBoxes(1024, 1024, 1024);
        sim().clearFrames();
        qvtest::PopupRecorder popups;
        stopAfter(100 + 2);
        press(P_BUTTONCALCCF);
        QCOMPARE(QByteArray(popups.popups[0].title.c_str()), QByteArray("CONFIRM CALCULATION!"));
        const QByteArray title(popups.popups[1].title.c_str());
        const QByteArray text(popups.popups[1].text.c_str());
        if (outcome == "spread")
            QCOMPARE(text, QByteArray(MaximumDelta));
        else if (outcome == "range")
            QCOMPARE(text, QByteArray(CFOutOfRange));
        else
            QCOMPARE(title, outcome);
        QCOMPARE(boxValue(P_EDITCFR), cfRed);
        if (dark) {
            QCOMPARE(meanR, u16(1)); // raised to 1 before the division
            QCOMPARE(u16(1000 * 1024 / meanR), u16(40960));
        }
        // Whatever the outcome, the boxes' factors went to the sensor and GO started.
        const std::vector<qvsim::Frame> frames = sim().frames();
        QCOMPARE(int(frames[100][3]), qvsim::command::SetCf);
        QCOMPARE(sim().factors()[0], std::uint16_t(cfRed));
        QCOMPARE(int(frames[101][3]), qvsim::command::GetData);
        QCOMPARE(attr(P_BUTTONCALCCF, rt::ATTR_CMD_BUTTON_COLOR), 0xE0E0E0);
        QCOMPARE(lastRecord(), recordOf("calculate", Link::Tcp, record.constData()));
    }

    void declinedCalculationStillSendsAndStartsGo() {
        rig_->connect(Link::Tcp);
        setBoxes(1010, 1020, 1030);
        sim().clearFrames();
        qvtest::PopupRecorder popups;
        popups.answers = {0};
        stopAfter(2);
        press(P_BUTTONCALCCF);
        QCOMPARE(popups.count(), std::size_t(2));
        QCOMPARE(QByteArray(popups.popups[1].title.c_str()), QByteArray("INFO!"));
        const std::vector<qvsim::Frame> frames = sim().frames();
        QCOMPARE(int(frames[0][3]), qvsim::command::SetCf);
        QCOMPARE(sim().factors(), (qvsim::Factors{1010, 1020, 1030}));
        QCOMPARE(int(frames[1][3]), qvsim::command::GetData);
        QCOMPARE(lastRecord(), recordOf("calculate", Link::Tcp, ",,,,,,,,,,,,declined"));
    }

    void readingThirtyTwoTimesOut() {
        rig_->connect(Link::Tcp);
        setBoxes(1010, 1020, 1030);
        meanR = 4321;
        sim().addFault(qvsim::Fault::noReply().forCommand(qvsim::command::GetData).onlyNth(33));
        sim().clearFrames();
        qvtest::PopupRecorder popups;
        int colourAtFailure = 0;
        popups.onPopup = [&](const qvtest::Popup &p) {
            if (p.text == "CALIBRATION FAILED!")
                colourAtFailure = attr(P_BUTTONCALCCF, rt::ATTR_CMD_BUTTON_COLOR);
        };
        stopAfter(33 + 2);
        press(P_BUTTONCALCCF);
        QCOMPARE(QByteArray(popups.popups[1].title.c_str()), QByteArray("ATTENTION!"));
        QCOMPARE(QByteArray(popups.popups[1].text.c_str()), QByteArray("CALIBRATION FAILED!"));
        QCOMPARE(colourAtFailure, 0xFF0000); // readings 30 to 34 are a red stretch
        QCOMPARE(meanR, u16(4321));
        QCOMPARE(boxValue(P_EDITCFR), 1010);
        QCOMPARE(sim().factors(), (qvsim::Factors{1010, 1020, 1030}));
        QCOMPARE(lastRecord(), recordOf("calculate", Link::Tcp, ",,,,,,,,,,,,timeout"));
    }

    // The picture of the main panel in the README: GO running on a sensor with its factory
    // POWER, stopped after a few readings.
    void pictureOfLiveReadings() {
        ShowLogo(5);
        rig_->connect(Link::Tcp);
        sim().setNoise(3);
        sim().setFactors({1010, 998, 1047});
        press(P_BUTTONGETCF);
        stopAfter(20);
        press(P_BUTTONGO);
        sim().setNoise(0);
        const QString dir = QCoreApplication::applicationDirPath() + "/screenshots";
        QDir().mkpath(dir);
        QVERIFY(qvtest::grabPanel(panel, dir + "/main-panel-live.png"));
        QVERIFY(dataRawR > 900 && dataRawR < 1100);
    }

    // While GO runs the group is dimmed: GET CF cannot start; CONNECT stops the loop and opens
    // the connection panel.
    void connectDuringGoStopsTheLoop() {
        rig_->connect(Link::Tcp);
        sim().clearFrames();
        const int base = 0;
        qvtest::whenever([&] { return rig_->framesOf(qvsim::command::GetData) >= base + 3; },
                         [] {
                             qvtest::click(panel, P_BUTTONGETCF);
                             qvtest::click(panel, P_BUTTONCONNECT);
                         });
        press(P_BUTTONGO);
        QCOMPARE(rig_->framesOf(qvsim::command::GetCf), 0);
        QVERIFY(rt::testing::PanelWidget(interfacepanel)->isVisible());
        rt::HidePanel(interfacepanel);
    }
};

QTEST_MAIN(OperatorTest)
#include "test_operator.moc"
