// quorvat-sensorsim: the sensor simulator as a program, for scripts, integration runs and training.

#include "simulator.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <array>
#include <charconv>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/signalfd.h>
#include <unistd.h>

namespace {

constexpr const char *kProgram = "quorvat-sensorsim";

std::string usage() {
    return std::string(R"(Usage: quorvat-sensorsim [OPTIONS]
Behaves like the RGB colour sensor on a TCP port, a pseudo-terminal or a serial device,
and misbehaves on demand. Prints one line per link ("tcp: HOST:PORT", "pty: PATH",
"pty link: NAME -> PATH", "serial: DEVICE") as soon as it is up. Ctrl+C or SIGTERM end it.

Links:
  --tcp HOST:PORT       listen there (default 127.0.0.1:10001; port 0 picks a free one)
  --port PORT           the same as --tcp 127.0.0.1:PORT
  --no-tcp              no TCP server
  --pty [NAME]          create a pseudo-terminal, print its path; with NAME also make a
                        symlink NAME to it, removed on exit (also --pty=NAME)
  --serial DEVICE       serve an existing serial device, raw 8N1 at --baud
Line:
  --pace                answer as fast as a real serial line would carry the bytes, no faster
  --baud N              the rate for --pace and --serial (default 19200)
Sensor:
  --version-text TEXT   the GETVERSION answer, at most 48 bytes
  Each raw reading of the white target at POWER P is, per channel,
  min(--saturate, --ambient + --base x (P/1000)^--gamma + noise):
  --base R,G,B          raw reading of the white target at POWER 1000 (default 4000,4100,3900)
  --gamma G             the response to POWER: base x (P/1000)^G, rounded (0.1 to 10;
                        default 1: in proportion, base x P / 1000 in whole numbers). Below 1
                        the light grows ever more slowly with POWER, as an LED's does at high
                        currents: with 0.5, POWER 250 gives half of base, not a quarter
  --ambient R,G,B       raw reading with the transmitter off (POWER 0): stray light and the
                        photodiode's dark signal, added at every POWER (default 0,0,0)
  --noise N             each raw reading varies by up to +-N (default 2)
  --saturate N          no raw reading above N, as the sensor's converter clips: a saturated
                        channel reads N, noise or not (default 65535, the reading's own limit)
  --factors R,G,B       calibration factors at start, 1024 = 1.0 (default 1024,1024,1024)
  --seed N              seed for noise and random bytes, to repeat a run exactly
Faults:
  --fault FAULT         misbehave as FAULT says; may be given many times (syntax below)
Output:
  --log FILE            write every received frame to FILE as a line of hex bytes
  -v, --verbose         one line per request, fault and connection on stderr
  -h, --help            show this help and exit
  --version             show the program version and exit

)") + qvsim::faultSyntaxHelp() +
           R"(
Examples:
  quorvat-sensorsim
  quorvat-sensorsim --port 0 --pty /tmp/qv-sensor
  quorvat-sensorsim --no-tcp --pty /tmp/qv-sensor --pace
  quorvat-sensorsim --base 9000,8000,9500 --gamma 0.6 --saturate 2500 --noise 10
  quorvat-sensorsim --fault late:cmd=GETDATA,ms=1500,nth=3
  quorvat-sensorsim --fault pieces:size=4,gap=20 --fault noreply:cmd=9,nth=2,times=3
  quorvat-sensorsim --serial /dev/ttyUSB0 --fault flood:rate=200,cmd=GETDATA,nth=10

Exit status: 0 after Ctrl+C or SIGTERM, 1 if a link cannot be opened, 2 for bad options.
)";
}

struct BadOption {
    std::string message;
};

template <typename T> T number(std::string_view text, T max, const std::string &what) {
    unsigned long long v = 0;
    const auto *end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, v);
    if (text.empty() || ec != std::errc() || p != end || v > max)
        throw BadOption{what + " must be a whole number 0.." + std::to_string(max) + ", got '" +
                        std::string(text) + "'"};
    return static_cast<T>(v);
}

// In the C locale whatever the user's: a decimal point, never a comma.
double parseGamma(std::string_view text) {
    double v = 0;
    const auto *end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, v);
    if (text.empty() || ec != std::errc() || p != end ||
        !(v >= qvsim::kMinGamma && v <= qvsim::kMaxGamma))
        throw BadOption{"--gamma must be a number from 0.1 to 10, got '" + std::string(text) + "'"};
    return v;
}

std::array<std::uint16_t, 3> triple(std::string_view text, const std::string &what) {
    std::array<std::uint16_t, 3> out{};
    std::size_t at = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        const auto comma = text.find(',', at);
        if ((i < 2) == (comma == std::string_view::npos))
            throw BadOption{what + " must be three numbers R,G,B, got '" + std::string(text) + "'"};
        out[i] = number<std::uint16_t>(text.substr(at, comma - at), 65535, what);
        at = comma + 1;
    }
    return out;
}

struct Config {
    qvsim::Options options;
    std::vector<qvsim::Fault> faults;
    std::optional<qvsim::Factors> factors;
    bool verbose = false;
    bool help = false;
    bool version = false;
};

void parseTcp(std::string_view text, qvsim::Options &o) {
    const auto colon = text.rfind(':');
    std::string_view host =
        colon == std::string_view::npos ? std::string_view{} : text.substr(0, colon);
    const std::string_view port = colon == std::string_view::npos ? text : text.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    if (colon != std::string_view::npos && host.empty())
        throw BadOption{"--tcp wants HOST:PORT, got '" + std::string(text) + "'"};
    if (!host.empty())
        o.host = std::string(host);
    o.port = number<std::uint16_t>(port, 65535, "the TCP port");
    o.tcp = true;
}

