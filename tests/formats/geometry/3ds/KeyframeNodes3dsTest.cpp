#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <unordered_set>

#include "animation/KFCurve.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovCamera.h"
#include "attributes/KQovLight.h"
#include "attributes/KQovMesh.h"
#include "attributes/KQovNull.h"
#include "attributes/KQovSkeleton.h"
#include "formats/geometry/3ds/Axes3ds.h"
#include "formats/geometry/3ds/KeyframeNodes3ds.h"

namespace {

// A parent of each kind with one child; attributes are owned here.
struct Family {
    KQovNode parent, child{nullptr, "Model::Child"};
    std::unique_ptr<KQovNodeAttribute> attribute;
    Family(const char* name, KQovNodeAttribute* a) : parent(nullptr, name), attribute(a) {
        if (a) parent.SetNodeAttribute(a);
        parent.AddChild(&child);
    }
    ~Family() { parent.SetNodeAttribute(nullptr); }
};

// Every parent reference names the node written for the parent: a mesh, light or camera by
// its name, any other node (null, joint, marker, none) and a light or camera written as a
// dummy by the dummy's name; names are the written ones, at most 10 characters.
TEST(KeyframeNodes3ds, ParentReferencesByParentKind) {
    struct Case {
        const char* parent;
        int kind;  // 0 none, 1 mesh, 2 null, 3 joint, 4 omni light, 5 camera
        bool dummy, reference;
        const char* expected;
    } cases[] = {
        {"Model::Arm", 1, false, false, "Arm"},
        {"Model::Arm", 0, false, false, "$$$DUMMY.Arm"},
        {"Model::Arm", 2, false, false, "$$$DUMMY.Arm"},
        {"Model::Arm", 2, false, true, "$$$DUMMY.Arm"},
        {"Model::Arm", 3, false, false, "$$$DUMMY.Arm"},
        {"Model::Arm", 4, false, false, "Arm"},
        {"Model::Arm", 4, true, false, "$$$DUMMY.Arm"},
        {"Model::Arm", 5, true, false, "$$$DUMMY.Arm"},
        {"Model::Arm", 1, true, false, "$$$DUMMY.Arm"},
        {"Model::Qov_Root", 0, false, true, "$$$DUMMY.RootNod"},
        {"Model::Qov_Root", 0, false, false, ""},
        {"Model::Qov_Root", 2, false, true, "$$$DUMMY.RootNod"},
        {"Model::Qov_Root", 2, false, false, ""},
        {"Model::AVeryLongParentName", 1, false, false, "AVeryLongP"},
        {"Model::AVeryLongParentNameX", 0, false, false, "$$$DUMMY.AVeryLongP"},
    };
    for (const Case& c : cases) {
        KQovNodeAttribute* a = nullptr;
        if (c.kind == 1) a = new KQovMesh(nullptr);
        if (c.kind == 2) a = new KQovNull(nullptr);
        if (c.kind == 3) a = new KQovSkeleton(nullptr);
        if (c.kind == 4) a = new KQovLight(nullptr);
        if (c.kind == 5) a = new KQovCamera(nullptr);
        Family f(c.parent, a);
        const std::unordered_set<const KQovNode*> dummies = {&f.parent};
        KeyframeSettings3ds s;
        s.createReferenceNode = c.reference;
        if (c.dummy) s.dummies = &dummies;
        EXPECT_EQ(ParentReference3ds(f.child, s), c.expected) << c.parent << " " << c.kind;
        EXPECT_EQ(ParentReference3ds(f.parent, s), "");
        EXPECT_EQ(WrittenAsItself3ds(f.parent, s), (c.kind == 1 || c.kind >= 4) && !c.dummy);
    }
}

TEST(KeyframeNodes3ds, KeyCountsAndDefaults) {
    KQovNode node(nullptr, "Model::ANodeWithALongName");
    node.SetLocalTranslation(1, 2, 3);
    node.SetLocalScaling(0, 0, 0);
    node.AddTakeNode("take");
    node.SetCurrentTakeNode("take");
    KeyframeSettings3ds s;
    s.sceneStop = FrameTime3ds(4);
    EXPECT_EQ(KeyCount3ds(node, s), 5);  // no curves: the scene's interval
    KFCurve* x = node.GetCurrentTakeNode()->GetTranslationX();
    x->PrepareKeys(2);
    x->KeySetTCB(0, FrameTime3ds(0), 1);
    x->KeySetTCB(1, FrameTime3ds(10), 11);
    x->CommitKeys(2);
    EXPECT_EQ(KeyCount3ds(node, s), 11);
    Context3ds ctx;
    ObjectMotion3ds* m = BuildObjectMotion3ds(ctx, node, s);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->name, "ANodeWithA");
    ASSERT_EQ(m->pos.keys.size(), 11u);
    EXPECT_EQ(m->pos.values[10].x, 11.0f);
    EXPECT_EQ(m->pos.values[10].y, -3.0f);  // unanimated channels keep their property
    EXPECT_EQ(m->scale.values[3].x, 1.0f);  // a vanished scaling writes 1
    EXPECT_EQ(m->rot.values[5].x, -1.0f);
    MakeDummy3ds(*m, node);
    EXPECT_EQ(m->name, "$$$DUMMY");
    EXPECT_EQ(m->instance, "ANodeWithA");
    ReleaseObjectMotion3ds(&m);
    s.animated = false;
    m = BuildObjectMotion3ds(ctx, node, s);
    EXPECT_EQ(m->pos.keys.size(), 1u);
    EXPECT_EQ(m->pos.values[0].x, 1.0f);
    ReleaseObjectMotion3ds(&m);
}

