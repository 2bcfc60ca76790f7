// The links the sensor is reached by, as plain POSIX descriptors.
#pragma once

#include "sensor.h"

#include <chrono>
#include <mutex>
#include <string>

#include <sys/types.h>
#include <termios.h>

namespace qvsim::detail {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
using Nanos = std::chrono::nanoseconds;

enum class LinkKind { Tcp, Pty, Serial };

// One open link. The link thread reads it and is the only one that closes it; the writer thread
// writes to it. The descriptor is closed under the lock, so a write never lands on a number the
// system has handed out again.
class Endpoint {
  public:
    Endpoint(LinkKind kind, int fd, std::string name);
    ~Endpoint();
    Endpoint(const Endpoint &) = delete;
    Endpoint &operator=(const Endpoint &) = delete;

    const LinkKind kind;
    const std::string name;

    // Writes what the descriptor takes now. Returns bytes written, or -1 with errno set:
    // EPIPE once closed or closing, ENOTCONN while nobody has the other end open.
    ssize_t write(const std::uint8_t *data, std::size_t size);
    // Stops all further writes; a TCP peer sees the connection end at once.
    void shutdown();
    void close();
    bool isClosed() const;
    // A pty whose slave no client has open: what is sent is lost, as on a real line. Once this
    // returns, no write that missed the change is still under way.
    void setNobodyListening(bool nobody);
    bool isNobodyListening() const;
    int fd() const { return fd_; } // link thread only

    // Link thread only.
    FrameParser parser;
    TimePoint rxLineFree{}; // when the simulated line is free for the next incoming byte
    bool readEnded = false; // TCP peer finished sending; close once the replies are out

  private:
    mutable std::mutex m_;
    int fd_;
    bool closed_ = false;
    bool shut_ = false;
    bool nobodyListening_ = false;
};

// A non-blocking listening socket, or -1 with *error set.
int listenTcp(const std::string &host, std::uint16_t port, std::uint16_t *actualPort,
              std::string *error);

struct PtyPair {
    int master = -1;
    int slave = -1; // held open so that the master never sees a hang-up between clients
    std::string path;
};
bool openPty(PtyPair *pty, unsigned baud, std::string *error);
void closePty(PtyPair *pty);

int openSerial(const std::string &device, unsigned baud, std::string *error);

// Points `link` at `target`, replacing an older symlink but never another kind of file.
bool createLink(const std::string &link, const std::string &target, std::string *error);
// Removes `link` if it still points at `target`.
void removeLink(const std::string &link, const std::string &target);

bool baudConstant(unsigned baud, speed_t *speed);
std::string errnoText(int err);

} // namespace qvsim::detail
