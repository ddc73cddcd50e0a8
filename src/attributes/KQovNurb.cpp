#include "attributes/KQovNurb.h"

namespace {

int NonNegative(int v) { return v < 0 ? 0 : v; }

}  // namespace

void KQovNurb::Reset() {
    for (int d = 0; d < 2; ++d) {
        mOrder[d] = mCount[d] = mStep[d] = 0;
        mType[d] = eOpen;
        mKnots[d].Clear();
        mMultiplicity[d].Clear();
    }
    mSurfaceDisplay = 4;
    mFlipUV = mFlipLinks = false;
}

void KQovNurb::SetOrder(int uOrder, int vOrder) {
    mOrder[0] = NonNegative(uOrder);
    mOrder[1] = NonNegative(vOrder);
}

void KQovNurb::SetStep(int uStep, int vStep) {
    mStep[0] = NonNegative(uStep);
    mStep[1] = NonNegative(vStep);
}

int KQovNurb::KnotCount(int d) const {
    // Orders and counts are non-negative and bounded, so the sum fits.
    const bool wraps = mType[d] == ePeriodic || mType[d] == eClosed;
    const int extra = wraps && mOrder[d] > 0 ? mOrder[d] - 1 : 0;
    return mCount[d] > 0 || mOrder[d] > 0 ? mCount[d] + mOrder[d] + extra : 0;
}

bool KQovNurb::InitControlPoints(int uCount, int uType, int vCount, int vType) {
    const int64_t u = NonNegative(uCount), v = NonNegative(vCount);
    const bool fits = u * v <= kMaxControlPoints && u <= kMaxControlPoints &&
                      v <= kMaxControlPoints && mOrder[0] <= kMaxControlPoints &&
                      mOrder[1] <= kMaxControlPoints;
    if (!fits || !KQovGeometryBase::InitControlPoints(int(u * v))) {
        KQovGeometryBase::InitControlPoints(0);
        for (int d = 0; d < 2; ++d) {
            mCount[d] = 0;
            mKnots[d].Clear();
            mMultiplicity[d].Clear();
        }
        GetError().SetError(eParameterOutOfRange);
        return false;
    }
    mCount[0] = int(u);
    mCount[1] = int(v);
    mType[0] = uType;
    mType[1] = vType;
    for (int d = 0; d < 2; ++d) {
        mKnots[d].Clear();
        mKnots[d].SetCount(KnotCount(d));  // zero-filled
        mMultiplicity[d].Clear();
        mMultiplicity[d].SetCount(mCount[d]);
        for (int i = 0; i < mCount[d]; ++i) mMultiplicity[d].SetAt(i, 1);
    }
    return true;
}

void KQovNurb::Copy(const KQovNurb& source) {
    if (&source == this || CopyRefused(source)) return;
    Reset();
    mFlipUV = source.mFlipUV;
    mFlipLinks = source.mFlipLinks;
    mSurfaceDisplay = source.mSurfaceDisplay;
    for (int d = 0; d < 2; ++d) {
        mOrder[d] = source.mOrder[d];
        mStep[d] = source.mStep[d];
    }
    InitControlPoints(source.mCount[0], source.mType[0], source.mCount[1], source.mType[1]);
    for (int d = 0; d < 2; ++d) {
        mKnots[d] = source.mKnots[d];
        mMultiplicity[d] = source.mMultiplicity[d];
    }
    KQovGeometry::Copy(source);
}
