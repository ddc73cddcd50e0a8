#pragma once
// Whether two names reach one file of the file system.

#include <cstdio>
#include <string>

// True when both names exist and are the same file: the same device and file number, so a
// second name through a link, a "..", another case or a hard link counts as the same file.
// False when either cannot be looked up (a file not yet written is no other file).
bool KPlatformSameFile(const char* first, const char* second);

// A file as a read found it: the name it was found under (another case of the name asked for,
// when only that one is there) and its device and number (both 0 when it could not be looked
// at). Names change; the number stays the file's while it lives.
struct KPlatformFileFound {
    std::string name;
    unsigned long long device = 0;
    unsigned long long inode = 0;
};
// The file a read open of `path` takes now (KPlatformOpenFile).
KPlatformFileFound KPlatformFindAsRead(const char* path);
// The file open as `file`, which a read opened by `path`.
KPlatformFileFound KPlatformFoundOpen(FILE* file, const char* path);
// Whether `path` leads to the file that was found, by whatever name it was found.
bool KPlatformIsFound(const char* path, const KPlatformFileFound& found);

// True when a write to `path` reaches the open standard stream (stdout or stderr): the name is
// the file, pipe or terminal that the stream is (through /dev/stdout, /dev/fd/2 or any other
// link).
bool KPlatformIsStandardStream(const char* path, FILE* stream);

// The name with every symbolic link followed and "." and ".." resolved, as the file lies on
// disk; empty when it cannot be (the name does not exist, a loop of links).
std::string KPlatformRealPath(const char* path);
