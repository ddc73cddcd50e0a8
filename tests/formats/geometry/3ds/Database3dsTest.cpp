#include <gtest/gtest.h>

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
        Context3ds ctx;
        Database3ds* db = nullptr;
        InitDatabase3ds(ctx, &db);
        File3ds* in = OpenFile3ds(ctx, name.c_str(), "rb");
        ASSERT_NE(in, nullptr);
        LoadDatabase3ds(ctx, in, db);
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
        ReleaseDatabase3ds(ctx, &db);
        CloseAllFiles3ds(ctx);
    }
}

}  // namespace
