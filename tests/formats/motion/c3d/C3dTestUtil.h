#pragma once
// Reading whole C3D files through KC3dFile for the tests.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formats/motion/c3d/KC3dFile.h"
#include "formats/motion/c3d/KC3dLabels.h"
#include "foundation/KFileStream.h"

// The C3D samples kept with the tests; empty when the folder is missing.
inline std::string TestDataFolder() {
    std::string folder = std::string(QOV_TESTDATA_DIR) + "/c3d";
    KFileStream probe;
    if (probe.Open((folder + "/MyCube.c3d").c_str(), "rb")) return folder;
    return std::string();
}

struct C3dContent {
    KC3dHeader header;
    int processor = 0;
    std::vector<std::string> labels;
    std::vector<std::vector<KC3dPoint>> frames;
    int parameterBlocks = 0;
};

// Header, POINT labels and every frame in file units; false with the file's error text.
inline bool ReadC3d(const std::string& path, C3dContent& out, std::string& error) {
    KFileStream stream;
    KC3dFile file;
    if (!stream.Open(path.c_str(), "rb") || !file.Load(stream) || !file.ReadHeader()) {
        error = file.GetError().GetErrorText();
        return false;
    }
    out.header = file.Header();
    out.processor = file.GetFileProcessorType();
    out.labels.assign(out.header.pointCount, std::string());
    uint8_t head[4] = {};
    file.SeekBlock(out.header.parameterBlock - 1);
    for (uint8_t& b : head) file.ReadByte(b);
    out.parameterBlocks = head[2];
    int8_t pointGroup = 1;
    while (auto record = file.ReadParameterRecord()) {
        if (record->IsGroup() && record->name == "POINT") pointGroup = static_cast<int8_t>(-record->groupId);
        KC3dTakeListParameter(*record, "LABELS", pointGroup, out.labels);
    }
    if (!file.SeekBlock(out.header.dataBlock - 1)) {
        error = "no data section";
        return false;
    }
    const KC3dHeader& h = out.header;
    for (int f = h.firstFrame; f <= h.lastFrame; ++f) {
        std::vector<KC3dPoint> frame(h.pointCount);
        for (KC3dPoint& p : frame)
            if (!file.ReadPoint(p, h.scaleFactor, 0, 1.0)) {
                error = "frame " + std::to_string(f) + " cut short";
                return false;
            }
        file.SkipBytes(size_t(h.analogPerFrame) * (h.scaleFactor < 0 ? 4 : 2));
        out.frames.push_back(std::move(frame));
    }
    return true;
}
