// Takes read from both layouts: the stored keys, the channel trees with time warps baked in
// and layers merged, the takes' alignment in time, take files, and the version-6 connections.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "TextReadTestUtil.h"
#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovMaterial.h"
#include "attributes/KQovTexture.h"
#include "common/PageFault.h"
#include "fieldfile/KQovFieldReader.h"
#include "foundation/KEventEmitter.h"
#include "io/KQovImporter.h"
#include "scene/KProperty.h"
#include "scene/KQovDeformer.h"
#include "scene/KQovEntityContainer.h"
#include "scene/KQovGenericNode.h"
#include "scene/KQovNode.h"
#include "scene/KQovPropertyHandler.h"

namespace {

using qovtest::GoldenText;
using qovtest::QovText;
using qovtest::TempFolder;
using qovtest::TextRead;
using qovtest::WriteAll;

const int64_t kSecond = 46186158000;

KTime Seconds(double s) {
    KTime t;
    t.SetSecondDouble(s);
    return t;
}

KQovNode* Node(KQovScene* scene, const char* name) {
    if (std::string(name) == "Camera Switcher") return scene->GetCameraSwitcherNode();
    return scene->GetRootNode()->FindChild(name, true);
}

// The channel at `path` of the node's take; null when either is missing.
KFCurveNode* Channel(KQovScene* scene, const char* node, const char* take, const char* path) {
    KQovNode* n = Node(scene, node);
    for (int i = 0; n && i < n->GetTakeNodeCount(); ++i)
        if (std::string(n->GetTakeNodeName(i)) == take)
            return n->GetTakeNode(i)->GetRoot()->Find(path);
    return nullptr;
}

struct Key {
    double seconds, value;
};

std::vector<Key> Keys(KFCurveNode* channel) {
    std::vector<Key> keys;
    KFCurve* curve = channel ? channel->GetCurve() : nullptr;
    for (int i = 0; curve && i < curve->KeyGetCount(); ++i)
        keys.push_back({curve->KeyGetTime(i).GetSecondDouble(), curve->KeyGetValue(i)});
    return keys;
}

void ExpectKeys(const std::vector<Key>& actual, const std::vector<Key>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_NEAR(actual[i].seconds, expected[i].seconds, 1e-9) << "key " << i;
        EXPECT_NEAR(actual[i].value, expected[i].value, 1e-5) << "key " << i;
    }
}

auto ChannelTrees(bool on) {
    return [on](KStreamOptionsQov& options) {
        options.SetSwitch(KStreamOptionsQov::eTakeChannelTrees, on);
    };
}

TEST(KQovReaderQovTakes, GoldenTakesKeepTheirKeys) {
    struct Case {
        const char* node;
        const char* take;
        const char* path;
        std::vector<Key> keys;
    } cases[] = {
        {"Cube", "Walk", "Transform/T/X", {{0, 1}, {1, 3}, {2, -2}}},
        {"Cube", "Walk", "Transform/T/Y", {{0, 5}, {2, 6}}},
        {"Child", "Walk", "Transform/S/Z", {{1, 2}, {2, 4}}},
        {"Warped", "Run", "Transform/T/X", {{0, 0}, {2, 4}}},
        {"Cube", "Run", "Transform/T/X", {{0, 1}, {1, 1}}},
        {"Cube", "Default", "Transform/T/X", {}},
    };
    for (const char* file : {"takes_v5.qov", "takes_v6.qov"}) {
        TextRead read(GoldenText(file), ChannelTrees(false));
        ASSERT_TRUE(read.ok) << file << ": " << read.reader.GetLastErrorString();
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(file) + " " + c.node + " " + c.take + " " + c.path);
            KFCurveNode* channel = Channel(read.scene, c.node, c.take, c.path);
            ASSERT_NE(channel, nullptr);
            ExpectKeys(Keys(channel), c.keys);
        }
        // An object named in no block of a take does not get the take.
        EXPECT_EQ(Channel(read.scene, "Warped", "Walk", "Transform/T/X"), nullptr);
        // Unprocessed, the warp stays on "T" and acts when the channel is evaluated.
        KFCurveNode* t = Channel(read.scene, "Warped", "Run", "Transform/T");
        ASSERT_NE(t->GetTimeWarp(), nullptr);
        EXPECT_NEAR(t->Evaluate(Seconds(0.5))[0], 2.0, 1e-5);
        EXPECT_NE(Channel(read.scene, "Cube", "Run", "Transform/T/X")->GetNextLayer(), nullptr);
        EXPECT_STREQ(read.scene->GetCurrentTakeName(), "Run");
        ASSERT_NE(read.scene->GetTakeInfo("Run"), nullptr);
        EXPECT_STREQ(read.scene->GetTakeInfo("Run")->comment.Buffer(), "fast");
        EXPECT_NE(read.scene->GetTakeInfo("Walk"), nullptr);
    }
}

