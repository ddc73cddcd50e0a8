#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>

#include "foundation/KStringList.h"
#include "scene/KDataType.h"
#include "scene/KTypedProperty.h"
#include "scene/SceneObjectDoubles.h"

namespace {

using scene_test::TestSet;

// Counts the value events reaching the set.
class CountingSet : public TestSet {
public:
    CountingSet() : TestSet(nullptr) {}
    bool SendValueEvent(const KPlugChain* chain, int code, KPlug* sender, const void* a,
                        const void* b, const void* c) override {
        if (code == eValueChanging) ++changing;
        if (code == eValueChanged) ++changed;
        return TestSet::SendValueEvent(chain, code, sender, a, b, c);
    }
    int changing = 0;
    int changed = 0;
};

TEST(KQovPropertyTable, RowsInOrderWithTheirAttributes) {
    CountingSet* set = new CountingSet;
    struct Row {
        const char* name;
        int type;
        const char* dataType;
        bool animatable;
        uint32_t userFlags;
        bool typed;  // created by the set's CreateProperty
    } rows[] = {
        {"Intensity", KProperty::eDOUBLE, "Intensity", true, 0, false},
        {"Color", KProperty::eCOLORRGB, "Color", true, 0, false},
        {"Tint", KProperty::eCOLORRGBA, "ColorAndAlpha", true, 0, false},
        {"Frame", KProperty::eDOUBLE, "Matrix", true, 0, false},
        {"Start", KProperty::eTIME, "Time", true, 0, false},
        {"Mode", KProperty::eENUM, nullptr, false, 16, false},
        {"Weight", KProperty::eDOUBLE, "Weight", true, 0, true},
    };
    ASSERT_EQ(set->GetPropertyCount(), 7);
    ASSERT_EQ(set->GetTableRowCount(), 7);
    for (int i = 0; i < 7; ++i) {
        KProperty* p = set->GetProperty(i);
        EXPECT_STREQ(p->GetName(), rows[i].name);
        EXPECT_EQ(p->GetTypeCode(), rows[i].type) << rows[i].name;
        if (rows[i].dataType) {
            EXPECT_STREQ(p->GetDataType()->GetName(), rows[i].dataType) << rows[i].name;
        }
        EXPECT_EQ(p->IsAnimatable(), rows[i].animatable) << rows[i].name;
        EXPECT_EQ(p->GetUserFlags(), rows[i].userFlags) << rows[i].name;
        EXPECT_EQ(p->TestFlag(KProperty::eTyped), rows[i].typed) << rows[i].name;
        EXPECT_EQ(set->GetEmbedded(i) != nullptr, !rows[i].typed) << rows[i].name;
        EXPECT_STREQ(set->GetTableRow(i)->name, rows[i].name);
    }
    KProperty* mode = set->FindProperty("Mode");
    EXPECT_STREQ(mode->GetEnumName(0), "Off");
    EXPECT_STREQ(mode->GetEnumName(1), "On");
    EXPECT_EQ(mode->GetEnumName(2), nullptr);
    EXPECT_EQ(set->GetTableProperty(7), nullptr);
    EXPECT_EQ(set->GetTableRow(-1), nullptr);
    EXPECT_EQ(set->FindProperty("Weight")->GetDouble(), 0.25);
    EXPECT_EQ(set->FindProperty("Intensity")->GetDouble(), 100.0);
    set->Destroy();
}

TEST(KQovPropertyTable, EmbeddedValuesByKind) {
    CountingSet* set = new CountingSet;
    struct Case {
        int typeCode;
        std::array<double, 4> in;
        int components;
        std::array<double, 4> out;
    } cases[] = {
        {KProperty::eBOOL, {2.0}, 1, {1.0}},
        {KProperty::eINT, {-7.9}, 1, {-7.0}},
        {KProperty::eENUM, {3.0}, 1, {3.0}},
        {KProperty::eFLOAT, {0.5}, 1, {0.5}},
        {KProperty::eDOUBLE, {0.1}, 1, {0.1}},
        {KProperty::eVECTOR3D, {1, 2, 3, 9}, 3, {1, 2, 3}},
        {KProperty::eCOLORRGB, {0.1, 0.2, 0.3}, 3, {0.1, 0.2, 0.3}},
        {KProperty::eVECTOR4D, {1, 2, 3, 4}, 4, {1, 2, 3, 4}},
        {KProperty::eCOLORRGBA, {0.1, 0.2, 0.3, 0.4}, 4, {0.1, 0.2, 0.3, 0.4}},
        {KProperty::eTIME, {1.0}, 0, {}},
        {KProperty::eOBJECT, {1.0}, 0, {}},
    };
    for (const Case& c : cases) {
        KQovEmbeddedProperty property(c.typeCode);
        property.Init("P", set);
        set->AddProperty(&property);
        set->changing = set->changed = 0;
        const bool written = KQovSetPropertyNumbers(&property, c.in.data(), 4);
        EXPECT_EQ(written, c.components > 0) << c.typeCode;
        EXPECT_EQ(set->changing, written ? 1 : 0) << c.typeCode;
        EXPECT_EQ(set->changed, written ? 1 : 0) << c.typeCode;
        std::array<double, 4> out{};
        EXPECT_EQ(KQovGetPropertyNumbers(&property, out.data()), c.components) << c.typeCode;
        for (int i = 0; i < c.components; ++i) EXPECT_EQ(out[size_t(i)], c.out[size_t(i)]) << c.typeCode;
        set->ForgetProperty(&property);
    }
    set->Destroy();
}

TEST(KQovPropertyTable, NumbersOnTypedProperties) {
    CountingSet* set = new CountingSet;
    auto* integer = new KPropertyInt(set, "I");
    const double saturating[][2] = {{1e12, 2147483647.0},
                                    {-1e12, -2147483648.0},
                                    {std::numeric_limits<double>::quiet_NaN(), 0.0},
                                    {-2.9, -2.0}};
    for (const auto& c : saturating) {
        EXPECT_TRUE(KQovSetPropertyNumbers(integer, &c[0], 1));
        EXPECT_EQ(integer->GetInt(), int(c[1])) << c[0];
    }
    auto* vector = new KPropertyVector3D(set, "V");
    const double two[2] = {5.0, 6.0};
    vector->Set(1.0, 2.0, 3.0);
    EXPECT_TRUE(KQovSetPropertyNumbers(vector, two, 2));  // the third component is kept
    EXPECT_EQ(vector->Get(), (std::array<double, 3>{5.0, 6.0, 3.0}));
    auto* text = new KPropertyString(set, "S");
    double out[4] = {8, 8, 8, 8};
    EXPECT_EQ(KQovGetPropertyNumbers(text, out), 0);
    EXPECT_EQ(out[0], 8.0);
    EXPECT_FALSE(KQovSetPropertyNumbers(text, two, 1));
    EXPECT_EQ(KQovGetPropertyNumbers(nullptr, out), 0);
    EXPECT_FALSE(KQovSetPropertyNumbers(vector, nullptr, 3));
    set->Destroy();
}

TEST(KQovPropertyTable, ResetPutsEmbeddedDefaultsBackQuietly) {
    CountingSet* set = new CountingSet;
    auto* intensity = set->GetEmbedded(0);
    intensity->SetValue(&std::array<double, 1>{5.0}[0]);
    set->FindProperty("Mode")->SetInt(1);
    set->changing = set->changed = 0;
    set->ResetTableDefaults();
    EXPECT_EQ(set->changing + set->changed, 0);
    EXPECT_EQ(intensity->GetDouble(), 100.0);
    EXPECT_EQ(set->FindProperty("Mode")->GetInt(), 0);
    // Text rows keep their text through the value buffer.
    {
        KQovEmbeddedProperty text(KProperty::eSTRING);
        text.Init("Name", set);
        EXPECT_TRUE(text.SetString("abc"));
        KString value;
        text.GetValue(&value);
        EXPECT_STREQ(value.Buffer(), "abc");
    }
    set->Destroy();
}

TEST(KQovPropertyTable, CreatePropertySetsOnlyTheAnimatableFlag) {
    CountingSet* set = new CountingSet;
    KProperty* p = set->CreateProperty("Extra", KProperty::eDOUBLE, nullptr, true, false);
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(p->IsAnimatable());
    EXPECT_EQ(set->CreateProperty("Other", KProperty::eDOUBLE, nullptr, false, false)->IsAnimatable(),
              false);
    set->Destroy();
}

}  // namespace
