#include "formats/motion/aoa/KMotionFileMarkers.h"

#include <cmath>

#include "foundation/KLocale.h"

KMotionFileMarkers::KMotionFileMarkers() : KMarkerTextFile("AOA", " \t\r\n") {}

bool KMotionFileMarkers::WordIs(const char* word) {
    KString text;
    return ReadTokenString(text) && KStrCaseCmp(text.Buffer(), word) == 0;
}

bool KMotionFileMarkers::GetInfo(KMarkerFileInfo& info) {
    if (!Rewind()) return false;
    // Lines before the header line are skipped.
    while (!WordIs("frames"))
        if (!ReadLine()) return false;
    int frames = 0, markers = 0;
    double rate = 0.0;
    if (!WordIs("=") || !ReadInt(frames) || frames < 0 || !WordIs("markers") || !WordIs("=") ||
        !ReadInt(markers) || markers < 0 || !WordIs("Hz") || !WordIs("=") ||
        !ReadDouble(rate, 1.0) || !(rate > 0.0) || !std::isfinite(rate))
        return false;
    if (frames == 0) markers = 0;
    // The last line may lack its line end.
    if (int64_t(markers) * kMinimumMarkerBytes > GetFileSize() + 1) return false;
    info.markerCount = markers;
    info.start = KTime();
    info.frameCount = frames;
    info.frameRate = rate;
    info.scale = 1.0;
    return true;
}

bool KMotionFileMarkers::GetMarkerNames(std::vector<std::string>& names, bool) {
    for (size_t k = 0; k < names.size(); ++k) names[k] = "Marker" + std::to_string(k + 1);
    return true;
}

bool KMotionFileMarkers::ReadFrame(KMarkerFrame& frame, int markerCount, KTime& time, int& counter,
                                   KTime period, bool zeroIsOccluded) {
    // Records are added as their lines arrive: the count is the header's claim.
    for (int k = 0; k < markerCount; ++k) {
        double v[3];
        if (!ReadLine() || !ReadDouble(v[0], 1.0) || !ReadDouble(v[1], 1.0) ||
            !ReadDouble(v[2], 1.0))
            return false;
        const bool unseen = zeroIsOccluded && v[0] == 0.0 && v[1] == 0.0 && v[2] == 0.0;
        frame.emplace_back(v[0], v[1], v[2], unseen ? 1.0 : 0.0);
    }
    ++counter;
    time += period;
    return true;
}

bool KMotionFileMarkers::WriteHeader(const KMarkerFileInfo& info) {
    return Put("frames = %d markers = %d Hz = %g\n", info.frameCount, info.markerCount,
               info.frameRate);
}

bool KMotionFileMarkers::WriteFrame(const KMarkerFrame& records, KTime, int) {
    for (const KVector4& r : records)
        if (!Put("%g %g %g\n", r[0], r[1], r[2])) return false;
    return true;
}
