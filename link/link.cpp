#include "link/link.h"

#include "link/channel.h"
#include "link/comportline.h"
#include "link/transaction.h"
#include "platform/serialports.h"
#include "platform/tcp.h"
#include "platform/userint.h"
#include "platform/utility.h"
#include "protocol/codec.h"
#include "shell/buttons.h"
#include "shell/controls.h"
#include "shell/state.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace qv {

using namespace rt;

namespace {

constexpr int kVersionBytes = 48;
constexpr double kSerialCheckLimit = 2.0; // without a line: as a serial port that did not open

// The device the serial link was last opened on, and the COM number it had then; whether this
// reconnect may only open that device.
std::string serialIdentity;
int identityPort = 0;
bool sameDevice = false;

// The value of the leading decimal digits, 0 when there are none. Unlike atoi it cannot
// overflow on a long run of digits: such a number is held at INT_MAX and refused later.
int leadingNumber(const char *text) {
    const long v = std::strtol(text, nullptr, 10);
    return static_cast<int>(std::clamp<long>(v, INT_MIN, INT_MAX));
}

} // namespace

const char *SerialErrorText(int code) {
    switch (code) {
    case -1:
        return "Unknown system error";
    case -2:
        return "Invalid port number";
    case -3:
        return "Port is not open";
    case -4:
        return "Unknown I/0 error";
    case -5:
        return "RS-232 error!";
    case -6:
        return "No serial port found";
    case -7:
        return "Cannot open port";
    case -99:
        return "Timeout";
    default:
        return "RS-232 error!";
    }
}

const char *TcpErrorText(int code) {
    static const char *const texts[] = {"UnableToRegisterService",
                                        "UnableToEstablishConnection",
                                        "ExistingServer",
                                        "FailedToConnect",
                                        "ServerNotRegistered",
                                        "TooManyConversations",
                                        "ReadFailed",
                                        "WriteFailed",
                                        "InvalidParameter",
                                        "OutOfMemory",
                                        "TimeOutError ",
                                        "NoConnectionEstablished ",
                                        "GeneralIOErr",
                                        "ConnectionClosed",
                                        "UnableToLoadWinsockDLL",
                                        "IncorrectWinsockDLLVersion",
                                        "NetworkSubsystemNotReady ",
                                        "ConnectionsStillOpen",
                                        "DisconnectPending",
                                        "InfoNotAvailable"};
    if (code <= -1 && code >= -20)
        return texts[-code - 1];
    return "Connection to server failed";
}

bool TryToConnect(bool keepDevice) {
    if (closing)
        return false;
    sameDevice = keepDevice;
    SetCtrlVal(interfacepanel, INTERFACEP_STATUS, "TRY");
    GetCtrlVal(interfacepanel, INTERFACEP_EDITCOMMUNICATIONPROTOCOL, &comprotocol);
    GetCtrlVal(interfacepanel, INTERFACEP_EDITSELECTCOMPORT, &comport);
    GetCtrlVal(interfacepanel, INTERFACEP_STRINGIPADRESS, ipBuf);
    GetCtrlVal(interfacepanel, INTERFACEP_STRINGPORTNUMBER, portNumStr);
    SetCtrlVal(panel, P_COMPORT, comport);
    SetCtrlVal(panel, P_IPADRESS, ipBuf);
    portNum = leadingNumber(portNumStr);
    // The line of the earlier settings closes whatever the new ones are.
    UseLine(nullptr, false);
    if (comprotocol == 0) {
        SetCtrlAttribute(panel, P_COMPORT, ATTR_VISIBLE, 1);
        SetCtrlAttribute(panel, P_IPADRESS, ATTR_VISIBLE, 0);
        InitRS232();
    } else if (comprotocol == 1) {
        SetCtrlAttribute(panel, P_COMPORT, ATTR_VISIBLE, 0);
        SetCtrlAttribute(panel, P_IPADRESS, ATTR_VISIBLE, 1);
        InitTCP_IP();
    }
    return CheckComLine();
}

