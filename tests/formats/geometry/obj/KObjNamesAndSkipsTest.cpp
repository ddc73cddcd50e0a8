// Material names that hold blanks, through the reader, the writer and an independent reader;
// what a read that keeps no geometry tells; UTF-16 text refused.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "attributes/KQovLayer.h"
#include "attributes/KQovMaterial.h"
#include "attributes/KQovMesh.h"
#include "common/TempTestFolder.h"
#include "formats/geometry/obj/KObjParser.h"
#include "formats/geometry/obj/KQovReaderObj.h"
#include "formats/geometry/obj/ObjTestFiles.h"
#include "io/KQovExporter.h"
#include "io/KStreamOptionsBase.h"
#include "scene/KQovEntityContainer.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"
#include "tools/ConversionTestUtil.h"

namespace {

void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Four materials, two pairs sharing their first word; the faces use them out of order, one
// usemtl line with extra blanks around the name.
const char* const kLibrary =
    "newmtl Hard Shiny Plastic White\nKd 1 1 1\n"
    "newmtl Hard Shiny Plastic Black\nKd 0 0 0\n"
    "newmtl Hard\tMatte\nKd 0.5 0 0\n"
    "newmtl Red\nKd 1 0 0\n";
const char* const kObj =
    "mtllib lib.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
    "usemtl Hard Shiny Plastic White\nf 1 2 3\n"
    "usemtl Hard Shiny Plastic Black\nf 1 3 4\n"
    "usemtl Hard\tMatte\nf 2 3 4\n"
    "usemtl Red\nf 1 2 4\n"
    "usemtl \t Hard Shiny Plastic White  \nf 4 3 2\n";
// The diffuse red of each face above.
const double kFaceRed[] = {1.0, 0.0, 0.5, 1.0, 1.0};

// Each polygon's diffuse red, through the mesh's material indices.
std::vector<double> PolygonReds(KQovMesh* mesh) {
    std::vector<double> reds;
    KQovLayerElementMaterial* element = mesh->GetLayer(0)->GetMaterials();
    for (int p = 0; p < mesh->GetPolygonCount(); ++p) {
        const int index = element->GetIndexArray().GetAt(p);
        reds.push_back(mesh->GetMaterial(index, 0)->GetDefaultDiffuse().mRed);
    }
    return reds;
}

KQovMesh* FirstMesh(KQovNode* node) {
    if (auto* mesh = dynamic_cast<KQovMesh*>(node->GetNodeAttribute())) return mesh;
    for (int i = 0; i < node->GetChildCount(); ++i)
        if (KQovMesh* mesh = FirstMesh(node->GetChild(i))) return mesh;
    return nullptr;
}

KQovScene* ReadScene(KQovObjectManager& manager, const std::string& path) {
    KQovScene* scene = manager.CreateScene();
    KQovReaderObj reader(&manager);
    if (!reader.FileOpen(path.c_str())) return nullptr;
    std::unique_ptr<KStreamOptions> options(reader.GetReadOptions(false));
    return reader.Read(scene, options.get()) ? scene : nullptr;
}

// The library lib.mtl and in.obj written into the folder and parsed: the material names, each
// found in the library.
std::vector<std::string> ParsedNames(const TempTestFolder& folder, const char* library,
                                     const char* obj, KObjParser& parser) {
    Write(folder / "lib.mtl", library);
    Write(folder / "in.obj", obj);
    EXPECT_EQ(parser.ReadFile((folder / "in.obj").c_str()), KObjParser::eRead);
    EXPECT_EQ(parser.GetStatus(), "");
    std::vector<std::string> names;
    for (const KObjMaterial& m : parser.GetMaterials()) {
        names.push_back(m.name);
        EXPECT_TRUE(m.defined) << m.name;
    }
    return names;
}

}  // namespace

