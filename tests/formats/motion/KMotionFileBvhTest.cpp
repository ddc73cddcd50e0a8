#include "formats/motion/bvh/KMotionFileBvh.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "MotionTestHelpers.h"
#include "animation/KFCurve.h"
#include "animation/KFCurveNode.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovLimitsUtility.h"
#include "character/KQovSceneBridge.h"
#include "common/SmallStack.h"
#include "common/TempTestFolder.h"
#include "formats/motion/KMotionSceneTools.h"
#include "formats/motion/bvh/KQovReaderBvh.h"
#include "formats/motion/bvh/KQovWriterBvh.h"
#include "io/KQovExporter.h"
#include "io/KQovFormatFactory.h"
#include "io/KStreamOptionsMotion.h"
#include "io/KStreamOptionsQov.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

using namespace motiontest;

namespace {

std::string TestFile(const char* name) {
    const std::string path = std::string(QOV_TESTDATA_DIR) + "/bvh/" + name;
    std::ifstream probe(path);
    EXPECT_TRUE(probe.good()) << "test data missing: " << path;
    return path;
}

// Global joint positions per frame, straight from the text (the independent reading).
// `names`, when given, gets each joint's name, an end site's being its parent's + "_End".
// `locals`, when given, gets each joint's local rotation per frame.
std::vector<std::vector<Vec3>> TextPositions(const std::string& path,
                                             std::vector<std::string>* names = nullptr,
                                             std::vector<std::vector<Mat3>>* locals = nullptr) {
    independent::Motion motion = independent::ReadBvh(path, locals);
    if (names) names->insert(names->end(), motion.names.begin(), motion.names.end());
    return motion.frames;
}

// Global positions of the records' current frame (translation and Euler X, Y, Z).
std::vector<Vec3> RecordPositions(const KMotionFileBvh& file) {
    std::vector<Vec3> position;
    std::vector<Mat3> rotation;
    std::vector<const KBvhJoint*> order;
    for (const auto& joint : file.GetJoints()) {
        const KBvhJoint& j = *joint;
        Vec3 t = j.endSite ? Vec3{j.offset[0], j.offset[1], j.offset[2]}
                           : Vec3{j.translation[0], j.translation[1], j.translation[2]};
        const double e[3] = {j.rotation[0], j.rotation[1], j.rotation[2]};
        Mat3 r = j.endSite ? Identity() : EulerXYZ(e);
        size_t p = 0;
        while (p < order.size() && order[p] != j.parent) ++p;
        if (j.parent) {
            t = Add(position[p], Apply(rotation[p], t));
            r = Mul(rotation[p], r);
        }
        order.push_back(&j);
        position.push_back(t);
        rotation.push_back(r);
    }
    return position;
}

double MaxDistance(const std::vector<Vec3>& a, const std::vector<Vec3>& b) {
    double d = a.size() == b.size() ? 0.0 : 1e9;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) d = std::max(d, Distance(a[i], b[i]));
    return d;
}

bool SixChannels(const KBvhJoint& joint) {
    return joint.channelCount == 6;
}

// Reads `path` whole and writes it again through fresh records to `out`.
void RoundTrip(const std::string& path, const std::string& out) {
    KMotionFileBvh in(false);
    ASSERT_EQ(in.Open(path.c_str(), "r"), 0);
    ASSERT_TRUE(in.ReadHierarchy());
    KMotionFileBvh writer(false);
    ASSERT_EQ(writer.Open(out.c_str(), "w"), 0);
    std::vector<KBvhJoint*> copies;
    for (const auto& joint : in.GetJoints()) {
        KBvhJoint* parent = nullptr;
        for (size_t i = 0; i < copies.size(); ++i)
            if (in.GetJoints()[i].get() == joint->parent) parent = copies[i];
        KBvhJoint* copy = writer.AddJoint(parent, joint->name.c_str(), joint->endSite);
        std::copy(joint->offset, joint->offset + 3, copy->offset);
        copy->channelCount = joint->channelCount;
        copies.push_back(copy);
    }
    writer.WriteHierarchy(SixChannels);
    writer.WriteMotionHeader(in.GetFrameCount(), in.GetFrameTime());
    for (int f = 0; f < in.GetFrameCount(); ++f) {
        ASSERT_TRUE(in.ReadFrame(f == 0));
        for (size_t i = 0; i < copies.size(); ++i) {
            copies[i]->translation = in.GetJoints()[i]->translation;
            copies[i]->rotation = in.GetJoints()[i]->rotation;
        }
        writer.WriteFrame();
    }
    EXPECT_EQ(writer.Close(), 0);
}

