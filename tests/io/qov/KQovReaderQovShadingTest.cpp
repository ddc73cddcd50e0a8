#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <string>
#include <vector>

#include "GeometryTestUtil.h"
#include "attributes/images/KImage.h"
#include "attributes/images/KImageConverterRegistry.h"
#include "attributes/images/KTiffImage.h"
#include "foundation/KPath.h"
#include "platform/KPlatformFile.h"
#include "attributes/KQovGeometry.h"
#include "attributes/KQovLink.h"
#include "scene/KQovDeformer.h"
#include "scene/KQovEntityContainer.h"
#include "scene/KQovVideo.h"

namespace {

using geotest::Variant;

TEST(KQovReaderQovShading, MaterialsOfBothLayouts) {
    const struct {
        const char* file;
        const char* from;
        const char* to;
        const char* name;
        const char* model;
        double shininess, opacity, diffuseRed;
        bool multiLayer;
    } cases[] = {
        // Shininess 64: 1/128 of it before version 3000, hundredths from then on.
        {"geo_scene5.qov", "", "", "Red", "phong", 0.64, 1.0, 1.0, false},
        {"geo_scene5.qov", "QOVVersion: 5000", "QOVVersion: 2000", "Red", "phong", 0.5, 1.0, 1.0,
         false},
        {"geo_scene5.qov", "ShadingModel: \"Phong\"", "Alpha: 7", "Red", "phong", 0.64, 1.0, 1.0,
         false},
        {"geo_scene5.qov", "ShadingModel: \"Phong\"", "ShadingModel: \"LAMBERT\"", "Red",
         "lambert", 0.64, 1.0, 1.0, false},
        {"geo_scene6.qov", "", "", "Red", "phong", 0.5, 1.0, -1, true},
        {"geo_scene6.qov", "", "", "Plain", "phong", 0.05, 1.0, -1, false},
    };
    qovtest::TempFolder tmp;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + c.to);
        Read read(Variant(tmp, c.file, c.from, c.to));
        KQovMaterial* m = read.manager.FindMaterial(c.name);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(std::string(m->GetShadingModel().Buffer()), c.model);
        // Curves keep floats.
        EXPECT_NEAR(m->GetDefaultShininess(), c.shininess, 1e-7);
        EXPECT_NEAR(m->GetDefaultOpacity(), c.opacity, 1e-12);
        if (c.diffuseRed >= 0) {
            EXPECT_NEAR(m->GetDefaultDiffuse().mRed, c.diffuseRed, 1e-12);
        }
        EXPECT_EQ(m->GetMultiLayer(), c.multiLayer);
    }
}

TEST(KQovReaderQovShading, TexturesOfBothLayouts) {
    Read old(Golden("geo_scene5.qov"));
    KQovTexture* wood = old.manager.FindTexture("Wood");
    KQovTexture* stone = old.manager.FindTexture("Stone");
    ASSERT_TRUE(wood && stone);
    EXPECT_STREQ(wood->GetMediaName(), "Video::wood");
    EXPECT_EQ(geotest::Point(wood->GetDefaultTranslation(), 2), "1,2");
    // Alpha is limited to 0..1; names compare case-sensitively ("planar" is none).
    EXPECT_EQ(wood->GetDefaultAlpha(), 1.0);
    EXPECT_EQ(stone->GetDefaultAlpha(), 0.0);
    EXPECT_EQ(wood->GetMappingType(), KQovTexture::eMappingPlanar);
    EXPECT_EQ(stone->GetMappingType(), KQovTexture::eMappingNone);
    EXPECT_EQ(wood->GetPlanarMappingNormal(), KQovTexture::eNormalZ);
    EXPECT_EQ(wood->GetTextureUse(), KQovTexture::eUseLightMap);
    EXPECT_EQ(wood->GetWrapModeU(), 1);
    EXPECT_EQ(wood->GetWrapModeV(), 0);
    EXPECT_EQ(wood->GetBlendMode(), 2);

    Read now(Golden("geo_scene6.qov"));
    KQovTexture* tex = now.manager.FindTexture("Wood");
    ASSERT_NE(tex, nullptr);
    EXPECT_STREQ(tex->GetFileName(), "wood.png");
    EXPECT_STREQ(tex->GetRelativeFileName(), "tex\\wood.png");
    EXPECT_STREQ(tex->GetMediaName(), "Video::wood");
    EXPECT_EQ(tex->GetUVTranslation().mData[1], 0.25);
    EXPECT_EQ(tex->GetUVScaling().mData[0], 2.0);
    EXPECT_EQ(tex->GetAlphaSource(), KQovTexture::eAlphaBlack);
    // Cropping comes back in the order it is written, in both layouts.
    for (KQovTexture* t : {wood, tex}) {
        const int32_t got[] = {t->GetCroppingC0(), t->GetCroppingC1(), t->GetCroppingC2(),
                               t->GetCroppingC3()};
        EXPECT_EQ(std::vector<int32_t>(got, got + 4), std::vector<int32_t>({1, 2, 3, 4}));
    }
}

