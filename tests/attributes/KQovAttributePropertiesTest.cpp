#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "attributes/KQovLight.h"
#include "attributes/KQovMarker.h"
#include "attributes/KQovNull.h"
#include "attributes/KQovSkeleton.h"
#include "scene/KPropertyObjectList.h"

namespace {

struct Row {
    const char* name;
    int typeCode;
    std::vector<double> value;
    uint32_t userFlags;
    bool animatable;
};

struct SetCase {
    const char* className;
    std::function<KQovPropertySetAttribute*()> make;
    std::vector<Row> rows;
};

std::vector<double> Numbers(KProperty* p) {
    double values[4] = {};
    const int n = KQovGetPropertyNumbers(p, values);
    return std::vector<double>(values, values + n);
}

TEST(KQovAttributeProperties, NamesTypesAndDefaults) {
    const int d = KProperty::eDOUBLE, c = KProperty::eCOLORRGB, e = KProperty::eENUM,
              b = KProperty::eBOOL, v = KProperty::eVECTOR3D, o = KProperty::eOBJECT;
    const SetCase cases[] = {
        {"KQovNullProperties",
         [] { return new KQovNull(nullptr); },
         {{"Size", d, {100}, 0, false}}},
        {"KQovSkeletonProperties",
         [] { return new KQovSkeleton(nullptr); },
         {{"Size", d, {100}, 0, false},
          {"LimbLength", d, {1}, 1, false},
          {"Color", c, {0.8, 0.8, 0.8}, 16, false}}},
        {"KQovMarkerProperties",
         [] { return new KQovMarker(nullptr); },
         {{"Look", e, {0}, 0, false},
          {"Size", d, {100}, 0, false},
          {"Color", c, {1, 0, 0}, 0, false},
          {"ShowLabel", b, {0}, 0, false},
          {"IKPivot", v, {0, 0, 0}, 0, false}}},
        {"KQovLightProperties",
         [] { return new KQovLight(nullptr); },
         {{"LightType", e, {0}, 0, false},
          {"CastLightOnObject", b, {1}, 0, false},
          {"DrawVolumetricLight", b, {1}, 0, false},
          {"DrawGroundProjection", b, {1}, 0, false},
          {"DrawFrontFacingVolumetricLight", b, {0}, 0, false},
          {"GoboProperty", o, {}, 0, false},
          {"Color", c, {1, 1, 1}, 8, true},
          {"Intensity", d, {100}, 8, true},
          {"Cone angle", d, {45}, 8, true},
          {"Fog", d, {50}, 8, true}}},
    };
    for (const SetCase& test : cases) {
        std::unique_ptr<KQovPropertySetAttribute> attribute(test.make());
        KQovAttributeProperties* set = attribute->GetPropertySet();
        EXPECT_STREQ(set->GetClassName(), test.className);
        EXPECT_TRUE(set->IsA(KObject::ClassId()));
        std::vector<KProperty*> listed;
        attribute->CollectProperties(listed);
        ASSERT_EQ(listed.size(), test.rows.size()) << test.className;
        for (size_t i = 0; i < listed.size(); ++i) {
            const Row& row = test.rows[i];
            KProperty* p = listed[i];
            EXPECT_STREQ(p->GetName(), row.name);
            EXPECT_EQ(p->GetTypeCode(), row.typeCode) << row.name;
            EXPECT_EQ(Numbers(p), row.value) << row.name;
            EXPECT_EQ(p->GetUserFlags(), row.userFlags) << row.name;
            EXPECT_EQ(p->IsAnimatable(), row.animatable) << row.name;
        }
    }
}

TEST(KQovAttributeProperties, EnumLabelsEndWithNull) {
    KQovMarker marker(nullptr);
    KQovLight light(nullptr);
    KProperty* look = marker.GetPropertySet()->FindProperty("Look");
    KProperty* type = light.GetPropertySet()->FindProperty("LightType");
    const struct {
        KProperty* property;
        int value;
        const char* label;
    } cases[] = {
        {look, 0, "Cube"},        {look, 1, "Hard Cross"},     {look, 2, "Light Cross"},
        {look, 3, "Sphere"},      {look, 4, nullptr},          {look, -1, nullptr},
        {type, 0, "Point Light"}, {type, 1, "Infinite Light"}, {type, 2, "Spot Light"},
        {type, 3, nullptr},
    };
    for (const auto& test : cases)
        EXPECT_STREQ(test.property->GetEnumName(test.value), test.label) << test.value;
}

TEST(KQovLight, GoboPropertyIsTheLightsGobo) {
    KQovLight light(nullptr);
    KProperty* gobo = light.GetPropertySet()->FindProperty("GoboProperty");
    ASSERT_NE(gobo, nullptr);
    const struct {
        const char* set;
        const char* expected;
    } cases[] = {
        {"spots.tif", "spots.tif"}, {"", nullptr}, {"C:/gobos/bars.png", "C:/gobos/bars.png"}, {nullptr, nullptr},
    };
    for (const auto& test : cases) {
        gobo->SetValue(test.set);
        EXPECT_STREQ(light.GetGoboFileName(), test.expected) << (test.set ? test.set : "null");
        const char* read = "untouched";
        gobo->GetValue(&read);
        EXPECT_STREQ(read, test.expected) << (test.set ? test.set : "null");
    }
    light.SetGoboFileName("direct.tif");  // and the other way round
    const char* read = nullptr;
    gobo->GetValue(&read);
    EXPECT_STREQ(read, "direct.tif");
    EXPECT_EQ(gobo->GetTypeCode(), KProperty::eOBJECT);  // still an object list
    EXPECT_EQ(static_cast<KPropertyObjectList*>(gobo)->GetCount(), 0);
}

TEST(KQovSkeleton, KindsDecideNamesColourAndLength) {
    const struct {
        int kind;
        const char* typeName;
        std::vector<const char*> names;
        bool colorHidden, lengthAccepted, colorAccepted;
    } cases[] = {
        {0, "Root", {"Null", "Skeleton", "Root"}, true, false, false},
        {1, "Limb", {"Skeleton"}, false, true, true},
        {2, "LimbNode", {"Skeleton"}, false, false, true},
        {3, "Root", {"Null", "Skeleton", "Root"}, true, false, false},
        {4, "", {}, true, false, false},
    };
    for (const auto& test : cases) {
        KQovSkeleton skeleton(nullptr);
        skeleton.SetSkeletonType(1);  // from a limb, so the flag has to come back
        skeleton.SetSkeletonType(test.kind);
        EXPECT_STREQ(skeleton.GetTypeName().Buffer(), test.typeName);
        const KStringList names = skeleton.GetTypeNames();
        ASSERT_EQ(size_t(names.GetCount()), test.names.size()) << test.kind;
        for (size_t i = 0; i < test.names.size(); ++i)
            EXPECT_STREQ(names.GetAt(int(i)), test.names[i]);
        KProperty* color = skeleton.GetPropertySet()->FindProperty("Color");
        EXPECT_EQ(color->TestUserFlag(16), test.colorHidden) << test.kind;
        EXPECT_EQ(skeleton.SetLimbLength(5.0), test.lengthAccepted) << test.kind;
        EXPECT_EQ(skeleton.GetLimbLength(), test.lengthAccepted ? 5.0 : 1.0);
        EXPECT_EQ(skeleton.SetColor(0.1, 0.2, 0.3), test.colorAccepted) << test.kind;
        EXPECT_EQ(skeleton.GetColor().mBlue, test.colorAccepted ? 0.3 : 0.8);
        EXPECT_EQ(skeleton.GetColor().mAlpha, 1.0);
    }
}

TEST(KQovSkeleton, ResetRestoresARoot) {
    KQovSkeleton skeleton(nullptr);
    skeleton.SetSkeletonType(1);
    skeleton.SetLimbLength(3.0);
    skeleton.SetSize(7.0);
    skeleton.SetColor(0, 0, 0);
    skeleton.Reset();
    EXPECT_EQ(skeleton.GetSkeletonType(), 0);
    EXPECT_FALSE(skeleton.IsKindSet() || skeleton.IsSizeSet() || skeleton.IsColorSet() ||
                 skeleton.IsLimbLengthSet());
    EXPECT_EQ(skeleton.GetSize(), 100.0);
    EXPECT_EQ(skeleton.GetLimbLength(), 1.0);
    EXPECT_EQ(skeleton.GetColor().mRed, 0.8);
    EXPECT_TRUE(skeleton.GetPropertySet()->FindProperty("Color")->TestUserFlag(16));
}

TEST(KQovNull, SizeAndNames) {
    KQovNull null(nullptr);
    EXPECT_FALSE(null.IsSizeSet());
    null.SetSize(12.5);
    EXPECT_TRUE(null.IsSizeSet());
    EXPECT_EQ(null.GetSize(), 12.5);
    EXPECT_STREQ(null.GetTypeName().Buffer(), "Null");
    ASSERT_EQ(null.GetTypeNames().GetCount(), 1);
    EXPECT_STREQ(null.GetTypeNames().GetAt(0), "Null");
    null.ClearNode();  // no node: nothing happens
    EXPECT_EQ(null.GetNode(), nullptr);
}

TEST(KQovMarker, TypeNamesAndValues) {
    KQovMarker marker(nullptr);
    const char* names[] = {"Marker", "OpticalMarker", "IKEffector", "FKEffector", "Marker"};
    for (int kind = 0; kind < 5; ++kind) {
        marker.SetType(kind);
        EXPECT_EQ(marker.GetType(), kind);
        EXPECT_STREQ(marker.GetTypeName().Buffer(), names[kind]);
        EXPECT_STREQ(marker.GetTypeNames().GetAt(0), "Marker");
    }
    marker.SetColorFromKColor(KColor(0.1, 0.2, 0.3, 0.5));
    marker.SetIKPivot(KVector4(1, 2, 3));
    marker.SetLook(KQovMarker::eSphere);
    marker.SetShowLabel(true);
    EXPECT_EQ(marker.GetColor().mGreen, 0.2);
    EXPECT_EQ(marker.GetColor().mAlpha, 1.0);
    EXPECT_EQ(marker.GetIKPivot()[2], 3.0);
    marker.Reset();
    EXPECT_EQ(marker.GetType(), 0);
    EXPECT_EQ(marker.GetLook(), 0);
    EXPECT_FALSE(marker.GetShowLabel());
    EXPECT_EQ(marker.GetColor().mRed, 1.0);
    EXPECT_EQ(marker.GetIKPivot()[2], 0.0);
}

TEST(KQovLight, GoboNameIsNullWhenEmpty) {
    KQovLight light(nullptr);
    EXPECT_EQ(light.GetGoboFileName(), nullptr);
    EXPECT_TRUE(light.SetGoboFileName("gobo.tif"));
    EXPECT_STREQ(light.GetGoboFileName(), "gobo.tif");
    EXPECT_TRUE(light.SetGoboFileName(nullptr));
    EXPECT_EQ(light.GetGoboFileName(), nullptr);
}

}  // namespace
