#include "attributes/KQovMesh.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <utility>

#include "platform/KPlatformSystem.h"

namespace {

// Grows a per-polygon index array to count entries and stores value at the last.
void StoreLast(KQovLayerElementBase& e, KArrayInt& indices, int count, int value) {
    const int mode = e.GetReferenceMode();
    if (e.GetMappingMode() != KQovLayer::eByPolygon ||
        (mode != KQovLayer::eIndex && mode != KQovLayer::eIndexToDirect))
        return;
    if (indices.GetCount() < count) indices.SetCount(count);
    indices.SetAt(count - 1, value);
}

void InitAllSame(KQovLayerElementBase& e, KArrayInt& indices) {
    e.SetMappingMode(KQovLayer::eAllSame);
    indices.Add(0);
}

}  // namespace

void KQovMesh::Reset() {
    mPolygons.Clear();
    mVertices.Clear();
    mSurface[0] = mSurface[1] = KQovMeshSurfaceFields();
    InitControlPoints(0);
    ClearLayers();
}

void KQovMesh::Copy(const KQovMesh& source) {
    if (&source == this || CopyRefused(source)) return;
    KQovGeometry::Copy(source);
    mPolygons = source.mPolygons;
    mVertices = source.mVertices;
    mSurface[0] = source.mSurface[0];
    mSurface[1] = source.mSurface[1];
}

void KQovMesh::BeginPolygon(int material, int texture, int group) {
    if (mPolygons.Add(KQovPolygon{mVertices.GetCount(), 0, group}) < 0) return;
    const int count = GetPolygonCount();
    KQovLayer& layer = GetLayer0();
    if (!layer.GetMaterials() && count == 1 && material != -1) layer.MakeMaterials();
    if (KQovLayerElementMaterial* e = layer.GetMaterials())
        StoreLast(*e, e->GetIndexArray(), count, material);
    if (!layer.GetTextures() && count == 1 && texture != -1) layer.MakeTextures();
    if (KQovLayerElementTexture* e = layer.GetTextures())
        StoreLast(*e, e->GetIndexArray(), count, texture);
}

int KQovMesh::AddPolygonVertex(int controlPoint, int uvIndex) {
    const int p = GetPolygonCount() - 1;
    if (p < 0 || mVertices.Add(controlPoint) < 0) return -1;
    if (uvIndex != -1) {
        KQovLayerElementUV& uv = GetLayer0().MakeUVs();
        if (uv.GetMappingMode() == KQovLayer::eByPolygonVertex &&
            uv.GetReferenceMode() == KQovLayer::eIndexToDirect) {
            KArrayInt& indices = uv.GetIndexArray();
            if (indices.GetCount() < mVertices.GetCount()) indices.SetCount(mVertices.GetCount());
            indices.SetAt(mVertices.GetCount() - 1, uvIndex);
        }
    }
    KQovPolygon* polygon = &mPolygons.GetArray()[p];
    return ++polygon->size;
}

int64_t KQovMesh::CheckPolygons(const int* vertexIndices, int64_t available,
                                const int* polygonSizes, int polygonCount) const {
    if (polygonCount < 0 || (polygonCount > 0 && !polygonSizes)) return -1;
    int64_t total = 0;
    for (int p = 0; p < polygonCount; ++p) {
        if (polygonSizes[p] < 0) return -1;
        total += polygonSizes[p];
    }
    if (total > INT_MAX || total > available || (total > 0 && !vertexIndices)) return -1;
    // One unsigned comparison catches negative indices too; no early exit, so the loop
    // runs several indices a step.
    const uint32_t points = uint32_t(GetControlPointsCount());
    bool outside = false;
    for (int64_t i = 0; i < total; ++i) outside |= uint32_t(vertexIndices[i]) >= points;
    return outside ? -1 : total;
}

bool KQovMesh::SetPolygons(const int* vertexIndices, const int* polygonSizes, int polygonCount) {
    const int64_t vertexCount = CheckPolygons(vertexIndices, INT64_MAX, polygonSizes, polygonCount);
    if (vertexCount < 0) return false;
    KArrayInt vertices(1024);
    int32_t* vertex = vertices.AppendUninitialised(int(vertexCount));
    if (vertexCount > 0 && !vertex) return false;
    if (vertexCount > 0) std::memcpy(vertex, vertexIndices, sizeof(int32_t) * size_t(vertexCount));
    return AdoptPolygons(std::move(vertices), polygonSizes, polygonCount);
}

