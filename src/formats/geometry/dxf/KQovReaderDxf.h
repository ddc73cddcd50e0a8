#pragma once
// Reader of ASCII drawing files: the geometry of the ENTITIES section and of the blocks it
// places becomes mesh nodes (by layer, block or entity, as the options choose), each colour
// number a material shared by the meshes that use it.

#include <string>

#include "formats/geometry/KQovPathReader.h"

class KQovReaderDxf : public KQovPathReader {
public:
    explicit KQovReaderDxf(KQovObjectManager* manager);
    KStreamOptions* GetReadOptions(bool allowScan) override;
    bool Read(KQovScene* scene, KStreamOptions* options) override;

private:
    enum ELoad { eLoaded, eNotOpened, eReadFailed, eCutShort, eNoMemory };
    // The whole file into `text`; the system's error number in `readError` for eReadFailed.
    ELoad LoadText(std::string& text, int& readError);
};
