// The folders beside a QOV file and the media files extracted from it.

#include <cstring>

#include "foundation/KFileStream.h"
#include "foundation/KLocale.h"
#include "foundation/KPath.h"
#include "fieldfile/KQovFieldFile.h"
#include "platform/KPlatformFile.h"

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

std::string WithSlash(std::string folder) {
    if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder += '/';
    return folder;
}

}  // namespace

static KString CompanionFolder(KQovFieldFile& file, const std::string& fullName,
                               const char* extension, bool create) {
    std::string folder = KChangeFileExtension(fullName.c_str(), extension).Buffer();
    if (KPlatformIsDirectory(folder.c_str())) return KString((folder + "/").c_str());
    if (!create) return KString("");
    if (!KCreatePath((folder + "/").c_str())) {
        file.GetError().SetErrorWithText(
            KQovFieldFile::eDirectoryNotCreated,
            KFormatC("Unable to create directory %s", folder.c_str()).c_str());
        return KString("");
    }
    return KString((folder + "/").c_str());
}

KString KQovFieldFile::GetDataFolderName(bool create) {
    return CompanionFolder(*this, mFullName, ".qod", create);
}

KString KQovFieldFile::GetMediaFolderName(bool create) {
    return CompanionFolder(*this, mFullName, ".qom", create);
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
        SetError(eInvalidData,
                 KFormatC("Invalid media file name %s", mediaName ? mediaName : "").c_str());
        return false;
    }
    uint32_t size = 0;
    const uint8_t* content = FieldReadR(size);
    auto earlier = mExtracted.find(mediaName);
    if (earlier != mExtracted.end()) {
        resultPath = earlier->second.c_str();
        return true;
    }
    std::string folder;
    if (targetFolder && *targetFolder) {
        folder = WithSlash(targetFolder);
        KCreatePath(folder.c_str());
    } else {
        folder = GetMediaFolderName(true).Buffer();
        if (folder.empty()) {
            mError.ClearError();
            folder = WithSlash(KPlatformGetTempFolder());
        }
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::string path = folder + name;
        for (int n = 1; mEmbeddedNames.count(path); ++n)
            path = folder + std::to_string(n) + "/" + name;
        if (path != folder + name) KCreatePath(path.c_str());
        if (!content || size == 0) {
            KRemoveFile(path.c_str());
            return true;
        }
        KFileStream out;
        if (out.Open(path.c_str(), "wb")) {
            bool ok = out.Write(content, size) == size && !out.HasError();
            // A failed write leaves whatever file of that name was there before.
            if (!ok) out.Discard();
            if (ok && out.Commit()) {
                mEmbeddedNames.insert(path);
                mExtracted[mediaName] = path;
                resultPath = path.c_str();
                extracted = true;
                return true;
            }
        }
        folder = WithSlash(KPlatformGetTempFolder());
    }
    SetError(eNoSpaceLeft);
    return false;
}
