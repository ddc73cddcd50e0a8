// The version-5 writer's geometry, material and texture sections: mesh round trips through the
// reader, golden files, and values the scene holds that a file must not carry as they are.

#include <set>

#include "KQovWriterQov5TestUtil.h"
#include "attributes/KQovLayer.h"
#include "attributes/KQovLink.h"
#include "attributes/KQovMaterial.h"
#include "attributes/KQovMesh.h"
#include "attributes/KQovNurb.h"
#include "attributes/KQovPatch.h"
#include "attributes/KQovTexture.h"
#include "attributes/images/KImage.h"
#include "attributes/images/KImageConverterRegistry.h"
#include "attributes/images/KTiffImage.h"
#include "foundation/KLocale.h"
#include "foundation/KPath.h"
#include "platform/KPlatformFile.h"
#include "scene/KQovEntityContainer.h"

using v5test::ExpectGolden;
using v5test::Fields;
using v5test::MeshScene;
using v5test::Only;

namespace {

std::string MeshText(KQovMesh& mesh) {
    std::string s;
    for (int i = 0; i < mesh.GetControlPointsCount(); ++i) {
        const KVector4& p = mesh.GetControlPoints().GetAt(i);
        s += KFormatC("p %g %g %g\n", p[0], p[1], p[2]);
    }
    if (KArrayVector4* normals = mesh.GetNormals())
        for (int i = 0; i < normals->GetCount(); ++i)
            s += KFormatC("n %g %g %g\n", normals->GetAt(i)[0], normals->GetAt(i)[1],
                          normals->GetAt(i)[2]);
    for (int p = 0; p < mesh.GetPolygonCount(); ++p) {
        s += KFormatC("polygon group %d:", mesh.GetPolygon(p).group);
        for (int k = 0; k < mesh.GetPolygonSize(p); ++k)
            s += KFormatC(" %d", mesh.GetPolygonVertex(p, k));
        s += "\n";
    }
    KQovLayer* layer = mesh.GetLayer(0);
    if (KQovLayerElementColor* colors = layer ? layer->GetVertexColors() : nullptr) {
        s += KFormatC("colours mode %d ref %d:", colors->GetMappingMode(),
                      colors->GetReferenceMode());
        for (int i = 0; i < colors->GetDirectArray().GetCount(); ++i)
            s += KFormatC(" %g/%g", colors->GetDirectArray().GetAt(i).mRed,
                          colors->GetDirectArray().GetAt(i).mAlpha);
        s += "\n";
    }
    s += KFormatC("material mapping %d\n", mesh.GetMaterialMappingMode());
    return s;
}

}  // namespace

TEST(KQovWriterQov5Geometry, MeshRoundTripsInAsciiAndBinary) {
    for (int mode : {KQovWriterQov5::eAscii, KQovWriterQov5::eBinary}) {
        SCOPED_TRACE(mode);
        TempTestFolder tmp;
        MeshScene built;
        const std::string name = tmp / "mesh.qov";
        ASSERT_TRUE(v5test::WriteFile(built.scene, name, mode));
        Read read(name);
        ASSERT_TRUE(read.ok);
        KQovNode* node = read.scene->GetRootNode()->FindChild("Square");
        ASSERT_TRUE(node);
        ASSERT_TRUE(node->GetMesh());
        EXPECT_EQ(MeshText(*node->GetMesh()), MeshText(*built.mesh));
        EXPECT_NE(MeshText(*built.mesh).find("p 0 1 1.5\nn 0 0 1\n"), std::string::npos);
    }
}

TEST(KQovWriterQov5Geometry, GeometrySwitchOffWritesNulls) {
    TempTestFolder tmp;
    MeshScene built;
    KStreamOptionsQov options;
    Only(options, {});
    const std::string name = tmp / "nulls.qov";
    ASSERT_TRUE(v5test::WriteFile(built.scene, name, KQovWriterQov5::eAscii, &options));
    EXPECT_EQ(Fields(v5test::ReadText(name), "Model:", {"Type", "Size", "Vertices"}),
              "Type \"Null\"\nSize 100\n");
}

