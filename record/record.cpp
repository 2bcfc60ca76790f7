#include "record/record.h"

#include "link/commands.h"
#include "link/link.h"
#include "platform/userint.h"
#include "platform/utility.h"
#include "shell/state.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace qv {

using namespace rt;

const char kRecordHeader[] =
    "record_id,sequence_id,time,event,operator,sensor_serial,reference,sensor,link,software,power,"
    "set_value,max_delta,readings,mean_r,mean_g,mean_b,sd_r,sd_g,sd_b,mean_delta,found_r,found_g,"
    "found_b,cf_r,cf_g,cf_b,readback_r,readback_g,readback_b,result";

namespace {

// The header of the versions before, whose files are kept as they are and not added to.
constexpr char kOldRecordHeader[] = "time,event,sensor,link,set_value,max_delta,mean_r,mean_g,"
                                    "mean_b,mean_delta,cf_r,cf_g,cf_b,readback_r,readback_g,"
                                    "readback_b,result";
// The program's name and version, from the build's project().
constexpr char kSoftware[] = QUORVAT_SOFTWARE;
// CalcCF's series.
constexpr long kSeriesReadings = 100;
// calibrations-since-<date>.csv, then -2 ... -100 when the name is taken.
constexpr int kOldRecordNames = 100;

// Appends to a fixed buffer and remembers whether anything did not fit.
struct Line {
    char *out;
    std::size_t size;
    std::size_t used = 0;
    bool cut = false;

