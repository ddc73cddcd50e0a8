// The C3D writer's frame-number limits, its note on a start before 0, and the occlusion
// threshold of written samples.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "../MotionTestHelpers.h"
#include "animation/KFCurve.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovMarker.h"
#include "common/TempTestFolder.h"
#include "formats/motion/c3d/C3dTestUtil.h"
#include "formats/motion/c3d/KQovOpticalC3d.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovNode.h"

namespace {

using motiontest::TestScene;

// One marked marker at (1, 2, 3) whose occlusion curve holds `occlusion[f]` at frame f (30 fps).
void BuildMarker(TestScene& t, const std::vector<float>& occlusion) {
    KQovNode* top = t.manager.CreateNode("top");
    t.scene->GetRootNode()->AddChild(top);
    KQovNode* node = t.manager.CreateNode("m");
    KQovMarker* marker = t.manager.CreateMarker();
    marker->SetType(KQovMarker::eOptical);
    node->SetNodeAttribute(marker);
    node->SetMarked(true);
    node->SetLocalTranslation(1.0, 2.0, 3.0);
    top->AddChild(node);
    node->AddTakeNode("take");
    node->SetCurrentTakeNode("take");
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

Written Write(TestScene& t, const std::string& path, double startSeconds, int frames, bool floats) {
    KQovWriterC3d writer(&t.manager);
    if (!writer.FileCreate(path.c_str())) return {false, writer.GetLastErrorID(), ""};
    std::unique_ptr<KStreamOptions> base(writer.GetWriteOptions());
    auto* options = static_cast<KStreamOptionsMotion*>(base.get());
    options->SetFrameRate(0, 30.0);
    KTime start;
    start.SetSecondDouble(startSeconds);
    options->SetStartTime(start);
    options->SetFrameCount(frames);
    options->SetSetting(12, floats ? 1 : 0);
    Written w{writer.Write(t.scene, options), writer.GetLastErrorID(), ""};
    KString status;
    writer.GetStatusText(status);
    w.status = status.Buffer();
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
    };
    for (const auto& c : cases) {
        TempTestFolder dir;
        ASSERT_TRUE(dir.ok());
        const std::string path = dir.path() + "/limits.c3d";
        TestScene t;
        BuildMarker(t, {0.0f});
        const Written w = Write(t, path, c.start, c.frames, true);
        EXPECT_EQ(w.ok, c.ok) << c.start << " " << c.frames;
        if (!c.ok) {
            EXPECT_EQ(w.error, KQovWriter::eUnidentifiedError) << c.start << " " << c.frames;
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

}  // namespace
