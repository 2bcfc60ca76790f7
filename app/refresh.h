// Puts the last decoded reading on the main panel and works out its two spreads.
#pragma once

#include <cstdint>

namespace qv {

extern std::uint16_t deltaraw;   // largest minus smallest raw R, G, B of the last reading
extern std::uint16_t deltacalib; // largest minus smallest calibrated R, G, B

void SetPanelData();

} // namespace qv
