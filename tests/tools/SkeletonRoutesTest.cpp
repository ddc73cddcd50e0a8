// Every skeleton file, made here or real, through qovtool into every skeleton format: directly,
// and through a QOV file written binary and ASCII. Each result is read by the independent
// readings of IndependentReaders.h (the text parsed and the joints placed by forward kinematics
// of the test's own) and must put every joint of the source where the source's own reading
// puts it, at every frame, with the same frame count and rate, to the printed precision. Then
// what a BVH copy keeps of its hierarchy, and `info` on an Acclaim motion file.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iomanip>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ConversionTestUtil.h"
#include "IndependentReaders.h"
#include "QovtoolProcess.h"
#include "animation/KFCurve.h"
#include "attributes/KQovLimitsUtility.h"
#include "common/TempTestFolder.h"
#include "formats/motion/KMotionSceneTools.h"
#include "formats/motion/KQovMotionTextIO.h"
#include "scene/KQovTakeInfo.h"

using namespace independent;
using namespace qovtoolprocess;

namespace {

// Six significant digits per written number, along a chain of joints: a few parts in 10^5 of
// the skeleton's extent. A joint that lost a rest rotation or an offset is centimetres off.
constexpr double kPrinted = 3e-5;

std::string Extension(const std::string& path) {
    return Lower(path.substr(path.rfind('.') + 1));
}

std::string WithExtension(const std::string& path, const std::string& extension) {
    return path.substr(0, path.rfind('.') + 1) + extension;
}

// The independent reading of a file; an Acclaim motion file with its skeleton file.
Motion Read(const std::string& path, const std::string& skeleton,
            std::vector<std::string>* withoutChannels = nullptr) {
    const std::string extension = Extension(path);
    if (extension == "bvh") return ReadBvh(path);
    if (extension == "htr") return ReadHtr(path);
    if (extension == "amc") return ReadAsfAmc(skeleton, path, withoutChannels);
    Motion none;
    none.error = "no independent reading of " + extension;
    return none;
}

// A BVH clip with end sites, joints turning in several channel orders (one past 90 degrees) and
// a joint below the root that moves along its own translation channels; `besideJoints` gives
// Chest an end site of its own beside its joints.
std::string BvhFixture(int frames, const char* frameTime = "0.04", bool besideJoints = false) {
    std::ostringstream s;
    s << "HIERARCHY\nROOT Hips\n{\n  OFFSET 0 0 0\n"
         "  CHANNELS 6 Xposition Yposition Zposition Zrotation Xrotation Yrotation\n"
         "  JOINT Chest\n  {\n    OFFSET 0 10 1\n    CHANNELS 3 Xrotation Yrotation Zrotation\n"
      << (besideJoints ? "    End Site\n    {\n      OFFSET 3 2 1\n    }\n" : "")
      << "    JOINT Neck\n    {\n      OFFSET 0 12 0\n"
         "      CHANNELS 6 Xposition Yposition Zposition Yrotation Xrotation Zrotation\n"
         "      End Site\n      {\n        OFFSET 0 6 2\n      }\n    }\n"
         "    JOINT LArm\n    {\n      OFFSET 8 9 0\n"
         "      CHANNELS 3 Zrotation Yrotation Xrotation\n"
         "      JOINT LHand\n      {\n        OFFSET 15 0 0\n"
         "        CHANNELS 3 Yrotation Zrotation Xrotation\n"
         "        End Site\n        {\n          OFFSET 7 -1 0.5\n        }\n      }\n    }\n"
         "  }\n  JOINT Leg\n  {\n    OFFSET -5 -4 0\n    CHANNELS 3 Zrotation Xrotation Yrotation\n"
         "    End Site\n    {\n      OFFSET 0 -40 3\n    }\n  }\n}\n"
      << "MOTION\nFrames: " << frames << "\nFrame Time: " << frameTime << "\n";
    s << std::fixed << std::setprecision(3);
    for (int f = 0; f < frames; ++f) {
        const double a = 0.3 * f;
        const double values[] = {
            3 * std::sin(a),         90 + 2 * std::cos(a),   0.8 * f,                  // Hips
            20 * std::sin(a),        10 + 15 * std::cos(a),  -30 * std::sin(0.5 * a),  //
            12 * std::sin(a + 1),    -8 * std::cos(a),       25 * std::sin(0.7 * a),   // Chest
            0.5 * std::sin(a),       12 + std::cos(a),       0.3 * f,                  // Neck
            40 * std::sin(a),        15 * std::cos(a),       -10 * std::sin(a),        //
            110 * std::sin(0.4 * a), 30 * std::cos(a),       45 * std::sin(a),         // LArm
            -60 * std::sin(a),       35 * std::cos(0.6 * a), 70 * std::sin(a + 2),     // LHand
            25 * std::sin(a),        -50 * std::cos(a),      5 * std::sin(a)};         // Leg
        for (double v : values) s << v << ' ';
        s << '\n';
    }
    return s.str();
}

// Position and rotation channels in subsets and orders of their own: a root that only turns
// (standing at its offset), joints moving along Y, along Z, and only moving.
const char kBvhSubsets[] =
    "HIERARCHY\nROOT Hips\n{\nOFFSET 1 80 3\nCHANNELS 3 Zrotation Xrotation Yrotation\n"
    "JOINT Spine\n{\nOFFSET 0 10 0\nCHANNELS 4 Yposition Zrotation Xrotation Yrotation\n"
    "JOINT Head\n{\nOFFSET 0 8 1\nCHANNELS 2 Xrotation Zposition\n"
    "End Site\n{\nOFFSET 0 5 0\n}\n}\n}\n"
    "JOINT Leg\n{\nOFFSET 3 -4 0\nCHANNELS 3 Xposition Yposition Zposition\n"
    "End Site\n{\nOFFSET 0 -30 2\n}\n}\n}\nMOTION\nFrames: 3\nFrame Time: 0.04\n"
    "10 -20 30 10 20 -15 30 25 1 3 -4 0\n15 -25 35 11 30 -10 35 35 2 4 -5 1\n"
    "20 -30 40 12 40 -5 40 45 3 5 -6 2\n";

// An HTR capture in millimetres whose segments all have a rest rotation of their own, and whose
// spine also moves along its translation columns; its bones along `boneAxis`.
std::string HtrFixture(int frames, char boneAxis = 'Y') {
    struct Segment {
        const char* name;
        const char* parent;
        double base[7];
    } segments[] = {
        {"Pelvis", "GLOBAL", {0, 900, 0, 10, 20, 30, 100}},
        {"Spine", "Pelvis", {0, 100, 0, -15, 5, 40, 300}},
        {"Head", "Spine", {10, 300, 5, 25, -35, 10, 150}},
        {"LThigh", "Pelvis", {90, -20, 0, 170, 10, -5, 420}},
        {"LShin", "LThigh", {0, 420, 0, -20, 30, 15, 400}},
        {"RThigh", "Pelvis", {-90, -20, 10, 160, -25, 8, 430}},
    };
    std::ostringstream s;
    s << "[Header]\nFileType htr\nDataType HTRS\nFileVersion 1\nNumSegments 6\nNumFrames " << frames
      << "\nDataFrameRate 50\nEulerRotationOrder ZYX\nCalibrationUnits mm\n"
         "RotationUnits Degrees\nGlobalAxisofGravity Y\nBoneLengthAxis "
      << boneAxis << "\nScaleFactor 1.0\n[SegmentNames&Hierarchy]\n";
    for (const Segment& g : segments) s << g.name << '\t' << g.parent << '\n';
    s << "[BasePosition]\n";
    for (const Segment& g : segments) {
        s << g.name;
        for (double v : g.base) s << '\t' << v;
        s << '\n';
    }
    s << std::fixed << std::setprecision(3);
    for (size_t k = 0; k < sizeof segments / sizeof segments[0]; ++k) {
        s << '[' << segments[k].name << "]\n";
        for (int f = 0; f < frames; ++f) {
            const double a = 0.25 * f + double(k);
            const bool pelvis = k == 0, spine = k == 1;
            s << f + 1 << '\t'
              << (pelvis  ? 40 * std::sin(a)
                  : spine ? 3 * std::sin(a)
                          : 0.0)
              << '\t'
              << (pelvis  ? 5 * f
                  : spine ? 2 * std::cos(a)
                          : 0.0)
              << '\t' << (pelvis ? -20 * std::cos(a) : 0.0) << '\t' << 30 * std::sin(a) << '\t'
              << 20 * std::cos(1.3 * a) << '\t' << 45 * std::sin(0.7 * a) << "\t1.0\n";
        }
    }
    s << "[EndOfFile]\n";
    return s.str();
}

// An Acclaim skeleton in a length unit of its own, with bone axes, dof subsets, limits (read and
// dropped) and a bone without degrees of freedom; its motion at 60 frames a second.
std::string AsfFixture() {
    return ":version 1.10\n:name Rig\n:units\n  mass 1.0\n  length 0.45\n  angle deg\n"
           ":documentation\n  made by the test\n:root\n  order TX TY TZ RX RY RZ\n  axis XYZ\n"
           "  position 0 0 0\n  orientation 0 0 0\n:bonedata\n"
           "  begin\n    id 1\n    name hip\n    direction 1 0 0\n    length 2\n"
           "    axis 0 0 0 XYZ\n  end\n"
           "  begin\n    id 2\n    name thigh\n    direction 0 -1 0\n    length 15\n"
           "    axis 0 0 20 XYZ\n    dof rx ry rz\n    limits (-160.0 20.0)\n"
           "           (-70.0 70.0)\n           (-60.0 70.0)\n  end\n"
           "  begin\n    id 3\n    name shin\n    direction 0.1 -0.99 0\n    length 14\n"
           "    axis 10 0 20 XYZ\n    dof rx\n    limits (-10.0 170.0)\n  end\n"
           "  begin\n    id 4\n    name back\n    direction 0 1 0\n    length 6\n"
           "    axis 0 0 0 XYZ\n    dof rx ry rz\n    limits (-inf inf) (-inf inf) (-inf inf)\n"
           "  end\n"
           "  begin\n    id 5\n    name neck\n    direction 0 0.9 0.3\n    length 4\n"
           "    axis 30 -20 10 XYZ\n    dof rx rz\n  end\n"
           ":hierarchy\n  begin\n    root hip back\n    hip thigh\n    thigh shin\n"
           "    back neck\n  end\n";
}

// Its frames numbered 1, 1 + step, 1 + 2 step ...; without a rate line when `step` is not 1.
std::string AmcFixture(int frames, int step = 1) {
    std::ostringstream s;
    s << ":FULLY-SPECIFIED\n:DEGREES\n" << (step == 1 ? ":SAMPLES-PER-SECOND 60\n" : "")
      << std::fixed << std::setprecision(3);
    for (int f = 0; f < frames; ++f) {
        const double a = 0.35 * f;
        s << f * step + 1 << "\nroot " << 4 * std::sin(a) << ' ' << 30 + std::cos(a) << ' ' << 0.6 * f
          << ' ' << 15 * std::sin(a) << ' ' << -25 * std::cos(a) << ' ' << 10 * std::sin(2 * a)
          << "\nthigh " << 50 * std::sin(a) << ' ' << 20 * std::cos(a) << ' ' << -15 * std::sin(a)
          << "\nshin " << 60 + 50 * std::sin(a) << "\nback " << 10 * std::cos(a) << ' '
          << 30 * std::sin(a) << ' ' << 5 * std::cos(0.5 * a) << "\nneck " << 20 * std::sin(a)
          << ' ' << -35 * std::cos(a) << '\n';
    }
    return s.str();
}

// Markers as Acclaim bones, as the writers write them: bones of no length pointing nowhere,
// placed and turned by their channels alone; the motion gives m4 no line.
std::string MarkerAsfFixture() {
    std::ostringstream s;
    s << ":version 1.10\n:name ASF\n:units\n  mass 1\n  length 1\n  angle deg\n:root\n"
         "  axis xyz\n  order  tx ty tz rx ry rz\n  position 0 0 0\n  orientation 0 0 0\n"
         ":bonedata\n";
    for (int m = 1; m <= 4; ++m)
        s << "  begin\n    id " << m << "\n    name m" << m
          << "\n    direction 0 0 0\n    length 0\n    axis 0 -0 0 xyz\n"
             "    dof tx ty tz rx ry rz\n  end\n";
    s << ":hierarchy\n  begin\n    root m1 m2 m3 m4\n  end\n";
    return s.str();
}

std::string MarkerAmcFixture(int frames) {
    std::ostringstream s;
    s << ":SAMPLES-PER-SECOND 50\n:FULLY-SPECIFIED\n:DEGREES\n";
    for (int f = 0; f < frames; ++f) {
        s << f + 1 << "\nroot 0 0 0 0 0 0\n";
        for (int m = 1; m <= 3; ++m)
            s << 'm' << m << ' ' << -2.5 * m + f << ' ' << 14 + m << ' ' << 0.9 * m << " 0 0 0\n";
    }
    return s.str();
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

struct Source {
    const char* name;      // of the test
    const char* file;      // below the test data, or made by the test in its folder
    const char* skeleton;  // the skeleton file of a real Acclaim motion file
    int frames;            // the first frames of a long real capture taken; 0: all. A
                           // made file: its frame count (0: the fixture's own)
    const char* frameTime = nullptr;  // a BVH file made here: `frames` frames of this time
    bool directOnly = false;          // no QOV file between: what only the reader decides
    int frameStep = 1;                // a made AMC file: its frame numbers this far apart
};

void PrintTo(const Source& source, std::ostream* out) {
    *out << source.file;
}

// The capture's 2752 frames cost a minute through the eleven conversions: its first 300 frames
// are taken, every joint of it turning (RealFileConversionTest takes the whole file into BVH
// and back). So are the Acclaim walk's first 150 of 597 frames (taken whole the same way).
const Source kSources[] = {
    {"BvhWithEndSites", "made.bvh", nullptr, 0},
    {"HtrWithRestRotations", "made.htr", nullptr, 0},
    {"HtrBoneAxisX", "made_x.htr", nullptr, 4},
    {"HtrBoneAxisZ", "made_z.htr", nullptr, 4},
    {"AsfAmcWithLimits", "made.amc", nullptr, 0},
    {"RealBvhCapture", "bvh/01_01.bvh", nullptr, 300},
    {"RealBvhSinusoid", "bvh/sinusoidal.bvh", nullptr, 0},
    {"RealHtr", "htr/egnaro_skel_anim.htr", nullptr, 0},
    {"RealAsfAmc", "asf/11_01.amc", "asf/11.asf", 150},
    // Markers written as bones: each stays, where its frames put it (or at rest without any);
    // with one frame too.
    {"AmcOfMarkers", "markers.amc", nullptr, 3},
    {"AmcOfMarkersOneFrame", "markers.amc", nullptr, 1},
    // An end site beside joints: a node of its own, kept in every format.
    {"BvhEndSiteBesideJoints", "beside.bvh", nullptr, 6},
    // Rates that divide 30: through QOV at their own rate, no frames made up between.
    {"Bvh10Hz", "made.bvh", nullptr, 5, "0.1"},
    {"Bvh15Hz", "made.bvh", nullptr, 5, "0.0666667"},
    {"Bvh5Hz", "made.bvh", nullptr, 4, "0.2"},
    {"Bvh1Hz", "made.bvh", nullptr, 3, "1"},
    // Below one frame a second: kept, where HTR (whole rates from 1) refuses it.
    {"BvhHalfHz", "made.bvh", nullptr, 3, "2"},
    // Position channels in any subset: every one moves its joint.
    {"BvhPositionSubsets", "subsets.bvh", nullptr, 3, nullptr, true},
    // Its take is named as the scene's default one: written under a name of its own.
    {"BvhNamedDefault", "Default.bvh", nullptr, 4, "0.0333333"},
    // Frames 1, 3, 5 at 30 fps: five frames, through QOV as directly, never three at 15.
    {"AmcEverySecondFrame", "gapped.amc", nullptr, 3, nullptr, false, 2},
};

// The real BVH file with its first `frames` frames only.
std::string FirstFrames(const std::string& path, int frames, const std::string& out) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream copy;
    std::string line;
    int left = -1;
    while (std::getline(in, line) && left != 0) {
        if (line.compare(0, 7, "Frames:") == 0) {
            copy << "Frames: " << frames << "\n";
            continue;
        }
        if (left > 0) --left;
        if (line.compare(0, 11, "Frame Time:") == 0) left = frames;
        copy << line << "\n";
    }
    WriteText(out, copy.str());
    return out;
}

// The real AMC file with its first `frames` frames only: each frame begins with a line holding
// its number alone.
std::string AmcFirstFrames(const std::string& path, int frames, const std::string& out) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream copy;
    int begun = 0;
    for (std::string line; std::getline(in, line);) {
        const std::string number = Trimmed(line);
        if (!number.empty() && number.find_first_not_of("0123456789") == std::string::npos &&
            ++begun > frames)
            break;
        copy << line << "\n";
    }
    WriteText(out, copy.str());
    return out;
}

