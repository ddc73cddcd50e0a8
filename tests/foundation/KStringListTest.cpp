#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/TempTestFolder.h"
#include "foundation/KLogFile.h"
#include "foundation/KPath.h"
#include "foundation/KStringList.h"
#include "platform/KPlatformFile.h"

namespace {

std::vector<std::string> Items(const KStringListBase& list) {
    std::vector<std::string> items;
    for (int i = 0; i < list.GetCount(); ++i) items.push_back(list.GetAt(i));
    return items;
}

TEST(KStringList, TextForm) {
    KStringList list;
    EXPECT_EQ(list.SetText("a~~b"), 2);
    EXPECT_EQ(Items(list), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(list.SetText("a~~b~"), 2);
    EXPECT_EQ(Items(list), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(list.SetText("~"), 0);
    EXPECT_EQ(Items(list), (std::vector<std::string>{""}));
    EXPECT_EQ(list.SetText(""), 0);
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.SetText(nullptr), 0);

    KString text("keep");
    EXPECT_EQ(list.GetText(text), 0);
    EXPECT_STREQ(text.Buffer(), "keep");
    list.SetText("x~y~~z");
    text = "";
    EXPECT_EQ(list.GetText(text), 4);
    EXPECT_STREQ(text.Buffer(), "x~y~~z");
}

TEST(KStringList, EditingAndCopies) {
    KStringList list;
    EXPECT_EQ(list.InsertAt(5, "b", 2), 0);
    EXPECT_EQ(list.InsertAt(-3, "a", 1), 0);
    EXPECT_EQ(list.Add("c", 3), 2);
    EXPECT_TRUE(list.SetAt(1, "B"));
    EXPECT_FALSE(list.SetAt(3, "x"));
    EXPECT_FALSE(list.SetAt(-1, "x"));
    list.RemoveAt(3);
    list.RemoveAt(-1);
    EXPECT_EQ(Items(list), (std::vector<std::string>{"a", "B", "c"}));
    EXPECT_EQ(list.Find("B"), 1);
    EXPECT_EQ(list.Find("b"), -1);
    EXPECT_EQ(list.GetAt(9), nullptr);

    KStringList copy(list);
    list.RemoveAt(0);
    EXPECT_EQ(Items(copy), (std::vector<std::string>{"a", "B", "c"}));
    EXPECT_EQ(copy.GetReferenceAt(2), 3u);
    copy = list;
    EXPECT_EQ(Items(copy), (std::vector<std::string>{"B", "c"}));
    EXPECT_EQ(copy.GetReferenceAt(0), 2u);
    copy = copy;
    EXPECT_EQ(copy.GetCount(), 2);
}

class LogFolder : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(mTemp.ok());
        KSetPluginFolder(mFolder.c_str());
    }
    void TearDown() override { KSetPluginFolder(""); }
    std::vector<std::string> Lines(const char* name) {
        std::ifstream in(mFolder + "/" + name, std::ios::binary);
        std::vector<std::string> lines;
        std::string line;
        while (std::getline(in, line)) lines.push_back(line);
        return lines;
    }
    TempTestFolder mTemp{"klog"};
    std::string mFolder = mTemp.path();
};

// "Date: d/m/yyyy h:m" with numbers without leading zeros.
void ExpectDateLine(const std::string& line) {
    int day, month, year, hour, minute;
    char tail;
    ASSERT_EQ(
        sscanf(line.c_str(), "Date: %d/%d/%d %d:%d%c", &day, &month, &year, &hour, &minute, &tail),
        5)
        << line;
    EXPECT_EQ(line, "Date: " + std::to_string(day) + "/" + std::to_string(month) + "/" +
                        std::to_string(year) + " " + std::to_string(hour) + ":" +
                        std::to_string(minute));
}

TEST_F(LogFolder, NoMessagesNoFile) {
    {
        KLogFile log("qov.log", "Header", false, true);
        EXPECT_EQ(std::string(log.GetPath()), mFolder + "/qov.log");
        EXPECT_TRUE(log.Write());
    }
    EXPECT_FALSE(KPlatformPathExists((mFolder + "/qov.log").c_str()));
}

TEST_F(LogFolder, HeaderFormatLineByLine) {
    {
        KLogFile log("qov.log", "QOV import", false, true);
        log.AddMessage("first warning");
        log.AddMessage("second");
    }
    std::vector<std::string> lines = Lines("qov.log");
    ASSERT_EQ(lines.size(), 5u);
    ExpectDateLine(lines[0]);
    EXPECT_EQ(lines[1], "QOV import");
    EXPECT_EQ(lines[2], "");
    EXPECT_EQ(lines[3], "\tfirst warning");
    EXPECT_EQ(lines[4], "\tsecond");
}

TEST_F(LogFolder, AppendRunsAreSeparated) {
    for (int run = 0; run < 2; ++run) {
        KLogFile log("run.log", "H", true, false);
        log.AddMessage(run == 0 ? "one" : "two");
        EXPECT_TRUE(log.Write());
        EXPECT_EQ(log.GetMessages().GetCount(), 1);  // kept after writing
    }
    std::vector<std::string> lines = Lines("run.log");
    ASSERT_EQ(lines.size(), 12u);
    for (int block = 0; block < 2; ++block) {
        const std::string* b = &lines[block * 6];
        EXPECT_EQ(b[0], "");
        EXPECT_EQ(b[1], "");
        ExpectDateLine(b[2]);
        EXPECT_EQ(b[3], "H");
        EXPECT_EQ(b[4], "");
        EXPECT_EQ(b[5], block == 0 ? "\tone" : "\ttwo");
    }
}

TEST_F(LogFolder, UnwritableFileKeepsMessages) {
    KSetPluginFolder((mFolder + "/missing/").c_str());
    KLogFile log("x.log", "H", false, false);
    log.AddMessage("m");
    EXPECT_FALSE(log.Write());
    EXPECT_EQ(log.GetMessages().GetCount(), 1);
}

}  // namespace
