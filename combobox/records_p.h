// The combo box's live records and its checked allocations, shared by its sources:
//   records.cpp   the live records, IsComboBox, allocation
//   combobox.cpp  creation, removal, attributes, list operations
//   keyboard.cpp  the event handlers: completion, the list from the keyboard, Shift+Tab, commits
#pragma once

#include "combobox/combobox.h"

#include <cstddef>
#include <cstdlib>

namespace qv::combo_detail {

// Every allocation goes through here, so that running out stops an operation cleanly (and tests
// can make it run out: combo_testing::SetAllocator). Released with std::free.
void *allocate(std::size_t size);

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

// Takes a new record in (serial numbers count up); false when memory ran out.
bool enlistRecord(ComboRec *rec);
// Takes back a record whose creation failed: true when the caller frees it now, false when
// another thread holds it and frees it when it lets go.
bool withdrawRecord(ComboRec *rec);
// The serial number of a live record, which tells it from a later one at the same address.
unsigned long long serialOf(const ComboRec *rec);
// Lock and memory of a record nobody holds.
void freeRecord(ComboRec *rec);

// Holds a live record for the length of one operation: counted as busy, and locked when asked.
class RecordUse {
  public:
    // For callbacks and deferred calls: `data` is taken for a record only if it is a live one
    // (of that serial, when one is given).
    RecordUse(void *data, bool lock, unsigned long long serial = 0);
    // For operations addressed by (panel, control): IsComboBox, then as above.
    RecordUse(int panel, int control, bool lock);
    ~RecordUse();

    RecordUse(const RecordUse &) = delete;
    RecordUse &operator=(const RecordUse &) = delete;

    explicit operator bool() const { return rec_ != nullptr; }
    ComboRec &rec() const { return *rec_; }
    // 0 when the record is held, else why not.
    int status() const { return status_; }

    // Removal proper; the memory goes when the last user lets go.
    void markDiscarded();

  private:
    void takeLock(bool lock);
    void release();

    ComboRec *rec_ = nullptr;
    bool locked_ = false;
    int status_ = kComboWrongControl;
};

// 1 when the control is a combo box, else -45 or the status of the callback-data read.
int IsComboBox(int panel, int control);

} // namespace qv::combo_detail
