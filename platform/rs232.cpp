#include "platform/rs232.h"

#include "platform/deadline_p.h"
#include "platform/hold_p.h"
#include "platform/serialports.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSerialPort>
#include <QThread>

#include <algorithm>
#include <array>
#include <chrono>
#include <climits>
#include <cmath>
#include <memory>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace qv::rt {

namespace {

using detail::Clock;
using detail::msLeft;

constexpr int kMaxPort = kMaxComPort;
// Calls of GetInQLen closer together than this are taken for a polling loop.
constexpr auto kPollingGap = std::chrono::milliseconds(10);
// A port that is not open, or whose line failed, cannot answer otherwise: a loop polling it
// sleeps this long between answers. At 1 ms such a 2 s wait took 2 % of a core on this VM.
constexpr int kDeadPortSleepMs = 5;
// Longest time-out SetComTime keeps (about 11 days); longer ones are cut to it.
constexpr double kMaxTimeout = 1e6;

struct Port {
    // Parented to the application object, so it goes with it even if the program never closes
    // the port; the pointer then reads null.
    QPointer<QSerialPort> serial;
    int inQueueSize = kRS232DefaultQueueSize;
    double timeout = kRS232DefaultTimeout;
    // The line failed (device removed, pseudo-terminal hung up): reads hand out what was
    // received before, then report the failure instead of waiting for bytes that cannot come.
    bool failed = false;

