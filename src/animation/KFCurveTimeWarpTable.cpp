#include "animation/KFCurveTimeWarpTable.h"

#include <cstdint>
#include <vector>

#include "animation/KFCurveNode.h"

namespace {

uintptr_t KeyOf(int id) {
    return static_cast<uintptr_t>(static_cast<intptr_t>(id));
}

}  // namespace

KFCurveTimeWarpTable::~KFCurveTimeWarpTable() {
    Clear();
}

bool KFCurveTimeWarpTable::Add(int id, KFCurveNode* node) {
    if (!node) return false;
    if (mMap.Add(KeyOf(id), reinterpret_cast<uintptr_t>(node)) != 0) return false;
    KFCurveNode::AddShare(node);
    return true;
}

void KFCurveTimeWarpTable::Clear() {
    std::vector<KFCurveNode*> nodes;
    for (int i = 0; i < mMap.GetCount(); ++i)
        nodes.push_back(reinterpret_cast<KFCurveNode*>(mMap.GetAt(i)));
    mMap.Clear();
    for (KFCurveNode* node : nodes) KFCurveNode::ReleaseShare(node);
}

KFCurveNode* KFCurveTimeWarpTable::Find(int id) const {
    if (mMap.GetCount() == 0) return nullptr;
    return reinterpret_cast<KFCurveNode*>(mMap.Find(KeyOf(id)));
}

bool KFCurveTimeWarpTable::FindId(const KFCurveNode* node, int& id) const {
    if (!node) return false;
    for (int i = 0; i < mMap.GetCount(); ++i) {
        uintptr_t key = 0;
        if (mMap.GetAt(i, &key) == reinterpret_cast<uintptr_t>(node)) {
            id = static_cast<int>(static_cast<intptr_t>(key));
            return true;
        }
    }
    return false;
}
