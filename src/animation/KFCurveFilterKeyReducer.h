#pragma once
// Replaces the keys of a curve within the span by as few cubic keys as keep the
// curve within the precision of the original key values: starting from the two
// end keys, the worst approximated key is inserted until every key fits.

#include "animation/KFCurveFilter.h"

class KFCurveFilterKeyReducer : public KFCurveFilter {
public:
    KFCurveFilterKeyReducer();

    void Reset() override;

    double GetPrecision() const { return mPrecision; }
    void SetPrecision(double precision) { mPrecision = precision; }
    // Synchronise the keys of the curves (array and node forms) after the reduction.
    void SetKeySync(bool sync) { mKeySync = sync; }
    bool GetKeySync() const { return mKeySync; }

    bool Apply(KFCurve& curve) override;
    bool Apply(KFCurve** curves, int count) override;
    bool Apply(KFCurveNode& node, bool recursive) override;

private:
    // Fits `fitted` (keyless, with the source's settings) to the source's keys over [t0, t1].
    bool Reduce(KFCurve& source, KFCurve& fitted, KTime t0, KTime t1);

    double mPrecision;
    bool mKeySync;
};
