#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "common/TempTestFolder.h"
#include "formats/geometry/obj/KObjParser.h"

namespace {

struct Counts {
    size_t vertices, uvs, normals, faces, groups, materials;
};

Counts Count(const KObjParser& p) {
    Counts c{p.GetVertices().size(), p.GetTextureVertices().size(), p.GetNormals().size(), 0,
             p.GetGroups().size(),   p.GetMaterials().size()};
    for (const auto& g : p.GetGroups()) c.faces += g.second.faces.size();
    return c;
}

void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

TEST(ObjParser, RealFilesReadWithTheirCounts) {
    const std::string folder = std::string(QOV_TESTDATA_DIR) + "/obj/";
    ASSERT_TRUE(std::ifstream(folder + "box.obj").good())
        << "the OBJ test data folder is missing: " << folder;
    struct Row {
        const char* file;
        Counts expected;
    };
    const Row rows[] = {
        {"box.obj", {8, 0, 0, 6, 1, 1}},
        {"box_without_lineending.obj", {8, 0, 0, 6, 1, 1}},
        {"cube_usemtl.obj", {8, 0, 6, 12, 1, 3}},
        {"cube_with_vertexcolors.obj", {8, 0, 6, 12, 1, 0}},
        {"empty_mat.obj", {130, 0, 98, 256, 1, 1}},  // an empty usemtl: faces get "default"
        {"number_formats.obj", {15, 0, 0, 1, 1, 0}},
        {"point_cloud.obj", {3, 0, 3, 0, 0, 0}},
        {"regr01.obj", {2108, 688, 0, 2710, 55, 12}},
        {"spider.obj", {762, 302, 747, 1368, 19, 4}},
        {"testmixed.obj", {8, 0, 0, 6, 1, 1}},
    };
    // Not 8-bit text: refused as what it is, rather than read as a file of nothing.
    KObjParser wide;
    EXPECT_EQ(wide.ReadFile((folder + "box_UTF16BE.obj").c_str()), KObjParser::eWideText);
    EXPECT_NE(wide.GetFailure().find("UTF-16"), std::string::npos) << wide.GetFailure();
    EXPECT_TRUE(wide.GetGroups().empty());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        KObjParser parser;
        ASSERT_EQ(parser.ReadFile((folder + row.file).c_str()), KObjParser::eRead)
            << parser.GetStatus();
        const Counts c = Count(parser);
        EXPECT_EQ(c.vertices, row.expected.vertices);
        EXPECT_EQ(c.uvs, row.expected.uvs);
        EXPECT_EQ(c.normals, row.expected.normals);
        EXPECT_EQ(c.faces, row.expected.faces);
        EXPECT_EQ(c.groups, row.expected.groups);
        EXPECT_EQ(c.materials, row.expected.materials);
        for (const auto& g : parser.GetGroups()) {
            KObjMeshData mesh;
            parser.BuildMesh(g.first, mesh);
            EXPECT_EQ(mesh.polygonSizes.size(), g.second.faces.size());
            EXPECT_EQ(mesh.normals.size(), mesh.points.size());
            EXPECT_TRUE(mesh.uvs.empty() || mesh.uvs.size() == mesh.points.size());
        }
    }
}

TEST(ObjParser, MalformedStatementsFailWithTheirLine) {
    struct Row {
        const char* text;
        KObjParser::EResult result;
        const char* status;  // expected within the status text
    };
    const Row rows[] = {
        {"v 1 2 3\nv 1 2\n", KObjParser::eCorrupted, "Line 2 is corrupted: v 1 2"},
        {"vn 0 1\n", KObjParser::eCorrupted, "Line 1"},
        {"vt\n", KObjParser::eCorrupted, "Line 1"},
        {"vp x\n", KObjParser::eCorrupted, "Line 1"},
        {"v nan 1 2\n", KObjParser::eCorrupted, "Line 1"},
        {"v inf 1 2\n", KObjParser::eCorrupted, "Line 1"},
        {"v 0x10 1 2\n", KObjParser::eCorrupted, "Line 1"},
        {"v 1 2 3\nsurf 0 1 0 1 1\n", KObjParser::eCorrupted, "Line 2"},  // no cstype
        {"curv 0 1 1 2\n", KObjParser::eRead, ""},                        // block never ends
        {"xyz 1\n", KObjParser::eRead, "Object not supported : xyz\n"},
        {"mtllib missing.mtl\nusemtl red\n", KObjParser::eRead,
         "Unable to load material library \"missing.mtl\": not found\nUnable to read material "
         "\"red\" in .mtl file\n"},
        {"mtllib\n", KObjParser::eRead, "Unable to load material library: the line names none\n"},
        {"f 1 2 3 \\", KObjParser::eRead, ""},  // continuation at the end
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        KObjParser parser;
        EXPECT_EQ(parser.ReadText(row.text, "/nonexistent/x.obj"), row.result);
        EXPECT_NE(parser.GetStatus().find(row.status), std::string::npos) << parser.GetStatus();
    }
}

