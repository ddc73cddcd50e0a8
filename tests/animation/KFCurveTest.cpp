// Curve object: key record, storage, copies and change notification.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "CurveTestUtil.h"

namespace {

struct Recorder {
    std::vector<KFCurveEvent> events;
    static void Callback(KFCurve*, KFCurveEvent* event, void* data) {
        static_cast<Recorder*>(data)->events.push_back(*event);
    }
    int Count(uint32_t kind) const {
        int n = 0;
        for (const KFCurveEvent& event : events) n += (event.mType & kind) ? 1 : 0;
        return n;
    }
};

TEST(KFCurveKeyTest, WeightsAreStoredAsTruncatedFloatProducts) {
    KFCurveKey key;
    key.Init();
    key.SetInterpolation(KFCURVE_INTERPOLATION_CUBIC);
    key.SetDataFloat(KFCURVE_RIGHT_WEIGHT, 1.5f);
    EXPECT_EQ(key.GetDataFloat(KFCURVE_RIGHT_WEIGHT), 9899 * KFCURVE_WEIGHT_UNIT);
    key.SetDataFloat(KFCURVE_RIGHT_WEIGHT, 0.0f);
    EXPECT_EQ(key.GetDataFloat(KFCURVE_RIGHT_WEIGHT), 1 * KFCURVE_WEIGHT_UNIT);
    key.SetDataFloat(KFCURVE_NEXT_LEFT_WEIGHT, 1.0f / 3.0f);
    EXPECT_EQ(key.GetDataFloat(KFCURVE_NEXT_LEFT_WEIGHT), 3333 * KFCURVE_WEIGHT_UNIT);
    // Velocities are not clamped, only kept inside the 16-bit field.
    key.SetDataFloat(KFCURVE_RIGHT_VELOCITY, -2.0f);
    EXPECT_EQ(key.GetDataFloat(KFCURVE_RIGHT_VELOCITY), -19998 * KFCURVE_WEIGHT_UNIT);
    key.SetDataFloat(KFCURVE_NEXT_LEFT_VELOCITY, 1e9f);
    EXPECT_EQ(key.GetDataFloat(KFCURVE_NEXT_LEFT_VELOCITY), 32767 * KFCURVE_WEIGHT_UNIT);
}

TEST(KFCurveKeyTest, BecomingCubicResetsWeightsOnlyOnce) {
    KFCurveKey key;
    key.Set(KTime(5), 1.0f, KFCURVE_INTERPOLATION_LINEAR, 0, 0, 0, KFCURVE_WEIGHTED_ALL, 0.5f, 0.6f,
            0.7f, 0.8f);
    key.SetInterpolation(KFCURVE_INTERPOLATION_CUBIC);
    EXPECT_EQ(key.GetFlags() & (KFCURVE_WEIGHTED_ALL | KFCURVE_VELOCITY_ALL), 0u);
    EXPECT_EQ(key.GetDataFloat(KFCURVE_RIGHT_WEIGHT), 3333 * KFCURVE_WEIGHT_UNIT);
    EXPECT_EQ(key.GetDataFloat(KFCURVE_RIGHT_VELOCITY), 0.0f);

    key.SetDataFloat(KFCURVE_RIGHT_WEIGHT, 0.5f);
    key.SetInterpolation(KFCURVE_INTERPOLATION_CUBIC);
    EXPECT_EQ(key.GetDataFloat(KFCURVE_RIGHT_WEIGHT), 4999 * KFCURVE_WEIGHT_UNIT);
}

TEST(KFCurveKeyTest, TcbKeyIsNeverWeighted) {
    KFCurve curve;
    curve.PrepareKeys(3);
    curve.KeySet(0, Sec(0), 0.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_USER, 0, 0,
                 KFCURVE_WEIGHTED_ALL, 0.9f, 0.9f);
    curve.KeySet(1, Sec(1), 4.0f, KFCURVE_INTERPOLATION_CUBIC, KFCURVE_TANGENT_USER, 0, 0,
                 KFCURVE_WEIGHTED_ALL, 0.9f, 0.9f);
    curve.KeySet(2, Sec(2), 2.0f, KFCURVE_INTERPOLATION_LINEAR);
    curve.CommitKeys(3);
    curve.KeySetTCB(1, Sec(1), 4.0f, 0.2f, 0.3f, 0.4f);

    const KFCurveKey* key = curve.KeyGet(1);
    EXPECT_EQ(key->GetFlags() & KFCURVE_WEIGHTED_ALL, 0u);
    EXPECT_EQ(key->GetDataFloat(KFCURVE_RIGHT_WEIGHT), 3333 * KFCURVE_WEIGHT_UNIT);
    EXPECT_FALSE(curve.KeyIsRightTangentWeighted(1));
    EXPECT_EQ(curve.KeyGetDataSlot(1, KFCURVE_TCB_BIAS), 0.4f);
    EXPECT_EQ(curve.KeyGetDataSlot(1, KFCURVE_DATA_0), 0.2f);
    EXPECT_EQ(curve.KeyGetTangentMode(1), KFCURVE_TANGENT_TCB);

    // Same segment built from a fresh key: identical values.
    KFCurve fresh;
    fresh.CopyFrom(curve);
    KFCurveKey clean;
    clean.SetTCB(Sec(1), 4.0f, 0.2f, 0.3f, 0.4f);
    fresh.KeyReplace(1, clean);
    for (double t = 1.0; t <= 2.0; t += 0.125) {
        EXPECT_DOUBLE_EQ(curve.Evaluate(Sec(t)), fresh.Evaluate(Sec(t))) << t;
    }
}

TEST(KFCurveTest, StartsWithTheDocumentedState) {
    KFCurve curve;
    EXPECT_EQ(curve.KeyGetCount(), 0);
    EXPECT_EQ(curve.GetColor()[0], 1.0f);
    EXPECT_EQ(curve.GetColor()[2], 1.0f);
    EXPECT_EQ(curve.GetValue(), 0.0f);
    EXPECT_EQ(curve.GetPreExtrapolation(), KFCURVE_EXTRAPOLATION_CONSTANT);
    EXPECT_EQ(curve.GetPostExtrapolationCount(), 0u);
    EXPECT_EQ(curve.GetEvaluationCacheTime(), KTIME_INFINITE);
    EXPECT_TRUE(curve.GetImmediateNotification());
    EXPECT_EQ(curve.Evaluate(Sec(3)), 0.0);
    float rgb[3] = {0.1f, 0.2f, 0.3f};
    curve.SetColor(rgb);
    curve.SetColor(nullptr);
    EXPECT_EQ(curve.GetColor()[1], 0.2f);
}

TEST(KFCurveTest, PrepareAndCommitFillKeysWithOneDelivery) {
    Recorder recorder;
    KFCurve curve;
    curve.AddCallback(&Recorder::Callback, &recorder);
    curve.PrepareKeys(60);
    for (int i = 0; i < 60; ++i) {
        curve.KeySet(i, Sec(i), static_cast<float>(i * i), KFCURVE_INTERPOLATION_LINEAR);
    }
    curve.KeySetValue(3, 100.0f);
    EXPECT_TRUE(recorder.events.empty());
    curve.CommitKeys(60);
    ASSERT_EQ(recorder.events.size(), 1u);
    EXPECT_EQ(curve.KeyGetCount(), 60);
    EXPECT_EQ(curve.KeyGetValue(59), 59.0f * 59.0f);
    EXPECT_EQ(curve.KeyGetValue(3), 100.0f);
    EXPECT_EQ(curve.KeyGetTime(30), Sec(30));
}

TEST(KFCurveTest, GrowingNeverMovesAKey) {
    KFCurve curve;
    curve.KeyAppendFast(KTime(0), 1.0f);
    const KFCurveKey* first = curve.KeyGet(0);
    for (int i = 1; i < 5000; ++i) curve.KeyAppendFast(KTime(int64_t(i) * 1000), float(i));
    EXPECT_EQ(curve.KeyGet(0), first);
    EXPECT_EQ(curve.KeyGetValue(0), 1.0f);
    EXPECT_EQ(curve.KeyGetValue(4999), 4999.0f);
    // Removing and inserting shift only the keys after the edit.
    const KFCurveKey* k10 = curve.KeyGet(10);
    curve.KeyRemoveAt(20);
    curve.KeyAdd(KTime(19500), *curve.KeyGet(3));
    EXPECT_EQ(curve.KeyGet(10), k10);
    EXPECT_EQ(curve.KeyGetCount(), 5000);
    for (int i = 1; i < curve.KeyGetCount(); ++i)
        ASSERT_LT(curve.KeyGetTime(i - 1).Get(), curve.KeyGetTime(i).Get()) << i;
}

// Runs end where one allocation ends: each Reserve that grows makes one allocation.
TEST(KFCurveKeyBlocksTest, RunsFollowTheAllocations) {
    KFCurveKeyBlocks<KFCurveKey> blocks;
    blocks.Reserve(70);  // 96 records in one allocation
    blocks.Reserve(90);  // nothing new
    blocks.Reserve(97);  // one more block of its own
    ASSERT_EQ(blocks.size(), 128u);
    const struct {
        size_t at, limit, run;
    } cases[] = {
        {0, 128, 96},  {31, 128, 65}, {32, 40, 8}, {95, 128, 1},
        {96, 128, 32}, {100, 101, 1}, {0, 96, 96}, {64, 70, 6},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(blocks.Run(c.at, c.limit), c.run) << c.at << " " << c.limit;
        // Every record of a run is where stepping a pointer finds it.
        const KFCurveKey* first = &blocks[c.at];
        for (size_t r = 0; r < c.run; ++r) ASSERT_EQ(&blocks[c.at + r], first + r);
    }
}

TEST(KFCurveKeyBlocksTest, OverwriteLeavesOnlyTheSlotsBelowItsCountUnset) {
    const KFCurveKey blank;
    for (size_t count : {1u, 31u, 32u, 33u, 100u}) {
        KFCurveKeyBlocks<KFCurveKey> blocks;
        blocks.ReserveForOverwrite(count);
        ASSERT_GE(blocks.size(), count);
        ASSERT_EQ(blocks.Run(0, blocks.size()), blocks.size()) << count;
        for (size_t i = count; i < blocks.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(blocks[i].GetFlags(), 0u);
            EXPECT_EQ(blocks[i].GetTime(), KTime(0));
            EXPECT_EQ(blocks[i].GetDataFloat(KFCURVE_RIGHT_WEIGHT), 0.0f);
        }
        for (size_t i = 0; i < count; ++i) blocks[i] = blank;
        blocks.Reserve(count + 40);  // growing later zero-fills as before
        for (size_t i = count; i < count + 40; ++i) ASSERT_EQ(blocks[i].GetFlags(), 0u);
    }
}

// Walking keys run by run visits each key once, in order, at its own address, however the
// curve grew.
TEST(KFCurveTest, KeyRunsCoverEveryKeyOnce) {
    KFCurve appended;
    for (int i = 0; i < 200; ++i) appended.KeyAppendFast(KTime(int64_t(i) * 1000), float(i));
    KFCurve sized;
    sized.PrepareKeys(150);
    for (int i = 0; i < 150; ++i) sized.KeySet(i, KTime(i), float(i));
    sized.CommitKeys(150);
    KFCurve empty;
    for (const KFCurve* curve : {&appended, &sized, &empty}) {
        int visited = 0, runs = 0;
        for (int i = 0; i < curve->KeyGetCount();) {
            int run = 0;
            const KFCurveKey* keys = curve->KeyGetRun(i, run);
            ASSERT_GT(run, 0);
            ++runs;
            for (int r = 0; r < run; ++r, ++i, ++visited) ASSERT_EQ(keys + r, curve->KeyGet(i));
        }
        EXPECT_EQ(visited, curve->KeyGetCount());
        if (curve == &sized) {
            EXPECT_EQ(runs, 1);
        }
        int run = 7;
        EXPECT_EQ(curve->KeyGetRun(curve->KeyGetCount(), run), nullptr);
        EXPECT_EQ(run, 0);
        EXPECT_EQ(curve->KeyGetRun(-1, run), nullptr);
    }
}

TEST(KFCurveTest, CopyAndCloneCarryEverything) {
    KFCurve curve;
    curve.SetValue(7.0f);
    curve.SetTag(42);
    curve.SetPostExtrapolation(KFCURVE_EXTRAPOLATION_MIRROR_REPETITION);
    curve.SetPostExtrapolationCount(3);
    for (int i = 0; i < 40; ++i) AddKey(curve, i * 0.1, static_cast<float>(i % 7));

    std::unique_ptr<KFCurve> full(curve.Clone());
    EXPECT_EQ(full->KeyGetCount(), 40);
    EXPECT_EQ(full->GetTag(), 42u);
    EXPECT_EQ(full->GetPostExtrapolationCount(), 3u);
    for (double t = -1; t < 10; t += 0.37)
        EXPECT_EQ(full->Evaluate(Sec(t)), curve.Evaluate(Sec(t)));

    std::unique_ptr<KFCurve> partial(curve.Clone(Sec(0), Sec(1)));
    EXPECT_EQ(partial->KeyGetCount(), 0);
    EXPECT_EQ(partial->GetValue(), 7.0f);
    EXPECT_EQ(partial->GetTag(), 42u);

    full->CopyFrom(curve, false);
    EXPECT_EQ(full->KeyGetCount(), 0);
    EXPECT_EQ(full->GetValue(), 7.0f);
}

TEST(KFCurveNotificationTest, KeyClearOnAnEmptyCurveStillReports) {
    Recorder recorder;
    KFCurve curve;
    curve.AddCallback(&Recorder::Callback, &recorder);
    curve.KeyClear();
    ASSERT_EQ(recorder.events.size(), 1u);
    EXPECT_EQ(recorder.events[0].mType, KFCURVE_EVENT_KEYS);
    EXPECT_EQ(recorder.events[0].mKeyIndexStart, -1);
}

TEST(KFCurveNotificationTest, SuspendedChangesCoalesceIntoOneRecord) {
    Recorder recorder;
    KFCurve curve;
    for (int i = 0; i < 12; ++i) AddKey(curve, i, 0.0f);
    curve.AddCallback(&Recorder::Callback, &recorder);
    const uint32_t counter = curve.GetChangeCounter();
    curve.SuspendChangeNotification();
    curve.KeySetValue(5, 1.0f);
    curve.KeySetValue(2, 1.0f);
    curve.KeySetValue(9, 1.0f);
    EXPECT_TRUE(recorder.events.empty());
    curve.ResumeChangeNotification();
    ASSERT_EQ(recorder.events.size(), 1u);
    const KFCurveEvent& event = recorder.events[0];
    EXPECT_EQ(event.mType, KFCURVE_EVENT_KEY_VALUE);
    EXPECT_EQ(event.mKeyIndexStart, 2);
    EXPECT_EQ(event.mKeyIndexStop, 9);
    EXPECT_EQ(event.mEventCount, 3);
    EXPECT_EQ(curve.GetChangeCounter(), counter + 4);

    curve.SuspendChangeNotification();
    curve.KeySetValue(1, 2.0f);
    curve.DiscardPendingChanges();
    curve.ResumeChangeNotification();
    EXPECT_EQ(recorder.events.size(), 1u);
}

TEST(KFCurveNotificationTest, DestructionDeliversKind512Once) {
    Recorder first, second;
    {
        KFCurve curve;
        AddKey(curve, 0, 1.0f);
        curve.AddCallback(&Recorder::Callback, &first);
        curve.AddCallback(&Recorder::Callback, &second);
        curve.SuspendChangeNotification();
        curve.KeySetValue(0, 3.0f);
    }
    EXPECT_EQ(first.Count(KFCURVE_EVENT_DESTROY), 1);
    EXPECT_EQ(second.Count(KFCURVE_EVENT_DESTROY), 1);
    // The pending change is not lost: it travels with the destruction.
    EXPECT_EQ(first.Count(KFCURVE_EVENT_KEY_VALUE), 1);
}

// A link that unregisters itself when its curve goes away.
struct SelfRemovingLink {
    int calls = 0;
    static void Callback(KFCurve* curve, KFCurveEvent* event, void* data) {
        auto* link = static_cast<SelfRemovingLink*>(data);
        ++link->calls;
        if (event->mType & KFCURVE_EVENT_DESTROY) curve->RemoveCallback(&Callback, data);
    }
};

TEST(KFCurveNotificationTest, CallbackMayRemoveItselfDuringDispatch) {
    SelfRemovingLink link;
    Recorder after;
    {
        KFCurve curve;
        curve.AddCallback(&SelfRemovingLink::Callback, &link);
        curve.AddCallback(&Recorder::Callback, &after);
        curve.SetValue(1.0f);
        EXPECT_EQ(link.calls, 1);
    }
    EXPECT_EQ(link.calls, 3);  // value, key clear, destruction
    EXPECT_EQ(after.Count(KFCURVE_EVENT_DESTROY), 1);
    EXPECT_EQ(after.events.size(), 3u);
}

struct Remover {
    KFCurve* curve;
    Recorder* victim;
    static void Callback(KFCurve* curve, KFCurveEvent*, void* data) {
        curve->RemoveCallback(&Recorder::Callback, static_cast<Remover*>(data)->victim);
    }
};

TEST(KFCurveNotificationTest, CallbackRemovedByAnEarlierOneIsNotCalled) {
    Recorder victim;
    KFCurve curve;
    Remover remover{&curve, &victim};
    curve.AddCallback(&Remover::Callback, &remover);
    curve.AddCallback(&Recorder::Callback, &victim);
    curve.SetValue(2.0f);
    curve.SetValue(3.0f);
    EXPECT_TRUE(victim.events.empty());
}

struct NestedChanger {
    bool done = false;
    static void Callback(KFCurve* curve, KFCurveEvent*, void* data) {
        auto* self = static_cast<NestedChanger*>(data);
        if (self->done) return;
        self->done = true;
        curve->SetValue(5.0f);
    }
};

TEST(KFCurveNotificationTest, NestedChangesLoseNoRecord) {
    NestedChanger changer;
    Recorder recorder;
    KFCurve curve;
    AddKey(curve, 0, 1.0f);
    curve.AddCallback(&NestedChanger::Callback, &changer);
    curve.AddCallback(&Recorder::Callback, &recorder);
    curve.KeySetValue(0, 2.0f);
    ASSERT_EQ(recorder.events.size(), 2u);
    EXPECT_EQ(recorder.Count(KFCURVE_EVENT_DEFAULT_VALUE), 1);
    EXPECT_EQ(recorder.Count(KFCURVE_EVENT_KEY_VALUE), 1);
    for (const KFCurveEvent& event : recorder.events) EXPECT_EQ(event.mEventCount, 1);
}

TEST(KFCurveNotificationTest, RemoveCallbackTakesTheLastMatchingRegistration) {
    Recorder a, b;
    KFCurve curve;
    curve.AddCallback(&Recorder::Callback, &a);
    curve.AddCallback(&Recorder::Callback, &b);
    curve.AddCallback(&Recorder::Callback, &a);
    curve.RemoveCallback(&Recorder::Callback, &a);
    curve.RemoveCallback(&Recorder::Callback, &b);
    curve.RemoveCallback(&Recorder::Callback, &b);  // absent: nothing
    curve.SetValue(1.0f);
    EXPECT_EQ(a.events.size(), 1u);
    EXPECT_TRUE(b.events.empty());
}

}  // namespace
