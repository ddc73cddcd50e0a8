// The sample recordings stored in the three processor forms, as integers and as floats,
// and the damaged files beside them.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "formats/motion/c3d/C3dTestUtil.h"
#include "platform/KPlatformFile.h"

namespace {

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

struct Shape {
    int points, first, last;
    float rate;
};

void ExpectShape(const C3dContent& c, const Shape& s, const char* name) {
    EXPECT_EQ(c.header.pointCount, s.points) << name;
    EXPECT_EQ(c.header.firstFrame, s.first) << name;
    EXPECT_EQ(c.header.lastFrame, s.last) << name;
    EXPECT_EQ(c.header.frameRate, s.rate) << name;
    EXPECT_EQ(c.frames.size(), size_t(s.last - s.first + 1)) << name;
}

struct Recording {
    const char* forms[6];
    int processors[6];
    Shape shape;
    double tolerance;  // in file units
    const char *firstLabel, *lastLabel;
};

const Recording kRecordings[] = {
    {{"sample01-Eb015pr.c3d", "sample01-Eb015pi.c3d", "sample01-Eb015si.c3d", "sample01-Eb015sr.c3d",
      "sample01-Eb015vi.c3d", "sample01-Eb015vr.c3d"},
     {1, 1, 3, 3, 2, 2}, {26, 1, 450, 50.0f}, 0.001, "RFT1", "pv4"},
    {{"sample02-pc_real.c3d", "sample02-pc_int.c3d", "sample02-sgi_int.c3d", "sample02-sgi_real.c3d",
      "sample02-DEC_INT.C3D", "sample02-Dec_real.c3d"},
     {1, 1, 3, 3, 2, 2}, {36, 1, 89, 50.0f}, 0.2812, "RFT1", "LFA3"},
};

TEST(C3dRealFiles, EveryFormReadsTheSameRecording) {
    for (const Recording& rec : kRecordings) {
        C3dContent reference;
        if (!ReadSample(rec.forms[0], reference)) return;
        ExpectShape(reference, rec.shape, rec.forms[0]);
        ASSERT_FALSE(reference.frames.empty());
        ASSERT_EQ(reference.labels.size(), size_t(rec.shape.points));
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
                    if (isInteger && other.processor == eC3dMips && !integer.frames.empty()) {
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
    C3dContent cube, bad;
    if (ReadSample("MyCube.c3d", cube)) ExpectShape(cube, {14, 1, 1, 50.0f}, "MyCube");
    // Read through each record's offset: the POINT parameters are intact.
    if (ReadSample("badParameterOffset.c3d", bad)) {
        ExpectShape(bad, {41, 1, 111, 250.0f}, "badParameterOffset");
        ASSERT_EQ(bad.frames.size(), 111u);
        ASSERT_EQ(bad.frames[9].size(), 41u);
        EXPECT_NEAR(bad.frames[0][0].x, 168.093002, 1e-4);
        EXPECT_NEAR(bad.frames[9][29].y, 731.903015, 1e-4);
        EXPECT_FALSE(bad.frames[0][40].valid);
    }
    const std::string folder = TestDataFolder();
    ASSERT_FALSE(folder.empty()) << "C3D test data folder not found";
    C3dContent empty;
    std::string error;
    EXPECT_FALSE(ReadC3d(folder + "/Empty.c3d", empty, error));
    EXPECT_EQ(error, "The file ends early");
}

}  // namespace
