#include "app/station.h"

#include "app/handlers.h"
#include "platform/settings.h"
#include "platform/userint.h"
#include "platform/utility.h"
#include "shell/controls.h"
#include "shell/state.h"

#include <cstdio>
#include <cstring>

namespace qv {

using namespace rt;

namespace {

struct Kept {
    int control;
    char *value; // the program-wide variable, char[64]
    const char *key;
};
// clang-format off
const Kept kKept[] = {{P_STRINGOPERATOR, operatorName, "station/operator"},
                      {P_STRINGREFERENCE, whiteReference, "station/reference"}};
// clang-format on
constexpr std::size_t kFieldSize = sizeof operatorName;
static_assert(sizeof whiteReference == kFieldSize && sizeof sensorSerial == kFieldSize);

bool saidUnkept = false;
// Enter was pressed in SENSOR SERIAL: its commit, which the key brings next, starts the run.
bool enterInSerial = false;

void pressCalibrate() {
    CBF_ButtonCalibrate(panel, P_BUTTONCALIBRATE, EVENT_COMMIT, nullptr, 0, 0);
}

} // namespace

void (*calibrateFromSerial)() = pressCalibrate;

void RestoreStationFields() {
    for (const Kept &k : kKept) {
        char text[kFieldSize] = "";
        const int status = SettingsGetTextBounded(k.key, text, sizeof text);
        if (status == kSettingsDamaged)
            std::fprintf(stderr,
                         "quorvat: the settings file %s holds no text under %s; it is ignored\n",
                         SettingsFile(), k.key);
        if (status != 1 && status != kTextCut)
            continue;
        CopyTextBounded(k.value, kFieldSize, text);
        SetCtrlVal(panel, k.control, k.value);
    }
}

void FocusSensorSerial() {
    SetActiveCtrl(panel, P_STRINGSERIAL);
}

void CommitStationField(int control) {
    if (control == P_STRINGSERIAL) {
        GetCtrlVal(panel, P_STRINGSERIAL, sensorSerial);
        return;
    }
    for (const Kept &k : kKept) {
        if (k.control != control)
            continue;
        GetCtrlValText(panel, control, k.value, kFieldSize);
        char kept[kFieldSize] = "";
        if (SettingsGetTextBounded(k.key, kept, sizeof kept) == 1 &&
            std::strcmp(kept, k.value) == 0)
            continue; // unchanged: the file is left alone
        if (SettingsPutText(k.key, k.value) == kFileError && !saidUnkept) {
            saidUnkept = true;
            std::fprintf(stderr,
                         "quorvat: cannot write the settings file %s; OPERATOR and WHITE "
                         "REFERENCE are not kept\n",
                         SettingsFile());
        }
    }
}

void SensorSerialEvent(int event, int eventData1) {
    // The key comes first, straight from the keyboard; the commit it makes is queued behind it.
    if (event == EVENT_KEYPRESS) {
        enterInSerial = (eventData1 & ~VAL_SHIFT_MODIFIER) == VAL_ENTER_VKEY;
        return;
    }
    if (event != EVENT_COMMIT)
        return;
    CommitStationField(P_STRINGSERIAL);
    const bool run = enterInSerial;
    enterInSerial = false;
    // A click on the button while it is dimmed does nothing; nor does Enter then.
    int dimmed = 1;
    GetCtrlAttribute(panel, P_BUTTONCALIBRATE, ATTR_DIMMED, &dimmed);
    if (run && !dimmed && !closing)
        calibrateFromSerial();
}

} // namespace qv
