#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "attributes/KQovLayer.h"
#include "attributes/KQovLink.h"
#include "attributes/KQovMaterial.h"
#include "attributes/KQovMesh.h"
#include "attributes/KQovNurb.h"
#include "attributes/KQovTexture.h"
#include "common/TempTestFolder.h"
#include "formats/geometry/3ds/KQovReader3ds.h"
#include "formats/geometry/3ds/KQovWriter3ds.h"
#include "formats/geometry/obj/KQovReaderObj.h"
#include "formats/geometry/obj/KQovWriterObj.h"
#include "formats/geometry/obj/ObjTestFiles.h"
#include "io/KQovExporter.h"
#include "io/KQovImporter.h"
#include "io/KStreamOptionsBase.h"
#include "io/KStreamOptionsQov.h"
#include "io/qov/KQovWriterQov5.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeProperties.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovPropertyHandler.h"
#include "scene/KQovScene.h"

namespace {

struct SceneCounts {
    int meshes = 0, nurbs = 0, points = 0, polygons = 0;
};

void CountNodes(KQovNode* node, SceneCounts& c) {
    if (auto* mesh = dynamic_cast<KQovMesh*>(node->GetNodeAttribute())) {
        ++c.meshes;
        c.points += mesh->GetControlPointsCount();
        c.polygons += mesh->GetPolygonCount();
    }
    if (dynamic_cast<KQovNurb*>(node->GetNodeAttribute())) ++c.nurbs;
    for (int i = 0; i < node->GetChildCount(); ++i) CountNodes(node->GetChild(i), c);
}

// Nodes whose property rows are not built yet.
int WaitingNodes(KQovNode* node) {
    int count = node->GetNodeProperties()->IsTableWaiting() ? 1 : 0;
    for (int i = 0; i < node->GetChildCount(); ++i) count += WaitingNodes(node->GetChild(i));
    return count;
}

struct Fixture {
    Fixture() { manager.SetNodeRenamer(std::make_unique<KQovNumberingRenamer>()); }
    bool Read(const std::string& path, KQovScene*& scene, int referenceNode = 1) {
        scene = manager.CreateScene();
        KQovReaderObj reader(&manager);
        if (!reader.FileOpen(path.c_str())) return false;
        std::unique_ptr<KStreamOptions> options(reader.GetReadOptions(false));
        static_cast<KStreamOptionsBase*>(options.get())->SetOptionValue(1, referenceNode);
        const bool ok = reader.Read(scene, options.get());
        reader.GetStatusText(status);
        error = reader.GetLastErrorID();
        return ok;
    }
    bool Write(KQovScene* scene, const std::string& path, bool triangulate = false) {
        KQovExporter exporter(&manager);
        exporter.Initialize(path.c_str());
        exporter.SetFileFormat(18);
        KStreamOptionsObj options;
        options.SetOptionValue(2, triangulate ? 1 : 0);
        return exporter.Export(scene, &options);
    }
    // A scene whose root holds one mesh node of four control points and these polygons.
    KQovMesh* MeshScene(const char* name, std::initializer_list<std::vector<int>> polygons,
                        KQovScene*& scene, KQovNode*& node) {
        scene = manager.CreateScene();
        node = manager.CreateNode(name);
        scene->GetRootNode()->AddChild(node);
        KQovMesh* mesh = manager.CreateMesh();
        node->SetNodeAttribute(mesh);
        mesh->InitControlPoints(4);
        for (const std::vector<int>& polygon : polygons) {
            mesh->BeginPolygon();
            for (int v : polygon) mesh->AddPolygonVertex(v);
        }
        return mesh;
    }
    // Two meshes of one triangle in one scene, "bare" and "layered"; the mesh of "layered".
    KQovMesh* TwoMeshScene(KQovScene*& scene, KQovNode*& bare, KQovNode*& layered) {
        MeshScene("bare", {{0, 1, 2}}, scene, bare);
        KQovScene* other = nullptr;
        KQovMesh* mesh = MeshScene("layered", {{0, 1, 2}}, other, layered);
        other->GetRootNode()->RemoveChild(layered);
        scene->GetRootNode()->AddChild(layered);
        return mesh;
    }
    KQovObjectManager manager;
    KString status;
    int error = -1;
};

}  // namespace

