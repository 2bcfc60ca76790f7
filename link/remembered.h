// What the station remembers between runs, in the settings file (platform/settings.h): the
// accepted link and the calibration's POWER, SET VALUE and MAX DELTA. Each value is written when
// it changes and read once, at start-up: a second instance's values are never written back over
// with stale ones.
#pragma once

namespace qv {

// Start-up, before the connection panel is laid out and the first connection attempt: the kept
// values replace the resource file's on the connection panel's selector, COM PORT, address and
// TCP port, and in the main panel's POWER, SET VALUE and MAX DELTA. A value the control does
// not take (not a number, out of its range, longer than the field) is left out, with a line on
// standard error.
void RestoreRemembered();
// ACCEPT: keeps the link as the last try opened it: kind, COM port, address and TCP port.
void RememberLink();
// A committed POWER, SET VALUE or MAX DELTA (by its control ID on the main panel): keeps it.
void RememberEntry(int control);

} // namespace qv
