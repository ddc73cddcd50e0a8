// The polygon-vertex list as every QOV writing id stores it, read back: polygons longer than
// the writer's chunk, lists crossing chunk ends, empty and one-vertex polygons.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ReaderTestUtil.h"
#include "attributes/KQovMesh.h"
#include "common/TempTestFolder.h"
#include "io/KQovExporter.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

namespace {

constexpr int kPoints = 6000;

// Polygon p's vertices, in the mesh's order; "()" for an empty polygon.
std::string PolygonsOf(const KQovMesh& mesh) {
    std::string s;
    for (int p = 0; p < mesh.GetPolygonCount(); ++p) {
        s += "(";
        for (int k = 0; k < mesh.GetPolygonSize(p); ++k)
            s += (k ? "," : "") + std::to_string(mesh.GetPolygonVertex(p, k));
        s += ")";
    }
    return s;
}

// Sizes and vertices: vertex i of the whole list names control point (i * 7) % kPoints.
struct Layout {
    const char* what;
    std::vector<int> sizes;
};

std::vector<int> Expand(const std::vector<std::pair<int, int>>& runs) {
    std::vector<int> sizes;
    for (const auto& [count, size] : runs) sizes.insert(sizes.end(), size_t(count), size);
    return sizes;
}

struct WriterId {
    int id;
    const char* what;
};

// The layout's polygons written by each writer id and read back, list for list.
template <size_t N>
void ExpectPolygonsComeBack(const Layout& layout, const WriterId (&ids)[N]) {
    SCOPED_TRACE(layout.what);
    KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();
    KQovMesh* mesh = manager.CreateMesh();
    mesh->InitControlPoints(kPoints);
    int vertex = 0;
    for (int size : layout.sizes) {
        mesh->BeginPolygon();
        for (int k = 0; k < size; ++k, ++vertex) mesh->AddPolygonVertex((vertex * 7) % kPoints);
    }
    KQovNode* node = manager.CreateNode("Mesh");
    node->SetNodeAttribute(mesh);
    scene->GetRootNode()->AddChild(node);
    const std::string expected = PolygonsOf(*mesh);
    for (const WriterId& id : ids) {
        SCOPED_TRACE(id.what);
        TempTestFolder tmp;
        const std::string name = tmp / "polygons.qov";
        KQovExporter exporter(&manager);
        ASSERT_TRUE(exporter.Initialize(name.c_str()));
        exporter.SetFileFormat(id.id);
        ASSERT_TRUE(exporter.Export(scene, nullptr)) << exporter.GetLastErrorString();
        Read read(name);
        ASSERT_TRUE(read.ok);
        KQovNode* back = read.manager.FindNode("Mesh");
        ASSERT_TRUE(back && back->GetMesh());
        ASSERT_EQ(back->GetMesh()->GetPolygonCount(), int(layout.sizes.size()));
        EXPECT_EQ(PolygonsOf(*back->GetMesh()), expected);
    }
}

}  // namespace

TEST(KQovWriterPolygonIndex, EveryIdStoresTheListAsBuilt) {
    const Layout kLayouts[] = {
        {"one triangle", {3}},
        {"a polygon longer than a chunk", {3, 5000, 4}},
        {"quads across many chunk ends", Expand({{3000, 4}})},
        // An empty polygon is written as nothing and cannot come back; the file's reader
        // ends the polygon before it where a one-vertex polygon ends.
        {"one-vertex polygons between", Expand({{1, 4}, {5, 1}, {1, 3}, {1000, 5}})},
    };
    const WriterId kIds[] = {{0, "binary 6"}, {1, "ASCII 6"}, {3, "binary 5"}, {4, "ASCII 5"}};
    for (const Layout& layout : kLayouts) ExpectPolygonsComeBack(layout, kIds);
}

// Whole small polygons that fill a chunk exactly, then polygons around and far above the
// chunk's size: each writer (encrypted too) stores them without writing past its buffers.
TEST(KQovWriterPolygonIndex, LongPolygonsAfterAFullChunk) {
    const Layout kLayouts[] = {
        {"1,024 quads, then 4,097 corners", Expand({{1024, 4}, {1, 4097}})},
        {"1,024 quads, then 4,096 corners and a triangle", Expand({{1024, 4}, {1, 4096}, {1, 3}})},
        {"1,023 quads, then 4,095, 4,096 and 4,097 corners",
         Expand({{1023, 4}, {1, 4095}, {1, 4096}, {1, 4097}, {2, 4}})},
        {"triangles, then 4,096 and 300,000 corners",
         Expand({{100, 3}, {1, 4096}, {1, 300000}, {10, 3}})},
        {"1,024 quads, then 300,000 corners", Expand({{1024, 4}, {1, 300000}})},
    };
    const WriterId kIds[] = {
        {0, "binary 6"}, {1, "ASCII 6"}, {2, "encrypted 6"}, {3, "binary 5"}, {4, "ASCII 5"}};
    for (const Layout& layout : kLayouts) ExpectPolygonsComeBack(layout, kIds);
}
