#include "app/startup.h"

#include "app/callbacks.h"
#include "app/station.h"
#include "link/connectpanel.h"
#include "link/link.h"
#include "link/remembered.h"
#include "logo/logo.h"
#include "platform/settings.h"
#include "platform/userint.h"
#include "platform/utility.h"
#include "protocol/codec.h"
#include "shell/buttons.h"
#include "shell/controls.h"
#include "shell/refresh.h"
#include "shell/state.h"
#include "trend/trend.h"
#include "trend/trendwindow.h"

#include <cstdio>
#include <cstring>

namespace qv {

using namespace rt;

namespace {
constexpr int kMainPanel = 2;
constexpr int kConnectionPanel = 1;

// ipComboBoxFileName = dir, separator, history file name; false when that had to be cut.
bool historyFileIn(const char *dir) {
    return CopyText(ipComboBoxFileName, dir) && AppendText(ipComboBoxFileName, PathSeparator()) &&
           AppendText(ipComboBoxFileName, kHistoryFileName);
}

// The history stays beside the program, where a copy run from a folder has always kept it. An
// installed program's folder is read-only to the operator, whose history then goes to the
// user's data folder. A path cut to fit would name another file: then there is no history
// rather than a wrong one.
void chooseHistoryFile() {
    if (GetProjectDir(proj_dir) < 0 || !historyFileIn(proj_dir)) {
        std::fprintf(stderr, "quorvat: the program's folder path is too long for the address "
                             "history; addresses are not kept\n");
        ipComboBoxFileName[0] = '\0';
        return;
    }
    // Probed by the history's own name, so the probe leaves no name of its own behind.
    if (DirectoryIsWritable(proj_dir, kHistoryFileName))
        return;
    char dataDir[sizeof ipComboBoxFileName];
    const int status = GetUserDataDir(dataDir);
    if (status == 0 && historyFileIn(dataDir))
        return;
    if (status == kFileError)
        std::fprintf(stderr,
                     "quorvat: cannot create the folder %s for the address history; addresses "
                     "are not kept\n",
                     dataDir);
    else
        std::fprintf(stderr, "quorvat: the data folder path is too long for the address "
                             "history; addresses are not kept\n");
    ipComboBoxFileName[0] = '\0';
}

// The settings file lives beside the history; where no folder holds the history, nothing is
// kept. One that cannot be read or is damaged is ignored, and left as it is for the operator.
void openSettingsFile() {
    char path[sizeof ipComboBoxFileName];
    CopyText(path, ipComboBoxFileName);
    char *slash = std::strrchr(path, PathSeparator()[0]);
    // The settings file's name is shorter than the history's, so the path fits.
    if (!slash || (slash[1] = '\0', !AppendText(path, kSettingsFileName))) {
        SettingsOpen(nullptr);
        return;
    }
    const int status = SettingsOpen(path);
    if (status == kSettingsDamaged)
        std::fprintf(stderr,
                     "quorvat: the settings file %s is damaged and is ignored; delete it to go "
                     "back to the defaults\n",
                     path);
    else if (status < 0)
        std::fprintf(stderr, "quorvat: cannot read the settings file %s; it is ignored\n", path);
}

// A panel that cannot be loaded ends the program; one line says which file and why.
int loadPanelOrSay(int resourceId) {
    const int handle = LoadPanel(0, kResourceFile, resourceId);
    if (handle < 0)
        std::fprintf(stderr, "quorvat: cannot load panel %d: %s\n", resourceId,
                     LastResourceError());
    return handle;
}
} // namespace

int WinMain(int argc, char **argv) {
    if (InitRunTimeEngine(argc, argv) == 0)
        return -1;
    InstallCallbackTable();
    if ((panel = loadPanelOrSay(kMainPanel)) < 0)
        return -1;
    if ((interfacepanel = loadPanelOrSay(kConnectionPanel)) < 0)
        return -1;
    if ((trendpanel = loadPanelOrSay(kTrendPanel)) < 0)
        return -1;
    DisplayPanel(panel);
    InitVars();
    RunUserInterface();
    TrendRememberPlace();
    SettingsClose();
    CloseLink();
    DiscardPanel(panel);
    return 0;
}

void InitVars() {
    anzpara = 202;
    anzframe = 16;
    anzdata = 16;
    comport = 1;
    tcpcon = 0;
    sync = 85;
    order = 1;
    target = 1;
    poll = 0;
    busy = 0;
    closing = 0;

    chooseHistoryFile();
    openSettingsFile();
    RestoreStationFields();
    // Where the trend window finds no room beside the main panel, it may cover the banner, never
    // the readings below it (the raw ones with their target), the commands or the station's fields.
    TrendKeepClear(
        {P_GROUPRAW, P_GROUPCOMMANDS, P_GROUPSENSOR, P_DISPSTATUS, P_IPADRESS, P_COMPORT});

    ShowLogo(5);
    ShowTargetWindow();
    InitIpAdressComboBox();
    RestoreRemembered(); // the first attempt goes to the link the station last accepted
    InitConnectPanel();
    // The first link check holds the buttons as TRY TO CONNECT does: a GO clicked meanwhile
    // must not send its request into the check's wait.
    SetButtonsDimmed(1);
    TryToConnect();
    SetButtonsDimmed(0);
    FocusSensorSerial();
    StartLinkWatch();
}

int CBF_P(int, int event, void *, int, int) {
    if (event == EVENT_CLOSE) {
        poll = 0;
        closing = 1;
        QuitUserInterface(0);
    }
    return 0;
}

} // namespace qv
