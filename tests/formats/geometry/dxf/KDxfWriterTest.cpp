#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "attributes/KQovLayer.h"
#include "attributes/KQovMaterial.h"
#include "attributes/KQovMesh.h"
#include "common/TempTestFolder.h"
#include "formats/geometry/dxf/KDxfDrawingReader.h"
#include "formats/geometry/dxf/KDxfWriter.h"
#include "foundation/KFileStream.h"

namespace {

using Polygons = std::vector<std::vector<int>>;

void Build(KQovMesh& mesh, int points, const Polygons& polygons) {
    mesh.InitControlPoints(points);
    for (int i = 0; i < points; ++i)
        mesh.GetControlPoints().SetAt(i, KVector4(i & 1, (i >> 1) & 1, (i >> 2) & 1, 1));
    for (const auto& p : polygons) {
        mesh.BeginPolygon();
        for (int v : p) mesh.AddPolygonVertex(v);
    }
}

const Polygons kCube = {{0, 1, 3, 2}, {4, 6, 7, 5}, {0, 4, 5, 1}, {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 5, 7, 3}};

// Groups of a written text as (code, value) pairs, values trimmed.
std::vector<std::pair<int, std::string>> GroupsOf(const std::string& text) {
    std::vector<std::pair<int, std::string>> out;
    size_t at = 0;
    while (at < text.size()) {
        const size_t a = text.find('\n', at), b = text.find('\n', a + 1);
        std::string value = text.substr(a + 1, b - a - 1);
        value.erase(0, value.find_first_not_of(' '));
        out.emplace_back(std::stoi(text.substr(at, a - at)), value);
        at = b + 1;
    }
    return out;
}

// Codes 71.. of the face records (70 = 128), in order.
Polygons FaceRecords(const std::string& text) {
    Polygons out;
    bool face = false;
    for (const auto& [code, value] : GroupsOf(text)) {
        if (code == 0) face = false;
        if (code == 70 && value == "128") {
            face = true;
            out.emplace_back();
        } else if (face && code >= 71 && code <= 74) {
            out.back().push_back(std::stoi(value));
        }
    }
    return out;
}

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

}  // namespace

TEST(KDxfWriter, EmptySceneReadsBack) {
    KDxfWriter writer;
    const std::string text = writer.Compose({}, false);
    EXPECT_EQ(text.rfind("  0\nSECTION\n  2\nTABLES\n  0\nENDSEC\n"), text.find("  2\nTABLES") - 12);
    EXPECT_EQ(Count(text, "TABLE\n"), 0);
    EXPECT_EQ(text.substr(text.size() - 8), "  0\nEOF\n");
    for (int mode : {0, 1, 2}) {
        KDxfDrawingReader reader(mode, true);
        EXPECT_TRUE(reader.Read(text)) << mode;
        EXPECT_TRUE(reader.GetNodes().empty());
    }
}

// Face records, colours and point axes of single meshes.
TEST(KDxfWriter, Meshes) {
    struct Case {
        const char* name;
        int points;
        Polygons polygons;
        Polygons faces;     // 71.. of each face record
        double diffuse[3];  // diffuse[0] < 0: no material
        bool visible;
        int layerColour;
    } cases[] = {
        {"cube", 8, kCube,
         {{1, 2, 4, 3}, {5, 7, 8, 6}, {1, 5, 6, 2}, {3, 4, 8, 7}, {1, 3, 7, 5}, {2, 6, 8, 4}},
         {-1, 0, 0}, true, 0},
        {"pentagon as a fan", 5, {{0, 1, 2, 3, 4}}, {{1, 2, 3}, {1, 3, 4}, {1, 4, 5}}, {1, 0.5, 0}, true, 30},
        {"hidden grey", 3, {{0, 1, 2}}, {{1, 2, 3}}, {0.5, 0.5, 0.5}, false, -251},
        {"hidden without material", 3, {{0, 1, 2}}, {{1, 2, 3}}, {-1, 0, 0}, false, -7},
        {"segment and point", 3, {{0, 1}, {2}}, {{1, 2}, {3}}, {0.9, 0.9, 0.9}, true, 254},
    };
    for (const Case& c : cases) {
        KQovMaterial material(nullptr, "Material::M");
        material.SetDefaultDiffuse(KColor(c.diffuse[0], c.diffuse[1], c.diffuse[2]));
        KQovMesh mesh(nullptr);
        Build(mesh, c.points, c.polygons);
        if (c.diffuse[0] >= 0) mesh.AddMaterial(&material, 0);
        KDxfWriter writer;
        const std::string text = writer.Compose({{"Box 1", &mesh, c.visible, {}}}, true);
        EXPECT_EQ(FaceRecords(text), c.faces) << c.name;
        EXPECT_EQ(Count(text, "\n 70\n   192\n"), c.points) << c.name;
        const auto groups = GroupsOf(text);
        int layerColour = 0, faces = -1;
        bool polyline = false;
        for (size_t i = 0; i + 1 < groups.size(); ++i) {
            if (groups[i] == std::make_pair(2, std::string("Box_1")) && groups[i + 2].first == 62)
                layerColour = std::stoi(groups[i + 2].second);
            polyline = polyline || groups[i].second == "POLYLINE";
            if (polyline && groups[i].first == 72 && faces < 0) faces = std::stoi(groups[i].second);
        }
        EXPECT_EQ(layerColour, c.layerColour) << c.name;
        EXPECT_EQ(faces, int(c.faces.size())) << c.name;
    }
}

