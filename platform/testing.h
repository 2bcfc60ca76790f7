// Hooks for tests: reach the Qt widgets behind panels and controls, so that tests can click,
// type and take pictures the way an operator would. The program itself never uses these.
#pragma once

class QWidget;

namespace qv::rt::testing {

QWidget *PanelWidget(int panel);
QWidget *ControlWidget(int panel, int control);
// Draws every display whose redraw is being held back to the screen's rate.
void FlushDisplays();
// Forgets the event pump's idle state, so a measurement starts from a clean pump.
void ResetPump();

} // namespace qv::rt::testing
