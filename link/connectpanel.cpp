#include "link/connectpanel.h"

#include "combobox/combobox.h"
#include "link/comportline.h"
#include "link/history.h"
#include "link/link.h"
#include "link/remembered.h"
#include "platform/userint.h"
#include "shell/buttons.h"
#include "shell/controls.h"
#include "shell/help.h"
#include "shell/state.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace qv {

using namespace rt;

const char InfoButtonConnect[] = " Open a panel to select an interface protocol.";
const char InfoEditCommunicationProtocol[] = " Select RS232 or TCP/IP Interface. ";
const char InfoEditConnect[] = " Select a serial COM-PORT.";
const char InfoStringIpAdress[] = " Select an IP adress.";
const char InfoStringPortNumber[] = " Select a port number.";
const char InfoButtonTryToConnect[] = " Try to connect sensor.";
const char InfoButtonAccept[] = " Accept settings and return to main panel.";
const char InfoButtonDiscard[] = " Return to main panel with old settings.";
const char InfoComPortDevice[] = " Displays the serial device of the selected COM-PORT.";

namespace {
void dimAccept() {
    SetAcceptAllowed(false);
}

void showControl(int control, int visible) {
    SetCtrlAttribute(interfacepanel, control, ATTR_VISIBLE, visible);
}

// The committed address in ipBuf goes to the top of the list, once, and the list's first ten
// entries replace the history file.
void rememberAddress() {
    // A record holds 99 characters; a cut address would be a wrong one, so it stays out.
    if (std::strlen(ipBuf) > static_cast<std::size_t>(kHistoryMaxLength))
        return;
    int index = -1;
    // Fails only when the field never became a combo box: there is no list to keep.
    if (Combo_GetIndexFromValue(interfacepanel, INTERFACEP_STRINGIPADRESS, &index, ipBuf) < 0)
        return;
    if (index >= 0)
        Combo_DeleteComboItem(interfacepanel, INTERFACEP_STRINGIPADRESS, index, 1);
    Combo_InsertComboItem(interfacepanel, INTERFACEP_STRINGIPADRESS, 0, ipBuf);

    void *data = nullptr;
    GetCtrlAttribute(interfacepanel, INTERFACEP_STRINGIPADRESS, ATTR_CALLBACK_DATA, &data);
    const int ring = static_cast<const ComboRec *>(data)->ringCtrl;
    int count = 0;
    GetNumListItems(interfacepanel, ring, &count);
    if (count > kHistoryMaxEntries) {
        Combo_DeleteComboItem(interfacepanel, INTERFACEP_STRINGIPADRESS, kHistoryMaxEntries, -1);
        GetNumListItems(interfacepanel, ring, &count);
    }

    IpHistory history;
    for (int i = 0; i < std::min(count, kHistoryMaxEntries); ++i) {
        int length = -1;
        if (GetValueLengthFromIndex(interfacepanel, ring, i, &length) < 0 || length < 0 ||
            length > kHistoryMaxLength)
            continue;
        if (GetValueFromIndex(interfacepanel, ring, i, history.entries[history.count]) >= 0)
            ++history.count;
    }
    // No path (start-up said why): the list is kept for this run only.
    if (ipComboBoxFileName[0] == '\0')
        return;
    // The operator is not interrupted for this; the list in memory is up to date regardless.
    if (WriteIpHistory(ipComboBoxFileName, history) < 0)
        std::fprintf(
            stderr,
            "quorvat: cannot save the address history to %s; it keeps its earlier addresses\n",
            ipComboBoxFileName);
}
} // namespace

