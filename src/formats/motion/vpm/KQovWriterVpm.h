#pragma once
// Writes one segment animation block per marked node of a scene, named after the last part
// of the node's name, with its global translation and rotation relative to the export top
// node at every frame.

#include "formats/motion/KQovMotionTextIO.h"
#include "formats/motion/vpm/KMotionFileVpm.h"

class KQovWriterVpm : public KQovMotionTextWriter<KMotionFileVpm> {
public:
    explicit KQovWriterVpm(KQovObjectManager* manager);

    KStreamOptions* GetWriteOptions() override;
    bool DoWrite(KQovScene* scene, KStreamOptions* options) override;
};
