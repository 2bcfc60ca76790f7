#include "trend/trend.h"

#include "platform/userint.h"
#include "platform/utility.h"
#include "shell/controls.h"
#include "shell/help.h"
#include "shell/refresh.h"
#include "shell/state.h"
#include "trend/trendview.h"
#include "trend/trendwindow.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace qv {

using namespace rt;

int trendpanel;
ReadingStore trendreadings;
bool trendpaused;
bool trendfit;

const char InfoButtonTrend[] =
    " Opens the TREND window: RAW DATAS and CALIBRATED DATAS of the last 60 seconds. \n Solid "
    "lines: RAW DATAS, dashed lines: CALIBRATED DATAS. \n The readings of the last 10 minutes are "
    "kept, also while the window is closed.";
const char InfoButtonPause[] =
    " Freezes the picture of the TREND window. \n The readings are still "
    "kept. \n Press PAUSE again to go on.";
const char InfoButtonSaveCsv[] =
    " Saves the kept readings to a CSV file: \n seconds since the first line, RAW DATAS, "
    "CALIBRATED DATAS, DELTA of both, and where a calibration started and ended and a FINISH ran. "
    "\n At most the last 10 minutes are kept.";
const char InfoButtonFit[] =
    " Fits the VALUE axis to the readings in view, with a margin, so that small changes show. \n "
    "Press FIT again for the full range from 0.";
const char kTrendCsvHeader[] =
    "seconds,raw_r,raw_g,raw_b,cal_r,cal_g,cal_b,delta_raw,delta_cal,event";

namespace {

char lastFolder[1024]; // of the last saved file, with its separator; empty before the first

// PAUSE is red while it holds the picture, like the main panel's buttons that mark a state; FIT
// is blue while the axis follows the readings, a setting rather than a warning.
constexpr int kFitColor = 0x90C0F0;

void saveCsv() {
    const std::size_t kept = trendreadings.size();
    if (kept == 0) {
        MessagePopup("INFO!", " No readings are kept yet. \n Press GO first. ");
        return;
    }
    // A new name each time, in the folder chosen last.
    char name[64];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    long offset = 0;
    LocalTime(now, &local, &offset);
    std::strftime(name, sizeof name, "quorvat-trend-%Y%m%d-%H%M%S.csv", &local);
    char suggested[sizeof lastFolder + sizeof name];
    CopyText(suggested, lastFolder);
    AppendText(suggested, name);
    char path[1024];
    const int chosen = SaveFilePopup("SAVE CSV", suggested, path);
    if (chosen == 0)
        return;
    char text[sizeof path + 200];
    if (chosen < 0) {
        MessagePopup("ATTENTION!", " The path of the file is too long. \n Choose a shorter one. ");
        return;
    }
    if (!WriteTrendCsv(trendreadings, path)) {
        std::snprintf(text, sizeof text,
                      " The readings could not be saved to \n %s \n Check that the folder can be "
                      "written and that the disk is not full. ",
                      path);
        SetCtrlVal(trendpanel, TRENDP_STATUS, "NOT SAVED");
        MessagePopup("ATTENTION!", text, TextCoding::FileSystem);
        return;
    }
    // The file's name: the whole path seldom fits the status line, and the folder was just
    // chosen.
    const char *slash = std::strrchr(path, PathSeparator()[0]);
    std::snprintf(text, sizeof text, "SAVED %zu READINGS TO %s", kept, slash ? slash + 1 : path);
    SetCtrlVal(trendpanel, TRENDP_STATUS, text, TextCoding::FileSystem);
    CopyText(lastFolder, path);
    if (char *end = std::strrchr(lastFolder, PathSeparator()[0]))
        end[1] = '\0';
    else
        lastFolder[0] = '\0';
}

} // namespace

void TrendAddReading() {
    trendreadings.add(Timer(), {dataRawR, dataRawG, dataRawB, dataR, dataG, dataB});
    TrendViewReadingAdded();
}

void TrendMarkEvent(TrendEvent event) {
    trendreadings.mark(Timer(), event);
    TrendViewReadingAdded();
}

