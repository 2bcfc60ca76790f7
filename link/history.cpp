#include "link/history.h"

#include "platform/utility.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace qv {

using namespace rt;

namespace {
constexpr std::size_t kMaxFileBytes =
    static_cast<std::size_t>(kHistoryMaxEntries) * kHistoryRecordBytes;
} // namespace

void ParseIpHistory(const unsigned char *data, std::size_t size, IpHistory *history) {
    if (!history)
        return;
    *history = IpHistory{};
    if (!data)
        return;
    const std::size_t records =
        std::min(size / kHistoryRecordBytes, static_cast<std::size_t>(kHistoryMaxEntries));
    for (std::size_t r = 0; r < records; ++r) {
        const unsigned char *record = data + r * kHistoryRecordBytes;
        std::size_t length = 0;
        while (length < kHistoryTextBytes && record[length] != '\0' && record[length] != '\n')
            ++length;
        // 100 bytes without an end: the writer never makes such a record, and the address
        // field holds 99 characters, so any of it we kept would be a wrong address.
        if (length == 0 || length == kHistoryTextBytes)
            continue;
        char *entry = history->entries[history->count++];
        std::memcpy(entry, record, length);
        entry[length] = '\0';
    }
}

int ReadIpHistory(const char *path, IpHistory *history) {
    if (!history)
        return kFileError;
    *history = IpHistory{};
    long long size = 0;
    const int info = GetFileInfo(path, &size);
    if (info <= 0)
        return info; // none, or not a plain file
    // Read by bytes, not by lines: a record without its line feed must not pull the ones after
    // it, or the rest of a large file, into one line.
    std::FILE *file = std::fopen(path, "rb");
    if (!file)
        return kFileError;
    unsigned char bytes[kMaxFileBytes];
    const std::size_t got = std::fread(bytes, 1, sizeof bytes, file);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed)
        return kFileError;
    ParseIpHistory(bytes, got, history);
    return 1;
}

int WriteIpHistory(const char *path, const IpHistory &history) {
    // No path, no history: start-up has said so once already.
    if (!path || !*path)
        return kFileError;
    const int handle = FileOpen(path, VAL_WRITE_ONLY, VAL_REPLACE, VAL_BINARY);
    if (handle < 0)
        return kFileError;
    bool ok = true;
    const int count = std::clamp(history.count, 0, kHistoryMaxEntries);
    for (int i = 0; i < count && ok; ++i) {
        const char *entry = history.entries[i];
        const auto length =
            static_cast<std::size_t>(std::find(entry, entry + kHistoryTextBytes, '\0') - entry);
        if (length == kHistoryTextBytes)
            continue;
        char record[kHistoryTextBytes] = {};
        std::memcpy(record, entry, length);
        ok = WriteLine(handle, record, kHistoryTextBytes) == kHistoryRecordBytes;
    }
    // The new file takes the old one's place only if every record went to disk.
    return FileClose(handle) == 0 && ok ? 0 : kFileError;
}

} // namespace qv
