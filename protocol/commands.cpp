#include "protocol/commands.h"

#include "platform/rs232.h"
#include "platform/tcp.h"
#include "platform/userint.h"
#include "platform/utility.h"
#include "protocol/codec.h"
#include "shell/controls.h"
#include "shell/refresh.h"
#include "shell/state.h"

#include <algorithm>

namespace qv {

using namespace rt;

const char InfoTimeoutVer[] = " ATTENTION! \n \n TIMEOUT \n NO SERIAL CONNECTION TO SENSOR. \n "
                              "The version of the sensor is displayed as the name of this dialog "
                              "box.";

namespace {

constexpr double kReplyLimit = 2.0;
constexpr unsigned kTcpWriteTimeoutMs = 2000;

void failureReport() {
    SetCtrlVal(panel, P_DISPSTATUS, "TIMEOUT");
    if (!closing)
        MessagePopup(version, InfoTimeoutVer);
}

void flushSerial() {
    if (comprotocol == 0) {
        FlushInQ(comport);
        FlushOutQ(comport);
    }
}

// Builds and writes one frame of a write-only command. A write that does not take the whole
// frame is reported, and the caller sends nothing more.
bool sendFrame(u16 code, u16 row) {
    order = code;
    FillTxBuf(order, row);
    if (comprotocol == 0)
        nBytesW = static_cast<u16>(
            ComWrt(comport, reinterpret_cast<const char *>(szWriteBuf), FrameBytes()));
    else
        nBytesW = static_cast<u16>(
            ClientTCPWrite(g_hconversation, szWriteBuf, FrameBytes(), kTcpWriteTimeoutMs));
    if (nBytesW != FrameBytes()) {
        failureReport();
        return false;
    }
    return true;
}

} // namespace

void transact(int expected, double limit, bool pump) {
    if (comprotocol == 0) {
        if (!pump)
            ProcessDrawEvents();
        ComWrt(comport, reinterpret_cast<const char *>(szWriteBuf), FrameBytes());
        tstart = Timer();
        for (;;) {
            if (pump)
                ProcessSystemEvents();
            dataSize = GetInQLen(comport);
            tdiff = Timer() - tstart;
            if (tdiff > limit || dataSize >= expected)
                break;
        }
        if (dataSize > 0)
            ComRd(comport, reinterpret_cast<char *>(szReadBuf), std::min(dataSize, kBufSize));
        bytesToRead = expected - dataSize;
    } else {
        // Set before writing, so the receive callback places the reply at offset 0.
        bytesToRead = expected;
        dataSize = expected;
        ClientTCPWrite(g_hconversation, szWriteBuf, FrameBytes(),
                       static_cast<unsigned>(limit * 1000));
        tstart = Timer();
        replyDeadline = tstart + limit;
        while (bytesToRead > 0) {
            ProcessSystemEvents();
            tdiff = Timer() - tstart;
            if (tdiff > limit)
                break;
        }
        replyDeadline = 0;
    }
}

void SendPara() {
    if (closing)
        return;
    CopyVarsToPP();
    flushSerial();
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
    flushSerial();
    sendFrame(ORDER_SETPARA, 0);
}

void SendCF() {
    if (closing)
        return;
    GetCtrlVal(panel, P_EDITCFR, &cfrot);
    GetCtrlVal(panel, P_EDITCFG, &cfgruen);
    GetCtrlVal(panel, P_EDITCFB, &cfblau);
    flushSerial();
    sendFrame(ORDER_SETCF, 0);
}

void GetCF() {
    poll = 0;
    if (closing)
        return;
    flushSerial();
    order = ORDER_GETCF;
    FillTxBuf(order, 0);
    transact(6, kReplyLimit, true);
    if (bytesToRead != 0) {
        failureReport();
        return;
    }
    GetRxBufPara();
    cfrot = pp[0];
    cfgruen = pp[1];
    cfblau = pp[2];
    SetCtrlVal(panel, P_EDITCFR, cfrot);
    SetCtrlVal(panel, P_EDITCFG, cfgruen);
    SetCtrlVal(panel, P_EDITCFB, cfblau);
}

void GetPara() {
    poll = 0;
    if (closing)
        return;
    flushSerial();
    order = target == RAM ? ORDER_GETPARA_RAM : ORDER_GETPARA_EEPROM;
    FillTxBuf(order, 0);
    transact(2 * anzpara, kReplyLimit, true);
    if (bytesToRead != 0) {
        failureReport();
        return;
    }
    GetRxBufPara();
    CopyPPtoVars();
}

void GetDataFrame() {
    flushSerial();
    transact(2 * anzdata, kReplyLimit, true);
}

void GetData() {
    if (closing)
        return;
    poll = 1;
    flushSerial();
    while (poll == 1) {
        order = ORDER_GETDATA;
        FillTxBuf(order, 0);
        GetDataFrame();
        if (bytesToRead == 0) {
            GetRxBufData();
            CopyDatatoVars();
            SetPanelData();
        } else {
            failureReport();
            poll = 0;
        }
        ProcessSystemEvents();
    }
}

} // namespace qv
