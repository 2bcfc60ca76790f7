// The panels and controls the run-time holds: panels shown, hidden and discarded, controls made
// and discarded at run time. runtime_p.h lists the files the rest of userint.h lives in.
#include "platform/userint.h"

#include "platform/canvas.h"
#include "platform/runtime_p.h"
#include "platform/testing.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QScreen>

namespace qv::rt {

namespace detail {

RunTime &rt() {
    static RunTime state;
    return state;
}

Panel *findPanel(int handle) {
    auto it = rt().panels.find(handle);
    return it == rt().panels.end() ? nullptr : it->second.get();
}

Control *findControl(int panel, int control, int *status) {
    Panel *p = findPanel(panel);
    if (!p) {
        if (status)
            *status = kUIEPanelInvalid;
        return nullptr;
    }
    Control *c = p->find(control);
    if (!c && status)
        *status = kUIECtrlInvalid;
    return c;
}

int withControl(int panel, int control, const std::function<int(Control &)> &fn) {
    int status = 0;
    Control *c = findControl(panel, control, &status);
    return c ? fn(*c) : status;
}

} // namespace detail

using namespace detail;

int DisplayPanel(int panel) {
    Panel *p = findPanel(panel);
    if (!p)
        return kUIEPanelInvalid;
    if (!p->window->isVisible())
        p->awaitingExpose = true;
    p->window->show();
    p->window->raise();
    p->window->activateWindow();
    return 0;
}

int HidePanel(int panel) {
    Panel *p = findPanel(panel);
    if (!p)
        return kUIEPanelInvalid;
    p->window->hide();
    return 0;
}

int SetPanelPos(int panel, int top, int left) {
    Panel *p = findPanel(panel);
    if (!p)
        return kUIEPanelInvalid;
    // The inside, not the frame: before its first showing nobody knows the frame's size.
    p->window->setGeometry(QRect(QPoint(left, top), p->window->size()));
    return 0;
}

int SetPanelSize(int panel, int height, int width) {
    Panel *p = findPanel(panel);
    if (!p)
        return kUIEPanelInvalid;
    if (height < 1 || width < 1)
        return kUIEValueInvalid;
    p->window->setFixedSize(width, height);
    return 0;
}

int GetScreenArea(int left, int top, ScreenArea *area) {
    if (!QGuiApplication::instance())
        return kUIENotInitialized;
    if (!area)
        return kUIEValueInvalid;
    QScreen *screen = QGuiApplication::screenAt(QPoint(left, top));
    const int found = screen ? 1 : 0;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect r = screen ? screen->availableGeometry() : QRect();
    *area = {r.left(), r.top(), r.width(), r.height()};
    return found;
}

int DiscardPanel(int panel) {
    auto it = rt().panels.find(panel);
    if (it == rt().panels.end())
        return kUIEPanelInvalid;
    std::unique_ptr<Panel> p = std::move(it->second);
    rt().panels.erase(it);
    p->refreshTimer.stop();
    delete p->window.data();
    return 0;
}

// ---- Controls made at run time. ----

int NewCtrl(int panel, int style, const char *label, int top, int left) {
    Panel *p = findPanel(panel);
    if (!p)
        return kUIEPanelInvalid;
    QSize size;
    switch (style) {
    case CTRL_STRING:
    case CTRL_STRING_LS:
        size = {120, 20};
        break;
    case CTRL_TEXT_MSG:
        size = {0, 0};
        break;
    case CTRL_POPUP_RING:
    case CTRL_POPUP_RING_LS:
        size = {20, 20};
        break;
    case CTRL_DECORATION:
    case CTRL_DECORATION_LS:
        size = {100, 40};
        break;
    default:
        return kUIEStyleInvalid;
    }
    auto c = std::make_unique<Control>();
    int id = 1;
    if (!p->controls.empty())
        id = p->controls.rbegin()->first + 1;
    c->id = id;
    c->style = style;
    c->panel = p;
    c->geometry = QRect(QPoint(left, top), size);
    c->text = label ? QByteArray(label) : QByteArray();
    c->captionPlace = style == CTRL_TEXT_MSG ? detail::LabelPlace::None : detail::LabelPlace::Top;
    if (style == CTRL_TEXT_MSG)
        c->bgColor = VAL_TRANSPARENT;
    if (c->isPopupRing())
        c->dataType = VAL_INTEGER;
    if (c->isPopupRing() || c->isDecoration())
        c->frameColor = 0xE0E0E0;
    Control &ref = *c;
    p->controls[id] = std::move(c);
    addToOrders(*p, id);
    const int status = buildWidget(*p, ref);
    if (status < 0) {
        p->controls.erase(id);
        for (auto *order : {&p->creationOrder, &p->tabOrder, &p->zOrder})
            order->erase(std::remove(order->begin(), order->end(), id), order->end());
        return status;
    }
    applyTabOrder(*p);
    applyZOrder(*p);
    if (p->window->isVisible())
        ref.widget->show();
    return id;
}

int DiscardCtrl(int panel, int control) {
    Panel *p = findPanel(panel);
    if (!p)
        return kUIEPanelInvalid;
    auto it = p->controls.find(control);
    if (it == p->controls.end())
        return kUIECtrlInvalid;
    std::unique_ptr<Control> c = std::move(it->second);
    p->controls.erase(it);
    for (auto *order : {&p->creationOrder, &p->tabOrder, &p->zOrder})
        order->erase(std::remove(order->begin(), order->end(), control), order->end());
    // The widget may be the one whose event is being handled right now.
    for (QWidget *w :
         {static_cast<QWidget *>(c->widget.data()), static_cast<QWidget *>(c->caption.data())})
        if (w) {
            w->hide();
            w->setProperty("qv_ctrl", QVariant());
            w->deleteLater();
        }
    applyTabOrder(*p);
    return 0;
}

int InstallCtrlCallback(int panel, int control, CtrlCallbackPtr callback, void *callbackData) {
    return withControl(panel, control, [&](Control &c) {
        c.callback = callback;
        c.callbackData = callbackData;
        return 0;
    });
}

int SetActiveCtrl(int panel, int control) {
    return withControl(panel, control, [&](Control &c) {
        if (!c.widget || !c.takesInput())
            return kUIEValueInvalid;
        c.widget->setFocus(Qt::OtherFocusReason);
        return 0;
    });
}

int GetActiveCtrl(int panel) {
    Panel *p = findPanel(panel);
    if (!p)
        return kUIEPanelInvalid;
    QWidget *w = p->window->focusWidget();
    while (w && w != p->window) {
        const QVariant id = w->property("qv_ctrl");
        if (id.isValid() && p->find(id.toInt()))
            return id.toInt();
        w = w->parentWidget();
    }
    return 0;
}

int DisplayImageFile(int panel, int control, const char *fileName) {
    return withControl(panel, control, [&](Control &c) {
        if (c.style != CTRL_PICTURE)
            return kUIETypeMismatch;
        if (!fileName)
            return kUIEFileNotFound;
        const QString path = resolvePath(fileName);
        if (!QFileInfo::exists(path))
            return kUIEFileNotFound;
        QPixmap pixmap;
        if (!pixmap.load(path))
            return kUIEImageInvalid;
        auto *l = static_cast<QLabel *>(c.widget.data());
        l->setPixmap(
            pixmap.scaled(c.geometry.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
        return 0;
    });
}

QWidget *CanvasWidget(int panel, int control) {
    Control *c = findControl(panel, control, nullptr);
    return c && c->style == CTRL_CANVAS ? c->widget.data() : nullptr;
}

} // namespace qv::rt

namespace qv::rt::testing {

QWidget *PanelWidget(int panel) {
    detail::Panel *p = detail::findPanel(panel);
    return p ? p->window.data() : nullptr;
}

QWidget *ControlWidget(int panel, int control) {
    detail::Control *c = detail::findControl(panel, control, nullptr);
    return c ? c->widget.data() : nullptr;
}

} // namespace qv::rt::testing
