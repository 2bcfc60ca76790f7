#include "calibration/autopower.h"

#include "link/commands.h"
#include "link/link.h"
#include "platform/userint.h"
#include "record/record.h"
#include "shell/buttons.h"
#include "shell/controls.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace qv {

using namespace rt;

namespace {

constexpr int kMinPower = 1, kMaxPower = 1000;
constexpr int kMaxSteps = 12;
constexpr int kLookReadings = 10;
// Near enough: the factors then lie within about 1 % of 1024, well inside their range.
constexpr double kTolerance = 0.01;

double mean3(const double (&v)[3]) {
    return (v[0] + v[1] + v[2]) / 3.0;
}

unsigned whole(double v) {
    return static_cast<unsigned>(std::lround(v));
}

// The raw channels as the status line and the boxes give them: 967/893/1135.
void rawText(char *out, std::size_t size, const Readings &r) {
    std::snprintf(out, size, "%u/%u/%u", whole(r.raw[0]), whole(r.raw[1]), whole(r.raw[2]));
}

} // namespace

PowerSearch SearchPower(u16 setValue, u16 maxDelta, int start, const PowerLook &look) {
    PowerSearch s;
    const double wanted = setValue;
    // Known to give too little (below) and too much (above); 0 and 1001 stand for none yet.
    int below = kMinPower - 1, above = kMaxPower + 1;
    double nearest = -1;
    int candidate = std::clamp(start, kMinPower, kMaxPower);
    for (;;) {
        Readings r;
        const Series series = look(candidate, &r);
        ++s.steps;
        if (series != Series::Taken) {
            s.result = series == Series::Timeout ? PowerResult::Timeout : PowerResult::Stopped;
            return s;
        }
        const double mean = mean3(r.raw), off = std::fabs(mean - wanted);
        if (nearest < 0 || off < nearest) {
            nearest = off;
            s.power = candidate;
            s.at = r;
        }
        if (off <= wanted * kTolerance) {
            s.result = PowerResult::Found;
            break;
        }
        (mean < wanted ? below : above) = candidate;
        if (mean < wanted && candidate == kMaxPower) {
            s.result = PowerResult::TooDark;
            return s;
        }
        if (mean > wanted && candidate == kMinPower) {
            s.result = PowerResult::TooBright;
            return s;
        }
        if (above - below <= 1) { // neighbours: the nearer of the two
            s.result = PowerResult::Found;
            break;
        }
        if (s.steps == kMaxSteps) {
            s.result = PowerResult::NoConvergence;
            return s;
        }
        // The first guess in proportion, kept within what is known; then the bracket's middle.
        int next = (below + above) / 2;
        if (s.steps == 1 && mean > 0)
            next = static_cast<int>(
                std::clamp<long>(std::lround(candidate * wanted / mean), below + 1, above - 1));
        candidate = std::clamp(next, kMinPower, kMaxPower);
    }
    // Found: would CALCULATE CALIBRATION FACTORS pass with these readings?
    if (!FactorsInRange(setValue, s.at.raw))
        s.result = PowerResult::Range;
    else if (s.at.meanD > maxDelta)
        s.result = PowerResult::Spread;
    return s;
}

const char *PowerResultText(PowerResult result) {
    static const char *const texts[] = {"found", "too dark", "too bright", "no convergence",
                                        "range", "spread",   "timeout",    "stopped"};
    return texts[static_cast<int>(result)];
}

