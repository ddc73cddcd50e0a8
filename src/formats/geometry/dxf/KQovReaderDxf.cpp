#include "formats/geometry/dxf/KQovReaderDxf.h"

#include <algorithm>
#include <cerrno>
#include <functional>
#include <new>
#include <string>
#include <unordered_map>

#include "attributes/KQovMesh.h"
#include "formats/geometry/dxf/KDxfDrawingReader.h"
#include "formats/geometry/dxf/KDxfGroupReader.h"
#include "formats/geometry/dxf/KDxfSceneNodes.h"
#include "foundation/KFileStream.h"
#include "foundation/KLocale.h"
#include "foundation/KPath.h"
#include "foundation/KQuotedText.h"
#include "foundation/KTextLineReader.h"
#include "io/KStreamOptionsBase.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

namespace {

// Materials belong to the scene's object manager, not to the drawing reader.
class KManagedDrawingReader : public KDxfDrawingReader {
public:
    KManagedDrawingReader(int mode, bool weld, KQovObjectManager* manager)
        : KDxfDrawingReader(mode, weld), mManager(manager) {}

protected:
    KQovMaterial* CreateMaterial(const std::string& name) override {
        return mManager->CreateMaterial(name.c_str());
    }

private:
    KQovObjectManager* mManager;
};

}  // namespace

KQovReaderDxf::KQovReaderDxf(KQovObjectManager* manager) : KQovPathReader(manager) {}

KStreamOptions* KQovReaderDxf::GetReadOptions(bool) {
    return KStreamOptionsDxf::Create();
}

KQovReaderDxf::ELoad KQovReaderDxf::LoadText(std::string& text, int& readError) {
    readError = 0;
    KFileStream file;
    if (!file.Open(mFileName.Buffer(), "rb")) return eNotOpened;
    // A seek or a size that fails is the system's failure to read the file.
    if (file.Seek(2, 0) != 0) return readError = errno ? errno : EIO, eReadFailed;
    const int64_t size = file.Tell();
    if (size < 0 || file.Seek(0, 0) != 0) return readError = errno ? errno : EIO, eReadFailed;
    try {
        text.resize(size_t(size));
    } catch (const std::bad_alloc&) {
        return eNoMemory;
    }
    size_t done = 0;
    while (done < text.size()) {
        const uint32_t part = uint32_t(std::min<size_t>(text.size() - done, 1u << 30));
        const uint32_t got = file.Read(&text[done], part);
        if (file.GetReadError()) return readError = file.GetReadError(), eReadFailed;
        // Fewer bytes than the file held a moment ago, without a failed read: it was cut.
        if (got != part) return eCutShort;
        done += part;
    }
    // The end the size tells is confirmed by a read: one the system fails is no end.
    char past;
    file.Read(&past, 1);
    if (file.GetReadError()) return readError = file.GetReadError(), eReadFailed;
    return eLoaded;
}

bool KQovReaderDxf::Read(KQovScene* scene, KStreamOptions* options) {
    if (!mOpen || !scene || !scene->GetRootNode()) {
        mError.SetError(eFileNotOpened);
        return false;
    }
    if (!options || !options->IsA(KStreamOptionsDxf::ClassId())) {
        mError.SetError(eStreamOptionsNotSet);
        return false;
    }
    auto* dxf = static_cast<KStreamOptionsDxf*>(options);
    const int mode = dxf->GetObjectDerivation();
    const bool weld = dxf->GetOptionValue(4) == 1;
    const bool referenceNode = dxf->GetOptionValue(1) == 1;

    std::string text;
    int readError = 0;
    switch (LoadText(text, readError)) {
        case eLoaded:
            break;
        case eNoMemory:
            mError.SetErrorWithText(
                eUnidentifiedError,
                ("Out of memory while reading " + KQovMessageText(mFileName.Buffer())).c_str());
            return false;
        case eReadFailed:
            mError.SetErrorWithText(eFileNotOpened,
                                    KReadFileError(mFileName.Buffer(), readError).c_str());
            return false;
        case eCutShort:
            mError.SetErrorWithText(eFileNotOpened,
                                    "Read error: the file was cut short while it was read");
            return false;
        default:
            mError.SetErrorWithText(eFileNotOpened, KOpenForReadError(mFileName.Buffer()).c_str());
            return false;
    }
    if (KTextLineReader::IsWideText(std::string_view(text).substr(0, 64))) {
        mError.SetErrorWithText(eFileCorrupted, KTextLineReader::kWideTextMessage);
        return false;
    }
    KQovNode* parent = scene->GetRootNode();
    if (referenceNode) {
        const KString name = KExtractFileName(mFileName.Buffer(), false) + "_root";
        KQovNode* reference = mManager->CreateNode(name.Buffer());
        if (!reference) {
            mError.SetError(eUnidentifiedError);
            return false;
        }
        parent->AddChild(reference);
        parent = reference;
    }
    KManagedDrawingReader drawing(mode, weld, mManager);
    const bool read = drawing.Read(text);
    mStatus += drawing.GetStatus().c_str();
    // Meshes are remade through the manager, which owns everything in the scene.
    const KDxfNodeFactory factory = [this](const std::string& name) -> KQovNode* {
        return mManager->CreateNode(name.c_str());
    };
    // The manager alone owns the copies it makes, the records only their own meshes: however
    // the read ends, out of memory too, each mesh is deleted once.
    std::unordered_map<const KDxfNodeRecord*, KQovMesh*> copies;
    bool placed = true;
    std::function<void(KDxfNodeList&)> adopt = [&](KDxfNodeList& records) {
        for (auto& record : records) {
            if (record->mesh && placed) {
                KQovMesh* mesh = mManager->CreateMesh();
                if (mesh) {
                    copies.emplace(record.get(), mesh);
                    mesh->Copy(*record->mesh);  // layers and polygons; the points follow
                    mesh->GetControlPoints() = record->mesh->GetControlPoints();
                    record->mesh.reset();
                } else {
                    placed = false;
                }
            }
            adopt(record->children);
        }
    };
    adopt(drawing.GetNodes());
    const KDxfMeshOf meshOf = [&](const KDxfNodeRecord& record) -> KQovMesh* {
        auto it = copies.find(&record);
        if (it == copies.end()) return nullptr;
        KQovMesh* mesh = it->second;
        copies.erase(it);
        return mesh;
    };
    if (placed) placed = KDxfAddNodes(drawing.GetNodes(), parent, factory, meshOf);
    for (const auto& copy : copies) mManager->DestroyNodeAttribute(copy.second);
    if (!placed) {
        mError.SetError(eUnidentifiedError);
        return false;
    }
    if (!read || drawing.HasBadNumber()) {
        // Counted only now: the reader seeks back and forth through the blocks.
        const size_t offset = std::min(drawing.GetOffset(), text.size());
        const int line = int(std::count(text.begin(), text.begin() + long(offset), '\n')) +
                         (offset > 0 && text[offset - 1] != '\n' ? 1 : 0);
        const std::string why =
            KDxfGroupReader::IsBinary(text) ? std::string("binary drawings are not read")
            : drawing.HasBadNumber()
                ? KFormatC("a number that is not finite or is larger than 2^100 (about 1.27e30), line %d", line)
            : drawing.IsCorrupt()
                ? KFormatC("a group code that is not a number, line %d", line)
                : KFormatC("the drawing ends before its EOF group, line %d", line);
        mError.SetErrorWithText(eFileCorrupted, ("File is corrupted: " + why).c_str());
        return false;
    }
    return true;
}
