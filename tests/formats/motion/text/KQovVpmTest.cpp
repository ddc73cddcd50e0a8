// Segment animation blocks: headers, inches and percent, blocks into nodes and back out.
#include <gtest/gtest.h>

#include "TextMotionTestUtil.h"
#include "common/TempTestFolder.h"
#include "formats/motion/vpm/KQovReaderVpm.h"
#include "formats/motion/vpm/KQovWriterVpm.h"

namespace {

using namespace texttest;

std::string Block(const std::string& name, const std::string& frames, const std::string& frameTime,
                  const std::string& lines) {
    return "Segment:\t" + name + "\nFrames:\t" + frames + "\nFrame Time:\t" + frameTime +
           "\nXTRAN YTRAN ZTRAN XROT YROT ZROT XSCALE YSCALE ZSCALE\n"
           "INCHES INCHES INCHES DEGREES DEGREES DEGREES PERCENT PERCENT PERCENT\n" +
           lines;
}

const std::string kBall = Block("ball", "3", "0.04",
                                "1 0 0 90 0 0 100 100 100\n"
                                "2 0 0 45 0 0 50 50 50\n"
                                "3 1 -1 0 10 0 100 100 100\n");

TEST(VpmFile, BlocksBecomeNodesInCentimetres) {
    TempTestFolder dir;
    ASSERT_TRUE(dir.ok());
    const std::string path = dir / "blocks.vpm";
    ASSERT_TRUE(WriteText(
        path, kBall + Block("stick", "2", "0.04", "0 0 0 0 0 0 100 100 100\n0 0 5 0 0 0 1 1 1\n")));
    TestScene t;
    const Imported in = Import<KQovReaderVpm>(t, path, [](KStreamOptionsMotion& o) {
        EXPECT_EQ(o.GetFrameCount(), 3);
        EXPECT_EQ(o.GetTimeMode(), KTime::ePAL);
        EXPECT_EQ(o.GetStartTime(), KTime());
    });
    ASSERT_TRUE(in.parent) << in.error;
    EXPECT_STREQ(in.parent->GetName(), "Model::VPM:reference");
    ASSERT_EQ(in.parent->GetChildCount(), 2);
    EXPECT_EQ(ChildName(in.parent, 0), "Model::ball");
    EXPECT_EQ(ChildName(in.parent, 1), "Model::stick");
    struct Expect {
        int node, frame;
        double t[3], r[3];
    };
    const Expect expected[] = {
        {0, 0, {2.54, 0, 0}, {90, 0, 0}},
        {0, 1, {5.08, 0, 0}, {45, 0, 0}},
        {0, 2, {7.62, 2.54, -2.54}, {0, 10, 0}},
        {1, 1, {0, 0, 12.7}, {0, 0, 0}},
    };
    for (const Expect& e : expected) {
        const Pose p = Evaluate(in.parent->GetChild(e.node), in.Time(e.frame));
        for (int a = 0; a < 3; ++a) {
            EXPECT_NEAR(p.t[a], e.t[a], 1e-5) << e.node << " " << e.frame;
            EXPECT_NEAR(p.r[a], e.r[a], 1e-4) << e.node << " " << e.frame;
            // The file's scaling is not kept.
            EXPECT_EQ(p.s[a], 1.0);
        }
    }
}

TEST(VpmFile, DamagedBlocks) {
    TempTestFolder dir;
    ASSERT_TRUE(dir.ok());
    struct Case {
        const char* what;
        std::string text;
        int nodes;  // -1: refused with "File is corrupted"
        int frames;               // of the last block
        const char* status = "";  // of a read that keeps the blocks before a damaged one
        int take = 2000000000;    // frames asked for, lowered to the longest block cut short
    };
    const char* const kRestNotRead =
        ": the block header cannot be read; the rest of the file was not read.\n";
    const Case cases[] = {
        {"empty", "", -1, 0},
        {"frame time 0", Block("ball", "3", "0", "1 0 0 0 0 0 1 1 1\n"), -1, 0},
        {"no name", "Segment:\nFrames:\t1\nFrame Time:\t0.04\na\nb\n1 0 0 0 0 0 1 1 1\n", -1, 0},
        {"negative frames", Block("ball", "-1", "0.04", ""), -1, 0},
        {"frames in words", Block("ball", "three", "0.04", ""), -1, 0},
        {"no column lines", "Segment:\tball\nFrames:\t0\nFrame Time:\t0.04\n", -1, 0},
        // A block that the file ends inside keeps the lines it holds, says so, and never asks
        // for keys it has no lines for.
        {"claims too much", Block("ball", "2000000000", "0.04", "1 0 0 0 0 0 1 1 1\n"), 1, 1,
         "Line 1: block \"ball\" claims 2000000000 frames, the file ends after 1, and 1 were "
         "read.\n",
         1},
        {"last block short", kBall + Block("stick", "5", "0.04", "1 0 0 0 0 0 1 1 1\n"), 2, 1,
         "Line 9: block \"stick\" claims 5 frames, the file ends after 1, and 1 were read.\n", 3},
        // No frame read in any block: refused, so that none is written.
        {"only block holds none", Block("ball", "4", "0.04", ""), -1, 0},
        {"only block of no frames", Block("ball", "0", "0.04", ""), -1, 0},
        {"short line", Block("ball", "2", "0.04", "1 0 0 0 0 0 1 1 1\n1 0 0 0\n"), -1, 0},
        // A last line that the file ends inside is dropped, the frames before it kept.
        {"last line cut", kBall + Block("stick", "3", "0.04", "1 0 0 0 0 0 1 1 1\n2 0 0 0"), 2, 1,
         "Line 15: the file ends inside this line; it was not read.\nLine 9: block \"stick\" "
         "claims 3 frames, the file ends after 1, and 1 were read.\n",
         3},
        // Nine numbers without the line's break, where the block claims more: "100" cut to "1".
        {"last number cut",
         kBall + Block("stick", "3", "0.04", "1 0 0 0 0 0 1 1 1\n2 0 0 0 0 0 1 1 1"), 2, 1,
         "Line 15: the file ends inside this line; it was not read.\nLine 9: block \"stick\" "
         "claims 3 frames, the file ends after 1, and 1 were read.\n",
         3},
        {"only line cut", Block("ball", "2", "0.04", "1 0 0 0 0"), -1, 0},
        // A later block whose header does not read ends the reading, the blocks before it
        // kept; one whose frame lines do not read is damage, not the file's end.
        {"bad second block", kBall + Block("stick", "2", "0.04", "1 2\n"), -1, 0},
        {"no number in a second block",
         kBall + Block("stick", "1", "0.04", "1 0 nan 0 0 0 1 1 1\n"), -1, 0},
        {"bad second header", kBall + "Segment:\tstick\nFrames:\n", 1, 3, "Line 10"},
        {"second frames in words", kBall + Block("stick", "abc", "0.04", ""), 1, 3, "Line 10"},
        {"second frames negative", kBall + Block("stick", "-3", "0.04", ""), 1, 3, "Line 10"},
        {"second segment misspelt", kBall + "Segmnt:" + Block("stick", "0", "0.04", "").substr(8),
         1, 3, "Line 9"},
        {"second frame time in words", kBall + Block("stick", "1", "abc", "1 0 0 0 0 0 1 1 1\n"), 1,
         3, "Line 11"},
        {"second header cut", kBall + "Segment:\tstick\n", 1, 3, "Line 9"},
        {"blank lines after the last block", kBall + "\n\n \n", 1, 3},
        // Duplicate segment names are refused.
        {"duplicates", kBall + kBall, -1, 0},
    };
    for (const Case& c : cases) {
        const std::string path = dir / "bad.vpm";
        ASSERT_TRUE(WriteText(path, c.text));
        TestScene t;
        KQovReaderVpm reader(&t.manager);
        ASSERT_TRUE(reader.FileOpen(path.c_str()));
        KStreamOptionsMotion options;
        options.SetFrameCount(2000000000);
        std::string message;
        options.SetMessageCallback(
            [&](const char* title, const char* text, const char*, const char*, const char*, int) {
                message = std::string(title) + ": " + text;
                return 0;
            });
        const bool ok = reader.Read(t.scene, &options);
        EXPECT_EQ(ok, c.nodes >= 0) << c.what;
        if (!ok) {
            EXPECT_EQ(reader.GetLastErrorID(), KQovReader::eFileCorrupted) << c.what;
            EXPECT_EQ(t.scene->GetRootNode()->GetChildCount(), 0) << c.what;
            if (std::string(c.what) == "duplicates") {
                EXPECT_EQ(message.rfind("Error: Duplicate names found in bad.vpm:", 0), 0u)
                    << message;
            }
            continue;
        }
        KString status;
        reader.GetStatusText(status);
        // A row's status is a whole line, or the line number of a header that was not read.
        const std::string want = c.status;
        EXPECT_EQ(status.Buffer(), want.empty() || want.back() == '\n' ? want : want + kRestNotRead)
            << c.what;
        EXPECT_EQ(options.GetFrameCount(), c.take) << c.what;
        KQovNode* parent = t.scene->GetRootNode()->GetChild(0);
        ASSERT_EQ(parent->GetChildCount(), c.nodes) << c.what;
        KQovNode* last = parent->GetChild(c.nodes - 1);
        EXPECT_EQ(last->GetCurrentTakeNode()->GetTranslationX()->KeyGetCount() > 0, c.frames > 0)
            << c.what;
    }
}

// The take spans the longest block; a rate whose frames would run past the times held reads
// as the default one, and says so.
TEST(VpmFile, TakesSpanTheLongestBlockAtARateThatHolds) {
    TempTestFolder dir;
    ASSERT_TRUE(dir.ok());
    std::string lines;
    for (int f = 1; f <= 8; ++f) lines += std::to_string(f) + " 0 0 0 0 0 100 100 100\n";
    for (const auto& [frameTime, mode] :
         {std::pair("0.04", KTime::ePAL), std::pair("1e8", KTime::eFRAMES30)}) {
        const std::string path = dir / "long.vpm";
        ASSERT_TRUE(WriteText(path, Block("ball", "3", frameTime, lines.substr(0, 72)) +
                                        Block("long", "8", "0.04", lines)));
        TestScene t;
        const Imported in = Import<KQovReaderVpm>(t, path);
        ASSERT_TRUE(in.parent) << in.error;
        EXPECT_EQ(in.options->GetFrameCount(), 8) << frameTime;
        EXPECT_EQ(in.options->GetTimeMode(), mode) << frameTime;
        const Pose last = Evaluate(in.parent->GetChild(1), in.Time(7));
        EXPECT_NEAR(last.t[0], 8 * 2.54, 1e-5) << frameTime;
    }
    // A block claims no length: a last block cut in its header is not read and spans nothing,
    // one cut in its lines spans those it holds, and neither moves the first block's rate.
    const std::string longHeader = Block("long", "1000000", "0.04", "");
    const struct {
        const char* what;
        std::string tail;
        int frames;
        int mode;
    } cut[] = {
        {"after Frames", longHeader.substr(0, longHeader.find("Frame Time")), 3, KTime::ePAL},
        {"after Frame Time", longHeader.substr(0, longHeader.find("XTRAN")), 3, KTime::ePAL},
        {"after the column lines", longHeader, 3, KTime::ePAL},
        {"inside its lines", longHeader + lines, 8, KTime::ePAL},
    };
    for (const auto& c : cut) {
        const std::string path = dir / "cut.vpm";
        ASSERT_TRUE(WriteText(path, Block("ball", "3", "0.04", lines.substr(0, 72)) + c.tail));
        TestScene t;
        const Imported in = Import<KQovReaderVpm>(t, path);
        ASSERT_TRUE(in.parent) << c.what << in.error;
        EXPECT_EQ(in.options->GetFrameCount(), c.frames) << c.what;
        EXPECT_EQ(in.options->GetTimeMode(), c.mode) << c.what;
    }
    // The first block's rate, whatever the later ones claim.
    const std::string path = dir / "rate.vpm";
    ASSERT_TRUE(WriteText(path, Block("ball", "3", "0.1", lines.substr(0, 72)) +
                                    Block("long", "1500000000", "0.04", lines.substr(0, 24))));
    TestScene t;
    const Imported in = Import<KQovReaderVpm>(t, path);
    ASSERT_TRUE(in.parent) << in.error;
    EXPECT_EQ(in.options->GetFrameCount(), 3);
    EXPECT_DOUBLE_EQ(in.options->GetFrameRate(), 10.0);
}

TEST(VpmFile, MarkedNodesRoundTripAsSegments) {
    TempTestFolder dir;
    ASSERT_TRUE(dir.ok());
    const std::string path = dir / "segments.vpm";
    TestScene source;
    BuildMarkers(source, 3, 6, 30.0, "Actor:");
    int error = 0;
    ASSERT_TRUE(Export<KQovWriterVpm>(source, path, 6, 30.0, error)) << error;
    const std::string text = ReadText(path);
    // The last part of the node's name, and scaling always 100 percent.
    EXPECT_NE(text.find("Segment:\t1\nFrames:\t6\nFrame Time:\t0.0333333\nXTRAN\t"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\t100\t100\t100\n"), std::string::npos);
    EXPECT_EQ(text.find("Actor"), std::string::npos);
    TestScene back;
    const Imported in = Import<KQovReaderVpm>(back, path, [](KStreamOptionsMotion& o) {
        EXPECT_EQ(o.GetTimeMode(), KTime::eFRAMES30);
        EXPECT_EQ(o.GetFrameCount(), 6);
    });
    ASSERT_TRUE(in.parent) << in.error;
    ASSERT_EQ(in.parent->GetChildCount(), 3);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(ChildName(in.parent, k), "Model::" + std::to_string(k));
        for (int f = 0; f < 6; ++f) {
            const Pose want = SourcePose(k, f);
            const Pose got = Evaluate(in.parent->GetChild(k), in.Time(f));
            for (int a = 0; a < 3; ++a) {
                EXPECT_NEAR(got.t[a], want.t[a], 1e-4 * (1 + std::fabs(want.t[a])))
                    << k << " " << f;
                EXPECT_NEAR(got.r[a], want.r[a], 1e-3) << k << " " << f;
            }
        }
    }
}

TEST(VpmFile, NamesWithBlanksComeBackApart) {
    TempTestFolder dir;
    ASSERT_TRUE(dir.ok());
    const std::string path = dir / "blanks.vpm";
    TestScene source;
    KQovNode* parent = BuildMarkers(source, 2, 2, 30.0, "Actor:");
    // A repeat renamed on read, beside the name it repeats.
    parent->GetChild(0)->SetName("Actor:LASI");
    parent->GetChild(1)->SetName("Actor:LASI 1\tb");
    int error = 0;
    ASSERT_TRUE(Export<KQovWriterVpm>(source, path, 2, 30.0, error)) << error;
    TestScene back;
    const Imported in = Import<KQovReaderVpm>(back, path, [](KStreamOptionsMotion&) {});
    ASSERT_TRUE(in.parent) << in.error;
    ASSERT_EQ(in.parent->GetChildCount(), 2);
    EXPECT_EQ(ChildName(in.parent, 0), "Model::LASI");
    EXPECT_EQ(ChildName(in.parent, 1), "Model::LASI_1_b");
}

TEST(VpmFile, AnOversizedSampleBufferIsRefused) {
    TempTestFolder dir;
    ASSERT_TRUE(dir.ok());
    TestScene source;
    BuildMarkers(source, 2, 2, 30.0);
    std::string message;
    int error = 0;
    EXPECT_FALSE(Export<KQovWriterVpm>(
        source, dir / "huge.vpm", 2000000000, 30.0, error, [&](KStreamOptionsMotion& o) {
            o.SetMessageCallback([&](const char* title, const char* text, const char*, const char*,
                                     const char*, int) {
                message = std::string(title) + ": " + text;
                return 0;
            });
        }));
    EXPECT_EQ(error, KQovWriter::eUnidentifiedError);
    EXPECT_EQ(message, "Error: Not enough memory to allocate animation buffer.");
}

}  // namespace
