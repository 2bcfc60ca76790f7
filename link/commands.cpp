#include "link/commands.h"

#include "link/link.h"
#include "link/transaction.h"
#include "platform/userint.h"
#include "protocol/codec.h"
#include "shell/controls.h"
#include "shell/refresh.h"
#include "shell/state.h"
#include "trend/trend.h"

#include <algorithm>

namespace qv {

using namespace rt;

const char InfoTimeoutVer[] = " ATTENTION! \n \n TIMEOUT \n NO SERIAL CONNECTION TO SENSOR. \n "
                              "The version of the sensor is displayed as the name of this dialog "
                              "box.";

namespace {

constexpr double kReplyLimit = 2.0;

void failureReport() {
    SetCtrlVal(panel, P_DISPSTATUS, "TIMEOUT");
    if (!closing)
        MessagePopup(version, InfoTimeoutVer);
}

// Builds and writes one frame of a write-only command. A write that does not take the whole
// frame is reported, and the caller sends nothing more.
bool sendFrame(u16 code, u16 row) {
    order = code;
    FillTxBuf(order, row);
    if (SendRequest())
        return true;
    failureReport();
    return false;
}

// One request and its reply of `words` words.
bool request(u16 code, int words) {
    order = code;
    FillTxBuf(order, 0);
    return Transact(2 * words, kReplyLimit, true) == Reply::Complete;
}

} // namespace

void SendPara() {
    if (closing)
        return;
    CopyVarsToPP();
    if (!sendFrame(ORDER_SETPARA, 0))
        return;
    for (u16 row = 0; row < kTeachRows; ++row)
        if (!sendFrame(ORDER_SETTEACH, row))
            return;
    sendFrame(ORDER_SETPARA_END, 0);
}

void SendCalibPara() {
    if (closing)
        return;
    GetCtrlVal(panel, P_EDITPOWER, &power);
    const u16 block[14] = {power, 0, 32768, 0, 10, 0, 1, 0, 0, 0, 0, 3000, 3500, 0};
    std::copy(std::begin(block), std::end(block), pp);
    sendFrame(ORDER_SETPARA, 0);
}

void SendCF() {
    if (closing)
        return;
    GetCtrlVal(panel, P_EDITCFR, &cfrot);
    GetCtrlVal(panel, P_EDITCFG, &cfgruen);
    GetCtrlVal(panel, P_EDITCFB, &cfblau);
    sendFrame(ORDER_SETCF, 0);
}

bool ReadFactors() {
    if (!request(ORDER_GETCF, 3))
        return false;
    GetRxBufPara();
    cfrot = pp[0];
    cfgruen = pp[1];
    cfblau = pp[2];
    SetCtrlVal(panel, P_EDITCFR, cfrot);
    SetCtrlVal(panel, P_EDITCFG, cfgruen);
    SetCtrlVal(panel, P_EDITCFB, cfblau);
    return true;
}

bool GetCF() {
    poll = 0;
    if (closing)
        return false;
    if (ReadFactors())
        return true;
    failureReport();
    return false;
}

void GetPara() {
    poll = 0;
    if (closing)
        return;
    if (!request(target == RAM ? ORDER_GETPARA_RAM : ORDER_GETPARA_EEPROM, anzpara)) {
        failureReport();
        return;
    }
    GetRxBufPara();
    CopyPPtoVars();
}

bool GetDataFrame() {
    return Transact(2 * anzdata, kReplyLimit, true) == Reply::Complete;
}

void GetData() {
    if (closing)
        return;
    poll = 1;
    while (poll == 1) {
        order = ORDER_GETDATA;
        FillTxBuf(order, 0);
        if (GetDataFrame()) {
            GetRxBufData();
            CopyDatatoVars();
            SetPanelData();
            TrendAddReading();
        } else if (LineIsGone()) {
            // The sensor may come back, possibly another one: the loop goes on with it.
            if (!AwaitLink())
                poll = 0;
        } else {
            failureReport();
            poll = 0;
        }
        ProcessSystemEvents();
    }
}

} // namespace qv
