#include "formats/geometry/3ds/MeshExport3ds.h"

#include <algorithm>
#include <climits>
#include <tuple>

#include "attributes/KQovTexture.h"
#include "attributes/geometry/KQovPolygonTriangulation.h"
#include "formats/geometry/3ds/Axes3ds.h"
#include "foundation/KAffineMatrix.h"

namespace {

// The index an element gives a polygon: its own when mapped by polygon, else
// the single one; -1 when there is none or it names nothing in `count`.
template <class Element>
int ElementIndex(const Element* e, int polygon, int count) {
    if (!e) return -1;
    const KArrayInt& indices = e->GetIndexArray();
    const int at = e->GetMappingMode() == KQovLayer::eByPolygon ? polygon : 0;
    const int index = at >= 0 && at < indices.GetCount() ? indices.GetArray()[at] : -1;
    return index >= 0 && index < count ? index : -1;
}

struct Triangle {
    int corners[3];
    int polygon;
    uint32_t group;
};

std::vector<Triangle> Triangles(const KQovMesh& mesh, int& fallbacks) {
    const KVector4* points = mesh.GetControlPoints().GetArray();
    const KArrayVector4* normals = mesh.GetNormals();
    const bool byPoint = normals && normals->GetCount() == mesh.GetControlPointsCount();
    FlatGroupCycle3ds cycle;
    std::vector<Triangle> triangles;
    KQovPolygonTriangulation cut(KQovPolygonTriangulation::eStrip);
    std::vector<int32_t> corners;
    for (int p = 0; p < mesh.GetPolygonCount(); ++p) {
        corners.resize(size_t(std::max(0, mesh.GetPolygonSize(p))));
        for (size_t k = 0; k < corners.size(); ++k) corners[k] = mesh.GetPolygonVertex(p, int(k));
        for (const std::array<int, 3>& t :
             cut.Cut(points, mesh.GetControlPointsCount(), corners.data(), int(corners.size()))) {
            Triangle tri{{mesh.GetPolygonVertex(p, t[0]), mesh.GetPolygonVertex(p, t[1]),
                          mesh.GetPolygonVertex(p, t[2])},
                         p,
                         1};
            if (tri.corners[0] < 0 || tri.corners[1] < 0 || tri.corners[2] < 0) continue;
            KVector4 normal = (points[tri.corners[1]] - points[tri.corners[0]])
                                  .CrossProduct(points[tri.corners[2]] - points[tri.corners[0]]);
            normal.Normalize();
            normal[3] = 0;
            bool flat = byPoint;
            for (int c = 0; c < 3 && flat; ++c) {
                KVector4 n = normals->GetArray()[tri.corners[c]];
                n[3] = 0;
                flat = n == normal;
            }
            if (flat) tri.group = cycle.Next();
            triangles.push_back(tri);
        }
    }
    fallbacks = cut.GetFallbackCount();
    return triangles;
}

// The mesh's frame in file axes: the node's converted translation, rotation and scaling.
KMatrix FileAxes(const MeshExportInput3ds& in) {
    KMatrix m;
    KMatrixSetTRS(m, ConvertPosition3ds(in.translation), ConvertRotation3ds(in.rotation),
                  ConvertScaling3ds(in.scaling));
    return m;
}

void SetLocalAxes(Mesh3ds& record, const KMatrix& m) {
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 3; ++col)
            record.localAxes[row * 3 + col] = static_cast<float>(m[row][col]);
}

// Whether the local axes, as the record holds them, mirror.
bool Mirrors(const KMatrix& m) {
    float a[3][3];
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col) a[row][col] = static_cast<float>(m[row][col]);
    const double det = double(a[0][0]) * (double(a[1][1]) * a[2][2] - double(a[1][2]) * a[2][1]) -
                       double(a[0][1]) * (double(a[1][0]) * a[2][2] - double(a[1][2]) * a[2][0]) +
                       double(a[0][2]) * (double(a[1][0]) * a[2][1] - double(a[1][1]) * a[2][0]);
    return det < 0;
}

}  // namespace

std::vector<std::array<int, 3>> TriangulatePolygon3ds(int n) {
    std::vector<std::array<int, 3>> out;
    KQovPolygonTriangulation::PlainCut(KQovPolygonTriangulation::eStrip, n, out);
    return out;
}

