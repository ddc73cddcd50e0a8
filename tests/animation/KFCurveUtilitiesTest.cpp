#include <gtest/gtest.h>

#include "FilterTestUtil.h"
#include "animation/KFCurveFilterResample.h"
#include "animation/KFCurveUtilities.h"

TEST(KFCurveUtilities, ResampleTimesAndCounts) {
    auto source = MakeCurve({{0, 0}, {10, 10}});
    std::unique_ptr<KFCurve> target(KFCurve::Create());
    EXPECT_TRUE(FCurveResample(*source, *target, Frames(0), Frames(10), Frames(3),
                               KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO, false));
    ASSERT_EQ(target->KeyGetCount(), 4);
    EXPECT_EQ(target->KeyGetTime(3), Frames(9));
    EXPECT_NEAR(target->KeyGetValue(2), 6.0, 1e-5);

    EXPECT_TRUE(FCurveResample(*source, *target, Frames(0), Frames(10), Frames(3),
                               KFCURVE_INTERPOLATION_LINEAR, KFCURVE_TANGENT_AUTO, true));
    ASSERT_EQ(target->KeyGetCount(), 5);
    EXPECT_EQ(target->KeyGetTime(4), Frames(10));
    EXPECT_EQ(target->KeyGetInterpolation(4), KFCURVE_INTERPOLATION_LINEAR);

    // Nothing happens for an empty span or a period of 0, nor for absurd sample counts.
    EXPECT_FALSE(FCurveResample(*source, *target, Frames(4), Frames(4), Frames(1),
                                KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO, true));
    EXPECT_FALSE(FCurveResample(*source, *target, Frames(0), Frames(4), KTIME_ZERO,
                                KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO, true));
    EXPECT_FALSE(FCurveResample(*source, *target, KTIME_MINUS_INFINITE, KTIME_INFINITE, KTime(1),
                                KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO, true));
    EXPECT_EQ(target->KeyGetCount(), 5);
}

TEST(KFCurveUtilities, ResampleKeepKind) {
    std::unique_ptr<KFCurve> source(KFCurve::Create());
    source->PrepareKeys(3);
    source->KeySet(0, Frames(0), 0.0f, KFCURVE_INTERPOLATION_CONSTANT);
    source->KeySet(1, Frames(4), 4.0f, KFCURVE_INTERPOLATION_LINEAR);
    source->KeySet(2, Frames(8), 0.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_TCB);
    source->CommitKeys(3);
    std::unique_ptr<KFCurve> target(KFCurve::Create());
    EXPECT_TRUE(FCurveResampleKeepKind(*source, *target, Frames(0), Frames(8), Frames(2), false));
    ASSERT_EQ(target->KeyGetCount(), 5);
    EXPECT_EQ(target->KeyGetInterpolation(0), KFCURVE_INTERPOLATION_CONSTANT);
    EXPECT_EQ(target->KeyGetInterpolation(1), KFCURVE_INTERPOLATION_CONSTANT);
    EXPECT_EQ(target->KeyGetInterpolation(2), KFCURVE_INTERPOLATION_LINEAR);
    EXPECT_EQ(target->KeyGetInterpolation(3), KFCURVE_INTERPOLATION_LINEAR);
    EXPECT_FLOAT_EQ(target->KeyGetValue(3), 2.0f);
    EXPECT_EQ(target->KeyGetInterpolation(4), KFCURVE_INTERPOLATION_CUBIC);
    EXPECT_EQ(target->KeyGetTangentMode(4), KFCURVE_TANGENT_AUTO);  // TCB becomes auto
}

TEST(KFCurveUtilities, MergeSplicesTheStretch) {
    auto base = MakeCurve({{0, 0}, {2, 2}, {4, 4}, {6, 6}, {8, 8}});
    auto middle = MakeCurve({{3, 30}, {5, 50}});
    std::unique_ptr<KFCurve> target(KFCurve::Create());
    FCurveMerge(*base, *middle, *target);
    ASSERT_EQ(target->KeyGetCount(), 6);
    const double times[] = {0, 2, 3, 5, 6, 8};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(target->KeyGetTime(i), Frames(times[i])) << i;
    EXPECT_FLOAT_EQ(target->KeyGetValue(2), 30.0f);

    // Stretch ends exactly on base keys: those keys are replaced.
    auto onKeys = MakeCurve({{2, 20}, {6, 60}});
    FCurveMerge(*base, *onKeys, *target);
    ASSERT_EQ(target->KeyGetCount(), 4);
    EXPECT_FLOAT_EQ(target->KeyGetValue(1), 20.0f);
    EXPECT_FLOAT_EQ(target->KeyGetValue(2), 60.0f);

    auto covering = MakeCurve({{-1, 1}, {9, 1}});
    FCurveMerge(*base, *covering, *target);
    EXPECT_EQ(target->KeyGetCount(), 2);

    std::unique_ptr<KFCurve> empty(KFCurve::Create());
    FCurveMerge(*base, *empty, *target);
    EXPECT_EQ(target->KeyGetCount(), 5);
    FCurveMerge(*empty, *middle, *target);
    EXPECT_EQ(target->KeyGetCount(), 2);
}

