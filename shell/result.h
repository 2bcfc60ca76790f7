// The last CALIBRATE SENSOR run's outcome on the main panel (P_DISPRESULT), kept until the next
// run clears it.
#pragma once

namespace qv {

// A large green "PASS", or a red "FAIL: " followed by `reason` (words in capitals, as the
// status line has them, e.g. "POWER SPREAD 150 > MAX DELTA 100"; "FAIL" alone when it is null
// or empty). A long reason wraps to a second line: about 90 characters show whole, and the
// text is cut at 120.
void ShowResult(bool pass, const char *reason);
// The display empty again, as before a first run.
void ClearResult();

} // namespace qv
