#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "foundation/KColor.h"
#include "scene/KDataType.h"
#include "scene/KObject.h"
#include "scene/KQovUserProperty.h"
#include "scene/KSceneTestPlugs.h"
#include "scene/KTypedProperty.h"

namespace {

// A property set as the owner side sees it: records every value change.
class PropertySet : public KObject, public KQovUserPropertyOwner {
public:
    std::vector<KQovUserProperty*> changed;
    void UserPropertyChanged(KQovUserProperty* userProperty) override {
        changed.push_back(userProperty);
    }
};

struct Objects : KSceneTestPlugs<PropertySet> {};

TEST(KQovUserProperty, TypeNames) {
    const char* names[] = {"Unidentified", "Bool", "Real", "Color", "Integer", "Vector"};
    for (int type = 0; type < 6; ++type) {
        EXPECT_STREQ(KQovUserProperty::GetTypeName(type), names[type]);
        if (type > 0) {
            EXPECT_EQ(KQovUserProperty::GetTypeFromName(names[type]), type);
        }
    }
    EXPECT_EQ(KQovUserProperty::GetTypeName(6), nullptr);
    EXPECT_EQ(KQovUserProperty::GetTypeName(-1), nullptr);
    EXPECT_EQ(KQovUserProperty::GetTypeFromName("bool"), 0);
    EXPECT_EQ(KQovUserProperty::GetTypeFromName("Unidentified"), 0);
    EXPECT_EQ(KQovUserProperty::GetTypeFromName("Vector "), 0);
    EXPECT_EQ(KQovUserProperty::GetTypeFromName(nullptr), 0);
}

TEST(KQovUserProperty, DetachedDescription) {
    KQovUserProperty up(nullptr, "Speed", "Vector", "Top speed");
    EXPECT_EQ(up.GetType(), KQovUserProperty::eVector);
    EXPECT_STREQ(up.GetName().Buffer(), "Speed");
    KString label;
    up.GetLabel(label, true);
    EXPECT_STREQ(label.Buffer(), "Top speed");
    EXPECT_EQ(up.GetMin(), -HUGE_VAL);
    EXPECT_EQ(up.GetMax(), HUGE_VAL);
    EXPECT_EQ(up.GetProperty(), nullptr);
    EXPECT_FALSE(up.Wraps(nullptr));

    // No property: values are neither stored nor read.
    up.SetValue(1.0, 2.0, 3.0);
    up.SetValue(5);
    double x = 7, y = 8, z = 9, d = 4;
    up.GetVector(x, y, z);
    up.GetValue(d);
    EXPECT_EQ(x + y + z + d, 7 + 8 + 9 + 4);

    up.SetFlag(3, true);
    EXPECT_TRUE(up.GetFlag(1));
    EXPECT_TRUE(up.GetFlag(2));
    EXPECT_FALSE(up.GetFlag(4));
    up.SetFlag(1, false);
    EXPECT_FALSE(up.GetFlag(1));
    EXPECT_TRUE(up.GetFlag(2));
    up.SetMin(-1.5);
    up.SetMax(2.5);
    EXPECT_EQ(up.GetMin(), -1.5);
    EXPECT_EQ(up.GetMax(), 2.5);

    KQovUserProperty unnamed(nullptr, "Weight", "Real", "");
    unnamed.GetLabel(label, false);
    EXPECT_TRUE(label.IsEmpty());
    unnamed.GetLabel(label, true);
    EXPECT_STREQ(label.Buffer(), "Weight");
    EXPECT_EQ(KQovUserProperty(nullptr, "X", "real", "").GetType(), 0);
}

TEST(KQovUserProperty, WrappedPropertyTypesAndFlags) {
    Objects objects;
    KObject* o = objects.Make();
    struct Row {
        int code;
        int type;
    } rows[] = {{KProperty::eINT, 4},      {KProperty::eBOOL, 1},     {KProperty::eDOUBLE, 2},
                {KProperty::eVECTOR3D, 5}, {KProperty::eCOLORRGB, 3}, {KProperty::eCOLORRGBA, 3},
                {KProperty::eENUM, 0},     {KProperty::eSTRING, 0},   {KProperty::eTIME, 0}};
    for (const Row& row : rows) {
        KProperty* p = o->CreateProperty("P", row.code, nullptr, false, false);
        ASSERT_NE(p, nullptr);
        KQovUserProperty up(nullptr, p);
        EXPECT_EQ(up.GetType(), row.type) << row.code;
        EXPECT_TRUE(up.Wraps(p));
        EXPECT_FALSE(up.Wraps(nullptr));
        EXPECT_STREQ(up.GetName().Buffer(), p->GetName());
    }

    KProperty* p = o->CreateProperty("Flags", KProperty::eDOUBLE, nullptr, false, false);
    KQovUserProperty up(nullptr, p);
    up.SetFlag(3, true);
    EXPECT_EQ(p->GetAttributes() & 0x1C2u, 0x42u);
    up.SetFlag(3, false);
    up.SetFlag(2, true);
    EXPECT_EQ(p->GetAttributes() & 0x1C2u, 0x40u);
    EXPECT_TRUE(up.GetFlag(2));
    EXPECT_FALSE(up.GetFlag(1));
    up.SetFlag(4, true);
    EXPECT_TRUE(p->TestFlag(0x80));
    EXPECT_TRUE(up.GetFlag(4));

    up.SetMin(-3);
    up.SetMax(3);
    EXPECT_EQ(p->GetMin(), -3);
    EXPECT_EQ(p->GetMax(), 3);
    p->SetLabel("Shown");
    KString label;
    up.GetLabel(label, true);
    EXPECT_STREQ(label.Buffer(), "Shown");
    EXPECT_FALSE(o->CreatePropertyFromDescription(&up));  // already wraps a property
}

TEST(KQovUserProperty, ValuesThroughTheHandle) {
    Objects objects;
    KObject* o = objects.Make();
    auto* rgba = static_cast<KPropertyColorRGBA*>(
        o->CreateProperty("Tint", KProperty::eCOLORRGBA, nullptr, false, false));
    KQovUserProperty color(nullptr, rgba);
    rgba->Set(0, 0, 0, 0.25);
    color.SetValue(1.0, 0.5, 0.25);
    EXPECT_EQ(rgba->Get(), (KPropertyColorRGBA::Value{1.0, 0.5, 0.25, 1.0}));
    color.SetColor(KColor(0.1, 0.2, 0.3, 0.4));  // the given alpha is not used
    EXPECT_EQ(rgba->Get(), (KPropertyColorRGBA::Value{0.1, 0.2, 0.3, 1.0}));
    color.SetValue(2.0, -1.0, 0.5);  // through a colour: clamped
    EXPECT_EQ(rgba->Get(), (KPropertyColorRGBA::Value{1.0, 0.0, 0.5, 1.0}));
    KColor read(0, 0, 0, 0.75);
    color.GetColor(read);
    EXPECT_EQ(read.mRed, 1.0);
    EXPECT_EQ(read.mBlue, 0.5);
    EXPECT_EQ(read.mAlpha, 0.75);

    auto* vector = static_cast<KPropertyVector3D*>(
        o->CreateProperty("Dir", KProperty::eVECTOR3D, nullptr, false, false));
    KQovUserProperty vec(nullptr, vector);
    vec.SetValue(2.0, -1.0, 0.5);  // not a colour: kept as given
    double x = 0, y = 0, z = 0;
    vec.GetVector(x, y, z);
    EXPECT_EQ(x, 2.0);
    EXPECT_EQ(y, -1.0);
    EXPECT_EQ(z, 0.5);
    vec.SetColor(KColor(0, 0, 0));
    EXPECT_EQ(vector->Get(), (KPropertyVector3D::Value{2.0, -1.0, 0.5}));
    color.GetVector(x, y, z);
    EXPECT_EQ(x + y + z, 1.5);

    auto* real = static_cast<KPropertyDouble*>(
        o->CreateProperty("Real", KProperty::eDOUBLE, nullptr, false, false));
    KQovUserProperty number(nullptr, real);
    number.SetValue(2.5);
    number.SetValue(1.0, 0.5, 0.25);
    EXPECT_EQ(real->Get(), 2.5);
    number.GetVector(x, y, z);
    EXPECT_EQ(x, 1.0);  // untouched

    KProperty* flag = o->CreateProperty("On", KProperty::eBOOL, nullptr, false, false);
    KQovUserProperty boolean(nullptr, flag);
    boolean.SetValue(true);
    bool on = false;
    boolean.GetValue(on);
    EXPECT_TRUE(on);
    int i = -1;
    boolean.GetValue(i);
    EXPECT_EQ(i, 1);
}

TEST(KQovUserProperty, CreatePropertyFromDescription) {
    Objects objects;
    PropertySet* set = objects.Make();
    EXPECT_FALSE(set->CreatePropertyFromDescription(nullptr));
    KQovUserProperty unknown(nullptr, "Odd", "bool", "");
    EXPECT_FALSE(set->CreatePropertyFromDescription(&unknown));
    EXPECT_EQ(set->GetPropertyCount(), 0);

    struct Row {
        const char* type;
        int code;
    } rows[] = {{"Bool", KProperty::eBOOL},
                {"Real", KProperty::eDOUBLE},
                {"Color", KProperty::eCOLORRGB},
                {"Integer", KProperty::eINT},
                {"Vector", KProperty::eVECTOR3D}};
    for (const Row& row : rows) {
        KQovUserProperty up(nullptr, row.type, row.type, "");
        ASSERT_TRUE(set->CreatePropertyFromDescription(&up)) << row.type;
        KProperty* p = up.GetProperty();
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->GetTypeCode(), row.code);
        EXPECT_STREQ(p->GetDataType()->GetName(), row.type);
        EXPECT_EQ(up.GetType(), KQovUserProperty::GetTypeFromName(row.type));
        EXPECT_EQ(p->GetAttributes() & 0xC2u, 0u);  // no flags given
        EXPECT_EQ(p->GetUserFlags() & 0x8u, 0u);
        EXPECT_STREQ(p->GetLabel(), row.type);  // the name stands in for the label
        EXPECT_FALSE(set->CreatePropertyFromDescription(&up));
    }
    EXPECT_EQ(set->GetPropertyCount(), 5);