TEST(KQovReaderQovTakes, ChannelTreesBakeWarpsAndMergeLayersOnce) {
    for (const char* file : {"takes_v5.qov", "takes_v6.qov"}) {
        SCOPED_TRACE(file);
        TextRead raw(GoldenText(file), ChannelTrees(false));
        TextRead processed(GoldenText(file), ChannelTrees(true));
        ASSERT_TRUE(processed.ok) << processed.reader.GetLastErrorString();

        // The warp (t -> 2t seconds) is baked into X frame by frame and leaves "T".
        KFCurveNode* t = Channel(processed.scene, "Warped", "Run", "Transform/T");
        EXPECT_EQ(t->GetTimeWarp(), nullptr);
        std::vector<Key> warped;
        for (int frame = 0; frame <= 30; ++frame)
            warped.push_back({frame / 30.0, 4.0 * frame / 30.0});
        ExpectKeys(Keys(Channel(processed.scene, "Warped", "Run", "Transform/T/X")), warped);

        // The layer is merged into the base once, and goes: the values stay what the
        // layered channel gave.
        KFCurveNode* layered = Channel(raw.scene, "Cube", "Run", "Transform/T/X");
        KFCurveNode* merged = Channel(processed.scene, "Cube", "Run", "Transform/T/X");
        EXPECT_EQ(merged->GetNextLayer(), nullptr);
        for (double s : {0.0, 0.25, 0.5, 1.0}) {
            const double expected = layered->Evaluate(Seconds(s))[0];
            EXPECT_NEAR(expected, 1.0 + 2.0 * s, 1e-5) << s;
            EXPECT_NEAR(merged->Evaluate(Seconds(s))[0], expected, 1e-4) << s;
            EXPECT_NEAR(t->Evaluate(Seconds(s))[0],
                        Channel(raw.scene, "Warped", "Run", "Transform/T")->Evaluate(Seconds(s))[0],
                        1e-4)
                << s;
        }
        // Unwarped, unlayered channels keep their keys.
        ExpectKeys(Keys(Channel(processed.scene, "Cube", "Walk", "Transform/T/X")),
                   {{0, 1}, {1, 3}, {2, -2}});
    }
}

TEST(KQovReaderQovTakes, ResampledRotationsAreUnrolled) {
    for (bool on : {false, true}) {
        TextRead read(GoldenText("takes_filters_v5.qov"), ChannelTrees(on));
        ASSERT_TRUE(read.ok);
        KFCurveNode* x = Channel(read.scene, "Spin", "Turn", "Transform/R/X");
        ASSERT_NE(x, nullptr);
        // Half a turn and more between two frames becomes the short way round.
        EXPECT_NEAR(x->GetCurve()->Evaluate(Seconds(0.75)), on ? 190.0 : -170.0, 1e-3) << on;
        EXPECT_NEAR(x->GetCurve()->Evaluate(Seconds(0.25)), 170.0, 1e-3) << on;
    }
}

