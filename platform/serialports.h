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
    // What identifies the device wherever it appears. Empty when the system gives none.
    std::string stablePath;   // its link under /dev/serial/by-id/ (Linux), "/dev/serial/by-id/..."
    std::string vendorId;     // USB vendor id, four lower-case hex digits: "0403"
    std::string productId;    // USB product id, likewise: "6001"
    std::string serialNumber; // the USB serial number, as the device gives it
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

// The serial ports present now (QSerialPortInfo), each on-board one with its UART type, each
// with its stable path (FillStablePaths over kSerialByIdDirectory) and USB ids.
std::vector<SerialPortEntry> ReadSerialPorts();

// Where udev keeps a link per serial device, named from its USB ids and serial number.
constexpr char kSerialByIdDirectory[] = "/dev/serial/by-id";
// Sets the stablePath of each port in `ports` that a link in `directory` resolves to (links may
// be relative; a broken one counts for nothing): the link's path, `directory` as given joined
// with its name. Of two links to one device the first by name wins. A missing directory (no USB
// serial device, or not Linux) leaves every port without one.
void FillStablePaths(std::vector<SerialPortEntry> &ports, const std::string &directory);

// A device's identity: one text that names it wherever it appears, in the first of these forms
// that it has; each form's prefix keeps them apart.
//   "by-id:<stable path>"        "by-id:/dev/serial/by-id/usb-Maker_Cable_A5XK3RJT-if00-port0"
//   "usb:<vendor>:<product>:<serial number>"
//                                "usb:0403:6001:A5XK3RJT" (the serial number is the rest, colons
//                                included). Only with a serial number: two identical adapters
//                                without one cannot be told apart.
//   "node:<device>"              "node:/dev/ttyS0"
// Empty for a port without a device.
std::string SerialPortIdentity(const SerialPortEntry &port);
// The port in `ports` that `identity` names, or null: when none does, when two do (two adapters
// with one serial number: opening either could be the wrong one), and for a placeholder (an
// on-board port whose UART type is kUartNone) or an empty or unknown identity.
const SerialPortEntry *FindSerialPort(const std::vector<SerialPortEntry> &ports,
                                      const std::string &identity);
// The device to open now for `identity`, reading the ports again; empty when it is not present.
// A "node:" identity whose device is not among the ports reported (a pseudo-terminal, or what
// QUORVAT_COM<n> names) is present when its path exists, and is given as it was, not resolved.
std::string SerialPortDevice(const std::string &identity);

// The device port `port` means when the program names none: "COMn" on Windows; elsewhere the
// device named by the environment variable QUORVAT_COM<n> when it is set (a pseudo-terminal in
// tests), else the port numbered n among ReadSerialPorts(). Empty when no device has the number.
std::string ComPortDevice(int port);

// The identity of the port numbered `port` among `reported` (NumberSerialPorts), empty when no
// port has the number. A port whose USB triple another port shares gets the node form: the
// triple would name neither.
std::string NumberedPortIdentity(const std::vector<SerialPortEntry> &reported, int port);

// The identity of the device port `port` means now, reading the ports again. When the
// environment variable QUORVAT_COM<n> names the device: "node:" with the path as it was given
// (not resolved: a link there may be pointed elsewhere later, the simulator's among them); else
// NumberedPortIdentity over the ports present ("COMn"'s port on Windows). Empty when no device
// has the number.
std::string ComPortIdentity(int port);
// The reverse: the number the device `identity` names has now (the n of a QUORVAT_COM<n> that
// names it, else its number among the ports present), 0 when it is not present.
int ComPortNumber(const std::string &identity);

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
    std::string stableName;   // the device's link under /dev/serial/by-id/, when it has one
};

// Fills `info` for `port`, reading the ports again. 0, or -2 for a port outside 1..kMaxComPort.
int GetComPortInfo(int port, ComPortInfo *info);

} // namespace qv::rt
