#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "fieldfile/FieldFileTestUtil.h"
#include "GeometryTestUtil.h"
#include "ReaderTestUtil.h"
#include "animation/KFCurve.h"
#include "animation/KQovTakeNode.h"
#include "common/TempTestFolder.h"
#include "attributes/KQovMesh.h"
#include "foundation/KLocale.h"
#include "io/KStreamOptionsQov.h"
#include "io/qov/KQovWriterQov6.h"
#include "scene/KQovNode.h"
#include "scene/KProperty.h"
#include "scene/KQovNodeProperties.h"

namespace {

// Points, polygons, UVs with their indices, groups and modes of the scene's one mesh.
std::string DumpMesh(KQovObjectManager& manager) {
    KQovNode* node = manager.FindNode("Quad");
    KQovMesh* mesh = node ? node->GetMesh() : nullptr;
    if (!mesh) return "no mesh";
    std::string s = "points " + std::to_string(mesh->GetControlPointsCount());
    const KArrayVector4* normals = mesh->GetNormals();
    s += " normals " + std::to_string(normals ? normals->GetCount() : 0) + "\n";
    for (int p = 0; p < mesh->GetPolygonCount(); ++p) {
        s += "poly";
        for (int k = 0; k < mesh->GetPolygonSize(p); ++k)
            s += " " + std::to_string(mesh->GetPolygonVertex(p, k));
        s += " group " + std::to_string(mesh->GetPolygon(p).group) + "\n";
    }
    s += "uv mode " + std::to_string(mesh->GetTextureUVMappingMode());
    if (const KArrayOf<KVector2>* uvs = mesh->GetTextureUV())
        for (int i = 0; i < uvs->GetCount(); ++i)
            s += KFormatC(" %g,%g", uvs->GetAt(i).mData[0], uvs->GetAt(i).mData[1]);
    KQovLayer* layer = mesh->GetLayer(0);
    if (KQovLayerElementUV* uv = layer ? layer->GetUVs() : nullptr) {
        s += " idx";
        for (int i = 0; i < uv->GetIndexArray().GetCount(); ++i)
            s += " " + std::to_string(uv->GetIndexArray().GetAt(i));
    }
    if (KQovLayerElementPolygonGroup* g = layer ? layer->GetPolygonGroups() : nullptr)
        s += " groups " + std::to_string(g->GetIndexArray().GetCount());
    if (KQovLayerElementColor* c = layer ? layer->GetVertexColors() : nullptr)
        s += " colors " + std::to_string(c->GetDirectArray().GetCount()) + "/" +
             std::to_string(c->GetIndexArray().GetCount()) + " mode " +
             std::to_string(c->GetMappingMode());
    s += "\nmaterial " + std::to_string(mesh->GetMaterialMappingMode()) + " texture " +
         std::to_string(mesh->GetTextureMappingMode()) + "\n";
    return s;
}

TEST(KQovReaderQovGeometry, MeshOfBothLayouts) {
    const struct {
        const char* file;
        const char* expected;
    } cases[] = {
        {"mesh5.qov",
         "points 4 normals 4\npoly 0 1 2 group 4\npoly 2 3 0 group 5\n"
         "uv mode 2 0,0 1,0 1,1 0,1 idx 0 1 2 2 3 0 groups 2 colors 2/6 mode 2\nmaterial 3 texture "
         "4\n"},
        // Layer elements carry normals, groups and UVs; the polygons keep no group of their own.
        {"mesh6.qov",
         "points 4 normals 4\npoly 0 1 2 group -1\npoly 2 3 0 group -1\n"
         "uv mode 2 0,0 1,0 1,1 0,1 idx 0 1 2 3 2 0 groups 2\nmaterial 0 texture 0\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        Read read(Golden(c.file));
        EXPECT_TRUE(read.ok);
        EXPECT_EQ(read.reader.GetFieldFile()->GetLastErrorID(), -1);
        EXPECT_EQ(DumpMesh(read.manager), c.expected);
    }
}

// Indices from the file past what they index are dropped (or zeroed) with invalid data.
TEST(KQovReaderQovGeometry, HostileIndicesAreRefusedCleanly) {
    const struct {
        const char* from;
        const char* to;
        const char* expected;  // a part of the dump
        int error;
    } cases[] = {
        {"0,1,-3,2,3,-1", "0,1,-2147483648,2,3,-1", "poly 0 1 group 4\npoly 2 3 0 group 5\n",
         KQovFieldFile::eInvalidData},
        {"0,1,-3,2,3,-1", "0,9,-3,2,4,-1", "poly 0 2 group 4\npoly 2 0 group 5\n",
         KQovFieldFile::eInvalidData},
        {"PolygonGroup: 4,5", "PolygonGroup: 4", "poly 0 1 2 group 0\npoly 2 3 0 group 0\n", -1},
        {"TextureVertexIndex: 0,1,2,2,3,0", "TextureVertexIndex: 0,1,2,-1,4,0", "idx 0 1 2 0 0 0",
         KQovFieldFile::eInvalidData},
        // Colours that do not fit the mesh, or an index past them, are not kept.
        {"ColorIndex: 0,1,1,1,0,0", "ColorIndex: 0,1,1,1,0,2", "colors 0/0", -1},
        {"ColorIndex: 0,1,1,1,0,0", "ColorIndex: 0,1,1,1,0", "colors 0/0", -1},
        {"ColorIndex: 0,1,1,1,0,0", "", "colors 0/0", -1},
        {"\"ByPolygonVertex\"", "\"ByVertice\"", "colors 0/0", -1},
    };
    qovtest::TempFolder tmp;
    const std::string base = qovtest::ReadAll(Golden("mesh5.qov"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.to);
        std::string text = base;
        text.replace(text.find(c.from), std::strlen(c.from), c.to);
        qovtest::WriteAll(tmp / "m.qov", text);
        Read read(tmp / "m.qov");
        EXPECT_EQ(read.reader.GetFieldFile()->GetLastErrorID(), c.error);
        const std::string dump = DumpMesh(read.manager);
        EXPECT_NE(dump.find(c.expected), std::string::npos) << dump;
    }
}

// Shapes whose names differ in letter case only, repeat or are empty are kept, each renamed with
// a warning and given a channel of its own; names already apart read as written.
TEST(KQovReaderQovGeometry, ShapesKeepTheirOwnChannels) {
    TempTestFolder tmp;
    ASSERT_TRUE(tmp.ok());
    const char* const kNames[] = {"ab", "AB", "Ab", "ab", "", "Smile"};
    std::string text =
        "; QOV 6.0.0 project file\nQOVHeaderExtension:  {\n    QOVHeaderVersion: 1003\n"
        "    QOVVersion: 6000\n}\nDefinitions:  {\n    Version: 100\n    Count: 1\n"
        "    ObjectType: \"Model\" {\n        Count: 1\n    }\n}\nObjects:  {\n"
        "    Model: \"Model::Face\", \"Mesh\" {\n        Vertices: 0,0,0,1,0,0,0,1,0\n"
        "        PolygonVertexIndex: 0,1,-3\n";
    for (const char* name : kNames)
        text += std::string("        Shape: \"") + name + "\" {\n            Indexes: 0\n"
                "            Vertices: 0,0,1\n        }\n";
    // Each shape's value as the file names it: the renamed shapes take theirs in file order.
    text += "        Properties60:  {\n";
    for (int i = 0; i < 4; ++i)
        text += std::string("            Property: \"") + kNames[i] + "\", \"Shape\", \"A\",8," +
                std::to_string(10 * (i + 1)) + "\n";
    text += "        }\n";
    text += "    }\n}\nConnections:  {\n    Connect: \"OO\", \"Model::Face\", \"Model::Scene\"\n}\n"
            "Takes:  {\n    Current: \"Walk\"\n    Take: \"Walk\" {\n"
            "        Model: \"Model::Face\" {\n";
    // Each channel keys its place in the file; the second "ab" is the second shape's.
    const char* const kChannels[] = {"ab", "AB", "Ab", "ab", "Smile"};
    for (int i = 0; i < 5; ++i)
        text += std::string("            Channel: \"") + kChannels[i] +
                "\" {\n                Default: 0\n                KeyVer: 4004\n"
                "                KeyCount: 1\n                Key: 0," + std::to_string(i + 1) +
                ",L\n            }\n";
    text += "        }\n    }\n}\n";
    const std::string name = tmp / "shapes.qov";
    qovtest::WriteAll(name, text);
    Read read(name);
    ASSERT_TRUE(read.ok);
    KQovNode* node = read.manager.FindNode("Face");
    ASSERT_TRUE(node && node->GetMesh());
    KQovMesh* mesh = node->GetMesh();
    const char* const kGiven[] = {"ab", "AB 1", "Ab 2", "ab 3", "Shape", "Smile"};
    ASSERT_EQ(mesh->GetShapeCount(), 6);
    for (int i = 0; i < 6; ++i) EXPECT_STREQ(mesh->GetShapeName(i), kGiven[i]);
    KQovTakeNode* walk = node->GetDefaultTakeNode();
    ASSERT_NE(walk, nullptr);
    for (int i = 0; i < 6; ++i) {
        KFCurve* curve = mesh->GetShapeChannel(walk, i);
        ASSERT_NE(curve, nullptr) << i;
        for (int j = 0; j < i; ++j) EXPECT_NE(curve, mesh->GetShapeChannel(walk, j)) << i << j;
    }
    for (int i = 0; i < 4; ++i) {
        KProperty* value = node->GetNodeProperties()->FindProperty(kGiven[i]);
        ASSERT_NE(value, nullptr) << kGiven[i];
        EXPECT_EQ(value->GetDouble(), 10.0 * (i + 1)) << kGiven[i];
    }
    KString status;
    read.reader.GetStatusText(status);
    EXPECT_NE(status.Find("\"AB\" is named \"AB 1\""), -1) << status.Buffer();
    EXPECT_NE(status.Find("A shape without a name is named \"Shape\""), -1) << status.Buffer();
    EXPECT_EQ(status.Find("Smile"), -1) << status.Buffer();

    // The keys of each file channel on its own shape, through every kind of file written and
    // a version-5 file naming the shapes as the first file did.
    const std::string kKeys = "ab 1|AB 1 2|Ab 2 3|ab 3 4|Shape|Smile 5|";
    auto keys = [](KQovObjectManager& manager) {
        KQovNode* face = manager.FindNode("Face");
        KQovMesh* shapes = face ? face->GetMesh() : nullptr;
        const int take = face ? face->FindTakeNodeIndex("Walk") : -1;
        if (!shapes || take < 0) return std::string("no shapes or take");
        std::string out;
        for (int i = 0; i < shapes->GetShapeCount(); ++i) {
            out += shapes->GetShapeName(i);
            KFCurve* curve = shapes->GetShapeChannel(face->GetTakeNode(take), i);
            for (int k = 0; curve && k < curve->KeyGetCount(); ++k)
                out += KFormatC(" %g", curve->KeyGetValue(k));
            out += "|";
        }
        return out;
    };
    EXPECT_EQ(keys(read.manager), kKeys);
    for (const bool six : {true, false}) {
        for (const int mode : {KQovWriterQov5::eAscii, KQovWriterQov5::eBinary}) {
            SCOPED_TRACE(std::string(six ? "6 " : "5 ") + (mode ? "binary" : "ascii"));
            KStreamOptionsQov options;
            for (int i = 0; i < KStreamOptionsQov::eSwitchCount; ++i) options.SetSwitch(i, true);
            std::unique_ptr<KQovWriterQov5> writer(
                six ? new KQovWriterQov6(&read.manager, nullptr)
                    : new KQovWriterQov5(&read.manager, nullptr));
            writer->SetFileMode(mode);
            const std::string copy = tmp / "copy.qov";
            ASSERT_TRUE(writer->FileCreate(copy.c_str()));
            ASSERT_TRUE(writer->Write(read.scene, &options));
            ASSERT_TRUE(writer->FileClose());
            Read back(copy);
            ASSERT_TRUE(back.ok);
            EXPECT_EQ(keys(back.manager), kKeys);
            if (six || mode != KQovWriterQov5::eAscii) continue;
            std::string old = qovtest::ReadAll(copy);
            for (const char* renamed : {"AB 1", "Ab 2", "ab 3"})
                for (size_t at = old.find(renamed); at != std::string::npos; at = old.find(renamed))
                    old.erase(at + 2, 2);
            qovtest::WriteAll(copy, old);
            Read twins(copy);
            ASSERT_TRUE(twins.ok);
            EXPECT_EQ(keys(twins.manager), kKeys);
        }
    }
    // A shape destroyed takes its own channel only.
    ASSERT_TRUE(read.manager.DestroyShape(mesh->GetShape(1)));
    EXPECT_EQ(keys(read.manager), "ab 1|Ab 2 3|ab 3 4|Shape|Smile 5|");
}

TEST(KQovReaderQovGeometry, LayerElementNames) {
    const struct {
        const char* name;
        int mapping, blend;
    } cases[] = {
        {"ByVertice", 1, 0}, {"ByPolygonVertex", 2, 0}, {"ByPolygon", 3, 0}, {"AllSame", 4, 0},
        {"Add", 0, 1},       {"Modulate2", 0, 3},       {"MaxBlend", 0, 4},  {"byvertice", 0, 0},
        {"", 0, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(KQovReaderQov::MappingModeFromName(c.name), c.mapping) << c.name;
        EXPECT_EQ(KQovReaderQov::BlendModeFromName(c.name), c.blend) << c.name;
    }
    EXPECT_EQ(KQovReaderQov::FindNameInList("b", {KString("a"), KString("b")}), 1);
    EXPECT_EQ(KQovReaderQov::FindNameInList("c", {KString("a")}), -1);
}

}  // namespace

namespace {

std::string DumpSurfaces(KQovObjectManager& manager) {
    std::string s;
    for (const char* name : {"Quad", "Twin", "Surface", "Panel"})
        if (KQovNode* node = manager.FindNode(name)) s += geotest::Geometry(node);
    return s;
}

TEST(KQovReaderQovGeometry, GoldenSurfacesOfBothLayouts) {
    const struct {
        const char* file;
        const char* expected;
    } cases[] = {
        // The link's stored transforms are T x L^-1 and A x L^-1; the shape moves points 1
        // and 3 and their normals; twin materials and textures are one; "closed" is closed.
        {"geo_scene5.qov",
         "Model::Quad points 0,0,0,1 1,0,0,1 1,1,0,1 0,1,0,1\n"
         "  polygons (0,1,2) (2,3,0)\n"
         "  layer 0: normal 1/0 [0,0,1 0,0,1 0,0,1 0,0,1] () material 3/2 [Material::Red "
         "Material::Blue] () texture 3/2 [] (0,1) blend 0 alpha 1 uv 1/0 [0,0 1,0 1,1 0,1] ()\n"
         "  layer 1: texture 3/2 [Texture::Stone] (0,0) blend 1 alpha 1 uv 2/2 [0,0 1,0 1,1 0,1] "
         "(0,1,2,2,3,0)\n"
         "  link Model::Bone mode 1 user id=data points 0:0.5 2:0.25 t 11,2,3 link t 10,0,0 "
         "associate Model::Bone t 10,5,0 parent 1\n"
         "  shape Smile points 0,0,0 1,0,1 1,1,0 0,1,2\n"
         "  layer 0: normal 1/0 [0,0,1 1,0,1 0,0,1 0,1,1] ()\n"
         "Model::Twin points 0,0,0,1 1,0,0,1 1,1,0,1\n"
         "  polygons (0,1,2)\n"
         "  layer 0: material 0/0 [Material::Red] () texture 0/2 [Texture::Wood] (0) blend 0 "
         "alpha 1\n"
         "Model::Surface points 0,0,0,1 1,0,0,1 0,1,0,2e-05 1,1,1,2\n"
         "  nurb order 2,2 count 2,2 form 1,2 step 8,8 display 4 multiplicity 1,1\n"
         "Model::Panel points 0,0,0,1 1,0,0,1 0,1,0,1 1,1,5,1\n"
         "  patch type 4,4 count 2,2 step 3,4 closed 10 capped 0110\n"},
        // Texture elements without ids are not numbered; alphas are limited to 0..1; indexes
        // of a direct element are not read; "TypedIndex" past its list places nothing.
        {"geo_scene6.qov",
         "Model::Quad points 0,0,0,1 1,0,0,1 1,1,0,1 0,1,0,1\n"
         "  polygons (0,1,2) (2,3,0)\n"
         "  layer 0: normal 2/0 [0,0,1 0,0,1 0,0,1 0,0,1 0,0,1 0,0,1] () material 3/2 [] (0,1) "
         "texture 3/2 [] (0,0) blend 1 alpha 1 group 3/1 [] (4,5) uv 2/2 [0,0 1,0 1,1 0,1] "
         "(0,1,2,2,3,0) color 2/2 [1,0,0,1 0,1,0,0.5] (0,1,1,1,0,0)\n"
         "  layer 1: texture 4/2 [] (1) blend 4 alpha 0 uv 1/0 [0,0 1,0 1,1 0,1] () color 1/0 "
         "[0,0,1,1] ()\n"
         "  shape Frown points 0,0,0 1,0,0 1,1,-1 0,1,0\n"
         "  layer 0: normal 1/0 [0,0,1 0,0,1 0,1,1 0,0,1 0,0,1 0,0,1] ()\n"
         "Model::Surface points 0,0,0,1 1,0,0,1\n"
         "  nurb order 2,2 count 2,1 form 0,1 step 0,0 display 4 multiplicity 1,1\n"
         "  layer 0: uv 1/0 [0,0 1,1] ()\n"
         "Model::Panel points 0,0,0,1 1,0,0,1\n"
         "  patch type 3,2 count 1,2 step 0,0 closed 00 capped 0000\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        Read read(Golden(c.file));
        EXPECT_TRUE(read.ok);
        EXPECT_EQ(DumpSurfaces(read.manager), c.expected);
    }
}

// Problems inside one surface are reported through the field file; the read goes on.
TEST(KQovReaderQovGeometry, SurfaceProblemsAreReported) {
    const char* const kPoints = "Control point definition error (wrong number of data).";
    const struct {
        const char* from;
        const char* to;
        int error;
        const char* message;
        const char* expected;  // a part of the dump
    } cases[] = {
        // 4 x 4 wants 64 values: the points stay as "Dimensions" set them up.
        {"Dimensions: 2,2\n    Points: 0,0,0,1,1,0,0,1,0,1,0,0.00002,1,1,1,2\n    MultiplicityU: "
         "1,1\n    MultiplicityV: 2,2",
         "Dimensions: 4,4\n    Points: "
         "0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,"
         "0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0",
         KQovFieldFile::eCountError, kPoints,
         "Model::Surface points 0,0,0,0 0,0,0,0 0,0,0,0 0,0,0,0 0,0,0,0 0,0,0,0"},
        {"0,1,0,0.00002", "0,1,0,0.00001", KQovFieldFile::eInvalidData,
         "Weight of control point must be greater than 0 (invalid data).", "0,1,0,1e-05"},
        {"\"closed\", \"Open\"", "\"Round\", \"Open\"", KQovFieldFile::eInvalidData,
         "Type of nurb unknown (invalid data).", "form 0,2"},
        {"MultiplicityU: 1,1", "MultiplicityU: 1", KQovFieldFile::eCountError,
         "Multiplicity U definition error (wrong number of data).", "multiplicity 1,1\n"},
        {"MultiplicityV: 2,2", "MultiplicityV: 2,2,2", KQovFieldFile::eCountError,
         "Multiplicity V definition error (wrong number of data).", "multiplicity 1,1\n"},
        {"MultiplicityV: 2,2", "KnotVectorU: 1", KQovFieldFile::eCountError,
         "U knot vector definition error (wrong number of data).", "count 2,2"},
        // Sizes are computed in 64 bits and refused when negative or past the points given.
        {"Dimensions: 2,2\n    Points: 0,0,0,1,1,0,0,1,0,1,0,0.00002,1,1,1,2\n    MultiplicityU: "
         "1,1\n    MultiplicityV: 2,2",
         "Dimensions: -2,-2\n    Points: 0,0,0,1,1,0,0,1,0,1,0,0.00002,1,1,1,2",
         KQovFieldFile::eCountError, kPoints, "Model::Surface points\n  nurb order 2,2 count 0,0"},
        {"Dimensions: 2,2\n    SurfaceDisplay", "Dimensions: 46341,46341\n    SurfaceDisplay",
         KQovFieldFile::eCountError, kPoints, "Model::Panel points\n  patch type 4,4 count 0,0"},
        // A patch keeps the points its field gives and w = 1.
        {"Points: 0,0,0,1,0,0,0,1,0,1,1,5", "Points: 0,0,0,1,0,0", -1, "",
         "Model::Panel points 0,0,0,1 1,0,0,1 0,0,0,0 0,0,0,0"},
    };
    qovtest::TempFolder tmp;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.to);
        Read read(geotest::Variant(tmp, "geo_scene5.qov", c.from, c.to));
        EXPECT_TRUE(read.ok);
        EXPECT_EQ(read.reader.GetFieldFile()->GetLastErrorID(), c.error);
        if (c.error >= 0) {
            EXPECT_STREQ(read.reader.GetFieldFile()->GetLastErrorString(), c.message);
        }
        const std::string dump = DumpSurfaces(read.manager);
        EXPECT_NE(dump.find(c.expected), std::string::npos) << dump;
    }
}

// Tiny hostile files: each gives a clean error or a skipped item, never a crash.
TEST(KQovReaderQovGeometry, HostileFilesAreRefusedCleanly) {
    const struct {
        const char* file;
        int error;
        const char* expected;  // a part of the dump
    } cases[] = {
        {"hostile_dimensions.qov", KQovFieldFile::eCountError,
         "Model::Big points\n  nurb order 4,4 count 0,0"},
        {"hostile_shape.qov", KQovFieldFile::eInvalidData,
         "shape Wild points 0,0,0 1,0,1 1,1,0\n  layer 0: normal 1/0 [0,0,1 1,0,1 0,0,1] ()"},
        {"hostile_polygon.qov", KQovFieldFile::eInvalidData, "polygons (0,1)"},
        // Layers 99 and 2^31 - 1 are not made; -1 and negative typed indexes place nothing.
        {"hostile_layer.qov", KQovFieldFile::eInvalidData, "polygons (0,1,2)\n  layer 0:\n  link"},
        {"hostile_typedindex.qov", KQovFieldFile::eInvalidData,
         "polygons (0,1,2)\n  layer 0:\n  link"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        Read read(Golden(c.file));
        EXPECT_TRUE(read.ok);
        EXPECT_EQ(read.reader.GetFieldFile()->GetLastErrorID(), c.error);
        std::string dump;
        for (const char* name : {"Big", "Wide", "Quad"})
            if (KQovNode* node = read.manager.FindNode(name)) dump += geotest::Geometry(node);
        EXPECT_NE((dump + "  link").find(c.expected), std::string::npos) << dump;
    }
}

// Each kind of geometry content is read only with its switch on.
TEST(KQovReaderQovGeometry, ContentSwitches) {
    const struct {
        int off;
        const char* absent;
    } cases[] = {
        {KStreamOptionsQov::eShapes, "  shape Smile"},
        {KStreamOptionsQov::eDeformers, "  link Model::Bone"},
        {KStreamOptionsQov::eMaterials, "Material::Red"},
        {KStreamOptionsQov::eTexturesAndMedia, "Texture::Stone"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.absent);
        KQovObjectManager on, off;
        EXPECT_TRUE(geotest::ReadWithout(on, Golden("geo_scene5.qov"), {}));
        EXPECT_TRUE(geotest::ReadWithout(off, Golden("geo_scene5.qov"), {c.off}));
        EXPECT_NE(DumpSurfaces(on).find(c.absent), std::string::npos);
        EXPECT_EQ(DumpSurfaces(off).find(c.absent), std::string::npos);
    }
}

}  // namespace
