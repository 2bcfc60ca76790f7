// Sends bytes at their due times. A thread of its own with absolute-deadline sleeps, because a
// paced reply must leave within a fraction of a millisecond of when a real line would deliver it.
#pragma once

#include "link.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <random>
#include <thread>
#include <vector>

namespace qvsim::detail {

struct Transmission {
    std::vector<std::uint8_t> bytes;
    TimePoint earliest{};      // the line may start no earlier
    Nanos delay{0};            // added once the line is free
    std::size_t pieceSize = 0; // 0: one piece
    Nanos gap{0};              // between pieces
    bool closeAfter = false;
};

class Writer {
  public:
    using CloseRequest = std::function<void(const std::shared_ptr<Endpoint> &)>;

    explicit Writer(CloseRequest onClose);
    ~Writer();

    void start();
    void stop(); // unsent bytes are dropped

    // 0 turns pacing off.
    void setBaud(unsigned baud);
    // Time one byte takes on the line, 0 when not pacing.
    Nanos byteTime() const { return Nanos(byteTimeNs_.load()); }

    void attach(const std::shared_ptr<Endpoint> &ep);
    void detach(const std::shared_ptr<Endpoint> &ep);
    // Queues bytes behind what is already queued for this endpoint. False if dropped.
    bool submit(const std::shared_ptr<Endpoint> &ep, Transmission t);
    void submitToAll(const std::vector<std::uint8_t> &bytes);
    // Drops what is queued for this endpoint.
    void clear(const std::shared_ptr<Endpoint> &ep);
    void startFlood(unsigned bytesPerSecond, std::uint64_t seed);
    void stopFlood();

    std::uint64_t bytesSent() const { return sent_.load(); }
    std::uint64_t bytesDiscarded() const { return discarded_.load(); }

    // Per endpoint; more than this waiting means the client does not read.
    static constexpr std::size_t kMaxQueued = 1 << 20;

  private:
    struct Step {
        TimePoint first;   // due time of the first byte (or of the whole step)
        Nanos interval{0}; // between bytes when paced
        std::vector<std::uint8_t> bytes;
        std::size_t sent = 0;
        bool close = false;
    };
    struct Queue {
        std::shared_ptr<Endpoint> ep;
        std::deque<Step> steps;
        std::size_t queued = 0;
        TimePoint lineFree{};
        TimePoint retryAt{};
    };

    void run();
    void service(Queue &q, TimePoint now);
    TimePoint nextDue(const Queue &q) const;
    void serviceFlood(TimePoint now);
    void discard(Queue &q);
    Queue *find(const Endpoint *ep);
    bool submitLocked(Queue &q, Transmission t);

    CloseRequest onClose_;
    std::atomic<std::int64_t> byteTimeNs_{0};
    std::atomic<std::uint64_t> sent_{0};
    std::atomic<std::uint64_t> discarded_{0};

    std::mutex m_;
    std::condition_variable cv_;
    std::vector<Queue> queues_;
    bool stopping_ = false;
    std::thread thread_;

    unsigned floodRate_ = 0;
    TimePoint floodStart_{};
    std::uint64_t floodSent_ = 0;
    std::minstd_rand floodRng_;
};

} // namespace qvsim::detail
