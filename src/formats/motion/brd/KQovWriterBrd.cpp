#include "formats/motion/brd/KQovWriterBrd.h"

#include <climits>
#include <cmath>

#include "animation/KFCurve.h"
#include "animation/KQovTakeNode.h"
#include "io/KStreamOptionsMotion.h"
#include "scene/KQovNode.h"

KQovWriterBrd::KQovWriterBrd(KQovObjectManager* manager) : KQovMotionTextWriter(manager) {}

KStreamOptions* KQovWriterBrd::GetWriteOptions() {
    KStreamOptionsMotion* options = KStreamOptionsMotion::Create();
    options->SetSetting(11, 1);
    options->SetSetting(13, 0);
    return options;
}

bool KQovWriterBrd::DoWrite(KQovScene* scene, KStreamOptions* base) {
    KStreamOptionsMotion* options = CheckWrite(scene, base);
    if (!options) return false;
    const int frames = options->GetFrameCount();
    const KTime period = options->GetFramePeriod();
    const bool skipOccluded = options->GetSetting(11) == 0;
    mMarkers.Collect(scene, FindSingleChildRoot(scene), *options);
    if (mMarkers.GetCount() == 0) return FailNothingToWrite("a BRD", "markers");
    if (!CheckRate(*options, true)) return false;
    bool ok = true;
    KTime time = options->GetStartTime();
    // Frames are numbered from 0 at time 0, as the reader counts them: a later start keeps
    // its frame number. A start before 0 (or past any frame number) starts at frame 0.
    const double start = std::rint(time.GetSecondDouble() * options->GetFrameRate());
    const int first = start > 0.0 && start + frames < double(INT_MAX) ? int(start) : 0;
    for (int f = 0; ok && f < frames; ++f, time += period) {
        if (f % 64 == 0)
            options->Progress(0, "Writing BRD animation frames", float(f * 100.0 / frames));
        mMarkers.Evaluate(time);
        for (size_t k = 0; ok && k < mMarkers.GetCount(); ++k) {
            KQovTakeNode* take = mMarkers.GetNode(k)->GetCurrentTakeNode();
            KFCurve* occlusion = skipOccluded && take ? take->GetOcclusion() : nullptr;
            if (occlusion && occlusion->Evaluate(time) >= 0.5) continue;
            const KAffineMatrix m = mMarkers.GetMatrix(k);
            ok = mFile->WriteSample(first + f, int(k), m.GetT(), m.GetQ(), time);
        }
    }
    return Finish(ok);
}
