#include "link/comportline.h"

#include "link/connectpanel.h"
#include "platform/rs232.h"
#include "platform/userint.h"
#include "platform/utility.h"
#include "shell/controls.h"
#include "shell/state.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace qv {

using namespace rt;

namespace {

// A text from the system, or a path from the environment, on one line of the panel.
void appendShown(char *line, std::size_t size, const std::string &text) {
    std::string shown = text;
    for (char &c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    AppendTextBounded(line, size, shown.c_str());
}

// The stable name as the line shows it: the link's name without its folder, which is always
// /dev/serial/by-id. Names run to 70 characters (the maker's, the model's and the serial
// number's texts joined); what the control holds, about 50, keeps the start (maker, model) and
// the end (serial number, interface), which tell two adapters apart.
std::string stableNameShown(const std::string &stablePath) {
    constexpr std::size_t kFits = 44; // beside "by-id "
    constexpr char kCut[] = "...";
    std::string name = stablePath.substr(stablePath.rfind('/') + 1);
    if (name.size() > kFits) {
        const std::size_t tail = (kFits - (sizeof kCut - 1)) / 2 + 1;
        const std::size_t head = kFits - (sizeof kCut - 1) - tail;
        name = name.substr(0, head) + kCut + name.substr(name.size() - tail);
    }
    return name;
}

} // namespace

void ComPortLine(char *line, std::size_t size, int number, const ComPortInfo &info,
                 int openStatus) {
    if (size == 0)
        return;
    line[0] = '\0';
    if (info.device.empty()) {
        char none[64];
        std::snprintf(none, sizeof none, "no port %d: %d found", number, info.portsFound);
        CopyTextBounded(line, size, none);
        return;
    }
    if (!info.variable.empty()) {
        appendShown(line, size, info.variable);
        AppendTextBounded(line, size, "=");
    }
    appendShown(line, size, info.device);
    if (!info.present) {
        AppendTextBounded(line, size, ": no such device");
        return;
    }
    if (!info.description.empty() || !info.manufacturer.empty())
        AppendTextBounded(line, size, ":");
    if (!info.description.empty()) {
        AppendTextBounded(line, size, " ");
        appendShown(line, size, info.description);
    }
    if (!info.manufacturer.empty()) {
        AppendTextBounded(line, size, " (");
        appendShown(line, size, info.manufacturer);
        AppendTextBounded(line, size, ")");
    }
    // "Cannot open port" says what failed; this says what to do about it, and takes the second
    // line from the stable name: acting comes first, and the first line names the device still.
    if (!info.mayOpen && !info.accessGroup.empty()) {
        AppendTextBounded(line, size, "\nNo permission: join group ");
        appendShown(line, size, info.accessGroup);
        AppendTextBounded(line, size, ", then log in again");
    } else if (!info.mayOpen) {
        AppendTextBounded(line, size, "\nNo permission: ask for read and write access to it");
    } else if (openStatus == kRS232CannotOpenPort) {
        AppendTextBounded(line, size, "\nIn use by another program");
    } else if (!info.stableName.empty()) {
        AppendTextBounded(line, size, "\nby-id ");
        appendShown(line, size, stableNameShown(info.stableName));
    }
}

void ShowComPortDevice(int openStatus) {
    // What the last open said: "In use by another program" must outlive the panel's next opening.
    static std::uint16_t lastNumber = 0;
    static int lastStatus = 0;
    std::uint16_t number = 0;
    GetCtrlVal(interfacepanel, INTERFACEP_EDITSELECTCOMPORT, &number);
    if (openStatus != kNoOpen || number != lastNumber) {
        lastNumber = number;
        lastStatus = openStatus == kNoOpen ? 0 : openStatus;
    }
    ComPortInfo info;
    GetComPortInfo(number, &info);
    char line[320];
    ComPortLine(line, number, info, lastStatus);
    SetCtrlVal(interfacepanel, INTERFACEP_COMPORTDEVICE, line, TextCoding::FileSystem);
}

} // namespace qv
