// Materials and textures of the QOV reader (both layouts), the shading objects of the version-6
// "Objects" section, and the merge of twin textures and materials once a scene is read.

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "attributes/KQovGeometry.h"
#include "attributes/KQovMaterial.h"
#include "attributes/KQovShadingChannels.h"
#include "attributes/KQovTexture.h"
#include "io/qov/KQovReaderQov.h"
#include "scene/KQovDeformer.h"
#include "scene/KQovEntityContainer.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"
#include "scene/KQovVideo.h"

namespace {

double Clamp01(double value) { return value > 0.0 ? std::min(value, 1.0) : 0.0; }

// Shading models are kept in lower case.
KString Lower(const char* text) { return KString(text ? text : "").Lower(); }

}  // namespace

bool KQovReaderQov::ReadShadingObject(KQovScene* scene, const char* type, const char* subType,
                                      const char* name) {
    KQovObject* object = nullptr;
    // Registered under the header's name, which "Connections" uses even where a texture's
    // "TextureName" renames it.
    KString registered;
    // Materials and textures the caller switched off are passed over with their blocks.
    if (std::strcmp(type, "Material") == 0) {
        if (!Switch(KStreamOptionsQov::eMaterials)) return true;
        KQovMaterial* material = mManager->CreateMaterial(name);
        if (material) {
            ReadMaterial(material);
            mReadMaterials.push_back(material);
        }
        object = material;
    } else if (std::strcmp(type, "Texture") == 0) {
        if (!Switch(KStreamOptionsQov::eTexturesAndMedia)) return true;
        KQovTexture* texture = mManager->CreateTexture(name);
        if (texture) {
            registered = texture->GetName();
            ReadTexture(texture);
            mReadTextures.push_back(texture);
        }
        object = texture;
    } else if (std::strcmp(type, "Video") == 0) {
        KQovVideo* video = mManager->CreateVideo(name);
        if (video) ReadVideo(video);
        object = video;
    } else if (std::strcmp(type, "Deformer") == 0) {
        if (std::strcmp(subType, "Skin") != 0 && std::strcmp(subType, "Cluster") != 0) return true;
        KQovDeformer* deformer = mManager->CreateDeformer(name, subType);
        if (deformer) {
            ReadDeformerContent(deformer);
            scene->GetEntityContainer()->AddDeformer(deformer);
        }
        object = deformer;
    } else {
        return false;
    }
    if (object && registered.IsEmpty()) registered = object->GetName();
    if (object) mFile->RegisterObject(registered.Buffer(), object->GetPropertyHandler());
    return true;
}

bool KQovReaderQov::ReadMaterial(KQovMaterial* material) {
    if (!mFile->IsVersion5Layout()) {
        ReadInt("Version", 100);
        material->SetShadingModel(Lower(mFile->FieldReadC("ShadingModel", "phong")).Buffer());
        material->SetMultiLayer(ReadInt("MultiLayer", 0) != 0);
        ReadPropertyBlock(material);
        WrapUserProperties(material);
        return true;
    }
    material->SetName(mFile->FieldReadC());
    if (!mFile->FieldReadBlockBegin()) return true;
    material->SetShadingModel(Lower(mFile->FieldReadC("ShadingModel", "phong")).Buffer());
    double rgb[3];
    if (ReadDoubles("Ambient", rgb, 3)) material->SetDefaultAmbient(KColor(rgb[0], rgb[1], rgb[2]));
    if (ReadDoubles("Diffuse", rgb, 3)) material->SetDefaultDiffuse(KColor(rgb[0], rgb[1], rgb[2]));
    if (ReadDoubles("Specular", rgb, 3))
        material->SetDefaultSpecular(KColor(rgb[0], rgb[1], rgb[2]));
    if (ReadDoubles("Emissive", rgb, 3))
        material->SetDefaultEmissive(KColor(rgb[0], rgb[1], rgb[2]));
    // Older files kept shininess on a 0 to 128 scale, later ones in hundredths.
    const double scale = mFile->GetFileVersion() < 3000 ? 1.0 / 128.0 : 0.01;
    if (ReadDoubles("Shininess", rgb, 1)) {
        material->SetDefaultShininess(rgb[0] * scale);
        // Past full shininess the channel keeps the value (128 at full).
        if (rgb[0] * scale > 1.0)
            KQovShadingChannels::SetDefault(*material, "Shininess", -1, rgb[0] * scale * 128.0);
    }
    if (ReadDoubles("Reflectivity", rgb, 1)) material->SetDefaultReflectivity(rgb[0]);
    if (ReadDoubles("Alpha", rgb, 1)) material->SetDefaultOpacity(rgb[0]);
    mOfModelOnly = ReadInt("ModelOnly", 0) != 0;
    mFile->FieldReadBlockEnd();
    return true;
}