TEST(KMotionFileBvh, RealFilesMatchIndependentKinematicsAndSurviveARoundTrip) {
    struct Case {
        const char* name;
        size_t joints;
        int frames;
    } cases[] = {{"01_01.bvh", 31 + 7, 2752}, {"sinusoidal.bvh", 4, 120}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = TestFile(c.name);
        const auto expected = TextPositions(path);
        KMotionFileBvh file(false);
        ASSERT_EQ(file.Open(path.c_str(), "r"), 0);
        ASSERT_TRUE(file.ReadHierarchy());
        EXPECT_EQ(file.GetJoints().size(), c.joints);
        ASSERT_EQ(file.GetFrameCount(), c.frames);
        ASSERT_EQ(expected.size(), size_t(c.frames));
        double worst = 0.0;
        for (int f = 0; f < c.frames; ++f) {
            ASSERT_TRUE(file.ReadFrame(f == 0)) << "frame " << f;
            worst = std::max(worst, MaxDistance(RecordPositions(file), expected[size_t(f)]));
        }
        EXPECT_LT(worst, 1e-3);
        EXPECT_FALSE(file.ReadFrame(false));

        TempTestFolder folder;
        const std::string out = folder / "out.bvh";
        RoundTrip(path, out);
        const auto again = TextPositions(out);
        ASSERT_EQ(again.size(), expected.size());
        worst = 0.0;
        for (size_t f = 0; f < again.size(); ++f)
            worst = std::max(worst, MaxDistance(again[f], expected[f]));
        // The written values carry six significant digits.
        EXPECT_LT(worst, 2e-3);
    }
}

const char kHeader[] =
    "HIERARCHY\nROOT Hips\n{\n OFFSET 0 0 0\n CHANNELS 6 Xposition Yposition Zposition "
    "Zrotation Yrotation Xrotation\n JOINT LeftHand\n {\n  OFFSET 1 2 3\n  CHANNELS 3 "
    "Zrotation Xrotation Yrotation\n  End Site\n  {\n   OFFSET 0 0 1\n  }\n }\n}\n";

// A chain of `depth` joints.
std::string Nested(int depth) {
    std::string text = "HIERARCHY\nROOT J\n{\nOFFSET 0 0 0\nCHANNELS 0\n";
    for (int i = 1; i < depth; ++i) text += "JOINT J\n{\nOFFSET 0 0 1\nCHANNELS 0\n";
    for (int i = 0; i < depth; ++i) text += "}\n";
    return text + "MOTION\nFrames: 0\nFrame Time: 0.04\n";
}

TEST(KMotionFileBvh, MalformedFilesFailCleanly) {
    const std::string good = std::string(kHeader) + "MOTION\nFrames: 2\nFrame Time: 0.04\n";
    auto replace = [&](const std::string& from, const std::string& to) {
        return Replaced(good, from, to);
    };
    struct Case {
        std::string text;
        bool hierarchy;
    } cases[] = {
        {good, true},
        {replace("CHANNELS 3", "CHANNELS 7"), false},
        {replace("CHANNELS 3", "CHANNELS -1"), false},
        {replace("Xrotation Yrotation\n", "Wrotation Yrotation\n"), false},
        // A position given twice would lose one of its values; two turns about X are two.
        {replace("Yposition Zposition", "Yposition Yposition"), false},
        {replace("Zrotation Yrotation Xrotation", "Xrotation Yrotation Xrotation"), true},
        {replace("  OFFSET 1 2 3", "  OFFSET 1 2"), false},
        {replace(" {\n  OFFSET 1", " OFFSET 1"), false},
        {replace("Frame Time: 0.04", "Frame Rate: 25"), false},
        {good.substr(0, good.find("  End Site")), false},
        {"", false},
        {"ROOT Hips\n", false},
        {Nested(300), false},
        {Nested(200), true},
        // A joint 256 levels below the root is the first one refused.
        {Nested(256), true},
        {Nested(257), false},
    };
    TempTestFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string path = folder / "bad.bvh";
        std::ofstream(path, std::ios::binary) << c.text;
        KMotionFileBvh file(false);
        file.Open(path.c_str(), "r");
        EXPECT_EQ(file.ReadHierarchy(), c.hierarchy);
    }
    // A name is the whole rest of its line, blanks inside it kept.
    const std::string path = folder / "blank.bvh";
    std::ofstream(path, std::ios::binary) << replace("ROOT Hips", "ROOT  Camera Switcher \t");
    KMotionFileBvh file(false);
    file.Open(path.c_str(), "r");
    ASSERT_TRUE(file.ReadHierarchy());
    EXPECT_EQ(file.GetJoints()[0]->name, "Camera Switcher");
}