TEST(KQovWriterQov5Geometry, IndicesThatNameNothingAreWrittenAsZeroAndTheSceneKeepsItsModes) {
    const struct {
        std::vector<int> uvIds;
        int uvMapping;
        const char* expected;
    } kCases[] = {
        // Three UVs: 3 (the count) and -1 name none of them.
        {{0, 1, 2, 3, -1, 1}, 2, "UVMode 8\nUVCount 3\nUVIdCount 6\nUVId 0,1,2,0,0,1\n"},
        // Mapping modes other than 0, 1, 2 cannot be written: UVMode 0, nothing more.
        {{0, 1, 2, 0, 1, 2}, 7, "UVMode 0\n"},
        // By polygon vertex with too few indices does not fit the mesh.
        {{0, 1}, 2, "UVMode 0\n"},
        // By control point needs one index per control point.
        {{2, 1, 0, 2}, 1, "UVMode 4\nUVCount 3\nUVIdCount 4\nUVId 2,1,0,2\n"},
    };
    for (const auto& c : kCases) {
        TempTestFolder tmp;
        MeshScene built;
        KQovLayer& layer = built.AddTextureLayer(c.uvIds, c.uvMapping);
        const std::string before = MeshText(*built.mesh);
        const std::string name = tmp / "ids.qov";
        ASSERT_TRUE(v5test::WriteFile(built.scene, name, KQovWriterQov5::eAscii));
        const std::string text = v5test::ReadText(name);
        EXPECT_EQ(Fields(text, "GeometryLayer:", {"UVMode", "UVCount", "UVIdCount", "UVId"}),
                  c.expected);
        EXPECT_EQ(layer.GetUVs()->GetMappingMode(), c.uvMapping);  // the scene's element as it was
        EXPECT_EQ(layer.GetUVs()->GetIndexArray().GetCount(), int(c.uvIds.size()));
        EXPECT_EQ(MeshText(*built.mesh), before);
        // Layer 0's texture ids: -4 names no texture.
        const std::string ids = "TextureMode \"ByPolygon\"\nTextureId 0,0\n";
        EXPECT_EQ(Fields(text, "MaterialAssignation:", {"TextureMode", "TextureId"})
                      .substr(0, ids.size()),
                  ids);
    }
}

TEST(KQovWriterQov5Geometry, NurbsPointsKeepTheirWeights) {
    TempTestFolder tmp;
    v5test::Scene s;
    KQovNurb* nurb = s.manager.CreateNurb();
    s.Add("Surface", nurb);
    nurb->SetOrder(2, 2);
    ASSERT_TRUE(nurb->InitControlPoints(2, KQovNurb::eOpen, 2, KQovNurb::eOpen));
    const double w[4] = {1.0, 0.5, 2.0, 0.25};
    for (int i = 0; i < 4; ++i) nurb->GetControlPoints().SetAt(i, KVector4(i, 2.0 * i, 0.0, w[i]));
    const std::string name = tmp / "nurb.qov";
    ASSERT_TRUE(v5test::WriteFile(s.scene, name, KQovWriterQov5::eAscii));
    EXPECT_EQ(
        Fields(v5test::ReadText(name), "NurbVersion", {"Points", "Form", "Dimensions"}),
        "Dimensions 2,2\nForm \"Open\", \"Open\"\nPoints 0,0,0,1,1,2,0,0.5,2,4,0,2,3,6,0,0.25\n");
}

TEST(KQovWriterQov5Geometry, GoldenMeshNurbPatchLinkShapeMaterialTexture) {
    TempTestFolder tmp;
    MeshScene s;
    s.AddTextureLayer({0, 1, 2, 0, 1, 2}, 2);
    KQovNode* bone = s.Add("Bone", s.manager.CreateSkeleton());
    KQovLink* link = s.manager.CreateLink();
    link->SetLink(bone);
    link->SetLinkMode(1);
    link->SetUserData("id", "data");
    link->AddControlPointIndex(0, 1.0);
    link->AddControlPointIndex(2, 0.5);
    link->SetTransformMatrix(
        KAffineMatrix(KVector4(1, 2, 3), KVector4(0, 0, 0), KVector4(1, 1, 1)));
    link->SetTransformLinkMatrix(
        KAffineMatrix(KVector4(0, 1, 0), KVector4(0, 0, 0), KVector4(1, 1, 1)));
    s.mesh->AddLink(link);
    KQovLink* unlinked = s.manager.CreateLink();  // no node: not written
    s.mesh->AddLink(unlinked);
    KQovShape* shape = s.manager.CreateShape();
    shape->InitControlPoints(4);
    for (int i = 0; i < 4; ++i)
        shape->GetControlPoints().SetAt(i, s.mesh->GetControlPoints().GetAt(i));
    shape->GetControlPoints().SetAt(3, KVector4(0, 1, 2.5, 1));  // point 3 moves up by 1
    s.mesh->AddShape(shape, "Lift");
    KQovPatch* patch = s.manager.CreatePatch();
    s.Add("Patch", patch);
    ASSERT_TRUE(patch->InitControlPoints(2, KQovPatch::eLinear, 2, KQovPatch::eBezier));
    patch->SetClosed(true, false);
    KStreamOptionsQov options;
    Only(options, {KStreamOptionsQov::eNodeAttributes});
    const std::string name = tmp / "geometry.qov";
    ASSERT_TRUE(v5test::WriteFile(s.scene, name, KQovWriterQov5::eAscii, &options));
    ExpectGolden(name, "v5w_geometry.qov");
}

