#include "attributes/geometry/KQovNurbTessellator.h"

#include <cmath>
#include <cstdint>

#include "attributes/geometry/KQovWeightTable.h"

namespace {

const double kEps = KQovNurbTessellator::kEpsilon;

int Wrap(int64_t index, int count) {
    const int64_t r = index % count;
    return int(r < 0 ? r + count : r);
}

}  // namespace

double NurbBasis(double t, int i, int k, const double* knots) {
    if (k <= 1) return (knots[i] <= t && t < knots[i + 1]) ? 1.0 : 0.0;
    const double d1 = knots[i + k - 1] - knots[i];
    const double term1 = d1 > kEps ? NurbBasis(t, i, k - 1, knots) * (t - knots[i]) / d1 : 0.0;
    const double d2 = knots[i + k] - knots[i + 1];
    if (!(d2 > kEps)) return term1;
    return term1 + NurbBasis(t, i + 1, k - 1, knots) * (knots[i + k] - t) / d2;
}

double NurbBasisDerivative(double t, int i, int k, const double* knots) {
    // A step function is flat inside its interval.
    if (k <= 1) return 0.0;
    const double d1 = knots[i + k - 1] - knots[i];
    const double term1 = d1 > kEps ? (NurbBasisDerivative(t, i, k - 1, knots) * (t - knots[i]) +
                                      NurbBasis(t, i, k - 1, knots)) /
                                         d1
                                   : 0.0;
    const double d2 = knots[i + k] - knots[i + 1];
    if (!(d2 > kEps)) return term1;
    return term1 + (NurbBasisDerivative(t, i + 1, k - 1, knots) * (knots[i + k] - t) -
                    NurbBasis(t, i + 1, k - 1, knots)) /
                       d2;
}

int CountKnotSpans(const double* knots, int knotCount, int order) {
    if (!knots || order < 1) return 0;
    int spans = 0;
    for (int i = order - 1; i < knotCount - order; ++i)
        if (knots[i + 1] - knots[i] > kEps) ++spans;
    return spans;
}

KQovNurbTessellator::KQovNurbTessellator(int uOrder, int vOrder) {
    // Kept as given: an order outside 1..4 is refused when tessellating.
    mU.pointsPerSegment = uOrder;
    mV.pointsPerSegment = vOrder;
}

KQovNurbTessellator::~KQovNurbTessellator() = default;

int KQovNurbTessellator::SetParameter(int kind, void* value) {
    switch (kind) {
        case eWeights:
            mWeights = static_cast<const double*>(value);
            mBasisDirty = true;  // the weight sums read the weights
            break;
        case eUKnots:
            mU.knots = static_cast<const double*>(value);
            mBasisDirty = true;
            break;
        case eVKnots:
            mV.knots = static_cast<const double*>(value);
            mBasisDirty = true;
            break;
        case eSpareA:
        case eSpareB:
            mSpare[kind - eSpareA] = uint32_t(reinterpret_cast<uintptr_t>(value));
            break;
        case eWorkArray:
            mHomogeneous = static_cast<double*>(value);
            break;
        default:
            break;
    }
    ResetVertexCounts();
    return 0;
}

bool KQovNurbTessellator::HasValidOrder(const Direction& d) {
    return d.pointsPerSegment >= 1 && d.pointsPerSegment <= 4;
}

int KQovNurbTessellator::KnotCount(const Direction& d) {
    const int order = d.pointsPerSegment;
    return d.closed == 1 ? d.count + 2 * order - 1 : d.count + order;
}

int64_t KQovNurbTessellator::CountVertices(const Direction& d) const {
    if (!HasValidOrder(d) || !d.knots || d.count < 1) return 0;
    const int64_t spans = CountKnotSpans(d.knots, KnotCount(d), d.pointsPerSegment);
    if (spans == 0) return 0;
    return spans * d.step + (d.closed == 1 ? 0 : 1);
}

int KQovNurbTessellator::CheckInput() const {
    if (!mControlPoints || !mOutputPoints || !mOutputNormals || !mWeights || !mU.knots || !mV.knots)
        return eErrorMissingArray;
    if (!HasValidOrder(mU) || !HasValidOrder(mV)) return eErrorOrder;
    if (mTooLarge) return eErrorTooLarge;
    if (mU.count < 1 || mV.count < 1) return eErrorNoVertices;
    if (mU.vertexCount == 0 || mV.vertexCount == 0) return eErrorNoSpan;
    return -1;
}

