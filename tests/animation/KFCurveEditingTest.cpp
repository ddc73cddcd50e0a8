// Key editing: add, insert, remove, tangent setters, scaling and span replacement.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "CurveTestUtil.h"

namespace {

struct Counter {
    int calls = 0;
    static void Callback(KFCurve*, KFCurveEvent*, void* data) {
        ++static_cast<Counter*>(data)->calls;
    }
};

std::vector<double> Sample(KFCurve& curve, double from, double to, int n) {
    std::vector<double> values;
    for (int i = 0; i < n; ++i)
        values.push_back(curve.Evaluate(Sec(from + (to - from) * i / (n - 1))));
    return values;
}

void ExpectOrdered(const KFCurve& curve) {
    for (int i = 1; i < curve.KeyGetCount(); ++i) {
        EXPECT_LT(curve.KeyGetTime(i - 1), curve.KeyGetTime(i)) << i;
    }
}

TEST(KFCurveEditingTest, AddingAtAnExistingTimeReplaces) {
    KFCurve curve;
    AddKey(curve, 0, 1.0f);
    AddKey(curve, 1, 2.0f);
    AddKey(curve, 2, 3.0f);
    EXPECT_EQ(AddKey(curve, 1, 9.0f), 1);
    EXPECT_EQ(curve.KeyGetCount(), 3);
    EXPECT_EQ(curve.KeyGetValue(1), 9.0f);
    EXPECT_EQ(AddKey(curve, -1, 0.0f), 0);
    EXPECT_EQ(AddKey(curve, 5, 0.0f), 4);
    KFCurveKey bad = *curve.KeyGet(1);
    bad.SetTime(Sec(3));
    EXPECT_EQ(curve.KeyReplace(1, bad), 1);  // would break the order
}

TEST(KFCurveEditingTest, ThirtyKeysAcrossABlockBoundaryThenRemoveOne) {
    KFCurve curve;
    for (int i = 0; i < 30; ++i) EXPECT_EQ(AddKey(curve, i * 0.5, static_cast<float>(i)), i);
    EXPECT_EQ(curve.KeyRemoveAt(10), 0);
    ASSERT_EQ(curve.KeyGetCount(), 29);
    ExpectOrdered(curve);
    EXPECT_EQ(curve.KeyGetValue(9), 9.0f);
    EXPECT_EQ(curve.KeyGetValue(10), 11.0f);
    EXPECT_EQ(curve.KeyGetValue(28), 29.0f);
    EXPECT_EQ(curve.KeyRemoveAt(29), 1);
    EXPECT_EQ(curve.KeyRemoveAt(-1), 1);
    // Keys added back in reverse order land in order.
    for (int i = 40; i > 30; --i) AddKey(curve, i * 0.5 + 0.25, 1.0f);
    ExpectOrdered(curve);
}

TEST(KFCurveEditingTest, RemovingTheLastKeysKeepsTheirValueAsDefault) {
    KFCurve single;
    AddKey(single, 1, 6.0f);
    single.KeyRemoveAt(0);
    EXPECT_EQ(single.KeyGetCount(), 0);
    EXPECT_EQ(single.GetValue(), 6.0f);

    KFCurve curve;
    for (int i = 0; i < 8; ++i) AddKey(curve, i, 10.0f + i);
    EXPECT_TRUE(curve.KeyRemove(0, curve.KeyGetCount() - 1));
    EXPECT_EQ(curve.KeyGetCount(), 0);
    EXPECT_EQ(curve.GetValue(), 10.0f);
    EXPECT_FALSE(curve.KeyRemove(0, 3));
}

TEST(KFCurveEditingTest, KeyRemoveClampsToTheKeyRange) {
    KFCurve curve;
    for (int i = 0; i < 8; ++i) AddKey(curve, i, static_cast<float>(i));
    EXPECT_TRUE(curve.KeyRemove(5, 100));
    ASSERT_EQ(curve.KeyGetCount(), 5);
    EXPECT_EQ(curve.KeyGetValue(4), 4.0f);
    EXPECT_TRUE(curve.KeyRemove(-7, 1));
    ASSERT_EQ(curve.KeyGetCount(), 3);
    EXPECT_EQ(curve.KeyGetValue(0), 2.0f);
    EXPECT_TRUE(curve.KeyRemove(9, 12));
    EXPECT_EQ(curve.KeyGetCount(), 3);
    EXPECT_TRUE(curve.KeyRemove(-3, 99));
    EXPECT_EQ(curve.KeyGetCount(), 0);
    EXPECT_EQ(curve.GetValue(), 2.0f);
}

TEST(KFCurveEditingTest, RemovingARangeKeepsTheFollowingLeftTangent) {
    KFCurve curve;
    for (int i = 0; i < 6; ++i) {
        AddKey(curve, i, static_cast<float>(i % 2), KFCURVE_INTERPOLATION_CUBIC,
               KFCURVE_TANGENT_BREAK, 1.0f + i, -1.0f - i);
    }
    const float left = curve.KeyGetLeftDerivative(4);
    curve.KeyRemove(1, 3);
    ASSERT_EQ(curve.KeyGetCount(), 3);
    EXPECT_FLOAT_EQ(curve.KeyGetLeftDerivative(1), left);
}

// Removing keys changes the segment the removal joins, never the one after the next key,
// even when that key is a user key whose sides differ (it follows a linear key).
TEST(KFCurveEditingTest, RemovingKeysLeavesTheFollowingSegment) {
    for (int last = 1; last <= 2; ++last) {
        KFCurve curve;
        AddKey(curve, 0, 0.0f);
        AddKey(curve, 1, 1.0f);
        AddKey(curve, 2, 3.0f);
        AddKey(curve, 3, 2.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_USER, 5.0f, -4.0f);
        AddKey(curve, 4, 0.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_USER);
        const std::vector<double> before = Sample(curve, 3, 4, 9);
        curve.KeyRemove(1, last);
        ASSERT_EQ(curve.KeyGetCount(), 4 - last + 1);
        EXPECT_EQ(curve.KeyGetRightDerivative(curve.KeyGetCount() - 2), 5.0f);
        const std::vector<double> after = Sample(curve, 3, 4, 9);
        for (size_t i = 0; i < before.size(); ++i) EXPECT_NEAR(after[i], before[i], 1e-6) << i;
    }
}

TEST(KFCurveEditingTest, LeftDerivativeOfUserAndBreakKeys) {
    KFCurve curve;
    AddKey(curve, 0, 0.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_USER);
    AddKey(curve, 1, 1.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_USER);
    AddKey(curve, 2, 0.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_BREAK, 7.0f);
    AddKey(curve, 3, 1.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_USER);
    curve.KeySetLeftDerivative(1, 4.0f);
    EXPECT_FLOAT_EQ(curve.KeyGetLeftDerivative(1), 4.0f);
    EXPECT_FLOAT_EQ(curve.KeyGetRightDerivative(1), 4.0f);
    curve.KeySetLeftDerivative(2, -3.0f);
    EXPECT_FLOAT_EQ(curve.KeyGetLeftDerivative(2), -3.0f);
    EXPECT_FLOAT_EQ(curve.KeyGetRightDerivative(2), 7.0f);
    // i == count addresses the left side kept on the last key; beyond that is a caller error.
    curve.KeySetLeftDerivative(4, 2.5f);
    EXPECT_FLOAT_EQ(curve.KeyGetDataFloat(3, KFCURVE_DATA_1), 2.5f);
    EXPECT_DEBUG_DEATH(curve.KeySetLeftDerivative(5, 1.0f), "");
}

TEST(KFCurveEditingTest, AutoKeyDerivativeSettersStoreAutoValues) {
    KFCurve curve;
    AddKey(curve, 0, 0.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO);
    AddKey(curve, 1, 1.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO);
    AddKey(curve, 2, 4.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO);
    curve.KeySetRightDerivative(1, 9.0f);
    EXPECT_NEAR(curve.KeyGetRightAuto(1), 521.146, 1e-2);
    EXPECT_NEAR(curve.KeyGetRightDerivative(1), 9.0, 1e-3);
    curve.KeySetLeftDerivative(1, 1.0f);
    EXPECT_NEAR(curve.KeyGetLeftAuto(1), 100.0, 1e-3);
    curve.KeySetRightAuto(1, 0.0f);
    EXPECT_FLOAT_EQ(curve.KeyGetRightDerivative(1), 2.0f);
}

TEST(KFCurveEditingTest, ScaleValuesLeavesAutoValuesAndDeliversOnce) {
    Counter counter;
    KFCurve curve;
    curve.SetValue(1.5f);
    AddKey(curve, 0, 1.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO, 30.0f, 40.0f);
    AddKey(curve, 1, 2.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_USER, 3.0f, 4.0f);
    AddKey(curve, 2, 3.0f);
    curve.AddCallback(&Counter::Callback, &counter);
    curve.ScaleValues(false, 2.0f);
    EXPECT_EQ(counter.calls, 1);
    EXPECT_EQ(curve.GetValue(), 3.0f);
    EXPECT_EQ(curve.KeyGetValue(0), 2.0f);
    EXPECT_EQ(curve.KeyGetDataFloat(0, KFCURVE_DATA_0), 30.0f);
    EXPECT_EQ(curve.KeyGetDataFloat(1, KFCURVE_DATA_1), 8.0f);

    curve.KeyGet(2)->SetFlags(curve.KeyGet(2)->GetFlags() | KFCURVE_SELECT_POINT);
    curve.ScaleValues(true, 10.0f);
    EXPECT_EQ(curve.KeyGetValue(2), 60.0f);
    EXPECT_EQ(curve.KeyGetValue(1), 4.0f);
    EXPECT_EQ(curve.GetValue(), 3.0f);
}

// Keys whose tangents a split preserves exactly: break, smooth user and linear keys.
void ShapedCurve(KFCurve& curve) {
    AddKey(curve, 0, 0.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_BREAK, 4.0f, -2.0f);
    AddKey(curve, 1, 3.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_USER, -2.0f, 5.0f);
    AddKey(curve, 2.5, -1.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_USER, 5.0f, 1.0f);
    AddKey(curve, 3, 2.0f, KFCURVE_INTERPOLATION_LINEAR);
    AddKey(curve, 4, 6.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_USER, 1.0f, 3.0f);
}

TEST(KFCurveEditingTest, KeyInsertAfterTheLastKeyKeepsTheShape) {
    KFCurve curve;
    ShapedCurve(curve);
    const std::vector<double> before = Sample(curve, -1, 7, 20);
    const int index = curve.KeyInsert(Sec(5.5));
    EXPECT_EQ(index, 5);
    ASSERT_EQ(curve.KeyGetCount(), 6);
    EXPECT_EQ(curve.KeyGetTime(5), Sec(5.5));
    EXPECT_EQ(curve.KeyGetInterpolation(5), KFCURVE_INTERPOLATION_CUBIC);
    EXPECT_EQ(curve.KeyGetTangentMode(5), KFCURVE_TANGENT_USER);
    const std::vector<double> after = Sample(curve, -1, 7, 20);
    for (size_t i = 0; i < before.size(); ++i) EXPECT_NEAR(after[i], before[i], 1e-4) << i;
    EXPECT_EQ(curve.KeyInsert(Sec(5.5)), 5);  // already there: nothing changes
    EXPECT_EQ(curve.KeyGetCount(), 6);
}

// Random curves of user, break, linear and constant keys (the kinds whose shape a split keeps);
// a key inserted anywhere, outside the keys too, changes no value.
TEST(KFCurveEditingTest, KeyInsertKeepsTheShapeOfRandomCurves) {
    std::mt19937 random(5);
    std::uniform_real_distribution<float> number(-5.0f, 5.0f);
    const uint32_t kinds[] = {KFCURVE_INTERPOLATION_CONSTANT, KFCURVE_INTERPOLATION_LINEAR,
                              KFCURVE_INTERPOLATION_CUBIC, KFCURVE_INTERPOLATION_CUBIC};
    const uint32_t modes[] = {KFCURVE_TANGENT_USER, KFCURVE_TANGENT_BREAK, KFCURVE_CONSTANT_NEXT};
    for (int round = 0; round < 1000; ++round) {
        const int n = 1 + static_cast<int>(random() % 6);
        std::vector<uint32_t> kind(n), mode(n);
        std::vector<float> value(n), left(n), right(n);
        for (int i = 0; i < n; ++i) {
            kind[i] = kinds[random() % 4];
            mode[i] = modes[random() % (kind[i] == KFCURVE_INTERPOLATION_CONSTANT ? 3 : 2)];
            value[i] = number(random);
            right[i] = number(random);
            // A user key is smooth: its left side equals its right side.
            left[i] = mode[i] == KFCURVE_TANGENT_USER ? right[i] : number(random);
        }
        KFCurve curve;
        for (int i = 0; i < n; ++i) {
            AddKey(curve, i, value[i], kind[i], mode[i], right[i], i + 1 < n ? left[i + 1] : 0.0f);
        }
        const double t = -1.5 + (n + 2) * static_cast<double>(random() % 1000) / 1000.0;
        const std::vector<double> before = Sample(curve, -2, n + 1, 60);
        const int index = curve.KeyInsert(Sec(t));
        ASSERT_EQ(curve.KeyGetTime(index), Sec(t));
        const std::vector<double> after = Sample(curve, -2, n + 1, 60);
        for (size_t i = 0; i < before.size(); ++i) {
            ASSERT_NEAR(after[i], before[i], 1e-3) << round << " " << t << " " << i;
        }
    }
}

TEST(KFCurveEditingTest, KeyInsertInsideASegmentKeepsTheShape) {
    KFCurve curve;
    ShapedCurve(curve);
    const std::vector<double> before = Sample(curve, -1, 5, 40);
    EXPECT_EQ(curve.KeyInsert(Sec(0.4)), 1);
    EXPECT_EQ(curve.KeyInsert(Sec(3.5)), 5);
    EXPECT_EQ(curve.KeyInsert(Sec(2.7)), 4);
    ExpectOrdered(curve);
    const std::vector<double> after = Sample(curve, -1, 5, 40);
    for (size_t i = 0; i < before.size(); ++i) EXPECT_NEAR(after[i], before[i], 1e-3) << i;

    KFCurve empty;
    empty.SetValue(4.0f);
    EXPECT_EQ(empty.KeyInsert(Sec(1)), 0);
    EXPECT_EQ(empty.KeyGetValue(0), 4.0f);
}

TEST(KFCurveEditingTest, InsertAtCacheUpdatesOrAddsAKey) {
    KFCurve curve;
    for (int i = 0; i <= 2; ++i) AddKey(curve, i, static_cast<float>(i));
    EXPECT_EQ(curve.KeyInsertAtCache(nullptr, KFCURVE_INTERPOLATION_LINEAR, 0, false, true), 1);

    curve.SetEvaluationCache(Sec(1.1), 5.0f);
    EXPECT_EQ(curve.KeyInsertAtCache(nullptr, KFCURVE_INTERPOLATION_LINEAR, 0, false, true,
                                     KTIME_INFINITE, 0.3),
              0);
    ASSERT_EQ(curve.KeyGetCount(), 3);  // key 1 was within the window
    EXPECT_EQ(curve.KeyGetTime(1), Sec(1.1));
    EXPECT_EQ(curve.KeyGetValue(1), 5.0f);

    curve.SetEvaluationCache(Sec(1.5), 6.0f);
    curve.KeyInsertAtCache(nullptr, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO, true, true);
    ASSERT_EQ(curve.KeyGetCount(), 4);
    EXPECT_EQ(curve.KeyGetTangentMode(2), KFCURVE_TANGENT_AUTO_BREAK);
    EXPECT_EQ(curve.KeyGetValue(2), 6.0f);
    ExpectOrdered(curve);
}

// Source keys at 1, 2, 3, 4 s; this curve keys every half second from 0 to 5 s.
void SpanCurves(KFCurve& target, KFCurve& source) {
    for (int i = 0; i <= 10; ++i) AddKey(target, i * 0.5, 100.0f + i);
    for (int i = 1; i <= 4; ++i) AddKey(source, i, static_cast<float>(i));
}

TEST(KFCurveEditingTest, ReplaceShrinksToTheSourceKeysUnlessTheSpanIsKept) {
    Counter counter;
    KFCurve target, source;
    SpanCurves(target, source);
    target.AddCallback(&Counter::Callback, &counter);
    target.Replace(&source, Sec(1.5), Sec(3.5), false, true);
    EXPECT_EQ(counter.calls, 1);
    // Keys at 2, 2.5, 3 s went; source keys 2 and 3 s came; 1.5 and 3.5 s stay.
    ASSERT_EQ(target.KeyGetCount(), 10);
    ExpectOrdered(target);
    EXPECT_EQ(target.KeyGetValue(3), 103.0f);
    EXPECT_EQ(target.KeyGetTime(4), Sec(2));
    EXPECT_EQ(target.KeyGetValue(4), 2.0f);
    EXPECT_EQ(target.KeyGetValue(5), 3.0f);
    EXPECT_EQ(target.KeyGetValue(6), 107.0f);

    KFCurve kept, source2;
    SpanCurves(kept, source2);
    kept.Replace(&source2, Sec(1.5), Sec(3.5), true, true);
    ASSERT_EQ(kept.KeyGetCount(), 8);  // 1.5 .. 3.5 s (5 keys) removed, 2 copied
    EXPECT_EQ(kept.KeyGetValue(2), 102.0f);
    EXPECT_EQ(kept.KeyGetValue(3), 2.0f);
    EXPECT_EQ(kept.KeyGetValue(4), 3.0f);
    EXPECT_EQ(kept.KeyGetValue(5), 108.0f);
}

TEST(KFCurveEditingTest, ReplaceFromAKeylessSourceWritesBoundaryKeys) {
    KFCurve target, source;
    for (int i = 0; i <= 6; ++i) AddKey(target, i * 0.5, static_cast<float>(i * i));
    source.SetValue(-4.0f);
    KFCurve stripped;
    stripped.CopyFrom(target);
    stripped.KeyRemoveSpan(KTimeSaturatingSub(Sec(1), KTime(1)),
                           KTimeSaturatingAdd(Sec(2), KTime(1)));
    const KTime beforeStart = Sec(1) - KTime(1), afterStop = Sec(2) + KTime(1);

    target.Replace(&source, Sec(1), Sec(2), true, true);
    ExpectOrdered(target);
    int hint = 0;
    const KFCurveKeyPosition a = target.KeyFindPosition(beforeStart, &hint);
    const KFCurveKeyPosition b = target.KeyFindPosition(afterStop, &hint);
    ASSERT_TRUE(a.mExact && b.mExact);
    EXPECT_NEAR(target.KeyGetValue(a.mLower), stripped.Evaluate(beforeStart), 1e-4);
    EXPECT_NEAR(target.KeyGetValue(b.mLower), stripped.Evaluate(afterStop), 1e-4);
    EXPECT_EQ(target.KeyGetValue(a.mLower + 1), -4.0f);
    EXPECT_EQ(target.KeyGetTime(a.mLower + 1), Sec(1));
    EXPECT_EQ(target.KeyGetValue(b.mLower - 1), -4.0f);
    for (double t = 1.0; t <= 2.0; t += 0.05) EXPECT_NEAR(target.Evaluate(Sec(t)), -4.0, 1e-6);

    KFCurve emptied;
    for (int i = 0; i <= 6; ++i) AddKey(emptied, i * 0.5, 1.0f);
    emptied.Replace(&source, Sec(1), Sec(2), true, false);
    EXPECT_EQ(emptied.KeyGetCount(), 4);  // 1, 1.5 and 2 s removed
}

TEST(KFCurveEditingTest, ReplaceToTheLargestTimeTakesEverythingAfterStart) {
    KFCurve target, source;
    for (int i = 0; i <= 6; ++i) AddKey(target, i, 1.0f);
    target.Replace(&source, Sec(2), KTIME_INFINITE, true, false);
    EXPECT_EQ(target.KeyGetCount(), 2);

    KFCurve withKeys, source2;
    SpanCurves(withKeys, source2);
    withKeys.Replace(&source2, Sec(2.2), KTIME_INFINITE, true, true);
    ASSERT_EQ(withKeys.KeyGetCount(), 7);  // 0 .. 2 s kept, source keys 3 and 4 s
    EXPECT_EQ(withKeys.KeyGetValue(6), 4.0f);

    // Boundary keys from the smallest time: a key lands there and evaluation stays defined.
    KFCurve open, keyless;
    keyless.SetValue(2.0f);
    for (int i = 0; i <= 3; ++i) AddKey(open, i, 5.0f);
    open.Replace(&keyless, KTIME_MINUS_INFINITE, Sec(1.5), true, true);
    EXPECT_EQ(open.KeyGetTime(0), KTIME_MINUS_INFINITE);
    open.SetPreExtrapolation(KFCURVE_EXTRAPOLATION_MIRROR_REPETITION);
    open.SetPostExtrapolation(KFCURVE_EXTRAPOLATION_KEEP_SLOPE);
    for (KTime t : {KTime(INT64_MIN), KTIME_MINUS_INFINITE, KTime(0), Sec(1.5), KTIME_INFINITE}) {
        EXPECT_FALSE(std::isnan(open.Evaluate(t)));
        EXPECT_FALSE(std::isnan(open.EvaluateLeftDerivative(t)));
    }
    EXPECT_NEAR(open.Evaluate(Sec(-1e6)), 2.0, 1e-6);
}

TEST(KFCurveEditingTest, ReplaceContinuousOffsets) {
    KFCurve target, source;
    for (int i = 0; i <= 8; ++i) AddKey(target, i, 1.0f);
    AddKey(source, 2, 10.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_USER, 2.0f, 1.0f);
    AddKey(source, 3, 30.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_USER, 2.0f, 0.5f);
    AddKey(source, 4, 20.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_USER, 2.0f, 0.5f);

    KFCurve plus;
    plus.CopyFrom(target);
    plus.ReplaceContinuous(&source, Sec(2), Sec(4), 360.0f, -360.0f, false, false, true, true);
    EXPECT_EQ(plus.KeyGetValue(2), 370.0f);
    EXPECT_EQ(plus.KeyGetValue(5), 1.0f - 360.0f);
    EXPECT_EQ(plus.KeyGetValue(8), 1.0f - 360.0f);
    EXPECT_EQ(plus.KeyGetValue(1), 1.0f);

    KFCurve mirrored;
    mirrored.CopyFrom(target);
    mirrored.ReplaceContinuous(&source, Sec(2), Sec(4), 180.0f, 0.0f, true, false, true, true);
    EXPECT_EQ(mirrored.KeyGetValue(3), 150.0f);
    EXPECT_FLOAT_EQ(mirrored.KeyGetRightDerivative(3), -2.0f);

    KFCurve tiny;
    tiny.CopyFrom(target);
    tiny.ReplaceContinuous(&source, Sec(2), Sec(4), 1e-7f, -1e-7f, true, true, true, true);
    EXPECT_EQ(tiny.KeyGetValue(3), 30.0f);
    EXPECT_EQ(tiny.KeyGetValue(6), 1.0f);

    // No source key inside the span: the span shrinks to nothing, so this curve's keys stay;
    // no seam, but the end offset still applies after it.
    KFCurve gap;
    gap.CopyFrom(target);
    gap.ReplaceContinuous(&source, Sec(4.2), Sec(5.5), 50.0f, 7.0f, true, false, false, true);
    ASSERT_EQ(gap.KeyGetCount(), 9);
    EXPECT_EQ(gap.KeyGetValue(5), 1.0f);
    EXPECT_EQ(gap.KeyGetValue(6), 8.0f);
    EXPECT_EQ(gap.KeyGetTime(6), Sec(6));
    // A kept span is emptied.
    KFCurve keptGap;
    keptGap.CopyFrom(target);
    keptGap.ReplaceContinuous(&source, Sec(4.2), Sec(5.5), 50.0f, 7.0f, true, false, true, true);
    ASSERT_EQ(keptGap.KeyGetCount(), 8);
    EXPECT_EQ(keptGap.KeyGetValue(5), 8.0f);
}

TEST(KFCurveEditingTest, ReplaceWithNoSourceKeyInTheSpanKeepsTheKeys) {
    KFCurve source;
    for (int i = 1; i <= 4; ++i) {
        AddKey(source, i, 50.0f + i, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_USER);
    }
    const KTime spans[][2] = {{Sec(1.5), Sec(1.7)}, {Sec(5), Sec(6)}, {Sec(-2), Sec(0.5)}};
    for (int form = 0; form < 3; ++form) {
        for (const auto& span : spans) {
            KFCurve target;
            for (int i = 0; i <= 14; ++i) {
                AddKey(target, i * 0.5, static_cast<float>(i % 3), KFCURVE_INTERPOLATION_CUBIC,
                       KFCURVE_TANGENT_BREAK, 1.0f + i, -1.0f - i);
            }
            KFCurve before;
            before.CopyFrom(target);
            if (form == 0) target.Replace(&source, span[0], span[1], false, true);
            if (form == 1) {
                target.ReplaceContinuous(&source, span[0], span[1], 5.0f, 0.0f, true, false, false,
                                         true);
            }
            // The quaternion form also takes the first source key at or after stop.
            if (form == 2 && span[0] != Sec(5)) continue;
            if (form == 2) target.ReplaceQuaternion(&source, span[0], span[1], 2.0f, 3.0f);
            ASSERT_EQ(target.KeyGetCount(), before.KeyGetCount()) << form;
            for (int i = 0; i < target.KeyGetCount(); ++i) {
                EXPECT_EQ(target.KeyGetValue(i), before.KeyGetValue(i)) << form << " " << i;
                EXPECT_EQ(target.KeyGetLeftDerivative(i), before.KeyGetLeftDerivative(i));
                EXPECT_EQ(target.KeyGetRightDerivative(i), before.KeyGetRightDerivative(i));
            }
        }
    }
}

TEST(KFCurveEditingTest, AddingACopyOfOneOfItsOwnKeys) {
    for (int n = 1; n <= 40; ++n) {
        KFCurve curve;
        for (int i = 0; i < n; ++i) AddKey(curve, i, static_cast<float>(i));
        const int index = curve.KeyAdd(Sec(-1), *curve.KeyGet(n - 1));
        ASSERT_EQ(index, 0);
        EXPECT_EQ(curve.KeyGetValue(0), static_cast<float>(n - 1)) << n;
        EXPECT_EQ(curve.KeyGetTime(0), Sec(-1));
    }
}

TEST(KFCurveEditingTest, ReplaceQuaternionScalesAcrossTheSpan) {
    KFCurve target, source;
    for (int i = 0; i <= 4; ++i) AddKey(target, i, 1.0f);
    AddKey(source, 1, 4.0f);
    AddKey(source, 2, 4.0f);
    AddKey(source, 3, 4.0f);
    target.ReplaceQuaternion(&source, Sec(1), Sec(3), 1.0f, 2.0f, true, true);
    EXPECT_EQ(target.KeyGetValue(1), 4.0f);
    EXPECT_EQ(target.KeyGetValue(2), 6.0f);
    EXPECT_EQ(target.KeyGetValue(3), 8.0f);

    const struct {
        KTime start, stop;
        float expected;
    } cases[] = {{KTIME_MINUS_INFINITE, Sec(3), 4.0f * 2.0f},
                 {Sec(1), KTIME_INFINITE, 4.0f * 0.5f},
                 {KTIME_MINUS_INFINITE, KTIME_INFINITE, 4.0f},
                 {Sec(2), Sec(2), 4.0f * 0.5f}};
    for (const auto& c : cases) {
        KFCurve curve;
        curve.ReplaceQuaternion(&source, c.start, c.stop, 0.5f, 2.0f, true, true);
        int hint = 0;
        const KFCurveKeyPosition at = curve.KeyFindPosition(Sec(2), &hint);
        ASSERT_TRUE(at.mExact);
        EXPECT_EQ(curve.KeyGetValue(at.mLower), c.expected);
    }
}

// Random edits, extreme times included, must keep the keys ordered and every value defined.
TEST(KFCurveEditingTest, RandomEditsKeepTheInvariants) {
    std::mt19937_64 random(99);
    const KTime times[] = {KTIME_MINUS_INFINITE,
                           KTime(INT64_MIN),
                           Sec(-2),
                           Sec(0),
                           Sec(0.5),
                           Sec(1),
                           Sec(1) + KTime(1),
                           Sec(3),
                           KTIME_INFINITE - KTime(1),
                           KTIME_INFINITE};
    auto pickTime = [&] {
        if (random() % 3 == 0) return times[random() % 10];
        return KTime(static_cast<int64_t>(random() % 400) * (KTime::kOneSecond / 100) -
                     KTime::kOneSecond);
    };
    const uint32_t kinds[] = {KFCURVE_INTERPOLATION_CONSTANT, KFCURVE_INTERPOLATION_LINEAR,
                              KFCURVE_INTERPOLATION_CUBIC};
    const uint32_t modes[] = {KFCURVE_TANGENT_AUTO, KFCURVE_TANGENT_TCB, KFCURVE_TANGENT_USER,
                              KFCURVE_TANGENT_BREAK, KFCURVE_TANGENT_AUTO_BREAK};
    KFCurve curve, source;
    for (int step = 0; step < 6000; ++step) {
        KFCurve& target = step % 5 == 0 ? source : curve;
        const KTime t = pickTime();
        const int count = target.KeyGetCount();
        switch (random() % 9) {
            case 0:
            case 1: {
                KFCurveKey key;
                key.Set(t, static_cast<float>(random() % 100), kinds[random() % 3],
                        modes[random() % 5], 1.5f, -2.0f,
                        random() % 2 ? KFCURVE_WEIGHTED_ALL : KFCURVE_WEIGHTED_NONE, 0.2f, 0.7f,
                        0.1f, 0.1f);
                target.KeyAdd(t, key);
                break;
            }
            case 2:
                target.KeyInsert(t);
                break;
            case 3:
                target.KeyRemove(static_cast<int>(random() % 8) - 2,
                                 static_cast<int>(random() % 12) - 2);
                break;
            case 4:
                if (count > 0) target.KeySetLeftDerivative(random() % (count + 1), 0.5f);
                break;
            case 5:
                curve.Replace(&source, t, pickTime(), random() % 2, random() % 2);
                break;
            case 6:
                curve.ReplaceContinuous(&source, t, pickTime(), 10.0f, -5.0f, random() % 2,
                                        random() % 2, random() % 2, true);
                break;
            case 7:
                curve.ReplaceQuaternion(&source, t, pickTime(), 0.5f, 2.0f, random() % 2, true);
                break;
            default:
                target.SetPreExtrapolation(static_cast<int>(random() % 5));
                target.SetPostExtrapolation(static_cast<int>(random() % 5));
                target.SetPostExtrapolationCount(random() % 2 ? 3u : KFCURVE_REPETITION_UNLIMITED);
                break;
        }
        ExpectOrdered(curve);
        ExpectOrdered(source);
        const KTime probe = pickTime();
        ASSERT_FALSE(std::isnan(curve.Evaluate(probe))) << step;
        ASSERT_FALSE(std::isnan(curve.EvaluateLeftDerivative(probe))) << step;
        if (curve.KeyGetCount() > 60) curve.KeyRemove(0, 30);
    }
}

TEST(KFCurveEditingTest, FittingTangentsToASource) {
    KFCurve source, curve;
    for (int i = 0; i <= 40; ++i) AddKey(source, i * 0.1, static_cast<float>(std::sin(i * 0.1)));
    for (int i = 0; i <= 4; ++i) {
        AddKey(curve, i, static_cast<float>(std::sin(i)), KFCURVE_INTERPOLATION_CUBIC,
               KFCURVE_TANGENT_AUTO);
    }
    const int index = KFCurve::KeyInsertValue(Sec(2.5), static_cast<float>(std::sin(2.5)), &curve,
                                              &source, true, Sec(0.1), 0.01);
    EXPECT_EQ(index, 3);
    EXPECT_EQ(curve.KeyGetTangentMode(index), KFCURVE_TANGENT_BREAK);
    EXPECT_NEAR(curve.KeyGetRightDerivative(index), std::cos(2.55), 0.05);
    KFCurve::KeyFitTangents(99, &curve, &source, Sec(0.1), 0.01);  // out of range: nothing
    KFCurve::KeyFitTangents(0, nullptr, &source, Sec(0.1), 0.01);
}

}  // namespace
