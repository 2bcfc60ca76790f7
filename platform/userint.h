// The user-interface part of our run-time: panels loaded from the resource file, controls
// addressed by panel handle and control ID, numbered attributes and events, modal pop-ups and
// event pumping. The program calls these by their run-time names; Qt Widgets does the work.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace qv::rt {

// ---- Status codes. 0 or positive is success; every failure is one of these. ----
constexpr int kUIENotInitialized = -1; // InitRunTimeEngine has not run
constexpr int kUIEPanelInvalid = -4;   // no panel with that handle
constexpr int kUIECtrlInvalid = -5;    // no control with that ID on the panel
constexpr int kUIEAttrInvalid = -6;    // attribute unknown or not valid for the control
constexpr int kUIEValueInvalid = -7;   // value out of range or of the wrong type for the attribute
constexpr int kUIETypeMismatch = -8;   // GetCtrlVal/SetCtrlVal with a type the control cannot hold
constexpr int kUIEFileNotFound = -10;  // resource or image file missing or unreadable
constexpr int kUIEBadFormat = -11;     // resource file damaged (not JSON, or a panel malformed)
constexpr int kUIEOutOfMemory = -12;   // an allocation failed
constexpr int kUIEPanelNotFound = -13; // the resource file has no panel with that resource ID
constexpr int kUIEIndexInvalid = -14;  // list index out of range
constexpr int kUIEStyleInvalid = -15;  // NewCtrl with a style the run-time does not build
constexpr int kUIEImageInvalid = -16;  // image file present but not a picture
constexpr int kUIEThreadInvalid = -17; // deferred call to a thread that runs no event loop
constexpr int kUIENotList = -18;       // list call on a control without a list

// ---- Events, as callbacks receive them. ----
constexpr int EVENT_COMMIT = 1;
constexpr int EVENT_VAL_CHANGED = 2;
constexpr int EVENT_RIGHT_CLICK = 5;
constexpr int EVENT_KEYPRESS = 7;
constexpr int EVENT_GOT_FOCUS = 8;
constexpr int EVENT_CLOSE = 11;

// ---- Control attributes. ----
constexpr int ATTR_DIMMED = 500;
constexpr int ATTR_CALLBACK_DATA = 510;
constexpr int ATTR_CALLBACK_FUNCTION_POINTER = 513;
constexpr int ATTR_VISIBLE = 530;
constexpr int ATTR_LEFT = 531;
constexpr int ATTR_TOP = 532;
constexpr int ATTR_WIDTH = 533;
constexpr int ATTR_HEIGHT = 540;
constexpr int ATTR_FRAME_COLOR = 550;
constexpr int ATTR_ZPLANE_POSITION = 610;   // 0 = in front of every other control
constexpr int ATTR_CTRL_STYLE = 611;        // read only
constexpr int ATTR_CTRL_TAB_POSITION = 612; // setting one shifts the controls in between
constexpr int ATTR_TAKES_INPUT = 620;       // read only: 1 when the control can hold the focus
constexpr int ATTR_NEXT_CTRL = 621; // read only: next control in creation order, 0 after the last
// On numeric and text indicators drawn together with their value, at the screen's rate.
constexpr int ATTR_TEXT_COLOR = 680;
constexpr int ATTR_TEXT_FONT_NAME_LENGTH = 681; // read only
constexpr int ATTR_TEXT_FONT = 682;
constexpr int ATTR_TEXT_BOLD = 683;
constexpr int ATTR_TEXT_POINT_SIZE = 686;
constexpr int ATTR_TEXT_ITALIC = 687;
// Text displays (text indicators): where a line of the text sits, VAL_LEFT_JUSTIFIED (the
// default), VAL_CENTER_JUSTIFIED or VAL_RIGHT_JUSTIFIED; any other value is kUIEValueInvalid.
// The text is centred vertically.
constexpr int ATTR_TEXT_JUSTIFY = 688;
// Text displays: 1 breaks a text too long for the display into lines at its spaces (a word
// longer than a line is cut); 0, the default, keeps one line, cut at the display's edge.
constexpr int ATTR_TEXT_WRAP = 689;
constexpr int ATTR_TEXT_BGCOLOR = 690;
constexpr int ATTR_DATA_TYPE = 710;          // rings: the type of the item values
constexpr int ATTR_RING_POPUP_ARROW = 755;   // pop-up rings: draw the drop-down arrow
constexpr int ATTR_MAX_ENTRY_LENGTH = 760;   // string controls: -1 = no limit
constexpr int ATTR_STRING_TEXT_LENGTH = 761; // read only
constexpr int ATTR_TEXT_SELECTION_START = 762;
constexpr int ATTR_TEXT_SELECTION_LENGTH = 763;
constexpr int ATTR_CMD_BUTTON_COLOR = 880;
// Numeric bars: a window on the bar's scale, from the low mark to the high mark (both included,
// in the bar's units), drawn as a shaded band with a line at each end, the lines over the bar's
// fill. Each mark is 0 or above, or VAL_NO_MARK (the default); the band is drawn while both are
// set and low <= high, so the program may move them one at a time. Only the part within the
// bar's scale shows. A value below VAL_NO_MARK is kUIEValueInvalid; on any other control both
// attributes are kUIEAttrInvalid.
constexpr int ATTR_BAR_MARK_LOW = 890;
constexpr int ATTR_BAR_MARK_HIGH = 891;
constexpr int VAL_NO_MARK = -1;

