#include "app/handlers.h"

#include "app/station.h"
#include "calibration/autopower.h"
#include "calibration/calibration.h"
#include "calibration/readback.h"
#include "calibration/sequence.h"
#include "link/commands.h"
#include "link/link.h"
#include "link/remembered.h"
#include "platform/userint.h"
#include "platform/utility.h"
#include "record/record.h"
#include "shell/buttons.h"
#include "shell/controls.h"
#include "shell/help.h"
#include "shell/refresh.h"
#include "shell/state.h"
#include "trend/trend.h"

#include <cstdio>

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
const char InfoButtonAutoPower[] =
    " Finds the POWER at which the RAW DATAS of the WHITE target are nearest SET VALUE, \n so "
    "that the calibration factors come out near 1024. ";
const char InfoButtonCalibrate[] =
    " Calibrates the sensor whose SENSOR SERIAL is entered, in one run: \n link check, GET CF, "
    "AUTO POWER, CALCULATE CALIBRATION FACTORS, \n a check of the new factors, FINISH "
    "CALIBRATION. \n Enter in SENSOR SERIAL starts it too. ";
const char InfoStringOperator[] = " Who calibrates: kept for the next start. ";
const char InfoStringSerial[] =
    " The serial number of the sensor to calibrate: type it or scan it. ";
const char InfoStringReference[] = " The ID of the WHITE reference tile: kept for the next start. ";
const char InfoDispResult[] = " The result of the last CALIBRATE SENSOR run. ";
const char InfoWhiteTarget[] =
    " Make sure, that the sensor shines on a WHITE target! \n Select a proper POWER value that the "
    "RAW DATAS are within the dynamic range.  \n Repeat as long as the intensity for the RAW DATAS "
    "is NOT OK.";

namespace {

// The line (LinkGeneration) the last CALCULATE by hand started on: its outcome, calcOutcome,
// holds for this sensor only while the line has stayed.
unsigned calculatedOnLine = 0;

// FINISH writes the boxes' factors into the sensor's EEPROM. Unless a CALCULATE passed on this
// very line they may be the previous sensor's, or a failed calculation's: the operator is asked
// first. True when FINISH may go on.
bool finishMayWrite() {
    const bool thisLine = calculatedOnLine == LinkGeneration() && !LinkLost();
    if (closing || (thisLine && calcOutcome == CalcOutcome::Passed))
        return true;
    const bool failed =
        thisLine && (calcOutcome == CalcOutcome::Spread || calcOutcome == CalcOutcome::Range ||
                     calcOutcome == CalcOutcome::Timeout);
    u16 red = 0, green = 0, blue = 0;
    GetCtrlVal(panel, P_EDITCFR, &red);
    GetCtrlVal(panel, P_EDITCFG, &green);
    GetCtrlVal(panel, P_EDITCFB, &blue);
    char text[400];
    std::snprintf(text, sizeof text,
                  " %s \n FINISH CALIBRATION would write these calibration factors to the EEPROM "
                  "of the sensor: \n RED %u, GREEN %u, BLUE %u \n %s \n Write them anyway? ",
                  failed ? "The last CALCULATE CALIBRATION FACTORS on this sensor failed."
                         : "No CALCULATE CALIBRATION FACTORS has passed since the link to this "
                           "sensor was opened.",
                  unsigned{red}, unsigned{green}, unsigned{blue},
                  failed ? "They are not this sensor's calibration."
                         : "They may be another sensor's.");
    return ConfirmPopup("ATTENTION!", text) != 0;
}
} // namespace

int CBF_ButtonSendPower(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT) {
        SetButtonsDimmed(1);
        if (!closing && ConfirmPopup("SEND POWER", InfoWhiteTarget))
            SendCalibPara();
        Pause();
        GetCF();
        GetData();
        SetButtonsDimmed(0);
    }
    return HelpOnRightClick(event, InfoButtonSendPower);
}

int CBF_ButtonSendCF(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT) {
        SetButtonsDimmed(1);
        SendCF();
        SetButtonsDimmed(0);
    }
    return HelpOnRightClick(event, InfoButtonSendCF);
}

int CBF_ButtonGetCF(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT) {
        SetButtonsDimmed(1);
        GetCF();
        SetButtonsDimmed(0);
    }
    return HelpOnRightClick(event, InfoButtonGetCF);
}

int CBF_ButtonGo(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT) {
        SetButtonsDimmed(1);
        GetData();
        SetButtonsDimmed(0);
    }
    return HelpOnRightClick(event, InfoButtonGo);
}

// STOP only asks: the GO loop ends at its next turn, AUTO POWER and CALIBRATE SENSOR after the
// step under way, and their handlers restore the buttons.
int CBF_ButtonStop(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT) {
        poll = 0;
        stopRequested = 1;
    }
    return HelpOnRightClick(event, InfoButtonStop);
}

