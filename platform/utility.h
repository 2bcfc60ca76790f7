// Utility part of our run-time: the clock, the program's directory, byte-mode files and the
// string helpers the program uses.
#pragma once

#include <cstddef>
#include <ctime>

namespace qv::rt {

// Seconds on a monotonic clock, as a double.
double Timer();

// The directory that holds the program, with native separators and no trailing separator.
// Cut to fit and NUL-terminated. Returns 0, or a negative status when it does not fit.
int GetProjectDirText(char *dir, std::size_t size);
template <std::size_t N> int GetProjectDir(char (&dir)[N]) {
    return GetProjectDirText(dir, N);
}
// Tests run the program against a scratch directory instead of the build folder.
void SetProjectDirForTesting(const char *dir);

// 1 when new files can be made in `dir`, 0 when not. Tried for real, since permission bits do
// not tell: root writes through them, and a read-only mount refuses everyone. The probe is the
// file `probeName`, created there and removed again: name one the program makes there anyway.
// When a file of that name is present already, it is left alone and a uniquely named file is
// tried instead.
int DirectoryIsWritable(const char *dir, const char *probeName);

constexpr int kTextCut = -4; // GetUserDataDirText: the path does not fit
// The user's own data directory for this program (Qt's AppDataLocation: on Linux
// $XDG_DATA_HOME/<program name>, by default ~/.local/share/<program name>), created when missing.
// Needs the run-time started, which gives the program's name. Native separators, no trailing
// separator, cut to fit and NUL-terminated. Returns 0; kFileError when it cannot be created
// (`dir` still names it), kTextCut when the path does not fit.
int GetUserDataDirText(char *dir, std::size_t size);
template <std::size_t N> int GetUserDataDir(char (&dir)[N]) {
    return GetUserDataDirText(dir, N);
}

// `when` as local time, and how far that is ahead of UTC in seconds (negative west of it).
void LocalTime(std::time_t when, std::tm *local, long *utcOffsetSeconds);

// The native path separator as a one-character text ("\\" on Windows, "/" elsewhere).
const char *PathSeparator();

// ---- Files, in byte mode. Handles are small positive integers. ----
constexpr int kFileError = -1; // general failure (open, read, write)
constexpr int kFileEnd = -2;   // ReadLine: end of file before any byte
constexpr int kFileHandleInvalid = -3;

constexpr int VAL_READ_ONLY = 1;
constexpr int VAL_WRITE_ONLY = 2;
constexpr int VAL_READ_WRITE = 3;
constexpr int VAL_TRUNCATE = 0; // open for writing: empty the file
constexpr int VAL_APPEND = 1;   // open for writing: write at the end
// Open for writing: a new file, which takes the old one's place in one step when FileClose
// succeeds, on every platform. Until then, and if any write or the close fails, the old file
// stays as it was. The new bytes go to a temporary file beside it, which is removed on failure.
constexpr int VAL_REPLACE = 2;
constexpr int VAL_BINARY = 0; // no line-end translation (the only mode built)

// 1 and *size = the file's size when it exists, 0 when it does not, kFileError when it cannot
// be examined.
int GetFileInfo(const char *path, long long *size);
// Opens `path`; writing creates the file. Returns a handle or kFileError.
int FileOpen(const char *path, int mode, int action, int format);
int FileClose(int handle);
// 0 on success, kFileError when the file could not be removed.
int FileDelete(const char *path);

// Reads one line of at most `maxChars` bytes into `buffer` (which holds maxChars + 1) and ends
// it with NUL. Stops at a line feed, which is dropped with the rest of a longer line. Returns
// the number of bytes stored, kFileEnd at the end of the file, or kFileError.
int ReadLine(int handle, char *buffer, int maxChars);
// Writes `count` bytes of `buffer` (all of it up to its NUL when count is -1), then a line
// feed. Returns the bytes written including the line feed, or kFileError.
int WriteLine(int handle, const char *buffer, int count);

constexpr int kFileExists = -5;  // RenameFile: a file of the new name is there
constexpr int kFileRefused = -6; // AppendToSharedFile: its check refused the file

// Gives the file `from` the name `to` in one step, never replacing a file of that name.
// Returns 0, kFileExists, or kFileError.
int RenameFile(const char *from, const char *to);

// What AppendToSharedFile's check makes of a file's first line.
enum class FirstLine {
    Append,
    Refuse,   // the file is left as it is, and kFileRefused returned
    MovedAway // the check renamed the file: the append starts again on the one now at the path
};
// Called under the lock with the file's path and its first line, without its line end (cut to
// 1023 bytes), and the caller's `data`.
using FirstLineCheck = FirstLine (*)(const char *path, const char *firstLine, void *data);

// Appends `text` to the file `path` (made when missing) as one step, for a file that several
// programs append lines to, other instances of this one among them:
// - under an exclusive lock on the file itself (flock; LockFileEx on Windows), held until done,
//   so that appends never interleave and each sees the file as the last one left it;
// - `header` first when the file is new or empty (seen under the lock: only one writer writes
//   it); `lineEnd` first when its last byte is not a line feed, so that a last line without its
//   end (edited by hand, say) is ended rather than glued to;
// - `check`, when given, first sees the first line of a file that holds one (see FirstLine);
// - a file that another program renamed while this one waited for its lock is left alone: the
//   append goes to the file now at `path`, so nothing is added to a file renamed away;
// - when a write fails (a full disk) the file is cut back to the size it had, so that it holds
//   whole lines only. A file made here stays after that, empty: another program may be waiting
//   on its lock.
// `header`, `lineEnd` and `check` may be null. Returns 0, kFileRefused, or kFileError.
int AppendToSharedFile(const char *path, const char *header, const char *lineEnd, const char *text,
                       FirstLineCheck check = nullptr, void *data = nullptr);

// This process's ID: instances of the program running at once have different ones.
long ProcessId();

// ---- Strings. ----
// Bounded copies into fixed-size texts: the result is cut to fit and always NUL-terminated.
// They return false when the text had to be cut.
bool CopyTextBounded(char *dest, std::size_t size, const char *source);
bool AppendTextBounded(char *dest, std::size_t size, const char *source);
template <std::size_t N> bool CopyText(char (&dest)[N], const char *source) {
    return CopyTextBounded(dest, N, source);
}
template <std::size_t N> bool AppendText(char (&dest)[N], const char *source) {
    return AppendTextBounded(dest, N, source);
}

// Upper-cases a NUL-terminated text in place (ASCII letters only; other bytes pass unchanged).
void StringUpperCase(char *text);
// Copies `count` bytes of `source` from `sourceIndex` to `dest` at `destIndex` and ends the
// copy with NUL. The caller sizes `dest`; overlapping areas are handled.
void CopyString(char *dest, int destIndex, const char *source, int sourceIndex, int count);

} // namespace qv::rt
