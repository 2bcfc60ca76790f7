// A canvas control (kind "canvas" in the resource file) is an area of a panel that the run-time
// places, sizes, shows and dims like any other control, but whose picture the program draws
// with Qt itself: the one way for a program module to put a Qt widget of its own on a panel.
#pragma once

#include <QColor>

class QWidget;

namespace qv::rt {

// A colour as the run-time's attributes give it (0xRRGGBB), for drawing with Qt.
inline QColor ColorOf(int rgb) {
    return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

// The widget to draw in: children made on it fill the control's area and follow its visibility.
// Null when the control does not exist or is not a canvas.
QWidget *CanvasWidget(int panel, int control);

} // namespace qv::rt
