#include <gtest/gtest.h>

#include "Test3ds.h"
#include "formats/geometry/3ds/Context3ds.h"

namespace {

TEST(Context3ds, ErrorStackKeepsNineteenThenOverflowThenNErrors) {
    Context3ds ctx;
    PushError3ds(ctx, 0);
    EXPECT_FALSE(ctx.ErrorPending());
    for (int i = 0; i < 19; ++i) PushError3ds(ctx, 1 + i % 5);
    EXPECT_TRUE(ctx.ErrorPending());
    EXPECT_EQ(ctx.ErrorCount(), 19);
    EXPECT_EQ(ctx.ErrorAt(18).code, 1 + 18 % 5);
    EXPECT_EQ(ctx.ErrorAt(19).code, 0);
    EXPECT_EQ(ctx.OverflowError().code, 0);
    PushError3ds(ctx, ERR_STRING_TOO_LONG);
    EXPECT_EQ(ctx.OverflowError().code, ERR_STRING_TOO_LONG);
    EXPECT_STREQ(ctx.OverflowError().message, GetErrorMessage3ds(ERR_STRING_TOO_LONG));
    PushError3ds(ctx, ERR_NO_MEM);
    PushError3ds(ctx, ERR_NO_MEM);
    EXPECT_EQ(ctx.OverflowError().code, N_ERRORS);
    EXPECT_STREQ(ctx.OverflowError().message,
                 "N_ERRORS: More errors were reported then could be recorded.");
    EXPECT_EQ(ctx.ErrorAt(0).code, 1);
    ClearErrors3ds(ctx);
    EXPECT_FALSE(ctx.ErrorPending());
    EXPECT_EQ(ctx.ErrorCount(), 0);
}

TEST(Context3ds, MessagesOfCodes) {
    EXPECT_STREQ(GetErrorMessage3ds(0), "NO_FTK_ERRORS: No errors are pending");
    EXPECT_STREQ(GetErrorMessage3ds(19),
                 "ERR_TOO_MANY_FILES: The toolkit has reached its maximum open file limit of "
                 "252 files.");
    EXPECT_STREQ(GetErrorMessage3ds(20), "Unknown error code was encountered");
    EXPECT_STREQ(GetErrorMessage3ds(ERR_PUT_FAILED), "Unknown error code was encountered");
    EXPECT_STREQ(GetErrorMessage3ds(-1), "Unknown error code was encountered");
}

TEST(Context3ds, FileTableHolds252FilesAndReusesFreedSlots) {
    TempPath3ds temp("f");
    Context3ds ctx;
    std::vector<File3ds*> files;
    for (int i = 0; i < 253; ++i) {
        std::string name = temp.path + std::to_string(i);
        WriteBytes3ds(name, {1});
        File3ds* file = OpenFile3ds(ctx, name.c_str(), "rb");
        if (i < 252) {
            ASSERT_NE(file, nullptr) << i;
            EXPECT_EQ(file->slot, i);
            files.push_back(file);
        } else {
            EXPECT_EQ(file, nullptr);
            EXPECT_EQ(ctx.ErrorAt(0).code, ERR_TOO_MANY_FILES);
        }
    }
    EXPECT_EQ(ctx.slotCount, 252);
    ClearErrors3ds(ctx);
    CloseFile3ds(ctx, files[17]);
    EXPECT_EQ(GetFileByIndex3ds(ctx, 17), nullptr);
    EXPECT_FALSE(IsFileIndexValid3ds(ctx, 17));
    File3ds* again = OpenFile3ds(ctx, (temp.path + "252").c_str(), "rb");
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->slot, 17);
    EXPECT_EQ(ctx.slotCount, 252);
    CloseAllFiles3ds(ctx);
    EXPECT_EQ(ctx.slotCount, 0);
    EXPECT_FALSE(ctx.ErrorPending());
}

TEST(Context3ds, OpenModesAndSameNameReuse) {
    TempPath3ds temp("m.3ds");
    WriteBytes3ds(temp.path, {1, 2, 3});
    Context3ds ctx;
    File3ds* read = OpenFile3ds(ctx, temp.path.c_str(), "rb");
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->mode, kFileRead3ds);
    EXPECT_EQ(OpenFile3ds(ctx, temp.path.c_str(), "r"), read);
    EXPECT_EQ(ctx.slotCount, 1);
    EXPECT_EQ(FindFileByName3ds(ctx, temp.path.c_str()), read);
    File3ds* other = OpenFile3ds(ctx, (temp.path + "x").c_str(), "wr");
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->mode, kFileWrite3ds);
    EXPECT_EQ(OpenFile3ds(ctx, (temp.path + "y").c_str(), "ab"), nullptr);
    EXPECT_EQ(ctx.ErrorAt(0).code, ERR_INIT_FAILED);
    ClearErrors3ds(ctx);
    EXPECT_EQ(OpenFile3ds(ctx, (temp.path + "missing/z").c_str(), "rb"), nullptr);
    EXPECT_EQ(ctx.ErrorAt(0).code, ERR_OPENING_FILE);
    ClearErrors3ds(ctx);
    EXPECT_EQ(OpenFile3ds(ctx, nullptr, "rb"), nullptr);
    EXPECT_EQ(ctx.ErrorAt(0).code, ERR_INVALID_ARG);
    CloseFile3ds(ctx, nullptr);
    CloseAllFiles3ds(ctx);
}

TEST(Context3ds, ByteOrderIsLittleEndian) {
    const uint8_t bytes[4] = {0x78, 0x56, 0x34, 0x12};
    uint32_t v32 = 0;
    uint16_t v16 = 0;
    CopyValue4Bytes3ds(bytes, &v32);
    CopyValue2Bytes3ds(bytes, &v16);
    EXPECT_EQ(v32, 0x12345678u);
    EXPECT_EQ(v16, 0x5678u);
}

}  // namespace