// Twins are merged: one stays, every layer, connection and registered name reaches it.
TEST(KQovReaderQovShading, DuplicateTexturesAndMaterialsMerge) {
    Read read(Golden("geo_scene5.qov"));
    KQovObjectManager& m = read.manager;
    EXPECT_EQ(m.GetMaterialCount(), 2);  // Red, Blue
    EXPECT_EQ(m.FindTexture("Wood 2"), nullptr);
    KQovMesh* quad = m.FindNode("Quad")->GetMesh();
    KQovMesh* twin = m.FindNode("Twin")->GetMesh();
    EXPECT_EQ(twin->GetLayer(0)->GetMaterials()->GetDirectArray().GetAt(0),
              quad->GetLayer(0)->GetMaterials()->GetDirectArray().GetAt(0));
    KQovTexture* wood = m.FindTexture("Wood");
    EXPECT_EQ(twin->GetLayer(0)->GetTextures()->GetDirectArray().GetAt(0), wood);
    KQovPropertyFieldFile* file = read.reader.GetFieldFile();
    EXPECT_EQ(file->FindObject("Texture::Wood 2"), wood->GetPropertyHandler());
    EXPECT_EQ(file->FindObject("Texture::Wood"), wood->GetPropertyHandler());

    // The version-6 layout merges at the end of the read, with the same outcome.
    qovtest::TempFolder tmp;
    Read now(Variant(tmp, "geo_scene6.qov", "    Video: \"Video::wood\", \"Clip\" {",
                     "    Texture: \"Texture::Wood 1\", \"\" {\n        FileName: \"wood.png\"\n"
                     "        RelativeFilename: \"tex\\\\wood.png\"\n        Media: \"Video::wood\"\n"
                     "        ModelUVTranslation: 0.5,0.25\n        ModelUVScaling: 2,4\n"
                     "        Texture_Alpha_Source: \"Alpha_Black\"\n        Cropping: 1,2,3,4\n    }\n"
                     "    Video: \"Video::wood\", \"Clip\" {"));
    EXPECT_EQ(now.manager.FindTexture("Wood 1"), nullptr);
    KQovTexture* kept = now.manager.FindTexture("Wood");
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(now.reader.GetFieldFile()->FindObject("Texture::Wood 1"), kept->GetPropertyHandler());
}

TEST(KQovReaderQovShading, VideosAndDeformers) {
    qovtest::TempFolder tmp;
    // The skin deforms the quad and its cluster follows the quad: the version-6 read turns the
    // connected clusters into links of the geometry and the deformers leave the scene.
    Read read(geotest::WithSkinOnQuad(
        tmp, Variant(tmp, "geo_scene6.qov", "Indexes: 3,1", "Indexes: 3,-1,1")));
    KQovVideo* video = read.manager.FindVideo("wood");
    ASSERT_NE(video, nullptr);
    // The "Path" property names the file; the "Filename" field does not change it.
    EXPECT_STREQ(video->GetFileName(), "kept.png");
    EXPECT_STREQ(video->GetRelativeFileName(), "kept.png");
    EXPECT_TRUE(video->GetUseMipMap());
    EXPECT_EQ(read.scene->GetEntityContainer()->GetDeformerCount(), 0);
    KQovNode* quad = read.manager.FindNode("Quad");
    ASSERT_TRUE(quad && quad->GetGeometry());
    ASSERT_EQ(quad->GetGeometry()->GetLinkCount(), 1);
    KQovLink* link = quad->GetGeometry()->GetLink(0);
    EXPECT_EQ(link->GetLink(), quad);
    EXPECT_EQ(link->GetLinkMode(), 2);
    ASSERT_EQ(link->GetControlPointIndicesCount(), 2);  // a negative index goes
    EXPECT_EQ(link->GetControlPointIndex(0), 3);
    EXPECT_EQ(link->GetControlPointIndex(1), 1);
    EXPECT_EQ(link->GetControlPointWeight(0), 0.5);
    EXPECT_EQ(link->GetControlPointWeight(1), 1.0);
    // The stored transform is T x L^-1: the link transform is multiplied back in.
    EXPECT_EQ(geotest::Point(link->GetTransformMatrix().GetRow(3), 3), "1,2,0");
    EXPECT_EQ(read.reader.GetFieldFile()->GetLastErrorID(), KQovFieldFile::eInvalidData);
}

