#pragma once
// Reads a BVH file into a scene: skeleton nodes under the scene's root (or under
// "BVH:reference"), with cubic translation and rotation keys in a take named after the file.

#include <memory>

#include "formats/motion/KMotionReaderBase.h"
#include "formats/motion/bvh/KMotionFileBvh.h"

class KStreamOptionsMotion;

class KQovReaderBvh : public KMotionReaderBase<KMotionFileBvh> {
public:
    explicit KQovReaderBvh(KQovObjectManager* manager);
    ~KQovReaderBvh() override;

    KStreamOptions* GetReadOptions(bool allowScan) override;
    bool Read(KQovScene* scene, KStreamOptions* options) override;

private:
    bool ReadMotion(KStreamOptionsMotion& options);

    // Scene nodes of the joint records, in record order.
    std::vector<KQovNode*> mNodes;
};
