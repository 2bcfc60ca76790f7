// The sensor commands and the GO acquisition loop, over the line in use.
#pragma once

#include "shell/state.h"

namespace qv {

extern const char InfoTimeoutVer[];

// After a close (`closing`) every command returns at once, sending and showing nothing.

// The factory-default parameter set and teach table: command 1, rows 0 to 30, command 6. True
// when every frame went.
bool SendPara();
// The calibration parameter block with the panel's POWER value: command 1. True when it went.
bool SendCalibPara();
// The panel's three calibration factors: command 8. True when they went.
bool SendCF();
// Reads the calibration factors into cfrot, cfgruen, cfblau and the factor boxes. True when the
// sensor's reply came.
bool GetCF();
// GetCF's reading without its report or its stop of the GO loop, for the link coming back.
bool ReadFactors();
// The factors the sensor gave when they were first read since its line opened (or came back),
// before the program could change them: what a calibration found. False when none were read.
bool FactorsAsFound(u16 (&cf)[3]);
// Reads the parameter image of the memory `target` selects into pp and its mirrors.
void GetPara();
// One data transaction for the frame in szWriteBuf, its reply left in szReadBuf: true when it
// came whole, and alone. Reports nothing.
bool GetDataFrame();
// The GO loop: readings decoded and shown until `poll` is cleared. A line that goes meanwhile is
// waited for (AwaitLink) rather than reported.
void GetData();

} // namespace qv
