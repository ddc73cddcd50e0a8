#include "formats/motion/asf/KMotionFileAsf.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "MotionTestHelpers.h"
#include "attributes/KQovLimitsUtility.h"
#include "common/SmallStack.h"
#include "common/TempTestFolder.h"
#include "formats/motion/asf/KMotionFileAmc.h"
#include "formats/motion/asf/KQovAsfScene.h"
#include "formats/motion/asf/KQovReaderAmc.h"
#include "formats/motion/asf/KQovWriterAmc.h"
#include "formats/motion/asf/KQovWriterAsf.h"
#include "io/KQovFormatFactory.h"
#include "io/KQovImporter.h"
#include "io/KQovReader.h"
#include "io/KQovWriter.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovNode.h"

using namespace motiontest;

namespace {

// Start of every bone (the root's is its position) and end of every leaf, per frame, in
// centimetres, from the two texts (the independent reading).
std::vector<std::map<std::string, Vec3>> TextPositions(const std::string& asf,
                                                       const std::string& amc) {
    const independent::Motion motion = independent::ReadAsfAmc(asf, amc);
    std::vector<std::map<std::string, Vec3>> result;
    for (const std::vector<Vec3>& frame : motion.frames) {
        std::map<std::string, Vec3> positions;
        for (size_t i = 0; i < motion.names.size() && i < frame.size(); ++i)
            positions[motion.names[i]] = frame[i];
        result.push_back(positions);
    }
    return result;
}

// Node positions of the skeleton at a frame number, from its local transforms and keys.
std::map<std::string, Vec3> ScenePositions(const KQovAsfScene& scene, int frame) {
    std::map<const KAsfBone*, std::pair<Vec3, Mat3>> global;
    std::map<std::string, Vec3> positions;
    for (const KAsfBone* bone : scene.GetBones()) {
        const KAsfKey* key = bone->FindKey(frame);
        const KVector4& tk = key ? key->translation : bone->localTranslation;
        const KVector4& rk = key ? key->rotation : bone->localRotation;
        const double e[3] = {rk[0], rk[1], rk[2]};
        Vec3 t{tk[0], tk[1], tk[2]};
        Mat3 r = EulerXYZ(e);
        if (bone->parent) {
            const auto& p = global[bone->parent];
            t = Add(p.first, Apply(p.second, t));
            r = Mul(p.second, r);
        }
        global[bone] = {t, r};
        positions[bone->name] = t;
        if (bone->children.empty() && bone->length > 0) {
            const KVector4 e4 = bone->EndTranslation();
            positions[bone->name + "_End"] = Add(t, Apply(r, Vec3{e4[0], e4[1], e4[2]}));
        }
    }
    return positions;
}

// Worst distance between the positions the skeleton gives and those expected, per frame.
double Compare(const KQovAsfScene& scene, const std::vector<std::map<std::string, Vec3>>& expected,
               size_t* compared) {
    double worst = 0.0;
    *compared = 0;
    for (size_t f = 0; f < expected.size(); ++f) {
        for (const auto& [name, p] : ScenePositions(scene, int(f) + 1)) {
            auto it = expected[f].find(name);
            if (it == expected[f].end()) return 1e9;
            worst = std::max(worst, Distance(p, it->second));
            ++*compared;
        }
    }
    return worst;
}

bool Read(KQovAsfScene& scene, const std::string& asf, const std::string& amc, bool restructure) {
    KMotionFileAsf skeleton(false);
    KMotionFileAmc motion(false);
    KStreamOptionsMotion options;
    return skeleton.Open(asf.c_str(), "r") == 0 && skeleton.ReadSkeleton(scene, restructure) &&
           motion.Open(amc.c_str(), "r") == 0 && motion.ReadOptions(options) &&
           motion.ReadFrames(scene, options);
}

TEST(KMotionFileAsf, RealFilesMatchIndependentKinematicsAndSurviveARoundTrip) {
    const std::string asf = std::string(QOV_TESTDATA_DIR) + "/asf/11.asf";
    const std::string amc = std::string(QOV_TESTDATA_DIR) + "/asf/11_01.amc";
    ASSERT_TRUE(std::ifstream(asf).good() && std::ifstream(amc).good())
        << "test data missing: " << asf << ", " << amc;
    const auto expected = TextPositions(asf, amc);
    ASSERT_EQ(expected.size(), 597u);
    struct Case {
        bool restructure;
        size_t bones;
    } cases[] = {{true, 29}, {false, 31}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.restructure);
        KQovAsfScene scene;
        ASSERT_TRUE(Read(scene, asf, amc, c.restructure));
        EXPECT_EQ(scene.GetBones().size(), c.bones);
        EXPECT_EQ(scene.mName, "VICON");
        size_t compared = 0;
        EXPECT_LT(Compare(scene, expected, &compared), 1e-3);
        EXPECT_GT(compared, 597u * c.bones);
        if (c.restructure) continue;

        TempTestFolder folder;
        const std::string asf2 = folder / "out.asf", amc2 = folder / "out.amc";
        KMotionFileAsf skeleton(false);
        KMotionFileAmc motion(false);
        ASSERT_EQ(skeleton.Open(asf2.c_str(), "w"), 0);
        skeleton.WriteSkeleton(scene);
        ASSERT_EQ(skeleton.Close(), 0);
        ASSERT_EQ(motion.Open(amc2.c_str(), "w"), 0);
        motion.WriteHeader(120.0, 1, 597);
        for (int f = 1; f <= 597; ++f) motion.WriteFrame(scene, f);
        ASSERT_EQ(motion.Close(), 0);
        const auto again = TextPositions(asf2, amc2);
        ASSERT_EQ(again.size(), expected.size());
        double worst = 0.0;
        for (size_t f = 0; f < again.size(); ++f)
            for (const auto& [name, p] : again[f])
                worst = std::max(worst, Distance(p, expected[f].at(name)));
        EXPECT_LT(worst, 2e-3);
        KQovAsfScene reread;
        ASSERT_TRUE(Read(reread, asf2, amc2, true));
        EXPECT_LT(Compare(reread, expected, &compared), 2e-3);
    }
}

