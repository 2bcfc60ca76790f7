// The settings file: named values a program keeps between runs, in one INI file (Qt's QSettings),
// keys "group/name". One file at a time, opened by its path. Every put is written through at
// once, through a temporary file beside it and a lock file ("<file>.lock"), so that a failed
// write leaves the file as it was and two instances do not lose each other's values. Numbers are
// written without the locale ("1234", never "1.234"); a text is bytes, each kept as the
// character of its code, as the panels show them.
#pragma once

#include <cstddef>

namespace qv::rt {

constexpr int kSettingsDamaged = -5; // not a settings file, or a value of the wrong kind
constexpr int kSettingsNotKept = -6; // no file open, or the open one is ignored

// Opens the settings file at `path`; it is made by the first put, in a folder that must exist.
// A null or empty path keeps nothing. Returns 0, also when the file is not there yet. When the
// file cannot be read (kFileError) or is not a settings file (kSettingsDamaged) it is ignored
// for as long as it stays open: nothing is read from it and nothing written to it, so that a
// file someone edited by hand is not lost. Closes the file opened before.
int SettingsOpen(const char *path);
void SettingsClose();
// The path of the open settings file as it was given, for messages; empty when none is open.
const char *SettingsFile();

// 1 with the value when `key` holds a whole number, 0 when it holds nothing (the value is left
// as it was), kSettingsDamaged when it holds something else, kSettingsNotKept when no file is
// open or it is ignored.
int SettingsGetInt(const char *key, int *value);
// As SettingsGetInt for a text, which is cut to fit and NUL-terminated; kTextCut (utility.h)
// when it had to be cut.
int SettingsGetTextBounded(const char *key, char *text, std::size_t size);
template <std::size_t N> int SettingsGetText(const char *key, char (&text)[N]) {
    return SettingsGetTextBounded(key, text, N);
}

// Keeps `value` under `key`, in the file at once. Returns 0; kFileError when the file could not
// be written (it stays as it was); kSettingsNotKept when no file is open or it is ignored.
int SettingsPutInt(const char *key, int value);
int SettingsPutText(const char *key, const char *text);

} // namespace qv::rt