TEST(ObjParser, FacesCornersAndGroups) {
    KObjParser parser;
    const char* text =
        "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 2 2 \\\n 2\r\nvn 0 0 1\nvt 0.5 0.25\n"
        "g b\nf 1 2 3 99\nf 1 0 2 3\nf 1 2\nf -3 -2 -1\n"
        "g A x\nf 1//1 2//1 3//1\nG B\ng B\nf 1/1 2/1 3/1 4\ng a_X\nf 1 2 3";  // no final break
    ASSERT_EQ(parser.ReadText(text, "x.obj"), KObjParser::eRead) << parser.GetStatus();
    ASSERT_EQ(parser.GetVertices().size(), 5u);
    EXPECT_EQ(parser.GetVertices()[4][2], 2.0);  // joined across the backslash
    std::vector<std::string> names;
    for (const auto& g : parser.GetGroups()) names.push_back(g.first);
    // Names alike but for case are groups of their own, ordered as without case.
    EXPECT_EQ(names, (std::vector<std::string>{"A_x", "a_X", "B", "b"}));
    const KObjGroup& b = parser.GetGroups().at("b");
    ASSERT_EQ(b.faces.size(), 2u);  // out-of-range corner dropped, 0 and 2-corner faces dropped
    EXPECT_EQ(b.faces[0].cornerCount, 3);
    EXPECT_EQ(b.corners[b.faces[1].firstCorner].v, 2);  // -3 of five vertices
    ASSERT_EQ(parser.GetGroups().at("B").faces.size(), 1u);
    EXPECT_EQ(parser.GetGroups().at("B").faces[0].cornerCount, 4);
    EXPECT_EQ(parser.GetGroups().at("a_X").faces.size(), 1u);
    const KObjGroup& a = parser.GetGroups().at("A_x");
    ASSERT_EQ(a.faces.size(), 1u);
    EXPECT_EQ(a.corners[0].vn, 0);
    EXPECT_EQ(a.corners[0].vt, -1);
    EXPECT_TRUE(a.faces[0].normalsPresent);

    KObjMeshData mesh;
    parser.BuildMesh("B", mesh);
    ASSERT_EQ(mesh.uvs.size(), mesh.points.size());  // a corner without vt gets (0, 0)
    EXPECT_EQ(mesh.polygonSizes, (std::vector<int>{4}));
    parser.BuildMesh("b", mesh);
    EXPECT_EQ(mesh.polygonSizes, (std::vector<int>{3, 3}));
    EXPECT_EQ(mesh.points.size(), 6u);  // flat normals differ per face: no point is shared
}

TEST(ObjParser, NormalsCompletedBySmoothingGroup) {
    KObjParser parser;
    const char* text =
        "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 0 1\n"
        "s off\nf 1 2 3\ns 1\nf 1 2 4\nf 1 4 3\n";
    ASSERT_EQ(parser.ReadText(text, "x.obj"), KObjParser::eRead);
    KObjMeshData mesh;
    parser.BuildMesh("default", mesh);
    ASSERT_EQ(mesh.polygonSizes.size(), 3u);
    // The flat face: its normal is +z at every corner.
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(mesh.normals[mesh.polygonVertices[i]][2], 1.0, 1e-12);
    // Vertex 1 in smoothing group 1 averages -y and -x: both parts 1/sqrt(2).
    const KVector4& n = mesh.normals[mesh.polygonVertices[3]];
    EXPECT_NEAR(n[0], -0.5 * std::sqrt(2.0), 1e-12);
    EXPECT_NEAR(n[1], -0.5 * std::sqrt(2.0), 1e-12);
}

