#pragma once
// Helpers shared by the channel-tree tests.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"
#include "foundation/KMatrix.h"
#include "foundation/KRotationOrder.h"

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

// The rotation of three Euler angles in degrees, in the given order.
inline KMatrix EulerMatrix(int order, const double* v) {
    KMatrix m;
    KRotationOrder(order).EulerToMatrix(m, KVector4(v[0], v[1], v[2]));
    return m;
}

// Two angle triples that turn alike, whatever their values.
inline void ExpectSameRotation(int order, const std::vector<double>& a,
                               const std::vector<double>& b, double tolerance = 1e-6) {
    ASSERT_GE(a.size(), 3u);
    ASSERT_GE(b.size(), 3u);
    EXPECT_EQ(
        KMatrixCompare3x3(EulerMatrix(order, a.data()), EulerMatrix(order, b.data()), tolerance), 0)
        << a[0] << "," << a[1] << "," << a[2] << " vs " << b[0] << "," << b[1] << "," << b[2];
}
