#include "app/callbacks.h"

#include "app/handlers.h"
#include "app/startup.h"
#include "link/connectpanel.h"
#include "platform/userint.h"
#include "shell/state.h"
#include "trend/trend.h"

#include <map>
#include <string>

namespace qv {

void InstallCallbackTable() {
    using Entry = rt::CallbackEntry;
    static const std::map<std::string, Entry> table = {
        {"CBF_P", {nullptr, CBF_P}},
        {"CBF_INTERFACEP", {nullptr, CBF_INTERFACEP}},
        {"CBF_ButtonSendPower", {CBF_ButtonSendPower, nullptr}},
        {"CBF_ButtonSendCF", {CBF_ButtonSendCF, nullptr}},
        {"CBF_ButtonGetCF", {CBF_ButtonGetCF, nullptr}},
        {"CBF_ButtonGo", {CBF_ButtonGo, nullptr}},
        {"CBF_ButtonStop", {CBF_ButtonStop, nullptr}},
        {"CBF_ButtonCalcCF", {CBF_ButtonCalcCF, nullptr}},
        {"CBF_ButtonFinishCalib", {CBF_ButtonFinishCalib, nullptr}},
        {"CBF_ButtonConnect", {CBF_ButtonConnect, nullptr}},
        {"CBF_EditPower", {CBF_EditPower, nullptr}},
        {"CBF_EditCFR", {CBF_EditCFR, nullptr}},
        {"CBF_EditCFG", {CBF_EditCFG, nullptr}},
        {"CBF_EditCFB", {CBF_EditCFB, nullptr}},
        {"CBF_EditSetValue", {CBF_EditSetValue, nullptr}},
        {"CBF_EditMaxDelta", {CBF_EditMaxDelta, nullptr}},
        {"CBF_DispBarsRAW", {CBF_DispBarsRAW, nullptr}},
        {"CBF_DispBars", {CBF_DispBars, nullptr}},
        {"CBF_DispStatus", {CBF_DispStatus, nullptr}},
        {"CBF_ButtonAutoPower", {CBF_ButtonAutoPower, nullptr}},
        {"CBF_ButtonCalibrate", {CBF_ButtonCalibrate, nullptr}},
        {"CBF_StringOperator", {CBF_StringOperator, nullptr}},
        {"CBF_StringSerial", {CBF_StringSerial, nullptr}},
        {"CBF_StringReference", {CBF_StringReference, nullptr}},
        {"CBF_DispResult", {CBF_DispResult, nullptr}},
        {"CBF_ButtonTryToConnect", {CBF_ButtonTryToConnect, nullptr}},
        {"CBF_ButtonAccept", {CBF_ButtonAccept, nullptr}},
        {"CBF_ButtonDiscard", {CBF_ButtonDiscard, nullptr}},
        {"CBF_EditCommunicationProtocol", {CBF_EditCommunicationProtocol, nullptr}},
        {"CBF_EditSelectComPort", {CBF_EditSelectComPort, nullptr}},
        {"CBF_StringPortNumber", {CBF_StringPortNumber, nullptr}},
        {"CBF_StringIpAdress", {CBF_StringIpAdress, nullptr}},
        {"CBF_ComPortDevice", {CBF_ComPortDevice, nullptr}},
        {"CBF_TRENDP", {nullptr, CBF_TRENDP}},
        {"CBF_ButtonTrend", {CBF_ButtonTrend, nullptr}},
        {"CBF_ButtonPause", {CBF_ButtonPause, nullptr}},
        {"CBF_ButtonFit", {CBF_ButtonFit, nullptr}},
        {"CBF_ButtonSaveCsv", {CBF_ButtonSaveCsv, nullptr}},
    };
    rt::SetCallbackResolver([](const std::string &name) {
        const auto it = table.find(name);
        return it == table.end() ? Entry{} : it->second;
    });
}

} // namespace qv