// The source file of a row: the real one, or the one made for it in `folder`.
std::string MakeSource(const Source& source, const TempTestFolder& folder) {
    const std::string file = source.file;
    if (file.find('/') != std::string::npos) {
        const std::string real = Data(file);
        if (source.frames <= 0 || !Exists(real)) return real;
        if (Extension(real) == "amc")
            return AmcFirstFrames(real, source.frames, folder / "first.amc");
        return FirstFrames(real, source.frames, folder / "first.bvh");
    }
    const std::string path = folder / file;
    if (file == "beside.bvh")
        WriteText(path, BvhFixture(source.frames, "0.04", true));
    else if (file == "subsets.bvh")
        WriteText(path, kBvhSubsets);
    else if (Extension(path) == "bvh")
        WriteText(path,
                  source.frameTime ? BvhFixture(source.frames, source.frameTime) : BvhFixture(40));
    if (Extension(path) == "htr") {
        const size_t axis = file.find('_');
        WriteText(path,
                  HtrFixture(source.frames > 0 ? source.frames : 30,
                             axis == std::string::npos ? 'Y' : char(std::toupper(file[axis + 1]))));
    }
    if (Extension(path) == "amc" && file == "markers.amc") {
        WriteText(path, MarkerAmcFixture(source.frames));
        WriteText(WithExtension(path, "asf"), MarkerAsfFixture());
    } else if (Extension(path) == "amc") {
        WriteText(path, source.frameStep > 1 ? AmcFixture(source.frames, source.frameStep)
                                             : AmcFixture(24));
        WriteText(WithExtension(path, "asf"), AsfFixture());
    }
    return path;
}

