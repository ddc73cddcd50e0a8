// Feeds arbitrary bytes to the marker readers as a whole file read into a scene: the first
// byte picks the format (TRC, AOA/MCD or C3D) and a few option settings, the rest is the
// file. Every read must end with a scene or a clean error, never a crash or a runaway.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "character/KQovSceneBridge.h"
#include "foundation/KFileStream.h"
#include "foundation/KPath.h"
#include "io/KQovFormatFactory.h"
#include "io/KQovReader.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

namespace {

const std::string& InputPath() {
    static const std::string path = [] {
        std::string name = KGetTempFileName(nullptr, "fuzz_markers").Buffer();
        static std::string removal;
        removal = name;
        std::atexit([] { KRemoveFile(removal.c_str()); });
        return name;
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static const int kReaders[] = {5, 9, 10, 8};
    const int readerId = kReaders[data[0] % 4];
    const int flags = data[0] / 4;
    {
        KFileStream stream;
        if (!stream.Open(InputPath().c_str(), "wb")) return 0;
        if (size > 1 && stream.Write(data + 1, uint32_t(size - 1)) != size - 1) return 0;
    }
    KQovSceneBridge::Install();
    KQovObjectManager manager;
    KQovScene* scene = manager.CreateScene();
    std::unique_ptr<KQovReader> reader(KQovMakeFormatReader(readerId, &manager));
    if (!reader || !reader->FileOpen(InputPath().c_str())) return 0;
    std::unique_ptr<KStreamOptions> base(reader->GetReadOptions(false));
    auto* options = static_cast<KStreamOptionsMotion*>(base.get());
    if (!options) return 0;
    if (flags & 1) options->SetSetting(17, 1);
    if (flags & 2) options->SetSetting(6, 0);
    if (flags & 4) options->SetSetting(5, 0);
    const int before = manager.GetNodeCount();
    const bool read = reader->Read(scene, options);
    // A failed read leaves no node behind, attached or not.
    if (!read && manager.GetNodeCount() != before) std::abort();
    // A second read of the same open file starts again from its header.
    if (flags & 8) reader->Read(scene, options);
    reader->FileClose();
    return 0;
}