TEST(KQovReaderQovTakes, Version6ConnectionsAndTheCameraSwitcher) {
    // A deformer the finishing passes destroy leaves the name map with it.
    TextRead read(GoldenText("takes_v6.qov"), nullptr, {}, [&read](KQovScene& scene) {
        KQovDeformer* skin = scene.GetObjectManager()->CreateDeformer("Skin", "Skin");
        scene.GetEntityContainer()->AddDeformer(skin);
        read.reader.GetFieldFile()->RegisterObject(skin->GetName(), skin->GetPropertyHandler());
    });
    EXPECT_EQ(read.scene->GetEntityContainer()->GetDeformerCount(), 0);
    EXPECT_EQ(read.reader.GetFieldFile()->FindObject("Deformer::Skin"), nullptr);
    ASSERT_TRUE(read.ok) << read.reader.GetLastErrorString();
    KQovNode* root = read.scene->GetRootNode();
    ASSERT_EQ(root->GetChildCount(), 2);  // "Model::Scene" is the root; "Nobody" is no object
    EXPECT_STREQ(root->GetChild(0)->GetName(), "Model::Cube");
    EXPECT_STREQ(root->GetChild(1)->GetName(), "Model::Warped");
    KQovNode* cube = root->GetChild(0);
    ASSERT_EQ(cube->GetChildCount(), 1);  // the repeated "OO" adds nothing
    KQovNode* child = cube->GetChild(0);
    EXPECT_STREQ(child->GetName(), "Model::Child");
    EXPECT_EQ(child->GetPropertyHandler()->FindProperty("Visibility")->GetSrcCount(), 0);  // "PO"
    ExpectKeys(Keys(Channel(read.scene, "Camera Switcher", "Run", "Camera Index")),
               {{0, 1}, {1, 2}});
}

