#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "FilterTestUtil.h"
#include "animation/KFCurveFilterKeySync.h"
#include "animation/KFCurveFilterTimeShiftAndScale.h"

TEST(KFCurveFilterKeySync, EveryKeyTimeReachesEveryCurve) {
    auto a = MakeCurve({{0, 0}, {10, 10}});
    auto b = MakeCurve({{5, 7}});
    const double aAtFive = a->Evaluate(Frames(5));
    KFCurve* curves[] = {a.get(), b.get()};
    KFCurveFilterKeySync filter;
    EXPECT_TRUE(filter.NeedApply(curves, 2));
    EXPECT_EQ(filter.GetError().GetErrorCode(), 2);
    EXPECT_TRUE(filter.Apply(curves, 2));
    for (KFCurve* curve : curves) {
        ASSERT_EQ(curve->KeyGetCount(), 3);
        EXPECT_EQ(curve->KeyGetTime(0), Frames(0));
        EXPECT_EQ(curve->KeyGetTime(1), Frames(5));
        EXPECT_EQ(curve->KeyGetTime(2), Frames(10));
    }
    EXPECT_FLOAT_EQ(a->KeyGetValue(1), static_cast<float>(aAtFive));
    EXPECT_FLOAT_EQ(b->KeyGetValue(0), 7.0f);
    EXPECT_FLOAT_EQ(b->KeyGetValue(2), 7.0f);

    KFCurveFilterKeySync check;
    EXPECT_FALSE(check.NeedApply(curves, 2));
    EXPECT_EQ(check.GetError().GetErrorCode(), -1);

    // Listeners hear of the new keys.
    auto c = MakeCurve({{0, 0}, {10, 10}});
    auto d = MakeCurve({{5, 7}});
    uint32_t heard = 0;
    auto listen = [](KFCurve*, KFCurveEvent* event, void* data) {
        *static_cast<uint32_t*>(data) |= event->mType;
    };
    c->AddCallback(listen, &heard);
    KFCurve* pair[] = {c.get(), d.get()};
    EXPECT_TRUE(filter.Apply(pair, 2));
    EXPECT_EQ(c->KeyGetCount(), 3);
    EXPECT_TRUE(heard & KFCURVE_EVENT_KEYS);
}

TEST(KFCurveFilterKeySync, SpanLimitsTheKeysTakingPart) {
    auto a = MakeCurve({{0, 0}, {2, 2}, {4, 4}, {6, 6}, {8, 8}});
    auto b = MakeCurve({{1, 1}, {9, 9}});
    KFCurve* curves[] = {a.get(), b.get()};
    KFCurveFilterKeySync filter;
    filter.SetStart(Frames(2));
    filter.SetStop(Frames(6));
    EXPECT_TRUE(filter.Apply(curves, 2));
    // 2, 4 and 6 (both ends included) reach b; 0 and 8 lie outside; a gets nothing new.
    EXPECT_EQ(a->KeyGetCount(), 5);
    ASSERT_EQ(b->KeyGetCount(), 5);
    EXPECT_EQ(b->KeyGetTime(1), Frames(2));
    EXPECT_EQ(b->KeyGetTime(3), Frames(6));
    EXPECT_NEAR(b->KeyGetValue(2), 4.0, 1e-5);

    // A key exactly one tick before the start does not hide the keys after it.
    auto c = MakeCurve({{0, 0}, {3, 3}});
    auto d = MakeCurve({{0, 0}});
    KFCurve* pair[] = {c.get(), d.get()};
    KFCurveFilterKeySync edge;
    edge.SetStart(Frames(0) + KTime(1));
    EXPECT_TRUE(edge.Apply(pair, 2));
    EXPECT_EQ(d->KeyGetCount(), 2);
}