TEST(KDxfWriter, PointsInWorldSpaceAndLayerNames) {
    KQovMesh mesh(nullptr);
    mesh.InitControlPoints(1);
    mesh.GetControlPoints().SetAt(0, KVector4(1, 2, 3, 1));
    KAffineMatrix moved;
    moved.SetT(KVector4(10, 0, 0));
    KDxfWriter writer;
    const std::string text =
        writer.Compose({{"a:b", &mesh, true, {}}, {"a b", &mesh, true, moved}, {"", &mesh, true, {}}}, true);
    EXPECT_NE(text.find(" 10\n1.000000\n 20\n-3.000000\n 30\n2.000000\n"), std::string::npos);
    EXPECT_NE(text.find(" 10\n11.000000\n"), std::string::npos);
    EXPECT_NE(text.find("  2\na_b\n"), std::string::npos);
    EXPECT_NE(text.find("  2\na_b1\n"), std::string::npos);
    EXPECT_NE(text.find("  2\n_\n"), std::string::npos);
}

// Material colours by polygon and by control point; indices out of range write no colour.
TEST(KDxfWriter, MaterialMappings) {
    KQovMaterial red(nullptr, "Material::R"), blue(nullptr, "Material::B");
    red.SetDefaultDiffuse(KColor(1, 0, 0));
    blue.SetDefaultDiffuse(KColor(0, 0, 1));
    struct Case {
        int mode, reds, blues;
    } cases[] = {{KQovLayer::eByPolygon, 1, 3}, {KQovLayer::eByControlPoint, 1, 6}};
    for (const auto& [mode, reds, blues] : cases) {
        KQovMesh mesh(nullptr);
        Build(mesh, 3, {{0, 1, 2}, {2, 1, 0}, {0, 2, 1}});
        mesh.AddMaterial(&red, 0);
        mesh.AddMaterial(&blue, 0);
        mesh.InitMaterialIndices(mode);
        KArrayInt& indices = *mesh.GetMaterialIndices();
        indices.SetCount(3);
        indices.SetAt(0, 0);
        indices.SetAt(1, 7);
        indices.SetAt(2, 1);
        KDxfWriter writer;
        const std::string text = writer.Compose({{"M", &mesh, true, {}}}, true);
        // The POLYLINE and the layer take the last material, 5; then 1 and 5 per item (by
        // control point, the faces take the POLYLINE's).
        EXPECT_EQ(Count(text, "\n 62\n   1\n"), reds) << mode;
        EXPECT_EQ(Count(text, "\n 62\n   5\n"), blues) << mode;
    }
}

TEST(KDxfWriter, WriteErrorsAreReported) {
    KQovMesh mesh(nullptr);
    Build(mesh, 8, kCube);
    KFileStream full;
    if (!full.Open("/dev/full", "wb")) GTEST_SKIP() << "/dev/full is not available";
    KDxfWriter writer;
    EXPECT_FALSE(writer.Write(full, {{"Cube", &mesh, true, {}}}, true));
}

