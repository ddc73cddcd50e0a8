// The Acclaim pair: where a motion file's skeleton is looked for, the skeleton writer on
// the scenes the skeleton reader makes (its "root" below a reference node), and the two files
// written as one: both in place, or neither.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "MotionTestHelpers.h"
#include "attributes/KQovSkeleton.h"
#include "common/TempTestFolder.h"
#include "fieldfile/FieldFileTestUtil.h"
#include "formats/motion/KMotionSceneTools.h"
#include "formats/motion/asf/KQovAcclaimFiles.h"
#include "formats/motion/asf/KQovWriterAsf.h"
#include "foundation/KPath.h"
#include "io/KQovExporter.h"
#include "io/KQovFormatFactory.h"
#include "io/KQovImporter.h"
#include "io/KQovWriteOptions.h"
#include "io/KQovWriter.h"
#include "platform/KPlatformFile.h"
#include "scene/KQovNode.h"

using namespace motiontest;

namespace {

TEST(KQovAcclaimFiles, TheSkeletonIsLookedForBesideTheMotionFile) {
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::string> expected;  // below the folder
    } cases[] = {
        {"walk.amc",
         "#!OML:ASF F:\\VICON\\USERDATA\\rory3.ASF\n:FULLY-SPECIFIED\n1\nroot 0\n",
         {"walk.asf", "rory3.ASF"}},
        {"run.AMC", ":ASF-FILE /elsewhere/skel.asf\n:DEGREES\n1\n", {"run.asf", "skel.asf"}},
        {"up.amc", "#!OML:ASF ../sk/skel.asf\n1\n", {"up.asf", "../sk/skel.asf"}},
        {"jump.amc", "#!OML:ASF   named.asf  \r\n1\n", {"jump.asf", "named.asf"}},
        // A path longer than a line buffer of old is taken whole, not cut.
        {"long.amc",
         "#!OML:ASF ../" + std::string(2000, 'k') + "/s.asf\n1\n",
         {"long.asf", "../" + std::string(2000, 'k') + "/s.asf"}},
        // Nothing named, or named only after the first frame began.
        {"plain.amc", ":FULLY-SPECIFIED\n1\nroot 0 0 0\n", {"plain.asf"}},
        {"late.amc", "1\n#!OML:ASF other.asf\n", {"late.asf"}},
        {"empty.amc", "", {"empty.asf"}},
        {"none", "", {"none.asf"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder / c.name;
        std::ofstream(path, std::ios::binary) << c.text;
        const std::vector<KString> got = KQovAcclaimSkeletonCandidates(path.c_str());
        ASSERT_EQ(got.size(), c.expected.size());
        for (size_t i = 0; i < got.size(); ++i)
            EXPECT_EQ(std::string(got[i].Buffer()), folder / c.expected[i]);
    }
    // A motion file that is not there names only the skeleton beside it.
    EXPECT_EQ(KQovAcclaimSkeletonCandidates((folder / "gone.amc").c_str()).size(), 1u);
    EXPECT_STREQ(KQovAcclaimSkeletonBeside("a/b.c/walk").Buffer(), "a/b.c/walk.asf");
    // A skeleton file that is the motion file itself is refused as one file, not read.
    std::ofstream(folder / "self.amc") << "1\nroot 0 0 0 0 0 0\n";
    ASSERT_EQ(symlink("self.amc", (folder / "self.asf").c_str()), 0);
    TestScene t;
    KQovImporter importer(&t.manager);
    ASSERT_TRUE(importer.Initialize((folder / "self.amc").c_str()));
    EXPECT_FALSE(importer.Import(t.scene, nullptr));
    EXPECT_NE(std::string(importer.GetLastErrorString()).find("are one file"), std::string::npos)
        << importer.GetLastErrorString();
}

void Names(KQovNode* node, std::map<std::string, KQovNode*>& out) {
    out[node->GetNameWithoutPrefix().Buffer()] = node;
    for (int i = 0; i < node->GetChildCount(); ++i) Names(node->GetChild(i), out);
}

// The skeleton of the test data read with the reader's own options: "root" below
// "<name>:reference".
bool ReadSkeleton(TestScene& t, const std::string& path, std::unique_ptr<KStreamOptions>& options) {
    std::unique_ptr<KQovReader> reader(KQovMakeFormatReader(6, &t.manager));
    if (!reader->FileOpen(path.c_str())) return false;
    options.reset(reader->GetReadOptions(true));
    return options && reader->Read(t.scene, options.get());
}

TEST(KQovWriterAsf, TheReadersSkeletonWritesBack) {
    TempTestFolder folder;
    const std::string data = std::string(QOV_TESTDATA_DIR) + "/asf/11.asf";
    TestScene first;
    std::unique_ptr<KStreamOptions> readOptions;
    ASSERT_TRUE(ReadSkeleton(first, data, readOptions)) << "test data missing: " << data;
    KQovNode* top = first.scene->GetRootNode()->GetChild(0);
    ASSERT_EQ(top->GetChildCount(), 1);
    EXPECT_STREQ(top->GetChild(0)->GetNameWithoutPrefix().Buffer(), "root");

    // The skeleton file, then a motion file on the skeleton it left in the options.
    std::unique_ptr<KQovWriter> skeletonWriter(KQovMakeFormatWriter(8, &first.manager));
    std::unique_ptr<KQovWriter> motionWriter(KQovMakeFormatWriter(9, &first.manager));
    std::unique_ptr<KStreamOptions> options(skeletonWriter->GetWriteOptions());
    static_cast<KStreamOptionsMotion&>(*options).SetFrameCount(1);
    ASSERT_TRUE(skeletonWriter->FileCreate((folder / "copy.asf").c_str()));
    ASSERT_TRUE(skeletonWriter->Write(first.scene, options.get()))
        << skeletonWriter->GetLastErrorString();
    ASSERT_TRUE(skeletonWriter->FileClose());
    ASSERT_TRUE(motionWriter->FileCreate((folder / "copy.amc").c_str()));
    ASSERT_TRUE(motionWriter->Write(first.scene, options.get()))
        << motionWriter->GetLastErrorString();
    ASSERT_TRUE(motionWriter->FileClose());

    // Read again: the same joints at the same rest positions.
    TestScene second;
    ASSERT_TRUE(ReadSkeleton(second, folder / "copy.asf", readOptions));
    std::map<std::string, KQovNode*> before, after;
    Names(first.scene->GetRootNode(), before);
    Names(second.scene->GetRootNode(), after);
    int compared = 0;
    for (const auto& [name, node] : before) {
        if (!node->GetNodeAttribute()) continue;  // the reference node, named after the skeleton
        ASSERT_TRUE(after.count(name)) << name;
        const KMatrix a = node->GetGlobalMatrixAtTime(KTime()),
                      b = after[name]->GetGlobalMatrixAtTime(KTime());
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(a[3][i], b[3][i], 1e-3) << name;
        ++compared;
    }
    EXPECT_GT(compared, 20);
}

// A node named "root" is the skeleton's root when it is the top; any other is written renamed.
TEST(KQovWriterAsf, ANodeNamedRootOnlyAsTheSkeletonsRoot) {
    TempTestFolder folder;
    struct Case {
        const char* description;
        bool referenceTop;  // the top node has no attribute (else it is a joint)
        bool rootJoint;     // the node named "root" is a joint
        const char*
            tree;  // "r" root below the top, "kr" root below a knee, "rs" root and a sibling
        bool top;  // the node named "root" is the skeleton's root
    } cases[] = {
        {"reference above root", true, true, "r", true},
        {"reference above a root that is no joint", true, false, "r", false},
        {"joint above root", false, true, "r", false},
        {"root below a joint below the top", true, true, "kr", false},
        {"root beside another", true, true, "rs", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        TestScene t;
        KQovNode* top = t.manager.CreateNode("Top");
        if (!c.referenceTop) {
            KQovSkeleton* skeleton = t.manager.CreateSkeleton();
            top->SetNodeAttribute(skeleton);
        }
        t.scene->GetRootNode()->AddChild(top);
        const bool deep = std::string(c.tree) == "kr";
        KQovNode* upper = t.manager.CreateNode(deep ? "Knee" : "root");
        upper->SetLocalTranslation(0, 10, 0);
        top->AddChild(upper);
        KQovNode* below = t.manager.CreateNode(deep ? "root" : "Ankle");
        below->SetLocalTranslation(0, 5, 0);
        upper->AddChild(below);
        if (c.rootJoint) (deep ? below : upper)->SetNodeAttribute(t.manager.CreateSkeleton());
        if (std::string(c.tree) == "rs") top->AddChild(t.manager.CreateNode("Side"));
        std::unique_ptr<KQovWriter> writer(KQovMakeFormatWriter(8, &t.manager));
        std::unique_ptr<KStreamOptions> options(writer->GetWriteOptions());
        std::string shown;
        options->SetMessageCallback(
            [&](const char*, const char* text, const char*, const char*, const char*, int answer) {
                shown = text;
                return answer;
            });
        ASSERT_TRUE(writer->FileCreate((folder / "w.asf").c_str()));
        // Without a joint there is nothing to write, whatever the names.
        const bool joints = c.rootJoint || !c.referenceTop;
        ASSERT_EQ(writer->Write(t.scene, options.get()), joints) << writer->GetLastErrorString();
        EXPECT_EQ(std::string(writer->GetLastErrorString()).find("root"), std::string::npos);
        if (!joints) continue;
        EXPECT_EQ(shown, "");
        KString status;
        writer->GetStatusText(status);
        EXPECT_EQ(std::string(status.Buffer()).find("Node \"root\" written as \"root_1\": the ASF "
                                                    "file gives \"root\" a meaning of its own\n") ==
                      std::string::npos,
                  c.top)
            << status.Buffer();
    }
}

// The pair as a host writes it: the motion file with the options of its writer, which writes
// the skeleton file too. `whileMotion` runs as the motion file's frames are written.
bool ExportPair(KQovObjectManager& manager, KQovScene* scene, const std::string& amc,
                const std::function<void()>& whileMotion, std::string& error) {
    std::unique_ptr<KQovWriter> writer(KQovMakeFormatWriter(9, &manager));
    std::unique_ptr<KStreamOptions> options(writer->GetWriteOptions());
    KQovFillWriteOptions(*scene, *options);
    bool called = false;
    options->SetProgressCallback([&](int, const char* text, float) {
        if (whileMotion && !called && std::string(text) == "Writing AMC animation frames") {
            called = true;
            whileMotion();
        }
    });
    KQovExporter exporter(&manager);
    exporter.Initialize(amc.c_str());
    exporter.SetFileFormat(9);
    if (exporter.Export(scene, options.get())) return true;
    error = exporter.GetLastErrorString();
    return false;
}

// An export told as a success has its file in place, whichever writer's options it was given:
// the skeleton file alone with the motion writer's options too (no motion file following), and
// a motion file with its writer's options brings its skeleton file. A motion file exported
// after a skeleton file with the same options (as programs were told to write the pair) is
// written alone on that skeleton, naming it in its header unless it lies beside it by its name,
// and a file of the motion file's name with ".asf" is left as it is.
TEST(KQovAcclaimPair, AnExportThatSucceedsHasItsFile) {
    struct Row {
        int optionsOf;
        const char* first;  // the skeleton file exported first with the same options, or null
        const char* name;
        bool mine;  // a file "walk.asf" of the user's is there before
        std::vector<std::string> files;
        const char* header;  // the motion file's first line
        // A skeleton file written next with the same options and discarded, or null.
        const char* discarded = nullptr;
    } rows[] = {
        {9, nullptr, "alone.asf", false, {"alone.asf"}, nullptr},
        {8, nullptr, "alone.asf", false, {"alone.asf"}, nullptr},
        {9, nullptr, "walk.amc", false, {"walk.amc", "walk.asf"}, ":SAMPLES-PER-SECOND 30"},
        {9,
         "skeleton.asf",
         "walk.amc",
         true,
         {"skeleton.asf", "walk.amc", "walk.asf"},
         "#!OML:ASF skeleton.asf"},
        {8,
         "skeleton.asf",
         "walk.amc",
         true,
         {"skeleton.asf", "walk.amc", "walk.asf"},
         "#!OML:ASF skeleton.asf"},
        {9,
         "skeleton.asf",
         "walk.amc",
         false,
         {"skeleton.asf", "walk.amc"},
         "#!OML:ASF skeleton.asf"},
        {9, "walk.asf", "walk.amc", false, {"walk.amc", "walk.asf"}, ":SAMPLES-PER-SECOND 30"},
        // In another folder, with an unrelated file of the skeleton's name beside the motion.
        {9, "sk/skeleton.asf", "mo/walk.amc", false, {"mo", "sk"}, "#!OML:ASF ../sk/skeleton.asf"},
        // The motion file's folder a link into mo/x: ".." from it is mo, so the path is made
        // from mo/x.
        {9,
         "sk/skeleton.asf",
         "lm/walk.amc",
         false,
         {"lm", "mo", "sk"},
         "#!OML:ASF ../../sk/skeleton.asf"},
        // Only a skeleton file that took its place is the one a motion file is written with.
        {8, "skeleton.asf", "walk.amc", false, {"skeleton.asf", "walk.amc"},
         "#!OML:ASF skeleton.asf", "other.asf"},
        {9, nullptr, "walk.amc", false, {"walk.amc", "walk.asf"}, ":SAMPLES-PER-SECOND 30",
         "other.asf"},
    };
    std::string pairMotion;  // the motion file of the pair row
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.name) + ", options of " + std::to_string(row.optionsOf) +
                     (row.first ? std::string(" after ") + row.first : "") +
                     (row.mine ? ", walk.asf there" : ""));
        TempTestFolder folder;
        TestScene t;
        t.scene->GetRootNode()->AddChild(KMotionCreateLimbNode(&t.manager, "Hips"));
        if (row.mine) std::ofstream(folder / "walk.asf") << "mine";
        if (std::string(row.name).find('/') != std::string::npos) {
            ASSERT_EQ(mkdir((folder / "sk").c_str(), 0755), 0);
            ASSERT_EQ(mkdir((folder / "mo").c_str(), 0755), 0);
            std::ofstream(folder / "mo/skeleton.asf") << "not this one";
        }
        if (std::string(row.name).rfind("lm/", 0) == 0) {
            ASSERT_EQ(mkdir((folder / "mo/x").c_str(), 0755), 0);
            ASSERT_EQ(symlink("mo/x", (folder / "lm").c_str()), 0);
            std::ofstream(folder / "mo/x/skeleton.asf") << "not this one";
        }
        std::unique_ptr<KQovWriter> writer(KQovMakeFormatWriter(row.optionsOf, &t.manager));
        std::unique_ptr<KStreamOptions> options(writer->GetWriteOptions());
        KQovFillWriteOptions(*t.scene, *options);
        for (const char* name : {row.first, row.discarded, row.name}) {
            if (!name) continue;
            if (name == row.discarded) {
                // Written with the same options, then dropped: not in place.
                std::unique_ptr<KQovWriter> dropped(KQovMakeFormatWriter(8, &t.manager));
                ASSERT_TRUE(dropped->FileCreate((folder / name).c_str()));
                ASSERT_TRUE(dropped->Write(t.scene, options.get()));
                dropped->FileDiscard();
                continue;
            }
            KQovExporter exporter(&t.manager);
            exporter.Initialize((folder / name).c_str());
            exporter.SetFileFormat(KExtractFileExtension(name) == "asf" ? 8 : 9);
            ASSERT_TRUE(exporter.Export(t.scene, options.get())) << exporter.GetLastErrorString();
        }
        std::vector<std::string> expected{".", ".."};
        expected.insert(expected.end(), row.files.begin(), row.files.end());
        EXPECT_EQ(TempTestFolder::NamesIn(folder.path()), expected);
        TestScene back;
        std::unique_ptr<KStreamOptions> readOptions;
        const std::string skeleton = row.first ? row.first : row.name;
        EXPECT_TRUE(ReadSkeleton(
            back, folder / KChangeFileExtension(skeleton.c_str(), ".asf").Buffer(), readOptions));
        if (row.mine) {
            EXPECT_EQ(ReadText(folder / "walk.asf"), "mine");
        }
        if (!row.header) continue;
        const std::string motion = ReadText(folder / row.name);
        EXPECT_EQ(motion.substr(0, motion.find('\n')), row.header);
        // The motion file alone holds what the pair's does, its header line aside.
        if (!row.first)
            pairMotion = motion;
        else
            EXPECT_EQ(*row.header == '#' ? motion.substr(motion.find('\n') + 1) : motion,
                      pairMotion);
        if (row.mine) continue;
        // Read back by its name alone, the skeleton found.
        TestScene read;
        KQovImporter importer(&read.manager);
        ASSERT_TRUE(importer.Initialize((folder / row.name).c_str()));
        EXPECT_TRUE(importer.Import(read.scene, nullptr)) << importer.GetLastErrorString();
        EXPECT_GT(read.scene->GetRootNode()->GetChildCount(), 0);
    }
    // After a dropped skeleton file alone, a motion file has no skeleton to be written with.
    TempTestFolder folder;
    TestScene t;
    t.scene->GetRootNode()->AddChild(KMotionCreateLimbNode(&t.manager, "Hips"));
    std::unique_ptr<KQovWriter> dropped(KQovMakeFormatWriter(8, &t.manager));
    std::unique_ptr<KStreamOptions> options(dropped->GetWriteOptions());
    KQovFillWriteOptions(*t.scene, *options);
    ASSERT_TRUE(dropped->FileCreate((folder / "other.asf").c_str()));
    ASSERT_TRUE(dropped->Write(t.scene, options.get()));
    dropped->FileDiscard();
    KQovExporter exporter(&t.manager);
    exporter.Initialize((folder / "walk.amc").c_str());
    exporter.SetFileFormat(9);
    EXPECT_FALSE(exporter.Export(t.scene, options.get()));
    EXPECT_EQ(exporter.GetLastErrorID(), KQovIO::eStreamOptionsNotSet);
    EXPECT_EQ(TempTestFolder::NamesIn(folder.path()), (std::vector<std::string>{".", ".."}));
}

