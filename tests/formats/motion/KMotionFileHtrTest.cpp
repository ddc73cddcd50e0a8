#include "formats/motion/KMotionSceneTools.h"
#include "formats/motion/htr/KMotionFileHtr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "MotionTestHelpers.h"
#include "common/SmallStack.h"
#include "common/TempTestFolder.h"
#include "formats/motion/htr/KQovWriterHtr.h"
#include "foundation/KPath.h"
#include "foundation/KRegistry.h"
#include "io/KQovFormatFactory.h"
#include "io/KQovImporter.h"
#include "io/KQovReader.h"
#include "io/KQovWriter.h"
#include "io/KStreamOptionsMotion.h"
#include "io/KStreamOptionsQov.h"
#include "scene/KQovNode.h"
#include "scene/KQovPose.h"

using namespace motiontest;

namespace {

// Global segment positions per frame (centimetres) in table order, from the text alone
// (the independent reading); behind the segments come the ends of the leaf segments.
// `namesOut` gets the names, the ends' with "_End"; `turnsOut` each segment's global
// rotation per frame.
std::vector<std::vector<Vec3>> TextPositions(const std::string& path,
                                             std::vector<std::string>* namesOut = nullptr,
                                             std::vector<std::vector<Mat3>>* turnsOut = nullptr) {
    independent::Motion motion = independent::ReadHtr(path, turnsOut);
    if (namesOut) *namesOut = motion.names;
    return motion.frames;
}

// Global positions of frame f from the segment table (parents come first in these files).
std::vector<Vec3> TablePositions(const KMotionFileHtr& file, size_t f) {
    std::map<const KHtrSegment*, std::pair<Vec3, Mat3>> global;
    std::vector<Vec3> positions;
    for (const auto& segment : file.GetSegments()) {
        const KVector4& tk = segment->translations[f];
        const KVector4& rk = segment->rotations[f];
        const double e[3] = {rk[0], rk[1], rk[2]};
        Vec3 t{tk[0], tk[1], tk[2]};
        Mat3 r = EulerXYZ(e);
        auto parent = global.find(file.FindSegment(segment->parentName.c_str()));
        if (parent != global.end()) {
            t = Add(parent->second.first, Apply(parent->second.second, t));
            r = Mul(parent->second.second, r);
        }
        global[segment.get()] = {t, r};
        positions.push_back(t);
    }
    return positions;
}

// Reads the whole file, asking for at most `frames` frames.
bool ReadAll(KMotionFileHtr& file, const std::string& path, KStreamOptionsMotion& options,
             int frames) {
    if (file.Open(path.c_str(), "r") != 0 || !file.ReadOptions(options)) return false;
    options.SetFrameCount(std::min(frames, options.GetFrameCount()));
    return file.ReadHierarchy(nullptr) && file.ReadAnimation(options);
}

TEST(KMotionFileHtr, RealFileMatchesIndependentKinematicsAndSurvivesARoundTrip) {
    const std::string path = std::string(QOV_TESTDATA_DIR) + "/htr/egnaro_skel_anim.htr";
    ASSERT_TRUE(std::ifstream(path).good()) << "test data missing: " << path;
    KMotionFileHtr file(false);
    KStreamOptionsMotion options;
    ASSERT_TRUE(ReadAll(file, path, options, 1000));
    ASSERT_EQ(file.GetSegments().size(), 89u);
    ASSERT_EQ(options.GetFrameCount(), 81);
    EXPECT_DOUBLE_EQ(options.GetFrameRate(), 24.0);
    EXPECT_EQ(file.FindRootSegment(), 0);
    const auto expected = TextPositions(path);
    ASSERT_EQ(expected.size(), 81u);

    TempTestFolder folder;
    const std::string out = folder / "out.htr";
    KMotionFileHtr writer(false);
    ASSERT_EQ(writer.Open(out.c_str(), "w"), 0);
    for (const auto& s : file.GetSegments())
        *writer.AddSegment(s->name.c_str(), s->parentName.c_str()) = *s;
    writer.WriteSegments(81, 24);
    ASSERT_EQ(writer.Close(), 0);
    const auto again = TextPositions(out);
    ASSERT_EQ(again.size(), 81u);

    double worst = 0.0, worstTrip = 0.0;
    for (size_t f = 0; f < expected.size(); ++f) {
        const auto table = TablePositions(file, f);
        for (size_t j = 0; j < table.size(); ++j) {
            worst = std::max(worst, Distance(table[j], expected[f][j]));
            worstTrip = std::max(worstTrip, Distance(again[f][j], expected[f][j]));
        }
    }
    EXPECT_LT(worst, 1e-3);
    EXPECT_LT(worstTrip, 2e-3);
}

// A parent is written by name wherever its segment stands in the table, before or after its
// child; one that names no segment is written as the global frame.
TEST(KMotionFileHtr, HierarchyLinesNameParentsWhereverTheyStand) {
    struct Case {
        std::vector<std::pair<const char*, const char*>> segments;  // name, parent
        const char* lines;
    } cases[] = {
        {{{"Hips", ""}, {"Hand", "Hips"}}, "Hips\tGLOBAL\nHand\tHips\n"},
        {{{"Hand", "Hips"}, {"Hips", nullptr}}, "Hand\tHips\nHips\tGLOBAL\n"},
        {{{"Hips", "Pelvis"}, {"Hand", "hips"}}, "Hips\tGLOBAL\nHand\tGLOBAL\n"},
        {{{"Loop", "Loop"}}, "Loop\tLoop\n"},
    };
    TempTestFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines);
        const std::string out = folder / "hierarchy.htr";
        KMotionFileHtr writer(false);
        ASSERT_EQ(writer.Open(out.c_str(), "w"), 0);
        for (const auto& [name, parent] : c.segments) writer.AddSegment(name, parent);
        writer.WriteSegments(0, 30);
        ASSERT_EQ(writer.Close(), 0);
        std::stringstream text;
        text << std::ifstream(out, std::ios::binary).rdbuf();
        const std::string all = text.str(), begin = "[SegmentNames&Hierarchy]\n";
        const size_t from = all.find(begin) + begin.size();
        EXPECT_EQ(all.substr(from, all.find("[BasePosition]") - from), c.lines);
    }
}

