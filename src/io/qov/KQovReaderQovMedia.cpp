// Media of the QOV reader: video clips, the version-5 "Media" section, the file names that
// textures, camera backgrounds and gobos get from the clips they name, and embedded media,
// which is extracted into the media folder and turned back into its original format.
// Names from a file never choose a folder: only their last component is used.

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "attributes/KQovCamera.h"
#include "attributes/KQovLight.h"
#include "attributes/KQovTexture.h"
#include "attributes/images/KImage.h"
#include "attributes/images/KImageConverterRegistry.h"
#include "attributes/images/KTiffImage.h"
#include "foundation/KFileStream.h"
#include "foundation/KPath.h"
#include "foundation/KQuotedText.h"
#include "io/qov/KQovReaderQov.h"
#include "platform/KPlatformFile.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovVideo.h"

namespace {

// Names stored by a Windows host use '\'.
KString ForwardSlashes(const char* path) {
    KString out(path ? path : "");
    for (int i = 0; i < out.GetLen(); ++i)
        if (out[i] == '\\') out[i] = '/';
    return out;
}

// The whole file `path` (at most 4 GB - 1); false when it cannot be read or memory runs out.
// False, with the system's error number in `readError` when a read of the file failed.
bool ReadFileBytes(const char* path, std::vector<uint8_t>& bytes, int& readError) {
    readError = 0;
    bytes.clear();
    // Through the file stream, which tries again a read a signal interrupted.
    KFileStream file;
    if (!file.Open(path, "rb")) return false;
    bool ok = true;
    try {
        unsigned char block[65536];
        uint32_t n;
        while (ok && (n = file.Read(block, sizeof block)) > 0) {
            ok = bytes.size() + n <= UINT32_MAX;
            if (ok) bytes.insert(bytes.end(), block, block + n);
        }
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    if (ok && file.GetReadError()) {
        ok = false;
        readError = file.GetReadError();
    }
    file.Close();
    if (!ok) bytes.clear();
    return ok;
}

// Why a read fails for media the system did not let it write: a full disk only when the
// system said so.
std::string MediaNotWritten(const char* name, int error) {
    const bool full = error == 0 || error == ENOSPC || error == EDQUOT || error == EFBIG;
    std::string text = full ? "Out of disk space: unable to extract the media file "
                            : "File not created: unable to extract the media file ";
    text += KQovMessageText(name);
    if (error) text += ": " + KPlatformErrorText(error);
    return text;
}

// The last component of a stored name; empty when it names no file.
KString BaseName(const char* path) {
    const KString name = KExtractFileName(ForwardSlashes(path).Buffer(), true);
    return name == "." || name == ".." ? KString("") : name;
}

}  // namespace

KString KQovReaderQov::ConvertEmbeddedImage(const KString& extracted, const char* originalName) {
    KImage image;
    image.SetFileName(originalName);
    image.SetKeepOriginal(false);
    // Content that is no readable TIFF stays as extracted.
    int readError = 0;
    if (!ReadTiffImage(extracted.Buffer(), image, false, &readError)) {
        // Not seen for a read the system failed: no kind of content can be told of it.
        if (readError && mMediaLost.empty())
            mMediaLost = KReadFileError(extracted.Buffer(), readError);
        return extracted;
    }
    // Beside the media the file's other reads extract, not in a numbered folder of this one.
    std::string folder = mFile->GetExtractedMediaFolder(extracted.Buffer());
    if (folder.empty()) folder = std::string(KExtractDirectory(extracted.Buffer()).Buffer()) + "/";
    KString base = BaseName(originalName);
    if (base.IsEmpty()) base = KExtractFileName(extracted.Buffer(), true);
    // The original format under its base name, or a TIFF copy of the extracted file under its
    // own base name when no converter takes it. Either is made in memory (a converter's file
    // is a file of its own, read back and removed) and written as extracted media are: a file
    // made new, or one of the same bytes read before, never another that was there.
    std::vector<uint8_t> bytes;
    KString name = base;
    if (!ConvertedBytes(folder, base.Buffer(), image, bytes)) {
        const KString tiff = KChangeFileExtension(extracted.Buffer(), ".tif");
        // An encoding that fails (memory) throws: the read fails.
        if (tiff == extracted || !WriteTiffImageBytes(true, image, bytes)) return extracted;
        name = KExtractFileName(tiff.Buffer(), true);
    }
    if (bytes.size() > UINT32_MAX) return extracted;
    // A converter's file of the extracted file's own name takes that name when this read made
    // the extracted file (a later read then finds it); the extracted file goes once its
    // replacement exists.
    const bool freed = folder + name.Buffer() == extracted.Buffer() &&
                       mFile->RemoveExtractedMedia(extracted.Buffer(), true);
    const KString copy =
        mFile->AddMediaFile(folder.c_str(), name.Buffer(), bytes.data(), uint32_t(bytes.size()));
    if (copy.IsEmpty()) {
        // Refused by the system: the media are not as the file holds them, and the read fails.
        if (const int error = mFile->GetMediaError(); error && mMediaLost.empty())
            mMediaLost = MediaNotWritten(name.Buffer(), error);
        return extracted;
    }
    if (!freed) mFile->RemoveExtractedMedia(extracted.Buffer());
    return copy;
}

bool KQovReaderQov::ConvertedBytes(const std::string& folder, const char* name, KImage& image,
                                   std::vector<uint8_t>& bytes) {
    if (mManager->GetImageConverterRegistries().empty()) return false;
    // A file no media take (".~N-name", of the name's extension, which chooses the converter),
    // open to the converter, which writes it by name.
    KPlatformNewFile made;
    std::string path;
    for (int n = 0; n <= 99 && path.empty(); ++n) {
        const std::string candidate = folder + ".~" + std::to_string(n) + "-" + name;
        if (made.Create(candidate.c_str()))
            path = candidate;
        else if (made.GetError() != EEXIST)
            break;
    }
    if (path.empty()) return false;
    made.OpenToWriters();
    bool converted = false;
    for (KImageConverterRegistry* registry : mManager->GetImageConverterRegistries())
        if (registry &&
            registry->Convert(KImageConverterRegistry::eWriteFile, path.c_str(), image)) {
            converted = true;
            break;
        }
    int readError = 0;
    converted = converted && ReadFileBytes(path.c_str(), bytes, readError) && !bytes.empty();
    // The converter's file not read back is no file of another kind: the read fails.
    if (readError && mMediaLost.empty()) mMediaLost = KReadFileError(path.c_str(), readError);
    made.Remove();
    return converted;
}

bool KQovReaderQov::ReadVideo(KQovVideo* video) {
    if (mFile->IsVersion5Layout()) return true;
    ReadPropertyBlock(video);
    WrapUserProperties(video);
    video->SetUseMipMap(ReadInt("UseMipMap", 0) != 0);
    if (ReadInt("Version", 0) > 100) {
        video->SetOriginalFormat(ReadInt("OriginalFormat", 0) != 0);
        video->SetOriginalFileName(mFile->FieldReadC("OriginalFilename", ""));
    }
    // The property block sets the file name; a "Filename" field only stands in when it did not.
    KString fileName = video->GetFileName();
    if (fileName.IsEmpty()) fileName = mFile->FieldReadC("Filename", "");
    KString relative = mFile->FieldReadC("RelativeFilename", "");
    if (mFile->FieldReadBegin("Content")) {
        KString path;
        bool extracted = false;
        const bool placed =
            mFile->ExtractMedia(path, ForwardSlashes(fileName.Buffer()).Buffer(), "", extracted);
        if (!placed) NoteMediaLost(fileName.Buffer());
        if (placed && extracted) {
            if (!video->GetOriginalFormat())
                path = ConvertEmbeddedImage(path, video->GetOriginalFileName());
            fileName = path;
            relative = mFile->GetRelativeMediaPath(path.Buffer());
        }
        mFile->FieldReadEnd();
    }
    video->SetFileName(fileName.Buffer());
    video->SetRelativeFileName(relative.Buffer());
    return !fileName.IsEmpty();
}

KString KQovReaderQov::ResolveMediaPath(const char* fileName, const char* relativeName) {
    const KString f = ForwardSlashes(fileName), r = ForwardSlashes(relativeName);
    const KString a = f.IsEmpty() ? f : mFile->GetAbsoluteMediaPath(f.Buffer());
    const KString b = r.IsEmpty() ? r : mFile->GetAbsoluteMediaPath(r.Buffer());
    if (!a.IsEmpty() && KFileExists(a.Buffer())) return a;
    if (!b.IsEmpty() && KFileExists(b.Buffer())) return b;
    if (!f.IsEmpty()) return a;
    return b;
}

KString KQovReaderQov::ReadMediaFileName(const char* folder) {
    bool keepOriginal = true;
    KString originalName;
    if (ReadInt("Version", 100) > 100) {
        keepOriginal = ReadInt("OriginalFormat", 1) != 0;
        originalName = mFile->FieldReadC("OriginalFilename", "");
    }
    const KString fileName = mFile->FieldReadC("Filename", "");
    const KString relative = mFile->FieldReadC("RelativeFilename", "");
    if (!mFile->FieldReadBegin("Content"))
        return ResolveMediaPath(fileName.Buffer(), relative.Buffer());
    KString path;
    bool extracted = false;
    // Keyed by the whole stored name: images of one base name in two folders are two files.
    const bool ok =
        mFile->ExtractMedia(path, ForwardSlashes(fileName.Buffer()).Buffer(), folder, extracted);
    mFile->FieldReadEnd();
    if (!ok) NoteMediaLost(fileName.Buffer());
    if (!ok || !extracted) return ResolveMediaPath(fileName.Buffer(), relative.Buffer());
    return keepOriginal ? path : ConvertEmbeddedImage(path, originalName.Buffer());
}

void KQovReaderQov::NoteMediaLost(const char* name) {
    // Media the system refused to write fail the read; a name that can be no file does not.
    if (mFile->GetLastErrorID() != KQovFieldFile::eNoSpaceLeft || !mMediaLost.empty()) return;
    mMediaLost = MediaNotWritten(name, mFile->GetMediaError());
}

bool KQovReaderQov::ReadMediaAndResolveNames(KQovScene* scene, const char* folder) {
    (void)scene;
    std::vector<KString> clips, files;
    if (mFile->IsVersion5Layout() && OpenBlock("Media")) {
        if (OpenBlock("Video")) {
            while (mFile->FieldReadBegin("Video")) {
                const KString clip = mFile->FieldReadC();
                if (!clip.IsEmpty() && FindNameInList(clip.Buffer(), clips) < 0 &&
                    mFile->FieldReadBlockBegin()) {
                    if (KString(mFile->FieldReadC("Type", "")) == "Clip") {
                        const KString file = ReadMediaFileName(folder);
                        if (!file.IsEmpty()) {
                            clips.push_back(clip);
                            files.push_back(file);
                        }
                    }
                    mFile->FieldReadBlockEnd();
                }
                mFile->FieldReadEnd();
            }
            CloseBlock();
        }
        CloseBlock();
    }
    if (clips.empty()) return true;
    auto fileOf = [&](const char* name) {
        const int32_t at = name ? FindNameInList(name, clips) : -1;
        return at < 0 ? KString("") : KCleanPath(files[size_t(at)].Buffer());
    };
    for (KQovTexture* texture : mReadTextures) {
        const KString file = fileOf(texture->GetMediaName());
        if (file.IsEmpty()) continue;
        texture->SetFileName(file.Buffer());
        if (KString(texture->GetRelativeFileName()).IsEmpty())
            texture->SetRelativeFileName(mFile->GetRelativeMediaPath(file.Buffer()).Buffer());
    }
    // Each node on its own: file order does, without sorting the names.
    for (KQovNode* node : mNodesInFileOrder) {
        if (KQovCamera* camera = node->GetCamera()) {
            const KString file = fileOf(camera->GetBackgroundMediaName());
            if (!file.IsEmpty()) camera->SetBackgroundTextureName(file.Buffer());
        }
        if (KQovLight* light = node->GetLight()) {
            const KString file = fileOf(light->GetGoboFileName());
            if (!file.IsEmpty()) light->SetGoboFileName(file.Buffer());
        }
    }
    return true;
}