bool KQovMesh::SetPolygons(KArrayInt&& vertexIndices, const int* polygonSizes, int polygonCount) {
    const int64_t vertexCount = CheckPolygons(vertexIndices.GetArray(), vertexIndices.GetCount(),
                                              polygonSizes, polygonCount);
    if (vertexCount < 0 || vertexCount != vertexIndices.GetCount()) return false;
    return AdoptPolygons(std::move(vertexIndices), polygonSizes, polygonCount);
}

bool KQovMesh::AdoptPolygons(KArrayInt&& vertices, const int* polygonSizes, int polygonCount) {
    KArrayOf<KQovPolygon> polygons(256);
    KQovPolygon* polygon = polygons.AppendUninitialised(polygonCount);
    if (polygonCount > 0 && !polygon) return false;
    for (int p = 0, first = 0; p < polygonCount; first += polygonSizes[p], ++p)
        polygon[p] = KQovPolygon{first, polygonSizes[p], -1};
    mPolygons = std::move(polygons);
    mVertices = std::move(vertices);
    UnsetPerPolygonIndices(polygonCount);
    return true;
}

void KQovMesh::UnsetPerPolygonIndices(int polygonCount) {
    // Unset as BeginPolygon leaves them.
    auto unset = [polygonCount](KQovLayerElementBase& e, KArrayInt& indices) {
        const int mode = e.GetReferenceMode();
        if (e.GetMappingMode() != KQovLayer::eByPolygon ||
            (mode != KQovLayer::eIndex && mode != KQovLayer::eIndexToDirect))
            return;
        indices.Clear();
        if (int32_t* index = indices.AppendUninitialised(polygonCount))
            std::fill(index, index + polygonCount, -1);
    };
    // Layer 0 is made with the first polygon, as BeginPolygon makes it.
    if (KQovLayer* layer = polygonCount > 0 ? &GetLayer0() : GetLayer(0)) {
        if (KQovLayerElementMaterial* e = layer->GetMaterials()) unset(*e, e->GetIndexArray());
        if (KQovLayerElementTexture* e = layer->GetTextures()) unset(*e, e->GetIndexArray());
    }
}

bool KQovMesh::SetPolygons(KQovPolygonList&& list) {
    // Only the ended polygons' vertices belong to the list.
    const int vertexCount = list.GetVertexCount(), polygonCount = list.GetPolygonCount();
    if (list.mPoints > uint32_t(GetControlPointsCount())) {
        const uint32_t points = uint32_t(GetControlPointsCount());
        bool outside = false;
        for (int i = 0; i < vertexCount; ++i) outside |= uint32_t(list.mVertex[i]) >= points;
        if (outside) return false;
    }
    list.mVertices.Resize(vertexCount);
    list.mPolygons.Resize(polygonCount);
    mVertices = std::move(list.mVertices);
    mPolygons = std::move(list.mPolygons);
    list.Empty();
    UnsetPerPolygonIndices(polygonCount);
    return true;
}

