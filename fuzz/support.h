// What every fuzz target shares: the run-time started headless once per process, the program's
// two panels from the real resource file, pop-ups answered at once, and a scratch folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzsupport {

// Starts the run-time on the offscreen platform, binds the program's callbacks, answers every
// pop-up (counted, never shown), loads the main and connection panels into qv::panel and
// qv::interfacepanel, and sets the protocol sizes as start-up does. Safe to call again.
void startProgram();

// Pop-ups answered since the process started.
long popupCount();

// A folder of this process's own under the system's temporary folder, removed at exit.
const std::string &scratchDir();

// Seconds on a monotonic clock.
double now();

// Reads input bytes front to back; past the end every read gives 0.
class Reader {
  public:
    Reader(const std::uint8_t *data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::size_t left() const { return size_ - pos_; }
    const std::uint8_t *rest() const { return data_ + pos_; }
    void skip(std::size_t n) { pos_ += n < left() ? n : left(); }

  private:
    const std::uint8_t *data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// Reads and drops n bytes from a socket or a terminal; false when they do not come within 3 s or
// the other side has gone.
bool readExactly(int fd, std::size_t n);

// Writes all n bytes to a socket or a terminal, giving up quietly when the other side has gone
// (a socket closed by the program raises no SIGPIPE).
void writeAll(int fd, const std::uint8_t *data, std::size_t n);

// Stops the process with a message: a broken promise of the code under test, which libFuzzer
// records as a crash with the input that caused it.
[[noreturn]] void fail(const char *what);

} // namespace fuzzsupport
