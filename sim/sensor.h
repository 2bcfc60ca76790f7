// The sensor itself, without any link: parameter images, calibration factors, readings, and the
// splitting of a byte stream into request frames.
#pragma once

#include "simulator.h"

#include <mutex>
#include <random>

namespace qvsim::detail {

// Byte-at-a-time so that resynchronisation costs O(1) memory whatever arrives.
class FrameParser {
  public:
    // Returns true when this byte completed a frame, which frame() then holds.
    bool push(std::uint8_t byte);
    const Frame &frame() const { return buf_; }
    // Bytes skipped while looking for a sync word since the last call.
    std::uint64_t takeDropped();
    void reset();

  private:
    Frame buf_{};
    std::size_t have_ = 0;
    std::uint64_t dropped_ = 0;
};

class SensorCore {
  public:
    explicit SensorCore(const Options &options);

    // Executes one request; returns the reply bytes (none for commands that do not answer).
    std::vector<std::uint8_t> execute(const Frame &frame);
    std::vector<std::uint8_t> randomBytes(std::size_t count);

    void setReadingSource(std::function<Rgb(std::uint64_t)> source);
    void setBase(const Rgb &base);
    void setNoise(std::uint16_t noise);
    void setSaturation(std::uint16_t level);
    bool setGamma(double gamma);
    void setAmbient(const Rgb &ambient);
    bool setVersion(const std::string &text);
    Image ram() const;
    Image eeprom() const;
    Factors factors() const;
    void setRam(const Image &image);
    void setEeprom(const Image &image);
    void setFactors(const Factors &factors);
    void resetToFactory();
    std::uint64_t readingsTaken() const;

  private:
    std::vector<std::uint8_t> reading();

    mutable std::mutex m_;
    Image ram_;
    Image eeprom_;
    Factors factors_;
    std::array<std::uint8_t, kVersionSize> version_{};
    std::array<std::uint8_t, kVersionSize> factoryVersion_{};
    Rgb base_;
    std::uint16_t noise_;
    std::uint16_t saturation_;
    double gamma_;
    Rgb ambient_;
    std::function<Rgb(std::uint64_t)> source_;
    std::uint64_t readings_ = 0;
    std::mt19937_64 rng_;
};

} // namespace qvsim::detail
