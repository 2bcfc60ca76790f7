// The combo box made from a string control: creation and removal, its attributes, its list.
#include "combobox/combobox.h"

#include "combobox/records_p.h"
#include "platform/thread.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <new>

namespace qv {

using namespace rt;
using namespace combo_detail;

namespace {

// Sums of positions and sizes, held to the int range: a caller's extreme value must not overflow.
int sum(long long a, long long b, long long c = 0) {
    return static_cast<int>(
        std::clamp(a + b + c, static_cast<long long>(INT_MIN), static_cast<long long>(INT_MAX)));
}

// entryLimit for a maximum entry length.
int entryLimitOf(int maxLength) {
    return maxLength == -1 ? -1 : sum(maxLength, 1);
}

} // namespace

// ---- Creation and removal. ----

namespace {

int CreateComboBox(int panel, int stringCtrl, int style) {
    void *mem = allocate(sizeof(ComboRec));
    if (!mem)
        return kComboOutOfMemory;
    auto *rec = new (mem) ComboRec{};
    int status = CmtNewLock(nullptr, 0, &rec->lock);
    if (status < 0) {
        rec->~ComboRec();
        std::free(rec);
        return status;
    }
    CmtGetLock(rec->lock);

    int stringZ = -1;
    bool callbacksInstalled = false, live = false;
    // A failed creation leaves the panel as it found it.
    auto undo = [&](int failure) {
        // Another thread that found the record meanwhile frees it when it lets go.
        const bool freeNow = !live || withdrawRecord(rec);
        if (callbacksInstalled)
            InstallCtrlCallback(panel, stringCtrl, rec->userCallback, rec->userCallbackData);
        if (rec->ringCtrl > 0)
            DiscardCtrl(panel, rec->ringCtrl);
        if (rec->frameCtrl > 0)
            DiscardCtrl(panel, rec->frameCtrl);
        if (stringZ >= 0)
            SetCtrlAttribute(panel, stringCtrl, ATTR_ZPLANE_POSITION, stringZ);
        CmtReleaseLock(rec->lock);
        if (freeNow)
            freeRecord(rec);
        return failure;
    };
    auto failed = [&](int s) { return (status = s) < 0; };

    int left = 0, width = 0, height = 0, top = 0, frameColor = 0;
    GetCtrlAttribute(panel, stringCtrl, ATTR_LEFT, &left);
    GetCtrlAttribute(panel, stringCtrl, ATTR_WIDTH, &width);
    GetCtrlAttribute(panel, stringCtrl, ATTR_HEIGHT, &height);
    GetCtrlAttribute(panel, stringCtrl, ATTR_TOP, &top);
    GetCtrlAttribute(panel, stringCtrl, ATTR_FRAME_COLOR, &frameColor);
    if (failed(GetCtrlAttribute(panel, stringCtrl, ATTR_ZPLANE_POSITION, &stringZ))) {
        stringZ = -1;
        return undo(status);
    }

    // The frame surrounds ring and text by its border width b; the ring sits just inside the
    // frame's left border and overlaps the text field's first b columns, so that the three read
    // as one control with the drop-down button at the left end of the text.
    const int b = style == CTRL_STRING ? 1 : 2;
    const int frame = NewCtrl(panel, b == 1 ? CTRL_DECORATION : CTRL_DECORATION_LS, "",
                              sum(top, -b), sum(left, -height));
    if (frame < 0)
        return undo(frame);
    rec->frameCtrl = frame;
    if (failed(SetCtrlAttribute(panel, frame, ATTR_HEIGHT, sum(height, 2 * b))) ||
        failed(SetCtrlAttribute(panel, frame, ATTR_WIDTH, sum(width, height, b))))
        return undo(status);
    const int ring = NewCtrl(panel, b == 1 ? CTRL_POPUP_RING : CTRL_POPUP_RING_LS, "", top,
                             sum(left, -height, b));
    if (ring < 0)
        return undo(ring);
    rec->ringCtrl = ring;
    if (failed(SetCtrlAttribute(panel, ring, ATTR_HEIGHT, height)) ||
        failed(SetCtrlAttribute(panel, ring, ATTR_WIDTH, height)))
        return undo(status);
    SetCtrlAttribute(panel, ring, ATTR_FRAME_COLOR, frameColor);
    SetCtrlAttribute(panel, frame, ATTR_FRAME_COLOR, frameColor);
    if (failed(SetCtrlAttribute(panel, ring, ATTR_DATA_TYPE, VAL_STRING)) ||
        failed(SetCtrlAttribute(panel, ring, ATTR_RING_POPUP_ARROW, 1)))
        return undo(status);
    if (failed(SetCtrlAttribute(panel, ring, ATTR_ZPLANE_POSITION, 0)) ||
        failed(SetCtrlAttribute(panel, stringCtrl, ATTR_ZPLANE_POSITION, 1)) ||
        failed(SetCtrlAttribute(panel, frame, ATTR_ZPLANE_POSITION, 2)))
        return undo(status);

    rec->panelHandle = panel;
    rec->stringCtrl = stringCtrl;
    rec->ringFocusByKey = 0;
    rec->marker = kComboMarker;
    int maxLength = 0;
    if (failed(GetCtrlAttribute(panel, stringCtrl, ATTR_CALLBACK_FUNCTION_POINTER,
                                &rec->userCallback)) ||
        failed(GetCtrlAttribute(panel, stringCtrl, ATTR_MAX_ENTRY_LENGTH, &maxLength)) ||
        failed(GetCtrlAttribute(panel, stringCtrl, ATTR_CALLBACK_DATA, &rec->userCallbackData)))
        return undo(status);
    rec->entryLimit = entryLimitOf(maxLength);

    if (!enlistRecord(rec))
        return undo(kComboOutOfMemory);
    live = true;
    callbacksInstalled = true;
    InstallCtrlCallback(panel, stringCtrl, StringDataToRing, rec);
    InstallCtrlCallback(panel, ring, RingDataToString, rec);

    // The ring takes the text field's place in the tab order, which puts it directly before.
    int tab = 0;
    if (failed(GetCtrlAttribute(panel, stringCtrl, ATTR_CTRL_TAB_POSITION, &tab)) ||
        failed(SetCtrlAttribute(panel, ring, ATTR_CTRL_TAB_POSITION, tab)))
        return undo(status);

    CmtReleaseLock(rec->lock);
    return stringCtrl;
}

} // namespace

int Combo_NewComboBox(int panel, int stringCtrl) {
    if (IsComboBox(panel, stringCtrl) == 1)
        return kComboWrongControl;
    int style = 0;
    if (GetCtrlAttribute(panel, stringCtrl, ATTR_CTRL_STYLE, &style) < 0 ||
        (style != CTRL_STRING && style != CTRL_STRING_LS))
        return kComboWrongControl;
    return CreateComboBox(panel, stringCtrl, style);
}

int Combo_DiscardComboBox(int panel, int stringCtrl) {
    RecordUse use(panel, stringCtrl, true);
    if (!use)
        return use.status();
    const ComboRec &r = use.rec();
    int status = 0;
    if ((status = DiscardCtrl(panel, r.ringCtrl)) < 0 ||
        (status = DiscardCtrl(panel, r.frameCtrl)) < 0 ||
        (status = DiscardCtrl(panel, r.stringCtrl)) < 0)
        return status;
    use.markDiscarded(); // lock and record go with the last use, which may be this one
    return 0;
}

// ---- Attributes. ----

namespace {

struct AttrValue {
    bool isText;
    int number;
    const char *text;
};

bool accepted(int attribute, bool forSet) {
    if (attribute < COMBO_ATTR_HEIGHT || attribute > COMBO_ATTR_MAX_ENTRY_LENGTH)
        return false;
    return !forSet ||
           (attribute != COMBO_ATTR_HEIGHT && attribute != COMBO_ATTR_TEXT_FONT_NAME_LENGTH);
}

// After a font change: ring square to the text's height, frame around both.
int relayout(const ComboRec &r) {
    const int p = r.panelHandle;
    int h = 0, w = 0, x = 0, status = 0;
    if ((status = GetCtrlAttribute(p, r.stringCtrl, ATTR_HEIGHT, &h)) < 0 ||
        (status = GetCtrlAttribute(p, r.stringCtrl, ATTR_WIDTH, &w)) < 0 ||
        (status = GetCtrlAttribute(p, r.frameCtrl, ATTR_LEFT, &x)) < 0 ||
        (status = SetCtrlAttribute(p, r.ringCtrl, ATTR_HEIGHT, h)) < 0 ||
        (status = SetCtrlAttribute(p, r.ringCtrl, ATTR_WIDTH, h)) < 0 ||
        (status = SetCtrlAttribute(p, r.frameCtrl, ATTR_HEIGHT, sum(h, 2))) < 0 ||
        (status = SetCtrlAttribute(p, r.frameCtrl, ATTR_WIDTH, sum(h, w))) < 0 ||
        (status = SetCtrlAttribute(p, r.stringCtrl, ATTR_LEFT, sum(x, h, -1))) < 0)
        return status;
    return 0;
}

// Writes `platformAttr` := v on the listed controls in order, stopping at the first failure.
template <typename V> int writeAll(int panel, std::initializer_list<int> controls, int attr, V v) {
    for (int c : controls) {
        const int status = SetCtrlAttribute(panel, c, attr, v);
        if (status < 0)
            return status;
    }
    return 0;
}

int setAttribute(ComboRec &r, int attribute, const AttrValue &value) {
    const int p = r.panelHandle, s = r.stringCtrl, ring = r.ringCtrl, f = r.frameCtrl;
    if (attribute == COMBO_ATTR_TEXT_FONT) {
        if (!value.isText || !value.text)
            return kUIEValueInvalid;
        const int status = writeAll(p, {s, ring}, ATTR_TEXT_FONT, value.text);
        return status < 0 ? status : relayout(r);
    }
    if (value.isText)
        return kUIEValueInvalid;
    const int v = value.number;
    int status = 0, ringWidth = 0;
    switch (attribute) {
    case COMBO_ATTR_WIDTH:
        if ((status = SetCtrlAttribute(p, f, ATTR_WIDTH, v)) < 0 ||
            (status = GetCtrlAttribute(p, ring, ATTR_WIDTH, &ringWidth)) < 0)
            return status;
        return SetCtrlAttribute(p, s, ATTR_WIDTH, sum(v, -static_cast<long long>(ringWidth)));
    case COMBO_ATTR_TEXT_COLOR:
        return SetCtrlAttribute(p, s, ATTR_TEXT_COLOR, v);
    case COMBO_ATTR_FRAME_COLOR:
        return writeAll(p, {s, ring, f}, ATTR_FRAME_COLOR, v);
    case COMBO_ATTR_TEXT_POINT_SIZE:
        status = writeAll(p, {s, ring}, ATTR_TEXT_POINT_SIZE, v);
        return status < 0 ? status : relayout(r);
    case COMBO_ATTR_TEXT_BOLD:
        return writeAll(p, {ring, s}, ATTR_TEXT_BOLD, v);
    case COMBO_ATTR_TEXT_ITALIC:
        return writeAll(p, {ring, s}, ATTR_TEXT_ITALIC, v);
    case COMBO_ATTR_LEFT:
        if ((status = GetCtrlAttribute(p, ring, ATTR_WIDTH, &ringWidth)) < 0 ||
            (status = SetCtrlAttribute(p, s, ATTR_LEFT, sum(v, ringWidth))) < 0 ||
            (status = SetCtrlAttribute(p, ring, ATTR_LEFT, sum(v, 1))) < 0)
            return status;
        return SetCtrlAttribute(p, f, ATTR_LEFT, v);
    case COMBO_ATTR_TOP:
        if ((status = SetCtrlAttribute(p, s, ATTR_TOP, sum(v, 1))) < 0 ||
            (status = SetCtrlAttribute(p, ring, ATTR_TOP, sum(v, 1))) < 0)
            return status;
        return SetCtrlAttribute(p, f, ATTR_TOP, v);
    case COMBO_ATTR_VISIBLE:
        return writeAll(p, {s, ring, f}, ATTR_VISIBLE, v);
    case COMBO_ATTR_DIMMED:
        return writeAll(p, {s, ring, f}, ATTR_DIMMED, v);
    case COMBO_ATTR_MAX_ENTRY_LENGTH:
        if ((status = SetCtrlAttribute(p, s, ATTR_MAX_ENTRY_LENGTH, v)) < 0)
            return status;
        r.entryLimit = entryLimitOf(v);
        return 0;
    default:
        return kComboAttrInvalid;
    }
}

int setComboAttribute(int panel, int stringCtrl, int attribute, const AttrValue &value) {
    RecordUse use(panel, stringCtrl, true);
    if (!use)
        return use.status();
    if (!accepted(attribute, true))
        return kComboAttrInvalid;
    return setAttribute(use.rec(), attribute, value);
}

// Where each attribute is read: the frame for size, place, visibility and dimming, the text
// field for the rest.
bool readFromFrame(int attribute) {
    switch (attribute) {
    case COMBO_ATTR_HEIGHT:
    case COMBO_ATTR_WIDTH:
    case COMBO_ATTR_LEFT:
    case COMBO_ATTR_TOP:
    case COMBO_ATTR_VISIBLE:
    case COMBO_ATTR_DIMMED:
        return true;
    default:
        return false;
    }
}

int platformAttribute(int attribute) {
    constexpr int table[] = {0,
                             ATTR_HEIGHT,
                             ATTR_WIDTH,
                             ATTR_TEXT_COLOR,
                             ATTR_FRAME_COLOR,
                             ATTR_TEXT_FONT,
                             ATTR_TEXT_FONT_NAME_LENGTH,
                             ATTR_TEXT_POINT_SIZE,
                             ATTR_TEXT_BOLD,
                             ATTR_TEXT_ITALIC,
                             ATTR_LEFT,
                             ATTR_TOP,
                             ATTR_VISIBLE,
                             ATTR_DIMMED,
                             ATTR_MAX_ENTRY_LENGTH};
    return table[attribute];
}

} // namespace

int Combo_SetComboAttribute(int panel, int stringCtrl, int attribute, int value) {
    return setComboAttribute(panel, stringCtrl, attribute, AttrValue{false, value, nullptr});
}

int Combo_SetComboAttribute(int panel, int stringCtrl, int attribute, const char *value) {
    return setComboAttribute(panel, stringCtrl, attribute, AttrValue{true, 0, value});
}

int Combo_GetComboAttribute(int panel, int stringCtrl, int attribute, int *value) {
    RecordUse use(panel, stringCtrl, true);
    if (!use)
        return use.status();
    if (!accepted(attribute, false))
        return kComboAttrInvalid;
    if (!value || attribute == COMBO_ATTR_TEXT_FONT)
        return kUIEValueInvalid;
    const ComboRec &r = use.rec();
    return GetCtrlAttribute(panel, readFromFrame(attribute) ? r.frameCtrl : r.stringCtrl,
                            platformAttribute(attribute), value);
}

int Combo_GetComboAttributeText(int panel, int stringCtrl, int attribute, char *value,
                                std::size_t size) {
    RecordUse use(panel, stringCtrl, true);
    if (!use)
        return use.status();
    if (!accepted(attribute, false))
        return kComboAttrInvalid;
    if (!value || size == 0 || attribute != COMBO_ATTR_TEXT_FONT)
        return kUIEValueInvalid;
    return GetCtrlAttributeText(panel, use.rec().stringCtrl, ATTR_TEXT_FONT, value, size);
}

// ---- The list. ----

int Combo_InsertComboItem(int panel, int stringCtrl, int index, const char *text) {
    const RecordUse use(panel, stringCtrl, false);
    if (!use)
        return use.status();
    return InsertListItem(panel, use.rec().ringCtrl, index, text, text);
}

int Combo_DeleteComboItem(int panel, int stringCtrl, int index, int count) {
    const RecordUse use(panel, stringCtrl, false);
    if (!use)
        return use.status();
    return DeleteListItem(panel, use.rec().ringCtrl, index, count);
}

int Combo_ReplaceComboItem(int panel, int stringCtrl, int index, const char *text) {
    const RecordUse use(panel, stringCtrl, false);
    if (!use)
        return use.status();
    return ReplaceListItem(panel, use.rec().ringCtrl, index, text, text);
}

int Combo_GetIndexFromValue(int panel, int stringCtrl, int *index, const char *text) {
    const RecordUse use(panel, stringCtrl, false);
    if (!use)
        return use.status();
    return GetIndexFromValue(panel, use.rec().ringCtrl, index, text);
}

} // namespace qv
