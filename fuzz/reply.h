// How a fuzz input becomes one sensor transaction, for the TCP and the serial target alike.
//
//   byte 0      which command the program runs (see Command)
//   bytes 1-2   words of a reply for the commands with a size of the input's choosing (1..512)
//   byte 3      flags (see the k* constants)
//   byte 4      chunk count - 1, modulo 8; then one size byte for every chunk but the last
//   next byte   with kLeftover only: the leftover's length - 1
//   the rest    the bytes the sensor sends, in order: the leftover, the reply, and with
//               kStrayAfter whatever the input holds beyond them
//
// The leftover is on the line before the request (a late reply, say); the reply and any stray
// bytes go in their chunks after the sensor has read the request. The reply is always whole
// (padded with a fixed pattern when the input runs out) unless the input asks for a short one: a
// short reply makes the program wait for its full reply limit, so the targets honour that request
// only now and then.
#pragma once

#include "fuzz/support.h"
#include "link/commands.h"
#include "link/link.h"
#include "protocol/codec.h"
#include "shell/state.h"

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

constexpr std::uint8_t kLeftover = 1;     // bytes left on the line before the request
constexpr std::uint8_t kCloseAfter = 2;   // the sensor closes its end after the bytes
constexpr std::uint8_t kShortReply = 4;   // fewer bytes than the reply needs
constexpr std::uint8_t kPauseBetween = 8; // a pause between chunks
constexpr std::uint8_t kStrayAfter = 16;  // more bytes after the reply

constexpr std::size_t kMaxStream = 2048;

struct ReplyPlan {
    Command command = Command::GetCF;
    int words = 1; // for the sized commands
    std::uint8_t flags = 0;
    std::vector<std::uint8_t> leftover;  // on the line before the request
    std::vector<std::uint8_t> stream;    // after it: the reply, then any stray bytes
    std::vector<std::size_t> chunkSizes; // add up to stream.size()

    bool shortReply() const { return flags & kShortReply; }
    bool closes() const { return flags & kCloseAfter; }
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
    if (plan.flags & kLeftover) {
        const std::size_t length = std::size_t{in.byte()} + 1;
        plan.leftover.assign(in.rest(), in.rest() + std::min(in.left(), length));
        in.skip(length);
    }

    const std::size_t expected = static_cast<std::size_t>(expectedBytes(plan.command, plan.words));
    plan.stream.assign(in.rest(), in.rest() + std::min(in.left(), kMaxStream));
    if (plan.shortReply()) {
        plan.stream.resize(std::min(plan.stream.size(), expected - 1));
    } else {
        for (std::size_t i = plan.stream.size(); i < expected; ++i)
            plan.stream.push_back(static_cast<std::uint8_t>(i * 7 + 1));
        if (!(plan.flags & kStrayAfter))
            plan.stream.resize(expected);
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

// Short replies cost the program's full wait (2 s, 5 s for the link check over TCP): at most one
// in `spacing` seconds is honoured, and always the first, so that a single input reproduces.
inline bool shortAllowed(double spacing) {
    static double last = -1e9;
    const double t = now();
    if (t - last < spacing)
        return false;
    last = t;
    return true;
}

// Runs the plan's command through the program's own code over the selected link, then the
// decoders over whatever landed in szReadBuf, then puts the protocol sizes back. True when the
// command took its reply: it says so, or (GetPara) reported no failure.
inline bool runCommand(const ReplyPlan &plan) {
    using namespace qv;
    const long popups = popupCount();
    bool taken = false;
    switch (plan.command) {
    case Command::GetCF:
        taken = GetCF();
        break;
    case Command::GetDataFrame:
        taken = GetDataFrame();
        break;
    case Command::CheckComLine:
        taken = CheckComLine();
        break;
    case Command::GetPara:
        GetPara();
        taken = popupCount() == popups;
        break;
    case Command::GetParaSized:
        anzpara = static_cast<u16>(plan.words);
        GetPara();
        taken = popupCount() == popups;
        break;
    default:
        anzdata = static_cast<u16>(plan.words);
        taken = GetDataFrame();
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
    return taken;
}

// What the program must have made of the plan, `taken` being what the command said. A reply
// counts exactly when all its bytes came after the request and no more were there; it is then
// those bytes in order, never a leftover. `wholeWrite` tells whether the line hands over a write
// of that many bytes at once: only then were stray bytes in the reply's last write certainly
// there with it. `lineWhole`: the reply's bytes reach the program even when the line goes right
// after them (a TCP close does that; a hang-up may discard them).
inline void checkReply(const ReplyPlan &plan, bool taken, bool (*wholeWrite)(std::size_t),
                       bool lineWhole) {
    using namespace qv;
    const std::size_t expected = static_cast<std::size_t>(expectedBytes(plan.command, plan.words));
    const std::size_t sent = plan.stream.size();
    if (taken && sent < expected)
        fail("a reply counted complete with fewer bytes than it has");
    if (taken &&
        !std::equal(plan.stream.begin(),
                    plan.stream.begin() + static_cast<std::ptrdiff_t>(expected), szReadBuf))
        fail("the reply in szReadBuf is not the bytes the sensor sent after the request");
    if (!taken && sent == expected && (lineWhole || !plan.closes()))
        fail("a whole reply, alone on the line, was not taken");
    if (taken && sent > expected) {
        std::size_t end = 0; // the end of the write that holds the reply's last byte
        for (std::size_t s : plan.chunkSizes) {
            end += s;
            if (end >= expected) {
                if (end > expected && wholeWrite(s))
                    fail("a reply taken although more bytes came with it");
                break;
            }
        }
    }
    if (taken && plan.command == Command::CheckComLine &&
        (version[48] != '\0' ||
         !std::equal(version, version + 48, plan.stream.begin(),
                     [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; })))
        fail("the version text is not the reply's 48 bytes");
    if (taken && plan.command == Command::GetCF &&
        (cfrot != (plan.stream[0] << 8 | plan.stream[1]) ||
         cfblau != (plan.stream[4] << 8 | plan.stream[5])))
        fail("the factors are not the reply's words");
}

} // namespace fuzzsupport
