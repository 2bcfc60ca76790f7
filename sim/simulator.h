// The sensor simulator: answers the sensor's request frames over TCP, a pseudo-terminal or a
// serial device, and misbehaves on demand. It shares no code with the program on purpose, so that
// each side checks the other.
//
// Everything runs in the simulator's own threads (one for the links, one that writes replies at
// their due times), so a caller may block its own thread freely. Every public member is
// thread-safe; a change takes effect from the next request on.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qvsim {

inline constexpr std::size_t kFrameSize = 36;   // every request, sync word included
inline constexpr std::size_t kImageWords = 202; // 16 scalar parameters + 31 teach rows of 6
inline constexpr std::size_t kScalarWords = 16;
inline constexpr std::size_t kTeachRows = 31;
inline constexpr std::size_t kTeachRowWords = 6;
inline constexpr std::size_t kVersionSize = 48;     // GETVERSION reply, NUL-padded
inline constexpr std::uint16_t kFactorUnity = 1024; // calibration factor 1.0

using Frame = std::array<std::uint8_t, kFrameSize>;
using Image = std::array<std::uint16_t, kImageWords>;
using Factors = std::array<std::uint16_t, 3>; // red, green, blue
using Rgb = std::array<std::uint16_t, 3>;

namespace command {
inline constexpr int SetPara = 1;
inline constexpr int SetTeach = 2;
inline constexpr int GetParaRam = 3;
inline constexpr int GetParaEeprom = 4;
inline constexpr int GetData = 5;
inline constexpr int SetParaEnd = 6;
inline constexpr int GetVersion = 7;
inline constexpr int SetCf = 8;
inline constexpr int GetCf = 9;
} // namespace command

// "GETDATA" for 5, an empty string for codes the sensor does not know.
std::string commandName(int code);
// Accepts a name as above (any case) or a number 0..65535.
std::optional<int> parseCommand(std::string_view text);
// Number of reply bytes the sensor sends for a code (0 for those without a reply).
std::size_t replySize(int code);

// The parameter image a new sensor has in RAM and EEPROM.
Image factoryImage();

// Builds a request frame: sync word, code, 16 payload words (missing words are zero).
Frame makeFrame(int code, const std::vector<std::uint16_t> &payload = {});

enum class FaultKind {
    NoReply,    // the request is executed, the reply is not sent
    Ignore,     // the request is lost: not executed, no reply
    Late,       // the reply comes delayMs later than it would
    Short,      // the last `count` reply bytes are dropped
    Long,       // `count` stray bytes follow the reply
    Garbage,    // random bytes instead of the reply (`length` of them, -1: as many as the reply)
    Pieces,     // the reply comes in pieces of `pieceSize` bytes with `gapMs` between them
    Disconnect, // `count` reply bytes are sent, then the link drops (pty: hang-up)
    Unasked,    // `count` bytes follow, unasked, delayMs after the reply
    Flood,      // starts a flood of unasked bytes at `rate` bytes/s on every link until stopped
};

inline constexpr int kAnyCommand = -1;

struct Fault {
    FaultKind kind = FaultKind::NoReply;
    int command = kAnyCommand; // the code it applies to, or kAnyCommand
    // Which matching requests it hits, counted from when it is added (1-based): it fires on the
    // nth, nth+1, ... matching request, `times` times. nth 0 means from the first one on; times 0
    // means once when nth is set, else on every one.
    unsigned nth = 0;
    unsigned times = 0;
    unsigned delayMs = 0;   // Late, Unasked
    unsigned count = 0;     // Short, Long, Disconnect, Unasked
    int length = -1;        // Garbage
    unsigned pieceSize = 1; // Pieces
    unsigned gapMs = 10;    // Pieces
    unsigned rate = 1000;   // Flood

    static Fault noReply() { return {FaultKind::NoReply}; }
    static Fault ignore() { return {FaultKind::Ignore}; }
    static Fault late(unsigned ms);
    static Fault shortReply(unsigned dropBytes);
    static Fault longReply(unsigned extraBytes);
    static Fault garbage(int len = -1);
    static Fault pieces(unsigned size, unsigned gap);
    static Fault disconnect(unsigned bytesBefore);
    static Fault unasked(unsigned bytes, unsigned afterMs = 0);
    static Fault flood(unsigned bytesPerSecond);

    Fault &forCommand(int code) {
        command = code;
        return *this;
    }
    Fault &onlyNth(unsigned n) {
        nth = n;
        return *this;
    }
    Fault &repeat(unsigned n) {
        times = n;
        return *this;
    }

    // The text form used on the command line: KIND[:KEY=VALUE,...], e.g. "late:cmd=GETDATA,ms=500".
    static std::optional<Fault> parse(std::string_view text, std::string *error = nullptr);
    std::string describe() const;
};

// The text of --help for the fault syntax, shared by the program and its documentation.
std::string faultSyntaxHelp();

inline constexpr double kMinGamma = 0.1;
inline constexpr double kMaxGamma = 10;

