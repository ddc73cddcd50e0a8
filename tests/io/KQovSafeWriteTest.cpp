// Writing never loses what is stored: every writer puts its file in place only when the whole
// write succeeded (a full disk, a refused scene, a read-only file, a missing folder all leave
// the old file as it was and no new file behind), writes through symbolic links, and reading
// never changes a file. Also: the exporter and importer carry the writer's and reader's own
// error, and passwords survive the round trip.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "animation/KFCurve.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovMarker.h"
#include "attributes/KQovMaterial.h"
#include "attributes/KQovMesh.h"
#include "attributes/KQovTexture.h"
#include "common/RefusingHeap.h"
#include "common/TempTestFolder.h"
#include "fieldfile/FieldFileTestUtil.h"
#include "io/KQovExporter.h"
#include "io/KQovFormatFactory.h"
#include "io/KQovImporter.h"
#include "io/KQovWriteOptions.h"
#include "io/KQovWriter.h"
#include "io/KStreamOptions.h"
#include "io/KStreamOptionsMotion.h"
#include "platform/KPlatformFile.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

using qovtest::FileSizeLimit;
using qovtest::ReadAll;
using qovtest::WriteAll;

const char* const kExtensions[KQovExporter::kWritingIdCount] = {
    "qov", "qov", "qov", "qov", "qov", "bvh", "htr", "trc", "asf", "amc",
    "c3d", "aoa", "mcd", "vpm", "mov", "brd", "dxf", "3ds", "obj"};

const std::string kOld = "old content, never to be lost\n";

// A scene every writer takes: one top node with a quad mesh, two animated marker nodes below.
KQovScene* BuildScene(KQovObjectManager& manager, bool secondTop = false) {
    KQovScene* scene = manager.CreateScene();
    KQovNode* top = manager.CreateNode("top");
    scene->GetRootNode()->AddChild(top);
    KQovMesh* mesh = manager.CreateMesh();
    mesh->InitControlPoints(4);
    for (int i = 0; i < 4; ++i) mesh->GetControlPoints().SetAt(i, KVector4(i % 2, i / 2, 0, 1));
    mesh->BeginPolygon();
    for (int v : {0, 1, 3, 2}) mesh->AddPolygonVertex(v);
    top->SetNodeAttribute(mesh);
    for (int k = 0; k < 2; ++k) {
        KQovNode* node = manager.CreateNode(("m" + std::to_string(k)).c_str());
        KQovMarker* marker = manager.CreateMarker();
        marker->SetType(KQovMarker::eOptical);
        node->SetNodeAttribute(marker);
        node->SetMarked(true);
        top->AddChild(node);
        node->AddTakeNode("take");
        node->SetCurrentTakeNode("take");
        KQovTakeNode* take = node->GetCurrentTakeNode();
        KFCurve* curves[3] = {take->GetTranslationX(), take->GetTranslationY(),
                              take->GetTranslationZ()};
        for (KFCurve* curve : curves) {
            curve->PrepareKeys(3);
            for (int f = 0; f < 3; ++f) {
                KTime time;
                time.SetSecondDouble(f / 30.0);
                curve->KeySet(f, time, float(k + f), KFCURVE_INTERPOLATION_LINEAR);
            }
            curve->CommitKeys(3);
        }
    }
    // A second top node: the skeleton writers refuse a scene without a single top node.
    if (secondTop) scene->GetRootNode()->AddChild(manager.CreateNode("other"));
    return scene;
}

struct Result {
    bool ok;
    int error;
    std::string text;
};

// The writer's own options, motion ones over the scene's three frames; none without a writer.
std::unique_ptr<KStreamOptions> WriterOptions(KQovWriter* writer) {
    std::unique_ptr<KStreamOptions> options(writer ? writer->GetWriteOptions() : nullptr);
    if (options && options->IsA(KStreamOptionsMotion::ClassId())) {
        auto* motion = static_cast<KStreamOptionsMotion*>(options.get());
        motion->SetFrameRate(0, 30.0);
        motion->SetFrameCount(3);
    }
    return options;
}

// Exports through the exporter as qovtool does: QOV ids without options, the others with the
// writer's own defaults.
Result Export(KQovObjectManager& manager, KQovScene* scene, int id, const std::string& path,
              const char* password = "", KQovImporter* source = nullptr) {
    KQovExporter exporter(&manager);
    exporter.Initialize(path.c_str());
    exporter.SetFileFormat(id);
    exporter.SetPassword(password);
    exporter.SetSource(source);
    std::unique_ptr<KQovWriter> writer(id > 4 ? KQovMakeFormatWriter(id, &manager) : nullptr);
    std::unique_ptr<KStreamOptions> options = WriterOptions(writer.get());
    // An Acclaim motion file writes the skeleton file beside it too: both in place, or neither.
    const bool ok = exporter.Export(scene, options.get());
    return {ok, exporter.GetLastErrorID(), exporter.GetLastErrorString()};
}

// Every name in the folder, hidden ones included, sorted.
std::vector<std::string> Entries(const std::string& folder) {
    std::vector<KPlatformDirEntry> entries;
    KPlatformListDirectory((folder + "/*").c_str(), entries);
    std::vector<std::string> names;
    for (const KPlatformDirEntry& e : entries)
        if (e.name != "." && e.name != "..") names.push_back(e.name);
    return names;
}

std::string Name(int id, const char* base) {
    return std::string(base) + "." + kExtensions[id];
}

class EveryWriter : public ::testing::TestWithParam<int> {};

// A full disk, simulated by a file-size limit below what the write needs: the write fails,
// the old file keeps its bytes and no other file is left.
TEST_P(EveryWriter, AFullDiskLeavesTheOldFileAndNothingElse) {
    const int id = GetParam();
    TempTestFolder tmp("qovsafe_");
    KQovObjectManager manager;
    KQovScene* scene = BuildScene(manager);
    const std::string probe = tmp / Name(id, "probe");
    const Result wrote = Export(manager, scene, id, probe);
    ASSERT_TRUE(wrote.ok) << wrote.error << " " << wrote.text;
    const size_t size = ReadAll(probe).size();
    ASSERT_GT(size, 1u);
    const std::vector<std::string> before = Entries(tmp.path());

    const std::string target = tmp / Name(id, "out");
    WriteAll(target, kOld);
    Result failed;
    {
        FileSizeLimit limit(size / 2);
        ASSERT_TRUE(limit.IsSet());
        failed = Export(manager, scene, id, target);
    }
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(failed.error, KQovIO::eOutOfDiskSpace) << failed.text;
    EXPECT_EQ(ReadAll(target), kOld);
    std::vector<std::string> expected = before;
    expected.push_back(Name(id, "out"));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Entries(tmp.path()), expected);

    // A write refused for another reason (a failing disk) says the system's reason, not room.
    KPlatformFailFileCalls(KPlatformFileCall::eWrite, 0, 1, EIO);
    const Result io = Export(manager, scene, id, target);
    KPlatformClearFileFaults();
    EXPECT_FALSE(io.ok);
    EXPECT_NE(io.text.find("Input/output error"), std::string::npos) << io.text;
    // It names the file, whichever write failed.
    EXPECT_NE(io.text.find("File not created: " + target + ": "), std::string::npos) << io.text;
    EXPECT_EQ(io.text.find("space"), std::string::npos) << io.text;
    EXPECT_EQ(ReadAll(target), kOld);
    EXPECT_EQ(Entries(tmp.path()), expected);

    // With room again the same write replaces the old file.
    // (Text files carry the time of writing, whose digits may differ by a few.)
    ASSERT_TRUE(Export(manager, scene, id, target).ok);
    EXPECT_NEAR(double(ReadAll(target).size()), double(size), 16.0);
}

