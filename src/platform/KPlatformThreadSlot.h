#pragma once

// A pointer that each thread holds on its own, handed to `destroy` when its thread ends (the
// main thread's is left to the process's end). Unlike a thread_local object with a destructor,
// whose first use ends the process when the system has no memory to note it, Set says false.
// Meant to be a static of its user: nothing to destroy, the slot lasts as long as the process.
class KPlatformThreadSlot {
public:
    explicit KPlatformThreadSlot(void (*destroy)(void*)) noexcept;
    void* Get() const noexcept;
    bool Set(void* value) noexcept;

private:
    unsigned mKey = 0;
    bool mValid = false;
};
