// RS-232 part of our run-time: numbered serial ports over QSerialPort, with the run-time's calls
// and status codes. Call them from the thread that runs the application object (the GUI thread);
// the application object must exist (InitRunTimeEngine).
#pragma once

namespace qv::rt {

// ---- Status codes. 0 or positive is success. ----
constexpr int kRS232UnknownSystemError = -1;
constexpr int kRS232InvalidPort = -2;       // outside 1..255
constexpr int kRS232PortNotOpen = -3;       // the call needs an open port
constexpr int kRS232UnknownIOError = -4;    // the line failed (device removed or hung up, ...)
constexpr int kRS232InternalError = -5;     // unsupported setting or invalid argument
constexpr int kRS232NoSerialPortFound = -6; // no such device, or no port has the number
constexpr int kRS232CannotOpenPort = -7;    // permission denied, or the port is in use
constexpr int kRS232TimeOut = -99;

// How QSerialPort's errors become these codes:
//   DeviceNotFoundError        -6  no serial port found
//   PermissionError            -7  cannot open port (no permission, or in use / locked)
//   OpenError                  -7  cannot open port (already open in this process)
//   NotOpenError               -3  port not open
//   ReadError, WriteError      -4  unknown I/O error
//   ResourceError              -4  unknown I/O error (device removed, line hung up)
//   UnsupportedOperationError  -5  RS-232 internal error (setting not supported)
//   TimeoutError               -99 time-out
//   UnknownError, other        -1  unknown system error
// Modem-line calls (RTS/CTS, DTR) are not available on every device, a pseudo-terminal among
// them; SetCTSMode(port, 0) still succeeds there.

// Parity.
constexpr int kParityNone = 0;
constexpr int kParityOdd = 1;
constexpr int kParityEven = 2;
constexpr int kParityMark = 3;
constexpr int kParitySpace = 4;

// A queue size below 30 means the default.
constexpr int kRS232DefaultQueueSize = 512;
// The read and write time-out until SetComTime sets another.
constexpr double kRS232DefaultTimeout = 10.0;

// Opens port `port` (1..255) on `deviceName`, or on the port's standard device when the name is
// null or empty: "COMn" on Windows; elsewhere the device named by the environment variable
// QUORVAT_COM<n> when it is set, else the port numbered n among those present (on-board ports
// with a UART, then ttyACM*, then ttyUSB*; see NumberSerialPorts in platform/serialports.h).
// parity 0..4 (above), dataBits 5..8, stopBits 1 or 2. The input queue holds at most
// inputQueueSize bytes; what the queue cannot take waits in the driver. The output queue size is
// accepted for compatibility: writes go straight to the driver. Opening an open port closes it
// and opens it again. Settings out of range give -5 and leave an open port as it was; settings
// the device refuses give -5 too, and the port is then closed. Returns 0 or a negative status.
int OpenComConfig(int port, const char *deviceName, long baudRate, int parity, int dataBits,
                  int stopBits, int inputQueueSize, int outputQueueSize);
// 0, or -3 when the port is not open.
int CloseCom(int port);
// The time-out of ComRd and ComWrt, in seconds (default 10). 0 means "do not wait": ComRd returns
// what is there, ComWrt what the driver takes at once. Negative or not a number gives -5.
int SetComTime(int port, double timeoutSeconds);
// 0 = no hardware handshake, 1 = RTS/CTS. Any other mode gives -5.
int SetCTSMode(int port, int mode);
// Discard what is queued: received bytes not yet read (ours and the driver's), or bytes the
// driver has not sent yet.
int FlushInQ(int port);
int FlushOutQ(int port);
// Sends `count` bytes and waits, up to the time-out, until the driver has taken them all.
// Returns count, 0 for count 0, or a negative status: -99 when the time-out strikes first (what
// the driver took by then still goes out; the rest does not), -5 for a null buffer or a negative
// count, -4 when the line has failed.
int ComWrt(int port, const char *buffer, int count);
// Reads `count` bytes into `buffer`, waiting up to the time-out for them. Returns the number
// read: count, fewer when the time-out strikes, 0 for count <= 0. Never stores more than count
// bytes and does not terminate the text. When the line has failed (device removed or hung up)
// the bytes received before are still returned, then -4. -5 for a null buffer.
int ComRd(int port, char *buffer, int count);
// Bytes waiting in the input queue, never more than the input queue size; -3 when the port is
// not open, -4 when the line has failed and nothing is left to read. A program may poll this in
// a tight loop without pumping events: a call that comes right after the previous one, with no
// ProcessSystemEvents between, and would give the same answer first waits up to a millisecond
// for more bytes, so that the loop sleeps rather than spins, and still sees a new byte at once.
int GetInQLen(int port);

} // namespace qv::rt
