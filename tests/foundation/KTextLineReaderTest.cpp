#include "foundation/KTextLineReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "common/TempTestFolder.h"
#include "foundation/KFileStream.h"
#include "foundation/KTextCursor.h"

namespace {

std::vector<std::string> AllLines(KTextLineReader& reader) {
    std::vector<std::string> lines;
    std::string_view line;
    while (reader.ReadLine(line)) lines.emplace_back(line);
    return lines;
}

struct LineCase {
    const char* name;
    std::string text;
    std::vector<std::string> lines;
};

const std::vector<LineCase>& LineCases() {
    static const std::vector<LineCase> cases = {
        {"empty", "", {}},
        {"lf", "a\nb\n", {"a", "b"}},
        {"cr", "a\rb\r", {"a", "b"}},
        {"crlf", "a\r\nb\r\n", {"a", "b"}},
        {"mixed", "a\r\nb\rc\nd", {"a", "b", "c", "d"}},
        {"last line without break", "x y\nlast", {"x y", "last"}},
        {"blank lines kept", "\n\r\n\r", {"", "", ""}},
        {"lf cr is two breaks", "a\n\rb", {"a", "", "b"}},
        {"nul inside a line", std::string("a\0b\n", 4), {std::string("a\0b", 3)}},
        // A UTF-8 byte-order mark before the first line is no text of it; anywhere else it is.
        {"mark before the first line", "\xEF\xBB\xBFv 1\n\xEF\xBB\xBFv 2\n",
         {"v 1", "\xEF\xBB\xBFv 2"}},
        {"mark alone", "\xEF\xBB\xBF", {""}},
        {"mark before a break", "\xEF\xBB\xBF\r\nx", {"", "x"}},
        {"half a mark", "\xEF\xBBv\n", {"\xEF\xBBv"}},
    };
    return cases;
}

TEST(KTextLineReader, MemoryAndStreamSourcesSplitAlike) {
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    for (const LineCase& c : LineCases()) {
        SCOPED_TRACE(c.name);
        KTextLineReader memory;
        memory.SetText(c.text);
        EXPECT_EQ(AllLines(memory), c.lines);
        EXPECT_EQ(memory.GetLineNumber(), int(c.lines.size()));
        EXPECT_TRUE(memory.IsAtEnd());

        const std::string path = folder / "lines.txt";
        {
            KFileStream out;
            ASSERT_TRUE(out.Open(path.c_str(), "wb"));
            out.Write(c.text.data(), uint32_t(c.text.size()));
            ASSERT_TRUE(out.Commit());
        }
        KFileStream in;
        ASSERT_TRUE(in.Open(path.c_str(), "rb"));
        KTextLineReader stream;
        stream.SetStream(&in);
        EXPECT_EQ(AllLines(stream), c.lines);
        // A second pass gives the same lines and restarts the count.
        ASSERT_TRUE(stream.Rewind());
        EXPECT_EQ(AllLines(stream), c.lines);
        EXPECT_EQ(stream.GetLineNumber(), int(c.lines.size()));
    }
}

// Breaks placed across the reader's 64 KB chunks, and a line longer than a chunk.
TEST(KTextLineReader, BreaksAcrossChunkBoundaries) {
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    const size_t chunk = 64 * 1024;
    struct Case {
        const char* name;
        size_t firstLength;
        const char* breakText;
    } cases[] = {
        {"crlf split", chunk - 1, "\r\n"},
        {"cr at the end", chunk - 1, "\r"},
        {"lf at the end", chunk - 1, "\n"},
        {"line longer than three chunks", 3 * chunk + 17, "\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string first(c.firstLength, 'x');
        first[0] = 'A';
        first.back() = 'Z';
        const std::string text =
            first + c.breakText + "second" + c.breakText + c.breakText + "third";
        const std::string path = folder / "chunks.txt";
        {
            KFileStream out;
            ASSERT_TRUE(out.Open(path.c_str(), "wb"));
            out.Write(text.data(), uint32_t(text.size()));
            ASSERT_TRUE(out.Commit());
        }
        KFileStream in;
        ASSERT_TRUE(in.Open(path.c_str(), "rb"));
        KTextLineReader reader;
        reader.SetStream(&in);
        const std::vector<std::string> lines = AllLines(reader);
        ASSERT_EQ(lines.size(), 4u);
        EXPECT_TRUE(lines[0] == first) << "first line of " << lines[0].size() << " bytes";
        EXPECT_EQ(lines[1], "second");
        EXPECT_EQ(lines[2], "");
        EXPECT_EQ(lines[3], "third");
    }
}

// A stream line past the bound ends the reading instead of growing one buffer without end;
// the lines before it are delivered, and a rewind reads them again.
TEST(KTextLineReader, LinesPastTheBoundEndTheReading) {
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    const size_t chunk = 64 * 1024;
    struct Case {
        const char* name;
        size_t bound;
        std::string text;
        std::vector<std::string> lines;
        bool tooLong;
    } cases[] = {
        {"short lines", 8, "abc\ndefgh\n", {"abc", "defgh"}, false},
        {"a line at the bound passes", 3 * chunk, std::string(3 * chunk - 1, 'x') + "\nend",
         {std::string(3 * chunk - 1, 'x'), "end"}, false},
        {"a line past it", 2 * chunk, "first\n" + std::string(5 * chunk, '\0') + "\nnext",
         {"first"}, true},
        {"no break at all", chunk, std::string(4 * chunk, 'z'), {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder / "long.txt";
        {
            KFileStream out;
            ASSERT_TRUE(out.Open(path.c_str(), "wb"));
            out.Write(c.text.data(), uint32_t(c.text.size()));
            ASSERT_TRUE(out.Commit());
        }
        KFileStream in;
        ASSERT_TRUE(in.Open(path.c_str(), "rb"));
        KTextLineReader reader;
        reader.SetMaxLineLength(c.bound);
        reader.SetStream(&in);
        EXPECT_EQ(AllLines(reader), c.lines);
        EXPECT_EQ(reader.IsLineTooLong(), c.tooLong);
        EXPECT_TRUE(reader.IsAtEnd());
        std::string_view line;
        EXPECT_FALSE(reader.ReadLine(line));
        ASSERT_TRUE(reader.Rewind());
        EXPECT_FALSE(reader.IsLineTooLong());
        EXPECT_EQ(AllLines(reader), c.lines);
        EXPECT_EQ(reader.IsLineTooLong(), c.tooLong);
    }
    // The bound is far beyond a chunk by default: a real file's lines always pass.
    EXPECT_GE(KTextLineReader::kMaxLineLength, size_t(1) << 24);
}

// A stream whose reads the system fails from the `failAt`th on (1-based), after giving
// `text` a few bytes at a time: a failing disk under a file.
class FailingStream : public KFileStream {
public:
    FailingStream(std::string text, int failAt) : mText(std::move(text)), mFailAt(failAt) {}
    uint32_t Read(void* buffer, uint32_t count) override {
        if (++mCalls >= mFailAt) return mError = EIO, 0;
        const uint32_t n = uint32_t(std::min<size_t>({count, 5, mText.size() - mAt}));
        mText.copy(static_cast<char*>(buffer), n, mAt);
        mAt += n;
        return n;
    }
    int GetReadError() const override { return mError; }

private:
    std::string mText;
    size_t mAt = 0;
    int mFailAt, mCalls = 0, mError = 0;
};

// A read that fails ends the reading with its cause, never as the end of the file: no line
// cut by it is delivered, and the source is not read again.
TEST(KTextLineReader, AFailedReadIsNoEnd) {
    const std::string text = "ab\ncdefgh\nij";
    struct Case {
        int failAt;
        std::vector<std::string> lines;
    } cases[] = {{1, {}},
                 {2, {"ab"}},
                 {3, {"ab", "cdefgh"}},
                 {4, {"ab", "cdefgh"}},  // the last line, its break not seen, is not whole
                 {99, {"ab", "cdefgh", "ij"}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failAt);
        FailingStream stream(text, c.failAt);
        KTextLineReader reader;
        reader.SetStream(&stream);
        EXPECT_EQ(AllLines(reader), c.lines);
        const int expected = c.failAt < 99 ? EIO : 0;
        EXPECT_EQ(reader.GetReadError(), expected);
        EXPECT_EQ(reader.StoppedShort(), expected != 0);
        EXPECT_FALSE(reader.IsLineTooLong());
        EXPECT_EQ(reader.Rewind(), expected == 0);
        if (expected) {
            EXPECT_TRUE(AllLines(reader).empty());
        }
    }
    // A real file the system fails to read: the process's own memory at address 0.
    KFileStream file;
    if (!file.Open("/proc/self/mem", "rb")) GTEST_SKIP() << "no /proc/self/mem";
    KTextLineReader reader;
    reader.SetStream(&file);
    EXPECT_TRUE(AllLines(reader).empty());
    EXPECT_EQ(reader.GetReadError(), EIO);
    EXPECT_EQ(file.GetReadError(), EIO);
    int headError = 0;
    EXPECT_FALSE(KTextLineReader::IsWideTextFile("/proc/self/mem", &headError));
    EXPECT_EQ(headError, EIO);
    EXPECT_EQ(KReadFileError("x.obj", EIO), "File not read: x.obj: Input/output error");
}

TEST(KTextLineReader, NoSourceReadsNothing) {
    KTextLineReader reader;
    std::string_view line = "old";
    EXPECT_FALSE(reader.ReadLine(line));
    EXPECT_TRUE(line.empty());
    EXPECT_FALSE(reader.Rewind());
    reader.SetStream(nullptr);
    EXPECT_FALSE(reader.ReadLine(line));
}

TEST(KTextCursor, TakesWordsAndNumbersOffOneLine) {
    KTextCursor cursor("  v 1.5 -2e3\t7 0x1F end");
    EXPECT_EQ(cursor.ReadWord(), "v");
    double d = 0;
    ASSERT_TRUE(cursor.ReadDouble(d));
    EXPECT_DOUBLE_EQ(d, 1.5);
    ASSERT_TRUE(cursor.ReadDouble(d));
    EXPECT_DOUBLE_EQ(d, -2000.0);
    int i = 0;
    ASSERT_TRUE(cursor.ReadInt(i));
    EXPECT_EQ(i, 7);
    // A refused number leaves the position where it was.
    const size_t before = cursor.GetPosition();
    EXPECT_FALSE(cursor.ReadDouble(d));
    EXPECT_EQ(cursor.GetPosition(), before);
    EXPECT_EQ(cursor.ReadWord(), "0x1F");
    EXPECT_EQ(cursor.ReadWord(), "end");
    EXPECT_TRUE(cursor.AtEnd());
    EXPECT_EQ(cursor.ReadWord(), "");
    EXPECT_FALSE(cursor.ReadInt(i));
    char c = 0;
    EXPECT_FALSE(cursor.Peek(c));
}

TEST(KTextCursor, ReadUntilStopsAtTerminatorsOrLimit) {
    KTextCursor cursor("f 1/2/3");
    cursor.SetPosition(2);
    EXPECT_EQ(cursor.ReadUntil("/"), "1");
    cursor.SkipAny("/");
    EXPECT_EQ(cursor.ReadUntil("/", 0), "");
    EXPECT_EQ(cursor.ReadUntil("", 3), "2/3");
    cursor.SetPosition(1000);
    EXPECT_TRUE(cursor.AtEnd());
    EXPECT_EQ(cursor.GetRest(), "");
}

}  // namespace
