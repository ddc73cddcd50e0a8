#pragma once
// The property set of a node: its transform properties (54, in file order),
// the two object lists of its look-at and up-vector targets, and the two pivot
// sets the transform evaluation reads. Children, parents and targets of nodes
// are connections between such sets.

#include <cstdint>
#include <memory>

#include "foundation/KMatrix.h"
#include "foundation/KVector4.h"
#include "scene/KQovPropertyHandler.h"

class KPropertyObjectList;
class KQovNode;

// One pivot set; set 0 mirrors the pivot properties of the set.
struct KQovPivotSet {
    KVector4 rotationOffset;
    KVector4 rotationPivot;
    KVector4 rotationPivotUpdateOffset;
    KVector4 preRotation;  // degrees
    KVector4 postRotation;
    KVector4 scalingOffset;
    KVector4 scalingPivot;
    KVector4 scalingPivotUpdateOffset;
    KVector4 geometricTranslation;
    KVector4 geometricRotation;
    KVector4 geometricScaling;
    int32_t rotationOrder = 0;
    uint8_t rotationSpaceForLimitOnly = 0;
    KMatrix globalMatrix;
    uint8_t globalMatrixValid = 0;
    // This matrix and every one below it (through nodes with the set) are stale: an
    // invalidation can stop here. Cleared up the tree when one of them is computed or a child
    // joins; a reset leaves it, as a reset matrix is stale anyway.
    uint8_t subtreeStale = 0;
    int32_t pivotState = 1;  // 0: the set's pivots are in use

    KQovPivotSet() { Reset(); }
    // Neutral vectors, order 0, limit-only byte 0, the matrix not valid; the
    // update offsets are neutral too, the pivot state becomes 1.
    void Reset();
};

class KQovNodeProperties : public KQovPropertyHandler {
    KQOV_CLASS(KQovNodeProperties)
public:
    // Rows of the table, in creation (and file) order.
    enum : int {
        eQuaternionInterpolate,
        eRotationOffset,
        eRotationPivot,
        eRotationPivotUpdateOffset,
        eScalingOffset,
        eScalingPivot,
        eScalingPivotUpdateOffset,
        eTranslationActive,
        eTranslationMin,
        eTranslationMax,
        eTranslationMinX,
        eTranslationMinY,
        eTranslationMinZ,
        eTranslationMaxX,
        eTranslationMaxY,
        eTranslationMaxZ,
        eRotationOrder,
        eRotationSpaceForLimitOnly,
        eRotationStiffnessX,
        eRotationStiffnessY,
        eRotationStiffnessZ,
        eAxisLen,
        ePreRotation,
        ePostRotation,
        eRotationActive,
        eRotationMin,
        eRotationMax,
        eRotationMinX,
        eRotationMinY,
        eRotationMinZ,
        eRotationMaxX,
        eRotationMaxY,
        eRotationMaxZ,
        eInheritType,
        eScalingActive,
        eScalingMin,
        eScalingMax,
        eScalingMinX,
        eScalingMinY,
        eScalingMinZ,
        eScalingMaxX,
        eScalingMaxY,
        eScalingMaxZ,
        eGeometricTranslation,
        eGeometricRotation,
        eGeometricScaling,
        eLookAtProperty,
        eUpVectorProperty,
        eShow,
        eNegativePercentShapeSupport,
        eLclTranslation,
        eLclRotation,
        eLclScaling,
        eVisibility,
        eRowCount
    };

    explicit KQovNodeProperties(KQovNode* node);
    ~KQovNodeProperties() override;

    KQovNode* GetNode() const { return mNode; }
    // A node linked under this one joins this node's container; one unlinked
    // leaves its own. Only the set's own connections count (not those of
    // its object-list properties).
    bool Notify(const KPlugChain* chain, int code, KPlug* sender, int index, KPlug* other, int type,
                void* extra) override;
    static const KQovPropertyDescriptor* GetDescriptors();

    // Null for an index other than 0 and 1. Set 1 is made by the first call that asks for it.
    KQovPivotSet* GetPivotSet(int index);
    const KQovPivotSet* GetPivotSet(int index) const;
    // Resets a set without making set 1 (one never made is in its reset state).
    void ResetStoredPivotSet(int index);
    // The set if it was made; null otherwise.
    KQovPivotSet* FindPivotSet(int index) const;

    // Values of the embedded rows, read and written without events.
    bool GetBool(int row) const;
    void SetBool(int row, bool value);
    double GetNumber(int row) const;
    void SetNumber(int row, double value);
    // x, y, z and 1.0.
    KVector4 GetVector(int row) const;
    void SetVector(int row, const KVector4& value);

    KPropertyObjectList* GetLookAtProperty() const;
    KPropertyObjectList* GetUpVectorProperty() const;

    // Labels of "RotationOrder" and "InheritType"; null past their ends.
    static const char* GetRotationOrderName(int value);
    static const char* GetInheritTypeName(int value);

private:
    KQovNode* mNode;
    KQovPivotSet mPivotSet0;
    // Few nodes use the second set: it is made when asked for.
    mutable std::unique_ptr<KQovPivotSet> mPivotSet1;
};
