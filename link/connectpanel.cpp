#include "link/connectpanel.h"

#include "app/state.h"
#include "link/link.h"
#include "platform/userint.h"

namespace qv {

using namespace rt;

std::uint16_t comprotocolold, comportold;
char ipBufOld[256];
char portNumStrOld[32];

const char InfoButtonConnect[] = " Open a panel to select an interface protocol.";
const char InfoEditCommunicationProtocol[] = " Select RS232 or TCP/IP Interface. ";
const char InfoEditConnect[] = " Select a serial COM-PORT.";
const char InfoStringIpAdress[] = " Select an IP adress.";
const char InfoStringPortNumber[] = " Select a port number.";
const char InfoButtonTryToConnect[] = " Try to connect sensor.";
const char InfoButtonAccept[] = " Accept settings and return to main panel.";
const char InfoButtonDiscard[] = " Return to main panel with old settings.";

namespace {
int helpOnly(int event, const char *text) {
    if (event == EVENT_RIGHT_CLICK)
        MessagePopup("INFO!", text);
    return 0;
}

void dimAccept() {
    SetCtrlAttribute(interfacepanel, INTERFACEP_BUTTONACCEPT, ATTR_DIMMED, 1);
}

void showControl(int control, int visible) {
    SetCtrlAttribute(interfacepanel, control, ATTR_VISIBLE, visible);
}
} // namespace

void InitConnectPanel() {
    GetCtrlVal(interfacepanel, INTERFACEP_EDITCOMMUNICATIONPROTOCOL, &comprotocol);
    if (comprotocol != 0 && comprotocol != 1)
        return;
    const int tcp = comprotocol == 1;
    showControl(INTERFACEP_EDITSELECTCOMPORT, !tcp);
    showControl(INTERFACEP_STRINGIPADRESS, tcp);
    showControl(INTERFACEP_STRINGPORTNUMBER, tcp);
}

int CBF_ButtonConnect(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT) {
        poll = 0;
        GetCtrlVal(interfacepanel, INTERFACEP_EDITCOMMUNICATIONPROTOCOL, &comprotocolold);
        GetCtrlVal(interfacepanel, INTERFACEP_EDITSELECTCOMPORT, &comportold);
        GetCtrlVal(interfacepanel, INTERFACEP_STRINGIPADRESS, ipBufOld);
        GetCtrlVal(interfacepanel, INTERFACEP_STRINGPORTNUMBER, portNumStrOld);
        dimAccept();
        DisplayPanel(interfacepanel);
    }
    return helpOnly(event, InfoButtonConnect);
}

int CBF_ButtonTryToConnect(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT) {
        SetCtrlAttribute(interfacepanel, INTERFACEP_BUTTONTRYTOCONNECT, ATTR_DIMMED, 1);
        SetButtonsDimmed(1);
        TryToConnect();
        SetCtrlAttribute(interfacepanel, INTERFACEP_BUTTONTRYTOCONNECT, ATTR_DIMMED, 0);
        SetButtonsDimmed(0);
    }
    return helpOnly(event, InfoButtonTryToConnect);
}

int CBF_ButtonAccept(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT)
        HidePanel(interfacepanel);
    return helpOnly(event, InfoButtonAccept);
}

int CBF_ButtonDiscard(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT) {
        SetCtrlVal(interfacepanel, INTERFACEP_EDITCOMMUNICATIONPROTOCOL, comprotocolold);
        SetCtrlVal(interfacepanel, INTERFACEP_EDITSELECTCOMPORT, comportold);
        SetCtrlVal(interfacepanel, INTERFACEP_STRINGIPADRESS, ipBufOld);
        SetCtrlVal(interfacepanel, INTERFACEP_STRINGPORTNUMBER, portNumStrOld);
        InitConnectPanel();
        TryToConnect();
        HidePanel(interfacepanel);
    }
    return helpOnly(event, InfoButtonDiscard);
}

int CBF_EditCommunicationProtocol(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT) {
        InitConnectPanel();
        dimAccept();
    }
    return helpOnly(event, InfoEditCommunicationProtocol);
}

int CBF_EditSelectComPort(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT)
        dimAccept();
    return helpOnly(event, InfoEditConnect);
}

int CBF_StringPortNumber(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT)
        dimAccept();
    return helpOnly(event, InfoStringPortNumber);
}

int CBF_StringIpAdress(int, int, int event, void *, int, int) {
    return helpOnly(event, InfoStringIpAdress);
}

int CBF_INTERFACEP(int panelHandle, int event, void *, int, int) {
    if (event == EVENT_CLOSE)
        HidePanel(panelHandle);
    return 0;
}

} // namespace qv
