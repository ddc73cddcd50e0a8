#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "DxfTestText.h"
#include "attributes/KQovMesh.h"
#include "formats/geometry/dxf/KDxfDrawingReader.h"

namespace {

const char* kDoorBlock =
    "0|SECTION|2|BLOCKS|0|BLOCK|8|0|2|DOOR|70|0|10|1|20|2|30|0|0|LINE|10|0|11|1|0|ENDBLK|"
    "0|BLOCK|2|EMPTY|0|ENDBLK|"
    "0|BLOCK|2|HOLDER|0|INSERT|2|DOOR|0|ENDBLK|"
    "0|BLOCK|2|LOOP|0|INSERT|2|LOOP2|0|LINE|11|1|0|ENDBLK|"
    "0|BLOCK|2|LOOP2|0|INSERT|2|LOOP|0|ENDBLK|0|ENDSEC|";

std::string Names(const KDxfNodeList& nodes) {
    std::string out;
    for (const auto& n : nodes) {
        out += (out.empty() ? "" : " ") + n->name;
        if (!n->children.empty()) out += "(" + Names(n->children) + ")";
    }
    return out;
}

}  // namespace

// Whole files: what ends a read, what it leaves, and the node names in each mode.
TEST(KDxfDrawingReader, Files) {
    const std::string header = "0|SECTION|2|HEADER|9|$ACADVER|1|AC1008|0|ENDSEC|";
    struct Case {
        const char* name;
        std::string text;
        int mode;
        bool result;
        const char* names;
    } cases[] = {
        {"only header, tables and EOF",
         DxfText(header + "0|SECTION|2|TABLES|0|TABLE|2|LTYPE|0|ENDTAB|0|ENDSEC|0|EOF"), 0, true, ""},
        {"EOF as a layer name does not end the file",
         DxfEntities("0|LINE|8|EOF|11|1|0|LINE|8|EOF|11|2|"), 1, true, "LINE LINE1"},
        {"a table section without LAYER table, then entities",
         DxfEntities("0|3DFACE|8|A|11|1|12|1|22|1|", "0|SECTION|2|TABLES|0|ENDSEC|"), 0, true, "A"},
        {"an empty table section", DxfEntities("0|LINE|8|Z|11|1|", "0|SECTION|2|TABLES|0|ENDSEC|"), 0, true, "Z"},
        {"a layer name with a blank is read whole", DxfEntities("0|LINE|8|ROOF TOP|11|1|"), 0, true, "ROOF TOP"},
        {"layers alike up to a blank stay apart",
         DxfEntities("0|LINE|8|Wall Exterior|11|1|0|LINE|8|Wall Interior|11|1|"), 0, true,
         "Wall Exterior Wall Interior"},
        {"blanks around a layer name make a layer of its own, named without them",
         DxfEntities("0|LINE|8| Wall \t\r|11|1|0|LINE|8|Wall|11|1|0  |LINE  |8|Wall\r|11|1|"), 0,
         true, "Wall Wall1"},
        {"a layer reading as another is numbered past the file's own names",
         DxfEntities("0|LINE|8|Wall|11|1|0|LINE|8|Wall |11|1|0|LINE|8|Wall1|11|1|"), 0, true,
         "Wall Wall2 Wall1"},
        {"a block name of blanks names no block",
         DxfEntities("0|INSERT|2|   |0|LINE|11|1|", kDoorBlock), 1, true, "LINE"},
        {"block names alike up to a blank each insert their own block",
         DxfEntities("0|INSERT|2|Door Left|0|INSERT|2|Door Right|",
                     "0|SECTION|2|BLOCKS|0|BLOCK|2|Door Left|0|LINE|11|1|0|ENDBLK|"
                     "0|BLOCK|2|Door Right|0|INSERT|2|Door Left|0|ENDBLK|0|ENDSEC|"),
         1, true, "Door Left Door Right(Door Left1)"},
        {"block names alike up to a blank after them each insert their own block",
         DxfEntities("0|INSERT|2|Door|0|INSERT|2|Door |",
                     "0|SECTION|2|BLOCKS|0|BLOCK|2|Door|0|LINE|11|1|0|ENDBLK|"
                     "0|BLOCK|2|Door |0|INSERT|2|Door|0|ENDBLK|0|ENDSEC|"),
         1, true, "Door Door1(Door2)"},
        {"truncated inside the entities", DxfText("0|SECTION|2|ENTITIES|0|LINE|8|A|11|1|"), 1, false, ""},
        {"no entities section", DxfText(header), 0, false, ""},
        {"a code line that is no number", DxfText("0|SECTION|2|ENTITIES|x|LINE"), 0, false, ""},
        {"two inserts of a block, an empty block, a block of instances",
         DxfEntities("0|INSERT|2|DOOR|0|INSERT|2|DOOR|0|INSERT|2|EMPTY|0|INSERT|2|HOLDER|0|INSERT|2|NONE|",
                     kDoorBlock),
         1, true, "DOOR DOOR1 HOLDER(DOOR2)"},
        {"blocks mode: loose geometry as ENTITIES beside the instances",
         DxfEntities("0|LINE|11|1|0|INSERT|2|DOOR|", kDoorBlock), 2, true, "DOOR ENTITIES"},
        {"a multiple insert places each cell",
         DxfEntities("0|INSERT|2|DOOR|70|2|71|2|44|1|45|1|0|INSERT|2|DOOR|70|-3|71|0|44|1|45|1|", kDoorBlock),
         1, true, "DOOR DOOR1 DOOR2 DOOR3 DOOR4"},
        {"paper space is left out, its polyline's vertices too",
         DxfEntities("0|LINE|67|1|11|1|0|INSERT|67|1|2|DOOR|0|POLYLINE|67|1|70|8|0|VERTEX|67|1|10|1|"
                     "70|32|0|SEQEND|67|1|0|3DFACE|67|0|11|1|12|1|22|1|0|MESH|67|1|92|1|10|0|",
                     kDoorBlock),
         1, true, "3DFACE"},
        {"paper space, layer mode", DxfEntities("0|LINE|8|A|67|1|11|1|0|LINE|8|B|11|1|"), 0, true, "B"},
        {"paper space, blocks mode",
         DxfEntities("0|LINE|67|1|11|1|0|INSERT|67|1|2|DOOR|0|INSERT|2|DOOR|", kDoorBlock), 2, true,
         "DOOR"},
        {"blocks after the entities", DxfText("0|SECTION|2|ENTITIES|0|INSERT|2|DOOR|0|ENDSEC|" +
                                              std::string(kDoorBlock) + "0|EOF"),
         1, true, "DOOR"},
        {"a block that inserts itself through another", DxfEntities("0|INSERT|2|LOOP|0|LINE|11|1|", kDoorBlock), 1,
         true, "LOOP LINE"},
        // Names that need no change keep them: instances and layers numbered past all of them.
        {"instances numbered past a later instance's and a layer's name",
         DxfEntities("0|INSERT|2|DOOR|0|INSERT|2|DOOR|0|INSERT|2|DOOR1|0|LINE|8|DOOR2|11|1|"
                     "0|LINE|8|DOOR|11|1|",
                     std::string(kDoorBlock).insert(19, "0|BLOCK|2|DOOR1|0|LINE|11|1|0|ENDBLK|")),
         0, true, "DOOR DOOR3 DOOR1 DOOR4 DOOR2"},
        {"entities numbered past a later block's name",
         DxfEntities("0|LINE|11|1|0|LINE|11|1|0|INSERT|2|LINE1|",
                     "0|SECTION|2|BLOCKS|0|BLOCK|2|LINE1|0|LINE|11|1|0|ENDBLK|0|ENDSEC|"),
         1, true, "LINE LINE2 LINE1"},
    };
    for (const Case& c : cases) {
        KDxfDrawingReader reader(c.mode, true);
        EXPECT_EQ(reader.Read(c.text), c.result) << c.name;
        EXPECT_EQ(Names(reader.GetNodes()), c.names) << c.name;
    }
    // A layer numbered is told; an instance numbered past another instance of its block is
    // not, past an entity's mesh it is.
    KDxfDrawingReader layers(0, true);
    layers.Read(cases[std::size(cases) - 2].text);
    EXPECT_EQ(layers.GetStatus(),
              "Layer \"DOOR\" read as \"DOOR4\": another mesh has the name\n");
    KDxfDrawingReader entities(1, true);
    entities.Read(DxfEntities("0|LINE|11|1|0|INSERT|2|LINE|",
                              "0|SECTION|2|BLOCKS|0|BLOCK|2|LINE|0|LINE|11|1|0|ENDBLK|0|ENDSEC|"));
    EXPECT_EQ(Names(entities.GetNodes()), "LINE LINE1");
    EXPECT_EQ(entities.GetStatus(),
              "Instance of block \"LINE\" read as \"LINE1\": another mesh has the name\n");
}

