// Puts the last decoded reading on the main panel, works out its two spreads (deltaraw and
// deltacalib), and keeps it for the trend.
#pragma once

namespace qv {

void SetPanelData();

} // namespace qv
