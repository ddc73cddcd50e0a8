// Nodes build their property rows on first use: the files written from a scene must not tell
// whether its nodes built them at creation, late, or never, in any writing id; and reading a
// file back must give the same scene either way.

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <iterator>
#include <memory>
#include <string>

#include "KQovWriterQov5TestUtil.h"
#include "common/SceneDump.h"
#include "common/TempTestFolder.h"
#include "io/KQovImporter.h"
#include "io/qov/KQovPropertyFieldFile.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeProperties.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"
#include "scene/KQovUserProperty.h"

namespace {

using P = KQovNodeProperties;

// Sets made while one lives build their rows at once, as they always did.
struct BuiltAtOnce {
    BuiltAtOnce() { KQovPropertyHandler::SetDeferTables(false); }
    ~BuiltAtOnce() { KQovPropertyHandler::SetDeferTables(true); }
};

struct Built {
    KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();
};

// Plain nulls, pivots and limits kept in the rows, a hidden node, a target, a light and a
// user property, nested.
void Build(Built& built) {
    KQovObjectManager& m = built.manager;
    auto node = [&](const char* name, KQovNode* parent) {
        KQovNode* n = m.CreateNode(name);
        parent->AddChild(n);
        n->SetNodeAttribute(m.CreateNull());
        return n;
    };
    KQovNode* root = built.scene->GetRootNode();
    for (int i = 0; i < 5; ++i) node(("Plain" + std::to_string(i)).c_str(), root);
    KQovNode* pivoted = node("Pivoted", root);
    pivoted->SetRotationPivot(0, 1.0, 2.0, 3.0);
    pivoted->SetGeometricScaling(0, 2.0, 2.0, 2.0);
    pivoted->SetRotationOrder(0, 4);
    pivoted->SetPivotState(0, 0);
    KQovNode* rows = node("Rows", pivoted);
    rows->GetNodeProperties()->SetBool(P::eRotationActive, true);
    rows->GetNodeProperties()->SetVector(P::eRotationMax, KVector4(10.0, 20.0, 30.0, 1.0));
    rows->GetNodeProperties()->SetNumber(P::eInheritType, 2.0);
    rows->CopyPropertiesToPivots();
    node("Hidden", rows)->SetVisibility(false);
    node("Aiming", root)->SetLookAtTarget(rows);
    KQovNode* lamp = m.CreateNode("Lamp");
    root->AddChild(lamp);
    lamp->SetNodeAttribute(m.CreateLight());
    KQovNode* weighted = node("Weighted", root);
    KQovUserProperty* up = m.CreateUserProperty("Weight", "Real", "");
    up->SetFlag(KQovUserProperty::eFlagAnimatable, true);
    up->SetFlag(KQovUserProperty::eFlagUserProperty, true);
    weighted->AddUserProperty(up);
    up->SetValue(0.25);
}

bool Read(Built& built, const std::string& name) {
    KQovImporter importer(&built.manager);
    return importer.Initialize(name.c_str()) && importer.Import(built.scene, nullptr);
}

// The nodes under `node` whose rows wait.
int Waiting(KQovNode* node) {
    int count = 0;
    for (int i = 0; i < node->GetChildCount(); ++i) {
        KQovNode* child = node->GetChild(i);
        count += (child->GetNodeProperties()->IsTableWaiting() ? 1 : 0) + Waiting(child);
    }
    return count;
}

// A text file of `count` null models named `prefix` and their number. `records(i)` gives the
// records of model i's property block (none without `records`: the model has no block), and
// `parent(i)` what it is connected to (the scene without `parent`).
void WriteNulls(const std::string& path, int count, const char* prefix,
                const std::function<std::string(int)>& records,
                const std::function<std::string(int)>& parent = nullptr) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fprintf(f,
                 "; QOV 6.0.0 project file\n\nQOVHeaderExtension:  {\n    QOVHeaderVersion: "
                 "1003\n    QOVVersion: 6000\n}\nDefinitions:  {\n    Version: 100\n    Count: "
                 "%d\n    ObjectType: \"Model\" {\n        Count: %d\n    }\n}\nObjects:  {\n",
                 count, count);
    for (int i = 0; i < count; ++i) {
        std::fprintf(f, "    Model: \"Model::%s%d\", \"Null\" {\n", prefix, i);
        if (records)
            std::fprintf(f, "        Version: 232\n        Properties60:  {\n%s        }\n",
                         records(i).c_str());
        std::fputs("        Type: \"Null\"\n    }\n", f);
    }
    std::fputs("}\nConnections:  {\n", f);
    for (int i = 0; i < count; ++i)
        std::fprintf(f, "    Connect: \"OO\", \"Model::%s%d\", \"%s\"\n", prefix, i,
                     parent ? parent(i).c_str() : "Model::Scene");
    std::fputs("}\n", f);
    std::fclose(f);
}

