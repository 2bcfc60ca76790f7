#include "link/connectpanel.h"

#include "app/state.h"
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
} // namespace

int CBF_ButtonConnect(int, int, int event, void *, int, int) {
    return helpOnly(event, InfoButtonConnect);
}

int CBF_ButtonTryToConnect(int, int, int event, void *, int, int) {
    return helpOnly(event, InfoButtonTryToConnect);
}

int CBF_ButtonAccept(int, int, int event, void *, int, int) {
    return helpOnly(event, InfoButtonAccept);
}

int CBF_ButtonDiscard(int, int, int event, void *, int, int) {
    return helpOnly(event, InfoButtonDiscard);
}

int CBF_EditCommunicationProtocol(int, int, int event, void *, int, int) {
    return helpOnly(event, InfoEditCommunicationProtocol);
}

int CBF_EditSelectComPort(int, int, int event, void *, int, int) {
    return helpOnly(event, InfoEditConnect);
}

int CBF_StringPortNumber(int, int, int event, void *, int, int) {
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
