#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "common/FileClock.h"
#include "common/PageFault.h"
#include "common/TempTestFolder.h"
#include "platform/KPlatformMapping.h"

namespace {

// A file of `size` bytes, each a function of its place.
std::string MakeFile(const TempTestFolder& folder, const char* name, size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = char((i * 131 + i / 4096) & 0xFF);
    std::ofstream(folder / name, std::ios::binary).write(bytes.data(), std::streamsize(size));
    return bytes;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(KPlatformFileMapping, RangesOfAFile) {
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    const size_t kSize = 5 * 4096 + 123;
    const std::string bytes = MakeFile(folder, "f.bin", kSize);
    const struct {
        uint64_t offset, size;
        bool ok;
    } kCases[] = {
        {0, kSize, true},
        {1000, 5000, true},  // neither end on a page
        {4096, kSize - 4096, true},
        {kSize - 1, 1, true},
        {0, kSize + 1, false},  // more than the file holds
        {kSize, 1, false},
        {kSize + 4096, 1, false},
        {0, 0, false},  // nothing to map
    };
    FILE* file = std::fopen((folder / "f.bin").c_str(), "rb");
    ASSERT_NE(file, nullptr);
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::to_string(c.offset) + "+" + std::to_string(c.size));
        KPlatformFileMapping mapping;
        ASSERT_EQ(mapping.Map(file, c.offset, c.size), c.ok);
        if (!c.ok) {
            EXPECT_EQ(mapping.GetData(), nullptr);
            continue;
        }
        ASSERT_EQ(mapping.GetSize(), c.size);
        EXPECT_EQ(std::memcmp(mapping.GetData(), bytes.data() + c.offset, size_t(c.size)), 0);
        EXPECT_FALSE(mapping.LostPages());
    }
    KPlatformFileMapping none;
    EXPECT_FALSE(none.Map(nullptr, 0, 1));
    std::fclose(file);
}

// Bytes written into a mapping are the process's own; the file keeps its bytes.
TEST(KPlatformFileMapping, WritesStayPrivate) {
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string bytes = MakeFile(folder, "f.bin", 3 * 4096);
    FILE* file = std::fopen((folder / "f.bin").c_str(), "rb");
    ASSERT_NE(file, nullptr);
    {
        KPlatformFileMapping mapping;
        ASSERT_TRUE(mapping.Map(file, 100, 3 * 4096 - 100));
        std::memset(mapping.GetData() + 4000, 0x7E, 300);  // across a page end
        EXPECT_EQ(mapping.GetData()[4100], 0x7E);
        EXPECT_EQ(mapping.GetData()[0], uint8_t(bytes[100]));
    }
    std::fclose(file);
    EXPECT_EQ(ReadFile(folder / "f.bin"), bytes);
}

// A file cut short under its mapping: the pages it lost read as zeros and are reported, the
// pages it kept still hold its bytes, and another mapping is not affected.
TEST(KPlatformFileMapping, FileCutUnderTheMapping) {
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    const size_t kSize = 16 * 4096;
    const std::string bytes = MakeFile(folder, "cut.bin", kSize);
    MakeFile(folder, "other.bin", kSize);
    FILE* file = std::fopen((folder / "cut.bin").c_str(), "rb");
    FILE* other = std::fopen((folder / "other.bin").c_str(), "rb");
    ASSERT_TRUE(file && other);
    KPlatformFileMapping mapping, untouched;
    ASSERT_TRUE(mapping.Map(file, 0, kSize));
    ASSERT_TRUE(untouched.Map(other, 0, kSize));
    volatile uint8_t sum = 0;
    for (size_t i = 0; i < kSize; i += 4096) sum = uint8_t(sum + mapping.GetData()[i]);
    ASSERT_EQ(truncate((folder / "cut.bin").c_str(), 2 * 4096 + 10), 0);
    const struct {
        size_t at;
        int expected;  // -1: the file's byte
    } kCases[] = {
        {0, -1},
        {2 * 4096 + 9, -1},
        {2 * 4096 + 10, 0},  // the rest of the last page reads as zeros
        {3 * 4096, 0},       // a page the file lost
        {kSize - 1, 0},
        {5 * 4096 + 7, 0},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.at);
        const uint8_t expected = c.expected < 0 ? uint8_t(bytes[c.at]) : uint8_t(c.expected);
        EXPECT_EQ(mapping.GetData()[c.at], expected);
    }
    EXPECT_TRUE(mapping.LostPages());
    EXPECT_FALSE(untouched.LostPages());
    EXPECT_EQ(untouched.GetData()[kSize - 1], uint8_t(ReadFile(folder / "other.bin").back()));
    // Written to, a lost page takes the bytes.
    mapping.GetData()[4 * 4096] = 9;
    EXPECT_EQ(mapping.GetData()[4 * 4096], 9);
    EXPECT_EQ(mapping.GetReadError(), 0);
    mapping.Unmap();
    EXPECT_FALSE(mapping.LostPages());
    std::fclose(file);
    std::fclose(other);
}

