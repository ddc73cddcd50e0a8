#pragma once
// Bytes from the operating system's random source.

#include <cstddef>

// Fills `buffer`; false when the source fails.
bool KPlatformRandomBytes(void* buffer, size_t size);
