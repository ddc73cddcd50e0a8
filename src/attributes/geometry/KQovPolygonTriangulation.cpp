#include "attributes/geometry/KQovPolygonTriangulation.h"

#include <algorithm>
#include <cmath>

#include "attributes/geometry/KQovWeightTable.h"
#include "foundation/KLocale.h"
#include "foundation/KQuotedText.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
// Turns smaller than this (as a sine) count as straight: rounding must not make a convex
// polygon of collinear corners concave, nor a straight corner block a cut.
constexpr double kStraight = 1e-9;
// Areas below this share of their edges' squared lengths are no area at all.
constexpr double kFlat = 1e-12;

// Twice the signed area of a, b, p: positive when p lies left of a -> b.
inline double Orient(double ax, double ay, double bx, double by, double px, double py) {
    return (bx - ax) * (py - ay) - (by - ay) * (px - ax);
}

}  // namespace

void KQovPolygonTriangulation::PlainCut(EOrder order, int n, std::vector<Triangle>& out) {
    out.clear();
    if (n < 3) return;
    out.reserve(size_t(n - 2));
    if (order == eFan) {
        for (int t = 0; t + 2 < n; ++t) out.push_back({0, t + 1, t + 2});
        return;
    }
    std::vector<int> strip(size_t(3) * size_t(n - 2));
    BuildPolygonStripIndices(strip.data(), n);
    for (size_t k = 0; k < strip.size(); k += 3)
        out.push_back({strip[k], strip[k + 1], strip[k + 2]});
}

std::string KQovPolygonTriangulation::FallbackMessage(int count, const char* meshName,
                                                      EOrder order) {
    const bool one = count == 1;
    const char* cut = order == eFan ? (one ? "a fan" : "fans")
                                    : (one ? "an alternating strip" : "alternating strips");
    return KFormatC("%d polygon%s of \"%s\" could not be cut along %s outline and %s cut as %s\n",
                    count, one ? "" : "s", KQovMessageText(meshName).c_str(), one ? "its" : "their",
                    one ? "is" : "are", cut);
}

const std::vector<KQovPolygonTriangulation::Triangle>& KQovPolygonTriangulation::Cut(
    const KVector4* points, int pointCount, const int32_t* corners, int n) {
    mTriangles.clear();
    mResult = eNothing;
    if (n < 3 || !corners) return mTriangles;
    mResult = ePlain;
    bool named = points != nullptr;
    for (int k = 0; k < n && named; ++k) named = corners[k] >= 0 && corners[k] < pointCount;
    if (n == 3 || !named) {
        PlainCut(mOrder, n, mTriangles);
        return mTriangles;
    }
    // Newell's normal, about corner 0 so that far-off polygons keep their precision.
    const double* o = points[corners[0]].mData;
    double nx = 0, ny = 0, nz = 0, extent = 0;
    for (int k = 0; k < n; ++k) {
        const double* p = points[corners[k]].mData;
        const double* q = points[corners[k + 1 < n ? k + 1 : 0]].mData;
        const double px = p[0] - o[0], py = p[1] - o[1], pz = p[2] - o[2];
        const double qx = q[0] - o[0], qy = q[1] - o[1], qz = q[2] - o[2];
        nx += (py - qy) * (pz + qz);
        ny += (pz - qz) * (px + qx);
        nz += (px - qx) * (py + qy);
        extent = std::max({extent, std::fabs(px), std::fabs(py), std::fabs(pz)});
    }
    const double length = std::sqrt(nx * nx + ny * ny + nz * nz);
    // Without area (corners on one line, or halves of a figure eight that cancel) there is no
    // facing to keep.
    if (!std::isfinite(length) || !(length > kFlat * extent * extent)) {
        PlainCut(mOrder, n, mTriangles);
        return mTriangles;
    }
    nx /= length;
    ny /= length;
    nz /= length;
    // u and v span the plane, with u x v along the normal: the polygon winds counter-clockwise.
    const double ax = std::fabs(nx), ay = std::fabs(ny), az = std::fabs(nz);
    double ux, uy, uz;
    if (ax <= ay && ax <= az)
        ux = 0, uy = -nz, uz = ny;  // (1, 0, 0) x n
    else if (ay <= az)
        ux = nz, uy = 0, uz = -nx;  // (0, 1, 0) x n
    else
        ux = -ny, uy = nx, uz = 0;  // (0, 0, 1) x n
    const double ul = std::sqrt(ux * ux + uy * uy + uz * uz);
    ux /= ul;
    uy /= ul;
    uz /= ul;
    const double vx = ny * uz - nz * uy, vy = nz * ux - nx * uz, vz = nx * uy - ny * ux;
    mX.resize(size_t(n));
    mY.resize(size_t(n));
    for (int k = 0; k < n; ++k) {
        const double* p = points[corners[k]].mData;
        const double px = p[0] - o[0], py = p[1] - o[1], pz = p[2] - o[2];
        mX[k] = px * ux + py * uy + pz * uz;
        mY[k] = px * vx + py * vy + pz * vz;
    }
    if (IsConvex()) {
        PlainCut(mOrder, n, mTriangles);
        return mTriangles;
    }
    if (!CrossesItself() && ClipEars(n)) {
        mResult = eOutline;
        return mTriangles;
    }
    PlainCut(mOrder, n, mTriangles);
    mResult = eFallback;
    ++mFallbacks;
    return mTriangles;
}

