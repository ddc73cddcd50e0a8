#include "attributes/KQovPatch.h"

#include "attributes/KQovNurb.h"

void KQovPatch::Reset() {
    for (int d = 0; d < 2; ++d) {
        mType[d] = eLinear;
        mCount[d] = mStep[d] = 0;
        mClosed[d] = mUCapped[d] = mVCapped[d] = false;
    }
    mSurfaceDisplay = 4;
}

bool KQovPatch::InitControlPoints(int uCount, int uType, int vCount, int vType) {
    const int64_t u = uCount < 0 ? 0 : uCount, v = vCount < 0 ? 0 : vCount;
    mType[0] = uType;
    mType[1] = vType;
    if (u * v > KQovNurb::kMaxControlPoints || !KQovGeometryBase::InitControlPoints(int(u * v))) {
        KQovGeometryBase::InitControlPoints(0);
        mCount[0] = mCount[1] = 0;
        GetError().SetError(eParameterOutOfRange);
        return false;
    }
    mCount[0] = int(u);
    mCount[1] = int(v);
    return true;
}

void KQovPatch::SetStep(int uStep, int vStep) {
    mStep[0] = uStep;
    mStep[1] = vStep;
}

void KQovPatch::SetClosed(bool u, bool v) {
    mClosed[0] = u;
    mClosed[1] = v;
}

void KQovPatch::SetUCapped(bool first, bool second) {
    mUCapped[0] = first;
    mUCapped[1] = second;
}

void KQovPatch::SetVCapped(bool first, bool second) {
    mVCapped[0] = first;
    mVCapped[1] = second;
}
