#include "app/handlers.h"

#include "calibration/calibration.h"
#include "calibration/readback.h"
#include "link/commands.h"
#include "link/link.h"
#include "link/remembered.h"
#include "platform/userint.h"
#include "platform/utility.h"
#include "record/record.h"
#include "shell/buttons.h"
#include "shell/controls.h"
#include "shell/help.h"
#include "shell/state.h"
#include "trend/trend.h"

#include <chrono>
#include <thread>

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

constexpr double kPause = 0.5;

// Half a second in which the panel does not react: no events are pumped, so what the program
// has set is drawn first. It sleeps in short steps rather than spinning, on the shared clock
// variables. After a close there is nothing left to pause for.
void pause() {
    if (closing)
        return;
    ProcessDrawEvents();
    tstart = Timer();
    tdiff = 0.0;
    while (tdiff < kPause) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        tdiff = Timer() - tstart;
    }
}
} // namespace

int CBF_ButtonSendPower(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT) {
        SetButtonsDimmed(1);
        if (!closing && ConfirmPopup("SEND POWER", InfoWhiteTarget))
            SendCalibPara();
        pause();
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

// STOP only clears the run flag; the GO loop ends at its next turn and its handler restores
// the buttons.
int CBF_ButtonStop(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT)
        poll = 0;
    return HelpOnRightClick(event, InfoButtonStop);
}

int CBF_ButtonCalcCF(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT) {
        SetButtonsDimmed(1);
        const unsigned line = LinkGeneration();
        CalcCF();
        RecordCalculation();
        // Whatever the calculation did, the boxes' factors go to the sensor; but not to what may
        // be another sensor once the line went during the series.
        if (LinkGeneration() == line && !LinkLost()) {
            SendCF();
            pause();
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
        if (!closing)
            MessagePopup("INFO!", InfoButtonFinishCalib);
        TrendMarkEvent(TrendEvent::Finish);
        // A line that goes ends the finish, which records it as timed out: it is never resumed
        // on what may be another sensor.
        const unsigned line = LinkGeneration();
        const auto held = [line] { return LinkGeneration() == line && !LinkLost(); };
        SendPara();
        if (held()) {
            pause();
            SendCF();
            pause();
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

} // namespace qv
