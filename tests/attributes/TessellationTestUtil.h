#pragma once
// Test helpers: grids of control points, running a tessellator into owned arrays, and an
// independent cubic evaluation to compare with.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "attributes/geometry/KQovPatchTessellator.h"
#include "attributes/geometry/KQovWeightTable.h"
#include "foundation/KVector4.h"

struct TessellatedGrid {
    bool ok = false;
    int width = 0, height = 0;
    std::vector<KVector4> points, normals;
    const KVector4& At(int u, int v) const { return points[size_t(v * width + u)]; }
    const KVector4& NormalAt(int u, int v) const { return normals[size_t(v * width + u)]; }
};

// Sizes the outputs from the vertex counts (w preset to 7 to see it is left alone) and runs.
inline TessellatedGrid RunTessellator(KQovPatchTessellator& t, const std::vector<KVector4>& cps,
                                      int uCount, int vCount, KQovWeightTable* table = nullptr) {
    TessellatedGrid g;
    t.SetControlPoints(cps.data(), uCount, vCount);
    g.width = t.GetUVertexCount();
    g.height = t.GetVVertexCount();
    g.points.assign(size_t(g.width * g.height), KVector4(0, 0, 0, 7));
    g.normals.assign(size_t(g.width * g.height), KVector4(0, 0, 0, 7));
    t.SetOutputPoints(g.points.data());
    t.SetOutputNormals(g.normals.data());
    if (table) table->Init(uCount * vCount, g.width * g.height);
    g.ok = t.Tessellate(table);
    return g;
}

// A deterministic, non-planar grid, w = 1.
inline std::vector<KVector4> WavyGrid(int uCount, int vCount) {
    std::vector<KVector4> cps;
    for (int j = 0; j < vCount; ++j)
        for (int i = 0; i < uCount; ++i)
            cps.emplace_back(i + 0.3 * std::sin(1.7 * j + i), j + 0.2 * std::cos(i * 2.3),
                             std::sin(0.9 * i) * std::cos(1.3 * j) + 0.1 * i * j, 1.0);
    return cps;
}

inline KVector4 Unit(const KVector4& v) {
    KVector4 u;
    KVectorNormalize(u, v);
    return u;
}

inline void ExpectNear3(const KVector4& a, const KVector4& b, double tolerance) {
    EXPECT_NEAR(a[0], b[0], tolerance);
    EXPECT_NEAR(a[1], b[1], tolerance);
    EXPECT_NEAR(a[2], b[2], tolerance);
}