TEST(ObjScene, RealFilesBecomeNodesAndRoundTrip) {
    const std::string folder = std::string(QOV_TESTDATA_DIR) + "/obj/";
    ASSERT_TRUE(std::ifstream(folder + "spider.obj").good())
        << "the OBJ test data folder is missing: " << folder;
    TempTestFolder out;
    ASSERT_TRUE(out.ok());
    struct Row {
        const char* file;
        int groups, polygons;
    };
    const Row rows[] = {
        {"spider.obj", 19, 1368}, {"regr01.obj", 55, 2710}, {"cube_usemtl.obj", 1, 12}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        Fixture f;
        KQovScene* scene = nullptr;
        ASSERT_TRUE(f.Read(folder + row.file, scene)) << f.status.Buffer();
        KQovNode* reference = scene->GetRootNode()->GetChild(0);
        ASSERT_NE(reference, nullptr);
        EXPECT_EQ(std::string(reference->GetNameWithoutPrefix().Buffer()),
                  std::string(row.file).substr(0, std::string(row.file).size() - 4) + "_root");
        SceneCounts first;
        CountNodes(scene->GetRootNode(), first);
        EXPECT_EQ(first.meshes, row.groups);
        EXPECT_EQ(first.polygons, row.polygons);
        // The write only looks at the nodes: rows not built stay so (a large scene's cost).
        const int waiting = WaitingNodes(scene->GetRootNode());
        EXPECT_GE(waiting, row.groups);
        ASSERT_TRUE(f.Write(scene, out / "Out.OBJ"));
        EXPECT_EQ(WaitingNodes(scene->GetRootNode()), waiting);
        EXPECT_TRUE(std::ifstream(out / "out.mtl").good());
        const IndependentRead other = ReadIndependently(out / "Out.OBJ", out.path() + "/");
        ASSERT_TRUE(other.ok) << other.error;
        EXPECT_EQ(other.vertices.size(), 3u * first.points);
        EXPECT_EQ(int(other.faces), first.polygons);
        EXPECT_FALSE(other.dissolves.empty());
        // Fresh managers: the node renamer numbers names met before in the same manager.
        Fixture g, h;
        KQovScene* again = nullptr;
        ASSERT_TRUE(g.Read(out / "Out.OBJ", again, 0)) << g.status.Buffer();
        SceneCounts second;
        CountNodes(again->GetRootNode(), second);
        EXPECT_EQ(second.meshes, first.meshes);
        EXPECT_EQ(second.polygons, first.polygons);
        // Faces of textured materials carry one texture vertex per corner: more points, once.
        EXPECT_GE(second.points, first.points);
        KPlatformMakeDirectory((out / "1").c_str());
        KPlatformMakeDirectory((out / "2").c_str());
        ASSERT_TRUE(g.Write(again, out / "1/a.obj"));
        KQovScene* third = nullptr;
        ASSERT_TRUE(h.Read(out / "1/a.obj", third, 0));
        ASSERT_TRUE(h.Write(third, out / "2/a.obj"));
        EXPECT_TRUE(ReadText(out / "1/a.obj") == ReadText(out / "2/a.obj"));  // stable
    }
}

TEST(ObjScene, ReaderOptionsNurbsAndFailures) {
    TempTestFolder out;
    ASSERT_TRUE(out.ok());
    std::string surface = "cstype rat bspline\ndeg 3 3\nsurf 0 1 0 1";
    std::string text = "g b\n";
    for (int i = 0; i < 16; ++i) text += "v " + std::to_string(i) + " 0 0 2\n";
    for (int i = 1; i <= 16; ++i) surface += " " + std::to_string(i);
    text += "f 1 2 3\ng A\nf 1 2 3\n" + surface +
            "\nparm u 0 0 0 0 1 1 1 1\nparm v 0 0 0 0 1 1 1 1\nend\n";
    std::ofstream(out / "n.obj") << text;
    std::ofstream(out / "bad.obj") << "v 1 2 3\nv 1\n";
    Fixture f;
    KQovScene* scene = nullptr;
    ASSERT_TRUE(f.Read(out / "n.obj", scene, 0)) << f.status.Buffer();
    KQovNode* root = scene->GetRootNode();
    ASSERT_EQ(root->GetChildCount(), 3);
    auto* nurb = dynamic_cast<KQovNurb*>(root->GetChild(0)->GetNodeAttribute());
    ASSERT_NE(nurb, nullptr);
    EXPECT_EQ(nurb->GetUKnotVector().GetCount(), 8);
    EXPECT_EQ(nurb->GetControlPoints().GetAt(1)[0], 4.0);  // point 4 of the file goes second
    EXPECT_EQ(nurb->GetControlPoints().GetAt(1)[3], 2.0);
    // The surface took the name of its group first.
    EXPECT_EQ(std::string(root->GetChild(1)->GetNameWithoutPrefix().Buffer()), "A1");
    EXPECT_EQ(std::string(root->GetChild(2)->GetNameWithoutPrefix().Buffer()), "b");

    KQovScene* bad = nullptr;
    EXPECT_FALSE(f.Read(out / "bad.obj", bad));
    EXPECT_EQ(f.error, KQovReader::eFileCorrupted);
    EXPECT_NE(std::string(f.status.Buffer()).find("Line 2 is corrupted"), std::string::npos);
    KQovReaderObj reader(&f.manager);
    EXPECT_FALSE(reader.FileOpen((out / "missing.obj").c_str()));
    EXPECT_EQ(reader.GetLastErrorID(), KQovReader::eFileNotOpened);
    ASSERT_TRUE(reader.FileOpen((out / "n.obj").c_str()));
    EXPECT_FALSE(reader.Read(scene, nullptr));
    EXPECT_EQ(reader.GetLastErrorID(), KQovReader::eStreamOptionsNotSet);
}

