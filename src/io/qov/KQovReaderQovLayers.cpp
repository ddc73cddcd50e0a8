// Layers of the QOV reader: the version-6 layer elements and the "Layer" sections placing them,
// the version-5 "GeometryLayer" texture and UV information, and the version-5 material and
// texture indexes of a geometry. Layer, element and texture positions come from the file and
// are checked before use.

#include <algorithm>
#include <memory>

#include "attributes/KQovGeometry.h"
#include "attributes/KQovMesh.h"
#include "attributes/KQovTexture.h"
#include "io/qov/KQovReaderQov.h"

namespace {

// More layers than this are not made for an index a file names.
constexpr int kMaxLayers = 32;

template <class Element>
using Elements = std::vector<std::unique_ptr<Element>>;

// The six element lists of one geometry; what no layer takes is freed with them.
struct ElementLists {
    Elements<KQovLayerElementMaterial> materials;
    Elements<KQovLayerElement> normals;
    Elements<KQovLayerElementColor> colors;
    Elements<KQovLayerElementPolygonGroup> groups;
    Elements<KQovLayerElementTexture> textures;
    Elements<KQovLayerElementUV> uvs;
};

void AppendInts(KQovFieldFile& file, const char* name, KArrayInt& out) {
    if (!file.FieldReadBegin(name)) return;
    KQovAppendInts(file, out, file.FieldReadGetCount());
    file.FieldReadEnd();
}

// The field's values `N` at a time appended to `out` as items made by `make` (a partial
// group at the end is left out).
template <int N, class Item, class Make>
void ReadGroups(KQovFieldFile& file, const char* name, KArrayOf<Item>& out, Make make) {
    if (!file.FieldReadBegin(name)) return;
    const int groups = file.FieldReadGetCount() / N;
    if (Item* at = out.AppendUninitialised(groups))
        KQovReadDoubleGroups<N>(file, size_t(groups),
                                [&](size_t i, const double* v) { at[i] = make(v); });
    file.FieldReadEnd();
}

int32_t ReferenceModeFromName(const KString& name) {
    return name == "Index"           ? KQovLayer::eIndex
           : name == "IndexToDirect" ? KQovLayer::eIndexToDirect
                                     : KQovLayer::eDirect;
}

// Every field `name` of the block as a new element; `own` reads the kind's own fields and
// tells whether the element is kept.
template <class Element, class F>
void ReadElements(KQovFieldFile& file, const char* name, Elements<Element>& list, F&& own) {
    while (file.FieldReadBegin(name)) {
        auto element = std::make_unique<Element>();
        file.FieldReadI();
        bool keep = true;
        if (file.FieldReadBlockBegin()) {
            file.FieldReadI("Version", 0);
            element->SetMappingMode(
                KQovReaderQov::MappingModeFromName(file.FieldReadC("MappingInformationType", "")));
            const KString reference = file.FieldReadC("ReferenceInformationType", "");
            element->SetReferenceMode(ReferenceModeFromName(reference));
            keep = own(*element, reference);
            file.FieldReadBlockEnd();
        }
        file.FieldReadEnd();
        if (keep) list.push_back(std::move(element));
    }
}

// The list's element at `index`, moved out (so no two layers own it); null outside the list.
template <class Element>
std::unique_ptr<Element> Take(Elements<Element>& list, int32_t index) {
    if (index < 0 || size_t(index) >= list.size()) return nullptr;
    return std::move(list[size_t(index)]);
}

}  // namespace

