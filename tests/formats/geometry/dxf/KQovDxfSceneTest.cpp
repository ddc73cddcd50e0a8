#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "DxfTestText.h"
#include "animation/KFCurve.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovLayer.h"
#include "attributes/KQovMaterial.h"
#include "attributes/KQovMesh.h"
#include "common/RefusingHeap.h"
#include "common/TempTestFolder.h"
#include "formats/geometry/dxf/KQovReaderDxf.h"
#include "formats/geometry/dxf/KQovWriterDxf.h"
#include "io/KQovExporter.h"
#include "io/KQovFormatFactory.h"
#include "io/KQovImporter.h"
#include "io/KStreamOptionsBase.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovPropertyHandler.h"
#include "scene/KQovRenamer.h"
#include "scene/KQovScene.h"
#include "scene/KQovTakeInfo.h"

namespace {

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// "name:points/polygons:colour" per mesh node, depth first; colour of the last material.
std::string Describe(KQovNode* node) {
    std::string out;
    if (auto* mesh = dynamic_cast<KQovMesh*>(node->GetNodeAttribute())) {
        const int materials = mesh->GetMaterialCount(0);
        KColor c = materials ? mesh->GetMaterial(materials - 1, 0)->GetDefaultDiffuse() : KColor();
        out += std::string(node->GetName()) + ":" + std::to_string(mesh->GetControlPointsCount()) +
               "/" + std::to_string(mesh->GetPolygonCount()) + ":" + std::to_string(c.mRed) + "," +
               std::to_string(c.mGreen) + "," + std::to_string(c.mBlue) +
               (node->GetVisibility() ? "" : ":hidden") + " ";
    }
    for (int i = 0; i < node->GetChildCount(); ++i) out += Describe(node->GetChild(i));
    return out;
}

struct Fixture {
    Fixture() { manager.SetNodeRenamer(std::make_unique<KQovNumberingRenamer>()); }
    bool Read(const std::string& path, KQovScene*& scene, int mode = 0, int reference = 1) {
        scene = manager.CreateScene();
        std::unique_ptr<KQovReader> reader(KQovMakeFormatReader(14, &manager));
        if (!reader || !reader->FileOpen(path.c_str())) return false;
        std::unique_ptr<KStreamOptions> options(reader->GetReadOptions(false));
        auto* dxf = static_cast<KStreamOptionsBase*>(options.get());
        dxf->SetOptionValue(1, reference);
        dxf->SetOptionValue(6, mode);
        const bool ok = reader->Read(scene, options.get());
        reader->GetStatusText(status);
        error = reader->GetLastErrorID();
        return ok;
    }
    bool Write(KQovScene* scene, const std::string& path, int triangulate = 0) {
        KQovExporter exporter(&manager);
        exporter.Initialize(path.c_str());
        exporter.SetFileFormat(16);
        KStreamOptionsDxf options;
        options.SetOptionValue(2, triangulate);
        return exporter.Export(scene, &options);
    }
    KQovMesh* AddMesh(KQovScene* scene, const char* name, int points,
                      std::initializer_list<std::vector<int>> polygons) {
        KQovNode* node = manager.CreateNode(name);
        scene->GetRootNode()->AddChild(node);
        KQovMesh* mesh = manager.CreateMesh();
        node->SetNodeAttribute(mesh);
        mesh->InitControlPoints(points);
        for (int i = 0; i < points; ++i)
            mesh->GetControlPoints().SetAt(i, KVector4(i, i % 2, i / 2, 1));
        for (const std::vector<int>& polygon : polygons) {
            mesh->BeginPolygon();
            for (int v : polygon) mesh->AddPolygonVertex(v);
        }
        return mesh;
    }
    KQovObjectManager manager;
    KString status;
    int error = -1;
};

}  // namespace

