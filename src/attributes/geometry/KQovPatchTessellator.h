#pragma once
// Samples a patch surface (a grid of control points joined by a cubic-matrix basis in each
// direction) into a regular grid of output points with one normal each, and reports how
// strongly each control point feeds each output point. The tessellator owns no geometry: the
// caller hands it the control points and the output arrays and reads the results from them.
//
// Control point (i, j), i along U and j along V, is item i + j × U count. Output point (u, v)
// is item u + v × U vertex count; x, y and z are written, w is left as the caller set it.

#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/KError.h"
#include "foundation/KVector4.h"

class KQovWeightTable;

class KQovPatchTessellator {
public:
    enum EPatchType { eBezier = 0, eBezierQuadric = 1, eCardinal = 2, eBSpline = 3, eLinear = 4 };
    enum EError {
        eErrorMissingArray,
        eErrorNoVertices,
        eErrorTooLarge,
        eErrorOrder,
        eErrorNoSpan,
        eErrorCount
    };
    // Grids above this many output points are refused: the work arrays grow with them.
    static constexpr int64_t kMaxVertices = int64_t(1) << 22;

    KQovPatchTessellator();
    virtual ~KQovPatchTessellator();
    KQovPatchTessellator(const KQovPatchTessellator&) = delete;
    KQovPatchTessellator& operator=(const KQovPatchTessellator&) = delete;

    // Fills the output arrays (sized to U vertex count × V vertex count by the caller) and,
    // with a table, links every control point to the output points it feeds. False, with the
    // reason in the error and nothing written, when the input cannot be tessellated.
    bool Tessellate(KQovWeightTable* influences);

    // 1 wraps the direction around; any other value leaves it open.
    void SetUClosed(int closed) { SetClosed(mU, closed); }
    void SetVClosed(int closed) { SetClosed(mV, closed); }
    // Samples per control-point interval; below 1 acts as 1. Returns the step kept.
    int SetUStep(int step) { return SetStep(mU, step); }
    int SetVStep(int step) { return SetStep(mV, step); }

    bool IsUStartCollapsed() { return EdgeFlags(mU).startCollapsed; }
    bool IsUEndCollapsed() { return EdgeFlags(mU).endCollapsed; }
    bool IsVStartCollapsed() { return EdgeFlags(mV).startCollapsed; }
    bool IsVEndCollapsed() { return EdgeFlags(mV).endCollapsed; }

    void SetOutputPoints(KVector4* points) { mOutputPoints = points; }
    void SetOutputNormals(KVector4* normals) { mOutputNormals = normals; }
    // 0 when the direction yields no vertex (too few control points) or the grid is too large.
    int GetUVertexCount();
    int GetVVertexCount();

    // The Cardinal basis with tension t (1 gives the "Cardinal" type's basis); returns 1.
    int SetUCardinalTension(double tension) { return SetCardinalTension(mU, tension); }
    int SetVCardinalTension(double tension) { return SetCardinalTension(mV, tension); }

    // The caller's grid; negative counts count as 0. Returns 0.
    int SetControlPoints(const KVector4* points, int uCount, int vCount);
    // Extra inputs of derived tessellators; nothing here. Returns 0.
    virtual int SetParameter(int kind, void* value);

    // Coefficients of u³, u², u and 1 for each of the four control points of a segment.
    void SetUBasisMatrix(const double matrix[16]) { SetBasisMatrix(mU, matrix); }
    void SetVBasisMatrix(const double matrix[16]) { SetBasisMatrix(mV, matrix); }
    // Control points one segment spans.
    void SetUSegmentSize(int points) { SetSegmentSize(mU, points); }
    void SetVSegmentSize(int points) { SetSegmentSize(mV, points); }
    // Control points from the start of one segment to the next.
    void SetUStride(int stride) { SetStride(mU, stride); }
    void SetVStride(int stride) { SetStride(mV, stride); }
    // Basis, segment size and stride of a patch type, and step 4. False (nothing changed) for
    // a type outside 0..4.
    bool SetUPatchType(int type) { return SetPatchType(mU, type); }
    bool SetVPatchType(int type) { return SetPatchType(mV, type); }

