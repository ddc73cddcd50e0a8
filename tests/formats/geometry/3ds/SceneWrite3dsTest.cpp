#include <gtest/gtest.h>

#include "Test3ds.h"

#include <algorithm>
#include <iterator>
#include <sstream>

#include "Reading3ds.h"
#include "animation/KFCurve.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovCamera.h"
#include "attributes/KQovLight.h"
#include "attributes/KQovMaterial.h"
#include "attributes/KQovNurb.h"
#include "attributes/KQovPatch.h"
#include "attributes/KQovTexture.h"
#include "attributes/geometry/KQovGeometryConverter.h"
#include "common/SceneDump.h"
#include "formats/geometry/3ds/Axes3ds.h"
#include "formats/geometry/3ds/MeshExport3ds.h"
#include "foundation/KLocale.h"
#include "platform/KPlatformFile.h"
#include "scene/KQovEntityContainer.h"

namespace {

KQovPatch* Sheet(KQovObjectManager& manager) {
    KQovPatch* patch = manager.CreatePatch();
    patch->InitControlPoints(5, KQovPatch::eBSpline, 4, KQovPatch::eBSpline);
    patch->SetStep(2, 2);
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 5; ++i)
            patch->GetControlPoints().SetAt(j * 5 + i, KVector4(i, 0.1 * i * j, j, 1));
    return patch;
}

// A still node: the placement in its properties and as one key in the take's curves.
void Place(KQovNode* node, const KVector4& t, const KVector4& r) {
    node->SetLocalTranslation(t[0], t[1], t[2]);
    node->SetLocalRotation(r[0], r[1], r[2]);
    node->AddTakeNode("Take 001");
    node->SetCurrentTakeNode("Take 001");
    KQovTakeNode* take = node->GetCurrentTakeNode();
    Keys3ds(take->GetTranslationX(), {{0, t[0]}});
    Keys3ds(take->GetTranslationY(), {{0, t[1]}});
    Keys3ds(take->GetTranslationZ(), {{0, t[2]}});
    Keys3ds(take->GetRotationX(), {{0, r[0]}});
    Keys3ds(take->GetRotationY(), {{0, r[1]}});
    Keys3ds(take->GetRotationZ(), {{0, r[2]}});
}

enum Variant { eTwoMaterials, eNoMaterial, ePlanarTexture };

// A cube of six quads with a UV per corner: three faces of material 0 with the texture
// brick.tga, three of material 1 without texture, animated over frames 0 to 10; a dummy below
// it that turns; a patch and a NURBS sheet.
KQovScene* BuildScene(KQovObjectManager& m, Variant variant = eTwoMaterials) {
    KQovScene* scene = m.CreateScene();
    KQovMesh* mesh = m.CreateMesh();
    const double corners[8][3] = {{-1, -1, -1}, {1, -1, -1}, {1, 1, -1}, {-1, 1, -1},
                                  {-1, -1, 1},  {1, -1, 1},  {1, 1, 1},  {-1, 1, 1}};
    mesh->InitControlPoints(8);
    for (int i = 0; i < 8; ++i)
        mesh->GetControlPoints().SetAt(i, KVector4(corners[i][0], corners[i][1], corners[i][2], 1));
    mesh->InitMaterialIndices(KQovLayer::eByPolygon);
    mesh->InitTextureIndices(KQovLayer::eByPolygon);
    mesh->InitTextureUVIndices(KQovLayer::eByPolygonVertex);
    if (variant != eNoMaterial) {
        KQovMaterial* red = m.CreateMaterial("Red");
        red->SetDefaultDiffuse(KColor(1, 0, 0));
        KQovMaterial* blue = m.CreateMaterial("Blue");
        blue->SetDefaultDiffuse(KColor(0, 0, 1));
        mesh->AddMaterial(red, 0);
        mesh->AddMaterial(blue, 0);
    }
    KQovTexture* brick = m.CreateTexture("Brick");
    brick->SetFileName("brick.tga");
    if (variant == ePlanarTexture) brick->SetMappingType(KQovTexture::eMappingPlanar);
    mesh->AddTexture(brick, 0);
    const int quads[6][4] = {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4},
                             {2, 3, 7, 6}, {1, 2, 6, 5}, {0, 4, 7, 3}};
    for (int q = 0; q < 6; ++q) {
        mesh->BeginPolygon(variant == eNoMaterial ? -1 : q / 3, q < 3 ? 0 : -1);
        for (int k = 0; k < 4; ++k)
            mesh->AddPolygonVertex(quads[q][k], mesh->AddTextureUV(0.1 * q, 0.2 * k + 0.05));
    }
    KQovNode* box = m.CreateNode("Box");
    box->SetNodeAttribute(mesh);
    scene->GetRootNode()->AddChild(box);
    box->SetLocalTranslation(1, 2, 3);
    box->AddTakeNode("Take 001");
    box->SetCurrentTakeNode("Take 001");
    KQovTakeNode* take = box->GetCurrentTakeNode();
    Keys3ds(take->GetTranslationX(), {{0, 1}, {10, 6}});
    Keys3ds(take->GetTranslationY(), {{0, 2}, {5, 4}, {10, 2}});
    Keys3ds(take->GetTranslationZ(), {{0, 3}});
    Keys3ds(take->GetRotationX(), {{0, 0}, {10, 30}});
    Keys3ds(take->GetRotationY(), {{0, 10}, {10, 100}});
    Keys3ds(take->GetRotationZ(), {{0, 0}});
    Keys3ds(take->GetScalingX(), {{0, 1}, {10, 2}});
    Keys3ds(take->GetScalingY(), {{0, 1}});
    Keys3ds(take->GetScalingZ(), {{0, 1}, {10, 0.5}});

    KQovNode* arm = m.CreateNode("Arm");
    box->AddChild(arm);
    Place(arm, KVector4(3, 0, 0), KVector4());
    Keys3ds(arm->GetCurrentTakeNode()->GetRotationZ(), {{0, 0}, {10, 45}});

    KQovNode* sheet = m.CreateNode("Sheet");
    sheet->SetNodeAttribute(Sheet(m));
    Place(sheet, KVector4(0, 5, 0), KVector4());
    scene->GetRootNode()->AddChild(sheet);
    KQovGeometryConverter converter(&m);
    KQovNode* sail = m.CreateNode("Sail");
    sail->SetNodeAttribute(converter.CreateNurbFromPatch(Sheet(m)));
    Place(sail, KVector4(), KVector4(0, 0, 30));
    scene->GetRootNode()->AddChild(sail);
    return scene;
}