// Reads `file` with rows built at once (eager) or left waiting.
bool ReadRows(Built& read, const std::string& file, bool eager) {
    std::unique_ptr<BuiltAtOnce> mode;
    if (eager) mode = std::make_unique<BuiltAtOnce>();
    return Read(read, file);
}

TEST(KQovWaitingRowsFile, WrittenBytesDoNotTellWhenRowsWereBuilt) {
    const struct {
        int id;
        const char* what;
    } kIds[] = {{0, "binary 6"}, {1, "text 6"}, {3, "binary 5"}, {4, "text 5"}};
    for (const auto& c : kIds) {
        SCOPED_TRACE(c.what);
        TempTestFolder tmp;
        std::unique_ptr<Built> atOnce;
        {
            BuiltAtOnce eager;
            atOnce = std::make_unique<Built>();
            Build(*atOnce);
        }
        Built late;
        Build(late);
        const int waiting = Waiting(late.scene->GetRootNode());
        EXPECT_GE(waiting, 5);  // the plain nulls at least
        const std::string expected = v5test::ExportStable(atOnce->scene, tmp / "at_once.qov", c.id);
        ASSERT_GT(expected.size(), 1000u);
        EXPECT_EQ(v5test::ExportStable(late.scene, tmp / "late.qov", c.id), expected);
        // Writing builds nothing.
        EXPECT_EQ(Waiting(late.scene->GetRootNode()), waiting);

        // Read back with rows built at once and late: the same scene, written the same again.
        std::string dumps[2], again[2];
        for (int eager = 0; eager < 2; ++eager) {
            SCOPED_TRACE(eager);
            Built read;
            ASSERT_TRUE(ReadRows(read, tmp / "late.qov", eager));
            again[eager] = v5test::ExportStable(read.scene, tmp / "again.qov", c.id);
            dumps[eager] = SceneDump::NodeTree(*read.scene->GetRootNode());
        }
        EXPECT_EQ(again[0], again[1]);
        EXPECT_EQ(dumps[0], dumps[1]);
    }
}

