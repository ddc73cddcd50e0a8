// Importer and exporter: file kinds and versions, take lists, options mapping, and the
// errors of formats, passwords and writers that are absent.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovMaterial.h"
#include "attributes/KQovMesh.h"
#include "common/RefusingHeap.h"
#include "common/TempTestFolder.h"
#include "fieldfile/KQovFieldFile.h"
#include "io/KQovExporter.h"
#include "io/KQovImporter.h"
#include "io/KStreamOptionsMotion.h"
#include "io/qov/KQovReaderQov.h"
#include "scene/KQovEntityContainer.h"
#include "scene/KProperty.h"
#include "scene/KQovNode.h"
#include "scene/KQovNodeProperties.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"
#include "scene/KQovUserProperty.h"

namespace {

std::string Golden(const char* name) {
    return std::string(QOV_SOURCE_DIR) + "/tests/io/qov/golden/" + name;
}

void WriteFile(const std::string& name, const std::string& bytes) {
    FILE* f = std::fopen(name.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

void WriteQov(const std::string& name, bool binary, bool encrypted, const char* password) {
    KQovFieldFile f;
    ASSERT_TRUE(f.Create(name.c_str(), binary, encrypted, nullptr));
    if (password) f.FieldWritePassword(password);
    f.FieldWriteC("Model", "Model::A");
    ASSERT_TRUE(f.FieldFileClose());
}

TEST(KQovImporter, KindsVersionsAndTakes) {
    TempTestFolder tmp("qovimp_");
    WriteQov(tmp / "b.qov", true, false, nullptr);
    WriteQov(tmp / "e.QOV", true, true, nullptr);
    WriteFile(tmp / "old.qov", "; QOV 3.0.0 project file\nModel: \"Model::A\"\n");
    struct Case {
        std::string file;
        int format;
        int version[3];
        int takes;
    } cases[] = {
        {tmp / "b.qov", 0, {6, 0, 0}, 0},
        {Golden("layout6.qov"), 1, {6, 0, 0}, 2},
        {tmp / "e.QOV", 2, {6, 0, 0}, 0},
        {tmp / "old.qov", 1, {5, 0, 0}, 0},  // majors 1 to 4 read as 5.0.0
    };
    for (const Case& c : cases) {
        KQovImporter importer(nullptr);
        ASSERT_TRUE(importer.Initialize(c.file.c_str())) << importer.GetLastErrorString();
        EXPECT_EQ(importer.GetFileFormat(), c.format) << c.file;
        int v[3];
        importer.GetFileVersion(v[0], v[1], v[2]);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(v[i], c.version[i]) << c.file;
        EXPECT_EQ(importer.GetTakeCount(), c.takes) << c.file;
        EXPECT_EQ(importer.GetTakeInfo(-1), nullptr);
        EXPECT_EQ(importer.GetTakeInfo(c.takes), nullptr);
        if (c.takes) {
            EXPECT_STREQ(importer.GetTakeInfo(1)->name.Buffer(), "Run");
        }
    }
}

TEST(KQovImporter, AnotherFormatsReaderIsChosenByTheExtension) {
    TempTestFolder tmp("qovimp_");
    WriteFile(tmp / "tri.OBJ", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    WriteFile(tmp / "walk.bvh", "HIERARCHY\n");
    WriteQov(tmp / "b.qov", true, false, nullptr);
    struct Case {
        std::string file;
        int format;
        bool opens;
    } cases[] = {{tmp / "tri.OBJ", 16, true},
                 {tmp / "walk.bvh", 3, true},
                 {tmp / "b.qov", 0, true},  // after another format's file
                 {tmp / "dir.obj/none", 0, false}};
    KQovImporter importer(nullptr);
    for (const Case& c : cases) {
        ASSERT_TRUE(importer.Initialize(c.file.c_str())) << c.file;
        EXPECT_EQ(importer.GetFileFormat(), c.format) << c.file;
        EXPECT_EQ(importer.CreateReader(), c.opens) << c.file;
    }
}

TEST(KQovImporter, OpenFailuresCarryTheReadersText) {
    TempTestFolder tmp("qovimp_");
    WriteFile(tmp / "bad.qov", "garbage");
    struct Case {
        std::string file;
        int error;
    } cases[] = {{"", KQovIO::eUninitializedFilename},
                 {tmp / "none.qov", KQovIO::eFileNotOpened},
                 {tmp / "bad.qov", KQovIO::eFileCorrupted}};
    for (const Case& c : cases) {
        KQovImporter importer(nullptr);
        EXPECT_FALSE(importer.Initialize(c.file.c_str()) && importer.CreateReader());
        EXPECT_EQ(importer.GetLastErrorID(), c.error) << c.file;
        EXPECT_NE(std::string(importer.GetLastErrorString()), "") << c.file;
        EXPECT_EQ(importer.GetTakeCount(), 0);
    }
}

TEST(KQovImporter, PasswordAndOptions) {
    TempTestFolder tmp("qovimp_");
    WriteQov(tmp / "p.qov", true, true, "secret");
    KQovImporter importer(nullptr);
    ASSERT_TRUE(importer.Initialize((tmp / "p.qov").c_str()));
    KStreamOptionsQov options;
    options.password = "wrong";
    EXPECT_FALSE(importer.Import(nullptr, &options));
    EXPECT_EQ(importer.GetLastErrorID(), KQovIO::ePasswordError);
    EXPECT_STREQ(importer.GetLastErrorString(),
                 "File is password protected and the provided password is wrong.");
    // Without a password (in the options, or the importer's own) it asks for one.
    options.password = "";
    for (KStreamOptionsQov* given : {&options, static_cast<KStreamOptionsQov*>(nullptr)}) {
        KQovImporter fresh(nullptr);
        ASSERT_TRUE(fresh.Initialize((tmp / "p.qov").c_str()));
        EXPECT_FALSE(fresh.Import(nullptr, given));
        EXPECT_EQ(fresh.GetLastErrorID(), KQovIO::ePasswordError);
        EXPECT_STREQ(fresh.GetLastErrorString(),
                     "File is password protected and no password was provided.");
    }
    // The right password passes; a missing scene is refused cleanly.
    options.password = "secret";
    EXPECT_FALSE(importer.Import(nullptr, &options));
    EXPECT_EQ(importer.GetLastErrorID(), KQovIO::eUnidentifiedError);

    // Flags to switches: 0-2 alike, 3-9 shift by one, 10 is switch 11; others ignored.
    importer.SetOptionFlag(11, false);
    importer.SetOptionFlag(-1, false);
    importer.SetOptionFlag(6, false);
    importer.SetOptionFlag(10, true);
    importer.SetPassword("pw");
    KStreamOptionsQov filled;
    importer.FillStreamOptions(filled);
    const bool expected[13] = {1, 1, 1, 1, 1, 1, 1, 0, 1, 1, 1, 1, 0};
    for (int i = 0; i < 13; ++i) EXPECT_EQ(filled.GetSwitch(i), expected[i]) << i;
    EXPECT_STREQ(filled.password.Buffer(), "pw");
    EXPECT_FALSE(importer.GetOptionFlag(11));
}

TEST(KQovImporter, ReadOptionsFromAnOpenFieldFileScan) {
    KQovImporter importer(nullptr);
    EXPECT_EQ(importer.GetReadOptionsFromFieldFile(nullptr), nullptr);
    EXPECT_EQ(importer.GetLastErrorID(), KQovIO::eFileNotCreated);
    std::unique_ptr<KQovPropertyFieldFile> file(KQovPropertyFieldFile::Create());
    ASSERT_TRUE(file->Open(Golden("layout5.qov").c_str(), false, true, nullptr));
    std::unique_ptr<KStreamOptionsQov> options(importer.GetReadOptionsFromFieldFile(file.get()));
    ASSERT_TRUE(options);
    EXPECT_EQ(options->GetCount(KStreamOptionsQov::eModels), 3);
    KQovDestroySceneInfo(nullptr, options->sceneInfo);
    KStreamOptionsMotion motion;
    EXPECT_FALSE(importer.ImportFromFieldFile(nullptr, nullptr, file.get()));
    EXPECT_EQ(importer.GetLastErrorID(), KQovIO::eStreamOptionsNotSet);
    EXPECT_FALSE(importer.ImportFromFieldFile(nullptr, &motion, file.get()));
    EXPECT_EQ(importer.GetLastErrorID(), KQovIO::eUnidentifiedError);
}

TEST(KQovExporter, AbsentWritersAndSwitches) {
    struct Case {
        int format;
        bool options;
        int error;
    } cases[] = {
        // Every id from 0 to 18 has a writer now: only ids outside that range are absent.
        // Export turns any failure to open into "File not created", keeping the text.
        {21, true, KQovIO::eFileNotCreated},
        {19, true, KQovIO::eFileNotCreated},   {-1, true, KQovIO::eFileNotCreated},
        {20, false, KQovIO::eStreamOptionsNotSet},
    };
    for (const Case& c : cases) {
        KQovExporter exporter(nullptr);
        exporter.Initialize("out.qov");
        exporter.SetFileFormat(c.format);
        EXPECT_FALSE(exporter.OpenWriter());
        EXPECT_EQ(exporter.GetLastErrorID(), KQovIO::eUnidentifiedError);
        KStreamOptionsQov options;
        EXPECT_FALSE(exporter.Export(nullptr, c.options ? &options : nullptr));
        EXPECT_EQ(exporter.GetLastErrorID(), c.error) << c.format;
        EXPECT_STREQ(exporter.GetLastErrorString(), c.error == KQovIO::eFileNotCreated
                                                        ? "Unidentified error"
                                                        : "Stream options not set");
    }
    KQovExporter exporter(nullptr);
    EXPECT_FALSE(exporter.OpenWriter());
    EXPECT_EQ(exporter.GetLastErrorID(), KQovIO::eUninitializedFilename);
    exporter.SetSwitch(3, true);
    exporter.SetSwitch(5, false);
    exporter.SetSwitch(11, false);
    exporter.SetSwitch(-1, false);
    exporter.SetPassword("pw");
    KStreamOptionsQov options;
    exporter.FillStreamOptions(options);
    const bool expected[13] = {1, 1, 1, 1, 1, 0, 1, 1, 1, 1, 1, 0, 1};
    for (int i = 0; i < 13; ++i) EXPECT_EQ(options.GetSwitch(i), expected[i]) << i;
    EXPECT_EQ(options.passwordFlag, 1);
    EXPECT_STREQ(options.password.Buffer(), "pw");
}

TEST(KQovIO, ReportJoinsTheDetailOnlyWhileOptionsAreInUse) {
    // Progress reaches the caller through the options of a running read.
    KQovImporter importer(nullptr);
    importer.Report(0, "lost", nullptr, 0.0f);  // nothing in use: no crash, nothing sent
    std::string seen;
    KStreamOptionsQov options;
    options.SetProgressCallback([&](int, const char* text, float) { seen += text; });
    KQovReaderQov reader(nullptr, &importer);
    ASSERT_TRUE(reader.FileOpen(Golden("layout5.qov").c_str()));
    struct Exposed : KQovImporter {
        using KQovImporter::KQovImporter;
        void Use(KStreamOptions* o) { mOptionsInUse = o; }
    } exposed(nullptr);
    exposed.Use(&options);
    exposed.Report(0, "Retrieving models", "Cube", 1.0f);
    exposed.Report(0, "Done", "", 1.0f);
    EXPECT_EQ(seen, "Retrieving models - CubeDone");
}

TEST(KQovReader, DuplicateNamesAreListedOnce) {
    struct Case {
        std::vector<const char*> names;  // children of the root, then a grandchild
        bool unique;
        const char* message;
    } cases[] = {
        {{}, true, ""},
        {{"Model::A", "Model::B", "Model::C"}, true, ""},
        {{"Model::A", "Model::B", "Model::A", "Model::A"}, false, " \"Model::A\""},
        // Depth first: the last A hangs below the first, so it is met before the second B.
        {{"Model::A", "Model::B", "Model::B", "Model::A"}, false,
         " \"Model::A\", \"Model::B\""},
    };
    for (const Case& c : cases) {
        KQovNode root(nullptr, "Model::Scene");
        std::vector<std::unique_ptr<KQovNode>> nodes;
        for (const char* name : c.names) nodes.emplace_back(new KQovNode(nullptr, name));
        // The last one hangs one level down, so the walk reaches below the first level.
        for (size_t i = 0; i < nodes.size(); ++i)
            (i + 1 == nodes.size() && i > 0 ? nodes[0].get() : &root)->AddChild(nodes[i].get());
        KString message;
        KQovReaderQov reader(nullptr, nullptr);
        EXPECT_EQ(reader.CheckDuplicateNames(&root, message), c.unique);
        EXPECT_STREQ(message.Buffer(), c.message);
        while (!nodes.empty()) nodes.pop_back();
    }
}

}  // namespace

namespace {

TEST(KStreamOptionsQov, DefaultsBoundsAndReset) {
    KStreamOptionsQov options;
    EXPECT_TRUE(options.IsA(KStreamOptions::ClassId()));
    EXPECT_STREQ(options.GetClassInfo()->name, "KStreamOptionsQov");
    struct Bound {
        int index;
        bool switchValue;  // after construction
    } bounds[] = {{-1, false}, {0, true}, {10, true}, {11, false}, {12, false}, {13, false}};
    for (const Bound& b : bounds) {
        EXPECT_EQ(options.GetSwitch(b.index), b.switchValue) << b.index;
        options.SetSwitch(b.index, !b.switchValue);
        options.SetCount(b.index, 7);
    }
    EXPECT_FALSE(options.GetSwitch(13));
    EXPECT_FALSE(options.GetSwitch(-1));
    EXPECT_EQ(options.GetCount(0), 7);
    EXPECT_EQ(options.GetCount(6), 0);
    EXPECT_EQ(options.GetCount(-1), 0);
    KQovSceneInfo info;
    options.sceneInfo = &info;
    for (int i = 0; i < 3; ++i) options.AddTake(KQovTakeInfo());
    options.passwordFlag = 1;
    options.Reset();  // the takes go (LSan sees any left); the scene information is not freed
    EXPECT_EQ(options.GetTakeCount(), 0);
    EXPECT_EQ(options.sceneInfo, nullptr);
    EXPECT_EQ(options.passwordFlag, 0);
    EXPECT_TRUE(options.GetSwitch(10));
    EXPECT_FALSE(options.GetSwitch(12));
    EXPECT_EQ(options.GetCount(0), 0);
}

}  // namespace

namespace {

// Exports with the n-th allocation from now refused (and every later one when `forGood`):
// true when the export succeeded; `done` when it needed fewer. A failure is out of memory.
bool ExportRefusing(KQovExporter& exporter, KQovScene* scene, long n, bool forGood, bool& done) {
    bool ok = false;
    {
        LeaksNotChecked leaks;
        gKeepRefusing = forGood;
        gThrowIn = n;
        EXPECT_NO_THROW(ok = exporter.Export(scene, nullptr));
        done = gThrowIn.exchange(-1) >= 0;
        gKeepRefusing = false;
        gRefuseAll = false;
    }
    if (!ok) {
        EXPECT_NE(std::strstr(exporter.GetLastErrorString(), "Out of memory"), nullptr)
            << exporter.GetLastErrorString();
    }
    return ok;
}

}  // namespace

// Making the writer and its file is part of the export: each allocation of a QOV export
// refused in turn, Export says "Out of memory" through the exporter's error, never throws.
TEST(KQovExporter, AnExportOutOfMemoryIsTheExportersError) {
    TempTestFolder out;
    ASSERT_TRUE(out.ok());
    KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();
    scene->GetRootNode()->AddChild(manager.CreateNode("n"));
    long n = 0;
    for (;; n += 1 + n / 64) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        KQovExporter exporter(&manager);
        ASSERT_TRUE(exporter.Initialize((out / "o.qov").c_str()));
        bool done = false;
        const bool ok = ExportRefusing(exporter, scene, n, false, done);
        if (done) {
            EXPECT_TRUE(ok);
            break;
        }
    }
    EXPECT_GT(n, 20);
}

// Each allocation of an import refused in turn: Import says "Out of memory" through the
// importer's error, never throws, and releases what it made on the way (the options it read,
// a user property's channels), which the leak check at exit sees.
TEST(KQovImporter, AnImportOutOfMemoryLeavesNothingBehind) {
    for (const char* file : {"takes_v6.qov", "nodes6.qov"}) {
        for (long n = 0;; n += 1 + n / 32) {
            SCOPED_TRACE(std::string(file) + " allocation " + std::to_string(n));
            KQovObjectManager manager;
            KQovScene* scene = manager.CreateScene();
            KQovImporter importer(&manager);
            const std::string name = Golden(file);
            bool ok = false;
            gThrowIn = n;
            EXPECT_NO_THROW(ok = importer.Initialize(name.c_str()) &&
                                 importer.Import(scene, nullptr));
            const bool done = gThrowIn.exchange(-1) >= 0;
            if (!ok) {
                EXPECT_NE(std::strstr(importer.GetLastErrorString(), "Out of memory"), nullptr)
                    << importer.GetLastErrorString();
            }
            if (done) {
                EXPECT_TRUE(ok);
                break;
            }
        }
    }
}

namespace {

// A node's take channels (names, defaults and keys, in list order), user properties and shapes
// with their weights.
std::string ChannelsAndShapes(KQovNode* node) {
    std::string s;
    for (int t = 0; t < node->GetTakeNodeCount(); ++t) {
        KFCurveNode* root = node->GetTakeNode(t)->GetRoot();
        s += std::string("take ") + node->GetTakeNodeName(t) + ":";
        for (int i = 0; i < root->GetCount(); ++i) {
            KFCurveNode* c = root->Get(i);
            s += std::string(" [") + c->GetName() + "]";
            if (KFCurve* k = c->GetCurve()) {
                s += std::to_string(k->GetValue());
                for (int j = 0; j < k->KeyGetCount(); ++j)
                    s += "," + std::to_string(k->KeyGetTime(j).Get()) + ":" +
                         std::to_string(k->KeyGetValue(j));
            }
        }
        s += "\n";
    }
    for (int u = 0; u < node->GetUserPropertyCount(); ++u) {
        double v = -1;
        node->GetUserProperty(u)->GetValue(v);
        s += std::string("user ") + node->GetUserProperty(u)->GetName().Buffer() + " " +
             std::to_string(v) + "\n";
    }
    if (KQovGeometry* g = node->GetGeometry()) {
        for (int i = 0; i < g->GetShapeCount(); ++i) {
            KProperty* weight = node->GetNodeProperties()->FindProperty(g->GetShapeName(i));
            s += std::string("shape ") + g->GetShapeName(i) + " " +
                 (weight ? std::to_string(weight->GetDouble()) : "none") + "\n";
        }
    }
    return s;
}

}  // namespace

// A version-5 write renames shape channels while it writes (shapes whose channels would read back
// as one, under names of their own): each allocation refused in turn, once and from there on, a
// write that fails or succeeds leaves every take's channels (the very ones, in their places),
// keys and the shapes' names and weights as they were.
TEST(KQovExporter, AVersion5WriteOutOfMemoryLeavesTheShapesAsTheyWere) {
    TempTestFolder out;
    KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();
    KQovNode* node = manager.CreateNode("Square");
    KQovMesh* mesh = manager.CreateMesh();
    mesh->InitControlPoints(4);
    node->SetNodeAttribute(mesh);
    scene->GetRootNode()->AddChild(node);
    for (const char* name : {"ab", "ab ", "ab (Shape)", "AB  ", "Smile"}) {
        KQovShape* shape = manager.CreateShape();
        shape->InitControlPoints(4);
        ASSERT_GE(mesh->AddShape(shape, name), 0);
    }
    for (const char* name : {"Speed", "speed", "lcl rotation", "smile"}) {
        KQovUserProperty* u = manager.CreateUserProperty(name, "Real", "");
        u->SetFlag(KQovUserProperty::eFlagUserProperty, true);
        u->SetFlag(KQovUserProperty::eFlagAnimatable, true);
        node->AddUserProperty(u);
        u->SetValue(0.5);
    }
    KQovMaterial* material = manager.CreateMaterial("Material::Gloss");
    KQovUserProperty* sheen = manager.CreateUserProperty("Sheen", "Real", "");
    sheen->SetFlag(KQovUserProperty::eFlagUserProperty, true);
    material->AddUserProperty(sheen);
    scene->GetEntityContainer()->AddMaterial(material);
    for (const char* takeName : {"Walk", "Run"}) {
        KQovTakeNode* take = node->AddTakeNode(takeName);
        int v = 0;
        for (const char* ch : {"ab", "ab ", "ab (Shape)", "AB  ", "Speed", "lcl rotation"}) {
            KFCurveNode* found = take->GetRoot()->FindChildByName(ch);
            ASSERT_NE(found, nullptr) << ch;
            KFCurve* curve = found->GetCurve();
            ASSERT_NE(curve, nullptr) << ch;
            curve->ResizeKeyBuffer(1);
            curve->KeySet(0, KTime(0), float(++v));
            curve->CommitKeys(1);
        }
    }
    for (int i = 0; i < mesh->GetShapeCount(); ++i) {
        KProperty* weight = node->GetNodeProperties()->FindProperty(mesh->GetShapeName(i));
        ASSERT_NE(weight, nullptr) << mesh->GetShapeName(i);
        weight->SetDouble(0.125 * (i + 1));
    }
    const std::string before = ChannelsAndShapes(node);
    const auto channels = [node] {
        std::vector<const KFCurveNode*> listed;
        for (int t = 0; t < node->GetTakeNodeCount(); ++t)
            for (int i = 0; i < node->GetTakeNode(t)->GetRoot()->GetCount(); ++i)
                listed.push_back(node->GetTakeNode(t)->GetRoot()->Get(i));
        return listed;
    };
    const std::vector<const KFCurveNode*> own = channels();
    for (bool forGood : {false, true}) {
        long n = 0;
        for (;; n += 1 + n / 32) {
            SCOPED_TRACE("allocation " + std::to_string(n) + (forGood ? " and on" : ""));
            KQovExporter exporter(&manager);
            ASSERT_TRUE(exporter.Initialize((out / "o.qov").c_str()));
            exporter.SetFileFormat(3);
            bool done = false;
            const bool ok = ExportRefusing(exporter, scene, n, forGood, done);
            EXPECT_EQ(ChannelsAndShapes(node), before);
            EXPECT_TRUE(channels() == own);
            if (done) {
                EXPECT_TRUE(ok);
                break;
            }
        }
        EXPECT_GT(n, 100);
    }
}
