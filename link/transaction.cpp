#include "link/transaction.h"

#include "platform/userint.h"
#include "platform/utility.h"
#include "protocol/codec.h"
#include "shell/state.h"

#include <algorithm>

namespace qv {

using namespace rt;

namespace {

// About two frame times at 19200 baud (a 36-byte request takes 19 ms on the wire): a line that
// has brought nothing for this long has finished what it was sending.
constexpr double kQuietSeconds = 0.04;
// A write-only request waits no longer than this for a line to go quiet.
constexpr double kWriteQuietLimit = 2.0;

struct LineState {
    std::unique_ptr<Channel> line;
    bool opened = false; // it was open: a line that fails now has gone
    bool gone = false;
    unsigned generation = 0;
    // A late reply may still be on its way: the last exchange failed, or the line is new (the
    // program before may have left a request unanswered). Until the line has been quiet once,
    // and until a reply has come clean.
    bool quietNeeded = true;
    bool unsure = true;
    // The reply awaited: its length (0 while none is), the bytes placed, and bytes beyond it.
    int awaited = 0;
    int placed = 0;
    int surplus = 0;
    double lastDropped = 0; // Timer() when bytes were last dropped
};

// Never destroyed: a line left open at the end is closed with the run-time, not after it.
LineState &g = *new LineState;

// One look at the line: events first when `pump`, else a moment's wait when nothing came.
void look(bool pump) {
    if (pump)
        ProcessSystemEvents();
    const int before = g.placed + g.surplus;
    const double dropped = g.lastDropped;
    Collect();
    if (!pump && g.line && g.placed + g.surplus == before && g.lastDropped == dropped)
        g.line->idle();
}

// Before a request, what is left on the line goes. While a late reply may still come, the line
// must first have been quiet for two frame times; one that never goes quiet (a flood) is given
// up on after `limit`, and the reply's length stays the guard.
void prepare(double limit, bool pump) {
    g.awaited = 0;
    g.lastDropped = Timer();
    Collect();
    if (!g.quietNeeded)
        return;
    const double start = Timer();
    while (!g.gone && Timer() - g.lastDropped < kQuietSeconds && Timer() - start < limit)
        look(pump);
    g.quietNeeded = Timer() - g.lastDropped < kQuietSeconds;
}

} // namespace

void UseLine(std::unique_ptr<Channel> line, bool open) {
    g.line.reset(); // the old line closes before the new one takes its resources
    g.line = std::move(line);
    g.opened = false;
    g.gone = false;
    g.awaited = 0;
    if (open)
        LineOpened();
}

void LineOpened() {
    g.opened = true;
    g.gone = false;
    g.quietNeeded = g.unsure = true;
    ++g.generation;
}

Channel *Line() {
    return g.line.get();
}

void LineGone() {
    if (g.gone)
        return;
    g.gone = true;
    ++g.generation;
}

bool LineIsGone() {
    return g.gone;
}

unsigned LineGeneration() {
    return g.generation;
}

void Collect() {
    if (!g.line || g.gone)
        return;
    for (;;) {
        int n;
        if (g.awaited > 0 && g.placed < g.awaited) {
            n = g.line->take(szReadBuf + g.placed, g.awaited - g.placed);
            if (n > 0) {
                g.placed += n;
                continue;
            }
        } else {
            static unsigned char scratch[kBufSize];
            n = g.line->take(scratch, kBufSize);
            if (n > 0) {
                if (g.awaited > 0)
                    g.surplus += n;
                g.lastDropped = Timer();
                continue;
            }
        }
        // A line that was never opened says so on every look; only one that was open can go.
        if (n < 0 && g.opened)
            LineGone();
        return;
    }
}

Reply Transact(int expected, double limit, bool pump) {
    expected = std::clamp(expected, 1, kBufSize);
    dataSize = expected;
    bytesToRead = expected;
    if (g.gone)
        return Reply::Lost;
    if (!g.line)
        return Reply::Missing;
    pump = pump || g.line->needsEvents();
    if (!pump)
        ProcessDrawEvents();
    prepare(limit, pump);
    // Closed while the line went quiet: nothing more goes out.
    if (closing)
        return Reply::Missing;
    g.awaited = expected;
    g.placed = 0;
    g.surplus = 0;
    g.line->send(szWriteBuf, FrameBytes());
    tstart = Timer();
    replyDeadline = tstart + limit;
    for (;;) {
        look(pump);
        tdiff = Timer() - tstart;
        if (g.placed >= expected || g.surplus > 0 || g.gone || tdiff > limit)
            break;
    }
    // A reply after a failure must stay alone a while: a late one may be right behind it.
    if (g.placed == expected && g.surplus == 0 && g.unsure) {
        const double until = Timer() + kQuietSeconds;
        while (g.surplus == 0 && !g.gone && Timer() < until)
            look(pump);
    }
    g.awaited = 0;
    replyDeadline = 0;
    bytesToRead = expected - g.placed - g.surplus;
    Reply reply = Reply::Complete;
    if (g.surplus > 0)
        reply = Reply::Long;
    else if (g.placed < expected)
        reply = g.gone ? Reply::Lost : Reply::Missing;
    g.quietNeeded = g.unsure = reply != Reply::Complete;
    return reply;
}

bool SendRequest() {
    if (g.gone || !g.line)
        return false;
    prepare(kWriteQuietLimit, false);
    if (closing)
        return false;
    nBytesW = static_cast<u16>(g.line->send(szWriteBuf, FrameBytes()));
    if (nBytesW == FrameBytes())
        return true;
    Collect(); // a line that has gone says so
    return false;
}

} // namespace qv