uint32_t FlatGroupCycle3ds::Next() {
    const uint32_t bits = mBits;
    mBits = Double(Double(mBits));
    return bits;
}

std::vector<MeshPiece3ds> ExportMesh3ds(const MeshExportInput3ds& in) {
    std::vector<MeshPiece3ds> pieces;
    const KQovMesh& mesh = *in.mesh;
    const int count = mesh.GetControlPointsCount();
    if (count == 0 || mesh.GetPolygonCount() == 0) return pieces;
    int fallbacks = 0;
    const std::vector<Triangle> triangles = Triangles(mesh, fallbacks);
    if (in.fallbacks) *in.fallbacks = fallbacks;

    KMatrix node;
    KMatrixSetTRS(node, in.translation, in.rotation, in.scaling);
    const KMatrix axes = FileAxes(in);
    // A mirroring frame holds its vertices mirrored across its own x axis, which readers of
    // the format undo.
    const bool mirrors = Mirrors(axes);
    const KVector4* points = mesh.GetControlPoints().GetArray();
    const KArrayOf<KVector2>* uvs = mesh.GetTextureUV();
    const bool uvByPoint = uvs && mesh.GetTextureUVMappingMode() == KQovLayer::eByControlPoint;

    std::vector<int32_t> remap(static_cast<size_t>(count), -1);
    std::vector<int> touched;
    auto vertexOf = [&](MeshPiece3ds& piece, int cp) {
        int32_t& slot = remap[static_cast<size_t>(cp)];
        if (slot >= 0) return static_cast<uint16_t>(slot);
        slot = static_cast<int32_t>(piece.record.vertices.size());
        touched.push_back(cp);
        KVector4 p;
        if (mirrors) {
            KVector4 local = ConvertPosition3ds(points[cp]);
            local[0] = -local[0];
            KMatrixTransformPoint(p, axes, local);
        } else {
            KMatrixTransformPoint(p, node, points[cp]);
            p = ConvertPosition3ds(p);
        }
        piece.record.vertices.push_back(
            {static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2])});
        if (in.textured) {
            TexVert3ds uv;
            if (uvByPoint && cp < uvs->GetCount())
                uv = {static_cast<float>(uvs->GetArray()[cp].mData[0]),
                      static_cast<float>(uvs->GetArray()[cp].mData[1])};
            piece.record.texVerts.push_back(uv);
        }
        return static_cast<uint16_t>(slot);
    };
    if (static_cast<size_t>(count) <= in.maxIndex && triangles.size() <= in.maxIndex) {
        // One record holds every control point, in order.
        pieces.emplace_back();
        SetLocalAxes(pieces.back().record, axes);
        for (int cp = 0; cp < count; ++cp) vertexOf(pieces.back(), cp);
    }
    for (const Triangle& t : triangles) {
        size_t fresh = 0;
        for (int c : t.corners) fresh += remap[static_cast<size_t>(c)] < 0;
        if (pieces.empty() || pieces.back().record.faces.size() >= in.maxIndex ||
            pieces.back().record.vertices.size() + fresh > in.maxIndex) {
            // A new record: its vertices are numbered from 0 again.
            for (int cp : touched) remap[static_cast<size_t>(cp)] = -1;
            touched.clear();
            pieces.emplace_back();
            SetLocalAxes(pieces.back().record, axes);
        }
        MeshPiece3ds& piece = pieces.back();
        Face3ds face;
        face.v1 = vertexOf(piece, t.corners[0]);
        face.v2 = vertexOf(piece, t.corners[1]);
        face.v3 = vertexOf(piece, t.corners[2]);
        face.flag = 7;
        piece.record.faces.push_back(face);
        piece.record.smoothing.push_back(t.group);
        piece.facePolygons.push_back(t.polygon);
    }
    return pieces;
}

namespace {

// Sorting key of a texture index: none after every texture.
int64_t TextureKey(int index) {
    return index < 0 ? INT64_MAX : index;
}

}  // namespace

