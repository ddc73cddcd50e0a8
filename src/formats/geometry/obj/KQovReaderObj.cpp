#include "formats/geometry/obj/KQovReaderObj.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <unordered_map>

#include "attributes/KQovLayer.h"
#include "attributes/KQovMaterial.h"
#include "attributes/KQovMesh.h"
#include "attributes/KQovNurb.h"
#include "attributes/KQovTexture.h"
#include "foundation/KColor.h"
#include "foundation/KFileStream.h"
#include "foundation/KPath.h"
#include "foundation/KQuotedText.h"
#include "io/KStreamOptionsBase.h"
#include "scene/KQovNamePair.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

namespace {

// The array's items become `from`'s, with no zero-fill before they are written.
void CopyIndices(KArrayInt& to, const std::vector<int>& from) {
    to.SetCount(0);
    if (int32_t* at = to.AppendUninitialised(int(from.size())))
        std::memcpy(at, from.data(), from.size() * sizeof(int));
}

}  // namespace

KQovReaderObj::KQovReaderObj(KQovObjectManager* manager) : KQovPathReader(manager) {}

KStreamOptions* KQovReaderObj::GetReadOptions(bool) {
    return KStreamOptionsObj::Create();
}

bool KQovReaderObj::Read(KQovScene* scene, KStreamOptions* options) {
    if (!options || !options->IsA(KStreamOptionsObj::ClassId())) {
        mError.SetError(eStreamOptionsNotSet);
        return false;
    }
    if (!mOpen || !scene || !scene->GetRootNode()) {
        mError.SetError(eFileNotOpened);
        return false;
    }
    const bool referenceNode = static_cast<KStreamOptionsBase*>(options)->GetOptionValue(1) == 1;
    const KObjParser::EResult result = mParser.ReadFile(mFileName.Buffer());
    mStatus += mParser.GetStatus().c_str();
    if (result == KObjParser::eNotOpened) {
        mError.SetErrorWithText(eFileNotOpened, KOpenForReadError(mFileName.Buffer()).c_str());
        return false;
    }
    if (result == KObjParser::eLibraryNotRead || result == KObjParser::eReadFailed) {
        mError.SetErrorWithText(eFileNotOpened, mParser.GetFailure().c_str());
        return false;
    }
    if (result == KObjParser::eWideText) {
        mError.SetErrorWithText(eFileCorrupted, mParser.GetFailure().c_str());
        return false;
    }
    if (result != KObjParser::eRead) {
        mError.SetErrorWithText(eFileCorrupted,
                                ("File is corrupted: " + mParser.GetFailure()).c_str());
        return false;
    }
    CreateMaterials();
    // Nodes are named as their groups, numbered where names repeat (a surface of a group
    // of faces): names given once are set aside first.
    for (const KObjSurface& surface : mParser.GetSurfaces()) mRenamer.SetAside(surface.group);
    for (const auto& group : mParser.GetGroups()) mRenamer.SetAside(group.first);
    for (const KObjSurface& surface : mParser.GetSurfaces()) {
        KQovNurb* nurb = CreateNurbFromSurface(surface);
        KQovNamePair names(surface.group.c_str());
        mRenamer.Rename(names);
        KQovNode* node = nurb ? mManager->CreateNode(names.currentName.Buffer()) : nullptr;
        if (!node) {
            mError.SetError(eUnidentifiedError);
            return false;
        }
        node->SetNodeAttribute(nurb);
        scene->GetRootNode()->AddChild(node);
    }
    if (BuildNodes(scene, referenceNode)) return true;
    // A mesh fails only when its arrays cannot be had.
    mError.SetErrorWithText(
        eUnidentifiedError,
        ("Out of memory while reading " + KQovMessageText(mFileName.Buffer())).c_str());
    return false;
}

void KQovReaderObj::CreateMaterials() {
    ForgetFilesRead();
    for (size_t k = 0; k < mParser.GetLibraryPaths().size(); ++k)
        NoteFileRead(mParser.GetLibraryPaths()[k], mParser.GetLibrariesFound()[k]);
    for (const KObjMaterial& m : mParser.GetMaterials()) {
        if (!m.diffuseMap.empty()) NoteFileRead(m.diffuseMap);
        if (!m.bumpMap.empty()) NoteFileRead(m.bumpMap);
        KQovMaterial* material = mManager->CreateMaterial(m.name.c_str());
        if (material) {
            if (m.hasAmbient)
                material->SetDefaultAmbient(KColor(m.ambient[0], m.ambient[1], m.ambient[2]));
            if (m.hasDiffuse)
                material->SetDefaultDiffuse(KColor(m.diffuse[0], m.diffuse[1], m.diffuse[2]));
            if (m.hasSpecular)
                material->SetDefaultSpecular(KColor(m.specular[0], m.specular[1], m.specular[2]));
            if (m.hasEmissive)
                material->SetDefaultEmissive(KColor(m.emissive[0], m.emissive[1], m.emissive[2]));
            if (m.hasShininess) material->SetDefaultShininess(m.shininess);
            if (m.hasOpacity) material->SetDefaultOpacity(m.opacity);
        }
        mMaterials.push_back(material);
        mTextures.push_back(MapTexture(m.name, m.diffuseMap, m.diffusePlacement, false));
        mBumps.push_back(MapTexture(m.name + "_bump", m.bumpMap, m.bumpPlacement, true));
    }
}

