#pragma once
// Repairs Euler rotation curves whose consecutive keys jump by a large angle
// (typically near gimbal lock): each key becomes the equivalent closest to the
// previous one, and where two keys still differ by much, keys taken from the
// shortest rotation between the two orientations are inserted.

#include "animation/KFCurveFilter.h"

// out = a - b over n doubles.
void KVectorSubtract(double* out, const double* a, const double* b, int n);
// Sum of the squares of n doubles.
double KVectorSquaredLength(const double* v, int n);

class KFCurveFilterGimbleKiller : public KFCurveFilter {
public:
    KFCurveFilterGimbleKiller();

    void Reset() override;

    // Synchronise the three curves' keys before the repair.
    bool GetKeySync() const { return mKeySync; }
    void SetKeySync(bool sync) { mKeySync = sync; }

    // Needs a rotation node: always refused.
    bool Apply(KFCurve& curve) override;
    // Exactly three curves, X, Y, Z.
    bool Apply(KFCurve** curves, int count) override;
    bool Apply(KFCurveNode& node, bool recursive) override;

private:
    bool mKeySync;
};
