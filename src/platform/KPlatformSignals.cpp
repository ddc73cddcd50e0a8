#include "platform/KPlatformSignals.h"

#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include "platform/KPlatformFile.h"
#include "platform/KPlatformFileParts.h"

namespace {

// A slot is free, being filled, or ready; the handler only reads ready ones.
enum : int { kFree, kFilling, kReady };

// What tells the file kept apart from one put under its name since: its number while it is
// open (no other file can have it then), its size and times as well once it is written.
struct Identity {
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = 0;
    int64_t times[4] = {0, 0, 0, 0};  // modified and changed, seconds and nanoseconds
    std::atomic<bool> settled{false};
    int fd = -1;        // the file itself, for its permissions
    unsigned mode = 0;  // given back through `fd` when the file is left; 0: nothing to give
    bool folder = false;  // a folder made, removed only while empty, once the files went

    void Take(const struct stat& st, int file, unsigned permissions) {
        settled.store(false, std::memory_order_release);
        device = uint64_t(st.st_dev);
        inode = uint64_t(st.st_ino);
        fd = file;
        mode = permissions;
        folder = S_ISDIR(st.st_mode);
    }
    void Settle(const struct stat& st) {
        settled.store(false, std::memory_order_release);
        size = int64_t(st.st_size);
        times[0] = int64_t(st.st_mtim.tv_sec);
        times[1] = int64_t(st.st_mtim.tv_nsec);
        times[2] = int64_t(st.st_ctim.tv_sec);
        times[3] = int64_t(st.st_ctim.tv_nsec);
        settled.store(true, std::memory_order_release);
    }
    // Safe in a signal handler.
    bool Holds(const char* path) const {
        struct stat st;
        if (lstat(path, &st) != 0 || uint64_t(st.st_dev) != device ||
            uint64_t(st.st_ino) != inode || !(folder ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode)))
            return false;
        if (folder) return true;
        if (!settled.load(std::memory_order_acquire)) return true;
        return int64_t(st.st_size) == size && int64_t(st.st_mtim.tv_sec) == times[0] &&
               int64_t(st.st_mtim.tv_nsec) == times[1] && int64_t(st.st_ctim.tv_sec) == times[2] &&
               int64_t(st.st_ctim.tv_nsec) == times[3];
    }
    // Safe in a signal handler: removes the file while `path` holds it; a file left (under
    // another name, or a name that no longer leads to it) gets its permissions back.
    void Remove(const char* path) const {
        if (folder) return;
        if (Holds(path)) unlink(path);
        KPlatformFileParts::GiveModeThrough(fd, mode);
    }
    // Safe in a signal handler; true when the folder went.
    bool RemoveFolder(const char* path) const { return folder && Holds(path) && rmdir(path) == 0; }
};

struct Slot {
    std::atomic<int> state{kFree};
    Identity identity;
    char path[PATH_MAX];
};
constexpr int kSlots = 32;
Slot gSlots[kSlots];

// Past the fixed slots (a write that makes many files beside its own, one for each image), names
// go to slots made as needed, in chunks that stay until the process ends: the handler may read
// one at any time. A name's buffer is only replaced while its slot is not ready.
struct ExtraSlot {
    std::atomic<int> state{kFree};
    Identity identity;
    std::atomic<char*> path{nullptr};
    size_t room = 0;
};
constexpr int kChunk = 256;
constexpr int kChunks = 256;
std::atomic<ExtraSlot*> gChunks[kChunks];
std::atomic<int> gLowestExtraFree{0};  // no extra slot below it is free

int KeepExtra(const char* path, size_t length, const struct stat& st, int fd, unsigned mode) {
    for (int i = gLowestExtraFree.load(); i < kChunk * kChunks; ++i) {
        ExtraSlot* chunk = gChunks[i / kChunk].load(std::memory_order_acquire);
        if (!chunk) {
            ExtraSlot* made = new (std::nothrow) ExtraSlot[kChunk];
            if (!made) return -1;
            ExtraSlot* expected = nullptr;
            if (gChunks[i / kChunk].compare_exchange_strong(expected, made))
                chunk = made;
            else {
                delete[] made;
                chunk = expected;
            }
        }
        ExtraSlot& slot = chunk[i % kChunk];
        int expected = kFree;
        if (!slot.state.compare_exchange_strong(expected, kFilling)) continue;
        if (slot.room <= length) {
            char* buffer = new (std::nothrow) char[length + 1];
            if (!buffer) {
                slot.state.store(kFree);
                return -1;
            }
            delete[] slot.path.exchange(buffer);
            slot.room = length + 1;
        }
        std::memcpy(slot.path.load(), path, length + 1);
        slot.identity.Take(st, fd, mode);
        slot.state.store(kReady, std::memory_order_release);
        int lowest = gLowestExtraFree.load();
        while (lowest <= i && !gLowestExtraFree.compare_exchange_weak(lowest, i + 1)) {
        }
        return kSlots + i;
    }
    return -1;
}

ExtraSlot* Extra(int index) {
    ExtraSlot* chunk = gChunks[index / kChunk].load(std::memory_order_acquire);
    return chunk ? &chunk[index % kChunk] : nullptr;
}

