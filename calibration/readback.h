// The check at the end of FINISH CALIBRATION: the factors the sensor gives back against those
// sent, so that a sensor that did not store them does not end the finish like one that did.
#pragma once

#include <cstdint>

namespace qv {

// Right after FINISH's GetCF: when its reply came (`readBack`) and cfrot, cfgruen, cfblau differ
// from `sent`, a box titled "ATTENTION!" names both triples. Either way the finish goes into the
// calibration record: "stored", "readback differs" or "timeout".
void CheckReadBack(const std::uint16_t (&sent)[3], bool readBack);

} // namespace qv
