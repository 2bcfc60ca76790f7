#include "platform/widgets_p.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace qv::rt::detail {

void BarWidget::setRange(double low, double high) {
    low_ = low;
    high_ = high > low ? high : low + 1;
    update();
}

void BarWidget::setValue(double value) {
    if (value == value_)
        return;
    value_ = value;
    update();
}

void BarWidget::setFillColor(const QColor &color) {
    fill_ = color;
    update();
}

void BarWidget::setWindow(double low, double high) {
    windowLow_ = low;
    windowHigh_ = high;
    update();
}

int BarWidget::xOf(const QRect &trough, double value) const {
    const double frac = std::clamp((value - low_) / (high_ - low_), 0.0, 1.0);
    return trough.left() + static_cast<int>(frac * trough.width() + 0.5);
}

void BarWidget::paintEvent(QPaintEvent *) {
    QPainter p(this);
    const QRect r = rect();
    p.fillRect(r, palette().color(QPalette::Mid));
    const QRect trough = r.adjusted(1, 1, -1, -1);
    p.fillRect(trough, QColor(0xF4, 0xF4, 0xF4));
    const bool window =
        windowLow_ >= 0 && windowHigh_ >= windowLow_ && windowLow_ <= high_ && windowHigh_ >= low_;
    const int x0 = xOf(trough, windowLow_), x1 = xOf(trough, windowHigh_);
    if (window)
        p.fillRect(QRect(x0, trough.top(), std::max(1, x1 - x0), trough.height()),
                   QColor(0xD8, 0xD8, 0xD8));
    const int w = xOf(trough, value_) - trough.left();
    if (w > 0)
        p.fillRect(QRect(trough.left(), trough.top(), w, trough.height()),
                   isEnabled() ? fill_ : fill_.lighter(160));
    // Quarter ticks make a reading comparable across the three bars at a glance.
    p.setPen(QColor(0, 0, 0, 60));
    for (int q = 1; q < 4; ++q) {
        const int x = trough.left() + trough.width() * q / 4;
        p.drawLine(x, trough.bottom() - 3, x, trough.bottom());
    }
    // The window's ends stay in sight over the fill: where the fill stops between them, the
    // reading is inside. An end beyond the scale is no edge and has no line.
    if (!window)
        return;
    p.setPen(QPen(QColor(0x20, 0x20, 0x20), 2, Qt::SolidLine, Qt::FlatCap));
    for (const auto &[mark, x] : {std::pair{windowLow_, x0}, std::pair{windowHigh_, x1}})
        if (mark >= low_ && mark <= high_)
            p.drawLine(QLineF(x, trough.top(), x, trough.bottom() + 1));
}

void DecorationWidget::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.fillRect(rect(), color_);
    const QColor dark = color_.darker(135);
    if (border_ <= 1) {
        p.setPen(dark);
        p.drawRect(rect().adjusted(0, 0, -1, -1));
        return;
    }
    // Two pixels, sunk: darker above and left. Below and right the outer line is still a shade
    // darker than the face, so that the box keeps its edge on a light panel.
    const QColor shade[2][2] = {{dark, color_.darker(112)},
                                {color_.darker(165), color_.lighter(110)}};
    const QRect r = rect();
    for (int i = 0; i < border_; ++i) {
        const int ring = std::min(i, 1);
        p.setPen(shade[ring][0]);
        p.drawLine(r.left() + i, r.top() + i, r.right() - i, r.top() + i);
        p.drawLine(r.left() + i, r.top() + i, r.left() + i, r.bottom() - i);
        p.setPen(shade[ring][1]);
        p.drawLine(r.left() + i, r.bottom() - i, r.right() - i, r.bottom() - i);
        p.drawLine(r.right() - i, r.top() + i + 1, r.right() - i, r.bottom() - i);
    }
}

PopupRingButton::PopupRingButton(QWidget *parent, int border)
    : QAbstractButton(parent), border_(border) {
    setFocusPolicy(Qt::StrongFocus);
}

void PopupRingButton::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QColor face = isDown() ? face_.darker(115) : face_;
    if (!isEnabled())
        face = face.lighter(110);
    p.fillRect(rect(), face);
    p.setPen(face_.darker(150));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    if (border_ > 1)
        p.drawRect(rect().adjusted(1, 1, -2, -2));
    if (hasFocus()) {
        p.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
        p.drawRect(rect().adjusted(border_ + 1, border_ + 1, -border_ - 2, -border_ - 2));
    }
    const int side = std::min(width(), height());
    const double a = std::max(3.0, side * 0.18);
    const QPointF c(arrowOnly_ ? width() / 2.0 : width() - side / 2.0, height() / 2.0 + a / 3);
    QPainterPath arrow;
    arrow.moveTo(c.x() - a, c.y() - a / 1.4);
    arrow.lineTo(c.x() + a, c.y() - a / 1.4);
    arrow.lineTo(c.x(), c.y() + a / 1.4);
    arrow.closeSubpath();
    p.fillPath(arrow, isEnabled() ? QColor(0x30, 0x30, 0x30) : QColor(0x90, 0x90, 0x90));
    if (!arrowOnly_) {
        p.setPen(palette().color(QPalette::ButtonText));
        p.drawText(rect().adjusted(4, 0, -side, 0), Qt::AlignVCenter | Qt::AlignLeft, text());
    }
}

void PopupRingButton::keyPressEvent(QKeyEvent *event) {
    // Space opens the list straight away; QAbstractButton would wait for the key's release.
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

} // namespace qv::rt::detail
