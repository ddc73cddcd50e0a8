#pragma once
// Reads segment animation blocks into a scene: one marker node per block, named after its
// segment, under "VPM:optical" or "VPM:reference", keyed per frame with translation,
// rotation and scaling. A block whose header fails after the first ends the reading, keeping
// the blocks before it, and the status text names the line; a block that the file ends inside
// keeps the frames it holds (a last line cut short is dropped, with a warning), and the take
// runs as long as the longest block read.

#include "formats/motion/KQovMotionTextIO.h"
#include "formats/motion/vpm/KMotionFileVpm.h"

class KQovReaderVpm : public KQovMotionTextReader<KMotionFileVpm> {
public:
    explicit KQovReaderVpm(KQovObjectManager* manager);

    // The longest block's frame count and the first block's rate (the default one, with a
    // warning, where its frames cannot be kept at it), start 0.
    KStreamOptions* GetReadOptions(bool allowScan) override;
    bool Read(KQovScene* scene, KStreamOptions* options) override;

private:
    // One block into a node under `parent`; false, with nothing added, when it fails.
    bool ReadSegment(KQovNode* parent, const KString& take, KStreamOptionsMotion& options,
                     bool rewind);

    // A block's frame line could not be read: the file is refused, not cut short there.
    bool mBrokenSegment = false;
    // The file ended inside a block's frame lines; the most frames a block read.
    bool mCutShort = false;
    int mLongest = 0;
    int mHeldMost = 0;  // the most frame lines a block held, whatever was asked for
};
