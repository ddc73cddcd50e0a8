#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "formats/geometry/3ds/K3dsNameTable.h"

namespace {

struct NameCase {
    int limit;
    const char* name;
    const char* expected;
    bool numbered;
};

// Each table is one pass: names run through a single table in order.
struct NamePass {
    const char* title;
    std::vector<NameCase> names;
};

TEST(K3dsNameTable, PassesShortenAndNumber) {
    const std::vector<NamePass> passes = {
        {"three equal",
         {{10, "Model::Cube", "Cube", false},
          {10, "Model::Cube", "Cube1", true},
          {10, "Model::Cube", "Cube2", true}}},
        {"long names share a cut",
         {{10, "Model::LongNodeName1", "LongNod", false},
          {10, "Model::LongNodeName2", "LongNod1", true}}},
        {"node and material share the table",
         {{10, "Model::Box", "Box", false}, {15, "Material::Box", "Box1", true}}},
        // A numbered name is taken too: counting goes on until a name is free.
        {"numbered names entered",
         {{10, "Model::Box", "Box", false},
          {10, "Model::Box1", "Box1", false},
          {10, "Model::Box", "Box2", true},
          {10, "Model::Box1", "Box11", true}}},
        {"only the class prefix goes", {{10, "Model::ns::Arm", "ns::Arm", false}}},
        // A cut, or a number put in, never ends inside a character of several bytes.
        {"cuts keep whole characters",
         {{10, "Model::abcdef\xc3\xa9xyz", "abcdef", false},
          {10, "Model::abcdef\xc3\xa9xyz", "abcdef1", true},
          {10, "Model::abcdefgh\xc3\xa9", "abcdefgh\xc3\xa9", false},
          {10, "Model::abcdefgh\xc3\xa9", "abcdefgh1", true}}},
        {"material limit", {{15, "Material::VeryLongMaterialName", "VeryLongMate", false}}},
        {"case counts", {{10, "box", "box", false}, {10, "Box", "Box", false}}},
        {"empty name", {{10, "Model::", "", false}, {10, "", "1", true}}},
        // Names that fit their field come back as they are.
        {"fitting names kept",
         {{10, "Model::Quader01", "Quader01", false},
          {10, "Model::Quader02", "Quader02", false},
          {10, "Model::Quader03", "Quader03", false},
          {10, "Model::Quader04", "Quader04", false},
          {10, "Model::Quader05", "Quader05", false},
          {10, "Model::Camera01", "Camera01", false},
          {10, "Model::Quader01", "Quader011", true}}},
        {"full field",
         {{10, "Model::Cylinder01", "Cylinder01", false},
          {10, "Model::Cylinder01", "Cylinder02", true},  // "Cylinder01" cut for the 1 is taken
          {10, "Model::Cylinder02", "Cylinder03", true},
          {15, "Material::FifteenCharName", "FifteenCharName", false},
          {15, "Material::FifteenCharName", "FifteenCharNam1", true},
          {15, "Material::FifteenCharNameX", "FifteenCharN", false}}},
        // Names that stand for the reference node and for dummies are never handed out.
        {"reserved names",
         {{10, "Model::RootNode", "RootNode", false},
          {10, "Model::RootNod", "RootNod1", true},
          {10, "Model::$$$DUMMY", "$$$DUMMY1", true},
          {10, "Model::Qov_Root", "Qov_Root", false}}},
        // A dummy as the reader names it goes back under its instance name.
        {"dummies read",
         {{10, "Model::$$$DUMMY.lineTes", "lineTes", false},
          {10, "Model::$$$DUMMY.lineTes", "lineTes1", true},
          {10, "Model::$$$DUMMY.abcdefghijk", "$$$DUMM", false},
          {10, "Model::$$$DUMMY.", "$$$DUMMY.", false}}},
        // A number is itself checked against every name in use.
        {"numbers skip names in use",
         {{10, "Model::Cube1", "Cube1", false},
          {10, "Model::Cube", "Cube", false},
          {10, "Model::Cube", "Cube2", true},
          {10, "Model::LongNodeName1", "LongNod", false},
          {10, "Model::LongNod1", "LongNod1", false},
          {10, "Model::LongNodeName2", "LongNod2", true}}},
    };
    for (const NamePass& pass : passes) {
        K3dsNameTable table;
        for (const NameCase& c : pass.names) {
            KQovNamePair pair(c.name);
            EXPECT_EQ(table.RenameToLength(pair, c.limit), c.numbered)
                << pass.title << " " << c.name;
            EXPECT_STREQ(pair.GetCurrentName(), c.expected) << pass.title << " " << c.name;
            EXPECT_STREQ(pair.initialName.Buffer(), c.name);
        }
    }
}

// Read and written again, a dummy's name is no news: only a cut of another name is told.
TEST(K3dsNameTable, DummyReadBackIsNotTold) {
    K3dsNameTable table;
    KQovNamePair dummy("Model::$$$DUMMY.lineTes"), other("Model::$$$DUMMY.abcdefghijk");
    table.RenameToLength(dummy, 10, true, "Node");
    EXPECT_EQ(table.GetWarnings(), "");
    table.RenameToLength(other, 10, true, "Node");
    EXPECT_NE(table.GetWarnings().find("Node \"$$$DUMMY.abcdefghijk\" written as \"$$$DUMM\""),
              std::string::npos)
        << table.GetWarnings();
}

TEST(K3dsNameTable, ManyEqualNamesStayShortAndDistinct) {
    K3dsNameTable table;
    std::vector<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        KQovNamePair pair("Model::Cylinder01");
        table.Rename(pair);  // the object limit, 10
        const std::string name = pair.GetCurrentName();
        EXPECT_LE(name.size(), 10u);
        EXPECT_EQ(std::find(seen.begin(), seen.end(), name), seen.end()) << name;
        seen.push_back(name);
    }
}

}  // namespace
