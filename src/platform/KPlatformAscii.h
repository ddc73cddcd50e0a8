#pragma once
// ASCII case folding for the stand-ins' names (file names, registry keys), independent of the
// locale and of the foundation above this layer.

#include <string>

inline char KPlatformLowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

inline bool KPlatformEqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (KPlatformLowerAscii(a[i]) != KPlatformLowerAscii(b[i])) return false;
    return true;
}