KQovTexture* KQovReaderObj::MapTexture(const std::string& name, const std::string& file,
                                       const KObjMapPlacement& placement, bool bump) {
    KQovTexture* texture = file.empty() ? nullptr : mManager->CreateTexture(name.c_str());
    if (!texture) return nullptr;
    texture->SetFileName(file.c_str());
    if (bump) texture->SetTextureUse(KQovTexture::eUseBumpNormalMap);
    if (placement.offset[0] != 0 || placement.offset[1] != 0)
        texture->SetDefaultTranslation(placement.offset[0], placement.offset[1]);
    if (placement.scale[0] != 1 || placement.scale[1] != 1)
        texture->SetDefaultScale(placement.scale[0], placement.scale[1]);
    if (placement.clamp) texture->SetWrapMode(1, 1);
    return texture;
}

KQovNurb* KQovReaderObj::CreateNurbFromSurface(const KObjSurface& surface) {
    const int nU = surface.CountU(), nV = surface.CountV();
    KQovNurb* nurb = mManager->CreateNurb();
    if (!nurb) return nullptr;
    // The file's u direction is the NURBS's V direction.
    nurb->SetOrder(surface.degreeV + 1, surface.degreeU + 1);
    nurb->InitControlPoints(nV, KQovNurb::eOpen, nU, KQovNurb::eOpen);
    nurb->SetStep(3, 3);
    KArrayDouble& uKnots = nurb->GetUKnotVector();
    KArrayDouble& vKnots = nurb->GetVKnotVector();
    for (size_t i = 0; i < surface.vKnots.size() && int(i) < uKnots.GetCount(); ++i)
        uKnots.SetAt(int(i), surface.vKnots[i]);
    for (size_t i = 0; i < surface.uKnots.size() && int(i) < vKnots.GetCount(); ++i)
        vKnots.SetAt(int(i), surface.uKnots[i]);
    const std::vector<KVector4>& vertices = mParser.GetVertices();
    for (size_t i = 0; i < surface.points.size(); ++i)
        nurb->GetControlPoints().SetAt(int((i % nU) * nV + i / nU), vertices[surface.points[i]]);
    if (surface.material >= 0) {
        if (KQovMaterial* material = mMaterials[surface.material]) nurb->AddMaterial(material, 0);
        if (KQovTexture* texture = mTextures[surface.material]) {
            texture->SetSwapUV(true);
            nurb->AddTexture(texture, 0);
        }
        if (KQovTexture* bump = mBumps[surface.material]) nurb->AddTexture(bump, 1);
    }
    return nurb;
}