struct Options {
    bool tcp = true;
    std::string host = "127.0.0.1";
    std::uint16_t port = 10001; // 0: an ephemeral port, see Simulator::tcpPort()
    bool pty = false;
    std::string ptyLink;      // if set, a symlink to the pty's slave, removed on stop
    std::string serialDevice; // an existing serial device, opened raw 8N1 at `baud`
    bool pace = false;        // behave like a line at `baud` (10 bits a byte)
    unsigned baud = 19200;
    std::string version = "QUORVAT SENSOR SIMULATOR V1.0"; // at most 48 bytes
    Rgb base{4000, 4100, 3900};            // raw reading of the white target at POWER 1000
    std::uint16_t noise = 2;               // each raw reading varies by up to +-noise
    std::uint16_t saturation = 65535;      // no raw reading above it, as the converter clips
    double gamma = 1;                      // response to POWER, kMinGamma..kMaxGamma; 1: linear
    Rgb ambient{0, 0, 0};                  // raw reading at POWER 0: stray light, dark signal
    std::string logFile;                   // every received frame as a line of hex bytes
    std::uint64_t seed = 0;                // noise, garbage and flood bytes; 0 picks a random seed
    std::size_t frameLogCapacity = 262144; // frames kept in memory, oldest dropped first
    // Link lines such as "tcp: 127.0.0.1:10001" or "pty: /dev/pts/7", also when a link comes
    // back after a hang-up. Called from start()'s thread and from the simulator's link thread.
    std::function<void(const std::string &)> onStatus;
    // One line per request, fault and connection; null keeps quiet. Called from the link thread.
    // Neither callback may call stop().
    std::function<void(const std::string &)> onEvent;
};

struct Counters {
    std::uint64_t framesReceived = 0;
    std::uint64_t bytesDropped = 0;   // input bytes skipped while looking for a sync word
    std::uint64_t bytesSent = 0;      // reply, stray, unasked and flood bytes written
    std::uint64_t bytesDiscarded = 0; // output dropped: link gone, client not reading
    std::uint64_t connectionsAccepted = 0;
    std::uint64_t faultsFired = 0;
};

// Whether `baud` is a rate the simulator can pace and set on a serial device.
bool isSupportedBaud(unsigned baud);

class Simulator {
  public:
    explicit Simulator(Options options = {});
    ~Simulator(); // stops
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    // Opens the links and starts the threads. On failure nothing stays open and *error says why.
    bool start(std::string *error = nullptr);
    // Ends the threads, closes every link and removes the pty link. Unsent replies are dropped.
    void stop();
    bool isRunning() const;

    std::uint16_t tcpPort() const; // the real port while running, else 0
    std::string ptyPath() const;   // the slave's path while a pty is up, else empty
    std::string ptyLink() const;
    // How many clients have the pty's slave open; -1 if that cannot be told. While none has,
    // what the sensor sends is lost as on a real line, and when the last one closes what it left
    // unread is dropped. A client that opens the line the moment another closed it may still
    // see those bytes: clear the input after opening, as with a real device, or wait for 0.
    int ptyClients() const;

    // Faults. Returns an id for removeFault() and faultHits().
    int addFault(const Fault &fault);
    bool removeFault(int id);
    void clearFaults(); // also ends a flood
    std::uint64_t faultHits(int id) const;

    // Unasked data to every open link, now (paced like replies when pacing is on).
    void sendUnasked(const std::vector<std::uint8_t> &bytes);
    void sendUnasked(std::size_t count); // random bytes
    void startFlood(unsigned bytesPerSecond);
    void stopFlood();

    // Link control. These act before they return.
    void dropTcpConnections();
    std::size_t tcpConnectionCount() const;
    void closePty(); // the device vanishes: master closed, link removed
    bool reopenPty(std::string *error = nullptr); // a new pty (new path), link re-pointed

    // The sensor. A reading source gives the raw red, green, blue of reading n (0, 1, 2, ...)
    // exactly, instead of the response below; null goes back to the response. It runs on the
    // link thread and may read the simulator's state, but must not call stop().
    void setReadingSource(std::function<Rgb(std::uint64_t readingIndex)> source);
    // The response to the white target, per channel, at POWER p (RAM word 0):
    //   raw = min(saturation, ambient + base x (p / 1000)^gamma + noise)
    // with the noise uniform in -noise..+noise. With gamma 1 the reading is in proportion to
    // POWER, base x p / 1000 in whole numbers; otherwise base x (p / 1000)^gamma is rounded.
    // Below 1 the light grows ever more slowly with POWER, as an LED's does at high currents:
    // with 0.5, POWER 250 gives half of base, not a quarter. A saturated channel reads flat at
    // the saturation level, noise or not. Ambient is what the sensor reads with its transmitter
    // off, stray light and the photodiode's dark signal: it does not scale with POWER, so that
    // enough of it makes a sensor too bright even at POWER 1.
    void setBase(const Rgb &base);
    void setNoise(std::uint16_t noise);
    void setSaturation(std::uint16_t level);
    bool setGamma(double gamma); // false (unchanged) outside kMinGamma..kMaxGamma
    void setAmbient(const Rgb &ambient);
    bool setVersion(const std::string &text); // false (unchanged) if longer than 48 bytes
    void setPacing(bool on);
    Image ram() const;
    Image eeprom() const;
    Factors factors() const;
    void setRam(const Image &image);
    void setEeprom(const Image &image);
    void setFactors(const Factors &factors);
    void resetToFactory(); // images, factors, version
    std::uint64_t readingsTaken() const;

    // What the PC sent.
    std::vector<Frame> frames() const;
    void clearFrames();
    Counters counters() const;
    // Waits until at least `count` frames have been received and executed in total.
    bool waitForFrames(std::uint64_t count, std::chrono::milliseconds timeout) const;

  private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace qvsim
