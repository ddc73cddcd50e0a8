#include "foundation/KTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "common/CommaLocale.h"
#include "foundation/KTimeModeTable.h"

namespace {

constexpr int64_t kSecond = 46186158000LL;

struct Timecode {
    int64_t h = 0, m = 0, s = 0, f = 0, fields = 0, residual = 0;
    bool operator==(const Timecode& o) const {
        return h == o.h && m == o.m && s == o.s && f == o.f && fields == o.fields &&
               residual == o.residual;
    }
};

std::ostream& operator<<(std::ostream& out, const Timecode& t) {
    return out << t.h << ':' << t.m << ':' << t.s << '.' << t.f << " fields " << t.fields
               << " residual " << t.residual;
}

Timecode Split(int64_t ticks, int mode) {
    Timecode t;
    EXPECT_TRUE(KTime(ticks).GetTime(t.h, t.m, t.s, t.f, t.fields, t.residual, mode));
    return t;
}

int64_t Ticks(const Timecode& t, int mode) {
    KTime time;
    time.SetTime(t.h, t.m, t.s, t.f, t.fields, mode);
    return time.Get();
}

std::string Text(int64_t ticks, int elements, int mode, int protocol) {
    char buffer[32];
    return KTime(ticks).GetTimeString(buffer, sizeof buffer, elements, mode, protocol);
}

int64_t Parse(const char* text, int mode, int protocol, int64_t start = 12345) {
    KTime time(start);
    time.SetTimeString(text, mode, protocol);
    return time.Get();
}

// Frame length of every mode, as the time table gives it.
const int64_t kFrame[14] = {0,          384884650,  461861580,  769769300,  923723160,
                            962211625,  1539538600, 1539538600, 1541078334, 1541078334,
                            1847446320, 1924423250, 46186158,   1926349600};

TEST(KTimeModeTable, RowsAreExactlyTheStoredOnes) {
    struct Expected {
        const char* shortName;
        int mode;
        int fileCode;
        const char* longName;
        bool open;
    };
    const Expected expected[] = {
        {"120", 1, 8, "120 fps", true},
        {"100", 2, 7, "100 fps", true},
        {"60", 3, 6, "60 fps", true},
        {"50", 4, 5, "50 fps", true},
        {"48", 5, 3, "48 fps", false},
        {"30", 6, 3, "30 fps", true},
        {"29.97 drop", 8, 4, "NTSC Drop", true},
        {"29.97 full", 9, 9, "NTSC Full", true},
        {"25", 10, 2, "PAL", true},
        {"24", 11, 1, "24 fps", true},
        {"30 Drop", 7, 10, "30 Drop", true},
        {"23.976", 13, 10, "23.976 fps", false},
    };
    ASSERT_EQ(KTimeModeTable::GetCount(), 12);
    for (int i = 0; i < 12; ++i) {
        const KTimeModeRow* row = KTimeModeTable::GetRow(i);
        ASSERT_NE(row, nullptr);
        EXPECT_STREQ(row->shortName, expected[i].shortName) << i;
        EXPECT_EQ(row->mode, expected[i].mode) << i;
        EXPECT_EQ(row->fileCode, expected[i].fileCode) << i;
        EXPECT_STREQ(row->longName, expected[i].longName) << i;
        EXPECT_EQ(row->fileCodeLookup, expected[i].open) << i;
        EXPECT_STREQ(KTimeModeToName(expected[i].mode), expected[i].shortName);
        EXPECT_EQ(KTimeModeToFileCode(expected[i].mode), expected[i].fileCode);
        EXPECT_EQ(KTimeModeFromName(expected[i].shortName), expected[i].mode);
        EXPECT_EQ(KTimeModeFromName(expected[i].longName), expected[i].mode);
    }
    EXPECT_EQ(KTimeModeTable::GetRow(12), nullptr);
    EXPECT_EQ(KTimeModeTable::GetRow(-1), nullptr);
}

TEST(KTimeModeTable, LookupsFallBack) {
    // File codes 0..11 as the older file version's "TimeMode" field reads them.
    const int modeOfCode[] = {6, 11, 10, 6, 8, 4, 3, 2, 1, 9, 7, 6};
    for (int code = 0; code < 12; ++code) EXPECT_EQ(KTimeModeFromFileCode(code), modeOfCode[code]);
    EXPECT_EQ(KTimeModeFromFileCode(-1), 6);
    EXPECT_EQ(KTimeModeToFileCode(5), 3);
    for (int mode : {0, 12, 14, -3}) {
        EXPECT_EQ(KTimeModeToFileCode(mode), 3);
        EXPECT_STREQ(KTimeModeToName(mode), "");
    }
    EXPECT_EQ(KTimeModeFromName("pal"), 6);  // case-sensitive
    EXPECT_EQ(KTimeModeFromName("1000"), 6);
    EXPECT_EQ(KTimeModeFromName(""), 6);
    EXPECT_EQ(KTimeModeFromName(nullptr), 6);
    EXPECT_EQ(KTimeModeTable::FindMode("NTSC Full"), 9);
}

TEST(KTime, FrameRatesAndModes) {
    EXPECT_EQ(KTime::GetFrameRate(12), 30.0);
    EXPECT_EQ(KTime::GetFrameRate(0), 30.0);
    EXPECT_EQ(KTime::GetFrameRate(99), 30.0);
    EXPECT_EQ(KTime::GetFrameRate(13), 23.976);
    EXPECT_EQ(KTime::GetFrameRate(10), 25.0);
    EXPECT_EQ(KTime::ConvertFrameRateToTimeMode(29.97, 0.01), 8);
    EXPECT_EQ(KTime::ConvertFrameRateToTimeMode(30.0, 0.0), 6);
    EXPECT_EQ(KTime::ConvertFrameRateToTimeMode(23.976, 1e-9), 13);
    EXPECT_EQ(KTime::ConvertFrameRateToTimeMode(1000.0, 0.5), 0);  // mode 12 has no row
    EXPECT_EQ(KTime::ConvertFrameRateToTimeMode(24.5, 0.4), 0);
    EXPECT_EQ(KTime::GetGlobalTimeMode(), 6);
    EXPECT_EQ(KTime::GetGlobalTimeProtocol(), 1);
    for (int mode = 1; mode < 14; ++mode) EXPECT_EQ(KTime::GetFrameLength(mode), kFrame[mode]);
    EXPECT_EQ(KTime::GetFrameLength(0), kFrame[6]);
    EXPECT_EQ(KTime::GetFrameLength(14), 0);
    // Plain rates divide the second exactly.
    for (int mode : {1, 2, 3, 4, 5, 11}) {
        EXPECT_EQ(kFrame[mode] * int64_t(KTime::GetFrameRate(mode)), kSecond) << mode;
    }
    EXPECT_EQ(kFrame[12] * 1000, kSecond);
}

TEST(KTime, ArithmeticWrapsAndNeverTraps) {
    const KTime one(1);
    EXPECT_EQ((KTIME_INFINITE + one).Get(), INT64_MIN);
    EXPECT_EQ((KTime(INT64_MIN) - one).Get(), INT64_MAX);
    EXPECT_EQ((KTIME_INFINITE * 2).Get(), -2);
    EXPECT_EQ((KTime(3) * KTime(-4)).Get(), -12);
    EXPECT_EQ((KTime(3) * (int64_t(1) << 40)).Get(), 3LL << 40);
    EXPECT_EQ(KTime(7) / KTime(2), 3);
    EXPECT_EQ(KTime(-7) / KTime(2), -3);
    EXPECT_EQ(KTime(7) / KTIME_ZERO, 0);
    EXPECT_EQ(KTime(INT64_MIN) / KTime(-1), INT64_MIN);
    EXPECT_EQ(KTimeAbs(KTime(INT64_MIN)), KTIME_INFINITE);
    EXPECT_EQ(KTimeAbs(KTime(-5)).Get(), 5);
    EXPECT_EQ(KTimeMin(KTime(-5), KTime(3)).Get(), -5);
    EXPECT_EQ(KTimeMin(KTime(5), KTime(3)).Get(), 3);
    EXPECT_TRUE(KTime(-1) < KTime(0));
    EXPECT_TRUE(KTIME_MINUS_INFINITE < KTIME_INFINITE);
    KTime t(10);
    t += KTime(5);
    t -= KTime(20);
    EXPECT_EQ(t.Get(), -5);
}

TEST(KTime, SaturatingSumsStopAtInfinity) {
    EXPECT_EQ(KTimeSaturatingAdd(KTIME_INFINITE, KTime(1)), KTIME_INFINITE);
    EXPECT_EQ(KTimeSaturatingAdd(KTime(INT64_MAX - 3), KTime(10)), KTIME_INFINITE);
    EXPECT_EQ(KTimeSaturatingAdd(KTIME_MINUS_INFINITE, KTime(-1)), KTIME_MINUS_INFINITE);
    EXPECT_EQ(KTimeSaturatingAdd(KTIME_MINUS_INFINITE, KTIME_MINUS_INFINITE), KTIME_MINUS_INFINITE);
    EXPECT_EQ(KTimeSaturatingAdd(KTIME_INFINITE, KTIME_MINUS_INFINITE).Get(), 0);
    EXPECT_EQ(KTimeSaturatingAdd(KTime(5), KTime(-8)).Get(), -3);
    EXPECT_EQ(KTimeSaturatingSub(KTIME_MINUS_INFINITE, KTime(1)), KTIME_MINUS_INFINITE);
    EXPECT_EQ(KTimeSaturatingSub(KTime(0), KTime(INT64_MIN)), KTIME_INFINITE);
    EXPECT_EQ(KTimeSaturatingSub(KTime(-2), KTIME_INFINITE), KTIME_MINUS_INFINITE);
    EXPECT_EQ(KTimeSaturatingSub(KTIME_INFINITE, KTime(-1)), KTIME_INFINITE);
    EXPECT_EQ(KTimeSaturatingSub(KTime(5), KTime(8)).Get(), -3);
}

TEST(KTime, SecondsAsDouble) {
    KTime t;
    t.SetSecondDouble(1.5);
    EXPECT_EQ(t.Get(), kSecond + kSecond / 2);
    EXPECT_DOUBLE_EQ(t.GetSecondDouble(), 1.5);
    t.SetSecondDouble(-1.5 / double(kSecond));  // truncated toward zero
    EXPECT_EQ(t.Get(), -1);
    t.SetSecondDouble(std::nan(""));
    EXPECT_EQ(t.Get(), 0);
    t.SetSecondDouble(1e300);
    EXPECT_EQ(t, KTIME_INFINITE);
    t.SetSecondDouble(-std::numeric_limits<double>::infinity());
    EXPECT_EQ(t, KTIME_MINUS_INFINITE);
    t.SetSecondDouble(std::numeric_limits<double>::infinity());
    EXPECT_EQ(t, KTIME_INFINITE);
    t.SetSecondDouble(-1e300);
    EXPECT_EQ(t, KTIME_MINUS_INFINITE);
    EXPECT_EQ(KTime(kSecond * 3 + 1).GetSecond(true), 3);
    EXPECT_EQ(KTime(-kSecond * 3 - 1).GetSecond(true), -3);
}

TEST(KTime, SpanAndConstants) {
    EXPECT_EQ(KTIME_INFINITE.Get(), 0x7FFFFFFFFFFFFFFFLL);
    EXPECT_EQ(uint64_t(KTIME_MINUS_INFINITE.Get()), 0x8000000000000001ULL);
    EXPECT_TRUE(KTIMESPAN_INFINITE.IsInfinite());
    KTimeSpan span;
    EXPECT_EQ(span.GetStart(), KTIME_ZERO);
    EXPECT_FALSE(span.IsInfinite());
    span.Set(KTIME_MINUS_INFINITE, KTIME_INFINITE);
    EXPECT_EQ(span, KTIMESPAN_INFINITE);
    span.SetStop(KTime(3));
    EXPECT_NE(span, KTIMESPAN_INFINITE);
    EXPECT_EQ(span.GetStop().Get(), 3);
}

TEST(KTime, DropFrameCasesOfMode8) {
    const int64_t f = kFrame[8];
    KTime t;
    t.SetTime(0, 1, 0, 0, 0, 8);
    EXPECT_EQ(t.GetFrame(true, 8), 1800);
    t.SetTime(0, 1, 0, 2, 0, 8);
    EXPECT_EQ(t.Get(), 1800 * f);
    EXPECT_EQ(Split(t.Get(), 8), (Timecode{0, 1, 0, 2, 0, 0}));
    t.SetTime(0, 10, 0, 0, 0, 8);
    EXPECT_EQ(t.Get(), 17982 * f);
    EXPECT_EQ(Split(17982 * f, 8), (Timecode{0, 10, 0, 0, 0, 0}));
    EXPECT_EQ(Split(17981 * f, 8), (Timecode{0, 9, 59, 29, 0, 0}));
    EXPECT_EQ(Split(1799 * f, 8), (Timecode{0, 0, 59, 29, 0, 0}));
    EXPECT_EQ(Split(1800 * f + f / 2, 8), (Timecode{0, 1, 0, 2, 1, 50}));
    EXPECT_EQ(Text(1800 * f, 4, 8, 0), "000:01:00.02");
    // One hour of drop-frame labels is 107,892 frames.
    EXPECT_EQ(Split(107892 * f, 8), (Timecode{1, 0, 0, 0, 0, 0}));
}

TEST(KTime, OneTickBelowZeroInMode6) {
    EXPECT_EQ(Split(-1, 6), (Timecode{-1, 59, 59, 29, 1, 99}));
    const std::string text = Text(-1, 4, 6, 0);
    EXPECT_EQ(text, "-01:59:59.29");
    EXPECT_EQ(text[0], '-');
}

// Standard 29.97 drop-frame labels of a frame number, in closed form.
Timecode NtscDropLabel(int64_t frame) {
    const int64_t blocks = frame / 17982;
    const int64_t rest = frame % 17982;
    int64_t labelled = frame + 18 * blocks;
    if (rest > 1) labelled += 2 * ((rest - 2) / 1798);
    return Timecode{
        labelled / 108000, labelled / 1800 % 60, labelled / 30 % 60, labelled % 30, 0, 0};
}

// Steps a drop-frame label to the next frame: labels 0 and 1 of second 0 do
// not exist in minutes that are not a multiple of ten.
void NextDropLabel(Timecode& t, int perSecond) {
    if (++t.f == perSecond) {
        t.f = 0;
        if (++t.s == 60) {
            t.s = 0;
            if (++t.m == 60) {
                t.m = 0;
                ++t.h;
            }
        }
    }
    if (t.s == 0 && t.f == 0 && t.m % 10 != 0) t.f = 2;
}

// Every frame of two hours: frame -> ticks -> timecode -> ticks, and the text form.
void CheckDropFrameHours(int mode, int perSecond) {
    const int64_t f = kFrame[mode];
    const int64_t frames = 2 * 6 * (600 * perSecond - 18) + 5;
    Timecode label;
    int failures = 0;
    for (int64_t n = 0; n < frames && failures < 5; ++n, NextDropLabel(label, perSecond)) {
        const Timecode got = Split(n * f, mode);
        if (mode == 8 && !(got == NtscDropLabel(n))) {
            ADD_FAILURE() << "frame " << n << ": " << got << " vs " << NtscDropLabel(n);
            ++failures;
        }
        if (!(got == label) || Ticks(got, mode) != n * f) {
            ADD_FAILURE() << "mode " << mode << " frame " << n << ": " << got << " vs " << label;
            ++failures;
        }
        Timecode field = label;
        field.fields = 1;
        field.residual = 50;
        if (!(Split(n * f + f / 2, mode) == field) || Ticks(field, mode) != n * f + f / 2) {
            ADD_FAILURE() << "mode " << mode << " field of frame " << n;
            ++failures;
        }
        if (n % 7 == 0 && Parse(Text(n * f, 4, mode, 0).c_str(), mode, 0) != n * f) {
            ADD_FAILURE() << "mode " << mode << " text " << Text(n * f, 4, mode, 0);
            ++failures;
        }
    }
    EXPECT_EQ(label.h, 2);
}

TEST(KTime, DropFrameRoundTripMode7) {
    CheckDropFrameHours(7, 30);
}
TEST(KTime, DropFrameRoundTripMode8) {
    CheckDropFrameHours(8, 30);
}
TEST(KTime, DropFrameRoundTripMode13) {
    CheckDropFrameHours(13, 24);
}

// Frame-aligned times, negative ones included, split and rebuild exactly in
// every mode; the parts stay within their ranges.
TEST(KTime, EveryModeRoundTripsFramesAndFields) {
    std::mt19937_64 random(7);
    std::uniform_int_distribution<int64_t> frames(-50000000, 50000000);
    for (int mode = 1; mode < 14; ++mode) {
        const int64_t f = kFrame[mode];
        const bool hasFields = mode >= 6 && mode != 11 && mode != 12;
        const int64_t perSecond = mode == 13 ? 24 : mode == 10 ? 25 : 30;
        for (int i = 0; i < 3000; ++i) {
            const int64_t n = i < 100 ? i - 50 : frames(random);
            const int64_t ticks = n * f + (hasFields && (i & 1) ? f / 2 : 0);
            const Timecode t = Split(ticks, mode);
            ASSERT_EQ(Ticks(t, mode), ticks) << "mode " << mode << " " << t;
            ASSERT_GE(t.m, 0);
            ASSERT_LT(t.m, 60);
            ASSERT_GE(t.s, 0);
            ASSERT_LT(t.s, 60);
            ASSERT_GE(t.f, 0);
            ASSERT_LT(t.f, hasFields ? perSecond : kSecond / f);
            ASSERT_EQ(t.h < 0, ticks < 0) << mode;
            ASSERT_EQ(t.fields, hasFields ? int64_t(i & 1) : 0);
            ASSERT_EQ(t.residual, hasFields ? 50 * (i & 1) : 0);
        }
    }
}

TEST(KTime, UnknownModesChangeNothing) {
    KTime t(77);
    t.SetTime(1, 2, 3, 4, 0, 14);
    t.SetTime(1, 2, 3, 4, 0, 5, -1);
    EXPECT_EQ(t.Get(), 77);
    Timecode out{9, 9, 9, 9, 9, 9};
    EXPECT_FALSE(t.GetTime(out.h, out.m, out.s, out.f, out.fields, out.residual, 14));
    EXPECT_EQ(out, Timecode{});
    EXPECT_EQ(t.GetFrame(true, 14), 0);
    EXPECT_EQ(Text(77, 5, 14, 0), "");
}

TEST(KTime, ResidualsAndPartialFrames) {
    const int64_t f11 = kFrame[11];
    KTime t;
    t.SetTime(0, 0, 0, 12, 0, 25, 11);
    EXPECT_EQ(t.Get(), 12 * f11 + (25 * f11 + 99) / 100);
    EXPECT_EQ(t.GetResidual(11), 25);
    EXPECT_EQ(t.GetFrame(false, 11), 12);
    t.SetTime(0, 0, 0, 12, 0, 0, 11);
    EXPECT_EQ(t.Get(), 12 * f11);
    t.SetTime(0, 0, 0, 0, 0, -50, 11);  // truncated toward zero after adding 99
    EXPECT_EQ(t.Get(), (-50 * f11 + 99) / 100);
    // Mode 6: a field is half a frame and adds 50 to the residual.
    const int64_t f6 = kFrame[6];
    t.Set(12 * f6 + f6 / 2 + f6 / 4);
    EXPECT_EQ(t.GetResidual(6), 75);
    EXPECT_EQ(t.GetFrame(false, 6), 12);
    EXPECT_EQ(t.GetSecond(false, 6), 0);
    // One hour of 29.97 full-frame timecode is 108,000 frames.
    EXPECT_EQ(Split(108000 * kFrame[9], 9), (Timecode{1, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Split(3600 * kSecond, 9).h, 0);
    // Plain modes count real seconds.
    EXPECT_EQ(Split(3600 * kSecond + 61 * kSecond + 5 * kFrame[1] + kFrame[1] / 10, 1),
              (Timecode{1, 1, 1, 5, 0, 10}));
}

TEST(KTime, TimecodeText) {
    const int64_t f = kFrame[6];
    const int64_t t = (((1 * 60 + 2) * 60 + 3) * 30 + 4) * f;
    EXPECT_EQ(Text(t, 1, 6, 0), "001");
    EXPECT_EQ(Text(t, 2, 6, 0), "001:02");
    EXPECT_EQ(Text(t, 3, 6, 0), "001:02:03");
    EXPECT_EQ(Text(t, 4, 6, 0), "001:02:03.04");
    EXPECT_EQ(Text(t, 5, 6, 0), "001:02:03.04");
    EXPECT_EQ(Text(t + f / 2, 5, 6, 0), "001:02:03.04*");
    EXPECT_EQ(Text(t + f / 2, 6, 6, 0), "001:02:03.04 (01)");
    EXPECT_EQ(Text(t, 5, 0, 0), "001:02:03.04");  // mode 0 is mode 6
    EXPECT_EQ(Text(t, 5, 0, 2), "111694");        // protocol 2 counts frames
    EXPECT_EQ(Text(t, 0, 6, 0), "");
    EXPECT_EQ(Text(t, 7, 6, 0), "");
    EXPECT_EQ(Text(-f, 4, 6, 0), "-01:59:59.29");
    EXPECT_EQ(Text(-100 * 3600 * kSecond, 1, 6, 0), "-100");
}

TEST(KTime, InfiniteTexts) {
    for (int64_t minus : {KTime::kMinusInfinite, INT64_MIN}) {
        EXPECT_EQ(Text(minus, 5, 6, 0), "- ---:--:--.--");
        EXPECT_EQ(Text(minus, 6, 6, 0), "- ---:--:--.-- (--)");
        EXPECT_EQ(Text(minus, 5, 6, 1), "- ---");
        EXPECT_EQ(Text(minus, 6, 6, 1), "- --- (--)");
        for (int elements = 1; elements <= 4; ++elements) {
            EXPECT_EQ(Text(minus, elements, 6, 1), "---");
        }
        EXPECT_EQ(Text(minus, 4, 8, 0)[0], '-');
    }
    EXPECT_EQ(Text(KTime::kInfinite, 5, 6, 0), "---:--:--.--");
    EXPECT_EQ(Text(KTime::kInfinite, 6, 8, 0), "---:--:--.-- (--)");
    EXPECT_EQ(Text(KTime::kInfinite, 5, 6, 1), "  ---");
    EXPECT_EQ(Text(KTime::kInfinite, 6, 13, 1), "  --- (--)");
    for (int elements = 1; elements <= 4; ++elements) {
        EXPECT_EQ(Text(KTime::kInfinite, elements, 6, 1), "---");
    }
}

TEST(KTime, FrameCountText) {
    const int64_t f = kFrame[6];
    EXPECT_EQ(Text(12 * f, 1, 6, 1), "12");
    EXPECT_EQ(Text(12 * f, 5, 6, 1), "12");
    EXPECT_EQ(Text(12 * f + f / 2, 5, 6, 1), "12*");
    EXPECT_EQ(Text(12 * f + f / 2, 6, 6, 1), "12 (50)");
    EXPECT_EQ(Text(-12 * f, 4, 6, 1), "- 12");
    EXPECT_EQ(Text(-12 * f, 5, 6, 1), "-12");
    EXPECT_EQ(Text(-12 * f - f / 2, 5, 6, 1), "- 12*");
    EXPECT_EQ(Text(-12 * f - f / 2, 6, 6, 1), "- 12 (50)");
    EXPECT_EQ(Text(-1, 6, 6, 1), "- 0 (99)");
    EXPECT_EQ(Text(12 * f, 0, 6, 1), "");
    EXPECT_EQ(Text(12 * f, 9, 6, 1), "");
    // Every whole frame count reads back, negative ones through the short form.
    for (int mode = 1; mode < 14; ++mode) {
        for (int64_t n : {0LL, 1LL, 29LL, 1799LL, 123456789LL, -1LL, -30LL, -98765LL}) {
            const int64_t ticks = n * kFrame[mode];
            EXPECT_EQ(Parse(Text(ticks, 5, mode, 1).c_str(), mode, 1), ticks) << mode << " " << n;
        }
    }
}

TEST(KTime, TextFitsTheGivenBuffer) {
    char small[5] = {'x', 'x', 'x', 'x', 'x'};
    EXPECT_STREQ(KTime(12345 * kFrame[6]).GetTimeString(small, sizeof small, 5, 6, 1), "1234");
    char one[1] = {'x'};
    EXPECT_STREQ(KTime(-kFrame[6]).GetTimeString(one, 1, 4, 6, 0), "");
    EXPECT_EQ(KTime().GetTimeString(nullptr, 10), nullptr);
    char untouched[2] = {'x', 'y'};
    KTime().GetTimeString(untouched, 0);
    EXPECT_EQ(untouched[0], 'x');
}

TEST(KTime, ParseFrameCount) {
    const int64_t f = kFrame[6];
    EXPECT_EQ(Parse("12.5", 6, 1), 12 * f + (50 * f + 99) / 100);
    EXPECT_EQ(Parse("12.5", 0, 2), 12 * f + (50 * f + 99) / 100);
    EXPECT_EQ(Parse("12.05", 6, 1), 12 * f + (5 * f + 99) / 100);
    EXPECT_EQ(Parse("12.345", 6, 1), 12 * f + (34 * f + 99) / 100);
    EXPECT_EQ(Parse("12(5)", 6, 1), 12 * f + (5 * f + 99) / 100);
    EXPECT_EQ(Parse("12 (50)", 6, 1), 12 * f + (50 * f + 99) / 100);
    EXPECT_EQ(Parse(".5", 6, 1), (50 * f + 99) / 100);
    EXPECT_EQ(Parse("(25)", 6, 1), (25 * f + 99) / 100);
    EXPECT_EQ(Parse("-0.5", 6, 1), (-50 * f + 99) / 100);
    EXPECT_EQ(Parse("-0(70)", 6, 1), (-30 * f + 99) / 100);
    EXPECT_EQ(Parse("-7", 6, 1), -7 * f);
    EXPECT_EQ(Parse("12(", 6, 1), 12 * f);
    EXPECT_EQ(Parse("  42", 11, 1), 42 * kFrame[11]);
    // Nothing readable, too short or too long: unchanged.
    EXPECT_EQ(Parse("abc", 6, 1), 12345);
    EXPECT_EQ(Parse("", 6, 1), 12345);
    EXPECT_EQ(Parse("1234567890123456789", 6, 1), 12345);
    EXPECT_EQ(Parse("123456789012345678", 6, 1), int64_t(123456789012345678ULL * uint64_t(f)));
    EXPECT_EQ(Parse("5", 14, 1), 12345);
    KTime t(5);
    t.SetTimeString(nullptr);
    EXPECT_EQ(t.Get(), 5);
    // Huge counts wrap rather than trap.
    EXPECT_EQ(Parse("99999999999999999", 6, 1), int64_t(99999999999999999ULL * uint64_t(f)));
}

TEST(KTime, ParseTimecode) {
    const int64_t f = kFrame[6];
    EXPECT_EQ(Parse("001:02:03.04", 6, 0), Ticks({1, 2, 3, 4}, 6));
    EXPECT_EQ(Parse("1;2;3.4", 6, 0), Ticks({1, 2, 3, 4}, 6));
    EXPECT_EQ(Parse("1:2", 6, 0), Ticks({0, 1, 2, 0}, 6));
    EXPECT_EQ(Parse("5", 6, 0), 5 * kSecond);
    EXPECT_EQ(Parse("1.5", 6, 0), kSecond + 5 * f);
    EXPECT_EQ(Parse(".5", 6, 0), 5 * f);
    EXPECT_EQ(Parse("0:0:1.15.5", 6, 0), kSecond + 15 * f + (50 * f + 99) / 100);
    EXPECT_EQ(Parse("0:0:1.15 (25)", 6, 0), kSecond + 15 * f + (25 * f + 99) / 100);
    EXPECT_EQ(Parse("00:01:00.02", 8, 0), 1800 * kFrame[8]);
    // Fields beyond frames are not read: h:m:s:f:fields with no point parses to 0.
    EXPECT_EQ(Parse("0:0:0:5:0", 6, 0), 0);
    EXPECT_EQ(Parse("::", 6, 0), 0);
    // The caller's text is only read.
    const char text[] = "1:2:3.4(5)";
    EXPECT_EQ(Parse(text, 6, 0), Ticks({1, 2, 3, 4}, 6) + (5 * f + 99) / 100);
    EXPECT_STREQ(text, "1:2:3.4(5)");
    // Every text form of a non-negative whole frame reads back, in every mode.
    for (int mode = 1; mode < 14; ++mode) {
        for (int64_t n : {0LL, 1LL, 29LL, 1800LL, 17982LL, 107892LL, 9999999LL}) {
            const int64_t ticks = n * kFrame[mode];
            EXPECT_EQ(Parse(Text(ticks, 4, mode, 0).c_str(), mode, 0), ticks) << mode << " " << n;
        }
    }
}

TEST(KTime, CommaLocaleChangesNoText) {
    const int64_t f = kFrame[6];
    const int64_t samples[] = {0, 12 * f + f / 2, -f, 1234567 * f + 3, KTime::kInfinite};
    std::string before[5][2];
    for (int i = 0; i < 5; ++i) {
        before[i][0] = Text(samples[i], 6, 6, 0);
        before[i][1] = Text(samples[i], 6, 6, 1);
    }
    CommaLocale comma;
    if (!comma.active()) GTEST_SKIP() << "no comma-decimal locale on this machine";
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(Text(samples[i], 6, 6, 0), before[i][0]);
        EXPECT_EQ(Text(samples[i], 6, 6, 1), before[i][1]);
    }
    EXPECT_EQ(Parse("12.5", 6, 1), 12 * f + (50 * f + 99) / 100);
    EXPECT_EQ(Parse("1:2:3.4", 6, 0), Ticks({1, 2, 3, 4}, 6));
}

}  // namespace
