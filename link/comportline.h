// The line beside COM PORT on the connection panel: the device the selected number means, and,
// when this user may not use it or another program holds it, what to do.
#pragma once

#include "platform/serialports.h"

#include <cstddef>

namespace qv {

// Writes the line for port `number` as `info` describes it, after an open of it that ended with
// `openStatus` (0 when none was made or it went well): the device, what the system calls it and
// who made it, or "no port <n>: <k> found". On a second line a hint follows, else the device's
// stable name ("by-id " and its name under /dev/serial/by-id/, cut in the middle to what the
// control shows). Control characters from the system become blanks. Cut to fit `size`.
void ComPortLine(char *line, std::size_t size, int number, const rt::ComPortInfo &info,
                 int openStatus);
template <std::size_t N>
void ComPortLine(char (&line)[N], int number, const rt::ComPortInfo &info, int openStatus) {
    ComPortLine(line, N, number, info, openStatus);
}

constexpr int kNoOpen = 1; // ShowComPortDevice: no open was made just now
// Reads the serial ports again and writes the line for the number the panel holds, after an open
// of it that ended with `openStatus`. Without one (kNoOpen) the line says what the last open of
// that number said, until the number changes or an open succeeds.
void ShowComPortDevice(int openStatus = kNoOpen);

} // namespace qv
