// The C3D writer's frame-number limits, its note on a start before 0, and the occlusion
// threshold of written samples.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "../MotionTestHelpers.h"
#include "animation/KFCurve.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovMarker.h"
#include "common/TempTestFolder.h"
#include "formats/motion/c3d/C3dTestUtil.h"
#include "formats/motion/c3d/KMotionFileC3d.h"
#include "formats/motion/c3d/KQovOpticalC3d.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovNode.h"

namespace {

using motiontest::TestScene;

// One marked marker at (x, 2, 3) whose occlusion curve holds `occlusion[f]` at frame f (30 fps).
void BuildMarker(TestScene& t, const std::vector<float>& occlusion, double x = 1.0) {
    KQovNode* top = t.manager.CreateNode("top");
    t.scene->GetRootNode()->AddChild(top);
    KQovNode* node = t.manager.CreateNode("m");
    KQovMarker* marker = t.manager.CreateMarker();
    marker->SetType(KQovMarker::eOptical);
    node->SetNodeAttribute(marker);
    node->SetMarked(true);
    node->SetLocalTranslation(x, 2.0, 3.0);
    top->AddChild(node);
    node->AddTakeNode("take");
    node->SetCurrentTakeNode("take");
    KFCurve* tx = node->GetCurrentTakeNode()->GetTranslationX();
    tx->PrepareKeys(1);
    tx->KeySet(0, KTime(), float(x), KFCURVE_INTERPOLATION_CONSTANT);
    tx->CommitKeys(1);
    KFCurve* curve = node->GetCurrentTakeNode()->GetOcclusion();
    const int n = int(occlusion.size());
    curve->PrepareKeys(n);
    for (int f = 0; f < n; ++f) {
        KTime time;
        time.SetSecondDouble(f / 30.0);
        curve->KeySet(f, time, occlusion[size_t(f)], KFCURVE_INTERPOLATION_CONSTANT);
    }
    curve->CommitKeys(n);
}

struct Written {
    bool ok;
    int error;
    std::string status;
};

Written Write(TestScene& t, const std::string& path, double startSeconds, int frames, bool floats,
              double rate = 30.0) {
    KQovWriterC3d writer(&t.manager);
    if (!writer.FileCreate(path.c_str())) return {false, writer.GetLastErrorID(), ""};
    std::unique_ptr<KStreamOptions> base(writer.GetWriteOptions());
    auto* options = static_cast<KStreamOptionsMotion*>(base.get());
    options->SetFrameRate(0, rate);
    KTime start;
    start.SetSecondDouble(startSeconds);
    options->SetStartTime(start);
    options->SetFrameCount(frames);
    options->SetSetting(12, floats ? 1 : 0);
    Written w{writer.Write(t.scene, options), writer.GetLastErrorID(), ""};
    if (w.ok) w.ok = writer.FileClose();
    KString status;
    writer.GetStatusText(status);
    w.status = status.Buffer();
    if (!w.ok) w.status = writer.GetLastErrorString();
    return w;
}

// Frame numbers the header cannot hold are refused as such, not reported as a full disk; a
// start before frame 0 is written from frame 0 and says so.
TEST(C3dWriterAudit, FrameNumbersTheHeaderCannotHold) {
    const struct {
        double start;
        int frames;
        bool ok;
        int firstFrame;
        bool note;
        double rate = 30.0;  // a header rate its reader would not take back is refused
    } cases[] = {
        // Frame 1 plays at time 0.
        {0.0, 3, true, 1, false},
        {1.0, 3, true, 31, false},
        {-1.0 / 30, 3, true, 0, false},
        {-1.0, 3, true, 0, true},
        {0.0, 32767, true, 1, false},
        {0.0, 32768, false, 0, false},
        {2184.0, 3, true, 65521, false},  // last frame 65523
        {2185.0, 3, false, 0, false},     // first frame 65551
        {2184.4, 3, true, 65533, false},  // last frame 65535
        {2184.5, 3, false, 0, false},     // last frame 65536
        {0.0, 3, true, 1, false, 0.0011},
        {0.0, 3, false, 0, false, 0.0004},
        {0.0, 3, false, 0, false, 2e6},
        {0.0, 3, false, 0, false, 1000050.0},
    };
    for (const auto& c : cases) {
        TempTestFolder dir;
        ASSERT_TRUE(dir.ok());
        const std::string path = dir.path() + "/limits.c3d";
        TestScene t;
        BuildMarker(t, {0.0f});
        const Written w = Write(t, path, c.start, c.frames, true, c.rate);
        EXPECT_EQ(w.ok, c.ok) << c.start << " " << c.frames;
        if (!c.ok) {
            EXPECT_EQ(w.error, KQovWriter::eUnidentifiedError) << c.start << " " << c.frames;
            if (c.rate != 30.0) {
                // Past the fastest rate, the words of every writer; below 0.001, the C3D limit.
                const char* said = c.rate > 1e6 ? "cannot be written: rates above 1000000"
                                                : "frame rates above 0.001";
                EXPECT_NE(w.status.find(said), std::string::npos) << w.status;
            }
            continue;
        }
        EXPECT_EQ(w.status.find("before frame 0") != std::string::npos, c.note) << c.start;
        if (c.frames > 3) continue;
        C3dContent content;
        std::string error;
        ASSERT_TRUE(ReadC3d(path, content, error)) << error;
        EXPECT_EQ(content.header.firstFrame, c.firstFrame) << c.start;
        EXPECT_EQ(content.header.lastFrame, content.header.firstFrame + c.frames - 1);
    }
}

// Marker names beyond the 255 blocks that the parameter section's one-byte count holds are
// refused as such before a record is written, not told as a full disk; the most that fit are
// written whole.
TEST(C3dWriterAudit, MarkerNamesTheParameterSectionCannotHold) {
    const struct {
        int markers;
        size_t nameLength;
        bool ok;
    } cases[] = {{3300, 5, true}, {3350, 5, false}, {1990, 31, true}, {2010, 31, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.markers);
        TempTestFolder dir;
        const std::string path = dir.path() + "/names.c3d";
        std::vector<std::string> names;
        for (int k = 0; k < c.markers; ++k)
            names.push_back(std::string(c.nameLength - std::to_string(k).size(), 'M') +
                            std::to_string(k));
        KMotionFileC3d file;
        ASSERT_EQ(file.Open(path.c_str(), "wb"), 0);
        KMarkerFileInfo info;
        info.markerCount = c.markers;
        info.frameCount = 1;
        info.frameRate = 30.0;
        info.scale = -1.0;
        ASSERT_TRUE(file.WriteHeader(info));
        EXPECT_EQ(file.WriteMarkerNames(names), c.ok);
        const char* refusal = file.GetWriteRefusal();
        EXPECT_EQ(refusal && std::string(refusal).find("at most 255 blocks") != std::string::npos,
                  !c.ok);
        if (!c.ok || !file.WriteFrame(KMarkerFrame(size_t(c.markers)), KTime(), 1)) continue;
        ASSERT_TRUE(file.EndWrite() && file.Close() == 0);
        C3dContent content;
        std::string error;
        ASSERT_TRUE(ReadC3d(path, content, error)) << error;
        EXPECT_GT(content.parameterBlocks, 250);
        EXPECT_EQ(content.labels, names);
    }
}

// A sample is unseen only where its occlusion curve is above 0.5, in both point forms.
TEST(C3dWriterAudit, OcclusionAboveOneHalfIsWrittenInvalid) {
    const std::vector<float> occlusion = {0.0f, 0.5f, 0.51f, 1.0f};
    const bool valid[] = {true, true, false, false};
    for (const bool floats : {true, false}) {
        TempTestFolder dir;
        ASSERT_TRUE(dir.ok());
        const std::string path = dir.path() + "/occlusion.c3d";
        TestScene t;
        BuildMarker(t, occlusion);
        ASSERT_TRUE(Write(t, path, 0.0, 4, floats).ok);
        C3dContent content;
        std::string error;
        ASSERT_TRUE(ReadC3d(path, content, error)) << error;
        ASSERT_EQ(content.frames.size(), 4u);
        for (size_t f = 0; f < 4; ++f) {
            ASSERT_EQ(content.frames[f].size(), 1u);
            EXPECT_EQ(content.frames[f][0].valid, valid[f]) << floats << " frame " << f;
        }
    }
}

// Integer points take the usual scale while it holds every seen one, else the one that does;
// each is rounded to the nearest step. Beyond the largest scale a reader takes, the file is
// refused: a seen point is never clamped and marked unseen.
TEST(C3dWriterAudit, IntegerPointsTakeAScaleThatHoldsThem) {
    const struct {
        double x;  // cm
        float occlusion;
        float scale;  // 0: refused
    } cases[] = {
        {1.01, 0.0f, 0.1449f},      // 69.7 steps: rounded up, not cut to 69
        {474.7, 0.0f, 0.1449f},     // 32760.5 steps, the usual scale's last
        {-500.0, 0.0f, 0.152593f},  // 5 m: 32767 steps of 5000 / 32767 mm
        {2.5e6, 0.0f, 762.963f},    // 25 km
        {4e6, 0.0f, 0.0f},          // 40 km
        {4e6, 1.0f, 0.1449f},       // unseen: it asks for no scale
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.x);
        TempTestFolder dir;
        ASSERT_TRUE(dir.ok());
        const std::string path = dir.path() + "/scale.c3d";
        TestScene t;
        BuildMarker(t, {c.occlusion}, c.x);
        const Written w = Write(t, path, 0.0, 1, false);
        if (c.scale == 0.0f) {
            EXPECT_FALSE(w.ok);
            EXPECT_EQ(w.error, KQovWriter::eUnidentifiedError);
            EXPECT_EQ(w.status,
                      "A marker lies farther from the origin than the 16-bit integers of a C3D "
                      "file hold (32,767 m at the largest scale): write the file with floats.");
            continue;
        }
        ASSERT_TRUE(w.ok) << w.status;
        C3dContent content;
        std::string error;
        ASSERT_TRUE(ReadC3d(path, content, error)) << error;
        EXPECT_NEAR(content.header.scaleFactor, c.scale, c.scale * 1e-5);
        ASSERT_EQ(content.frames.size(), 1u);
        const KC3dPoint& p = content.frames[0][0];
        EXPECT_EQ(p.valid, c.occlusion == 0.0f);
        // The file's X is the scene's -x, in millimetres.
        if (p.valid) {
            EXPECT_LE(std::fabs(p.x + c.x * 10.0), content.header.scaleFactor * 0.5);
        }
    }
}

}  // namespace
