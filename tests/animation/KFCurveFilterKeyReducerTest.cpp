#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "FilterTestUtil.h"
#include "animation/KFCurveFilterKeyReducer.h"

namespace {

// Deterministic noise in [-1, 1].
float Noise(uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return static_cast<float>(state >> 8) / static_cast<float>(1u << 23) - 1.0f;
}

std::unique_ptr<KFCurve> Sampled(int count, float (*f)(int, uint32_t&)) {
    std::unique_ptr<KFCurve> curve(KFCurve::Create());
    curve->PrepareKeys(count);
    uint32_t state = 1;
    for (int i = 0; i < count; ++i) {
        curve->KeySet(i, Frames(i), f(i, state), KFCURVE_INTERPOLATION_LINEAR);
    }
    curve->CommitKeys(count);
    return curve;
}

}  // namespace

TEST(KFCurveFilterKeyReducer, TwoKeysBecomeCubic) {
    KFCurveFilterKeyReducer filter;
    EXPECT_STREQ(filter.GetName(), "Bezier Fit/Key Reducer");
    auto curve = MakeCurve({{0, 1}, {10, 5}});
    EXPECT_TRUE(filter.Apply(*curve));
    ASSERT_EQ(curve->KeyGetCount(), 2);
    EXPECT_EQ(curve->KeyGetInterpolation(0), KFCURVE_INTERPOLATION_CUBIC);
    EXPECT_EQ(curve->KeyGetTangentMode(0), KFCURVE_TANGENT_USER);
    EXPECT_EQ(curve->KeyGetTangentMode(1), KFCURVE_TANGENT_AUTO);
    EXPECT_FLOAT_EQ(curve->KeyGetValue(0), 1.0f);
    EXPECT_FLOAT_EQ(curve->KeyGetValue(1), 5.0f);
    EXPECT_EQ(curve->KeyGetTime(1), Frames(10));
}

TEST(KFCurveFilterKeyReducer, KeysWithinPrecisionGo) {
    // A line sampled densely fits the two end keys.
    auto line = Sampled(50, [](int i, uint32_t&) { return 0.5f * static_cast<float>(i); });
    KFCurveFilterKeyReducer filter;
    EXPECT_TRUE(filter.Apply(*line));
    EXPECT_EQ(line->KeyGetCount(), 2);

    // Every source key stays within the precision of the result.
    auto wave = Sampled(400, [](int i, uint32_t&) { return 20.0f * std::sin(i * 0.05f); });
    auto reference = Sampled(400, [](int i, uint32_t&) { return 20.0f * std::sin(i * 0.05f); });
    filter.SetPrecision(0.1);
    EXPECT_TRUE(filter.Apply(*wave));
    EXPECT_LT(wave->KeyGetCount(), 100);
    EXPECT_GT(wave->KeyGetCount(), 2);
    for (int i = 0; i < 400; ++i) {
        EXPECT_LE(std::fabs(wave->Evaluate(Frames(i)) - reference->KeyGetValue(i)), 0.1 + 1e-5)
            << i;
    }
}

TEST(KFCurveFilterKeyReducer, ErrorEqualToPrecisionIsNotInserted) {
    // The error of the middle key against the fit of the two end keys.
    auto probe = MakeCurve({{0, 0}, {5, 2}, {10, 0}});
    KFCurveFilterKeyReducer loose;
    loose.SetPrecision(100.0);
    EXPECT_TRUE(loose.Apply(*probe));
    ASSERT_EQ(probe->KeyGetCount(), 2);
    const double error = std::fabs(probe->Evaluate(Frames(5)) - 2.0);
    ASSERT_GT(error, 0.5);

    auto curve = MakeCurve({{0, 0}, {5, 2}, {10, 0}});
    KFCurveFilterKeyReducer exact;
    exact.SetPrecision(error);
    EXPECT_TRUE(exact.Apply(*curve));
    EXPECT_EQ(curve->KeyGetCount(), 2);

    auto again = MakeCurve({{0, 0}, {5, 2}, {10, 0}});
    KFCurveFilterKeyReducer tight;
    tight.SetPrecision(error * 0.999);
    EXPECT_TRUE(tight.Apply(*again));
    ASSERT_EQ(again->KeyGetCount(), 3);
    // Different slopes on each side make a break key.
    EXPECT_EQ(again->KeyGetTangentMode(1), KFCURVE_TANGENT_BREAK);
    EXPECT_FLOAT_EQ(again->KeyGetValue(1), 2.0f);
}

