#pragma once
// The rigid-body marker sample text file: one line per marker per frame, in any order, with
// a position, an orientation quaternion and the sample's time:
//   frame marker P x y z Q qx qy qz qw seconds microseconds

#include <vector>

#include "formats/motion/KMotionFile.h"
#include "foundation/KTime.h"
#include "foundation/KVector4.h"

struct KBrdSample {
    int frame = 0;
    KVector4 position;
    KVector4 orientation;  // quaternion (x, y, z, w)
    KTime time;
};

struct KBrdTrack {
    int marker = 0;
    std::vector<KBrdSample> samples;  // ascending frame numbers, one sample per frame

    // Walks from `cursor` (negative taken as 0) past samples below `frame`. True with the
    // sample's values and the cursor behind it when found; else the cursor stays on the first
    // sample beyond.
    bool FindSample(int frame, KVector4& position, KVector4& orientation, int& cursor) const;
};

class KMotionFileBrd : public KMotionFile {
public:
    KMotionFileBrd();

    // The first line with `rewind`, else the next. False at the first field that does not
    // parse, and at the end of the file.
    bool ReadSample(KBrdSample& sample, int& marker, bool rewind);
    bool WriteSample(int frame, int marker, const KVector4& position, const KVector4& orientation,
                     KTime time);
};
