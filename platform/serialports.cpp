#include "platform/serialports.h"

#include "platform/rs232.h"

#include <QFile>
#include <QSerialPortInfo>
#include <QString>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <tuple>

#ifdef Q_OS_UNIX
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qv::rt {

namespace {

enum Group { OnBoard, Acm, Usb };

// A port's name split for ordering: "ttyUSB10" is stem "ttyUSB", number 10. A name without a
// number, or with one too long to be real, sorts after the numbered ones of its stem.
struct Key {
    Group group;
    std::string stem;
    long number; // -1: none
};

Key keyOf(const std::string &name) {
    std::size_t digits = name.size();
    while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9')
        --digits;
    Key key{OnBoard, name.substr(0, digits), -1};
    const std::size_t count = name.size() - digits;
    if (count > 0 && count <= 9)
        key.number = std::strtol(name.c_str() + digits, nullptr, 10);
    if (key.stem == "ttyACM")
        key.group = Acm;
    else if (key.stem == "ttyUSB")
        key.group = Usb;
    return key;
}

bool lineOrder(const SerialPortEntry &a, const SerialPortEntry &b) {
    const Key ka = keyOf(a.name), kb = keyOf(b.name);
    const auto rank = [](const Key &k, const std::string &name) {
        return std::make_tuple(k.group, k.stem, k.number < 0, k.number, name);
    };
    return rank(ka, a.name) < rank(kb, b.name);
}

// One of the kernel's legacy on-board ports with no UART behind it: never a device to open.
bool isPlaceholder(const SerialPortEntry &port) {
    return keyOf(port.name).group == OnBoard && port.uartType == kUartNone;
}

// The number an on-board ttyS<k> has always had, or 0.
int ownNumber(const SerialPortEntry &port) {
    const Key key = keyOf(port.name);
    if (key.group != OnBoard || key.stem != "ttyS" || key.number < 0 || key.number >= kMaxComPort)
        return 0;
    return static_cast<int>(key.number) + 1;
}

// In the file system's encoding, like the device's path they are shown with.
std::string shown(const QString &text) {
    return text.toLocal8Bit().toStdString();
}

#ifdef Q_OS_LINUX
// The kernel's UART type of a port driven as a UART, kUartUnknown for other drivers.
int uartTypeOf(const QString &name) {
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.startsWith(QLatin1Char('.')))
        return kUartUnknown;
    QFile f(QStringLiteral("/sys/class/tty/%1/type").arg(name));
    if (!f.open(QIODevice::ReadOnly))
        return kUartUnknown;
    bool ok = false;
    const int type = f.read(16).trimmed().toInt(&ok);
    return ok ? type : kUartUnknown;
}
#endif

#ifdef Q_OS_UNIX
// The group whose members may read and write `device`, when joining it is the way in: not the
// superuser's group, and one the device's mode lets read and write.
std::string accessGroupOf(const std::string &device) {
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0 || st.st_gid == 0 ||
        (st.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP))
        return {};
    std::vector<char> buffer(16384);
    group entry{};
    group *found = nullptr;
    if (::getgrgid_r(st.st_gid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
        !found->gr_name)
        return {};
    return found->gr_name;
}
#endif

std::string hex4(quint16 id) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", static_cast<unsigned>(id));
    return text;
}

bool startsWith(const std::string &text, const char *prefix) {
    return text.rfind(prefix, 0) == 0;
}

constexpr char kNodePrefix[] = "node:";

// The forms of identity a port has, most stable first; empty where it has none.
std::array<std::string, 3> formsOf(const SerialPortEntry &p) {
    std::array<std::string, 3> forms;
    if (!p.stablePath.empty())
        forms[0] = "by-id:" + p.stablePath;
    if (!p.vendorId.empty() && !p.productId.empty() && !p.serialNumber.empty())
        forms[1] = "usb:" + p.vendorId + ":" + p.productId + ":" + p.serialNumber;
    if (!p.device.empty())
        forms[2] = kNodePrefix + p.device;
    return forms;
}

const SerialPortEntry *findDevice(const std::vector<SerialPortEntry> &ports,
                                  const std::string &device) {
    for (const SerialPortEntry &p : ports)
        if (p.device == device)
            return &p;
    return nullptr;
}