TEST(KQovReaderQovTakes, SelectionAndSwitchesChooseTheTakes) {
    struct Case {
        const char* name;
        std::function<void(KStreamOptionsQov&)> adjust;
        bool ok;
        int cubeTakes;  // "Default" included
    } cases[] = {
        {"all", nullptr, true, 3},
        {"animation off",
         [](KStreamOptionsQov& o) { o.SetSwitch(KStreamOptionsQov::eAnimation, false); }, true, 1},
        {"Walk unselected", [](KStreamOptionsQov& o) { o.GetTake(0)->select = false; }, true, 2},
        {"no take records", [](KStreamOptionsQov& o) { o.ClearTakes(); }, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TextRead read(GoldenText("takes_v6.qov"), c.adjust);
        EXPECT_EQ(read.ok, c.ok);
        EXPECT_EQ(Node(read.scene, "Cube")->GetTakeNodeCount(), c.cubeTakes);
    }
}

TEST(KQovReaderQovTakes, AlignmentMovesTheTakeByItsOffset) {
    struct Case {
        const char* name;
        bool given;
        double offset;
        double shift;  // seconds the "Walk" keys move
    } cases[] = {
        {"given offset", true, 3.0, 3.0},
        {"stored offset equal to the start", false, 0.0, 0.0},
        {"stored offset after the start", false, 2.5, 2.5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TextRead read(GoldenText("takes_v6.qov"), [&](KStreamOptionsQov& o) {
            KQovTakeInfo* walk = o.GetTake(0);
            walk->offsetGiven = c.given;
            walk->offset = Seconds(c.offset);
        });
        ASSERT_TRUE(read.ok);
        ExpectKeys(Keys(Channel(read.scene, "Cube", "Walk", "Transform/T/X")),
                   {{c.shift, 1}, {1 + c.shift, 3}, {2 + c.shift, -2}});
        // Every object's take moves together; objects without the take keep "Default".
        ExpectKeys(Keys(Channel(read.scene, "Child", "Walk", "Transform/S/Z")),
                   {{1 + c.shift, 2}, {2 + c.shift, 4}});
        const KQovTakeInfo* info = read.scene->GetTakeInfo("Walk");
        ASSERT_NE(info, nullptr);
        EXPECT_NEAR(info->localTimeSpan.GetStart().GetSecondDouble(), c.shift, 1e-9);
        EXPECT_NEAR(info->localTimeSpan.GetStop().GetSecondDouble(), 2 + c.shift, 1e-9);
    }
    // A take without keys has no start to align to: it stays where it is.
    TextRead empty(QovText(5000,
                           "Model: \"Model::Cube\" {\n Type: \"Null\"\n}\nTakes:  {\n"
                           " Take: \"Still\" {\n  LocalTime: 0," +
                               std::to_string(kSecond) + "\n  Model: \"Cube\" {\n  }\n }\n}\n"),
                   [](KStreamOptionsQov& o) { o.GetTake(0)->offsetGiven = false; });
    ASSERT_TRUE(empty.ok);
    ASSERT_NE(empty.scene->GetTakeInfo("Still"), nullptr);
    EXPECT_EQ(empty.scene->GetTakeInfo("Still")->localTimeSpan.GetStart().Get(), 0);
}

TEST(KQovReaderQovTakes, TakeFilesAndTheirFallback) {
    auto model = [](int version) -> std::string {
        if (version < 6000) return "Model: \"Model::Cube\" {\n Type: \"Null\"\n}\n";
        return "Objects:  {\n Model: \"Model::Cube\", \"Null\" {\n  Type: \"Null\"\n }\n}\n"
               "Connections:  {\n Connect: \"OO\", \"Model::Cube\", \"Model::Scene\"\n}\n";
    };
    const std::string keys =
        " Model: \"Model::Cube\" {\n  Channel: \"Transform\" {\n"
        "   Channel: \"T\" {\n    Channel: \"X\" {\n     Default: 0\n"
        "     KeyVer: 4004\n     KeyCount: 1\n     Key: 0,VALUE,L\n"
        "    }\n   }\n  }\n }\n";
    auto with = [&](const char* value) {
        std::string text = keys;
        text.replace(text.find("VALUE"), 5, value);
        return text;
    };
    const std::string takeFile = QovText(5000, "Comments: \"from file\"\n" + with("7"));
    struct Case {
        const char* name;
        int version;
        std::vector<std::string> files;
        bool ok;
        double value;
        const char* stored = "walk.qov";
    } cases[] = {
        {"take file present", 5000, {"walk.qov", takeFile}, true, 7.0},
        {"take file missing, animation in the main file", 6000, {}, true, 5.0},
        {"take file named by nothing", 6000, {}, true, 5.0, ""},
        {"take file missing in an old file", 1000, {}, false, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string body = model(c.version) + "Takes:  {\n Take: \"Walk\" {\n  FileName: \"" +
                                 c.stored + "\"\n" + with("5") + " }\n}\n";
        TextRead read(QovText(c.version, body, "Model"), nullptr, c.files);
        EXPECT_EQ(read.ok, c.ok) << read.reader.GetLastErrorString();
        if (!c.ok) {
            EXPECT_GE(read.reader.GetLastErrorID(), 0);
            continue;
        }
        ExpectKeys(Keys(Channel(read.scene, "Cube", "Walk", "Transform/T/X")), {{0, c.value}});
    }
}

// A take file that is there but that the system does not give fails the header and the read
// with its cause; the main file's take does not stand in for it.
TEST(KQovReaderQovTakes, ATakeFileTheSystemRefusesFailsTheRead) {
    const std::string model =
        "Objects:  {\n Model: \"Model::Cube\", \"Null\" {\n  Type: \"Null\"\n }\n}\n"
        "Connections:  {\n Connect: \"OO\", \"Model::Cube\", \"Model::Scene\"\n}\n";
    auto scene = [&](const char* takeFile) {
        return QovText(
            6000, model + "Takes:  {\n Take: \"Walk\" {\n  FileName: \"" + takeFile + "\"\n }\n}\n",
            "Model");
    };
    const std::string takeText = QovText(5000, "Comments: \"from file\"\n");
    const bool hasMem = std::filesystem::exists("/proc/self/mem");
    enum Kind { eFolder, eFailingRead, ePipe, eDevice };
    struct Case {
        const char* name;
        Kind kind;
        const char* cause;
    } cases[] = {{"a folder", eFolder, "it is a folder"},
                 {"a failing read", eFailingRead, "Input/output error"},
                 {"a pipe", ePipe, "not a regular file"},
                 {"a device", eDevice, "not a regular file"}};
    // What stands at the take file's name.
    auto make = [](Kind kind, const std::string& at) {
        if (kind == eFolder) {
            std::filesystem::create_directory(at);
        } else if (kind == ePipe) {
            ASSERT_EQ(mkfifo(at.c_str(), 0600), 0);
        } else {
            std::filesystem::create_symlink(kind == eDevice ? "/dev/null" : "/proc/self/mem", at);
        }
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.kind == eFailingRead && !hasMem) continue;
        {  // the take list of the header
            TempFolder folder;
            make(c.kind, folder / "walk.qov");
            WriteAll(folder / "scene.qov", scene("walk.qov"));
            KQovObjectManager manager;
            KQovReaderQov reader{&manager, nullptr};
            ASSERT_TRUE(reader.FileOpen((folder / "scene.qov").c_str()));
            std::unique_ptr<KStreamOptionsQov> options(reader.ReadHeaderInfo(nullptr, true));
            EXPECT_FALSE(options);
            EXPECT_NE(std::string(reader.GetLastErrorString()).find(c.cause), std::string::npos)
                << reader.GetLastErrorString();
            if (options) KQovDestroySceneInfo(&manager, options->sceneInfo);
        }
        // The read, when the take file goes bad after the header was read.
        TempFolder other;
        const std::string take = other / "walk.qov";
        WriteAll(take, takeText);
        TextRead read(scene(take.c_str()), nullptr, {}, [&](KQovScene&) {
            std::filesystem::remove(take);
            make(c.kind, take);
        });
        EXPECT_FALSE(read.ok);
        const std::string error = read.reader.GetLastErrorString();
        EXPECT_NE(error.find("walk.qov"), std::string::npos) << error;
        EXPECT_NE(error.find(c.cause), std::string::npos) << error;
        EXPECT_EQ(error.find("orrupt"), std::string::npos) << error;
    }
}

// Runs `action` once, at the first progress text that begins with `at`.
class ActingImporter : public KQovImporter {
public:
    using KQovImporter::KQovImporter;
    void Report(int first, const char* text, const char* detail, float percent) override {
        if (action && text && std::strncmp(text, at, std::strlen(at)) == 0) {
            auto run = std::move(action);
            action = nullptr;
            run();
        }
        KQovImporter::Report(first, text, detail, percent);
    }
    const char* at = "";
    std::function<void()> action;
};

// Where the system mapped the file `path` in this process; null when it did not.
const void* MappedAt(const std::string& path) {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.size() > path.size() &&
            line.compare(line.size() - path.size(), path.size(), path) == 0)
            return reinterpret_cast<const void*>(std::stoull(line, nullptr, 16));
    return nullptr;
}

// A take file opened whole whose mapped page the disk then fails to give fails the read with
// its read error: not corrupted, and not the main file's take.
TEST(KQovReaderQovTakes, ATakeFilePageTheDiskFailsIsItsReadError) {
    TempFolder folder;
    const std::string take = folder / "walk.qov";
    {
        KQovFieldFile file;
        ASSERT_TRUE(file.Create(take.c_str(), true, false, nullptr));
        file.FieldWriteC("Comments", "from file");
        file.FieldWriteBegin("Model");
        file.FieldWriteC("Model::Cube");
        file.FieldWriteBlockBegin();
        file.FieldWriteBlockEnd();
        file.FieldWriteEnd();
        ASSERT_TRUE(file.FieldFileClose());
    }
    WriteAll(folder / "scene.qov",
             QovText(6000,
                     "Objects:  {\n Model: \"Model::Cube\", \"Null\" {\n  Type: \"Null\"\n }\n}\n"
                     "Connections:  {\n Connect: \"OO\", \"Model::Cube\", \"Model::Scene\"\n}\n"
                     "Takes:  {\n Take: \"Walk\" {\n  FileName: \"walk.qov\"\n }\n}\n",
                     "Model"));
    const uint64_t oldMapping = KQovFieldReader::SetMappingFrom(1);
    KQovObjectManager manager;
    ActingImporter importer(&manager);
    importer.at = "Retrieving take";
    bool raised = false;
    importer.action = [&] {
        const void* at = MappedAt(take);
        raised = at && RaisePageFault(at);
    };
    KQovReaderQov reader(&manager, &importer);
    ASSERT_TRUE(reader.FileOpen((folder / "scene.qov").c_str()));
    std::unique_ptr<KStreamOptionsQov> options(reader.ReadHeaderInfo(nullptr, true));
    ASSERT_TRUE(options);
    EXPECT_FALSE(reader.Read(manager.CreateScene(), options.get()));
    KQovFieldReader::SetMappingFrom(oldMapping);
    EXPECT_TRUE(raised);
    EXPECT_EQ(std::string(reader.GetLastErrorString()),
              "File not read: " + take + ": Input/output error");
    KQovDestroySceneInfo(&manager, options->sceneInfo);
}

// Takes a scene cannot hold under the file's names (one name twice, none, "Default") are each
// read under a name of their own, with a warning; the current take follows its take.
TEST(KQovReaderQovTakes, EveryTakeIsReadUnderANameOfItsOwn) {
    struct Case {
        std::vector<const char*> takes;  // in file order; take i keys the value i + 1
        const char* current;
        std::vector<const char*> read;  // the names they are read under
        const char* readCurrent;
        const char* warnings;
    } cases[] = {
        // A take's own name is set aside: a number never takes a later take's name.
        {{"Walk", "Walk", "Walk_1"},
         "Walk",
         {"Walk", "Walk_2", "Walk_1"},
         "Walk",
         "Take \"Walk\" read as \"Walk_2\": an earlier take has that name\n"},
        {{"", "Default"},
         "Default",
         {"Take_1", "Default_1"},
         "Default_1",
         "Take \"\" read as \"Take_1\": the take has no name\n"
         "Take \"Default\" read as \"Default_1\": the default take has that name\n"},
        // A line break in a name stays escaped in the warning: it keeps to one line.
        {{"L\\nM", "L\\nM"},
         "L\\nM",
         {"L\nM", "L\nM_1"},
         "L\nM",
         "Take \"L\\nM\" read as \"L\\nM_1\": an earlier take has that name\n"},
        // So do a tab and an escape, shown as qovtool shows them.
        {{"T\tx\x1b", "T\tx\x1b"},
         "T\tx\x1b",
         {"T\tx\x1b", "T\tx\x1b_1"},
         "T\tx\x1b",
         "Take \"T\\x09x\\x1b\" read as \"T\\x09x\\x1b_1\": an earlier take has that name\n"},
    };
    for (int version : {5000, 6000}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::to_string(version) + " " + c.read[0]);
            std::string body = version < 6000
                                   ? "Model: \"Model::Cube\" {\n Type: \"Null\"\n}\n"
                                   : "Objects:  {\n Model: \"Model::Cube\", \"Null\" {\n"
                                     "  Type: \"Null\"\n }\n}\nConnections:  {\n"
                                     " Connect: \"OO\", \"Model::Cube\", \"Model::Scene\"\n}\n";
            body += std::string("Takes:  {\n Current: \"") + c.current + "\"\n";
            for (size_t i = 0; i < c.takes.size(); ++i)
                body += std::string(" Take: \"") + c.takes[i] +
                        "\" {\n  Model: \"Model::Cube\" {\n  Channel: \"Transform\" {\n"
                        "   Channel: \"T\" {\n    Channel: \"X\" {\n     Default: 0\n"
                        "     KeyVer: 4004\n     KeyCount: 1\n     Key: 0," +
                        std::to_string(i + 1) + ",L\n    }\n   }\n  }\n }\n }\n";
            body += "}\n";
            TextRead read(QovText(version, body, "Model"));
            ASSERT_TRUE(read.ok) << read.reader.GetLastErrorString();
            ASSERT_EQ(read.options->GetTakeCount(), int(c.read.size()));
            for (size_t i = 0; i < c.read.size(); ++i) {
                SCOPED_TRACE(c.read[i]);
                EXPECT_STREQ(read.options->GetTake(int(i))->name.Buffer(), c.read[i]);
                EXPECT_NE(read.scene->GetTakeInfo(c.read[i]), nullptr);
                ExpectKeys(Keys(Channel(read.scene, "Cube", c.read[i], "Transform/T/X")),
                           {{0, double(i + 1)}});
            }
            // The scene's own default take is left as it was.
            EXPECT_TRUE(Keys(Channel(read.scene, "Cube", "Default", "Transform/T/X")).empty());
            EXPECT_STREQ(read.scene->GetCurrentTakeName(), c.readCurrent);
            KString status;
            read.reader.GetStatusText(status);
            EXPECT_STREQ(status.Buffer(), c.warnings);
        }
    }
}

