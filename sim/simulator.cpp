#include "simulator.h"

#include "simulator_p.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <utility>

#include <sys/eventfd.h>
#include <unistd.h>

namespace qvsim {

using namespace detail;

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
    if (!(o.gamma >= kMinGamma && o.gamma <= kMaxGamma))
        return failed("gamma must lie between 0.1 and 10");
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

void Simulator::setSaturation(std::uint16_t level) {
    d->core.setSaturation(level);
}

bool Simulator::setGamma(double gamma) {
    return d->core.setGamma(gamma);
}

void Simulator::setAmbient(const Rgb &ambient) {
    d->core.setAmbient(ambient);
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
