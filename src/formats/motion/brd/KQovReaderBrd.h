#pragma once
// Reads a rigid-body marker sample file into a scene: one marker node per marker id under
// "BRD:optical" or "BRD:reference", keyed at every frame of the file's span with
// translation, rotation and occlusion (1 where the marker has no line).

#include <vector>

#include "formats/motion/KQovMotionTextIO.h"
#include "formats/motion/brd/KMotionFileBrd.h"

class KQovReaderBrd : public KQovMotionTextReader<KMotionFileBrd> {
public:
    explicit KQovReaderBrd(KQovObjectManager* manager);

    KStreamOptions* GetReadOptions(bool allowScan) override;
    bool Read(KQovScene* scene, KStreamOptions* options) override;

    // Every line into the tracks, once; false when a line does not parse or there is none.
    bool Scan();
    const std::vector<KBrdTrack>& GetTracks() const { return mTracks; }

protected:
    void Reset() override;

private:
    void LoadTrack(KQovNode* node, const KBrdTrack& track, const KString& take,
                   const KStreamOptionsMotion& options);

    bool mScanned = false;
    std::vector<KBrdTrack> mTracks;  // ascending marker ids
    KTime mStartTime;
    int mFrameCount = 0;
    double mFrameRate = 0.0;
    int mFirstFrame = 0;
    KTime mFirstTime;
    int mLastFrame = 0;
    KTime mLastTime;
};
