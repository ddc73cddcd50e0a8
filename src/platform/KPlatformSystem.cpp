#include "platform/KPlatformSystem.h"
#include "platform/KPlatformThreadSlot.h"

#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

bool KPlatformGetLocalTime(KPlatformLocalTime& time) {
    time = KPlatformLocalTime();
    struct timespec now;
    if (clock_gettime(CLOCK_REALTIME, &now) != 0) return false;
    struct tm local;
    time_t seconds = now.tv_sec;
    if (!localtime_r(&seconds, &local)) return false;
    time.year = local.tm_year + 1900;
    time.month = local.tm_mon + 1;
    time.day = local.tm_mday;
    time.hour = local.tm_hour;
    time.minute = local.tm_min;
    time.second = local.tm_sec;
    time.millisecond = int(now.tv_nsec / 1000000);
    return true;
}

bool KPlatformGetComputerName(char* buffer, size_t size) {
    if (!buffer || size == 0) return false;
    buffer[0] = 0;
    char host[256] = {0};
    if (gethostname(host, sizeof(host) - 1) != 0 || host[0] == 0) return false;
    if (char* dot = strchr(host, '.')) *dot = 0;
    size_t length = strlen(host);
    if (length + 1 > size) return false;
    memcpy(buffer, host, length + 1);
    return true;
}

namespace {

// Held while a thread is started, so that it begins with every signal sent to the process
// blocked: a signal that ends the process is then taken by a thread of the program, which
// holds it while a file is put in place (KPlatformSignalsHeld), never by one of these in the
// middle of that. Faults of the thread's own (a bad address, a division by zero, an abort)
// stay with it.
class StartWithoutSignals {
public:
    StartWithoutSignals() {
        sigset_t all;
        sigfillset(&all);
        for (int own : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT})
            sigdelset(&all, own);
        mBlocked = pthread_sigmask(SIG_BLOCK, &all, &mSaved) == 0;
    }
    ~StartWithoutSignals() {
        if (mBlocked) pthread_sigmask(SIG_SETMASK, &mSaved, nullptr);
    }
    StartWithoutSignals(const StartWithoutSignals&) = delete;
    StartWithoutSignals& operator=(const StartWithoutSignals&) = delete;

private:
    sigset_t mSaved;
    bool mBlocked = false;
};

// The whole pages inside [address, address + size): [from, to), empty when there are none.
void PagesInside(const void* address, size_t size, uintptr_t& from, uintptr_t& to) {
    const uintptr_t page = KPlatformPageSize();
    const uintptr_t at = reinterpret_cast<uintptr_t>(address);
    from = (at + page - 1) & ~(page - 1);
    to = (at + size) & ~(page - 1);
}

}  // namespace

void KPlatformPrefaultAside(void* address, size_t size) {
#ifdef MADV_POPULATE_WRITE
    // Made present as a write would make them, their contents kept; a range unmapped
    // meanwhile only makes the call fail.
    static std::atomic<bool> unsupported{false};
    // A few at a time: past that, the caller's own writes fault the pages in.
    static std::atomic<int> running{0};
    constexpr int kMostRunning = 4;
    uintptr_t from, to;
    PagesInside(address, size, from, to);
    if (!address || to <= from || unsupported.load(std::memory_order_relaxed)) return;
    if (running.fetch_add(1) >= kMostRunning) {
        --running;
        return;
    }
    try {
        StartWithoutSignals quiet;
        std::thread([from, to] {
            if (madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE) != 0 &&
                errno == EINVAL)
                unsupported.store(true, std::memory_order_relaxed);
            --running;
        }).detach();
    } catch (const std::exception&) {
        // No thread, or no memory for one: the caller's own writes fault the pages in.
        --running;
    }
#else
    (void)address;
    (void)size;
#endif
}

struct KPlatformThread::Impl {
    std::thread thread;
};

KPlatformThread::KPlatformThread() : mImpl(new Impl) {}
KPlatformThread::~KPlatformThread() {
    Join();
}

void KPlatformThread::Start(std::function<void()> work) {
    Join();
    try {
        StartWithoutSignals quiet;
        mImpl->thread = std::thread(work);
    } catch (const std::system_error&) {
        work();
    } catch (const std::bad_alloc&) {
        work();  // no memory for a thread: the same work, on the caller's
    }
}

void KPlatformThread::Join() {
    if (mImpl->thread.joinable()) mImpl->thread.join();
}

