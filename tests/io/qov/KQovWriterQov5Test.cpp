// The version-5 writer: round trips through the reader, the caller's scene left alone, a full
// disk, options and the file frame.

#include "KQovWriterQov5TestUtil.h"
#include "io/KQovExporter.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovSceneInfo.h"
#include "scene/KQovThumbnail.h"

#include <cstring>

using v5test::AllOn;
using v5test::WriteFile;

TEST(KQovWriterQov5, RoundTripsNodesAndSettingsInAsciiBinaryAndEncrypted) {
    for (int mode : {KQovWriterQov5::eAscii, KQovWriterQov5::eBinary, KQovWriterQov5::eEncrypted}) {
        SCOPED_TRACE(mode);
        TempTestFolder tmp;
        v5test::Scene built;
        built.BuildNodes();
        built.BuildSettings();
        built.SyncChannels();
        const std::string name = tmp / "nodes.qov";
        ASSERT_TRUE(WriteFile(built.scene, name, mode));
        Read read(name);
        ASSERT_TRUE(read.ok);
        EXPECT_EQ(v5test::Comparable(*read.scene->GetRootNode()), built.Dump());

        KQovGlobalLightSettings& a = built.scene->GetGlobalLightSettings();
        KQovGlobalLightSettings& b = read.scene->GetGlobalLightSettings();
        EXPECT_EQ(b.GetAmbientColor().mBlue, a.GetAmbientColor().mBlue);
        EXPECT_EQ(b.GetFogEnable(), a.GetFogEnable());
        EXPECT_EQ(b.GetFogMode(), a.GetFogMode());
        EXPECT_EQ(b.GetFogStart(), a.GetFogStart());
        EXPECT_EQ(b.GetFogEnd(), a.GetFogEnd());
        EXPECT_EQ(b.GetFogColor().mGreen, a.GetFogColor().mGreen);
        EXPECT_EQ(b.GetFogColor().mAlpha, 1.0);  // always written opaque
        ASSERT_EQ(b.GetShadowPlaneCount(), 1);
        EXPECT_EQ(b.GetShadowPlane(0)->origin[2], 3.0);
        EXPECT_EQ(b.GetShadowIntensity(), 0.75);
        KQovGlobalTimeSettings& t = read.scene->GetGlobalTimeSettings();
        EXPECT_EQ(t.GetTimeMode(), KTime::eFRAMES50);
        EXPECT_EQ(t.GetSnapOnFrames(), 1);
        ASSERT_EQ(t.GetTimeMarkerCount(), 1);
        EXPECT_EQ(t.GetTimeMarker(0)->time.Get(), 4618615800);
        EXPECT_EQ(t.GetTimeMarker(0)->loop, 1);
        EXPECT_STREQ(read.scene->GetGlobalCameraSettings().GetDefaultCamera(), "Producer Top");
        EXPECT_EQ(read.scene->GetGlobalCameraSettings().GetDefaultViewingMode(), 2);
    }
}

namespace {

// Everything a write could touch: nodes with all takes, producer cameras, take records.
std::string FullDump(KQovScene* scene) {
    std::string out = SceneDump::NodeTree(*scene->GetRootNode());
    if (KQovNode* switcher = scene->GetCameraSwitcherNode()) out += SceneDump::NodeTree(*switcher);
    KQovGlobalCameraSettings& cameras = scene->GetGlobalCameraSettings();
    for (int i = 0; i < KQovGlobalCameraSettings::eProducerCount; ++i)
        if (KQovNode* node = cameras.GetProducerNode(i))
            out += SceneDump::NodeTree(*node) + std::to_string(node->GetVisibility()) +
                   std::to_string(node->GetShadingMode()) + "\n";
    out += "takes " + std::to_string(scene->GetTakeInfoCount()) + " current " +
           scene->GetCurrentTakeName() + "\n";
    return out;
}

}  // namespace

