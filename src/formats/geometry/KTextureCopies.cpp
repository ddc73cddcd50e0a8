#include "formats/geometry/KTextureCopies.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "foundation/KLocale.h"
#include "foundation/KPath.h"
#include "foundation/KQuotedText.h"

namespace {

constexpr size_t kLongestName = 255;

// A file beside the output. The output's name is one the caller gave: '/' alone separates its
// folders, so "sub\o.obj" lies in the current folder, and so do its images.
std::string BesideOutput(const std::string& written, const std::string& name) {
    const size_t slash = written.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : written.substr(0, slash + 1);
    return KCleanFileName((folder + name).c_str()).Buffer();
}

std::string Upper(std::string name) {
    for (char& c : name) c = KToUpper(c);
    return name;
}

// Whether an image that cannot be read is not there (0: nothing tells otherwise).
bool Missing(int error) {
    return error == ENOENT || error == ENOTDIR || error == 0;
}

// Why an image cannot be read: missing, or what the system says.
std::string SourceProblem(const char* path, int error) {
    const std::string shown = KQovMessageText(path);
    if (Missing(error)) return "Unable to locate texture file \"" + shown + "\".\n";
    return "Unable to read texture file \"" + shown + "\": " + KImageProblemCause(error) + ".\n";
}

// The system's error number for an image that cannot be read (EIO when it opens).
int ReadError(const std::string& path) {
    FILE* file = KPlatformOpenFile(path.c_str(), "rb");
    const int error = !file ? errno : KPlatformIsDirectory(path.c_str()) ? EISDIR : EIO;
    if (file) fclose(file);
    return error;
}

std::string WriteProblem(const std::string& target, int error) {
    return "Error writing texture file \"" + KQovMessageText(target) + "\"" +
           (error ? ": " + KImageProblemCause(error) : std::string()) + ".\n";
}

// Copies the image into the file made for it; false with the system's error number, and
// `reading` when it was the image that could not be read to its end.
bool CopyInto(FILE* in, KPlatformNewFile& copy, int& error, bool& reading) {
    FILE* out = copy.GetFile();
    char block[4096];
    error = 0;
    reading = false;
    for (;;) {
        errno = 0;
        const size_t n = fread(block, 1, sizeof block, in);
        if (n == 0) break;
        if (fwrite(block, 1, n, out) != n) {
            error = errno;
            return false;
        }
    }
    if (ferror(in) || !feof(in)) {
        error = errno ? errno : EIO;
        reading = true;
        return false;
    }
    if (!copy.Close()) {
        error = copy.GetError();
        return false;
    }
    return true;
}

// Makes `target` new as `copy` and copies `path` into it, for the caller to keep or remove.
// False when it cannot be made or written, nothing left then, with a line in `problems` for a
// cause of the input or in `failure` for one of the system; `error` is EEXIST, without a line,
// when the name is taken.
bool CopyNew(const char* path, const std::string& target, KPlatformNewFile& copy,
             std::string& problems, std::string& failure, int& error) {
    FILE* in = KPlatformOpenFile(path, "rb");
    if (!in) {
        error = errno;
        if (error == ENOMEM) throw std::bad_alloc();
        (KIsImageInputProblem(error) ? problems : failure) += SourceProblem(path, error);
        return false;
    }
    bool ok = copy.Create(target.c_str());
    error = copy.GetError();
    bool reading = false;
    if (ok) ok = CopyInto(in, copy, error, reading);
    fclose(in);
    if (!ok) {
        copy.Remove();
        // Memory running out is told as everywhere else.
        if (error == ENOMEM) throw std::bad_alloc();
        if (reading)
            (KIsImageInputProblem(error) ? problems : failure) += SourceProblem(path, error);
        else if (error != EEXIST)
            failure += WriteProblem(target, error);
    }
    return ok;
}

// Whether the files hold the same bytes; `error` is the system's error number when one could
// not be read to the end (0 when both were, or the bytes differ before).
bool SameBytes(const char* a, const char* b, int& error) {
    error = 0;
    errno = 0;
    FILE* first = KPlatformOpenFile(a, "rb");
    FILE* second = first ? KPlatformOpenFile(b, "rb") : nullptr;
    if (!second) error = errno ? errno : EIO;
    bool same = first && second;
    char x[1024], y[1024];
    while (same) {
        errno = 0;
        const size_t n = fread(x, 1, sizeof x, first);
        const size_t m = fread(y, 1, sizeof y, second);
        if (ferror(first) || ferror(second)) {
            error = errno ? errno : EIO;
            same = false;
            break;
        }
        same = m == n && std::memcmp(x, y, n) == 0;
        if (n == 0) break;
    }
    // Another write's copy not kept yet may go again: it is not shared. Asked once its bytes
    // are read, since such a copy is marked before they are written.
    if (same && KPlatformIsNewFileNotKept(second)) same = false;
    if (first) fclose(first);
    if (second) fclose(second);
    return same;
}

bool SameBytes(const char* a, const char* b) {
    int error = 0;
    return SameBytes(a, b, error);
}

// Whether a file has the name `target` (in another case too, where the system is looked at
// so); `error` is the system's error number when that cannot be told (the name then counts as
// taken).
bool NameTaken(const std::string& target, int& error) {
    error = 0;
    errno = 0;
    FILE* file = KPlatformOpenFile(target.c_str(), "rb");
    if (file) {
        fclose(file);
        return true;
    }
    const int cause = errno;
    if (cause == ENOENT || cause == ENOTDIR) return false;
    if (!KIsImageInputProblem(cause)) error = cause ? cause : EIO;
    return true;
}

std::string FileNameOf(const std::string& path) {
    return KExtractFileName(path.c_str(), true).Buffer();
}

}  // namespace

