#include "calibration/calibration.h"

namespace qv {

std::uint16_t setvalue, maxdelta;
std::uint16_t meanR, meanG, meanB, meanD;
std::uint16_t cfrot, cfgruen, cfblau;

} // namespace qv
