#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
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
        ASSERT_TRUE(
            bulk.SetPolygons(c.list.indices.data(), c.list.sizes.data(), int(c.list.sizes.size())));
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

namespace {

// A list in its stored form (~v ends a polygon) decoded here on its own: the vertices inside
// `points` kept, the others dropped, a polygon ended at each marked vertex and once more after
// the last value unless it was marked.
PolygonList Decoded(const std::vector<int>& stored, int points, bool& dropped) {
    PolygonList list;
    int size = 0;
    dropped = false;
    for (size_t i = 0; i < stored.size(); ++i) {
        const long long v = stored[i] < 0 ? -1LL - stored[i] : stored[i];
        if (v < points) {
            list.indices.push_back(int(v));
            ++size;
        } else {
            dropped = true;
        }
        if (stored[i] < 0 || i + 1 == stored.size()) {
            list.sizes.push_back(size);
            size = 0;
        }
    }
    return list;
}

void AddStored(KQovPolygonList& list, const std::vector<int>& stored) {
    list.AddMarked(stored.data(), int(stored.size()));
    if (stored.empty() || stored.back() >= 0) list.EndPolygon();
}

}  // namespace

// A list checked as it is built gives what the checked call gives for the same polygons, and
// notes the vertices it drops.
TEST(KQovMeshSetPolygons, ListCheckedAsBuiltEqualsTheCheckedCall) {
    const struct {
        const char* what;
        std::vector<int> stored;
    } kCases[] = {
        {"quads", {0, 1, 2, ~3, 2, 3, 4, ~5}},
        {"no mark at the end", {0, 1, ~2, 3, 4}},
        {"a lone marked vertex", {~0}},
        {"marks one after the other", {~0, ~1, ~2}},
        {"the last control point", {5, 4, ~5}},
        {"one past the control points", {0, 6, ~1, 2, 3, ~4}},
        {"a marked vertex past them", {0, 1, ~6, 2, 3, ~4}},
        {"the extremes", {INT_MAX, 1, ~INT_MAX, INT_MIN, 0, ~0}},
        {"every vertex dropped", {7, 8, ~9}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        bool dropped;
        const PolygonList expected = Decoded(c.stored, 6, dropped);
        KQovMesh built(nullptr), checked(nullptr);
        for (KQovMesh* mesh : {&built, &checked}) {
            mesh->InitControlPoints(6);
            BuildPerItem(*mesh, {{2}, {1, 0}});  // replaced whole
        }
        KQovPolygonList list(6, int(c.stored.size()));
        ASSERT_TRUE(list.HasRoom());
        AddStored(list, c.stored);
        EXPECT_EQ(list.HasDropped(), dropped);
        EXPECT_EQ(list.GetPolygonCount(), int(expected.sizes.size()));
        EXPECT_EQ(list.GetVertexCount(), int(expected.indices.size()));
        ASSERT_TRUE(built.SetPolygons(std::move(list)));
        ASSERT_TRUE(checked.SetPolygons(expected.indices.data(), expected.sizes.data(),
                                        int(expected.sizes.size())));
        ExpectSamePolygons(built, checked);
        // The list is left empty, and taking it again empties the mesh.
        EXPECT_EQ(list.GetPolygonCount(), 0);
        EXPECT_FALSE(list.HasRoom());
        ASSERT_TRUE(built.SetPolygons(std::move(list)));
        EXPECT_EQ(built.GetPolygonCount(), 0);
        EXPECT_EQ(built.GetPolygonVertices().GetCount(), 0);
    }
}

// Values past the room, or a list without room, drop vertices rather than writing past the
// list; a mesh with fewer control points than the list was built for checks it again.
TEST(KQovMeshSetPolygons, ListBoundsAndControlPointsLost) {
    const struct {
        const char* what;
        int room;
        int meshPoints;  // of the mesh taking the list, built for 6
        std::vector<int> stored;
        bool accepted;
        std::vector<int> sizes, indices;  // the polygons taken when accepted
        std::vector<int> unended = {};    // added after the last end
    } kCases[] = {
        {"exactly the room", 4, 6, {0, 1, 2, ~3}, true, {4}, {0, 1, 2, 3}},
        {"past the room", 3, 6, {0, 1, 2, ~3, 4, ~5}, true, {3, 0}, {0, 1, 2}},
        {"no room", 0, 6, {0, ~1}, true, {0}, {}},
        {"fewer points, all inside", 4, 4, {0, 1, 2, ~3}, true, {4}, {0, 1, 2, 3}},
        {"fewer points, one outside", 4, 4, {0, 1, 2, ~4}, false, {}, {}},
        {"unended vertices are left out", 5, 6, {0, 1, ~2}, true, {3}, {0, 1, 2}, {3, 4}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        KQovPolygonList list(6, c.room);
        list.AddMarked(c.stored.data(), int(c.stored.size()));
        if (c.unended.empty() && c.stored.back() >= 0) list.EndPolygon();
        list.AddMarked(c.unended.data(), int(c.unended.size()));
        KQovMesh mesh(nullptr), expected(nullptr);
        for (KQovMesh* m : {&mesh, &expected}) {
            m->InitControlPoints(c.meshPoints);
            BuildPerItem(*m, {{2}, {1, 0}});
        }
        EXPECT_EQ(mesh.SetPolygons(std::move(list)), c.accepted);
        if (c.accepted) {
            ASSERT_TRUE(
                expected.SetPolygons(c.indices.data(), c.sizes.data(), int(c.sizes.size())));
        }
        ExpectSamePolygons(mesh, expected);
    }
}

// A long list added in pieces of many sizes, some holding a vertex outside the control points
// or a polygon mark in every place: the same polygons as the list decoded on its own.
TEST(KQovMeshSetPolygons, LongListAddedInPieces) {
    constexpr int kPoints = 500;
    const struct {
        const char* what;
        int outsideEvery;  // every so many values one is outside the control points; 0: none
        int longest;       // polygons of 1 .. longest vertices
    } kCases[] = {
        {"all inside, mixed sizes", 0, 6},
        {"all inside, single vertices", 0, 1},
        {"one outside now and then", 997, 5},
        {"many outside", 13, 4},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        std::vector<int> stored;
        unsigned seed = 7;
        auto next = [&seed](unsigned range) {
            seed = seed * 1103515245u + 12345u;
            return int((seed >> 16) % range);
        };
        while (stored.size() < 6000) {
            const int size = 1 + next(unsigned(c.longest));
            for (int k = 0; k < size; ++k) {
                const bool outside = c.outsideEvery && next(unsigned(c.outsideEvery)) == 0;
                const int v = outside ? kPoints + next(1000) : next(kPoints);
                stored.push_back(k + 1 == size ? ~v : v);
            }
        }
        bool dropped;
        const PolygonList expected = Decoded(stored, kPoints, dropped);
        KQovPolygonList list(kPoints, int(stored.size()));
        const int pieces[] = {1, 1024, 7, 333, 2, 1000};
        for (size_t at = 0, p = 0; at < stored.size(); ++p) {
            const int n = std::min(pieces[p % 6], int(stored.size() - at));
            list.AddMarked(stored.data() + at, n);
            at += size_t(n);
        }
        if (stored.back() >= 0) list.EndPolygon();
        EXPECT_EQ(list.HasDropped(), dropped);
        KQovMesh built(nullptr), checked(nullptr);
        for (KQovMesh* mesh : {&built, &checked}) mesh->InitControlPoints(kPoints);
        ASSERT_TRUE(built.SetPolygons(std::move(list)));
        ASSERT_TRUE(checked.SetPolygons(expected.indices.data(), expected.sizes.data(),
                                        int(expected.sizes.size())));
        ExpectSamePolygons(built, checked);
    }
}