    void put(char c) {
        if (used + 1 < size)
            out[used++] = c;
        else
            cut = true;
    }
    void put(const char *text) {
        for (; *text; ++text)
            put(*text);
    }
};

bool needsQuotes(const char *text) {
    return std::strpbrk(text, ",\"\r\n") != nullptr;
}

// A text field: the formula guard, quotes when needed, Latin-1 bytes as UTF-8.
void putText(Line &line, const char *text) {
    if (!text)
        text = "";
    const bool quoted = needsQuotes(text);
    if (quoted)
        line.put('"');
    if (*text && std::strchr("=+-@\t\r", *text))
        line.put('\'');
    for (const char *p = text; *p; ++p) {
        const auto byte = static_cast<unsigned char>(*p);
        if (byte == '"')
            line.put('"');
        if (byte < 0x80) {
            line.put(*p);
        } else {
            line.put(static_cast<char>(0xC0 | (byte >> 6)));
            line.put(static_cast<char>(0x80 | (byte & 0x3F)));
        }
    }
    if (quoted)
        line.put('"');
}

void putNumber(Line &line, long value) {
    if (value < 0)
        return;
    char digits[24];
    std::snprintf(digits, sizeof digits, "%ld", value);
    line.put(digits);
}

// Local time in ISO 8601 with its offset from UTC, e.g. 2025-03-14T09:26:53+01:00.
void putTime(Line &line, std::time_t when) {
    std::tm local{};
    long offset = 0;
    LocalTime(when, &local, &offset);
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    const long minutes = (offset < 0 ? -offset : offset) / 60;
    std::snprintf(text + n, sizeof text - n, "%c%02ld:%02ld", offset < 0 ? '-' : '+', minutes / 60,
                  minutes % 60);
    line.put(text);
}

// A standard deviation: two decimals and a point under any locale (to_chars knows none).
void putDeviation(Line &line, double value) {
    char digits[32];
    const auto [end, error] =
        std::to_chars(digits, digits + sizeof digits - 1, value, std::chars_format::fixed, 2);
    if (value < 0 || !std::isfinite(value) || error != std::errc())
        return;
    *end = '\0';
    line.put(digits);
}

// A record_id or sequence_id: the UTC time (local time repeats an hour each autumn), this
// process, and its count of ids, which no other program appending at once shares.
void newId(char *out, std::size_t size, std::time_t when) {
    static unsigned long count = 0;
    char time[24] = "";
    if (const std::tm *utc = std::gmtime(&when))
        std::strftime(time, sizeof time, "%Y%m%dT%H%M%SZ", utc);
    std::snprintf(out, size, "%s-%ld-%lu", time, ProcessId(), ++count);
}

// calibrations.csv beside the address history; false when there is no such folder.
bool recordPath(char (&path)[sizeof ipComboBoxFileName]) {
    if (!ipComboBoxFileName[0])
        return false;
    CopyText(path, ipComboBoxFileName);
    char *slash = std::strrchr(path, PathSeparator()[0]);
    if (!slash)
        return false;
    slash[1] = '\0';
    return AppendText(path, kRecordFileName);
}

// Why a record file was not written to: a line for standard error, a sentence for the box.
struct Refusal {
    char why[900] = "";
    const char *box = "";
};

bool isDate(const char *t) {
    for (int i = 0; i < 10; ++i)
        if (i == 4 || i == 7 ? t[i] != '-' : t[i] < '0' || t[i] > '9')
            return false;
    return true;
}

// The date of the old record's first line (as it was written there, YYYY-MM-DD), or today's
// when it holds none.
void firstDate(const char *path, char (&date)[11]) {
    char line[64] = "";
    const int file = FileOpen(path, VAL_READ_ONLY, VAL_TRUNCATE, VAL_BINARY);
    bool dated = false;
    if (file > 0) {
        dated = ReadLine(file, line, sizeof line - 1) >= 0 &&
                ReadLine(file, line, sizeof line - 1) >= 10 && isDate(line);
        FileClose(file);
    }
    if (!dated) {
        std::tm local{};
        long offset = 0;
        LocalTime(std::time(nullptr), &local, &offset);
        std::strftime(line, sizeof line, "%Y-%m-%d", &local);
    }
    CopyText(date, line); // the date is the first ten characters
}

// Under the record's lock: the record with the old columns becomes
// calibrations-since-<first date>.csv beside it, never replacing a file, so that its lines stay
// as they were and under their own header.
bool moveOldRecord(const char *path, Refusal &refusal) {
    char date[11];
    firstDate(path, date);
    const int folder = static_cast<int>(std::strlen(path) - std::strlen(kRecordFileName));
    char to[sizeof ipComboBoxFileName + 40], first[sizeof to] = "";
    for (int n = 1; n <= kOldRecordNames; ++n) {
        char number[8] = "";
        if (n > 1)
            std::snprintf(number, sizeof number, "-%d", n);
        const int length = std::snprintf(to, sizeof to, "%.*scalibrations-since-%s%s.csv", folder,
                                         path, date, number);
        if (length < 0 || static_cast<std::size_t>(length) >= sizeof to)
            break;
        if (n == 1)
            CopyText(first, to);
        const int renamed = RenameFile(path, to);
        if (renamed == 0) {
            std::fprintf(stderr,
                         "quorvat: the calibration record %s has the columns of an earlier "
                         "version: kept whole as %s, and a new record started\n",
                         path, to);
            return true;
        }
        if (renamed != kFileExists)
            break;
    }
    std::snprintf(refusal.why, sizeof refusal.why,
                  "cannot rename the calibration record %s, which has the columns of an earlier "
                  "version, to %s",
                  path, first[0] ? first : "calibrations-since-<date>.csv");
    refusal.box = "It has the columns of an earlier version and cannot be renamed. \n ";
    return false;
}

// AppendToSharedFile's look at a record that holds lines: only a file of this header is added to.
FirstLine checkHeader(const char *path, const char *firstLine, void *data) {
    Refusal &refusal = *static_cast<Refusal *>(data);
    if (std::strcmp(firstLine, kRecordHeader) == 0)
        return FirstLine::Append;
    if (std::strcmp(firstLine, kOldRecordHeader) == 0)
        return moveOldRecord(path, refusal) ? FirstLine::MovedAway : FirstLine::Refuse;
    // Not ours to change: someone's own file, or the record edited past recognition.
    std::snprintf(refusal.why, sizeof refusal.why,
                  "%s does not start with the calibration record's header; it is left as it is",
                  path);
    refusal.box = "Its first line is not the record's header: it is left as it is. \n Move it "
                  "away, and the next line starts a new record. \n ";
    return FirstLine::Refuse;
}

const char *calcResultText(CalcOutcome outcome) {
    switch (outcome) {
    case CalcOutcome::Passed:
        return "passed";
    case CalcOutcome::Declined:
        return "declined";
    case CalcOutcome::Spread:
        return "spread";
    case CalcOutcome::Range:
        return "range";
    case CalcOutcome::Timeout:
        return "timeout";
    case CalcOutcome::Stopped:
        return "stopped";
    default:
        return "";
    }
}

} // namespace

bool FormatRecordLine(const CalibrationRecord &r, const char *recordId, std::time_t when, char *out,
                      std::size_t size) {
    static const char *const kEvents[] = {"power", "calculate", "verify", "finish", "sequence"};
    const auto event = static_cast<std::size_t>(r.event);
    if (!out || size == 0 || event >= std::size(kEvents))
        return false;
    char link[300];
    LinkName(link, sizeof link);
    Line line{out, size};
    putText(line, recordId);
    line.put(',');
    putText(line, sequenceId);
    line.put(',');
    putTime(line, when);
    line.put(',');
    line.put(kEvents[event]);
    const char *const shared[] = {operatorName, sensorSerial, whiteReference,
                                  version,      link,         kSoftware};
    for (const char *text : shared) {
        line.put(',');
        putText(line, text);
    }
    for (long v : {r.power, r.setValue, r.maxDelta, r.readings, r.mean[0], r.mean[1], r.mean[2]}) {
        line.put(',');
        putNumber(line, v);
    }
    for (double v : r.sd) {
        line.put(',');
        putDeviation(line, v);
    }
    for (long v : {r.meanDelta, r.found[0], r.found[1], r.found[2], r.cf[0], r.cf[1], r.cf[2],
                   r.readback[0], r.readback[1], r.readback[2]}) {
        line.put(',');
        putNumber(line, v);
    }
    line.put(',');
    putText(line, r.result);
    line.put("\r\n");
    out[line.used] = '\0';
    return !line.cut;
}