std::string KTextureNames::Key(const std::string& name) const {
    std::string key = name;
    if (mCaseless)
        for (char& c : key) c = KToUpper(c);
    return key;
}

void KTextureNames::Reset(const std::string& written, const std::vector<std::string>& own) {
    Drop();
    mWritten = written;
    mPlaced.clear();
    mHolders.clear();
    mNext.clear();
    mByContent.clear();
    mContent.clear();
    mUnreadable.clear();
    mProblems.clear();
    mFailure.clear();
    mBeside.clear();
    mListedNames.clear();
    mListed = 0;
    mTried = 0;
    mPassed.clear();
    for (const std::string& file : own) mHolders[Key(FileNameOf(file))] = Holder{"", true};
}

void KTextureNames::Reserve(const std::string& path) {
    const std::string own = OwnName(path);
    if (!own.empty()) mHolders.emplace(Key(FileNameOf(own)), Holder{path, false});
}

std::pair<uint64_t, uint64_t> KTextureNames::Content(const std::string& path) {
    const auto known = mContent.find(path);
    if (known != mContent.end()) return known->second;
    std::pair<uint64_t, uint64_t> content{0, 0};
    errno = 0;
    if (FILE* file = KPlatformOpenFile(path.c_str(), "rb")) {
        uint64_t size = 0, hash = 14695981039346656037ull;
        unsigned char block[4096];
        size_t n;
        while ((n = fread(block, 1, sizeof block, file)) > 0) {
            size += n;
            for (size_t i = 0; i < n; ++i) hash = (hash ^ block[i]) * 1099511628211ull;
        }
        // A size of 0 stands for no content: an empty image is kept apart by its hash.
        if (!ferror(file)) content = {size + 1, hash};
        if (ferror(file)) mUnreadable[path] = errno ? errno : EIO;
        fclose(file);
    } else {
        mUnreadable[path] = errno;
    }
    return mContent[path] = content;
}

bool KTextureNames::SameImage(const std::string& a, const std::string& b) {
    if (a == b) return true;
    const auto content = Content(a);
    return content.first != 0 && content == Content(b) && SameBytes(a.c_str(), b.c_str());
}

std::string KTextureNames::Shown(const std::string& name) const {
    const auto listed = mListedNames.find(Upper(name));
    return BesideOutput(mWritten, listed != mListedNames.end() ? listed->second : name);
}

