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
    int node, frame;  // node below the optical root, 0-based frame
    double mm[3];     // the file's millimetres
    double occlusion;
};

struct RealTrc {
    const char* file;
    int nodes, frames;
    double rate;
    const char* names[3];  // first, second and last node
    std::vector<Expected> samples;
};

// Gait.trc names 33 markers while its header claims 66: the reader keeps the names line's
// 33, and the data columns beyond them (up to 105 triples a row) become "*Unnamed_34" on.
// An empty and a truncated file fail cleanly.
TEST(OpticalTrc, RealFilesReadWithNamesFramesAndValues) {
    // clang-format off
    const RealTrc files[] = {
        {"test_file_01.trc", 2, 4, 60.0, {"HeadTop", "ForeHead", "ForeHead"}, {{0, 0, {-2894.17090, 1663.10840, -3255.51221}, 0.0}, {1, 3, {-2830.76855, 1535.33289, -3161.00732}, 0.0}}},
        // Type 3: the start stays 0 although the rows count from 228; HED_* are never seen.
        {"test_file_05.trc", 8, 4, 100.0, {"PEL_MO", "PEL_MA", "HED_MP"}, {{0, 0, {240.04201, -1057.66003, 952.25500}, 0.0}, {3, 3, {241.12875, -986.32684, 1141.13745}, 0.0}, {7, 2, {0.0, 0.0, 0.0}, 1.0}}},
        {"Gait.trc", 105, 487, 100.0, {"R.Shoulder", "R.Offset", "*Unnamed_105"}, {{66, 0, {4012.05127, 112.96879, 1347.57288}, 0.0}, {67, 0, {3072.72217, -147.32408, 758.08044}, 0.0}, {0, 158, {0.0, 0.0, 0.0}, 1.0}, {0, 159, {1860.02161, 130.71878, 1334.42603}, 0.0}, {104, 120, {2760.18945, -106.77187, 44.26163}, 0.0}}},
    };
    // clang-format on
    for (const char* broken : {"Empty.trc", "Truncated.trc", "missing.trc"}) {
        TestScene t;
        const Imported in = Import(t, eReadTrc, kTrcFolder + broken);
        EXPECT_EQ(in.error,
                  *broken == 'm' ? KQovReader::eFileNotOpened : KQovReader::eFileCorrupted);
        EXPECT_EQ(t.scene->GetRootNode()->GetChildCount(), 0) << broken;
    }
    for (const RealTrc& f : files) {
        TestScene t;
        const Imported in = Import(t, eReadTrc, kTrcFolder + f.file);
        ASSERT_TRUE(in.root) << f.file << " error " << in.error;
        EXPECT_STREQ(in.root->GetName(), "Model::TRC:optical");
        ASSERT_EQ(in.root->GetChildCount(), f.nodes) << f.file;
        EXPECT_EQ(in.frames, f.frames) << f.file;
        EXPECT_NEAR(in.period.GetSecondDouble(), 1.0 / f.rate, 1e-9) << f.file;
        EXPECT_EQ(in.start, KTime()) << f.file;
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

const char* const kSmall =
    "PathFileType\t4\t(X/Y/Z)\tsmall.trc\n"
    "DataRate\tCameraRate\tNumFrames\tNumMarkers\tUnits\t"
    "OrigDataRate\tOrigDataStartFrame\tOrigNumFrames\n"
    "30.0\t30.0\t2\t2\tmm\t30.0\t1\t2\n"
    "Frame#\tTime\tA\t\t\tB\t\t\t\n"
    "\t\tX1\tY1\tZ1\tX2\tY2\tZ2\t\n"
    "\n"
    "1\t0.000\t10.0\t20.0\t30.0\t40.0\t50.0\t60.0\n"
    "2\t0.033\t11.0\t21.0\t31.0\t41.0\t51.0\t61.0\n";

// kSmall with its first `from` replaced by `to`.
std::string Small(const char* from, const char* to) {
    return *from ? Replaced(kSmall, from, to) : std::string(kSmall);
}

const OptionEdit kNoFill = [](KStreamOptionsMotion& o) { o.SetSetting(6, 0); };
const OptionEdit kUnique = [](KStreamOptionsMotion& o) { o.SetSetting(6, 0), o.SetSetting(17, 1); };

// One small file, one change each: what is refused, and what each accepted form gives for
// marker B at the second frame (unseen samples kept as read, not filled from the frame before).
TEST(OpticalTrc, HeaderAndRowVariants) {
    const int bad = KQovReader::eFileCorrupted;
    // clang-format off
    const ReadCase cases[] = {
        {"as written", Small("", ""), kNoFill, -1, 2, 1, {4.1, 5.1, 6.1, 0}, "B"},
        {"centimetres", Small("\tmm\t", "\tcm\t"), kNoFill, -1, 2, 1, {41, 51, 61, 0}, "B"},
        {"metres", Small("\tmm\t", "\tm\t"), kNoFill, -1, 2, 1, {4100, 5100, 6100, 0}, "B"},
        {"units padded", Small("\tmm\t", "\tMM  \t"), kNoFill, -1, 2, 1, {4.1, 5.1, 6.1, 0}, "B"},
        {"count padded", Small("\t2\t2\tmm", "\t    2\t2\tmm"), kNoFill, -1, 2, 1, {4.1, 5.1, 6.1, 0}, "B"},
        {"type 3", Small("\t4\t", "\t3\t"), kNoFill, -1, 2, 1, {4.1, 5.1, 6.1, 0}, "B"},
        {"blank in name", Small("\tB\t", "\tB c\t"), kNoFill, -1, 2, 1, {4.1, 5.1, 6.1, 0}, "B_c"},
        {"unnamed", Small("\tB\t", "\tUnnamed3\t"), kNoFill, -1, 2, 1, {4.1, 5.1, 6.1, 0}, "*Unnamed_2"},
        // An empty name is a marker without one: the names after it stay over their columns.
        {"first name empty", Small("\tA\t", "\t\t"), kNoFill, -1, 2, 1, {4.1, 5.1, 6.1, 0}, "B"},
        {"first name empty, unnamed", Small("\tA\t", "\t \t"), kNoFill, -1, 2, 0, {1.1, 2.1, 3.1, 0}, "*Unnamed_1"},
        // Names that stand off their marker's columns are taken in order.
        {"names packed", Small("A\t\t\tB", "A\tB"), kNoFill, -1, 2, 1, {4.1, 5.1, 6.1, 0}, "B"},
        {"more markers claimed than named", Small("\t2\tmm", "\t9\tmm"), kNoFill, -1, 2, 1, {4.1, 5.1, 6.1, 0}, "B"},
        {"B unseen", Small("\t41.0\t51.0\t61.0", "\t\t\t"), kNoFill, -1, 2, 1, {0, 0, 0, 1}, "B"},
        {"B only x", Small("\t41.0\t51.0\t61.0", "\t42.0\t\t"), kNoFill, -1, 2, 1, {4.2, 0.0, 0.0, 1}, "B"},
        {"B missing", Small("\t41.0\t51.0\t61.0\n", "\n"), kNoFill, -1, 2, 1, {0, 0, 0, 1}, "B"},
        {"an extra triple", Small("\t61.0\n", "\t61.0\t1\t2\t3\n"), kNoFill, -1, 3, 1, {4.1, 5.1, 6.1, 0}, "B"},
        {"no header", Small("PathFileType", "PathType"), kNoFill, bad, 0, 0, {}, nullptr},
        {"type 5", Small("\t4\t", "\t5\t"), kNoFill, bad, 0, 0, {}, nullptr},
        {"no own name", Small("\tsmall.trc", ""), kNoFill, bad, 0, 0, {}, nullptr},
        {"column missing", Small("\tUnits", ""), kNoFill, bad, 0, 0, {}, nullptr},
        {"rate 0", Small("30.0\t30.0\t2", "0\t30.0\t2"), kNoFill, bad, 0, 0, {}, nullptr},
        {"rate not a number", Small("30.0\t30.0\t2", "abc\t30.0\t2"), kNoFill, bad, 0, 0, {}, nullptr},
        {"negative frames", Small("\t2\t2\tmm", "\t-2\t2\tmm"), kNoFill, bad, 0, 0, {}, nullptr},
        {"no frames", Small("\t2\t2\tmm", "\t0\t2\tmm").substr(0, std::string(kSmall).find("1\t0.000")), kNoFill, bad, 0, 0, {}, nullptr},
        {"inches", Small("\tmm\t", "\tin\t"), kNoFill, bad, 0, 0, {}, nullptr},
        {"no start frame", Small("\t30.0\t1\t2\n", "\t30.0\n"), kNoFill, bad, 0, 0, {}, nullptr},
        {"no names line", Small("Frame#\tTime\tA\t\t\tB\t\t\t\n", ""), kNoFill, bad, 0, 0, {}, nullptr},
        {"axis line short", Small("X2\tY2\tZ2", "X2"), kNoFill, bad, 0, 0, {}, nullptr},
        {"axis letter wrong", Small("Y2\tZ2", "Q2\tZ2"), kNoFill, bad, 0, 0, {}, nullptr},
        {"garbage coordinate", Small("51.0", "5x1.0"), kNoFill, bad, 0, 0, {}, nullptr},
        {"no frame number", Small("2\t0.033", "two\t0.033"), kNoFill, bad, 0, 0, {}, nullptr},
        {"a frame short", Small("\t2\t2\tmm", "\t3\t2\tmm"), kNoFill, bad, 0, 0, {}, nullptr},
        {"names alike", Small("\tB\t", "\tA\t"), kNoFill, bad, 0, 0, {}, nullptr},
        {"names alike made unique", Small("\tB\t", "\tA\t"), kUnique, -1, 2, 1, {4.1, 5.1, 6.1, 0}, "A 1"},
        {"frames claimed by the billion", Small("\t2\t2\tmm", "\t2000000000\t2\tmm"), kNoFill, bad, 0, 0, {}, nullptr},
        // A marker count is never an allocation: the names line bounds it, or without one the file.
        {"markers claimed by the billion", Small("\t2\t2\tmm", "\t2\t999999999\tmm"), kNoFill, -1, 2, 1, {4.1, 5.1, 6.1, 0}, "B"},
        {"markers claimed by the billion, no names line", Replaced(Small("Frame#\tTime\tA\t\t\tB\t\t\t\n", ""), "\t2\t2\tmm", "\t2\t999999999\tmm"), kNoFill, bad, 0, 0, {}, nullptr},
    };
    // clang-format on
    for (const ReadCase& c : cases) CheckRead(eReadTrc, "small.trc", c);
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
        EXPECT_NEAR(time.GetSecondDouble(), c.ok ? c.seconds : KTime(7).GetSecondDouble(), 1e-9)
            << c.text;
    }
}

// The start: from OrigDataStartFrame, replaced by a valid time-code file beside the file.
TEST(OpticalTrc, StartFromStartFrameOrTimeCodeFile) {
    const struct {
        const char* startFrame;
        const char* tc;  // none when null
        double seconds;
        const char* rate = "30.0";  // read at 30 a second, all of them
    } cases[] = {{"61", nullptr, 2.0},
                 {"1", "1:0:0:0\nSMPTE\n30\n", 3600.0},
                 {"61", "0:0:0:25\nEBU\n25\n", 2.0},
                 // Rates whose frames cannot be kept: the start frame counted at the rate read.
                 {"61", nullptr, 2.0, "1e-8"},
                 {"61", nullptr, 2.0, "2e6"}};
    for (const auto& c : cases) {
        TempTestFolder dir;
        ASSERT_TRUE(dir.ok());
        const std::string start = std::string("\t30.0\t") + c.startFrame + "\t2\n";
        const std::string text = Replaced(kSmall, "\t30.0\t1\t2\n", start);
        ASSERT_TRUE(WriteText(dir.path() + "/clip.trc",
                              Replaced(text, "30.0\t30.0", std::string(c.rate) + "\t30.0")));
        ASSERT_TRUE(!c.tc || WriteText(dir.path() + "/clip.tc", c.tc));
        TestScene t;
        const Imported in = Import(t, eReadTrc, dir.path() + "/clip.trc");
        ASSERT_TRUE(in.root);
        EXPECT_NEAR(in.start.GetSecondDouble(), c.seconds, 1e-9) << c.startFrame;
        EXPECT_NEAR(in.period.GetSecondDouble(), 1.0 / 30, 1e-9) << c.rate;
    }
}

}  // namespace

