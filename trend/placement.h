// Where the trend window opens: beside the main panel where the screen has room, never over the
// main panel's commands. A plain rule over rectangles, apart from any screen.
#pragma once

namespace qv {

struct PlaceRect {
    int left = 0, top = 0, width = 0, height = 0;
    int right() const { return left + width; } // one past the last column
    int bottom() const { return top + height; }
    bool operator==(const PlaceRect &) const = default;
};

struct PlaceSize {
    int width = 0, height = 0;
};

// Rectangles are windows with their frames, in screen pixels. The window wants `preferred` (a
// width and height) and takes no less than `minimum`. In order:
// 1. Whole, beside the main panel: to its right, else below it, else to its left, else above.
// 2. Made smaller to fit beside the main panel: the side that leaves it clearly largest, else
//    the first in that order.
// 3. Over the main panel but clear of `keepClear` (its commands): as little of it as can be.
// 4. Where even that finds no room (a screen hardly larger than the main panel): at its smallest
//    in the screen's top right corner, over the main panel's top (its readings) rather than its
//    commands below.
// The result always lies on `screen` (the part windows may take) as far as its size allows.
PlaceRect PlaceBesideMain(const PlaceRect &main, const PlaceRect &keepClear,
                          const PlaceRect &screen, PlaceSize preferred, PlaceSize minimum);

} // namespace qv
