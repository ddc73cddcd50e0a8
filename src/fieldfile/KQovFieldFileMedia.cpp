// The folders beside a QOV file and the media files extracted from it.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "fieldfile/KQovFieldFile.h"
#include "foundation/KFileStream.h"
#include "foundation/KLocale.h"
#include "foundation/KPath.h"
#include "foundation/KQuotedText.h"
#include "platform/KPlatformFile.h"
#include "platform/KPlatformRandom.h"
#include "platform/KPlatformSignals.h"

namespace {

// The last path component of a name read from a file; empty for names that would leave
// the target folder or name no file.
std::string SafeFileName(const char* mediaName) {
    std::string name = mediaName ? mediaName : "";
    size_t slash = name.find_last_of("/\\");
    if (slash != std::string::npos) name = name.substr(slash + 1);
    if (name == "." || name == "..") return "";
    return name;
}

// Whether the file `path` is a finished file holding exactly these bytes.
bool HoldsBytes(const std::string& path, const uint8_t* content, uint32_t size) {
    FILE* file = KPlatformOpenFile(path.c_str(), "rb");
    if (!file) return false;
    bool same = true;
    unsigned char block[4096];
    uint32_t at = 0;
    while (same) {
        const size_t n = fread(block, 1, sizeof block, file);
        if (n == 0) break;
        same = n <= size - at && std::memcmp(block, content + at, n) == 0;
        at += uint32_t(n);
    }
    // Another read's file not kept yet may go again (asked once its bytes are read).
    same = same && at == size && !ferror(file) && !KPlatformIsNewFileNotKept(file);
    fclose(file);
    return same;
}

// What tells files apart cheaply: the length, and a hash of the first 64 KiB.
constexpr size_t kKeyedHead = 64 * 1024;

uint64_t HeadHash(const uint8_t* bytes, size_t size, uint64_t hash = 14695981039346656037ull) {
    for (size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 1099511628211ull;
    return hash;
}

// The key of the file at `path`; false when it cannot be read.
bool FileKey(const std::string& path, std::pair<uint64_t, uint64_t>& key) {
    FILE* file = KPlatformOpenFile(path.c_str(), "rb");
    if (!file) return false;
    uint64_t hash = HeadHash(nullptr, 0);
    uint64_t length = 0;
    unsigned char block[4096];
    for (size_t n; (n = fread(block, 1, sizeof block, file)) > 0;) {
        if (length < kKeyedHead)
            hash = HeadHash(block, std::min(n, size_t(kKeyedHead - length)), hash);
        length += n;
        if (length >= kKeyedHead) break;
    }
    const bool ok = !ferror(file) && fseek(file, 0, SEEK_END) == 0;
    const long end = ok ? ftell(file) : -1;
    fclose(file);
    if (end < 0) return false;
    key = {uint64_t(end), hash};
    return true;
}

std::string WithSlash(std::string folder) {
    if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder += '/';
    return folder;
}

}  // namespace

static KString CompanionFolder(KQovFieldFile& file, const std::string& folder, bool create) {
    if (KPlatformIsDirectory(folder.c_str())) return KString((folder + "/").c_str());
    if (!create) return KString("");
    if (!KCreatePath((folder + "/").c_str())) {
        file.GetError().SetErrorWithText(
            KQovFieldFile::eDirectoryNotCreated,
            ("Unable to create directory " + KQovMessageText(folder)).c_str());
        return KString("");
    }
    return KString((folder + "/").c_str());
}

KString KQovFieldFile::GetDataFolderName(bool create) {
    // The one a read takes the project file from.
    return CompanionFolder(*this, ProjectFolder(mFullName), create);
}

KString KQovFieldFile::GetMediaFolderName(bool create) {
    return CompanionFolder(*this, KChangeFileExtension(mFullName.c_str(), ".qom").Buffer(),
                           create);
}

KString KQovFieldFile::GetRelativeMediaPath(const char* path) {
    // From the file's own folder: its name is the caller's, where a '\' is part of a name.
    return KMakeRelativePathFrom(mFolder.empty() ? "./" : mFolder.c_str(), path);
}

KString KQovFieldFile::GetAbsoluteMediaPath(const char* relativePath) {
    std::string base = mFolder.empty() ? std::string(KGetCurrentDirectory().Buffer()) : mFolder;
    return KResolvePath(base.c_str(), relativePath);
}

bool KQovFieldFile::ExtractMedia(KString& resultPath, const char* mediaName,
                                 const char* targetFolder, bool& extracted) {
    extracted = false;
    resultPath = "";
    std::string name = SafeFileName(mediaName);
    if (name.empty()) {
        SetError(eInvalidData, ("Invalid media file name " + KQovMessageText(mediaName)).c_str());
        return false;
    }
    uint32_t size = 0;
    const uint8_t* content = FieldReadR(size);
    auto earlier = mExtracted.find(mediaName);
    if (earlier != mExtracted.end()) {
        resultPath = earlier->second.c_str();
        return true;
    }
    // An empty file is not extracted: the name stored stands.
    if (!content || size == 0) return true;
    std::string folder;
    if (targetFolder && *targetFolder) {
        folder = WithSlash(targetFolder);
        KCreatePath(folder.c_str());
    } else {
        folder = GetMediaFolderName(true).Buffer();
        if (folder.empty()) {
            mError.ClearError();
            folder = TempMediaFolder();
        }
    }
    // A file the system refuses its permissions fails the media: no other folder takes them.
    mMediaRefused = false;
    for (int attempt = 0; attempt < 2 && !folder.empty(); ++attempt) {
        std::string path;
        if (PlaceMedia(folder, name, content, size, path)) {
            mExtracted[mediaName] = path;
            mExtractedFolders[path] = folder;
            resultPath = path.c_str();
            extracted = true;
            return true;
        }
        if (mMediaRefused) break;
        folder = attempt == 0 ? TempMediaFolder() : std::string();
    }
    // A folder of its own that holds nothing goes again (only while empty): a read leaves none.
    bool holds = false;
    for (const std::string& placed : mEmbeddedNames)
        holds = holds || placed.rfind(mTempMediaFolder, 0) == 0;
    if (!mTempMediaFolder.empty() && !holds) {
        RemoveTempMedia();
        mTempMediaFolder.clear();
        mMadeFolders.clear();
    }
    SetError(eNoSpaceLeft);
    return false;
}

std::string KQovFieldFile::TempMediaFolder() {
    if (!mTempMediaFolder.empty()) return mTempMediaFolder;
    const std::string temp = WithSlash(KPlatformGetTempFolder());
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char bytes[6];
        if (!KPlatformRandomBytes(bytes, sizeof bytes)) break;
        std::string folder = temp + "qom-";
        for (unsigned char b : bytes) folder += "abcdefghijklmnopqrstuvwxyz0123456789"[b % 36];
        int slot = -1;
        if (KPlatformMakeFolderForSignals(folder.c_str(), slot)) {
            if (slot >= 0) mFolderSlots.push_back(slot);
            return mTempMediaFolder = folder + "/";
        }
        const int error = errno;
        if (!KPlatformPathExists(folder.c_str())) {
            mMediaError = error;
            break;
        }
    }
    return std::string();
}

