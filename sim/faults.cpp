#include "simulator.h"

#include <charconv>
#include <climits>

namespace qvsim {

namespace {

struct KindInfo {
    FaultKind kind;
    const char *name;
    const char *keys; // the value keys this kind takes, besides cmd, nth and times
};

constexpr KindInfo kKinds[] = {
    {FaultKind::NoReply, "noreply", ""},
    {FaultKind::Ignore, "ignore", ""},
    {FaultKind::Late, "late", "ms"},
    {FaultKind::Short, "short", "bytes"},
    {FaultKind::Long, "long", "bytes"},
    {FaultKind::Garbage, "garbage", "len"},
    {FaultKind::Pieces, "pieces", "size gap"},
    {FaultKind::Disconnect, "disconnect", "bytes"},
    {FaultKind::Unasked, "unasked", "bytes ms"},
    {FaultKind::Flood, "flood", "rate"},
};

const KindInfo &info(FaultKind kind) {
    for (const auto &k : kKinds)
        if (k.kind == kind)
            return k;
    return kKinds[0];
}

bool takesKey(const KindInfo &k, std::string_view key) {
    std::string_view keys(k.keys);
    while (!keys.empty()) {
        const auto space = keys.find(' ');
        if (keys.substr(0, space) == key)
            return true;
        if (space == std::string_view::npos)
            break;
        keys.remove_prefix(space + 1);
    }
    return false;
}

std::optional<unsigned> parseNumber(std::string_view text, unsigned max) {
    unsigned value = 0;
    const auto *end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || p != end || value > max)
        return std::nullopt;
    return value;
}

bool fail(std::string *error, std::string message) {
    if (error)
        *error = std::move(message);
    return false;
}

} // namespace

Fault Fault::late(unsigned ms) {
    Fault f{FaultKind::Late};
    f.delayMs = ms;
    return f;
}

Fault Fault::shortReply(unsigned dropBytes) {
    Fault f{FaultKind::Short};
    f.count = dropBytes;
    return f;
}

Fault Fault::longReply(unsigned extraBytes) {
    Fault f{FaultKind::Long};
    f.count = extraBytes;
    return f;
}

Fault Fault::garbage(int len) {
    Fault f{FaultKind::Garbage};
    f.length = len;
    return f;
}

Fault Fault::pieces(unsigned size, unsigned gap) {
    Fault f{FaultKind::Pieces};
    f.pieceSize = size;
    f.gapMs = gap;
    return f;
}

Fault Fault::disconnect(unsigned bytesBefore) {
    Fault f{FaultKind::Disconnect};
    f.count = bytesBefore;
    return f;
}

Fault Fault::unasked(unsigned bytes, unsigned afterMs) {
    Fault f{FaultKind::Unasked};
    f.count = bytes;
    f.delayMs = afterMs;
    return f;
}

Fault Fault::flood(unsigned bytesPerSecond) {
    Fault f{FaultKind::Flood};
    f.rate = bytesPerSecond;
    return f;
}

