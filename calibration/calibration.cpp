#include "calibration/calibration.h"

#include "link/commands.h"
#include "platform/userint.h"
#include "protocol/codec.h"
#include "shell/controls.h"
#include "shell/refresh.h"
#include "shell/state.h"
#include "trend/trend.h"

namespace qv {

using namespace rt;

const char ConfirmCalculation[] =
    " Are you sure, that you have selected \n the right calibration parameters? ";
const char MaximumDelta[] =
    " The maximum delta of the raw data of RED,GREEN and BLUE is to high. \n Calibration is not "
    "possible. \n Verify, that the sensor shines on a WHITE target! \n Increase MAXIMUM DELTA OF "
    "RAW DATAS! ";
const char CFOutOfRange[] =
    " One of the calibration factor is out of range. \n Calibration is not possible. \n Verify, "
    "that the senor shines on a WHITE target! \n Choose a proper POWER value. ";
const char CalibrationPassed[] =
    " Calibration successful! \n Calibration factors will be sent to the EEPROM of the sensor. \n "
    "GO mode will be activated. \n Press STOP and FINISH CALIBRATION to leave calibration scope. ";

namespace {

constexpr const char kCancelNotice[] = "Please insert the right values and press"
                                       "                            "
                                       "\n CALCULATE CALIBRATION FACTORS again.";
constexpr int kReadings = 100;
constexpr int kBlinkEvery = 5;
constexpr std::uint32_t kFactorScale = 1024;
constexpr std::uint16_t kFactorLow = 750;
constexpr std::uint16_t kFactorHigh = 1300;

std::uint16_t factor(std::uint16_t mean) {
    // The low 16 bits of the quotient are the stored factor; the range test sees those.
    return static_cast<std::uint16_t>(std::uint32_t{setvalue} * kFactorScale / mean);
}

bool inRange(std::uint16_t f) {
    return f >= kFactorLow && f <= kFactorHigh;
}

} // namespace

void CalcCF() {
    calcOutcome = CalcOutcome::None;
    poll = 0;
    if (closing)
        return;
    if (!ConfirmPopup("CONFIRM CALCULATION!", ConfirmCalculation)) {
        calcOutcome = CalcOutcome::Declined;
        MessagePopup("INFO!", kCancelNotice);
        return;
    }
    // The button blinks red while the readings are taken, and is grey for the last five. Red
    // tells the operator a series runs, so a series cut short leaves it grey too, before any box.
    const auto stopBlinking = [] {
        SetCtrlAttribute(panel, P_BUTTONCALCCF, ATTR_CMD_BUTTON_COLOR, kColorLightGrey);
    };
    std::uint32_t sumR = 0, sumG = 0, sumB = 0, sumD = 0;
    int blink = 0;
    TrendMarkEvent(TrendEvent::CalibrationStart);
    for (int i = 0; i < kReadings; ++i) {
        if (i % kBlinkEvery == 0) {
            SetCtrlAttribute(panel, P_BUTTONCALCCF, ATTR_CMD_BUTTON_COLOR,
                             blink % 2 == 0 ? kColorRed : kColorLightGrey);
            ++blink;
        }
        order = ORDER_GETDATA;
        FillTxBuf(order, 0);
        if (!GetDataFrame()) {
            stopBlinking();
            TrendMarkEvent(TrendEvent::CalibrationEnd);
            calcOutcome = CalcOutcome::Timeout;
            SetCtrlVal(panel, P_DISPSTATUS, "TIMEOUT");
            if (!closing)
                MessagePopup("ATTENTION!", "CALIBRATION FAILED!");
            return;
        }
        GetRxBufData();
        CopyDatatoVars();
        SetPanelData();
        TrendAddReading();
        sumR += dataRawR;
        sumG += dataRawG;
        sumB += dataRawB;
        sumD += deltaraw;
        ProcessSystemEvents();
        // Closed meanwhile: the reading in hand was the last; no result is worked out or shown.
        if (closing) {
            stopBlinking();
            return;
        }
    }
    TrendMarkEvent(TrendEvent::CalibrationEnd);
    meanR = static_cast<std::uint16_t>(sumR / kReadings);
    meanG = static_cast<std::uint16_t>(sumG / kReadings);
    meanB = static_cast<std::uint16_t>(sumB / kReadings);
    meanD = static_cast<std::uint16_t>(sumD / kReadings);
    SetCF();
}

void SetCF() {
    GetCtrlVal(panel, P_EDITSETVALUE, &setvalue);
    GetCtrlVal(panel, P_EDITMAXDELTA, &maxdelta);
    if (meanD > maxdelta) {
        calcOutcome = CalcOutcome::Spread;
        MessagePopup("ATTENTION!", MaximumDelta);
        return;
    }
    for (std::uint16_t *mean : {&meanR, &meanG, &meanB})
        if (*mean == 0)
            *mean = 1;
    const std::uint16_t red = factor(meanR), green = factor(meanG), blue = factor(meanB);
    calcFactors[0] = red;
    calcFactors[1] = green;
    calcFactors[2] = blue;
    for (std::uint16_t f : {red, green, blue})
        if (!inRange(f)) {
            calcOutcome = CalcOutcome::Range;
            MessagePopup("ATTENTION!", CFOutOfRange);
            return;
        }
    cfrot = red;
    cfgruen = green;
    cfblau = blue;
    SetCtrlVal(panel, P_EDITCFR, cfrot);
    SetCtrlVal(panel, P_EDITCFG, cfgruen);
    SetCtrlVal(panel, P_EDITCFB, cfblau);
    calcOutcome = CalcOutcome::Passed;
    MessagePopup("CALIBRATION PASSED!", CalibrationPassed);
}

} // namespace qv
