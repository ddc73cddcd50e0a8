// Version-6 shading: material and texture objects, the material and texture layer elements of
// a mesh, and the node-level order of the connections that refill those elements on reading.

#include <algorithm>
#include <cctype>
#include <string>
#include <unordered_map>
#include <vector>

#include "attributes/KQovGeometry.h"
#include "attributes/KQovMaterial.h"
#include "attributes/KQovShadingScene.h"
#include "attributes/KQovTexture.h"
#include "foundation/KPath.h"
#include "foundation/KQuotedText.h"
#include "io/KStreamOptionsQov.h"
#include "io/qov/KQovPropertyFieldFile.h"
#include "io/qov/KQovWriterQov6.h"
#include "io/qov/KQovWriterQovSections.h"
#include "scene/KQovEntityContainer.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"
#include "scene/KQovVideo.h"

namespace {

const char* BlendName(int mode) {
    static const char* const kNames[] = {"Translucent", "Add", "Modulate", "Modulate2", "MaxBlend"};
    return mode >= 0 && mode <= 4 ? kNames[mode] : "Translucent";
}

// Appends the item to the node's list unless it is there.
template <class T>
void AddOnce(std::vector<T*>& list, std::unordered_map<const T*, int>& positions, T* item) {
    if (positions.try_emplace(item, int(list.size())).second) list.push_back(item);
}

// The element's index `i` as a position in the node's list; -1 when it names nothing.
template <class Element, class T>
int Remapped(const Element& e, int i, const std::unordered_map<const T*, int>& positions) {
    const int at = e.GetIndexArray().GetAt(i);
    if (at < 0 || at >= e.GetDirectArray().GetCount()) return -1;
    const auto found = positions.find(e.GetDirectArray().GetAt(at));
    return found == positions.end() ? -1 : found->second;
}

}  // namespace

void KQovWriterQov6::WriteObjectProperties(KQovObject* object) {
    std::vector<KProperty*> properties;
    object->CollectProperties(properties);
    mFile->FieldWritePropertyBlock(properties);
}

void KQovWriterQov6::CollectShading(KQovScene* scene) {
    mShadingObjects.clear();
    mShadingListed.clear();
    KQovEntityContainer* entity = scene->GetEntityContainer();
    if (!entity) return;
    if (mOptions->GetSwitch(KStreamOptionsQov::eMaterials))
        for (int i = 0; i < entity->GetMaterialCount(); ++i)
            ListShadingObject(entity->GetMaterial(i));
    if (mOptions->GetSwitch(KStreamOptionsQov::eTexturesAndMedia))
        for (int i = 0; i < entity->GetTextureCount(); ++i)
            ListShadingObject(entity->GetTexture(i));
    for (KQovObject* object : mLayerOnly) ListShadingObject(object);
    mLayerOnly.clear();
}

void KQovWriterQov6::CollectVideos(KQovScene* scene) {
    mClips.clear();
    if (!mOptions->GetSwitch(KStreamOptionsQov::eVideos)) return;
    CollectMedia(scene, mClips);
    // The written textures by the file they show, in the order they are written.
    std::unordered_map<std::string, std::vector<KQovTexture*>> showing;
    for (KQovObject* object : mShadingObjects)
        if (auto* texture = dynamic_cast<KQovTexture*>(object))
            if (texture->GetFileName()[0])
                showing[KCleanPath(texture->GetFileName()).Buffer()].push_back(texture);
    for (size_t i = 0; i < mClips.size(); ++i) {
        const MediaEntry& clip = mClips[i];
        mClipOfFile[clip.path] = clip.name;
        const std::string name = KMakePrefixedName("Video::", clip.name.Buffer()).Buffer();
        mObjects.push_back({"Video", name, "Clip", [this, i] { WriteVideoObject(mClips[i]); }});
        // Each written texture that shows the file takes it from the clip.
        const auto shown = showing.find(clip.path.Buffer());
        if (shown != showing.end())
            for (KQovTexture* texture : shown->second)
                mConnections.push_back({"OO", name, texture->GetName(), "", nullptr, texture});
    }
}

void KQovWriterQov6::WriteVideoObject(const MediaEntry& clip) {
    // A clip of this write only: its property block, then the fields around it.
    KQovVideo* video = mManager->CreateVideo(clip.name.Buffer());
    if (!video) {
        mError.SetErrorWithText(eUnidentifiedError, "A clip could not be made");
        return;
    }
    video->SetFileName(clip.fileName.Buffer());
    video->SetRelativeFileName(mFile->GetRelativeMediaPath(clip.path.Buffer()).Buffer());
    WriteObjectProperties(video);
    KQovWriteIntField(mFile, "UseMipMap", video->GetUseMipMap() ? 1 : 0);
    mManager->DestroyVideo(video);
    WriteClipFields(clip, mOptions->GetSwitch(KStreamOptionsQov::eEmbedMedia) && mFile->IsBinary());
}

void KQovWriterQov6::ListShadingObject(KQovObject* object) {
    if (!mShadingListed.insert(object).second) return;
    mShadingObjects.push_back(object);
    if (auto* material = dynamic_cast<KQovMaterial*>(object))
        mObjects.push_back({"Material", material->GetName(), "",
                            [this, material] { WriteMaterialObject(material); }, nullptr,
                            material});
    else if (auto* texture = dynamic_cast<KQovTexture*>(object))
        mObjects.push_back({"Texture", texture->GetName(), "",
                            [this, texture] { WriteTextureObject(texture); }, nullptr, texture});
}

