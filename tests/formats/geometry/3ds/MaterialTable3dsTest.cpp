// A table of 3DS materials, written by the toolkit, through qovtool 3DS to 3DS and OBJ to 3DS,
// each field as lib3ds reads it back.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "Test3ds.h"
#include "formats/geometry/3ds/Database3ds.h"
#include "formats/geometry/3ds/Material3ds.h"
#include "formats/geometry/3ds/Mesh3ds.h"

namespace {

std::string Convert(const std::string& from, const std::string& to) {
    return ConvertWithQovtool3ds(from, to);
}

TextureMap3ds Map(const char* name, float percent) {
    TextureMap3ds map;
    map.name = name;
    map.percent = percent;
    return map;
}

struct Row {
    const char* name;
    Color3ds ambient, diffuse, specular;
    float shininess, strength, transparency, self;
    bool twoSided;
    const char* texture;      // map 1, none when empty
    const char* specularMap;  // none when empty
    float texturePercent = 1.0f;
};

// Every field the reader and writer carry: colours, shininess and its strength,
// transparency, self-illumination, two-sided, the first map and a specular map.
const Row kRows[] = {
    {"Default",
     {0.2f, 0.2f, 0.2f},
     {0.6f, 0.4f, 0.2f},
     {1, 1, 1},
     0.15f,
     0.75f,
     0,
     0,
     false,
     "",
     ""},
    {"Shiny", {0, 0, 0}, {0, 0, 1}, {1, 1, 1}, 0.29f, 0.197f, 0.25f, 0, true, "", "spec.tga"},
    {"Glow", {0.1f, 0.1f, 0.1f}, {1, 1, 1}, {0, 0, 0}, 0.5f, 0, 0, 0.4f, false, "", ""},
    {"Brick",
     {0.2f, 0.2f, 0.2f},
     {0.8f, 0.8f, 0.8f},
     {0.6f, 0.6f, 0.6f},
     0.33f,
     0.5f,
     0,
     0,
     false,
     "brick.tga",
     ""},
    // Past 50% shininess, self-illumination over a coloured diffuse, a map at 80%.
    {"Bright",
     {0.2f, 0.2f, 0.2f},
     {0.5f, 0.6f, 0.7f},
     {0, 0, 0},
     0.75f,
     0,
     0,
     0.2f,
     false,
     "wood.tga",
     "",
     0.8f},
};

// A mesh of one triangle per material, with texture vertices, and the table's materials.
void WriteTable(const std::string& path) {
    Context3ds ctx;
    Database3ds* db = nullptr;
    InitDatabase3ds(ctx, &db);
    CreateNewDatabase3ds(ctx, db, kMeshFile3ds);
    Mesh3ds mesh;
    mesh.name = "Table";
    for (const Row& row : kRows) {
        Material3ds* m = nullptr;
        InitMaterial3ds(ctx, &m);
        m->name = row.name;
        m->ambient = row.ambient;
        m->diffuse = row.diffuse;
        m->specular = row.specular;
        m->shininess = row.shininess;
        m->shineStrength = row.strength;
        m->transparency = row.transparency;
        m->selfIllumination = row.self;
        m->flagA081 = row.twoSided;
        if (row.texture[0]) m->maps[0] = Map(row.texture, row.texturePercent);
        if (row.specularMap[0]) m->maps[8] = Map(row.specularMap, 0.5f);
        PutMaterial3ds(ctx, db, m);
        ReleaseMaterial3ds(&m);
        const uint16_t v = uint16_t(mesh.vertices.size());
        const float x = float(v);
        mesh.vertices.insert(mesh.vertices.end(), {{x, 0, 0}, {x + 1, 0, 0}, {x, 1, 0}});
        mesh.texVerts.insert(mesh.texVerts.end(), {{0, 0}, {1, 0}, {0, 1}});
        mesh.matGroups.push_back({row.name, {uint16_t(mesh.faces.size())}});
        mesh.faces.push_back({v, uint16_t(v + 1), uint16_t(v + 2), 7});
    }
    mesh.localAxes[0] = mesh.localAxes[4] = mesh.localAxes[8] = 1;  // identity axes
    PutMesh3ds(ctx, db, &mesh);
    File3ds* file = OpenFile3ds(ctx, path.c_str(), "wb");
    SaveDatabase3ds(ctx, file, db);
    ReleaseDatabase3ds(ctx, &db);
    CloseAllFiles3ds(ctx);
    ASSERT_FALSE(ctx.ErrorPending());
}

std::vector<std::string> Materials(const std::string& path) {
    return Lib3dsLines(path, "materials");
}

// lib3ds lines: name; ambient, diffuse, specular; shininess and its strength; transparency;
// self-illumination; two-sided; maps (name, percent, scale, offset, rotation, flags).
const char* const kWritten[] = {
    "material Brick 0.2000 0.2000 0.2000 0.8000 0.8000 0.8000 0.6000 0.6000 0.6000 shininess "
    "0.3300 0.5000 transparency 0.0000 self 0.0000 two-sided 0 map1 brick.tga 1.0000 1.0000 "
    "1.0000 0.0000 0.0000 0.0000 0",
    "material Bright 0.2000 0.2000 0.2000 0.4980 0.6000 0.6980 0.0000 0.0000 0.0000 shininess "
    "0.7500 0.0000 transparency 0.0000 self 0.2000 two-sided 0 map1 wood.tga 0.8000 1.0000 "
    "1.0000 0.0000 0.0000 0.0000 0",
    "material Default 0.2000 0.2000 0.2000 0.6000 0.4000 0.2000 1.0000 1.0000 1.0000 shininess "
    "0.1500 0.7500 transparency 0.0000 self 0.0000 two-sided 0",
    "material Glow 0.0980 0.0980 0.0980 1.0000 1.0000 1.0000 0.0000 0.0000 0.0000 shininess "
    "0.5000 0.0000 transparency 0.0000 self 0.4000 two-sided 0",
    // 0.197 is 19.7 hundredths, truncated.
    "material Shiny 0.0000 0.0000 0.0000 0.0000 0.0000 1.0000 1.0000 1.0000 1.0000 shininess "
    "0.2900 0.1900 transparency 0.2500 self 0.0000 two-sided 1 specular spec.tga 0.5000 1.0000 "
    "1.0000 0.0000 0.0000 0.0000 0",
};

// Hundredths come back as they were read. What the reader and writer make of the rest: the
// specular colour is read times its strength (x 4/3) and written with a strength of a quarter
// of its sum; every material is written two-sided; the specular map is not carried; a
// textured material is named after the mesh, material and texture.
const char* const kConverted[] = {
    "material 1.Mat3Tex0 0.2000 0.2000 0.2000 0.8000 0.8000 0.8000 0.4000 0.4000 0.4000 "
    "shininess 0.3300 0.3000 transparency 0.0000 self 0.0000 two-sided 1 map1 brick.tga 1.0000 "
    "1.0000 1.0000 0.0000 0.0000 0.0000 0",
    // Shininess, self-illumination and the map's amount as the file holds them.
    "material 1.Mat4Tex1 0.2000 0.2000 0.2000 0.4980 0.6000 0.6980 0.0000 0.0000 0.0000 "
    "shininess 0.7500 0.0000 transparency 0.0000 self 0.2000 two-sided 1 map1 wood.tga 0.8000 "
    "1.0000 1.0000 0.0000 0.0000 0.0000 0",
    "material Default 0.2000 0.2000 0.2000 0.6000 0.4000 0.2000 1.0000 1.0000 1.0000 shininess "
    "0.1500 0.7500 transparency 0.0000 self 0.0000 two-sided 1",
    "material Glow 0.0980 0.0980 0.0980 1.0000 1.0000 1.0000 0.0000 0.0000 0.0000 shininess "
    "0.5000 0.0000 transparency 0.0000 self 0.4000 two-sided 1",
    "material Shiny 0.0000 0.0000 0.0000 0.0000 0.0000 1.0000 0.2510 0.2510 0.2510 shininess "
    "0.2900 0.1900 transparency 0.2500 self 0.0000 two-sided 1",
};

TEST(MaterialTable3ds, EveryFieldThroughThreeDsToThreeDs) {
    TempPath3ds source("table.3ds");
    WriteTable(source.path);
    EXPECT_EQ(Materials(source.path),
              std::vector<std::string>(std::begin(kWritten), std::end(kWritten)));
    const std::string again = source.folder + "/again.3ds";
    ASSERT_EQ(Convert(source.path, again), "");
    EXPECT_EQ(Materials(again),
              std::vector<std::string>(std::begin(kConverted), std::end(kConverted)));
    // Once more: what the writer wrote comes back unchanged but for the specular colour.
    const std::string third = source.folder + "/third.3ds";
    ASSERT_EQ(Convert(again, third), "");
    const std::vector<std::string> lines = Materials(third);
    ASSERT_EQ(lines.size(), 5u);
    for (size_t i : {1, 2, 3}) EXPECT_EQ(lines[i], kConverted[i]);
    // Through QOV the scene's materials and textures hold the same.
    const std::string qov = source.folder + "/table.qov", fromQov = source.folder + "/qov.3ds";
    ASSERT_EQ(Convert(source.path, qov), "");
    ASSERT_EQ(Convert(qov, fromQov), "");
    EXPECT_EQ(Materials(fromQov),
              std::vector<std::string>(std::begin(kConverted), std::end(kConverted)));
    // Version 5 (which gives every material of a textured mesh its texture) keeps shininess
    // past 50%, self-illumination and the map's amount.
    ASSERT_EQ(ConvertWithQovtoolFlag3ds("--v5", source.path, qov), "");
    ASSERT_EQ(Convert(qov, fromQov), "");
    const std::vector<std::string> v5 = Materials(fromQov);
    EXPECT_NE(std::find(v5.begin(), v5.end(), kConverted[1]), v5.end());
}

// OBJ materials used by two meshes: each mesh gets its own material for each textured one,
// named after the mesh, the material and the texture; untextured ones keep their names. A
// texture file name too long for the 3DS field gets a distinct 8.3 name, under which the image
// is copied beside the file; one given with a folder keeps its file name.
TEST(MaterialTable3ds, ObjMaterialsThroughObjToThreeDs) {
    TempPath3ds source("table.obj");
    std::ofstream(source.folder + "/table.mtl")
        << "newmtl Red\nKd 1 0 0\nKs 0.5 0.5 0.5\nNs 200\n"
           "newmtl Wood\nKd 0.6 0.4 0.2\nmap_Kd textures/wood.tga\n"
           "newmtl Stone\nKd 0.5 0.5 0.5\nmap_Kd granite_stone_texture.tga\n"
           "newmtl Blue\nKd 0 0 1\nd 0.5\n"
           "newmtl Moss\nKd 0 0.5 0\nmap_Kd granite_stone_moss.tga\n";
    for (const char* image : {"granite_stone_texture.tga", "granite_stone_moss.tga"})
        std::ofstream(source.folder + "/" + image) << image;
    std::ofstream(source.path)
        << "mtllib table.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nvt 0 0\nvt 1 0\nvt 0 1\nvt 1 1\n"
           "g First\nusemtl Red\nf 1/1 2/2 3/3\nusemtl Wood\nf 2/2 4/4 3/3\n"
           "g Second\nusemtl Wood\nf 1/1 2/2 3/3\nusemtl Stone\nf 2/2 4/4 3/3\n"
           "usemtl Blue\nf 1/1 4/4 3/3\nusemtl Red\nf 1/1 2/2 4/4\nusemtl Moss\nf 1/1 2/2 3/3\n";
    const std::string out = source.folder + "/table.3ds";
    ASSERT_EQ(Convert(source.path, out), "");
    const std::vector<std::string> expected = {
        "material 1.Mat1Tex1 0.2000 0.2000 0.2000 0.6000 0.4000 0.2000 0.2000 0.2000 0.2000 "
        "shininess 0.0200 0.1500 transparency 0.0000 self 0.0000 two-sided 1 map1 wood.tga "
        "1.0000 1.0000 1.0000 0.0000 0.0000 0.0000 0",
        "material 2.Mat0Tex1 0.2000 0.2000 0.2000 0.6000 0.4000 0.2000 0.2000 0.2000 0.2000 "
        "shininess 0.0200 0.1500 transparency 0.0000 self 0.0000 two-sided 1 map1 wood.tga "
        "1.0000 1.0000 1.0000 0.0000 0.0000 0.0000 0",
        "material 2.Mat1Tex2 0.2000 0.2000 0.2000 0.4980 0.4980 0.4980 0.2000 0.2000 0.2000 "
        "shininess 0.0200 0.1500 transparency 0.0000 self 0.0000 two-sided 1 map1 granite_.tga "
        "1.0000 1.0000 1.0000 0.0000 0.0000 0.0000 0",
        "material 2.Mat4Tex3 0.2000 0.2000 0.2000 0.0000 0.4980 0.0000 0.2000 0.2000 0.2000 "
        "shininess 0.0200 0.1500 transparency 0.0000 self 0.0000 two-sided 1 map1 granit~1.tga "
        "1.0000 1.0000 1.0000 0.0000 0.0000 0.0000 0",
        "material Blue 0.2000 0.2000 0.2000 0.0000 0.0000 1.0000 0.2000 0.2000 0.2000 shininess "
        "0.0200 0.1500 transparency 0.5000 self 0.0000 two-sided 1",
        "material Red 0.2000 0.2000 0.2000 1.0000 0.0000 0.0000 0.4980 0.4980 0.4980 shininess "
        "0.1000 0.3700 transparency 0.0000 self 0.0000 two-sided 1",  // Ns 200 of 1000
    };
    EXPECT_EQ(Materials(out), expected);
    for (const auto& [image, name] : {std::pair("granite_stone_texture.tga", "granite_.tga"),
                                      std::pair("granite_stone_moss.tga", "granit~1.tga")}) {
        const std::vector<char> copy = ReadBytes3ds(source.folder + "/" + name);
        EXPECT_EQ(std::string(copy.begin(), copy.end()), image);
    }
}

// Percentages are written as whole hundredths, truncated toward zero; a float that stands
// for a whole hundredth is written as that one.
TEST(MaterialTable3ds, PercentagesTruncateButKeepWholeHundredths) {
    const struct {
        float value;
        int hundredths;
    } kCases[] = {{0.756f, 75}, {0.15f, 15},        {0.29f, 29},     {0.2899f, 28},
                  {0.4f, 40},   {0.99999994f, 100}, {0.999999f, 99}, {0.0f, 0}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.value);
        Context3ds ctx;
        Database3ds* db = nullptr;
        InitDatabase3ds(ctx, &db);
        CreateNewDatabase3ds(ctx, db, kMeshFile3ds);
        Material3ds* m = nullptr;
        InitMaterial3ds(ctx, &m);
        m->name = "M";
        m->shininess = m->shineStrength = m->transparency = m->selfIllumination = c.value;
        PutMaterial3ds(ctx, db, m);
        ReleaseMaterial3ds(&m);
        GetMaterialByIndex3ds(ctx, db, 0, &m);
        ASSERT_TRUE(m);
        const float expected = c.hundredths * 0.01f;
        EXPECT_EQ(m->shininess, expected);
        EXPECT_EQ(m->shineStrength, expected);
        EXPECT_EQ(m->transparency, expected);
        EXPECT_EQ(m->selfIllumination, expected);
        ReleaseMaterial3ds(&m);
        ReleaseDatabase3ds(ctx, &db);
        EXPECT_FALSE(ctx.ErrorPending());
    }
}

}  // namespace