// Convex: no corner turns right and the outline turns once around, repeated corners and
// straight corners aside.
bool KQovPolygonTriangulation::IsConvex() const {
    const int n = int(mX.size());
    auto edgeX = [&](int k) { return mX[k + 1 < n ? k + 1 : 0] - mX[k]; };
    auto edgeY = [&](int k) { return mY[k + 1 < n ? k + 1 : 0] - mY[k]; };
    int last = n - 1;
    while (last >= 0 && edgeX(last) == 0 && edgeY(last) == 0) --last;
    if (last < 0) return true;
    double px = edgeX(last), py = edgeY(last), pl = std::hypot(px, py);
    double turned = 0;
    for (int k = 0; k < n; ++k) {
        const double ex = edgeX(k), ey = edgeY(k);
        if (ex == 0 && ey == 0) continue;
        const double el = std::hypot(ex, ey);
        const double cross = px * ey - py * ex;
        if (cross < -kStraight * pl * el) return false;
        // A spike turns by half a turn; winding twice by a whole one more.
        turned += std::atan2(std::fabs(cross), px * ex + py * ey);
        if (turned > 2.5 * kPi) return false;
        px = ex, py = ey, pl = el;
    }
    return true;
}

bool KQovPolygonTriangulation::ClipEars(int n) {
    mPrev.resize(size_t(n));
    mNext.resize(size_t(n));
    mAlive.assign(size_t(n), 1);
    for (int k = 0; k < n; ++k) {
        mPrev[k] = k > 0 ? k - 1 : n - 1;
        mNext[k] = k + 1 < n ? k + 1 : 0;
    }
    // Only a corner that is not convex can lie inside an ear, and clipping ears never makes a
    // convex corner reflex: the tree holds the corners not convex at the start.
    mBlockers.clear();
    for (int k = 0; k < n; ++k) {
        const int a = mPrev[k], c = mNext[k];
        const double x1 = mX[k] - mX[a], y1 = mY[k] - mY[a], x2 = mX[c] - mX[k], y2 = mY[c] - mY[k];
        if (x1 * y2 - y1 * x2 <= kFlat * (x1 * x1 + y1 * y1 + x2 * x2 + y2 * y2))
            mBlockers.push_back(k);
    }
    BuildTree();

    // A bound on the work keeps a huge polygon of pathological shape from taking quadratic
    // time. Moving on past the next corner after a cut makes fewer slivers, but along a long
    // winding strip it finds one ear a round; when the bound is reached, cutting goes on from
    // the corner before each cut, which follows such a strip, under a bound of its own.
    const int64_t bound = 1000000 + 200 * int64_t(n);
    mBudget = bound;
    bool zip = false;
    int ear = 0, stop = 0, left = n;
    while (left > 3) {
        const int a = mPrev[ear], c = mNext[ear];
        if (IsEar(a, ear, c)) {
            mTriangles.push_back({a, ear, c});
            mNext[a] = c;
            mPrev[c] = a;
            mAlive[ear] = 0;
            --left;
            ear = zip ? a : mNext[c];
            stop = ear;
            continue;
        }
        if (mBudget < 0 && !zip) {
            zip = true;
            mBudget = bound;
            stop = ear;
            continue;
        }
        ear = c;
        if (ear == stop || mBudget < 0) return false;
    }
    const int a = mPrev[ear], c = mNext[ear];
    if (!IsEar(a, ear, c)) return false;
    mTriangles.push_back({a, ear, c});
    return true;
}

