// A field's values handed out as the file stores them, and the cursor moved over those taken.

#include <cstring>
#include <string>

#include "FieldFileTestUtil.h"
#include "fieldfile/KQovFieldFile.h"

using qovtest::Encode;
using qovtest::Rec;
using qovtest::TempFolder;

namespace {

// A binary file of one field "Values" = 7 (I), 2.5 (D), 'x' (C), "text" (S), 9 (I) and a
// second field after it.
std::string ValuesFile() {
    std::string bytes = qovtest::BinaryStart(6000);
    Rec values("Values");
    values.I(7).D(2.5);
    values.Raw("Cx");
    ++values.count;
    values.S("text").I(9);
    Encode(bytes, values);
    Encode(bytes, Rec("After").I(11));
    return bytes + qovtest::NullRecord();
}

}  // namespace

TEST(KQovFieldFileStoredBytes, BytesFromTheCursorAndSkipsOverThem) {
    TempFolder tmp;
    const std::string name = tmp / "stored.qov";
    qovtest::WriteAll(name, ValuesFile());
    KQovFieldFile in;
    ASSERT_TRUE(in.Open(name.c_str(), false, true, nullptr)) << in.GetLastErrorString();
    size_t size = 0;
    EXPECT_EQ(in.FieldReadStoredBytes(size), nullptr);  // no field open
    ASSERT_TRUE(in.FieldReadBegin("Values"));
    const uint8_t* bytes = in.FieldReadStoredBytes(size);
    ASSERT_NE(bytes, nullptr);
    // 'I' + 4, 'D' + 8, 'C' + 1, 'S' + 4 + 4, 'I' + 4: the list and nothing after it.
    ASSERT_EQ(size, 5u + 9u + 2u + 9u + 5u);
    EXPECT_EQ(bytes[0], 'I');
    EXPECT_EQ(bytes[5], 'D');
    EXPECT_EQ(bytes[14], 'C');
    EXPECT_EQ(bytes[15], 'x');

    const struct {
        int values;
        size_t bytes;
        int remain;  // after the skip
        char next;   // the type then at the cursor
    } steps[] = {
        {2, 14, 3, 'C'},   // over the integer and the double
        {0, 0, 3, 'C'},    // nothing
        {-1, 1, 3, 'C'},   // a count below zero moves nothing
        {4, 100, 3, 'C'},  // more values than are left: refused
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.values);
        in.FieldReadSkipStored(s.values, s.bytes);
        EXPECT_EQ(in.FieldReadGetRemain(), s.remain);
        EXPECT_EQ(in.FieldReadGetType(), s.next);
    }
    const uint8_t* rest = in.FieldReadStoredBytes(size);
    EXPECT_EQ(rest, bytes + 14);
    EXPECT_EQ(size, 16u);
    EXPECT_EQ(in.FieldReadCh(), 'x');
    EXPECT_STREQ(in.FieldReadC(), "text");
    EXPECT_EQ(in.FieldReadI(), 9);
    EXPECT_EQ(in.FieldReadStoredBytes(size), nullptr);  // all read
    EXPECT_EQ(size, 0u);
    in.FieldReadEnd();
    EXPECT_EQ(in.FieldReadI("After", 0), 11);
}

TEST(KQovFieldFileStoredBytes, NoneForAsciiFiles) {
    TempFolder tmp;
    const std::string name = tmp / "stored.qov";
    qovtest::WriteAll(name, "; QOV 6.0.0 project file\nValues: 7,2.5,x\n");
    KQovFieldFile in;
    ASSERT_TRUE(in.Open(name.c_str(), false, true, nullptr)) << in.GetLastErrorString();
    ASSERT_TRUE(in.FieldReadBegin("Values"));
    size_t size = 1;
    EXPECT_EQ(in.FieldReadStoredBytes(size), nullptr);
    EXPECT_EQ(size, 0u);
    in.FieldReadSkipStored(0, 0);
    EXPECT_EQ(in.FieldReadI(), 7);
}
