#pragma once
// Clock, machine name and lock of the operating system.

#include <cstddef>
#include <functional>
#include <memory>

// The local wall-clock time, broken down.
struct KPlatformLocalTime {
    int year = 0;    // e.g. 2024
    int month = 0;   // 1..12
    int day = 0;     // 1..31
    int hour = 0;    // 0..23
    int minute = 0;  // 0..59
    int second = 0;  // 0..60
    int millisecond = 0;
};

// Fills `time` from the local clock; false (and zeros) when the clock cannot be read.
bool KPlatformGetLocalTime(KPlatformLocalTime& time);

// The computer name: the host name cut at its first '.'. false (and an empty text) when it
// cannot be read or does not fit `size` bytes with its terminator.
bool KPlatformGetComputerName(char* buffer, size_t size);

// The size of a memory page.
size_t KPlatformPageSize();
// Fresh private memory straight from the system, `size` bytes aligned to `alignment` (a power
// of two, at least a page), reading as zeros; null when none is left. Kept apart from the heap,
// so it goes back to the system whole with KPlatformFreePages and the next block is fresh.
void* KPlatformAllocatePages(size_t size, size_t alignment);
// Gives back memory KPlatformAllocatePages handed out, with the size asked for.
void KPlatformFreePages(void* address, size_t size);
// Gives pages of private memory back to the system (`address` and `size` whole pages): they
// read as zeros afterwards. False when they were not given back.
bool KPlatformDiscardPages(void* address, size_t size);
// KPlatformDiscardPages on the whole pages inside a range (the pages its ends share with
// other bytes are kept); false when none was given back.
bool KPlatformDiscardPagesInside(void* address, size_t size);
// Asks for large pages behind private memory that is about to be filled whole (a fault per
// large page instead of one per page); only the large pages wholly inside are affected. The
// large page size when asked, 0 when the system has none to give.
size_t KPlatformPreferLargePages(void* address, size_t size);

// Has the pages of private memory about to be filled made present by a thread of its own,
// while the caller goes on: the system's zeroing of fresh pages then runs beside the caller's
// filling. Their contents are never changed, so the caller may write them meanwhile, and the
// memory may even be freed before the thread is done. Nothing where the system cannot do it,
// or while a few such threads are at work already.
void KPlatformPrefaultAside(void* address, size_t size);

// Work run beside the caller on a thread of its own, waited for by Join (or the destructor).
// Where no thread can be started, Start runs the work itself before it returns: callers see
// the same results either way, only later.
class KPlatformThread {
public:
    KPlatformThread();
    ~KPlatformThread();
    KPlatformThread(const KPlatformThread&) = delete;
    KPlatformThread& operator=(const KPlatformThread&) = delete;

    // Runs `work`; a thread still running is waited for first.
    void Start(std::function<void()> work);
    // Waits for the work to end; nothing when none runs.
    void Join();

private:
    struct Impl;
    std::unique_ptr<Impl> mImpl;
};

// Where threads sleep until another tells them that what they wait for may have come.
class KPlatformWaitPoint {
public:
    KPlatformWaitPoint();
    ~KPlatformWaitPoint();
    KPlatformWaitPoint(const KPlatformWaitPoint&) = delete;
    KPlatformWaitPoint& operator=(const KPlatformWaitPoint&) = delete;

    // Returns once `ready()` holds; it is asked at once, then after each WakeAll.
    void WaitUntil(const std::function<bool()>& ready);
    // Has every thread in WaitUntil ask again; call it after making what they wait for true.
    void WakeAll();

private:
    struct Impl;
    std::unique_ptr<Impl> mImpl;
};

// A non-recursive lock for short critical sections. Never held across calls out.
class KPlatformMutex {
public:
    KPlatformMutex();
    ~KPlatformMutex();
    KPlatformMutex(const KPlatformMutex&) = delete;
    KPlatformMutex& operator=(const KPlatformMutex&) = delete;

    void Lock();
    void Unlock();

private:
    struct Impl;
    std::unique_ptr<Impl> mImpl;
};

// Holds a KPlatformMutex for the life of a scope.
class KPlatformLock {
public:
    explicit KPlatformLock(KPlatformMutex& mutex) : mMutex(mutex) { mMutex.Lock(); }
    ~KPlatformLock() { mMutex.Unlock(); }
    KPlatformLock(const KPlatformLock&) = delete;
    KPlatformLock& operator=(const KPlatformLock&) = delete;

private:
    KPlatformMutex& mMutex;
};
