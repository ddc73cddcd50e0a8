#pragma once
// Gives several curves (typically the X, Y, Z channels of one node) keys at the
// same times: every key time of any curve within the span becomes a key time of
// every curve, valued as its curve was there before the filter ran.

#include "animation/KFCurveFilter.h"

class KFCurveFilterKeySync : public KFCurveFilter {
public:
    static constexpr int kMaxCurves = 20;

    KFCurveFilterKeySync();

    // A single curve cannot be synchronised: always refused.
    bool NeedApply(KFCurve& curve) override;
    // True when the curves' key counts or key times differ.
    bool NeedApply(KFCurve** curves, int count) override;
    bool Apply(KFCurve& curve) override;
    bool Apply(KFCurve** curves, int count) override;
    // Over the curves of the node's children, in child order.
    bool NeedApply(KFCurveNode& node, bool recursive) override;
    bool Apply(KFCurveNode& node, bool recursive) override;

private:
    void RefuseSingle();
    void RefuseTooMany();
};
