#include <gtest/gtest.h>

#include "formats/geometry/3ds/MeshImport3ds.h"

namespace {

// Two triangles sharing vertices 0 and 2, identity local axes.
Mesh3ds TwoFaces(uint32_t maskA, uint32_t maskB, bool withSmoothing = true) {
    Mesh3ds m;
    m.vertices = {{1, 2, 3}, {4, 0, 0}, {0, 4, 0}, {0, 0, 4}};
    m.faces = {{0, 1, 2, 7}, {0, 2, 3, 7}};
    if (withSmoothing) m.smoothing = {maskA, maskB};
    const float axes[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
    std::copy(axes, axes + 12, m.localAxes);
    return m;
}

TEST(MeshImport3ds, SmoothingGroupsSplitSharedVertices) {
    struct Case {
        uint32_t a, b;
        bool smoothing, split;
        int controlPoints;
    } cases[] = {
        {1, 2, true, true, 6},   // vertices 0 and 2 split
        {1, 3, true, true, 4},   // a shared bit keeps them shared
        {0, 0, true, true, 4},   // two unsmoothed faces share too
        {1, 2, true, false, 4},  // splitting off
        {0, 0, false, true, 4},  // no smoothing chunk
    };
    for (const Case& c : cases) {
        KQovMesh mesh(nullptr);
        ASSERT_TRUE(ImportMesh3ds(TwoFaces(c.a, c.b, c.smoothing), mesh,
                                  MeshImportOptions3ds{1.0, c.split}, {}, {}));
        EXPECT_EQ(mesh.GetControlPointsCount(), c.controlPoints) << c.a << " " << c.b;
        EXPECT_EQ(mesh.GetPolygonCount(), 2);
        // Each corner's control point holds its vertex's position.
        const KVector4* points = mesh.GetControlPoints().GetArray();
        EXPECT_EQ(points[mesh.GetPolygonVertex(1, 0)], KVector4(1, 3, -2, 1));
        EXPECT_EQ(points[mesh.GetPolygonVertex(1, 2)], KVector4(0, 4, 0, 1));
    }
}

TEST(MeshImport3ds, PositionsScaleAxesAndNormals) {
    Mesh3ds m = TwoFaces(1, 1);
    KQovMesh mesh(nullptr);
    ASSERT_TRUE(ImportMesh3ds(m, mesh, MeshImportOptions3ds{0.254, true}, {}, {}));
    const KVector4 p = mesh.GetControlPoints().GetArray()[0];
    EXPECT_NEAR(p[0], 0.254, 1e-9);
    EXPECT_NEAR(p[1], 0.762, 1e-9);
    EXPECT_NEAR(p[2], -0.508, 1e-9);
    // Vertex 1 belongs to the first face only: its normal is that face's, unit length.
    const KVector4 n = mesh.GetNormals()->GetArray()[1];
    EXPECT_NEAR(n.Length(), 1.0, 1e-9);
    // Local axes moved by (10, 0, 0) are undone; axes without volume count as identity.
    for (float shift : {10.0f, 0.0f}) {
        Mesh3ds moved = TwoFaces(1, 1);
        moved.localAxes[9] = shift;
        if (shift == 0.0f) moved.localAxes[4] = 0;  // a zero Y axis
        KQovMesh out(nullptr);
        ASSERT_TRUE(ImportMesh3ds(moved, out, {}, {}, {}));
        EXPECT_NEAR(out.GetControlPoints().GetArray()[1][0], 4 - shift, 1e-9);
    }
}

TEST(MeshImport3ds, CornersAreCheckedAndMissingUVsAreZero) {
    Mesh3ds m = TwoFaces(1, 1);
    m.texVerts = {{0.5f, 0.25f}};  // fewer texture vertices than vertices
    KQovMesh mesh(nullptr);
    ASSERT_TRUE(ImportMesh3ds(m, mesh, {}, {2, -1}, {1, -1}));
    const KVector2* uvs = mesh.GetTextureUV()->GetArray();
    EXPECT_EQ(uvs[mesh.GetTextureUVIndex(0, 0)].mData[0], 0.5);
    EXPECT_EQ(uvs[mesh.GetTextureUVIndex(0, 1)].mData[0], 0.0);
    EXPECT_EQ(uvs[mesh.GetTextureUVIndex(1, 2)].mData[1], 0.0);
    EXPECT_EQ(mesh.GetMaterialIndices()->GetArray()[0], 2);
    EXPECT_EQ(mesh.GetMaterialIndices()->GetArray()[1], 0);
    EXPECT_EQ(mesh.GetTextureIndices()->GetArray()[0], 1);
    EXPECT_EQ(mesh.GetTextureIndices()->GetArray()[1], -1);  // no map: no texture

    m.faces[1].v3 = 4;  // past the last vertex
    KQovMesh bad(nullptr);
    EXPECT_FALSE(ImportMesh3ds(m, bad, {}, {}, {}));
    EXPECT_EQ(bad.GetPolygonCount(), 0);
}

}  // namespace
