// The multithreading part of our run-time: thread IDs, locks that their holder may take again,
// and calls deferred to a thread's event processing.
#pragma once

#include "platform/userint.h"

namespace qv::rt {

// ---- Status codes of this part. 0 is success. ----
constexpr int kCmtOutOfMemory = -12;  // no memory for a new lock
constexpr int kCmtLockInvalid = -30;  // no lock with that handle (never made, or discarded)
constexpr int kCmtNotLockOwner = -31; // released by a thread that does not hold it
constexpr int kCmtLockInUse = -32;    // discarded while another thread holds or awaits it
constexpr int kCmtValueInvalid = -33; // null pointer where a result is needed

// The calling thread's ID: a small positive number, the same for the thread's whole life and
// never given to another thread of the process.
unsigned int CmtGetCurrentThreadID();

// Locks. A thread that holds a lock may take it again; it is free once released as often as it
// was taken. Handles are positive and not reused within a run.
// `name` and `options` are accepted for the caller's documentation only.
int CmtNewLock(const char *name, unsigned int options, int *lockHandle);
// Waits until the lock is free or already held by the calling thread, then takes it.
int CmtGetLock(int lockHandle);
int CmtReleaseLock(int lockHandle);
// Removes the lock. Refused while another thread holds or waits for it; a lock that only the
// calling thread holds goes with its holds.
int CmtDiscardLock(int lockHandle);

// Runs `function(callbackData)` later on the thread `threadId`, from that thread's event
// processing (it needs a Qt event loop; the user-interface thread always has one). Calls to one
// thread run in the order they were posted. Returns 0, kUIEThreadInvalid when no live thread with
// an event loop has that ID, or kUIEValueInvalid for a null function.
using DeferredCallbackPtr = void (*)(void *callbackData);
int PostDeferredCallToThread(DeferredCallbackPtr function, void *callbackData,
                             unsigned int threadId);

// Calls `function(callbackData)` every `intervalSeconds` on the user-interface thread, from its
// event processing, until DiscardRepeatingCall. A call never runs while the run-time only draws
// nor inside a call of its own that pumps events: a tick that falls due then is skipped, not
// queued. Returns a handle (> 0), kUIENotInitialized without an application object, or
// kUIEValueInvalid for a null function or an interval not above 0.
int NewRepeatingCall(DeferredCallbackPtr function, void *callbackData, double intervalSeconds);
// 0, or kUIEValueInvalid for a handle that names no repeating call.
int DiscardRepeatingCall(int handle);

} // namespace qv::rt
