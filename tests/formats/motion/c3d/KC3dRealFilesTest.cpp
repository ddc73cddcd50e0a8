// The sample recordings stored in the three processor forms, as integers and as floats,
// and the damaged files beside them.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "formats/motion/c3d/C3dTestUtil.h"
#include "platform/KPlatformFile.h"

namespace {

std::string TestDataFolder() {
    for (const char* up : {"/../shared/testdata/c3d", "/../../shared/testdata/c3d"}) {
        std::string folder = std::string(QOV_SOURCE_DIR) + up;
        KFileStream probe;
        if (probe.Open((folder + "/MyCube.c3d").c_str(), "rb")) return folder;
    }
    return std::string();
}

// Fails the test with a clear message when the folder is missing.
bool ReadSample(const char* name, C3dContent& out) {
    const std::string folder = TestDataFolder();
    if (folder.empty()) {
        ADD_FAILURE() << "C3D test data folder not found next to " << QOV_SOURCE_DIR;
        return false;
    }
    std::string error;
    bool ok = ReadC3d(folder + "/" + name, out, error);
    EXPECT_TRUE(ok) << name << ": " << error;
    return ok;
}

struct Recording {
    const char* forms[6];
    int processors[6];
    int points, first, last;
    float rate;
    double tolerance;  // in file units
    const char *firstLabel, *lastLabel;
};

const Recording kRecordings[] = {
    {{"sample01-Eb015pr.c3d", "sample01-Eb015pi.c3d", "sample01-Eb015si.c3d", "sample01-Eb015sr.c3d",
      "sample01-Eb015vi.c3d", "sample01-Eb015vr.c3d"},
     {1, 1, 3, 3, 2, 2}, 26, 1, 450, 50.0f, 0.001, "RFT1", "pv4"},
    {{"sample02-pc_real.c3d", "sample02-pc_int.c3d", "sample02-sgi_int.c3d", "sample02-sgi_real.c3d",
      "sample02-DEC_INT.C3D", "sample02-Dec_real.c3d"},
     {1, 1, 3, 3, 2, 2}, 36, 1, 89, 50.0f, 0.2812, "RFT1", "LFA3"},
};

TEST(C3dRealFiles, EveryFormReadsTheSameRecording) {
    for (const Recording& rec : kRecordings) {
        C3dContent reference;
        if (!ReadSample(rec.forms[0], reference)) return;
        const KC3dHeader& h = reference.header;
        EXPECT_EQ(h.pointCount, rec.points);
        EXPECT_EQ(h.firstFrame, rec.first);
        EXPECT_EQ(h.lastFrame, rec.last);
        EXPECT_EQ(h.frameRate, rec.rate);
        ASSERT_EQ(reference.frames.size(), size_t(rec.last - rec.first + 1));
        EXPECT_EQ(reference.labels.front(), rec.firstLabel);
        EXPECT_EQ(reference.labels.back(), rec.lastLabel);
        C3dContent integer;  // the Intel integer form, for the residual and camera bytes
        for (int i = 1; i < 6; ++i) {
            C3dContent other;
            if (!ReadSample(rec.forms[i], other)) continue;
            EXPECT_EQ(other.processor, rec.processors[i]) << rec.forms[i];
            EXPECT_EQ(other.labels, reference.labels) << rec.forms[i];
            ASSERT_EQ(other.frames.size(), reference.frames.size()) << rec.forms[i];
            bool isInteger = other.header.scaleFactor > 0;
            if (i == 1) integer = other;
            for (size_t f = 0; f < other.frames.size(); ++f)
                for (size_t p = 0; p < other.frames[f].size(); ++p) {
                    const KC3dPoint &a = reference.frames[f][p], &b = other.frames[f][p];
                    ASSERT_EQ(a.valid, b.valid) << rec.forms[i] << " frame " << f << " point " << p;
                    if (isInteger && other.processor == eC3dMips) {
                        const KC3dPoint& c = integer.frames[f][p];
                        ASSERT_EQ(b.cameras, c.cameras) << rec.forms[i] << " frame " << f << " point " << p;
                        ASSERT_EQ(b.residual, c.residual) << rec.forms[i] << " frame " << f << " point " << p;
                    }
                    if (!a.valid) continue;
                    ASSERT_NEAR(a.x, b.x, rec.tolerance) << rec.forms[i] << " frame " << f << " point " << p;
                    ASSERT_NEAR(a.y, b.y, rec.tolerance) << rec.forms[i] << " frame " << f << " point " << p;
                    ASSERT_NEAR(a.z, b.z, rec.tolerance) << rec.forms[i] << " frame " << f << " point " << p;
                }
        }
    }
}

TEST(C3dRealFiles, SmallAndDamagedFiles) {
    C3dContent cube;
    if (ReadSample("MyCube.c3d", cube)) {
        EXPECT_EQ(cube.header.pointCount, 14);
        EXPECT_EQ(cube.header.firstFrame, 1);
        EXPECT_EQ(cube.header.lastFrame, 1);
        EXPECT_EQ(cube.header.frameRate, 50.0f);
        EXPECT_LT(cube.header.scaleFactor, 0.0f);
        EXPECT_EQ(cube.frames.size(), 1u);
    }
    // Read through each record's offset: the POINT parameters are intact.
    C3dContent bad;
    if (ReadSample("badParameterOffset.c3d", bad)) {
        EXPECT_EQ(bad.header.pointCount, 41);
        EXPECT_EQ(bad.header.firstFrame, 1);
        EXPECT_EQ(bad.header.lastFrame, 111);
        EXPECT_EQ(bad.header.frameRate, 250.0f);
        ASSERT_EQ(bad.frames.size(), 111u);
        EXPECT_NEAR(bad.frames[0][0].x, 168.093002, 1e-4);
        EXPECT_NEAR(bad.frames[9][29].y, 731.903015, 1e-4);
        EXPECT_FALSE(bad.frames[0][40].valid);
        EXPECT_EQ(bad.frames[0][40].x, 0.0);
    }
    const std::string folder = TestDataFolder();
    ASSERT_FALSE(folder.empty()) << "C3D test data folder not found";
    C3dContent empty;
    std::string error;
    EXPECT_FALSE(ReadC3d(folder + "/Empty.c3d", empty, error));
    EXPECT_EQ(error, "The file ends early");
}

}  // namespace
