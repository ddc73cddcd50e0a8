#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <new>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/RefusingHeap.h"
#include "common/TempTestFolder.h"
#include "foundation/KFileStream.h"
#include "platform/KPlatformFile.h"
#include "platform/KPlatformSignals.h"
#include "platform/KPlatformSystem.h"

namespace {

// A fresh folder below the temporary folder, removed with its content afterwards.
class TempFolder : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(mTemp.ok()); }
    void Touch(const std::string& name, const char* text = "x") {
        FILE* f = fopen((mFolder + "/" + name).c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fputs(text, f);
        fclose(f);
    }
    std::vector<std::string> List(const std::string& pattern) {
        std::vector<KPlatformDirEntry> entries;
        KPlatformListDirectory((mFolder + "/" + pattern).c_str(), entries);
        std::vector<std::string> names;
        for (auto& e : entries) names.push_back(e.name);
        return names;
    }
    TempTestFolder mTemp{"kplat"};
    std::string mFolder = mTemp.path();
};

TEST(KPlatformWildcard, Rules) {
    struct Case {
        const char* pattern;
        const char* name;
        bool match;
    } cases[] = {
        {"*.*", "file.txt", true},    {"*.*", "noext", true},         {"*.*", ".", true},
        {"*", "anything", true},      {"*.txt", "a.TXT", true},       {"*.txt", "a.txt.bak", false},
        {"a?c", "abc", true},         {"a?c", "ac", false},           {"x.*", "x", true},
        {"x.*", "x.y", true},         {"x.*", "xy", false},           {"*b*", "abc", true},
        {"*.qov", "scene.qov", true}, {"*.qov", "scene.qovx", false}, {"", "a", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(KPlatformWildcardMatch(c.pattern, c.name), c.match)
            << c.pattern << " vs " << c.name;
}

TEST_F(TempFolder, ListingEqualsContent) {
    Touch("b.txt");
    Touch("a.TXT");
    Touch("noext");
    ASSERT_TRUE(KPlatformMakeDirectory((mFolder + "/sub").c_str()));
    std::vector<std::string> all = List("*.*");
    EXPECT_EQ(all, (std::vector<std::string>{".", "..", "a.TXT", "b.txt", "noext", "sub"}));
    EXPECT_EQ(List("*.txt"), (std::vector<std::string>{"a.TXT", "b.txt"}));
    EXPECT_TRUE(List("*.none").empty());

    std::vector<KPlatformDirEntry> entries;
    ASSERT_TRUE(KPlatformListDirectory((mFolder + "/sub*").c_str(), entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_TRUE(entries[0].isDirectory);
    // A '\\' is part of a name: no folder of the listing's name is listed.
    KPlatformListDirectory((mFolder + "\\sub*").c_str(), entries);
    EXPECT_TRUE(entries.empty());
    EXPECT_FALSE(KPlatformListDirectory((mFolder + "/missing/*.*").c_str(), entries));
}

TEST_F(TempFolder, FolderAndFileOperations) {
    // A '\\' given by the caller is part of the name (it used to reach the system as '/').
    const std::string slashed = mFolder + "/x\\sub";
    EXPECT_TRUE(KPlatformMakeDirectory(slashed.c_str()));
    EXPECT_EQ(List("x*"), std::vector<std::string>{"x\\sub"});
    EXPECT_TRUE(KPlatformRemoveDirectory(slashed.c_str()));
    std::string sub = mFolder + "/sub";
    EXPECT_TRUE(KPlatformMakeDirectory(sub.c_str()));
    EXPECT_FALSE(KPlatformMakeDirectory(sub.c_str()));
    EXPECT_TRUE(KPlatformIsDirectory(sub.c_str()));
    Touch("sub/f");
    EXPECT_NE(KPlatformDeleteFile(sub.c_str()), 0);  // a folder is not a file
    EXPECT_FALSE(KPlatformRemoveDirectory(sub.c_str()));
    EXPECT_TRUE(KPlatformRenameFile((sub + "/f").c_str(), (mFolder + "/g").c_str()));
    EXPECT_TRUE(KPlatformRemoveDirectory(sub.c_str()));
    EXPECT_TRUE(KPlatformPathExists((mFolder + "/g").c_str()));
    EXPECT_TRUE(KPlatformSetNormalAttributes((mFolder + "/g").c_str()));
    EXPECT_EQ(KPlatformDeleteFile((mFolder + "/g").c_str()), 0);
    EXPECT_NE(KPlatformDeleteFile((mFolder + "/g").c_str()), 0);
    EXPECT_FALSE(KPlatformSetNormalAttributes((mFolder + "/g").c_str()));
}

TEST_F(TempFolder, ReadOpenFallsBackToOtherCase) {
    Touch("Scene.QOV", "data");
    FILE* f = KPlatformOpenFile((mFolder + "/scene.qov").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char text[8] = {0};
    EXPECT_EQ(fread(text, 1, 4, f), 4u);
    fclose(f);
    EXPECT_STREQ(text, "data");
    // Writing never goes through the fallback: a new file of the asked name appears.
    f = KPlatformOpenFile((mFolder + "/scene.qov").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fclose(f);
    EXPECT_EQ(List("*.qov").size(), 2u);
    EXPECT_EQ(KPlatformOpenFile((mFolder + "/other.qov").c_str(), "rb"), nullptr);
}

TEST_F(TempFolder, TempFilesAreCreatedExclusively) {
    std::set<std::string> names;
    for (int i = 0; i < 50; ++i) {
        std::string name = KPlatformCreateTempFile(mFolder.c_str(), "tst");
        ASSERT_FALSE(name.empty());
        EXPECT_EQ(name.compare(0, mFolder.size() + 4, mFolder + "/tst"), 0);
        EXPECT_TRUE(KPlatformPathExists(name.c_str()));
        EXPECT_TRUE(names.insert(name).second);
    }
    EXPECT_EQ(KPlatformCreateTempFile((mFolder + "/missing").c_str(), "x"), "");
}

std::string Bytes(const std::string& path);

// A new file never takes a name that is taken, a dangling link's either; it goes only while
// its name holds it, and stays once kept. Many at once are all removed by an ending signal.
TEST_F(TempFolder, NewFilesTakeFreeNamesAndGoOnlyThemselves) {
    Touch("taken");
    ASSERT_EQ(symlink((mFolder + "/nowhere").c_str(), (mFolder + "/dangling").c_str()), 0);
    for (const char* name : {"taken", "dangling"}) {
        KPlatformNewFile file;
        EXPECT_FALSE(file.Create((mFolder + "/" + name).c_str()));
        EXPECT_EQ(file.GetError(), EEXIST);
    }
    EXPECT_FALSE(KPlatformPathExists((mFolder + "/nowhere").c_str()));
    EXPECT_EQ(Bytes(mFolder + "/taken"), "x");
    // removed; replaced by another's first; kept; given a second name by another, then kept,
    // or dropped
    for (const int step : {0, 1, 2, 3, 4}) {
        SCOPED_TRACE(step);
        const std::string path = mFolder + "/new";
        const std::string linked = mFolder + "/linked";
        {
            KPlatformNewFile file;
            ASSERT_TRUE(file.Create(path.c_str()));
            fputs("mine", file.GetFile());
            ASSERT_TRUE(file.Close());
            // Told from a finished file until it is kept, by others too.
            FILE* seen = fopen(path.c_str(), "rb");
            ASSERT_NE(seen, nullptr);
            EXPECT_TRUE(KPlatformIsNewFileNotKept(seen));
            fclose(seen);
            if (step == 1) {
                // Removed and made again at once: the number of the file may be the same.
                ASSERT_EQ(unlink(path.c_str()), 0);
                Touch("new", "theirs");
            }
            if (step >= 3) {
                ASSERT_EQ(link(path.c_str(), linked.c_str()), 0);
            }
            if (step == 2 || step == 3) file.Keep();
        }
        if (step <= 3) {
            EXPECT_EQ(Bytes(path), step == 0 ? "" : step == 1 ? "theirs" : "mine");
        }
        if (step >= 3) {
            // Kept or left, a file made is never left without its permissions.
            struct stat st;
            ASSERT_EQ(stat(linked.c_str(), &st), 0);
            EXPECT_NE(st.st_mode & 07777, 0u);
            EXPECT_EQ(Bytes(linked), "mine");
            unlink(linked.c_str());
        }
        if (step == 2 || step == 3) {
            // Kept: a finished file with the permissions a file made new gets.
            struct stat st;
            ASSERT_EQ(stat(path.c_str(), &st), 0);
            const mode_t mask = umask(0);
            umask(mask);
            EXPECT_EQ(st.st_mode & 07777, 0666 & ~mask);
            FILE* seen = fopen(path.c_str(), "rb");
            ASSERT_NE(seen, nullptr);
            EXPECT_FALSE(KPlatformIsNewFileNotKept(seen));
            fclose(seen);
        }
        unlink(path.c_str());
    }
    // More names than the fixed signal slots hold: every one goes with the process.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        KPlatformRemoveKeptFilesOnSignals();
        std::vector<KPlatformNewFile> files(100);
        for (size_t i = 0; i < files.size(); ++i)
            if (!files[i].Create((mFolder + "/s" + std::to_string(i)).c_str())) _exit(2);
        // Another program saves its own file over a copy still open (a temporary renamed
        // over it), and over one written and closed; a third writes into a closed one in
        // place: those names hold their files now, and the signal leaves them.
        for (const int i : {0, 40}) {
            if (i == 40 && (fputs("mine", files[i].GetFile()) < 0 || !files[i].Close())) _exit(4);
            Touch("t", "theirs");
            if (rename((mFolder + "/t").c_str(), (mFolder + "/s" + std::to_string(i)).c_str()))
                _exit(5);
        }
        if (!files[70].Close()) _exit(6);
        Touch("s70", "theirs");
        // Folders made for such files go after them, inner ones first; one holding a file
        // of another program's stays.
        int outer = -1, inner = -1, theirs = -1;
        KPlatformNewFile deep;
        if (!KPlatformMakeFolderForSignals((mFolder + "/q").c_str(), outer) ||
            !KPlatformMakeFolderForSignals((mFolder + "/q/1").c_str(), inner) ||
            !deep.Create((mFolder + "/q/1/m").c_str()) ||
            !KPlatformMakeFolderForSignals((mFolder + "/u").c_str(), theirs) || outer < 0 ||
            inner < 0 || theirs < 0)
            _exit(8);
        Touch("u/file", "theirs");
        // One whose folder moved is left, with its permissions.
        KPlatformNewFile away;
        if (!KPlatformMakeDirectory((mFolder + "/d").c_str()) ||
            !away.Create((mFolder + "/d/f").c_str()) || !away.Close() ||
            rename((mFolder + "/d").c_str(), (mFolder + "/e").c_str()) != 0)
            _exit(7);
        raise(SIGTERM);
        _exit(3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_EQ(List("s*"), std::vector<std::string>({"s0", "s40", "s70"}));
    for (const char* name : {"s0", "s40", "s70"}) EXPECT_EQ(Bytes(mFolder + "/" + name), "theirs");
    EXPECT_FALSE(KPlatformPathExists((mFolder + "/q").c_str()));
    EXPECT_EQ(Bytes(mFolder + "/u/file"), "theirs");
    struct stat st;
    ASSERT_EQ(stat((mFolder + "/e/f").c_str(), &st), 0);
    EXPECT_NE(st.st_mode & 07777, 0u);
}

// A new file gets its permissions back through itself, kept or left, wherever its name or its
// folder went meanwhile: a second name whose first another program saved over, a folder moved.
TEST_F(TempFolder, NewFilesGetTheirPermissionsBackWhereverTheyGo) {
    const mode_t mask = umask(0);
    umask(mask);
    enum Act { eLinkedSavedOver, eLinkedRemoved, eFolderMoved };
    struct Row {
        Act act;
        bool kept;
        const char* reached;  // where the file made is found afterwards
    } rows[] = {
        {eLinkedSavedOver, true, "linked"}, {eLinkedSavedOver, false, "linked"},
        {eFolderMoved, true, "moved/new"},  {eFolderMoved, false, "moved/new"},
        {eLinkedRemoved, false, "linked"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(int(row.act) * 2 + row.kept);
        ASSERT_TRUE(KPlatformMakeDirectory((mFolder + "/sub").c_str()));
        {
            KPlatformNewFile file;
            ASSERT_TRUE(file.Create((mFolder + "/sub/new").c_str()));
            fputs("mine", file.GetFile());
            ASSERT_TRUE(file.Close());
            if (row.act != eFolderMoved) {
                ASSERT_EQ(link((mFolder + "/sub/new").c_str(), (mFolder + "/linked").c_str()), 0);
                if (row.act == eLinkedSavedOver) {
                    Touch("theirs", "theirs");
                    ASSERT_EQ(rename((mFolder + "/theirs").c_str(), (mFolder + "/sub/new").c_str()),
                              0);
                } else {
                    ASSERT_EQ(unlink((mFolder + "/sub/new").c_str()), 0);
                }
            } else {
                ASSERT_EQ(rename((mFolder + "/sub").c_str(), (mFolder + "/moved").c_str()), 0);
            }
            if (row.kept) file.Keep();
        }
        struct stat st;
        ASSERT_EQ(stat((mFolder + "/" + row.reached).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0666 & ~mask);
        EXPECT_EQ(Bytes(mFolder + "/" + row.reached), "mine");
        ASSERT_EQ(system(("rm -rf '" + mFolder + "/sub' '" + mFolder + "/moved' '" + mFolder +
                          "/linked'")
                             .c_str()),
                  0);
    }
    // More new files at once than half the files the process may open: each is made all the
    // same (those past the half not held open), and each gets its permissions when kept.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const struct rlimit low = {64, 64};
        if (setrlimit(RLIMIT_NOFILE, &low) != 0) _exit(2);
        // Made without permissions, they get those the umask leaves, whatever it is.
        const mode_t mask = 027;
        umask(mask);
        const auto openFiles = [] {
            int n = 0;
            for (int fd = 0; fd < 64; ++fd) n += fcntl(fd, F_GETFD) != -1;
            return n;
        };
        const int before = openFiles();
        std::vector<KPlatformNewFile> files(60);
        for (size_t i = 0; i < files.size(); ++i)
            if (!files[i].Create((mFolder + "/n" + std::to_string(i)).c_str()) ||
                !files[i].Close())
                _exit(3);
        for (KPlatformNewFile& file : files) file.Keep();
        for (size_t i = 0; i < files.size(); ++i) {
            struct stat st;
            if (stat((mFolder + "/n" + std::to_string(i)).c_str(), &st) != 0 ||
                (st.st_mode & 07777) != (0666 & ~mask))
                _exit(4);
        }
        // Every handle comes back, kept or removed, and the next file is held again: one whose
        // folder moves still gets its permissions.
        std::vector<KPlatformNewFile> removed(60);
        for (size_t i = 0; i < removed.size(); ++i)
            if (!removed[i].Create((mFolder + "/r" + std::to_string(i)).c_str()) ||
                !removed[i].Close())
                _exit(5);
        removed.clear();
        if (openFiles() != before) _exit(6);
        KPlatformNewFile away;
        struct stat st;
        if (!KPlatformMakeDirectory((mFolder + "/d").c_str()) ||
            !away.Create((mFolder + "/d/f").c_str()) || !away.Close() ||
            rename((mFolder + "/d").c_str(), (mFolder + "/e").c_str()) != 0)
            _exit(7);
        away.Keep();
        if (stat((mFolder + "/e/f").c_str(), &st) != 0 || (st.st_mode & 07777) != (0666 & ~mask))
            _exit(8);
        if (!List("r*").empty()) _exit(9);
        // In a folder whose default access list gives the group writing (u::rw g::rw o::r),
        // they get what it gives, as a file made there directly, not what the umask leaves.
        const uint32_t acl[7] = {2, 0x00060001, ~0u, 0x00060004, ~0u, 0x00040020, ~0u};
        const std::string shared = mFolder + "/shared";
        KPlatformNewFile made;
        if (!KPlatformMakeDirectory(shared.c_str())) _exit(10);
        if (setxattr(shared.c_str(), "system.posix_acl_default", acl, sizeof acl, 0) == 0 &&
            (!made.Create((shared + "/made").c_str()) || !made.Close() || !made.Keep() ||
             stat((shared + "/made").c_str(), &st) != 0 || (st.st_mode & 07777) != 0664))
            _exit(11);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

std::string Bytes(const std::string& path) {
    std::string bytes;
    if (FILE* f = fopen(path.c_str(), "rb")) {
        char buffer[256];
        size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, got);
        fclose(f);
    }
    return bytes;
}

// The problems found before a replacement begins, and links followed to their file.
TEST_F(TempFolder, ReplaceChecksEveryTarget) {
    using P = KPlatformReplaceProblem;
    Touch("plain");
    Touch("locked");
    ASSERT_EQ(chmod((mFolder + "/locked").c_str(), 0444), 0);
    ASSERT_TRUE(KPlatformMakeDirectory((mFolder + "/dir").c_str()));
    ASSERT_EQ(symlink("plain", (mFolder + "/link").c_str()), 0);
    ASSERT_EQ(symlink("link", (mFolder + "/chain").c_str()), 0);
    ASSERT_EQ(symlink("nothing", (mFolder + "/dangling").c_str()), 0);
    ASSERT_EQ(symlink("loop2", (mFolder + "/loop1").c_str()), 0);
    ASSERT_EQ(symlink("loop1", (mFolder + "/loop2").c_str()), 0);
    ASSERT_EQ(symlink("locked", (mFolder + "/tolocked").c_str()), 0);
    ASSERT_EQ(symlink("dir/new", (mFolder + "/intodir").c_str()), 0);
    // A pipe is written through its link: the system's links to descriptors name no file.
    ASSERT_EQ(mkfifo((mFolder + "/pipe").c_str(), 0600), 0);
    ASSERT_EQ(symlink("pipe", (mFolder + "/topipe").c_str()), 0);
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    const std::string fd = "/proc/self/fd/" + std::to_string(ends[1]);
    ASSERT_EQ(symlink(fd.c_str(), (mFolder + "/tofd").c_str()), 0);
    const std::string longest(size_t(pathconf(mFolder.c_str(), _PC_NAME_MAX)), 'n');
    struct Row {
        std::string name;
        P problem;
        std::string resolved;  // "" for none
    } rows[] = {
        {"plain", P::eNone, "plain"},
        {"new", P::eNone, "new"},
        {"dir/new", P::eNone, "dir/new"},
        {"missing/new", P::eMissingFolder, "missing/new"},
        {"plain/new", P::eMissingFolder, "plain/new"},
        {"dir", P::eFolder, "dir"},
        {"dir/", P::eFolder, "dir/"},
        {"locked", P::eReadOnly, "locked"},
        {"link", P::eNone, "plain"},
        {"chain", P::eNone, "plain"},
        {"tolocked", P::eReadOnly, "locked"},
        {"intodir", P::eNone, "dir/new"},
        {"dangling", P::eNone, "nothing"},  // written through: the link's file is made
        {"loop1", P::eLinkLoop, ""},
        {"pipe", P::eNone, "pipe"},
        {"topipe", P::eNone, "topipe"},
        {"tofd", P::eNone, "tofd"},
        {longest, P::eNone, longest},
        {longest + "n", P::eNameTooLong, ""},
        {longest + "n/new", P::eNameTooLong, ""},
        {"dir/" + longest + "n", P::eNameTooLong, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = mFolder + "/" + row.name;
        EXPECT_EQ(KPlatformCheckReplace(path.c_str()), row.problem);
        EXPECT_EQ(KPlatformResolveLinks(path.c_str()),
                  row.resolved.empty() ? "" : mFolder + "/" + row.resolved);
    }
    EXPECT_EQ(KPlatformCheckReplace(""), P::eNoName);
    EXPECT_EQ(KPlatformCheckReplace(nullptr), P::eNoName);
    close(ends[0]);
    close(ends[1]);
}

// Nothing reaches the target before Commit; Abandon (or destruction) leaves it as it was and
// no file beside it; Commit keeps the old permissions and writes through links.
TEST_F(TempFolder, ReplaceOnlyOnCommit) {
    Touch("target", "old");
    ASSERT_EQ(chmod((mFolder + "/target").c_str(), 0604), 0);
    ASSERT_EQ(symlink("target", (mFolder + "/link").c_str()), 0);
    const std::string target = mFolder + "/target";
    {
        KPlatformReplaceFile file;
        ASSERT_TRUE(file.Open((mFolder + "/link").c_str(), "wb"));
        fputs("new", file.GetFile());
        fflush(file.GetFile());
        EXPECT_EQ(Bytes(target), "old");
        // ".", "..", the new file (hidden, beside its target), link, target.
        const std::vector<std::string> names = List("*");
        ASSERT_EQ(names.size(), 5u);
        EXPECT_EQ(names[2].compare(0, 8, ".target."), 0) << names[2];
        file.Abandon();
    }
    EXPECT_EQ(Bytes(target), "old");
    {
        KPlatformReplaceFile file;
        ASSERT_TRUE(file.Open((mFolder + "/link").c_str(), "w+b"));
        fputs("dropped", file.GetFile());
    }  // destroyed without a commit
    EXPECT_EQ(Bytes(target), "old");
    KPlatformReplaceFile file;
    ASSERT_TRUE(file.Open((mFolder + "/link").c_str(), "wb"));
    fputs("new", file.GetFile());
    EXPECT_TRUE(file.Commit());
    EXPECT_FALSE(file.Commit());  // nothing open any more
    EXPECT_EQ(Bytes(target), "new");
    struct stat st;
    ASSERT_EQ(lstat((mFolder + "/link").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0604u);
    EXPECT_EQ(List("*"), (std::vector<std::string>{".", "..", "link", "target"}));

    // A failed write (the stream's error set) is never put in place.
    ASSERT_TRUE(file.Open(target.c_str(), "wb"));
    fputs("half", file.GetFile());
    fgetc(file.GetFile());  // reading a write-only stream sets its error
    EXPECT_FALSE(file.Commit());
    EXPECT_EQ(Bytes(target), "new");
    EXPECT_EQ(List("*").size(), 4u);

    // A write the system refuses keeps its first reason, for a commit and an abandon alike.
    for (const int error : {EIO, ENOSPC}) {
        for (const bool commit : {true, false}) {
            KPlatformFailFileCalls(KPlatformFileCall::eWrite, 1, 1, error);
            ASSERT_TRUE(file.Open(target.c_str(), "wb"));
            EXPECT_EQ(file.Write("ab", 2), 2u);
            EXPECT_EQ(file.Write("cd", 2), 0u);
            EXPECT_EQ(file.Write("ef", 2), 2u);
            EXPECT_TRUE(file.WriteFailed());
            if (commit)
                EXPECT_FALSE(file.Commit());
            else
                file.Abandon();
            EXPECT_EQ(KPlatformLastReplaceError(), error) << commit;
        }
    }
    KPlatformClearFileFaults();
    EXPECT_EQ(Bytes(target), "new");
    EXPECT_EQ(List("*").size(), 4u);

    // Refusals say why and create nothing.
    EXPECT_FALSE(file.Open((mFolder + "/no/x").c_str(), "wb"));
    EXPECT_EQ(file.GetProblem(), KPlatformReplaceProblem::eMissingFolder);
    EXPECT_FALSE(file.Open(target.c_str(), "rb"));  // not a write mode
    EXPECT_EQ(List("*").size(), 4u);
}

// Names up to the longest the folder takes are replaced: the hidden new file's name is cut to
// fit, at the start of a character.
TEST_F(TempFolder, ReplaceTheLongestNames) {
    const long longest = pathconf(mFolder.c_str(), _PC_NAME_MAX);
    std::string wide;  // two-byte characters, cut between two bytes at 243
    while (wide.size() + 2 <= size_t(longest)) wide += "\xC3\xA9";
    for (const std::string& name : {std::string(size_t(longest), 'n'), wide + "x"}) {
        KPlatformReplaceFile file;
        ASSERT_TRUE(file.Open((mFolder + "/" + name).c_str(), "wb"));
        const std::string hidden = List("*")[2];
        EXPECT_LE(hidden.size(), size_t(longest));
        const size_t kept = hidden.size() - 12;  // "." before, ".<6 chars>.tmp" after
        EXPECT_EQ(hidden.compare(1, kept, name, 0, kept), 0) << hidden;
        EXPECT_NE(name[kept] & 0xC0, 0x80) << hidden;
        EXPECT_TRUE(file.Commit());
        EXPECT_EQ(List("*"), (std::vector<std::string>{".", "..", name}));
        EXPECT_EQ(KPlatformDeleteFile((mFolder + "/" + name).c_str()), 0);
    }
}

// Files put in place together whose second rename fails after the first was done: the first
// target gets its old file back (or none, where there was none), and nothing hidden is left.
TEST_F(TempFolder, ReplaceTogetherPutsBackWhatItPlaced) {
    for (const bool firstExists : {true, false}) {
        SCOPED_TRACE(firstExists);
        if (firstExists) Touch("a", "old a");
        Touch("b", "old b");
        KPlatformReplaceFile a, b;
        ASSERT_TRUE(a.Open((mFolder + "/a").c_str(), "wb"));
        ASSERT_TRUE(b.Open((mFolder + "/b").c_str(), "wb"));
        fputs("new a", a.GetFile());
        ASSERT_EQ(unlink((mFolder + "/b").c_str()), 0);
        ASSERT_TRUE(KPlatformMakeDirectory((mFolder + "/b").c_str()));
        KPlatformReplaceFile* both[] = {&a, &b};
        EXPECT_FALSE(KPlatformReplaceFile::CommitTogether(both, 2));
        EXPECT_EQ(KPlatformLastReplaceError(), EISDIR);
        EXPECT_EQ(Bytes(mFolder + "/a"), firstExists ? "old a" : "");
        EXPECT_EQ(List("*"), firstExists ? (std::vector<std::string>{".", "..", "a", "b"})
                                         : (std::vector<std::string>{".", "..", "b"}));
        ASSERT_TRUE(KPlatformRemoveDirectory((mFolder + "/b").c_str()));
        KPlatformDeleteFile((mFolder + "/a").c_str());
    }
}

// A set refused at its first rename (a folder that keeps another user's files) whose second
// names of the old files cannot go either: each old file stays in its place, and each second
// name is told.
TEST_F(TempFolder, ReplaceTogetherTellsSecondNamesThatStay) {
    Touch("a", "old a");
    Touch("b", "old b");
    KPlatformReplaceFile a, b;
    ASSERT_TRUE(a.Open((mFolder + "/a").c_str(), "wb"));
    ASSERT_TRUE(b.Open((mFolder + "/b").c_str(), "wb"));
    fputs("new a", a.GetFile());
    KPlatformFailFileCalls(KPlatformFileCall::eRename, 0, 1, EPERM);
    KPlatformFailFileCalls(KPlatformFileCall::eUnlink, 0, -1, EPERM);
    KPlatformReplaceFile* both[] = {&a, &b};
    EXPECT_FALSE(KPlatformReplaceFile::CommitTogether(both, 2));
    KPlatformClearFileFaults();
    EXPECT_EQ(KPlatformLastReplaceError(), EPERM);
    EXPECT_EQ(Bytes(mFolder + "/a"), "old a");
    EXPECT_EQ(Bytes(mFolder + "/b"), "old b");
    const KPlatformReplaceFailure& failure = KPlatformLastReplaceFailure();
    ASSERT_EQ(failure.left.size(), 2u);
    const std::string said = KLastReplaceProblem();
    EXPECT_EQ(said.rfind("Operation not permitted; the old " + mFolder + "/a is also named " +
                             failure.left[0].hidden + ", which could not be removed (Operation "
                                                      "not permitted); the old " + mFolder + "/b",
                         0),
              0u)
        << said;
    for (const auto& left : failure.left) EXPECT_EQ(unlink(left.hidden.c_str()), 0);
    EXPECT_EQ(List("*"), (std::vector<std::string>{".", "..", "a", "b"}));
}

// Another user's pair in a folder of the sticky bit, which only its owners may replace: the set
// is refused before any second name is made, so nothing hidden is left.
TEST_F(TempFolder, ReplaceTogetherRefusesAnotherUsersFilesInAStickyFolder) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root, to act as two users";
    const std::string sticky = mFolder + "/sticky";
    ASSERT_EQ(chmod(mFolder.c_str(), 0711), 0);
    ASSERT_EQ(mkdir(sticky.c_str(), 0777), 0);
    ASSERT_EQ(chmod(sticky.c_str(), 01777), 0);
    for (const char* name : {"/a", "/b"}) {
        Touch(std::string("sticky") + name, "theirs");
        ASSERT_EQ(chmod((sticky + name).c_str(), 0666), 0);
        ASSERT_EQ(chown((sticky + name).c_str(), 4242, 4242), 0);
    }
    ASSERT_EQ(seteuid(65534), 0);
    bool placed = true;
    {
        KPlatformReplaceFile a, b;
        const bool opened = a.Open((sticky + "/a").c_str(), "wb") && b.Open((sticky + "/b").c_str(), "wb");
        if (opened) {
            KPlatformReplaceFile* both[] = {&a, &b};
            placed = KPlatformReplaceFile::CommitTogether(both, 2);
        }
        EXPECT_TRUE(opened);
    }
    const int error = KPlatformLastReplaceError();
    ASSERT_EQ(seteuid(0), 0);
    EXPECT_FALSE(placed);
    EXPECT_EQ(error, EPERM);
    EXPECT_EQ(Bytes(sticky + "/a"), "theirs");
    EXPECT_EQ(Bytes(sticky + "/b"), "theirs");
    EXPECT_EQ(List("sticky/*"), (std::vector<std::string>{".", "..", "a", "b"}));
}

// Another program that saves the first target after it took its new file, before the second
// fails: putting back leaves that program's file (saved by a rename or written in place) as it
// is, keeps the old file under its hidden name and tells both.
TEST_F(TempFolder, ReplaceTogetherLeavesAFileSavedMeanwhile) {
    struct Save {
        std::string target;
        bool inPlace;
        static void Act(void* context) {
            const Save& save = *static_cast<const Save*>(context);
            const std::string written = save.inPlace ? save.target : save.target + ".saving";
            FILE* file = fopen(written.c_str(), "w");
            ASSERT_NE(file, nullptr);
            fputs("theirs", file);
            fclose(file);
            if (!save.inPlace) {
                ASSERT_EQ(rename(written.c_str(), save.target.c_str()), 0);
            }
        }
    };
    for (const bool firstExists : {true, false}) {
        for (const bool inPlace : {true, false}) {
            SCOPED_TRACE(std::to_string(firstExists) + std::to_string(inPlace));
            if (firstExists) Touch("a", "old a");
            KPlatformReplaceFile a, b;
            ASSERT_TRUE(a.Open((mFolder + "/a").c_str(), "wb"));
            ASSERT_TRUE(b.Open((mFolder + "/b").c_str(), "wb"));
            fputs("new a", a.GetFile());
            ASSERT_TRUE(KPlatformMakeDirectory((mFolder + "/b").c_str()));  // b cannot be placed
            Save save{mFolder + "/a", inPlace};
            KPlatformActOnFileCall(KPlatformFileCall::eRename, 1, &Save::Act, &save);
            KPlatformReplaceFile* both[] = {&a, &b};
            EXPECT_FALSE(KPlatformReplaceFile::CommitTogether(both, 2));
            KPlatformClearFileFaults();
            EXPECT_EQ(KPlatformLastReplaceError(), EISDIR);
            EXPECT_EQ(Bytes(mFolder + "/a"), "theirs");
            const KPlatformReplaceFailure& failure = KPlatformLastReplaceFailure();
            EXPECT_FALSE(failure.oneFile);
            EXPECT_TRUE(failure.mixed.empty());
            ASSERT_EQ(failure.saved.size(), 1u);
            EXPECT_EQ(failure.saved[0].first, mFolder + "/a");
            EXPECT_EQ(failure.saved[0].second.empty(), !firstExists);
            if (firstExists) {
                EXPECT_EQ(Bytes(failure.saved[0].second), "old a");
                ASSERT_EQ(unlink(failure.saved[0].second.c_str()), 0);
            }
            EXPECT_EQ(List("*"), (std::vector<std::string>{".", "..", "a", "b"}));
            ASSERT_TRUE(KPlatformRemoveDirectory((mFolder + "/b").c_str()));
            KPlatformDeleteFile((mFolder + "/a").c_str());
        }
    }
}

// A first target that cannot be looked at once it took its new file, or when it is to be put
// back, may hold another program's file by then: it is left as it is, its old file under the
// hidden name, and the system's cause is told, never a file saved meanwhile.
TEST_F(TempFolder, ReplaceTogetherTellsATargetThatCannotBeLookedAt) {
    for (const int skip : {0, 1}) {
        SCOPED_TRACE(skip);
        Touch("a", "old a");
        KPlatformReplaceFile a, b;
        ASSERT_TRUE(a.Open((mFolder + "/a").c_str(), "wb"));
        ASSERT_TRUE(b.Open((mFolder + "/b").c_str(), "wb"));
        fputs("new a", a.GetFile());
        ASSERT_TRUE(KPlatformMakeDirectory((mFolder + "/b").c_str()));  // b cannot be placed
        KPlatformFailFileCalls(KPlatformFileCall::eLook, skip, 1, EIO);
        KPlatformReplaceFile* both[] = {&a, &b};
        EXPECT_FALSE(KPlatformReplaceFile::CommitTogether(both, 2));
        KPlatformClearFileFaults();
        const KPlatformReplaceFailure& failure = KPlatformLastReplaceFailure();
        EXPECT_TRUE(failure.saved.empty());
        EXPECT_TRUE(failure.mixed.empty());
        ASSERT_EQ(failure.unseen.size(), 1u);
        EXPECT_EQ(failure.unseen[0].target, mFolder + "/a");
        EXPECT_EQ(failure.unseen[0].error, EIO);
        EXPECT_EQ(Bytes(failure.unseen[0].hidden), "old a");
        EXPECT_EQ(Bytes(mFolder + "/a"), "new a");
        const std::string said = KLastReplaceProblem();
        EXPECT_NE(said.find(mFolder + "/a could not be looked at (Input/output error) and is left "
                                      "as it is, its old file kept as " + mFolder + "/.a."),
                  std::string::npos)
            << said;
        EXPECT_EQ(said.find("another program"), std::string::npos) << said;
        ASSERT_EQ(unlink(failure.unseen[0].hidden.c_str()), 0);
        ASSERT_TRUE(KPlatformRemoveDirectory((mFolder + "/b").c_str()));
        KPlatformDeleteFile((mFolder + "/a").c_str());
    }
}

// The first target's name emptied after it took its new file, before the second fails: by
// another program's removal, its old file goes back; by the folder moved, the pair is told mixed
// (never a file saved by another program). On a file system that refuses to be asked not to
// replace, a file saved at the emptied name as the old one goes back stays.
TEST_F(TempFolder, ReplaceTogetherPutsBackANameEmptiedMeanwhile) {
    struct Empty {
        std::string target, folder;
        bool move;
        static void Act(void* context) {
            const Empty& e = *static_cast<const Empty*>(context);
            ASSERT_EQ(e.move ? rename(e.folder.c_str(), (e.folder + ".moved").c_str())
                             : unlink(e.target.c_str()),
                      0);
        }
        static void Save(void* context) {
            FILE* file = fopen(static_cast<const Empty*>(context)->target.c_str(), "wx");
            ASSERT_NE(file, nullptr);
            fputs("theirs", file);
            fclose(file);
        }
    };
    // Removed, moved, removed with the flag refused, and then saved meanwhile.
    for (const int how : {0, 1, 2, 3}) {
        const bool move = how == 1, saved = how == 3;
        SCOPED_TRACE(how);
        Touch("a", "old a");
        KPlatformReplaceFile a, b;
        ASSERT_TRUE(a.Open((mFolder + "/a").c_str(), "wb"));
        ASSERT_TRUE(b.Open((mFolder + "/b").c_str(), "wb"));
        fputs("new a", a.GetFile());
        ASSERT_TRUE(KPlatformMakeDirectory((mFolder + "/b").c_str()));  // b cannot be placed
        Empty empty{mFolder + "/a", mFolder, move};
        KPlatformActOnFileCall(KPlatformFileCall::eRename, 1, &Empty::Act, &empty);
        if (how >= 2) KPlatformFailFileCalls(KPlatformFileCall::eRename, 2, 1, EINVAL);
        if (saved) KPlatformActOnFileCall(KPlatformFileCall::eLink, 1, &Empty::Save, &empty);
        KPlatformReplaceFile* both[] = {&a, &b};
        EXPECT_FALSE(KPlatformReplaceFile::CommitTogether(both, 2));
        KPlatformClearFileFaults();
        if (move) {
            ASSERT_EQ(rename((mFolder + ".moved").c_str(), mFolder.c_str()), 0);
        }
        const KPlatformReplaceFailure& failure = KPlatformLastReplaceFailure();
        ASSERT_EQ(failure.saved.size(), saved ? 1u : 0u);
        ASSERT_EQ(failure.mixed.size(), move ? 1u : 0u);
        if (move) {
            EXPECT_EQ(Bytes(mFolder + "/a"), "new a");
            ASSERT_EQ(unlink(failure.mixed[0].second.c_str()), 0);
        } else if (saved) {
            EXPECT_EQ(Bytes(mFolder + "/a"), "theirs");
            EXPECT_EQ(Bytes(failure.saved[0].second), "old a");
            ASSERT_EQ(unlink(failure.saved[0].second.c_str()), 0);
        } else {
            EXPECT_EQ(Bytes(mFolder + "/a"), "old a");
        }
        ASSERT_TRUE(KPlatformRemoveDirectory((mFolder + "/b").c_str()));
        KPlatformDeleteFile((mFolder + "/a").c_str());
    }
}

// Memory running out while files are put in place together leaves every old file and nothing
// hidden; the files dropped are not put in place later either, when their streams close.
TEST_F(TempFolder, ReplaceTogetherOutOfMemoryKeepsTheOldFiles) {
    Touch("a", "old a");
    Touch("b", "old b");
    bool placed = false;
    for (long n = 0; !placed && n < 100; ++n) {
        SCOPED_TRACE(n);
        KPlatformReplaceFile a, b;
        ASSERT_TRUE(a.Open((mFolder + "/a").c_str(), "wb"));
        ASSERT_TRUE(b.Open((mFolder + "/b").c_str(), "wb"));
        fputs("new a", a.GetFile());
        fputs("new b", b.GetFile());
        KPlatformReplaceFile* both[] = {&a, &b};
        bool threw = false;
        gThrowIn = n;
        try {
            placed = KPlatformReplaceFile::CommitTogether(both, 2);
        } catch (const std::bad_alloc&) {
            threw = true;
        }
        gThrowIn = -1;
        EXPECT_NE(threw, placed);
        if (placed) break;
        EXPECT_FALSE(a.Commit());
        EXPECT_FALSE(b.Commit());
        EXPECT_EQ(Bytes(mFolder + "/a"), "old a");
        EXPECT_EQ(Bytes(mFolder + "/b"), "old b");
        EXPECT_EQ(List("*"), (std::vector<std::string>{".", "..", "a", "b"}));
    }
    EXPECT_TRUE(placed);
    EXPECT_EQ(Bytes(mFolder + "/a"), "new a");
}

// Memory running out while a folder's names are gathered (a listing, a read open looking for
// another case) closes the folder: each allocation refused in turn leaves nothing open.
TEST_F(TempFolder, ANameListOutOfMemoryClosesItsFolder) {
    for (const char* name : {"A.txt", "a.TXT", "b.txt", "B.TXT", "c.txt"}) Touch(name);
    const std::function<void()> runs[] = {
        [&] { List("*.*"); },
        [&] {
            if (FILE* f = KPlatformOpenFile((mFolder + "/C.TXT").c_str(), "rb")) fclose(f);
        },
    };
    for (const auto& run : runs) {
        for (long n = 0;; ++n) {
            SCOPED_TRACE(n);
            ASSERT_LT(n, 100);
            gThrowIn = n;
            try {
                run();
            } catch (const std::bad_alloc&) {
            }
            if (gThrowIn.exchange(-1) >= 0) break;
        }
    }
#if defined(__SANITIZE_ADDRESS__)
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
}

// Two names of one file (a link to the other, or the same name twice) are refused whole; a new
// file that cannot be removed again where there was none leaves the set mixed, and says which.
TEST_F(TempFolder, ReplaceTogetherRefusesOneFileAndTellsAMixedSet) {
    Touch("a", "old a");
    ASSERT_EQ(symlink("a", (mFolder + "/b").c_str()), 0);
    for (const char* second : {"b", "./a", "c"}) {
        SCOPED_TRACE(second);
        KPlatformReplaceFile a, b;
        ASSERT_TRUE(a.Open((mFolder + "/a").c_str(), "wb"));
        ASSERT_TRUE(b.Open((mFolder + "/" + second).c_str(), "wb"));
        KPlatformReplaceFile* both[] = {&b, &a};
        const bool c = std::string(second) == "c";
        // "c" is new: its removal fails once the old "a" cannot take its place again.
        if (c) KPlatformFailFileCalls(KPlatformFileCall::eRename, 1, 1, EIO);
        if (c) KPlatformFailFileCalls(KPlatformFileCall::eUnlink, 0, 1, EIO);
        EXPECT_FALSE(KPlatformReplaceFile::CommitTogether(both, 2));
        KPlatformClearFileFaults();
        EXPECT_EQ(
            KPlatformSameReplaceTarget((mFolder + "/a").c_str(), (mFolder + "/" + second).c_str()),
            !c);
        const KPlatformReplaceFailure& failure = KPlatformLastReplaceFailure();
        EXPECT_EQ(failure.oneFile, !c);
        ASSERT_EQ(failure.mixed.size(), c ? 1u : 0u);
        EXPECT_EQ(Bytes(mFolder + "/a"), "old a");
        if (c) {
            EXPECT_EQ(failure.mixed[0], std::make_pair(mFolder + "/c", std::string()));
        }
    }
    EXPECT_EQ(List("*"), (std::vector<std::string>{".", "..", "a", "b", "c"}));
}

// A pair in place whose old file's hidden name cannot be removed tells that name, which holds
// the old file; the next set forgets it.
TEST_F(TempFolder, ReplaceTogetherTellsAHiddenNameLeftBehind) {
    Touch("a", "old a");
    Touch("b", "old b");
    for (int round = 0; round < 2; ++round) {
        KPlatformReplaceFile a, b;
        ASSERT_TRUE(a.Open((mFolder + "/a").c_str(), "wb"));
        ASSERT_TRUE(b.Open((mFolder + "/b").c_str(), "wb"));
        fputs("new a", a.GetFile());
        fputs("new b", b.GetFile());
        KPlatformReplaceFile* both[] = {&a, &b};
        if (round == 0) KPlatformFailFileCalls(KPlatformFileCall::eUnlink, 0, 1, EIO);
        EXPECT_TRUE(KPlatformReplaceFile::CommitTogether(both, 2));
        KPlatformClearFileFaults();
        const KPlatformReplaceFailure& failure = KPlatformLastReplaceFailure();
        EXPECT_EQ(Bytes(mFolder + "/a"), "new a");
        EXPECT_EQ(Bytes(mFolder + "/b"), "new b");
        if (round == 1) {
            EXPECT_TRUE(failure.left.empty());
            break;
        }
        ASSERT_EQ(failure.left.size(), 1u);
        EXPECT_EQ(failure.left[0].target, mFolder + "/a");
        EXPECT_EQ(failure.left[0].error, EIO);
        EXPECT_EQ(Bytes(failure.left[0].hidden), "old a");
        EXPECT_EQ(List("*").size(), 5u);  // ".", "..", the hidden name, "a", "b"
        ASSERT_EQ(unlink(failure.left[0].hidden.c_str()), 0);
    }
    EXPECT_EQ(List("*"), (std::vector<std::string>{".", "..", "a", "b"}));
}

// A commit guard is asked before each file takes its place until the watched one has; a no
// (or a check that throws) keeps every old file from then on and leaves nothing hidden.
TEST_F(TempFolder, CommitGuardAsksBeforeEveryPlaceUntilTheWatchedOne) {
    struct Check {
        int asked = 0;
        bool answer = true;
        std::string folder;
        bool written = true;  // every new file held all its bytes when the check was asked
        static bool Ask(void* self) {
            auto* check = static_cast<Check*>(self);
            ++check->asked;
            std::vector<KPlatformDirEntry> entries;
            KPlatformListDirectory((check->folder + "/.*.tmp").c_str(), entries);
            for (const KPlatformDirEntry& e : entries) check->written = check->written && e.size > 2;
            if (check->asked > 3) throw std::runtime_error("cannot tell");
            return check->answer;
        }
    } check;
    check.folder = mFolder;
    auto put = [&](const char* name) {
        KPlatformReplaceFile file;
        return file.Open((mFolder + "/" + name).c_str(), "wb") &&
               fputs(name, file.GetFile()) >= 0 && file.Commit();
    };
    for (const bool answer : {true, false}) {
        Touch("out", "old");
        check.answer = answer;
        KPlatformCommitGuard guard(&Check::Ask, &check, (mFolder + "/./out").c_str());
        EXPECT_EQ(put("side"), answer);
        EXPECT_EQ(put("out"), answer);
        EXPECT_EQ(put("after"), answer);  // not asked once the watched file is in place
        EXPECT_EQ(guard.WatchedPlaced(), answer);
        EXPECT_NE(guard.Refused(), answer);
    }
    {
        check.answer = true;
        KPlatformCommitGuard guard(&Check::Ask, &check, nullptr);
        EXPECT_FALSE(put("out"));  // the check throws
    }
    EXPECT_EQ(check.asked, 4);
    EXPECT_TRUE(check.written);
    EXPECT_EQ(Bytes(mFolder + "/out"), "old");
    EXPECT_EQ(Bytes(mFolder + "/side"), "side");
    EXPECT_EQ(List("*"), (std::vector<std::string>{".", "..", "after", "out", "side"}));
}

// A device cannot be replaced: it is written directly.
TEST(KPlatformReplace, DevicesAreWrittenDirectly) {
    KPlatformReplaceFile file;
    ASSERT_TRUE(file.Open("/dev/null", "wb"));
    fputs("gone", file.GetFile());
    EXPECT_TRUE(file.Commit());
    struct stat st;
    ASSERT_EQ(stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

// While a file of its own is expected at a name, a device or a pipe found by an open there is
// refused at once (a pipe without a reader is never waited on); a look alone, an open of another
// name, and one made once the expectation ended write the pipe.
TEST_F(TempFolder, DevicesAreRefusedWhereARegularFileWasExpected) {
    const std::string pipe = mFolder + "/pipe.mtl";
    EXPECT_TRUE(KCanWriteCompanion(pipe.c_str()));
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    ASSERT_EQ(symlink("pipe.mtl", (mFolder + "/link.mtl").c_str()), 0);
    // A reader waits, so that an open that does not refuse the pipe fails the test, not hangs.
    const int reader = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    {
        KPlatformReplaceFile file;
        EXPECT_TRUE(file.Open(pipe.c_str(), "wb"));
        EXPECT_TRUE(file.Commit());
    }
    for (const std::string& name : {pipe, mFolder + "/link.mtl", std::string("/dev/null")}) {
        SCOPED_TRACE(name);
        const KPlatformRegularFileOnly regularOnly(name.c_str());
        for (int again = 0; again < 2; ++again) {
            KPlatformReplaceFile file;
            EXPECT_FALSE(file.Open(name.c_str(), "wb"));
            EXPECT_EQ(file.GetProblem(), KPlatformReplaceProblem::eCannotCreate);
            EXPECT_EQ(KPlatformLastCreateError(name.c_str()), ENXIO);
        }
    }
    KPlatformReplaceFile file;
    {
        const KPlatformRegularFileOnly regularOnly(pipe.c_str());
        ASSERT_TRUE(file.Open((mFolder + "/plain.mtl").c_str(), "wb"));
        file.Abandon();
    }
    ASSERT_TRUE(file.Open(pipe.c_str(), "wb"));
    EXPECT_TRUE(file.Commit());
    EXPECT_EQ(List("*"), (std::vector<std::string>{".", "..", "link.mtl", "pipe.mtl"}));
    close(reader);
}

// While the files a read used are kept from writing, a name that leads to one of them, through
// a link put there after the look, is refused; once they are not, the link is written through.
TEST_F(TempFolder, FilesKeptFromWritingAreNotReachedThroughALink) {
    Touch("in", "read");
    const std::vector<KPlatformFileFound> read{KPlatformFindAsRead((mFolder + "/IN").c_str())};
    ASSERT_EQ(symlink("in", (mFolder + "/out").c_str()), 0);
    const std::string out = mFolder + "/out";
    {
        const KPlatformKeepFilesRead keep(&read);
        const KPlatformKeepFilesRead inner(nullptr);  // none of its own: the one before holds
        for (const std::string& name : {out, mFolder + "/in"}) {
            KPlatformReplaceFile file;
            EXPECT_FALSE(file.Open(name.c_str(), "wb"));
            EXPECT_EQ(KPlatformLastCreateError(name.c_str()), ETXTBSY);
            EXPECT_EQ(KCreateFileProblem(name.c_str()), "it leads to a file the read used");
        }
    }
    KPlatformReplaceFile file;
    ASSERT_TRUE(file.Open(out.c_str(), "wb"));
    fputs("new", file.GetFile());
    EXPECT_TRUE(file.Commit());
    EXPECT_EQ(Bytes(mFolder + "/in"), "new");
}

// A replaced file keeps its access list, and gets none the folder would give a new file where
// it had none: it grants no more than it did. Skipped where the file system takes no lists.
TEST_F(TempFolder, ReplacedFilesGrantNoMoreThanTheyDid) {
    auto entry = [](uint32_t tag, uint32_t permissions, uint32_t id) {
        return std::vector<uint32_t>{tag | permissions << 16, id};
    };
    // user::rw- user:nobody:rw- group::r-- mask::rw- other::r--
    std::vector<uint32_t> list{2};
    for (const auto& e : {entry(0x01, 6, ~0u), entry(0x02, 6, 65534), entry(0x04, 4, ~0u),
                          entry(0x10, 6, ~0u), entry(0x20, 4, ~0u)})
        list.insert(list.end(), e.begin(), e.end());
    const size_t bytes = list.size() * sizeof(uint32_t);
    const char* kAccess = "system.posix_acl_access";
    Touch("listed", "old");
    if (setxattr((mFolder + "/listed").c_str(), kAccess, list.data(), bytes, 0) != 0)
        GTEST_SKIP() << "no access lists here: " << KPlatformErrorText(errno);
    // A folder whose default list gives nobody writing, and a file of it that has no list.
    ASSERT_TRUE(KPlatformMakeDirectory((mFolder + "/shared").c_str()));
    ASSERT_EQ(setxattr((mFolder + "/shared").c_str(), "system.posix_acl_default", list.data(),
                       bytes, 0),
              0);
    Touch("shared/plain", "old");
    ASSERT_EQ(removexattr((mFolder + "/shared/plain").c_str(), kAccess), 0);
    ASSERT_EQ(chmod((mFolder + "/shared/plain").c_str(), 0640), 0);
    for (const char* name : {"listed", "shared/plain"}) {
        SCOPED_TRACE(name);
        const std::string path = mFolder + "/" + name;
        struct stat before, after;
        ASSERT_EQ(stat(path.c_str(), &before), 0);
        KPlatformReplaceFile file;
        ASSERT_TRUE(file.Open(path.c_str(), "wb"));
        fputs("new", file.GetFile());
        ASSERT_TRUE(file.Commit());
        EXPECT_EQ(Bytes(path), "new");
        ASSERT_EQ(stat(path.c_str(), &after), 0);
        EXPECT_EQ(after.st_mode & 07777, before.st_mode & 07777);
        std::vector<uint32_t> got(list.size() + 1);
        const ssize_t size = getxattr(path.c_str(), kAccess, got.data(), got.size() * 4);
        if (name == std::string("listed")) {
            ASSERT_EQ(size, ssize_t(bytes));
            got.resize(list.size());
            EXPECT_EQ(got, list);
        } else {
            EXPECT_EQ(size, -1);
            EXPECT_EQ(errno, ENODATA);
        }
    }
}

// A replaced file keeps its owner and group where the writer may give them; a group it cannot
// keep (a writer not of it) is the writer's, which gets only what the others had, and a
// set-user-id bit goes with an owner not kept.
TEST_F(TempFolder, ReplacedFilesKeepTheirGroupOrGrantItNoMore) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to make files of other owners";
    ASSERT_EQ(chmod(mFolder.c_str(), 0777), 0);
    const uid_t nobody = 65534;
    const struct {
        const char* name;
        uid_t uid;
        gid_t gid;
        mode_t mode;
        bool asNobody;
        uid_t newUid;
        gid_t newGid;
        mode_t newMode;
    } rows[] = {
        {"root", 0, 50, 0640, false, 0, 50, 0640},
        {"other", nobody, 50, 0664, false, nobody, 50, 0664},
        {"group", nobody, 50, 0664, true, nobody, nobody, 0644},
        {"owner", 0, 50, 04666, true, nobody, nobody, 0666},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = mFolder + "/" + row.name;
        Touch(row.name, "old");
        ASSERT_EQ(chown(path.c_str(), row.uid, row.gid), 0);
        ASSERT_EQ(chmod(path.c_str(), row.mode), 0);
        auto replace = [&] {
            KPlatformReplaceFile file;
            return file.Open(path.c_str(), "wb") && fputs("new", file.GetFile()) >= 0 &&
                   file.Commit();
        };
        if (row.asNobody) {
            const pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0)
                _exit(setgroups(0, nullptr) == 0 && setgid(nobody) == 0 && setuid(nobody) == 0 &&
                              replace()
                          ? 0
                          : 1);
            int status = 0;
            ASSERT_EQ(waitpid(child, &status, 0), child);
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        } else {
            ASSERT_TRUE(replace());
        }
        struct stat st;
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(Bytes(path), "new");
        EXPECT_EQ(st.st_uid, row.newUid);
        EXPECT_EQ(st.st_gid, row.newGid);
        EXPECT_EQ(st.st_mode & 07777, row.newMode);
    }
}

TEST(KPlatformSystem, TempFolderFollowsTmpdir) {
    const char* old = getenv("TMPDIR");
    std::string saved = old ? old : "";
    setenv("TMPDIR", "/some/where/", 1);
    EXPECT_EQ(KPlatformGetTempFolder(), "/some/where");
    if (old)
        setenv("TMPDIR", saved.c_str(), 1);
    else
        unsetenv("TMPDIR");
}

TEST(KPlatformSystem, ClockAndComputerName) {
    KPlatformLocalTime t;
    ASSERT_TRUE(KPlatformGetLocalTime(t));
    EXPECT_GE(t.year, 2000);
    EXPECT_TRUE(t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31);
    char name[256];
    ASSERT_TRUE(KPlatformGetComputerName(name, sizeof(name)));
    EXPECT_EQ(std::string(name).find('.'), std::string::npos);
    EXPECT_FALSE(KPlatformGetComputerName(name, 1));
    EXPECT_EQ(KPlatformFullPath("/abs"), "/abs");
    EXPECT_EQ(KPlatformFullPath("rel"), KPlatformGetCurrentDirectory() + "/rel");
}

}  // namespace

// Devices, pipes and sockets are told apart from files and folders without opening them, so
// that a pipe nobody writes to never blocks the check.
TEST_F(TempFolder, SpecialFilesAreToldApartByName) {
    Touch("plain.txt");
    const std::string fifo = mFolder + "/pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string link = mFolder + "/link";
    ASSERT_EQ(symlink(fifo.c_str(), link.c_str()), 0);
    struct Case {
        std::string path;
        bool special;
        bool onlyIfPresent;
    } cases[] = {
        {mFolder + "/plain.txt", false, false},
        {mFolder, false, false},
        {mFolder + "/missing", false, false},
        {"", false, false},
        {fifo, true, false},
        {link, true, false},
        {"/dev/null", true, true},
        {"/dev/zero", true, true},
        {"/dev/urandom", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        if (c.onlyIfPresent && !KPlatformPathExists(c.path.c_str())) continue;
        EXPECT_EQ(KPlatformIsSpecialFile(c.path.c_str()), c.special);
        // Opened for reading, they are refused by the file opened (a pipe with no writer does
        // not wait), whatever the name held when looked at.
        if (!c.special) continue;
        errno = 0;
        EXPECT_EQ(KPlatformOpenFile(c.path.c_str(), "rb"), nullptr);
        EXPECT_EQ(errno, EINVAL);
    }
    EXPECT_FALSE(KPlatformIsSpecialFile(nullptr));
    // Found by another case, too; a file read is read as ever, its descriptor waiting again.
    EXPECT_EQ(KPlatformOpenFile((mFolder + "/PIPE").c_str(), "rb"), nullptr);
    FILE* plain = KPlatformOpenFile((mFolder + "/plain.TXT").c_str(), "rb");
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(fcntl(fileno(plain), F_GETFL) & O_NONBLOCK, 0);
    EXPECT_EQ(fgetc(plain), 'x');
    fclose(plain);
}
