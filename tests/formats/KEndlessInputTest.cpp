// Endless and hostile inputs given to every file reader: devices and pipes are refused by
// name with a clear message, and regular files of zeros or noise end in an error, never in a
// hang or an allocation without bound.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <string>

#include "character/KQovSceneBridge.h"
#include "common/TempTestFolder.h"
#include "foundation/KFileStream.h"
#include "foundation/KTextLineReader.h"
#include "io/KQovFormatFactory.h"
#include "io/KQovReader.h"
#include "io/KStreamOptions.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

namespace {

// The reader ids of the format table and an extension each, for the messages.
const struct {
    int id;
    const char* extension;
} kReaders[] = {{3, "bvh"},  {4, "htr"},  {5, "trc"},  {6, "asf"},  {7, "amc"},
                {8, "c3d"},  {9, "aoa"},  {10, "mcd"}, {11, "vpm"}, {12, "mov"},
                {13, "brd"}, {14, "dxf"}, {15, "3ds"}, {16, "obj"}};

// Open, options and read as the importer does them; false at the first refusal.
bool ReadThrough(KQovReader& reader, const std::string& path) {
    if (!reader.FileOpen(path.c_str())) return false;
    std::unique_ptr<KStreamOptions> options(reader.GetReadOptions(true));
    if (!options) return false;
    KQovObjectManager& manager = *reader.GetObjectManager();
    KQovScene* scene = manager.CreateScene();
    const bool ok = reader.Read(scene, options.get());
    manager.DestroyScene(scene, true);
    return ok;
}

bool WriteFile(const std::string& path, const std::string& bytes) {
    KFileStream out;
    return out.Open(path.c_str(), "wb") &&
           out.Write(bytes.data(), uint32_t(bytes.size())) == bytes.size() && out.Commit();
}

}  // namespace

TEST(KEndlessInput, DevicesAndPipesAreRefusedByEveryReader) {
    KQovSceneBridge::Install();
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string fifo = folder / "pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo, std::string("/dev/zero"), std::string("/dev/urandom")}) {
        if (access(path.c_str(), F_OK) != 0) continue;
        for (const auto& r : kReaders) {
            SCOPED_TRACE(path + " as ." + r.extension);
            KQovObjectManager manager;
            std::unique_ptr<KQovReader> reader(KQovMakeFormatReader(r.id, &manager));
            ASSERT_TRUE(reader);
            EXPECT_FALSE(ReadThrough(*reader, path));
            EXPECT_EQ(reader->GetLastErrorID(), KQovReader::eFileNotOpened);
            // The C3D reader reports through its own file's table.
            if (r.id != 8) {
                EXPECT_NE(std::string(reader->GetLastErrorString()).find("not a regular file"),
                          std::string::npos)
                    << reader->GetLastErrorString();
            }
        }
    }
}

// A regular file of zeros longer than any line may be, and one of noise: each format ends in
// an error (the noise is no file of any of them), after reading it once.
TEST(KEndlessInput, FilesOfZerosAndNoiseEndInAnError) {
    KQovSceneBridge::Install();
    TempTestFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string zeros = folder / "zeros";
    ASSERT_TRUE(WriteFile(zeros, std::string(KTextLineReader::kMaxLineLength + 4096, '\0')));
    std::string noise(1 << 20, '\0');
    uint32_t state = 12345;
    for (char& c : noise) {
        state = state * 1103515245u + 12345u;
        c = char(state >> 23);
    }
    const std::string random = folder / "noise";
    ASSERT_TRUE(WriteFile(random, noise));
    for (const std::string& path : {zeros, random}) {
        for (const auto& r : kReaders) {
            SCOPED_TRACE(path + " as ." + r.extension);
            KQovObjectManager manager;
            std::unique_ptr<KQovReader> reader(KQovMakeFormatReader(r.id, &manager));
            ASSERT_TRUE(reader);
            EXPECT_FALSE(ReadThrough(*reader, path));
            EXPECT_NE(reader->GetLastErrorID(), -1);
        }
    }
}
