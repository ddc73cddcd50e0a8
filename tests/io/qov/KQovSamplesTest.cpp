// The samples shipped for the demo stay readable, and read alike in every encoding.
#include <gtest/gtest.h>

#include <string>

#include "fieldfile/KQovFieldFile.h"

namespace {

TEST(KQovSamples, EveryEncodingReadsTheSameTree) {
    for (const char* sample : {"scene.qov", "scene_ascii.qov", "scene_encrypted.qov"}) {
        std::string name = std::string(QOV_SOURCE_DIR) + "/samples/" + sample;
        KQovFieldFile f;
        ASSERT_TRUE(f.FieldFileOpenFile(name.c_str(), true, true, nullptr))
            << sample << ": " << f.GetLastErrorString();
        ASSERT_TRUE(f.FieldReadBegin("Objects"));
        ASSERT_TRUE(f.FieldReadBlockBegin());
        EXPECT_EQ(f.FieldReadGetOccurrenceCount("Model"), 2);
        ASSERT_TRUE(f.FieldReadBegin("Model", 1));
        EXPECT_STREQ(f.FieldReadC(), "Model::Light, \"key\"");
        f.FieldReadEnd();
        f.FieldReadBlockEnd();
        f.FieldReadEnd();
        ASSERT_TRUE(f.FieldReadBegin("Takes"));
        ASSERT_TRUE(f.FieldReadBlockBegin());
        ASSERT_TRUE(f.FieldReadBegin("Take"));
        ASSERT_TRUE(f.FieldReadBlockBegin());
        EXPECT_STREQ(f.FieldReadC("Comment", ""), "first line\nsecond line");
        KTime start, stop;
        f.FieldReadTS("LocalTime", start, stop);
        EXPECT_EQ(stop.Get(), 46186158000ll * 2);
        EXPECT_EQ(f.GetLastErrorID(), -1);
    }
}

}  // namespace
