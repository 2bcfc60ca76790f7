#include "combobox/combobox.h"

#include "combobox/testing.h"
#include "platform/thread.h"
#include "platform/utility.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>

namespace qv {

using namespace rt;

namespace {

// ---- Memory. Allocations are checked, so that running out stops an operation cleanly. ----

combo_testing::Allocator g_allocator = nullptr;

void *allocate(std::size_t size) {
    return g_allocator ? g_allocator(size) : std::malloc(size);
}

// A short-lived text buffer, freed when it goes out of scope.
class Buffer {
  public:
    explicit Buffer(std::size_t size) : p_(static_cast<char *>(allocate(size))) {
        if (p_)
            p_[0] = '\0';
    }
    ~Buffer() { std::free(p_); }
    Buffer(const Buffer &) = delete;
    Buffer &operator=(const Buffer &) = delete;
    char *get() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

  private:
    char *p_;
};

// ---- The live records. ----
// A control's callback data may be anything the program put there, so a pointer is taken for a
// record only when it is one of these. A record discarded while one of its operations or
// callbacks is still running is freed when the last of them ends.

struct LiveEntry {
    unsigned long long serial = 0;
    int busy = 0;
    bool discarded = false;
};

std::mutex g_liveMutex;
std::map<const ComboRec *, LiveEntry> g_live;
unsigned long long g_nextSerial = 1;

// Shared by all combo boxes: whether the next typed change of a text field is completed.
int autoCompleteOn = 1;

void freeRecord(ComboRec *rec) {
    CmtDiscardLock(rec->lock);
    rec->~ComboRec();
    std::free(rec);
}

// Holds a live record for the length of one operation: counted as busy, and locked when asked.
class RecordUse {
  public:
    // For callbacks and deferred calls: `data` is taken for a record only if it is a live one
    // (of that serial, when one is given).
    RecordUse(void *data, bool lock, unsigned long long serial = 0) {
        {
            const std::lock_guard<std::mutex> hold(g_liveMutex);
            const auto it = g_live.find(static_cast<const ComboRec *>(data));
            if (it == g_live.end() || it->second.discarded ||
                (serial != 0 && it->second.serial != serial))
                return;
            ++it->second.busy;
            rec_ = static_cast<ComboRec *>(data);
        }
        takeLock(lock);
    }

    // For operations addressed by (panel, control): IsComboBox, then as above.
    RecordUse(int panel, int control, bool lock) {
        void *data = nullptr;
        status_ = GetCtrlAttribute(panel, control, ATTR_CALLBACK_DATA, &data);
        if (status_ < 0)
            return;
        status_ = kComboWrongControl;
        if (!data)
            return;
        {
            const std::lock_guard<std::mutex> hold(g_liveMutex);
            const auto it = g_live.find(static_cast<const ComboRec *>(data));
            if (it == g_live.end() || it->second.discarded)
                return;
            const auto *rec = static_cast<const ComboRec *>(data);
            // A record reached through another control's callback data is not this combo box.
            if (rec->marker != kComboMarker || rec->panelHandle != panel ||
                (control != rec->stringCtrl && control != rec->ringCtrl))
                return;
            ++it->second.busy;
            rec_ = static_cast<ComboRec *>(data);
        }
        status_ = 0;
        takeLock(lock);
    }

    ~RecordUse() {
        if (!rec_)
            return;
        if (locked_)
            CmtReleaseLock(rec_->lock);
        release();
    }

    RecordUse(const RecordUse &) = delete;
    RecordUse &operator=(const RecordUse &) = delete;

    explicit operator bool() const { return rec_ != nullptr; }
    ComboRec &rec() const { return *rec_; }
    // 0 when the record is held, else why not.
    int status() const { return status_; }

    // Removal proper; the memory goes when the last user lets go.
    void markDiscarded() {
        const std::lock_guard<std::mutex> hold(g_liveMutex);
        g_live.find(rec_)->second.discarded = true;
    }

  private:
    void takeLock(bool lock) {
        if (!lock)
            return;
        const int status = CmtGetLock(rec_->lock);
        bool gone = false;
        if (status == 0) {
            // Another thread may have removed the combo box while this one waited.
            const std::lock_guard<std::mutex> hold(g_liveMutex);
            gone = g_live.find(rec_)->second.discarded;
        }
        if (status == 0 && !gone) {
            locked_ = true;
            return;
        }
        if (status == 0)
            CmtReleaseLock(rec_->lock);
        status_ = status < 0 ? status : kComboWrongControl;
        release();
    }

    void release() {
        bool last = false;
        {
            const std::lock_guard<std::mutex> hold(g_liveMutex);
            const auto it = g_live.find(rec_);
            if (--it->second.busy == 0 && it->second.discarded) {
                g_live.erase(it);
                last = true;
            }
        }
        if (last)
            freeRecord(rec_);
        rec_ = nullptr;
    }

    ComboRec *rec_ = nullptr;
    bool locked_ = false;
    int status_ = kComboWrongControl;
};

// 1 when the control is a combo box, else -45 or the status of the callback-data read.
int IsComboBox(int panel, int control) {
    const RecordUse use(panel, control, false);
    return use ? 1 : use.status();
}

int handOn(const ComboRec &r, int panel, int event, int eventData1, int eventData2) {
    if (!r.userCallback)
        return 0;
    return r.userCallback(panel, r.stringCtrl, event, r.userCallbackData, eventData1, eventData2);
}

// Sums of positions and sizes, held to the int range: a caller's extreme value must not overflow.
int sum(long long a, long long b, long long c = 0) {
    return static_cast<int>(
        std::clamp(a + b + c, static_cast<long long>(INT_MIN), static_cast<long long>(INT_MAX)));
}

// entryLimit for a maximum entry length.
int entryLimitOf(int maxLength) {
    return maxLength == -1 ? -1 : sum(maxLength, 1);
}

int limitOf(const ComboRec &r) {
    return r.entryLimit > 0 ? r.entryLimit - 1 : 0; // the maximum entry length
}

// ---- Creation. ----

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
        bool freeNow = true;
        if (live) {
            // Another thread that found the record meanwhile frees it when it lets go.
            const std::lock_guard<std::mutex> hold(g_liveMutex);
            const auto it = g_live.find(rec);
            if (it->second.busy > 0) {
                it->second.discarded = true;
                freeNow = false;
            } else {
                g_live.erase(it);
            }
        }
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

    try {
        const std::lock_guard<std::mutex> hold(g_liveMutex);
        g_live[rec] = LiveEntry{g_nextSerial++, 0, false};
    } catch (const std::bad_alloc &) {
        return undo(kComboOutOfMemory);
    }
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

// ---- Attributes. ----

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

// ---- Events. ----

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

// ---- Creation and removal. ----

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

// ---- Event handling. ----

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
    {
        const std::lock_guard<std::mutex> hold(g_liveMutex);
        *token = CommitToken{record, g_live.find(record)->second.serial};
    }
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

namespace qv::combo_testing {

void SetAllocator(Allocator allocator) {
    g_allocator = allocator;
}

} // namespace qv::combo_testing
