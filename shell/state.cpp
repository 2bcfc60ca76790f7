#include "shell/state.h"

namespace qv {

int panel, interfacepanel;
u16 poll;
int busy;
u16 closing;
char proj_dir[260];
char ipComboBoxFileName[260];

u16 sync, anzframe, anzpara, anzdata, order;
const int RAM = 1;
const int EEPROM = 2;
const int DATFILE = 3;
u16 target, source;

unsigned char szWriteBuf[kBufSize];
unsigned char szReadBuf[kBufSize];
u16 databuf[kDataWords];
u16 pp[kParaWords];
u16 power, pmode, average, evalmode, hold, intlim, maxcolno, outmode, trigger, exteach, calcmode,
    dynwinlo, dynwinhi, colorgroup, frei15, frei16;
u16 ctt[kTeachRows][5];
u16 groupbuf[kTeachRows];
u16 dataR, dataG, dataB, dataX, dataY, dataINT, dataCOL, dataRawR, dataRawG, dataRawB;
u16 deltaraw, deltacalib;

u16 nBytesW;
double tstart, tdiff;
int dataSize, bytesToRead;
double replyDeadline;

u16 setvalue, maxdelta;
u16 meanR, meanG, meanB, meanD;
u16 cfrot, cfgruen, cfblau;
CalcOutcome calcOutcome;
double sdR, sdG, sdB;
u16 calcFactors[3];

char operatorName[64];
char sensorSerial[64];
char whiteReference[64];
char sequenceId[40];
u16 stopRequested;
u16 sequenceRunning;

u16 comprotocol, comport;
char ipBuf[256];
char portNumStr[32];
int portNum;
std::uint32_t g_hconversation;
u16 tcpcon;
int bytesRead;
std::int16_t ret;
char szStatus[48];
char version[49];
u16 comprotocolold, comportold;
char ipBufOld[256];
char portNumStrOld[32];

} // namespace qv
