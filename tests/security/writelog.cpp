// Preloaded into the program under test: records every path the process opens for writing,
// creates, renames or makes a folder of, a line each, to the file QUORVAT_WRITELOG names. Only
// calls that succeed count (a mkdir of a folder that is there writes nothing).
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

int logFd() {
    static int fd = -2;
    if (fd == -2) {
        const char *path = getenv("QUORVAT_WRITELOG");
        fd = path ? static_cast<int>(syscall(SYS_openat, AT_FDCWD, path,
                                             O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600))
                  : -1;
    }
    return fd;
}

// One write a line (the C library's, which is not wrapped), appended whole.
void record(const char *what, const char *path) {
    const int fd = logFd();
    if (fd >= 0 && path)
        dprintf(fd, "%s %s\n", what, path);
}

bool writes(int flags) {
    return (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND)) != 0;
}

// Calls the C library's own function of the wrapper passed first (its type) with `args`; when it
// succeeds and `writing` holds, records `path` as `what`.
template <typename F, typename... A>
auto call(F, const char *name, bool writing, const char *what, const char *path, A... args) {
    const auto r = reinterpret_cast<F>(dlsym(RTLD_NEXT, name))(args...);
    if (writing && r >= 0) // a descriptor, or 0
        record(what, path);
    return r;
}
// A wrapper of the C library's `name` with these parameters that records `path`.
#define QV_WRAP(R, name, params, writing, what, path, ...)                                         \
    R name params {                                                                                \
        return call(&name, #name, writing, what, path, __VA_ARGS__);                               \
    }

// open and open64, whose mode comes only with these flags. An unnamed file made in a folder
// (O_TMPFILE) gets a name only through a later link.
#define QV_WRAP_OPEN(name)                                                                         \
    int name(const char *p, int f, ...) {                                                          \
        mode_t mode = 0;                                                                           \
        if (f & (O_CREAT | O_TMPFILE)) {                                                           \
            va_list ap;                                                                            \
            va_start(ap, f);                                                                       \
            mode = static_cast<mode_t>(va_arg(ap, int));                                           \
            va_end(ap);                                                                            \
        }                                                                                          \
        return call(&name, #name, writes(f), (f & O_TMPFILE) == O_TMPFILE ? "tmpfile" : "open", p, \
                    p, f, mode);                                                                   \
    }

} // namespace

extern "C" {

QV_WRAP_OPEN(open)
QV_WRAP_OPEN(open64)

// The entry points a run of the program reaches (the fortified open from the C library's
// callers built with _FORTIFY_SOURCE; rename when a saved file replaces one that is there).
QV_WRAP(int, __open_2, (const char *p, int f), writes(f), "open", p, p, f)
QV_WRAP(int, rename, (const char *from, const char *to), true, "rename", to, from, to)
// A rename that never replaces (the record of an earlier version put aside).
QV_WRAP(int, renameat2, (int fromFd, const char *from, int toFd, const char *to, unsigned flags),
        true, "rename", to, fromFd, from, toFd, to, flags)
// The program's links name the whole path.
QV_WRAP(int, linkat, (int fd, const char *from, int to_fd, const char *to, int flags), true, "link",
        to, fd, from, to_fd, to, flags)
QV_WRAP(int, mkdir, (const char *p, mode_t m), true, "mkdir", p, p, m)
}