TEST(ObjParser, MaterialsAndSurfaces) {
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    Write(folder / "m.mtl",
          "newmtl Red\r\nKd 2 0.5 -1\r\nNs 50\r\nTr 0.25\r\nmap_Kd  my tex.png \r\n"
          "newmtl dull\nillum 1\nNs 90\nd 0.5\n");
    const std::string surface =
        "cstype rat bspline\ndeg 3 3\nsurf 0 1 0 1 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16\n"
        "parm u 0 0 0 0 1 1 1 1\nparm v 0 0 0 0 1 1 1 1\nend\n";
    std::string text =
        "mtllib m.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nf 1 2 3\nusemtl Red\nusemtl red\n"
        "vt 0 0\nf 1/1 2/1 3/1\nusemtl dull\n";
    for (int i = 0; i < 13; ++i) text += "v 0 0 0 2\n";
    std::string bezier = surface;
    bezier.replace(bezier.find("bspline"), 7, "bezier");
    text += surface + bezier + "cstype rat bspline\n" +
            "surf 0 1 0 1 1 2 3\nparm u 0 0 0 0 1 1 1 1\nparm v 0 0 0 0 1 1 1 1\nend\n";
    Write(folder / "s.obj", text);
    KObjParser parser;
    ASSERT_EQ(parser.ReadFile((folder / "s.obj").c_str()), KObjParser::eRead) << parser.GetStatus();
    const auto& m = parser.GetMaterials();
    ASSERT_EQ(m.size(), 3u);  // Red, dull, and "default" for the face before any usemtl
    EXPECT_EQ(m[0].name, "Red");
    EXPECT_TRUE(m[0].defined);
    EXPECT_EQ(m[0].diffuse[0], 1.0);
    EXPECT_EQ(m[0].diffuse[2], 0.0);
    EXPECT_DOUBLE_EQ(m[0].shininess, 0.05);  // Ns runs to 1000
    EXPECT_EQ(m[0].opacity, 0.75);           // Tr is 1 - d
    // Not there, the image is named beside its library, never in the current folder.
    EXPECT_EQ(m[0].diffuseMap, folder / "my tex.png");
    // illum 1: no highlight, the exponent kept.
    EXPECT_EQ(m[1].specular[0], 0.0);
    EXPECT_DOUBLE_EQ(m[1].shininess, 0.09);
    EXPECT_EQ(m[1].opacity, 0.5);
    EXPECT_EQ(m[2].name, "default");
    EXPECT_TRUE(parser.HasTexturedMaterial());
    const KObjGroup& g = parser.GetGroups().at("default");
    EXPECT_EQ(g.faces[0].material, 2);
    EXPECT_EQ(g.faces[1].material, 0);
    EXPECT_TRUE(g.faces[1].textured);
    // The bezier block is dropped silently, the 3-point one with a message.
    ASSERT_EQ(parser.GetSurfaces().size(), 1u);
    EXPECT_EQ(parser.GetSurfaces()[0].points.size(), 16u);
    EXPECT_EQ(parser.GetSurfaces()[0].CountU(), 4);
    EXPECT_EQ(parser.GetSurfaces()[0].material, 1);
    EXPECT_NE(parser.GetStatus().find("do not fit its knots"), std::string::npos);
}

TEST(ObjParser, CornerFormsReadAlike) {
    // Three of each list; every face repeats one corner word three times.
    const struct {
        const char* word;
        bool kept;
        int v, vt, vn;
    } kCorners[] = {
        {"2", true, 1, -1, -1},           {"2/3", true, 1, 2, -1},
        {"2/3/1", true, 1, 2, 0},         {"2//1", true, 1, -1, 0},
        {"2/", true, 1, -1, -1},          {"2/3/", true, 1, 2, -1},
        {"2//", true, 1, -1, -1},         {"-1/-1/-1", true, 2, 2, 2},
        {"+2/3/1", true, 1, 2, 0},        {"02/003/01", true, 1, 2, 0},
        {"2/3/1/3", true, 1, 2, 0},       {"000000003/1/1", true, 2, 0, 0},
        {"4/1/1", false, 0, 0, 0},        {"1234567890/1/1", false, 0, 0, 0},
        {"99999999999/1/1", false, 0, 0, 0}, {"2a/3", false, 0, 0, 0},
        {"0/1/1", false, 0, 0, 0},        {"2/3/1x", true, 1, 2, -1},
    };
    for (const auto& c : kCorners) {
        SCOPED_TRACE(c.word);
        KObjParser parser;
        const std::string text = "v 0 0 0\nv 1 0 0\nv 1 1 0\nvt 0 0\nvt 1 0\nvt 1 1\n"
                                 "vn 0 0 1\nvn 0 1 0\nvn 1 0 0\nf " +
                                 std::string(c.word) + " " + c.word + " " + c.word + "\n";
        ASSERT_EQ(parser.ReadText(text, "x.obj"), KObjParser::eRead) << parser.GetStatus();
        const auto group = parser.GetGroups().find("default");
        const size_t faces = group == parser.GetGroups().end() ? 0 : group->second.faces.size();
        ASSERT_EQ(faces, c.kept ? 1u : 0u);
        if (!c.kept) continue;
        const KObjCorner& corner = group->second.corners[0];
        EXPECT_EQ(corner.v, c.v);
        EXPECT_EQ(corner.vt, c.vt);
        EXPECT_EQ(corner.vn, c.vn);
    }
}