#ifndef Q_OS_WIN
// The device QUORVAT_COM<port> names, or null when it is unset or empty.
const char *namedByEnvironment(int port) {
    const std::string variable = "QUORVAT_COM" + std::to_string(port);
    const char *named = std::getenv(variable.c_str());
    return named && *named ? named : nullptr;
}
#endif

} // namespace

std::vector<NumberedSerialPort> NumberSerialPorts(const std::vector<SerialPortEntry> &reported) {
    std::vector<SerialPortEntry> line;
    for (const SerialPortEntry &p : reported)
        if (!isPlaceholder(p))
            line.push_back(p);
    std::stable_sort(line.begin(), line.end(), lineOrder);

    std::vector<NumberedSerialPort> numbered;
    std::set<int> taken;
    std::vector<const SerialPortEntry *> rest;
    for (const SerialPortEntry &p : line) {
        const int own = ownNumber(p);
        if (own > 0 && taken.insert(own).second)
            numbered.push_back({own, p});
        else
            rest.push_back(&p);
    }
    int next = 1;
    for (const SerialPortEntry *p : rest) {
        while (taken.count(next))
            ++next;
        taken.insert(next);
        numbered.push_back({next, *p});
    }
    std::sort(numbered.begin(), numbered.end(),
              [](const NumberedSerialPort &a, const NumberedSerialPort &b) {
                  return a.number < b.number;
              });
    return numbered;
}

std::vector<SerialPortEntry> ReadSerialPorts() {
    std::vector<SerialPortEntry> ports;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        SerialPortEntry e;
        e.name = info.portName().toLocal8Bit().toStdString();
        e.device = info.systemLocation().toLocal8Bit().toStdString();
        e.description = shown(info.description());
        e.manufacturer = shown(info.manufacturer());
        if (info.hasVendorIdentifier())
            e.vendorId = hex4(info.vendorIdentifier());
        if (info.hasProductIdentifier())
            e.productId = hex4(info.productIdentifier());
        e.serialNumber = shown(info.serialNumber());
#ifdef Q_OS_LINUX
        // The listing alone cannot tell a UART from the kernel's placeholders; sysfs can, and
        // without opening the port (an open would raise its modem lines).
        if (keyOf(e.name).group == OnBoard)
            e.uartType = uartTypeOf(info.portName());
#endif
        ports.push_back(std::move(e));
    }
#ifdef Q_OS_LINUX
    FillStablePaths(ports, kSerialByIdDirectory);
#endif
    return ports;
}

void FillStablePaths(std::vector<SerialPortEntry> &ports, const std::string &directory) {
    namespace fs = std::filesystem;
    std::error_code error;
    std::vector<fs::path> links;
    for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error))
        links.push_back(fs::path(directory) / it->path().filename());
    if (links.empty())
        return;
    std::sort(links.begin(), links.end());
    std::vector<fs::path> devices;
    for (const SerialPortEntry &p : ports) // an empty path where it cannot be resolved
        devices.push_back(p.device.empty() ? fs::path() : fs::canonical(p.device, error));
    for (const fs::path &link : links) {
        const fs::path target = fs::canonical(link, error);
        if (error)
            continue; // broken: its device has gone
        for (std::size_t i = 0; i < ports.size(); ++i)
            if (ports[i].stablePath.empty() && !devices[i].empty() && devices[i] == target)
                ports[i].stablePath = link.string();
    }
}

std::string SerialPortIdentity(const SerialPortEntry &port) {
    for (const std::string &form : formsOf(port))
        if (!form.empty())
            return form;
    return {};
}

const SerialPortEntry *FindSerialPort(const std::vector<SerialPortEntry> &ports,
                                      const std::string &identity) {
    if (identity.empty())
        return nullptr;
    const SerialPortEntry *found = nullptr;
    for (const SerialPortEntry &p : ports) {
        // Every form counts: an identity taken before the by-id link appeared still finds it.
        const std::array<std::string, 3> forms = formsOf(p);
        if (isPlaceholder(p) || std::find(forms.begin(), forms.end(), identity) == forms.end())
            continue;
        if (found)
            return nullptr;
        found = &p;
    }
    return found;
}