TEST(ObjMaterialNames, NamesWithBlanksStayApartThroughReadAndWrite) {
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    KObjParser parser;
    EXPECT_EQ(ParsedNames(folder, kLibrary, kObj, parser),
              (std::vector<std::string>{"Hard Shiny Plastic White", "Hard Shiny Plastic Black",
                                        "Hard\tMatte", "Red"}));
    const KObjGroup& group = parser.GetGroups().at("default");
    ASSERT_EQ(group.faces.size(), 5u);
    for (size_t f = 0; f < group.faces.size(); ++f)
        EXPECT_EQ(parser.GetMaterials()[size_t(group.faces[f].material)].diffuse[0], kFaceRed[f])
            << f;

    // Through the scene and the writer: the names go out whole, their blanks made "_", so a
    // reader that takes one word after usemtl finds them too.
    KQovObjectManager manager;
    KQovScene* scene = ReadScene(manager, folder / "in.obj");
    ASSERT_NE(scene, nullptr);
    KQovMesh* mesh = FirstMesh(scene->GetRootNode());
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(PolygonReds(mesh), std::vector<double>(std::begin(kFaceRed), std::end(kFaceRed)));
    KQovExporter exporter(&manager);
    ASSERT_TRUE(exporter.Initialize((folder / "out.obj").c_str()));
    exporter.SetFileFormat(18);
    KStreamOptionsObj options;
    ASSERT_TRUE(exporter.Export(scene, &options));
    const std::string mtl = ReadText(folder / "out.mtl");
    const std::string obj = ReadText(folder / "out.obj");
    for (const char* name :
         {"Hard_Shiny_Plastic_White", "Hard_Shiny_Plastic_Black", "Hard_Matte", "Red"}) {
        EXPECT_NE(mtl.find(std::string("\nnewmtl ") + name + "\n"), std::string::npos) << mtl;
        EXPECT_NE(obj.find(std::string("\nusemtl ") + name + "\n"), std::string::npos) << obj;
    }

    // Read back, the faces keep their materials.
    KQovObjectManager again;
    KQovScene* back = ReadScene(again, folder / "out.obj");
    ASSERT_NE(back, nullptr);
    KQovMesh* backMesh = FirstMesh(back->GetRootNode());
    ASSERT_NE(backMesh, nullptr);
    EXPECT_EQ(PolygonReds(backMesh), std::vector<double>(std::begin(kFaceRed), std::end(kFaceRed)));

#ifdef QOV_HAVE_TINYOBJ
    tinyobj::attrib_t attrib;
    std::vector<tinyobj::shape_t> shapes;
    std::vector<tinyobj::material_t> materials;
    std::string warn, error;
    ASSERT_TRUE(tinyobj::LoadObj(&attrib, &shapes, &materials, &warn, &error,
                                 (folder / "out.obj").c_str(), (folder.path() + "/").c_str(),
                                 false))
        << error;
    EXPECT_EQ(warn.find("not found"), std::string::npos) << warn;
    std::vector<double> reds;
    for (const auto& shape : shapes)
        for (int id : shape.mesh.material_ids) {
            ASSERT_GE(id, 0);
            reds.push_back(materials[size_t(id)].diffuse[0]);
        }
    EXPECT_EQ(reds, std::vector<double>(std::begin(kFaceRed), std::end(kFaceRed)));
#else
    GTEST_SKIP()
        << "tinyobjloader is not installed (scripts/install-deps.sh): no independent check";
#endif
}

TEST(ObjSkips, WhatIsNotReadIsToldOnce) {
    const struct {
        const char* text;
        const char* status;  // the whole status text
        size_t faces;
    } rows[] = {
        {"v 0 0 0\nv 1 0 0\nl 1 2\nl 2 1\np 1\nl 1 2\n",
         "3 line and 1 point elements are not read\n"
         "No geometry read: the file holds 2 vertices and no face or surface\n",
         0},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\n",
         "No geometry read: the file holds 3 vertices and no face or surface\n", 0},
        {"v 0 0 0\nv 1 0 0\nf 1 2\n",  // a face of two corners is no face
         "No geometry read: the file holds 2 vertices and no face or surface\n", 0},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\nl 1 2\n", "1 line element is not read\n", 1},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\ncurv 0 1 1 2\nend\np 1\nl 1 2\n",
         "1 line, 1 point and 1 curve elements are not read\n", 1},
        {"v 0 0 0\ncstype bezier\nsurf 0 1 0 1 1\nend\n",
         "1 surface element is not read\n"
         "No geometry read: the file holds 1 vertex and no face or surface\n",
         0},
        {"", "", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        KObjParser parser;
        ASSERT_EQ(parser.ReadText(row.text, "/nonexistent/x.obj"), KObjParser::eRead);
        EXPECT_EQ(parser.GetStatus(), row.status);
        size_t faces = 0;
        for (const auto& group : parser.GetGroups()) faces += group.second.faces.size();
        EXPECT_EQ(faces, row.faces);
    }
}