bool KQovReaderQov::ReadLayers(KQovGeometry* geometry) {
    KQovFieldFile& file = *mFile.get();
    ElementLists lists;
    ReadElements(file, "LayerElementMaterial", lists.materials,
                 [&](KQovLayerElementMaterial& e, const KString&) {
                     AppendInts(file, "Materials", e.GetIndexArray());
                     return true;
                 });
    ReadElements(file, "LayerElementNormal", lists.normals,
                 [&](KQovLayerElement& e, const KString&) {
                     ReadGroups<3>(file, "Normals", e.GetDirectArray(),
                                   [](const double* v) { return KVector4(v[0], v[1], v[2], 1.0); });
                     return true;
                 });
    ReadElements(file, "LayerElementColor", lists.colors,
                 [&](KQovLayerElementColor& e, const KString&) {
                     ReadGroups<4>(file, "Colors", e.GetDirectArray(),
                                   [](const double* v) { return KColor(v[0], v[1], v[2], v[3]); });
                     if (e.GetReferenceMode() == KQovLayer::eIndexToDirect)
                         AppendInts(file, "ColorIndex", e.GetIndexArray());
                     return true;
                 });
    ReadElements(file, "LayerElementPolygonGroup", lists.groups,
                 [&](KQovLayerElementPolygonGroup& e, const KString&) {
                     AppendInts(file, "PolygonGroup", e.GetIndexArray());
                     return true;
                 });
    ReadElements(file, "LayerElementTexture", lists.textures,
                 [&](KQovLayerElementTexture& e, const KString& reference) {
                     e.SetBlendMode(BlendModeFromName(file.FieldReadC("BlendMode", "")));
                     const double alpha = file.FieldReadD("TextureAlpha", 0.0);
                     e.SetAlpha(alpha > 0.0 ? std::min(alpha, 1.0) : 0.0);
                     if (reference == "Index" || reference == "IndexToDirect")
                         AppendInts(file, "TextureId", e.GetIndexArray());
                     // An element without texture ids is no element of the file's numbering.
                     return e.GetIndexArray().GetCount() > 0;
                 });
    ReadElements(file, "LayerElementUV", lists.uvs, [&](KQovLayerElementUV& e, const KString&) {
        ReadGroups<2>(file, "UV", e.GetDirectArray(),
                      [](const double* v) { return KVector2(v[0], v[1]); });
        if (e.GetReferenceMode() == KQovLayer::eIndexToDirect)
            AppendInts(file, "UVIndex", e.GetIndexArray());
        return true;
    });

    bool invalid = false;
    while (file.FieldReadBegin("Layer")) {
        const int32_t index = file.FieldReadI();
        if (file.FieldReadBlockBegin()) {
            file.FieldReadI("Version", 100);
            while (file.FieldReadBegin("LayerElement")) {
                if (file.FieldReadBlockBegin()) {
                    const KString type = file.FieldReadC("Type", "");
                    const int32_t typed = file.FieldReadI("TypedIndex", 0);
                    if (index < 0 || index >= kMaxLayers) {
                        invalid = true;
                    } else {
                        while (geometry->GetLayerCount() <= index) geometry->CreateLayer();
                        KQovLayer& layer = *geometry->GetLayer(index);
                        if (type == "LayerElementMaterial") {
                            if (auto e = Take(lists.materials, typed))
                                layer.SetMaterials(std::move(e));
                        } else if (type == "LayerElementNormal") {
                            if (auto e = Take(lists.normals, typed)) layer.SetNormals(std::move(e));
                        } else if (type == "LayerElementColor") {
                            if (auto e = Take(lists.colors, typed))
                                layer.SetVertexColors(std::move(e));
                        } else if (type == "LayerElementTexture") {
                            if (auto e = Take(lists.textures, typed))
                                layer.SetTextures(std::move(e));
                        } else if (type == "LayerElementUV") {
                            if (auto e = Take(lists.uvs, typed)) layer.SetUVs(std::move(e));
                        } else if (type == "LayerElementPolygonGroup") {
                            if (auto e = Take(lists.groups, typed))
                                layer.SetPolygonGroups(std::move(e));
                        }
                    }
                    file.FieldReadBlockEnd();
                }
                file.FieldReadEnd();
            }
            file.FieldReadBlockEnd();
        }
        file.FieldReadEnd();
    }
    if (invalid) InvalidData("Layer index out of range (invalid data).");
    return true;
}

