#include "foundation/KLocale.h"

#include <gtest/gtest.h>

#include <cmath>

#include "common/CommaLocale.h"

namespace {

TEST(KLocale, FormatsAndParsesWithDotWhateverTheLocale) {
    CommaLocale comma;
    if (!comma.active()) GTEST_SKIP() << "no comma-decimal locale on this machine";
    char buffer[32];
    KSnprintfC(buffer, sizeof buffer, "%.3f", 1.5);
    EXPECT_STREQ(buffer, "1.500");
    EXPECT_EQ(KFormatC("%g|%g", 0.25, -2.5e10), "0.25|-2.5e+10");
    EXPECT_DOUBLE_EQ(KAtofC("3.75"), 3.75);
    double d = 0;
    ASSERT_TRUE(KParseDouble(" 1.25 ", d));
    EXPECT_DOUBLE_EQ(d, 1.25);
    EXPECT_FALSE(KParseDouble("1,25", d));
    float f = 0;
    ASSERT_EQ(KSscanfC("2.5", "%f", &f), 1);
    EXPECT_FLOAT_EQ(f, 2.5f);
}

TEST(KLocale, FormatNeverTruncates) {
    std::string big(20000, 'x');
    EXPECT_EQ(KFormatC("%s!", big.c_str()).size(), 20001u);
}

TEST(KLocale, StrictParsesRejectJunkAndOverflow) {
    long long v = 0;
    EXPECT_TRUE(KParseInt64("-9223372036854775808", v));
    EXPECT_EQ(v, INT64_MIN);
    EXPECT_FALSE(KParseInt64("9223372036854775808", v));
    EXPECT_FALSE(KParseInt64("12a", v));
    EXPECT_FALSE(KParseInt64("", v));
    double d = 0;
    EXPECT_TRUE(KParseDouble("inf", d));
    EXPECT_TRUE(std::isinf(d));
}

TEST(KLocale, AsciiCaseCompare) {
    EXPECT_EQ(KStrCaseCmp("Transform", "TRANSFORM"), 0);
    EXPECT_LT(KStrCaseCmp("abc", "abd"), 0);
    EXPECT_EQ(KStrNCaseCmp("Lcl Rotation", "LCL ROT", 7), 0);
    EXPECT_EQ(KToUpper('\xe9'), '\xe9');
}

}  // namespace
