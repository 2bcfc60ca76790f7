// Puts the last decoded reading on the main panel and works out its two spreads (deltaraw and
// deltacalib); shows the raw readings' target window.
#pragma once

#include "shell/state.h"

namespace qv {

// The raw means whose calibration factor, SET VALUE x 1024 / mean in whole numbers as the
// calibration works it out, lies within 750 to 1300: from `low` to `high`, both included
// (788 to 1365 for SET VALUE 1000). Empty (low > high) when no mean gets there, as for 0.
struct RawWindow {
    long low, high;
};
RawWindow TargetWindow(u16 setValue);
// Takes SET VALUE from the main panel: marks its window on the three raw bars, and colours each
// raw number from now on, green inside the window and red outside it (black while there is no
// reading). Call it whenever SET VALUE changes, also when the program sets it.
void ShowTargetWindow();

// How far apart three channels are: the largest minus the smallest.
u16 Spread(u16 a, u16 b, u16 c);
void SetPanelData();
// Readings and spreads back to 0 on the panel, as before a first reading: another sensor may be
// on the line. Kept for nothing, as no reading came; the raw numbers black again.
void ClearPanelData();

} // namespace qv
