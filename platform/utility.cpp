#include "platform/utility.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX // std::min above, not the header's macro
#endif
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qv::rt {

double Timer() {
    using namespace std::chrono;
    static const auto origin = steady_clock::now();
    return duration<double>(steady_clock::now() - origin).count();
}

namespace {
QString &projectDirOverride() {
    static QString dir;
    return dir;
}

// Copies the Latin-1 bytes of `text` into dest, cut to fit; returns false when cut.
bool copyBounded(const QByteArray &text, char *dest, std::size_t size) {
    if (size == 0)
        return false;
    const std::size_t n = std::min(static_cast<std::size_t>(text.size()), size - 1);
    std::memcpy(dest, text.constData(), n);
    dest[n] = '\0';
    return n == static_cast<std::size_t>(text.size());
}
} // namespace

void SetProjectDirForTesting(const char *dir) {
    projectDirOverride() = dir ? QString::fromLocal8Bit(dir) : QString();
}

int GetProjectDirText(char *dir, std::size_t size) {
    QString path = projectDirOverride();
    if (path.isEmpty())
        path = QCoreApplication::instance() ? QCoreApplication::applicationDirPath()
                                            : QDir::currentPath();
    const QByteArray bytes = QDir::toNativeSeparators(QDir::cleanPath(path)).toLocal8Bit();
    return copyBounded(bytes, dir, size) ? 0 : kFileError;
}

int DirectoryIsWritable(const char *dir, const char *probeName) {
    if (!dir || !*dir || !probeName || !*probeName)
        return 0;
    const QString path =
        QDir(QString::fromLocal8Bit(dir)).filePath(QString::fromLocal8Bit(probeName));
    QFile probe(path);
    if (probe.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        probe.close();
        probe.remove();
        return 1;
    }
    if (!QFileInfo::exists(path))
        return 0;
    // Someone else's file, or one left by an interrupted write: not ours to touch.
    QTemporaryFile other(path + QStringLiteral(".XXXXXX"));
    return other.open() ? 1 : 0;
}

int GetUserDataDirText(char *dir, std::size_t size) {
    const QString path = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    const bool made = !path.isEmpty() && QDir().mkpath(path);
    const QByteArray bytes = QDir::toNativeSeparators(QDir::cleanPath(path)).toLocal8Bit();
    const bool fits = copyBounded(bytes, dir, size);
    if (!made)
        return kFileError;
    return fits ? 0 : kTextCut;
}

void LocalTime(std::time_t when, std::tm *local, long *utcOffsetSeconds) {
#ifdef _WIN32
    localtime_s(local, &when);
    std::tm copy = *local;
    *utcOffsetSeconds = static_cast<long>(_mkgmtime(&copy) - when);
#else
    localtime_r(&when, local);
    *utcOffsetSeconds = local->tm_gmtoff;
#endif
}

const char *PathSeparator() {
#ifdef _WIN32
    return "\\";
#else
    return "/";
#endif
}

namespace {
struct OpenFile {
    std::unique_ptr<QFileDevice> device;
    bool failed = false; // a write failed: a replacing file must not take the old one's place
};

std::map<int, OpenFile> &openFiles() {
    static std::map<int, OpenFile> files;
    return files;
}

OpenFile *openFile(int handle) {
    auto it = openFiles().find(handle);
    return it == openFiles().end() ? nullptr : &it->second;
}

QFileDevice *fileFor(int handle) {
    OpenFile *f = openFile(handle);
    return f ? f->device.get() : nullptr;
}
} // namespace

int GetFileInfo(const char *path, long long *size) {
    if (!path || !size)
        return kFileError;
    const QFileInfo info(QString::fromLocal8Bit(path));
    if (!info.exists()) {
        *size = 0;
        return 0;
    }
    if (!info.isFile())
        return kFileError;
    *size = info.size();
    return 1;
}

int FileOpen(const char *path, int mode, int action, int format) {
    if (!path || format != VAL_BINARY)
        return kFileError;
    QIODevice::OpenMode flags;
    std::unique_ptr<QFileDevice> file;
    switch (mode) {
    case VAL_READ_ONLY:
        flags = QIODevice::ReadOnly;
        break;
    case VAL_WRITE_ONLY:
        if (action == VAL_REPLACE) {
            // QSaveFile writes beside the file, syncs, and puts the new file in its place in
            // one step, also where the system's plain rename refuses an existing target.
            file = std::make_unique<QSaveFile>(QString::fromLocal8Bit(path));
            flags = QIODevice::WriteOnly;
            break;
        }
        flags =
            QIODevice::WriteOnly | (action == VAL_APPEND ? QIODevice::Append : QIODevice::Truncate);
        break;
    case VAL_READ_WRITE:
        flags = QIODevice::ReadWrite |
                (action == VAL_APPEND ? QIODevice::Append : QIODevice::OpenModeFlag{});
        break;
    default:
        return kFileError;
    }
    if (!file)
        file = std::make_unique<QFile>(QString::fromLocal8Bit(path));
    if (!file->open(flags))
        return kFileError;
    int handle = 1;
    while (openFiles().count(handle))
        ++handle;
    openFiles()[handle] = OpenFile{std::move(file)};
    return handle;
}

int FileClose(int handle) {
    auto it = openFiles().find(handle);
    if (it == openFiles().end())
        return kFileHandleInvalid;
    // Flushed here, so that a write that fails only now (a full disk) is seen: a new file
    // replacing an old one is then dropped, and the old one stays whole.
    QFileDevice &file = *it->second.device;
    const bool ok = !it->second.failed && file.flush() && file.error() == QFileDevice::NoError;
    bool kept = ok;
    if (auto *replacing = dynamic_cast<QSaveFile *>(&file)) {
        if (!ok)
            replacing->cancelWriting();
        kept = replacing->commit() && ok;
    } else {
        file.close();
    }
    openFiles().erase(it);
    return kept ? 0 : kFileError;
}

int FileDelete(const char *path) {
    if (!path)
        return kFileError;
    return QFile::remove(QString::fromLocal8Bit(path)) ? 0 : kFileError;
}

namespace {
// What AppendToSharedFile writes, once it has seen the file's size and its last byte.
std::string appended(long long size, char last, const char *header, const char *lineEnd,
                     const char *text) {
    std::string bytes;
    if (size == 0 && header)
        bytes += header;
    else if (size > 0 && last != '\n' && lineEnd)
        bytes += lineEnd;
    return bytes + text;
}

constexpr std::size_t kFirstLineBytes = 1024;
// Rounds of an append whose file is renamed away each time before it gets the lock: only
// programs that rename it again and again reach the limit.
constexpr int kAppendRounds = 64;

// The first line of the `n` bytes at the head of a file, without its line end, for a check.
void firstLineOf(const char *head, std::size_t n, char (&line)[kFirstLineBytes]) {
    std::size_t end = static_cast<std::size_t>(std::find(head, head + n, '\n') - head);
    if (end < n && end > 0 && head[end - 1] == '\r')
        --end;
    end = std::min(end, sizeof line - 1);
    for (std::size_t i = 0; i < end; ++i)
        line[i] = head[i] == '\0' ? '?' : head[i]; // a NUL must not end the text early
    line[end] = '\0';
}
} // namespace

#ifdef _WIN32
namespace {
bool sameFile(HANDLE file, const std::wstring &name) {
    const HANDLE named =
        CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (named == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION a{}, b{};
    const bool same = GetFileInformationByHandle(file, &a) != 0 &&
                      GetFileInformationByHandle(named, &b) != 0 &&
                      a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
                      a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
    CloseHandle(named);
    return same;
}

OVERLAPPED at(long long offset) {
    OVERLAPPED o{};
    o.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
    o.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return o;
}
} // namespace

int AppendToSharedFile(const char *path, const char *header, const char *lineEnd, const char *text,
                       FirstLineCheck check, void *data) {
    if (!path || !text)
        return kFileError;
    const std::wstring name = QString::fromLocal8Bit(path).toStdWString();
    for (int round = 0; round < kAppendRounds; ++round) {
        // FILE_SHARE_DELETE: a check may rename the file while it is open here, or in another
        // program waiting for the lock.
        const HANDLE file = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return kFileError;
        // Windows locks are mandatory: the lock is on one byte no file reaches, so that readers
        // of the file (a spreadsheet) are never refused while another program appends.
        OVERLAPPED lockAt{};
        lockAt.Offset = MAXDWORD - 1;
        lockAt.OffsetHigh = 0x7FFFFFFF;
        const bool locked = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &lockAt) != 0;
        const auto done = [&](int status) {
            if (locked)
                UnlockFileEx(file, 0, 1, 0, &lockAt);
            CloseHandle(file);
            return status;
        };
        if (locked && !sameFile(file, name)) {
            done(0); // renamed away while this one waited
            continue;
        }
        LARGE_INTEGER size{};
        bool ok = locked && GetFileSizeEx(file, &size) != 0;
        if (ok && check && size.QuadPart > 0) {
            char head[kFirstLineBytes], first[kFirstLineBytes];
            OVERLAPPED o = at(0);
            DWORD got = 0;
            ok = ReadFile(file, head, sizeof head, &got, &o) != 0 && got > 0;
            if (ok) {
                firstLineOf(head, got, first);
                const FirstLine verdict = check(path, first, data);
                if (verdict == FirstLine::Refuse)
                    return done(kFileRefused);
                if (verdict == FirstLine::MovedAway) {
                    done(0);
                    continue;
                }
            }
        }
        char last = '\n';
        if (ok && size.QuadPart > 0) {
            OVERLAPPED o = at(size.QuadPart - 1);
            DWORD got = 0;
            ok = ReadFile(file, &last, 1, &got, &o) != 0 && got == 1;
        }
        const std::string bytes = appended(size.QuadPart, last, header, lineEnd, text);
        long long written = 0;
        while (ok && written < static_cast<long long>(bytes.size())) {
            OVERLAPPED o = at(size.QuadPart + written);
            DWORD n = 0;
            ok = WriteFile(file, bytes.data() + written, static_cast<DWORD>(bytes.size() - written),
                           &n, &o) != 0 &&
                 n > 0;
            written += n;
        }
        ok = ok && FlushFileBuffers(file) != 0;
        if (!ok && locked && written > 0 && SetFilePointerEx(file, size, nullptr, FILE_BEGIN))
            SetEndOfFile(file);
        return done(ok ? 0 : kFileError);
    }
    return kFileError;
}

int RenameFile(const char *from, const char *to) {
    if (!from || !to)
        return kFileError;
    const std::wstring a = QString::fromLocal8Bit(from).toStdWString(),
                       b = QString::fromLocal8Bit(to).toStdWString();
    // Without MOVEFILE_REPLACE_EXISTING it never replaces a file.
    if (MoveFileExW(a.c_str(), b.c_str(), 0))
        return 0;
    const DWORD error = GetLastError();
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? kFileExists : kFileError;
}

long ProcessId() {
    return static_cast<long>(GetCurrentProcessId());
}
#else
int AppendToSharedFile(const char *path, const char *header, const char *lineEnd, const char *text,
                       FirstLineCheck check, void *data) {
    if (!path || !text)
        return kFileError;
    for (int round = 0; round < kAppendRounds; ++round) {
        const int fd = ::open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0)
            return kFileError;
        // flock rather than fcntl: its lock belongs to this open file, while fcntl's belongs to
        // the process and goes with the first close of any descriptor of the file. Released by
        // close.
        int locked = -1;
        do
            locked = ::flock(fd, LOCK_EX);
        while (locked != 0 && errno == EINTR);
        struct stat st {};
        bool ok = locked == 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
        // Renamed away (or removed) while this one waited for the lock: its lines go to the file
        // at `path` now.
        struct stat named {};
        if (ok &&
            (::stat(path, &named) != 0 || named.st_dev != st.st_dev || named.st_ino != st.st_ino)) {
            ::close(fd);
            continue;
        }
        const off_t size = ok ? st.st_size : 0;
        if (ok && check && size > 0) {
            char head[kFirstLineBytes], first[kFirstLineBytes];
            const ssize_t n = ::pread(fd, head, sizeof head, 0);
            ok = n > 0;
            if (ok) {
                firstLineOf(head, static_cast<std::size_t>(n), first);
                const FirstLine verdict = check(path, first, data);
                if (verdict != FirstLine::Append) {
                    ::close(fd);
                    if (verdict == FirstLine::Refuse)
                        return kFileRefused;
                    continue;
                }
            }
        }
        char last = '\n';
        if (ok && size > 0)
            ok = ::pread(fd, &last, 1, size - 1) == 1;
        const std::string bytes = appended(size, last, header, lineEnd, text);
        std::size_t written = 0;
        while (ok && written < bytes.size()) {
            const ssize_t n = ::pwrite(fd, bytes.data() + written, bytes.size() - written,
                                       size + static_cast<off_t>(written));
            if (n < 0 && errno == EINTR)
                continue;
            ok = n > 0; // a full disk: a short write, then ENOSPC (EFBIG beyond RLIMIT_FSIZE)
            written += ok ? static_cast<std::size_t>(n) : 0;
        }
        // On the disk before the lock goes: the next writer and the operator rely on it.
        ok = ok && ::fsync(fd) == 0;
        // A failed append takes back what it wrote. Should even that fail, the next append still
        // starts on a line of its own (`lineEnd`).
        if (!ok && locked == 0 && written > 0)
            static_cast<void>(::ftruncate(fd, size) == 0);
        ::close(fd);
        return ok ? 0 : kFileError;
    }
    return kFileError;
}

