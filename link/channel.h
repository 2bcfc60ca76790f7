// The line to the sensor: a serial port or a TCP conversation behind one small interface. What a
// request and its reply must be (what is dropped first, when a reply is whole, what is too long)
// is decided once, over this interface, in link/transaction.cpp; a kind only opens its line,
// moves bytes and says how long its link check may wait.
#pragma once

#include "platform/tcp.h"

#include <cstddef>
#include <memory>
#include <string>

namespace qv {

class Channel {
  public:
    Channel() = default;
    virtual ~Channel() = default;
    Channel(const Channel &) = delete;
    Channel &operator=(const Channel &) = delete;

    // Opens the line, waiting for it: 0, or the negative status of the open or the connect.
    virtual int open() = 0;
    // Starts opening without waiting: 1 while that goes on (ask opening()), else as open().
    virtual int startOpen() = 0;
    // After startOpen(): 1 while under way, 0 once open, else the status it failed with.
    virtual int opening() = 0;
    // Sends the whole request: `count`, or a negative status.
    virtual int send(const unsigned char *bytes, int count) = 0;
    // Takes up to `count` bytes that have come, without waiting for more: how many (0 when
    // none), or a negative status when the line is not open or has gone.
    virtual int take(unsigned char *into, int count) = 0;
    // Waits a moment for bytes when the caller handles no events meanwhile.
    virtual void idle() = 0;
    // What the status line says when the line has gone: the server closed it, the serial line
    // failed, or the device went away.
    virtual const char *lostText() const = 0;
    // How long the link check waits for the version text.
    virtual double checkLimit() const = 0;
    // Whether bytes come in only while events are handled (TCP): every wait on the line, the
    // link check's among them, then handles them.
    virtual bool needsEvents() const = 0;
    // "COM<n>" or "<address>:<port>", as the calibration record names the link.
    virtual void name(char *out, std::size_t size) const = 0;
};

// Serial port `port` (1 = the first) on the device `identity` names (platform/serialports.h),
// wherever it is when opened; on the port's own device when the identity is empty.
std::unique_ptr<Channel> NewSerialChannel(int port, const std::string &identity);
// A client of the sensor's TCP server at `host`:`port`; `callback` gets its events.
std::unique_ptr<Channel> NewTcpChannel(const char *host, int port, rt::tcpFuncPtr callback);

} // namespace qv
