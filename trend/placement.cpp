#include "trend/placement.h"

#include <algorithm>
#include <initializer_list>

namespace qv {

namespace {

constexpr int kGap = 8; // between the two windows' frames

enum class Side { Right, Below, Left, Above };
constexpr Side kSides[] = {Side::Right, Side::Below, Side::Left, Side::Above};

long long area(const PlaceRect &r) {
    return static_cast<long long>(r.width) * r.height;
}

long long overlap(const PlaceRect &a, const PlaceRect &b) {
    const long long w = std::min(a.right(), b.right()) - std::max(a.left, b.left);
    const long long h = std::min(a.bottom(), b.bottom()) - std::max(a.top, b.top);
    return w > 0 && h > 0 ? w * h : 0;
}

// The part of `screen` beyond `r` on one side; empty or negative when there is none.
PlaceRect beyond(const PlaceRect &screen, const PlaceRect &r, Side side) {
    PlaceRect s = screen;
    switch (side) {
    case Side::Right:
        s.left = std::max(screen.left, r.right() + kGap);
        s.width = screen.right() - s.left;
        break;
    case Side::Left:
        s.width = std::min(screen.right(), r.left - kGap) - screen.left;
        break;
    case Side::Below:
        s.top = std::max(screen.top, r.bottom() + kGap);
        s.height = screen.bottom() - s.top;
        break;
    case Side::Above:
        s.height = std::min(screen.bottom(), r.top - kGap) - screen.top;
        break;
    }
    return s;
}

struct Candidate {
    PlaceRect rect;
    long long covered = 0; // of the main panel
    int order = 0;
};

// Less of the main panel covered; then a clearly larger window (by an eighth: not one that a few
// pixels of a frame make larger); then earlier in the order of the sides; then larger.
bool better(const Candidate &a, const Candidate &b) {
    if (a.covered != b.covered)
        return a.covered < b.covered;
    const long long sa = area(a.rect), sb = area(b.rect);
    if (sa * 8 > sb * 9 || sb * 8 > sa * 9)
        return sa > sb;
    return a.order != b.order ? a.order < b.order : sa > sb;
}

} // namespace

PlaceRect PlaceBesideMain(const PlaceRect &main, const PlaceRect &keepClear,
                          const PlaceRect &screen, PlaceSize preferred, PlaceSize minimum) {
    bool found = false;
    Candidate best;
    int order = 0;
    // Beside the main panel first, then beside its commands only: the second kind covers some
    // of the main panel, and so comes first only where the first finds no room.
    for (const PlaceRect *avoid : {&main, &keepClear})
        for (Side side : kSides) {
            const PlaceRect strip = beyond(screen, *avoid, side);
            ++order;
            if (strip.width < minimum.width || strip.height < minimum.height)
                continue;
            const int fitW = std::min(preferred.width, strip.width);
            const int fitH = std::min(preferred.height, strip.height);
            // The whole room, or the smallest window where that covers less of the main panel;
            // along the side, lined up with the main panel or at either end of the room.
            for (int w : {fitW, minimum.width})
                for (int h : {fitH, minimum.height}) {
                    const bool across = side == Side::Right || side == Side::Left;
                    const int along[] = {across ? main.top : main.left,
                                         across ? strip.top : strip.left,
                                         across ? strip.bottom() - h : strip.right() - w};
                    for (int at : along) {
                        PlaceRect r{0, 0, w, h};
                        if (across) {
                            r.left = side == Side::Right ? strip.left : strip.right() - w;
                            r.top = std::clamp(at, strip.top, strip.bottom() - h);
                        } else {
                            r.top = side == Side::Below ? strip.top : strip.bottom() - h;
                            r.left = std::clamp(at, strip.left, strip.right() - w);
                        }
                        const Candidate c{r, overlap(r, main), order};
                        if (overlap(r, keepClear) == 0 && (!found || better(c, best))) {
                            best = c;
                            found = true;
                        }
                    }
                }
        }
    if (found)
        return best.rect;
    return {std::max(screen.left, screen.right() - minimum.width), screen.top, minimum.width,
            minimum.height};
}

} // namespace qv
