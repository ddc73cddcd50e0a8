#include "formats/geometry/3ds/MeshImport3ds.h"

#include <cmath>
#include <cstring>

#include "foundation/KAffineMatrix.h"

namespace {

uint32_t FaceMask(const Mesh3ds& mesh, size_t face) {
    return face < mesh.smoothing.size() ? mesh.smoothing[face] : 0;
}

bool Shares(uint32_t a, uint32_t b) {
    return (a & b) != 0 || (a == 0 && b == 0);
}

// From a stored vertex to the point the mesh places: through the record's local axes
// inverted (axes with no volume count as the identity), or, for a mesh stored in place, as
// stored. A mirroring frame (negative determinant) holds its vertices mirrored across its own
// x axis: they are mirrored back in that frame.
KAffineMatrix StoredToPlaced(const Mesh3ds& mesh, bool storedPlace) {
    KMatrix m;
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 3; ++col) m[row][col] = mesh.localAxes[row * 3 + col];
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    if (std::fabs(det) < static_cast<double>(1e-6f)) return KAffineMatrix();
    const KAffineMatrix axes(m);
    if (det > 0) return storedPlace ? KAffineMatrix() : axes.Inverse();
    const KAffineMatrix local =
        axes.Inverse() * KAffineMatrix(KVector4(), KVector4(), KVector4(-1, 1, 1));
    return storedPlace ? local * axes : local;
}

bool ValidFaces(const Mesh3ds& mesh) {
    const size_t n = mesh.vertices.size();
    for (const Face3ds& f : mesh.faces)
        if (f.v1 >= n || f.v2 >= n || f.v3 >= n) return false;
    return true;
}

int IndexOrZero(const std::vector<int>& indices, size_t face) {
    return face < indices.size() && indices[face] > 0 ? indices[face] : 0;
}

void CopyIndices(KArrayInt& to, const std::vector<int>& from) {
    if (to.SetCount(static_cast<int>(from.size())) && !from.empty())
        std::memcpy(to.GetArray(), from.data(), from.size() * sizeof(int));
}

}  // namespace

SmoothingSplit3ds::SmoothingSplit3ds(const Mesh3ds& mesh, bool split)
    : mEntries(mesh.vertices.size()) {
    if (!split || mesh.smoothing.empty()) return;
    for (size_t f = 0; f < mesh.faces.size(); ++f) {
        const uint32_t m = FaceMask(mesh, f);
        for (uint16_t p : {mesh.faces[f].v1, mesh.faces[f].v2, mesh.faces[f].v3}) {
            if (!mEntries[p].used) {
                mEntries[p].used = true;
                mEntries[p].mask = m;
                continue;
            }
            const int found = Match(p, m);
            if (found >= 0) {
                mEntries[static_cast<size_t>(found)].mask |= m;
                continue;
            }
            // Chained per source vertex, so the split stays linear in the faces.
            int last = p;
            while (mEntries[static_cast<size_t>(last)].next >= 0)
                last = mEntries[static_cast<size_t>(last)].next;
            mEntries[static_cast<size_t>(last)].next = static_cast<int32_t>(mEntries.size());
            mEntries.push_back(Entry{m, -1, true});
        }
    }
}

int SmoothingSplit3ds::Match(uint16_t p, uint32_t m) const {
    for (int e = p; e >= 0; e = mEntries[static_cast<size_t>(e)].next)
        if (Shares(mEntries[static_cast<size_t>(e)].mask, m)) return e;
    return -1;
}

int SmoothingSplit3ds::Find(uint16_t p, uint32_t m) const {
    const int found = Match(p, m);
    return found >= 0 ? found : p;
}

KVector4 ScenePoint3ds(double x, double y, double z, double scale) {
    return KVector4(x * scale, z * scale, -y * scale, 1.0);
}