std::vector<FaceCombination3ds> FaceCombinations3ds(const KQovMesh& mesh, const MeshPiece3ds& piece,
                                                    bool textured) {
    const KQovLayer* layer0 = mesh.GetLayer(0);
    const KQovLayer* layer1 = mesh.GetLayer(1);
    const int materials = mesh.GetMaterialCount(0);
    const int textures = mesh.GetTextureCount(0);
    const bool second = textured && layer1 && mesh.GetTextureCount(1) >= 2;
    std::vector<FaceCombination3ds> groups;
    auto find = [&](int m, int a, int b) -> FaceCombination3ds& {
        for (FaceCombination3ds& g : groups)
            if (g.material == m && g.first == a && g.second == b) return g;
        groups.push_back(FaceCombination3ds{m, a, b, {}});
        return groups.back();
    };
    for (size_t f = 0; f < piece.facePolygons.size(); ++f) {
        const int p = piece.facePolygons[f];
        const int m =
            std::max(0, ElementIndex(layer0 ? layer0->GetMaterials() : nullptr, p, materials));
        const int a =
            textured ? ElementIndex(layer0 ? layer0->GetTextures() : nullptr, p, textures) : -1;
        const int b = second ? ElementIndex(layer1->GetTextures(), p, textures) : -1;
        find(m, a, b).faces.push_back(static_cast<uint16_t>(f));
    }
    std::sort(groups.begin(), groups.end(),
              [](const FaceCombination3ds& x, const FaceCombination3ds& y) {
                  return std::make_tuple(x.material, TextureKey(x.first), TextureKey(x.second)) <
                         std::make_tuple(y.material, TextureKey(y.first), TextureKey(y.second));
              });
    return groups;
}

void SplitPolygonVertices3ds(const KQovMesh& source, KQovMesh& copy) {
    const int corners = source.GetPolygonVertices().GetCount();
    copy.InitControlPoints(corners);
    copy.InitNormals(corners);
    copy.InitMaterialIndices(KQovLayer::eByPolygon);
    copy.InitTextureIndices(KQovLayer::eByPolygon);
    copy.InitTextureUVIndices(KQovLayer::eByControlPoint);
    copy.InitTextureUV(corners);
    for (int i = 0; i < source.GetMaterialCount(0); ++i)
        copy.AddMaterial(source.GetMaterial(i, 0), 0);
    for (int i = 0; i < source.GetTextureCount(0); ++i) copy.AddTexture(source.GetTexture(i, 0), 0);
    const KQovLayer* layer = source.GetLayer(0);
    const int materials = source.GetMaterialCount(0), textures = source.GetTextureCount(0);
    const KArrayOf<KVector2>* uvs = source.GetTextureUV();
    KVector4* points = copy.GetControlPoints().GetArray();
    KVector4* normals = copy.GetNormals()->GetArray();
    KVector2* copyUVs = copy.GetTextureUV()->GetArray();
    const KArrayVector4* sourceNormals = source.GetNormals();
    const bool byPoint =
        sourceNormals && source.GetNormalsMappingMode() == KQovLayer::eByControlPoint;
    int next = 0;
    for (int p = 0; p < source.GetPolygonCount(); ++p) {
        const int m = ElementIndex(layer ? layer->GetMaterials() : nullptr, p, materials);
        const int t = ElementIndex(layer ? layer->GetTextures() : nullptr, p, textures);
        const KQovTexture* texture = t >= 0 ? source.GetTexture(t, 0) : nullptr;
        const bool swap = texture && texture->GetSwapUV();
        copy.BeginPolygon(m, t);
        for (int k = 0; k < source.GetPolygonSize(p); ++k, ++next) {
            const int cp = source.GetPolygonVertex(p, k);
            if (cp >= 0) points[next] = source.GetControlPoints().GetArray()[cp];
            if (!byPoint)
                source.GetPolygonVertexNormal(p, k, normals[next]);
            else if (cp >= 0 && cp < sourceNormals->GetCount())
                normals[next] = sourceNormals->GetArray()[cp];
            const int uv = source.GetTextureUVIndex(p, k);
            if (uvs && uv >= 0 && uv < uvs->GetCount()) {
                const KVector2& v = uvs->GetArray()[uv];
                copyUVs[next] = swap ? KVector2(v.mData[1], v.mData[0]) : v;
            }
            copy.AddPolygonVertex(next);
        }
    }
}