// Memory refused at each step of an export, once or for good from there on: the write fails
// with the old files as they were and nothing hidden beside them, or it is whole; the process
// never ends on the way.
TEST_P(EveryWriter, MemoryRefusedKeepsTheOldFilesOrWritesThemWhole) {
    const int id = GetParam();
    TempTestFolder tmp("qovsafe_");
    KQovObjectManager manager;
    KQovScene* scene = BuildScene(manager);
    const std::string target = tmp / Name(id, "out");
    std::unique_ptr<KQovWriter> writer(id > 4 ? KQovMakeFormatWriter(id, &manager) : nullptr);
    std::unique_ptr<KStreamOptions> options = WriterOptions(writer.get());
    auto attempt = [&] {
        bool ok = false;
        try {
            KQovExporter exporter(&manager);
            exporter.Initialize(target.c_str());
            exporter.SetFileFormat(id);
            ok = exporter.Export(scene, options.get());
        } catch (const std::bad_alloc&) {
        }
        return ok;
    };
    const long kMany = 1L << 40;
    gThrowIn = kMany;
    ASSERT_TRUE(attempt());
    const long used = kMany - gThrowIn.exchange(-1);
    const std::vector<std::string> names = Entries(tmp.path());
    ASSERT_GT(used, 0);
    const long step = std::max(1L, used / 40);
    for (bool forGood : {false, true}) {
        for (long n = 0; n < used; n += step) {
            SCOPED_TRACE(std::to_string(n) + (forGood ? " and on" : ""));
            for (const std::string& name : names) WriteAll(tmp / name, kOld);
            bool ok;
            {
#if defined(__SANITIZE_ADDRESS__)
                // What a writer's own parts lose when memory runs out is not this test's matter.
                __lsan::ScopedDisabler ownParts;
#endif
                gKeepRefusing = forGood;
                gThrowIn = n;
                ok = attempt();
                gThrowIn = -1;
                gKeepRefusing = false;
                gRefuseAll = false;
            }
            for (const std::string& name : names)
                EXPECT_EQ(ReadAll(tmp / name) == kOld, !ok) << name;
            EXPECT_EQ(Entries(tmp.path()), names);
        }
    }
}

// Refusals before anything is written: every writer alike, the old file untouched, no
// folder made.
TEST_P(EveryWriter, RefusedTargetsAreLeftAlone) {
    const int id = GetParam();
    TempTestFolder tmp("qovsafe_");
    KQovObjectManager manager;
    KQovScene* scene = BuildScene(manager);

    const std::string missing = tmp / ("missing/" + Name(id, "out"));
    Result r = Export(manager, scene, id, missing);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, KQovIO::eFileNotCreated);
    EXPECT_NE(r.text.find("folder " + tmp.path() + "/missing does not exist"), std::string::npos)
        << r.text;
    EXPECT_FALSE(KPlatformPathExists((tmp / "missing").c_str()));

    const std::string locked = tmp / Name(id, "locked");
    WriteAll(locked, kOld);
    ASSERT_EQ(chmod(locked.c_str(), 0444), 0);
    r = Export(manager, scene, id, locked);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, KQovIO::eFileNotCreated);
    EXPECT_NE(r.text.find("read-only"), std::string::npos) << r.text;
    EXPECT_EQ(ReadAll(locked), kOld);

    const std::string folder = tmp / Name(id, "folder");
    ASSERT_TRUE(KPlatformMakeDirectory(folder.c_str()));
    r = Export(manager, scene, id, folder);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(KPlatformIsDirectory(folder.c_str()));

    // A link into a missing folder: refused like the folder itself.
    const std::string dangling = tmp / Name(id, "dangling");
    ASSERT_EQ(symlink((tmp / "gone/x").c_str(), dangling.c_str()), 0);
    r = Export(manager, scene, id, dangling);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.text.find("folder " + tmp.path() + "/gone does not exist"), std::string::npos)
        << r.text;

    // A name longer than the folder takes says so.
    const std::string longName = tmp / Name(id, std::string(256, 'n').c_str());
    r = Export(manager, scene, id, longName);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.text.find("he name is too long"), std::string::npos) << r.text;

    // Names that can only be folders are refused by name, also when the caller goes on to the
    // export: nothing is written beside the folder.
    ASSERT_TRUE(KPlatformMakeDirectory((tmp / "d").c_str()));
    for (const std::string& name : {tmp / "d/", tmp / "d/.", tmp / "d/..", std::string(".")}) {
        SCOPED_TRACE(name);
        KQovExporter exporter(&manager);
        EXPECT_FALSE(exporter.Initialize(name.c_str()));
        r = Export(manager, scene, id, name);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, KQovIO::eFileNotCreated);
        EXPECT_EQ(r.text, "Unable to create file " + name + ": the name is a folder");
    }
    // No name at all is no file's name either.
    KQovExporter unnamed(&manager);
    EXPECT_FALSE(unnamed.Initialize(""));
    EXPECT_EQ(unnamed.GetLastErrorID(), KQovIO::eFileNotCreated);
    EXPECT_STREQ(unnamed.GetLastErrorString(), "Unable to create file: no file name given");

    // A writer asked to create a second file drops the first one it began, unplaced; the
    // second one written and closed takes its place.
    const std::string again = tmp / Name(id, "again");
    WriteAll(again, kOld);
    std::unique_ptr<KQovWriter> writer{KQovMakeFormatWriter(id, &manager)};
    ASSERT_TRUE(writer);
    std::unique_ptr<KStreamOptions> options = WriterOptions(writer.get());
    EXPECT_TRUE(writer->FileCreate(again.c_str()));
    EXPECT_TRUE(writer->FileCreate((tmp / Name(id, "other")).c_str()));
    EXPECT_TRUE(writer->Write(scene, options.get())) << writer->GetLastErrorString();
    EXPECT_TRUE(writer->FileClose()) << writer->GetLastErrorString();
    EXPECT_EQ(ReadAll(again), kOld);
    EXPECT_NE(ReadAll(tmp / Name(id, "other")), "");

    std::vector<std::string> expected = {"d", Name(id, "dangling"), Name(id, "folder"),
                                         Name(id, "locked"), Name(id, "again"), Name(id, "other")};
    // An Acclaim motion file is written with its skeleton file.
    if (id == 9) expected.push_back("other.asf");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Entries(tmp.path()), expected);
}

