#pragma once
// Samples a rational B-spline surface (any knot vectors, a weight per control point, order 1
// to 4 in each direction) into the patch tessellator's grid of output points and normals.
// Basis functions come from the Cox-de Boor recursion; knot intervals of zero length are
// skipped; positions are divided by the weighted basis sum, tangents follow the quotient rule.
// Each direction reads count + order knots when open and count + 2 × order − 1 when closed.

#include "attributes/geometry/KQovPatchTessellator.h"

class KQovNurbTessellator : public KQovPatchTessellator {
public:
    enum EParameter {
        eWeights = 0,  // one double per control point
        eUKnots = 1,
        eVKnots = 2,
        eSpareA = 3,  // stored, never read
        eSpareB = 4,
        eWorkArray = 5,  // 3 doubles per control point; the tessellator's own when not given
    };
    static constexpr double kEpsilon = 1e-8;

    KQovNurbTessellator(int uOrder, int vOrder);
    ~KQovNurbTessellator() override;

    // Every kind resets the vertex counts. For the spare kinds the pointer value itself is kept.
    int SetParameter(int kind, void* value) override;

protected:
    int64_t CountVertices(const Direction& d) const override;
    int CheckInput() const override;
    void ComputeBasisSamples(Direction& d) override;
    void ComputeWeightSums() override;
    void PrepareEvaluation() override;
    void EvaluatePoint(const Sample& u, const Sample& v, int64_t index, double position[3],
                       double uTangent[3], double vTangent[3]) const override;
    // Influence weights are basis product × control-point weight, not divided by the sum.
    const double* GetInfluenceWeights() const override { return mWeights; }

private:
    static int KnotCount(const Direction& d);
    static bool HasValidOrder(const Direction& d);

    const double* mWeights = nullptr;
    double* mHomogeneous = nullptr;  // the caller's, or mOwnHomogeneous
    const double* mHomogeneousInUse = nullptr;
    std::vector<double> mOwnHomogeneous;
    std::vector<double> mWeightSums;  // W, dW/du, dW/dv per output point
    uint32_t mSpare[2] = {0, 0};
};

// N(i, k): the B-spline basis function of order k at t, and its derivative.
double NurbBasis(double t, int i, int k, const double* knots);
double NurbBasisDerivative(double t, int i, int k, const double* knots);
// Knot intervals of length above the tolerance among those a surface of this order spans.
int CountKnotSpans(const double* knots, int knotCount, int order);

// The caller owns the tessellator.
std::unique_ptr<KQovNurbTessellator> CreateNurbTessellator(int uOrder, int vOrder);
