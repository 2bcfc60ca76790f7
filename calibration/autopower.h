// AUTO POWER: the POWER at which the white target's raw readings, the three channels averaged,
// come nearest SET VALUE, so that the calibration factors centre on 1024.
#pragma once

namespace qv {

// By hand, after the operator confirmed the white target: the search; its outcome in the status
// line and, when CALCULATE would still fail or no POWER was found, in a box; then the GO loop as
// after SEND POWER.
void AutoPowerByHand();

} // namespace qv