// What a write must not change: the node tree with takes and keys, and every attribute's
// geometry and layers, materials and textures.
std::string Picture(KQovObjectManager& m, KQovScene& scene) {
    std::string out = SceneDump::NodeTree(*scene.GetRootNode());
    for (int i = 0; i < m.GetNodeCount(); ++i) {
        KQovNode* node = m.GetNode(i);
        out += node->GetName();
        auto* geometry = dynamic_cast<KQovGeometryBase*>(node->GetNodeAttribute());
        if (!geometry) continue;
        out += KFormatC(" type %d points %d", node->GetNodeAttribute()->GetAttributeType(),
                        geometry->GetControlPointsCount());
        for (int c = 0; c < geometry->GetControlPointsCount(); ++c) {
            const KVector4 p = geometry->GetControlPoints().GetAt(c);
            out += KFormatC(" %g,%g,%g", p[0], p[1], p[2]);
        }
        if (auto* mesh = dynamic_cast<KQovMesh*>(geometry))
            out += KFormatC(" polygons %d layers %d materials %d textures %d uvs %d mode %d\n",
                            mesh->GetPolygonCount(), mesh->GetLayerCount(),
                            mesh->GetMaterialCount(0), mesh->GetTextureCount(0),
                            mesh->GetTextureUVCount(), mesh->GetTextureUVMappingMode());
    }
    for (int i = 0; i < m.GetMaterialCount(); ++i) out += SceneDump::Object(*m.GetMaterial(i));
    return out;
}