// Float keys and the constant key reducer (band 0.009 degrees and 0.009 cm) that the import
// runs over every curve: on this clip up to 0.00099 cm.
constexpr double kImportTolerance = 1e-3;
// Six significant digits in the written file.
constexpr double kWrittenDigits = 5e-4;

const char kGood[] =
    "[Header]\nFileType htr\nDataType HTRS\nNumSegments 2\nNumFrames 2\nDataFrameRate 30\n"
    "EulerRotationOrder ZYX\nCalibrationUnits mm\nRotationUnits Degrees\nBoneLengthAxis Y\n"
    "ScaleFactor 1.0\n[SegmentNames&Hierarchy]\nHips\tGLOBAL\nHand\tHips\n[BasePosition]\n"
    "Hips\t0 0 0\t0 0 0\t100\nHand\t10 20 30\t0 0 90\t50\n[Hips]\n1 0 0 0 0 0 0 1.0\n"
    "2 0 0 0 0 0 0 1.0\n[Hand]\n1 0 0 0 0 0 0 1.0\n2 5 0 0 0 0 0 1.0\n[EndOfFile]\n";

TEST(KMotionFileHtr, MalformedFilesFailCleanly) {
    auto replace = [&](const std::string& from, const std::string& to) {
        return Replaced(kGood, from, to);
    };
    struct Case {
        std::string text;
        bool hierarchy, animation;
        int root;
    } cases[] = {
        {kGood, true, true, 0},
        {replace("ScaleFactor 1.0", "ScaleFactor 0"), false, false, -1},
        {replace("DataFrameRate 30", "DataFrameRate 0"), false, false, -1},
        {replace("NumFrames 2", "NumFrames -1"), false, false, -1},
        {replace("NumSegments 2", "NumSegments 0"), false, false, -1},
        {replace("NumSegments 2", "NumSegments 3"), false, false, -1},
        {replace("[Header]", "[Head]"), false, false, -1},
        {replace("[SegmentNames&Hierarchy]\nHips\tGLOBAL\nHand\tHips\n", ""), false, false, -1},
        {replace("Hand\t10 20 30", "Hund\t10 20 30"), false, false, -1},
        {replace("Hand\t10 20 30\t0 0 90\t50", "Hand\t10 20"), false, false, -1},
        {replace("[Hips]\n1 0 0 0 0 0 0 1.0\n2", "[EndOfFile]\n"), false, false, 0},
        {replace("[Hips]", "[hips]"), true, false, 0},
        {replace("[Hand]\n1 0 0 0 0 0 0 1.0\n", "[Hips]\n1 0 0 0 0 0 0 1.0\n"), true, false, 0},
        {replace("2 5 0 0 0 0 0 1.0", "2 5 0 0"), true, false, 0},
        {replace("Hips\tGLOBAL", "Hips\tHand"), true, true, -1},
        {replace("Hand\tHips", "Hand\tGLOBAL"), true, true, -1},
        {std::string(kGood).substr(0, 200), false, false, -1},
    };
    TempTestFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string path = folder / "bad.htr";
        std::ofstream(path, std::ios::binary) << c.text;
        KMotionFileHtr file(false);
        KStreamOptionsMotion options;
        options.SetFrameCount(10);
        ASSERT_EQ(file.Open(path.c_str(), "r"), 0);
        ASSERT_EQ(file.ReadHierarchy(&options), c.hierarchy);
        if (!c.hierarchy) continue;
        EXPECT_EQ(file.ReadAnimation(options), c.animation);
        EXPECT_EQ(file.FindRootSegment(), c.root);
    }
}

