// The serial and TCP link to the sensor: reconnecting with the connection panel's settings,
// the link check that reads the sensor's version text, and the TCP receive callback.
#pragma once

#include <cstdint>

namespace qv {

extern std::uint16_t comprotocol; // 0 = RS-232, 1 = TCP/IP
extern std::uint16_t comport;     // serial port number, 1 = the first port
extern char ipBuf[256];           // the sensor's TCP server
extern char portNumStr[32];       // TCP port as entered
extern int portNum;               // TCP port number
extern std::uint32_t g_hconversation;
extern std::uint16_t tcpcon; // 1 while a TCP conversation is open
extern int bytesRead;
extern std::int16_t ret;  // result of the last port-open or connect call
extern char szStatus[48]; // error text of the last failed open or connect
extern char version[49];  // the sensor's version text from the last good link check

} // namespace qv