int CBF_ButtonCalcCF(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT) {
        SetButtonsDimmed(1);
        const unsigned line = LinkGeneration();
        CalcCF();
        calculatedOnLine = line;
        RecordCalculation();
        // Whatever the calculation did, the boxes' factors go to the sensor; but not to what may
        // be another sensor once the line went during the series.
        if (LinkGeneration() == line && !LinkLost()) {
            SendCF();
            Pause();
            GetData();
        }
        SetButtonsDimmed(0);
    }
    return HelpOnRightClick(event, InfoButtonCalcCF);
}

int CBF_ButtonFinishCalib(int panelHandle, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT) {
        SetCtrlAttribute(panelHandle, P_BUTTONFINISHCALIB, ATTR_CMD_BUTTON_COLOR, kColorRed);
        SetButtonsDimmed(1);
        if (!finishMayWrite()) {
            RecordFinishDeclined();
            SetCtrlAttribute(panelHandle, P_BUTTONFINISHCALIB, ATTR_CMD_BUTTON_COLOR,
                             kColorLightGrey);
            SetButtonsDimmed(0);
            return 0;
        }
        if (!closing)
            MessagePopup("INFO!", InfoButtonFinishCalib);
        TrendMarkEvent(TrendEvent::Finish);
        // A line that goes ends the finish, which records it as timed out: it is never resumed
        // on what may be another sensor.
        const unsigned line = LinkGeneration();
        const auto held = [line] { return LinkGeneration() == line && !LinkLost(); };
        SendPara();
        if (held()) {
            Pause();
            SendCF();
            Pause();
        }
        const std::uint16_t sent[3] = {cfrot, cfgruen, cfblau};
        // Closed before the read: nothing was finished, and there is no read-back to judge.
        const bool closedBefore = closing != 0;
        const bool readBack = held() && GetCF() && held();
        if (!closedBefore)
            CheckReadBack(sent, readBack);
        if (held())
            TryToConnect(true);
        SetCtrlAttribute(panelHandle, P_BUTTONFINISHCALIB, ATTR_CMD_BUTTON_COLOR, kColorLightGrey);
        SetButtonsDimmed(0);
    }
    return HelpOnRightClick(event, InfoButtonFinishCalib);
}

// A committed POWER, SET VALUE or MAX DELTA is the station's from now on, in this run and the
// next.
int CBF_EditPower(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT)
        RememberEntry(P_EDITPOWER);
    return HelpOnRightClick(event, InfoEditPower);
}
int CBF_EditCFR(int, int, int event, void *, int, int) {
    return HelpOnRightClick(event, InfoEditCF);
}
int CBF_EditCFG(int, int, int event, void *, int, int) {
    return HelpOnRightClick(event, InfoEditCF);
}
int CBF_EditCFB(int, int, int event, void *, int, int) {
    return HelpOnRightClick(event, InfoEditCF);
}

int CBF_EditSetValue(int, int, int event, void *, int, int) {
    // The window follows every value the box takes, typed or stepped.
    if (event == EVENT_COMMIT || event == EVENT_VAL_CHANGED)
        ShowTargetWindow();
    if (event == EVENT_COMMIT)
        RememberEntry(P_EDITSETVALUE);
    return HelpOnRightClick(event, InfoEditSetValue);
}

int CBF_EditMaxDelta(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT)
        RememberEntry(P_EDITMAXDELTA);
    return HelpOnRightClick(event, InfoEditMaxDelta);
}

int CBF_DispBarsRAW(int, int, int event, void *, int, int) {
    return HelpOnRightClick(event, InfoDispBarsRAW);
}

int CBF_DispBars(int, int, int event, void *, int, int) {
    return HelpOnRightClick(event, InfoDispBars);
}
int CBF_DispStatus(int, int, int event, void *, int, int) {
    return HelpOnRightClick(event, InfoStatus);
}

int CBF_ButtonAutoPower(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT) {
        SetButtonsDimmed(1);
        if (!closing && ConfirmPopup("AUTO POWER", InfoWhiteTarget))
            AutoPowerByHand();
        SetButtonsDimmed(0);
    }
    return HelpOnRightClick(event, InfoButtonAutoPower);
}

int CBF_ButtonCalibrate(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT)
        CalibrateSensor();
    return HelpOnRightClick(event, InfoButtonCalibrate);
}

int CBF_StringOperator(int, int control, int event, void *, int, int) {
    if (event == EVENT_COMMIT)
        CommitStationField(control);
    return HelpOnRightClick(event, InfoStringOperator);
}

int CBF_StringSerial(int, int, int event, void *, int eventData1, int) {
    SensorSerialEvent(event, eventData1);
    return HelpOnRightClick(event, InfoStringSerial);
}

int CBF_StringReference(int, int control, int event, void *, int, int) {
    if (event == EVENT_COMMIT)
        CommitStationField(control);
    return HelpOnRightClick(event, InfoStringReference);
}

int CBF_DispResult(int, int, int event, void *, int, int) {
    return HelpOnRightClick(event, InfoDispResult);
}

} // namespace qv
