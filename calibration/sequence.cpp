#include "calibration/sequence.h"

namespace qv {

void CalibrateSensor() {}

} // namespace qv
