// The calibration record: each line byte for byte, one header, earlier lines kept, and a file
// that cannot be written reported once per run while the calibration goes on.
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

CalibrationRecord record(const char *sensor, const char *link, const char *result,
                         RecordEvent event = RecordEvent::Calculate) {
    return {.when = kWhen, .event = event, .sensor = sensor, .link = link, .result = result};
}

// The line of a record without figures, its text fields as they must appear.
QByteArray line(const char *event, const QByteArray &sensor, const QByteArray &link,
                const QByteArray &result, const char *time = "09:26:53+00:00") {
    return "2025-03-14T" + QByteArray(time) + "," + event + "," + sensor + "," + link +
           QByteArray(13, ',') + result + "\r\n";
}

void placeRecordIn(const QString &dir) {
    rt::CopyText(ipComboBoxFileName, QFile::encodeName(dir + "/" + kHistoryFileName).constData());
}

} // namespace

class RecordTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() { qvtest::initRunTime(); }

    // The time's offset east and west of UTC, quoting, Latin-1 as UTF-8, the formula guard.
    // (The figures' columns: test_operator, which checks each run's line.)
    void lines() {
        const struct {
            const char *tz;
            CalibrationRecord record;
            QByteArray line;
        } rows[] = {
            // clang-format off
            {"QVT-01:30", record(kSensor, kLink, "passed"),
             line("calculate", kSensor, kLink, "passed", "10:56:53+01:30")},
            {"QVW+03:00", record(kSensor, "COM3", "declined"),
             line("calculate", kSensor, "COM3", "declined", "06:26:53-03:00")},
            {"UTC0", record("SENSOR \"X\", REV 2", "sensor\nline:1", "timeout"),
             line("calculate", "\"SENSOR \"\"X\"\", REV 2\"", "\"sensor\nline:1\"", "timeout")},
            {"UTC0", record("MESSKOPF \xB5-RGB \xC4", kLink, "stored", RecordEvent::Finish),
             line("finish", "MESSKOPF \xC2\xB5-RGB \xC3\x84", kLink, "stored")},
            {"UTC0", record("=HYPERLINK(\"x\")", "-h:1", "+1"),
             line("calculate", "\"'=HYPERLINK(\"\"x\"\")\"", "'-h:1", "'+1")},
            {"UTC0", record("@SUM(A1)", "\tTAB", "-2+3"),
             line("calculate", "'@SUM(A1)", "'\tTAB", "'-2+3")},
            // clang-format on
        };
        for (const auto &r : rows) {
            qputenv("TZ", r.tz);
            tzset();
            char out[2048];
            QVERIFY(FormatRecordLine(r.record, out, sizeof out));
            QCOMPARE(QByteArray(out), r.line);
            // A buffer one byte short is refused, never cut.
            QVERIFY(!FormatRecordLine(r.record, out, std::size_t(r.line.size())));
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
        QVERIFY(AppendRecord(record(kSensor, kLink, "passed")));
        QVERIFY(AppendRecord(record(kSensor, kLink, "range")));
        QCOMPARE(qvtest::fileBytes(path), kRecordHeader + QByteArray("\r\n") +
                                              line("calculate", kSensor, kLink, "passed") +
                                              line("calculate", kSensor, kLink, "range"));
        QVERIFY(qvtest::writeFile(path, "written by hand\r\n"));
        QVERIFY(AppendRecord(record(kSensor, kLink, "declined")));
        QCOMPARE(qvtest::fileBytes(path),
                 "written by hand\r\n" + line("calculate", kSensor, kLink, "declined"));
    }

    // A record that cannot be written: one box in the run, a line on standard error for every
    // line lost; a later writable record is written again.
    void unwritableIsToldOncePerRun() {
        qvtest::ScratchProject project;
        placeRecordIn(project.file("gone"));
        qvtest::PopupRecorder popups;
        qvtest::StderrCapture err;
        QVERIFY(!AppendRecord(record(kSensor, kLink, "passed")));
        QVERIFY(!AppendRecord(record(kSensor, kLink, "passed")));
        ipComboBoxFileName[0] = '\0'; // no folder for the history either
        QVERIFY(!AppendRecord(record(kSensor, kLink, "passed")));
        const QList<QByteArray> lines = err.text().trimmed().split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[0].startsWith("quorvat: cannot write the calibration record "));
        QVERIFY(lines[0].contains("gone"));
        QVERIFY(lines[2].startsWith("quorvat: no folder for the calibration record"));
        QCOMPARE(popups.count(), std::size_t(1));
        QCOMPARE(QByteArray(popups.last().title.c_str()), QByteArray("ATTENTION!"));
        QVERIFY(QByteArray(popups.last().text.c_str()).contains("gone"));
        placeRecordIn(project.path());
        QVERIFY(AppendRecord(record(kSensor, kLink, "passed")));
        QCOMPARE(popups.count(), std::size_t(1));
    }
};

QTEST_MAIN(RecordTest)
#include "test_record.moc"
