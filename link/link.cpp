#include "link/link.h"

#include "link/comportline.h"
#include "link/connectpanel.h"
#include "platform/rs232.h"
#include "platform/tcp.h"
#include "platform/userint.h"
#include "platform/utility.h"
#include "protocol/codec.h"
#include "protocol/commands.h"
#include "shell/buttons.h"
#include "shell/controls.h"
#include "shell/state.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace qv {

using namespace rt;

namespace {

constexpr int kVersionBytes = 48;
constexpr double kSerialCheckLimit = 2.0;
constexpr double kTcpCheckLimit = 5.0;
constexpr unsigned kTcpTimeoutMs = 5000;

// Whole milliseconds until the Timer reading `deadline`, rounded up; 0 once it has passed.
unsigned msUntil(double deadline) {
    const double ms = std::ceil((deadline - Timer()) * 1000.0);
    return ms <= 0 ? 0u : static_cast<unsigned>(std::min(ms, double(kTcpTimeoutMs)));
}

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

void TryToConnect() {
    if (closing)
        return;
    CloseCom(comport);
    SetCtrlVal(interfacepanel, INTERFACEP_STATUS, "TRY");
    GetCtrlVal(interfacepanel, INTERFACEP_EDITCOMMUNICATIONPROTOCOL, &comprotocol);
    GetCtrlVal(interfacepanel, INTERFACEP_EDITSELECTCOMPORT, &comport);
    GetCtrlVal(interfacepanel, INTERFACEP_STRINGIPADRESS, ipBuf);
    GetCtrlVal(interfacepanel, INTERFACEP_STRINGPORTNUMBER, portNumStr);
    SetCtrlVal(panel, P_COMPORT, comport);
    SetCtrlVal(panel, P_IPADRESS, ipBuf);
    portNum = leadingNumber(portNumStr);
    if (comprotocol == 0) {
        SetCtrlAttribute(panel, P_COMPORT, ATTR_VISIBLE, 1);
        SetCtrlAttribute(panel, P_IPADRESS, ATTR_VISIBLE, 0);
        InitRS232();
    } else if (comprotocol == 1) {
        SetCtrlAttribute(panel, P_COMPORT, ATTR_VISIBLE, 0);
        SetCtrlAttribute(panel, P_IPADRESS, ATTR_VISIBLE, 1);
        InitTCP_IP();
    }
    CheckComLine();
}

void InitRS232() {
    poll = 0;
    CloseCom(comport);
    ret = static_cast<std::int16_t>(OpenComConfig(comport, "", 19200, 0, 8, 1, 1024, 1024));
    ShowComPortDevice(ret);
    if (ret < 0) {
        CopyText(szStatus, SerialErrorText(ret));
        SetCtrlVal(panel, P_DISPSTATUS, szStatus);
        return;
    }
    SetComTime(comport, 2.0);
    FlushInQ(comport);
    FlushOutQ(comport);
    SetCTSMode(comport, 0);
}

void InitTCP_IP() {
    if (tcpcon != 0)
        DisconnectFromTCPServer(g_hconversation);
    SetWaitCursor(1);
    ProcessDrawEvents(); // the connect blocks, up to its time-out
    ret = static_cast<std::int16_t>(ConnectToTCPServer(&g_hconversation,
                                                       static_cast<unsigned>(portNum), ipBuf,
                                                       ClientTCPCB, nullptr, kTcpTimeoutMs));
    SetWaitCursor(0);
    if (ret < 0) {
        CopyText(szStatus, TcpErrorText(ret));
        MessagePopup("TCP Client", szStatus);
        tcpcon = 0;
    } else {
        tcpcon = 1;
    }
}

void CheckComLine() {
    order = ORDER_GETVERSION;
    FillTxBuf(order, 0);
    if (comprotocol == 0) {
        FlushInQ(comport);
        FlushOutQ(comport);
        // No events are pumped in the serial wait: the check keeps the operator out while it
        // runs. What the reconnect has shown so far ("TRY", a port that cannot be opened) is
        // drawn before it, or the operator would only ever see its outcome.
        transact(kVersionBytes, kSerialCheckLimit, false);
    } else {
        transact(kVersionBytes, kTcpCheckLimit, true);
    }
    if (bytesToRead == 0) {
        std::memcpy(version, szReadBuf, kVersionBytes);
        version[kVersionBytes] = '\0';
        SetCtrlVal(panel, P_DISPSTATUS, version);
        SetCtrlVal(interfacepanel, INTERFACEP_STATUS, version);
        SetAcceptAllowed(true);
    } else {
        SetCtrlVal(panel, P_DISPSTATUS, "TIMEOUT");
        SetCtrlVal(interfacepanel, INTERFACEP_STATUS, "CONNECTION FAILURE");
    }
}

int ClientTCPCB(unsigned handle, int eventType, int, void *) {
    if (eventType == TCP_DISCONNECT) {
        // Released here, as nothing else will: each server close would otherwise keep its
        // socket and handle, until the client's conversations run out and connecting fails.
        DisconnectFromTCPServer(handle);
        if (!closing)
            MessagePopup("TCP Client", "Server has closed connection!");
        g_hconversation = 0;
        tcpcon = 0;
    } else if (eventType == TCP_DATAREADY) {
        // Only a TCP transaction that is waiting now gets bytes: a count left over from a
        // serial transaction, or from one that gave up, must not place stray bytes.
        if (replyDeadline > 0 && bytesToRead > 0) {
            // Collect the whole reply in this one call, but wait for a missing piece no longer
            // than the transaction itself would: this wait pumps no events. A read that brings
            // nothing (the peer gone, the time up) ends the loop; the waiting transaction then
            // reports its failure. The reply is never placed beyond the receive buffer.
            while (bytesToRead > 0) {
                const int offset = dataSize - bytesToRead;
                if (offset < 0 || dataSize > kBufSize)
                    break;
                bytesRead = ClientTCPRead(g_hconversation, szReadBuf + offset, bytesToRead, 0);
                if (bytesRead == kTCP_TimeOutError) { // the rest is not here yet
                    const unsigned ms = msUntil(replyDeadline);
                    if (ms == 0)
                        break;
                    ProcessDrawEvents();
                    bytesRead = ClientTCPRead(g_hconversation, szReadBuf + offset, bytesToRead, ms);
                }
                if (bytesRead <= 0)
                    break;
                bytesToRead -= bytesRead;
            }
        } else {
            // Late, surplus, unasked or unawaited bytes: read and drop them.
            static unsigned char scratch[kBufSize];
            bytesRead = ClientTCPRead(g_hconversation, scratch, kBufSize, 0);
        }
    }
    return 0;
}

} // namespace qv