TEST(KQovReaderQovTakes, HostileTakeContentIsBounded) {
    // A warp spanning more frames than the resampling allows is not applied: the keys stay.
    TextRead read(GoldenText("takes_hostile_v5.qov"), ChannelTrees(true));
    ASSERT_TRUE(read.ok);
    for (const char* node : {"Cube", "Wide"}) {
        ExpectKeys(Keys(Channel(read.scene, node, "Walk", "Transform/T/X")), {{0, 0}, {1, 4}});
        EXPECT_EQ(Channel(read.scene, node, "Walk", "Transform/T")->GetTimeWarp(), nullptr);
    }

    // Connection kinds far longer than any kind are skipped whole; a parenthood that would
    // close a cycle is refused and the read goes on.
    TextRead connections(GoldenText("takes_hostile_v6.qov"));
    ASSERT_TRUE(connections.ok);
    KQovNode* root = connections.scene->GetRootNode();
    ASSERT_EQ(root->GetChildCount(), 1);
    ASSERT_EQ(root->GetChild(0)->GetChildCount(), 1);
    EXPECT_STREQ(root->GetChild(0)->GetChild(0)->GetName(), "Model::Child");
    EXPECT_EQ(root->GetChild(0)->GetChild(0)->GetChildCount(), 0);
}

