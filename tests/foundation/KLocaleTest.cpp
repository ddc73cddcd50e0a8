#include "foundation/KLocale.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>
#include <string>
#include <utility>

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

// Rates in messages: plain decimals, nine significant digits; an exponent only for magnitudes
// whose plain text would be mostly noise digits.
TEST(KLocale, DecimalTextHasNoExponentBelowHugeValues) {
    const std::pair<double, const char*> rows[] = {
        {1e6, "1000000"},           {1.0000000000000002e-08, "0.00000001"},
        {30.0, "30"},               {30000.0 / 1001.0, "29.97003"},
        {0.5, "0.5"},               {1.0 / 3.0, "0.333333333"},
        {1000000.5, "1000000.5"},   {-2.5e-7, "-0.00000025"},
        {0.0, "0"},                 {-0.0, "0"},
        {1e30, "1e+30"},            {-1.5e20, "-1.5e+20"},
        {123456789012345.6, "123456789012346"}, {1e16 / 3.0, "3.33333333e+15"},
        // Just below 10^15, whose logarithm rounds to 15.
        {999999999999999.0, "999999999999999"}, {-999999999999999.0, "-999999999999999"},
        {1e15, "1e+15"},
    };
    for (const auto& [value, text] : rows) EXPECT_EQ(KDecimalText(value), text) << value;
    // A float to the digits it was stored with.
    EXPECT_EQ(KDecimalText(0.001f), "0.001");
    EXPECT_EQ(KDecimalText(1e-5f), "0.00001");
    EXPECT_EQ(KDecimalText(29.97f), "29.97");
    EXPECT_EQ(KDecimalText(1e6f), "1000000");
    // Not the float's binary digits (99999997952, 999999986991104).
    EXPECT_EQ(KDecimalText(1e11f), "100000000000");
    EXPECT_EQ(KDecimalText(1e15f), "1e+15");
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

struct DecimalCase {
    const char* text;
    size_t used;  // 0: refused
    double value;
};

TEST(KLocale, ScanDecimalAcceptsOnlyPlainDecimals) {
    const DecimalCase cases[] = {
        {"1", 1, 1.0},
        {"-2.5", 4, -2.5},
        {"+.5", 3, 0.5},
        {"7.", 2, 7.0},
        {"1e3", 3, 1000.0},
        {"1.5E-2", 6, 0.015},
        {"3e", 0, 0},          // an exponent letter without digits is a word
        {"2e+x", 0, 0},
        {"1.5 2", 3, 1.5},     // stops at the blank
        {"4,5", 1, 4.0},       // the comma is no decimal point
        {"1-2", 1, 1.0},
        {"1e-400", 6, 0.0},    // underflow gives zero
        {"1e400", 0, 0},       // overflow is refused
        {"-1e400", 0, 0},
        {"nan", 0, 0},
        {"-inf", 0, 0},
        {"inf", 0, 0},
        {"infinity", 0, 0},
        {"0x1F", 0, 0},
        {"0x1p3", 0, 0},
        {"12abc", 0, 0},
        {"1_000", 0, 0},
        {".", 0, 0},
        {"-", 0, 0},
        {"", 0, 0},
        {" 1", 0, 0},          // no white space is skipped
        {"e5", 0, 0},
    };
    CommaLocale comma;  // whatever the process locale says
    for (const DecimalCase& c : cases) {
        SCOPED_TRACE(c.text);
        double v = -99.0;
        EXPECT_EQ(KScanDecimal(c.text, v), c.used);
        EXPECT_DOUBLE_EQ(v, c.used ? c.value : -99.0);
    }
    std::string longNumber = "0." + std::string(200, '0') + "1e201";
    double v = 0;
    EXPECT_EQ(KScanDecimal(longNumber, v), longNumber.size());
    EXPECT_NEAR(v, 1.0, 1e-12);
}

TEST(KLocale, ScanIntegerRefusesOverflowAndWords) {
    struct Case {
        const char* text;
        size_t used;
        long long value;
    } cases[] = {
        {"42", 2, 42},
        {"-0", 2, 0},
        {"+17 x", 3, 17},
        {"12.5", 2, 12},
        {"9223372036854775807", 19, INT64_MAX},
        {"-9223372036854775808", 20, INT64_MIN},
        {"9223372036854775808", 0, 0},
        {"-9223372036854775809", 0, 0},
        {"99999999999999999999999", 0, 0},
        {"0x10", 0, 0},
        {"12abc", 0, 0},
        {"abc", 0, 0},
        {"-", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        long long v = -99;
        EXPECT_EQ(KScanInteger(c.text, v), c.used);
        EXPECT_EQ(v, c.used ? c.value : -99);
    }
    int narrow = 0;
    EXPECT_EQ(KScanInteger("2147483647", narrow), 10u);
    EXPECT_EQ(narrow, INT32_MAX);
    EXPECT_EQ(KScanInteger("-2147483648", narrow), 11u);
    EXPECT_EQ(narrow, INT32_MIN);
    EXPECT_EQ(KScanInteger("2147483648", narrow), 0u);
}

bool NumbersOnly(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const bool ok = KFileNumbersOnly(format, args);
    va_end(args);
    return ok;
}

// The numbers the interchange files hold: read up to 2^100, and a float of one stays one;
// a format's floating-point arguments are found whatever comes before them.
TEST(KLocale, FileNumbers) {
    double v = -1;
    EXPECT_EQ(KScanFileNumber("-1.25e30 x", v), 8u);
    EXPECT_EQ(v, -1.25e30);
    for (const char* bad : {"1.3e30", "-1e308", "1e400", "nan", "inf", "12abc"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(KScanFileNumber(bad, v), 0u);
        EXPECT_EQ(v, -1.25e30);
    }
    EXPECT_TRUE(KIsFileNumber(kMaxFileNumber));
    EXPECT_TRUE(KIsFileNumber(double(float(kMaxFileNumber))));
    EXPECT_FALSE(KIsFileNumber(std::nextafter(kMaxFileNumber, HUGE_VAL)));
    EXPECT_FALSE(KIsFileNumber(std::nan("")));
    EXPECT_TRUE(KIsSceneNumber(kMaxFileNumber * 1000.0));
    EXPECT_FALSE(KIsSceneNumber(-HUGE_VAL));

    const double nan = std::nan("");
    EXPECT_TRUE(NumbersOnly("%d %s %g\n", 1, "inf", 2.0));
    EXPECT_FALSE(NumbersOnly("%d %s %g\n", 1, "x", nan));
    EXPECT_TRUE(NumbersOnly("%*.*f", 5, 2, 1.0));
    EXPECT_FALSE(NumbersOnly("%*.*f", 5, 2, HUGE_VAL));
    EXPECT_FALSE(NumbersOnly("%zu %lld %ld %hd %Lg", size_t(1), 2LL, 3L, short(4), (long double)1e31));
    EXPECT_FALSE(NumbersOnly("100%% %c %.3e", 'a', -1e31));
    EXPECT_TRUE(NumbersOnly("%-5d\t%+08.2f %p", 3, kMaxFileNumber, static_cast<void*>(&v)));
}

TEST(KLocale, WholeTextDecimalParses) {
    double d = 0;
    EXPECT_TRUE(KParseDecimal(" \t-1.25e1\r\n", d));
    EXPECT_DOUBLE_EQ(d, -12.5);
    for (const char* bad : {"", "  ", "1.5x", "1 2", "nan", "inf", "0x10"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(KParseDecimal(bad, d));
    }
    int i = 0;
    EXPECT_TRUE(KParseInteger(" 12 ", i));
    EXPECT_EQ(i, 12);
    EXPECT_FALSE(KParseInteger("12.0", i));
    EXPECT_FALSE(KParseInteger("", i));
}

TEST(KLocale, AsciiCaseCompare) {
    EXPECT_EQ(KStrCaseCmp("Transform", "TRANSFORM"), 0);
    EXPECT_LT(KStrCaseCmp("abc", "abd"), 0);
    EXPECT_EQ(KStrNCaseCmp("Lcl Rotation", "LCL ROT", 7), 0);
    EXPECT_EQ(KToUpper('\xe9'), '\xe9');
}

}  // namespace

// Short decimals take an exact shortcut: it must agree bit for bit with the full conversion.
TEST(KLocale, ScanDecimalShortcutMatchesStrtod) {
    uint64_t seed = 0x9E3779B97F4A7C15ull;
    auto next = [&seed] {
        seed ^= seed << 13;
        seed ^= seed >> 7;
        seed ^= seed << 17;
        return seed;
    };
    const char* fixed[] = {"0.1", "-0.0", "123456789012345", "1234567890123456", "9.999999999999999e22",
                           "1e-22", "1e23", "0.000000000000000000000001", "4.35", "+7.", ".5e+3"};
    std::vector<std::string> texts(std::begin(fixed), std::end(fixed));
    for (int i = 0; i < 20000; ++i) {
        const int digits = 1 + int(next() % 17), point = int(next() % (digits + 1));
        std::string t = next() % 2 ? "-" : "";
        for (int d = 0; d < digits; ++d) {
            if (d == point) t += '.';
            t += char('0' + next() % 10);
        }
        if (next() % 3 == 0) t += "e" + std::to_string(int(next() % 50) - 25);
        texts.push_back(t);
    }
    for (const std::string& t : texts) {
        double scanned = 0.0;
        ASSERT_EQ(KScanDecimal(t, scanned), t.size()) << t;
        const double expected = std::strtod(t.c_str(), nullptr);
        EXPECT_EQ(std::memcmp(&scanned, &expected, sizeof expected), 0) << t;
    }
}