void KQovNurbTessellator::ComputeBasisSamples(Direction& d) {
    const int order = d.pointsPerSegment;
    const int knotCount = KnotCount(d);
    const double* knots = d.knots;
    d.spanCount = CountKnotSpans(knots, knotCount, order);
    d.spanAdvances.assign(size_t(d.spanCount), 0);
    d.samples.resize(size_t(d.vertexCount));
    const bool open = d.closed != 1;
    int64_t sample = 0;
    int j = 0;
    for (int k = 0; k < d.spanCount; ++k) {
        int advance = k == 0 ? 0 : 1;
        // Zero-length intervals are skipped, never past the last interval the order allows.
        while (order - 1 + j < knotCount - order &&
               !(knots[order + j] - knots[order + j - 1] > kEps)) {
            ++advance;
            ++j;
        }
        d.spanAdvances[size_t(k)] = advance;
        const double t0 = knots[order + j - 1];
        // Just below step: the last sample stays inside the half-open span.
        const double h = (knots[order + j] - t0) / (d.step + 1e-8);
        const int samples = d.step + ((open && k == d.spanCount - 1) ? 1 : 0);
        for (int m = 0; m < samples && sample < d.vertexCount; ++m, ++sample) {
            const double t = t0 + m * h;
            Sample& s = d.samples[size_t(sample)];
            for (int c = 0; c < 4; ++c) {
                const bool used = c < order;
                s.value[c] = used ? NurbBasis(t, j + c, order, knots) : 0.0;
                s.slope[c] = used ? NurbBasisDerivative(t, j + c, order, knots) : 0.0;
                s.point[c] = Wrap(int64_t(j) + c, d.count);
            }
        }
        ++j;
    }
}

void KQovNurbTessellator::ComputeWeightSums() {
    const int64_t width = mU.vertexCount, height = mV.vertexCount;
    mWeightSums.assign(size_t(width * height * 3), 0.0);
    for (int64_t v = 0; v < height; ++v) {
        const Sample& sv = mV.samples[size_t(v)];
        for (int64_t u = 0; u < width; ++u) {
            const Sample& su = mU.samples[size_t(u)];
            double* sums = &mWeightSums[size_t((v * width + u) * 3)];
            for (int b = 0; b < 4; ++b) {
                for (int a = 0; a < 4; ++a) {
                    const double w = mWeights[int64_t(sv.point[b]) * mU.count + su.point[a]];
                    sums[0] += w * su.value[a] * sv.value[b];
                    sums[1] += w * su.slope[a] * sv.value[b];
                    sums[2] += w * su.value[a] * sv.slope[b];
                }
            }
        }
    }
}

void KQovNurbTessellator::PrepareEvaluation() {
    const int64_t pointCount = int64_t(mU.count) * mV.count;
    double* homogeneous = mHomogeneous;
    if (!homogeneous) {
        mOwnHomogeneous.resize(size_t(pointCount * 3));
        homogeneous = mOwnHomogeneous.data();
    }
    for (int64_t k = 0; k < pointCount; ++k) {
        const double w = mWeights[k];
        for (int c = 0; c < 3; ++c) homogeneous[k * 3 + c] = mControlPoints[k].mData[c] * w;
    }
    mHomogeneousInUse = homogeneous;
}

void KQovNurbTessellator::EvaluatePoint(const Sample& u, const Sample& v, int64_t index,
                                        double position[3], double uTangent[3],
                                        double vTangent[3]) const {
    const double* sums = &mWeightSums[size_t(index * 3)];
    if (std::fabs(sums[0]) < kEps) {
        // Weights summing to about nothing: the polynomial surface rather than a blow-up.
        KQovPatchTessellator::EvaluatePoint(u, v, index, position, uTangent, vTangent);
        return;
    }
    double s[9];
    SumProducts(mHomogeneousInUse, 3, u, v, s);
    const double w = sums[0];
    for (int c = 0; c < 3; ++c) {
        position[c] = s[c] / w;
        uTangent[c] = (s[3 + c] - position[c] * sums[1]) / w;
        vTangent[c] = (s[6 + c] - position[c] * sums[2]) / w;
    }
}

std::unique_ptr<KQovNurbTessellator> CreateNurbTessellator(int uOrder, int vOrder) {
    return std::make_unique<KQovNurbTessellator>(uOrder, vOrder);
}