// Scene to 3DS and back: meshes (surfaces tessellated), materials and animation at frame
// times; the caller's scene is left as it was, and a second write gives the same bytes.
TEST(SceneWrite3ds, RoundTripKeepsMeshesMaterialsAndAnimation) {
    Reading3ds source;
    KQovScene* scene = BuildScene(source.manager);
    const std::string before = Picture(source.manager, *scene);
    TempPath3ds first("first.3ds"), second("second.3ds");
    ASSERT_TRUE(source.Write(first.path, scene));
    EXPECT_EQ(Picture(source.manager, *scene), before);
    ASSERT_TRUE(source.Write(second.path, scene));
    EXPECT_EQ(ReadBytes3ds(first.path), ReadBytes3ds(second.path));

    const std::map<std::string, int> counts = Lib3dsCounts(first.path);
    EXPECT_EQ(counts.at("mesh"), 3);
    EXPECT_EQ(counts.at("material"), 2);
    {
        // File vertices sit where the key-frames put the mesh at frame 0.
        KQovNode* box = source.Find(scene->GetRootNode(), "Box");
        const auto* mesh = static_cast<KQovMesh*>(box->GetNodeAttribute());
        const std::vector<char> bytes = ReadBytes3ds(first.path);
        Loaded3ds file(Bytes3ds(bytes.begin(), bytes.end()));
        Mesh3ds* record = nullptr;
        GetMeshByIndex3ds(file.ctx, file.db, 0, &record);
        ASSERT_TRUE(record && record->name == "Box");
        KVector4 p;
        KMatrixTransformPoint(p, box->GetGlobalMatrixAtTime(FrameTime3ds(0)),
                              mesh->GetControlPoints().GetAt(0));
        const KVector4 want = ConvertPosition3ds(p);
        EXPECT_NEAR(record->vertices[0].x, want[0], 1e-5);
        EXPECT_NEAR(record->vertices[0].y, want[1], 1e-5);
        EXPECT_NEAR(record->vertices[0].z, want[2], 1e-5);
        ReleaseMesh3ds(&record);
    }

    Reading3ds back;
    ASSERT_TRUE(back.Read(first.path));
    KQovNode* root = back.scene->GetRootNode();
    // Node by node, the global placement at every frame.
    const std::pair<const char*, const char*> nodes[] = {
        {"Box", "Box"}, {"Arm", "$$$DUMMY.Arm"}, {"Sheet", "Sheet"}, {"Sail", "Sail"}};
    for (const auto& [was, is] : nodes) {
        KQovNode* a = source.Find(scene->GetRootNode(), was);
        KQovNode* b = back.Find(root, is);
        ASSERT_TRUE(a && b) << is;
        for (int frame : {0, 3, 5, 8, 10}) {
            const KMatrix want = a->GetGlobalMatrixAtTime(FrameTime3ds(frame));
            const KMatrix got = b->GetGlobalMatrixAtTime(FrameTime3ds(frame));
            for (int r = 0; r < 4; ++r)
                for (int c = 0; c < 3; ++c)
                    EXPECT_NEAR(got[r][c], want[r][c], 2e-3) << is << " frame " << frame;
        }
    }
    // The cube: every triangle's corners and UVs, its materials and texture.
    auto* original =
        static_cast<KQovMesh*>(source.Find(scene->GetRootNode(), "Box")->GetNodeAttribute());
    auto* cube = dynamic_cast<KQovMesh*>(back.Find(root, "Box")->GetNodeAttribute());
    ASSERT_NE(cube, nullptr);
    ASSERT_EQ(cube->GetPolygonCount(), 12);
    int face = 0;
    for (int p = 0; p < original->GetPolygonCount(); ++p)
        for (const std::array<int, 3>& t : TriangulatePolygon3ds(original->GetPolygonSize(p))) {
            for (int k = 0; k < 3; ++k) {
                const KVector4 want =
                    original->GetControlPoints().GetAt(original->GetPolygonVertex(p, t[k]));
                const KVector4 got =
                    cube->GetControlPoints().GetAt(cube->GetPolygonVertex(face, k));
                EXPECT_LT((got - want).Length(), 1e-4) << face << " " << k;
                const KVector2 wantUV =
                    original->GetTextureUV()->GetAt(original->GetTextureUVIndex(p, t[k]));
                const KVector2 gotUV =
                    cube->GetTextureUV()->GetAt(cube->GetTextureUVIndex(face, k));
                EXPECT_NEAR(gotUV.mData[0], wantUV.mData[0], 1e-6) << face << " " << k;
                EXPECT_NEAR(gotUV.mData[1], wantUV.mData[1], 1e-6) << face << " " << k;
            }
            // The first three quads are textured, the last three are not.
            const KQovMaterial* m = cube->GetMaterial(cube->GetMaterialIndices()->GetAt(face), 0);
            EXPECT_STREQ(m->GetNameWithoutPrefix().Buffer(), p < 3 ? "1.Mat0Tex0" : "Blue");
            EXPECT_EQ(cube->GetTextureIndices()->GetAt(face), p < 3 ? 0 : -1) << face;
            ++face;
        }
    ASSERT_EQ(cube->GetTextureCount(0), 1);
    EXPECT_EQ(std::string(cube->GetTexture(0, 0)->GetFileName()), first.dir / "brick.tga");
    KQovMaterial* red = back.manager.FindMaterial("1.Mat0Tex0");
    ASSERT_NE(red, nullptr);
    EXPECT_NEAR(red->GetDefaultDiffuse().mRed, 1.0, 1e-6);
    EXPECT_NEAR(back.manager.FindMaterial("Blue")->GetDefaultDiffuse().mBlue, 1.0, 1e-6);
}

