// White-target calibration: a series of readings, their means, and three calibration factors.
#pragma once

#include <cstdint>

namespace qv {

extern std::uint16_t setvalue; // target of each calibrated channel, from P_EDITSETVALUE
extern std::uint16_t maxdelta; // largest mean raw spread accepted, from P_EDITMAXDELTA
extern std::uint16_t meanR, meanG, meanB, meanD;
extern std::uint16_t cfrot, cfgruen, cfblau; // calibration factors red, green, blue

} // namespace qv
