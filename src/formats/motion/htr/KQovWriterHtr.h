#pragma once
// Writes the skeleton below a scene's single top node as an HTR file: base positions from each
// node's limits (or from the scene's rest pose), and per frame each segment's turn and shift
// from its base position, sampled from the current take. End nodes are not written.

#include <vector>

#include "formats/motion/KMotionReaderBase.h"
#include "formats/motion/htr/KMotionFileHtr.h"
#include "foundation/KTime.h"

class KQovPose;
class KQovWrittenNames;
class KStreamOptionsMotion;

class KQovWriterHtr : public KMotionWriterBase<KMotionFileHtr> {
public:
    explicit KQovWriterHtr(KQovObjectManager* manager);
    ~KQovWriterHtr() override;

    KStreamOptions* GetWriteOptions() override;
    bool DoWrite(KQovScene* scene, KStreamOptions* options) override;

    // A node without children whose limits hold it fixed at its parent's bone end (its
    // translation limits on, its rotation not automatic), or another reader's end node that is
    // its parent's only child (the parent's bone then runs to it).
    static bool IsEndSite(KQovNode* node);

private:
    struct Segment {
        KQovNode* node;
        int parent;     // index of the parent segment, -1 for the root
        KMatrix input;  // the matrix handed down from the parent (P)
        bool hasInput;
        KVector4 bone;  // from the segment's start to its end, in the scene's axes
    };
    void ComputeBasePositions(KQovNode* node, int parent, const KMatrix& p, bool hasP,
                              KQovPose* restPose, KQovWrittenNames& names);
    void ConvertFrame(KQovNode* top, KTime time, int frame);
    // Whether the keys below `root` still hold each segment's rest orientation (a file read
    // without taking it off): its end sites then lie along the segment's own bone axis rather
    // than along the rest direction its limits hold.
    static bool RestLeftOnNodes(KQovNode* top);
    // The axis (0 X, 1 Y, 2 Z) every bone of length lies along in its segment's base position:
    // Y, as the writer's own base positions turn them, unless a rest pose holds all along another.
    int BoneAxis() const;

    std::vector<Segment> mSegments;
    bool mRestOnNodes = false;
};
