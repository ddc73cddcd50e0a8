#include "formats/motion/KMotionFile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/CommaLocale.h"
#include "common/TempTestFolder.h"

namespace {

const char kAmcSeparators[] = " \t, ()\r\n";

std::string WriteFile(const TempTestFolder& folder, const std::string& text) {
    const std::string path = folder / "motion.txt";
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A file opened on `text`, AMC character sets.
struct OpenFile {
    explicit OpenFile(const std::string& text, const char* separators = kAmcSeparators,
                      const char* comments = "#")
        : file("AMC", separators, comments, true, true) {
        path = WriteFile(folder, text);
        openResult = file.Open(path.c_str(), "r");
    }
    TempTestFolder folder;
    std::string path;
    KMotionFile file;
    int openResult;
};

std::vector<std::string> SignificantLines(KMotionFile& file) {
    std::vector<std::string> lines;
    while (!file.IsAtEnd()) {
        lines.push_back(file.GetPosition());
        file.ReadLine();
    }
    return lines;
}

TEST(KMotionFile, DeliversSignificantLinesWhateverTheLineEnds) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::string> lines;  // each from its first non-separator
        int physicalLines;
    } cases[] = {
        {"only blanks and comments", "\n  \t\n# note\n , ()\n", {}, 4},
        {"empty file", "", {}, 0},
        {"lf", "a 1\n\nb 2\n", {"a 1", "b 2"}, 3},
        {"crlf", "a 1\r\n\r\nb 2\r\n", {"a 1", "b 2"}, 3},
        {"cr", "a 1\r\rb 2\r", {"a 1", "b 2"}, 3},
        {"last line without a break", "a 1\nlast 2", {"a 1", "last 2"}, 2},
        {"comment only as first non-separator", "  # word\nx # word\n", {"x # word"}, 2},
        {"nul ends the line", std::string("ab\0cd\nz\n", 8), {"ab", "z"}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OpenFile f(c.text);
        ASSERT_EQ(f.openResult, 0);
        EXPECT_EQ(SignificantLines(f.file), c.lines);
        // At the end the count is of every physical line read.
        EXPECT_EQ(f.file.GetLineNumber(), c.physicalLines);
        ASSERT_EQ(f.file.Rewind(), !c.lines.empty());
        EXPECT_EQ(SignificantLines(f.file), c.lines);
    }
}

TEST(KMotionFile, LineNumbersCountPhysicalLines) {
    OpenFile f("# head\n\nfirst\r\n\r\nsecond\rthird");
    ASSERT_EQ(f.openResult, 0);
    const int expected[] = {3, 5, 6};
    for (int line : expected) {
        ASSERT_FALSE(f.file.IsAtEnd());
        EXPECT_EQ(f.file.GetLineNumber(), line);
        f.file.ReadLine();
    }
    EXPECT_TRUE(f.file.IsAtEnd());
}

TEST(KMotionFile, LongLineIsDeliveredWhole) {
    const std::string word(25000, 'w');
    OpenFile f("x\n" + word + "\ny\n");
    ASSERT_EQ(f.openResult, 0);
    ASSERT_TRUE(f.file.ReadLine());
    EXPECT_EQ(std::string(f.file.GetPosition()), word);
    ASSERT_TRUE(f.file.ReadLine());
    EXPECT_STREQ(f.file.GetPosition(), "y");
}

TEST(KMotionFile, TokensWordsAndCharacters) {
    OpenFile f("a # b\n" + std::string(60, 'q') + "\n(x, y)\n");
    ASSERT_EQ(f.openResult, 0);
    char token[51];
    ASSERT_TRUE(f.file.ReadToken(token, 50));
    EXPECT_STREQ(token, "a");
    ASSERT_TRUE(f.file.ReadToken(token, 50));
    EXPECT_STREQ(token, "#");  // no comment in mid line
    ASSERT_TRUE(f.file.ReadToken(token, 50));
    EXPECT_STREQ(token, "b");
    EXPECT_FALSE(f.file.ReadToken(token, 50));

    ASSERT_TRUE(f.file.ReadLine());
    ASSERT_TRUE(f.file.ReadToken(token, 50));
    EXPECT_EQ(std::string(token), std::string(50, 'q'));
    ASSERT_TRUE(f.file.ReadToken(token, 50));
    EXPECT_EQ(std::string(token), std::string(10, 'q'));

    ASSERT_TRUE(f.file.ReadLine());
    char c = 0;
    ASSERT_TRUE(f.file.PeekChar(c));
    EXPECT_EQ(c, 'x');  // the opening '(' is a separator, skipped with the line's start
    KString word;
    ASSERT_TRUE(f.file.ReadTokenString(word));
    EXPECT_STREQ(word.Buffer(), "x");
    ASSERT_TRUE(f.file.GetChar(c));
    EXPECT_EQ(c, 'y');
    ASSERT_TRUE(f.file.GetChar(c));
    EXPECT_EQ(c, ')');
    EXPECT_FALSE(f.file.GetChar(c));
    EXPECT_FALSE(f.file.ReadTokenString(word));
    EXPECT_STREQ(word.Buffer(), "x");  // unchanged on failure
}

TEST(KMotionFile, NumbersOnALine) {
    struct Case {
        const char* line;
        const char* what;  // "d" double, "i" int, "p" pair, "v" vector
        bool ok;
        std::vector<double> values;
        const char* rest;  // the position afterwards
    } cases[] = {
        {"1.5 x", "d", true, {3.0}, "x"},
        // A value read is data: no infinity, nothing beyond 2^100 in the file (2^120 scaled).
        {"-inf", "d", false, {}, "-inf"},
        {"inf", "d", false, {}, "inf"},
        {"-inf 5", "d", false, {}, "-inf 5"},
        {"5e29", "d", true, {1e30}, ""},
        {"7e29", "d", true, {1.4e30}, ""},
        {"1.3e30", "d", false, {}, "1.3e30"},
        {"1e308", "d", false, {}, "1e308"},
        {"nan", "d", false, {}, "nan"},
        {"0x10", "d", false, {}, "0x10"},
        {"1,5", "d", true, {2.0}, "5"},  // the comma separates
        {"42, 7", "i", true, {42}, "7"},
        {"99999999999", "i", false, {}, "99999999999"},
        {"x", "i", false, {}, "x"},
        {"-INF inf", "p", true, {-HUGE_VAL, HUGE_VAL}, ""},
        {"inf 5", "p", true, {HUGE_VAL, 10.0}, ""},
        {"(-1.5, 2)", "p", true, {-3.0, 4.0}, ""},
        {"-inf 1.3e30", "p", false, {}, "-inf 1.3e30"},
        {"1 x", "p", false, {}, "1 x"},
        {"1 2 3 z", "v", true, {2, 4, 6}, "z"},
        {"1\t2  3", "v", true, {2, 4, 6}, ""},
        {"1, 2, 3", "v", false, {}, "1, 2, 3"},  // only white space between the three
        {"1 2", "v", false, {}, "1 2"},
        {"1 2 1.3e30", "v", false, {}, "1 2 1.3e30"},
        {"1 nan 3", "v", false, {}, "1 nan 3"},
    };
    CommaLocale comma;  // numbers never follow the process locale
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        OpenFile f(std::string("k ") + c.line + "\n");
        ASSERT_EQ(f.openResult, 0);
        char key[8];
        ASSERT_TRUE(f.file.ReadToken(key, 7));
        double v[3] = {0, 0, 0};
        int i = 0;
        bool ok = false;
        switch (c.what[0]) {
            case 'd':
                ok = f.file.ReadDouble(v[0], 2.0);
                break;
            case 'i':
                ok = f.file.ReadInt(i), v[0] = i;
                break;
            case 'p':
                ok = f.file.ReadDoublePair(v, 2.0);
                break;
            case 'v':
                ok = f.file.ReadVector(v, 2.0);
                break;
        }
        ASSERT_EQ(ok, c.ok);
        for (size_t k = 0; k < c.values.size(); ++k) EXPECT_EQ(v[k], c.values[k]) << k;
        EXPECT_STREQ(f.file.GetPosition(), c.rest);
    }
}

