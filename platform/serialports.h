// Which device a serial port number means, and what the system says about that device.
// Call the readers from the thread that runs the application object (the GUI thread).
#pragma once

#include <string>
#include <vector>

namespace qv::rt {

// Port numbers run from 1 to this.
constexpr int kMaxComPort = 255;

// The kernel's UART type of an on-board port (Linux: /sys/class/tty/<name>/type). 0 means no UART
// answered at the port's address: one of the legacy placeholders the kernel always makes.
constexpr int kUartNone = 0;
constexpr int kUartUnknown = -1; // not reported; the port counts as usable

// One serial port as the system reports it.
struct SerialPortEntry {
    std::string name;   // "ttyUSB0"
    std::string device; // the path to open, "/dev/ttyUSB0"
    std::string description;
    std::string manufacturer;
    int uartType = kUartUnknown;
};

struct NumberedSerialPort {
    int number;
    SerialPortEntry port;
};

// Gives the ports of `reported` their numbers, and returns them ordered by number. Placeholders
// (on-board ports whose UART type is kUartNone) get none. The rest line up as on-board ports,
// then ttyACM*, then ttyUSB*, each group in numeric order (ttyUSB2 before ttyUSB10). An
// on-board ttyS<k> keeps number k+1, which it always had, so that a number that reached a port
// before still reaches it when an earlier ttyS is a placeholder; every other port takes the
// lowest number still free, in line order. With on-board ports ttyS0..ttyS<m-1> and adapters,
// that is simply the position in the line. Numbers above kMaxComPort are given out too but
// cannot be opened.
std::vector<NumberedSerialPort> NumberSerialPorts(const std::vector<SerialPortEntry> &reported);

// The serial ports present now (QSerialPortInfo), each on-board one with its UART type.
std::vector<SerialPortEntry> ReadSerialPorts();

// The device port `port` means when the program names none: "COMn" on Windows; elsewhere the
// device named by the environment variable QUORVAT_COM<n> when it is set (a pseudo-terminal in
// tests), else the port numbered n among ReadSerialPorts(). Empty when no device has the number.
std::string ComPortDevice(int port);

// What port `port` means, for showing the operator.
struct ComPortInfo {
    bool present = false;     // the device exists
    std::string device;       // empty when no port has the number
    std::string variable;     // "QUORVAT_COM<n>" when the environment named the device
    std::string description;  // as the system gives them, in the file system's encoding like the
    std::string manufacturer; // device's path; may be empty
    int portsFound = 0;       // how many numbered ports this PC has
    bool mayOpen = true;      // this user may read and write the device
    std::string accessGroup;  // when not: the group whose members may (Linux), else empty
};

// Fills `info` for `port`, reading the ports again. 0, or -2 for a port outside 1..kMaxComPort.
int GetComPortInfo(int port, ComPortInfo *info);

} // namespace qv::rt
