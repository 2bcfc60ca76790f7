// The calibration record: each line byte for byte (time with its offset, quoting, the formula
// guard, Latin-1 text as UTF-8), one header, earlier lines kept, and a file that cannot be
// written reported once per run while the calibration goes on.
#include "platform/utility.h"
#include "record/record.h"
#include "shell/state.h"
#include "tests/support/support.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <ctime>

using namespace qv;

Q_DECLARE_METATYPE(qv::CalibrationRecord)

namespace {

constexpr std::time_t kWhen = 1741944413; // 2025-03-14 09:26:53 UTC

void setTimeZone(const char *tz) {
    qputenv("TZ", tz);
    tzset();
}

CalibrationRecord calculation(const char *result) {
    CalibrationRecord r;
    r.when = kWhen;
    r.sensor = "QUORVAT SENSOR V4.07";
    r.link = "127.0.0.1:10001";
    r.result = result;
    return r;
}

void placeRecordIn(const QString &dir) {
    const QByteArray history = QDir::toNativeSeparators(dir + "/" + kHistoryFileName).toLocal8Bit();
    rt::CopyText(ipComboBoxFileName, history.constData());
}

QByteArray fileBytes(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class RecordTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() { qvtest::initRunTime(); }

    void lines_data() {
        QTest::addColumn<QByteArray>("tz");
        QTest::addColumn<CalibrationRecord>("record");
        QTest::addColumn<QByteArray>("line");

        CalibrationRecord passed = calculation("passed");
        passed.setValue = 1000;
        passed.maxDelta = 100;
        const long means[4] = {1000, 1002, 998, 12};
        std::copy(std::begin(means), std::end(means), passed.mean);
        passed.cf[0] = 1024, passed.cf[1] = 1021, passed.cf[2] = 1026;
        QTest::newRow("calculate, passed, east of UTC")
            << QByteArray("QVT-01:30") << passed
            << QByteArray("2025-03-14T10:56:53+01:30,calculate,QUORVAT SENSOR V4.07,"
                          "127.0.0.1:10001,1000,100,1000,1002,998,12,1024,1021,1026,,,,passed\r\n");

        CalibrationRecord declined = calculation("declined");
        declined.link = "COM3";
        QTest::newRow("calculate, declined, west of UTC")
            << QByteArray("QVW+03:00") << declined
            << QByteArray("2025-03-14T06:26:53-03:00,calculate,QUORVAT SENSOR V4.07,COM3,,,,,,,,,"
                          ",,,,declined\r\n");

        CalibrationRecord differs = calculation("readback differs");
        differs.event = RecordEvent::Finish;
        differs.cf[0] = 1000, differs.cf[1] = 1001, differs.cf[2] = 1002;
        differs.readback[0] = differs.readback[1] = differs.readback[2] = 1024;
        QTest::newRow("finish, read back differs")
            << QByteArray("UTC0") << differs
            << QByteArray("2025-03-14T09:26:53+00:00,finish,QUORVAT SENSOR V4.07,127.0.0.1:10001,"
                          ",,,,,,1000,1001,1002,1024,1024,1024,readback differs\r\n");

        CalibrationRecord quoted = calculation("timeout");
        quoted.sensor = "SENSOR \"X\", REV 2";
        quoted.link = "sensor\nline:1";
        QTest::newRow("quotes, commas and line feeds are quoted")
            << QByteArray("UTC0") << quoted
            << QByteArray("2025-03-14T09:26:53+00:00,calculate,\"SENSOR \"\"X\"\", REV 2\","
                          "\"sensor\nline:1\",,,,,,,,,,,,,timeout\r\n");

        const char *const formulas[][2] = {{"=HYPERLINK(\"x\")", "\"'=HYPERLINK(\"\"x\"\")\""},
                                           {"+1", "'+1"},
                                           {"-2+3", "'-2+3"},
                                           {"@SUM(A1)", "'@SUM(A1)"},
                                           {"\tTAB", "'\tTAB"}};
        for (const auto &f : formulas) {
            CalibrationRecord guarded = calculation("spread");
            guarded.sensor = f[0];
            guarded.link = "-h:1";
            QTest::addRow("formula guard: %s", f[0])
                << QByteArray("UTC0") << guarded
                << QByteArray("2025-03-14T09:26:53+00:00,calculate,") + f[1] +
                       ",'-h:1,,,,,,,,,,,,,spread\r\n";
        }

        CalibrationRecord latin1 = calculation("stored");
        latin1.event = RecordEvent::Finish;
        latin1.sensor = "MESSKOPF \xB5-RGB \xC4"; // as the sensor sends it: Latin-1
        QTest::newRow("Latin-1 text as UTF-8")
            << QByteArray("UTC0") << latin1
            << QByteArray("2025-03-14T09:26:53+00:00,finish,MESSKOPF \xC2\xB5-RGB \xC3\x84,"
                          "127.0.0.1:10001,,,,,,,,,,,,,stored\r\n");
    }
    void lines() {
        QFETCH(QByteArray, tz);
        QFETCH(CalibrationRecord, record);
        QFETCH(QByteArray, line);
        setTimeZone(tz.constData());
        char out[2048];
        QVERIFY(FormatRecordLine(record, out, sizeof out));
        QCOMPARE(QByteArray(out), line);
        // A buffer one byte short is refused, never cut.
        QVERIFY(!FormatRecordLine(record, out, std::size_t(line.size())));
    }

    // One header on a new file; lines already there, from earlier runs, stay as they were.
    void appendsAfterEarlierLines() {
        setTimeZone("UTC0");
        QTemporaryDir dir;
        placeRecordIn(dir.path());
        const QString path = dir.filePath(kRecordFileName);
        qvtest::PopupRecorder popups;
        QVERIFY(AppendRecord(calculation("passed")));
        QVERIFY(AppendRecord(calculation("range")));
        const QByteArray line = "2025-03-14T09:26:53+00:00,calculate,QUORVAT SENSOR V4.07,"
                                "127.0.0.1:10001,,,,,,,,,,,,,";
        QCOMPARE(fileBytes(path),
                 QByteArray(kRecordHeader) + "\r\n" + line + "passed\r\n" + line + "range\r\n");
        QFile earlier(path);
        QVERIFY(earlier.open(QIODevice::WriteOnly | QIODevice::Truncate));
        earlier.write("written by hand\r\n");
        earlier.close();
        QVERIFY(AppendRecord(calculation("declined")));
        QCOMPARE(fileBytes(path), "written by hand\r\n" + line + "declined\r\n");
        QCOMPARE(popups.count(), std::size_t(0));
    }

    // A record that cannot be written: one box in the run, a line on standard error for every
    // line lost; a later writable record is written again.
    void unwritableIsToldOncePerRun() {
        QTemporaryDir dir;
        placeRecordIn(dir.filePath("gone"));
        qvtest::PopupRecorder popups;
        qvtest::StderrCapture err;
        QVERIFY(!AppendRecord(calculation("passed")));
        QVERIFY(!AppendRecord(calculation("passed")));
        ipComboBoxFileName[0] = '\0'; // no folder for the history either
        QVERIFY(!AppendRecord(calculation("passed")));
        const QList<QByteArray> lines = err.text().trimmed().split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[0].startsWith("quorvat: cannot write the calibration record "));
        QVERIFY(lines[0].contains("gone"));
        QVERIFY(lines[2].startsWith("quorvat: no folder for the calibration record"));
        QCOMPARE(popups.count(), std::size_t(1));
        QCOMPARE(QByteArray(popups.last().title.c_str()), QByteArray("ATTENTION!"));
        QVERIFY(QByteArray(popups.last().text.c_str()).contains("gone"));
        placeRecordIn(dir.path());
        QVERIFY(AppendRecord(calculation("passed")));
        QCOMPARE(popups.count(), std::size_t(1));
    }
};

QTEST_MAIN(RecordTest)
#include "test_record.moc"
