// The calibration station against simulated sensors: AUTO POWER over a table of them (bright,
// dark, saturating, non-linear, noisy, a dead channel, channels too far apart, a spread above
// MAX DELTA), and CALIBRATE SENSOR from the scan to PASS or FAIL, with its record. The log ends
// with AUTO POWER's table: what each sensor gave.
#include "calibration/autopower.h"
#include "calibration/sequence.h"
#include "record/record.h"
#include "shell/controls.h"
#include "shell/state.h"
#include "tests/support/rig.h"
#include "tests/support/support.h"

#include <QTest>

using namespace qv;
using qvsim::Rgb;

namespace {

constexpr char kVersion[] = "STATION TEST SENSOR V2.0";

// A simulated sensor: its white target's raw reading at POWER 1000, response and noise.
struct Sensor {
    Rgb base{4000, 4100, 3900};
    double gamma = 1.0;
    std::uint16_t saturate = 65535;
    Rgb ambient{0, 0, 0};
    std::uint16_t noise = 2;
};

QString g_table = "\n| sensor | result | POWER | steps | raw means |\n|---|---|---|---|---|\n";

} // namespace
Q_DECLARE_METATYPE(Sensor)

class StationTest : public QObject {
    Q_OBJECT
    std::unique_ptr<qvtest::FlowRig> rig_;
    qvsim::Simulator &sim() { return rig_->sim(); }

    void use(const Sensor &s, unsigned maxDelta) {
        rig_->reset(kVersion);
        sim().setBase(s.base);
        sim().setGamma(s.gamma);
        sim().setSaturation(s.saturate);
        sim().setAmbient(s.ambient);
        sim().setNoise(s.noise);
        // clang-format off
        qvtest::enter({.power = 250, .setValue = 1000, .maxDelta = maxDelta,
                       .red = 1024, .green = 1024, .blue = 1024});
        // clang-format on
        rig_->connect(qvtest::Link::Tcp);
    }

    QByteArrayList recordLines() const {
        return qvtest::fileBytes(rig_->file(kRecordFileName)).trimmed().split('\n');
    }

  private slots:
    void initTestCase() { rig_ = std::make_unique<qvtest::FlowRig>(qvtest::quietSensor(kVersion)); }
    void cleanupTestCase() { qInfo().noquote() << g_table; }

    void autoPower_data() {
        QTest::addColumn<Sensor>("sensor");
        QTest::addColumn<unsigned>("maxDelta");
        QTest::addColumn<PowerResult>("result");
        // clang-format off
        QTest::newRow("plain")         << Sensor{} << 100u << PowerResult::Found;
        QTest::newRow("bright")        << Sensor{.base = {60000, 61000, 59000}} << 100u << PowerResult::Found;
        QTest::newRow("dark")          << Sensor{.base = {700, 720, 690}} << 100u << PowerResult::TooDark;
        QTest::newRow("too bright")    << Sensor{.ambient = {1500, 1500, 1500}} << 100u << PowerResult::TooBright;
        QTest::newRow("saturating")    << Sensor{.base = {8000, 8200, 7800}, .saturate = 1100} << 100u << PowerResult::Found;
        QTest::newRow("non-linear")    << Sensor{.gamma = 0.5} << 100u << PowerResult::Found;
        QTest::newRow("bends, clips")  << Sensor{.base = {9000, 8000, 9500}, .gamma = 0.6, .saturate = 2500, .noise = 10} << 300u << PowerResult::Found;
        QTest::newRow("noisy")         << Sensor{.noise = 60} << 200u << PowerResult::Found;
        QTest::newRow("channel dead")  << Sensor{.base = {4000, 0, 3900}} << 5000u << PowerResult::Range;
        QTest::newRow("far apart")     << Sensor{.base = {2500, 4000, 5500}} << 5000u << PowerResult::Range;
        QTest::newRow("spread")        << Sensor{.base = {3700, 4000, 4300}} << 100u << PowerResult::Spread;
        // clang-format on
    }
    void autoPower() {
        QFETCH(Sensor, sensor);
        QFETCH(unsigned, maxDelta);
        QFETCH(PowerResult, result);
        use(sensor, maxDelta);
        qvtest::PopupRecorder popups;
        const PowerSearch s = AutoPower();
        const auto &m = s.at.raw;
        g_table += QString("| %1 | %2 | %3 | %4 | %5/%6/%7 |\n")
                       .arg(QTest::currentDataTag(), PowerResultText(s.result))
                       .arg(s.power)
                       .arg(s.steps)
                       .arg(m[0], 0, 'f', 0)
                       .arg(m[1], 0, 'f', 0)
                       .arg(m[2], 0, 'f', 0);
        QCOMPARE(s.result, result);
        QVERIFY(s.steps <= 12);
        QCOMPARE(popups.count(), std::size_t(0)); // the boxes are the caller's
        const bool found = result == PowerResult::Found || result == PowerResult::Range ||
                           result == PowerResult::Spread;
        // Found: the POWER box holds it and the sensor has it; else both keep the old one.
        const int power = found ? s.power : 250;
        QCOMPARE(qvtest::boxValue(P_EDITPOWER), power);
        QCOMPARE(int(sim().ram()[0]), power);
        if (result == PowerResult::Found)
            QVERIFY(std::abs((m[0] + m[1] + m[2]) / 3 - 1000) <= 25);
        QVERIFY(
            recordLines().last().trimmed().endsWith(QByteArray(",") + PowerResultText(s.result)));
    }