// A symbolic link is written through: the link stays, its target gets the new bytes and keeps
// its permissions.
TEST_P(EveryWriter, ALinkIsWrittenThrough) {
    const int id = GetParam();
    TempTestFolder tmp("qovsafe_");
    KQovObjectManager manager;
    KQovScene* scene = BuildScene(manager);
    ASSERT_TRUE(KPlatformMakeDirectory((tmp / "real").c_str()));
    const std::string target = tmp / ("real/" + Name(id, "target"));
    WriteAll(target, kOld);
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
    const std::string link = tmp / Name(id, "link");
    ASSERT_EQ(symlink(("real/" + Name(id, "target")).c_str(), link.c_str()), 0);
    const Result r = Export(manager, scene, id, link);
    ASSERT_TRUE(r.ok) << r.text;
    struct stat st;
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    const std::string bytes = ReadAll(target);
    EXPECT_NE(bytes, kOld);
    EXPECT_FALSE(bytes.empty());
    // Nothing but the target (and what the format writes beside it) in its folder.
    for (const std::string& name : Entries(tmp / "real")) EXPECT_NE(name[0], '.') << name;

    // A link to a file not there yet makes that file; the link stays a link.
    const std::string ahead = tmp / Name(id, "ahead");
    ASSERT_EQ(symlink(("real/" + Name(id, "later")).c_str(), ahead.c_str()), 0);
    ASSERT_TRUE(Export(manager, scene, id, ahead).ok);
    ASSERT_EQ(lstat(ahead.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_FALSE(ReadAll(tmp / ("real/" + Name(id, "later"))).empty());
}

// A QOV file read is changed before the new file would take the old one's place: every writer
// refuses with the read's error, before its file is put in place (the old file stays, nothing
// new beside it); unchanged, it writes.
TEST_P(EveryWriter, ASourceChangedBeforeTheCommitKeepsTheOldFile) {
    const int id = GetParam();
    TempTestFolder tmp("qovsafe_");
    const std::string in = tmp / "in.qov";
    {
        KQovObjectManager manager;
        ASSERT_TRUE(Export(manager, BuildScene(manager), 0, in).ok);
    }
    // The scene written is made anew: only the read file's watch matters here.
    KQovObjectManager readManager, manager;
    KQovImporter importer(&readManager);
    ASSERT_TRUE(importer.Initialize(in.c_str()));
    ASSERT_TRUE(importer.Import(readManager.CreateScene(), nullptr))
        << importer.GetLastErrorString();
    KQovScene* scene = BuildScene(manager);
    const std::string target = tmp / Name(id, "out");
    WriteAll(target, kOld);
    const Result whole = Export(manager, scene, id, target, "", &importer);
    ASSERT_TRUE(whole.ok) << whole.text;
    const std::string written = ReadAll(target);
    ASSERT_NE(written, kOld);
    const std::vector<std::string> before = Entries(tmp.path());

    WriteAll(target, kOld);
    FILE* grown = std::fopen(in.c_str(), "ab");
    ASSERT_NE(grown, nullptr);
    std::fputs("appended\n", grown);
    std::fclose(grown);
    const Result refused = Export(manager, scene, id, target, "", &importer);
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.error, KQovIO::eFileCorrupted);
    EXPECT_NE(refused.text.find("cut short"), std::string::npos) << refused.text;
    EXPECT_EQ(ReadAll(target), kOld);
    EXPECT_EQ(Entries(tmp.path()), before);
}

// A pipe gets the file of a writer that writes from start to end, as long as a file gets;
// the QOV and C3D writers go back over what they wrote and refuse it, writing nothing.
TEST_P(EveryWriter, APipeIsWrittenOrRefused) {
    const int id = GetParam();
    TempTestFolder tmp("qovsafe_");
    KQovObjectManager manager;
    KQovScene* scene = BuildScene(manager);
    const std::string probe = tmp / Name(id, "probe"), pipe = tmp / Name(id, "pipe");
    ASSERT_TRUE(Export(manager, scene, id, probe).ok);
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const bool refused = id <= 4 || std::string(kExtensions[id]) == "c3d";
    // A writer that refuses a pipe does so at once, with no reader waiting on it.
    if (refused) {
        EXPECT_FALSE(Export(manager, scene, id, pipe).ok);
    }
    // The read end first, so that the writer's open does not wait; room for the whole file.
    const int reader = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    fcntl(reader, F_SETPIPE_SZ, 1 << 20);
    const Result r = Export(manager, scene, id, pipe);
    char buffer[1 << 16];
    const ssize_t got = read(reader, buffer, sizeof buffer);
    close(reader);
    EXPECT_EQ(r.ok, !refused) << r.text;
    EXPECT_EQ(r.text.find("pipe") != std::string::npos, refused) << r.text;
    EXPECT_NEAR(double(std::max<ssize_t>(got, 0)), refused ? 0.0 : double(ReadAll(probe).size()),
                16.0);

    // A pipe at the name of a file written beside the output (an OBJ's material file, an AMC's
    // skeleton file) was not named by the user: refused at once, never waited on.
    scene->GetRootNode()->GetChild(0)->GetMesh()->AddMaterial(manager.CreateMaterial("red"), 0);
    const std::string beside = tmp / Name(id, "beside");
    std::unique_ptr<KQovWriter> writer(id > 4 ? KQovMakeFormatWriter(id, &manager) : nullptr);
    for (const std::string& companion :
         writer ? writer->GetCompanionFiles(beside.c_str()) : std::vector<std::string>()) {
        ASSERT_EQ(mkfifo(companion.c_str(), 0600), 0);
        const Result r = Export(manager, scene, id, beside);
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.text.find(companion), std::string::npos) << r.text;
        EXPECT_NE(r.text.find("t is not a regular file"), std::string::npos) << r.text;
        EXPECT_FALSE(KPlatformPathExists(beside.c_str()));
    }
}