// Unlocks a locked field file with the right password when the reader reports the mismatch.
struct Unlocker {
    int calls = 0;
    void OnEvent(void*, KEventRecordHeader* record) {
        auto* event = static_cast<KEmitterEvent*>(record);
        if (event->code != 16) return;
        ++calls;
        static_cast<KQovFieldFile*>(event->object)->CheckPassword("secret");
    }
};

TEST(KQovReaderQovTakes, PasswordCheckLetsAListenerUnlock) {
    struct Case {
        const char* given;
        bool listener;
        bool ok;
        int calls;
    } cases[] = {
        {"secret", false, true, 0},
        {"guess", false, false, 0},
        {"guess", true, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.given) + (c.listener ? " with listener" : ""));
        qovtest::TempFolder folder;
        const std::string name = folder / "locked.qov";
        {
            KQovFieldFile f;
            ASSERT_TRUE(f.Create(name.c_str(), true, false, nullptr));
            f.FieldWritePassword("secret");
            f.FieldWriteC("Model", "Model::A");
            ASSERT_TRUE(f.FieldFileClose());
        }
        Unlocker unlocker;
        const KCallbackFunction handler = KCallbackMethod<Unlocker, &Unlocker::OnEvent>;
        if (c.listener) KEventEmitter::Subscribe(KEventEmitter::kEventId, &unlocker, handler);
        KQovObjectManager manager;
        KQovScene* scene = manager.CreateScene();
        KQovReaderQov reader(&manager, nullptr);
        ASSERT_TRUE(reader.FileOpen(name.c_str()));
        std::unique_ptr<KStreamOptionsQov> options(reader.ReadHeaderInfo(nullptr, true));
        ASSERT_TRUE(options);
        options->password = c.given;
        EXPECT_EQ(reader.Read(scene, options.get()), c.ok);
        EXPECT_EQ(reader.GetLastErrorID(), c.ok ? -1 : int(KQovReader::eWrongPassword));
        EXPECT_EQ(unlocker.calls, c.calls);
        if (c.listener) KEventEmitter::Unsubscribe(KEventEmitter::kEventId, &unlocker, handler);
        KQovDestroySceneInfo(&manager, options->sceneInfo);
    }
}

