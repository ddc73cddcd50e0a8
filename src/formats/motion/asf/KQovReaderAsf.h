#pragma once
// Reads an Acclaim skeleton file into a scene: skeleton nodes at rest under the scene's root
// (or under a reference node named after the skeleton), and leaves the skeleton in the
// options' stream object for the motion file that follows.

#include "formats/motion/KMotionReaderBase.h"
#include "formats/motion/asf/KMotionFileAsf.h"

class KQovAsfScene;
class KStreamOptionsMotion;

class KQovReaderAsf : public KMotionReaderBase<KMotionFileAsf> {
public:
    explicit KQovReaderAsf(KQovObjectManager* manager);
    ~KQovReaderAsf() override;

    KStreamOptions* GetReadOptions(bool allowScan) override;
    bool Read(KQovScene* scene, KStreamOptions* options) override;

    // "<skeleton name>:reference", "ASF:reference" for a skeleton without a name.
    static KString ReferenceName(const KQovAsfScene& skeleton);
};
