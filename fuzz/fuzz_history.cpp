// Arbitrary bytes as the address history file: decoded from memory (ParseIpHistory), read back
// from a real file (ReadIpHistory), and loaded into the connection panel's address list by the
// start-up step itself (InitIpAdressComboBox), on a freshly loaded connection panel each time.
#include "combobox/combobox.h"
#include "fuzz/support.h"
#include "link/connectpanel.h"
#include "link/history.h"
#include "platform/userint.h"
#include "shell/controls.h"
#include "shell/state.h"

#include <cstdio>
#include <cstring>

using namespace qv;
using namespace qv::rt;
using namespace fuzzsupport;

namespace {

bool sameHistory(const IpHistory &a, const IpHistory &b) {
    if (a.count != b.count)
        return false;
    for (int i = 0; i < a.count; ++i)
        if (std::strcmp(a.entries[i], b.entries[i]) != 0)
            return false;
    return true;
}

// What a decoded history promises: at most ten entries, each 1..99 characters with no line
// feed.
void checkHistory(const IpHistory &h) {
    if (h.count < 0 || h.count > kHistoryMaxEntries)
        fail("history count out of range");
    for (int i = 0; i < h.count; ++i) {
        const char *e = h.entries[i];
        const void *end = std::memchr(e, '\0', kHistoryTextBytes);
        if (!end)
            fail("history entry without its end");
        const std::size_t length = static_cast<std::size_t>(static_cast<const char *>(end) - e);
        if (length == 0 || length > kHistoryMaxLength || std::memchr(e, '\n', length))
            fail("history entry of a wrong length or with a line feed");
    }
}

void writeFile(const char *path, const std::uint8_t *data, std::size_t size) {
    std::FILE *f = std::fopen(path, "wb");
    if (!f || (size > 0 && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0)
        fail("cannot write the history file");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    startProgram();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    IpHistory parsed;
    ParseIpHistory(data, size, &parsed);
    checkHistory(parsed);

    writeFile(ipComboBoxFileName, data, size);
    IpHistory read;
    if (ReadIpHistory(ipComboBoxFileName, &read) != 1)
        fail("an existing history file was not read");
    if (!sameHistory(parsed, read))
        fail("the file's history differs from the bytes' history");

    // Start-up on a connection panel as it comes from the resource file. The combo box's
    // record is the caller's to free before its panel goes.
    Combo_DiscardComboBox(interfacepanel, INTERFACEP_STRINGIPADRESS);
    DiscardPanel(interfacepanel);
    interfacepanel = LoadPanel(0, kResourceFile, 1);
    if (interfacepanel < 0)
        fail("cannot load the connection panel");
    InitIpAdressComboBox();
    void *record = nullptr;
    GetCtrlAttribute(interfacepanel, INTERFACEP_STRINGIPADRESS, ATTR_CALLBACK_DATA, &record);
    if (!record)
        fail("the address field did not become a combo box");
    const int ring = static_cast<const ComboRec *>(record)->ringCtrl;
    int count = -1;
    GetNumListItems(interfacepanel, ring, &count);
    if (count != parsed.count)
        fail("the address list does not hold the history's entries");
    for (int i = 0; i < count; ++i) {
        char value[kHistoryTextBytes + 1] = "";
        if (GetValueFromIndex(interfacepanel, ring, i, value) < 0 ||
            std::strcmp(value, parsed.entries[i]) != 0)
            fail("the address list differs from the history, entry by entry");
    }
    return 0;
}
