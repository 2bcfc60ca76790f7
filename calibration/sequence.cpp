#include "calibration/sequence.h"

#include "calibration/autopower.h"
#include "calibration/calibration.h"
#include "link/commands.h"
#include "link/link.h"
#include "platform/userint.h"
#include "platform/utility.h"
#include "record/record.h"
#include "shell/buttons.h"
#include "shell/controls.h"
#include "shell/result.h"
#include "shell/state.h"
#include "trend/trend.h"

#include <cmath>
#include <cstdio>

namespace qv {

using namespace rt;

namespace {

constexpr int kVerifyReadings = 20;
// Each calibrated channel's mean over the check must lie this close to SET VALUE.
constexpr double kVerifyTolerance = 0.01;
constexpr int kSteps = 6;

// How a run ended: the step that failed (as the record's sequence line names it) and its result,
// and the reason the panel shows after "FAIL".
struct Outcome {
    const char *event = nullptr; // null: passed
    const char *result = "";
    char reason[80] = "";
};

void fail(Outcome &o, const char *event, const char *result, const char *reason) {
    o.event = event;
    o.result = result;
    CopyTextBounded(o.reason, sizeof o.reason, reason);
    // The result display's words are capitals, as the status line's; some reasons carry the
    // record's lower-case result ("AUTO POWER too dark"). ASCII only, whatever the locale.
    for (char *c = o.reason; *c; ++c)
        if (*c >= 'a' && *c <= 'z')
            *c = char(*c - 'a' + 'A');
}

void step(int n, const char *what) {
    char text[160];
    std::snprintf(text, sizeof text, "SENSOR %.63s: %d/%d %s", sensorSerial, n, kSteps, what);
    SetCtrlVal(panel, P_DISPSTATUS, text);
}

long whole(double v) {
    return std::lround(v);
}

// The common part of the lines the sequence writes itself.
CalibrationRecord recordOf(RecordEvent event, const char *result) {
    CalibrationRecord r;
    r.event = event;
    r.power = power;
    r.setValue = setvalue;
    r.maxDelta = maxdelta;
    u16 found[3];
    if (FactorsAsFound(found))
        for (int k = 0; k < 3; ++k)
            r.found[k] = found[k];
    r.result = result;
    return r;
}

// The new factors at work: the calibrated means of a few readings must lie at SET VALUE.
void verify(Outcome &o) {
    Pause();
    Readings v;
    const Series series = TakeReadings(kVerifyReadings, &v, {.stoppable = true});
    if (series == Series::Closed)
        return;
    bool near = series == Series::Taken;
    for (double mean : v.calibrated)
        near = near && std::fabs(mean - setvalue) <= setvalue * kVerifyTolerance;
    const char *result = series == Series::Timeout   ? "timeout"
                         : series == Series::Stopped ? "stopped"
                         : near                      ? "passed"
                                                     : "failed";
    CalibrationRecord r = recordOf(RecordEvent::Verify, result);
    if (v.count > 0) {
        r.readings = v.count;
        for (int k = 0; k < 3; ++k) {
            r.mean[k] = whole(v.calibrated[k]);
            r.sd[k] = v.calibratedSd[k];
        }
    }
    const u16 sent[3] = {cfrot, cfgruen, cfblau};
    for (int k = 0; k < 3; ++k)
        r.cf[k] = sent[k];
    AppendRecord(r);
    if (near)
        return;
    char shown[80];
    if (series == Series::Taken)
        std::snprintf(shown, sizeof shown, "CHECK %ld/%ld/%ld NOT AT SET VALUE",
                      whole(v.calibrated[0]), whole(v.calibrated[1]), whole(v.calibrated[2]));
    else
        std::snprintf(shown, sizeof shown, "CHECK %s",
                      series == Series::Timeout ? "TIMEOUT" : "STOPPED");
    fail(o, "verify", result, shown);
}

// FINISH CALIBRATION's own steps, without its boxes: the default parameters and the factors to
// the EEPROM, the factors read back and compared. Its reconnect waits for the run's last line.
void finish(Outcome &o) {
    TrendMarkEvent(TrendEvent::Finish);
    const unsigned line = LinkGeneration();
    bool sent = SendPara();
    if (sent) {
        Pause();
        sent = SendCF();
        Pause();
    }
    const u16 written[3] = {cfrot, cfgruen, cfblau};
    const bool readBack = sent && LinkGeneration() == line && GetCF();
    if (closing)
        return;
    RecordFinish(written, readBack);
    const bool stored =
        readBack && cfrot == written[0] && cfgruen == written[1] && cfblau == written[2];
    if (!readBack)
        fail(o, "finish", "timeout", "FINISH TIMEOUT");
    else if (!stored)
        fail(o, "finish", "readback differs", "FACTORS NOT STORED");
}

// The steps in turn; the first that fails ends the run, and nothing is written to the sensor
// after it. A line that goes fails the step under way: another sensor may come back.
void run(Outcome &o) {
    const auto stopped = [&o](const char *event) {
        if (!stopRequested)
            return false;
        fail(o, event, "stopped", "STOPPED");
        return true;
    };
    step(1, "LINK CHECK");
    if (stopped("link"))
        return;
    if (!TryToConnect()) {
        fail(o, "link", "timeout", "NO SENSOR ANSWERS");
        return;
    }
    const unsigned line = LinkGeneration();
    const auto lost = [line] { return LinkGeneration() != line || LinkLost(); };

    step(2, "GET CF");
    if (stopped("getcf"))
        return;
    if (!GetCF()) {
        fail(o, "getcf", "timeout", "FACTORS NOT READ");
        return;
    }

    step(3, "AUTO POWER");
    if (stopped("power"))
        return;
    const PowerSearch s = AutoPower();
    if (closing)
        return;
    if (s.result != PowerResult::Found) {
        char shown[80];
        if (s.result == PowerResult::Spread)
            std::snprintf(shown, sizeof shown, "DELTA %u > MAX DELTA %u", unsigned{s.at.meanD},
                          unsigned{maxdelta});
        else
            std::snprintf(shown, sizeof shown, "AUTO POWER %s", PowerResultText(s.result));
        fail(o, "power", PowerResultText(s.result), shown);
        return;
    }

    step(4, "CALCULATE CALIBRATION FACTORS");
    if (stopped("calculate") || lost()) {
        if (!o.event)
            fail(o, "calculate", "timeout", "LINK LOST");
        return;
    }
    const Series series = TakeCalibrationSeries({.blink = P_BUTTONCALCCF, .stoppable = true});
    if (series == Series::Closed)
        return;
    if (series == Series::Taken)
        EvaluateMeans();
    RecordCalculation();
    if (calcOutcome != CalcOutcome::Passed) {
        static const char *const texts[] = {"",      "passed",  "declined", "spread",
                                            "range", "timeout", "stopped"};
        char shown[80];
        std::snprintf(shown, sizeof shown, "CALCULATE %s", texts[int(calcOutcome)]);
        fail(o, "calculate", texts[int(calcOutcome)], shown);
        return;
    }
    if (lost() || !SendCF()) {
        fail(o, "calculate", "timeout", "FACTORS NOT SENT");
        return;
    }

    step(5, "CHECK OF THE NEW FACTORS");
    if (stopped("verify"))
        return;
    verify(o);
    if (o.event || closing)
        return;

    step(6, "FINISH CALIBRATION");
    if (stopped("finish"))
        return;
    if (lost()) {
        fail(o, "finish", "timeout", "LINK LOST");
        return;
    }
    finish(o);
}

} // namespace

void CalibrateSensor() {
    if (closing || busy > 0)
        return;
    GetCtrlVal(panel, P_STRINGOPERATOR, operatorName);
    GetCtrlVal(panel, P_STRINGSERIAL, sensorSerial);
    GetCtrlVal(panel, P_STRINGREFERENCE, whiteReference);
    if (!sensorSerial[0]) {
        MessagePopup("ATTENTION!", " Enter or scan the SENSOR SERIAL first. ");
        SetActiveCtrl(panel, P_STRINGSERIAL);
        return;
    }
    char text[400];
    std::snprintf(text, sizeof text,
                  " Calibrate the sensor %s? \n OPERATOR: %s \n WHITE REFERENCE: %s \n Make sure, "
                  "that the sensor shines on the WHITE reference! ",
                  sensorSerial, operatorName, whiteReference);
    if (!ConfirmPopup("CALIBRATE SENSOR", text))
        return;
    // Cleared before the dimming's pump: a STOP clicked once the run was confirmed counts.
    stopRequested = 0;
    SetButtonsDimmed(1);
    poll = 0;
    sequenceRunning = 1;
    NewSequenceId();
    ClearResult();
    Outcome o;
    run(o);
    if (!closing) {
        CalibrationRecord r = recordOf(RecordEvent::Sequence, "pass");
        char result[96];
        if (o.event) {
            std::snprintf(result, sizeof result, "fail %s %s", o.event, o.result);
            r.result = result;
        }
        r.cf[0] = cfrot, r.cf[1] = cfgruen, r.cf[2] = cfblau;
        AppendRecord(r);
        ShowResult(!o.event, o.reason);
        // FINISH's reconnect, after the sequence line: a line opened anew has no factors as
        // found, and that line's found_* would be empty.
        if (!o.event)
            TryToConnect(true);
    }
    sequenceRunning = 0;
    sequenceId[0] = '\0';
    SetButtonsDimmed(0);
    if (closing)
        return;
    // The next scan goes here: after a pass into an empty field; after a fail the serial stays
    // for another try (Enter), selected, so that the next sensor's scan replaces it rather than
    // adding to it.
    if (!o.event) {
        SetCtrlVal(panel, P_STRINGSERIAL, "");
        sensorSerial[0] = '\0';
    }
    SetActiveCtrl(panel, P_STRINGSERIAL);
    SetCtrlAttribute(panel, P_STRINGSERIAL, ATTR_TEXT_SELECTION_START, 0);
    SetCtrlAttribute(panel, P_STRINGSERIAL, ATTR_TEXT_SELECTION_LENGTH,
                     int(sizeof sensorSerial - 1));
}

} // namespace qv