TEST(DxfScene, RealFilesReadInEveryMode) {
    const std::string folder = std::string(QOV_TESTDATA_DIR) + "/dxf/";
    struct Row {
        const char* file;
        int mode;
        const char* names;
    } rows[] = {
        {"lineTest.dxf", 0, "Model::1:6/3:"},
        {"lineTest.dxf", 1, "Model::ENTITIES:"},  // option value 1: one mesh per block
        {"lineTest.dxf", 2, "Model::3DFACE:"},
        {"wuson.dxf", 0, "Model::Mesh:3205/3732:"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.file) + " mode " + std::to_string(row.mode));
        Fixture f;
        KQovScene* scene = nullptr;
        ASSERT_TRUE(f.Read(folder + row.file, scene, row.mode)) << f.status.Buffer();
        KQovNode* reference = scene->GetRootNode()->GetChild(0);
        ASSERT_NE(reference, nullptr);
        const std::string stem = std::string(row.file).substr(0, strlen(row.file) - 4);
        EXPECT_EQ(std::string(reference->GetName()), "Model::" + stem + "_root");
        EXPECT_EQ(Describe(reference).rfind(row.names, 0), 0u) << Describe(reference);
        EXPECT_GT(f.manager.GetMaterialCount(), 0);  // materials through the manager
    }
}

TEST(DxfScene, ReaderAndWriterFailures) {
    TempTestFolder out;
    ASSERT_TRUE(out.ok());
    std::ofstream(out / "binary.dxf", std::ios::binary)
        << std::string("AutoCAD Binary DXF\r\n\x1a\0", 22) + "binary";
    std::ofstream(out / "cut.dxf") << DxfText("0|SECTION|2|ENTITIES|0|LINE|8|A|11|1|");
    struct Row {
        const char* file;
        int error;
    } rows[] = {{"binary.dxf", KQovReader::eFileCorrupted},
                {"cut.dxf", KQovReader::eFileCorrupted}};
    for (const Row& row : rows) {
        Fixture f;
        KQovScene* scene = nullptr;
        EXPECT_FALSE(f.Read(out / row.file, scene)) << row.file;
        EXPECT_EQ(f.error, row.error) << row.file;
    }
    Fixture f;
    KQovScene* scene = f.manager.CreateScene();
    KQovReaderDxf reader(&f.manager);
    EXPECT_FALSE(reader.Read(scene, nullptr));
    EXPECT_EQ(reader.GetLastErrorID(), KQovReader::eFileNotOpened);
    EXPECT_FALSE(reader.FileOpen((out / "missing.dxf").c_str()));
    EXPECT_EQ(std::string(reader.GetLastErrorString()),
              "File not opened: " + out / "missing.dxf" + ": No such file or directory");
    ASSERT_TRUE(reader.FileOpen((out / "cut.dxf").c_str()));
    KStreamOptionsObj other;
    EXPECT_FALSE(reader.Read(scene, &other));
    EXPECT_STREQ(reader.GetLastErrorString(), "Stream options not set");

    KQovWriterDxf writer(&f.manager);
    EXPECT_FALSE(writer.FileCreate("/proc/no/such/file.dxf"));
    EXPECT_EQ(writer.GetLastErrorID(), KQovWriter::eFileNotOpened);
    KStreamOptionsDxf options;
    EXPECT_FALSE(writer.Write(scene, &options));  // no file created
    EXPECT_EQ(writer.GetLastErrorID(), KQovWriter::eFileNotOpened);
    if (writer.FileCreate("/dev/full")) {
        f.AddMesh(scene, "wall", 4, {{0, 1, 3, 2}});  // something to write
        EXPECT_FALSE(writer.Write(scene, &other));
        EXPECT_EQ(writer.GetLastErrorID(), KQovWriter::eStreamOptionsNotSet);
        EXPECT_FALSE(writer.Write(scene, &options));  // a full disk is never success
        EXPECT_EQ(writer.GetLastErrorID(), KQovWriter::eOutOfDiskSpace);
    }
}

