// Numbers that motion file headers give: memory follows the frames a file holds, never the
// count in its header (and files of many frames still read whole); rates and versions at the
// ends of the range of a double are read and written back without leaving the range of an int.
#include <gtest/gtest.h>

#include <cstddef>
#include <fstream>
#include <memory>
#include <string>

#include "MotionTestHelpers.h"
#include "animation/KFCurve.h"
#include "animation/KQovTakeNode.h"
#include "common/TempTestFolder.h"
#include "formats/motion/asf/KQovReaderAsf.h"
#include "formats/motion/bvh/KQovReaderBvh.h"
#include "formats/motion/htr/KQovReaderHtr.h"
#include "formats/motion/htr/KQovWriterHtr.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovNode.h"

#if defined(__SANITIZE_ADDRESS__)
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

using namespace motiontest;

namespace {

// Bytes held on the heap now; 0 when the build cannot tell.
size_t HeapBytes() {
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    return 0;
#endif
}

const char kBvhHierarchy[] =
    "HIERARCHY\nROOT hips\n{\n OFFSET 0 0 0\n CHANNELS 6 Xposition Yposition Zposition "
    "Zrotation Xrotation Yrotation\n JOINT knee\n {\n  OFFSET 0 -4 0\n  CHANNELS 3 Zrotation "
    "Xrotation Yrotation\n  End Site\n  {\n   OFFSET 0 -4 0\n  }\n }\n}\n";

std::string Bvh(const std::string& claimed, int lines) {
    std::string text = kBvhHierarchy;
    text += "MOTION\nFrames: " + claimed + "\nFrame Time: 0.04\n";
    for (int f = 0; f < lines; ++f) text += std::to_string(f) + " 0 0 0 0 0 0 0 0\n";
    return text;
}

std::string Htr(const std::string& claimed, int lines, const std::string& rate = "30") {
    std::string text =
        "[Header]\nFileType htr\nDataType HTRS\nFileVersion 1\nNumSegments 2\nNumFrames " +
        claimed + "\nDataFrameRate " + rate +
        "\nEulerRotationOrder ZYX\nCalibrationUnits mm\nRotationUnits "
        "Degrees\nGlobalAxisofGravity Y\nBoneLengthAxis Y\nScaleFactor 1.00\n"
        "[SegmentNames&Hierarchy]\nhip\tGLOBAL\nknee\thip\n[BasePosition]\n"
        "hip\t0\t80\t0\t0\t0\t0\t10\nknee\t0\t10\t0\t0\t0\t0\t8\n";
    for (const char* segment : {"hip", "knee"}) {
        text += std::string("[") + segment + "]\n";
        for (int f = 0; f < lines; ++f)
            text += std::to_string(f + 1) + "\t" + std::to_string(f) + "\t0\t0\t0\t0\t0\t1\n";
    }
    return text + "[EndOfFile]\n";
}

struct Outcome {
    bool read = false;
    int error = -1;
    int keys = -1;          // translation X keys of the top joint
    double last = 0.0;      // its last key's value
    size_t heapGrowth = 0;  // heap still held after the read (the scene keeps the curves)
};

template <class Reader>
Outcome Import(const std::string& text, const char* extension) {
    TempTestFolder folder;
    const std::string path = folder / (std::string("claim.") + extension);
    std::ofstream(path, std::ios::binary) << text;
    TestScene test;
    Outcome out;
    const size_t before = HeapBytes();
    {
        Reader reader(&test.manager);
        if (!reader.FileOpen(path.c_str())) return out;
        std::unique_ptr<KStreamOptions> options(reader.GetReadOptions(true));
        if (!options) return out;
        static_cast<KStreamOptionsMotion&>(*options).SetSetting(8, 0);
        out.read = reader.Read(test.scene, options.get());
        out.error = reader.GetLastErrorID();
    }
    const size_t after = HeapBytes();
    out.heapGrowth = after > before ? after - before : 0;
    KQovNode* top = test.scene->GetRootNode()->GetChild(0);
    KQovTakeNode* take = top ? top->GetCurrentTakeNode() : nullptr;
    if (KFCurve* curve = take ? take->GetTranslationX() : nullptr) {
        out.keys = curve->KeyGetCount();
        if (out.keys > 0) out.last = curve->KeyGet(out.keys - 1)->GetValue();
    }
    return out;
}

// Two hundred thousand claimed frames keyed on every curve would take tens of megabytes.
constexpr size_t kHeapBound = 8u << 20;

TEST(MotionHeaderValues, BvhKeysFollowTheFramesRead) {
    struct Row {
        const char* name;
        std::string claimed;
        int lines;
        bool read;
        int keys;
    } rows[] = {
        {"as claimed", "3", 3, true, 3},
        // Past the first room made for keys: the curves grow and keep every key.
        {"many frames", "5000", 5000, true, 5000},
        {"claims more than it holds", "200000", 3, false, 3},
        {"claims the most an int holds", "2147483647", 2, false, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Outcome out = Import<KQovReaderBvh>(Bvh(row.claimed, row.lines), "bvh");
        EXPECT_EQ(out.read, row.read);
        if (!row.read) {
            EXPECT_EQ(out.error, KQovReader::eFileCorrupted);
        }
        EXPECT_EQ(out.keys, row.keys);
        EXPECT_DOUBLE_EQ(out.last, row.keys - 1);
        if (row.lines < 10) {
            EXPECT_LT(out.heapGrowth, kHeapBound);
        }
    }
}

TEST(MotionHeaderValues, HtrFramesFollowTheLinesRead) {
    struct Row {
        const char* name;
        std::string claimed;
        int lines;
        bool read;
    } rows[] = {
        {"as claimed", "3", 3, true},
        {"claims more than it holds", "200000", 3, false},
        {"claims the most an int holds", "2147483647", 3, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Outcome out = Import<KQovReaderHtr>(Htr(row.claimed, row.lines), "htr");
        EXPECT_EQ(out.read, row.read);
        if (row.read) {
            EXPECT_EQ(out.keys, row.lines);
        } else {
            EXPECT_EQ(out.error, KQovReader::eFileCorrupted);
        }
        EXPECT_LT(out.heapGrowth, kHeapBound);
    }
}

// The highest rate a file gives is written back as a rate the reader takes again.
TEST(MotionHeaderValues, HtrRatesBeyondAnIntPeriodComeBack) {
    for (const char* rate : {"30", "1000000", "2147483647"}) {
        SCOPED_TRACE(rate);
        TempTestFolder folder;
        const std::string in = folder / "in.htr", out = folder / "out.htr";
        std::ofstream(in, std::ios::binary) << Htr("3", 3, rate);
        TestScene test;
        KQovReaderHtr reader(&test.manager);
        ASSERT_TRUE(reader.FileOpen(in.c_str()));
        std::unique_ptr<KStreamOptions> read(reader.GetReadOptions(true));
        ASSERT_TRUE(read);
        ASSERT_TRUE(reader.Read(test.scene, read.get()));
        const auto& readMotion = static_cast<KStreamOptionsMotion&>(*read);
        KQovWriterHtr writer(&test.manager);
        ASSERT_TRUE(writer.FileCreate(out.c_str()));
        std::unique_ptr<KStreamOptions> written(writer.GetWriteOptions());
        auto& motion = static_cast<KStreamOptionsMotion&>(*written);
        motion.SetFrameCount(readMotion.GetFrameCount());
        motion.SetFrameRate(readMotion.GetTimeMode(), readMotion.GetFrameRate());
        ASSERT_TRUE(writer.Write(test.scene, written.get()));
        ASSERT_TRUE(writer.FileClose());

        KQovReaderHtr again(&test.manager);
        ASSERT_TRUE(again.FileOpen(out.c_str()));
        std::unique_ptr<KStreamOptions> back(again.GetReadOptions(true));
        ASSERT_TRUE(back) << "the written rate is refused";
        EXPECT_EQ(static_cast<KStreamOptionsMotion&>(*back).GetFrameCount(), 3);
        EXPECT_GT(static_cast<KStreamOptionsMotion&>(*back).GetFrameRate(), 0.0);
    }
}

// Versions out of the range of an int are only a warning: the skeleton reads.
TEST(MotionHeaderValues, AsfVersionsOfAnyDoubleRead) {
    const std::string skeleton =
        ":name test\n:units\n  length 1.0\n  angle deg\n:root\n  order TX TY TZ RX RY RZ\n  "
        "axis XYZ\n  position 0 0 0\n  orientation 0 0 0\n:bonedata\n  begin\n    id 1\n    "
        "name hip\n    direction 0 0 1\n    length 10\n    axis 0 0 0 XYZ\n  end\n:hierarchy\n  "
        "begin\n    root hip\n  end\n";
    for (const char* version : {"1.10", "1e300", "-1e300", "nan", "inf"}) {
        SCOPED_TRACE(version);
        TempTestFolder folder;
        const std::string path = folder / "s.asf";
        std::ofstream(path, std::ios::binary) << ":version " << version << "\n" << skeleton;
        TestScene test;
        KQovReaderAsf reader(&test.manager);
        ASSERT_TRUE(reader.FileOpen(path.c_str()));
        std::unique_ptr<KStreamOptions> options(reader.GetReadOptions(true));
        ASSERT_TRUE(options);
        EXPECT_TRUE(reader.Read(test.scene, options.get()));
    }
}

}  // namespace