TEST(ObjScene, WriterCornersDeformationCopiesAndFailures) {
    TempTestFolder out;
    ASSERT_TRUE(out.ok());
    Fixture f;
    KQovScene* scene = nullptr;
    KQovNode* node = nullptr;
    KQovMesh* mesh = f.MeshScene("quad", {{0, 1, 3, 2}}, scene, node);
    for (int i = 0; i < 4; ++i) mesh->GetControlPoints().SetAt(i, KVector4(i & 1, i >> 1, 0, 1));
    mesh->InitNormals(4);
    node->SetLocalTranslation(10, 0, 0);
    ASSERT_TRUE(f.Write(scene, out / "q.obj"));
    std::string text = ReadText(out / "q.obj");
    EXPECT_EQ(text.find("mtllib"), std::string::npos);  // no material: no MTL file
    EXPECT_FALSE(std::ifstream(out / "q.mtl").good());
    EXPECT_NE(text.find("v 11.000000 0.000000 0.000000\n"), std::string::npos) << text;
    EXPECT_NE(text.find("f 1//1 2//2 4//4 3//3\n"), std::string::npos) << text;
    EXPECT_EQ(mesh->GetControlPoints().GetAt(1)[0], 1.0);  // the scene's mesh is untouched

    ASSERT_TRUE(f.Write(scene, out / "t.obj", true));  // forced triangulation
    text = ReadText(out / "t.obj");
    EXPECT_EQ(text.find("\nf ", text.find("\nf ") + 1) != std::string::npos, true);
    EXPECT_NE(text.find("f 1//1 2//2 4//4\nf 4//4 3//3 1//1\n"), std::string::npos) << text;
    EXPECT_EQ(mesh->GetPolygonSize(0), 4);  // the scene's mesh keeps its quad

    KQovWriterObj writer(&f.manager);
    EXPECT_EQ(writer.FindSingleChildRoot(scene), node);
    EXPECT_EQ(writer.FindSingleChildRoot(nullptr), nullptr);
    EXPECT_FALSE(writer.FileCreate("/proc/no/such/file.obj"));
    EXPECT_EQ(writer.GetLastErrorID(), KQovWriter::eFileNotOpened);
    if (writer.FileCreate("/dev/full")) {
        KStreamOptionsObj options;
        EXPECT_FALSE(writer.Write(scene, nullptr));
        EXPECT_EQ(writer.GetLastErrorID(), KQovWriter::eStreamOptionsNotSet);
        EXPECT_FALSE(writer.Write(scene, &options));
        EXPECT_EQ(writer.GetLastErrorID(), KQovWriter::eOutOfDiskSpace);
    }
    // The OBJ and its MTL are one write: an MTL that cannot be made fails it, nothing replaced.
    mesh->AddMaterial(f.manager.CreateMaterial("m"), 0);
    ASSERT_TRUE(KPlatformMakeDirectory((out / "f.mtl").c_str()));
    std::ofstream(out / "f.obj") << "old";
    std::ofstream(out / "f.txt") << "old";
    const std::pair<const char*, std::string> refusals[] = {
        {"f.obj", "Unable to create material file \"" + out / "f.mtl" + "\": it is a folder"},
        {"f.txt", "Unable to create material file for \"" + out / "f.txt" +
                      "\": the name does not end in .obj"}};
    for (const auto& refusal : refusals) {
        KQovExporter exporter(&f.manager);
        exporter.Initialize((out / refusal.first).c_str());
        exporter.SetFileFormat(18);
        KStreamOptionsObj options;
        EXPECT_FALSE(exporter.Export(scene, &options));
        EXPECT_EQ(exporter.GetLastErrorString(), refusal.second);
        EXPECT_EQ(ReadText(out / refusal.first), "old");
    }
    scene->GetRootNode()->AddChild(f.manager.CreateNode("second"));
    EXPECT_EQ(writer.FindSingleChildRoot(scene), nullptr);
}

