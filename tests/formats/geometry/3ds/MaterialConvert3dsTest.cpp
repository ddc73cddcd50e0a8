#include <gtest/gtest.h>
#include <sys/stat.h>
#include <cerrno>

#include <fstream>
#include <string>
#include <vector>

#include "Test3ds.h"
#include "formats/geometry/3ds/MaterialConvert3ds.h"
#include "formats/geometry/3ds/TextureCopy3ds.h"
#include "foundation/KPath.h"
#include "platform/KPlatformFile.h"

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
        FillTextureMap3ds(texture, "brick.tga", false, out);
        SCOPED_TRACE(c.rotation);
        EXPECT_FLOAT_EQ(out.uScale, c.wantSu);
        EXPECT_NEAR(out.uOffset, c.ou, 1e-5);
        EXPECT_NEAR(out.vOffset, c.ov, 1e-5);
        EXPECT_FLOAT_EQ(out.rotation, c.rotation);
        EXPECT_EQ(out.tiling, c.tiling == 1 ? 1 : 2);
        EXPECT_EQ(out.name, "brick.tga");
    }
}

// Names the field holds are written as they are; a longer one gets a distinct 8.3 name that
// keeps its extension, the image copied beside the file under it, and the status says so.
// Names are told apart without case, and a file of that name beside the output that is
// another image is never taken. A different image of a name already used gets a name of its
// own; the same bytes share one.
TEST(MaterialConvert3ds, MapNamesFitTwelveCharacters) {
    TempTestFolder source("tsrc"), target("tdst");
    ASSERT_TRUE(source.ok() && target.ok());
    for (const char* folder : {"some", "other", "same"})
        ASSERT_TRUE(KPlatformMakeDirectory((source / folder).c_str()));
    struct Case {
        const char* file;  // in the source folder, holding its own name as bytes
        const char* name;
        bool told;
        const char* why = "a 3DS file holds texture names of 12 characters at most";
        const char* bytes = nullptr;  // other than its own name
    } cases[] = {
        {"short.tga", "short.tga", false},
        {"some/folder.tga", "folder.tga", false},
        {"brick_wall_diffuse.tga", "brick_wa.tga", true},
        {"BRICK_WALL_normal.tga", "BRICK_~1.tga", true},
        {"brick_wall_diffuse.tga", "brick_wa.tga", false},  // the same image again
        {"engineflare1.jpg", "engine~1.jpg", true},         // enginefl.jpg is another image
        {"wal67ar_small.jpeg", "wal67ar.jpeg", true},
        {"a picture, large (2).png", "apicture.png", true},
        {"photo.longextension", "photo.lon", true},
        {"other/short.tga", "short~1.tga", true, "another image is named \"short.tga\""},
        {"same/short.tga", "short.tga", false, "", "short.tga"},
        {"beside.tga", "beside~1.tga", true, "another image is named \"beside.tga\""},
        // The other file in another case is named as it is.
        {"WOOD.tga", "WOOD~1.tga", true, "another image is named \"wood.tga\""},
    };
    WriteBytes3ds(target / "wood.tga", Bytes3ds(4, 1));
    WriteBytes3ds(target / "enginefl.jpg", Bytes3ds(4, 1));
    WriteBytes3ds(target / "beside.tga", Bytes3ds(4, 1));
    TextureNames3ds names;
    const std::string file3ds = target / "scene.3ds";
    names.Reset(file3ds);
    // A path shorter than the field is written whole.
    std::string status;
    EXPECT_EQ(names.Place("a/b.tga", status), "a/b.tga");
    EXPECT_EQ(status, "");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = source / c.file;
        std::ofstream(path, std::ios::binary) << (c.bytes ? c.bytes : c.file);
        status.clear();
        EXPECT_EQ(names.Place(path, status), c.name);
        EXPECT_EQ(status, c.told ? "Texture \"" + path + "\" is written as \"" + c.name +
                                       "\": " + c.why + ".\n"
                                 : "");
        // Copied as it is placed, before the file names it.
        const std::vector<char> copy = ReadBytes3ds(target / c.name);
        EXPECT_EQ(std::string(copy.begin(), copy.end()), c.bytes ? c.bytes : c.file) << c.name;
    }
    status.clear();
    names.Report(status);
    EXPECT_EQ(status, "Unable to locate texture file \"a/b.tga\".\n");
    names.Keep(status);
    for (const Case& c : cases) {
        const std::vector<char> copy = ReadBytes3ds(target / c.name);
        EXPECT_EQ(std::string(copy.begin(), copy.end()), c.bytes ? c.bytes : c.file) << c.name;
    }
    EXPECT_EQ(ReadBytes3ds(target / "enginefl.jpg").size(), 4u);
    EXPECT_EQ(ReadBytes3ds(target / "beside.tga").size(), 4u);
    EXPECT_EQ(ReadBytes3ds(target / "wood.tga").size(), 4u);
}

// Made names count on per start: each of many images of one start looks at a name or two, not
// at every name before it, and gets the name the probing from "~1" would give.
TEST(MaterialConvert3ds, ManyImagesOfOneStart) {
    TempTestFolder target("tdst");
    TextureNames3ds names;
    names.Reset(target / "scene.3ds");
    std::string status;
    const int count = 500;
    for (int i = 0; i < count; ++i) {
        const std::string file = "texturename" + std::to_string(10000 + i) + ".tga";
        ASSERT_EQ(names.Place(target / ("in/" + file), status),
                  TextureNames3ds::ShortName(file, i));
    }
    EXPECT_LE(names.GetNamesTried(), size_t(2 * count));
}

