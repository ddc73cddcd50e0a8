#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "common/TempTestFolder.h"
#include "platform/KPlatformSameFile.h"
#include "platform/KPlatformTerminal.h"

namespace {

TEST(KPlatformSameFile, NamesOfOneFile) {
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    std::ofstream(folder / "a.txt") << "a";
    std::ofstream(folder / "b.txt") << "a";
    ASSERT_EQ(symlink("a.txt", (folder / "soft.txt").c_str()), 0);
    ASSERT_EQ(link((folder / "a.txt").c_str(), (folder / "hard.txt").c_str()), 0);
    ASSERT_EQ(symlink("gone.txt", (folder / "dangling.txt").c_str()), 0);
    struct Case {
        std::string first, second;
        bool same;
    } cases[] = {
        {folder / "a.txt", folder / "a.txt", true},
        {folder / "a.txt", folder / "./a.txt", true},
        {folder / "a.txt",
         folder.path() + "/../" + folder.path().substr(folder.path().rfind('/') + 1) + "/a.txt",
         true},
        {folder / "a.txt", folder / "soft.txt", true},
        {folder / "hard.txt", folder / "a.txt", true},
        // A '\' given by the caller is part of the name, never a folder separator.
        {folder.path() + "\\a.txt", folder / "a.txt", false},
        // Equal bytes are not one file; a file not there is no other file.
        {folder / "a.txt", folder / "b.txt", false},
        {folder / "a.txt", folder / "none.txt", false},
        {folder / "none.txt", folder / "none.txt", false},
        {folder / "dangling.txt", folder / "gone.txt", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.first + " " + c.second);
        EXPECT_EQ(KPlatformSameFile(c.first.c_str(), c.second.c_str()), c.same);
    }
    EXPECT_FALSE(KPlatformSameFile(nullptr, (folder / "a.txt").c_str()));
}

TEST(KPlatformTerminal, FilesAndPipesAreNoTerminal) {
    TempTestFolder folder;
    FILE* file = std::fopen((folder / "out.txt").c_str(), "w");
    ASSERT_NE(file, nullptr);
    EXPECT_FALSE(KPlatformIsTerminal(file));
    std::fclose(file);
    FILE* pipe = popen("true", "r");
    ASSERT_NE(pipe, nullptr);
    EXPECT_FALSE(KPlatformIsTerminal(pipe));
    pclose(pipe);
    EXPECT_FALSE(KPlatformIsTerminal(nullptr));
}

}  // namespace
