// The program's start and end: start-up in its fixed order, the event loop, shut-down, and the
// main panel's close box. The top of the program: it includes everything else.
#pragma once

namespace qv {

// The whole program: start-up, the event loop, shut-down. Returns the exit code: 0 after a
// normal run, -1 when start-up fails.
int WinMain(int argc, char **argv);
// Start values, then the start-up steps in their fixed order.
void InitVars();
// Main panel callback: the close box stops the GO loop and ends the event loop.
int CBF_P(int panelHandle, int event, void *callbackData, int eventData1, int eventData2);

} // namespace qv
