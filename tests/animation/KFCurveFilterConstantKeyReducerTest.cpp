#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "FilterTestUtil.h"
#include "animation/KFCurveFilterConstantKeyReducer.h"
#include "animation/KFCurveFilterKeySync.h"

namespace {

std::unique_ptr<KFCurve> FlatRun(int equal, float value, float last) {
    std::unique_ptr<KFCurve> curve(KFCurve::Create());
    curve->PrepareKeys(equal + 1);
    for (int i = 0; i < equal; ++i)
        curve->KeySet(i, Frames(i), value, KFCURVE_INTERPOLATION_LINEAR);
    curve->KeySet(equal, Frames(equal), last, KFCURVE_INTERPOLATION_LINEAR);
    curve->CommitKeys(equal + 1);
    return curve;
}

}  // namespace

TEST(KFCurveFilter, KeyIndicesFollowTheSpan) {
    KFCurveFilterConstantKeyReducer filter;
    std::unique_ptr<KFCurve> empty(KFCurve::Create());
    EXPECT_EQ(filter.GetStartKeyIndex(*empty), -1);
    EXPECT_EQ(filter.GetStopKeyIndex(*empty), -1);

    auto curve = MakeCurve({{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 6}, {7, 7}});
    EXPECT_EQ(filter.GetStart(), KTIME_MINUS_INFINITE);
    EXPECT_EQ(filter.GetStop(), KTIME_INFINITE);
    EXPECT_EQ(filter.GetStartKeyIndex(*curve), 0);
    EXPECT_EQ(filter.GetStopKeyIndex(*curve), 8);

    filter.SetStart(Frames(3.5));
    filter.SetStop(Frames(5));
    EXPECT_EQ(filter.GetStartKeyIndex(*curve), 2);
    EXPECT_EQ(filter.GetStopKeyIndex(*curve), 6);
    filter.Reset();
    EXPECT_EQ(filter.GetStartKeyIndex(*curve), 0);
}

TEST(KFCurveFilterConstantKeyReducer, RunsLoseTheirInnerKeys) {
    KFCurveFilterConstantKeyReducer filter;
    EXPECT_STREQ(filter.GetName(), "Constant Key Reducer");

    auto curve = FlatRun(10, 1.0f, 5.0f);
    EXPECT_TRUE(filter.Apply(*curve));
    ASSERT_EQ(curve->KeyGetCount(), 3);
    EXPECT_EQ(curve->KeyGetTime(0), Frames(8));
    EXPECT_EQ(curve->KeyGetTime(1), Frames(9));
    EXPECT_EQ(curve->KeyGetTime(2), Frames(10));
    EXPECT_FLOAT_EQ(curve->KeyGetValue(2), 5.0f);

    // Two flat runs joined by a step: each keeps the keys that shape the step.
    auto twoRuns = MakeCurve({{0, 0},
                              {1, 0},
                              {2, 0},
                              {3, 0},
                              {4, 0},
                              {5, 0},
                              {6, 3},
                              {7, 3},
                              {8, 3},
                              {9, 3},
                              {10, 3},
                              {11, 3}});
    EXPECT_TRUE(filter.Apply(*twoRuns));
    ASSERT_EQ(twoRuns->KeyGetCount(), 4);
    EXPECT_EQ(twoRuns->KeyGetTime(0), Frames(4));
    EXPECT_EQ(twoRuns->KeyGetTime(3), Frames(7));
    for (double t : {0.0, 2.0, 4.5, 5.5, 9.0, 11.0}) {
        auto reference = MakeCurve({{0, 0}, {5, 0}, {6, 3}, {11, 3}});
        EXPECT_NEAR(twoRuns->Evaluate(Frames(t)), reference->Evaluate(Frames(t)), 1e-6) << t;
    }
}

