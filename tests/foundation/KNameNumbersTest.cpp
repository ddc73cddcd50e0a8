#include "foundation/KNameNumbers.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "common/RefusingHeap.h"

namespace {

// Names "stem" + number taken in one set; each step asks for a stem from a start, and stores
// the name (or, `fails`, does not: a store that failed).
struct NumberStep {
    const char* stem;
    uint64_t first;
    uint64_t expected;
    bool fails = false;
};

struct NumbersRow {
    const char* what;
    std::vector<std::string> takenBefore;  // names given before any numbering
    std::vector<NumberStep> steps;
};

TEST(KNameNumbers, FirstFreeNumberAsASearchOfEveryName) {
    const NumbersRow rows[] = {
        {"repeats", {}, {{"A", 1, 1}, {"A", 1, 2}, {"A", 1, 3}}},
        {"numbered names given earlier", {"A1", "A2", "A4"}, {{"A", 1, 3}, {"A", 1, 5}}},
        {"starts apart then joined",
         {},
         {{"M", 10, 10}, {"M", 1, 1}, {"M", 10, 11}, {"M", 1, 2}, {"M", 3, 3}, {"M", 1, 4}}},
        {"a start inside a run", {}, {{"X", 5, 5}, {"X", 5, 6}, {"X", 6, 7}, {"X", 4, 4}}},
        {"a start past every run", {}, {{"X", 1, 1}, {"X", 1, 2}, {"X", 100, 100}, {"X", 1, 3}}},
        {"stems apart", {"B1"}, {{"A", 1, 1}, {"B", 1, 2}, {"A", 1, 2}, {"B", 0, 0}}},
        {"failed store claims nothing",
         {},
         {{"A", 1, 1}, {"A", 1, 2, true}, {"A", 1, 2}, {"A", 3, 3, true}, {"A", 1, 3}}},
        {"failed store then a lower start",
         {},
         {{"A", 5, 5, true}, {"A", 1, 1}, {"A", 1, 2}, {"A", 3, 3}, {"A", 1, 4}, {"A", 1, 5}}},
    };
    for (const NumbersRow& row : rows) {
        SCOPED_TRACE(row.what);
        std::set<std::string> taken(row.takenBefore.begin(), row.takenBefore.end());
        KNameNumbers numbers;
        for (size_t i = 0; i < row.steps.size(); ++i) {
            const NumberStep& step = row.steps[i];
            const std::string stem = step.stem;
            std::string name;
            auto free = [&](uint64_t n) {
                name = stem + std::to_string(n);
                return taken.count(name) == 0;
            };
            const uint64_t n = numbers.Find(stem, step.first, free);
            EXPECT_EQ(n, step.expected) << i;
            EXPECT_EQ(name, stem + std::to_string(n)) << "the last name made is the one found";
            EXPECT_EQ(KNameNumbers::FirstFree(step.first, free), n) << i;
            if (step.fails) continue;
            taken.insert(name);
            numbers.Take(stem, n);
        }
    }
}

// The numbers found taken are stepped over even where the caller's names of them would now be
// free (names cut to another length), until Clear.
TEST(KNameNumbers, RemembersTakenNumbersUntilCleared) {
    KNameNumbers numbers;
    const auto none = [](uint64_t) { return true; };
    for (uint64_t n = 1; n <= 3; ++n) numbers.Take("A", numbers.Find("A", 1, none));
    EXPECT_EQ(numbers.Find("A", 1, none), 4u);
    EXPECT_EQ(numbers.Find("a", 1, none), 1u) << "the caller folds letter case";
    numbers.Take("B", 7);  // never found: nothing to step over
    EXPECT_EQ(numbers.Find("B", 1, none), 1u);
    numbers.Clear();
    EXPECT_EQ(numbers.Find("A", 1, none), 1u);
    EXPECT_EQ(KNameNumbers::Folded("AbC 1_x"), "abc 1_x");
}

// One stem repeated costs about one probe a name; without memory the search still gives the
// number.
TEST(KNameNumbers, RepeatsCostAProbeEachAndRefusedMemoryIsDoneWithout) {
    KNameNumbers numbers;
    std::set<uint64_t> taken;
    int probes = 0;
    const auto free = [&](uint64_t n) {
        ++probes;
        return taken.count(n) == 0;
    };
    for (int i = 0; i < 500; ++i) {
        const uint64_t n = numbers.Find("S", 0, free);
        taken.insert(n);
        numbers.Take("S", n);
    }
    EXPECT_EQ(*taken.rbegin(), 499u);
    EXPECT_LE(probes, 500);
    gThrowIn = 0;  // the memory of a new stem
    EXPECT_EQ(numbers.Find("T", 2, [](uint64_t n) { return n > 3; }), 4u);
    gThrowIn = -1;
    EXPECT_EQ(numbers.Find("S", 0, free), 500u);
}

}  // namespace
