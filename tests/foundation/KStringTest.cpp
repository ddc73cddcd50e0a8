#include "foundation/KString.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// The invalid state reads as "" but stays invalid when appended to.
bool IsInvalid(const KString& s) {
    KString probe(s);
    probe += "x";
    return probe.IsEmpty();
}

KString Invalid() {
    return KString(static_cast<const char*>(nullptr));
}

// Heap buffers are handed out by DetachBuffer; inline ones are not.
bool IsOnHeap(KString s) {
    char* detached = nullptr;
    s.DetachBuffer(&detached);
    bool heap = detached != nullptr;
    std::free(detached);
    return heap;
}

}  // namespace

TEST(KString, InlineBoundaryIs62Characters) {
    std::string t62(62, 'a'), t63(63, 'b');
    KString s62(t62.c_str()), s63(t63.c_str());
    EXPECT_FALSE(IsOnHeap(s62));
    EXPECT_TRUE(IsOnHeap(s63));

    char* detached = nullptr;
    s63.DetachBuffer(&detached);
    ASSERT_NE(detached, nullptr);
    EXPECT_EQ(t63, detached);
    std::free(detached);
    EXPECT_TRUE(s63.IsEmpty());
    EXPECT_STREQ(s63.Buffer(), "");
    EXPECT_FALSE(IsInvalid(s63));

    detached = reinterpret_cast<char*>(1);
    s62.DetachBuffer(&detached);
    EXPECT_EQ(detached, nullptr);
    EXPECT_TRUE(s62.IsEmpty());

    KString empty;
    detached = reinterpret_cast<char*>(1);
    empty.DetachBuffer(&detached);
    EXPECT_EQ(detached, nullptr);
}

TEST(KString, GrowingAcrossTheInlineBoundaryKeepsTheText) {
    for (int start = 0; start <= 70; ++start) {
        std::string ref(start, 'p');
        KString s(ref.c_str());
        for (int add = 1; add <= 70; add += 7) {
            std::string extra(add, char('a' + add % 26));
            s += extra.c_str();
            ref += extra;
            ASSERT_EQ(ref, s.Buffer());
            ASSERT_EQ(int(ref.size()), s.GetLen());
        }
    }
    // Appending a string to itself reads the operand before the buffer moves.
    std::string ref(40, 'q');
    KString s(ref.c_str());
    for (int i = 0; i < 4; ++i) {
        s += s;
        ref += ref;
        ASSERT_EQ(ref, s.Buffer());
    }
    // Assigning a piece of its own text.
    s = s.Buffer() + 1;
    EXPECT_EQ(ref.substr(1), s.Buffer());
    KString small("abcdef");
    small = small.Buffer() + 2;
    EXPECT_STREQ(small.Buffer(), "cdef");
}

TEST(KString, InvalidStateSpreads) {
    KString bad = Invalid();
    EXPECT_TRUE(bad.IsEmpty());
    EXPECT_STREQ(bad.Buffer(), "");
    EXPECT_EQ(bad.GetTokenCount(","), 0);
    EXPECT_TRUE(IsInvalid(bad));

    KString copy(bad);
    EXPECT_TRUE(IsInvalid(copy));
    KString assigned("x");
    assigned = bad;
    EXPECT_TRUE(IsInvalid(assigned));
    KString moved(std::move(copy));
    EXPECT_TRUE(IsInvalid(moved));

    KString appended("abc");
    appended += bad;
    EXPECT_TRUE(IsInvalid(appended));
    appended += "more";
    appended += 'c';
    appended += 5;
    EXPECT_TRUE(IsInvalid(appended));
    KString nullAppend("abc");
    nullAppend += static_cast<const char*>(nullptr);
    EXPECT_TRUE(IsInvalid(nullAppend));

    EXPECT_TRUE(IsInvalid(KString("a") + bad));
    EXPECT_TRUE(IsInvalid(bad + KString("a")));
    EXPECT_TRUE(IsInvalid(bad + "a"));
    EXPECT_TRUE(IsInvalid(KString("a") + static_cast<const char*>(nullptr)));
    EXPECT_TRUE(IsInvalid(bad + 'a'));
    EXPECT_TRUE(IsInvalid(bad + 1));

    EXPECT_TRUE(IsInvalid(bad.Mid(0, 0)));
    EXPECT_TRUE(IsInvalid(bad.Mid(0)));
    EXPECT_TRUE(IsInvalid(bad.Left(0)));
    EXPECT_TRUE(IsInvalid(bad.Right(0)));
    EXPECT_TRUE(IsInvalid(bad.Upper()));
    EXPECT_TRUE(IsInvalid(bad.Lower()));
    EXPECT_TRUE(IsInvalid(bad.Trim(2)));

    EXPECT_TRUE(IsInvalid(KString(nullptr, 3)));
    EXPECT_TRUE(IsInvalid(KString("abc", -1)));
    // Empty and assigning return to a valid state.
    KString revived = Invalid();
    revived.Empty();
    EXPECT_FALSE(IsInvalid(revived));
    revived = Invalid();
    revived = "ok";
    EXPECT_STREQ(revived.Buffer(), "ok");
    EXPECT_FALSE(IsInvalid(KString()));
    EXPECT_FALSE(IsInvalid(KString("")));
}

