// Events: what reaches the program's callbacks from the operator (clicks, keys, focus, the close
// box), only while the control is live, and held while the run-time only draws.
#include "platform/hold_p.h"
#include "platform/runtime_p.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QThread>

namespace qv::rt::detail {

bool isLive(const Control &c) {
    return !c.dimmed && c.visible && c.panel && c.panel->window && c.panel->window->isVisible();
}

void deliverControlEvent(int panel, int control, int event, int data1, int data2) {
    if (callbacksHeld()) {
        runWhenReleased([=] { deliverControlEvent(panel, control, event, data1, data2); });
        return;
    }
    Control *c = findControl(panel, control, nullptr);
    if (c && c->callback && isLive(*c))
        c->callback(panel, control, event, c->callbackData, data1, data2);
}

void postControlEvent(int panel, int control, int event, int data1, int data2) {
    Panel *p = findPanel(panel);
    if (!p || !p->window)
        return;
    QMetaObject::invokeMethod(
        p->window, [=] { deliverControlEvent(panel, control, event, data1, data2); },
        Qt::QueuedConnection);
}

namespace {

// The control a widget belongs to, on the same panel, or null.
Control *controlOfWidget(const Panel &p, const QWidget *w) {
    const QVariant id = w ? w->property("qv_ctrl") : QVariant();
    return id.isValid() ? const_cast<Panel &>(p).find(id.toInt()) : nullptr;
}

// ---- Keys. ----
int keyCodeOf(const QKeyEvent *e) {
    int vkey = 0;
    const int k = e->key();
    switch (k) {
    case Qt::Key_Backspace:
        vkey = VAL_BACKSPACE_VKEY;
        break;
    case Qt::Key_Delete:
        vkey = VAL_FWD_DELETE_VKEY;
        break;
    case Qt::Key_Escape:
        vkey = VAL_ESC_VKEY;
        break;
    case Qt::Key_Tab:
        vkey = VAL_TAB_VKEY;
        break;
    case Qt::Key_Backtab:
        vkey = VAL_TAB_VKEY;
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        vkey = VAL_ENTER_VKEY;
        break;
    case Qt::Key_Up:
        vkey = VAL_UP_ARROW_VKEY;
        break;
    case Qt::Key_Down:
        vkey = VAL_DOWN_ARROW_VKEY;
        break;
    case Qt::Key_Left:
        vkey = VAL_LEFT_ARROW_VKEY;
        break;
    case Qt::Key_Right:
        vkey = VAL_RIGHT_ARROW_VKEY;
        break;
    case Qt::Key_Home:
        vkey = VAL_HOME_VKEY;
        break;
    case Qt::Key_End:
        vkey = VAL_END_VKEY;
        break;
    case Qt::Key_PageUp:
        vkey = VAL_PAGE_UP_VKEY;
        break;
    case Qt::Key_PageDown:
        vkey = VAL_PAGE_DOWN_VKEY;
        break;
    case Qt::Key_Insert:
        vkey = VAL_INSERT_VKEY;
        break;
    default:
        if (k >= Qt::Key_F1 && k <= Qt::Key_F12)
            vkey = VAL_F1_VKEY + (k - Qt::Key_F1) * 0x100;
    }
    const Qt::KeyboardModifiers m = e->modifiers();
    int mods = 0;
    if (m & Qt::ControlModifier)
        mods |= VAL_MENUKEY_MODIFIER;
    if (m & Qt::AltModifier)
        mods |= VAL_ALT_MODIFIER;
    if (vkey) {
        if ((m & Qt::ShiftModifier) || k == Qt::Key_Backtab)
            mods |= VAL_SHIFT_MODIFIER;
        return vkey | mods;
    }
    // A character: its Latin-1 byte. With Ctrl the text is a control character, so take the key.
    int ch = 0;
    const QString t = e->text();
    if (!t.isEmpty() && t.at(0).unicode() >= 0x20 && t.at(0).unicode() < 0x100 &&
        t.at(0).unicode() != 0x7F)
        ch = t.at(0).unicode();
    else if (k >= 0x20 && k < 0x7F)
        ch = (m & Qt::ShiftModifier) ? k : QChar(k).toLower().unicode();
    return ch ? (ch | mods) : 0;
}

QKeyEvent *keyEventFor(int code, QEvent::Type type) {
    const int vkey = code & VAL_VKEY_MASK;
    Qt::KeyboardModifiers m;
    if (code & VAL_SHIFT_MODIFIER)
        m |= Qt::ShiftModifier;
    if (code & VAL_MENUKEY_MODIFIER)
        m |= Qt::ControlModifier;
    if (code & VAL_ALT_MODIFIER)
        m |= Qt::AltModifier;
    if (vkey) {
        int key = 0;
        switch (vkey) {
        case VAL_BACKSPACE_VKEY:
            key = Qt::Key_Backspace;
            break;
        case VAL_FWD_DELETE_VKEY:
            key = Qt::Key_Delete;
            break;
        case VAL_ESC_VKEY:
            key = Qt::Key_Escape;
            break;
        case VAL_TAB_VKEY:
            key = (m & Qt::ShiftModifier) ? Qt::Key_Backtab : Qt::Key_Tab;
            break;
        case VAL_ENTER_VKEY:
            key = Qt::Key_Return;
            break;
        case VAL_UP_ARROW_VKEY:
            key = Qt::Key_Up;
            break;
        case VAL_DOWN_ARROW_VKEY:
            key = Qt::Key_Down;
            break;
        case VAL_LEFT_ARROW_VKEY:
            key = Qt::Key_Left;
            break;
        case VAL_RIGHT_ARROW_VKEY:
            key = Qt::Key_Right;
            break;
        case VAL_HOME_VKEY:
            key = Qt::Key_Home;
            break;
        case VAL_END_VKEY:
            key = Qt::Key_End;
            break;
        case VAL_PAGE_UP_VKEY:
            key = Qt::Key_PageUp;
            break;
        case VAL_PAGE_DOWN_VKEY:
            key = Qt::Key_PageDown;
            break;
        case VAL_INSERT_VKEY:
            key = Qt::Key_Insert;
            break;
        default:
            if (vkey >= VAL_F1_VKEY && vkey <= VAL_F1_VKEY + 11 * 0x100)
                key = Qt::Key_F1 + (vkey - VAL_F1_VKEY) / 0x100;
        }
        if (!key)
            return nullptr;
        return new QKeyEvent(type, key, m);
    }
    const int ch = code & VAL_ASCII_KEY_MASK;
    if (!ch)
        return nullptr;
    const QChar c(static_cast<char16_t>(ch));
    int key = c.toUpper().unicode();
    if (ch == ' ')
        key = Qt::Key_Space;
    return new QKeyEvent(type, key, m, QString(c));
}

} // namespace

bool callbacksHeld() {
    return rt().drawing > 0 && QThread::currentThread() == QCoreApplication::instance()->thread();
}

void runWhenReleased(std::function<void()> call) {
    rt().held.push_back(std::move(call));
}

void PanelWindow::closeEvent(QCloseEvent *event) {
    event->ignore();
    const int handle = handle_;
    QMetaObject::invokeMethod(
        this, [handle] { deliverClose(handle); }, Qt::QueuedConnection);
}

void PanelWindow::deliverClose(int handle) {
    if (callbacksHeld()) {
        runWhenReleased([handle] { deliverClose(handle); });
        return;
    }
    Panel *p = findPanel(handle);
    if (p && p->callback)
        p->callback(handle, EVENT_CLOSE, p->callbackData, 0, 0);
}

bool PanelWindow::eventFilter(QObject *watched, QEvent *event) {
    const QVariant idProp = watched->property("qv_ctrl");
    if (!idProp.isValid())
        return false;
    const int id = idProp.toInt();
    Control *c = findControl(handle_, id, nullptr);
    if (!c || !c->callback)
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto *me = static_cast<QMouseEvent *>(event);
        if (me->button() != Qt::RightButton)
            return false;
        const QPoint pos = me->position().toPoint();
        postControlEvent(handle_, id, EVENT_RIGHT_CLICK, pos.y(), pos.x());
        return true;
    }
    case QEvent::ContextMenu:
        return true;
    case QEvent::KeyPress: {
        auto *ke = static_cast<QKeyEvent *>(event);
        const int code = keyCodeOf(ke);
        if (!code)
            return false;
        if (callbacksHeld()) {
            // A posted key (FakeKeystroke) met a drawing pass: it goes back in the queue whole.
            QPointer<QObject> target(watched);
            auto *again = new QKeyEvent(ke->type(), ke->key(), ke->modifiers(), ke->text());
            runWhenReleased([target, again] {
                if (target)
                    QCoreApplication::postEvent(target, again);
                else
                    delete again;
            });
            return true;
        }
        if (!isLive(*c))
            return true;
        QWidget *before = QApplication::focusWidget();
        const int result = c->callback(handle_, id, EVENT_KEYPRESS, c->callbackData, code, 0);
        // A handler that moved the focus has dealt with the key; giving it to the control as
        // well would move the focus a second time (Tab) or act on the wrong control.
        return result != 0 || QApplication::focusWidget() != before;
    }
    case QEvent::FocusIn:
        postControlEvent(handle_, id, EVENT_GOT_FOCUS);
        return false;
    case QEvent::FocusOut: {
        // A string control commits when the operator leaves it after a change, as a numeric
        // one does: an address typed and then tried is an address entered. A pop-up window or
        // another panel taking the focus is no leaving. Nor is a pop-up ring, the list beside
        // a field: the field commits when the focus leaves that list for a third control.
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason == Qt::PopupFocusReason || reason == Qt::ActiveWindowFocusReason)
            return false;
        Panel &p = *c->panel;
        const Control *to = controlOfWidget(p, QApplication::focusWidget());
        Control *field = c->isString() ? c : c->isPopupRing() ? p.find(p.fieldBeforeList) : nullptr;
        if (c->isPopupRing())
            p.fieldBeforeList = 0;
        if (!field || !field->edited || to == field)
            return false;
        if (c->isString() && to && to->isPopupRing()) {
            p.fieldBeforeList = c->id;
            return false;
        }
        field->edited = false;
        postControlEvent(handle_, field->id, EVENT_COMMIT);
        return false;
    }
    default:
        return false;
    }
}

} // namespace qv::rt::detail

namespace qv::rt {

using namespace detail;

int FakeKeystroke(int keyCode) {
    QWidget *target = QApplication::focusWidget();
    if (!target)
        return 0;
    QKeyEvent *press = keyEventFor(keyCode, QEvent::KeyPress);
    QKeyEvent *release = keyEventFor(keyCode, QEvent::KeyRelease);
    if (!press || !release) {
        delete press;
        delete release;
        return kUIEValueInvalid;
    }
    QApplication::postEvent(target, press);
    QApplication::postEvent(target, release);
    return 0;
}

} // namespace qv::rt
