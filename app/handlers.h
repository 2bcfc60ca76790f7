// Handlers of the main panel's controls and their help texts.
#pragma once

namespace qv {

extern const char InfoButtonSendPower[];
extern const char InfoButtonSendCF[];
extern const char InfoButtonGetCF[];
extern const char InfoButtonGo[];
extern const char InfoButtonStop[];
extern const char InfoButtonCalcCF[];
extern const char InfoButtonFinishCalib[];
extern const char InfoEditPower[];
extern const char InfoEditCF[];
extern const char InfoEditSetValue[];
extern const char InfoEditMaxDelta[];
extern const char InfoDispBarsRAW[];
extern const char InfoDispBars[];
extern const char InfoStatus[];
extern const char InfoWhiteTarget[];
extern const char InfoButtonAutoPower[];
extern const char InfoButtonCalibrate[];
extern const char InfoStringOperator[];
extern const char InfoStringSerial[];
extern const char InfoStringReference[];
extern const char InfoDispResult[];

int CBF_ButtonSendPower(int panelHandle, int control, int event, void *callbackData, int eventData1,
                        int eventData2);
int CBF_ButtonSendCF(int panelHandle, int control, int event, void *callbackData, int eventData1,
                     int eventData2);
int CBF_ButtonGetCF(int panelHandle, int control, int event, void *callbackData, int eventData1,
                    int eventData2);
int CBF_ButtonGo(int panelHandle, int control, int event, void *callbackData, int eventData1,
                 int eventData2);
int CBF_ButtonStop(int panelHandle, int control, int event, void *callbackData, int eventData1,
                   int eventData2);
int CBF_ButtonCalcCF(int panelHandle, int control, int event, void *callbackData, int eventData1,
                     int eventData2);
int CBF_ButtonFinishCalib(int panelHandle, int control, int event, void *callbackData,
                          int eventData1, int eventData2);
int CBF_EditPower(int panelHandle, int control, int event, void *callbackData, int eventData1,
                  int eventData2);
int CBF_EditCFR(int panelHandle, int control, int event, void *callbackData, int eventData1,
                int eventData2);
int CBF_EditCFG(int panelHandle, int control, int event, void *callbackData, int eventData1,
                int eventData2);
int CBF_EditCFB(int panelHandle, int control, int event, void *callbackData, int eventData1,
                int eventData2);
int CBF_EditSetValue(int panelHandle, int control, int event, void *callbackData, int eventData1,
                     int eventData2);
int CBF_EditMaxDelta(int panelHandle, int control, int event, void *callbackData, int eventData1,
                     int eventData2);
int CBF_DispBarsRAW(int panelHandle, int control, int event, void *callbackData, int eventData1,
                    int eventData2);
int CBF_DispBars(int panelHandle, int control, int event, void *callbackData, int eventData1,
                 int eventData2);
int CBF_DispStatus(int panelHandle, int control, int event, void *callbackData, int eventData1,
                   int eventData2);
int CBF_ButtonAutoPower(int panelHandle, int control, int event, void *callbackData, int eventData1,
                        int eventData2);
int CBF_ButtonCalibrate(int panelHandle, int control, int event, void *callbackData, int eventData1,
                        int eventData2);
int CBF_StringOperator(int panelHandle, int control, int event, void *callbackData, int eventData1,
                       int eventData2);
int CBF_StringSerial(int panelHandle, int control, int event, void *callbackData, int eventData1,
                     int eventData2);
int CBF_StringReference(int panelHandle, int control, int event, void *callbackData, int eventData1,
                        int eventData2);
int CBF_DispResult(int panelHandle, int control, int event, void *callbackData, int eventData1,
                   int eventData2);

} // namespace qv