TEST(KMotionFileBvh, FrameLinesAndHeaderValues) {
    // A line too long for the file (beyond the bound set and a chunk read), past the frames
    // counted.
    const std::string pastLongLine =
        "Frames: 1\nFrame Time: 0.04\n1 2 3 10 20 30 5 6 7\n" + std::string(100000, '1') + "\n";
    struct Case {
        const char* motion;
        int frames;
        double rate;  // the options' rate afterwards
        int goodFrames;
        const char* note = "";      // what the rate became when it could not be kept
        const char* warnings = "";  // of values the frames counted leave unread
        size_t maxLine = 0;         // the longest line read, when not the reader's own
    } cases[] = {
        {"Frames: 2\nFrame Time: 0.0333333\n1 2 3 10 20 30 5 6 7\n1 2 3 10 20 30 5 6 7\n", 2, 30,
         2},
        {"Frames: 1\nFrame Time: 0.008333\n1 2 3 10 20 30 5 6 7\n", 1, 120, 1},
        {"Frames: 2\nFrame Time: 0\n1 2 3 10 20 30 5 6 7\n1 2 3 10 20 30 5 6\n", 2, 25, 1,
         "Frame Time 0 s is not a rate; read at 25 frames a second\n"},
        {"Frames: 1\nFrame Time: -1\n1 2 3 10 20 30 5 6 7\n", 1, 25, 1,
         "Frame Time -1 s is not a rate; read at 25 frames a second\n"},
        {"Frames: -5\nFrame Time: 0.5\n", 0, 2, 0},
        // Below one frame a second the rate is kept, not rounded to 0 (the default) or 1.
        {"Frames: 1\nFrame Time: 2\n1 2 3 10 20 30 5 6 7\n", 1, 0.5, 1},
        {"Frames: 1\nFrame Time: 1.5\n1 2 3 10 20 30 5 6 7\n", 1, 1 / 1.5, 1},
        {"Frames: 1\nFrame Time: 0.7\n1 2 3 10 20 30 5 6 7\n", 1, 1, 1},
        // Unless the clip would run past the times held: the default rate, told.
        {"Frames: 3\nFrame Time: 1e8\n", 3, 30, 0,
         "Frame Time 100000000 s: 3 frames at that rate run past the longest time held; read at "
         "30 frames a second\n"},
        // A frame too short for its rate to come back through a written period.
        {"Frames: 1\nFrame Time: 1e-9\n1 2 3 10 20 30 5 6 7\n", 1, 30, 1,
         "Frame Time 0.000000001 s: rates above 1000000 frames a second are not kept; read at 30 "
         "frames a second\n"},
        // At a limit, and past it by no more than six digits move a rate: at the limit.
        {"Frames: 3\nFrame Time: 5e7\n", 3, 2e-8, 0},
        {"Frames: 3\nFrame Time: 5.00004e7\n", 3, 2e-8, 0},
        {"Frames: 1\nFrame Time: 9.99995e-7\n1 2 3 10 20 30 5 6 7\n", 1, 1e6, 1},
        // Frame lines past the count, and numbers past the channels, are told, not read.
        {"Frames: 1\nFrame Time: 0.04\n1 2 3 10 20 30 5 6 7\n1 2 3 10 20 30 5 6 7\n", 1, 25, 1, "",
         "BioVision read warning (line 20): Frames: 1, but more frame lines follow; this one and "
         "those after it are not read\n"},
        {"Frames: 0\nFrame Time: 0.04\n1 2 3 10 20 30 5 6 7\n", 0, 25, 0, "",
         "BioVision read warning (line 19): Frames: 0, but more frame lines follow; this one and "
         "those after it are not read\n"},
        {"Frames: 2\nFrame Time: 0.04\n1 2 3 10 20 30 5 6 7 8\n1 2 3 10 20 30 5 6 7 x\n", 2, 25, 2,
         "",
         "BioVision read warning (line 19): Frame line holds more numbers than the channels (9); "
         "the rest of it is not read\nBioVision read warning (line 20): 2 frame lines in all "
         "held more numbers than the channels (9)\n"},
        // Read whole as the frames before it: the file is not refused for it.
        {pastLongLine.c_str(), 1, 25, 1, "",
         "BioVision read warning (line 20): Frames: 1, but more frame lines follow; this one and "
         "those after it are not read\n",
         128},
    };
    TempTestFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.motion).substr(0, 200));
        const std::string path = folder / "frames.bvh";
        std::ofstream(path, std::ios::binary) << kHeader << "MOTION\n" << c.motion;
        KMotionFileBvh file(false);
        std::string warnings;
        file.SetReport(true);
        file.SetWarningCallback([&](const char* text) { warnings += text; });
        if (c.maxLine) file.SetMaxLineLength(c.maxLine);
        ASSERT_EQ(file.Open(path.c_str(), "r"), 0);
        KStreamOptionsMotion options;
        options.SetFrameRate(0, 25.0);
        ASSERT_TRUE(file.ReadOptions(options));
        EXPECT_EQ(options.GetFrameCount(), c.frames);
        EXPECT_DOUBLE_EQ(options.GetFrameRate(), c.rate);
        EXPECT_EQ(options.GetSetting(8), 1);
        EXPECT_EQ(file.GetRateNote(), c.note);
        // A rate read without a word is one a writer writes.
        EXPECT_EQ(KMotionUnwritableRate(options, false), "");
        ASSERT_TRUE(file.ReadHierarchy());
        int read = 0;
        while (read < file.GetFrameCount() && file.ReadFrame(read == 0)) ++read;
        EXPECT_EQ(read, c.goodFrames);
        if (read == file.GetFrameCount()) file.WarnUnreadValues(read);
        EXPECT_EQ(warnings, c.warnings);
        EXPECT_FALSE(file.IsLineTooLong());
        if (read == 0) continue;
        // Three rotation channels keep the offset as translation.
        const KBvhJoint& hand = *file.GetJoints()[1];
        EXPECT_EQ(hand.translation, KVector4(1, 2, 3));
        EXPECT_EQ(file.GetJoints()[0]->translation, KVector4(1, 2, 3));
    }
}

