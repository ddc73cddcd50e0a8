// The version-5 writer's sections: golden ASCII files of small scenes (reviewed once by hand)
// and the rules inside sections.

#include "KQovWriterQov5TestUtil.h"
#include "attributes/KQovLimitsUtility.h"
#include "scene/KQovPose.h"
#include "scene/KQovSceneInfo.h"
#include "scene/KQovThumbnail.h"
#include "scene/KQovUserProperty.h"

using v5test::ExpectGolden;
using v5test::Fields;
using v5test::Only;

TEST(KQovWriterQov5Sections, NamesAndAngleRules) {
    const struct {
        const char* name;
        const char* stripped;
    } kSuffixes[] = {{"Weight (Real)", "Weight"},
                     {"On (Bool)", "On"},
                     {"Tint (Color)", "Tint"},
                     {"Count (Integer)", "Count"},
                     {"Aim (Vector)", "Aim"},
                     {"Odd (Real) (Bool)", "Odd (Real)"},
                     {"Plain", "Plain"},
                     {"(Real)", "(Real)"},
                     {"Spaced(Real)", "Spaced(Real)"},
                     {"", ""}};
    for (const auto& c : kSuffixes)
        EXPECT_STREQ(KQovWriterQov5::StripTypeSuffix(c.name).Buffer(), c.stripped) << c.name;

    const struct {
        double x, y, z;
        bool zero;
    } kRotations[] = {
        {0, 0, 0, true},        {1e-7, -1e-7, 0, true}, {180, 180, 180, true},
        {-180, 540, 180, true}, {180, 180, 0, false},   {90, 0, 0, false},
        {0, 0, 1e-5, false},    {360, 0, 0, false},     {180.0000001, -180, 180, true}};
    for (const auto& c : kRotations)
        EXPECT_EQ(KQovWriterQov5::IsZeroRotation(c.x, c.y, c.z), c.zero)
            << c.x << " " << c.y << " " << c.z;

    const struct {
        int format;
        const char* name;
    } kFormats[] = {{0, "Custom"},       {1, "D1 NTSC"}, {8, "320x240"}, {9, "128x128"},
                    {10, "Full Screen"}, {11, "Custom"}, {-1, "Custom"}};
    for (const auto& c : kFormats)
        EXPECT_STREQ(KQovWriterQov5::CameraFormatName(c.format), c.name) << c.format;
}

TEST(KQovWriterQov5Sections, GoldenModels) {
    TempTestFolder tmp;
    v5test::Scene s;
    KQovNull* null = s.manager.CreateNull();
    null->SetSize(5.0);
    KQovNode* a = s.Add("A", null);
    KQovUserProperty* weight = s.manager.CreateUserProperty("Weight (Real)", "Real", "How heavy");
    weight->SetFlag(KQovUserProperty::eFlagUserProperty, true);
    weight->SetMin(0.0);
    weight->SetMax(5.0);
    a->AddUserProperty(weight);
    KQovLimitsUtility limits(&a->GetLimits());
    limits.SetAuto(KQovLimitsUtility::eTranslation, false);
    limits.SetEnable(KQovLimitsUtility::eTranslation, true);
    limits.SetMin(KQovLimitsUtility::eTranslation, KVector4(-1.0, 0.0, 0.0));
    limits.SetAuto(KQovLimitsUtility::eScaling, false);
    limits.SetMax(KQovLimitsUtility::eScaling, KVector4(1.0, 2.0, 1.0));
    // No attribute: written as a null of size 100. Rotations of (180, 180, 180) equal zero.
    KQovNode* b = s.Add("B", nullptr, a);
    b->SetLookAtTarget(a);
    b->SetPostTargetRotation(180.0, 180.0, 180.0, 0.0);
    b->SetUpTargetRotation(0.0, 90.0, 0.0, 0.0);
    b->SetUpVectorTarget(a);
    KQovMarker* marker = s.manager.CreateMarker();
    KQovNode* m = s.Add("M", nullptr);
    marker->SetType(5);  // no name: "Type" is left out
    m->SetNodeAttribute(marker);
    KQovSkeleton* root = s.manager.CreateSkeleton();
    root->SetSkeletonType(KQovSkeleton::eRootAlternate);
    s.Add("R", root);
    KQovLight* lamp = s.manager.CreateLight();
    s.Add("L", nullptr)->SetNodeAttribute(lamp);
    KStreamOptionsQov options;
    Only(options, {KStreamOptionsQov::eNodeAttributes});
    const std::string name = tmp / "models.qov";
    ASSERT_TRUE(v5test::WriteFile(s.scene, name, KQovWriterQov5::eAscii, &options));
    ExpectGolden(name, "v5w_models.qov");
}

