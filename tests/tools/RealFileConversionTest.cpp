// Every real motion file of the test data through qovtool convert: into its own format, and
// into QOV and back, each result read by the independent readings of IndependentReaders.h and
// compared with the independent reading of the file itself: frame count, rate, names and
// every position of every frame. Then what a user of the tool meets: the skeleton an Acclaim
// motion file needs, input and output naming one file, refusals that say why, progress on a
// terminal only.

#include <gtest/gtest.h>

#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "IndependentReaders.h"
#include "QovtoolProcess.h"
#include "common/TempTestFolder.h"

using namespace independent;

namespace {

using qovtoolprocess::Data;
using qovtoolprocess::Exists;
using qovtoolprocess::RunTool;
using qovtoolprocess::Tool;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

std::string Extension(const std::string& path) {
    return Lower(path.substr(path.rfind('.') + 1));
}

// The independent reading of a file; an Acclaim motion file with its skeleton file.
Motion Read(const std::string& path, const std::string& skeleton = "",
            std::vector<std::string>* withoutChannels = nullptr) {
    const std::string extension = Extension(path);
    if (extension == "bvh") return ReadBvh(path);
    if (extension == "htr") return ReadHtr(path);
    if (extension == "trc") return ReadTrc(path);
    if (extension == "c3d") return ReadC3d(path);
    if (extension == "amc") return ReadAsfAmc(skeleton, path, withoutChannels);
    Motion none;
    none.error = "no independent reading of " + extension;
    return none;
}

bool Unseen(const Vec3& p) {
    return std::isnan(p[0]);
}

// Distances between the seen markers of each frame: what a turn or a mirror of the whole
// capture keeps.
double WorstDistanceChange(const Motion& expected, const Motion& got, size_t count,
                           size_t& compared) {
    double worst = 0.0;
    std::vector<int> in(count);
    for (size_t i = 0; i < count; ++i) in[i] = got.Index(expected.names[i]);
    for (size_t f = 0; f < expected.frames.size(); ++f)
        for (size_t i = 0; i < count; ++i)
            for (size_t j = i + 1; j < count; ++j) {
                const int gi = in[i], gj = in[j];
                if (gi < 0 || gj < 0) continue;
                const Vec3 &a = expected.frames[f][i], &b = expected.frames[f][j];
                const Vec3 &c = got.frames[f][size_t(gi)], &d = got.frames[f][size_t(gj)];
                if (Unseen(a) || Unseen(b) || Unseen(c) || Unseen(d)) continue;
                auto length = [](const Vec3& p, const Vec3& q) {
                    return std::sqrt((p[0] - q[0]) * (p[0] - q[0]) + (p[1] - q[1]) * (p[1] - q[1]) +
                                     (p[2] - q[2]) * (p[2] - q[2]));
                };
                worst = std::max(worst, std::fabs(length(a, b) - length(c, d)));
                ++compared;
            }
    return worst;
}

// `got` holds what `expected` holds: every frame, the rate (when the file states one), each
// name (but those in `mayGo`) and its position at every frame within `tolerance` (or, with
// `upToOrientation`, the distances between markers), seen and unseen alike.
void Compare(const Motion& expected, const Motion& got, double tolerance, size_t names,
             const std::vector<std::string>& mayGo, bool firstFrame, bool upToOrientation) {
    ASSERT_EQ(got.error, "");
    ASSERT_EQ(got.frames.size(), expected.frames.size());
    if (expected.rate > 0.0) {
        EXPECT_NEAR(got.rate, expected.rate, expected.rate * 1e-4);
    }
    if (firstFrame) {
        EXPECT_EQ(got.firstFrame, expected.firstFrame);
    }
    const size_t count = names ? std::min(names, expected.names.size()) : expected.names.size();
    size_t compared = 0, seenMismatches = 0;
    double worst = 0.0;
    std::string worstWhere;
    for (size_t n = 0; n < count; ++n) {
        const std::string& name = expected.names[n];
        const int k = got.Index(name);
        if (k < 0) {
            EXPECT_NE(std::find(mayGo.begin(), mayGo.end(), name), mayGo.end())
                << name << " did not come back";
            continue;
        }
        for (size_t f = 0; f < expected.frames.size(); ++f) {
            const Vec3& a = expected.frames[f][n];
            const Vec3& b = got.frames[f][size_t(k)];
            if (Unseen(a) || Unseen(b)) {
                seenMismatches += Unseen(a) != Unseen(b);
                continue;
            }
            for (int i = 0; upToOrientation ? false : i < 3; ++i) {
                const double d = std::fabs(a[size_t(i)] - b[size_t(i)]);
                if (d > worst) {
                    worst = d;
                    worstWhere = name + " frame " + std::to_string(f);
                }
            }
            ++compared;
        }
    }
    if (upToOrientation) {
        compared = 0;
        worst = WorstDistanceChange(expected, got, count, compared);
        worstWhere = "distances between markers";
    }
    EXPECT_GT(compared, 0u);
    EXPECT_EQ(seenMismatches, 0u);
    EXPECT_LE(worst, tolerance) << "at " << worstWhere << " of " << compared << " positions";
}

// What a conversion is known to lose of a file, and why; each known loss is written here.
enum Known : unsigned {
    kNothing = 0,
    // The C3D reader turns a file whose X_SCREEN is "+Y" so that its screen axes land where
    // the defaults' do, and the writer writes "+X"/"+Z": the numbers come back turned, so
    // positions are compared by the distances between markers.
    kOrientation = 1u << 0,
};

struct RealFile {
    const char* file;      // below the test data
    const char* skeleton;  // the skeleton file of an Acclaim motion file
    double tolerance;      // per coordinate: centimetres for joints, file units for markers
    size_t names;          // the first names compared; 0: all
    unsigned known;
};

// Tolerances: the readers thin constant keys with the constant key reducer, whose band of
// 0.009 cm about a run's first key lets a slowly drifting coordinate come back flat: up to
// twice the band (0.18 mm; 0.21 mm seen, the kept keys' curve bending past it) on a marker,
// about 0.02 cm on the end of a chain of joints. The TRC start frame is not carried (its
// reader takes a start only from a time-code file). Gait.trc's names line names 33 markers
// where its rows hold up to 35.
const RealFile kRealFiles[] = {
    {"bvh/01_01.bvh", nullptr, 0.02, 0, kNothing},
    {"bvh/sinusoidal.bvh", nullptr, 0.02, 0, kNothing},
    {"asf/11_01.amc", "asf/11.asf", 0.02, 0, kNothing},
    {"htr/egnaro_skel_anim.htr", nullptr, 0.02, 0, kNothing},
    {"trc/Gait.trc", nullptr, 0.25, 33, kNothing},
    {"trc/test_file_01.trc", nullptr, 0.25, 0, kNothing},
    {"trc/test_file_05.trc", nullptr, 0.25, 0, kNothing},
    {"c3d/MyCube.c3d", nullptr, 0.25, 0, kNothing},
    {"c3d/badParameterOffset.c3d", nullptr, 0.25, 0, kNothing},
    {"c3d/sample01-Eb015pi.c3d", nullptr, 0.25, 0, kOrientation},
    {"c3d/sample01-Eb015pr.c3d", nullptr, 0.25, 0, kOrientation},
    {"c3d/sample01-Eb015si.c3d", nullptr, 0.25, 0, kOrientation},
    {"c3d/sample01-Eb015sr.c3d", nullptr, 0.25, 0, kOrientation},
    {"c3d/sample01-Eb015vi.c3d", nullptr, 0.25, 0, kOrientation},
    {"c3d/sample01-Eb015vr.c3d", nullptr, 0.25, 0, kOrientation},
    {"c3d/sample02-pc_int.c3d", nullptr, 0.25, 0, kOrientation},
    {"c3d/sample02-pc_real.c3d", nullptr, 0.25, 0, kOrientation},
    {"c3d/sample02-DEC_INT.C3D", nullptr, 0.25, 0, kOrientation},
    {"c3d/sample02-Dec_real.c3d", nullptr, 0.25, 0, kOrientation},
    {"c3d/sample02-sgi_int.c3d", nullptr, 0.25, 0, kOrientation},
    {"c3d/sample02-sgi_real.c3d", nullptr, 0.25, 0, kOrientation},
};

TEST(RealFileConversion, EveryMotionFileKeepsItsFramesRateNamesAndPositions) {
    ASSERT_TRUE(Exists(Tool())) << "qovtool is not built: " << Tool();
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    for (const RealFile& c : kRealFiles) {
        SCOPED_TRACE(c.file);
        const std::string in = Data(c.file);
        ASSERT_TRUE(Exists(in)) << "test data missing: " << in;
        const std::string skeleton = c.skeleton ? Data(c.skeleton) : "";
        std::vector<std::string> mayGo;
        const Motion expected = Read(in, skeleton, &mayGo);
        ASSERT_EQ(expected.error, "");
        ASSERT_FALSE(expected.frames.empty());
        const std::string extension = Extension(in);
        const std::string own = folder / ("own." + extension);
        const std::string middle = folder / "middle.qov";
        const std::string back = folder / ("back." + extension);
        std::vector<std::string> extra;
        if (c.skeleton) extra = {"--skeleton", skeleton};
        struct Step {
            std::string from, to;
            bool skeleton;
        } steps[] = {{in, own, true}, {in, middle, true}, {middle, back, false}};
        for (const Step& step : steps) {
            std::vector<std::string> arguments{"convert", step.from, step.to};
            if (step.skeleton) arguments.insert(arguments.end(), extra.begin(), extra.end());
            std::string output;
            ASSERT_EQ(RunTool(arguments, output), 0) << output;
        }
        for (const std::string& result : {own, back}) {
            SCOPED_TRACE(result);
            const std::string resultSkeleton =
                extension == "amc" ? result.substr(0, result.size() - 3) + "asf" : "";
            // Bones without channels are folded into their children by the skeleton reader.
            Compare(expected, Read(result, resultSkeleton), c.tolerance, c.names, mayGo,
                    extension == "c3d", c.known & kOrientation);
        }
    }
}

// A skeleton file alone: written back and read again, its rest pose is the file's.
TEST(RealFileConversion, ASkeletonFileWritesBack) {
    ASSERT_TRUE(Exists(Tool())) << "qovtool is not built: " << Tool();
    TempTestFolder folder;
    const std::string rest = folder / "rest.amc";
    std::ofstream(rest) << ":FULLY-SPECIFIED\n:DEGREES\n1\n";
    std::string output;
    ASSERT_EQ(RunTool({"convert", Data("asf/11.asf"), folder / "copy.asf"}, output), 0) << output;
    ASSERT_EQ(RunTool({"convert", folder / "copy.asf", folder / "again.asf"}, output), 0) << output;
    std::vector<std::string> mayGo;
    const Motion expected = ReadAsfAmc(Data("asf/11.asf"), rest, &mayGo);
    for (const char* name : {"copy.asf", "again.asf"}) {
        SCOPED_TRACE(name);
        Compare(expected, ReadAsfAmc(folder / name, rest), 1e-3, 0, mayGo, false, false);
    }
}

TEST(RealFileConversion, WhatTheToolRefusesAndSays) {
    ASSERT_TRUE(Exists(Tool())) << "qovtool is not built: " << Tool();
    TempTestFolder folder;
    const std::string amc = folder / "walk.amc";
    {
        std::ifstream from(Data("asf/11_01.amc"), std::ios::binary);
        std::ofstream(amc, std::ios::binary) << from.rdbuf();
    }
    const std::string bvh = folder / "clip.bvh";
    std::string output;
    ASSERT_EQ(RunTool({"convert", Data("bvh/sinusoidal.bvh"), bvh}, output), 0) << output;
    ASSERT_EQ(symlink("clip.bvh", (folder / "link.bvh").c_str()), 0);
    // Acclaim pairs whose two names are one file: the skeleton file a link to the motion file,
    // and a motion file (not there yet) a link to the skeleton file.
    std::ofstream(folder / "sl.amc") << "old";
    ASSERT_EQ(symlink("sl.amc", (folder / "sl.asf").c_str()), 0);
    ASSERT_EQ(symlink("rl.asf", (folder / "rl.amc").c_str()), 0);
    // The skeleton file beside it found only under another case of its name.
    std::ofstream(folder / "sc.amc") << "1\nroot 0 0 0 0 0 0\n";
    ASSERT_EQ(symlink("sc.amc", (folder / "SC.ASF").c_str()), 0);
    std::ifstream original(bvh, std::ios::binary);
    const std::string before((std::istreambuf_iterator<char>(original)), {});
    // OBJ files whose material library is the one their output would write.
    for (const char* name : {"spider.obj", "spider.mtl"}) {
        std::ifstream from(Data(std::string("obj/") + name), std::ios::binary);
        std::ofstream(folder / name, std::ios::binary) << from.rdbuf();
    }
    std::ofstream(folder / "a.obj")
        << "mtllib b.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl M\nf 1 2 3\n";
    std::ofstream(folder / "b.mtl") << "newmtl M\nKd 1 0 0\n";
    const std::string libraries = ReadAll(folder / "spider.mtl") + ReadAll(folder / "b.mtl");

    struct Case {
        std::vector<std::string> arguments;
        int exit;
        std::vector<std::string> said;  // each in what the tool writes
    } cases[] = {
        // The motion file's skeleton: beside it by its own name, else the one its header
        // names; both are named when neither is there.
        {{"convert", amc, folder / "out.bvh"}, 1, {"walk.asf", "rory3.ASF", "--skeleton"}},
        {{"convert", amc, folder / "out.bvh", "--skeleton", folder / "none.asf"}, 1, {"none.asf"}},
        {{"convert", amc, folder / "out.bvh", "--skeleton", Data("asf/11.asf")}, 0, {"out.bvh"}},
        {{"convert", bvh, folder / "out2.bvh", "--skeleton", Data("asf/11.asf")},
         2,
         {"--skeleton"}},
        // One file as input and output, by the same name, through a link, or as the skeleton
        // file that an Acclaim output writes beside itself.
        {{"convert", bvh, bvh}, 1, {"same file"}},
        {{"convert", bvh, folder / "link.bvh"}, 1, {"same file"}},
        {{"convert", folder / "link.bvh", folder / "." + std::string("/clip.bvh")},
         1,
         {"same file"}},
        {{"convert", Data("asf/11.asf"), folder / "11.amc"}, 0, {"11.amc"}},
        {{"convert", folder / "11.asf", folder / "11.amc"}, 1, {"same file"}},
        {{"convert", amc, folder / "11.amc", "--skeleton", folder / "11.asf"}, 1, {"same file"}},
        {{"convert", bvh, folder / "sl.amc"}, 1, {"sl.asf", "same file", "sl.amc"}},
        {{"convert", bvh, folder / "rl.amc"}, 1, {"rl.asf", "same file", "rl.amc"}},
        // Read as well: a skeleton file that is the motion file is not read as a skeleton.
        {{"convert", folder / "sl.amc", folder / "sl.bvh"}, 1, {"sl.asf", "sl.amc", "one file"}},
        {{"info", folder / "sl.amc"}, 1, {"sl.asf", "one file"}},
        {{"convert", folder / "sc.amc", folder / "sc.bvh"}, 1, {"sc.asf", "sc.amc", "one file"}},
        {{"info", amc, "--skeleton", amc}, 1, {"one file"}},
        // One file as what the read used and what the output writes beside itself.
        {{"convert", folder / "spider.obj", folder / "Spider.obj"},
         1,
         {"spider.mtl", "same file", "nothing was written"}},
        {{"convert", folder / "a.obj", folder / "./b.obj"}, 1, {"b.mtl", "same file"}},
        {{"convert", folder / "spider.obj", folder / "c.obj"}, 0, {}},
        // Files that are not what their names say.
        {{"convert", Data("trc/Empty.trc"), folder / "e.trc"}, 1, {"Empty.trc"}},
        {{"convert", Data("trc/Truncated.trc"), folder / "t.trc"}, 1, {"Truncated.trc"}},
        {{"convert", Data("c3d/Empty.c3d"), folder / "e.c3d"}, 1, {"Empty.c3d"}},
        {{"convert", bvh, folder / "out.xyz"}, 1, {"no writer"}},
        // A marker format of a scene without markers: refused, and said.
        {{"convert", bvh, folder / "none.trc"}, 1, {"holds markers only"}},
    };
    for (const Case& c : cases) {
        std::string trace;
        for (const std::string& a : c.arguments) trace += a + " ";
        SCOPED_TRACE(trace);
        EXPECT_EQ(RunTool(c.arguments, output), c.exit) << output;
        for (const std::string& text : c.said)
            EXPECT_NE(output.find(text), std::string::npos) << output;
    }
    // Nothing was written over the input.
    std::ifstream after(bvh, std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(after)), {}), before);
    std::ifstream linked(folder / "sl.amc");
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(linked)), {}), "old");
    EXPECT_FALSE(Exists(folder / "rl.asf"));
    EXPECT_FALSE(Exists(folder / "sl.bvh"));
    EXPECT_EQ(ReadAll(folder / "spider.mtl") + ReadAll(folder / "b.mtl"), libraries);
    EXPECT_FALSE(Exists(folder / "Spider.obj"));
    EXPECT_FALSE(Exists(folder / "b.obj"));

    // A "root" below the skeleton's own root is renamed, saying why; stderr is no terminal
    // here, so a conversion that works writes nothing to it.
    const std::string scene = folder / "two.bvh";
    std::ofstream(scene) << "HIERARCHY\nROOT Hips\n{\n  OFFSET 0 0 0\n  CHANNELS 6 Xposition "
                            "Yposition Zposition Zrotation Xrotation Yrotation\n  JOINT root\n  "
                            "{\n    OFFSET 0 5 0\n    CHANNELS 3 Zrotation Xrotation Yrotation\n "
                            "   End Site\n    {\n      OFFSET 0 5 0\n    }\n  }\n}\nMOTION\n"
                            "Frames: 1\nFrame Time: 0.1\n0 0 0 0 0 0 0 0 0\n";
    EXPECT_EQ(RunTool({"convert", scene, folder / "two.asf"}, output), 0);
    EXPECT_NE(output.find("warning: Node \"root\" written as \"root_1\""), std::string::npos)
        << output;
    EXPECT_EQ(output.find("Out of disk space"), std::string::npos) << output;
    EXPECT_EQ(RunTool({"convert", bvh, folder / "quiet.htr"}, output, true), 0);
    EXPECT_EQ(output, "");
}

// Progress goes to stderr only when it is a terminal: here a pseudo-terminal, which gets a
// line redrawn in place ("\r", a text and a percentage) and cleared at the end.
TEST(RealFileConversion, ProgressIsShownOnATerminal) {
    ASSERT_TRUE(Exists(Tool())) << "qovtool is not built: " << Tool();
    TempTestFolder folder;
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    const std::string in = Data("bvh/01_01.bvh"), out = folder / "clip.htr";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(slave, 2);
        close(master);
        const std::string tool = Tool();
        execl(tool.c_str(), tool.c_str(), "convert", in.c_str(), out.c_str(), (char*)nullptr);
        _exit(127);
    }
    close(slave);
    std::string shown;
    char buffer[4096];
    for (ssize_t got; (got = read(master, buffer, sizeof buffer)) > 0;)
        shown.append(buffer, size_t(got));
    close(master);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << shown;
    for (const char* text : {"\rReading BVH nodes", "%\033[K", "\r\033[K"})
        EXPECT_NE(shown.find(text), std::string::npos) << text;
    EXPECT_EQ(shown.find("qovtool:"), std::string::npos) << shown;
}

}  // namespace