namespace {

// A cone of `count` faces round one apex, without normals; `smoothing` adds an "s 1" line.
std::string Cone(int count, bool smoothing) {
    std::string text = "v 0 0 1\n";
    for (int i = 0; i < count; ++i) {
        const double a = 2.0 * M_PI * i / count;
        text += "v " + std::to_string(std::cos(a)) + " " + std::to_string(std::sin(a)) + " 0\n";
    }
    if (smoothing) text += "s 1\n";
    for (int i = 0; i < count; ++i)
        text += "f 1 " + std::to_string(2 + i) + " " + std::to_string(2 + (i + 1) % count) + "\n";
    return text;
}

}  // namespace

// A vertex that many faces share costs no walk along its control points: a cone of 100,000
// faces round one apex builds in time linear in its corners, with the points it had.
TEST(ObjParser, ConeApexSharedByManyFaces) {
    const int count = 100000;
    TempTestFolder folder;
    for (bool smoothing : {false, true}) {
        SCOPED_TRACE(smoothing);
        const std::string path = folder / "cone.obj";
        Write(path, Cone(count, smoothing));
        KObjParser parser;
        ASSERT_EQ(parser.ReadFile(path.c_str()), KObjParser::eRead) << parser.GetStatus();
        KObjMeshData mesh;
        parser.BuildMesh("default", mesh);
        ASSERT_EQ(mesh.polygonSizes.size(), size_t(count));
        if (!smoothing) {
            // A normal per face: every corner is a point of its own, in corner order.
            ASSERT_EQ(mesh.points.size(), size_t(3 * count));
            for (size_t i = 0; i < mesh.polygonVertices.size(); ++i)
                ASSERT_EQ(mesh.polygonVertices[i], int(i));
            continue;
        }
        // One normal per vertex: the apex's points straight up, the ring's outwards and up.
        ASSERT_EQ(mesh.points.size(), size_t(count + 1));
        EXPECT_EQ(mesh.polygonVertices[0], 0);
        EXPECT_NEAR(mesh.normals[0][2], 1.0, 1e-9);
        EXPECT_NEAR(std::hypot(mesh.normals[0][0], mesh.normals[0][1]), 0.0, 1e-6);
        for (int f = 0; f < count; ++f) {
            ASSERT_EQ(mesh.polygonVertices[size_t(3 * f)], 0);
            ASSERT_EQ(mesh.polygonVertices[size_t(3 * f + 2)], f + 2 == count + 1 ? 1 : f + 2);
        }
    }
}