// DXF -> scene -> DXF -> scene keeps layers, meshes and colours; the second file is the first.
TEST(DxfScene, RoundTripKeepsLayersMeshesAndColours) {
    TempTestFolder out;
    ASSERT_TRUE(out.ok());
    std::ofstream(out / "in.dxf") << DxfText(
        "0|SECTION|2|TABLES|0|TABLE|2|LAYER|0|LAYER|2|Walls|62|1|0|LAYER|2|Roof|62|-30|"
        "0|ENDTAB|0|ENDSEC|0|SECTION|2|ENTITIES|"
        "0|3DFACE|8|Walls|10|0|20|0|30|0|11|1|21|0|31|0|12|1|22|1|32|0|13|0|23|1|33|0|"
        "0|3DFACE|8|Roof|10|0|20|0|30|1|11|1|21|0|31|1|12|1|22|1|32|2|"
        "0|LINE|8|Roof|62|5|10|0|20|0|30|5|11|0|21|2|31|5|0|ENDSEC|0|EOF");
    Fixture f, g, h;
    KQovScene *first = nullptr, *second = nullptr, *third = nullptr;
    ASSERT_TRUE(f.Read(out / "in.dxf", first, 0, 0)) << f.status.Buffer();
    const std::string expected = Describe(first->GetRootNode());
    EXPECT_EQ(expected,
              "Model::Roof:5/2:0.000000,0.000000,1.000000:hidden "
              "Model::Walls:4/1:1.000000,0.000000,0.000000 ");
    ASSERT_TRUE(f.Write(first, out / "a.dxf"));
    ASSERT_TRUE(g.Read(out / "a.dxf", second, 0, 0)) << g.status.Buffer();
    EXPECT_EQ(Describe(second->GetRootNode()), expected);
    ASSERT_TRUE(g.Write(second, out / "b.dxf"));
    ASSERT_TRUE(h.Read(out / "b.dxf", third, 0, 0));
    EXPECT_EQ(Describe(third->GetRootNode()), expected);
    EXPECT_EQ(FileText(out / "a.dxf"), FileText(out / "b.dxf"));
}

TEST(DxfScene, WriterNamesEmptySceneConversionAndDeformation) {
    TempTestFolder out;
    ASSERT_TRUE(out.ok());
    Fixture f;
    // A scene without faces is refused, and no file is left: it would read back as nothing.
    KQovScene* empty = f.manager.CreateScene();
    KQovExporter exporter(&f.manager);
    exporter.Initialize((out / "empty.dxf").c_str());
    exporter.SetFileFormat(16);
    KStreamOptionsDxf dxf;
    EXPECT_FALSE(exporter.Export(empty, &dxf));
    EXPECT_STREQ(exporter.GetLastErrorString(),
                 "Nothing to write: a DXF file holds meshes only, and the scene holds none");
    EXPECT_FALSE(std::ifstream(out / "empty.dxf").good());
    // An empty drawing reads as no node.
    std::ofstream(out / "empty.dxf") << DxfText("0|SECTION|2|ENTITIES|0|ENDSEC|0|EOF");
    KQovScene* back = nullptr;
    ASSERT_TRUE(f.Read(out / "empty.dxf", back, 1, 0)) << f.status.Buffer();
    EXPECT_EQ(back->GetRootNode()->GetChildCount(), 0);

    // A name the layer table refuses comes back with '_' and the class prefix.
    KQovScene* scene = f.manager.CreateScene();
    KQovMesh* quad = f.AddMesh(scene, "my wall:1", 4, {{0, 1, 3, 2}});
    KQovMaterial* red = f.manager.CreateMaterial("red");
    red->SetDefaultDiffuse(KColor(1, 0, 0));
    quad->InitMaterialIndices(KQovLayer::eByControlPoint);
    quad->AddMaterial(red, 0);  // one material for four control points: guarded
    auto* shape = new KQovShape(&f.manager);
    shape->InitControlPoints(4);
    for (int i = 0; i < 4; ++i) shape->GetControlPoints().SetAt(i, KVector4(i, 10, i / 2, 1));
    quad->AddShape(shape, "up");
    KQovNode* node = scene->GetRootNode()->GetChild(0);
    quad->GetShapeChannel(node->GetDefaultTakeNode(), 0)->SetValue(50.f);
    ASSERT_TRUE(f.Write(scene, out / "q.dxf"));
    EXPECT_EQ(quad->GetControlPoints().GetAt(0)[1], 0.0);  // the scene keeps its points
    EXPECT_EQ(quad->GetPolygonSize(0), 4);
    const std::string text = FileText(out / "q.dxf");
    EXPECT_NE(text.find("  2\nmy_wall_1\n"), std::string::npos) << text;
    EXPECT_NE(text.find(" 10\n0.000000\n 20\n-0.000000\n 30\n5.000000\n"), std::string::npos)
        << text;
    KQovScene* read = nullptr;
    ASSERT_TRUE(f.Read(out / "q.dxf", read, 0, 0));
    EXPECT_EQ(Describe(read->GetRootNode()), "Model::my_wall_1:4/1:1.000000,0.000000,0.000000 ");

    ASSERT_TRUE(f.Write(scene, out / "t.dxf", 1));  // forced triangulation: a working mesh
    EXPECT_EQ(quad->GetPolygonSize(0), 4);
    ASSERT_TRUE(f.Read(out / "t.dxf", read, 0, 0));  // the manager numbers a name met before
    EXPECT_EQ(Describe(read->GetRootNode()), "Model::my_wall_11:4/2:1.000000,0.000000,0.000000 ");
}