TEST(KMotionFileHtr, UnitsAxesAndFrameCounts) {
    struct Case {
        const char* from;
        const char* to;
        int frames;    // asked for
        double handX;  // Hand's local X at the last frame read, centimetres
        double handZ;  // Hand's local Euler Z, degrees
        int boneAxis;
    } cases[] = {
        {"CalibrationUnits mm", "CalibrationUnits mm", 10, 1.5, 90, 1},
        {"CalibrationUnits mm", "CalibrationUnits m", 10, 1.5, 90, 1},
        {"CalibrationUnits mm", "CalibrationUnits in", 10, 38.1, 90, 1},
        {"CalibrationUnits mm", "CalibrationUnits cm", 1, 10, 90, 1},
        {"0 0 90\t50", "0 0 1.5707963\t50\n", 10, 1.5, 90, 1},
        {"BoneLengthAxis Y", "BoneLengthAxis Z", 10, 1.5, 90, 2},
    };
    TempTestFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.to);
        std::string text = kGood;
        text.replace(text.find(c.from), strlen(c.from), c.to);
        if (strstr(c.to, "1.5707963")) text.replace(text.find("Degrees"), 7, "Radians");
        const std::string path = folder / "units.htr";
        std::ofstream(path, std::ios::binary) << text;
        KMotionFileHtr file(false);
        KStreamOptionsMotion options;
        ASSERT_TRUE(ReadAll(file, path, options, c.frames));
        const KHtrSegment& hand = *file.FindSegment("Hand");
        ASSERT_EQ(hand.translations.size(), size_t(std::min(c.frames, 2)));
        EXPECT_NEAR(hand.translations.back()[0], c.handX, 1e-9);
        EXPECT_NEAR(hand.rotations.back()[2], c.handZ, 1e-5);
        EXPECT_EQ(file.GetBoneAxis(), c.boneAxis);
        KVector4 x = file.GetBoneAxisMatrix().GetRow(0);
        EXPECT_NEAR(x[c.boneAxis], 1.0, 1e-12);
    }
}

