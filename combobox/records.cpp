// The combo box's live records: which callback data is a combo box, who holds one, and when
// a discarded one is freed; and the checked allocations.
#include "combobox/records_p.h"

#include "combobox/testing.h"
#include "platform/thread.h"

#include <map>
#include <mutex>
#include <new>

namespace qv::combo_detail {

using namespace rt;

namespace {

combo_testing::Allocator g_allocator = nullptr;

struct LiveEntry {
    unsigned long long serial = 0;
    int busy = 0;
    bool discarded = false;
};

std::mutex g_liveMutex;
std::map<const ComboRec *, LiveEntry> g_live;
unsigned long long g_nextSerial = 1;

} // namespace

void *allocate(std::size_t size) {
    return g_allocator ? g_allocator(size) : std::malloc(size);
}

bool enlistRecord(ComboRec *rec) {
    try {
        const std::lock_guard<std::mutex> hold(g_liveMutex);
        g_live[rec] = LiveEntry{g_nextSerial++, 0, false};
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

bool withdrawRecord(ComboRec *rec) {
    const std::lock_guard<std::mutex> hold(g_liveMutex);
    const auto it = g_live.find(rec);
    if (it->second.busy > 0) {
        it->second.discarded = true;
        return false;
    }
    g_live.erase(it);
    return true;
}

unsigned long long serialOf(const ComboRec *rec) {
    const std::lock_guard<std::mutex> hold(g_liveMutex);
    return g_live.find(rec)->second.serial;
}

void freeRecord(ComboRec *rec) {
    CmtDiscardLock(rec->lock);
    rec->~ComboRec();
    std::free(rec);
}

RecordUse::RecordUse(void *data, bool lock, unsigned long long serial) {
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

RecordUse::RecordUse(int panel, int control, bool lock) {
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

RecordUse::~RecordUse() {
    if (!rec_)
        return;
    if (locked_)
        CmtReleaseLock(rec_->lock);
    release();
}

void RecordUse::markDiscarded() {
    const std::lock_guard<std::mutex> hold(g_liveMutex);
    g_live.find(rec_)->second.discarded = true;
}

void RecordUse::takeLock(bool lock) {
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

void RecordUse::release() {
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

int IsComboBox(int panel, int control) {
    const RecordUse use(panel, control, false);
    return use ? 1 : use.status();
}

} // namespace qv::combo_detail

namespace qv::combo_testing {

void SetAllocator(Allocator allocator) {
    combo_detail::g_allocator = allocator;
}

} // namespace qv::combo_testing
