// Program-wide state owned by the application shell, start-up and shut-down, and the command
// buttons' dimming.
#pragma once

#include <cstdint>

namespace qv {

extern int panel;          // main panel handle
extern int interfacepanel; // connection panel handle
extern std::uint16_t poll; // run flag of the GO loop; any writer of 0 ends it at its next turn
// Actions under way, counted as they nest; the command buttons and the connection panel's link
// buttons stay dimmed while it is above 0, so no second action starts inside a first one.
extern int busy;
// 1 once the close box was used: the action under way ends after its current wait, and nothing
// new starts or asks the operator anything; the program then ends.
extern std::uint16_t closing;
extern char proj_dir[260];
extern char ipComboBoxFileName[260];

constexpr const char *kResourceFile = "QuorvatV60.uir";
constexpr const char *kHistoryFileName = "IPComboBoxQuorvatv60.ipa";

// The whole program: start-up, the event loop, shut-down. Returns the exit code: 0 after a
// normal run, -1 when start-up fails.
int WinMain(int argc, char **argv);
// Start values, then the start-up steps in their fixed order.
void InitVars();
// Starts (1) or ends (0) an action: the six command buttons, and the connection panel's try,
// accept and discard buttons, are dimmed from the first start until the last end. Then pumps
// events once, so the change is drawn and pending clicks meet the dimmed buttons.
void SetButtonsDimmed(int dimmed);
// Main panel callback: the close box stops the GO loop and ends the event loop.
int CBF_P(int panelHandle, int event, void *callbackData, int eventData1, int eventData2);

} // namespace qv
