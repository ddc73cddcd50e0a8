#include <gtest/gtest.h>

#include <tuple>

#include "attributes/KQovMaterial.h"
#include "attributes/KQovTexture.h"
#include "formats/geometry/3ds/MeshExport3ds.h"
#include "formats/geometry/3ds/MeshImport3ds.h"

namespace {

using Tris = std::vector<std::array<int, 3>>;

TEST(MeshExport3ds, PolygonsFanFromBothEnds) {
    const std::vector<std::pair<int, Tris>> cases = {
        {2, {}},
        {3, {{0, 1, 2}}},
        {4, {{0, 1, 2}, {2, 3, 0}}},
        {5, {{0, 1, 2}, {2, 3, 0}, {0, 3, 4}}},
        {6, {{0, 1, 2}, {2, 3, 0}, {0, 3, 5}, {3, 4, 5}}},
    };
    for (const auto& [n, tris] : cases) EXPECT_EQ(TriangulatePolygon3ds(n), tris) << n;
    for (int n = 3; n < 40; ++n) EXPECT_EQ(TriangulatePolygon3ds(n).size(), size_t(n - 2));
}

TEST(MeshExport3ds, FlatGroupsCycleThroughBits) {
    FlatGroupCycle3ds cycle;
    std::vector<uint32_t> seen;
    for (int i = 0; i < 33; ++i) seen.push_back(cycle.Next());
    EXPECT_EQ(seen[0], 4u);
    EXPECT_EQ(seen[14], 1u << 30);
    EXPECT_EQ(seen[15], 2u);
    EXPECT_EQ(seen[30], 1u << 31);
    EXPECT_EQ(seen[31], 4u);
    for (int i = 0; i < 31; ++i) EXPECT_NE(seen[i] & 1u, 1u);  // group 1 stays for smooth faces
}

// A quad and a triangle on a grid of points in the XZ plane, normals up.
void Sample(KQovMesh& mesh, bool flat) {
    mesh.InitControlPoints(5);
    const KVector4 p[5] = {{0, 0, 0, 1}, {0, 0, 1, 1}, {1, 0, 1, 1}, {1, 0, 0, 1}, {0, 1, 0, 1}};
    std::copy(p, p + 5, mesh.GetControlPoints().GetArray());
    mesh.InitNormals(5);
    for (int i = 0; i < 5; ++i)
        mesh.GetNormals()->GetArray()[i] = flat ? KVector4(0, 1, 0) : KVector4(0, 0, 1);
    mesh.BeginPolygon();
    for (int i : {0, 1, 2, 3}) mesh.AddPolygonVertex(i);
    mesh.BeginPolygon();
    for (int i : {0, 4, 1}) mesh.AddPolygonVertex(i);
}

TEST(MeshExport3ds, VerticesAxesFacesAndGroups) {
    KQovMesh mesh(nullptr);
    Sample(mesh, true);
    MeshExportInput3ds in;
    in.mesh = &mesh;
    in.translation = KVector4(0, 10, 0);
    std::vector<MeshPiece3ds> pieces = ExportMesh3ds(in);
    ASSERT_EQ(pieces.size(), 1u);
    const Mesh3ds& r = pieces[0].record;
    ASSERT_EQ(r.vertices.size(), 5u);
    // (0, 1, 0) moved up by 10 is written (0, 0, 11); (0, 0, 1) as (0, -1, 10).
    EXPECT_EQ(r.vertices[4].z, 11.0f);
    EXPECT_EQ(r.vertices[1].y, -1.0f);
    EXPECT_EQ(r.vertices[1].z, 10.0f);
    EXPECT_EQ(r.localAxes[11], 10.0f);  // origin row, file Z
    EXPECT_EQ(pieces[0].facePolygons, (std::vector<int>{0, 0, 1}));
    ASSERT_EQ(r.faces.size(), 3u);
    EXPECT_EQ(r.faces[1].v1, 2);
    EXPECT_EQ(r.faces[1].v3, 0);
    EXPECT_EQ(r.faces[0].flag, 7);
    EXPECT_TRUE(r.texVerts.empty());
    // The quad's faces agree with their vertex normals: flat, groups of their
    // own; the standing triangle does not: group 1.
    EXPECT_EQ(r.smoothing, (std::vector<uint32_t>{4, 16, 1}));
    KQovMesh smooth(nullptr);
    Sample(smooth, false);
    in.mesh = &smooth;
    EXPECT_EQ(ExportMesh3ds(in)[0].record.smoothing[0], 1u);
    KQovMesh empty(nullptr);
    in.mesh = &empty;
    EXPECT_TRUE(ExportMesh3ds(in).empty());
}

TEST(MeshExport3ds, LargeMeshesSplitIntoRecordsThatReadBack) {
    // A strip of quads; records of at most 7 vertices or faces each.
    KQovMesh mesh(nullptr);
    const int quads = 10;
    mesh.InitControlPoints(2 * (quads + 1));
    for (int i = 0; i <= quads; ++i) {
        mesh.GetControlPoints().GetArray()[2 * i] = KVector4(i, 0, 0, 1);
        mesh.GetControlPoints().GetArray()[2 * i + 1] = KVector4(i, 0, 1, 1);
    }
    for (int i = 0; i < quads; ++i) {
        mesh.BeginPolygon();
        for (int c : {2 * i, 2 * i + 1, 2 * i + 3, 2 * i + 2}) mesh.AddPolygonVertex(c);
    }
    MeshExportInput3ds in;
    in.mesh = &mesh;
    in.maxIndex = 7;
    const std::vector<MeshPiece3ds> pieces = ExportMesh3ds(in);
    ASSERT_GT(pieces.size(), 2u);
    size_t faces = 0;
    for (const MeshPiece3ds& piece : pieces) {
        EXPECT_LE(piece.record.vertices.size(), 7u);
        EXPECT_LE(piece.record.faces.size(), 7u);
        faces += piece.record.faces.size();
        // Every face's corners lie within its own record, at the right place.
        KQovMesh back(nullptr);
        ASSERT_TRUE(ImportMesh3ds(piece.record, back, {}, {}, {}));
        for (size_t f = 0; f < piece.record.faces.size(); ++f) {
            const KVector4 p = back.GetControlPoints().GetArray()[back.GetPolygonVertex(int(f), 0)];
            const int polygon = piece.facePolygons[f];
            EXPECT_GE(p[0], polygon - 1e-9);
            EXPECT_LE(p[0], polygon + 1 + 1e-9);
        }
    }
    EXPECT_EQ(faces, size_t(2 * quads));
}

TEST(MeshExport3ds, MaterialGroupsOrderCombinations) {
    KQovMaterial red(nullptr, "Material::Red"), blue(nullptr, "Material::Blue");
    KQovTexture brick(nullptr, "Texture::Brick");
    KQovMesh mesh(nullptr);
    mesh.InitControlPoints(3);
    mesh.InitMaterialIndices(KQovLayer::eByPolygon);
    mesh.InitTextureIndices(KQovLayer::eByPolygon);
    mesh.AddMaterial(&red, 0);
    mesh.AddMaterial(&blue, 0);
    mesh.AddTexture(&brick, 0);
    // Polygons: (blue, brick), (red, none), (red, brick), (blue, brick), (red, 7: no such texture).
    const int polygons[5][2] = {{1, 0}, {0, -1}, {0, 0}, {1, 0}, {0, 7}};
    for (const auto& p : polygons) {
        mesh.BeginPolygon(p[0], p[1]);
        for (int c : {0, 1, 2}) mesh.AddPolygonVertex(c);
    }
    MeshExportInput3ds in;
    in.mesh = &mesh;
    const std::vector<MeshPiece3ds> pieces = ExportMesh3ds(in);
    ASSERT_EQ(pieces.size(), 1u);
    const std::vector<FaceCombination3ds> groups = FaceCombinations3ds(mesh, pieces[0], true);
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(std::make_tuple(groups[0].material, groups[0].first), std::make_tuple(0, 0));
    EXPECT_EQ(groups[0].faces, (std::vector<uint16_t>{2}));
    EXPECT_EQ(std::make_tuple(groups[1].material, groups[1].first), std::make_tuple(0, -1));
    EXPECT_EQ(groups[1].faces, (std::vector<uint16_t>{1, 4}));
    EXPECT_EQ(groups[2].faces, (std::vector<uint16_t>{0, 3}));
    // Without textures only the materials part the faces.
    EXPECT_EQ(FaceCombinations3ds(mesh, pieces[0], false).size(), 2u);
}

TEST(MeshExport3ds, SplitGivesEveryCornerItsOwnPointAndUV) {
    KQovTexture swapped(nullptr, "Texture::S"), plain(nullptr, "Texture::P");
    swapped.SetSwapUV(true);
    KQovMesh mesh(nullptr);
    Sample(mesh, true);  // a quad and a triangle sharing points 0 and 1
    mesh.InitTextureIndices(KQovLayer::eByPolygon);
    mesh.AddTexture(&plain, 0);
    mesh.AddTexture(&swapped, 0);
    KArrayInt* textureIndices = mesh.GetTextureIndices();
    textureIndices->SetCount(2);  // the quad plain, the triangle swapped
    textureIndices->GetArray()[0] = 0;
    textureIndices->GetArray()[1] = 1;
    mesh.InitTextureUVIndices(KQovLayer::eByPolygonVertex);
    for (int i = 0; i < 7; ++i) mesh.AddTextureUV(i * 0.1, 1 - i * 0.1);
    auto& uvIndex = mesh.GetLayer(0)->GetUVs()->GetIndexArray();
    for (int i = 0; i < 7; ++i) uvIndex.Add(i);
    KQovMesh copy(nullptr);
    SplitPolygonVertices3ds(mesh, copy);
    ASSERT_EQ(copy.GetControlPointsCount(), 7);
    EXPECT_EQ(copy.GetTextureUVMappingMode(), KQovLayer::eByControlPoint);
    EXPECT_EQ(copy.GetPolygonVertex(1, 2), 6);
    EXPECT_EQ(copy.GetControlPoints().GetArray()[6], mesh.GetControlPoints().GetArray()[1]);
    EXPECT_EQ(copy.GetNormals()->GetArray()[5], KVector4(0, 1, 0));
    const KVector2* uvs = copy.GetTextureUV()->GetArray();
    EXPECT_NEAR(uvs[2].mData[0], 0.2, 1e-12);  // plain texture
    EXPECT_NEAR(uvs[5].mData[0], 0.5, 1e-12);  // swapped: (0.5, 0.5) stays
    EXPECT_NEAR(uvs[6].mData[0], 0.4, 1e-12);  // swapped: (0.6, 0.4) -> (0.4, 0.6)
    EXPECT_EQ(copy.GetTextureIndices()->GetArray()[1], 1);
    EXPECT_EQ(mesh.GetControlPointsCount(), 5);  // the source keeps its points
}

}  // namespace