namespace {

KFCurve* ChannelCurve(KQovTakeNodeContainer& object, int take, const char* name,
                      const char* component) {
    KQovTakeNode* node = object.GetTakeNode(take);
    return node ? node->FindCurve(name, component, nullptr) : nullptr;
}

void Keys(KFCurve* curve, float a, float b) {
    ASSERT_TRUE(curve);
    curve->ResizeKeyBuffer(2);
    curve->KeySet(0, KTime(0), a);
    curve->KeySet(1, KTime(46186158), b);
    curve->CommitKeys(2);
}

}  // namespace

TEST(KQovWriterQov5Geometry, MaterialShininessIsWrittenInPercentAndTheCurveStaysAsItWas) {
    TempTestFolder tmp;
    MeshScene s;
    s.AddTakeTo(s.scene->GetRootNode(), "Walk");
    s.red->AddTakeNode("Walk");
    s.blue->AddTakeNode("Walk");
    KFCurve* shininess = ChannelCurve(*s.red, 1, "Shininess", nullptr);
    Keys(shininess, 0.3f, 0.7f);
    Keys(ChannelCurve(*s.red, 1, "Diffuse", "Y"), 0.1f, 0.2f);
    Keys(ChannelCurve(*s.blue, 0, "Diffuse", "Y"), 0.1f, 0.2f);  // the default take only
    const float before[2] = {shininess->KeyGetValue(0), shininess->KeyGetValue(1)};
    const std::string name = tmp / "shine.qov";
    ASSERT_TRUE(v5test::WriteFile(s.scene, name, KQovWriterQov5::eAscii));
    // Bit for bit: the file got a scaled copy.
    EXPECT_EQ(shininess->KeyGetValue(0), before[0]);
    EXPECT_EQ(shininess->KeyGetValue(1), before[1]);
    const std::string text = v5test::ReadText(name);
    const size_t animation = text.find("Material: \"Material::Red\" {\n            Version: 1.1");
    ASSERT_NE(animation, std::string::npos);
    const std::string keys = Fields(text.substr(animation), "Channel: \"Shininess\"", {"Key"});
    EXPECT_EQ(keys.substr(0, 24), "Key 0,30.000001907348633");
    // Only the red material is animated outside its default take.
    EXPECT_EQ(Fields(text, "Material: \"Material::Red\"", {"AnimatedProperty"}).substr(0, 38),
              "AnimatedProperty \"Diffuse\", \"Shininess");
    const std::string blue = text.substr(text.find("Material: \"Material::Blue\""));
    EXPECT_LT(blue.find("AnimatedProperty"), std::string::npos);
    EXPECT_GT(blue.find("AnimatedProperty"), blue.find("Reflectivity"));
    EXPECT_GT(blue.find("AnimatedProperty"), blue.find("\n    }"));
}

