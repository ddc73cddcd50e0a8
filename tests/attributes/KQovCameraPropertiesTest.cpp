#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "animation/KFCurve.h"
#include "attributes/KQovCamera.h"
#include "attributes/KQovMaterial.h"
#include "attributes/KQovTexture.h"
#include "common/RefusingHeap.h"
#include "scene/KDataType.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

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
    KQovCameraProperties* set = camera.GetCameraProperties();
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
    // Each enum's last label; the value after it has none.
    const std::pair<const char*, const char*> lasts[] = {
        {"ResolutionMode", "Fixed Height Resolution"},
        {"ApertureMode", "Vertical"},
        {"CameraFormat", "Full Screen"},
        {"FilmFormatIndex", "Imax"},
        {"ViewFrustumBackPlaneMode", "When Media"},
        {"BackPlaneDistanceMode", "Relative to Camera"},
        {"BackgroundMode", "Background & Forground"},
        {"SafeAreaDisplayStyle", "Square Safe Area"},
        {"CameraProjectionType", "Orthographic"},
        {"FocusSource", "Specific Distance"}};
    const int lastValue[] = {4, 2, 10, 11, 2, 1, 2, 1, 1, 1};
    for (size_t i = 0; i < std::size(lasts); ++i) {
        KProperty* p = camera.GetCameraProperties()->FindProperty(lasts[i].first);
        ASSERT_NE(p, nullptr) << lasts[i].first;
        EXPECT_STREQ(p->GetEnumName(lastValue[i]), lasts[i].second);
        EXPECT_EQ(p->GetEnumName(lastValue[i] + 1), nullptr) << lasts[i].first;
        EXPECT_EQ(p->GetEnumName(-1), nullptr) << lasts[i].first;
    }
    KProperty* format = camera.GetCameraProperties()->FindProperty("CameraFormat");
    EXPECT_STREQ(format->GetEnumName(8), "320x240");
    EXPECT_EQ(format->GetEnumName(9), nullptr);
}

}  // namespace

// Each allocation of making a camera, a texture and a material (their property sets above all)
// refused in turn: the failure reaches the caller whole, nothing half-built is taken apart (the
// sanitizers see no bad access and no leak), and the manager goes on making objects.
TEST(KQovCameraProperties, EachRefusedAllocationOfASetLeavesNothingHalfBuilt) {
    for (const std::string kind : {"camera", "texture", "material"}) {
        long n = 0;
        for (;; ++n) {
            SCOPED_TRACE(kind + ", allocation " + std::to_string(n));
            KQovObjectManager manager;
            auto make = [&]() -> void* {
                if (kind == "texture") return manager.CreateTexture("t");
                if (kind == "material") return manager.CreateMaterial("m");
                return manager.CreateCamera();
            };
            void* made = nullptr;
            gThrowIn = n;
            try {
                made = make();
            } catch (const std::bad_alloc&) {
            }
            if (gThrowIn.exchange(-1) >= 0) {
                ASSERT_NE(made, nullptr);  // past the last allocation
                break;
            }
            EXPECT_NE(make(), nullptr);
        }
        EXPECT_GT(n, 20);
    }
}

