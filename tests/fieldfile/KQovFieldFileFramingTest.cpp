#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fieldfile/FieldFileTestUtil.h"
#include "fieldfile/KQovFieldFile.h"
#include "fieldfile/KQovFieldReader.h"
#include "io/qov/KQovPropertyFieldFile.h"
#include "fieldfile/KQovStream.h"
#include "platform/KPlatformFile.h"

#include <algorithm>
#include <memory>

namespace {

using qovtest::Encode;
using qovtest::NullRecord;
using qovtest::ReadAll;
using qovtest::Rec;
using qovtest::TempFolder;
using qovtest::WriteAll;

using qovtest::kFooter;

void WriteSimple(const std::string& name, bool binary, const char* value = "v",
                 KQovHeaderInfo* info = nullptr, bool encrypted = false) {
    KQovFieldFile f;
    ASSERT_TRUE(f.Create(name.c_str(), binary, encrypted, info)) << f.GetLastErrorString();
    f.FieldWriteC("Field", value);
    ASSERT_TRUE(f.FieldFileClose());
}

// Media fields named A, B ... holding "Axyz", "Bxyz" ...; the file is closed.
void WriteMediaFields(KQovFieldFile& f, std::initializer_list<const char*> fields) {
    for (const char* field : fields) {
        f.FieldWriteBegin(field);
        f.FieldWriteR(4);
        f.GetStream()->Write(field, 1);
        f.GetStream()->Write("xyz", 3);
        f.FieldWriteEnd();
    }
    f.FieldFileClose();
}

std::string ReadSimple(const std::string& name, int part = 0) {
    KQovFieldFile f;
    if (!f.Open(name.c_str(), false, false, nullptr))
        return "open: " + std::string(f.GetLastErrorString());
    if (!f.FieldFileSelectPart(part)) return "select: " + std::string(f.GetLastErrorString());
    return f.FieldReadC("Field", "<none>");
}

std::string Shell(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, p)) out += buffer;
    pclose(p);
    return out;
}

TEST(KQovFieldFileFraming, NamesAndProjectFolder) {
    TempFolder tmp;
    mkdir((tmp / "scene.qod").c_str(), 0755);
    WriteAll(tmp / "scene.qod/Project.bin", "x");
    WriteSimple(tmp / "scene", true);
    EXPECT_FALSE(ReadAll(tmp / "scene.qov").empty());
    // The project folder is the user's: emptied of the project file, it stays.
    EXPECT_TRUE(KPlatformIsOwnDirectory((tmp / "scene.qod").c_str()));
    EXPECT_EQ(Shell("ls -A " + (tmp / "scene.qod")), "");
    WriteSimple(tmp / "scene.tmp", true);
    EXPECT_FALSE(ReadAll(tmp / "scene.tmp").empty());
    EXPECT_EQ(ReadSimple(tmp / "scene"), "v");
    // "QOV" counts as the extension: nothing is appended (the name is then found without
    // regard to case, as on the system the files come from).
    EXPECT_EQ(ReadSimple(tmp / "scene.QOV"), "v");
    EXPECT_EQ(ReadSimple(tmp / "nothere.QOV"),
              "open: File not opened: " + (tmp / "nothere.QOV") + ": No such file or directory");

    // A project folder with only Project.bin is read in place of the file.
    WriteSimple(tmp / "p.qov", true, "outer");
    mkdir((tmp / "p.qod").c_str(), 0755);
    WriteSimple(tmp / "p.qod/Project.tmp", true, "inner");
    ASSERT_EQ(std::rename((tmp / "p.qod/Project.tmp").c_str(), (tmp / "p.qod/Project.bin").c_str()),
              0);
    EXPECT_EQ(ReadSimple(tmp / "p.qov"), "inner");
}

// A new file takes the place of the project files that a read would take in its place, read-only
// ones too; the folder's other files stay, and so does the folder while it holds them. A link
// of the folder's name is left, nothing removed through it, and never read in the file's place.
TEST(KQovFieldFileFraming, AWriteRemovesOnlyTheProjectFiles) {
    TempFolder tmp;
    for (const std::string base : {"s", "linked"}) {
        SCOPED_TRACE(base);
        const std::string folder = base == "s" ? tmp / "s.qod" : tmp / "photos";
        mkdir(folder.c_str(), 0755);
        WriteAll(folder + "/photo.jpg", "keep");
        WriteSimple(folder + "/Project.tmp", false, "stale");
        ASSERT_EQ(std::rename((folder + "/Project.tmp").c_str(), (folder + "/Project.txt").c_str()),
                  0);
        chmod((folder + "/Project.txt").c_str(), 0444);
        chmod((folder + "/photo.jpg").c_str(), 0444);
        // Read in any case of its letters, so removed in any; a folder of that name is no file.
        WriteAll(folder + "/project.BIN", "x");
        mkdir((folder + "/PROJECT.TXT").c_str(), 0755);
        if (base == "linked") {
            ASSERT_EQ(symlink("photos", (tmp / "linked.qod").c_str()), 0);
        }
        EXPECT_EQ(ReadSimple(tmp / (base + ".qov")),
                  base == "s" ? "stale"
                              : "open: File not opened: " + (tmp / "linked.qov") +
                                    ": No such file or directory");
        WriteSimple(tmp / base, false, "new");
        EXPECT_EQ(ReadSimple(tmp / (base + ".qov")), "new");
        EXPECT_EQ(ReadAll(folder + "/photo.jpg"), "keep");
        EXPECT_EQ(base == "linked", !ReadAll(folder + "/Project.txt").empty());
        EXPECT_EQ(base == "linked", !ReadAll(folder + "/project.BIN").empty());
        EXPECT_EQ(Shell("ls -A " + folder), base == "s" ? "PROJECT.TXT\nphoto.jpg\n"
                                                        : "PROJECT.TXT\nProject.txt\nphoto.jpg\n"
                                                          "project.BIN\n");
        struct stat st;
        EXPECT_EQ(lstat((tmp / (base + ".qod")).c_str(), &st), 0);
        EXPECT_EQ(S_ISLNK(st.st_mode), base == "linked");
    }
}

