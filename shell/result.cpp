#include "shell/result.h"

#include "platform/userint.h"
#include "platform/utility.h"
#include "shell/controls.h"
#include "shell/state.h"

namespace qv {

using namespace rt;

namespace {
// PASS is read from across the station. A FAIL's reason must fit in two lines of the display,
// hence a smaller size (22 pixels: 50 capitals a line).
constexpr int kPassSize = 36;
constexpr int kFailSize = 22;

void show(const char *text, int color, int size) {
    SetCtrlAttribute(panel, P_DISPRESULT, ATTR_TEXT_COLOR, color);
    SetCtrlAttribute(panel, P_DISPRESULT, ATTR_TEXT_POINT_SIZE, size);
    SetCtrlVal(panel, P_DISPRESULT, text);
}
} // namespace

void ShowResult(bool pass, const char *reason) {
    if (pass) {
        show("PASS", kColorGood, kPassSize);
        return;
    }
    char text[121] = "FAIL";
    if (reason && *reason) {
        AppendText(text, ": ");
        AppendText(text, reason); // cut to fit
    }
    show(text, kColorBad, kFailSize);
}

void ClearResult() {
    show("", 0x000000, kFailSize);
}

} // namespace qv
