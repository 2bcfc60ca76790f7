// The serial kind of line: one numbered port of the RS-232 library at 19200 baud, 8N1, without
// handshake.
#include "link/channel.h"

#include "platform/rs232.h"
#include "platform/serialports.h"
#include "platform/utility.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace qv {

using namespace rt;

namespace {

constexpr long kBaud = 19200;
constexpr int kQueueBytes = 1024;
constexpr double kPortTimeout = 2.0;
// The link check waits this long, and handles no events meanwhile: the operator stays out of a
// check that runs on the line of the port just opened.
constexpr double kCheckLimit = 2.0;

class SerialChannel final : public Channel {
  public:
    SerialChannel(int port, const std::string &identity) : port_(port), identity_(identity) {}
    ~SerialChannel() override { CloseCom(port_); }

    int open() override {
        CloseCom(port_);
        // This device, not whatever has the number now; and kept, to tell later whether it went.
        const std::string device = identity_.empty() ? std::string() : SerialPortDevice(identity_);
        if (!identity_.empty() && device.empty())
            return kRS232NoSerialPortFound;
        path_ = device.empty() ? ComPortDevice(port_) : device;
        const int status = OpenComConfig(port_, device.c_str(), kBaud, kParityNone, 8, 1,
                                         kQueueBytes, kQueueBytes);
        if (status < 0)
            return status;
        SetComTime(port_, kPortTimeout);
        FlushInQ(port_);
        FlushOutQ(port_);
        SetCTSMode(port_, 0);
        return 0;
    }
    // Opening a port does not wait on anything.
    int startOpen() override { return open(); }
    int opening() override { return 0; }

    int send(const unsigned char *bytes, int count) override {
        return ComWrt(port_, reinterpret_cast<const char *>(bytes), count);
    }

    int take(unsigned char *into, int count) override {
        const int queued = GetInQLen(port_);
        if (queued <= 0 || count <= 0)
            return queued;
        return ComRd(port_, reinterpret_cast<char *>(into), std::min(queued, count));
    }

    // GetInQLen, which take() asks, waits up to a millisecond itself when nothing changed.
    void idle() override {}

    const char *lostText() const override {
        long long size = 0;
        const bool present = path_.empty() || GetFileInfo(path_.c_str(), &size) != 0;
        return present ? "Serial line has failed!" : "Serial device has gone!";
    }

    double checkLimit() const override { return kCheckLimit; }
    bool needsEvents() const override { return false; }

    void name(char *out, std::size_t size) const override {
        std::snprintf(out, size, "COM%d", port_);
    }

  private:
    int port_;
    std::string identity_, path_;
};

} // namespace

std::unique_ptr<Channel> NewSerialChannel(int port, const std::string &identity) {
    return std::make_unique<SerialChannel>(port, identity);
}

} // namespace qv
