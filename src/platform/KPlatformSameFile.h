#pragma once
// Whether two names reach one file of the file system.

#include <cstdio>
#include <string>

// True when both names exist and are the same file: the same device and file number, so a
// second name through a link, a "..", another case or a hard link counts as the same file.
// False when either cannot be looked up (a file not yet written is no other file).
bool KPlatformSameFile(const char* first, const char* second);

// True when a write to `path` reaches the open standard stream (stdout or stderr): the name is
// the file, pipe or terminal that the stream is (through /dev/stdout, /dev/fd/2 or any other
// link).
bool KPlatformIsStandardStream(const char* path, FILE* stream);

// The name with every symbolic link followed and "." and ".." resolved, as the file lies on
// disk; empty when it cannot be (the name does not exist, a loop of links).
std::string KPlatformRealPath(const char* path);
