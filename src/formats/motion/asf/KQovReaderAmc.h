#pragma once
// Reads an Acclaim motion file onto the skeleton that the options' stream object holds: one
// take named after the file, keyed on the skeleton's nodes (made where the scene lacks them).

#include "formats/motion/KMotionReaderBase.h"
#include "formats/motion/asf/KMotionFileAmc.h"

class KQovReaderAmc : public KMotionReaderBase<KMotionFileAmc> {
public:
    explicit KQovReaderAmc(KQovObjectManager* manager);
    ~KQovReaderAmc() override;

    KStreamOptions* GetReadOptions(bool allowScan) override;
    bool Read(KQovScene* scene, KStreamOptions* options) override;
};
