#include <gtest/gtest.h>

#include <cmath>

#include "animation/KFCurve.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovTexture.h"
#include "attributes/KQovTextureProperties.h"
#include "scene/KPropertyObjectList.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovVideo.h"

namespace {

using P = KQovTextureProperties;

int Property(const KQovTexture& texture, int row) {
    return int(texture.GetTextureProperties()->GetNumber(row));
}

TEST(KQovTexture, NewTextureValues) {
    KQovTexture texture(nullptr, "Texture::T");
    KQovTakeNode* take = texture.GetDefaultTakeNode();
    EXPECT_EQ(take->GetTextureScalingX()->GetValue(), 1.0f);
    EXPECT_EQ(take->GetTextureScalingZ()->GetValue(), 1.0f);
    EXPECT_EQ(take->GetTextureTranslationY()->GetValue(), 0.0f);
    EXPECT_EQ(take->GetTextureAlpha()->GetValue(), 1.0f);
    EXPECT_EQ(texture.GetDefaultAlpha(), 1.0);
    EXPECT_EQ(Property(texture, P::eCurrentTextureBlendMode), 1);
    EXPECT_EQ(texture.GetMappingType(), KQovTexture::eMappingUV);
    EXPECT_EQ(Property(texture, P::eCurrentMappingType), P::eMapUV);
    EXPECT_EQ(texture.GetTypeName(), "TextureVideoClip");
    EXPECT_EQ(texture.GetUVScaling(), KVector2(1.0, 1.0));
    EXPECT_EQ(texture.GetMaterialUse(), 1);
    EXPECT_EQ(texture.GetTextureProperties()->GetTableProperty(P::eVideoProperty)->GetTypeCode(),
              KProperty::eOBJECT);
    EXPECT_EQ(texture.GetMediaClip(), nullptr);
    EXPECT_EQ(texture.GetPropertyLinkCount(), 0);  // the channels drive nothing
}

TEST(KQovTexture, MappingTypeTable) {
    struct Case {
        int type, normal, property;
        const char* label;
    } cases[] = {
        {1, 0, P::eMapX, "X"},
        {1, 1, P::eMapY, "Y"},
        {1, 2, P::eMapZ, "Z"},
        {2, 0, P::eMapSpherical, "Spherical"},
        {3, 0, P::eMapCylindrical, "Cylindrical"},
        {4, 0, P::eMapBox, "Box"},
        {5, 0, P::eMapFace, "Face"},
        {6, 0, P::eMapUV, "UV"},
        {7, 0, P::eMapEnvironment, "Environment"},
        {0, 0, P::eMapNone, "None"},
        {8, 0, P::eMapNone, "None"},
        {-1, 2, P::eMapNone, "None"},
    };
    for (const Case& c : cases) {
        KQovTexture texture(nullptr, "Texture::T");
        texture.SetPlanarMappingNormal(c.normal);
        texture.SetMappingType(c.type);
        EXPECT_EQ(Property(texture, P::eCurrentMappingType), c.property)
            << c.type << "/" << c.normal;
        EXPECT_STREQ(P::GetMappingTypeName(c.property), c.label);
    }
    // The normal follows a planar mapping only; an unknown axis changes nothing.
    KQovTexture texture(nullptr, "Texture::T");
    texture.SetPlanarMappingNormal(2);
    texture.SetMappingType(1);
    texture.SetPlanarMappingNormal(0);
    EXPECT_EQ(Property(texture, P::eCurrentMappingType), P::eMapX);
    texture.SetPlanarMappingNormal(7);
    EXPECT_EQ(Property(texture, P::eCurrentMappingType), P::eMapX);
    texture.SetMappingType(0);
    texture.SetPlanarMappingNormal(1);
    EXPECT_EQ(Property(texture, P::eCurrentMappingType), P::eMapNone);
    EXPECT_EQ(P::GetMappingTypeName(11), nullptr);
}

TEST(KQovTexture, TextureUseRoundTrip) {
    const int stored[] = {0, 3, 4, 1, 2, 5};
    const char* const labels[] = {"Color",      "Shadow Map",
                                  "Light Map",  "Spherical Reflection Map",
                                  "Sphere Map", "Bump Map (NormalMap)"};
    KQovTexture texture(nullptr, "Texture::T");
    for (int use = 0; use < 6; ++use) {
        texture.SetTextureUse(use);
        EXPECT_EQ(texture.GetTextureUse(), use);
        EXPECT_EQ(Property(texture, P::eTextureTypeUse), stored[use]);
        EXPECT_STREQ(P::GetTextureUseName(stored[use]), labels[use]);
    }
    for (int use : {6, -1, 1000}) {
        texture.SetTextureUse(use);
        EXPECT_EQ(texture.GetTextureUse(), 0) << use;
    }
    texture.SetMaterialUse(0);
    EXPECT_EQ(Property(texture, P::eUseMaterial), 1);
    EXPECT_EQ(texture.GetMaterialUse(), 0);
}

TEST(KQovTexture, CroppingKeepsTheCallersOrder) {
    KQovTexture texture(nullptr, "Texture::T");
    texture.SetCropping(1, 2, 3, 4);
    EXPECT_EQ(texture.GetCroppingC0(), 1);
    EXPECT_EQ(texture.GetCroppingC1(), 3);
    EXPECT_EQ(texture.GetCroppingC2(), 2);
    EXPECT_EQ(texture.GetCroppingC3(), 4);
}

TEST(KQovTexture, FileNamesRefuseEmpty) {
    KQovTexture texture(nullptr, "Texture::T");
    EXPECT_TRUE(texture.SetFileName("a.tif"));
    EXPECT_FALSE(texture.SetFileName(""));
    EXPECT_FALSE(texture.SetFileName(nullptr));
    EXPECT_FALSE(texture.SetRelativeFileName(""));
    EXPECT_STREQ(texture.GetFileName(), "a.tif");
    EXPECT_STREQ(texture.GetRelativeFileName(), "");
}

TEST(KQovTexture, PlacementWritesCurveAndProperty) {
    KQovTexture texture(nullptr, "Texture::T");
    texture.SetDefaultTranslation(0.5, -2.0);
    texture.SetDefaultScale(KVector4(3.0, 4.0, 9.0));
    texture.SetDefaultAlpha(0.25);
    double translation[3], scaling[3];
    texture.GetTextureProperties()->GetVector(P::eTranslation, translation);
    texture.GetTextureProperties()->GetVector(P::eScaling, scaling);
    EXPECT_EQ(translation[1], -2.0);
    EXPECT_EQ(scaling[2], 1.0);
    EXPECT_EQ(texture.GetDefaultTranslationV(), -2.0);
    EXPECT_EQ(texture.GetDefaultScaleV(), 4.0);
    EXPECT_EQ(texture.GetDefaultTakeNode()->GetTextureScalingZ()->GetValue(), 1.0f);
    EXPECT_EQ(texture.GetDefaultTakeNode()->GetTextureAlpha()->GetValue(), 0.25f);
    EXPECT_EQ(texture.GetDefaultAlpha(), 0.25);
}

TEST(KQovTexture, IsEqual) {
    struct Case {
        const char* what;
        const char* a;
        const char* b;
        void (*change)(KQovTexture&);
        bool equal;
    } cases[] = {
        {"trailing number", "Texture::wood 12", "Texture::wood", [](KQovTexture&) {}, true},
        {"digit inside", "Texture::wood2b", "Texture::wood", [](KQovTexture&) {}, false},
        {"relative file is no part", "Texture::w", "Texture::w",
         [](KQovTexture& t) { t.SetRelativeFileName("x"); }, true},
        {"blend and wrap are no part", "Texture::w", "Texture::w",
         [](KQovTexture& t) {
             t.SetBlendMode(3);
             t.SetWrapMode(1, 1);
         },
         true},
        {"file", "Texture::w", "Texture::w", [](KQovTexture& t) { t.SetFileName("b.tif"); }, false},
        {"cropping", "Texture::w", "Texture::w", [](KQovTexture& t) { t.SetCropping(0, 0, 1, 0); },
         false},
        {"uv scaling", "Texture::w", "Texture::w",
         [](KQovTexture& t) { t.SetUVScaling(KVector2(1.0, 2.0)); }, false},
        {"rotation w", "Texture::w", "Texture::w",
         [](KQovTexture& t) { t.SetDefaultRotation(0, 0, 1); }, false},
        {"use", "Texture::w", "Texture::w", [](KQovTexture& t) { t.SetTextureUse(5); }, false},
        {"swap", "Texture::w", "Texture::w", [](KQovTexture& t) { t.SetSwapUV(true); }, false},
        {"negative zero", "Texture::w", "Texture::w",
         [](KQovTexture& t) { t.SetDefaultTranslation(-0.0, 0.0); }, true},
        {"not a number", "Texture::w", "Texture::w",
         [](KQovTexture& t) { t.SetDefaultRotation(0, std::nan(""), 0); }, false},
        {"media", "Texture::w", "Texture::w", [](KQovTexture& t) { t.SetMediaName("Video::v"); },
         false},
        {"alpha", "Texture::w", "Texture::w", [](KQovTexture& t) { t.SetDefaultAlpha(0.5); }, false},
        {"uv translation", "Texture::w", "Texture::w",
         [](KQovTexture& t) { t.SetUVTranslation(KVector2(0.0, -1.0)); }, false},
        {"name case", "Texture::w", "Texture::W", [](KQovTexture&) {}, false},
        {"one float ulp of scale", "Texture::w", "Texture::w",
         [](KQovTexture& t) { t.SetDefaultScale(double(std::nextafter(1.0f, 2.0f)), 1.0); }, false},
        {"alpha source", "Texture::w", "Texture::w",
         [](KQovTexture& t) { t.SetAlphaSource(KQovTexture::eAlphaBlack); }, false},
        {"mapping", "Texture::w", "Texture::w",
         [](KQovTexture& t) { t.SetMappingType(KQovTexture::eMappingBox); }, false},
        {"planar normal", "Texture::w", "Texture::w",
         [](KQovTexture& t) { t.SetPlanarMappingNormal(KQovTexture::eNormalZ); }, false},
        {"material use", "Texture::w", "Texture::w",
         [](KQovTexture& t) { t.SetMaterialUse(1 - t.GetMaterialUse()); }, false},
    };
    for (const Case& c : cases) {
        KQovTexture a(nullptr, c.a);
        KQovTexture b(nullptr, c.b);
        c.change(b);
        EXPECT_EQ(a.IsEqual(b), c.equal) << c.what;
        EXPECT_EQ(b.IsEqual(a), c.equal) << c.what;
        // The key a search among many goes by: the same exactly for equal textures.
        EXPECT_EQ(a.GetEqualityKey() == b.GetEqualityKey(), c.equal) << c.what;
    }
}

// The texture names its clip's file: the clip (and the other textures it shows in) follow a
// name that differs, and a refused name reaches nobody.
TEST(KQovTexture, FileNamesReachTheConnectedClip) {
    struct Case {
        const char* name;
        bool clip;
        bool relative;  // SetRelativeFileName, else SetFileName
        const char* given;
        bool result;
        const char* clipFile;  // what the clip and its other texture hold after
        const char* clipRelative;
    };
    const Case cases[] = {
        {"no clip connected", false, false, "b.png", true, "a.png", "r/a.png"},
        {"same name", true, false, "a.png", true, "a.png", "r/a.png"},
        {"different name", true, false, "b.png", true, "b.png", "r/a.png"},
        {"relative name", true, true, "r/b.png", true, "a.png", "r/b.png"},
        {"same relative name", true, true, "r/a.png", true, "a.png", "r/a.png"},
        {"empty name", true, false, "", false, "a.png", "r/a.png"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KQovObjectManager m;
        KQovVideo* video = m.CreateVideo("Clip");
        ASSERT_TRUE(video->SetFileName("a.png"));
        ASSERT_TRUE(video->SetRelativeFileName("r/a.png"));
        // Another texture shown by the clip: the clip tells it of every rename.
        KQovTexture* other = m.CreateTexture("Other");
        ASSERT_TRUE(other->GetTextureProperties()->ConnectSrc(video->GetProperties()));
        KQovTexture* texture = m.CreateTexture("T");
        ASSERT_TRUE(texture->SetFileName("a.png"));
        ASSERT_TRUE(texture->SetRelativeFileName("r/a.png"));
        if (c.clip) {
            ASSERT_TRUE(
                texture->GetTextureProperties()->GetVideoProperty()->Add(video->GetProperties()));
            ASSERT_EQ(texture->GetMediaClip(), video->GetProperties());
        }

        EXPECT_EQ(
            c.relative ? texture->SetRelativeFileName(c.given) : texture->SetFileName(c.given),
            c.result);
        if (c.result) {
            EXPECT_STREQ(c.relative ? texture->GetRelativeFileName() : texture->GetFileName(),
                         c.given);
        }
        EXPECT_STREQ(video->GetFileName(), c.clipFile);
        EXPECT_STREQ(video->GetRelativeFileName(), c.clipRelative);
        EXPECT_STREQ(other->GetFileName(), c.clipFile);
        EXPECT_STREQ(other->GetRelativeFileName(), c.clipRelative);
        if (c.clip) {
            EXPECT_STREQ(texture->GetFileName(), video->GetFileName());
            EXPECT_STREQ(texture->GetRelativeFileName(), video->GetRelativeFileName());
        }
    }
}

}  // namespace
