// Files that are odd or hostile: long end-block chains, damaged legacy files opened for
// update, stray project folders, and ASCII characters and names that cannot stand bare.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <string>

#include "fieldfile/FieldFileTestUtil.h"
#include "fieldfile/KQovFieldFile.h"

namespace {

using qovtest::Encode;
using qovtest::FileSizeLimit;
using qovtest::NullRecord;
using qovtest::ReadAll;
using qovtest::Rec;
using qovtest::TempFolder;
using qovtest::WriteAll;

TEST(KQovFieldFileHostile, LongEndBlockChainGivesEveryPartInOrder) {
    // Part 0 is an empty list; then units of 160 bytes, each a part of 16 bytes followed by
    // its 128-byte block (back offset 16) and the footer. The walk meets them last first.
    TempFolder tmp;
    std::string bytes = qovtest::BinaryStart(6000) + NullRecord();
    bytes.resize((bytes.size() + 15) / 16 * 16, '\0');
    const int kParts = 100000;
    for (int i = 0; i < kParts; ++i) {
        std::string unit(16 + 128, '\0');
        uint32_t back = 16, version = 100 + static_cast<uint32_t>(i);
        std::memcpy(&unit[16], &back, 4);
        std::memcpy(&unit[20], &version, 4);
        bytes += unit + std::string(reinterpret_cast<const char*>(qovtest::kFooter), 16);
    }
    std::string name = tmp / "chain.qov";
    WriteAll(name, bytes);
    KQovFieldFile f;
    ASSERT_TRUE(f.Open(name.c_str(), false, false, nullptr)) << f.GetLastErrorString();
    ASSERT_EQ(f.GetPartCount(), kParts + 1);
    EXPECT_EQ(f.GetPartVersion(0), 6000);
    EXPECT_EQ(f.GetPartVersion(1), 100);
    EXPECT_EQ(f.GetPartVersion(kParts), 100 + kParts - 1);
    ASSERT_TRUE(f.FieldFileSelectPart(0));
    f.FieldFileClose();
    EXPECT_EQ(ReadAll(name).size(), bytes.size());
}

TEST(KQovFieldFileHostile, FileThatDoesNotReadIsNotFixedUp) {
    // An old file without identity fields, but with bytes after its records that happen to
    // end in 13 zero bytes: it fails to read and must come out of open/close untouched.
    TempFolder tmp;
    std::string name = tmp / "odd.qov";
    std::string bytes = qovtest::LegacyFile() + NullRecord();
    WriteAll(name, bytes);
    {
        KQovFieldFile f;
        EXPECT_FALSE(f.Open(name.c_str(), false, true, nullptr, true));
        EXPECT_EQ(f.GetOpenMode(), KQovFieldFile::eUpdate);
        f.FieldFileClose();
    }
    EXPECT_EQ(ReadAll(name), bytes);
}

TEST(KQovFieldFileHostile, EmptyProjectFolderFallsBackToTheFile) {
    TempFolder tmp;
    std::string name = tmp / "s.qov";
    {
        KQovFieldFile f;
        ASSERT_TRUE(f.Create(name.c_str(), true, false, nullptr));
        f.FieldWriteC("Field", "mine");
        f.FieldFileClose();
    }
    KQovFieldFile f;
    ASSERT_TRUE(f.Open(name.c_str(), false, false, nullptr));
    EXPECT_STREQ(f.GetDataFolderName(true).Buffer(), (tmp / "s.qod/").c_str());
    f.FieldFileClose();
    KQovFieldFile g;
    ASSERT_TRUE(g.Open(name.c_str(), false, true, nullptr)) << g.GetLastErrorString();
    EXPECT_STREQ(g.FieldReadC("Field", ""), "mine");
}

TEST(KQovFieldFileHostile, AsciiCharactersAndNamesThatCannotStandBare) {
    TempFolder tmp;
    std::string name = tmp / "chars.qov";
    const char chars[] = {',', '"', '\n', '\r', ' ', '\t', '{', ';', '\\', 'Y'};
    {
        KQovFieldFile f;
        ASSERT_TRUE(f.Create(name.c_str(), false, false, nullptr));
        for (char c : chars) {
            f.FieldWriteBegin("Ch");
            f.FieldWriteCh(c);
            f.FieldWriteEnd();
        }
        f.FieldWriteC("}Brace", "b");
        f.FieldWriteBegin("Last");
        f.FieldWriteCh('{');
        f.FieldWriteBlockBegin();
        f.FieldWriteBegin("In");
        f.FieldWriteCh('}');
        f.FieldWriteEnd();
        f.FieldWriteBlockEnd();
        f.FieldWriteEnd();
        f.FieldFileClose();
    }
    EXPECT_NE(ReadAll(name).find("\nCh: Y\n"), std::string::npos);  // plain ones stay bare
    KQovFieldFile in;
    ASSERT_TRUE(in.Open(name.c_str(), false, true, nullptr)) << in.GetLastErrorString();
    for (char c : chars) {
        ASSERT_TRUE(in.FieldReadBegin("Ch"));
        EXPECT_EQ(in.FieldReadGetCount(), 1) << int(c);
        EXPECT_EQ(in.FieldReadCh(), c) << int(c);
        in.FieldReadEnd();
    }
    EXPECT_STREQ(in.FieldReadC("}Brace", ""), "b");
    ASSERT_TRUE(in.FieldReadBegin("Last"));
    EXPECT_EQ(in.FieldReadCh(), '{');
    ASSERT_TRUE(in.FieldReadBlockBegin());
    EXPECT_EQ(in.FieldReadCh("In", 0), '}');
}

TEST(KQovFieldFileHostile, FileContentPastFourGigabytesIsRefused) {
    TempFolder tmp;
    std::string big = tmp / "big.bin";  // sparse: no disk space is used
    FILE* file = std::fopen(big.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(ftruncate(fileno(file), 0x100000001ll), 0);
    std::fclose(file);
    std::string name = tmp / "c.qov";
    {
        KQovFieldFile f;
        ASSERT_TRUE(f.Create(name.c_str(), true, false, nullptr));
        f.FieldWriteBegin("Content");
        EXPECT_FALSE(f.FieldWriteFileContent(big.c_str(), nullptr));
        EXPECT_EQ(f.GetLastErrorID(), 10);
        f.FieldFileClose();
    }
    std::remove(big.c_str());
    EXPECT_LT(ReadAll(name).size(), 4096u);  // not a byte of the content went out
}

TEST(KQovFieldFileHostile, HeaderBlocksWithoutTheirBlockAreSkipped) {
    TempFolder tmp;
    std::string bytes = qovtest::BinaryStart(6000);
    Encode(bytes,
           Rec("QOVHeaderExtension")
               .Child(Rec("QOVHeaderVersion").I(1003))
               .Child(Rec("QOVVersion").I(6000))
               .Child(Rec("CurrentCameraResolution").I(1))
               .Child(Rec("CreationTimeStamp").I(2)),
           0);
    Encode(bytes, Rec("Field").S("x"), 0);
    bytes += NullRecord();
    std::string name = tmp / "h.qov";
    WriteAll(name, bytes);
    KQovFieldFile f;
    KQovHeaderInfo info;
    ASSERT_TRUE(f.Open(name.c_str(), false, true, &info)) << f.GetLastErrorString();
    EXPECT_EQ(f.GetLastErrorID(), -1);
    EXPECT_FALSE(info.cameraResolutionPresent);
    EXPECT_FALSE(info.timeStampPresent);
    EXPECT_STREQ(f.FieldReadC("Field", ""), "x");
}

TEST(KQovFieldFileHostile, FailedFixUpLeavesTheFileAsItWas) {
    TempFolder tmp;
    std::string name = tmp / "old.qov";
    std::string bytes = qovtest::LegacyFile();
    for (size_t room : {0, 40, 150}) {  // none, or part of the fix-up fits
        WriteAll(name, bytes);
        {
            FileSizeLimit limit(bytes.size() + room);
            ASSERT_TRUE(limit.IsSet());
            KQovFieldFile f;
            ASSERT_TRUE(f.Open(name.c_str(), false, true, nullptr)) << f.GetLastErrorString();
            EXPECT_STREQ(f.FieldReadC("Field", ""), "legacy");
            f.FieldFileClose();
            EXPECT_EQ(f.GetLastErrorID(), -1);  // reading did not fail; the file is as it was
        }
        EXPECT_EQ(ReadAll(name), bytes) << room;
    }
}

TEST(KQovFieldFileHostile, WriteFailingAtTheEndIsReported) {
    TempFolder tmp;
    std::string name = tmp / "full.qov";
    FileSizeLimit limit(3000);
    ASSERT_TRUE(limit.IsSet());
    KQovFieldFile f;
    ASSERT_TRUE(f.Create(name.c_str(), true, false, nullptr));
    f.FieldWriteC("Field", std::string(2900, 'x').c_str());
    EXPECT_EQ(f.GetLastErrorID(), -1);  // still waiting in the buffers
    EXPECT_FALSE(f.FieldFileClose());    // the close itself says the file is not there
    EXPECT_EQ(f.GetLastErrorID(), 11);
    EXPECT_NE(access(name.c_str(), F_OK), 0);  // nothing put in place
}

// A new file deleted before it takes its place is told as such, not as a full disk.
TEST(KQovFieldFileHostile, NewFileDeletedBeforeItsPlaceIsToldSo) {
    TempFolder tmp;
    const std::string name = tmp / "gone.qov";
    KQovFieldFile f;
    ASSERT_TRUE(f.Create(name.c_str(), true, false, nullptr));
    f.FieldWriteC("Field", "x");
    for (const std::string& entry : TempTestFolder::NamesIn(tmp.Path()))
        if (entry.compare(0, 9, ".gone.qov") == 0) std::remove((tmp / entry).c_str());
    EXPECT_FALSE(f.FieldFileClose());
    EXPECT_EQ(f.GetLastErrorID(), KQovFieldFile::eFileNotCreated);
    EXPECT_NE(std::string(f.GetLastErrorString()).find("was deleted"), std::string::npos)
        << f.GetLastErrorString();
    EXPECT_EQ(TempTestFolder::NamesIn(tmp.Path()), (std::vector<std::string>{".", ".."}));
}

// A second Create drops the file begun before: only a close puts a file in place.
TEST(KQovFieldFileHostile, ASecondCreateDropsTheFileBegun) {
    TempFolder tmp;
    const std::string first = tmp / "first.qov", second = tmp / "second.qov";
    WriteAll(first, "old");
    KQovFieldFile f;
    ASSERT_TRUE(f.Create(first.c_str(), true, false, nullptr));
    f.FieldWriteC("Field", "x");
    ASSERT_TRUE(f.Create(second.c_str(), false, false, nullptr));
    EXPECT_TRUE(f.FieldFileClose());
    EXPECT_EQ(ReadAll(first), "old");
    EXPECT_FALSE(ReadAll(second).empty());
    EXPECT_EQ(TempTestFolder::NamesIn(tmp.Path()),
              (std::vector<std::string>{".", "..", "first.qov", "second.qov"}));
}

TEST(KQovFieldFileHostile, FolderIsNoFile) {
    TempFolder tmp;
    mkdir((tmp / "d.qov").c_str(), 0755);
    KQovFieldFile f;
    EXPECT_FALSE(f.FieldFileOpenFile((tmp / "d.qov").c_str(), false, true, nullptr));
    EXPECT_EQ(f.GetLastErrorID(), 3);
    EXPECT_FALSE(f.Open((tmp / "d").c_str(), false, true, nullptr));
    ASSERT_TRUE(f.Create((tmp / "w.qov").c_str(), true, false, nullptr));
    f.FieldWriteBegin("Content");
    EXPECT_FALSE(f.FieldWriteFileContent(tmp.Path().c_str(), nullptr));
    EXPECT_EQ(f.GetLastErrorID(), -1);  // not opened, as a missing file: no error
}

}  // namespace
