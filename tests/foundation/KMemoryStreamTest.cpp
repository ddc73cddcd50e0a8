#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "foundation/KFileStream.h"
#include "foundation/KMemoryStream.h"
#include "foundation/KPath.h"

namespace {

TEST(KMemoryStream, BoundedByTheBuffer) {
    KMemoryStream stream;
    EXPECT_FALSE(stream.IsOpen());
    EXPECT_TRUE(stream.IsEof());
    EXPECT_EQ(stream.Write("x", 1), 0u);
    EXPECT_FALSE(stream.OpenBuffer(nullptr, 4));
    char buffer[4] = {0};
    ASSERT_TRUE(stream.OpenBuffer(buffer, sizeof(buffer)));
    EXPECT_EQ(stream.Write("0123456789", 10), 4u);
    EXPECT_TRUE(stream.IsEof());
    EXPECT_EQ(memcmp(buffer, "0123", 4), 0);
    EXPECT_EQ(stream.Printf("%d", 5), 0);
    EXPECT_FALSE(stream.HasError());
    EXPECT_EQ(stream.Truncate(2), -1);
    EXPECT_FALSE(stream.OpenFile("x"));
    EXPECT_FALSE(stream.SaveAs("x"));
    stream.Close();
    EXPECT_FALSE(stream.IsOpen());
    EXPECT_EQ(stream.Tell(), 0);
}

TEST(KMemoryStream, SeekLikeTheFileStream) {
    char buffer[10] = {0};
    KMemoryStream stream;
    stream.OpenBuffer(buffer, sizeof(buffer));
    EXPECT_EQ(stream.SeekLikeFile(2, -1), 0);
    EXPECT_EQ(stream.Tell(), 9);
    EXPECT_EQ(stream.SeekLikeFile(2, 1), -1);  // beyond the end: clamped
    EXPECT_EQ(stream.Tell(), 10);
    EXPECT_EQ(stream.SeekLikeFile(1, -4), 0);
    EXPECT_EQ(stream.Tell(), 6);
    EXPECT_EQ(stream.SeekLikeFile(1, -100), -1);
    EXPECT_EQ(stream.Tell(), 0);
    EXPECT_EQ(stream.SeekLikeFile(7, 3), 0);  // any other origin is the start
    EXPECT_EQ(stream.Tell(), 3);
    EXPECT_EQ(stream.SeekLikeFile(1, INT64_MAX), -1);
    EXPECT_EQ(stream.Tell(), 10);
    stream.SetPosition(11);
    EXPECT_EQ(stream.Tell(), 10);
    stream.SetPosition(2);
    EXPECT_EQ(stream.Tell(), 2);
}

// The stream's own seek: mode 2 counts back from the end, the target is returned as asked
// even when the position is clamped, any other mode goes to the start.
TEST(KMemoryStream, SeekReturnsTheTargetAndClamps) {
    char buffer[10] = {0};
    const struct {
        int64_t from;  // position before
        int mode;
        int64_t offset;
        int result;
        int64_t position;
    } kCases[] = {
        {0, 2, 1, 9, 9},
        {5, 2, 0, 10, 10},
        {5, 2, 11, -1, 0},
        {5, 2, -3, 13, 10},
        {0, 0, 4, 4, 4},
        {3, 0, -2, -2, 0},
        {3, 0, 12, 12, 10},
        {4, 1, 3, 7, 7},
        {4, 1, -9, -5, 0},
        {4, 1, 6, 10, 10},
        {6, 3, 2, 0, 0},
        {6, -1, 2, 0, 0},
        {6, 1, INT64_MAX, INT_MAX, 10},
        {6, 2, INT64_MIN, INT_MAX, 10},
        {6, 0, int64_t(INT_MIN) - 5, INT_MIN, 0},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::to_string(c.mode) + " " + std::to_string(c.offset));
        KMemoryStream stream;
        ASSERT_TRUE(stream.OpenBuffer(buffer, sizeof(buffer)));
        stream.SetPosition(c.from);
        ASSERT_EQ(stream.Tell(), c.from);
        EXPECT_EQ(stream.Seek(c.mode, c.offset), c.result);
        EXPECT_EQ(stream.Tell(), c.position);
    }
    KMemoryStream closed;
    EXPECT_EQ(closed.Seek(2, 1), 0);
    EXPECT_EQ(closed.Tell(), 0);
    // Reached through the file stream's interface, the same.
    KMemoryStream stream;
    stream.OpenBuffer(buffer, sizeof(buffer));
    KFileStream& file = stream;
    EXPECT_EQ(file.Seek(2, 1), 9);
    EXPECT_EQ(file.Tell(), 9);
}

TEST(KMemoryStream, ShortReadsAndGets) {
    unsigned char bytes[] = {0x12, 0x34, 0x56, 'a', '\n', 'b'};
    KMemoryStream stream;
    stream.OpenBuffer(bytes, 3);
    uint32_t value = 77;
    EXPECT_EQ(stream.ReadInt32(&value, false), 0u);
    EXPECT_EQ(value, 77u);
    EXPECT_EQ(stream.Tell(), 0);
    uint16_t half = 0;
    EXPECT_EQ(stream.ReadInt16(&half, true), 0x1234);  // swapped, as stored big-endian
    EXPECT_EQ(half, 0x1234);
    uint8_t byte = 0;
    EXPECT_EQ(stream.ReadInt8(&byte), 0x56);
    EXPECT_EQ(stream.ReadInt8(&byte), 0);

    stream.OpenBuffer(bytes, sizeof(bytes));
    stream.Seek(0, 3);
    char line[8] = "zzzz";
    EXPECT_EQ(stream.Gets(line, 0), nullptr);
    EXPECT_EQ(stream.Gets(line, -3), nullptr);
    EXPECT_STREQ(stream.Gets(line, 1), "");
    EXPECT_EQ(stream.Tell(), 3);
    EXPECT_STREQ(stream.Gets(line, sizeof(line)), "a\n");
    EXPECT_STREQ(stream.Gets(line, sizeof(line)), "b");
    EXPECT_EQ(stream.Gets(line, sizeof(line)), nullptr);  // the end, as fgets
    EXPECT_EQ(stream.Gets(nullptr, 4), nullptr);
}