bool KQovPolygonTriangulation::IsEar(int a, int b, int c) {
    --mBudget;
    const double ax = mX[a], ay = mY[a], bx = mX[b], by = mY[b], cx = mX[c], cy = mY[c];
    const double ux = bx - ax, uy = by - ay, wx = cx - bx, wy = cy - by;
    const double cross = ux * wy - uy * wx;
    const double tolerance = kFlat * (ux * ux + uy * uy + wx * wx + wy * wy);
    if (cross < -tolerance) return false;
    // A straight corner, or a spike, goes without changing the area.
    if (cross <= tolerance) return true;
    const double left = std::min({ax, bx, cx}), right = std::max({ax, bx, cx});
    const double bottom = std::min({ay, by, cy}), top = std::max({ay, by, cy});
    // Tree nodes as (node, first item, end item); a node wholly outside one edge is skipped.
    int stack[3 * 64];
    int depth = 0;
    if (!mBlockers.empty()) {
        stack[0] = 0, stack[1] = 0, stack[2] = int(mBlockers.size());
        depth = 1;
    }
    while (depth > 0) {
        --depth;
        const int node = stack[3 * depth], lo = stack[3 * depth + 1], hi = stack[3 * depth + 2];
        if (--mBudget < 0) return false;
        const Box& box = mBoxes[size_t(node)];
        if (box.x1 < left || box.x0 > right || box.y1 < bottom || box.y0 > top) continue;
        bool outside = false;
        const double xs[3] = {ax, bx, cx}, ys[3] = {ay, by, cy};
        for (int e = 0; e < 3 && !outside; ++e) {
            const int f = e < 2 ? e + 1 : 0;
            outside = Orient(xs[e], ys[e], xs[f], ys[f], box.x0, box.y0) < 0 &&
                      Orient(xs[e], ys[e], xs[f], ys[f], box.x1, box.y0) < 0 &&
                      Orient(xs[e], ys[e], xs[f], ys[f], box.x0, box.y1) < 0 &&
                      Orient(xs[e], ys[e], xs[f], ys[f], box.x1, box.y1) < 0;
        }
        if (outside) continue;
        if (hi - lo > kLeaf) {
            const int mid = lo + (hi - lo) / 2;
            const int children[2][3] = {{2 * node + 1, lo, mid}, {2 * node + 2, mid, hi}};
            for (const auto& child : children) {
                std::copy(child, child + 3, stack + 3 * depth);
                ++depth;
            }
            continue;
        }
        for (int i = lo; i < hi; ++i) {
            const int p = mBlockers[size_t(i)];
            if (!mAlive[size_t(p)] || p == a || p == b || p == c) continue;
            const double px = mX[p], py = mY[p];
            // A corner repeated where the outline touches itself does not block.
            if ((px == ax && py == ay) || (px == cx && py == cy)) continue;
            if (Orient(ax, ay, bx, by, px, py) >= 0 && Orient(bx, by, cx, cy, px, py) >= 0 &&
                Orient(cx, cy, ax, ay, px, py) >= 0)
                return false;
        }
        mBudget -= hi - lo;
    }
    return true;
}

void KQovPolygonTriangulation::SetGrid(double minX, double minY, double maxX, double maxY,
                                       size_t items) {
    // About one item a cell, cells about square however long the polygon is.
    const double width = std::max(maxX - minX, 1e-300), height = std::max(maxY - minY, 1e-300);
    const double count = double(std::max<size_t>(items, 1));
    mColumns = int(std::clamp(std::sqrt(count * width / height), 1.0, count));
    mRows = int(std::clamp(count / mColumns, 1.0, count));
    mMinX = minX, mMinY = minY;
    mCellW = width / mColumns;
    mCellH = height / mRows;
}

// The columns of row gy that a segment or triangle (rows y0 to y9) crosses: only those, so
// that thin slanted shapes of a large polygon do not cost their whole bounding box.
void KQovPolygonTriangulation::ColumnsInRow(const double* xs, const double* ys, int corners, int gy,
                                            int y0, int y9, int& x0, int& x9) const {
    // The row's band, a little wider so that rounding loses no corner on its edge.
    const double margin = 1e-6 * mCellH;
    const double bottom = gy == y0 ? -HUGE_VAL : mMinY + gy * mCellH - margin;
    const double top = gy == y9 ? HUGE_VAL : mMinY + (gy + 1) * mCellH + margin;
    double left = HUGE_VAL, right = -HUGE_VAL;
    for (int e = 0; e < corners; ++e) {
        const int f = e + 1 < corners ? e + 1 : 0;
        const double x1 = xs[e], y1 = ys[e], x2 = xs[f], y2 = ys[f];
        const double lo = std::max(std::min(y1, y2), bottom);
        const double hi = std::min(std::max(y1, y2), top);
        if (lo > hi) continue;
        if (y1 == y2) {
            left = std::min({left, x1, x2});
            right = std::max({right, x1, x2});
            continue;
        }
        for (double y : {lo, hi}) {
            const double x = x1 + (x2 - x1) * ((y - y1) / (y2 - y1));
            left = std::min(left, x);
            right = std::max(right, x);
        }
    }
    if (left > right) {
        x0 = 0, x9 = -1;
        return;
    }
    x0 = Column(left - 1e-6 * mCellW);
    x9 = Column(right + 1e-6 * mCellW);
}