// UTF-16 in either byte order, with or without its mark, is refused; 8-bit text that merely
// holds a zero byte is not.
TEST(ObjSkips, WideTextIsRefused) {
    auto wide = [](const std::string& text, bool bigEndian, bool mark) {
        std::string out = mark ? (bigEndian ? "\xFE\xFF" : "\xFF\xFE") : "";
        for (char c : text) out += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
        return out;
    };
    const std::string text = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
    for (bool bigEndian : {false, true})
        for (bool mark : {false, true}) {
            SCOPED_TRACE(std::to_string(bigEndian) + std::to_string(mark));
            KObjParser parser;
            EXPECT_EQ(parser.ReadText(wide(text, bigEndian, mark), "x.obj"), KObjParser::eWideText);
            EXPECT_NE(parser.GetFailure().find("UTF-16"), std::string::npos);
        }
    KObjParser parser;
    EXPECT_EQ(parser.ReadText(text + std::string("#\0\n", 3), "x.obj"), KObjParser::eRead);
    EXPECT_EQ(parser.GetGroups().at("default").faces.size(), 1u);
}

namespace {

// Materials and groups whose names differ only in case, and names used in another case than
// the only definition (as systems that fold case write them), before or after the name itself.
const char* const kCaseLibrary =
    "newmtl Red\nKd 1 0 0\nnewmtl red\nKd 0.25 0 1\nnewmtl Green\nKd 0.5 1 0\n"
    "newmtl Blue\nKd 0.75 0 1\n";
const char* const kCaseObj =
    "mtllib lib.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
    "g Box\nusemtl Red\nf 1 2 3\n"
    "g box\nusemtl red\nf 1 3 4\n"
    "g Leaf\nusemtl Green\nf 2 3 4\nusemtl GREEN\nf 1 2 4\nusemtl RED\nf 4 3 2\n"
    "g Sky\nusemtl BLUE\nf 1 2 3\nusemtl Blue\nf 1 3 4\n";

// Each mesh node's polygon reds by node name, to two places (3DS keeps bytes).
std::map<std::string, std::vector<double>> MeshReds(KQovNode* node) {
    std::map<std::string, std::vector<double>> out;
    std::vector<KQovNode*> nodes;
    conversiontest::CollectNodes(node, nodes);
    for (KQovNode* n : nodes)
        if (auto* mesh = dynamic_cast<KQovMesh*>(n->GetNodeAttribute()))
            for (double red : PolygonReds(mesh))
                out[n->GetNameWithoutPrefix().Buffer()].push_back(std::round(red * 100) / 100);
    return out;
}

}  // namespace

// Materials whose library names differ where the scene's names meet: an empty name beside the
// name the library gives it, a name-space prefix the library cuts.
const char* const kMeetingLibrary =
    "newmtl \nKd 1 0 0\nnewmtl Name\nKd 0.25 0 1\n"
    "newmtl a::X\nKd 0.5 1 0\nnewmtl X\nKd 0.75 0 1\n";
const char* const kMeetingObj =
    "mtllib lib.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
    "g Box\nusemtl \nf 1 2 3\ng Cap\nusemtl Name\nf 1 3 4\n"
    "g Leaf\nusemtl a::X\nf 2 3 4\ng Sky\nusemtl X\nf 1 2 4\n";