TEST(KFCurveFilterConstantKeyReducer, WhollyFlatCurves) {
    KFCurveFilterConstantKeyReducer filter;
    auto flat = MakeCurve({{0, 2.5f}, {1, 2.5f}, {2, 2.504f}, {3, 2.5f}});
    EXPECT_TRUE(filter.Apply(*flat));
    EXPECT_EQ(flat->KeyGetCount(), 0);
    EXPECT_FLOAT_EQ(flat->GetValue(), 2.5f);

    auto single = MakeCurve({{4, 7.0f}});
    EXPECT_TRUE(filter.Apply(*single));
    EXPECT_EQ(single->KeyGetCount(), 0);
    EXPECT_FLOAT_EQ(single->GetValue(), 7.0f);

    filter.SetKeepFirstKey(true);
    auto kept = MakeCurve({{0, 2.5f}, {1, 2.5f}, {2, 2.5f}});
    EXPECT_TRUE(filter.Apply(*kept));
    ASSERT_EQ(kept->KeyGetCount(), 1);
    EXPECT_EQ(kept->KeyGetTime(0), Frames(0));
    auto one = MakeCurve({{4, 7.0f}});
    EXPECT_TRUE(filter.Apply(*one));
    EXPECT_EQ(one->KeyGetCount(), 1);
    filter.Reset();
    EXPECT_FALSE(filter.GetKeepFirstKey());
}

TEST(KFCurveFilterConstantKeyReducer, ProtectedKeys) {
    KFCurveFilterConstantKeyReducer filter;
    // A cubic key with real tangents is never the centre of a removed run.
    std::unique_ptr<KFCurve> curve(KFCurve::Create());
    curve->PrepareKeys(7);
    for (int i = 0; i < 7; ++i) {
        curve->KeySet(i, Frames(i), 1.0f,
                      i == 3 ? KFCURVE_INTERPOLATION_CUBIC : KFCURVE_INTERPOLATION_LINEAR,
                      KFCURVE_TANGENT_USER, i == 3 ? 5.0f : 0.0f, 0.0f);
    }
    curve->CommitKeys(7);
    EXPECT_TRUE(filter.Apply(*curve));
    bool keptBent = false;
    for (int i = 0; i < curve->KeyGetCount(); ++i) keptBent |= curve->KeyGetTime(i) == Frames(3);
    EXPECT_TRUE(keptBent);
    EXPECT_EQ(curve->KeyGetCount(), 1);

    // NaN values never join a run.
    auto withNan =
        MakeCurve({{0, 1}, {1, 1}, {2, std::numeric_limits<float>::quiet_NaN()}, {3, 1}, {4, 1}});
    EXPECT_TRUE(filter.Apply(*withNan));
    EXPECT_EQ(withNan->KeyGetCount(), 5);

    // Keys outside the span are left alone.
    auto spanned = FlatRun(10, 1.0f, 1.0f);
    filter.SetStart(Frames(5));
    EXPECT_TRUE(filter.Apply(*spanned));
    // The range starts one key before the start: key 4 goes with the rest of the run.
    ASSERT_EQ(spanned->KeyGetCount(), 4);
    EXPECT_EQ(spanned->KeyGetTime(3), Frames(3));

    std::unique_ptr<KFCurve> empty(KFCurve::Create());
    EXPECT_FALSE(filter.Apply(*empty));
    EXPECT_EQ(filter.GetError().GetErrorCode(), 0);
    EXPECT_STREQ(filter.GetError().GetErrorText(), "ConstantKeyReducer, No key to be filtered.");
}

TEST(KFCurveFilterConstantKeyReducer, ArrayWalkVisitsEveryCurve) {
    KFCurveFilterConstantKeyReducer filter;
    std::unique_ptr<KFCurve> empty(KFCurve::Create());
    auto flat = FlatRun(5, 3.0f, 3.0f);
    KFCurve* curves[] = {empty.get(), flat.get()};
    EXPECT_TRUE(filter.Apply(curves, 2));
    EXPECT_EQ(flat->KeyGetCount(), 0);
    EXPECT_EQ(filter.GetError().GetErrorCode(), 0);
    EXPECT_TRUE(filter.Apply(curves, 0));
    // A missing array is an empty one.
    EXPECT_TRUE(filter.Apply(static_cast<KFCurve**>(nullptr), 3));
    EXPECT_TRUE(filter.NeedApply(static_cast<KFCurve**>(nullptr), 3));
    KFCurveFilterKeySync sync;
    EXPECT_FALSE(sync.Apply(static_cast<KFCurve**>(nullptr), 3));
    EXPECT_FALSE(sync.NeedApply(static_cast<KFCurve**>(nullptr), 3));
}