// What a read leaves out is told, a kind at a time, each entity once however often its
// block is placed.
TEST(KDxfDrawingReader, WarningsNameWhatIsLeftOut) {
    const std::string blocks =
        "0|SECTION|2|BLOCKS|0|BLOCK|2|S|0|REGION|0|BODY|0|REGION|0|MESH|91|1|92|1|10|0|93|2|90|1|"
        "90|0|0|ENDBLK|0|ENDSEC|";
    struct Case {
        const char* name;
        std::string text;
        int mode;
        const char* status;
    } cases[] = {
        {"solids of a block placed twice",
         DxfEntities("0|INSERT|2|S|0|INSERT|2|S|0|3DSOLID|0|3DSOLID|0|REGION|67|1|", blocks), 1,
         "2 3DSOLID entities are not read: this reader does not take their surfaces\n"
         "1 BODY entity is not read: this reader does not take its surfaces\n"
         "2 REGION entities are not read: this reader does not take their surfaces\n"
         "1 MESH entity is read as its base cage: its subdivision (group 91) is not applied\n"
         "1 MESH entity has faces that are not read: of fewer than 3 corners, or of a vertex it "
         "does not hold\n"
         "1 entity of paper space (group 67) is left out: only model space is read\n"},
        {"paper space in the layer mode",
         DxfEntities("0|LINE|67|1|11|1|0|3DFACE|67|1|0|LINE|67|0|11|1|0|POLYLINE|67|1|70|8|"
                     "0|VERTEX|67|1|70|32|0|SEQEND|"),
         0, "3 entities of paper space (group 67) are left out: only model space is read\n"},
        {"entities the reader passes over anyway are not counted",
         DxfEntities("0|CIRCLE|67|1|0|TEXT|67|1|"), 0, ""},
    };
    for (const Case& c : cases) {
        KDxfDrawingReader reader(c.mode, true);
        ASSERT_TRUE(reader.Read(c.text)) << c.name;
        EXPECT_EQ(reader.GetStatus(), c.status) << c.name;
    }
}

