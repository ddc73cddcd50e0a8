#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "attributes/geometry/KQovWeightTable.h"

namespace {

struct StripCase {
    int corners;
    std::vector<int> expected;
};

TEST(PolygonStrip, MatchesTheAlternatingFanAndCoversTheArea) {
    const StripCase cases[] = {
        {3, {0, 1, 2}},
        {4, {0, 1, 2, 2, 3, 0}},
        {5, {0, 1, 2, 2, 3, 0, 0, 3, 4}},
        {6, {0, 1, 2, 2, 3, 0, 0, 3, 5, 3, 4, 5}},
        {7, {0, 1, 2, 2, 3, 0, 0, 3, 6, 3, 4, 6, 6, 4, 5}},
        {8, {0, 1, 2, 2, 3, 0, 0, 3, 7, 3, 4, 7, 7, 4, 6, 4, 5, 6}},
    };
    for (const StripCase& c : cases) {
        SCOPED_TRACE(c.corners);
        std::vector<int> indices(c.expected.size() + 4, -7);
        EXPECT_EQ(BuildPolygonStripIndices(indices.data(), c.corners), int(c.expected.size()));
        EXPECT_EQ(std::vector<int>(indices.begin(), indices.begin() + c.expected.size()),
                  c.expected);
        EXPECT_EQ(indices[c.expected.size()], -7);  // nothing past 3 × (n − 2)

        // Corners of a convex (regular) polygon counter-clockwise: every triangle keeps the
        // orientation and their areas add up to the polygon's, so each spot is covered once.
        std::vector<double> x(c.corners), y(c.corners);
        for (int k = 0; k < c.corners; ++k) {
            x[k] = std::cos(2 * M_PI * k / c.corners);
            y[k] = std::sin(2 * M_PI * k / c.corners);
        }
        double polygon = 0, triangles = 0;
        for (int k = 0; k < c.corners; ++k) {
            const int n = (k + 1) % c.corners;
            polygon += 0.5 * (x[k] * y[n] - x[n] * y[k]);
        }
        for (size_t t = 0; t < c.expected.size(); t += 3) {
            const int a = indices[t], b = indices[t + 1], d = indices[t + 2];
            const double area =
                0.5 * ((x[b] - x[a]) * (y[d] - y[a]) - (x[d] - x[a]) * (y[b] - y[a]));
            EXPECT_GT(area, 0.0);
            triangles += area;
        }
        EXPECT_NEAR(triangles, polygon, 1e-12);
    }
}

TEST(PolygonStrip, FewerThanThreeCornersWriteNothing) {
    for (int n : {-1, 0, 1, 2}) {
        int indices[3] = {-7, -7, -7};
        EXPECT_EQ(BuildPolygonStripIndices(indices, n), 0);
        EXPECT_EQ(indices[0], -7);
    }
    EXPECT_EQ(BuildPolygonStripIndices(nullptr, 5), 0);
}

TEST(KQovWeightTable, LinksAreMirroredAndOutOfRangePairsIgnored) {
    KQovWeightTable table(2, 3);
    EXPECT_EQ(table.GetListCount(0), 2);
    EXPECT_EQ(table.GetListCount(1), 3);
    EXPECT_TRUE(table.Add(1, 2, 0.25));
    for (auto pair : {std::pair<int, int>{2, 0}, {-1, 0}, {0, 3}, {0, -1}})
        EXPECT_FALSE(table.Add(pair.first, pair.second, 1.0));
    ASSERT_EQ(table.GetEntryCount(0, 1), 1);
    ASSERT_EQ(table.GetEntryCount(1, 2), 1);
    EXPECT_EQ(table.GetEntry(0, 1, 0)->index, 2);
    EXPECT_EQ(table.GetEntry(1, 2, 0)->index, 1);
    EXPECT_EQ(table.GetEntry(1, 2, 0)->weight, 0.25);
    EXPECT_EQ(table.GetEntry(1, 2, 1), nullptr);
    EXPECT_EQ(table.GetEntry(2, 0, 0), nullptr);
    EXPECT_EQ(table.GetEntryCount(0, 5), 0);
    EXPECT_EQ(table.GetListCount(3), 0);
    table.Init(1, -4);
    EXPECT_EQ(table.GetListCount(0), 1);
    EXPECT_EQ(table.GetListCount(1), 0);
    EXPECT_EQ(table.GetEntryCount(0, 0), 0);
}

struct Link {
    int i, j;
    double weight;
};

struct NormalizeCase {
    const char* name;
    std::vector<Link> links;
    int side;
    bool absolute;
    // Expected weights, side 0 then side 1, list by list in entry order.
    std::vector<double> side0, side1;
};

TEST(KQovWeightTable, NormalizeScalesListsAndTheirMirrors) {
    const NormalizeCase cases[] = {
        {"plain", {{0, 0, 1}, {0, 1, 3}, {1, 1, 2}}, 0, false, {0.25, 0.75, 1}, {0.25, 0.75, 1}},
        {"zero sum", {{0, 0, 2}, {0, 1, -2}, {1, 1, 5}}, 0, false, {0, 0, 1}, {0, 0, 1}},
        {"absolute", {{0, 0, -1}, {1, 0, 3}}, 1, true, {0.25, 0.75}, {0.25, 0.75}},
        {"signed", {{0, 0, -1}, {1, 0, 3}}, 1, false, {-0.5, 1.5}, {-0.5, 1.5}},
        // The pair (0, 1) twice: both side-1 entries write the first mirror, the second keeps
        // its weight.
        {"duplicate",
         {{0, 1, 1}, {0, 1, 3}, {1, 1, 4}},
         1,
         false,
         {0.375, 3, 0.5},
         {0.125, 0.375, 0.5}},
    };
    for (const NormalizeCase& c : cases) {
        SCOPED_TRACE(c.name);
        KQovWeightTable table(2, 2);
        for (const Link& l : c.links) table.Add(l.i, l.j, l.weight);
        table.Normalize(c.side, c.absolute);
        for (int side = 0; side < 2; ++side) {
            std::vector<double> got;
            for (int list = 0; list < 2; ++list)
                for (int k = 0; k < table.GetEntryCount(side, list); ++k)
                    got.push_back(table.GetEntry(side, list, k)->weight);
            EXPECT_EQ(got, side == 0 ? c.side0 : c.side1);
        }
    }
}

TEST(KQovWeightTable, AbsoluteNormalizeGivesUnitSumsOnEveryNonEmptyList) {
    KQovWeightTable table(7, 5);
    for (int i = 0; i < 7; ++i)
        for (int j = (i * 3) % 5; j < 5; j += 2) table.Add(i, j, (i - 3) * 0.5 + j * 0.25);
    table.Normalize(1, true);
    for (int j = 0; j < 5; ++j) {
        if (table.GetEntryCount(1, j) == 0) continue;
        EXPECT_NEAR(table.SumWeights(1, j, true), 1.0, 1e-12);
        EXPECT_NEAR(table.SumWeights(1, j, false), 1.0, 1e-12);  // all made positive
    }
}

}  // namespace
