#pragma once
// File and folder services of the operating system. The only place in the library that
// touches the file system by name. Every name is UTF-8; '\' is accepted as a separator and
// turned into '/' before the system sees it.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The name as the system wants it: every '\' turned into '/'.
std::string KPlatformNativePath(const char* path);

// fopen through the stand-in. A read open ("r..." mode) whose exact name is missing falls
// back to a name that differs only in case within the same folder, since names stored in
// files written on case-insensitive systems often differ in case from the files on disk.
// A read open of a device, a pipe or a socket fails (see KPlatformIsSpecialFile).
FILE* KPlatformOpenFile(const char* path, const char* mode);

// 0 on success, non-zero on failure (as the C runtime's remove).
int KPlatformDeleteFile(const char* path);

// Atomic replace of `to` by `from` (same file system). true on success.
bool KPlatformRenameFile(const char* from, const char* to);

// One folder level; true on success (false when it exists already).
bool KPlatformMakeDirectory(const char* path);

// Removes an empty folder; true on success.
bool KPlatformRemoveDirectory(const char* path);

// "Normal attributes": makes the file writable by its owner. true on success.
bool KPlatformSetNormalAttributes(const char* path);

bool KPlatformPathExists(const char* path);
bool KPlatformIsDirectory(const char* path);
// True when the name (links followed) is neither a regular file nor a folder: a device, a
// pipe or a socket, whose reads may never end or may wait forever.
bool KPlatformIsSpecialFile(const char* path);

// The process's current folder, empty on failure.
std::string KPlatformGetCurrentDirectory();

// `path` made absolute against the current folder, without touching the disk (no symbolic
// link resolution, "." and ".." left for the caller to clean).
std::string KPlatformFullPath(const char* path);

// The temporary folder: $TMPDIR when set and not empty, else the system default. No
// trailing separator.
std::string KPlatformGetTempFolder();

// Creates a new, empty file named <folder>/<prefix><six random characters>.tmp, exclusively
// (an existing name is never reused, so two callers never get the same name), and returns
// its name. A null or empty folder means the temporary folder. Empty on failure.
std::string KPlatformCreateTempFile(const char* folder, const char* prefix);

// The user's configuration folder: $XDG_CONFIG_HOME, else $HOME/.config, else the
// temporary folder.
std::string KPlatformGetConfigFolder();

// Environment variable, null when unset.
const char* KPlatformGetEnv(const char* name);

// Critical-error dialogs do not exist here; kept so callers read as designed. Returns the
// previous mode.
unsigned KPlatformSetErrorMode(unsigned mode);

// One entry of a folder listing.
struct KPlatformDirEntry {
    std::string name;
    bool isDirectory = false;
    bool readOnly = false;
    uint64_t size = 0;
    int64_t modifiedTime = 0;  // seconds since 1970
};

// Lists the folder of `pattern` ("folder/*.*", "folder/*.txt", ...). The last path part is
// the wildcard: '*' any run of characters, '?' one character, matched without regard to
// case; "*.*" matches every name, also names without a dot, and generally a trailing ".*"
// also matches names without an extension. "." and ".." come first when they match; the
// other names follow in byte order. false when the folder cannot be read or nothing
// matches.
bool KPlatformListDirectory(const char* pattern, std::vector<KPlatformDirEntry>& entries);

// The wildcard rule used by the listing, for names already at hand.
bool KPlatformWildcardMatch(const char* pattern, const char* name);