TEST(KFCurveFilterKeySync, Refusals) {
    KFCurveFilterKeySync filter;
    EXPECT_STREQ(filter.GetName(), "FCurve Key Synchronizer");
    auto a = MakeCurve({{0, 0}});
    EXPECT_FALSE(filter.Apply(*a));
    EXPECT_STREQ(filter.GetError().GetErrorText(), "KeySyncFilter, No key were changed by filter.");
    KFCurve* one[] = {a.get()};
    EXPECT_FALSE(filter.Apply(one, 1));

    std::vector<std::unique_ptr<KFCurve>> owned;
    std::vector<KFCurve*> curves;
    for (int i = 0; i < 21; ++i) {
        owned.push_back(MakeCurve({{static_cast<double>(i), 1.0f}}));
        curves.push_back(owned.back().get());
    }
    EXPECT_FALSE(filter.Apply(curves.data(), 21));
    EXPECT_EQ(filter.GetError().GetErrorCode(), 4);
    EXPECT_STREQ(filter.GetError().GetErrorText(),
                 "KeySyncFilter, Curve count is too mush. No support above 20 curves..");
    EXPECT_TRUE(filter.Apply(curves.data(), 20));
    EXPECT_EQ(owned[0]->KeyGetCount(), 20);
    EXPECT_FALSE(filter.NeedApply(curves.data(), 20));

    std::unique_ptr<KFCurve> e1(KFCurve::Create()), e2(KFCurve::Create());
    KFCurve* empties[] = {e1.get(), e2.get()};
    EXPECT_TRUE(filter.Apply(empties, 2));
    EXPECT_EQ(e1->KeyGetCount(), 0);

    auto x = MakeCurve({{0, 0}, {1, 1}});
    auto y = MakeCurve({{0, 0}, {2, 1}});
    KFCurve* shifted[] = {x.get(), y.get()};
    KFCurveFilterKeySync check;
    EXPECT_TRUE(check.NeedApply(shifted, 2));
    EXPECT_EQ(check.GetError().GetErrorCode(), 3);
    EXPECT_STREQ(check.GetError().GetErrorText(), "KeySyncFilter, keys are not synchronized.");
}

TEST(KFCurveFilterTimeShiftAndScale, ShiftThenScale) {
    KFCurveFilterTimeShiftAndScale filter;
    EXPECT_STREQ(filter.GetName(), "TimeShiftAndScaleFilter");
    auto curve = MakeCurve({{0, 0}, {30, 1}});
    EXPECT_FALSE(filter.Apply(*curve));
    EXPECT_EQ(filter.GetError().GetErrorCode(), 1);

    filter.SetShift(Frames(10));
    EXPECT_TRUE(filter.Apply(*curve));
    EXPECT_EQ(curve->KeyGetTime(0), Frames(10));
    EXPECT_EQ(curve->KeyGetTime(1), Frames(40));

    auto second = MakeCurve({{30, 0}});
    filter.SetShift(KTIME_ZERO);
    filter.SetScale(2.0);
    EXPECT_TRUE(filter.Apply(*second));
    EXPECT_EQ(second->KeyGetTime(0), KTIME_ONE_SECOND * 2);

    auto both = MakeCurve({{30, 0}});
    filter.SetShift(KTIME_ONE_SECOND);
    EXPECT_TRUE(filter.Apply(*both));
    EXPECT_EQ(both->KeyGetTime(0), KTIME_ONE_SECOND * 4);

    auto negative = MakeCurve({{30, 0}});
    filter.SetShift(KTIME_ZERO);
    filter.SetScale(-1.0);
    EXPECT_FALSE(filter.Apply(*negative));
    EXPECT_STREQ(filter.GetError().GetErrorText(),
                 "TimeShiftAndScaleFilter, No key were changed by filter.");
    filter.SetShift(Frames(5));
    EXPECT_TRUE(filter.Apply(*negative));
    EXPECT_EQ(negative->KeyGetTime(0), Frames(35));

    // A shift past the end of time stops there instead of wrapping to the far past.
    auto late = MakeCurve({{0, 0}, {30, 1}});
    filter.SetScale(1.0);
    filter.SetShift(KTime(KTime::kInfinite - KTIME_ONE_SECOND.Get() / 2));
    EXPECT_TRUE(filter.Apply(*late));
    EXPECT_EQ(late->KeyGetTime(0), KTime(KTime::kInfinite - KTIME_ONE_SECOND.Get() / 2));
    EXPECT_EQ(late->KeyGetTime(1), KTIME_INFINITE);
    filter.SetShift(KTime(KTime::kMinusInfinite));
    EXPECT_TRUE(filter.Apply(*late));
    EXPECT_LE(late->KeyGetTime(0), late->KeyGetTime(1));

    std::unique_ptr<KFCurve> empty(KFCurve::Create());
    EXPECT_FALSE(filter.Apply(*empty));
    EXPECT_STREQ(filter.GetError().GetErrorText(),
                 "TimeShiftAndScaleFilter, No key to be filtered.");
}

