// Hooks for tests: reach the Qt widgets behind panels and controls, so that tests can click,
// type and take pictures the way an operator would. The program itself never uses these.
#pragma once

#include <functional>

class QWidget;

namespace qv::rt::testing {

QWidget *PanelWidget(int panel);
QWidget *ControlWidget(int panel, int control);
// Draws every display whose redraw is being held back to the screen's rate.
void FlushDisplays();
// Forgets the event pump's idle state, so a measurement starts from a clean pump.
void ResetPump();
// Runs `hook` at the end of every ProcessDrawEvents, when the screen shows what the program set
// before a wait that pumps no events. An empty hook removes it.
void SetDrawHook(std::function<void()> hook);
// Whether QuitUserInterface was called while no event loop ran (RunUserInterface would return
// at once); forgets it.
bool TakeQuitRequest();

} // namespace qv::rt::testing
