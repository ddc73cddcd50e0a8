#pragma once
// Base of the curve filters: operations that rewrite the keys of one curve, an
// array of curves or a curve-node tree, limited to a time span. Filters are
// short-lived: construct, set the span and options, apply, destroy.

#include "foundation/KError.h"
#include "foundation/KTime.h"

class KFCurve;
class KFCurveNode;

class KFCurveFilter {
public:
    KFCurveFilter(const char* name, const char* const* statusTable, int statusCount);
    virtual ~KFCurveFilter() = default;
    KFCurveFilter(const KFCurveFilter&) = delete;
    KFCurveFilter& operator=(const KFCurveFilter&) = delete;

    const char* GetName() const { return mName; }

    // Does the curve (array, tree) need the filter; the base says yes to every curve.
    virtual bool NeedApply(KFCurve& curve);
    virtual bool NeedApply(KFCurve** curves, int count);
    virtual bool NeedApply(KFCurveNode& node, bool recursive);

    virtual bool Apply(KFCurve& curve) = 0;
    virtual bool Apply(KFCurve** curves, int count) = 0;
    virtual bool Apply(KFCurveNode& node, bool recursive) = 0;

    // Back to the defaults: the infinite span (and every option in derived filters).
    virtual void Reset();

    const KTime& GetStart() const { return mStart; }
    void SetStart(const KTime& start) { mStart = start; }
    const KTime& GetStop() const { return mStop; }
    void SetStop(const KTime& stop) { mStop = stop; }

    // One key before the key at or before the start (never below 0); -1 without keys.
    int GetStartKeyIndex(KFCurve& curve) const;
    // One past the last key at or before the stop; -1 without keys.
    int GetStopKeyIndex(KFCurve& curve) const;

    KError& GetError() { return mError; }
    const KError& GetError() const { return mError; }

protected:
    // Apply(KFCurve&) on every curve in order; every member is visited.
    bool ApplyCurveArray(KFCurve** curves, int count);
    // Children first (when recursive), then the node's own curve.
    bool ApplyCurveNode(KFCurveNode& node, bool recursive);
    // Apply(node, true) on a temporary rotation node "R" whose children "X", "Y", "Z"
    // borrow the three curves; the curves are handed back untouched otherwise.
    bool ApplyRotationCurves(KFCurve* x, KFCurve* y, KFCurve* z);

    const char* mName;
    KTime mStart;
    KTime mStop;
    KError mError;
};