TEST(KQovWriterQov5Sections, GoldenTakesPosesAndSceneInformation) {
    TempTestFolder tmp;
    v5test::Scene s;
    KQovNode* a = s.Add("A", s.manager.CreateNull());
    s.AddTakeTo(s.scene->GetRootNode(), "Walk\tfast now");
    s.AddTakeTo(s.scene->GetRootNode(), "Still");
    KQovTakeNode* walk = a->GetTakeNode(1);
    KFCurve* curve = walk->GetTranslationX();
    curve->ResizeKeyBuffer(2);
    curve->KeySet(0, KTime(0), 1.0f);
    curve->KeySet(1, KTime(46186158), 2.0f);
    curve->CommitKeys(2);
    KQovTakeInfo still;
    still.name = "Still";
    still.comment = "nothing moves";
    s.scene->SetTakeInfo(still);
    KQovThumbnail* thumbnail = s.manager.CreateThumbnail();
    thumbnail->SetDataFormat(0);
    thumbnail->SetSize(2);
    for (int i = 0; i < thumbnail->GetSizeInBytes(); ++i)
        thumbnail->GetImage()[i] = uint8_t(i * 20);
    KQovSceneInfo* info = KQovCreateSceneInfo(&s.manager);
    info->title = "Title";
    info->author = "Somebody";
    info->SetThumbnail(thumbnail);
    s.scene->SetSceneInfo(info);
    KQovPose* bind = s.manager.CreatePose("Bind", true);
    KMatrix m;
    m[3][0] = 4.0;
    bind->Add("Model::A", m);
    s.scene->AddPose(bind);
    KQovPose* rest = s.manager.CreatePose("Rest", false);
    rest->Add("Model::A", m, true);
    s.scene->AddPose(rest);
    KStreamOptionsQov options;
    Only(options, {KStreamOptionsQov::eAnimation});
    const std::string name = tmp / "takes.qov";
    ASSERT_TRUE(v5test::WriteFile(s.scene, name, KQovWriterQov5::eAscii, &options));
    ExpectGolden(name, "v5w_takes.qov");
}

TEST(KQovWriterQov5Sections, GobosAreSharedByPathAndFlagsAndNamedByTheirCounter) {
    TempTestFolder tmp;
    v5test::Scene s;
    const struct {
        const char* name;
        const char* gobo;
        bool volumetric;
    } kLights[] = {{"L1", "/g/star.tif", true},
                   {"L2", "", true},  // no gobo: not listed
                   {"L3", "/g/star.tif", true},
                   {"L4", "/g/star.tif", false},
                   {"L5", "/g/Star.tif", true}};
    for (const auto& l : kLights) {
        KQovLight* light = s.manager.CreateLight();
        s.Add(l.name, nullptr)->SetNodeAttribute(light);
        light->SetGoboFileName(l.gobo);
        light->SetDrawVolumetricLight(l.volumetric);
    }
    KStreamOptionsQov options;
    Only(options, {KStreamOptionsQov::eGobos});
    const std::string name = tmp / "gobos.qov";
    ASSERT_TRUE(v5test::WriteFile(s.scene, name, KQovWriterQov5::eAscii, &options));
    const std::string names =
        Fields(v5test::ReadText(name), "GoboManager:", {"GoboName", "LightGobo"});
    // Lights last to first: L5 gobo-0, L4 gobo-1, L3 gobo-2, L1 the same as L3 (counter 3 used).
    EXPECT_EQ(names,
              "GoboName \"gobo-2\"\nGoboName \"gobo-1\"\nGoboName \"gobo-0\"\n"
              "LightGobo \"Model::L5\", \"gobo-0\"\nLightGobo \"Model::L4\", \"gobo-1\"\n"
              "LightGobo \"Model::L3\", \"gobo-2\"\nLightGobo \"Model::L1\", \"gobo-2\"\n");
}
