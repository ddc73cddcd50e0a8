// A check asked before each file this thread puts in place.

#include <sys/stat.h>

#include "platform/KPlatformFile.h"

namespace {

thread_local KPlatformCommitGuard* gCommitGuard = nullptr;

}  // namespace

KPlatformCommitGuard::KPlatformCommitGuard(bool (*check)(void*), void* context, const char* watched)
    : mCheck(check),
      mContext(context),
      mWatched(watched ? KPlatformNativePath(watched) : std::string()),
      mOuter(gCommitGuard) {
    gCommitGuard = this;
}

KPlatformCommitGuard::~KPlatformCommitGuard() {
    gCommitGuard = mOuter;
}

bool KPlatformCommitGuard::Allows() {
    KPlatformCommitGuard* guard = gCommitGuard;
    if (!guard) return true;
    if (guard->mCheck && !guard->mRefused && !guard->mWatchedPlaced) {
        // A check that cannot finish cannot say yes.
        try {
            guard->mRefused = !guard->mCheck(guard->mContext);
        } catch (...) {
            guard->mRefused = true;
        }
    }
    return !guard->mRefused;
}

void KPlatformCommitGuard::NotePlaced(const std::string& target) {
    KPlatformCommitGuard* guard = gCommitGuard;
    if (!guard || guard->mWatched.empty() || guard->mWatchedPlaced) return;
    // One file, however named ("./", links).
    struct stat placed, watched;
    if (stat(target.c_str(), &placed) == 0 && stat(guard->mWatched.c_str(), &watched) == 0 &&
        placed.st_dev == watched.st_dev && placed.st_ino == watched.st_ino)
        guard->mWatchedPlaced = true;
}