// A mesh whose polygons name control points it lacks (a copy not given its points yet) is
// refused by every writer of meshes, naming its node: the old file stays, nothing else is left.
// The motion writers leave meshes alone.
TEST_P(EveryWriter, AMeshMissingItsPointsIsRefusedByName) {
    const int id = GetParam();
    TempTestFolder tmp("qovsafe_");
    KQovObjectManager manager;
    KQovScene* scene = BuildScene(manager);
    KQovNode* top = scene->GetRootNode()->GetChild(0);
    KQovMesh* copy = manager.CreateMesh();
    copy->Copy(*top->GetMesh());
    top->SetNodeAttribute(copy);
    const std::string target = tmp / Name(id, "out");
    WriteAll(target, kOld);
    const Result r = Export(manager, scene, id, target);
    if (id > 4 && id < 16) {
        EXPECT_TRUE(r.ok) << r.text;
        return;
    }
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.text, "The mesh of node \"top\" names control point 0 in polygon 0 but has 0 "
                      "control points");
    EXPECT_EQ(ReadAll(target), kOld);
    EXPECT_EQ(Entries(tmp.path()), std::vector<std::string>{Name(id, "out")});
    copy->InitControlPoints(3);
    EXPECT_NE(Export(manager, scene, id, target).text.find("point 3 in polygon 0 but has 3"),
              std::string::npos);
    copy->InitControlPoints(4);
    EXPECT_TRUE(Export(manager, scene, id, target).ok);
}

// A material and a texture destroyed while the mesh named them are written by no writer.
TEST_P(EveryWriter, ADestroyedMaterialOrTextureIsWrittenAsNone) {
    const int id = GetParam();
    TempTestFolder tmp("qovsafe_");
    KQovObjectManager manager;
    KQovScene* scene = BuildScene(manager);
    KQovMesh* mesh = scene->GetRootNode()->GetChild(0)->GetMesh();
    KQovMaterial* material = manager.CreateMaterial("gone");
    KQovTexture* texture = manager.CreateTexture("gone");
    texture->SetFileName((tmp / "gone.tga").c_str());
    mesh->AddMaterial(material, 0);
    mesh->AddTexture(texture, 0);
    ASSERT_TRUE(manager.DestroyMaterial(material));
    ASSERT_TRUE(manager.DestroyTexture(texture));
    const std::string target = tmp / Name(id, "out");
    const Result r = Export(manager, scene, id, target);
    ASSERT_TRUE(r.ok) << r.text;
    EXPECT_EQ(ReadAll(target).find("gone"), std::string::npos);
}

// The file begun takes the old one's place only through FileClose after a good Write, in
// whatever order a caller makes the calls: 'c' begins the target, 'o' another file, 'w' writes
// the scene, 'r' a scene the writer refuses, 'x' closes, 'd' discards; the writer is destroyed
// at the end. A Write after a failed one is a second try on the file begun afresh.
TEST_P(EveryWriter, OnlyACloseAfterAGoodWritePlacesTheFile) {
    const int id = GetParam();
    TempTestFolder tmp("qovsafe_");
    KQovObjectManager manager;
    KQovScene* scene = BuildScene(manager);
    // Refused by every writer: a mesh lacking its points, and nothing else.
    KQovScene* refused = manager.CreateScene();
    KQovMesh* lacking = manager.CreateMesh();
    lacking->Copy(*scene->GetRootNode()->GetChild(0)->GetMesh());
    KQovNode* bad = manager.CreateNode("bad");
    bad->SetNodeAttribute(lacking);
    refused->GetRootNode()->AddChild(bad);
    // The bytes of the scene under the target's name (an AMC file names its skeleton file).
    const std::string probe = tmp / Name(id, "out");
    ASSERT_TRUE(Export(manager, scene, id, probe).ok);
    const std::string probed = ReadAll(probe);
    ASSERT_EQ(KPlatformDeleteFile(probe.c_str()), 0);
    if (id == 9) {
        ASSERT_EQ(KPlatformDeleteFile((tmp / "out.asf").c_str()), 0);
    }
    // The files a write of the target or the other name makes (an AMC's skeleton beside it).
    auto names = [id](const char* base) {
        std::vector<std::string> out{Name(id, base)};
        if (id == 9) out.push_back(std::string(base) + ".asf");
        return out;
    };
    const struct {
        const char* calls;
        bool target, other;  // placed at the end
    } rows[] = {
        {"cwx", true, false},  {"cwd", false, false},  {"cw", false, false},
        {"cx", false, false},  {"crx", false, false},  {"crcd", false, false},
        {"crcrx", false, false}, {"crcwx", true, false}, {"cowx", false, true},
        {"cod", false, false}, {"cwox", false, false}, {"cwwx", false, false},
        {"cwdx", false, false}, {"cwxx", true, false},
        {"crwx", true, false},  {"cwwwx", true, false}, {"cwxcwx", true, false},
        {"wx", false, false},  {"d", false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.calls);
        for (const std::string& name : names("out")) WriteAll(tmp / name, kOld);
        bool closed = false;
        {
            std::unique_ptr<KQovWriter> writer{KQovMakeFormatWriter(id, &manager)};
            ASSERT_TRUE(writer);
            std::unique_ptr<KStreamOptions> options = WriterOptions(writer.get());
            for (const char* call = row.calls; *call; ++call) {
                switch (*call) {
                    case 'c': writer->FileCreate((tmp / Name(id, "out")).c_str()); break;
                    case 'o': writer->FileCreate((tmp / Name(id, "other")).c_str()); break;
                    case 'w': writer->Write(scene, options.get()); break;
                    case 'r': EXPECT_FALSE(writer->Write(refused, options.get())); break;
                    case 'x': closed = writer->FileClose() || closed; break;
                    case 'd': writer->FileDiscard(); break;
                }
            }
        }
        // A close tells whether it placed the file.
        if (std::strchr(row.calls, 'x')) {
            EXPECT_EQ(closed, row.target || row.other);
        }
        for (const std::string& name : names("out"))
            EXPECT_EQ(ReadAll(tmp / name) == kOld, !row.target) << name;
        // The good scene whole, as a writer of its own writes it (a QOV file's time aside; the
        // other name may be written into its file).
        auto same = [&](const std::string& bytes, bool target) {
            if (id > 4 && target) {
                EXPECT_EQ(bytes, probed);
            } else {
                EXPECT_NEAR(double(bytes.size()), double(probed.size()), 16.0);
            }
        };
        if (row.target) same(ReadAll(tmp / Name(id, "out")), true);
        // Nothing else is left, hidden or not.
        std::vector<std::string> expected = names("out");
        if (row.other) {
            same(ReadAll(tmp / Name(id, "other")), false);
            for (const std::string& name : names("other")) expected.push_back(name);
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(Entries(tmp.path()), expected);
        for (const std::string& name : names("other")) KPlatformDeleteFile((tmp / name).c_str());
    }
}

INSTANTIATE_TEST_SUITE_P(Ids, EveryWriter, ::testing::Range(0, KQovExporter::kWritingIdCount),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(kExtensions[info.param]) +
                                    std::to_string(info.param);
                         });