// Many nulls read from a file whose default channels and unbuilt rows repeat, change and come
// back, written past the writer's buffer: the same bytes as nodes that made their channels.
TEST(KQovWaitingRowsFile, RepeatedChannelsAndRowsAcrossTheBuffer) {
    const struct {
        const char* what;
        int nodes;
        int period;  // every period-th node is moved; 0: none
        bool hideToo;
        int offsets;  // every offsets-th node keeps a rotation offset in its unbuilt rows
    } kCases[] = {
        {"all alike", 1200, 0, false, 0},
        {"every other moved", 700, 2, false, 0},
        {"runs broken by a moved node", 900, 7, false, 0},
        {"moved and hidden", 800, 3, true, 0},
        {"rows kept apart every other node", 700, 0, false, 2},
        {"rows and channels changing", 800, 5, false, 3},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        TempTestFolder tmp;
        const std::string source = tmp / "nulls.qov";
        ASSERT_NO_FATAL_FAILURE(WriteNulls(source, c.nodes, "Null", [&c](int i) {
            std::string records;
            char line[128];
            if (c.period && i % c.period == 0) {
                std::snprintf(line, sizeof line,
                              "Property: \"Lcl Translation\", \"Lcl Translation\", \"A\",8,%d,1,"
                              "-2.5\n",
                              i % 5);
                records += line;
            }
            if (c.hideToo && i % 5 == 1)
                records += "Property: \"Visibility\", \"Visibility\", \"A\",8,0\n";
            if (c.offsets && i % c.offsets == 1) {
                std::snprintf(line, sizeof line,
                              "Property: \"RotationOffset\", \"Vector\", \"\",0,%d,2,3\n", i % 4);
                records += line;
            }
            return records;
        }));
        for (int id : {0, 3}) {
            SCOPED_TRACE(id == 0 ? "binary 6" : "binary 5");
            // Written as read, and after every node made its channels (no sketch to copy).
            std::string written[2];
            for (int made = 0; made < 2; ++made) {
                Built read;
                ASSERT_TRUE(Read(read, source));
                KQovNode* root = read.scene->GetRootNode();
                ASSERT_EQ(root->GetChildCount(), c.nodes);
                for (int i = 0; made && i < c.nodes; ++i)
                    ASSERT_NE(root->GetChild(i)->GetDefaultTakeNode(), nullptr);
                written[made] = v5test::ExportStable(read.scene, tmp / "out.qov", id);
            }
            ASSERT_GT(written[1].size(), size_t(1) << 20);  // past the output buffer
            EXPECT_TRUE(written[0] == written[1]);
        }
    }
}

// A file whose models list no property record (a hand-written text file) leaves the nodes
// waiting; what they are and how they are written again does not tell.
TEST(KQovWaitingRowsFile, ModelsWithoutRecordsStayWaiting) {
    TempTestFolder tmp;
    const std::string source = tmp / "nulls.qov";
    ASSERT_NO_FATAL_FAILURE(WriteNulls(source, 3, "Null", nullptr, [](int i) {
        return std::string(i == 2 ? "Model::Null1" : "Model::Scene");
    }));
    for (int id : {0, 1, 4}) {
        SCOPED_TRACE(id);
        std::string written[2], dumps[2];
        int records[2] = {0, 0};
        for (int eager = 0; eager < 2; ++eager) {
            Built read;
            ASSERT_TRUE(ReadRows(read, source, eager));
            KQovNode* root = read.scene->GetRootNode();
            ASSERT_EQ(root->GetChildCount(), 2);
            EXPECT_EQ(Waiting(root), eager ? 0 : 3);
            written[eager] = v5test::ExportStable(read.scene, tmp / "out.qov", id);
            EXPECT_EQ(Waiting(root), eager ? 0 : 3);
            records[eager] = read.manager.GetUserPropertyCount();
            dumps[eager] = SceneDump::NodeTree(*root);
        }
        EXPECT_EQ(written[0], written[1]);
        EXPECT_EQ(dumps[0], dumps[1]);
        EXPECT_EQ(records[0], records[1]);
    }
}

