// The calibration record: for every CALCULATE CALIBRATION FACTORS and every FINISH CALIBRATION one
// line in calibrations.csv, in the folder of the address history, so that a week later anyone can
// tell which sensor was calibrated, when, to what, and whether it stored the factors.
// RFC 4180 CSV in UTF-8, lines ending in CR LF. Lines are only ever appended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

namespace qv {

constexpr const char *kRecordFileName = "calibrations.csv";
// The first line of a new file, without its line end.
extern const char kRecordHeader[];

enum class RecordEvent { Calculate, Finish };

// The fields of one line. A number below 0 leaves its column empty.
struct CalibrationRecord {
    std::time_t when = 0;
    RecordEvent event = RecordEvent::Calculate;
    const char *sensor = ""; // the version text, Latin-1 as the sensor sent it
    const char *link = "";   // COM<n> or <address>:<port>, Latin-1
    long setValue = -1, maxDelta = -1;
    long mean[4] = {-1, -1, -1, -1}; // red, green, blue, spread
    long cf[3] = {-1, -1, -1};
    long readback[3] = {-1, -1, -1};
    const char *result = "";
};

// The line for `r`, its CR LF included, NUL-terminated in `out`. Text fields are turned from
// Latin-1 into UTF-8; one that starts with = + - @, a tab or a CR gets a leading ' so that a
// spreadsheet shows it rather than running it as a formula; one holding a comma, a quote, a CR or
// a LF is quoted. Returns false when the line does not fit `size`.
bool FormatRecordLine(const CalibrationRecord &r, char *out, std::size_t size);

// Appends the line of `r` to the record beside the address history, the header first when the
// file is new or empty. When it cannot be written the operator is told once per run, in a box
// titled "ATTENTION!", and standard error gets a line each time. Returns true when written.
bool AppendRecord(const CalibrationRecord &r);

// The line of the last CalcCF, from its outcome and the program-wide values, now. Writes nothing
// when the calculation did not come to an end.
void RecordCalculation();
// The line of a FINISH CALIBRATION that sent `sent`: with the factors read back when `readBack`
// (result "stored" or "readback differs"), else result "timeout".
void RecordFinish(const std::uint16_t (&sent)[3], bool readBack);

} // namespace qv