// One geometry writer used for file after file writes each whole, byte for byte as a new
// writer writes it: the materials too (a 3DS writer once left them out of a second file).
TEST(SafeWrite, AWriterUsedAgainWritesEachFileAsANewOne) {
    KQovObjectManager manager;
    KQovScene* scene = BuildScene(manager);
    KQovMesh* mesh = scene->GetRootNode()->GetChild(0)->GetMesh();
    KQovMaterial* red = manager.CreateMaterial("Red");
    red->SetDefaultDiffuse(KColor(1, 0, 0));
    mesh->AddMaterial(red, 0);
    mesh->InitMaterialIndices(KQovLayer::eByPolygon);
    mesh->GetMaterialIndices()->SetCount(1);
    mesh->GetMaterialIndices()->SetAt(0, 0);
    // A hexagon whose outline crosses itself: 3DS and DXF cut it with a warning.
    KQovScene* crossing = BuildScene(manager);
    KQovMesh* cut = manager.CreateMesh();
    const double xy[6][2] = {{0, 0}, {2, 0}, {2, 2}, {0, 2}, {1, 3}, {3, -1}};
    cut->InitControlPoints(6);
    for (int i = 0; i < 6; ++i)
        cut->GetControlPoints().SetAt(i, KVector4(xy[i][0], xy[i][1], 0, 1));
    cut->BeginPolygon();
    for (int v : {0, 1, 2, 3, 5, 4}) cut->AddPolygonVertex(v);
    crossing->GetRootNode()->GetChild(0)->SetNodeAttribute(cut);
    for (int id : {16, 17, 18}) {
        SCOPED_TRACE(kExtensions[id]);
        const std::string name = Name(id, "x");
        // The material file beside an OBJ file, as the writer names it.
        const std::string mtl = id == 18 ? "x.mtl" : "";
        TempTestFolder fresh("qovsafe_"), first("qovsafe_"), second("qovsafe_");
        auto write = [&](KQovWriter& writer, const TempTestFolder& folder,
                         KQovScene* written = nullptr) {
            std::unique_ptr<KStreamOptions> options = WriterOptions(&writer);
            ASSERT_TRUE(writer.FileCreate((folder / name).c_str()));
            ASSERT_TRUE(writer.Write(written ? written : scene, options.get()));
            ASSERT_TRUE(writer.FileClose());
        };
        std::unique_ptr<KQovWriter> once{KQovMakeFormatWriter(id, &manager)};
        std::unique_ptr<KQovWriter> again{KQovMakeFormatWriter(id, &manager)};
        write(*once, fresh);
        write(*again, first);
        write(*again, second);
        for (const std::string& file : {name, mtl}) {
            if (file.empty()) continue;
            EXPECT_EQ(ReadAll(first / file), ReadAll(fresh / file)) << file;
            EXPECT_EQ(ReadAll(second / file), ReadAll(fresh / file)) << file;
        }
        if (id == 18) {
            EXPECT_NE(ReadAll(second / mtl).find("newmtl Red"), std::string::npos);
        }
        // A warning about one file (a polygon cut as a strip) is not told of the next one.
        TempTestFolder third("qovsafe_");
        std::unique_ptr<KQovWriter> warned{KQovMakeFormatWriter(id, &manager)};
        write(*warned, third, crossing);
        KString words;
        warned->GetStatusText(words);
        EXPECT_EQ(words.Buffer()[0] != 0, id != 18) << words.Buffer();
        write(*warned, third, scene);
        warned->GetStatusText(words);
        EXPECT_STREQ(words.Buffer(), "");
    }
}

