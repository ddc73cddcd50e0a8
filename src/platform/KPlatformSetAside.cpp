// Files set aside while a new file takes their place (KPlatformSetAside).

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>

#include "platform/KPlatformAscii.h"
#include "platform/KPlatformFile.h"
#include "platform/KPlatformFileParts.h"

KPlatformSetAside::~KPlatformSetAside() {
    PutBack();
    Close();
}

void KPlatformSetAside::Close() {
    if (mFolder >= 0) close(mFolder);
    mFolder = -1;
}

void KPlatformSetAside::Fail(const std::string& name) {
    mError = errno;
    try {
        mStayed = name.empty() ? mPath : mPath + "/" + name;
    } catch (const std::bad_alloc&) {
        mStayed.clear();  // the error number still tells
    }
}

std::string KPlatformSetAside::LeftName(size_t index) const {
    return index < mLeft.size() ? mPath + "/" + mLeft[index].hidden : std::string();
}

void KPlatformSetAside::Leave(Moved& moved) {
    moved.error = errno;
    mLeft.push_back(std::move(moved));  // into room made before anything moved
}

bool KPlatformSetAside::Move(const char* folder, const char* const* names, size_t count) {
    using namespace KPlatformFileParts;
    PutBack();
    Close();
    mMoved.clear();
    mLeft.clear();
    mPath.clear();
    mStayed.clear();
    mError = 0;
    if (!folder || !*folder) return true;
    // Held until every file is back or removed: a signal between leaves none hidden.
    if (!mHeld) mHeld.emplace();
    // Held open, the folder cannot be swapped for a link between the look and the moves.
    mFolder = Injected(KPlatformFileCall::eOpenFolder)
                  ? -1
                  : open(folder, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (mFolder < 0) {
        const int error = errno;
        mHeld.reset();
        // None, not a folder of its own, or one this program cannot reach (nor a read through
        // it); a folder not looked at for another reason may hold what a read takes.
        if (error == ENOENT || error == ENOTDIR || error == ELOOP || error == EACCES) return true;
        try {
            mPath = folder;
        } catch (const std::bad_alloc&) {
            mPath.clear();
        }
        errno = error;
        Fail("");
        return false;
    }
    // A folder not listed for want of a descriptor or memory may hold any case of the names,
    // which a read may take in the file's place; one this program may not list (but may reach
    // into) it reads by the exact names alone, and so sets those aside.
    const int listed = Injected(KPlatformFileCall::eOpenFolder)
                           ? -1
                           : openat(mFolder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = listed < 0 ? nullptr : fdopendir(listed);
    const int listError = dir ? 0 : errno;
    if (!dir && listed >= 0) close(listed);
    try {
        mPath = folder;
        std::vector<std::string> found;
        if (!dir && listError == EACCES) {
            found.assign(names, names + count);
        } else if (!dir) {
            errno = listError;
            Fail("");
        } else {
            for (;;) {
                errno = 0;
                const dirent* entry = readdir(dir);
                if (!entry) break;
                for (size_t i = 0; i < count; ++i)
                    if (KPlatformEqualNoCase(entry->d_name, names[i]))
                        found.push_back(entry->d_name);
            }
            if (errno != 0) Fail("");
            closedir(dir);
            dir = nullptr;
        }
        mMoved.reserve(found.size());
        mLeft.reserve(found.size());
        for (size_t i = 0; i < found.size() && mError == 0; ++i) {
            const std::string& name = found[i];
            struct stat st;
            // A folder of that name is no file and is never read in the file's place.
            if (fstatat(mFolder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
                // None, or in a folder that does not let this program reach its files, nor
                // read them in the file's place.
                if (errno == ENOENT || errno == EACCES) continue;
                Fail(name);
                break;
            }
            if (S_ISDIR(st.st_mode)) continue;
            // Noted before it moves, so that what moved is always put back.
            mMoved.push_back(Moved{name, HiddenName(".", name).substr(2), st.st_dev, st.st_ino});
            std::string& hidden = mMoved.back().hidden;  // within the folder
            bool moved = false;
            for (int attempt = 0; attempt < 100 && !moved && RandomSuffix(hidden); ++attempt) {
                moved = RenameNoReplace(mFolder, name.c_str(), mFolder, hidden.c_str()) == 0;
                if (!moved && errno != EEXIST) break;
            }
            if (!moved) {
                const int error = errno;
                mMoved.pop_back();
                errno = error;
                if (errno == ENOENT) continue;  // gone meanwhile
                Fail(name);
                break;
            }
        }
    } catch (const std::bad_alloc&) {
        if (dir) closedir(dir);
        errno = ENOMEM;
        Fail("");
    }
    if (mError == 0) {
        if (mMoved.empty()) mHeld.reset();
        return true;
    }
    const int error = mError;
    const std::string stayed = mStayed;  // putting back tells of its own failures apart
    PutBack();
    mError = error;
    mStayed = stayed;
    return false;
}

bool KPlatformSetAside::PutBack() {
    using namespace KPlatformFileParts;
    bool back = true;
    while (!mMoved.empty()) {
        Moved& moved = mMoved.back();
        // Never over a file another program made under that name meanwhile. A second link
        // first: a rename that just failed to put the new file in place may fail again.
        const bool linked =
            !Injected(KPlatformFileCall::eLink) &&
            linkat(mFolder, moved.hidden.c_str(), mFolder, moved.name.c_str(), 0) == 0;
        const bool here =
            linked || (errno != EEXIST && RenameNoReplace(mFolder, moved.hidden.c_str(), mFolder,
                                                          moved.name.c_str()) == 0);
        if (!here || (linked && (Injected(KPlatformFileCall::eUnlink) ||
                                 unlinkat(mFolder, moved.hidden.c_str(), 0) != 0))) {
            Leave(moved);
            back = false;
        }
        mMoved.pop_back();
    }
    mHeld.reset();
    return back;
}

bool KPlatformSetAside::Remove() {
    using namespace KPlatformFileParts;
    bool removed = true;
    for (Moved& moved : mMoved) {
        struct stat st;
        // Only the file moved there: a hidden name another program took since is not ours,
        // and one gone is gone. One that cannot be looked at may still hold it.
        const bool looked = LookAt(mFolder, moved.hidden.c_str(), st) == 0;
        if (looked ? st.st_dev != moved.device || st.st_ino != moved.inode : errno == ENOENT)
            continue;
        if (!looked || Injected(KPlatformFileCall::eUnlink) ||
            unlinkat(mFolder, moved.hidden.c_str(), 0) != 0) {
            Leave(moved);
            removed = false;
        }
    }
    mMoved.clear();  // none is put back once the new file is in place
    Close();
    // The folder is the user's, even emptied: it stays.
    mHeld.reset();
    return removed;
}
