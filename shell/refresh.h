// Puts the last decoded reading on the main panel, works out its two spreads (deltaraw and
// deltacalib), and keeps it for the trend.
#pragma once

namespace qv {

void SetPanelData();
// Readings and spreads back to 0 on the panel, as before a first reading: another sensor may be
// on the line. Kept for nothing, as no reading came.
void ClearPanelData();

} // namespace qv
