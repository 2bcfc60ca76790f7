// One request and its reply over the line in use, whatever its kind, and the line's state: the
// one place that decides which bytes are a reply. Used by the commands and the link check.
#pragma once

#include "link/channel.h"

#include <memory>

namespace qv {

enum class Reply {
    Complete, // exactly the reply's bytes came
    Missing,  // fewer came within the limit
    Long,     // more came than the reply has: a late or stray reply among them
    Lost,     // the line has gone (or went during the wait)
};

// From now on requests go over `line` (none: no line), which the link has just opened (`open`)
// or not (yet). The line before it is closed.
void UseLine(std::unique_ptr<Channel> line, bool open);
// The line in use has opened since (a connection made in the background).
void LineOpened();
Channel *Line();
// The line that was open has gone: the server closed it, the line failed, the device went.
void LineGone();
bool LineIsGone();
// Counts every opening and every loss of the line: an action that sees it change has lost the
// sensor it started with.
unsigned LineGeneration();

// Writes the request in szWriteBuf and waits up to `limit` seconds for exactly `expected` reply
// bytes in szReadBuf, handling events meanwhile when `pump` is set (a TCP line handles them in
// any case), else drawing once before. Bytes left on the line are dropped first; after a failed
// exchange, or on a new line, until the line has been quiet for two frame times, and a reply then
// has to stay alone for as long. bytesToRead ends at expected minus the bytes that came.
Reply Transact(int expected, double limit, bool pump);
// Writes the request in szWriteBuf, which gets no reply: true when the whole frame went.
bool SendRequest();
// Takes what the line holds: into the reply awaited, else it is dropped. For the TCP callback,
// and for a look at an idle line.
void Collect();

} // namespace qv
