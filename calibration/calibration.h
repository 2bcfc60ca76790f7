// White-target calibration: a series of readings, their means, and three calibration factors.
#pragma once

#include "shell/state.h"

namespace qv {

extern const char ConfirmCalculation[];
extern const char MaximumDelta[];
extern const char CFOutOfRange[];
extern const char CalibrationPassed[];

// The whole calibration: confirmation, 100 readings of the white target, their means, then
// SetCF. Every outcome is reported in its own box.
void CalcCF();
// Spread test, factor formula and range test on the stored means; stores all three factors
// or none.
void SetCF();

// ---- The parts the calibration is made of, also for AUTO POWER and CALIBRATE SENSOR. ----

enum class Series { Taken, Timeout, Stopped, Closed };
struct SeriesOptions {
    int blink = 0;          // a main panel button that blinks red while the readings come
    bool stoppable = false; // STOP (stopRequested) ends it after the reading in hand
};
// What a series of readings gives: per channel the mean and standard deviation, raw and
// calibrated, and the mean raw spread in whole numbers.
struct Readings {
    int count = 0;
    double raw[3] = {}, rawSd[3] = {};
    double calibrated[3] = {}, calibratedSd[3] = {};
    u16 meanD = 0;
};
// Takes `count` readings of the white target, each shown and kept for the trend as it comes,
// the series marked in the trend. Timeout: a reading did not come (the status line and a box
// are the caller's). `out` holds what was taken.
Series TakeReadings(int count, Readings *out, const SeriesOptions &how);
// The calibration's 100 readings into meanR, meanG, meanB, meanD and sdR, sdG, sdB (not on
// a series cut short); calcOutcome None, or Timeout.
Series TakeCalibrationSeries(const SeriesOptions &how);
// SetCF's tests and formula without its boxes: Spread, Range or Passed, also in calcOutcome.
CalcOutcome EvaluateMeans();
// Whether the factors of raw channel means `means` all lie within 750 to 1300 for `setValue`.
bool FactorsInRange(u16 setValue, const double (&means)[3]);

} // namespace qv