// A group and a material per face: each costs what it holds. 50,000 of each read and built in
// linear time (one index of the library, one table per group sized by its corners).
TEST(ObjParser, AGroupAndAMaterialPerFace) {
    const int count = 50000;
    TempTestFolder folder;
    std::string library, text = "mtllib many.mtl\n";
    for (int g = 0; g < count; ++g) {
        const std::string n = std::to_string(g);
        library += "newmtl m" + n + "\nKd 0." + std::to_string(g % 10) + " 0 0\n";
        text += "v " + n + " 0 0\nv " + n + " 1 0\nv " + n + " 0 1\n";
    }
    for (int g = 0; g < count; ++g)
        text += "g g" + std::to_string(g) + "\nusemtl m" + std::to_string(g) + "\nf -3 -2 -1\n";
    // Relative indices above point at the last three vertices: every face the same.
    Write(folder / "many.mtl", library);
    Write(folder / "many.obj", text);
    KObjParser parser;
    ASSERT_EQ(parser.ReadFile((folder / "many.obj").c_str()), KObjParser::eRead)
        << parser.GetStatus().substr(0, 200);
    ASSERT_EQ(parser.GetMaterials().size(), size_t(count));
    for (int m : {0, 7, count - 1}) {
        const KObjMaterial& material = parser.GetMaterials()[size_t(m)];
        EXPECT_TRUE(material.defined) << m;
        EXPECT_DOUBLE_EQ(material.diffuse[0], (m % 10) / 10.0) << m;
    }
    ASSERT_EQ(parser.GetGroups().size(), size_t(count));
    for (const auto& g : parser.GetGroups()) {
        KObjMeshData mesh;
        parser.BuildMesh(g.first, mesh);
        ASSERT_EQ(mesh.points.size(), 3u);
        ASSERT_EQ(mesh.polygonMaterials.size(), 1u);
        parser.ReleaseGroup(g.first);
    }
}

// Two libraries defining one name: the first library's definition counts, as does the first
// of two in one library; a name no library defines is reported.
TEST(ObjParser, FirstDefinitionOfAMaterialCounts) {
    TempTestFolder folder;
    Write(folder / "a.mtl", "newmtl red\nKd 1 0 0\nnewmtl red\nKd 0 0 1\n");
    Write(folder / "b.mtl", "newmtl red\nKd 0 1 0\nnewmtl green\nKd 0 1 0\n");
    Write(folder / "m.obj",
          "mtllib a.mtl b.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl red\nf 1 2 3\nusemtl green\n"
          "f 1 2 3\nusemtl blue\nf 1 2 3\n");
    KObjParser parser;
    ASSERT_EQ(parser.ReadFile((folder / "m.obj").c_str()), KObjParser::eRead);
    ASSERT_EQ(parser.GetMaterials().size(), 3u);
    EXPECT_DOUBLE_EQ(parser.GetMaterials()[0].diffuse[0], 1.0);
    EXPECT_DOUBLE_EQ(parser.GetMaterials()[0].diffuse[2], 0.0);
    EXPECT_DOUBLE_EQ(parser.GetMaterials()[1].diffuse[1], 1.0);
    EXPECT_FALSE(parser.GetMaterials()[2].defined);
    EXPECT_NE(parser.GetStatus().find("blue"), std::string::npos);
}

// A library whose name holds a blank is read whole unless every word names a library of its
// own; a file named like its first word does not split it.
TEST(ObjParser, ALibraryNameWithBlanksIsReadWhole) {
    struct Row {
        std::vector<const char*> files;  // beside the model, besides "my file.mtl"
        double red;                      // the red material's red, from the library read
    };
    for (const Row& row : {Row{{}, 1.0}, Row{{"my"}, 1.0}, Row{{"my", "file.mtl"}, 0.5}}) {
        TempTestFolder folder;
        Write(folder / "my file.mtl", "newmtl red\nKd 1 0 0\n");
        for (const char* name : row.files)
            Write(folder / name, std::string(name) == "my" ? "newmtl red\nKd 0.5 0 0\n" : "");
        Write(folder / "m.obj", "mtllib my file.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl red\n"
                                "f 1 2 3\n");
        KObjParser parser;
        ASSERT_EQ(parser.ReadFile((folder / "m.obj").c_str()), KObjParser::eRead);
        ASSERT_EQ(parser.GetMaterials().size(), 1u);
        EXPECT_DOUBLE_EQ(parser.GetMaterials()[0].diffuse[0], row.red) << row.files.size();
        EXPECT_EQ(parser.GetStatus(), "");
    }
    // One the system fails to look at (a socket of its name) fails the read, as a library it
    // fails to read does; "my" is not read instead.
    TempTestFolder folder;
    Write(folder / "my", "newmtl red\nKd 0.5 0 0\n");
    const std::string socketPath = folder / "my file.mtl";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size());
    const int socketFile = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(socketFile, 0);
    EXPECT_EQ(bind(socketFile, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(socketFile);
    KObjParser parser;
    EXPECT_EQ(parser.ReadText("mtllib my file.mtl\n", (folder / "m.obj").c_str()),
              KObjParser::eLibraryNotRead);
}

namespace {

// Control points numbered independently: faces stably ordered by smoothing group (as unsigned
// numbers), each new (vertex, normal, texture vertex) triple the next point.
struct Reference {
    std::vector<int> polygonVertices;
    std::vector<KObjCorner> points;
};

Reference Independently(const KObjGroup& group) {
    std::vector<size_t> order(group.faces.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return uint32_t(group.faces[a].smoothing) < uint32_t(group.faces[b].smoothing);
    });
    Reference out;
    std::map<std::tuple<int, int, int>, int> numbers;
    for (size_t f : order) {
        const KObjFace& face = group.faces[f];
        for (int i = 0; i < face.cornerCount; ++i) {
            const KObjCorner& c = group.corners[size_t(face.firstCorner + i)];
            auto found = numbers.emplace(std::make_tuple(c.v, c.vn, c.vt), int(out.points.size()));
            if (found.second) out.points.push_back(c);
            out.polygonVertices.push_back(found.first->second);
        }
    }
    return out;
}

}  // namespace

