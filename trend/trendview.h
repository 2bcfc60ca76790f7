// The chart of the trend window: Qt Charts in the panel's canvas, six lines over the last
// minute, redrawn when readings come, never more often than the screen and never taking more
// than a small share of the time, so that the GO loop, which runs on the same thread, keeps
// its pace.
#pragma once

namespace qv {

constexpr double kTrendSpanSeconds = 60.0;

// Starts drawing in the canvas control (built on first use) and follows new readings.
void TrendViewShow(int panel, int canvas);
// Stops following; the picture stays as it was.
void TrendViewStop();
// A reading was kept: a redraw is due, at its time.
void TrendViewReadingAdded();
// Draws the kept readings now, as the next redraw would.
void TrendViewDraw();

} // namespace qv