// Nodes below `node`, depth first, parents before children.
void Walk(KQovNode* node, std::vector<KQovNode*>& out) {
    out.push_back(node);
    for (int i = 0; KQovNode* child = node->GetChild(i); ++i) Walk(child, out);
}

TEST(KQovReaderBvh, ImportedScenesMatchIndependentKinematics) {
    struct Case {
        const char* name;
        int reference;  // setting 8
        const char* top;
        // The import runs the constant key reducer, whose band is 0.009 degrees: on a
        // captured clip its removed keys move limb ends by up to about 0.02 cm (without it, the
        // scene matches within 5e-6 cm).
        double tolerance;
        // Joint frames at which all three rotation keys survive the reducer, at least (the
        // synthetic clip turns each joint about one axis: the other two curves are flat).
        size_t keyed;
    } cases[] = {{"01_01.bvh", 0, "Hips", 0.025, 20000},
                 {"sinusoidal.bvh", 1, "BVH:reference", 1e-3, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = TestFile(c.name);
        std::vector<std::vector<Mat3>> locals;
        const auto expected = TextPositions(path, nullptr, &locals);
        TestScene test;
        KQovObjectManager& manager = test.manager;
        KQovScene* scene = test.scene;
        KQovReaderBvh reader(&manager);
        ASSERT_TRUE(reader.FileOpen(path.c_str()));
        std::unique_ptr<KStreamOptions> base(reader.GetReadOptions(true));
        auto* options = dynamic_cast<KStreamOptionsMotion*>(base.get());
        ASSERT_TRUE(options);
        options->SetSetting(8, c.reference);
        ASSERT_TRUE(reader.Read(scene, options)) << reader.GetLastErrorString();
        KQovNode* top = scene->GetRootNode()->GetChild(0);
        ASSERT_TRUE(top);
        EXPECT_STREQ(top->GetNameWithoutPrefix().Buffer(), c.top);
        std::vector<KQovNode*> nodes;
        Walk(c.reference ? top->GetChild(0) : top, nodes);
        ASSERT_EQ(nodes.size(), expected[0].size());
        double worst = 0.0;
        KTime time = options->GetStartTime();
        for (size_t f = 0; f < expected.size(); ++f, time += options->GetFramePeriod()) {
            for (size_t j = 0; j < nodes.size(); ++j) {
                const KMatrix m = nodes[j]->GetGlobalMatrixAtTime(time);
                worst = std::max(worst, Distance({m[3][0], m[3][1], m[3][2]}, expected[f][j]));
            }
        }
        EXPECT_LT(worst, c.tolerance);

        // Where the reducer left all three rotation keys of a joint, the joint turns as the
        // text says to the precision of the float keys.
        double worstTurn = 0.0;
        size_t keyed = 0;
        for (size_t j = 0; j < nodes.size(); ++j) {
            KQovTakeNode* take = nodes[j]->GetCurrentTakeNode();
            KFCurve* curves[3] = {take->GetRotationX(), take->GetRotationY(), take->GetRotationZ()};
            if (!curves[0] || nodes[j]->GetChildCount() == 0) continue;
            std::map<int64_t, std::array<double, 3>> turns;
            std::map<int64_t, int> counts;
            for (int a = 0; a < 3; ++a)
                for (int k = 0; k < curves[a]->KeyGetCount(); ++k) {
                    const int64_t at = curves[a]->KeyGetTime(k).Get();
                    turns[at][size_t(a)] = curves[a]->KeyGetValue(k);
                    ++counts[at];
                }
            for (size_t f = 0; f < expected.size(); ++f) {
                const int64_t at =
                    (options->GetStartTime() + options->GetFramePeriod() * int64_t(f)).Get();
                if (counts[at] != 3) continue;
                const Mat3 m = EulerXYZ(turns[at].data());
                for (int r = 0; r < 3; ++r)
                    for (int k = 0; k < 3; ++k)
                        worstTurn = std::max(worstTurn, std::fabs(m[r][k] - locals[f][j][r][k]));
                ++keyed;
            }
        }
        EXPECT_LT(worstTurn, 1e-6);
        EXPECT_GE(keyed, c.keyed) << keyed;
    }
}

TEST(KQovReaderBvh, RefusesWhatItCannotRead) {
    TestScene test;
    KQovObjectManager& manager = test.manager;
    KQovScene* scene = test.scene;
    KQovReaderBvh reader(&manager);
    KStreamOptionsMotion options;
    EXPECT_FALSE(reader.Read(scene, &options));
    EXPECT_EQ(reader.GetLastErrorID(), KQovReader::eFileNotOpened);
    TempTestFolder folder;
    const std::string path = folder / "short.bvh";
    std::ofstream(path, std::ios::binary)
        << kHeader << "MOTION\nFrames: 3\nFrame Time: 0.04\n1 2 3 10 20 30 5 6 7\n1 2\n";
    EXPECT_FALSE(reader.FileOpen((folder / "none.bvh").c_str()));
    ASSERT_TRUE(reader.FileOpen(path.c_str()));
    KStreamOptionsMotion* read = dynamic_cast<KStreamOptionsMotion*>(reader.GetReadOptions(true));
    ASSERT_TRUE(read);
    std::unique_ptr<KStreamOptions> owner(read);
    KStreamOptionsQov other;
    EXPECT_FALSE(reader.Read(scene, &other));
    EXPECT_EQ(reader.GetLastErrorID(), KQovReader::eStreamOptionsNotSet);
    // A short frame line fails the read; the nodes stay, keyed up to the frame before.
    EXPECT_FALSE(reader.Read(scene, read));
    EXPECT_EQ(reader.GetLastErrorID(), KQovReader::eFileCorrupted);
    KQovNode* hand = scene->GetRootNode()->GetChild(0)->GetChild(0)->GetChild(0);
    ASSERT_TRUE(hand);
    EXPECT_STREQ(hand->GetNameWithoutPrefix().Buffer(), "LeftHand");
    EXPECT_STREQ(hand->GetChild(0)->GetNameWithoutPrefix().Buffer(), "LeftHand_End");
    EXPECT_EQ(hand->GetCurrentTakeNode()->GetRotationX()->KeyGetCount(), 1);
}

TEST(KQovWriterBvh, SceneRoundTripsKeepJointPositions) {
    for (const char* name : {"01_01.bvh", "sinusoidal.bvh"}) {
        SCOPED_TRACE(name);
        const std::string path = TestFile(name);
        std::vector<std::string> names, written;
        const auto expected = TextPositions(path, &names);
        TestScene test;
        KQovObjectManager& manager = test.manager;
        KQovScene* scene = test.scene;
        // Both ways through the format tables: reading id 3, writing id 5.
        std::unique_ptr<KQovReader> reader(KQovMakeFormatReader(3, &manager));
        ASSERT_TRUE(reader && reader->FileOpen(path.c_str()));
        std::unique_ptr<KStreamOptions> options(reader->GetReadOptions(true));
        static_cast<KStreamOptionsMotion*>(options.get())->SetSetting(8, 0);
        ASSERT_TRUE(reader->Read(scene, options.get()));

        TempTestFolder folder;
        const std::string out = folder / "out.bvh";
        std::unique_ptr<KQovWriter> writer(KQovMakeFormatWriter(5, &manager));
        ASSERT_TRUE(writer);
        EXPECT_FALSE(writer->FileCreate((folder / "no/such/folder.bvh").c_str()));
        EXPECT_FALSE(writer->IsFileOpen());
        KQovExporter exporter(&manager);
        exporter.Initialize(out.c_str());
        exporter.SetFileFormat(5);
        ASSERT_TRUE(exporter.Export(scene, options.get()));
        const auto again = TextPositions(out, &written);
        ASSERT_EQ(again.size(), expected.size());
        // Every joint of the source is written (the scene's end nodes as joints, each with an
        // end site of its own that repeats its position).
        std::map<std::string, size_t> source;
        for (size_t j = 0; j < names.size(); ++j) source[names[j]] = j;
        size_t matched = 0;
        double worst = 0.0;
        for (size_t j = 0; j < written.size(); ++j) {
            auto it = source.find(written[j]);
            if (it == source.end()) continue;
            ++matched;
            for (size_t f = 0; f < again.size(); ++f)
                worst = std::max(worst, Distance(again[f][j], expected[f][it->second]));
        }
        EXPECT_EQ(matched, names.size());
        // The reducer's band (see above) plus six significant digits in the written file.
        EXPECT_LT(worst, 0.03);
    }
}

TEST(KQovWriterBvh, RefusesScenesItCannotWrite) {
    TestScene test;
    KQovObjectManager& manager = test.manager;
    KQovScene* scene = test.scene;
    KQovWriterBvh writer(&manager);
    KStreamOptionsMotion options;
    EXPECT_FALSE(writer.Write(scene, &options));
    EXPECT_EQ(writer.GetLastErrorID(), KQovWriter::eFileNotOpened);
    TempTestFolder folder;
    ASSERT_TRUE(writer.FileCreate((folder / "out.bvh").c_str()));
    EXPECT_FALSE(writer.Write(scene, &options));
    // An empty scene holds nothing the file holds.
    EXPECT_STREQ(writer.GetLastErrorString(),
                 "Nothing to write: a BVH file holds skeletons only, and the scene holds none");
    KQovNode* a = KMotionCreateLimbNode(&manager, "Hip joint");
    scene->GetRootNode()->AddChild(a);
    // A blank is written as '_', with a warning naming the joint; the reader would take it
    // back whole, but other readers end a name there.
    EXPECT_TRUE(writer.Write(scene, &options)) << writer.GetLastErrorString();
    KString status;
    writer.GetStatusText(status);
    EXPECT_NE(strstr(status.Buffer(), "\"Hip joint\" written as \"Hip_joint\""), nullptr);
    ASSERT_TRUE(writer.FileCreate((folder / "out.bvh").c_str()));
    KStreamOptionsQov other;
    EXPECT_FALSE(writer.Write(scene, &other));
    EXPECT_EQ(writer.GetLastErrorID(), KQovWriter::eStreamOptionsNotSet);
    scene->GetRootNode()->AddChild(manager.CreateNode("Other"));
    EXPECT_FALSE(writer.Write(scene, &options));
    EXPECT_EQ(writer.GetLastErrorID(), KQovWriter::eFileNotCreated);
}

}  // namespace