std::optional<Fault> Fault::parse(std::string_view text, std::string *error) {
    const auto colon = text.find(':');
    const std::string_view kindName = text.substr(0, colon);
    const KindInfo *kind = nullptr;
    for (const auto &k : kKinds)
        if (kindName == k.name)
            kind = &k;
    if (!kind) {
        fail(error, "unknown fault kind '" + std::string(kindName) +
                        "' (noreply, ignore, late, short, long, garbage, pieces, disconnect, "
                        "unasked, flood)");
        return std::nullopt;
    }

    // The defaults a person would expect when giving only the kind.
    Fault f{kind->kind};
    switch (f.kind) {
    case FaultKind::Late:
        f.delayMs = 1000;
        break;
    case FaultKind::Short:
    case FaultKind::Long:
        f.count = 1;
        break;
    case FaultKind::Unasked:
        f.count = 8;
        break;
    default:
        break;
    }

    std::string_view rest =
        colon == std::string_view::npos ? std::string_view{} : text.substr(colon + 1);
    if (colon != std::string_view::npos && rest.empty()) {
        fail(error, "fault '" + std::string(text) + "': nothing after ':'");
        return std::nullopt;
    }
    while (!rest.empty()) {
        const auto comma = rest.find(',');
        const std::string_view item = rest.substr(0, comma);
        rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
        const auto eq = item.find('=');
        if (eq == std::string_view::npos || eq == 0) {
            fail(error, "fault '" + std::string(text) + "': expected KEY=VALUE, got '" +
                            std::string(item) + "'");
            return std::nullopt;
        }
        const std::string key(item.substr(0, eq));
        const std::string_view value = item.substr(eq + 1);
        auto bad = [&](const std::string &what) {
            fail(error, "fault '" + std::string(text) + "': " + key + " must be " + what +
                            ", got '" + std::string(value) + "'");
            return std::nullopt;
        };
        if (key == "cmd") {
            if (value == "any") {
                f.command = kAnyCommand;
                continue;
            }
            const auto code = parseCommand(value);
            if (!code)
                return bad("a command name, a code 0..65535 or 'any'");
            f.command = *code;
            continue;
        }
        if (key != "nth" && key != "times" && !takesKey(*kind, key)) {
            fail(error,
                 "fault '" + std::string(text) + "': " + kind->name + " takes no '" + key + "'");
            return std::nullopt;
        }
        // Limits keep a typo from asking for gigabytes or for a wait of weeks.
        const unsigned max = key == "ms" || key == "gap"      ? 3600000
                             : key == "rate"                  ? 10000000
                             : key == "nth" || key == "times" ? 1000000000
                                                              : 1048576;
        const auto n = parseNumber(value, max);
        if (!n)
            return bad("a whole number 0.." + std::to_string(max));
        if (key == "nth" || key == "times" || key == "size" || key == "rate") {
            if (*n == 0)
                return bad("at least 1");
        }
        if (key == "nth")
            f.nth = *n;
        else if (key == "times")
            f.times = *n;
        else if (key == "ms")
            f.delayMs = *n;
        else if (key == "bytes")
            f.count = *n;
        else if (key == "len")
            f.length = static_cast<int>(*n);
        else if (key == "size")
            f.pieceSize = *n;
        else if (key == "gap")
            f.gapMs = *n;
        else if (key == "rate")
            f.rate = *n;
    }
    return f;
}

std::string Fault::describe() const {
    std::string s = info(kind).name;
    auto add = [&s, first = true](const std::string &item) mutable {
        s += first ? ":" : ",";
        s += item;
        first = false;
    };
    if (command != kAnyCommand) {
        const auto name = commandName(command);
        add("cmd=" + (name.empty() ? std::to_string(command) : name));
    }
    if (nth)
        add("nth=" + std::to_string(nth));
    if (times)
        add("times=" + std::to_string(times));
    switch (kind) {
    case FaultKind::Late:
        add("ms=" + std::to_string(delayMs));
        break;
    case FaultKind::Short:
    case FaultKind::Long:
    case FaultKind::Disconnect:
        add("bytes=" + std::to_string(count));
        break;
    case FaultKind::Garbage:
        if (length >= 0)
            add("len=" + std::to_string(length));
        break;
    case FaultKind::Pieces:
        add("size=" + std::to_string(pieceSize));
        add("gap=" + std::to_string(gapMs));
        break;
    case FaultKind::Unasked:
        add("bytes=" + std::to_string(count));
        add("ms=" + std::to_string(delayMs));
        break;
    case FaultKind::Flood:
        add("rate=" + std::to_string(rate));
        break;
    default:
        break;
    }
    return s;
}

std::string faultSyntaxHelp() {
    return R"(Fault syntax: KIND[:KEY=VALUE,...]
  Kinds:
    noreply               the request is executed but not answered
    ignore                the request is lost: not executed, not answered
    late:ms=N             the reply comes N ms late (default 1000)
    short:bytes=N         the last N bytes of the reply are missing (default 1)
    long:bytes=N          N stray bytes follow the reply (default 1)
    garbage[:len=N]       random bytes instead of the reply (default: as many as the reply)
    pieces:size=N,gap=MS  the reply comes N bytes at a time, MS apart (defaults 1 and 10)
    disconnect:bytes=N    N reply bytes, then the link drops; a pty hangs up and comes
                          back under a new path, its link re-pointed (default 0)
    unasked:bytes=N,ms=MS N unasked bytes MS after the reply (defaults 8 and 0)
    flood:rate=N          from then on N unasked bytes a second on every link (default 1000)
  Keys for every kind:
    cmd=NAME|CODE|any     the requests it applies to (default any), e.g. cmd=GETDATA, cmd=9
    nth=N                 only from the N-th matching request on, counted from the start
    times=N               this many times (default: once with nth, else every time)
)";
}

} // namespace qvsim
