// AUTO POWER: the POWER at which the white target's raw readings, the three channels averaged,
// come nearest SET VALUE, so that the calibration factors centre on 1024.
#pragma once

#include "calibration/calibration.h"

#include <functional>

namespace qv {

enum class PowerResult {
    Found,
    TooDark,
    TooBright,
    NoConvergence,
    Range,
    Spread,
    Timeout,
    Stopped
};

struct PowerSearch {
    PowerResult result = PowerResult::NoConvergence;
    int power = 0; // found; else the one whose readings came nearest
    int steps = 0; // POWERs tried
    Readings at;   // the readings at `power`
};

// One step of the search: sends `power`, lets the sensor settle and takes the readings.
using PowerLook = std::function<Series(int power, Readings *out)>;

// The search on its own, from the POWER `start`: a first guess in proportion to its reading,
// then bisection between the POWERs known to give too little and too much, so that a sensor
// that saturates or answers non-linearly still converges. At most 12 steps, POWER 1 to 1000.
// Found: the three channels' mean within 1 % of SET VALUE, or the nearer of two neighbouring
// POWERs. Found, but CALCULATE CALIBRATION FACTORS would fail there: Range (a factor outside
// 750 to 1300) or Spread (the mean spread above `maxDelta`, at.meanD the least that passes).
PowerSearch SearchPower(u16 setValue, u16 maxDelta, int start, const PowerLook &look);
// The record's word for a result: "found", "too dark", ...
const char *PowerResultText(PowerResult result);

// The search on the sensor, from the POWER box: each step sends the calibration block with the
// candidate POWER as SEND POWER does, waits its half second and takes 10 readings. Found (also
// Range and Spread): the POWER box holds it and the status line says so; otherwise the box keeps
// its old value, which is sent back. A `power` line goes into the record. STOP ends it after the
// step under way. Boxes are the caller's.
PowerSearch AutoPower();
// By hand, after the operator confirmed the white target: AutoPower, a box where CALCULATE would
// still fail or no POWER was found, then the GO loop as after SEND POWER.
void AutoPowerByHand();

} // namespace qv
