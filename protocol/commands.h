// The sensor commands and the GO acquisition loop, over whichever link is selected.
#pragma once

#include <cstdint>

namespace qv {

// Transaction state, shared with the link's receive callback and the calibration.
extern std::uint16_t nBytesW; // count returned by the last write of a write-only command
extern double tstart;         // Timer reading when the request went out
extern double tdiff;          // seconds waited so far
extern int dataSize;          // TCP: expected reply length; RS-232: bytes queued at the last poll
extern int bytesToRead;       // reply bytes still missing; 0 = the reply is complete

} // namespace qv
