#pragma once
// The NURBS surface: a grid of control points (U fastest) with an order, a form, a display step,
// a knot vector and a multiplicity vector in each of the directions U and V.

#include "attributes/KQovGeometry.h"

class KQovNurb : public KQovGeometry {
public:
    // Forms: 0 periodic, 1 closed, anything else open.
    enum : int { ePeriodic = 0, eClosed = 1, eOpen = 2 };
    // Largest grid held; beyond it a surface keeps no points.
    static constexpr int64_t kMaxControlPoints = int64_t(1) << 26;

    explicit KQovNurb(KQovObjectManager* manager) : KQovGeometry(manager) { Reset(); }

    int GetAttributeType() const override { return eNurb; }
    KString GetTypeName() const override { return KString("Nurb"); }

    void Reset();
    // Layers, links, shapes, pivot, orders, steps, forms, knots and multiplicities; not points.
    void Copy(const KQovNurb& source);

    // Negative values count as 0.
    void SetOrder(int uOrder, int vOrder);
    void SetStep(int uStep, int vStep);
    // Zero points, zero knots by the orders set now, multiplicities 1. False, with an error and
    // an empty surface, when the grid is too large to hold.
    bool InitControlPoints(int uCount, int uType, int vCount, int vType);

    int GetUOrder() const { return mOrder[0]; }
    int GetVOrder() const { return mOrder[1]; }
    int GetUCount() const { return mCount[0]; }
    int GetVCount() const { return mCount[1]; }
    int GetUStep() const { return mStep[0]; }
    int GetVStep() const { return mStep[1]; }
    int GetUType() const { return mType[0]; }
    int GetVType() const { return mType[1]; }
    int GetUKnotCount() const { return KnotCount(0); }
    int GetVKnotCount() const { return KnotCount(1); }
    KArrayDouble& GetUKnotVector() { return mKnots[0]; }
    KArrayDouble& GetVKnotVector() { return mKnots[1]; }
    KArrayInt& GetUMultiplicityVector() { return mMultiplicity[0]; }
    KArrayInt& GetVMultiplicityVector() { return mMultiplicity[1]; }
    int GetSurfaceDisplay() const { return mSurfaceDisplay; }
    void SetSurfaceDisplay(int mode) { mSurfaceDisplay = mode; }
    bool GetApplyFlipUV() const { return mFlipUV; }
    bool GetApplyFlipLinks() const { return mFlipLinks; }
    void SetApplyFlipUV(bool on) { mFlipUV = on; }
    void SetApplyFlipLinks(bool on) { mFlipLinks = on; }

private:
    int KnotCount(int d) const;

    int mOrder[2];
    int mCount[2];
    int mStep[2];
    int mType[2];
    KArrayDouble mKnots[2];
    KArrayInt mMultiplicity[2];
    int mSurfaceDisplay;
    bool mFlipUV;
    bool mFlipLinks;
};
