// The calibration record: each line byte for byte, one header, earlier lines kept, appends of
// two instances at once kept apart, and a file that cannot be written left as it was and
// reported once per run while the calibration goes on.
#include "platform/utility.h"
#include "record/record.h"
#include "shell/state.h"
#include "tests/support/support.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QTest>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/file.h>

using namespace qv;

namespace {

constexpr std::time_t kWhen = 1741944413; // 2025-03-14 09:26:53 UTC
constexpr const char *kSensor = "QUORVAT SENSOR V4.07", *kLink = "127.0.0.1:10001";
constexpr const char *kWriterArgument = "-append-record-lines";
constexpr const char *kWriters[] = {"WRITER A", "WRITER B"};
constexpr int kLinesEach = 200;

CalibrationRecord record(const char *, const char *, const char *result,
                         RecordEvent event = RecordEvent::Calculate) {
    return {.event = event, .result = result};
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
    void initTestCase() { qvtest::initRunTime("de_DE.UTF-8"); }

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

    // One header on a new file; lines already there, from earlier runs, stay as they were, and
    // one written by hand without its line end is ended, not glued to. Every line has the
    // header's fields, under the German locale too.
    void appendsAfterEarlierLines() {
        qputenv("TZ", "UTC0");
        tzset();
        qvtest::ScratchProject project;
        placeRecordIn(project.path());
        const QString path = project.file(kRecordFileName);
        qvtest::PopupRecorder popups;
        CalibrationRecord figures = record(kSensor, kLink, "passed");
        figures.cf[0] = 1024;
        QVERIFY(AppendRecord(figures) && AppendRecord(record(kSensor, kLink, "range")));
        const QList<QByteArrayList> rows = qvtest::csvRows(qvtest::fileBytes(path));
        QVERIFY(rows.size() == 3 && rows[0].join(',') == kRecordHeader);
        QVERIFY(rows[1].size() == rows[0].size() && rows[2].size() == rows[0].size());
        QVERIFY(qvtest::writeFile(path, "written by hand"));
        QVERIFY(AppendRecord(record(kSensor, kLink, "declined")));
        QCOMPARE(qvtest::fileBytes(path),
                 "written by hand\r\n" + line("calculate", kSensor, kLink, "declined"));
    }

    // A record that cannot be written, the disk full or the folder gone: the file as it was, one
    // box in the run naming it as typed, a line on standard error for every line lost; a later
    // writable record is written again.
    void failedAppendsLeaveTheFileAndAreToldOnce() {
        qvtest::ScratchProject project;
        const QString folder = project.file(QString::fromUtf8("Pr\u00FCfung-\u00E4"));
        const QString path = folder + "/" + kRecordFileName;
        QVERIFY(QDir().mkdir(folder));
        placeRecordIn(folder);
        qvtest::PopupRecorder popups;
        qvtest::StderrCapture err;
        QVERIFY(AppendRecord(record(kSensor, kLink, "passed")));
        const QByteArray before = qvtest::fileBytes(path);
        {
            const qvtest::FileSizeLimit full(before.size() + 20); // the disk fills up in the line
            QVERIFY(!AppendRecord(record(kSensor, kLink, "range")));
        }
        QCOMPARE(qvtest::fileBytes(path), before);
        placeRecordIn(project.file("gone"));
        QVERIFY(!AppendRecord(record(kSensor, kLink, "passed")));
        ipComboBoxFileName[0] = '\0'; // no folder for the history either
        QVERIFY(!AppendRecord(record(kSensor, kLink, "passed")));
        placeRecordIn(folder);
        QVERIFY(AppendRecord(record(kSensor, kLink, "range")));
        QCOMPARE(qvtest::fileBytes(path), before + line("calculate", kSensor, kLink, "range"));

        const QList<QByteArray> lines = err.text().trimmed().split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[0].startsWith("quorvat: cannot write the calibration record "));
        QVERIFY(lines[0].contains(QFile::encodeName(path)) && lines[1].contains("gone"));
        QVERIFY(lines[2].startsWith("quorvat: no folder for the calibration record"));
        QCOMPARE(popups.count(), std::size_t(1));
        QCOMPARE(QByteArray(popups.last().title.c_str()), QByteArray("ATTENTION!"));
        QVERIFY(QString::fromStdString(popups.last().text).contains(path));
    }

    // Two instances appending at once: one header, every line whole. They start while a third
    // holds the lock, as one in the middle of its own append would: both wait, then run against
    // each other from the same moment.
    void twoWritersAtOnce() {
        QTemporaryDir dir;
        QFile held(dir.filePath(kRecordFileName));
        QVERIFY(held.open(QIODevice::ReadWrite) && ::flock(held.handle(), LOCK_EX) == 0);
        QProcess writers[2];
        qputenv("TZ", "UTC0");
        for (int w = 0; w < 2; ++w)
            writers[w].start(QCoreApplication::applicationFilePath(),
                             {kWriterArgument, dir.path(), kWriters[w]});
        for (QProcess &w : writers) // "ready": the next step is the append
            QVERIFY(w.waitForReadyRead(10000));
        QVERIFY(!writers[0].waitForFinished(300));
        QCOMPARE(held.size(), 0);
        QVERIFY(::flock(held.handle(), LOCK_UN) == 0);
        for (QProcess &w : writers)
            QVERIFY(w.waitForFinished(60000) && w.exitCode() == 0);

        const QList<QByteArray> lines = qvtest::fileBytes(held.fileName()).split('\n');
        QCOMPARE(lines.size(), 2 * kLinesEach + 2); // nothing after the last line end
        QCOMPARE(lines[0], kRecordHeader + QByteArray("\r"));
        int next[2] = {0, 0}; // each writer's lines come in its order
        for (const QByteArray &l : lines.mid(1, 2 * kLinesEach)) {
            const int w = l.contains(kWriters[1]);
            QCOMPARE(l + '\n',
                     line("calculate", kWriters[w], QByteArray::number(next[w]++), "passed"));
        }
    }
};

// The other writer of twoWritersAtOnce: its lines into the record in `dir`, after a line "ready".
int appendLines(const char *dir, const char *sensor) {
    placeRecordIn(QFile::decodeName(dir));
    std::puts("ready");
    std::fflush(stdout);
    for (int i = 0; i < kLinesEach; ++i)
        if (!AppendRecord(record(sensor, QByteArray::number(i).constData(), "passed")))
            return 1;
    return 0;
}

int main(int argc, char **argv) {
    if (argc == 4 && std::strcmp(argv[1], kWriterArgument) == 0)
        return appendLines(argv[2], argv[3]);
    QApplication app(argc, argv);
    RecordTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_record.moc"