TEST(KString, ConstructionAndNumbers) {
    EXPECT_STREQ(KString(-42).Buffer(), "-42");
    EXPECT_STREQ(KString(1.5).Buffer(), "1.500000");
    EXPECT_STREQ(KString(0.25f).Buffer(), "0.250000");
    EXPECT_EQ(KString(1e300).GetLen(), 308);
    KString s("ab\0cd", 5);
    EXPECT_EQ(s.GetLen(), 5);
    EXPECT_EQ(s[3], 'c');
    KString n("n=");
    n += -7;
    EXPECT_STREQ(n.Buffer(), "n=-7");
    EXPECT_STREQ((KString("v") + 12).Buffer(), "v12");
    EXPECT_STREQ((KString("v") + 'w').Buffer(), "vw");
    KString c;
    c = 'z';
    EXPECT_STREQ(c.Buffer(), "z");
    c = 2.5f;
    EXPECT_STREQ(c.Buffer(), "2.500000");
}

TEST(KString, NumbersIgnoreTheProcessLocale) {
    bool comma = false;
    for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "de_DE", "fr_FR"})
        if (std::setlocale(LC_NUMERIC, name)) {
            comma = true;
            break;
        }
    if (!comma) GTEST_SKIP() << "no comma locale installed";
    KString d(3.25), f(0.5f);
    KString appended("n");
    appended += 1234567;
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_STREQ(d.Buffer(), "3.250000");
    EXPECT_STREQ(f.Buffer(), "0.500000");
    EXPECT_STREQ(appended.Buffer(), "n1234567");
}

TEST(KString, CopyMoveAndConcatenation) {
    std::string longText(100, 'L');
    for (const char* text : {"short", longText.c_str(), ""}) {
        KString a(text);
        KString copy(a);
        EXPECT_STREQ(copy.Buffer(), text);
        KString moved(std::move(copy));
        EXPECT_STREQ(moved.Buffer(), text);
        EXPECT_TRUE(copy.IsEmpty());
        KString target("previous");
        target = std::move(moved);
        EXPECT_STREQ(target.Buffer(), text);
        KString& self = target;
        target = self;
        EXPECT_STREQ(target.Buffer(), text);
    }
    KString name("Cube");
    KString prefixed = "Model::" + name;
    EXPECT_STREQ(prefixed.Buffer(), "Model::Cube");
    EXPECT_STREQ((name + "_ncl1_" + 2).Buffer(), "Cube_ncl1_2");
}

TEST(KString, IndexPastTheEndGivesAScratchZero) {
    KString s("abc");
    EXPECT_EQ(s[0], 'a');
    const char& past = s[3];
    EXPECT_EQ(past, '\0');
    EXPECT_NE(&past, s.Buffer() + 3);
    EXPECT_EQ(s[-1], '\0');
    s[5] = 'x';  // writes the scratch byte, not the text
    EXPECT_STREQ(s.Buffer(), "abc");
    EXPECT_EQ(s[5], '\0');
    s[1] = 'B';
    EXPECT_STREQ(s.Buffer(), "aBc");
}

TEST(KString, Compare) {
    EXPECT_EQ(KString("a").Compare(nullptr), 1);
    EXPECT_EQ(KString().Compare(nullptr), 0);
    EXPECT_EQ(Invalid().Compare(""), 0);
    EXPECT_EQ(KString("abc").CompareNoCase("ABC"), 0);
    EXPECT_EQ(KString("abc").Compare("abd"), -1);
    EXPECT_EQ(KString("abd").Compare("abc"), 1);
    EXPECT_EQ(KString("ab").Compare("abc"), -1);
    // Bytes compare unsigned.
    EXPECT_EQ(KString("\xe9").Compare("e"), 1);
    EXPECT_EQ(KString("a").CompareNoCase("B"), -1);
    EXPECT_EQ(KString("_").CompareNoCase("a"), 1);  // compared as upper case: '_' > 'A'
    EXPECT_TRUE(KString("x") == "x");
    EXPECT_TRUE(KString("x") != KString("y"));
    EXPECT_TRUE(KString("a") < KString("b"));
    EXPECT_TRUE(KString("a") < "b");
    EXPECT_FALSE(KString("b") < "b");
}

