// The link to the sensor: reconnecting with the connection panel's settings, the link check that
// reads the sensor's version text, the TCP receive callback, and a lost link opened again by
// itself. Requests go over the line these open (link/transaction.h).
#pragma once

#include <cstddef>

namespace qv {

// Reads the connection panel, closes the line in use, opens the chosen one and checks it. A
// serial link opens the device it was last opened on while the COM number stays, wherever that
// device is now (the number follows it); when it is gone, what the number means now, unless
// `keepDevice` (FINISH's reconnect: never another sensor), when it says the device is not found.
// True when the sensor answered the check.
bool TryToConnect(bool keepDevice = false);
// Opens `comport`; a failure's text goes to szStatus and the status line.
void InitRS232();
// Connects to ipBuf:portNum; a failure's text goes to szStatus and a "TCP Client" box.
void InitTCP_IP();
// Asks the sensor for its version text and shows the outcome; true when it came. A serial check
// handles no events while it waits; a TCP one does.
bool CheckComLine();
// The same, handling events while it waits on either kind of line when `pump` is set.
bool CheckLink(bool pump);
// The TCP client callback: bytes go to the reply awaited or are dropped; the server's close
// marks the line gone, in the status line.
int ClientTCPCB(unsigned handle, int eventType, int errorCode, void *callbackData);

// The operator's words for a failed serial open and a failed TCP connect.
const char *SerialErrorText(int code);
const char *TcpErrorText(int code);

// "COM<n>" or "<address>:<port>" for the line in use, empty without one.
void LinkName(char *out, std::size_t size);
// Closes the line in use, at the end of the program.
void CloseLink();
// Counts every opening and every loss of the line: an action that sees it change has lost the
// sensor it began with, and must not go on with what may be another one.
unsigned LinkGeneration();
// Whether the line that was open has gone, and is not back.
bool LinkLost();

// From start-up on: a line that was open and has gone is opened again about once a second,
// while no action runs, until it is back or a try opens another; it never holds the panel.
// When it is back the link check runs, the factor boxes get this sensor's factors and the
// readings are cleared.
void StartLinkWatch();
// For the GO loop, once its line has gone: waits, with "LINK LOST - RECONNECTING" in the status
// line, while the line is opened again. True once it is back; false when STOP or the close box
// ended the wait.
bool AwaitLink();

} // namespace qv