// An exporter given the importer as its source never writes over a file the read used: the
// file read under its own name or another case of it, its material library, an Acclaim
// motion file's skeleton. Refused before anything is written, as qovtool refuses it.
TEST(SafeWrite, AnExportNeverWritesOverWhatItsSourceRead) {
    TempTestFolder tmp("qovsafe_");
    // Test data as named here (the skeleton beside its motion file, where it is looked for).
    const std::pair<const char*, const char*> copies[] = {{"obj/spider.obj", "s.obj"},
                                                          {"obj/spider.mtl", "spider.mtl"},
                                                          {"asf/11_01.amc", "m.amc"},
                                                          {"asf/11.asf", "m.asf"},
                                                          {"trc/Gait.trc", "g.trc"}};
    for (const auto& [from, to] : copies) {
        const std::string bytes = ReadAll(std::string(QOV_TESTDATA_DIR) + "/" + from);
        ASSERT_FALSE(bytes.empty()) << "test data missing: " << from;
        WriteAll(tmp / to, bytes);
    }
    // The time code beside a TRC file, which its read takes the start from.
    WriteAll(tmp / "g.tc", "00:00:01:00\nSMPTE\n30\n");
    // An OBJ whose material library is the project file that writing o.qov would remove.
    ASSERT_TRUE(KPlatformMakeDirectory((tmp / "o.qod").c_str()));
    WriteAll(tmp / "o.qod/Project.txt", "newmtl red\nKd 1 0 0\n");
    WriteAll(tmp / "t.obj", "mtllib " + tmp / "o.qod/Project.txt" +
                                "\nv 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl red\nf 1 2 3\n");
    // A QOV file whose read takes q.qod/Project.txt in its place, which writing q.qov removes.
    {
        KQovObjectManager made;
        ASSERT_TRUE(Export(made, made.CreateScene(), 0, tmp / "made.qov").ok);
    }
    ASSERT_TRUE(KPlatformMakeDirectory((tmp / "q.qod").c_str()));
    ASSERT_EQ(std::rename((tmp / "made.qov").c_str(), (tmp / "q.qod/Project.txt").c_str()), 0);
    WriteAll(tmp / "q.QOV", "stale");
    const std::string p = tmp.path();
    const struct {
        const char* in;
        int id;
        const char* target;
        std::string text;
    } rows[] = {
        {"s.obj", 18, "s.obj",
         "the output " + p + "/s.obj is the same file as the input " + p + "/s.obj"},
        {"s.obj", 18, "Spider.obj",
         "the file " + p +
             "/spider.mtl written beside the output is the "
             "same file as " +
             p + "/spider.mtl, which the read of " + p + "/s.obj used"},
        {"m.amc", 8, "m.asf",
         "the output " + p + "/m.asf is the same file as " + p + "/m.asf, which the read of " + p +
             "/m.amc used"},
        {"g.trc", 7, "g.tc",
         "the output " + p + "/g.tc is the same file as " + p + "/g.tc, which the read of " + p +
             "/g.trc used"},
        {"t.obj", 0, "o.qov",
         "the project file " + p + "/o.qod/Project.txt, which writing " + p +
             "/o.qov removes, is the same file as " + p + "/o.qod/Project.txt, which the read of " +
             p + "/t.obj used"},
        {"q.QOV", 0, "q.qov",
         "the project file " + p + "/q.qod/Project.txt, which writing " + p +
             "/q.qov removes, is the same file as " + p + "/q.qod/Project.txt, which the read of " +
             p + "/q.QOV used"},
    };
    const std::vector<std::string> before = Entries(p);
    std::vector<std::string> kept;
    for (const std::string& name : before) kept.push_back(ReadAll(tmp / name));
    const std::string project = ReadAll(tmp / "o.qod/Project.txt");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.target);
        KQovObjectManager manager;
        KQovScene* scene = manager.CreateScene();
        KQovImporter importer(&manager);
        ASSERT_TRUE(importer.Initialize((tmp / row.in).c_str()));
        ASSERT_TRUE(importer.Import(scene, nullptr)) << importer.GetLastErrorString();
        const Result r = Export(manager, scene, row.id, tmp / row.target, "", &importer);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, KQovIO::eFileNotCreated);
        EXPECT_EQ(r.text, row.text + "; nothing was written");
        EXPECT_EQ(Entries(p), before);
        for (size_t k = 0; k < before.size(); ++k) EXPECT_EQ(ReadAll(tmp / before[k]), kept[k]);
        EXPECT_EQ(ReadAll(tmp / "o.qod/Project.txt"), project);
    }
    // A motion file written alone after its skeleton writes no skeleton beside it: one whose
    // ".asf" of its name is the skeleton read is not refused, and that file is left alone.
    KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();
    KQovImporter importer(&manager);
    ASSERT_TRUE(importer.Initialize((tmp / "m.amc").c_str()));
    ASSERT_TRUE(importer.Import(scene, nullptr)) << importer.GetLastErrorString();
    std::unique_ptr<KQovWriter> writer(KQovMakeFormatWriter(8, &manager));
    std::unique_ptr<KStreamOptions> options(writer->GetWriteOptions());
    KQovFillWriteOptions(*scene, *options);
    for (const auto& [id, name] : {std::pair(8, "n.asf"), std::pair(9, "m.AMC")}) {
        KQovExporter exporter(&manager);
        exporter.Initialize((tmp / name).c_str());
        exporter.SetFileFormat(id);
        exporter.SetSource(&importer);
        EXPECT_TRUE(exporter.Export(scene, options.get())) << exporter.GetLastErrorString();
    }
    EXPECT_EQ(ReadAll(tmp / "m.asf"), kept[size_t(std::find(before.begin(), before.end(), "m.asf") -
                                                   before.begin())]);
    EXPECT_EQ(ReadAll(tmp / "m.AMC").rfind("#!OML:ASF n.asf\n", 0), 0u);
}

// What the read used is the file it opened, not the name that led there: a file of another case
// put beside it after the read, or the file renamed since, does not make it a file to replace.
TEST(SafeWrite, WhatTheReadUsedIsTheFileItOpened) {
    TempTestFolder tmp("qovsafe_");
    const std::string p = tmp.path();
    const std::string mtl = "newmtl red\nKd 1 0 0\n";
    const std::string obj = "mtllib CUBE.MTL\nv 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl red\nf 1 2 3\n";
    const struct {
        const char* moved;  // renamed after the read, or "" (CUBE.MTL then made beside)
        const char* in;
        const char* out;
        std::string text;
    } rows[] = {
        {"", "upper.obj", "cube.obj",
         "the file " + p + "/cube.mtl written beside the output is the same file as " + p +
             "/cube.mtl, which the read of " + p + "/upper.obj used"},
        {"moved.mtl", "upper.obj", "moved.obj",
         "the file " + p + "/moved.mtl written beside the output is the same file as " + p +
             "/cube.mtl, which the read of " + p + "/upper.obj used"},
        {"r.obj", "upper.obj", "r.obj",
         "the output " + p + "/r.obj is the same file as the input " + p + "/upper.obj"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.out);
        for (const std::string& name : Entries(p)) std::remove((tmp / name).c_str());
        WriteAll(tmp / "cube.mtl", mtl);
        WriteAll(tmp / row.in, obj);
        KQovObjectManager manager;
        KQovScene* scene = manager.CreateScene();
        KQovImporter importer(&manager);
        ASSERT_TRUE(importer.Initialize((tmp / row.in).c_str()));
        ASSERT_TRUE(importer.Import(scene, nullptr)) << importer.GetLastErrorString();
        const std::string from = *row.moved == 'r' ? tmp / row.in : tmp / "cube.mtl";
        if (*row.moved)
            ASSERT_EQ(std::rename(from.c_str(), (tmp / row.moved).c_str()), 0);
        else
            WriteAll(tmp / "CUBE.MTL", kOld);
        const std::vector<std::string> before = Entries(p);
        const Result r = Export(manager, scene, 18, tmp / row.out, "", &importer);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.text, row.text + "; nothing was written");
        EXPECT_EQ(Entries(p), before);
        EXPECT_EQ(ReadAll(*row.moved ? tmp / row.moved : tmp / "cube.mtl"),
                  *row.moved == 'r' ? obj : mtl);
    }
}

// The source may go before the export: the exporter then has none and reads nothing of it. An
// exporter that goes first leaves nothing behind in the importer.
TEST(SafeWrite, ASourceThatGoesFirstIsForgotten) {
    TempTestFolder tmp("qovsafe_");
    KQovObjectManager manager;
    KQovScene* scene = BuildScene(manager);
    const std::string in = tmp / "in.qov";
    ASSERT_TRUE(Export(manager, scene, 0, in).ok);
    KQovExporter exporter(&manager);
    {
        auto first = std::make_unique<KQovExporter>(&manager);
        KQovImporter* importer = manager.CreateImporter();
        ASSERT_TRUE(importer->Initialize(in.c_str()));
        ASSERT_TRUE(importer->Import(manager.CreateScene(), nullptr));
        first->SetSource(importer);
        exporter.SetSource(importer);
        first.reset();
        ASSERT_TRUE(manager.DestroyImporter(importer));
    }
    exporter.Initialize((tmp / "out.qov").c_str());
    EXPECT_TRUE(exporter.Export(scene, nullptr)) << exporter.GetLastErrorString();
}