// The settings file says whether the reader takes the rest orientations off, for the life of
// this object.
class MinimizeSetting {
public:
    explicit MinimizeSetting(bool on) : mSaved(KGetSettingsFolder()) {
        char computer[256] = "?";
        KGetLocalComputerName(computer, sizeof computer);
        KSetSettingsFolder(mFolder.path().c_str());
        std::ofstream(mFolder / (std::string(computer) + ".Application.txt"))
            << "[MotionImportHTR]\nMinimizeRotationOffset = " << (on ? "yes" : "No") << "\n";
    }
    ~MinimizeSetting() { KSetSettingsFolder(mSaved.c_str()); }

private:
    TempTestFolder mFolder;
    std::string mSaved;
};

// Reads `path` through the format table (id 4) into `test`.
bool Import(TestScene& test, const std::string& path, int reference,
            std::unique_ptr<KStreamOptions>& options, int* error = nullptr) {
    std::unique_ptr<KQovReader> reader(KQovMakeFormatReader(4, &test.manager));
    if (!reader || !reader->FileOpen(path.c_str())) return false;
    options.reset(reader->GetReadOptions(true));
    if (!options) {
        if (error) *error = reader->GetLastErrorID();
        // The header cannot be read: the reading proper must refuse it too.
        auto motion = std::make_unique<KStreamOptionsMotion>();
        motion->SetFrameCount(10);
        options = std::move(motion);
    }
    static_cast<KStreamOptionsMotion&>(*options).SetSetting(8, reference);
    const bool ok = reader->Read(test.scene, options.get());
    if (error) *error = ok ? -1 : reader->GetLastErrorID();
    return ok;
}

// Worst distance between the scene's global node positions and those of the text, per frame.
double CompareScene(TestScene& test, const KStreamOptionsMotion& options,
                    const std::vector<std::vector<Vec3>>& expected,
                    const std::vector<std::string>& names, size_t& compared) {
    std::map<std::string, KQovNode*> nodes;
    std::vector<KQovNode*> stack{test.scene->GetRootNode()};
    while (!stack.empty()) {
        KQovNode* node = stack.back();
        stack.pop_back();
        nodes[node->GetNameWithoutPrefix().Buffer()] = node;
        for (int i = 0; KQovNode* child = node->GetChild(i); ++i) stack.push_back(child);
    }
    double worst = 0.0;
    compared = 0;
    KTime time = options.GetStartTime();
    for (size_t f = 0; f < expected.size(); ++f, time += options.GetFramePeriod()) {
        for (size_t j = 0; j < names.size(); ++j) {
            auto it = nodes.find(names[j]);
            if (it == nodes.end()) return 1e9;
            const KMatrix m = it->second->GetGlobalMatrixAtTime(time);
            const double d = Distance({m[3][0], m[3][1], m[3][2]}, expected[f][j]);
            worst = std::max(worst, d);
            ++compared;
        }
    }
    return worst;
}

// Writes the scene through the format table (id 6).
bool Export(TestScene& test, const std::string& path, const KStreamOptionsMotion& read) {
    std::unique_ptr<KQovWriter> writer(KQovMakeFormatWriter(6, &test.manager));
    std::unique_ptr<KStreamOptions> base(writer->GetWriteOptions());
    auto& options = static_cast<KStreamOptionsMotion&>(*base);
    options.SetFrameRate(read.GetTimeMode(), read.GetFrameRate());
    options.SetFrameCount(read.GetFrameCount());
    options.SetStartTime(read.GetStartTime());
    return writer->FileCreate(path.c_str()) && writer->Write(test.scene, &options) &&
           writer->FileClose();
}

