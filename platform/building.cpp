// The widgets behind controls: building them, and applying the model (value, look, place,
// order) to them.
#include "platform/hold_p.h"
#include "platform/runtime_p.h"
#include "platform/widgets_p.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>

namespace qv::rt::detail {

namespace {

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

// Displays change at the reading rate, which can be thousands a second; the operator cannot see
// faster than the screen. So a change is drawn from the event loop, together with every other
// change made until then (a reading changes fourteen), and a panel at most once per ~16 ms.
constexpr qint64 kRefreshMs = 16;

} // namespace

void applyDisplay(Control &c) {
    c.displayDirty = false;
    QWidget *w = c.widget;
    if (!w)
        return;
    if (c.lookDirty) {
        c.lookDirty = false;
        applyLook(c);
    }
    switch (c.style) {
    case CTRL_NUMERIC_INDICATOR:
        static_cast<QLabel *>(w)->setText(numberText(c));
        break;
    case CTRL_NUMERIC_BAR:
        static_cast<BarWidget *>(w)->setValue(static_cast<double>(c.number));
        break;
    case CTRL_TEXT_INDICATOR:
        static_cast<QLabel *>(w)->setText(decoded(c.text, c.textCoding));
        break;
    case CTRL_TEXT_MSG: {
        auto *l = static_cast<QLabel *>(w);
        l->setText(decoded(c.text, c.textCoding));
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

void displayChanged(Control &c) {
    c.displayDirty = true;
    Panel &p = *c.panel;
    if (p.refreshTimer.isActive())
        return; // the redraw already due takes this change along
    const qint64 since = p.sinceRefresh.isValid() ? p.sinceRefresh.elapsed() : kRefreshMs;
    p.refreshTimer.start(static_cast<int>(std::max<qint64>(0, kRefreshMs - since)));
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
    const QColor text = ColorOf(c.textColor);
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
        pal.setColor(QPalette::Button, ColorOf(c.buttonColor));
        break;
    case CTRL_TEXT_MSG:
        w->setAutoFillBackground(c.bgColor != VAL_TRANSPARENT);
        if (c.bgColor != VAL_TRANSPARENT)
            pal.setColor(QPalette::Window, ColorOf(c.bgColor));
        break;
    case CTRL_STRING:
    case CTRL_STRING_LS: {
        const int b = borderOf(c.style);
        const QColor frame = ColorOf(c.frameColor).darker(c.style == CTRL_STRING ? 100 : 110);
        static_cast<QLineEdit *>(w)->setStyleSheet(
            QStringLiteral("QLineEdit { border: %1px %2 %3; background: %4; color: %5;"
                           " padding: 0 2px; selection-background-color: #3874d8; }"
                           "QLineEdit:disabled { background: #f0f0f0; color: #909090; }")
                .arg(b)
                .arg(b == 1 ? "solid" : "inset")
                .arg(frame.name(), ColorOf(c.bgColor).name(), text.name()));
        break;
    }
    case CTRL_NUMERIC_INDICATOR:
        w->setAutoFillBackground(true);
        pal.setColor(QPalette::Window, ColorOf(c.bgColor));
        break;
    case CTRL_TEXT_INDICATOR: {
        w->setAutoFillBackground(true);
        pal.setColor(QPalette::Window, ColorOf(c.bgColor));
        auto *l = static_cast<QLabel *>(w);
        const Qt::Alignment across = c.justify == VAL_CENTER_JUSTIFIED  ? Qt::AlignHCenter
                                     : c.justify == VAL_RIGHT_JUSTIFIED ? Qt::AlignRight
                                                                        : Qt::AlignLeft;
        l->setAlignment(across | Qt::AlignVCenter);
        l->setWordWrap(c.wrap);
        break;
    }
    case CTRL_POPUP_RING:
    case CTRL_POPUP_RING_LS:
        static_cast<PopupRingButton *>(w)->setFaceColor(ColorOf(c.frameColor));
        static_cast<PopupRingButton *>(w)->setArrowOnly(c.arrowOnly != 0);
        break;
    case CTRL_DECORATION:
    case CTRL_DECORATION_LS:
        static_cast<DecorationWidget *>(w)->setColor(ColorOf(c.frameColor));
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

namespace {

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

} // namespace

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
        bar->setFillColor(ColorOf(c.frameColor));
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

} // namespace qv::rt::detail
