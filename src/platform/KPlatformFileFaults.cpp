// Failures of system calls made on purpose by tests (KPlatformFailFileCalls).

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <type_traits>

#include "platform/KPlatformFile.h"
#include "platform/KPlatformFileParts.h"

namespace KPlatformFileParts {

namespace {

// Failures made on purpose by tests (KPlatformFailFileCalls), per kind of call.
struct InjectedFault {
    int skip = 0;
    int count = 0;  // < 0: every call
    int error = 0;
};
static_assert(std::is_trivially_destructible_v<InjectedFault>);
thread_local InjectedFault gFaults[int(KPlatformFileCall::eCount)];

// Another program acting at a chosen call (KPlatformActOnFileCall).
struct InjectedAction {
    int skip = 0;
    void (*act)(void*) = nullptr;
    void* context = nullptr;
};
static_assert(std::is_trivially_destructible_v<InjectedAction>);
thread_local InjectedAction gActions[int(KPlatformFileCall::eCount)];

}  // namespace

bool Injected(KPlatformFileCall call) {
    InjectedAction& action = gActions[int(call)];
    if (action.act && action.skip-- == 0) {
        const InjectedAction now = action;
        action = InjectedAction();
        now.act(now.context);
    }
    InjectedFault& fault = gFaults[int(call)];
    if (fault.count == 0) return false;
    if (fault.skip > 0) {
        --fault.skip;
        return false;
    }
    if (fault.count > 0) --fault.count;
    errno = fault.error;
    return true;
}

int Link(const std::string& from, const std::string& to) {
    return Injected(KPlatformFileCall::eLink) ? -1 : link(from.c_str(), to.c_str());
}

int Rename(const std::string& from, const std::string& to) {
    return Injected(KPlatformFileCall::eRename) ? -1 : rename(from.c_str(), to.c_str());
}

int Unlink(const std::string& path) {
    return Injected(KPlatformFileCall::eUnlink) ? -1 : unlink(path.c_str());
}

int Look(const std::string& path, struct stat& st) {
    return Injected(KPlatformFileCall::eLook) ? -1 : stat(path.c_str(), &st);
}

int LookAt(int folder, const char* name, struct stat& st) {
    return Injected(KPlatformFileCall::eLook) ? -1
                                              : fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW);
}

int RenameNoReplace(int fromFolder, const char* from, int toFolder, const char* to) {
    if (!Injected(KPlatformFileCall::eRename) &&
        renameat2(fromFolder, from, toFolder, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    // A second name never takes one that exists; the first then goes, or the second again.
    struct stat st, made;
    if (!Injected(KPlatformFileCall::eLink) && linkat(fromFolder, from, toFolder, to, 0) == 0) {
        if (!Injected(KPlatformFileCall::eUnlink) && unlinkat(fromFolder, from, 0) == 0) return 0;
        const int error = errno;
        if (fstatat(fromFolder, from, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            fstatat(toFolder, to, &made, AT_SYMLINK_NOFOLLOW) == 0 && st.st_dev == made.st_dev &&
            st.st_ino == made.st_ino)
            unlinkat(toFolder, to, 0);
        errno = error;
        return -1;
    }
    if (errno == EEXIST) return -1;
    // Without hard links: the name looked at, then a plain rename.
    if (fstatat(toFolder, to, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return -1;
    }
    return Injected(KPlatformFileCall::eRename) ? -1 : renameat(fromFolder, from, toFolder, to);
}

}  // namespace KPlatformFileParts

void KPlatformFailFileCalls(KPlatformFileCall call, int skip, int count, int error) {
    using namespace KPlatformFileParts;
    gFaults[int(call)] = InjectedFault{skip, count, error};
}

void KPlatformActOnFileCall(KPlatformFileCall call, int skip, void (*act)(void*), void* context) {
    using namespace KPlatformFileParts;
    gActions[int(call)] = InjectedAction{skip, act, context};
}

void KPlatformClearFileFaults() {
    using namespace KPlatformFileParts;
    for (InjectedFault& fault : gFaults) fault = InjectedFault();
    for (InjectedAction& action : gActions) action = InjectedAction();
}

