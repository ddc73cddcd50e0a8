#pragma once
// Removes the keys of flat stretches: runs of keys whose values, and their
// neighbours' values, stay within a band around the run's first key.

#include "animation/KFCurveFilter.h"

class KFCurveFilterConstantKeyReducer : public KFCurveFilter {
public:
    KFCurveFilterConstantKeyReducer();

    void Reset() override;

    bool Apply(KFCurve& curve) override;
    bool Apply(KFCurve** curves, int count) override { return ApplyCurveArray(curves, count); }
    // Picks the precision of the channel (rotation, scaling, translation, other) for the walk.
    bool Apply(KFCurveNode& node, bool recursive) override;

    // Half width of the band of the single-curve operation.
    double GetPrecision() const { return mPrecision; }
    void SetPrecision(double precision) { mPrecision = precision; }
    double GetTranslationPrecision() const { return mTranslationPrecision; }
    void SetTranslationPrecision(double precision) { mTranslationPrecision = precision; }
    double GetRotationPrecision() const { return mRotationPrecision; }
    void SetRotationPrecision(double precision) { mRotationPrecision = precision; }
    double GetScalingPrecision() const { return mScalingPrecision; }
    void SetScalingPrecision(double precision) { mScalingPrecision = precision; }
    double GetOtherPrecision() const { return mOtherPrecision; }
    void SetOtherPrecision(double precision) { mOtherPrecision = precision; }
    void SetFlag(bool flag) { mFlag = flag; }
    bool GetFlag() const { return mFlag; }
    // A wholly flat curve keeps its first key instead of becoming keyless.
    void SetKeepFirstKey(bool keep) { mKeepFirstKey = keep; }
    bool GetKeepFirstKey() const { return mKeepFirstKey; }

private:
    double mSparePrecision;
    double mPrecision;
    double mTranslationPrecision;
    double mRotationPrecision;
    double mScalingPrecision;
    double mOtherPrecision;
    bool mFlag;
    bool mKeepFirstKey;
};