void KQovWriterQov6::CollectNodeShading(KQovNode* node) {
    NodeShading& shading = mShading[node];
    KQovGeometry* geometry = node->GetGeometry();
    if (!geometry) return;
    // In layer order, each once: the reader refills the elements in connection order.
    bool direct = false;  // a material layer of direct reference
    for (int l = 0; l < geometry->GetLayerCount(); ++l) {
        const KQovLayer* layer = geometry->GetLayer(l);
        if (const KQovLayerElementMaterial* e = layer ? layer->GetMaterials() : nullptr) {
            direct = direct || e->GetReferenceMode() == KQovLayer::eDirect;
            for (int i = 0; i < e->GetDirectArray().GetCount(); ++i)
                if (KQovMaterial* m = e->GetDirectArray().GetAt(i))
                    AddOnce(shading.materials, shading.materialAt, m);
        }
        if (const KQovLayerElementTexture* e = layer ? layer->GetTextures() : nullptr)
            for (int i = 0; i < e->GetDirectArray().GetCount(); ++i)
                if (KQovTexture* t = e->GetDirectArray().GetAt(i))
                    AddOnce(shading.textures, shading.textureAt, t);
    }
    AddConnectedShading(node, shading, direct);
    // Objects only the layers know (none of the scene's lists has them) are written as well.
    if (mOptions->GetSwitch(KStreamOptionsQov::eMaterials))
        for (KQovMaterial* m : shading.materials) {
            mLayerOnly.push_back(m);
            mConnections.push_back({"OO", m->GetName(), WrittenName(node), "", m});
        }
    if (mOptions->GetSwitch(KStreamOptionsQov::eTexturesAndMedia))
        for (KQovTexture* t : shading.textures) {
            mLayerOnly.push_back(t);
            mConnections.push_back({"OO", t->GetName(), WrittenName(node), "", t});
        }
}

void KQovWriterQov6::AddConnectedShading(KQovNode* node, NodeShading& shading, bool direct) {
    // After the layers' own, so that their positions stay: a material or texture connected to
    // the node that no layer names is carried by its connection alone. A material layer of
    // direct reference takes every material connected to its model on reading, so none is
    // kept apart beside one.
    for (KQovMaterial* m : KQovShadingScene::MaterialsOfModelOnly(node)) {
        if (!direct) {
            AddOnce(shading.materials, shading.materialAt, m);
        } else if (mOptions->GetSwitch(KStreamOptionsQov::eMaterials)) {
            mStatus += ("Material \"" + KQovMessageText(m->GetNameWithoutPrefix().Buffer()) +
                        "\" of \"" + KQovMessageText(node->GetNameWithoutPrefix().Buffer()) +
                        "\" is not written: the model's material layer would take it\n")
                           .c_str();
        }
    }
    for (int i = 0; i < KQovShadingScene::ConnectedTextureCount(node); ++i)
        if (KQovTexture* t = KQovShadingScene::ConnectedTexture(node, i))
            AddOnce(shading.textures, shading.textureAt, t);
}

void KQovWriterQov6::WriteMaterialObject(KQovMaterial* material) {
    KQovWriteIntField(mFile, "Version", 100);
    std::string model = material->GetShadingModel().Buffer();
    for (char& c : model) c = char(std::tolower(static_cast<unsigned char>(c)));
    mFile->FieldWriteC("ShadingModel", model.c_str());
    KQovWriteIntField(mFile, "MultiLayer", material->GetMultiLayer() ? 1 : 0);
    WriteObjectProperties(material);
}

void KQovWriterQov6::WriteTextureObject(KQovTexture* texture) {
    mFile->FieldWriteC("TextureName", WrittenName(texture));
    mFile->FieldWriteC("FileName", texture->GetFileName());
    mFile->FieldWriteC("RelativeFilename", texture->GetRelativeFileName());
    mFile->FieldWriteC("Media", texture->GetMediaName());
    WriteObjectProperties(texture);
    KQovWriteTexturePlacement(mFile, texture);
}

void KQovWriterQov6::WriteShadingElements(KQovNode* node, KQovGeometry* geometry) {
    const NodeShading& shading = mShading[node];
    KQovFieldFile* f = mFile;
    const bool materials = mOptions->GetSwitch(KStreamOptionsQov::eMaterials);
    const bool textures = mOptions->GetSwitch(KStreamOptionsQov::eTexturesAndMedia);
    int number = 0;
    for (int l = 0; materials && l < geometry->GetLayerCount(); ++l) {
        const KQovLayer* layer = geometry->GetLayer(l);
        const KQovLayerElementMaterial* e = layer ? layer->GetMaterials() : nullptr;
        if (!e) continue;
        KQovWriteElementBegin(f, "LayerElementMaterial", number++, e->GetMappingMode(),
                              e->GetReferenceMode());
        f->FieldWriteBegin("Materials");
        for (int i = 0; i < e->GetIndexArray().GetCount(); ++i)
            f->FieldWriteI(Remapped(*e, i, shading.materialAt));
        f->FieldWriteEnd();
        KQovWriteBlockEnd(f);
    }
    number = 0;
    for (int l = 0; textures && l < geometry->GetLayerCount(); ++l) {
        const KQovLayer* layer = geometry->GetLayer(l);
        const KQovLayerElementTexture* e = layer ? layer->GetTextures() : nullptr;
        if (!e || e->GetIndexArray().GetCount() == 0) continue;
        KQovWriteElementBegin(f, "LayerElementTexture", number++, e->GetMappingMode(),
                              KQovLayer::eIndexToDirect);
        f->FieldWriteC("BlendMode", BlendName(e->GetBlendMode()));
        KQovWriteDoubleField(f, "TextureAlpha", e->GetAlpha());
        f->FieldWriteBegin("TextureId");
        for (int i = 0; i < e->GetIndexArray().GetCount(); ++i)
            f->FieldWriteI(Remapped(*e, i, shading.textureAt));
        f->FieldWriteEnd();
        KQovWriteBlockEnd(f);
    }
}
