// This thread's record of the files it could not begin or put in place.

#include <string.h>

#include <memory>
#include <new>

#include "platform/KPlatformFile.h"
#include "platform/KPlatformFileParts.h"
#include "platform/KPlatformThreadSlot.h"

namespace KPlatformFileParts {

thread_local int gLastReplaceError = 0;
thread_local int gLastCreateError = 0;
thread_local bool gLastOneFile = false;

namespace {

KPlatformThreadSlot& FailureSlot() {
    static KPlatformThreadSlot slot([](void* kept) { delete static_cast<ThreadFailures*>(kept); });
    return slot;
}

}  // namespace

ThreadFailures* KeptFailures() {
    return static_cast<ThreadFailures*>(FailureSlot().Get());
}

ThreadFailures& MadeFailures() {
    if (ThreadFailures* kept = KeptFailures()) return *kept;
    std::unique_ptr<ThreadFailures> made(new ThreadFailures);
    if (!FailureSlot().Set(made.get())) throw std::bad_alloc();
    return *made.release();
}

bool KeptFromWriting(const struct stat& st) {
    const ThreadFailures* kept = KeptFailures();
    if (!kept || !kept->keep) return false;
    for (const KPlatformFileFound& file : *kept->keep)
        if (file.inode != 0 && file.inode == st.st_ino && file.device == st.st_dev) return true;
    return false;
}

const std::string* RegularOnly() {
    const ThreadFailures* kept = KeptFailures();
    return kept && !kept->regularOnly.empty() ? &kept->regularOnly : nullptr;
}

void NoteCreatePath(const char* path) noexcept {
    try {
        MadeFailures().createPath = KPlatformNativePath(path);
    } catch (const std::bad_alloc&) {
        if (ThreadFailures* kept = KeptFailures()) kept->createPath.clear();
        gLastCreateError = 0;
    }
}

void ForgetLastFailure() {
    gLastOneFile = false;
    if (ThreadFailures* kept = KeptFailures()) {
        kept->failure.mixed.clear();
        kept->failure.gone.clear();
        kept->failure.saved.clear();
        kept->failure.left.clear();
        kept->failure.unseen.clear();
    }
}

}  // namespace KPlatformFileParts

int KPlatformLastReplaceError() {
    return KPlatformFileParts::gLastReplaceError;
}

const KPlatformReplaceFailure& KPlatformLastReplaceFailure() {
    static const KPlatformReplaceFailure kNone{false, {}, {}, {}, {}, {}};
    static const KPlatformReplaceFailure kOneFile{true, {}, {}, {}, {}, {}};
    KPlatformFileParts::ThreadFailures* kept = KPlatformFileParts::KeptFailures();
    if (!kept) return KPlatformFileParts::gLastOneFile ? kOneFile : kNone;
    kept->failure.oneFile = KPlatformFileParts::gLastOneFile;
    return kept->failure;
}

int KPlatformLastCreateError(const char* path) {
    using namespace KPlatformFileParts;
    const ThreadFailures* kept = KeptFailures();
    return gLastCreateError != 0 && path && kept && kept->createPath == KPlatformNativePath(path)
               ? gLastCreateError
               : 0;
}

std::string KPlatformErrorText(int error) {
    char buffer[256];
    // The GNU form returns the text, which may or may not be the buffer.
    return strerror_r(error, buffer, sizeof buffer);
}

KPlatformKeepFilesRead::KPlatformKeepFilesRead(const std::vector<KPlatformFileFound>* files) {
    KPlatformFileParts::ThreadFailures& made = KPlatformFileParts::MadeFailures();
    mBefore = made.keep;
    if (files) made.keep = files;
}

KPlatformKeepFilesRead::~KPlatformKeepFilesRead() {
    // Allocates nothing: MadeFailures was made by the constructor.
    if (KPlatformFileParts::ThreadFailures* kept = KPlatformFileParts::KeptFailures())
        kept->keep = mBefore;
}

KPlatformRegularFileOnly::KPlatformRegularFileOnly(const char* path) {
    std::string name = path ? KPlatformNativePath(path) : std::string();
    mBefore.swap(KPlatformFileParts::MadeFailures().regularOnly);
    KPlatformFileParts::MadeFailures().regularOnly.swap(name);
}

KPlatformRegularFileOnly::~KPlatformRegularFileOnly() {
    // Allocates nothing: MadeFailures was made by the constructor.
    if (KPlatformFileParts::ThreadFailures* kept = KPlatformFileParts::KeptFailures())
        kept->regularOnly.swap(mBefore);
}
