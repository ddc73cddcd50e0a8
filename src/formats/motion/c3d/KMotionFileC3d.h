#pragma once
// The C3D marker file: header values, POINT LABELS as names and points per frame in scene
// units (centimetres) and axes; written as a DEC-type file with a POINT group.

#include <memory>

#include "formats/motion/c3d/KC3dFile.h"
#include "formats/motion/optical/KMarkerFileInterface.h"
#include "foundation/KFileStream.h"

// The C3D frame number of a start time: frame 1 plays at time 0, as in a TRC file. Below 0
// for a start before frame 0, which has no frame number.
double KC3dFrameNumberAt(double seconds, double rate);

class KMotionFileC3d : public KC3dFile, public KMarkerFileInterface {
public:
    KMotionFileC3d() = default;
    ~KMotionFileC3d() override;

    int Open(const char* path, const char* mode) override;
    int Close() override;
    void Discard() override;
    bool GetInfo(KMarkerFileInfo& info) override;
    bool GetMarkerNames(std::vector<std::string>& names, bool keepPrefixes) override;
    bool ReadFrame(KMarkerFrame& frame, int markerCount, KTime& time, int& counter, KTime period,
                   bool zeroIsOccluded) override;
    bool WriteHeader(const KMarkerFileInfo& info) override;
    bool WriteMarkerNames(const std::vector<std::string>& names) override;
    bool WriteFrame(const KMarkerFrame& records, KTime time, int frameNumber) override;
    bool EndWrite() override;
    // Integer points take the scale that holds the largest seen coordinate.
    bool ScalesToData() const override { return true; }
    const char* GetWriteRefusal() const override;
    std::string GetLocation() const override;
    int GetReadError() const override { return mStream ? mStream->GetReadError() : 0; }
    bool IsNumberRefused() const override { return GetError().GetErrorCode() == eNumberInvalid; }

    // Hours, minutes, seconds and frames of a TIMECODES parameter; false when there is none.
    bool FindTimeCode(int values[4]);

private:
    // The axis map of the lab axes a file shows to the right and up (signed 1 to 3 for X, Y, Z).
    void SetScreenAxes(int right, int up);

    std::unique_ptr<KFileStream> mStream;
    bool mLoaded = false;
    bool mSeekable = true;  // the file written can go back to patch its header
    double mUnitScale = 0.1;
    float mPointScale = -1.0f;  // POINT:SCALE when the file has a usable one, else the header's
    int mPointGroup = 1;
    bool mKeepPrefixes = false;
    // Per file axis x, y, z: the scene axis (1 to 3) it becomes, negative where it turns over.
    int mAxis[3] = {-1, 3, 2};
};
