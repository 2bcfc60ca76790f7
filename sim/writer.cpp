#include "writer.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <ctime>

#include <sys/prctl.h>

namespace qvsim::detail {

namespace {

using namespace std::chrono_literals;

// A client that does not read is retried this often rather than blocking the writer.
constexpr Nanos kRetry = 1ms;
// Closer than this to a deadline the writer stops listening for news and sleeps exactly.
constexpr Nanos kFinalApproach = 300us;
constexpr std::size_t kMaxFloodChunk = 64 * 1024;

void sleepUntil(TimePoint t) {
    const auto ns = std::chrono::duration_cast<Nanos>(t.time_since_epoch()).count();
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ns / 1000000000);
    ts.tv_nsec = static_cast<long>(ns % 1000000000);
    // steady_clock is CLOCK_MONOTONIC on Linux.
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

} // namespace

Writer::Writer(CloseRequest onClose) : onClose_(std::move(onClose)) {}

Writer::~Writer() {
    stop();
}

void Writer::start() {
    std::lock_guard lock(m_);
    if (thread_.joinable())
        return;
    stopping_ = false;
    thread_ = std::thread([this] { run(); });
}

void Writer::stop() {
    {
        std::lock_guard lock(m_);
        stopping_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable())
        thread_.join();
    std::lock_guard lock(m_);
    for (auto &q : queues_)
        discard(q);
    queues_.clear();
    floodRate_ = 0;
}

void Writer::setBaud(unsigned baud) {
    // Rounded up: a byte never leaves before a real line could have delivered it.
    byteTimeNs_ = baud ? (10'000'000'000LL + baud - 1) / baud : 0;
}

void Writer::attach(const std::shared_ptr<Endpoint> &ep) {
    std::lock_guard lock(m_);
    if (!find(ep.get()))
        queues_.push_back(Queue{ep, {}, 0, {}, {}});
}

void Writer::detach(const std::shared_ptr<Endpoint> &ep) {
    std::lock_guard lock(m_);
    auto it =
        std::find_if(queues_.begin(), queues_.end(), [&](const Queue &q) { return q.ep == ep; });
    if (it == queues_.end())
        return;
    discard(*it);
    queues_.erase(it);
}

void Writer::clear(const std::shared_ptr<Endpoint> &ep) {
    std::lock_guard lock(m_);
    if (Queue *q = find(ep.get())) {
        discard(*q);
        q->lineFree = TimePoint{};
        q->retryAt = TimePoint{};
    }
}

Writer::Queue *Writer::find(const Endpoint *ep) {
    for (auto &q : queues_)
        if (q.ep.get() == ep)
            return &q;
    return nullptr;
}

bool Writer::submit(const std::shared_ptr<Endpoint> &ep, Transmission t) {
    bool ok = false;
    {
        std::lock_guard lock(m_);
        if (Queue *q = find(ep.get()))
            ok = submitLocked(*q, std::move(t));
        else
            discarded_ += t.bytes.size();
    }
    cv_.notify_all();
    return ok;
}

void Writer::submitToAll(const std::vector<std::uint8_t> &bytes) {
    {
        std::lock_guard lock(m_);
        for (auto &q : queues_)
            submitLocked(q, Transmission{bytes, Clock::now(), Nanos{0}, 0, Nanos{0}, false});
    }
    cv_.notify_all();
}

bool Writer::submitLocked(Queue &q, Transmission t) {
    const std::size_t n = t.bytes.size();
    if (q.queued + n > kMaxQueued) {
        discarded_ += n;
        return false;
    }
    const Nanos bt = byteTime();
    const TimePoint start = std::max(t.earliest, q.lineFree) + t.delay;
    const std::size_t piece = t.pieceSize ? t.pieceSize : std::max<std::size_t>(n, 1);
    TimePoint end = start;
    for (std::size_t at = 0, j = 0; at < n; at += piece, ++j) {
        const std::size_t len = std::min(piece, n - at);
        Step s;
        s.first =
            start + t.gap * static_cast<std::int64_t>(j) + bt * static_cast<std::int64_t>(at + 1);
        s.interval = bt;
        s.bytes.assign(t.bytes.begin() + static_cast<std::ptrdiff_t>(at),
                       t.bytes.begin() + static_cast<std::ptrdiff_t>(at + len));
        end = s.first + bt * static_cast<std::int64_t>(len - 1);
        q.steps.push_back(std::move(s));
    }
    if (t.closeAfter) {
        if (n == 0)
            q.steps.push_back(Step{start, Nanos{0}, {}, 0, true});
        else
            q.steps.back().close = true;
    }
    q.queued += n;
    q.lineFree = std::max(q.lineFree, end);
    return true;
}

void Writer::startFlood(unsigned bytesPerSecond, std::uint64_t seed) {
    {
        std::lock_guard lock(m_);
        if (floodRate_ == 0) {
            floodStart_ = Clock::now();
            floodSent_ = 0;
            floodRng_.seed(static_cast<std::minstd_rand::result_type>(seed | 1));
        } else {
            // Keep the count consistent with the new rate from now on.
            floodStart_ = Clock::now();
            floodSent_ = 0;
        }
        floodRate_ = bytesPerSecond;
    }
    cv_.notify_all();
}

void Writer::stopFlood() {
    std::lock_guard lock(m_);
    floodRate_ = 0;
}

void Writer::discard(Queue &q) {
    for (const auto &s : q.steps)
        discarded_ += s.bytes.size() - s.sent;
    q.steps.clear();
    q.queued = 0;
}

TimePoint Writer::nextDue(const Queue &q) const {
    const Step &s = q.steps.front();
    const TimePoint due = s.first + s.interval * static_cast<std::int64_t>(s.sent);
    return std::max(due, q.retryAt);
}

void Writer::service(Queue &q, TimePoint now) {
    while (!q.steps.empty()) {
        if (now < q.retryAt)
            return;
        Step &s = q.steps.front();
        if (now < s.first)
            return;
        std::size_t due = s.bytes.size();
        if (s.interval.count() > 0)
            due = std::min<std::size_t>(due,
                                        static_cast<std::size_t>((now - s.first) / s.interval) + 1);
        if (due > s.sent) {
            const ssize_t w = q.ep->write(s.bytes.data() + s.sent, due - s.sent);
            if (w < 0 && errno == ENOTCONN) {
                discarded_ += due - s.sent;
                q.queued -= due - s.sent;
                s.sent = due;
            } else if (w < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                    q.retryAt = now + kRetry;
                    return;
                }
                // The link is gone; the link thread tidies up.
                discard(q);
                q.ep->shutdown();
                onClose_(q.ep);
                return;
            } else {
                s.sent += static_cast<std::size_t>(w);
                q.queued -= static_cast<std::size_t>(w);
                sent_ += static_cast<std::uint64_t>(w);
                if (s.sent < due) {
                    q.retryAt = now + kRetry;
                    return;
                }
            }
        }
        if (s.sent < s.bytes.size())
            return;
        if (s.close) {
            q.steps.pop_front();
            discard(q);
            q.ep->shutdown();
            onClose_(q.ep);
            return;
        }
        q.steps.pop_front();
    }
}

void Writer::serviceFlood(TimePoint now) {
    const double elapsed = std::chrono::duration<double>(now - floodStart_).count();
    const auto target = static_cast<std::uint64_t>(std::floor(elapsed * floodRate_));
    if (target <= floodSent_)
        return;
    const std::size_t n =
        static_cast<std::size_t>(std::min<std::uint64_t>(target - floodSent_, kMaxFloodChunk));
    floodSent_ = target;
    std::vector<std::uint8_t> bytes(n);
    for (auto &b : bytes)
        b = static_cast<std::uint8_t>(floodRng_() & 0xff);
    for (auto &q : queues_) {
        const ssize_t w = q.ep->write(bytes.data(), n);
        // Flood bytes are noise: what the client has no room for is simply lost, as on a line.
        const std::size_t written = w > 0 ? static_cast<std::size_t>(w) : 0;
        sent_ += written;
        discarded_ += n - written;
    }
}

void Writer::run() {
    // Default timer slack would add up to 50 us to every sleep.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    std::unique_lock lock(m_);
    while (!stopping_) {
        const TimePoint now = Clock::now();
        TimePoint next = TimePoint::max();
        for (auto &q : queues_) {
            service(q, now);
            if (!q.steps.empty())
                next = std::min(next, nextDue(q));
        }
        if (floodRate_) {
            serviceFlood(now);
            const auto nextByte =
                floodStart_ + std::chrono::duration_cast<Nanos>(std::chrono::duration<double>(
                                  static_cast<double>(floodSent_ + 1) / floodRate_));
            next = std::min(next, std::max(nextByte, now + 1ms));
        }
        if (next == TimePoint::max()) {
            cv_.wait(lock);
        } else if (next - now > kFinalApproach) {
            cv_.wait_until(lock, next - kFinalApproach / 2);
        } else if (next > now) {
            lock.unlock();
            sleepUntil(next);
            lock.lock();
        }
    }
}

} // namespace qvsim::detail
