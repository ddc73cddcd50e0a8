#pragma once
// Whether two names reach one file of the file system.

// True when both names exist and are the same file: the same device and file number, so a
// second name through a link, a "..", another case or a hard link counts as the same file.
// False when either cannot be looked up (a file not yet written is no other file).
bool KPlatformSameFile(const char* first, const char* second);
