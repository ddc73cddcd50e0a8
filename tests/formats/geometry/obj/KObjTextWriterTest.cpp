#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "common/TempTestFolder.h"
#include "formats/geometry/obj/KObjParser.h"
#include "formats/geometry/obj/KObjTextWriter.h"
#include "formats/geometry/obj/ObjTestFiles.h"

namespace {

// Every group of `parser` as its mesh, materials by their parsed values.
bool WriteParsed(KObjParser& parser, const std::string& path, size_t& points, size_t& polygons) {
    KObjTextWriter writer;
    if (!writer.Create(path.c_str())) return false;
    if (!parser.GetMaterials().empty()) writer.CreateMaterialFile();
    for (const KObjMaterial& m : parser.GetMaterials()) writer.AddMaterial(m.name, m);
    points = polygons = 0;
    const KObjParser::GroupMap& groups = parser.GetGroups();
    for (const auto& entry : groups) {
        KObjMeshData mesh;
        parser.BuildMesh(entry.first, mesh);
        KObjWriteGroup group;
        group.name = entry.first;
        group.points = mesh.points;
        group.normals = mesh.normals;
        group.uvs = mesh.uvs;
        group.polygonSizes = mesh.polygonSizes;
        group.polygonMaterials = mesh.polygonMaterials;
        for (int v : mesh.polygonVertices)
            group.corners.push_back({v, mesh.uvs.empty() ? -1 : v, v});
        points += mesh.points.size();
        polygons += mesh.polygonSizes.size();
        writer.WriteGroup(group);
    }
    return writer.Close();
}

}  // namespace

TEST(ObjTextWriter, RealFilesRoundTripStablyAndReadElsewhere) {
    const std::string folder = std::string(QOV_TESTDATA_DIR) + "/obj/";
    ASSERT_TRUE(std::ifstream(folder + "spider.obj").good())
        << "the OBJ test data folder is missing: " << folder;
    TempTestFolder out;
    ASSERT_TRUE(out.ok());
    // Writers make no folders.
    ASSERT_TRUE(KPlatformMakeDirectory((out / "1").c_str()));
    ASSERT_TRUE(KPlatformMakeDirectory((out / "2").c_str()));
    for (const char* file : {"cube_usemtl.obj", "empty_mat.obj", "regr01.obj", "spider.obj"}) {
        SCOPED_TRACE(file);
        KObjParser first;
        ASSERT_EQ(first.ReadFile((folder + file).c_str()), KObjParser::eRead);
        size_t points = 0, polygons = 0, again = 0, againPolygons = 0;
        ASSERT_TRUE(WriteParsed(first, out / "1/a.obj", points, polygons));
        KObjParser second;
        ASSERT_EQ(second.ReadFile((out / "1/a.obj").c_str()), KObjParser::eRead)
            << second.GetStatus();
        EXPECT_EQ(second.GetVertices().size(), points);
        EXPECT_EQ(second.GetGroups().size(), first.GetGroups().size());
        EXPECT_EQ(second.GetMaterials().size(), first.GetMaterials().size());
        for (const KObjMaterial& a : first.GetMaterials()) {
            // A material of no name is written under a name of its own.
            auto same = [&](const KObjMaterial& m) {
                return m.name == (a.name.empty() ? "Unnamed" : a.name);
            };
            const auto& list = second.GetMaterials();
            auto found = std::find_if(list.begin(), list.end(), same);
            ASSERT_NE(found, list.end()) << a.name;
            const KObjMaterial& b = *found;
            // Colours and opacity to the bit (see MaterialNumbersReadBackExactly).
            for (int k = 0; k < 3; ++k) EXPECT_EQ(a.diffuse[k], b.diffuse[k]);
            EXPECT_EQ(a.opacity, b.opacity);
            EXPECT_NEAR(a.shininess, b.shininess, 1e-6);
        }
        ASSERT_TRUE(WriteParsed(second, out / "2/a.obj", again, againPolygons));
        EXPECT_EQ(again, points);
        EXPECT_EQ(againPolygons, polygons);
        EXPECT_TRUE(ReadText(out / "1/a.obj") ==
                    ReadText(out / "2/a.obj"));  // stable after one pass
        const IndependentRead other = ReadIndependently(out / "1/a.obj", out.path() + "/1/");
        ASSERT_TRUE(other.ok) << other.error;
        EXPECT_EQ(other.vertices.size(), 3 * points);
        EXPECT_EQ(other.normals.size(), 3 * points);
        EXPECT_EQ(other.faces, polygons);
        ASSERT_EQ(other.dissolves.size(), first.GetMaterials().size());
        KObjMeshData mesh;
        second.BuildMesh(second.GetGroups().begin()->first, mesh);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(other.vertices[k], mesh.points[0][k], 1e-6);
        for (size_t i = 0; i < other.dissolves.size(); ++i)
            EXPECT_NEAR(other.dissolves[i], first.GetMaterials()[i].opacity, 1e-6);
    }
}

