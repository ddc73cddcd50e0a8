#pragma once
// Helpers shared by the curve tests.

#include <cmath>
#include <cstdint>

#include "animation/KFCurve.h"

inline KTime Sec(double seconds) {
    return KTime(
        static_cast<int64_t>(std::llround(seconds * static_cast<double>(KTime::kOneSecond))));
}

// Adds a key with every field given; returns its index.
inline int AddKey(KFCurve& curve, double seconds, float value,
                  uint32_t interpolation = KFCURVE_INTERPOLATION_LINEAR,
                  uint32_t mode = KFCURVE_TANGENT_USER, float d0 = 0.0f, float d1 = 0.0f) {
    KFCurveKey key;
    key.Set(Sec(seconds), value, interpolation, mode, d0, d1, KFCURVE_WEIGHTED_NONE,
            KFCURVE_WEIGHT_DEFAULT, KFCURVE_WEIGHT_DEFAULT, 0.0f, 0.0f);
    return curve.KeyAdd(Sec(seconds), key);
}