TEST(KQovWriterQov5, TheCallersSceneIsUnchangedByAWrite) {
    TempTestFolder tmp;
    v5test::Scene built;
    built.BuildNodes();
    built.BuildSettings();
    built.BuildTake();
    KQovGlobalCameraSettings& cameras = built.scene->GetGlobalCameraSettings();
    // Producer cameras are written hidden and in wire frame: their nodes keep their own state.
    cameras.GetProducerNode(KQovGlobalCameraSettings::eTop)->SetVisibility(true);
    cameras.GetProducerNode(KQovGlobalCameraSettings::eFront)->SetShadingMode(4);
    const std::string before = FullDump(built.scene);
    for (int mode : {KQovWriterQov5::eAscii, KQovWriterQov5::eBinary}) {
        ASSERT_TRUE(WriteFile(built.scene, tmp / "same.qov", mode));
        EXPECT_EQ(FullDump(built.scene), before);
    }
}

TEST(KQovWriterQov5, FullDiskGivesErrorThreeAndLeavesTheSceneAsItWas) {
    TempTestFolder tmp;
    v5test::Scene built;
    built.BuildNodes();
    built.BuildSettings();
    built.BuildTake();
    const std::string before = FullDump(built.scene);
    for (rlim_t room : {rlim_t(600), rlim_t(5000), rlim_t(40000)}) {
        SCOPED_TRACE(room);
        qovtest::FileSizeLimit limit(room);
        ASSERT_TRUE(limit.IsSet());
        KStreamOptionsQov options;
        AllOn(options);
        KQovWriterQov5 writer(&built.manager, nullptr);
        ASSERT_TRUE(writer.FileCreate((tmp / "full.qov").c_str()));
        EXPECT_FALSE(writer.Write(built.scene, &options));
        EXPECT_EQ(writer.GetLastErrorID(), KQovWriter::eOutOfDiskSpace);
        EXPECT_STREQ(writer.GetLastErrorString(), "Out of disk space");
        writer.FileClose();
        EXPECT_EQ(FullDump(built.scene), before);
    }
}

TEST(KQovWriterQov5, RefusesWhatItCannotWrite) {
    v5test::Scene built;
    KQovWriterQov5 writer(&built.manager, nullptr);
    KStreamOptionsQov qov;
    EXPECT_FALSE(writer.Write(built.scene, &qov));  // no file created
    EXPECT_EQ(writer.GetLastErrorID(), KQovWriter::eFileNotCreated);
    // Closing after the failed write keeps its error; closing again finds no file.
    EXPECT_FALSE(writer.FileClose());
    EXPECT_EQ(writer.GetLastErrorID(), KQovWriter::eFileNotCreated);
    EXPECT_FALSE(writer.FileClose());
    EXPECT_EQ(writer.GetLastErrorID(), KQovWriter::eFileNotOpened);
    EXPECT_FALSE(writer.FileCreate("/proc/no/such/folder/x.qov"));
    EXPECT_EQ(writer.GetLastErrorID(), KQovWriter::eFileNotCreated);
    EXPECT_FALSE(writer.IsFileOpen());
    for (const char* empty : {"", static_cast<const char*>(nullptr)}) {
        EXPECT_FALSE(writer.FileCreate(empty));
        EXPECT_EQ(writer.GetLastErrorID(), KQovWriter::eFileNotCreated);
        EXPECT_STREQ(writer.GetLastErrorString(), "Unable to create a file: the name is empty");
    }

    TempTestFolder tmp;
    ASSERT_TRUE(writer.FileCreate((tmp / "x.qov").c_str()));
    EXPECT_TRUE(writer.IsFileOpen());
    EXPECT_FALSE(writer.Write(built.scene, nullptr));
    EXPECT_EQ(writer.GetLastErrorID(), KQovWriter::eStreamOptionsNotSet);
    std::unique_ptr<KStreamOptions> made(writer.GetWriteOptions());
    EXPECT_TRUE(made->IsA(KStreamOptionsQov::ClassId()));
    EXPECT_TRUE(writer.Write(built.scene, made.get()));
    EXPECT_TRUE(writer.FileClose());
}