TEST(KQovReaderHtr, RealFileImportedAndWrittenKeepsJointPositions) {
    const std::string path = std::string(QOV_TESTDATA_DIR) + "/htr/egnaro_skel_anim.htr";
    std::vector<std::string> names;
    const auto expected = TextPositions(path, &names);
    ASSERT_EQ(expected.size(), 81u);
    ASSERT_GT(names.size(), 89u);
    struct Case {
        bool minimize;
        int reference;
    } cases[] = {{true, 0}, {false, 0}, {true, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.minimize << c.reference);
        MinimizeSetting setting(c.minimize);
        TestScene test;
        std::unique_ptr<KStreamOptions> base;
        ASSERT_TRUE(Import(test, path, c.reference, base));
        const auto& options = static_cast<KStreamOptionsMotion&>(*base);
        EXPECT_EQ(options.GetFrameCount(), 81);
        KQovNode* top = test.scene->GetRootNode()->GetChild(0);
        EXPECT_STREQ(top->GetNameWithoutPrefix().Buffer(), c.reference ? "HTR:reference" : "main");
        EXPECT_TRUE(test.scene->GetTakeInfo("egnaro_skel_anim"));
        ASSERT_EQ(test.scene->GetPoseCount(), 1);
        EXPECT_TRUE(test.scene->GetPose(0)->IsRestPose());
        size_t compared = 0;
        EXPECT_LT(CompareScene(test, options, expected, names, compared), kImportTolerance);
        EXPECT_EQ(compared, 81 * names.size());
        if (c.reference) continue;

        // Scene -> file -> the text's own reading, and -> scene again (with the same setting).
        TempTestFolder folder;
        const std::string out = folder / "out.htr";
        ASSERT_TRUE(Export(test, out, options));
        std::vector<std::string> written;
        std::vector<std::vector<Mat3>> turns, turnsAgain;
        TextPositions(path, nullptr, &turns);
        const auto again = TextPositions(out, &written, &turnsAgain);
        ASSERT_EQ(written, names);
        // Whether the reader took the rest orientations off the keys or left them on, every
        // segment turns as in the file (its rest orientation counted once), so the bone ends
        // land where the file has them too.
        const std::vector<std::string>& joints = names;
        double worst = 0.0, worstTurn = 0.0;
        ASSERT_EQ(turnsAgain.size(), turns.size());
        for (size_t f = 0; f < again.size(); ++f) {
            for (size_t j = 0; j < joints.size(); ++j)
                worst = std::max(worst, Distance(again[f][j], expected[f][j]));
            for (size_t j = 0; j < turns[f].size(); ++j)
                for (int r = 0; r < 3; ++r)
                    for (int k = 0; k < 3; ++k)
                        worstTurn = std::max(worstTurn, std::abs(turnsAgain[f][j][r][k] - turns[f][j][r][k]));
        }
        EXPECT_LT(worst, kImportTolerance + kWrittenDigits);
        EXPECT_LT(worstTurn, 1e-3);  // six written digits per angle, down chains of 10 segments
        TestScene second;
        std::unique_ptr<KStreamOptions> reread;
        ASSERT_TRUE(Import(second, out, 0, reread));
        EXPECT_LT(CompareScene(second, static_cast<KStreamOptionsMotion&>(*reread), expected,
                               joints, compared),
                  2 * kImportTolerance + kWrittenDigits);
    }
}

