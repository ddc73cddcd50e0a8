#pragma once
// Replaces the keys of a curve within the span by keys sampled at a fixed
// period, and splices the sampled stretch back between the untouched keys.

#include "animation/KFCurveFilter.h"

class KFCurveFilterResample : public KFCurveFilter {
public:
    KFCurveFilterResample();

    void Reset() override;

    // Start sampling on the next multiple of the period.
    virtual void SetAlignToPeriod(bool align) { mAlignToPeriod = align; }
    virtual bool GetAlignToPeriod() const { return mAlignToPeriod; }
    virtual KTime GetPeriod() const { return mPeriod; }
    virtual void SetPeriod(const KTime& period) { mPeriod = period; }
    // Samples keep the kind of the source key that governs them (else cubic auto).
    void SetKeepKeyKind(bool keep) { mKeepKeyKind = keep; }
    bool GetKeepKeyKind() const { return mKeepKeyKind; }

    bool Apply(KFCurve& curve) override;
    bool Apply(KFCurve** curves, int count) override { return ApplyCurveArray(curves, count); }
    bool Apply(KFCurveNode& node, bool recursive) override {
        return ApplyCurveNode(node, recursive);
    }

private:
    bool mAlignToPeriod;
    KTime mPeriod;
    bool mKeepKeyKind;
};
