// How a fuzz input becomes one sensor transaction, for the TCP and the serial target alike.
//
//   byte 0      which command the program runs (see Command)
//   bytes 1-2   words of a reply for the commands with a size of the input's choosing (1..512)
//   byte 3      flags (see the k* constants)
//   byte 4      chunk count - 1, modulo 8; then one size byte for every chunk but the last
//   the rest    the bytes the sensor sends, in order
//
// The sender always completes the reply (padding it with a fixed pattern when the input runs
// out) unless the input asks for a short reply: a short reply makes the program wait for its
// full reply limit, so the targets honour that request only now and then.
#pragma once

#include "fuzz/support.h"
#include "link/commands.h"
#include "link/link.h"
#include "protocol/codec.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace fuzzsupport {

enum class Command {
    GetCF,        // 6-byte reply
    GetDataFrame, // 2 * anzdata = 32
    CheckComLine, // 48-byte version text
    GetPara,      // 2 * anzpara = 404
    GetParaSized, // GetPara with anzpara from the input
    GetDataSized, // GetDataFrame with anzdata from the input
    Count
};

constexpr std::uint8_t kSendBeforeRequest = 1; // TCP: the bytes go out without waiting
constexpr std::uint8_t kCloseAfter = 2;        // the sensor closes its end after the bytes
constexpr std::uint8_t kShortReply = 4;        // fewer bytes than the reply needs
constexpr std::uint8_t kPauseBetween = 8;      // a pause between chunks

constexpr std::size_t kMaxStream = 2048;

struct ReplyPlan {
    Command command = Command::GetCF;
    int words = 1; // for the sized commands
    std::uint8_t flags = 0;
    std::vector<std::uint8_t> stream;
    std::vector<std::size_t> chunkSizes; // add up to stream.size()

    bool shortReply() const { return flags & kShortReply; }
};

// The reply length the program expects for `command` with the protocol sizes of start-up.
inline int expectedBytes(Command command, int words) {
    switch (command) {
    case Command::GetCF:
        return 6;
    case Command::GetDataFrame:
        return 32;
    case Command::CheckComLine:
        return 48;
    case Command::GetPara:
        return 404;
    default:
        return 2 * words;
    }
}

// `allowShort` false turns a short reply into a whole one.
inline ReplyPlan parsePlan(const std::uint8_t *data, std::size_t size, bool allowShort) {
    Reader in(data, size);
    ReplyPlan plan;
    plan.command = static_cast<Command>(in.byte() % static_cast<int>(Command::Count));
    const int hi = in.byte(), lo = in.byte();
    plan.words = 1 + (hi * 256 + lo) % 512;
    plan.flags = in.byte();
    if (!allowShort)
        plan.flags &= static_cast<std::uint8_t>(~kShortReply);
    const int chunks = 1 + in.byte() % 8;
    std::vector<std::size_t> sizes;
    for (int i = 0; i < chunks - 1; ++i)
        sizes.push_back(std::max<std::size_t>(1, in.byte()));

    const std::size_t expected = static_cast<std::size_t>(expectedBytes(plan.command, plan.words));
    plan.stream.assign(in.rest(), in.rest() + std::min(in.left(), kMaxStream));
    if (plan.shortReply()) {
        plan.stream.resize(std::min(plan.stream.size(), expected - 1));
    } else {
        for (std::size_t i = plan.stream.size(); i < expected; ++i)
            plan.stream.push_back(static_cast<std::uint8_t>(i * 7 + 1));
    }
    std::size_t left = plan.stream.size();
    for (std::size_t s : sizes) {
        if (left == 0)
            break;
        s = std::min(s, left);
        plan.chunkSizes.push_back(s);
        left -= s;
    }
    if (left > 0)
        plan.chunkSizes.push_back(left);
    return plan;
}

// Short replies cost the program's full wait (2 s, 5 s for the link check): at most one in
// `spacing` seconds is honoured, and always the first, so that a single input reproduces.
inline bool shortAllowed(double spacing) {
    static double last = -1e9;
    const double t = now();
    if (t - last < spacing)
        return false;
    last = t;
    return true;
}

// Runs the plan's command through the program's own code over the selected link, then the
// decoders over whatever landed in szReadBuf, then puts the protocol sizes back.
inline void runCommand(const ReplyPlan &plan) {
    using namespace qv;
    switch (plan.command) {
    case Command::GetCF:
        GetCF();
        break;
    case Command::GetDataFrame:
        GetDataFrame();
        break;
    case Command::CheckComLine:
        CheckComLine();
        break;
    case Command::GetPara:
        GetPara();
        break;
    case Command::GetParaSized:
        anzpara = static_cast<u16>(plan.words);
        GetPara();
        break;
    default:
        anzdata = static_cast<u16>(plan.words);
        GetDataFrame();
        break;
    }
    GetRxBufPara();
    CopyPPtoVars();
    GetRxBufData();
    CopyDatatoVars();
    if (maxcolno > kTeachRows)
        fail("maxcolno above the teach table");
    anzpara = 202;
    anzdata = 16;
}

// What the program must have made of the bytes `sent` for a reply of `expected` bytes: a
// reply is complete exactly when bytesToRead is 0, and what it holds is the sensor's bytes in
// order. `serial` allows more bytes than asked for (bytesToRead below 0), which the serial
// transaction counts as a failure.
inline void checkReply(int expected, const std::vector<std::uint8_t> &sent, bool serial,
                       bool isVersion) {
    using namespace qv;
    if (serial) {
        if (dataSize >= 0 && dataSize + bytesToRead != expected)
            fail("dataSize and bytesToRead disagree");
        if (dataSize > kBufSize)
            fail("more bytes queued than the input queue holds");
    } else {
        if (bytesToRead < 0 || bytesToRead > expected || dataSize != expected)
            fail("bytesToRead outside 0..expected");
    }
    if (bytesToRead == 0 && sent.size() < static_cast<std::size_t>(expected))
        fail("a reply counted complete with fewer bytes than sent");
    const int landed = serial ? std::min(std::max(dataSize, 0), kBufSize) : expected - bytesToRead;
    const std::size_t compare =
        std::min<std::size_t>(static_cast<std::size_t>(landed), sent.size());
    if (!std::equal(sent.begin(), sent.begin() + static_cast<std::ptrdiff_t>(compare), szReadBuf))
        fail("the reply in szReadBuf is not the bytes the sensor sent");
    if (isVersion && bytesToRead == 0 &&
        (version[48] != '\0' ||
         !std::equal(version, version + 48, sent.begin(),
                     [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; })))
        fail("the version text is not the reply's 48 bytes");
}

} // namespace fuzzsupport
