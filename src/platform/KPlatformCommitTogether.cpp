// Several files put in place as one (KPlatformReplaceFile::CommitTogether).

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <new>
#include <vector>

#include "platform/KPlatformFile.h"
#include "platform/KPlatformFileParts.h"
#include "platform/KPlatformSignals.h"

namespace {

int RenameAside(const std::string& from, const std::string& to) {
    return KPlatformFileParts::RenameNoReplace(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str());
}

// How an old file is kept while the new files of a set take their places.
enum class Kept : unsigned char { eNone, eLinked, eAside };

// Keeps the old file `target` under the hidden name `kept`: a second link to it, so it stays
// whatever takes its name, or, where the file system has no links (or the file no more), the
// file itself renamed aside. true with eNone when there is no old file to keep; false (errno
// set) when there is one and it cannot be kept.
bool KeepOld(const std::string& target, std::string& kept, Kept& how) {
    using namespace KPlatformFileParts;
    how = Kept::eNone;
    struct stat st;
    if (lstat(target.c_str(), &st) != 0) return errno == ENOENT;
    if (!S_ISREG(st.st_mode)) return true;  // a folder, which no file replaces
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (!RandomSuffix(kept)) break;
        if (Link(target, kept) == 0) {
            how = Kept::eLinked;
            return true;
        }
        if (errno == EEXIST) continue;
        if (RenameAside(target, kept) == 0) {
            how = Kept::eAside;
            return true;
        }
        if (errno != EEXIST) return false;
    }
    errno = EEXIST;
    return false;
}

