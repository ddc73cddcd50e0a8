#pragma once
// Writes the node tree below a scene's single top node as a BVH file, sampling each node's
// local transform in the current take at every frame of the options.

#include <memory>
#include <vector>

#include "formats/motion/KMotionReaderBase.h"
#include "formats/motion/bvh/KMotionFileBvh.h"

class KQovNode;
class KQovWrittenNames;

class KQovWriterBvh : public KMotionWriterBase<KMotionFileBvh> {
public:
    explicit KQovWriterBvh(KQovObjectManager* manager);
    ~KQovWriterBvh() override;

    KStreamOptions* GetWriteOptions() override;
    bool DoWrite(KQovScene* scene, KStreamOptions* options) override;

private:
    void AddJoints(KQovNode* node, KBvhJoint* parent, const KVector4& scale,
                   KQovWrittenNames& names);
    void SetTranslationChannels(KTime start, KTime period, int frames);

    // Nodes of the joint records, in record order (null for an end site).
    std::vector<KQovNode*> mNodes;
    // The scaling each record's offset and translation are multiplied by.
    std::vector<KVector4> mScales;
};
