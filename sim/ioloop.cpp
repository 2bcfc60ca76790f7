// The link thread: its poll loop, the commands other threads run on it, and the TCP and
// serial links it serves.
#include "simulator_p.h"

#include <algorithm>
#include <cerrno>
#include <future>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qvsim {

using namespace detail;
using namespace std::chrono_literals;

namespace {

// Beyond this a client is refused: each connection costs a descriptor and a queue.
constexpr std::size_t kMaxTcpConnections = 64;
constexpr std::size_t kReadChunk = 4096;
constexpr auto kSerialRetry = 1s;
// Long enough for the kernel to hand written bytes to the slave's reader.
constexpr auto kHangUpGrace = 20ms;
constexpr auto kHangUpMaxWait = 1s;

} // namespace

bool Simulator::Impl::post(std::function<void()> fn) {
    std::lock_guard lock(cmdM);
    if (!ioAccepting)
        return false;
    cmds.push_back(std::move(fn));
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(wakeFd, &one, sizeof one);
    return true;
}

// Runs fn on the link thread and waits for it; does nothing if the simulator is not running.
void Simulator::Impl::runOnIo(std::function<void()> fn) {
    if (std::this_thread::get_id() == ioId.load()) {
        fn();
        return;
    }
    auto done = std::make_shared<std::promise<void>>();
    auto finished = done->get_future();
    // A command still queued when the thread ends is destroyed unrun, which releases us.
    if (!post([fn = std::move(fn), done] {
            fn();
            done->set_value();
        }))
        return;
    done.reset();
    finished.wait();
}

void Simulator::Impl::runCommands() {
    std::uint64_t n;
    [[maybe_unused]] auto r = ::read(wakeFd, &n, sizeof n);
    std::vector<std::function<void()>> todo;
    {
        std::lock_guard lock(cmdM);
        todo.swap(cmds);
    }
    for (auto &fn : todo)
        fn();
}

void Simulator::Impl::onWriterClose(const std::shared_ptr<Endpoint> &ep) {
    post([this, ep] {
        if (ep->isClosed())
            return;
        switch (ep->kind) {
        case LinkKind::Tcp:
            closeTcp(ep, "closed");
            break;
        case LinkKind::Pty:
            // A hang-up flushes what the client has not read yet, so give it a moment to
            // take the bytes that did go out.
            if (ep == ptyEp && !hangUpPending) {
                hangUpPending = true;
                hangUpNotBefore = Clock::now() + kHangUpGrace;
                hangUpDeadline = Clock::now() + kHangUpMaxWait;
            }
            break;
        case LinkKind::Serial:
            if (ep == serialEp) {
                // Closing drops the modem lines (HUPCL); then the device is there again.
                takeDownSerial();
                std::string error;
                if (!bringUpSerial(&error))
                    serialLost(error);
            }
            break;
        }
    });
}

void Simulator::Impl::publishTcpCount() {
    std::lock_guard lock(infoM);
    tcpCount = tcp.size();
}

void Simulator::Impl::acceptAll(TimePoint now) {
    for (;;) {
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                // Out of descriptors: the pending connection would wake poll at once again.
                event("tcp: accept failed: " + errnoText(errno));
                listenPausedUntil = now + 100ms;
            }
            return;
        }
        if (tcp.size() >= kMaxTcpConnections) {
            ::close(fd);
            event("tcp: refused a connection, " + std::to_string(kMaxTcpConnections) +
                  " already open");
            continue;
        }
        // Replies go out byte by byte when paced; Nagle would hold them back.
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto ep = std::make_shared<Endpoint>(LinkKind::Tcp, fd,
                                             "tcp#" + std::to_string(nextConnection++));
        tcp.push_back(ep);
        writer.attach(ep);
        publishTcpCount();
        {
            std::lock_guard lock(cntM);
            ++cnt.connectionsAccepted;
        }
        event(ep->name + ": connected");
    }
}

void Simulator::Impl::closeTcp(const std::shared_ptr<Endpoint> &ep, const std::string &why) {
    writer.detach(ep);
    ep->close();
    std::erase(tcp, ep);
    publishTcpCount();
    event(ep->name + ": " + why);
}

bool Simulator::Impl::bringUpSerial(std::string *error) {
    const int fd = openSerial(opt.serialDevice, opt.baud, error);
    if (fd < 0)
        return false;
    serialEp = std::make_shared<Endpoint>(LinkKind::Serial, fd, "serial");
    writer.attach(serialEp);
    status("serial: " + opt.serialDevice);
    return true;
}