bool KQovReaderQov::ReadGeometryLayers(KQovGeometry* geometry) {
    bool ok = true;
    bool any = false;
    while (mFile->FieldReadBegin("GeometryLayer")) {
        any = true;
        if (mFile->FieldReadBlockBegin()) {
            if (OpenBlock("LayerTextureInfo")) {
                ok = ReadLayerTextureInfo(geometry, geometry->CreateLayer()) && ok;
                CloseBlock();
            }
            mFile->FieldReadBlockEnd();
        }
        mFile->FieldReadEnd();
    }
    if (!any && geometry->GetAttributeType() == KQovNodeAttribute::eMesh)
        for (KQovTexture* texture : mModelTextures) geometry->AddTexture(texture, 0);
    return ok;
}

bool KQovReaderQov::ReadLayerTextureInfo(KQovGeometry* geometry, int layerIndex) {
    bool ok = true;
    KQovLayer& layer = *geometry->GetLayer(layerIndex);
    KQovMesh* mesh = geometry->GetAttributeType() == KQovNodeAttribute::eMesh
                         ? static_cast<KQovMesh*>(geometry)
                         : nullptr;
    KQovLayerElementTexture& textures = layer.MakeTextures();
    textures.SetReferenceMode(KQovLayer::eIndexToDirect);
    const int32_t textureMode = ReadInt("TextureMode", 0);
    if (textureMode == 0)
        textures.SetMappingMode(KQovLayer::eNone);
    else if (textureMode == 2)
        textures.SetMappingMode(KQovLayer::eAllSame);
    else if (textureMode == 6 && mesh)
        textures.SetMappingMode(KQovLayer::eByPolygon);
    else
        ok = false;
    textures.SetBlendMode(ReadInt("TextureBlendMode", 2));
    const int known = int(mModelTextures.size());
    auto& direct = textures.GetDirectArray();
    const int polygons = mesh ? mesh->GetPolygonCount() : 0;
    if (textures.GetMappingMode() == KQovLayer::eByPolygon && polygons != 0) {
        ReadInt("TextureIdCount", 0);
        if (mFile->FieldReadBegin("TextureId")) {
            for (int p = 0; p < polygons; ++p) {
                int32_t id = mFile->FieldReadI();
                if (id < 0 || id >= known) {
                    id = 0;
                    ok = false;
                }
                if (known == 0) continue;
                KQovTexture* texture = mModelTextures[size_t(id)];
                int at = direct.Find(texture);
                if (at < 0) at = direct.Add(texture);
                textures.GetIndexArray().Add(at);
            }
            mFile->FieldReadEnd();
        }
    } else {
        const int32_t id = ReadInt("TextureId", 0);
        if (id >= 0 && id < known) {
            textures.GetIndexArray().Add(direct.Add(mModelTextures[size_t(id)]));
        }
    }

    const int32_t uvMode = ReadInt("UVMode", 0);
    if (uvMode == 0) return ok;
    layer.SetUVs(std::make_unique<KQovLayerElementUV>());
    KQovLayerElementUV& uvs = *layer.GetUVs();
    const bool byPolygonVertex = (uvMode == 7 || uvMode == 8) && mesh;
    if (uvMode == 3 || uvMode == 4) {
        uvs.SetMappingMode(KQovLayer::eByControlPoint);
    } else if (byPolygonVertex) {
        uvs.SetMappingMode(KQovLayer::eByPolygonVertex);
    } else {
        return false;
    }
    uvs.SetReferenceMode(uvMode == 4 || uvMode == 8 ? KQovLayer::eIndexToDirect
                                                    : KQovLayer::eDirect);
    const int32_t uvCount = ReadInt("UVCount", 0);
    if (uvCount > 0 && mFile->FieldReadBegin("UV")) {
        // Never more pairs than the field holds.
        const int pairs = std::min(uvCount, mFile->FieldReadGetCount() / 2);
        if (KVector2* at = uvs.GetDirectArray().AppendUninitialised(pairs))
            KQovReadDoubleGroups<2>(*mFile.get(), size_t(pairs), [at](size_t i, const double* v) {
                at[i] = KVector2(v[0], v[1]);
            });
        mFile->FieldReadEnd();
    }
    if (uvs.GetReferenceMode() != KQovLayer::eIndexToDirect) return ok;
    const int count =
        byPolygonVertex ? mesh->GetPolygonVertices().GetCount() : geometry->GetControlPointsCount();
    if (count == 0) return ok;
    ReadInt("UVIdCount", 0);
    if (mFile->FieldReadBegin("UVId")) {
        const int ids = std::min(count, mFile->FieldReadGetCount());
        KArrayInt& indices = uvs.GetIndexArray();
        const int first = indices.GetCount();
        if (KQovAppendInts(*mFile.get(), indices, ids)) {
            const int32_t uvCount = uvs.GetDirectArray().GetCount();
            for (int32_t* id = indices.GetArray() + first; id != indices.GetArray() + first + ids;
                 ++id) {
                if (*id < 0 || *id >= uvCount) {
                    *id = 0;
                    ok = false;
                }
            }
        }
        mFile->FieldReadEnd();
    }
    return ok;
}

