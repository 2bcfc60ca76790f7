// Qt widgets behind the run-time's controls that Qt does not offer as they are.
#pragma once

#include <QAbstractButton>
#include <QWidget>

namespace qv::rt::detail {

// A horizontal bar that fills in proportion to its value between a low and a high limit, and
// may mark a window on its scale (negative ends: none).
class BarWidget : public QWidget {
  public:
    explicit BarWidget(QWidget *parent) : QWidget(parent) {}
    void setRange(double low, double high);
    void setValue(double value);
    void setFillColor(const QColor &color);
    void setWindow(double low, double high);
    double value() const { return value_; }

  protected:
    void paintEvent(QPaintEvent *event) override;

  private:
    int xOf(const QRect &trough, double value) const;
    double low_ = 0, high_ = 100, value_ = 0;
    double windowLow_ = -1, windowHigh_ = -1;
    QColor fill_{0x00, 0x80, 0xFF};
};

// A box drawn behind other controls: filled with its colour, with a 1- or 2-pixel border.
class DecorationWidget : public QWidget {
  public:
    DecorationWidget(QWidget *parent, int border) : QWidget(parent), border_(border) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    void setColor(const QColor &color) {
        color_ = color;
        update();
    }

  protected:
    void paintEvent(QPaintEvent *event) override;

  private:
    int border_;
    QColor color_{0xE0, 0xE0, 0xE0};
};

// The square button of a pop-up ring: shows the current item's label, or only a drop-down
// arrow, and opens its list on a click or the space key.
class PopupRingButton : public QAbstractButton {
  public:
    PopupRingButton(QWidget *parent, int border);
    void setArrowOnly(bool on) {
        arrowOnly_ = on;
        update();
    }
    void setFaceColor(const QColor &color) {
        face_ = color;
        update();
    }

  protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

  private:
    int border_;
    bool arrowOnly_ = false;
    QColor face_{0xE0, 0xE0, 0xE0};
};

} // namespace qv::rt::detail