TEST(KQovWriterQov5, MotionOptionsWriteTakesButNoGeometryOrSettings) {
    TempTestFolder tmp;
    v5test::Scene built;
    built.BuildNodes();
    built.BuildSettings();
    built.BuildTake();
    KStreamOptionsMotion motion;
    const std::string name = tmp / "motion.qov";
    ASSERT_TRUE(WriteFile(built.scene, name, KQovWriterQov5::eAscii, &motion));
    const std::string text = v5test::ReadText(name);
    EXPECT_NE(text.find("\nTakes:  {"), std::string::npos);
    EXPECT_NE(text.find("Take: \"Walk\""), std::string::npos);
    for (const char* absent : {"\nMedia:", "\nGoboManager:", "\nAmbientRenderSettings:",
                               "\nSettings:", "\nShadowPlanes:"})
        EXPECT_EQ(text.find(absent), std::string::npos) << absent;
}

TEST(KQovWriterQov5, ExporterWritesIdsThreeAndFour) {
    TempTestFolder tmp;
    v5test::Scene built;
    built.BuildNodes();
    for (int id : {3, 4}) {
        KQovExporter exporter(&built.manager);
        const std::string name = tmp / ("exported" + std::to_string(id) + ".qov");
        ASSERT_TRUE(exporter.Initialize(name.c_str()));
        exporter.SetFileFormat(id);
        exporter.SetPassword(id == 3 ? "secret" : "");
        ASSERT_TRUE(exporter.Export(built.scene, nullptr)) << exporter.GetLastErrorString();
        KQovReaderQov reader(&built.manager, nullptr);
        ASSERT_TRUE(reader.FileOpen(name.c_str()));
        EXPECT_EQ(reader.GetFileKind(), id == 3 ? 1 : 0);
        int major, minor, revision;
        reader.GetFileVersion(major, minor, revision);
        EXPECT_EQ(major * 1000 + minor * 100 + revision, 5800);
        std::unique_ptr<KStreamOptionsQov> options(reader.ReadHeaderInfo(nullptr, true));
        ASSERT_TRUE(options);
        EXPECT_EQ(options->passwordFlag, id == 3 ? 1 : 0);
        EXPECT_EQ(options->GetCount(KStreamOptionsQov::eModels), 8);
        KQovDestroySceneInfo(&built.manager, options->sceneInfo);
    }
}

TEST(KQovWriterQov5, SummaryListsSelectedTakesWithComputedSpansAndTheTemplateFlag) {
    TempTestFolder tmp;
    v5test::Scene built;
    built.BuildNodes();
    built.BuildTake("Walk");
    built.BuildTake("Run");
    built.BuildTake("Idle");
    built.Add("ns:~qovexport~", nullptr);
    KQovTakeInfo run;
    run.name = "Run";
    run.comment = "fast";
    run.localTimeSpan.Set(KTime(5), KTime(10));
    run.referenceTimeSpan.Set(KTime(1), KTime(20));
    built.scene->SetTakeInfo(run);
    KQovTakeInfo idle;
    idle.name = "Idle";
    idle.select = false;
    built.scene->SetTakeInfo(idle);
    const std::string name = tmp / "summary.qov";
    ASSERT_TRUE(WriteFile(built.scene, name, KQovWriterQov5::eBinary));
    EXPECT_EQ(built.scene->GetTakeInfoCount(), 2);  // no record added for "Walk"

    KQovReaderQov reader(&built.manager, nullptr);
    ASSERT_TRUE(reader.FileOpen(name.c_str()));
    std::unique_ptr<KStreamOptionsQov> options(reader.ReadHeaderInfo(nullptr, false));
    ASSERT_TRUE(options);  // a Summary was found
    EXPECT_EQ(options->templateFlag, 1);
    ASSERT_EQ(options->GetTakeCount(), 2);
    // Take names in the order the scene lists them; "Idle" is deselected.
    const KQovTakeInfo* walk = options->GetTake(0);
    const KQovTakeInfo* fast = options->GetTake(1);
    EXPECT_STREQ(walk->name.Buffer(), "Walk");
    EXPECT_EQ(walk->localTimeSpan.GetStart().Get(), 0);
    EXPECT_EQ(walk->localTimeSpan.GetStop().Get(), 46186158000);  // the keys' span
    EXPECT_STREQ(fast->name.Buffer(), "Run");
    EXPECT_STREQ(fast->comment.Buffer(), "fast");
    EXPECT_EQ(fast->localTimeSpan.GetStart().Get(), 5);
    EXPECT_EQ(fast->referenceTimeSpan.GetStop().Get(), 20);
    KQovDestroySceneInfo(&built.manager, options->sceneInfo);
}

