#include "formats/geometry/obj/KQovWriterObj.h"

#include <cmath>
#include <new>

#include "attributes/KQovLayer.h"
#include "attributes/KQovLink.h"
#include "attributes/KQovMaterial.h"
#include "attributes/KQovMesh.h"
#include "attributes/KQovNurb.h"
#include "attributes/KQovPatch.h"
#include "attributes/KQovShadingScene.h"
#include "attributes/KQovTexture.h"
#include "attributes/geometry/KQovGeometryConverter.h"
#include "attributes/geometry/KQovPolygonTriangulation.h"
#include "formats/geometry/KQovDeformationBaker.h"
#include "formats/geometry/KQovGeometryContent.h"
#include "formats/geometry/KQovStillPose.h"
#include "foundation/KFileStream.h"
#include "foundation/KLocale.h"
#include "foundation/KQuotedText.h"
#include "io/KQovWrittenNames.h"
#include "io/KStreamOptionsBase.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeWalk.h"
#include "scene/KQovScene.h"

namespace {

KObjMapPlacement Placement(const KQovTexture& texture) {
    KObjMapPlacement placement;
    placement.offset[0] = texture.GetDefaultTranslationU();
    placement.offset[1] = texture.GetDefaultTranslationV();
    placement.scale[0] = texture.GetDefaultScaleU();
    placement.scale[1] = texture.GetDefaultScaleV();
    placement.clamp = texture.GetWrapModeU() == 1 && texture.GetWrapModeV() == 1;
    return placement;
}

// A null material stands for the default one, with a new material's values.
KObjMaterial Describe(const KQovMaterial* material, const KQovTexture* texture,
                      const KQovTexture* bump) {
    KObjMaterial out;
    if (texture && texture->GetTextureUse() == 0) {
        out.diffuseMap = texture->GetFileName();
        out.diffusePlacement = Placement(*texture);
    }
    if (bump) {
        out.bumpMap = bump->GetFileName();
        out.bumpPlacement = Placement(*bump);
    }
    const KQovMaterial standard(nullptr, "Material::default");
    if (!material) material = &standard;
    const KColor colours[4] = {material->GetDefaultAmbient(), material->GetDefaultDiffuse(),
                               material->GetDefaultSpecular(), material->GetDefaultEmissive()};
    double* targets[4] = {out.ambient, out.diffuse, out.specular, out.emissive};
    for (int i = 0; i < 4; ++i) {
        targets[i][0] = colours[i].mRed;
        targets[i][1] = colours[i].mGreen;
        targets[i][2] = colours[i].mBlue;
    }
    out.shininess = material->GetDefaultShininess();
    out.opacity = material->GetDefaultOpacity();
    return out;
}

// The bump texture of polygon `p` in the layers past the first (where a second colour map
// lies too), null for none.
KQovTexture* BumpTexture(const KQovMesh& mesh, int p) {
    for (int l = 1; l < mesh.GetLayerCount(); ++l) {
        const KQovLayer* layer = mesh.GetLayer(l);
        const KQovLayerElementTexture* element = layer ? layer->GetTextures() : nullptr;
        if (!element) continue;
        const int mode = element->GetMappingMode();
        if (mode != KQovLayer::eByPolygon && mode != KQovLayer::eAllSame) continue;
        const int at = mode == KQovLayer::eAllSame ? 0 : p;
        int index = at;
        if (element->GetReferenceMode() != KQovLayer::eDirect) {
            const KArrayInt& indices = element->GetIndexArray();
            index = at < indices.GetCount() ? indices.GetAt(at) : -1;
        }
        KQovTexture* texture = index >= 0 ? mesh.GetTexture(index, l) : nullptr;
        if (texture && texture->GetTextureUse() == KQovTexture::eUseBumpNormalMap &&
            texture->GetFileName()[0])
            return texture;
    }
    return nullptr;
}

KAffineMatrix LocalMatrix(const KVector4& t, const KVector4& r, const KVector4& s) {
    return KAffineMatrix(t, r, s);
}

KVector4 Normalised(const KVector4& v) {
    const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    return length > 0.0 ? KVector4(v[0] / length, v[1] / length, v[2] / length) : v;
}

}  // namespace