void InitRS232() {
    poll = 0;
    // While the operator keeps the number, the device last opened on it, wherever it is now (an
    // adapter plugged in meanwhile shifts the numbers); a new number means what it means now.
    if (comport != identityPort || serialIdentity.empty()) {
        serialIdentity = ComPortIdentity(comport);
    } else if (ComPortIdentity(comport) != serialIdentity) {
        if (const int now = ComPortNumber(serialIdentity); now > 0) {
            comport = static_cast<u16>(now);
            SetCtrlVal(interfacepanel, INTERFACEP_EDITSELECTCOMPORT, comport);
            SetCtrlVal(panel, P_COMPORT, comport);
        } else if (!sameDevice) { // gone: the operator's own try takes what the number means now
            serialIdentity = ComPortIdentity(comport);
        }
    }
    identityPort = comport;
    UseLine(NewSerialChannel(comport, serialIdentity), false);
    ret = static_cast<std::int16_t>(Line()->open());
    ShowComPortDevice(ret);
    if (ret < 0) {
        CopyText(szStatus, SerialErrorText(ret));
        SetCtrlVal(panel, P_DISPSTATUS, szStatus);
        return;
    }
    LineOpened();
}

void InitTCP_IP() {
    UseLine(NewTcpChannel(ipBuf, portNum, ClientTCPCB), false);
    SetWaitCursor(1);
    ProcessDrawEvents(); // the connect blocks, up to its time-out
    ret = static_cast<std::int16_t>(Line()->open());
    SetWaitCursor(0);
    if (ret < 0) {
        CopyText(szStatus, TcpErrorText(ret));
        if (sequenceRunning)
            SetCtrlVal(panel, P_DISPSTATUS, szStatus);
        else
            MessagePopup("TCP Client", szStatus);
        return;
    }
    LineOpened();
}

bool CheckLink(bool pump) {
    order = ORDER_GETVERSION;
    FillTxBuf(order, 0);
    const Channel *line = Line();
    // A serial check pumps no events unless asked: it keeps the operator out while it runs. What
    // the reconnect has shown so far ("TRY", a port that cannot be opened) is drawn before it.
    const double limit = line ? line->checkLimit() : kSerialCheckLimit;
    if (Transact(kVersionBytes, limit, pump) == Reply::Complete) {
        std::memcpy(version, szReadBuf, kVersionBytes);
        version[kVersionBytes] = '\0';
        SetCtrlVal(panel, P_DISPSTATUS, version);
        SetCtrlVal(interfacepanel, INTERFACEP_STATUS, version);
        SetAcceptAllowed(true);
        return true;
    }
    if (closing) // closed before the request went: nothing failed
        return false;
    SetCtrlVal(panel, P_DISPSTATUS, "TIMEOUT");
    SetCtrlVal(interfacepanel, INTERFACEP_STATUS, "CONNECTION FAILURE");
    return false;
}

bool CheckComLine() {
    return CheckLink(false);
}

int ClientTCPCB(unsigned handle, int eventType, int, void *) {
    if (handle != g_hconversation)
        return 0; // a conversation of a line no longer in use
    if (eventType == TCP_DISCONNECT) {
        // Released here, as nothing else will: each server close would otherwise keep its
        // socket and handle, until the client's conversations run out and connecting fails.
        DisconnectFromTCPServer(handle);
        g_hconversation = 0;
        tcpcon = 0;
        // In the status line, not in a box: the link is opened again by itself (StartLinkWatch).
        // Only as news: a wait that read the close first has said why it stopped (a GO loop's
        // "LINK LOST - RECONNECTING"), and this call, queued behind it, must not cover that.
        if (!closing && !LineIsGone())
            SetCtrlVal(panel, P_DISPSTATUS, "Server has closed connection!");
        LineGone();
    } else if (eventType == TCP_DATAREADY) {
        // Into the reply a transaction awaits, never beyond it; otherwise late, surplus or
        // unasked bytes, which are dropped.
        Collect();
    }
    return 0;
}

void LinkName(char *out, std::size_t size) {
    if (size == 0)
        return;
    out[0] = '\0';
    if (const Channel *line = Line())
        line->name(out, size);
}

void CloseLink() {
    UseLine(nullptr, false);
}

} // namespace qv