// Points shared or not as an independent numbering finds them: a vertex that gets many
// (normal, texture vertex) pairs, faces out of smoothing order, two groups sharing vertices
// built one after the other; the points, normals and UVs are the lists' values.
TEST(ObjParser, ControlPointsMatchAnIndependentNumbering) {
    const struct {
        const char* what;
        int faces;
        int hotPairs;  // distinct pairs the first vertex gets (more than a short chain holds)
        bool shuffledSmoothing;
    } kCases[] = {
        {"few pairs per vertex", 400, 1, false},
        {"a vertex with many pairs", 400, 40, false},
        {"smoothing groups out of order", 400, 12, true},
        {"one face", 1, 1, false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        std::mt19937 random(7);
        std::string text;
        for (int i = 0; i < 30; ++i)
            text += "v " + std::to_string(i) + " " + std::to_string(i % 7) + " 1\n";
        for (int i = 0; i < 50; ++i) {
            text += "vn 0 " + std::to_string(i) + " 1\n";
            text += "vt " + std::to_string(i) + " 0.5\n";
        }
        for (int f = 0; f < c.faces; ++f) {
            text += f % 2 ? "g first\n" : "g second\n";
            if (c.shuffledSmoothing) text += "s " + std::to_string(random() % 4) + "\n";
            text += "f";
            for (int k = 0; k < 3 + int(random() % 3); ++k) {
                // The first corner of every face is vertex 1 with one of hotPairs pairs.
                const int v = k == 0 ? 1 : 2 + int(random() % 28);
                const int pair = k == 0 ? int(random() % unsigned(c.hotPairs)) : int(random() % 3);
                text += " " + std::to_string(v) + "/" + std::to_string(1 + pair % 50) + "/" +
                        std::to_string(1 + (pair / 2 + v) % 50);
            }
            text += "\n";
        }
        KObjParser parser;
        ASSERT_EQ(parser.ReadText(text, "x.obj"), KObjParser::eRead) << parser.GetStatus();
        for (const auto& g : parser.GetGroups()) {
            SCOPED_TRACE(g.first);
            const Reference expected = Independently(g.second);
            KObjMeshData polygons, mesh;
            parser.BuildPolygons(g.first, polygons);
            parser.BuildMesh(g.first, mesh);
            EXPECT_EQ(polygons.polygonVertices, expected.polygonVertices);
            EXPECT_EQ(mesh.polygonVertices, expected.polygonVertices);
            ASSERT_EQ(polygons.pointCorners.size(), expected.points.size());
            ASSERT_EQ(mesh.points.size(), expected.points.size());
            ASSERT_EQ(mesh.uvs.size(), expected.points.size());
            EXPECT_TRUE(polygons.hasUVs);
            for (size_t p = 0; p < expected.points.size(); ++p) {
                const KObjCorner& k = expected.points[p];
                EXPECT_EQ(polygons.pointCorners[p].v, k.v);
                EXPECT_EQ(polygons.pointCorners[p].vn, k.vn);
                EXPECT_EQ(polygons.pointCorners[p].vt, k.vt);
                EXPECT_EQ(mesh.points[p][0], parser.GetVertices()[size_t(k.v)][0]);
                EXPECT_EQ(mesh.normals[p][1], parser.GetNormals()[size_t(k.vn)][1]);
                EXPECT_EQ(mesh.uvs[p].mData[0], parser.GetTextureVertices()[size_t(k.vt)].mData[0]);
            }
        }
    }
}

// A comment behind a face's corners leaves the face; a face without normals faces as its
// whole outline winds, also where its first corners turn inward or lie on a line.
TEST(ObjParser, FaceCommentsAndTheNormalOfTheWholeOutline) {
    struct Row {
        const char* face;
        double z;  // the normal's z at the first corner
    };
    const Row rows[] = {
        {"f 1 2 3 # tri", 1.0},
        {"f 1 2 3 4#quad", 1.0},
        {"f 1 2 3# tri", 1.0},
        // An L, wound counter-clockwise and clockwise, from a convex corner and with its
        // second corner turning inward.
        {"f 5 6 7 8 9 10", 1.0},
        {"f 10 9 8 7 6 5", -1.0},
        {"f 10 5 6 7 8 9", 1.0},
        {"f 6 5 10 9 8 7", -1.0},
        // The first three corners on a line.
        {"f 1 11 2 3 4", 1.0},
    };
    const std::string vertices =
        "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
        "v 1 1 0\nv 2 1 0\nv 2 2 0\nv 0 2 0\nv 0 0 0\nv 1 0 0\n"
        "v 0.5 0 0\n";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.face);
        KObjParser parser;
        ASSERT_EQ(parser.ReadText(vertices + row.face + "\n", "x.obj"), KObjParser::eRead);
        KObjMeshData mesh;
        parser.BuildMesh("default", mesh);
        ASSERT_EQ(mesh.polygonSizes.size(), 1u);
        EXPECT_NEAR(mesh.normals[mesh.polygonVertices[0]][2], row.z, 1e-12);
    }
}

