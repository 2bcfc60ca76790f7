#include "trend/readingstore.h"

#include <algorithm>
#include <cmath>

namespace qv {

namespace {
// Offsets are whole microseconds in 32 bits, 71 minutes; past this the base moves up to the
// oldest kept reading, which is at most ten minutes old.
constexpr double kRebaseMicros = 3.9e9;
} // namespace

const char *TrendEventName(TrendEvent event) {
    switch (event) {
    case TrendEvent::CalibrationStart:
        return "calibration start";
    case TrendEvent::CalibrationEnd:
        return "calibration end";
    case TrendEvent::Finish:
        return "finish";
    }
    return "";
}

ReadingStore::ReadingStore(std::size_t capacity)
    : capacity_(std::max<std::size_t>(capacity, 1)),
      ring_(std::make_unique_for_overwrite<Record[]>(capacity_)), buckets_(kBuckets) {}

void ReadingStore::add(double seconds, const std::uint16_t (&value)[kTrendChannels]) {
    if (count_ > 0)
        seconds = std::max(seconds, newest());
    dropMarks(seconds - kKeepSeconds);
    const std::size_t keptBefore = count_;
    while (count_ > 0 && seconds - timeOf(record(0)) > kKeepSeconds)
        dropOldest();
    if (count_ == capacity_)
        dropOldest();
    const bool dropped = count_ < keptBefore;
    if (count_ == 0)
        base_ = seconds;
    if ((seconds - base_) * 1e6 > kRebaseMicros)
        rebase();
    Record &r = ring_[(head_ + count_) % capacity_];
    r.micros = static_cast<std::uint32_t>(std::llround((seconds - base_) * 1e6));
    std::copy(std::begin(value), std::end(value), r.value);
    ++count_;
    ++added_;
    addToBucket(seconds, value);
    // A mark older than the oldest reading kept goes with the readings before it; one made
    // before any reading (a calibration's start) stays until the first reading goes.
    if (dropped)
        dropMarks(oldest());
}

void ReadingStore::dropOldest() {
    head_ = (head_ + 1) % capacity_;
    --count_;
}

void ReadingStore::dropMarks(double before) {
    while (markCount_ > 0 && markAt(0).seconds < before) {
        markHead_ = (markHead_ + 1) % kMarkCapacity;
        --markCount_;
    }
}

void ReadingStore::mark(double seconds, TrendEvent event) {
    if (markCount_ > 0)
        seconds = std::max(seconds, markAt(markCount_ - 1).seconds);
    dropMarks(seconds - kKeepSeconds);
    if (markCount_ == kMarkCapacity) {
        markHead_ = (markHead_ + 1) % kMarkCapacity;
        --markCount_;
    }
    marks_[(markHead_ + markCount_) % kMarkCapacity] = {seconds, event};
    ++markCount_;
}

void ReadingStore::rebase() {
    const std::uint32_t shift = record(0).micros;
    for (std::size_t i = 0; i < count_; ++i)
        ring_[(head_ + i) % capacity_].micros -= shift;
    base_ += shift * 1e-6;
}

void ReadingStore::addToBucket(double seconds, const std::uint16_t (&value)[kTrendChannels]) {
    const auto key = static_cast<std::int64_t>(std::floor(seconds / kBucketSeconds));
    Bucket *b = bucketCount_ > 0 ? &buckets_[(bucketHead_ + bucketCount_ - 1) % kBuckets] : nullptr;
    if (!b || b->key != key) {
        if (bucketCount_ == kBuckets) {
            bucketHead_ = (bucketHead_ + 1) % kBuckets;
            --bucketCount_;
        }
        b = &buckets_[(bucketHead_ + bucketCount_) % kBuckets];
        ++bucketCount_;
        b->key = key;
        std::copy(std::begin(value), std::end(value), b->low);
        std::copy(std::begin(value), std::end(value), b->high);
        return;
    }
    for (int c = 0; c < kTrendChannels; ++c) {
        b->low[c] = std::min(b->low[c], value[c]);
        b->high[c] = std::max(b->high[c], value[c]);
    }
}

TrendReading ReadingStore::at(std::size_t i) const {
    const Record &r = record(i);
    TrendReading out{timeOf(r), {}};
    std::copy(std::begin(r.value), std::end(r.value), out.value);
    return out;
}

double ReadingStore::oldest() const {
    return count_ > 0 ? timeOf(record(0)) : 0.0;
}

double ReadingStore::newest() const {
    return count_ > 0 ? timeOf(record(count_ - 1)) : 0.0;
}

void ReadingStore::columns(double from, double to, TrendColumn *out, int count) const {
    if (!out || count <= 0)
        return;
    std::fill(out, out + count, TrendColumn{});
    if (count_ == 0 || !(to > from))
        return;
    // Buckets of readings dropped since (beyond the capacity) are not shown either.
    const double first = std::max(from, oldest() - kBucketSeconds);
    const double perColumn = (to - from) / count;
    for (std::size_t i = bucketCount_; i-- > 0;) {
        const Bucket &b = buckets_[(bucketHead_ + i) % kBuckets];
        const double start = static_cast<double>(b.key) * kBucketSeconds;
        if (start + kBucketSeconds <= first)
            break;
        if (start >= to)
            continue;
        const int col = std::clamp(static_cast<int>((start - from) / perColumn), 0, count - 1);
        TrendColumn &c = out[col];
        for (int k = 0; k < kTrendChannels; ++k) {
            c.low[k] = c.any ? std::min(c.low[k], b.low[k]) : b.low[k];
            c.high[k] = c.any ? std::max(c.high[k], b.high[k]) : b.high[k];
        }
        c.any = true;
    }
}

} // namespace qv
