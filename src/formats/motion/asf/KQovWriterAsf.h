#pragma once
// Writes the node tree below a scene's single top node as an Acclaim skeleton file, and leaves
// the skeleton it built in the options' stream object for the motion file that follows. With
// options made by the motion writer, the written file waits there too (KQovAcclaimFiles.h).

#include "formats/motion/KMotionReaderBase.h"
#include "formats/motion/asf/KMotionFileAsf.h"

class KQovNode;

class KQovWriterAsf : public KMotionWriterBase<KMotionFileAsf> {
public:
    explicit KQovWriterAsf(KQovObjectManager* manager);
    ~KQovWriterAsf() override;

    KStreamOptions* GetWriteOptions() override;
    bool Write(KQovScene* scene, KStreamOptions* options) override;
    // True as well for a skeleton file handed on to its motion file (options made by the
    // motion writer), which puts it in place.
    bool FileClose() override;

    // The options both Acclaim writers make.
    static KStreamOptions* MakeWriteOptions();
    // The node the skeleton is built from, given the scene's single top node: the top node's
    // only child when that child is a joint named "root" and the top node a reference node
    // above it (no attribute, or a null), as the skeleton reader makes them; else the top node.
    static KQovNode* SkeletonTop(KQovNode* top);

private:
    bool mHandedOn = false;  // the written file waits in the options for its motion file
};
