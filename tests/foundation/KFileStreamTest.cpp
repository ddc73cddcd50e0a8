#include "foundation/KFileStream.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "common/TempTestFolder.h"

namespace {

std::string TempName(const char* tag) {
    return std::string(::testing::TempDir()) + "kfs_" + tag + "_" + std::to_string(getpid());
}

void WriteBytes(const std::string& name, const std::string& bytes) {
    FILE* f = std::fopen(name.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

TEST(KFileStream, OpenModeTwoEmptiesAndReadsBack) {
    std::string name = TempName("mode2");
    WriteBytes(name, "old content");
    KFileStream s;
    ASSERT_TRUE(s.OpenMode(name.c_str(), 2, false));
    EXPECT_EQ(s.GetFileName(), name);
    s.Seek(2, 0);
    EXPECT_EQ(s.Tell(), 0);
    EXPECT_EQ(s.Write("abcdef", 6), 6u);
    s.Seek(5, 1);  // unknown origin counts as the start
    char buf[4] = {};
    EXPECT_EQ(s.Read(buf, 3), 3u);
    EXPECT_STREQ(buf, "bcd");
    s.SetPosition(0);
    EXPECT_EQ(s.Printf("%s-%d", "x", 42), 4);
    EXPECT_EQ(s.Truncate(2), 0);
    s.Seek(2, 0);
    EXPECT_EQ(s.Tell(), 2);
    s.Close();
    EXPECT_FALSE(s.IsOpen());
    EXPECT_EQ(KRemoveFile(name.c_str()), 0);
    EXPECT_NE(KRemoveFile(name.c_str()), 0);
}

std::string ReadBytes(const std::string& name) {
    std::string bytes;
    if (FILE* f = std::fopen(name.c_str(), "rb")) {
        char buffer[256];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, got);
        std::fclose(f);
    }
    return bytes;
}

// A file opened for writing replaces the old one only when it closes whole.
TEST(KFileStream, WrittenFilesReplaceTheOldOneOnlyWhenWhole) {
    enum End { eClose, eCommit, eDiscard, eDestroy, eFailedWrite };
    struct Row {
        End end;
        bool replaced;
        bool result;  // of Commit, where called
    } rows[] = {{eClose, true, true},     {eCommit, true, true},        {eDiscard, false, false},
                {eDestroy, false, false}, {eFailedWrite, false, false}};
    const std::string name = TempName("replace");
    for (const Row& row : rows) {
        SCOPED_TRACE(int(row.end));
        WriteBytes(name, "old");
        {
            KFileStream s;
            ASSERT_TRUE(s.Open(name.c_str(), "wb"));
            EXPECT_EQ(s.Write("new", 3), 3u);
            s.Seek(1, 0);
            EXPECT_EQ(ReadBytes(name), "old");  // nothing reaches the name while writing
            if (row.end == eFailedWrite) {
                char c;
                s.Read(&c, 1);  // a read on a write-only stream sets the error
                EXPECT_TRUE(s.HasError());
                EXPECT_EQ(s.Commit(), row.result);
            } else if (row.end == eCommit) {
                EXPECT_EQ(s.Commit(), row.result);
            } else if (row.end == eClose) {
                s.Close();
            } else if (row.end == eDiscard) {
                s.Discard();
            }
            EXPECT_EQ(s.IsOpen(), row.end == eDestroy);
        }
        EXPECT_EQ(ReadBytes(name), row.replaced ? "new" : "old");
    }
    // Reading and updating stay in place.
    KFileStream s;
    ASSERT_TRUE(s.Open(name.c_str(), "r+b"));
    EXPECT_EQ(s.Write("N", 1), 1u);
    s.Discard();
    EXPECT_EQ(ReadBytes(name)[0], 'N');
    EXPECT_EQ(KRemoveFile(name.c_str()), 0);

    // A file in a folder that does not exist is refused with the reason.
    const std::string lost = TempName("nofolder") + "/x.bin";
    EXPECT_FALSE(s.Open(lost.c_str(), "wb"));
    EXPECT_EQ(KCreateFileError(lost.c_str()),
              "Unable to create file " + lost + ": the folder " + TempName("nofolder") +
                  " does not exist");
}

// A new file (or a read) the system refuses is told by the system's reason, for that name only:
// here no descriptor is left, in a child whose limit is lowered (the calls made once before, so
// that a sanitizer's type checks, which need a descriptor, have seen them).
TEST(KFileStream, CreateProblemsTellTheSystemsReason) {
    const std::string target = TempName("nofd"), other = TempName("other");
    const std::string readable = TempName("readable");
    WriteBytes(readable, "x");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        KFileStream s;
        s.Open(target.c_str(), "wb");
        s.Discard();
        struct rlimit limit;
        getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = rlim_t(dup(0));
        close(int(limit.rlim_cur));
        const std::string unread = "File not opened: " + readable + ": Too many open files";
        const rlim_t was = limit.rlim_cur;
        KFileStream r;
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0 || s.Open(target.c_str(), "wb")) _exit(10);
        if (KCreateFileProblem(target.c_str()) != "too many open files") _exit(11);
        if (KCreateFileProblem(other.c_str()) != "the folder does not accept new files") _exit(12);
        if (KOpenForReadError(readable.c_str()) != unread) _exit(13);
        // A read refused then is told so once descriptors are free again.
        if (r.Open(readable.c_str(), "rb")) _exit(14);
        limit.rlim_cur = was + 1;
        _exit(setrlimit(RLIMIT_NOFILE, &limit) != 0           ? 15
              : KOpenForReadError(readable.c_str()) != unread ? 16
                                                              : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    struct stat st;
    EXPECT_NE(stat(target.c_str(), &st), 0);
    std::remove(readable.c_str());
}

TEST(KFileStream, FolderDoesNotOpen) {
    KFileStream s;
    EXPECT_FALSE(s.Open(::testing::TempDir().c_str(), "rb"));
    EXPECT_FALSE(s.IsOpen());
    // Why a read could not open a name says the system's cause.
    const std::string folder = ::testing::TempDir(), missing = TempName("gone");
    EXPECT_EQ(KOpenForReadError(folder.c_str()), "File not opened: " + folder + ": it is a folder");
    EXPECT_EQ(KOpenForReadError(missing.c_str()),
              "File not opened: " + missing + ": No such file or directory");
    EXPECT_EQ(KOpenForReadError((missing + "/x").c_str()),
              "File not opened: " + missing + "/x: No such file or directory");
    EXPECT_EQ(KOpenForReadError("/dev/null"), "Cannot read \"/dev/null\": not a regular file");
}

// Devices and pipes are not read: their reads may never end, and opening a pipe for reading
// waits for a writer. Writing to them stays possible.
TEST(KFileStream, DevicesAndPipesAreNotRead) {
    const std::string fifo = TempName("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& name : {fifo, std::string("/dev/zero"), std::string("/dev/urandom")}) {
        SCOPED_TRACE(name);
        if (access(name.c_str(), F_OK) != 0) continue;
        EXPECT_TRUE(KIsSpecialFile(name.c_str()));
        for (const char* mode : {"rb", "r", "r+b"}) {
            KFileStream s;
            EXPECT_FALSE(s.Open(name.c_str(), mode)) << mode;
            EXPECT_FALSE(s.IsOpen());
        }
    }
    EXPECT_EQ(unlink(fifo.c_str()), 0);
    if (access("/dev/null", W_OK) == 0) {
        KFileStream s;
        EXPECT_TRUE(s.Open("/dev/null", "wb"));
        EXPECT_EQ(s.Write("x", 1), 1u);
    }
    const std::string plain = TempName("plain");
    WriteBytes(plain, "text");
    EXPECT_FALSE(KIsSpecialFile(plain.c_str()));
    KFileStream s;
    EXPECT_TRUE(s.Open(plain.c_str(), "rb"));
    s.Close();
    EXPECT_EQ(KRemoveFile(plain.c_str()), 0);
}

TEST(KFileStream, SwappedReadsLeaveTheSwappedValue) {
    std::string name = TempName("swap");
    WriteBytes(name, std::string("\x12\x34\x01\x02\x03\x04\x7f", 7));
    KFileStream s;
    ASSERT_TRUE(s.Open(name.c_str(), "rb"));
    uint16_t v16 = 0;
    EXPECT_EQ(s.ReadInt16(&v16, true), 0x1234);
    EXPECT_EQ(v16, 0x1234);
    uint32_t v32 = 0;
    EXPECT_EQ(s.ReadInt32(&v32, false), 0x04030201u);
    uint8_t v8 = 0;
    EXPECT_EQ(s.ReadInt8(&v8), 0x7f);
    EXPECT_FALSE(s.IsEof());
    EXPECT_EQ(s.Read(&v8, 1), 0u);
    EXPECT_TRUE(s.IsEof());
    s.ClearError();
    EXPECT_FALSE(s.IsEof());
    KRemoveFile(name.c_str());
}

TEST(KFileStream, ClosedStreamDoesNothing) {
    KFileStream s;
    char buf[8] = {};
    uint32_t v = 5;
    EXPECT_EQ(s.Read(buf, 8), 0u);
    EXPECT_EQ(s.ReadInt32(&v, true), 0u);
    EXPECT_EQ(v, 5u);
    EXPECT_EQ(s.Gets(buf, 8), nullptr);
    EXPECT_EQ(s.Write("a", 1), 0u);
    EXPECT_EQ(s.Tell(), 0);
    EXPECT_EQ(s.Truncate(0), -1);
    EXPECT_EQ(s.Printf("x"), 0);
    EXPECT_FALSE(s.HasError());
    EXPECT_FALSE(s.Open((TempName("missing") + "/nope").c_str(), "rb"));
}

TEST(KFileStream, LongPrintfAndLongNames) {
    std::string name = TempName("printf");
    KFileStream s;
    ASSERT_TRUE(s.OpenMode(name.c_str(), 2, true));
    std::string big(20000, 'q');
    EXPECT_EQ(s.Printf("%s!", big.c_str()), 20001);
    s.SetPosition(0);
    char line[64];
    ASSERT_NE(s.Gets(line, sizeof line), nullptr);
    EXPECT_EQ(std::string(line), std::string(63, 'q'));
    s.Close();
    KRemoveFile(name.c_str());
    EXPECT_FALSE(s.Open(std::string(1024, 'a').c_str(), "w+b"));
    // A path is as long as the system takes: 1,500 characters in folders of 200 are written,
    // past its bound the system refuses it.
    TempTestFolder folder("kfsdeep");
    std::string deep = folder.path();
    while (deep.size() < 1300) {
        deep += "/" + std::string(200, 'd');
        ASSERT_EQ(mkdir(deep.c_str(), 0755), 0);
    }
    const std::string longPath = deep + "/" + std::string(1500 - deep.size() - 1, 'f');
    ASSERT_TRUE(s.Open(longPath.c_str(), "wb"));
    EXPECT_EQ(s.Write("x", 1), 1u);
    EXPECT_TRUE(s.Commit());
    EXPECT_TRUE(s.Open(longPath.c_str(), "rb"));
    s.Close();
    EXPECT_EQ(KRemoveFile(longPath.c_str()), 0);
    std::string tooLong = deep;
    while (tooLong.size() <= 4096) tooLong += "/" + std::string(200, 'd');
    EXPECT_FALSE(s.Open((tooLong + "/f").c_str(), "rb"));
    EXPECT_EQ(KOpenForReadError((tooLong + "/f").c_str()),
              "File not opened: " + tooLong + "/f: File name too long");
}

}  // namespace