// Whether two edges that share no corner cross at a point inside both. Edges that only touch,
// or run along each other, do not count: outlines that touch themselves can still be cut.
// A polygon too costly to check counts as not crossing; the ear clipping still stops on one
// that cannot be followed.
bool KQovPolygonTriangulation::CrossesItself() {
    const int n = int(mX.size());
    double minX = mX[0], maxX = mX[0], minY = mY[0], maxY = mY[0];
    for (int k = 0; k < n; ++k) {
        minX = std::min(minX, mX[k]), maxX = std::max(maxX, mX[k]);
        minY = std::min(minY, mY[k]), maxY = std::max(maxY, mY[k]);
    }
    SetGrid(minX, minY, maxX, maxY, size_t(n));
    int64_t budget = 1000000 + 16 * int64_t(n);
    std::vector<std::pair<int, int>> entries;  // cell, edge
    for (int k = 0; k < n; ++k) {
        const int f = k + 1 < n ? k + 1 : 0;
        const double xs[2] = {mX[k], mX[f]}, ys[2] = {mY[k], mY[f]};
        const int y0 = Row(std::min(ys[0], ys[1])), y9 = Row(std::max(ys[0], ys[1]));
        for (int gy = y0; gy <= y9; ++gy) {
            int x0 = 0, x9 = -1;
            ColumnsInRow(xs, ys, 2, gy, y0, y9, x0, x9);
            for (int gx = x0; gx <= x9; ++gx) entries.push_back({gy * mColumns + gx, k});
            budget -= 1 + std::max(0, x9 - x0 + 1);
        }
        if (budget < 0) return false;
    }
    std::sort(entries.begin(), entries.end());
    auto strict = [](double o, double scale) {
        return o > 1e-12 * scale ? 1 : o < -1e-12 * scale ? -1 : 0;
    };
    for (size_t first = 0; first < entries.size();) {
        size_t end = first;
        while (end < entries.size() && entries[end].first == entries[first].first) ++end;
        for (size_t i = first; i < end; ++i) {
            const int a = entries[i].second, a2 = a + 1 < n ? a + 1 : 0;
            const double ax = mX[a], ay = mY[a], bx = mX[a2], by = mY[a2];
            const double la = (bx - ax) * (bx - ax) + (by - ay) * (by - ay);
            for (size_t j = i + 1; j < end; ++j) {
                if (--budget < 0) return false;
                const int c = entries[j].second, c2 = c + 1 < n ? c + 1 : 0;
                if (c == a2 || c2 == a) continue;
                const double cx = mX[c], cy = mY[c], dx = mX[c2], dy = mY[c2];
                const double lc = (dx - cx) * (dx - cx) + (dy - cy) * (dy - cy);
                const double scale = std::max(la, lc);
                if (strict(Orient(ax, ay, bx, by, cx, cy), scale) *
                            strict(Orient(ax, ay, bx, by, dx, dy), scale) <
                        0 &&
                    strict(Orient(cx, cy, dx, dy, ax, ay), scale) *
                            strict(Orient(cx, cy, dx, dy, bx, by), scale) <
                        0)
                    return true;
            }
        }
        first = end;
    }
    return false;
}

// A balanced tree over the blockers, split at the median of the wider side, nodes numbered as
// in a heap; built with a stack of its own.
void KQovPolygonTriangulation::BuildTree() {
    const int count = int(mBlockers.size());
    size_t leaves = 1;
    while (leaves * kLeaf < size_t(count)) leaves *= 2;
    mBoxes.assign(2 * leaves, Box{});
    std::vector<std::array<int, 3>> pending;
    if (count > 0) pending.push_back({0, 0, count});
    while (!pending.empty()) {
        const auto [node, lo, hi] = pending.back();
        pending.pop_back();
        Box box{HUGE_VAL, HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
        for (int i = lo; i < hi; ++i) {
            const int k = mBlockers[size_t(i)];
            box.x0 = std::min(box.x0, mX[k]), box.x1 = std::max(box.x1, mX[k]);
            box.y0 = std::min(box.y0, mY[k]), box.y1 = std::max(box.y1, mY[k]);
        }
        mBoxes[size_t(node)] = box;
        if (hi - lo <= kLeaf) continue;
        const int mid = lo + (hi - lo) / 2;
        const std::vector<double>& axis = box.x1 - box.x0 >= box.y1 - box.y0 ? mX : mY;
        std::nth_element(mBlockers.begin() + lo, mBlockers.begin() + mid, mBlockers.begin() + hi,
                         [&axis](int p, int q) { return axis[size_t(p)] < axis[size_t(q)]; });
        pending.push_back({2 * node + 1, lo, mid});
        pending.push_back({2 * node + 2, mid, hi});
    }
}