// The import runs the constant key reducer over every curve (band 0.009 degrees and 0.009 cm):
// on this clip its removed keys move joints by up to about 0.0026 cm (without it the scene
// matches within 4e-5 cm, the float keys' precision).
constexpr double kImportTolerance = 0.003;
// Six significant digits in the written files.
constexpr double kWrittenDigits = 1e-3;

const char kSkeleton[] =
    ":version 1.10\n:name test\n:units\n  length 1.0\n  angle deg\n:root\n  order TX TY TZ RX RY "
    "RZ\n  axis XYZ\n  position 0 0 0\n  orientation 0 0 0\n:bonedata\n  begin\n    id 1\n    "
    "name hip\n    direction 0 0 1\n    length 10\n    axis 0 0 45 XYZ\n  end\n  begin\n    id "
    "2\n    name knee\n    direction 1 0 0\n    length 5\n    axis 0 0 30 XYZ\n    dof rx ry "
    "rz l\n    limits (-inf inf)\n      (-10 10)\n      (-20.0 20.0)\n  end\n:hierarchy\n  "
    "begin\n    root hip\n    hip knee\n  end\n";

TEST(KMotionFileAsf, SkeletonFilesGoodAndBad) {
    auto replace = [&](const std::string& from, const std::string& to) {
        return Replaced(kSkeleton, from, to);
    };
    struct Case {
        std::string text;
        bool ok;
    } cases[] = {
        {kSkeleton, true},
        {replace(":version 1.10", ":version 1.2"), true},
        {replace(":root", ":roof"), false},
        {replace("name hip", "name root"), false},
        {replace("    root hip\n    hip knee\n", "    root hip\n    knee hip\n    hip knee\n"),
         false},
        {replace("hip knee\n", "knee knee\n"), false},
        {replace("hip knee\n", "hip ankle\n"), false},
        {replace("axis 0 0 30 XYZ", "axis 0 0 30 XXY"), false},
        {replace("    direction 1 0 0\n", ""), false},
        {replace("(-10 10)", "(-10 x)"), false},
        {replace("dof rx ry rz l", "dof rx ry rz rx ry rz rx"), false},
        {std::string(kSkeleton).substr(0, 30), false},
    };
    TempTestFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string path = folder / "bad.asf";
        std::ofstream(path, std::ios::binary) << c.text;
        KMotionFileAsf file(false);
        ASSERT_EQ(file.Open(path.c_str(), "r"), 0);
        KQovAsfScene scene;
        EXPECT_EQ(file.ReadSkeleton(scene, true), c.ok);
    }
    // The knee keeps three channels; the hip has none and goes, its child carrying its offset
    // and turning by its own axis frame within the root's. The root's children start where
    // the root stands, wherever its position puts it. A knee without channels stays with its
    // length: nothing below it would carry it.
    const struct {
        const char *from, *to;
        int channels;
    } variants[] = {{"position 0 0 0", "position 0 0 0", 3},
                    {"position 0 0 0", "position 1 2 3", 3},
                    {"    dof rx ry rz l\n", "", 0}};
    for (const auto& v : variants) {
        SCOPED_TRACE(v.to);
        const std::string path = folder / "good.asf";
        std::ofstream(path, std::ios::binary) << replace(v.from, v.to);
        KMotionFileAsf file(false);
        ASSERT_EQ(file.Open(path.c_str(), "r"), 0);
        KQovAsfScene scene;
        ASSERT_TRUE(file.ReadSkeleton(scene, true));
        KAsfBone* knee = scene.FindBone("knee");
        ASSERT_TRUE(knee && knee->parent == scene.mRoot.get());
        EXPECT_EQ(knee->channelCount, v.channels);
        EXPECT_DOUBLE_EQ(knee->length, 5 * 2.54);
        EXPECT_LT(KVectorLength3(knee->localTranslation - KVector4(0, 0, 25.4)), 1e-9);
        EXPECT_LT(KVectorLength3(knee->localRotation - KVector4(0, 0, 30)), 1e-9);
        EXPECT_EQ(scene.FindBone("hip"), nullptr);
    }
}