bool ImportMesh3ds(const Mesh3ds& record, KQovMesh& mesh, const MeshImportOptions3ds& options,
                   const std::vector<int>& faceMaterials, const std::vector<int>& faceTextures) {
    if (!ValidFaces(record)) return false;
    const SmoothingSplit3ds split(record, options.smoothGroups);
    const int count = split.GetControlPointCount();
    mesh.InitControlPoints(count);
    mesh.InitNormals(count);
    mesh.InitMaterialIndices(KQovLayer::eByPolygon);
    mesh.InitTextureIndices(KQovLayer::eByPolygon);
    mesh.InitTextureUVIndices(KQovLayer::eByPolygonVertex);
    // One UV per 3DS vertex; a vertex without a texture vertex maps to (0, 0).
    mesh.InitTextureUV(static_cast<int>(record.vertices.size()));
    KVector2* uvs = mesh.GetTextureUV()->GetArray();
    for (size_t v = 0; v < record.vertices.size() && v < record.texVerts.size(); ++v)
        uvs[v] = KVector2(record.texVerts[v].u, record.texVerts[v].v);

    const KAffineMatrix inverse = StoredToPlaced(record, options.storedPlace);
    std::vector<KVector4> positions(record.vertices.size());
    for (size_t v = 0; v < record.vertices.size(); ++v) {
        const Point3ds& p = record.vertices[v];
        const KVector4 local = inverse.MultT(KVector4(p.x, p.y, p.z, 1.0));
        positions[v] = ScenePoint3ds(local[0], local[1], local[2], options.scale);
    }
    // The polygons and their per-face and per-corner indices are gathered first and handed
    // to the mesh whole.
    const size_t faceCount = record.faces.size();
    std::vector<int> corners(faceCount * 3), uvIndices(faceCount * 3);
    std::vector<int> materials(faceCount), textures(faceCount);
    const std::vector<int> sizes(faceCount, 3);
    KVector4* points = mesh.GetControlPoints().GetArray();
    KVector4* normals = mesh.GetNormals()->GetArray();
    for (size_t f = 0; f < faceCount; ++f) {
        const Face3ds& face = record.faces[f];
        const uint32_t mask = FaceMask(record, f);
        materials[f] = IndexOrZero(faceMaterials, f);
        // A face without a map shows no texture (rather than the mesh's first one).
        textures[f] = f < faceTextures.size() && faceTextures[f] >= 0 ? faceTextures[f] : -1;
        const uint16_t ends[3] = {face.v1, face.v2, face.v3};
        for (size_t k = 0; k < 3; ++k) {
            const int corner = split.Find(ends[k], mask);
            corners[3 * f + k] = corner;
            uvIndices[3 * f + k] = ends[k];
            points[corner] = positions[ends[k]];
        }
        // (v3 - v2) x (v1 - v2), added to each corner's normal.
        const double* a = positions[face.v3].mData;
        const double* b = positions[face.v1].mData;
        const double* o = positions[face.v2].mData;
        const double u[3] = {a[0] - o[0], a[1] - o[1], a[2] - o[2]};
        const double v[3] = {b[0] - o[0], b[1] - o[1], b[2] - o[2]};
        const double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2],
                             u[0] * v[1] - u[1] * v[0]};
        for (size_t k = 0; k < 3; ++k) {
            double* sum = normals[corners[3 * f + k]].mData;
            sum[0] += n[0];
            sum[1] += n[1];
            sum[2] += n[2];
        }
    }
    if (!mesh.SetPolygons(corners.data(), sizes.data(), static_cast<int>(faceCount))) return false;
    KQovLayer& layer = *mesh.GetLayer(0);  // made by the index initialisations above
    CopyIndices(layer.GetMaterials()->GetIndexArray(), materials);
    CopyIndices(layer.GetTextures()->GetIndexArray(), textures);
    CopyIndices(layer.GetUVs()->GetIndexArray(), uvIndices);
    for (int c = 0; c < count; ++c) normals[c].Normalize();
    return true;
}

void AddSecondTextureLayer3ds(KQovMesh& mesh, const std::vector<int>& faceSeconds) {
    while (mesh.GetLayerCount() < 2) mesh.CreateLayer();
    KQovLayer* layer0 = mesh.GetLayer(0);
    KQovLayer* layer1 = mesh.GetLayer(1);
    if (!layer0 || !layer1) return;
    for (int i = 0; i < mesh.GetMaterialCount(0); ++i) mesh.AddMaterial(mesh.GetMaterial(i, 0), 1);
    for (int i = 0; i < mesh.GetTextureCount(0); ++i) mesh.AddTexture(mesh.GetTexture(i, 0), 1);
    KQovLayerElementMaterial& materials = layer1->MakeMaterials();
    materials.SetMappingMode(KQovLayer::eByPolygon);
    materials.SetReferenceMode(KQovLayer::eIndexToDirect);
    if (const KQovLayerElementMaterial* own = layer0->GetMaterials())
        materials.GetIndexArray() = own->GetIndexArray();
    KQovLayerElementTexture& textures = layer1->MakeTextures();
    textures.SetMappingMode(KQovLayer::eByPolygon);
    textures.SetReferenceMode(KQovLayer::eIndexToDirect);
    textures.SetAlpha(1.0);
    textures.SetBlendMode(1);
    KArrayInt& indices = textures.GetIndexArray();
    indices.SetCount(0);
    for (int f = 0; f < mesh.GetPolygonCount(); ++f)
        indices.Add(static_cast<size_t>(f) < faceSeconds.size() ? faceSeconds[size_t(f)] : -1);
    if (const KQovLayerElementUV* uvs = layer0->GetUVs()) {
        KQovLayerElementUV& copy = layer1->MakeUVs();
        copy.SetMappingMode(uvs->GetMappingMode());
        copy.SetReferenceMode(uvs->GetReferenceMode());
        copy.GetDirectArray() = uvs->GetDirectArray();
        copy.GetIndexArray() = uvs->GetIndexArray();
    }
}
