#pragma once
// Objects a thread keeps for itself between calls (scratch lists, the last thing made), in place
// of thread_local objects with destructors: noting such an object's destructor takes memory, and
// the system ends the process when it has none. Here that is std::bad_alloc, as any allocation.

#include <memory>
#include <new>

#include "platform/KPlatformThreadSlot.h"

// The calling thread's own T, made (value-initialised) on its first use and destroyed when the
// thread ends. Each T is one slot: give each use a type of its own.
template <class T>
T& KThreadScratch() {
    static KPlatformThreadSlot slot([](void* object) { delete static_cast<T*>(object); });
    if (void* mine = slot.Get()) return *static_cast<T*>(mine);
    std::unique_ptr<T> made(new T());
    if (!slot.Set(made.get())) throw std::bad_alloc();
    return *made.release();
}
