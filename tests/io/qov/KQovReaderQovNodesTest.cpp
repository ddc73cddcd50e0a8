#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <limits>
#include <memory>
#include <string>

#include "common/TempTestFolder.h"
#include "fieldfile/FieldFileTestUtil.h"
#include "ReaderTestUtil.h"
#include "animation/KFCurve.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovCamera.h"
#include "attributes/KQovCameraSwitcher.h"
#include "attributes/KQovLight.h"
#include "attributes/KQovLimitsUtility.h"
#include "attributes/KQovMarker.h"
#include "attributes/KQovNull.h"
#include "attributes/KQovSkeleton.h"
#include "foundation/KLocale.h"
#include "io/qov/KQovReaderQov.h"
#include "scene/KProperty.h"
#include "scene/KQovGenericNode.h"
#include "scene/KQovGlobalSettings.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"
#include "scene/KQovSceneInfo.h"
#include "scene/KQovUserProperty.h"

namespace {

std::string N(double v) {
    return KFormatC("%g", v);
}

// One line per node, children indented: what the node sections and the attribute read set.
std::string Dump(KQovNode& node, int indent = 0) {
    std::string s = std::string(size_t(indent) * 2, ' ') + node.GetName();
    s += " vis " + std::to_string(node.GetVisibility()) + " shade " +
         std::to_string(node.GetShadingMode()) + " cull " + std::to_string(node.GetCullingMode());
    if (!node.GetPivotState(0) || !node.GetPivotState(1))
        s += " pivots " + std::to_string(node.GetPivotState(0)) +
             std::to_string(node.GetPivotState(1)) + " rp " + N((*node.GetRotationPivot(0))[1]);
    // Auto ('a') and enable ('e') of translation, rotation, scaling.
    KQovLimitsUtility limits(&node.GetLimits());
    std::string states;
    for (int k = 0; k < 3; ++k)
        states += std::string(limits.GetAuto(k) ? "a" : "-") + (limits.GetEnable(k) ? "e" : "-");
    // The rotation default is the pre-rotation, the axis the post-rotation.
    if (states != "a-a-a-")
        s += " limits " + states + " tmin " + N(limits.GetMin(0)[0]) + " pre " +
             N((*node.GetPreRotation(0))[0]) + " post " + N((*node.GetPostRotation(0))[1]) +
             " order " + std::to_string(node.GetRotationOrder(0));
    s += limits.GetMax(2)[2] != 0.0 ? " smax " + N(limits.GetMax(2)[2]) : "";
    KVector4 t;
    node.GetLocalTranslation(t);
    if (t[0] != 0.0 || t[1] != 0.0 || t[2] != 0.0)
        s += " t " + N(t[0]) + "," + N(t[1]) + "," + N(t[2]);
    if (node.GetLookAtTarget()) s += " lookat " + std::string(node.GetLookAtTarget()->GetName());
    if (node.GetUpVectorTarget()) s += " up " + std::string(node.GetUpVectorTarget()->GetName());
    if (!node.GetMultiLayer() || node.GetMultiTake())
        s += " layer " + std::to_string(node.GetMultiLayer()) + " take " +
             std::to_string(node.GetMultiTake());
    s += " : " + std::string(node.GetTypeName().Buffer());
    if (KQovNull* n = node.GetNull()) s += " size " + N(n->GetSize());
    if (KQovCamera* c = node.GetCamera())
        s += " aspect " + N(c->GetAspectWidth()) + "x" + N(c->GetAspectHeight()) + " film " +
             std::to_string(c->GetFilmFormatIndex()) + " format " +
             std::to_string(c->GetCameraFormat()) + " x " + N(c->GetPosition()[0]);
    if (KQovLight* g = node.GetLight())
        s += " type " + std::to_string(g->GetLightType()) + " cast " +
             std::to_string(g->GetCastLightOnObject()) + " intensity " +
             N(g->GetDefaultIntensity()) + " cone " + N(g->GetDefaultConeAngle());
    if (KQovMarker* m = node.GetMarker())
        s += " kind " + std::to_string(m->GetType()) + " look " + std::to_string(m->GetLook()) +
             " size " + N(m->GetSize()) + " rgb " + N(m->GetColor().mRed) + "," +
             N(m->GetColor().mGreen) + "," + N(m->GetColor().mBlue) + " reach " +
             N(m->GetDefaultIKReachTranslation());
    if (KQovSkeleton* k = node.GetSkeleton())
        s += " kind " + std::to_string(k->GetSkeletonType()) + " size " + N(k->GetSize());
    if (KQovCameraSwitcher* w = node.GetCameraSwitcher()) {
        s += " cameras";
        for (int i = 0; i < w->GetCameraNameCount(); ++i)
            s += std::string(" ") + w->GetCameraName(i);
    }
    for (int i = 0; i < node.GetUserPropertyCount(); ++i) {
        KQovUserProperty* u = node.GetUserProperty(i);
        if (u->GetProperty() && u->GetProperty()->TestFlag(KProperty::eUserProperty)) {
            double value = 0.0;
            u->GetValue(value);
            s += " [" + std::string(u->GetName().Buffer()) + " " + N(u->GetMin()) + ".." +
                 N(u->GetMax()) + " = " + N(value) + "]";
        }
    }
    s += "\n";
    for (int i = 0; i < node.GetChildCount(); ++i) s += Dump(*node.GetChild(i), indent + 1);
    return s;
}

TEST(KQovReaderQovNodes, Version5ModelsOfEveryKind) {
    Read read(Golden("nodes5.qov"));
    ASSERT_TRUE(read.ok) << read.reader.GetLastErrorString();
    ASSERT_NE(read.scene->GetRootNode(), nullptr);
    // Children named with and without their prefix both resolve; "Nobody" names no model;
    // the cyclic pair A <-> B keeps one link and the read goes on; parentless models go to
    // the root in the order of the file.
    const std::string expected =
        "Model::RootNode vis 1 shade 3 cull 0 layer 0 take 1 : Null\n"
        "  Model::Root vis 0 shade 1 cull 2 pivots 01 rp 2 smax 1 : Null size 250\n"
        "    Model::Cam vis 1 shade 0 cull 0 t 1,2,3 lookat Model::Mark up Model::Lamp : Camera "
        "aspect 640x480 film 4 format 0 x 1\n"
        "    Model::Lamp vis 1 shade 0 cull 0 : Light type 1 cast 0 intensity 100 cone 45\n"
        "    Model::Mark vis 1 shade 0 cull 0 : IKEffector kind 2 look 2 size 3 rgb 0.5,0.25,1 "
        "reach 40 [Weight (Real) 0..5 = 2.5] [Aim -inf..inf = 0]\n"
        "  Model::Cam117 vis 1 shade 0 cull 0 limits -e--a- tmin -1 pre 10 post 20 order 6 smax 4 "
        ": Camera aspect 640.5x480.75 film 0 format 0 x 0\n"
        "  Model::Lamp2 vis 1 shade 0 cull 0 : Light type 0 cast 1 intensity 75 cone 30\n"
        "  Model::Old Mark vis 1 shade 0 cull 0 : Marker kind 0 look 0 size 100 rgb 0.2,0,0.4 "
        "reach 0\n"
        "  Model::Rooty vis 1 shade 0 cull 0 : Root kind 0 size 100\n"
        "    Model::Bone vis 1 shade 0 cull 0 : LimbNode kind 2 size 50\n"
        "    Model::Limb vis 1 shade 0 cull 0 : Limb kind 1 size 3\n"
        "  Model::Eff vis 1 shade 0 cull 0 : Root kind 3 size 100 [Reach (Integer) -inf..inf = 3]\n"
        "  Model::Mesh vis 1 shade 0 cull 0 t 5,0,-2 layer 0 take 3 : Mesh [Weight (Real) "
        "-inf..inf = 4]\n"
        "  Model::Nurb vis 1 shade 0 cull 0 : Nurb\n"
        "  Model::Patch vis 1 shade 0 cull 0 : Patch\n"
        "  Model::Switch vis 1 shade 0 cull 0 :  cameras Model::Cam Cam117\n"
        "  Model::Opt vis 1 shade 0 cull 0 : Optical [Gain (Real) -inf..inf = 0.5]\n"
        "  Model::Odd vis 1 shade 0 cull 0 : Null\n"
        "  Model::A vis 1 shade 0 cull 0 : Null size 100\n"
        "    Model::B vis 1 shade 0 cull 0 : Null size 100\n"
        "  Model::Selfish vis 1 shade 0 cull 0 : Null size 100\n";
    EXPECT_EQ(Dump(*read.scene->GetRootNode()), expected);
}

TEST(KQovReaderQovNodes, Version6ObjectsWithPropertyBlocks) {
    Read read(Golden("nodes6.qov"));
    ASSERT_TRUE(read.ok) << read.reader.GetLastErrorString();
    // Models of every attribute kind; without "Connections" none has a parent yet.
    std::string dump;
    for (const char* name : {"Cube", "Lamp", "switcher b", "Nul", "Mk", "Ik", "Fk", "Mk0", "Rt",
                             "Lb", "Ln", "Ef", "Surf", "Pat", "Opt", "Odd"}) {
        KQovNode* node = read.manager.FindNode(name);
        dump += node ? Dump(*node) : std::string("missing ") + name + "\n";
    }
    EXPECT_EQ(
        dump,
        "Model::Cube vis 1 shade 4 cull 1 t 1,2,3 layer 0 take 7 : Mesh [Weight 0..1 = 0.5]\n"
        "Model::Lamp vis 1 shade 0 cull 0 : Light type 0 cast 1 intensity 75 cone 0\n"
        "Model::switcher b vis 1 shade 0 cull 0 :  cameras Producer Perspective\n"
        "Model::Nul vis 0 shade 0 cull 0 : Null size 42\n"
        "Model::Mk vis 1 shade 0 cull 0 : OpticalMarker kind 1 look 3 size 6 rgb 1,0,0 reach 0\n"
        "Model::Ik vis 1 shade 0 cull 0 : IKEffector kind 2 look 0 size 100 rgb 1,0,0 reach 30\n"
        "Model::Fk vis 1 shade 0 cull 0 : FKEffector kind 3 look 0 size 100 rgb 1,0,0 reach 0\n"
        "Model::Mk0 vis 1 shade 0 cull 0 : Marker kind 0 look 0 size 100 rgb 1,0,0 reach 0\n"
        "Model::Rt vis 1 shade 0 cull 0 : Root kind 0 size 4\n"
        "Model::Lb vis 1 shade 0 cull 0 : Limb kind 1 size 100\n"
        "Model::Ln vis 1 shade 0 cull 0 : LimbNode kind 2 size 12\n"
        "Model::Ef vis 1 shade 0 cull 0 : Root kind 3 size 100\n"
        "Model::Surf vis 1 shade 0 cull 0 : Nurb\n"
        "Model::Pat vis 1 shade 0 cull 0 : Patch\n"
        "Model::Opt vis 1 shade 0 cull 0 : Optical\n"
        "Model::Odd vis 1 shade 0 cull 0 : Null\n");
    // The effector's reach values are also properties of its node, animatable.
    KQovPropertyHandler* ik = read.manager.FindNode("Ik")->GetPropertyHandler();
    KProperty* reach = ik->FindProperty("IK Reach Rotation");
    ASSERT_NE(reach, nullptr);
    EXPECT_EQ(reach->GetDouble(), 60.0);
    EXPECT_TRUE(reach->IsAnimatable());
    EXPECT_NE(reach->GetUserFlags() & 8, 0u);
    EXPECT_EQ(read.manager.FindNode("Ik")->GetMarker()->GetDefaultIKReachRotation(), 60.0);
    // The "SceneInfo" object becomes the scene's information.
    ASSERT_NE(read.scene->GetSceneInfo(), nullptr);
    EXPECT_STREQ(read.scene->GetSceneInfo()->title.Buffer(), "Every kind");
    KQovNode* cube = read.manager.FindNode("Cube");
    ASSERT_NE(cube, nullptr);
    // The user-defined property was made; an unknown built-in name was not.
    KQovPropertyHandler* set = cube->GetPropertyHandler();
    ASSERT_NE(set->FindProperty("Weight"), nullptr);
    EXPECT_EQ(set->FindProperty("Bogus"), nullptr);
    EXPECT_EQ(set->FindProperty("Weight")->GetMax(), 1.0);
    EXPECT_NE(cube->FindUserProperty("Weight"), nullptr);
    // The camera keeps its position (it lives in the node).
    KQovNode* camera = read.manager.FindNode("Producer Perspective");
    ASSERT_TRUE(camera && camera->GetCamera());
    EXPECT_EQ(camera->GetCamera()->GetPosition()[2], 9.0);
    // Of two switcher models the later in key order stays, as the scene's switcher.
    EXPECT_EQ(read.scene->GetCameraSwitcherNode(), read.manager.FindNode("switcher b"));
    EXPECT_EQ(read.manager.FindNode("Switcher A"), nullptr);
    EXPECT_EQ(read.reader.GetFieldFile()->FindObject("Model::Switcher A"), nullptr);
    EXPECT_NE(read.reader.GetFieldFile()->FindObject("Model::switcher b"), nullptr);
    EXPECT_EQ(std::string(read.manager.FindNode("Lamp")->GetTypeName().Buffer()), "Light");
    EXPECT_EQ(read.manager.FindNode("Lamp")->GetLight()->GetDefaultIntensity(), 75.0);
    KQovGenericNode* generic = read.manager.FindGenericNode("GenericNode::Gen");
    ASSERT_NE(generic, nullptr);
    EXPECT_NE(read.reader.GetFieldFile()->FindObject("Model::Cube"), nullptr);
}

TEST(KQovReaderQovNodes, TypesMissingFromDefinitionsAreNotRead) {
    qovtest::TempFolder tmp;
    std::string text = qovtest::ReadAll(Golden("nodes6.qov"));
    text.replace(text.find("ObjectType: \"GenericNode\""), 25, "ObjectType: \"Nothing\"    ");
    qovtest::WriteAll(tmp / "n.qov", text);
    Read read(tmp / "n.qov");
    EXPECT_TRUE(read.ok);
    EXPECT_EQ(read.manager.FindGenericNode("GenericNode::Gen"), nullptr);
    EXPECT_NE(read.manager.FindNode("Cube"), nullptr);
}

}  // namespace