// One file, as written: its number, its size and its modification time.
bool SameWritten(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// Whether `target`, as it stands now (`st`), still holds the file that was `placed` there: its
// number, and, since the number of a file deleted may go to the next one, its size and times.
bool HoldsPlaced(const struct stat& st, const struct stat& placed) {
    return placed.st_ino != 0 && SameWritten(st, placed) &&
           st.st_ctim.tv_sec == placed.st_ctim.tv_sec &&
           st.st_ctim.tv_nsec == placed.st_ctim.tv_nsec;
}

bool HoldsPlaced(const std::string& target, const struct stat& placed) {
    struct stat st;
    return stat(target.c_str(), &st) == 0 && HoldsPlaced(st, placed);
}

// A hidden name that was not there to remove (ENOENT) is gone only while the folder is still
// where it was: the target leads to the new file put there. A folder moved or renamed since
// took the hidden name with it.
bool HiddenGone(int error, const std::string& target, const struct stat& placed) {
    struct stat st;
    return error == ENOENT && stat(target.c_str(), &st) == 0 && st.st_dev == placed.st_dev &&
           st.st_ino == placed.st_ino;
}

// A file of another user in a folder whose sticky bit lets only owners remove or replace what
// is in it: no new file takes its place, and a second name of it made there could not go
// again. Refused before anything is kept aside.
bool StickyRefuses(const std::string& target) {
    struct stat st, folder;
    if (lstat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    std::string dir, name;
    KPlatformFileParts::SplitFolder(target, dir, name);
    if (stat(dir.c_str(), &folder) != 0 || (folder.st_mode & S_ISVTX) == 0) return false;
    const uid_t me = geteuid();
    return me != 0 && st.st_uid != me && folder.st_uid != me;
}

}  // namespace

bool KPlatformReplaceFile::CommitTogether(KPlatformReplaceFile* const* files, size_t count) {
    using namespace KPlatformFileParts;
    bool ok = files && count > 0;
    for (size_t i = 0; ok && i < count; ++i)
        ok = files[i] && (files[i]->mFile || files[i]->mFinished);
    ForgetLastFailure();
    for (size_t i = 0; ok && i < count; ++i) ok = files[i]->Finish();
    // Asked once every byte is out and every file closed: nothing of the write comes after.
    ok = ok && KPlatformCommitGuard::Allows();
    if (!ok) {
        for (size_t i = 0; files && i < count; ++i)
            if (files[i]) files[i]->Abandon();
        return false;
    }
    try {
        return PlaceFinished(files, count);
    } catch (...) {
        // A file left waiting would take its place when its stream closes, after the refusal.
        for (size_t i = 0; i < count; ++i) files[i]->Drop();
        throw;
    }
}

bool KPlatformReplaceFile::PlaceFinished(KPlatformReplaceFile* const* files, size_t count) {
    using namespace KPlatformFileParts;
    // Two targets that are one file would end holding one new file of the two.
    for (size_t i = 0; i < count; ++i)
        for (size_t j = i + 1; j < count; ++j)
            if (!files[i]->mTemp.empty() && !files[j]->mTemp.empty() &&
                SameTarget(files[i]->mTarget, files[j]->mTarget))
                return DropTogether(files, count, EINVAL, true);
    // Everything the steps below need is made first: nothing there allocates, so nothing is left
    // half done. One file alone needs none of it: its rename replaces or leaves the old file.
    const bool together = count > 1;
    std::vector<std::string> kept(count);
    std::vector<Kept> how(count, Kept::eNone);
    std::vector<struct stat> fresh(count);
    std::vector<struct stat> placedAs(count);  // each new file as its name showed it once placed
    std::vector<int> unseen(count, 0);  // why a target could not be looked at, once placed
    std::vector<char> mixed(count, 0);
    std::vector<char> saved(count, 0);
    std::vector<int> stuck(count, 0);  // why a second name of an old file that stayed could not go
    for (size_t i = 0; together && i < count; ++i) {
        std::string folder, name;
        SplitFolder(files[i]->mTarget, folder, name);
        if (!files[i]->mTemp.empty()) kept[i] = HiddenName(folder, name);
    }
    KPlatformSignalsHeld held;
    int error = 0;
    bool oneFile = false;
    for (size_t i = 0; together && i < count && error == 0; ++i)
        if (!files[i]->mTemp.empty() && StickyRefuses(files[i]->mTarget)) error = EPERM;
    // Every old file is kept before any new file takes a place.
    for (size_t i = 0; together && i < count && error == 0; ++i)
        if (!files[i]->mTemp.empty() && !KeepOld(files[i]->mTarget, kept[i], how[i])) error = errno;
    size_t placed = 0;
    for (; error == 0 && placed < count; ++placed) {
        KPlatformReplaceFile& file = *files[placed];
        if (file.mTemp.empty()) continue;  // a device, written already
        if (together) {
            // A target reached by two names that no check above saw as one (a folder that
            // ignores case) shows the new file put there a moment ago.
            struct stat st;
            if (stat(file.mTemp.c_str(), &fresh[placed]) != 0) {
                error = errno;
                break;
            }
            // Only while the earlier name still shows it: a file another program saved there
            // since makes no pair of one file.
            for (size_t i = 0; i < placed && stat(file.mTarget.c_str(), &st) == 0; ++i)
                if (!files[i]->mTemp.empty() && st.st_dev == fresh[i].st_dev &&
                    st.st_ino == fresh[i].st_ino && HoldsPlaced(files[i]->mTarget, placedAs[i]))
                    oneFile = true;
            if (oneFile) {
                error = EINVAL;
                break;
            }
        }
        if (Rename(file.mTemp, file.mTarget) != 0) {
            error = errno;
            break;
        }
        // What a roll-back may remove: the new file as it stands in its place (the rename
        // changed its status time), and nothing another program saved there already, by a
        // rename or into the file itself.
        struct stat& now = placedAs[placed];
        if (together && Look(file.mTarget, now) != 0) {
            unseen[placed] = errno;
            now.st_ino = 0;
        } else if (together && !SameWritten(now, fresh[placed])) {
            now.st_ino = 0;
        }
    }
    if (error == 0) {
        for (size_t i = 0; i < count; ++i) {
            if (how[i] != Kept::eNone && Unlink(kept[i]) != 0) {
                const int why = errno;
                // The set is in place whatever happens to the word about the hidden name.
                try {
                    if (!HiddenGone(why, files[i]->mTarget, fresh[i]))
                        MadeFailures().failure.left.push_back({files[i]->mTarget, kept[i], why});
                } catch (const std::bad_alloc&) {
                }
            }
            KPlatformCommitGuard::NotePlaced(files[i]->mTarget);
            files[i]->mTemp.clear();
            files[i]->Drop();
        }
        gLastReplaceError = 0;
        return true;
    }
    // Back as they were: each old file in its place again, no file where there was none, and
    // nothing hidden left. What cannot be put back is told with the hidden name of its old file.
    bool anyMixed = false;
    for (size_t i = 0; i < count; ++i) {
        KPlatformReplaceFile& file = *files[i];
        if (file.mTemp.empty()) continue;
        const bool wasPlaced = i < placed;
        bool back = true;
        bool changed = false, emptied = false;
        struct stat now;
        if (wasPlaced && unseen[i] == 0) {
            if (Look(file.mTarget, now) == 0)
                changed = !HoldsPlaced(now, placedAs[i]);
            else if (errno != ENOENT)
                unseen[i] = errno;
            // Emptied since (the new file removed, or its folder moved): not another program's
            // file; a link there that leads nowhere is.
            else
                changed = true, emptied = lstat(file.mTarget.c_str(), &now) != 0 && errno == ENOENT;
        }
        if (unseen[i] != 0) {
            // Whether the new file is still there, or another program's, is not known: it
            // stays, and so does the old file's hidden name.
        } else if (changed && !emptied) {
            // Another program saved a file there since: it stays, and so does the old file's
            // hidden name.
            saved[i] = 1;
        } else if (emptied && how[i] == Kept::eNone) {
            // Nothing to put back, nothing of this write's left at the name.
        } else if (emptied || (how[i] == Kept::eAside && !wasPlaced)) {
            // Its place is empty: the old file goes back; one taken meanwhile is another
            // program's file.
            back = RenameAside(kept[i], file.mTarget) == 0;
            saved[i] = !back && errno == EEXIST;
            back = back || saved[i];
        } else if (how[i] == Kept::eAside || (how[i] == Kept::eLinked && wasPlaced)) {
            back = Rename(kept[i], file.mTarget) == 0;
        } else if (how[i] == Kept::eLinked) {
            // The old file never left its place; its second name is told if it stays.
            if (Unlink(kept[i]) != 0 && errno != ENOENT) stuck[i] = errno;
        } else if (wasPlaced) {
            back = Unlink(file.mTarget) == 0;
        }
        if (wasPlaced) file.mTemp.clear();  // renamed: nothing left to remove
        mixed[i] = !back;
        anyMixed = anyMixed || !back;
    }
    if (anyMixed)
        for (size_t i = 0; i < count; ++i)
            if (mixed[i]) {
                MadeFailures().failure.mixed.emplace_back(files[i]->mTarget,
                                                how[i] == Kept::eNone ? std::string() : kept[i]);
                if (how[i] == Kept::eAside && i >= placed)
                    MadeFailures().failure.gone.push_back(files[i]->mTarget);
            }
    // Told once every file is back: the words may find no memory.
    for (size_t i = 0; i < count; ++i) {
        const std::string hidden = how[i] == Kept::eNone ? std::string() : kept[i];
        if (saved[i]) MadeFailures().failure.saved.emplace_back(files[i]->mTarget, hidden);
        if (i < placed && unseen[i] != 0)
            MadeFailures().failure.unseen.push_back({files[i]->mTarget, hidden, unseen[i]});
        if (stuck[i] != 0) MadeFailures().failure.left.push_back({files[i]->mTarget, hidden, stuck[i]});
    }
    return DropTogether(files, count, error, oneFile);
}

bool KPlatformReplaceFile::DropTogether(KPlatformReplaceFile* const* files, size_t count, int error,
                                        bool oneFile) {
    using namespace KPlatformFileParts;
    for (size_t i = 0; i < count; ++i) files[i]->Drop();
    gLastReplaceError = error;
    gLastOneFile = oneFile;
    return false;
}

