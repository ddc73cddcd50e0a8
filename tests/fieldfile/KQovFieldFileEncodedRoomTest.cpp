// Encoded values written in place in the output buffer: the same file as whole-array calls,
// across the buffer's flushes, and no room where the file cannot take them as they are.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "FieldFileTestUtil.h"
#include "fieldfile/KQovFieldFile.h"

using qovtest::ReadAll;
using qovtest::TempFolder;

namespace {

// `count` integers into the field "List", through FieldWriteIn or in place `chunk` at a time.
std::string WriteList(const std::string& name, bool binary, int count, bool inPlace, int chunk) {
    std::vector<int32_t> values(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        values[size_t(i)] = int32_t(int64_t(i) * 7919 % 2000003) - 1000000;
    KQovFieldFile out;
    EXPECT_TRUE(out.Create(name.c_str(), binary, false, nullptr));
    out.FieldWriteBegin("List");
    if (!inPlace) {
        out.FieldWriteIn(values.data(), values.size());
    } else {
        for (int done = 0; done < count; done += chunk) {
            const int n = std::min(chunk, count - done);
            uint8_t* at = out.FieldWriteEncodedRoom(size_t(n) * 5);
            EXPECT_EQ(at != nullptr, binary);
            if (!at) {
                out.FieldWriteIn(values.data() + done, size_t(n));
                continue;
            }
            for (int i = 0; i < n; ++i, at += 5) {
                at[0] = 'I';
                std::memcpy(at + 1, &values[size_t(done + i)], 4);
            }
            EXPECT_TRUE(out.FieldWriteEncodedCommit(size_t(n) * 5, size_t(n)));
        }
    }
    out.FieldWriteEnd();
    EXPECT_TRUE(out.FieldFileClose());
    // The field's record alone: the header before it and the footer after it hold the time of
    // writing. A binary record starts 13 bytes before its name with the offset of its end.
    const std::string bytes = ReadAll(name);
    const size_t list = bytes.find("List");
    if (list == std::string::npos || !binary)
        return list == std::string::npos ? "" : bytes.substr(list);
    if (list < 13) return std::string();
    uint32_t end = 0;
    std::memcpy(&end, bytes.data() + list - 13, 4);
    return end > list && end <= bytes.size() ? bytes.substr(list - 13, end - (list - 13)) : "";
}

}  // namespace

TEST(KQovFieldFileEncodedRoom, SameFileAsWholeArrays) {
    const struct {
        int count, chunk;
    } kCases[] = {{1, 1}, {4096, 4096}, {300000, 4096}, {300000, 1}, {250000, 70001}};
    for (bool binary : {true, false}) {
        for (const auto& c : kCases) {
            SCOPED_TRACE(std::string(binary ? "binary " : "ascii ") + std::to_string(c.count) +
                         " by " + std::to_string(c.chunk));
            TempFolder tmp;
            const std::string whole = WriteList(tmp / "whole.qov", binary, c.count, false, 0);
            const std::string room = WriteList(tmp / "room.qov", binary, c.count, true, c.chunk);
            ASSERT_FALSE(whole.empty());
            EXPECT_TRUE(whole == room);
        }
    }
}

TEST(KQovFieldFileEncodedRoom, NoRoomOutsideAnOpenBinaryField) {
    TempFolder tmp;
    KQovFieldFile out;
    ASSERT_TRUE(out.Create((tmp / "x.qov").c_str(), true, false, nullptr));
    EXPECT_EQ(out.FieldWriteEncodedRoom(5), nullptr);  // no field open
    EXPECT_FALSE(out.FieldWriteEncodedCommit(0, 0));
    out.FieldWriteBegin("List");
    EXPECT_EQ(out.FieldWriteEncodedRoom((size_t(1) << 20) + 1), nullptr);  // past the buffer
    EXPECT_NE(out.FieldWriteEncodedRoom(size_t(1) << 20), nullptr);
    EXPECT_FALSE(out.FieldWriteEncodedCommit((size_t(1) << 20) + 1, 1));
    EXPECT_TRUE(out.FieldWriteEncodedCommit(0, 0));
    out.FieldWriteI(1);
    out.FieldWriteEnd();
    EXPECT_TRUE(out.FieldFileClose());
}
