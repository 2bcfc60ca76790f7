// The TCP kind of line: a client conversation with the sensor's server. Its bytes and the
// server's close come through the conversation's callback, while events are handled.
#include "link/channel.h"

#include "platform/tcp.h"
#include "shell/state.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace qv {

using namespace rt;

namespace {

constexpr unsigned kConnectTimeoutMs = 5000;
constexpr unsigned kWriteTimeoutMs = 2000;
// The link check waits this long, handling events: a TCP conversation delivers only then.
constexpr double kCheckLimit = 5.0;

class TcpChannel final : public Channel {
  public:
    TcpChannel(const char *host, int port, tcpFuncPtr callback)
        : host_(host ? host : ""), port_(port), callback_(callback) {}
    ~TcpChannel() override { release(); }

    int open() override {
        release();
        const int status = ConnectToTCPServer(&g_hconversation, target(), host_.c_str(), callback_,
                                              nullptr, kConnectTimeoutMs);
        tcpcon = status == 0 ? 1 : 0;
        return status;
    }

    int startOpen() override {
        release();
        const int status = StartConnectToTCPServer(&g_hconversation, target(), host_.c_str(),
                                                   callback_, nullptr, kConnectTimeoutMs);
        if (status < 0)
            return status;
        tcpcon = 1;
        return opening();
    }

    int opening() override {
        if (tcpcon == 0)
            return kTCP_NoConnectionEstablished;
        const int state = GetTCPConnectState(g_hconversation);
        if (state < 0)
            release();
        return state;
    }

    int send(const unsigned char *bytes, int count) override {
        return ClientTCPWrite(g_hconversation, bytes, count, kWriteTimeoutMs);
    }

    int take(unsigned char *into, int count) override {
        if (tcpcon == 0)
            return kTCP_NoConnectionEstablished;
        const int n = ClientTCPRead(g_hconversation, into, count, 0);
        return n == kTCP_TimeOutError ? 0 : n;
    }

    // Nothing arrives without events but what the socket holds already: look again shortly.
    void idle() override { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }

    const char *lostText() const override { return "Server has closed connection!"; }
    double checkLimit() const override { return kCheckLimit; }
    bool needsEvents() const override { return true; }

    void name(char *out, std::size_t size) const override {
        std::snprintf(out, size, "%s:%d", host_.c_str(), port_);
    }

  private:
    // A port number out of range is refused by the connect as an invalid parameter.
    unsigned target() const { return port_ < 0 ? 0u : static_cast<unsigned>(port_); }

    void release() {
        if (tcpcon != 0)
            DisconnectFromTCPServer(g_hconversation);
        tcpcon = 0;
        g_hconversation = 0;
    }

    std::string host_;
    int port_;
    tcpFuncPtr callback_;
};

} // namespace

std::unique_ptr<Channel> NewTcpChannel(const char *host, int port, tcpFuncPtr callback) {
    return std::make_unique<TcpChannel>(host, port, callback);
}

} // namespace qv