TEST(KFCurveUtilities, KeyStatistics) {
    std::unique_ptr<KFCurve> curve(KFCurve::Create());
    const uint32_t modes[] = {KFCURVE_TANGENT_AUTO, KFCURVE_TANGENT_AUTO_BREAK,
                              KFCURVE_TANGENT_USER, KFCURVE_TANGENT_BREAK,
                              KFCURVE_TANGENT_TCB,  KFCURVE_GENERIC_BREAK};
    curve->PrepareKeys(8);
    curve->KeySet(0, Frames(0), 0, KFCURVE_INTERPOLATION_CONSTANT);
    curve->KeySet(1, Frames(1), 0, KFCURVE_INTERPOLATION_LINEAR);
    for (int i = 0; i < 6; ++i) {
        curve->KeySet(2 + i, Frames(2 + i), 0, KFCURVE_INTERPOLATION_CUBIC, modes[i]);
    }
    curve->CommitKeys(8);
    int counts[7] = {9, 9, 9, 9, 9, 9, 9};
    EXPECT_TRUE(FCurveKeyStatistics(*curve, counts));
    for (int i = 0; i < 7; ++i) EXPECT_EQ(counts[i], 1) << i;
}

TEST(KFCurveFilterResample, SamplesEveryPeriod) {
    KFCurveFilterResample filter;
    EXPECT_STREQ(filter.GetName(), "FCurve Resample");
    EXPECT_EQ(filter.GetPeriod(), Frames(1));
    auto curve = MakeCurve({{0, 0}, {10, 10}});
    EXPECT_TRUE(filter.Apply(*curve));
    ASSERT_EQ(curve->KeyGetCount(), 11);
    for (int i = 0; i <= 10; ++i) {
        EXPECT_EQ(curve->KeyGetTime(i), Frames(i));
        EXPECT_EQ(curve->KeyGetInterpolation(i), KFCURVE_INTERPOLATION_CUBIC);
        EXPECT_NEAR(curve->KeyGetValue(i), i, 1e-5);
    }
}

TEST(KFCurveFilterResample, AlignedSpanKeepsOuterKeys) {
    KFCurveFilterResample filter;
    filter.SetAlignToPeriod(true);
    filter.SetStart(Frames(2.5));
    filter.SetStop(Frames(7));
    auto curve = MakeCurve({{0, 0}, {2, 2}, {10, 10}});
    EXPECT_TRUE(filter.Apply(*curve));
    // 0 and 2 before the span, 3 .. 7 sampled, 10 after.
    ASSERT_EQ(curve->KeyGetCount(), 8);
    EXPECT_EQ(curve->KeyGetTime(1), Frames(2));
    EXPECT_EQ(curve->KeyGetTime(2), Frames(3));
    EXPECT_EQ(curve->KeyGetTime(6), Frames(7));
    EXPECT_EQ(curve->KeyGetTime(7), Frames(10));

    // Negative starts align to the next multiple too.
    KFCurveFilterResample negative;
    negative.SetAlignToPeriod(true);
    negative.SetStart(Frames(0) - Frames(2.5));
    auto wide = MakeCurve({{-5, 0}, {5, 10}});
    EXPECT_TRUE(negative.Apply(*wide));
    EXPECT_EQ(wide->KeyGetTime(1), Frames(0) - Frames(2));
    EXPECT_EQ(wide->KeyGetCount(), 9);
}

TEST(KFCurveFilterResample, Refusals) {
    KFCurveFilterResample filter;
    auto curve = MakeCurve({{0, 0}, {10, 10}});
    filter.SetPeriod(KTIME_ZERO);
    EXPECT_FALSE(filter.Apply(*curve));
    EXPECT_EQ(filter.GetError().GetErrorCode(), 0);
    EXPECT_STREQ(filter.GetError().GetErrorText(), "Bad Period");
    EXPECT_EQ(curve->KeyGetCount(), 2);

    filter.Reset();
    std::unique_ptr<KFCurve> empty(KFCurve::Create());
    EXPECT_FALSE(filter.Apply(*empty));
    EXPECT_EQ(filter.GetError().GetErrorCode(), 1);
    EXPECT_STREQ(filter.GetError().GetErrorText(), "Bad Interval");

    filter.SetStart(Frames(4));
    filter.SetStop(Frames(4));
    EXPECT_FALSE(filter.Apply(*curve));
    EXPECT_STREQ(filter.GetError().GetErrorText(), "Bad Interval");

    // A one-tick period over a long span would make billions of keys.
    filter.Reset();
    filter.SetPeriod(KTime(1));
    EXPECT_FALSE(filter.Apply(*curve));
    EXPECT_STREQ(filter.GetError().GetErrorText(), "Bad Period");
    EXPECT_EQ(curve->KeyGetCount(), 2);
}
