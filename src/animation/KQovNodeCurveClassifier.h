#pragma once
// Sorts the nodes of a tree by their scaling channels: scaling other than 1
// (skeletons only), negative scaling, and scaling that differs between axes,
// from the "Default" take and from the current take.

#include <vector>

#include "foundation/KTime.h"
#include "scene/KQovNodeVisitor.h"

class KFCurve;
class KFCurveNode;

class KQovNodeCurveClassifier : public KQovNodeVisitor {
public:
    using NodeList = std::vector<KQovNode*>;
    // AnalyseValues / AnalyseCurves results.
    enum : int { eFine = 0, eNonUnit = 1, eNegative = 2, eNonUniform = 3 };

    KQovNodeCurveClassifier();

    // Empties the six lists and the accepted nodes.
    void Clear() override;
    void Reset() { Clear(); }
    // Classifies the node with its "Default" take and, when another take is
    // current, with that one too; the unit test applies to skeletons only.
    bool Accept(KQovNode* node) override;

    void SetTestUnit(bool on) { mTestUnit = on; }
    void SetTestNegative(bool on) { mTestNegative = on; }
    void SetTestVariation(bool on) { mTestVariation = on; }
    void SetTolerance(double tolerance) { mTolerance = tolerance; }
    const NodeList& GetNonUnitDefault() const { return mNonUnitDefault; }
    const NodeList& GetNonUnitCurrent() const { return mNonUnitCurrent; }
    const NodeList& GetNegativeDefault() const { return mNegativeDefault; }
    const NodeList& GetNegativeCurrent() const { return mNegativeCurrent; }
    const NodeList& GetNonUniformDefault() const { return mNonUniformDefault; }
    const NodeList& GetNonUniformCurrent() const { return mNonUniformCurrent; }

    // The X, Y, Z curves of the "S" channel below curveNode (null when missing).
    static void FindScalingCurves(KFCurveNode* curveNode, KFCurve* curves[3]);
    // The result of the first test a value fails, in value order.
    int AnalyseValues(const double* values, int count) const;
    // The default values, then samples over the keyed span one period apart.
    int AnalyseCurves(KFCurve* const curves[3]) const;
    bool Classify(KQovNode* node, KFCurveNode* curveNode, NodeList& nonUnit, NodeList& negative,
                  NodeList& nonUniform);

    // More samples than this spread over the span instead (a key at infinity
    // would otherwise take ages).
    static constexpr int64_t kMaxSamples = int64_t(1) << 18;

private:
    KTime mPeriod;
    bool mTestUnit = true;
    NodeList mNonUnitDefault, mNonUnitCurrent;
    bool mTestNegative = true;
    NodeList mNegativeDefault, mNegativeCurrent;
    bool mTestVariation = true;
    NodeList mNonUniformDefault, mNonUniformCurrent;
    double mTolerance = 2.220446049250313e-16;
};