TEST(KMotionFileAmc, OptionsAndBadFrames) {
    const std::string frame = "1\nroot 0 0 0 0 0 0\nknee 1 2 3\n";
    const std::string frames = frame + "2\nroot 0 0 0 0 0 0\nknee 1 2 3\n3\n";
    struct Case {
        std::string text;
        bool options, frames;
        int count;
        double rate;
        const char* note = "";  // what the rate became when it could not be kept
        int keys = -1;          // of the knee, when not one a frame
        const char* warned = "";  // what reading the frames warned
    } cases[] = {
        // Frames without lines are frames of the take; a frame given twice is one.
        {"1\nknee 1 2 3\n3\nknee 4 5 6\n5\nknee 7 8 9\n", true, true, 5, 30, "", 3},
        {"5\nknee 1 2 3\n7\nknee 4 5 6\n", true, true, 3, 30, "", 2},
        {":FRAME-RANGE 4-9\n5\nknee 1 2 3\n7\nknee 4 5 6\n", true, true, 4, 30, "", 2},
        {frame + frame + "2\nknee 1 2 3\n", true, true, 2, 30, "", -1,
         "AMC read warning (line 4): Frame 1 given twice\n"},
        {frame + "1\nroot 0 0 0 0 0 0\nknee 1 2 4\n", true, false, 1, 30},
        {frame + "2\nknee 1 2 3\nknee 1 2 4\n", true, false, 2, 30},
        // Frames too far apart for their count, or before the range's first, are refused.
        {"1\nknee 1 2 3\n999999999\nknee 4 5 6\n", false, false, 0, 30},
        {":FRAME-RANGE 5-9\n1\nknee 1 2 3\n", true, false, 0, 30},
        {":FRAME-RANGE 2-3\n3\nknee 1 2 3\n1\nknee 4 5 6\n", true, false, 2, 30},
        {":SAMPLES-PER-SECOND 120\n:FRAME-RANGE 1-2\n" + frames, true, true, 2, 120, "", -1,
         "AMC read warning (line 9): Frame 3 and those after it lie past the frame range 1-2; "
         "not read\n"},
        // The rate in the note as a plain decimal, as the file may have it.
        {":SAMPLES-PER-SECOND 0.000000001\n:FRAME-RANGE 1-2\n" + frames, true, true, 2, 30,
         ":SAMPLES-PER-SECOND 0.000000001: 2 frames at that rate run past the longest time "
         "held; read at 30 frames a second\n",
         -1,
         "AMC read warning (line 9): Frame 3 and those after it lie past the frame range 1-2; "
         "not read\n"},
        {":FORMAT FIRSTFRAME-INDEXED\n" + frame, false, false, 0, 30},
        {frame + "2\nroot 0 0 0 0 0 0\nankle 1 2 3\n", true, false, 2, 30},
        {frame + "2\nroot 0 0 0 0 0 0\nroot 0 0 0 0 0 0\n", true, false, 2, 30},
        {frame + "2\nroot 0 0 0 0 0 0\nknee 1 2\n", true, false, 2, 30},
        {"root 0 0 0 0 0 0\n", false, false, 0, 30},
    };
    TempTestFolder folder;
    const std::string asf = folder / "s.asf";
    std::ofstream(asf, std::ios::binary) << kSkeleton;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string path = folder / "m.amc";
        std::ofstream(path, std::ios::binary) << c.text;
        KQovAsfScene scene;
        KMotionFileAsf skeleton(false);
        ASSERT_EQ(skeleton.Open(asf.c_str(), "r"), 0);
        ASSERT_TRUE(skeleton.ReadSkeleton(scene, true));
        KMotionFileAmc file(true);
        std::string warned;
        file.SetWarningCallback([&warned](const char* text) { warned += text; });
        file.SetErrorCallback([](const char*) {});
        ASSERT_EQ(file.Open(path.c_str(), "r"), 0);
        KStreamOptionsMotion options;
        options.SetFrameRate(0, 30.0);
        EXPECT_EQ(file.ReadOptions(options), c.options);
        if (!c.options) continue;
        EXPECT_EQ(options.GetFrameCount(), c.count);
        EXPECT_DOUBLE_EQ(options.GetFrameRate(), c.rate);
        EXPECT_EQ(file.GetRateNote(), c.note);
        EXPECT_EQ(file.ReadFrames(scene, options), c.frames);
        if (!c.frames) continue;
        EXPECT_EQ(warned, c.warned);
        EXPECT_EQ(scene.FindBone("knee")->keys.size(), size_t(c.keys < 0 ? c.count : c.keys));
        // Each key at its frame's place from the take's first frame.
        if (c.keys > 0) {
            EXPECT_EQ(scene.FindBone("knee")->keys.back().frame, c.count);
        }
    }
}

// Every node below `node`, by name without prefix.
void Collect(KQovNode* node, std::map<std::string, KQovNode*>& out) {
    for (int i = 0; KQovNode* child = node->GetChild(i); ++i) {
        out[child->GetNameWithoutPrefix().Buffer()] = child;
        Collect(child, out);
    }
}

// Reads a skeleton file and a motion file through the format tables (ids 6 and 7) into
// `scene`; the motion options come back in `motion`, the skeleton's (which own the skeleton)
// in `skeleton`.
bool ImportPair(TestScene& test, const std::string& asf, const std::string& amc, int reference,
                std::unique_ptr<KStreamOptions>& motion,
                std::unique_ptr<KStreamOptions>* skeleton = nullptr) {
    std::unique_ptr<KQovReader> skeletonReader(KQovMakeFormatReader(6, &test.manager));
    std::unique_ptr<KQovReader> motionReader(KQovMakeFormatReader(7, &test.manager));
    if (!skeletonReader || !motionReader || !skeletonReader->FileOpen(asf.c_str()) ||
        !motionReader->FileOpen(amc.c_str()))
        return false;
    std::unique_ptr<KStreamOptions> base(skeletonReader->GetReadOptions(true));
    auto* options = static_cast<KStreamOptionsMotion*>(base.get());
    options->SetSetting(8, reference);
    if (!skeletonReader->Read(test.scene, options)) return false;
    motion.reset(motionReader->GetReadOptions(true));
    auto* frames = static_cast<KStreamOptionsMotion*>(motion.get());
    if (!frames) return false;
    frames->SetSetting(8, reference);
    frames->SetStream(options->GetStream(), false);
    const bool ok = motionReader->Read(test.scene, frames);
    if (skeleton) *skeleton = std::move(base);
    return ok;
}

