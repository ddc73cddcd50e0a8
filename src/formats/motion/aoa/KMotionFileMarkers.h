#pragma once
// The plain marker text file of the AOA and MCD formats: a header line with the frame count,
// the marker count and the rate, then per frame one line of x, y, z per marker. No names,
// no units, no visibility: an exact zero position may stand for a marker not seen.

#include <string>
#include <vector>

#include "formats/motion/optical/KMarkerTextFile.h"

class KMotionFileMarkers : public KMarkerTextFile {
public:
    // A header claiming more markers is refused: with no frames the file backs the claim
    // with nothing, yet every marker would become a node.
    static constexpr int kMaximumMarkers = 65535;

    KMotionFileMarkers();

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
