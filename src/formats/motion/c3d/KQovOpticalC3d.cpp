#include "formats/motion/c3d/KQovOpticalC3d.h"

#include "formats/motion/c3d/KMotionFileC3d.h"
#include "io/KStreamOptionsMotion.h"

namespace {

std::unique_ptr<KMarkerFileInterface> OpenC3d(const char* path, const char* mode) {
    auto file = std::make_unique<KMotionFileC3d>();
    if (file->Open(path, mode) != 0) return nullptr;
    return file;
}

}  // namespace

KQovReaderC3d::KQovReaderC3d(KQovObjectManager* manager) : KQovOpticalReader(manager) {
    mDescription = "Vicon C3D File Importer";
    mPrefix = "C3D";
}

std::unique_ptr<KMarkerFileInterface> KQovReaderC3d::CreateMotionFile(const char* path) {
    return OpenC3d(path, "rb");
}

void KQovReaderC3d::InitOptions(KStreamOptionsMotion& options) {
    for (int setting : {3, 4, 6, 7}) options.SetSetting(setting, 1);
    int code[4];
    if (!static_cast<KMotionFileC3d&>(*mFile).FindTimeCode(code)) return;
    KTime timeCode;
    timeCode.SetTime(code[0], code[1], code[2], code[3], 0, 0);
    options.SetStartTime(timeCode + options.GetStartTime());
}

KQovWriterC3d::KQovWriterC3d(KQovObjectManager* manager) : KQovOpticalWriter(manager) {
    mDescription = "Vicon C3D File Exporter";
}

std::unique_ptr<KMarkerFileInterface> KQovWriterC3d::CreateMotionFile(const char* path) {
    return OpenC3d(path, "wb");
}

void KQovWriterC3d::InitOptions(KStreamOptionsMotion& options) {
    options.SetSetting(3, 1);
    options.SetSetting(11, 0);
    options.SetSetting(12, 1);
    options.SetSetting(13, 0);
}
