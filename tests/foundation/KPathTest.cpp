#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "common/TempTestFolder.h"
#include "foundation/KDirIterator.h"
#include "foundation/KPath.h"
#include "platform/KPlatformFile.h"

namespace {

struct Pair {
    const char* in;
    const char* out;
};

TEST(KPath, CleanPath) {
    const Pair cases[] = {
        {"D:/a/./b/../c", "D:/a/c"},
        {"D:\\a\\.\\b\\..\\c", "D:/a/c"},
        {"a/../../b", "../b"},
        {"D:\\..", ""},
        {"D:\\", "D:/"},
        {"D:", "D:/"},
        {"/home/user/./x/../y", "/home/user/y"},
        {"/", "/"},
        {"/..", ""},
        {"/a/../..", ""},
        {"\\a\\b", "/a/b"},
        {"a\\b/c\\", "a/b/c"},
        {"../../x", "../../x"},
        {"./.", ""},
        {"\\\\server\\share\\dir\\..\\f", "//server/share/f"},
        {"//server/share", "//server/share"},
        {"a//b", "a/b"},
        {"", ""},
    };
    for (const Pair& c : cases) EXPECT_STREQ(KCleanPath(c.in).Buffer(), c.out) << c.in;
    EXPECT_STREQ(KCleanPath(nullptr).Buffer(), "");
}

// Names of this system (the caller's): no drives, no shares, a '\\' is part of a name. Made
// absolute, a name that can only be a folder keeps its trailing '/'.
TEST(KPath, CleanFileNameAndResolveFileName) {
    const Pair cases[] = {
        {"a\\b/./c", "a\\b/c"},
        {"/x/a\\..\\b/../c", "/x/c"},
        {"C:\\x", "C:\\x"},
        {"\\\\srv\\s", "\\\\srv\\s"},
        {"d/", "d"},
        {"", ""},
    };
    for (const Pair& c : cases) EXPECT_STREQ(KCleanFileName(c.in).Buffer(), c.out) << c.in;
    const std::string here = KGetCurrentDirectory().Buffer();
    const std::pair<const char*, std::string> resolved[] = {
        {"sub\\k.htr", here + "/sub\\k.htr"},
        {"d/", here + "/d/"},
        {".", here + "/"},
        {"/a/b/..", "/a/"},
        {"/a/./b", "/a/b"},
        {"", ""},
    };
    for (const auto& [in, out] : resolved) EXPECT_EQ(KResolveFileName(in).Buffer(), out) << in;
    const Pair folders[] = {{"d/lit\\m.obj", "d"}, {"lit\\m.obj", "."}, {"/m.obj", "/"}};
    for (const Pair& c : folders) EXPECT_STREQ(KExtractNameFolder(c.in).Buffer(), c.out) << c.in;
}

// The wide form gives what the narrow one gives, for every narrow case, and keeps characters
// beyond one byte (and beyond 16 bits) as they are.
TEST(KPath, CleanPathWide) {
    const char* const kNarrow[] = {
        "D:/a/./b/../c", "a/../../b", "D:\\..", "D:", "/..", "\\\\server\\share\\dir\\..\\f",
        "a//b",          "./.",       ""};
    for (const char* in : kNarrow) {
        const std::wstring wide(in, in + std::strlen(in));
        const std::string out = KCleanPath(in).Buffer();
        EXPECT_EQ(KCleanPathW(wide.c_str()), std::wstring(out.begin(), out.end())) << in;
    }
    const struct {
        const wchar_t* in;
        const wchar_t* out;
    } kWide[] = {
        {L"D:/\u00e4/./\u00df/../\u00e7", L"D:/\u00e4/\u00e7"},
        {L"\u6587\\..\\..\\\U0001F600", L"../\U0001F600"},
        {L"C:\\\u00e9\\..\\..", L""},
        {L"\u2215x", L"\u2215x"},  // a slash-like character is no separator
    };
    for (const auto& c : kWide) EXPECT_EQ(KCleanPathW(c.in), std::wstring(c.out));
    EXPECT_EQ(KCleanPathW(nullptr), L"");
}

// Runs of delimiters count once; tokens are numbered from 0; out of range is empty.
TEST(KPath, TokensWide) {
    const struct {
        const wchar_t* text;
        const wchar_t* delimiters;
        int count;
        std::vector<std::wstring> tokens;
    } kCases[] = {
        {L"a,,b", L",", 2, {L"a", L"b"}},
        {L",a,,b,", L",", 2, {L"a", L"b"}},
        {L"a b\tc", L" \t", 3, {L"a", L"b", L"c"}},
        {L"\u00e4;\U0001F600;\u00df", L";", 3, {L"\u00e4", L"\U0001F600", L"\u00df"}},
        {L"x\u00e4y", L"\u00e4", 2, {L"x", L"y"}},
        {L"", L",", 0, {}},
        {L",,,", L",", 0, {}},
        {L"a,b", nullptr, 1, {L"a,b"}},
        {L"a,b", L"", 1, {L"a,b"}},
        {nullptr, L",", 0, {}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.text ? std::string(c.text, c.text + std::wcslen(c.text)) : "null");
        EXPECT_EQ(KGetTokenCountW(c.text, c.delimiters), c.count);
        wchar_t buffer[16] = L"old";
        for (int i = -1; i <= c.count; ++i) {
            const bool in = i >= 0 && i < c.count;
            ASSERT_EQ(KGetTokenW(c.text, i, c.delimiters, buffer, 16), buffer);
            EXPECT_EQ(std::wstring(buffer), in ? c.tokens[size_t(i)] : L"") << i;
        }
    }
    // A token the buffer cannot hold with its terminator is refused, the buffer left empty.
    wchar_t small[4] = L"old";
    EXPECT_EQ(KGetTokenW(L"abc,abcd", 1, L",", small, 4), nullptr);
    EXPECT_EQ(std::wstring(small), L"");
    EXPECT_EQ(KGetTokenW(L"abc,abcd", 0, L",", small, 4), small);
    EXPECT_EQ(std::wstring(small), L"abc");
    EXPECT_EQ(KGetTokenW(L"abc", 0, L",", nullptr, 4), nullptr);
    EXPECT_EQ(KGetTokenW(L"abc", 0, L",", small, 0), nullptr);
}

TEST(KPath, PathRoot) {
    const Pair cases[] = {
        {"d:\\x\\y", "D:"},
        {"\\\\server\\share\\dir", "\\\\SERVER\\SHARE"},
        {"//srv/share/dir/file", "//SRV/SHARE"},
        {"\\\\server\\share", "\\\\SERVER\\SHARE"},
        {"\\\\server", ""},
        {"/home/x", ""},
        {"a", ""},
        {"\\/a/b/c", ""},  // two different separators are not a share
    };
    for (const Pair& c : cases) EXPECT_STREQ(KGetPathRoot(c.in).Buffer(), c.out) << c.in;
}

TEST(KPath, NameParts) {
    EXPECT_STREQ(KExtractFileExtension("dir.v2/file").Buffer(), "");
    EXPECT_STREQ(KExtractFileExtension("a/b.Qov").Buffer(), "Qov");
    EXPECT_STREQ(KExtractFileExtension("noext").Buffer(), "");
    EXPECT_STREQ(KExtractFileName("a\\b/c.txt", false).Buffer(), "c");
    EXPECT_STREQ(KExtractFileName("a/b\\c.tar.gz", true).Buffer(), "c.tar.gz");
    EXPECT_STREQ(KExtractFileName("a/b\\c.tar.gz", false).Buffer(), "c.tar");
    EXPECT_STREQ(KChangeFileExtension("/x/take.trc", ".tc").Buffer(), "/x/take.tc");
    EXPECT_STREQ(KChangeFileExtension("dir.v2/file", ".tc").Buffer(), "dir.v2/file.tc");
    // The later separator wins, whichever kind it is.
    EXPECT_STREQ(KExtractDirectory("a/b\\c.txt").Buffer(), "a/b");
    EXPECT_STREQ(KExtractDirectory("a\\b/c.txt").Buffer(), "a\\b");
    EXPECT_STREQ(KExtractDirectory("c.txt").Buffer(), "c.txt");
    EXPECT_STREQ(KExtractDirectory("/c.txt").Buffer(), "");
    // A bare file name lies in the current folder, a rooted one in the root.
    EXPECT_STREQ(KExtractFileFolder("c.txt").Buffer(), ".");
    EXPECT_STREQ(KExtractFileFolder("a/b\\c.txt").Buffer(), "a/b");
    EXPECT_STREQ(KResolvePath(KExtractFileFolder("c.txt").Buffer(), "t.png").Buffer(), "t.png");
    EXPECT_STREQ(KResolvePath(KExtractFileFolder("/c.txt").Buffer(), "t.png").Buffer(), "/t.png");
    EXPECT_TRUE(KIsQovFile("x/Scene.QOV"));
    EXPECT_FALSE(KIsQovFile("x.qov/scene"));
    EXPECT_TRUE(KIsFileExtension("a.Obj", "OBJ"));
}

TEST(KPath, SplitAndRelativeTest) {
    std::vector<KString> parts = KSplitPath("/a\\b/");
    ASSERT_EQ(parts.size(), 4u);
    EXPECT_STREQ(parts[0].Buffer(), "");
    EXPECT_STREQ(parts[1].Buffer(), "a");
    EXPECT_STREQ(parts[2].Buffer(), "b");
    EXPECT_STREQ(parts[3].Buffer(), "");
    EXPECT_EQ(KSplitPath("").size(), 1u);

    EXPECT_TRUE(KIsRelativePath("a/b"));
    EXPECT_TRUE(KIsRelativePath("../b"));
    EXPECT_FALSE(KIsRelativePath("/a"));
    EXPECT_FALSE(KIsRelativePath("\\a"));
    EXPECT_FALSE(KIsRelativePath("C:x"));
    EXPECT_FALSE(KIsRelativePath("\\\\srv\\s"));
    EXPECT_FALSE(KIsRelativePath(nullptr));
}

TEST(KPath, ResolvePath) {
    struct {
        const char* base;
        const char* path;
        const char* out;
    } cases[] = {
        {"/data/scenes", "tex/a.png", "/data/scenes/tex/a.png"},
        {"/data/scenes/", "../tex/a.png", "/data/tex/a.png"},
        {"D:\\data", "a.png", "D:/data/a.png"},
        {"/data", "/abs/a.png", "/abs/a.png"},
        {"/data", "C:\\abs\\a.png", "C:/abs/a.png"},
        {"", "a.png", "a.png"},  // empty base: the current folder, not the root
        {"rel", "./a.png", "rel/a.png"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(KResolvePath(c.base, c.path).Buffer(), c.out) << c.base << " + " << c.path;
}

TEST(KPath, MakeRelativePath) {
    struct {
        const char* reference;
        const char* path;
        const char* out;
    } cases[] = {
        {"/data/scenes/a.qov", "/data/scenes/tex/t.png", "tex/t.png"},
        {"/data/scenes/a.qov", "/data/tex/t.png", "../tex/t.png"},
        {"/data/scenes/a.qov", "/other/t.png", "../../other/t.png"},
        {"/data/scenes/a.qov", "/data/scenes/t.png", "t.png"},
        {"/data/scenes/deep/a.qov", "/data\\x\\t.png", "../../x/t.png"},
        {"/data/Scenes/a.qov", "/data/scenes/t.png", "../scenes/t.png"},  // case counts here
        {"D:\\Data\\a.qov", "d:\\data\\tex\\t.png", "tex/t.png"},
        {"D:\\data\\a.qov", "E:\\data\\t.png", "E:/data/t.png"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(KMakeRelativePath(c.reference, c.path).Buffer(), c.out)
            << c.reference << " -> " << c.path;

    // A bare name lies in the current folder.
    std::string current = KGetCurrentDirectory().Buffer();
    std::string reference = current + "/sub/a.qov";
    EXPECT_STREQ(KMakeRelativePath(reference.c_str(), "t.png").Buffer(), "../t.png");
    EXPECT_STREQ(KMakeRelativePathFrom((current + "/x/").c_str(), "y/f.txt").Buffer(),
                 "../y/f.txt");
}

// On this platform only a letter and ':' at the start make a drive; a ':' anywhere else is
// part of a name, and a path that begins with a separator is absolute whatever it holds.
TEST(KPath, ColonInsideANameIsNoDrive) {
    const Pair clean[] = {
        {"/data/run:1/file.obj", "/data/run:1/file.obj"},
        {"/tmp/d:x/../out.qov", "/tmp/out.qov"},
        {"/d:/..", "/"},
        {"/a:/../..", ""},
        {"run:1 a/./b/../f.obj", "run:1 a/f.obj"},
        {"ab:c/../../x", "../x"},
        {"1:/x", "1:/x"},  // no letter: no drive
        {"\\\\srv\\share:1\\dir\\..\\f", "//srv/share:1/f"},
        {"C:x/y", "C:x/y"},  // a drive, as before
        {"c:\\a:b\\..\\f", "c:/f"},
    };
    for (const Pair& c : clean) EXPECT_STREQ(KCleanPath(c.in).Buffer(), c.out) << c.in;
    EXPECT_EQ(KCleanPathW(L"/d:x/./ä:1/../y"), L"/d:x/y");

    const Pair roots[] = {
        {"/data/run:1/file.obj", ""},
        {"run:1/x", ""},
        {"c:\\a:b\\f", "C:"},
        {"//srv/share:1/dir/f", "//SRV/SHARE:1"},
    };
    for (const Pair& c : roots) EXPECT_STREQ(KGetPathRoot(c.in).Buffer(), c.out) << c.in;

    EXPECT_FALSE(KIsRelativePath("/data/run:1/file.obj"));
    EXPECT_TRUE(KIsRelativePath("run:1 a/file.obj"));
    EXPECT_TRUE(KIsRelativePath("ab:c"));
    EXPECT_TRUE(KIsRelativePath("1:x"));
    EXPECT_FALSE(KIsRelativePath("z:"));

    struct {
        const char* base;
        const char* path;
        const char* out;
    } resolve[] = {
        {"/data/run:1 a", "t.png", "/data/run:1 a/t.png"},
        {"/data/run:1 a/", "../b:2/t.png", "/data/b:2/t.png"},
        {"/base", "/data/run:1/t.png", "/data/run:1/t.png"},
        {"/base", "sub:1/t.png", "/base/sub:1/t.png"},
    };
    for (const auto& c : resolve)
        EXPECT_STREQ(KResolvePath(c.base, c.path).Buffer(), c.out) << c.base << " + " << c.path;

    struct {
        const char* reference;
        const char* path;
        const char* out;
    } relative[] = {
        {"/data/run:1/a.qov", "/data/run:1/tex/t.png", "tex/t.png"},
        {"/data/run:1/a.qov", "/data/b:2 c/t.png", "../b:2 c/t.png"},
        {"/data/Run:1/a.qov", "/data/run:1/t.png", "../run:1/t.png"},  // case counts here
        {"/x:1/a.qov", "/y:1/t.png", "../y:1/t.png"},                  // one root: "/"
    };
    for (const auto& c : relative)
        EXPECT_STREQ(KMakeRelativePath(c.reference, c.path).Buffer(), c.out)
            << c.reference << " -> " << c.path;
}

TEST(KPath, GlobalFolders) {
    KSetPluginFolder("/opt/plug");
    EXPECT_STREQ(KGetPluginFolder(), "/opt/plug/");
    KSetPluginFolder("");
    EXPECT_STREQ(KGetPluginFolder(), "");
    KSetSettingsFolder("");
    EXPECT_STREQ(KJoinFolder(KGetSettingsFolder(), "x.ini").Buffer(), "x.ini");
    EXPECT_STREQ(KJoinFolder("/s", "x.ini").Buffer(), "/s/x.ini");
    EXPECT_STREQ(KJoinFolder("/s\\", "x.ini").Buffer(), "/s\\x.ini");
}

TEST(KPath, ReadLine) {
    FILE* f = tmpfile();
    ASSERT_NE(f, nullptr);
    fputs("a\rb\r\nc\nlongline", f);
    rewind(f);
    char line[16];
    EXPECT_STREQ(KReadLine(line, sizeof(line), f), "a\r");
    EXPECT_STREQ(KReadLine(line, sizeof(line), f), "b\r\n");
    EXPECT_STREQ(KReadLine(line, sizeof(line), f), "c\n");
    EXPECT_STREQ(KReadLine(line, 5, f), "long");
    EXPECT_STREQ(KReadLine(line, 1, f), "");
    EXPECT_EQ(KReadLine(line, 0, f), nullptr);
    EXPECT_STREQ(KReadLine(line, sizeof(line), f), "line");
    EXPECT_EQ(KReadLine(line, sizeof(line), f), nullptr);
    // CR LF with room for the CR only: the LF starts the next line.
    rewind(f);
    fputs("x\r\n", f);
    rewind(f);
    EXPECT_STREQ(KReadLine(line, 3, f), "x\r");
    EXPECT_STREQ(KReadLine(line, 3, f), "\n");
    fclose(f);
}

class PathFolder : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(mTemp.ok()); }
    TempTestFolder mTemp{"kpath"};
    std::string mFolder = mTemp.path();
};

TEST_F(PathFolder, CreatePathMakesEveryLevelButTheFileName) {
    // A '\\' is part of a folder's name (it used to separate two).
    std::string file = mFolder + "/a\\b/c/file.txt";
    EXPECT_TRUE(KCreatePath(file.c_str()));
    EXPECT_TRUE(KPlatformIsDirectory((mFolder + "/a\\b/c").c_str()));
    EXPECT_FALSE(KPlatformPathExists((mFolder + "/a").c_str()));
    EXPECT_FALSE(KPlatformPathExists(file.c_str()));
    EXPECT_TRUE(KCreatePath(file.c_str()));  // exists already
    EXPECT_FALSE(KFileExists(file.c_str()));
    FILE* f = fopen(file.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fclose(f);
    EXPECT_TRUE(KFileExists(file.c_str()));
    EXPECT_FALSE(KFileExists(""));
    EXPECT_FALSE(KFileExists(nullptr));
    // A level that is a file cannot become a folder.
    EXPECT_FALSE(KCreatePath((file + "/x/y").c_str()));

    KString temp = KGetTempFileName(mFolder.c_str(), "qov");
    EXPECT_FALSE(temp.IsEmpty());
    EXPECT_TRUE(KFileExists(temp.Buffer()));
}

void Touch(const std::string& name) {
    FILE* f = fopen(name.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fclose(f);
}

TEST_F(PathFolder, DirIteratorListsTheRealContent) {
    Touch(mFolder + "/b.txt");
    Touch(mFolder + "/a.qov");
    Touch(mFolder + "/plain");
    std::vector<std::string> names, extensions;
    KDirIterator it;
    ASSERT_TRUE(it.FindFirst(mFolder.c_str()));
    do {
        names.push_back(it.GetName());
        extensions.push_back(it.GetExtension());
    } while (it.FindNext());
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", "a.qov", "b.txt", "plain"}));
    EXPECT_EQ(extensions, (std::vector<std::string>{"", "", "qov", "txt", ""}));
    EXPECT_FALSE(it.FindNext());
    ASSERT_TRUE(it.FindFirst((mFolder + "/*.TXT").c_str()));
    EXPECT_STREQ(it.GetName(), "b.txt");
    it.Close();
    EXPECT_STREQ(it.GetName(), "");
    EXPECT_FALSE(it.FindFirst((mFolder + "/none").c_str()));
    EXPECT_TRUE(it.CreateAndFindFirst((mFolder + "/none").c_str()));
    EXPECT_TRUE(KDirIterator::IsDirectoryEmpty((mFolder + "/none").c_str()));
    EXPECT_FALSE(KDirIterator::IsDirectoryEmpty(mFolder.c_str()));
    EXPECT_TRUE(KDirIterator::IsDirectoryEmpty((mFolder + "/missing").c_str()));
    // A '\\' is part of a name (it used to list and make another folder).
    EXPECT_TRUE(it.CreateAndFindFirst((mFolder + "/none\\x").c_str()));
    EXPECT_TRUE(KDirIterator::IsDirectoryEmpty((mFolder + "/none").c_str()));
    EXPECT_TRUE(KPlatformIsDirectory((mFolder + "/none\\x").c_str()));
}

TEST_F(PathFolder, RemoveDirectoryIsNotRecursive) {
    std::string dir = mFolder + "/d";
    ASSERT_TRUE(KCreatePath((dir + "/sub/").c_str()));
    Touch(dir + "/f1");
    Touch(dir + "/.hidden");
    chmod((dir + "/f1").c_str(), 0444);
    EXPECT_FALSE(KDirIterator::RemoveDirectory(dir.c_str()));  // the sub folder stays
    EXPECT_FALSE(KPlatformPathExists((dir + "/f1").c_str()));
    EXPECT_FALSE(KPlatformPathExists((dir + "/.hidden").c_str()));
    EXPECT_TRUE(KPlatformIsDirectory((dir + "/sub").c_str()));
    ASSERT_TRUE(KPlatformRemoveDirectory((dir + "/sub").c_str()));
    Touch(dir + "/f2");
    EXPECT_TRUE(KDirIterator::RemoveDirectory(dir.c_str()));
    EXPECT_FALSE(KPlatformPathExists(dir.c_str()));
    EXPECT_FALSE(KDirIterator::RemoveDirectory(dir.c_str()));
}

// Folders whose names hold ':' and blanks are made and listed where the path says.
TEST_F(PathFolder, FoldersWithColonsAndBlanks) {
    const std::string dir = mFolder + "/run:1 a/d:x y";
    ASSERT_TRUE(KCreatePath((dir + "/file.txt").c_str()));
    EXPECT_TRUE(KPlatformIsDirectory(dir.c_str()));
    Touch(dir + "/b f:1.obj");
    KDirIterator it;
    ASSERT_TRUE(it.FindFirst((dir + "/*.obj").c_str()));
    EXPECT_STREQ(it.GetName(), "b f:1.obj");
    it.Close();
    EXPECT_TRUE(it.CreateAndFindFirst((dir + "/e:2 c").c_str()));
    EXPECT_TRUE(KPlatformIsDirectory((dir + "/e:2 c").c_str()));
    EXPECT_TRUE(KDirIterator::IsDirectoryEmpty((dir + "/e:2 c").c_str()));
    EXPECT_TRUE(KFileExists(KResolvePath(dir.c_str(), "b f:1.obj").Buffer()));
}

// Links in the folder go with it; what they point to is left exactly as it was.
TEST_F(PathFolder, RemoveDirectoryLeavesLinkTargetsAlone) {
    std::string dir = mFolder + "/d";
    std::string outsideFile = mFolder + "/keep";
    std::string outsideDir = mFolder + "/keepdir";
    ASSERT_TRUE(KCreatePath((dir + "/").c_str()));
    ASSERT_TRUE(KCreatePath((outsideDir + "/").c_str()));
    Touch(outsideFile);
    Touch(outsideDir + "/inner");
    chmod(outsideFile.c_str(), 0444);
    ASSERT_EQ(symlink(outsideFile.c_str(), (dir + "/file-link").c_str()), 0);
    ASSERT_EQ(symlink(outsideDir.c_str(), (dir + "/dir-link").c_str()), 0);
    EXPECT_TRUE(KDirIterator::RemoveDirectory(dir.c_str()));
    EXPECT_FALSE(KPlatformPathExists(dir.c_str()));
    struct stat st;
    ASSERT_EQ(stat(outsideFile.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
    EXPECT_TRUE(KPlatformPathExists((outsideDir + "/inner").c_str()));
    chmod(outsideFile.c_str(), 0644);
}

}  // namespace
