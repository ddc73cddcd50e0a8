#include <gtest/gtest.h>

#include "formats/geometry/3ds/MaterialConvert3ds.h"

namespace {

TEST(MaterialConvert3ds, MapPlacementsSurviveARoundTrip) {
    struct Case {
        float su, sv, ou, ov, rotation;
        int tiling;
        float wantSu;  // a zero scale counts as 1
    } cases[] = {
        {1, 1, 0, 0, 0, 1, 1},         {2, 4, 0.25f, -0.5f, 0, 1, 2},  {0, 3, 0.1f, 0.2f, 0, 2, 1},
        {2, 2, 0.25f, 0.5f, 30, 1, 2}, {1, 3, -0.3f, 0.7f, -90, 2, 1},
    };
    for (const Case& c : cases) {
        TextureMap3ds in;
        in.name = "brick.tga";
        in.percent = 1.0f;
        in.uScale = c.su, in.vScale = c.sv, in.uOffset = c.ou, in.vOffset = c.ov;
        in.rotation = c.rotation, in.tiling = c.tiling;
        KQovTexture texture(nullptr, "Texture::T");
        texture.SetFileName("brick.tga");
        ApplyTextureMap3ds(in, texture, true);
        EXPECT_EQ(texture.GetWrapModeU(), c.tiling == 1 ? 0 : 1);
        TextureMap3ds out;
        std::string message;
        FillTextureMap3ds(texture, 0, "M", false, out, message);
        SCOPED_TRACE(c.rotation);
        EXPECT_FLOAT_EQ(out.uScale, c.wantSu);
        EXPECT_NEAR(out.uOffset, c.ou, 1e-5);
        EXPECT_NEAR(out.vOffset, c.ov, 1e-5);
        EXPECT_FLOAT_EQ(out.rotation, c.rotation);
        EXPECT_EQ(out.tiling, c.tiling == 1 ? 1 : 2);
        EXPECT_EQ(out.name, "brick.tga");
        EXPECT_TRUE(message.empty());
    }
}

TEST(MaterialConvert3ds, MapNamesFitTwelveCharacters) {
    struct Case {
        const char* file;
        const char* name;
        bool message;
    } cases[] = {
        {"short.tga", "short.tga", false},
        {"/some/long/folder/brick.tga", "brick.tga", false},
        {"/textures/brick_wall_diffuse.tga", "Tex3", true},
    };
    for (const Case& c : cases) {
        KQovTexture texture(nullptr, "Texture::T");
        texture.SetFileName(c.file);
        TextureMap3ds map;
        std::string message;
        FillTextureMap3ds(texture, 3, "Wall", false, map, message);
        EXPECT_EQ(map.name, c.name);
        EXPECT_EQ(!message.empty(), c.message);
        if (c.message) {
            EXPECT_EQ(message,
                      "Texture name file: \"brick_wall_diffuse.tga\" is too long.\nChange manually "
                      "texture name: \"Tex3\" in material \"Wall\" by "
                      "\"/textures/brick_wall_diffuse.tga\" for proper work\n\n");
        }
    }
}

TEST(MaterialConvert3ds, ColoursBothWaysAndGeneratedNames) {
    Material3ds r;
    r.ambient = {0.1f, 0.2f, 0.3f};
    r.diffuse = {0.5f, 0.5f, 0.5f};
    r.specular = {0.6f, 0.6f, 0.6f};
    r.shineStrength = 0.75f;
    r.shininess = 0.7f;  // doubled past 1: clamped
    r.selfIllumination = 0.5f;
    r.transparency = 0.25f;
    KQovMaterial m(nullptr, "Material::M");
    ApplyMaterial3ds(r, m);
    EXPECT_NEAR(m.GetDefaultAmbient().mBlue, 0.3, 1e-6);
    EXPECT_NEAR(m.GetDefaultSpecular().mRed, 0.6 * 0.75 * 1.3333334f, 1e-6);
    EXPECT_NEAR(m.GetDefaultShininess(), 1.0, 1e-6);
    EXPECT_NEAR(m.GetDefaultEmissive().mGreen, 0.25, 1e-6);
    EXPECT_NEAR(m.GetDefaultOpacity(), 0.75, 1e-6);
    Material3ds back;
    FillMaterial3ds(m, back);
    EXPECT_NEAR(back.diffuse.g, 0.5f, 1e-6);
    EXPECT_NEAR(back.shininess, 0.5f, 1e-6);
    EXPECT_NEAR(back.shineStrength, 3 * 0.6 * 1.3333334 * 0.75 * 0.25, 1e-5);
    EXPECT_NEAR(back.selfIllumination, 0.25f, 1e-6);
    EXPECT_NEAR(back.transparency, 0.25f, 1e-6);
    EXPECT_EQ(back.flagA081, 1);

    EXPECT_EQ(MaterialName3ds(2, 0, 1, -1, 0), "2.Mat0Tex1");
    EXPECT_EQ(MaterialName3ds(2, 0, 1, 3, 0), "2.Mat0T1T3");
    EXPECT_EQ(MaterialName3ds(12345, 100, 1000, 7, 9), "$MAT9");  // too long
}

}  // namespace