bool KTextureNames::MaybeBeside(const std::string& name) {
    if (mListed == 0) {
        std::vector<KPlatformDirEntry> entries;
        mListed = KPlatformListDirectory(BesideOutput(mWritten, "*").c_str(), entries) ? 1 : -1;
        for (const KPlatformDirEntry& entry : entries)
            if (!entry.isDirectory && mBeside.emplace(Upper(entry.name), std::string()).second)
                mListedNames.emplace(Upper(entry.name), entry.name);
    }
    return mListed < 0 || mBeside.count(Upper(name)) > 0;
}

KTextureNames::Claim KTextureNames::ClaimBeside(const std::string& path, const std::string& file,
                                                bool unknownIsFree, std::string& shared) {
    ++mTried;
    const std::string target = BesideOutput(mWritten, file);
    const bool readable = Content(path).first != 0;
    if (MaybeBeside(file)) {
        const auto beside = mBeside.find(Upper(file));
        if (beside != mBeside.end() && !beside->second.empty()) {
            // An image of this write, under the name in another case.
            if (!SameImage(path, beside->second)) return Claim::eTaken;
            shared = mPlaced[beside->second];
            return Claim::eShared;
        }
        int error = 0;
        if (NameTaken(target, error)) {
            if (error != 0) {
                // What is there cannot be told for a cause of the system: the write fails.
                if (error == ENOMEM) throw std::bad_alloc();
                if (mFailure.empty())
                    mFailure = "Unable to read file \"" + KQovMessageText(Shown(file)) +
                               "\" beside the output: " + KImageProblemCause(error) + ".\n";
                return Claim::eTaken;
            }
            if (!readable) {
                if (!unknownIsFree) return Claim::eTaken;
                // Nothing tells it apart: it keeps its name, and the report says it is missing.
                NoImage(path);
                return Claim::eNoImage;
            }
            // Read once: a file of other bytes is told without reading the two side by side.
            const auto there = Content(target);
            if (there.first != 0 && there != Content(path)) return Claim::eTaken;
            if (SameBytes(path.c_str(), target.c_str(), error)) return Claim::eShared;
            // A file that cannot be compared for a cause of the system fails the write: it may
            // be the image's or not.
            if (error == ENOMEM) throw std::bad_alloc();
            if (error != 0 && !KIsImageInputProblem(error) && mFailure.empty())
                mFailure = "Unable to compare texture file \"" + KQovMessageText(path) +
                           "\" with \"" + KQovMessageText(Shown(file)) +
                           "\": " + KImageProblemCause(error) + ".\n";
            return Claim::eTaken;
        }
    }
    if (!readable) {
        NoImage(path);
        return Claim::eNoImage;
    }
    if (!mFailure.empty()) return Claim::eCopied;  // the write fails: no more copies
    // The copy goes to the end of the list before the file is made: whatever fails after, the
    // list knows it.
    mMade.emplace_back();
    int error = 0;
    if (!CopyNew(path.c_str(), target, mMade.back(), mProblems, mFailure, error)) {
        mMade.pop_back();
        if (error == EEXIST) {
            // Another program made it since the folder was listed.
            mBeside.emplace(Upper(file), std::string());
            return Claim::eTaken;
        }
    }
    return Claim::eCopied;
}

void KTextureNames::NoImage(const std::string& path) {
    // Why it could not be read the first time (too many open files then, say).
    const auto first = mUnreadable.find(path);
    const int error = first != mUnreadable.end() ? first->second : ReadError(path);
    if (error == ENOMEM) throw std::bad_alloc();
    if (KIsImageInputProblem(error))
        mProblems += SourceProblem(path.c_str(), error);
    else if (mFailure.empty())
        mFailure = SourceProblem(path.c_str(), error);
}

std::string KTextureNames::Take(const std::string& path, const std::string& name,
                                const std::string& file) {
    mHolders[Key(file)] = Holder{path, true};
    mBeside[Upper(file)] = path;
    const auto content = Content(path);
    if (content.first != 0) mByContent[content].push_back(file);
    return mPlaced[path] = name;
}