KQovPolygonList::KQovPolygonList(int controlPoints, int vertices) {
    mPoints = uint32_t(std::max(controlPoints, 0));
    // One slot more than the room: the one dropped vertices go to.
    int32_t* vertex =
        vertices > 0 && vertices < INT_MAX ? mVertices.AppendUninitialised(vertices + 1) : nullptr;
    if (!vertex) {
        mVertices.Clear();
        return;
    }
    mVertex = vertex;
    mRoom = vertices;
    // Polygons of three vertices or more need no more room than this; others grow it.
    mPolygonRoom = vertices / 3 + 1;
    mPolygon = mPolygons.AppendUninitialised(mPolygonRoom);
    if (!mPolygon) {
        Empty();
        return;
    }
    // Large lists about to be filled ask for large pages: a fault per large page instead of
    // one per page.
    constexpr size_t kLarge = size_t(4) << 20;
    // All but the first eighth of what the fill will use is made present beside it, which is
    // slower than the system's zeroing of the pages. Polygons of four vertices use three
    // quarters of their room.
    if (sizeof(int32_t) * size_t(vertices) >= kLarge) {
        const size_t bytes = sizeof(int32_t) * size_t(vertices);
        KPlatformPreferLargePages(mVertex, bytes);
        KPlatformPrefaultAside(reinterpret_cast<char*>(mVertex) + bytes / 8, bytes - bytes / 8);
    }
    if (sizeof(KQovPolygon) * size_t(mPolygonRoom) >= kLarge) {
        const size_t bytes = sizeof(KQovPolygon) * size_t(mPolygonRoom);
        KPlatformPreferLargePages(mPolygon, bytes);
        KPlatformPrefaultAside(reinterpret_cast<char*>(mPolygon) + bytes * 3 / 32,
                               bytes * 3 / 4 - bytes * 3 / 32);
    }
}

bool KQovPolygonList::GrowPolygons() {
    const int more = std::max(mPolygonRoom / 2, 256);
    if (!mPolygons.AppendUninitialised(more)) return false;
    mPolygon = mPolygons.GetArray();
    mPolygonRoom = mPolygons.GetCount();
    return true;
}

void KQovPolygonList::Empty() {
    mVertices.Clear();
    mPolygons.Clear();
    mVertex = &mSpare;
    mPolygon = nullptr;
    mRoom = mKept = mFirst = mPolygonCount = mPolygonRoom = 0;
}

void KQovMesh::InitMaterialIndices(int mode) {
    KQovLayerElementMaterial& e = GetLayer0().MakeMaterials();
    e.SetReferenceMode(KQovLayer::eIndexToDirect);
    e.GetIndexArray().Clear();
    if (mode == KQovLayer::eByControlPoint) {
        if (GetControlPointsCount() == 0) return;
        e.SetMappingMode(KQovLayer::eByControlPoint);
        e.GetIndexArray().SetCount(GetControlPointsCount());
    } else if (mode == KQovLayer::eByPolygon) {
        e.SetMappingMode(KQovLayer::eByPolygon);
    } else {
        InitAllSame(e, e.GetIndexArray());
    }
}

void KQovMesh::InitTextureIndices(int mode) {
    KQovLayerElementTexture& e = GetLayer0().MakeTextures();
    e.SetReferenceMode(KQovLayer::eIndexToDirect);
    e.GetIndexArray().Clear();
    if (mode == KQovLayer::eByPolygon)
        e.SetMappingMode(KQovLayer::eByPolygon);
    else
        InitAllSame(e, e.GetIndexArray());
}

void KQovMesh::InitTextureUVIndices(int mode) {
    KQovLayerElementUV& e = GetLayer0().MakeUVs();
    e.GetDirectArray().Clear();
    e.GetIndexArray().Clear();
    const bool known = mode == KQovLayer::eByControlPoint || mode == KQovLayer::eByPolygonVertex ||
                       mode == KQovLayer::eAllSame;
    e.SetMappingMode(known ? mode : KQovLayer::eNone);
    e.SetReferenceMode(mode == KQovLayer::eByPolygonVertex ? KQovLayer::eIndexToDirect
                                                           : KQovLayer::eDirect);
}

void KQovMesh::InitTextureUV(int count) {
    KArrayOf<KVector2>& uvs = GetLayer0().MakeUVs().GetDirectArray();
    uvs.Clear();
    uvs.SetCount(count);
}

int KQovMesh::AddTextureUV(double u, double v) {
    KArrayOf<KVector2>* uvs = GetTextureUV();
    return uvs ? uvs->Add(KVector2(u, v)) : -1;
}

int KQovMesh::GetPolygonSize(int p) const {
    return p >= 0 && p < GetPolygonCount() ? mPolygons.GetArray()[p].size : -1;
}

int KQovMesh::VertexPosition(int p, int k) const {
    if (k < 0 || k >= GetPolygonSize(p)) return -1;
    const int position = mPolygons.GetArray()[p].first + k;
    return position < mVertices.GetCount() ? position : -1;
}