namespace {

KQovNode* AddCamera(KQovObjectManager& manager, KQovNode* parent, const char* name) {
    KQovNode* node = manager.CreateNode(name);
    node->SetNodeAttribute(manager.CreateCamera());
    parent->AddChild(node);
    return node;
}

}  // namespace

TEST(KQovReaderQovNodes, SwitcherCameraNumbersFollowTheCameraNodesInTreeOrder) {
    KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();
    KQovNode* root = scene->GetRootNode();
    // Tree order: B, D (below B), A.
    AddCamera(manager, AddCamera(manager, root, "B"), "D");
    AddCamera(manager, root, "A");
    KQovNode* node = manager.CreateNode("Switch");
    auto* switcher = manager.CreateCameraSwitcher();
    node->SetNodeAttribute(switcher);
    scene->SetCameraSwitcherNode(node);
    // Names with and without their prefix; "Missing" names no camera node.
    for (const char* name : {"A", "Model::B", "Missing", "D"}) switcher->AddCameraName(name);

    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        float stored, expected;
    } cases[] = {
        {1, 3},       {2, 1},           {2.7f, 1},
        {4, 2},                                    // the switcher's numbers to tree positions
        {3, 3},                                    // its name has no camera: kept
        {0, 0},       {5, 5},           {-1, -1},  // outside 1..4: kept
        {3e9f, 3e9f}, {-1e10f, -1e10f},            // no int holds them: kept, without overflow
    };
    KFCurve* curve = node->GetDefaultTakeNode()->GetCameraIndex();
    ASSERT_NE(curve, nullptr);
    for (size_t i = 0; i < std::size(cases); ++i)
        curve->KeyAppendFast(KTime(int64_t(i)), cases[i].stored);
    curve->KeyAppendFast(KTime(100), nan);
    curve->SetValue(2.0f);

    KQovReaderQov reader(&manager, nullptr);
    reader.RenumberSwitcherCameras(scene);
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(curve->KeyGetValue(int(i)), cases[i].expected) << cases[i].stored;
    EXPECT_TRUE(std::isnan(curve->KeyGetValue(int(std::size(cases)))));
    EXPECT_EQ(curve->GetValue(), 1.0f);
}

