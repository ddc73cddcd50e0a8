#pragma once
// Writes the animation of the current take as an Acclaim motion file, one block per frame of
// the options, on the skeleton that the options' stream object holds (the skeleton file is
// written or read first).

#include "formats/motion/KMotionReaderBase.h"
#include "formats/motion/asf/KMotionFileAmc.h"

class KQovWriterAmc : public KMotionWriterBase<KMotionFileAmc> {
public:
    explicit KQovWriterAmc(KQovObjectManager* manager);
    ~KQovWriterAmc() override;

    KStreamOptions* GetWriteOptions() override;
    bool Write(KQovScene* scene, KStreamOptions* options) override;
};
