#include "platform/userint.h"

#include "platform/canvas.h"
#include "platform/hold_p.h"
#include "platform/panel_p.h"
#include "platform/utility.h"
#include "platform/widgets_p.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFocusEvent>
#include <QFontInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QStandardPaths>
#include <QStyleFactory>
#include <QThread>
#include <QWindow>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace qv::rt {

using detail::Control;
using detail::ListItem;
using detail::Panel;

namespace detail {

class PanelWindow : public QWidget {
  public:
    explicit PanelWindow(int handle) : handle_(handle) {}

  protected:
    // The close box only reports; the program decides whether the panel goes.
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    static void deliverClose(int handle);
    int handle_;
};

namespace {

struct RunTime {
    std::map<int, std::unique_ptr<Panel>> panels;
    int nextHandle = 1;
    CallbackResolver resolver;
    PopupHandler popupHandler;
    SaveFileHandler saveFileHandler;
    QEventLoop *mainLoop = nullptr;
    bool quitPending = false;
    int quitCode = 0;
    bool lastPumpIdle = false;
    QTimer *pumpGuard = nullptr;
    int drawing = 0;                         // ProcessDrawEvents is under way
    std::vector<std::function<void()>> held; // callbacks due while it was
    std::function<void()> drawHook;          // tests: runs when a drawing pass is done
};

RunTime &rt() {
    static RunTime state;
    return state;
}

QColor rgb(int c) {
    return QColor((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF);
}

QString latin1(const QByteArray &bytes) {
    return QString::fromLatin1(bytes);
}
QString latin1(const char *text) {
    return QString::fromLatin1(text ? text : "");
}

bool copyOut(const QByteArray &bytes, char *dest, std::size_t size) {
    if (!dest || size == 0)
        return false;
    const std::size_t n = std::min(static_cast<std::size_t>(bytes.size()), size - 1);
    std::memcpy(dest, bytes.constData(), n);
    dest[n] = '\0';
    return true;
}

int borderOf(int style) {
    return (style == CTRL_STRING_LS || style == CTRL_POPUP_RING_LS || style == CTRL_DECORATION_LS)
               ? 2
               : 1;
}

// Whether the operator can use the control now: not dimmed, shown, on a panel that is shown.
bool isLive(const Control &c) {
    return !c.dimmed && c.visible && c.panel && c.panel->window && c.panel->window->isVisible();
}

// An operator's event reaches its control only if the control is live when the event is
// delivered, not merely when it was made: a click queued while the program was busy, or made
// just before a command dimmed the buttons, must not start a second command inside the first.
void deliverControlEvent(int panel, int control, int event, int data1, int data2) {
    if (callbacksHeld()) {
        runWhenReleased([=] { deliverControlEvent(panel, control, event, data1, data2); });
        return;
    }
    Control *c = findControl(panel, control, nullptr);
    if (c && c->callback && isLive(*c))
        c->callback(panel, control, event, c->callbackData, data1, data2);
}

// Runs a control's callback later from the event loop, by ID, so a control discarded in between
// is simply skipped, and a long handler never runs inside a Qt widget's own event handler.
void postControlEvent(int panel, int control, int event, int data1 = 0, int data2 = 0) {
    Panel *p = findPanel(panel);
    if (!p || !p->window)
        return;
    QMetaObject::invokeMethod(
        p->window, [=] { deliverControlEvent(panel, control, event, data1, data2); },
        Qt::QueuedConnection);
}

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

namespace {

// ---- Applying the model to widgets. ----

QFont fontOf(const Control &c) {
    QFont f = QApplication::font();
    if (!c.font.isEmpty() && c.font != "AppFont")
        f.setFamily(latin1(c.font));
    // Sizes count pixels, as the panels' layouts were drawn: a 12 is a line 15 pixels apart
    // from the next, whatever the screen's resolution.
    if (c.pointSize > 0)
        f.setPixelSize(c.pointSize);
    f.setBold(c.bold);
    f.setItalic(c.italic);
    return f;
}

QString numberText(const Control &c) {
    return QString::number(c.number);
}

void applyDisplay(Control &c) {
    c.displayDirty = false;
    QWidget *w = c.widget;
    if (!w)
        return;
    switch (c.style) {
    case CTRL_NUMERIC_INDICATOR:
        static_cast<QLabel *>(w)->setText(numberText(c));
        break;
    case CTRL_NUMERIC_BAR:
        static_cast<BarWidget *>(w)->setValue(static_cast<double>(c.number));
        break;
    case CTRL_TEXT_INDICATOR:
        static_cast<QLabel *>(w)->setText(latin1(c.text));
        break;
    case CTRL_TEXT_MSG: {
        auto *l = static_cast<QLabel *>(w);
        l->setText(latin1(c.text));
        l->adjustSize();
        c.geometry.setSize(l->size());
        break;
    }
    default:
        break;
    }
}

void flushDisplays(Panel &p) {
    for (auto &[id, c] : p.controls)
        if (c->displayDirty)
            applyDisplay(*c);
    p.sinceRefresh.restart();
}

// Displays change at the reading rate, which can be thousands a second; the operator cannot see
// faster than the screen. So a change is drawn from the event loop, together with every other
// change made until then (a reading changes fourteen), and a panel at most once per ~16 ms.
constexpr qint64 kRefreshMs = 16;

void displayChanged(Control &c) {
    c.displayDirty = true;
    Panel &p = *c.panel;
    if (p.refreshTimer.isActive())
        return; // the redraw already due takes this change along
    const qint64 since = p.sinceRefresh.isValid() ? p.sinceRefresh.elapsed() : kRefreshMs;
    p.refreshTimer.start(static_cast<int>(std::max<qint64>(0, kRefreshMs - since)));
}

void placeCaption(Control &c) {
    if (!c.caption)
        return;
    c.caption->adjustSize();
    const QSize s = c.caption->sizeHint();
    if (c.captionPlace == detail::LabelPlace::Left)
        c.caption->move(c.geometry.left() - s.width() - 6,
                        c.geometry.top() + (c.geometry.height() - s.height()) / 2);
    else
        c.caption->move(c.geometry.left() + c.captionDx, c.geometry.top() - s.height() - 1);
    c.caption->setVisible(c.visible);
}

void applyGeometry(Control &c) {
    if (c.widget)
        c.widget->setGeometry(c.geometry);
    placeCaption(c);
}

void applyLook(Control &c) {
    QWidget *w = c.widget;
    if (!w)
        return;
    w->setFont(fontOf(c));
    QPalette pal = w->palette();
    const QColor text = rgb(c.textColor);
    // A dimmed control shows its text faded, so the operator sees at once that it is off.
    const QColor faded = QColor((text.red() + 3 * 0xA0) / 4, (text.green() + 3 * 0xA0) / 4,
                                (text.blue() + 3 * 0xA0) / 4);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        pal.setColor(QPalette::Active, role, text);
        pal.setColor(QPalette::Inactive, role, text);
        pal.setColor(QPalette::Disabled, role, faded);
    }
    switch (c.style) {
    case CTRL_COMMAND_BUTTON:
        pal.setColor(QPalette::Button, rgb(c.buttonColor));
        break;
    case CTRL_TEXT_MSG:
        w->setAutoFillBackground(c.bgColor != VAL_TRANSPARENT);
        if (c.bgColor != VAL_TRANSPARENT)
            pal.setColor(QPalette::Window, rgb(c.bgColor));
        break;
    case CTRL_STRING:
    case CTRL_STRING_LS: {
        const int b = borderOf(c.style);
        const QColor frame = rgb(c.frameColor).darker(c.style == CTRL_STRING ? 100 : 110);
        static_cast<QLineEdit *>(w)->setStyleSheet(
            QStringLiteral("QLineEdit { border: %1px %2 %3; background: %4; color: %5;"
                           " padding: 0 2px; selection-background-color: #3874d8; }"
                           "QLineEdit:disabled { background: #f0f0f0; color: #909090; }")
                .arg(b)
                .arg(b == 1 ? "solid" : "inset")
                .arg(frame.name(), rgb(c.bgColor).name(), text.name()));
        break;
    }
    case CTRL_NUMERIC_INDICATOR:
    case CTRL_TEXT_INDICATOR:
        w->setAutoFillBackground(true);
        pal.setColor(QPalette::Window, rgb(c.bgColor));
        break;
    case CTRL_POPUP_RING:
    case CTRL_POPUP_RING_LS:
        static_cast<PopupRingButton *>(w)->setFaceColor(rgb(c.frameColor));
        static_cast<PopupRingButton *>(w)->setArrowOnly(c.arrowOnly != 0);
        break;
    case CTRL_DECORATION:
    case CTRL_DECORATION_LS:
        static_cast<DecorationWidget *>(w)->setColor(rgb(c.frameColor));
        break;
    default:
        break;
    }
    w->setPalette(pal);
    if (c.style == CTRL_TEXT_MSG)
        applyDisplay(c);
}

void applyTabOrder(Panel &p) {
    QWidget *prev = nullptr;
    for (int id : p.tabOrder) {
        Control *c = p.find(id);
        if (!c || !c->widget || !c->takesInput())
            continue;
        if (prev)
            QWidget::setTabOrder(prev, c->widget);
        prev = c->widget;
    }
}

void applyZOrder(Panel &p) {
    for (auto it = p.zOrder.rbegin(); it != p.zOrder.rend(); ++it) {
        Control *c = p.find(*it);
        if (c && c->widget)
            c->widget->raise();
        if (c && c->caption)
            c->caption->raise();
    }
}

void refreshRingWidget(Control &c) {
    if (c.style == CTRL_RING) {
        auto *box = static_cast<QComboBox *>(c.widget.data());
        if (!box)
            return;
        const QSignalBlocker block(box);
        box->clear();
        for (const ListItem &item : c.items)
            box->addItem(latin1(item.label));
        box->setCurrentIndex(c.current);
    } else if (c.isPopupRing()) {
        auto *button = static_cast<PopupRingButton *>(c.widget.data());
        if (button)
            button->setText(c.current >= 0 ? latin1(c.items[c.current].label) : QString());
    }
}

// A ring item was chosen by the operator.
void ringChosen(Panel &p, Control &c, int index) {
    if (index < 0 || index >= static_cast<int>(c.items.size()))
        return;
    c.current = index;
    refreshRingWidget(c);
    postControlEvent(p.handle, c.id, EVENT_VAL_CHANGED);
    postControlEvent(p.handle, c.id, EVENT_COMMIT);
}

void openPopupRing(Panel &p, Control &c) {
    auto *button = static_cast<PopupRingButton *>(c.widget.data());
    if (!button || c.items.empty() || QApplication::activePopupWidget())
        return;
    auto *menu = new QMenu(button);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->setFont(button->font());
    for (int i = 0; i < static_cast<int>(c.items.size()); ++i) {
        QAction *a = menu->addAction(latin1(c.items[i].label));
        a->setData(i);
        if (i == c.current)
            menu->setActiveAction(a);
    }
    const int handle = p.handle, id = c.id;
    QObject::connect(menu, &QMenu::triggered, menu, [handle, id](QAction *a) {
        Panel *panel = findPanel(handle);
        Control *ctrl = findControl(handle, id, nullptr);
        if (panel && ctrl)
            ringChosen(*panel, *ctrl, a->data().toInt());
    });
    menu->popup(button->mapToGlobal(QPoint(0, button->height())));
}

void tagWidget(QWidget *w, Panel &p, int id) {
    w->setProperty("qv_ctrl", id);
    w->installEventFilter(p.window);
    w->setContextMenuPolicy(Qt::PreventContextMenu);
    for (QWidget *child : w->findChildren<QWidget *>()) {
        child->setProperty("qv_ctrl", id);
        child->installEventFilter(p.window);
        child->setContextMenuPolicy(Qt::PreventContextMenu);
    }
}

// Builds the widget for a control whose style, geometry and attributes are set.
int buildWidget(Panel &p, Control &c) {
    QWidget *parent = p.window;
    const int handle = p.handle, id = c.id;
    QWidget *w = nullptr;
    switch (c.style) {
    case CTRL_COMMAND_BUTTON: {
        auto *b = new QPushButton(latin1(c.text), parent);
        b->setAutoDefault(false);
        QObject::connect(b, &QPushButton::clicked, b,
                         [handle, id] { postControlEvent(handle, id, EVENT_COMMIT); });
        c.text.clear();
        w = b;
        break;
    }
    case CTRL_NUMERIC: {
        auto *s = new QSpinBox(parent);
        s->setRange(static_cast<int>(c.minValue), static_cast<int>(c.maxValue));
        s->setValue(static_cast<int>(c.number));
        s->setKeyboardTracking(false);
        s->setAlignment(Qt::AlignRight);
        s->setProperty("qv_programmatic", false);
        QObject::connect(s, &QSpinBox::valueChanged, s, [s, handle, id](int) {
            if (s->property("qv_programmatic").toBool())
                return;
            postControlEvent(handle, id, EVENT_VAL_CHANGED);
            postControlEvent(handle, id, EVENT_COMMIT);
        });
        w = s;
        break;
    }
    case CTRL_NUMERIC_INDICATOR: {
        auto *l = new QLabel(parent);
        l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        l->setMargin(2);
        w = l;
        break;
    }
    case CTRL_NUMERIC_BAR: {
        auto *bar = new BarWidget(parent);
        bar->setRange(static_cast<double>(c.minValue), static_cast<double>(c.maxValue));
        bar->setFillColor(rgb(c.frameColor));
        w = bar;
        break;
    }
    case CTRL_STRING:
    case CTRL_STRING_LS: {
        // The label is the caption above the field, not its text; the value comes separately.
        auto *e = new QLineEdit(parent);
        e->setMaxLength(c.maxEntryLength < 0 ? 32767 : c.maxEntryLength);
        QObject::connect(e, &QLineEdit::textEdited, e, [handle, id](const QString &) {
            // Typed changes only; the program's own SetCtrlVal raises nothing. Reported at
            // once: the completion must act on this very change, before the next key.
            Control *ctrl = findControl(handle, id, nullptr);
            if (!ctrl)
                return;
            ctrl->edited = true;
            if (callbacksHeld())
                runWhenReleased(
                    [handle, id] { deliverControlEvent(handle, id, EVENT_VAL_CHANGED, 0, 0); });
            else if (ctrl->callback && isLive(*ctrl))
                ctrl->callback(handle, id, EVENT_VAL_CHANGED, ctrl->callbackData, 0, 0);
        });
        QObject::connect(e, &QLineEdit::returnPressed, e, [handle, id] {
            if (Control *ctrl = findControl(handle, id, nullptr))
                ctrl->edited = false;
            postControlEvent(handle, id, EVENT_COMMIT);
        });
        w = e;
        break;
    }
    case CTRL_TEXT_MSG: {
        auto *l = new QLabel(parent);
        l->setTextFormat(Qt::PlainText);
        w = l;
        break;
    }
    case CTRL_TEXT_INDICATOR: {
        auto *l = new QLabel(parent);
        l->setTextFormat(Qt::PlainText);
        l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        l->setMargin(2);
        w = l;
        break;
    }
    case CTRL_RING: {
        auto *box = new QComboBox(parent);
        QObject::connect(box, &QComboBox::activated, box, [handle, id](int index) {
            Panel *panel = findPanel(handle);
            Control *ctrl = findControl(handle, id, nullptr);
            if (panel && ctrl)
                ringChosen(*panel, *ctrl, index);
        });
        w = box;
        break;
    }
    case CTRL_POPUP_RING:
    case CTRL_POPUP_RING_LS: {
        auto *b = new PopupRingButton(parent, borderOf(c.style));
        QObject::connect(b, &QAbstractButton::clicked, b, [handle, id] {
            Panel *panel = findPanel(handle);
            Control *ctrl = findControl(handle, id, nullptr);
            if (panel && ctrl)
                openPopupRing(*panel, *ctrl);
        });
        w = b;
        break;
    }
    case CTRL_PICTURE: {
        auto *l = new QLabel(parent);
        l->setAlignment(Qt::AlignCenter);
        w = l;
        break;
    }
    case CTRL_DECORATION:
    case CTRL_DECORATION_LS:
        w = new DecorationWidget(parent, borderOf(c.style));
        break;
    case CTRL_CANVAS:
        w = new QWidget(parent);
        break;
    default:
        return kUIEStyleInvalid;
    }
    c.widget = w;
    if (c.captionPlace != detail::LabelPlace::None && !c.text.isEmpty() &&
        c.style != CTRL_TEXT_MSG) {
        c.caption = new QLabel(latin1(c.text), parent);
        c.caption->setTextFormat(Qt::PlainText);
        c.text.clear();
    }
    if (c.isString())
        c.text.clear(); // its label; the field's text lives in the widget
    tagWidget(w, p, id);
    applyLook(c);
    applyGeometry(c);
    applyDisplay(c);
    refreshRingWidget(c);
    w->setEnabled(!c.dimmed);
    w->setVisible(c.visible);
    return 0;
}

void addToOrders(Panel &p, int id) {
    p.creationOrder.push_back(id);
    p.tabOrder.push_back(id);
    p.zOrder.insert(p.zOrder.begin(), id); // newest in front
}

// ---- The resource file. ----

std::string g_lastResourceError;

int failLoad(int status, const QString &why) {
    g_lastResourceError = why.toStdString();
    return status;
}

int colorFrom(const QJsonValue &v, int fallback) {
    if (v.isDouble())
        return v.toInt();
    if (v.isString()) {
        QString s = v.toString();
        if (s == QLatin1String("transparent"))
            return VAL_TRANSPARENT;
        s.remove('#');
        bool ok = false;
        const int c = s.toInt(&ok, 16);
        return ok ? c : fallback;
    }
    return fallback;
}

struct KindInfo {
    const char *name;
    int style;
};
constexpr KindInfo kKinds[] = {
    {"command_button", CTRL_COMMAND_BUTTON},
    {"numeric", CTRL_NUMERIC},
    {"numeric_indicator", CTRL_NUMERIC_INDICATOR},
    {"numeric_bar", CTRL_NUMERIC_BAR},
    {"string", CTRL_STRING},
    {"text_message", CTRL_TEXT_MSG},
    {"text_indicator", CTRL_TEXT_INDICATOR},
    {"ring", CTRL_RING},
    {"popup_ring", CTRL_POPUP_RING},
    {"picture", CTRL_PICTURE},
    {"decoration", CTRL_DECORATION},
    {"canvas", CTRL_CANVAS},
};

int styleOfKind(const QString &kind, int look) {
    for (const KindInfo &k : kKinds)
        if (kind == QLatin1String(k.name)) {
            if (look == 2 && k.style == CTRL_STRING)
                return CTRL_STRING_LS;
            if (look == 2 && k.style == CTRL_POPUP_RING)
                return CTRL_POPUP_RING_LS;
            if (look == 2 && k.style == CTRL_DECORATION)
                return CTRL_DECORATION_LS;
            return k.style;
        }
    return 0;
}

int dataTypeOf(const QString &name) {
    if (name == QLatin1String("string"))
        return VAL_STRING;
    if (name == QLatin1String("int"))
        return VAL_INTEGER;
    return VAL_UNSIGNED_SHORT_INTEGER;
}

int loadControl(Panel &p, const QJsonObject &o, const QString &fileName) {
    const int id = o.value("id").toInt(0);
    const QString name = o.value("name").toString();
    const QString what = QStringLiteral("%1: control %2").arg(fileName, name);
    if (id <= 0 || p.find(id))
        return failLoad(kUIEBadFormat, what + QStringLiteral(" has a missing or repeated id"));
    const int style = styleOfKind(o.value("kind").toString(), o.value("look").toInt(1));
    if (!style)
        return failLoad(kUIEBadFormat, what + QStringLiteral(" has an unknown kind"));
    auto c = std::make_unique<Control>();
    c->id = id;
    c->style = style;
    c->panel = &p;
    c->geometry = QRect(o.value("left").toInt(), o.value("top").toInt(),
                        o.value("width").toInt(100), o.value("height").toInt(20));
    c->text = o.value("label").toString().toLatin1();
    const QString place = o.value("label_place").toString("top");
    c->captionPlace = place == QLatin1String("left")   ? detail::LabelPlace::Left
                      : place == QLatin1String("none") ? detail::LabelPlace::None
                                                       : detail::LabelPlace::Top;
    c->captionDx = o.value("label_dx").toInt(0);
    c->dataType = dataTypeOf(o.value("data_type").toString());
    c->minValue = o.value("min").toInteger(0);
    c->maxValue = o.value("max").toInteger(c->dataType == VAL_INTEGER ? 2147483647 : 65535);
    c->maxEntryLength = o.value("max_entry_length").toInt(-1);
    c->textColor = colorFrom(o.value("text_color"), c->textColor);
    c->bgColor =
        colorFrom(o.value("bg_color"), style == CTRL_TEXT_MSG ? VAL_TRANSPARENT : c->bgColor);
    c->frameColor = colorFrom(o.value("frame_color"), c->frameColor);
    c->buttonColor = colorFrom(o.value("button_color"), c->buttonColor);
    c->pointSize = o.value("point_size").toInt(0);
    c->bold = o.value("bold").toBool(false);
    c->visible = o.value("visible").toBool(true);
    c->dimmed = o.value("dimmed").toBool(false);
    const QJsonValue value = o.value("value");
    for (const QJsonValue item : o.value("items").toArray()) {
        const QJsonObject io = item.toObject();
        ListItem li;
        li.label = io.value("label").toString().toLatin1();
        if (io.value("value").isString()) {
            li.text = io.value("value").toString().toLatin1();
            c->dataType = VAL_STRING;
        } else {
            li.number = io.value("value").toInteger();
        }
        c->items.push_back(li);
    }
    if (c->isRing() && !c->items.empty()) {
        c->current = 0;
        for (int i = 0; i < static_cast<int>(c->items.size()); ++i)
            if ((value.isString() && c->items[i].text == value.toString().toLatin1()) ||
                (value.isDouble() && c->items[i].number == value.toInteger()))
                c->current = i;
    } else if (value.isString()) {
        if (c->isString() || c->isTextDisplay()) {
            // Editable text lives in the widget; keep it apart from the caption until built.
            c->number = 0;
        } else {
            return failLoad(kUIEBadFormat, what + QStringLiteral(" has a text value"));
        }
    } else if (value.isDouble()) {
        c->number = value.toInteger();
    }
    const QString cb = o.value("callback").toString();
    if (!cb.isEmpty()) {
        if (!rt().resolver)
            return failLoad(kUIEBadFormat, what + QStringLiteral(": no callback table"));
        c->callback = rt().resolver(cb.toStdString()).control;
        if (!c->callback)
            return failLoad(kUIEBadFormat,
                            what + QStringLiteral(" names an unknown callback ") + cb);
    }
    Control &ref = *c;
    p.controls[id] = std::move(c);
    addToOrders(p, id);
    // Text values of text displays and string controls go in after the widget exists.
    const QByteArray caption = ref.text;
    const int status = buildWidget(p, ref);
    if (status < 0)
        return failLoad(status, what + QStringLiteral(" cannot be built"));
    if (value.isString()) {
        const QByteArray v = value.toString().toLatin1();
        if (ref.isString())
            static_cast<QLineEdit *>(ref.widget.data())->setText(latin1(v));
        else {
            ref.text = v;
            applyDisplay(ref);
        }
    } else if (ref.style == CTRL_TEXT_MSG) {
        ref.text = caption;
        applyDisplay(ref);
    }
    if (const QJsonValue img = o.value("image"); img.isString())
        DisplayImageFile(p.handle, id, img.toString().toLatin1().constData());
    return 0;
}

QString resolvePath(const char *fileName) {
    const QString name = QString::fromLocal8Bit(fileName);
    if (QDir::isAbsolutePath(name))
        return name;
    char dir[1024];
    GetProjectDir(dir);
    return QDir(QString::fromLocal8Bit(dir)).filePath(name);
}

} // namespace
} // namespace detail

using namespace detail;

void SetCallbackResolver(CallbackResolver resolver) {
    rt().resolver = std::move(resolver);
}

const char *LastResourceError() {
    return g_lastResourceError.c_str();
}

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
    // One look on every machine, whatever its desktop theme.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSize(9);
    QApplication::setFont(font);
    // The program ends through RunUserInterface, not when its last window is hidden.
    QApplication::setQuitOnLastWindowClosed(false);
    return 1;
}