    ~Port() { delete serial.data(); }
};

std::array<std::unique_ptr<Port>, kMaxPort + 1> &ports() {
    static std::array<std::unique_ptr<Port>, kMaxPort + 1> table;
    return table;
}

// The last GetInQLen of each port number, open or not, to tell a polling loop.
struct Query {
    Clock::time_point at{};
    int answer = INT_MIN;
    unsigned long passes = 0; // detail::eventPasses() then
};

std::array<Query, kMaxPort + 1> &queries() {
    static std::array<Query, kMaxPort + 1> table;
    return table;
}

// Forgets the last answer, so the next poll looks at the line at once.
void forgetQuery(int port) {
    queries()[port].answer = INT_MIN;
}

int statusFor(QSerialPort::SerialPortError error) {
    switch (error) {
    case QSerialPort::NoError:
        return 0;
    case QSerialPort::DeviceNotFoundError:
        return kRS232NoSerialPortFound;
    case QSerialPort::PermissionError:
    case QSerialPort::OpenError:
        return kRS232CannotOpenPort;
    case QSerialPort::NotOpenError:
        return kRS232PortNotOpen;
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::ResourceError:
        return kRS232UnknownIOError;
    case QSerialPort::UnsupportedOperationError:
        return kRS232InternalError;
    case QSerialPort::TimeoutError:
        return kRS232TimeOut;
    default:
        return kRS232UnknownSystemError;
    }
}

// The status for a failed QSerialPort call; `fallback` when Qt recorded no error.
int failureStatus(QSerialPort &serial, int fallback) {
    const int status = statusFor(serial.error());
    serial.clearError();
    return status < 0 ? status : fallback;
}

QString deviceFor(int port, const char *deviceName) {
    if (deviceName && *deviceName)
        return QString::fromLocal8Bit(deviceName);
    return QString::fromLocal8Bit(ComPortDevice(port).c_str());
}

// The open port `port`, or null with *status set to -2 or -3.
Port *openPort(int port, int *status) {
    if (port < 1 || port > kMaxPort) {
        *status = kRS232InvalidPort;
        return nullptr;
    }
    Port *p = ports()[port].get();
    if (!p || !p->serial || !p->serial->isOpen()) {
        *status = kRS232PortNotOpen;
        return nullptr;
    }
    *status = 0;
    return p;
}

Clock::time_point deadlineAfter(double seconds) {
    return Clock::now() +
           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// Moves what the driver holds into the input queue, waiting up to `ms` for the first byte.
// QSerialPort only reads the device in its event handler or in a wait; an empty wait reports a
// time-out, which here is no error.
void pump(Port &p, int ms) {
    QSerialPort &serial = *p.serial;
    serial.clearError();
    if (serial.waitForReadyRead(ms))
        return;
    const QSerialPort::SerialPortError error = serial.error();
    serial.clearError();
    if (error == QSerialPort::ReadError || error == QSerialPort::ResourceError)
        p.failed = true;
}

// Bytes waiting: the input queue plus what the driver holds, cut to the queue size.
int queued(Port &p) {
    long long n = p.serial->bytesAvailable();
#ifdef Q_OS_UNIX
    int inDriver = 0;
    if (::ioctl(static_cast<int>(p.serial->handle()), FIONREAD, &inDriver) == 0 && inDriver > 0)
        n += inDriver;
#endif
    return n > p.inQueueSize ? p.inQueueSize : static_cast<int>(n);
}

} // namespace

int OpenComConfig(int port, const char *deviceName, long baudRate, int parity, int dataBits,
                  int stopBits, int inputQueueSize, int /*outputQueueSize*/) {
    if (port < 1 || port > kMaxPort)
        return kRS232InvalidPort;
    const QString device = deviceFor(port, deviceName);
    if (device.isEmpty())
        return kRS232NoSerialPortFound; // no port has the number on this PC
    static constexpr QSerialPort::Parity parities[] = {
        QSerialPort::NoParity, QSerialPort::OddParity, QSerialPort::EvenParity,
        QSerialPort::MarkParity, QSerialPort::SpaceParity};
    if (baudRate <= 0 || baudRate > INT_MAX || parity < kParityNone || parity > kParitySpace ||
        dataBits < 5 || dataBits > 8 || (stopBits != 1 && stopBits != 2))
        return kRS232InternalError;
    if (!QCoreApplication::instance())
        return kRS232UnknownSystemError;

    ports()[port].reset();
    auto p = std::make_unique<Port>();
    p->inQueueSize = inputQueueSize < 30 ? kRS232DefaultQueueSize : inputQueueSize;
    p->serial = new QSerialPort(QCoreApplication::instance());
    QSerialPort &serial = *p->serial;
    serial.setPortName(device);
    if (!serial.open(QIODevice::ReadWrite))
        return failureStatus(serial, kRS232CannotOpenPort);
    // The queue never holds more than its size; the rest waits in the driver.
    serial.setReadBufferSize(p->inQueueSize);
    const bool configured =
        serial.setBaudRate(static_cast<qint32>(baudRate)) &&
        serial.setDataBits(static_cast<QSerialPort::DataBits>(dataBits)) &&
        serial.setParity(parities[parity]) &&
        serial.setStopBits(stopBits == 1 ? QSerialPort::OneStop : QSerialPort::TwoStop);
    if (!configured)
        return failureStatus(serial, kRS232InternalError);
    // No handshake unless asked for; devices without modem lines refuse even this.
    if (!serial.setFlowControl(QSerialPort::NoFlowControl) &&
        serial.error() != QSerialPort::UnsupportedOperationError)
        return failureStatus(serial, kRS232InternalError);
    serial.clearError();
#ifdef Q_OS_UNIX
    // ComWrt writes to the descriptor itself and must never block in write().
    const int fd = static_cast<int>(serial.handle());
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        return kRS232UnknownSystemError;
#endif
    ports()[port] = std::move(p);
    return 0;
}

int CloseCom(int port) {
    int status = 0;
    if (!openPort(port, &status))
        return status;
    ports()[port].reset();
    return 0;
}

int SetComTime(int port, double timeoutSeconds) {
    int status = 0;
    Port *p = openPort(port, &status);
    if (!p)
        return status;
    if (std::isnan(timeoutSeconds) || timeoutSeconds < 0)
        return kRS232InternalError;
    p->timeout = std::min(timeoutSeconds, kMaxTimeout);
    return 0;
}

int SetCTSMode(int port, int mode) {
    int status = 0;
    Port *p = openPort(port, &status);
    if (!p)
        return status;
    if (mode != 0 && mode != 1)
        return kRS232InternalError;
    QSerialPort &serial = *p->serial;
    serial.clearError();
    if (serial.setFlowControl(mode == 1 ? QSerialPort::HardwareControl
                                        : QSerialPort::NoFlowControl))
        return 0;
    // Without modem lines there is no handshake to switch off.
    if (mode == 0 && serial.error() == QSerialPort::UnsupportedOperationError) {
        serial.clearError();
        return 0;
    }
    return failureStatus(serial, kRS232InternalError);
}

int FlushInQ(int port) {
    int status = 0;
    Port *p = openPort(port, &status);
    if (!p)
        return status;
    p->serial->clearError();
    // Discards both our queue and the driver's.
    if (!p->serial->clear(QSerialPort::Input))
        return failureStatus(*p->serial, kRS232UnknownIOError);
    forgetQuery(port);
    return 0;
}

int FlushOutQ(int port) {
    int status = 0;
    Port *p = openPort(port, &status);
    if (!p)
        return status;
    p->serial->clearError();
    if (!p->serial->clear(QSerialPort::Output))
        return failureStatus(*p->serial, kRS232UnknownIOError);
    return 0;
}

int ComWrt(int port, const char *buffer, int count) {
    int status = 0;
    Port *p = openPort(port, &status);
    if (!p)
        return status;
    if (count < 0 || (!buffer && count > 0))
        return kRS232InternalError;
    if (count == 0)
        return 0;
    const auto deadline = deadlineAfter(p->timeout);
#ifdef Q_OS_UNIX
    // Straight to the driver: QSerialPort's own write path sends nothing until its event handler
    // or a flush runs, and its waitForBytesWritten gives up at once while the input queue is
    // full.
    const int fd = static_cast<int>(p->serial->handle());
    int sent = 0;
    while (sent < count) {
        const ssize_t n = ::write(fd, buffer + sent, static_cast<size_t>(count - sent));
        if (n > 0) {
            sent += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            p->failed = true;
            return kRS232UnknownIOError;
        }
        const int ms = msLeft(deadline);
        if (ms == 0)
            return kRS232TimeOut;
        pollfd pfd{fd, POLLOUT, 0};
        if (::poll(&pfd, 1, ms) < 0 && errno != EINTR)
            return kRS232UnknownSystemError;
        if ((pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) && !(pfd.revents & POLLOUT)) {
            p->failed = true;
            return kRS232UnknownIOError;
        }
    }
    return count;
#else
    QSerialPort &serial = *p->serial;
    serial.clearError();
    if (serial.write(buffer, count) != count)
        return failureStatus(serial, kRS232UnknownIOError);
    serial.flush();
    while (serial.bytesToWrite() > 0) {
        const int ms = msLeft(deadline);
        if (ms == 0 || !serial.waitForBytesWritten(ms)) {
            if (serial.error() != QSerialPort::NoError &&
                serial.error() != QSerialPort::TimeoutError)
                return failureStatus(serial, kRS232UnknownIOError);
            if (msLeft(deadline) == 0) {
                // What was not sent by now is not sent at all.
                serial.clear(QSerialPort::Output);
                serial.clearError();
                return kRS232TimeOut;
            }
        }
    }
    return count;
#endif
}

int ComRd(int port, char *buffer, int count) {
    int status = 0;
    Port *p = openPort(port, &status);
    if (!p)
        return status;
    if (count <= 0)
        return 0;
    if (!buffer)
        return kRS232InternalError;
    QSerialPort &serial = *p->serial;
    const auto deadline = deadlineAfter(p->timeout);
    int got = 0;
    const auto take = [&] {
        const qint64 n = serial.read(buffer + got, count - got);
        if (n > 0)
            got += static_cast<int>(n);
    };
    for (;;) {
        take();
        if (got == count || p->failed)
            break;
        const int ms = msLeft(deadline);
        pump(*p, ms);
        if (ms == 0) {
            take();
            break;
        }
    }
    forgetQuery(port);
    if (got == 0 && p->failed)
        return kRS232UnknownIOError;
    return got;
}

int GetInQLen(int port) {
    int status = 0;
    Port *p = openPort(port, &status);
    if (!p && status == kRS232InvalidPort)
        return status;
    Query &q = queries()[port];
    // A loop that handles events in between waits there; a sleep here would only add to it (a
    // millisecond on every request of a calibration series, whose drop of what is left on the
    // line comes right after the last reply's look, 3 % of the series).
    const bool polling = Clock::now() - q.at < kPollingGap && q.passes == detail::eventPasses();
    // What waits, or why nothing can: a port not open, a line that failed with nothing left.
    const auto answer = [&] {
        if (!p)
            return status;
        const int n = queued(*p);
        return n == 0 && p->failed ? kRS232UnknownIOError : n;
    };
    if (p && !p->failed && !polling)
        pump(*p, 0); // notices a failed line
    int n = answer();
    if (polling && n == q.answer) {
        // Polled again and nothing new: sleep a little instead of letting the loop spin, also
        // on a port that is not open or whose line failed, whose answer cannot change.
        if (p && !p->failed && p->serial->bytesAvailable() < p->inQueueSize)
            pump(*p, 1);
        else if (p && !p->failed)
            QThread::msleep(1); // full: nothing changes until the program reads
        else
            QThread::msleep(kDeadPortSleepMs);
        n = answer();
    }
    q.at = Clock::now();
    q.answer = n;
    q.passes = detail::eventPasses();
    return n;
}

} // namespace qv::rt