std::vector<std::string> LinesOf(const std::string& path, const std::string& kind,
                                 const std::string& name = "") {
    std::vector<std::string> out;
    for (const std::string& line : Lib3dsLines(path))
        if (line.compare(0, kind.size() + 1, kind + " ") == 0 &&
            (name.empty() || line.compare(kind.size() + 1, name.size() + 1, name + " ") == 0))
            out.push_back(line);
    return out;
}

// Options and textures decide vertices, texture vertices and material groups.
TEST(SceneWrite3ds, OptionsDecideTextureVerticesAndMaterials) {
    using Lines = std::vector<std::string>;
    struct Case {
        const char* title;
        Variant variant;
        std::map<int, int> options;
        const char* box;  // lib3ds: name, points, faces, texture vertices
        Lines materials;  // lib3ds: name, first and second map
    } cases[] = {
        {"corners split",
         eTwoMaterials,
         {},
         "mesh Box 24 12 24",
         {"material 1.Mat0Tex0 brick.tga -", "material Blue - -"}},
        {"UV per polygon off",
         eTwoMaterials,
         {{17, 0}},
         "mesh Box 8 12 8",
         {"material 1.Mat0Tex0 brick.tga -", "material Blue - -"}},
        {"texture mapping off",
         eTwoMaterials,
         {{8, 0}},
         "mesh Box 8 12 0",
         {"material Blue - -", "material Red - -"}},
        {"materials off", eTwoMaterials, {{7, 0}}, "mesh Box 24 12 24", {}},
        {"a planar texture is not written",
         ePlanarTexture,
         {},
         "mesh Box 24 12 24",
         {"material Blue - -", "material Red - -"}},
        {"textured without materials",
         eNoMaterial,
         {},
         "mesh Box 24 12 24",
         {"material 1.Mat0Tex0 brick.tga -", "material Default - -"}},
    };
    for (const Case& c : cases) {
        Reading3ds source;
        KQovScene* scene = BuildScene(source.manager, c.variant);
        const int materials = source.manager.GetMaterialCount();
        TempPath3ds file("options.3ds");
        ASSERT_TRUE(source.Write(file.path, scene, c.options)) << c.title;
        EXPECT_EQ(LinesOf(file.path, "mesh", "Box"), Lines{c.box}) << c.title;
        EXPECT_EQ(LinesOf(file.path, "material"), c.materials) << c.title;
        // Surfaces are written untextured, whatever the options.
        EXPECT_EQ(LinesOf(file.path, "mesh", "Sheet"), Lines{"mesh Sheet 15 16 0"}) << c.title;
        EXPECT_EQ(source.manager.GetMaterialCount(), materials) << c.title;
        // The grey of the material made for a textured mesh without one.
        if (c.variant == eNoMaterial) {
            Reading3ds back;
            ASSERT_TRUE(back.Read(file.path));
            KQovMaterial* grey = back.manager.FindMaterial("Default");
            ASSERT_NE(grey, nullptr);
            EXPECT_NEAR(grey->GetDefaultDiffuse().mGreen, 0.588, 1.0 / 255);  // stored as a byte
        }
    }
}

