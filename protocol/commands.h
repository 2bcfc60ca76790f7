// The sensor commands and the GO acquisition loop, over whichever link is selected.
#pragma once

namespace qv {

extern const char InfoTimeoutVer[];

// Writes the frame in szWriteBuf and waits up to `limit` seconds for `expected` reply bytes in
// szReadBuf; the reply is complete exactly when bytesToRead ends at 0. On RS-232 the wait polls
// the input queue, pumping events in every pass when `pump` is set, else drawing once before it
// starts; on TCP it always pumps, since the receive callback runs only then.
void transact(int expected, double limit, bool pump);

// After a close (`closing`) every command returns at once, sending and showing nothing.

// The factory-default parameter set and teach table: command 1, rows 0 to 30, command 6.
void SendPara();
// The calibration parameter block with the panel's POWER value: command 1.
void SendCalibPara();
// The panel's three calibration factors: command 8.
void SendCF();
// Reads the calibration factors into cfrot, cfgruen, cfblau and the factor boxes.
void GetCF();
// Reads the parameter image of the memory `target` selects into pp and its mirrors.
void GetPara();
// One data transaction for the frame in szWriteBuf; leaves bytesToRead 0 when complete.
void GetDataFrame();
// The GO loop: readings decoded and shown until `poll` is cleared.
void GetData();

} // namespace qv