TEST(KQovWriterQov5Geometry, MediaAreOnePerFileAndEmbeddedOnlyInBinaryFiles) {
    TempTestFolder tmp;
    ASSERT_TRUE(KCreatePath((tmp / "x/").c_str()) && KCreatePath((tmp / "y/").c_str()));
    const std::string bytes = "not really an image";
    std::ofstream(tmp / "x/a.tif", std::ios::binary) << bytes;
    std::ofstream(tmp / "y/a.tif", std::ios::binary) << "other";
    MeshScene s;
    s.wood->SetFileName((tmp / "x/a.tif").c_str());
    const struct {
        const char* name;
        std::string file;
    } kMore[] = {{"Texture::Same", tmp / "x/../x/./a.tif"},
                 {"Texture::Other", tmp / "y/a.tif"},
                 {"Texture::None", ""}};
    for (const auto& t : kMore) s.manager.CreateTexture(t.name)->SetFileName(t.file.c_str());
    for (int i = 1; i < 4; ++i)
        s.mesh->AddTexture(static_cast<KQovTexture*>(s.manager.FindTexture(kMore[i - 1].name)), 0);
    s.Reattach();
    ASSERT_EQ(s.scene->GetEntityContainer()->GetTextureCount(), 4);

    const std::string ascii = tmp / "media.qov";
    ASSERT_TRUE(v5test::WriteFile(s.scene, ascii, KQovWriterQov5::eAscii));
    // Two clips; an ASCII file embeds nothing, whatever the options say.
    const std::string text = v5test::ReadText(ascii);
    EXPECT_EQ(Fields(text.substr(0, text.find("Model:")),
                     "Media:", {"Video", "OriginalFormat", "Filename"}),
              "Video  {\nVideo \"a.tif\" {\nFilename \"" + tmp / "x/a.tif" +
                  "\"\nVideo \"a_1.tif\" {\n" + "Filename \"" + tmp / "y/a.tif" + "\"\n");
    // Each texture names the clip of its own file, so both files come back.
    Read read(ascii);
    ASSERT_TRUE(read.ok);
    for (const auto& t :
         {std::make_pair("Texture::Wood", "x/a.tif"), std::make_pair("Texture::Same", "x/a.tif"),
          std::make_pair("Texture::Other", "y/a.tif")}) {
        auto* texture = static_cast<KQovTexture*>(read.manager.FindTexture(t.first));
        ASSERT_NE(texture, nullptr) << t.first;
        EXPECT_EQ(std::string(texture->GetFileName()), tmp / t.second) << t.first;
    }

    const std::string binary = tmp / "media_b.qov";
    ASSERT_TRUE(v5test::WriteFile(s.scene, binary, KQovWriterQov5::eBinary));
    KQovFieldFile file;
    ASSERT_TRUE(file.Open(binary.c_str(), false, true, nullptr));
    ASSERT_TRUE(file.FieldReadBegin("Media") && file.FieldReadBlockBegin());
    ASSERT_TRUE(file.FieldReadBegin("Video") && file.FieldReadBlockBegin());
    EXPECT_EQ(file.FieldReadGetOccurrenceCount("Video"), 2);
    ASSERT_TRUE(file.FieldReadBegin("Video"));
    EXPECT_STREQ(file.FieldReadC(), "a.tif");
    ASSERT_TRUE(file.FieldReadBlockBegin());
    EXPECT_EQ(file.FieldReadI("OriginalFormat", -1), 1);
    ASSERT_TRUE(file.FieldReadBegin("Content"));
    uint32_t size = 0;
    const uint8_t* content = file.FieldReadR(size);
    ASSERT_TRUE(content);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(content), size), bytes);
    file.FieldFileClose();

    KQovReaderQov reader(&s.manager, nullptr);
    ASSERT_TRUE(reader.FileOpen(binary.c_str()));
    std::unique_ptr<KStreamOptionsQov> options(reader.ReadHeaderInfo(nullptr, false));
    ASSERT_TRUE(options);
    EXPECT_EQ(options->GetCount(KStreamOptionsQov::eMedia), 2);
    KQovDestroySceneInfo(&s.manager, options->sceneInfo);
}