TEST(ObjMaterialNames, NamesApartButForCaseStayApartThroughEveryWriter) {
    struct Case {
        const char* library;
        const char* obj;
        std::vector<std::string> parsed;
        std::map<std::string, std::vector<double>> reds;
    };
    const Case cases[] = {
        {kCaseLibrary,
         kCaseObj,
         {"Red", "red", "Green", "Blue"},
         {{"Box", {1.0}}, {"box", {0.25}}, {"Leaf", {0.5, 0.5, 1.0}}, {"Sky", {0.75, 0.75}}}},
        {kMeetingLibrary,
         kMeetingObj,
         {"", "Name", "a::X", "X"},
         {{"Box", {1.0}}, {"Cap", {0.25}}, {"Leaf", {0.5}}, {"Sky", {0.75}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.library);
        TempTestFolder folder;
        ASSERT_TRUE(folder.ok());
        KObjParser parser;
        EXPECT_EQ(ParsedNames(folder, c.library, c.obj, parser), c.parsed);
        const std::map<std::string, std::vector<double>>& expected = c.reds;
        conversiontest::TestScene read;
        std::unique_ptr<KStreamOptions> options;
        std::string error;
        ASSERT_TRUE(conversiontest::ReadScene(read, folder / "in.obj", options, error)) << error;
        EXPECT_EQ(MeshReds(read.scene->GetRootNode()), expected);
        std::vector<std::string> names;  // the scene's, which no write changes
        for (int i = 0; i < read.scene->GetEntityContainer()->GetMaterialCount(); ++i)
            names.push_back(read.scene->GetEntityContainer()->GetMaterial(i)->GetName());
        // Through each writer and back: the colours stay each mesh's; the names stay apart (a
        // writer that cannot tell them apart renames with a word).
        for (const char* route : {"qov", "obj", "3ds"}) {
            SCOPED_TRACE(route);
            const std::string path = folder / (std::string("out.") + route);
            std::string status;
            ASSERT_TRUE(conversiontest::WriteScene(read, path, error, &status)) << error;
            conversiontest::TestScene back;
            ASSERT_TRUE(conversiontest::ReadScene(back, path, options, error)) << error;
            std::map<std::string, std::vector<double>> reds = MeshReds(back.scene->GetRootNode());
            std::multiset<std::vector<double>> colours, expectedColours;
            for (const auto& entry : reds) colours.insert(entry.second);
            for (const auto& entry : expected) expectedColours.insert(entry.second);
            EXPECT_EQ(colours, expectedColours) << status;
            EXPECT_EQ(reds["Box"], std::vector<double>{1.0}) << status;
            EXPECT_EQ(back.scene->GetEntityContainer()->GetMaterialCount(), int(names.size()))
                << status;
            for (size_t i = 0; i < names.size(); ++i)
                EXPECT_EQ(read.scene->GetEntityContainer()->GetMaterial(int(i))->GetName(),
                          names[i]);
        }
        if (c.library != kCaseLibrary) continue;
#ifdef QOV_HAVE_TINYOBJ
        // The file written as another reader reads it: two groups, each its own colour.
        tinyobj::attrib_t attrib;
        std::vector<tinyobj::shape_t> shapes;
        std::vector<tinyobj::material_t> materials;
        std::string warn;
        ASSERT_TRUE(tinyobj::LoadObj(&attrib, &shapes, &materials, &warn, &error,
                                     (folder / "out.obj").c_str(), (folder.path() + "/").c_str(),
                                     false))
            << error;
        std::map<std::string, std::vector<double>> reds;
        for (const auto& shape : shapes)
            for (int id : shape.mesh.material_ids)
                reds[shape.name].push_back(id < 0 ? -1.0 : materials[size_t(id)].diffuse[0]);
        EXPECT_EQ(reds.size(), 4u);
        EXPECT_EQ(reds["Box"], std::vector<double>{1.0});
        EXPECT_EQ(reds["Leaf"], (std::vector<double>{0.5, 0.5, 1.0}));
        EXPECT_EQ(reds["Sky"], (std::vector<double>{0.75, 0.75}));
#endif
    }
}
