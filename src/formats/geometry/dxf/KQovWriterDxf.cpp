#include "formats/geometry/dxf/KQovWriterDxf.h"

#include <vector>

#include "attributes/KQovMesh.h"
#include "attributes/KQovNurb.h"
#include "attributes/KQovPatch.h"
#include "attributes/geometry/KQovGeometryConverter.h"
#include "attributes/geometry/KQovPolygonTriangulation.h"
#include "formats/geometry/KQovDeformationBaker.h"
#include "formats/geometry/KQovGeometryContent.h"
#include "formats/geometry/KQovStillPose.h"
#include "formats/geometry/dxf/KDxfSceneNodes.h"
#include "formats/geometry/dxf/KDxfWriter.h"
#include "foundation/KFileStream.h"
#include "foundation/KLocale.h"
#include "foundation/KQuotedText.h"
#include "io/KStreamOptionsBase.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

KQovWriterDxf::KQovWriterDxf(KQovObjectManager* manager) : KQovWriter(manager) {}

KQovWriterDxf::~KQovWriterDxf() {
    FileDiscard();
}

bool KQovWriterDxf::DoFileCreate(const char* fileName) {
    // A file begun before and never closed is dropped: only FileClose puts a file in place.
    FileDiscard();
    auto file = std::make_unique<KFileStream>();
    if (!fileName || !file->Open(fileName, "wb")) {
        mError.SetErrorWithText(eFileNotOpened, KCreateFileError(fileName).c_str());
        return false;
    }
    mFile = std::move(file);
    return true;
}

bool KQovWriterDxf::DoFileClose() {
    if (!mFile) {
        mError.SetError(eFileNotOpened);
        return false;
    }
    bool ok = !mFile->HasError();
    if (ok)
        ok = mFile->Commit();
    else
        mFile->Discard();
    mFile.reset();
    if (!ok) mError.SetError(eOutOfDiskSpace);
    return ok;
}

void KQovWriterDxf::DoFileDiscard() {
    if (mFile) mFile->Discard();
    mFile.reset();
}

KStreamOptions* KQovWriterDxf::GetWriteOptions() {
    return KStreamOptionsDxf::Create();
}

KQovMesh* KQovWriterDxf::MeshOf(KQovNode* node) {
    KQovNodeAttribute* attribute = node->GetNodeAttribute();
    const int type = attribute ? attribute->GetAttributeType() : -1;
    auto* mesh = type == KQovNodeAttribute::eMesh ? static_cast<KQovMesh*>(attribute) : nullptr;
    if (mesh && !mTriangulate) return mesh;
    if (!mesh && type != KQovNodeAttribute::eNurb && type != KQovNodeAttribute::ePatch)
        return nullptr;
    KQovGeometryConverter* converter = mManager->CreateGeometryConverter();
    KQovMesh* working = !converter ? nullptr
                        : mesh     ? converter->TriangulateMesh(mesh)
                        : type == KQovNodeAttribute::eNurb
                            ? converter->NurbToMesh(static_cast<KQovNurb*>(attribute))
                            : converter->PatchToMesh(static_cast<KQovPatch*>(attribute));
    if (mesh && working && converter->GetFallbackCount() > 0)
        mStatus += KQovPolygonTriangulation::FallbackMessage(converter->GetFallbackCount(),
                                                             node->GetNameWithoutPrefix().Buffer())
                       .c_str();
    if (converter) mManager->DestroyGeometryConverter(converter);
    if (working)
        mWorking.push_back(working);
    else
        mStatus += KString("Unable to convert \"") +
                   KQovMessageText(node->GetNameWithoutPrefix().Buffer()).c_str() +
                   "\" to a mesh\n";
    return working;
}

void KQovWriterDxf::DestroyWorkingMeshes() {
    // Whether the manager lists converter output or leaves it to the caller, it goes once.
    for (KQovMesh* mesh : mWorking)
        if (!mManager->DestroyNodeAttribute(mesh)) delete mesh;
    mWorking.clear();
}

bool KQovWriterDxf::DoWrite(KQovScene* scene, KStreamOptions* options) {
    if (!options || !options->IsA(KStreamOptionsDxf::ClassId())) {
        mError.SetError(eStreamOptionsNotSet);
        return false;
    }
    KQovNode* root = scene ? scene->GetRootNode() : nullptr;
    if (!mFile || !root) {
        mError.SetError(eFileNotOpened);
        return false;
    }
    if (!RefuseMeshesMissingPoints(root)) return false;
    if (!KQovHoldsWritableGeometry(root)) return FailNothingToWrite("a DXF", "meshes");
    auto* dxf = static_cast<KStreamOptionsDxf*>(options);
    mTriangulate = dxf->GetOptionValue(2) == 1;
    mDeform = dxf->GetOptionValue(3) == 1;
    std::vector<KDxfMeshEntry> meshes;
    const KDxfMeshSource meshOf = [this](KQovNode* node) { return MeshOf(node); };
    KQovStillPose pose(*scene, &KDxfLocalMatrix);
    const KDxfPlacement placeOf = [&pose](KQovNode* node) { return pose.Global(node); };
    for (int i = 0; i < root->GetChildCount(); ++i)
        KDxfCollectMeshes(root->GetChild(i), meshes, meshOf, placeOf);
    if (mDeform) {
        const KQovDeformationBaker baker(placeOf);
        for (KDxfMeshEntry& entry : meshes) {
            KQovMesh* mesh = entry.mesh;
            if (mesh->GetShapeCount() == 0 && mesh->GetLinkCount() == 0) continue;
            // The weights live in the channels of the node's own geometry.
            auto* source = static_cast<KQovGeometry*>(entry.node->GetNodeAttribute());
            const KArrayVector4& own = mesh->GetControlPoints();
            entry.points.assign(own.GetArray(), own.GetArray() + own.GetCount());
            if (mesh->GetShapeCount() > 0)
                KQovDeformationBaker::ApplyShapes(mesh, source, entry.points);
            if (mesh->GetLinkCount() > 0) baker.ApplyLinks(entry.global, mesh, entry.points);
        }
    }
    KDxfWriter writer;
    const bool written = writer.Write(*mFile, meshes, root->GetChildCount() > 0);
    mStatus += writer.GetStatus().c_str();
    DestroyWorkingMeshes();
    // The runtime's buffer goes out here, so a full disk shows in the write; the file stays
    // begun until FileClose puts it in place.
    const bool flushed = written && mFile->Flush();
    if (writer.IsNumberRefused()) {
        FileDiscard();
        mError.SetErrorWithText(eUnidentifiedError, kFileNumberError);
        return false;
    }
    if (!flushed) {
        FileDiscard();
        mError.SetError(eOutOfDiskSpace);
        return false;
    }
    return true;
}
