// Block instances a drawing may place: nested blocks that multiply are cut at a number that
// follows the size of the text, while instances the text lists one by one all stay.
#include <gtest/gtest.h>

#include <string>

#include "DxfTestText.h"
#include "formats/geometry/dxf/KDxfDrawingReader.h"

namespace {

int CountRecords(const KDxfNodeList& nodes) {
    int count = 0;
    for (const auto& n : nodes) count += 1 + CountRecords(n->children);
    return count;
}

// Blocks B0 to B<levels - 1>, each inserting the next `fan` times; the last holds a line.
std::string Fan(int levels, int fan) {
    std::string blocks = "0|SECTION|2|BLOCKS|";
    for (int i = 0; i < levels; ++i) {
        blocks += "0|BLOCK|2|B" + std::to_string(i) + "|";
        if (i + 1 < levels) {
            for (int k = 0; k < fan; ++k)
                blocks += "0|INSERT|2|B" + std::to_string(i + 1) + "|10|" + std::to_string(k) + "|";
        } else {
            blocks += "0|LINE|11|1|";
        }
        blocks += "0|ENDBLK|";
    }
    return blocks + "0|ENDSEC|";
}

TEST(KDxfInstanceBudget, MultiplyingBlocksAreCutByTheSizeOfTheText) {
    struct Row {
        const char* name;
        int levels, fan, topInserts;
        bool cut;
        const char* cells = "";  // groups of a multiple insert at the top
        int perInsert = 1;       // the cells they make
    } rows[] = {
        // 10 + 100 + 1000 + 10000 + 100000 instances from a text of about a kilobyte.
        {"five levels of ten", 5, 10, 1, true},
        {"three levels of ten", 3, 10, 1, false},
        // Listed one by one, each instance pays for itself in text.
        {"many listed", 1, 1, 3000, false},
        // Each cell of a multiple insert is an instance.
        {"a grid of a million cells", 1, 1, 1, true, "70|1000|71|1000|44|1|45|1|", 1000000},
        {"a grid of 10 x 10 of blocks of 3", 2, 3, 1, false, "70|10|71|10|44|1|45|1|", 100},
        {"a grid without spacing is one place", 1, 1, 1, false, "70|1000|71|1000|", 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string entities;
        for (int k = 0; k < row.topInserts; ++k) entities += "0|INSERT|2|B0|" + std::string(row.cells);
        const std::string text = DxfEntities(entities, Fan(row.levels, row.fan));
        KDxfDrawingReader reader(KDxfDrawingReader::eByEntity, false);
        ASSERT_TRUE(reader.Read(text));
        const int records = CountRecords(reader.GetNodes());
        const bool cut = reader.GetStatus().find("Too many block instances") != std::string::npos;
        EXPECT_EQ(cut, row.cut);
        const size_t limit =
            KDxfDrawingReader::kFreeInstances + text.size() / KDxfDrawingReader::kBytesPerInstance;
        EXPECT_LE(size_t(records), limit);
        if (!row.cut) {
            int expected = row.topInserts * row.perInsert, level = expected;
            for (int i = 1; i < row.levels; ++i) expected += (level *= row.fan);
            EXPECT_EQ(records, expected);
        } else {
            EXPECT_EQ(size_t(records), limit);
        }
    }
}

}  // namespace