KString KQovFieldFile::AddMediaFile(const char* folder, const char* name, const uint8_t* content,
                                    uint32_t size) {
    std::string path;
    const std::string file = SafeFileName(name);
    mMediaError = 0;
    if (!folder || !*folder || file.empty() || !content || size == 0 ||
        !PlaceMedia(WithSlash(folder), file, content, size, path))
        return KString("");
    return KString(path.c_str());
}

std::string KQovFieldFile::NumberedMediaPath(const std::string& folder, const std::string& name,
                                             int n) {
    if (n == 0) return folder + name;
    const std::string numbered = folder + std::to_string(n) + "/";
    if (KPlatformIsDirectory(numbered.c_str())) return numbered + name;
    // Folders made go again at the end when they hold nothing, and so on a signal.
    int slot = -1;
    if (!KPlatformMakeFolderForSignals(numbered.c_str(), slot))
        return KPlatformIsDirectory(numbered.c_str()) ? numbered + name : std::string();
    if (slot >= 0) mFolderSlots.push_back(slot);
    mMadeFolders.push_back(numbered);
    return numbered + name;
}

bool KQovFieldFile::PlaceMedia(const std::string& folder, const std::string& name,
                               const uint8_t* content, uint32_t size, std::string& path) {
    // Below the next number only names given back, and names another file of these bytes
    // holds, can be taken: each is looked at again in turn (and listed anew if still taken).
    MediaNumbers& numbers = mMediaNumbers[{folder, name}];
    const std::pair<uint64_t, uint64_t> key(size,
                                            HeadHash(content, std::min(size_t(size), kKeyedHead)));
    std::vector<int> again;
    for (int n : numbers.recheck)
        if (n < numbers.next) again.push_back(n);
    const auto held = numbers.held.find(key);
    if (held != numbers.held.end())
        for (int n : held->second)
            if (n < numbers.next) again.push_back(n);
    std::sort(again.begin(), again.end());
    for (int n : again) {
        numbers.recheck.erase(n);
        if (held != numbers.held.end()) held->second.erase(n);
        const int placed = PlaceMediaAt(folder, name, content, size, n, path, numbers);
        if (placed < 0) numbers.recheck.insert(n);
        if (placed != 0) return placed > 0;
    }
    for (int n = numbers.next; n <= 99999; ++n) {
        const int placed = PlaceMediaAt(folder, name, content, size, n, path, numbers);
        if (placed == 0) continue;
        numbers.next = placed > 0 ? n + 1 : n;
        return placed > 0;
    }
    numbers.next = 100000;
    return false;
}

