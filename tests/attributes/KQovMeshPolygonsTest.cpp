#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "attributes/KQovMesh.h"

namespace {

struct PolygonList {
    std::vector<int> sizes;
    std::vector<int> indices;
};

// The same list built one vertex at a time, as the per-item calls build it.
void BuildPerItem(KQovMesh& mesh, const PolygonList& list) {
    size_t at = 0;
    for (int size : list.sizes) {
        mesh.BeginPolygon(-1, -1, -1);
        for (int k = 0; k < size; ++k) mesh.AddPolygonVertex(list.indices[at++]);
    }
}

void ExpectSamePolygons(const KQovMesh& a, const KQovMesh& b) {
    ASSERT_EQ(a.GetPolygonCount(), b.GetPolygonCount());
    for (int p = 0; p < a.GetPolygonCount(); ++p) {
        const KQovPolygon x = a.GetPolygon(p), y = b.GetPolygon(p);
        EXPECT_EQ(x.first, y.first) << p;
        EXPECT_EQ(x.size, y.size) << p;
        EXPECT_EQ(x.group, y.group) << p;
        for (int k = 0; k <= x.size; ++k)  // one past the end reads -1 on both
            EXPECT_EQ(a.GetPolygonVertex(p, k), b.GetPolygonVertex(p, k)) << p << "," << k;
    }
    ASSERT_EQ(a.GetPolygonVertices().GetCount(), b.GetPolygonVertices().GetCount());
    for (int i = 0; i < a.GetPolygonVertices().GetCount(); ++i)
        EXPECT_EQ(a.GetPolygonVertices().GetAt(i), b.GetPolygonVertices().GetAt(i));
}

TEST(KQovMeshSetPolygons, MatchesThePerItemBuild) {
    const struct {
        const char* what;
        PolygonList list;
    } kCases[] = {
        {"nothing", {{}, {}}},
        {"one triangle", {{3}, {0, 1, 2}}},
        {"last control point", {{3, 4}, {0, 1, 5, 5, 4, 3, 2}}},
        {"an empty polygon between", {{3, 0, 3}, {0, 1, 2, 3, 4, 5}}},
        {"a lone point and a line", {{1, 2}, {4, 0, 5}}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        KQovMesh bulk(nullptr), items(nullptr);
        bulk.InitControlPoints(6);
        items.InitControlPoints(6);
        ASSERT_TRUE(bulk.SetPolygons(c.list.indices.data(), c.list.sizes.data(),
                                     int(c.list.sizes.size())));
        BuildPerItem(items, c.list);
        ExpectSamePolygons(bulk, items);
    }
}

TEST(KQovMeshSetPolygons, ReplacesAndAcceptsNullArraysForNothing) {
    KQovMesh mesh(nullptr);
    mesh.InitControlPoints(4);
    BuildPerItem(mesh, {{3, 3}, {0, 1, 2, 1, 2, 3}});
    const int quad[] = {3, 2, 1, 0}, four[] = {4};
    ASSERT_TRUE(mesh.SetPolygons(quad, four, 1));
    ASSERT_EQ(mesh.GetPolygonCount(), 1);
    EXPECT_EQ(mesh.GetPolygonVertex(0, 0), 3);
    EXPECT_EQ(mesh.GetPolygonVertices().GetCount(), 4);
    // Polygons added afterwards follow on.
    mesh.BeginPolygon();
    mesh.AddPolygonVertex(1);
    EXPECT_EQ(mesh.GetPolygon(1).first, 4);
    ASSERT_TRUE(mesh.SetPolygons(nullptr, nullptr, 0));
    EXPECT_EQ(mesh.GetPolygonCount(), 0);
    EXPECT_EQ(mesh.GetPolygonVertices().GetCount(), 0);
    const int zero[] = {0, 0};
    ASSERT_TRUE(mesh.SetPolygons(nullptr, zero, 2));  // two empty polygons need no indices
    EXPECT_EQ(mesh.GetPolygonCount(), 2);
}

TEST(KQovMeshSetPolygons, BadInputLeavesTheMeshUnchanged) {
    const int triangle[] = {0, 1, 2}, three[] = {3};
    const int outside[] = {0, 1, 4}, negative[] = {0, -1, 2}, minusOne[] = {-1};
    const int huge[] = {0x7fffffff, 0x7fffffff};
    const struct {
        const char* what;
        const int* indices;
        const int* sizes;
        int count;
    } kCases[] = {
        {"negative count", triangle, three, -1},
        {"no sizes", triangle, nullptr, 1},
        {"no indices", nullptr, three, 1},
        {"index past the control points", outside, three, 1},
        {"negative index", negative, three, 1},
        {"negative size", triangle, minusOne, 1},
        {"sizes summing past the int range", triangle, huge, 2},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        KQovMesh mesh(nullptr), before(nullptr);
        mesh.InitControlPoints(4);
        before.InitControlPoints(4);
        BuildPerItem(mesh, {{3, 3}, {0, 1, 2, 1, 2, 3}});
        BuildPerItem(before, {{3, 3}, {0, 1, 2, 1, 2, 3}});
        EXPECT_FALSE(mesh.SetPolygons(c.indices, c.sizes, c.count));
        ExpectSamePolygons(mesh, before);
    }
}

}  // namespace

namespace {

KArrayInt ArrayOf(const std::vector<int>& values) {
    KArrayInt array;
    for (int v : values) array.Add(v);
    return array;
}

}  // namespace

// The list taken over gives what the copied list gives; a list whose count the sizes do not
// add up to, or any bad input, is refused with both the mesh and the list left as they were.
TEST(KQovMeshSetPolygons, TakingTheListOverEqualsCopyingIt) {
    const struct {
        const char* what;
        PolygonList list;
        bool accepted;
    } kCases[] = {
        {"nothing", {{}, {}}, true},
        {"two polygons", {{3, 4}, {0, 1, 5, 5, 4, 3, 2}}, true},
        {"an empty polygon between", {{3, 0, 3}, {0, 1, 2, 3, 4, 5}}, true},
        {"sizes short of the list", {{3}, {0, 1, 2, 3}}, false},
        {"sizes past the list", {{3, 2}, {0, 1, 2, 3}}, false},
        {"index past the control points", {{3}, {0, 1, 6}}, false},
        {"negative size", {{-1}, {}}, false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        KQovMesh taken(nullptr), copied(nullptr);
        for (KQovMesh* mesh : {&taken, &copied}) {
            mesh->InitControlPoints(6);
            BuildPerItem(*mesh, {{2}, {1, 0}});
        }
        KArrayInt list = ArrayOf(c.list.indices);
        EXPECT_EQ(taken.SetPolygons(std::move(list), c.list.sizes.data(), int(c.list.sizes.size())),
                  c.accepted);
        if (c.accepted)
            ASSERT_TRUE(copied.SetPolygons(c.list.indices.data(), c.list.sizes.data(),
                                           int(c.list.sizes.size())));
        else
            EXPECT_EQ(list.GetCount(), int(c.list.indices.size()));  // still the caller's
        ExpectSamePolygons(taken, copied);
    }
}