// A name the caller gives holding a '\\' is the file of that name: a file in the folder
// before the '\\' is neither written over nor read.
TEST(SafeWrite, ACallersBackslashIsPartOfTheName) {
    TempTestFolder tmp("qovsafe_");
    ASSERT_TRUE(KPlatformMakeDirectory((tmp / "sub").c_str()));
    const std::string inFolder = tmp / "sub/x.qov", named = tmp / "sub\\x.qov";
    WriteAll(inFolder, kOld);
    KQovObjectManager manager;
    ASSERT_TRUE(Export(manager, BuildScene(manager), 0, named).ok);
    EXPECT_TRUE(ReadAll(inFolder) == kOld);
    EXPECT_TRUE(ReadAll(named) != kOld);
    KQovImporter importer(&manager);
    ASSERT_TRUE(importer.Initialize(named.c_str())) << importer.GetLastErrorString();
    EXPECT_TRUE(importer.Import(manager.CreateScene(), nullptr)) << importer.GetLastErrorString();
    KQovImporter folder(&manager);
    EXPECT_FALSE(folder.Initialize((tmp / "sub\\none.qov").c_str()));
}

// Writers that refuse the scene leave the old file as it was (they used to empty it), with
// their own error, not "Out of disk space".
TEST(SafeWrite, ARefusedSceneLeavesTheOldFile) {
    const char* const kTwoRoots =
        "Scene has 2 root nodes; the file holds the hierarchy below a single root node.";
    const struct {
        int id;
        const char* text;
    } rows[] = {{5, kTwoRoots}, {6, kTwoRoots}, {8, kTwoRoots}, {9, kTwoRoots}};
    for (const auto& row : rows) {
        const int id = row.id;
        SCOPED_TRACE(kExtensions[id]);
        TempTestFolder tmp("qovsafe_");
        KQovObjectManager manager;
        KQovScene* scene = BuildScene(manager, true);
        const std::string target = tmp / Name(id, "out");
        WriteAll(target, kOld);
        const Result r = Export(manager, scene, id, target);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, KQovIO::eFileNotCreated) << r.text;
        EXPECT_EQ(r.text, row.text);
        EXPECT_EQ(ReadAll(target), kOld);
        EXPECT_EQ(Entries(tmp.path()), std::vector<std::string>{Name(id, "out")});
    }
    // Through the writer itself: a caller that closes it after a refused write gets false,
    // the refusal's message, and the old file (an AMC's skeleton beside it too).
    const struct {
        int id;
        const char* format;
        const char* holds;
    } direct[] = {{16, "a DXF", "meshes"},    {18, "an OBJ", "meshes"},
                  {17, "a 3DS", "meshes, cameras and lights"},
                  {7, "a TRC", "markers"},    {10, "a C3D", "markers"},
                  {5, "a BVH", "skeletons"},  {6, "an HTR", "skeletons"},
                  {8, "an ASF", "skeletons"}, {9, "an AMC", "skeleton motion"}};
    for (const auto& row : direct) {
        SCOPED_TRACE(std::string("direct ") + kExtensions[row.id]);
        TempTestFolder tmp("qovsafe_");
        KQovObjectManager manager;
        KQovScene* scene = manager.CreateScene();
        scene->GetRootNode()->AddChild(manager.CreateNode("top"));
        std::vector<std::string> names{Name(row.id, "out")};
        if (row.id == 9) names.push_back("out.asf");
        for (const std::string& name : names) WriteAll(tmp / name, kOld);
        std::unique_ptr<KQovWriter> writer(KQovMakeFormatWriter(row.id, &manager));
        ASSERT_TRUE(writer);
        std::unique_ptr<KStreamOptions> options(writer->GetWriteOptions());
        ASSERT_TRUE(writer->FileCreate((tmp / names[0]).c_str()));
        EXPECT_FALSE(writer->Write(scene, options.get()));
        const std::string text = writer->GetLastErrorString();
        EXPECT_EQ(text, std::string("Nothing to write: ") + row.format + " file holds " +
                            row.holds + " only, and the scene holds none");
        EXPECT_FALSE(writer->FileClose());
        EXPECT_EQ(writer->GetLastErrorString(), text);
        for (const std::string& name : names) EXPECT_EQ(ReadAll(tmp / name), kOld);
        EXPECT_EQ(Entries(tmp.path()), names);
    }
}

// Every QOV id, with and without a password: read back with the same password (also when the
// take list is fetched first, as qovtool does); a wrong one is refused where a password is
// stored (binary files).
TEST(SafeWrite, PasswordsSurviveEveryQovWriter) {
    struct Row {
        int id;
        bool stored;  // binary files keep the password
    } rows[] = {{0, true}, {1, false}, {2, true}, {3, true}, {4, false}};
    for (const Row& row : rows) {
        for (const char* password : {"", "P4ss word"}) {
            SCOPED_TRACE(std::to_string(row.id) + " '" + password + "'");
            TempTestFolder tmp("qovsafe_");
            KQovObjectManager manager;
            KQovScene* scene = BuildScene(manager);
            const std::string path = tmp / "p.qov";
            ASSERT_TRUE(Export(manager, scene, row.id, path, password).ok);
            for (bool fetchTakes : {true, false}) {
                for (const char* given : {password, "wrong"}) {
                    KQovImporter importer(&manager);
                    importer.SetPassword(given);
                    ASSERT_TRUE(importer.Initialize(path.c_str()));
                    if (fetchTakes) importer.GetTakeCount();
                    KQovScene* back = manager.CreateScene();
                    const bool refused = row.stored && *password && std::string(given) == "wrong";
                    EXPECT_EQ(importer.Import(back, nullptr), !refused)
                        << fetchTakes << given << importer.GetLastErrorString();
                    if (refused) {
                        EXPECT_EQ(importer.GetLastErrorID(), KQovIO::ePasswordError);
                    } else {
                        ASSERT_EQ(back->GetRootNode()->GetChildCount(), 1);
                        EXPECT_STREQ(back->GetRootNode()->GetChild(0)->GetNameWithoutPrefix().Buffer(),
                                     "top");
                    }
                }
            }
        }
    }
}

