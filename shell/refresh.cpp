#include "shell/refresh.h"

#include "platform/userint.h"
#include "shell/controls.h"
#include "shell/state.h"

namespace qv {

using namespace rt;

namespace {
u16 largest(u16 a, u16 b, u16 c) {
    u16 m = a >= b ? a : b;
    if (c >= m)
        m = c;
    return m;
}

u16 smallest(u16 a, u16 b, u16 c) {
    u16 m = a <= b ? a : b;
    if (c <= m)
        m = c;
    return m;
}

// The fourteen reading indicators, in the documented order.
void show() {
    SetCtrlVal(panel, P_DATAR_A, dataR);
    SetCtrlVal(panel, P_DATAR_B, dataR);
    SetCtrlVal(panel, P_DATAG_A, dataG);
    SetCtrlVal(panel, P_DATAG_B, dataG);
    SetCtrlVal(panel, P_DATAB_A, dataB);
    SetCtrlVal(panel, P_DATAB_B, dataB);
    SetCtrlVal(panel, P_DATARAWR_A, dataRawR);
    SetCtrlVal(panel, P_DATARAWR_B, dataRawR);
    SetCtrlVal(panel, P_DATARAWG_A, dataRawG);
    SetCtrlVal(panel, P_DATARAWG_B, dataRawG);
    SetCtrlVal(panel, P_DATARAWB_A, dataRawB);
    SetCtrlVal(panel, P_DATARAWB_B, dataRawB);
    SetCtrlVal(panel, P_DELTARAW, deltaraw);
    SetCtrlVal(panel, P_DELTACALIB, deltacalib);
}
} // namespace

u16 Spread(u16 a, u16 b, u16 c) {
    return static_cast<u16>(largest(a, b, c) - smallest(a, b, c));
}

void SetPanelData() {
    deltaraw = Spread(dataRawR, dataRawG, dataRawB);
    deltacalib = Spread(dataR, dataG, dataB);

    show();
}

void ClearPanelData() {
    dataR = dataG = dataB = dataRawR = dataRawG = dataRawB = deltaraw = deltacalib = 0;
    show();
}

} // namespace qv
