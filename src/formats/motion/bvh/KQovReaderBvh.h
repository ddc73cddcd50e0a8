#pragma once
// Reads a BVH file into a scene: skeleton nodes under the scene's root (or under
// "BVH:reference"), with cubic translation and rotation keys in a take named after the file.

#include <memory>

#include "formats/motion/bvh/KMotionFileBvh.h"
#include "io/KQovReader.h"

class KStreamOptionsMotion;

class KQovReaderBvh : public KQovReader {
public:
    explicit KQovReaderBvh(KQovObjectManager* manager);
    ~KQovReaderBvh() override;

    bool FileOpen(const char* fileName) override;
    bool FileClose() override;
    bool IsFileOpen() override { return mFile != nullptr; }
    KStreamOptions* GetReadOptions(bool allowScan) override;
    bool Read(KQovScene* scene, KStreamOptions* options) override;

private:
    bool Fail(int error);
    bool ReadMotion(KStreamOptionsMotion& options);

    std::unique_ptr<KMotionFileBvh> mFile;
    KString mFileName;
    // Scene nodes of the joint records, in record order.
    std::vector<KQovNode*> mNodes;
};
