// The calibration record: one line in calibrations.csv, in the folder of the address history, for
// every step a calibration takes (AUTO POWER, CALCULATE, the check of the new factors, FINISH)
// and for every CALIBRATE SENSOR run, so that a quality department can tell who calibrated which
// sensor, when, against what, what was found and what was left.
// RFC 4180 CSV in UTF-8, lines ending in CR LF. Lines are only ever appended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

namespace qv {

constexpr const char *kRecordFileName = "calibrations.csv";
// The first line of a new file, without its line end.
extern const char kRecordHeader[];

enum class RecordEvent { Power, Calculate, Verify, Finish, Sequence };

// One line's own values. The columns every line shares (record_id, sequence_id, time, operator,
// sensor_serial, reference, sensor, link, software) are filled when it is appended, from the
// program-wide values of that moment. A number below 0 leaves its column empty.
struct CalibrationRecord {
    RecordEvent event = RecordEvent::Calculate;
    long power = -1, setValue = -1, maxDelta = -1;
    long readings = -1;                // how many readings the means and sds are over
    long mean[3] = {-1, -1, -1};       // raw; calibrated for verify
    double sd[3] = {-1.0, -1.0, -1.0}; // standard deviations over the same readings
    long meanDelta = -1;               // mean spread of the raw channels
    long found[3] = {-1, -1, -1};      // the factors the sensor had before the calibration
    long cf[3] = {-1, -1, -1};
    long readback[3] = {-1, -1, -1};
    const char *result = "";
};

// The line of `r` with this record_id and time, its CR LF included, NUL-terminated in `out`. Text
// fields are turned from Latin-1 into UTF-8; one that starts with = + - @, a tab or a CR gets a
// leading ' so that a spreadsheet shows it rather than running it as a formula; one holding a
// comma, a quote, a CR or a LF is quoted. Standard deviations have two decimals and a point,
// whatever the locale. Returns false when the line does not fit `size`.
bool FormatRecordLine(const CalibrationRecord &r, const char *recordId, std::time_t when, char *out,
                      std::size_t size);

// Appends the line of `r` to the record beside the address history, with a new record_id and the
// time now; the header first when the file is new or empty. A record with the columns of earlier
// versions is renamed once, to calibrations-since-<its first date>.csv, and a new one started; a
// file whose first line is neither header is left alone and not written to. When the line cannot
// be written the operator is told once per run, in a box titled "ATTENTION!", and standard error
// gets a line each time. Returns true when written.
bool AppendRecord(const CalibrationRecord &r);

// A new sequence_id in `sequenceId`, for the lines of one CALIBRATE SENSOR run. Record and
// sequence ids read as the UTC time they were made, the process and its count of them
// (20261207T020442Z-4711-12): they never repeat, in a run, between runs or between programs
// appending to the record at once.
void NewSequenceId();

// The line of the last CalcCF, from its outcome and the program-wide values, now. Writes nothing
// when the calculation did not come to an end.
void RecordCalculation();
// The line of a FINISH CALIBRATION that sent `sent`: with the factors read back when `readBack`
// (result "stored" or "readback differs"), else result "timeout".
void RecordFinish(const std::uint16_t (&sent)[3], bool readBack);
// The line of a FINISH CALIBRATION the operator declined when asked: nothing was written.
void RecordFinishDeclined();

} // namespace qv
