#include "scene/KQovNamePair.h"

#include <cstring>

namespace {

KString StripPrefix(const char* text, int length) {
    for (int i = 0; i + 1 < length; ++i) {
        if (text[i] == ':' && text[i + 1] == ':') return KString(text + i + 2, length - i - 2);
    }
    return KString(text, length);
}

}  // namespace

KString KStripNamePrefix(const KString& name) {
    return StripPrefix(name.Buffer(), name.GetLen());
}

KString KStripNamePrefix(const char* name) {
    if (!name) return KString();
    return StripPrefix(name, static_cast<int>(std::strlen(name)));
}