// Worst distance between the scene's global node positions and those expected, per frame;
// `compared` counts the positions compared.
double CompareScene(KQovScene* scene, const KStreamOptionsMotion& options,
                    const std::vector<std::map<std::string, Vec3>>& expected, size_t& compared) {
    std::map<std::string, KQovNode*> nodes;
    Collect(scene->GetRootNode(), nodes);
    double worst = 0.0;
    compared = 0;
    KTime time = options.GetStartTime();
    for (size_t f = 0; f < expected.size(); ++f, time += options.GetFramePeriod()) {
        for (const auto& [name, p] : expected[f]) {
            auto it = nodes.find(name);
            if (it == nodes.end()) continue;
            const KMatrix m = it->second->GetGlobalMatrixAtTime(time);
            worst = std::max(worst, Distance({m[3][0], m[3][1], m[3][2]}, p));
            ++compared;
        }
    }
    return worst;
}

TEST(KQovReaderAsf, RealFilesImportedAndWrittenKeepJointPositions) {
    const std::string asf = std::string(QOV_TESTDATA_DIR) + "/asf/11.asf";
    const std::string amc = std::string(QOV_TESTDATA_DIR) + "/asf/11_01.amc";
    const auto expected = TextPositions(asf, amc);
    ASSERT_EQ(expected.size(), 597u);
    for (int reference : {0, 1}) {
        SCOPED_TRACE(reference);
        TestScene test;
        std::unique_ptr<KStreamOptions> base;
        ASSERT_TRUE(ImportPair(test, asf, amc, reference, base));
        auto& options = static_cast<KStreamOptionsMotion&>(*base);
        EXPECT_EQ(options.GetFrameCount(), 597);
        KQovNode* top = test.scene->GetRootNode()->GetChild(0);
        ASSERT_TRUE(top);
        EXPECT_STREQ(top->GetNameWithoutPrefix().Buffer(), reference ? "VICON:reference" : "root");
        ASSERT_TRUE(test.scene->GetTakeInfo("11_01"));
        size_t compared = 0;
        // Root, 28 bones with motion and the ends of the 7 leaf chains, every frame.
        EXPECT_LT(CompareScene(test.scene, options, expected, compared), kImportTolerance);
        EXPECT_EQ(compared, 597u * (29 + 7));
        if (reference) continue;

        // Scene -> files (ids 8 and 9) -> the independent reading, and -> scene again.
        TempTestFolder folder;
        const std::string asf2 = folder / "out.asf", amc2 = folder / "out.amc";
        std::unique_ptr<KQovWriter> skeletonWriter(KQovMakeFormatWriter(8, &test.manager));
        std::unique_ptr<KQovWriter> motionWriter(KQovMakeFormatWriter(9, &test.manager));
        ASSERT_TRUE(skeletonWriter && motionWriter);
        std::unique_ptr<KStreamOptions> out(skeletonWriter->GetWriteOptions());
        auto* writeOptions = static_cast<KStreamOptionsMotion*>(out.get());
        writeOptions->SetFrameRate(0, options.GetFrameRate());
        writeOptions->SetFrameCount(597);
        ASSERT_TRUE(skeletonWriter->FileCreate(asf2.c_str()));
        ASSERT_TRUE(skeletonWriter->Write(test.scene, writeOptions))
            << skeletonWriter->GetLastErrorString();
        ASSERT_TRUE(skeletonWriter->FileClose());
        ASSERT_TRUE(motionWriter->FileCreate(amc2.c_str()));
        ASSERT_TRUE(motionWriter->Write(test.scene, writeOptions))
            << motionWriter->GetLastErrorString();
        ASSERT_TRUE(motionWriter->FileClose());
        // The written files, read independently, place every joint where the scene has it.
        const auto again = TextPositions(asf2, amc2);
        ASSERT_EQ(again.size(), expected.size());
        EXPECT_LT(CompareScene(test.scene, options, again, compared), kWrittenDigits);
        EXPECT_EQ(compared, 597u * (29 + 7));

        TestScene second;
        std::unique_ptr<KStreamOptions> reread;
        ASSERT_TRUE(ImportPair(second, asf2, amc2, 0, reread));
        EXPECT_LT(CompareScene(second.scene, static_cast<KStreamOptionsMotion&>(*reread), expected,
                               compared),
                  kImportTolerance + kWrittenDigits);
        EXPECT_EQ(compared, 597u * (29 + 7));
    }
}

TEST(KQovWriterAsf, AnotherFormatsSceneKeepsItsJointPositions) {
    // A captured clip of another format: its hips start three limbs at three places (each
    // gets a bone of its own to reach there), its limbs carry their own rest turns.
    TestScene test;
    std::unique_ptr<KStreamOptions> read;
    ASSERT_TRUE(ImportCapturedClip(test, 300, read));
    auto& options = static_cast<KStreamOptionsMotion&>(*read);

    TempTestFolder folder;
    const std::string asf = folder / "clip.asf", amc = folder / "clip.amc";
    std::unique_ptr<KQovWriter> skeletonWriter(KQovMakeFormatWriter(8, &test.manager));
    std::unique_ptr<KQovWriter> motionWriter(KQovMakeFormatWriter(9, &test.manager));
    ASSERT_TRUE(skeletonWriter->FileCreate(asf.c_str()));
    ASSERT_TRUE(skeletonWriter->Write(test.scene, &options));
    ASSERT_TRUE(skeletonWriter->FileClose());
    ASSERT_TRUE(motionWriter->FileCreate(amc.c_str()));
    ASSERT_TRUE(motionWriter->Write(test.scene, &options));
    ASSERT_TRUE(motionWriter->FileClose());
    const auto written = TextPositions(asf, amc);
    ASSERT_EQ(written.size(), 300u);
    size_t compared = 0;
    EXPECT_LT(CompareScene(test.scene, options, written, compared), kWrittenDigits);
    // Every joint but the top one (the file's "root") and the ends of the limbs (each end
    // node a bone's tip), every frame.
    std::map<std::string, KQovNode*> nodes;
    Collect(test.scene->GetRootNode(), nodes);
    EXPECT_EQ(compared, 300u * (nodes.size() - 1));
}