TEST(KMemoryStream, LongPrintfIsCutAtTheBuffer) {
    std::vector<char> buffer(40000, 0);
    KMemoryStream stream;
    stream.OpenBuffer(buffer.data(), buffer.size());
    std::string text(30000, 'p');
    EXPECT_EQ(stream.Printf("%s%d", text.c_str(), 12), 30002);
    EXPECT_EQ(stream.Printf("%s", text.c_str()), 9998);
    EXPECT_EQ(buffer[30000], '1');
    EXPECT_EQ(buffer[39999], 'p');
}

// One random sequence of operations on a file stream and on a memory stream over the same
// bytes gives the same results and leaves the same bytes.
TEST(KMemoryStream, SameResultsAsTheFileStream) {
    std::mt19937 random(5);
    const size_t size = 2000;
    std::vector<unsigned char> initial(size);
    for (auto& b : initial) b = random() % 8 == 0 ? '\n' : static_cast<unsigned char>(random());

    KString path = KGetTempFileName(nullptr, "kmem");
    ASSERT_FALSE(path.IsEmpty());
    {
        KFileStream writer;
        ASSERT_TRUE(writer.Open(path.Buffer(), "wb"));
        ASSERT_EQ(writer.Write(initial.data(), uint32_t(size)), size);
        ASSERT_TRUE(writer.Commit());
    }
    KFileStream file;
    ASSERT_TRUE(file.Open(path.Buffer(), "r+b"));
    std::vector<unsigned char> memory = initial;
    KMemoryStream stream;
    ASSERT_TRUE(stream.OpenBuffer(memory.data(), size));

    for (int step = 0; step < 3000; ++step) {
        int64_t position = stream.Tell();
        int64_t left = int64_t(size) - position;
        int op = int(random() % 8);
        SCOPED_TRACE("step " + std::to_string(step) + " op " + std::to_string(op));
        if (op == 0) {  // write within the size
            unsigned char data[64];
            uint32_t n = uint32_t(std::min<int64_t>(random() % 64, left));
            for (uint32_t i = 0; i < n; ++i) data[i] = static_cast<unsigned char>(random());
            ASSERT_EQ(file.Write(data, n), stream.Write(data, n));
        } else if (op == 1) {
            int origin = int(random() % 3);
            int64_t base = origin == 0 ? 0 : origin == 1 ? position : int64_t(size);
            int64_t target = int64_t(random() % (size + 1));
            ASSERT_EQ(file.Seek(origin, target - base), stream.SeekLikeFile(origin, target - base));
        } else if (op == 2) {
            unsigned char a[100], b[100];
            uint32_t n = random() % 100;
            ASSERT_EQ(file.Read(a, n), stream.Read(b, n));
            ASSERT_EQ(memcmp(a, b, std::min<int64_t>(n, left)), 0);
        } else if (op == 3) {
            char a[50], b[50];
            int n = int(random() % 50) + 1;
            char* ra = file.Gets(a, n);
            char* rb = stream.Gets(b, n);
            ASSERT_EQ(ra == nullptr, rb == nullptr);
            if (ra) {
                ASSERT_EQ(memcmp(a, b, strlen(a) + 1), 0);
            }
        } else if (op == 4 && left >= 4) {
            bool swap = random() % 2;
            uint32_t a = 0, b = 0;
            ASSERT_EQ(file.ReadInt32(&a, swap), stream.ReadInt32(&b, swap));
            ASSERT_EQ(a, b);
        } else if (op == 5 && left >= 2) {
            bool swap = random() % 2;
            uint16_t a = 0, b = 0;
            ASSERT_EQ(file.ReadInt16(&a, swap), stream.ReadInt16(&b, swap));
            ASSERT_EQ(a, b);
        } else if (op == 6 && left >= 1) {
            uint8_t a = 0, b = 0;
            ASSERT_EQ(file.ReadInt8(&a), stream.ReadInt8(&b));
            ASSERT_EQ(a, b);
        } else if (op == 7 && left >= 24) {
            int value = int(random() % 100000) - 50000;
            ASSERT_EQ(file.Printf("<%d|%.3f>", value, value / 7.0),
                      stream.Printf("<%d|%.3f>", value, value / 7.0));
        }
        file.Seek(1, 0);  // stdio wants a seek between reading and writing
        ASSERT_EQ(file.Tell(), stream.Tell());
    }
    file.Close();
    KFileStream reader;
    ASSERT_TRUE(reader.Open(path.Buffer(), "rb"));
    std::vector<unsigned char> onDisk(size);
    ASSERT_EQ(reader.Read(onDisk.data(), uint32_t(size)), size);
    reader.Close();
    EXPECT_EQ(onDisk, memory);
    EXPECT_EQ(KRemoveFile(path.Buffer()), 0);
}

}  // namespace