// Files that cannot be made or written fail the writer with its own error, and a failed
// write leaves nothing held (the leak checker watches) and the scene as it was.
TEST(SceneWrite3ds, FailuresReportAndReleaseEverything) {
    struct Case {
        const char* title;
        std::string path;
        bool created;
        int error;         // after FileCreate, or after Write when created
        std::string text;  // the start of its message, in the words of every writer
    } cases[] = {
        {"no such folder", "/no/such/folder/x.3ds", false, KQovWriter::eFileNotCreated,
         "Unable to create file /no/such/folder/x.3ds: "},
        {"device full", "/dev/full", true, KQovWriter::eOutOfDiskSpace, "Out of disk space"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        if (c.created && !KPlatformPathExists(c.path.c_str())) continue;
        KQovObjectManager manager;
        KQovScene* scene = BuildScene(manager);
        const std::string before = Picture(manager, *scene);
        KQovWriter3ds writer(&manager);
        EXPECT_EQ(writer.FileCreate(c.path.c_str()), c.created);
        std::unique_ptr<KStreamOptions> options(writer.GetWriteOptions());
        if (c.created) {
            EXPECT_FALSE(writer.Write(scene, options.get()));
            EXPECT_EQ(writer.GetLastErrorID(), c.error);
            EXPECT_EQ(std::string(writer.GetLastErrorString()), c.text);
        } else {
            EXPECT_EQ(writer.GetLastErrorID(), c.error);
            EXPECT_EQ(std::string(writer.GetLastErrorString()).rfind(c.text, 0), 0u)
                << writer.GetLastErrorString();
            EXPECT_FALSE(writer.Write(scene, options.get()));  // nothing to write into
        }
        EXPECT_EQ(Picture(manager, *scene), before);
    }
}

// A mesh without polygons and a surface that cannot be tessellated write no mesh, but their
// nodes keep their place, so what hangs below them still finds its parent.
TEST(SceneWrite3ds, NodesWithoutMeshesKeepTheirPlace) {
    Reading3ds source;
    KQovScene* scene = BuildScene(source.manager);
    KQovNode* root = scene->GetRootNode();
    KQovNode* box = source.Find(root, "Box");
    KQovNode* empty = source.manager.CreateNode("Empty");
    empty->SetNodeAttribute(source.manager.CreateMesh());
    KQovNode* bad = source.manager.CreateNode("Bad");
    KQovPatch* quadric = source.manager.CreatePatch();
    quadric->InitControlPoints(3, KQovPatch::eBSpline, 4, KQovPatch::eBSpline);
    bad->SetNodeAttribute(quadric);
    root->RemoveChild(box);
    root->AddChild(empty);  // written before the cube
    empty->AddChild(box);
    // Two nodes without attributes, one below the other, above the patch: each is a dummy
    // of its own, as the cube's arm is (they share the object name "$$$DUMMY").
    KQovNode* outer = source.manager.CreateNode("Outer");
    KQovNode* inner = source.manager.CreateNode("Inner");
    root->AddChild(outer);
    outer->AddChild(inner);
    inner->AddChild(bad);
    TempPath3ds file("empty.3ds");
    ASSERT_TRUE(source.Write(file.path, scene));
    EXPECT_NE(std::string(source.status.Buffer()).find("Unable to convert \"Bad\" to a mesh\n"),
              std::string::npos);
    EXPECT_TRUE(LinesOf(file.path, "mesh", "Empty").empty());
    EXPECT_TRUE(LinesOf(file.path, "mesh", "Bad").empty());
    EXPECT_EQ(LinesOf(file.path, "node object", "Empty").size(), 1u);
    EXPECT_EQ(LinesOf(file.path, "node object", "Bad").size(), 1u);
    // Written in the order Sheet, Sail, Empty, Box: the empty mesh is not counted in
    // generated material names.
    EXPECT_EQ(LinesOf(file.path, "material", "3.Mat0Tex0").size(), 1u);
    Reading3ds back;
    ASSERT_TRUE(back.Read(file.path));
    KQovNode* cube = back.Find(back.scene->GetRootNode(), "Box");
    ASSERT_NE(cube, nullptr);
    EXPECT_STREQ(cube->GetParent()->GetNameWithoutPrefix().Buffer(), "Empty");
    EXPECT_EQ(LinesOf(file.path, "node object", "$$$DUMMY").size(), 3u);
    for (const auto& [child, parent] :
         {std::pair("Bad", "$$$DUMMY.Inner"), std::pair("$$$DUMMY.Inner", "$$$DUMMY.Outer"),
          std::pair("$$$DUMMY.Arm", "Box")}) {
        KQovNode* node = back.Find(back.scene->GetRootNode(), child);
        ASSERT_TRUE(node && node->GetParent()) << child;
        EXPECT_STREQ(node->GetParent()->GetNameWithoutPrefix().Buffer(), parent) << child;
    }
}

// A triangle mesh node below the root.
KQovNode* Triangle(KQovObjectManager& m, KQovScene& scene, const char* name) {
    KQovMesh* mesh = m.CreateMesh();
    mesh->InitControlPoints(3);
    for (int i = 0; i < 3; ++i) mesh->GetControlPoints().SetAt(i, KVector4(i, i == 1, 0, 1));
    mesh->BeginPolygon(-1, -1);
    for (int i = 0; i < 3; ++i) mesh->AddPolygonVertex(i);
    KQovNode* node = m.CreateNode(name);
    node->SetNodeAttribute(mesh);
    scene.GetRootNode()->AddChild(node);
    return node;
}

// Names that fit their field are written as they stand, others cut and numbered apart; the
// camera's background colour is the file's solid background. Checked with lib3ds and with
// this system's reader.
TEST(SceneWrite3ds, NamesAndBackgroundReadBackByBothReaders) {
    Reading3ds source;
    KQovScene* scene = source.manager.CreateScene();
    const char* given[] = {"Quader01",        "Quader02", "Quader03", "Quader04",
                           "Quader05",        "Box",      "Box",      "LongObjectName1",
                           "LongObjectName2", "Quader011"};
    for (const char* name : given) Triangle(source.manager, *scene, name);
    // Its name too long for the file: renamed for the write and back, found by it throughout.
    const std::string paint = "Paint" + std::string(70, 'p');
    KQovMaterial* material = source.manager.CreateMaterial(paint.c_str());
    scene->GetEntityContainer()->AddMaterial(material);
    const KString paintName(("Material::" + paint).c_str());
    ASSERT_EQ(scene->GetEntityContainer()->FindMaterial(paintName), material);
    KQovCamera* camera = source.manager.CreateCamera();
    camera->SetDefaultBackgroundColor(0.25, 0.5, 0.75);
    camera->SetApertureMode(1);
    KQovNode* cameraNode = source.manager.CreateNode("Camera01");
    cameraNode->SetNodeAttribute(camera);
    scene->GetRootNode()->AddChild(cameraNode);
    // A zoom over frames 0 to 10: written as keys, not as the still lens.
    cameraNode->AddTakeNode("Take 001");
    cameraNode->SetCurrentTakeNode("Take 001");
    Keys3ds(cameraNode->GetCurrentTakeNode()->GetFieldOfView(), {{0, 30}, {10, 60}});
    TempPath3ds file("names.3ds");
    ASSERT_TRUE(source.Write(file.path, scene));
    std::vector<std::string> meshes;
    for (const std::string& line : LinesOf(file.path, "mesh"))
        meshes.push_back(line.substr(5, line.find(' ', 5) - 5));
    // Given in this order; the second Box and the cut long names are numbered, and a given
    // name that looks numbered is checked like any other.
    std::sort(meshes.begin(), meshes.end());
    const std::vector<std::string> expected = {"Box",      "Box1",      "LongObj",  "LongObj1",
                                               "Quader01", "Quader011", "Quader02", "Quader03",
                                               "Quader04", "Quader05"};
    EXPECT_EQ(meshes, expected);
    EXPECT_EQ(LinesOf(file.path, "camera"), std::vector<std::string>{"camera Camera01"});
    EXPECT_EQ(LinesOf(file.path, "background"),
              std::vector<std::string>{"background solid 0.2500 0.5000 0.7500"});
    // The scene's names are its own again after the write.
    EXPECT_STREQ(scene->GetRootNode()->GetChild(0)->GetName(), "Model::Quader01");
    EXPECT_EQ(scene->GetEntityContainer()->FindMaterial(paintName), material);
    EXPECT_EQ(scene->GetEntityContainer()->FindMaterial(KString("Paintppppppp")), nullptr);
    Reading3ds back;
    ASSERT_TRUE(back.Read(file.path));
    for (const char* name : {"Quader01", "Quader05", "Camera01", "Box1"})
        EXPECT_NE(back.Find(back.scene->GetRootNode(), name), nullptr) << name;
    KQovNode* cameraBack = back.Find(back.scene->GetRootNode(), "Camera01");
    ASSERT_NE(cameraBack, nullptr);
    ASSERT_NE(cameraBack->GetCamera(), nullptr);
    const KColor c = cameraBack->GetCamera()->GetDefaultBackgroundColor();
    EXPECT_NEAR(c.mRed, 0.25, 1e-6);
    EXPECT_NEAR(c.mGreen, 0.5, 1e-6);
    EXPECT_NEAR(c.mBlue, 0.75, 1e-6);
    KFCurve* fov = cameraBack->GetCurrentTakeNode()->GetFieldOfView();
    ASSERT_NE(fov, nullptr);
    EXPECT_NEAR(fov->Evaluate(FrameTime3ds(0)), 30.0, 1e-4);
    EXPECT_NEAR(fov->Evaluate(FrameTime3ds(10)), 60.0, 1e-4);
}

// Two scenes of one manager share names: each file's warnings tell the renames of its own
// written nodes, whichever writer writes it, and lib3ds finds each told name in its file.
TEST(SceneWrite3ds, RenamesToldOnlyForNodesOfTheFileWritten) {
    Reading3ds source;
    KQovScene* first = source.manager.CreateScene();
    KQovScene* second = source.manager.CreateScene();
    for (const char* name : {"Box", "Box"}) Triangle(source.manager, *first, name);
    Triangle(source.manager, *second, "Box");
    Triangle(source.manager, *second, "Other");
    // A directional light is not written, so its rename is not told.
    KQovLight* sun = source.manager.CreateLight();
    sun->SetLightType(1);
    KQovNode* sunNode = source.manager.CreateNode("Other");
    sunNode->SetNodeAttribute(sun);
    second->GetRootNode()->AddChild(sunNode);
    const std::string firstTold =
        "Node \"Box\" written as \"Box1\": another node or material has that name\n";
    const std::string secondTold =
        "Node \"Box\" written as \"Box2\": another node or material has that name\n";
    KQovWriter3ds reused(&source.manager);
    for (int round = 0; round < 2; ++round) {
        for (KQovScene* scene : {first, second}) {
            SCOPED_TRACE(testing::Message()
                         << "round " << round << (scene == first ? " first" : " second"));
            TempPath3ds file("told.3ds");
            KString status;
            if (round == 0) {
                ASSERT_TRUE(source.Write(file.path, scene));
                status = source.status;
            } else {
                ASSERT_TRUE(reused.FileCreate(file.path.c_str()));
                std::unique_ptr<KStreamOptions> options(reused.GetWriteOptions());
                ASSERT_TRUE(reused.Write(scene, options.get()) && reused.FileClose());
                reused.GetStatusText(status);
            }
            EXPECT_EQ(std::string(status.Buffer()), scene == first ? firstTold : secondTold);
            const std::string told = scene == first ? "Box1" : "Box2";
            std::vector<std::string> meshes;
            for (const std::string& line : LinesOf(file.path, "mesh"))
                meshes.push_back(line.substr(5, line.find(' ', 5) - 5));
            EXPECT_NE(std::find(meshes.begin(), meshes.end(), told), meshes.end());
        }
    }
}

// A mesh with UVs keeps its texture vertices whether or not it has a texture; Texture Mapping
// off still writes none. Counted by lib3ds in the written file against the source file.
TEST(SceneWrite3ds, TextureVerticesOfMeshesWithAndWithoutTextures) {
    struct Case {
        const char* file;
        std::map<int, int> options;
        bool texels;  // the written file holds as many texels as the source
    } const cases[] = {
        {"RotatingCube.3DS", {}, true},  // UVs, no material or texture
        {"RotatingCube.3DS", {{8, 0}}, false},
        {"cube_with_diffuse_texture.3DS", {}, true},
        {"test1.3ds", {}, true},
        {"fels.3ds", {}, false},  // no UVs at all
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.file << " options " << c.options.size());
        const std::string path = std::string(QOV_TESTDATA_DIR) + "/3ds/" + c.file;
        ASSERT_TRUE(KPlatformPathExists(path.c_str())) << "missing test file " << path;
        auto texels = [](const std::string& p) {
            long total = 0;
            for (const std::string& line : LinesOf(p, "mesh")) {
                std::istringstream in(line);
                std::string kind, name;
                long points = 0, faces = 0, count = 0;
                in >> kind >> name >> points >> faces >> count;
                total += count;
            }
            return total;
        };
        Reading3ds source;
        ASSERT_TRUE(source.Read(path));
        TempPath3ds out("texels.3ds");
        ASSERT_TRUE(source.Write(out.path, nullptr, c.options));
        // Corners with UVs of their own become vertices of their own: one texel per vertex.
        long points = 0;
        for (const std::string& line : LinesOf(out.path, "mesh")) {
            std::istringstream in(line);
            std::string kind, name;
            long n = 0;
            in >> kind >> name >> n;
            points += n;
        }
        const long before = texels(path), after = texels(out.path);
        if (c.texels) {
            EXPECT_GT(before, 0);
            EXPECT_EQ(after, points);
        } else {
            EXPECT_EQ(after, 0);
        }
    }
}