int LoadPanel(int parent, const char *fileName, int resourceId) {
    (void)parent; // every panel of this program is a top-level window
    if (!QApplication::instance())
        return failLoad(kUIENotInitialized, QStringLiteral("the run-time is not initialised"));
    if (!fileName)
        return failLoad(kUIEFileNotFound, QStringLiteral("no resource file named"));
    const QString path = resolvePath(fileName);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return failLoad(kUIEFileNotFound, path + QStringLiteral(": ") + file.errorString());
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (doc.isNull() || !doc.isObject())
        return failLoad(kUIEBadFormat, path + QStringLiteral(": not a resource file (") +
                                           error.errorString() + QStringLiteral(")"));
    QJsonObject panelObject;
    for (const QJsonValue v : doc.object().value("panels").toArray())
        if (v.toObject().value("resource").toInt(-1) == resourceId)
            panelObject = v.toObject();
    if (panelObject.isEmpty())
        return failLoad(kUIEPanelNotFound, path + QStringLiteral(": no panel %1").arg(resourceId));

    auto p = std::make_unique<Panel>();
    Panel &panel = *p;
    panel.handle = rt().nextHandle++;
    panel.resourceId = resourceId;
    panel.name = panelObject.value("name").toString().toLatin1();
    panel.window = new PanelWindow(panel.handle);
    panel.window->setWindowTitle(panelObject.value("title").toString());
    panel.window->setFixedSize(panelObject.value("width").toInt(400),
                               panelObject.value("height").toInt(300));
    panel.window->setAutoFillBackground(true);
    if (panelObject.contains("bg_color")) {
        QPalette pal = panel.window->palette();
        pal.setColor(QPalette::Window, rgb(colorFrom(panelObject.value("bg_color"), 0xF0F0F0)));
        panel.window->setPalette(pal);
    }
    panel.refreshTimer.setSingleShot(true);
    const int handle = panel.handle;
    QObject::connect(&panel.refreshTimer, &QTimer::timeout, panel.window, [handle] {
        if (Panel *pp = findPanel(handle))
            flushDisplays(*pp);
    });
    rt().panels[handle] = std::move(p);

    auto fail = [&](int status) {
        delete panel.window.data();
        rt().panels.erase(handle);
        return status;
    };
    const QString cb = panelObject.value("callback").toString();
    if (!cb.isEmpty()) {
        panel.callback = rt().resolver ? rt().resolver(cb.toStdString()).panel : nullptr;
        if (!panel.callback)
            return fail(
                failLoad(kUIEBadFormat, path + QStringLiteral(": unknown panel callback ") + cb));
    }
    for (const QJsonValue v : panelObject.value("controls").toArray()) {
        const int status = loadControl(panel, v.toObject(), path);
        if (status < 0)
            return fail(status);
    }
    applyTabOrder(panel);
    applyZOrder(panel);
    return handle;
}

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