TEST(KDxfDrawingReader, SelfInsertIsReportedAndNestingCapped) {
    KDxfDrawingReader loop(KDxfDrawingReader::eByEntity, true);
    const std::string looping = DxfEntities("0|INSERT|2|LOOP|", kDoorBlock);
    ASSERT_TRUE(loop.Read(looping));
    EXPECT_NE(loop.GetStatus().find("Block LOOP inserts itself"), std::string::npos) << loop.GetStatus();

    // A chain of distinct blocks deeper than the cap stops at the cap.
    std::string blocks = "0|SECTION|2|BLOCKS|";
    for (int i = 0; i < 100; ++i)
        blocks += "0|BLOCK|2|B" + std::to_string(i) + "|0|INSERT|2|B" + std::to_string(i + 1) +
                  "|0|LINE|11|1|0|ENDBLK|";
    blocks += "0|ENDSEC|";
    KDxfDrawingReader deep(KDxfDrawingReader::eByEntity, true);
    const std::string text = DxfEntities("0|INSERT|2|B0|", blocks);
    ASSERT_TRUE(deep.Read(text));
    int depth = 0;
    for (const KDxfNodeRecord* n = deep.GetNodes()[0].get(); n; n = n->children.empty() ? nullptr : n->children[0].get())
        ++depth;
    EXPECT_EQ(depth, KDxfDrawingReader::kMaxInsertDepth);
    EXPECT_NE(deep.GetStatus().find("nested too deeply"), std::string::npos);

    // Blocks that each insert the next twice would make 2^30 instances.
    std::string doubling = "0|SECTION|2|BLOCKS|";
    for (int i = 0; i < 30; ++i) {
        const std::string next = "0|INSERT|2|D" + std::to_string(i + 1) + "|";
        doubling += "0|BLOCK|2|D" + std::to_string(i) + "|" + next + next + "0|ENDBLK|";
    }
    doubling += "0|ENDSEC|";
    KDxfDrawingReader wide(KDxfDrawingReader::eByEntity, false);
    const std::string wideText = DxfEntities("0|INSERT|2|D0|", doubling);
    ASSERT_TRUE(wide.Read(wideText));
    EXPECT_NE(wide.GetStatus().find("Too many block instances"), std::string::npos);
}

// Instance transforms: scaling and rotation in scene axes, and the translation that puts the
// block's base point (1, 2, 0), scaled and rotated, on the insertion point.
TEST(KDxfDrawingReader, InsertTransform) {
    struct Case {
        const char* insert;
        bool scaled, rotated;
        KVector4 scaling, rotation, translation;
    } cases[] = {
        {"0|INSERT|2|DOOR|10|1|20|2|", false, false, {}, {}, {0, 0, 0}},
        {"0|INSERT|2|DOOR|10|5|20|5|30|1|41|2|42|3|43|4|", true, false, {2, 4, 3}, {}, {3, 1, 1}},
        {"0|INSERT|2|DOOR|50|90|", false, true, {}, {0, 90, 0}, {2, 0, 1}},
    };
    for (const auto& c : cases) {
        KDxfDrawingReader reader(KDxfDrawingReader::eByEntity, true);
        const std::string text = DxfEntities(c.insert, kDoorBlock);
        ASSERT_TRUE(reader.Read(text));
        const KDxfNodeRecord& n = *reader.GetNodes()[0];
        EXPECT_EQ(n.hasScaling, c.scaled) << c.insert;
        EXPECT_EQ(n.hasRotation, c.rotated) << c.insert;
        EXPECT_TRUE(!c.scaled || n.scaling == c.scaling) << c.insert;
        EXPECT_TRUE(!c.rotated || n.rotation == c.rotation) << c.insert;
        EXPECT_EQ(n.hasTranslation, !(c.translation == KVector4(0, 0, 0))) << c.insert;
        EXPECT_EQ(n.translation, c.translation) << c.insert;
    }
}

