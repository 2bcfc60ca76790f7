#include "link.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qvsim {

bool isSupportedBaud(unsigned baud) {
    speed_t s;
    return detail::baudConstant(baud, &s);
}

namespace detail {

std::string errnoText(int err) {
    char buf[256];
    // The GNU variant may return a static string instead of filling buf.
    return strerror_r(err, buf, sizeof buf);
}

Endpoint::Endpoint(LinkKind k, int fd, std::string n) : kind(k), name(std::move(n)), fd_(fd) {}

Endpoint::~Endpoint() {
    close();
}

ssize_t Endpoint::write(const std::uint8_t *data, std::size_t size) {
    std::lock_guard lock(m_);
    if (closed_ || shut_) {
        errno = EPIPE;
        return -1;
    }
    if (nobodyListening_) {
        errno = ENOTCONN;
        return -1;
    }
    if (kind == LinkKind::Tcp)
        return ::send(fd_, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    return ::write(fd_, data, size);
}

void Endpoint::shutdown() {
    std::lock_guard lock(m_);
    if (closed_ || shut_)
        return;
    shut_ = true;
    if (kind == LinkKind::Tcp)
        ::shutdown(fd_, SHUT_RDWR);
}

void Endpoint::close() {
    std::lock_guard lock(m_);
    if (closed_)
        return;
    closed_ = true;
    ::close(fd_);
}

void Endpoint::setNobodyListening(bool nobody) {
    std::lock_guard lock(m_);
    nobodyListening_ = nobody;
}

bool Endpoint::isNobodyListening() const {
    std::lock_guard lock(m_);
    return nobodyListening_;
}

bool Endpoint::isClosed() const {
    std::lock_guard lock(m_);
    return closed_;
}

int listenTcp(const std::string &host, std::uint16_t port, std::uint16_t *actualPort,
              std::string *error) {
    const std::string where = (host.find(':') != std::string::npos ? "[" + host + "]" : host) +
                              ":" + std::to_string(port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo *res = nullptr;
    const int gai = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &res);
    if (gai != 0) {
        *error = "tcp: cannot listen on " + where + ": " + gai_strerror(gai);
        return -1;
    }
    int err = 0;
    int fd = -1;
    for (addrinfo *ai = res; ai; ai = ai->ai_next) {
        fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                      ai->ai_protocol);
        if (fd < 0) {
            err = errno;
            continue;
        }
        // Lets a restarted simulator take its port back at once; a live listener still blocks it.
        const int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (::bind(fd, ai->ai_addr, ai->ai_addrlen) == 0 && ::listen(fd, SOMAXCONN) == 0)
            break;
        err = errno;
        ::close(fd);
        fd = -1;
    }
    freeaddrinfo(res);
    if (fd < 0) {
        *error = "tcp: cannot listen on " + where + ": " + errnoText(err);
        return -1;
    }
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
    if (addr.ss_family == AF_INET)
        *actualPort = ntohs(reinterpret_cast<sockaddr_in *>(&addr)->sin_port);
    else
        *actualPort = ntohs(reinterpret_cast<sockaddr_in6 *>(&addr)->sin6_port);
    return fd;
}

bool baudConstant(unsigned baud, speed_t *speed) {
    switch (baud) {
    case 1200:
        *speed = B1200;
        return true;
    case 2400:
        *speed = B2400;
        return true;
    case 4800:
        *speed = B4800;
        return true;
    case 9600:
        *speed = B9600;
        return true;
    case 19200:
        *speed = B19200;
        return true;
    case 38400:
        *speed = B38400;
        return true;
    case 57600:
        *speed = B57600;
        return true;
    case 115200:
        *speed = B115200;
        return true;
    default:
        return false;
    }
}

namespace {

// Raw 8N1 without flow control, reads never block.
bool makeRaw(int fd, unsigned baud, std::string *error) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0) {
        *error = errnoText(errno);
        return false;
    }
    ::cfmakeraw(&t);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD | HUPCL;
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    speed_t speed = B19200;
    baudConstant(baud, &speed);
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    if (::tcsetattr(fd, TCSANOW, &t) != 0) {
        *error = errnoText(errno);
        return false;
    }
    return true;
}

bool setNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

} // namespace

bool openPty(PtyPair *pty, unsigned baud, std::string *error) {
    auto failWith = [&](const char *step) {
        *error = std::string("pty: ") + step + ": " + errnoText(errno);
        closePty(pty);
        return false;
    };
    pty->master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty->master < 0)
        return failWith("cannot open a pseudo-terminal");
    if (::grantpt(pty->master) != 0 || ::unlockpt(pty->master) != 0)
        return failWith("cannot unlock the pseudo-terminal");
    char name[128];
    if (::ptsname_r(pty->master, name, sizeof name) != 0)
        return failWith("cannot name the pseudo-terminal");
    pty->path = name;
    pty->slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (pty->slave < 0)
        return failWith("cannot open the slave side");
    // Raw before anyone else opens it: no echo, no line editing, no CR/LF translation.
    std::string why;
    if (!makeRaw(pty->slave, baud, &why)) {
        errno = 0;
        *error = "pty: cannot make the line raw: " + why;
        closePty(pty);
        return false;
    }
    if (!setNonBlocking(pty->master))
        return failWith("cannot make the master non-blocking");
    return true;
}

void closePty(PtyPair *pty) {
    if (pty->master >= 0)
        ::close(pty->master);
    if (pty->slave >= 0)
        ::close(pty->slave);
    pty->master = pty->slave = -1;
}

int openSerial(const std::string &device, unsigned baud, std::string *error) {
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = "serial: cannot open " + device + ": " + errnoText(errno);
        return -1;
    }
    if (!::isatty(fd)) {
        *error = "serial: " + device + " is not a serial device";
        ::close(fd);
        return -1;
    }
    std::string why;
    if (!makeRaw(fd, baud, &why)) {
        *error = "serial: cannot set up " + device + ": " + why;
        ::close(fd);
        return -1;
    }
    ::tcflush(fd, TCIOFLUSH);
    return fd;
}

bool createLink(const std::string &link, const std::string &target, std::string *error) {
    struct stat st {};
    if (::lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        *error = "pty link: " + link + " exists and is not a symlink; not replacing it";
        return false;
    }
    // Made beside it and renamed over it, so the name never points nowhere.
    const std::string tmp = link + ".tmp" + std::to_string(::getpid());
    ::unlink(tmp.c_str());
    if (::symlink(target.c_str(), tmp.c_str()) != 0 || ::rename(tmp.c_str(), link.c_str()) != 0) {
        *error = "pty link: cannot create " + link + ": " + errnoText(errno);
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

void removeLink(const std::string &link, const std::string &target) {
    char buf[4096];
    const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
    if (n < 0)
        return;
    if (std::string(buf, static_cast<std::size_t>(n)) == target)
        ::unlink(link.c_str());
}

} // namespace detail
} // namespace qvsim
