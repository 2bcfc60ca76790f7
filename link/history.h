// The address history file: up to ten addresses, newest first, one fixed-size record each.
// A record is 101 bytes: the address and a NUL in bytes 0 to 99 (every byte after the text is
// 0), then a line feed. No header, nothing after the last record.
#pragma once

#include <cstddef>

namespace qv {

constexpr int kHistoryRecordBytes = 101;
constexpr int kHistoryTextBytes = 100; // the address and its NUL
constexpr int kHistoryMaxLength = kHistoryTextBytes - 1;
constexpr int kHistoryMaxEntries = 10; // as many as the writer ever keeps

struct IpHistory {
    int count = 0;
    char entries[kHistoryMaxEntries][kHistoryTextBytes] = {};
};

// Decodes the records in `data`, in file order, into `history` (emptied first). Only whole
// records count, and only the first kHistoryMaxEntries of them. Each record is read within its
// own 101 bytes: its text ends at the first NUL or line feed. A record with an empty text, or
// with no end in its 100 text bytes (an address that would not fit the field), is skipped.
void ParseIpHistory(const unsigned char *data, std::size_t size, IpHistory *history);

// Reads the history file at `path` into `history` (emptied first); never reads more than the
// first kHistoryMaxEntries records. Returns 1 when the file was read, 0 when there is none, and
// a negative status when it exists but cannot be read (history then stays empty).
int ReadIpHistory(const char *path, IpHistory *history);

// Replaces the file at `path` by the entries of `history`, each as one record, in one step: a
// failed write leaves the old file as it was. An entry without a NUL in its 100 bytes is left
// out, never cut. An empty path touches no file. Returns 0, or a negative status when the file
// could not be replaced.
int WriteIpHistory(const char *path, const IpHistory &history);

} // namespace qv