TEST(KString, Find) {
    KString s("hello world");
    EXPECT_EQ(s.Find('o'), 4);
    EXPECT_EQ(s.Find('o', 5), 7);
    EXPECT_EQ(s.Find('o', -3), 4);  // negative start clamps to 0
    EXPECT_EQ(s.Find('o', 100), -1);
    EXPECT_EQ(s.Find('z'), -1);
    EXPECT_EQ(s.ReverseFind('o'), 7);
    EXPECT_EQ(s.ReverseFind('z'), -1);
    EXPECT_EQ(s.FindOneOf("wr"), 6);
    EXPECT_EQ(s.FindOneOf("wr", -10), 6);
    EXPECT_EQ(s.FindOneOf("wr", 7), 8);
    EXPECT_EQ(s.FindOneOf(nullptr), -1);
    EXPECT_EQ(s.FindOneOf(""), -1);
    EXPECT_EQ(s.Find(static_cast<const char*>(nullptr)), 0);
    EXPECT_EQ(s.Find("world"), 6);
    EXPECT_EQ(s.Find("o", -1), 4);
    EXPECT_EQ(s.Find("world", 7), -1);
    EXPECT_EQ(s.Find("", 3), 3);
    EXPECT_EQ(s.Find("d", 11), -1);
    EXPECT_EQ(KString().Find('a'), -1);
}

TEST(KString, Substrings) {
    KString s("abcdef");
    EXPECT_STREQ(s.Mid(2, 2).Buffer(), "cd");
    EXPECT_STREQ(s.Mid(4, 100).Buffer(), "ef");
    EXPECT_STREQ(s.Mid(2).Buffer(), "cdef");
    EXPECT_TRUE(IsInvalid(s.Mid(7, 1)));
    EXPECT_TRUE(s.Mid(6, 1).IsEmpty());
    EXPECT_FALSE(IsInvalid(s.Mid(6, 1)));
    EXPECT_TRUE(IsInvalid(s.Mid(1, -1)));
    EXPECT_TRUE(IsInvalid(s.Mid(-1, 2)));
    EXPECT_TRUE(IsInvalid(s.Mid(-1)));
    EXPECT_STREQ(s.Left(3).Buffer(), "abc");
    EXPECT_STREQ(s.Left(30).Buffer(), "abcdef");
    EXPECT_TRUE(IsInvalid(s.Left(-1)));
    EXPECT_STREQ(s.Right(2).Buffer(), "ef");
    EXPECT_STREQ(s.Right(30).Buffer(), "abcdef");
    EXPECT_TRUE(s.Right(0).IsEmpty());
    EXPECT_TRUE(IsInvalid(s.Right(-1)));
    EXPECT_TRUE(IsInvalid(s.Right(-2147483647 - 1)));
    EXPECT_STREQ(KString("aBc1").Upper().Buffer(), "ABC1");
    EXPECT_STREQ(KString("aBc1").Lower().Buffer(), "abc1");
    EXPECT_STREQ(KString("abc").Reverse().Buffer(), "cba");
    std::string longText(100, 'x');
    longText += "END";
    EXPECT_STREQ(KString(longText.c_str()).Right(3).Buffer(), "END");
}

TEST(KString, TrimModes) {
    KString s("  a  ");
    EXPECT_STREQ(s.Trim(0).Buffer(), "  a");
    EXPECT_STREQ(s.Trim(1).Buffer(), "a  ");
    EXPECT_STREQ(s.Trim(2).Buffer(), "a");
    EXPECT_STREQ(s.Trim(-5).Buffer(), "a");
    EXPECT_STREQ(s.Buffer(), "  a  ");
    EXPECT_STREQ(KString(" \t\r\n").Trim(2).Buffer(), "");
}

TEST(KString, Tokens) {
    KString s("a,,b");
    EXPECT_EQ(s.GetTokenCount(","), 2);
    EXPECT_STREQ(s.GetToken(0, ",").Buffer(), "a");
    EXPECT_STREQ(s.GetToken(1, ",").Buffer(), "b");
    EXPECT_TRUE(s.GetToken(2, ",").IsEmpty());
    EXPECT_TRUE(s.GetToken(-1, ",").IsEmpty());
    EXPECT_EQ(KString(",a,,b,").GetTokenCount(","), 2);
    EXPECT_EQ(KString("").GetTokenCount(","), 0);
    EXPECT_EQ(KString(",,,").GetTokenCount(","), 0);
    EXPECT_EQ(KString("a b").GetTokenCount(nullptr), 1);
    EXPECT_STREQ(KString("a b").GetToken(0, nullptr).Buffer(), "a b");

    // Re-entrant: tokenising one text inside a loop over another.
    KString outer("x y;z w"), inner("1,2,3");
    std::string seen;
    for (int i = 0; i < outer.GetTokenCount(";"); ++i) {
        KString part = outer.GetToken(i, ";");
        for (int j = 0; j < inner.GetTokenCount(","); ++j) {
            seen += part.GetToken(0, " ").Buffer();
            seen += inner.GetToken(j, ",").Buffer();
        }
    }
    EXPECT_EQ(seen, "x1x2x3z1z2z3");
}