    // Flags, label, limits and a name made unique on the set.
    KQovUserProperty up(nullptr, "Bool", "Real", "Strength");
    up.SetFlag(KQovUserProperty::eFlagAnimatable | KQovUserProperty::eFlagUserProperty |
                   KQovUserProperty::eFlagFromDescription,
               true);
    up.SetMin(-2.0);
    up.SetMax(HUGE_VAL);
    ASSERT_TRUE(set->CreatePropertyFromDescription(&up));
    KProperty* p = up.GetProperty();
    EXPECT_STREQ(p->GetName(), "Bool 0");
    EXPECT_STREQ(up.GetName().Buffer(), "Bool 0");
    EXPECT_EQ(p->GetAttributes() & 0xC2u, 0xC2u);
    EXPECT_TRUE(p->TestUserFlag(0x8));
    EXPECT_STREQ(p->GetLabel(), "Strength");
    EXPECT_EQ(p->GetMin(), -2.0);
    EXPECT_EQ(p->GetMax(), HUGE_VAL);
    EXPECT_EQ(set->GetUserProperty(0), p);
    EXPECT_EQ(up.GetOwner(), static_cast<KQovUserPropertyOwner*>(set));

    up.SetValue(0.75);
    up.SetValue(1.0, 2.0, 3.0);  // not a vector: no change, no notice
    ASSERT_EQ(set->changed.size(), 1u);
    EXPECT_EQ(set->changed[0], &up);
    EXPECT_EQ(static_cast<KPropertyDouble*>(p)->Get(), 0.75);

