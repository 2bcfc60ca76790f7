#include "record/record.h"

#include "link/link.h"
#include "platform/userint.h"
#include "platform/utility.h"
#include "shell/state.h"

#include <cstdio>
#include <cstring>

namespace qv {

using namespace rt;

const char kRecordHeader[] = "time,event,sensor,link,set_value,max_delta,mean_r,mean_g,mean_b,"
                             "mean_delta,cf_r,cf_g,cf_b,readback_r,readback_g,readback_b,result";

namespace {

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

// Under the file's lock, so that instances appending at once keep their lines apart and only
// one writes the header; a failed append takes itself back.
bool writeLine(const char *path, const char *line) {
    char header[sizeof kRecordHeader + 2];
    std::snprintf(header, sizeof header, "%s\r\n", kRecordHeader);
    return AppendToSharedFile(path, header, "\r\n", line) == 0;
}

const char *linkText(char (&text)[300]) {
    LinkName(text, sizeof text);
    return text;
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
    default:
        return "";
    }
}

} // namespace

bool FormatRecordLine(const CalibrationRecord &r, char *out, std::size_t size) {
    if (!out || size == 0)
        return false;
    Line line{out, size};
    putTime(line, r.when);
    line.put(',');
    line.put(r.event == RecordEvent::Calculate ? "calculate" : "finish");
    line.put(',');
    putText(line, r.sensor);
    line.put(',');
    putText(line, r.link);
    for (long v : {r.setValue, r.maxDelta, r.mean[0], r.mean[1], r.mean[2], r.mean[3], r.cf[0],
                   r.cf[1], r.cf[2], r.readback[0], r.readback[1], r.readback[2]}) {
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
    char line[2048];
    char path[sizeof ipComboBoxFileName];
    const bool formatted = FormatRecordLine(r, line, sizeof line);
    const bool placed = recordPath(path);
    if (formatted && placed && writeLine(path, line))
        return true;
    if (!formatted)
        std::fprintf(stderr, "quorvat: a calibration record line is too long; it is not kept\n");
    else if (!placed)
        std::fprintf(stderr,
                     "quorvat: no folder for the calibration record (%s); the line of "
                     "this calibration is not kept\n",
                     kRecordFileName);
    else
        std::fprintf(stderr,
                     "quorvat: cannot write the calibration record %s; the line of this "
                     "calibration is not kept\n",
                     path);
    if (!told) {
        told = true;
        char text[sizeof path + 200];
        std::snprintf(text, sizeof text,
                      " The calibration record cannot be written: \n %s \n The calibration goes "
                      "on, but it is not recorded. \n This box is shown once. ",
                      placed ? path : kRecordFileName);
        MessagePopup("ATTENTION!", text, TextCoding::FileSystem);
    }
    return false;
}

void RecordCalculation() {
    if (calcOutcome == CalcOutcome::None)
        return;
    char link[300];
    CalibrationRecord r;
    r.when = std::time(nullptr);
    r.event = RecordEvent::Calculate;
    r.sensor = version;
    r.link = linkText(link);
    r.result = calcResultText(calcOutcome);
    // A series that ran to its end has its means; a spread within limits, its factors too.
    if (calcOutcome == CalcOutcome::Passed || calcOutcome == CalcOutcome::Spread ||
        calcOutcome == CalcOutcome::Range) {
        r.setValue = setvalue;
        r.maxDelta = maxdelta;
        const std::uint16_t means[4] = {meanR, meanG, meanB, meanD};
        for (int i = 0; i < 4; ++i)
            r.mean[i] = means[i];
    }
    if (calcOutcome == CalcOutcome::Passed || calcOutcome == CalcOutcome::Range)
        for (int i = 0; i < 3; ++i)
            r.cf[i] = calcFactors[i];
    AppendRecord(r);
}

void RecordFinish(const std::uint16_t (&sent)[3], bool readBack) {
    char link[300];
    CalibrationRecord r;
    r.when = std::time(nullptr);
    r.event = RecordEvent::Finish;
    r.sensor = version;
    r.link = linkText(link);
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

} // namespace qv