Config parseArguments(int argc, char **argv) {
    Config c;
    qvsim::Options &o = c.options;
    bool noTcp = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::optional<std::string> inlineValue;
        if (arg.rfind("--", 0) == 0) {
            if (const auto eq = arg.find('='); eq != std::string::npos) {
                inlineValue = arg.substr(eq + 1);
                arg.resize(eq);
            }
        }
        auto value = [&]() -> std::string {
            if (inlineValue)
                return *inlineValue;
            if (i + 1 >= argc)
                throw BadOption{arg + " needs a value"};
            return argv[++i];
        };
        auto flag = [&] {
            if (inlineValue)
                throw BadOption{arg + " takes no value"};
        };
        if (arg == "-h" || arg == "--help") {
            flag();
            c.help = true;
        } else if (arg == "--version") {
            flag();
            c.version = true;
        } else if (arg == "-v" || arg == "--verbose") {
            flag();
            c.verbose = true;
        } else if (arg == "--tcp") {
            parseTcp(value(), o);
        } else if (arg == "--port") {
            o.port = number<std::uint16_t>(value(), 65535, "--port");
            o.tcp = true;
        } else if (arg == "--no-tcp") {
            flag();
            noTcp = true;
        } else if (arg == "--pty") {
            o.pty = true;
            if (inlineValue)
                o.ptyLink = *inlineValue;
            else if (i + 1 < argc && argv[i + 1][0] != '-')
                o.ptyLink = argv[++i];
            if (inlineValue && o.ptyLink.empty())
                throw BadOption{"--pty= needs a NAME"};
        } else if (arg == "--serial") {
            o.serialDevice = value();
            if (o.serialDevice.empty())
                throw BadOption{"--serial needs a DEVICE"};
        } else if (arg == "--pace") {
            flag();
            o.pace = true;
        } else if (arg == "--baud") {
            o.baud = number<unsigned>(value(), 4000000, "--baud");
            if (!qvsim::isSupportedBaud(o.baud))
                throw BadOption{"--baud " + std::to_string(o.baud) +
                                " is not supported (1200 to 115200, standard rates)"};
        } else if (arg == "--version-text") {
            o.version = value();
            if (o.version.size() > qvsim::kVersionSize)
                throw BadOption{"--version-text is " + std::to_string(o.version.size()) +
                                " bytes; at most 48 fit"};
        } else if (arg == "--base") {
            o.base = triple(value(), "--base");
        } else if (arg == "--ambient") {
            o.ambient = triple(value(), "--ambient");
        } else if (arg == "--noise") {
            o.noise = number<std::uint16_t>(value(), 65535, "--noise");
        } else if (arg == "--saturate") {
            o.saturation = number<std::uint16_t>(value(), 65535, "--saturate");
        } else if (arg == "--gamma") {
            o.gamma = parseGamma(value());
        } else if (arg == "--factors") {
            c.factors = triple(value(), "--factors");
        } else if (arg == "--seed") {
            o.seed = number<std::uint64_t>(value(), UINT64_MAX, "--seed");
        } else if (arg == "--fault") {
            std::string error;
            const auto f = qvsim::Fault::parse(value(), &error);
            if (!f)
                throw BadOption{"--fault: " + error};
            c.faults.push_back(*f);
        } else if (arg == "--log") {
            o.logFile = value();
            if (o.logFile.empty())
                throw BadOption{"--log needs a FILE"};
        } else {
            throw BadOption{"unknown option '" + arg + "'"};
        }
    }
    if (noTcp)
        o.tcp = false;
    if (!c.help && !c.version && !o.tcp && !o.pty && o.serialDevice.empty())
        throw BadOption{"--no-tcp leaves nothing to serve; add --pty or --serial"};
    return c;
}

void printLine(std::FILE *to, const std::string &line) {
    std::fputs((line + "\n").c_str(), to);
    std::fflush(to);
}

} // namespace

int main(int argc, char **argv) {
    Config config;
    try {
        config = parseArguments(argc, argv);
    } catch (const BadOption &bad) {
        std::fprintf(stderr, "%s: %s (see --help)\n", kProgram, bad.message.c_str());
        return 2;
    }
    if (config.help) {
        std::fputs(usage().c_str(), stdout);
        return 0;
    }
    if (config.version) {
        std::printf("%s 1.0\n", kProgram);
        return 0;
    }

    // Blocked before any thread starts, so that every signal reaches the signalfd alone.
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &mask, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    const int sigFd = signalfd(-1, &mask, SFD_CLOEXEC | SFD_NONBLOCK);
    if (sigFd < 0) {
        std::perror("quorvat-sensorsim: signalfd");
        return 1;
    }

    QCoreApplication app(argc, argv);
    config.options.onStatus = [](const std::string &line) { printLine(stdout, line); };
    if (config.verbose)
        config.options.onEvent = [](const std::string &line) { printLine(stderr, line); };

    qvsim::Simulator sim(config.options);
    if (config.factors)
        sim.setFactors(*config.factors);
    for (const auto &f : config.faults)
        sim.addFault(f);
    std::string error;
    if (!sim.start(&error)) {
        std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
        ::close(sigFd);
        return 1;
    }
    for (const auto &f : config.faults)
        printLine(stdout, "fault: " + f.describe());

    QSocketNotifier notifier(sigFd, QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [&] {
        signalfd_siginfo info{};
        while (::read(sigFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        }
        QCoreApplication::quit();
    });
    app.exec();

    sim.stop();
    ::close(sigFd);
    return 0;
}