TEST(KQovReaderQovNodes, ADroppedSwitcherLeavesNoNameThatReachesIt) {
    // A null and a switcher share one name; the later switcher in key order stays. The name
    // must still find the null, never the destroyed switcher.
    qovtest::TempFolder tmp;
    qovtest::WriteAll(
        tmp / "s.qov",
        "; QOV 6.0.0 project file\nQOVHeaderExtension:  {\n QOVHeaderVersion: 1003\n"
        " QOVVersion: 6000\n}\nDefinitions:  {\n ObjectType: \"Model\" {\n }\n}\n"
        "Objects:  {\n Model: \"Model::S\", \"Null\" {\n  Type: \"Null\"\n }\n"
        " Model: \"Model::S\", \"CameraSwitcher\" {\n  Type: \"CameraSwitcher\"\n }\n"
        " Model: \"Model::T\", \"CameraSwitcher\" {\n  Type: \"CameraSwitcher\"\n }\n}\n");
    Read read(tmp / "s.qov");
    ASSERT_TRUE(read.ok);
    KQovNode* kept = read.scene->GetCameraSwitcherNode();
    ASSERT_NE(kept, nullptr);
    EXPECT_STREQ(kept->GetName(), "Model::T");
    KQovNode* null = read.manager.FindNode("S");
    ASSERT_TRUE(null && null->GetNull());
    KQovPropertyFieldFile* file = read.reader.GetFieldFile();
    EXPECT_EQ(file->FindObject("Model::S"), static_cast<KPlug*>(null->GetPropertyHandler()));
    EXPECT_EQ(file->FindObject("Model::T"), static_cast<KPlug*>(kept->GetPropertyHandler()));
    EXPECT_EQ(file->GetObjectMap()->GetCount(), 3);  // S, T and the root's "Model::Scene"
}

