// While the run-time only draws (ProcessDrawEvents), none of the program's code may run: a
// callback due meanwhile waits, and runs from the next ordinary event processing, in order.
#pragma once

#include <functional>

namespace qv::rt::detail {

// True on the user-interface thread while the run-time draws without running callbacks.
bool callbacksHeld();
// Queues `call` to the event loop once callbacks are no longer held, behind those held before.
void runWhenReleased(std::function<void()> call);
// How often ProcessSystemEvents has run. A loop that handles events between its looks at a line
// waits in that pump, and is no tight poll.
unsigned long eventPasses();

} // namespace qv::rt::detail