// MTL statements with the values the format gives them; what the library holds no place for
// is named once, with a count.
TEST(ObjParser, MaterialValuesAsTheFormatMeansThem) {
    struct Row {
        const char* definition;
        double diffuse0, specular0, emissive0, shininess, opacity;
    };
    const Row rows[] = {
        {"Kd 0.3\nKs 0.5 0.5 0.5\n", 0.3, 0.5, 0, 0, 1},  // one value: grey
        {"d 1\nTr 0\n", 0, 0, 0, 0, 1},
        {"Tr 0.2\n", 0, 0, 0, 0, 0.8},
        {"Tr 0.9\nd 0.5\n", 0, 0, 0, 0, 0.5},  // d holds where both are given
        {"Ns 150\n", 0, 0, 0, 0.15, 1},
        {"Ns 1000\n", 0, 0, 0, 1, 1},
        {"Ns 400\nKs 1 1 1\nillum 1\n", 0, 0, 0, 0.4, 1},  // no highlight
        {"Ks 1 1 1\nillum 0\n", 0, 0, 0, 0, 1},
        {"Ke 0.25 0.5 1\nKd 0.5 0.5\n", 0, 0, 0.25, 0, 1},  // two values are no colour
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.definition);
        KObjParser parser;
        TempTestFolder folder;
        ASSERT_TRUE(folder.ok());
        Write(folder / "m.mtl", std::string("newmtl m\n") + row.definition);
        Write(folder / "a.obj", "mtllib m.mtl\nusemtl m\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
        ASSERT_EQ(parser.ReadFile((folder / "a.obj").c_str()), KObjParser::eRead);
        const KObjMaterial& m = parser.GetMaterials().at(0);
        EXPECT_DOUBLE_EQ(m.diffuse[0], row.diffuse0);
        EXPECT_DOUBLE_EQ(m.diffuse[2], row.diffuse0);
        EXPECT_DOUBLE_EQ(m.specular[1], row.specular0);
        EXPECT_DOUBLE_EQ(m.emissive[0], row.emissive0);
        EXPECT_DOUBLE_EQ(m.shininess, row.shininess);
        EXPECT_DOUBLE_EQ(m.opacity, row.opacity);
    }
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    Write(
        folder / "m.mtl",
        "newmtl a\nNi 1.0\nTf 1 1 1\nmap_Ks s.png\nNi 1.45\nmap_Kd -bm 1 -cc on -imfchan r k.png\n"
        "newmtl b\nNi 1.5\ndecal d.png\nrefl -type sphere r.png\n"
        "newmtl \nKd 0 1 0\nNs high\n");
    Write(folder / "a.obj",
          "mtllib m.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl a\nf 1 2 3\nusemtl b\nf 1 2 3\n"
          "usemtl\nf 1 2 3\n");
    KObjParser parser;
    ASSERT_EQ(parser.ReadFile((folder / "a.obj").c_str()), KObjParser::eRead);
    EXPECT_NE(parser.GetStatus().find(
                  "Material statements not read: map_Ks (1), Ni (2), "
                  "map_Kd -cc (1), map_Kd -imfchan (1), decal (1), refl (1), Ns (1)\n"),
              std::string::npos)
        << parser.GetStatus();
    // A material of no name is one of its own.
    ASSERT_EQ(parser.GetMaterials().size(), 3u);
    EXPECT_EQ(parser.GetMaterials()[2].name, "");
    EXPECT_EQ(parser.GetMaterials()[2].diffuse[1], 1.0);
    EXPECT_EQ(parser.GetGroups().at("default").faces[2].material, 2);
}