KQovMesh* KQovReaderObj::BuildMesh(const std::string& name, bool last) {
    KObjMeshData data;
    mParser.BuildPolygons(name, data);
    // What is copied is freed at once: the group's faces go before the mesh's arrays are
    // made, the lists (once nothing more is built) as soon as the points are taken from them.
    mParser.ReleaseGroup(name);
    const KObjGroup& group = mParser.GetGroups().at(name);
    KQovMesh* mesh = mManager->CreateMesh();
    if (!mesh) return nullptr;
    const int count = int(data.pointCorners.size());
    // Normals by control point, made empty before there are points; points, normals and UVs
    // then written once each, not zero-filled first.
    mesh->InitControlPoints(0);
    mesh->InitNormals(0);
    const bool library = mParser.HasMaterialLibrary();
    mesh->InitMaterialIndices(library ? KQovLayer::eByPolygon : KQovLayer::eAllSame);
    KVector2* uv = nullptr;
    if (data.hasUVs) {
        mesh->InitTextureUVIndices(KQovLayer::eByPolygonVertex);
        mesh->InitTextureUV(0);
        uv = mesh->GetTextureUV()->AppendUninitialised(count);
    }
    if (group.someTextured) {
        mesh->InitTextureIndices(KQovLayer::eByPolygon);
        if (!group.allTextured) {
            KQovTexture* empty = mManager->CreateTexture("_empty_");
            if (empty) {
                empty->SetDefaultAlpha(0.0);
                mesh->AddTexture(empty, 0);
            }
        }
    }
    KVector4* point = mesh->GetControlPoints().AppendUninitialised(count);
    KVector4* normal = mesh->GetNormals()->AppendUninitialised(count);
    if (count > 0 && (!point || !normal || (data.hasUVs && !uv))) return nullptr;
    const std::vector<KVector4>& vertices = mParser.GetVertices();
    const std::vector<KVector4>& normals = mParser.GetNormals();
    const std::vector<KVector2>& textureVertices = mParser.GetTextureVertices();
    for (int i = 0; i < count; ++i) {
        const KObjCorner& c = data.pointCorners[size_t(i)];
        point[i] = vertices[size_t(c.v)];
        normal[i] = c.vn >= 0 ? normals[size_t(c.vn)] : KVector4();
        if (uv) uv[i] = c.vt >= 0 ? textureVertices[size_t(c.vt)] : KVector2();
    }
    std::vector<KObjCorner>().swap(data.pointCorners);
    if (last) mParser.ReleaseLists();
    // Layer positions of the parser's materials and textures, found once per mesh; kept for
    // the materials the mesh uses only, since a file may hold a group and a material per face.
    // Each is its own object: names may meet ("" and "Name", "a::X" and "X") and are no key.
    std::unordered_map<int, int> materialAt, textureAt;
    const size_t polygons = data.polygonSizes.size();
    // Per-polygon indices only where a layer keeps them by polygon (0 is what the rest get).
    std::vector<int> materials(library ? polygons : 0, 0);
    std::vector<int> textures(group.someTextured ? polygons : 0, 0);
    for (size_t p = 0; p < polygons && library; ++p) {
        const int m = data.polygonMaterials[p];
        if (m < 0) continue;
        int& materialSlot = materialAt.try_emplace(m, -1).first->second;
        if (materialSlot < 0 && mMaterials[m]) materialSlot = mesh->AddMaterial(mMaterials[m], 0);
        materials[p] = std::max(0, materialSlot);
        if (mTextures[m]) {
            int& textureSlot = textureAt.try_emplace(m, -1).first->second;
            if (textureSlot < 0) textureSlot = mesh->AddTexture(mTextures[m], 0);
            if (!textures.empty()) textures[p] = std::max(0, textureSlot);
        }
    }
    // The polygons go in whole; the per-polygon indices only where the layer keeps them so,
    // and the UV of a corner is its control point's.
    if (!mesh->SetPolygons(data.polygonVertices.data(), data.polygonSizes.data(), int(polygons)))
        return nullptr;
    KQovLayer& layer = *mesh->GetLayer(0);  // made by the index initialisations above
    if (library) CopyIndices(layer.GetMaterials()->GetIndexArray(), materials);
    // A texture element exists once there is a polygon, as BeginPolygon with a texture makes it.
    if (polygons > 0 && layer.MakeTextures().GetMappingMode() == KQovLayer::eByPolygon) {
        textures.resize(polygons, 0);
        CopyIndices(layer.GetTextures()->GetIndexArray(), textures);
    }
    if (data.hasUVs) CopyIndices(layer.GetUVs()->GetIndexArray(), data.polygonVertices);
    if (library) AddBumpLayer(*mesh, data.polygonMaterials);
    return mesh;
}

void KQovReaderObj::AddBumpLayer(KQovMesh& mesh, const std::vector<int>& polygonMaterials) {
    bool any = false;
    for (int m : polygonMaterials) any = any || (m >= 0 && mBumps[size_t(m)]);
    if (!any) return;
    // Its textures follow those of layer 0, as a second map's layer holds them: a writer that
    // takes the layer's positions as layer 0's finds no texture of its own there.
    const int layer = mesh.CreateLayer();
    for (int i = 0; i < mesh.GetTextureCount(0); ++i) mesh.AddTexture(mesh.GetTexture(i, 0), layer);
    KQovLayerElementTexture& element = mesh.GetLayer(layer)->MakeTextures();
    element.SetMappingMode(KQovLayer::eByPolygon);
    element.SetReferenceMode(KQovLayer::eIndexToDirect);
    std::unordered_map<int, int> at;  // by the parser's material index
    std::vector<int> indices(polygonMaterials.size(), -1);
    for (size_t p = 0; p < polygonMaterials.size(); ++p) {
        const int m = polygonMaterials[p];
        if (m < 0 || !mBumps[size_t(m)]) continue;
        auto found = at.find(m);
        if (found == at.end())
            found = at.emplace(m, mesh.AddTexture(mBumps[size_t(m)], layer)).first;
        indices[p] = found->second;
    }
    CopyIndices(element.GetIndexArray(), indices);
}

bool KQovReaderObj::BuildNodes(KQovScene* scene, bool referenceNode) {
    KQovNode* parent = scene->GetRootNode();
    if (referenceNode) {
        const KString name = KExtractFileName(mFileName.Buffer(), false) + "_root";
        KQovNode* reference = mManager->CreateNode(name.Buffer());
        if (!reference) return false;
        parent->AddChild(reference);
        parent = reference;
    }
    const KObjParser::GroupMap& groups = mParser.GetGroups();
    for (auto entry = groups.begin(); entry != groups.end(); ++entry) {
        KQovNamePair names(entry->first.c_str());
        mRenamer.Rename(names);
        KQovNode* node = mManager->CreateNode(names.currentName.Buffer());
        if (!node) return false;
        KQovMesh* mesh = BuildMesh(entry->first, std::next(entry) == groups.end());
        if (!mesh) {
            mManager->DestroyNode(node, true);
            return false;
        }
        node->SetNodeAttribute(mesh);
        if (mParser.HasTexturedMaterial()) node->SetShadingMode(5);
        parent->AddChild(node);
    }
    return true;
}
