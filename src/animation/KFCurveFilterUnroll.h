#pragma once
// Removes the jumps of Euler rotation curves: every key triple of a rotation
// node's X, Y, Z curves becomes the equivalent triple closest to the previous
// key's, so that wrapped angles continue past +-180 degrees.

#include "animation/KFCurveFilter.h"

class KFCurveFilterUnroll : public KFCurveFilter {
public:
    KFCurveFilterUnroll();

    // Precision and path option from the curve processing settings.
    void Reset() override;

    double GetPrecision() const { return mPrecision; }
    void SetPrecision(double precision) { mPrecision = precision; }
    // With the path option, a key whose rotation stays within the precision of the reference
    // (in the path measure) does not become the next reference.
    bool GetPath() const { return mPath; }
    void SetPath(bool path) { mPath = path; }

    // Only rotation nodes can be unrolled: always refused.
    bool Apply(KFCurve& curve) override;
    // Exactly three curves, X, Y, Z.
    bool Apply(KFCurve** curves, int count) override;
    bool Apply(KFCurveNode& node, bool recursive) override;

    // Squared angle of the relative rotation over the squared Euler distance of two
    // X, Y, Z triples; 100 for (nearly) equal triples.
    static double PathMeasure(const double a[3], const double b[3]);

private:
    bool RefuseNode();
    bool Unroll(KFCurveNode& node);

    double mPrecision;
    bool mPath;
};