TEST(KQovWriterHtr, AnotherFormatsSceneKeepsItsJointPositions) {
    // A captured clip of another format: no limits, no rest pose, rest turns of its own.
    TestScene test;
    std::unique_ptr<KStreamOptions> read;
    ASSERT_TRUE(ImportCapturedClip(test, 300, read));
    auto& options = static_cast<KStreamOptionsMotion&>(*read);
    TempTestFolder folder;
    const std::string out = folder / "clip.htr";
    ASSERT_TRUE(Export(test, out, options));
    std::vector<std::string> names;
    const auto written = TextPositions(out, &names);
    ASSERT_EQ(written.size(), 300u);
    // Every joint is a segment; the reader's end nodes are their joints' bone ends, which the
    // text's reading names as the scene does.
    EXPECT_NE(ReadText(out).find("NumSegments 31\n"), std::string::npos);
    EXPECT_EQ(names.size(), 38u);
    EXPECT_EQ(std::count_if(names.begin(), names.end(),
                            [](auto& n) { return n.find("_End") != std::string::npos; }),
              7);
    size_t compared = 0;
    EXPECT_LT(CompareScene(test, options, written, names, compared), kWrittenDigits);
    EXPECT_EQ(compared, 300u * 38);
}

TEST(KQovReaderHtr, RefusesBadHeadersAndCycles) {
    auto replace = [&](const std::string& from, const std::string& to) {
        return Replaced(kGood, from, to);
    };
    auto every = [](std::string text, const std::string& from, const std::string& to) {
        for (size_t at; (at = text.find(from)) != std::string::npos;)
            text.replace(at, from.size(), to);
        return text;
    };
    struct Case {
        std::string text;
        int error;  // -1: read
        int nodes;  // below the scene's root
    } cases[] = {
        {kGood, -1, 1},
        {replace("ScaleFactor 1.0", "ScaleFactor 0"), KQovReader::eFileCorrupted, 0},
        {replace("ScaleFactor 1.0", "ScaleFactor -2"), KQovReader::eFileCorrupted, 0},
        {replace("DataFrameRate 30", "DataFrameRate 0"), KQovReader::eFileCorrupted, 0},
        {replace("NumFrames 2", "NumFrames 0"), KQovReader::eFileCorrupted, 0},
        {replace("NumSegments 2", "NumSegments -1"), KQovReader::eFileCorrupted, 0},
        {replace("Hips\tGLOBAL", "Hips\tHand"), KQovReader::eFileCorrupted, 0},
        {replace("Hand\tHips", "Hand\tGLOBAL"), KQovReader::eFileCorrupted, 0},
        {replace("Hand\tHips", "Hand\tHand"), KQovReader::eFileCorrupted, 0},
        // The nodes stay when only the frames are bad.
        {replace("2 5 0 0 0 0 0 1.0", "2 5 0"), KQovReader::eFileCorrupted, 1},
        // Two segments of one name: refused, nothing added.
        {every(kGood, "Hand", "Hips"), KQovReader::eFileCorrupted, 0},
    };
    TempTestFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string path = folder / "bad.htr";
        std::ofstream(path, std::ios::binary) << c.text;
        TestScene test;
        std::unique_ptr<KStreamOptions> options;
        int error = 0;
        EXPECT_EQ(Import(test, path, 0, options, &error), c.error < 0);
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(test.scene->GetRootNode()->GetChildCount(), c.nodes);
    }
}

