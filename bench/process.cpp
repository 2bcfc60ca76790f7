// The simulator as a child process, and the lines it prints, read outside Qt's event loop.
#include "bench/bench.h"

#include <QCoreApplication>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace qvbench {

std::optional<std::string> LineReader::next(Clock::time_point deadline) {
    for (;;) {
        const auto nl = buf_.find('\n');
        if (nl != std::string::npos) {
            std::string line = buf_.substr(0, nl);
            buf_.erase(0, nl + 1);
            return line;
        }
        if (eof_)
            return std::nullopt;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        pollfd p{fd_, POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left.count()));
        if (r == 0 || (r < 0 && errno == EINTR))
            continue;
        if (r < 0) {
            eof_ = true;
            continue;
        }
        char chunk[4096];
        const ssize_t n = ::read(fd_, chunk, sizeof chunk);
        if (n > 0)
            buf_.append(chunk, static_cast<std::size_t>(n));
        else if (n == 0 || (errno != EINTR && errno != EAGAIN))
            eof_ = true;
    }
}

bool Simulator::start(const std::vector<std::string> &args, bool readStderr, std::string *why) {
    statusLines_.clear();
    const std::string exe =
        (QCoreApplication::applicationDirPath() + "/quorvat-sensorsim").toStdString();
    int out[2], err[2] = {-1, -1};
    if (::pipe2(out, O_CLOEXEC) != 0 || (readStderr && ::pipe2(err, O_CLOEXEC) != 0)) {
        *why = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    if (readStderr)
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<std::string> all{exe};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = ::posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (readStderr)
        ::close(err[1]);
    outFd_ = out[0];
    errFd_ = err[0];
    out_.emplace(outFd_);
    if (readStderr)
        err_.emplace(errFd_);
    if (rc != 0) {
        pid_ = -1;
        *why = exe + ": " + std::strerror(rc);
        return false;
    }
    for (;;) {
        const auto line = out_->next(Clock::now() + std::chrono::seconds(10));
        if (!line) {
            *why = "the simulator did not come up (" + exe + ")";
            stop();
            return false;
        }
        statusLines_.push_back(*line);
        if (line->rfind("tcp: ", 0) == 0 || line->rfind("pty: ", 0) == 0)
            break;
    }
    // A second link line follows at once when both are asked for.
    const bool both = std::find(args.begin(), args.end(), "--pty") != args.end() &&
                      std::find(args.begin(), args.end(), "--no-tcp") == args.end();
    if (both) {
        const auto line = out_->next(Clock::now() + std::chrono::seconds(10));
        if (!line) {
            *why = "the simulator opened only one link";
            stop();
            return false;
        }
        statusLines_.push_back(*line);
    }
    return true;
}

int Simulator::tcpPort() const {
    for (const auto &l : statusLines_)
        if (l.rfind("tcp: ", 0) == 0)
            return std::atoi(l.substr(l.rfind(':') + 1).c_str());
    return 0;
}

std::string Simulator::ptyPath() const {
    for (const auto &l : statusLines_)
        if (l.rfind("pty: ", 0) == 0)
            return l.substr(5);
    return {};
}

void Simulator::stop() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        const auto until = Clock::now() + std::chrono::seconds(3);
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (Clock::now() > until) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                break;
            }
            ::usleep(5000);
        }
        pid_ = -1;
    }
    for (int *fd : {&outFd_, &errFd_})
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    out_.reset();
    err_.reset();
}

} // namespace qvbench
