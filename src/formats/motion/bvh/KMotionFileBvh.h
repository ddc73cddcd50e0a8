#pragma once
// The hierarchy motion text file: a joint tree with offsets and channel lists, then one line
// of channel values per frame. The joint records are the in-memory form both ways: reading
// fills them from the file and turns each frame line into local transforms; writing takes
// records (filled from a file or a scene) and frame values set on them.

#include <memory>
#include <string>
#include <vector>

#include "formats/motion/KMotionFile.h"
#include "foundation/KVector4.h"

class KStreamOptionsMotion;
struct KQovNameTerms;

// Channel codes, the indices of the channel words.
enum {
    kBvhXPosition = 0,
    kBvhYPosition,
    kBvhZPosition,
    kBvhXRotation,
    kBvhYRotation,
    kBvhZRotation,
};

struct KBvhJoint {
    static constexpr int kMaxChannels = 6;

    std::string name;  // "End" for an end site
    KBvhJoint* parent = nullptr;
    std::vector<KBvhJoint*> children;
    int channelCount = 0;
    int channels[kMaxChannels] = {};
    bool endSite = false;
    double offset[3] = {0.0, 0.0, 0.0};
    // The current frame: local translation, and rotation as Euler X, Y, Z in degrees.
    KVector4 translation;
    KVector4 rotation;
    KVector4 previousRotation;
    // Where this joint's values start on a frame line.
    int firstValue = 0;
};

class KMotionFileBvh : public KMotionFile {
public:
    explicit KMotionFileBvh(bool report);

    // How the reader takes a joint's name back (KQovWrittenNames).
    static KQovNameTerms NameTerms();

    // From the start: the joint tree and the motion header; the position is then on the
    // first frame line.
    bool ReadHierarchy();
    // Scans for the motion header and stores frame count and rate in the options.
    bool ReadOptions(KStreamOptionsMotion& options);
    // The current line holds "Frames:"; reads it and the "Frame Time:" line behind it.
    bool ReadMotionHeader(KStreamOptionsMotion* options);
    // Reads the next frame line (the current one for the first frame) into each joint's
    // translation and rotation; angles are kept continuous from the previous frame unless
    // `first`.
    bool ReadFrame(bool first);
    // After `read` frames, all that the motion header counts: warns when frame lines follow,
    // and when frame lines held more numbers than the channels take.
    void WarnUnreadValues(int read);

    const std::vector<std::unique_ptr<KBvhJoint>>& GetJoints() const { return mJoints; }
    KBvhJoint* GetRoot() const { return mJoints.empty() ? nullptr : mJoints.front().get(); }
    int GetFrameCount() const { return mFrameCount; }
    double GetFrameTime() const { return mFrameTime; }
    int GetValueCount() const { return mValueCount; }
    // What the motion header's rate became when it could not be kept; empty when it was.
    const std::string& GetRateNote() const { return mRateNote; }

    // Building records to write: a new joint under `parent` (null for the root, which
    // empties the list first).
    KBvhJoint* AddJoint(KBvhJoint* parent, const char* name, bool endSite);
    // The hierarchy of the records, each joint with six channels when `translate` says so
    // (the root always) or else the three rotations Z X Y; the records take these channels.
    void WriteHierarchy(bool (*translate)(const KBvhJoint&));
    void WriteMotionHeader(int frameCount, double frameTime);
    // One frame line from the joints' translation and rotation.
    void WriteFrame();

private:
    bool ReadJoint(KBvhJoint* parent);
    bool ReadEndSite(KBvhJoint* parent);
    bool ReadOffset(KBvhJoint& joint);
    bool ReadChannels(KBvhJoint& joint);
    bool NextLineIs(KMotionKeyword* table, int index);
    void WriteJoint(KBvhJoint& joint, int indent, bool (*translate)(const KBvhJoint&));

    std::vector<std::unique_ptr<KBvhJoint>> mJoints;
    std::vector<double> mValues;
    int mValueCount = 0;
    // Frame lines read that held more numbers than the channels take.
    int mLongFrameLines = 0;
    int mFrameCount = 0;
    double mFrameTime = 0.0;
    std::string mRateNote;
};
