#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>

#include "attributes/KQovCamera.h"
#include "scene/KDataType.h"

namespace {

struct DocumentedRow {
    const char* name;
    const char* kind;
    bool animatable;
    const char* dataType;
    std::initializer_list<double> value;
};

const DocumentedRow kDocumented[] = {
#include "attributes/CameraPropertyRows.inc"
};

int TypeCodeOf(const std::string& kind) {
    if (kind == "bool") return KProperty::eBOOL;
    if (kind == "double") return KProperty::eDOUBLE;
    if (kind == "enum") return KProperty::eENUM;
    if (kind == "int") return KProperty::eINT;
    if (kind == "ColorRGB") return KProperty::eCOLORRGB;
    return -1;
}

TEST(KQovCameraProperties, ListMatchesTheDocumentedTableAfterAReset) {
    KQovCamera camera(nullptr);
    KQovCameraProperties* set = camera.GetProperties();
    ASSERT_EQ(set->GetPropertyCount(), 65);
    ASSERT_EQ(std::size(kDocumented), 65u);
    int animatable = 0;
    for (int i = 0; i < 65; ++i) {
        const DocumentedRow& row = kDocumented[i];
        KProperty* p = set->GetProperty(i);
        SCOPED_TRACE(row.name);
        EXPECT_STREQ(p->GetName(), row.name);
        EXPECT_EQ(p->GetTypeCode(), TypeCodeOf(row.kind));
        // Flags 2 and 8 together on exactly the animatable rows.
        EXPECT_EQ(p->IsAnimatable(), row.animatable);
        EXPECT_EQ(p->GetUserFlags(), row.animatable ? 8u : 0u);
        if (*row.dataType) {
            ASSERT_NE(p->GetDataType(), nullptr);
            EXPECT_STREQ(p->GetDataType()->GetName(), row.dataType);
        }
        animatable += p->IsAnimatable();
        double values[4] = {};
        ASSERT_EQ(KQovGetPropertyNumbers(p, values), int(row.value.size()));
        int c = 0;
        for (double expected : row.value) EXPECT_DOUBLE_EQ(values[c++], expected);
    }
    EXPECT_EQ(animatable, 12);
    EXPECT_STREQ(set->GetClassName(), "KQovCameraProperties");
    EXPECT_TRUE(set->IsA(KObject::ClassId()));
}

TEST(KQovCameraProperties, EnumLabelsEndWhereTheirListsEnd) {
    KQovCamera camera(nullptr);
    struct Case {
        const char* property;
        int value;
        const char* label;  // null: no label
    };
    const Case cases[] = {
        {"ResolutionMode", 4, "Fixed Height Resolution"},
        {"ResolutionMode", 5, nullptr},
        {"ApertureMode", 0, "Horizontal & Vertical"},
        {"ApertureMode", 3, nullptr},
        {"CameraFormat", 8, "320x240"},
        {"CameraFormat", 9, nullptr},
        {"CameraFormat", 10, "Full Screen"},
        {"CameraFormat", 11, nullptr},
        {"CameraFormat", -1, nullptr},
        {"FilmFormatIndex", 11, "Imax"},
        {"FilmFormatIndex", 12, nullptr},
        {"ViewFrustumBackPlaneMode", 2, "When Media"},
        {"ViewFrustumBackPlaneMode", 3, nullptr},
        {"BackPlaneDistanceMode", 1, "Relative to Camera"},
        {"BackPlaneDistanceMode", 2, nullptr},
        {"BackgroundMode", 2, "Background & Forground"},
        {"BackgroundMode", 3, nullptr},
        {"SafeAreaDisplayStyle", 1, "Square Safe Area"},
        {"SafeAreaDisplayStyle", 2, nullptr},
        {"CameraProjectionType", 1, "Orthographic"},
        {"CameraProjectionType", 2, nullptr},
        {"FocusSource", 1, "Specific Distance"},
        {"FocusSource", 2, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.property) + " " + std::to_string(c.value));
        KProperty* p = camera.GetProperties()->FindProperty(c.property);
        ASSERT_NE(p, nullptr);
        const char* label = p->GetEnumName(c.value);
        if (c.label)
            EXPECT_STREQ(label, c.label);
        else
            EXPECT_EQ(label, nullptr);
    }
}

}  // namespace
