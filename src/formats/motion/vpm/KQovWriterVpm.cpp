#include "formats/motion/vpm/KQovWriterVpm.h"

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "io/KQovWrittenNames.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovNode.h"

namespace {

// Two gigabytes of samples; more is refused rather than asked for.
constexpr uint64_t kMaxSamples = uint64_t(1) << 25;

struct Sample {
    KVector4 translation;
    KVector4 rotation;
};

}  // namespace

KQovWriterVpm::KQovWriterVpm(KQovObjectManager* manager) : KQovMotionTextWriter(manager) {}

KStreamOptions* KQovWriterVpm::GetWriteOptions() {
    KStreamOptionsMotion* options = KStreamOptionsMotion::Create();
    options->SetSetting(13, 0);
    return options;
}

bool KQovWriterVpm::DoWrite(KQovScene* scene, KStreamOptions* base) {
    KStreamOptionsMotion* options = CheckWrite(scene, base);
    if (!options) return false;
    const int frames = options->GetFrameCount();
    const KTime period = options->GetFramePeriod();
    mMarkers.Collect(scene, FindSingleChildRoot(scene), *options);
    const size_t markers = mMarkers.GetCount();
    if (markers == 0) return FailNothingToWrite("a VPM", "markers");
    if (!CheckRate(*options, false)) return false;

    // Frame-major, one sample per marker per frame; its size is checked before it is asked for.
    std::vector<Sample> samples;
    bool allocated = markers == 0 || uint64_t(frames) <= kMaxSamples / markers;
    try {
        if (allocated) samples.resize(size_t(frames) * markers);
    } catch (const std::bad_alloc&) {
        allocated = false;
    }
    if (!allocated) {
        options->Message("Error", "Not enough memory to allocate animation buffer.", "OK");
        return Fail(eUnidentifiedError);
    }

    KTime time = options->GetStartTime();
    for (int f = 0; f < frames; ++f, time += period) {
        options->Progress(0, "Computing VPM animation frames", float(f * 50.0 / frames));
        mMarkers.Evaluate(time);
        for (size_t k = 0; k < markers; ++k) {
            const KAffineMatrix m = mMarkers.GetMatrix(k);
            samples[size_t(f) * markers + k] = Sample{m.GetT(), m.GetR()};
        }
    }
    bool ok = true;
    const KVector4 unit(1.0, 1.0, 1.0, 1.0);
    // The reader refuses a file whose names repeat.
    KQovWrittenNames names(KMotionFileVpm::NameTerms());
    const auto bare = [this](size_t k) {
        const std::string full = mMarkers.GetNode(k)->GetName();
        const size_t colon = full.rfind(':');
        return colon == std::string::npos ? full : full.substr(colon + 1);
    };
    for (size_t k = 0; k < markers; ++k) names.SetAside(bare(k));
    for (size_t k = 0; ok && k < markers; ++k) {
        options->Progress(0, "Writing VPM nodes", float(k * 50.0 / markers + 50.0));
        // The name is one token of its line: a blank in it ("LASI 1", a renamed repeat) would
        // read back as another segment's name.
        const std::string name = names.Add(bare(k));
        ok = mFile->WriteHeader(name.c_str(), frames, period.GetSecondDouble()) &&
             mFile->WriteColumnLines();
        for (int f = 0; ok && f < frames; ++f) {
            const Sample& s = samples[size_t(f) * markers + k];
            ok = mFile->WriteFrame(s.translation, s.rotation, unit);
        }
    }
    mStatus += names.GetWarnings().c_str();
    return Finish(ok);
}
