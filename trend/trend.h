// The trend window (resource 3, opened by the main panel's TREND button): the last minute of raw
// and calibrated readings as a strip chart with the calibrations and FINISHes marked, PAUSE, FIT
// and SAVE CSV; and the readings it keeps, which every shown reading joins whether the window is
// open or not. Where it opens: trendwindow.h.
#pragma once

#include "trend/readingstore.h"

namespace qv {

constexpr int kTrendPanel = 3; // resource ID in the resource file

constexpr int TRENDP_CHART = 2;
constexpr int TRENDP_BUTTONPAUSE = 3;
constexpr int TRENDP_BUTTONSAVECSV = 4;
constexpr int TRENDP_STATUS = 5;
constexpr int TRENDP_KEPT = 6;
constexpr int TRENDP_BUTTONFIT = 7;

extern int trendpanel;             // trend window handle
extern ReadingStore trendreadings; // what the chart shows and SAVE CSV writes
extern bool trendpaused;           // PAUSE pressed: the picture holds still
extern bool trendfit;              // FIT pressed: the value axis spans the readings in view

extern const char InfoButtonTrend[];
extern const char InfoButtonPause[];
extern const char InfoButtonSaveCsv[];
extern const char InfoButtonFit[];
extern const char kTrendCsvHeader[]; // first line of a saved file, without its line end

// Keeps the reading the panel shows now (dataRawR .. dataB) with the time; called after every
// SetPanelData. Cheap: the picture follows later, at most at the screen's rate.
void TrendAddReading();
// Marks this moment among the readings: a calibration series starting or ending, a FINISH.
void TrendMarkEvent(TrendEvent event);

// Writes the readings and marks of `store` as CSV to `path`, through a temporary beside it that
// then replaces the file, so that a failed write leaves an earlier file as it was. Returns true
// when the file was written.
bool WriteTrendCsv(const ReadingStore &store, const char *path);

int CBF_ButtonTrend(int panelHandle, int control, int event, void *callbackData, int eventData1,
                    int eventData2);
int CBF_ButtonPause(int panelHandle, int control, int event, void *callbackData, int eventData1,
                    int eventData2);
int CBF_ButtonFit(int panelHandle, int control, int event, void *callbackData, int eventData1,
                  int eventData2);
int CBF_ButtonSaveCsv(int panelHandle, int control, int event, void *callbackData, int eventData1,
                      int eventData2);
// The close box hides the window, keeping its place; the readings are still kept.
int CBF_TRENDP(int panelHandle, int event, void *callbackData, int eventData1, int eventData2);

} // namespace qv