TEST(ObjTextWriter, MaterialPaths) {
    const std::pair<const char*, const char*> rows[] = {
        {"/Out/Dir/SCENE.OBJ", "/Out/Dir/scene.mtl"},
        {"/Out/A.obj/Part.Obj", "/Out/A.obj/part.mtl"},
        {"rel\\Win.obj", "rel\\win.mtl"},
        {"/Out/Rel\\Win.obj", "/Out/rel\\win.mtl"},  // the '\' is part of the name
        {"/Out/scene.txt", ""},
        {"/Out/obj", ""},
    };
    for (const auto& row : rows) EXPECT_EQ(KObjTextWriter::MaterialPath(row.first), row.second);
}

TEST(ObjTextWriter, CornersNumberingNamesAndFailures) {
    TempTestFolder out;
    ASSERT_TRUE(out.ok());
    std::ofstream(out / "tex.png") << "image";
    KObjTextWriter writer;
    // Missing folders are refused, never made.
    EXPECT_FALSE(writer.Create((out / "sub/Two Words.OBJ").c_str()));
    EXPECT_FALSE(KPlatformPathExists((out / "sub").c_str()));
    ASSERT_TRUE(KPlatformMakeDirectory((out / "sub").c_str()));
    ASSERT_TRUE(writer.Create((out / "sub/Two Words.OBJ").c_str()));
    EXPECT_TRUE(writer.CreateMaterialFile());
    KObjMaterial m;
    m.diffuseMap = out / "tex.png";
    EXPECT_EQ(writer.GetMaterialName(writer.AddMaterial("my mat", m)), "my_mat");
    EXPECT_EQ(writer.GetMaterialName(writer.AddMaterial("my mat", KObjMaterial())), "my_mat1");
    // The reader keeps names apart in letter case alone apart, and takes a line ending in a
    // backslash on into the next.
    EXPECT_EQ(writer.GetMaterialName(writer.AddMaterial("My_Mat", KObjMaterial())), "My_Mat");
    EXPECT_EQ(writer.GetMaterialName(writer.AddMaterial("end\\", KObjMaterial())), "end\\_");
    KObjWriteGroup g;
    g.name = "a b";
    g.points.resize(4);
    g.uvs.resize(1);
    g.normals.resize(1);
    g.polygonSizes = {4};
    g.corners = {{0, -1, -1}, {1, 0, -1}, {2, -1, 0}, {3, 0, 0}};
    g.polygonMaterials = {1};
    writer.WriteGroup(g);
    g.polygonMaterials = {0};
    writer.WriteGroup(g);
    // Groups of one name would be read back as one: each group a name of its own.
    g.name = "a_b1";
    writer.WriteGroup(g);
    ASSERT_TRUE(writer.Close());
    const std::string obj = ReadText(out / "sub/Two Words.OBJ");
    EXPECT_NE(obj.find("mtllib two words.mtl\n"), std::string::npos);
    EXPECT_NE(obj.find("g a_b\nv "), std::string::npos);
    EXPECT_NE(obj.find("g a_b1\nv "), std::string::npos);
    EXPECT_NE(obj.find("g a_b11\nv "), std::string::npos);
    EXPECT_NE(obj.find("usemtl my_mat1\nf 1 2/1 3//1 4/1/1\n"), std::string::npos) << obj;
    EXPECT_NE(obj.find("usemtl my_mat\nf 5 6/2 7//2 8/2/2\n"), std::string::npos) << obj;
    EXPECT_EQ(obj.find('\r'), std::string::npos);
    const std::string mtl = ReadText(out / "sub/two words.mtl");
    EXPECT_NE(mtl.find("newmtl my_mat\nmap_Kd tex.png\n"), std::string::npos) << mtl;
    EXPECT_NE(mtl.find("illum 2\nNs 0.000000\nd 1.000000\n"), std::string::npos) << mtl;
    EXPECT_EQ(ReadText(out / "sub/tex.png"), "image");

    KObjTextWriter full;  // a device that is always full
    if (full.Create("/dev/full")) {
        full.WriteGroup(g);
        EXPECT_FALSE(full.Close());
    }
    KObjTextWriter noMtl;
    ASSERT_TRUE(noMtl.Create((out / "plain.txt").c_str()));
    EXPECT_FALSE(noMtl.CreateMaterialFile());
    EXPECT_NE(noMtl.GetStatus().find("Unable to create material file"), std::string::npos);
    EXPECT_TRUE(noMtl.Close());
}

