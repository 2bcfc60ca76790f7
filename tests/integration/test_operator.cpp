// Operator sequences that neither matrix drives, against the simulator: the bytes FINISH
// CALIBRATION sends, the checked FINISH and when it asks first, SEND POWER answered no,
// CALCULATE's outcomes from known means. Each checks what the sensor received and what the
// calibration record says.
#include "calibration/calibration.h"
#include "link/commands.h"
#include "link/link.h"
#include "record/record.h"
#include "shell/controls.h"
#include "shell/state.h"
#include "tests/support/rig.h"
#include "tests/support/support.h"

#include <QTest>

#include <utility>

using namespace qv;
namespace cmd = qvsim::command;

namespace {

constexpr char kVersion[] = "OPERATOR TEST SENSOR V4.07";
constexpr int kIdleColour = 0xE0E0E0;

QByteArray bytes(const qvsim::Frame &f) {
    return QByteArray(reinterpret_cast<const char *>(f.data()), int(f.size()));
}

int colour(int control) {
    return qvtest::attr(panel, control, rt::ATTR_CMD_BUTTON_COLOR);
}

QByteArrayList titles(const qvtest::PopupRecorder &popups) {
    QByteArrayList out;
    for (const qvtest::Popup &p : popups.popups)
        out << p.title.c_str();
    return out;
}

QList<int> codes(qvsim::Simulator &sim) {
    QList<int> out;
    for (const qvsim::Frame &f : sim.frames())
        out << f[3];
    return out;
}

// One CALCULATE: readings of red `red` (all 0 when 0), green 1000, blue 1000 + spread; the
// confirmation answered `answer`; reading `failAt` unanswered (0: none). What it must give: the
// result box's title or text, the red factor in the box and sent, the record from power on.
struct Calculation {
    int red, spread, maxDelta, answer, failAt;
    QByteArray box;
    int cfRed;
    QByteArray record;
};

// What came before FINISH: the sensor just connected, a CALCULATE that failed or passed on it, or
// one that passed before the line went and came back.
enum class Before { Connected, Failed, Passed, LineBack };

// The factors the sensor has when the tests connect: the record's found_*.
constexpr qvsim::Factors kFound = {1100, 1000, 900};

} // namespace

class OperatorTest : public QObject {
    Q_OBJECT
    std::unique_ptr<qvtest::FlowRig> rig_;
    qvsim::Simulator &sim() { return rig_->sim(); }

    // The last line of the calibration record: its event, sensor, link and own columns (from
    // power on), and what they must be.
    QByteArray lastRecord() const {
        const QList<QByteArrayList> rows =
            qvtest::csvRows(qvtest::fileBytes(rig_->file(kRecordFileName)));
        const QByteArrayList &f = rows.last();
        return (QByteArrayList{f.value(3), f.value(7), f.value(8)} + f.mid(10)).join(',');
    }
    QByteArray recordOf(const char *event, const QByteArray &rest, bool tcp = false) const {
        const QByteArray link = tcp ? "127.0.0.1:" + QByteArray::number(rig_->sim().tcpPort())
                                    : "COM" + QByteArray::number(qvtest::kRigComPort);
        return QByteArray(event) + "," + kVersion + "," + link + "," + rest;
    }

    // A CALCULATE on readings of 1000 that passes, or fails on the spread; GO stopped after.
    void calculate(bool passes) {
        sim().setReadingSource([passes](std::uint64_t) {
            return qvsim::Rgb{1000, 1000, std::uint16_t(passes ? 1000 : 1200)};
        });
        qvtest::PopupRecorder answered;
        stopAfter(102);
        press(P_BUTTONCALCCF);
        QCOMPARE(calcOutcome, passes ? CalcOutcome::Passed : CalcOutcome::Spread);
    }

    // The line goes as when the sensor is unplugged, and comes back: its factors are read anew.
    void loseTheLine() {
        const unsigned line = LinkGeneration();
        sim().closePty();
        QVERIFY(sim().reopenPty());
        u16 found[3];
        QVERIFY(qvtest::waitFor(
            [&] { return LinkGeneration() != line && !LinkLost() && FactorsAsFound(found); },
            10000));
        qvtest::pump(30);
    }

