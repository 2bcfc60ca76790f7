// A plain POSIX client of the simulator, so that its tests rely on nothing but the system.
#pragma once

#include "simulator.h"

#include <QByteArray>
#include <QtTest>

#include <arpa/inet.h>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace simtest {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
namespace cmd = qvsim::command;

inline QByteArray frame(int code, const std::vector<std::uint16_t> &payload = {}) {
    const qvsim::Frame f = qvsim::makeFrame(code, payload);
    return QByteArray(reinterpret_cast<const char *>(f.data()), static_cast<int>(f.size()));
}

inline const QByteArray kFactoryCf = QByteArray::fromHex("040004000400");

class RawClient {
  public:
    explicit RawClient(int fd = -1) : fd_(fd) {}
    RawClient(RawClient &&o) noexcept : closed(o.closed), fd_(std::exchange(o.fd_, -1)) {}
    ~RawClient() { close(); }
    static RawClient tcp(std::uint16_t port) {
        RawClient c(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in a{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
        if (::connect(c.fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
            c.close();
        return c;
    }
    static RawClient device(const std::string &path) {
        return RawClient(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    }
    int fd() const { return fd_; }
    void close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    bool send(const QByteArray &b) {
        return fd_ >= 0 && ::write(fd_, b.constData(), std::size_t(b.size())) == b.size();
    }
    // Reads until `n` bytes came, the other side closed or hung up (then `closed`), or nothing
    // came for `quietMs`; with `arrivals`, when each chunk came and the count up to it.
    QByteArray read(int n = 1 << 20, int quietMs = 3000,
                    std::vector<std::pair<Clock::time_point, int>> *arrivals = nullptr) {
        QByteArray out;
        char buf[4096];
        for (pollfd p{fd_, POLLIN, 0}; !closed && out.size() < n && ::poll(&p, 1, quietMs) > 0;) {
            const ssize_t r = ::read(fd_, buf, std::min<std::size_t>(sizeof buf, n - out.size()));
            closed = r <= 0; // end of stream, or EIO after a pty hang-up
            out.append(buf, static_cast<int>(std::max<ssize_t>(r, 0)));
            if (arrivals && r > 0)
                arrivals->push_back({Clock::now(), int(out.size())});
        }
        return out;
    }
    QByteArray transact(const QByteArray &request, int replyBytes) {
        return send(request) ? read(replyBytes) : QByteArray();
    }
    bool closed = false;

  private:
    int fd_;
};

inline qvsim::Options quietOptions() {
    qvsim::Options o;
    o.port = 0;
    o.seed = 42;
    o.noise = 0;
    return o;
}

} // namespace simtest
