#include "simulator.h"

#include "link.h"
#include "sensor.h"
#include "writer.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <future>
#include <limits>
#include <thread>
#include <utility>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
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

std::string hexLine(const Frame &f) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    s.reserve(f.size() * 3);
    for (std::size_t i = 0; i < f.size(); ++i) {
        if (i)
            s += ' ';
        s += digits[f[i] >> 4];
        s += digits[f[i] & 0xf];
    }
    return s;
}

std::string codeText(int code) {
    const auto name = commandName(code);
    return name.empty() ? "code " + std::to_string(code) : name;
}

} // namespace

struct FaultEntry {
    int id;
    Fault fault;
    std::uint64_t matched = 0;
    std::uint64_t hits = 0;
};

struct Simulator::Impl {
    explicit Impl(Options o)
        : opt(std::move(o)), core(opt),
          writer([this](const std::shared_ptr<Endpoint> &ep) { onWriterClose(ep); }) {}

    Options opt;
    SensorCore core;
    Writer writer;

    // Lifecycle.
    std::mutex lifeM;
    std::atomic<bool> running{false};
    std::thread io;
    std::atomic<std::thread::id> ioId{};
    std::mutex cmdM; // guards cmds, ioAccepting and wakeFd
    std::vector<std::function<void()>> cmds;
    bool ioAccepting = false;
    int wakeFd = -1;
    bool stopRequested = false; // link thread only
    bool startingUp = false;
    std::vector<std::string> startStatus;

    // Links; the link thread's alone while running.
    int listenFd = -1;
    TimePoint listenPausedUntil{};
    std::vector<std::shared_ptr<Endpoint>> tcp;
    std::shared_ptr<Endpoint> ptyEp;
    int ptySlave = -1;
    int ptyWatch = -1; // inotify on the slave: who opens and closes it
    int ptyOpeners = 0;
    bool ptyOpenersKnown = false;
    bool hangUpPending = false;
    TimePoint hangUpNotBefore{};
    TimePoint hangUpDeadline{};
    std::shared_ptr<Endpoint> serialEp;
    bool serialWanted = false;
    TimePoint serialRetryAt{};
    int nextConnection = 1;

    // What other threads may read about the links.
    mutable std::mutex infoM;
    std::uint16_t port = 0;
    std::string ptyPath;
    std::size_t tcpCount = 0;
    int ptyClients = 0;

    mutable std::mutex faultM;
    std::vector<FaultEntry> faults;
    int nextFaultId = 1;

    mutable std::mutex logM;
    std::deque<Frame> frames;
    std::FILE *logFile = nullptr;

    mutable std::mutex cntM;
    mutable std::condition_variable cntCv;
    Counters cnt;

    void status(const std::string &line) {
        if (startingUp)
            startStatus.push_back(line);
        else if (opt.onStatus)
            opt.onStatus(line);
    }
    void event(const std::string &line) const {
        if (opt.onEvent)
            opt.onEvent(line);
    }

    // --- running code on the link thread ---

    bool post(std::function<void()> fn) {
        std::lock_guard lock(cmdM);
        if (!ioAccepting)
            return false;
        cmds.push_back(std::move(fn));
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(wakeFd, &one, sizeof one);
        return true;
    }