int KTextureNames::SameImageName(const std::string& path, const std::string& fileName) {
    const auto content = Content(path);
    if (content.first == 0) return -1;
    const auto names = mByContent.find(content);
    if (names == mByContent.end()) return -1;
    int lowest = -1;
    for (const std::string& name : names->second) {
        // A made name carries its number after "~"; a name without one is number 0.
        const size_t tilde = name.rfind('~');
        const int n = tilde == std::string::npos ? 0 : std::atoi(name.c_str() + tilde + 1);
        if (n < 0 || (lowest >= 0 && n >= lowest)) continue;
        if (Key(MadeName(fileName, n)) != Key(name)) continue;
        if (SameImage(path, mHolders[Key(name)].path)) lowest = n;
    }
    return lowest;
}

std::string KTextureNames::Place(const std::string& path, std::string& status) {
    const auto placed = mPlaced.find(path);
    if (placed != mPlaced.end()) return placed->second;
    const std::string own = OwnName(path);
    std::string displaced, shared;
    if (!own.empty()) {
        const std::string file = FileNameOf(own);
        const auto holder = mHolders.find(Key(file));
        if (holder != mHolders.end() && holder->second.placed) {
            // One image under one name: the same bytes share it.
            if (!holder->second.path.empty() && SameImage(path, holder->second.path))
                return mPlaced[path] = own;
            const auto other = mPlaced.find(holder->second.path);
            displaced = other != mPlaced.end() ? FileNameOf(other->second) : file;
        } else {
            switch (ClaimBeside(path, file, true, shared)) {
                case Claim::eTaken: {
                    // Another image of the file may hold the name in another case.
                    const auto beside = mBeside.find(Upper(file));
                    const auto other = beside == mBeside.end() || beside->second.empty()
                                           ? mPlaced.end()
                                           : mPlaced.find(beside->second);
                    // The name of the other file as it is, in its own case.
                    const auto listed = mListedNames.find(Upper(file));
                    displaced = other != mPlaced.end()         ? FileNameOf(other->second)
                                : listed != mListedNames.end() ? listed->second
                                                               : file;
                    break;
                }
                case Claim::eShared:
                    if (!shared.empty()) return mPlaced[path] = shared;
                    [[fallthrough]];
                default:
                    return Take(path, own, file);
            }
        }
    }
    const std::string fileName = FileNameOf(path);
    const int same = SameImageName(path, fileName);
    // Made names count on per start, so many images of one start cost no more each: a name
    // another file has is passed over once, its bytes noted for an image that has them.
    const std::string start = Key(MadeName(fileName, 0));
    int& next = mNext[start];
    std::string name;
    bool unread = false;  // the name is written, but no copy holds it
    const int passed = PassedOver(start, path);
    if (passed >= 0 && (same < 0 || passed < same) && mFailure.empty())
        TakeMadeName(path, MadeName(fileName, passed), name, unread);
    // Once the write fails no more names are tried: it names none of them.
    for (int n = next; name.empty() && n <= 99999 && mFailure.empty(); ++n) {
        if (same >= 0 && n >= same) {
            name = MadeName(fileName, same);
            mPlaced[path] = name;
            break;
        }
        const std::string candidate = MadeName(fileName, n);
        if (!mHolders.count(Key(candidate))) {
            if (TakeMadeName(path, candidate, name, unread)) break;
            NotePassed(start, candidate, n);
        } else {
            ++mTried;
        }
        if (n == next) ++next;
    }
    if (name.empty()) {
        // Written under a name another file has, it would show that file: the write fails.
        if (mFailure.empty())
            mFailure = "No free name is left for texture \"" + KQovMessageText(path) + "\".\n";
        return mPlaced[path] = own.empty() ? MadeName(fileName, 0) : own;
    }
    const auto why = mUnreadable.find(path);
    const bool missing = why == mUnreadable.end() || Missing(why->second);
    status +=
        "Texture \"" + KQovMessageText(path) + "\" is written as \"" + KQovMessageText(name) +
        "\"" +
        (!unread   ? ""
         : missing ? ", with no copy (unable to locate it)"
                   : ", with no copy (it cannot be read)") +
        ": " +
        (displaced.empty() ? NoOwnName()
                           : "another image is named \"" + KQovMessageText(displaced) + "\"") +
        ".\n";
    return name;
}