TEST(KQovReaderAsf, MalformedFilesAndMissingSkeletonFailCleanly) {
    const std::string frames = "1\nroot 0 0 0 0 0 0\nknee 1 2 3\n2\nroot 1 0 0 0 0 0\nknee 4 5 6\n";
    auto asf = [](const std::string& from, const std::string& to) {
        return Replaced(kSkeleton, from, to);
    };
    struct Case {
        std::string skeleton, motion;
        bool skeletonOk, motionOk;
    } cases[] = {
        {kSkeleton, frames, true, true},
        // A bone made its own ancestor.
        {asf("hip knee\n", "hip knee\n    knee hip\n"), frames, false, false},
        // Lines cut short.
        {asf("    direction 1 0 0\n", "    direction 1 0\n"), frames, false, false},
        {asf("  length 1.0\n", "  length\n"), frames, true, true},
        {std::string(kSkeleton).substr(0, 200), frames, false, false},
        {kSkeleton, "1\nroot 0 0 0 0 0 0\nknee 1 2\n", true, false},
        {kSkeleton, "1\nroot 0 0 0 0 0 0\nankle 1 2 3\n", true, false},
        {kSkeleton, "1\nroot 0 0 0\n", true, false},
    };
    TempTestFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.skeleton + c.motion);
        const std::string asfPath = folder / "s.asf", amcPath = folder / "m.amc";
        std::ofstream(asfPath, std::ios::binary) << c.skeleton;
        std::ofstream(amcPath, std::ios::binary) << c.motion;
        TestScene test;
        std::unique_ptr<KStreamOptions> motion;
        EXPECT_EQ(ImportPair(test, asfPath, amcPath, 0, motion), c.skeletonOk && c.motionOk);
        const int children = test.scene->GetRootNode()->GetChildCount();
        EXPECT_EQ(children, c.skeletonOk ? 1 : 0);
        if (!c.skeletonOk || c.motionOk) continue;
        // A motion file that fails leaves no take and no keys behind.
        EXPECT_EQ(test.scene->GetTakeInfo("m"), nullptr);
    }

    // The motion reader needs the skeleton in its options, and an open file.
    TestScene test;
    const std::string amcPath = folder / "m.amc";
    std::ofstream(amcPath, std::ios::binary) << frames;
    KQovReaderAmc reader(&test.manager);
    KStreamOptionsMotion none;
    EXPECT_FALSE(reader.Read(test.scene, &none));
    EXPECT_EQ(reader.GetLastErrorID(), KQovReader::eFileNotOpened);
    ASSERT_TRUE(reader.FileOpen(amcPath.c_str()));
    EXPECT_FALSE(reader.Read(test.scene, &none));
    EXPECT_EQ(reader.GetLastErrorID(), KQovReader::eStreamOptionsNotSet);
    EXPECT_FALSE(reader.FileOpen((folder / "none.amc").c_str()));
    EXPECT_FALSE(reader.IsFileOpen());
}