    // Runs fn on the link thread and waits for it; does nothing if the simulator is not running.
    void runOnIo(std::function<void()> fn) {
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

    void runCommands() {
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

    void onWriterClose(const std::shared_ptr<Endpoint> &ep) {
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

    // --- links ---

    void publishTcpCount() {
        std::lock_guard lock(infoM);
        tcpCount = tcp.size();
    }

    void acceptAll(TimePoint now) {
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

    void closeTcp(const std::shared_ptr<Endpoint> &ep, const std::string &why) {
        writer.detach(ep);
        ep->close();
        std::erase(tcp, ep);
        publishTcpCount();
        event(ep->name + ": " + why);
    }

    bool bringUpPty(std::string *error) {
        PtyPair p;
        if (!openPty(&p, opt.baud, error))
            return false;
        if (!opt.ptyLink.empty() && !createLink(opt.ptyLink, p.path, error)) {
            detail::closePty(&p);
            return false;
        }
        ptySlave = p.slave;
        ptyEp = std::make_shared<Endpoint>(LinkKind::Pty, p.master, "pty");
        watchPtyOpeners(p.path);
        writer.attach(ptyEp);
        {
            std::lock_guard lock(infoM);
            ptyPath = p.path;
        }
        status("pty: " + p.path);
        if (!opt.ptyLink.empty())
            status("pty link: " + opt.ptyLink + " -> " + p.path);
        return true;
    }

    void takeDownPty(bool removeTheLink) {
        if (!ptyEp)
            return;
        std::string path;
        {
            std::lock_guard lock(infoM);
            path = std::exchange(ptyPath, {});
        }
        writer.detach(ptyEp);
        ptyEp->close();
        ptyEp.reset();
        if (ptyWatch >= 0)
            ::close(ptyWatch);
        ptyWatch = -1;
        ::close(ptySlave);
        ptySlave = -1;
        hangUpPending = false;
        publishPtyClients();
        if (removeTheLink && !opt.ptyLink.empty())
            removeLink(opt.ptyLink, path);
        event("pty: closed " + path);
    }

    // Counts the client's opens of the slave (ours came before the watch). Without a client,
    // bytes sent are lost as on a real line, so none are waiting for the next one.
    void watchPtyOpeners(const std::string &path) {
        ptyOpeners = 0;
        ptyWatch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ptyOpenersKnown =
            ptyWatch >= 0 && ::inotify_add_watch(ptyWatch, path.c_str(), IN_OPEN | IN_CLOSE) >= 0;
        ptyEp->setNobodyListening(ptyOpenersKnown);
        publishPtyClients();
    }

    // Events in the order they happened, before the input: a new client's first request must
    // meet a listening line, and what the previous one left behind must not reach it.
    void readPtyWatch(std::vector<std::uint8_t> &input, TimePoint now) {
        alignas(inotify_event) char buf[4096];
        for (;;) {
            const ssize_t n = ::read(ptyWatch, buf, sizeof buf);
            if (n <= 0)
                break;
            std::vector<std::uint32_t> masks;
            for (ssize_t at = 0; at < n;) {
                const auto *ev = reinterpret_cast<const inotify_event *>(buf + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
                masks.push_back(ev->mask);
            }
            for (std::size_t k = 0; k < masks.size() && ptyEp; ++k) {
                if (masks[k] & IN_Q_OVERFLOW)
                    ptyOpenersKnown = false; // lost count: never drop bytes on a guess
                if (masks[k] & IN_OPEN)
                    ++ptyOpeners;
                if ((masks[k] & IN_CLOSE) && ptyOpeners > 0 && --ptyOpeners == 0 &&
                    ptyOpenersKnown) {
                    // Input still waiting is the leaving client's, unless a new one is in.
                    const bool newcomer =
                        std::any_of(masks.begin() + static_cast<std::ptrdiff_t>(k) + 1, masks.end(),
                                    [](std::uint32_t m) { return m & IN_OPEN; });
                    clientLeft(!newcomer, input, now);
                }
            }
        }
        if (ptyEp)
            ptyEp->setNobodyListening(ptyOpenersKnown && ptyOpeners == 0);
        publishPtyClients();
    }

    void publishPtyClients() {
        std::lock_guard lock(infoM);
        ptyClients = !ptyEp ? 0 : ptyOpenersKnown ? ptyOpeners : -1;
    }

    void clientLeft(bool takeItsInput, std::vector<std::uint8_t> &input, TimePoint now) {
        const auto ep = ptyEp;
        ep->setNobodyListening(true);
        writer.clear(ep); // a late reply was for the client that asked
        for (int reads = 0; takeItsInput && reads < 64 && !ep->isClosed(); ++reads) {
            pollfd p{ep->fd(), POLLIN, 0};
            if (::poll(&p, 1, 0) <= 0)
                break;
            readFrom(ep, input, now);
        }
        if (ptyEp != ep)
            return; // the line went down meanwhile
        // Unread bytes and a half-sent frame belong to the client that left.
        ::tcflush(ptySlave, TCIFLUSH);
        ep->parser.reset();
        event("pty: client closed the line");
    }

    void hangUpWhenRead(TimePoint now) {
        if (!hangUpPending || now < hangUpNotBefore)
            return;
        int unread = 0;
        if (::ioctl(ptySlave, FIONREAD, &unread) != 0)
            unread = 0;
        if (unread == 0 || now >= hangUpDeadline || ptyEp->isNobodyListening())
            hangUpPty();
    }

    // The line drops and comes back as a new device, under the same link name if there is one.
    void hangUpPty() {
        std::string old;
        {
            std::lock_guard lock(infoM);
            old = ptyPath;
        }
        takeDownPty(false);
        std::string error;
        if (!bringUpPty(&error)) {
            if (!opt.ptyLink.empty())
                removeLink(opt.ptyLink, old);
            status(error);
        }
    }

    bool bringUpSerial(std::string *error) {
        const int fd = openSerial(opt.serialDevice, opt.baud, error);
        if (fd < 0)
            return false;
        serialEp = std::make_shared<Endpoint>(LinkKind::Serial, fd, "serial");
        writer.attach(serialEp);
        status("serial: " + opt.serialDevice);
        return true;
    }

    void takeDownSerial() {
        if (!serialEp)
            return;
        writer.detach(serialEp);
        serialEp->close();
        serialEp.reset();
    }

    void serialLost(const std::string &why) {
        takeDownSerial();
        status("serial: lost " + opt.serialDevice + ": " + why + "; retrying");
        serialRetryAt = Clock::now() + kSerialRetry;
    }

    void closeAllLinks() {
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

    // --- requests ---

    void logFrame(const Frame &f) {
        std::lock_guard lock(logM);
        if (opt.frameLogCapacity > 0) {
            if (frames.size() >= opt.frameLogCapacity)
                frames.pop_front();
            frames.push_back(f);
        }
        if (logFile) {
            std::fputs((hexLine(f) + "\n").c_str(), logFile);
            std::fflush(logFile);
        }
    }

    std::vector<Fault> firedFaults(int code) {
        std::vector<Fault> fired;
        std::lock_guard lock(faultM);
        for (auto &e : faults) {
            if (e.fault.command != kAnyCommand && e.fault.command != code)
                continue;
            ++e.matched;
            const std::uint64_t first = e.fault.nth ? e.fault.nth : 1;
            const std::uint64_t times = e.fault.times ? e.fault.times
                                        : e.fault.nth ? 1
                                                      : std::numeric_limits<std::uint64_t>::max();
            if (e.matched >= first && e.matched - first < times) {
                ++e.hits;
                fired.push_back(e.fault);
            }
        }
        return fired;
    }

    void handleFrame(const std::shared_ptr<Endpoint> &ep, const Frame &frame,
                     TimePoint requestEnd) {
        const int code = (frame[2] << 8) | frame[3];
        logFrame(frame);
        const auto fired = firedFaults(code);
        const bool lost = std::any_of(fired.begin(), fired.end(),
                                      [](const Fault &f) { return f.kind == FaultKind::Ignore; });

        Transmission t;
        t.earliest = requestEnd;
        if (!lost)
            t.bytes = core.execute(frame);
        std::vector<Transmission> after;
        auto capped = [](std::size_t n) { return std::min(n, Writer::kMaxQueued); };
        for (const auto &f : fired) {
            switch (f.kind) {
            case FaultKind::NoReply:
                t.bytes.clear();
                break;
            case FaultKind::Ignore:
                break;
            case FaultKind::Late:
                t.delay += std::chrono::milliseconds(f.delayMs);
                break;
            case FaultKind::Short:
                t.bytes.resize(t.bytes.size() - std::min<std::size_t>(f.count, t.bytes.size()));
                break;
            case FaultKind::Long: {
                const auto extra = core.randomBytes(capped(f.count));
                t.bytes.insert(t.bytes.end(), extra.begin(), extra.end());
                break;
            }
            case FaultKind::Garbage:
                t.bytes = core.randomBytes(
                    capped(f.length < 0 ? t.bytes.size() : static_cast<std::size_t>(f.length)));
                break;
            case FaultKind::Pieces:
                t.pieceSize = std::max(1u, f.pieceSize);
                t.gap = std::chrono::milliseconds(f.gapMs);
                break;
            case FaultKind::Disconnect:
                t.closeAfter = true;
                t.bytes.resize(std::min<std::size_t>(t.bytes.size(), f.count));
                break;
            case FaultKind::Unasked: {
                Transmission u;
                u.bytes = core.randomBytes(capped(f.count));
                u.earliest = requestEnd;
                u.delay = std::chrono::milliseconds(f.delayMs);
                after.push_back(std::move(u));
                break;
            }
            case FaultKind::Flood:
                startFlood(f.rate);
                break;
            }
        }

        {
            std::lock_guard lock(cntM);
            ++cnt.framesReceived;
            cnt.faultsFired += fired.size();
        }
        cntCv.notify_all();

        if (opt.onEvent) {
            std::string line = ep->name + ": " + codeText(code) + (lost ? " lost" : "") + " -> " +
                               std::to_string(t.bytes.size()) + " bytes";
            for (const auto &f : fired)
                line += " [" + f.describe() + "]";
            event(line);
        }
        const bool drops = t.closeAfter;
        if (ep->isNobodyListening())
            return; // nobody would hear it, and the next client must not
        if (!t.bytes.empty() || t.closeAfter)
            writer.submit(ep, std::move(t));
        if (drops)
            return; // nothing follows a dropped line
        for (auto &u : after)
            writer.submit(ep, std::move(u));
    }

    void startFlood(unsigned rate) {
        const auto seedBytes = core.randomBytes(8);
        std::uint64_t seed = 0;
        for (auto b : seedBytes)
            seed = (seed << 8) | b;
        writer.startFlood(rate, seed);
    }

    void processInput(const std::shared_ptr<Endpoint> &ep, const std::uint8_t *data, std::size_t n,
                      TimePoint arrival) {
        const Nanos bt = writer.byteTime();
        // When paced, input bytes occupy the line as they would on a real one.
        TimePoint chunkStart = arrival;
        if (bt.count() > 0) {
            chunkStart = std::max(arrival, ep->rxLineFree);
            ep->rxLineFree = chunkStart + bt * static_cast<std::int64_t>(n);
        }
        auto countDropped = [&] {
            if (const auto dropped = ep->parser.takeDropped()) {
                std::lock_guard lock(cntM);
                cnt.bytesDropped += dropped;
            }
        };
        for (std::size_t i = 0; i < n && !ep->isClosed(); ++i) {
            if (!ep->parser.push(data[i]))
                continue;
            countDropped(); // before the reply can tell anyone the frame was taken
            handleFrame(ep, ep->parser.frame(), chunkStart + bt * static_cast<std::int64_t>(i + 1));
        }
        countDropped();
    }

    void readFrom(const std::shared_ptr<Endpoint> &ep, std::vector<std::uint8_t> &buf,
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

    void ioLoop() {
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
                    std::chrono::ceil<std::chrono::milliseconds>(wakeAt - before).count(), 0,
                    1000));

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
};

Simulator::Simulator(Options options) : d(std::make_unique<Impl>(std::move(options))) {}

Simulator::~Simulator() {
    stop();
}

bool Simulator::start(std::string *error) {
    std::lock_guard life(d->lifeM);
    if (d->running)
        return true;
    std::string err;
    auto failed = [&](std::string why) {
        d->closeAllLinks();
        if (d->logFile)
            std::fclose(d->logFile);
        d->logFile = nullptr;
        if (d->wakeFd >= 0)
            ::close(d->wakeFd);
        d->wakeFd = -1;
        d->startingUp = false;
        d->startStatus.clear();
        if (error)
            *error = std::move(why);
        return false;
    };
    const Options &o = d->opt;
    if (o.version.size() > kVersionSize)
        return failed("version text is " + std::to_string(o.version.size()) +
                      " bytes; the sensor has room for " + std::to_string(kVersionSize));
    if (!isSupportedBaud(o.baud))
        return failed("unsupported baud rate " + std::to_string(o.baud));
    d->startingUp = true;
    if (!o.logFile.empty()) {
        d->logFile = std::fopen(o.logFile.c_str(), "w");
        if (!d->logFile)
            return failed("log: cannot write " + o.logFile + ": " + errnoText(errno));
    }
    d->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (d->wakeFd < 0)
        return failed("cannot create an event descriptor: " + errnoText(errno));
    if (o.tcp) {
        std::uint16_t actual = 0;
        d->listenFd = listenTcp(o.host, o.port, &actual, &err);
        if (d->listenFd < 0)
            return failed(err);
        {
            std::lock_guard lock(d->infoM);
            d->port = actual;
        }
        const bool v6 = o.host.find(':') != std::string::npos;
        d->status("tcp: " + (v6 ? "[" + o.host + "]" : o.host) + ":" + std::to_string(actual));
    }
    if (o.pty && !d->bringUpPty(&err))
        return failed(err);
    d->serialWanted = !o.serialDevice.empty();
    if (d->serialWanted && !d->bringUpSerial(&err))
        return failed(err);

    d->writer.setBaud(o.pace ? o.baud : 0);
    d->writer.start();
    d->stopRequested = false;
    {
        std::lock_guard lock(d->cmdM);
        d->ioAccepting = true;
    }
    // Every link is up: tell about them before the link thread may report anything itself.
    d->startingUp = false;
    for (const auto &line : std::exchange(d->startStatus, {}))
        d->status(line);
    d->io = std::thread([impl = d.get()] {
        impl->ioId = std::this_thread::get_id();
        impl->ioLoop();
    });
    d->running = true;
    return true;
}

void Simulator::stop() {
    std::lock_guard life(d->lifeM);
    if (!d->running)
        return;
    d->post([impl = d.get()] { impl->stopRequested = true; });
    d->io.join();
    d->ioId = std::thread::id{};
    d->writer.stop();
    {
        std::lock_guard lock(d->cmdM);
        ::close(d->wakeFd);
        d->wakeFd = -1;
    }
    if (d->logFile)
        std::fclose(d->logFile);
    d->logFile = nullptr;
    d->running = false;
}

bool Simulator::isRunning() const {
    return d->running;
}

std::uint16_t Simulator::tcpPort() const {
    std::lock_guard lock(d->infoM);
    return d->port;
}

std::string Simulator::ptyPath() const {
    std::lock_guard lock(d->infoM);
    return d->ptyPath;
}

int Simulator::ptyClients() const {
    std::lock_guard lock(d->infoM);
    return d->ptyClients;
}

std::string Simulator::ptyLink() const {
    return d->opt.ptyLink;
}

int Simulator::addFault(const Fault &fault) {
    std::lock_guard lock(d->faultM);
    const int id = d->nextFaultId++;
    d->faults.push_back(FaultEntry{id, fault});
    return id;
}

bool Simulator::removeFault(int id) {
    std::lock_guard lock(d->faultM);
    return std::erase_if(d->faults, [id](const FaultEntry &e) { return e.id == id; }) > 0;
}

void Simulator::clearFaults() {
    {
        std::lock_guard lock(d->faultM);
        d->faults.clear();
    }
    d->writer.stopFlood();
}

std::uint64_t Simulator::faultHits(int id) const {
    std::lock_guard lock(d->faultM);
    for (const auto &e : d->faults)
        if (e.id == id)
            return e.hits;
    return 0;
}

void Simulator::sendUnasked(const std::vector<std::uint8_t> &bytes) {
    d->writer.submitToAll(bytes);
}

void Simulator::sendUnasked(std::size_t count) {
    d->writer.submitToAll(d->core.randomBytes(std::min(count, Writer::kMaxQueued)));
}

void Simulator::startFlood(unsigned bytesPerSecond) {
    if (bytesPerSecond == 0)
        d->writer.stopFlood();
    else
        d->startFlood(bytesPerSecond);
}

void Simulator::stopFlood() {
    d->writer.stopFlood();
}

void Simulator::dropTcpConnections() {
    d->runOnIo([impl = d.get()] {
        for (auto ep : std::vector(impl->tcp))
            impl->closeTcp(ep, "dropped");
    });
}

std::size_t Simulator::tcpConnectionCount() const {
    std::lock_guard lock(d->infoM);
    return d->tcpCount;
}

void Simulator::closePty() {
    d->runOnIo([impl = d.get()] { impl->takeDownPty(true); });
}

bool Simulator::reopenPty(std::string *error) {
    bool ok = false;
    std::string err = "the simulator is not running";
    d->runOnIo([&, impl = d.get()] {
        impl->takeDownPty(false);
        ok = impl->bringUpPty(&err);
    });
    if (!ok && error)
        *error = err;
    return ok;
}

void Simulator::setReadingSource(std::function<Rgb(std::uint64_t)> source) {
    d->core.setReadingSource(std::move(source));
}

void Simulator::setBase(const Rgb &base) {
    d->core.setBase(base);
}

void Simulator::setNoise(std::uint16_t noise) {
    d->core.setNoise(noise);
}

bool Simulator::setVersion(const std::string &text) {
    return d->core.setVersion(text);
}

void Simulator::setPacing(bool on) {
    d->writer.setBaud(on ? d->opt.baud : 0);
}

Image Simulator::ram() const {
    return d->core.ram();
}

Image Simulator::eeprom() const {
    return d->core.eeprom();
}

Factors Simulator::factors() const {
    return d->core.factors();
}

void Simulator::setRam(const Image &image) {
    d->core.setRam(image);
}

void Simulator::setEeprom(const Image &image) {
    d->core.setEeprom(image);
}

void Simulator::setFactors(const Factors &factors) {
    d->core.setFactors(factors);
}

void Simulator::resetToFactory() {
    d->core.resetToFactory();
}

std::uint64_t Simulator::readingsTaken() const {
    return d->core.readingsTaken();
}

std::vector<Frame> Simulator::frames() const {
    std::lock_guard lock(d->logM);
    return {d->frames.begin(), d->frames.end()};
}

void Simulator::clearFrames() {
    std::lock_guard lock(d->logM);
    d->frames.clear();
}

Counters Simulator::counters() const {
    Counters c;
    {
        std::lock_guard lock(d->cntM);
        c = d->cnt;
    }
    c.bytesSent = d->writer.bytesSent();
    c.bytesDiscarded = d->writer.bytesDiscarded();
    return c;
}

bool Simulator::waitForFrames(std::uint64_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(d->cntM);
    return d->cntCv.wait_for(lock, timeout, [&] { return d->cnt.framesReceived >= count; });
}

} // namespace qvsim