void InitIpAdressComboBox() {
    if (const int status = Combo_NewComboBox(interfacepanel, INTERFACEP_STRINGIPADRESS); status < 0)
        std::fprintf(stderr,
                     "quorvat: the address field has no list of earlier addresses (status %d)\n",
                     status);
    Combo_SetComboAttribute(interfacepanel, INTERFACEP_STRINGIPADRESS, COMBO_ATTR_FRAME_COLOR,
                            0xE0E0E0);
    IpHistory history;
    if (ReadIpHistory(ipComboBoxFileName, &history) < 0)
        std::fprintf(stderr, "quorvat: cannot read the address history %s; the list starts empty\n",
                     ipComboBoxFileName);
    for (int i = 0; i < history.count; ++i)
        Combo_InsertComboItem(interfacepanel, INTERFACEP_STRINGIPADRESS, i, history.entries[i]);
}

void InitConnectPanel() {
    GetCtrlVal(interfacepanel, INTERFACEP_EDITCOMMUNICATIONPROTOCOL, &comprotocol);
    if (comprotocol != 0 && comprotocol != 1)
        return;
    const int tcp = comprotocol == 1;
    showControl(INTERFACEP_EDITSELECTCOMPORT, !tcp);
    showControl(INTERFACEP_COMPORTDEVICE, !tcp);
    if (!tcp)
        ShowComPortDevice();
    // The field itself too, in case it never became a combo box.
    showControl(INTERFACEP_STRINGIPADRESS, tcp);
    Combo_SetComboAttribute(interfacepanel, INTERFACEP_STRINGIPADRESS, COMBO_ATTR_VISIBLE, tcp);
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
        ShowComPortDevice(); // an adapter may have come or gone since
        DisplayPanel(interfacepanel);
    }
    return HelpOnRightClick(event, InfoButtonConnect);
}

int CBF_ButtonTryToConnect(int, int, int event, void *, int, int) {
    // The action's dimming covers this button too, and restores it with the others.
    if (event == EVENT_COMMIT) {
        SetButtonsDimmed(1);
        TryToConnect();
        SetButtonsDimmed(0);
    }
    return HelpOnRightClick(event, InfoButtonTryToConnect);
}

int CBF_ButtonAccept(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT) {
        RememberLink();
        HidePanel(interfacepanel);
    }
    return HelpOnRightClick(event, InfoButtonAccept);
}

int CBF_ButtonDiscard(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT) {
        SetCtrlVal(interfacepanel, INTERFACEP_EDITCOMMUNICATIONPROTOCOL, comprotocolold);
        SetCtrlVal(interfacepanel, INTERFACEP_EDITSELECTCOMPORT, comportold);
        SetCtrlVal(interfacepanel, INTERFACEP_STRINGIPADRESS, ipBufOld);
        SetCtrlVal(interfacepanel, INTERFACEP_STRINGPORTNUMBER, portNumStrOld);
        InitConnectPanel();
        // The reconnect holds the buttons as a try does.
        SetButtonsDimmed(1);
        TryToConnect();
        SetButtonsDimmed(0);
        HidePanel(interfacepanel);
    }
    return HelpOnRightClick(event, InfoButtonDiscard);
}

int CBF_EditCommunicationProtocol(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT) {
        InitConnectPanel();
        dimAccept();
    }
    return HelpOnRightClick(event, InfoEditCommunicationProtocol);
}

int CBF_EditSelectComPort(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT) {
        dimAccept();
        ShowComPortDevice();
    }
    return HelpOnRightClick(event, InfoEditConnect);
}

int CBF_StringPortNumber(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT)
        dimAccept();
    return HelpOnRightClick(event, InfoStringPortNumber);
}

int CBF_StringIpAdress(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT) {
        dimAccept();
        GetCtrlVal(interfacepanel, INTERFACEP_STRINGIPADRESS, ipBuf);
        rememberAddress();
    }
    return HelpOnRightClick(event, InfoStringIpAdress);
}

int CBF_ComPortDevice(int, int, int event, void *, int, int) {
    return HelpOnRightClick(event, InfoComPortDevice);
}

int CBF_INTERFACEP(int panelHandle, int event, void *, int, int) {
    if (event == EVENT_CLOSE)
        HidePanel(panelHandle);
    return 0;
}

} // namespace qv