// A project file that cannot go aside fails the write, the old file and the project file kept; one
// set aside comes back when the new file cannot take its place; one that cannot be removed once
// the new file is in place, or put back, is named, every one, and no longer read in its place.
TEST(KQovFieldFileFraming, AProjectFileThatStaysIsTold) {
    struct Row {
        KPlatformFileCall call;
        int skip;
        int count;
        int error;
        bool noLinks;  // a file system without hard links: put back by renaming
        bool both;     // Project.txt and project.BIN
        bool placed;
        size_t left;  // hidden names left, each named
        const char* said;
    };
    const Row rows[] = {
        {KPlatformFileCall::eRename, 0, 1, EIO, false, false, false, 0,
         "Project.txt would be read in its place"},
        {KPlatformFileCall::eRename, 1, 1, EIO, false, false, false, 0, "File not created: "},
        {KPlatformFileCall::eRename, 1, 1, EIO, true, false, false, 0, "File not created: "},
        {KPlatformFileCall::eUnlink, 0, 1, EIO, false, false, true, 1, "the old project file "},
        {KPlatformFileCall::eUnlink, 0, 2, EIO, false, true, true, 2, "the old project file "},
        // A hidden name that cannot be looked at may still hold the old file: told, not skipped.
        {KPlatformFileCall::eLook, 1, 1, EIO, false, true, true, 1, "the old project file "},
        // The project folder not looked at, or not listed (no descriptor left, say): not taken
        // for none, nor for one that holds only the exact names.
        {KPlatformFileCall::eOpenFolder, 0, 1, EMFILE, false, false, false, 0,
         "s.qod cannot be looked through for the files a read would take in its place"},
        {KPlatformFileCall::eOpenFolder, 1, 1, EMFILE, false, true, false, 0,
         "s.qod cannot be looked through for the files a read would take in its place"},
        // One this program may not list, but reach into: the exact names go, all a read takes.
        {KPlatformFileCall::eOpenFolder, 1, 1, EACCES, false, false, true, 0, ""},
        // Put back neither by a link nor by a rename: told, and so is the file that failed.
        {KPlatformFileCall::eRename, 1, -1, EIO, true, true, false, 1,
         " would be read in its place"},
        {KPlatformFileCall::eRename, 2, -1, EIO, true, true, false, 2, "File not created: "},
        // A file system that refuses to be asked not to replace: the files go all the same.
        {KPlatformFileCall::eRename, 0, 1, EINVAL, false, true, true, 0, ""},
        {KPlatformFileCall::eRename, 0, 1, EINVAL, true, true, true, 0, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.said) + (row.noLinks ? " without links" : "") +
                     std::to_string(row.skip) + " " + std::to_string(row.count));
        TempFolder tmp;
        WriteSimple(tmp / "s", false, "old");
        mkdir((tmp / "s.qod").c_str(), 0755);
        WriteSimple(tmp / "s.qod/Project.tmp", false, "stale");
        ASSERT_EQ(
            std::rename((tmp / "s.qod/Project.tmp").c_str(), (tmp / "s.qod/Project.txt").c_str()),
            0);
        if (row.both) WriteAll(tmp / "s.qod/project.BIN", "x");
        KPlatformFailFileCalls(row.call, row.skip, row.count, row.error);
        if (row.noLinks) KPlatformFailFileCalls(KPlatformFileCall::eLink, 0, -1, EPERM);
        KQovFieldFile f;
        ASSERT_TRUE(f.Create((tmp / "s").c_str(), false, false, nullptr));
        f.FieldWriteC("Field", "new");
        EXPECT_EQ(f.FieldFileClose(), row.placed);
        KPlatformClearFileFaults();
        const std::string said = f.GetLastErrorString();
        EXPECT_NE(said.find(row.said), std::string::npos) << said;
        const std::string left = Shell("ls -A " + (tmp / "s.qod"));
        size_t hidden = 0;
        for (size_t at = 0, end; (end = left.find('\n', at)) != std::string::npos; at = end + 1) {
            if (left[at] != '.') continue;
            ++hidden;
            EXPECT_NE(said.find(tmp / ("s.qod/" + left.substr(at, end - at))), std::string::npos)
                << said;
        }
        EXPECT_EQ(hidden, row.left) << left;
        if (row.placed) {
            EXPECT_EQ(ReadSimple(tmp / "s.qov"), "new");
            // The folder is the user's: it stays, emptied or not.
            EXPECT_TRUE(KPlatformIsOwnDirectory((tmp / "s.qod").c_str()));
        } else if (row.left == 0) {
            EXPECT_EQ(left, row.both ? "Project.txt\nproject.BIN\n" : "Project.txt\n");
            EXPECT_EQ(ReadSimple(tmp / "s.qov"), "stale");
            EXPECT_EQ(Shell("ls -A " + tmp.Path()), "s.qod\ns.qov\n");
            ASSERT_EQ(std::rename((tmp / "s.qod").c_str(), (tmp / "moved").c_str()), 0);
            EXPECT_EQ(ReadSimple(tmp / "s.qov"), "old");
        }
    }
}

