#pragma once
// Writes the marked nodes of a scene as rigid-body marker samples: for each frame, one line
// per marker (its index in depth-first order) with its position and orientation relative to
// the export top node; occluded markers are left out when setting 11 is 0.

#include "formats/motion/KQovMotionTextIO.h"
#include "formats/motion/brd/KMotionFileBrd.h"

class KQovWriterBrd : public KQovMotionTextWriter<KMotionFileBrd> {
public:
    explicit KQovWriterBrd(KQovObjectManager* manager);

    KStreamOptions* GetWriteOptions() override;
    bool DoWrite(KQovScene* scene, KStreamOptions* options) override;
};
