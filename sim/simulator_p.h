// The simulator's inside: its state, and the members of Simulator::Impl, which live in
//   ioloop.cpp    the link thread: its loop, commands run on it, TCP and serial links
//   pty.cpp       the pseudo-terminal: its clients, hang-ups, a new line after one
//   dispatch.cpp  requests: the frame log, faults, replies handed to the writer
// simulator.cpp holds the public members.
#pragma once

#include "simulator.h"

#include "link.h"
#include "sensor.h"
#include "writer.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qvsim {

struct FaultEntry {
    int id;
    Fault fault;
    std::uint64_t matched = 0;
    std::uint64_t hits = 0;
};

struct Simulator::Impl {
    using Endpoint = detail::Endpoint;
    using SensorCore = detail::SensorCore;
    using TimePoint = detail::TimePoint;
    using Writer = detail::Writer;

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

    // --- running code on the link thread (ioloop.cpp) ---

    bool post(std::function<void()> fn);
    void runOnIo(std::function<void()> fn);
    void runCommands();
    void onWriterClose(const std::shared_ptr<Endpoint> &ep);
    void ioLoop();
    void readFrom(const std::shared_ptr<Endpoint> &ep, std::vector<std::uint8_t> &buf,
                  TimePoint now);

    // --- links (ioloop.cpp) ---

    void publishTcpCount();
    void acceptAll(TimePoint now);
    void closeTcp(const std::shared_ptr<Endpoint> &ep, const std::string &why);
    bool bringUpSerial(std::string *error);
    void takeDownSerial();
    void serialLost(const std::string &why);
    void closeAllLinks();

    // --- the pseudo-terminal (pty.cpp) ---

    bool bringUpPty(std::string *error);
    void takeDownPty(bool removeTheLink);
    void watchPtyOpeners(const std::string &path);
    void readPtyWatch(std::vector<std::uint8_t> &input, TimePoint now);
    void publishPtyClients();
    void clientLeft(bool takeItsInput, std::vector<std::uint8_t> &input, TimePoint now);
    void hangUpWhenRead(TimePoint now);
    void hangUpPty();

    // --- requests (dispatch.cpp) ---

    void logFrame(const Frame &f);
    std::vector<Fault> firedFaults(int code);
    void handleFrame(const std::shared_ptr<Endpoint> &ep, const Frame &frame, TimePoint requestEnd);
    void startFlood(unsigned rate);
    void processInput(const std::shared_ptr<Endpoint> &ep, const std::uint8_t *data, std::size_t n,
                      TimePoint arrival);
};

} // namespace qvsim