int RenameFile(const char *from, const char *to) {
    if (!from || !to)
        return kFileError;
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno == EEXIST)
        return kFileExists;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return kFileError;
    // A file system without renameat2's flag (a network share): a second name, then the old
    // one removed. link() never replaces either.
    if (::link(from, to) != 0)
        return errno == EEXIST ? kFileExists : kFileError;
    if (::unlink(from) == 0)
        return 0;
    static_cast<void>(::unlink(to) == 0);
    return kFileError;
}

long ProcessId() {
    return static_cast<long>(::getpid());
}
#endif

int ReadLine(int handle, char *buffer, int maxChars) {
    QFileDevice *file = fileFor(handle);
    if (!file)
        return kFileHandleInvalid;
    if (!buffer || maxChars < 0)
        return kFileError;
    int stored = 0;
    bool any = false;
    char c = 0;
    while (file->getChar(&c)) {
        any = true;
        if (c == '\n')
            break;
        if (stored < maxChars)
            buffer[stored++] = c;
    }
    buffer[stored] = '\0';
    if (!any)
        return file->error() == QFileDevice::NoError ? kFileEnd : kFileError;
    return stored;
}

int WriteLine(int handle, const char *buffer, int count) {
    OpenFile *f = openFile(handle);
    if (!f)
        return kFileHandleInvalid;
    if (!buffer)
        return kFileError;
    const qint64 n = count < 0 ? static_cast<qint64>(std::strlen(buffer)) : count;
    if (f->device->write(buffer, n) != n || !f->device->putChar('\n')) {
        f->failed = true;
        return kFileError;
    }
    return static_cast<int>(n + 1);
}

bool CopyTextBounded(char *dest, std::size_t size, const char *source) {
    if (!dest || size == 0)
        return false;
    dest[0] = '\0';
    return AppendTextBounded(dest, size, source);
}

bool AppendTextBounded(char *dest, std::size_t size, const char *source) {
    if (!dest || size == 0)
        return false;
    const std::size_t used = strnlen(dest, size - 1);
    const std::size_t room = size - 1 - used;
    const std::size_t n = source ? strnlen(source, room + 1) : 0;
    const std::size_t copied = std::min(n, room);
    std::memcpy(dest + used, source ? source : "", copied);
    dest[used + copied] = '\0';
    return copied == n;
}

void StringUpperCase(char *text) {
    if (!text)
        return;
    for (; *text; ++text)
        if (*text >= 'a' && *text <= 'z')
            *text = static_cast<char>(*text - 'a' + 'A');
}

void CopyString(char *dest, int destIndex, const char *source, int sourceIndex, int count) {
    if (!dest || !source || destIndex < 0 || sourceIndex < 0 || count < 0)
        return;
    std::memmove(dest + destIndex, source + sourceIndex, static_cast<std::size_t>(count));
    dest[destIndex + count] = '\0';
}

} // namespace qv::rt
