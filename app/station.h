// The station's fields on the main panel: who calibrates (OPERATOR) and against which white tile
// (WHITE REFERENCE), kept between runs in the settings file's [station] group, and SENSOR SERIAL,
// where a scanner types a serial number and Enter, which starts CALIBRATE SENSOR.
#pragma once

namespace qv {

// At start-up, once the settings file is open: OPERATOR and WHITE REFERENCE as the last run
// left them, in their fields and variables.
void RestoreStationFields();
// After the first connection attempt: SENSOR SERIAL takes the focus, so that a first scan lands
// there.
void FocusSensorSerial();
// A text field's commit (Enter, or leaving it after a change): its text into its variable
// (operatorName, sensorSerial or whiteReference); OPERATOR and WHITE REFERENCE into the
// settings file too.
void CommitStationField(int control);
// SENSOR SERIAL's events: Enter there commits the serial and then runs CALIBRATE SENSOR, as a
// click on that button would while it is live; leaving the field commits it only.
void SensorSerialEvent(int event, int eventData1);
// What Enter in SENSOR SERIAL runs: CALIBRATE SENSOR's button handler. A test may point it
// elsewhere to see what reaches it.
extern void (*calibrateFromSerial)();

} // namespace qv
