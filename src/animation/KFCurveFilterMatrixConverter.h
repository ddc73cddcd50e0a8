#pragma once
// Rewrites the T, R, S curves of a transform node so that a transform built with
// extra matrices (pivots, offsets, pre- and post-rotations, given by the caller)
// is reproduced by plain T, R, S channels: the channels are sampled at a fixed
// period, each sample is composed with the matrices and decomposed again.

#include "animation/KFCurveFilter.h"
#include "foundation/KMatrix.h"
#include "foundation/KVector4.h"

class KFCurveFilterMatrixConverter : public KFCurveFilter {
public:
    static constexpr int kMatrixCount = 13;

    KFCurveFilterMatrixConverter();

    // Options back on, every matrix the identity, the infinite span.
    void Reset() override;

    // Index 0-12; any other index is ignored.
    void SetSourceMatrix(int index, const KMatrix& matrix);
    void SetResamplingPeriod(const KTime& period) { mPeriod = period; }
    const KTime& GetResamplingPeriod() const { return mPeriod; }
    // Rotation orders are given as node rotation-order values ("Euler XYZ" = 0 ...
    // "Spheric XYZ" = 6) and kept as order codes.
    void SetSourceRotationOrder(int nodeOrder);
    void SetDestinationRotationOrder(int nodeOrder);
    void SetApplyUnroll(bool apply) { mApplyUnroll = apply; }
    void SetApplyConstantKeyReducer(bool apply) { mApplyConstantKeyReducer = apply; }
    void SetSampleAtStop(bool sample) { mSampleAtStop = sample; }
    void SetConvertTranslation(bool convert) { mConvertTranslation = convert; }
    bool GetConvertTranslation() const { return mConvertTranslation; }

    // Needs the whole transform node: always refused.
    bool Apply(KFCurve& curve) override;
    bool Apply(KFCurve** curves, int count) override;
    bool Apply(KFCurveNode& node, bool recursive) override;

    // One T, R (degrees), S sample through the source matrices, in place. Pivot matrices
    // (8, 11, 12) turn the convert-translation option on.
    void ConvertSample(KVector4& t, KVector4& r, KVector4& s);

private:
    struct MatrixSet {
        KMatrix mMatrix[kMatrixCount];
        bool mIsIdentity[kMatrixCount];
        bool mAllIdentity;
        void Reset();
    };

    bool RefuseMethod();
    bool Convert(KFCurveNode& node);

    MatrixSet mSource;
    MatrixSet mTarget;
    KTime mPeriod;
    bool mAlignToPeriod;
    bool mApplyUnroll;
    bool mApplyConstantKeyReducer;
    int mSourceOrder;
    int mTargetOrder;
    bool mSampleAtStop;
    bool mConvertTranslation;
};