// `got` puts every joint of `expected` where `expected` does, at every frame, with its frame
// count and rate. The top joint of an Acclaim file is "root"; the names in `mayGo` (bones
// without channels, which the skeleton reader folds into their children) need not come back.
// With a `step`, the frames of `expected` are every step-th of `got`.
void ExpectSameJoints(const Motion& expected, const Motion& got,
                      const std::vector<std::string>& mayGo, bool topIsRoot, int step = 1) {
    ASSERT_EQ(got.error, "");
    ASSERT_EQ(got.frames.size(), (expected.frames.size() - 1) * size_t(step) + 1);
    if (expected.rate > 0.0) {
        EXPECT_NEAR(got.rate, expected.rate, expected.rate * 1e-5);
    }
    double extent = 1.0;
    for (const auto& frame : expected.frames)
        for (const Vec3& p : frame)
            for (double v : p) extent = std::max(extent, std::fabs(v));
    double worst = 0.0;
    std::string where;
    size_t compared = 0;
    for (size_t n = 0; n < expected.names.size(); ++n) {
        const std::string name = n == 0 && topIsRoot ? "root" : expected.names[n];
        const int k = got.Index(name);
        if (k < 0) {
            EXPECT_NE(std::find(mayGo.begin(), mayGo.end(), name), mayGo.end())
                << name << " did not come back";
            continue;
        }
        for (size_t f = 0; f < expected.frames.size(); ++f)
            for (size_t i = 0; i < 3; ++i) {
                const double d = std::fabs(expected.frames[f][n][i] -
                                           got.frames[f * size_t(step)][size_t(k)][i]);
                if (d > worst) {
                    worst = d;
                    where = name + " at frame " + std::to_string(f);
                }
                ++compared;
            }
    }
    EXPECT_GT(compared, 0u);
    EXPECT_LE(worst, kPrinted * extent) << where << ", of " << compared << " coordinates";
}

