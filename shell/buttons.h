// The command buttons of the main panel, and the link buttons of the connection panel, as one
// group that an action holds while it runs.
#pragma once

namespace qv {

// Starts (1) or ends (0) an action: the command buttons (the six, AUTO POWER and CALIBRATE
// SENSOR; not STOP, CONNECT or TREND), and the connection panel's try, accept and discard
// buttons, are dimmed from the first start until the last end. Then pumps events once, so the
// change is drawn and pending clicks meet the dimmed buttons.
void SetButtonsDimmed(int dimmed);
// Whether the settings of the connection panel may be accepted: after a successful try, until
// the panel is opened again or a setting changes. ACCEPT is usable when they may and no action
// runs.
void SetAcceptAllowed(bool allowed);
// The half second an action waits after writing to the sensor, in which the panel does not
// react: no events are pumped, so what the program has set is drawn first. After a close there
// is nothing left to pause for.
void Pause();

} // namespace qv
