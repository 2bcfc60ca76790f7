// Where the trend window opens and how it is laid out for its size: beside the main panel by the
// rule of placement.h, or where the operator last put it, which the settings file keeps.
#pragma once

#include <initializer_list>

namespace qv {

// The main panel's controls that the trend window must never cover (its commands and status
// line), from start-up on. Without them it keeps clear of the whole main panel.
void TrendKeepClear(std::initializer_list<int> controls);
// Before TREND shows the hidden trend window: its place and size, its controls laid out for it.
// The first time in a run where the settings file says, else beside `mainPanel`; then where it
// was last.
void TrendPlaceWindow(int mainPanel);
// Keeps the place of the trend window, when it is shown, for the next TREND and in the settings
// file for the next run. Its close box does so; the program's end too.
void TrendRememberPlace();

} // namespace qv
