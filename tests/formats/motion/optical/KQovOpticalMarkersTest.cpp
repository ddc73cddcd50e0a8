// AOA and MCD marker files, round trips of every text marker format, and what the marker
// readers and writers share: the factory entries, refused roots and failed writes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "OpticalTestUtil.h"
#include "common/TempTestFolder.h"
#include "formats/motion/optical/KQovOpticalReader.h"
#include "formats/motion/optical/KQovOpticalWriter.h"

namespace {

using namespace optest;

struct Format {
    int writer, reader;
    const char* file;
    const char* root;
    const char* firstName;
};

const Format kFormats[] = {
    {eWriteTrc, eReadTrc, "markers.trc", "Model::TRC:optical", "m0"},
    {eWriteAoa, eReadAoa, "markers.aoa", "Model::AOA:optical", "Marker1"},
    {eWriteMcd, eReadMcd, "markers.mcd", "Model::MCD:optical", "Marker1"},
};

// Positions per frame survive, and an unseen sample reads back unseen at the position of
// the frame before (TRC leaves its fields empty, AOA and MCD write the origin for it).
TEST(OpticalMarkers, MarkedNodesRoundTripWithPositionsAndOcclusion) {
    for (const Format& f : kFormats) {
        for (const int markers : {1, 3, 40}) {
            TempTestFolder dir;
            ASSERT_TRUE(dir.ok());
            const std::string path = dir.path() + "/" + f.file;
            const int frames = 5;
            TestScene source;
            BuildMarkers(source, markers, frames, 1.0 / 30);
            int error = 0;
            ASSERT_TRUE(Export(source, f.writer, path, frames, 30.0, error)) << f.file << " " << error;

            TestScene back;
            const Imported in = Import(back, f.reader, path);
            ASSERT_TRUE(in.root) << f.file << " error " << in.error;
            EXPECT_STREQ(in.root->GetName(), f.root);
            ASSERT_EQ(in.root->GetChildCount(), markers) << f.file;
            EXPECT_EQ(ShortName(in.root->GetChild(0)), f.firstName);
            EXPECT_EQ(in.frames, frames);
            EXPECT_NEAR(in.period.GetSecondDouble(), 1.0 / 30, 1e-9);
            for (int k = 0; k < markers; ++k) {
                const std::vector<KVector4> s = Samples(in.root->GetChild(k), in);
                ASSERT_EQ(int(s.size()), frames) << f.file;
                for (int j = 0; j < frames; ++j) {
                    const KVector4 keyed = Keyed(k, j);
                    const KVector4 position = keyed[3] == 1.0 ? Keyed(k, j - 1) : keyed;
                    for (int a = 0; a < 3; ++a)
                        EXPECT_NEAR(s[size_t(j)][a], position[a], 1e-4)
                            << f.file << " marker " << k << " frame " << j;
                    EXPECT_EQ(s[size_t(j)][3], keyed[3]) << f.file << " marker " << k << " frame " << j;
                }
            }
        }
    }
}

TEST(OpticalMarkers, WrittenAoaLayout) {
    TempTestFolder dir;
    ASSERT_TRUE(dir.ok());
    TestScene t;
    BuildMarkers(t, 3, 2, 0.5);
    int error = 0;
    ASSERT_TRUE(Export(t, eWriteMcd, dir.path() + "/out.mcd", 2, 2.0, error)) << error;
    EXPECT_EQ(ReadText(dir.path() + "/out.mcd"),
              "frames = 2 markers = 3 Hz = 2\n"
              "0 -1.25 -0.125\n1 -1.25 -1.125\n2 -1.25 -2.125\n"
              "0.5 0.75 -0.125\n1.5 0.75 -1.125\n2.5 0.75 -2.125\n");
}

struct AoaCase {
    const char* what;
    const char* text;
    bool zeroIsUnseen;
    int error;        // -1: read
    int nodes;        // 0: nothing added
    double last[4];   // the last marker at the last frame
};

TEST(OpticalMarkers, AoaFilesAcceptedAndRefused) {
    const int bad = KQovReader::eFileCorrupted;
    const AoaCase cases[] = {
        {"zero is unseen, keeps the frame before", "frames = 2 markers = 1 Hz = 60\n1 2 3\n0 0 0\n",
         true, -1, 1, {1, 2, 3, 1}},
        {"zero is a position", "frames = 2 markers = 1 Hz = 60\n1 2 3\n0 0 0\n", false, -1, 1,
         {0, 0, 0, 0}},
        {"capitals", "FRAMES = 1 MARKERS = 1 HZ = 60\n4 5 6\n", true, -1, 1, {4, 5, 6, 0}},
        {"lines before the header", "recorded today\nby someone\n\nframes = 1 markers = 2 Hz = 30\n"
         "1 1 1\n\n7 8 9 10\n", true, -1, 2, {7, 8, 9, 0}},
        {"tabs", "frames\t=\t1\tmarkers\t=\t1\tHz\t=\t29.97\n-1e2\t2.5\t3\n", true, -1, 1,
         {-100, 2.5, 3, 0}},
        {"no markers", "frames = 3 markers = 0 Hz = 60\n", true, -1, 0, {}},
        {"empty", "", true, bad, 0, {}},
        {"no header", "1 2 3\n4 5 6\n", true, bad, 0, {}},
        {"rate 0", "frames = 1 markers = 1 Hz = 0\n1 2 3\n", true, bad, 0, {}},
        {"rate missing", "frames = 1 markers = 1 Hz =\n1 2 3\n", true, bad, 0, {}},
        {"negative markers", "frames = 1 markers = -1 Hz = 60\n1 2 3\n", true, bad, 0, {}},
        {"negative frames", "frames = -1 markers = 1 Hz = 60\n1 2 3\n", true, bad, 0, {}},
        {"no frames, so no markers", "frames = 0 markers = 65536 Hz = 60\n", true, -1, 0, {}},
        {"last line without its end", "frames = 1 markers = 2 Hz = 60\n1 2 3\n4 5 6", true, -1, 2,
         {4, 5, 6, 0}},
        {"marker count too large for int", "frames = 1 markers = 99999999999 Hz = 60\n", true, bad, 0, {}},
        {"glued equals", "frames=1 markers=1 Hz=60\n1 2 3\n", true, bad, 0, {}},
        {"two numbers", "frames = 1 markers = 1 Hz = 60\n1 2\n", true, bad, 0, {}},
        {"a word", "frames = 1 markers = 1 Hz = 60\n1 two 3\n", true, bad, 0, {}},
        {"a frame short", "frames = 2 markers = 2 Hz = 60\n1 2 3\n1 2 3\n1 2 3\n", true, bad, 0, {}},
    };
    for (const AoaCase& c : cases) {
        TempTestFolder dir;
        ASSERT_TRUE(dir.ok());
        const std::string path = dir.path() + "/case.aoa";
        ASSERT_TRUE(WriteText(path, c.text));
        TestScene t;
        const OptionEdit zeroSeen = [](KStreamOptionsMotion& o) { o.SetSetting(5, 0); };
        const Imported in = Import(t, eReadAoa, path, c.zeroIsUnseen ? nullptr : zeroSeen);
        if (c.error >= 0 || c.nodes == 0) {
            EXPECT_EQ(in.root, nullptr) << c.what;
            EXPECT_EQ(in.error, c.error) << c.what;
            EXPECT_EQ(t.scene->GetRootNode()->GetChildCount(), 0) << c.what;
            continue;
        }
        ASSERT_TRUE(in.root) << c.what << " error " << in.error;
        ASSERT_EQ(in.root->GetChildCount(), c.nodes) << c.what;
        const std::vector<KVector4> s = Samples(in.root->GetChild(c.nodes - 1), in);
        ASSERT_FALSE(s.empty()) << c.what;
        for (int a = 0; a < 4; ++a) EXPECT_NEAR(s.back()[a], c.last[a], 1e-9) << c.what << " axis " << a;
    }
}

// With no frames asked for, nothing but the header's claim would make the nodes: a claim
// the file cannot hold one frame of is refused before any node is made.
TEST(OpticalMarkers, AoaMarkerCountBackedByTheFile) {
    const struct {
        const char* text;
        int nodes;  // -1: refused
    } cases[] = {{"frames = 1 markers = 2 Hz = 60\n1 2 3\n4 5 6\n", 2},
                 {"frames = 1 markers = 1000 Hz = 60\n1 2 3\n", -1},
                 {"frames = 1 markers = 2000000000 Hz = 60\n1 2 3\n", -1}};
    for (const auto& c : cases) {
        TempTestFolder dir;
        ASSERT_TRUE(dir.ok());
        const std::string path = dir.path() + "/claim.aoa";
        ASSERT_TRUE(WriteText(path, c.text));
        TestScene t;
        const int before = t.manager.GetNodeCount();
        const Imported in = Import(t, eReadAoa, path, [](KStreamOptionsMotion& o) { o.SetFrameCount(0); });
        if (c.nodes < 0) {
            EXPECT_EQ(in.error, KQovReader::eFileCorrupted) << c.text;
            EXPECT_EQ(t.manager.GetNodeCount(), before) << c.text;
            continue;
        }
        ASSERT_TRUE(in.root) << c.text;
        EXPECT_EQ(in.root->GetChildCount(), c.nodes);
        EXPECT_EQ(in.root->GetChild(0)->GetCurrentTakeNode()->GetTranslationX()->KeyGetCount(), 0);
    }
}

TEST(OpticalMarkers, FactoryMakesEachFormat) {
    const struct {
        int id;
        bool reader;
        const char* description;
    } cases[] = {
        {eReadTrc, true, "Motion Analysis TRC File Importer"},
        {eReadAoa, true, "Adaptive Optics AOA File Importer"},
        {eReadMcd, true, "Superfluo MCD File Importer"},
        {eWriteTrc, false, "Motion Analysis TRC File Exporter"},
        {eWriteAoa, false, "Adaptive Optics AOA File Exporter"},
        {eWriteMcd, false, "Superfluo MCD File Exporter"},
    };
    TestScene t;
    for (const auto& c : cases) {
        if (c.reader) {
            std::unique_ptr<KQovReader> r(KQovMakeFormatReader(c.id, &t.manager));
            auto* optical = dynamic_cast<KQovOpticalReader*>(r.get());
            ASSERT_TRUE(optical) << c.id;
            EXPECT_STREQ(optical->GetDescription().Buffer(), c.description);
        } else {
            std::unique_ptr<KQovWriter> w(KQovMakeFormatWriter(c.id, &t.manager));
            auto* optical = dynamic_cast<KQovOpticalWriter*>(w.get());
            ASSERT_TRUE(optical) << c.id;
            EXPECT_STREQ(optical->GetDescription().Buffer(), c.description);
        }
    }
}

// Two markers named alike: refused, with the root and its markers gone from the manager,
// unless the names are made unique first.
TEST(OpticalMarkers, DuplicateNamesRefusedCleanlyOrRenamed) {
    const std::string text =
        "PathFileType\t4\t(X/Y/Z)\tdup.trc\n"
        "DataRate\tCameraRate\tNumFrames\tNumMarkers\tUnits\tOrigDataRate\tOrigDataStartFrame\tOrigNumFrames\n"
        "30\t30\t1\t2\tmm\t30\t1\t1\n"
        "Frame#\tTime\tA\t\t\tA\t\t\t\n"
        "\t\tX1\tY1\tZ1\tX2\tY2\tZ2\n"
        "1\t0\t1\t2\t3\t4\t5\t6\n";
    TempTestFolder dir;
    ASSERT_TRUE(dir.ok());
    const std::string path = dir.path() + "/dup.trc";
    ASSERT_TRUE(WriteText(path, text));
    for (const bool unique : {false, true}) {
        TestScene t;
        const int nodesBefore = t.manager.GetNodeCount();
        const OptionEdit makeUnique = [](KStreamOptionsMotion& o) { o.SetSetting(17, 1); };
        const Imported in = Import(t, eReadTrc, path, unique ? makeUnique : nullptr);
        if (!unique) {
            EXPECT_EQ(in.root, nullptr);
            EXPECT_EQ(in.error, KQovReader::eFileCorrupted);
            EXPECT_EQ(t.manager.GetNodeCount(), nodesBefore);
            continue;
        }
        ASSERT_TRUE(in.root);
        ASSERT_EQ(in.root->GetChildCount(), 2);
        EXPECT_EQ(ShortName(in.root->GetChild(1)), "A 1");
    }
}

TEST(OpticalMarkers, FailedWritesAreReported) {
    for (const Format& f : kFormats) {
        TestScene t;
        BuildMarkers(t, 2, 3, 1.0 / 30);
        int error = 0;
        EXPECT_FALSE(Export(t, f.writer, "/dev/full", 3, 30.0, error)) << f.file;
        EXPECT_EQ(error, KQovWriter::eOutOfDiskSpace) << f.file;
        std::unique_ptr<KQovWriter> writer(KQovMakeFormatWriter(f.writer, &t.manager));
        EXPECT_FALSE(writer->FileCreate("/nonexistent-folder/x"));
        EXPECT_STREQ(writer->GetLastErrorString(), "Cannot open file \"/nonexistent-folder/x\" for writing.");
    }
}

}  // namespace