    // Clicks a command button; its handler runs to its end inside the next pump.
    void press(int control) {
        qvtest::click(panel, control);
        qvtest::pump(30);
        QVERIFY(qvtest::commandsLive());
    }

    // Presses STOP as soon as `readings` data requests have reached the sensor.
    void stopAfter(int readings) {
        const int wanted = rig_->framesOf(cmd::GetData) + readings;
        qvtest::whenever([this, wanted] { return rig_->framesOf(cmd::GetData) >= wanted; },
                         [] { qvtest::click(panel, P_BUTTONSTOP); });
    }

  private slots:
    void initTestCase() {
        rig_ = std::make_unique<qvtest::FlowRig>(qvtest::quietSensor(kVersion));
        StartLinkWatch(); // a line that goes comes back, as after start-up
    }

    void init() {
        rig_->reset(kVersion);
        // clang-format off
        qvtest::enter({.power = 250, .setValue = 1000, .maxDelta = 100,
                       .red = 1024, .green = 1024, .blue = 1024});
        // clang-format on
        rig_->connect(qvtest::Link::Serial); // the fault matrix drives both links
        power = 250;                         // as SEND POWER leaves it
        sim().setFactors(kFound);
        press(P_BUTTONGETCF); // the factors as found
        qvtest::enterFactors(1024, 1024, 1024);
        sim().clearFrames();
    }

