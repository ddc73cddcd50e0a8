// Untrusted bytes through the whole QOV reader: open (ASCII, binary, encrypted), the header
// pass (Summary, take list, counts, or a scan that may append a Summary to the file), then the
// main read into a fresh scene with every content switch on, as an import does.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "animation/KFCurveKeysAhead.h"
#include "fieldfile/KQovFieldReader.h"
#include "io/qov/KQovReaderQov.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

namespace {

std::string TempName() {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/fuzz_qov_" + std::to_string(getpid()) +
           ".qov";
}

bool WriteFile(const std::string& name, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(name.c_str(), "wb");
    if (!f) return false;
    const bool written = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && written;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Inputs of odd size have every list checked at its first read rather than when parsed,
    // as long lists are (small inputs never reach that size).
    KQovFieldReader::SetCheckLaterFrom(size % 2 ? 1u : KQovFieldReader::kCheckLaterFrom);
    // Every other input by size has its meshes' points decoded on a thread of their own.
    static const int asideFrom = KQovReaderQov::SetVerticesAsideFrom(1);
    KQovReaderQov::SetVerticesAsideFrom(size % 4 < 2 ? 1 : asideFrom);
    // Every other input by size has every key list of its takes decoded ahead by a thread of
    // its own, the read waiting for it on each.
    static const int aheadFrom = KFCurveKeysAhead::SetFrom(1);
    static const bool wait = KFCurveKeysAhead::SetWaitForThread(true);
    (void)wait;
    KFCurveKeysAhead::SetFrom(size % 4 == 1 || size % 4 == 2 ? 1 : aheadFrom);
    static const std::string name = TempName();
    if (!WriteFile(name, data, size)) return 0;
    KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();
    {
        KQovReaderQov reader(&manager, nullptr);
        if (reader.FileOpen(name.c_str())) {
            int major, minor, revision;
            reader.GetFileVersion(major, minor, revision);
            reader.GetFileKind();
            std::unique_ptr<KStreamOptionsQov> options(reader.ReadHeaderInfo(nullptr, true));
            if (options) {
                for (int i = 0; i < KStreamOptionsQov::eSwitchCount; ++i)
                    options->SetSwitch(i, true);
                options->password = "fuzz";
                reader.Read(scene, options.get());
                KQovDestroySceneInfo(&manager, options->sceneInfo);
                options->sceneInfo = nullptr;
            }
        }
    }
    std::remove(name.c_str());
    return 0;
}