// ---- Panel attributes (GetPanelAttribute). ----
constexpr int ATTR_NUM_CTRLS = 1001;
constexpr int ATTR_PANEL_FIRST_CTRL = 1002; // 0 when the panel has no control
// ATTR_VISIBLE of a panel is 1 while it is shown. ATTR_LEFT, ATTR_TOP, ATTR_WIDTH and
// ATTR_HEIGHT of a panel give its inside, without the window system's frame, on the screen, in
// logical pixels (Qt's, which a scale factor multiplies). The frame around it: the title bar
// with the border above it, and the widest of the other borders; both 0 until the panel has been
// shown and the window system has told them.
constexpr int ATTR_TITLEBAR_THICKNESS = 1003;
constexpr int ATTR_FRAME_THICKNESS = 1004;

// ---- ATTR_TEXT_JUSTIFY. ----
constexpr int VAL_LEFT_JUSTIFIED = 0;
constexpr int VAL_RIGHT_JUSTIFIED = 1;
constexpr int VAL_CENTER_JUSTIFIED = 2;

// ---- Colours are 0xRRGGBB; this one means "no background". ----
constexpr int VAL_TRANSPARENT = 0x1000000;

// ---- Value types (ATTR_DATA_TYPE). ----
constexpr int VAL_INTEGER = 1;
constexpr int VAL_UNSIGNED_SHORT_INTEGER = 2;
constexpr int VAL_DOUBLE = 4;
constexpr int VAL_STRING = 5;

// ---- Control styles: the style a control reports through ATTR_CTRL_STYLE. NewCtrl builds the
// ones marked "new". ----
constexpr int CTRL_NUMERIC = 100;           // numeric edit box
constexpr int CTRL_NUMERIC_INDICATOR = 101; // numeric display
constexpr int CTRL_NUMERIC_BAR = 110;       // numeric display drawn as a colour bar
constexpr int CTRL_STRING = 150;            // new; string control, first look (1-pixel frame)
constexpr int CTRL_STRING_LS = 151;         // new; string control, second look (2-pixel frame)
constexpr int CTRL_TEXT_MSG = 160;          // new; text message
constexpr int CTRL_TEXT_INDICATOR = 165;    // one-line text display
constexpr int CTRL_COMMAND_BUTTON = 200;
constexpr int CTRL_RING = 300;          // drop-down selector
constexpr int CTRL_POPUP_RING = 303;    // new; square pop-up menu ring, first look
constexpr int CTRL_POPUP_RING_LS = 322; // new; square pop-up menu ring, second look
constexpr int CTRL_PICTURE = 350;
constexpr int CTRL_CANVAS = 360;        // an area the program draws in itself (platform/canvas.h)
constexpr int CTRL_DECORATION = 381;    // new; flat box with a 1-pixel border
constexpr int CTRL_DECORATION_LS = 396; // new; box with a 2-pixel border

// ---- Key codes of EVENT_KEYPRESS and FakeKeystroke: a virtual key in bits 8 to 15, or the
// character (Latin-1) in bits 0 to 7 with no virtual key; modifiers above. Shift is reported with
// virtual keys only, since a shifted character already differs from the plain one. ----
constexpr int VAL_BACKSPACE_VKEY = 0x0100;
constexpr int VAL_FWD_DELETE_VKEY = 0x0200;
constexpr int VAL_ESC_VKEY = 0x0300;
constexpr int VAL_TAB_VKEY = 0x0400;
constexpr int VAL_ENTER_VKEY = 0x0500;
constexpr int VAL_UP_ARROW_VKEY = 0x0600;
constexpr int VAL_DOWN_ARROW_VKEY = 0x0700;
constexpr int VAL_LEFT_ARROW_VKEY = 0x0800;
constexpr int VAL_RIGHT_ARROW_VKEY = 0x0900;
constexpr int VAL_HOME_VKEY = 0x0A00;
constexpr int VAL_END_VKEY = 0x0B00;
constexpr int VAL_PAGE_UP_VKEY = 0x0C00;
constexpr int VAL_PAGE_DOWN_VKEY = 0x0D00;
constexpr int VAL_INSERT_VKEY = 0x0E00;
constexpr int VAL_F1_VKEY = 0x0F00; // F1 to F12 follow one apart: 0x0F00 .. 0x1A00
constexpr int VAL_SHIFT_MODIFIER = 0x10000;
constexpr int VAL_MENUKEY_MODIFIER = 0x20000; // Ctrl
constexpr int VAL_ALT_MODIFIER = 0x40000;
constexpr int VAL_VKEY_MASK = 0xFF00;
constexpr int VAL_ASCII_KEY_MASK = 0x00FF;

