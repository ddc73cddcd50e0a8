#pragma once
// Helpers shared by the channel-tree tests.

#include <cmath>
#include <cstdint>
#include <initializer_list>

#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"

inline KTime Seconds(double seconds) {
    return KTime(int64_t(std::llround(seconds * double(KTime::kOneSecond))));
}

// A curve of linear keys at times 0, 1, 2 ... seconds.
inline KFCurve* LinearCurve(std::initializer_list<float> values) {
    KFCurve* curve = new KFCurve;
    int i = 0;
    for (float v : values) {
        KFCurveKey key;
        key.Set(Seconds(i), v, KFCURVE_INTERPOLATION_LINEAR, 0, 0.0f, 0.0f, KFCURVE_WEIGHTED_NONE,
                KFCURVE_WEIGHT_DEFAULT, KFCURVE_WEIGHT_DEFAULT, 0.0f, 0.0f);
        curve->KeyAdd(Seconds(i++), key);
    }
    return curve;
}

// A curve without keys whose default value is v.
inline KFCurve* ConstantCurve(float v) {
    KFCurve* curve = new KFCurve;
    curve->SetValue(v);
    return curve;
}

// Appends a child with a curve and returns it.
inline KFCurveNode* AddLeaf(KFCurveNode* parent, const char* name, KFCurve* curve) {
    KFCurveNode* child = KFCurveNode::Create(name);
    child->SetCurve(curve);
    parent->Add(child);
    return child;
}

// A node with X, Y, Z children holding constant curves.
inline KFCurveNode* Triple(const char* name, int layerType, float x, float y, float z) {
    KFCurveNode* node = KFCurveNode::Create(name);
    AddLeaf(node, "X", ConstantCurve(x));
    AddLeaf(node, "Y", ConstantCurve(y));
    AddLeaf(node, "Z", ConstantCurve(z));
    node->SetLayerType(layerType);
    return node;
}