// An HTR file whose base positions are the source's turns every segment as the source does, at
// every frame: the global turns of the segments of both readings agree.
void ExpectSameTurns(const std::string& source, const std::string& htr) {
    std::vector<std::vector<Mat3>> expected, got;
    const Motion a = ReadHtr(source, &expected), b = ReadHtr(htr, &got);
    ASSERT_EQ(b.error, "");
    ASSERT_EQ(got.size(), expected.size());
    double worst = 0.0;
    std::string where;
    for (size_t n = 0; n < expected.front().size(); ++n) {
        const int k = b.Index(a.names[n]);
        ASSERT_GE(k, 0) << a.names[n];
        for (size_t f = 0; f < expected.size(); ++f)
            for (size_t r = 0; r < 3; ++r)
                for (size_t c = 0; c < 3; ++c) {
                    const double d = std::fabs(expected[f][n][r][c] - got[f][size_t(k)][r][c]);
                    if (d > worst) worst = d, where = a.names[n] + " at frame " + std::to_string(f);
                }
    }
    EXPECT_LE(worst, 1e-4) << where;
}

class SkeletonRoutes : public ::testing::TestWithParam<Source> {};

// A into B directly, and A into QOV (binary and ASCII) and that into B, for B each skeleton
// format.
TEST_P(SkeletonRoutes, EveryJointAtEveryFrame) {
    ASSERT_TRUE(Exists(Tool())) << "qovtool is not built: " << Tool();
    const Source& source = GetParam();
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string in = MakeSource(source, folder);
    ASSERT_TRUE(Exists(in)) << "test data missing: " << in;
    const std::string skeleton = source.skeleton          ? Data(source.skeleton)
                                 : Extension(in) == "amc" ? WithExtension(in, "asf")
                                                          : "";
    std::vector<std::string> mayGo;
    Motion expected = Read(in, skeleton, &mayGo);
    // An AMC file without its rate reads at 30 fps.
    if (Extension(in) == "amc" && expected.rate <= 0.0) expected.rate = 30.0;
    ASSERT_EQ(expected.error, "");
    ASSERT_FALSE(expected.frames.empty());
    if (source.frames > 0) {
        ASSERT_EQ(expected.frames.size(), size_t(source.frames));
    }
    std::vector<std::string> withSkeleton;
    if (source.skeleton) withSkeleton = {"--skeleton", skeleton};

    struct Route {
        std::string middle;  // the QOV file between, or none
        const char* flag;
    } routes[] = {{"", ""},
                  {folder / "binary.qov", "--binary"},
                  {folder / "ascii.qov", "--ascii"},
                  {folder / "v5.qov", "--v5"}};
    // Through a version-5 file only the made HTR captures: what the older layout keeps of
    // a segment's rest frame and bone.
    const bool madeHtr =
        Extension(in) == "htr" && std::string(source.file).find('/') == std::string::npos;
    std::string output;
    // What each target got directly: frames between the source's must come through QOV alike.
    std::map<std::string, Motion> direct;
    for (const Route& route : routes) {
        if (route.middle.empty() || (route.flag == std::string("--v5") && !madeHtr) ||
            source.directOnly)
            continue;
        std::vector<std::string> arguments{"convert", in, route.middle, route.flag};
        arguments.insert(arguments.end(), withSkeleton.begin(), withSkeleton.end());
        ASSERT_EQ(RunTool(arguments, output), 0) << output;
    }
    for (const Route& route : routes) {
        if ((route.flag == std::string("--v5") && !madeHtr) ||
            (source.directOnly && !route.middle.empty()))
            continue;
        for (const std::string target : {"bvh", "htr", "amc"}) {
            const std::string out =
                folder /
                ((route.middle.empty() ? "direct" : std::string(route.flag + 2)) + "." + target);
            SCOPED_TRACE(std::string(source.file) + " -> " +
                         (route.middle.empty() ? "" : std::string(route.flag + 2) + " QOV -> ") +
                         target);
            std::vector<std::string> arguments{"convert", route.middle.empty() ? in : route.middle,
                                               out};
            if (route.middle.empty())
                arguments.insert(arguments.end(), withSkeleton.begin(), withSkeleton.end());
            if (target == std::string("htr") && expected.rate > 0.0 && expected.rate < 1.0) {
                EXPECT_EQ(RunTool(arguments, output), 1) << output;
                EXPECT_NE(output.find("An HTR file holds frame rates of 1 a second and above; "
                                      "the scene's is 0.5 a second"),
                          std::string::npos)
                    << output;
                EXPECT_FALSE(Exists(out));
                continue;
            }
            ASSERT_EQ(RunTool(arguments, output), 0) << output;
            const Motion got = Read(out, WithExtension(out, "asf"));
            ExpectSameJoints(expected, got, mayGo, target == "amc", source.frameStep);
            if (route.middle.empty())
                direct[target] = got;
            else if (source.frameStep > 1)
                ExpectSameJoints(direct[target], got, {}, false);
            if (Extension(in) == "htr" && target == "htr") ExpectSameTurns(in, out);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, SkeletonRoutes, ::testing::ValuesIn(kSources),
                         [](const ::testing::TestParamInfo<Source>& info) {
                             return std::string(info.param.name);
                         });

// The hierarchy of a BVH file as its text has it: each ROOT, JOINT and End Site with its
// parent, offset and channel count.
struct BvhNode {
    std::string kind, name;
    int parent;
    double offset[3];
    int channels;
};

// The same kind and parent, and the same name but for an End Site (which has none of its own).
void ExpectSamePlace(const BvhNode& got, const BvhNode& expected) {
    EXPECT_EQ(got.kind, expected.kind);
    EXPECT_EQ(got.parent, expected.parent);
    if (expected.kind != "End") {
        EXPECT_EQ(got.name, expected.name);
    }
}

std::vector<BvhNode> BvhHierarchy(const std::string& path) {
    std::vector<BvhNode> nodes;
    std::vector<int> open;
    std::ifstream in(path);
    for (std::string word; in >> word && word != "MOTION";) {
        if (word == "ROOT" || word == "JOINT" || word == "End") {
            BvhNode node{word, "", open.empty() ? -1 : open.back(), {0, 0, 0}, 0};
            in >> node.name;
            nodes.push_back(node);
        } else if (word == "{") {
            open.push_back(int(nodes.size()) - 1);
        } else if (word == "}") {
            if (!open.empty()) open.pop_back();
        } else if (word == "OFFSET" && !nodes.empty()) {
            for (double& v : nodes.back().offset) in >> v;
        } else if (word == "CHANNELS" && !nodes.empty()) {
            in >> nodes.back().channels;
        }
    }
    return nodes;
}

// A BVH file copied, and the copy copied: the same joints and end sites under the same
// parents, with the same offsets and channel counts (a joint moving along its translation
// channels keeps them).
TEST(SkeletonRoutesBvh, ACopyKeepsItsJointsEndSitesAndOffsets) {
    ASSERT_TRUE(Exists(Tool())) << "qovtool is not built: " << Tool();
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    WriteText(folder / "made.bvh", BvhFixture(10));
    for (const std::string& in : {folder / "made.bvh", Data("bvh/01_01.bvh")}) {
        SCOPED_TRACE(in);
        ASSERT_TRUE(Exists(in)) << "test data missing: " << in;
        const std::vector<BvhNode> expected = BvhHierarchy(in);
        ASSERT_GT(expected.size(), 5u);
        std::string output;
        ASSERT_EQ(RunTool({"convert", in, folder / "copy.bvh"}, output), 0) << output;
        ASSERT_EQ(RunTool({"convert", folder / "copy.bvh", folder / "again.bvh"}, output), 0)
            << output;
        for (const char* copy : {"copy.bvh", "again.bvh"}) {
            SCOPED_TRACE(copy);
            const std::vector<BvhNode> got = BvhHierarchy(folder / copy);
            ASSERT_EQ(got.size(), expected.size());
            for (size_t i = 0; i < got.size(); ++i) {
                SCOPED_TRACE(expected[i].kind + " " + expected[i].name);
                ExpectSamePlace(got[i], expected[i]);
                for (int a = 0; a < 3; ++a) EXPECT_EQ(got[i].offset[a], expected[i].offset[a]);
                EXPECT_EQ(got[i].channels, expected[i].channels);
            }
        }
    }
}

// Which leaves of a scene the BVH writer makes end sites: the end node a skeleton reader gives
// a joint (its name and "_End"), also beside other joints, and one named the older way
// ("_EndSite"); a leaf named so under another joint stays a joint with an end site of its own.
TEST(SkeletonRoutesBvh, EndNodesOfTheReadersBecomeEndSites) {
    conversiontest::TestScene t;
    KQovNode* hips = KMotionCreateLimbNode(&t.manager, "Hips");
    t.scene->GetRootNode()->AddChild(hips);
    auto add = [&](KQovNode* parent, const char* name, double y) {
        KQovNode* node = KMotionCreateLimbNode(&t.manager, name);
        KMotionSetRestTransform(node, KVector4(0, y, 0), KVector4());
        parent->AddChild(node);
        return node;
    };
    add(add(hips, "Arm", 10), "Arm_End", 3);
    add(add(hips, "Leg", -10), "Leg_EndSite", -4);
    add(add(hips, "Neck", 5), "Head_End", 2);
    add(hips, "Hips_End", 1);
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    std::string error;
    ASSERT_TRUE(conversiontest::WriteScene(t, folder / "scene.bvh", error)) << error;
    std::vector<std::string> kinds;
    for (const BvhNode& node : BvhHierarchy(folder / "scene.bvh"))
        kinds.push_back(node.kind == "End" ? "End" : node.name);
    const std::vector<std::string> expected{"Hips", "Arm",      "End", "Leg", "End",
                                            "Neck", "Head_End", "End", "End"};
    EXPECT_EQ(kinds, expected);
    const std::vector<BvhNode> nodes = BvhHierarchy(folder / "scene.bvh");
    ASSERT_EQ(nodes.size(), expected.size());
    EXPECT_EQ(nodes[2].offset[1], 3.0);
    EXPECT_EQ(nodes[4].offset[1], -4.0);
    EXPECT_EQ(nodes[8].offset[1], 1.0);
    EXPECT_EQ(nodes[8].parent, 0);
}

// "NumSegments" of an HTR file; -1 without one.
int HtrSegmentCount(const std::string& path) {
    std::ifstream in(path);
    for (std::string word; in >> word;)
        if (word == "NumSegments") {
            int count = -1;
            in >> count;
            return count;
        }
    return -1;
}

// A BVH file into HTR and back, directly and with a QOV file (binary, ASCII) before and after
// the HTR file: each end site rides on its joint's bone (one HTR segment per joint) and comes
// back as an End Site, with the joints' names and offsets, and every joint and end site where
// the source puts it at every frame.
TEST(SkeletonRoutesBvh, ThroughHtrKeepsJointsEndSitesAndOffsets) {
    ASSERT_TRUE(Exists(Tool())) << "qovtool is not built: " << Tool();
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    WriteText(folder / "made.bvh", BvhFixture(20));
    const std::string real = Data("bvh/01_01.bvh");
    ASSERT_TRUE(Exists(real)) << "test data missing: " << real;
    for (const std::string& in :
         {folder / "made.bvh", FirstFrames(real, 60, folder / "real.bvh")}) {
        SCOPED_TRACE(in);
        const std::vector<BvhNode> expected = BvhHierarchy(in);
        const Motion expectedMotion = ReadBvh(in);
        ASSERT_EQ(expectedMotion.error, "");
        const int joints = int(std::count_if(expected.begin(), expected.end(),
                                             [](const BvhNode& n) { return n.kind != "End"; }));
        ASSERT_GT(joints, 5);
        double extent = 1.0;
        for (const BvhNode& node : expected)
            for (double v : node.offset) extent = std::max(extent, std::fabs(v));
        for (const char* flag : {"", "--binary", "--ascii"}) {
            SCOPED_TRACE(*flag ? flag : "direct");
            // in -> [QOV ->] HTR [-> QOV] -> BVH
            std::vector<std::string> steps{in};
            if (*flag) steps.push_back(folder / "before.qov");
            steps.push_back(folder / "middle.htr");
            if (*flag) steps.push_back(folder / "after.qov");
            steps.push_back(folder / "out.bvh");
            std::string output;
            for (size_t i = 1; i < steps.size(); ++i) {
                std::vector<std::string> arguments{"convert", steps[i - 1], steps[i]};
                if (Extension(steps[i]) == "qov") arguments.push_back(flag);
                ASSERT_EQ(RunTool(arguments, output), 0) << output;
            }
            EXPECT_EQ(HtrSegmentCount(folder / "middle.htr"), joints);
            const std::vector<BvhNode> got = BvhHierarchy(folder / "out.bvh");
            ASSERT_EQ(got.size(), expected.size());
            for (size_t i = 0; i < got.size(); ++i) {
                SCOPED_TRACE(expected[i].kind + " " + expected[i].name);
                ExpectSamePlace(got[i], expected[i]);
                // A joint's own position channels replace its offset.
                if (expected[i].channels == 6) continue;
                for (int a = 0; a < 3; ++a)
                    EXPECT_NEAR(got[i].offset[a], expected[i].offset[a], kPrinted * extent);
            }
            ExpectSameJoints(expectedMotion, ReadBvh(folder / "out.bvh"), {}, false);
        }
    }
}

// An Acclaim skeleton's bone ends ride on their bones in HTR as in BVH: one segment per joint.
TEST(SkeletonRoutesHtr, AcclaimBoneEndsAreNoSegments) {
    ASSERT_TRUE(Exists(Tool())) << "qovtool is not built: " << Tool();
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    WriteText(folder / "made.amc", AmcFixture(4));
    WriteText(folder / "made.asf", AsfFixture());
    std::string output;
    for (const char* out : {"made.htr", "made.bvh"})
        ASSERT_EQ(RunTool({"convert", folder / "made.amc", folder / out}, output), 0) << output;
    const std::vector<BvhNode> bvh = BvhHierarchy(folder / "made.bvh");
    const auto joints =
        std::count_if(bvh.begin(), bvh.end(), [](const BvhNode& n) { return n.kind != "End"; });
    EXPECT_GT(joints, 3);
    EXPECT_EQ(HtrSegmentCount(folder / "made.htr"), joints);
}

// Which end nodes the HTR writer takes for its joint's bone end: a reader's end node that is
// its joint's only child, along the joint's rotation axis or off it (the bone then runs to it).
// One beside another joint and one keyed stay segments of their own, and every node stays
// where the scene has it.
TEST(SkeletonRoutesHtr, EndNodesOnTheirBoneBecomeBoneLengths) {
    conversiontest::TestScene t;
    KQovNode* hips = KMotionCreateLimbNode(&t.manager, "Hips");
    t.scene->GetRootNode()->AddChild(hips);
    auto add = [&](KQovNode* parent, const char* name, const KVector4& at) {
        KQovNode* node = KMotionCreateLimbNode(&t.manager, name);
        KMotionSetRestTransform(node, at, KVector4());
        parent->AddChild(node);
        return node;
    };
    // The bone of a joint runs along its limits' rotation axis, as the BVH reader sets it.
    auto bone = [](KQovNode* node, const KVector4& toward) {
        KQovLimitsUtility(&node->GetLimits()).SetRotationAxis(KMotionAxisAngles(toward));
        return node;
    };
    KQovNode* arm = bone(add(hips, "Arm", KVector4(10, 0, 0)), KVector4(3, 4, 0));
    add(arm, "Arm_End", KVector4(3, 4, 0));
    KQovNode* leg = bone(add(hips, "Leg", KVector4(0, -10, 0)), KVector4(0, -1, 0));
    add(leg, "Leg_End", KVector4(2, 0, 0));
    KQovNode* neck = add(hips, "Neck", KVector4(0, 5, 0));
    add(neck, "Neck_End", KVector4(0, 0, 0));
    add(neck, "Head", KVector4(0, 2, 1));
    KQovNode* tail = bone(add(hips, "Tail", KVector4(0, 0, -4)), KVector4(0, 0, -1));
    KQovNode* tailEnd = add(tail, "Tail_End", KVector4(0, 0, -2));
    tailEnd->AddTakeNode("moving");
    tailEnd->SetCurrentTakeNode("moving");
    KFCurve* z = tailEnd->GetCurrentTakeNode()->GetTranslationZ();
    ASSERT_NE(z, nullptr);
    z->PrepareKeys(2);
    KMotionSetKey(z, 0, KTime(), -2.0);
    KMotionSetKey(z, 1, KTIME_ONE_SECOND, -3.0);
    z->CommitKeys(2);
    KQovTakeInfo take;
    take.name = take.secondName = "moving";
    take.localTimeSpan.Set(KTime(), KTIME_ONE_SECOND);
    take.referenceTimeSpan = take.localTimeSpan;
    t.scene->SetTakeInfo(take);
    t.scene->SetCurrentTake("moving");
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    std::string error;
    ASSERT_TRUE(conversiontest::WriteScene(t, folder / "scene.htr", error)) << error;
    const Motion got = ReadHtr(folder / "scene.htr");
    ASSERT_EQ(got.error, "");
    const std::vector<std::string> names{
        "Hips",     "Arm",     "Leg",     "Neck",         "Neck_End", "Head",        "Tail",
        "Tail_End", "Arm_End", "Leg_End", "Neck_End_End", "Head_End", "Tail_End_End"};
    EXPECT_EQ(got.names, names);
    const std::vector<std::pair<const char*, Vec3>> at{
        {"Arm", {10, 0, 0}},     {"Arm_End", {13, 4, 0}}, {"Leg_End", {2, -10, 0}},
        {"Neck_End", {0, 5, 0}}, {"Head", {0, 7, 1}},     {"Tail_End", {0, 0, -6}}};
    for (const auto& [name, where] : at) {
        SCOPED_TRACE(name);
        const int k = got.Index(name);
        ASSERT_GE(k, 0);
        for (size_t a = 0; a < 3; ++a) EXPECT_NEAR(got.frames[0][size_t(k)][a], where[a], 1e-4);
    }
}

// `info` reads an Acclaim motion file on the skeleton that `convert` would find, or the one
// named with --skeleton, and counts its joints as the skeleton reader keeps them.
TEST(SkeletonRoutesInfo, AnAcclaimMotionFileIsReadOnItsSkeleton) {
    ASSERT_TRUE(Exists(Tool())) << "qovtool is not built: " << Tool();
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string asf = Data("asf/11.asf"), amc = Data("asf/11_01.amc");
    ASSERT_TRUE(Exists(asf) && Exists(amc)) << "test data missing: " << asf << ", " << amc;
    std::vector<std::string> folded;
    const Motion reading = ReadAsfAmc(asf, amc, &folded);
    ASSERT_EQ(reading.error, "");
    const std::string joints = std::to_string(reading.names.size() - folded.size());
    const std::string frames = std::to_string(reading.frames.size()) + " frames";
    {
        std::ifstream from(amc, std::ios::binary);
        std::ofstream(folder / "walk.amc", std::ios::binary) << from.rdbuf();
    }
    struct Case {
        std::vector<std::string> arguments;
        int exit;
        std::vector<std::string> said;
    } cases[] = {
        {{"info", folder / "walk.amc"}, 1, {"walk.asf", "--skeleton"}},
        {{"info", folder / "walk.amc", "--skeleton", asf},
         0,
         {"format: Acclaim AMC", frames, "  skeleton: " + joints + "\n"}},
        {{"info", folder / "walk.amc", "--skeleton", folder / "none.asf"}, 1, {"none.asf"}},
        {{"info", Data("bvh/sinusoidal.bvh"), "--skeleton", asf}, 2, {"--skeleton"}},
    };
    for (const Case& c : cases) {
        std::string trace;
        for (const std::string& a : c.arguments) trace += a + " ";
        SCOPED_TRACE(trace);
        std::string output;
        EXPECT_EQ(RunTool(c.arguments, output), c.exit) << output;
        for (const std::string& text : c.said)
            EXPECT_NE(output.find(text), std::string::npos) << output;
    }
    // The skeleton beside the motion file by its name is found without being named.
    {
        std::ifstream from(asf, std::ios::binary);
        std::ofstream(folder / "walk.asf", std::ios::binary) << from.rdbuf();
    }
    std::string output;
    EXPECT_EQ(RunTool({"info", folder / "walk.amc"}, output), 0) << output;
    EXPECT_NE(output.find("  skeleton: " + joints + "\n"), std::string::npos) << output;
}

}  // namespace