TEST(KFCurveFilterKeyReducer, SpanKeepsOuterKeys) {
    auto curve = Sampled(21, [](int i, uint32_t&) { return static_cast<float>(i); });
    KFCurveFilterKeyReducer filter;
    filter.SetStart(Frames(5));
    filter.SetStop(Frames(15));
    EXPECT_TRUE(filter.Apply(*curve));
    // 0 .. 4 and 16 .. 20 survive around the two fitted keys at 5 and 15.
    ASSERT_EQ(curve->KeyGetCount(), 12);
    EXPECT_EQ(curve->KeyGetTime(5), Frames(5));
    EXPECT_EQ(curve->KeyGetTime(6), Frames(15));
    for (int i = 0; i <= 20; ++i) EXPECT_NEAR(curve->Evaluate(Frames(i)), i, 1e-3) << i;
}

TEST(KFCurveFilterKeyReducer, Refusals) {
    KFCurveFilterKeyReducer filter;
    auto one = MakeCurve({{0, 1}});
    EXPECT_FALSE(filter.Apply(*one));
    EXPECT_EQ(filter.GetError().GetErrorCode(), 1);
    EXPECT_STREQ(filter.GetError().GetErrorText(), "KeyReducer, No key were changed by filter.");

    auto curve = MakeCurve({{0, 1}, {10, 5}});
    filter.SetStart(Frames(20));
    EXPECT_FALSE(filter.Apply(*curve));
    EXPECT_STREQ(filter.GetError().GetErrorText(),
                 "KeyReducer, Invalid Time Span. No key were changed by filter.");
    EXPECT_EQ(curve->KeyGetInterpolation(0), KFCURVE_INTERPOLATION_LINEAR);

    // Keys near both ends of time: their distance does not fit in 64 bits, yet it is a span.
    std::unique_ptr<KFCurve> wide(KFCurve::Create());
    wide->PrepareKeys(3);
    wide->KeySet(0, KTime(KTime::kMinusInfinite + 1), 1.0f, KFCURVE_INTERPOLATION_LINEAR);
    wide->KeySet(1, KTIME_ZERO, 40.0f, KFCURVE_INTERPOLATION_LINEAR);
    wide->KeySet(2, KTime(KTime::kInfinite - 1), 1.0f, KFCURVE_INTERPOLATION_LINEAR);
    wide->CommitKeys(3);
    filter.Reset();
    EXPECT_TRUE(filter.Apply(*wide));
    ASSERT_EQ(wide->KeyGetCount(), 3);
    EXPECT_EQ(wide->KeyGetInterpolation(0), KFCURVE_INTERPOLATION_CUBIC);
    EXPECT_FLOAT_EQ(wide->KeyGetValue(1), 40.0f);
}

TEST(KFCurveFilterKeyReducer, KeySyncOptionSurvives) {
    auto a = MakeCurve({{0, 0}, {5, 3}, {10, 0}});
    auto b = MakeCurve({{0, 0}, {10, 10}});
    KFCurve* curves[] = {a.get(), b.get()};
    KFCurveFilterKeyReducer filter;
    filter.SetKeySync(true);
    EXPECT_TRUE(filter.Apply(*a));
    EXPECT_TRUE(filter.GetKeySync());
    EXPECT_TRUE(filter.Apply(curves, 2));
    EXPECT_TRUE(filter.GetKeySync());
    EXPECT_EQ(a->KeyGetCount(), b->KeyGetCount());
}

TEST(KFCurveFilterKeyReducer, LongNoisyCurveFits) {
    // Deep splits on long curves run on a work list, never on the call stack.
    auto noisy = Sampled(20000, [](int, uint32_t& s) { return 10.0f * Noise(s); });
    KFCurveFilterKeyReducer filter;
    filter.SetPrecision(0.5);
    EXPECT_TRUE(filter.Apply(*noisy));
    EXPECT_GT(noisy->KeyGetCount(), 1000);
    EXPECT_LE(noisy->KeyGetCount(), 20000);
}
