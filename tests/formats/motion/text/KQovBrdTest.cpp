// Rigid-body marker sample files: hand-made files into scenes, marked nodes out and back.
#include <gtest/gtest.h>

#include "TextMotionTestUtil.h"
#include "common/TempTestFolder.h"
#include "formats/motion/brd/KQovReaderBrd.h"
#include "formats/motion/brd/KQovWriterBrd.h"

namespace {

using namespace texttest;

// A line of marker `m` at frame `f`: position, identity orientation unless given, time.
std::string Line(int f, int m, double x, double y, double z, const char* q, double seconds,
                 double micro) {
    char text[256];
    snprintf(text, sizeof text, "%d\t%d\tP\t%g\t%g\t%g\tQ\t%s\t%g\t%g\n", f, m, x, y, z, q, seconds,
             micro);
    return text;
}
constexpr const char* kIdentity = "0 0 0 1";

TEST(BrdFile, HandMadeFilesReadAsTheLinesSay) {
    TempTestFolder dir;
    ASSERT_TRUE(dir.ok());
    const std::string path = dir / "hand.brd";
    // Markers 7 and 3, lines out of order, at 100 frames per second from frame 0. Marker 3
    // misses frame 1; marker 7's frame 2 is given twice alike, read once with a warning. A
    // quarter turn about Z (quaternion 0 0 sin45 cos45) at frame 2 of marker 3.
    const std::string text =
        Line(2, 7, 7, 8, 9, kIdentity, 0, 20000) + Line(0, 7, 1, 2, 3, kIdentity, 0, 0) +
        Line(0, 3, -1, -2, -3, kIdentity, 0, 0) +
        Line(2, 3, 5, 6, 7, "0 0 0.70710678 0.70710678", 0, 20000) +
        Line(1, 7, 4, 5, 6, kIdentity, 0, 10000) + Line(2, 7, 7, 8, 9, kIdentity, 0, 20000);
    ASSERT_TRUE(WriteText(path, text));
    for (const bool fill : {true, false}) {
        TestScene t;
        const Imported in = Import<KQovReaderBrd>(t, path, [&](KStreamOptionsMotion& o) {
            EXPECT_EQ(o.GetFrameCount(), 3);
            EXPECT_NEAR(o.GetFrameRate(), 100.0, 1e-6);
            EXPECT_EQ(o.GetStartTime(), KTime());
            o.SetSetting(6, fill ? 1 : 0);
        });
        ASSERT_TRUE(in.parent) << in.error;
        EXPECT_EQ(in.status,
                  "BRD read warning (line 6): marker 7 at frame 2 is given twice (line 1 too), "
                  "with the same values\n");
        EXPECT_STREQ(in.parent->GetName(), "Model::BRD:reference");
        ASSERT_EQ(in.parent->GetChildCount(), 2);
        EXPECT_EQ(ChildName(in.parent, 0), "Model::Marker3");
        EXPECT_EQ(ChildName(in.parent, 1), "Model::Marker7");
        KQovNode* m3 = in.parent->GetChild(0);
        KQovNode* m7 = in.parent->GetChild(1);
        struct Expect {
            KQovNode* node;
            int frame;
            double t[3], rz, occlusion;
        };
        const double gap = fill ? -1.0 : 0.0;
        const Expect expected[] = {
            {m7, 2, {7, 8, 9}, 0, 0},    {m7, 1, {4, 5, 6}, 0, 0},
            {m3, 0, {-1, -2, -3}, 0, 0}, {m3, 1, {gap, 2 * gap, 3 * gap}, 0, 1},
            {m3, 2, {5, 6, 7}, 90, 0},
        };
        for (const Expect& e : expected) {
            const Pose p = Evaluate(e.node, in.Time(e.frame));
            for (int a = 0; a < 3; ++a)
                EXPECT_NEAR(p.t[a], e.t[a], 1e-5) << e.node->GetName() << " frame " << e.frame;
            EXPECT_NEAR(p.r[2], e.rz, 1e-3);
            EXPECT_EQ(p.occlusion, e.occlusion);
        }
    }
}

TEST(BrdFile, SpansRatesAndStarts) {
    TempTestFolder dir;
    ASSERT_TRUE(dir.ok());
    struct Case {
        const char* what;
        std::string text;
        int frames;
        double rate, startSeconds;
    };
    const Case cases[] = {
        // One frame: no duration, so the global rate.
        {"one frame", Line(5, 0, 1, 1, 1, kIdentity, 3, 0), 1, 30.0, 5 / 30.0},
        // The start is the first frame counted at the rate: frame 10 at 100 per second.
        {"late start",
         Line(10, 0, 0, 0, 0, kIdentity, 0, 100000) + Line(12, 0, 0, 0, 0, kIdentity, 0, 120000), 3,
         100.0, 0.1},
        // Times running against the frame numbers give no rate.
        {"backwards", Line(0, 0, 0, 0, 0, kIdentity, 1, 0) + Line(1, 0, 0, 0, 0, kIdentity, 0, 0),
         2, 30.0, 0.0},
        // Sparse samples: every frame of their span is counted, up to the last sample.
        {"sparse", Line(0, 0, 0, 0, 0, kIdentity, 0, 0) + Line(1000, 0, 0, 0, 0, kIdentity, 10, 0),
         1001, 100.0, 0.0},
    };
    for (const Case& c : cases) {
        const std::string path = dir / "span.brd";
        ASSERT_TRUE(WriteText(path, c.text));
        TestScene t;
        const Imported in = Import<KQovReaderBrd>(t, path, [&](KStreamOptionsMotion& o) {
            EXPECT_EQ(o.GetFrameCount(), c.frames) << c.what;
            EXPECT_NEAR(o.GetFrameRate(), c.rate, 1e-6 * c.rate) << c.what;
            EXPECT_NEAR(o.GetStartTime().GetSecondDouble(), c.startSeconds, 1e-6) << c.what;
            o.SetFrameCount(2);
        });
        ASSERT_TRUE(in.parent) << c.what << " error " << in.error;
        EXPECT_EQ(Curve(in.parent->GetChild(0)->GetCurrentTakeNode(), 3, 0)->KeyGetCount() > 0,
                  true)
            << c.what;
    }
}

TEST(BrdFile, MalformedFilesFailWithoutTouchingTheScene) {
    TempTestFolder dir;
    ASSERT_TRUE(dir.ok());
    const std::string good = Line(0, 1, 1, 2, 3, kIdentity, 0, 0);
    const std::string cases[] = {
        "",                                                  // nothing to read
        "\n  \n",                                            // blank lines only
        "0\t1\tX\t1\t2\t3\tQ\t0\t0\t0\t1\t0\t0\n",           // no P
        "0\t1\tP\t1\t2\t3\t0\t0\t0\t1\t0\t0\n",              // no Q
        "0\t1\tP\t1\t2\tQ\t0\t0\t0\t1\t0\t0\n",              // two coordinates
        good + "1\t1\tP\t1\t2\t3\tQ\t0\t0\t0\t1\t0",         // truncated: no microseconds
        good + "1\t1\tP\t1\t2\t3\tQ\t0\t0",                  // truncated mid-quaternion
        good + "1.5\t1\tP\t1\t2\t3\tQ\t0\t0\t0\t1\t0\t0\n",  // a fractional frame
        good + "x\n",
        // Two lines of one marker and frame that differ: neither can be dropped.
        good + Line(0, 1, 1, 2, 4, kIdentity, 0, 0),
        // Samples too sparse for the keys of their span: any shorter span would drop the last.
        // A span beyond an int is counted in 64 bits, never wrapped.
        Line(-2000000000, 0, 0, 0, 0, kIdentity, 0, 0) +
            Line(2000000000, 0, 0, 0, 0, kIdentity, 4000, 0),
        Line(0, 0, 0, 0, 0, kIdentity, 0, 0) +
            Line(int(KMotionMaxKeys(2 * 7) / 7), 0, 0, 0, 0, kIdentity, 4000, 0),
    };
    for (const std::string& text : cases) {
        const std::string path = dir / "bad.brd";
        ASSERT_TRUE(WriteText(path, text));
        TestScene t;
        const Imported in = Import<KQovReaderBrd>(t, path);
        EXPECT_EQ(in.parent, nullptr) << text;
        EXPECT_EQ(in.error, KQovReader::eFileCorrupted) << text;
        if (text.find("\t4\tQ") != std::string::npos) {
            EXPECT_EQ(in.errorText,
                      "File is corrupted: BRD read error (line 2): marker 1 at frame 0 is given "
                      "twice (line 1 too) with other values");
        }
        if (text.find("\t4000\t") != std::string::npos) {
            EXPECT_NE(in.errorText.find("too sparse"), std::string::npos) << in.errorText;
        }
        EXPECT_EQ(t.scene->GetRootNode()->GetChildCount(), 0);
        // Read refuses the file as well, with options of its own.
        KQovReaderBrd reader(&t.manager);
        ASSERT_TRUE(reader.FileOpen(path.c_str()));
        KStreamOptionsMotion options;
        EXPECT_FALSE(reader.Read(t.scene, &options));
        EXPECT_EQ(reader.GetLastErrorID(), KQovReader::eFileCorrupted);
        EXPECT_TRUE(reader.GetTracks().empty());
    }
}

TEST(BrdFile, MarkedNodesRoundTripWithOcclusion) {
    TempTestFolder dir;
    ASSERT_TRUE(dir.ok());
    const std::string path = dir / "take.brd";
    TestScene source;
    BuildMarkers(source, 3, 5, 30.0);
    int error = 0;
    // Setting 11 at 0 leaves occluded markers out of their frames.
    ASSERT_TRUE(Export<KQovWriterBrd>(source, path, 5, 30.0, error, [](KStreamOptionsMotion& o) {
        o.SetSetting(11, 0);
    })) << error;
    // Lines in frame order, markers in depth-first order within a frame; the unseen marker 1
    // has no line at frame 2. Whole seconds and microseconds end each line.
    const std::string text = ReadText(path);
    size_t at = 0;
    for (int f = 0; f < 5; ++f) {
        for (int k = 0; k < 3; ++k) {
            if (SourcePose(k, f).occlusion > 0) continue;
            const size_t end = text.find('\n', at);
            ASSERT_NE(end, std::string::npos);
            const std::string line = text.substr(at, end - at);
            EXPECT_EQ(line.rfind(std::to_string(f) + "\t" + std::to_string(k) + "\tP\t", 0), 0u)
                << line;
            const std::string tail = f == 1 ? "\t0\t33333.3" : f == 0 ? "\t0\t0" : "";
            EXPECT_EQ(line.substr(line.size() - tail.size()), tail) << line;
            at = end + 1;
        }
    }
    EXPECT_EQ(at, text.size());
    TestScene back;
    const Imported in = Import<KQovReaderBrd>(back, path, [](KStreamOptionsMotion& o) {
        EXPECT_EQ(o.GetFrameCount(), 5);
        EXPECT_EQ(o.GetTimeMode(), KTime::eFRAMES30);
    });
    ASSERT_TRUE(in.parent) << in.error;
    ASSERT_EQ(in.parent->GetChildCount(), 3);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(ChildName(in.parent, k), "Model::Marker" + std::to_string(k));
        for (int f = 0; f < 5; ++f) {
            const Pose want = SourcePose(k, f);
            const Pose got = Evaluate(in.parent->GetChild(k), in.Time(f));
            EXPECT_EQ(got.occlusion, want.occlusion) << k << " " << f;
            // An unseen frame holds the frame before it.
            const Pose held = want.occlusion > 0 ? SourcePose(k, f - 1) : want;
            for (int a = 0; a < 3; ++a) {
                EXPECT_NEAR(got.t[a], held.t[a], 1e-4) << "marker " << k << " frame " << f;
                EXPECT_NEAR(got.r[a], held.r[a], 1e-3) << "marker " << k << " frame " << f;
            }
        }
    }
}

}  // namespace
