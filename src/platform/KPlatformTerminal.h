#pragma once
// Whether a stream is shown to a person.

#include <cstdio>

// True when the stream is a terminal (not a file, a pipe or nothing).
bool KPlatformIsTerminal(FILE* stream);