// Clip names resolve to their files: an existing relative name wins over a missing
// drive-letter path, and a clip listed twice keeps its first entry.
TEST(KQovReaderQovShading, MediaNamesResolve) {
    qovtest::TempFolder tmp;
    const std::string file = Variant(tmp, "geo_scene5.qov", "", "");
    {
        Read missing(file);
        EXPECT_NE(std::string(missing.manager.FindTexture("Wood")->GetFileName()).find("wood.png"),
                  std::string::npos);
    }
    KCreatePath((tmp / "tex/").c_str());
    qovtest::WriteAll(tmp / "tex/wood.png", "png");
    Read read(file);
    KQovTexture* wood = read.manager.FindTexture("Wood");
    EXPECT_EQ(std::string(wood->GetFileName()), KCleanPath((tmp / "tex/wood.png").c_str()).Buffer());
    EXPECT_STREQ(wood->GetRelativeFileName(), "tex/wood.png");
    EXPECT_STREQ(read.manager.FindTexture("Stone")->GetFileName(), "");
}

// A binary version-6 file with one video whose content is embedded, named `name` both as the
// file and as the original.
void WriteEmbeddedVideo(const std::string& path, const char* name, int originalFormat,
                        const std::string& content, const char* original = nullptr) {
    KQovFieldFile file;
    ASSERT_TRUE(file.Create(path.c_str(), true, false, nullptr));
    file.FieldWriteBegin("Definitions");
    file.FieldWriteBlockBegin();
    file.FieldWriteBegin("ObjectType");
    file.FieldWriteC("Video");
    file.FieldWriteEnd();
    file.FieldWriteBlockEnd();
    file.FieldWriteEnd();
    file.FieldWriteBegin("Objects");
    file.FieldWriteBlockBegin();
    file.FieldWriteBegin("Video");
    file.FieldWriteC("Video::clip");
    file.FieldWriteC("Clip");
    file.FieldWriteBlockBegin();
    file.FieldWriteBegin("Properties60");
    file.FieldWriteBlockBegin();
    file.FieldWriteBegin("Property");
    for (const char* v : {"Path", "KString", ""}) file.FieldWriteC(v);
    file.FieldWriteI(0);
    file.FieldWriteC(name);
    file.FieldWriteEnd();
    file.FieldWriteBlockEnd();
    file.FieldWriteEnd();
    file.FieldWriteBegin("Version");
    file.FieldWriteI(101);
    file.FieldWriteEnd();
    file.FieldWriteBegin("OriginalFormat");
    file.FieldWriteI(originalFormat);
    file.FieldWriteEnd();
    file.FieldWriteC("OriginalFilename", original ? original : name);
    file.FieldWriteC("Filename", name);
    file.FieldWriteBegin("Content");
    file.FieldWriteFileContent(content.c_str(), nullptr);
    file.FieldWriteEnd();
    file.FieldWriteBlockEnd();
    file.FieldWriteEnd();
    file.FieldWriteBlockEnd();
    file.FieldWriteEnd();
    ASSERT_TRUE(file.FieldFileClose());
}

int gConverted = 0;
bool gWritable = false;  // the converter was given a file its owner may write
int WritePng(int mode, const char* path, KImage& image) {
    if (mode != KImageConverterRegistry::eWriteFile || image.GetWidth() != 2) return 1;
    ++gConverted;
    struct stat st;
    gWritable = stat(path, &st) == 0 && (st.st_mode & 0200) != 0;
    qovtest::WriteAll(path, "converted");
    return 0;
}