namespace {

// The rate keeps its two decimals while they hold it to 0.5% (every rate from 1 Hz on, so such
// files stay as they were); a slower one gets the digits it needs and reads back.
TEST(OpticalTrc, RatesWrittenWithTheDigitsTheyNeed) {
    const struct {
        double rate;
        const char* text;  // null: refused, as no reader would keep the frames at that rate
    } cases[] = {{120.0, "120.00"}, {1000.0 / 33.366667, "29.97"},
                 {1.0, "1.00"},     {0.5, "0.50"},
                 {0.25, "0.25"},    {1.0 / 3, "0.3333333333333333"},
                 {0.004, "0.004"},  {0.0001, "0.0001"},
                 {1e-8, "1e-08"},   {5e-9, nullptr},
                 {2e6, nullptr}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rate);
        TempTestFolder dir;
        ASSERT_TRUE(dir.ok());
        TestScene source;
        BuildMarkers(source, 1, 2, 1.0 / c.rate);
        int error = 0;
        const std::string path = dir.path() + "/rate.trc";
        ASSERT_EQ(Export(source, eWriteTrc, path, 2, c.rate, error), c.text != nullptr) << error;
        if (!c.text) {
            EXPECT_EQ(error, KQovWriter::eUnidentifiedError);
            continue;
        }
        const std::string text = ReadText(path);
        const std::string want = std::string(c.text) + "\t" + c.text + "\t2\t1\tmm\t" + c.text;
        EXPECT_NE(text.find("\n" + want + "\t"), std::string::npos) << text;
        TestScene back;
        const Imported in = Import(back, eReadTrc, path);
        ASSERT_TRUE(in.root) << in.error;
        EXPECT_EQ(in.frames, 2);
        EXPECT_NEAR(in.period.GetSecondDouble() * c.rate, 1.0, 0.005);
    }
    // A rate read without a word is one every writer writes: past the fastest by no more than
    // six digits move it, it is the fastest.
    TempTestFolder dir;
    ASSERT_TRUE(dir.ok());
    const std::string path = dir.path() + "/fast.trc";
    ASSERT_TRUE(WriteText(path, Replaced(kSmall, "30.0\t30.0", "1000050\t1000050")));
    TestScene t;
    const Imported in = Import(t, eReadTrc, path);
    ASSERT_TRUE(in.root) << in.error;
    EXPECT_EQ(in.rate, 1e6);
    for (int k = 0; k < in.root->GetChildCount(); ++k) in.root->GetChild(k)->SetMarked(true);
    int error = 0;
    EXPECT_TRUE(Export(t, eWriteTrc, dir.path() + "/again.trc", 2, in.rate, error)) << error;
}

// A name that the names line cannot carry as one field would shift every name after it.
TEST(OpticalTrc, NamesWrittenAsOneFieldEach) {
    TempTestFolder dir;
    ASSERT_TRUE(dir.ok());
    TestScene source;
    BuildMarkers(source, 3, 2, 1.0 / 30);
    KQovNode* top = source.scene->GetRootNode()->GetChild(0);
    top->GetChild(0)->SetName("left\tknee");
    top->GetChild(1)->SetName("ns:");
    int error = 0;
    ASSERT_TRUE(Export(source, eWriteTrc, dir.path() + "/names.trc", 2, 30.0, error)) << error;
    TestScene back;
    const Imported in = Import(back, eReadTrc, dir.path() + "/names.trc");
    ASSERT_TRUE(in.root);
    ASSERT_EQ(in.root->GetChildCount(), 3);
    const char* names[] = {"left_knee", "*Unnamed_2", "m2"};
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(ShortName(in.root->GetChild(k)), names[k]);
        EXPECT_NEAR(Samples(in.root->GetChild(k), in)[1][0], Keyed(k, 1)[0], 1e-4);
    }
}

}  // namespace
