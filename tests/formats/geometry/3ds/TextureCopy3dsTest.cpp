#include <gtest/gtest.h>

#include "Test3ds.h"
#include "formats/geometry/3ds/TextureCopy3ds.h"
#include "platform/KPlatformFile.h"

namespace {

TEST(TextureCopy3ds, CopiesOnceAndReportsFailures) {
    TempTestFolder source("tsrc"), target("tdst");
    const std::string image = source / "brick.tga";
    WriteBytes3ds(image, Bytes3ds(3000, 7));  // spans several blocks
    const std::string file3ds = target / "scene.3ds";
    std::string status;
    EXPECT_TRUE(CopyTextureFile3ds(image.c_str(), file3ds.c_str(), status));
    EXPECT_EQ(ReadBytes3ds(target / "brick.tga").size(), 3000u);
    // Already there: left alone.
    WriteBytes3ds(target / "brick.tga", Bytes3ds(5, 1));
    EXPECT_TRUE(CopyTextureFile3ds(image.c_str(), file3ds.c_str(), status));
    EXPECT_EQ(ReadBytes3ds(target / "brick.tga").size(), 5u);
    EXPECT_TRUE(status.empty());

    const std::string missing = source / "none.tga";
    EXPECT_FALSE(CopyTextureFile3ds(missing.c_str(), file3ds.c_str(), status));
    EXPECT_EQ(status, "Unable to locate texture file \"" + missing + "\".\n");
    status.clear();
    const std::string nowhere = target / "no/such/folder/scene.3ds";
    EXPECT_FALSE(CopyTextureFile3ds(image.c_str(), nowhere.c_str(), status));
    EXPECT_EQ(status,
              "Error writing texture file \"" + target / "no/such/folder/brick.tga" + "\".\n");
    // A source that opens but cannot be read: the half-made copy goes again.
    status.clear();
    const std::string folder = source / "folder.tga";
    ASSERT_TRUE(KPlatformMakeDirectory(folder.c_str()));
    EXPECT_FALSE(CopyTextureFile3ds(folder.c_str(), file3ds.c_str(), status));
    EXPECT_FALSE(KPlatformPathExists((target / "folder.tga").c_str()));
    EXPECT_EQ(status, "Error writing texture file \"" + target / "folder.tga" + "\".\n");
}

}  // namespace
