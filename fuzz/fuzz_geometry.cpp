// Untrusted bytes as an OBJ file (with an MTL library beside it) or a drawing file, read into a
// fresh scene and, when the read succeeds, written back in the same format.
//
// The first byte picks the format and the options: bit 0 the format (0 OBJ, 1 drawing), bit 1
// the reference node, bit 2 forced triangulation on writing, bit 3 welding, the high four
// bits (modulo 3) the drawing's object derivation. For OBJ the rest is split at the first
// "\n#MTL\n": before it the OBJ file, after it the library "m.mtl" in the same folder.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "FuzzTempFiles.h"
#include "formats/geometry/dxf/KQovReaderDxf.h"
#include "formats/geometry/dxf/KQovWriterDxf.h"
#include "formats/geometry/obj/KQovReaderObj.h"
#include "formats/geometry/obj/KQovWriterObj.h"
#include "io/KStreamOptionsBase.h"
#include "scene/KClassRegistry.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

namespace {

// Reads `in` with `reader`, then writes the scene to `out` with `writer`.
void RoundTrip(KQovObjectManager& manager, KQovReader& reader, KQovWriter& writer,
               const std::string& in, const std::string& out, uint8_t flags) {
    KQovScene* scene = manager.CreateScene();
    if (!reader.FileOpen(in.c_str())) return;
    std::unique_ptr<KStreamOptions> read(reader.GetReadOptions(false));
    auto* options = static_cast<KStreamOptionsBase*>(read.get());
    if (!options) return;
    options->SetOptionValue(1, (flags >> 1) & 1);
    options->SetOptionValue(4, (flags >> 3) & 1);
    options->SetOptionValue(6, (flags >> 4) % 3);
    const bool ok = reader.Read(scene, options);
    reader.FileClose();
    if (!ok || !writer.FileCreate(out.c_str())) return;
    std::unique_ptr<KStreamOptions> write(writer.GetWriteOptions());
    static_cast<KStreamOptionsBase*>(write.get())->SetOptionValue(2, (flags >> 2) & 1);
    writer.Write(scene, write.get());
    writer.FileClose();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // One user for the whole run: each manager then neither starts nor tears down the library.
    static const bool started = (KQovSdkAddUser(), true);
    (void)started;
    static const std::string folder = FuzzFolder("fuzz_geometry_");
    const uint8_t flags = data[0];
    std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    KQovObjectManager manager;
    if (flags & 1) {
        const std::string in = folder + "/in.dxf";
        if (!FuzzWriteFile(in, text)) return 0;
        KQovReaderDxf reader(&manager);
        KQovWriterDxf writer(&manager);
        RoundTrip(manager, reader, writer, in, folder + "/out.dxf", flags);
    } else {
        static constexpr std::string_view kSeparator = "\n#MTL\n";
        const size_t split = text.find(kSeparator);
        const std::string in = folder + "/in.obj", library = folder + "/m.mtl";
        const std::string_view mtl = split == std::string_view::npos
                                         ? std::string_view()
                                         : text.substr(split + kSeparator.size());
        if (!FuzzWriteFile(in, text.substr(0, split)) || !FuzzWriteFile(library, mtl)) return 0;
        KQovReaderObj reader(&manager);
        KQovWriterObj writer(&manager);
        RoundTrip(manager, reader, writer, in, folder + "/out.obj", flags);
    }
    return 0;
}
