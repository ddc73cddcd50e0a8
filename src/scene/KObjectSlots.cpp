#include "scene/KObjectSlots.h"

#include "scene/KPlug.h"

KObjectSlots::~KObjectSlots() {
    if (!mObjects) return;
    for (int i = 0; i < kSlotCount; ++i)
        if (mObjects[i] && mOwned[i]) DestroyOwned(mObjects[i]);
}

bool KObjectSlots::Set(int index, KPlug* object, bool owned) {
    if (index < 0 || index >= kSlotCount) return false;
    if (!mObjects) {
        mObjects.reset(new KPlug*[kSlotCount]());
        mOwned.reset(new bool[kSlotCount]());
    }
    KPlug* old = mObjects[index];
    const bool ownedOld = mOwned[index];
    mObjects[index] = object;
    mOwned[index] = owned;
    if (!old || !ownedOld || old == object) return true;
    // Another slot that owns it keeps it.
    for (int i = 0; i < kSlotCount; ++i)
        if (mObjects[i] == old && mOwned[i]) return true;
    DestroyOwned(old);
    return true;
}

KPlug* KObjectSlots::Get(int index) const {
    return mObjects && index >= 0 && index < kSlotCount ? mObjects[index] : nullptr;
}

bool KObjectSlots::IsOwned(int index) const {
    return mObjects && index >= 0 && index < kSlotCount && mOwned[index];
}

void KObjectSlots::DestroyOwned(KPlug* object) {
    for (int i = 0; i < kSlotCount; ++i) {
        if (mObjects[i] != object) continue;
        mObjects[i] = nullptr;
        mOwned[i] = false;
    }
    object->Destroy();
}