// Images of one name in two folders stay two images (in two cases too), the same bytes share a
// name, a different file beside the output is left as it is, also one made after the folder
// was listed; the copies made go with a write that is dropped, and only they.
TEST(ObjTextWriter, ImagesOfOneNameStayApart) {
    TempTestFolder in, out;
    ASSERT_TRUE(in.ok() && out.ok());
    for (const char* folder : {"a", "b", "c"})
        ASSERT_TRUE(KPlatformMakeDirectory((in / folder).c_str()));
    std::ofstream(in / "a/wood.tga") << "oak";
    std::ofstream(in / "b/wood.tga") << "pine";
    std::ofstream(in / "c/wood.tga") << "oak";
    std::ofstream(in / "c/bark.tga") << "bark";
    std::ofstream(out / "bark.tga") << "old bark";
    // Beside the output in another case: the folder is listed once, without case.
    std::ofstream(in / "c/leaf.tga") << "leaf";
    std::ofstream(out / "Leaf.TGA") << "old leaf";
    ASSERT_TRUE(KPlatformMakeDirectory((in / "d").c_str()));
    std::ofstream(in / "d/WOOD.tga") << "birch";
    std::ofstream(in / "d/late.tga") << "late";
    // A missing image whose name a different file beside has keeps its name, with a warning.
    std::ofstream(out / "gone.tga") << "old gone";
    // A finished file of the image's bytes is shared; another write's copy not kept yet (it
    // may go again) is not.
    std::ofstream(in / "d/same.tga") << "same";
    std::ofstream(out / "same.tga") << "same";
    std::ofstream(in / "d/fresh.tga") << "fresh";
    std::ofstream(out / "fresh.tga") << "fresh";
    ASSERT_EQ(chmod((out / "fresh.tga").c_str(), 0), 0);
    // A made name of a name as long as a file name may be is cut short to fit.
    const std::string longName = std::string(251, 'l') + ".tga";
    const std::string longMade = std::string(249, 'l') + "~1.tga";
    std::ofstream(in / ("d/" + longName)) << "long";
    std::ofstream(out / longName) << "old long";
    const std::string longImage = "d/" + longName;
    const struct {
        const char* image;
        const char* name;
        const char* bytes;
    } rows[] = {{"a/wood.tga", "wood.tga", "oak"},
                {"b/wood.tga", "wood~1.tga", "pine"},
                {"c/wood.tga", "wood.tga", "oak"},
                {"c/bark.tga", "bark~1.tga", "bark"},
                {"c/leaf.tga", "leaf~1.tga", "leaf"},
                {"d/WOOD.tga", "WOOD~2.tga", "birch"},
                {"d/late.tga", "late~1.tga", "late"},
                {"d/gone.tga", "gone.tga", "old gone"},
                {"d/same.tga", "same.tga", "same"},
                {"d/fresh.tga", "fresh~1.tga", "fresh"},
                {longImage.c_str(), longMade.c_str(), "long"}};
    for (const bool written : {false, true}) {
        KObjTextWriter writer;
        ASSERT_TRUE(writer.Create((out / "x.obj").c_str()));
        ASSERT_TRUE(writer.CreateMaterialFile());
        for (const auto& row : rows) {
            // Another program makes a name after the folder was listed.
            if (std::string(row.image) == "d/late.tga") std::ofstream(out / "late.tga") << "theirs";
            KObjMaterial m;
            m.diffuseMap = in / row.image;
            writer.AddMaterial("m", m);
        }
        EXPECT_EQ(ReadText(out / "wood.tga"), "oak");  // made as it was placed
        if (!written) {
            // Another program puts its file in the place of a copy, which then stays.
            ASSERT_EQ(std::remove((out / "wood~1.tga").c_str()), 0);
            std::ofstream(out / "wood~1.tga") << "theirs";
            EXPECT_EQ(ReadText(out / "late~1.tga"), "late");
            writer.Discard();
            EXPECT_FALSE(KPlatformPathExists((out / "wood.tga").c_str()));
            EXPECT_FALSE(KPlatformPathExists((out / "WOOD~2.tga").c_str()));
            EXPECT_FALSE(KPlatformPathExists((out / "late~1.tga").c_str()));
            EXPECT_EQ(ReadText(out / "wood~1.tga"), "theirs");
            EXPECT_EQ(ReadText(out / "late.tga"), "theirs");
            EXPECT_EQ(ReadText(out / "same.tga"), "same");
            EXPECT_FALSE(KPlatformPathExists((out / longMade).c_str()));
            std::remove((out / "wood~1.tga").c_str());
            continue;
        }
        ASSERT_TRUE(writer.Close());
        const std::string mtl = ReadText(out / "x.mtl");
        for (const auto& row : rows) {
            EXPECT_NE(mtl.find(std::string("map_Kd ") + row.name + "\n"), std::string::npos);
            EXPECT_EQ(ReadText(out / row.name), row.bytes) << row.name;
        }
        EXPECT_EQ(ReadText(out / "bark.tga"), "old bark");
        EXPECT_EQ(ReadText(out / "Leaf.TGA"), "old leaf");
        EXPECT_EQ(ReadText(out / "late.tga"), "theirs");
        EXPECT_NE(writer.GetStatus().find("Unable to locate texture file \"" + in / "d/gone.tga" +
                                          "\".\n"),
                  std::string::npos)
            << writer.GetStatus();
        EXPECT_NE(writer.GetStatus().find("Texture \"" + in / "b/wood.tga" +
                                          "\" is written as \"wood~1.tga\": another image is "
                                          "named \"wood.tga\".\n"),
                  std::string::npos)
            << writer.GetStatus();
        // The other file is named as it is, in its own case.
        EXPECT_NE(writer.GetStatus().find("Texture \"" + in / "c/leaf.tga" +
                                          "\" is written as \"leaf~1.tga\": another image is "
                                          "named \"Leaf.TGA\".\n"),
                  std::string::npos)
            << writer.GetStatus();
        EXPECT_NE(writer.GetStatus().find("Texture \"" + in / "d/WOOD.tga" +
                                          "\" is written as \"WOOD~2.tga\": another image is "
                                          "named \"wood.tga\".\n"),
                  std::string::npos)
            << writer.GetStatus();
    }
}