// A page the system fails to give: one the file still reaches into is a read error (a failing
// disk), one past the end of a file cut short is not. Mapped from the third page on, so that
// the page's place in the file counts, not its place in the mapping.
TEST(KPlatformFileMapping, PageFailedOrCut) {
    const size_t page = 4096;
    const struct {
        const char* what;
        size_t keep;  // the file's size when the page fails; 0: whole
        size_t at;    // in the mapping
        int error;
    } kCases[] = {
        {"whole file, first page", 0, 10, EIO},
        {"whole file, last page", 0, 3 * page + 5, EIO},
        {"cut, page it still reaches into", 4 * page + 1, 2 * page, EIO},
        {"cut, page past its end", 4 * page + 1, 3 * page, 0},
        {"cut on the page's start", 4 * page, 2 * page + 9, 0},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        TempTestFolder folder;
        ASSERT_TRUE(folder.ok());
        const std::string bytes = MakeFile(folder, "f.bin", 6 * page);
        FILE* file = std::fopen((folder / "f.bin").c_str(), "rb");
        ASSERT_NE(file, nullptr);
        KPlatformFileMapping mapping;
        ASSERT_TRUE(mapping.Map(file, 2 * page, 4 * page));
        std::fclose(file);
        if (c.keep) {
            ASSERT_EQ(truncate((folder / "f.bin").c_str(), off_t(c.keep)), 0);
        }
        ASSERT_TRUE(RaisePageFault(mapping.GetData() + c.at));
        EXPECT_TRUE(mapping.LostPages());
        EXPECT_EQ(mapping.GetReadError(), c.error);
        // The failed page reads as zeros; the others keep the file's bytes.
        const size_t failed = c.at / page * page;
        EXPECT_EQ(mapping.GetData()[failed + page - 1], 0);
        const size_t other = failed == 0 ? page : 0;
        EXPECT_EQ(mapping.GetData()[other], uint8_t(bytes[2 * page + other]));
    }
}

}  // namespace

// What FileChanged tells of a mapped file that another program changes: cut (no page touched
// yet), grown, written in place at the same size (also with its modification time set back
// afterwards, or its own bytes again), or replaced by a new file renamed over it (the mapping
// keeps the old one, which is unchanged).
TEST(KPlatformFileMapping, FileChangedAsksTheSystem) {
    enum Change { eNone, eCut, eGrown, eRewritten, eRewrittenTimeSetBack, eRenamedOver };
    const struct {
        const char* what;
        Change change;
        bool changed;
    } kCases[] = {
        {"untouched", eNone, false},
        {"cut by a byte", eCut, true},
        {"grown by a byte", eGrown, true},
        {"written in place, same size", eRewritten, true},
        {"its own bytes written again, modification time set back", eRewrittenTimeSetBack, true},
        {"replaced by a renamed file", eRenamedOver, false},
    };
    const size_t kSize = 3 * 4096 + 5;
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        TempTestFolder folder;
        ASSERT_TRUE(folder.ok());
        const std::string name = folder / "f.bin";
        const std::string bytes = MakeFile(folder, "f.bin", kSize);
        // Written long ago: a write now gives it another time.
        const struct timespec past[2] = {{1000000000, 0}, {1000000000, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, name.c_str(), past, 0), 0);
        FILE* file = std::fopen(name.c_str(), "rb");
        ASSERT_NE(file, nullptr);
        KPlatformFileMapping mapping;
        ASSERT_TRUE(mapping.Map(file, 100, kSize - 200));
        // The stream may go before the mapping.
        std::fclose(file);
        EXPECT_FALSE(mapping.FileChanged());
        switch (c.change) {
            case eNone:
                break;
            case eCut:
                ASSERT_EQ(truncate(name.c_str(), off_t(kSize - 1)), 0);
                break;
            case eGrown:
                ASSERT_EQ(truncate(name.c_str(), off_t(kSize + 1)), 0);
                break;
            case eRewritten: {
                std::string other = bytes;
                other[kSize / 2] = char(~other[kSize / 2]);
                std::ofstream(name, std::ios::binary).write(other.data(), std::streamsize(kSize));
                break;
            }
            case eRewrittenTimeSetBack:
                // Only the record's time, which no one sets, can tell.
                WaitForTheFileClock();
                std::ofstream(name, std::ios::binary).write(bytes.data(), std::streamsize(kSize));
                ASSERT_EQ(utimensat(AT_FDCWD, name.c_str(), past, 0), 0);
                break;
            case eRenamedOver:
                MakeFile(folder, "new.bin", kSize / 2);
                ASSERT_EQ(std::rename((folder / "new.bin").c_str(), name.c_str()), 0);
                break;
        }
        EXPECT_EQ(mapping.FileChanged(), c.changed);
        EXPECT_FALSE(mapping.LostPages());
        if (!c.changed) {
            EXPECT_EQ(std::memcmp(mapping.GetData(), bytes.data() + 100, kSize - 200), 0);
        }
        mapping.Unmap();
        EXPECT_FALSE(mapping.FileChanged());
    }
}