TEST(KQovReaderAsf, TakesLimitsAndTheWritersRefusals) {
    TempTestFolder folder;
    const std::string asfPath = folder / "s.asf", amcPath = folder / "walk.amc";
    std::ofstream(asfPath, std::ios::binary) << kSkeleton;
    std::ofstream(amcPath, std::ios::binary)
        << ":SAMPLES-PER-SECOND 120\n1\nroot 0 0 0 0 0 0\nknee 1 2 3\n2\nroot 1 0 0 0 0 "
           "0\nknee 4 5 6\n";
    TestScene test;
    std::unique_ptr<KStreamOptions> first, second, skeleton;
    ASSERT_TRUE(ImportPair(test, asfPath, amcPath, 1, first, &skeleton));
    EXPECT_DOUBLE_EQ(static_cast<KStreamOptionsMotion&>(*first).GetFrameRate(), 120.0);
    // The same motion again: a take of its own, onto the same nodes.
    std::unique_ptr<KQovReader> reader(KQovMakeFormatReader(7, &test.manager));
    ASSERT_TRUE(reader->FileOpen(amcPath.c_str()));
    second.reset(reader->GetReadOptions(true));
    auto* options = static_cast<KStreamOptionsMotion*>(second.get());
    options->SetStream(static_cast<KStreamOptionsMotion&>(*first).GetStream(), false);
    ASSERT_TRUE(reader->Read(test.scene, options));
    EXPECT_TRUE(test.scene->GetTakeInfo("walk"));
    EXPECT_TRUE(test.scene->GetTakeInfo("walk 1"));
    EXPECT_EQ(test.scene->GetRootNode()->GetChildCount(), 1);
    std::map<std::string, KQovNode*> nodes;
    Collect(test.scene->GetRootNode(), nodes);
    EXPECT_EQ(nodes.size(), 4u);  // reference, root, knee, knee_End
    ASSERT_TRUE(nodes.count("knee_End"));

    // Settings 15 and 16 put the rate and the frame range into the motion file's header.
    TestScene plain;
    std::unique_ptr<KStreamOptions> plainMotion, plainSkeleton;
    ASSERT_TRUE(ImportPair(plain, asfPath, amcPath, 0, plainMotion, &plainSkeleton));
    struct Header {
        int rate, range;
        const char* text;
    } headers[] = {{1, 0, ":SAMPLES-PER-SECOND 120\n:FULLY-SPECIFIED\n"},
                   {0, 1, ":FRAME-RANGE 0-1\n:FULLY-SPECIFIED\n"},
                   {0, 0, ":FULLY-SPECIFIED\n:DEGREES\n1\n"}};
    for (const Header& h : headers) {
        SCOPED_TRACE(h.text);
        std::unique_ptr<KQovWriter> skeletonWriter(KQovMakeFormatWriter(8, &plain.manager));
        std::unique_ptr<KQovWriter> motionWriter(KQovMakeFormatWriter(9, &plain.manager));
        std::unique_ptr<KStreamOptions> o(skeletonWriter->GetWriteOptions());
        auto& w = static_cast<KStreamOptionsMotion&>(*o);
        w.SetFrameRate(0, 120.0);
        w.SetFrameCount(2);
        w.SetSetting(15, h.rate);
        w.SetSetting(16, h.range);
        const std::string amcOut = folder / "h.amc";
        ASSERT_TRUE(skeletonWriter->FileCreate((folder / "h.asf").c_str()));
        ASSERT_TRUE(skeletonWriter->Write(plain.scene, &w));
        ASSERT_TRUE(skeletonWriter->FileClose());
        ASSERT_TRUE(motionWriter->FileCreate(amcOut.c_str()));
        ASSERT_TRUE(motionWriter->Write(plain.scene, &w));
        ASSERT_TRUE(motionWriter->FileClose());
        std::ifstream in(amcOut);
        const std::string text((std::istreambuf_iterator<char>(in)), {});
        EXPECT_EQ(text.rfind(h.text, 0), 0u) << text;
    }

    // With setting 10 the knee's limits bound its three turns and point along its bone.
    {
        TestScene limited;
        std::unique_ptr<KQovReader> skeletonReader(KQovMakeFormatReader(6, &limited.manager));
        ASSERT_TRUE(skeletonReader->FileOpen(asfPath.c_str()));
        std::unique_ptr<KStreamOptions> o(skeletonReader->GetReadOptions(true));
        static_cast<KStreamOptionsMotion&>(*o).SetSetting(9, 1);
        static_cast<KStreamOptionsMotion&>(*o).SetSetting(10, 1);
        ASSERT_TRUE(skeletonReader->Read(limited.scene, o.get()));
        std::map<std::string, KQovNode*> found;
        Collect(limited.scene->GetRootNode(), found);
        ASSERT_EQ(found.count("hip") + found.count("knee"), 2u);
        KQovLimitsUtility knee(&found["knee"]->GetLimits());
        EXPECT_EQ(knee.GetMin(1), KVector4(-180, -180, -180));
        EXPECT_EQ(knee.GetMax(1), KVector4(180, 180, 180));
        EXPECT_FALSE(knee.GetAuto(1));
        const KVector4 axis = knee.GetRotationAxis();
        const double angles[3] = {axis[0], axis[1], axis[2]};
        // The bone (1, 0, 0) in the root's frame, seen from the knee's frame turned 30 about Z.
        const Vec3 along = Apply(EulerXYZ(angles), {1, 0, 0});
        EXPECT_LT(Distance(along, {std::cos(-M_PI / 6), std::sin(-M_PI / 6), 0}), 1e-9);
        // The hip has no channels: its translation is held.
        EXPECT_FALSE(KQovLimitsUtility(&found["hip"]->GetLimits()).GetAuto(0));
    }

    // The importer picks the readers by extension; the motion file alone lacks its skeleton.
    struct Picked {
        const char* name;
        int format;
        bool imported;
    } picked[] = {{"s.asf", 6, true}, {"walk.AMC", 7, false}};
    for (const Picked& p : picked) {
        SCOPED_TRACE(p.name);
        TestScene scene;
        KQovImporter importer(&scene.manager);
        ASSERT_TRUE(importer.Initialize((folder / p.name).c_str()));
        EXPECT_EQ(importer.GetFileFormat(), p.format);
        EXPECT_EQ(importer.Import(scene.scene, nullptr), p.imported);
    }

    // The writers refuse what the file cannot hold, and rename what it holds otherwise.
    struct Refusal {
        const char* child;  // a second node: under the top node, or beside it ("")
        int error;          // -1: written, the name changed with a warning
        const char* written;
    } refusals[] = {{"root", -1, ""},  // below a reference node: the skeleton's own root
                    {"two words", -1, "written as \"two_words\""},
                    {"", KQovWriter::eFileNotCreated, ""}};
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.child);
        TestScene scene;
        KQovNode* top = scene.manager.CreateNode("Hips");
        scene.scene->GetRootNode()->AddChild(top);
        KQovNode* extra = r.error < 0 ? KMotionCreateLimbNode(&scene.manager, r.child)
                                      : scene.manager.CreateNode(*r.child ? r.child : "Other");
        (*r.child ? top : scene.scene->GetRootNode())->AddChild(extra);
        KQovWriterAsf writer(&scene.manager);
        ASSERT_TRUE(writer.FileCreate((folder / "w.asf").c_str()));
        std::unique_ptr<KStreamOptions> o(writer.GetWriteOptions());
        int shown = 0;
        o->SetMessageCallback([&](const char*, const char*, const char*, const char*, const char*,
                                  int) { return ++shown; });
        if (r.error < 0) {
            EXPECT_TRUE(writer.Write(scene.scene, o.get())) << writer.GetLastErrorString();
            KString status;
            writer.GetStatusText(status);
            const std::string told = *r.written ? r.written : "written as";
            EXPECT_EQ(std::string(status.Buffer()).find(told) != std::string::npos, *r.written != 0)
                << status.Buffer();
            EXPECT_EQ(shown, 0);
            continue;
        }
        EXPECT_FALSE(writer.Write(scene.scene, o.get()));
        EXPECT_EQ(writer.GetLastErrorID(), r.error);
        EXPECT_EQ(shown, r.error == KQovWriter::eUnidentifiedError ? 1 : 0);
    }
    KQovWriterAmc amcWriter(&test.manager);
    EXPECT_FALSE(amcWriter.FileCreate((folder / "no/such/folder.amc").c_str()));
    EXPECT_FALSE(amcWriter.IsFileOpen());
    ASSERT_TRUE(amcWriter.FileCreate((folder / "w.amc").c_str()));
    std::unique_ptr<KStreamOptions> o(amcWriter.GetWriteOptions());
    TestScene single;
    single.scene->GetRootNode()->AddChild(KMotionCreateLimbNode(&single.manager, "Hips"));
    // With its own options the motion writer writes its skeleton file too (this test once had it
    // refuse them, waiting for a skeleton file written first); options without a skeleton have
    // none to write on.
    EXPECT_TRUE(amcWriter.Write(single.scene, o.get())) << amcWriter.GetLastErrorString();
    EXPECT_TRUE(amcWriter.FileClose());
    EXPECT_NE(ReadText(folder / "w.asf").find(":root"), std::string::npos);
    std::unique_ptr<KStreamOptions> none(KQovWriterAsf::MakeWriteOptions());
    ASSERT_TRUE(amcWriter.FileCreate((folder / "w.amc").c_str()));
    EXPECT_FALSE(amcWriter.Write(single.scene, none.get()));
    EXPECT_EQ(amcWriter.GetLastErrorID(), KQovWriter::eStreamOptionsNotSet);
    // A skeleton whose moving bones the scene lacks cannot be sampled.
    static_cast<KStreamOptionsMotion&>(*o).SetStream(
        static_cast<KStreamOptionsMotion&>(*plainSkeleton).GetStream(), false);
    EXPECT_FALSE(amcWriter.Write(single.scene, o.get()));
    EXPECT_EQ(amcWriter.GetLastErrorID(), KQovWriter::eUnidentifiedError);
}

}  // namespace

