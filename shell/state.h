// The program-wide variables: every state the program's parts share, each a static global that
// lives for the whole run. The lowest header of the program: any part may include it, and it
// includes nothing of the program. Start values are set by InitVars (app/startup.h) where zero
// is not the start value.
#pragma once

#include <cstdint>

namespace qv {

using u16 = std::uint16_t;

constexpr const char *kResourceFile = "QuorvatV60.uir";
constexpr const char *kHistoryFileName = "IPComboBoxQuorvatv60.ipa";
constexpr const char *kSettingsFileName = "QuorvatV60.ini"; // beside the history

// ---- The application shell. ----
extern int panel;          // main panel handle
extern int interfacepanel; // connection panel handle
extern u16 poll;           // run flag of the GO loop; any writer of 0 ends it at its next turn
// Actions under way, counted as they nest; the command buttons and the connection panel's link
// buttons stay dimmed while it is above 0, so no second action starts inside a first one.
extern int busy;
// 1 once the close box was used: the action under way ends after its current wait, and nothing
// new starts or asks the operator anything; the program then ends.
extern u16 closing;
extern char proj_dir[260];
extern char ipComboBoxFileName[260];

// ---- The parameter image, the frame and the replies. ----
constexpr int kBufSize = 1024;  // equals the serial input queue, so a whole queue fits
constexpr int kParaWords = 202; // words of the parameter image
constexpr int kTeachRows = 31;  // rows of the teach table
constexpr int kDataWords = 16;  // words of a data reply

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
// Readings of the last data reply, and their spreads as the panel shows them.
extern u16 dataR, dataG, dataB, dataX, dataY, dataINT, dataCOL, dataRawR, dataRawG, dataRawB;
extern u16 deltaraw;   // largest minus smallest raw R, G, B of the last reading
extern u16 deltacalib; // largest minus smallest calibrated R, G, B

// ---- The transaction under way, shared with the link's receive callback. ----
extern u16 nBytesW;     // count returned by the last write of a write-only command
extern double tstart;   // Timer reading when the request went out
extern double tdiff;    // seconds waited so far
extern int dataSize;    // TCP: expected reply length; RS-232: bytes queued at the last poll
extern int bytesToRead; // reply bytes still missing; 0 = the reply is complete
// Timer reading at which the TCP transaction now waiting gives up; 0 while none waits. The
// receive callback places bytes only for such a transaction, and waits for the rest of a reply
// no longer than it does.
extern double replyDeadline;

// ---- The calibration. ----
extern u16 setvalue; // target of each calibrated channel, from P_EDITSETVALUE
extern u16 maxdelta; // largest mean raw spread accepted, from P_EDITMAXDELTA
extern u16 meanR, meanG, meanB, meanD;
extern u16 cfrot, cfgruen, cfblau; // calibration factors red, green, blue
// How the last CalcCF ended (None while it has not come to an end), and the three factors its
// SetCF worked out, in range or not: what the calibration record writes down.
enum class CalcOutcome : std::uint8_t { None, Passed, Declined, Spread, Range, Timeout, Stopped };
extern CalcOutcome calcOutcome;
extern u16 calcFactors[3];
// The standard deviations of the raw channels over the last series, red, green, blue.
extern double sdR, sdG, sdB;

// ---- The station: who calibrates which sensor against what, as typed on the main panel
// (Latin-1, as text controls hold it), and the CALIBRATE SENSOR run under way. ----
extern char operatorName[64];
extern char sensorSerial[64];
extern char whiteReference[64];
extern char sequenceId[40]; // shared by the record lines of one run; empty for single buttons
// Set by STOP, cleared when AUTO POWER or CALIBRATE SENSOR starts: they end after the step under
// way. (STOP's clearing of `poll` ends a GO loop, which other commands also clear.)
extern u16 stopRequested;
// 1 while CALIBRATE SENSOR runs: it asks the operator nothing after its start, so commands and
// the link report in the status line and the record only, never in a box.
extern u16 sequenceRunning;

// ---- The link. ----
extern u16 comprotocol;     // 0 = RS-232, 1 = TCP/IP
extern u16 comport;         // serial port number, 1 = the first port
extern char ipBuf[256];     // the sensor's TCP server
extern char portNumStr[32]; // TCP port as entered
extern int portNum;         // TCP port number
extern std::uint32_t g_hconversation;
extern u16 tcpcon; // 1 while a TCP conversation is open
extern int bytesRead;
extern std::int16_t ret;  // result of the last port-open or connect call
extern char szStatus[48]; // error text of the last failed open or connect
extern char version[49];  // the sensor's version text from the last good link check
// Settings as they were when the connection panel was opened; its discard button puts them back.
extern u16 comprotocolold, comportold;
extern char ipBufOld[256];
extern char portNumStrOld[32];

} // namespace qv