std::string SerialPortDevice(const std::string &identity) {
    const std::vector<SerialPortEntry> ports = ReadSerialPorts();
    if (const SerialPortEntry *p = FindSerialPort(ports, identity))
        return p->device;
    if (!startsWith(identity, kNodePrefix))
        return {};
    const std::string path = identity.substr(sizeof kNodePrefix - 1);
    if (path.empty() || findDevice(ports, path))
        return {}; // reported, and a placeholder
#ifdef Q_OS_UNIX
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0)
        return path;
#endif
    return {};
}

namespace {

// The identity of `entry`, one of `ports`.
std::string identityAmong(const std::vector<SerialPortEntry> &ports, const SerialPortEntry &entry) {
    const std::string identity = SerialPortIdentity(entry);
    const SerialPortEntry *found = FindSerialPort(ports, identity);
    if (found && found->device == entry.device)
        return identity;
    // A USB triple another port shares.
    return entry.device.empty() ? std::string() : kNodePrefix + entry.device;
}

} // namespace

std::string NumberedPortIdentity(const std::vector<SerialPortEntry> &reported, int port) {
    for (const NumberedSerialPort &p : NumberSerialPorts(reported))
        if (p.number == port)
            return identityAmong(reported, p.port);
    return {};
}

std::string ComPortIdentity(int port) {
    if (port < 1 || port > kMaxComPort)
        return {};
#ifdef Q_OS_WIN
    const std::vector<SerialPortEntry> ports = ReadSerialPorts();
    for (const SerialPortEntry &p : ports)
        if (p.name == "COM" + std::to_string(port))
            return identityAmong(ports, p);
    return {};
#else
    if (const char *named = namedByEnvironment(port))
        return kNodePrefix + std::string(named);
    return NumberedPortIdentity(ReadSerialPorts(), port);
#endif
}

int ComPortNumber(const std::string &identity) {
    const std::vector<SerialPortEntry> ports = ReadSerialPorts();
#ifdef Q_OS_WIN
    if (const SerialPortEntry *p = FindSerialPort(ports, identity); p && startsWith(p->name, "COM"))
        return std::atoi(p->name.c_str() + 3);
    return 0;
#else
    for (int n = 1; n <= kMaxComPort; ++n)
        if (const char *named = namedByEnvironment(n);
            named && kNodePrefix + std::string(named) == identity)
            return n;
    const SerialPortEntry *p = FindSerialPort(ports, identity);
    for (const NumberedSerialPort &numbered : NumberSerialPorts(ports))
        if (p && numbered.port.device == p->device)
            return numbered.number;
    return 0;
#endif
}

std::string ComPortDevice(int port) {
    if (port < 1 || port > kMaxComPort)
        return {};
#ifdef Q_OS_WIN
    return "COM" + std::to_string(port);
#else
    if (const char *named = namedByEnvironment(port))
        return named;
    for (const NumberedSerialPort &p : NumberSerialPorts(ReadSerialPorts()))
        if (p.number == port)
            return p.port.device;
    return {};
#endif
}

int GetComPortInfo(int port, ComPortInfo *info) {
    if (port < 1 || port > kMaxComPort)
        return kRS232InvalidPort;
    *info = {};
    const std::vector<SerialPortEntry> ports = ReadSerialPorts();
#ifdef Q_OS_WIN
    info->portsFound = static_cast<int>(ports.size());
    info->device = ComPortDevice(port);
    for (const SerialPortEntry &p : ports)
        if (p.name == info->device) {
            info->present = true;
            info->description = p.description;
            info->manufacturer = p.manufacturer;
        }
#else
    const std::vector<NumberedSerialPort> numbered = NumberSerialPorts(ports);
    info->portsFound = static_cast<int>(numbered.size());
    if (const char *named = namedByEnvironment(port)) {
        info->device = named;
        info->variable = "QUORVAT_COM" + std::to_string(port);
    } else {
        for (const NumberedSerialPort &p : numbered)
            if (p.number == port)
                info->device = p.port.device;
    }
    if (info->device.empty())
        return 0;
    struct stat st {};
    info->present = ::stat(info->device.c_str(), &st) == 0;
    if (const SerialPortEntry *p = findDevice(ports, info->device)) {
        info->description = p->description;
        info->manufacturer = p->manufacturer;
        info->stableName = p->stablePath;
    }
    if (info->present && ::access(info->device.c_str(), R_OK | W_OK) != 0) {
        info->mayOpen = false;
        info->accessGroup = accessGroupOf(info->device);
    }
#endif
    return 0;
}

} // namespace qv::rt
