#include <gtest/gtest.h>

#include <cmath>

#include "Test3ds.h"

#include "animation/KFCurve.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovCamera.h"
#include "attributes/KQovLight.h"
#include "formats/geometry/3ds/Axes3ds.h"
#include "formats/geometry/3ds/KeyframeNodes3ds.h"
#include "formats/geometry/3ds/NodeAnimation3ds.h"
#include "foundation/KQuaternion.h"
#include "foundation/KRotationOrder.h"

namespace {

// Channel "T", "R" or "S" of a take at a frame.
KVector4 At(KQovTakeNode* take, const char* channel, int frame) {
    KVector4 v;
    const char* axes[3] = {"X", "Y", "Z"};
    for (int i = 0; i < 3; ++i)
        v[i] = take->FindCurve("Transform", channel, axes[i])->Evaluate(FrameTime3ds(frame));
    return v;
}

// Scene animation written as key-frame tracks and read back keeps every frame.
TEST(NodeAnimation3ds, WrittenNodesReadBackAtFrameTimes) {
    KQovNode source(nullptr, "Model::Box");
    source.AddTakeNode("anim");
    source.SetCurrentTakeNode("anim");
    KQovTakeNode* take = source.GetCurrentTakeNode();
    Keys3ds(take->GetTranslationX(), {{0, 1}, {12, -4}});
    Keys3ds(take->GetTranslationY(), {{0, 2}, {12, 8}});
    Keys3ds(take->GetTranslationZ(), {{0, 3}});
    Keys3ds(take->GetRotationX(), {{0, 10}, {6, 120}, {12, 200}});
    Keys3ds(take->GetRotationY(), {{0, -30}, {12, 40}});
    Keys3ds(take->GetRotationZ(), {{0, 0}, {12, 75}});
    Keys3ds(take->GetScalingX(), {{0, 1}, {12, 2}});
    Keys3ds(take->GetScalingY(), {{0, 1}});
    Keys3ds(take->GetScalingZ(), {{0, 3}});
    Context3ds ctx;
    ObjectMotion3ds* motion = BuildObjectMotion3ds(ctx, source, KeyframeSettings3ds{});
    ASSERT_NE(motion, nullptr);
    ASSERT_EQ(motion->pos.keys.size(), 13u);
    KQovNode back(nullptr, "Model::Back");
    ASSERT_TRUE(ReadObjectAnimation3ds(back, *motion, {}));
    KQovTakeNode* read = back.GetCurrentTakeNode();
    EXPECT_STREQ(read->GetName(), "default take");
    for (int f = 0; f <= 12; ++f) {
        EXPECT_LT((At(read, "T", f) - At(take, "T", f)).Length(), 1e-4) << f;
        EXPECT_LT((At(read, "S", f) - At(take, "S", f)).Length(), 1e-4) << f;
        KMatrix want, got;
        KMatrixSetRotationXYZ(want, At(take, "R", f));
        KMatrixSetRotationXYZ(got, At(read, "R", f));
        EXPECT_EQ(KMatrixCompare3x3(want, got, 1e-3), 0) << f;
    }
    // The same tracks read without animation give the first key's values only.
    KQovNode still(nullptr, "Model::Still");
    TrackReading3ds off;
    off.animate = false;
    off.scale = 2;
    ASSERT_TRUE(ReadObjectAnimation3ds(still, *motion, off));
    KVector4 t, s;
    still.GetLocalTranslation(t);
    still.GetLocalScaling(s);
    EXPECT_LT((t - KVector4(2, 4, 6)).Length(), 1e-5);
    EXPECT_LT((s - KVector4(1, 1, 3)).Length(), 1e-6);
    EXPECT_EQ(still.GetCurrentTakeNode()->GetTranslationX()->KeyGetCount(), 0);
    EXPECT_FALSE(ReadObjectAnimation3ds(still, *motion, off));  // the take exists already
    ReleaseObjectMotion3ds(&motion);
}

// Lights and cameras: the cone from the falloff, static lens and roll, the target's position.
TEST(NodeAnimation3ds, SpotsAndCamerasWithTargets) {
    KQovLight* light = new KQovLight(nullptr);
    KQovCamera* lens = new KQovCamera(nullptr);
    KQovNode spot(nullptr, "Model::Spot"), camera(nullptr, "Model::Cam");
    KQovNode spotTarget(nullptr, "Model::Spot.Target"), camTarget(nullptr, "Model::Cam.Target");
    spot.SetNodeAttribute(light);
    camera.SetNodeAttribute(lens);
    Context3ds ctx;
    SpotlightMotion3ds* s = nullptr;
    InitSpotlightMotion3ds(ctx, &s, 1, 1, 1, 1, 1, 1);
    s->hotspot.values[0] = 20;
    s->falloff.values[0] = 35;
    s->targetPos.values[0] = {1, 2, 3};
    ASSERT_TRUE(ReadSpotlightAnimation3ds(spot, &spotTarget, *s, {}));
    EXPECT_EQ(light->GetDefaultConeAngle(), 35);
    KVector4 t;
    spotTarget.GetLocalTranslation(t);
    EXPECT_EQ(t, KVector4(1, 3, -2));
    CameraMotion3ds* c = nullptr;
    InitCameraMotion3ds(ctx, &c, 1, 1, 1, 0);  // no target keys: at the origin
    c->fov.values[0] = 60;
    c->roll.values[0] = 15;
    ASSERT_TRUE(ReadCameraAnimation3ds(camera, &camTarget, *c, {}));
    EXPECT_EQ(lens->GetDefaultFieldOfView(), 60);
    EXPECT_EQ(lens->GetDefaultRoll(), 15);
    EXPECT_STREQ(camTarget.GetCurrentTakeNode()->GetName(), "default take");
    ReleaseSpotlightMotion3ds(&s);
    ReleaseCameraMotion3ds(&c);
    spot.SetNodeAttribute(nullptr);
    camera.SetNodeAttribute(nullptr);
    delete light;
    delete lens;
}

// A turn past 180 degrees between keys is sampled at every frame, within the frames a read
// may spend on following rotations; past them the keys stay as they are, counted. A turn the
// keys' Euler curves follow keeps its keys.
TEST(NodeAnimation3ds, RotationsFollowTheFileWithinTheirFrames) {
    const struct {
        const char* what;
        float degrees;
        int64_t frames;
        int keys;
        size_t unfollowed;
    } cases[] = {{"229 degrees, sampled", 229, 1000, 31, 0},
                 {"229 degrees past the frames", 229, 40, 2, 1},
                 {"90 degrees kept", 90, 1000, 2, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ObjectMotion3ds motion;
        motion.rot.keys.resize(2);
        motion.rot.keys[1].time = 30;
        motion.rot.values = {{0, 0, 0, 1}, {float(c.degrees * 3.14159265358979 / 180), 0, 0, 1}};
        TrackReading3ds reading;
        int64_t frames = c.frames;
        size_t unfollowed = 0;
        reading.rotationFrames = &frames;
        reading.rotationsUnfollowed = &unfollowed;
        KQovNode node(nullptr, "Model::Wheel");
        ASSERT_TRUE(ReadObjectAnimation3ds(node, motion, reading));
        KQovTakeNode* take = node.GetCurrentTakeNode();
        EXPECT_EQ(take->GetRotationY()->KeyGetCount(), c.keys);
        EXPECT_EQ(unfollowed, c.unfollowed);
        if (c.keys == 31) {
            // Halfway, half the turn, the file's way round (the scene turns the other way).
            KMatrix m;
            KMatrixSetRotationXYZ(m, At(take, "R", 15));
            KQuaternion q;
            KQuaternionFromMatrix(q, m);
            EXPECT_NEAR(std::acos(q[3]) * 2 * 180 / 3.14159265358979, 114.5, 1e-3);
        }
    }
}

// Each hide key turns the node's visibility over, visible before the first: "Visibility" keys
// that hold their value, the node hidden when frame 0 is; without animation, frame 0's state.
TEST(NodeAnimation3ds, HideKeysTurnVisibilityOver) {
    const struct {
        std::vector<uint32_t> frames;
        bool animate;
        std::vector<std::pair<int, float>> keys;  // frame, visibility
        bool visible;
    } cases[] = {{{5, 9}, true, {{0, 1}, {5, 0}, {9, 1}}, true},
                 {{0, 12, 12, 20}, true, {{0, 0}, {12, 1}, {20, 0}}, false},
                 {{0, 12}, false, {}, false},
                 {{3}, false, {}, true}};
    for (const auto& c : cases) {
        ObjectMotion3ds motion;
        for (uint32_t f : c.frames) {
            KeyHeader3ds key;
            key.time = f;
            motion.hide.keys.push_back(key);
            motion.hide.values.emplace_back();
        }
        TrackReading3ds reading;
        reading.animate = c.animate;
        KQovNode node(nullptr, "Model::Blink");
        ASSERT_TRUE(ReadObjectAnimation3ds(node, motion, reading));
        KFCurve* visibility = node.GetCurrentTakeNode()->GetVisibility();
        ASSERT_NE(visibility, nullptr);
        ASSERT_EQ(visibility->KeyGetCount(), int(c.keys.size()));
        for (size_t k = 0; k < c.keys.size(); ++k) {
            EXPECT_EQ(visibility->KeyGetTime(int(k)), FrameTime3ds(c.keys[k].first));
            EXPECT_EQ(visibility->KeyGetValue(int(k)), c.keys[k].second);
            // Held up to the next key.
            EXPECT_EQ(visibility->Evaluate(FrameTime3ds(c.keys[k].first + 1)), c.keys[k].second);
        }
        EXPECT_EQ(node.GetVisibility(), c.visible);
    }
}

}  // namespace
