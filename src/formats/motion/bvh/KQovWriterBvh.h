#pragma once
// Writes the node tree below a scene's single top node as a BVH file, sampling each node's
// local transform in the current take at every frame of the options.

#include <memory>
#include <vector>

#include "formats/motion/bvh/KMotionFileBvh.h"
#include "io/KQovWriter.h"

class KQovNode;

class KQovWriterBvh : public KQovWriter {
public:
    explicit KQovWriterBvh(KQovObjectManager* manager);
    ~KQovWriterBvh() override;

    bool FileCreate(const char* fileName) override;
    bool FileClose() override;
    bool IsFileOpen() override { return mFile != nullptr; }
    KStreamOptions* GetWriteOptions() override;
    bool Write(KQovScene* scene, KStreamOptions* options) override;

private:
    bool Fail(int error, const char* text = nullptr);
    void AddJoints(KQovNode* node, KBvhJoint* parent, const KVector4& scale);

    std::unique_ptr<KMotionFileBvh> mFile;
    // Nodes of the joint records, in record order (null for an end site).
    std::vector<KQovNode*> mNodes;
    // The scaling each record's offset and translation are multiplied by.
    std::vector<KVector4> mScales;
};