namespace {

std::vector<std::string> ReferenceTokens(const std::string& text, const std::string& delims) {
    std::vector<std::string> tokens;
    std::string current;
    for (char c : text) {
        if (delims.find(c) != std::string::npos) {
            if (!current.empty()) tokens.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) tokens.push_back(current);
    return tokens;
}

std::string ReferenceTrim(const std::string& text, int mode) {
    const char* ws = " \t\n\r\v\f";
    size_t begin = 0, end = text.size();
    if (mode != 0) {
        size_t b = text.find_first_not_of(ws);
        begin = b == std::string::npos ? text.size() : b;
    }
    if (mode != 1) {
        size_t e = text.find_last_not_of(ws);
        end = e == std::string::npos ? 0 : e + 1;
    }
    return begin < end ? text.substr(begin, end - begin) : std::string();
}

}  // namespace

TEST(KString, TokensAndTrimMatchAReferenceOnAGeneratedCorpus) {
    std::mt19937 rng(20261206);
    const std::string alphabet = "ab,; \t\nxyz.\v\r";
    const std::vector<std::string> delimiterSets = {",", ", ", ";\t", " \t\n", "xyz,;. "};
    for (int n = 0; n < 2000; ++n) {
        std::string text;
        int length = std::uniform_int_distribution<int>(0, 90)(rng);
        for (int i = 0; i < length; ++i)
            text += alphabet[std::uniform_int_distribution<size_t>(0, alphabet.size() - 1)(rng)];
        KString s(text.c_str());
        for (const std::string& delims : delimiterSets) {
            std::vector<std::string> expected = ReferenceTokens(text, delims);
            ASSERT_EQ(s.GetTokenCount(delims.c_str()), int(expected.size())) << text;
            for (size_t i = 0; i < expected.size(); ++i)
                ASSERT_EQ(expected[i], s.GetToken(int(i), delims.c_str()).Buffer());
            ASSERT_TRUE(s.GetToken(int(expected.size()), delims.c_str()).IsEmpty());
        }
        for (int mode = 0; mode < 3; ++mode)
            ASSERT_EQ(ReferenceTrim(text, mode), s.Trim(mode).Buffer()) << mode << text;
    }
}

TEST(KString, FindAndReplace) {
    KString s("one two one");
    EXPECT_TRUE(s.FindAndReplace("one", "1"));
    EXPECT_STREQ(s.Buffer(), "1 two one");
    EXPECT_TRUE(s.FindAndReplace("one", "1", 2));
    EXPECT_STREQ(s.Buffer(), "1 two 1");
    EXPECT_FALSE(s.FindAndReplace("one", "1"));
    EXPECT_FALSE(s.FindAndReplace(nullptr, "1"));
    EXPECT_FALSE(s.FindAndReplace("", "1"));
    EXPECT_TRUE(s.FindAndReplace("two", nullptr, -4));
    EXPECT_STREQ(s.Buffer(), "1  1");
    EXPECT_FALSE(s.FindAndReplace("1", "x", 100));

    // Past 4 KB: occurrences beyond index 4096 and results over 4095 characters.
    std::string ref(5000, '.');
    ref += "needle";
    ref += std::string(3000, '-');
    KString big(ref.c_str());
    std::string replacement(2000, 'R');
    EXPECT_TRUE(big.FindAndReplace("needle", replacement.c_str()));
    ref.replace(5000, 6, replacement);
    EXPECT_EQ(ref, big.Buffer());
    EXPECT_EQ(int(ref.size()), big.GetLen());

    // Callers repeat until nothing is left.
    KString many(std::string(3000, 'a').append("b").append(3000, 'a').c_str());
    int rounds = 0;
    while (many.FindAndReplace("a", "cc")) ++rounds;
    EXPECT_EQ(rounds, 6000);
    EXPECT_EQ(many.GetLen(), 12001);
    EXPECT_EQ(many.Find('b'), 6000);

    // The replacement may point into the string itself.
    KString self("abcabc");
    EXPECT_TRUE(self.FindAndReplace("b", self.Buffer()));
    EXPECT_STREQ(self.Buffer(), "aabcabccabc");
}
