#pragma once
// Reads a motion table into a scene: "Marker0", "Marker1" ... under "MOV:optical" or
// "MOV:reference", each keyed per row with the channel groups that settings 0, 1 and 2 turn
// on (translation, rotation, scaling), in a take named after the file.

#include "formats/motion/KQovMotionTextIO.h"
#include "formats/motion/mov/KMotionFileMov.h"

class KQovReaderMov : public KQovMotionTextReader<KMotionFileMov> {
public:
    explicit KQovReaderMov(KQovObjectManager* manager);

    // Start and rate from the time column of the first ten rows, a frame per row.
    KStreamOptions* GetReadOptions(bool allowScan) override;
    bool Read(KQovScene* scene, KStreamOptions* options) override;
};
