// Puts the last decoded reading on the main panel and works out its two spreads (deltaraw and
// deltacalib).
#pragma once

#include "shell/state.h"

namespace qv {

// How far apart three channels are: the largest minus the smallest.
u16 Spread(u16 a, u16 b, u16 c);
void SetPanelData();
// Readings and spreads back to 0 on the panel, as before a first reading: another sensor may be
// on the line. Kept for nothing, as no reading came.
void ClearPanelData();

} // namespace qv