// Written, read back, written again: the same text; read back: the same geometry and colours.
TEST(KDxfWriter, RoundTrip) {
    KQovMaterial material(nullptr, "Material::M");
    material.SetDefaultDiffuse(KColor(1, 0.5, 0));
    KQovMesh cube(nullptr), pentagon(nullptr);
    Build(cube, 8, kCube);
    cube.AddMaterial(&material, 0);
    Build(pentagon, 5, {{0, 1, 2, 3, 4}});
    KDxfWriter writer;
    const std::string first =
        writer.Compose({{"Cube", &cube, true, {}}, {"Roof Top", &pentagon, false, {}}}, true);
    KDxfDrawingReader reader(KDxfDrawingReader::eByLayer, true);
    ASSERT_TRUE(reader.Read(first));
    ASSERT_EQ(reader.GetNodes().size(), 2u);
    const KDxfNodeRecord& c = *reader.GetNodes()[0];
    EXPECT_EQ(c.name, "Cube");
    EXPECT_TRUE(c.visible);
    EXPECT_FALSE(reader.GetNodes()[1]->visible);
    // A name with a blank comes back as the layer written for it, whole.
    EXPECT_EQ(reader.GetNodes()[1]->name, "Roof_Top");
    ASSERT_EQ(c.mesh->GetPolygonCount(), 6);
    for (int p = 0; p < 6; ++p)
        for (int k = 0; k < 4; ++k) EXPECT_EQ(c.mesh->GetPolygonVertex(p, k), kCube[p][k]);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(c.mesh->GetControlPoints().GetAt(i), cube.GetControlPoints().GetAt(i));
    ASSERT_EQ(c.mesh->GetMaterialCount(0), 1);
    EXPECT_FALSE(c.mesh->GetMaterial(0, 0)->GetDefaultDiffuse() != KColor(1, 0.5, 0));

    std::vector<KDxfMeshEntry> again;
    for (const auto& n : reader.GetNodes()) again.push_back({n->name, n->mesh.get(), n->visible, {}});
    KDxfWriter second;
    EXPECT_EQ(second.Compose(again, true), first);
}

// An independent reader audits what the writer writes and counts the same polyfaces.
TEST(KDxfWriter, IndependentAudit) {
    const char* python = "/usr/bin/python3";
    ASSERT_EQ(std::system((std::string(python) + " -c 'import ezdxf' 2>/dev/null").c_str()), 0)
        << "python3 with the ezdxf module is needed (Debian package python3-ezdxf; scripts/install-deps.sh)";
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    KQovMaterial material(nullptr, "Material::M");
    material.SetDefaultDiffuse(KColor(0.2, 0.4, 0.9));
    KQovMesh cube(nullptr), fan(nullptr), empty(nullptr);
    Build(cube, 8, kCube);
    cube.AddMaterial(&material, 0);
    Build(fan, 6, {{0, 1, 3, 2, 4, 5}});
    struct Case {
        const char* file;
        std::vector<KDxfMeshEntry> meshes;
        int polyfaces, faces;
    } cases[] = {
        {"empty.dxf", {}, 0, 0},
        {"meshes.dxf",
         {{"Cube", &cube, true, {}}, {"odd name: <1>", &fan, false, {}}, {"Empty", &empty, true, {}}}, 3, 10},
    };
    const std::string script = folder / "audit.py";
    std::ofstream(script) << "import sys, ezdxf\n"
                             "doc = ezdxf.readfile(sys.argv[1])\n"
                             "auditor = doc.audit()\n"
                             "meshes = doc.modelspace().query('POLYLINE')\n"
                             "faces = sum(len(list(m.faces())) for m in meshes if m.is_poly_face_mesh)\n"
                             "print(len(auditor.errors), len(meshes), faces)\n";
    for (const Case& c : cases) {
        KFileStream out;
        ASSERT_TRUE(out.Open((folder / c.file).c_str(), "wb"));
        KDxfWriter writer;
        ASSERT_TRUE(writer.Write(out, c.meshes, !c.meshes.empty()));
        out.Close();
        const std::string result = folder / "result.txt";
        ASSERT_EQ(std::system((std::string(python) + " " + script + " " + (folder / c.file) + " > " + result).c_str()), 0)
            << c.file;
        std::ifstream in(result);
        int errors = -1, polyfaces = -1, faces = -1;
        in >> errors >> polyfaces >> faces;
        EXPECT_EQ(errors, 0) << c.file;
        EXPECT_EQ(polyfaces, c.polyfaces) << c.file;
        EXPECT_EQ(faces, c.faces) << c.file;
    }
}