namespace {

TEST(KQovWriterBvh, ScalingAndTheSceneSpaceOfTheTopNode) {
    // Each joint is written with its ancestors' scaling folded into its offset; setting 13
    // takes the top node globally, which the scene's root (never part of the chain) leaves alone.
    for (int global : {0, 1}) {
        SCOPED_TRACE(global);
        TestScene test;
        KQovObjectManager& manager = test.manager;
        KQovNode* nodes[3] = {KMotionCreateLimbNode(&manager, "Hips"),
                              KMotionCreateLimbNode(&manager, "Knee"),
                              KMotionCreateLimbNode(&manager, "Foot")};
        test.scene->GetRootNode()->SetLocalTranslation(1, 2, 3);
        test.scene->GetRootNode()->AddChild(nodes[0]);
        nodes[0]->AddChild(nodes[1]);
        nodes[1]->AddChild(nodes[2]);
        // Translation, rotation and scaling of each node, on its properties and its channels.
        const double trs[3][9] = {{5, 0, 0, 0, 0, 90, 2, 2, 2},
                                  {0, 10, 0, 30, 20, 0, 0.5, 0.5, 0.5},
                                  {0, 5, 4, 0, 0, 0, 1, 1, 1}};
        for (int j = 0; j < 3; ++j) {
            const double* v = trs[j];
            nodes[j]->SetLocalTranslation(v[0], v[1], v[2]);
            nodes[j]->SetLocalRotation(v[3], v[4], v[5]);
            nodes[j]->SetLocalScaling(v[6], v[7], v[8]);
            KFCurveNode* transform = nodes[j]->GetDefaultTakeNode()->GetRoot()->Find("Transform");
            for (int k = 0; k < 3; ++k)
                transform->Find(k == 0 ? "T" : k == 1 ? "R" : "S")->SetDefaultValues(v + 3 * k, 3);
        }

        TempTestFolder folder;
        const std::string out = folder / "out.bvh";
        KQovWriterBvh writer(&manager);
        std::unique_ptr<KStreamOptions> base(writer.GetWriteOptions());
        auto* options = static_cast<KStreamOptionsMotion*>(base.get());
        options->SetFrameCount(1);
        options->SetSetting(13, global);
        ASSERT_TRUE(writer.FileCreate(out.c_str()));
        ASSERT_TRUE(writer.Write(test.scene, options)) << writer.GetLastErrorString();
        ASSERT_TRUE(writer.FileClose());
        const auto written = TextPositions(out);
        ASSERT_EQ(written.size(), 1u);
        for (int j = 0; j < 3; ++j) {
            const KMatrix m = nodes[j]->GetGlobalMatrixAtTime(options->GetStartTime());
            EXPECT_LT(Distance(written[0][j], {m[3][0], m[3][1], m[3][2]}), 1e-4) << j;
        }
    }
}

// Leaves named as the reader names an end site, two under one joint, and a joint so named
// with a child: one end site a joint at most, every other node a joint (renamed with a
// warning where the reader's end-site name takes its own); read back, every joint has its
// offset and turns as its keys say, and every end site stands where its node stood.
TEST(KQovWriterBvh, NodesNamedAsEndSitesStayJointsOfTheirOwn) {
    TestScene test;
    auto add = [&](KQovNode* parent, const char* name, const KVector4& offset, int keyed) {
        KQovNode* node = KMotionCreateLimbNode(&test.manager, name);
        KMotionSetRestTransform(node, offset, KVector4());
        parent->AddChild(node);
        if (keyed >= 0) {
            node->AddTakeNode("take");
            node->SetCurrentTakeNode("take");
            KFCurve* curve = keyed == 0   ? node->GetCurrentTakeNode()->GetRotationX()
                             : keyed == 1 ? node->GetCurrentTakeNode()->GetRotationY()
                                          : node->GetCurrentTakeNode()->GetRotationZ();
            curve->PrepareKeys(3);
            for (int f = 0; f < 3; ++f)
                curve->KeySet(f, KTime(KTime::kOneSecond * f), float(20 * f + 10 * keyed));
            curve->CommitKeys(3);
        }
        return node;
    };
    KQovNode* hip = add(test.scene->GetRootNode(), "Hip", {0, 90, 0}, 2);
    add(hip, "Hip_End", {0, 0, 5}, -1);
    add(hip, "Hip_End", {3, 0, 0}, -1);
    KQovNode* knee = add(hip, "Knee", {0, -40, 0}, 0);
    add(add(knee, "Knee_End", {0, -35, 2}, 1), "Toe", {0, 0, 9}, -1);
    add(knee, "Knee_End", {4, -30, 0}, -1);
    // The name each node reads back with, in the order of a walk, and whether it is an end site.
    const std::vector<std::pair<std::string, bool>> names = {
        {"Hip", false},        {"Hip_End", true}, {"Hip_End_1", false}, {"Knee", false},
        {"Knee_End_1", false}, {"Toe", false},    {"Knee_End", true}};

    TempTestFolder folder;
    const std::string out = folder / "ends.bvh";
    KQovWriterBvh writer(&test.manager);
    std::unique_ptr<KStreamOptions> base(writer.GetWriteOptions());
    auto* options = static_cast<KStreamOptionsMotion*>(base.get());
    options->SetFrameRate(0, 2.0);
    options->SetFrameCount(5);
    ASSERT_TRUE(writer.FileCreate(out.c_str()));
    ASSERT_TRUE(writer.Write(test.scene, options)) << writer.GetLastErrorString();
    ASSERT_TRUE(writer.FileClose());
    KString status;
    writer.GetStatusText(status);
    for (const char* renamed :
         {"\"Hip_End\" written as \"Hip_End_1\"", "\"Knee_End\" written as \"Knee_End_1\""})
        EXPECT_NE(std::string(status.Buffer()).find(renamed), std::string::npos) << status.Buffer();

    TestScene back;
    KQovReaderBvh reader(&back.manager);
    ASSERT_TRUE(reader.FileOpen(out.c_str()));
    std::unique_ptr<KStreamOptions> read(reader.GetReadOptions(true));
    static_cast<KStreamOptionsMotion*>(read.get())->SetSetting(8, 0);
    ASSERT_TRUE(reader.Read(back.scene, read.get())) << reader.GetLastErrorString();
    std::vector<KQovNode*> sources, backs;
    Walk(hip, sources);
    Walk(back.scene->GetRootNode()->GetChild(0), backs);
    ASSERT_EQ(backs.size(), 9u);  // and the end sites of the leaf joints
    for (size_t i = 0, j = 0; i < sources.size(); ++i, ++j) {
        while (j < backs.size() && backs[j]->GetNameWithoutPrefix() != names[i].first.c_str()) ++j;
        ASSERT_LT(j, backs.size()) << names[i].first;
        EXPECT_EQ(backs[j]->GetChildCount() == 0, names[i].second) << names[i].first;
        for (int f = 0; f < 5; ++f) {
            const KTime at = KTime(KTime::kOneSecond / 2 * f);
            const KMatrix want = sources[i]->GetLocalMatrix(at);
            const KMatrix got = backs[j]->GetLocalMatrix(at);
            for (int r = 0; r < 4; ++r)
                for (int c = 0; c < 3; ++c)
                    EXPECT_NEAR(got[r][c], want[r][c], 1e-5) << names[i].first << " " << f;
        }
    }
}

}  // namespace

