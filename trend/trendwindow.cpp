#include "trend/trendwindow.h"

#include "platform/settings.h"
#include "platform/userint.h"
#include "platform/utility.h"
#include "trend/placement.h"
#include "trend/trend.h"

#include <algorithm>
#include <cstdio>

namespace qv {

using namespace rt;

namespace {

// The least inside that still shows a chart and the button row.
constexpr PlaceSize kMinimum{540, 300};
constexpr int kKeepClearMost = 8;
// clang-format off
constexpr const char *kKeys[4] = {"trend/left", "trend/top", "trend/width", "trend/height"};
// clang-format on

struct Window {
    int mainPanel = 0;
    int keepClear[kKeepClearMost] = {};
    int keepClearCount = 0;
    int placedPanel = 0; // the trend panel placed in this run; a new one is placed afresh
    PlaceSize preferred; // its size in the resource file
    PlaceRect last;      // its inside when it was last shown
    bool saidUnkept = false;
};

Window g_window;

struct Frame {
    int title = 0, border = 0;
};

Frame frameOf(int panel) {
    Frame f;
    GetPanelAttribute(panel, ATTR_TITLEBAR_THICKNESS, &f.title);
    GetPanelAttribute(panel, ATTR_FRAME_THICKNESS, &f.border);
    return f;
}

PlaceRect insideOf(int panel) {
    PlaceRect r;
    GetPanelAttribute(panel, ATTR_LEFT, &r.left);
    GetPanelAttribute(panel, ATTR_TOP, &r.top);
    GetPanelAttribute(panel, ATTR_WIDTH, &r.width);
    GetPanelAttribute(panel, ATTR_HEIGHT, &r.height);
    return r;
}

PlaceRect withFrame(const PlaceRect &r, Frame f) {
    return {r.left - f.border, r.top - f.title, r.width + 2 * f.border,
            r.height + f.title + f.border};
}

PlaceRect withoutFrame(const PlaceRect &r, Frame f) {
    return {r.left + f.border, r.top + f.title, r.width - 2 * f.border,
            r.height - f.title - f.border};
}

// The chart takes what the size gains or loses; the button row stays under it, the status line
// between the buttons and the count of readings kept.
void resizeTo(int width, int height) {
    const PlaceRect now = insideOf(trendpanel);
    const int dx = width - now.width, dy = height - now.height;
    if (dx == 0 && dy == 0)
        return;
    SetPanelSize(trendpanel, height, width);
    auto grow = [](int control, int attribute, int by) {
        int v = 0;
        GetCtrlAttribute(trendpanel, control, attribute, &v);
        SetCtrlAttribute(trendpanel, control, attribute, v + by);
    };
    grow(TRENDP_CHART, ATTR_WIDTH, dx);
    grow(TRENDP_CHART, ATTR_HEIGHT, dy);
    for (int c :
         {TRENDP_BUTTONPAUSE, TRENDP_BUTTONFIT, TRENDP_BUTTONSAVECSV, TRENDP_STATUS, TRENDP_KEPT})
        grow(c, ATTR_TOP, dy);
    grow(TRENDP_STATUS, ATTR_WIDTH, dx);
    grow(TRENDP_KEPT, ATTR_LEFT, dx);
}

// The place an earlier run kept, while a screen still shows the middle of its top edge, where
// the title bar is held.
bool keptPlace(PlaceRect *inside) {
    int v[4] = {};
    for (int i = 0; i < 4; ++i) {
        const int status = SettingsGetInt(kKeys[i], &v[i]);
        if (status == kSettingsDamaged)
            std::fprintf(stderr,
                         "quorvat: the settings file %s holds no number under %s; the trend "
                         "window opens beside the main panel\n",
                         SettingsFile(), kKeys[i]);
        if (status != 1)
            return false;
    }
    const PlaceSize &most = g_window.preferred;
    *inside = {v[0], v[1], std::clamp(v[2], kMinimum.width, most.width),
               std::clamp(v[3], kMinimum.height, most.height)};
    ScreenArea screen;
    return GetScreenArea(inside->left + inside->width / 2, inside->top, &screen) == 1;
}

PlaceRect besideMain() {
    const int main = g_window.mainPanel;
    const Frame f = frameOf(main);
    const PlaceRect inside = insideOf(main);
    const PlaceRect outside = withFrame(inside, f);
    PlaceRect clear = outside;
    for (int i = 0; i < g_window.keepClearCount; ++i) {
        PlaceRect c;
        GetCtrlAttribute(main, g_window.keepClear[i], ATTR_LEFT, &c.left);
        GetCtrlAttribute(main, g_window.keepClear[i], ATTR_TOP, &c.top);
        GetCtrlAttribute(main, g_window.keepClear[i], ATTR_WIDTH, &c.width);
        GetCtrlAttribute(main, g_window.keepClear[i], ATTR_HEIGHT, &c.height);
        c.left += inside.left;
        c.top += inside.top;
        if (i == 0)
            clear = c;
        const int right = std::max(clear.right(), c.right());
        const int bottom = std::max(clear.bottom(), c.bottom());
        clear.left = std::min(clear.left, c.left);
        clear.top = std::min(clear.top, c.top);
        clear.width = right - clear.left;
        clear.height = bottom - clear.top;
    }
    ScreenArea a;
    GetScreenArea(outside.left + outside.width / 2, outside.top + outside.height / 2, &a);
    // The trend window's frame is not known before it is shown: it is the main panel's.
    const PlaceSize framed = {2 * f.border, f.title + f.border};
    const PlaceRect place = PlaceBesideMain(
        outside, clear, {a.left, a.top, a.width, a.height},
        {g_window.preferred.width + framed.width, g_window.preferred.height + framed.height},
        {kMinimum.width + framed.width, kMinimum.height + framed.height});
    return withoutFrame(place, f);
}

} // namespace

void TrendKeepClear(std::initializer_list<int> controls) {
    g_window.keepClearCount = 0;
    for (int c : controls)
        if (g_window.keepClearCount < kKeepClearMost)
            g_window.keepClear[g_window.keepClearCount++] = c;
}

void TrendPlaceWindow(int mainPanel) {
    Window &w = g_window;
    w.mainPanel = mainPanel;
    if (w.placedPanel != trendpanel) {
        const PlaceRect resource = insideOf(trendpanel);
        w.preferred = {resource.width, resource.height};
        if (!keptPlace(&w.last))
            w.last = besideMain();
        w.placedPanel = trendpanel;
    }
    resizeTo(w.last.width, w.last.height);
    SetPanelPos(trendpanel, w.last.top, w.last.left);
}

void TrendRememberPlace() {
    Window &w = g_window;
    int shown = 0;
    if (w.placedPanel != trendpanel || GetPanelAttribute(trendpanel, ATTR_VISIBLE, &shown) < 0 ||
        !shown)
        return;
    w.last = insideOf(trendpanel);
    const int values[4] = {w.last.left, w.last.top, w.last.width, w.last.height};
    for (int i = 0; i < 4; ++i) {
        int kept = 0;
        if (SettingsGetInt(kKeys[i], &kept) == 1 && kept == values[i])
            continue; // unchanged: the file is left alone
        if (SettingsPutInt(kKeys[i], values[i]) == kFileError && !w.saidUnkept) {
            w.saidUnkept = true;
            std::fprintf(stderr,
                         "quorvat: cannot write the settings file %s; the trend window's place "
                         "is not kept\n",
                         SettingsFile());
            return;
        }
    }
}

} // namespace qv