TEST(KMotionFile, KeywordsMatchAsPrefixesInTableOrder) {
    KMotionKeyword amc[] = {{":FORMAT", 0},
                            {":FULLY-SPECIFIED", 0},
                            {":DEGREES", 0},
                            {":ASF-FILE", 0},
                            {":ASF-PATH", 0},
                            {":SAMPLES-PER-SECOND", 0},
                            {":FRAME-RANGE", 0},
                            {":KEYFRAME-LIST", 0},
                            {":SMPTE", 0},
                            {":", 0},
                            {"", 0}};
    OpenFile f(":frame-range 1 100\n:unknown\n12\n");
    ASSERT_EQ(f.openResult, 0);
    KMotionFile::ResetKeywordCounts(amc);
    EXPECT_EQ(f.file.FindKeyword(amc), 6);
    EXPECT_STREQ(f.file.GetPosition(), ":frame-range 1 100");
    EXPECT_EQ(f.file.ReadKeyword(amc), 6);
    EXPECT_STREQ(f.file.GetPosition(), "1 100");
    ASSERT_TRUE(f.file.ReadLine());
    EXPECT_EQ(f.file.ReadKeyword(amc), 9);  // the lone colon catches the rest
    ASSERT_TRUE(f.file.ReadLine());
    EXPECT_EQ(f.file.ReadKeyword(amc), -1);
    EXPECT_EQ(amc[6].count, 1);
    EXPECT_EQ(amc[9].count, 1);
    KMotionFile::ResetKeywordCounts(amc);
    EXPECT_EQ(amc[6].count, 0);
    KMotionKeyword empty[] = {{"", 0}};
    EXPECT_EQ(f.file.FindKeyword(empty), -1);
    EXPECT_EQ(f.file.FindKeyword(nullptr), -1);
}

