#include "io/KQovIOHooks.h"

namespace {
KQovIOHooks gDefaultHooks;
KQovIOHooks* gHooks = &gDefaultHooks;
}  // namespace

KQovIOHooks& KQovIOHooks::GetInstance() {
    return *gHooks;
}

void KQovIOHooks::SetInstance(KQovIOHooks* hooks) {
    gHooks = hooks ? hooks : &gDefaultHooks;
}