// A name another file has is looked at once, not once for every image after: each of many
// images of one name, beside as many files of other bytes under the names made from it, looks
// at a name or a few. An image of the bytes of a file passed over still shares its name; one
// that is not there is said to be missing.
TEST(MaterialConvert3ds, ManyImagesPastFilesOfOtherBytes) {
    TempTestFolder source("tsrc"), target("tdst");
    const int count = 40;
    auto write = [](const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    };
    write(target / "wood.tga", "other 0");
    for (int k = 1; k <= count; ++k)
        write(target / ("wood~" + std::to_string(k) + ".tga"), "other " + std::to_string(k));
    KTextureNamesObj names;
    names.Reset(target / "x.obj");
    std::string status;
    for (int i = 0; i < count; ++i) {
        const std::string folder = source / std::to_string(i);
        ASSERT_TRUE(KPlatformMakeDirectory(folder.c_str()));
        write(folder + "/wood.tga", "image " + std::to_string(i));
        ASSERT_EQ(names.Place(folder + "/wood.tga", status),
                  "wood~" + std::to_string(count + 1 + i) + ".tga");
    }
    EXPECT_LE(names.GetNamesTried(), size_t(4 * count));
    ASSERT_TRUE(KPlatformMakeDirectory((source / "same").c_str()));
    write(source / "same/wood.tga", "other 7");
    EXPECT_EQ(names.Place(source / "same/wood.tga", status), "wood~7.tga");
    // A copy the system refuses its permissions is named; the others get theirs.
    status.clear();
    KPlatformFailFileCalls(KPlatformFileCall::eChmod, 1, 1, EPERM);
    names.Keep(status);
    KPlatformClearFileFaults();
    const std::string refused = target / ("wood~" + std::to_string(count + 2) + ".tga");
    EXPECT_EQ(status, "The image copy " + refused + " has no permissions: operation not permitted\n");
    struct stat st;
    ASSERT_EQ(stat(refused.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0u);
    ASSERT_EQ(stat((target / ("wood~" + std::to_string(count + 1) + ".tga")).c_str(), &st), 0);
    EXPECT_NE(st.st_mode & 07777, 0u);
    auto text = [](const std::string& path) {
        const std::vector<char> bytes = ReadBytes3ds(path);
        return std::string(bytes.begin(), bytes.end());
    };
    EXPECT_EQ(text(target / "wood~7.tga"), "other 7");
    EXPECT_EQ(text(target / ("wood~" + std::to_string(count + 1) + ".tga")), "image 0");
    // A name an MTL line cannot hold whole (a line break, blanks around it) is made one.
    using Made = std::pair<std::string, std::string>;
    for (const auto& [file, made] :
         {Made{"IMA\nE1.JPG", "IMA_E1.JPG"}, Made{" lead.png", "_lead.png"}}) {
        write(source / file, "image");
        status.clear();
        EXPECT_EQ(names.Place(source / file, status), made);
        EXPECT_NE(status.find("drops blanks around it"), std::string::npos) << status;
    }

    TextureNames3ds short3ds;
    short3ds.Reset(target / "x.3ds");
    const std::string gone = source / "engineflare1.jpg";
    status.clear();
    EXPECT_EQ(short3ds.Place(gone, status), "enginefl.jpg");
    EXPECT_EQ(status, "Texture \"" + gone + "\" is written as \"enginefl.jpg\", with no copy "
                      "(unable to locate it): a 3DS file holds texture names of 12 characters "
                      "at most.\n");
    EXPECT_FALSE(KPlatformPathExists((target / "enginefl.jpg").c_str()));
}

TEST(MaterialConvert3ds, ColoursBothWaysAndGeneratedNames) {
    Material3ds r;
    r.ambient = {0.1f, 0.2f, 0.3f};
    r.diffuse = {0.5f, 0.5f, 0.5f};
    r.specular = {0.6f, 0.6f, 0.6f};
    r.shineStrength = 0.75f;
    r.shininess = 0.7f;  // doubled past 1: full shininess, the channel keeps the rest
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
    EXPECT_NEAR(back.shininess, 0.7f, 1e-6);
    EXPECT_NEAR(back.shineStrength, 3 * 0.6 * 1.3333334 * 0.75 * 0.25, 1e-5);
    EXPECT_NEAR(back.selfIllumination, 0.5f, 1e-6);  // the diffuse colour's share
    // An emission that is no share of the diffuse colour: its mean.
    m.SetDefaultEmissive(KColor(0.3, 0, 0));
    FillMaterial3ds(m, back);
    EXPECT_NEAR(back.selfIllumination, 0.1f, 1e-6);
    EXPECT_NEAR(back.transparency, 0.25f, 1e-6);
    EXPECT_EQ(back.flagA081, 1);

    EXPECT_EQ(MaterialName3ds(2, 0, 1, -1, 0), "2.Mat0Tex1");
    EXPECT_EQ(MaterialName3ds(2, 0, 1, 3, 0), "2.Mat0T1T3");
    EXPECT_EQ(MaterialName3ds(12345, 100, 1000, 7, 9), "$MAT9");  // too long
}

}  // namespace
