#pragma once
// Channel-tree builders shared by the node filter tests.

#include <array>
#include <memory>
#include <vector>

#include "FilterTestUtil.h"
#include "animation/KFCurveNode.h"

// One key of a rotation node: a frame and the X, Y, Z angles.
struct RotationKey {
    double mFrame;
    std::array<double, 3> mAngles;
};

inline KFCurveNode* AddAxis(KFCurveNode& parent, const char* name, KFCurve* curve) {
    KFCurveNode* axis = KFCurveNode::Create(name);
    if (curve) axis->SetCurve(curve, true);
    parent.Add(axis);
    return axis;
}

inline std::unique_ptr<KFCurveNode> MakeRotationNode(
    const std::vector<RotationKey>& keys, uint32_t interpolation = KFCURVE_INTERPOLATION_LINEAR) {
    std::unique_ptr<KFCurveNode> node(
        KFCurveNode::Create("R", nullptr, KFCURVENODE_LAYER_EULER_ROTATION));
    const char* names[3] = {"X", "Y", "Z"};
    for (int a = 0; a < 3; ++a) {
        KFCurve* curve = KFCurve::Create();
        curve->PrepareKeys(static_cast<int>(keys.size()));
        for (size_t i = 0; i < keys.size(); ++i) {
            curve->KeySet(static_cast<int>(i), Frames(keys[i].mFrame),
                          static_cast<float>(keys[i].mAngles[static_cast<size_t>(a)]),
                          interpolation);
        }
        curve->CommitKeys(static_cast<int>(keys.size()));
        AddAxis(*node, names[a], curve);
    }
    return node;
}

inline KFCurve* AxisCurve(KFCurveNode& node, int axis) {
    return node.Get(axis)->GetCurve();
}
