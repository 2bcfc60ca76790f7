// A plain POSIX client of the simulator, so that its tests rely on nothing but the system.
#pragma once

#include "simulator.h"

#include <QByteArray>
#include <QtTest>

#include <cerrno>
#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace simtest {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

inline QByteArray bytesOf(const qvsim::Frame &f) {
    return QByteArray(reinterpret_cast<const char *>(f.data()), static_cast<int>(f.size()));
}

inline QByteArray frame(int code, const std::vector<std::uint16_t> &payload = {}) {
    return bytesOf(qvsim::makeFrame(code, payload));
}

inline std::vector<std::uint16_t> words(const QByteArray &b) {
    std::vector<std::uint16_t> w;
    for (int i = 0; i + 1 < b.size(); i += 2)
        w.push_back(static_cast<std::uint16_t>((std::uint8_t(b[i]) << 8) | std::uint8_t(b[i + 1])));
    return w;
}

// One byte and when the client saw it.
struct Arrival {
    Clock::time_point at;
    int count; // bytes received up to and including this chunk
};

class RawClient {
  public:
    RawClient() = default;
    explicit RawClient(int fd) : fd_(fd) {}
    RawClient(RawClient &&o) noexcept
        : fd_(std::exchange(o.fd_, -1)), closed_(std::exchange(o.closed_, false)) {}
    RawClient &operator=(RawClient &&o) noexcept {
        close();
        fd_ = std::exchange(o.fd_, -1);
        closed_ = std::exchange(o.closed_, false);
        return *this;
    }
    ~RawClient() { close(); }

    static RawClient tcp(std::uint16_t port) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
            ::close(fd);
            return {};
        }
        return RawClient(fd);
    }
    static RawClient device(const std::string &path) {
        return RawClient(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    }

    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    void close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        closed_ = false;
    }

    bool send(const QByteArray &b) {
        return fd_ >= 0 &&
               ::write(fd_, b.constData(), static_cast<std::size_t>(b.size())) == b.size();
    }

    // Reads until `n` bytes came, the peer closed, or the time is up.
    QByteArray read(int n, int timeoutMs = 3000, std::vector<Arrival> *arrivals = nullptr) {
        QByteArray out;
        const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < n && !closed_) {
            if (!waitReadable(end))
                break;
            char buf[4096];
            const ssize_t r =
                ::read(fd_, buf, std::min<std::size_t>(sizeof buf, std::size_t(n - out.size())));
            if (r <= 0) {
                if (r < 0 && (errno == EAGAIN || errno == EINTR))
                    continue;
                closed_ = true; // end of stream, or EIO after a pty hang-up
                break;
            }
            out.append(buf, static_cast<int>(r));
            if (arrivals)
                arrivals->push_back({Clock::now(), static_cast<int>(out.size())});
        }
        return out;
    }

    // Everything that arrives until nothing came for `quietMs`, or `maxMs` passed.
    QByteArray readUntilQuiet(int quietMs, int maxMs = 5000) {
        QByteArray out;
        const auto end = Clock::now() + std::chrono::milliseconds(maxMs);
        while (!closed_ && Clock::now() < end) {
            const auto more = read(1 << 20, 0);
            if (!more.isEmpty()) {
                out += more;
                continue;
            }
            if (!waitReadable(std::min(end, Clock::now() + std::chrono::milliseconds(quietMs))))
                break;
        }
        return out;
    }

    // True once the other side has closed or hung up, within the time given.
    bool waitClosed(int timeoutMs, QByteArray *data = nullptr) {
        const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!closed_ && Clock::now() < end) {
            const auto b = read(1 << 20, 50);
            if (data)
                *data += b;
        }
        return closed_;
    }

    // A request answered with `replyBytes`, read with a generous limit.
    QByteArray transact(const QByteArray &request, int replyBytes) {
        if (!send(request))
            return {};
        return read(replyBytes);
    }

  private:
    bool waitReadable(Clock::time_point end) {
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now());
            pollfd p{fd_, POLLIN, 0};
            const int r = ::poll(&p, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
            if (r > 0)
                return true;
            if (r == 0 || errno != EINTR)
                return false;
        }
    }

    int fd_ = -1;
    bool closed_ = false;
};

// The client for a data row's transport: "tcp" or "pty".
inline RawClient connectTo(const qvsim::Simulator &sim, const QByteArray &transport) {
    return transport == "tcp" ? RawClient::tcp(sim.tcpPort()) : RawClient::device(sim.ptyPath());
}

inline qvsim::Options quietOptions() {
    qvsim::Options o;
    o.port = 0;
    o.seed = 42;
    return o;
}

} // namespace simtest
