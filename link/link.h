// The serial and TCP link to the sensor: reconnecting with the connection panel's settings,
// the link check that reads the sensor's version text, and the TCP receive callback.
#pragma once

namespace qv {

// Closes the serial port, reads the connection panel, opens the chosen link and checks it.
void TryToConnect();
// Opens and configures `comport`; a failure's text goes to szStatus and the status line.
void InitRS232();
// Connects to ipBuf:portNum; a failure's text goes to szStatus and a "TCP Client" box.
void InitTCP_IP();
// Asks the sensor for its version text over the selected link and shows the outcome.
void CheckComLine();
// The TCP client callback: collects reply bytes for a waiting transaction, drops the rest,
// and reports the server's disconnect.
int ClientTCPCB(unsigned handle, int eventType, int errorCode, void *callbackData);

// The operator's words for a failed serial open and a failed TCP connect.
const char *SerialErrorText(int code);
const char *TcpErrorText(int code);

} // namespace qv