TEST(KMotionFile, MessagesAreComposedOnlyWhenAskedAndStayBounded) {
    OpenFile f("a\nb\n");
    ASSERT_EQ(f.openResult, 0);
    std::vector<std::string> seen;
    EXPECT_TRUE(f.file.Error("nobody listens %d", 1));
    f.file.SetWarningCallback([&](const char* text) { seen.emplace_back(text); });
    f.file.SetErrorCallback([&](const char* text) { seen.emplace_back(text); });
    ASSERT_TRUE(f.file.ReadLine());
    EXPECT_FALSE(f.file.Warning("Unknown %s token\n", "x"));
    EXPECT_TRUE(f.file.Error("%s", "bad"));
    const std::string huge(5000, 'h');
    EXPECT_TRUE(f.file.Error("%s", huge.c_str()));
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0], "AMC read warning (line 2): Unknown x token\n");
    EXPECT_EQ(seen[1], "AMC read error (line 2): bad");
    EXPECT_EQ(seen[2].size(), KMotionFile::kMessageSize - 1);
    EXPECT_EQ(seen[2].rfind("AMC read error (line 2): hhh", 0), 0u);

    KMotionFile quiet("BVH", " \t\r\n", "", true, false);
    quiet.SetErrorCallback([&](const char* text) { seen.emplace_back(text); });
    EXPECT_TRUE(quiet.Error("x"));
    EXPECT_EQ(seen.size(), 3u);
}