    void DetectCollapsedEdges();

    KError& GetError() { return mError; }

protected:
    // One output column (or row): the four control points it reads, wrapped into the grid,
    // and their basis values and derivatives.
    struct Sample {
        int32_t point[4];
        double value[4];
        double slope[4];
    };
    struct Direction {
        int closed = 0;
        int pointsPerSegment = 4;
        int step = 4;
        int stride = 1;
        int64_t vertexCount = -1;  // -1: not computed
        int count = 0;
        double tension = 0.0;
        double basis[16] = {};
        double slopeBasis[12] = {};
        bool startCollapsed = false;
        bool endCollapsed = false;
        std::vector<Sample> samples;
        // The NURBS form's knots and the spans they give.
        const double* knots = nullptr;
        int spanCount = 0;
        std::vector<int32_t> spanAdvances;
    };

    // Vertices along one direction, before the grid-size limit; 0 when it yields none.
    virtual int64_t CountVertices(const Direction& d) const;
    // The reason the surface cannot be tessellated, or -1.
    virtual int CheckInput() const;
    virtual void ComputeBasisSamples(Direction& d);
    virtual void ComputeWeightSums() {}
    // Walks the output grid, storing points, tangents and normals.
    void Evaluate();
    // Work done once before the points of a grid are evaluated.
    virtual void PrepareEvaluation() {}
    // Position and the two tangents of one output point.
    virtual void EvaluatePoint(const Sample& u, const Sample& v, int64_t index, double position[3],
                               double uTangent[3], double vTangent[3]) const;
    // Per-control-point factors of the influence weights; none here.
    virtual const double* GetInfluenceWeights() const { return nullptr; }
    void ComputeInfluences(KQovWeightTable& table);

    // Σ basis product × point over the 16 control points of an output point, then the same with
    // the U and with the V derivative: 9 doubles. Points are `itemSize` doubles apart.
    void SumProducts(const double* points, int itemSize, const Sample& u, const Sample& v,
                     double out[9]) const;

    // The 16 control points of an output point and their weights, each times the control
    // point's own weight when `pointWeights` is given.
    static void GatherInfluence(const Sample& u, const Sample& v, int uCount,
                                const double* pointWeights, double weights[16],
                                int32_t indices[16]);
    // Adds the non-zero entries; a control point met twice (through wrapping) is added twice.
    static void AddInfluences(KQovWeightTable& table, const double weights[16],
                              const int32_t indices[16], int outputIndex);

    void FixCollapsedEdgeNormals();
    void StoreNormal(int64_t index, const KVector4& vTangent, const KVector4& uTangent);
    void ResetVertexCounts();
    void UpdateVertexCounts();
    // A setting changed: the vertex counts and the tables are to be recomputed.
    void Changed();
    void SetClosed(Direction& d, int closed);
    int SetStep(Direction& d, int step);
    void SetBasisMatrix(Direction& d, const double matrix[16]);
    void SetSegmentSize(Direction& d, int points);
    void SetStride(Direction& d, int stride);
    bool SetPatchType(Direction& d, int type);
    int SetCardinalTension(Direction& d, double tension);
    // The direction, after the collapsed-edge flags are brought up to date.
    const Direction& EdgeFlags(const Direction& d);

    Direction mU, mV;
    KVector4* mOutputPoints = nullptr;
    KVector4* mOutputNormals = nullptr;
    const KVector4* mControlPoints = nullptr;
    std::vector<KVector4> mUTangents;
    std::vector<KVector4> mVTangents;
    bool mBasisDirty = true;
    bool mEdgesDirty = true;
    bool mTooLarge = false;
    KError mError;
};

// A tessellator with the given patch types; the caller owns it.
std::unique_ptr<KQovPatchTessellator> CreatePatchTessellator(int uType, int vType);
