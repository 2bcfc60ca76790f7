// A line that was open and has gone (the server closed it, the line failed, the device went) is
// opened again about once a second until it is back. Opening never holds the panel: a TCP
// connect goes on in the background, and the link check that follows handles events.
#include "link/channel.h"
#include "link/commands.h"
#include "link/link.h"
#include "link/transaction.h"
#include "platform/thread.h"
#include "platform/userint.h"
#include "platform/utility.h"
#include "shell/buttons.h"
#include "shell/controls.h"
#include "shell/refresh.h"
#include "shell/state.h"

namespace qv {

using namespace rt;

namespace {

constexpr double kAttemptSeconds = 1.0;
// How often an idle program looks at its line: a background connect is followed up this soon.
constexpr double kLookSeconds = 0.25;

bool connecting = false; // an attempt is under way in the background
double nextAttempt = 0;

void showLost() {
    if (const Channel *line = Line())
        SetCtrlVal(panel, P_DISPSTATUS, line->lostText());
}

// The line is open again: check it is a sensor, and take this sensor's factors.
void restore() {
    LineOpened();
    SetButtonsDimmed(1);
    if (CheckLink(true) && !closing) {
        ReadFactors();
        ClearPanelData();
    } else {
        LineGone(); // the next attempt opens it afresh
    }
    SetButtonsDimmed(0);
}

// Follows an attempt under way, or starts one when its second has come.
void reopenStep() {
    Channel *line = Line();
    if (!line || !LineIsGone() || closing)
        return;
    int state;
    if (connecting) {
        state = line->opening();
    } else {
        if (Timer() < nextAttempt)
            return;
        nextAttempt = Timer() + kAttemptSeconds;
        state = line->startOpen();
    }
    connecting = state == 1;
    if (state == 0)
        restore();
}

void look(void *) {
    if (closing || busy > 0)
        return;
    if (!LineIsGone()) {
        Collect(); // drops what nobody asked for, and finds a line that has gone
        if (!LineIsGone())
            return;
        showLost();
    }
    reopenStep();
}

} // namespace

unsigned LinkGeneration() {
    return LineGeneration();
}

bool LinkLost() {
    return LineIsGone();
}

void StartLinkWatch() {
    static int handle = 0;
    if (handle <= 0)
        handle = NewRepeatingCall(look, nullptr, kLookSeconds);
}

bool AwaitLink() {
    unsigned shown = LinkGeneration() + 1;
    while (poll == 1 && !closing && LineIsGone() && Line()) {
        if (shown != LinkGeneration()) { // again after a failed attempt's own texts
            shown = LinkGeneration();
            SetCtrlVal(panel, P_DISPSTATUS, "LINK LOST - RECONNECTING");
        }
        ProcessSystemEvents();
        reopenStep();
    }
    if (!LineIsGone())
        return poll == 1 && !closing;
    showLost(); // stopped while the link is away: say why it is
    return false;
}

} // namespace qv
