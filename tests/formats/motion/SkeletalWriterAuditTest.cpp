// The skeletal writers report a file that did not take their text, never success.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "MotionTestHelpers.h"
#include "animation/KFCurve.h"
#include "animation/KQovTakeNode.h"
#include "attributes/KQovMesh.h"
#include "common/TempTestFolder.h"
#include "formats/motion/asf/KQovWriterAmc.h"
#include "formats/motion/asf/KQovWriterAsf.h"
#include "formats/motion/bvh/KQovWriterBvh.h"
#include "formats/motion/htr/KQovWriterHtr.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovNode.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

namespace {

using motiontest::TestScene;

// Write and close through `writer` with `options` (its own when null); the writer's error
// when either fails, -1 when both succeed.
int WriteAndClose(KQovWriter& writer, const std::string& path, TestScene& test,
                  KStreamOptions* options, double rate = 120.0) {
    std::unique_ptr<KStreamOptions> own;
    if (!options) {
        own.reset(writer.GetWriteOptions());
        options = own.get();
    }
    auto* motion = static_cast<KStreamOptionsMotion*>(options);
    motion->SetFrameRate(0, rate);
    motion->SetFrameCount(20);
    if (!writer.FileCreate(path.c_str())) return writer.GetLastErrorID();
    const bool written = writer.Write(test.scene, options);
    const bool closed = writer.FileClose();
    return written && closed ? -1 : writer.GetLastErrorID();
}

TEST(SkeletalWriterAudit, AFullDiskIsReportedByEveryWriter) {
    TestScene test;
    std::unique_ptr<KStreamOptions> read;
    ASSERT_TRUE(motiontest::ImportCapturedClip(test, 20, read));
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    for (const bool full : {false, true}) {
        const int expected = full ? KQovWriter::eOutOfDiskSpace : -1;
        auto path = [&](const char* name) { return full ? std::string("/dev/full") : folder / name; };
        KQovWriterBvh bvh(&test.manager);
        EXPECT_EQ(WriteAndClose(bvh, path("out.bvh"), test, nullptr), expected) << full;
        KQovWriterHtr htr(&test.manager);
        EXPECT_EQ(WriteAndClose(htr, path("out.htr"), test, nullptr), expected) << full;
        // The skeleton the ASF writer leaves in the options is the one the AMC writer samples.
        KQovWriterAsf asf(&test.manager);
        std::unique_ptr<KStreamOptions> shared(asf.GetWriteOptions());
        EXPECT_EQ(WriteAndClose(asf, path("out.asf"), test, shared.get()), expected) << full;
        // Only a skeleton file that took its place is one a motion file is written with.
        if (full) {
            EXPECT_EQ(WriteAndClose(asf, folder / "out.asf", test, shared.get()), -1);
        }
        KQovWriterAmc amc(&test.manager);
        EXPECT_EQ(WriteAndClose(amc, path("out.amc"), test, shared.get()), expected) << full;
    }
}

// A rate no reader would take back is refused by every writer of a rate, before any file of an
// Acclaim pair is written; the fastest one read is written.
TEST(SkeletalWriterAudit, ARateNoReaderTakesIsRefused) {
    TestScene test;
    std::unique_ptr<KStreamOptions> read;
    ASSERT_TRUE(motiontest::ImportCapturedClip(test, 20, read));
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    for (const double rate : {2e6, 1e6}) {
        const int expected = rate > 1e6 ? KQovWriter::eUnidentifiedError : -1;
        KQovWriterBvh bvh(&test.manager);
        EXPECT_EQ(WriteAndClose(bvh, folder / "out.bvh", test, nullptr, rate), expected) << rate;
        KQovWriterHtr htr(&test.manager);
        EXPECT_EQ(WriteAndClose(htr, folder / "out.htr", test, nullptr, rate), expected) << rate;
        KQovWriterAsf asf(&test.manager);
        std::unique_ptr<KStreamOptions> shared(asf.GetWriteOptions());
        EXPECT_EQ(WriteAndClose(asf, folder / "out.asf", test, shared.get(), rate), -1) << rate;
        KQovWriterAmc amc(&test.manager);
        EXPECT_EQ(WriteAndClose(amc, folder / "out.amc", test, shared.get(), rate), expected)
            << rate;
        if (rate > 1e6) {
            EXPECT_EQ(std::string(amc.GetLastErrorString()).rfind("The rate of 2000000 ", 0), 0u)
                << amc.GetLastErrorString();
        }
    }
}

// A scene of a mesh and a null that stand still holds no joint: every skeletal writer refuses
// it and says why, as it does a scene of no node at all. The same null turning (a 3DS dummy)
// is written as a joint.
TEST(SkeletalWriterAudit, ASceneWithoutJointsOrMotionIsRefused) {
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    for (const char* kind : {"still", "turning", "empty"}) {
        SCOPED_TRACE(kind);
        const bool turning = kind == std::string("turning");
        const bool empty = kind == std::string("empty");
        TestScene test;
        KQovNode* dummy = test.manager.CreateNode("Dummy");
        KQovNode* box = test.manager.CreateNode("Box");
        box->SetNodeAttribute(test.manager.CreateMesh());
        if (!empty) test.scene->GetRootNode()->AddChild(dummy);
        dummy->AddChild(box);
        if (turning) {
            dummy->AddTakeNode("take");
            dummy->SetCurrentTakeNode("take");
            KFCurve* curve = dummy->GetCurrentTakeNode()->GetRotationZ();
            curve->PrepareKeys(2);
            for (int f = 0; f < 2; ++f)
                curve->KeySet(f, KTime(KTime::kOneSecond * f), 90.0f * float(f));
            curve->CommitKeys(2);
        }
        const struct {
            std::unique_ptr<KQovWriter> writer;
            const char* name;
            const char* message;
        } writers[] = {
            {std::make_unique<KQovWriterBvh>(&test.manager), "out.bvh",
             "a BVH file holds skeletons"},
            {std::make_unique<KQovWriterHtr>(&test.manager), "out.htr",
             "an HTR file holds skeletons"},
            {std::make_unique<KQovWriterAsf>(&test.manager), "out.asf",
             "an ASF file holds skeletons"},
            {std::make_unique<KQovWriterAmc>(&test.manager), "out.amc",
             "an AMC file holds skeleton motion"},
        };
        std::unique_ptr<KStreamOptions> shared(writers[2].writer->GetWriteOptions());
        for (const auto& w : writers) {
            SCOPED_TRACE(w.name);
            const bool acclaim = w.name[4] == 'a';
            const int error =
                WriteAndClose(*w.writer, folder / w.name, test, acclaim ? shared.get() : nullptr);
            if (turning) {
                EXPECT_EQ(error, -1) << w.writer->GetLastErrorString();
                continue;
            }
            EXPECT_EQ(error, KQovWriter::eFileNotCreated);
            EXPECT_EQ(
                std::string(w.writer->GetLastErrorString()),
                std::string("Nothing to write: ") + w.message + " only, and the scene holds none");
            // Refused before anything is built: no node's takes were made to look for keys
            // (40,000 nodes would take 780 MB).
            EXPECT_TRUE(dummy->IsDefaultTakeDeferred() && box->IsDefaultTakeDeferred());
        }
    }
}

}  // namespace
