#pragma once
// The host side's converters between its own image files and KImage, one function per file
// extension. Mode 0 fills the image from the file at the path (the writers then store it as
// TIFF content); mode 1 writes the image into the file at the path in the format of its
// extension (the reader, after reading embedded TIFF content). A function returns 0 on success.

#include <deque>

#include "foundation/KStringMap.h"

class KImage;
class KQovObjectManager;

using KImageConverterFunction = int (*)(int mode, const char* path, KImage& image);

class KImageConverterRegistry {
public:
    enum EMode { eReadFile = 0, eWriteFile = 1 };

    // The manager that created the registry; kept, not used here.
    explicit KImageConverterRegistry(KQovObjectManager* manager);
    KImageConverterRegistry(const KImageConverterRegistry&) = delete;
    KImageConverterRegistry& operator=(const KImageConverterRegistry&) = delete;

    KQovObjectManager* GetObjectManager() const { return mManager; }

    // The extension without its dot, any case. The first function registered for an extension
    // stays; a null function or an empty extension is refused. True when added.
    bool Register(const char* extension, KImageConverterFunction function);
    // Runs the function of the path's extension; false when there is none or it fails.
    bool Convert(int mode, const char* path, KImage& image) const;

private:
    KQovObjectManager* mManager;
    KStringMap mConverters{20, false};
    std::deque<KImageConverterFunction> mFunctions;  // the map points into it; never moves
};
