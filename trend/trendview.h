// The chart of the trend window: Qt Charts in the panel's canvas, six lines over the last
// minute and the marks among them, redrawn when readings come, never more often than the screen and
// never taking more than a small share of the time, so that the GO loop, which runs on the same
// thread, keeps its pace.
#pragma once

namespace qv {

constexpr double kTrendSpanSeconds = 60.0;

// The value axis from `low` to `high`, a tick every `step`.
struct TrendAxis {
    int low, high, step;
    bool operator==(const TrendAxis &) const = default;
};
// For readings from `least` to `most` in view (none when least > most): with `fit`, their range
// with a margin of a tenth of it (at least 5) on either side, widened to whole steps of 1, 2 or 5
// times a power of ten, four to six of them, never below 0; without, 0 to 4096, or to the next
// multiple of 4096 above the largest reading, like the bars.
TrendAxis TrendValueAxis(bool fit, int least, int most);

// Starts drawing in the canvas control (built on first use) and follows new readings.
void TrendViewShow(int panel, int canvas);
// Stops following; the picture stays as it was.
void TrendViewStop();
// A reading was kept: a redraw is due, at its time.
void TrendViewReadingAdded();
// Draws the kept readings now, as the next redraw would.
void TrendViewDraw();
// FIT was pressed: the picture shown gets the other value axis, also while PAUSE holds it.
void TrendViewFit();

} // namespace qv
