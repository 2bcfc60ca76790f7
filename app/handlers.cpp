#include "app/handlers.h"

#include "app/state.h"
#include "platform/userint.h"

namespace qv {

using namespace rt;

const char InfoButtonSendPower[] = " Send POWER value to sensor.";
const char InfoButtonSendCF[] = " Calibration factors for RED,GREEN and BLUE will be send to the "
                                "EEPROM of the sensor.";
const char InfoButtonGetCF[] =
    " Calibration factors for RED,GREEN and BLUE will be read from the sensor.";
const char InfoButtonGo[] = " Starts data transfer of RAW DATAS and CALIBRATED DATAS from sensor "
                            "to PC. \n The data are shown in the displays and in the color bars.";
const char InfoButtonStop[] = " Stops data transfer from sensor to PC.";
const char InfoButtonCalcCF[] = " Calculate the calibration factors for RED, GREEN and BLUE. ";
const char InfoButtonFinishCalib[] =
    " Finish calibration. \n ATTENTION! \n Default parameters will be send to the EEPROM of the "
    "sensor. \n Calibration factors for RED,GREEN and BLUE will be send to the EEPROM of the "
    "sensor. ";
const char InfoEditPower[] = " EDIT BOX POWER: \n Select the intensity of the transmitter LED. \n "
                             "0 = no intensity,  1000 = full intensity.";
const char InfoEditCF[] = " Edit Box for the calibration factor. ";
const char InfoEditSetValue[] = " If PMOD=STAT. \n Choose the setvalue for RED,GREEN and BLUE. ";
const char InfoEditMaxDelta[] = " Choose the maximum DELTA value of RED,GREEN and BLUE. ";
const char InfoDispBarsRAW[] = " Displays the RAW values of RED, GREEN and BLUE.";
const char InfoDispBars[] = " Displays the calibrated values of RED, GREEN and BLUE. \n Formula: "
                            "CALIBRATED DATA = (RAW DATA * CF) / 1000 ";
const char InfoStatus[] = " Displays serial interface status messages.";
const char InfoWhiteTarget[] =
    " Make sure, that the sensor shines on a WHITE target! \n Select a proper POWER value that the "
    "RAW DATAS are within the dynamic range.  \n Repeat as long as the intensity for the RAW DATAS "
    "is NOT OK.";

namespace {
constexpr const char *kHelpTitle = "INFO!";

// The edit boxes and displays act on nothing but a right click.
int helpOnly(int event, const char *text) {
    if (event == EVENT_RIGHT_CLICK)
        MessagePopup(kHelpTitle, text);
    return 0;
}
} // namespace

int CBF_ButtonSendPower(int, int, int event, void *, int, int) {
    return helpOnly(event, InfoButtonSendPower);
}

int CBF_ButtonSendCF(int, int, int event, void *, int, int) {
    return helpOnly(event, InfoButtonSendCF);
}

int CBF_ButtonGetCF(int, int, int event, void *, int, int) {
    return helpOnly(event, InfoButtonGetCF);
}

int CBF_ButtonGo(int, int, int event, void *, int, int) {
    return helpOnly(event, InfoButtonGo);
}

int CBF_ButtonStop(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT)
        poll = 0;
    return helpOnly(event, InfoButtonStop);
}

int CBF_ButtonCalcCF(int, int, int event, void *, int, int) {
    return helpOnly(event, InfoButtonCalcCF);
}

int CBF_ButtonFinishCalib(int, int, int event, void *, int, int) {
    return helpOnly(event, InfoButtonFinishCalib);
}

int CBF_EditPower(int, int, int event, void *, int, int) {
    return helpOnly(event, InfoEditPower);
}
int CBF_EditCFR(int, int, int event, void *, int, int) {
    return helpOnly(event, InfoEditCF);
}
int CBF_EditCFG(int, int, int event, void *, int, int) {
    return helpOnly(event, InfoEditCF);
}
int CBF_EditCFB(int, int, int event, void *, int, int) {
    return helpOnly(event, InfoEditCF);
}

int CBF_EditSetValue(int, int, int event, void *, int, int) {
    return helpOnly(event, InfoEditSetValue);
}

int CBF_EditMaxDelta(int, int, int event, void *, int, int) {
    return helpOnly(event, InfoEditMaxDelta);
}

int CBF_DispBarsRAW(int, int, int event, void *, int, int) {
    return helpOnly(event, InfoDispBarsRAW);
}

int CBF_DispBars(int, int, int event, void *, int, int) {
    return helpOnly(event, InfoDispBars);
}
int CBF_DispStatus(int, int, int event, void *, int, int) {
    return helpOnly(event, InfoStatus);
}

} // namespace qv