TEST(KQovWriterQov5, SceneInformationAndItsThumbnailRoundTrip) {
    TempTestFolder tmp;
    v5test::Scene built;
    built.BuildNodes();
    KQovThumbnail* thumbnail = built.manager.CreateThumbnail();
    thumbnail->SetDataFormat(KQovThumbnail::eRGBA_32);
    thumbnail->SetSize(64);
    for (int i = 0; i < thumbnail->GetSizeInBytes(); ++i) thumbnail->GetImage()[i] = uint8_t(i * 7);
    KQovSceneInfo* info = KQovCreateSceneInfo(&built.manager);
    info->title = "T";
    info->subject = "S";
    info->author = "A";
    info->keywords = "K";
    info->revision = "R";
    info->comment = "C";
    info->SetThumbnail(thumbnail);
    built.scene->SetSceneInfo(info);
    for (int mode : {KQovWriterQov5::eAscii, KQovWriterQov5::eBinary}) {
        const std::string name = tmp / "info.qov";
        ASSERT_TRUE(WriteFile(built.scene, name, mode));
        Read read(name);
        ASSERT_TRUE(read.ok);
        const KQovSceneInfo* back = read.scene->GetSceneInfo();
        ASSERT_TRUE(back);
        EXPECT_EQ(std::string(back->title.Buffer()) + back->subject.Buffer() +
                      back->author.Buffer() + back->keywords.Buffer() + back->revision.Buffer() +
                      back->comment.Buffer(),
                  "TSAKRC");
        ASSERT_TRUE(back->GetThumbnail());
        EXPECT_EQ(back->GetThumbnail()->GetDataFormat(), KQovThumbnail::eRGBA_32);
        ASSERT_EQ(back->GetThumbnail()->GetSizeInBytes(), thumbnail->GetSizeInBytes());
        EXPECT_EQ(std::memcmp(back->GetThumbnail()->GetImage(), thumbnail->GetImage(),
                              size_t(thumbnail->GetSizeInBytes())),
                  0);
    }
}