namespace {

TEST(KQovReaderBvh, RotationAxisPointsAtTheOnlyChild) {
    // The end site's offset; the hips point at the hand, (1, 2, 3), in every case.
    for (const char* end : {"0 0 1", "-4 0 0", "0 3 0", "2 -1 0.5"}) {
        SCOPED_TRACE(end);
        TempTestFolder folder;
        const std::string path = folder / "axis.bvh";
        std::ofstream(path, std::ios::binary)
            << Replaced(kHeader, "OFFSET 0 0 1", std::string("OFFSET ") + end)
            << "MOTION\nFrames: 1\nFrame Time: 0.04\n0 0 0 0 0 0 0 0 0\n";
        TestScene test;
        KQovReaderBvh reader(&test.manager);
        ASSERT_TRUE(reader.FileOpen(path.c_str()));
        std::unique_ptr<KStreamOptions> options(reader.GetReadOptions(true));
        ASSERT_TRUE(reader.Read(test.scene, options.get()));
        KQovNode* hips = test.scene->GetRootNode()->GetChild(0)->GetChild(0);
        std::istringstream words(end);
        Vec3 tip;
        words >> tip[0] >> tip[1] >> tip[2];
        const struct {
            KQovNode* node;
            Vec3 toward;
        } joints[] = {{hips, {1, 2, 3}}, {hips->GetChild(0), tip}};
        for (const auto& joint : joints) {
            const KVector4 axis = KQovLimitsUtility(&joint.node->GetLimits()).GetRotationAxis();
            const double angles[3] = {axis[0], axis[1], axis[2]};
            const Vec3 x = Apply(EulerXYZ(angles), {1, 0, 0});
            const double length = Distance(joint.toward, {0, 0, 0});
            const Vec3 unit = {joint.toward[0] / length, joint.toward[1] / length,
                               joint.toward[2] / length};
            EXPECT_LT(Distance(x, unit), 1e-9);
        }
        // The end site has no child: no axis.
        const KVector4 none =
            KQovLimitsUtility(&hips->GetChild(0)->GetChild(0)->GetLimits()).GetRotationAxis();
        EXPECT_EQ(none[0] * none[0] + none[1] * none[1] + none[2] * none[2], 0.0);
    }
}

}  // namespace

