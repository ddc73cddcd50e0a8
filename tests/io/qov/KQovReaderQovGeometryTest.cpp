#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "FieldFileTestUtil.h"
#include "ReaderTestUtil.h"
#include "attributes/KQovMesh.h"
#include "foundation/KLocale.h"
#include "scene/KQovNode.h"

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
