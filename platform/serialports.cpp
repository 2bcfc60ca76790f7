#include "platform/serialports.h"

#include "platform/rs232.h"

#include <QFile>
#include <QSerialPortInfo>
#include <QString>

#include <algorithm>
#include <cstdlib>
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

#ifndef Q_OS_WIN
const SerialPortEntry *findDevice(const std::vector<SerialPortEntry> &ports,
                                  const std::string &device) {
    for (const SerialPortEntry &p : ports)
        if (p.device == device)
            return &p;
    return nullptr;
}
#endif

} // namespace

std::vector<NumberedSerialPort> NumberSerialPorts(const std::vector<SerialPortEntry> &reported) {
    std::vector<SerialPortEntry> line;
    for (const SerialPortEntry &p : reported)
        if (keyOf(p.name).group != OnBoard || p.uartType != kUartNone)
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
#ifdef Q_OS_LINUX
        // The listing alone cannot tell a UART from the kernel's placeholders; sysfs can, and
        // without opening the port (an open would raise its modem lines).
        if (keyOf(e.name).group == OnBoard)
            e.uartType = uartTypeOf(info.portName());
#endif
        ports.push_back(std::move(e));
    }
    return ports;
}

std::string ComPortDevice(int port) {
    if (port < 1 || port > kMaxComPort)
        return {};
#ifdef Q_OS_WIN
    return "COM" + std::to_string(port);
#else
    const std::string variable = "QUORVAT_COM" + std::to_string(port);
    if (const char *named = std::getenv(variable.c_str()); named && *named)
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
    const std::string variable = "QUORVAT_COM" + std::to_string(port);
    if (const char *named = std::getenv(variable.c_str()); named && *named) {
        info->device = named;
        info->variable = variable;
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
    }
    if (info->present && ::access(info->device.c_str(), R_OK | W_OK) != 0) {
        info->mayOpen = false;
        info->accessGroup = accessGroupOf(info->device);
    }
#endif
    return 0;
}

} // namespace qv::rt