KQovWriterObj::KQovWriterObj(KQovObjectManager* manager) : KQovWriter(manager) {}

KQovWriterObj::~KQovWriterObj() {
    FileDiscard();
}

bool KQovWriterObj::DoFileCreate(const char* fileName) {
    // A file begun before and never closed is dropped: only FileClose puts a file in place.
    FileDiscard();
    mText = std::make_unique<KObjTextWriter>();
    if (!mText->Create(fileName)) {
        mError.SetErrorWithText(eFileNotOpened, KCreateFileError(fileName).c_str());
        return false;
    }
    mOpen = true;
    return true;
}

bool KQovWriterObj::DoFileClose() {
    if (!mFinished) {
        mError.SetError(eFileNotOpened);
        return false;
    }
    mFinished = false;
    const bool placed = mText->Commit();
    // The files are in place: what is said of them is a warning, memory running out too.
    try {
        mStatus += mText->TakeStatus().c_str();
    } catch (const std::bad_alloc&) {
    }
    if (!placed) mError.SetError(eOutOfDiskSpace);
    return placed;
}

void KQovWriterObj::DoFileDiscard() {
    // Also once Write has begun closing: a write cut short by an exception is dropped.
    if (mText) mText->Discard();
    mOpen = mFinished = false;
}

std::vector<std::string> KQovWriterObj::GetCompanionFiles(const char* path,
                                                          const KStreamOptions*) const {
    const std::string material = path ? KObjTextWriter::MaterialPath(path) : std::string();
    if (material.empty()) return {};
    return {material};
}

KStreamOptions* KQovWriterObj::GetWriteOptions() {
    return KStreamOptionsObj::Create();
}

bool KQovWriterObj::DoWrite(KQovScene* scene, KStreamOptions* options) {
    if (!options || !options->IsA(KStreamOptionsObj::ClassId())) {
        mError.SetError(eStreamOptionsNotSet);
        return false;
    }
    KQovNode* root = scene ? scene->GetRootNode() : nullptr;
    if (!root) return false;
    if (!mOpen) {
        mError.SetError(eFileNotOpened);
        return false;
    }
    if (!RefuseMeshesMissingPoints(root)) return false;
    if (!KQovHoldsWritableGeometry(root)) return FailNothingToWrite("an OBJ", "meshes");
    // Each file whole, as a new writer writes it: the records of an earlier file are not in
    // this one's material file.
    mMaterialsUsed = false;
    mRecords.clear();
    auto* base = static_cast<KStreamOptionsBase*>(options);
    mTriangulate = base->GetOptionValue(2) == 1;
    mDeform = base->GetOptionValue(3) == 1;
    PrepareNodes(root);
    if (mMaterialsUsed) {
        if (!mText->CreateMaterialFile()) {
            // The OBJ and its MTL are one write: neither is written without the other.
            std::string why = mText->TakeStatus();
            while (!why.empty() && why.back() == '\n') why.pop_back();
            FileDiscard();
            mError.SetErrorWithText(eFileNotCreated, why.c_str());
            return false;
        }
        mText->ReserveMaterialName("default");
    }
    KQovStillPose pose(*scene, &LocalMatrix);
    mPose = &pose;
    KQovWrittenNames names(KObjNames::GroupTerms());
    SetNamesAside(root, names);
    mNames = &names;
    WriteNode(root);
    mPose = nullptr;
    mNames = nullptr;
    mStatus += names.GetWarnings().c_str();
    mStatus += mText->GetNameWarnings().c_str();
    mStatus += mText->TakeStatus().c_str();
    mOpen = false;
    if (mText->IsNumberRefused()) {
        mText->Discard();
        mError.SetErrorWithText(eUnidentifiedError, kFileNumberError);
        return false;
    }
    // Both files stay begun until FileClose puts them in place.
    const bool finished = mText->Finish();
    mStatus += mText->TakeStatus().c_str();
    if (!finished) {
        std::string image = mText->GetImageFailure();
        while (!image.empty() && image.back() == '\n') image.pop_back();
        if (image.empty())
            mError.SetError(eOutOfDiskSpace);
        else
            mError.SetErrorWithText(eFileNotCreated, image.c_str());
        return false;
    }
    mFinished = true;
    return true;
}