// Files of one name in many folders, some named as a made name is: each clip gets the name a
// search from 1 gives ("wood_1.tga" taken by a file of its own moves the next made name on).
TEST(KQovWriterQov5Geometry, ClipsOfOneNameAreNumberedAsASearchFromOne) {
    TempTestFolder tmp;
    MeshScene s;
    const char* const pool[] = {"wood.tga", "wood_1.tga", "wood",  "wood_2.tga", "wood.",
                                "Wood.tga", "wood.tga",   "wood_1", "wood_3.tga", "wood.tga"};
    for (int i = 0; i < 60; ++i) {
        const std::string file = tmp / ("f" + std::to_string(i) + "/" + pool[i % 10]);
        KQovTexture* texture = s.manager.CreateTexture(("Texture::T" + std::to_string(i)).c_str());
        texture->SetFileName(file.c_str());
        s.mesh->AddTexture(texture, 0);
    }
    s.Reattach();
    // The names as chosen before the numbers were counted on.
    std::string expected = "Video  {\n";
    std::set<std::string> names;
    KQovEntityContainer& entity = *s.scene->GetEntityContainer();
    for (int i = 0; i < entity.GetTextureCount(); ++i) {
        const char* given = static_cast<KQovTexture*>(entity.GetTexture(i))->GetFileName();
        if (!given[0]) continue;
        const KString file = KCleanPath(given);
        KString name = KExtractFileName(file.Buffer(), true);
        const KString extension = KExtractFileExtension(name.Buffer());
        const KString stem = KExtractFileName(file.Buffer(), false);
        for (int n = 1; names.count(name.Buffer()) != 0; ++n)
            name = stem + "_" + KString(std::to_string(n).c_str()) +
                   (extension.IsEmpty() ? KString("") : KString(".") + extension);
        names.insert(name.Buffer());
        expected += "Video \"" + std::string(name.Buffer()) + "\" {\n";
    }
    ASSERT_GE(names.size(), 60u);
    const std::string ascii = tmp / "many.qov";
    ASSERT_TRUE(v5test::WriteFile(s.scene, ascii, KQovWriterQov5::eAscii));
    const std::string text = v5test::ReadText(ascii);
    EXPECT_EQ(Fields(text.substr(0, text.find("Model:")), "Media:", {"Video"}), expected);
}

TEST(KQovWriterQov5Geometry, GeometryShapesAndShadingTakesLeaveTheSceneAsItWas) {
    TempTestFolder tmp;
    MeshScene s;
    s.AddTextureLayer({0, 1, 2, 5, 1, 2}, 9);
    KQovShape* shape = s.manager.CreateShape();
    shape->InitControlPoints(4);
    s.mesh->AddShape(shape, "Smile");
    s.AddTakeTo(s.scene->GetRootNode(), "Walk");
    s.red->AddTakeNode("Walk");
    Keys(ChannelCurve(*s.red, 1, "Shininess", nullptr), 0.3f, 0.7f);
    auto dump = [&s] {
        std::string out = SceneDump::NodeTree(*s.scene->GetRootNode()) + MeshText(*s.mesh) +
                          SceneDump::Object(*s.red) + SceneDump::Object(*s.wood);
        for (int l = 0; l < s.mesh->GetLayerCount(); ++l)
            if (KQovLayerElementUV* uvs = s.mesh->GetLayer(l)->GetUVs())
                out += KFormatC("uv %d %d %d\n", uvs->GetMappingMode(), uvs->GetReferenceMode(),
                                uvs->GetIndexArray().GetCount());
        return out + s.mesh->GetShapeName(0) + "\n";
    };
    const std::string before = dump();
    for (int mode : {KQovWriterQov5::eAscii, KQovWriterQov5::eBinary}) {
        ASSERT_TRUE(v5test::WriteFile(s.scene, tmp / "same.qov", mode));
        EXPECT_EQ(dump(), before);
    }
}

TEST(KQovWriterQov5Geometry, IndexListsThatDoNotFitTheMeshAreWrittenWithinTheirRanges) {
    TempTestFolder tmp;
    MeshScene s;
    KQovLayer& layer = *s.mesh->GetLayer(0);
    layer.GetMaterials()->GetIndexArray().SetCount(1);  // two polygons, one material index
    layer.GetTextures()->GetIndexArray().Clear();       // no texture index at all
    KArrayInt& uvIds = layer.GetUVs()->GetIndexArray();
    uvIds.Clear();
    for (int v : {0, 9, -2, 3, 4, 1}) uvIds.Add(v);  // four UVs: 9, -2 and 4 name none
    KQovLayerElementColor& colors = *layer.GetVertexColors();
    colors.SetReferenceMode(2);
    for (int v : {3, 7, -1, 0}) colors.GetIndexArray().Add(v);
    const std::string name = tmp / "fit.qov";
    ASSERT_TRUE(v5test::WriteFile(s.scene, name, KQovWriterQov5::eAscii));
    EXPECT_EQ(
        Fields(v5test::ReadText(name), "MaterialAssignation",
               {"Materials", "TextureId", "TextureUVVerticeIndex", "ColorIndex"}),
        "Materials 1,0\nTextureId 0,0\nTextureUVVerticeIndex 0,0,0,3,0,1\nColorIndex 3,0,0,0\n");
}