TEST(ObjScene, WriterFollowsNormalUvAndMaterialMappings) {
    TempTestFolder out;
    ASSERT_TRUE(out.ok());
    struct Row {
        const char* name;
        void (*setup)(KQovObjectManager&, KQovMesh&);
        const char* expected;
    };
    const Row rows[] = {
        {"normals by corner",
         [](KQovObjectManager&, KQovMesh& mesh) {
             mesh.InitNormals(6);
             for (int i = 0; i < 6; ++i) mesh.GetNormals()->SetAt(i, KVector4(0, 0, i + 1));
         },
         "f 1//1 2//2 3//3\nf 4//4 1//5 3//6\n"},
        {"UVs by control point",
         [](KQovObjectManager&, KQovMesh& mesh) {
             mesh.InitTextureUVIndices(KQovLayer::eByControlPoint);
             mesh.InitTextureUV(4);
         },
         "vt 0.000000 0.000000\nf 1/1 2/2 3/3\nf 4/4 1/1 3/3\n"},
        {"material by control point out of range",
         [](KQovObjectManager& m, KQovMesh& mesh) {
             mesh.InitMaterialIndices(KQovLayer::eByControlPoint);
             mesh.AddMaterial(m.CreateMaterial("two words"), 0);
             mesh.AddMaterial(m.CreateMaterial("other"), 0);
         },
         "mtllib m.mtl\n\ng mesh\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Fixture f;
        KQovScene* scene = nullptr;
        KQovNode* node = nullptr;
        KQovMesh* mesh = f.MeshScene("mesh", {{0, 1, 2}, {3, 0, 2}}, scene, node);
        row.setup(f.manager, *mesh);
        ASSERT_TRUE(f.Write(scene, out / "M.obj"));
        const std::string text = ReadText(out / "M.obj");
        EXPECT_NE(text.find(row.expected), std::string::npos) << text;
    }
    // The first polygon starts at control point 0: "two words", underscored; the second at 3,
    // past the two materials: it keeps the material in force.
    const std::string text = ReadText(out / "M.obj");
    EXPECT_NE(text.find("usemtl two_words\nf 1 2 3\nf 4 1 3\n"), std::string::npos) << text;
}

TEST(ObjScene, LinkDeformationIsBakedIntoTheFileOnly) {
    TempTestFolder out;
    ASSERT_TRUE(out.ok());
    Fixture f;
    KQovScene* scene = nullptr;
    KQovNode* node = nullptr;
    KQovMesh* mesh = f.MeshScene("skin", {{0, 1, 2}}, scene, node);
    KQovNode* bone = f.manager.CreateNode("bone");
    scene->GetRootNode()->AddChild(bone);
    bone->SetLocalTranslation(0, 5, 0);
    auto* link = new KQovLink;
    link->SetLink(bone);
    link->SetLinkMode(0);
    for (int i = 0; i < 4; ++i) link->AddControlPointIndex(i, i == 3 ? 0.0 : 1.0);
    mesh->AddLink(link);
    for (int evaluate : {1, 0}) {
        SCOPED_TRACE(evaluate);
        KQovExporter exporter(&f.manager);
        exporter.Initialize((out / "d.obj").c_str());
        exporter.SetFileFormat(18);
        KStreamOptionsObj options;
        options.SetOptionValue(3, evaluate);
        ASSERT_TRUE(exporter.Export(scene, &options));
        const std::string text = ReadText(out / "d.obj");
        const char* moved =
            "v 0.000000 5.000000 0.000000\nv 0.000000 5.000000 0.000000\n"
            "v 0.000000 5.000000 0.000000\nv 0.000000 0.000000 0.000000\n";
        EXPECT_EQ(text.find(moved) != std::string::npos, evaluate == 1) << text;
        EXPECT_EQ(mesh->GetControlPoints().GetAt(0)[1], 0.0);  // the scene keeps its points
    }
}

TEST(ObjScene, NestedNodesPlaceTheirOwnTransformFirst) {
    TempTestFolder out;
    ASSERT_TRUE(out.ok());
    Fixture f;
    KQovScene* scene = nullptr;
    KQovNode* node = nullptr;
    f.MeshScene("child", {{0, 1, 2}}, scene, node);
    KQovNode* parent = f.manager.CreateNode("parent");
    scene->GetRootNode()->RemoveChild(node);
    scene->GetRootNode()->AddChild(parent);
    parent->AddChild(node);
    parent->SetLocalRotation(0, 0, 90);
    node->SetLocalTranslation(1, 0, 0);
    ASSERT_TRUE(f.Write(scene, out / "n.obj"));
    // The child's origin moved by (1, 0, 0), then turned a quarter about Z.
    std::istringstream lines(ReadText(out / "n.obj"));
    std::string word;
    double x = 9, y = 9, z = 9;
    while (lines >> word)
        if (word == "v") {
            lines >> x >> y >> z;
            break;
        }
    EXPECT_NEAR(x, 0.0, 1e-6);
    EXPECT_NEAR(y, 1.0, 1e-6);
    EXPECT_NEAR(z, 0.0, 1e-6);
}

// A texture tied to a mesh's model alone (no layer names it) becomes the texture of a mesh
// whose layers have none; a second one, or one beside a layer's texture, has no place, and the
// writer says so.
TEST(ObjScene, TextureOfTheModelAloneCoversAMeshWithoutTextures) {
    TempTestFolder out;
    ASSERT_TRUE(out.ok());
    Fixture f;
    KQovScene* scene = nullptr;
    KQovNode *bare = nullptr, *layered = nullptr;
    KQovMesh* mesh = f.TwoMeshScene(scene, bare, layered);
    KQovTexture* brick = f.manager.CreateTexture("Texture::Brick");
    brick->SetFileName("brick.png");
    mesh->AddTexture(brick, 0);
    mesh->GetLayer(0)->GetTextures()->SetMappingMode(KQovLayer::eAllSame);
    for (auto [node, name] :
         {std::make_pair(bare, "Texture::Wood"), std::make_pair(bare, "Texture::Stone"),
          std::make_pair(layered, "Texture::Glass")}) {
        KQovTexture* texture = f.manager.CreateTexture(name);
        texture->SetFileName((std::string(name + 9) + ".png").c_str());
        node->GetPropertyHandler()->ConnectSrc(texture->GetPropertyHandler());
    }
    KQovWriterObj writer(&f.manager);
    ASSERT_TRUE(writer.FileCreate((out / "loose.obj").c_str()));
    KStreamOptionsObj options;
    ASSERT_TRUE(writer.Write(scene, &options));
    ASSERT_TRUE(writer.FileClose());
    KString status;
    writer.GetStatusText(status);
    for (const char* told : {"\"Stone\" of \"bare\"", "\"Glass\" of \"layered\""})
        EXPECT_NE(std::string(status.Buffer())
                      .find(std::string("Texture ") + told +
                            " is not written: no layer of the model names it\n"),
                  std::string::npos)
            << status.Buffer();
    EXPECT_EQ(std::string(status.Buffer()).find("\"Wood\""), std::string::npos);
    Fixture g;
    KQovScene* back = nullptr;
    ASSERT_TRUE(g.Read(out / "loose.obj", back, 0)) << g.status.Buffer();
    for (auto [name, file] :
         {std::make_pair("bare", "Wood.png"), std::make_pair("layered", "brick.png")}) {
        SCOPED_TRACE(name);
        KQovNode* node = back->GetRootNode()->FindChild(name);
        ASSERT_NE(node, nullptr);
        ASSERT_EQ(node->GetMesh()->GetTextureCount(0), 1);
        const std::string written = node->GetMesh()->GetTexture(0, 0)->GetFileName();
        EXPECT_EQ(written.substr(written.rfind('/') + 1), file);
        // Carried by the default material, in its colours: a map times black shows nothing.
        const KQovMaterial* carrier = node->GetMesh()->GetMaterial(0, 0);
        ASSERT_NE(carrier, nullptr);
        EXPECT_NEAR(carrier->GetDefaultDiffuse().mRed, 0.8, 1e-6);
        EXPECT_NEAR(carrier->GetDefaultAmbient().mGreen, 0.2, 1e-6);
    }
}

// The same for a material tied to a mesh's model alone: it covers a mesh whose layers name
// none, and an independent reader finds it in the library.
TEST(ObjScene, MaterialOfTheModelAloneCoversAMeshWithoutMaterials) {
    TempTestFolder out;
    ASSERT_TRUE(out.ok());
    Fixture f;
    KQovScene* scene = nullptr;
    KQovNode *bare = nullptr, *layered = nullptr;
    KQovMesh* mesh = f.TwoMeshScene(scene, bare, layered);
    mesh->AddMaterial(f.manager.CreateMaterial("Material::Brick"), 0);
    mesh->GetLayer(0)->GetMaterials()->SetMappingMode(KQovLayer::eAllSame);
    for (auto [node, name] :
         {std::make_pair(bare, "Material::Clay"), std::make_pair(bare, "Material::Sand"),
          std::make_pair(layered, "Material::Glass")}) {
        KQovMaterial* material = f.manager.CreateMaterial(name);
        material->SetDefaultDiffuse(KColor(0.25, 0.5, 0.75));
        material->SetDefaultOpacity(0.5);
        node->GetPropertyHandler()->ConnectSrc(material->GetPropertyHandler());
    }
    KQovWriterObj writer(&f.manager);
    ASSERT_TRUE(writer.FileCreate((out / "loose.obj").c_str()));
    KStreamOptionsObj options;
    ASSERT_TRUE(writer.Write(scene, &options));
    ASSERT_TRUE(writer.FileClose());
    KString status;
    writer.GetStatusText(status);
    EXPECT_EQ(std::string(status.Buffer()),
              "Material \"Sand\" of \"bare\" is not written: no layer of the model names it\n"
              "Material \"Glass\" of \"layered\" is not written: no layer of the model names it\n");
    Fixture g;
    KQovScene* back = nullptr;
    ASSERT_TRUE(g.Read(out / "loose.obj", back, 0)) << g.status.Buffer();
    for (auto [name, material] :
         {std::make_pair("bare", "Material::Clay"), std::make_pair("layered", "Material::Brick")}) {
        SCOPED_TRACE(name);
        KQovNode* node = back->GetRootNode()->FindChild(name);
        ASSERT_NE(node, nullptr);
        ASSERT_EQ(node->GetMesh()->GetMaterialCount(0), 1);
        EXPECT_STREQ(node->GetMesh()->GetMaterial(0, 0)->GetName(), material);
    }
    KQovMesh* clay = back->GetRootNode()->FindChild("bare")->GetMesh();
    EXPECT_EQ(clay->GetMaterial(0, 0)->GetDefaultDiffuse().mGreen, 0.5);
    const IndependentRead independent = ReadIndependently(out / "loose.obj", out / "");
    if (!independent.ok) GTEST_SKIP() << independent.error;
    EXPECT_EQ(independent.dissolves, (std::vector<float>{0.5f, 1.0f}));
}

// A mesh whose material layer gives its polygons none, written after one with a material: it
// takes the default material (a usemtl line stays in force across groups), not the other's.
TEST(ObjScene, PolygonsWithoutMaterialAfterAnotherGroupTakeTheDefault) {
    TempTestFolder out;
    ASSERT_TRUE(out.ok());
    Fixture f;
    KQovScene* scene = nullptr;
    KQovNode *bare = nullptr, *layered = nullptr;
    KQovMesh* unmapped = f.TwoMeshScene(scene, bare, layered);
    bare->GetMesh()->AddMaterial(f.manager.CreateMaterial("Material::Brick"), 0);
    bare->GetMesh()->GetLayer(0)->GetMaterials()->SetMappingMode(KQovLayer::eAllSame);
    unmapped->AddMaterial(f.manager.CreateMaterial("Material::Glass"), 0);
    unmapped->GetLayer(0)->GetMaterials()->SetMappingMode(KQovLayer::eNone);
    ASSERT_TRUE(f.Write(scene, out / "unmapped.obj"));
    const std::string text = ReadText(out / "unmapped.obj");
    const size_t line = text.find("usemtl default1\nf ");
    EXPECT_TRUE(line != std::string::npos && line > text.find("g layered")) << text;
    Fixture g;
    KQovScene* back = nullptr;
    ASSERT_TRUE(g.Read(out / "unmapped.obj", back, 0)) << g.status.Buffer();
    KQovNode* node = back->GetRootNode()->FindChild("layered");
    ASSERT_NE(node, nullptr);
    ASSERT_EQ(node->GetMesh()->GetMaterialCount(0), 1);
    EXPECT_STREQ(node->GetMesh()->GetMaterial(0, 0)->GetName(), "Material::default1");
}

// MTL values, a map's placement and a bump map come into the scene's material and textures,
// and are written back so that this reader and an independent one read what was read.
TEST(ObjScene, MaterialValuesAndMapsRoundTripAndReadElsewhere) {
    TempTestFolder in, out;
    ASSERT_TRUE(in.ok() && out.ok());
    for (const char* image : {"wood.png", "bump.png"}) std::ofstream(in / image) << image;
    std::ofstream(in / "m.mtl") << "newmtl wood\nKd 0.3\nKs 1 1 1\nillum 1\nNs 400\nTr 0.25\n"
                                   "Ke 0.125 0.25 0.5\n"
                                   "map_Kd -s 2 3 1 -o 0.25 0.5 0 wood.png\n"
                                   "map_bump -bm 1 -clamp on -o 0 2.5e-7 0 bump.png\n"
                                   "newmtl plain\nKd 0.5 0.5 0.5\n";
    std::ofstream(in / "a.obj") << "mtllib m.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
                                   "vt 0 0\nvt 1 0\nvt 1 1\nusemtl wood\nf 1/1 2/2 3/3\n"
                                   "usemtl plain\nf 1/1 3/3 4/3 # a comment\n";
    Fixture f;
    KQovScene* scene = nullptr;
    ASSERT_TRUE(f.Read(in / "a.obj", scene, 0)) << f.status.Buffer();
    EXPECT_EQ(std::string(f.status.Buffer()), "") << "every statement has its place";
    auto check = [](KQovScene* read) {
        KQovNode* node = read->GetRootNode()->FindChild("default");
        ASSERT_NE(node, nullptr);
        KQovMesh* mesh = node->GetMesh();
        ASSERT_EQ(mesh->GetPolygonCount(), 2);
        KQovMaterial* wood = mesh->GetMaterial(0, 0);
        ASSERT_NE(wood, nullptr);
        EXPECT_NEAR(wood->GetDefaultDiffuse().mBlue, 0.3, 1e-6);
        EXPECT_EQ(wood->GetDefaultSpecular().mRed, 0.0);
        EXPECT_NEAR(wood->GetDefaultShininess(), 0.4, 1e-6);
        EXPECT_NEAR(wood->GetDefaultOpacity(), 0.75, 1e-6);
        EXPECT_NEAR(wood->GetDefaultEmissive().mBlue, 0.5, 1e-6);
        ASSERT_NE(mesh->GetTextureIndices(), nullptr);
        KQovTexture* map = mesh->GetTexture(mesh->GetTextureIndices()->GetAt(0), 0);
        ASSERT_NE(map, nullptr);
        EXPECT_EQ(map->GetDefaultScaleV(), 3.0);
        EXPECT_EQ(map->GetDefaultTranslationU(), 0.25);
        ASSERT_EQ(mesh->GetLayerCount(), 2);
        const KArrayInt& bumps = mesh->GetLayer(1)->GetTextures()->GetIndexArray();
        ASSERT_EQ(bumps.GetCount(), 2);
        // None, or (version 5 holds no -1) a texture of another use.
        const KQovTexture* none =
            bumps.GetAt(1) < 0 ? nullptr : mesh->GetTexture(bumps.GetAt(1), 1);
        EXPECT_TRUE(!none || none->GetTextureUse() != KQovTexture::eUseBumpNormalMap);
        KQovTexture* bump = mesh->GetTexture(bumps.GetAt(0), 1);
        ASSERT_NE(bump, nullptr);
        EXPECT_EQ(bump->GetTextureUse(), KQovTexture::eUseBumpNormalMap);
        EXPECT_EQ(bump->GetWrapModeV(), 1);
        EXPECT_EQ(bump->GetDefaultTranslationV(), double(2.5e-7f));  // below six decimals
        const std::string file = bump->GetFileName();
        EXPECT_EQ(file.substr(file.rfind('/') + 1), "bump.png");
    };
    check(scene);
    ASSERT_TRUE(f.Write(scene, out / "b.obj"));
    Fixture g;
    KQovScene* back = nullptr;
    ASSERT_TRUE(g.Read(out / "b.obj", back, 0)) << g.status.Buffer();
    check(back);
    TempTestFolder again;
    ASSERT_TRUE(again.ok());
    ASSERT_TRUE(g.Write(back, again / "b.obj"));
    EXPECT_EQ(ReadText(again / "b.mtl"), ReadText(out / "b.mtl"));
    // Cut into triangles, the polygons keep their maps.
    ASSERT_TRUE(g.Write(back, again / "c.obj", true));
    EXPECT_EQ(ReadText(again / "c.mtl"), ReadText(out / "b.mtl"));
    // Version 5 keeps the bump map's layer; 3DS names it as left out.
    {
        KStreamOptionsQov options;
        for (int i = 0; i < KStreamOptionsQov::eSwitchCount; ++i) options.SetSwitch(i, true);
        KQovWriterQov5 writer(&g.manager, nullptr);
        ASSERT_TRUE(writer.FileCreate((again / "b.qov").c_str()) && writer.Write(back, &options) &&
                    writer.FileClose());
        Fixture h;
        KQovScene* five = h.manager.CreateScene();
        KQovImporter importer(&h.manager);
        ASSERT_TRUE(importer.Initialize((again / "b.qov").c_str()) &&
                    importer.Import(five, &options));
        check(five);
        KQovWriter3ds threeDs(&g.manager);
        std::unique_ptr<KStreamOptions> writing(threeDs.GetWriteOptions());
        ASSERT_TRUE(threeDs.FileCreate((again / "b.3ds").c_str()) &&
                    threeDs.Write(back, writing.get()) && threeDs.FileClose());
        KString told;
        threeDs.GetStatusText(told);
        EXPECT_NE(std::string(told.Buffer())
                      .find("Texture \"wood_bump\" of \"default\" is not "
                            "written: 3DS takes the first layer's maps only"),
                  std::string::npos)
            << told.Buffer();
    }
    const IndependentRead other = ReadIndependently(out / "b.obj", out / "");
    if (!other.ok) GTEST_SKIP() << other.error;
#ifdef QOV_HAVE_TINYOBJ
    ASSERT_EQ(other.materials.size(), 2u);
    const tinyobj::material_t& wood = other.materials[0];
    EXPECT_EQ(wood.specular[0], 0.0f);  // no highlight
    EXPECT_FLOAT_EQ(wood.shininess, 400.0f);
    EXPECT_FLOAT_EQ(wood.dissolve, 0.75f);
    EXPECT_FLOAT_EQ(wood.diffuse[1], 0.3f);
    EXPECT_FLOAT_EQ(wood.emission[2], 0.5f);
    EXPECT_EQ(wood.diffuse_texname, "wood.png");
    EXPECT_FLOAT_EQ(wood.diffuse_texopt.scale[1], 3.0f);
    EXPECT_FLOAT_EQ(wood.diffuse_texopt.origin_offset[0], 0.25f);
    EXPECT_EQ(wood.bump_texname, "bump.png");
    EXPECT_TRUE(wood.bump_texopt.clamp);
    EXPECT_EQ(other.materials[1].diffuse_texname, "");
    EXPECT_FLOAT_EQ(other.materials[1].specular[2], 0.2f);
#endif
}

// A map's tiling and offset travel through 3DS and back into the MTL options.
TEST(ObjScene, MapPlacementThroughThreeDsAndBack) {
    TempTestFolder in, out;
    ASSERT_TRUE(in.ok() && out.ok());
    std::ofstream(in / "wood.png") << "image";
    const std::string map = "map_Kd -s 2.000000 3.000000 1 -o -1.000000 0.500000 0 wood.png\n";
    std::ofstream(in / "m.mtl") << "newmtl Tiled\nKd 0.5 0.5 0.5\n" << map;
    std::ofstream(in / "a.obj") << "mtllib m.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\n"
                                   "vt 0 1\nusemtl Tiled\nf 1/1 2/2 3/3\n";
    Fixture f;
    KQovScene* scene = nullptr;
    ASSERT_TRUE(f.Read(in / "a.obj", scene, 0)) << f.status.Buffer();
    KQovWriter3ds writer(&f.manager);
    std::unique_ptr<KStreamOptions> writing(writer.GetWriteOptions());
    ASSERT_TRUE(writer.FileCreate((out / "a.3ds").c_str()) && writer.Write(scene, writing.get()) &&
                writer.FileClose());
    Fixture g;
    KQovScene* read = g.manager.CreateScene();
    KQovReader3ds reader(&g.manager);
    std::unique_ptr<KStreamOptions> reading(reader.GetReadOptions(false));
    ASSERT_TRUE(reader.FileOpen((out / "a.3ds").c_str()) && reader.Read(read, reading.get()));
    ASSERT_TRUE(g.Write(read, out / "b.obj"));
    const std::string mtl = ReadText(out / "b.mtl");
    EXPECT_NE(mtl.find(map), std::string::npos) << mtl;
}

// Materials whose names meet in the library's terms ("" and "Name", "a::X" and "X", a map of a
// material named as the mesh's own empty texture) stay apart in the mesh, each with its map.
TEST(ObjScene, MaterialsOfMeetingNamesStayApart) {
    TempTestFolder in, out;
    ASSERT_TRUE(in.ok() && out.ok());
    std::ofstream(in / "wood.png") << "image";
    std::ofstream(in / "m.mtl") << "newmtl \nKd 1 0 0\nnewmtl Name\nKd 0 1 0\nnewmtl X\nKd 0 0 1\n"
                                   "newmtl a::X\nKd 1 1 0\nnewmtl _empty_\nKd 0 1 1\n"
                                   "map_Kd wood.png\n";
    std::ofstream(in / "a.obj") << "mtllib m.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\n"
                                   "vt 0 1\nusemtl \nf 1 2 3\nusemtl Name\nf 1 2 3\nusemtl X\n"
                                   "f 1 2 3\nusemtl a::X\nf 1 2 3\nusemtl _empty_\n"
                                   "f 1/1 2/2 3/3\n";
    Fixture f;
    KQovScene* scene = nullptr;
    ASSERT_TRUE(f.Read(in / "a.obj", scene, 0)) << f.status.Buffer();
    KQovMesh* mesh = scene->GetRootNode()->FindChild("default")->GetMesh();
    ASSERT_EQ(mesh->GetMaterialCount(0), 5);
    const KArrayInt& indices = mesh->GetLayer(0)->GetMaterials()->GetIndexArray();
    const float red[] = {1, 0, 0, 1, 0}, green[] = {0, 1, 0, 1, 1};
    for (int p = 0; p < 5; ++p) {
        const KColor diffuse = mesh->GetMaterial(indices.GetAt(p), 0)->GetDefaultDiffuse();
        EXPECT_EQ(diffuse.mRed, red[p]) << p;
        EXPECT_EQ(diffuse.mGreen, green[p]) << p;
    }
    ASSERT_TRUE(f.Write(scene, out / "b.obj"));
    const std::string mtl = ReadText(out / "b.mtl");
    for (const char* kept : {"newmtl Name1\n", "newmtl X1\n", "newmtl _empty_\nmap_Kd wood.png\n"})
        EXPECT_NE(mtl.find(kept), std::string::npos) << kept << mtl;
}