// A texture tied to a mesh's model alone (no layer names it) becomes the texture of a mesh
// whose layers have none; a second one has no place, and the writer says so.
TEST(SceneWrite3ds, TextureOfTheModelAloneCoversAMeshWithoutTextures) {
    const std::string path = std::string(QOV_TESTDATA_DIR) + "/3ds/RotatingCube.3DS";
    ASSERT_TRUE(KPlatformPathExists(path.c_str())) << "missing test file " << path;
    Reading3ds source;
    ASSERT_TRUE(source.Read(path));
    KQovNode* node = nullptr;
    for (int i = 0; i < source.manager.GetNodeCount() && !node; ++i)
        if (source.manager.GetNode(i)->GetMesh()) node = source.manager.GetNode(i);
    ASSERT_NE(node, nullptr);
    ASSERT_EQ(node->GetMesh()->GetTextureCount(0), 0);
    // A surface is written tessellated, without textures.
    KQovNode* sheet = source.manager.CreateNode("Sheet");
    sheet->SetNodeAttribute(Sheet(source.manager));
    source.scene->GetRootNode()->AddChild(sheet);
    for (auto [owner, name] :
         {std::make_pair(node, "Texture::Wood"), std::make_pair(node, "Texture::Stone"),
          std::make_pair(sheet, "Texture::Moss")}) {
        KQovTexture* texture = source.manager.CreateTexture(name);
        texture->SetFileName((std::string(name + 9) + ".png").c_str());
        owner->GetPropertyHandler()->ConnectSrc(texture->GetPropertyHandler());
    }
    TempPath3ds out("loose.3ds");
    ASSERT_TRUE(source.Write(out.path));
    for (const std::string& told :
         {"\"Stone\" of \"" + std::string(node->GetNameWithoutPrefix().Buffer()) + "\"",
          std::string("\"Moss\" of \"Sheet\"")})
        EXPECT_NE(
            std::string(source.status.Buffer())
                .find("Texture " + told + " is not written: no layer of the model names it\n"),
            std::string::npos)
            << source.status.Buffer();
    EXPECT_EQ(node->GetMesh()->GetTextureCount(0), 0);  // the scene's mesh is left as it was
    Reading3ds back;
    ASSERT_TRUE(back.Read(out.path));
    int textured = 0;
    for (int i = 0; i < back.manager.GetNodeCount(); ++i) {
        KQovMesh* mesh = back.manager.GetNode(i)->GetMesh();
        if (!mesh || mesh->GetTextureCount(0) == 0) continue;
        ++textured;
        const std::string file = mesh->GetTexture(0, 0)->GetFileName();
        EXPECT_EQ(file.substr(file.rfind('/') + 1), "Wood.png");
    }
    EXPECT_EQ(textured, 1);
}