namespace {

// A skeleton of bones b0, b1, ... (each turning about X, one unit long along X) with the
// given hierarchy lines; `prefix` instead of "b" names them otherwise.
std::string ChainSkeleton(int count, const std::string& hierarchy,
                          const std::string& prefix = "b") {
    std::string text =
        ":version 1.10\n:name chain\n:units\n  length 1.0\n  angle deg\n:root\n  order TX TY TZ "
        "RX RY RZ\n  axis XYZ\n  position 0 0 0\n  orientation 0 0 0\n:bonedata\n";
    for (int i = 0; i < count; ++i)
        text += "  begin\n    id " + std::to_string(i + 1) + "\n    name " + prefix +
                std::to_string(i) +
                "\n    direction 1 0 0\n    length 1\n    axis 0 0 0 XYZ\n    dof rx\n  end\n";
    return text + ":hierarchy\n  begin\n" + hierarchy + "  end\n";
}

std::string ChildNames(const KAsfBone* bone) {
    std::string names;
    for (const auto& child : bone->children) names += (names.empty() ? "" : " ") + child->name;
    return names;
}

}  // namespace

// The hierarchy lines set parents; children keep the order in which they joined their
// parent, bones never moved stay in file order, and a cycle left at the end is refused.
TEST(KMotionFileAsf, HierarchyOrderAndCycles) {
    struct Case {
        const char* hierarchy;
        bool ok;
        // parent: children, for root, b0 and b1
        const char* root;
        const char* b0;
        const char* b1;
    } cases[] = {
        {"", true, "b0 b1 b2 b3", "", ""},
        {"root b0\n b0 b1 b2\n b1 b3\n", true, "b0", "b1 b2", "b3"},
        {"root b0 b1 b2 b3\n b2 b0\n", true, "b1 b2 b3", "", ""},
        {"b0 b3\n b0 b1\n root b3\n", true, "b0 b2 b3", "b1", ""},
        {"b1 b0\n b0 b1\n", false, "", "", ""},
        {"b2 b2\n", false, "", "", ""},
        {"b0 root\n", false, "", "", ""},
        // A cycle undone by a later line is no cycle: the file's last word on each parent counts.
        {"b0 b1\n b1 b2\n b2 b0\n root b0\n", true, "b3 b0", "b1", "b2"},
        {"b0 nine\n", false, "", "", ""},
    };
    TempTestFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hierarchy);
        const std::string path = folder / "order.asf";
        std::ofstream(path, std::ios::binary) << ChainSkeleton(4, c.hierarchy);
        KMotionFileAsf file(false);
        ASSERT_EQ(file.Open(path.c_str(), "r"), 0);
        KQovAsfScene scene;
        ASSERT_EQ(file.ReadSkeleton(scene, false), c.ok);
        if (!c.ok) {
            // Refused: every bone still hangs from the parent whose list holds it.
            for (KAsfBone* bone : scene.GetBones())
                for (const auto& child : bone->children) EXPECT_EQ(child->parent, bone);
            continue;
        }
        EXPECT_EQ(ChildNames(scene.mRoot.get()), c.root);
        EXPECT_EQ(ChildNames(scene.FindBone("b0")), c.b0);
        EXPECT_EQ(ChildNames(scene.FindBone("b1")), c.b1);
    }
    // A parent's name may begin with "end" or "begin": only the word alone bounds the list.
    for (const char* prefix : {"End", "begin"}) {
        const std::string p = prefix;
        const std::string path = folder / "words.asf";
        const std::string lines =
            " root " + p + "0\n " + p + "0 " + p + "1\n " + p + "1 " + p + "2\n";
        std::ofstream(path, std::ios::binary) << ChainSkeleton(3, lines, p);
        KMotionFileAsf file(false);
        ASSERT_EQ(file.Open(path.c_str(), "r"), 0);
        KQovAsfScene scene;
        ASSERT_TRUE(file.ReadSkeleton(scene, false));
        EXPECT_EQ(ChildNames(scene.mRoot.get()), p + "0");
        EXPECT_EQ(ChildNames(scene.FindBone((p + "0").c_str())), p + "1");
        EXPECT_EQ(ChildNames(scene.FindBone((p + "1").c_str())), p + "2");
    }
}

