#include "io/KQovWrittenNames.h"

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

#include "common/RefusingHeap.h"

namespace {

// An Add refused for want of memory takes nothing: the same name asked again gets what it
// would have got had the refused one never been asked, and the warnings count it once.
TEST(KQovWrittenNames, RefusedAddTakesNothing) {
    struct Row {
        const char* name;
        const char* tail;
        const char* given;  // the name asked again, after "A" and the refused one
        bool aside = false;  // the name set aside first: a refused Add keeps it so
    };
    for (const Row& row : {Row{"A", "_End", "A_1"}, Row{"a b", "", "a_b"},
                           Row{"B", "_End", "B", true}, Row{"A", "", "A_2", true}}) {
        SCOPED_TRACE(std::string(row.name) + row.tail);
        for (long n = 0;; ++n) {
            KQovNameTerms terms;
            terms.format = "T";
            KQovWrittenNames names(terms);
            if (row.aside) {
                names.SetAside(row.name);
                names.SetAside("A_1");
            }
            names.Add("A");
            bool refused = false;
            gThrowIn = n;
            try {
                names.Add(row.name, row.tail);
            } catch (const std::bad_alloc&) {
                refused = true;
            }
            const bool done = gThrowIn.exchange(-1) >= 0;
            const std::string again = names.Add(row.name, row.tail);
            if (refused) {
                EXPECT_EQ(again, row.given) << n;
                EXPECT_EQ(names.GetChangedCount(), row.given == std::string(row.name) ? 0 : 1)
                    << n;
            }
            if (done) break;
        }
    }
}

// Names set aside before any is added (as every writer that knows its names does): the first
// of each name that needs no change keeps it, and no number, cut or clean makes a name the
// list gives further on; a writer that adds without setting aside numbers as it goes.
TEST(KQovWrittenNames, NamesSetAsideFirstKeepTheirOwn) {
    struct Row {
        const char* what;
        std::vector<std::string> names;  // "A|_End": the name "A" with the tail "_End"
        std::vector<std::string> written;
        bool aside = true;
        bool fold = false;
        size_t maxLength = 0;
    };
    const Row rows[] = {
        {"a later own name", {"Box", "Box", "Box_1"}, {"Box", "Box_2", "Box_1"}},
        {"numbered as it goes", {"Box", "Box", "Box_1"}, {"Box", "Box_1", "Box_1_1"}, false},
        {"repeats past several", {"B", "B", "B", "B_2", "B_1"}, {"B", "B_3", "B_4", "B_2", "B_1"}},
        {"letter case apart", {"Box", "box", "box_1"}, {"Box", "box", "box_1"}},
        {"letter case folded", {"Box", "box", "BOX_1"}, {"Box", "box_2", "BOX_1"}, true, true},
        {"cleaned gives way", {"a b", "a_b"}, {"a_b_1", "a_b"}},
        {"cut gives way", {"abcdefgh", "abcdef", "abcd_1"}, {"abcd_2", "abcdef", "abcd_1"}, true,
         false, 6},
        {"a word of the file", {"GLOBAL", "GLOBAL_1"}, {"GLOBAL_2", "GLOBAL_1"}},
        {"a tail taken", {"A_End", "A|_End", "A_1"}, {"A_End", "A_2", "A_1"}},
        // The first name keeps its tail; a number's tail never makes a later name.
        {"a later tail name", {"A|_End", "A_End"}, {"A", "A_End_1"}},
        {"a later numbered tail name", {"A|_End", "A|_End", "A_1_End"}, {"A", "A_2", "A_1_End"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        KQovNameTerms terms;
        terms.format = "T";
        terms.foldCase = row.fold;
        terms.maxLength = row.maxLength;
        terms.reserved = {"GLOBAL"};
        KQovWrittenNames names(terms);
        std::vector<std::pair<std::string, std::string>> split;
        for (const std::string& name : row.names) {
            const size_t bar = name.find('|');
            split.emplace_back(name.substr(0, bar),
                               bar == std::string::npos ? "" : name.substr(bar + 1));
        }
        if (row.aside)
            for (const auto& [name, tail] : split) names.SetAside(name);
        std::vector<std::string> written;
        for (const auto& [name, tail] : split) written.push_back(names.Add(name, tail));
        EXPECT_EQ(written, row.written);
        // Each name changed is told with its old and its new name.
        int changed = 0;
        for (size_t i = 0; i < written.size(); ++i) {
            if (written[i] == split[i].first) continue;
            ++changed;
            EXPECT_NE(names.GetWarnings().find("\"" + split[i].first + "\" written as \"" +
                                               written[i] + "\""),
                      std::string::npos)
                << names.GetWarnings();
        }
        EXPECT_EQ(names.GetChangedCount(), changed);
    }
}

}  // namespace
