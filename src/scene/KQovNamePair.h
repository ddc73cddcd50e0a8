#pragma once
// The two names of a scene object: the one it entered the scene with, and the
// current one that renamers rewrite and writers use.

#include "foundation/KString.h"

struct KQovNamePair {
    KQovNamePair() = default;
    explicit KQovNamePair(const char* text) : initialName(text), currentName(text) {}

    void SetNames(const char* text) {
        initialName = text;
        currentName = text;
    }
    void SetCurrentName(const char* text) { currentName = text; }
    const char* GetCurrentName() const { return currentName.Buffer(); }

    KString initialName;
    KString currentName;
};

// The text after the first "::" (a class prefix such as "Model::"); the whole
// name when it has none. A null name gives an empty text.
KString KStripNamePrefix(const KString& name);
KString KStripNamePrefix(const char* name);
