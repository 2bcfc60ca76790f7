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

// LinkGeneration() when `found` was read, and when factors were last written; 0: never. Factors
// read after a write on the same line are the program's, not what the sensor came with.
unsigned foundOnLine = 0, writtenOnLine = 0;
u16 found[3];

void failureReport() {
    SetCtrlVal(panel, P_DISPSTATUS, "TIMEOUT");
    if (!closing && !sequenceRunning)
        MessagePopup(version, InfoTimeoutVer);
}

// Builds and writes one frame of a write-only command. A write that does not take the whole
// frame is reported, and the caller sends nothing more.
bool sendFrame(u16 code, u16 row) {
    if (code == ORDER_SETCF || code == ORDER_SETPARA_END)
        writtenOnLine = LinkGeneration();
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

bool SendPara() {
    if (closing)
        return false;
    CopyVarsToPP();
    if (!sendFrame(ORDER_SETPARA, 0))
        return false;
    for (u16 row = 0; row < kTeachRows; ++row)
        if (!sendFrame(ORDER_SETTEACH, row))
            return false;
    return sendFrame(ORDER_SETPARA_END, 0);
}

bool SendCalibPara() {
    if (closing)
        return false;
    GetCtrlVal(panel, P_EDITPOWER, &power);
    const u16 block[14] = {power, 0, 32768, 0, 10, 0, 1, 0, 0, 0, 0, 3000, 3500, 0};
    std::copy(std::begin(block), std::end(block), pp);
    return sendFrame(ORDER_SETPARA, 0);
}

bool SendCF() {
    if (closing)
        return false;
    GetCtrlVal(panel, P_EDITCFR, &cfrot);
    GetCtrlVal(panel, P_EDITCFG, &cfgruen);
    GetCtrlVal(panel, P_EDITCFB, &cfblau);
    return sendFrame(ORDER_SETCF, 0);
}

bool FactorsAsFound(u16 (&cf)[3]) {
    if (foundOnLine != LinkGeneration())
        return false;
    std::copy(std::begin(found), std::end(found), cf);
    return true;
}

bool ReadFactors() {
    if (!request(ORDER_GETCF, 3))
        return false;
    GetRxBufPara();
    cfrot = pp[0];
    cfgruen = pp[1];
    cfblau = pp[2];
    if (foundOnLine != LinkGeneration() && writtenOnLine != LinkGeneration()) {
        foundOnLine = LinkGeneration();
        found[0] = cfrot, found[1] = cfgruen, found[2] = cfblau;
    }
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
