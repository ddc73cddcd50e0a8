// AOA and MCD marker files, and round trips, written layouts and failed writes of every
// text marker format.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "OpticalTestUtil.h"

namespace {

using namespace optest;

const struct Format {
    int writer, reader;
    const char* file;
    const char* root;
    const char* firstName;
} kFormats[] = {
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
            ASSERT_TRUE(Export(source, f.writer, path, frames, 30.0, error))
                << f.file << " " << error;

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
                    EXPECT_EQ(s[size_t(j)][3], keyed[3])
                        << f.file << " marker " << k << " frame " << j;
                }
            }
        }
    }
}

// The writers' layouts byte for byte, and a full disk or a missing folder reported.
TEST(OpticalMarkers, WrittenLayoutsAndFailedWrites) {
    const struct {
        int writer;
        const char* text;
    } cases[] = {
        {eWriteTrc,
         "PathFileType\t4\t(X/Y/Z)\tVarnoke\t\n"
         "DataRate\tCameraRate\tNumFrames\tNumMarkers\tUnits\tOrigDataRate\tOrigDataStartFrame\tOri"
         "gNumFrames\t\n"
         "2.00\t2.00\t3\t2\tmm\t2.00\t1\t3\t\n"
         "Frame#\tTime\tm0\t\t\tm1\t\t\t\n"
         "\t\tX1\tY1\tZ1\tX2\tY2\tZ2\t\n"
         "\n"
         "1\t0.000\t0.00000\t-12.50000\t-1.25000\t10.00000\t-12.50000\t-11.25000 \n"
         "2\t0.500\t5.00000\t7.50000\t-1.25000\t15.00000\t7.50000\t-11.25000 \n"
         "3\t1.000\t10.00000\t27.50000\t-1.25000\t\t\t \n"},
        {eWriteMcd,
         "frames = 3 markers = 2 Hz = 2\n0 -1.25 -0.125\n1 -1.25 -1.125\n0.5 0.75 -0.125\n"
         "1.5 0.75 -1.125\n1 2.75 -0.125\n0 0 0\n"},
        {eWriteAoa, nullptr},
    };
    for (const auto& c : cases) {
        TempTestFolder dir;
        ASSERT_TRUE(dir.ok());
        TestScene t;
        BuildMarkers(t, 2, 3, 0.5);
        int error = 0;
        if (c.text) {
            ASSERT_TRUE(Export(t, c.writer, dir.path() + "/out", 3, 2.0, error)) << error;
            EXPECT_EQ(ReadText(dir.path() + "/out"), c.text);
        }
        EXPECT_FALSE(Export(t, c.writer, "/dev/full", 3, 2.0, error));
        EXPECT_EQ(error, KQovWriter::eOutOfDiskSpace) << c.writer;
        std::unique_ptr<KQovWriter> writer(KQovMakeFormatWriter(c.writer, &t.manager));
        EXPECT_FALSE(writer->FileCreate("/nonexistent-folder/x"));
        EXPECT_STREQ(writer->GetLastErrorString(),
                     "Cannot open file \"/nonexistent-folder/x\" for writing. The folder "
                     "/nonexistent-folder does not exist.");
    }
}

const OptionEdit kZeroSeen = [](KStreamOptionsMotion& o) { o.SetSetting(5, 0); };
const OptionEdit kNoFrames = [](KStreamOptionsMotion& o) { o.SetFrameCount(0); };

// The header's marker count is checked against the file before any node is made: with no
// frames asked for, nothing else would stop it.
TEST(OpticalMarkers, AoaFilesAcceptedAndRefused) {
    const int bad = KQovReader::eFileCorrupted;
    // clang-format off
    const ReadCase cases[] = {
        {"zero unseen, keeps the frame before", "frames = 2 markers = 1 Hz = 60\n1 2 3\n0 0 0\n", nullptr, -1, 1, -1, {1, 2, 3, 1}, nullptr},
        {"zero is a position", "frames = 2 markers = 1 Hz = 60\n1 2 3\n0 0 0\n", kZeroSeen, -1, 1, -1, {0, 0, 0, 0}, nullptr},
        {"capitals", "FRAMES = 1 MARKERS = 1 HZ = 60\n4 5 6\n", nullptr, -1, 1, -1, {4, 5, 6, 0}, nullptr},
        {"lines before the header", "recorded\nby\n\nframes = 1 markers = 2 Hz = 30\n1 1 1\n\n7 8 9 10\n", nullptr, -1, 2, -1, {7, 8, 9, 0}, nullptr},
        {"tabs", "frames\t=\t1\tmarkers\t=\t1\tHz\t=\t29.97\n-1e2\t2.5\t3\n", nullptr, -1, 1, -1, {-100, 2.5, 3, 0}, nullptr},
        {"last line without its end", "frames = 1 markers = 2 Hz = 60\n1 2 3\n4 5 6", nullptr, -1, 2, -1, {4, 5, 6, 0}, nullptr},
        {"claim held by the file", "frames = 1 markers = 2 Hz = 60\n1 2 3\n4 5 6\n", kNoFrames, -1, 2, -1, {}, nullptr},
        {"no markers", "frames = 3 markers = 0 Hz = 60\n", nullptr, -1, 0, -1, {}, nullptr},
        {"no frames, so no markers", "frames = 0 markers = 65536 Hz = 60\n", nullptr, -1, 0, -1, {}, nullptr},
        {"claim beyond the file", "frames = 1 markers = 1000 Hz = 60\n1 2 3\n", kNoFrames, bad, 0, -1, {}, nullptr},
        {"count beyond int", "frames = 1 markers = 99999999999 Hz = 60\n", nullptr, bad, 0, -1, {}, nullptr},
        {"empty", "", nullptr, bad, 0, -1, {}, nullptr},
        {"no header", "1 2 3\n4 5 6\n", nullptr, bad, 0, -1, {}, nullptr},
        {"rate 0", "frames = 1 markers = 1 Hz = 0\n1 2 3\n", nullptr, bad, 0, -1, {}, nullptr},
        {"rate missing", "frames = 1 markers = 1 Hz =\n1 2 3\n", nullptr, bad, 0, -1, {}, nullptr},
        {"negative markers", "frames = 1 markers = -1 Hz = 60\n1 2 3\n", nullptr, bad, 0, -1, {}, nullptr},
        {"negative frames", "frames = -1 markers = 1 Hz = 60\n1 2 3\n", nullptr, bad, 0, -1, {}, nullptr},
        {"glued equals", "frames=1 markers=1 Hz=60\n1 2 3\n", nullptr, bad, 0, -1, {}, nullptr},
        {"two numbers", "frames = 1 markers = 1 Hz = 60\n1 2\n", nullptr, bad, 0, -1, {}, nullptr},
        {"a word", "frames = 1 markers = 1 Hz = 60\n1 two 3\n", nullptr, bad, 0, -1, {}, nullptr},
        {"a frame short", "frames = 2 markers = 2 Hz = 60\n1 2 3\n1 2 3\n1 2 3\n", nullptr, bad, 0, -1, {}, nullptr},
    };
    // clang-format on
    for (const ReadCase& c : cases) CheckRead(eReadAoa, "case.aoa", c);
}

}  // namespace
