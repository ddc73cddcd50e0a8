#pragma once
// Writes the marked nodes of a scene as a motion table: a row per frame, the time, then per
// marker the channel groups that settings 0, 1 and 2 turn on, taken from its global matrix
// relative to the export top node.

#include "formats/motion/KQovMotionTextIO.h"
#include "formats/motion/mov/KMotionFileMov.h"

class KQovWriterMov : public KQovMotionTextWriter<KMotionFileMov> {
public:
    explicit KQovWriterMov(KQovObjectManager* manager);

    KStreamOptions* GetWriteOptions() override;
    bool DoWrite(KQovScene* scene, KStreamOptions* options) override;
};
