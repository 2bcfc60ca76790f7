// The calibration record: each kind of line byte for byte, one header, the record of an earlier
// version kept whole under its first date, a file of neither header left alone, appends of two
// instances at once kept apart under ids that never repeat, and a file that cannot be written
// left as it was and reported once per run while the calibration goes on.
#include "platform/utility.h"
#include "record/record.h"
#include "shell/state.h"
#include "tests/support/support.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/file.h>

using namespace qv;

namespace {

constexpr std::time_t kWhen = 1741944413; // 2025-03-14 09:26:53 UTC
constexpr const char *kSensor = "QUORVAT SENSOR V4.07";
constexpr const char *kSoftware = "Quorvat " QUORVAT_VERSION;
constexpr const char *kOldHeader =
    "time,event,sensor,link,set_value,max_delta,mean_r,mean_g,mean_b,"
    "mean_delta,cf_r,cf_g,cf_b,readback_r,readback_g,readback_b,"
    "result\r\n";
constexpr const char *kWriterArgument = "-append-record-lines";
constexpr const char *kWriters[] = {"WRITER A", "WRITER B"};
constexpr int kLinesEach = 200;

// The station's texts, Latin-1 as the text controls hold them: operator, serial, reference and
// the sensor's version text.
struct Station {
    const char *texts[4];
};
constexpr Station kStation = {{"Anna Berg", "SN 0815", "W7", kSensor}};

void enterStation(const Station &s, const char *sequence = "") {
    rt::CopyText(operatorName, s.texts[0]);
    rt::CopyText(sensorSerial, s.texts[1]);
    rt::CopyText(whiteReference, s.texts[2]);
    rt::CopyText(version, s.texts[3]);
    rt::CopyText(sequenceId, sequence);
}

// The line for the id "ID" at kWhen: `station` as written, the link empty (none is open here),
// then the line's own columns from power on.
QByteArray line(const char *time, const QByteArray &sequence, const char *event,
                const QByteArray &station, const QByteArray &own) {
    return "ID," + sequence + ",2025-03-14T" + time + "," + event + "," + station + ",," +
           kSoftware + "," + own + "\r\n";
}
const QByteArray kStationColumns = "Anna Berg,SN 0815,W7," + QByteArray(kSensor);
const QByteArray kUtc = "09:26:53+00:00";

void placeRecordIn(const QString &dir) {
    rt::CopyText(ipComboBoxFileName, QFile::encodeName(dir + "/" + kHistoryFileName).constData());
}

CalibrationRecord calculation(const char *result) {
    return {.event = RecordEvent::Calculate, .result = result};
}

// The ids and the lines of a record, after its header.
QList<QByteArrayList> linesOf(const QString &path) {
    return qvtest::csvRows(qvtest::fileBytes(path)).mid(1);
}

} // namespace

class RecordTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() { qvtest::initRunTime("de_DE.UTF-8"); }

    // Every kind of line with its own columns, empty ones included, the time east and west of
    // UTC, the standard deviations with a point under the German locale; text fields quoted,
    // guarded against formulas and turned from Latin-1 into UTF-8.
    void lines() {
        const struct {
            const char *tz, *sequence;
            Station station;
            CalibrationRecord record;
            QByteArray line;
        } rows[] = {
            // clang-format off
            {"QVT-01:30", "", kStation,
             {.event = RecordEvent::Power, .power = 186, .setValue = 1000, .maxDelta = 100,
              .readings = 10, .mean = {967, 893, 1135}, .result = "found"},
             line("10:56:53+01:30", "", "power", kStationColumns,
                  "186,1000,100,10,967,893,1135" + QByteArray(14, ',') + "found")},
            {"QVW+03:00", "", kStation,
             {.event = RecordEvent::Calculate, .power = 186, .setValue = 1000, .maxDelta = 100,
              .readings = 100, .mean = {1000, 1024, 974}, .sd = {3.456, 0.0, 12.5},
              .meanDelta = 49, .found = {1100, 1000, 900}, .cf = {1024, 1000, 1051},
              .result = "passed"},
             line("06:26:53-03:00", "", "calculate", kStationColumns,
                  "186,1000,100,100,1000,1024,974,3.46,0.00,12.50,49,1100,1000,900,1024,1000,1051,"
                  ",,,passed")},
            {"UTC0", "S-1", kStation,
             {.event = RecordEvent::Verify, .power = 186, .setValue = 1000, .readings = 20,
              .mean = {1001, 999, 1000}, .sd = {0.5, 0.25, 2.0}, .cf = {1024, 1000, 1051},
              .result = "passed"},
             line(kUtc, "S-1", "verify", kStationColumns,
                  "186,1000,,20,1001,999,1000,0.50,0.25,2.00,,,,,1024,1000,1051,,,,passed")},
            {"UTC0", "", kStation,
             {.event = RecordEvent::Finish, .found = {1100, 1000, 900}, .cf = {1024, 1000, 1051},
              .readback = {1024, 1000, 1050}, .result = "readback differs"},
             line(kUtc, "", "finish", kStationColumns, QByteArray(11, ',') +
                  "1100,1000,900,1024,1000,1051,1024,1000,1050,readback differs")},
            {"UTC0", "S-1", kStation,
             {.event = RecordEvent::Sequence, .result = "fail power spread"},
             line(kUtc, "S-1", "sequence", kStationColumns,
                  QByteArray(20, ',') + "fail power spread")},
            {"UTC0", "", {{"", "", "", ""}}, calculation("declined"),
             line(kUtc, "", "calculate", ",,,", QByteArray(20, ',') + "declined")},
            {"UTC0", "", {{"J\xF6rg \"JM\", QA", "=1+2", "@W7", "+MESSKOPF \xB5\tRGB \xC4"}},
             calculation("-2+3"),
             line(kUtc, "", "calculate",
                  "\"J\xC3\xB6rg \"\"JM\"\", QA\",'=1+2,'@W7,'+MESSKOPF \xC2\xB5\tRGB \xC3\x84",
                  QByteArray(20, ',') + "'-2+3")},
            {"UTC0", "", {{"\tTAB", "SN\n2", "\rW", "=HYPERLINK(\"x\")"}}, calculation("timeout"),
             line(kUtc, "", "calculate", "'\tTAB,\"SN\n2\",\"'\rW\",\"'=HYPERLINK(\"\"x\"\")\"",
                  QByteArray(20, ',') + "timeout")},
            // clang-format on
        };
        for (const auto &r : rows) {
            qputenv("TZ", r.tz);
            tzset();
            enterStation(r.station, r.sequence);
            char out[2048];
            QVERIFY(FormatRecordLine(r.record, "ID", kWhen, out, sizeof out));
            QCOMPARE(QByteArray(out), r.line);
            // A buffer one byte short is refused, never cut.
            QVERIFY(!FormatRecordLine(r.record, "ID", kWhen, out, std::size_t(r.line.size())));
        }
    }

    // One header on a new file; a line left without its end (edited by hand) is ended, not glued
    // to. A record of an earlier version is kept whole, renamed once under the date of its first
    // line, and a new one is started: each file's lines under their own header.
    void earlierFiles() {
        qvtest::ScratchProject project;
        placeRecordIn(project.path());
        enterStation(kStation);
        const QString path = project.file(kRecordFileName);
        const QByteArray old =
            kOldHeader + QByteArray("2024-11-02T08:00:00+01:00,calculate,") + kSensor +
            ",COM1,1000,100,999,1024,974,49,1025,1000,1051,,,,passed\r\n"
            "2024-11-05T09:00:00+01:00,finish,\"A, B\",COM1,,,,,,,1025,1000,1051,,,,timeout\r\n";
        QVERIFY(qvtest::writeFile(path, old));
        qvtest::StderrCapture err;
        QVERIFY(AppendRecord(calculation("passed")) && AppendRecord(calculation("range")));
        QCOMPARE(qvtest::fileBytes(project.file("calibrations-since-2024-11-02.csv")), old);
        const QList<QByteArrayList> rows = qvtest::csvRows(qvtest::fileBytes(path));
        QVERIFY(rows.size() == 3 && rows[0].join(',') == kRecordHeader);
        QVERIFY(rows[1].size() == rows[0].size() && rows[2].size() == rows[0].size());
        QCOMPARE(rows[2].last(), QByteArray("range"));

        // An earlier version, still running, made itself a new file meanwhile: that one goes too.
        QVERIFY(qvtest::writeFile(path, kOldHeader + old.mid(old.indexOf('\n') + 1, 40)));
        QVERIFY(AppendRecord(calculation("passed")));
        QVERIFY(QFile::exists(project.file("calibrations-since-2024-11-02-2.csv")));
        QCOMPARE(linesOf(path).size(), 1);
        const QList<QByteArray> said = err.text().trimmed().split('\n');
        QCOMPARE(said.size(), 2);
        QVERIFY(said[1].contains(" kept whole as ") && said[1].endsWith("-2.csv, and a new record "
                                                                        "started"));

        const QByteArray byHand = QByteArray(kRecordHeader) + "\r\nwritten by hand";
        QVERIFY(qvtest::writeFile(path, byHand));
        QVERIFY(AppendRecord(calculation("declined")));
        QVERIFY(qvtest::fileBytes(path).startsWith(byHand + "\r\n"));
        QCOMPARE(linesOf(path).last().last(), QByteArray("declined"));
    }

    // A record that cannot be written, the disk full or the folder gone, a file of neither
    // header, an old record that cannot be renamed: every file as it was, one box in the run
    // naming it as typed, a line on standard error for every line lost; a later writable record
    // is written again.
    void failedAppendsLeaveTheFileAndAreToldOnce() {
        qvtest::ScratchProject project;
        const QString folder = project.file(QString::fromUtf8("Pr\u00FCfung-\u00E4"));
        const QString path = folder + "/" + kRecordFileName;
        QVERIFY(QDir().mkdir(folder));
        placeRecordIn(folder);
        qvtest::PopupRecorder popups;
        qvtest::StderrCapture err;
        QVERIFY(AppendRecord(calculation("passed")));
        const QByteArray before = qvtest::fileBytes(path);
        {
            const qvtest::FileSizeLimit full(before.size() + 20); // the disk fills up in the line
            QVERIFY(!AppendRecord(calculation("range")));
        }
        QCOMPARE(qvtest::fileBytes(path), before);
        placeRecordIn(project.file("gone"));
        QVERIFY(!AppendRecord(calculation("passed")));
        ipComboBoxFileName[0] = '\0'; // no folder for the history either
        QVERIFY(!AppendRecord(calculation("passed")));

        placeRecordIn(project.path());
        const QString other = project.file(kRecordFileName);
        // Every name the old record could take is taken already.
        for (int n = 1; n <= 100; ++n)
            QVERIFY(qvtest::writeFile(project.file("calibrations-since-2024-11-02" +
                                                   (n > 1 ? QString("-%1").arg(n) : QString()) +
                                                   ".csv"),
                                      "kept"));
        const QByteArray oldFile = kOldHeader + QByteArray("2024-11-02T08:00:00+01:00,calculate");
        for (const QByteArray &first : {QByteArray("written by hand\r\n"), oldFile}) {
            QVERIFY(qvtest::writeFile(other, first));
            QVERIFY(!AppendRecord(calculation("passed")));
            QCOMPARE(qvtest::fileBytes(other), first);
        }
        placeRecordIn(folder);
        QVERIFY(AppendRecord(calculation("range")));
        QCOMPARE(linesOf(path).size(), 2);
        QVERIFY(qvtest::fileBytes(path).startsWith(before));

        const QList<QByteArray> lines = err.text().trimmed().split('\n');
        QCOMPARE(lines.size(), 5);
        QVERIFY(lines[0].startsWith("quorvat: cannot write the calibration record "));
        QVERIFY(lines[0].contains(QFile::encodeName(path)) && lines[1].contains("gone"));
        QVERIFY(lines[2].startsWith("quorvat: no folder for the calibration record"));
        QVERIFY(lines[3].contains("does not start with the calibration record's header; it is "
                                  "left as it is; the line of this calibration is not kept"));
        QVERIFY(lines[4].startsWith("quorvat: cannot rename the calibration record " +
                                    QFile::encodeName(other)));
        QCOMPARE(popups.count(), std::size_t(1));
        QCOMPARE(QByteArray(popups.last().title.c_str()), QByteArray("ATTENTION!"));
        QVERIFY(QString::fromStdString(popups.last().text).contains(path));
    }

    // Two instances appending at once to a record of the earlier version: it is renamed once,
    // and the new one has one header and every line whole, each with an id of its own. They
    // start while a third holds the lock, as one in the middle of its own append would: both
    // wait on the old file, then run against each other from the same moment.
    void twoWritersAtOnce() {
        QTemporaryDir dir;
        QFile held(dir.filePath(kRecordFileName));
        const QByteArray old = kOldHeader + QByteArray("2026-12-07T02:04:42+00:00,calculate,,,,,,"
                                                       ",,,,,,,,,declined\r\n");
        QVERIFY(held.open(QIODevice::ReadWrite) && held.write(old) == old.size() && held.flush());
        QVERIFY(::flock(held.handle(), LOCK_EX) == 0);
        QProcess writers[2];
        for (int w = 0; w < 2; ++w)
            writers[w].start(QCoreApplication::applicationFilePath(),
                             {kWriterArgument, dir.path(), kWriters[w]});
        for (QProcess &w : writers) // "ready": the next step is the append
            QVERIFY(w.waitForReadyRead(10000));
        QVERIFY(!writers[0].waitForFinished(300));
        QCOMPARE(held.size(), old.size());
        QVERIFY(::flock(held.handle(), LOCK_UN) == 0);
        for (QProcess &w : writers)
            QVERIFY(w.waitForFinished(60000) && w.exitCode() == 0);

        QCOMPARE(qvtest::fileBytes(dir.filePath("calibrations-since-2026-12-07.csv")), old);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2);
        const QList<QByteArray> lines = qvtest::fileBytes(held.fileName()).split('\n');
        QCOMPARE(lines.size(), 2 * kLinesEach + 2); // nothing after the last line end
        QCOMPARE(lines[0], kRecordHeader + QByteArray("\r"));
        int next[2] = {0, 0}; // each writer's lines come in its order
        QSet<QByteArray> ids;
        const QRegularExpression idForm("^\\d{8}T\\d{6}Z-\\d+-\\d+$");
        for (const QByteArray &l : lines.mid(1, 2 * kLinesEach)) {
            const QByteArrayList f = l.chopped(1).split(',');
            const int w = f[7] == kWriters[1];
            QVERIFY(f.size() == 31 && f[7] == kWriters[w] && f.last() == "passed");
            QCOMPARE(f[13].toInt(), next[w]++);
            QVERIFY2(idForm.match(QString::fromLatin1(f[0])).hasMatch(), f[0].constData());
            ids.insert(f[0]);
        }
        QCOMPARE(ids.size(), 2 * kLinesEach);
    }
};

// The other writer of twoWritersAtOnce: its lines into the record in `dir`, after a line "ready".
int appendLines(const char *dir, const char *sensor) {
    placeRecordIn(QFile::decodeName(dir));
    enterStation({{"", "", "", sensor}});
    std::puts("ready");
    std::fflush(stdout);
    for (int i = 0; i < kLinesEach; ++i) {
        CalibrationRecord r = calculation("passed");
        r.readings = i;
        if (!AppendRecord(r))
            return 1;
    }
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
