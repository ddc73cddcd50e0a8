#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovMaterial.h"
#include "attributes/KQovMaterialProperties.h"
#include "attributes/KQovShadingChannels.h"

namespace {

using P = KQovMaterialProperties;

double PropertyValue(const KQovMaterial& material, int row, int component = 0) {
    double values[4] = {};
    KQovGetPropertyNumbers(material.GetMaterialProperties()->GetTableProperty(row), values);
    return values[component];
}

TEST(KQovMaterial, DefaultsAndTheSevenDefaultChannels) {
    KQovMaterial material(nullptr, "Material::M");
    struct Row {
        int row;
        const char* name;
        double value;
        int children;
    } rows[] = {
        {P::eEmissive, "Emissive", 0.0, 3},   {P::eAmbient, "Ambient", 0.2, 3},
        {P::eDiffuse, "Diffuse", 0.8, 3},     {P::eSpecular, "Specular", 0.2, 3},
        {P::eOpacity, "Opacity", 1.0, 0},     {P::eReflectivity, "Reflectivity", 0.3, 0},
        {P::eShininess, "Shininess", 6.4, 0},
    };
    KFCurveNode* root = material.GetDefaultTakeNode()->GetRoot();
    ASSERT_EQ(root->GetCount(), 7);
    EXPECT_EQ(material.GetShadingModel(), "phong");
    EXPECT_FALSE(material.GetMultiLayer());
    EXPECT_EQ(material.GetPropertyLinkCount(), 4 * 3 + 3);
    for (const Row& r : rows) {
        KProperty* property = material.GetMaterialProperties()->GetTableProperty(r.row);
        ASSERT_NE(property, nullptr) << r.name;
        EXPECT_STREQ(property->GetName(), r.name);
        EXPECT_TRUE(property->IsAnimatable()) << r.name;
        EXPECT_EQ(property->GetUserFlags() & 8u, 8u) << r.name;
        KFCurveNode* channel = root->Get(r.row);
        EXPECT_STREQ(channel->GetName(), r.name);
        EXPECT_EQ(channel->GetCount(), r.children) << r.name;
        for (int c = 0; c < (r.children ? 3 : 1); ++c) {
            EXPECT_DOUBLE_EQ(PropertyValue(material, r.row, c), r.value) << r.name;
            const KFCurve* curve =
                KQovShadingChannels::DefaultCurve(material, r.name, r.children ? c : -1);
            ASSERT_NE(curve, nullptr) << r.name;
            EXPECT_FLOAT_EQ(curve->GetValue(), float(r.value)) << r.name;
        }
    }
}

TEST(KQovMaterial, FactorsClampAndDriveTheirProperties) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        double in;
        double stored;
    } cases[] = {{1.5, 1.0}, {-2.0, 0.0}, {0.25, 0.25}, {nan, 0.0}};
    for (const Case& c : cases) {
        KQovMaterial material(nullptr, "Material::M");
        material.SetDefaultOpacity(c.in);
        material.SetDefaultReflectivity(c.in);
        EXPECT_DOUBLE_EQ(material.GetDefaultOpacity(), c.stored) << c.in;
        EXPECT_DOUBLE_EQ(material.GetDefaultReflectivity(), c.stored) << c.in;
        EXPECT_DOUBLE_EQ(PropertyValue(material, P::eOpacity), c.stored) << c.in;
    }
}

TEST(KQovMaterial, ShininessIsScaledBy128InTheCurve) {
    KQovMaterial material(nullptr, "Material::M");
    material.SetDefaultShininess(0.5);
    KFCurve* curve = material.GetDefaultTakeNode()->GetShininess();
    ASSERT_NE(curve, nullptr);
    EXPECT_FLOAT_EQ(curve->GetValue(), 64.0f);
    EXPECT_DOUBLE_EQ(PropertyValue(material, P::eShininess), 64.0);
    EXPECT_DOUBLE_EQ(material.GetDefaultShininess(), 0.5);
    curve->SetValue(200.0f);
    EXPECT_DOUBLE_EQ(material.GetDefaultShininess(), 1.0);
    material.SetDefaultShininess(3.0);
    EXPECT_FLOAT_EQ(curve->GetValue(), 128.0f);
}