bool KQovMesh::FindMissingPoint(int& polygon, int& point) const {
    const uint32_t points = uint32_t(GetControlPointsCount());
    const KQovPolygon* polygons = mPolygons.GetArray();
    const int32_t* vertices = mVertices.GetArray();
    const int64_t vertexCount = mVertices.GetCount();
    for (int p = 0; p < GetPolygonCount(); ++p) {
        const KQovPolygon& at = polygons[p];
        for (int k = 0; k < at.size; ++k) {
            // A vertex past the list names no point either.
            const int64_t position = int64_t(at.first) + k;
            const bool listed = position >= 0 && position < vertexCount;
            if (listed && uint32_t(vertices[position]) < points) continue;
            polygon = p;
            point = listed ? vertices[position] : -1;
            return true;
        }
    }
    return false;
}

int KQovMesh::GetPolygonVertex(int p, int k) const {
    const int position = VertexPosition(p, k);
    return position < 0 ? -1 : mVertices.GetAt(position);
}

void KQovMesh::GetPolygonVertexNormal(int p, int k, KVector4& out) const {
    const int position = VertexPosition(p, k);
    const KArrayVector4* normals = GetNormals();
    if (position >= 0 && normals && position < normals->GetCount()) out = normals->GetAt(position);
}

int KQovMesh::GetTextureUVIndex(int p, int k) const {
    const KQovLayer* layer = GetLayer(0);
    const KQovLayerElementUV* uv = layer ? layer->GetUVs() : nullptr;
    const int position = VertexPosition(p, k);
    if (!uv || uv->GetMappingMode() != KQovLayer::eByPolygonVertex ||
        uv->GetReferenceMode() != KQovLayer::eIndexToDirect || position < 0 ||
        position >= uv->GetIndexArray().GetCount())
        return -1;
    return uv->GetIndexArray().GetAt(position);
}

KArrayOf<KVector2>* KQovMesh::GetTextureUV() const {
    const KQovLayer* layer = GetLayer(0);
    KQovLayerElementUV* uv = layer ? layer->GetUVs() : nullptr;
    return uv ? &uv->GetDirectArray() : nullptr;
}

int KQovMesh::GetTextureUVCount() const {
    const KArrayOf<KVector2>* uvs = GetTextureUV();
    return uvs ? uvs->GetCount() : 0;
}

namespace {

int ModeOf(const KQovLayerElementBase* e, int a, int b, int otherwise) {
    const int mode = e ? e->GetMappingMode() : otherwise;
    return mode == a || mode == b ? mode : otherwise;
}

template <class Element>
KArrayInt* IndicesOf(Element* e) {
    return e && e->GetReferenceMode() != KQovLayer::eDirect ? &e->GetIndexArray() : nullptr;
}

}  // namespace

int KQovMesh::GetMaterialMappingMode() const {
    const KQovLayer* layer = GetLayer(0);
    return layer && layer->GetMaterials() ? layer->GetMaterials()->GetMappingMode() : 0;
}

int KQovMesh::GetTextureUVMappingMode() const {
    const KQovLayer* layer = GetLayer(0);
    return ModeOf(layer ? layer->GetUVs() : nullptr, KQovLayer::eByControlPoint,
                  KQovLayer::eByPolygonVertex, 0);
}

int KQovMesh::GetTextureMappingMode() const {
    const KQovLayer* layer = GetLayer(0);
    return ModeOf(layer ? layer->GetTextures() : nullptr, KQovLayer::eByPolygon,
                  KQovLayer::eAllSame, 0);
}

int KQovMesh::GetNormalsMappingMode() const {
    const KQovLayer* layer = GetLayer(0);
    return ModeOf(layer ? layer->GetNormals() : nullptr, KQovLayer::eByControlPoint,
                  KQovLayer::eByPolygonVertex, KQovLayer::eByControlPoint);
}

KArrayInt* KQovMesh::GetMaterialIndices() const {
    const KQovLayer* layer = GetLayer(0);
    return IndicesOf(layer ? layer->GetMaterials() : nullptr);
}

KArrayInt* KQovMesh::GetTextureIndices() const {
    const KQovLayer* layer = GetLayer(0);
    return IndicesOf(layer ? layer->GetTextures() : nullptr);
}