bool AppendRecord(const CalibrationRecord &r) {
    static bool told = false;
    const std::time_t now = std::time(nullptr);
    char id[40], line[2048];
    char path[sizeof ipComboBoxFileName];
    newId(id, sizeof id, now);
    const bool formatted = FormatRecordLine(r, id, now, line, sizeof line);
    const bool placed = recordPath(path);
    char header[sizeof kRecordHeader + 2];
    std::snprintf(header, sizeof header, "%s\r\n", kRecordHeader);
    Refusal refusal;
    const int status = formatted && placed
                           ? AppendToSharedFile(path, header, "\r\n", line, checkHeader, &refusal)
                           : kFileError;
    if (status == 0)
        return true;
    if (!formatted)
        std::fprintf(stderr, "quorvat: a calibration record line is too long; it is not kept\n");
    else if (!placed)
        std::fprintf(stderr,
                     "quorvat: no folder for the calibration record (%s); the line of "
                     "this calibration is not kept\n",
                     kRecordFileName);
    else if (status == kFileRefused)
        std::fprintf(stderr, "quorvat: %s; the line of this calibration is not kept\n",
                     refusal.why);
    else
        std::fprintf(stderr,
                     "quorvat: cannot write the calibration record %s; the line of this "
                     "calibration is not kept\n",
                     path);
    if (!told) {
        told = true;
        char text[sizeof path + 400];
        std::snprintf(text, sizeof text,
                      " The calibration record cannot be written: \n %s \n %sThe calibration goes "
                      "on, but it is not recorded. \n This box is shown once. ",
                      placed ? path : kRecordFileName, refusal.box);
        MessagePopup("ATTENTION!", text, TextCoding::FileSystem);
    }
    return false;
}

void NewSequenceId() {
    newId(sequenceId, sizeof sequenceId, std::time(nullptr));
}

namespace {
// What every calculate and finish line holds: the factors the sensor had, when they were read.
CalibrationRecord lineOf(RecordEvent event) {
    CalibrationRecord r;
    r.event = event;
    u16 found[3];
    if (FactorsAsFound(found))
        for (int i = 0; i < 3; ++i)
            r.found[i] = found[i];
    return r;
}
} // namespace

void RecordCalculation() {
    if (calcOutcome == CalcOutcome::None)
        return;
    CalibrationRecord r = lineOf(RecordEvent::Calculate);
    r.result = calcResultText(calcOutcome);
    // The POWER last sent; 0 while none was, and the sensor's own is unknown.
    if (power > 0)
        r.power = power;
    // A series that ran to its end has its means; a spread within limits, its factors too.
    if (calcOutcome == CalcOutcome::Passed || calcOutcome == CalcOutcome::Spread ||
        calcOutcome == CalcOutcome::Range) {
        r.setValue = setvalue;
        r.maxDelta = maxdelta;
        r.readings = kSeriesReadings;
        const std::uint16_t means[3] = {meanR, meanG, meanB};
        const double sds[3] = {sdR, sdG, sdB};
        for (int i = 0; i < 3; ++i) {
            r.mean[i] = means[i];
            r.sd[i] = sds[i];
        }
        r.meanDelta = meanD;
    }
    if (calcOutcome == CalcOutcome::Passed || calcOutcome == CalcOutcome::Range)
        for (int i = 0; i < 3; ++i)
            r.cf[i] = calcFactors[i];
    AppendRecord(r);
}

void RecordFinish(const std::uint16_t (&sent)[3], bool readBack) {
    CalibrationRecord r = lineOf(RecordEvent::Finish);
    const std::uint16_t back[3] = {cfrot, cfgruen, cfblau};
    bool same = true;
    for (int i = 0; i < 3; ++i) {
        r.cf[i] = sent[i];
        if (readBack)
            r.readback[i] = back[i];
        same = same && back[i] == sent[i];
    }
    r.result = !readBack ? "timeout" : same ? "stored" : "readback differs";
    AppendRecord(r);
}

void RecordFinishDeclined() {
    CalibrationRecord r = lineOf(RecordEvent::Finish);
    r.result = "declined";
    AppendRecord(r);
}

} // namespace qv
