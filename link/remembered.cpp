#include "link/remembered.h"

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

constexpr char kProtocol[] = "link/protocol"; // 0 = RS-232, 1 = TCP/IP, as the selector
constexpr char kComPort[] = "link/com_port";
constexpr char kAddress[] = "link/address";
constexpr char kTcpPort[] = "link/tcp_port"; // as entered, a text
constexpr char kPower[] = "calibration/power";
constexpr char kSetValue[] = "calibration/set_value";
constexpr char kMaxDelta[] = "calibration/max_delta";

struct Kept {
    const int *panel; // its handle, set when the panel is loaded
    int control;
    const char *key;
    bool text;        // a string control; else a number
    const char *name; // for messages
};

// clang-format off
const Kept kKept[] = {
    {&interfacepanel, INTERFACEP_EDITCOMMUNICATIONPROTOCOL, kProtocol, false, "INTERFACE"},
    {&interfacepanel, INTERFACEP_EDITSELECTCOMPORT,         kComPort,  false, "COM PORT"},
    {&interfacepanel, INTERFACEP_STRINGIPADRESS,            kAddress,  true,  "SENSOR ADDRESS"},
    {&interfacepanel, INTERFACEP_STRINGPORTNUMBER,          kTcpPort,  true,  "TCP PORT"},
    {&panel,          P_EDITPOWER,                          kPower,    false, "POWER"},
    {&panel,          P_EDITSETVALUE,                       kSetValue, false, "SET VALUE"},
    {&panel,          P_EDITMAXDELTA,                       kMaxDelta, false, "MAX DELTA"},
};
// clang-format on

struct Value {
    int number = 0;
    char text[sizeof ipBuf] = {}; // the widest field's
};

bool sameValue(bool text, const Value &a, const Value &b) {
    return text ? std::strcmp(a.text, b.text) == 0 : a.number == b.number;
}

bool readControl(const Kept &k, Value *v) {
    return (k.text ? GetCtrlVal(*k.panel, k.control, v->text)
                   : GetCtrlVal(*k.panel, k.control, &v->number)) >= 0;
}

void setControl(const Kept &k, const Value &v) {
    if (k.text)
        SetCtrlVal(*k.panel, k.control, v.text);
    else
        SetCtrlVal(*k.panel, k.control, v.number);
}

// The settings' status: 1 with the value, 0 for none, negative when it holds no such value.
int readKept(const char *key, bool text, Value *v) {
    return text ? SettingsGetText(key, v->text) : SettingsGetInt(key, &v->number);
}

void restore(const Kept &k) {
    Value kept, before, now;
    const int status = readKept(k.key, k.text, &kept);
    if (status == 0 || status == kSettingsNotKept) // nothing kept; an ignored file was named
        return;
    // The control itself knows what it takes: a selector refuses a value it has no item for, a
    // numeric box holds to its range, a field to its length. What it changed is not kept.
    if (status == 1 && readControl(k, &before)) {
        setControl(k, kept);
        if (readControl(k, &now) && sameValue(k.text, now, kept))
            return;
        setControl(k, before);
    }
    std::fprintf(stderr,
                 "quorvat: the settings file %s holds no valid %s under %s; %s keeps its "
                 "starting value\n",
                 SettingsFile(), k.name, k.key, k.name);
}

// The file is left alone when it holds the value already; kFileError when it cannot be written.
int keep(const char *key, bool text, const Value &v) {
    Value kept;
    if (readKept(key, text, &kept) == 1 && sameValue(text, kept, v))
        return 0;
    return text ? SettingsPutText(key, v.text) : SettingsPutInt(key, v.number);
}

void sayNotKept(const char *what) {
    std::fprintf(stderr, "quorvat: cannot write the settings file %s; %s is not kept\n",
                 SettingsFile(), what);
}

} // namespace

void RestoreRemembered() {
    for (const Kept &k : kKept)
        restore(k);
}

void RememberLink() {
    // The link the last try opened, which ACCEPT keeps, rather than what the fields show: a text
    // typed without Enter was never tried.
    Value protocol, port, address, tcpPort;
    protocol.number = comprotocol;
    port.number = comport;
    CopyText(address.text, ipBuf);
    CopyText(tcpPort.text, portNumStr);
    if (keep(kProtocol, false, protocol) == kFileError ||
        keep(kComPort, false, port) == kFileError || keep(kAddress, true, address) == kFileError ||
        keep(kTcpPort, true, tcpPort) == kFileError)
        sayNotKept("the link");
}

void RememberEntry(int control) {
    for (const Kept &k : kKept) {
        Value v;
        if (k.panel != &panel || k.control != control || !readControl(k, &v))
            continue;
        if (keep(k.key, k.text, v) == kFileError)
            sayNotKept(k.name);
    }
}

} // namespace qv
