#pragma once
// Cuts polygons into triangles that cover the polygon's own area and face its own way. A
// convex polygon keeps the plain cut the writers have always made, so files of convex
// polygons do not change; a concave one is cut along its outline by ear clipping, in the
// plane of its Newell normal (the best-fit plane of a polygon that is not flat). When the
// outline cannot be followed (it crosses itself, the clipping finds no ear, or the work
// passes a bound linear in the corner count) the plain cut is kept and counted, so that
// writers can say so.

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/KVector4.h"

class KQovPolygonTriangulation {
public:
    // The plain cut: alternating between the polygon's two ends from corner 0 (0 1 2, 2 3 0,
    // 0 3 n-1, ...), or a fan around corner 0 (0 1 2, 0 2 3, ...).
    enum EOrder { eStrip, eFan };
    // How the last polygon was cut.
    enum EResult {
        eNothing,   // fewer than three corners
        ePlain,     // convex, without area, or naming a point it does not have
        eOutline,   // along its concave outline
        eFallback,  // plain, as its outline could not be followed
    };
    using Triangle = std::array<int, 3>;

    explicit KQovPolygonTriangulation(EOrder order = eStrip) : mOrder(order) {}

    // The n - 2 triangles of the polygon whose corner k is points[corners[k]], as corner
    // positions 0..n-1 in the polygon's own winding; none below three corners. The result
    // stays valid until the next call.
    const std::vector<Triangle>& Cut(const KVector4* points, int pointCount, const int32_t* corners,
                                     int n);
    EResult GetResult() const { return mResult; }
    // Polygons cut plainly since construction because their outline could not be followed.
    int GetFallbackCount() const { return mFallbacks; }

    // The plain cut of a polygon of n corners.
    static void PlainCut(EOrder order, int n, std::vector<Triangle>& out);
    // The writers' status line for `count` polygons of the named mesh cut plainly in `order`.
    static std::string FallbackMessage(int count, const char* meshName, EOrder order = eStrip);

private:
    bool IsConvex() const;
    bool CrossesItself();
    void SetGrid(double minX, double minY, double maxX, double maxY, size_t items);
    void ColumnsInRow(const double* xs, const double* ys, int corners, int gy, int y0, int y9,
                      int& x0, int& x9) const;
    bool ClipEars(int n);
    void BuildTree();
    bool IsEar(int a, int b, int c);
    int Column(double x) const {
        return int(std::clamp((x - mMinX) / mCellW, 0.0, mColumns - 1.0));
    }
    int Row(double y) const { return int(std::clamp((y - mMinY) / mCellH, 0.0, mRows - 1.0)); }

    EOrder mOrder;
    EResult mResult = eNothing;
    int mFallbacks = 0;
    std::vector<Triangle> mTriangles;
    // Work space kept between polygons: corners in the polygon's plane, the ring of corners
    // left, and a tree of the corners that may block an ear (kLeaf or fewer a leaf).
    struct Box {
        double x0, y0, x1, y1;
    };
    static constexpr int kLeaf = 8;
    std::vector<double> mX, mY;
    std::vector<int> mPrev, mNext;
    std::vector<uint8_t> mAlive;
    std::vector<int> mBlockers;
    std::vector<Box> mBoxes;
    // The grid of the crossing check.
    int mColumns = 1, mRows = 1;
    double mMinX = 0, mMinY = 0, mCellW = 1, mCellH = 1;
    int64_t mBudget = 0;
};
