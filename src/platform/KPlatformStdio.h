#pragma once
// Operating-system services on an open stdio stream.

#include <cstdint>
#include <cstdio>

// Sets the size of the file behind an open stream; 0 on success.
int KPlatformTruncate(FILE* file, int64_t size);
// True when the open stream is a folder (which the C runtime here opens for reading).
bool KPlatformIsDirectoryStream(FILE* file);
// True when the open stream is a device, a pipe or a socket rather than a file or a folder.
bool KPlatformIsSpecialStream(FILE* file);