// The same for a material tied to the model alone, on a mesh and on a surface written as one:
// lib3ds finds the material records, and the faces read back take them. Names too long for
// 3DS: the written one is told of as cut, the other under the name it has.
TEST(SceneWrite3ds, MaterialOfTheModelAloneCoversAMeshWithoutMaterials) {
    const std::string path = std::string(QOV_TESTDATA_DIR) + "/3ds/RotatingCube.3DS";
    ASSERT_TRUE(KPlatformPathExists(path.c_str())) << "missing test file " << path;
    Reading3ds source;
    ASSERT_TRUE(source.Read(path));
    KQovNode* node = source.Find(source.scene->GetRootNode(), "Box01");
    ASSERT_NE(node, nullptr);
    ASSERT_EQ(node->GetMesh()->GetMaterialCount(0), 0);
    KQovNode* sheet = source.manager.CreateNode("Sheet");
    sheet->SetNodeAttribute(Sheet(source.manager));
    source.scene->GetRootNode()->AddChild(sheet);
    for (auto [owner, name] : {std::make_pair(node, "Material::ClayOfTheRiverBank"),
                               std::make_pair(node, "Material::SandOfTheRiverBank"),
                               std::make_pair(sheet, "Material::Moss")}) {
        KQovMaterial* material = source.manager.CreateMaterial(name);
        material->SetDefaultDiffuse(KColor(0.2, 0.4, 0.6));  // whole bytes, as 3DS keeps them
        owner->GetPropertyHandler()->ConnectSrc(material->GetPropertyHandler());
    }
    TempPath3ds out("loose.3ds");
    ASSERT_TRUE(source.Write(out.path));
    EXPECT_EQ(
        std::string(source.status.Buffer()),
        "Material \"ClayOfTheRiverBank\" written as \"ClayOfTheRiv\": the 3DS reader keeps 15 "
        "bytes of a name, a longer one is cut to 12 to leave room for a number\n"
        "Material \"SandOfTheRiverBank\" of \"Box01\" is not written: no layer of the model "
        "names it\n");
    EXPECT_EQ(node->GetMesh()->GetMaterialCount(0), 0);  // the scene's mesh is left as it was
    const std::vector<std::string> materials = Lib3dsLines(out.path, "materials");
    ASSERT_EQ(materials.size(), 2u);
    for (size_t i = 0; i < 2; ++i)
        EXPECT_EQ(materials[i].substr(0, materials[i].find(" shininess")),
                  std::string("material ") + (i == 0 ? "ClayOfTheRiv" : "Moss") +
                      " 0.2000 0.2000 0.2000 0.2000 0.4000 0.6000 0.2000 0.2000 0.2000");
    Reading3ds back;
    ASSERT_TRUE(back.Read(out.path));
    for (auto [name, material] : {std::make_pair("Box01", "Material::ClayOfTheRiv"),
                                  std::make_pair("Sheet", "Material::Moss")}) {
        KQovNode* read = back.Find(back.scene->GetRootNode(), name);
        ASSERT_NE(read, nullptr) << name;
        ASSERT_EQ(read->GetMesh()->GetMaterialCount(0), 1) << name;
        EXPECT_STREQ(read->GetMesh()->GetMaterial(0, 0)->GetName(), material);
    }
}

}  // namespace
