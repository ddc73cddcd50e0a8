#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "Reading3ds.h"
#include "attributes/KQovLight.h"
#include "attributes/KQovMaterial.h"
#include "attributes/KQovMesh.h"
#include "attributes/KQovTexture.h"
#include "formats/geometry/3ds/Axes3ds.h"
#include "formats/geometry/3ds/KQovReader3ds.h"
#include "formats/geometry/3ds/KQovWriter3ds.h"
#include "formats/geometry/3ds/Material3ds.h"
#include "formats/geometry/3ds/Settings3ds.h"
#include "foundation/KLocale.h"
#include "io/KStreamOptionsBase.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

namespace {

TEST(KQovReader3ds, RealFilesHoldWhatLib3dsReads) {
    const std::vector<std::string> files = TestFiles3ds();
    ASSERT_GE(files.size(), 4u);
    for (const std::string& path : files) {
        Reading3ds r;
        ASSERT_TRUE(r.Read(path)) << path;
        std::map<std::string, int> ours;
        r.Count(r.scene->GetRootNode(), ours);
        ours["material"] = r.manager.GetMaterialCount();
        const std::map<std::string, int> theirs = Lib3dsCounts(path);
        for (const char* kind : {"mesh", "faces", "material", "camera", "light", "node object"}) {
            const int expected = theirs.count(kind) ? theirs.at(kind) : 0;
            EXPECT_EQ(ours[kind], expected) << path << " " << kind;
        }
        EXPECT_STREQ(r.scene->GetCurrentTakeName(), "default take") << path;
    }
}

// Scene node matrices at key frames are lib3ds's, turned into Y-up axes.
TEST(KQovReader3ds, NodeTransformsAgreeWithLib3dsAtKeyFrames) {
    const std::string path = std::string(QOV_TESTDATA_DIR) + "/3ds/RotatingCube.3DS";
    Reading3ds r;
    ASSERT_TRUE(r.Read(path, {{14, 0}}));
    // File axes to scene axes: (x, y, z) -> (x, z, -y), row vectors.
    const double c[3][3] = {{1, 0, 0}, {0, 0, -1}, {0, 1, 0}};
    for (int frame : {0, 10, 25, 50, 75, 99}) {
        const std::vector<std::string> lines = Lib3dsLines(path, std::to_string(frame));
        ASSERT_EQ(lines.size(), 1u);
        std::istringstream in(lines[0]);
        std::string word, name;
        in >> word >> name;
        double f[4][3];
        for (auto& row : f)
            for (double& v : row) in >> v;
        KQovNode* node = r.Find(r.scene->GetRootNode(), name);
        ASSERT_NE(node, nullptr);
        const KMatrix m = node->GetGlobalMatrixAtTime(FrameTime3ds(frame));
        for (int row = 0; row < 4; ++row)
            for (int col = 0; col < 3; ++col) {
                // Scene = C^T F C for the axes, F C for the translation row.
                double expected = 0;
                for (int b = 0; b < 3; ++b) {
                    if (row == 3) expected += f[3][b] * c[b][col];
                    for (int a = 0; a < 3 && row < 3; ++a)
                        expected += c[a][row] * f[a][b] * c[b][col];
                }
                EXPECT_NEAR(m[row][col], expected, 2e-3) << "frame " << frame << " " << row << col;
            }
    }
}

// Real files written back load in lib3ds with the same meshes, faces and nodes; the
// caller's names survive the write, and writing twice gives the same bytes.
TEST(KQovWriter3ds, WrittenFilesLoadInLib3dsWithTheSceneContent) {
    for (const std::string& path : TestFiles3ds()) {
        Reading3ds r;
        ASSERT_TRUE(r.Read(path)) << path;
        const std::vector<std::string> before = r.Names();
        TempPath3ds first("a.3ds"), second("b.3ds");
        ASSERT_TRUE(r.Write(first.path)) << path;
        ASSERT_TRUE(r.Write(second.path)) << path;
        EXPECT_EQ(r.Names(), before) << path;
        EXPECT_EQ(ReadBytes3ds(first.path), ReadBytes3ds(second.path)) << path;
        const std::map<std::string, int> read = Lib3dsCounts(path);
        std::map<std::string, int> written = Lib3dsCounts(first.path);
        for (const char* kind : {"mesh", "faces", "node object"})
            EXPECT_EQ(written[kind], read.count(kind) ? read.at(kind) : 0) << path << " " << kind;
        // Materials are written per mesh and combination of material and textures.
        EXPECT_GE(written["material"], read.count("material") ? read.at("material") : 0) << path;
        // Object names fit 10 characters and stay distinct.
        std::set<std::string> names;
        for (const std::string& line : Lib3dsLines(first.path)) {
            std::istringstream in(line);
            std::string kind, name;
            in >> kind >> name;
            if (kind == "mesh") {
                EXPECT_LE(name.size(), 10u) << line;
                EXPECT_TRUE(names.insert(name).second) << line;
            }
        }
    }
}

// Saves a new mesh file holding the materials and the one mesh given (identity axes), after
// `more` has put what else it wants.
template <class More>
void SaveCrafted(const std::string& path, const std::vector<Material3ds>& materials, Mesh3ds mesh,
                 More more) {
    Context3ds ctx;
    Database3ds* db = nullptr;
    InitDatabase3ds(ctx, &db);
    CreateNewDatabase3ds(ctx, db, kMeshFile3ds);
    for (const Material3ds& material : materials) PutMaterial3ds(ctx, db, &material);
    const float axes[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
    std::copy(axes, axes + 12, mesh.localAxes);
    PutMesh3ds(ctx, db, &mesh);
    more(ctx, db);
    SaveDatabase3ds(ctx, OpenFile3ds(ctx, path.c_str(), "wb"), db);
    ReleaseDatabase3ds(ctx, &db);
    CloseAllFiles3ds(ctx);
    ASSERT_FALSE(ctx.ErrorPending());
}

// A file of one mesh (vertex (1, 2, 3), faces in groups "Other" and "Tex", the material
// "Tex" with a map), a spotlight and a master scale of 0.1; or another scale, every vertex
// times `size`.
void WriteCrafted(const std::string& path, float masterScale = 0.1f, float size = 1.0f) {
    Material3ds material;
    material.name = "Tex";
    material.maps[0].name = "tex.png";
    Mesh3ds mesh;
    mesh.name = "M";
    mesh.vertices = {{size, 2 * size, 3 * size}, {0, 0, 0}, {size, 0, 0}};
    mesh.faces = {{0, 1, 2, 7}, {2, 1, 0, 7}};
    mesh.texVerts.resize(3);
    mesh.matGroups = {{"Other", {0}}, {"Tex", {1}}};
    SaveCrafted(path, {material}, mesh, [masterScale](Context3ds& ctx, Database3ds* db) {
        MeshSettings3ds settings;
        settings.masterScale = masterScale;
        PutMeshSettings3ds(ctx, db, &settings);
        Light3ds* spot = nullptr;
        InitSpotlight3ds(ctx, &spot);
        spot->name = "S";
        spot->spot->hotspot = 30;
        spot->spot->falloff = 60;
        PutLight3ds(ctx, db, spot);
        ReleaseLight3ds(&spot);
    });
}

TEST(KQovReader3ds, OptionsScaleSpotlightsAndMaterialsOfOtherFiles) {
    TempPath3ds file("c.3ds");
    WriteCrafted(file.path);
    struct Case {
        std::map<int, int> options;
        KVector4 vertex;        // of 3DS vertex (1, 2, 3)
        double referenceScale;  // of "Qov_Root", 0 without it
    } cases[] = {
        {{}, KVector4(0.254, 0.762, -0.508), 0},
        {{{1, 1}}, KVector4(1, 3, -2), 0.254},
        {{{14, 0}}, KVector4(0.1, 0.3, -0.2), 0},
    };
    for (const Case& c : cases) {
        Reading3ds r;
        // A material of this name exists already, but the file does not hold it.
        r.manager.CreateMaterial("Other");
        ASSERT_TRUE(r.Read(file.path, c.options));
        KQovNode* node = r.Find(r.scene->GetRootNode(), "M");
        ASSERT_NE(node, nullptr);
        auto* mesh = dynamic_cast<KQovMesh*>(node->GetNodeAttribute());
        ASSERT_NE(mesh, nullptr);
        const KVector4 p = mesh->GetControlPoints().GetArray()[0];
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(p[k], c.vertex[k], 1e-6);
        EXPECT_EQ(mesh->GetMaterialCount(0), 2);
        EXPECT_EQ(mesh->GetTextureCount(0), 1);
        KQovNode* reference = r.Find(r.scene->GetRootNode(), "Qov_Root");
        EXPECT_EQ(reference != nullptr, c.referenceScale > 0);
        if (reference) {
            KVector4 s;
            reference->GetLocalScaling(s);
            EXPECT_NEAR(s[0], c.referenceScale, 1e-6);
        }
        KQovNode* spot = r.Find(r.scene->GetRootNode(), "S");
        ASSERT_NE(spot, nullptr);
        auto* light = dynamic_cast<KQovLight*>(spot->GetNodeAttribute());
        ASSERT_NE(light, nullptr);
        EXPECT_EQ(light->GetLightType(), 2);
        EXPECT_DOUBLE_EQ(light->GetDefaultConeAngle(), 60);
        EXPECT_NE(r.Find(r.scene->GetRootNode(), "S.Target"), nullptr);
    }
}

// A master scale of 0 or below is read as 1, and said; one that takes a length past 2^120 is
// refused, naming its chunk.
TEST(KQovReader3ds, MasterScalesOutOfReach) {
    const struct {
        float masterScale, size;
        double vertexX;  // of 3DS vertex (size, 2 size, 3 size); 0: refused, -1: not a number
        bool warned;
    } cases[] = {
        {0.1f, 1, 0.254, false},    {0.0f, 1, 2.54, true},    {-2.0f, 1, 2.54, true},
        {1e30f, 1, 2.54e30, false}, {1e30f, 1e10f, 0, false}, {1e10f, 1e26f, 0, false},
        {std::nanf(""), 1, -1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.masterScale);
        SCOPED_TRACE(c.size);
        TempPath3ds file("scale.3ds");
        // The writer refuses a scale that is not a number: it is put into the bytes after.
        const bool nan = std::isnan(c.masterScale);
        WriteCrafted(file.path, nan ? 1.0f : c.masterScale, c.size);
        // The chunk's place, found in the bytes: tag 0x0100, length 10, then the float.
        const std::vector<char> bytes = ReadBytes3ds(file.path);
        const char head[] = {0x00, 0x01, 0x0A, 0x00, 0x00, 0x00};
        const auto at = std::search(bytes.begin(), bytes.end(), head, head + 6);
        ASSERT_NE(at, bytes.end());
        if (nan) {
            std::vector<uint8_t> patched(bytes.begin(), bytes.end());
            const size_t value = size_t(at - bytes.begin()) + 6;
            patched[value + 2] = 0xC0;
            patched[value + 3] = 0x7F;
            patched[value] = patched[value + 1] = 0;
            WriteBytes3ds(file.path, patched);
        }
        const std::string chunk =
            "(chunk 0x0100 at byte " + std::to_string(at - bytes.begin()) + ")";
        Reading3ds r;
        if (c.vertexX < 0) {
            // Refused as any such number, without the warning of a scale of 0 or below.
            EXPECT_FALSE(r.Read(file.path));
            EXPECT_EQ(r.error,
                      "File is corrupted: a number that is not finite or is larger than "
                      "2^100 (about 1.27e30) " +
                          chunk);
            continue;
        }
        if (c.vertexX == 0) {
            EXPECT_FALSE(r.Read(file.path));
            EXPECT_EQ(r.error,
                      "File is corrupted: the master scale takes a number beyond 2^120 " + chunk);
            continue;
        }
        ASSERT_TRUE(r.Read(file.path)) << r.error;
        EXPECT_EQ(
            std::string(r.status.Buffer()),
            c.warned ? "The master scale " + chunk + " is 0 or below: it is read as 1.\n" : "");
        KQovNode* node = r.Find(r.scene->GetRootNode(), "M");
        ASSERT_NE(node, nullptr);
        auto* mesh = dynamic_cast<KQovMesh*>(node->GetNodeAttribute());
        ASSERT_NE(mesh, nullptr);
        EXPECT_NEAR(mesh->GetControlPoints().GetArray()[0][0] / c.vertexX, 1.0, 1e-6);
    }
}

// One mesh of three faces: face 1 in the group "Plain", faces 0 and 2 in two groups of the
// material "Two", which has a second map.
void WriteTwoMaps(const std::string& path) {
    Material3ds two, plain;
    two.name = "Two";
    two.maps[0].name = "a.tga";
    two.maps[1].name = "b.tga";
    two.maps[1].percent = 0.5f;
    plain.name = "Plain";
    Mesh3ds mesh;
    mesh.name = "M";
    mesh.vertices = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    mesh.texVerts = {{0, 0}, {0.5f, 0}, {0.5f, 0.5f}, {0, 0.5f}};
    mesh.faces = {{0, 1, 2, 7}, {0, 2, 3, 7}, {1, 2, 3, 7}};
    mesh.matGroups = {{"Plain", {1}}, {"Two", {0}}, {"Two", {2}}};
    SaveCrafted(path, {two, plain}, mesh, [](Context3ds&, Database3ds*) {});
}

// A second map becomes a second texture layer over the first, and is written back as the
// second map of the material again.
TEST(KQovReader3ds, SecondMapsMakeASecondLayerThatWritesBack) {
    TempPath3ds file("two.3ds"), again("again.3ds");
    WriteTwoMaps(file.path);
    Reading3ds r;
    ASSERT_TRUE(r.Read(file.path));
    auto* mesh = dynamic_cast<KQovMesh*>(r.Find(r.scene->GetRootNode(), "M")->GetNodeAttribute());
    ASSERT_NE(mesh, nullptr);
    ASSERT_EQ(mesh->GetLayerCount(), 2);
    ASSERT_EQ(mesh->GetTextureCount(0), 2);
    // Not there, the image is named beside the file read, never in the current folder.
    EXPECT_EQ(std::string(mesh->GetTexture(1, 0)->GetFileName()), file.dir / "b.tga");
    EXPECT_NEAR(mesh->GetTexture(1, 0)->GetDefaultAlpha(), 0.5, 1e-6);
    const KQovLayer* second = mesh->GetLayer(1);
    ASSERT_TRUE(second->GetTextures() && second->GetMaterials() && second->GetUVs());
    EXPECT_EQ(second->GetTextures()->GetBlendMode(), 1);
    EXPECT_EQ(second->GetTextures()->GetMappingMode(), KQovLayer::eByPolygon);
    EXPECT_EQ(second->GetUVs()->GetIndexArray().GetCount(), 9);
    struct Face {
        int material, first, second;  // second: layer 1's texture index
    } faces[] = {{1, 0, 1}, {0, -1, -1}, {1, 0, 1}};
    for (int f = 0; f < 3; ++f) {
        SCOPED_TRACE(f);
        EXPECT_EQ(mesh->GetMaterialIndices()->GetAt(f), faces[f].material);
        EXPECT_EQ(mesh->GetTextureIndices()->GetAt(f), faces[f].first);
        EXPECT_EQ(second->GetTextures()->GetIndexArray().GetAt(f), faces[f].second);
        EXPECT_EQ(second->GetMaterials()->GetIndexArray().GetAt(f), faces[f].material);
    }
    ASSERT_TRUE(r.Write(again.path));
    const std::vector<char> bytes = ReadBytes3ds(again.path);
    Loaded3ds written(Bytes3ds(bytes.begin(), bytes.end()));
    ASSERT_EQ(GetMaterialCount3ds(written.ctx, written.db), 2u);
    Material3ds* back = nullptr;
    for (size_t i = 0; i < 2 && (!back || back->name != "1.Mat1T0T1"); ++i)
        GetMaterialByIndex3ds(written.ctx, written.db, i, &back);
    ASSERT_EQ(back->name, "1.Mat1T0T1");
    EXPECT_EQ(back->maps[0].name, "a.tga");
    EXPECT_EQ(back->maps[1].name, "b.tga");
    EXPECT_FLOAT_EQ(back->maps[1].percent, 0.5f);  // the second map keeps its strength
    ReleaseMaterial3ds(&back);
}

}  // namespace

// Two objects of one name with meshes of their own: each node takes its own mesh, in file
// order, with and without key-frame nodes (whose tracks stay with their node), as lib3ds
// holds both meshes.
TEST(KQovReader3ds, ObjectsOfOneNameKeepTheirOwnMeshes) {
    auto mesh = [](int points) {
        Bytes3ds body = U16(uint16_t(points));
        for (int i = 0; i < points; ++i) body = body + F32(float(i)) + F32(float(i % 2)) + F32(0);
        return Chunk(0x4000, Str("Box") + Chunk(0x4100, Chunk(0x4110, body) +
                                                         Chunk(0x4120, U16(1) + U16(0) + U16(1) +
                                                                           U16(2) + U16(7))));
    };
    auto node = [](uint16_t id, float x, uint16_t parent = 0xFFFF) {
        return Chunk(0xB002, Chunk(0xB030, U16(id)) +
                                 Chunk(0xB010, Str("Box") + U16(0) + U16(0) + U16(parent)) +
                                 Chunk(0xB020, U16(0) + U32(0) + U32(0) + U32(1) + U32(0) +
                                                   U16(0) + F32(x) + F32(0) + F32(0)));
    };
    const Bytes3ds meshes = Chunk(0x3D3D, Chunk(0x3D3E, U32(3)) + mesh(3) + mesh(4));
    const Bytes3ds head = Chunk(0x0002, U32(3));
    const struct {
        const char* title;
        Bytes3ds bytes;
        std::vector<std::string> nodes;  // name, points and x of each node in order
    } rows[] = {
        {"records only", Chunk(0x4D4D, head + meshes), {"Box 3 0", "Box 4 0"}},
        {"key-frame nodes", Chunk(0x4D4D, head + meshes + Chunk(0xB000, node(0, 1) + node(1, 2))),
         {"Box 3 1", "Box 4 2"}},
        {"a third node is an instance of the first",
         Chunk(0x4D4D, head + meshes + Chunk(0xB000, node(0, 1) + node(1, 2) + node(2, 3))),
         {"Box 3 1", "Box 4 2", "Box 3 3"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.title);
        TempPath3ds file("same.3ds");
        WriteBytes3ds(file.path, row.bytes);
        std::vector<std::string> theirs;
        for (const std::string& line : Lib3dsLines(file.path))
            if (line.rfind("mesh ", 0) == 0) theirs.push_back(line);
        EXPECT_EQ(theirs, (std::vector<std::string>{"mesh Box 3 1 0", "mesh Box 4 1 0"}));
        Reading3ds r;
        ASSERT_TRUE(r.Read(file.path, {{14, 0}}));
        std::vector<std::string> nodes;
        KQovNode* root = r.scene->GetRootNode();
        for (int i = 0; i < root->GetChildCount(); ++i) {
            KQovNode* child = root->GetChild(i);
            auto* m = dynamic_cast<KQovMesh*>(child->GetNodeAttribute());
            KVector4 t;
            child->GetLocalTranslation(t);
            nodes.push_back(std::string(child->GetNameWithoutPrefix().Buffer()) + " " +
                            std::to_string(m ? m->GetControlPointsCount() : -1) + " " +
                            KFormatC("%g", t[0]));
        }
        EXPECT_EQ(nodes, row.nodes);
    }
    // A node whose parent is the second of that name hangs on that one, not on the first.
    TempPath3ds file("kid.3ds");
    const Bytes3ds hung = Chunk(0xB000, node(0, 1) + node(1, 2) + node(2, 3, 1));
    WriteBytes3ds(file.path, Chunk(0x4D4D, head + meshes + hung));
    Reading3ds r;
    ASSERT_TRUE(r.Read(file.path, {{14, 0}}));
    KQovNode* root = r.scene->GetRootNode();
    ASSERT_EQ(root->GetChildCount(), 2);
    EXPECT_EQ(root->GetChild(0)->GetChildCount(), 0);
    EXPECT_EQ(root->GetChild(1)->GetChildCount(), 1);
}
