// Motion tables: rates from the time column, rows into marker nodes, marked nodes out and back.
#include <gtest/gtest.h>

#include "TextMotionTestUtil.h"
#include "common/TempTestFolder.h"
#include "formats/motion/mov/KQovReaderMov.h"
#include "formats/motion/mov/KQovWriterMov.h"

namespace {

using namespace texttest;

TEST(MovFile, RateAndStartFromTheTimeColumn) {
    TempTestFolder dir;
    ASSERT_TRUE(dir.ok());
    struct Case {
        const char* text;
        double rate, start;
        int frames;
    };
    const Case cases[] = {
        {"0 1 2 3\n0.04 1 2 3\n", 25.0, 0.0, 2},
        // Times that stand still or run back are left out of the estimate.
        {"0 1 2 3\n0.04 1 2 3\n0.04 1 2 3\n0.08 1 2 3\n", 25.0, 0.0, 4},
        {"2 1 2 3\n1 1 2 3\n2.1 1 2 3\n", 10.0, 2.0, 3},
        // No increase at all: the global rate.
        {"5 1 2 3\n5 1 2 3\n", 30.0, 5.0, 2},
        {"0.5\n", 30.0, 0.5, 1},
    };
    for (const Case& c : cases) {
        const std::string path = dir / "rate.mov";
        ASSERT_TRUE(WriteText(path, c.text));
        KQovObjectManager manager;
        KQovReaderMov reader(&manager);
        ASSERT_TRUE(reader.FileOpen(path.c_str()));
        std::unique_ptr<KStreamOptionsMotion> o(
            static_cast<KStreamOptionsMotion*>(reader.GetReadOptions(false)));
        ASSERT_TRUE(o) << c.text;
        EXPECT_NEAR(o->GetFrameRate(), c.rate, 1e-9) << c.text;
        EXPECT_NEAR(o->GetStartTime().GetSecondDouble(), c.start, 1e-9) << c.text;
        EXPECT_EQ(o->GetFrameCount(), c.frames) << c.text;
        for (int s : {0, 1, 2}) EXPECT_EQ(o->GetSetting(s), 1);
    }
}

TEST(MovFile, RowsBecomeMarkerKeys) {
    TempTestFolder dir;
    ASSERT_TRUE(dir.ok());
    const std::string path = dir / "rows.mov";
    // Translation and rotation on: 13 columns hold two markers.
    ASSERT_TRUE(WriteText(path,
                          "0 1 2 3 10 20 30 4 5 6 40 50 60\n"
                          "0.04 7 8 9 11 21 31 -1 0 0 0 0 0\n"));
    TestScene t;
    const Imported in = Import<KQovReaderMov>(t, path, [](KStreamOptionsMotion& o) {
        o.SetSetting(2, 0);
        o.SetFrameCount(100);  // more than the file has
    });
    ASSERT_TRUE(in.parent) << in.error;
    EXPECT_STREQ(in.parent->GetName(), "Model::MOV:reference");
    ASSERT_EQ(in.parent->GetChildCount(), 2);
    EXPECT_EQ(ChildName(in.parent, 0), "Model::Marker0");
    EXPECT_EQ(ChildName(in.parent, 1), "Model::Marker1");
    EXPECT_EQ(in.options->GetFrameCount(), 2);
    struct Expect {
        int marker, frame;
        double t[3], r[3];
    };
    const Expect expected[] = {
        {0, 0, {1, 2, 3}, {10, 20, 30}},
        {1, 0, {4, 5, 6}, {40, 50, 60}},
        {0, 1, {7, 8, 9}, {11, 21, 31}},
        {1, 1, {-1, 0, 0}, {0, 0, 0}},
    };
    for (const Expect& e : expected) {
        const Pose p = Evaluate(in.parent->GetChild(e.marker), in.Time(e.frame));
        for (int a = 0; a < 3; ++a) {
            EXPECT_NEAR(p.t[a], e.t[a], 1e-5) << e.marker << " " << e.frame;
            EXPECT_NEAR(p.r[a], e.r[a], 1e-4) << e.marker << " " << e.frame;
        }
        // Scaling was off: no keys.
        EXPECT_EQ(p.s[0], -1000.0);
    }
    KQovTakeNode* take = in.parent->GetChild(0)->GetCurrentTakeNode();
    EXPECT_LE(take->GetTranslationX()->KeyGetCount(), 2);
}

TEST(MovFile, BadTablesFailCleanly) {
    TempTestFolder dir;
    ASSERT_TRUE(dir.ok());
    std::string wide;
    for (int i = 0; i < 1 + 9 * 4444; ++i) wide += "0 ";
    wide += "\n";
    for (int i = 0; i < 1000; ++i) wide += "1\n";
    struct Case {
        std::string text;
        bool options;  // GetReadOptions succeeds
        int error;
        const char* errorText;
        int groups;
    };
    const Case cases[] = {
        // Refusals say where the read stopped.
        {"", false, KQovReader::eFileCorrupted, "File is corrupted: MOV file holds no data", 3},
        {"0 1 2 3 end\n0.04 1 2 3\n", false, KQovReader::eFileCorrupted,
         "File is corrupted: MOV read stopped at line 1", 3},
        {"time 1 2 3\n", false, KQovReader::eFileCorrupted,
         "File is corrupted: MOV read stopped at line 1", 3},
        // A row may end early, but not at a word that is no number.
        {"0 1 2 3\n0.04 1 nan 3\n", true, KQovReader::eFileCorrupted,
         "File is corrupted: MOV read stopped at line 2", 1},
        {"0 1 2 3\n", true, KQovReader::eUnidentifiedError, "No animation to import.", 0},
        // Every row as wide as the first, and no numbers past the last whole marker.
        {"0 1 2 3\n0.04 1 2\n", true, KQovReader::eFileCorrupted,
         "File is corrupted: MOV read error (line 2): a row of 3 numbers where the first row "
         "has 4",
         1},
        {"0 1 2 3\n0.04 1 2 3 4\n", true, KQovReader::eFileCorrupted,
         "File is corrupted: MOV read error (line 2): a row of 5 numbers where the first row "
         "has 4",
         1},
        {"0 1 2 3 4 5 6 7\n", true, KQovReader::eFileCorrupted,
         "File is corrupted: MOV read error (line 1): 7 numbers after the time make no whole "
         "markers of 6",
         2},
        // A wide first row over many short ones: refused at the first.
        {wide, true, KQovReader::eFileCorrupted,
         "File is corrupted: MOV read error (line 2): a row of 1 number where the first row has "
         "39997",
         3},
    };
    for (const Case& c : cases) {
        const std::string path = dir / "bad.mov";
        ASSERT_TRUE(WriteText(path, c.text));
        TestScene t;
        const Imported in = Import<KQovReaderMov>(t, path, [&](KStreamOptionsMotion& o) {
            for (int g = 0; g < 3; ++g) o.SetSetting(g, g < c.groups ? 1 : 0);
        });
        EXPECT_EQ(in.parent, nullptr);
        EXPECT_EQ(bool(in.options), c.options) << c.text.substr(0, 20);
        EXPECT_EQ(in.error, c.error) << c.text.substr(0, 20);
        EXPECT_EQ(in.errorText, c.errorText);
        EXPECT_EQ(t.scene->GetRootNode()->GetChildCount(), 0);
    }
}

TEST(MovFile, MarkedNodesRoundTripWithEveryGroup) {
    TempTestFolder dir;
    ASSERT_TRUE(dir.ok());
    struct Case {
        bool t, r, s;
    };
    for (const Case c : {Case{true, true, true}, Case{true, false, false}, Case{false, true, true},
                         Case{false, false, false}}) {
        const std::string path = dir / "table.mov";
        TestScene source;
        BuildMarkers(source, 3, 12, 30.0);
        const auto groups = [&](KStreamOptionsMotion& o) {
            o.SetSetting(0, c.t);
            o.SetSetting(1, c.r);
            o.SetSetting(2, c.s);
        };
        int error = 0;
        const bool written = Export<KQovWriterMov>(source, path, 12, 30.0, error, groups);
        if (!c.t && !c.r && !c.s) {
            EXPECT_FALSE(written);  // "No animation to export."
            EXPECT_EQ(error, KQovWriter::eFileNotCreated);
            continue;
        }
        ASSERT_TRUE(written) << error;
        TestScene back;
        const Imported in = Import<KQovReaderMov>(back, path, [&](KStreamOptionsMotion& o) {
            EXPECT_EQ(o.GetTimeMode(), KTime::eFRAMES30);
            EXPECT_EQ(o.GetFrameCount(), 12);
            groups(o);
        });
        ASSERT_TRUE(in.parent) << in.error;
        ASSERT_EQ(in.parent->GetChildCount(), 3);
        for (int k = 0; k < 3; ++k) {
            for (int f = 0; f < 12; ++f) {
                const Pose want = SourcePose(k, f);
                const Pose got = Evaluate(in.parent->GetChild(k), in.Time(f));
                for (int a = 0; a < 3; ++a) {
                    EXPECT_NEAR(got.t[a], c.t ? want.t[a] : -1000.0, 1e-4) << k << " " << f;
                    EXPECT_NEAR(got.r[a], c.r ? want.r[a] : -1000.0, 1e-3) << k << " " << f;
                    EXPECT_NEAR(got.s[a], c.s ? want.s[a] : -1000.0, 1e-5) << k << " " << f;
                }
            }
        }
    }
}

}  // namespace
