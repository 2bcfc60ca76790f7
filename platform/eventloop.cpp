// Start-up of the run-time, the event loop, and the pumping a long handler does: events
// (ProcessSystemEvents) or drawing alone (ProcessDrawEvents).
#include "platform/hold_p.h"
#include "platform/runtime_p.h"
#include "platform/testing.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QStyleFactory>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include <clocale>
#include <cstdio>

namespace qv::rt {

using namespace detail;

int InitRunTimeEngine(int &argc, char **argv) {
    if (!QApplication::instance()) {
#if !defined(_WIN32) && !defined(__APPLE__)
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
            qEnvironmentVariableIsEmpty("DISPLAY") &&
            qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
            std::fprintf(stderr, "quorvat: no display to open a window on (DISPLAY is not set)\n");
            return 0;
        }
#endif
        // Lives as long as the process: panels and the event loop hang on it.
        new QApplication(argc, argv);
    }
    // Qt switches the C library to the desktop's locale on start-up; under de_DE.UTF-8 every
    // printf("%f") of the program then writes a decimal comma into files read by machines. Qt's
    // own number display takes its locale from the environment, not from here, and stays the
    // user's.
    std::setlocale(LC_NUMERIC, "C");
    // One look on every machine, whatever its desktop theme.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSize(9);
    QApplication::setFont(font);
    // The program ends through RunUserInterface, not when its last window is hidden.
    QApplication::setQuitOnLastWindowClosed(false);
    return 1;
}

int RunUserInterface() {
    RunTime &r = rt();
    if (r.quitPending) {
        r.quitPending = false;
        return r.quitCode;
    }
    QEventLoop loop;
    QEventLoop *outer = r.mainLoop;
    r.mainLoop = &loop;
    const int code = loop.exec();
    r.mainLoop = outer;
    return code;
}

int QuitUserInterface(int code) {
    RunTime &r = rt();
    if (r.mainLoop) {
        r.mainLoop->exit(code);
    } else {
        r.quitPending = true;
        r.quitCode = code;
    }
    return 0;
}

namespace {
unsigned long passes = 0;
} // namespace

unsigned long detail::eventPasses() {
    return passes;
}

int ProcessSystemEvents() {
    RunTime &r = rt();
    QAbstractEventDispatcher *d = QAbstractEventDispatcher::instance();
    if (!d)
        return kUIENotInitialized;
    ++passes;
    // A pass nested in a callback dispatches posted events only once something new is posted:
    // events posted before that callback began (a click's commit queued behind the click that
    // started it) would wait until it returns. They are delivered here, in their order.
    QCoreApplication::sendPostedEvents();
    if (!r.lastPumpIdle) {
        r.lastPumpIdle = !d->processEvents(QEventLoop::AllEvents);
        return 0;
    }
    // The caller pumped a moment ago and nothing came: rather than spin, sleep until the next
    // event, with a short guard so that the caller's clock is looked at again soon. Events (a
    // reply's bytes among them) end the sleep at once; the guard only decides how often an idle
    // wait wakes. Every wake costs: on a virtual machine 50 to 130 us of CPU, whatever the
    // process then does. At 10 ms a wait for a silent sensor takes about 1 % of a core (at 4 ms
    // up to 3 %), and overruns its 2 s limit by 10 ms at most.
    constexpr int kPumpGuardMs = 10;
    if (!r.pumpGuard) {
        r.pumpGuard = new QTimer;
        r.pumpGuard->setSingleShot(true);
        r.pumpGuard->setTimerType(Qt::PreciseTimer);
    }
    r.pumpGuard->start(kPumpGuardMs);
    const bool any = d->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    const bool guardFired = !r.pumpGuard->isActive();
    r.pumpGuard->stop();
    r.lastPumpIdle = !any || guardFired;
    return 0;
}

namespace {
// A window just shown appears once the window system has mapped it, a few milliseconds later.
// A drawing pass waits that long for it, at most this, once per showing.
constexpr int kExposeWaitMs = 300;

void releaseHeld() {
    RunTime &r = rt();
    if (--r.drawing > 0)
        return;
    std::vector<std::function<void()>> calls;
    calls.swap(r.held);
    for (auto &call : calls)
        QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(call),
                                  Qt::QueuedConnection);
}
} // namespace

int ProcessDrawEvents() {
    RunTime &r = rt();
    if (!QApplication::instance())
        return kUIENotInitialized;
    for (auto &[handle, p] : r.panels)
        flushDisplays(*p);
    // Only the window system's own events: the operator's input stays queued, sockets unread,
    // and any callback that falls due waits (callbacksHeld) until the next ordinary pump.
    ++r.drawing;
    const auto flags = QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers;
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        QCoreApplication::processEvents(flags);
        bool pending = false;
        for (auto &[handle, p] : r.panels) {
            const QWindow *w = p->window ? p->window->windowHandle() : nullptr;
            if (!p->awaitingExpose)
                continue;
            if (!w || !p->window->isVisible() || w->isExposed())
                p->awaitingExpose = false;
            else
                pending = true;
        }
        if (!pending || waited.elapsed() >= kExposeWaitMs)
            break;
        QThread::msleep(2);
    }
    for (auto &[handle, p] : r.panels) {
        p->awaitingExpose = false;
        if (p->window && p->window->isVisible())
            p->window->repaint();
    }
    QCoreApplication::processEvents(flags);
    if (r.drawHook)
        r.drawHook();
    releaseHeld();
    return 0;
}

int SetWaitCursor(int on) {
    if (!QApplication::instance())
        return kUIENotInitialized;
    if (on)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        while (QApplication::overrideCursor())
            QApplication::restoreOverrideCursor();
    return 0;
}

} // namespace qv::rt

namespace qv::rt::testing {

void FlushDisplays() {
    for (auto &[handle, p] : detail::rt().panels)
        detail::flushDisplays(*p);
}

void ResetPump() {
    detail::rt().lastPumpIdle = false;
}

void SetDrawHook(std::function<void()> hook) {
    detail::rt().drawHook = std::move(hook);
}

bool TakeQuitRequest() {
    const bool pending = detail::rt().quitPending;
    detail::rt().quitPending = false;
    return pending;
}

} // namespace qv::rt::testing