TEST(KQovReaderQovTakes, TexturesMaterialsAndGenericNodesByFullName) {
    KQovTexture* wood = nullptr;
    KQovMaterial* red = nullptr;
    TextRead read(GoldenText("takes_shading_v6.qov"), nullptr, {}, [&](KQovScene& scene) {
        KQovObjectManager* manager = scene.GetObjectManager();
        wood = manager->CreateTexture("Wood");
        red = manager->CreateMaterial("Red");
        scene.GetEntityContainer()->AddTexture(wood);
        scene.GetEntityContainer()->AddMaterial(red);
    });
    ASSERT_TRUE(read.ok) << read.reader.GetLastErrorString();
    struct Case {
        KQovTakeNodeContainer* object;
        const char* path;
        double value;
    } cases[] = {
        {wood, "Translation/X", 3},
        {red, "Diffuse/Y", 4},
        {read.scene->GetEntityContainer()->FindGenericNode("GenericNode::Gen"), "Weight", 5},
    };
    for (const Case& c : cases) {
        ASSERT_NE(c.object, nullptr);
        SCOPED_TRACE(c.object->GetName());
        ASSERT_EQ(c.object->GetTakeNodeCount(), 2);
        EXPECT_STREQ(c.object->GetTakeNodeName(1), "Walk");
        ExpectKeys(Keys(c.object->GetTakeNode(1)->GetRoot()->Find(c.path)), {{0, c.value}});
    }
}

}  // namespace
