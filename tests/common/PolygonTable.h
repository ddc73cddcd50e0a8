#pragma once
// The polygons every writer that cuts polygons into triangles is checked with, and the check:
// the pieces cover the polygon's own area (on the plane of its Newell normal, which is the
// area itself for a flat polygon) and none of them faces away from the polygon.

#include <cmath>
#include <string>
#include <vector>

#include "attributes/KQovMesh.h"
#include "foundation/KVector4.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

struct TablePolygon {
    std::string name;
    std::vector<KVector4> corners;
    bool convex;  // cut plainly, exactly as before concave polygons were followed
};

// Twice the polygon's area vector.
inline KVector4 NewellNormal(const std::vector<KVector4>& corners) {
    KVector4 n;
    const size_t count = corners.size();
    for (size_t k = 0; k < count; ++k) {
        const KVector4& p = corners[k];
        const KVector4& q = corners[(k + 1) % count];
        n[0] += (p[1] - q[1]) * (p[2] + q[2]);
        n[1] += (p[2] - q[2]) * (p[0] + q[0]);
        n[2] += (p[0] - q[0]) * (p[1] + q[1]);
    }
    return n;
}

struct CutCheck {
    double expected = 0;  // the polygon's area
    double area = 0;      // the pieces' areas, signed by their facing
    double covered = 0;   // the pieces' areas, unsigned
    int backwards = 0;    // pieces facing away
};

// Pieces are triangles or other flat faces, corners in their own winding; they are backwards
// when they face away by more than `tolerance` of the polygon's area (rounding turns pieces
// without area either way).
inline CutCheck CheckCut(const std::vector<KVector4>& polygon,
                         const std::vector<std::vector<KVector4>>& pieces,
                         double tolerance = 1e-9) {
    CutCheck c;
    KVector4 n = NewellNormal(polygon);
    c.expected = n.Length() / 2;
    n.Normalize();
    for (const std::vector<KVector4>& piece : pieces) {
        const double a = NewellNormal(piece).DotProduct(n) / 2;
        c.area += a;
        c.covered += std::fabs(a);
        if (a < -tolerance * c.expected) ++c.backwards;
    }
    return c;
}

// A 2D outline laid on a tilted plane, offset along the normal by `lift` per corner.
inline std::vector<KVector4> OnTiltedPlane(const std::vector<std::pair<double, double>>& outline,
                                           const std::vector<double>& lift = {}) {
    const KVector4 o(0.5, 2, -1), u(0.8, 0.36, 0.48), v(-0.6, 0.48, 0.64), w(0, -0.8, 0.6);
    std::vector<KVector4> out;
    for (size_t k = 0; k < outline.size(); ++k) {
        const double h = k < lift.size() ? lift[k] : 0;
        out.push_back(o + u * outline[k].first + v * outline[k].second + w * h);
        out.back()[3] = 1;
    }
    return out;
}

// A comb of `teeth` teeth: 4 * teeth + 2 corners.
inline std::vector<std::pair<double, double>> CombOutline(int teeth) {
    std::vector<std::pair<double, double>> c;
    for (int t = 0; t < teeth; ++t) {
        c.push_back({t * 0.1, 0.3});
        c.push_back({t * 0.1 + 0.05, 0.3});
        c.push_back({t * 0.1 + 0.05, 0.05});
        c.push_back({t * 0.1 + 0.1, 0.05});
    }
    c.push_back({teeth * 0.1, -0.2});
    c.push_back({0, -0.2});
    return c;
}

// A star of `spikes` spikes: 2 * spikes corners.
inline std::vector<std::pair<double, double>> StarOutline(int spikes, double inner = 0.35) {
    std::vector<std::pair<double, double>> c;
    for (int k = 0; k < 2 * spikes; ++k) {
        const double a = 3.14159265358979323846 * k / spikes, r = k % 2 ? inner : 1;
        c.push_back({r * std::cos(a), r * std::sin(a)});
    }
    return c;
}

inline std::vector<TablePolygon> PolygonTable() {
    std::vector<double> bumps;
    for (int k = 0; k < 12; ++k) bumps.push_back(k % 2 ? 0.04 : -0.03);
    std::vector<TablePolygon> table = {
        {"convex hexagon", OnTiltedPlane(StarOutline(3, 1)), true},
        {"convex, collinear corners",
         OnTiltedPlane({{0, 0}, {0.5, 0}, {1, 0}, {1, 0.5}, {1, 1}, {0.5, 1}, {0, 1}, {0, 0.5}}),
         true},
        {"convex, not flat",
         OnTiltedPlane(StarOutline(4, 1), {0.1, -0.1, 0.1, -0.1, 0.1, -0.1, 0.1, -0.1}), true},
        {"concave quad", OnTiltedPlane({{0, 0}, {3, 1}, {0, 2}, {1, 1}}), false},
        {"concave arrow", OnTiltedPlane({{0, 0}, {2, 0}, {2, -1}, {4, 1}, {2, 3}, {2, 2}, {0, 2}}),
         false},
        {"concave, collinear corners",
         OnTiltedPlane({{1, 3},
                        {0, 3},
                        {0, 2},
                        {0, 1},
                        {0, 0},
                        {1, 0},
                        {2, 0},
                        {3, 0},
                        {3, 1},
                        {2, 1},
                        {1, 1},
                        {1, 2}}),
         false},
        {"concave, not flat", OnTiltedPlane(StarOutline(6), bumps), false},
        {"comb of 66 corners", OnTiltedPlane(CombOutline(16)), false},
        {"star of 66 corners", OnTiltedPlane(StarOutline(33)), false},
        {"concave, repeated corners",
         OnTiltedPlane({{0, 0},
                        {2, 0},
                        {2, 0},
                        {2, -1},
                        {4, 1},
                        {2, 3},
                        {2, 2},
                        {2, 2},
                        {2, 2},
                        {0, 2},
                        {0, 0}}),
         false},
    };
    return table;
}

// A mesh node under the root holding the one polygon, its corners control points 0..n-1.
inline KQovMesh* AddPolygonNode(KQovObjectManager& manager, KQovScene* scene, const char* name,
                                const std::vector<KVector4>& corners) {
    KQovNode* node = manager.CreateNode(name);
    scene->GetRootNode()->AddChild(node);
    KQovMesh* mesh = manager.CreateMesh();
    node->SetNodeAttribute(mesh);
    mesh->InitControlPoints(int(corners.size()));
    mesh->BeginPolygon();
    for (size_t k = 0; k < corners.size(); ++k) {
        mesh->GetControlPoints().SetAt(int(k), corners[k]);
        mesh->AddPolygonVertex(int(k));
    }
    return mesh;
}

// The table as nodes "P0", "P1", ... in table order.
inline void AddPolygonTable(KQovObjectManager& manager, KQovScene* scene) {
    const std::vector<TablePolygon> table = PolygonTable();
    for (size_t i = 0; i < table.size(); ++i)
        AddPolygonNode(manager, scene, ("P" + std::to_string(i)).c_str(), table[i].corners);
}

// A flat outline that crosses itself, which no cut along the outline can follow.
inline std::vector<KVector4> CrossingPolygon() {
    return OnTiltedPlane({{0, 0}, {4, 0}, {4, 3}, {1, -1}, {0, 2}, {-1, 1}});
}
