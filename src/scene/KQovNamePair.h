#pragma once
// The two names of a scene object: the one it entered the scene with, and the
// current one that renamers rewrite and writers use.

#include "foundation/KString.h"

struct KQovNamePair {
    KString initialName;
    KString currentName;
};
