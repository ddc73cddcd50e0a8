#pragma once
// Ids of the time-warp nodes of a take while it is written or read. Each entry holds one
// share of its node and releases it when the entry goes.

#include "foundation/KPointerMap.h"

class KFCurveNode;

class KFCurveTimeWarpTable {
public:
    KFCurveTimeWarpTable() = default;
    ~KFCurveTimeWarpTable();
    KFCurveTimeWarpTable(const KFCurveTimeWarpTable&) = delete;
    KFCurveTimeWarpTable& operator=(const KFCurveTimeWarpTable&) = delete;

    // Adds {id, node} and takes a share of the node; false for a null node.
    bool Add(int id, KFCurveNode* node);
    void Clear();
    int GetCount() const { return mMap.GetCount(); }

    // The node of the first entry of that id in key order; null when none.
    KFCurveNode* Find(int id) const;
    // The id of the first entry, in key order, that holds the node.
    bool FindId(const KFCurveNode* node, int& id) const;

private:
    KPointerMap mMap;
};
