// CALIBRATE SENSOR: one run per sensor, from its serial number to PASS or FAIL.
#pragma once

namespace qv {

// The whole sequence for the sensor whose SENSOR SERIAL is entered: one confirmation, then the
// link check, GET CF, AUTO POWER, the calibration with SEND CF, a check of the new factors and
// FINISH CALIBRATION's steps, with the buttons dimmed and no other box; its result on the panel
// and in the record.
void CalibrateSensor();

} // namespace qv
