#include "platform/KPlatformMapping.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

namespace {

// A page of a file mapping past the file's end raises SIGBUS when touched, and so does a page
// the file still holds that the disk fails to give. The handler looks the address up among the
// live mappings: one of ours gets a page of zeros in its place (the access is then repeated and
// reads zeros) and is marked, as failed when the file still reaches into the page; any other
// fault goes on to whatever handled the signal before.
struct Guard {
    std::atomic<uintptr_t> begin{0};
    std::atomic<uintptr_t> end{0};
    std::atomic<bool> lost{false};
    std::atomic<bool> failed{false};
    std::atomic<bool> used{false};
    std::atomic<int> file{-1};
    std::atomic<uint64_t> offset{0};  // of `begin` in the file
};
constexpr int kGuards = 64;
Guard gGuards[kGuards];
struct sigaction gPrevious;
size_t gPageSize = 4096;

void OnBusError(int signal, siginfo_t* info, void* context) {
    // The faulting code may be about to read errno: the calls below leave it as it was.
    const int savedErrno = errno;
    const uintptr_t at = reinterpret_cast<uintptr_t>(info->si_addr);
    for (Guard& guard : gGuards) {
        if (at < guard.begin.load(std::memory_order_acquire) ||
            at >= guard.end.load(std::memory_order_acquire))
            continue;
        const uintptr_t pageAt = at & ~(uintptr_t(gPageSize) - 1);
        void* page = reinterpret_cast<void*>(pageAt);
        // Asked before the page is replaced; fstat is safe in a handler.
        struct stat st;
        const uint64_t fileAt = guard.offset.load(std::memory_order_acquire) +
                                (pageAt - guard.begin.load(std::memory_order_acquire));
        const bool failed = fstat(guard.file.load(std::memory_order_acquire), &st) != 0 ||
                            (st.st_size > 0 && uint64_t(st.st_size) > fileAt);
        if (mmap(page, gPageSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED,
                 -1, 0) != MAP_FAILED) {
            if (failed) guard.failed.store(true, std::memory_order_release);
            guard.lost.store(true, std::memory_order_release);
            errno = savedErrno;
            return;
        }
        break;
    }
    if (gPrevious.sa_flags & SA_SIGINFO) {
        gPrevious.sa_sigaction(signal, info, context);
    } else if (gPrevious.sa_handler != SIG_DFL && gPrevious.sa_handler != SIG_IGN) {
        gPrevious.sa_handler(signal);
    } else {
        // The default action, taken when the faulting access is repeated.
        struct sigaction fallback = {};
        fallback.sa_handler = SIG_DFL;
        sigemptyset(&fallback.sa_mask);
        sigaction(SIGBUS, &fallback, nullptr);
    }
    errno = savedErrno;
}

bool InstallHandler() {
    static bool installed = [] {
        const long page = sysconf(_SC_PAGESIZE);
        if (page > 0) gPageSize = size_t(page);
        struct sigaction action = {};
        action.sa_sigaction = OnBusError;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESTART;
        sigemptyset(&action.sa_mask);
        return sigaction(SIGBUS, &action, &gPrevious) == 0;
    }();
    return installed;
}

int TakeSlot(uintptr_t begin, uintptr_t end, int file, uint64_t offset) {
    for (int i = 0; i < kGuards; ++i) {
        bool expected = false;
        if (!gGuards[i].used.compare_exchange_strong(expected, true)) continue;
        gGuards[i].lost.store(false);
        gGuards[i].failed.store(false);
        gGuards[i].file.store(file, std::memory_order_release);
        gGuards[i].offset.store(offset, std::memory_order_release);
        gGuards[i].begin.store(begin, std::memory_order_release);
        gGuards[i].end.store(end, std::memory_order_release);
        return i;
    }
    return -1;
}

}  // namespace

bool KPlatformFileMapping::Map(FILE* file, uint64_t offset, uint64_t size) {
    Unmap();
    struct stat st;
    if (!file || size == 0 || size > SIZE_MAX / 2 || fstat(fileno(file), &st) != 0 ||
        !S_ISREG(st.st_mode) || st.st_size < 0 || uint64_t(st.st_size) < offset ||
        uint64_t(st.st_size) - offset < size || !InstallHandler())
        return false;
    // Taken before the bytes are: a change from here on is told.
    KPlatformFileStamp stamp;
    if (!KPlatformGetDescriptorStamp(fileno(file), stamp)) return false;
    const uint64_t aligned = offset & ~uint64_t(gPageSize - 1);
    const size_t length = size_t(size + (offset - aligned));
    void* base = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE, fileno(file),
                      static_cast<off_t>(aligned));
    if (base == MAP_FAILED) return false;
    const int own = fcntl(fileno(file), F_DUPFD_CLOEXEC, 0);
    const uintptr_t begin = reinterpret_cast<uintptr_t>(base);
    mSlot = own < 0 ? -1 : TakeSlot(begin, begin + length, own, aligned);
    if (mSlot < 0) {
        if (own >= 0) close(own);
        munmap(base, length);
        return false;
    }
    mFile = own;
    mStamp = stamp;
    mBase = base;
    mLength = length;
    mData = static_cast<uint8_t*>(base) + (offset - aligned);
    mSize = size;
    return true;
}

void KPlatformFileMapping::Unmap() {
    if (!mBase) return;
    // Forgotten by the handler first: the addresses may be mapped anew right after.
    Guard& guard = gGuards[mSlot];
    guard.begin.store(0, std::memory_order_release);
    guard.end.store(0, std::memory_order_release);
    munmap(mBase, mLength);
    guard.file.store(-1, std::memory_order_release);
    guard.used.store(false, std::memory_order_release);
    close(mFile);
    mFile = -1;
    mBase = nullptr;
    mLength = 0;
    mData = nullptr;
    mSize = 0;
    mSlot = -1;
}

bool KPlatformFileMapping::LostPages() const {
    return mSlot >= 0 && gGuards[mSlot].lost.load(std::memory_order_acquire);
}

int KPlatformFileMapping::GetReadError() const {
    return mSlot >= 0 && gGuards[mSlot].failed.load(std::memory_order_acquire) ? EIO : 0;
}

bool KPlatformFileMapping::FileChanged() const {
    if (!mBase) return false;
    if (LostPages()) return true;
    KPlatformFileStamp now;
    return !KPlatformGetDescriptorStamp(mFile, now) || !mStamp.StillMatches(now);
}
