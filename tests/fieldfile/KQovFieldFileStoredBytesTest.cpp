// A field's values handed out as the file stores them, and the cursor moved over those taken.

#include <cstring>
#include <string>

#include "FieldFileTestUtil.h"
#include "fieldfile/KQovFieldFile.h"

using qovtest::Rec;

TEST(KQovFieldFileStoredBytes, BytesFromTheCursorAndSkipsOverThem) {
    // "Values" = 7 (I), 2.5 (D), 'x' (C), "text" (S), 9 (I); a field after it.
    std::string bytes = qovtest::BinaryStart(6000);
    Rec values("Values");
    values.I(7).D(2.5).Raw("Cx").S("text").I(9);
    ++values.count;
    qovtest::Encode(bytes, values);
    qovtest::Encode(bytes, Rec("After").I(11));
    qovtest::TempFolder tmp;
    const std::string name = tmp / "stored.qov";
    qovtest::WriteAll(name, bytes + qovtest::NullRecord());
    KQovFieldFile in;
    ASSERT_TRUE(in.Open(name.c_str(), false, true, nullptr)) << in.GetLastErrorString();
    size_t size = 0;
    EXPECT_EQ(in.FieldReadStoredBytes(size), nullptr);  // no field open
    ASSERT_TRUE(in.FieldReadBegin("Values"));
    const uint8_t* stored = in.FieldReadStoredBytes(size);
    ASSERT_NE(stored, nullptr);
    ASSERT_EQ(size, 5u + 9u + 2u + 9u + 5u);  // the list and nothing after it
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(stored), size), values.values);

    const struct {
        int values;
        size_t bytes;
        int remain;  // after the skip, the next value a 'C'
    } steps[] = {
        {2, 14, 3},   // over the integer and the double
        {0, 0, 3},    // nothing
        {-1, 1, 3},   // a count below zero moves nothing
        {4, 100, 3},  // more values than are left: refused
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.values);
        in.FieldReadSkipStored(s.values, s.bytes);
        EXPECT_EQ(in.FieldReadGetRemain(), s.remain);
        EXPECT_EQ(in.FieldReadGetType(), 'C');
    }
    EXPECT_EQ(in.FieldReadStoredBytes(size), stored + 14);
    EXPECT_EQ(size, 16u);
    EXPECT_EQ(in.FieldReadCh(), 'x');
    EXPECT_STREQ(in.FieldReadC(), "text");
    EXPECT_EQ(in.FieldReadI(), 9);
    EXPECT_EQ(in.FieldReadStoredBytes(size), nullptr);  // all read
    in.FieldReadEnd();
    EXPECT_EQ(in.FieldReadI("After", 0), 11);

    // None for an ASCII file.
    qovtest::WriteAll(name, "; QOV 6.0.0 project file\nValues: 7,2.5,x\n");
    KQovFieldFile text;
    ASSERT_TRUE(text.Open(name.c_str(), false, true, nullptr)) << text.GetLastErrorString();
    ASSERT_TRUE(text.FieldReadBegin("Values"));
    EXPECT_EQ(text.FieldReadStoredBytes(size), nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(text.FieldReadI(), 7);
}

// Values encoded straight into the output buffer read back as written value by value, with
// room asked across the buffer's end; none for ASCII files or past the buffer's size.
TEST(KQovFieldFileStoredBytes, RoomInTheOutputBuffer) {
    qovtest::TempFolder tmp;
    const std::string name = tmp / "room.qov";
    {
        KQovFieldFile ascii;
        ASSERT_TRUE(ascii.Create((tmp / "ascii.qov").c_str(), false, false, nullptr));
        EXPECT_EQ(ascii.FieldWriteEncodedRoom(16), nullptr);
    }
    KQovFieldFile out;
    ASSERT_TRUE(out.Create(name.c_str(), true, false, nullptr));
    EXPECT_EQ(out.FieldWriteEncodedRoom(size_t(64) << 20), nullptr);
    out.FieldWriteBegin("Values");
    out.FieldWriteI(-1);
    const int kCount = 300000;  // past the output buffer several times
    for (int i = 0; i < kCount; i += 1000) {
        uint8_t* at = out.FieldWriteEncodedRoom(1000 * 5 + 16);
        ASSERT_NE(at, nullptr);
        for (int j = i; j < i + 1000; ++j, at += 5) {
            at[0] = 'I';
            std::memcpy(at + 1, &j, 4);
        }
        out.FieldWriteEncodedCommit(1000 * 5, 1000);
    }
    out.FieldWriteD(0.5);
    out.FieldWriteEnd();
    out.FieldWriteBegin("After");
    out.FieldWriteI(11);
    out.FieldWriteEnd();
    ASSERT_TRUE(out.FieldFileClose());
    KQovFieldFile in;
    ASSERT_TRUE(in.Open(name.c_str(), false, true, nullptr)) << in.GetLastErrorString();
    ASSERT_TRUE(in.FieldReadBegin("Values"));
    ASSERT_EQ(in.FieldReadGetRemain(), kCount + 2);
    EXPECT_EQ(in.FieldReadI(), -1);
    for (int i = 0; i < kCount; ++i) ASSERT_EQ(in.FieldReadI(), i);
    EXPECT_EQ(in.FieldReadD(), 0.5);
    in.FieldReadEnd();
    EXPECT_EQ(in.FieldReadI("After", 0), 11);
}