namespace {

// What the "png" converter does with the file it is asked to read.
enum class Conversion { eNone, eFails, eKeeps, eConverts };
Conversion gConversion = Conversion::eNone;

int ReadPng(int mode, const char*, KImage& image) {
    if (mode != KImageConverterRegistry::eReadFile || gConversion == Conversion::eFails) return 1;
    if (gConversion == Conversion::eConverts) {
        image.Init(2, 1, true, KImage::eRGB, 3);
        for (size_t i = 0; i < image.GetPixelBytes(); ++i) image.GetPixels()[i] = uint8_t(40 * i);
        image.SetKeepOriginal(false);
        image.SetFileName("photo.png");
    }
    return 0;
}

// Files left in the folder ("." and ".." aside).
int CountFiles(const std::string& folder) {
    std::vector<KPlatformDirEntry> entries;
    KPlatformListDirectory((folder + "/*.*").c_str(), entries);
    int count = 0;
    for (const KPlatformDirEntry& entry : entries) count += entry.name != "." && entry.name != "..";
    return count;
}

}  // namespace

// Embedded media the host converts go in as TIFF through a unique temporary copy, which is gone
// after the write; media the converters keep or cannot read go in as they are.
TEST(KQovWriterQov5Geometry, ConvertedMediaAreEmbeddedAsTiffThroughATemporaryCopy) {
    TempTestFolder tmp;
    const std::string temporary = tmp / "temp";
    ASSERT_TRUE(KCreatePath((temporary + "/").c_str()));
    // The temporary folder is this test's own while it runs, whatever way it ends.
    struct TemporaryFolder {
        const char* old = std::getenv("TMPDIR");
        std::string saved = old ? old : "";
        explicit TemporaryFolder(const std::string& folder) { setenv("TMPDIR", folder.c_str(), 1); }
        ~TemporaryFolder() { old ? setenv("TMPDIR", saved.c_str(), 1) : unsetenv("TMPDIR"); }
    } temporaryFolder(temporary);
    const std::string original = "original bytes";
    std::ofstream(tmp / "photo.png", std::ios::binary) << original;
    const struct {
        Conversion conversion;
        bool registry;
        int originalFormat;
        bool tiff;
    } kCases[] = {{Conversion::eNone, false, 1, false},
                  {Conversion::eFails, true, 1, false},
                  {Conversion::eKeeps, true, 1, false},
                  {Conversion::eConverts, true, 0, true}};
    for (const auto& c : kCases) {
        gConversion = c.conversion;
        MeshScene s;
        s.wood->SetFileName((tmp / "photo.png").c_str());
        if (c.registry) s.manager.CreateImageConverterRegistry()->Register("png", &ReadPng);
        const std::string name = tmp / "embed.qov";
        ASSERT_TRUE(v5test::WriteFile(s.scene, name, KQovWriterQov5::eBinary));
        EXPECT_EQ(CountFiles(temporary), 0);
        KQovFieldFile file;
        ASSERT_TRUE(file.Open(name.c_str(), false, true, nullptr));
        ASSERT_TRUE(file.FieldReadBegin("Media") && file.FieldReadBlockBegin());
        ASSERT_TRUE(file.FieldReadBegin("Video") && file.FieldReadBlockBegin());
        ASSERT_TRUE(file.FieldReadBegin("Video") && file.FieldReadBlockBegin());
        EXPECT_EQ(file.FieldReadI("OriginalFormat", -1), c.originalFormat);
        EXPECT_STREQ(file.FieldReadC("OriginalFilename", ""),
                     c.tiff ? "photo.png" : (tmp / "photo.png").c_str());
        ASSERT_TRUE(file.FieldReadBegin("Content"));
        uint32_t size = 0;
        const uint8_t* content = file.FieldReadR(size);
        ASSERT_TRUE(content);
        const std::string bytes(reinterpret_cast<const char*>(content), size);
        file.FieldFileClose();
        if (!c.tiff) {
            EXPECT_EQ(bytes, original);
            continue;
        }
        const std::string copy = tmp / "copy.tif";
        std::ofstream(copy, std::ios::binary) << bytes;
        KImage image;
        ASSERT_TRUE(ReadTiffImage(copy.c_str(), image, true));
        ASSERT_EQ(image.GetPixelBytes(), 6u);
        for (size_t i = 0; i < 6; ++i) EXPECT_EQ(image.GetPixels()[i], uint8_t(40 * i));
    }
}