namespace {

// The reduction removing each run from the curve as soon as it is found.
void ReferenceReduce(KFCurve& curve, int first, int last, double precision) {
    auto passes = [&](int i, float lo, float hi) {
        if (curve.KeyGetInterpolation(i) == KFCURVE_INTERPOLATION_CUBIC && !curve.KeyIsFlat(i)) {
            return false;
        }
        for (int j = i + 2; j >= i - 2; --j) {
            if (j < first || j > last) continue;
            const float v = curve.KeyGetValue(j);
            if (!(lo <= v && v <= hi)) return false;
        }
        return true;
    };
    int i = last;
    while (i >= first) {
        const float v = curve.KeyGetValue(i);
        const float lo = static_cast<float>(v - precision);
        const float hi = static_cast<float>(v + precision);
        int count = 0;
        int low = i;
        while (i >= first) {
            if (!passes(i, lo, hi)) {
                --i;
                break;
            }
            low = i;
            ++count;
            --i;
        }
        if (count == 0) continue;
        if (count != curve.KeyGetCount()) {
            curve.KeyRemove(low, low + count - 1);
        } else {
            const float kept = curve.KeyGetValue(0);
            curve.KeyClear();
            curve.SetValue(kept);
        }
        last -= count;
    }
}

}  // namespace

TEST(KFCurveFilterConstantKeyReducer, MatchesRemovingRunsOneByOne) {
    TestRandom next(12345u);
    const uint32_t modes[] = {KFCURVE_TANGENT_AUTO, KFCURVE_TANGENT_AUTO_BREAK,
                              KFCURVE_TANGENT_USER, KFCURVE_TANGENT_BREAK, KFCURVE_TANGENT_TCB};
    for (int round = 0; round < 300; ++round) {
        const int n = 1 + static_cast<int>(next(40));
        std::unique_ptr<KFCurve> curve(KFCurve::Create());
        curve->PrepareKeys(n);
        float value = 0.0f;
        for (int k = 0; k < n; ++k) {
            if (next(4) == 0) value = static_cast<float>(next(3));
            const uint32_t kind = next(4);
            const uint32_t interpolation = kind == 0   ? KFCURVE_INTERPOLATION_CONSTANT
                                           : kind == 1 ? KFCURVE_INTERPOLATION_LINEAR
                                                       : KFCURVE_INTERPOLATION_CUBIC;
            const float data = next(3) == 0 ? static_cast<float>(next(5)) - 2.0f : 0.0f;
            curve->KeySet(k, Frames(k), value, interpolation, modes[next(5)], data, data);
        }
        curve->CommitKeys(n);
        std::unique_ptr<KFCurve> reference(KFCurve::Create());
        reference->CopyFrom(*curve, true);

        KFCurveFilterConstantKeyReducer filter;
        if (next(3) == 0) filter.SetStart(Frames(next(static_cast<uint32_t>(n))));
        if (next(3) == 0) filter.SetStop(Frames(next(static_cast<uint32_t>(n))));
        const int first = filter.GetStartKeyIndex(*reference);
        const int last = filter.GetStopKeyIndex(*reference) - 1;
        ReferenceReduce(*reference, first, last, 0.009);
        EXPECT_TRUE(filter.Apply(*curve));

        ASSERT_EQ(curve->KeyGetCount(), reference->KeyGetCount()) << "round " << round;
        EXPECT_EQ(curve->GetValue(), reference->GetValue());
        for (int k = 0; k < curve->KeyGetCount(); ++k) {
            const KFCurveKey a = curve->KeyGetRecord(k);
            const KFCurveKey b = reference->KeyGetRecord(k);
            EXPECT_EQ(a.GetTime(), b.GetTime()) << round << " " << k;
            EXPECT_EQ(a.GetFlags(), b.GetFlags()) << round << " " << k;
            EXPECT_EQ(a.GetDataFloat(0), b.GetDataFloat(0)) << round << " " << k;
            EXPECT_EQ(a.GetDataFloat(1), b.GetDataFloat(1)) << round << " " << k;
        }
    }
}
