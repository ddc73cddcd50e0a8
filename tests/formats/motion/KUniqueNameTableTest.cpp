#include "formats/motion/KUniqueNameTable.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "formats/motion/KMotionVector.h"

namespace {

struct AddCase {
    const char* name;
    std::vector<const char*> added;
    std::vector<const char*> stored;
};

TEST(KUniqueNameTable, ClashingNamesGetNumbers) {
    const std::string longDigits = "M" + std::string(40, '9');
    const AddCase cases[] = {
        {"repeated", {"Marker", "Marker", "Marker"}, {"Marker", "Marker 1", "Marker 2"}},
        {"own number raised", {"Marker12", "Marker12"}, {"Marker12", "Marker13"}},
        {"leading zeros go", {"Marker007", "Marker007"}, {"Marker007", "Marker8"}},
        {"case blind", {"HEAD", "head"}, {"HEAD", "head 1"}},
        {"next free number", {"A1", "A2", "A1"}, {"A1", "A2", "A3"}},
        {"extension digit", {"clip.mp3", "clip.mp3"}, {"clip.mp3", "clip.mp3 1"}},
        {"extension digits", {"clip.mp31", "clip.mp31"}, {"clip.mp31", "clip.mp32"}},
        {"mpg and sd",
         {"a.mpg2", "a.mpg2", "b.sd4", "b.sd4"},
         {"a.mpg2", "a.mpg2 1", "b.sd4", "b.sd4 1"}},
        {"short name digits", {"x1", "x1"}, {"x1", "x2"}},
        {"blanks", {"   ", " Default "}, {"Default", "Default 1"}},
        {"trimmed", {"  Hip  ", "Hip"}, {"Hip", "Hip 1"}},
        {"empty", {""}, {nullptr}},
        {"digits only", {"123", "123"}, {"123", "124"}},
        {"gap filled first", {"A", "A 2", "A", "A", "A"}, {"A", "A 2", "A 1", "A 3", "A 4"}},
        {"lower start after higher",
         {"X3", "X3", "X1", "X1", "X3", "x4"},
         {"X3", "X4", "X1", "X2", "X5", "x6"}},
        // a suffix too long for any integer saturates and still gives a new name
        {"long suffix",
         {longDigits.c_str(), longDigits.c_str(), longDigits.c_str()},
         {longDigits.c_str(), "M1000000000000000000", "M1000000000000000001"}},
    };
    for (const AddCase& c : cases) {
        SCOPED_TRACE(c.name);
        KUniqueNameTable table;
        for (size_t i = 0; i < c.added.size(); ++i) {
            const char* stored = table.Add(c.added[i], int32_t(i + 1));
            if (!c.stored[i]) {
                EXPECT_EQ(stored, nullptr);
                continue;
            }
            ASSERT_NE(stored, nullptr);
            EXPECT_STREQ(stored, c.stored[i]) << i;
            EXPECT_STREQ(table.GetName(int32_t(i + 1)), c.stored[i]);
        }
    }
}

// Labels set aside before any is added: a number never makes a label the file gives further
// on, letter case aside; a label changed on its way in (blanks around) gives way to it.
TEST(KUniqueNameTable, LabelsSetAsideKeepTheirOwn) {
    const AddCase cases[] = {
        {"later own name", {"LASI", "LASI", "LASI 1"}, {"LASI", "LASI 2", "LASI 1"}},
        {"later own number", {"M1", "M1", "M2", "m3"}, {"M1", "M4", "M2", "m3"}},
        {"trimmed gives way", {" Hip", "Hip"}, {"Hip 1", "Hip"}},
        {"case twin", {"HEAD", "head", "head 1"}, {"HEAD", "head 2", "head 1"}},
    };
    for (const AddCase& c : cases) {
        SCOPED_TRACE(c.name);
        KUniqueNameTable table;
        for (const char* name : c.added) table.SetAside(name);
        for (size_t i = 0; i < c.added.size(); ++i)
            EXPECT_STREQ(table.Add(c.added[i], int32_t(i + 1)), c.stored[i]) << i;
    }
}

TEST(KUniqueNameTable, CutNamesLeaveRoomForTheirNumber) {
    KUniqueNameTable table;
    const std::string name(2000, 'n');
    const std::string cut(KUniqueNameTable::kMaxNameLength, 'n');
    EXPECT_EQ(std::string(table.Add(name.c_str(), 1)), cut);
    EXPECT_EQ(std::string(table.Add(name.c_str(), 2)), cut + " 1");
    const std::string digits = std::string(KUniqueNameTable::kMaxNameLength - 1, 'd') + "7";
    table.Add(digits.c_str(), 3);
    EXPECT_EQ(std::string(table.Add(digits.c_str(), 4)), digits.substr(0, digits.size() - 1) + "8");
}

TEST(KUniqueNameTable, IdsAndTexts) {
    {
        KUniqueNameTable table;
        std::vector<const char*> texts;
        for (int i = 0; i < 300; ++i) texts.push_back(table.Add("LFWT", i + 1));
        // Every stored text stays where it was while the table grows.
        EXPECT_STREQ(texts[0], "LFWT");
        EXPECT_STREQ(texts[299], "LFWT 299");
        EXPECT_STREQ(table.GetName(150), "LFWT 149");
        EXPECT_EQ(table.GetCount(), 300);
        EXPECT_EQ(table.GetName(0), nullptr);
        EXPECT_EQ(table.GetName(301), nullptr);
        table.Clear();
        EXPECT_EQ(table.GetCount(), 0);
        EXPECT_EQ(table.GetName(1), nullptr);
        EXPECT_STREQ(table.Add("LFWT", 1), "LFWT");
    }
    // The last entry of an id wins; id 0 is an id like any other.
    KUniqueNameTable table;
    table.Add("a", 0);
    table.Add("b", 5);
    table.Add("c", 5);
    EXPECT_STREQ(table.GetName(0), "a");
    EXPECT_STREQ(table.GetName(5), "c");
    EXPECT_STREQ(table.Add("A", 6), "A 1");
}

// Each repeat of one label costs about one look-up, not one per name given before it.
TEST(KUniqueNameTable, OneLabelRepeatedCostsAFewProbesEach) {
    for (int count : {3000, 6000}) {
        KUniqueNameTable table;
        for (int i = 0; i < count; ++i) table.Add("LASI", i + 1);
        EXPECT_STREQ(table.GetName(count), ("LASI " + std::to_string(count - 1)).c_str());
        EXPECT_LE(table.GetProbeCount(), 2 * count) << count;
    }
}

// The name a search of every stored name from the start number gives; `stored` in lower case.
std::string SearchFromTheStart(const char* name, std::set<std::string>& stored) {
    auto lower = [](std::string s) {
        for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    size_t p = 0;
    std::string expected = KUniqueNameTable::SplitName(name, p);
    if (stored.count(lower(expected))) {
        const std::string stem = p < expected.size() ? expected.substr(0, p) : expected + ' ';
        long k = p < expected.size() ? std::stol(expected.substr(p)) + 1 : 1;
        while (stored.count(lower(stem + std::to_string(k)))) ++k;
        expected = stem + std::to_string(k);
    }
    stored.insert(lower(expected));
    return expected;
}

// Random names of a few stems, numbered or not, in any case: each stored name is the one a
// search of every stored name from the start number gives.
TEST(KUniqueNameTable, NumbersMatchASearchFromTheStart) {
    const char* const pool[] = {"A",  "a",   "A1",      "A 1",     "a2",      "A 3", "B9",
                                "b10", "B",  "b 7",     "M1",      "m100000", "M3",  "M100002",
                                "M2",  "m0", "M100001", "C 1",     "c1",      "C"};
    const size_t size = sizeof pool / sizeof pool[0];
    std::mt19937 random(6);
    KUniqueNameTable table;
    std::set<std::string> stored;
    for (int i = 0; i < 2000; ++i) {
        const char* name = pool[random() % size];
        const std::string expected = SearchFromTheStart(name, stored);
        ASSERT_STREQ(table.Add(name, i), expected.c_str()) << i << ' ' << name;
    }
}

// Numbered labels of one stem given in turn each go on from where their own last repeat
// stopped: the same names as a search from the start, at a few look-ups each.
TEST(KUniqueNameTable, StemsInTurnCostAFewProbesEach) {
    const std::vector<const char*> rows[] = {
        {"M1", "M100000"},
        {"M1", "M100000", "M50"},
        {"LASI", "LASI 500", "lasi7"},
        {"A9", "A", "a10"},
    };
    for (const auto& labels : rows) {
        SCOPED_TRACE(labels[1]);
        const int count = 1500 * int(labels.size());
        KUniqueNameTable table;
        std::set<std::string> stored;
        for (int i = 0; i < count; ++i) {
            const char* label = labels[size_t(i) % labels.size()];
            // The slow search only on the first few hundred.
            if (i < 600)
                ASSERT_STREQ(table.Add(label, i), SearchFromTheStart(label, stored).c_str()) << i;
            else
                ASSERT_NE(table.Add(label, i), nullptr);
        }
        EXPECT_LE(table.GetProbeCount(), 3 * count);
    }
}

TEST(KUniqueNameTable, SplitNameDropsBlanksAndFindsTheNumber) {
    size_t suffix = 0;
    EXPECT_EQ(KUniqueNameTable::SplitName(" ab12 ", suffix), "ab12");
    EXPECT_EQ(suffix, 2u);
    EXPECT_EQ(KUniqueNameTable::SplitName(nullptr, suffix), "Default");
    EXPECT_EQ(suffix, 7u);
}

TEST(KMotionVector, FramesCrossProductsAndQuaternions) {
    const double x[4] = {1, 0, 0, 9}, y[4] = {0, 1, 0, 9};
    double z[4] = {0, 0, 0, 5};
    KMotionVectorCross(z, x, y);
    EXPECT_EQ(z[0], 0);
    EXPECT_EQ(z[1], 0);
    EXPECT_EQ(z[2], 1);
    EXPECT_EQ(z[3], 5);  // the fourth is not touched

    KMotionFrame frame = {{3, 0, 4, 0}, {0, 0, 0, 0}, {0, -2, 0, 0}};
    KMotionFrame unit;
    KMotionFrameNormalize(unit, frame);
    const double expected[3][3] = {{0.6, 0, 0.8}, {0, 0, 0}, {0, -1, 0}};
    for (int a = 0; a < 3; ++a)
        for (int i = 0; i < 3; ++i) EXPECT_DOUBLE_EQ(unit[a][i], expected[a][i]) << a << i;
    KMotionFrame copy;
    KMotionFrameCopy(copy, unit);
    EXPECT_DOUBLE_EQ(copy[0][2], 0.8);

    // The quaternion between two vectors, normalised, turns the first onto the second.
    struct {
        double a[4], b[4];
    } pairs[] = {
        {{1, 0, 0, 0}, {0, 1, 0, 0}}, {{0, 2, 0, 0}, {0, 0, 3, 0}}, {{1, 1, 0, 0}, {1, 1, 1, 0}}};
    for (auto& p : pairs) {
        double q[4];
        KMotionQuaternionBetween(q, p.a, p.b);
        const double n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
        for (double& c : q) c /= n;
        // v' = v + 2w(q x v) + 2 q x (q x v)
        double t[4], u[4];
        KMotionVectorCross(t, q, p.a);
        for (int i = 0; i < 3; ++i) t[i] *= 2;
        KMotionVectorCross(u, q, t);
        const double la = std::sqrt(p.a[0] * p.a[0] + p.a[1] * p.a[1] + p.a[2] * p.a[2]);
        const double lb = std::sqrt(p.b[0] * p.b[0] + p.b[1] * p.b[1] + p.b[2] * p.b[2]);
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR((p.a[i] + q[3] * t[i] + u[i]) / la, p.b[i] / lb, 1e-12);
    }
    double q[4];
    KMotionQuaternionFromXAxis(q, y);
    EXPECT_EQ(q[0], 0);
    EXPECT_EQ(q[1], 0);
    EXPECT_EQ(q[2], 1);
    EXPECT_EQ(q[3], 1);
}

}  // namespace