namespace {

// The options scan stops at once when the file does not start with its hierarchy: a file of
// anything else, however long, is not searched for a motion section.
TEST(KMotionFileBvh, OptionsNeedTheHierarchyFirst) {
    const std::string good = std::string(kHeader) + "MOTION\nFrames: 2\nFrame Time: 0.04\n";
    struct Case {
        std::string text;
        bool ok;
    } cases[] = {
        {good, true},
        {"\n\n" + good, true},
        {"MOTION\nFrames: 2\nFrame Time: 0.04\n", false},
        {"junk\n" + good, false},
        {std::string(100000, 'x') + "\nMOTION\nFrames: 2\nFrame Time: 0.04\n", false},
    };
    TempTestFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        const std::string path = folder / "options.bvh";
        ASSERT_TRUE(WriteText(path, c.text));
        KMotionFileBvh file(false);
        ASSERT_EQ(file.Open(path.c_str(), "r"), 0);
        KStreamOptionsMotion options;
        EXPECT_EQ(file.ReadOptions(options), c.ok);
    }
}

// A chain of `depth` joints one unit apart along Z, written as BVH into `out`.
bool WriteChain(int depth, const std::string& out) {
    TestScene test;
    KQovNode* below = nullptr;
    for (int i = depth; i-- > 0;) {
        KQovNode* node = KMotionCreateLimbNode(&test.manager, ("J" + std::to_string(i)).c_str());
        KMotionSetRestTransform(node, KVector4(0, 0, i > 0 ? 1 : 0), KVector4());
        if (below) node->AddChild(below);
        below = node;
    }
    test.scene->GetRootNode()->AddChild(below);
    KQovWriterBvh writer(&test.manager);
    std::unique_ptr<KStreamOptions> base(writer.GetWriteOptions());
    static_cast<KStreamOptionsMotion&>(*base).SetFrameCount(1);
    return writer.FileCreate(out.c_str()) && writer.Write(test.scene, base.get()) &&
           writer.FileClose();
}