struct KPlatformWaitPoint::Impl {
    std::mutex mutex;
    std::condition_variable woken;
};

KPlatformWaitPoint::KPlatformWaitPoint() : mImpl(new Impl) {}
KPlatformWaitPoint::~KPlatformWaitPoint() = default;

void KPlatformWaitPoint::WaitUntil(const std::function<bool()>& ready) {
    std::unique_lock<std::mutex> hold(mImpl->mutex);
    mImpl->woken.wait(hold, ready);
}

void KPlatformWaitPoint::WakeAll() {
    // Taken once between the waker's change and the wake-up: a thread between asking and
    // sleeping cannot miss it.
    { std::lock_guard<std::mutex> hold(mImpl->mutex); }
    mImpl->woken.notify_all();
}

static_assert(sizeof(pthread_key_t) <= sizeof(unsigned), "a key fits the slot");

KPlatformThreadSlot::KPlatformThreadSlot(void (*destroy)(void*)) noexcept {
    pthread_key_t key;
    mValid = pthread_key_create(&key, destroy) == 0;
    mKey = unsigned(key);
}

void* KPlatformThreadSlot::Get() const noexcept {
    return mValid ? pthread_getspecific(pthread_key_t(mKey)) : nullptr;
}

bool KPlatformThreadSlot::Set(void* value) noexcept {
    return mValid && pthread_setspecific(pthread_key_t(mKey), value) == 0;
}

struct KPlatformMutex::Impl {
    std::mutex mutex;
};

KPlatformMutex::KPlatformMutex() : mImpl(new Impl) {}
KPlatformMutex::~KPlatformMutex() = default;
void KPlatformMutex::Lock() {
    mImpl->mutex.lock();
}
void KPlatformMutex::Unlock() {
    mImpl->mutex.unlock();
}

size_t KPlatformPageSize() {
    const long size = sysconf(_SC_PAGESIZE);
    return size > 0 ? static_cast<size_t>(size) : 4096;
}

void* KPlatformAllocatePages(size_t size, size_t alignment) {
    const size_t page = KPlatformPageSize();
    if (size == 0 || alignment < page || (alignment & (alignment - 1)) != 0 ||
        size > SIZE_MAX - 2 * alignment)
        return nullptr;
    size = (size + page - 1) / page * page;
    // Over-asked by the alignment, then the ends cut away.
    const size_t asked = size + alignment;
    void* base = mmap(nullptr, asked, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) return nullptr;
    const uintptr_t start = reinterpret_cast<uintptr_t>(base);
    const uintptr_t aligned = (start + alignment - 1) & ~uintptr_t(alignment - 1);
    if (aligned > start) munmap(base, aligned - start);
    const size_t tail = start + asked - (aligned + size);
    if (tail > 0) munmap(reinterpret_cast<void*>(aligned + size), tail);
    return reinterpret_cast<void*>(aligned);
}

void KPlatformFreePages(void* address, size_t size) {
    if (!address || size == 0) return;
    const size_t page = KPlatformPageSize();
    munmap(address, (size + page - 1) / page * page);
}

bool KPlatformDiscardPages(void* address, size_t size) {
    return address && size > 0 && madvise(address, size, MADV_DONTNEED) == 0;
}

bool KPlatformDiscardPagesInside(void* address, size_t size) {
    uintptr_t from, to;
    PagesInside(address, size, from, to);
    return address && to > from && KPlatformDiscardPages(reinterpret_cast<void*>(from), to - from);
}

size_t KPlatformPreferLargePages(void* address, size_t size) {
#ifdef MADV_HUGEPAGE
    // Where large pages are switched off the advice is taken but gives none.
    static const bool offered = [] {
        char mode[128] = {};
        FILE* file = std::fopen("/sys/kernel/mm/transparent_hugepage/enabled", "r");
        if (!file) return false;
        const bool read = std::fgets(mode, sizeof mode, file) != nullptr;
        std::fclose(file);
        return read && std::strstr(mode, "[never]") == nullptr;
    }();
    if (!offered) return 0;
    constexpr uintptr_t kLarge = uintptr_t(2) << 20;
    const uintptr_t from = (reinterpret_cast<uintptr_t>(address) + kLarge - 1) & ~(kLarge - 1);
    const uintptr_t to = (reinterpret_cast<uintptr_t>(address) + size) & ~(kLarge - 1);
    if (address && to > from &&
        madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE) == 0)
        return kLarge;
#else
    (void)address;
    (void)size;
#endif
    return 0;
}