// A chain of bones far deeper than a small call stack: read in linear time (one name table,
// one cycle check at the end), and a shorter one made into nodes and keyed from a motion file.
TEST(KMotionFileAsf, LongChainsNeedNeitherDeepStackNorSquareTime) {
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    const auto chain = [](int count) {
        std::string hierarchy = "    root b0\n";
        for (int i = 1; i < count; ++i)
            hierarchy += "    b" + std::to_string(i - 1) + " b" + std::to_string(i) + "\n";
        return ChainSkeleton(count, hierarchy);
    };
    const std::string longPath = folder / "long.asf";
    ASSERT_TRUE(WriteText(longPath, chain(50000)));
    ASSERT_TRUE(RunOnSmallStack(
        [&] {
            KMotionFileAsf file(false);
            ASSERT_EQ(file.Open(longPath.c_str(), "r"), 0);
            KQovAsfScene scene;
            ASSERT_TRUE(file.ReadSkeleton(scene, true));
            const std::vector<KAsfBone*> bones = scene.GetBones();
            ASSERT_EQ(bones.size(), 50001u);
            EXPECT_EQ(bones.back()->name, "b49999");
            EXPECT_EQ(bones.back()->parent->name, "b49998");
        },
        size_t(128) << 10));

    const int count = 3000;
    const std::string asf = folder / "chain.asf";
    const std::string amc = folder / "chain.amc";
    ASSERT_TRUE(WriteText(asf, chain(count)));
    std::string motion = ":FULLY-SPECIFIED\n:DEGREES\n";
    for (int frame = 1; frame <= 2; ++frame) {
        motion += std::to_string(frame) + "\nroot 0 0 0 0 0 0\n";
        for (int i = 0; i < count; ++i)
            motion += "b" + std::to_string(i) + " " + std::to_string(frame * 10) + "\n";
    }
    ASSERT_TRUE(WriteText(amc, motion));
    ASSERT_TRUE(RunOnSmallStack(
        [&] {
            TestScene test;
            std::unique_ptr<KQovReader> reader(KQovMakeFormatReader(6, &test.manager));
            ASSERT_TRUE(reader && reader->FileOpen(asf.c_str()));
            std::unique_ptr<KStreamOptions> options(reader->GetReadOptions(true));
            ASSERT_TRUE(options);
            ASSERT_TRUE(reader->Read(test.scene, options.get())) << reader->GetLastErrorString();
            KQovNode* deepest = test.scene->GetRootNode()->FindChild("b2999", true);
            ASSERT_NE(deepest, nullptr);
            int depth = 0;
            for (KQovNode* n = deepest; n; n = n->GetParent()) ++depth;
            // b0 .. b2999 below the root bone, the reference and the scene's root.
            EXPECT_GE(depth, count + 2);
            // Its end node, one unit along the bone.
            EXPECT_EQ(deepest->GetChildCount(), 1);
            std::unique_ptr<KQovReader> motionReader(KQovMakeFormatReader(7, &test.manager));
            ASSERT_TRUE(motionReader && motionReader->FileOpen(amc.c_str()));
            std::unique_ptr<KStreamOptions> motionOptions(motionReader->GetReadOptions(true));
            ASSERT_TRUE(motionOptions);
            auto* m = static_cast<KStreamOptionsMotion*>(motionOptions.get());
            m->SetStream(static_cast<KStreamOptionsMotion&>(*options).GetStream(), false);
            EXPECT_TRUE(motionReader->Read(test.scene, m)) << motionReader->GetLastErrorString();
            // Written back, every bone finds its node by name and keeps its keys.
            const std::string asfOut = folder / "out.asf", amcOut = folder / "out.amc";
            std::unique_ptr<KQovWriter> skeletonWriter(KQovMakeFormatWriter(8, &test.manager));
            std::unique_ptr<KQovWriter> motionWriter(KQovMakeFormatWriter(9, &test.manager));
            std::unique_ptr<KStreamOptions> out(skeletonWriter->GetWriteOptions());
            auto& w = static_cast<KStreamOptionsMotion&>(*out);
            w.SetStartTime(m->GetStartTime());
            w.SetFrameRate(0, m->GetFrameRate());
            w.SetFrameCount(2);
            ASSERT_TRUE(skeletonWriter->FileCreate(asfOut.c_str()));
            ASSERT_TRUE(skeletonWriter->Write(test.scene, &w));
            ASSERT_TRUE(skeletonWriter->FileClose());
            ASSERT_TRUE(motionWriter->FileCreate(amcOut.c_str()));
            ASSERT_TRUE(motionWriter->Write(test.scene, &w)) << motionWriter->GetLastErrorString();
            ASSERT_TRUE(motionWriter->FileClose());
            std::ifstream written(amcOut);
            std::string line;
            std::vector<std::string> last;
            while (std::getline(written, line))
                if (line.rfind("b2999 ", 0) == 0) last.push_back(line);
            ASSERT_EQ(last.size(), 2u);
            EXPECT_EQ(std::stod(last[1].substr(6)), 20.0);
            test.manager.DestroyScene(test.scene, true);
        },
        size_t(256) << 10));
}