int ProcessSystemEvents() {
    RunTime &r = rt();
    QAbstractEventDispatcher *d = QAbstractEventDispatcher::instance();
    if (!d)
        return kUIENotInitialized;
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

// ---- Values. ----

int SetCtrlVal(int panel, int control, const char *text) {
    int status = 0;
    Control *c = findControl(panel, control, &status);
    if (!c)
        return status;
    const QByteArray bytes(text ? text : "");
    if (c->isString()) {
        static_cast<QLineEdit *>(c->widget.data())->setText(latin1(bytes));
        return 0;
    }
    if (c->isTextDisplay()) {
        c->text = bytes;
        if (c->style == CTRL_TEXT_MSG)
            applyDisplay(*c);
        else
            displayChanged(*c);
        return 0;
    }
    if (c->isRing() && c->dataType == VAL_STRING) {
        for (int i = 0; i < static_cast<int>(c->items.size()); ++i)
            if (c->items[i].text == bytes) {
                c->current = i;
                refreshRingWidget(*c);
                return 0;
            }
        return kUIEValueInvalid;
    }
    return kUIETypeMismatch;
}

int SetCtrlVal(int panel, int control, long long value) {
    int status = 0;
    Control *c = findControl(panel, control, &status);
    if (!c)
        return status;
    if (c->dataType == VAL_UNSIGNED_SHORT_INTEGER)
        value = std::clamp<long long>(value, 0, 65535);
    if (c->isRing() && c->dataType != VAL_STRING) {
        for (int i = 0; i < static_cast<int>(c->items.size()); ++i)
            if (c->items[i].number == value) {
                c->current = i;
                refreshRingWidget(*c);
                return 0;
            }
        return kUIEValueInvalid;
    }
    if (c->style == CTRL_NUMERIC) {
        auto *s = static_cast<QSpinBox *>(c->widget.data());
        s->setProperty("qv_programmatic", true);
        s->setValue(static_cast<int>(std::clamp<long long>(value, s->minimum(), s->maximum())));
        s->setProperty("qv_programmatic", false);
        return 0;
    }
    if (c->style == CTRL_NUMERIC_INDICATOR || c->style == CTRL_NUMERIC_BAR) {
        if (c->number != value) {
            c->number = value;
            displayChanged(*c);
        }
        return 0;
    }
    return kUIETypeMismatch;
}

int SetCtrlVal(int panel, int control, double value) {
    return SetCtrlVal(panel, control, static_cast<long long>(value));
}

namespace {
int numericValue(int panel, int control, long long *out) {
    int status = 0;
    Control *c = findControl(panel, control, &status);
    if (!c)
        return status;
    if (c->isRing() && c->dataType != VAL_STRING) {
        if (c->current < 0)
            return kUIEIndexInvalid;
        *out = c->items[c->current].number;
        return 0;
    }
    if (c->style == CTRL_NUMERIC) {
        auto *s = static_cast<QSpinBox *>(c->widget.data());
        // A value typed but not yet entered counts, as it does for the operator.
        s->interpretText();
        *out = s->value();
        return 0;
    }
    if (c->style == CTRL_NUMERIC_INDICATOR || c->style == CTRL_NUMERIC_BAR) {
        *out = c->number;
        return 0;
    }
    return kUIETypeMismatch;
}
} // namespace

int GetCtrlVal(int panel, int control, unsigned short *value) {
    long long v = 0;
    const int status = numericValue(panel, control, &v);
    if (status == 0 && value)
        *value = static_cast<unsigned short>(std::clamp<long long>(v, 0, 65535));
    return status;
}

int GetCtrlVal(int panel, int control, int *value) {
    long long v = 0;
    const int status = numericValue(panel, control, &v);
    if (status == 0 && value)
        *value = static_cast<int>(v);
    return status;
}

int GetCtrlVal(int panel, int control, double *value) {
    long long v = 0;
    const int status = numericValue(panel, control, &v);
    if (status == 0 && value)
        *value = static_cast<double>(v);
    return status;
}

int GetCtrlValText(int panel, int control, char *text, std::size_t size) {
    int status = 0;
    Control *c = findControl(panel, control, &status);
    if (!c)
        return status;
    if (!text || size == 0)
        return kUIEValueInvalid;
    if (c->isString()) {
        copyOut(static_cast<QLineEdit *>(c->widget.data())->text().toLatin1(), text, size);
        return 0;
    }
    if (c->isTextDisplay()) {
        copyOut(c->text, text, size);
        return 0;
    }
    if (c->isRing() && c->dataType == VAL_STRING) {
        if (c->current < 0)
            return kUIEIndexInvalid;
        copyOut(c->items[c->current].text, text, size);
        return 0;
    }
    return kUIETypeMismatch;
}

// ---- Attributes. ----

namespace {

struct AttrArg {
    enum Kind { Int, Text, Pointer, Callback } kind;
    int i = 0;
    const char *s = nullptr;
    void *p = nullptr;
    CtrlCallbackPtr cb = nullptr;
};

int tabPosition(const Panel &p, int id) {
    const auto it = std::find(p.tabOrder.begin(), p.tabOrder.end(), id);
    return static_cast<int>(it - p.tabOrder.begin());
}

int moveInOrder(std::vector<int> &order, int id, int position) {
    if (position < 0 || position >= static_cast<int>(order.size()))
        return kUIEValueInvalid;
    order.erase(std::find(order.begin(), order.end(), id));
    order.insert(order.begin() + position, id);
    return 0;
}

int setAttr(Control &c, int attribute, const AttrArg &a) {
    Panel &p = *c.panel;
    const bool isInt = a.kind == AttrArg::Int;
    if (attribute == ATTR_CALLBACK_DATA) {
        if (a.kind == AttrArg::Pointer)
            c.callbackData = a.p;
        else if (isInt && a.i == 0)
            c.callbackData = nullptr;
        else
            return kUIEValueInvalid;
        return 0;
    }
    if (attribute == ATTR_CALLBACK_FUNCTION_POINTER) {
        if (a.kind == AttrArg::Callback)
            c.callback = a.cb;
        else if ((isInt && a.i == 0) || (a.kind == AttrArg::Pointer && !a.p))
            c.callback = nullptr;
        else
            return kUIEValueInvalid;
        return 0;
    }
    if (attribute == ATTR_TEXT_FONT) {
        if (a.kind != AttrArg::Text || !a.s)
            return kUIEValueInvalid;
        c.font = a.s;
        applyLook(c);
        return 0;
    }
    if (!isInt)
        return kUIEValueInvalid;
    const int v = a.i;
    switch (attribute) {
    case ATTR_DIMMED:
        c.dimmed = v != 0;
        if (c.widget)
            c.widget->setEnabled(!c.dimmed);
        return 0;
    case ATTR_VISIBLE:
        c.visible = v != 0;
        if (c.widget)
            c.widget->setVisible(c.visible);
        if (c.caption)
            c.caption->setVisible(c.visible);
        return 0;
    case ATTR_LEFT:
        c.geometry.moveLeft(v);
        applyGeometry(c);
        return 0;
    case ATTR_TOP:
        c.geometry.moveTop(v);
        applyGeometry(c);
        return 0;
    case ATTR_WIDTH:
        if (v < 0)
            return kUIEValueInvalid;
        c.geometry.setWidth(v);
        applyGeometry(c);
        return 0;
    case ATTR_HEIGHT:
        if (v < 0)
            return kUIEValueInvalid;
        c.geometry.setHeight(v);
        applyGeometry(c);
        return 0;
    case ATTR_FRAME_COLOR:
        c.frameColor = v;
        if (c.style == CTRL_NUMERIC_BAR)
            static_cast<BarWidget *>(c.widget.data())->setFillColor(rgb(v));
        applyLook(c);
        return 0;
    case ATTR_TEXT_COLOR:
        c.textColor = v;
        applyLook(c);
        return 0;
    case ATTR_TEXT_BGCOLOR:
        c.bgColor = v;
        applyLook(c);
        return 0;
    case ATTR_TEXT_POINT_SIZE:
        if (v <= 0)
            return kUIEValueInvalid;
        c.pointSize = v;
        applyLook(c);
        return 0;
    case ATTR_TEXT_BOLD:
        c.bold = v != 0;
        applyLook(c);
        return 0;
    case ATTR_TEXT_ITALIC:
        c.italic = v != 0;
        applyLook(c);
        return 0;
    case ATTR_CMD_BUTTON_COLOR:
        if (c.style != CTRL_COMMAND_BUTTON)
            return kUIEAttrInvalid;
        c.buttonColor = v;
        applyLook(c);
        return 0;
    case ATTR_ZPLANE_POSITION: {
        const int status = moveInOrder(p.zOrder, c.id, v);
        if (status == 0)
            applyZOrder(p);
        return status;
    }
    case ATTR_CTRL_TAB_POSITION: {
        const int status = moveInOrder(p.tabOrder, c.id, v);
        if (status == 0)
            applyTabOrder(p);
        return status;
    }
    case ATTR_DATA_TYPE:
        if (!c.isRing())
            return kUIEAttrInvalid;
        if (v != VAL_STRING && v != VAL_INTEGER && v != VAL_UNSIGNED_SHORT_INTEGER)
            return kUIEValueInvalid;
        c.dataType = v;
        return 0;
    case ATTR_RING_POPUP_ARROW:
        if (!c.isPopupRing())
            return kUIEAttrInvalid;
        c.arrowOnly = v;
        applyLook(c);
        return 0;
    case ATTR_MAX_ENTRY_LENGTH:
        if (!c.isString())
            return kUIEAttrInvalid;
        if (v < -1)
            return kUIEValueInvalid;
        c.maxEntryLength = v;
        static_cast<QLineEdit *>(c.widget.data())->setMaxLength(v < 0 ? 32767 : v);
        return 0;
    case ATTR_TEXT_SELECTION_START:
    case ATTR_TEXT_SELECTION_LENGTH: {
        if (!c.isString())
            return kUIEAttrInvalid;
        auto *e = static_cast<QLineEdit *>(c.widget.data());
        const int len = static_cast<int>(e->text().size());
        int start = e->hasSelectedText() ? e->selectionStart() : e->cursorPosition();
        int count = e->hasSelectedText() ? static_cast<int>(e->selectedText().size()) : 0;
        if (attribute == ATTR_TEXT_SELECTION_START)
            start = v;
        else
            count = v;
        if (v < 0 || start > len)
            return kUIEValueInvalid;
        count = std::min(count, len - start);
        const QSignalBlocker block(e);
        if (count > 0)
            e->setSelection(start, count);
        else
            e->setCursorPosition(start);
        return 0;
    }
    case ATTR_CTRL_STYLE:
    case ATTR_TAKES_INPUT:
    case ATTR_NEXT_CTRL:
    case ATTR_TEXT_FONT_NAME_LENGTH:
    case ATTR_STRING_TEXT_LENGTH:
    default:
        return kUIEAttrInvalid;
    }
}

int getAttrInt(Control &c, int attribute, int *out) {
    Panel &p = *c.panel;
    switch (attribute) {
    case ATTR_DIMMED:
        *out = c.dimmed;
        return 0;
    case ATTR_VISIBLE:
        *out = c.visible;
        return 0;
    case ATTR_LEFT:
        *out = c.geometry.left();
        return 0;
    case ATTR_TOP:
        *out = c.geometry.top();
        return 0;
    case ATTR_WIDTH:
        *out = c.geometry.width();
        return 0;
    case ATTR_HEIGHT:
        *out = c.geometry.height();
        return 0;
    case ATTR_FRAME_COLOR:
        *out = c.frameColor;
        return 0;
    case ATTR_TEXT_COLOR:
        *out = c.textColor;
        return 0;
    case ATTR_TEXT_BGCOLOR:
        *out = c.bgColor;
        return 0;
    case ATTR_TEXT_POINT_SIZE:
        *out = c.pointSize > 0 ? c.pointSize : QFontInfo(QApplication::font()).pixelSize();
        return 0;
    case ATTR_TEXT_BOLD:
        *out = c.bold;
        return 0;
    case ATTR_TEXT_ITALIC:
        *out = c.italic;
        return 0;
    case ATTR_TEXT_FONT_NAME_LENGTH:
        *out = static_cast<int>(c.font.size());
        return 0;
    case ATTR_CTRL_STYLE:
        *out = c.style;
        return 0;
    case ATTR_TAKES_INPUT:
        *out = c.takesInput();
        return 0;
    case ATTR_ZPLANE_POSITION:
        *out =
            static_cast<int>(std::find(p.zOrder.begin(), p.zOrder.end(), c.id) - p.zOrder.begin());
        return 0;
    case ATTR_CTRL_TAB_POSITION:
        *out = tabPosition(p, c.id);
        return 0;
    case ATTR_NEXT_CTRL: {
        auto it = std::find(p.creationOrder.begin(), p.creationOrder.end(), c.id);
        *out = (it == p.creationOrder.end() || it + 1 == p.creationOrder.end()) ? 0 : *(it + 1);
        return 0;
    }
    case ATTR_CMD_BUTTON_COLOR:
        if (c.style != CTRL_COMMAND_BUTTON)
            return kUIEAttrInvalid;
        *out = c.buttonColor;
        return 0;
    case ATTR_DATA_TYPE:
        *out = c.dataType;
        return 0;
    case ATTR_RING_POPUP_ARROW:
        if (!c.isPopupRing())
            return kUIEAttrInvalid;
        *out = c.arrowOnly;
        return 0;
    case ATTR_MAX_ENTRY_LENGTH:
        if (!c.isString())
            return kUIEAttrInvalid;
        *out = c.maxEntryLength;
        return 0;
    case ATTR_STRING_TEXT_LENGTH:
        if (c.isString())
            *out = static_cast<int>(
                static_cast<QLineEdit *>(c.widget.data())->text().toLatin1().size());
        else if (c.isTextDisplay())
            *out = static_cast<int>(c.text.size());
        else
            return kUIEAttrInvalid;
        return 0;
    case ATTR_TEXT_SELECTION_START:
    case ATTR_TEXT_SELECTION_LENGTH: {
        if (!c.isString())
            return kUIEAttrInvalid;
        auto *e = static_cast<QLineEdit *>(c.widget.data());
        if (attribute == ATTR_TEXT_SELECTION_START)
            *out = e->hasSelectedText() ? e->selectionStart() : e->cursorPosition();
        else
            *out = static_cast<int>(e->selectedText().size());
        return 0;
    }
    default:
        return kUIEAttrInvalid;
    }
}

int withControl(int panel, int control, const std::function<int(Control &)> &fn) {
    int status = 0;
    Control *c = findControl(panel, control, &status);
    return c ? fn(*c) : status;
}

} // namespace

int SetCtrlAttribute(int panel, int control, int attribute, int value) {
    return withControl(panel, control, [&](Control &c) {
        return setAttr(c, attribute, AttrArg{AttrArg::Int, value});
    });
}

int SetCtrlAttribute(int panel, int control, int attribute, const char *value) {
    return withControl(panel, control, [&](Control &c) {
        AttrArg a{AttrArg::Text};
        a.s = value;
        return setAttr(c, attribute, a);
    });
}

int SetCtrlAttribute(int panel, int control, int attribute, void *value) {
    return withControl(panel, control, [&](Control &c) {
        AttrArg a{AttrArg::Pointer};
        a.p = value;
        return setAttr(c, attribute, a);
    });
}

int SetCtrlAttribute(int panel, int control, int attribute, CtrlCallbackPtr value) {
    return withControl(panel, control, [&](Control &c) {
        AttrArg a{AttrArg::Callback};
        a.cb = value;
        return setAttr(c, attribute, a);
    });
}

int GetCtrlAttribute(int panel, int control, int attribute, int *value) {
    if (!value)
        return kUIEValueInvalid;
    return withControl(panel, control, [&](Control &c) { return getAttrInt(c, attribute, value); });
}

int GetCtrlAttribute(int panel, int control, int attribute, void **value) {
    if (!value)
        return kUIEValueInvalid;
    return withControl(panel, control, [&](Control &c) {
        if (attribute != ATTR_CALLBACK_DATA)
            return kUIEAttrInvalid;
        *value = c.callbackData;
        return 0;
    });
}

int GetCtrlAttribute(int panel, int control, int attribute, CtrlCallbackPtr *value) {
    if (!value)
        return kUIEValueInvalid;
    return withControl(panel, control, [&](Control &c) {
        if (attribute != ATTR_CALLBACK_FUNCTION_POINTER)
            return kUIEAttrInvalid;
        *value = c.callback;
        return 0;
    });
}

int GetCtrlAttributeText(int panel, int control, int attribute, char *text, std::size_t size) {
    if (!text || size == 0)
        return kUIEValueInvalid;
    return withControl(panel, control, [&](Control &c) {
        if (attribute != ATTR_TEXT_FONT)
            return kUIEAttrInvalid;
        copyOut(c.font, text, size);
        return 0;
    });
}

int GetPanelAttribute(int panel, int attribute, int *value) {
    Panel *p = findPanel(panel);
    if (!p)
        return kUIEPanelInvalid;
    if (!value)
        return kUIEValueInvalid;
    switch (attribute) {
    case ATTR_NUM_CTRLS:
        *value = static_cast<int>(p->controls.size());
        return 0;
    case ATTR_PANEL_FIRST_CTRL:
        *value = p->creationOrder.empty() ? 0 : p->creationOrder.front();
        return 0;
    default:
        return kUIEAttrInvalid;
    }
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

// ---- Lists. ----

namespace {
int withList(int panel, int control, const std::function<int(Control &)> &fn) {
    return withControl(panel, control, [&](Control &c) {
        if (!c.isRing())
            return kUIENotList;
        return fn(c);
    });
}

int insertItem(Control &c, int index, ListItem item) {
    const int n = static_cast<int>(c.items.size());
    if (index == -1)
        index = n;
    if (index < 0 || index > n)
        return kUIEIndexInvalid;
    c.items.insert(c.items.begin() + index, std::move(item));
    if (c.current < 0)
        c.current = 0;
    else if (index <= c.current)
        ++c.current;
    refreshRingWidget(c);
    return 0;
}
} // namespace

int InsertListItem(int panel, int control, int index, const char *label, const char *value) {
    return withList(panel, control, [&](Control &c) {
        if (c.dataType != VAL_STRING)
            return kUIETypeMismatch;
        return insertItem(c, index, ListItem{label ? label : "", value ? value : "", 0});
    });
}

int InsertListItem(int panel, int control, int index, const char *label, int value) {
    return withList(panel, control, [&](Control &c) {
        if (c.dataType == VAL_STRING)
            return kUIETypeMismatch;
        return insertItem(c, index, ListItem{label ? label : "", QByteArray(), value});
    });
}

int DeleteListItem(int panel, int control, int index, int count) {
    return withList(panel, control, [&](Control &c) {
        const int n = static_cast<int>(c.items.size());
        if (index < 0 || index >= n)
            return n == 0 && index == 0 && count == -1 ? 0 : kUIEIndexInvalid;
        if (count == -1)
            count = n - index;
        if (count < 0)
            return kUIEValueInvalid;
        count = std::min(count, n - index);
        c.items.erase(c.items.begin() + index, c.items.begin() + index + count);
        if (c.current >= index + count)
            c.current -= count;
        else if (c.current >= index)
            c.current =
                c.items.empty() ? -1 : std::min(index, static_cast<int>(c.items.size()) - 1);
        refreshRingWidget(c);
        return 0;
    });
}

int ReplaceListItem(int panel, int control, int index, const char *label, const char *value) {
    return withList(panel, control, [&](Control &c) {
        if (c.dataType != VAL_STRING)
            return kUIETypeMismatch;
        if (index < 0 || index >= static_cast<int>(c.items.size()))
            return kUIEIndexInvalid;
        c.items[index] = ListItem{label ? label : "", value ? value : "", 0};
        refreshRingWidget(c);
        return 0;
    });
}

int GetIndexFromValue(int panel, int control, int *index, const char *value) {
    if (!index)
        return kUIEValueInvalid;
    return withList(panel, control, [&](Control &c) {
        if (c.dataType != VAL_STRING)
            return kUIETypeMismatch;
        const QByteArray v(value ? value : "");
        *index = -1;
        for (int i = 0; i < static_cast<int>(c.items.size()); ++i)
            if (c.items[i].text == v) {
                *index = i;
                break;
            }
        return 0;
    });
}

int GetIndexFromValue(int panel, int control, int *index, int value) {
    if (!index)
        return kUIEValueInvalid;
    return withList(panel, control, [&](Control &c) {
        if (c.dataType == VAL_STRING)
            return kUIETypeMismatch;
        *index = -1;
        for (int i = 0; i < static_cast<int>(c.items.size()); ++i)
            if (c.items[i].number == value) {
                *index = i;
                break;
            }
        return 0;
    });
}

int GetNumListItems(int panel, int control, int *count) {
    if (!count)
        return kUIEValueInvalid;
    return withList(panel, control, [&](Control &c) {
        *count = static_cast<int>(c.items.size());
        return 0;
    });
}

int GetValueFromIndexText(int panel, int control, int index, char *value, std::size_t size) {
    if (!value || size == 0)
        return kUIEValueInvalid;
    return withList(panel, control, [&](Control &c) {
        if (c.dataType != VAL_STRING)
            return kUIETypeMismatch;
        if (index < 0 || index >= static_cast<int>(c.items.size()))
            return kUIEIndexInvalid;
        copyOut(c.items[index].text, value, size);
        return 0;
    });
}

int GetValueLengthFromIndex(int panel, int control, int index, int *length) {
    if (!length)
        return kUIEValueInvalid;
    return withList(panel, control, [&](Control &c) {
        if (c.dataType != VAL_STRING)
            return kUIETypeMismatch;
        if (index < 0 || index >= static_cast<int>(c.items.size()))
            return kUIEIndexInvalid;
        *length = static_cast<int>(c.items[index].text.size());
        return 0;
    });
}

// ---- Pop-ups. ----

void SetPopupHandler(PopupHandler handler) {
    rt().popupHandler = std::move(handler);
}

namespace {
int showPopup(PopupKind kind, const char *title, const char *message) {
    const std::string t = title ? title : "", m = message ? message : "";
    if (rt().popupHandler)
        return rt().popupHandler(kind, t, m);
    if (!QApplication::instance())
        return kUIENotInitialized;
    QMessageBox box(kind == PopupKind::Confirm ? QMessageBox::Question : QMessageBox::Information,
                    latin1(t.c_str()), latin1(m.c_str()),
                    kind == PopupKind::Confirm ? (QMessageBox::Yes | QMessageBox::No)
                                               : QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    const int answer = box.exec();
    return kind == PopupKind::Confirm ? (answer == QMessageBox::Yes ? 1 : 0) : 0;
}
} // namespace

int MessagePopup(const char *title, const char *message) {
    const int status = showPopup(PopupKind::Message, title, message);
    return status < 0 ? status : 0;
}

int ConfirmPopup(const char *title, const char *message) {
    return showPopup(PopupKind::Confirm, title, message);
}

void SetSaveFileHandler(SaveFileHandler handler) {
    rt().saveFileHandler = std::move(handler);
}

int SaveFilePopupText(const char *title, const char *suggested, char *path, std::size_t size) {
    if (!path || size == 0)
        return kUIEValueInvalid;
    path[0] = '\0';
    const std::string t = title ? title : "", s = suggested ? suggested : "";
    QString chosen;
    if (rt().saveFileHandler) {
        chosen = QString::fromLocal8Bit(rt().saveFileHandler(t, s).c_str());
    } else {
        if (!QApplication::instance())
            return kUIENotInitialized;
        QString start = QString::fromLocal8Bit(s.c_str());
        if (!QDir::isAbsolutePath(start)) {
            // Not every account has a documents folder; its home it has.
            QString dir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
            if (dir.isEmpty() || !QDir(dir).exists())
                dir = QDir::homePath();
            start = QDir(dir).filePath(start);
        }
        chosen =
            QFileDialog::getSaveFileName(QApplication::activeWindow(), latin1(t.c_str()), start);
    }
    if (chosen.isEmpty())
        return 0;
    const QByteArray bytes = QDir::toNativeSeparators(chosen).toLocal8Bit();
    if (static_cast<std::size_t>(bytes.size()) >= size)
        return kUIEValueInvalid;
    copyOut(bytes, path, size);
    return 1;
}

QWidget *CanvasWidget(int panel, int control) {
    Control *c = findControl(panel, control, nullptr);
    return c && c->style == CTRL_CANVAS ? c->widget.data() : nullptr;
}

} // namespace qv::rt

#include "platform/testing.h"

namespace qv::rt::testing {

QWidget *PanelWidget(int panel) {
    detail::Panel *p = detail::findPanel(panel);
    return p ? p->window.data() : nullptr;
}

QWidget *ControlWidget(int panel, int control) {
    detail::Control *c = detail::findControl(panel, control, nullptr);
    return c ? c->widget.data() : nullptr;
}

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
