// The combo box's event handlers: completion as the operator types, the list opened from the
// keyboard, Shift+Tab past the list button, a chosen value into the text field, and the commit
// raised for the program later (SendValChangedEvent).
#include "combobox/combobox.h"

#include "combobox/records_p.h"
#include "platform/thread.h"
#include "platform/utility.h"

#include <cstdlib>
#include <cstring>

namespace qv {

using namespace rt;
using namespace combo_detail;

namespace {

// Shared by all combo boxes: whether the next typed change of a text field is completed.
int autoCompleteOn = 1;

int handOn(const ComboRec &r, int panel, int event, int eventData1, int eventData2) {
    if (!r.userCallback)
        return 0;
    return r.userCallback(panel, r.stringCtrl, event, r.userCallbackData, eventData1, eventData2);
}

int limitOf(const ComboRec &r) {
    return r.entryLimit > 0 ? r.entryLimit - 1 : 0; // the maximum entry length
}

// Up or Down in the text field: move to the ring and have it open its list. With nothing to
// list the focus stays in the text field, where the operator can go on typing.
void openListFromKeyboard(ComboRec &r) {
    int count = 0;
    if (GetNumListItems(r.panelHandle, r.ringCtrl, &count) < 0 || count == 0)
        return;
    // The list opens on the text's own entry when it has one, so Enter keeps what is shown.
    int length = 0, index = -1;
    if (GetCtrlAttribute(r.panelHandle, r.stringCtrl, ATTR_STRING_TEXT_LENGTH, &length) == 0 &&
        length >= 0) {
        const std::size_t size = static_cast<std::size_t>(length) + 1;
        const Buffer shown(size);
        if (shown && GetCtrlValText(r.panelHandle, r.stringCtrl, shown.get(), size) == 0 &&
            GetIndexFromValue(r.panelHandle, r.ringCtrl, &index, shown.get()) == 0 && index >= 0)
            SetCtrlVal(r.panelHandle, r.ringCtrl, shown.get());
    }
    r.ringFocusByKey = 1;
    if (SetActiveCtrl(r.panelHandle, r.ringCtrl) < 0 ||
        GetActiveCtrl(r.panelHandle) != r.ringCtrl) {
        r.ringFocusByKey = 0; // the space would land in the text field
        return;
    }
    FakeKeystroke(' ');
}

// Shift+Tab in the text field: the nearest operable control before the ring. True when the
// focus was moved (or stays, rightly, on the text field).
bool focusBackwards(const ComboRec &r) {
    int p = 0, n = 0;
    if (GetCtrlAttribute(r.panelHandle, r.stringCtrl, ATTR_CTRL_TAB_POSITION, &p) < 0 ||
        GetPanelAttribute(r.panelHandle, ATTR_NUM_CTRLS, &n) < 0)
        return false;
    const int start = p <= 1 ? n - 1 : p - 2;
    const int target = FindFocusableCtrl(r.panelHandle, start);
    return target > 0 && SetActiveCtrl(r.panelHandle, target) >= 0;
}

// Completes the typed text from the first list value that starts with it, ignoring case; the
// added part is selected so that typing on replaces it. kComboOutOfMemory stops the handling.
int complete(const ComboRec &r) {
    const int p = r.panelHandle;
    int length = 0;
    if (GetCtrlAttribute(p, r.stringCtrl, ATTR_STRING_TEXT_LENGTH, &length) < 0 || length < 0)
        return 0;
    const std::size_t size = static_cast<std::size_t>(length) + 1;
    Buffer typed(size), key(size);
    if (!typed || !key)
        return kComboOutOfMemory;
    if (GetCtrlValText(p, r.stringCtrl, typed.get(), size) < 0)
        return 0;
    std::memcpy(key.get(), typed.get(), size);
    StringUpperCase(key.get());
    const std::size_t keyLength = std::strlen(key.get());

    int count = 0;
    if (GetNumListItems(p, r.ringCtrl, &count) < 0)
        return 0;
    for (int i = 0; i < count; ++i) {
        int itemLength = 0;
        if (GetValueLengthFromIndex(p, r.ringCtrl, i, &itemLength) < 0 || itemLength < 0)
            continue;
        const std::size_t itemSize = static_cast<std::size_t>(itemLength) + 1;
        Buffer item(itemSize), upper(itemSize);
        if (!item || !upper)
            return kComboOutOfMemory;
        if (GetValueFromIndex(p, r.ringCtrl, i, item.get(), itemSize) < 0)
            continue;
        std::memcpy(upper.get(), item.get(), itemSize);
        StringUpperCase(upper.get());
        if (std::strncmp(upper.get(), key.get(), keyLength) != 0)
            continue;

        // The first match decides; one character is too little to guess from.
        const std::size_t matchLength = std::strlen(item.get());
        if (matchLength < 2)
            return 0;
        const std::size_t s = std::strlen(typed.get());
        std::size_t tail = matchLength > s ? matchLength - s : 0;
        const std::size_t limit = static_cast<std::size_t>(limitOf(r));
        if (r.entryLimit != -1 && matchLength > limit)
            tail = limit > s ? limit - s : 0;
        Buffer text(s + tail + 1);
        if (!text)
            return kComboOutOfMemory;
        CopyString(text.get(), 0, typed.get(), 0, static_cast<int>(s));
        CopyString(text.get(), static_cast<int>(s), item.get(), static_cast<int>(s),
                   static_cast<int>(tail));
        SetCtrlVal(p, r.stringCtrl, text.get());
        SetCtrlAttribute(p, r.stringCtrl, ATTR_TEXT_SELECTION_START, static_cast<int>(s));
        SetCtrlAttribute(p, r.stringCtrl, ATTR_TEXT_SELECTION_LENGTH,
                         static_cast<int>(std::strlen(text.get()) - s));
        return 0;
    }
    return 0;
}

// A value chosen in the ring goes into the text field, cut to the maximum entry length.
// False when it could not be copied.
bool copyRingValue(const ComboRec &r) {
    const int p = r.panelHandle;
    int count = 0, longest = 0;
    if (GetNumListItems(p, r.ringCtrl, &count) < 0)
        return false;
    for (int i = 0; i < count; ++i) {
        int length = 0;
        if (GetValueLengthFromIndex(p, r.ringCtrl, i, &length) == 0 && length > longest)
            longest = length;
    }
    const std::size_t size = static_cast<std::size_t>(longest) + 1;
    Buffer value(size);
    if (!value || GetCtrlValText(p, r.ringCtrl, value.get(), size) < 0)
        return false;
    std::size_t keep = std::strlen(value.get());
    const std::size_t limit = static_cast<std::size_t>(limitOf(r));
    if (r.entryLimit != -1 && keep > limit)
        keep = limit;
    Buffer copy(keep + 1);
    if (!copy)
        return false;
    CopyString(copy.get(), 0, value.get(), 0, static_cast<int>(keep));
    SetCtrlVal(p, r.stringCtrl, copy.get());
    return true;
}

// The posted half of SendValChangedEvent: the record by address and serial, so that a combo box
// made later at the same address is not taken for it.
struct CommitToken {
    ComboRec *record;
    unsigned long long serial;
};

void deferredCommit(void *data) {
    auto *token = static_cast<CommitToken *>(data);
    {
        const RecordUse use(token->record, true, token->serial);
        if (use)
            handOn(use.rec(), use.rec().panelHandle, EVENT_COMMIT, 0, 0);
    }
    std::free(token);
}

int ctrlAtTabPosition(int panel, int first, int count, int position) {
    int ctrl = first;
    for (int i = 0; i < count && ctrl > 0; ++i) {
        int tab = -1;
        if (GetCtrlAttribute(panel, ctrl, ATTR_CTRL_TAB_POSITION, &tab) == 0 && tab == position)
            return ctrl;
        int next = 0;
        if (GetCtrlAttribute(panel, ctrl, ATTR_NEXT_CTRL, &next) < 0)
            return 0;
        ctrl = next;
    }
    return 0;
}

bool operable(int panel, int ctrl) {
    int input = 0, dimmed = 1, visible = 0;
    return GetCtrlAttribute(panel, ctrl, ATTR_TAKES_INPUT, &input) == 0 && input != 0 &&
           GetCtrlAttribute(panel, ctrl, ATTR_DIMMED, &dimmed) == 0 && dimmed == 0 &&
           GetCtrlAttribute(panel, ctrl, ATTR_VISIBLE, &visible) == 0 && visible != 0;
}

} // namespace

int StringDataToRing(int panel, int control, int event, void *callbackData, int eventData1,
                     int eventData2) {
    (void)control;
    const RecordUse use(callbackData, true);
    if (!use)
        return 0;
    ComboRec &r = use.rec();
    bool focusMoved = false;
    if (event == EVENT_KEYPRESS) {
        if (eventData1 == (VAL_SHIFT_MODIFIER | VAL_TAB_VKEY)) {
            focusMoved = focusBackwards(r);
        } else {
            switch (eventData1 & VAL_VKEY_MASK) {
            case VAL_UP_ARROW_VKEY:
            case VAL_DOWN_ARROW_VKEY:
                openListFromKeyboard(r);
                break;
            case VAL_BACKSPACE_VKEY:
            case VAL_FWD_DELETE_VKEY:
                autoCompleteOn = 0;
                break;
            default:
                autoCompleteOn = 1;
            }
        }
    } else if (event == EVENT_VAL_CHANGED && autoCompleteOn == 1) {
        if (complete(r) == kComboOutOfMemory)
            return 0;
    }
    const int result = handOn(r, panel, event, eventData1, eventData2);
    // Our focus change stands: the toolkit must not act on the same Shift+Tab again.
    return focusMoved && result == 0 ? 1 : result;
}

int RingDataToString(int panel, int control, int event, void *callbackData, int eventData1,
                     int eventData2) {
    (void)control;
    const RecordUse use(callbackData, true);
    if (!use)
        return 0;
    ComboRec &r = use.rec();
    switch (event) {
    case EVENT_COMMIT:
        if (copyRingValue(r))
            handOn(r, panel, EVENT_COMMIT, eventData1, eventData2);
        break;
    case EVENT_VAL_CHANGED:
        SetActiveCtrl(r.panelHandle, r.stringCtrl);
        handOn(r, panel, EVENT_VAL_CHANGED, eventData1, eventData2);
        break;
    case EVENT_GOT_FOCUS:
        // The report comes after the fact: give the focus back only if the ring still has it,
        // never take it from a control the operator has moved on to.
        if (r.ringFocusByKey == 0 && GetActiveCtrl(r.panelHandle) == r.ringCtrl)
            SetActiveCtrl(r.panelHandle, r.stringCtrl);
        r.ringFocusByKey = 0;
        break;
    default:
        break;
    }
    return 0;
}

int FindFocusableCtrl(int panel, int start) {
    int count = 0, first = 0;
    if (GetPanelAttribute(panel, ATTR_NUM_CTRLS, &count) < 0 || count <= 0 ||
        GetPanelAttribute(panel, ATTR_PANEL_FIRST_CTRL, &first) < 0)
        return 0;
    // Backwards through the tab order, wrapping from the first position to the last; two rounds
    // visit every position, so the search ends even on a panel with nothing to stop at.
    int position = start;
    for (int round = 0; round < 2 * (count + 1); ++round) {
        if (position < 0 || position > count)
            position = count - 1;
        const int ctrl = ctrlAtTabPosition(panel, first, count, position);
        if (ctrl == 0) {
            --position;
            continue;
        }
        if (operable(panel, ctrl))
            return ctrl;
        position = position == 0 ? count : position - 1;
    }
    return 0;
}

int SendValChangedEvent(ComboRec *record) {
    const RecordUse use(record, true);
    if (!use)
        return kComboWrongControl;
    const ComboRec &r = use.rec();
    handOn(r, r.panelHandle, EVENT_VAL_CHANGED, 0, 0);
    auto *token = static_cast<CommitToken *>(allocate(sizeof(CommitToken)));
    if (!token)
        return kComboOutOfMemory;
    *token = CommitToken{record, serialOf(record)};
    const int status = PostDeferredCallToThread(deferredCommit, token, CmtGetCurrentThreadID());
    if (status < 0)
        std::free(token);
    return status < 0 ? status : 0;
}

void SendCommitEvent(ComboRec *record) {
    const RecordUse use(record, true);
    if (use)
        handOn(use.rec(), use.rec().panelHandle, EVENT_COMMIT, 0, 0);
}

} // namespace qv
