#include "calibration/calibration.h"

#include "link/commands.h"
#include "platform/userint.h"
#include "protocol/codec.h"
#include "shell/controls.h"
#include "shell/refresh.h"
#include "shell/state.h"
#include "trend/trend.h"

#include <cmath>

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

Series TakeReadings(int count, Readings *out, const SeriesOptions &how) {
    *out = {};
    double sum[6] = {}, squares[6] = {};
    std::uint32_t sumD = 0;
    int blink = 0;
    const auto stopBlinking = [&how] {
        if (how.blink)
            SetCtrlAttribute(panel, how.blink, ATTR_CMD_BUTTON_COLOR, kColorLightGrey);
    };
    TrendMarkEvent(TrendEvent::CalibrationStart);
    for (int i = 0; i < count; ++i) {
        if (how.blink && i % kBlinkEvery == 0) {
            SetCtrlAttribute(panel, how.blink, ATTR_CMD_BUTTON_COLOR,
                             blink % 2 == 0 ? kColorRed : kColorLightGrey);
            ++blink;
        }
        order = ORDER_GETDATA;
        FillTxBuf(order, 0);
        if (!GetDataFrame()) {
            stopBlinking();
            TrendMarkEvent(TrendEvent::CalibrationEnd);
            return Series::Timeout;
        }
        GetRxBufData();
        CopyDatatoVars();
        SetPanelData();
        TrendAddReading();
        const u16 values[6] = {dataRawR, dataRawG, dataRawB, dataR, dataG, dataB};
        for (int k = 0; k < 6; ++k) {
            sum[k] += values[k];
            squares[k] += double(values[k]) * values[k];
        }
        sumD += deltaraw;
        out->count = i + 1;
        ProcessSystemEvents();
        // Closed meanwhile: the reading in hand was the last; nothing is worked out.
        if (closing || (how.stoppable && stopRequested)) {
            stopBlinking();
            TrendMarkEvent(TrendEvent::CalibrationEnd);
            return closing ? Series::Closed : Series::Stopped;
        }
    }
    TrendMarkEvent(TrendEvent::CalibrationEnd);
    // Over the readings themselves (n, not n - 1): the record states what was measured.
    const auto stats = [count](double s, double squared, double &mean, double &sd) {
        mean = s / count;
        const double variance = squared / count - mean * mean;
        sd = variance > 0 ? std::sqrt(variance) : 0;
    };
    // Each array by name: g++ 12 with -fsanitize=undefined (its shift and signed-overflow
    // checks) lost the stores through `(k < 3 ? out->raw : out->calibrated)[k % 3]` into the
    // first two calibrated means and deviations: the check of new factors failed in that build.
    for (int c = 0; c < 3; ++c) {
        stats(sum[c], squares[c], out->raw[c], out->rawSd[c]);
        stats(sum[c + 3], squares[c + 3], out->calibrated[c], out->calibratedSd[c]);
    }
    // As the calibration has always worked them out: whole numbers, the fraction dropped.
    out->meanD = static_cast<u16>(sumD / static_cast<std::uint32_t>(count));
    return Series::Taken;
}

CalcOutcome EvaluateMeans() {
    GetCtrlVal(panel, P_EDITSETVALUE, &setvalue);
    GetCtrlVal(panel, P_EDITMAXDELTA, &maxdelta);
    if (meanD > maxdelta)
        return calcOutcome = CalcOutcome::Spread;
    for (std::uint16_t *mean : {&meanR, &meanG, &meanB})
        if (*mean == 0)
            *mean = 1;
    const std::uint16_t red = factor(meanR), green = factor(meanG), blue = factor(meanB);
    calcFactors[0] = red;
    calcFactors[1] = green;
    calcFactors[2] = blue;
    for (std::uint16_t f : {red, green, blue})
        if (!inRange(f))
            return calcOutcome = CalcOutcome::Range;
    cfrot = red;
    cfgruen = green;
    cfblau = blue;
    SetCtrlVal(panel, P_EDITCFR, cfrot);
    SetCtrlVal(panel, P_EDITCFG, cfgruen);
    SetCtrlVal(panel, P_EDITCFB, cfblau);
    return calcOutcome = CalcOutcome::Passed;
}

bool FactorsInRange(std::uint16_t setValue, const double (&means)[3]) {
    for (double mean : means) {
        const std::uint32_t m = mean < 1 ? 1u : static_cast<std::uint32_t>(mean);
        if (!inRange(static_cast<std::uint16_t>(std::uint32_t{setValue} * kFactorScale / m)))
            return false;
    }
    return true;
}

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
    if (TakeCalibrationSeries({.blink = P_BUTTONCALCCF}) == Series::Timeout) {
        SetCtrlVal(panel, P_DISPSTATUS, "TIMEOUT");
        if (!closing)
            MessagePopup("ATTENTION!", "CALIBRATION FAILED!");
        return;
    }
    if (calcOutcome == CalcOutcome::None && !closing)
        SetCF();
}

Series TakeCalibrationSeries(const SeriesOptions &how) {
    calcOutcome = CalcOutcome::None;
    Readings r;
    const Series series = TakeReadings(kReadings, &r, how);
    if (series == Series::Timeout)
        calcOutcome = CalcOutcome::Timeout;
    else if (series == Series::Stopped)
        calcOutcome = CalcOutcome::Stopped;
    if (series != Series::Taken)
        return series;
    meanR = static_cast<std::uint16_t>(r.raw[0]);
    meanG = static_cast<std::uint16_t>(r.raw[1]);
    meanB = static_cast<std::uint16_t>(r.raw[2]);
    meanD = r.meanD;
    sdR = r.rawSd[0];
    sdG = r.rawSd[1];
    sdB = r.rawSd[2];
    return series;
}

void SetCF() {
    switch (EvaluateMeans()) {
    case CalcOutcome::Spread:
        MessagePopup("ATTENTION!", MaximumDelta);
        break;
    case CalcOutcome::Range:
        MessagePopup("ATTENTION!", CFOutOfRange);
        break;
    default:
        MessagePopup("CALIBRATION PASSED!", CalibrationPassed);
    }
}

} // namespace qv
