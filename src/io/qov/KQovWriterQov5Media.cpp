// Version-5 media: the "Media" section with one clip per distinct texture file, its content
// embedded in binary files when asked. A file the host's converters turn into an image goes in
// as TIFF, through a copy of its own in the temporary folder that is deleted once embedded.

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "attributes/KQovTexture.h"
#include "attributes/images/KImage.h"
#include "attributes/images/KImageConverterRegistry.h"
#include "attributes/images/KTiffImage.h"
#include "foundation/KFileStream.h"
#include "foundation/KPath.h"
#include "io/KStreamOptionsQov.h"
#include "io/qov/KQovPropertyFieldFile.h"
#include "io/qov/KQovWriterQov5.h"
#include "io/qov/KQovWriterQovSections.h"
#include "scene/KQovEntityContainer.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

namespace {

// The file that goes into "Content": the media file itself, or a TIFF copy of it that is
// removed again when this goes out of scope.
struct EmbeddedContent {
    KString path;
    KString tiffCopy;
    bool keepOriginal = true;
    KString originalName;
    EmbeddedContent() = default;
    EmbeddedContent(const EmbeddedContent&) = delete;
    EmbeddedContent& operator=(const EmbeddedContent&) = delete;
    ~EmbeddedContent() {
        if (!tiffCopy.IsEmpty()) KRemoveFile(tiffCopy.Buffer());
    }
};

// Asks the converters, in registration order, for the image of `file`; when one gives an image
// that is not to be kept as it is, the image is written as TIFF into a new unique file.
void PrepareContent(const std::vector<KImageConverterRegistry*>& registries, const char* file,
                    EmbeddedContent& content) {
    KImage image;
    image.SetKeepOriginal(true);
    image.SetFileName(file);
    content.path = file;
    bool converted = false;
    for (KImageConverterRegistry* registry : registries)
        if (registry && registry->Convert(KImageConverterRegistry::eReadFile, file, image)) {
            converted = true;
            break;
        }
    content.originalName = image.GetFileName();
    if (!converted || image.GetKeepOriginal()) return;
    const KString copy = KGetTempFileName(nullptr, "qovmedia");
    if (copy.IsEmpty()) return;
    content.tiffCopy = copy;
    // Without a readable copy the file goes in as it is, marked as such.
    if (!WriteTiffImage(copy.Buffer(), true, image)) return;
    content.path = copy;
    content.keepOriginal = false;
}

}  // namespace

void KQovWriterQov5::CollectMedia(KQovScene* scene, std::vector<MediaEntry>& entries) {
    KQovEntityContainer* entity = scene->GetEntityContainer();
    // The paths and names of the entries, looked up once per texture.
    std::unordered_set<std::string> paths, names;
    // Per name made from (its stem and extension), the lowest number maybe free: numbers below
    // it were taken, and names are only added, so many files of one name cost no more each.
    std::unordered_map<std::string, int> next;
    for (const MediaEntry& entry : entries) {
        paths.insert(entry.path.Buffer());
        names.insert(entry.name.Buffer());
    }
    for (int i = 0; i < entity->GetTextureCount(); ++i) {
        auto* texture = dynamic_cast<KQovTexture*>(entity->GetTexture(i));
        const char* file = texture ? texture->GetFileName() : "";
        if (!file[0]) continue;
        // One clip per file: the whole cleaned path decides, not its last part.
        const KString path = KCleanPath(file);
        if (!paths.insert(path.Buffer()).second) continue;
        // Another file of the same name gets a name of its own ("a.tif", "a_1.tif", ...).
        KString name = KExtractFileName(path.Buffer(), true);
        if (names.count(name.Buffer()) != 0) {
            const KString extension = KExtractFileExtension(name.Buffer());
            const std::string stem = KExtractFileName(path.Buffer(), false).Buffer();
            const std::string dot = extension.IsEmpty() ? "" : "." + std::string(extension.Buffer());
            int& n = next.try_emplace(stem + '\0' + dot, 1).first->second;
            std::string made;
            for (;; ++n) {
                made = stem + "_" + std::to_string(n) + dot;
                if (names.count(made) == 0) break;
            }
            name = made.c_str();
        }
        names.insert(name.Buffer());
        entries.push_back({name, path, KString(file)});
    }
}

void KQovWriterQov5::WriteMedia(KQovScene* scene) {
    std::vector<MediaEntry> entries;
    CollectMedia(scene, entries);
    const bool embed = mOptions->GetSwitch(KStreamOptionsQov::eEmbedMedia) && mFile->IsBinary();
    KQovFieldFile* f = mFile;
    KQovWriteBlockBegin(f, "Media");
    KQovWriteBlockBegin(f, "Video");
    for (const MediaEntry& entry : entries) {
        KQovWriteBlockBegin(f, "Video", entry.name.Buffer());
        f->FieldWriteC("Type", "Clip");
        WriteClipFields(entry, embed);
        KQovWriteBlockEnd(f);
    }
    KQovWriteBlockEnd(f);
    KQovWriteBlockEnd(f);
    mMediaCount = int(entries.size());
    for (const MediaEntry& entry : entries) mClipOfFile[entry.path] = entry.name;
}

void KQovWriterQov5::WriteClipFields(const MediaEntry& entry, bool embed) {
    KQovFieldFile* f = mFile;
    const bool old = IsVersion5();
    EmbeddedContent content;
    content.originalName = entry.fileName;
    if (embed)
        PrepareContent(mManager->GetImageConverterRegistries(), entry.path.Buffer(), content);
    // Version-6 clips always say how they were kept; version-5 ones only with content.
    if (embed || !old) {
        KQovWriteIntField(f, "Version", 101);
        KQovWriteIntField(f, "OriginalFormat", content.keepOriginal ? 1 : 0);
        f->FieldWriteC("OriginalFilename", content.originalName.Buffer());
    }
    if (old) f->FieldWriteC("Filename", entry.fileName.Buffer());
    f->FieldWriteC("RelativeFilename", f->GetRelativeMediaPath(entry.path.Buffer()).Buffer());
    // A file there that the system does not let the write read fails the write.
    if (embed && (KFileExists(content.path.Buffer()) ||
                  KQovFieldFile::UnreadableFileError(content.path.Buffer()))) {
        f->FieldWriteBegin("Content");
        f->FieldWriteFileContent(content.path.Buffer(), nullptr);
        f->FieldWriteEnd();
    }
}

KString KQovWriterQov5::MediaNameOf(KQovTexture* texture) const {
    // Textures find their file through the clip's name, which may differ from the texture's
    // own media name (two files of one name give two clips).
    const char* file = texture->GetFileName();
    const auto clip = file[0] ? mClipOfFile.find(KCleanPath(file)) : mClipOfFile.end();
    return clip != mClipOfFile.end() ? clip->second : KString(texture->GetMediaName());
}
