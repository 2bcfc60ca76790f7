#include "link/link.h"

namespace qv {

std::uint16_t comprotocol, comport;
char ipBuf[256];
char portNumStr[32];
int portNum;
std::uint32_t g_hconversation;
std::uint16_t tcpcon;
int bytesRead;
std::int16_t ret;
char szStatus[48];
char version[49];

} // namespace qv
