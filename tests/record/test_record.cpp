// The calibration record: each line byte for byte (time with its offset, quoting, the formula
// guard, Latin-1 text as UTF-8), one header, earlier lines kept, and a file that cannot be
// written reported once per run while the calibration goes on.
#include "platform/utility.h"
#include "record/record.h"
#include "shell/state.h"
#include "tests/support/support.h"

#include <QTest>

#include <ctime>

using namespace qv;

namespace {

constexpr std::time_t kWhen = 1741944413; // 2025-03-14 09:26:53 UTC
constexpr const char *kSensor = "QUORVAT SENSOR V4.07", *kLink = "127.0.0.1:10001";
constexpr auto kFinish = RecordEvent::Finish;

CalibrationRecord calculation(const char *result) {
    return {.when = kWhen, .sensor = kSensor, .link = kLink, .result = result};
}

void placeRecordIn(const QString &dir) {
    rt::CopyText(ipComboBoxFileName, QFile::encodeName(dir + "/" + kHistoryFileName).constData());
}

} // namespace

class RecordTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() { qvtest::initRunTime(); }

    void lines() {
        const struct {
            const char *tz;
            CalibrationRecord record;
            QByteArray line; // after the time
        } rows[] = {
            // clang-format off
            // The time's offset, east and west of UTC. (The columns of whole calculations and
            // finishes: test_operator, which checks each run's line.)
            {"QVT-01:30",
             {.when = kWhen, .sensor = kSensor, .link = kLink, .setValue = 1000, .maxDelta = 100,
              .mean = {1000, 1002, 998, 12}, .cf = {1024, 1021, 1026}, .result = "passed"},
             "10:56:53+01:30,calculate,QUORVAT SENSOR V4.07,127.0.0.1:10001,1000,100,1000,1002,"
             "998,12,1024,1021,1026,,,,passed"},
            {"QVW+03:00", {.when = kWhen, .sensor = kSensor, .link = "COM3", .result = "declined"},
             "06:26:53-03:00,calculate,QUORVAT SENSOR V4.07,COM3,,,,,,,,,,,,,declined"},
            // Quotes, commas and line feeds are quoted.
            {"UTC0",
             {.when = kWhen, .sensor = "SENSOR \"X\", REV 2", .link = "sensor\nline:1",
              .result = "timeout"},
             "09:26:53+00:00,calculate,\"SENSOR \"\"X\"\", REV 2\",\"sensor\nline:1\",,,,,,,,,,,"
             ",,timeout"},
            // The sensor's Latin-1 as UTF-8.
            {"UTC0",
             {.when = kWhen, .event = kFinish, .sensor = "MESSKOPF \xB5-RGB \xC4", .link = kLink,
              .result = "stored"},
             "09:26:53+00:00,finish,MESSKOPF \xC2\xB5-RGB \xC3\x84,127.0.0.1:10001,,,,,,,,,,,,,"
             "stored"},
            // The formula guard.
            {"UTC0", {.when = kWhen, .sensor = "=HYPERLINK(\"x\")", .link = "-h:1", .result = "+1"},
             "09:26:53+00:00,calculate,\"'=HYPERLINK(\"\"x\"\")\",'-h:1,,,,,,,,,,,,,'+1"},
            {"UTC0", {.when = kWhen, .sensor = "@SUM(A1)", .link = "\tTAB", .result = "-2+3"},
             "09:26:53+00:00,calculate,'@SUM(A1),'\tTAB,,,,,,,,,,,,,'-2+3"},
            // clang-format on
        };
        for (const auto &r : rows) {
            qputenv("TZ", r.tz);
            tzset();
            const QByteArray line = "2025-03-14T" + r.line + "\r\n";
            char out[2048];
            QVERIFY(FormatRecordLine(r.record, out, sizeof out));
            QCOMPARE(QByteArray(out), line);
            // A buffer one byte short is refused, never cut.
            QVERIFY(!FormatRecordLine(r.record, out, std::size_t(line.size())));
        }
    }

    // One header on a new file; lines already there, from earlier runs, stay as they were.
    void appendsAfterEarlierLines() {
        qputenv("TZ", "UTC0");
        tzset();
        qvtest::ScratchProject project;
        placeRecordIn(project.path());
        const QString path = project.file(kRecordFileName);
        qvtest::PopupRecorder popups;
        QVERIFY(AppendRecord(calculation("passed")));
        QVERIFY(AppendRecord(calculation("range")));
        const QByteArray line = "2025-03-14T09:26:53+00:00,calculate,QUORVAT SENSOR V4.07,"
                                "127.0.0.1:10001,,,,,,,,,,,,,";
        QCOMPARE(qvtest::fileBytes(path),
                 QByteArray(kRecordHeader) + "\r\n" + line + "passed\r\n" + line + "range\r\n");
        QVERIFY(qvtest::writeFile(path, "written by hand\r\n"));
        QVERIFY(AppendRecord(calculation("declined")));
        QCOMPARE(qvtest::fileBytes(path), "written by hand\r\n" + line + "declined\r\n");
        QCOMPARE(popups.count(), std::size_t(0));
    }

    // A record that cannot be written: one box in the run, a line on standard error for every
    // line lost; a later writable record is written again.
    void unwritableIsToldOncePerRun() {
        qvtest::ScratchProject project;
        placeRecordIn(project.file("gone"));
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
        placeRecordIn(project.path());
        QVERIFY(AppendRecord(calculation("passed")));
        QCOMPARE(popups.count(), std::size_t(1));
    }
};

QTEST_MAIN(RecordTest)
#include "test_record.moc"