// A material tied to a mesh's model alone (no layer names it) gives its colour to a mesh whose
// layers name none; a second one, or one beside a layer's material, has no place, and the
// writer says so.
TEST(DxfScene, MaterialOfTheModelAloneColoursAMeshWithoutMaterials) {
    TempTestFolder out;
    ASSERT_TRUE(out.ok());
    Fixture f;
    KQovScene* scene = f.manager.CreateScene();
    f.AddMesh(scene, "Bare", 3, {{0, 1, 2}});
    KQovMesh* layered = f.AddMesh(scene, "Layered", 3, {{0, 1, 2}});
    KQovMaterial* blue = f.manager.CreateMaterial("Blue");
    blue->SetDefaultDiffuse(KColor(0, 0, 1));
    layered->AddMaterial(blue, 0);
    KQovNode* root = scene->GetRootNode();
    for (auto [node, name] :
         {std::make_pair(root->GetChild(0), "Red"), std::make_pair(root->GetChild(0), "Green"),
          std::make_pair(root->GetChild(1), "Grey")}) {
        KQovMaterial* material = f.manager.CreateMaterial(name);
        material->SetDefaultDiffuse(name[1] == 'e' ? KColor(1, 0, 0) : KColor(0, 1, 0));
        node->GetPropertyHandler()->ConnectSrc(material->GetPropertyHandler());
    }
    KQovExporter exporter(&f.manager);
    ASSERT_TRUE(exporter.Initialize((out / "loose.dxf").c_str()));
    exporter.SetFileFormat(16);
    KStreamOptionsDxf options;
    ASSERT_TRUE(exporter.Export(scene, &options));
    EXPECT_EQ(std::string(exporter.GetStatusText().Buffer()),
              "Material \"Green\" of \"Bare\" is not written: no layer of the model names it\n"
              "Material \"Grey\" of \"Layered\" is not written: no layer of the model names it\n");
    Fixture g;
    KQovScene* read = nullptr;
    ASSERT_TRUE(g.Read(out / "loose.dxf", read, 0, 0)) << g.status.Buffer();
    EXPECT_EQ(Describe(read->GetRootNode()),
              "Model::Bare:3/1:1.000000,0.000000,0.000000 "
              "Model::Layered:3/1:0.000000,0.000000,1.000000 ");
}

