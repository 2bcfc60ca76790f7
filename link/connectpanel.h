// The connection settings panel (resource 1): link selection, address history, try, accept and
// discard.
#pragma once

namespace qv {

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