using CtrlCallbackPtr = int (*)(int panel, int control, int event, void *callbackData,
                                int eventData1, int eventData2);
using PanelCallbackPtr = int (*)(int panel, int event, void *callbackData, int eventData1,
                                 int eventData2);

// Resolves a callback named in the resource file; the program installs its table before
// LoadPanel. A name that resolves to nothing makes LoadPanel fail: the resource file and the
// program disagree.
struct CallbackEntry {
    CtrlCallbackPtr control = nullptr;
    PanelCallbackPtr panel = nullptr;
};
using CallbackResolver = std::function<CallbackEntry(const std::string &name)>;
void SetCallbackResolver(CallbackResolver resolver);

// ---- Run-time and panels. ----
// Creates the application object. Returns 1, or 0 when no display can be reached (a line on
// standard error says why).
int InitRunTimeEngine(int &argc, char **argv);
// Loads panel `resourceId` from the resource file; a relative file name is taken from the
// program's directory. Returns the new panel handle (> 0) or a negative status.
int LoadPanel(int parent, const char *fileName, int resourceId);
// Why the last LoadPanel failed: file, panel or control, and the reason.
const char *LastResourceError();
int DisplayPanel(int panel);
int HidePanel(int panel);
int DiscardPanel(int panel);
// Places the panel's inside at top, left on the screen.
int SetPanelPos(int panel, int top, int left);
// Makes the panel's inside height x width; kUIEValueInvalid when either is below 1.
int SetPanelSize(int panel, int height, int width);
// The part of a screen that windows may take (without task bars and docks), in logical pixels.
struct ScreenArea {
    int left = 0, top = 0, width = 0, height = 0;
};
// 1 with the area of the screen that holds the point left, top; 0 with the primary screen's when
// none does; kUIENotInitialized before the run-time was started.
int GetScreenArea(int left, int top, ScreenArea *area);
// Runs the event loop until QuitUserInterface; returns the code given to it.
int RunUserInterface();
int QuitUserInterface(int code);
// Handles whatever events are pending. When a program loop keeps pumping without anything
// arriving, a pass waits briefly (at most ~10 ms) for the next event instead of spinning.
int ProcessSystemEvents();
// Draws what the program has set (values, attributes, panels just shown) without handling any
// input or running any callback, which wait for the next ProcessSystemEvents. Call it before a
// wait that pumps no events, so the operator sees the state the program is waiting in.
int ProcessDrawEvents();
int SetWaitCursor(int on);

// ---- Values. Text is bytes shown as Latin-1; a text read is cut to fit and NUL-terminated. ----
int SetCtrlVal(int panel, int control, const char *text);
// What the bytes of a shown text are. Latin-1: one character a byte, so that no byte sequence
// from a sensor can break a label. FileSystem: a path or a file's name, in the file system's
// encoding (UTF-8 on Linux), shown as the operator typed it.
enum class TextCoding { Latin1, FileSystem };
// FileSystem text goes to text displays only (kUIETypeMismatch elsewhere); GetCtrlVal gives back
// the bytes that were set.
int SetCtrlVal(int panel, int control, const char *text, TextCoding coding);
int SetCtrlVal(int panel, int control, double value);
int SetCtrlVal(int panel, int control, long long value);
inline int SetCtrlVal(int panel, int control, int value) {
    return SetCtrlVal(panel, control, static_cast<long long>(value));
}
inline int SetCtrlVal(int panel, int control, unsigned value) {
    return SetCtrlVal(panel, control, static_cast<long long>(value));
}
inline int SetCtrlVal(int panel, int control, unsigned short value) {
    return SetCtrlVal(panel, control, static_cast<long long>(value));
}
int GetCtrlVal(int panel, int control, unsigned short *value);
int GetCtrlVal(int panel, int control, int *value);
int GetCtrlVal(int panel, int control, double *value);
int GetCtrlValText(int panel, int control, char *text, std::size_t size);
template <std::size_t N> int GetCtrlVal(int panel, int control, char (&text)[N]) {
    return GetCtrlValText(panel, control, text, N);
}

