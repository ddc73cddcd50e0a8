#pragma once
// What the parts of the file services share (KPlatformFile*.cpp): name handling, the calls
// tests can make fail, and this thread's record of its last failures.

#include <sys/stat.h>

#include <string>

#include "platform/KPlatformFile.h"

namespace KPlatformFileParts {

// Splits "dir/name" at the last '/'; the folder of a bare name is ".".
void SplitFolder(const std::string& path, std::string& folder, std::string& name);

// True when a write to either name replaces one file: the same file where one exists, the same
// name in the same folder where none does yet. The names are the ends of their links.
bool SameTarget(const std::string& a, const std::string& b);

// The hidden name of a new file beside `name` in `folder`: ".<name>.<suffix>.tmp". A name too
// long for that (the folder's longest name, or the longest path) is cut short at the start of
// a character, so the longest names that the folder takes can still be replaced.
std::string HiddenName(const std::string& folder, const std::string& name);
// Puts fresh random letters in place of the suffix of a HiddenName, without allocating.
bool RandomSuffix(std::string& hidden);

// Gives the file open as `fd` the permissions `mode` when it still has none and some name leads
// to it (one removed by every name has none to give). Safe in a signal handler. False, with
// errno set, when the system refused them.
bool GiveModeThrough(int fd, unsigned mode) noexcept;

// True, with errno set, when the call is to fail as the test asked (KPlatformFailFileCalls).
bool Injected(KPlatformFileCall call);
int Link(const std::string& from, const std::string& to);
int Rename(const std::string& from, const std::string& to);
int Unlink(const std::string& path);
// stat and fstatat (links not followed) that tests can make fail (eLook).
int Look(const std::string& path, struct stat& st);
int LookAt(int folder, const char* name, struct stat& st);
// Renames `from` in the folder open as `fromFolder` to `to` in `toFolder` (AT_FDCWD: names of
// their own), never over a file that bears the new name already (EEXIST then). Where the file
// system refuses to be asked (EINVAL), by a second name and the first removed; where it has no
// hard links either, the new name is looked at and then taken by a plain rename.
int RenameNoReplace(int fromFolder, const char* from, int toFolder, const char* to);

// The system's error number of the last replacement of this thread that failed.
extern thread_local int gLastReplaceError;
// The system's error number of the last new file of this thread that could not be begun, and
// the name it was begun for.
extern thread_local int gLastCreateError;
// Whether the last failed set of this thread had two targets that were one file.
extern thread_local bool gLastOneFile;

// What a thread keeps of its last failures beyond numbers: held through a thread slot, since a
// thread_local object with a destructor ends the process when the system has no memory to note it.
struct ThreadFailures {
    std::string createPath;  // the name the last new file that could not be begun was begun for
    std::string regularOnly;  // the name a file begun must find no device or pipe at
    const std::vector<KPlatformFileFound>* keep = nullptr;  // files a file begun must not be
    KPlatformReplaceFailure failure;
};
ThreadFailures* KeptFailures();
// Throws std::bad_alloc as the strings and lists it holds would.
ThreadFailures& MadeFailures();
// The name a living KPlatformRegularFileOnly gave, or none.
const std::string* RegularOnly();
// Whether the file `st` is one a living KPlatformKeepFilesRead keeps from being written.
bool KeptFromWriting(const struct stat& st);
// Notes the name a new file could not be begun for; without memory for it, no name matches.
void NoteCreatePath(const char* path) noexcept;
// Forgets the last set's failure, allocating nothing.
void ForgetLastFailure();

}  // namespace KPlatformFileParts
