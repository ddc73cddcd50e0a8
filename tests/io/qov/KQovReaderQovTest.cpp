// The QOV reader's open and header pass on hand-written files of both layouts, answers from
// a Summary part, and the Summary update.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <memory>
#include <string>

#include "fieldfile/FieldFileTestUtil.h"
#include "SummaryTestUtil.h"
#include "io/KQovIOHooks.h"
#include "io/KQovImporter.h"
#include "io/KStreamOptionsMotion.h"
#include "io/qov/KQovReaderQov.h"

namespace {

using qovtest::ReadAll;
using qovtest::TempFolder;
using qovtest::WriteAll;

std::string Golden(const char* name) {
    return std::string(QOV_SOURCE_DIR) + "/tests/io/qov/golden/" + name;
}

// A binary file of an older writer: models, a take list, no Summary.
void WriteBinaryScene(const std::string& name, const char* password = nullptr,
                      bool encrypted = false) {
    KQovFieldFile f;
    ASSERT_TRUE(f.Create(name.c_str(), true, encrypted, nullptr));
    if (password) f.FieldWritePassword(password);
    for (const char* model : {"Model::A", "Model::B"}) f.FieldWriteC("Model", model);
    f.FieldWriteC("Device", "Device::D");
    f.FieldWriteBegin("Takes");
    f.FieldWriteBlockBegin();
    f.FieldWriteC("Current", "T1");
    for (const char* take : {"T0", "T1"}) {
        f.FieldWriteBegin("Take");
        f.FieldWriteC(take);
        f.FieldWriteBlockBegin();
        f.FieldWriteBegin("LocalTime");
        f.FieldWriteTS(KTime(0), KTime(KTime::kOneSecond));
        f.FieldWriteEnd();
        f.FieldWriteBlockEnd();
        f.FieldWriteEnd();
    }
    f.FieldWriteBlockEnd();
    f.FieldWriteEnd();
    ASSERT_TRUE(f.FieldFileClose());
}

std::unique_ptr<KStreamOptionsQov> Header(KQovReaderQov& reader, bool allowScan = true) {
    return std::unique_ptr<KStreamOptionsQov>(reader.ReadHeaderInfo(nullptr, allowScan));
}

// The scene file, then the Summary part of its scan.
void WriteBinaryWithSummary(const std::string& name) {
    WriteBinaryScene(name);
    AppendScannedSummary(name);
}

TEST(KQovReaderQov, GoldenFilesOfBothLayouts) {
    struct Case {
        const char* file;
        bool layout5;
        int counts[6];
        int templateFlag;
        const char* current;  // "Missing" in layout5 names no take: the first is current
        const char* secondTakeComment;
        bool resolution;
    } cases[] = {
        {"layout5.qov", true, {3, 1, 1, 0, 3, 1}, 1, "Walk", "", false},
        // Models and character constraints are counted inside "Objects".
        {"layout6.qov", false, {2, 0, 1, 0, 0, 0}, 0, "Run", "fast", true},
    };
    for (const Case& c : cases) {
        KQovReaderQov reader(nullptr, nullptr);
        ASSERT_TRUE(reader.FileOpen(Golden(c.file).c_str())) << reader.GetLastErrorString();
        EXPECT_EQ(reader.GetFileKind(), 0);
        auto options = Header(reader);
        ASSERT_TRUE(options) << c.file;
        EXPECT_EQ(reader.GetFieldFile()->IsVersion5Layout(), c.layout5) << c.file;
        for (int i = 0; i < 6; ++i) EXPECT_EQ(options->GetCount(i), c.counts[i]) << c.file << i;
        EXPECT_EQ(options->templateFlag, c.templateFlag) << c.file;
        EXPECT_STREQ(options->currentTakeName.Buffer(), c.current) << c.file;
        ASSERT_EQ(options->GetTakeCount(), 2);
        EXPECT_STREQ(options->GetTake(1)->comment.Buffer(), c.secondTakeComment);
        EXPECT_STREQ(options->GetTake(1)->secondName.Buffer(), options->GetTake(1)->name.Buffer());
        EXPECT_EQ(options->GetTake(0)->localTimeSpan.GetStop().Get(), 46186158000ll);
        KString name, mode;
        double w = 0, h = 0;
        EXPECT_EQ(reader.GetCameraResolution(name, mode, w, h), c.resolution);
        if (c.layout5) {
            ASSERT_NE(options->sceneInfo, nullptr);
            EXPECT_STREQ(options->sceneInfo->title.Buffer(), "Walk cycle");
            EXPECT_STREQ(options->sceneInfo->comment.Buffer(), "hand-written");
        } else {
            EXPECT_EQ(w, 720.0);
            EXPECT_STREQ(mode.Buffer(), "Custom");
        }
        KQovDestroySceneInfo(nullptr, options->sceneInfo);
        // An ASCII file cannot take a Summary: it stays byte for byte as it was.
        EXPECT_EQ(reader.GetFieldFile()->GetPartCount(), 1);
    }
}

TEST(KQovReaderQov, TakeValuesFromTakeFilesOrTheMainFile) {
    TempFolder tmp;
    WriteAll(tmp / "a.tak", "; QOV 6.0.0 project file\nComments: \"from file\"\nLocalTime: 0,9\n");
    for (const char* version : {"6.0.0", "1.5"}) {
        WriteAll(tmp / "m.qov", std::string("; QOV ") + version +
                                    " project file\nTakes:  {\n"
                                    "    Take: \"A\" {\n        FileName: \"a.tak\"\n    }\n"
                                    "    Take: \"B\" {\n        FileName: \"gone.tak\"\n"
                                    "        Comments: \"main\"\n    }\n}\n");
        KQovReaderQov reader(nullptr, nullptr);
        ASSERT_TRUE(reader.FileOpen((tmp / "m.qov").c_str())) << reader.GetLastErrorString();
        auto options = Header(reader);
        ASSERT_TRUE(options);
        ASSERT_EQ(options->GetTakeCount(), 2);
        EXPECT_STREQ(options->GetTake(0)->comment.Buffer(), "from file");
        EXPECT_EQ(options->GetTake(0)->localTimeSpan.GetStop().Get(), 9);
        // A missing take file leaves the main file's values, from version 2.0 on.
        EXPECT_STREQ(options->GetTake(1)->comment.Buffer(),
                     std::string(version) == "6.0.0" ? "main" : "");
    }
}

TEST(KQovReaderQov, LayoutThreshold) {
    struct Case {
        const char* version;
        bool definitions;
        bool layout5;
    } cases[] = {{"5.7.9", true, true},
                 {"5.8.0", false, true},
                 {"5.8.0", true, false},
                 {"5.8.1", false, false},
                 {"6.0.0", false, false}};
    TempFolder tmp;
    for (const Case& c : cases) {
        std::string text = std::string("; QOV ") + c.version + " project file\n" +
                           (c.definitions ? "Definitions:  {\n}\n" : "") + "Model: \"Model::A\"\n";
        WriteAll(tmp / "l.qov", text);
        KQovReaderQov reader(nullptr, nullptr);
        ASSERT_TRUE(reader.FileOpen((tmp / "l.qov").c_str()));
        auto options = Header(reader);
        ASSERT_TRUE(options);
        EXPECT_EQ(reader.GetFieldFile()->IsVersion5Layout(), c.layout5) << c.version;
    }
}

TEST(KQovReaderQov, BinaryFileGetsASummaryThatLaterReadsAnswerFrom) {
    TempFolder tmp;
    const std::string name = tmp / "b.qov";
    WriteBinaryScene(name);
    {
        KQovReaderQov reader(nullptr, nullptr);
        ASSERT_TRUE(reader.FileOpen(name.c_str()));
        const std::string before = ReadAll(name);
        EXPECT_FALSE(Header(reader, false));  // no Summary and no scan allowed
        EXPECT_TRUE(ReadAll(name) == before);
        ASSERT_TRUE(Header(reader));
        reader.FileClose();
        EXPECT_TRUE(ReadAll(name) == before);  // the scan is not written into the file
    }
    AppendScannedSummary(name);
    KQovReaderQov reader(nullptr, nullptr);
    ASSERT_TRUE(reader.FileOpen(name.c_str()));
    EXPECT_EQ(reader.GetFileKind(), 1);
    EXPECT_EQ(reader.GetFieldFile()->GetPartCount(), 2);
    auto options = Header(reader, false);  // answered from the Summary alone
    ASSERT_TRUE(options);
    EXPECT_EQ(options->GetCount(KStreamOptionsQov::eModels), 2);
    EXPECT_EQ(options->GetCount(KStreamOptionsQov::eDevices), 1);
    ASSERT_EQ(options->GetTakeCount(), 2);
    EXPECT_STREQ(options->currentTakeName.Buffer(), "T1");
    EXPECT_EQ(options->GetTake(1)->localTimeSpan.GetStop().Get(), KTime::kOneSecond);

    // The update replaces the last part: still two parts, new values, scene part intact.
    options->GetTake(0)->comment = "edited";
    KQovSceneInfo info;
    info.author = "someone";
    options->sceneInfo = &info;
    EXPECT_TRUE(reader.UpdateSummary(options.get()));
    for (int round = 0; round < 2; ++round) {
        KQovReaderQov again(nullptr, nullptr);
        ASSERT_TRUE(again.FileOpen(name.c_str()));
        EXPECT_EQ(again.GetFieldFile()->GetPartCount(), 2);
        auto updated = Header(again, false);
        ASSERT_TRUE(updated);
        EXPECT_STREQ(updated->GetTake(0)->comment.Buffer(), "edited");
        ASSERT_NE(updated->sceneInfo, nullptr);
        EXPECT_STREQ(updated->sceneInfo->author.Buffer(), "someone");
        KQovDestroySceneInfo(nullptr, updated->sceneInfo);
        ASSERT_TRUE(again.GetFieldFile()->FieldFileSelectFirstPart());
        EXPECT_EQ(again.GetFieldFile()->FieldReadGetOccurrenceCount("Model"), 2);
        again.GetFieldFile()->Finish();
        // A selected part refuses the update and changes nothing.
        ASSERT_TRUE(again.GetFieldFile()->FieldFileSelectFirstPart());
        std::string before = ReadAll(name);
        EXPECT_FALSE(again.UpdateSummary(options.get()));
        EXPECT_EQ(ReadAll(name), before);
    }
    options->sceneInfo = nullptr;
}

TEST(KQovReaderQov, ASummaryAnswersWithoutParsingTheScenePart) {
    TempFolder tmp;
    const std::string name = tmp / "two.qov";
    WriteBinaryWithSummary(name);
    // Spoil the scene part's "Device" record: parsing part 0 now fails.
    std::string bytes = ReadAll(name);
    size_t device = bytes.find(
        "\x06"
        "DeviceS");
    ASSERT_NE(device, std::string::npos);
    bytes.replace(device - 12, 4, "\xff\xff\xff\x7f");
    WriteAll(name, bytes);
    KQovReaderQov reader(nullptr, nullptr);
    ASSERT_TRUE(reader.FileOpen(name.c_str()));
    auto options = Header(reader, false);
    ASSERT_TRUE(options);
    EXPECT_EQ(options->GetCount(KStreamOptionsQov::eDevices), 1);
    EXPECT_FALSE(reader.GetFieldFile()->FieldFileSelectFirstPart());
}

TEST(KQovReaderQov, UpdatesThatCannotWriteLeaveTheFileAsItWas) {
    TempFolder tmp;
    // ASCII and encrypted files cannot take a Summary part.
    WriteBinaryScene(tmp / "enc.qov", nullptr, true);
    for (const std::string& file : {Golden("layout6.qov"), tmp / "enc.qov"}) {
        std::string path = tmp / "copy.qov";
        WriteAll(path, ReadAll(file));
        std::string before = ReadAll(path);
        KQovReaderQov reader(nullptr, nullptr);
        ASSERT_TRUE(reader.FileOpen(path.c_str()));
        KStreamOptionsQov options;
        EXPECT_FALSE(reader.UpdateSummary(&options));
        auto header = Header(reader);  // scans; the cache write fails quietly
        ASSERT_TRUE(header);
        EXPECT_EQ(header->GetCount(KStreamOptionsQov::eModels), 2);
        EXPECT_TRUE(ReadAll(path) == before) << file;
        EXPECT_EQ(reader.GetFieldFile()->GetLastErrorID(), -1);
    }
}

TEST(KQovReaderQov, AnUpdateThatRunsOutOfRoomPutsTheFileBack) {
    TempFolder tmp;
    const std::string name = tmp / "full.qov";
    WriteBinaryWithSummary(name);  // the Summary part is the last part
    const std::string before = ReadAll(name);
    KQovReaderQov reader(nullptr, nullptr);
    ASSERT_TRUE(reader.FileOpen(name.c_str()));
    auto options = Header(reader, false);
    ASSERT_TRUE(options);
    options->GetTake(0)->comment = std::string(4096, 'x').c_str();
    // The file may not grow: the Summary, cut and rewritten, no longer fits.
    struct rlimit old;
    getrlimit(RLIMIT_FSIZE, &old);
    struct rlimit small = old;
    small.rlim_cur = before.size() + 64;
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    bool updated = reader.UpdateSummary(options.get());
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(updated);
    EXPECT_TRUE(ReadAll(name) == before);
    EXPECT_EQ(reader.GetFieldFile()->GetLastErrorID(), -1);
    // The reader still answers from the Summary that was there.
    auto again = Header(reader, false);
    ASSERT_TRUE(again);
    EXPECT_STREQ(again->GetTake(0)->comment.Buffer(), "");
}

TEST(KQovReaderQov, AsciiSummaryByteForByte) {
    TempFolder tmp;
    KQovFieldFile f;
    ASSERT_TRUE(f.Create((tmp / "s.qov").c_str(), false, false, nullptr));
    KStreamOptionsQov options;
    for (int i = 0; i < 6; ++i) options.SetCount(i, i + 1);
    options.templateFlag = 0x100;  // only the low byte counts
    options.passwordFlag = 1;
    options.currentTakeName = "Two";
    KQovSceneInfo info;
    info.title = "T";
    options.sceneInfo = &info;
    KQovTakeInfo take;
    take.name = "One";
    take.comment = "c";
    take.localTimeSpan.Set(KTime(0), KTime(5));
    options.AddTake(take);
    take.name = "Two";
    take.comment = "";
    options.AddTake(take);
    KQovWriteSummary(&f, options);
    ASSERT_TRUE(f.FieldFileClose());
    const std::string text = ReadAll(tmp / "s.qov");
    const std::string expected =
        "Summary:  {\n"
        "    Version: 101\n"
        "    Template: 0\n"
        "    PasswordProtection: 1\n"
        "    ContentCount:  {\n"
        "        Version: \"100\"\n"
        "        Model: 1\n"
        "        Device: 2\n"
        "        Character: 3\n"
        "        Actor: 4\n"
        "        Constraint: 5\n"
        "        Media: 6\n"
        "    }\n"
        "    SceneInfo: \"SceneInfo::GlobalInfo\" {\n"
        "        Type: \"UserData\"\n"
        "        Version: 100\n"
        "        MetaData:  {\n"
        "            Version: 100\n"
        "            Title: \"T\"\n"
        "            Subject: \"\"\n"
        "            Author: \"\"\n"
        "            Keywords: \"\"\n"
        "            Revision: \"\"\n"
        "            Comment: \"\"\n"
        "        }\n"
        "    }\n"
        "    Takes:  {\n"
        "        Version: 101\n"
        "        Current: \"Two\"\n"
        "        Take: \"One\" {\n"
        "            Comments: \"c\"\n"
        "            LocalTime: 0,5\n"
        "            ReferenceTime: 0,0\n"
        "        }\n"
        "        Take: \"Two\" {\n"
        "            LocalTime: 0,5\n"
        "            ReferenceTime: 0,0\n"
        "        }\n"
        "    }\n"
        "}\n";
    size_t at = text.find("Summary:");
    ASSERT_NE(at, std::string::npos) << text;
    EXPECT_EQ(text.substr(at, expected.size()), expected);
}

TEST(KQovReaderQov, OpenAndReadFailures) {
    TempFolder tmp;
    WriteAll(tmp / "bad.qov", "not a qov file at all");
    struct Case {
        std::string file;
        int openError;  // -1: opens
    } cases[] = {{tmp / "missing.qov", KQovReader::eFileNotOpened},
                 {tmp / "bad.qov", KQovReader::eFileCorrupted},
                 {Golden("layout5.qov"), -1}};
    for (const Case& c : cases) {
        KQovReaderQov reader(nullptr, nullptr);
        EXPECT_EQ(reader.FileOpen(c.file.c_str()), c.openError == -1) << c.file;
        EXPECT_EQ(reader.GetLastErrorID(), c.openError) << c.file;
    }
    KQovReaderQov reader(nullptr, nullptr);
    EXPECT_FALSE(Header(reader));
    EXPECT_EQ(reader.GetLastErrorID(), KQovReader::eFileNotOpened);
    KStreamOptionsQov qov;
    KStreamOptionsMotion motion;
    EXPECT_FALSE(reader.Read(nullptr, &motion));
    EXPECT_EQ(reader.GetLastErrorID(), KQovReader::eStreamOptionsNotSet);
    EXPECT_FALSE(reader.Read(nullptr, &qov));
    EXPECT_EQ(reader.GetLastErrorID(), KQovReader::eFileNotOpened);
    EXPECT_FALSE(reader.FileClose());
}

TEST(KQovReaderQov, ReadNotifiesTheHooksWithOneStepPerSelectedTake) {
    struct Hooks : KQovIOHooks {
        void BeginReadWrite() override { calls += "b"; }
        void SetStepCount(int count) override { calls += std::to_string(count); }
        void EndProgress() override { calls += "p"; }
        void EndReadWrite() override { calls += "e"; }
        std::string calls;
    } hooks;
    KQovIOHooks::SetInstance(&hooks);
    KQovReaderQov reader(nullptr, nullptr);
    ASSERT_TRUE(reader.FileOpen(Golden("layout5.qov").c_str()));
    auto options = Header(reader);
    ASSERT_TRUE(options);
    options->GetTake(1)->select = false;
    EXPECT_FALSE(reader.Read(nullptr, options.get()));  // no scene to read into
    KQovIOHooks::SetInstance(nullptr);
    EXPECT_EQ(hooks.calls, "b2pe");
    EXPECT_EQ(reader.GetLastErrorID(), KQovReader::eUnidentifiedError);
    KQovDestroySceneInfo(nullptr, options->sceneInfo);
}

TEST(KQovReaderQov, QovtoolInfoReportsTheGoldenFiles) {
    std::string tool = std::string(QOV_PROGRAMS_DIR) + "/../qovtool";
    if (FILE* probe = std::fopen(tool.c_str(), "rb"))
        std::fclose(probe);
    else
        GTEST_SKIP() << "qovtool not built";
    struct Case {
        const char* file;
        const char* expected;
    } cases[] = {
        {"layout5.qov",
         "format: QOV ascii\nkind: ascii\nversion: 5.0.0\nlayout: 5\ncurrent take: Walk\n"
         "take: Walk, 0-1 s, \"slow\"\ntake: Run, 1-2 s\nmodels: 3\ndevices: 1\n"
         "characters: 1\nactors: 0\nconstraints: 3\nmedia: 1\ntemplate: yes\n"
         // the scene read: no take animates anything, three empty meshes
         "frame rate: 30 fps\ntakes: 0\nnodes: 3\n  mesh: 3\nmeshes: 3\n"
         "  Cube: 0 polygons, 0 control points\n  Light: 0 polygons, 0 control points\n"
         "  ~qovexport~: 0 polygons, 0 control points\nmaterials: 0\ntextures: 0\n"},
        {"layout6.qov",
         "format: QOV ascii\nkind: ascii\nversion: 6.0.0\nlayout: 6\n"
         "camera resolution: Producer Perspective, Custom, 720 x 576\ncurrent take: Run\n"
         "take: Walk, 0-1 s\ntake: Run, 0-0.5 s, \"fast\"\nmodels: 2\ndevices: 0\n"
         "characters: 1\nactors: 0\nconstraints: 0\nmedia: 0\ntemplate: no\n"
         "frame rate: 30 fps\ntakes: 0\nnodes: 0\nmeshes: 0\nmaterials: 0\ntextures: 0\n"},
    };
    for (const Case& c : cases) {
        FILE* pipe = popen((tool + " info '" + Golden(c.file) + "'").c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string out;
        char buffer[1024];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
        EXPECT_EQ(pclose(pipe), 0);
        EXPECT_EQ(out, c.expected);
    }
}

}  // namespace