// Property records without channels: records that only set numbers of the rows (or values
// of the attribute's properties) leave a node waiting; a moved created row, a user record or
// a text value builds it. Either way the scene read is the one read with rows built at once.
TEST(KQovWaitingRowsFile, RecordsThatOnlySetNumbersKeepNodesWaiting) {
    const struct {
        const char* records;
        bool waits;
    } kModels[] = {
        {"", true},
        {"Property: \"RotationOffset\", \"Vector\", \"\",0,1,2,3\n"
         "Property: \"RotationActive\", \"bool\", \"\",0,7\n"
         "Property: \"InheritType\", \"enum\", \"\",0,2.75\n"
         "Property: \"AxisLen\", \"Number\", \"\",0,0.125\n"
         "Property: \"Lcl Scaling\", \"Lcl Scaling\", \"A\",8,1,1,1\n"
         "Property: \"Size\", \"Number\", \"\",0,42\n"
         "Property: \"LookAtProperty\", \"object\", \"\",0\n"
         "Property: \"Show\", \"bool\", \"\",0\n",  // no value: skipped
         true},
        {"Property: \"RotationMax\", \"Vector\", \"\",0,1,2,3\n"
         "Property: \"Lcl Translation\", \"Lcl Translation\", \"A\",8,4,5,6\n"
         "Property: \"ScalingMax\", \"Vector\", \"\",0,7,8,9\n",
         false},
        {"Property: \"Weight\", \"Number\", \"AU\",0,0.5,0,1\n", false},
        {"Property: \"Visibility\", \"Visibility\", \"A\",8,0\n", false},
    };
    const int count = int(std::size(kModels));
    TempTestFolder tmp;
    const std::string source = tmp / "records.qov";
    ASSERT_NO_FATAL_FAILURE(
        WriteNulls(source, count, "M", [&](int i) { return std::string(kModels[i].records); }));
    std::string written[2], dumps[2];
    for (int eager = 0; eager < 2; ++eager) {
        SCOPED_TRACE(eager);
        Built read;
        ASSERT_TRUE(ReadRows(read, source, eager));
        KQovNode* root = read.scene->GetRootNode();
        ASSERT_EQ(root->GetChildCount(), count);
        for (int i = 0; i < count; ++i)
            EXPECT_EQ(root->GetChild(i)->GetNodeProperties()->IsTableWaiting(),
                      !eager && kModels[i].waits)
                << i;
        written[eager] = v5test::ExportStable(read.scene, tmp / "again.qov", 1);
        dumps[eager] = SceneDump::NodeTree(*root);
    }
    EXPECT_EQ(written[0], written[1]);
    EXPECT_EQ(dumps[0], dumps[1]);
    // The values read are in what is written.
    EXPECT_NE(written[0].find("\"RotationOffset\", \"Vector\", \"\",0,1,2,3"), std::string::npos);
    EXPECT_NE(written[0].find("\"InheritType\", \"enum\", \"\",0,2"), std::string::npos);
}

// A block read into a list the caller gives is read into that list, whether the owner's rows
// wait or not: an empty list takes nothing, a collected one takes the values.
TEST(KQovWaitingRowsFile, CallersListIsTheOneReadInto) {
    TempTestFolder tmp;
    const std::string name = tmp / "block.qov";
    {
        KQovObjectManager manager;
        KQovNode* source = manager.CreateNode("Source");
        source->GetNodeProperties()->SetVector(P::eRotationOffset, KVector4(1.0, 2.0, 3.0, 1.0));
        std::unique_ptr<KQovPropertyFieldFile> file(KQovPropertyFieldFile::Create());
        ASSERT_TRUE(file->KQovFieldFile::Create(name.c_str(), false, false, nullptr));
        EXPECT_TRUE(file->FieldWritePropertyBlock(source->GetPropertyHandler()));
        EXPECT_TRUE(file->FieldFileClose());
    }
    for (bool collect : {false, true}) {
        double offset[2] = {-1.0, -1.0};
        for (int eager = 0; eager < 2; ++eager) {
            SCOPED_TRACE(std::to_string(collect) + " " + std::to_string(eager));
            std::unique_ptr<BuiltAtOnce> mode;
            if (eager) mode = std::make_unique<BuiltAtOnce>();
            KQovObjectManager manager;
            KQovNode* target = manager.CreateNode("Target");
            mode.reset();
            std::vector<KProperty*> properties;
            if (collect) target->CollectProperties(properties);
            std::unique_ptr<KQovPropertyFieldFile> file(KQovPropertyFieldFile::Create());
            ASSERT_TRUE(file->Open(name.c_str(), false, true, nullptr));
            EXPECT_TRUE(file->FieldReadPropertyBlock(properties, target->GetPropertyHandler()));
            offset[eager] = target->GetNodeProperties()->GetVector(P::eRotationOffset)[1];
            EXPECT_EQ(target->GetNodeProperties()->IsTableWaiting(), !eager && !collect);
        }
        EXPECT_EQ(offset[0], offset[1]);
        EXPECT_EQ(offset[0], collect ? 2.0 : 0.0);
    }
}

}  // namespace