void KQovWriterObj::PrepareNodes(KQovNode* root) {
    for (KQovNode* node : KQovListNodes(root))
        if (auto* geometry = dynamic_cast<KQovGeometry*>(node->GetNodeAttribute()))
            if (geometry->GetMaterialCount(0) > 0 || geometry->GetTextureCount(0) > 0 ||
                !KQovShadingScene::TexturesOfModelOnly(node).empty() ||
                !KQovShadingScene::MaterialsOfModelOnly(node).empty())
                mMaterialsUsed = true;
}

void KQovWriterObj::SetNamesAside(KQovNode* root, KQovWrittenNames& groups) {
    // The names of the groups and materials written, as far as the nodes tell before they are
    // written, in the order they are written.
    for (KQovNode* node : KQovListNodes(root)) {
        KQovNodeAttribute* attribute = node->GetNodeAttribute();
        const int type = attribute ? attribute->GetAttributeType() : -1;
        if (!dynamic_cast<KQovMesh*>(attribute) && type != KQovNodeAttribute::eMesh &&
            type != KQovNodeAttribute::eNurb && type != KQovNodeAttribute::ePatch)
            continue;
        groups.SetAside(node->GetNameWithoutPrefix().Buffer());
        if (!mMaterialsUsed) continue;
        auto* geometry = dynamic_cast<KQovGeometry*>(attribute);
        for (int m = 0; geometry && m < geometry->GetMaterialCount(0); ++m)
            if (const KQovMaterial* material = geometry->GetMaterial(m, 0))
                mText->SetAsideMaterialName(material->GetNameWithoutPrefix().Buffer());
        for (const KQovMaterial* material : KQovShadingScene::MaterialsOfModelOnly(node))
            if (material) mText->SetAsideMaterialName(material->GetNameWithoutPrefix().Buffer());
    }
}

void KQovWriterObj::WriteNode(KQovNode* root) {
    // Parents before children, as listed first: a deep tree must not recurse.
    for (KQovNode* node : KQovListNodes(root)) WriteOneNode(node);
}

void KQovWriterObj::WriteOneNode(KQovNode* node) {
    KQovNodeAttribute* attribute = node->GetNodeAttribute();
    const int type = attribute ? attribute->GetAttributeType() : -1;
    auto* mesh = dynamic_cast<KQovMesh*>(attribute);
    if (mesh && !mTriangulate) {
        WriteMesh(node, mesh, mesh);
    } else if (type == KQovNodeAttribute::eMesh || type == KQovNodeAttribute::eNurb ||
               type == KQovNodeAttribute::ePatch) {
        // A working mesh, not a converted node: the caller's scene stays as it was. The
        // manager lists the mesh, so it goes back through the manager.
        KQovGeometryConverter converter(mManager);
        KQovMesh* working =
            mesh ? converter.TriangulateMesh(mesh)
            : type == KQovNodeAttribute::eNurb
                ? converter.NurbToMesh(static_cast<KQovNurb*>(attribute))
                : converter.PatchToMesh(static_cast<KQovPatch*>(attribute));
        if (mesh && working && converter.GetFallbackCount() > 0)
            mStatus += KQovPolygonTriangulation::FallbackMessage(
                           converter.GetFallbackCount(), node->GetNameWithoutPrefix().Buffer())
                           .c_str();
        if (working) {
            WriteMesh(node, working, static_cast<KQovGeometry*>(attribute));
            KQovDisposeAttribute(mManager, working);
        } else
            mStatus += KString("Unable to convert \"") +
                       KQovMessageText(node->GetNameWithoutPrefix().Buffer()).c_str() +
                       "\" to a mesh\n";
    }
}

