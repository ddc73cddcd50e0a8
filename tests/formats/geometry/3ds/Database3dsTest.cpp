#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Test3ds.h"
#include "formats/geometry/3ds/Database3ds.h"
#include "formats/geometry/3ds/Keyframe3ds.h"

namespace {

TEST(Database3ds, RealFilesSaveByteIdentically) {
    for (const std::string& name : TestFiles3ds()) {
        SCOPED_TRACE(name);
        Loaded3ds loaded(name);
        Context3ds& ctx = loaded.ctx;
        Database3ds* db = loaded.db;
        ASSERT_NE(loaded.file, nullptr);
        ASSERT_FALSE(ctx.ErrorPending()) << ctx.ErrorAt(0).message;
        EXPECT_EQ(GetDatabaseType3ds(db), kMeshFile3ds);
        TempPath3ds out("roundtrip.3ds");
        File3ds* file = OpenFile3ds(ctx, out.path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        SaveDatabase3ds(ctx, file, db);
        ASSERT_FALSE(ctx.ErrorPending()) << ctx.ErrorAt(0).message;
        CloseFile3ds(ctx, file);
        std::vector<char> original = ReadBytes3ds(name), saved = ReadBytes3ds(out.path);
        if (!FindChunk3ds(db->topChunk, 0xB000)->child->next) {
            // A file without key-frame data gains the release-3 key-frame header.
            const char added[] = {'\x00', '\xB0', 19, 0, 0, 0,  '\x0A', '\xB0', 13, 0,
                                  0,      0,      5,  0, 0, 30, 0,      0,      0};
            original.insert(original.end(), added, added + sizeof(added));
            uint32_t length = uint32_t(original.size());
            memcpy(&original[2], &length, 4);
        }
        EXPECT_TRUE(original == saved);
    }
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.') names.push_back(entry->d_name);
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(Database3ds, WritingOverTheFileBeingReadMovesItAside) {
    TempPath3ds temp("scene.3ds");
    std::vector<char> original = ReadBytes3ds(TestFiles3ds()[0]);
    WriteBytes3ds(temp.path, Bytes3ds(original.begin(), original.end()));
    Context3ds ctx;
    Database3ds* db = nullptr;
    InitDatabase3ds(ctx, &db);
    File3ds* in = OpenFile3ds(ctx, temp.path.c_str(), "rb");
    LoadDatabase3ds(ctx, in, db);
    File3ds* out = OpenFile3ds(ctx, temp.path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    ASSERT_NE(out, in);
    EXPECT_TRUE(in->temporary);
    EXPECT_EQ(in->name.substr(0, temp.folder.size() + 1), temp.folder + "/");
    // The moved original; the new file stays hidden beside it until it is closed whole.
    EXPECT_EQ(FolderEntries(temp.folder).size(), 1u);
    SaveDatabase3ds(ctx, out, db);  // payloads still come from the moved file
    ASSERT_FALSE(ctx.ErrorPending()) << ctx.ErrorAt(0).message;
    ReleaseDatabase3ds(ctx, &db);
    CloseAllFiles3ds(ctx);
    EXPECT_EQ(FolderEntries(temp.folder), std::vector<std::string>{"scene.3ds"});
    EXPECT_TRUE(ReadBytes3ds(temp.path) == original);
}

TEST(Database3ds, AFailedWriteBringsTheOriginalBack) {
    TempPath3ds temp("scene.3ds");
    // A track whose key count runs past its chunk: loading works, saving cannot.
    Bytes3ds bad = Chunk(0xB020, U16(0) + U32(0) + U32(0) + U32(1000));
    Bytes3ds bytes = Chunk(
        0x4D4D, Chunk(0x0002, U32(3)) + Chunk(0x3D3D, Chunk(0x3D3E, U32(3))) +
                    Chunk(0xB000, Chunk(0xB00A, U16(5) + Str("") + U32(30)) + Chunk(0xB002, bad)));
    WriteBytes3ds(temp.path, bytes);
    Context3ds ctx;
    Database3ds* db = nullptr;
    InitDatabase3ds(ctx, &db);
    LoadDatabase3ds(ctx, OpenFile3ds(ctx, temp.path.c_str(), "rb"), db);
    ASSERT_FALSE(ctx.ErrorPending());
    SaveDatabase3ds(ctx, OpenFile3ds(ctx, temp.path.c_str(), "wb"), db);
    EXPECT_TRUE(ctx.ErrorPending());
    ReleaseDatabase3ds(ctx, &db);
    CloseAllFiles3ds(ctx);
    EXPECT_EQ(FolderEntries(temp.folder), std::vector<std::string>{"scene.3ds"});
    std::vector<char> after = ReadBytes3ds(temp.path);
    EXPECT_TRUE(Bytes3ds(after.begin(), after.end()) == bytes);
}

// A real file loaded from a private folder and opened again for writing under its name.
struct Overwrite3ds {
    TempPath3ds temp{"scene.3ds"};
    std::vector<char> original = ReadBytes3ds(TestFiles3ds()[0]);
    Context3ds ctx;
    Database3ds* db = nullptr;
    File3ds* out = nullptr;
    Overwrite3ds() {
        WriteBytes3ds(temp.path, Bytes3ds(original.begin(), original.end()));
        InitDatabase3ds(ctx, &db);
        LoadDatabase3ds(ctx, OpenFile3ds(ctx, temp.path.c_str(), "rb"), db);
        out = OpenFile3ds(ctx, temp.path.c_str(), "wb");
    }
    // Closes every file; the bytes left under the name, none when other files remain.
    std::vector<char> Finish() {
        ReleaseDatabase3ds(ctx, &db);
        CloseAllFiles3ds(ctx);
        if (FolderEntries(temp.folder) != std::vector<std::string>{"scene.3ds"}) return {};
        return ReadBytes3ds(temp.path);
    }
};

TEST(Database3ds, AnEarlierFailureBringsTheOriginalBackToo) {
    Overwrite3ds f;
    ASSERT_NE(f.out, nullptr);
    PushError3ds(f.ctx, ERR_INVALID_DATA);  // a record the writer could not put
    SaveDatabase3ds(f.ctx, f.out, f.db);
    EXPECT_TRUE(f.Finish() == f.original);
}

TEST(Database3ds, ASaveThatWorksAfterAFailedOneKeepsTheNewFile) {
    Overwrite3ds f;
    ASSERT_NE(f.out, nullptr);
    PushError3ds(f.ctx, ERR_INVALID_DATA);
    SaveDatabase3ds(f.ctx, f.out, f.db);
    ClearErrors3ds(f.ctx);
    AddEmptyChunk3ds(f.ctx, 0x7777, f.db->topChunk);  // a change the new file shows
    SaveDatabase3ds(f.ctx, f.out, f.db);
    ASSERT_FALSE(f.ctx.ErrorPending()) << f.ctx.ErrorAt(0).message;
    EXPECT_EQ(f.Finish().size(), f.original.size() + 6);
}

TEST(Database3ds, CloseAllClosesEveryFileWhateverIsPending) {
    TempPath3ds temp("f");
    Context3ds ctx;
    for (int i = 0; i < 3; ++i) {
        std::string name = temp.path + std::to_string(i);
        WriteBytes3ds(name, {1});
        ASSERT_NE(OpenFile3ds(ctx, name.c_str(), "rb"), nullptr);
    }
    PushError3ds(ctx, ERR_READING_FILE);
    CloseAllFiles3ds(ctx);
    EXPECT_EQ(ctx.slotCount, 0);
    EXPECT_EQ(GetFileByIndex3ds(ctx, 0), nullptr);
}

TEST(Database3ds, NewDatabasesGetReleaseThreeVersionChunks) {
    Context3ds ctx;
    Database3ds* db = nullptr;
    InitDatabase3ds(ctx, &db);
    CreateNewDatabase3ds(ctx, db, kMeshFile3ds);
    EXPECT_EQ(GetDatabaseType3ds(db), kMeshFile3ds);
    EXPECT_EQ(*PayloadAs3ds<uint32_t>(FindChunk3ds(db->topChunk, 0x0002)), 3u);
    EXPECT_EQ(*PayloadAs3ds<uint32_t>(FindChunk3ds(db->topChunk, 0x3D3E)), 3u);
    KfHeader3ds* header = PayloadAs3ds<KfHeader3ds>(FindChunk3ds(db->topChunk, 0xB00A));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->revision, 5);
    EXPECT_EQ(header->length, 30u);
    CreateNewDatabase3ds(ctx, db, kMaterialFile3ds);
    EXPECT_EQ(db->topChunk->child, nullptr);
    EXPECT_EQ(GetMaterialChunkByIndex3ds(ctx, db, 0), nullptr);
    CreateNewDatabase3ds(ctx, db, kUnknownDb3ds);
    GetMaterialChunkByIndex3ds(ctx, db, 0);
    EXPECT_EQ(ctx.ErrorAt(0).code, ERR_WRONG_DATABASE);
    ReleaseDatabase3ds(ctx, &db);
    EXPECT_EQ(db, nullptr);
}

}  // namespace