TEST(KDxfDrawingReader, LayerTableAndBinaryFiles) {
    const std::string tables =
        "0|SECTION|2|TABLES|0|TABLE|2|LTYPE|0|LTYPE|2|X|0|ENDTAB|0|TABLE|2|LAYER|70|2|"
        "0|LAYER|2|ROOF|62|-5|0|LAYER|2|WALLS|62|3|0|LAYER|2|Roof Top|62|-2|0|LAYER|2|WALLS |62|-4|"
        "0|ENDTAB|0|ENDSEC|";
    KDxfDrawingReader reader(KDxfDrawingReader::eByLayer, true);
    const std::string text =
        DxfEntities("0|LINE|8|roof|11|1|0|LINE|8|WALLS|11|1|0|LINE|8|ROOF TOP|11|1|"
                    "0|LINE|8|WALLS |11|1|",
                    tables);
    ASSERT_TRUE(reader.Read(text));
    EXPECT_EQ(reader.GetLayers().at("Roof"), -5);
    // "WALLS " is a layer of its own, switched off as its entry says.
    ASSERT_EQ(Names(reader.GetNodes()), "roof ROOF TOP WALLS WALLS1");
    EXPECT_FALSE(reader.GetNodes()[0]->visible);
    EXPECT_FALSE(reader.GetNodes()[1]->visible);
    EXPECT_TRUE(reader.GetNodes()[2]->visible);
    EXPECT_FALSE(reader.GetNodes()[3]->visible);
    EXPECT_EQ(reader.GetStatus(),
              "Layer \"WALLS \" read as \"WALLS1\": blanks around a name are dropped; another "
              "mesh has the name\n");

    KDxfDrawingReader binary(KDxfDrawingReader::eByLayer, true);
    const std::string bytes("Binary DXF\r\n\x1a\0\0\0", 16);
    EXPECT_FALSE(binary.Read(bytes));
    EXPECT_TRUE(binary.IsCorrupt());
}

TEST(KDxfDrawingReader, SampleFiles) {
    const std::string folder = std::string(QOV_TESTDATA_DIR) + "/dxf/";
    struct Case {
        const char* file;
        int mode;
        const char* names;
        int points, polygons;
    } cases[] = {
        {"lineTest.dxf", 0, "1", 6, 3},
        {"lineTest.dxf", 1, "3DFACE 3DFACE1 LINE", 4, 1},
        {"wuson.dxf", 0, "Mesh", 3205, 3732},
        {"wuson.dxf", 2, "Mesh", 3205, 3732},
    };
    for (const auto& c : cases) {
        std::ifstream in(folder + c.file, std::ios::binary);
        ASSERT_TRUE(in) << "test data missing: " << folder << c.file;
        std::stringstream buffer;
        buffer << in.rdbuf();
        const std::string text = buffer.str();
        KDxfDrawingReader reader(c.mode, true);
        ASSERT_TRUE(reader.Read(text)) << c.file;
        EXPECT_EQ(Names(reader.GetNodes()), c.names) << c.file;
        const KQovMesh& mesh = *reader.GetNodes()[0]->mesh;
        EXPECT_EQ(mesh.GetControlPointsCount(), c.points) << c.file;
        EXPECT_EQ(mesh.GetPolygonCount(), c.polygons) << c.file;
    }
}

// A file cut anywhere, or with a line damaged anywhere, reads without fault in every mode.
TEST(KDxfDrawingReader, DamagedFiles) {
    const std::string path = std::string(QOV_TESTDATA_DIR) + "/dxf/lineTest.dxf";
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in) << "test data missing: " << path;
    const std::string whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string blocks = std::string("0|SECTION|2|BLOCKS|0|BLOCK|2|B|0|INSERT|2|B|0|3DFACE|11|1|0|ENDBLK|0|ENDSEC|");
    const std::string nested = DxfEntities("0|INSERT|2|B|0|INSERT|2|B|", blocks);
    for (const std::string* source : {&whole, &nested})
        for (size_t cut = 0; cut < source->size(); ++cut)
            for (int mode : {0, 1, 2}) {
                KDxfDrawingReader truncated(mode, true);
                truncated.Read(source->substr(0, cut));
                std::string damaged = *source;
                damaged[cut] = damaged[cut] == '\n' ? 'x' : '\n';
                KDxfDrawingReader broken(mode, true);
                broken.Read(damaged);
            }
}
