// Version-5 media: the "Media" section with one clip per distinct texture file, its content
// embedded in binary files when asked.

#include <string>
#include <vector>

#include "attributes/KQovTexture.h"
#include "foundation/KPath.h"
#include "io/KStreamOptionsQov.h"
#include "io/qov/KQovPropertyFieldFile.h"
#include "io/qov/KQovWriterQov5.h"
#include "io/qov/KQovWriterQovSections.h"
#include "scene/KQovEntityContainer.h"
#include "scene/KQovScene.h"

void KQovWriterQov5::CollectMedia(KQovScene* scene, std::vector<MediaEntry>& entries) {
    KQovEntityContainer* entity = scene->GetEntityContainer();
    auto nameTaken = [&entries](const KString& name) {
        for (const MediaEntry& entry : entries)
            if (entry.name == name) return true;
        return false;
    };
    for (int i = 0; i < entity->GetTextureCount(); ++i) {
        auto* texture = dynamic_cast<KQovTexture*>(entity->GetTexture(i));
        const char* file = texture ? texture->GetFileName() : "";
        if (!file[0]) continue;
        // One clip per file: the whole cleaned path decides, not its last part.
        const KString path = KCleanPath(file);
        bool listed = false;
        for (const MediaEntry& entry : entries) listed = listed || entry.path == path;
        if (listed) continue;
        // Another file of the same name gets a name of its own ("a.tif", "a_1.tif", ...).
        KString name = KExtractFileName(path.Buffer(), true);
        const KString extension = KExtractFileExtension(name.Buffer());
        const KString stem = KExtractFileName(path.Buffer(), false);
        for (int n = 1; nameTaken(name); ++n)
            name = stem + "_" + KString(std::to_string(n).c_str()) +
                   (extension.IsEmpty() ? KString("") : KString(".") + extension);
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
        // The file goes in as it is: no image conversion is reachable from here.
        const bool content = embed && KFileExists(entry.path.Buffer());
        if (embed) {
            KQovWriteIntField(f, "Version", 101);
            KQovWriteIntField(f, "OriginalFormat", 1);
            f->FieldWriteC("OriginalFilename", entry.path.Buffer());
        }
        f->FieldWriteC("Filename", entry.fileName.Buffer());
        f->FieldWriteC("RelativeFilename", f->GetRelativeMediaPath(entry.path.Buffer()).Buffer());
        if (content) {
            f->FieldWriteBegin("Content");
            f->FieldWriteFileContent(entry.path.Buffer(), nullptr);
            f->FieldWriteEnd();
        }
        KQovWriteBlockEnd(f);
    }
    KQovWriteBlockEnd(f);
    KQovWriteBlockEnd(f);
    mMediaCount = int(entries.size());
}
