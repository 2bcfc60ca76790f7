#include "protocol/codec.h"

namespace qv {

namespace {

constexpr int kTeachStart = 16;

void putWord(int offset, u16 w) {
    szWriteBuf[offset] = static_cast<unsigned char>(w / 256);
    szWriteBuf[offset + 1] = static_cast<unsigned char>(w % 256);
}

u16 getWord(int offset) {
    return static_cast<u16>(szReadBuf[offset] * 256 + szReadBuf[offset + 1]);
}

// The sixteen scalar parameters in the order of pp[0..15].
u16 *const kScalars[kTeachStart] = {
    &power,   &pmode,   &average,  &evalmode, &hold,     &intlim,     &maxcolno, &outmode,
    &trigger, &exteach, &calcmode, &dynwinlo, &dynwinhi, &colorgroup, &frei15,   &frei16};

constexpr u16 kDefaults[kTeachStart] = {250, 0, 128, 0, 10, 50, 1, 0, 0, 0, 0, 3000, 3500, 0, 0, 0};

} // namespace

int FrameBytes() {
    return 4 + 2 * anzframe;
}

void FillTxBuf(u16 code, u16 row) {
    putWord(0, sync);
    putWord(2, code);
    if (code == ORDER_SETTEACH) {
        // Callers pass rows 0 to 30; a larger one would read past the image.
        if (row >= kTeachRows)
            row = kTeachRows - 1;
        putWord(4, row);
        for (int c = 0; c < 6; ++c)
            putWord(6 + 2 * c, pp[kTeachStart + 6 * row + c]);
    } else if (code == ORDER_SETCF) {
        putWord(4, cfrot);
        putWord(6, cfgruen);
        putWord(8, cfblau);
    } else {
        for (int i = 0; i < anzframe && i < kTeachStart; ++i)
            putWord(4 + 2 * i, pp[i]);
    }
}

void GetRxBufPara() {
    for (int i = 0; i < anzpara && i < kParaWords; ++i)
        pp[i] = getWord(2 * i);
}

void GetRxBufData() {
    for (int i = 0; i < anzdata && i < kDataWords; ++i)
        databuf[i] = getWord(2 * i);
}

void CopyPPtoVars() {
    for (int i = 0; i < kTeachStart; ++i)
        *kScalars[i] = pp[i];
    int w = kTeachStart;
    for (int r = 0; r < kTeachRows; ++r) {
        for (int k = 0; k < 5; ++k)
            ctt[r][k] = pp[w++];
        groupbuf[r] = pp[w++];
    }
    if (maxcolno > kTeachRows)
        maxcolno = kTeachRows;
}

void CopyVarsToPP() {
    for (int i = 0; i < kTeachStart; ++i)
        pp[i] = kDefaults[i];
    int w = kTeachStart;
    for (int r = 0; r < kTeachRows; ++r) {
        for (int k = 0; k < 5; ++k)
            pp[w++] = 1;
        pp[w++] = 0;
    }
}

void CopyDatatoVars() {
    dataR = databuf[0];
    dataG = databuf[1];
    dataB = databuf[2];
    dataX = databuf[3];
    dataY = databuf[4];
    dataINT = databuf[5];
    dataCOL = databuf[6];
    dataRawR = databuf[7];
    dataRawG = databuf[8];
    dataRawB = databuf[9];
}

} // namespace qv