bool KTextureNames::TakeMadeName(const std::string& path, const std::string& candidate,
                                 std::string& name, bool& unread) {
    std::string shared;
    const Claim claim = ClaimBeside(path, candidate, false, shared);
    if (claim == Claim::eShared && !shared.empty()) {
        name = mPlaced[path] = shared;
        return true;
    }
    if (claim == Claim::eTaken) return false;
    name = Take(path, candidate, candidate);
    unread = claim == Claim::eNoImage;
    return true;
}

void KTextureNames::NotePassed(const std::string& start, const std::string& candidate, int n) {
    // What holds the name: an image of this write under it in another case, or a file.
    const auto beside = mBeside.find(Upper(candidate));
    const auto content = Content(beside != mBeside.end() && !beside->second.empty()
                                     ? beside->second
                                     : BesideOutput(mWritten, candidate));
    if (content.first == 0) return;
    const auto noted = mPassed.emplace(std::make_pair(start, content), n).first;
    if (n < noted->second) noted->second = n;
}

int KTextureNames::PassedOver(const std::string& start, const std::string& path) {
    const auto content = Content(path);
    if (content.first == 0 || mPassed.empty()) return -1;
    const auto noted = mPassed.find(std::make_pair(start, content));
    return noted == mPassed.end() ? -1 : noted->second;
}

void KTextureNames::Report(std::string& status) {
    status += mProblems;
    mProblems.clear();
}

void KTextureNames::Keep(std::string& status) noexcept {
    for (KPlatformNewFile& copy : mMade) {
        if (copy.Keep()) continue;
        try {
            status += "The image copy " + KQovMessageText(copy.GetPath()) +
                      " has no permissions: " + KImageProblemCause(copy.GetError()) + "\n";
        } catch (const std::bad_alloc&) {
        }
    }
    mMade.clear();
}

void KTextureNames::Drop() noexcept {
    for (KPlatformNewFile& copy : mMade) copy.Remove();
    mMade.clear();
}

namespace {

// The MTL reader takes an image's name to its line's end, the blanks around it dropped.
bool ObjCanName(const std::string& name) {
    return !name.empty() && name.find_first_of("\r\n") == std::string::npos &&
           !KIsSpace(name.front()) && !KIsSpace(name.back());
}

}  // namespace

std::string KTextureNamesObj::OwnName(const std::string& path) const {
    const std::string name = FileNameOf(path);
    return ObjCanName(name) ? name : std::string();
}

std::string KTextureNamesObj::MadeName(const std::string& fileName, int n) const {
    if (!fileName.empty() && !ObjCanName(fileName)) {
        std::string name = fileName;
        for (char& c : name)
            if (c == '\r' || c == '\n') c = '_';
        if (KIsSpace(name.front())) name.front() = '_';
        if (KIsSpace(name.back())) name.back() = '_';
        return MadeName(name, n);
    }
    if (n == 0) return fileName;
    const size_t dot = fileName.rfind('.');
    const size_t cut = dot == 0 || dot == std::string::npos ? fileName.size() : dot;
    const std::string end = "~" + KFormatC("%d", n) + fileName.substr(cut);
    // Within the 255 bytes a file name may have: the start is cut short, never inside a
    // character.
    size_t keep = cut;
    if (keep + end.size() > kLongestName && end.size() < kLongestName) {
        keep = kLongestName - end.size();
        while (keep > 0 && (static_cast<unsigned char>(fileName[keep]) & 0xC0) == 0x80) --keep;
    }
    return fileName.substr(0, keep) + end;
}

bool KIsImageInputProblem(int error) {
    return error == 0 || error == ENOENT || error == ENOTDIR || error == EACCES || error == EPERM ||
           error == EISDIR || error == ELOOP || error == ENAMETOOLONG || error == EINVAL;
}

std::string KImageProblemCause(int error) {
    std::string text = KPlatformErrorText(error);
    if (!text.empty()) text[0] = KToLower(text[0]);
    return text;
}