bool KQovReaderQov::ReadMaterialIndexes(KQovGeometry* geometry) {
    if (!mFile->FieldReadBegin("Materials")) return true;
    const int count = mFile->FieldReadGetCount();
    if (geometry->GetLayerCount() == 0) geometry->CreateLayer();
    KQovLayer& layer = *geometry->GetLayer(0);
    KQovLayerElementMaterial& materials = layer.MakeMaterials();
    const int32_t reference = materials.GetReferenceMode();
    if (reference == KQovLayer::eIndex || reference == KQovLayer::eIndexToDirect) {
        KArrayInt& indices = materials.GetIndexArray();
        indices.Clear();
        KQovAppendInts(*mFile.get(), indices, count);
    }
    if (reference == KQovLayer::eIndexToDirect && materials.GetDirectArray().GetCount() == 0)
        layer.SetMaterials(nullptr);
    mFile->FieldReadEnd();
    return true;
}

bool KQovReaderQov::ReadTextureIds(KQovGeometry* geometry) {
    if (geometry->GetLayerCount() == 0) geometry->CreateLayer();
    KQovLayer& layer = *geometry->GetLayer(0);
    if (mFile->FieldReadBegin("TextureId")) {
        KArrayInt& indices = layer.MakeTextures().GetIndexArray();
        KQovAppendInts(*mFile.get(), indices, mFile->FieldReadGetCount());
        mFile->FieldReadEnd();
    } else if (KQovLayerElementTexture* textures = layer.GetTextures()) {
        const int last = geometry->GetTextureCount(0) - 1;
        if (last >= 0) textures->GetIndexArray().Add(last);
    }
    return true;
}

bool KQovReaderQov::FixOldTextureReferences(KQovGeometry* geometry) {
    if (geometry->GetLayerCount(KQovLayer::eTexture) < 2 || mModelTextures.empty()) return true;
    const int known = int(mModelTextures.size());
    bool invalid = false;
    for (int l = 0; l < geometry->GetLayerCount(); ++l) {
        KQovLayerElementTexture* textures = geometry->GetLayer(l)->GetTextures();
        if (!textures || textures->GetReferenceMode() != KQovLayer::eIndexToDirect) continue;
        auto& direct = textures->GetDirectArray();
        const KArrayInt& indices = textures->GetIndexArray();
        // A reference no texture and no index can stand for is no reason to grow the array.
        const int limit = std::max(known, indices.GetCount());
        for (int i = 0; i < indices.GetCount(); ++i) {
            const int32_t v = indices.GetAt(i);
            if (v < 0 || v >= limit) {
                invalid = true;
                continue;
            }
            while (direct.GetCount() <= v) {
                const int at = direct.GetCount();
                direct.Add(mModelTextures[size_t(at < known ? at : 0)]);
            }
        }
    }
    if (invalid) InvalidData("Texture reference out of range (invalid data).");
    return true;
}