TEST(KQovMaterial, ColoursGoThroughTheDefaultTakeOnly) {
    KQovMaterial material(nullptr, "Material::M");
    KQovTakeNode* take = material.AddTakeNode("Take 001");
    ASSERT_NE(take, nullptr);
    material.SetDefaultAmbient(KColor(0.1, 0.2, 0.3, 0.5));
    const KColor ambient = material.GetDefaultAmbient();
    EXPECT_NEAR(ambient.mRed, 0.1, 1e-7);
    EXPECT_NEAR(ambient.mGreen, 0.2, 1e-7);
    EXPECT_NEAR(ambient.mBlue, 0.3, 1e-7);
    EXPECT_EQ(ambient.mAlpha, 1.0);
    EXPECT_NEAR(PropertyValue(material, P::eAmbient, 2), 0.3, 1e-7);
    // The copied take keeps the old values and drives nothing.
    EXPECT_FLOAT_EQ(take->GetAmbientB()->GetValue(), 0.2f);
    take->GetDiffuseR()->SetValue(0.0f);
    EXPECT_DOUBLE_EQ(PropertyValue(material, P::eDiffuse), 0.8);
    material.SetSpecular(KVector4(0.5, 0.25, 0.125));
    KVector4 specular;
    material.GetSpecular(specular);
    EXPECT_EQ(specular[1], 0.25);
}

TEST(KQovMaterial, MissingChannelsReadAsZeroAndTakeNoWrites) {
    KQovMaterial material(nullptr, "Material::M");
    KFCurveNode* root = material.GetDefaultTakeNode()->GetRoot();
    for (const char* name : {"Opacity", "Shininess", "Ambient"})
        root->DeleteChild(root->Get(root->FindIndexByName(name)));
    EXPECT_EQ(material.GetPropertyLinkCount(), 4 * 3 + 3 - 5);  // the links of the curves went too
    material.SetDefaultOpacity(0.5);
    material.SetDefaultShininess(0.5);
    material.SetDefaultAmbient(KColor(0.5, 0.5, 0.5));
    EXPECT_EQ(material.GetDefaultOpacity(), 0.0);
    EXPECT_EQ(material.GetDefaultShininess(), 0.0);
    EXPECT_EQ(material.GetDefaultAmbient().mGreen, 0.0);
    EXPECT_DOUBLE_EQ(PropertyValue(material, P::eOpacity), 1.0);
}

TEST(KQovMaterial, IsEqual) {
    struct Case {
        const char* what;
        const char* otherName;
        void (*change)(KQovMaterial&);
        bool equal;
    } cases[] = {
        {"model differs in case", "Material::wood",
         [](KQovMaterial& m) { m.SetShadingModel("PHONG"); }, true},
        {"trailing digit", "Material::wood1", [](KQovMaterial&) {}, false},
        {"name case", "Material::Wood", [](KQovMaterial&) {}, false},
        {"model", "Material::wood", [](KQovMaterial& m) { m.SetShadingModel("lambert"); }, false},
        {"emissive", "Material::wood",
         [](KQovMaterial& m) { m.SetDefaultEmissive(KColor(0, 0, 0.5)); }, false},
        {"shininess", "Material::wood", [](KQovMaterial& m) { m.SetDefaultShininess(0.9); }, false},
        {"reflectivity", "Material::wood", [](KQovMaterial& m) { m.SetDefaultReflectivity(0.0); },
         false},
        {"multi-layer is no part", "Material::wood", [](KQovMaterial& m) { m.SetMultiLayer(true); },
         true},
        {"negative zero", "Material::wood",
         [](KQovMaterial& m) { m.SetDefaultEmissive(KColor(-0.0, 0, -0.0)); }, true},
        {"not a number", "Material::wood",
         [](KQovMaterial& m) { m.SetDefaultSpecular(KColor(0, std::nan(""), 0)); }, false},
        {"opacity", "Material::wood", [](KQovMaterial& m) { m.SetDefaultOpacity(0.5); }, false},
    };
    for (const Case& c : cases) {
        KQovMaterial a(nullptr, "Material::wood");
        KQovMaterial b(nullptr, c.otherName);
        c.change(b);
        EXPECT_EQ(a.IsEqual(b), c.equal) << c.what;
        EXPECT_EQ(b.IsEqual(a), c.equal) << c.what;
        // The key a search among many goes by: the same exactly for equal materials.
        EXPECT_EQ(a.GetEqualityKey() == b.GetEqualityKey(), c.equal) << c.what;
    }
}

}  // namespace
