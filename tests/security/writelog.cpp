// Preloaded into the program under test: records every path the process opens for writing,
// creates, renames or makes a directory of, one line each, to the file named by
// QUORVAT_WRITELOG. Only calls that succeed are recorded: a mkdir of a folder that is there
// already writes nothing. Everything else passes straight through to the C library.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
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

void record(const char *what, int dirfd, const char *path) {
    const int fd = logFd();
    if (fd < 0 || !path)
        return;
    char line[4200];
    char where[64] = "";
    if (path[0] != '/' && dirfd != AT_FDCWD)
        snprintf(where, sizeof where, "<fd %d>/", dirfd);
    const int n = snprintf(line, sizeof line, "%s %s%s\n", what, where, path);
    if (n > 0)
        syscall(SYS_write, fd, line,
                static_cast<size_t>(n < int(sizeof line) ? n : sizeof line - 1));
}

bool writes(int flags) {
    return (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND)) != 0;
}

// An unnamed file made in a folder (O_TMPFILE) gets a name only through a later link.
const char *kindOf(int flags) {
    return (flags & O_TMPFILE) == O_TMPFILE ? "tmpfile" : "open";
}

template <typename F> F next(const char *name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" {

#define QV_OPEN(name)                                                                              \
    int name(const char *path, int flags, ...) {                                                   \
        mode_t mode = 0;                                                                           \
        if (flags & (O_CREAT | O_TMPFILE)) {                                                       \
            va_list ap;                                                                            \
            va_start(ap, flags);                                                                   \
            mode = static_cast<mode_t>(va_arg(ap, int));                                           \
            va_end(ap);                                                                            \
        }                                                                                          \
        const int fd = next<int (*)(const char *, int, ...)>(#name)(path, flags, mode);            \
        if (fd >= 0 && writes(flags))                                                              \
            record(kindOf(flags), AT_FDCWD, path);                                                 \
        return fd;                                                                                 \
    }
QV_OPEN(open)
QV_OPEN(open64)

#define QV_OPENAT(name)                                                                            \
    int name(int dirfd, const char *path, int flags, ...) {                                        \
        mode_t mode = 0;                                                                           \
        if (flags & (O_CREAT | O_TMPFILE)) {                                                       \
            va_list ap;                                                                            \
            va_start(ap, flags);                                                                   \
            mode = static_cast<mode_t>(va_arg(ap, int));                                           \
            va_end(ap);                                                                            \
        }                                                                                          \
        const int fd =                                                                             \
            next<int (*)(int, const char *, int, ...)>(#name)(dirfd, path, flags, mode);           \
        if (fd >= 0 && writes(flags))                                                              \
            record(kindOf(flags), dirfd, path);                                                    \
        return fd;                                                                                 \
    }
QV_OPENAT(openat)
QV_OPENAT(openat64)

// The fortified entry points the C library uses when the caller was built with
// _FORTIFY_SOURCE, and the rest of the ways to create or replace a file.
int __open_2(const char *path, int flags) {
    const int fd = next<int (*)(const char *, int)>("__open_2")(path, flags);
    if (fd >= 0 && writes(flags))
        record("open", AT_FDCWD, path);
    return fd;
}
int __open64_2(const char *path, int flags) {
    const int fd = next<int (*)(const char *, int)>("__open64_2")(path, flags);
    if (fd >= 0 && writes(flags))
        record("open", AT_FDCWD, path);
    return fd;
}
int __openat_2(int dirfd, const char *path, int flags) {
    const int fd = next<int (*)(int, const char *, int)>("__openat_2")(dirfd, path, flags);
    if (fd >= 0 && writes(flags))
        record("open", dirfd, path);
    return fd;
}
int __openat64_2(int dirfd, const char *path, int flags) {
    const int fd = next<int (*)(int, const char *, int)>("__openat64_2")(dirfd, path, flags);
    if (fd >= 0 && writes(flags))
        record("open", dirfd, path);
    return fd;
}
int creat(const char *path, mode_t mode) {
    const int fd = next<int (*)(const char *, mode_t)>("creat")(path, mode);
    if (fd >= 0)
        record("open", AT_FDCWD, path);
    return fd;
}
int creat64(const char *path, mode_t mode) {
    const int fd = next<int (*)(const char *, mode_t)>("creat64")(path, mode);
    if (fd >= 0)
        record("open", AT_FDCWD, path);
    return fd;
}
FILE *fopen(const char *path, const char *mode) {
    FILE *f = next<FILE *(*)(const char *, const char *)>("fopen")(path, mode);
    if (f && mode && strpbrk(mode, "wa+"))
        record("open", AT_FDCWD, path);
    return f;
}
FILE *fopen64(const char *path, const char *mode) {
    FILE *f = next<FILE *(*)(const char *, const char *)>("fopen64")(path, mode);
    if (f && mode && strpbrk(mode, "wa+"))
        record("open", AT_FDCWD, path);
    return f;
}
int rename(const char *from, const char *to) {
    const int r = next<int (*)(const char *, const char *)>("rename")(from, to);
    if (r == 0)
        record("rename", AT_FDCWD, to);
    return r;
}
int renameat(int fromfd, const char *from, int tofd, const char *to) {
    const int r =
        next<int (*)(int, const char *, int, const char *)>("renameat")(fromfd, from, tofd, to);
    if (r == 0)
        record("rename", tofd, to);
    return r;
}
int renameat2(int fromfd, const char *from, int tofd, const char *to, unsigned flags) {
    const int r = next<int (*)(int, const char *, int, const char *, unsigned)>("renameat2")(
        fromfd, from, tofd, to, flags);
    if (r == 0)
        record("rename", tofd, to);
    return r;
}
int linkat(int fromfd, const char *from, int tofd, const char *to, int flags) {
    const int r = next<int (*)(int, const char *, int, const char *, int)>("linkat")(
        fromfd, from, tofd, to, flags);
    if (r == 0)
        record("link", tofd, to);
    return r;
}
int mkdir(const char *path, mode_t mode) {
    const int r = next<int (*)(const char *, mode_t)>("mkdir")(path, mode);
    if (r == 0)
        record("mkdir", AT_FDCWD, path);
    return r;
}
}
