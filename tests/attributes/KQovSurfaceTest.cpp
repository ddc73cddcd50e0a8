#include <gtest/gtest.h>

#include <vector>

#include "attributes/KQovMesh.h"
#include "attributes/KQovNurb.h"
#include "attributes/KQovPatch.h"

namespace {

std::vector<std::vector<int>> Polygons(const KQovMesh& mesh) {
    std::vector<std::vector<int>> out(size_t(mesh.GetPolygonCount()));
    for (int p = 0; p < mesh.GetPolygonCount(); ++p)
        for (int k = 0; k < mesh.GetPolygonSize(p); ++k) out[size_t(p)].push_back(mesh.GetPolygonVertex(p, k));
    return out;
}

void Build(KQovMesh& mesh, const std::vector<std::vector<int>>& polygons) {
    for (const auto& polygon : polygons) {
        mesh.BeginPolygon();
        for (int c : polygon) mesh.AddPolygonVertex(c);
    }
}

TEST(KQovMesh, TwoTrianglesAndRangeChecks) {
    KQovMesh mesh(nullptr);
    EXPECT_EQ(mesh.AddPolygonVertex(0), -1);  // no polygon begun
    EXPECT_EQ(mesh.GetPolygonVertices().GetCount(), 0);
    Build(mesh, {{0, 1, 2}, {2, 1, 3}});
    EXPECT_EQ(mesh.GetPolygonCount(), 2);
    struct Row {
        int p, k, vertex;
    };
    for (const Row& row : {Row{1, 2, 3}, Row{0, 3, -1}, Row{2, 0, -1}, Row{-1, 0, -1}, Row{0, -1, -1}})
        EXPECT_EQ(mesh.GetPolygonVertex(row.p, row.k), row.vertex) << row.p << "," << row.k;
    EXPECT_EQ(mesh.GetPolygonSize(2), -1);
    // Normals shorter than the vertex list: the missing one is not read.
    mesh.InitControlPoints(4);
    mesh.InitNormals(4);
    KVector4 normal(7, 7, 7);
    mesh.GetPolygonVertexNormal(1, 2, normal);  // position 5 of 4 normals
    EXPECT_EQ(normal[0], 7.0);
    mesh.InitNormals(6);
    mesh.GetPolygonVertexNormal(1, 2, normal);
    EXPECT_EQ(normal[0], 0.0);
}

TEST(KQovMesh, MaterialTextureAndUVIndices) {
    KQovMesh mesh(nullptr);
    mesh.InitMaterialIndices(KQovLayer::eByPolygon);
    mesh.InitTextureIndices(KQovLayer::eByPolygon);
    mesh.InitTextureUVIndices(KQovLayer::eByPolygonVertex);
    mesh.BeginPolygon(5, 1, 0);
    mesh.AddPolygonVertex(0, 4);
    mesh.AddPolygonVertex(1, -1);
    mesh.BeginPolygon(7, 2, 0);
    ASSERT_NE(mesh.GetMaterialIndices(), nullptr);
    EXPECT_EQ(mesh.GetMaterialIndices()->GetAt(0), 5);
    EXPECT_EQ(mesh.GetMaterialIndices()->GetAt(1), 7);
    EXPECT_EQ(mesh.GetTextureIndices()->GetAt(1), 2);
    EXPECT_EQ(mesh.GetTextureUVIndex(0, 0), 4);
    EXPECT_EQ(mesh.GetTextureUVIndex(0, 1), -1);  // none stored
    EXPECT_EQ(mesh.GetLayer(0)->GetUVs()->GetIndexArray().GetCount(), 1);
    EXPECT_EQ(mesh.GetTextureUVMappingMode(), KQovLayer::eByPolygonVertex);
    EXPECT_EQ(mesh.GetTextureMappingMode(), KQovLayer::eByPolygon);
    EXPECT_EQ(mesh.GetNormalsMappingMode(), KQovLayer::eByControlPoint);
    EXPECT_EQ(mesh.AddTextureUV(0.5, 0.25), 0);
    EXPECT_EQ(mesh.GetTextureUVCount(), 1);

    KQovMesh empty(nullptr);
    empty.InitMaterialIndices(KQovLayer::eByControlPoint);  // no points: mapping unchanged
    EXPECT_EQ(empty.GetMaterialMappingMode(), KQovLayer::eNone);
    empty.InitMaterialIndices(KQovLayer::eAllSame);
    EXPECT_EQ(empty.GetMaterialMappingMode(), KQovLayer::eAllSame);
    EXPECT_EQ(empty.GetMaterialIndices()->GetCount(), 1);
}

TEST(KQovMesh, FindDuplicates) {
    KQovMesh mesh(nullptr);
    mesh.InitControlPoints(4);
    const KVector4 a(1, 2, 3), b(4, 5, 6);
    for (int i = 0; i < 4; ++i) mesh.GetControlPoints().SetAt(i, i % 2 ? b : a);
    std::vector<int> map;
    EXPECT_TRUE(mesh.FindDuplicateControlPoints(map, 0, false));
    EXPECT_EQ(map, (std::vector<int>{0, 1, 0, 1}));
    EXPECT_FALSE(mesh.FindDuplicateControlPoints(map, 1, false));
    mesh.GetControlPoints().SetAt(2, KVector4(1, 2, 3.1));
    mesh.GetControlPoints().SetAt(3, KVector4(9, 9, 9));
    EXPECT_FALSE(mesh.FindDuplicateControlPoints(map, 0, true));
}

// A quad and a triangle sharing an edge: split, apply, then merge gives the original topology.
TEST(KQovMesh, SplitApplyMergeRoundTrip) {
    KQovMesh mesh(nullptr);
    mesh.InitControlPoints(5);
    for (int i = 0; i < 5; ++i) mesh.GetControlPoints().SetAt(i, KVector4(i, i * i, 0));
    Build(mesh, {{0, 1, 2, 3}, {3, 2, 4}});
    mesh.InitNormals(7);
    for (int t = 0; t < 7; ++t) mesh.GetNormals()->SetAt(t, KVector4(0, 0, t));
    auto* link = new KQovLink();
    link->AddControlPointIndex(3, 0.25);
    mesh.AddLink(link);
    auto* shape = new KQovShape(nullptr);
    shape->InitControlPoints(5);
    shape->GetControlPoints().SetAt(3, KVector4(8, 8, 8));
    mesh.AddShape(shape, "S");
    auto* odd = new KQovShape(nullptr);
    odd->InitControlPoints(2);  // does not match the mesh: left alone
    mesh.AddShape(odd, "Odd");

    KQovSplitLists lists;
    mesh.SplitPolygonVertices(lists, 0);
    ASSERT_EQ(lists.size(), 5u);
    EXPECT_EQ(lists[3][1].index, 5);
    EXPECT_EQ(lists[2][1].index, 6);
    mesh.ApplySplitPolygonVertices(lists);
    EXPECT_EQ(mesh.GetControlPointsCount(), 7);
    EXPECT_EQ(Polygons(mesh), (std::vector<std::vector<int>>{{0, 1, 2, 3}, {5, 6, 4}}));
    EXPECT_EQ(mesh.GetNormalsMappingMode(), KQovLayer::eByControlPoint);
    EXPECT_EQ(mesh.GetNormals()->GetCount(), 7);
    EXPECT_EQ(mesh.GetNormals()->GetAt(5)[2], 4.0);  // the triangle's first corner
    EXPECT_EQ(link->GetControlPointIndicesCount(), 2);
    EXPECT_EQ(link->GetControlPointIndex(1), 5);
    EXPECT_EQ(shape->GetControlPoints().GetAt(5)[0], 8.0);
    EXPECT_EQ(odd->GetControlPointsCount(), 2);

    std::vector<int> map;
    ASSERT_TRUE(mesh.FindDuplicateControlPoints(map, 0, false));
    EXPECT_EQ(map, (std::vector<int>{0, 1, 2, 3, 4, 3, 2}));
    ASSERT_TRUE(mesh.MergeDuplicateControlPoints(map));
    EXPECT_EQ(mesh.GetControlPointsCount(), 5);
    EXPECT_EQ(Polygons(mesh), (std::vector<std::vector<int>>{{0, 1, 2, 3}, {3, 2, 4}}));
    EXPECT_EQ(mesh.GetNormalsMappingMode(), KQovLayer::eByPolygonVertex);
    for (int t = 0; t < 7; ++t) EXPECT_EQ(mesh.GetNormals()->GetAt(t)[2], double(t)) << t;
    EXPECT_EQ(link->GetControlPointIndicesCount(), 1);
    EXPECT_EQ(shape->GetControlPointsCount(), 5);
}

TEST(KQovMesh, BadIndicesAndBrokenMapsChangeNothing) {
    KQovMesh mesh(nullptr);
    mesh.InitControlPoints(5);
    Build(mesh, {{0, 1, 99}, {1, -3, 2}});
    KQovSplitLists lists;
    mesh.SplitPolygonVertices(lists, 0);  // 99 and -3 are outside the mesh: skipped, no normals
    ASSERT_EQ(lists.size(), 5u);
    EXPECT_EQ(lists[1].size(), 2u);
    EXPECT_EQ(lists[1][1].normal[0], 0.0);
    mesh.ApplySplitPolygonVertices(lists);
    EXPECT_EQ(mesh.GetControlPointsCount(), 6);
    EXPECT_EQ(mesh.GetPolygonVertex(1, 0), 5);

    KQovSplitLists forged(6);
    forged[0] = {{0, 0, KVector4()}, {1, 1 << 30, KVector4()}};
    mesh.ApplySplitPolygonVertices(forged);
    EXPECT_EQ(mesh.GetControlPointsCount(), 6);

    const std::vector<std::vector<int>> before = Polygons(mesh);
    for (const std::vector<int>& map : {std::vector<int>{0, 1, 2}, std::vector<int>{0, 1, 0, 3, 4, 5},
                                        std::vector<int>{0, 1, 2, 3, 4, 9}}) {
        EXPECT_FALSE(mesh.MergeDuplicateControlPoints(map)) << map.size();
        EXPECT_EQ(mesh.GetControlPointsCount(), 6);
        EXPECT_EQ(Polygons(mesh), before);
    }
    EXPECT_TRUE(mesh.MergeDuplicateControlPoints({0, 1, 2, 3, 4, 5}));  // nothing to merge
    EXPECT_EQ(mesh.GetControlPointsCount(), 6);
}

TEST(KQovMesh, CopyTakesPolygons) {
    KQovMesh source(nullptr);
    Build(source, {{0, 1, 2}});
    KQovMesh target(nullptr);
    target.Copy(source);
    target.Copy(target);
    EXPECT_EQ(Polygons(target), Polygons(source));
}

TEST(KQovNurb, KnotCountsAndInit) {
    struct Row {
        int order, count, type, knots;
    };
    for (const Row& row : {Row{4, 6, 2, 10}, Row{4, 6, 1, 13}, Row{4, 6, 0, 13}, Row{-2, 6, 2, 6},
                           Row{4, -5, 2, 4}, Row{0, 0, 1, 0}}) {
        KQovNurb nurb(nullptr);
        nurb.SetOrder(row.order, 1);
        nurb.InitControlPoints(row.count, row.type, 1, 2);
        EXPECT_EQ(nurb.GetUKnotCount(), row.knots) << row.order << " " << row.count << " " << row.type;
        EXPECT_EQ(nurb.GetUKnotVector().GetCount(), row.knots);
        for (int i = 0; i < row.knots; ++i) EXPECT_EQ(nurb.GetUKnotVector().GetAt(i), 0.0);
    }
    KQovNurb nurb(nullptr);
    EXPECT_EQ(nurb.GetUKnotCount(), 0);
    EXPECT_EQ(nurb.GetVType(), KQovNurb::eOpen);
    nurb.SetOrder(4, 3);
    ASSERT_TRUE(nurb.InitControlPoints(4, 2, 3, 0));
    EXPECT_EQ(nurb.GetControlPointsCount(), 12);
    EXPECT_EQ(nurb.GetUKnotCount(), 8);
    EXPECT_EQ(nurb.GetVKnotCount(), 8);
    EXPECT_EQ(nurb.GetVMultiplicityVector().GetCount(), 3);
    EXPECT_EQ(nurb.GetUMultiplicityVector().GetAt(3), 1);
    KQovNurb copy(nullptr);
    nurb.GetUKnotVector().SetAt(7, 2.5);
    copy.Copy(nurb);
    copy.Copy(copy);
    EXPECT_EQ(copy.GetUKnotVector().GetAt(7), 2.5);
    EXPECT_EQ(copy.GetVType(), 0);
    // A grid too large to hold keeps nothing.
    EXPECT_FALSE(nurb.InitControlPoints(1 << 20, 2, 1 << 20, 2));
    EXPECT_EQ(nurb.GetControlPointsCount(), 0);
    EXPECT_EQ(nurb.GetUKnotCount(), 4);
    EXPECT_EQ(nurb.GetUMultiplicityVector().GetCount(), 0);
    EXPECT_EQ(nurb.GetError().GetErrorCode(), KQovGeometry::eParameterOutOfRange);
}

TEST(KQovPatch, DefaultsAndInit) {
    KQovPatch patch(nullptr);
    EXPECT_EQ(patch.GetAttributeType(), KQovNodeAttribute::ePatch);
    EXPECT_STREQ(patch.GetTypeName().Buffer(), "Patch");
    EXPECT_EQ(patch.GetUType(), KQovPatch::eLinear);
    EXPECT_EQ(patch.GetVType(), KQovPatch::eLinear);
    EXPECT_EQ(patch.GetSurfaceDisplay(), 4);
    EXPECT_FALSE(patch.GetUClosed() || patch.GetVCapped(1));
    ASSERT_TRUE(patch.InitControlPoints(4, 3, 5, 0));
    EXPECT_EQ(patch.GetControlPointsCount(), 20);
    EXPECT_EQ(patch.GetUType(), 3);
    EXPECT_EQ(patch.GetVType(), 0);
    patch.SetStep(6, 7);
    patch.SetUCapped(false, true);
    EXPECT_EQ(patch.GetVStep(), 7);
    EXPECT_TRUE(patch.GetUCapped(1));
    EXPECT_FALSE(patch.GetUCapped(2));
    EXPECT_FALSE(patch.InitControlPoints(1 << 30, 0, 1 << 30, 0));
    EXPECT_EQ(patch.GetControlPointsCount(), 0);
}

}  // namespace
