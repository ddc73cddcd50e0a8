#include "attributes/images/KImageConverterRegistry.h"

#include "foundation/KPath.h"

KImageConverterRegistry::KImageConverterRegistry(KQovObjectManager* manager) : mManager(manager) {}

bool KImageConverterRegistry::Register(const char* extension, KImageConverterFunction function) {
    // An empty key would claim every path without an extension.
    if (!function || !extension || !*extension) return false;
    if (mConverters.Find(extension)) return false;
    mFunctions.push_back(function);
    return mConverters.Add(extension, &mFunctions.back()) >= 0;
}

bool KImageConverterRegistry::Convert(int mode, const char* path, KImage& image) const {
    if (!path) return false;
    const KString extension = KExtractFileExtension(path);
    if (extension.IsEmpty()) return false;
    const auto* function =
        static_cast<const KImageConverterFunction*>(mConverters.Find(extension.Buffer()));
    return function && (*function)(mode, path, image) == 0;
}