TEST(KMotionFile, OpenCloseAndWriting) {
    KMotionFile file("HTR", " \t\r\n", "#", true, false);
    EXPECT_EQ(file.Close(), 1);  // never opened
    EXPECT_TRUE(file.IsAtEnd());
    EXPECT_EQ(file.Printf(0, "x"), -1);  // nothing open: nothing written anywhere
    TempTestFolder folder;
    EXPECT_EQ(file.Open((folder / "missing/none.htr").c_str(), "r"), 1);
    EXPECT_TRUE(file.IsAtEnd());
    EXPECT_EQ(file.Open(nullptr, "r"), 1);

    const std::string path = folder / "out.htr";
    ASSERT_EQ(file.Open(path.c_str(), "w"), 0);
    EXPECT_FALSE(file.ReadLine());
    CommaLocale comma;
    EXPECT_EQ(file.Printf(0, "[Header]\n"), 9);
    EXPECT_EQ(file.Printf(2, "%s %.2f\n", "ScaleFactor", 1.5), 17);
    EXPECT_EQ(file.Printf(-1, "end"), 3);
    EXPECT_EQ(file.Close(), 0);
    EXPECT_EQ(ReadFile(path), "[Header]\n    ScaleFactor 1.50\nend");

    // Reopened for reading, the text written reads back; the last line has no break.
    ASSERT_EQ(file.Open(path.c_str(), "r"), 0);
    EXPECT_STREQ(file.GetPosition(), "[Header]");
    ASSERT_TRUE(file.ReadLine());
    double scale = 0;
    char word[32];
    ASSERT_TRUE(file.ReadToken(word, 31));
    ASSERT_TRUE(file.ReadDouble(scale, 1.0));
    EXPECT_EQ(scale, 1.5);
    ASSERT_TRUE(file.ReadLine());
    EXPECT_STREQ(file.GetPosition(), "end");
    EXPECT_EQ(file.GetLineNumber(), 3);
    EXPECT_EQ(file.Close(), 0);
    EXPECT_EQ(file.GetLineNumber(), 0);
    EXPECT_STREQ(file.GetLine(), "");

    // Lines about as long as the room for formatting, and far longer, go out whole.
    const std::string longPath = folder / "long.htr";
    ASSERT_EQ(file.Open(longPath.c_str(), "w"), 0);
    std::string expected;
    for (size_t size : {511, 512, 513, 5000}) {
        const std::string text(size - 4, 'a');
        EXPECT_EQ(file.Printf(0, "%s%.1f\n", text.c_str(), 2.5), int(size));
        expected += text + "2.5\n";
    }
    EXPECT_EQ(file.Close(), 0);
    EXPECT_EQ(ReadFile(longPath), expected);
}

TEST(KMotionFile, SeparatorsAndPrefixHelpers) {
    OpenFile f("a\tb c\n", "\t\r\n", "");
    ASSERT_EQ(f.openResult, 0);
    // The word terminators stay those of construction when the separators change.
    EXPECT_STREQ(f.file.SetSeparators(" \t"), "\t\r\n");
    char token[16];
    ASSERT_TRUE(f.file.ReadToken(token, 15));
    EXPECT_STREQ(token, "a");
    ASSERT_TRUE(f.file.ReadToken(token, 15));
    EXPECT_STREQ(token, "b c");
    EXPECT_EQ(f.file.SkipSeparators(nullptr), nullptr);

    const struct {
        const char* text;
        const char* keyword;
        int behind;  // -1: no match
    } prefixes[] = {{"Frames: 10", "frames:", 7}, {"abc", "", 0}, {"ab", "abc", -1}, {"", "a", -1}};
    for (const auto& p : prefixes) {
        const char* r = KMotionFile::MatchPrefix(p.text, p.keyword);
        EXPECT_EQ(r ? int(r - p.text) : -1, p.behind) << p.text;
    }
    EXPECT_EQ(KMotionFile::MatchPrefix(nullptr, "a"), nullptr);
    EXPECT_TRUE(KMotionFile::IsCharInSet(" \t", '\t'));
    EXPECT_FALSE(KMotionFile::IsCharInSet("", ' '));
    EXPECT_FALSE(KMotionFile::IsCharInSet(nullptr, ' '));

    KMotionFile exact("X", " ", "", true, false);
    KMotionFile loose("X", " ", "", false, false);
    EXPECT_NE(exact.CompareText("Root", "ROOT"), 0);
    EXPECT_EQ(loose.CompareText("Root", "ROOT"), 0);
}

}  // namespace
