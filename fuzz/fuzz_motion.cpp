// Untrusted bytes as a skeletal or marker motion file, read into a fresh scene and, when the
// read succeeds, written back in the same format.
//
// The first byte picks the format (modulo 6: BVH, ASF with an AMC motion, HTR, BRD, MOV, VPM)
// and, in bit 3, whether the skeleton hangs under its reference node. For ASF the rest is split
// at the first "\n#AMC\n": before it the skeleton, after it the motion, read onto it.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "FuzzTempFiles.h"
#include "character/KQovSceneBridge.h"
#include "formats/motion/asf/KQovReaderAmc.h"
#include "formats/motion/asf/KQovReaderAsf.h"
#include "formats/motion/asf/KQovWriterAmc.h"
#include "formats/motion/asf/KQovWriterAsf.h"
#include "formats/motion/brd/KQovReaderBrd.h"
#include "formats/motion/brd/KQovWriterBrd.h"
#include "formats/motion/bvh/KQovReaderBvh.h"
#include "formats/motion/bvh/KQovWriterBvh.h"
#include "formats/motion/htr/KQovReaderHtr.h"
#include "formats/motion/htr/KQovWriterHtr.h"
#include "formats/motion/mov/KQovReaderMov.h"
#include "formats/motion/mov/KQovWriterMov.h"
#include "formats/motion/vpm/KQovReaderVpm.h"
#include "formats/motion/vpm/KQovWriterVpm.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KClassRegistry.h"
#include "scene/KQovObjectManager.h"
#include "scene/KQovScene.h"

namespace {

using Options = std::unique_ptr<KStreamOptions>;

KStreamOptionsMotion* Motion(const Options& options) {
    return static_cast<KStreamOptionsMotion*>(options.get());
}

// Opens `in` and reads it into `scene`, made first when null (only for a file whose options
// read: a scene costs more than most refusals); the read options come back in `options`.
// `skeleton`, when given, is the stream the read needs (the AMC motion's skeleton).
bool Read(KQovObjectManager& manager, KQovReader& reader, const std::string& in, KQovScene*& scene,
          bool reference, Options& options, KObject* skeleton = nullptr) {
    if (!reader.FileOpen(in.c_str())) return false;
    options.reset(reader.GetReadOptions(true));
    if (!options) return false;
    if (!scene) scene = manager.CreateScene();
    Motion(options)->SetSetting(8, reference ? 1 : 0);
    if (skeleton) Motion(options)->SetStream(skeleton, false);
    const bool ok = reader.Read(scene, options.get());
    reader.FileClose();
    return ok;
}

// Writes `scene` to `out` over the frames the read found; the write options come back in
// `options`.
bool Write(KQovWriter& writer, const std::string& out, KQovScene* scene, const Options& read,
           Options& options, KObject* skeleton = nullptr) {
    if (!writer.FileCreate(out.c_str())) return false;
    options.reset(writer.GetWriteOptions());
    KStreamOptionsMotion* motion = Motion(options);
    motion->SetStartTime(Motion(read)->GetStartTime());
    motion->SetFrameCount(Motion(read)->GetFrameCount());
    motion->SetFrameRate(Motion(read)->GetTimeMode(), Motion(read)->GetFrameRate());
    if (skeleton) motion->SetStream(skeleton, false);
    const bool ok = writer.Write(scene, options.get());
    writer.FileClose();
    return ok;
}

template <class Reader, class Writer>
void RoundTrip(KQovObjectManager& manager, const std::string& folder, const char* extension,
               std::string_view text, bool reference) {
    const std::string in = folder + "/in." + extension, out = folder + "/out." + extension;
    if (!FuzzWriteFile(in, text)) return;
    KQovScene* scene = nullptr;
    Reader reader(&manager);
    Options read, written;
    if (!Read(manager, reader, in, scene, reference, read)) return;
    Writer writer(&manager);
    Write(writer, out, scene, read, written);
}

void SkeletonAndMotion(KQovObjectManager& manager, const std::string& folder, std::string_view text,
                       bool reference) {
    static constexpr std::string_view kSeparator = "\n#AMC\n";
    const size_t split = text.find(kSeparator);
    const std::string asf = folder + "/in.asf", amc = folder + "/in.amc";
    const std::string_view motion = split == std::string_view::npos
                                        ? std::string_view()
                                        : text.substr(split + kSeparator.size());
    if (!FuzzWriteFile(asf, text.substr(0, split)) || !FuzzWriteFile(amc, motion)) return;
    KQovScene* scene = nullptr;
    KQovReaderAsf skeletonReader(&manager);
    Options skeleton, frames, skeletonWritten, framesWritten;
    if (!Read(manager, skeletonReader, asf, scene, reference, skeleton)) return;
    KQovReaderAmc motionReader(&manager);
    const bool moved =
        Read(manager, motionReader, amc, scene, reference, frames, Motion(skeleton)->GetStream());
    KQovWriterAsf skeletonWriter(&manager);
    if (!Write(skeletonWriter, folder + "/out.asf", scene, skeleton, skeletonWritten) || !moved)
        return;
    KQovWriterAmc motionWriter(&manager);
    Write(motionWriter, folder + "/out.amc", scene, frames, framesWritten,
          Motion(skeletonWritten)->GetStream());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const bool installed = (KQovSceneBridge::Install(), true);
    (void)installed;
    // One user for the whole run: each manager then neither starts nor tears down the library.
    static const bool started = (KQovSdkAddUser(), true);
    (void)started;
    static const std::string folder = FuzzFolder("fuzz_motion_");
    const bool reference = (data[0] >> 3) & 1;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    KQovObjectManager manager;
    switch (data[0] % 6) {
        case 0:
            RoundTrip<KQovReaderBvh, KQovWriterBvh>(manager, folder, "bvh", text, reference);
            break;
        case 1:
            SkeletonAndMotion(manager, folder, text, reference);
            break;
        case 2:
            RoundTrip<KQovReaderHtr, KQovWriterHtr>(manager, folder, "htr", text, reference);
            break;
        case 3:
            RoundTrip<KQovReaderBrd, KQovWriterBrd>(manager, folder, "brd", text, reference);
            break;
        case 4:
            RoundTrip<KQovReaderMov, KQovWriterMov>(manager, folder, "mov", text, reference);
            break;
        default:
            RoundTrip<KQovReaderVpm, KQovWriterVpm>(manager, folder, "vpm", text, reference);
            break;
    }
    return 0;
}