bool WriteTrendCsv(const ReadingStore &store, const char *path) {
    if (!path || !*path)
        return false;
    const int file = FileOpen(path, VAL_WRITE_ONLY, VAL_REPLACE, VAL_BINARY);
    if (file < 0)
        return false;
    // Lines end in CR LF, as in the calibration record; WriteLine adds the LF.
    char line[160];
    std::snprintf(line, sizeof line, "%s\r", kTrendCsvHeader);
    bool ok = WriteLine(file, line, -1) >= 0;
    // Seconds count from the first line, a reading or a mark; a mark is a line of its own, in
    // its place among the readings, with their columns empty.
    double first = store.size() > 0 ? store.at(0).seconds : 0.0;
    if (store.marks() > 0 && (store.size() == 0 || store.markAt(0).seconds < first))
        first = store.markAt(0).seconds;
    std::size_t m = 0;
    auto marksUpTo = [&](double seconds) {
        for (; ok && m < store.marks() && store.markAt(m).seconds <= seconds; ++m) {
            const TrendMark mark = store.markAt(m);
            std::snprintf(line, sizeof line, "%.6f,,,,,,,,,%s\r", mark.seconds - first,
                          TrendEventName(mark.event));
            ok = WriteLine(file, line, -1) >= 0;
        }
    };
    for (std::size_t i = 0; ok && i < store.size(); ++i) {
        const TrendReading r = store.at(i);
        marksUpTo(r.seconds);
        const u16 *v = r.value;
        std::snprintf(line, sizeof line, "%.6f,%u,%u,%u,%u,%u,%u,%u,%u,\r", r.seconds - first,
                      unsigned{v[0]}, unsigned{v[1]}, unsigned{v[2]}, unsigned{v[3]},
                      unsigned{v[4]}, unsigned{v[5]}, unsigned{Spread(v[0], v[1], v[2])},
                      unsigned{Spread(v[3], v[4], v[5])});
        ok = ok && WriteLine(file, line, -1) >= 0;
    }
    marksUpTo(1e300);
    // An earlier file of the name is replaced only by a whole new one.
    return FileClose(file) == 0 && ok;
}

int CBF_ButtonTrend(int panelHandle, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT) {
        int shown = 0;
        GetPanelAttribute(trendpanel, ATTR_VISIBLE, &shown);
        if (!shown)
            TrendPlaceWindow(panelHandle);
        DisplayPanel(trendpanel);
        TrendViewShow(trendpanel, TRENDP_CHART);
    }
    return HelpOnRightClick(event, InfoButtonTrend);
}

int CBF_ButtonPause(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT) {
        trendpaused = !trendpaused;
        SetCtrlAttribute(trendpanel, TRENDP_BUTTONPAUSE, ATTR_CMD_BUTTON_COLOR,
                         trendpaused ? kColorRed : kColorLightGrey);
        SetCtrlVal(trendpanel, TRENDP_STATUS,
                   trendpaused ? "PAUSED: THE READINGS ARE STILL KEPT" : "");
        if (!trendpaused)
            TrendViewDraw();
    }
    return HelpOnRightClick(event, InfoButtonPause);
}

int CBF_ButtonFit(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT) {
        trendfit = !trendfit;
        SetCtrlAttribute(trendpanel, TRENDP_BUTTONFIT, ATTR_CMD_BUTTON_COLOR,
                         trendfit ? kFitColor : kColorLightGrey);
        TrendViewFit();
    }
    return HelpOnRightClick(event, InfoButtonFit);
}

int CBF_ButtonSaveCsv(int, int, int event, void *, int, int) {
    if (event == EVENT_COMMIT)
        saveCsv();
    return HelpOnRightClick(event, InfoButtonSaveCsv);
}

int CBF_TRENDP(int panelHandle, int event, void *, int, int) {
    if (event == EVENT_CLOSE) {
        TrendViewStop();
        TrendRememberPlace();
        HidePanel(panelHandle);
    }
    return 0;
}

} // namespace qv