int KQovFieldFile::PlaceMediaAt(const std::string& folder, const std::string& name,
                                const uint8_t* content, uint32_t size, int n, std::string& path,
                                MediaNumbers& numbers) {
    path = n == 0 ? folder + name : folder + std::to_string(n) + "/" + name;
    if (mEmbeddedNames.count(path)) return 0;
    path = NumberedMediaPath(folder, name, n);
    if (path.empty()) {
        mMediaError = errno ? errno : EIO;
        return -1;
    }
    KPlatformNewFile out;
    if (out.Create(path.c_str())) {
        // Media of the temporary folder are never kept: they go with the read, or on a
        // signal. Readable from the start, so their times are settled once written.
        const bool temp = !mTempMediaFolder.empty() &&
                          path.compare(0, mTempMediaFolder.size(), mTempMediaFolder) == 0;
        if (temp) out.OpenToWriters();
        if (fwrite(content, 1, size, out.GetFile()) != size || !out.Close()) {
            mMediaError = out.GetError() ? out.GetError() : errno ? errno : EIO;
            out.Remove();
            return -1;
        }
        // A file left without its permissions is no file of the media: it goes.
        if (!temp && !out.Keep()) {
            mMediaError = out.GetError();
            mMediaRefused = true;
            out.RemoveKept();
            return -1;
        }
        mMadeMedia.emplace(path, std::move(out));
        mEmbeddedNames.insert(path);
        mMediaNumberOf[path] = {&numbers, n};
        return 1;
    }
    if (out.GetError() == ENOMEM) throw std::bad_alloc();  // no other folder would do
    if (out.GetError() != EEXIST) {
        mMediaError = out.GetError();
        return -1;
    }
    // A file of these bytes there already (read before) stands for them; any other
    // file stays as it is and the media take the next name.
    if (HoldsBytes(path, content, size)) {
        mEmbeddedNames.insert(path);
        mMediaNumberOf[path] = {&numbers, n};
        return 1;
    }
    std::pair<uint64_t, uint64_t> key;
    if (FileKey(path, key))
        numbers.held[key].insert(n);
    else
        numbers.recheck.insert(n);  // gone meanwhile, or not readable: asked again
    return 0;
}

void KQovFieldFile::RemoveTempMedia() {
    // Only the files this field file made there, while their names still hold them, and then
    // the folders it made, each only when empty.
    if (!mTempMediaFolder.empty())
        for (auto& made : mMadeMedia)
            if (made.first.compare(0, mTempMediaFolder.size(), mTempMediaFolder) == 0 &&
                !made.second.RemoveKept())
                made.second.Remove();
    for (auto folder = mMadeFolders.rbegin(); folder != mMadeFolders.rend(); ++folder)
        KPlatformRemoveDirectory(folder->c_str());
    if (!mTempMediaFolder.empty()) KPlatformRemoveDirectory(mTempMediaFolder.c_str());
    for (int slot : mFolderSlots) KPlatformForgetForSignals(slot);
    mFolderSlots.clear();
}

std::string KQovFieldFile::GetExtractedMediaFolder(const char* path) const {
    const auto placed = mExtractedFolders.find(path ? path : "");
    return placed == mExtractedFolders.end() ? std::string() : placed->second;
}

bool KQovFieldFile::RemoveExtractedMedia(const char* path, bool freeName) {
    const auto made = mMadeMedia.find(path ? path : "");
    if (made == mMadeMedia.end()) return false;
    // Media of the temporary folder were never kept.
    const bool removed = made->second.RemoveKept() || made->second.Remove();
    if (removed && freeName) {
        mEmbeddedNames.erase(made->first);
        // The name is free again for the next search.
        const auto number = mMediaNumberOf.find(made->first);
        if (number != mMediaNumberOf.end())
            number->second.first->recheck.insert(number->second.second);
    }
    mMadeMedia.erase(made);
    return removed;
}
