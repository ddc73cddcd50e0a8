#pragma once
// Serial-numbered handle slots behind every weak reference to a plug.
//
// Slots come from 1024-slot blocks with a free list; a released slot gets the
// marker serial, so a weak reference taken before the release (or before the
// slot's reuse by another plug) no longer resolves.

#include <cstdint>

class KPlug;

// Packed to 12 bytes: every plug holds a slot, and a scene holds hundreds of plugs per node.
#pragma pack(push, 4)
struct KPlugHandle {
    uint32_t serial;
    union {
        KPlug* object;      // live slot
        KPlugHandle* next;  // free slot
    };
};
#pragma pack(pop)
static_assert(sizeof(KPlugHandle) == 12, "a handle slot is a serial and a pointer");

// A {serial, handle} pair; resolves to null once the plug is gone.
struct KWeakRef {
    uint32_t serial = 0;
    KPlugHandle* handle = nullptr;

    KPlug* Resolve() const { return handle && handle->serial == serial ? handle->object : nullptr; }
    bool IsEmpty() const { return handle == nullptr; }
    bool operator==(const KWeakRef& other) const {
        return serial == other.serial && handle == other.handle;
    }
    bool operator!=(const KWeakRef& other) const { return !(*this == other); }
};

namespace KPlugHandlePool {
constexpr uint32_t kReleasedSerial = 0x5A5A5A5A;
constexpr int kBlockSize = 1024;

// Counted: the first reference creates the pool and its lock, the last destroys them.
void AddRef();
void Release();
int GetRefCount();
bool Exists();
int GetBlockCount();

KPlugHandle* Acquire(KPlug* object, uint32_t serial);
void Release(KPlug* object, KPlugHandle*& handle);
}  // namespace KPlugHandlePool
