#include "fuzz/support.h"

#include "app/callbacks.h"
#include "platform/userint.h"
#include "platform/utility.h"
#include "protocol/codec.h"
#include "shell/state.h"

#include <QByteArray>
#include <QDir>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fuzzsupport {

using namespace qv;

namespace {
long popups = 0;
} // namespace

const std::string &scratchDir() {
    // Never destroyed: the exit handler that removes the folder still needs its name.
    static const std::string *const dir = [] {
        auto *path = new std::string(QDir::tempPath().toStdString() + "/quorvat-fuzz-XXXXXX");
        if (!::mkdtemp(path->data()))
            fail("cannot make a scratch folder");
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(scratchDir(), ignored);
        });
        return path;
    }();
    return *dir;
}

void startProgram() {
    static bool done = false;
    if (done)
        return;
    done = true;
    static int argc = 1;
    static char name[] = "quorvat-fuzz";
    static char *argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (rt::InitRunTimeEngine(argc, argv) != 1)
        fail("the run-time did not start");
    InstallCallbackTable();
    // Failures raise pop-ups by the thousand here; each is counted and answered as OK.
    rt::SetPopupHandler([](rt::PopupKind, const std::string &, const std::string &) {
        ++popups;
        return 1;
    });
    panel = rt::LoadPanel(0, kResourceFile, 2);
    interfacepanel = rt::LoadPanel(0, kResourceFile, 1);
    if (panel < 0 || interfacepanel < 0)
        fail(rt::LastResourceError());
    rt::DisplayPanel(panel);
    // The sizes start-up sets before anything talks to the sensor.
    anzpara = 202;
    anzframe = 16;
    anzdata = 16;
    qv::sync = 85;
    target = RAM;
    qv::poll = 0;
    // The address history stays in this process's scratch folder.
    const std::string history = scratchDir() + "/" + kHistoryFileName;
    rt::CopyText(ipComboBoxFileName, history.c_str());
}

long popupCount() {
    return popups;
}

double now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void fail(const char *what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

bool readExactly(int fd, std::size_t n) {
    unsigned char buffer[64];
    while (n > 0) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 3000) <= 0)
            return false;
        const ssize_t got = ::read(fd, buffer, std::min(n, sizeof buffer));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

void writeAll(int fd, const std::uint8_t *data, std::size_t n) {
    while (n > 0) {
        ssize_t put = ::send(fd, data, n, MSG_NOSIGNAL);
        if (put < 0 && errno == ENOTSOCK)
            put = ::write(fd, data, n);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return;
        data += put;
        n -= static_cast<std::size_t>(put);
    }
}

} // namespace fuzzsupport

// The system's font library keeps caches that LeakSanitizer reports once the first text has
// been laid out; they are not ours and do not grow.
// A smaller quarantine than the default 256 MB: freed memory is still kept back long enough to
// catch a use after free within an input, and the fuzzers stay far from libFuzzer's memory limit
// on a machine they share.
extern "C" const char *__asan_default_options() {
    return "quarantine_size_mb=64";
}

// Leaks are looked for after every input; at exit the program's panels and combo box are still
// in use by design (the program frees them with its application object), so no check there.
extern "C" const char *__lsan_default_options() {
    return "leak_check_at_exit=0";
}

extern "C" const char *__lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
