// TRC files read into scenes as optical markers, and marked nodes written back out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "OpticalTestUtil.h"
#include "common/TempTestFolder.h"
#include "formats/motion/trc/KQovOpticalTrc.h"

namespace {

using motiontest::Replaced;
using namespace optest;

const std::string kTrcFolder = std::string(QOV_TESTDATA_DIR) + "/trc/";

struct Expected {
    int node;        // index below the optical root
    int frame;       // 0-based
    double mm[3];    // the file's millimetres
    double occlusion;
};

struct RealTrc {
    const char* file;
    int nodes, frames;
    double rate, startSeconds;
    const char* names[3];  // first, second and last node
    std::vector<Expected> samples;
};

// Gait.trc names 33 markers while its header claims 66: the reader keeps the names line's
// 33, and the data columns beyond them (up to 105 triples a row) become "*Unnamed_34" on.
TEST(OpticalTrc, RealFilesReadWithNamesFramesAndValues) {
    const RealTrc files[] = {
        {"test_file_01.trc", 2, 4, 60.0, 0.0, {"HeadTop", "ForeHead", "ForeHead"},
         {{0, 0, {-2894.17090, 1663.10840, -3255.51221}, 0.0},
          {1, 3, {-2830.76855, 1535.33289, -3161.00732}, 0.0}}},
        // Type 3: the start stays 0 although the rows count from 228; HED_* are never seen.
        {"test_file_05.trc", 8, 4, 100.0, 0.0, {"PEL_MO", "PEL_MA", "HED_MP"},
         {{0, 0, {240.04201, -1057.66003, 952.25500}, 0.0},
          {3, 3, {241.12875, -986.32684, 1141.13745}, 0.0},
          {7, 2, {0.0, 0.0, 0.0}, 1.0}}},
        {"Gait.trc", 105, 487, 100.0, 0.0, {"R.Shoulder", "R.Offset", "*Unnamed_105"},
         {{66, 0, {4012.05127, 112.96879, 1347.57288}, 0.0},
          {67, 0, {3072.72217, -147.32408, 758.08044}, 0.0},
          {0, 158, {0.0, 0.0, 0.0}, 1.0},
          {0, 159, {1860.02161, 130.71878, 1334.42603}, 0.0},
          {104, 120, {2760.18945, -106.77187, 44.26163}, 0.0}}},
    };
    for (const RealTrc& f : files) {
        TestScene t;
        const Imported in = Import(t, eReadTrc, kTrcFolder + f.file);
        ASSERT_TRUE(in.root) << f.file << " error " << in.error;
        EXPECT_STREQ(in.root->GetName(), "Model::TRC:optical");
        ASSERT_EQ(in.root->GetChildCount(), f.nodes) << f.file;
        EXPECT_EQ(in.frames, f.frames) << f.file;
        EXPECT_NEAR(in.period.GetSecondDouble(), 1.0 / f.rate, 1e-9) << f.file;
        EXPECT_NEAR(in.start.GetSecondDouble(), f.startSeconds, 1e-9) << f.file;
        EXPECT_EQ(ShortName(in.root->GetChild(0)), f.names[0]) << f.file;
        EXPECT_EQ(ShortName(in.root->GetChild(1)), f.names[1]) << f.file;
        EXPECT_EQ(ShortName(in.root->GetChild(f.nodes - 1)), f.names[2]) << f.file;
        for (const Expected& e : f.samples) {
            const std::vector<KVector4> s = Samples(in.root->GetChild(e.node), in);
            ASSERT_EQ(int(s.size()), f.frames) << f.file;
            // The constant key reducer, on by default, flattens slow drifts of a few 0.01 cm.
            for (int a = 0; a < 3; ++a)
                EXPECT_NEAR(s[size_t(e.frame)][a], e.mm[a] * 0.1, 0.02)
                    << f.file << " node " << e.node << " frame " << e.frame;
            EXPECT_EQ(s[size_t(e.frame)][3], e.occlusion) << f.file << " node " << e.node;
        }
    }
}

TEST(OpticalTrc, EmptyTruncatedAndMissingFilesFailCleanly) {
    const struct {
        const char* file;
        int error;
    } cases[] = {{"Empty.trc", KQovReader::eFileCorrupted},
                 {"Truncated.trc", KQovReader::eFileCorrupted},
                 {"missing.trc", KQovReader::eFileNotOpened}};
    for (const auto& c : cases) {
        TestScene t;
        const Imported in = Import(t, eReadTrc, kTrcFolder + c.file);
        EXPECT_EQ(in.root, nullptr) << c.file;
        EXPECT_EQ(in.error, c.error) << c.file;
        EXPECT_EQ(t.scene->GetRootNode()->GetChildCount(), 0) << c.file;
    }
}

const char* const kSmall =
    "PathFileType\t4\t(X/Y/Z)\tsmall.trc\n"
    "DataRate\tCameraRate\tNumFrames\tNumMarkers\tUnits\tOrigDataRate\tOrigDataStartFrame\tOrigNumFrames\n"
    "30.0\t30.0\t2\t2\tmm\t30.0\t1\t2\n"
    "Frame#\tTime\tA\t\t\tB\t\t\t\n"
    "\t\tX1\tY1\tZ1\tX2\tY2\tZ2\t\n"
    "\n"
    "1\t0.000\t10.0\t20.0\t30.0\t40.0\t50.0\t60.0\n"
    "2\t0.033\t11.0\t21.0\t31.0\t41.0\t51.0\t61.0\n";

struct Variant {
    const char* what;
    const char* from;
    const char* to;
    int error;               // -1: the read succeeds
    int nodes;               // on success
    double b1[4];            // marker B at frame 1 on success (scene units, occlusion)
    const char* secondName;  // on success
};

// One small file, one change each: what is refused, and what each accepted form gives
// (unseen samples are kept as read, not filled from the frame before).
TEST(OpticalTrc, HeaderAndRowVariants) {
    const int bad = KQovReader::eFileCorrupted;
    const Variant variants[] = {
        {"as written", "", "", -1, 2, {4.1, 5.1, 6.1, 0}, "B"},
        {"centimetres", "\tmm\t", "\tcm\t", -1, 2, {41, 51, 61, 0}, "B"},
        {"metres", "\tmm\t", "\tm\t", -1, 2, {4100, 5100, 6100, 0}, "B"},
        {"units padded", "\tmm\t", "\tMM  \t", -1, 2, {4.1, 5.1, 6.1, 0}, "B"},
        {"count padded", "\t2\t2\tmm", "\t    2\t2\tmm", -1, 2, {4.1, 5.1, 6.1, 0}, "B"},
        {"type 3", "\t4\t", "\t3\t", -1, 2, {4.1, 5.1, 6.1, 0}, "B"},
        {"blank in name", "\tB\t", "\tB c\t", -1, 2, {4.1, 5.1, 6.1, 0}, "B_c"},
        {"unnamed", "\tB\t", "\tUnnamed3\t", -1, 2, {4.1, 5.1, 6.1, 0}, "*Unnamed_2"},
        {"more markers claimed than named", "\t2\tmm", "\t9\tmm", -1, 2, {4.1, 5.1, 6.1, 0}, "B"},
        {"B unseen", "\t41.0\t51.0\t61.0", "\t\t\t", -1, 2, {0, 0, 0, 1}, "B"},
        {"B only x", "\t41.0\t51.0\t61.0", "\t42.0\t\t", -1, 2, {4.2, 0.0, 0.0, 1}, "B"},
        {"B missing", "\t41.0\t51.0\t61.0\n", "\n", -1, 2, {0, 0, 0, 1}, "B"},
        {"an extra triple", "\t61.0\n", "\t61.0\t1\t2\t3\n", -1, 3, {4.1, 5.1, 6.1, 0}, "B"},
        {"no header", "PathFileType", "PathType", bad, 0, {}, nullptr},
        {"type 5", "\t4\t", "\t5\t", bad, 0, {}, nullptr},
        {"no own name", "\tsmall.trc", "", bad, 0, {}, nullptr},
        {"column missing", "\tUnits", "", bad, 0, {}, nullptr},
        {"rate 0", "30.0\t30.0\t2", "0\t30.0\t2", bad, 0, {}, nullptr},
        {"rate not a number", "30.0\t30.0\t2", "abc\t30.0\t2", bad, 0, {}, nullptr},
        {"negative frames", "\t2\t2\tmm", "\t-2\t2\tmm", bad, 0, {}, nullptr},
        {"inches", "\tmm\t", "\tin\t", bad, 0, {}, nullptr},
        {"no start frame", "\t30.0\t1\t2\n", "\t30.0\n", bad, 0, {}, nullptr},
        {"no names line", "Frame#\tTime\tA\t\t\tB\t\t\t\n", "", bad, 0, {}, nullptr},
        {"axis line short", "X2\tY2\tZ2", "X2", bad, 0, {}, nullptr},
        {"axis letter wrong", "Y2\tZ2", "Q2\tZ2", bad, 0, {}, nullptr},
        {"garbage coordinate", "51.0", "5x1.0", bad, 0, {}, nullptr},
        {"no frame number", "2\t0.033", "two\t0.033", bad, 0, {}, nullptr},
        {"a frame short", "\t2\t2\tmm", "\t3\t2\tmm", bad, 0, {}, nullptr},
    };
    for (const Variant& v : variants) {
        TempTestFolder dir;
        ASSERT_TRUE(dir.ok());
        const std::string path = dir.path() + "/small.trc";
        ASSERT_TRUE(WriteText(path, *v.from ? Replaced(kSmall, v.from, v.to) : std::string(kSmall)));
        TestScene t;
        const Imported in =
            Import(t, eReadTrc, path, [](KStreamOptionsMotion& o) { o.SetSetting(6, 0); });
        if (v.error >= 0) {
            EXPECT_EQ(in.root, nullptr) << v.what;
            EXPECT_EQ(in.error, v.error) << v.what;
            EXPECT_EQ(t.scene->GetRootNode()->GetChildCount(), 0) << v.what;
            continue;
        }
        ASSERT_TRUE(in.root) << v.what << " error " << in.error;
        ASSERT_EQ(in.root->GetChildCount(), v.nodes) << v.what;
        EXPECT_EQ(ShortName(in.root->GetChild(1)), v.secondName) << v.what;
        const std::vector<KVector4> s = Samples(in.root->GetChild(1), in);
        ASSERT_EQ(s.size(), 2u) << v.what;
        for (int a = 0; a < 4; ++a) EXPECT_NEAR(s[1][a], v.b1[a], 1e-4) << v.what << " axis " << a;
    }
}

TEST(OpticalTrc, StartFrameGivesTheStartTime) {
    TempTestFolder dir;
    ASSERT_TRUE(dir.ok());
    const std::string path = dir.path() + "/late.trc";
    ASSERT_TRUE(WriteText(path, Replaced(kSmall, "\t30.0\t1\t2", "\t30.0\t61\t2")));
    TestScene t;
    const Imported in = Import(t, eReadTrc, path);
    ASSERT_TRUE(in.root);
    EXPECT_NEAR(in.start.GetSecondDouble(), 2.0, 1e-9);
}

TEST(OpticalTrc, TimeCodeTexts) {
    const struct {
        const char* text;
        bool ok;
        double seconds;
    } cases[] = {
        {"1:0:0:0\nSMPTE\n30\n", true, 3600.0},
        {"0:0:1:15\nSMPTE\n30\n", true, 1.5},
        {"0:0:1:31\nSMPTE\n30\n", false, 0},
        {"0:0:0:-1\nSMPTE\n30\n", false, 0},
        {"0:0:2:12\nEBU\n25\n", true, 2.48},
        {"0:0:0:25\nEBU\n25\n", false, 0},
        {"0:0:1:30\nsystem clock\n60\n", true, 1.5},
        {"0:0:1:0\nSystem Clock\n33\n", false, 0},
        {"0:0:1:0\nsmpte\n30\n", false, 0},
        {"0:0:1:0\nGPS\n30\n", false, 0},
        {"0:0:1\nSMPTE\n30\n", false, 0},
        {"0:0:1:0\nSMPTE\n", false, 0},
    };
    for (const auto& c : cases) {
        KTime time(7);
        EXPECT_EQ(KTrcParseTimeCode(c.text, time), c.ok) << c.text;
        if (c.ok) EXPECT_NEAR(time.GetSecondDouble(), c.seconds, 1e-9) << c.text;
        else EXPECT_EQ(time, KTime(7)) << c.text;
    }
}

TEST(OpticalTrc, TimeCodeFileBesideTheFileSetsTheStart) {
    const struct {
        const char* tc;
        double seconds;
    } cases[] = {{"1:0:0:0\nSMPTE\n30\n", 3600.0}, {"0:0:0:25\nEBU\n25\n", 0.0}};
    for (const auto& c : cases) {
        TempTestFolder dir;
        ASSERT_TRUE(dir.ok());
        ASSERT_TRUE(WriteText(dir.path() + "/clip.trc", kSmall));
        ASSERT_TRUE(WriteText(dir.path() + "/clip.tc", c.tc));
        TestScene t;
        const Imported in = Import(t, eReadTrc, dir.path() + "/clip.trc");
        ASSERT_TRUE(in.root);
        EXPECT_NEAR(in.start.GetSecondDouble(), c.seconds, 1e-9) << c.tc;
    }
}

// The writer's layout, byte for byte: two markers, the second unseen in the second frame.
TEST(OpticalTrc, WrittenLayout) {
    TempTestFolder dir;
    ASSERT_TRUE(dir.ok());
    const std::string path = dir.path() + "/out.trc";
    TestScene t;
    BuildMarkers(t, 2, 3, 0.5);
    int error = 0;
    ASSERT_TRUE(Export(t, eWriteTrc, path, 3, 2.0, error)) << error;
    const std::string expected =
        "PathFileType\t4\t(X/Y/Z)\tVarnoke\t\n"
        "DataRate\tCameraRate\tNumFrames\tNumMarkers\tUnits\tOrigDataRate\tOrigDataStartFrame\tOrigNumFrames\t\n"
        "2.00\t2.00\t3\t2\tmm\t2.00\t1\t3\t\n"
        "Frame#\tTime\tm0\t\t\tm1\t\t\t\n"
        "\t\tX1\tY1\tZ1\tX2\tY2\tZ2\t\n"
        "\n"
        "1\t0.000\t0.00000\t-12.50000\t-1.25000\t10.00000\t-12.50000\t-11.25000 \n"
        "2\t0.500\t5.00000\t7.50000\t-1.25000\t15.00000\t7.50000\t-11.25000 \n"
        "3\t1.000\t10.00000\t27.50000\t-1.25000\t\t\t \n";
    EXPECT_EQ(ReadText(path), expected);
}

}  // namespace