int KQovWriterObj::MaterialRecord(KQovMaterial* material, KQovTexture* texture, KQovTexture* bump) {
    auto it = mRecords.find({material, texture, bump});
    if (it != mRecords.end()) return it->second;
    KObjMaterial description = Describe(material, texture, bump);
    const std::string name = material ? material->GetNameWithoutPrefix().Buffer() : "default";
    const int index = mText->AddMaterial(name, description, material != nullptr);
    mRecords[{material, texture, bump}] = index;
    // A map statement holds no turn of its image.
    for (const KQovTexture* map : {texture, bump})
        if (map && (map == bump || !description.diffuseMap.empty()) &&
            map->GetDefaultRotationW() != 0.0)
            mStatus += KString("Texture \"") +
                       KQovMessageText(map->GetNameWithoutPrefix().Buffer()).c_str() +
                       "\" is written without its rotation: MTL holds none\n";
    return index;
}

void KQovWriterObj::WriteMesh(KQovNode* node, KQovMesh* mesh, KQovGeometry* source) {
    KObjWriteGroup group;
    group.name = mNames->Add(node->GetNameWithoutPrefix().Buffer());
    const KAffineMatrix m = mPose->Global(node);
    const KAffineMatrix n = m.Inverse().Transpose();
    const int count = mesh->GetControlPointsCount();
    std::vector<KVector4> points(count);
    for (int i = 0; i < count; ++i) points[i] = mesh->GetControlPoints().GetAt(i);
    const KArrayVector4* normalArray = mesh->GetNormals();
    const int normalMode = mesh->GetNormalsMappingMode();
    const bool normalsByPoint =
        normalArray && normalMode == KQovLayer::eByControlPoint && normalArray->GetCount() == count;
    const bool normalsByCorner = normalArray && normalMode == KQovLayer::eByPolygonVertex &&
                                 normalArray->GetCount() == mesh->GetPolygonVertices().GetCount();
    std::vector<KVector4> normals;
    if (normalsByPoint || normalsByCorner)
        for (int i = 0; i < normalArray->GetCount(); ++i) normals.push_back(normalArray->GetAt(i));
    // Deformations work on copies; the caller's mesh keeps its points and normals.
    if (mDeform && (mesh->GetShapeCount() > 0 || mesh->GetLinkCount() > 0)) {
        std::vector<KVector4> tips;
        if (normalsByPoint)
            for (int i = 0; i < count; ++i)
                tips.push_back(KVector4(points[i][0] + normals[i][0], points[i][1] + normals[i][1],
                                        points[i][2] + normals[i][2], points[i][3]));
        if (mesh->GetShapeCount() > 0) {
            KQovDeformationBaker::ApplyShapes(mesh, source, points);
            if (!tips.empty()) KQovDeformationBaker::ApplyShapes(mesh, source, tips);
        }
        if (mesh->GetLinkCount() > 0) {
            const KQovDeformationBaker baker(
                [this](KQovNode* placed) { return mPose->Global(placed); });
            baker.ApplyLinks(m, mesh, points);
            if (!tips.empty()) baker.ApplyLinks(m, mesh, tips);
        }
        for (size_t i = 0; i < tips.size(); ++i)
            normals[i] = KVector4(tips[i][0] - points[i][0], tips[i][1] - points[i][1],
                                  tips[i][2] - points[i][2]);
    }
    for (const KVector4& p : points) group.points.push_back(m.MultT(p));
    for (const KVector4& v : normals)
        group.normals.push_back(Normalised(n.MultT(KVector4(v[0], v[1], v[2], 0.0))));

    const KArrayOf<KVector2>* uvArray = mesh->GetTextureUV();
    const int uvMode = mesh->GetTextureUVMappingMode();
    const int textureMode = mesh->GetTextureMappingMode();
    const int materialMode = mesh->GetMaterialMappingMode();
    const int materialCount = mesh->GetMaterialCount(0), textureCount = mesh->GetTextureCount(0);
    const KArrayInt* materialIndices = mesh->GetMaterialIndices();
    const KArrayInt* textureIndices = mesh->GetTextureIndices();
    // A model whose layers name no texture (no material) takes the first one tied to it alone,
    // on every polygon; any other such one has no place.
    std::string told;
    KQovTexture* loose = KQovTextureCoveringModel(node, textureCount > 0, told);
    KQovMaterial* looseMaterial = KQovMaterialCoveringModel(node, materialCount > 0, told);
    mStatus += told.c_str();
    auto polygonTexture = [&](int p) -> KQovTexture* {
        if (textureCount == 0) return loose;
        if (textureMode == KQovLayer::eAllSame) return mesh->GetTexture(textureCount - 1, 0);
        if (textureMode == KQovLayer::eByPolygon && textureIndices &&
            p < textureIndices->GetCount())
            return mesh->GetTexture(textureIndices->GetAt(p), 0);
        return nullptr;
    };
    const bool hasUVs =
        uvArray && uvArray->GetCount() > 0 &&
        (uvMode == KQovLayer::eByControlPoint || uvMode == KQovLayer::eByPolygonVertex);
    const bool uvPerCorner = hasUVs && textureCount > 0 && textureMode == KQovLayer::eByPolygon;
    if (hasUVs && !uvPerCorner) {
        const KQovTexture* last =
            textureCount > 0 ? mesh->GetTexture(textureCount - 1, 0) : nullptr;
        const bool swap = last && textureMode == KQovLayer::eAllSame && last->GetSwapUV();
        for (int i = 0; i < uvArray->GetCount(); ++i) {
            const KVector2& uv = uvArray->GetAt(i);
            group.uvs.push_back(swap ? KVector2(uv.mData[1], uv.mData[0]) : uv);
        }
    }
    const bool uniform = !(materialCount > 0 && materialMode != KQovLayer::eAllSame) &&
                         !(textureCount > 0 && textureMode != KQovLayer::eAllSame);
    const int polygons = mesh->GetPolygonCount();
    // A usemtl line of an earlier group stays in force until this group writes its own.
    bool earlierInForce = !mRecords.empty();
    int corner = 0;
    for (int p = 0; p < polygons; ++p) {
        const int size = mesh->GetPolygonSize(p);
        group.polygonSizes.push_back(size);
        int material = -1;
        if (materialCount == 0 && textureCount == 0 && !loose && !looseMaterial) {
            if (mMaterialsUsed) material = MaterialRecord(nullptr, nullptr);
        } else {
            KQovMaterial* chosen = nullptr;
            if (materialCount == 0 || materialMode == KQovLayer::eAllSame || uniform) {
                chosen =
                    materialCount > 0 ? mesh->GetMaterial(materialCount - 1, 0) : looseMaterial;
            } else if (materialMode == KQovLayer::eByPolygon && materialIndices &&
                       p < materialIndices->GetCount()) {
                chosen = mesh->GetMaterial(materialIndices->GetAt(p), 0);
            } else if (materialMode == KQovLayer::eByControlPoint && size > 0) {
                const int first = mesh->GetPolygonVertex(p, 0);
                if (first >= 0 && first < materialCount) chosen = mesh->GetMaterial(first, 0);
            }
            // Without materials the default one carries the texture.
            // A polygon given none before the group's first usemtl takes the default material,
            // as one of a mesh without materials does, not the material of the group before.
            if (chosen || materialCount == 0 || earlierInForce)
                material = MaterialRecord(chosen, polygonTexture(p), BumpTexture(*mesh, p));
        }
        earlierInForce = earlierInForce && material < 0;
        group.polygonMaterials.push_back(material);
        const KQovTexture* texture = uvPerCorner ? polygonTexture(p) : nullptr;
        for (int k = 0; k < size; ++k, ++corner) {
            const int point = mesh->GetPolygonVertex(p, k);
            KObjCorner c;
            c.v = point;
            if (normalsByPoint) c.vn = point;
            if (normalsByCorner) c.vn = corner;
            if (hasUVs) {
                const int uv =
                    uvMode == KQovLayer::eByControlPoint ? point : mesh->GetTextureUVIndex(p, k);
                if (uvPerCorner) {
                    KVector2 value =
                        uv >= 0 && uv < uvArray->GetCount() ? uvArray->GetAt(uv) : KVector2();
                    if (texture && texture->GetSwapUV())
                        value = KVector2(value.mData[1], value.mData[0]);
                    group.uvs.push_back(value);
                    c.vt = corner;
                } else if (uv >= 0 && uv < uvArray->GetCount()) {
                    c.vt = uv;
                }
            }
            group.corners.push_back(c);
        }
    }
    mText->WriteGroup(group);
}
