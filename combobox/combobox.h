// The combo box: a string control on a panel turned, at run time, into an editable text field
// with a drop-down list of remembered values and case-insensitive completion. Beside the string
// control it makes a square pop-up ring (the list) and a frame drawn behind both.
//
// A combo box is addressed by (panel handle, string control ID), like the string control it was
// made from. Every operation returns 0 or a positive value on success and a negative status on
// failure: kComboOutOfMemory, kComboWrongControl, kComboAttrInvalid, or the status of the
// run-time call that failed, passed on unchanged.
#pragma once

#include "platform/userint.h"

#include <cstddef>

namespace qv {

constexpr int kComboOutOfMemory = -12;  // an allocation failed
constexpr int kComboWrongControl = -45; // not a combo box (or, for creation, not a candidate)
constexpr int kComboAttrInvalid = -46;  // attribute number not accepted

// The combo box's own attributes (Combo_SetComboAttribute / Combo_GetComboAttribute). Size,
// place, visibility and dimming are those of the frame; text attributes those of the text field.
constexpr int COMBO_ATTR_HEIGHT = 1; // read only
constexpr int COMBO_ATTR_WIDTH = 2;
constexpr int COMBO_ATTR_TEXT_COLOR = 3;
constexpr int COMBO_ATTR_FRAME_COLOR = 4;
constexpr int COMBO_ATTR_TEXT_FONT = 5;             // a font name (text)
constexpr int COMBO_ATTR_TEXT_FONT_NAME_LENGTH = 6; // read only
constexpr int COMBO_ATTR_TEXT_POINT_SIZE = 7;
constexpr int COMBO_ATTR_TEXT_BOLD = 8;   // the run-time's attribute 683
constexpr int COMBO_ATTR_TEXT_ITALIC = 9; // the run-time's attribute 687
constexpr int COMBO_ATTR_LEFT = 10;
constexpr int COMBO_ATTR_TOP = 11;
constexpr int COMBO_ATTR_VISIBLE = 12;
constexpr int COMBO_ATTR_DIMMED = 13;
constexpr int COMBO_ATTR_MAX_ENTRY_LENGTH = 14; // -1 = no limit

constexpr int kComboMarker = 0x5574;

// One combo box. It is the string control's callback data (and the ring's); a caller may read
// ringCtrl to count and read the list with the run-time's list calls. Made zero-filled by
// creation, freed by Combo_DiscardComboBox.
struct ComboRec {
    int panelHandle;
    int ringCtrl;
    int stringCtrl;
    int frameCtrl;
    rt::CtrlCallbackPtr userCallback; // the string control's callback before creation, or null
    void *userCallbackData;           // its callback data before creation
    int lock;                         // run-time lock guarding this record
    int entryLimit;                   // maximum entry length + 1, or -1 for no maximum
    int ringFocusByKey;               // 1 from Up/Down in the text field to the ring's got-focus
    int marker;                       // kComboMarker
};

// Turns the string control (style CTRL_STRING or CTRL_STRING_LS) into a combo box. Returns the
// string control's ID; kComboWrongControl when it already is one or is no string control. A
// failed creation leaves the panel as it was.
int Combo_NewComboBox(int panel, int stringCtrl);
// Removes ring, frame and the string control itself, and the record. Inside one of the combo
// box's own callbacks the record lives on until that callback returns.
int Combo_DiscardComboBox(int panel, int stringCtrl);

// Attribute values are ints, except COMBO_ATTR_TEXT_FONT, which is a font name. A value of the
// other kind for an accepted attribute gives rt::kUIEValueInvalid.
int Combo_SetComboAttribute(int panel, int stringCtrl, int attribute, int value);
int Combo_SetComboAttribute(int panel, int stringCtrl, int attribute, const char *value);
int Combo_GetComboAttribute(int panel, int stringCtrl, int attribute, int *value);
// The font name, cut to fit `size` and NUL-terminated.
int Combo_GetComboAttributeText(int panel, int stringCtrl, int attribute, char *value,
                                std::size_t size);
template <std::size_t N>
int Combo_GetComboAttribute(int panelHandle, int stringCtrl, int attribute, char (&value)[N]) {
    return Combo_GetComboAttributeText(panelHandle, stringCtrl, attribute, value, N);
}

// The list, with the run-time's index rules (index -1 appends; count -1 deletes to the end; a
// missing value gives index -1). Each item's label and value are the same text. The text field
// is not touched.
int Combo_InsertComboItem(int panel, int stringCtrl, int index, const char *text);
int Combo_DeleteComboItem(int panel, int stringCtrl, int index, int count);
int Combo_ReplaceComboItem(int panel, int stringCtrl, int index, const char *text);
int Combo_GetIndexFromValue(int panel, int stringCtrl, int *index, const char *text);

// ---- Event handling, installed by creation. ----
// The string control's callback: completion, Up/Down open the list (an empty one is not opened
// and the focus stays in the text field), Shift+Tab skips the ring;
// every event is handed to the user callback, whose result it returns (a handled Shift+Tab is
// swallowed all the same, so the toolkit does not move the focus again).
int StringDataToRing(int panel, int control, int event, void *callbackData, int eventData1,
                     int eventData2);
// The ring's callback: a chosen value goes into the text field and is handed on as a commit of
// the text field; the ring gives the focus back unless the list is being opened. Returns 0.
int RingDataToString(int panel, int control, int event, void *callbackData, int eventData1,
                     int eventData2);
// Where Shift+Tab goes: searching backwards through the tab order from position `start`,
// wrapping from the first position to the last, the first control that takes input, is not
// dimmed and is visible. 0 when the panel has none.
int FindFocusableCtrl(int panel, int start);
// Raises a value change of the text field for the user callback now, and a commit from the
// calling thread's event processing. 0, kComboWrongControl for a record that is not a live combo
// box, or the status of posting the commit.
int SendValChangedEvent(ComboRec *record);
// The commit half of SendValChangedEvent; nothing for a record that is no longer live.
void SendCommitEvent(ComboRec *record);

} // namespace qv