// "ModelUVTranslation", "ModelUVScaling", "Texture_Alpha_Source" and "Cropping", which both
// layouts share.
void KQovReaderQov::ReadTexturePlacement(KQovTexture* texture) {
    double uv[2];
    if (ReadDoubles("ModelUVTranslation", uv, 2)) texture->SetUVTranslation(KVector2(uv[0], uv[1]));
    if (ReadDoubles("ModelUVScaling", uv, 2)) texture->SetUVScaling(KVector2(uv[0], uv[1]));
    static const char* const kAlphaSources[] = {"None", "RGB_Intensity", "Alpha_Black", nullptr};
    texture->SetAlphaSource(KQovIndexIn(mFile->FieldReadC("Texture_Alpha_Source", ""), kAlphaSources, 0));
    int32_t c[4];
    // Read back in the order the writers write c0 to c3 (SetCropping takes c0, c2, c1, c3).
    if (ReadInts("Cropping", c, 4)) texture->SetCropping(c[0], c[2], c[1], c[3]);
}

bool KQovReaderQov::ReadTexture(KQovTexture* texture) {
    if (!mFile->IsVersion5Layout()) {
        const KString name = mFile->FieldReadC("TextureName", "");
        if (!name.IsEmpty()) texture->SetName(name.Buffer());
        texture->SetFileName(mFile->FieldReadC("FileName", ""));
        texture->SetRelativeFileName(mFile->FieldReadC("RelativeFilename", ""));
        texture->SetMediaName(mFile->FieldReadC("Media", ""));
        ReadPropertyBlock(texture);
        WrapUserProperties(texture);
        ReadTexturePlacement(texture);
        return true;
    }
    texture->SetName(mFile->FieldReadC());
    if (!mFile->FieldReadBlockBegin()) return true;
    texture->SetMediaName(mFile->FieldReadC("Media", ""));
    double v[3];
    if (ReadDoubles("Translation", v, 3)) texture->SetDefaultTranslation(KVector4(v[0], v[1], v[2]));
    if (ReadDoubles("Rotation", v, 3)) texture->SetDefaultRotation(KVector4(v[0], v[1], v[2]));
    if (ReadDoubles("Scaling", v, 3)) texture->SetDefaultScale(KVector4(v[0], v[1], v[2]));
    if (ReadDoubles("TextureAlpha", v, 1)) texture->SetDefaultAlpha(Clamp01(v[0]));
    ReadTexturePlacement(texture);
    static const char* const kMappings[] = {"None", "Planar", "Spherical", "Cylindrical", "Box",
                                            "Face", "UV",     "Environment", nullptr};
    texture->SetMappingType(KQovIndexIn(mFile->FieldReadC("Texture_Mapping_Type", ""), kMappings, 0));
    static const char* const kNormals[] = {"X", "Y", "Z", nullptr};
    texture->SetPlanarMappingNormal(
        KQovIndexIn(mFile->FieldReadC("Texture_Planar_Mapping_Normal", ""), kNormals, 0));
    if (mFile->FieldReadBegin("SwapUV")) {
        texture->SetSwapUV(mFile->FieldReadI() != 0);
        mFile->FieldReadEnd();
    }
    texture->SetMaterialUse(ReadInt("MaterialMode", 0));
    static const char* const kUses[] = {"Standard",   "ShadowMap",          "LightMap",
                                        "SphericalReflexionMap", "SphereReflexionMap",
                                        "BumpNormalMap", nullptr};
    texture->SetTextureUse(KQovIndexIn(mFile->FieldReadC("TextureUse", ""), kUses, 0));
    const int32_t wrapU = ReadInt("WrapU", 0);
    texture->SetWrapMode(wrapU, ReadInt("WrapV", 0));
    texture->SetBlendMode(ReadInt("BlendMode", 0));
    mOfModelOnly = ReadInt("ModelOnly", 0) != 0;
    mFile->FieldReadBlockEnd();
    return true;
}

bool KQovReaderQov::ReadModelMaterials(KQovGeometry* geometry) {
    if (!Switch(KStreamOptionsQov::eMaterials)) return true;
    while (mFile->FieldReadBegin("Material")) {
        if (KQovMaterial* material = mManager->CreateMaterial("")) {
            mOfModelOnly = false;
            ReadMaterial(material);
            if (mOfModelOnly)
                mModelOnlyShading.push_back(material);
            else
                geometry->AddMaterial(material, 0);
            mReadMaterials.push_back(material);
            mFile->RegisterObject(material->GetName(), material->GetPropertyHandler());
        }
        mFile->FieldReadEnd();
    }
    return true;
}

bool KQovReaderQov::ReadModelTextures(KQovGeometry* geometry) {
    (void)geometry;
    if (!Switch(KStreamOptionsQov::eTexturesAndMedia)) return true;
    while (mFile->FieldReadBegin("Texture")) {
        if (KQovTexture* texture = mManager->CreateTexture("")) {
            mOfModelOnly = false;
            ReadTexture(texture);
            if (mOfModelOnly)
                mModelOnlyShading.push_back(texture);
            else
                mModelTextures.push_back(texture);
            mReadTextures.push_back(texture);
            mFile->RegisterObject(texture->GetName(), texture->GetPropertyHandler());
        }
        mFile->FieldReadEnd();
    }
    return true;
}