// Material numbers read back as written: one six decimals hold exactly as "%f" wrote it
// before, any other (a map offset of a ten-millionth, a colour of more digits, a scale near 1)
// to its last bit, or, held exactly by a float (as the scene holds them), to that float's;
// through a second pass unchanged.
TEST(ObjTextWriter, MaterialNumbersReadBackExactly) {
    // Diffuse, blue emission, opacity, -o and -s; a line the library holds.
    const std::pair<std::array<double, 8>, const char*> rows[] = {
        // clang-format off
        {{0.5, 0.25, 1, 0.75, 0.25, -1, 2, 3},
         "map_Kd -s 2.000000 3.000000 1 -o 0.250000 -1.000000 0 tex.png\n"},
        {{1e-7, 1.0 / 3, 3e-8, 0.9999999, 1e-7, -2.5e-9, 1.0000001, 0.5},
         "map_Kd -s 1.0000001 0.500000 1 -o 1e-07 -2.5e-09 0 tex.png\n"},
        {{4e-7, 1e-300, 0, 1e-6, 0, 5e-7, 1e20, 1}, "Kd 4e-07 1e-300 0.000000\n"},
        {{0.8f, 0.58823529f, 0.3f, 0.9f, 1e-7f, 0.3f, 1.0000001f, 2.5f},
         "Kd 0.800000 0.5882353 0.000000\nKs 0.000000 0.000000 0.000000\n"
         "Ke 0.000000 0.000000 0.300000\n"},
        // clang-format on
    };
    // Equal, or as floats where the wanted value is a float's.
    auto same = [](double read, double wanted) {
        return double(float(wanted)) == wanted ? float(read) == float(wanted) : read == wanted;
    };
    TempTestFolder out;
    ASSERT_TRUE(out.ok());
    std::ofstream(out / "tex.png") << "image";
    for (const auto& [v, line] : rows) {
        SCOPED_TRACE(line);
        KObjMaterial m;
        m.diffuse[0] = v[0], m.diffuse[1] = v[1], m.emissive[2] = v[2], m.opacity = v[3];
        m.diffuseMap = out / "tex.png";
        std::copy(v.begin() + 4, v.begin() + 6, m.diffusePlacement.offset);
        std::copy(v.begin() + 6, v.end(), m.diffusePlacement.scale);
        std::string texts[2];
        KObjMaterial back = m;
        for (std::string& text : texts) {
            KObjTextWriter writer;
            ASSERT_TRUE(writer.Create((out / "a.obj").c_str()) && writer.CreateMaterialFile());
            writer.AddMaterial("m", back);
            KObjWriteGroup g;
            g.points.resize(3);
            g.polygonSizes = {3};
            g.corners = {{0, -1, -1}, {1, -1, -1}, {2, -1, -1}};
            g.polygonMaterials = {0};
            writer.WriteGroup(g);
            ASSERT_TRUE(writer.Close());
            text = ReadText(out / "a.mtl");
            KObjParser parser;
            ASSERT_EQ(parser.ReadFile((out / "a.obj").c_str()), KObjParser::eRead);
            ASSERT_EQ(parser.GetMaterials().size(), 1u);
            back = parser.GetMaterials()[0];
            const KObjMapPlacement& p = back.diffusePlacement;
            const double read[] = {back.diffuse[0], back.diffuse[1], back.emissive[2], back.opacity,
                                   p.offset[0],     p.offset[1],     p.scale[0],       p.scale[1]};
            for (size_t k = 0; k < v.size(); ++k)
                EXPECT_TRUE(same(read[k], v[k])) << read[k] << " " << v[k] << "\n" << text;
            back.diffuseMap = m.diffuseMap;
        }
        EXPECT_EQ(texts[1], texts[0]);
        EXPECT_NE(texts[0].find(line), std::string::npos) << texts[0];
    }
}