// ---- Attributes. ----
int SetCtrlAttribute(int panel, int control, int attribute, int value);
int SetCtrlAttribute(int panel, int control, int attribute, const char *value);
int SetCtrlAttribute(int panel, int control, int attribute, void *value);
int SetCtrlAttribute(int panel, int control, int attribute, CtrlCallbackPtr value);
int GetCtrlAttribute(int panel, int control, int attribute, int *value);
int GetCtrlAttribute(int panel, int control, int attribute, void **value);
int GetCtrlAttribute(int panel, int control, int attribute, CtrlCallbackPtr *value);
int GetCtrlAttributeText(int panel, int control, int attribute, char *text, std::size_t size);
template <std::size_t N>
int GetCtrlAttribute(int panel, int control, int attribute, char (&text)[N]) {
    return GetCtrlAttributeText(panel, control, attribute, text, N);
}
int GetPanelAttribute(int panel, int attribute, int *value);

// ---- Controls made at run time. ----
// Creates a control of `style` with `label` (may be empty) at top/left with the style's default
// size. Returns the new control ID (> 0) or a negative status.
int NewCtrl(int panel, int style, const char *label, int top, int left);
int DiscardCtrl(int panel, int control);
int InstallCtrlCallback(int panel, int control, CtrlCallbackPtr callback, void *callbackData);
int SetActiveCtrl(int panel, int control);
int GetActiveCtrl(int panel);
// Queues a key press for the control that has the focus, as if the operator had typed it.
int FakeKeystroke(int keyCode);
// Loads a picture into a picture control; a relative file name is taken from the program's
// directory. On failure the control keeps its picture.
int DisplayImageFile(int panel, int control, const char *fileName);

// ---- Lists (rings). Index -1 appends; count -1 deletes to the end. ----
int InsertListItem(int panel, int control, int index, const char *label, const char *value);
int InsertListItem(int panel, int control, int index, const char *label, int value);
int DeleteListItem(int panel, int control, int index, int count);
int ReplaceListItem(int panel, int control, int index, const char *label, const char *value);
// *index receives the position of the first item whose value equals `value`, or -1.
int GetIndexFromValue(int panel, int control, int *index, const char *value);
int GetIndexFromValue(int panel, int control, int *index, int value);
int GetNumListItems(int panel, int control, int *count);
int GetValueFromIndexText(int panel, int control, int index, char *value, std::size_t size);
template <std::size_t N>
int GetValueFromIndex(int panel, int control, int index, char (&value)[N]) {
    return GetValueFromIndexText(panel, control, index, value, N);
}
// The caller sizes its buffer by GetValueLengthFromIndex (length without the NUL).
inline int GetValueFromIndex(int panel, int control, int index, char *value, std::size_t size) {
    return GetValueFromIndexText(panel, control, index, value, size);
}
int GetValueLengthFromIndex(int panel, int control, int index, int *length);

// ---- Pop-ups. ----
enum class PopupKind { Message, Confirm, SaveFile }; // SaveFile: for tests' records only
int MessagePopup(const char *title, const char *message);
// The title in Latin-1, the message as `coding` says.
int MessagePopup(const char *title, const char *message, TextCoding coding);
// Returns 1 for yes, 0 for no.
int ConfirmPopup(const char *title, const char *message);
// Tests answer pop-ups instead of the operator: the handler gets each one, its title and text as
// the box shows them (in UTF-8), and returns the answer (1 yes, 0 no; ignored for messages). An
// empty handler restores the real boxes.
using PopupHandler =
    std::function<int(PopupKind kind, const std::string &title, const std::string &text)>;
void SetPopupHandler(PopupHandler handler);

// Asks for the name of a file to write, starting at `suggested` (a path, or a name in the user's
// documents folder, or home folder when there is none); an existing file is only taken after the
// operator agreed to replace it. Returns 1 with the chosen path in `path`, 0 when the operator
// cancelled, kUIEValueInvalid when the chosen path does not fit `size` (a cut path would name
// another file).
int SaveFilePopupText(const char *title, const char *suggested, char *path, std::size_t size);
template <std::size_t N>
int SaveFilePopup(const char *title, const char *suggested, char (&path)[N]) {
    return SaveFilePopupText(title, suggested, path, N);
}
// Tests choose the file instead of the operator: the handler gets the title and the suggestion
// and returns the path, or an empty text for a cancel. An empty handler restores the dialog.
using SaveFileHandler =
    std::function<std::string(const std::string &title, const std::string &suggested)>;
void SetSaveFileHandler(SaveFileHandler handler);

} // namespace qv::rt
