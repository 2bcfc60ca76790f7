// The data side of the sensor protocol: the parameter image and its mirror variables, the
// 36-byte command frame, and the decoders of the sensor's replies. Nothing here touches the link.
#pragma once

#include <cstdint>

namespace qv {

using u16 = std::uint16_t;

// Protocol sizes and the code of the frame built last; set at start-up.
extern u16 sync;     // sync word at the head of every frame: 85 (0x0055)
extern u16 anzframe; // payload words of a frame: 16
extern u16 anzpara;  // words of the parameter image and of a parameter reply: 202
extern u16 anzdata;  // words of a data reply: 16
extern u16 order;    // command code of the frame built last

// Which sensor memory a parameter read addresses.
extern const int RAM;     // 1: command 3
extern const int EEPROM;  // 2: command 4
extern const int DATFILE; // 3: not used by any command
extern u16 target;
extern u16 source;

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

constexpr int kBufSize = 1024;  // equals the serial input queue, so a whole queue fits
constexpr int kParaWords = 202; // words of the parameter image
constexpr int kTeachRows = 31;  // rows of the teach table
constexpr int kDataWords = 16;  // words of a data reply
constexpr int kFrameBytes = 36; // 4 + 2 * anzframe

// Buffers: the frame being sent and the raw reply, both from offset 0. Never cleared: bytes a
// frame layout does not cover go out as the previous frame left them.
extern unsigned char szWriteBuf[kBufSize];
extern unsigned char szReadBuf[kBufSize];
extern u16 databuf[kDataWords];
extern u16 pp[kParaWords];

// Mirrors of the parameter image.
extern u16 power, pmode, average, evalmode, hold, intlim, maxcolno, outmode, trigger, exteach,
    calcmode, dynwinlo, dynwinhi, colorgroup, frei15, frei16;
extern u16 ctt[kTeachRows][5];
extern u16 groupbuf[kTeachRows];

// Readings of the last data reply.
extern u16 dataR, dataG, dataB, dataX, dataY, dataINT, dataCOL, dataRawR, dataRawG, dataRawB;

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