    // One run per sensor: the scan, Enter-like start, one confirmation, then PASS or FAIL on the
    // panel and in the record, one sequence_id and the factors as found over its lines; after a
    // FAIL nothing more went to the sensor's EEPROM, and the serial stays for another try.
    void calibrateSensor_data() {
        QTest::addColumn<Sensor>("sensor");
        QTest::addColumn<bool>("stop");         // STOP during the calibration's readings
        QTest::addColumn<QByteArray>("events"); // the run's record lines, then its result
        QTest::addRow("pass") << Sensor{} << false
                              << QByteArray("power calculate verify finish sequence:pass");
        QTest::addRow("spread") << Sensor{.base = {3700, 4000, 4300}} << false
                                << QByteArray("power sequence:fail power spread");
        QTest::addRow("stopped") << Sensor{} << true
                                 << QByteArray("power calculate sequence:fail calculate stopped");
    }
    void calibrateSensor() {
        QFETCH(Sensor, sensor);
        QFETCH(bool, stop);
        QFETCH(QByteArray, events);
        use(sensor, 100);
        sim().setFactors({1100, 950, 1200});
        rt::SetCtrlVal(panel, P_STRINGOPERATOR, "A. Tester");
        rt::SetCtrlVal(panel, P_STRINGSERIAL, "SN-4711");
        rt::SetCtrlVal(panel, P_STRINGREFERENCE, "TILE-07");
        const int linesBefore = int(recordLines().size());
        sim().clearFrames();
        qvtest::PopupRecorder popups;
        // During the calibration's hundred readings, whatever AUTO POWER took before them: the
        // step's status line shows until the series ends, and no event is pumped before it starts.
        if (stop)
            qvtest::whenever([] { return qvtest::statusLine().contains(" 4/6 "); },
                             [] { qvtest::click(panel, P_BUTTONSTOP); });
        CalibrateSensor();
        QCOMPARE(popups.count(), std::size_t(1)); // the confirmation alone
        QCOMPARE(popups.last().title, std::string("CALIBRATE SENSOR"));
        QVERIFY(qvtest::commandsLive());

        const QList<QByteArrayList> rows =
            qvtest::csvRows(qvtest::fileBytes(rig_->file(kRecordFileName)));
        QByteArrayList got;
        for (int i = linesBefore; i < rows.size(); ++i) {
            const QByteArrayList &row = rows[i];
            QCOMPARE(row.value(1), rows.last().value(1)); // the run's sequence_id
            QCOMPARE(row.value(5), QByteArray("SN-4711"));
            QCOMPARE(row.mid(21, 3).join(','), QByteArray("1100,950,1200")); // found_*
            got << (row.value(3) == "sequence" ? "sequence:" + row.value(30).trimmed()
                                               : row.value(3));
        }
        QCOMPARE(got.join(' '), events);
        const bool pass = events.endsWith("pass");
        QCOMPARE(qvtest::ctrlText(panel, P_DISPRESULT).startsWith("PASS"), pass);
        QVERIFY(qvtest::grabPanel(
            panel, qvtest::picture(QString("sequence-%1.png").arg(QTest::currentDataTag()))));
        QCOMPARE(qvtest::ctrlText(panel, P_STRINGSERIAL),
                 pass ? QByteArray() : QByteArray("SN-4711"));
        // Either way the next scan lands there whole, not added to the serial that stayed.
        QCOMPARE(rt::GetActiveCtrl(panel), P_STRINGSERIAL);
        QTest::keyClicks(qvtest::widget(panel, P_STRINGSERIAL), "SN-4712");
        QCOMPARE(qvtest::ctrlText(panel, P_STRINGSERIAL), QByteArray("SN-4712"));
        // The new factors went to the sensor only after a pass; nothing after a failed step.
        const qvsim::Factors factors = sim().factors(), found{1100, 950, 1200};
        QCOMPARE(pass, factors != found);
        if (pass)
            for (int k = 0; k < 3; ++k)
                QVERIFY(std::abs(int(factors[k]) - 1024 * 1000 / int(sensor.base[k] / 4)) <= 12);
    }
};

QTEST_MAIN(StationTest)
#include "test_station.moc"
