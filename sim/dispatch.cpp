// Requests: each frame logged, matched against the faults, executed by the sensor, and its
// reply (as the faults make it) handed to the writer.
#include "simulator_p.h"

#include <algorithm>
#include <limits>

namespace qvsim {

using namespace detail;

namespace {

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

void Simulator::Impl::logFrame(const Frame &f) {
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

std::vector<Fault> Simulator::Impl::firedFaults(int code) {
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

void Simulator::Impl::handleFrame(const std::shared_ptr<Endpoint> &ep, const Frame &frame,
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

void Simulator::Impl::startFlood(unsigned rate) {
    const auto seedBytes = core.randomBytes(8);
    std::uint64_t seed = 0;
    for (auto b : seedBytes)
        seed = (seed << 8) | b;
    writer.startFlood(rate, seed);
}

void Simulator::Impl::processInput(const std::shared_ptr<Endpoint> &ep, const std::uint8_t *data,
                                   std::size_t n, TimePoint arrival) {
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

} // namespace qvsim