TEST(KQovWriterQov5, PasswordRecordProgressAndNesting) {
    TempTestFolder tmp;
    v5test::Scene built;
    built.BuildNodes();
    built.BuildTake();
    const struct {
        int flag;
        const char* password;
        bool stored;
    } kPasswords[] = {{1, "secret", true}, {1, "", false}, {0, "secret", false}};
    for (const auto& c : kPasswords) {
        KStreamOptionsQov options;
        AllOn(options);
        options.passwordFlag = c.flag;
        options.password = c.password;
        std::vector<std::string> texts;
        options.SetProgressCallback([&texts](int, const char* text, float) {
            if (text && text[0]) texts.push_back(text);
        });
        KQovExporter exporter(&built.manager);
        const std::string name = tmp / "locked.qov";
        ASSERT_TRUE(exporter.Initialize(name.c_str()));
        exporter.SetFileFormat(3);
        ASSERT_TRUE(exporter.Export(built.scene, &options));
        KQovFieldFile file;
        ASSERT_TRUE(file.Open(name.c_str(), false, true, nullptr));
        EXPECT_EQ(file.HasPassword(), c.stored) << c.password;
        if (c.stored) {
            EXPECT_TRUE(file.CheckPassword(c.password));
        }
        file.FieldFileClose();
        EXPECT_EQ(texts, (std::vector<std::string>{"Storing models", "Storing take Walk"}));
    }

    // Character poses nest scenes; past the limit a write is refused.
    KQovWriterQov5 writer(&built.manager, nullptr);
    ASSERT_TRUE(writer.FileCreate((tmp / "deep.qov").c_str()));
    writer.SetNestingDepth(KQovWriterQov5::kMaxNesting + 1);
    KStreamOptionsQov options;
    EXPECT_FALSE(writer.Write(built.scene, &options));
    EXPECT_EQ(writer.GetLastErrorID(), KQovWriter::eUnidentifiedError);
    writer.SetNestingDepth(KQovWriterQov5::kMaxNesting);
    EXPECT_TRUE(writer.Write(built.scene, &options));
}

// Transforms and visibility set only on a node's properties reach the file through its default
// channels and come back; the caller's curves keep their own defaults.
TEST(KQovWriterQov5, PropertyValuesComeBackThroughTheDefaultChannels) {
    const struct {
        const char* name;
        double t[3], r[3], s[3];
        bool visible;
    } kNodes[] = {{"Moved", {1.0, -2.5, 3.0}, {0.0, 0.0, 0.0}, {1.0, 1.0, 1.0}, true},
                  {"Turned", {0.0, 0.0, 0.0}, {10.0, 95.0, -30.0}, {1.0, 1.0, 1.0}, true},
                  {"Scaled", {0.0, 0.0, 0.0}, {0.0, 0.0, 0.0}, {2.0, 0.5, 1e-3}, false}};
    for (int mode : {KQovWriterQov5::eAscii, KQovWriterQov5::eBinary}) {
        SCOPED_TRACE(mode);
        TempTestFolder tmp;
        v5test::Scene built;
        for (const auto& n : kNodes) {
            KQovNode* node = built.Add(n.name, built.manager.CreateNull());
            node->SetLocalTranslation(n.t[0], n.t[1], n.t[2]);
            node->SetLocalRotation(n.r[0], n.r[1], n.r[2]);
            node->SetLocalScaling(n.s[0], n.s[1], n.s[2]);
            node->SetVisibility(n.visible);
        }
        const std::string before = SceneDump::NodeTree(*built.scene->GetRootNode());
        const std::string name = tmp / "values.qov";
        ASSERT_TRUE(WriteFile(built.scene, name, mode));
        EXPECT_EQ(SceneDump::NodeTree(*built.scene->GetRootNode()), before);
        Read read(name);
        ASSERT_TRUE(read.ok);
        for (const auto& n : kNodes) {
            KQovNode* node = read.scene->GetRootNode()->FindChild(n.name);
            ASSERT_NE(node, nullptr) << n.name;
            KVector4 t, r, s;
            node->GetLocalTranslation(t);
            node->GetLocalRotation(r);
            node->GetLocalScaling(s);
            for (int k = 0; k < 3; ++k) {
                EXPECT_EQ(t[k], n.t[k]) << n.name;
                EXPECT_EQ(r[k], n.r[k]) << n.name;
                EXPECT_FLOAT_EQ(s[k], n.s[k]) << n.name;
            }
            EXPECT_EQ(node->GetVisibility(), n.visible) << n.name;
            KFCurve* x = node->GetDefaultTakeNode()->GetTranslationX();
            ASSERT_NE(x, nullptr);
            EXPECT_EQ(x->GetValue(), float(n.t[0])) << n.name;
        }
    }
}
