#include "formats/geometry/KTextureCopies.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "foundation/KLocale.h"
#include "foundation/KPath.h"
#include "platform/KPlatformFile.h"

namespace {

std::string TargetBeside(const char* path, const char* written, const char* name) {
    const KString folder = KExtractFileFolder(written);
    const KString own = KExtractFileName(path, true);
    return KResolvePath(folder.Buffer(), name ? name : own.Buffer()).Buffer();
}

std::string Upper(std::string name) {
    for (char& c : name) c = KToUpper(c);
    return name;
}

bool CopyTo(const char* path, const std::string& target, std::string& status) {
    FILE* in = KPlatformOpenFile(path, "rb");
    if (!in) {
        status += std::string("Unable to locate texture file \"") + path + "\".\n";
        return false;
    }
    // No half-written image stays behind: the copy takes its name only when whole.
    KPlatformReplaceFile copy;
    bool ok = copy.Open(target.c_str(), "wb");
    FILE* out = copy.GetFile();
    char block[1024];
    while (ok) {
        const size_t n = fread(block, 1, sizeof block, in);
        if (n == 0) break;
        ok = fwrite(block, 1, n, out) == n;
    }
    ok = ok && feof(in) && !ferror(in);
    fclose(in);
    ok = ok && copy.Commit();
    if (!ok) status += "Error writing texture file \"" + target + "\".\n";
    return ok;
}

}  // namespace

bool KCopyTextureFile(const char* path, const char* written, std::string& status,
                      const char* name) {
    if (!path || !written) return false;
    const std::string target = TargetBeside(path, written, name);
    if (KFileExists(target.c_str())) return true;
    return CopyTo(path, target, status);
}

namespace {

bool SameBytes(const char* a, const char* b) {
    FILE* first = KPlatformOpenFile(a, "rb");
    FILE* second = first ? KPlatformOpenFile(b, "rb") : nullptr;
    bool same = first && second;
    char x[1024], y[1024];
    while (same) {
        const size_t n = fread(x, 1, sizeof x, first);
        same = fread(y, 1, sizeof y, second) == n && std::memcmp(x, y, n) == 0;
        if (n == 0) break;
    }
    same = same && !ferror(first) && !ferror(second);
    if (first) fclose(first);
    if (second) fclose(second);
    return same;
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
    mWritten = written;
    mPlaced.clear();
    mHolders.clear();
    mNext.clear();
    mByContent.clear();
    mContent.clear();
    mCopies.clear();
    mBeside.clear();
    mListed = 0;
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
        fclose(file);
    }
    return mContent[path] = content;
}

bool KTextureNames::SameImage(const std::string& a, const std::string& b) {
    if (a == b) return true;
    const auto content = Content(a);
    return content.first != 0 && content == Content(b) && SameBytes(a.c_str(), b.c_str());
}

bool KTextureNames::FreeBeside(const std::string& path, const std::string& name,
                               bool unknownIsFree) {
    const KString target =
        KResolvePath(KExtractFileFolder(mWritten.c_str()).Buffer(), name.c_str());
    if (!MaybeBeside(name) || !KFileExists(target.Buffer())) return true;
    // An image that cannot be read cannot be told apart: it keeps its own name.
    if (unknownIsFree && Content(path).first == 0) return true;
    return SameBytes(path.c_str(), target.Buffer());
}

bool KTextureNames::MaybeBeside(const std::string& name) {
    if (mListed == 0) {
        std::vector<KPlatformDirEntry> entries;
        const std::string folder = KExtractFileFolder(mWritten.c_str()).Buffer();
        mListed =
            KPlatformListDirectory(KResolvePath(folder.c_str(), "*").Buffer(), entries) ? 1 : -1;
        for (const KPlatformDirEntry& entry : entries)
            if (!entry.isDirectory) mBeside.insert(Upper(entry.name));
    }
    return mListed < 0 || mBeside.count(Upper(name)) > 0;
}

std::string KTextureNames::Take(const std::string& path, const std::string& name,
                                const std::string& file) {
    mHolders[Key(file)] = Holder{path, true};
    const auto content = Content(path);
    if (content.first != 0) mByContent[content].push_back(file);
    mCopies.emplace_back(path, file);
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
    std::string displaced;
    if (!own.empty()) {
        const std::string file = FileNameOf(own);
        const auto holder = mHolders.find(Key(file));
        if (holder != mHolders.end() && holder->second.placed) {
            // One image under one name: the same bytes share it.
            if (!holder->second.path.empty() && SameImage(path, holder->second.path))
                return mPlaced[path] = own;
            displaced = file;
        } else if (FreeBeside(path, file, true)) {
            return Take(path, own, file);
        } else {
            displaced = file;
        }
    }
    const std::string fileName = FileNameOf(path);
    const int same = SameImageName(path, fileName);
    // Made names count on per start, so many images of one start cost no more each.
    int& next = mNext[Key(MadeName(fileName, 0))];
    std::string name;
    for (int n = next; n <= 99999; ++n) {
        if (same >= 0 && n >= same) {
            name = MadeName(fileName, same);
            mPlaced[path] = name;
            break;
        }
        const std::string candidate = MadeName(fileName, n);
        if (mHolders.count(Key(candidate))) {
            if (n == next) ++next;
            continue;
        }
        if (FreeBeside(path, candidate, false)) {
            name = Take(path, candidate, candidate);
            break;
        }
    }
    if (name.empty()) {
        status += "No free name is left for texture \"" + path + "\".\n";
        return mPlaced[path] = own.empty() ? MadeName(fileName, 0) : own;
    }
    status += "Texture \"" + path + "\" is written as \"" + name + "\": " +
              (displaced.empty() ? NoOwnName() : "another image is named \"" + displaced + "\"") +
              ".\n";
    return name;
}

void KTextureNames::CopyPlaced(std::string& status) noexcept {
    size_t missed = 0;
    for (size_t i = 0; i < mCopies.size(); ++i) {
        try {
            const char* path = mCopies[i].first.c_str();
            const std::string& name = mCopies[i].second;
            // A name the folder did not hold is copied without asking again.
            const bool copied =
                MaybeBeside(name)
                    ? KCopyTextureFile(path, mWritten.c_str(), status, name.c_str())
                    : CopyTo(path, TargetBeside(path, mWritten.c_str(), name.c_str()), status);
            if (copied && mListed > 0) mBeside.insert(Upper(name));
        } catch (const std::bad_alloc&) {
            if (!missed++) {
                try {
                    status += "Out of memory: texture file \"" + mCopies[i].first +
                              "\" and the ones after it were not copied.\n";
                } catch (const std::bad_alloc&) {
                }
            }
            break;
        }
    }
    mCopies.clear();
}

std::string KTextureNamesObj::OwnName(const std::string& path) const {
    return FileNameOf(path);
}

std::string KTextureNamesObj::MadeName(const std::string& fileName, int n) const {
    if (n == 0) return fileName;
    const size_t dot = fileName.rfind('.');
    const size_t cut = dot == 0 || dot == std::string::npos ? fileName.size() : dot;
    return fileName.substr(0, cut) + "~" + KFormatC("%d", n) + fileName.substr(cut);
}
