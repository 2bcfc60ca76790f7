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

// Same as the calibration's limits and scale: the window shows where its range test passes.
constexpr long kFactorLow = 750, kFactorHigh = 1300, kFactorScale = 1024;

enum class Place : std::uint8_t { NoReading, Inside, Outside };

// The raw numbers' colours as last set, so that a reading touches a number only when its place
// changes: setting a colour redraws the control, which 12,000 readings a second must not pay for.
struct Target {
    int panel = 0; // the panel these are for; another one (loaded afresh) starts black
    RawWindow window{1, 0};
    Place shown[3] = {Place::NoReading, Place::NoReading, Place::NoReading};
};
Target g_target;

constexpr int kRawNumbers[3] = {P_DATARAWR_A, P_DATARAWG_A, P_DATARAWB_A};
constexpr int kRawBars[3] = {P_DATARAWR_B, P_DATARAWG_B, P_DATARAWB_B};

void place(int channel, Place now) {
    if (g_target.shown[channel] == now && g_target.panel == panel)
        return;
    g_target.shown[channel] = now;
    SetCtrlAttribute(panel, kRawNumbers[channel], ATTR_TEXT_COLOR,
                     now == Place::Inside    ? kColorGood
                     : now == Place::Outside ? kColorBad
                                             : 0x000000);
}

Place placeOf(u16 raw) {
    return raw >= g_target.window.low && raw <= g_target.window.high ? Place::Inside
                                                                     : Place::Outside;
}

void placeReadings(bool reading) {
    const u16 raw[3] = {dataRawR, dataRawG, dataRawB};
    for (int i = 0; i < 3; ++i)
        place(i, reading ? placeOf(raw[i]) : Place::NoReading);
    g_target.panel = panel;
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
    placeReadings(true);
}

void ClearPanelData() {
    dataR = dataG = dataB = dataRawR = dataRawG = dataRawB = deltaraw = deltacalib = 0;
    show();
    placeReadings(false);
}

RawWindow TargetWindow(u16 setValue) {
    // factor = S / mean, cut to a whole number: it stays at or below 1300 while S / mean < 1301,
    // and reaches 750 while mean <= S / 750.
    const long s = long{setValue} * kFactorScale;
    return {s / (kFactorHigh + 1) + 1, s / kFactorLow};
}

void ShowTargetWindow() {
    u16 setValue = 0;
    GetCtrlVal(panel, P_EDITSETVALUE, &setValue);
    g_target.window = TargetWindow(setValue);
    const bool empty = g_target.window.low > g_target.window.high;
    for (int bar : kRawBars) {
        SetCtrlAttribute(panel, bar, ATTR_BAR_MARK_LOW,
                         empty ? VAL_NO_MARK : static_cast<int>(g_target.window.low));
        SetCtrlAttribute(panel, bar, ATTR_BAR_MARK_HIGH,
                         empty ? VAL_NO_MARK : static_cast<int>(g_target.window.high));
    }
    const bool reading = g_target.panel == panel && g_target.shown[0] != Place::NoReading;
    placeReadings(reading);
}

} // namespace qv
