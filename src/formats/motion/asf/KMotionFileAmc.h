#pragma once
// The motion text file of a skeleton: one block per frame, a frame number then one line per
// bone with the values of its degrees of freedom. Frames become keys on the bones of a
// KQovAsfScene read before.

#include <string>

#include "formats/motion/KMotionFile.h"

class KQovAsfScene;
class KStreamOptionsMotion;

class KMotionFileAmc : public KMotionFile {
public:
    explicit KMotionFileAmc(bool report);

    // Rate, first frame and frame count into the options.
    bool ReadOptions(KStreamOptionsMotion& options);
    // What ReadOptions said of a rate it could not keep (a line), else empty.
    const std::string& GetRateNote() const { return mRateNote; }
    // The frames (all of them when the options' frame count is 0) as keys on the bones.
    bool ReadFrames(KQovAsfScene& scene, const KStreamOptionsMotion& options);

    // The header, led by a comment naming the skeleton file when `skeleton` is not null; a
    // negative rate or first frame leaves out its line.
    void WriteHeader(double rate, int firstFrame, int lastFrame, const char* skeleton = nullptr);
    // One frame block from the bones' keys of that frame number (the rest pose without one).
    void WriteFrame(const KQovAsfScene& scene, int frame);

private:
    bool ReadFormatLine();
    // A frame number at the position: a whole number within a billion either way.
    bool ReadFrameNumber(int& frame);
    bool AtFrameNumber() const;

    std::string mRateNote;
};
