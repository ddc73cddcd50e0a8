#pragma once
// Moves every key of a curve by a time shift, then multiplies its time in
// seconds by a scale. The span is not used: every key moves.

#include "animation/KFCurveFilter.h"

class KFCurveFilterTimeShiftAndScale : public KFCurveFilter {
public:
    KFCurveFilterTimeShiftAndScale();

    virtual const KTime& GetShift() const { return mShift; }
    virtual void SetShift(const KTime& shift) { mShift = shift; }
    virtual double GetScale() const { return mScale; }
    // A scale of 0 or less is ignored by the application.
    virtual void SetScale(double scale) { mScale = scale; }

    bool Apply(KFCurve& curve) override;
    bool Apply(KFCurve** curves, int count) override { return ApplyCurveArray(curves, count); }
    bool Apply(KFCurveNode& node, bool recursive) override {
        return ApplyCurveNode(node, recursive);
    }

private:
    KTime mShift;
    double mScale;
};
