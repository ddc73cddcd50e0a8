#pragma once
// Reads an HTR file into a scene: a skeleton of nodes with end nodes, limits that record each
// segment's rest frame and bone, keys of every frame in a take named after the file (the rest
// orientations taken off unless the settings say otherwise), and a rest pose.

#include <unordered_map>

#include "formats/motion/KMotionReaderBase.h"
#include "formats/motion/htr/KMotionFileHtr.h"

class KStreamOptionsMotion;

class KQovReaderHtr : public KMotionReaderBase<KMotionFileHtr> {
public:
    explicit KQovReaderHtr(KQovObjectManager* manager);
    ~KQovReaderHtr() override;

    KStreamOptions* GetReadOptions(bool allowScan) override;
    bool Read(KQovScene* scene, KStreamOptions* options) override;

    // The name of the rest pose of the nodes below `top`.
    static KString RestPoseName(KQovNode* top);

private:
    bool CreateNodes(KQovNode* reference, const char* take);
    void SetSegmentLimits(KHtrSegment& segment);
    void KeySegments(const KStreamOptionsMotion& options);
    void MinimizeRotationOffset(KQovNode* node, int frame, const KMatrix& p, const KMatrix& q);
    void CreateRestPose(KQovScene* scene, KQovNode* top);

    // Each segment's node to the segment, while the rest orientations are taken off.
    std::unordered_map<const KQovNode*, KHtrSegment*> mSegmentOfNode;
};
