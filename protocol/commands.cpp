#include "protocol/commands.h"

namespace qv {

std::uint16_t nBytesW;
double tstart, tdiff;
int dataSize, bytesToRead;

} // namespace qv