bool HasTiffInfo() { return std::system("command -v tiffinfo >/dev/null 2>&1") == 0; }

// Embedded content that stands in for another format is turned back into it inside the media
// folder, under its base name; with no converter a TIFF copy replaces the extracted file.
TEST(KQovReaderQovShading, EmbeddedTiffIsConvertedBack) {
    qovtest::TempFolder tmp;
    KImage image;
    ASSERT_TRUE(image.Init(2, 2, true, KImage::eRGB, 3));
    ASSERT_TRUE(WriteTiffImage((tmp / "source.tif").c_str(), false, image));
    const struct {
        const char* name;
        int originalFormat;
        bool converter;        // a "png" converter is registered
        const char* expected;  // in the media folder
        const char* gone;      // the extracted file, removed once replaced
        const char* original;  // the original name, when not the name
    } cases[] = {
        {"C:\\shots\\photo.png", 0, false, "photo.tif", "photo.png", nullptr},
        {"../../photo.png", 0, true, "photo.png", "", nullptr},
        {"photo.jpg", 0, true, "photo.tif", "photo.jpg", nullptr},
        {"photo.png", 1, false, "photo.png", "", nullptr},
        {"C:\\shots\\photo.tga", 0, true, "photo.png", "photo.tga", "photo.png"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string name = "v" + std::to_string(n++);
        WriteEmbeddedVideo(tmp / (name + ".qov"), c.name, c.originalFormat, tmp / "source.tif",
                           c.original);
        const std::string media = tmp / (name + ".qom/");
        // A second read finds the copy the first made and makes no other, a converter's file
        // too (the extracted file goes to "1/" then, and that folder goes with it).
        for (int pass = 0; pass < 2; ++pass) {
            gConverted = 0;
            gWritable = false;
            KQovObjectManager manager;
            if (c.converter) manager.CreateImageConverterRegistry()->Register("png", &WritePng);
            KQovReaderQov reader(&manager, nullptr);
            ASSERT_TRUE(reader.FileOpen((tmp / (name + ".qov")).c_str()));
            std::unique_ptr<KStreamOptionsQov> options(reader.ReadHeaderInfo(nullptr, true));
            ASSERT_TRUE(options);
            EXPECT_TRUE(reader.Read(manager.CreateScene(), options.get()));
            EXPECT_EQ(gConverted, c.originalFormat == 0 && std::string(c.expected) == "photo.png");
            EXPECT_EQ(gWritable, gConverted != 0);
            KQovVideo* video = manager.FindVideo("clip");
            ASSERT_NE(video, nullptr);
            EXPECT_EQ(std::string(video->GetFileName()), media + c.expected);
            struct stat st;
            ASSERT_EQ(stat((media + c.expected).c_str(), &st), 0);
            EXPECT_NE(st.st_mode & 0400, 0u) << "left unreadable";
            if (*c.gone) {
                EXPECT_FALSE(KFileExists((media + c.gone).c_str()));
            }
        }
        EXPECT_EQ(TempTestFolder::NamesIn(media),
                  (std::vector<std::string>{".", "..", c.expected}));
        if (std::string(c.expected) == "photo.tif" && HasTiffInfo()) {
            const std::string command = "tiffinfo '" + media + c.expected + "' >/dev/null 2>&1";
            EXPECT_EQ(std::system(command.c_str()), 0);
        }
    }
    // Where the media folder cannot be one, a folder of the temporary folder takes them, and
    // goes with the reader, the converter's file too.
    WriteEmbeddedVideo(tmp / "t.qov", "photo.png", 0, tmp / "source.tif");
    qovtest::WriteAll(tmp / "t.qom", "user");
    ASSERT_EQ(mkdir((tmp / "temp").c_str(), 0700), 0);
    const char* saved = std::getenv("TMPDIR");
    const std::string savedTemp = saved ? saved : "";
    setenv("TMPDIR", (tmp / "temp").c_str(), 1);
    for (int pass = 0; pass < 2; ++pass) {
        KQovObjectManager manager;
        manager.CreateImageConverterRegistry()->Register("png", &WritePng);
        KQovReaderQov reader(&manager, nullptr);
        ASSERT_TRUE(reader.FileOpen((tmp / "t.qov").c_str()));
        std::unique_ptr<KStreamOptionsQov> options(reader.ReadHeaderInfo(nullptr, true));
        ASSERT_TRUE(options);
        EXPECT_TRUE(reader.Read(manager.CreateScene(), options.get()));
        KQovVideo* video = manager.FindVideo("clip");
        ASSERT_NE(video, nullptr);
        const std::string path = video->GetFileName();
        EXPECT_EQ(path.rfind(tmp / "temp/qom-", 0), 0u) << path;
        EXPECT_EQ(qovtest::ReadAll(path), "converted");
    }
    // Media no folder takes fail the read, naming them.
    setenv("TMPDIR", (tmp / "missing").c_str(), 1);
    {
        KQovObjectManager manager;
        KQovReaderQov reader(&manager, nullptr);
        ASSERT_TRUE(reader.FileOpen((tmp / "t.qov").c_str()));
        std::unique_ptr<KStreamOptionsQov> options(reader.ReadHeaderInfo(nullptr, true));
        ASSERT_TRUE(options);
        EXPECT_FALSE(reader.Read(manager.CreateScene(), options.get()));
        EXPECT_EQ(std::string(reader.GetLastErrorString()),
                  "File not created: unable to extract the media file photo.png: No such file "
                  "or directory");
    }
    // So do media the system refuses their permissions: none is left without them.
    WriteEmbeddedVideo(tmp / "p.qov", "photo.png", 1, tmp / "source.tif");
    {
        KQovObjectManager manager;
        KQovReaderQov reader(&manager, nullptr);
        ASSERT_TRUE(reader.FileOpen((tmp / "p.qov").c_str()));
        std::unique_ptr<KStreamOptionsQov> options(reader.ReadHeaderInfo(nullptr, true));
        ASSERT_TRUE(options);
        KPlatformFailFileCalls(KPlatformFileCall::eChmod, 0, 1, EPERM);
        EXPECT_FALSE(reader.Read(manager.CreateScene(), options.get()));
        KPlatformClearFileFaults();
        EXPECT_EQ(std::string(reader.GetLastErrorString()),
                  "File not created: unable to extract the media file photo.png: Operation not "
                  "permitted");
    }
    EXPECT_EQ(TempTestFolder::NamesIn(tmp / "p.qom"), (std::vector<std::string>{".", ".."}));
    if (saved)
        setenv("TMPDIR", savedTemp.c_str(), 1);
    else
        unsetenv("TMPDIR");
    EXPECT_EQ(TempTestFolder::NamesIn(tmp / "temp"), (std::vector<std::string>{".", ".."}));
    if (!HasTiffInfo()) GTEST_SKIP() << "tiffinfo is not installed (libtiff-tools)";
}

// A converter that fails after the media folder became a file: nothing more can be made there.
int PullFolder(int mode, const char* path, KImage&) {
    if (mode != KImageConverterRegistry::eWriteFile) return 1;
    const std::string folder = std::string(path).substr(0, std::string(path).rfind('/'));
    if (std::rename(folder.c_str(), (folder + "-away").c_str()) == 0)
        qovtest::WriteAll(folder, "a file");
    return 1;
}

// A TIFF copy the system does not let the read write fails the read, naming it, as media not
// extracted do: the stored image does not stand under the original format's name.
TEST(KQovReaderQovShading, TiffCopyNotWrittenFailsTheRead) {
    qovtest::TempFolder tmp;
    KImage image;
    ASSERT_TRUE(image.Init(2, 2, true, KImage::eRGB, 3));
    ASSERT_TRUE(WriteTiffImage((tmp / "source.tif").c_str(), false, image));
    WriteEmbeddedVideo(tmp / "v.qov", "photo.png", 0, tmp / "source.tif");
    KQovObjectManager manager;
    manager.CreateImageConverterRegistry()->Register("png", &PullFolder);
    KQovReaderQov reader(&manager, nullptr);
    ASSERT_TRUE(reader.FileOpen((tmp / "v.qov").c_str()));
    std::unique_ptr<KStreamOptionsQov> options(reader.ReadHeaderInfo(nullptr, true));
    ASSERT_TRUE(options);
    EXPECT_FALSE(reader.Read(manager.CreateScene(), options.get()));
    EXPECT_EQ(std::string(reader.GetLastErrorString()),
              "File not created: unable to extract the media file photo.tif: Not a directory");
}

}  // namespace
namespace {

// A committed binary file whose embedded media is named "../../x" (and is no TIFF though it
// claims to stand in for one): extracted as "x" inside the media folder and left as it is.
TEST(KQovReaderQovShading, HostileMediaNameStaysInTheMediaFolder) {
    qovtest::TempFolder tmp;
    qovtest::WriteAll(tmp / "m.qov", qovtest::ReadAll(Golden("hostile_media.qov")));
    Read read(tmp / "m.qov");
    EXPECT_TRUE(read.ok);
    KQovVideo* video = read.manager.FindVideo("clip");
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(std::string(video->GetFileName()), tmp / "m.qom/x");
    EXPECT_EQ(qovtest::ReadAll(tmp / "m.qom/x"), "not a tiff");
}

// The version-5 "Media" section: a clip with embedded content standing in for a PNG is
// extracted, kept as a TIFF copy (no converter), and its textures take that file.
TEST(KQovReaderQovShading, Version5EmbeddedClip) {
    qovtest::TempFolder tmp;
    KImage image;
    ASSERT_TRUE(image.Init(2, 1, true, KImage::eRGB, 3));
    ASSERT_TRUE(WriteTiffImage((tmp / "source.tif").c_str(), false, image));
    KQovFieldFile file;
    KQovHeaderInfo info;
    info.fileVersion = 5800;  // without "Definitions": the version-5 layout
    ASSERT_TRUE(file.Create((tmp / "m.qov").c_str(), true, false, &info));
    auto text = [&](const char* name, const char* value) { file.FieldWriteC(name, value); };
    auto number = [&](const char* name, int32_t value) {
        file.FieldWriteBegin(name);
        file.FieldWriteI(value);
        file.FieldWriteEnd();
    };
    auto open = [&](const char* name, const char* value) {
        file.FieldWriteBegin(name);
        if (value) file.FieldWriteC(value);
        file.FieldWriteBlockBegin();
    };
    auto close = [&] {
        file.FieldWriteBlockEnd();
        file.FieldWriteEnd();
    };
    open("Model", "Model::Quad");
    open("Texture", "Photo");
    text("Media", "Video::photo");
    close();
    open("Texture", "Other");
    text("Media", "Video::other");
    close();
    close();
    open("Media", nullptr);
    open("Video", nullptr);
    open("Video", "Video::photo");
    text("Type", "Clip");
    number("Version", 101);
    number("OriginalFormat", 0);
    text("OriginalFilename", "photo.png");
    text("Filename", "C:\\shots\\photo.png");
    file.FieldWriteBegin("Content");
    file.FieldWriteFileContent((tmp / "source.tif").c_str(), nullptr);
    file.FieldWriteEnd();
    close();
    // Another file of that base name, from another folder: a file of its own.
    open("Video", "Video::other");
    text("Type", "Clip");
    text("Filename", "C:\\other\\photo.png");
    qovtest::WriteAll(tmp / "other.png", "other bytes");
    file.FieldWriteBegin("Content");
    file.FieldWriteFileContent((tmp / "other.png").c_str(), nullptr);
    file.FieldWriteEnd();
    close();
    close();
    close();
    ASSERT_TRUE(file.FieldFileClose());

    Read read(tmp / "m.qov");
    EXPECT_TRUE(read.ok);
    KQovTexture* photo = read.manager.FindTexture("Photo");
    ASSERT_NE(photo, nullptr);
    EXPECT_EQ(std::string(photo->GetFileName()), tmp / "m.qom/photo.tif");
    EXPECT_STREQ(photo->GetRelativeFileName(), "m.qom/photo.tif");
    EXPECT_FALSE(KFileExists((tmp / "m.qom/photo.png").c_str()));
    KImage back;
    EXPECT_TRUE(ReadTiffImage(photo->GetFileName(), back, false));
    EXPECT_EQ(back.GetWidth(), 2);
    KQovTexture* other = read.manager.FindTexture("Other");
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(std::string(other->GetFileName()), tmp / "m.qom/1/photo.png");
    EXPECT_EQ(qovtest::ReadAll(other->GetFileName()), "other bytes");
}

}  // namespace
