#pragma once
// The hierarchical translation-rotation text file: a header of settings, the segment
// hierarchy, a base position per segment and one block of frame lines per segment. Reading
// fills the segment table; each frame becomes the segment's local translation (centimetres)
// and rotation (Euler X, Y, Z in degrees) with the base position folded in. Writing takes the
// same table back.

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "formats/motion/KMotionFile.h"
#include "foundation/KMatrix.h"

class KQovNode;
struct KQovNameTerms;
class KStreamOptionsMotion;

struct KHtrSegment {
    std::string name;
    std::string parentName;
    int dataType = -1;
    KVector4 baseTranslation;  // centimetres
    KMatrix baseRotation;
    double boneLength = 0.0;  // centimetres
    // Per frame: local translation and Euler X, Y, Z rotation of the segment.
    std::vector<KVector4> translations;
    std::vector<KVector4> rotations;
    // Frames whose scale factor (the last value of a frame line) is not 1, and the first of
    // them: the scene keeps no per-frame length of a segment.
    int scaledFrames = 0;
    int firstScaledFrame = 0;
    double firstScale = 1.0;
    // Reading into a scene: the segment's node, and the inverse of its rest orientation.
    KQovNode* node = nullptr;
    KMatrix restInverse;

    // Angles indexed by axis, turned in the given order code.
    void SetBasePosition(const KVector4& translation, const KVector4& angles, int order,
                         double length);
};

class KMotionFileHtr : public KMotionFile {
public:
    static constexpr int kMaxName = 255;

    explicit KMotionFileHtr(bool report);

    // The header only: frame count and rate into the options, setting 8 to 1.
    bool ReadOptions(KStreamOptionsMotion& options);
    // Header, hierarchy and base positions; the position is then on the first frame block.
    bool ReadHierarchy(KStreamOptionsMotion* options);
    // Every segment's frame block; reads at most the options' frame count (lowered to the
    // file's) frames per segment.
    bool ReadAnimation(KStreamOptionsMotion& options);

    KHtrSegment* FindSegment(const char* name) const;
    KHtrSegment* FindSegmentByNode(const KQovNode* node) const;
    // Index of the single segment whose parent names no segment; -1 when there is none, more
    // than one, or when parents run in a cycle.
    int FindRootSegment() const;
    const std::vector<std::unique_ptr<KHtrSegment>>& GetSegments() const { return mSegments; }
    KHtrSegment* AddSegment(const char* name, const char* parentName);
    void ClearSegments() { mSegments.clear(); }

    int GetFrameCount() const { return mFrameCount; }
    int GetSegmentCount() const { return mSegmentCount; }
    int GetFrameRate() const { return mFrameRate; }
    // What ReadOptions said of a rate it could not keep (a line), else empty.
    const std::string& GetRateNote() const { return mRateNote; }
    // A warning line naming the segment scale factors other than 1 that were read and not
    // kept; empty when every one is 1.
    std::string GetScaleNote() const;
    int GetBoneAxis() const { return mBoneAxis; }
    const KMatrix& GetBoneAxisMatrix() const { return mBoneAxisMatrix; }
    bool GetMinimizeRotationOffset() const { return mMinimizeRotationOffset; }
    void SetMinimizeRotationOffset(bool on) { mMinimizeRotationOffset = on; }

    // `boneAxis`: 0 X, 1 Y, 2 Z.
    void WriteHeader(int segmentCount, int frameCount, int frameRate, int boneAxis = 1);
    void WriteHierarchyBegin();
    void WriteHierarchyLine(const char* name, const char* parentName);
    void WriteBasePositionBegin();
    void WriteBasePositionLine(const char* name, const KVector4& t, const KVector4& r,
                               double length);
    void WriteFrameSectionBegin(const char* name);
    void WriteFrameLine(int frame, const KVector4& t, const KVector4& r);
    void WriteEndOfFile();
    // The whole table, in table order, with `frames` frames per segment: base positions and
    // frame values in millimetres and XYZ-order degrees, bone lengths along `boneAxis`.
    void WriteSegments(int frames, int frameRate, int boneAxis = 1);

    // The rotation that takes +X onto axis 0, 1 or 2 by the shortest way.
    static KMatrix BoneAxisMatrix(int axis);
    // True when a line beginning with `text` would begin a section.
    static bool IsSectionStart(const std::string& text);
    // How the reader takes a segment's name back (KQovWrittenNames).
    static KQovNameTerms NameTerms();

private:
    bool ReadHeaderLine(KStreamOptionsMotion* options);
    bool ReadHierarchyLine();
    bool ReadBasePositionLine();
    bool ReadFrame(KHtrSegment& segment, int index);
    // The index of the segment a "[name]" line names (the first of that name in `byName`);
    // -1 when none.
    int ReadFrameSectionName(const std::unordered_map<std::string, size_t>& byName);

    int mFileType = 0;
    int mDataType = 0;
    int mFileVersion = 1;
    int mSegmentCount = 0;
    int mFrameCount = 0;
    int mFrameRate = 60;
    bool mRateRead = false;
    std::string mRateNote;
    int mOrderIndex = 0;
    int mUnitIndex = 0;
    int mAngleIndex = 0;
    int mGravityAxis = 1;
    int mBoneAxis = 1;
    double mScaleFactor = 1.0;
    int mOrder = 0;
    double mLengthFactor = 0.1;
    double mAngleFactor = 1.0;
    KMatrix mBoneAxisMatrix;
    int mState = -1;
    int mCounter = 0;
    bool mMinimizeRotationOffset = true;
    std::vector<std::unique_ptr<KHtrSegment>> mSegments;
};
