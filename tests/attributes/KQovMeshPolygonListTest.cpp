// A whole polygon list given to a mesh in one call against the same polygons built one
// vertex at a time, and lists that must leave the mesh as it was.

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "attributes/KQovMesh.h"
#include "scene/KQovObjectManager.h"

namespace {

std::string Polygons(const KQovMesh& mesh) {
    std::string s;
    for (int p = 0; p < mesh.GetPolygonCount(); ++p) {
        s += "[";
        for (int k = 0; k < mesh.GetPolygonSize(p); ++k)
            s += (k ? " " : "") + std::to_string(mesh.GetPolygonVertex(p, k));
        s += " g" + std::to_string(mesh.GetPolygon(p).group) + "]";
    }
    return s + " vertices " + std::to_string(mesh.GetPolygonVertices().GetCount());
}

std::string PerPolygon(const KArrayInt* indices) {
    if (!indices) return "none";
    std::string s;
    for (int i = 0; i < indices->GetCount(); ++i) s += std::to_string(indices->GetAt(i)) + ",";
    return s;
}

}  // namespace

TEST(KQovMeshPolygonList, SetPolygonsEqualsVertexByVertex) {
    const struct {
        std::vector<int> vertices;
        std::vector<int> sizes;
    } kCases[] = {
        {{}, {}},
        {{0, 1, 2}, {3}},
        {{0, 1, 2, 2, 3, 0, 4}, {3, 4}},
        {{5, 6}, {0, 2, 0}},  // empty polygons are kept, as BeginPolygon alone makes them
        {{0, 1, 2, 3, 4, 5, 6, 7, 8}, {1, 1, 7}},
    };
    KQovObjectManager manager;
    for (const auto& c : kCases) {
        KQovMesh* bulk = manager.CreateMesh();
        KQovMesh* items = manager.CreateMesh();
        for (KQovMesh* mesh : {bulk, items}) {
            mesh->InitControlPoints(10);
            // A per-polygon material element follows the polygons on both paths.
            mesh->InitMaterialIndices(KQovLayer::eByPolygon);
        }
        // Polygons already there are replaced.
        bulk->BeginPolygon(1, -1, 4);
        bulk->AddPolygonVertex(9);
        ASSERT_TRUE(bulk->SetPolygons(c.vertices.data(), c.sizes.data(), int(c.sizes.size())));
        size_t at = 0;
        for (int size : c.sizes) {
            items->BeginPolygon(-1, -1, -1);
            for (int k = 0; k < size; ++k) items->AddPolygonVertex(c.vertices[at++]);
        }
        EXPECT_EQ(Polygons(*bulk), Polygons(*items));
        EXPECT_EQ(PerPolygon(bulk->GetMaterialIndices()), PerPolygon(items->GetMaterialIndices()));
        EXPECT_EQ(bulk->GetLayerCount(), items->GetLayerCount());
        // Built on afterwards one vertex at a time, both go on alike.
        for (KQovMesh* mesh : {bulk, items}) {
            mesh->BeginPolygon(-1, -1, 2);
            mesh->AddPolygonVertex(3);
        }
        EXPECT_EQ(Polygons(*bulk), Polygons(*items));
    }
}

// A mesh without layers gets layer 0 with its first polygon, as BeginPolygon gives it.
TEST(KQovMeshPolygonList, FirstPolygonMakesLayerZero) {
    KQovObjectManager manager;
    const int vertices[] = {0, 1, 2};
    const int sizes[] = {3};
    for (int count : {0, 1}) {
        KQovMesh* bulk = manager.CreateMesh();
        KQovMesh* items = manager.CreateMesh();
        bulk->InitControlPoints(3);
        items->InitControlPoints(3);
        ASSERT_TRUE(bulk->SetPolygons(vertices, sizes, count));
        if (count) {
            items->BeginPolygon();
            for (int v : vertices) items->AddPolygonVertex(v);
        }
        EXPECT_EQ(bulk->GetLayerCount(), items->GetLayerCount()) << count;
    }
}

TEST(KQovMeshPolygonList, BadListsLeaveTheMeshAlone) {
    const int vertices[] = {0, 1, 2, 3};
    const int negativeVertex[] = {0, -1, 2};
    const int sizes[] = {3, 1};
    const int negativeSize[] = {3, -1, 2};
    const int hugeSizes[] = {INT_MAX, INT_MAX};
    const struct {
        const char* what;
        const int* vertices;
        const int* sizes;
        int count;
    } kCases[] = {
        {"negative count", vertices, sizes, -1},
        {"no sizes", vertices, nullptr, 2},
        {"no vertices", nullptr, sizes, 2},
        {"negative size", vertices, negativeSize, 3},
        {"negative vertex", negativeVertex, sizes, 1},
        {"sizes past the int range", vertices, hugeSizes, 2},
    };
    KQovObjectManager manager;
    KQovMesh* mesh = manager.CreateMesh();
    mesh->InitControlPoints(4);
    mesh->BeginPolygon(-1, -1, 7);
    for (int v : {0, 1, 2}) mesh->AddPolygonVertex(v);
    const std::string before = Polygons(*mesh);
    for (const auto& c : kCases) {
        EXPECT_FALSE(mesh->SetPolygons(c.vertices, c.sizes, c.count)) << c.what;
        EXPECT_EQ(Polygons(*mesh), before) << c.what;
    }
    // No polygons at all is a list too.
    EXPECT_TRUE(mesh->SetPolygons(nullptr, nullptr, 0));
    EXPECT_EQ(mesh->GetPolygonCount(), 0);
    EXPECT_EQ(mesh->GetPolygonVertices().GetCount(), 0);
}
