#include "sensor.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <utility>

namespace qvsim {

namespace {

struct CommandInfo {
    int code;
    const char *name;
    std::size_t reply;
};

constexpr CommandInfo kCommands[] = {
    {command::SetPara, "SETPARA", 0},
    {command::SetTeach, "SETTEACH", 0},
    {command::GetParaRam, "GETPARA_RAM", kImageWords * 2},
    {command::GetParaEeprom, "GETPARA_EEPROM", kImageWords * 2},
    {command::GetData, "GETDATA", 32},
    {command::SetParaEnd, "SETPARA_END", 0},
    {command::GetVersion, "GETVERSION", kVersionSize},
    {command::SetCf, "SETCF", 0},
    {command::GetCf, "GETCF", 6},
};

void putWord(std::vector<std::uint8_t> &out, std::uint16_t w) {
    out.push_back(static_cast<std::uint8_t>(w >> 8));
    out.push_back(static_cast<std::uint8_t>(w & 0xff));
}

std::uint16_t payloadWord(const Frame &f, std::size_t i) {
    return static_cast<std::uint16_t>((f[4 + 2 * i] << 8) | f[5 + 2 * i]);
}

std::uint16_t clampWord(std::int64_t v) {
    return static_cast<std::uint16_t>(std::clamp<std::int64_t>(v, 0, 65535));
}

// The white target's light on one channel at `power`, before noise and clipping.
std::int64_t response(std::uint16_t base, std::int64_t power, double gamma) {
    if (gamma == 1) // whole numbers, so that the proportion is exact
        return std::int64_t{base} * power / 1000;
    // Bounded before rounding: POWER may be up to 65535 and gamma up to 10.
    return std::llround(std::min(base * std::pow(power / 1000.0, gamma), 1e6));
}

std::array<std::uint8_t, kVersionSize> versionBytes(const std::string &text) {
    std::array<std::uint8_t, kVersionSize> out{};
    std::copy_n(text.begin(), std::min(text.size(), kVersionSize), out.begin());
    return out;
}

} // namespace

std::string commandName(int code) {
    for (const auto &c : kCommands)
        if (c.code == code)
            return c.name;
    return {};
}

std::optional<int> parseCommand(std::string_view text) {
    std::string upper(text);
    for (auto &ch : upper)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    for (const auto &c : kCommands)
        if (upper == c.name)
            return c.code;
    unsigned value = 0;
    const auto *end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || p != end || value > 65535)
        return std::nullopt;
    return static_cast<int>(value);
}

std::size_t replySize(int code) {
    for (const auto &c : kCommands)
        if (c.code == code)
            return c.reply;
    return 0;
}

Image factoryImage() {
    Image img{};
    constexpr std::array<std::uint16_t, kScalarWords> scalars{250, 0, 128, 0,    10,   50, 1, 0,
                                                              0,   0, 0,   3000, 3500, 0,  0, 0};
    std::copy(scalars.begin(), scalars.end(), img.begin());
    for (std::size_t r = 0; r < kTeachRows; ++r) {
        const std::size_t at = kScalarWords + r * kTeachRowWords;
        for (std::size_t i = 0; i < 5; ++i)
            img[at + i] = 1;
        img[at + 5] = 0;
    }
    return img;
}

Frame makeFrame(int code, const std::vector<std::uint16_t> &payload) {
    Frame f{};
    f[0] = 0x00;
    f[1] = 0x55;
    f[2] = static_cast<std::uint8_t>((code >> 8) & 0xff);
    f[3] = static_cast<std::uint8_t>(code & 0xff);
    for (std::size_t i = 0; i < payload.size() && i < 16; ++i) {
        f[4 + 2 * i] = static_cast<std::uint8_t>(payload[i] >> 8);
        f[5 + 2 * i] = static_cast<std::uint8_t>(payload[i] & 0xff);
    }
    return f;
}