void ForgetExtra(int index) {
    ExtraSlot* chunk = gChunks[index / kChunk].load(std::memory_order_acquire);
    if (!chunk) return;
    chunk[index % kChunk].state.store(kFree, std::memory_order_release);
    int lowest = gLowestExtraFree.load();
    while (lowest > index && !gLowestExtraFree.compare_exchange_weak(lowest, index)) {
    }
}
// SIGPIPE too: a pipe that an output or a message goes to, closed early, ends the process
// with a write in progress.
constexpr int kEnding[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

static_assert(std::atomic<int>::is_always_lock_free, "the handler reads the slots' states");
static_assert(sizeof(sigset_t) <= 256, "KPlatformSignalsHeld keeps a signal mask");

// Removes the files kept, or with `folders` the folders kept that are empty; true when a folder
// went.
bool RemoveKept(bool folders) {
    bool went = false;
    for (Slot& slot : gSlots)
        if (slot.state.load(std::memory_order_acquire) == kReady) {
            if (!folders) slot.identity.Remove(slot.path);
            else went = slot.identity.RemoveFolder(slot.path) || went;
        }
    for (const std::atomic<ExtraSlot*>& chunk : gChunks) {
        const ExtraSlot* slots = chunk.load(std::memory_order_acquire);
        if (!slots) break;
        for (int i = 0; i < kChunk; ++i)
            if (slots[i].state.load(std::memory_order_acquire) == kReady) {
                const char* path = slots[i].path.load(std::memory_order_relaxed);
                if (!folders) slots[i].identity.Remove(path);
                else went = slots[i].identity.RemoveFolder(path) || went;
            }
    }
    return went;
}

// Only calls that are safe in a signal handler: lstat, fstat, unlink, rmdir, fchmod, sigaction,
// raise. A name that no longer holds the file kept (another program saved its own file under
// it) is left alone.
void OnEndingSignal(int signal) {
    const int saved = errno;
    RemoveKept(false);
    // A folder inside another goes first: each round takes those emptied by the one before.
    for (int round = 0; round < 4 && RemoveKept(true); ++round) {
    }
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    // Held back until the handler returns, then it ends the process as the signal would have.
    raise(signal);
    errno = saved;
}

int Keep(const char* path, size_t length, const struct stat& st, int fd, unsigned mode);

sigset_t EndingSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : kEnding) sigaddset(&set, signal);
    return set;
}

}  // namespace

int KPlatformKeepForSignals(const char* path, int fd, unsigned mode) {
    if (!path) return -1;
    const size_t length = std::strlen(path);
    if (length == 0 || length >= PATH_MAX) return -1;
    struct stat st;
    if ((fd >= 0 ? fstat(fd, &st) : lstat(path, &st)) != 0 || !S_ISREG(st.st_mode)) return -1;
    return Keep(path, length, st, fd, mode);
}

bool KPlatformMakeFolderForSignals(const char* path, int& slot) {
    slot = -1;
    if (!path || !*path) return false;
    const std::string native = KPlatformNativePath(path);
    // The folder and its name kept come and go together.
    KPlatformSignalsHeld held;
    if (mkdir(native.c_str(), 0777) != 0) return false;
    struct stat st;
    if (native.size() < PATH_MAX && lstat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        slot = Keep(native.c_str(), native.size(), st, -1, 0);
    return true;
}

namespace {

int Keep(const char* path, size_t length, const struct stat& st, int fd, unsigned mode) {
    for (int i = 0; i < kSlots; ++i) {
        int expected = kFree;
        if (!gSlots[i].state.compare_exchange_strong(expected, kFilling)) continue;
        std::memcpy(gSlots[i].path, path, length + 1);
        gSlots[i].identity.Take(st, fd, mode);
        gSlots[i].state.store(kReady, std::memory_order_release);
        return i;
    }
    return KeepExtra(path, length, st, fd, mode);
}

}  // namespace

void KPlatformSettleForSignals(int slot, int fd) {
    Identity* identity = nullptr;
    if (slot >= kSlots) {
        if (ExtraSlot* extra = Extra(slot - kSlots)) identity = &extra->identity;
    } else if (slot >= 0) {
        identity = &gSlots[slot].identity;
    }
    struct stat st;
    if (!identity || fstat(fd, &st) != 0) return;
    identity->Settle(st);
}

void KPlatformForgetForSignals(int slot) {
    if (slot >= kSlots) ForgetExtra(slot - kSlots);
    if (slot < 0 || slot >= kSlots) return;
    gSlots[slot].state.store(kFree, std::memory_order_release);
}

void KPlatformRemoveKeptFilesOnSignals() {
    for (int signal : kEnding) {
        struct sigaction previous;
        if (sigaction(signal, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) continue;
        struct sigaction action = {};
        action.sa_handler = OnEndingSignal;
        // The other ending signals wait while the files go: one handler runs at a time.
        action.sa_mask = EndingSet();
        sigaction(signal, &action, nullptr);
    }
}

void KPlatformFailWritesPastFileSizeLimit() {
    struct sigaction action = {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    sigaction(SIGXFSZ, &action, nullptr);
}

KPlatformSignalsHeld::KPlatformSignalsHeld() {
    const sigset_t set = EndingSet();
    sigset_t saved;
    mHeld = pthread_sigmask(SIG_BLOCK, &set, &saved) == 0;
    if (mHeld) std::memcpy(mSaved, &saved, sizeof saved);
}

KPlatformSignalsHeld::~KPlatformSignalsHeld() {
    if (!mHeld) return;
    sigset_t saved;
    std::memcpy(&saved, mSaved, sizeof saved);
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}
