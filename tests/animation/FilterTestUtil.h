#pragma once
// Curve builders shared by the filter tests.

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <utility>

#include "animation/KFCurve.h"
#include "foundation/KTime.h"

inline KTime Frames(double frames) {
    KTime time;
    time.SetSecondDouble(frames / 30.0);
    KTime whole;
    whole.SetTime(0, 0, 0, static_cast<int64_t>(frames));
    // Whole frames use the exact tick count of the frame.
    return frames == static_cast<double>(static_cast<int64_t>(frames)) ? whole : time;
}

inline std::unique_ptr<KFCurve> MakeCurve(std::initializer_list<std::pair<double, float>> keys,
                                          uint32_t interpolation = KFCURVE_INTERPOLATION_LINEAR,
                                          uint32_t tangent = KFCURVE_TANGENT_AUTO) {
    std::unique_ptr<KFCurve> curve(KFCurve::Create());
    curve->PrepareKeys(static_cast<int>(keys.size()));
    int i = 0;
    for (const auto& key : keys) {
        curve->KeySet(i++, Frames(key.first), key.second, interpolation, tangent);
    }
    curve->CommitKeys(static_cast<int>(keys.size()));
    return curve;
}

// Deterministic pseudo-random numbers below a bound, for randomised cross-checks.
class TestRandom {
public:
    explicit TestRandom(uint32_t seed) : mState(seed) {}
    uint32_t operator()(uint32_t bound) {
        mState = mState * 1664525u + 1013904223u;
        return (mState >> 8) % bound;
    }

private:
    uint32_t mState;
};
