#pragma once
// Writes the animation of the current take as an Acclaim motion file, one block per frame of
// the options, on the skeleton that the options' stream object holds (the skeleton file is
// written or read first). Its options ask the skeleton writer to leave the skeleton file
// waiting for this one: the two take their places together or not at all.

#include <memory>

#include "formats/motion/KMotionReaderBase.h"
#include "formats/motion/asf/KMotionFileAmc.h"
#include "formats/motion/asf/KMotionFileAsf.h"

class KQovWriterAmc : public KMotionWriterBase<KMotionFileAmc> {
public:
    explicit KQovWriterAmc(KQovObjectManager* manager);
    ~KQovWriterAmc() override;

    KStreamOptions* GetWriteOptions() override;
    bool Write(KQovScene* scene, KStreamOptions* options) override;
    // With a skeleton file waiting, both files take their places, or neither does.
    bool FileClose() override;
    void FileDiscard() override;
    // The skeleton file beside the motion file.
    std::vector<std::string> GetCompanionFiles(const char* path) const override;

private:
    std::unique_ptr<KMotionFileAsf> mSkeletonFile;  // the pair's skeleton file, not yet in place
};