// Removes the hidden new files in `folder` whose names begin with `prefix`.
void DeleteNewFiles(const std::string& folder, const std::string& prefix) {
    for (const std::string& name : TempTestFolder::NamesIn(folder))
        if (name.compare(0, prefix.size(), prefix) == 0) std::remove((folder + "/" + name).c_str());
}

// Whatever fails while the pair is written (the motion file past a size limit, a number it
// cannot hold, its name taken by a folder, a new file deleted meanwhile, a rename or a keeping
// of an old file failing, with or without hard links), both old files stay as they were and no
// hidden file is left; a whole pair replaces both. Should putting back fail too, the error says
// the pair is mixed and names the hidden file holding the old skeleton file.
TEST(KQovAcclaimPair, BothFilesOrNeither) {
    TempTestFolder folder;
    const std::string clip = std::string(QOV_TESTDATA_DIR) + "/bvh/sinusoidal.bvh";
    // A root moved farther than a motion file can say, on a skeleton file that holds it.
    const std::string far = folder / "far.htr";
    std::ofstream(far, std::ios::binary)
        << "[Header]\nFileType htr\nDataType HTRS\nFileVersion 1\nNumSegments 2\nNumFrames 2\n"
           "DataFrameRate 30\nEulerRotationOrder ZYX\nCalibrationUnits mm\nRotationUnits "
           "Degrees\nGlobalAxisofGravity Y\nBoneLengthAxis Y\nScaleFactor 0.00001\n"
           "[SegmentNames&Hierarchy]\nhips\tGLOBAL\nknee\thips\n[BasePosition]\n"
           "hips\t0 0 0 0 0 0 10\nknee\t0 10 0 0 0 0 10\n[hips]\n1\t1e28 0 0 0 0 0 1\n"
           "2\t1e28 0 0 0 0 0 1\n[knee]\n1\t0 0 0 0 0 0 1\n2\t0 0 0 0 0 0 1\n[EndOfFile]\n";
    struct Row {
        const char* what;
        std::string source;
        rlim_t sizeLimit;  // 0: none; the skeleton file (745 bytes) fits, the motion file not
        bool amcIsFolder;
        const char* deleted;  // the hidden new file deleted while the frames are written
        bool placed;
        const char* error;     // part of the message
        bool noLinks = false;  // every link() fails as on a file system without hard links
        int renameAt = 0;      // the first rename() that fails with EIO (1 = the first one)
        int renameFails = 0;   // how many fail from there on
        bool mixed = false;    // the skeleton file stays new, its old one hidden
        bool gone = false;     // with mixed: the skeleton file's name is left empty instead
    } rows[] = {
        {"whole", clip, 0, false, nullptr, true, ""},
        {"the motion file past a size limit", clip, 4096, false, nullptr, false,
         "Out of disk space"},
        {"the skeleton file past a size limit", clip, 512, false, nullptr, false,
         "Out of disk space"},
        {"a number the motion file cannot hold", far, 0, false, nullptr, false,
         "cannot be written"},
        {"the motion file's name is a folder", clip, 0, true, nullptr, false, "It is a folder"},
        {"the skeleton's new file deleted", clip, 0, false, ".sk.asf.", false,
         "the new file was deleted before it could take the old file's place"},
        // Renames in order: each old file aside (without links), the skeleton file, the motion
        // file, then what is put back.
        {"no hard links", clip, 0, false, nullptr, true, "", true},
        {"the motion file's rename fails", clip, 0, false, nullptr, false, "Input/output", false, 2,
         1},
        {"no hard links: the motion file's rename fails", clip, 0, false, nullptr, false,
         "Input/output", true, 4, 1},
        {"no hard links: the old motion file cannot be kept", clip, 0, false, nullptr, false,
         "Input/output", true, 2, 1},
        {"putting back fails", clip, 0, false, nullptr, false, "the pair is mixed", false, 2, 2,
         true},
        {"no hard links: putting back fails", clip, 0, false, nullptr, false, "the pair is mixed",
         true, 4, 2, true},
        // Nothing new in place, the old skeleton file moved aside for good: not mixed.
        {"no hard links: the old motion file cannot be kept, nor the skeleton put back", clip, 0,
         false, nullptr, false, "no new file is in place, but an old file could not be put back",
         true, 2, 2, true, true},
    };
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TestScene t;
        KQovImporter importer(&t.manager);
        ASSERT_TRUE(importer.Initialize(row.source.c_str()));
        ASSERT_TRUE(importer.Import(t.scene, nullptr)) << importer.GetLastErrorString();
        const std::string out = folder / std::to_string(n++);
        ASSERT_TRUE(KPlatformMakeDirectory(out.c_str()));
        const std::string asf = out + "/sk.asf", amc = out + "/sk.amc";
        std::ofstream(asf) << "old asf";
        if (row.amcIsFolder)
            ASSERT_TRUE(KPlatformMakeDirectory(amc.c_str()));
        else
            std::ofstream(amc) << "old amc";
        std::string error;
        bool placed;
        {
            qovtest::FileSizeLimit limit(row.sizeLimit ? row.sizeLimit : RLIM_INFINITY);
            if (row.noLinks) KPlatformFailFileCalls(KPlatformFileCall::eLink, 0, -1, EPERM);
            if (row.renameAt)
                KPlatformFailFileCalls(KPlatformFileCall::eRename, row.renameAt - 1,
                                       row.renameFails, EIO);
            placed = ExportPair(
                t.manager, t.scene, amc,
                [&] {
                    if (row.deleted) DeleteNewFiles(out, row.deleted);
                },
                error);
            KPlatformClearFileFaults();
        }
        EXPECT_EQ(placed, row.placed);
        EXPECT_NE(error.find(row.error), std::string::npos) << error;
        // A file past the limit is named: the skeleton file when even it did not fit.
        if (row.sizeLimit) {
            EXPECT_EQ(error.find(asf) != std::string::npos, row.sizeLimit < 745) << error;
        }
        EXPECT_EQ(ReadText(asf) == "old asf", !row.placed && !row.mixed);
        if (!row.amcIsFolder) {
            EXPECT_EQ(ReadText(amc) == "old amc", !row.placed);
        }
        EXPECT_EQ(error.find("the pair is mixed") != std::string::npos, row.mixed && !row.gone);
        std::vector<std::string> names = TempTestFolder::NamesIn(out);
        if (row.mixed && names.size() > 2 && names[2].compare(0, 8, ".sk.asf.") == 0) {
            EXPECT_NE(error.find(out + "/" + names[2]), std::string::npos) << error;
            EXPECT_EQ(ReadText(out + "/" + names[2]), "old asf");
            names.erase(names.begin() + 2);
        }
        std::vector<std::string> expected{".", "..", "sk.amc", "sk.asf"};
        if (row.gone) expected.pop_back();
        EXPECT_EQ(names, expected);
    }
}

}  // namespace
