// The sensor commands and the GO acquisition loop, over whichever link is selected.
#pragma once

#include <cstdint>

namespace qv {

// Transaction state, shared with the link's receive callback and the calibration.
extern std::uint16_t nBytesW; // count returned by the last write of a write-only command
extern double tstart;         // Timer reading when the request went out
extern double tdiff;          // seconds waited so far
extern int dataSize;          // TCP: expected reply length; RS-232: bytes queued at the last poll
extern int bytesToRead;       // reply bytes still missing; 0 = the reply is complete
// Timer reading at which the TCP transaction now waiting gives up; 0 while none waits. The
// receive callback places bytes only for such a transaction, and waits for the rest of a reply
// no longer than it does.
extern double replyDeadline;

extern const char InfoTimeoutVer[];

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
