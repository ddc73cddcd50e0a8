#include "io/KQovWrittenNames.h"

#include <gtest/gtest.h>

#include <new>
#include <string>

#include "common/RefusingHeap.h"

namespace {

// An Add refused for want of memory takes nothing: the same name asked again gets what it
// would have got had the refused one never been asked, and the warnings count it once.
TEST(KQovWrittenNames, RefusedAddTakesNothing) {
    struct Row {
        const char* name;
        const char* tail;
        const char* given;  // the name asked again, after "A" and the refused one
    };
    for (const Row& row : {Row{"A", "_End", "A_1"}, Row{"a b", "", "a_b"}}) {
        SCOPED_TRACE(std::string(row.name) + row.tail);
        for (long n = 0;; ++n) {
            KQovNameTerms terms;
            terms.format = "T";
            KQovWrittenNames names(terms);
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
                EXPECT_EQ(names.GetChangedCount(), 1) << n;
            }
            if (done) break;
        }
    }
}

}  // namespace