    // FINISH against a sensor that stores the factors (its image, factors and the frames no
    // other test builds checked), one that does not (over both links) and a silent one: box and
    // record say so. Unless a CALCULATE passed on this line it first asks whether to write the
    // boxes' factors; "no" writes nothing.
    void finishCalibration_data() {
        QTest::addColumn<Before>("before");
        QTest::addColumn<int>("answer");                // to the question, when asked
        QTest::addColumn<QList<qvsim::Fault>>("fault"); // none, or the sensor's one
        QTest::addColumn<QByteArray>("title");          // of the box after the notice; "" none
        QTest::addColumn<QByteArray>("result");         // the record from cf_r on
        QTest::addColumn<bool>("tcp");
        const QList ignored = {qvsim::Fault::ignore().forCommand(cmd::SetCf)};
        const QList<qvsim::Fault> none;
        const QByteArray differs = "1000,1001,1002,1100,1000,900,readback differs";
        const QByteArray stored = "1000,1001,1002,1000,1001,1002,stored",
                         declined = ",,,,,,declined";
        // clang-format off
        QTest::newRow("stored") << Before::Connected << 1 << none << QByteArray() << stored << false;
        QTest::newRow("not stored") << Before::Connected << 1 << ignored << QByteArray("ATTENTION!")
                                    << differs << false;
        QTest::newRow("not stored, tcp") << Before::Connected << 1 << ignored
                                         << QByteArray("ATTENTION!") << differs << true;
        QTest::newRow("silent") << Before::Connected << 1 << QList{qvsim::Fault::noReply()}
                                << QByteArray(kVersion) << QByteArray("1000,1001,1002,,,,timeout")
                                << false;
        QTest::newRow("passed: not asked") << Before::Passed << 1 << none << QByteArray() << stored
                                           << false;
        QTest::newRow("failed: no") << Before::Failed << 0 << none << QByteArray() << declined
                                    << false;
        QTest::newRow("passed, line back: no") << Before::LineBack << 0 << none << QByteArray()
                                               << declined << false;
        // clang-format on
    }
    void finishCalibration() {
        QFETCH(Before, before);
        QFETCH(int, answer);
        QFETCH(QList<qvsim::Fault>, fault);
        QFETCH(QByteArray, title);
        QFETCH(QByteArray, result);
        QFETCH(bool, tcp);
        if (tcp) {
            rig_->connect(qvtest::Link::Tcp);
            press(P_BUTTONGETCF);
        }
        if (before != Before::Connected)
            calculate(before != Before::Failed);
        if (before == Before::LineBack)
            loseTheLine();
        for (const qvsim::Fault &f : fault)
            sim().addFault(f);
        sim().setRam({}); // every word must come from FINISH
        sim().setEeprom({});
        const qvsim::Factors factors = sim().factors();
        sim().clearFrames();
        qvtest::enterFactors(1000, 1001, 1002);
        qvtest::PopupRecorder popups;
        popups.answers = {answer};
        std::pair<int, bool> duringNotice; // the button's colour, and GO dimmed
        popups.onPopup = [&](const qvtest::Popup &) {
            if (popups.count() == 1)
                duringNotice = {colour(P_BUTTONFINISHCALIB), !qvtest::live(panel, P_BUTTONGO)};
        };
        press(P_BUTTONFINISHCALIB);
        QCOMPARE(duringNotice, std::make_pair(0xFF0000, true));
        QCOMPARE(colour(P_BUTTONFINISHCALIB), kIdleColour);
        const bool asked = before != Before::Passed;
        const QByteArray found = before == Before::LineBack ? "1024,1024,1024," : "1100,1000,900,";
        QCOMPARE(lastRecord(), recordOf("finish", QByteArray(11, ',') + found + result, tcp));
        QCOMPARE(titles(popups), QByteArrayList(asked, "ATTENTION!") +
                                     QByteArrayList(answer, "INFO!") +
                                     QByteArrayList(!title.isEmpty(), title));
        if (asked) {
            const QByteArray why = popups.popups[0].text.c_str();
            QVERIFY2(why.contains(before == Before::Failed
                                      ? "The last CALCULATE CALIBRATION FACTORS on this sensor "
                                        "failed."
                                      : "No CALCULATE CALIBRATION FACTORS has passed since the "
                                        "link to this sensor was opened.") &&
                         why.contains("RED 1000, GREEN 1001, BLUE 1002"),
                     why.constData());
        }
        if (!answer) { // nothing reached the sensor
            QCOMPARE(codes(sim()), QList<int>());
            QCOMPARE(sim().factors(), factors);
            return;
        }
        // What the boxes show is what came back.
        if (title == "ATTENTION!") {
            QCOMPARE(qvtest::boxValue(P_EDITCFR), 1100);
            QVERIFY2(QByteArray(popups.last().text.c_str())
                         .contains("Sent: RED 1000, GREEN 1001, BLUE 1002 \n Read back: RED 1100,"),
                     popups.last().text.c_str());
        }
        QCOMPARE(qvtest::statusLine(), QByteArray(title == kVersion ? "TIMEOUT" : kVersion));

        const QList<int> finish =
            QList<int>{cmd::SetPara} + QList<int>(31, cmd::SetTeach) +
            QList<int>{cmd::SetParaEnd, cmd::SetCf, cmd::GetCf, cmd::GetVersion};
        QCOMPARE(codes(sim()), finish);
        if (!title.isEmpty() || before != Before::Connected) // the buffer as connecting left it
            return;
        const std::vector<qvsim::Frame> frames = sim().frames();
        // The parameter frame as start-up's defaults make it (the codec's test builds the rest).
        QCOMPARE(bytes(frames[0]),
                 QByteArray::fromHex("00 55 00 01 00 FA 00 00 00 80 00 00 00 0A 00 32 00 01 00 00 "
                                     "00 00 00 00 00 00 0B B8 0D AC 00 00 00 00 00 00"));
        // pp[0..2] from the factor reply; pp[3..15] as the version reply left the buffer.
        QByteArray versionReply(kVersion);
        versionReply.resize(48, '\0');
        QCOMPARE(bytes(frames[35]),
                 QByteArray::fromHex("00 55 00 07 03 E8 03 E9 03 EA") + versionReply.mid(6, 26));
        QCOMPARE(sim().factors(), (qvsim::Factors{1000, 1001, 1002}));
        QCOMPARE(sim().eeprom(), qvsim::factoryImage());
        QCOMPARE(sim().ram(), qvsim::factoryImage());
    }

    // SEND POWER answered no: no POWER reaches the sensor; the factors are read and GO starts.
    void sendPowerAnsweredNo() {
        rt::SetCtrlVal(panel, P_EDITPOWER, 700);
        qvtest::PopupRecorder popups;
        popups.answers = {0};
        stopAfter(3);
        press(P_BUTTONSENDPOWER);
        QCOMPARE(titles(popups), QByteArrayList{"SEND POWER"});
        QCOMPARE(sim().ram()[0], std::uint16_t(250));
        QCOMPARE(codes(sim()).mid(0, 4),
                 (QList<int>{cmd::GetCf, cmd::GetData, cmd::GetData, cmd::GetData}));
    }

