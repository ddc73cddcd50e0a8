#pragma once
// Writes the animation of the current take as an Acclaim motion file, one block per frame of
// the options, on the skeleton that the options' stream object holds. With its own options it
// writes the skeleton file beside it as well, from the same scene: the two take their places
// together or not at all. With a skeleton left by the skeleton writer (or a reader) it writes
// the motion file alone, naming the skeleton writer's file in its header when that is not the
// skeleton file beside it.

#include <memory>
#include <string>

#include "formats/motion/KMotionReaderBase.h"
#include "formats/motion/asf/KMotionFileAmc.h"
#include "formats/motion/asf/KMotionFileAsf.h"

class KQovWriterAmc : public KMotionWriterBase<KMotionFileAmc> {
public:
    explicit KQovWriterAmc(KQovObjectManager* manager);
    ~KQovWriterAmc() override;

    bool DoFileCreate(const char* fileName) override;
    KStreamOptions* GetWriteOptions() override;
    bool DoWrite(KQovScene* scene, KStreamOptions* options) override;
    // With a skeleton file waiting, both files take their places, or neither does.
    bool DoFileClose() override;
    void DoFileDiscard() override;
    // The skeleton file beside the motion file, when the options (or this writer's own) write
    // the pair; none when the motion file is written alone on a skeleton already written.
    std::vector<std::string> GetCompanionFiles(const char* path,
                                               const KStreamOptions* options = nullptr) const override;

private:
    // The skeleton file of the pair, written whole beside the motion file, kept in mSkeletonFile.
    bool WriteSkeletonFile(KQovScene* scene, KStreamOptions* options);

    std::string mPath;                              // the motion file's name
    std::unique_ptr<KMotionFileAsf> mSkeletonFile;  // the pair's skeleton file, not yet in place
};
