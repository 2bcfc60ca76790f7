// The pseudo-terminal: who has its slave open, what a leaving client leaves behind, and the
// hang-up after which the line comes back as a new device.
#include "simulator_p.h"

#include <algorithm>
#include <utility>

#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace qvsim {

using namespace detail;

bool Simulator::Impl::bringUpPty(std::string *error) {
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

void Simulator::Impl::takeDownPty(bool removeTheLink) {
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
void Simulator::Impl::watchPtyOpeners(const std::string &path) {
    ptyOpeners = 0;
    ptyWatch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ptyOpenersKnown =
        ptyWatch >= 0 && ::inotify_add_watch(ptyWatch, path.c_str(), IN_OPEN | IN_CLOSE) >= 0;
    ptyEp->setNobodyListening(ptyOpenersKnown);
    publishPtyClients();
}

// Events in the order they happened, before the input: a new client's first request must
// meet a listening line, and what the previous one left behind must not reach it.
void Simulator::Impl::readPtyWatch(std::vector<std::uint8_t> &input, TimePoint now) {
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
            if ((masks[k] & IN_CLOSE) && ptyOpeners > 0 && --ptyOpeners == 0 && ptyOpenersKnown) {
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

void Simulator::Impl::publishPtyClients() {
    std::lock_guard lock(infoM);
    ptyClients = !ptyEp ? 0 : ptyOpenersKnown ? ptyOpeners : -1;
}

void Simulator::Impl::clientLeft(bool takeItsInput, std::vector<std::uint8_t> &input,
                                 TimePoint now) {
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

void Simulator::Impl::hangUpWhenRead(TimePoint now) {
    if (!hangUpPending || now < hangUpNotBefore)
        return;
    int unread = 0;
    if (::ioctl(ptySlave, FIONREAD, &unread) != 0)
        unread = 0;
    if (unread == 0 || now >= hangUpDeadline || ptyEp->isNobodyListening())
        hangUpPty();
}

// The line drops and comes back as a new device, under the same link name if there is one.
void Simulator::Impl::hangUpPty() {
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

} // namespace qvsim
