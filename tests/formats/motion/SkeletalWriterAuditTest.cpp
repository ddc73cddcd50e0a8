// The skeletal writers report a file that did not take their text, never success.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "MotionTestHelpers.h"
#include "common/TempTestFolder.h"
#include "formats/motion/asf/KQovWriterAmc.h"
#include "formats/motion/asf/KQovWriterAsf.h"
#include "formats/motion/bvh/KQovWriterBvh.h"
#include "formats/motion/htr/KQovWriterHtr.h"
#include "io/KStreamOptionsMotion.h"

namespace {

using motiontest::TestScene;

// Write and close through `writer` with `options` (its own when null); the writer's error
// when either fails, -1 when both succeed.
int WriteAndClose(KQovWriter& writer, const std::string& path, TestScene& test,
                  KStreamOptions* options) {
    std::unique_ptr<KStreamOptions> own;
    if (!options) {
        own.reset(writer.GetWriteOptions());
        options = own.get();
    }
    auto* motion = static_cast<KStreamOptionsMotion*>(options);
    motion->SetFrameRate(0, 120.0);
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
        KQovWriterAmc amc(&test.manager);
        EXPECT_EQ(WriteAndClose(amc, path("out.amc"), test, shared.get()), expected) << full;
    }
}

}  // namespace
