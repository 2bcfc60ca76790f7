// The run-time's model of panels and controls, shared by the platform's own sources.
#pragma once

#include "platform/userint.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QPointer>
#include <QRect>
#include <QTimer>
#include <QWidget>

#include <map>
#include <memory>
#include <vector>

class QLabel;

namespace qv::rt::detail {

struct ListItem {
    QByteArray label;
    QByteArray text;      // value of a ring whose values are strings
    long long number = 0; // value of a ring whose values are numbers
};

enum class LabelPlace { None, Top, Left };

class Panel;

// One control: its run-time identity and attributes, its value, and the widget that shows it.
struct Control {
    int id = 0;
    int style = 0;
    Panel *panel = nullptr;
    QPointer<QWidget> widget;
    QPointer<QLabel> caption;
    LabelPlace captionPlace = LabelPlace::None;
    int captionDx = 0; // shifts a caption placed on top, e.g. over a drop-down button

    CtrlCallbackPtr callback = nullptr;
    void *callbackData = nullptr;

    // Values of displays (numeric and text indicators, bars, text messages) live here; editable
    // controls keep theirs in their widget.
    long long number = 0;
    QByteArray text;
    TextCoding textCoding = TextCoding::Latin1; // of a display's text
    int dataType = VAL_UNSIGNED_SHORT_INTEGER;
    long long minValue = 0, maxValue = 65535;
    std::vector<ListItem> items;
    int current = -1; // ring: selected item

    QRect geometry;
    bool visible = true;
    bool dimmed = false;
    int maxEntryLength = -1;
    int frameColor = 0xA0A0A0;
    int textColor = 0x000000;
    int bgColor = 0xFFFFFF;
    int buttonColor = 0xE0E0E0;
    QByteArray font = "AppFont";
    int pointSize = 0; // 0 = the application font's size
    bool bold = false;
    bool italic = false;
    int arrowOnly = 0;
    int justify = VAL_LEFT_JUSTIFIED;                  // text indicator
    bool wrap = false;                                 // text indicator
    int markLow = VAL_NO_MARK, markHigh = VAL_NO_MARK; // numeric bar
    bool displayDirty = false;
    bool lookDirty = false; // a display's colour, drawn with its value
    bool edited = false;    // string control: typed in since its last commit

    bool isString() const { return style == CTRL_STRING || style == CTRL_STRING_LS; }
    bool isRing() const {
        return style == CTRL_RING || style == CTRL_POPUP_RING || style == CTRL_POPUP_RING_LS;
    }
    bool isPopupRing() const { return style == CTRL_POPUP_RING || style == CTRL_POPUP_RING_LS; }
    bool isDecoration() const { return style == CTRL_DECORATION || style == CTRL_DECORATION_LS; }
    bool isNumeric() const {
        return style == CTRL_NUMERIC || style == CTRL_NUMERIC_INDICATOR ||
               style == CTRL_NUMERIC_BAR;
    }
    bool isTextDisplay() const { return style == CTRL_TEXT_MSG || style == CTRL_TEXT_INDICATOR; }
    bool takesInput() const {
        return style == CTRL_NUMERIC || isString() || isRing() || style == CTRL_COMMAND_BUTTON;
    }
};

class PanelWindow;

class Panel {
  public:
    int handle = 0;
    int resourceId = 0;
    QByteArray name;
    QPointer<PanelWindow> window;
    PanelCallbackPtr callback = nullptr;
    void *callbackData = nullptr;
    std::map<int, std::unique_ptr<Control>> controls;
    std::vector<int> creationOrder; // ATTR_PANEL_FIRST_CTRL / ATTR_NEXT_CTRL walk this
    std::vector<int> tabOrder;      // index = tab position
    std::vector<int> zOrder;        // index 0 = front

    // Displays redraw at most at the screen's rate; values are always current in the model.
    QTimer refreshTimer;
    QElapsedTimer sinceRefresh;
    bool awaitingExpose = false; // shown, and not yet seen on screen since
    int fieldBeforeList = 0;     // the string control that gave the focus to a pop-up ring

    Control *find(int id) {
        auto it = controls.find(id);
        return it == controls.end() ? nullptr : it->second.get();
    }
};

Panel *findPanel(int handle);
Control *findControl(int panel, int control, int *status);

} // namespace qv::rt::detail