PowerSearch AutoPower() {
    u16 old = 0;
    GetCtrlVal(panel, P_EDITPOWER, &old);
    GetCtrlVal(panel, P_EDITSETVALUE, &setvalue);
    GetCtrlVal(panel, P_EDITMAXDELTA, &maxdelta);
    const unsigned line = LinkGeneration();
    int sent = -1; // the POWER the sensor has now
    const auto send = [&sent](int candidate) {
        SetCtrlVal(panel, P_EDITPOWER, candidate);
        if (!SendCalibPara())
            return false;
        sent = candidate;
        Pause();
        return true;
    };
    const PowerSearch s = SearchPower(setvalue, maxdelta, old, [&](int candidate, Readings *out) {
        if (closing || stopRequested)
            return Series::Stopped;
        if (!send(candidate) || LinkGeneration() != line)
            return Series::Timeout;
        return TakeReadings(kLookReadings, out, {.stoppable = true});
    });
    const bool found = s.result == PowerResult::Found || s.result == PowerResult::Range ||
                       s.result == PowerResult::Spread;
    char raw[40];
    rawText(raw, sizeof raw, s.at);
    if (found) {
        // The nearest may have been an earlier step: the sensor gets it back.
        if (sent != s.power && !closing)
            send(s.power);
        char text[80];
        std::snprintf(text, sizeof text, "POWER %d: RAW %s", s.power, raw);
        SetCtrlVal(panel, P_EDITPOWER, s.power);
        SetCtrlVal(panel, P_DISPSTATUS, text);
    } else {
        SetCtrlVal(panel, P_EDITPOWER, old);
        if (s.result == PowerResult::Timeout)
            SetCtrlVal(panel, P_DISPSTATUS, "TIMEOUT");
        else if (!closing && LinkGeneration() == line)
            send(old);
    }
    if (closing)
        return s;
    CalibrationRecord r;
    r.event = RecordEvent::Power;
    r.power = found ? s.power : old;
    r.setValue = setvalue;
    r.maxDelta = maxdelta;
    if (s.at.count > 0) {
        r.readings = s.at.count;
        for (int k = 0; k < 3; ++k) {
            r.mean[k] = whole(s.at.raw[k]);
            r.sd[k] = s.at.rawSd[k];
        }
        r.meanDelta = s.at.meanD;
    }
    u16 cf[3];
    if (FactorsAsFound(cf))
        for (int k = 0; k < 3; ++k)
            r.found[k] = cf[k];
    r.result = PowerResultText(s.result);
    AppendRecord(r);
    return s;
}

void AutoPowerByHand() {
    stopRequested = 0;
    const PowerSearch s = AutoPower();
    if (closing)
        return;
    char raw[40], text[480];
    rawText(raw, sizeof raw, s.at);
    u16 box = 0;
    GetCtrlVal(panel, P_EDITPOWER, &box);
    switch (s.result) {
    case PowerResult::Timeout:
        MessagePopup(version, InfoTimeoutVer);
        return;
    case PowerResult::Stopped:
        return;
    case PowerResult::TooDark:
        std::snprintf(text, sizeof text,
                      " AUTO POWER found no POWER: \n even at POWER 1000 the RAW DATAS stay below "
                      "SET VALUE (RAW %s). \n Is the WHITE target in place? Is the lens covered? "
                      "\n POWER is set back to %u. ",
                      raw, unsigned{box});
        MessagePopup("ATTENTION!", text);
        return;
    case PowerResult::TooBright:
        std::snprintf(text, sizeof text,
                      " AUTO POWER found no POWER: \n even at POWER 1 the RAW DATAS are above SET "
                      "VALUE (RAW %s). \n Is stray light falling on the sensor? Is SET VALUE "
                      "right? \n POWER is set back to %u. ",
                      raw, unsigned{box});
        MessagePopup("ATTENTION!", text);
        return;
    case PowerResult::NoConvergence:
        std::snprintf(text, sizeof text,
                      " AUTO POWER found no POWER in 12 steps: \n the RAW DATAS do not settle "
                      "near SET VALUE (nearest: POWER %d, RAW %s). \n Check that the sensor and "
                      "the WHITE target are held still. \n POWER is set back to %u. ",
                      s.power, raw, unsigned{box});
        MessagePopup("ATTENTION!", text);
        return;
    case PowerResult::Range:
        std::snprintf(text, sizeof text,
                      " POWER %d brings the RAW DATAS nearest SET VALUE (RAW %s), \n but "
                      "CALCULATE CALIBRATION FACTORS would fail: \n the channels differ more "
                      "than the factors' range of 750 to 1300 allows, at any POWER. \n Verify, "
                      "that the sensor shines on a WHITE target! ",
                      s.power, raw);
        MessagePopup("ATTENTION!", text);
        break;
    case PowerResult::Spread:
        std::snprintf(text, sizeof text,
                      " POWER %d brings the RAW DATAS nearest SET VALUE (RAW %s), \n but "
                      "CALCULATE CALIBRATION FACTORS would fail: \n the mean DELTA of the RAW "
                      "DATAS, %u, is above MAX DELTA, %u. \n Set MAX DELTA to %u or more, or "
                      "verify the WHITE target. ",
                      s.power, raw, unsigned{s.at.meanD}, unsigned{maxdelta}, unsigned{s.at.meanD});
        MessagePopup("ATTENTION!", text);
        break;
    case PowerResult::Found:
        break;
    }
    // As after SEND POWER.
    Pause();
    GetCF();
    GetData();
}

} // namespace qv