TEST(KeyframeNodes3ds, LightsAndCamerasWithoutTargetsLookAlongTheirAxes) {
    KeyframeSettings3ds s;
    s.animated = false;
    Context3ds ctx;
    Family spot("Model::Spot", new KQovLight(nullptr));
    spot.parent.SetLocalTranslation(0, 20, 0);
    spot.parent.GetLight()->SetDefaultConeAngle(30);
    SpotlightMotion3ds* sm = BuildSpotlightMotion3ds(ctx, spot.parent, s);
    ASSERT_NE(sm, nullptr);
    EXPECT_EQ(sm->targetPos.values[0].z, 10.0f);  // 10 below, file Z up
    EXPECT_EQ(sm->hotspot.values[0], 30.0f);
    EXPECT_EQ(sm->falloff.values[0], 30.0f);
    ReleaseSpotlightMotion3ds(&sm);
    Family cam("Model::Cam", new KQovCamera(nullptr));
    cam.parent.SetLocalRotation(30, 0, 0);
    CameraMotion3ds* cm = BuildCameraMotion3ds(ctx, cam.parent, s);
    ASSERT_NE(cm, nullptr);
    EXPECT_EQ(cm->targetPos.values[0].x, 10.0f);
    EXPECT_NEAR(cm->roll.values[0], -30.0f, 1e-3);
    EXPECT_EQ(cm->target.parent, "");
    ReleaseCameraMotion3ds(&cm);
    OmnilightMotion3ds* om = BuildOmnilightMotion3ds(ctx, spot.parent, s);
    EXPECT_EQ(om->color.keys.size(), 1u);
    ReleaseOmnilightMotion3ds(&om);
    EXPECT_FALSE(ctx.ErrorPending());
}

// An animated field of view stays animated under every aperture mode: keys under modes 0 and
// 1 hold the horizontal angle already, under mode 2 each is turned from the vertical one; a
// camera without keys writes the still angle its mode gives.
TEST(KeyframeNodes3ds, FieldOfViewKeysStayAnimatedUnderEveryApertureMode) {
    auto fromVertical = [](double f) {  // a 2:1 film
        return 2.0 * std::atan(std::tan(f * M_PI / 360.0) * 2.0) * 180.0 / M_PI;
    };
    struct Case {
        int mode;
        bool keyed;
        double first, last;  // written at frames 0 and 10
    } const cases[] = {
        {0, true, 30, 60},
        {1, true, 30, 60},
        {2, true, fromVertical(30), fromVertical(60)},
        {0, false, 50, 50},  // the horizontal angle property
        {2, false, fromVertical(40), fromVertical(40)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " keyed " << c.keyed);
        Family cam("Model::Cam", new KQovCamera(nullptr));
        KQovCamera& camera = *cam.parent.GetCamera();
        camera.SetApertureMode(c.mode);
        camera.SetFilmWidth(2);
        camera.SetFilmHeight(1);
        camera.SetFilmSqueezeRatio(1);
        camera.SetDefaultFieldOfView(40);
        camera.SetDefaultFieldOfViewX(50);
        cam.parent.AddTakeNode("take");
        cam.parent.SetCurrentTakeNode("take");
        KFCurve* fov = cam.parent.GetCurrentTakeNode()->GetFieldOfView();
        ASSERT_NE(fov, nullptr);
        if (c.keyed) {
            fov->PrepareKeys(2);
            fov->KeySetTCB(0, FrameTime3ds(0), 30);
            fov->KeySetTCB(1, FrameTime3ds(10), 60);
            fov->CommitKeys(2);
        }
        KeyframeSettings3ds s;
        s.sceneStop = FrameTime3ds(10);
        Context3ds ctx;
        CameraMotion3ds* m = BuildCameraMotion3ds(ctx, cam.parent, s);
        ASSERT_NE(m, nullptr);
        ASSERT_EQ(m->fov.values.size(), 11u);
        EXPECT_NEAR(m->fov.values[0], c.first, 1e-3);
        EXPECT_NEAR(m->fov.values[10], c.last, 1e-3);
        if (c.keyed) {
            EXPECT_GT(m->fov.values[5], m->fov.values[0]);
        }
        ReleaseCameraMotion3ds(&m);
    }
}

}  // namespace
