#pragma once
// Writes the node tree below a scene's single top node as an Acclaim skeleton file, and leaves
// the skeleton it built in the options' stream object for a motion file written after it, which
// is then written alone; a skeleton whose file did not take its place is not written with. The
// file takes its place when it is closed, whatever the options; the
// motion writer writes the skeleton file of its pair itself (KQovAcclaimFiles.h).

#include <memory>
#include <string>

#include "formats/motion/KMotionReaderBase.h"
#include "formats/motion/asf/KMotionFileAsf.h"

class KQovNode;

// What the two files of a pair hold, for "Nothing to write".
inline constexpr KMotionHolds kAsfHolds{"an ASF", "skeletons"};
inline constexpr KMotionHolds kAmcHolds{"an AMC", "skeleton motion"};

class KQovWriterAsf : public KMotionWriterBase<KMotionFileAsf> {
public:
    explicit KQovWriterAsf(KQovObjectManager* manager);
    ~KQovWriterAsf() override;

    bool DoFileCreate(const char* fileName) override;
    // The skeleton left in the options is the one a motion file is written with from here on.
    bool DoFileClose() override;
    void DoFileDiscard() override;
    KStreamOptions* GetWriteOptions() override;
    bool DoWrite(KQovScene* scene, KStreamOptions* options) override;
    // The written file, not yet in place, for the motion writer to put in place with its own;
    // nothing is open after.
    std::unique_ptr<KMotionFileAsf> TakeFile() { return std::move(mFile); }
    // Set by the motion writer: the file is the skeleton of its pair, and the options go on
    // asking for pairs.
    void SetPairOfMotion() { mPairOfMotion = true; }

    // The options both Acclaim writers make.
    static KStreamOptions* MakeWriteOptions();
    // The node the skeleton is built from, given the scene's single top node: the top node's
    // only child when that child is a joint named "root" and the top node a reference node
    // above it (no attribute, or a null), as the skeleton reader makes them; else the top node.
    static KQovNode* SkeletonTop(KQovNode* top);

private:
    std::string mPath;  // the file's name
    bool mPairOfMotion = false;
    KWeakRef mLeft;  // the skeleton a good Write left in its options
};