    KQovUserProperty onlyAnimatable(nullptr, "Anim", "Integer", "");
    onlyAnimatable.SetFlag(KQovUserProperty::eFlagAnimatable, true);
    ASSERT_TRUE(set->CreatePropertyFromDescription(&onlyAnimatable));
    EXPECT_EQ(onlyAnimatable.GetProperty()->GetAttributes() & 0xC2u, 0x2u);
    EXPECT_TRUE(onlyAnimatable.GetProperty()->TestUserFlag(0x8));
}

TEST(KQovUserProperty, PlainObjectsAndDestroyedProperties) {
    Objects objects;
    KObject* plain = objects.Make<KObject>();
    KQovUserProperty nameless(nullptr, "", "Integer", "");
    ASSERT_TRUE(plain->CreatePropertyFromDescription(&nameless));
    EXPECT_EQ(nameless.GetProperty()->GetLabel(), nullptr);  // neither label nor name
    EXPECT_EQ(nameless.GetOwner(), nullptr);                 // not a property set
    nameless.SetValue(4);                                    // nobody to tell
    int value = 0;
    nameless.GetValue(value);
    EXPECT_EQ(value, 4);

    // The property goes with its object; the handle falls back to its description.
    PropertySet* set = objects.Make();
    KQovUserProperty up(nullptr, "Gone", "Vector", "Label");
    ASSERT_TRUE(set->CreatePropertyFromDescription(&up));
    set->Destroy();
    EXPECT_EQ(up.GetProperty(), nullptr);
    up.SetValue(1.0, 2.0, 3.0);
    EXPECT_EQ(up.GetType(), KQovUserProperty::eVector);
    EXPECT_STREQ(up.GetName().Buffer(), "Gone");
    EXPECT_EQ(up.GetMin(), -HUGE_VAL);
}

}  // namespace