// The widest indentation of a text's lines, in blanks.
size_t WidestIndent(const std::string& text) {
    size_t widest = 0;
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size());
        widest = std::max(widest, std::min(text.find_first_not_of(' ', at), end) - at);
        at = end + 1;
    }
    return widest;
}

// Joints nested deeper than the indentation goes stand at its deepest level, and the file
// reads back with each joint below the one before: a file linear in its joints.
TEST(KQovWriterBvh, IndentationStopsAtAFixedDepth) {
    TempTestFolder folder;
    const int maxIndent = KMotionFile::kMaxIndent;
    for (const int depth : {maxIndent - 2, maxIndent + 40}) {
        SCOPED_TRACE(depth);
        const std::string out = folder / "chain.bvh";
        ASSERT_TRUE(WriteChain(depth, out));
        const std::string text = ReadText(out);
        // The end site's OFFSET line sits two levels below the last joint's header.
        EXPECT_EQ(WidestIndent(text), size_t(2 * std::min(depth + 1, maxIndent)));
        KMotionFileBvh file(false);
        ASSERT_EQ(file.Open(out.c_str(), "r"), 0);
        ASSERT_TRUE(file.ReadHierarchy());
        ASSERT_EQ(file.GetJoints().size(), size_t(depth + 1));
        const KBvhJoint* joint = file.GetJoints().back().get();
        int above = 0;
        for (; joint->parent; joint = joint->parent) ++above;
        EXPECT_EQ(above, depth);
        EXPECT_EQ(file.GetJoints()[size_t(depth - 1)]->offset[2], 1.0);
    }
}

// A skeleton deeper than a small call stack allows a recursion through is written with its
// joints nested as deep as the scene, each block closed.
TEST(KQovWriterBvh, DeepSkeletonsAreWrittenWithoutDeepStack) {
    const int depth = 3000;
    TestScene test;
    KQovNode* below = nullptr;
    for (int i = depth; i-- > 0;) {
        KQovNode* node = KMotionCreateLimbNode(&test.manager, ("J" + std::to_string(i)).c_str());
        if (below) node->AddChild(below);
        below = node;
    }
    test.scene->GetRootNode()->AddChild(below);
    TempTestFolder folder;
    const std::string out = folder / "deep.bvh";
    ASSERT_TRUE(RunOnSmallStack(
        [&] {
            KQovWriterBvh writer(&test.manager);
            std::unique_ptr<KStreamOptions> base(writer.GetWriteOptions());
            auto* options = static_cast<KStreamOptionsMotion*>(base.get());
            options->SetFrameCount(1);
            ASSERT_TRUE(writer.FileCreate(out.c_str()));
            ASSERT_TRUE(writer.Write(test.scene, options)) << writer.GetLastErrorString();
            ASSERT_TRUE(writer.FileClose());
        },
        size_t(128) << 10));
    const std::string text = ReadText(out);
    size_t opened = 0, closed = 0, joints = 0, at = 0;
    int level = 0, deepest = 0;
    for (char c : text) {
        if (c == '{') deepest = std::max(deepest, ++level), ++opened;
        if (c == '}') --level, ++closed;
    }
    while ((at = text.find("JOINT J", at)) != std::string::npos) ++joints, ++at;
    EXPECT_EQ(opened, closed);
    EXPECT_EQ(joints, size_t(depth - 1));
    // The root, its joints and the end site.
    EXPECT_EQ(deepest, depth + 1);
    EXPECT_NE(text.find("ROOT J0\n{\n  OFFSET"), std::string::npos);
}

}  // namespace