// The options of a map statement are read past; the rest of the line names the file.
TEST(ObjParser, MapOptionsBeforeTheFile) {
    struct Row {
        const char* statement;
        const char* file;  // beside the library; empty: no map
        double offset[2], scale[2];
        bool clamp;
        const char* told;  // in the status, or empty for nothing
    };
    const Row rows[] = {
        {"map_Kd -s 1 1 1 -o 0 0 0 textures/wood.jpg",
         "textures/wood.jpg",
         {0, 0},
         {1, 1},
         false,
         ""},
        {"map_Kd -o 0.5 -s 2 3 my wood.jpg", "my wood.jpg", {0.5, 0}, {2, 3}, false, ""},
        {"map_Kd -clamp on -blendu off -mm 0 1 -t 0 0 0 1.jpg",
         "1.jpg",
         {0, 0},
         {1, 1},
         true,
         "map_Kd -blendu (1)"},
        {"map_Kd -s 2 2 2 5 x.png", "5 x.png", {0, 0}, {2, 2}, false, ""},
        {"map_Kd -texres 512 -boost 2 -type cube_top -t 1 w.png",
         "w.png",
         {0, 0},
         {1, 1},
         false,
         "map_Kd -texres (1), map_Kd -boost (1), map_Kd -t (1)"},
        {"map_Kd -wood.png", "-wood.png", {0, 0}, {1, 1}, false, ""},
        {"map_Kd -s -o 1 2 z.png", "z.png", {1, 2}, {1, 1}, false, "map_Kd -s (1)"},
        {"map_Kd -s 2 2", "", {0, 0}, {1, 1}, false, "map_Kd (1)"},
        {"map_Kd -clamp w.png", "w.png", {0, 0}, {1, 1}, false, "map_Kd -clamp (1)"},
        {"map_bump -bm 1 -imfchan l -o 0.25 0.5 0 b.png", "b.png", {0.25, 0.5}, {1, 1}, false, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.statement);
        TempTestFolder folder;
        ASSERT_TRUE(folder.ok());
        Write(folder / "m.mtl", std::string("newmtl m\n") + row.statement + "\n");
        Write(folder / "a.obj", "mtllib m.mtl\nusemtl m\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
        KObjParser parser;
        ASSERT_EQ(parser.ReadFile((folder / "a.obj").c_str()), KObjParser::eRead);
        const KObjMaterial& m = parser.GetMaterials().at(0);
        const bool bump = std::string(row.statement).rfind("map_bump", 0) == 0;
        const std::string& file = bump ? m.bumpMap : m.diffuseMap;
        const KObjMapPlacement& placement = bump ? m.bumpPlacement : m.diffusePlacement;
        EXPECT_EQ(file, *row.file ? folder / row.file : std::string());
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(placement.offset[i], row.offset[i]);
            EXPECT_EQ(placement.scale[i], row.scale[i]);
        }
        EXPECT_EQ(placement.clamp, row.clamp);
        const std::string told = *row.told
                                     ? std::string("Material statements not read: ") + row.told
                                     : std::string("Material statements");
        EXPECT_EQ(parser.GetStatus().find(told) != std::string::npos, *row.told != 0)
            << parser.GetStatus();
    }
}
