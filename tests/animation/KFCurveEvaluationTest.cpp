// Curve evaluation: search, extrapolation, interpolation, derivatives, auto conversions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "CurveTestUtil.h"

namespace {

KFCurve* LinearZeroToTen(KFCurve& curve) {
    AddKey(curve, 0.0, 0.0f);
    AddKey(curve, 1.0, 10.0f);
    return &curve;
}

TEST(KFCurveEvaluationTest, LinearAndConstantExtrapolation) {
    KFCurve curve;
    LinearZeroToTen(curve);
    EXPECT_EQ(curve.Evaluate(Sec(0.25)), 2.5);
    EXPECT_EQ(curve.Evaluate(Sec(-1)), 0.0);
    EXPECT_EQ(curve.Evaluate(Sec(2)), 10.0);
    EXPECT_EQ(curve.Evaluate(Sec(1)), 10.0);
    int hint = 1000;
    EXPECT_EQ(curve.Evaluate(Sec(0.5), &hint), 5.0);
    EXPECT_EQ(curve.KeyFind(Sec(0.5)), 0.5);
    EXPECT_EQ(curve.KeyFind(Sec(-3)), -0.5);
    EXPECT_EQ(curve.KeyFind(Sec(3)), 1.5);
    KFCurve empty;
    EXPECT_EQ(empty.KeyFind(Sec(3)), -1.0);
}

TEST(KFCurveEvaluationTest, RepetitionAndMirror) {
    KFCurve curve;
    LinearZeroToTen(curve);
    curve.SetPostExtrapolation(KFCURVE_EXTRAPOLATION_REPETITION);
    curve.SetPostExtrapolationCount(1);
    EXPECT_DOUBLE_EQ(curve.Evaluate(Sec(1.25)), 2.5);
    EXPECT_EQ(curve.Evaluate(Sec(2.0)), 10.0);
    EXPECT_EQ(curve.Evaluate(Sec(7.0)), 10.0);
    curve.SetPostExtrapolation(KFCURVE_EXTRAPOLATION_MIRROR_REPETITION);
    EXPECT_DOUBLE_EQ(curve.Evaluate(Sec(1.25)), 7.5);

    curve.SetPostExtrapolationCount(KFCURVE_REPETITION_UNLIMITED);
    EXPECT_DOUBLE_EQ(curve.Evaluate(Sec(2.25)), 2.5);     // second copy is not mirrored
    EXPECT_DOUBLE_EQ(curve.Evaluate(Sec(1000.75)), 7.5);  // odd copies are plain
    EXPECT_DOUBLE_EQ(curve.Evaluate(Sec(1001.75)), 2.5);

    curve.SetPreExtrapolation(KFCURVE_EXTRAPOLATION_REPETITION);
    curve.SetPreExtrapolationCount(KFCURVE_REPETITION_UNLIMITED);
    EXPECT_DOUBLE_EQ(curve.Evaluate(Sec(-0.25)), 7.5);
    curve.SetPreExtrapolation(KFCURVE_EXTRAPOLATION_MIRROR_REPETITION);
    EXPECT_DOUBLE_EQ(curve.Evaluate(Sec(-0.25)), 2.5);
    curve.SetPreExtrapolationCount(0);
    EXPECT_EQ(curve.Evaluate(Sec(-0.25)), 0.0);
}

TEST(KFCurveEvaluationTest, KeepSlope) {
    KFCurve curve;
    LinearZeroToTen(curve);
    curve.SetPostExtrapolation(KFCURVE_EXTRAPOLATION_KEEP_SLOPE);
    curve.SetPostExtrapolationCount(KFCURVE_REPETITION_UNLIMITED);
    EXPECT_DOUBLE_EQ(curve.Evaluate(Sec(3)), 30.0);
    curve.SetPostExtrapolationCount(1);
    EXPECT_DOUBLE_EQ(curve.Evaluate(Sec(3)), 20.0);
    // Counts above 2^31 stay unsigned.
    curve.SetPostExtrapolationCount(0x80000000u);
    EXPECT_DOUBLE_EQ(curve.Evaluate(Sec(3)), 30.0);
    curve.SetPreExtrapolation(KFCURVE_EXTRAPOLATION_KEEP_SLOPE);
    curve.SetPreExtrapolationCount(1);
    EXPECT_DOUBLE_EQ(curve.Evaluate(Sec(-3)), -10.0);
}

TEST(KFCurveEvaluationTest, AutoTangentsBlendNeighbourSlopes) {
    KFCurve curve;
    AddKey(curve, 0, 0.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO);
    AddKey(curve, 1, 1.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO);
    AddKey(curve, 2, 4.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO);
    EXPECT_FLOAT_EQ(curve.KeyGetLeftDerivative(1), 2.0f);
    EXPECT_FLOAT_EQ(curve.KeyGetRightDerivative(1), 2.0f);
    EXPECT_TRUE(curve.KeyIsFlat(1));
    curve.KeySetDataFloat(1, KFCURVE_DATA_0, 100.0f);  // right auto value of key 1
    curve.KeySetDataFloat(0, KFCURVE_DATA_1, 100.0f);  // left auto value of key 1
    EXPECT_FLOAT_EQ(curve.KeyGetLeftDerivative(1), 1.0f);
    EXPECT_FLOAT_EQ(curve.KeyGetRightDerivative(1), 3.0f);
    EXPECT_FLOAT_EQ(curve.KeyGetLeftAuto(1), 100.0f);
    EXPECT_FLOAT_EQ(curve.KeyGetRightAuto(1), 100.0f);
}

TEST(KFCurveEvaluationTest, TcbWithZeroParametersGivesTheMeanSlope) {
    KFCurve curve;
    curve.PrepareKeys(3);
    curve.KeySet(0, Sec(0), 0.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_USER);
    curve.KeySetTCB(1, Sec(1), 1.0f, 0.0f, 0.0f, 0.0f);
    curve.KeySet(2, Sec(3), 7.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_USER);
    curve.CommitKeys(3);
    EXPECT_FLOAT_EQ(curve.KeyGetLeftDerivative(1), 2.0f);  // (1 + 3) / 2
    EXPECT_FLOAT_EQ(curve.KeyGetRightDerivative(1), 2.0f);
}

TEST(KFCurveEvaluationTest, WeightsOfOneThirdMatchTheUnweightedCubic) {
    KFCurve plain, weighted;
    for (KFCurve* curve : {&plain, &weighted}) {
        AddKey(*curve, 0, 0.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_BREAK, 5.0f, -2.0f);
        AddKey(*curve, 2, 3.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_BREAK, 1.0f, 0.0f);
    }
    weighted.KeySetRightTangentWeight(0, 1.0f / 3.0f);
    weighted.KeySetLeftTangentWeight(1, 1.0f / 3.0f);
    ASSERT_TRUE(weighted.KeyIsRightTangentWeighted(0));
    ASSERT_TRUE(weighted.KeyIsLeftTangentWeighted(1));
    for (double t = 0; t <= 2.0; t += 0.05) {
        EXPECT_NEAR(weighted.Evaluate(Sec(t)), plain.Evaluate(Sec(t)), 1e-4) << t;
    }
}

TEST(KFCurveEvaluationTest, ExtremeWeightsStayInsideTheControlHull) {
    const float weights[] = {0.0f, 0.00010001f, 0.001f, 0.5f, 0.99f, 2.0f};
    for (float rw : weights) {
        for (float lw : weights) {
            KFCurve curve;
            AddKey(curve, 0, -1.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_BREAK, 30.0f,
                   -30.0f);
            AddKey(curve, 1, 2.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_BREAK);
            curve.KeySetRightTangentWeight(0, rw);
            curve.KeySetLeftTangentWeight(1, lw);
            const double p1 = -1.0 + 30.0 * curve.KeyGetRightTangentWeight(0);
            const double p2 = 2.0 + 30.0 * curve.KeyGetLeftTangentWeight(1);
            for (int i = 0; i <= 200; ++i) {
                const double value = curve.Evaluate(Sec(i / 200.0));
                ASSERT_TRUE(std::isfinite(value)) << rw << " " << lw << " " << i;
                EXPECT_GE(value, std::min({-1.0, p1, p2}) - 1e-4);
                EXPECT_LE(value, std::max({2.0, p1, p2}) + 1e-4);
            }
        }
    }
}

double Flat(float, const void*) {
    return 0.25;
}
double FlatAfterOneStep(float s, const void*) {
    return s < 0.5f ? s - 0.75 : 0.125;
}

TEST(KFCurveEvaluationTest, SecantStopsWhenTheSecantIsFlat) {
    EXPECT_EQ(KFCurveSolveSecant(&Flat, nullptr, 0.0f, 1.0f), 1.0f);
    const float s = KFCurveSolveSecant(&FlatAfterOneStep, nullptr, 0.0f, 1.0f);
    EXPECT_TRUE(std::isfinite(s));
    EXPECT_NEAR(KFCurveBezierTimeError(0.5f, 0.3f, 0.3f, 0.5), 0.0, 1e-7);
}

TEST(KFCurveEvaluationTest, InverseAutoConversion) {
    EXPECT_NEAR(KFCurveRightDerivativeToAuto(2, 1, 3), 0.0, 1e-9);
    EXPECT_NEAR(KFCurveRightDerivativeToAuto(3, 1, 3), 100.0, 1e-9);
    EXPECT_NEAR(KFCurveLeftDerivativeToAuto(1, 1, 3), 100.0, 1e-9);
    EXPECT_NEAR(KFCurveRightDerivativeToAuto(7, 1, 3), 500.0, 1e-9);  // end of the linear range
    EXPECT_NEAR(KFCurveRightDerivativeToAuto(9, 1, 3), 521.146, 1e-3);
    EXPECT_NEAR(KFCurveRightDerivativeToAuto(-5, 1, 3), -521.146, 1e-3);
    EXPECT_NEAR(KFCurveLeftDerivativeToAuto(-6, 1, 3), 526.165, 1e-3);
    EXPECT_NEAR(KFCurveLeftDerivativeToAuto(3, 2, 2), -515.81, 1e-2);
    EXPECT_EQ(KFCurveRightDerivativeToAuto(0.000001, 1, 3), KFCurveRightDerivativeToAuto(0, 1, 3));
    EXPECT_EQ(KFCurveLeftDerivativeToAuto(2, 2, 2), 0.0);
    // Just past the linear range the two roots touch; rounding must not make that NaN.
    for (double slope : {2.0, 0.3, 82.271609582235357, -46.012099168103902}) {
        const double above = std::nextafter(slope, 1e9), below = std::nextafter(slope, -1e9);
        const double right = KFCurveRightDerivativeToAuto(above, slope, slope);
        const double left = KFCurveLeftDerivativeToAuto(below, slope, slope);
        ASSERT_TRUE(std::isfinite(right) && std::isfinite(left)) << slope;
        EXPECT_NEAR(KFCurveAutoToRightDerivative(right, slope, slope), above, 1e-9) << slope;
        EXPECT_NEAR(KFCurveAutoToLeftDerivative(left, slope, slope), below, 1e-9) << slope;
    }
}

TEST(KFCurveEvaluationTest, InverseAutoConversionRoundTripsOverASweep) {
    const double slopes[][2] = {{1, 3}, {3, 1}, {2, 2}, {-4, 0.5}, {0, 0}, {10, -10}};
    for (const auto& s : slopes) {
        for (double d = -60.0; d <= 60.0; d += 0.37) {
            const double left = KFCurveLeftDerivativeToAuto(d, s[0], s[1]);
            const double right = KFCurveRightDerivativeToAuto(d, s[0], s[1]);
            ASSERT_TRUE(std::isfinite(left) && std::isfinite(right));
            EXPECT_NEAR(KFCurveAutoToLeftDerivative(left, s[0], s[1]), d, 1e-6 * (1 + std::fabs(d)))
                << s[0] << " " << s[1] << " " << d;
            EXPECT_NEAR(KFCurveAutoToRightDerivative(right, s[0], s[1]), d,
                        1e-6 * (1 + std::fabs(d)))
                << s[0] << " " << s[1] << " " << d;
        }
    }
}

TEST(KFCurveEvaluationTest, OneKeyAndZeroLengthSegmentsStayFinite) {
    KFCurve single;
    AddKey(single, 1, 4.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO);
    double left = -1, right = -1;
    single.KeyGetSlopes(0, left, right);
    EXPECT_EQ(left, 0.0);
    EXPECT_EQ(right, 0.0);
    single.SetPostExtrapolation(KFCURVE_EXTRAPOLATION_MIRROR_REPETITION);
    EXPECT_EQ(single.KeyFindExtrapolated(Sec(9)), 0.0);
    EXPECT_EQ(single.Evaluate(Sec(9)), 4.0);

    // Equal key times can only come from the raw setters.
    const uint32_t modes[] = {KFCURVE_TANGENT_AUTO, KFCURVE_TANGENT_TCB, KFCURVE_TANGENT_USER};
    for (uint32_t mode : modes) {
        for (uint32_t interpolation : {KFCURVE_INTERPOLATION_LINEAR, KFCURVE_INTERPOLATION_CUBIC}) {
            KFCurve curve;
            curve.PrepareKeys(4);
            curve.KeySet(0, Sec(0), 1.0f, interpolation, mode);
            curve.KeySet(1, Sec(1), 2.0f, interpolation, mode);
            curve.KeySet(2, Sec(1), 5.0f, interpolation, mode);
            curve.KeySet(3, Sec(1), 3.0f, interpolation, mode);
            curve.CommitKeys(4);
            curve.SetPostExtrapolation(KFCURVE_EXTRAPOLATION_REPETITION);
            curve.SetPostExtrapolationCount(KFCURVE_REPETITION_UNLIMITED);
            for (int i = 0; i < 4; ++i) {
                EXPECT_TRUE(std::isfinite(curve.KeyGetLeftDerivative(i)));
                EXPECT_TRUE(std::isfinite(curve.KeyGetRightDerivative(i)));
                EXPECT_TRUE(std::isfinite(curve.KeyGetLeftAuto(i)));
                EXPECT_TRUE(std::isfinite(curve.KeyGetRightAuto(i)));
            }
            for (double t = -1; t < 4; t += 0.1) {
                EXPECT_TRUE(std::isfinite(curve.Evaluate(Sec(t))));
                EXPECT_TRUE(std::isfinite(curve.EvaluateLeftDerivative(Sec(t))));
            }
            EXPECT_TRUE(std::isfinite(curve.EvaluateIndex(1.5)));
            EXPECT_TRUE(std::isfinite(curve.EvaluateIndex(2.5)));

            KFCurve flat;  // every key at one time: span 0
            flat.PrepareKeys(2);
            flat.KeySet(0, Sec(2), 1.0f, interpolation, mode);
            flat.KeySet(1, Sec(2), 6.0f, interpolation, mode);
            flat.CommitKeys(2);
            flat.SetPostExtrapolation(KFCURVE_EXTRAPOLATION_REPETITION);
            flat.SetPreExtrapolation(KFCURVE_EXTRAPOLATION_MIRROR_REPETITION);
            EXPECT_EQ(flat.KeyFindExtrapolated(Sec(3)), 1.0);  // the upper key
            EXPECT_EQ(flat.KeyFindExtrapolated(Sec(1)), 0.0);
            EXPECT_TRUE(std::isfinite(flat.Evaluate(Sec(3))));
        }
    }
}

TEST(KFCurveEvaluationTest, KeysAtInfiniteTimesEvaluateWithoutOverflow) {
    const int types[] = {KFCURVE_EXTRAPOLATION_NONE, KFCURVE_EXTRAPOLATION_CONSTANT,
                         KFCURVE_EXTRAPOLATION_REPETITION, KFCURVE_EXTRAPOLATION_MIRROR_REPETITION,
                         KFCURVE_EXTRAPOLATION_KEEP_SLOPE};
    const uint32_t counts[] = {0u, 1u, 7u, KFCURVE_REPETITION_UNLIMITED};
    const KTime probes[] = {KTime(std::numeric_limits<int64_t>::min()),
                            KTIME_MINUS_INFINITE,
                            KTime(-5),
                            KTime(0),
                            Sec(1e6),
                            KTime(std::numeric_limits<int64_t>::max() - 1),
                            KTIME_INFINITE};
    for (int variant = 0; variant < 3; ++variant) {
        KFCurve curve;
        if (variant != 1) AddKey(curve, 0, 0.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO);
        KFCurveKey key;
        key.Set(KTIME_MINUS_INFINITE, -3.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO, 0,
                0, 0, 0.3f, 0.3f, 0, 0);
        curve.KeyAdd(KTIME_MINUS_INFINITE, key);
        if (variant != 2) {
            key.Set(KTIME_INFINITE, 8.0f, KFCURVE_INTERPOLATION_LINEAR, 0, 0, 0, 0, 0.3f, 0.3f, 0,
                    0);
            curve.KeyAdd(KTIME_INFINITE, key);
        }
        for (int pre : types) {
            for (int post : types) {
                for (uint32_t count : counts) {
                    curve.SetPreExtrapolation(pre);
                    curve.SetPostExtrapolation(post);
                    curve.SetPreExtrapolationCount(count);
                    curve.SetPostExtrapolationCount(count);
                    for (KTime t : probes) {
                        EXPECT_FALSE(std::isnan(curve.Evaluate(t)));
                        EXPECT_FALSE(std::isnan(curve.EvaluateCached(t)));
                        EXPECT_FALSE(std::isnan(curve.EvaluateRightDerivative(t)));
                    }
                }
            }
        }
    }
}

// Independent reference: the Bernstein form of each segment, with the weighted time mapping
// solved by bisection.
struct RefKey {
    int64_t time;
    float value;
    uint32_t interpolation;
    float d0, d1;
    float rightWeight, nextLeftWeight;  // 0 = unweighted; a side without its bit has 1/3
};

double Bernstein(double p0, double p1, double p2, double p3, double u) {
    const double v = 1 - u;
    return v * v * v * p0 + 3 * v * v * u * p1 + 3 * v * u * u * p2 + u * u * u * p3;
}

double Reference(const std::vector<RefKey>& keys, int64_t t) {
    if (t <= keys.front().time) return keys.front().value;
    if (t >= keys.back().time) return keys.back().value;
    size_t b = 1;
    while (keys[b].time < t) ++b;
    const RefKey& ka = keys[b - 1];
    const RefKey& kb = keys[b];
    if (kb.time == t) return kb.value;
    const double u = double(t - ka.time) / double(kb.time - ka.time);
    if (ka.interpolation == KFCURVE_INTERPOLATION_CONSTANT) return ka.value;
    if (ka.interpolation == KFCURVE_INTERPOLATION_LINEAR)
        return ka.value + u * (kb.value - ka.value);
    const double length = double(kb.time - ka.time) / double(KTime::kOneSecond);
    if (ka.rightWeight == 0) {
        return Bernstein(ka.value, ka.value + ka.d0 * length / 3, kb.value - ka.d1 * length / 3,
                         kb.value, u);
    }
    const double rw = ka.rightWeight, lw = ka.nextLeftWeight;
    double lo = 0, hi = 1;
    for (int i = 0; i < 60; ++i) {
        const double mid = (lo + hi) / 2;
        (Bernstein(0, rw, 1 - lw, 1, mid) < u ? lo : hi) = mid;
    }
    return Bernstein(ka.value, ka.value + ka.d0 * length * rw, kb.value - ka.d1 * length * lw,
                     kb.value, lo);
}

TEST(KFCurveEvaluationTest, RandomCurvesMatchTheBernsteinReference) {
    std::mt19937 random(1234);
    std::uniform_real_distribution<float> value(-50.0f, 50.0f);
    std::uniform_real_distribution<float> slope(-40.0f, 40.0f);
    std::uniform_real_distribution<float> weight(0.05f, 0.9f);
    std::uniform_int_distribution<int64_t> gap(1000, KTime::kOneSecond * 3);
    const uint32_t kinds[] = {KFCURVE_INTERPOLATION_CONSTANT, KFCURVE_INTERPOLATION_LINEAR,
                              KFCURVE_INTERPOLATION_CUBIC, KFCURVE_INTERPOLATION_CUBIC};
    for (int round = 0; round < 20; ++round) {
        std::vector<RefKey> keys;
        int64_t time = -KTime::kOneSecond * 5;
        const int count = 2 + round * 3;
        KFCurve curve;
        for (int i = 0; i < count; ++i) {
            RefKey key{time, value(random), kinds[random() % 4], slope(random), slope(random), 0,
                       0};
            // Weight mode none, right, next left or both.
            const uint32_t weightMode = key.interpolation == KFCURVE_INTERPOLATION_CUBIC
                                            ? static_cast<uint32_t>(random() % 4) << 24
                                            : KFCURVE_WEIGHTED_NONE;
            KFCurveKey record;
            record.Set(KTime(time), key.value, key.interpolation, KFCURVE_TANGENT_BREAK, key.d0,
                       key.d1, weightMode, weight(random), weight(random), 0, 0);
            if (weightMode != KFCURVE_WEIGHTED_NONE) {
                key.rightWeight = (weightMode & KFCURVE_WEIGHTED_RIGHT)
                                      ? record.GetDataFloat(KFCURVE_RIGHT_WEIGHT)
                                      : KFCURVE_WEIGHT_DEFAULT;
                key.nextLeftWeight = (weightMode & KFCURVE_WEIGHTED_NEXT_LEFT)
                                         ? record.GetDataFloat(KFCURVE_NEXT_LEFT_WEIGHT)
                                         : KFCURVE_WEIGHT_DEFAULT;
            }
            curve.KeyAdd(KTime(time), record);
            keys.push_back(key);
            time += gap(random);
        }
        std::uniform_int_distribution<int64_t> probe(keys.front().time - KTime::kOneSecond,
                                                     keys.back().time + KTime::kOneSecond);
        std::vector<int64_t> times(300);
        for (int64_t& t : times) t = probe(random);
        for (size_t i = 0; i < keys.size(); ++i) times.push_back(keys[i].time);
        std::vector<int64_t> sorted = times;
        std::sort(sorted.begin(), sorted.end());
        int hint = 0;
        for (int64_t t : sorted) {  // sequential, with a running hint
            EXPECT_NEAR(curve.Evaluate(KTime(t), &hint), Reference(keys, t), 2e-3) << round;
        }
        for (int64_t t : times) {  // random order
            EXPECT_NEAR(curve.Evaluate(KTime(t)), Reference(keys, t), 2e-3) << round;
        }
    }
}

TEST(KFCurveEvaluationTest, DerivativesAndBezierValuesOfUserKeys) {
    KFCurve curve;
    AddKey(curve, 0, 0.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_USER, 3.0f, 6.0f);
    AddKey(curve, 1, 1.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_USER, 6.0f, 0.0f);
    AddKey(curve, 2, 2.0f, KFCURVE_INTERPOLATION_LINEAR);
    EXPECT_FLOAT_EQ(curve.KeyGetRightDerivative(0), 3.0f);
    EXPECT_FLOAT_EQ(curve.KeyGetLeftDerivative(1), 6.0f);
    EXPECT_FLOAT_EQ(curve.KeyGetRightBezierValue(0), 1.0f);
    EXPECT_FLOAT_EQ(curve.KeyGetLeftBezierValue(1), -1.0f);
    EXPECT_NEAR(curve.EvaluateRightDerivative(Sec(0)), 3.0, 1e-6);
    EXPECT_NEAR(curve.EvaluateLeftDerivative(Sec(1)), 6.0, 1e-6);
    EXPECT_NEAR(curve.EvaluateLeftDerivative(Sec(1e-9)), 3.0, 1e-4);
    EXPECT_NEAR(curve.EvaluateLeftDerivative(Sec(1.25)), 2.25, 1e-6);
    EXPECT_EQ(curve.EvaluateLeftDerivative(Sec(5)), 0.0);
    // Cached evaluation remembers one time.
    const double value = curve.EvaluateCached(Sec(0.5));
    EXPECT_EQ(curve.GetEvaluationCacheTime(), Sec(0.5));
    EXPECT_EQ(curve.EvaluateCached(Sec(0.5)), value);
    curve.KeySetValue(0, 9.0f);
    EXPECT_EQ(curve.GetEvaluationCacheTime(), KTIME_INFINITE);
}

}  // namespace