    // Known readings through the whole CALCULATE sequence, to the factors sent and GO started.
    void calculation_data() {
        QTest::addColumn<Calculation>("c");
        // clang-format off
        QTest::newRow("passes") << Calculation{1000, 20, 20, 1, 0, "CALIBRATION PASSED!", 1024,
            "250,1000,20,100,1000,1000,1020,0.00,0.00,0.00,20,1100,1000,900,1024,1024,1003,,,,passed"};
        QTest::newRow("spread one above") << Calculation{1000, 21, 20, 1, 0, MaximumDelta, 1024,
            "250,1000,20,100,1000,1000,1021,0.00,0.00,0.00,21,1100,1000,900,,,,,,,spread"};
        QTest::newRow("factor 749") << Calculation{1367, 0, 400, 1, 0, CFOutOfRange, 1024,
            "250,1000,400,100,1367,1000,1000,0.00,0.00,0.00,367,1100,1000,900,749,1024,1024,,,,range"};
        QTest::newRow("factor 1301") << Calculation{787, 0, 400, 1, 0, CFOutOfRange, 1024,
            "250,1000,400,100,787,1000,1000,0.00,0.00,0.00,213,1100,1000,900,1301,1024,1024,,,,range"};
        QTest::newRow("factor 1299") << Calculation{788, 0, 400, 1, 0, "CALIBRATION PASSED!", 1299,
            "250,1000,400,100,788,1000,1000,0.00,0.00,0.00,212,1100,1000,900,1299,1024,1024,,,,passed"};
        // A mean of 0 is raised to 1 before the division.
        QTest::newRow("dark sensor") << Calculation{0, 0, 400, 1, 0, CFOutOfRange, 1024,
            "250,1000,400,100,1,1,1,0.00,0.00,0.00,0,1100,1000,900,40960,40960,40960,,,,range"};
        QTest::newRow("declined") << Calculation{1000, 0, 100, 0, 0, "INFO!", 1024,
            "250,,,,,,,,,,,1100,1000,900,,,,,,,declined"};
        QTest::newRow("reading 33 times out") << Calculation{1000, 0, 100, 1, 33,
            "CALIBRATION FAILED!", 1024, "250,,,,,,,,,,,1100,1000,900,,,,,,,timeout"};
        // clang-format on
    }
    void calculation() {
        QFETCH(Calculation, c);
        sim().setReadingSource([c](std::uint64_t) {
            return c.red == 0
                       ? qvsim::Rgb{0, 0, 0}
                       : qvsim::Rgb{std::uint16_t(c.red), 1000, std::uint16_t(1000 + c.spread)};
        });
        if (c.failAt)
            sim().addFault(
                qvsim::Fault::noReply().forCommand(cmd::GetData).onlyNth(unsigned(c.failAt)));
        rt::SetCtrlVal(panel, P_EDITMAXDELTA, c.maxDelta);
        meanR = 4321;
        qvtest::PopupRecorder popups;
        popups.answers = {c.answer};
        const int readings = !c.answer ? 0 : c.failAt ? c.failAt : 100;
        stopAfter(readings + 2);
        press(P_BUTTONCALCCF);
        QCOMPARE(titles(popups).value(0), QByteArray("CONFIRM CALCULATION!"));
        QVERIFY2(titles(popups).size() == 2 &&
                     (titles(popups)[1] == c.box || popups.last().text.c_str() == c.box),
                 popups.last().text.c_str());
        QCOMPARE(qvtest::boxValue(P_EDITCFR), c.cfRed);
        if (readings < 100) // the means of a calculation that did not end are not taken
            QCOMPARE(meanR, u16(4321));
        // Whatever the outcome, the boxes' factors went to the sensor and GO started.
        QCOMPARE(codes(sim()).mid(0, readings + 2), QList<int>(readings, cmd::GetData)
                                                        << cmd::SetCf << cmd::GetData);
        QCOMPARE(rig_->framesOf(cmd::SetCf), 1);
        QCOMPARE(sim().factors()[0], std::uint16_t(c.cfRed));
        QCOMPARE(colour(P_BUTTONCALCCF), kIdleColour); // also after a reading in a red stretch
        QCOMPARE(lastRecord(), recordOf("calculate", c.record));
    }
};

QTEST_MAIN(OperatorTest)
#include "test_operator.moc"
