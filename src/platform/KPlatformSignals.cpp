#include "platform/KPlatformSignals.h"

#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace {

// A slot is free, being filled, or ready; the handler only reads ready ones.
enum : int { kFree, kFilling, kReady };
struct Slot {
    std::atomic<int> state{kFree};
    char path[PATH_MAX];
};
constexpr int kSlots = 32;
Slot gSlots[kSlots];
constexpr int kEnding[] = {SIGINT, SIGTERM, SIGHUP};

static_assert(std::atomic<int>::is_always_lock_free, "the handler reads the slots' states");
static_assert(sizeof(sigset_t) <= 256, "KPlatformSignalsHeld keeps a signal mask");

// Only calls that are safe in a signal handler: unlink, sigaction, raise.
void OnEndingSignal(int signal) {
    const int saved = errno;
    for (Slot& slot : gSlots)
        if (slot.state.load(std::memory_order_acquire) == kReady) unlink(slot.path);
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    // Held back until the handler returns, then it ends the process as the signal would have.
    raise(signal);
    errno = saved;
}

sigset_t EndingSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : kEnding) sigaddset(&set, signal);
    return set;
}

}  // namespace

int KPlatformKeepForSignals(const char* path) {
    if (!path) return -1;
    const size_t length = std::strlen(path);
    if (length == 0 || length >= PATH_MAX) return -1;
    for (int i = 0; i < kSlots; ++i) {
        int expected = kFree;
        if (!gSlots[i].state.compare_exchange_strong(expected, kFilling)) continue;
        std::memcpy(gSlots[i].path, path, length + 1);
        gSlots[i].state.store(kReady, std::memory_order_release);
        return i;
    }
    return -1;
}

void KPlatformForgetForSignals(int slot) {
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