// Readers say what was wrong and where, through the importer.
TEST(SafeWrite, ReadersReportTheirOwnMessageAndWhere) {
    struct Row {
        const char* file;
        std::string bytes;
        int error;
        const char* text;  // part of the message
    } rows[] = {
        {"bad.obj", "v 1 2 3\nv 1 2 3\nvn 0 1\n", KQovIO::eFileCorrupted,
         "File is corrupted: line 3: vn 0 1"},
        {"code.dxf", "0\nSECTION\n2\nENTITIES\nxx\nLINE\n", KQovIO::eFileCorrupted,
         "File is corrupted: a group code that is not a number, line 5"},
        {"short.dxf", "0\nSECTION\n2\nHEADER\n", KQovIO::eFileCorrupted,
         "the drawing ends before its EOF group, line 4"},
        {"chunk.3ds", std::string("\x4d\x4d\x20\x00\x00\x00\x3d\x3d\x40\x00\x00\x00", 12),
         KQovIO::eFileCorrupted, "ERR_INVALID_CHUNK"},
        {"short.3ds", "\x4d\x4d\x20", KQovIO::eFileCorrupted,
         "File is corrupted: 3DS file ends within its first chunk header, at byte 3"},
        {"head.c3d", std::string(100, '\x01'), KQovIO::eFileCorrupted,
         "File is corrupted: the header cannot be read"},
        {"cut.qov", "; QOV 6.0.0 project file\nObjects:  {\n  Model\n", KQovIO::eFileCorrupted,
         "File is corrupted: line 3: field without ':'"},
        {"cut.bvh", "HIERARCHY\nROOT a\n{\n", KQovIO::eFileCorrupted,
         "File is corrupted: BioVision read stopped at line 3"},
        {"head.trc", "PathFileType\t4\t(X/Y/Z)\tx.trc\nDataRate\n", KQovIO::eFileCorrupted,
         "File is corrupted: the header cannot be read (line 2)"},
        {"missing.obj", "", KQovIO::eFileNotOpened, "File not opened: "},
        {"missing.c3d", "", KQovIO::eFileNotOpened, "File not opened: "},
        {"missing.3ds", "", KQovIO::eFileNotOpened, "File not opened: "},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        TempTestFolder tmp("qovsafe_");
        const std::string path = tmp / row.file;
        if (!row.bytes.empty()) WriteAll(path, row.bytes);
        KQovObjectManager manager;
        KQovImporter importer(&manager);
        ASSERT_TRUE(importer.Initialize(path.c_str()));
        KQovScene* scene = manager.CreateScene();
        EXPECT_FALSE(importer.Import(scene, nullptr));
        EXPECT_EQ(importer.GetLastErrorID(), row.error);
        EXPECT_NE(std::string(importer.GetLastErrorString()).find(row.text), std::string::npos)
            << importer.GetLastErrorString();
    }
}

// Every committed sample and test file, copied and made read-only, is read through the
// importer and comes out byte for byte as it went in (reading never writes, whatever the
// file's state; a privileged user can write to read-only files, so the bytes tell).
TEST(SafeWrite, ReadingNeverChangesAFile) {
    const std::string source = QOV_SOURCE_DIR;
    std::vector<std::string> files;
    std::vector<std::string> folders = {source + "/samples", source + "/tests/data",
                                        source + "/tests/io/qov/golden"};
    for (size_t i = 0; i < folders.size(); ++i) {
        std::vector<KPlatformDirEntry> entries;
        KPlatformListDirectory((folders[i] + "/*").c_str(), entries);
        for (const KPlatformDirEntry& e : entries) {
            if (e.name == "." || e.name == "..") continue;
            (e.isDirectory ? folders : files).push_back(folders[i] + "/" + e.name);
        }
    }
    ASSERT_GE(files.size(), 50u) << "the sample and test data folders are missing";
    TempTestFolder tmp("qovsafe_");
    int read = 0;
    for (const std::string& file : files) {
        // Copied with the folder layout kept, so material libraries and companions resolve.
        const std::string relative = file.substr(source.size() + 1);
        std::string copy = tmp.path();
        for (size_t start = 0, slash; (slash = relative.find('/', start)) != std::string::npos;
             start = slash + 1) {
            copy += "/" + relative.substr(start, slash - start);
            KPlatformMakeDirectory(copy.c_str());
        }
        copy = tmp / relative;
        WriteAll(copy, ReadAll(file));
    }
    for (const std::string& file : files) {
        const std::string copy = tmp / file.substr(source.size() + 1);
        ASSERT_EQ(chmod(copy.c_str(), 0444), 0);
    }
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        const std::string copy = tmp / file.substr(source.size() + 1);
        const std::string before = ReadAll(copy);
        KQovObjectManager manager;
        KQovImporter importer(&manager);
        if (importer.Initialize(copy.c_str())) {
            importer.GetTakeCount();
            read += importer.Import(manager.CreateScene(), nullptr) ? 1 : 0;
        }
        EXPECT_TRUE(ReadAll(copy) == before);
        struct stat st;
        ASSERT_EQ(stat(copy.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0444u);
    }
    EXPECT_GE(read, 40);
    // Nothing was left beside the files (temporary files, fixed-up copies).
    for (size_t i = 0; i < folders.size(); ++i)
        for (const std::string& name : Entries(tmp / folders[i].substr(source.size() + 1)))
            EXPECT_NE(name[0], '.') << name;
}

// What qovtool prints (both streams) and its exit status.
int RunTool(const std::string& arguments, std::string& out) {
    const std::string tool = std::string(QOV_PROGRAMS_DIR) + "/../qovtool";
    FILE* pipe = popen((tool + " " + arguments + " 2>&1").c_str(), "r");
    if (!pipe) return -1;
    char buffer[1024];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The tool shows what the reader only noted (an unreadable material library) as warnings,
// and a refused output with the reason.
TEST(SafeWrite, QovtoolWarnsAndNamesTheReason) {
    if (!KPlatformPathExists((std::string(QOV_PROGRAMS_DIR) + "/../qovtool").c_str()))
        GTEST_SKIP() << "qovtool not built";
    TempTestFolder tmp("qovsafe_");
    const std::string in = tmp / "m.obj";
    WriteAll(in, "mtllib gone.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl red\nf 1 2 3\n");
    std::string out;
    EXPECT_EQ(RunTool("convert '" + in + "' '" + tmp / "m.qov" + "'", out), 0) << out;
    EXPECT_NE(out.find("qovtool: " + in +
                       ": warning: Unable to load material library \"gone.mtl\": not found\n"),
              std::string::npos)
        << out;
    out.clear();
    EXPECT_EQ(RunTool("convert '" + in + "' '" + tmp / "no/m.dxf" + "'", out), 1) << out;
    EXPECT_NE(out.find("folder " + tmp.path() + "/no does not exist"), std::string::npos) << out;
}

}  // namespace
