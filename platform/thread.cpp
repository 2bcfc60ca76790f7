#include "platform/thread.h"

#include "platform/hold_p.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

namespace qv::rt {

namespace {

// ---- Thread IDs. ----

struct ThreadTable {
    std::mutex m;
    std::map<unsigned int, QThread *> threads;
    unsigned int next = 1;
};

// Never destroyed: threads may end after static objects are gone.
ThreadTable &threadTable() {
    static auto *table = new ThreadTable;
    return *table;
}

// Registers the thread on its first use and unregisters it when the thread ends, before Qt lets
// go of the thread's QThread object; PostDeferredCallToThread holds the table while it looks at
// that object, so an ending thread waits until the post is done.
struct ThisThread {
    unsigned int id = 0;
    ThisThread() {
        ThreadTable &t = threadTable();
        const std::lock_guard<std::mutex> hold(t.m);
        id = t.next++;
        t.threads[id] = QThread::currentThread();
    }
    ~ThisThread() {
        ThreadTable &t = threadTable();
        const std::lock_guard<std::mutex> hold(t.m);
        t.threads.erase(id);
    }
    ThisThread(const ThisThread &) = delete;
    ThisThread &operator=(const ThisThread &) = delete;
};

// ---- Locks. ----

struct Lock {
    std::mutex m;
    std::condition_variable freed;
    std::thread::id owner;
    int depth = 0;   // holds by the owner
    int waiting = 0; // threads blocked in CmtGetLock
    bool gone = false;
};

struct LockTable {
    std::mutex m;
    std::map<int, std::shared_ptr<Lock>> locks;
    int next = 1;
};

LockTable &lockTable() {
    static auto *table = new LockTable;
    return *table;
}

// A waiter keeps its lock alive through the shared pointer even if the handle goes meanwhile.
std::shared_ptr<Lock> findLock(int handle) {
    LockTable &t = lockTable();
    const std::lock_guard<std::mutex> hold(t.m);
    const auto it = t.locks.find(handle);
    return it == t.locks.end() ? nullptr : it->second;
}

// A deferred call is the program's code: it waits out a drawing pass like any callback.
void runDeferred(DeferredCallbackPtr function, void *callbackData) {
    if (detail::callbacksHeld())
        detail::runWhenReleased([function, callbackData] { runDeferred(function, callbackData); });
    else
        function(callbackData);
}

} // namespace

unsigned int CmtGetCurrentThreadID() {
    thread_local ThisThread self;
    return self.id;
}

int CmtNewLock(const char *name, unsigned int options, int *lockHandle) {
    (void)name;
    (void)options;
    if (!lockHandle)
        return kCmtValueInvalid;
    try {
        auto lock = std::make_shared<Lock>();
        LockTable &t = lockTable();
        const std::lock_guard<std::mutex> hold(t.m);
        if (t.next <= 0) // every handle of the run has been given out
            return kCmtOutOfMemory;
        t.locks[t.next] = std::move(lock);
        *lockHandle = t.next++;
        return 0;
    } catch (const std::bad_alloc &) {
        return kCmtOutOfMemory;
    }
}

int CmtGetLock(int lockHandle) {
    const std::shared_ptr<Lock> lock = findLock(lockHandle);
    if (!lock)
        return kCmtLockInvalid;
    const std::thread::id me = std::this_thread::get_id();
    std::unique_lock<std::mutex> hold(lock->m);
    if (lock->gone)
        return kCmtLockInvalid;
    if (lock->depth > 0 && lock->owner == me) {
        ++lock->depth;
        return 0;
    }
    ++lock->waiting;
    lock->freed.wait(hold, [&] { return lock->depth == 0 || lock->gone; });
    --lock->waiting;
    if (lock->gone)
        return kCmtLockInvalid;
    lock->owner = me;
    lock->depth = 1;
    return 0;
}

int CmtReleaseLock(int lockHandle) {
    const std::shared_ptr<Lock> lock = findLock(lockHandle);
    if (!lock)
        return kCmtLockInvalid;
    const std::lock_guard<std::mutex> hold(lock->m);
    if (lock->depth == 0 || lock->owner != std::this_thread::get_id())
        return kCmtNotLockOwner;
    if (--lock->depth == 0) {
        lock->owner = std::thread::id();
        lock->freed.notify_one();
    }
    return 0;
}

int CmtDiscardLock(int lockHandle) {
    LockTable &t = lockTable();
    const std::lock_guard<std::mutex> holdTable(t.m);
    const auto it = t.locks.find(lockHandle);
    if (it == t.locks.end())
        return kCmtLockInvalid;
    Lock &lock = *it->second;
    {
        const std::lock_guard<std::mutex> hold(lock.m);
        if ((lock.depth > 0 && lock.owner != std::this_thread::get_id()) || lock.waiting > 0)
            return kCmtLockInUse;
        lock.gone = true;
        lock.depth = 0;
    }
    t.locks.erase(it);
    return 0;
}

int PostDeferredCallToThread(DeferredCallbackPtr function, void *callbackData,
                             unsigned int threadId) {
    if (!function)
        return kUIEValueInvalid;
    ThreadTable &t = threadTable();
    const std::lock_guard<std::mutex> hold(t.m);
    const auto it = t.threads.find(threadId);
    if (it == t.threads.end())
        return kUIEThreadInvalid;
    // The dispatcher lives in the target thread, so a call queued on it runs there.
    QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance(it->second);
    if (!dispatcher)
        return kUIEThreadInvalid;
    const bool posted = QMetaObject::invokeMethod(
        dispatcher, [function, callbackData] { runDeferred(function, callbackData); },
        Qt::QueuedConnection);
    return posted ? 0 : kUIEThreadInvalid;
}

namespace {
std::map<int, QTimer *> &repeatingCalls() {
    static std::map<int, QTimer *> calls;
    return calls;
}
} // namespace

int NewRepeatingCall(DeferredCallbackPtr function, void *callbackData, double intervalSeconds) {
    if (!function || !(intervalSeconds > 0))
        return kUIEValueInvalid;
    if (!QCoreApplication::instance())
        return kUIENotInitialized;
    static int next = 1;
    const int handle = next++;
    auto *timer = new QTimer(QCoreApplication::instance());
    timer->setInterval(static_cast<int>(intervalSeconds * 1000));
    auto running = std::make_shared<bool>(false);
    QObject::connect(timer, &QTimer::timeout, [function, callbackData, running] {
        if (*running || detail::callbacksHeld())
            return;
        *running = true;
        function(callbackData);
        *running = false;
    });
    timer->start();
    repeatingCalls()[handle] = timer;
    return handle;
}

int DiscardRepeatingCall(int handle) {
    const auto it = repeatingCalls().find(handle);
    if (it == repeatingCalls().end())
        return kUIEValueInvalid;
    // It may be the caller's own tick that discards it.
    it->second->stop();
    it->second->deleteLater();
    repeatingCalls().erase(it);
    return 0;
}

} // namespace qv::rt
