// The data side of the sensor protocol: the parameter image and its mirror variables (declared
// with the program-wide variables), the 36-byte command frame, and the decoders of the sensor's
// replies. Nothing here touches the link.
#pragma once

#include "shell/state.h"

namespace qv {

// Command codes.
constexpr u16 ORDER_SETPARA = 1;
constexpr u16 ORDER_SETTEACH = 2;
constexpr u16 ORDER_GETPARA_RAM = 3;
constexpr u16 ORDER_GETPARA_EEPROM = 4;
constexpr u16 ORDER_GETDATA = 5;
constexpr u16 ORDER_SETPARA_END = 6;
constexpr u16 ORDER_GETVERSION = 7;
constexpr u16 ORDER_SETCF = 8;
constexpr u16 ORDER_GETCF = 9;

// Every frame, whatever its command: the sync word, the code and anzframe payload words.
int FrameBytes();

// Writes sync and code, then the payload for `code` (teach row `row` for code 2, the three
// calibration factors for code 8, else pp[0..anzframe-1]) into szWriteBuf.
void FillTxBuf(u16 code, u16 row);
// Decode szReadBuf: anzpara words into pp, anzdata words into databuf (big-endian, unsigned).
void GetRxBufPara();
void GetRxBufData();
// pp into its mirrors, then maxcolno held to 31 (pp[6] keeps what came).
void CopyPPtoVars();
// The factory-default parameter set into all of pp.
void CopyVarsToPP();
// databuf[0..9] into the reading variables.
void CopyDatatoVars();

} // namespace qv
