#pragma once
// The patch surface: a grid of control points (row by row) joined by one of five polynomial
// bases in each direction, with its own display steps, closed and capped flags.

#include "attributes/KQovGeometry.h"

class KQovPatch : public KQovGeometry {
public:
    // Bases, the same numbers in both directions.
    enum : int { eBezier = 0, eBezierQuadric = 1, eCardinal = 2, eBSpline = 3, eLinear = 4 };

    explicit KQovPatch(KQovObjectManager* manager) : KQovGeometry(manager) { Reset(); }
    ~KQovPatch() override { Reset(); }

    int GetAttributeType() const override { return ePatch; }
    KString GetTypeName() const override { return KString("Patch"); }

    // Stores counts and types, then sizes the points to uCount x vCount zero points. False, with
    // an error and no points, when the grid is too large to hold.
    bool InitControlPoints(int uCount, int uType, int vCount, int vType);
    void SetStep(int uStep, int vStep);
    void SetClosed(bool u, bool v);
    void SetUCapped(bool first, bool second);
    void SetVCapped(bool first, bool second);
    void SetSurfaceDisplay(int mode) { mSurfaceDisplay = mode; }

    int GetUType() const { return mType[0]; }
    int GetVType() const { return mType[1]; }
    int GetUCount() const { return mCount[0]; }
    int GetVCount() const { return mCount[1]; }
    int GetUStep() const { return mStep[0]; }
    int GetVStep() const { return mStep[1]; }
    bool GetUClosed() const { return mClosed[0]; }
    bool GetVClosed() const { return mClosed[1]; }
    bool GetUCapped(int end) const { return end == 0 || end == 1 ? mUCapped[end] : false; }
    bool GetVCapped(int end) const { return end == 0 || end == 1 ? mVCapped[end] : false; }
    int GetSurfaceDisplay() const { return mSurfaceDisplay; }

private:
    void Reset();

    int mType[2];
    int mCount[2];
    int mStep[2];
    bool mClosed[2];
    bool mUCapped[2];
    bool mVCapped[2];
    int mSurfaceDisplay;
};
