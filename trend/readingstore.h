// The readings the trend keeps, apart from any picture of them: at most the last ten minutes and
// never more than a fixed number, in a ring of compact records; and, for drawing, the smallest and
// largest value of each channel per 10 ms, so that a picture of the last minute costs the same
// whatever the reading rate. Beside them, the moments a calibration started and ended and a
// FINISH ran, which go with the readings around them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace qv {

constexpr int kTrendChannels = 6; // raw red, green, blue, then calibrated red, green, blue

struct TrendReading {
    double seconds; // on the clock the readings were added with
    std::uint16_t value[kTrendChannels];
};

enum class TrendEvent : std::uint8_t { CalibrationStart, CalibrationEnd, Finish };

struct TrendMark {
    double seconds; // on the readings' clock
    TrendEvent event;
};

// The event's name in a saved file: "calibration start", "calibration end", "finish".
const char *TrendEventName(TrendEvent event);

// One column of a picture: the range of each channel over the readings that fall in it.
struct TrendColumn {
    bool any = false;
    std::uint16_t low[kTrendChannels] = {};
    std::uint16_t high[kTrendChannels] = {};
};

class ReadingStore {
  public:
    // 786,432 readings of 16 bytes, 12 MiB, which keeps the program within its 60 MB: ten
    // minutes at up to 1,300 readings a second, far more than a serial line gives (about 28);
    // against the simulator on loopback (12,000 a second) still the last 65 s, more than a
    // picture's minute.
    static constexpr std::size_t kCapacity = 3 * (std::size_t{1} << 18);
    static constexpr double kKeepSeconds = 600.0;
    static constexpr double kBucketSeconds = 0.01;
    static constexpr std::size_t kBuckets = 8192; // 82 s of buckets: a picture's minute and more
    // A calibration makes two marks and takes seconds: far more than ten minutes can hold.
    static constexpr std::size_t kMarkCapacity = 256;

    explicit ReadingStore(std::size_t capacity = kCapacity);

    // Keeps a reading taken at `seconds` (a monotonic clock; an earlier time than the newest is
    // taken as the newest), dropping what is older than ten minutes or beyond the capacity.
    void add(double seconds, const std::uint16_t (&value)[kTrendChannels]);
    std::size_t size() const { return count_; }
    std::size_t capacity() const { return capacity_; }
    // Reading i, 0 being the oldest kept; i < size().
    TrendReading at(std::size_t i) const;
    double oldest() const; // 0 when empty
    double newest() const; // 0 when empty
    // Readings ever added: tells a picture whether anything came since it was drawn.
    std::uint64_t added() const { return added_; }
    // Keeps a mark at `seconds`. Marks go when they are older than the oldest reading kept once
    // readings go (so one made before any reading stays until the first one goes), when they are
    // older than ten minutes, and beyond their own capacity, the oldest first.
    void mark(double seconds, TrendEvent event);
    std::size_t marks() const { return markCount_; }
    // Mark i, 0 being the oldest kept; i < marks().
    TrendMark markAt(std::size_t i) const { return marks_[(markHead_ + i) % kMarkCapacity]; }
    // Fills `count` columns splitting [from, to) evenly with the kept readings of that span, at
    // the resolution of the 10 ms buckets.
    void columns(double from, double to, TrendColumn *out, int count) const;

  private:
    struct Record {
        std::uint32_t micros; // after base_
        std::uint16_t value[kTrendChannels];
    };
    struct Bucket {
        std::int64_t key = 0; // start time / kBucketSeconds
        std::uint16_t low[kTrendChannels] = {};
        std::uint16_t high[kTrendChannels] = {};
    };

    const Record &record(std::size_t i) const { return ring_[(head_ + i) % capacity_]; }
    double timeOf(const Record &r) const { return base_ + r.micros * 1e-6; }
    void dropOldest();
    void dropMarks(double before);
    void rebase();
    void addToBucket(double seconds, const std::uint16_t (&value)[kTrendChannels]);

    std::size_t capacity_;
    std::unique_ptr<Record[]> ring_; // touched as it fills, so memory grows with use
    std::size_t head_ = 0, count_ = 0;
    double base_ = 0;
    std::uint64_t added_ = 0;
    std::vector<Bucket> buckets_;
    std::size_t bucketHead_ = 0, bucketCount_ = 0;
    TrendMark marks_[kMarkCapacity] = {};
    std::size_t markHead_ = 0, markCount_ = 0;
};

} // namespace qv
