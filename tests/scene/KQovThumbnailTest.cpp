#include <gtest/gtest.h>

#include <algorithm>

#include "scene/KQovThumbnail.h"

namespace {

// Every format and size, then a format change after SetSize: the reported
// byte count always matches the image held; a new pixel size zeroes it.
TEST(KQovThumbnail, FormatsSizesAndFormatChanges) {
    struct Case {
        int32_t format, size, bytes, newFormat, newBytes;
    };
    const Case cases[] = {
        {0, 64, 12288, 1, 16384}, {0, 128, 49152, 1, 65536}, {1, 64, 16384, 0, 12288},
        {1, 128, 65536, 2, 65536}, {0, 128, 49152, 0, 49152}, {7, 64, 16384, 1, 16384},
        {0, 100, 0, 1, 0},         {1, 0, 0, 0, 0},           {1, 256, 0, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.format << " " << c.size << " " << c.newFormat);
        KQovThumbnail thumbnail;
        EXPECT_EQ(thumbnail.GetImage(), nullptr);
        thumbnail.SetDataFormat(c.format);
        thumbnail.SetSize(c.size);
        EXPECT_EQ(thumbnail.GetSize(), c.size);
        ASSERT_EQ(thumbnail.GetSizeInBytes(), c.bytes);
        ASSERT_EQ(thumbnail.GetImage() != nullptr, c.bytes != 0);
        if (c.bytes) std::fill(thumbnail.GetImage(), thumbnail.GetImage() + c.bytes, uint8_t(9));

        thumbnail.SetDataFormat(c.newFormat);
        EXPECT_EQ(thumbnail.GetDataFormat(), c.newFormat);
        ASSERT_EQ(thumbnail.GetSizeInBytes(), c.newBytes);
        ASSERT_EQ(thumbnail.GetImage() != nullptr, c.newBytes != 0);
        if (c.newBytes) {
            uint8_t* image = thumbnail.GetImage();
            uint8_t expected = c.newBytes == c.bytes ? 9 : 0;
            // Every reported byte is there (ASan checks the reads).
            EXPECT_TRUE(std::all_of(image, image + c.newBytes, [&](uint8_t b) { return b == expected; }));
        }
    }
    KQovThumbnail thumbnail;
    thumbnail.SetSize(128);
    thumbnail.GetImage()[0] = 1;
    thumbnail.SetSize(64);  // a new size is a new zeroed image
    EXPECT_EQ(thumbnail.GetImage()[0], 0);
}

}  // namespace
