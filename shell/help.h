// Right-click help: every control of the program shows its help text in a box titled "INFO!".
#pragma once

namespace qv {

// For a control callback: shows `text` when `event` is a right click. Returns 0, a callback's
// result.
int HelpOnRightClick(int event, const char *text);

} // namespace qv
