// Feeds arbitrary bytes to the C3D file as a whole file: header, every parameter record,
// the POINT labels and every frame must end cleanly, never reading past the bytes.
#include <cstdint>
#include <string>
#include <vector>

#include "formats/motion/c3d/KC3dFile.h"
#include "formats/motion/c3d/KC3dLabels.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    KC3dFile file;
    file.Load(data, size);
    if (!file.ReadHeader()) return 0;
    const KC3dHeader h = file.Header();
    std::vector<std::string> labels(h.pointCount);
    int8_t pointGroup = 1;
    if (file.SeekBlock(h.parameterBlock - 1) && file.SkipBytes(4) == 4) {
        while (auto record = file.ReadParameterRecord()) {
            if (record->IsGroup() && record->name == "POINT") pointGroup = static_cast<int8_t>(-record->groupId);
            KC3dTakeListParameter(*record, "LABELS", pointGroup, labels);
            if (record->data)
                for (size_t i = 0; i < record->data->GetElementCount(); ++i) record->data->GetNumber(i);
        }
    }
    if (!file.SeekBlock(int64_t(h.dataBlock) - 1)) return 0;
    KC3dPoint point;
    for (int f = h.firstFrame; f <= h.lastFrame; ++f) {
        for (int p = 0; p < h.pointCount; ++p)
            if (!file.ReadPoint(point, h.scaleFactor, 0, 0.1)) return 0;
        if (file.SkipBytes(size_t(h.analogPerFrame) * (h.scaleFactor < 0 ? 4 : 2)) == 0 && h.analogPerFrame) return 0;
    }
    return 0;
}