void Simulator::Impl::takeDownSerial() {
    if (!serialEp)
        return;
    writer.detach(serialEp);
    serialEp->close();
    serialEp.reset();
}

void Simulator::Impl::serialLost(const std::string &why) {
    takeDownSerial();
    status("serial: lost " + opt.serialDevice + ": " + why + "; retrying");
    serialRetryAt = Clock::now() + kSerialRetry;
}

void Simulator::Impl::closeAllLinks() {
    for (auto ep : std::vector(tcp))
        closeTcp(ep, "closed");
    if (listenFd >= 0)
        ::close(listenFd);
    listenFd = -1;
    takeDownPty(true);
    takeDownSerial();
    std::lock_guard lock(infoM);
    port = 0;
}

void Simulator::Impl::readFrom(const std::shared_ptr<Endpoint> &ep, std::vector<std::uint8_t> &buf,
                               TimePoint now) {
    const ssize_t n = ::read(ep->fd(), buf.data(), buf.size());
    if (n > 0) {
        processInput(ep, buf.data(), static_cast<std::size_t>(n), now);
        return;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return;
    const std::string why = n == 0 ? "end of input" : errnoText(errno);
    switch (ep->kind) {
    case LinkKind::Tcp:
        if (n == 0) {
            // The client may have only finished sending: answer what it asked, then close.
            ep->readEnded = true;
            Transmission t;
            t.earliest = now;
            t.closeAfter = true;
            if (!writer.submit(ep, std::move(t)))
                closeTcp(ep, "closed");
        } else {
            closeTcp(ep, why);
        }
        break;
    case LinkKind::Pty:
        event("pty: " + why);
        hangUpPty();
        break;
    case LinkKind::Serial:
        serialLost(why);
        break;
    }
}

void Simulator::Impl::ioLoop() {
    std::vector<pollfd> pfds;
    std::vector<std::shared_ptr<Endpoint>> eps;
    std::vector<std::uint8_t> buf(kReadChunk);
    while (!stopRequested) {
        const TimePoint before = Clock::now();
        pfds.clear();
        eps.clear();
        pfds.push_back({wakeFd, POLLIN, 0});
        const bool listening = listenFd >= 0 && before >= listenPausedUntil;
        if (listening)
            pfds.push_back({listenFd, POLLIN, 0});
        const bool watchingPty = ptyWatch >= 0;
        if (watchingPty)
            pfds.push_back({ptyWatch, POLLIN, 0});
        auto watch = [&](const std::shared_ptr<Endpoint> &ep) {
            if (ep && !ep->isClosed() && !ep->readEnded) {
                pfds.push_back({ep->fd(), POLLIN, 0});
                eps.push_back(ep);
            }
        };
        for (const auto &ep : tcp)
            watch(ep);
        watch(ptyEp);
        watch(serialEp);

        TimePoint wakeAt = TimePoint::max();
        if (listenFd >= 0 && !listening)
            wakeAt = listenPausedUntil;
        if (serialWanted && !serialEp)
            wakeAt = std::min(wakeAt, serialRetryAt);
        if (hangUpPending)
            wakeAt = std::min(wakeAt, std::max(hangUpNotBefore, before + 2ms));
        int timeout = -1;
        if (wakeAt != TimePoint::max())
            timeout = static_cast<int>(std::clamp<std::int64_t>(
                std::chrono::ceil<std::chrono::milliseconds>(wakeAt - before).count(), 0, 1000));

        if (::poll(pfds.data(), pfds.size(), timeout) < 0 && errno != EINTR) {
            event("poll failed: " + errnoText(errno));
            std::this_thread::sleep_for(10ms);
            continue;
        }
        const TimePoint now = Clock::now();
        std::size_t i = 0;
        if (pfds[i++].revents)
            runCommands();
        if (stopRequested)
            break;
        if (listening && (pfds[i++].revents & POLLIN))
            acceptAll(now);
        // Opens before input: a client's first request must not meet a line "nobody has".
        if (watchingPty && (pfds[i++].revents & POLLIN) && ptyWatch >= 0)
            readPtyWatch(buf, now);
        for (std::size_t k = 0; k < eps.size(); ++k) {
            if (pfds[i + k].revents && !eps[k]->isClosed())
                readFrom(eps[k], buf, now);
        }
        hangUpWhenRead(now);
        if (serialWanted && !serialEp && now >= serialRetryAt) {
            std::string error;
            if (!bringUpSerial(&error))
                serialRetryAt = now + kSerialRetry;
        }
    }
    {
        std::lock_guard lock(cmdM);
        ioAccepting = false;
        cmds.clear();
    }
    closeAllLinks();
}

} // namespace qvsim
