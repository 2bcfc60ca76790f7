// White-target calibration: a series of readings, their means, and three calibration factors.
#pragma once

#include <cstdint>

namespace qv {

extern std::uint16_t setvalue; // target of each calibrated channel, from P_EDITSETVALUE
extern std::uint16_t maxdelta; // largest mean raw spread accepted, from P_EDITMAXDELTA
extern std::uint16_t meanR, meanG, meanB, meanD;
extern std::uint16_t cfrot, cfgruen, cfblau; // calibration factors red, green, blue

// How the last CalcCF ended (None while it has not come to an end), and the three factors its
// SetCF worked out, in range or not: what the calibration record writes down.
enum class CalcOutcome : std::uint8_t { None, Passed, Declined, Spread, Range, Timeout };
extern CalcOutcome calcOutcome;
extern std::uint16_t calcFactors[3];

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