// A write through a link takes the project folder of the file it writes, as a read of either name
// does: a folder of the link's own name beside it is neither read nor emptied.
TEST(KQovFieldFileFraming, AWriteThroughALinkTakesItsFilesProjectFolder) {
    TempFolder tmp;
    mkdir((tmp / "real").c_str(), 0755);
    WriteSimple(tmp / "real/x", false, "old");
    for (const char* folder : {"real/x.qod", "s.qod"}) {
        mkdir((tmp / folder).c_str(), 0755);
        WriteSimple(tmp / folder + "/Project.tmp", false, folder);
        ASSERT_EQ(std::rename((tmp / folder + "/Project.tmp").c_str(),
                              (tmp / folder + "/Project.txt").c_str()),
                  0);
    }
    const std::string beside = ReadAll(tmp / "s.qod/Project.txt");
    ASSERT_EQ(symlink("real/x.qov", (tmp / "s.qov").c_str()), 0);
    EXPECT_EQ(ReadSimple(tmp / "s.qov"), "real/x.qod");
    WriteSimple(tmp / "s", false, "new");
    EXPECT_EQ(ReadSimple(tmp / "s.qov"), "new");
    EXPECT_EQ(ReadSimple(tmp / "real/x.qov"), "new");
    EXPECT_EQ(Shell("ls -A " + (tmp / "real/x.qod")), "");
    EXPECT_EQ(ReadAll(tmp / "s.qod/Project.txt"), beside);
    KQovFieldFile f;
    ASSERT_TRUE(f.Open((tmp / "s.qov").c_str(), false, true, nullptr));
    EXPECT_EQ(std::string(f.GetDataFolderName(false).Buffer()), tmp / "real/x.qod/");
    f.FieldFileClose();
    struct stat st;
    ASSERT_EQ(lstat((tmp / "s.qov").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

volatile sig_atomic_t gSignalArrived = 0;

// The ending signals wait while a project file is aside: one that comes as it moves, as the new
// file takes its place, as it is removed or put back arrives once it is gone or back.
TEST(KQovFieldFileFraming, EndingSignalsWaitWhileAProjectFileIsAside) {
    struct sigaction action = {}, previous;
    action.sa_handler = [](int) { gSignalArrived = 1; };
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGHUP, &action, &previous), 0);
    const struct {
        KPlatformFileCall call;
        int skip;
        bool placed;
    } rows[] = {{KPlatformFileCall::eRename, 0, true},
                {KPlatformFileCall::eRename, 1, true},
                {KPlatformFileCall::eUnlink, 0, true},
                {KPlatformFileCall::eLink, 0, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(int(row.call) * 10 + row.skip);
        TempFolder tmp;
        WriteSimple(tmp / "s", false, "old");
        mkdir((tmp / "s.qod").c_str(), 0755);
        WriteAll(tmp / "s.qod/Project.txt", "stale");
        gSignalArrived = 0;
        bool early = true;
        KPlatformActOnFileCall(row.call, row.skip, [](void* early) {
            raise(SIGHUP);
            *static_cast<bool*>(early) = gSignalArrived != 0;
        }, &early);
        // The new file refused its place: the project file goes back.
        if (!row.placed) KPlatformFailFileCalls(KPlatformFileCall::eRename, 1, 1, EIO);
        KQovFieldFile f;
        ASSERT_TRUE(f.Create((tmp / "s").c_str(), false, false, nullptr));
        f.FieldWriteC("Field", "new");
        EXPECT_EQ(f.FieldFileClose(), row.placed);
        KPlatformClearFileFaults();
        EXPECT_FALSE(early);
        EXPECT_EQ(gSignalArrived, 1);
        EXPECT_EQ(Shell("ls -A " + (tmp / "s.qod")), row.placed ? "" : "Project.txt\n");
    }
    sigaction(SIGHUP, &previous, nullptr);
}

TEST(KQovFieldFileFraming, StartFooterAndAlignmentFromOutside) {
    TempFolder tmp;
    std::string name = tmp / "x.qov";
    WriteSimple(name, true);
    std::string raw = ReadAll(name);
    EXPECT_EQ(raw.size() % 16, 0u);
    if (Shell("command -v xxd").empty()) GTEST_SKIP() << "xxd is not installed";
    EXPECT_EQ(Shell("xxd -p -l 27 '" + name + "'"),
              "5661726e6f6b6520514f562042696e6172792020001a0070170000\n");
    EXPECT_EQ(Shell("xxd -p -s -16 '" + name + "'"), "f85a8c6adef5d97eece90ce3758f290b\n");
}

TEST(KQovFieldFileFraming, EndBlockPaddingIsOneToSixteen) {
    TempFolder tmp;
    bool sawFullPad = false;
    for (int n = 0; n < 16; ++n) {
        std::string name = tmp / ("a" + std::to_string(n) + ".qov");
        std::string value(static_cast<size_t>(n), 'z');
        WriteSimple(name, true, value.c_str());
        std::string raw = ReadAll(name);
        ASSERT_EQ(raw.size() % 16, 0u);
        ASSERT_EQ(std::memcmp(raw.data() + raw.size() - 16, kFooter, 16), 0);
        KQovFieldFile f;
        ASSERT_TRUE(f.Open(name.c_str(), false, true, nullptr)) << f.GetLastErrorString();
        EXPECT_STREQ(f.FieldReadC("Field", ""), value.c_str());
        // The part's records end; the 16-byte id follows, then the padding, then the block.
        size_t idEnd = static_cast<size_t>(f.GetTree()->GetEndPosition()) + 16;
        size_t pad = raw.size() - 144 - idEnd;
        EXPECT_GE(pad, 1u);
        EXPECT_LE(pad, 16u);
        EXPECT_EQ(raw.substr(idEnd, pad), std::string(pad, '\0'));
        if (pad == 16) sawFullPad = true;
    }
    EXPECT_TRUE(sawFullPad);
}

TEST(KQovFieldFileFraming, VersionsAndFirstLines) {
    TempFolder tmp;
    KQovHeaderInfo info;
    info.fileVersion = 5800;
    info.cameraName = "Producer Perspective";
    info.width = 640;
    WriteSimple(tmp / "v58.qov", true, "v", &info);
    std::string raw = ReadAll(tmp / "v58.qov");
    uint32_t start;
    std::memcpy(&start, raw.data() + 23, 4);
    EXPECT_EQ(start, 3000u);
    KQovFieldFile f;
    KQovHeaderInfo got;
    ASSERT_TRUE(f.Open((tmp / "v58").c_str(), false, true, &got));
    EXPECT_EQ(f.GetFileVersion(), 5800);
    EXPECT_EQ(got.fileVersion, 5800);
    EXPECT_TRUE(got.cameraResolutionPresent);
    EXPECT_STREQ(got.cameraName.Buffer(), "Producer Perspective");
    EXPECT_EQ(got.width, 640);
    EXPECT_TRUE(got.timeStampPresent);
    EXPECT_STREQ(got.creator.Buffer(), "QOV SDK/QOV Plugins build ????????");
    f.FieldFileClose();

    info.fileVersion = 4000;  // only 6000 and 5800 are written
    WriteSimple(tmp / "v4.qov", false, "v", &info);
    EXPECT_EQ(info.fileVersion, 6000);

    struct {
        const char* line;
        int version;
    } cases[] = {{"; Tessrun 2.7 project file\n", 2001},
                 {"; QOV 6.1.2 project file\n", 6102},
                 {";QOV 5.8 Project File\n", 5800},
                 {"; Tessrun 4.5 project file\n", 4050}};
    for (const auto& c : cases) {
        WriteAll(tmp / "f.qov", std::string(c.line) + "A: 1\n");
        KQovFieldFile a;
        ASSERT_TRUE(a.Open((tmp / "f.qov").c_str(), false, true, nullptr)) << c.line;
        EXPECT_EQ(a.GetFileVersion(), c.version) << c.line;
        EXPECT_EQ(a.FieldReadI("A", 0), 1);
    }
    WriteAll(tmp / "g.qov", "; QOV 7.0.0 project file\nA: 1\n");
    KQovFieldFile seven;
    EXPECT_FALSE(seven.Open((tmp / "g.qov").c_str(), false, true, nullptr));
    EXPECT_EQ(seven.GetLastErrorID(), 1);
    EXPECT_STREQ(seven.GetLastErrorString(),
                 "QOV file version 7.0.0 is not supported in this product");
    WriteAll(tmp / "h.qov", "no banner\nA: 1\n");
    EXPECT_FALSE(seven.Open((tmp / "h.qov").c_str(), false, true, nullptr));
    EXPECT_STREQ(seven.GetLastErrorString(), ("File is corrupted: " + (tmp / "h.qov")).c_str());
    WriteAll(tmp / "h.qov", "A: 1\n");
    EXPECT_TRUE(seven.FieldFileOpenFile((tmp / "h.qov").c_str(), false, true, nullptr));
    EXPECT_EQ(seven.GetFileVersion(), 1000);

    // A binary header extension without "QOVVersion" reads as version 0.
    std::string bytes = qovtest::BinaryStart(6000);
    Encode(bytes, Rec("QOVHeaderExtension").Child(Rec("QOVHeaderVersion").I(1003)), 0);
    Encode(bytes, Rec("Field").S("old"), 0);
    bytes += NullRecord();
    WriteAll(tmp / "nov.qov", bytes);
    KQovFieldFile nov;
    ASSERT_TRUE(nov.Open((tmp / "nov.qov").c_str(), false, true, nullptr))
        << nov.GetLastErrorString();
    EXPECT_EQ(nov.GetFileVersion(), 0);
    EXPECT_STREQ(nov.FieldReadC("Field", ""), "old");
}

TEST(KQovFieldFileFraming, AppendAndReplaceParts) {
    TempFolder tmp;
    std::string name = tmp / "parts.qov";
    {
        KQovFieldFile f;
        ASSERT_TRUE(f.Create(name.c_str(), true, false, nullptr));
        f.FieldWriteC("Field", "main");
        f.Finish();
        ASSERT_TRUE(f.FieldFileAppendPart(false));
        f.FieldWriteC("Field", "summary 1");
        f.FieldFileClose();
    }
    EXPECT_EQ(ReadAll(name).size() % 16, 0u);
    EXPECT_EQ(ReadSimple(name, 0), "main");
    EXPECT_EQ(ReadSimple(name, 1), "summary 1");
    for (int round = 2; round <= 3; ++round) {
        KQovFieldFile f;
        // A file opened only for reading takes no part.
        ASSERT_TRUE(f.Open(name.c_str(), false, false, nullptr));
        EXPECT_FALSE(f.FieldFileAppendPart(true));
        ASSERT_TRUE(f.Open(name.c_str(), false, false, nullptr, true));
        EXPECT_EQ(f.GetPartCount(), 2);
        ASSERT_TRUE(f.FieldFileAppendPart(true));
        f.FieldWriteC("Field", ("summary " + std::to_string(round)).c_str());
        f.FieldFileClose();
        EXPECT_EQ(ReadSimple(name, 1), "summary " + std::to_string(round));
    }
    {
        KQovFieldFile f;
        ASSERT_TRUE(f.Open(name.c_str(), false, false, nullptr, true));
        ASSERT_TRUE(f.FieldFileAppendPart(false));
        f.FieldWriteC("Field", "third");
        f.FieldFileClose();
    }
    KQovFieldFile f;
    ASSERT_TRUE(f.Open(name.c_str(), false, false, nullptr));
    EXPECT_EQ(f.GetPartCount(), 3);
    EXPECT_EQ(f.GetLastPartIndex(), 2);
    EXPECT_EQ(f.GetPartVersion(2), 6000);
    EXPECT_EQ(f.GetPartVersion(3), 0);
    EXPECT_FALSE(f.FieldFileSelectPart(3));
    EXPECT_EQ(f.GetLastErrorID(), 7);
    ASSERT_TRUE(f.FieldFileSelectPart(2));
    EXPECT_FALSE(f.FieldFileSelectPart(0));  // refused while a part is selected
    EXPECT_STREQ(f.FieldReadC("Field", ""), "third");
    f.Finish();
    ASSERT_TRUE(f.FieldFileSelectPart(0));
    EXPECT_STREQ(f.FieldReadC("Field", ""), "main");
    f.FieldFileClose();

    // A flipped byte in the last end block: the chain stops, part 0 still reads.
    std::string raw = ReadAll(name);
    raw[raw.size() - 3] ^= 0x55;
    WriteAll(name, raw);
    KQovFieldFile g;
    ASSERT_TRUE(g.Open(name.c_str(), false, true, nullptr)) << g.GetLastErrorString();
    EXPECT_EQ(g.GetPartCount(), 1);
    EXPECT_STREQ(g.FieldReadC("Field", ""), "main");
}

TEST(KQovFieldFileFraming, EncryptedAppendIsRefusedAndPatchedRecordsRead) {
    TempFolder tmp;
    std::string name = tmp / "enc.qov";
    {
        KQovFieldFile f;
        ASSERT_TRUE(f.Create(name.c_str(), true, true, nullptr));
        f.FieldWriteBegin("Big");
        f.FieldWriteBlockBegin();
        f.FieldWriteBegin("Values");
        for (int i = 0; i < 200000; ++i) f.FieldWriteD(i);  // past the output buffer
        f.FieldWriteEnd();
        f.FieldWriteBlockEnd();
        f.FieldWriteEnd();
        f.FieldWriteC("Field", "after");
        f.Finish();
        EXPECT_FALSE(f.FieldFileAppendPart(false));
        f.FieldFileClose();
    }
    KQovFieldFile in;
    ASSERT_TRUE(in.Open(name.c_str(), true, true, nullptr)) << in.GetLastErrorString();
    EXPECT_TRUE(in.IsEncrypted());
    EXPECT_FALSE(in.FieldFileAppendPart(false));
    ASSERT_TRUE(in.FieldReadBegin("Big"));
    ASSERT_TRUE(in.FieldReadBlockBegin());
    ASSERT_TRUE(in.FieldReadBegin("Values"));
    EXPECT_EQ(in.FieldReadGetCount(), 200000);
    double sum = 0;
    for (int i = 0; i < 200000; ++i) sum += in.FieldReadD();
    EXPECT_EQ(sum, 199999.0 * 200000 / 2);
    in.FieldReadEnd();
    in.FieldReadBlockEnd();
    in.FieldReadEnd();
    EXPECT_STREQ(in.FieldReadC("Field", ""), "after");
}

TEST(KQovFieldFileFraming, Passwords) {
    TempFolder tmp;
    for (const char* password : {"secret", "@lpha", ""}) {
        std::string name = tmp / "pw.qov";
        {
            KQovFieldFile f;
            ASSERT_TRUE(f.Create(name.c_str(), true, true, nullptr));
            EXPECT_TRUE(f.FieldWritePassword(password));
            EXPECT_FALSE(f.FieldWritePassword("again"));
            f.FieldFileClose();
        }
        KQovFieldFile in;
        ASSERT_TRUE(in.Open(name.c_str(), false, true, nullptr));
        EXPECT_TRUE(in.HasPassword());
        EXPECT_FALSE(in.CheckPassword("wrong"));
        EXPECT_FALSE(in.CheckPassword((std::string(password) + "x").c_str()));
        EXPECT_TRUE(in.CheckPassword(password)) << password;
        EXPECT_TRUE(in.CheckPassword("anything now"));
    }
    KQovFieldFile ascii;
    ASSERT_TRUE(ascii.Create((tmp / "a.qov").c_str(), false, false, nullptr));
    EXPECT_FALSE(ascii.FieldWritePassword("x"));
}

TEST(KQovFieldFileFraming, OldFileGetsIdentityAndStaysReadable) {
    TempFolder tmp;
    std::string name = tmp / "old.qov";
    std::string bytes = qovtest::LegacyFile();
    WriteAll(name, bytes);
    {
        // Reading alone never writes: the file stays as it is.
        KQovFieldFile f;
        ASSERT_TRUE(f.Open(name.c_str(), false, true, nullptr)) << f.GetLastErrorString();
        EXPECT_EQ(f.GetOpenMode(), KQovFieldFile::eReadOnly);
        EXPECT_STREQ(f.FieldReadC("Field", ""), "legacy");
        f.FieldFileClose();
        EXPECT_TRUE(ReadAll(name) == bytes);
    }
    {
        // A file opened to be written gets its identity.
        KQovFieldFile f;
        ASSERT_TRUE(f.Open(name.c_str(), false, true, nullptr, true)) << f.GetLastErrorString();
        EXPECT_EQ(f.GetOpenMode(), KQovFieldFile::eUpdate);
        EXPECT_STREQ(f.FieldReadC("Field", ""), "legacy");
        ASSERT_TRUE(f.FieldReadBegin("Field", 0));
        EXPECT_FALSE(f.FieldReadBlockBegin());  // a read-side error
        f.FieldFileClose();
        EXPECT_EQ(f.GetLastErrorID(), 0);  // still there for the caller after the fix-up
    }
    std::string after = ReadAll(name);
    EXPECT_GT(after.size(), bytes.size());
    EXPECT_EQ(after.size() % 16, 0u);
    EXPECT_EQ(ReadSimple(name), "legacy");
    std::string again = ReadAll(name);
    EXPECT_EQ(again, after);  // a file with its identity is never touched again

    // Not ended by a null record: left alone.
    std::string odd = bytes + "tail";
    WriteAll(name, odd);
    KQovFieldFile g;
    g.Open(name.c_str(), false, true, nullptr, true);
    g.FieldFileClose();
    EXPECT_EQ(ReadAll(name), odd);
}

// Reverses every number of a written (plain binary) file: the same file as a machine of
// the other byte order would have written it.
void SwapRecords(std::string& b, size_t& pos) {
    auto swap = [&](size_t at, int n) { std::reverse(b.begin() + at, b.begin() + at + n); };
    for (;;) {
        uint32_t end, count;
        std::memcpy(&end, &b[pos], 4);
        std::memcpy(&count, &b[pos + 4], 4);
        uint8_t nameLength = static_cast<uint8_t>(b[pos + 12]);
        swap(pos, 4);
        swap(pos + 4, 4);
        swap(pos + 8, 4);
        if (end == 0 && count == 0 && nameLength == 0) {
            pos += 13;
            return;
        }
        size_t v = pos + 13 + nameLength;
        for (uint32_t i = 0; i < count; ++i) {
            char type = b[v++];
            if (type == 'I' || type == 'F') {
                swap(v, 4);
                v += 4;
            } else if (type == 'L' || type == 'D') {
                swap(v, 8);
                v += 8;
            } else if (type == 'C') {
                v += 1;
            } else {
                uint32_t n;
                std::memcpy(&n, &b[v], 4);
                swap(v, 4);
                v += 4 + n;
            }
        }
        if (v < end) SwapRecords(b, v);
        pos = end;
    }
}

TEST(KQovFieldFileFraming, ByteSwappedFileReadsTheSame) {
    TempFolder tmp;
    std::string name = tmp / "swap.qov";
    {
        KQovFieldFile f;
        ASSERT_TRUE(f.Create(name.c_str(), true, false, nullptr));
        f.FieldWriteBegin("Numbers");
        f.FieldWriteI(-5);
        f.FieldWriteLL(1ll << 40);
        f.FieldWriteD(2.5);
        f.FieldWriteC("Model::Cube");
        f.FieldWriteBlockBegin();
        f.FieldWriteC("Inner", "x");
        f.FieldWriteBlockEnd();
        f.FieldWriteEnd();
        f.FieldFileClose();
    }
    std::string b = ReadAll(name);
    b[22] = 1;
    std::reverse(b.begin() + 23, b.begin() + 27);
    // Header extension record first, then part 0 up to its null record.
    // The header extension and the part's records form one list up to its null record.
    size_t pos = 27;
    SwapRecords(b, pos);
    size_t block = b.size() - 144;
    std::reverse(b.begin() + block, b.begin() + block + 4);
    std::reverse(b.begin() + block + 4, b.begin() + block + 8);
    WriteAll(name, b);
    KQovFieldFile in;
    ASSERT_TRUE(in.Open(name.c_str(), false, true, nullptr)) << in.GetLastErrorString();
    EXPECT_TRUE(in.IsSwapped());
    EXPECT_EQ(in.GetFileVersion(), 6000);
    ASSERT_TRUE(in.FieldReadBegin("Numbers"));
    EXPECT_EQ(in.FieldReadI(), -5);
    EXPECT_EQ(in.FieldReadLL(), 1ll << 40);
    EXPECT_EQ(in.FieldReadD(), 2.5);
    EXPECT_STREQ(in.FieldReadC(), "Model::Cube");
    ASSERT_TRUE(in.FieldReadBlockBegin());
    EXPECT_STREQ(in.FieldReadC("Inner", ""), "x");
}

TEST(KQovFieldFileFraming, MediaStaysInsideItsFolder) {
    TempFolder tmp;
    std::string name = tmp / "media.qov";
    std::string tex = tmp / "tex.png";
    WriteAll(tex, "PNGDATA");
    {
        KQovFieldFile f;
        ASSERT_TRUE(f.Create(name.c_str(), true, false, nullptr));
        f.FieldWriteBegin("Empty");
        f.FieldWriteR(0);
        f.FieldWriteEnd();
        WriteMediaFields(f, {"A", "B", "C"});
    }
    KQovFieldFile in;
    ASSERT_TRUE(in.Open(name.c_str(), false, true, nullptr));
    KString path;
    bool written;
    ASSERT_TRUE(in.FieldReadBegin("A"));
    ASSERT_TRUE(in.ExtractMedia(path, "../../evil", "", written));
    EXPECT_TRUE(written);
    EXPECT_EQ(std::string(path.Buffer()), tmp / "media.qom/evil");
    EXPECT_EQ(ReadAll(path.Buffer()), "Axyz");
    in.FieldReadEnd();
    ASSERT_TRUE(in.FieldReadBegin("B"));
    ASSERT_TRUE(in.ExtractMedia(path, "C:\\other\\evil", "", written));
    EXPECT_EQ(std::string(path.Buffer()), tmp / "media.qom/1/evil");
    in.FieldReadEnd();
    ASSERT_TRUE(in.FieldReadBegin("C"));
    EXPECT_FALSE(in.ExtractMedia(path, "..", "", written));
    EXPECT_FALSE(in.ExtractMedia(path, "a/", "", written));
    in.FieldReadEnd();
    ASSERT_TRUE(in.FieldReadBegin("B", 0));
    ASSERT_TRUE(in.ExtractMedia(path, "../../evil", "", written));  // already extracted
    EXPECT_FALSE(written);
    EXPECT_EQ(std::string(path.Buffer()), tmp / "media.qom/evil");
    struct stat st;
    EXPECT_NE(stat((tmp / "../evil").c_str(), &st), 0);
    in.FieldReadEnd();
    ASSERT_TRUE(in.FieldReadBegin("A", 0));
    ASSERT_TRUE(in.ExtractMedia(path, "other/evil", (tmp / "given").c_str(), written));
    EXPECT_EQ(std::string(path.Buffer()), tmp / "given/evil");
    in.FieldReadEnd();
    // Nothing of a file there is replaced or removed: an empty file is not extracted; a file
    // of other bytes, or a new file another read has not kept yet, moves the media to the next
    // free name; a finished file of the same bytes (read before) stands for them.
    WriteAll(tmp / "given/gone.png", "old");
    ASSERT_TRUE(in.FieldReadBegin("Empty"));
    ASSERT_TRUE(in.ExtractMedia(path, "gone.png", (tmp / "given/").c_str(), written));
    EXPECT_STREQ(path.Buffer(), "");
    EXPECT_EQ(ReadAll(tmp / "given/gone.png"), "old");
    in.FieldReadEnd();
    WriteAll(tmp / "given/fresh", "Axyz");
    ASSERT_EQ(chmod((tmp / "given/fresh").c_str(), 0), 0);
    const struct {
        const char* field;
        const char* name;
        const char* path;
    } again[] = {{"B", "evil", "given/1/evil"}, {"A", "evil", "given/evil"},
                 {"A", "fresh", "given/1/fresh"}};
    for (const auto& row : again) {
        SCOPED_TRACE(row.path);
        KQovFieldFile other;
        ASSERT_TRUE(other.Open(name.c_str(), false, true, nullptr));
        ASSERT_TRUE(other.FieldReadBegin(row.field));
        ASSERT_TRUE(other.ExtractMedia(path, row.name, (tmp / "given").c_str(), written));
        EXPECT_TRUE(written);
        EXPECT_EQ(std::string(path.Buffer()), tmp / row.path);
        EXPECT_EQ(ReadAll(path.Buffer()), std::string(row.field) + "xyz");
    }
    EXPECT_EQ(ReadAll(tmp / "given/evil"), "Axyz");
    // Where the media folder cannot be one (a file has its name), a name no folder takes: not
    // extracted, and no folder of its own is left in the temporary folder; what was extracted
    // into one (numbered folders too) is there while the field file lives, and goes with it.
    WriteAll(tmp / "plain.qov", ReadAll(name));
    WriteAll(tmp / "plain.qom", "user");
    ASSERT_EQ(mkdir((tmp / "t").c_str(), 0700), 0);
    const char* temp = getenv("TMPDIR");
    const std::string savedTemp = temp ? temp : "";
    setenv("TMPDIR", (tmp / "t").c_str(), 1);
    {
        KQovFieldFile plain;
        ASSERT_TRUE(plain.Open((tmp / "plain.qov").c_str(), false, true, nullptr));
        ASSERT_TRUE(plain.FieldReadBegin("A"));
        const std::string longName = std::string(300, 'L') + ".png";
        EXPECT_FALSE(plain.ExtractMedia(path, longName.c_str(), "", written));
        KQovFieldFile held;
        ASSERT_TRUE(held.Open((tmp / "plain.qov").c_str(), false, true, nullptr));
        std::vector<std::string> made;
        for (const char* field : {"A", "B"}) {
            ASSERT_TRUE(held.FieldReadBegin(field));
            ASSERT_TRUE(held.ExtractMedia(path, (std::string(field) + "/tex.png").c_str(), "",
                                          written));
            EXPECT_EQ(ReadAll(path.Buffer()), std::string(field) + "xyz");
            made.push_back(path.Buffer());
            held.FieldReadEnd();
        }
        EXPECT_EQ(made[1].substr(made[1].size() - 10), "/1/tex.png");
        EXPECT_EQ(made[0].rfind(tmp / "t/qom-", 0), 0u) << made[0];
    }
    if (temp)
        setenv("TMPDIR", savedTemp.c_str(), 1);
    else
        unsetenv("TMPDIR");
    EXPECT_EQ(ReadAll(tmp / "plain.qom"), "user");
    EXPECT_EQ(rmdir((tmp / "t").c_str()), 0) << "a folder is left in the temporary folder";
    EXPECT_STREQ(in.GetRelativeMediaPath((tmp / "media.qom/evil").c_str()).Buffer(),
                 "media.qom/evil");
    EXPECT_EQ(std::string(in.GetAbsoluteMediaPath("media.qom/evil").Buffer()),
              tmp / "media.qom/evil");
    EXPECT_EQ(std::string(in.GetMediaFolderName(false).Buffer()), tmp / "media.qom/");
    EXPECT_STREQ(in.GetDataFolderName(false).Buffer(), "");
}

TEST(KQovPropertyFieldFile, ObjectMapIsCaseSensitiveAndSwappable) {
    std::unique_ptr<KQovPropertyFieldFile> f(KQovPropertyFieldFile::Create());
    int a = 0, b = 0;
    f->RegisterObject("Model::Cube", reinterpret_cast<KPlug*>(&a));
    f->RegisterObject("Model::cube", reinterpret_cast<KPlug*>(&b));
    EXPECT_EQ(f->FindObject("Model::Cube"), reinterpret_cast<KPlug*>(&a));
    EXPECT_EQ(f->FindObject("Model::cube"), reinterpret_cast<KPlug*>(&b));
    EXPECT_EQ(f->FindObject("MODEL::CUBE"), nullptr);
    KStringMap fresh(20, true);
    KStringMap* old = f->GetObjectMap();
    f->SetObjectMap(&fresh);
    EXPECT_EQ(f->FindObject("Model::Cube"), nullptr);
    f->SetObjectMap(old);
    EXPECT_TRUE(f->UnregisterObject("Model::Cube"));
    EXPECT_FALSE(f->UnregisterObject("Model::Cube"));
    EXPECT_FALSE(f->IsVersion5Layout());
    f->SetVersion5Layout(true);
    EXPECT_TRUE(f->IsVersion5Layout());
}

}  // namespace

namespace {

TEST(KQovFieldFileFraming, OffsetsPastFourGigabytesFailInsteadOfWrapping) {
    TempFolder tmp;
    KQovFieldFile f;
    ASSERT_TRUE(f.Create((tmp / "big.qov").c_str(), true, false, nullptr));
    f.FieldWriteBegin("Content");
    ASSERT_TRUE(f.FieldWriteR(16));
    // Leave a hole (a sparse file): the next record would start past 4 GB.
    ASSERT_EQ(f.GetStream()->Seek(1, 0x100000000ll), 0);
    f.GetStream()->Write("0123456789abcdef", 16);
    EXPECT_FALSE(f.FieldWriteBegin("Next"));
    EXPECT_EQ(f.GetLastErrorID(), 10);
    f.FieldFileClose();
    std::remove((tmp / "big.qov").c_str());
}

TEST(KQovFieldFileFraming, DamagedIdentityFailsCleanly) {
    TempFolder tmp;
    std::string bytes = qovtest::BinaryStart(6000);
    Rec id("FileId");
    id.Raw(std::string("R\x10\0\0\0", 5) + std::string(16, 'i')).count = 1;
    Encode(bytes, id, 0);
    Encode(bytes, Rec("CreationTime").S("2147483647-99999-1 -5:99999999:1:2147483647"), 0);
    bytes += NullRecord();
    WriteAll(tmp / "id.qov", bytes);
    KQovFieldFile f;
    EXPECT_FALSE(f.Open((tmp / "id.qov").c_str(), false, true, nullptr));
    EXPECT_EQ(f.GetLastErrorID(), 0);
    EXPECT_STREQ(f.GetLastErrorString(), "File is corrupted: the file identity does not match");
}

}  // namespace

// Media of one base name take the names a search from 0 gives: past a name another file holds
// (media of its bytes take that one), and a name given back is taken again.
TEST(KQovFieldFileFraming, MediaOfOneNameTakeTheNextFreeNumber) {
    TempFolder tmp;
    const std::string name = tmp / "many.qov";
    {
        KQovFieldFile f;
        ASSERT_TRUE(f.Create(name.c_str(), true, false, nullptr));
        WriteMediaFields(f, {"A", "B", "C", "D"});
    }
    ASSERT_EQ(mkdir((tmp / "given").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((tmp / "given/1").c_str(), 0755), 0);
    WriteAll(tmp / "given/1/img.png", "Cxyz");
    KQovFieldFile in;
    ASSERT_TRUE(in.Open(name.c_str(), false, true, nullptr));
    KString path;
    bool written;
    const struct {
        const char* field;
        const char* path;
    } rows[] = {{"A", "given/img.png"}, {"B", "given/2/img.png"}, {"C", "given/1/img.png"},
                {"D", "given/3/img.png"}};
    for (const auto& row : rows) {
        ASSERT_TRUE(in.FieldReadBegin(row.field));
        ASSERT_TRUE(in.ExtractMedia(path, (std::string(row.field) + "/img.png").c_str(),
                                    (tmp / "given").c_str(), written));
        EXPECT_EQ(std::string(path.Buffer()), tmp / row.path);
        in.FieldReadEnd();
    }
    ASSERT_TRUE(in.RemoveExtractedMedia((tmp / "given/2/img.png").c_str(), true));
    const uint8_t bytes[] = {'E', 'x', 'y', 'z'};
    const std::string given = tmp / "given";
    EXPECT_EQ(std::string(in.AddMediaFile(given.c_str(), "img.png", bytes, 4).Buffer()),
              tmp / "given/2/img.png");
    EXPECT_EQ(std::string(in.AddMediaFile(given.c_str(), "img.png", bytes, 4).Buffer()),
              tmp / "given/4/img.png");
}

namespace {

// A read the system fails once, at each read of an opened file in turn, fails the open naming
// the error, or leaves the file read as it is: never another header or no extension.
TEST(KQovFieldFileFraming, AFailedReadAtEveryReadOfTheStartIsItsError) {
    TempFolder folder;
    for (const bool binary : {false, true}) {
        SCOPED_TRACE(binary ? "binary" : "ASCII");
        const std::string name = folder / (binary ? "b.qov" : "a.qov");
        WriteSimple(name, binary);
        auto read = [&](std::string& creator, int& version) {
            KQovFieldFile f;
            KQovHeaderInfo info;
            const bool ok = f.Open(name.c_str(), false, false, &info);
            creator = info.creator.Buffer();
            version = info.fileVersion;
            return ok ? std::string() : std::string(f.GetLastErrorString());
        };
        std::string cleanCreator;
        int cleanVersion = 0;
        ASSERT_EQ(read(cleanCreator, cleanVersion), "");
        ASSERT_FALSE(cleanCreator.empty());
        bool failedOne = false;
        for (int skip = 0; skip < 64; ++skip) {
            KPlatformFailFileCalls(KPlatformFileCall::eRead, skip, 1, EIO);
            std::string creator;
            int version = 0;
            const std::string error = read(creator, version);
            KPlatformFailFileCalls(KPlatformFileCall::eRead, 0, 0, 0);
            if (error.empty()) {
                EXPECT_EQ(creator, cleanCreator) << skip;
                EXPECT_EQ(version, cleanVersion) << skip;
            } else {
                failedOne = true;
                EXPECT_EQ(error, "File not read: " + name + ": Input/output error") << skip;
            }
        }
        EXPECT_TRUE(failedOne);
    }
    KPlatformClearFileFaults();
}

}  // namespace
