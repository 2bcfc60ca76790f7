// The connection settings panel (resource 1): link selection, address history, try, accept and
// discard.
#pragma once

#include <cstdint>

namespace qv {

constexpr int INTERFACEP_EDITCOMMUNICATIONPROTOCOL = 2;
constexpr int INTERFACEP_BUTTONTRYTOCONNECT = 3;
constexpr int INTERFACEP_BUTTONDISCARD = 4;
constexpr int INTERFACEP_BUTTONACCEPT = 5;
constexpr int INTERFACEP_EDITSELECTCOMPORT = 6;
constexpr int INTERFACEP_STATUS = 7;
constexpr int INTERFACEP_STRINGPORTNUMBER = 8;
constexpr int INTERFACEP_STRINGIPADRESS = 9;
constexpr int INTERFACEP_COMPORTDEVICE = 11; // the device the COM port number means

// Settings as they were when the panel was opened; the discard button puts them back.
extern std::uint16_t comprotocolold, comportold;
extern char ipBufOld[256];
extern char portNumStrOld[32];

extern const char InfoButtonConnect[];
extern const char InfoEditCommunicationProtocol[];
extern const char InfoEditConnect[];
extern const char InfoStringIpAdress[];
extern const char InfoStringPortNumber[];
extern const char InfoButtonTryToConnect[];
extern const char InfoButtonAccept[];
extern const char InfoButtonDiscard[];
extern const char InfoComPortDevice[];

// Start-up: the address field becomes a combo box with a light-grey frame, its list filled
// from the history file ipComboBoxFileName.
void InitIpAdressComboBox();
// Shows the controls of the selected link: the COM port and its device for RS-232, the address
// and TCP port for TCP/IP.
void InitConnectPanel();
// A link check succeeded: the settings may be accepted, as soon as no action runs.
void AllowAccept();
// Dims (1) or restores (0) try, accept and discard while an action runs; accept comes back
// only if a try since the last change allowed it.
void SetLinkButtonsDimmed(int dimmed);

int CBF_ButtonConnect(int panelHandle, int control, int event, void *callbackData, int eventData1,
                      int eventData2);
int CBF_ButtonTryToConnect(int panelHandle, int control, int event, void *callbackData,
                           int eventData1, int eventData2);
int CBF_ButtonAccept(int panelHandle, int control, int event, void *callbackData, int eventData1,
                     int eventData2);
int CBF_ButtonDiscard(int panelHandle, int control, int event, void *callbackData, int eventData1,
                      int eventData2);
int CBF_EditCommunicationProtocol(int panelHandle, int control, int event, void *callbackData,
                                  int eventData1, int eventData2);
int CBF_EditSelectComPort(int panelHandle, int control, int event, void *callbackData,
                          int eventData1, int eventData2);
int CBF_StringPortNumber(int panelHandle, int control, int event, void *callbackData,
                         int eventData1, int eventData2);
int CBF_StringIpAdress(int panelHandle, int control, int event, void *callbackData, int eventData1,
                       int eventData2);
int CBF_ComPortDevice(int panelHandle, int control, int event, void *callbackData, int eventData1,
                      int eventData2);
int CBF_INTERFACEP(int panelHandle, int event, void *callbackData, int eventData1, int eventData2);

} // namespace qv
