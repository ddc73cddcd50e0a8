// Frame counts that headers claim: memory follows the frames a file holds, never the count in
// its header, and files of many frames still read whole.
#include <gtest/gtest.h>

#include <cstddef>
#include <fstream>
#include <memory>
#include <string>

#include "MotionTestHelpers.h"
#include "animation/KFCurve.h"
#include "animation/KQovTakeNode.h"
#include "common/TempTestFolder.h"
#include "formats/motion/bvh/KQovReaderBvh.h"
#include "formats/motion/htr/KQovReaderHtr.h"
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

std::string Htr(const std::string& claimed, int lines) {
    std::string text =
        "[Header]\nFileType htr\nDataType HTRS\nFileVersion 1\nNumSegments 2\nNumFrames " +
        claimed +
        "\nDataFrameRate 30\nEulerRotationOrder ZYX\nCalibrationUnits mm\nRotationUnits "
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

TEST(MotionFrameCountClaim, BvhKeysFollowTheFramesRead) {
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

TEST(MotionFrameCountClaim, HtrFramesFollowTheLinesRead) {
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

}  // namespace
