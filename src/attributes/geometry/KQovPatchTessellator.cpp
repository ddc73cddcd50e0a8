#include "attributes/geometry/KQovPatchTessellator.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "attributes/geometry/KQovWeightTable.h"

namespace {

const char* const kTessellatorMessages[KQovPatchTessellator::eErrorCount] = {
    "Control points or output arrays missing",       "The surface yields no vertex",
    "The tessellated surface is too large",          "Order out of range 1 to 4",
    "Knot vector without a span of non-zero length",
};

const double kSixth = 1.0 / 6.0;
const double kTwoThirds = 2.0 / 3.0;

struct PatchTypeInfo {
    double basis[16];
    int pointsPerSegment;
    int stride;
};

// Coefficients of u³, u², u, 1 for P0; P1; P2; P3.
const PatchTypeInfo kPatchTypes[5] = {
    {{-1, 3, -3, 1, 3, -6, 3, 0, -3, 3, 0, 0, 1, 0, 0, 0}, 4, 3},                   // Bezier
    {{0, 1, -2, 1, 0, -2, 2, 0, 0, 1, 0, 0, 0, 0, 0, 0}, 3, 2},                     // BezierQuadric
    {{-0.5, 1, -0.5, 0, 1.5, -2.5, 0, 1, -1.5, 2, 0.5, 0, 0.5, -0.5, 0, 0}, 4, 1},  // Cardinal
    {{-kSixth, 0.5, -0.5, kSixth, 0.5, -1, 0, kTwoThirds, -0.5, 0.5, 0.5, kSixth, kSixth, 0, 0, 0},
     4,
     1},                                                        // BSpline
    {{0, 0, -1, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 2, 1},  // Linear
};

const double kCollapseTolerance = 1e-8;

int WrapIndex(int64_t index, int count) {
    const int64_t r = index % count;
    return int(r < 0 ? r + count : r);
}

// Sum of the absolute steps between neighbouring points of a line, per coordinate, all small.
bool IsDegenerateLine(const KVector4* points, int first, int stride, int count) {
    double sum[3] = {0, 0, 0};
    for (int k = 0; k + 1 < count; ++k) {
        const KVector4& a = points[first + k * stride];
        const KVector4& b = points[first + (k + 1) * stride];
        for (int c = 0; c < 3; ++c) sum[c] += std::fabs(b.mData[c] - a.mData[c]);
    }
    return sum[0] < kCollapseTolerance && sum[1] < kCollapseTolerance &&
           sum[2] < kCollapseTolerance;
}

}  // namespace

KQovPatchTessellator::KQovPatchTessellator() : mError(kTessellatorMessages, eErrorCount) {}

KQovPatchTessellator::~KQovPatchTessellator() = default;

void KQovPatchTessellator::Changed() {
    mBasisDirty = true;
    ResetVertexCounts();
}

void KQovPatchTessellator::SetClosed(Direction& d, int closed) {
    d.closed = closed;
    Changed();  // the sample tables follow the wrap
}

int KQovPatchTessellator::SetStep(Direction& d, int step) {
    d.step = std::max(step, 1);
    Changed();
    return d.step;
}

const KQovPatchTessellator::Direction& KQovPatchTessellator::EdgeFlags(const Direction& d) {
    if (mEdgesDirty) DetectCollapsedEdges();
    return d;
}

int KQovPatchTessellator::GetUVertexCount() {
    UpdateVertexCounts();
    return int(mU.vertexCount);
}

int KQovPatchTessellator::GetVVertexCount() {
    UpdateVertexCounts();
    return int(mV.vertexCount);
}

void KQovPatchTessellator::ResetVertexCounts() {
    mU.vertexCount = -1;
    mV.vertexCount = -1;
}

void KQovPatchTessellator::UpdateVertexCounts() {
    if (mU.vertexCount >= 0 && mV.vertexCount >= 0) return;
    const int64_t u = CountVertices(mU);
    const int64_t v = CountVertices(mV);
    // Each factor is checked first so the product cannot overflow.
    mTooLarge = u > kMaxVertices || v > kMaxVertices || u * v > kMaxVertices;
    mU.vertexCount = mTooLarge ? 0 : u;
    mV.vertexCount = mTooLarge ? 0 : v;
}

int64_t KQovPatchTessellator::CountVertices(const Direction& d) const {
    const int64_t c = d.count, p = d.pointsPerSegment, stride = d.stride;
    if (c < p) return 0;  // not one whole segment
    const int64_t n = int64_t(d.step) * stride;
    if (n > kMaxVertices) return kMaxVertices + 1;  // too large already; keeps the products small
    if (d.closed == 1) return ((c - p) / stride + p) * n;
    return ((c - p) / stride) * n + n + 1;
}

int KQovPatchTessellator::SetCardinalTension(Direction& d, double t) {
    const double s = t / 2.0;
    const double m[16] = {-s, t, -s, 0, 2 - s, s - 3, 0, 1, s - 2, 3 - t, s, 0, s, -s, 0, 0};
    SetBasisMatrix(d, m);
    d.tension = t;
    d.pointsPerSegment = 4;
    d.stride = 1;
    Changed();
    return 1;
}

int KQovPatchTessellator::SetControlPoints(const KVector4* points, int uCount, int vCount) {
    uCount = std::max(uCount, 0);
    vCount = std::max(vCount, 0);
    // The sample tables hold wrapped control-point indices, so another grid size rebuilds them;
    // a grid of the same size (blend shapes) reuses them.
    if (uCount != mU.count || vCount != mV.count) mBasisDirty = true;
    mControlPoints = points;
    mU.count = uCount;
    mV.count = vCount;
    mEdgesDirty = true;
    ResetVertexCounts();
    return 0;
}

int KQovPatchTessellator::SetParameter(int, void*) {
    return 0;
}

void KQovPatchTessellator::SetBasisMatrix(Direction& d, const double matrix[16]) {
    std::memcpy(d.basis, matrix, sizeof d.basis);
    for (int c = 0; c < 4; ++c) {
        d.slopeBasis[c * 3 + 0] = 3.0 * matrix[c * 4 + 0];
        d.slopeBasis[c * 3 + 1] = 2.0 * matrix[c * 4 + 1];
        d.slopeBasis[c * 3 + 2] = matrix[c * 4 + 2];
    }
    mBasisDirty = true;
}

void KQovPatchTessellator::SetSegmentSize(Direction& d, int points) {
    d.pointsPerSegment = std::max(points, 1);
    Changed();
}

void KQovPatchTessellator::SetStride(Direction& d, int stride) {
    d.stride = std::max(stride, 1);
    Changed();
}

bool KQovPatchTessellator::SetPatchType(Direction& d, int type) {
    if (type < eBezier || type > eLinear) return false;
    const PatchTypeInfo& info = kPatchTypes[type];
    SetBasisMatrix(d, info.basis);
    d.pointsPerSegment = info.pointsPerSegment;
    d.stride = info.stride;
    SetStep(d, 4);
    return true;
}

void KQovPatchTessellator::DetectCollapsedEdges() {
    mU.startCollapsed = mU.endCollapsed = false;
    mV.startCollapsed = mV.endCollapsed = false;
    mEdgesDirty = false;
    const int w = mU.count, h = mV.count;
    // A line of one point, or a grid of one line, has no edge to speak of.
    if (!mControlPoints || w < 2 || h < 2) return;
    auto row = [&](int r) { return IsDegenerateLine(mControlPoints, r * w, 1, w); };
    auto column = [&](int c) { return IsDegenerateLine(mControlPoints, c, w, h); };
    mV.startCollapsed = row(0) || row(1);
    mV.endCollapsed = row(h - 2) || row(h - 1);
    mU.startCollapsed = column(0) || column(1);
    mU.endCollapsed = column(w - 2) || column(w - 1);
}

int KQovPatchTessellator::CheckInput() const {
    if (!mControlPoints || !mOutputPoints || !mOutputNormals) return eErrorMissingArray;
    if (mTooLarge) return eErrorTooLarge;
    if (mU.vertexCount == 0 || mV.vertexCount == 0) return eErrorNoVertices;
    return -1;
}

bool KQovPatchTessellator::Tessellate(KQovWeightTable* influences) {
    UpdateVertexCounts();
    const int error = CheckInput();
    if (error >= 0) {
        mError.SetError(error);
        return false;
    }
    mError.ClearError();
    if (mBasisDirty) {
        ComputeBasisSamples(mU);
        ComputeBasisSamples(mV);
        ComputeWeightSums();
        const size_t total = size_t(mU.vertexCount * mV.vertexCount);
        mUTangents.assign(total, KVector4());
        mVTangents.assign(total, KVector4());
        mBasisDirty = false;
    }
    if (mEdgesDirty) DetectCollapsedEdges();
    Evaluate();
    if (influences) ComputeInfluences(*influences);
    return true;
}

void KQovPatchTessellator::ComputeBasisSamples(Direction& d) {
    const int64_t n = int64_t(d.step) * d.stride;
    const int64_t segments = d.closed == 1
                                 ? (d.count - d.pointsPerSegment) / d.stride + d.pointsPerSegment
                                 : (d.count - d.pointsPerSegment) / d.stride + 1;
    d.samples.resize(size_t(d.vertexCount));
    const double slopeScale = 0.5 / double(n);
    for (int64_t k = 0; k < d.vertexCount; ++k) {
        const int64_t s = std::min(k / n, segments - 1);
        const double u = double(k - s * n) / double(n);
        Sample& sample = d.samples[size_t(k)];
        for (int c = 0; c < 4; ++c) {
            const double* a = d.basis + c * 4;
            const double* da = d.slopeBasis + c * 3;
            sample.value[c] = ((a[0] * u + a[1]) * u + a[2]) * u + a[3];
            sample.slope[c] = ((da[0] * u + da[1]) * u + da[2]) * slopeScale;
            sample.point[c] = WrapIndex(s * d.stride + c, d.count);
        }
    }
}

void KQovPatchTessellator::SumProducts(const double* points, int itemSize, const Sample& u,
                                       const Sample& v, double out[9]) const {
    for (int k = 0; k < 9; ++k) out[k] = 0.0;
    for (int b = 0; b < 4; ++b) {
        const int64_t row = int64_t(v.point[b]) * mU.count;
        for (int a = 0; a < 4; ++a) {
            const double* p = points + (row + u.point[a]) * itemSize;
            const double w = u.value[a] * v.value[b];
            const double wu = u.slope[a] * v.value[b];
            const double wv = u.value[a] * v.slope[b];
            for (int c = 0; c < 3; ++c) {
                out[c] += w * p[c];
                out[3 + c] += wu * p[c];
                out[6 + c] += wv * p[c];
            }
        }
    }
}

void KQovPatchTessellator::EvaluatePoint(const Sample& u, const Sample& v, int64_t,
                                         double position[3], double uTangent[3],
                                         double vTangent[3]) const {
    double s[9];
    SumProducts(mControlPoints[0].mData, 4, u, v, s);
    for (int c = 0; c < 3; ++c) {
        position[c] = s[c];
        uTangent[c] = s[3 + c];
        vTangent[c] = s[6 + c];
    }
}

void KQovPatchTessellator::Evaluate() {
    PrepareEvaluation();
    const int64_t width = mU.vertexCount, height = mV.vertexCount;
    for (int64_t v = 0; v < height; ++v) {
        const Sample& sv = mV.samples[size_t(v)];
        for (int64_t u = 0; u < width; ++u) {
            const int64_t index = v * width + u;
            KVector4& uTangent = mUTangents[size_t(index)];
            KVector4& vTangent = mVTangents[size_t(index)];
            EvaluatePoint(mU.samples[size_t(u)], sv, index, mOutputPoints[index].mData,
                          uTangent.mData, vTangent.mData);
            StoreNormal(index, vTangent, uTangent);
        }
    }
    FixCollapsedEdgeNormals();
}

void KQovPatchTessellator::StoreNormal(int64_t index, const KVector4& vt, const KVector4& ut) {
    double* n = mOutputNormals[index].mData;
    n[0] = vt.mData[1] * ut.mData[2] - vt.mData[2] * ut.mData[1];
    n[1] = vt.mData[2] * ut.mData[0] - vt.mData[0] * ut.mData[2];
    n[2] = vt.mData[0] * ut.mData[1] - vt.mData[1] * ut.mData[0];
}

void KQovPatchTessellator::FixCollapsedEdgeNormals() {
    const int64_t w = mU.vertexCount, h = mV.vertexCount;
    // Along a collapsed edge one tangent vanishes; the neighbouring line's tangent stands in.
    if (w >= 2) {
        for (int64_t r = 0; r < h; ++r) {
            const int64_t first = r * w, last = first + w - 1;
            if (mU.startCollapsed)
                StoreNormal(first, mVTangents[size_t(first + 1)], mUTangents[size_t(first)]);
            if (mU.endCollapsed)
                StoreNormal(last, mVTangents[size_t(last - 1)], mUTangents[size_t(last)]);
        }
    }
    if (h >= 2) {
        for (int64_t i = 0; i < w; ++i) {
            if (mV.startCollapsed) StoreNormal(i, mVTangents[size_t(i)], mUTangents[size_t(w + i)]);
            if (mV.endCollapsed) {
                const int64_t lastRow = (h - 1) * w + i;
                StoreNormal(lastRow, mVTangents[size_t(lastRow)], mUTangents[size_t(lastRow - w)]);
            }
        }
    }
}

void KQovPatchTessellator::GatherInfluence(const Sample& u, const Sample& v, int uCount,
                                           const double* pointWeights, double weights[16],
                                           int32_t indices[16]) {
    for (int b = 0; b < 4; ++b) {
        for (int a = 0; a < 4; ++a) {
            const int64_t index = int64_t(v.point[b]) * uCount + u.point[a];
            double w = u.value[a] * v.value[b];
            if (pointWeights) w *= pointWeights[index];
            weights[b * 4 + a] = w;
            indices[b * 4 + a] = int32_t(index);  // a grid the table can index fits
        }
    }
}

void KQovPatchTessellator::AddInfluences(KQovWeightTable& table, const double weights[16],
                                         const int32_t indices[16], int outputIndex) {
    for (int k = 0; k < 16; ++k)
        if (weights[k] != 0.0) table.Add(indices[k], outputIndex, weights[k]);
}

void KQovPatchTessellator::ComputeInfluences(KQovWeightTable& table) {
    double weights[16];
    int32_t indices[16];
    const int64_t width = mU.vertexCount;
    for (int64_t v = 0; v < mV.vertexCount; ++v) {
        for (int64_t u = 0; u < width; ++u) {
            GatherInfluence(mU.samples[size_t(u)], mV.samples[size_t(v)], mU.count,
                            GetInfluenceWeights(), weights, indices);
            AddInfluences(table, weights, indices, int(v * width + u));
        }
    }
}

std::unique_ptr<KQovPatchTessellator> CreatePatchTessellator(int uType, int vType) {
    auto tessellator = std::make_unique<KQovPatchTessellator>();
    tessellator->SetUPatchType(uType);
    tessellator->SetVPatchType(vType);
    return tessellator;
}