// A segment's scale factor (the last value of a frame line) the scene cannot keep is named,
// with its count; factors a file's writer rounded off 1 are 1.
TEST(KQovReaderHtr, ScaleFactorsNotKeptAreNamed) {
    const std::string real = std::string(QOV_TESTDATA_DIR) + "/htr/egnaro_skel_anim.htr";
    TempTestFolder folder;
    const std::string scaled = folder / "scaled.htr";
    std::ofstream(scaled, std::ios::binary)
        << Replaced(Replaced(kGood, "2 5 0 0 0 0 0 1.0", "2 5 0 0 0 0 0 1.1539"),
                    "[Hips]\n1 0 0 0 0 0 0 1.0", "[Hips]\n1 0 0 0 0 0 0 0.999999");
    const struct {
        std::string path;
        const char* note;  // null: none
    } cases[] = {
        {scaled, "Segment scale factors other than 1 are not kept (each segment keeps its base "
                 "length): 1 frame of 1 segment, first \"Hand\" 1.1539 at frame 2\n"},
        {real, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        ASSERT_TRUE(std::ifstream(c.path).good()) << "test data missing: " << c.path;
        TestScene test;
        std::unique_ptr<KQovReader> reader(KQovMakeFormatReader(4, &test.manager));
        ASSERT_TRUE(reader->FileOpen(c.path.c_str()));
        std::unique_ptr<KStreamOptions> options(reader->GetReadOptions(true));
        ASSERT_TRUE(options && reader->Read(test.scene, options.get()));
        KString status;
        reader->GetStatusText(status);
        const std::string text = status.Buffer();
        EXPECT_EQ(text.find("scale factors") != std::string::npos, c.note != nullptr) << text;
        if (c.note) {
            EXPECT_NE(text.find(c.note), std::string::npos) << text;
        }
    }
}

TEST(KQovWriterHtr, BasePositionsRatesAndRefusals) {
    TempTestFolder folder;
    const std::string path = folder / "in.htr";
    std::ofstream(path, std::ios::binary) << kGood;
    struct Case {
        int mode;  // time mode of the written take
        double rate;
        const char* written;
    } cases[] = {{0, 30.0, "DataFrameRate 30\n"},
                 {0, 24.0, "DataFrameRate 24\n"},
                 {0, 120.0, "DataFrameRate 120\n"},
                 {0, 29.97, "DataFrameRate 29\n"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        TestScene test;
        std::unique_ptr<KStreamOptions> base;
        ASSERT_TRUE(Import(test, path, 0, base));
        auto& options = static_cast<KStreamOptionsMotion&>(*base);
        options.SetFrameRate(c.mode, c.rate);
        const std::string out = folder / "out.htr";
        ASSERT_TRUE(Export(test, out, options));
        std::ifstream in(out);
        const std::string text((std::istreambuf_iterator<char>(in)), {});
        EXPECT_NE(text.find(c.written), std::string::npos);
        // The rest pose's base positions, in the file's millimetres; the end node is not
        // written; frames count from 1 with the scale column 1.0.
        EXPECT_NE(text.find("Hand\t10\t20\t30\t0\t0\t90\t50\n"), std::string::npos) << text;
        EXPECT_EQ(text.find("Hand_End"), std::string::npos);
        EXPECT_NE(text.find("[Hand]\n1\t"), std::string::npos);
        EXPECT_NE(text.find("\t1.0\n[EndOfFile]"), std::string::npos);
    }

    {
        // The importer picks this reader by the extension.
        TestScene scene;
        KQovImporter importer(&scene.manager);
        ASSERT_TRUE(importer.Initialize(path.c_str()));
        EXPECT_EQ(importer.GetFileFormat(), 4);
        EXPECT_TRUE(importer.Import(scene.scene, nullptr));
        EXPECT_TRUE(scene.scene->GetTakeInfo("in"));
    }

    TestScene test;
    KQovWriterHtr writer(&test.manager);
    KStreamOptionsMotion options;
    EXPECT_FALSE(writer.Write(test.scene, &options));
    EXPECT_EQ(writer.GetLastErrorID(), KQovWriter::eFileNotOpened);
    EXPECT_FALSE(writer.FileCreate((folder / "no/such/folder.htr").c_str()));
    EXPECT_FALSE(writer.IsFileOpen());
    ASSERT_TRUE(writer.FileCreate((folder / "w.htr").c_str()));
    EXPECT_FALSE(writer.Write(test.scene, &options));
    // An empty scene holds nothing the file holds.
    EXPECT_STREQ(writer.GetLastErrorString(),
                 "Nothing to write: an HTR file holds skeletons only, and the scene holds none");
    // A name the reader would split is written changed, with a warning naming it.
    test.scene->GetRootNode()->AddChild(KMotionCreateLimbNode(&test.manager, "two words"));
    int shown = 0;
    options.SetMessageCallback([&](const char*, const char*, const char*, const char*, const char*,
                                   int) { return ++shown; });
    EXPECT_TRUE(writer.Write(test.scene, &options)) << writer.GetLastErrorString();
    EXPECT_EQ(shown, 0);
    KString status;
    writer.GetStatusText(status);
    EXPECT_NE(std::string(status.Buffer()).find("\"two words\" written as \"two_words\""),
              std::string::npos);
    ASSERT_TRUE(writer.FileCreate((folder / "w.htr").c_str()));
    KStreamOptionsQov other;
    EXPECT_FALSE(writer.Write(test.scene, &other));
    EXPECT_EQ(writer.GetLastErrorID(), KQovWriter::eStreamOptionsNotSet);
}

}  // namespace

namespace {

// Segments S0 .. S(n-1), each the parent of the next, with `frames` frames each.
std::string ChainHtr(int count, int frames) {
    std::string text = "[Header]\nFileType htr\nDataType HTRS\nNumSegments " +
                       std::to_string(count) + "\nNumFrames " + std::to_string(frames) +
                       "\nDataFrameRate 30\nEulerRotationOrder ZYX\nCalibrationUnits mm\n"
                       "RotationUnits Degrees\nBoneLengthAxis Y\nScaleFactor 1.0\n"
                       "[SegmentNames&Hierarchy]\n";
    for (int i = 0; i < count; ++i)
        text += "S" + std::to_string(i) + "\t" + (i ? "S" + std::to_string(i - 1) : "GLOBAL") + "\n";
    text += "[BasePosition]\n";
    for (int i = 0; i < count; ++i) text += "S" + std::to_string(i) + "\t0 10 0\t0 0 5\t10\n";
    for (int i = 0; i < count; ++i) {
        text += "[S" + std::to_string(i) + "]\n";
        for (int f = 1; f <= frames; ++f) text += std::to_string(f) + " 0 0 0 0 0 1 1.0\n";
    }
    return text + "[EndOfFile]\n";
}

}  // namespace

// A chain of segments: its root found in linear time whatever its length, and a shorter one
// read into nodes on a small stack with the rest orientations taken off every frame.
TEST(KQovReaderHtr, LongChainsReadInLinearTimeWithoutDeepStack) {
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string longPath = folder / "long.htr";
    ASSERT_TRUE(WriteText(longPath, ChainHtr(50000, 1)));
    KMotionFileHtr file(false);
    KStreamOptionsMotion options;
    ASSERT_EQ(file.Open(longPath.c_str(), "r"), 0);
    ASSERT_TRUE(file.ReadHierarchy(&options));
    EXPECT_EQ(file.FindRootSegment(), 0);

    const int count = 2000;
    const std::string path = folder / "chain.htr";
    ASSERT_TRUE(WriteText(path, ChainHtr(count, 3)));
    ASSERT_TRUE(RunOnSmallStack(
        [&] {
            TestScene test;
            std::unique_ptr<KStreamOptions> read;
            int error = 0;
            ASSERT_TRUE(Import(test, path, 0, read, &error)) << error;
            KQovNode* last = test.scene->GetRootNode()->FindChild("S1999", true);
            ASSERT_NE(last, nullptr);
            int depth = 0;
            for (KQovNode* n = last; n->GetParent(); n = n->GetParent()) ++depth;
            EXPECT_EQ(depth, count);
            // Written back as deep as it was read.
            const std::string out = folder / "chain_out.htr";
            ASSERT_TRUE(Export(test, out, static_cast<const KStreamOptionsMotion&>(*read)));
            KMotionFileHtr back(false);
            KStreamOptionsMotion backOptions;
            ASSERT_EQ(back.Open(out.c_str(), "r"), 0);
            ASSERT_TRUE(back.ReadHierarchy(&backOptions));
            EXPECT_EQ(back.FindRootSegment(), 0);
            test.manager.DestroyScene(test.scene, true);
        },
        size_t(128) << 10));
}