// A model with 5,000 user-defined properties: each of its properties gets one record, found
// by the property it wraps rather than by a pass over the records per property. (Reading the
// property block itself still costs a search by name per property: hence no more.)
TEST(KQovReaderQovNodes, AModelWithManyPropertiesWrapsEachOnce) {
    constexpr int kCount = 5000;
    TempTestFolder tmp;
    ASSERT_TRUE(tmp.ok());
    std::string text =
        "; QOV 6.0.0 project file\n"
        "QOVHeaderExtension:  {\n    QOVHeaderVersion: 1003\n    QOVVersion: 6000\n}\n"
        "Definitions:  {\n    Version: 100\n    Count: 1\n"
        "    ObjectType: \"Model\" {\n        Count: 1\n    }\n}\n"
        "Objects:  {\n    Model: \"Model::Wide\", \"Null\" {\n        Version: 232\n"
        "        Properties60:  {\n";
    for (int i = 0; i < kCount; ++i)
        text += "            Property: \"U" + std::to_string(i) + "\", \"Number\", \"AU\",8," +
                std::to_string(i) + ",0," + std::to_string(kCount) + "\n";
    text += "        }\n    }\n}\n";
    const std::string name = tmp / "wide.qov";
    qovtest::WriteAll(name, text);
    Read read(name);
    ASSERT_TRUE(read.ok) << read.reader.GetLastErrorString();
    KQovNode* node = read.manager.FindNode("Wide");
    ASSERT_NE(node, nullptr);
    KQovPropertyHandler* set = node->GetPropertyHandler();
    ASSERT_NE(set, nullptr);
    ASSERT_GT(set->GetPropertyCount(), kCount);
    // One record per property, in the handler's order where the reader made them.
    EXPECT_EQ(node->GetUserPropertyCount(), set->GetPropertyCount());
    for (int index : {0, 1, kCount / 2, kCount - 1}) {
        const std::string user = "U" + std::to_string(index);
        KProperty* property = set->FindProperty(user.c_str());
        ASSERT_NE(property, nullptr) << user;
        EXPECT_EQ(property->GetDouble(), double(index));
        KQovUserProperty* record = node->FindUserProperty(property);
        ASSERT_NE(record, nullptr) << user;
        EXPECT_EQ(record->GetProperty(), property);
    }
    int wrapped = 0;
    for (int i = 0; i < node->GetUserPropertyCount(); ++i)
        if (node->GetUserProperty(i)->GetProperty()) ++wrapped;
    EXPECT_EQ(wrapped, set->GetPropertyCount());
}
