#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include <unistd.h>

#include "common/TempTestFolder.h"
#include "foundation/KPath.h"
#include "foundation/KRegistry.h"
#include "foundation/KTime.h"
#include "scene/KDataType.h"

namespace {

struct Row {
    const char* name;
    int size;
    int components;
    const char* base;
};

// The names are written into files: they must be exact, in creation order.
const Row kTypes[] = {
    {"Number", 8, 1, "Number"},
    {"Time", 8, 0, "Time"},
    {"Vector", 24, 3, "Vector"},
    {"Vector4", 32, 4, "Vector4"},
    {"Matrix", 128, 16, "Matrix"},
    {"Real", 8, 1, "Number"},
    {"Integer", 8, 1, "Number"},
    {"Action", 8, 1, "Number"},
    {"Intensity", 8, 1, "Number"},
    {"Cone angle", 8, 1, "Number"},
    {"Fog", 8, 1, "Number"},
    {"Shape", 8, 1, "Number"},
    {"FieldOfView", 8, 1, "Number"},
    {"FieldOfViewX", 8, 1, "Number"},
    {"FieldOfViewY", 8, 1, "Number"},
    {"OpticalCenterX", 8, 1, "Number"},
    {"OpticalCenterY", 8, 1, "Number"},
    {"Roll", 8, 1, "Number"},
    {"Camera Index", 8, 1, "Number"},
    {"TimeWarp", 8, 1, "Number"},
    {"Visibility", 8, 1, "Number"},
    {"Bool", 8, 1, "Number"},
    {"Enum", 8, 1, "Number"},
    {"Color", 24, 3, "Vector"},
    {"ColorAndAlpha", 32, 4, "Vector4"},
    {"Translation UV", 24, 3, "Vector"},
    {"Scaling UV", 24, 3, "Vector"},
    {"HSB", 24, 3, "Vector"},
    {"Translation", 24, 3, "Vector"},
    {"Scaling", 24, 3, "Vector"},
    {"Rotation", 24, 3, "Vector"},
    {"Lcl Translation", 24, 3, "Vector"},
    {"Lcl Scaling", 24, 3, "Vector"},
    {"Lcl Rotation", 24, 3, "Vector"},
    {"Matrix Translation", 128, 16, "Matrix"},
    {"Matrix Scaling", 128, 16, "Matrix"},
    {"Matrix Rotation", 128, 16, "Matrix"},
    {"Matrix Transformation", 128, 16, "Matrix"},
    {"Orientation", 24, 3, "Vector"},
    {"Look at", 24, 3, "Vector"},
    {"Quaternion", 32, 4, "Vector4"},
    {"Lcl Quaternion", 32, 4, "Vector4"},
    {"Occlusion", 8, 1, "Number"},
    {"Weight", 8, 1, "Number"},
    {"IK Reach Translation", 8, 1, "Number"},
    {"IK Reach Rotation", 8, 1, "Number"},
};

std::string Text(const KDataType* type, const void* value, int size = 512) {
    char buffer[512];
    EXPECT_TRUE(type->ToText(buffer, size, value));
    return buffer;
}

TEST(KDataType, TheTableInCreationOrder) {
    ASSERT_NE(KDataType::FindByName("Number"), nullptr);
    ASSERT_EQ(KDataType::GetTypeCount(), 46);
    for (int i = 0; i < 46; ++i) {
        const KDataType* type = KDataType::GetTypeAt(i);
        const Row& row = kTypes[i];
        ASSERT_STREQ(type->GetName(), row.name);
        EXPECT_EQ(type->GetSize(), row.size) << row.name;
        EXPECT_EQ(type->GetComponentCount(), row.components) << row.name;
        EXPECT_STREQ(type->GetBaseType()->GetName(), row.base) << row.name;
        EXPECT_EQ(KDataType::FindByName(row.name), type);
    }
    EXPECT_EQ(KDataType::FindByName("Trigger"), KDataType::FindByName("Action"));
    EXPECT_EQ(KDataType::FindByName("trigger"), nullptr);
    EXPECT_EQ(KDataType::FindByName("lcl translation"), KDataType::FindByName("Lcl Translation"));
    EXPECT_EQ(KDataType::FindByName("Nothing"), nullptr);
    EXPECT_EQ(KDataType::FindByName(nullptr), nullptr);
}

TEST(KDataType, ComponentNames) {
    EXPECT_STREQ(KDataType::FindByName("Translation UV")->GetComponentName(1), "V");
    EXPECT_STREQ(KDataType::FindByName("Translation UV")->GetComponentName(2), "?");
    EXPECT_STREQ(KDataType::FindByName("ColorAndAlpha")->GetComponentName(3), "a");
    EXPECT_STREQ(KDataType::FindByName("HSB")->GetComponentName(0), "H");
    EXPECT_STREQ(KDataType::FindByName("Lcl Rotation")->GetComponentName(2), "z");
    EXPECT_STREQ(KDataType::FindByName("Quaternion")->GetComponentName(3), "w");
    EXPECT_STREQ(KDataType::FindByName("Vector")->GetComponentName(3), "?");
    EXPECT_STREQ(KDataType::FindByName("Time")->GetComponentName(0), "?");
    EXPECT_EQ(KDataType::FindByName("Number")->GetComponentName(0), nullptr);
    EXPECT_EQ(KDataType::FindByName("Matrix")->GetComponentName(0), nullptr);
}

TEST(KDataType, TextRoundTripsForEveryFamily) {
    ASSERT_EQ(KDataType::GetDisplayPrecision(), 2);
    const KDataType* intensity = KDataType::FindByName("Intensity");
    double number = 100.0;
    EXPECT_EQ(Text(intensity, &number), "100.00");
    double back = 0;
    ASSERT_TRUE(intensity->FromText("100.00", &back));
    EXPECT_EQ(back, 100.0);

    const KDataType* color = KDataType::FindByName("Color");
    double rgb[3] = {1, 0.5, 0};
    EXPECT_EQ(Text(color, rgb), "{1.00,0.50,0.00}");
    double rgbBack[3] = {};
    ASSERT_TRUE(color->FromText("{1.00,0.50,0.00}", rgbBack));
    EXPECT_EQ(rgbBack[1], 0.5);

    const KDataType* quaternion = KDataType::FindByName("Quaternion");
    double q[4] = {0.25, -1.5, 2, -0.75};
    double qBack[4] = {};
    ASSERT_TRUE(quaternion->FromText(Text(quaternion, q).c_str(), qBack));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(qBack[i], q[i]);

    const KDataType* matrix = KDataType::FindByName("Matrix Transformation");
    double m[16], mBack[16] = {};
    for (int i = 0; i < 16; ++i) m[i] = i * 0.25 - 2;
    std::string mText = Text(matrix, m);
    ASSERT_TRUE(matrix->FromText(mText.c_str(), mBack));
    for (int i = 0; i < 16; ++i) EXPECT_EQ(mBack[i], m[i]);
    EXPECT_TRUE(matrix->GetDefault(mBack));
    EXPECT_EQ(mBack[15], 0.0);

    const KDataType* time = KDataType::FindByName("Time");
    KTime t(KTime::kOneSecond * 2), tBack;
    ASSERT_TRUE(time->FromText(Text(time, &t).c_str(), &tBack));
    EXPECT_EQ(tBack.Get(), t.Get());
    EXPECT_TRUE(time->GetDefault(&tBack));
    EXPECT_EQ(tBack.Get(), 0);
}

TEST(KDataType, MalformedTextsAreRefused) {
    const KDataType* lcl = KDataType::FindByName("Lcl Translation");
    double v[3] = {};
    ASSERT_TRUE(lcl->FromText("{1,2,3}", v));
    EXPECT_EQ(v[0], 1);
    EXPECT_EQ(v[2], 3);
    EXPECT_FALSE(lcl->FromText("{1,2}", v));
    EXPECT_FALSE(lcl->FromText("1,2,3", v));
    EXPECT_FALSE(lcl->FromText("{1,2,3", v));
    EXPECT_FALSE(lcl->FromText("{1,,3}", v));
    EXPECT_FALSE(lcl->FromText("{1 2 3}", v));
    EXPECT_FALSE(lcl->FromText("", v));
    EXPECT_FALSE(lcl->FromText(nullptr, v));
    // One component too many.
    EXPECT_FALSE(KDataType::FindByName("Vector")->FromText("{1,2,3,4}", v));
}

TEST(KDataType, ToTextHonoursTheBufferSize) {
    const KDataType* color = KDataType::FindByName("Color");
    double rgb[3] = {1, 0.5, 0};
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_FALSE(color->ToText(buffer, 0, rgb));
    EXPECT_FALSE(color->ToText(buffer, -5, rgb));
    EXPECT_EQ(buffer[0], 'x');
    ASSERT_TRUE(color->ToText(buffer, 6, rgb));
    EXPECT_STREQ(buffer, "{1.00");
    EXPECT_EQ(buffer[6], 'x');
    // Huge values never overflow anything.
    double big[16];
    for (double& d : big) d = 1e300;
    std::string text = Text(KDataType::FindByName("Matrix"), big);
    EXPECT_EQ(text.size(), 511u);
}

TEST(KDataType, PrecisionComesFromTheSettingsFile) {
    EXPECT_EQ(KDataType::ParsePrecision("4"), 4);
    EXPECT_EQ(KDataType::ParsePrecision("-3"), 0);
    EXPECT_EQ(KDataType::ParsePrecision("1000"), 17);
    EXPECT_EQ(KDataType::ParsePrecision("abc"), 2);
    EXPECT_EQ(KDataType::ParsePrecision(nullptr), 2);
    EXPECT_EQ(KDataType::ParsePrecision("99999999999999999999"), 17);
    EXPECT_EQ(KDataType::ParsePrecision("-99999999999999999999"), 0);
    EXPECT_EQ(KDataType::ParsePrecision(" 3"), 3);
    EXPECT_EQ(KDataType::ParsePrecision("-"), 2);
    EXPECT_EQ(KDataType::ParsePrecision(""), 2);

    char computer[256] = "?";
    KGetLocalComputerName(computer, sizeof computer);
    TempTestFolder dir("qovdatatype");
    const std::string folder = dir.path();
    std::string saved = KGetSettingsFolder();
    KSetSettingsFolder(folder.c_str());
    std::string path = folder + "/" + computer + ".Application.txt";
    const KDataType* real = KDataType::FindByName("Real");
    double value = 1.5;
    for (auto [setting, expected] : {std::pair<const char*, const char*>{"4", "1.5000"},
                                     {"-3", "2"},
                                     {"1000", "1.50000000000000000"},
                                     {"many", "1.50"}}) {
        FILE* f = std::fopen(path.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fprintf(f, "[NumericField]\nDecimal = %s\n", setting);
        std::fclose(f);
        KDataType::ResetDisplayPrecision();
        EXPECT_EQ(Text(real, &value), expected) << setting;
    }
    std::remove(path.c_str());
    KDataType::ResetDisplayPrecision();
    EXPECT_EQ(Text(real, &value), "1.50");  // no file: 2
    KSetSettingsFolder(saved.c_str());
    KDataType::ResetDisplayPrecision();
}

}  // namespace