// The still formats write a keyed scene as it stands at the start of its current take (here one
// second in, where the keys differ from those at time 0), children moved with their parent;
// channels without keys keep the property values, and the scene is left as it was.
TEST(DxfScene, StillFormatsWriteTheStartOfTheCurrentTake) {
    TempTestFolder out;
    ASSERT_TRUE(out.ok());
    Fixture f;
    KQovScene* scene = f.manager.CreateScene();
    f.AddMesh(scene, "Mover", 3, {{0, 1, 2}});
    KQovNode* mover = scene->GetRootNode()->GetChild(0);
    mover->SetLocalTranslation(100, 7, 0);
    KQovNode* rider = f.manager.CreateNode("Rider");
    KQovMesh* riderMesh = f.manager.CreateMesh();
    riderMesh->InitControlPoints(1);
    riderMesh->GetControlPoints().SetAt(0, KVector4(1, 0, 0, 1));
    rider->SetNodeAttribute(riderMesh);
    rider->SetLocalTranslation(0, 3, 0);
    mover->AddChild(rider);
    for (KQovNode* node : {mover, rider}) node->AddTakeNode("Run");
    KQovTakeNode* take = mover->GetTakeNode(1);
    const KTime second = KTIME_ONE_SECOND;
    for (const auto& [curve, keys] :
         {std::pair(take->GetTranslationX(), std::vector<double>{5, 10, 20}),
          std::pair(take->GetRotationZ(), std::vector<double>{0, 90, 0})}) {
        for (size_t k = 0; k < keys.size(); ++k)
            curve->KeyAppendFast(KTime(second.Get() * int64_t(k)), float(keys[k]));
    }
    KQovTakeInfo info;
    info.name = "Run";
    info.localTimeSpan.Set(second, KTime(2 * second.Get()));
    scene->SetTakeInfo(info);
    scene->SetCurrentTake("Run");

    const KAffineMatrix moverAt(KVector4(10, 7, 0), KVector4(0, 0, 90), KVector4(1, 1, 1));
    const KAffineMatrix riderAt =
        KAffineMatrix(KVector4(0, 3, 0), KVector4(), KVector4(1, 1, 1)) * moverAt;
    std::vector<KVector4> expected;
    for (int i = 0; i < 3; ++i) expected.push_back(moverAt.MultT(KVector4(i, i % 2, i / 2, 1)));
    expected.push_back(riderAt.MultT(KVector4(1, 0, 0, 1)));

    ASSERT_TRUE(f.Write(scene, out / "still.dxf"));
    KQovExporter obj(&f.manager);
    obj.Initialize((out / "still.obj").c_str());
    obj.SetFileFormat(18);
    KStreamOptionsObj objOptions;
    ASSERT_TRUE(obj.Export(scene, &objOptions)) << obj.GetLastErrorString();
    // DXF vertex records (Z up) and OBJ v lines, both turned back into the scene's axes.
    std::vector<KVector4> dxf, objPoints;
    std::istringstream dxfText(FileText(out / "still.dxf"));
    std::string code, value;
    KVector4 p;
    while (std::getline(dxfText, code) && std::getline(dxfText, value)) {
        const int group = std::stoi(code);
        if (group == 10) p[0] = std::stod(value);
        if (group == 20) p[2] = -std::stod(value);
        if (group == 30) p[1] = std::stod(value);
        if (group == 70 && std::stoi(value) == 192) dxf.push_back(p);
    }
    std::istringstream objText(FileText(out / "still.obj"));
    std::string line;
    while (std::getline(objText, line)) {
        std::istringstream words(line);
        std::string kind;
        double x, y, z;
        if (words >> kind >> x >> y >> z && kind == "v") objPoints.emplace_back(x, y, z);
    }
    for (const auto& [kind, written] : {std::pair("DXF", dxf), std::pair("OBJ", objPoints)}) {
        SCOPED_TRACE(kind);
        ASSERT_EQ(written.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i)
            for (int c = 0; c < 3; ++c) EXPECT_NEAR(written[i][c], expected[i][c], 1e-6) << i;
    }
    KVector4 t;
    mover->GetLocalTranslation(t);
    EXPECT_EQ(t[0], 100.0);
    EXPECT_STREQ(mover->GetCurrentTakeNodeName(), "Run");
}

// A drawing of several meshes imported with an allocation refused, once or for good from
// there on: the import fails with its error or goes through, and every mesh is deleted once,
// by its one owner, as the manager goes (the records' meshes were deleted a second time).
TEST(DxfScene, AnImportOutOfMemoryLeavesEachMeshOneOwner) {
    const std::string path = std::string(QOV_TESTDATA_DIR) + "/dxf/lineTest.dxf";
    ASSERT_TRUE(std::ifstream(path).good()) << "the DXF test data is missing: " << path;
    for (const bool kept : {false, true}) {
        long n = 0;
        for (;; n += 1 + n / 64) {
            SCOPED_TRACE(std::string(kept ? "kept" : "once") + ", allocation " + std::to_string(n));
            LeaksNotChecked leaks;
            bool ok = false, done = false;
            {
                KQovObjectManager manager;
                KQovScene* scene = manager.CreateScene();
                KQovImporter importer(&manager);
                ASSERT_TRUE(importer.Initialize(path.c_str()));
                KStreamOptionsDxf options;
                options.SetOptionValue(6, 2);  // a mesh per entity
                gKeepRefusing = kept;
                gThrowIn = n;
                EXPECT_NO_THROW(ok = importer.Import(scene, &options));
                done = gThrowIn.exchange(-1) >= 0;
                gRefuseAll = false;
                gKeepRefusing = false;
                if (!ok) {
                    EXPECT_NE(std::string(importer.GetLastErrorString()), "");
                } else {
                    EXPECT_NE(Describe(scene->GetRootNode()), "");
                }
            }
            if (done) {
                EXPECT_TRUE(ok);
                break;
            }
        }
        EXPECT_GT(n, 20);
    }
}