namespace {

// Removes from `list` every later object equal to an earlier one; the pairs (removed, kept),
// by kept object in list order, the removed ones of each last first. Equality holds between
// objects of one key only, and is transitive: each object is compared with the first
// objects of its key's classes.
template <class T>
std::vector<std::pair<T*, T*>> FindTwins(std::vector<T*>& list) {
    std::unordered_map<std::string, std::vector<size_t>> firstsOfKey;
    std::vector<std::vector<size_t>> twinsOf(list.size());
    std::vector<T*> kept;
    for (size_t j = 0; j < list.size(); ++j) {
        std::vector<size_t>& firsts = firstsOfKey[list[j]->GetEqualityKey()];
        const auto first = std::find_if(firsts.begin(), firsts.end(),
                                        [&](size_t i) { return list[j]->IsEqual(*list[i]); });
        if (first != firsts.end()) {
            twinsOf[*first].push_back(j);
        } else {
            firsts.push_back(j);
            kept.push_back(list[j]);
        }
    }
    std::vector<std::pair<T*, T*>> pairs;
    for (size_t i = 0; i < list.size(); ++i)
        for (auto j = twinsOf[i].rbegin(); j != twinsOf[i].rend(); ++j)
            pairs.emplace_back(list[*j], list[i]);
    list = std::move(kept);
    return pairs;
}

template <class T>
T* KeptTwin(const std::unordered_map<T*, T*>& keptOf, T* object) {
    const auto found = keptOf.find(object);
    return found == keptOf.end() ? nullptr : found->second;
}

void Forget(KQovEntityContainer& scene, KQovTexture* texture) {
    while (!scene.RemoveTexture(texture) &&
           scene.GetError().GetErrorCode() == KQovEntityContainer::eTextureInUse) {
    }
}
void Forget(KQovEntityContainer& scene, KQovMaterial* material) {
    while (!scene.RemoveMaterial(material) &&
           scene.GetError().GetErrorCode() == KQovEntityContainer::eMaterialInUse) {
    }
}

// At once: the geometry is walked once for all the twins.
bool Destroy(KQovObjectManager& manager, const std::vector<KQovTexture*>& textures) {
    return manager.DestroyTextures(textures);
}
bool Destroy(KQovObjectManager& manager, const std::vector<KQovMaterial*>& materials) {
    return manager.DestroyMaterials(materials);
}

}  // namespace

// Every entry of the object-name map naming a removed twin names the kept one instead, so that
// nothing read later reaches a destroyed object.
template <class T>
void KQovReaderQov::RemapObjectNames(const std::vector<std::pair<T*, T*>>& pairs) {
    std::vector<std::pair<void*, void*>> handlers;
    handlers.reserve(pairs.size());
    for (const auto& [removed, kept] : pairs)
        handlers.emplace_back(removed->GetPropertyHandler(), kept->GetPropertyHandler());
    mFile->GetObjectMap()->ReplaceValues(handlers);
}

template <class T>
void KQovReaderQov::MergeTwins(KQovScene* scene, std::vector<T*>& list) {
    const auto pairs = FindTwins(list);
    if (pairs.empty()) return;
    const std::unordered_map<T*, T*> keptOf(pairs.begin(), pairs.end());
    for (int n = 0; n < mNodes.GetCount(); ++n) {
        KQovGeometry* geometry = static_cast<KQovNode*>(mNodes.GetAt(n))->GetGeometry();
        // The scene's uses move to the kept twins: its lists keep their order.
        if (geometry)
            geometry->Replace(std::function<T*(T*)>([&keptOf](T* o) { return KeptTwin(keptOf, o); }));
    }
    RemapObjectNames(pairs);
    std::vector<T*> removedTwins;
    removedTwins.reserve(pairs.size());
    for (const auto& [removed, kept] : pairs) {
        // Whatever was connected to the twin (a camera background, a node) gets the kept one.
        KQovPropertyHandler* from = removed->GetPropertyHandler();
        KQovPropertyHandler* to = kept->GetPropertyHandler();
        std::vector<KPlug*> users;
        for (int d = 0; d < from->GetDstCount(); ++d) users.push_back(from->GetDst(d));
        for (KPlug* user : users)
            if (user && !user->IsConnectedSrc(to)) user->ConnectSrc(to);
        Forget(*scene->GetEntityContainer(), removed);
        removedTwins.push_back(removed);
    }
    Destroy(*mManager, removedTwins);
}

void KQovReaderQov::MergeDuplicateTextures(KQovScene* scene) { MergeTwins(scene, mReadTextures); }

void KQovReaderQov::MergeDuplicateMaterials(KQovScene* scene) { MergeTwins(scene, mReadMaterials); }

void KQovReaderQov::FinishShading(KQovScene* scene) {
    if (scene && mFile && !mFile->IsVersion5Layout()) {
        MergeDuplicateTextures(scene);
        MergeDuplicateMaterials(scene);
    }
    mReadTextures.clear();
    mReadMaterials.clear();
    mModelTextures.clear();
    mModelOnlyShading.clear();
    mModelOnlyConnections.clear();
    mPendingLinks.clear();
    mModelShapes.clear();
    mRenamedShapes.clear();
}
