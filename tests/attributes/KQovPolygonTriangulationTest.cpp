#include <gtest/gtest.h>

#include <memory>
#include <numeric>

#include "attributes/KQovMesh.h"
#include "attributes/geometry/KQovGeometryConverter.h"
#include "attributes/geometry/KQovPolygonTriangulation.h"
#include "common/PolygonTable.h"

namespace {

using Cut = KQovPolygonTriangulation;

std::vector<int32_t> Identity(size_t n) {
    std::vector<int32_t> corners(n);
    std::iota(corners.begin(), corners.end(), 0);
    return corners;
}

std::vector<std::vector<KVector4>> Pieces(const std::vector<KVector4>& points,
                                          const std::vector<Cut::Triangle>& triangles) {
    std::vector<std::vector<KVector4>> pieces;
    for (const Cut::Triangle& t : triangles)
        pieces.push_back({points[t[0]], points[t[1]], points[t[2]]});
    return pieces;
}

void ExpectCovers(const std::vector<KVector4>& polygon,
                  const std::vector<std::vector<KVector4>>& pieces, const std::string& name,
                  double tolerance = 1e-9) {
    const CutCheck c = CheckCut(polygon, pieces);
    EXPECT_NEAR(c.area, c.expected, tolerance * c.expected) << name;
    EXPECT_NEAR(c.covered, c.expected, tolerance * c.expected) << name;
    EXPECT_EQ(c.backwards, 0) << name;
}

TEST(KQovPolygonTriangulation, EveryTablePolygonIsCoveredFacingItsOwnWay) {
    for (Cut::EOrder order : {Cut::eStrip, Cut::eFan}) {
        Cut cut(order);
        for (const TablePolygon& row : PolygonTable()) {
            const int n = int(row.corners.size());
            const std::vector<int32_t> corners = Identity(row.corners.size());
            const std::vector<Cut::Triangle> triangles =
                cut.Cut(row.corners.data(), n, corners.data(), n);
            ASSERT_EQ(triangles.size(), size_t(n - 2)) << row.name;
            ExpectCovers(row.corners, Pieces(row.corners, triangles), row.name);
            std::vector<Cut::Triangle> plain;
            Cut::PlainCut(order, n, plain);
            if (row.convex) {
                EXPECT_EQ(triangles, plain) << row.name;
                EXPECT_EQ(cut.GetResult(), Cut::ePlain) << row.name;
            } else {
                EXPECT_EQ(cut.GetResult(), Cut::eOutline) << row.name;
                // The plain cut of the long outlines is what went wrong before.
                if (row.name.find("66") != std::string::npos) {
                    EXPECT_GT(CheckCut(row.corners, Pieces(row.corners, plain)).covered,
                              CheckCut(row.corners, Pieces(row.corners, triangles)).covered * 2)
                        << row.name;
                }
            }
        }
        EXPECT_EQ(cut.GetFallbackCount(), 0);
    }
}

TEST(KQovPolygonTriangulation, PlainCutsAreTheWritersOwn) {
    std::vector<Cut::Triangle> t;
    Cut::PlainCut(Cut::eStrip, 6, t);
    EXPECT_EQ(t, (std::vector<Cut::Triangle>{{0, 1, 2}, {2, 3, 0}, {0, 3, 5}, {3, 4, 5}}));
    Cut::PlainCut(Cut::eFan, 5, t);
    EXPECT_EQ(t, (std::vector<Cut::Triangle>{{0, 1, 2}, {0, 2, 3}, {0, 3, 4}}));
    Cut::PlainCut(Cut::eFan, 2, t);
    EXPECT_TRUE(t.empty());
}

// What cannot be followed gets the plain cut: crossing outlines counted, the rest not.
TEST(KQovPolygonTriangulation, OutlinesThatCannotBeFollowedFallBack) {
    Cut cut;
    const std::vector<KVector4> crossing =
        OnTiltedPlane({{0, 0}, {4, 0}, {4, 3}, {1, -1}, {0, 2}, {-1, 1}});
    std::vector<int32_t> corners = Identity(crossing.size());
    EXPECT_EQ(cut.Cut(crossing.data(), 6, corners.data(), 6).size(), 4u);
    EXPECT_EQ(cut.GetResult(), Cut::eFallback);
    EXPECT_EQ(cut.GetFallbackCount(), 1);
    // Ears of a pentagram can be clipped, but they would cover its middle twice.
    const std::vector<KVector4> pentagram =
        OnTiltedPlane({{1, 0}, {-0.809, 0.588}, {0.309, -0.951}, {0.309, 0.951}, {-0.809, -0.588}});
    corners = Identity(5);
    EXPECT_EQ(cut.Cut(pentagram.data(), 5, corners.data(), 5).size(), 3u);
    EXPECT_EQ(cut.GetResult(), Cut::eFallback);
    EXPECT_EQ(cut.GetFallbackCount(), 2);
    // Outlines that only touch themselves are followed: a hole joined by a doubled edge, and
    // two lobes meeting at a corner.
    const std::vector<std::vector<KVector4>> touching = {
        OnTiltedPlane({{0, 0},
                       {4, 0},
                       {4, 4},
                       {0, 4},
                       {0, 2},
                       {1, 2},
                       {1, 3},
                       {3, 3},
                       {3, 1},
                       {1, 1},
                       {1, 2},
                       {0, 2}}),
        OnTiltedPlane(
            {{0, 0}, {2, 0}, {2, 2}, {1, 1}, {0, 2}, {-1, 1}, {0, 0}, {-2, 0}, {-2, -2}})};
    for (const std::vector<KVector4>& outline : touching) {
        const int n = int(outline.size());
        corners = Identity(outline.size());
        ExpectCovers(outline, Pieces(outline, cut.Cut(outline.data(), n, corners.data(), n)),
                     "touching");
        EXPECT_EQ(cut.GetResult(), Cut::eOutline);
    }
    EXPECT_EQ(cut.GetFallbackCount(), 2);

    const std::vector<KVector4> line = OnTiltedPlane({{0, 0}, {1, 0}, {3, 0}, {2, 0}});
    corners = Identity(4);
    EXPECT_EQ(cut.Cut(line.data(), 4, corners.data(), 4).size(), 2u);
    EXPECT_EQ(cut.GetResult(), Cut::ePlain);
    corners[2] = 7;  // a point the mesh does not have
    const std::vector<KVector4> star = OnTiltedPlane(StarOutline(2));
    EXPECT_EQ(cut.Cut(star.data(), 4, corners.data(), 4).size(), 2u);
    EXPECT_EQ(cut.GetResult(), Cut::ePlain);
    corners[2] = -1;
    EXPECT_EQ(cut.Cut(star.data(), 4, corners.data(), 4).size(), 2u);
    EXPECT_TRUE(cut.Cut(star.data(), 4, corners.data(), 2).empty());
    EXPECT_EQ(cut.GetResult(), Cut::eNothing);
    const KVector4 nan[4] = {{0, 0, 0}, {1, 0, 0}, {std::nan(""), 1, 0}, {0, 1, 0}};
    corners = Identity(4);
    EXPECT_EQ(cut.Cut(nan, 4, corners.data(), 4).size(), 2u);
    EXPECT_EQ(cut.GetFallbackCount(), 2);
    EXPECT_EQ(Cut::FallbackMessage(1, "Grid"),
              "1 polygon of \"Grid\" could not be cut along its outline and is cut as an "
              "alternating strip\n");
    EXPECT_EQ(Cut::FallbackMessage(3, "Grid", Cut::eFan),
              "3 polygons of \"Grid\" could not be cut along their outline and are cut as fans\n");
}

// A strip winding 48 times around, between two arms of a spiral.
std::vector<std::pair<double, double>> SpiralOutline(int perArm) {
    std::vector<std::pair<double, double>> c;
    for (int k = 0; k < perArm; ++k) {
        const double a = k * 0.002;
        c.push_back({(1 + a) * std::cos(a), (1 + a) * std::sin(a)});
    }
    for (int k = perArm - 1; k >= 0; --k) {
        const double a = k * 0.002;
        c.push_back({(1.5 + a) * std::cos(a), (1.5 + a) * std::sin(a)});
    }
    return c;
}

// Huge polygons are cut along their outline in about linear time: long thin teeth, spikes
// round a crowded middle, and a winding strip where ears turn up one a round.
TEST(KQovPolygonTriangulation, HugeConcavePolygonsAreFollowed) {
    struct Case {
        const char* name;
        std::vector<KVector4> points;
    } cases[] = {{"comb", OnTiltedPlane(CombOutline(75000))},
                 {"star", OnTiltedPlane(StarOutline(150000, 0.1))},
                 {"spiral", OnTiltedPlane(SpiralOutline(150000))}};
    Cut cut;
    for (const Case& c : cases) {
        const int n = int(c.points.size());
        ASSERT_GE(n, 300000);
        const std::vector<int32_t> corners = Identity(c.points.size());
        const std::vector<Cut::Triangle> triangles = cut.Cut(c.points.data(), n, corners.data(), n);
        ASSERT_EQ(triangles.size(), size_t(n - 2)) << c.name;
        EXPECT_EQ(cut.GetResult(), Cut::eOutline) << c.name;
        ExpectCovers(c.points, Pieces(c.points, triangles), c.name, 1e-6);
    }
}

// The converter's triangle mesh: one source polygon per table row.
TEST(KQovPolygonTriangulation, ConverterCutsEveryTablePolygon) {
    KQovMesh mesh(nullptr);
    const std::vector<TablePolygon> table = PolygonTable();
    int points = 0;
    for (const TablePolygon& row : table) points += int(row.corners.size());
    mesh.InitControlPoints(points);
    int next = 0;
    for (const TablePolygon& row : table) {
        mesh.BeginPolygon();
        for (const KVector4& p : row.corners) {
            mesh.GetControlPoints().SetAt(next, p);
            mesh.AddPolygonVertex(next++);
        }
    }
    KQovGeometryConverter converter(nullptr);
    std::unique_ptr<KQovMesh> triangles(converter.TriangulateMesh(&mesh));
    ASSERT_TRUE(triangles);
    EXPECT_EQ(converter.GetFallbackCount(), 0);
    int at = 0, first = 0;
    for (const TablePolygon& row : table) {
        std::vector<std::vector<KVector4>> pieces;
        std::vector<Cut::Triangle> seen, plain;
        for (size_t t = 0; t + 2 < row.corners.size(); ++t, ++at) {
            ASSERT_EQ(triangles->GetPolygonSize(at), 3);
            std::vector<KVector4> piece;
            Cut::Triangle corners;
            for (int k = 0; k < 3; ++k) {
                corners[k] = triangles->GetPolygonVertex(at, k) - first;
                piece.push_back(triangles->GetControlPoints().GetAt(first + corners[k]));
            }
            seen.push_back(corners);
            pieces.push_back(piece);
        }
        ExpectCovers(row.corners, pieces, row.name);
        Cut::PlainCut(Cut::eStrip, int(row.corners.size()), plain);
        if (row.convex) {
            EXPECT_EQ(seen, plain) << row.name;
        }
        first += int(row.corners.size());
    }
    EXPECT_EQ(at, triangles->GetPolygonCount());
}

}  // namespace
