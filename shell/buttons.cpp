#include "shell/buttons.h"

#include "platform/userint.h"
#include "shell/controls.h"
#include "shell/state.h"

#include "platform/utility.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace qv {

using namespace rt;

namespace {
bool acceptAllowed = false;

void showAccept() {
    SetCtrlAttribute(interfacepanel, INTERFACEP_BUTTONACCEPT, ATTR_DIMMED,
                     acceptAllowed && busy == 0 ? 0 : 1);
}
} // namespace

void SetButtonsDimmed(int dimmed) {
    // Clicks that queued up while the program was blocked were made on dimmed buttons: they
    // meet them dimmed still, and are dropped, before the outermost action gives them back.
    if (!dimmed && busy == 1)
        ProcessSystemEvents();
    busy = dimmed ? busy + 1 : std::max(0, busy - 1);
    const int dim = busy > 0 ? 1 : 0;
    for (int control : {P_BUTTONGETCF, P_BUTTONSENDCF, P_BUTTONGO, P_BUTTONSENDPOWER,
                        P_BUTTONFINISHCALIB, P_BUTTONCALCCF, P_BUTTONAUTOPOWER, P_BUTTONCALIBRATE})
        SetCtrlAttribute(panel, control, ATTR_DIMMED, dim);
    SetCtrlAttribute(interfacepanel, INTERFACEP_BUTTONTRYTOCONNECT, ATTR_DIMMED, dim);
    SetCtrlAttribute(interfacepanel, INTERFACEP_BUTTONDISCARD, ATTR_DIMMED, dim);
    showAccept();
    ProcessSystemEvents();
}

void Pause() {
    constexpr double kPause = 0.5;
    if (closing)
        return;
    ProcessDrawEvents();
    // It sleeps in short steps rather than spinning, on the shared clock variables.
    tstart = Timer();
    tdiff = 0.0;
    while (tdiff < kPause) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        tdiff = Timer() - tstart;
    }
}

void SetAcceptAllowed(bool allowed) {
    acceptAllowed = allowed;
    showAccept();
}

} // namespace qv