namespace {

// Synchronisation inserting one key at a time, every curve in step, from the smallest key time
// past the start on.
void SyncOneByOne(KFCurve** curves, int count, KTime start, KTime stop) {
    std::vector<std::unique_ptr<KFCurve>> before;
    for (int c = 0; c < count; ++c) before.emplace_back(curves[c]->Clone());
    KTime t = start == KTIME_MINUS_INFINITE ? start : start - KTime(1);
    for (;;) {
        KTime next = KTIME_INFINITE;
        for (int c = 0; c < count; ++c) {
            for (int k = 0; k < curves[c]->KeyGetCount(); ++k) {
                const KTime time = curves[c]->KeyGetTime(k);
                if (time > t && time < next) next = time;
            }
        }
        if (next == KTIME_INFINITE || next > stop) break;
        t = next;
        for (int c = 0; c < count; ++c) {
            const int index = curves[c]->KeyInsert(t);
            curves[c]->KeySetValue(index, static_cast<float>(before[size_t(c)]->Evaluate(t)));
        }
        t = t + KTime(1);
    }
}

void ExpectSameKeys(KFCurve& a, KFCurve& b) {
    ASSERT_EQ(a.KeyGetCount(), b.KeyGetCount());
    for (int k = 0; k < a.KeyGetCount(); ++k) {
        const KFCurveKey x = a.KeyGetRecord(k);
        const KFCurveKey y = b.KeyGetRecord(k);
        EXPECT_EQ(x.GetTime(), y.GetTime()) << k;
        EXPECT_EQ(x.GetFlags(), y.GetFlags()) << k;
        EXPECT_EQ(x.GetBias(), y.GetBias()) << k;
        // Bit patterns: NaN-free values must match exactly.
        EXPECT_EQ(x.GetValue(), y.GetValue()) << k;
        for (int slot = KFCURVE_DATA_0; slot <= KFCURVE_NEXT_LEFT_VELOCITY; ++slot) {
            EXPECT_EQ(x.GetDataFloat(slot), y.GetDataFloat(slot)) << k << " slot " << slot;
        }
    }
}

}  // namespace

TEST(KFCurveFilterKeySync, MatchesInsertingKeysOneByOne) {
    TestRandom next(11u);
    const uint32_t kinds[][2] = {{KFCURVE_INTERPOLATION_CONSTANT, 0},
                                 {KFCURVE_INTERPOLATION_LINEAR, 0},
                                 {KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO},
                                 {KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_AUTO_BREAK},
                                 {KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_USER},
                                 {KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_BREAK},
                                 {KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_TCB}};
    for (int round = 0; round < 200; ++round) {
        const int count = 2 + static_cast<int>(next(3));
        std::vector<std::unique_ptr<KFCurve>> mine, theirs;
        std::vector<KFCurve*> a, b;
        for (int c = 0; c < count; ++c) {
            std::unique_ptr<KFCurve> curve(KFCurve::Create());
            const int keys = static_cast<int>(next(12));
            int frame = static_cast<int>(next(6));
            curve->PrepareKeys(keys);
            for (int k = 0; k < keys; ++k, frame += 1 + static_cast<int>(next(4))) {
                const auto& kind = kinds[next(7)];
                curve->KeySet(k, Frames(frame), static_cast<float>(next(200)) * 0.1f - 10.0f,
                              kind[0], kind[1], static_cast<float>(next(9)) - 4.0f,
                              static_cast<float>(next(9)) - 4.0f,
                              next(2) ? KFCURVE_WEIGHTED_ALL : KFCURVE_WEIGHTED_NONE,
                              0.1f + 0.1f * static_cast<float>(next(5)),
                              0.1f + 0.1f * static_cast<float>(next(5)));
            }
            curve->CommitKeys(keys);
            if (next(8) == 0) curve->SetPostExtrapolation(KFCURVE_EXTRAPOLATION_REPETITION);
            theirs.emplace_back(curve->Clone());
            mine.push_back(std::move(curve));
            a.push_back(mine.back().get());
            b.push_back(theirs.back().get());
        }
        KFCurveFilterKeySync filter;
        if (next(3) == 0) filter.SetStart(Frames(next(20)));
        if (next(3) == 0) filter.SetStop(Frames(10 + next(30)));
        EXPECT_TRUE(filter.Apply(a.data(), count));
        SyncOneByOne(b.data(), count, filter.GetStart(), filter.GetStop());
        for (int c = 0; c < count; ++c) {
            SCOPED_TRACE(testing::Message() << "round " << round << " curve " << c);
            ExpectSameKeys(*a[size_t(c)], *b[size_t(c)]);
        }
    }
}
