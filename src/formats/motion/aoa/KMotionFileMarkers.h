#pragma once
// The plain marker text file of the AOA and MCD formats: a header line with the frame count,
// the marker count and the rate, then per frame one line of x, y, z per marker. No names,
// no units, no visibility: an exact zero position may stand for a marker not seen.

#include <string>
#include <vector>

#include "formats/motion/optical/KMarkerTextFile.h"

class KMotionFileMarkers : public KMarkerTextFile {
public:
    // Each marker takes a line of three numbers, a blank or line end after each, per frame.
    static constexpr int kMinimumMarkerBytes = 6;

    KMotionFileMarkers();

    // The header's marker count is a claim, and every marker becomes a node: a count one
    // frame of which the file cannot hold is refused, and a file without frames, which holds
    // no marker data, reads as no markers.
    bool GetInfo(KMarkerFileInfo& info) override;
    // "Marker1", "Marker2" ...
    bool GetMarkerNames(std::vector<std::string>& names, bool keepPrefixes) override;
    bool ReadFrame(KMarkerFrame& frame, int markerCount, KTime& time, int& counter, KTime period,
                   bool zeroIsOccluded) override;

    // Values go out as they come, in scene units.
    bool WriteHeader(const KMarkerFileInfo& info) override;
    bool WriteMarkerNames(const std::vector<std::string>&) override { return true; }
    bool WriteFrame(const KMarkerFrame& records, KTime time, int frameNumber) override;

private:
    bool WordIs(const char* word);
};
