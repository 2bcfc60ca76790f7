// White-target calibration: a series of readings, their means, and three calibration factors.
#pragma once

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

} // namespace qv
