#include "formats/motion/aoa/KQovOpticalMcd.h"

#include "formats/motion/aoa/KMotionFileMarkers.h"
#include "io/KStreamOptionsMotion.h"

namespace {

std::unique_ptr<KMarkerFileInterface> OpenMarkers(const char* path, const char* mode) {
    auto file = std::make_unique<KMotionFileMarkers>();
    if (file->Open(path, mode) != 0) return nullptr;
    return file;
}

}  // namespace

KQovReaderMcd::KQovReaderMcd(KQovObjectManager* manager, int variant) : KQovOpticalReader(manager) {
    const bool mcd = variant == eMarkerVariantMcd;
    mDescription = mcd ? "Superfluo MCD File Importer" : "Adaptive Optics AOA File Importer";
    mPrefix = mcd ? "MCD" : "AOA";
}

std::unique_ptr<KMarkerFileInterface> KQovReaderMcd::CreateMotionFile(const char* path) {
    return OpenMarkers(path, "r");
}

void KQovReaderMcd::InitOptions(KStreamOptionsMotion& options) {
    for (int setting : {4, 5, 6}) options.SetSetting(setting, 1);
}

KQovWriterMcd::KQovWriterMcd(KQovObjectManager* manager, int variant) : KQovOpticalWriter(manager) {
    mDescription = variant == eMarkerVariantMcd ? "Superfluo MCD File Exporter"
                                                : "Adaptive Optics AOA File Exporter";
    mFormat = variant == eMarkerVariantMcd ? "an MCD" : "an AOA";
}

std::unique_ptr<KMarkerFileInterface> KQovWriterMcd::CreateMotionFile(const char* path) {
    return OpenMarkers(path, "w");
}

void KQovWriterMcd::InitOptions(KStreamOptionsMotion& options) {
    options.SetSetting(13, 0);
}