namespace detail {

bool FrameParser::push(std::uint8_t byte) {
    if (have_ == 0) {
        if (byte == 0x00)
            buf_[have_++] = byte;
        else
            ++dropped_;
        return false;
    }
    if (have_ == 1) {
        if (byte == 0x55) {
            buf_[have_++] = byte;
        } else {
            // The lone 0x00 was not a sync word; this byte may still start one.
            ++dropped_;
            if (byte != 0x00) {
                ++dropped_;
                have_ = 0;
            }
        }
        return false;
    }
    buf_[have_++] = byte;
    if (have_ < kFrameSize)
        return false;
    have_ = 0;
    return true;
}

std::uint64_t FrameParser::takeDropped() {
    return std::exchange(dropped_, 0);
}

void FrameParser::reset() {
    have_ = 0;
    dropped_ = 0;
}

SensorCore::SensorCore(const Options &options)
    : ram_(factoryImage()),
      eeprom_(factoryImage()), factors_{kFactorUnity, kFactorUnity, kFactorUnity},
      version_(versionBytes(options.version)), factoryVersion_(version_), base_(options.base),
      noise_(options.noise), saturation_(options.saturation), gamma_(options.gamma),
      ambient_(options.ambient), rng_(options.seed ? options.seed : std::random_device{}()) {}

std::vector<std::uint8_t> SensorCore::execute(const Frame &frame) {
    const int code = (frame[2] << 8) | frame[3];
    std::vector<std::uint8_t> out;
    if (code == command::GetData)
        return reading();

    std::lock_guard lock(m_);
    switch (code) {
    case command::SetPara:
        for (std::size_t i = 0; i < kScalarWords; ++i)
            ram_[i] = payloadWord(frame, i);
        break;
    case command::SetTeach: {
        const std::size_t row = payloadWord(frame, 0);
        if (row >= kTeachRows)
            break;
        for (std::size_t i = 0; i < kTeachRowWords; ++i)
            ram_[kScalarWords + row * kTeachRowWords + i] = payloadWord(frame, 1 + i);
        break;
    }
    case command::GetParaRam:
    case command::GetParaEeprom: {
        const Image &img = code == command::GetParaRam ? ram_ : eeprom_;
        out.reserve(kImageWords * 2);
        for (auto w : img)
            putWord(out, w);
        break;
    }
    case command::SetParaEnd:
        eeprom_ = ram_;
        break;
    case command::GetVersion:
        out.assign(version_.begin(), version_.end());
        break;
    case command::SetCf:
        for (std::size_t i = 0; i < 3; ++i)
            factors_[i] = payloadWord(frame, i);
        break;
    case command::GetCf:
        for (auto f : factors_)
            putWord(out, f);
        break;
    default:
        break; // an unknown code gets no answer
    }
    return out;
}

std::vector<std::uint8_t> SensorCore::reading() {
    std::unique_lock lock(m_);
    const std::uint64_t index = readings_++;
    const auto source = source_;
    const Factors cf = factors_;
    Rgb raw{};
    if (!source) {
        const std::int64_t power = ram_[0];
        std::uniform_int_distribution<int> noise(-noise_, noise_);
        for (std::size_t c = 0; c < 3; ++c)
            raw[c] =
                std::min(clampWord(ambient_[c] + response(base_[c], power, gamma_) + noise(rng_)),
                         saturation_);
    }
    lock.unlock();
    // Outside the lock: the source is the caller's code and may ask the simulator for state.
    if (source)
        raw = source(index);

    Rgb cal{};
    for (std::size_t c = 0; c < 3; ++c)
        cal[c] = clampWord(std::int64_t{raw[c]} * cf[c] / kFactorUnity);
    const std::int64_t sum = std::int64_t{raw[0]} + raw[1] + raw[2];
    const std::uint16_t x = sum ? clampWord(raw[0] * 1000 / sum) : 0;
    const std::uint16_t y = sum ? clampWord(raw[1] * 1000 / sum) : 0;
    const std::uint16_t intensity = clampWord(sum / 3);

    std::vector<std::uint8_t> out;
    out.reserve(32);
    for (auto w :
         {cal[0], cal[1], cal[2], x, y, intensity, std::uint16_t{0}, raw[0], raw[1], raw[2]})
        putWord(out, w);
    out.resize(32, 0);
    return out;
}

std::vector<std::uint8_t> SensorCore::randomBytes(std::size_t count) {
    std::lock_guard lock(m_);
    std::vector<std::uint8_t> out(count);
    std::uniform_int_distribution<int> byte(0, 255);
    for (auto &b : out)
        b = static_cast<std::uint8_t>(byte(rng_));
    return out;
}

void SensorCore::setReadingSource(std::function<Rgb(std::uint64_t)> source) {
    std::lock_guard lock(m_);
    source_ = std::move(source);
}

void SensorCore::setBase(const Rgb &base) {
    std::lock_guard lock(m_);
    base_ = base;
}

void SensorCore::setNoise(std::uint16_t noise) {
    std::lock_guard lock(m_);
    noise_ = noise;
}

void SensorCore::setSaturation(std::uint16_t level) {
    std::lock_guard lock(m_);
    saturation_ = level;
}

bool SensorCore::setGamma(double gamma) {
    if (!(gamma >= kMinGamma && gamma <= kMaxGamma))
        return false;
    std::lock_guard lock(m_);
    gamma_ = gamma;
    return true;
}

void SensorCore::setAmbient(const Rgb &ambient) {
    std::lock_guard lock(m_);
    ambient_ = ambient;
}

bool SensorCore::setVersion(const std::string &text) {
    if (text.size() > kVersionSize)
        return false;
    std::lock_guard lock(m_);
    version_ = versionBytes(text);
    return true;
}

Image SensorCore::ram() const {
    std::lock_guard lock(m_);
    return ram_;
}

Image SensorCore::eeprom() const {
    std::lock_guard lock(m_);
    return eeprom_;
}

Factors SensorCore::factors() const {
    std::lock_guard lock(m_);
    return factors_;
}

void SensorCore::setRam(const Image &image) {
    std::lock_guard lock(m_);
    ram_ = image;
}

void SensorCore::setEeprom(const Image &image) {
    std::lock_guard lock(m_);
    eeprom_ = image;
}

void SensorCore::setFactors(const Factors &factors) {
    std::lock_guard lock(m_);
    factors_ = factors;
}

void SensorCore::resetToFactory() {
    std::lock_guard lock(m_);
    ram_ = eeprom_ = factoryImage();
    factors_ = {kFactorUnity, kFactorUnity, kFactorUnity};
    version_ = factoryVersion_;
}

std::uint64_t SensorCore::readingsTaken() const {
    std::lock_guard lock(m_);
    return readings_;
}

} // namespace detail
} // namespace qvsim
